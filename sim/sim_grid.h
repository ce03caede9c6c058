// The simulation grid: N × N × N cells of smoke density, temperature, fuel, ember amount,
// velocity and pressure in GPU buffers, with the snapshot ring that lets frames be reached in any
// order and the multigrid hierarchy of the pressure solve. One grid per process, owned by the
// GPU runtime and shared by every instance of the effect.
//
// Layout: cell (x, y, z) at z·N² + y·N + x; values are cell-centred; +y points down. Ping-pong
// pairs are swapped by exchanging handles, never by copying.
#pragma once

#include <array>
#include <cstdint>

#include "gpu/cl_api.h"

namespace cindel {

struct GpuRuntime;

constexpr int kMinGridSide = 32;
constexpr int kMaxGridSide = 512;
constexpr int kStartupGridSide = 128;
constexpr int kMaxSnapshotSlots = 8;
constexpr int kMaxMultigridLevels = 4;
constexpr int kMinMultigridSide = 16;

// One saved frame: copies of the fields a step reads, and the frame it holds (−1: empty).
struct SimSnapshot {
    cl_mem density = nullptr;
    cl_mem temperature = nullptr;
    cl_mem fuel = nullptr;
    cl_mem ember = nullptr;
    cl_mem velocity = nullptr;  // float4
    cl_mem pressure = nullptr;
    int frame = -1;
};

// What the last simulation call did, for the frame log.
struct SimCallRecord {
    int requestedFrame = -1;
    bool resumed = false;
    int stepsAsked = 0;
    int stepsRun = 0;
    double milliseconds = 0.0;
};

struct SimGrid {
    int N = 0;

    cl_mem density = nullptr;
    cl_mem temperature = nullptr;
    cl_mem fuel = nullptr;
    cl_mem densityNext = nullptr;  // also the fine-level residual scratch and the ember target
    cl_mem temperatureNext = nullptr;
    cl_mem fuelNext = nullptr;
    cl_mem ember = nullptr;
    cl_mem velocity = nullptr;      // float4, w = 0
    cl_mem velocityNext = nullptr;  // float4
    cl_mem pressure = nullptr;      // kept between steps as the next solve's starting guess
    cl_mem pressureNext = nullptr;
    cl_mem divergence = nullptr;
    cl_mem curl = nullptr;  // float4

    std::array<SimSnapshot, kMaxSnapshotSlots> slots{};
    int slotCount = 0;
    int nextSlot = 0;

    // Level 0 is the grid itself (pressure, pressureNext, divergence, densityNext); levels 1 …
    // mgLevels − 1 own their buffers.
    std::array<int, kMaxMultigridLevels> mgSize{};
    int mgLevels = 0;
    std::array<cl_mem, kMaxMultigridLevels> mgPressure{};
    std::array<cl_mem, kMaxMultigridLevels> mgPressureNext{};
    std::array<cl_mem, kMaxMultigridLevels> mgRhs{};
    std::array<cl_mem, kMaxMultigridLevels> mgResidual{};

    int lastFrame = -1;  // −1: the grid holds no simulated frame
    // The frame whose state the fields really hold. It differs from lastFrame only after a request
    // that the 600-step cap stopped short: lastFrame then names the request, the fields an
    // earlier frame, and nothing may continue or snapshot them as lastFrame's state.
    int heldFrame = -1;
    uint64_t settingsHash = 0;
    uint64_t lastInstanceId = 0;
    // True once an edit was taken live since the ring was last emptied: the ring may then hold
    // snapshots of the old settings, and the held state is no longer what a resume would give.
    bool liveEdited = false;
    SimCallRecord lastCall;
};

// The sizes a side implies, computed without allocating anything.
struct GridLayout {
    int levels;
    std::array<int, kMaxMultigridLevels> sizes;
    int slotCount;  // 8 up to 192, 6 up to 256, 4 beyond
};
GridLayout gridLayoutFor(int N);

// Creates the 13 field buffers at side N; false when any could not be made (those made stay).
bool createGridFields(GpuRuntime& rt, int N);
// Builds the snapshot ring for the grid's side, all slots empty; on any failure the ring is
// dropped (no slots) and the simulation runs without snapshots.
void buildSnapshotRing(GpuRuntime& rt);
// Builds the multigrid hierarchy for the grid's side.
void buildMultigrid(GpuRuntime& rt);
// The levels the pressure solve may use: level 0 and every following level whose four buffers
// all exist. A coarse level that could not be made ends the hierarchy there; the solve then runs
// with the levels it has (with only level 0 it is plain Jacobi).
int usableMultigridLevels(const SimGrid& grid);

// Resizes the grid to side N (32 … 512), losing all simulated state. A field buffer that cannot
// be made leaves the runtime not ready. True when the grid stands at side N.
bool resizeGrid(GpuRuntime& rt, int N);

void releaseSnapshotRing(SimGrid& grid);
void releaseMultigrid(SimGrid& grid);
void releaseSimGrid(SimGrid& grid);

}  // namespace cindel
