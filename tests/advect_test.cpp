// Semi-Lagrangian advection on the effect's own runtime: exact cases (zero velocity, whole-cell
// shifts, edge inflow, the speed clamp), the 0.5 % velocity loss, the handle swaps, and a
// comparison with a double-precision trilinear reference on an odd grid side. Every scenario
// checks that its fields are non-trivial so that nothing passes on a grid of zeros.
//
// Tolerances: whole-cell back-traces land exactly on cell centres, where the trilinear weights are
// exactly 0 and 1, so those cases compare bit for bit. For general velocities the device shifts the
// back-traced position to index space in float (an error of up to half an ulp of 32, 2e-6 cells,
// plus a possibly fused multiply-add) against the reference's double: a sample may then move by
// that error times the field's largest jump between neighbours. The tolerance allows 1e-5 cells of
// it, plus 1e-6 of the field's magnitude for the float blends; an indexing or weighting mistake
// moves a sample by a sizeable share of a jump, thousands of times more.
#include "sim/advect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "gpu/launch.h"
#include "sim_fixture.h"

namespace {

using cindel::KernelLaunch;
using cindel::KernelRole;

constexpr double kPositionTol = 1e-5;  // cells
constexpr double kBlendTol = 1e-6;     // relative to the field's magnitude
// Float against double for one multiplication by 0.995, repeated a few times.
constexpr double kRelTol = 1e-5;

bool bitEqual(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

float maxAbs(const std::vector<float>& v) {
    float m = 0.0f;
    for (float x : v) m = std::max(m, std::fabs(x));
    return m;
}

// The largest difference between neighbouring cells along any axis, for `stride` floats per cell.
double maxJump(const std::vector<float>& f, int n, int stride, int comp) {
    double m = 0.0;
    auto at = [&](int x, int y, int z) {
        return double(f[(static_cast<size_t>(z) * n * n + static_cast<size_t>(y) * n + x) * stride + comp]);
    };
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                if (x + 1 < n) m = std::max(m, std::fabs(at(x + 1, y, z) - at(x, y, z)));
                if (y + 1 < n) m = std::max(m, std::fabs(at(x, y + 1, z) - at(x, y, z)));
                if (z + 1 < n) m = std::max(m, std::fabs(at(x, y, z + 1) - at(x, y, z)));
            }
    return m;
}

double sampleTol(const std::vector<float>& f, int n, int stride, int comp) {
    return kPositionTol * maxJump(f, n, stride, comp) + kBlendTol * std::max<double>(maxAbs(f), 1.0);
}

// Trilinear sample in double of component `comp` of a field with `stride` floats per cell, with
// the cell-centred convention and clamp-to-edge of the kernel library's samplers.
double sampleRef(const std::vector<float>& f, int n, int stride, int comp, double px, double py, double pz) {
    const double hi = n - 1;
    const double g[3] = {std::clamp(px - 0.5, 0.0, hi), std::clamp(py - 0.5, 0.0, hi), std::clamp(pz - 0.5, 0.0, hi)};
    int i0[3], i1[3];
    double t[3];
    for (int a = 0; a < 3; ++a) {
        const double fl = std::floor(g[a]);
        i0[a] = static_cast<int>(fl);
        i1[a] = std::min(i0[a] + 1, n - 1);
        t[a] = g[a] - fl;
    }
    auto at = [&](int x, int y, int z) {
        return double(f[(static_cast<size_t>(z) * n * n + static_cast<size_t>(y) * n + x) * stride + comp]);
    };
    double sum = 0.0;
    for (int dz = 0; dz < 2; ++dz)
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const double w = (dx ? t[0] : 1 - t[0]) * (dy ? t[1] : 1 - t[1]) * (dz ? t[2] : 1 - t[2]);
                sum += w * at(dx ? i1[0] : i0[0], dy ? i1[1] : i0[1], dz ? i1[2] : i0[2]);
            }
    return sum;
}

