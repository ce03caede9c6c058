// The render driver: renders the grid's current state into the host's output buffer for one frame
// (ray march at the Quality setting's resolution and sampling, upsample, post passes in their fixed
// order, blocking read-back, conversion into the host's pixel format), or the debug slice view.
//
// The output-sized GPU buffers live in the runtime and only grow; the macrocells are rebuilt every
// frame. The only wait on the queue is the blocking read-back, unless a caller asks for stage
// times (the benchmark), which waits after every stage.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"
#include "render/raymarch.h"

namespace cindel {

// What the Quality popup (1 Draft … 4 Ultra) decides about the march. Any other value renders like
// Normal.
struct RenderQuality {
    int sampleCount;
    int ssaaCount;  // rays per pixel side
    int useBicubic;
    bool isHalfResolution;     // march at ⌈W/2⌉ × ⌈H/2⌉, then upsample
    bool isMotionBlurAllowed;  // only the full-resolution qualities blur
};
RenderQuality renderQualityFor(int quality);

// Edge Sampling (1 Smooth, 2 Sharp, 3 Ultra Sharp) as the march's edgeSharp 0, 1, 2; else 0.
int edgeSharpFor(int edgeSampling);

// The names of the "[FRAME]" line; "?" outside 1 … 4.
const char* qualityName(int quality);
const char* voxelSizeName(int voxelSize);

// Camera, composition size, grid mapping and sampling for an output of W × H over a grid of side
// N. The velocity output is left null for the caller to fill; mbEnable follows the settings.
// The camera comes from the host's row-major matrix when cameraValid, else the default view along
// +z in which the grid's middle slab maps pixel for pixel onto the composition.
RaymarchView raymarchViewFor(const FrameSettings& s, int W, int H, int N);

// Wall time per stage, added to what the record holds, when the caller asks for it; the driver then
// waits for the queue after every stage, which the production path never does.
struct RenderStageTimes {
    double buffersMs = 0;     // output-sized buffers (allocation only on growth)
    double macrocellsMs = 0;  // both macrocell levels
    double raymarchMs = 0;    // the march (parameter upload included)
    double upsampleMs = 0;    // half to full resolution
    double postMs = 0;        // motion blur, heat distortion, bloom, light cast
    double readbackMs = 0;    // blocking read of the frame into host memory
    double writeMs = 0;       // conversion into the host's pixel format
    double totalMs = 0;
};

// True when pixels were written. False, with nothing written, when the runtime is not ready, the
// output is not writable (null pixels, W or H ≤ 0, rows shorter than their pixels, a depth other
// than 8, 16 or 32), the image buffer cannot be made or the read-back fails.
bool renderVolume(GpuRuntime& rt, void* outPixels, int W, int H, int rowBytes, int bitsPerChannel,
                  const FrameSettings& s, RenderStageTimes* times = nullptr);

}  // namespace cindel
