#include "sim/step.h"

#include <algorithm>
#include <cmath>

#include "gpu/buffers.h"
#include "host/log.h"
#include "sim/advect.h"
#include "sim/forces.h"
#include "sim/layer_emission.h"
#include "sim/projection.h"
#include "sim/sources.h"

namespace cindel {

namespace {

size_t cellsOf(int n) { return static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n); }

void fillZero(const GpuRuntime& rt, cl_mem m, size_t bytes) {
    if (!m) return;
    const cl_float zero = 0.0f;
    cl().clEnqueueFillBuffer(rt.queue, m, &zero, sizeof(zero), 0, bytes, 0, nullptr, nullptr);
}

bool copyBuffer(const GpuRuntime& rt, cl_mem from, cl_mem to, size_t bytes) {
    if (!from || !to) return false;
    return cl().clEnqueueCopyBuffer(rt.queue, from, to, 0, 0, bytes, 0, nullptr, nullptr) == CL_SUCCESS;
}

// Copies the state a step reads between the grid and a snapshot slot; false, at the first copy
// that was refused.
bool transferState(const GpuRuntime& rt, const SimSnapshot& slot, bool toSlot) {
    const SimGrid& g = rt.grid;
    const size_t scalar = cellsOf(g.N) * sizeof(float);
    const size_t vector = scalar * 4;
    const std::pair<cl_mem, cl_mem> pairs[] = {{g.density, slot.density}, {g.temperature, slot.temperature},
                                               {g.fuel, slot.fuel},       {g.ember, slot.ember},
                                               {g.velocity, slot.velocity}, {g.pressure, slot.pressure}};
    for (size_t i = 0; i < 6; ++i) {
        const size_t bytes = (i == 4) ? vector : scalar;
        const bool copied = toSlot ? copyBuffer(rt, pairs[i].first, pairs[i].second, bytes)
                                   : copyBuffer(rt, pairs[i].second, pairs[i].first, bytes);
        if (!copied) return false;
    }
    return true;
}

bool slotHolds(const SimGrid& g, int frame) {
    for (int i = 0; i < g.slotCount; ++i) {
        if (g.slots[static_cast<size_t>(i)].frame == frame) return true;
    }
    return false;
}

void takeSnapshot(GpuRuntime& rt, int frame) {
    SimGrid& g = rt.grid;
    if (g.slotCount <= 0) return;
    SimSnapshot& slot = g.slots[static_cast<size_t>(g.nextSlot)];
    // A slot whose copy was refused holds parts of two states and so no frame; every later scrub
    // would otherwise resume from it.
    slot.frame = transferState(rt, slot, true) ? frame : -1;
    g.nextSlot = (g.nextSlot + 1) % g.slotCount;
}

// The newest snapshot at or before the target; the first slot wins a tie.
const SimSnapshot* newestSnapshotAtOrBefore(const SimGrid& g, int target) {
    const SimSnapshot* best = nullptr;
    for (int i = 0; i < g.slotCount; ++i) {
        const SimSnapshot& s = g.slots[static_cast<size_t>(i)];
        if (s.frame >= 0 && s.frame <= target && (!best || s.frame > best->frame)) best = &s;
    }
    return best;
}

struct GridMapping {
    float factorX;
    float factorY;
    float halfN;
};

GridMapping gridMapping(const FrameSettings& s, int N) {
    // A composition size that is not positive counts as HD, so a damaged record still maps.
    const float w = s.compWidth > 0 ? static_cast<float>(s.compWidth) : 1920.0f;
    const float h = s.compHeight > 0 ? static_cast<float>(s.compHeight) : 1080.0f;
    return {static_cast<float>(N) / w, static_cast<float>(N) / h, static_cast<float>(N) / 2.0f};
}

struct GridPoint {
    float x, y, z;
};

GridPoint toGrid(const GridMapping& m, float x, float y, float z) {
    return {m.factorX * x, m.factorY * y, m.factorX * z + m.halfN};
}

bool hasLightTracks(const FrameSettings& s) {
    return s.lightTrackCount > 0 && s.lightTrackFrames > 0;
}

int lightCount(const FrameSettings& s) { return std::clamp(s.lightTrackCount, 0, kMaxLightTracks); }

GridPoint lightPosition(const FrameSettings& s, const GridMapping& m, int light, int frame) {
    const int frames = std::clamp(s.lightTrackFrames, 1, kMaxHistoryFrames);
    const int i = std::clamp(frame, 0, frames - 1);
    const size_t k = static_cast<size_t>(light) * kMaxHistoryFrames + static_cast<size_t>(i);
    return toGrid(m, s.lightTrackX[k], s.lightTrackY[k], s.lightTrackZ[k]);
}

GridPoint sourcePositionAt(const FrameSettings& s, const GridMapping& m, int frame) {
    if (hasLightTracks(s)) return lightPosition(s, m, 0, frame);
    if (s.trajectoryCount > 0) {
        const int count = std::min(s.trajectoryCount, kMaxHistoryFrames);
        const size_t i = static_cast<size_t>(std::clamp(frame, 0, count - 1));
        return toGrid(m, s.trajectoryX[i], s.trajectoryY[i], s.trajectoryZ[i]);
    }
    return toGrid(m, s.sourcePosition.x, s.sourcePosition.y, s.sourcePosition.z);
}

class StageClock {
public:
    StageClock(const GpuRuntime& rt, SimStageTimes* times) : rt_(rt), times_(times) {
        if (times_) start_ = nowMilliseconds();
    }
    void lap(double SimStageTimes::*stage) {
        if (!times_) return;
        cl().clFinish(rt_.queue);
        const double now = nowMilliseconds();
        times_->*stage += now - start_;
        start_ = now;
    }

private:
    const GpuRuntime& rt_;
    SimStageTimes* times_;
    double start_ = 0;
};

void runStep(GpuRuntime& rt, const FrameSettings& s, const GridMapping& mapping, int targetFrame, int frame,
             float dt, SimStageTimes* times) {
    StageClock clock(rt, times);
    const float t = static_cast<float>(frame) * dt;
    const float gate = emissionGate(s, t);
    const float fuel = s.fuelAmount * gate * fuelRamp(s, t);

    if (gate > 0.001f) {
        if (canEmitFromLayer(rt, s)) {
            // The map gives the columns; only the depth of the source position is used.
            enqueueLayerEmission(rt, s, frame, sourcePositionAt(s, mapping, frame).z, fuel, dt);
        } else if (hasLightTracks(s)) {
            const int lights = lightCount(s);
            for (int k = 0; k < lights; ++k) {
                const GridPoint p = lightPosition(s, mapping, k, frame);
                enqueueVolumeSource(rt, s, p.x, p.y, p.z, fuel / static_cast<float>(lights), dt);
            }
        } else {
            const GridPoint p = sourcePositionAt(s, mapping, frame);
            enqueueVolumeSource(rt, s, p.x, p.y, p.z, fuel, dt);
        }
    }
    enqueueCombust(rt, s, dt);
    if (s.emberAmount > 0.001f) enqueueEmitEmber(rt, s, targetFrame, frame, dt);
    clock.lap(&SimStageTimes::sourcesMs);

    const int mode = s.simMode;
    if (mode < 2) return;
    if (s.buoyancy > 0.001f) enqueueBuoyancy(rt, s, dt);
    enqueueApplyForces(rt, s, dt);
    if (mode < 3) {
        clock.lap(&SimStageTimes::forcesMs);
        return;
    }
    if (s.vorticity > 0.001f) enqueueVorticityConfinement(rt, s, dt);
    if (s.turbulence > 0.001f) enqueueCurlNoise(rt, s, frame, dt);
    if (s.flameTear > 0.001f) enqueueShred(rt, s, dt);
    clock.lap(&SimStageTimes::forcesMs);
    projectMultigrid(rt, s);
    clock.lap(&SimStageTimes::projectionMs);

    if (mode < 4) return;
    advectScalars(rt, dt);
    if (s.emberAmount > 0.001f) advectEmbers(rt, dt);
    if (mode < 5) {
        clock.lap(&SimStageTimes::advectionMs);
        return;
    }
    advectVelocity(rt, dt);
    clock.lap(&SimStageTimes::advectionMs);
    projectJacobi(rt, s, kSecondProjectionSweeps);
    clock.lap(&SimStageTimes::projection2Ms);
    enqueueDecay(rt, s, dt);
    clock.lap(&SimStageTimes::decayMs);
    if (frame >= 1 && frame % kSnapshotSpacing == 0 && !slotHolds(rt.grid, frame)) takeSnapshot(rt, frame);
    clock.lap(&SimStageTimes::snapshotMs);
}

}  // namespace

