// Host side of the source kernels: the volume source, ember spawning, combustion and decay.
// Each function converts the frame's settings into the values its kernel takes, binds them
// through the kernel table and enqueues over the grid (the volume source over its own box), in
// place; nothing waits. Whether the
// source, combustion and ember stages run at all is the step driver's decision; the decay launches
// carry their own conditions (below), because the three share one call.
#pragma once

#include <cstddef>
#include <optional>

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// The cells [lo, lo + count) of one axis that a volume source at `centre` (grid units) with the
// axis size `size` and radius `radius` can reach, for a grid of side n; count 0 when it reaches
// none, nullopt when a value is not finite.
struct SourceSpan {
    size_t lo = 0;
    size_t count = 0;
};
std::optional<SourceSpan> sourceSpan(float centre, float size, float radius, int n);

// One volume source at grid position (sx, sy, sz) injecting `fuelInject` (already divided by the
// number of light sources). The depth size is the slider value × 0.1; the source never pushes
// velocity.
void enqueueVolumeSource(const GpuRuntime& rt, const FrameSettings& s, float sx, float sy, float sz, float fuelInject,
                         float dt);
// Embers in cells at or above emberTemp, with probability emberAmount × 0.05 per cell per second.
// `targetFrame` is the frame the call was asked for, `frame` the frame of this step.
void enqueueEmitEmber(const GpuRuntime& rt, const FrameSettings& s, int targetFrame, int frame, float dt);
void enqueueCombust(const GpuRuntime& rt, const FrameSettings& s, float dt);

// Decay of temperature, density and embers through their own kernel objects: temperature (with
// the flameAggression boost) and density each only when their rate exceeds 1e-5, embers only when
// emberAmount exceeds 0.001.
void enqueueDecay(const GpuRuntime& rt, const FrameSettings& s, float dt);

// The values the host passes, exposed for the tests.
// Per-cell ember spawn probability per second.
float emberSpawnRate(const FrameSettings& s);
// The time that moves the ember hash from step to step: targetFrame × 0.123 + frame × dt.
float emberFrameTime(int targetFrame, int frame, float dt);
// A decay rate per second: (3 / max(life, 0.5)) × factor, so that a factor of 1 leaves e^−3 (about
// 5 %) after `life` seconds.
float lifeDecayRate(const FrameSettings& s, float factor);

}  // namespace cindel
