// The effect's side of the volume export (host/volume_export.h): the sink a host installed, and
// the read-back of the held fields for it. Nothing here runs unless a sink is installed.
#pragma once

#include <cstdint>

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"
#include "host/volume_export.h"

namespace cindel {

void setVolumeSink(CindelVolumeSink sink, void* context, uint32_t flags);
bool hasVolumeSink();
// The installed sink asked for the fields only: the frame is simulated, not ray-marched.
bool isVolumeOnly();

// Where the grid of side N lies in the composition under the effect's mapping (the sizes of `s`,
// HD for a size that is not positive): composition pixels per cell and the centre of cell 0.
struct GridPlacement {
    int compWidth, compHeight;
    double compPerCell[3];
    double compFromCellOrigin[3];
};
GridPlacement gridPlacement(const FrameSettings& s, int N);

// Reads density, temperature, fuel and velocity back from the grid (blocking) and hands them to
// the sink with the frame and the placement. Returns false, without calling the sink, when there
// is no sink, no usable grid, no memory for the copy or a read fails.
bool exportHeldFields(GpuRuntime& rt, const FrameSettings& s, int requestedFrame);

}  // namespace cindel
