// The simulation step driver on small grids: where a request starts (fresh, from a snapshot, or
// continuing the held state), how many steps it runs, and that every way of reaching a frame
// gives the same fields. Bit-for-bit comparisons are valid because both runs execute the same
// kernels in the same order on the same device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sim/step.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using simtest::SimTest;

constexpr float kFrameSeconds = 1.0f / 24.0f;

struct Fields {
    std::vector<float> density, temperature, fuel, velocity, pressure;
};

class StepDriver : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
        // A small composition keeps the default emitter radius (in cells) inside a 32³ grid.
        settings_.compWidth = 64;
        settings_.compHeight = 64;
        settings_.sourcePosition = {32.0f, 40.0f, 0.0f};
        settings_.emitterRadius = 5;
        settings_.instanceId = 1;
        forgetEverything();
    }

    // An empty grid and ring, as after a resize.
    void forgetEverything() {
        cindel::SimGrid& g = grid();
        for (cindel::SimSnapshot& s : g.slots) s.frame = -1;
        g.nextSlot = 0;
        g.lastFrame = -1;
        g.lastInstanceId = 0;
        g.settingsHash = 0;
    }

    bool step(int frame) { return cindel::stepSimulationOnGrid(rt(), side(), frame, kFrameSeconds, settings_); }

    Fields fields() {
        return {read(grid().density), read(grid().temperature), read(grid().fuel), readVec(grid().velocity),
                read(grid().pressure)};
    }

    static double sum(const std::vector<float>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }
    static float maxAbs(const std::vector<float>& v) {
        float m = 0;
        for (float x : v) m = std::max(m, std::fabs(x));
        return m;
    }

    int slotHolding(int frame) const {
        const cindel::SimGrid& g = runtime_grid();
        for (int i = 0; i < g.slotCount; ++i)
            if (g.slots[static_cast<size_t>(i)].frame == frame) return i;
        return -1;
    }
    static const cindel::SimGrid& runtime_grid() { return simtest::runtime().grid; }

    FrameSettings settings_;
};

TEST_F(StepDriver, FrameZeroOnAnEmptyRingRunsOneStepAndStoresIt) {
    ASSERT_TRUE(step(0));
    EXPECT_EQ(grid().lastCall.stepsRun, 1);
    EXPECT_FALSE(grid().lastCall.resumed);
    EXPECT_EQ(grid().lastFrame, 0);
    EXPECT_GE(slotHolding(0), 0);
    // At t = 0 the fuel ramp is at half strength: the source has put heat and fuel in.
    EXPECT_GT(sum(read(grid().temperature)), 0.0);
    EXPECT_GT(sum(read(grid().fuel)), 0.0);
}

TEST_F(StepDriver, TargetOnASnapshotRunsNoStepAndShowsIt) {
    ASSERT_TRUE(step(8));
    ASSERT_GE(slotHolding(8), 0);
    const Fields at8 = fields();
    ASSERT_TRUE(step(12));
    ASSERT_TRUE(step(8));
    EXPECT_EQ(grid().lastCall.stepsRun, 0);
    EXPECT_TRUE(grid().lastCall.resumed);
    const Fields again = fields();
    EXPECT_EQ(again.density, at8.density);
    EXPECT_EQ(again.temperature, at8.temperature);
    EXPECT_EQ(again.velocity, at8.velocity);
    EXPECT_GT(maxAbs(at8.velocity), 0.0f);
}

TEST_F(StepDriver, PlaybackEqualsAColdRequestBitForBit) {
    for (int f = 0; f <= 20; ++f) {
        ASSERT_TRUE(step(f));
        // Playback continues the held state: one step per frame.
        ASSERT_EQ(grid().lastCall.stepsRun, 1) << "frame " << f;
    }
    EXPECT_GE(slotHolding(8), 0) << "playback still takes the snapshots";
    EXPECT_GE(slotHolding(16), 0);
    const Fields played = fields();

    forgetEverything();
    ASSERT_TRUE(step(20));
    EXPECT_EQ(grid().lastCall.stepsRun, 21);
    const Fields cold = fields();

    EXPECT_GT(sum(played.density), 0.0);
    EXPECT_GT(maxAbs(played.velocity), 0.0f);
    EXPECT_EQ(played.density, cold.density);
    EXPECT_EQ(played.temperature, cold.temperature);
    EXPECT_EQ(played.fuel, cold.fuel);
    EXPECT_EQ(played.velocity, cold.velocity);
    EXPECT_EQ(played.pressure, cold.pressure);
}

