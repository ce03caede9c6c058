// The Source Position table and its process-wide cache: what is read, how often, and when the
// cache is trusted or thrown away. Reads are counted through the fake host's checkouts.
#include "emit/source_position.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "emit/emitter_caches.h"
#include "fake_params.h"
#include "frame/frame_settings.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using test::FakeHost;

constexpr A_long kStep = 100;

// Frame f of the animated position is (f, 2f + 1, -f) until the test edits `edits`.
struct Animation {
    std::map<int, float> editsX;
    std::set<int> failing;
    void install(FakeHost& host) {
        host.set(kParamSourcePosition, [this](A_long time, PF_ParamDef& d) {
            const int frame = int(time / kStep);
            if (failing.count(frame)) return false;
            auto it = editsX.find(frame);
            d.u.point3d_d.x_value = it != editsX.end() ? it->second : double(frame);
            d.u.point3d_d.y_value = 2.0 * frame + 1.0;
            d.u.point3d_d.z_value = -double(frame);
            return true;
        });
    }
};

class SourcePositionTable : public ::testing::Test {
protected:
    void SetUp() override {
        releaseEmitterCaches();
        host.in.time_step = kStep;
        host.in.time_scale = 3000;
        animation.install(host);
    }
    void TearDown() override { releaseEmitterCaches(); }

    int sample(int frameCount, float sx = 1.0f, float sy = 1.0f, uint64_t key = 7) {
        return sampleSourcePositionTable(&host.in, frameCount, sx, sy, xs.data(), ys.data(), zs.data(), key);
    }
    std::set<int> framesRead() const {
        std::set<int> frames;
        for (A_long t : host.checkoutTimes(kParamSourcePosition)) frames.insert(int(t / kStep));
        return frames;
    }

    FakeHost host;
    Animation animation;
    // One entry past the 600 of a table, to see that nothing is written beyond it.
    std::vector<float> xs = std::vector<float>(kMaxHistoryFrames + 1, -1234.0f);
    std::vector<float> ys = std::vector<float>(kMaxHistoryFrames + 1, -1234.0f);
    std::vector<float> zs = std::vector<float>(kMaxHistoryFrames + 1, -1234.0f);
};

TEST_F(SourcePositionTable, FirstCallReadsEveryFrameScaled) {
    ASSERT_EQ(sample(10, 2.0f, 4.0f), 10);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 10);
    EXPECT_EQ(host.checkins(), 10);
    for (int f = 0; f < 10; ++f) {
        EXPECT_EQ(xs[f], 2.0f * f) << f;
        EXPECT_EQ(ys[f], 4.0f * (2.0f * f + 1.0f)) << f;
        EXPECT_EQ(zs[f], -2.0f * f) << f;  // z uses the x factor
    }
    EXPECT_EQ(xs[10], -1234.0f);
    for (const auto& c : host.checkoutLog()) {
        EXPECT_EQ(c.step, kStep);
        EXPECT_EQ(c.scale, 3000u);
    }
}

TEST_F(SourcePositionTable, ForwardScrubReadsOnlyNewFramesPlusEightVerifications) {
    sample(10);
    host.clearCounts();
    ASSERT_EQ(sample(11), 11);
    // Cached count 10: frames 9k/7 for k = 0 ... 7 are verified, then frame 10 is new.
    const std::vector<A_long> expected = {0, 100, 200, 300, 500, 600, 700, 900, 1000};
    EXPECT_EQ(host.checkoutTimes(kParamSourcePosition), expected);
    EXPECT_EQ(xs[10], 10.0f);
    EXPECT_EQ(ys[10], 21.0f);

    // Playing on frame by frame never costs more than one new read plus eight.
    for (int count = 12; count <= 40; ++count) {
        host.clearCounts();
        sample(count);
        EXPECT_EQ(host.checkouts(kParamSourcePosition), 8 + 1) << count;
        EXPECT_EQ(xs[count - 1], float(count - 1));
    }
}

TEST_F(SourcePositionTable, RerenderingTheSameFrameOnlyVerifies) {
    sample(3);
    host.clearCounts();
    sample(3);
    EXPECT_EQ(framesRead(), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 3);  // m = min(c, 8) = 3

    sample(1);
    host.clearCounts();
    sample(1);
    EXPECT_EQ(host.checkoutTimes(kParamSourcePosition), std::vector<A_long>{0});
}

TEST_F(SourcePositionTable, ChangeAtAVerificationFrameDiscardsTheCache) {
    sample(10);
    animation.editsX[9] = 500.0f;  // frame 9 is the last verification frame
    host.clearCounts();
    sample(11);
    // Eight verification reads, then every frame again.
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 8 + 11);
    EXPECT_EQ(xs[9], 500.0f);
}

TEST_F(SourcePositionTable, ChangeBetweenVerificationFramesKeepsCachedValues) {
    sample(10);
    animation.editsX[4] = 500.0f;  // frames 0 1 2 3 5 6 7 9 are verified; 4 is not
    host.clearCounts();
    sample(11);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 9);
    EXPECT_EQ(xs[4], 4.0f);  // the cached value stands
}

