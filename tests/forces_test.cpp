// The velocity forces through their host functions against double references, and the curl
// noise's invariants and lattice table. Float against double on values up to ~50: a few 1e-6.
#include "sim/forces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "sim_fixture.h"

namespace {

using simtest::maxAbs;

constexpr float kDt = 1.0f / 24.0f;

class Forces : public simtest::SimKernelTest {
protected:
    // A smooth velocity with every component non-zero almost everywhere, inside the ±50 clamp.
    std::vector<float> startField() const {
        return vectorField([](int x, int y, int z, int c) {
            return static_cast<float>(3.0 * std::sin(0.37 * x + 0.23 * y + 0.11 * z + 1.7 * c) +
                                      1.5 * std::cos(0.29 * x - 0.41 * z + c));
        });
    }
    static bool onShell(int x, int y, int z, int n) { return std::min({x, y, z}) == 0 || std::max({x, y, z}) == n - 1; }
    std::vector<float> noiseField(int frame = 5) {  // the velocity the noise adds to a still grid
        writeVel(std::vector<float>(cells() * 4, 0.0f));
        cindel::enqueueCurlNoise(rt(), settings_, frame, kDt);
        return readVec(grid().velocity);
    }
};

TEST_F(Forces, BuoyancyLiftsTowardsMinusYByBetaTimesTheDrive) {
    // Cells below 1 K are not lifted; 60000 K runs into the clamp; row 3 is lukewarm all along.
    const float temps[] = {-20.0f, 0.0f, 0.999f, 1.0f, 120.0f, 499.0f, 500.0f, 1250.0f, 2000.0f, 3500.0f, 60000.0f};
    const auto T = scalarField([&](int x, int y, int) { return y == 3 ? 1.0f + 0.5f * x : temps[(x + y) % 11]; });
    const auto v0 = startField();
    for (float aggression : {0.0f, 0.6f}) {
        settings_.buoyancy = 1.0f;  // beta 0.001
        settings_.flameAggression = aggression;
        write(grid().temperature, T);
        writeVel(v0);
        cindel::enqueueBuoyancy(rt(), settings_, kDt);
        const auto want = refField(
            [&](int x, int y, int z, int c) {
                const size_t i = idx(x, y, z);
                const double drive =
                    T[i] * (1.0 + aggression * (std::sqrt(std::clamp((T[i] - 500.0) / 1500.0, 0.0, 1.0)) - 1.0));
                return c != 1 || T[i] < 1.0f ? v0[4 * i + c] : std::clamp(v0[4 * i + 1] - 0.001 * drive, -50.0, 50.0);
            },
            4);
        simtest::expectNear(readVec(grid().velocity), want, 1e-4, "aggression " + std::to_string(aggression));
    }
}

TEST_F(Forces, GravityWindAndDragMatchTheReference) {
    struct Case {
        float gravity, wind[3], drag, dt;
    };
    // Gravity is positive downward (+y); settings are tenths of cells/s²; the last case saturates.
    for (const Case& c : {Case{30, {20, -10, 5}, 0.9f, kDt}, Case{40, {30, 20, -30}, 0.0f, kDt},
                          Case{0, {1000, 0, -1000}, 1.0f, 1.0f}}) {
        settings_.gravity = c.gravity, settings_.drag = c.drag;
        settings_.windX = c.wind[0], settings_.windY = c.wind[1], settings_.windZ = c.wind[2];
        const auto v0 = startField();
        writeVel(v0);
        cindel::enqueueApplyForces(rt(), settings_, c.dt);
        const double add[4] = {0.1 * c.wind[0], 0.1 * (c.wind[1] + c.gravity), 0.1 * c.wind[2], 0.0};
        const auto want = refField(
            [&](int x, int y, int z, int k) {
                return std::clamp((v0[4 * idx(x, y, z) + k] + add[k] * c.dt) * c.drag, -50.0, 50.0);
            },
            4);
        simtest::expectNear(readVec(grid().velocity), want, 1e-4, "drag " + std::to_string(c.drag));
    }
}

// The curl as written: 0.5 × undivided differences of neighbours clamped to the grid.
std::array<double, 3> referenceCurl(const std::vector<float>& v, int n, int x, int y, int z) {
    auto at = [&](int xx, int yy, int zz, int c) {
        xx = std::clamp(xx, 0, n - 1), yy = std::clamp(yy, 0, n - 1), zz = std::clamp(zz, 0, n - 1);
        return static_cast<double>(v[4 * ((static_cast<size_t>(zz) * n + yy) * n + xx) + c]);
    };
    return {0.5 * ((at(x, y + 1, z, 2) - at(x, y - 1, z, 2)) - (at(x, y, z + 1, 1) - at(x, y, z - 1, 1))),
            0.5 * ((at(x, y, z + 1, 0) - at(x, y, z - 1, 0)) - (at(x + 1, y, z, 2) - at(x - 1, y, z, 2))),
            0.5 * ((at(x + 1, y, z, 1) - at(x - 1, y, z, 1)) - (at(x, y + 1, z, 0) - at(x, y - 1, z, 0)))};
}

TEST_F(Forces, ConfinementMatchesReferenceAndLeavesTheShell) {
    settings_.vorticity = 8.0f;
    settings_.flameAggression = 0.7f;
    // A swirl round an off-centre tilted axis, fading with distance: |ω| has a gradient everywhere.
    const auto v0 = vectorField([](int x, int y, int z, int c) {
        const double dx = x - 13.3, dy = y - 17.6, dz = z - 15.2;
        const double comp[3] = {-dy * 0.4 + 0.1 * dz, dx * 0.4, 0.2 * dx - 0.1 * dy};
        return static_cast<float>(comp[c] * 6.0 * std::exp(-(dx * dx + dy * dy + 0.5 * dz * dz) / 40.0));
    });
    const auto T = scalarField([](int x, int y, int) { return 90.0f * x + 20.0f * y; });
    writeVel(v0);
    write(grid().temperature, T);
    cindel::enqueueVorticityConfinement(rt(), settings_, kDt);
    const auto v = readVec(grid().velocity);
    const int n = N();
    const auto w = refField([&](int x, int y, int z, int c) { return referenceCurl(v0, n, x, y, z)[size_t(c)]; }, 3);
    auto mag = [&](int x, int y, int z) {
        return std::hypot(w[3 * idx(x, y, z)], w[3 * idx(x, y, z) + 1], w[3 * idx(x, y, z) + 2]);
    };
    double wMax = 0, moved = 0;
    for (size_t i = 0; i < cells(); ++i) wMax = std::max(wMax, std::hypot(w[3 * i], w[3 * i + 1], w[3 * i + 2]));
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = idx(x, y, z);
                if (onShell(x, y, z, n)) {
                    for (int c = 0; c < 4; ++c)
                        ASSERT_EQ(v[4 * i + c], v0[4 * i + c]) << "shell " << x << "," << y << "," << z;
                    continue;
                }
                const double* o = &w[3 * i];
                const double g[3] = {0.5 * (mag(x + 1, y, z) - mag(x - 1, y, z)),
                                     0.5 * (mag(x, y + 1, z) - mag(x, y - 1, z)),
                                     0.5 * (mag(x, y, z + 1) - mag(x, y, z - 1))};
                const double gLen = std::hypot(g[0], g[1], g[2]) + 1e-5;
                const double f[3] = {g[1] * o[2] - g[2] * o[1], g[2] * o[0] - g[0] * o[2], g[0] * o[1] - g[1] * o[0]};
                const double k = 8.0 * (1.0 + 1.4 * std::clamp((T[i] - 500.0) / 1500.0, 0.0, 1.0)) * kDt;
                // |ω| differences carry ~4e-6 × max|ω| of float error, divided by |g| + 1e-5.
                const double tol = k * std::hypot(o[0], o[1], o[2]) * (4e-6 * wMax / gLen + 1e-5) + 1e-4;
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(v[4 * i + c], v0[4 * i + c] + (c < 3 ? k * f[c] / gLen : 0.0), tol)
                        << x << "," << y << "," << z;
                    moved = std::max(moved, std::fabs(double(v[4 * i + c]) - v0[4 * i + c]));
                }
            }
    EXPECT_GT(moved, 0.1) << "confinement moved no interior cell";
}

