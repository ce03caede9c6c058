// Host side of the ray march: fills the parameter block from the frame's settings and the view the
// render driver chose, uploads it and launches cd_raymarch over the target image.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// What the render driver decides for one frame before the march.
struct RaymarchView {
    // Camera in world (composition pixel) space.
    float camPos[3];
    float camFwd[3];
    float camRight[3];
    float camUp[3];
    float camZoom;
    int compW, compH;
    float gridFactorX, gridFactorY, gridFactorZ;
    float gridOffsetXY;
    // Sampling from the quality table and Edge Sampling.
    int sampleCount;
    int ssaaCount;
    int useBicubic;
    int edgeSharp;
    // Motion-blur velocity output: written when mbEnable is set (velocity buffer may be null).
    int mbEnable;
    cl_mem velocityOut;
    float velCellToScreenX, velCellToScreenY;
};

// Launches the march into `target` (W × H float4). Returns false when the parameter block could not
// be uploaded (the target is then left as it was).
bool enqueueRaymarch(GpuRuntime& rt, const FrameSettings& s, const RaymarchView& view, cl_mem target, int W, int H);

}  // namespace cindel
