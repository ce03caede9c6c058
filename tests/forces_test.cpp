// The velocity forces on small grids, each through its host function (so the settings-to-kernel
// mapping and the argument binding are covered too): buoyancy and environmental forces against a
// double-precision host reference, the curl of linear fields, confinement against a host
// reference and its untouched outer shell, the curl noise's discrete divergence, scale floor,
// determinism and seed dependence, and shredding's pivot, shell and saturation.
//
// Device results are single precision built with -cl-fast-relaxed-math; references are double.
// Every invariant test also checks that its scenario moved something.
#include "sim/forces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "gpu/launch.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using simtest::SimTest;

constexpr float kDt = 1.0f / 24.0f;

// Tolerances, float against double. A handful of float operations on values of order 1–50
// leaves a relative error of a few 1e-7; 1e-5 of the largest magnitude involved is ample while
// still far below any effect a wrong formula would have.
constexpr double kRelTol = 1e-5;
constexpr double kAbsTol = 1e-6;

// A smooth, deterministic velocity with every component non-zero almost everywhere, well inside
// the ±50 clamp.
float startVelocity(int x, int y, int z, int c) {
    const double a = 0.37 * x + 0.23 * y + 0.11 * z + 1.7 * c;
    return static_cast<float>(3.0 * std::sin(a) + 1.5 * std::cos(0.29 * x - 0.41 * z + c));
}

class Forces : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
        violationsBefore_ = cindel::kernelContractViolations();
    }

    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch was refused";
        }
    }

    std::vector<float> vectorField(const std::function<float(int, int, int, int)>& f) const {
        std::vector<float> v(cells() * 4);
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const size_t i = idx(x, y, z) * 4;
                    for (int c = 0; c < 3; ++c) v[i + c] = f(x, y, z, c);
                    v[i + 3] = 0.0f;
                }
        return v;
    }

    std::vector<float> startField() const { return vectorField(startVelocity); }

    static bool onShell(int x, int y, int z, int n) {
        return x == 0 || y == 0 || z == 0 || x == n - 1 || y == n - 1 || z == n - 1;
    }

    static double maxAbsDiff(const std::vector<float>& a, const std::vector<float>& b) {
        double m = 0;
        for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(static_cast<double>(a[i]) - b[i]));
        return m;
    }

    static double maxAbs(const std::vector<float>& a) {
        double m = 0;
        for (float v : a) m = std::max(m, std::fabs(static_cast<double>(v)));
        return m;
    }

    FrameSettings settings_{};
    int violationsBefore_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Buoyancy

double buoyancyDrive(double T, double aggression) {
    if (aggression <= 0.001) return T;
    const double tn = std::clamp((T - 500.0) / 1500.0, 0.0, 1.0);
    return T * (1.0 + aggression * (std::sqrt(tn) - 1.0));
}

TEST_F(Forces, BuoyancyLiftsTowardsMinusYByBetaTimesTemperature) {
    settings_.buoyancy = 2.0f;  // beta 0.002
    settings_.flameAggression = 0.0f;
    const auto T = scalarField([](int x, int y, int z) { return 40.0f * x + 7.0f * y + 3.0f * z + 0.25f; });
    const auto v0 = startField();
    write(grid().temperature, T);
    write(grid().velocity, v0);
    cindel::enqueueBuoyancy(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);

    double lifted = 0;
    for (size_t i = 0; i < cells(); ++i) {
        EXPECT_EQ(v[4 * i + 0], v0[4 * i + 0]);
        EXPECT_EQ(v[4 * i + 2], v0[4 * i + 2]);
        EXPECT_EQ(v[4 * i + 3], 0.0f);
        const double expected = T[i] < 1.0f ? v0[4 * i + 1] : v0[4 * i + 1] - 0.002 * T[i];
        ASSERT_NEAR(v[4 * i + 1], expected, kRelTol * (std::fabs(expected) + 0.002 * T[i]) + kAbsTol) << "cell " << i;
        lifted = std::max(lifted, static_cast<double>(v0[4 * i + 1] - v[4 * i + 1]));
    }
    EXPECT_GT(lifted, 2.0) << "the hot cells were not lifted";
}

