// Shared fixture of the simulation tests: the effect's own GPU runtime started once per test
// process (PoCL's kernel build is the slow part), the grid resized to a small side, and helpers
// to upload and read fields. Tests skip, with the reason, when the machine offers no OpenCL
// device; CI installs PoCL, so they run there.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "frame/frame_settings.h"
#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "sim/sim_grid.h"

namespace simtest {

inline cindel::GpuRuntime& runtime() {
    static bool started = [] {
        cindel::startGpuRuntime(&cindel::gpuRuntime());
        return true;
    }();
    (void)started;
    return cindel::gpuRuntime();
}

// The settings a frame carries with every parameter at its registered default, as the frame
// driver converts them, on a 1920 × 1080 composition with the source at its centre.
inline cindel::FrameSettings defaultSimSettings() {
    cindel::FrameSettings s;
    cindel::resetFrameSettings(s);
    s.compWidth = 1920;
    s.compHeight = 1080;
    s.outputWidth = 1920;
    s.outputHeight = 1080;
    s.preset = 1;
    s.sourcePosition = {960.0f, 540.0f, 0.0f};
    s.emitterRadius = 12;
    s.sourceSizeX = 1;
    s.sourceSizeY = 1;
    s.sourceSizeZ = 12;
    s.sourceTemperature = 3500;
    s.fuelAmount = 120;
    s.life = 3;
    s.lifeSoftness = 0;
    s.fade = 0;
    s.fadeSoftness = 0;
    s.opacity = 1;
    s.trail = 100;
    s.patternType = 3;
    s.maskScale = 1;
    s.maskContrast = 50;
    s.maskThreshold = 15;
    s.burnThreshold = 600;
    s.burnRate = 3;
    s.heatOutput = 150;
    s.smokeOutput = 0.3f;
    s.heatDecay = 1.5f;
    s.smokeDecay = 0.5f;
    s.buoyancy = 1;
    s.gravity = 0;
    s.drag = 1.0f - 20.0f * 0.01f * 0.05f;
    s.windX = s.windY = s.windZ = 0;
    s.speed = 1;
    s.randomSeed = 0;
    s.vorticity = 10;
    s.turbulence = 25;
    s.turbulenceScale = 1;
    s.turbulenceSpeed = 1;
    s.flameAggression = 0.15f;
    s.fbmFlow = 0.3f;
    s.flameTear = 0;
    s.voxelSize = 3;
    s.simMode = 5;
    s.quality = 4;
    s.debugView = 1;
    return s;
}

inline size_t cellCount(int n) { return static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n); }

inline std::vector<float> readBuffer(cl_mem m, size_t floats) {
    std::vector<float> out(floats, std::nanf(""));
    cindel::GpuRuntime& rt = runtime();
    cindel::cl().clEnqueueReadBuffer(rt.queue, m, CL_TRUE, 0, floats * sizeof(float), out.data(), 0, nullptr, nullptr);
    return out;
}

inline void writeBuffer(cl_mem m, const std::vector<float>& data) {
    cindel::GpuRuntime& rt = runtime();
    cindel::cl().clEnqueueWriteBuffer(rt.queue, m, CL_TRUE, 0, data.size() * sizeof(float), data.data(), 0, nullptr,
                                      nullptr);
}

inline void fillBuffer(cl_mem m, size_t floats, float value) { writeBuffer(m, std::vector<float>(floats, value)); }

class SimTest : public ::testing::Test {
protected:
    static constexpr int kSide = 32;

    void SetUp() override {
        cindel::GpuRuntime& rt = runtime();
        if (!rt.ready) GTEST_SKIP() << "no OpenCL device: the effect's runtime did not start";
        ASSERT_TRUE(cindel::resizeGrid(rt, side()));
        clearFields();
    }

    virtual int side() const { return kSide; }
    cindel::GpuRuntime& rt() { return runtime(); }
    cindel::SimGrid& grid() { return runtime().grid; }
    int N() const { return runtime().grid.N; }
    size_t cells() const { return cellCount(N()); }

    void clearFields() {
        cindel::SimGrid& g = grid();
        for (cl_mem m : {g.density, g.temperature, g.fuel, g.densityNext, g.temperatureNext, g.fuelNext, g.ember,
                         g.pressure, g.pressureNext, g.divergence}) {
            fillBuffer(m, cells(), 0.0f);
        }
        for (cl_mem m : {g.velocity, g.velocityNext, g.curl}) fillBuffer(m, cells() * 4, 0.0f);
    }

    std::vector<float> read(cl_mem m) { return readBuffer(m, cells()); }
    std::vector<float> readVec(cl_mem m) { return readBuffer(m, cells() * 4); }
    void write(cl_mem m, const std::vector<float>& v) { writeBuffer(m, v); }
    void finish() { cindel::cl().clFinish(rt().queue); }

    size_t idx(int x, int y, int z) const {
        return (static_cast<size_t>(z) * N() + static_cast<size_t>(y)) * N() + static_cast<size_t>(x);
    }

    // A scalar field from f(x, y, z) at the current side.
    std::vector<float> scalarField(const std::function<float(int, int, int)>& f) const {
        std::vector<float> v(cells());
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) v[idx(x, y, z)] = f(x, y, z);
        return v;
    }
};

}  // namespace simtest
