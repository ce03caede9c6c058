// The simulation step driver: brings the process-wide grid to the state of one composition frame.
// One step per composition frame, no sub-stepping. Frames can be asked for in any order: a ring of
// snapshots taken every 8 frames lets a request resume from the newest snapshot at or before it,
// and an edit that arrives on the next frame of the same instance is taken live without a reset.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

constexpr int kMaxStepsPerCall = 600;
constexpr int kSnapshotSpacing = 8;

// Wall time per stage, summed over the steps of one call. Only the benchmark asks for it: the
// driver then waits for the queue after every stage, which the effect never does.
struct SimStageTimes {
    double sourcesMs = 0;      // emission, combustion, embers
    double forcesMs = 0;       // buoyancy, forces, confinement, turbulence, shredding
    double projectionMs = 0;   // main (multigrid) projection
    double advectionMs = 0;    // scalars, embers and velocity
    double projection2Ms = 0;  // second (Jacobi) projection
    double decayMs = 0;
    double snapshotMs = 0;
};

// The grid side a Voxel Size asks for: Large 128, Medium 192, Small 256, Tiny 384, else 128.
int gridSideForVoxelSize(int voxelSize);

// Returns false when the runtime is not usable or the grid cannot be (re)allocated.
bool stepSimulationToFrame(GpuRuntime& rt, int targetFrame, float frameDuration, const FrameSettings& s);

// The same on a grid of an explicit side (32 … 512) instead of the Voxel Size's: the seam through
// which tests and benchmarks run the driver on small grids.
bool stepSimulationOnGrid(GpuRuntime& rt, int side, int targetFrame, float frameDuration, const FrameSettings& s,
                          SimStageTimes* times = nullptr);

// Per-step emission values, exposed for tests: the fade gate and the fuel ramp at simulated time t.
float emissionGate(const FrameSettings& s, float t);
float fuelRamp(const FrameSettings& s, float t);

}  // namespace cindel