using CurlNoise = Forces;

// A host divergence as wide as the kernel's differences (one noise unit) commutes with them: it
// vanishes but for rounding (under 1e-5 of max |v|; of order 1 for a really divergent field).
TEST_F(CurlNoise, IsDivergenceFreeUnderTheMatchingDifference) {
    settings_.turbulence = 40.0f;
    for (const auto& [scale, h] : {std::pair{0.1f, 1}, std::pair{1.0f, 10}}) {  // one noise unit: 1 and 10 cells
        settings_.turbulenceScale = scale;
        const auto v = noiseField();
        auto at = [&](int x, int y, int z, int c) { return static_cast<double>(v[4 * idx(x, y, z) + c]); };
        double divMax = 0, vMax = 0;
        for (int z = h; z < N() - h; ++z)
            for (int y = h; y < N() - h; ++y)
                for (int x = h; x < N() - h; ++x) {
                    divMax = std::max(divMax, std::fabs((at(x + h, y, z, 0) - at(x - h, y, z, 0)) +
                                                        (at(x, y + h, z, 1) - at(x, y - h, z, 1)) +
                                                        (at(x, y, z + h, 2) - at(x, y, z - h, 2))) /
                                                  (2.0 * h));
                    for (int c = 0; c < 3; ++c) vMax = std::max(vMax, std::fabs(at(x, y, z, c)));
                }
        EXPECT_TRUE(vMax > 0.3 && divMax < 5e-5 * vMax) << "scale " << scale << ": " << divMax << " against " << vMax;
    }
}