TEST_F(Forces, BuoyancyIgnoresCellsBelowOneKelvinAndDt) {
    settings_.buoyancy = 5.0f;
    settings_.flameAggression = 0.3f;
    // Alternating cold (0, 0.999, negative) and hot cells.
    const auto T = scalarField([](int x, int y, int z) {
        const int k = (x + 2 * y + 3 * z) % 4;
        return k == 0 ? 0.0f : k == 1 ? 0.999f : k == 2 ? -20.0f : 1500.0f;
    });
    const auto v0 = startField();
    write(grid().temperature, T);
    write(grid().velocity, v0);
    cindel::enqueueBuoyancy(rt(), settings_, kDt);
    const auto vShortStep = readVec(grid().velocity);
    write(grid().velocity, v0);
    cindel::enqueueBuoyancy(rt(), settings_, 1.0f);
    const auto vLongStep = readVec(grid().velocity);

    EXPECT_EQ(std::memcmp(vShortStep.data(), vLongStep.data(), vLongStep.size() * sizeof(float)), 0)
        << "buoyancy is a per-step impulse: dt must not change it";
    int moved = 0;
    for (size_t i = 0; i < cells(); ++i) {
        if (T[i] < 1.0f) {
            ASSERT_EQ(vShortStep[4 * i + 1], v0[4 * i + 1]) << "cold cell " << i << " at " << T[i] << " K was lifted";
        } else if (vShortStep[4 * i + 1] < v0[4 * i + 1] - 1.0f) {
            ++moved;
        }
    }
    EXPECT_EQ(moved, static_cast<int>(cells() / 4)) << "every hot cell should have risen";
}

TEST_F(Forces, BuoyancyAggressionScalesTheLiftByTemperature) {
    settings_.buoyancy = 1.0f;  // beta 0.001
    settings_.flameAggression = 0.6f;
    const float temps[] = {1.0f, 120.0f, 499.0f, 500.0f, 800.0f, 1250.0f, 1999.0f, 2000.0f, 3500.0f, 9000.0f};
    constexpr int kTemps = sizeof(temps) / sizeof(temps[0]);
    const auto T = scalarField([&](int x, int, int) { return temps[x % kTemps]; });
    write(grid().temperature, T);
    write(grid().velocity, std::vector<float>(cells() * 4, 0.0f));
    cindel::enqueueBuoyancy(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);

    // Spot values of the formula itself, so that the reference below cannot share an error.
    EXPECT_DOUBLE_EQ(buoyancyDrive(300.0, 0.6), 300.0 * 0.4);  // below 500 K: lift × (1 − a)
    EXPECT_DOUBLE_EQ(buoyancyDrive(2500.0, 0.6), 2500.0);      // from 2000 K: full lift
    EXPECT_NEAR(buoyancyDrive(1250.0, 0.6), 1250.0 * (1.0 + 0.6 * (std::sqrt(0.5) - 1.0)), 1e-9);
    for (int k = 0; k < kTemps; ++k) {
        const double expected = -0.001 * buoyancyDrive(temps[k], 0.6);
        const float got = v[4 * idx(k, 5, 7) + 1];
        EXPECT_NEAR(got, expected, kRelTol * std::fabs(expected) + kAbsTol) << temps[k] << " K";
        EXPECT_LT(got, 0.0f) << temps[k] << " K: every cell at or above 1 K rises";
    }
}

TEST_F(Forces, BuoyancyClampsTheVerticalVelocity) {
    settings_.buoyancy = 10.0f;  // beta 0.01: 10000 K would give −100 cells/s
    settings_.flameAggression = 0.0f;
    write(grid().temperature, std::vector<float>(cells(), 10000.0f));
    write(grid().velocity, std::vector<float>(cells() * 4, 0.0f));
    cindel::enqueueBuoyancy(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);
    for (size_t i = 0; i < cells(); ++i) ASSERT_EQ(v[4 * i + 1], -50.0f) << "cell " << i;
}

// ---------------------------------------------------------------------------------------------
// Environmental forces

