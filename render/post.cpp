// The post passes' conditions, buffers and launches. The kernels live in kernels/post.cl,
// kernels/motion_blur.cl and kernels/slice.cl; the order of the passes is the render driver's.
#include "render/post.h"

#include <algorithm>

#include "gpu/launch.h"

namespace cindel {

namespace {

size_t imageBytes(int W, int H) {
    return static_cast<size_t>(W) * static_cast<size_t>(H) * 16;
}

bool holds(const SizedBuffer& b, size_t bytes) {
    return b.handle != nullptr && b.capacity >= bytes;
}

bool hasKernel(const GpuRuntime& rt, KernelRole role) {
    return rt.kernel(role) != nullptr;
}

bool canRun(const GpuRuntime& rt, int W, int H) {
    return rt.ready && rt.queue && W > 0 && H > 0 && holds(rt.render.imageBuffer, imageBytes(W, H));
}

// A pass that wrote its result to scratch hands it back; the queue is in order, so the copy runs
// after the kernel that filled the scratch.
void copyBack(const GpuRuntime& rt, cl_mem scratch, int W, int H) {
    cl().clEnqueueCopyBuffer(rt.queue, scratch, rt.render.imageBuffer.handle, 0, 0, imageBytes(W, H), 0, nullptr,
                             nullptr);
}

// The bright pass into `scratch`, down the pyramid, back up accumulating every coarser level, and
// the composite of level 0 onto the frame. Shared by bloom and light cast.
void runGlowPyramid(GpuRuntime& rt, cl_mem scratch, float threshold, float finalBlend, int W, int H) {
    RenderBuffers& rb = rt.render;
    const int count = std::min(rb.bloomLevelCount, kMaxBloomLevels);
    if (count < 2) return;
    // The recorded levels must be this output's: a pyramid left from another size would composite
    // a shifted, wrongly scaled glow.
    const BloomPyramid expected = bloomPyramidFor(W, H);
    if (count > expected.count) return;
    for (int k = 0; k < count; ++k) {
        if (rb.bloomWidth[k] != expected.width[k] || rb.bloomHeight[k] != expected.height[k]) return;
        const size_t bytes = static_cast<size_t>(rb.bloomWidth[k]) * static_cast<size_t>(rb.bloomHeight[k]) * 16;
        if (!holds(rb.bloomLevels[k], bytes)) return;
    }
    if (!hasKernel(rt, KernelRole::ExtractBright) || !hasKernel(rt, KernelRole::BloomDownsample) ||
        !hasKernel(rt, KernelRole::BloomUpsampleAdd)) {
        return;
    }

    KernelLaunch(rt, KernelRole::ExtractBright)
        .arg("src", rb.imageBuffer.handle)
        .arg("dst", scratch)
        .arg("W", W)
        .arg("H", H)
        .arg("threshold", threshold)
        .run2d(W, H);

    cl_mem src = scratch;
    int srcW = W;
    int srcH = H;
    for (int k = 0; k < count; ++k) {
        KernelLaunch(rt, KernelRole::BloomDownsample)
            .arg("src", src)
            .arg("dst", rb.bloomLevels[k].handle)
            .arg("srcW", srcW)
            .arg("srcH", srcH)
            .arg("dstW", rb.bloomWidth[k])
            .arg("dstH", rb.bloomHeight[k])
            .run2d(rb.bloomWidth[k], rb.bloomHeight[k]);
        src = rb.bloomLevels[k].handle;
        srcW = rb.bloomWidth[k];
        srcH = rb.bloomHeight[k];
    }

    const auto upsampleAdd = [&](int from, cl_mem dst, int dstW, int dstH, float blend) {
        KernelLaunch(rt, KernelRole::BloomUpsampleAdd)
            .arg("src", rb.bloomLevels[from].handle)
            .arg("dst", dst)
            .arg("srcW", rb.bloomWidth[from])
            .arg("srcH", rb.bloomHeight[from])
            .arg("dstW", dstW)
            .arg("dstH", dstH)
            .arg("blendFactor", blend)
            .run2d(dstW, dstH);
    };
    for (int k = count - 1; k >= 1; --k) {
        upsampleAdd(k, rb.bloomLevels[k - 1].handle, rb.bloomWidth[k - 1], rb.bloomHeight[k - 1], 1.0f);
    }
    upsampleAdd(0, rb.imageBuffer.handle, W, H, finalBlend);
}

}  // namespace

BloomPyramid bloomPyramidFor(int W, int H) {
    BloomPyramid p{};
    int w = (std::max(W, 0) + 1) / 2;
    int h = (std::max(H, 0) + 1) / 2;
    while (p.count < kMaxBloomLevels && w >= 8 && h >= 8) {
        p.width[p.count] = w;
        p.height[p.count] = h;
        ++p.count;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return p;
}

void upsampleHalfImage(GpuRuntime& rt, int W, int H) {
    if (!canRun(rt, W, H) || !hasKernel(rt, KernelRole::UpsampleBilinear)) return;
    const int hW = (W + 1) / 2;
    const int hH = (H + 1) / 2;
    if (!holds(rt.render.halfImage, imageBytes(hW, hH))) return;
    KernelLaunch(rt, KernelRole::UpsampleBilinear)
        .arg("halfIn", rt.render.halfImage.handle)
        .arg("fullOut", rt.render.imageBuffer.handle)
        .arg("W", W)
        .arg("H", H)
        .arg("hW", hW)
        .arg("hH", hH)
        .run2d(W, H);
}

void applyMotionBlur(GpuRuntime& rt, const FrameSettings& s, int W, int H) {
    // Draft and Normal march at half resolution, where a velocity per output pixel does not exist.
    if (s.quality != 3 && s.quality != 4) return;
    if (s.motionBlur == 0 || !(s.motionBlurScale > 0.001f)) return;
    if (!canRun(rt, W, H) || !hasKernel(rt, KernelRole::MbReconstruct)) return;
    RenderBuffers& rb = rt.render;
    const size_t pixels = static_cast<size_t>(W) * static_cast<size_t>(H);
    const size_t tiles = static_cast<size_t>((W + kVelocityTileSize - 1) / kVelocityTileSize) *
                         static_cast<size_t>((H + kVelocityTileSize - 1) / kVelocityTileSize);
    if (!holds(rb.postA, imageBytes(W, H)) || !holds(rb.screenVelocity, pixels * 8) ||
        !holds(rb.velocityTiles, tiles * 8)) {
        return;
    }
    KernelLaunch(rt, KernelRole::MbReconstruct)
        .arg("inBuf", rb.imageBuffer.handle)
        .arg("vBuf", rb.screenVelocity.handle)
        .arg("tBuf", rb.velocityTiles.handle)
        .arg("outBuf", rb.postA.handle)
        .arg("W", W)
        .arg("H", H)
        .arg("tileN", kVelocityTileSize)
        .arg("shutterScale", s.motionBlurScale)
        .arg("shutterAngleNorm", s.shutterAngle / 360.0f)
        .arg("nSamples", kMotionBlurTaps)
        .arg("frameSeed", rt.grid.lastFrame & 1023)
        .run2d(W, H);
    copyBack(rt, rb.postA.handle, W, H);
}

void applyHeatDistortion(GpuRuntime& rt, const FrameSettings& s, int W, int H) {
    if (!(s.heatAmount > 0.001f)) return;
    if (!canRun(rt, W, H) || !hasKernel(rt, KernelRole::HeatDistort)) return;
    RenderBuffers& rb = rt.render;
    if (!holds(rb.postA, imageBytes(W, H))) return;
    KernelLaunch(rt, KernelRole::HeatDistort)
        .arg("inBuf", rb.imageBuffer.handle)
        .arg("outBuf", rb.postA.handle)
        .arg("W", W)
        .arg("H", H)
        .arg("t", 0.0333f * static_cast<float>(rt.grid.lastFrame))
        .arg("heatAmount", s.heatAmount)
        .arg("heatScale", s.heatScale)
        .arg("heatComplexity", s.heatComplexity)
        .arg("heatEvolution", s.heatEvolution)
        .arg("heatRise", s.heatRise)
        .run2d(W, H);
    copyBack(rt, rb.postA.handle, W, H);
}

void applyBloom(GpuRuntime& rt, const FrameSettings& s, int W, int H) {
    if (!(s.bloom > 0.001f)) return;
    if (!canRun(rt, W, H) || !holds(rt.render.postA, imageBytes(W, H))) return;
    runGlowPyramid(rt, rt.render.postA.handle, kBloomThreshold, kBloomStrength * s.bloom, W, H);
}

void applyLightCast(GpuRuntime& rt, const FrameSettings& s, int W, int H) {
    if (!(s.lightCast > 0.001f)) return;
    if (!canRun(rt, W, H) || !holds(rt.render.postB, imageBytes(W, H))) return;
    runGlowPyramid(rt, rt.render.postB.handle, kLightCastThreshold, kLightCastStrength * s.lightCast, W, H);
}

void renderSlice(GpuRuntime& rt, int mode, int W, int H) {
    if (!canRun(rt, W, H) || !hasKernel(rt, KernelRole::SliceRender)) return;
    const SimGrid& g = rt.grid;
    if (g.N <= 0 || !g.density || !g.temperature) return;
    KernelLaunch(rt, KernelRole::SliceRender)
        .arg("outBuf", rt.render.imageBuffer.handle)
        .arg("W", W)
        .arg("H", H)
        .arg("density", g.density)
        .arg("temperature", g.temperature)
        .arg("N", g.N)
        .arg("tempMax", kSliceTempMaxKelvin)
        .arg("mode", mode)
        .run2d(W, H);
}

}  // namespace cindel
