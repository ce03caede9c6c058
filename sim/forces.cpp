// Host side of the velocity forces. Every kernel updates `velocity` in place, each work-item its
// own cells (one, or a row chunk), so the launches need no ping-pong swap; the in-order queue
// orders them after the sources and before the projection.
#include "sim/forces.h"

#include "gpu/launch.h"
#include "sim/noise_lattice.h"

namespace cindel {

namespace {

// The parameters are in user units; the kernels take cells per second (per step for buoyancy).
constexpr float kBuoyancyScale = 0.001f;
constexpr float kGravityScale = 0.1f;
constexpr float kWindScale = 0.1f;
constexpr float kShredScale = 8.0f;
// Spreads the seeds apart in noise time so that neighbouring seeds give unrelated fields.
constexpr double kSeedTimeOffset = 0.137;

size_t side(const GpuRuntime& rt) {
    return static_cast<size_t>(rt.grid.N > 0 ? rt.grid.N : 0);
}

}  // namespace

void enqueueBuoyancy(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::Buoyancy)
        .arg("velocity", g.velocity)
        .arg("temperature", g.temperature)
        .arg("N", g.N)
        .arg("beta", s.buoyancy * kBuoyancyScale)
        .arg("dt", dt)
        .arg("aggression", s.flameAggression)
        .run3dRowChunks(side(rt));
}

void enqueueApplyForces(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::ApplyForces)
        .arg("velocity", g.velocity)
        .arg("N", g.N)
        .arg("gravity", s.gravity * kGravityScale)
        .arg("windX", s.windX * kWindScale)
        .arg("windY", s.windY * kWindScale)
        .arg("windZ", s.windZ * kWindScale)
        .arg("dragFactor", s.drag)
        .arg("dt", dt)
        .run3dRowChunks(side(rt));
}

void enqueueVorticityConfinement(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::ComputeCurl)
        .arg("vel", g.velocity)
        .arg("curlOut", g.curl)
        .arg("N", g.N)
        .run3dRowChunks(side(rt));
    KernelLaunch(rt, KernelRole::ConfineVorticity)
        .arg("vel", g.velocity)
        .arg("curl", g.curl)
        .arg("temperature", g.temperature)
        .arg("N", g.N)
        .arg("epsilon", s.vorticity)
        .arg("dt", dt)
        .arg("aggression", s.flameAggression)
        .run3dRowChunks(side(rt));
}

float curlNoiseTime(const FrameSettings& s, int frame, float dt) {
    // Double so that late frames and large seeds lose no more than the final rounding.
    return static_cast<float>(static_cast<double>(frame) * dt * s.turbulenceSpeed +
                              static_cast<double>(s.randomSeed) * kSeedTimeOffset);
}

CurlNoisePath enqueueCurlNoise(GpuRuntime& rt, const FrameSettings& s, int frame, float dt, CurlNoisePath preferred) {
    const SimGrid& g = rt.grid;
    const float time = curlNoiseTime(s, frame, dt);
    // Below the strength threshold the kernel writes nothing, so a table would be wasted work.
    if (preferred == CurlNoisePath::Lattice && s.turbulence >= 0.001f) {
        const std::optional<NoiseLatticeLayout> layout = planNoiseLattice(g.N, s.turbulenceScale, time);
        if (layout && ensureAuxKernel(rt, AuxKernel::CurlNoiseLut) && enqueueNoiseLatticeFill(rt, *layout, time)) {
            KernelLaunch(rt, AuxKernel::CurlNoiseLut)
                .arg("vel", g.velocity)
                .arg("N", g.N)
                .arg("strength", s.turbulence)
                .arg("scale", s.turbulenceScale)
                .arg("time", time)
                .arg("dt", dt)
                .arg("lattice", rt.noiseLattice.values.handle)
                .arg("latticeOrigin", rt.noiseLattice.origins.handle)
                .arg("side0", layout->side[0])
                .arg("side1", layout->side[1])
                .arg("side2", layout->side[2])
                .run3dRowChunks(side(rt));
            return CurlNoisePath::Lattice;
        }
    }
    KernelLaunch(rt, KernelRole::CurlNoise)
        .arg("vel", g.velocity)
        .arg("N", g.N)
        .arg("strength", s.turbulence)
        .arg("scale", s.turbulenceScale)
        .arg("time", time)
        .arg("dt", dt)
        .run3dRows(side(rt));
    return CurlNoisePath::Direct;
}

void enqueueShred(const GpuRuntime& rt, const FrameSettings& s, float dt) {
    const SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::Shred)
        .arg("vel", g.velocity)
        .arg("temperature", g.temperature)
        .arg("N", g.N)
        .arg("strength", s.flameTear * kShredScale)
        .arg("dt", dt)
        .arg("tThr", kShredPivotKelvin)
        .arg("tWidth", kShredWidthKelvin)
        .run3dRows(side(rt));
}

}  // namespace cindel