TEST_F(Forces, ApplyForcesAddsGravityAndWindThenDrag) {
    settings_.gravity = 30.0f;  // 3 cells/s² downward (+y)
    settings_.windX = 20.0f;
    settings_.windY = -10.0f;
    settings_.windZ = 5.0f;
    settings_.drag = 0.9f;
    const auto v0 = startField();
    write(grid().velocity, v0);
    cindel::enqueueApplyForces(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);
    const double dt = kDt;
    const double add[3] = {2.0 * dt, 3.0 * dt - 1.0 * dt, 0.5 * dt};
    for (size_t i = 0; i < cells(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const double expected = (v0[4 * i + c] + add[c]) * 0.9;
            ASSERT_NEAR(v[4 * i + c], expected, kRelTol * std::fabs(expected) + kAbsTol) << "cell " << i << " c " << c;
        }
        ASSERT_EQ(v[4 * i + 3], 0.0f);
    }
    EXPECT_GT(maxAbsDiff(v, v0), 0.1);
}

TEST_F(Forces, GravityIsPositiveDownward) {
    settings_.gravity = 50.0f;
    settings_.drag = 1.0f;
    write(grid().velocity, std::vector<float>(cells() * 4, 0.0f));
    cindel::enqueueApplyForces(rt(), settings_, 0.5f);
    const auto v = readVec(grid().velocity);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_NEAR(v[4 * i + 1], 2.5f, 1e-6f) << "gravity 50 × 0.1 × 0.5 s should push +y (down)";
        ASSERT_EQ(v[4 * i + 0], 0.0f);
        ASSERT_EQ(v[4 * i + 2], 0.0f);
    }
}

TEST_F(Forces, DragOfOneKeepsVelocityExactly) {
    settings_.gravity = 0.0f;
    settings_.drag = 1.0f;
    const auto v0 = startField();
    ASSERT_GT(maxAbs(v0), 1.0);
    write(grid().velocity, v0);
    cindel::enqueueApplyForces(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);
    EXPECT_EQ(std::memcmp(v.data(), v0.data(), v.size() * sizeof(float)), 0);
}

TEST_F(Forces, DragOfZeroStopsAllMotionInOneStep) {
    settings_.gravity = 40.0f;
    settings_.windX = 30.0f;
    settings_.windY = 20.0f;
    settings_.windZ = -30.0f;
    settings_.drag = 0.0f;
    const auto v0 = startField();
    ASSERT_GT(maxAbs(v0), 1.0) << "the scenario must start moving";
    write(grid().velocity, v0);
    cindel::enqueueApplyForces(rt(), settings_, kDt);
    EXPECT_EQ(maxAbs(readVec(grid().velocity)), 0.0);
}

TEST_F(Forces, ApplyForcesClampsEachComponent) {
    settings_.windX = 1000.0f;  // +100 cells/s over one second
    settings_.windZ = -1000.0f;
    settings_.drag = 1.0f;
    write(grid().velocity, std::vector<float>(cells() * 4, 0.0f));
    cindel::enqueueApplyForces(rt(), settings_, 1.0f);
    const auto v = readVec(grid().velocity);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_EQ(v[4 * i + 0], 50.0f);
        ASSERT_EQ(v[4 * i + 2], -50.0f);
    }
}

// ---------------------------------------------------------------------------------------------
// Curl and vorticity confinement

// The curl as the kernel defines it: 0.5 × undivided differences of neighbours clamped to the grid.
std::array<double, 3> referenceCurl(const std::vector<float>& v, int n, int x, int y, int z) {
    auto at = [&](int xx, int yy, int zz, int c) {
        xx = std::clamp(xx, 0, n - 1);
        yy = std::clamp(yy, 0, n - 1);
        zz = std::clamp(zz, 0, n - 1);
        return static_cast<double>(v[4 * ((static_cast<size_t>(zz) * n + yy) * n + xx) + c]);
    };
    return {0.5 * ((at(x, y + 1, z, 2) - at(x, y - 1, z, 2)) - (at(x, y, z + 1, 1) - at(x, y, z - 1, 1))),
            0.5 * ((at(x, y, z + 1, 0) - at(x, y, z - 1, 0)) - (at(x + 1, y, z, 2) - at(x - 1, y, z, 2))),
            0.5 * ((at(x + 1, y, z, 1) - at(x - 1, y, z, 1)) - (at(x, y + 1, z, 0) - at(x, y - 1, z, 0)))};
}

