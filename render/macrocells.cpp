#include "render/macrocells.h"

#include "gpu/buffers.h"
#include "gpu/gpu_runtime.h"
#include "gpu/launch.h"

namespace cindel {

MacrocellCounts macrocellCountsFor(int N) {
    int m = N >= 128 ? 32 : (N >= 64 ? 16 : 8);
    while (m > 1 && N % m != 0) m /= 2;
    const int l1 = (m >= 4 && m % 4 == 0) ? m / 4 : 0;
    return {m, l1};
}

void releaseMacrocells(Macrocells& cells) {
    releaseBuffer(cells.max);
    releaseBuffer(cells.maxL1);
    cells.count = 0;
    cells.countL1 = 0;
}

void rebuildMacrocells(cl_context context, Macrocells& cells, int N) {
    releaseMacrocells(cells);
    const MacrocellCounts counts = macrocellCountsFor(N);
    const auto cube = [](int m) { return static_cast<size_t>(m) * static_cast<size_t>(m) * static_cast<size_t>(m); };
    cells.max = createDeviceBuffer(context, cube(counts.count) * sizeof(float));
    if (!cells.max) return;
    cells.count = counts.count;
    if (counts.countL1 > 0) {
        cells.maxL1 = createDeviceBuffer(context, cube(counts.countL1) * sizeof(float));
        if (cells.maxL1) cells.countL1 = counts.countL1;
    }
}

void buildMacrocells(GpuRuntime& rt) {
    const Macrocells& cells = rt.macrocells;
    const SimGrid& g = rt.grid;
    if (!cells.max || cells.count <= 0 || g.N <= 0) return;
    KernelLaunch(rt, KernelRole::BuildMacrocell)
        .arg("density", g.density)
        .arg("temperature", g.temperature)
        .arg("macroMax", cells.max)
        .arg("N", g.N)
        .arg("MN", cells.count)
        .arg("blockSize", g.N / cells.count)
        .run3d(static_cast<size_t>(cells.count));
    if (!cells.maxL1 || cells.countL1 <= 0) return;
    KernelLaunch(rt, KernelRole::BuildMacrocellL1)
        .arg("macroL0", cells.max)
        .arg("macroL1", cells.maxL1)
        .arg("MN0", cells.count)
        .run3d(static_cast<size_t>(cells.countL1));
}

}  // namespace cindel
