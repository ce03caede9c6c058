// The simulation step driver on small grids: where a request starts (fresh, from a snapshot, or
// continuing the held state), how many steps it runs, that every way of reaching a frame gives
// the same fields, and which stages each Sim Mode runs. Bit-for-bit comparisons are valid because
// both runs execute the same kernels in the same order on the same device.
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

double sum(const std::vector<float>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }

class StepDriver : public simtest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
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
        EXPECT_EQ(a.density, b.density);
        EXPECT_EQ(a.temperature, b.temperature);
        EXPECT_EQ(a.fuel, b.fuel);
        EXPECT_EQ(a.velocity, b.velocity);
        EXPECT_EQ(a.pressure, b.pressure);
    }
    bool slotHolds(int frame) {
        for (int i = 0; i < grid().slotCount; ++i)
            if (grid().slots[static_cast<size_t>(i)].frame == frame) return true;
        return false;
    }
    void expectCall(bool resumed, int stepsRun) {
        EXPECT_EQ(grid().lastCall.resumed, resumed);
        EXPECT_EQ(grid().lastCall.stepsRun, stepsRun);
    }

    FrameSettings settings_;
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
    FrameSettings renderOnly = settings_;
    renderOnly.exposure = 2.0f;  // a render-only change keeps the key: the held frame is shown again
    ASSERT_TRUE(cindel::stepSimulationOnGrid(rt(), side(), 16, kFrameSeconds, renderOnly));
    expectCall(true, 0);
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

TEST_F(StepDriver, TinySpeedCountsAsOneAndAStoppedRuntimeSkips) {
    ASSERT_TRUE(step(6));
    const Fields normal = fields();
    settings_.speed = 0.005f;
    forgetSimulation();
    ASSERT_TRUE(step(6));
    expectSame(normal, fields());
    cindel::GpuRuntime off;
    EXPECT_FALSE(cindel::stepSimulationOnGrid(off, 32, 3, kFrameSeconds, settings_));
}

// A capped request labels the grid with its frame although the fields hold frame 599's state.
// Whatever comes next must reach its frame as a request on an empty grid would, never by
// continuing (or snapshotting) that state as if it were the labelled frame.
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
        ASSERT_EQ(grid().lastCall.stepsRun, 600);
        EXPECT_EQ(grid().lastFrame, c.cappedFrame);
        EXPECT_FALSE(slotHolds(c.cappedFrame)) << "such a snapshot would hold frame 599";
        if (c.editBetween) settings_.heatOutput += 10.0f;
        ASSERT_TRUE(step(c.nextFrame));
        expectCall(false, 600);
        const Fields next = fields();
        forgetSimulation();
        ASSERT_TRUE(step(c.nextFrame));
        const Fields cold = fields();
        EXPECT_GT(sum(cold.temperature), 0.0);
        EXPECT_EQ(next.temperature, cold.temperature);
        EXPECT_EQ(next.fuel, cold.fuel);
        EXPECT_EQ(next.density, cold.density);
    }
}

TEST(StepValues, FadeGateFuelRampAndGridSide) {
    FrameSettings s = simtest::defaultSimSettings();
    s.life = 3.0f;
    struct Gate {
        float fade, softness, t, gate;
    };
    // fade 0 never gates; softness 0 stops at t = fade; otherwise a linear fall over fade × softness.
    for (const Gate& g : {Gate{0, 0, 100, 1}, Gate{2, 0, 1.99f, 1}, Gate{2, 0, 2, 0}, Gate{2, 0.5f, 2.25f, 0.75f},
                          Gate{2, 0.5f, 3, 0}}) {
        s.fade = g.fade;
        s.fadeSoftness = g.softness;
        EXPECT_NEAR(cindel::emissionGate(s, g.t), g.gate, 1e-6) << g.fade << " " << g.softness << " " << g.t;
    }
    struct Ramp {
        float trail, t, ramp;
    };
    // Trail 100 centres the smoothstep on t = 0, trail 0 on t = life; it is 2 × 0.2 × life wide.
    for (const Ramp& r : {Ramp{100, 0, 0.5f}, Ramp{100, 0.6f, 1}, Ramp{100, 0.15f, 0.68359375f}, Ramp{0, 0, 0},
                          Ramp{0, 3, 0.5f}}) {
        s.trail = r.trail;
        EXPECT_NEAR(cindel::fuelRamp(s, r.t), r.ramp, 1e-6) << r.trail << " " << r.t;
    }
    const int sides[][2] = {{1, 128}, {2, 192}, {3, 256}, {4, 384}, {0, 128}, {99, 128}};
    for (const auto& [voxelSize, side] : sides) EXPECT_EQ(cindel::gridSideForVoxelSize(voxelSize), side) << voxelSize;
}

