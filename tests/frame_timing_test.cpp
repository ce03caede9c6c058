// Host time to frame numbers, and the trajectory digest, against values worked out by hand.
#include "frame/frame_timing.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "fake_params.h"
#include "frame/digest.h"

namespace cindel {
namespace {

TEST(FrameTiming, FromHostTime) {
    struct Case {
        A_long time, step;
        A_u_long scale;
        int32_t count, target, simStep;
        float seconds;
    };
    const Case cases[] = {
        {0, 100, 3000, 1, 0, 100, 1 / 30.0f},
        {250, 100, 3000, 4, 3, 100, 1 / 30.0f},  // 2.5 + 0.5 rounds up to frame 3
        {249, 100, 3000, 3, 2, 100, 1 / 30.0f},
        // No step: the tables count host units, the simulation steps a thirtieth of a second.
        {90, 0, 30, 91, 90, 1, 1 / 30.0f},
        {250, 0, 3000, 251, 3, 100, 1 / 30.0f},
        // No scale, or a step under a microsecond: a sixtieth of a second.
        {10, 0, 0, 11, 10, 1, 1 / 60.0f},
        {10, 5, 0, 3, 2, 5, 1 / 60.0f},
        {10, 1, 4000000000u, 11, 10, 1, 1 / 60.0f},
        // The tables stop at 600 entries, the target does not.
        {59800, 100, 3000, 599, 598, 100, 1 / 30.0f},
        {59900, 100, 3000, 600, 599, 100, 1 / 30.0f},
        {100000, 100, 3000, 600, 1000, 100, 1 / 30.0f},
        // Negative time is frame 0; a negative step is taken by its length; extremes saturate.
        {-1000, 100, 3000, 1, 0, 100, 1 / 30.0f},
        {INT_MIN, 0, 30, 1, 0, 1, 1 / 30.0f},
        {500, -100, 3000, 6, 5, 100, 1 / 30.0f},
        {INT_MAX, 1, 30, 600, INT_MAX, 1, 1 / 30.0f},
        {INT_MAX, INT_MIN, 30, 2, 1, INT_MAX, float(INT_MAX / 30.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.time << " step " << c.step << " scale " << c.scale);
        const FrameTiming t = frameTiming(c.time, c.step, c.scale);
        EXPECT_EQ(t.frameCount, c.count);
        EXPECT_EQ(t.targetFrame, c.target);
        EXPECT_EQ(t.simStep, c.simStep);
        EXPECT_FLOAT_EQ(t.frameDurationSeconds, c.seconds);
    }
    EXPECT_EQ(historyFrameTime(599, 100), 59900);
    EXPECT_EQ(historyFrameTime(3, -100), 300);
    EXPECT_EQ(historyFrameTime(599, INT_MAX), INT_MAX);
}

// hashTrajectory against FNV-1a over x, y, z of the 64 entries j (n - 1) / 63.
TEST(HashTrajectory, SamplesSixtyFourEntriesEvenly) {
    std::vector<float> x(600), y(600), z(600);
    for (int i = 0; i < 600; ++i) x[i] = 0.5f * i + 1.0f, y[i] = -3.25f * i, z[i] = 1000.0f + i;
    for (int n : {1, 64, 600}) {
        std::vector<uint8_t> bytes;
        for (int j = 0; j < 64; ++j) {
            const int i = j * (n - 1) / 63;
            for (float v : {x[i], y[i], z[i]}) test::appendLittleEndian(bytes, v);
        }
        EXPECT_EQ(hashTrajectory(12345u, x.data(), y.data(), z.data(), n), test::referenceFnv32(12345u, bytes)) << n;
    }
    const uint32_t h = hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 600);
    EXPECT_EQ(hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 5000), h);  // taken as 600
    z[10] = 7.0f;  // not sampled: 599 j / 63 gives 0, 9, 19, ...
    EXPECT_EQ(hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 600), h);
    z[9] = 7.0f;
    EXPECT_NE(hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 600), h);
    for (int n : {0, -5}) EXPECT_EQ(hashTrajectory(99u, x.data(), y.data(), z.data(), n), 99u);
    EXPECT_EQ(hashTrajectory(99u, nullptr, y.data(), z.data(), 4), 99u);
}

}  // namespace
}  // namespace cindel
