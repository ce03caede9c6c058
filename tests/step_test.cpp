// The step driver on small grids: where a request starts, how many steps it runs, that every way
// to a frame gives the same bits, and which stages each Sim Mode runs.
#include "sim/step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using simtest::maxAbs;

constexpr float kFrameSeconds = 1.0f / 24.0f;

struct Fields {
    std::vector<float> density, temperature, fuel, velocity, pressure;
};

double sum(const std::vector<float>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0);
}

class StepDriver : public simtest::SimKernelTest {
protected:
    void SetUp() override {
        SimKernelTest::SetUp();
        // A small composition keeps the emitter inside a 32³ grid.
        settings_.compWidth = settings_.compHeight = 64;
        settings_.sourcePosition = {32.0f, 40.0f, 0.0f};
        settings_.emitterRadius = 5;
        settings_.instanceId = 1;
        forgetSimulation();
    }

    bool step(int frame) { return cindel::stepSimulationOnGrid(rt(), side(), frame, kFrameSeconds, settings_); }
    Fields fields() {
        return {read(grid().density), read(grid().temperature), read(grid().fuel), readVec(grid().velocity),
                read(grid().pressure)};
    }
    void expectSame(const Fields& a, const Fields& b) {
        EXPECT_GT(maxAbs(a.velocity), 0.0) << "the scenario moved nothing";
        EXPECT_TRUE(a.density == b.density && a.temperature == b.temperature && a.fuel == b.fuel);
        EXPECT_TRUE(a.velocity == b.velocity && a.pressure == b.pressure);
    }
    bool slotHolds(int frame) {
        const auto& g = grid();
        return std::any_of(g.slots.begin(), g.slots.begin() + g.slotCount,
                           [&](const auto& s) { return s.frame == frame; });
    }
    void expectCall(bool resumed, int stepsRun) {
        EXPECT_EQ(grid().lastCall.resumed, resumed);
        EXPECT_EQ(grid().lastCall.stepsRun, stepsRun);
    }
};

TEST_F(StepDriver, PlaybackScrubbingAndResumingReachTheSameBitsAsAColdRequest) {
    ASSERT_TRUE(step(0));
    expectCall(false, 1);
    EXPECT_TRUE(slotHolds(0)) << "the end of a call stores a frame that is a multiple of 8";
    for (int f = 1; f <= 20; ++f) {
        ASSERT_TRUE(step(f));
        ASSERT_EQ(grid().lastCall.stepsRun, 1) << "playback continues the held state, frame " << f;
    }
    EXPECT_TRUE(slotHolds(8) && slotHolds(16)) << "playback still takes the snapshots";
    const Fields played = fields();
    forgetSimulation();
    ASSERT_TRUE(step(20));
    expectCall(false, 21);
    expectSame(played, fields());

    ASSERT_TRUE(step(3));  // scrub back, then forward past it and back to 20: resumes from 16
    ASSERT_TRUE(step(30));
    ASSERT_TRUE(step(20));
    expectCall(true, 4);
    expectSame(played, fields());
    ASSERT_TRUE(step(16));  // a frame on a snapshot shows it without a step
    expectCall(true, 0);
    settings_.exposure = 2.0f;  // a render-only change keeps the key: the held frame is shown again
    ASSERT_TRUE(step(16));
    expectCall(true, 0);
    settings_.speed = 0.005f;  // a speed of 0.01 or less counts as 1
    forgetSimulation();
    ASSERT_TRUE(step(20));
    expectSame(played, fields());
    cindel::GpuRuntime off;
    EXPECT_FALSE(cindel::stepSimulationOnGrid(off, 32, 3, kFrameSeconds, settings_)) << "a stopped runtime skips";
}

TEST_F(StepDriver, EditsContinueOnTheNextFrameAndResetOtherwise) {
    for (int f = 0; f <= 5; ++f) ASSERT_TRUE(step(f));
    settings_.buoyancy = 2.0f;  // an animated parameter changes between frames 5 and 6
    ASSERT_TRUE(step(6));
    expectCall(true, 1);
    EXPECT_TRUE(slotHolds(0)) << "snapshots taken under the old values stay valid";
    // The held state mixes both values: the next frame re-simulates from the snapshot of 0.
    ASSERT_TRUE(step(7));
    expectCall(true, 7);
    settings_.buoyancy = 3.0f;  // an edit that arrives on a frame that is not the next one
    ASSERT_TRUE(step(12));
    expectCall(false, 13);
    settings_.instanceId = 2;  // equal values, another instance: its next frame is not ours
    ASSERT_TRUE(step(13));
    expectCall(false, 14);
}