int gridSideForVoxelSize(int voxelSize) {
    switch (voxelSize) {
        case 2:
            return 192;
        case 3:
            return 256;
        case 4:
            return 384;
        default:
            return 128;
    }
}

float emissionGate(const FrameSettings& s, float t) {
    if (!(s.fade > 0.001f)) return 1.0f;
    const float w = s.fade * s.fadeSoftness;
    if (t >= s.fade + w) return 0.0f;
    if (t > s.fade && w > 0.0001f) return std::max(0.0f, 1.0f - (t - s.fade) / w);
    return 1.0f;
}

float fuelRamp(const FrameSettings& s, float t) {
    const float L = std::max(s.life, 0.5f);
    const float h = std::max(0.2f * L, 0.04f);
    const float c = L * (1.0f - s.trail / 100.0f);
    const float u = std::clamp((t - (c - h)) / (2.0f * h), 0.0f, 1.0f);
    return u * u * (3.0f - 2.0f * u);
}

bool stepSimulationToFrame(GpuRuntime& rt, int targetFrame, float frameDuration, const FrameSettings& s) {
    return stepSimulationOnGrid(rt, gridSideForVoxelSize(s.voxelSize), targetFrame, frameDuration, s);
}

bool stepSimulationOnGrid(GpuRuntime& rt, int side, int targetFrame, float frameDuration, const FrameSettings& s,
                          SimStageTimes* times) {
    if (!rt.ready) {
        logLine("[STEP SKIP] ctx=%p available=%d\n", static_cast<void*>(rt.context), rt.ready ? 1 : 0);
        return false;
    }
    const double startMs = nowMilliseconds();
    SimGrid& g = rt.grid;
    if (side != g.N && !resizeGrid(rt, side)) return false;
    // Frames before the start of the time line do not exist; they show frame 0.
    targetFrame = std::max(targetFrame, 0);

    const float speed = s.speed > 0.01f ? s.speed : 1.0f;
    const float dt = frameDuration * speed;

    const uint64_t key = simulationKey(s);
    // After a capped request the fields hold an earlier frame than lastFrame: they are no one's
    // state to continue, and the request resumes from a snapshot or starts afresh instead.
    const bool holdsLastFrame = g.lastFrame >= 0 && g.heldFrame == g.lastFrame;
    bool contiguous = false;
    if (key != g.settingsHash) {
        if (holdsLastFrame && targetFrame == g.lastFrame + 1 && s.instanceId == g.lastInstanceId) {
            contiguous = true;  // an edit while playing forward is taken live
            g.liveEdited = true;
        } else {
            for (SimSnapshot& slot : g.slots) slot.frame = -1;
            g.nextSlot = 0;
            g.liveEdited = false;
        }
        g.settingsHash = key;
    } else if (holdsLastFrame && g.lastFrame <= targetFrame && s.instanceId == g.lastInstanceId && !g.liveEdited) {
        // Under one key and no live edit every state is a deterministic function of its frame,
        // so the held state is exactly what resuming from a snapshot and re-simulating would
        // reach. Continue from it when that is less work: ordinary playback then costs one step
        // per frame, and re-rendering the held frame costs none.
        const SimSnapshot* slot = newestSnapshotAtOrBefore(g, targetFrame);
        contiguous = !slot || slot->frame <= g.lastFrame;
    }

    const size_t scalarBytes = cellsOf(g.N) * sizeof(float);
    const size_t vectorBytes = scalarBytes * 4;
    int start = 0;
    bool resumed = false;
    if (contiguous) {
        start = g.lastFrame + 1;
        resumed = true;
    } else if (const SimSnapshot* slot = newestSnapshotAtOrBefore(g, targetFrame);
               slot && transferState(rt, *slot, false)) {
        start = slot->frame + 1;
        resumed = true;
    }  // a refused restore left the fields partly restored: the fresh start below clears them

    if (resumed) {
        fillZero(rt, g.densityNext, scalarBytes);
    } else {
        for (cl_mem m : {g.density, g.temperature, g.fuel, g.densityNext, g.ember, g.pressure, g.pressureNext}) {
            fillZero(rt, m, scalarBytes);
        }
        fillZero(rt, g.velocity, vectorBytes);
        fillZero(rt, g.velocityNext, vectorBytes);
    }

    const long long asked = std::max(0LL, static_cast<long long>(targetFrame) - start + 1);
    const int steps = static_cast<int>(std::min<long long>(asked, kMaxStepsPerCall));
    const GridMapping mapping = gridMapping(s, g.N);
    for (int i = 0; i < steps; ++i) runStep(rt, s, mapping, targetFrame, start + i, dt, times);

    cl().clFinish(rt.queue);
    g.lastFrame = targetFrame;
    g.heldFrame = start + steps - 1;
    g.lastInstanceId = s.instanceId;
    // A capped request's fields are not targetFrame's; a snapshot of them under that label would
    // hand them to every later request as if they were.
    if (g.heldFrame == targetFrame && targetFrame % kSnapshotSpacing == 0 && !slotHolds(g, targetFrame)) {
        takeSnapshot(rt, targetFrame);
        cl().clFinish(rt.queue);
    }
    g.lastCall = SimCallRecord{targetFrame, resumed, static_cast<int>(std::min<long long>(asked, 1 << 30)), steps,
                               nowMilliseconds() - startMs};
    return true;
}

}  // namespace cindel
