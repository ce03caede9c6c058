// Host side of the ray march: fills the parameter block of cd_raymarch from the frame's settings
// and the view the render driver chose, uploads it and launches the kernel over the target image.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"
#include "kernels/raymarch_params.h"

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
    // Motion-blur velocity output: written when mbEnable is set and velocityOut is not null.
    int mbEnable;
    cl_mem velocityOut;
    float velCellToScreenX, velCellToScreenY;
};

// The grid facts the block needs besides the settings and the view.
struct RaymarchGridInfo {
    int N;
    int lastFrame;  // the grid's last simulated frame; drives the detail and flicker animation
    int macroN;     // level-0 macrocells per side, 0 when there are none
    int macroN_L1;  // level-1 macrocells per side, 0 when there are none
};

// The parameter block for a W × H target. Pure: the contract of every field's value, testable
// without a device.
CdRaymarchParams makeRaymarchParams(const FrameSettings& s, const RaymarchView& view, const RaymarchGridInfo& grid,
                                    int W, int H);

// Launches the march into `target` (W × H float4) over the runtime's grid and macrocells. Returns
// false, leaving the target as it was, when there is no queue or grid, the size is empty, or the
// parameter block could not be uploaded.
bool enqueueRaymarch(GpuRuntime& rt, const FrameSettings& s, const RaymarchView& view, cl_mem target, int W, int H);

}  // namespace cindel
