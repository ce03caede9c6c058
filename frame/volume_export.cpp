// The volume export's sink and read-back. The sink is process-wide like the log hook: the host
// sends one command at a time, and an installed sink serves every instance (each frame's record
// names the instance it came from).
//
// The read-back only reads: blocking reads from the grid's current buffers on the effect's one
// queue, after the step's work and before the ray march's, so the frame rendered from the same
// fields is the same with and without a sink.
#include "frame/volume_export.h"

#include <memory>
#include <new>

#include "gpu/buffers.h"
#include "host/log.h"

namespace cindel {

namespace {

struct VolumeSinkState {
    CindelVolumeSink sink = nullptr;
    void* context = nullptr;
    uint32_t flags = 0;
    // The host-side copy of the four fields (7 floats a cell), kept while the sink is installed and
    // the grid keeps its side: a fresh allocation every frame costs more than the read itself at
    // 256^3, where most of the time went to first touches of new pages.
    std::unique_ptr<float[]> readBack;
    size_t readBackCells = 0;
};

VolumeSinkState& sinkState() {
    static VolumeSinkState state;
    return state;
}

// A fallback size as the simulation's own mapping uses it, so a damaged record still places the
// grid where the emitters put the fire.
constexpr int kFallbackCompWidth = 1920;
constexpr int kFallbackCompHeight = 1080;

bool readField(GpuRuntime& rt, cl_mem buffer, void* into, size_t bytes) {
    if (!buffer) return false;
    return cl().clEnqueueReadBuffer(rt.queue, buffer, CL_TRUE, 0, bytes, into, 0, nullptr, nullptr) == CL_SUCCESS;
}

}  // namespace

void setVolumeSink(CindelVolumeSink sink, void* context, uint32_t flags) {
    VolumeSinkState& state = sinkState();
    state = VolumeSinkState{};
    if (sink) {
        state.sink = sink;
        state.context = context;
        state.flags = flags;
    }
}

bool hasVolumeSink() { return sinkState().sink != nullptr; }

bool isVolumeOnly() { return hasVolumeSink() && (sinkState().flags & kCindelVolumeSkipRender) != 0; }

GridPlacement gridPlacement(const FrameSettings& s, int N) {
    GridPlacement p{};
    p.compWidth = s.compWidth > 0 ? s.compWidth : kFallbackCompWidth;
    p.compHeight = s.compHeight > 0 ? s.compHeight : kFallbackCompHeight;
    // A composition point (x, y) and depth z lie at grid (x·N/W, y·N/H, z·N/W + N/2), and a cell's
    // value sits at its centre, grid position index + 0.5.
    const double n = N > 0 ? N : 1;
    p.compPerCell[0] = p.compWidth / n;
    p.compPerCell[1] = p.compHeight / n;
    p.compPerCell[2] = p.compWidth / n;
    p.compFromCellOrigin[0] = 0.5 * p.compPerCell[0];
    p.compFromCellOrigin[1] = 0.5 * p.compPerCell[1];
    p.compFromCellOrigin[2] = (0.5 - n / 2) * p.compPerCell[2];
    return p;
}

bool exportHeldFields(GpuRuntime& rt, const FrameSettings& s, int requestedFrame) {
    VolumeSinkState& state = sinkState();
    const SimGrid& g = rt.grid;
    if (!state.sink || !rt.ready || g.N <= 0 || g.heldFrame < 0) return false;

    const double start = nowMilliseconds();
    const size_t cells = size_t(g.N) * size_t(g.N) * size_t(g.N);
    if (state.readBackCells != cells) {
        state.readBack.reset();
        state.readBackCells = 0;
        state.readBack.reset(new (std::nothrow) float[cells * 7]);
        if (!state.readBack) {
            logLine("[VOLUME] no memory for the read-back of %zu cells\n", cells);
            return false;
        }
        state.readBackCells = cells;
    }
    float* density = state.readBack.get();
    float* temperature = density + cells;
    float* fuel = temperature + cells;
    float* velocity = fuel + cells;
    if (!readField(rt, g.density, density, cells * sizeof(float)) ||
        !readField(rt, g.temperature, temperature, cells * sizeof(float)) ||
        !readField(rt, g.fuel, fuel, cells * sizeof(float)) ||
        !readField(rt, g.velocity, velocity, cells * 4 * sizeof(float))) {
        logLine("[VOLUME] read-back failed at N=%d\n", g.N);
        return false;
    }

    logLine("[VOLUME] N=%d frame=%d read-back=%.1fms\n", g.N, g.heldFrame, nowMilliseconds() - start);

    const GridPlacement placement = gridPlacement(s, g.N);
    CindelVolumeFields fields{};
    fields.recordBytes = sizeof(CindelVolumeFields);
    fields.side = g.N;
    fields.requestedFrame = requestedFrame;
    fields.heldFrame = g.heldFrame;
    fields.compWidth = placement.compWidth;
    fields.compHeight = placement.compHeight;
    fields.instanceId = s.instanceId;
    for (int a = 0; a < 3; ++a) {
        fields.compPerCell[a] = placement.compPerCell[a];
        fields.compFromCellOrigin[a] = placement.compFromCellOrigin[a];
    }
    fields.density = density;
    fields.temperatureKelvin = temperature;
    fields.fuel = fuel;
    fields.velocityCellsPerSecond = velocity;
    state.sink(&fields, state.context);
    return true;
}

}  // namespace cindel
