// The render driver. See render_volume.h; the post passes and the march bind their own kernels,
// this file decides which of them run, at what size, and into which buffers.
#include "render/render_volume.h"

#include <memory>
#include <new>

#include "frame/output_write.h"
#include "gpu/buffers.h"
#include "host/log.h"
#include "render/macrocells.h"
#include "render/post.h"

namespace cindel {

namespace {

constexpr size_t kFloat4Bytes = 16;
constexpr size_t kFloat2Bytes = 8;
// The default camera stands 1.39 composition widths in front of the z = 0 plane with a zoom of the
// same length, so that plane projects one composition pixel onto one output pixel.
constexpr float kDefaultZoomPerCompWidth = 1.39f;
constexpr float kMinCameraZoom = 0.001f;
constexpr float kMinMotionBlurScale = 0.001f;

size_t pixels(int w, int h) {
    return static_cast<size_t>(w) * static_cast<size_t>(h);
}
int halfSide(int side) {
    return (side + 1) / 2;
}

// postA and postB are made together: both are kept while both exist and are large enough,
// otherwise both are made again, so a pair of which one could not be made is retried on the next
// frame. Each records the size it was made with on its own: the passes test the buffer they use,
// and a missing postB must cost light cast only, not the passes that run through postA.
void ensurePostPair(cl_context context, RenderBuffers& b, size_t bytes) {
    if (b.postA.handle && b.postB.handle && b.postA.capacity >= bytes) return;
    releaseBuffer(b.postA);
    releaseBuffer(b.postB);
    b.postA.handle = createDeviceBuffer(context, bytes);
    b.postB.handle = createDeviceBuffer(context, bytes);
    b.postA.capacity = b.postA.handle ? bytes : 0;
    b.postB.capacity = b.postB.handle ? bytes : 0;
}

// The pyramid counts only the levels that exist: one that cannot be made ends it there, so the
// bloom passes never see a gap.
void ensureBloomPyramid(cl_context context, RenderBuffers& b, int W, int H) {
    b.bloomLevelCount = 0;
    const BloomPyramid pyramid = bloomPyramidFor(W, H);
    for (int k = 0; k < pyramid.count && k < kMaxBloomLevels; ++k) {
        if (!ensureBuffer(context, b.bloomLevels[k], pixels(pyramid.width[k], pyramid.height[k]) * kFloat4Bytes)) break;
        b.bloomWidth[k] = pyramid.width[k];
        b.bloomHeight[k] = pyramid.height[k];
        b.bloomLevelCount = k + 1;
    }
}

// Only the image buffer is required; every pass checks its own buffers and is skipped without them.
bool ensureRenderBuffers(GpuRuntime& rt, int W, int H) {
    RenderBuffers& b = rt.render;
    const size_t full = pixels(W, H);
    if (!ensureBuffer(rt.context, b.imageBuffer, full * kFloat4Bytes)) return false;
    ensurePostPair(rt.context, b, full * kFloat4Bytes);
    ensureBuffer(rt.context, b.screenVelocity, full * kFloat2Bytes);
    ensureBloomPyramid(rt.context, b, W, H);
    const int tilesX = (W + kVelocityTileSize - 1) / kVelocityTileSize;
    const int tilesY = (H + kVelocityTileSize - 1) / kVelocityTileSize;
    ensureBuffer(rt.context, b.velocityTiles, pixels(tilesX, tilesY) * kFloat2Bytes);
    ensureBuffer(rt.context, b.halfImage, pixels(halfSide(W), halfSide(H)) * kFloat4Bytes);
    return true;
}

// Reads the finished W × H frame into host memory; null when the memory or the read fails.
std::unique_ptr<float[]> readImage(GpuRuntime& rt, int W, int H) {
    const size_t floats = pixels(W, H) * 4;
    std::unique_ptr<float[]> host(new (std::nothrow) float[floats]);
    if (!host) return nullptr;
    const cl_int err = cl().clEnqueueReadBuffer(rt.queue, rt.render.imageBuffer.handle, CL_TRUE, 0,
                                                floats * sizeof(float), host.get(), 0, nullptr, nullptr);
    // A failed read leaves the host copy undefined; writing it would show garbage in the frame.
    if (err != CL_SUCCESS) return nullptr;
    return host;
}

// Stage clock of the benchmark path: a no-op unless times were asked for.
class StageClock {
public:
    StageClock(GpuRuntime& rt, RenderStageTimes* times) : rt_(rt), times_(times) {
        if (times_) last_ = nowMilliseconds();
    }
    void lap(double RenderStageTimes::*stage) {
        if (!times_) return;
        cl().clFinish(rt_.queue);
        const double now = nowMilliseconds();
        times_->*stage += now - last_;
        last_ = now;
    }

private:
    GpuRuntime& rt_;
    RenderStageTimes* times_;
    double last_ = 0;
};

bool renderSliceView(GpuRuntime& rt, void* outPixels, int W, int H, int rowBytes, int bitsPerChannel, int mode) {
    renderSlice(rt, mode, W, H);
    const std::unique_ptr<float[]> host = readImage(rt, W, H);
    if (!host) return false;
    return writeSliceOutput(host.get(), outPixels, W, H, rowBytes, bitsPerChannel);
}

bool isMotionBlurRequested(const FrameSettings& s) {
    return s.motionBlur != 0 && s.motionBlurScale > kMinMotionBlurScale;
}

}  // namespace

RenderQuality renderQualityFor(int quality) {
    switch (quality) {
        case 1:
            return {48, 1, 0, true, false};
        case 2:
            return {96, 1, 0, true, false};
        case 3:
            return {128, 2, 1, false, true};
        case 4:
            return {256, 3, 1, false, true};
        default:
            return {96, 1, 0, true, false};
    }
}

int edgeSharpFor(int edgeSampling) {
    return edgeSampling >= 1 && edgeSampling <= 3 ? edgeSampling - 1 : 0;
}

const char* qualityName(int quality) {
    static const char* const names[] = {"?", "Draft", "Normal", "High", "Ultra"};
    return names[quality >= 1 && quality <= 4 ? quality : 0];
}

const char* voxelSizeName(int voxelSize) {
    static const char* const names[] = {"?", "Large", "Medium", "Small", "Tiny"};
    return names[voxelSize >= 1 && voxelSize <= 4 ? voxelSize : 0];
}

RaymarchView raymarchViewFor(const FrameSettings& s, int W, int H, int N) {
    RaymarchView v{};
    v.compW = s.compWidth > 0 ? s.compWidth : W;
    v.compH = s.compHeight > 0 ? s.compHeight : H;
    const float compW = static_cast<float>(v.compW);
    const float compH = static_cast<float>(v.compH);
    if (s.cameraValid != 0) {
        const float* m = s.cameraMatrix;
        for (int i = 0; i < 3; ++i) {
            v.camRight[i] = m[i];
            v.camUp[i] = m[4 + i];
            v.camFwd[i] = m[8 + i];
            v.camPos[i] = m[12 + i];
        }
        v.camZoom = s.cameraDistance > kMinCameraZoom ? s.cameraDistance : kDefaultZoomPerCompWidth * compW;
    } else {
        const float right[3] = {1, 0, 0}, up[3] = {0, 1, 0}, fwd[3] = {0, 0, 1};
        const float pos[3] = {0.5f * compW, 0.5f * compH, -kDefaultZoomPerCompWidth * compW};
        for (int i = 0; i < 3; ++i) {
            v.camRight[i] = right[i];
            v.camUp[i] = up[i];
            v.camFwd[i] = fwd[i];
            v.camPos[i] = pos[i];
        }
        v.camZoom = kDefaultZoomPerCompWidth * compW;
    }
    // The grid spans the composition in x and y; z uses the x factor so that cells stay cubes.
    v.gridFactorX = static_cast<float>(N) / compW;
    v.gridFactorY = static_cast<float>(N) / compH;
    v.gridFactorZ = static_cast<float>(N) / compW;
    v.gridOffsetXY = 0.0f;

    const RenderQuality q = renderQualityFor(s.quality);
    v.sampleCount = q.sampleCount;
    v.ssaaCount = q.ssaaCount;
    v.useBicubic = q.useBicubic;
    v.edgeSharp = edgeSharpFor(s.edgeSampling);

    v.mbEnable = isMotionBlurRequested(s) ? 1 : 0;
    v.velocityOut = nullptr;
    // Output pixels per cell at full resolution, also when the march itself runs at half size: the
    // blur reads the velocity on the full-resolution frame.
    v.velCellToScreenX = N > 0 ? static_cast<float>(W) / static_cast<float>(N) : 0.0f;
    v.velCellToScreenY = N > 0 ? static_cast<float>(H) / static_cast<float>(N) : 0.0f;
    return v;
}

bool renderVolume(GpuRuntime& rt, void* outPixels, int W, int H, int rowBytes, int bitsPerChannel,
                  const FrameSettings& s, RenderStageTimes* times) {
    if (!rt.ready) return false;
    // Checked before any GPU work: a frame that cannot be written is not worth rendering.
    if (!isWritableWorld(outPixels, W, H, rowBytes, bitsPerChannel)) return false;
    const double startMs = nowMilliseconds();
    StageClock clock(rt, times);

    if (!ensureRenderBuffers(rt, W, H)) return false;
    clock.lap(&RenderStageTimes::buffersMs);
    RenderBuffers& b = rt.render;

    if (s.debugView == 2 || s.debugView == 3) {
        const bool written = renderSliceView(rt, outPixels, W, H, rowBytes, bitsPerChannel, s.debugView);
        if (times) times->totalMs += nowMilliseconds() - startMs;
        return written;
    }

    buildMacrocells(rt);
    clock.lap(&RenderStageTimes::macrocellsMs);

    const RenderQuality quality = renderQualityFor(s.quality);
    const bool isHalf = quality.isHalfResolution && b.halfImage.handle;
    const int targetW = isHalf ? halfSide(W) : W;
    const int targetH = isHalf ? halfSide(H) : H;
    RaymarchView view = raymarchViewFor(s, W, H, rt.grid.N);
    view.velocityOut = b.screenVelocity.handle;
    enqueueRaymarch(rt, s, view, isHalf ? b.halfImage.handle : b.imageBuffer.handle, targetW, targetH);
    clock.lap(&RenderStageTimes::raymarchMs);

    if (isHalf) upsampleHalfImage(rt, W, H);
    clock.lap(&RenderStageTimes::upsampleMs);

    if (quality.isMotionBlurAllowed && isMotionBlurRequested(s) && b.postA.handle && b.screenVelocity.handle &&
        b.velocityTiles.handle && rt.kernel(KernelRole::MbReconstruct)) {
        applyMotionBlur(rt, s, W, H);
    }
    applyHeatDistortion(rt, s, W, H);
    applyBloom(rt, s, W, H);
    applyLightCast(rt, s, W, H);
    clock.lap(&RenderStageTimes::postMs);

    const std::unique_ptr<float[]> host = readImage(rt, W, H);
    if (!host) return false;
    clock.lap(&RenderStageTimes::readbackMs);
    const bool written = writeOutput(host.get(), outPixels, W, H, rowBytes, bitsPerChannel, s.opacity);
    clock.lap(&RenderStageTimes::writeMs);

    const double elapsedMs = nowMilliseconds() - startMs;
    if (times) times->totalMs += elapsedMs;
    logLine("[FRAME] Q=%-6s V=%-7s F=%-4d render=%.1fms\n", qualityName(s.quality), voxelSizeName(s.voxelSize),
            rt.grid.lastFrame, elapsedMs);
    return written;
}

}  // namespace cindel