TEST_F(Forces, CurlOfALinearFieldIsItsRotation) {
    // v = G · (p − c): the curl of a linear field is (G_zy − G_yz, G_xz − G_zx, G_yx − G_xy)
    // everywhere inside; with cell spacing 1 the kernel's 0.5 × (two-cell difference) equals it.
    const double G[3][3] = {{0.10, -0.30, 0.20}, {0.25, -0.05, -0.15}, {0.05, 0.12, 0.02}};
    const double c = 15.5;
    const auto v = vectorField([&](int x, int y, int z, int r) {
        return static_cast<float>(G[r][0] * (x - c) + G[r][1] * (y - c) + G[r][2] * (z - c));
    });
    write(grid().velocity, v);
    // Confinement with epsilon 0 leaves the velocity alone but still computes the curl.
    settings_.vorticity = 0.0f;
    cindel::enqueueVorticityConfinement(rt(), settings_, kDt);
    const auto w = readVec(grid().curl);
    const double analytic[3] = {G[2][1] - G[1][2], G[0][2] - G[2][0], G[1][0] - G[0][1]};
    const int n = N();
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = 4 * idx(x, y, z);
                const auto ref = referenceCurl(v, n, x, y, z);
                for (int k = 0; k < 3; ++k) {
                    // Differences of values up to ~10 lose a few float ulps: 1e-5 absolute.
                    ASSERT_NEAR(w[i + k], ref[k], 1e-5) << x << "," << y << "," << z << " component " << k;
                    if (!onShell(x, y, z, n)) {
                        ASSERT_NEAR(w[i + k], analytic[k], 1e-5);
                    }
                }
                ASSERT_EQ(w[i + 3], 0.0f);
            }
    // The rigid rotation (−y, x, 0) has curl (0, 0, 2); on a face the one-sided difference
    // counts half, so a face cell (not an edge) reads 1.5.
    const auto rot = vectorField([&](int x, int y, int, int r) {
        return static_cast<float>(r == 0 ? -(y - c) : r == 1 ? (x - c) : 0.0);
    });
    write(grid().velocity, rot);
    cindel::enqueueVorticityConfinement(rt(), settings_, kDt);
    const auto wr = readVec(grid().curl);
    EXPECT_NEAR(wr[4 * idx(7, 9, 11) + 2], 2.0f, 1e-5f);
    EXPECT_NEAR(wr[4 * idx(0, 9, 11) + 2], 1.5f, 1e-5f);
    EXPECT_NEAR(wr[4 * idx(0, 0, 11) + 2], 1.0f, 1e-5f);
    EXPECT_NEAR(wr[4 * idx(7, 9, 11) + 0], 0.0f, 1e-6f);
}

// A swirl around an off-centre, tilted axis, fading with distance, so |ω| has a gradient in
// every direction and no cell sits exactly where that gradient vanishes by symmetry.
float swirl(int x, int y, int z, int c) {
    const double dx = x - 13.3, dy = y - 17.6, dz = z - 15.2;
    const double fall = 6.0 * std::exp(-(dx * dx + dy * dy + 0.5 * dz * dz) / 40.0);
    const double comp[3] = {-dy * 0.4 + 0.1 * dz, dx * 0.4, 0.2 * dx - 0.1 * dy};
    return static_cast<float>(comp[c] * fall);
}

double flameT(double T) {
    return std::clamp((T - 500.0) / 1500.0, 0.0, 1.0);
}

