// The curl noise's lattice table: the table path must write the same velocity as the direct
// path, bit for bit, over grid sides, Turbulence Scales, noise times (negative lattice
// coordinates included) and seeds; the table must fall back to the direct path exactly where its
// bounds say; and the boxes must cover every point a launch reads with the margin they claim.
//
// Equality is of float bits, not within a tolerance: the table only changes where the corner
// hashes come from, so any difference at all is a fault (a box that misses a point, or noise
// arithmetic that no longer follows cd_smooth_noisef).
#include "sim/noise_lattice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gpu/launch.h"
#include "sim/forces.h"
#include "sim_fixture.h"

namespace {

using cindel::CurlNoisePath;
using cindel::FrameSettings;
using simtest::SimTest;

constexpr float kDt = 1.0f / 24.0f;

class NoiseLattice : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
        settings_.turbulence = 40.0f;
        violationsBefore_ = cindel::kernelContractViolations();
    }

    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch was refused";
        }
    }

    void useSide(int n) {
        ASSERT_TRUE(cindel::resizeGrid(rt(), n));
        ASSERT_EQ(N(), n);
        clearFields();
    }

    // A start velocity with every component non-zero, so that the noise is added to something.
    std::vector<float> startField() const {
        std::vector<float> v(cells() * 4, 0.0f);
        for (size_t i = 0; i < cells(); ++i) {
            for (int c = 0; c < 3; ++c) v[4 * i + c] = 0.5f * std::sin(0.37f * static_cast<float>(i) + 1.3f * c);
        }
        return v;
    }

    // The velocity after one curl-noise launch on `start` by the path asked for, and the path taken.
    std::vector<float> launch(const std::vector<float>& start, int frame, CurlNoisePath preferred,
                              CurlNoisePath* taken) {
        write(grid().velocity, start);
        *taken = cindel::enqueueCurlNoise(rt(), settings_, frame, kDt, preferred);
        return readVec(grid().velocity);
    }

    // Runs both paths and checks that they agree bit for bit and that the noise did something.
    // Returns the path the default (table-preferring) launch took.
    CurlNoisePath expectSameBits(int frame, const std::string& what) {
        const std::vector<float> start = startField();
        CurlNoisePath direct = CurlNoisePath::Lattice;
        CurlNoisePath preferred = CurlNoisePath::Direct;
        const std::vector<float> a = launch(start, frame, CurlNoisePath::Direct, &direct);
        const std::vector<float> b = launch(start, frame, CurlNoisePath::Lattice, &preferred);
        EXPECT_EQ(direct, CurlNoisePath::Direct) << what;
        size_t differing = 0;
        size_t first = a.size();
        double moved = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            uint32_t ba = 0;
            uint32_t bb = 0;
            std::memcpy(&ba, &a[i], sizeof ba);
            std::memcpy(&bb, &b[i], sizeof bb);
            if (ba != bb) {
                ++differing;
                if (first == a.size()) first = i;
            }
            moved = std::max(moved, std::fabs(static_cast<double>(a[i]) - start[i]));
        }
        EXPECT_EQ(differing, 0u) << what << ": " << differing << " floats differ; first at element " << first
                                 << " (cell " << first / 4 << ", component " << first % 4 << "): direct "
                                 << (first < a.size() ? a[first] : 0.0f) << ", table "
                                 << (first < b.size() ? b[first] : 0.0f);
        EXPECT_GT(moved, 0.05) << what << ": the noise moved nothing";
        return preferred;
    }

    FrameSettings settings_{};
    int violationsBefore_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The plan

TEST(NoiseLatticePlan, BoxesCoverTheGridWithTheirMargin) {
    // Side 128 at the default scale: base frequency 0.1, 12.7 + 2 noise units per axis.
    const auto layout = cindel::planNoiseLattice(128, 1.0f, 0.0f);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->side[0], 15 + 6);
    EXPECT_EQ(layout->side[1], 30 + 6);
    EXPECT_EQ(layout->side[2], 59 + 6);
    const int64_t perPotential = 21 * 21 * 21 + 36 * 36 * 36 + 65 * 65 * 65;
    EXPECT_EQ(layout->entries, 3 * perPotential);
    EXPECT_LT(layout->entries, int64_t{128} * 128 * 128 / 2) << "the default case should cost little memory";
}

