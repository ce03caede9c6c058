// Host side of the ray march. The parameter block is rebuilt and uploaded before every launch
// (a blocking write of a few hundred bytes, ordered on the in-order queue after any march still
// reading the previous block), then the buffers and the block are bound through the kernel table.
#include "render/raymarch.h"

#include <algorithm>
#include <cstddef>

#include "gpu/buffers.h"
#include "gpu/launch.h"

namespace cindel {

// The block's layout is the naive packing of 103 four-byte fields in the argument list's order;
// these pins catch a field inserted, dropped or widened on the host, and the layout test compares
// every offset with the device's.
static_assert(sizeof(cd_i32) == 4 && sizeof(cd_f32) == 4);
static_assert(sizeof(CdRaymarchParams) == 103 * 4);
static_assert(offsetof(CdRaymarchParams, W) == 0);
static_assert(offsetof(CdRaymarchParams, camZoom) == 15 * 4);
static_assert(offsetof(CdRaymarchParams, sampleCount) == 26 * 4);
static_assert(offsetof(CdRaymarchParams, tailR) == 44 * 4);
static_assert(offsetof(CdRaymarchParams, mbEnable) == 54 * 4);
static_assert(offsetof(CdRaymarchParams, volumeDensity) == 73 * 4);
static_assert(offsetof(CdRaymarchParams, keyActive) == 86 * 4);
static_assert(offsetof(CdRaymarchParams, macroN) == 100 * 4);
static_assert(offsetof(CdRaymarchParams, lifeSoftness) == 102 * 4);

CdRaymarchParams makeRaymarchParams(const FrameSettings& s, const RaymarchView& view, const RaymarchGridInfo& grid,
                                    int W, int H) {
    CdRaymarchParams p{};
    p.W = W;
    p.H = H;
    p.N = grid.N;
    p.camPosX = view.camPos[0];
    p.camPosY = view.camPos[1];
    p.camPosZ = view.camPos[2];
    p.camFwdX = view.camFwd[0];
    p.camFwdY = view.camFwd[1];
    p.camFwdZ = view.camFwd[2];
    p.camRightX = view.camRight[0];
    p.camRightY = view.camRight[1];
    p.camRightZ = view.camRight[2];
    p.camUpX = view.camUp[0];
    p.camUpY = view.camUp[1];
    p.camUpZ = view.camUp[2];
    p.camZoom = view.camZoom;
    p.compW = view.compW;
    p.compH = view.compH;
    p.gridFactorX = view.gridFactorX;
    p.gridFactorY = view.gridFactorY;
    p.gridFactorZ = view.gridFactorZ;
    p.gridOffsetXY = view.gridOffsetXY;
    p.densityMul = 1.0f;
    p.emissionMul = 5.0f;
    // Not read by the kernel; they carry the ramp's range for anyone inspecting the block.
    p.tempMin = s.minColorTemp;
    p.tempMax = s.maxColorTemp;
    p.sampleCount = view.sampleCount;
    p.detailStrength = s.detailNoise;
    p.detailScale = s.detailScale;
    p.detailTime = 0.211f * static_cast<float>(s.randomSeed) + 0.05f * static_cast<float>(grid.lastFrame);
    p.emberGlow = s.emberGlow;
    p.ssaaCount = view.ssaaCount;
    p.useBicubic = view.useBicubic;
    p.colorMode = s.colorMode;
    p.minK = s.minColorTemp;
    p.maxK = s.maxColorTemp;
    p.fireGamma = s.gamma;
    p.fireIntensity = s.intensity;
    p.srcR = s.source.r;
    p.srcG = s.source.g;
    p.srcB = s.source.b;
    p.midR = s.mid.r;
    p.midG = s.mid.g;
    p.midB = s.mid.b;
    p.tailR = s.tailCool.r;
    p.tailG = s.tailCool.g;
    p.tailB = s.tailCool.b;
    p.scaR = s.scatterColor.r;
    p.scaG = s.scatterColor.g;
    p.scaB = s.scatterColor.b;
    p.smokeDensityMul = s.smokeDensity;
    p.smkBright = s.smokeBrightness;
    p.burnCutoffCenter = s.burnCutoffCenter;
    // The fire mask is a smoothstep across this width; zero would make its edges coincide.
    p.burnCutoffWidth = std::max(s.burnCutoffWidth, 0.001f);
    p.mbEnable = view.mbEnable;
    p.velCellToScreenX = view.velCellToScreenX;
    p.velCellToScreenY = view.velCellToScreenY;
    p.tintR = s.colorTint.r;
    p.tintG = s.colorTint.g;
    p.tintB = s.colorTint.b;
    p.brightnessFlicker = s.brightnessFlicker;
    p.hueShift = s.hueShift;
    p.saturation = s.saturation;
    p.exposure = s.exposure;
    p.gradeTime = 0.0333f * static_cast<float>(grid.lastFrame);
    p.scatterAnisotropy = s.scatterAnisotropy;
    p.selfShadow = s.selfShadow;
    p.detailOctaves = s.detailOctaves;
    p.densityContrast = s.densityContrast;
    p.opacityThreshold = s.opacityThreshold;
    p.edgeSharp = view.edgeSharp;
    p.fbmFlow = s.fbmFlow;
    p.innerWisps = 0.0f;  // not read
    p.volumeDensity = s.volumeDensity;
    p.shutterTime = 0.0f;  // not read
    p.blendMode = s.blendMode;
    p.blendStrength = s.blendStrength;

    // Light positions arrive in composition pixels and are marched toward in grid space.
    const float halfN = 0.5f * static_cast<float>(grid.N);
    p.rimActive = s.rimActive != 0 ? 1 : 0;
    p.rimLightX = view.gridFactorX * s.rimLightX + view.gridOffsetXY;
    p.rimLightY = view.gridFactorY * s.rimLightY + view.gridOffsetXY;
    p.rimLightZ = view.gridFactorZ * s.rimLightZ + halfN;
    p.rimColorR = s.rimColorR;
    p.rimColorG = s.rimColorG;
    p.rimColorB = s.rimColorB;
    p.rimIntensity = s.rimIntensity;
    p.rimStrength = s.rimStrength;
    p.keyActive = s.keyActive != 0 ? 1 : 0;
    p.keyLightX = view.gridFactorX * s.keyLightX + view.gridOffsetXY;
    p.keyLightY = view.gridFactorY * s.keyLightY + view.gridOffsetXY;
    p.keyLightZ = view.gridFactorZ * s.keyLightZ + halfN;
    p.keyColorR = s.keyColorR;
    p.keyColorG = s.keyColorG;
    p.keyColorB = s.keyColorB;
    p.keyIntensity = s.keyIntensity;
    p.fireLightStrength = s.fireLight;
    p.volumetricDepth = s.volumetricDepth;
    p.ambColorR = s.ambientColor.r;
    p.ambColorG = s.ambientColor.g;
    p.ambColorB = s.ambientColor.b;
    p.ambientStrength = s.ambientStrength;
    p.macroN = std::max(grid.macroN, 0);
    p.macroN_L1 = std::max(grid.macroN_L1, 0);
    p.lifeSoftness = s.lifeSoftness;
    return p;
}

bool enqueueRaymarch(GpuRuntime& rt, const FrameSettings& s, const RaymarchView& view, cl_mem target, int W, int H) {
    const SimGrid& g = rt.grid;
    if (!rt.context || !rt.queue || !target || W <= 0 || H <= 0 || g.N <= 0 || !g.density) return false;

    // A level without its buffer or count is not skipped: the kernel gets a count of 0 and, since
    // it must be handed some buffer, the density.
    const Macrocells& cells = rt.macrocells;
    const bool hasL0 = cells.max && cells.count > 0;
    const bool hasL1 = cells.maxL1 && cells.countL1 > 0;
    const RaymarchGridInfo info{g.N, g.lastFrame, hasL0 ? cells.count : 0, hasL1 ? cells.countL1 : 0};
    CdRaymarchParams& params = rt.render.raymarchParamsHost;
    params = makeRaymarchParams(s, view, info, W, H);

    cl_mem block = ensureBuffer(rt.context, rt.render.raymarchParams, sizeof(CdRaymarchParams));
    if (!block) return false;
    if (cl().clEnqueueWriteBuffer(rt.queue, block, CL_FALSE, 0, sizeof(CdRaymarchParams), &params, 0, nullptr,
                                  nullptr) != CL_SUCCESS) {
        return false;
    }

    KernelLaunch(rt, KernelRole::Raymarch)
        .arg("outBuf", target)
        .arg("density", g.density)
        .arg("temperature", g.temperature)
        .arg("ember", g.ember)
        .arg("velocity", g.velocity)
        .arg("velOutBuf", view.velocityOut)
        .arg("macroMax", hasL0 ? cells.max : g.density)
        .arg("macroMaxL1", hasL1 ? cells.maxL1 : g.density)
        .arg("params", block)
        .run2d(static_cast<size_t>(W), static_cast<size_t>(H));
    return true;
}

}  // namespace cindel
