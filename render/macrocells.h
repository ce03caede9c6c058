// Macrocells: per-block maxima of the grid's visibility that let the ray march skip empty space.
// Level 0 has M × M × M blocks of N / M cells; level 1 groups 4 × 4 × 4 level-0 blocks. Start-up
// and every grid resize make the buffers for the grid's side.
#pragma once

#include "gpu/cl_api.h"

namespace cindel {

struct GpuRuntime;

struct Macrocells {
    int count = 0;           // M, level-0 blocks per side
    int countL1 = 0;         // M₁ = M / 4 when M is a multiple of 4 and at least 4, else 0
    cl_mem max = nullptr;    // M³ floats
    cl_mem maxL1 = nullptr;  // M₁³ floats, null without a level 1
};

struct MacrocellCounts {
    int count;
    int countL1;
};

// M: 32 for N ≥ 128, 16 for 64 ≤ N < 128, else 8, halved until it divides N (at least 1).
MacrocellCounts macrocellCountsFor(int N);

// Releases the old buffers and makes new ones for side N. A buffer that cannot be made is left
// null with its count 0, so the march simply does not skip at that level.
void rebuildMacrocells(cl_context context, Macrocells& cells, int N);
void releaseMacrocells(Macrocells& cells);

// Enqueues the build of both levels from the grid's current density and temperature: level 0 over
// M × M × M when its buffer exists, then level 1 over M₁ × M₁ × M₁ when its buffer exists. Nothing
// is waited for; the march that follows on the same in-order queue sees the finished maxima.
void buildMacrocells(GpuRuntime& rt);

}  // namespace cindel
