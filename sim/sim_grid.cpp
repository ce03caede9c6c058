#include "sim/sim_grid.h"

#include "gpu/buffers.h"
#include "gpu/gpu_runtime.h"
#include "render/macrocells.h"

namespace cindel {

namespace {

size_t cells(int n) { return static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n); }

void releaseFields(SimGrid& g) {
    for (cl_mem* m : {&g.density, &g.temperature, &g.fuel, &g.densityNext, &g.temperatureNext, &g.fuelNext, &g.ember,
                      &g.velocity, &g.velocityNext, &g.pressure, &g.pressureNext, &g.divergence, &g.curl}) {
        releaseBuffer(*m);
    }
}

}  // namespace

GridLayout gridLayoutFor(int N) {
    GridLayout layout{0, {}, 0};
    if (N >= kMinMultigridSide) {
        int size = N;
        layout.sizes[0] = size;
        layout.levels = 1;
        while (layout.levels < kMaxMultigridLevels && size / 2 >= kMinMultigridSide) {
            size /= 2;
            layout.sizes[static_cast<size_t>(layout.levels++)] = size;
        }
    }
    layout.slotCount = N <= 192 ? 8 : (N <= 256 ? 6 : 4);
    return layout;
}

bool createGridFields(GpuRuntime& rt, int N) {
    SimGrid& g = rt.grid;
    const size_t scalarBytes = cells(N) * sizeof(float);
    const size_t vectorBytes = cells(N) * 4 * sizeof(float);
    bool ok = true;
    auto make = [&](cl_mem& m, size_t bytes) {
        m = createDeviceBuffer(rt.context, bytes);
        ok = ok && m != nullptr;
    };
    make(g.density, scalarBytes);
    make(g.temperature, scalarBytes);
    make(g.fuel, scalarBytes);
    make(g.densityNext, scalarBytes);
    make(g.temperatureNext, scalarBytes);
    make(g.fuelNext, scalarBytes);
    make(g.ember, scalarBytes);
    make(g.velocity, vectorBytes);
    make(g.velocityNext, vectorBytes);
    make(g.pressure, scalarBytes);
    make(g.pressureNext, scalarBytes);
    make(g.divergence, scalarBytes);
    make(g.curl, vectorBytes);
    return ok;
}

void releaseSnapshotRing(SimGrid& g) {
    for (SimSnapshot& s : g.slots) {
        for (cl_mem* m : {&s.density, &s.temperature, &s.fuel, &s.ember, &s.velocity, &s.pressure}) releaseBuffer(*m);
        s.frame = -1;
    }
    g.slotCount = 0;
    g.nextSlot = 0;
}

void buildSnapshotRing(GpuRuntime& rt) {
    SimGrid& g = rt.grid;
    releaseSnapshotRing(g);
    const GridLayout layout = gridLayoutFor(g.N);
    const size_t scalarBytes = cells(g.N) * sizeof(float);
    const size_t vectorBytes = cells(g.N) * 4 * sizeof(float);
    for (int i = 0; i < layout.slotCount; ++i) {
        SimSnapshot& s = g.slots[static_cast<size_t>(i)];
        s.density = createDeviceBuffer(rt.context, scalarBytes);
        s.temperature = createDeviceBuffer(rt.context, scalarBytes);
        s.fuel = createDeviceBuffer(rt.context, scalarBytes);
        s.ember = createDeviceBuffer(rt.context, scalarBytes);
        s.velocity = createDeviceBuffer(rt.context, vectorBytes);
        s.pressure = createDeviceBuffer(rt.context, scalarBytes);
        s.frame = -1;
        if (!s.density || !s.temperature || !s.fuel || !s.ember || !s.velocity || !s.pressure) {
            // A partial ring would make the resume logic reason about slots that cannot hold a
            // frame; without any slots every frame is simulated from 0 or continued instead.
            releaseSnapshotRing(g);
            return;
        }
    }
    g.slotCount = layout.slotCount;
    g.nextSlot = 0;
}

void releaseMultigrid(SimGrid& g) {
    for (size_t k = 0; k < kMaxMultigridLevels; ++k) {
        releaseBuffer(g.mgPressure[k]);
        releaseBuffer(g.mgPressureNext[k]);
        releaseBuffer(g.mgRhs[k]);
        releaseBuffer(g.mgResidual[k]);
    }
    g.mgSize.fill(0);
    g.mgLevels = 0;
}

void buildMultigrid(GpuRuntime& rt) {
    SimGrid& g = rt.grid;
    releaseMultigrid(g);
    const GridLayout layout = gridLayoutFor(g.N);
    g.mgSize = layout.sizes;
    g.mgLevels = layout.levels;
    for (size_t k = 1; k < static_cast<size_t>(layout.levels); ++k) {
        const size_t bytes = cells(layout.sizes[k]) * sizeof(float);
        g.mgPressure[k] = createDeviceBuffer(rt.context, bytes);
        g.mgPressureNext[k] = createDeviceBuffer(rt.context, bytes);
        g.mgRhs[k] = createDeviceBuffer(rt.context, bytes);
        g.mgResidual[k] = createDeviceBuffer(rt.context, bytes);
    }
}

int usableMultigridLevels(const SimGrid& g) {
    if (g.mgLevels < 1) return 0;
    int usable = 1;
    for (size_t k = 1; k < static_cast<size_t>(g.mgLevels); ++k) {
        if (!g.mgPressure[k] || !g.mgPressureNext[k] || !g.mgRhs[k] || !g.mgResidual[k]) break;
        ++usable;
    }
    return usable;
}

bool resizeGrid(GpuRuntime& rt, int N) {
    if (!rt.ready || N < kMinGridSide || N > kMaxGridSide) return false;
    SimGrid& g = rt.grid;
    if (N == g.N) return true;

    releaseFields(g);
    releaseSnapshotRing(g);
    g.settingsHash = 0;
    releaseMultigrid(g);

    if (!createGridFields(rt, N)) {
        rt.ready = false;
        return false;
    }
    g.N = N;
    g.lastFrame = -1;
    g.heldFrame = -1;
    g.lastInstanceId = 0;
    g.liveEdited = false;
    buildSnapshotRing(rt);
    buildMultigrid(rt);
    rebuildMacrocells(rt.context, rt.macrocells, N);
    return true;
}

void releaseSimGrid(SimGrid& g) {
    releaseFields(g);
    releaseSnapshotRing(g);
    releaseMultigrid(g);
}

}  // namespace cindel