// ---------------------------------------------------------------------------------------------
// Sim Mode: one step from a chosen state, emission gated off, run in each mode. Each mode adds
// stages to the one below, so its result is held against that mode's device result with the
// added stages computed here in double: combustion (1), buoyancy and environmental forces (2),
// the projection's gradient subtraction (3, with the device's pressure), advection of the
// scalars (4), velocity self-advection, the second projection and decay (5). Fields a mode's
// stages do not write must keep the bits of the mode below.

class SimMode : public StepDriver {
protected:
    static constexpr float kDt = kFrameSeconds;

    FrameSettings modeSettings(int mode) const {
        FrameSettings s = settings_;
        s.simMode = mode;
        s.fade = 0.01f;  // step 8 runs at t = 1/3 s: past the fade, nothing is emitted
        s.fadeSoftness = 0.0f;
        s.emberAmount = 0.0f;
        s.burnThreshold = 600.0f, s.burnRate = 3.0f, s.heatOutput = 150.0f, s.smokeOutput = 0.3f;
        s.buoyancy = 2.0f, s.gravity = 10.0f, s.windX = 20.0f, s.windZ = -10.0f, s.drag = 0.98f;
        s.vorticity = s.turbulence = s.flameTear = 0.0f;
        s.flameAggression = 0.0f;  // no boost, no combustion expansion
        s.life = 3.0f, s.heatDecay = 1.5f, s.smokeDecay = 0.5f;
        return s;
    }

    // The start state goes into a snapshot of frame 7 under the request's key: frame 8 resumes
    // from it and runs one step.
    Fields runFromState(const FrameSettings& s) {
        forgetSimulation();
        cindel::SimSnapshot& slot = grid().slots[0];
        write(slot.temperature, start_.temperature);
        write(slot.fuel, start_.fuel);
        write(slot.density, start_.density);
        write(slot.velocity, start_.velocity);
        write(slot.pressure, start_.pressure);
        write(slot.ember, std::vector<float>(cells(), 0.0f));
        slot.frame = 7;
        grid().settingsHash = cindel::simulationKey(s);
        EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), side(), 8, kFrameSeconds, s));
        EXPECT_EQ(grid().lastCall.stepsRun, 1);
        return fields();
    }

    // v − 0.5 × (clamped central difference of p), for the cells' xyz.
    std::vector<double> minusGradient(const std::vector<double>& v, const std::vector<float>& p) const {
        std::vector<double> out = v;
        const int n = N();
        auto at = [&](int x, int y, int z) {
            return double(p[idx(std::clamp(x, 0, n - 1), std::clamp(y, 0, n - 1), std::clamp(z, 0, n - 1))]);
        };
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const size_t i = 4 * idx(x, y, z);
                    out[i] -= 0.5 * (at(x + 1, y, z) - at(x - 1, y, z));
                    out[i + 1] -= 0.5 * (at(x, y + 1, z) - at(x, y - 1, z));
                    out[i + 2] -= 0.5 * (at(x, y, z + 1) - at(x, y, z - 1));
                }
        return out;
    }

    // Semi-Lagrangian back-trace of component c of f by the velocity v held at each cell.
    std::vector<double> advected(const std::vector<float>& f, int stride, int c, const std::vector<float>& v) const {
        std::vector<double> out(cells());
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const size_t i = idx(x, y, z);
                    // The kernel's float expression, so both trace back from the same position.
                    out[i] = simtest::sampleRef(f, N(), stride, c, float(x) + 0.5f - v[4 * i] * kDt,
                                                float(y) + 0.5f - v[4 * i + 1] * kDt,
                                                float(z) + 0.5f - v[4 * i + 2] * kDt);
                }
        return out;
    }

    // Every element within relTol of the field's largest magnitude (NaN fails).
    static void expectNear(const std::vector<float>& got, const std::vector<double>& want, double relTol,
                           const char* what) {
        double scale = 1.0, worst = 0.0;
        for (double w : want) scale = std::max(scale, std::fabs(w));
        size_t bad = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const double e = std::fabs(got[i] - want[i]);
            bad += !(e <= relTol * scale);
            worst = std::max(worst, e);
        }
        EXPECT_EQ(bad, 0u) << what << ": worst " << worst << ", tolerance " << relTol * scale;
    }

    Fields start_;
};