class AdvectTest : public simtest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override { EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_); }

    // A float4 field from f(x, y, z) -> (vx, vy, vz), w = 0.
    std::vector<float> vectorField(const std::function<std::array<float, 3>(int, int, int)>& f) const {
        std::vector<float> v(cells() * 4, 0.0f);
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const auto c = f(x, y, z);
                    std::copy(c.begin(), c.end(), v.begin() + static_cast<std::ptrdiff_t>(4 * idx(x, y, z)));
                }
        return v;
    }
    std::vector<float> uniformVelocity(float vx, float vy, float vz) const {
        return vectorField([=](int, int, int) { return std::array{vx, vy, vz}; });
    }

    // Three distinct, non-trivial scalar fields.
    std::vector<float> densityPattern() const {
        return scalarField(
            [](int x, int y, int z) { return 1.0f + float(x) + 0.01f * float(y * y) + 0.5f * float(z); });
    }
    std::vector<float> temperaturePattern() const {
        return scalarField([](int x, int y, int z) { return 300.0f + float((x * 7 + y * 13 + z * 5) % 29) * 10.0f; });
    }
    std::vector<float> fuelPattern() const {
        return scalarField([](int x, int y, int z) {
            return std::sin(0.3f * float(x)) * std::cos(0.2f * float(y)) + 0.1f * float(z);
        });
    }

    int violationsBefore_ = 0;
};

TEST_F(AdvectTest, ZeroVelocityIsTheIdentity) {
    const auto d = densityPattern(), t = temperaturePattern(), f = fuelPattern();
    const auto e = scalarField([](int x, int y, int z) { return float((x ^ y ^ z) & 7) * 0.25f; });
    write(grid().density, d);
    write(grid().temperature, t);
    write(grid().fuel, f);
    write(grid().ember, e);
    cindel::advectScalars(rt(), 0.5f);
    cindel::advectEmbers(rt(), 0.5f);
    EXPECT_TRUE(bitEqual(read(grid().density), d));
    EXPECT_TRUE(bitEqual(read(grid().temperature), t));
    EXPECT_TRUE(bitEqual(read(grid().fuel), f));
    EXPECT_TRUE(bitEqual(read(grid().ember), e));
    EXPECT_GT(maxAbs(d), 1.0f);
    EXPECT_GT(maxAbs(e), 1.0f);
    EXPECT_GT(maxAbs(f), 0.5f);
}

// Velocity 2 cells per second for half a second: the back-trace lands on the neighbouring cell's
// centre, so the field moves by exactly one cell and the inflow edge repeats its own value.
TEST_F(AdvectTest, OneCellPerStepShiftsExactly) {
    struct Case {
        std::array<float, 3> velocity;
        std::array<int, 3> from;  // the cell whose value arrives, as an offset
    };
    const Case cases[] = {
        {{2, 0, 0}, {-1, 0, 0}}, {{0, -2, 0}, {0, 1, 0}}, {{0, 0, 2}, {0, 0, -1}}, {{-2, 2, 0}, {1, -1, 0}}};
    for (const Case& c : cases) {
        clearFields();
        const auto d = densityPattern(), t = temperaturePattern(), f = fuelPattern();
        write(grid().density, d);
        write(grid().temperature, t);
        write(grid().fuel, f);
        write(grid().velocity, uniformVelocity(c.velocity[0], c.velocity[1], c.velocity[2]));
        cindel::advectScalars(rt(), 0.5f);
        const auto d1 = read(grid().density), t1 = read(grid().temperature), f1 = read(grid().fuel);
        int moved = 0;
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const int sx = std::clamp(x + c.from[0], 0, N() - 1);
                    const int sy = std::clamp(y + c.from[1], 0, N() - 1);
                    const int sz = std::clamp(z + c.from[2], 0, N() - 1);
                    const size_t i = idx(x, y, z), s = idx(sx, sy, sz);
                    ASSERT_EQ(d1[i], d[s]) << x << "," << y << "," << z;
                    ASSERT_EQ(t1[i], t[s]) << x << "," << y << "," << z;
                    ASSERT_EQ(f1[i], f[s]) << x << "," << y << "," << z;
                    if (d1[i] != d[i]) ++moved;
                }
        EXPECT_GT(moved, static_cast<int>(cells()) / 2);
    }
}

