// The simulation's launches in work-groups of whole rows must compute exactly what the same kernels
// compute over the exact range with no local size: a group shape only changes which work items
// run together, and every kernel returns for ids past the grid that the rounded-up range adds.
// Whole Full steps are run both ways from an empty grid, with every force on, at sides that are
// and are not multiples of the group height, and every field the step keeps is compared by its
// float bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gpu/launch.h"
#include "sim/step.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using simtest::SimTest;

constexpr float kFrameSeconds = 1.0f / 24.0f;
constexpr int kSteps = 6;

struct Fields {
    std::vector<float> density, temperature, fuel, ember, velocity, pressure;
};

class SimEquivalence : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
        settings_.compWidth = 64;
        settings_.compHeight = 64;
        settings_.sourcePosition = {30.0f, 40.0f, 0.0f};
        settings_.emitterRadius = 5;
        settings_.instanceId = 1;
        settings_.simMode = 5;
        // Every optional force and the embers, so that each kernel of the step runs.
        settings_.vorticity = 10.0f;
        settings_.turbulence = 25.0f;
        settings_.flameTear = 1.0f;
        settings_.flameAggression = 0.6f;
        settings_.emberAmount = 0.5f;
        violationsBefore_ = cindel::kernelContractViolations();
    }

    void TearDown() override {
        cindel::setLocalSizesEnabled(true);
        if (!IsSkipped()) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch was refused";
        }
    }

    // The fields after `steps` steps from an empty grid of side n, launched with or without groups.
    Fields run(int n, bool groups, int steps = kSteps) {
        cindel::setLocalSizesEnabled(groups);
        EXPECT_TRUE(cindel::resizeGrid(rt(), n));
        clearFields();
        cindel::SimGrid& g = grid();
        for (cindel::SimSnapshot& s : g.slots) s.frame = -1;
        g.nextSlot = 0;
        g.lastFrame = -1;
        g.lastInstanceId = 0;
        g.settingsHash = 0;
        for (int f = 0; f < steps; ++f) {
            EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), n, f, kFrameSeconds, settings_));
        }
        finish();
        cindel::setLocalSizesEnabled(true);
        return {read(g.density), read(g.temperature), read(g.fuel), read(g.ember), readVec(g.velocity),
                read(g.pressure)};
    }

    static void expectSameBits(const std::vector<float>& a, const std::vector<float>& b, const std::string& what) {
        ASSERT_EQ(a.size(), b.size()) << what;
        size_t differing = 0;
        size_t first = a.size();
        for (size_t i = 0; i < a.size(); ++i) {
            uint32_t ba = 0;
            uint32_t bb = 0;
            std::memcpy(&ba, &a[i], sizeof ba);
            std::memcpy(&bb, &b[i], sizeof bb);
            if (ba != bb) {
                ++differing;
                if (first == a.size()) first = i;
            }
        }
        EXPECT_EQ(differing, 0u) << what << ": " << differing << " floats differ, first at " << first << " ("
                                 << (first < a.size() ? a[first] : 0.0f) << " against "
                                 << (first < b.size() ? b[first] : 0.0f) << ")";
    }

    static bool anyNonZero(const std::vector<float>& v) {
        for (float x : v) {
            if (x != 0.0f) return true;
        }
        return false;
    }

    FrameSettings settings_{};
    int violationsBefore_ = 0;
};

TEST_F(SimEquivalence, GroupedLaunchesGiveTheExactRangeBits) {
    // 32, 48 and 64 divide into whole groups; 37 leaves a partial group in y.
    for (int n : {32, 37, 48, 64}) {
        const Fields plain = run(n, false);
        const Fields grouped = run(n, true);
        const std::string at = "side " + std::to_string(n);
        EXPECT_TRUE(anyNonZero(plain.density) && anyNonZero(plain.velocity)) << at << ": nothing moved";
        expectSameBits(plain.density, grouped.density, at + ", density");
        expectSameBits(plain.temperature, grouped.temperature, at + ", temperature");
        expectSameBits(plain.fuel, grouped.fuel, at + ", fuel");
        expectSameBits(plain.ember, grouped.ember, at + ", embers");
        expectSameBits(plain.velocity, grouped.velocity, at + ", velocity");
        expectSameBits(plain.pressure, grouped.pressure, at + ", pressure");
    }
}

// PoCL compiles a kernel for each group shape it meets, and the shape it picks on its own depends
// on the side: the effect's default side gets its own check.
TEST_F(SimEquivalence, GroupedLaunchesGiveTheExactRangeBitsAtTheDefaultSide) {
    const Fields plain = run(128, false);
    const Fields grouped = run(128, true);
    EXPECT_TRUE(anyNonZero(plain.density) && anyNonZero(plain.velocity)) << "nothing moved";
    expectSameBits(plain.density, grouped.density, "density");
    expectSameBits(plain.temperature, grouped.temperature, "temperature");
    expectSameBits(plain.fuel, grouped.fuel, "fuel");
    expectSameBits(plain.ember, grouped.ember, "embers");
    expectSameBits(plain.velocity, grouped.velocity, "velocity");
    expectSameBits(plain.pressure, grouped.pressure, "pressure");
}

// The same run twice with groups gives the same bits: the comparison above is not blind to a
// launch that reads a field another launch is still writing.
TEST_F(SimEquivalence, GroupedLaunchesRepeatExactly) {
    const Fields a = run(37, true);
    const Fields b = run(37, true);
    expectSameBits(a.velocity, b.velocity, "velocity");
    expectSameBits(a.density, b.density, "density");
}

}  // namespace