TEST_F(StepDriver, ContinuingEqualsResumingFromTheSnapshot) {
    // The held state at 13 continued to 14 must equal the state resumed from the snapshot of 8.
    ASSERT_TRUE(step(13));
    ASSERT_TRUE(step(14));
    EXPECT_EQ(grid().lastCall.stepsRun, 1);
    const Fields continued = fields();
    ASSERT_TRUE(step(2));   // leave frame 13 behind: the next request for 14 must resume
    ASSERT_TRUE(step(14));
    EXPECT_EQ(grid().lastCall.stepsRun, 6);
    const Fields resumed = fields();
    EXPECT_GT(maxAbs(resumed.velocity), 0.0f);
    EXPECT_EQ(continued.temperature, resumed.temperature);
    EXPECT_EQ(continued.velocity, resumed.velocity);
    EXPECT_EQ(continued.pressure, resumed.pressure);
}

TEST_F(StepDriver, RerenderingTheHeldFrameRunsNoStep) {
    ASSERT_TRUE(step(5));
    const Fields first = fields();
    cindel::FrameSettings renderOnly = settings_;
    renderOnly.exposure = 2.0f;  // a render-only change keeps the key
    ASSERT_TRUE(cindel::stepSimulationOnGrid(rt(), side(), 5, kFrameSeconds, renderOnly));
    EXPECT_EQ(grid().lastCall.stepsRun, 0);
    EXPECT_EQ(fields().temperature, first.temperature);
}

TEST_F(StepDriver, AfterALiveEditRequestsResumeAsBefore) {
    for (int f = 0; f <= 5; ++f) ASSERT_TRUE(step(f));
    settings_.buoyancy = 2.0f;
    ASSERT_TRUE(step(6));  // taken live: frames 1 … 5 were simulated with the old value
    // The held state mixes both values, so the next frame resumes from the snapshot of 0 and
    // re-simulates with the new one, as a request that was never live-edited would.
    ASSERT_TRUE(step(7));
    EXPECT_EQ(grid().lastCall.stepsRun, 7);
}

TEST_F(StepDriver, ScrubbingToAFrameEqualsPlayingToIt) {
    ASSERT_TRUE(step(17));
    const Fields scrubbed = fields();
    ASSERT_TRUE(step(3));
    ASSERT_TRUE(step(30));
    ASSERT_TRUE(step(17));
    EXPECT_EQ(fields().temperature, scrubbed.temperature);
    EXPECT_EQ(fields().velocity, scrubbed.velocity);
}

TEST_F(StepDriver, EditOnTheNextFrameContinuesAndEditWhileScrubbingResets) {
    for (int f = 0; f <= 5; ++f) ASSERT_TRUE(step(f));
    settings_.buoyancy = 2.0f;  // an animated parameter changes between frames 5 and 6
    ASSERT_TRUE(step(6));
    EXPECT_TRUE(grid().lastCall.resumed);
    EXPECT_EQ(grid().lastCall.stepsRun, 1);
    EXPECT_GE(slotHolding(0), 0) << "snapshots taken under the old values stay valid";

    settings_.buoyancy = 3.0f;  // an edit that arrives at a frame that is not the next one
    ASSERT_TRUE(step(12));
    EXPECT_FALSE(grid().lastCall.resumed);
    EXPECT_EQ(grid().lastCall.stepsRun, 13);
    EXPECT_EQ(slotHolding(0), -1) << "a reset empties the ring";
}

TEST_F(StepDriver, AnotherInstanceResimulates) {
    for (int f = 0; f <= 4; ++f) ASSERT_TRUE(step(f));
    settings_.instanceId = 2;  // equal parameters, another instance: its next frame is not ours
    ASSERT_TRUE(step(5));
    EXPECT_FALSE(grid().lastCall.resumed);
    EXPECT_EQ(grid().lastCall.stepsRun, 6);
    EXPECT_EQ(grid().lastInstanceId, 2u);
}

TEST_F(StepDriver, CatchingUpMoreThan600FramesRunsTheCap) {
    settings_.simMode = 1;  // the cap is about counting steps; the cheapest stages will do
    ASSERT_TRUE(step(700));
    EXPECT_EQ(grid().lastCall.stepsRun, 600);
    EXPECT_EQ(grid().lastCall.stepsAsked, 701);
    EXPECT_EQ(grid().lastFrame, 700);
}

// A capped request labels the grid with its frame although the fields hold frame 599's state.
// Whatever comes next must reach its frame as a request on an empty grid would, never by
// continuing (or snapshotting) that state as if it were the labelled frame.
struct AfterTheCap {
    const char* name;
    int cappedFrame;   // more than 600 frames from an empty grid
    int nextFrame;
    bool editBetween;  // a simulation parameter changes before the next request
};

const AfterTheCap kAfterTheCap[] = {
    {"playback to the next frame", 701, 702, false},
    {"the same frame again", 701, 701, false},
    {"playback from a capped multiple of 8", 704, 705, false},
    {"an edit on the next frame", 701, 702, true},
};

