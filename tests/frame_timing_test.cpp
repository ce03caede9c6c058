// Host time to frame numbers, and the trajectory digest, against values worked out by hand.
#include "frame/frame_timing.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "fake_params.h"
#include "frame/digest.h"
#include "frame/frame_settings.h"

namespace cindel {
namespace {

TEST(FrameTiming, TimeZeroIsOneEntryAndFrameZero) {
    const FrameTiming t = frameTiming(0, 100, 3000);
    EXPECT_EQ(t.frameCount, 1);
    EXPECT_EQ(t.targetFrame, 0);
    EXPECT_EQ(t.simStep, 100);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 30.0f);
}

TEST(FrameTiming, RoundsToTheNearestFrame) {
    // 250 / 100 + 0.5 = 3.0: frame 3, frames 0 ... 3.
    FrameTiming t = frameTiming(250, 100, 3000);
    EXPECT_EQ(t.targetFrame, 3);
    EXPECT_EQ(t.frameCount, 4);
    t = frameTiming(249, 100, 3000);
    EXPECT_EQ(t.targetFrame, 2);
    EXPECT_EQ(t.frameCount, 3);
}

TEST(FrameTiming, ZeroTimeStepCountsHostUnitsForTablesAndThirtiethsForTheSimulation) {
    // time_scale 30: the tables step by 1 host unit, the simulation by 30 / 30 = 1.
    FrameTiming t = frameTiming(90, 0, 30);
    EXPECT_EQ(t.frameCount, 91);
    EXPECT_EQ(t.simStep, 1);
    EXPECT_EQ(t.targetFrame, 90);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 30.0f);

    // time_scale 3000: tables still count units (capped), the simulation steps by 100.
    t = frameTiming(250, 0, 3000);
    EXPECT_EQ(t.frameCount, 251);
    EXPECT_EQ(t.simStep, 100);
    EXPECT_EQ(t.targetFrame, 3);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 30.0f);
}

TEST(FrameTiming, ZeroTimeScaleGivesASixtiethOfASecond) {
    FrameTiming t = frameTiming(10, 0, 0);
    EXPECT_EQ(t.simStep, 1);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 60.0f);
    EXPECT_EQ(t.targetFrame, 10);
    t = frameTiming(10, 5, 0);
    EXPECT_EQ(t.simStep, 5);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 60.0f);
    EXPECT_EQ(t.targetFrame, 2);
    // Below a microsecond per step counts as no step length at all.
    t = frameTiming(10, 1, 4000000000u);
    EXPECT_FLOAT_EQ(t.frameDurationSeconds, 1.0f / 60.0f);
}

TEST(FrameTiming, BeyondFrame599TheTablesStopAt600) {
    FrameTiming t = frameTiming(599 * 100, 100, 3000);
    EXPECT_EQ(t.frameCount, 600);
    EXPECT_EQ(t.targetFrame, 599);
    t = frameTiming(598 * 100, 100, 3000);
    EXPECT_EQ(t.frameCount, 599);
    t = frameTiming(1000 * 100, 100, 3000);
    EXPECT_EQ(t.frameCount, 600);
    EXPECT_EQ(t.targetFrame, 1000);
}

TEST(FrameTiming, NegativeTimeIsFrameZero) {
    FrameTiming t = frameTiming(-1000, 100, 3000);
    EXPECT_EQ(t.frameCount, 1);
    EXPECT_EQ(t.targetFrame, 0);
    t = frameTiming(INT_MIN, 0, 30);
    EXPECT_EQ(t.frameCount, 1);
    EXPECT_EQ(t.targetFrame, 0);
}

TEST(FrameTiming, ExtremeHostTimesSaturate) {
    FrameTiming t = frameTiming(INT_MAX, 1, 30);
    EXPECT_EQ(t.frameCount, 600);
    EXPECT_EQ(t.targetFrame, INT_MAX);
    t = frameTiming(INT_MAX, INT_MIN, 30);  // |INT_MIN| does not fit 32 bits
    EXPECT_EQ(t.simStep, INT_MAX);
    EXPECT_EQ(t.targetFrame, 1);
}

TEST(FrameTiming, NegativeStepIsTakenByItsLength) {
    const FrameTiming back = frameTiming(500, -100, 3000);
    const FrameTiming forward = frameTiming(500, 100, 3000);
    EXPECT_EQ(back.frameCount, forward.frameCount);
    EXPECT_EQ(back.targetFrame, 5);
    EXPECT_EQ(back.simStep, 100);
    EXPECT_EQ(historyFrameTime(3, -100), 300);
}