// The step of frame n emits at time n · dt: with the fade closing at 1.5 frames, frames 0 and 1
// emit as with no fade at all, frame 2 does not.
TEST_F(StepDriver, TheStepOfFrameNRunsAtItsOwnTime) {
    auto fuelAt = [&](float fade, int frame) {
        settings_.fade = fade, settings_.fadeSoftness = 0.0f;
        forgetSimulation();
        EXPECT_TRUE(step(frame));
        return read(grid().fuel);
    };
    EXPECT_EQ(fuelAt(1.5f * kFrameSeconds, 1), fuelAt(0.0f, 1));
    EXPECT_NE(fuelAt(1.5f * kFrameSeconds, 2), fuelAt(0.0f, 2));
}

// A capped request labels the grid with its frame while the fields hold frame 599: nothing may
// continue or snapshot that state as the labelled frame's.
TEST_F(StepDriver, ARequestAfterACappedOneEqualsAColdRequest) {
    struct AfterTheCap {
        const char* name;
        int cappedFrame, nextFrame;
        bool editBetween;  // a simulation parameter changes before the next request
    };
    const AfterTheCap cases[] = {{"playback to the next frame", 701, 702, false},
                                 {"the same frame again", 701, 701, false},
                                 {"playback from a capped multiple of 8", 704, 705, false},
                                 {"an edit on the next frame", 701, 702, true}};
    settings_.simMode = 1;  // no in-loop snapshots, cheap steps; every request is capped again
    settings_.burnThreshold = 300;
    const FrameSettings base = settings_;
    for (const AfterTheCap& c : cases) {
        SCOPED_TRACE(c.name);
        settings_ = base;
        forgetSimulation();
        ASSERT_TRUE(step(c.cappedFrame));
        EXPECT_EQ(grid().lastCall.stepsAsked, c.cappedFrame + 1);
        ASSERT_TRUE(grid().lastCall.stepsRun == 600 && grid().lastFrame == c.cappedFrame);
        EXPECT_FALSE(slotHolds(c.cappedFrame)) << "such a snapshot would hold frame 599";
        if (c.editBetween) settings_.heatOutput += 10.0f;
        ASSERT_TRUE(step(c.nextFrame));
        expectCall(false, 600);
        const Fields next = fields();
        forgetSimulation();
        ASSERT_TRUE(step(c.nextFrame));
        const Fields cold = fields();
        EXPECT_TRUE(sum(cold.temperature) > 0.0 && next.temperature == cold.temperature && next.fuel == cold.fuel &&
                    next.density == cold.density);
    }
}

TEST(StepValues, FadeGateFuelRampAndGridSide) {
    FrameSettings s = simtest::defaultSimSettings();
    s.life = 3.0f;
    struct Row {
        float fade, softness, trail, t, gate, ramp;
    };
    // Fade 0 never gates; softness 0 stops at t = fade, else a linear fall over fade × softness.
    // Trail 100 centres the ramp's smoothstep on t = 0, trail 0 on t = life; it is 0.4 life wide.
    const Row rows[] = {{0, 0, 100, 0, 1, 0.5f},  {0, 0, 100, 0.6f, 1, 1}, {0, 0, 100, 0.15f, 1, 0.68359375f},
                        {0, 0, 0, 0, 1, 0},       {0, 0, 0, 3, 1, 0.5f},   {0, 0, 100, 100, 1, 1},
                        {2, 0, 100, 1.99f, 1, 1}, {2, 0, 100, 2, 0, 1},    {2, 0.5f, 100, 2.25f, 0.75f, 1},
                        {2, 0.5f, 100, 3, 0, 1}};
    for (const Row& r : rows) {
        s.fade = r.fade, s.fadeSoftness = r.softness, s.trail = r.trail;
        EXPECT_NEAR(cindel::emissionGate(s, r.t), r.gate, 1e-6) << r.fade << " " << r.softness << " " << r.t;
        EXPECT_NEAR(cindel::fuelRamp(s, r.t), r.ramp, 1e-6) << r.trail << " " << r.t;
    }
    const int sides[][2] = {{1, 128}, {2, 192}, {3, 256}, {4, 384}, {0, 128}, {99, 128}};
    for (const auto& [voxelSize, side] : sides) EXPECT_EQ(cindel::gridSideForVoxelSize(voxelSize), side) << voxelSize;
}

