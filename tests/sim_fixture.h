// Shared fixture of the simulation tests: the GPU runtime started once per process (PoCL's build
// is the slow part), a small grid, field helpers, shared references; skipped without a device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "frame/frame_settings.h"
#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "gpu/launch.h"
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

// Every parameter at its registered default as the frame driver converts it (what is not set
// here is 0), on a 1920 × 1080 composition with the source at its centre.
inline cindel::FrameSettings defaultSimSettings() {
    cindel::FrameSettings s;
    cindel::resetFrameSettings(s);
    s.compWidth = s.outputWidth = 1920;
    s.compHeight = s.outputHeight = 1080;
    s.sourcePosition = {960.0f, 540.0f, 0.0f};
    s.preset = s.debugView = 1;
    s.sourceSizeX = s.sourceSizeY = s.opacity = s.maskScale = s.buoyancy = s.speed = 1;
    s.turbulenceScale = s.turbulenceSpeed = 1;
    s.emitterRadius = s.sourceSizeZ = 12;
    s.sourceTemperature = 3500;
    s.fuelAmount = 120;
    s.life = s.burnRate = 3;
    s.trail = 100;
    s.patternType = s.voxelSize = 3;
    s.maskContrast = 50;
    s.maskThreshold = 15;
    s.burnThreshold = 600;
    s.heatOutput = 150;
    s.smokeOutput = s.fbmFlow = 0.3f;
    s.heatDecay = 1.5f;
    s.smokeDecay = 0.5f;
    s.drag = 1.0f - 20.0f * 0.01f * 0.05f;
    s.vorticity = 10;
    s.turbulence = 25;
    s.flameAggression = 0.15f;
    s.simMode = 5;
    s.quality = 4;
    return s;
}

inline size_t cellCount(int n) {
    return static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n);
}

inline std::vector<float> readBuffer(cl_mem m, size_t floats) {
    std::vector<float> out(floats, std::nanf(""));
    cindel::cl().clEnqueueReadBuffer(runtime().queue, m, CL_TRUE, 0, floats * sizeof(float), out.data(), 0, nullptr,
                                     nullptr);
    return out;
}

inline void writeBuffer(cl_mem m, const std::vector<float>& data) {
    cindel::cl().clEnqueueWriteBuffer(runtime().queue, m, CL_TRUE, 0, data.size() * sizeof(float), data.data(), 0,
                                      nullptr, nullptr);
}

inline void fillBuffer(cl_mem m, size_t floats, float value) {
    writeBuffer(m, std::vector<float>(floats, value));
}

inline double maxAbs(const std::vector<float>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0,
                           [](double m, float x) { return std::max(m, std::fabs(double(x))); });
}

// Floats whose bits differ (every one when the sizes differ): NaN and -0 count as values.
inline size_t differingBits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return a.size() + b.size();
    return std::inner_product(a.begin(), a.end(), b.begin(), size_t{0}, std::plus<>(),
                              [](float x, float y) { return size_t{std::memcmp(&x, &y, sizeof x) != 0}; });
}

// Every element within tol (a NaN fails); reports the worst one.
inline void expectNear(const std::vector<float>& got, const std::vector<double>& want, double tol,
                       const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    size_t worst = 0;
    double err = -1.0;
    for (size_t i = 0; i < got.size(); ++i)
        if (const double e = std::isnan(got[i]) ? INFINITY : std::fabs(got[i] - want[i]); e > err) err = e, worst = i;
    EXPECT_LE(err, tol) << what << ": element " << worst << " is " << got[worst] << ", expected " << want[worst];
}

