// Shared by the render driver's tests: the renderer's settings at the registered parameter
// defaults as the frame driver converts them, a hot ball in the grid, and a float frame rendered
// into a host world. Bloom, light cast, heat and motion blur are off so frames compare value for
// value.
#pragma once

#include <algorithm>
#include <vector>

#include "frame/frame_settings.h"
#include "render/render_volume.h"
#include "sim_fixture.h"

namespace rendertest {

inline cindel::FrameSettings renderSettings(int compW, int compH) {
    cindel::FrameSettings s = simtest::defaultSimSettings();
    s.compWidth = s.outputWidth = compW;
    s.compHeight = s.outputHeight = compH;
    s.opacity = s.gamma = s.saturation = s.volumeDensity = 1.0f;
    s.quality = s.voxelSize = s.debugView = s.colorPreset = s.colorMode = s.blendMode = 1;
    s.edgeSampling = 2;
    s.densityContrast = s.intensity = 0.7f;
    s.minColorTemp = 100.0f;
    s.maxColorTemp = 2500.0f;
    s.source = {1.0f, 230 / 255.0f, 130 / 255.0f};
    s.mid = {1.0f, 90 / 255.0f, 20 / 255.0f};
    s.tailCool = {90 / 255.0f, 30 / 255.0f, 10 / 255.0f};
    s.burnCutoffCenter = 0.15f;
    s.burnCutoffWidth = 0.25f;
    s.scatterColor = {25 / 255.0f, 25 / 255.0f, 25 / 255.0f};
    s.smokeDensity = 65.0f;
    s.smokeBrightness = 0.25f;
    s.scatterAnisotropy = s.fireLight = s.volumetricDepth = 0.5f;
    s.selfShadow = 0.2f;
    s.ambientColor = {80 / 255.0f, 100 / 255.0f, 130 / 255.0f};
    s.colorTint = {1.0f, 1.0f, 1.0f};
    s.detailOctaves = 6;
    s.detailNoise = 50.0f;
    s.detailScale = 10.0f;
    s.shutterAngle = 180.0f;
    s.blendStrength = 0.1f;
    s.heatScale = 0.5f;
    s.heatComplexity = 3;
    s.heatRise = 0.3f;
    return s;  // bloom (registered default 0.10), light cast, heat and motion blur stay 0
}

// A float host world: alpha, red, green, blue per pixel, rows packed.
struct FloatImage {
    int width = 0, height = 0;
    std::vector<float> argb;
    const float* at(int x, int y) const { return &argb[(static_cast<size_t>(y) * width + x) * 4]; }
    float alpha(int x, int y) const { return at(x, y)[0]; }
};

class RenderTest : public simtest::SimTest {
protected:
    // A dense, hot ball of `radius` cells at the grid's centre.
    void fillBall(float radius, float density, float kelvin) {
        const float c = 0.5f * static_cast<float>(N());
        auto inside = [&](int x, int y, int z) {
            return (x + 0.5f - c) * (x + 0.5f - c) + (y + 0.5f - c) * (y + 0.5f - c) + (z + 0.5f - c) * (z + 0.5f - c) <=
                   radius * radius;
        };
        write(grid().density, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? density : 0.0f; }));
        write(grid().temperature, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? kelvin : 0.0f; }));
    }

    // The world starts at -1 everywhere so that a pixel the driver did not write stands out.
    FloatImage renderFloat(const cindel::FrameSettings& s, int W, int H) {
        FloatImage img{W, H, std::vector<float>(static_cast<size_t>(W) * H * 4, -1.0f)};
        EXPECT_TRUE(cindel::renderVolume(rt(), img.argb.data(), W, H, W * 16, 32, s));
        return img;
    }
};

}  // namespace rendertest