TEST(NoiseLatticePlan, FallsBackWhereTheBoundsSay) {
    // Base frequency 1 (scale 0.1 and anything below it): the finest octave has 4 lattice points
    // a cell per axis, about 200 entries a cell.
    for (int n : {32, 48, 128, 256}) {
        EXPECT_FALSE(cindel::planNoiseLattice(n, 0.1f, 0.0f).has_value()) << n;
        EXPECT_FALSE(cindel::planNoiseLattice(n, 0.0f, 0.0f).has_value()) << n;
    }
    // Scale 0.3 at side 32: 19 entries a cell, over the 16 allowed; at side 48 about 15.
    EXPECT_FALSE(cindel::planNoiseLattice(32, 0.3f, 0.0f).has_value());
    const auto at48 = cindel::planNoiseLattice(48, 0.3f, 0.0f);
    ASSERT_TRUE(at48.has_value());
    EXPECT_LE(at48->entries, cindel::kMaxNoiseLatticeEntriesPerCell * 48 * 48 * 48);
    // Side 256 at scale 0.3 stays under 16 a cell (9) but over the absolute 2^26 entries; at
    // scale 0.5 it needs 36 million.
    EXPECT_FALSE(cindel::planNoiseLattice(256, 0.3f, 0.0f).has_value());
    const auto big = cindel::planNoiseLattice(256, 0.5f, 0.0f);
    ASSERT_TRUE(big.has_value());
    EXPECT_LE(big->entries, cindel::kMaxNoiseLatticeEntries);
    // Noise times so far out that float coordinates lose their last bits to the lattice.
    EXPECT_TRUE(cindel::planNoiseLattice(64, 1.0f, 3.0e5f).has_value());
    EXPECT_FALSE(cindel::planNoiseLattice(64, 1.0f, 4.0e5f).has_value());
    EXPECT_FALSE(cindel::planNoiseLattice(64, 1.0f, -4.0e5f).has_value());
    EXPECT_FALSE(cindel::planNoiseLattice(64, 1.0f, std::nanf("")).has_value());
    EXPECT_FALSE(cindel::planNoiseLattice(0, 1.0f, 0.0f).has_value());
}

// ---------------------------------------------------------------------------------------------
// Table against direct evaluation

// The scales of the slider's range that take the table, at sides 32 and 48, over seeds and
// frames whose noise times run from negative (lattice coordinates below zero along every
// potential's drifting axis) to a large seed's offset.
TEST_F(NoiseLattice, TableGivesTheDirectBitsOverSidesScalesAndTimes) {
    struct Case {
        int side;
        float scale;
    };
    struct When {
        int seed;
        int frame;
    };
    for (const Case c : {Case{32, 1.0f}, Case{32, 5.0f}, Case{32, 0.45f}, Case{48, 0.3f}, Case{48, 1.0f}}) {
        useSide(c.side);
        settings_.turbulenceScale = c.scale;
        for (const When w : {When{0, 5}, When{7, -200}, When{9999, 37}}) {
            settings_.randomSeed = w.seed;
            const std::string what = "side " + std::to_string(c.side) + " scale " + std::to_string(c.scale) + " seed " +
                                     std::to_string(w.seed) + " frame " + std::to_string(w.frame);
            EXPECT_EQ(expectSameBits(w.frame, what), CurlNoisePath::Lattice) << what;
        }
    }
}

// Turbulence Speed scales the drift: at the slider's top speed, frames far before and after the
// start reach lattice coordinates far below and above zero.
TEST_F(NoiseLattice, TableGivesTheDirectBitsWithFastDriftAndFarTimes) {
    useSide(32);
    for (const float speed : {5.0f, 2.37f}) {
        settings_.turbulenceSpeed = speed;
        // ±1,000,000 frames at speed 5 put the coordinates near 600,000 after the octave
        // frequency, where a float's last bit is 1/16 of a lattice step.
        for (const int frame : {-2400, -1, 1, 2400, 1000000, -1000000}) {
            const std::string what = "speed " + std::to_string(speed) + " frame " + std::to_string(frame);
            EXPECT_EQ(expectSameBits(frame, what), CurlNoisePath::Lattice) << what;
        }
    }
}

// Consecutive frames of one simulation, as the step driver asks for them.
TEST_F(NoiseLattice, TableGivesTheDirectBitsFrameAfterFrame) {
    useSide(48);
    for (int frame = 0; frame < 4; ++frame) {
        EXPECT_EQ(expectSameBits(frame, "frame " + std::to_string(frame)), CurlNoisePath::Lattice);
    }
}

// The table outlives its launch and a box is refilled only when its origin moves. Frames in play
// order (boxes kept on some, moved on others), a jump back, and a side and a scale that change
// the boxes' sizes and back, each against the direct form; the origins read after each launch
// show that both kept and moved boxes were met.
TEST_F(NoiseLattice, TableKeptBetweenLaunchesGivesTheDirectBits) {
    const auto origins = [this] {
        std::vector<int> o(27, 0);
        cindel::cl().clEnqueueReadBuffer(rt().queue, rt().noiseLattice.origins.handle, CL_TRUE, 0,
                                         o.size() * sizeof(int), o.data(), 0, nullptr, nullptr);
        return o;
    };
    useSide(32);
    settings_.turbulenceSpeed = 2.0f;
    int kept = 0;
    int moved = 0;
    std::vector<int> before;
    for (const int frame : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2, 2, -40}) {
        ASSERT_EQ(expectSameBits(frame, "frame " + std::to_string(frame)), CurlNoisePath::Lattice);
        const std::vector<int> now = origins();
        if (!before.empty()) {
            for (size_t box = 0; box < 27; box += 3) {
                const bool same = std::equal(now.begin() + box, now.begin() + box + 3, before.begin() + box);
                (same ? kept : moved) += 1;
            }
        }
        before = now;
    }
    EXPECT_GT(kept, 20);
    EXPECT_GT(moved, 20);

    useSide(48);
    EXPECT_EQ(expectSameBits(2, "side 48"), CurlNoisePath::Lattice);
    useSide(32);
    EXPECT_EQ(expectSameBits(2, "side 32 again"), CurlNoisePath::Lattice);
    settings_.turbulenceScale = 0.5f;
    EXPECT_EQ(expectSameBits(2, "scale 0.5"), CurlNoisePath::Lattice);
    settings_.turbulenceScale = 1.0f;
    EXPECT_EQ(expectSameBits(2, "scale 1 again"), CurlNoisePath::Lattice);
}

