// The Source Position table and its process-wide cache: what is read, and when the cache is trusted.
#include "emit/source_position.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "emit/emitter_caches.h"
#include "fake_params.h"
#include "frame/frame_settings.h"
#include "params/param_index.h"

namespace cindel {
namespace {

constexpr A_long kStep = 100;

class SourcePositionTable : public ::testing::Test {
protected:
    // Frame f of the animated position is (f, 2f + 1, -f), less the edits and failures a test makes.
    void SetUp() override {
        releaseEmitterCaches();
        host.in.time_step = kStep;
        host.in.time_scale = 3000;
        host.set(kParamSourcePosition, [this](A_long time, PF_ParamDef& d) {
            const int frame = int(time / kStep);
            if (failing.count(frame)) return false;
            d.u.point3d_d.x_value = editsX.count(frame) ? editsX[frame] : double(frame);
            d.u.point3d_d.y_value = 2.0 * frame + 1.0;
            d.u.point3d_d.z_value = -double(frame);
            return true;
        });
    }
    void TearDown() override { releaseEmitterCaches(); }

    // Samples a table of `frameCount` entries and returns how many position reads it took.
    int reads(int frameCount, float sx = 1.0f, float sy = 1.0f, uint64_t key = 7) {
        host.clearCounts();
        EXPECT_EQ(sampleSourcePositionTable(&host.in, frameCount, sx, sy, xs.data(), ys.data(), zs.data(), key),
                  std::clamp(frameCount, 1, kMaxHistoryFrames));
        return host.checkouts(kParamSourcePosition);
    }

    test::FakeHost host;
    std::map<int, double> editsX;
    std::set<int> failing;
    // One entry past the 600 of a table, to see that nothing is written beyond it.
    std::vector<float> xs = std::vector<float>(kMaxHistoryFrames + 1, -1234.0f), ys = xs, zs = xs;
};

// A cached table of c entries is trusted after reading frames k (c - 1) / 7 for k = 0 ... 7 (all of
// them below 8 entries); then only the new frames are read.
TEST_F(SourcePositionTable, AChangeOnlyAVerificationFrameSeesDiscardsTheCache) {
    struct Case { int frame; double x; int reads; float held; };  // reads for 11 entries after 10
    const Case cases[] = {
        {10, 10.0, 8 + 1, 10.0f},      // nothing changed: 8 verifications and the new frame
        {9, 500.0, 8 + 11, 500.0f},    // the last verification frame: everything again
        {4, 500.0, 9, 4.0f},           // not verified: the cached value stands
        {0, 0.0005, 9, 0.0f},          // within tolerance
        {0, 0.002, 1 + 11, 0.002f},    // beyond it: the first verification fails at once
    };
    for (const Case& c : cases) {
        releaseEmitterCaches();
        editsX.clear();
        reads(10);
        editsX[c.frame] = c.x;
        EXPECT_EQ(reads(11), c.reads) << c.frame << " " << c.x;
        EXPECT_EQ(xs[c.frame], c.held) << c.frame << " " << c.x;
    }
}

TEST_F(SourcePositionTable, AnotherKeyScaleOrAShorterTableBypassesTheCache) {
    reads(10, 1.0f, 1.0f, 7);
    EXPECT_EQ(reads(10, 1.0f, 1.0f, 8), 10);  // another instance
    EXPECT_EQ(reads(10, 2.0f, 4.0f, 8), 10);  // another downsampling
    EXPECT_EQ(std::tuple(xs[3], ys[3], zs[3]), std::tuple(6.0f, 28.0f, -6.0f));  // z shares the x factor
    EXPECT_EQ(reads(5, 2.0f, 4.0f, 8), 5);      // scrubbing backwards
    EXPECT_EQ(reads(6, 2.0f, 4.0f, 8), 5 + 1);  // the shorter table is the cache now
    releaseEmitterCaches();
    EXPECT_EQ(reads(7, 2.0f, 4.0f, 8), 7);
}

// A failed or non-finite read repeats the previous entry (the origin for frame 0); a failed
// verification read discards the cache.
TEST_F(SourcePositionTable, FailedReadsRepeatThePreviousEntry) {
    failing = {0, 4, 5};
    reads(7);
    EXPECT_EQ(std::tuple(xs[0], ys[0]), std::tuple(0.0f, 0.0f));
    EXPECT_EQ(std::vector<float>(ys.begin() + 1, ys.begin() + 7), (std::vector<float>{3, 5, 7, 7, 7, 13}));
    EXPECT_EQ(host.checkins(), 4);
    releaseEmitterCaches();
    failing.clear();
    reads(10);
    failing = {2};  // verification reads frames 0, 1, 2: the third fails
    EXPECT_EQ(reads(10), 3 + 10);
    EXPECT_EQ(ys[2], 3.0f);

    host.set(kParamSourcePosition, [](A_long time, PF_ParamDef& d) {
        d.u.point3d_d.x_value = time == kStep ? std::nan("") : 3.0;
        d.u.point3d_d.y_value = time == 2 * kStep ? 1e300 : 0.0;  // beyond a float
        return true;
    });
    releaseEmitterCaches();
    reads(3);
    EXPECT_EQ(std::vector<float>(xs.begin(), xs.begin() + 3), (std::vector<float>{3, 3, 3}));
    EXPECT_EQ(ys[2], 0.0f);
}

TEST_F(SourcePositionTable, CountAndTimesStayInsideTheTable) {
    EXPECT_EQ(reads(0), 1);
    EXPECT_EQ(reads(-3), 1);
    releaseEmitterCaches();
    EXPECT_EQ(reads(100000), kMaxHistoryFrames);
    EXPECT_EQ(std::tuple(xs[kMaxHistoryFrames - 1], xs[kMaxHistoryFrames]), std::tuple(599.0f, -1234.0f));
    EXPECT_EQ(sampleSourcePositionTable(&host.in, 10, 1, 1, nullptr, ys.data(), zs.data(), 7), 0);
    EXPECT_EQ(sampleSourcePositionTable(nullptr, 10, 1, 1, xs.data(), ys.data(), zs.data(), 7), 0);

    releaseEmitterCaches();
    host.in.time_step = 1 << 30;  // frame times saturate instead of wrapping
    reads(5);
    EXPECT_EQ(host.checkoutTimes(kParamSourcePosition), (std::vector<A_long>{0, 1 << 30, INT_MAX, INT_MAX, INT_MAX}));
}

}  // namespace
}  // namespace cindel