TEST_F(CurlNoise, StrengthScaleAndSeedActAsDocumented) {
    settings_.turbulence = 30.0f;
    // 0.5 × a difference of two fractal sums in [0, 0.875], × strength × dt, added to the flow.
    const auto alone = noiseField(), v0 = startField();
    EXPECT_LE(maxAbs(alone), 0.875 * 30.0 * kDt * (1 + 1e-6));
    EXPECT_GT(maxAbs(alone), 0.0875 * 30.0 * kDt);
    writeVel(v0);
    cindel::enqueueCurlNoise(rt(), settings_, 5, kDt);
    const auto sum = refField(
        [&](int x, int y, int z, int c) { return double(v0[4 * idx(x, y, z) + c]) + alone[4 * idx(x, y, z) + c]; }, 4);
    simtest::expectNear(readVec(grid().velocity), sum, 1e-5, "noise added to a moving grid");
    settings_.turbulence = 1e6f;
    EXPECT_EQ(maxAbs(noiseField()), 50.0);
    settings_.turbulence = 0.0009f;  // below the threshold: nothing at all
    EXPECT_EQ(maxAbs(noiseField()), 0.0);
    settings_.turbulence = 30.0f;
    settings_.turbulenceScale = 0.1f;
    const auto tenth = noiseField(12);
    for (float scale : {0.05f, 0.0f, -3.0f, 0.2f}) {
        settings_.turbulenceScale = scale;
        EXPECT_EQ(simtest::differingBits(noiseField(12), tenth) == 0, scale < 0.1f) << "scale " << scale;
    }
    settings_.turbulenceSpeed = 2.0f;
    settings_.randomSeed = 3;
    EXPECT_NEAR(cindel::curlNoiseTime(settings_, 10, 0.04f), 10 * 0.04 * 2.0 + 3 * 0.137, 1e-6);
}

// The lattice table only changes where the corner hashes come from: any bit it changes is a fault.
TEST_F(CurlNoise, LatticeTableGivesTheDirectBitsAndFallsBackWhereDocumented) {
    struct Case {
        int side;
        float scale, speed;
        int seed, frame;
        bool table;
    };
    // Negative coordinates; ±10^6 frames at speed 5 reach 600,000 (a float's last bit 1/16 step).
    // Over 16 entries a cell fall back: scale ≤ 0.1 (~200), 0.3 at side 32 (19; 15 at side 48);
    // then play order, and side and scale changes that resize the boxes and back.
    const Case cases[] = {{32, 1, 1, 0, 5, true},     {32, 5, 1, 7, -200, true},    {32, 0.45f, 1, 9999, 37, true},
                          {48, 0.3f, 1, 0, 5, true},  {32, 1, 5, 0, 1000000, true}, {32, 1, 2.37f, 0, -1000000, true},
                          {32, 0.1f, 1, 0, 3, false}, {32, 0.05f, 1, 0, 3, false},  {32, 0.3f, 1, 0, 3, false},
                          {48, 0.1f, 1, 0, 3, false}, {32, 1, 2, 0, 0, true},       {32, 1, 2, 0, 1, true},
                          {32, 1, 2, 0, 9, true},     {32, 1, 2, 0, 2, true},       {48, 1, 2, 0, 2, true},
                          {32, 1, 2, 0, 2, true},     {32, 0.5f, 2, 0, 2, true},    {32, 1, 2, 0, 2, true}};
    for (const Case& c : cases) {
        if (c.side != N()) {
            ASSERT_TRUE(cindel::resizeGrid(rt(), c.side));
        }
        settings_.turbulence = 40.0f, settings_.turbulenceScale = c.scale, settings_.turbulenceSpeed = c.speed;
        settings_.randomSeed = c.seed;
        const auto start = startField();
        writeVel(start);
        EXPECT_EQ(cindel::enqueueCurlNoise(rt(), settings_, c.frame, kDt, cindel::CurlNoisePath::Direct),
                  cindel::CurlNoisePath::Direct);
        const auto direct = readVec(grid().velocity);
        writeVel(start);
        const bool table = cindel::enqueueCurlNoise(rt(), settings_, c.frame, kDt) == cindel::CurlNoisePath::Lattice;
        EXPECT_EQ(table, c.table) << "scale " << c.scale << " frame " << c.frame;
        EXPECT_EQ(simtest::differingBits(direct, readVec(grid().velocity)), 0u)
            << "scale " << c.scale << " frame " << c.frame;
        EXPECT_GT(simtest::differingBits(direct, start), cells()) << "the noise moved nothing";
    }
}

}  // namespace
