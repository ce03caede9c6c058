// What every benchmark prints first: the OpenCL device it measured, the build, and the machine's
// time, so that figures are only ever compared on the same device.
#pragma once

#include <cstdio>
#include <string>

#include "frame/frame_settings.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"

namespace bench {

inline std::string deviceText(cl_device_id device, cl_device_info what) {
    char text[256] = {0};
    if (device) clGetDeviceInfo(device, what, sizeof(text) - 1, text, nullptr);
    return text;
}

inline void printHeader(const char* name, const cindel::GpuRuntime& rt) {
    std::printf("%s\n", name);
    std::printf("device:  %s (%s)\n", deviceText(rt.device, CL_DEVICE_NAME).c_str(),
                deviceText(rt.device, CL_DEVICE_VENDOR).c_str());
    std::printf("driver:  %s, %s\n", deviceText(rt.device, CL_DRIVER_VERSION).c_str(),
                deviceText(rt.device, CL_DEVICE_VERSION).c_str());
#ifdef NDEBUG
    std::printf("build:   release, " __DATE__ "\n");
#else
    std::printf("build:   debug, " __DATE__ "\n");
#endif
}

// The frame settings of the benchmarks: every parameter at its registered default, converted as
// the frame driver converts it, with the source low in the middle of a compW × compH composition.
inline cindel::FrameSettings benchSettings(int compW, int compH) {
    cindel::FrameSettings s;
    cindel::resetFrameSettings(s);
    s.compWidth = s.outputWidth = compW;
    s.compHeight = s.outputHeight = compH;
    s.preset = 1;
    s.sourcePosition = {0.5f * compW, 0.65f * compH, 0.0f};
    s.emitterRadius = 12;
    s.sourceSizeX = s.sourceSizeY = 1;
    s.sourceSizeZ = 12;
    s.sourceTemperature = 3500;
    s.fuelAmount = 120;
    s.life = 3;
    s.trail = 100;
    s.opacity = 1;
    s.patternType = 3;
    s.maskScale = 1;
    s.maskContrast = 50;
    s.maskThreshold = 15;
    s.burnThreshold = 600;
    s.burnRate = 3;
    s.heatOutput = 150;
    s.smokeOutput = 0.3f;
    s.heatDecay = 1.5f;
    s.smokeDecay = 0.5f;
    s.buoyancy = 1;
    s.drag = 0.99f;
    s.speed = 1;
    s.vorticity = 10;
    s.turbulence = 25;
    s.turbulenceScale = 1;
    s.turbulenceSpeed = 1;
    s.flameAggression = 0.15f;
    s.fbmFlow = 0.3f;
    s.simMode = 5;
    s.instanceId = 1;
    s.voxelSize = 1;
    s.debugView = 1;
    // Renderer.
    s.edgeSampling = 2;
    s.densityContrast = 0.7f;
    s.colorPreset = 1;
    s.colorMode = 1;
    s.minColorTemp = 100;
    s.maxColorTemp = 2500;
    s.gamma = 1;
    s.intensity = 0.7f;
    s.source = {1.0f, 230 / 255.0f, 130 / 255.0f};
    s.mid = {1.0f, 90 / 255.0f, 20 / 255.0f};
    s.tailCool = {90 / 255.0f, 30 / 255.0f, 10 / 255.0f};
    s.burnCutoffCenter = 0.15f;
    s.burnCutoffWidth = 0.25f;
    s.scatterColor = {25 / 255.0f, 25 / 255.0f, 25 / 255.0f};
    s.smokeDensity = 65;
    s.smokeBrightness = 0.25f;
    s.scatterAnisotropy = 0.5f;
    s.selfShadow = 0.2f;
    s.fireLight = 0.5f;
    s.volumetricDepth = 0.5f;
    s.ambientColor = {80 / 255.0f, 100 / 255.0f, 130 / 255.0f};
    s.detailOctaves = 6;
    s.colorTint = {1, 1, 1};
    s.saturation = 1;
    s.detailNoise = 50;
    s.detailScale = 10;
    s.bloom = 0.1f;
    s.shutterAngle = 180;
    s.volumeDensity = 1;
    s.blendMode = 1;
    s.blendStrength = 0.1f;
    s.heatScale = 0.5f;
    s.heatComplexity = 3;
    s.heatRise = 0.3f;
    return s;
}

}  // namespace bench