// One step from a chosen state (a snapshot of frame 7, emission faded out) in each mode, held
// against the mode below's device result plus the stages it adds, in double: combustion (1),
// buoyancy and forces (2), the solved pressure's gradient subtracted (3), back-traced scalars (4),
// self-advection, second projection and decay (5); fields a mode does not write keep their bits.
// Tolerance, of a field's scale: 2e-6 for a few float operations, 1e-5 with a back-trace.
TEST_F(StepDriver, EachSimModeRunsExactlyItsStages) {
    const float dt = kFrameSeconds;
    const int n = N();
    Fields start{
        scalarField([](int x, int, int) { return 0.5f + 0.01f * x; }),
        scalarField([](int x, int y, int z) {  // a hot blob across the ignition band
            return 300.0f +
                   1800.0f * std::exp(-float((x - 16) * (x - 16) + (y - 12) * (y - 12) + (z - 15) * (z - 15)) / 40.0f);
        }),
        scalarField([](int, int, int z) { return 5.0f + 0.1f * z; }), vectorField([](int x, int y, int z, int c) {
            return 3.0f * std::sin(0.37f * x + 0.23f * y + 0.11f * z + 1.7f * c);
        }),
        std::vector<float>(cells(), 0.0f)};
    Fields m[6];
    for (int mode = 1; mode <= 5; ++mode) {
        FrameSettings s = settings_;
        s.simMode = mode;
        s.fade = 0.01f, s.fadeSoftness = 0.0f, s.emberAmount = 0.0f;  // step 8 at t = 1/3 s emits nothing
        s.burnThreshold = 600.0f, s.burnRate = 3.0f, s.heatOutput = 150.0f, s.smokeOutput = 0.3f;
        s.buoyancy = 2.0f, s.gravity = 10.0f, s.windX = 20.0f, s.windZ = -10.0f, s.drag = 0.98f;
        s.flameAggression = 0.0f, s.life = 3.0f, s.heatDecay = 1.5f, s.smokeDecay = 0.5f;
        // The optional forces are on in mode 2 only, whose reference leaves them out.
        s.vorticity = s.turbulence = s.flameTear = (mode == 2 ? 5.0f : 0.0f);
        forgetSimulation();
        cindel::SimSnapshot& slot = grid().slots[0];
        const cl_mem to[] = {slot.density, slot.temperature, slot.fuel, slot.velocity, slot.pressure, slot.ember};
        const std::vector<float>* from[] = {&start.density, &start.temperature, &start.fuel, &start.velocity};
        for (int k = 0; k < 6; ++k) write(to[k], k < 4 ? *from[k] : start.pressure);
        slot.frame = 7;
        grid().settingsHash = cindel::simulationKey(s);
        ASSERT_TRUE(cindel::stepSimulationOnGrid(rt(), n, 8, dt, s));
        ASSERT_EQ(grid().lastCall.stepsRun, 1);
        m[mode] = fields();
    }
    auto expectNear = [](const std::vector<float>& got, const std::vector<double>& want, double relTol,
                         const char* what) {
        simtest::expectNear(got, want, relTol * std::max(1.0, simtest::maxAbs({want.begin(), want.end()})), what);
    };
    auto clampedGrad = [&](const std::vector<float>& p, int x, int y, int z, int c) {
        const int d[3] = {c == 0, c == 1, c == 2};
        auto at = [&](int s) {
            return double(p[idx(std::clamp(x + s * d[0], 0, n - 1), std::clamp(y + s * d[1], 0, n - 1),
                                std::clamp(z + s * d[2], 0, n - 1))]);
        };
        return 0.5 * (at(1) - at(-1));
    };
    // f back-traced along v from the kernel's float start position.
    auto advected = [&](const std::vector<float>& f, int stride, int c, const std::vector<float>& v, int x, int y,
                        int z) {
        const size_t i = idx(x, y, z);
        return simtest::sampleRef(f, n, stride, c, float(x) + 0.5f - v[4 * i] * dt, float(y) + 0.5f - v[4 * i + 1] * dt,
                                  float(z) + 0.5f - v[4 * i + 2] * dt);
    };
    std::vector<double> T1(cells()), F1(cells()), D1(cells()), v2(cells() * 4, 0.0), v3 = v2, v5 = v2;
    std::vector<double> T4(cells()), F4(cells()), D4(cells()), T5(cells()), D5(cells());
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const size_t i = idx(x, y, z);
                const double T = start.temperature[i], F = start.fuel[i], u = std::clamp((T - 550.0) / 100.0, 0.0, 1.0);
                const double burn = F >= 0.001 && u > 0.0 ? std::min(3.0 * dt * F * u * u * (3 - 2 * u), F) : 0.0;
                T1[i] = std::min(T + 150.0 * burn, 10000.0), F1[i] = F - burn,
                D1[i] = std::min(start.density[i] + 0.3 * burn, 100.0);
                // Buoyancy 0.002 × T (not × dt), gravity 1 and wind (2, 0, −1) cells/s² over dt, drag 0.98.
                const double add[3] = {2.0 * dt, 1.0 * dt, -1.0 * dt};
                for (int c = 0; c < 3; ++c) {
                    const double v = start.velocity[4 * i + c] - (c == 1 ? 0.002 * m[1].temperature[i] : 0.0);
                    v2[4 * i + c] = std::clamp((std::clamp(v, -50.0, 50.0) + add[c]) * 0.98, -50.0, 50.0);
                    v3[4 * i + c] = v2[4 * i + c] - clampedGrad(m[3].pressure, x, y, z, c);
                    const double adv =
                        std::clamp(advected(m[4].velocity, 4, c, m[4].velocity, x, y, z) * 0.995, -50.0, 50.0);
                    v5[4 * i + c] = adv - clampedGrad(m[5].pressure, x, y, z, c);
                }
                T4[i] = advected(m[1].temperature, 1, 0, m[3].velocity, x, y, z),
                F4[i] = advected(m[1].fuel, 1, 0, m[3].velocity, x, y, z);
                D4[i] = advected(m[1].density, 1, 0, m[3].velocity, x, y, z);
                T5[i] = m[4].temperature[i] * std::exp(-1.0 * 1.5 * dt);  // rate (3 / life) × decay
                D5[i] = m[4].density[i] * std::exp(-1.0 * 0.5 * dt);
            }
    expectNear(m[1].temperature, T1, 2e-6, "mode 1 temperature");
    expectNear(m[1].fuel, F1, 2e-6, "mode 1 fuel");
    expectNear(m[1].density, D1, 2e-6, "mode 1 density");
    EXPECT_GT(sum(m[1].density), sum(start.density) + 1.0) << "the blob burnt nothing";
    EXPECT_EQ(m[1].velocity, start.velocity) << "mode 1 moves nothing";
    expectNear(m[2].velocity, v2, 1e-6, "mode 2 velocity");
    for (int mode : {2, 3})
        EXPECT_TRUE(m[mode].temperature == m[1].temperature && m[mode].density == m[1].density &&
                    m[mode].fuel == m[1].fuel)
            << "mode " << mode << " changed a scalar";
    EXPECT_EQ(maxAbs(m[2].pressure), 0.0) << "mode 2 solves no pressure";
    ASSERT_GT(maxAbs(m[3].pressure), 0.01);
    expectNear(m[3].velocity, v3, 1e-5, "mode 3 velocity");
    auto norm = [](const std::vector<double>& d) {
        return std::sqrt(std::inner_product(d.begin(), d.end(), d.begin(), 0.0));
    };
    EXPECT_LT(norm(simtest::divergenceOf(m[3].velocity, n)) * 2.0, norm(simtest::divergenceOf(m[2].velocity, n)));
    EXPECT_TRUE(m[4].velocity == m[3].velocity && m[4].pressure == m[3].pressure) << "mode 4 changed the flow";
    expectNear(m[4].temperature, T4, 1e-5, "mode 4 temperature");
    expectNear(m[4].fuel, F4, 1e-5, "mode 4 fuel");
    expectNear(m[4].density, D4, 1e-5, "mode 4 density");
    expectNear(m[5].velocity, v5, 1e-5, "mode 5 velocity");
    expectNear(m[5].temperature, T5, 2e-6, "mode 5 temperature");
    expectNear(m[5].density, D5, 2e-6, "mode 5 density");
    EXPECT_EQ(m[5].fuel, m[4].fuel) << "fuel does not decay";
}

}  // namespace