TEST_F(SimMode, EachModeRunsExactlyItsStages) {
    // A hot blob across the ignition band in fuel everywhere, and a swirling, divergent flow.
    start_.temperature = scalarField([](int x, int y, int z) {
        return 300.0f + 1800.0f * std::exp(-((x - 16) * (x - 16) + (y - 12) * (y - 12) + (z - 15) * (z - 15)) / 40.0f);
    });
    start_.fuel = scalarField([](int, int, int z) { return 5.0f + 0.1f * float(z); });
    start_.density = scalarField([](int x, int, int) { return 0.5f + 0.01f * float(x); });
    start_.velocity = vectorField([](int x, int y, int z, int c) {
        return 3.0f * std::sin(0.37f * x + 0.23f * y + 0.11f * z + 1.7f * c) + 1.5f * std::cos(0.29f * x - 0.41f * z + c);
    });
    start_.pressure.assign(cells(), 0.0f);

    Fields m[6];
    for (int mode = 1; mode <= 5; ++mode) m[mode] = runFromState(modeSettings(mode));

    // Mode 1: combustion; nothing moves.
    std::vector<double> T1(cells()), F1(cells()), D1(cells());
    for (size_t i = 0; i < cells(); ++i) {
        const double T = start_.temperature[i], F = start_.fuel[i], u = std::clamp((T - 550.0) / 100.0, 0.0, 1.0);
        const double g = u * u * (3 - 2 * u);
        const double burn = (F >= 0.001 && g >= 0.001) ? std::min(3.0 * kDt * F * g, F) : 0.0;
        T1[i] = std::min(T + 150.0 * burn, 10000.0);
        F1[i] = F - burn;
        D1[i] = std::min(start_.density[i] + 0.3 * burn, 100.0);
    }
    // Float against double over a handful of operations on values up to 2100: 2e-6 of the scale.
    expectNear(m[1].temperature, T1, 2e-6, "mode 1 temperature");
    expectNear(m[1].fuel, F1, 2e-6, "mode 1 fuel");
    expectNear(m[1].density, D1, 2e-6, "mode 1 density");
    EXPECT_GT(sum(m[1].density), sum(start_.density) + 1.0) << "the blob burnt nothing";
    EXPECT_EQ(m[1].velocity, start_.velocity);

    // Mode 2: buoyancy (beta 0.002 × T, not × dt), then gravity 1 and wind (2, 0, −1) cells/s²
    // over dt, drag 0.98, each step clamped to ±50.
    std::vector<double> v2(cells() * 4, 0.0);
    for (size_t i = 0; i < cells(); ++i) {
        const double add[3] = {2.0 * kDt, 1.0 * kDt, -1.0 * kDt};
        for (int c = 0; c < 3; ++c) {
            double v = start_.velocity[4 * i + c];
            if (c == 1 && m[1].temperature[i] >= 1.0f) v = std::clamp(v - 0.002 * m[1].temperature[i], -50.0, 50.0);
            v2[4 * i + c] = std::clamp((v + add[c]) * 0.98, -50.0, 50.0);
        }
    }
    expectNear(m[2].velocity, v2, 1e-6, "mode 2 velocity");
    for (int mode = 2; mode <= 3; ++mode) {
        EXPECT_EQ(m[mode].temperature, m[1].temperature) << "mode " << mode;
        EXPECT_EQ(m[mode].density, m[1].density) << "mode " << mode;
        EXPECT_EQ(m[mode].fuel, m[1].fuel) << "mode " << mode;
    }
    EXPECT_EQ(maxAbs(m[2].pressure), 0.0) << "mode 2 solves no pressure";

    // Mode 3: the forced velocity minus the gradient of the pressure it solved, with less divergence.
    ASSERT_GT(maxAbs(m[3].pressure), 0.01);
    expectNear(m[3].velocity, minusGradient(v2, m[3].pressure), 1e-5, "mode 3 velocity");
    const auto divOf = [](const std::vector<double>& d) {
        double s = 0;
        for (double x : d) s += x * x;
        return std::sqrt(s);
    };
    EXPECT_LT(divOf(simtest::divergenceOf(m[3].velocity, N())) * 2.0,
              divOf(simtest::divergenceOf(m[2].velocity, N())));

    // Mode 4: the scalars back-traced along mode 3's velocity; velocity and pressure as in mode 3.
    EXPECT_EQ(m[4].velocity, m[3].velocity);
    EXPECT_EQ(m[4].pressure, m[3].pressure);
    // A float back-trace position against the same position in double moves a sample by at most
    // ~1e-6 of a cell: 1e-5 of the field's scale covers it; a wrong cell or weight moves it by
    // tens of kelvin.
    expectNear(m[4].temperature, advected(m[1].temperature, 1, 0, m[3].velocity), 1e-5, "mode 4 temperature");
    expectNear(m[4].fuel, advected(m[1].fuel, 1, 0, m[3].velocity), 1e-5, "mode 4 fuel");
    expectNear(m[4].density, advected(m[1].density, 1, 0, m[3].velocity), 1e-5, "mode 4 density");

    // Mode 5: the velocity advects itself (× 0.995, clamped) and is projected again; temperature
    // and smoke decay at (3 / life) × their decay, fuel does not.
    std::vector<double> v5(cells() * 4, 0.0);
    for (int c = 0; c < 3; ++c) {
        const std::vector<double> a = advected(m[4].velocity, 4, c, m[4].velocity);
        for (size_t i = 0; i < cells(); ++i) v5[4 * i + c] = std::clamp(a[i] * 0.995, -50.0, 50.0);
    }
    EXPECT_NE(m[5].pressure, m[4].pressure);
    expectNear(m[5].velocity, minusGradient(v5, m[5].pressure), 1e-5, "mode 5 velocity");
    std::vector<double> T5(cells()), D5(cells());
    for (size_t i = 0; i < cells(); ++i) {
        T5[i] = m[4].temperature[i] * std::exp(-1.0 * 1.5 * kDt);
        D5[i] = m[4].density[i] * std::exp(-1.0 * 0.5 * kDt);
    }
    expectNear(m[5].temperature, T5, 2e-6, "mode 5 temperature");
    expectNear(m[5].density, D5, 2e-6, "mode 5 density");
    EXPECT_EQ(m[5].fuel, m[4].fuel);
}

// The optional forces belong to mode 3: turning them on changes nothing in mode 2.
TEST_F(SimMode, OptionalForcesStartAtModeThree) {
    start_.temperature = scalarField([](int x, int y, int) { return 200.0f + 60.0f * x + 15.0f * y; });
    start_.fuel = start_.density = std::vector<float>(cells(), 0.0f);
    start_.velocity = vectorField([](int x, int y, int z, int c) { return std::sin(0.3f * x + 0.2f * y * c + 0.1f * z); });
    start_.pressure.assign(cells(), 0.0f);
    for (int mode : {2, 3}) {
        FrameSettings s = modeSettings(mode);
        const Fields plain = runFromState(s);
        s.vorticity = 10.0f, s.turbulence = 25.0f, s.flameTear = 2.0f;
        const Fields forced = runFromState(s);
        EXPECT_EQ(plain.velocity == forced.velocity, mode == 2) << "mode " << mode;
    }
}

}  // namespace
