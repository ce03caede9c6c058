// Host side of semi-Lagrangian advection. Each function advects into the ping-pong partner and
// then swaps the handles in the grid, so the current fields are always the ones named without
// "Next" and the previous contents end in the partner. Whether a stage runs (simulation mode,
// ember amount) is the step driver's decision.
#pragma once

#include "gpu/gpu_runtime.h"

namespace cindel {

// Velocity keeps (1 − 0.005) of itself per step.
constexpr float kVelocityDissipation = 0.005f;

// Density, temperature and fuel by the current velocity, in one fused launch; each swaps with
// its Next partner.
void advectScalars(GpuRuntime& rt, float dt);
// Embers into densityNext (free after the scalar swap), without dissipation; ember and
// densityNext then swap.
void advectEmbers(GpuRuntime& rt, float dt);
// Velocity by itself, with 0.5 % dissipation per step; velocity and velocityNext then swap.
void advectVelocity(GpuRuntime& rt, float dt);

}  // namespace cindel