TEST_F(Forces, ConfinementMatchesReferenceAndLeavesTheShell) {
    settings_.vorticity = 8.0f;
    settings_.flameAggression = 0.7f;
    const auto v0 = vectorField(swirl);
    const auto T = scalarField([](int x, int y, int) { return 90.0f * x + 20.0f * y; });
    write(grid().velocity, v0);
    write(grid().temperature, T);
    cindel::enqueueVorticityConfinement(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);

    const int n = N();
    std::vector<std::array<double, 3>> w(cells());
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) w[idx(x, y, z)] = referenceCurl(v0, n, x, y, z);
    auto mag = [&](int x, int y, int z) {
        const auto& a = w[idx(x, y, z)];
        return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    };
    double wMax = 0;
    for (const auto& a : w) wMax = std::max(wMax, std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]));

    double moved = 0;
    double worst = 0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = idx(x, y, z);
                if (onShell(x, y, z, n)) {
                    for (int c = 0; c < 4; ++c)
                        ASSERT_EQ(v[4 * i + c], v0[4 * i + c]) << "shell " << x << "," << y << "," << z;
                    continue;
                }
                const double g[3] = {0.5 * (mag(x + 1, y, z) - mag(x - 1, y, z)),
                                     0.5 * (mag(x, y + 1, z) - mag(x, y - 1, z)),
                                     0.5 * (mag(x, y, z + 1) - mag(x, y, z - 1))};
                const double gLen = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
                const double nn[3] = {g[0] / (gLen + 1e-5), g[1] / (gLen + 1e-5), g[2] / (gLen + 1e-5)};
                const auto& o = w[i];
                const double f[3] = {nn[1] * o[2] - nn[2] * o[1], nn[2] * o[0] - nn[0] * o[2],
                                     nn[0] * o[1] - nn[1] * o[0]};
                const double k = 8.0 * (1.0 + 2.0 * 0.7 * flameT(T[i])) * kDt;
                // |ω| differences carry a float error of about 1e-6 × max|ω|, which the normalisation
                // divides by |g| + 1e-5; the rest is ordinary float rounding of terms up to ~10.
                const double nErr = 4e-6 * wMax / (gLen + 1e-5);
                const double oLen = std::sqrt(o[0] * o[0] + o[1] * o[1] + o[2] * o[2]);
                for (int c = 0; c < 3; ++c) {
                    const double expected = v0[4 * i + c] + k * f[c];
                    const double tol = kRelTol * std::fabs(expected) + k * oLen * (nErr + 1e-5) + kAbsTol;
                    worst = std::max(worst, std::fabs(v[4 * i + c] - expected) / tol);
                    ASSERT_NEAR(v[4 * i + c], expected, tol) << x << "," << y << "," << z << " c " << c;
                    moved = std::max(moved, std::fabs(static_cast<double>(v[4 * i + c]) - v0[4 * i + c]));
                }
            }
    EXPECT_GT(moved, 0.1) << "confinement moved no interior cell";
    RecordProperty("worst_error_over_tolerance", std::to_string(worst));
}

// ---------------------------------------------------------------------------------------------
// Curl noise

class CurlNoise : public Forces {
protected:
    // The velocity the noise adds to a still grid.
    std::vector<float> noiseField(const FrameSettings& s, int frame = 5) {
        write(grid().velocity, std::vector<float>(cells() * 4, 0.0f));
        cindel::enqueueCurlNoise(rt(), s, frame, kDt);
        return readVec(grid().velocity);
    }

    // Largest |central-difference divergence| with step h cells, over cells at least h inside,
    // and the largest velocity component there.
    std::pair<double, double> divergence(const std::vector<float>& v, int h) const {
        double divMax = 0, vMax = 0;
        const int n = N();
        auto at = [&](int x, int y, int z, int c) { return static_cast<double>(v[4 * idx(x, y, z) + c]); };
        for (int z = h; z < n - h; ++z)
            for (int y = h; y < n - h; ++y)
                for (int x = h; x < n - h; ++x) {
                    const double d = (at(x + h, y, z, 0) - at(x - h, y, z, 0)) +
                                     (at(x, y + h, z, 1) - at(x, y - h, z, 1)) +
                                     (at(x, y, z + h, 2) - at(x, y, z - h, 2));
                    divMax = std::max(divMax, std::fabs(d) / (2.0 * h));
                    for (int c = 0; c < 3; ++c) vMax = std::max(vMax, std::fabs(at(x, y, z, c)));
                }
        return {divMax, vMax};
    }
};

