// Host side of the passes that run on the finished full-resolution frame in imageBuffer: the
// half-resolution upsample, motion blur, heat distortion, bloom and light cast, and the debug
// slice view. Each pass checks its own condition and buffers and is skipped otherwise; every pass
// ends with the frame back in imageBuffer.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// Bilinear upsample of halfImage (⌈W/2⌉ × ⌈H/2⌉) into imageBuffer (W × H).
void upsampleHalfImage(GpuRuntime& rt, int W, int H);
// Motion blur from the march's screen velocity; the caller has checked quality and settings.
void applyMotionBlur(GpuRuntime& rt, const FrameSettings& s, int W, int H);
void applyHeatDistortion(GpuRuntime& rt, const FrameSettings& s, int W, int H);
void applyBloom(GpuRuntime& rt, const FrameSettings& s, int W, int H);
void applyLightCast(GpuRuntime& rt, const FrameSettings& s, int W, int H);
// The debug slice view of the grid into imageBuffer, W × H; `mode` is the Debug View value (2, 3).
void renderSlice(GpuRuntime& rt, int mode, int W, int H);

// The bloom pyramid's level sizes for an output of W × H, computed without allocating: level 0 is
// ⌈W/2⌉ × ⌈H/2⌉, each next level halves again (rounding up), while both sides stay ≥ 8, at most 5.
struct BloomPyramid {
    int count;
    int width[5];
    int height[5];
};
BloomPyramid bloomPyramidFor(int W, int H);

}  // namespace cindel