TEST(FrameTiming, HistoryFrameTimeSaturates) {
    EXPECT_EQ(historyFrameTime(0, 100), 0);
    EXPECT_EQ(historyFrameTime(599, 100), 59900);
    EXPECT_EQ(historyFrameTime(599, INT_MAX), INT_MAX);
    EXPECT_EQ(historyFrameTime(7, 0), 0);
}

// ---------------------------------------------------------------------------------------------
// hashTrajectory against a digest built here from the index rule j * (n - 1) / 63.

uint32_t referenceTrajectoryHash(uint32_t seed, const std::vector<float>& x, const std::vector<float>& y,
                                 const std::vector<float>& z, const std::vector<int>& indices) {
    std::vector<uint8_t> bytes;
    for (int i : indices) {
        test::appendLittleEndian(bytes, x[i]);
        test::appendLittleEndian(bytes, y[i]);
        test::appendLittleEndian(bytes, z[i]);
    }
    return test::referenceFnv32(seed, bytes);
}

struct Tables {
    std::vector<float> x, y, z;
    explicit Tables(int n) : x(n), y(n), z(n) {
        for (int i = 0; i < n; ++i) {
            x[i] = 0.5f * i + 1.0f;
            y[i] = -3.25f * i;
            z[i] = 1000.0f + i;
        }
    }
};

TEST(HashTrajectory, OneEntryIsFedSixtyFourTimes) {
    const Tables t(1);
    const std::vector<int> indices(64, 0);
    EXPECT_EQ(hashTrajectory(kFnv32Basis, t.x.data(), t.y.data(), t.z.data(), 1),
              referenceTrajectoryHash(kFnv32Basis, t.x, t.y, t.z, indices));
}

TEST(HashTrajectory, SixtyFourEntriesAreEachFedOnce) {
    const Tables t(64);
    std::vector<int> indices;
    for (int i = 0; i < 64; ++i) indices.push_back(i);
    EXPECT_EQ(hashTrajectory(12345u, t.x.data(), t.y.data(), t.z.data(), 64),
              referenceTrajectoryHash(12345u, t.x, t.y, t.z, indices));
}

TEST(HashTrajectory, SixHundredEntriesAreSampledEvenly) {
    Tables t(600);
    // 599 j / 63: 0, 9, 19, 28, ... 599.
    std::vector<int> indices;
    for (int j = 0; j < 64; ++j) indices.push_back(j * 599 / 63);
    ASSERT_EQ(indices[1], 9);
    ASSERT_EQ(indices[2], 19);
    ASSERT_EQ(indices[63], 599);
    const uint32_t h = hashTrajectory(kFnv32Basis, t.x.data(), t.y.data(), t.z.data(), 600);
    EXPECT_EQ(h, referenceTrajectoryHash(kFnv32Basis, t.x, t.y, t.z, indices));

    t.z[10] = 7.0f;  // not sampled
    EXPECT_EQ(hashTrajectory(kFnv32Basis, t.x.data(), t.y.data(), t.z.data(), 600), h);
    t.z[9] = 7.0f;  // sampled
    EXPECT_NE(hashTrajectory(kFnv32Basis, t.x.data(), t.y.data(), t.z.data(), 600), h);
}

TEST(HashTrajectory, ReturnsTheSeedWithoutEntriesOrTables) {
    const Tables t(4);
    EXPECT_EQ(hashTrajectory(99u, t.x.data(), t.y.data(), t.z.data(), 0), 99u);
    EXPECT_EQ(hashTrajectory(99u, t.x.data(), t.y.data(), t.z.data(), -5), 99u);
    EXPECT_EQ(hashTrajectory(99u, nullptr, t.y.data(), t.z.data(), 4), 99u);
    EXPECT_EQ(hashTrajectory(99u, t.x.data(), t.y.data(), nullptr, 4), 99u);
}

TEST(HashTrajectory, CountsBeyondTheTableAreTakenAs600) {
    const Tables t(600);
    EXPECT_EQ(hashTrajectory(1u, t.x.data(), t.y.data(), t.z.data(), 5000),
              hashTrajectory(1u, t.x.data(), t.y.data(), t.z.data(), 600));
}

}  // namespace
}  // namespace cindel
