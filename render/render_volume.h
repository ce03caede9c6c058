// The render driver: renders the grid's current state into the host's output buffer for one frame
// (ray march at the Quality setting's resolution and sampling, upsample, post passes in their fixed
// order, blocking read-back, conversion into the host's pixel format), or the debug slice view.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// True when pixels were written.
bool renderVolume(GpuRuntime& rt, void* outPixels, int W, int H, int rowBytes, int bitsPerChannel,
                  const FrameSettings& s);

}  // namespace cindel