TEST_F(CurlNoise, TimeFollowsFrameSpeedAndSeed) {
    settings_.turbulenceSpeed = 2.0f;
    settings_.randomSeed = 3;
    EXPECT_NEAR(cindel::curlNoiseTime(settings_, 10, 0.04f), 10 * 0.04 * 2.0 + 3 * 0.137, 1e-6);
    settings_.randomSeed = 0;
    EXPECT_EQ(cindel::curlNoiseTime(settings_, 0, 0.04f), 0.0f);
}

// The kernel differentiates the potentials by central differences of one noise unit. At base
// frequency 1 (turbulenceScale 0.1) one noise unit is one cell, so the host's central-difference
// divergence with a one-cell step applies the same difference operators, which commute: the
// discrete divergence of the discrete curl vanishes but for float rounding. Most of that rounding
// is of fractal sums of order 0.5 (ulp 6e-8) and stays below 2e-6 of the largest component; the
// worst cells are those whose noise coordinates cross a power of two (32, 128), where a
// neighbour's coordinate is rounded on a coarser step (up to 1.5e-5 noise units) and is no longer
// exactly q ± 1: measured 9e-6 there. The bound, 5e-5, leaves room for other times and seeds; a
// field with a real divergence shows one of order 1 relative to its magnitude (the same field
// measured with a one-cell step at the default scale, where that step no longer matches, shows
// about 0.5).
TEST_F(CurlNoise, IsDivergenceFreeUnderTheMatchingDifference) {
    settings_.turbulence = 40.0f;
    settings_.turbulenceScale = 0.1f;
    const auto v = noiseField(settings_);
    const auto [divMax, vMax] = divergence(v, 1);
    EXPECT_GT(vMax, 0.3) << "the noise added no velocity";
    EXPECT_LT(divMax, 5e-5 * vMax) << "max |div| " << divMax << " against max |v| " << vMax;
    RecordProperty("div_over_v_step1", std::to_string(divMax / vMax));
}

// At the default scale one noise unit is ten cells; the matching difference is ten cells wide.
TEST_F(CurlNoise, IsDivergenceFreeAtTheDefaultScale) {
    settings_.turbulence = 40.0f;
    settings_.turbulenceScale = 1.0f;
    const auto v = noiseField(settings_);
    const auto [divMax, vMax] = divergence(v, 10);
    EXPECT_GT(vMax, 0.3) << "the noise added no velocity";
    // The cell-to-noise mapping x × 0.1 is not exact in float, so x + 10 lands within a few ulps
    // of the kernel's q + 1, and the coordinates cross powers of two as above; measured 1.5e-7.
    EXPECT_LT(divMax, 5e-5 * vMax) << "max |div| " << divMax << " against max |v| " << vMax;
    RecordProperty("div_over_v_step10", std::to_string(divMax / vMax));
}

TEST_F(CurlNoise, ScaleBelowATenthBehavesAsATenth) {
    settings_.turbulenceScale = 0.1f;
    const auto reference = noiseField(settings_);
    ASSERT_GT(maxAbs(reference), 0.1);
    for (float scale : {0.05f, 0.0f, -3.0f}) {
        settings_.turbulenceScale = scale;
        const auto v = noiseField(settings_);
        EXPECT_EQ(std::memcmp(v.data(), reference.data(), v.size() * sizeof(float)), 0) << "scale " << scale;
    }
    settings_.turbulenceScale = 0.2f;
    EXPECT_GT(maxAbsDiff(noiseField(settings_), reference), 0.05) << "the scale must matter above 0.1";
}

TEST_F(CurlNoise, SameTimeGivesTheSameFieldAndOtherSeedsDiffer) {
    const auto first = noiseField(settings_, 12);
    const auto second = noiseField(settings_, 12);
    ASSERT_GT(maxAbs(first), 0.1);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(float)), 0);

    settings_.randomSeed = 1;
    const auto seeded = noiseField(settings_, 12);
    size_t differing = 0;
    for (size_t i = 0; i < seeded.size(); ++i) differing += seeded[i] != first[i];
    // w stays 0 everywhere; nearly every x, y, z component should change.
    EXPECT_GT(differing, cells() * 3 * 9 / 10);
    EXPECT_GT(maxAbsDiff(seeded, first), 0.25 * maxAbs(first));

    settings_.randomSeed = 0;
    EXPECT_GT(maxAbsDiff(noiseField(settings_, 13), first), 0.0) << "the field must evolve from frame to frame";
}

