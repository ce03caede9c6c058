// Host side of the passes that run on the finished full-resolution frame in imageBuffer: the
// half-resolution upsample, motion blur, heat distortion, bloom and light cast, and the debug
// slice view. Each pass checks its own condition, kernels and buffers (a buffer must exist and
// hold the W × H image it is used for) and is skipped otherwise, leaving imageBuffer as it was;
// every pass that runs ends with the frame back in imageBuffer. Nothing here waits for the queue.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// The fixed constants of the passes.
constexpr float kBloomThreshold = 0.6f;
constexpr float kBloomStrength = 0.8f;  // final blend = 0.8 · bloom
constexpr float kLightCastThreshold = 0.32f;
constexpr float kLightCastStrength = 1.1f;  // final blend = 1.1 · lightCast
constexpr float kSliceTempMaxKelvin = 3500.0f;
constexpr int kMotionBlurTaps = 13;

// Bilinear upsample of halfImage (⌈W/2⌉ × ⌈H/2⌉) into imageBuffer (W × H).
void upsampleHalfImage(GpuRuntime& rt, int W, int H);

// Motion blur from the march's screen velocity, through postA. Runs only at quality High or Ultra
// (3, 4), with motionBlur not 0 and motionBlurScale > 0.001; a shutter angle of 0 runs the pass
// with strength 0, which copies every pixel. The jitter seed is the grid's lastFrame & 1023.
void applyMotionBlur(GpuRuntime& rt, const FrameSettings& s, int W, int H);

// Heat distortion through postA when heatAmount > 0.001; time is 0.0333 · the grid's lastFrame.
void applyHeatDistortion(GpuRuntime& rt, const FrameSettings& s, int W, int H);

// Bloom (postA, threshold 0.6, blend 0.8 · bloom) when bloom > 0.001, and light cast (postB,
// threshold 0.32, blend 1.1 · lightCast) when lightCast > 0.001. Both need the pyramid recorded in
// rt.render (bloomLevelCount ≥ 2, with each level's size in bloomWidth/bloomHeight), and light
// cast reuses the levels after bloom.
void applyBloom(GpuRuntime& rt, const FrameSettings& s, int W, int H);
void applyLightCast(GpuRuntime& rt, const FrameSettings& s, int W, int H);

// The debug slice view of the grid into imageBuffer, W × H; `mode` is the Debug View value (2 heat,
// 3 density). Skipped when the grid has no fields.
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
