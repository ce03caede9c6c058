// Host side of the source kernels. All four work in place on the current fields (no ping-pong), so
// the in-order queue alone orders them against the other stages of a step.
#include "sim/sources.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "gpu/launch.h"

namespace cindel {

namespace {

// The depth slider is in tenths: 10 on the slider is the same extent as 1 on x or y.
constexpr float kSourceDepthScale = 0.1f;
constexpr float kEmberRateScale = 0.05f;
// Spreads consecutive target frames apart in hash space, so that scrubbing to a frame does not
// replay another frame's ember pattern.
constexpr float kEmberTargetFrameOffset = 0.123f;
// A decay rate of 3 / life takes a value to e^−3 over its life; lives below half a second are
// treated as half a second so that the rate stays bounded.
constexpr float kLifeDecayFactor = 3.0f;
constexpr float kMinLifeSeconds = 0.5f;
// Below these a launch would change nothing visible.
constexpr float kMinDecayRate = 1e-5f;
constexpr float kMinEmberAmount = 0.001f;

size_t side(const GpuRuntime& rt) {
    return static_cast<size_t>(rt.grid.N > 0 ? rt.grid.N : 0);
}

void enqueueCool(const GpuRuntime& rt, KernelRole role, cl_mem field, float rate, float aggression, float dt) {
    KernelLaunch(rt, role)
        .arg("field", field)
        .arg("N", rt.grid.N)
        .arg("coolRate", rate)
        .arg("dt", dt)
        .arg("aggression", aggression)
        .run3dRowChunks(side(rt));
}

}  // namespace

float emberSpawnRate(const FrameSettings& s) {
    return s.emberAmount * kEmberRateScale;
}

float emberFrameTime(int targetFrame, int frame, float dt) {
    return static_cast<float>(targetFrame) * kEmberTargetFrameOffset + static_cast<float>(frame) * dt;
}

float lifeDecayRate(const FrameSettings& s, float factor) {
    return kLifeDecayFactor / std::max(s.life, kMinLifeSeconds) * factor;
}

// The cells of one axis that the source's ellipsoid can reach: the kernel's own test is
// |i + 0.5 − centre| · (1 / size) < radius on each axis at least, so the box around centre ±
// radius · size, one cell wider on each side for the kernel's float rounding, holds every cell it
// changes. Empty when the radius is 0 or negative; nullopt when a value is not finite, where only the
// kernel's own test can say.
std::optional<SourceSpan> sourceSpan(float centre, float size, float radius, int n) {
    if (!std::isfinite(centre) || !std::isfinite(size) || !std::isfinite(radius)) return std::nullopt;
    if (radius <= 0.0f) return SourceSpan{0, 0};
    const float inv = size > 0.01f ? 1.0f / size : 1.0f;
    const double reach = static_cast<double>(radius) / inv * (1.0 + 1e-5) + 1.0;
    const double lo = std::max(std::floor(centre - 0.5 - reach), 0.0);
    const double hi = std::min(std::ceil(centre - 0.5 + reach), static_cast<double>(n - 1));
    if (hi < lo) return SourceSpan{0, 0};
    return SourceSpan{static_cast<size_t>(lo), static_cast<size_t>(hi - lo) + 1};
}

void enqueueVolumeSource(const GpuRuntime& rt, const FrameSettings& s, float sx, float sy, float sz, float fuelInject,
                         float dt) {
    const SimGrid& g = rt.grid;
    const float sizeZ = s.sourceSizeZ * kSourceDepthScale;
    const std::optional<SourceSpan> bx = sourceSpan(sx, s.sourceSizeX, s.emitterRadius, g.N);
    const std::optional<SourceSpan> by = sourceSpan(sy, s.sourceSizeY, s.emitterRadius, g.N);
    const std::optional<SourceSpan> bz = sourceSpan(sz, sizeZ, s.emitterRadius, g.N);
    const bool boxed = bx && by && bz;
    if (boxed && (bx->count == 0 || by->count == 0 || bz->count == 0)) return;
    KernelLaunch launch(rt, KernelRole::AddVolumeSource);
    launch
        .arg("density", g.density)
        .arg("temperature", g.temperature)
        .arg("fuel", g.fuel)
        .arg("velocity", g.velocity)
        .arg("N", g.N)
        .arg("sx", sx)
        .arg("sy", sy)
        .arg("sz", sz)
        .arg("radius", s.emitterRadius)
        .arg("temperatureK", s.sourceTemperature)
        .arg("fuelInject", fuelInject)
        .arg("dt", dt)
        .arg("sizeX", s.sourceSizeX)
        .arg("sizeY", s.sourceSizeY)
        .arg("sizeZ", sizeZ)
        // The cone push of the kernel is not used: velocity comes from buoyancy and the forces.
        .arg("freeDir", 0.0f)
        .arg("freeSpread", 0.0f)
        .arg("freeVelocity", 0.0f);
    // Only the source's box: the rest of the grid is most of a step's launch and changes nowhere.
    if (boxed)
        launch.run3dBox(bx->lo, by->lo, bz->lo, bx->count, by->count, bz->count);
    else
        launch.run3dRows(side(rt));
}

void enqueueEmitEmber(const GpuRuntime& rt, const FrameSettings& s, int targetFrame, int frame, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::EmitEmber)
        .arg("temperature", g.temperature)
        .arg("ember", g.ember)
        .arg("N", g.N)
        .arg("emberTemp", s.emberTemp)
        .arg("spawnRate", emberSpawnRate(s))
        .arg("frameTime", emberFrameTime(targetFrame, frame, dt))
        .arg("dt", dt)
        .run3dRows(side(rt));
}

void enqueueCombust(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::Combust)
        .arg("fuel", g.fuel)
        .arg("temperature", g.temperature)
        .arg("density", g.density)
        .arg("N", g.N)
        .arg("ignitionTemp", s.burnThreshold)
        .arg("burnRate", s.burnRate)
        .arg("heatPerBurn", s.heatOutput)
        .arg("smokePerBurn", s.smokeOutput)
        .arg("dt", dt)
        .run3dRowChunks(side(rt));
}

void enqueueDecay(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    const float heatRate = lifeDecayRate(s, s.heatDecay);
    if (heatRate > kMinDecayRate)
        enqueueCool(rt, KernelRole::CoolTemperature, g.temperature, heatRate, s.flameAggression, dt);
    const float smokeRate = lifeDecayRate(s, s.smokeDecay);
    if (smokeRate > kMinDecayRate) enqueueCool(rt, KernelRole::CoolDensity, g.density, smokeRate, 0.0f, dt);
    if (s.emberAmount > kMinEmberAmount) {
        enqueueCool(rt, KernelRole::CoolEmber, g.ember, lifeDecayRate(s, s.emberDecay), 0.0f, dt);
    }
}

}  // namespace cindel
