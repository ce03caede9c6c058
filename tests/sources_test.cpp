// Volume source, combustion and decay through their host functions against double
// references on whole grids, clamps and gates reached. Float with -cl-fast-relaxed-math: a few
// ulp from sqrt, exp and smoothstep, so 2e-5 of the quantity's scale, far below any wrong term.
#include "sim/sources.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "sim_fixture.h"

namespace {

constexpr double kRelTol = 2e-5;

class Sources : public simtest::SimKernelTest {
protected:
    std::vector<float> constant(float v) const { return std::vector<float>(cells(), v); }
};

TEST_F(Sources, VolumeSourceMatchesTheEllipsoidProfileAndClamps) {
    struct Case {
        float sx, sy, sz, radius, size[3], fuel, dt, T0, F0, D0;
        int minInside, maxInside;
    };
    // Rim cells exactly at dist = radius; an ellipsoid of (4/3)π·6.3³·1.7·0.6·0.8 ≈ 850 cells (depth
    // in tenths); sizes under 0.01 counting as 1; a full grid clamped only inside the source.
    const Case cases[] = {{16.5f, 16.5f, 16.5f, 4, {1, 1, 10}, 20, 0.1f, 0, 0, 0, 200, 300},
                          {13.2f, 17.9f, 15.05f, 6.3f, {1.7f, 0.6f, 8}, 37, 1 / 24.0f, 300, 1.5f, 0, 700, 1000},
                          {16.5f, 16.5f, 16.5f, 4, {0.005f, 0.005f, 0.05f}, 10, 0.5f, 0, 0, 0, 200, 300},
                          {16.5f, 16.5f, 16.5f, 4, {1, 1, 10}, 50, 1, 9990, 99.5f, 150, 200, 300},
                          // Launched over the source's box only: cut by two faces, beyond the grid,
                          // a negative radius.
                          {-1.5f, 16.5f, 30.2f, 5, {1, 1, 10}, 20, 0.1f, 0, 0, 0, 40, 200},
                          {40.0f, 16.5f, 16.5f, 4, {1, 1, 10}, 20, 0.1f, 0, 0, 0, 0, 0},
                          {16.5f, 16.5f, 16.5f, -4, {1, 1, 10}, 20, 0.1f, 0, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        settings_.emitterRadius = c.radius;
        settings_.sourceSizeX = c.size[0], settings_.sourceSizeY = c.size[1], settings_.sourceSizeZ = c.size[2];
        settings_.sourceTemperature = 3500.0f;
        write(grid().temperature, constant(c.T0));
        write(grid().fuel, constant(c.F0));
        write(grid().density, constant(c.D0));
        const auto vel = vectorField([](int x, int y, int z, int k) { return float(x - y + 2 * z + k); });
        writeVel(vel);
        cindel::enqueueVolumeSource(rt(), settings_, c.sx, c.sy, c.sz, c.fuel, c.dt);
        const auto T = read(grid().temperature), F = read(grid().fuel), D = read(grid().density);
        const double inv[3] = {c.size[0] > 0.01f ? 1.0 / c.size[0] : 1.0, c.size[1] > 0.01f ? 1.0 / c.size[1] : 1.0,
                               c.size[2] * 0.1f > 0.01f ? 1.0 / (c.size[2] * 0.1f) : 1.0};
        int inside = 0;
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const size_t i = idx(x, y, z);
                    const double dist =
                        std::hypot((x + 0.5 - c.sx) * inv[0], (y + 0.5 - c.sy) * inv[1], (z + 0.5 - c.sz) * inv[2]);
                    if (dist >= c.radius) {
                        ASSERT_TRUE(T[i] == c.T0 && F[i] == c.F0 && D[i] == c.D0)
                            << "outside " << x << "," << y << "," << z;
                        continue;
                    }
                    ++inside;
                    const double t = dist / c.radius, p = 1.0 - t * t * (3.0 - 2.0 * t);
                    ASSERT_NEAR(T[i], std::min(c.T0 + 3500.0 * p * c.dt, 10000.0), kRelTol * 10000)
                        << x << "," << y << "," << z;
                    ASSERT_NEAR(F[i], std::min(c.F0 + c.fuel * p * c.dt, 100.0), kRelTol * 100)
                        << x << "," << y << "," << z;
                    ASSERT_EQ(D[i], std::min(c.D0, 100.0f)) << "density is clamped, never added to";
                }
        EXPECT_GE(inside, c.minInside);
        EXPECT_LE(inside, c.maxInside);
        EXPECT_EQ(readVec(grid().velocity), vel);
    }
}

TEST(SourceSpan, CoversTheReachOrFallsBackToTheWholeGrid) {
    const float nan = std::nanf(""), inf = INFINITY;
    for (const std::array<float, 3> bad : {std::array{nan, 1.0f, 4.0f}, {16.0f, inf, 4.0f}, {16.0f, 1.0f, nan}})
        EXPECT_FALSE(cindel::sourceSpan(bad[0], bad[1], bad[2], 32)) << bad[0] << " " << bad[1] << " " << bad[2];
    EXPECT_EQ(cindel::sourceSpan(16.0f, 1.0f, -0.5f, 32)->count, 0u);
    const auto whole = cindel::sourceSpan(16.0f, 1.0f, 1e30f, 32);
    EXPECT_TRUE(whole->lo == 0 && whole->count == 32);
    // Every cell whose own axis distance is inside (the least any cell of the ellipsoid meets),
    // at most two cells more on each side.
    const struct {
        float centre, size, radius;
    } cases[] = {{16.0f, 1.0f, 4.0f}, {13.2f, 1.7f, 6.3f}, {7.49f, 0.005f, 2.5f}, {-1.5f, 1.0f, 5.0f}, {30.9f, 0.3f, 9.0f}};
    for (const auto& c : cases) {
        const auto span = cindel::sourceSpan(c.centre, c.size, c.radius, 32);
        ASSERT_TRUE(span);
        const double reach = c.radius * (c.size > 0.01f ? c.size : 1.0f);
        int first = 32, last = -1;
        for (int i = 0; i < 32; ++i)
            if (std::abs(i + 0.5 - c.centre) < reach) first = std::min(first, i), last = std::max(last, i);
        EXPECT_LE(span->lo, size_t(first)) << c.centre;
        EXPECT_GE(span->lo + span->count, size_t(last + 1)) << c.centre;
        EXPECT_LE(span->count, size_t(last - first + 1 + 4)) << c.centre;
    }
}

TEST_F(Sources, CombustionMatchesTheReferenceAndNeverCreatesFuel) {
    struct Case {
        float burnRate, heat, smoke, dt;
        float T0, D0;  // 0: the field's sweep
    };
    // The ±50 K band with fuel from 0 up; a rate that would take 100 times the fuel; clamps.
    for (const Case& c :
         {Case{3, 150, 0.3f, 1 / 30.0f, 0, 0}, Case{100, 150, 0.3f, 1, 2000, 0}, Case{3, 1000, 50, 0.1f, 9900, 99}}) {
        settings_.burnThreshold = 600.0f, settings_.burnRate = c.burnRate, settings_.heatOutput = c.heat,
        settings_.smokeOutput = c.smoke;
        const auto T =
            c.T0 > 0 ? constant(c.T0) : scalarField([](int x, int y, int) { return 480.0f + 8.0f * x + 0.5f * y; });
        const auto F = scalarField([](int x, int y, int z) {
            // Row 2: whole rows of fuel just above the 0.001 that burns.
            return y == 0 ? 0.0f : y == 1 ? 0.00099f : y == 2 ? 0.001f + 1e-5f * x : 0.3f * y + 0.01f * z;
        });
        const auto D = c.D0 > 0 ? constant(c.D0) : scalarField([](int, int, int z) { return 0.1f * z; });
        write(grid().temperature, T);
        write(grid().fuel, F);
        write(grid().density, D);
        cindel::enqueueCombust(rt(), settings_, c.dt);
        const auto T1 = read(grid().temperature), F1 = read(grid().fuel), D1 = read(grid().density);
        int burnt = 0;
        for (size_t i = 0; i < cells(); ++i) {
            const double u = std::clamp((T[i] - 550.0) / 100.0, 0.0, 1.0), g = u * u * (3.0 - 2.0 * u);
            const double burn =
                (F[i] >= 0.001f && g >= 0.001) ? std::min(c.burnRate * c.dt * F[i] * g, double(F[i])) : 0.0;
            burnt += burn > 0.0;
            ASSERT_NEAR(F1[i], F[i] - burn, kRelTol * std::max(1.0f, F[i])) << i;
            ASSERT_NEAR(T1[i], std::min(T[i] + burn * c.heat, 10000.0), kRelTol * 10000) << i;
            ASSERT_NEAR(D1[i], std::min(D[i] + burn * c.smoke, 100.0), kRelTol * 100) << i;
            ASSERT_TRUE(F1[i] >= 0.0f && F1[i] <= F[i] && D1[i] >= D[i]) << i;
        }
        EXPECT_GT(burnt, static_cast<int>(cells()) / 2) << "burn rate " << c.burnRate;
    }
}

TEST_F(Sources, DecayIsTheExactExponentialFromTheSettings) {
    struct Case {
        float life, heatDecay, smokeDecay, emberAmount, emberDecay, aggression;
    };
    // Life under 0.5 counts as 0.5; smoke at rate × dt = 2.5 (Euler would end at 0); rates of 0 and
    // 5e-6 and embers off skip (negatives stay), 1.5e-5 runs (negatives end at 0).
    const Case cases[] = {{0.2f, 0.5f, 0.8333f, 1, 2, 1}, {3, 0, 5e-6f, 0, 3, 0}, {3, 1.5f, 1.5e-5f, 0.01f, 1, 0.4f}};
    for (const Case& c : cases) {
        settings_.life = c.life, settings_.heatDecay = c.heatDecay, settings_.smokeDecay = c.smokeDecay;
        settings_.emberAmount = c.emberAmount, settings_.emberDecay = c.emberDecay,
        settings_.flameAggression = c.aggression;
        const auto v =
            scalarField([](int x, int y, int z) { return float((x * 7 - y * 3 + z) % 23) * 150.0f - 200.0f; });
        for (cl_mem m : {grid().temperature, grid().density, grid().ember}) write(m, v);
        cindel::enqueueDecay(rt(), settings_, 0.5f);
        const double base = 3.0 / std::max(c.life, 0.5f),
                     rates[3] = {base * c.heatDecay, base * c.smokeDecay, base * c.emberDecay};
        const bool runs[3] = {rates[0] > 1e-5, rates[1] > 1e-5, c.emberAmount > 0.001f};
        for (int k = 0; k < 3; ++k) {
            const auto want = refField([&](int x, int y, int z, int) {
                const double vi = v[idx(x, y, z)], tn = std::clamp(vi / 2000.0, 0.0, 1.0);
                const double r =
                    rates[k] * (k == 0 && c.aggression > 0.001f ? 1.0 + c.aggression * 2.5 * tn * tn : 1.0);
                return runs[k] ? std::max(vi * std::exp(-r * 0.5), 0.0) : vi;
            });
            simtest::expectNear(read(k == 0   ? grid().temperature
                                     : k == 1 ? grid().density
                                              : grid().ember),
                                want, kRelTol * 3250, "field " + std::to_string(k) + " life " + std::to_string(c.life));
        }
    }
}

}  // namespace