// Trilinear sample in double of component `comp` of a field with `stride` values per cell: cell
// centres at i + 0.5, positions clamped to the outermost centres.
template <class Values>
double sampleRef(const Values& f, int n, int stride, int comp, double px, double py, double pz) {
    const double p[3] = {px, py, pz};
    int i0[3], i1[3];
    double t[3];
    for (int a = 0; a < 3; ++a) {
        const double g = std::clamp(p[a] - 0.5, 0.0, n - 1.0);
        i0[a] = static_cast<int>(std::floor(g));
        i1[a] = std::min(i0[a] + 1, n - 1);
        t[a] = g - i0[a];
    }
    double sum = 0.0;
    for (int k = 0; k < 8; ++k) {
        const int dx = k & 1, dy = (k >> 1) & 1, dz = k >> 2;
        const double w = (dx ? t[0] : 1 - t[0]) * (dy ? t[1] : 1 - t[1]) * (dz ? t[2] : 1 - t[2]);
        const size_t c =
            (static_cast<size_t>(dz ? i1[2] : i0[2]) * n + (dy ? i1[1] : i0[1])) * n + (dx ? i1[0] : i0[0]);
        sum += w * f[c * stride + comp];
    }
    return sum;
}

// 0.5 × the clamped central differences of a float4 velocity, summed: what the projection removes.
inline std::vector<double> divergenceOf(const std::vector<float>& vel, int n) {
    std::vector<double> d(cellCount(n));
    auto v = [&](int x, int y, int z, int c) {
        x = std::clamp(x, 0, n - 1), y = std::clamp(y, 0, n - 1), z = std::clamp(z, 0, n - 1);
        return static_cast<double>(vel[4 * ((static_cast<size_t>(z) * n + y) * n + x) + c]);
    };
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                d[(static_cast<size_t>(z) * n + y) * n + x] =
                    0.5 * ((v(x + 1, y, z, 0) - v(x - 1, y, z, 0)) + (v(x, y + 1, z, 1) - v(x, y - 1, z, 1)) +
                           (v(x, y, z + 1, 2) - v(x, y, z - 1, 2)));
    return d;
}

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
                         g.pressure, g.pressureNext, g.divergence})
            fillBuffer(m, cells(), 0.0f);
        for (cl_mem m : {g.velocity, g.velocityNext, g.curl}) fillBuffer(m, cells() * 4, 0.0f);
    }

    std::vector<float> read(cl_mem m) { return readBuffer(m, cells()); }
    std::vector<float> readVec(cl_mem m) { return readBuffer(m, cells() * 4); }
    void write(cl_mem m, const std::vector<float>& v) { writeBuffer(m, v); }
    void writeVel(const std::vector<float>& v) { writeBuffer(grid().velocity, v); }
    void finish() { cindel::cl().clFinish(rt().queue); }

    size_t idx(int x, int y, int z) const {
        return (static_cast<size_t>(z) * N() + static_cast<size_t>(y)) * N() + static_cast<size_t>(x);
    }

    // A field of `components` values per cell, f(x, y, z, c).
    template <class T>
    std::vector<T> fieldOf(const std::function<T(int, int, int, int)>& f, int components) const {
        std::vector<T> v(cells() * static_cast<size_t>(components));
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x)
                    for (int c = 0; c < components; ++c) v[idx(x, y, z) * components + c] = f(x, y, z, c);
        return v;
    }
    std::vector<float> scalarField(const std::function<float(int, int, int)>& f) const {
        return fieldOf<float>([&](int x, int y, int z, int) { return f(x, y, z); }, 1);
    }
    // A float4 field, w = 0.
    std::vector<float> vectorField(const std::function<float(int, int, int, int)>& f) const {
        return fieldOf<float>([&](int x, int y, int z, int c) { return c < 3 ? f(x, y, z, c) : 0.0f; }, 4);
    }
    std::vector<double> refField(const std::function<double(int, int, int, int)>& f, int components = 1) const {
        return fieldOf<double>(f, components);
    }

    // The step driver's memory emptied, as after a resize: no held frame, no snapshot.
    void forgetSimulation() {
        cindel::SimGrid& g = grid();
        for (cindel::SimSnapshot& s : g.slots) s.frame = -1;
        g.nextSlot = 0;
        g.lastFrame = g.heldFrame = -1;
        g.lastInstanceId = g.settingsHash = 0;
        g.liveEdited = false;
    }
};

// Kernel tests also fail when a launch bound other arguments than the kernel table lists.
class SimKernelTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch was refused";
        }
    }
    cindel::FrameSettings settings_ = defaultSimSettings();

private:
    int violationsBefore_ = 0;
};

}  // namespace simtest