TEST_F(AdvectTest, InflowFromOutsideRepeatsTheEdge) {
    // 8 cells per second for one second: every cell within 8 of the x = 0 face looks outside the
    // grid and takes the edge value; the others take the value 8 cells upstream.
    const auto d = densityPattern();
    write(grid().density, d);
    write(grid().velocity, uniformVelocity(8.0f, 0.0f, -40.0f));
    cindel::advectScalars(rt(), 1.0f);
    const auto d1 = read(grid().density);
    for (int z = 0; z < N(); ++z)
        for (int y = 0; y < N(); ++y)
            for (int x = 0; x < N(); ++x) {
                const int sx = std::max(x - 8, 0);
                const int sz = std::min(z + 40, N() - 1);  // beyond the far z face: always the edge
                ASSERT_EQ(d1[idx(x, y, z)], d[idx(sx, y, sz)]) << x << "," << y << "," << z;
            }
    EXPECT_NE(d[idx(0, 3, N() - 1)], d[idx(5, 3, N() - 1)]);
}

TEST_F(AdvectTest, SpeedIsClampedAndWIsZero) {
    auto v = uniformVelocity(60.0f, -70.0f, 10.0f);
    for (size_t i = 0; i < cells(); ++i) v[4 * i + 3] = 7.0f;
    write(grid().velocity, v);
    cindel::advectVelocity(rt(), 0.1f);
    const auto out = readVec(grid().velocity);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_EQ(out[4 * i], 50.0f) << i;
        ASSERT_EQ(out[4 * i + 1], -50.0f) << i;
        ASSERT_NEAR(out[4 * i + 2], 9.95, 10.0 * kRelTol) << i;
        ASSERT_EQ(out[4 * i + 3], 0.0f) << i;
    }
}

TEST_F(AdvectTest, UniformVelocityLosesHalfAPercentPerStep) {
    write(grid().velocity, uniformVelocity(3.0f, -2.0f, 1.0f));
    const int steps = 10;
    for (int s = 0; s < steps; ++s) cindel::advectVelocity(rt(), 0.1f);
    const auto out = readVec(grid().velocity);
    const double keep = std::pow(1.0 - 0.005, steps);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_NEAR(out[4 * i], 3.0 * keep, 3.0 * steps * kRelTol) << i;
        ASSERT_NEAR(out[4 * i + 1], -2.0 * keep, 2.0 * steps * kRelTol) << i;
        ASSERT_NEAR(out[4 * i + 2], 1.0 * keep, 1.0 * steps * kRelTol) << i;
    }
    // The loss is really there: 10 steps leave about 95.1 %.
    EXPECT_LT(out[0], 2.86f);
    EXPECT_GT(out[0], 2.85f);
}

TEST_F(AdvectTest, SwapsLeaveResultsInTheCurrentFields) {
    cindel::SimGrid& g = grid();
    const cl_mem d0 = g.density, dn0 = g.densityNext, t0 = g.temperature, tn0 = g.temperatureNext, f0 = g.fuel,
                 fn0 = g.fuelNext, e0 = g.ember, v0 = g.velocity, vn0 = g.velocityNext;
    const auto d = densityPattern(), t = temperaturePattern(), f = fuelPattern();
    const auto e = scalarField([](int x, int, int) { return float(x); });
    const auto v = uniformVelocity(2.0f, 0.0f, 0.0f);
    write(g.density, d);
    write(g.temperature, t);
    write(g.fuel, f);
    write(g.ember, e);
    write(g.velocity, v);

    cindel::advectScalars(rt(), 0.5f);
    EXPECT_EQ(g.density, dn0);
    EXPECT_EQ(g.densityNext, d0);
    EXPECT_EQ(g.temperature, tn0);
    EXPECT_EQ(g.temperatureNext, t0);
    EXPECT_EQ(g.fuel, fn0);
    EXPECT_EQ(g.fuelNext, f0);
    // The inputs are left as they were in the Next partners.
    EXPECT_TRUE(bitEqual(read(g.densityNext), d));
    EXPECT_TRUE(bitEqual(read(g.temperatureNext), t));
    EXPECT_TRUE(bitEqual(read(g.fuelNext), f));

    // Embers go into densityNext (the old density buffer) and swap with it.
    cindel::advectEmbers(rt(), 0.5f);
    EXPECT_EQ(g.ember, d0);
    EXPECT_EQ(g.densityNext, e0);
    EXPECT_TRUE(bitEqual(read(g.densityNext), e));
    const auto e1 = read(g.ember);
    EXPECT_EQ(e1[idx(5, 1, 1)], 4.0f);  // shifted by one cell, no dissipation
    EXPECT_EQ(e1[idx(0, 1, 1)], 0.0f);
    // The scalar results were not disturbed by the ember launch.
    EXPECT_EQ(read(g.density)[idx(5, 1, 1)], d[idx(4, 1, 1)]);

    cindel::advectVelocity(rt(), 0.5f);
    EXPECT_EQ(g.velocity, vn0);
    EXPECT_EQ(g.velocityNext, v0);
    EXPECT_TRUE(bitEqual(readVec(g.velocityNext), v));
    EXPECT_NEAR(readVec(g.velocity)[4 * idx(3, 3, 3)], 2.0 * 0.995, 2.0 * kRelTol);
}