TEST_F(SourcePositionTable, ChangeWithinToleranceKeepsTheCache) {
    sample(10);
    animation.editsX[0] = 0.0005f;
    host.clearCounts();
    sample(10);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 8);
    EXPECT_EQ(xs[0], 0.0f);

    animation.editsX[0] = 0.002f;
    host.clearCounts();
    sample(10);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 1 + 10);  // first verification fails at once
    EXPECT_EQ(xs[0], 0.002f);
}

TEST_F(SourcePositionTable, KeyScaleOrShorterTableBypassesTheCache) {
    sample(10, 1.0f, 1.0f, 7);
    host.clearCounts();
    sample(10, 1.0f, 1.0f, 8);  // another instance
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 10);

    host.clearCounts();
    sample(10, 2.0f, 1.0f, 8);  // another downsampling
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 10);
    EXPECT_EQ(xs[3], 6.0f);

    host.clearCounts();
    sample(5, 2.0f, 1.0f, 8);  // scrubbing backwards
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 5);

    host.clearCounts();
    sample(6, 2.0f, 1.0f, 8);  // the shorter table is the cache now
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 5 + 1);
}

TEST_F(SourcePositionTable, FailedReadsRepeatThePreviousEntry) {
    animation.failing = {0, 4, 5};
    sample(7);
    EXPECT_EQ(xs[0], 0.0f);
    EXPECT_EQ(ys[0], 0.0f);  // frame 0 failing gives the origin, not (0, 1, 0)
    EXPECT_EQ(ys[1], 3.0f);
    EXPECT_EQ(ys[4], 7.0f);  // frame 3's entry
    EXPECT_EQ(ys[5], 7.0f);
    EXPECT_EQ(ys[6], 13.0f);
    EXPECT_EQ(host.checkins(), 4);
}

TEST_F(SourcePositionTable, FailedVerificationReadDiscardsTheCache) {
    sample(10);
    animation.failing = {2};
    host.clearCounts();
    sample(10);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 3 + 10);
    EXPECT_EQ(ys[2], 3.0f);  // re-read table: frame 2 repeats frame 1
}

TEST_F(SourcePositionTable, NonFiniteValueCountsAsAFailedRead) {
    host.set(kParamSourcePosition, [](A_long time, PF_ParamDef& d) {
        d.u.point3d_d.x_value = time == kStep ? std::nan("") : 3.0;
        d.u.point3d_d.y_value = 1e300;  // beyond float
        d.u.point3d_d.z_value = 0.0;
        return true;
    });
    sample(3);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(xs[f], 0.0f) << f;
    host.set(kParamSourcePosition, [](A_long time, PF_ParamDef& d) {
        d.u.point3d_d.x_value = time == kStep ? std::nan("") : 3.0;
        return true;
    });
    releaseEmitterCaches();
    sample(3);
    EXPECT_EQ(xs[0], 3.0f);
    EXPECT_EQ(xs[1], 3.0f);
    EXPECT_EQ(xs[2], 3.0f);
}

TEST_F(SourcePositionTable, CountIsClampedToTheTable) {
    EXPECT_EQ(sample(0), 1);
    EXPECT_EQ(sample(-3), 1);
    releaseEmitterCaches();
    host.clearCounts();
    EXPECT_EQ(sample(100000), kMaxHistoryFrames);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), kMaxHistoryFrames);
    EXPECT_EQ(xs[kMaxHistoryFrames - 1], 599.0f);
    EXPECT_EQ(xs[kMaxHistoryFrames], -1234.0f);
}

TEST_F(SourcePositionTable, ReleasedCacheReadsEverythingAgain) {
    sample(10);
    releaseEmitterCaches();
    host.clearCounts();
    sample(11);
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 11);
}

TEST_F(SourcePositionTable, MissingTablesReadNothing) {
    EXPECT_EQ(sampleSourcePositionTable(&host.in, 10, 1.0f, 1.0f, nullptr, ys.data(), zs.data(), 7), 0);
    EXPECT_EQ(sampleSourcePositionTable(nullptr, 10, 1.0f, 1.0f, xs.data(), ys.data(), zs.data(), 7), 0);
    EXPECT_EQ(host.totalCheckouts(), 0);
}

TEST_F(SourcePositionTable, HugeTimeStepSaturatesInsteadOfWrapping) {
    host.in.time_step = 1 << 30;
    host.set(kParamSourcePosition, [](A_long, PF_ParamDef& d) {
        d.u.point3d_d.x_value = 1.0;
        return true;
    });
    sample(5);
    const std::vector<A_long> times = host.checkoutTimes(kParamSourcePosition);
    ASSERT_EQ(times.size(), 5u);
    EXPECT_EQ(times[1], 1 << 30);
    EXPECT_EQ(times[2], INT_MAX);
    EXPECT_EQ(times[4], INT_MAX);
}

}  // namespace
}  // namespace cindel
