// Host side of advection. Swapping handles instead of copying keeps a step free of buffer copies;
// the in-order queue guarantees that every later launch reads the advected field, since the swap
// happens on the host right after the enqueue and later launches bind the new handles.
#include "sim/advect.h"

#include <utility>

#include "gpu/launch.h"

namespace cindel {

namespace {

size_t side(const GpuRuntime& rt) {
    return static_cast<size_t>(rt.grid.N > 0 ? rt.grid.N : 0);
}

}  // namespace

void advectScalars(GpuRuntime& rt, float dt) {
    SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::AdvectThreeScalars)
        .arg("dIn", g.density)
        .arg("dOut", g.densityNext)
        .arg("tIn", g.temperature)
        .arg("tOut", g.temperatureNext)
        .arg("fIn", g.fuel)
        .arg("fOut", g.fuelNext)
        .arg("velRead", g.velocity)
        .arg("N", g.N)
        .arg("dt", dt)
        .run3dRowChunks(side(rt));
    std::swap(g.density, g.densityNext);
    std::swap(g.temperature, g.temperatureNext);
    std::swap(g.fuel, g.fuelNext);
}

void advectEmbers(GpuRuntime& rt, float dt) {
    SimGrid& g = rt.grid;
    // Embers keep their amount while they fly; they fade through their own decay.
    KernelLaunch(rt, KernelRole::AdvectScalar)
        .arg("fieldIn", g.ember)
        .arg("fieldOut", g.densityNext)
        .arg("velRead", g.velocity)
        .arg("N", g.N)
        .arg("dt", dt)
        .arg("dissipation", 0.0f)
        .run3dRowChunks(side(rt));
    std::swap(g.ember, g.densityNext);
}

void advectVelocity(GpuRuntime& rt, float dt) {
    SimGrid& g = rt.grid;
    KernelLaunch(rt, KernelRole::AdvectVelocity)
        .arg("velIn", g.velocity)
        .arg("velOut", g.velocityNext)
        .arg("N", g.N)
        .arg("dt", dt)
        .arg("dissipation", kVelocityDissipation)
        .run3dRowChunks(side(rt));
    std::swap(g.velocity, g.velocityNext);
}

}  // namespace cindel