TEST_F(AdvectTest, ScalarDissipationScalesTheSample) {
    // The second ember kernel object with a dissipation of 0.1: a uniform field keeps 90 %.
    write(grid().ember, std::vector<float>(cells(), 4.0f));
    write(grid().velocity, uniformVelocity(1.3f, -0.7f, 2.1f));
    KernelLaunch(rt(), KernelRole::AdvectScalar2)
        .arg("fieldIn", grid().ember)
        .arg("fieldOut", grid().densityNext)
        .arg("velRead", grid().velocity)
        .arg("N", N())
        .arg("dt", 0.25f)
        .arg("dissipation", 0.1f)
        .run3d(static_cast<size_t>(N()));
    const auto out = read(grid().densityNext);
    for (float x : out) ASSERT_NEAR(x, 3.6, 4.0 * kRelTol);
}

TEST_F(AdvectTest, KernelsIgnoreIdsOutsideTheGrid) {
    // Launched over 32³ with N = 20: nothing past the first 20³ elements of the outputs changes.
    const int n = 20;
    const size_t inside = simtest::cellCount(n);
    cindel::SimGrid& g = grid();
    for (cl_mem m : {g.density, g.temperature, g.fuel, g.ember}) write(m, std::vector<float>(cells(), 1.0f));
    for (cl_mem m : {g.densityNext, g.temperatureNext, g.fuelNext}) write(m, std::vector<float>(cells(), -1.0f));
    write(g.velocity, uniformVelocity(1.0f, 1.0f, 1.0f));
    write(g.velocityNext, std::vector<float>(cells() * 4, -1.0f));
    const size_t range = static_cast<size_t>(N());
    KernelLaunch(rt(), KernelRole::AdvectThreeScalars)
        .arg("dIn", g.density)
        .arg("dOut", g.densityNext)
        .arg("tIn", g.temperature)
        .arg("tOut", g.temperatureNext)
        .arg("fIn", g.fuel)
        .arg("fOut", g.fuelNext)
        .arg("velRead", g.velocity)
        .arg("N", n)
        .arg("dt", 0.5f)
        .run3d(range);
    write(g.pressure, std::vector<float>(cells(), -1.0f));
    KernelLaunch(rt(), KernelRole::AdvectScalar)
        .arg("fieldIn", g.ember)
        .arg("fieldOut", g.pressure)
        .arg("velRead", g.velocity)
        .arg("N", n)
        .arg("dt", 0.5f)
        .arg("dissipation", 0.5f)
        .run3d(range);
    KernelLaunch(rt(), KernelRole::AdvectVelocity)
        .arg("velIn", g.velocity)
        .arg("velOut", g.velocityNext)
        .arg("N", n)
        .arg("dt", 0.5f)
        .arg("dissipation", 0.0f)
        .run3d(range);
    const auto dn = read(g.densityNext), tn = read(g.temperatureNext), fn = read(g.fuelNext), e = read(g.pressure);
    const auto vn = readVec(g.velocityNext);
    for (size_t i = 0; i < cells(); ++i) {
        const bool isInside = i < inside;
        ASSERT_EQ(dn[i], isInside ? 1.0f : -1.0f) << i;
        ASSERT_EQ(tn[i], isInside ? 1.0f : -1.0f) << i;
        ASSERT_EQ(fn[i], isInside ? 1.0f : -1.0f) << i;
        ASSERT_EQ(e[i], isInside ? 0.5f : -1.0f) << i;
        ASSERT_EQ(vn[4 * i], isInside ? 1.0f : -1.0f) << i;
        ASSERT_EQ(vn[4 * i + 3], isInside ? 0.0f : -1.0f) << i;
    }
}