TEST_F(CurlNoise, AddsToTheVelocityWithinItsBound) {
    settings_.turbulence = 30.0f;
    const auto alone = noiseField(settings_);
    // Each difference of two fractal sums in [0, 0.875] is at most 0.875 in size, and a component
    // is 0.5 × the difference of two of them.
    const double bound = 0.875 * 30.0 * kDt;
    EXPECT_LE(maxAbs(alone), bound * (1 + 1e-6));
    EXPECT_GT(maxAbs(alone), 0.1 * bound);

    const auto v0 = startField();
    write(grid().velocity, v0);
    cindel::enqueueCurlNoise(rt(), settings_, 5, kDt);
    const auto v = readVec(grid().velocity);
    for (size_t i = 0; i < v.size(); ++i) {
        ASSERT_NEAR(v[i], v0[i] + alone[i], 1e-5) << "element " << i;
    }
}

TEST_F(CurlNoise, WeakStrengthIsNoOpAndStrongIsClamped) {
    settings_.turbulence = 0.0009f;
    const auto v0 = startField();
    write(grid().velocity, v0);
    cindel::enqueueCurlNoise(rt(), settings_, 5, kDt);
    auto v = readVec(grid().velocity);
    EXPECT_EQ(std::memcmp(v.data(), v0.data(), v.size() * sizeof(float)), 0);

    settings_.turbulence = 1e6f;
    v = noiseField(settings_);
    size_t atLimit = 0;
    for (float c : v) {
        ASSERT_LE(std::fabs(c), 50.0f);
        atLimit += std::fabs(c) == 50.0f;
    }
    EXPECT_GT(atLimit, cells()) << "a huge strength should saturate most components";
}

// ---------------------------------------------------------------------------------------------
// Shredding

struct ShredExpect {
    bool changed;
    double v[3];
};

ShredExpect referenceShred(const std::vector<float>& v0, const std::vector<float>& T, int n, int x, int y, int z,
                           double strength, double dt) {
    auto t = [&](int xx, int yy, int zz) {
        return static_cast<double>(T[(static_cast<size_t>(zz) * n + yy) * n + xx]);
    };
    const size_t i = (static_cast<size_t>(z) * n + y) * n + x;
    ShredExpect e{false, {v0[4 * i], v0[4 * i + 1], v0[4 * i + 2]}};
    if (x == 0 || y == 0 || z == 0 || x == n - 1 || y == n - 1 || z == n - 1 || t(x, y, z) < 1.0) return e;
    const double g[3] = {0.5 * (t(x + 1, y, z) - t(x - 1, y, z)), 0.5 * (t(x, y + 1, z) - t(x, y - 1, z)),
                         0.5 * (t(x, y, z + 1) - t(x, y, z - 1))};
    const double gmag = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    if (gmag < 1.0) return e;
    const double rate = -std::clamp((t(x, y, z) - 900.0) / 600.0, -1.0, 1.0);
    const double gResp = gmag / (gmag + 400.0);
    const double vPar = (e.v[0] * g[0] + e.v[1] * g[1] + e.v[2] * g[2]) / gmag;
    const double k = std::clamp(strength * rate * gResp * dt, -0.45, 0.9);
    for (int c = 0; c < 3; ++c) e.v[c] += g[c] / gmag * vPar * k;
    e.changed = true;
    return e;
}

