// Host side of the pressure projection: divergence (with combustion expansion), a Poisson solve
// for pressure and the gradient subtraction that leaves the velocity (nearly) divergence-free.
//
// Everything is enqueued on the runtime's in-order queue; nothing is read back and nothing is
// copied. Jacobi sweeps ping-pong by swapping handles and every count used here is even, so each
// level's solution ends in its first buffer (`pressure`, `mgPressure[k]`). `pressure` is kept
// between calls: it is the next solve's starting guess.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

constexpr int kMainProjectionVCycles = 3;
constexpr int kSmoothingSweeps = 4;
constexpr int kCoarsestSweeps = 20;
constexpr int kSecondProjectionSweeps = 8;

// Main projection: divergence, three multigrid V-cycles over the levels that exist, gradient
// subtraction. With one usable level it degrades to Jacobi sweeps on the grid itself.
void projectMultigrid(GpuRuntime& rt, const FrameSettings& s);
// Cheaper projection after velocity self-advection: divergence, `sweeps` (even) Jacobi sweeps
// from the current pressure, gradient subtraction.
void projectJacobi(GpuRuntime& rt, const FrameSettings& s, int sweeps = kSecondProjectionSweeps);

// Building blocks, exposed for the solver tests.

// The levels the V-cycle runs on: the usable levels of the hierarchy (sim_grid.h), cut above the
// first level whose side is odd, since restriction needs a fine side of exactly twice the coarse
// one. The sides the simulation asks for (128, 192, 256, 384) are never cut.
int projectionLevels(const SimGrid& grid);
// Divergence of `velocity` into `divergence`, raised on flame fronts by s.flameAggression above
// 0.15 with s.burnThreshold as the ignition temperature.
void enqueueDivergence(const GpuRuntime& rt, const FrameSettings& s);
// `sweeps` Jacobi sweeps at side n alternating p and pNext, swapping the two handles after each,
// so the latest result is always in `p`; an even count leaves both handles as they were.
void jacobiSweeps(const GpuRuntime& rt, cl_mem& p, cl_mem& pNext, cl_mem rhs, int n, int sweeps);
// One V-cycle on `pressure` against `divergence` over projectionLevels(grid) levels.
void vCycle(GpuRuntime& rt);
// velocity −= ∇pressure (central differences, clamped).
void enqueueGradientSubtract(const GpuRuntime& rt);

}  // namespace cindel