TEST_F(StepDriver, ARequestAfterACappedOneEqualsAColdRequest) {
    settings_.simMode = 1;  // no in-loop snapshots, cheap steps; every request is capped again
    settings_.burnThreshold = 300;
    const FrameSettings base = settings_;
    for (const AfterTheCap& c : kAfterTheCap) {
        SCOPED_TRACE(c.name);
        settings_ = base;
        forgetEverything();
        ASSERT_TRUE(step(c.cappedFrame));
        ASSERT_EQ(grid().lastCall.stepsRun, 600);
        EXPECT_EQ(slotHolding(c.cappedFrame), -1) << "a snapshot labelled " << c.cappedFrame
                                                  << " would hold frame 599";
        if (c.editBetween) settings_.heatOutput += 10.0f;
        ASSERT_TRUE(step(c.nextFrame));
        EXPECT_EQ(grid().lastCall.stepsRun, 600);
        EXPECT_FALSE(grid().lastCall.resumed);
        const Fields next = fields();

        forgetEverything();
        ASSERT_TRUE(step(c.nextFrame));
        const Fields cold = fields();
        EXPECT_GT(sum(cold.temperature), 0.0);
        EXPECT_EQ(next.temperature, cold.temperature);
        EXPECT_EQ(next.fuel, cold.fuel);
        EXPECT_EQ(next.density, cold.density);
    }
}

TEST_F(StepDriver, SourceOnlyModeBurnsWithoutMovingOrCooling) {
    settings_.simMode = 1;
    settings_.burnThreshold = 300;  // the source's own heat ignites its fuel
    ASSERT_TRUE(step(3));
    const Fields early = fields();
    ASSERT_TRUE(step(4));
    const Fields later = fields();
    EXPECT_GT(sum(later.temperature), sum(early.temperature));
    EXPECT_GT(sum(later.density), 0.0) << "fuel burnt into smoke";
    EXPECT_EQ(maxAbs(later.velocity), 0.0f);
    // Nothing cools: no cell of the grid is colder than a frame before.
    for (size_t i = 0; i < later.temperature.size(); ++i) ASSERT_GE(later.temperature[i], early.temperature[i]);
}

TEST_F(StepDriver, TinySpeedCountsAsOne) {
    ASSERT_TRUE(step(6));
    const Fields normal = fields();
    settings_.speed = 0.005f;
    forgetEverything();
    ASSERT_TRUE(step(6));
    EXPECT_EQ(fields().temperature, normal.temperature);
}

TEST_F(StepDriver, NotReadyRuntimeSkips) {
    cindel::GpuRuntime off;
    EXPECT_FALSE(cindel::stepSimulationOnGrid(off, 32, 3, kFrameSeconds, settings_));
}

TEST(StepEmission, FadeGateAndFuelRamp) {
    cindel::FrameSettings s = simtest::defaultSimSettings();
    EXPECT_EQ(cindel::emissionGate(s, 100.0f), 1.0f) << "fade 0 never gates";
    s.fade = 2.0f;
    s.fadeSoftness = 0.0f;
    EXPECT_EQ(cindel::emissionGate(s, 1.99f), 1.0f);
    EXPECT_EQ(cindel::emissionGate(s, 2.0f), 0.0f) << "no softness stops abruptly at t = fade";
    s.fadeSoftness = 0.5f;  // w = 1
    EXPECT_NEAR(cindel::emissionGate(s, 2.25f), 0.75f, 1e-6);
    EXPECT_EQ(cindel::emissionGate(s, 3.0f), 0.0f);

    s.life = 3.0f;
    s.trail = 100.0f;  // ramp centred on t = 0
    EXPECT_NEAR(cindel::fuelRamp(s, 0.0f), 0.5f, 1e-6);
    EXPECT_NEAR(cindel::fuelRamp(s, 0.6f), 1.0f, 1e-6) << "full after max(0.2 life, 0.04) seconds";
    EXPECT_LT(cindel::fuelRamp(s, 0.3f), 1.0f);
    s.trail = 0.0f;  // the ramp rises only around t = life
    EXPECT_EQ(cindel::fuelRamp(s, 0.0f), 0.0f);
    EXPECT_NEAR(cindel::fuelRamp(s, 3.0f), 0.5f, 1e-6);
}

TEST(StepGrid, VoxelSizeChoosesTheSide) {
    EXPECT_EQ(cindel::gridSideForVoxelSize(1), 128);
    EXPECT_EQ(cindel::gridSideForVoxelSize(2), 192);
    EXPECT_EQ(cindel::gridSideForVoxelSize(3), 256);
    EXPECT_EQ(cindel::gridSideForVoxelSize(4), 384);
    EXPECT_EQ(cindel::gridSideForVoxelSize(0), 128);
    EXPECT_EQ(cindel::gridSideForVoxelSize(99), 128);
}

}  // namespace