TEST_F(Forces, ShredMatchesReferenceAndSkipsShellAndColdCells) {
    settings_.flameTear = 2.0f;  // strength 16
    // Fronts in all directions, cold cells (T < 1) inside, a flat (gradient-free) block.
    const auto T = scalarField([](int x, int y, int z) {
        if (x >= 20 && x <= 26 && y >= 20 && y <= 26 && z >= 20 && z <= 26) return 700.0f;  // flat
        if ((x * 7 + y * 3 + z) % 11 == 0) return 0.5f;                                     // cold
        return 60.0f * x + 25.0f * std::abs(y - 12) + 10.0f * z;
    });
    const auto v0 = startField();
    write(grid().temperature, T);
    write(grid().velocity, v0);
    cindel::enqueueShred(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);

    const int n = N();
    int changed = 0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = idx(x, y, z);
                const ShredExpect e = referenceShred(v0, T, n, x, y, z, 16.0, kDt);
                if (!e.changed) {
                    for (int c = 0; c < 4; ++c) ASSERT_EQ(v[4 * i + c], v0[4 * i + c]) << x << "," << y << "," << z;
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    ASSERT_NEAR(v[4 * i + c], e.v[c], kRelTol * 10.0 + kAbsTol) << x << "," << y << "," << z;
                }
                changed += std::fabs(v[4 * i] - v0[4 * i]) > 1e-3f;
            }
    EXPECT_GT(changed, 1000) << "the fronts should have shredded the flow";
    // The scenario really contains the skipped kinds of cell.
    EXPECT_EQ(T[idx(23, 23, 23)], 700.0f);
    EXPECT_EQ(T[idx(11, 0, 0)], 0.5f);
}

TEST_F(Forces, ShredRateIsZeroAtThePivot) {
    settings_.flameTear = 5.0f;
    // 900 K exactly on the slab x = 16, with a 40 K/cell gradient through it.
    const auto T = scalarField([](int x, int, int) { return 900.0f + 40.0f * (x - 16); });
    const auto v0 = startField();
    write(grid().temperature, T);
    write(grid().velocity, v0);
    cindel::enqueueShred(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);
    double movedElsewhere = 0;
    for (int z = 1; z < N() - 1; ++z)
        for (int y = 1; y < N() - 1; ++y) {
            const size_t i = idx(16, y, z);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(v[4 * i + c], v0[4 * i + c]) << "pivot cell y " << y << " z " << z;
            const size_t j = idx(10, y, z);
            movedElsewhere = std::max(movedElsewhere, std::fabs(static_cast<double>(v[4 * j]) - v0[4 * j]));
        }
    EXPECT_GT(movedElsewhere, 0.01) << "cells off the pivot should be stretched";
}

TEST_F(Forces, ShredSaturatesFarBelowThePivotAndSquashesAbove) {
    // Far below the pivot (T ≤ 300 K) the rate is 1; a strength of 800 makes k = 0.9 wherever
    // gResp × 800 / 24 > 0.9, i.e. gmag above ~11 K/cell. Far above (≥ 1500 K) it is −1 and
    // k = −0.45. Gradient along x only, velocity mostly along x: v.x × (1 + k). Checked at x = 10.
    settings_.flameTear = 100.0f;
    const auto Tcold = scalarField([](int x, int, int) { return 10.0f + 20.0f * x; });  // 210 K at x = 10
    const auto vx = vectorField([](int, int, int, int c) { return c == 0 ? 4.0f : c == 1 ? 1.0f : 0.0f; });
    write(grid().temperature, Tcold);
    write(grid().velocity, vx);
    cindel::enqueueShred(rt(), settings_, kDt);
    auto v = readVec(grid().velocity);
    EXPECT_NEAR(v[4 * idx(10, 10, 10)], 4.0f * 1.9f, 1e-5f);
    EXPECT_EQ(v[4 * idx(10, 10, 10) + 1], 1.0f) << "only the part along the gradient changes";

    const auto Thot = scalarField([](int x, int, int) { return 2000.0f + 30.0f * x; });
    write(grid().temperature, Thot);
    write(grid().velocity, vx);
    cindel::enqueueShred(rt(), settings_, kDt);
    v = readVec(grid().velocity);
    EXPECT_NEAR(v[4 * idx(10, 10, 10)], 4.0f * 0.55f, 1e-5f);

    // A small strength stays below saturation: k = strength × gResp × dt exactly.
    settings_.flameTear = 0.5f;  // strength 4
    write(grid().temperature, Tcold);
    write(grid().velocity, vx);
    cindel::enqueueShred(rt(), settings_, kDt);
    v = readVec(grid().velocity);
    const double k = 4.0 * (20.0 / 420.0) * kDt;
    EXPECT_NEAR(v[4 * idx(10, 10, 10)], 4.0 * (1.0 + k), 1e-5);
    EXPECT_GT(k, 1e-3) << "the unsaturated case must still move something";
}

}  // namespace
