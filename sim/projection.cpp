#include "sim/projection.h"

#include <utility>

#include "gpu/launch.h"

namespace cindel {

namespace {

// The grid is usable for a projection once its level-0 buffers exist.
bool hasGrid(const GpuRuntime& rt) {
    const SimGrid& g = rt.grid;
    return rt.ready && g.N > 0 && g.velocity && g.pressure && g.pressureNext && g.divergence && g.densityNext;
}

void fillZero(const GpuRuntime& rt, cl_mem m, int n) {
    const cl_float zero = 0.0f;
    const size_t bytes = static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n) * sizeof(float);
    cl().clEnqueueFillBuffer(rt.queue, m, &zero, sizeof(zero), 0, bytes, 0, nullptr, nullptr);
}

// Every level's kernels run in whole-row groups. PoCL compiles each group shape anew and the
// relaxed math would let each compilation regroup the sums; the kernels hold a written order
// (kernels/projection.cl), so the bits do not depend on the shape.
void enqueueResidual(const GpuRuntime& rt, cl_mem p, cl_mem b, cl_mem r, int n) {
    KernelLaunch(rt, KernelRole::Residual)
        .arg("p", p)
        .arg("b", b)
        .arg("r", r)
        .arg("N", n)
        .run3dRowChunks(static_cast<size_t>(n));
}

void enqueueRestrict(const GpuRuntime& rt, cl_mem fine, cl_mem coarse, int nCoarse) {
    KernelLaunch(rt, KernelRole::Restrict)
        .arg("fine", fine)
        .arg("coarse", coarse)
        .arg("Nc", nCoarse)
        .run3dRowChunks(static_cast<size_t>(nCoarse));
}

void enqueueProlongAdd(const GpuRuntime& rt, cl_mem coarse, cl_mem fine, int nFine) {
    KernelLaunch(rt, KernelRole::ProlongAdd)
        .arg("coarse", coarse)
        .arg("fine", fine)
        .arg("Nf", nFine)
        .run3dRowChunks(static_cast<size_t>(nFine));
}

}  // namespace

int projectionLevels(const SimGrid& g) {
    const int usable = usableMultigridLevels(g);
    int levels = usable < 1 ? 0 : 1;
    while (levels < usable) {
        const int fine = g.mgSize[static_cast<size_t>(levels - 1)];
        if (fine != 2 * g.mgSize[static_cast<size_t>(levels)]) break;
        ++levels;
    }
    return levels;
}

void enqueueDivergence(const GpuRuntime& rt, const FrameSettings& s) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::Divergence)
        .arg("vel", g.velocity)
        .arg("divOut", g.divergence)
        .arg("N", g.N)
        .arg("temperature", g.temperature)
        .arg("aggression", s.flameAggression)
        .arg("ignitionTemp", s.burnThreshold)
        .run3dRowChunks(static_cast<size_t>(g.N));
}

void jacobiSweeps(const GpuRuntime& rt, cl_mem& p, cl_mem& pNext, cl_mem rhs, int n, int sweeps) {
    for (int i = 0; i < sweeps; ++i) {
        KernelLaunch(rt, KernelRole::PressureJacobi)
            .arg("pIn", p)
            .arg("div", rhs)
            .arg("pOut", pNext)
            .arg("N", n)
            .run3dRowChunks(static_cast<size_t>(n));
        std::swap(p, pNext);
    }
}

void vCycle(GpuRuntime& rt) {
    SimGrid& g = rt.grid;
    const int levels = projectionLevels(g);
    const int coarsest = levels - 1;

    // Pre-smoothing from the warm start kept in `pressure`.
    jacobiSweeps(rt, g.pressure, g.pressureNext, g.divergence, g.N, kSmoothingSweeps);

    if (levels > 1) {
        // densityNext is free between advections: it holds the fine residual.
        enqueueResidual(rt, g.pressure, g.divergence, g.densityNext, g.N);
        enqueueRestrict(rt, g.densityNext, g.mgRhs[1], g.mgSize[1]);

        // Each coarse level solves for the error of the level above, so it starts from zero.
        for (int k = 1; k < coarsest; ++k) {
            const size_t K = static_cast<size_t>(k);
            const int n = g.mgSize[K];
            fillZero(rt, g.mgPressure[K], n);
            fillZero(rt, g.mgPressureNext[K], n);
            jacobiSweeps(rt, g.mgPressure[K], g.mgPressureNext[K], g.mgRhs[K], n, kSmoothingSweeps);
            enqueueResidual(rt, g.mgPressure[K], g.mgRhs[K], g.mgResidual[K], n);
            enqueueRestrict(rt, g.mgResidual[K], g.mgRhs[K + 1], g.mgSize[K + 1]);
        }

        const size_t C = static_cast<size_t>(coarsest);
        fillZero(rt, g.mgPressure[C], g.mgSize[C]);
        fillZero(rt, g.mgPressureNext[C], g.mgSize[C]);
        jacobiSweeps(rt, g.mgPressure[C], g.mgPressureNext[C], g.mgRhs[C], g.mgSize[C], kCoarsestSweeps);

        for (int k = coarsest - 1; k >= 1; --k) {
            const size_t K = static_cast<size_t>(k);
            enqueueProlongAdd(rt, g.mgPressure[K + 1], g.mgPressure[K], g.mgSize[K]);
            jacobiSweeps(rt, g.mgPressure[K], g.mgPressureNext[K], g.mgRhs[K], g.mgSize[K], kSmoothingSweeps);
        }
        enqueueProlongAdd(rt, g.mgPressure[1], g.pressure, g.N);
    }

    jacobiSweeps(rt, g.pressure, g.pressureNext, g.divergence, g.N, kSmoothingSweeps);
}

void enqueueGradientSubtract(const GpuRuntime& rt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::GradientSubtract)
        .arg("vel", g.velocity)
        .arg("p", g.pressure)
        .arg("N", g.N)
        .run3dRowChunks(static_cast<size_t>(g.N));
}

void projectMultigrid(GpuRuntime& rt, const FrameSettings& s) {
    if (!hasGrid(rt)) return;
    enqueueDivergence(rt, s);
    for (int i = 0; i < kMainProjectionVCycles; ++i) vCycle(rt);
    enqueueGradientSubtract(rt);
}

void projectJacobi(GpuRuntime& rt, const FrameSettings& s, int sweeps) {
    if (!hasGrid(rt)) return;
    enqueueDivergence(rt, s);
    SimGrid& g = rt.grid;
    jacobiSweeps(rt, g.pressure, g.pressureNext, g.divergence, g.N, sweeps);
    enqueueGradientSubtract(rt);
}

}  // namespace cindel