// An odd side, so that no work-group size divides the grid, and velocities that reach outside
// the grid from every face and exceed the speed clamp in places.
class AdvectOddGridTest : public AdvectTest {
protected:
    int side() const override { return 33; }
};

TEST_F(AdvectOddGridTest, MatchesTrilinearReference) {
    ASSERT_EQ(N(), 33);
    const auto d = densityPattern(), t = temperaturePattern(), f = fuelPattern();
    const auto e = scalarField([](int x, int y, int z) { return float((x * 3 + y * 5 + z * 11) % 17); });
    const auto v = vectorField([](int x, int y, int z) {
        return std::array{25.0f * std::sin(0.37f * float(y + z)) + 3.0f, 40.0f * std::cos(0.21f * float(x)) - 6.0f,
                          70.0f * std::sin(0.13f * float(x + 2 * y + z))};
    });
    cindel::SimGrid& g = grid();
    write(g.density, d);
    write(g.temperature, t);
    write(g.fuel, f);
    write(g.ember, e);
    write(g.velocity, v);
    const float dt = 0.1f;
    cindel::advectScalars(rt(), dt);
    cindel::advectEmbers(rt(), dt);
    cindel::advectVelocity(rt(), dt);
    const auto d1 = read(g.density), t1 = read(g.temperature), f1 = read(g.fuel), e1 = read(g.ember);
    const auto v1 = readVec(g.velocity);

    const int n = N();
    const double dTol = sampleTol(d, n, 1, 0), tTol = sampleTol(t, n, 1, 0), fTol = sampleTol(f, n, 1, 0),
                 eTol = sampleTol(e, n, 1, 0);
    const double vTol[3] = {sampleTol(v, n, 4, 0), sampleTol(v, n, 4, 1), sampleTol(v, n, 4, 2)};
    int clamped = 0, changed = 0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = idx(x, y, z);
                // The same float expression as the kernel, so both trace back from the same position.
                const double bx = float(x) + 0.5f - v[4 * i] * dt;
                const double by = float(y) + 0.5f - v[4 * i + 1] * dt;
                const double bz = float(z) + 0.5f - v[4 * i + 2] * dt;
                ASSERT_NEAR(d1[i], sampleRef(d, n, 1, 0, bx, by, bz), dTol) << x << "," << y << "," << z;
                ASSERT_NEAR(t1[i], sampleRef(t, n, 1, 0, bx, by, bz), tTol) << x << "," << y << "," << z;
                ASSERT_NEAR(f1[i], sampleRef(f, n, 1, 0, bx, by, bz), fTol) << x << "," << y << "," << z;
                ASSERT_NEAR(e1[i], sampleRef(e, n, 1, 0, bx, by, bz), eTol) << x << "," << y << "," << z;
                for (int c = 0; c < 3; ++c) {
                    const double raw = sampleRef(v, n, 4, c, bx, by, bz) * (1.0 - 0.005);
                    if (std::fabs(raw) > 50.0) ++clamped;
                    ASSERT_NEAR(v1[4 * i + c], std::clamp(raw, -50.0, 50.0), vTol[c]) << x << "," << y << "," << z;
                }
                ASSERT_EQ(v1[4 * i + 3], 0.0f);
                if (d1[i] != d[i]) ++changed;
            }
    EXPECT_GT(changed, static_cast<int>(cells()) / 2);
    EXPECT_GT(clamped, 100);
}

}  // namespace