// Where the table would break its bounds the launch evaluates directly, and still gives those
// bits (both launches then run cd_curl_noise).
TEST_F(NoiseLattice, FallbackIsTakenWhereDocumentedAndMatches) {
    useSide(32);
    for (const float scale : {0.1f, 0.05f, 0.3f}) {
        settings_.turbulenceScale = scale;
        EXPECT_EQ(expectSameBits(3, "scale " + std::to_string(scale) + " at side 32"), CurlNoisePath::Direct);
    }
    useSide(48);
    settings_.turbulenceScale = 0.1f;
    EXPECT_EQ(expectSameBits(3, "scale 0.1 at side 48"), CurlNoisePath::Direct);
}

// A strength below the threshold does nothing on either path, and takes no table.
TEST_F(NoiseLattice, WeakStrengthTakesNoTable) {
    useSide(32);
    settings_.turbulence = 0.0009f;
    const std::vector<float> start = startField();
    CurlNoisePath taken = CurlNoisePath::Lattice;
    const std::vector<float> v = launch(start, 5, CurlNoisePath::Lattice, &taken);
    EXPECT_EQ(taken, CurlNoisePath::Direct);
    EXPECT_EQ(std::memcmp(v.data(), start.data(), v.size() * sizeof(float)), 0);
}

// The origins the fill chose and the sides the host chose leave at least one lattice point of
// margin around every point the launch reads, estimated here in double: the clamp in the noise
// kernel is a guard for memory, never part of the result. The table values are hashes in [0, 1).
TEST_F(NoiseLattice, BoxesHoldEveryPointTheLaunchReads) {
    useSide(48);
    settings_.turbulenceScale = 0.7f;
    settings_.randomSeed = 3;
    const int frame = -77;
    CurlNoisePath taken = CurlNoisePath::Direct;
    launch(startField(), frame, CurlNoisePath::Lattice, &taken);
    ASSERT_EQ(taken, CurlNoisePath::Lattice);
    const float time = cindel::curlNoiseTime(settings_, frame, kDt);
    const auto layout = cindel::planNoiseLattice(N(), settings_.turbulenceScale, time);
    ASSERT_TRUE(layout.has_value());

    std::vector<int> origin(27, 0);
    cindel::cl().clEnqueueReadBuffer(rt().queue, rt().noiseLattice.origins.handle, CL_TRUE, 0,
                                     origin.size() * sizeof(int), origin.data(), 0, nullptr, nullptr);
    const std::vector<float> values =
        simtest::readBuffer(rt().noiseLattice.values.handle, static_cast<size_t>(layout->entries));
    for (float v : values) {
        ASSERT_GE(v, 0.0f);
        ASSERT_LT(v, 1.0f);
    }

    const double baseFreq = 0.1 / settings_.turbulenceScale;
    const double offset[3][3] = {{0, 17, 31}, {53, 0, 71}, {97, 23, 0}};
    const double drift[3][3] = {{0.7, 0.5, 0.3}, {0.3, 0.7, 0.5}, {0.5, 0.3, 0.7}};
    for (int pot = 0; pot < 3; ++pot) {
        for (int o = 0; o < 3; ++o) {
            const double freq = 1 << o;
            const int side = layout->side[static_cast<size_t>(o)];
            for (int axis = 0; axis < 3; ++axis) {
                const double lo = offset[pot][axis] + drift[pot][axis] * time - 1.0;
                const double hi = lo + (N() - 1) * baseFreq + 2.0;
                const int first = static_cast<int>(std::floor(freq * lo));
                const int last = static_cast<int>(std::floor(freq * hi)) + 1;
                const int org = origin[static_cast<size_t>((pot * 3 + o) * 3 + axis)];
                SCOPED_TRACE("potential " + std::to_string(pot) + " octave " + std::to_string(o) + " axis " +
                             std::to_string(axis));
                EXPECT_GE(first - 1, org);
                EXPECT_LE(last + 1, org + side - 1);
            }
        }
    }
}

}  // namespace
