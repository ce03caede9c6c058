// Macrocells: the sizing rule for every side the effect uses and a few awkward ones, the two build
// kernels against a host reference on grids of 32, 40 and 33 cells, and the skip threshold seen
// through the ray march (a block whose maximum is exactly 0.0001 must still be drawn).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "render/macrocells.h"
#include "render/render_volume.h"
#include "render_fixture.h"

namespace {

using cindel::macrocellCountsFor;

TEST(MacrocellSizing, SidesTheSimulationUses) {
    EXPECT_EQ(macrocellCountsFor(128).count, 32);
    EXPECT_EQ(macrocellCountsFor(128).countL1, 8);
    EXPECT_EQ(macrocellCountsFor(192).count, 32);  // blocks of 6
    EXPECT_EQ(macrocellCountsFor(192).countL1, 8);
    EXPECT_EQ(macrocellCountsFor(256).count, 32);
    EXPECT_EQ(macrocellCountsFor(384).count, 32);  // blocks of 12
    EXPECT_EQ(macrocellCountsFor(384).countL1, 8);
}

TEST(MacrocellSizing, AwkwardSides) {
    EXPECT_EQ(macrocellCountsFor(96).count, 16);
    EXPECT_EQ(macrocellCountsFor(96).countL1, 4);
    EXPECT_EQ(macrocellCountsFor(40).count, 8);
    EXPECT_EQ(macrocellCountsFor(40).countL1, 2);
    // 33 is odd: M halves from 8 down to 1, one block over the whole grid and no level 1.
    EXPECT_EQ(macrocellCountsFor(33).count, 1);
    EXPECT_EQ(macrocellCountsFor(33).countL1, 0);
    EXPECT_EQ(macrocellCountsFor(32).count, 8);
    EXPECT_EQ(macrocellCountsFor(32).countL1, 2);
    // M = 2 is not a multiple of 4 that is at least 4: no level 1.
    EXPECT_EQ(macrocellCountsFor(34).count, 2);
    EXPECT_EQ(macrocellCountsFor(34).countL1, 0);
}

// A deterministic field in [lo, hi) without a random library, so the expected maxima are the same
// on every machine (LCG, seed fixed per field).
std::vector<float> lcgField(size_t n, uint32_t seed, float lo, float hi) {
    std::vector<float> v(n);
    uint32_t s = seed;
    for (float& x : v) {
        s = s * 1664525u + 1013904223u;
        x = lo + (hi - lo) * static_cast<float>(s >> 8) / static_cast<float>(1u << 24);
    }
    return v;
}

// Host reference of level 0: per block the maximum of max(density, 0.0005·T), starting from 0.
std::vector<float> referenceLevel0(const std::vector<float>& d, const std::vector<float>& t, int N, int M) {
    const int block = N / M;
    std::vector<float> out(static_cast<size_t>(M) * M * M, 0.0f);
    for (int z = 0; z < N; ++z)
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const int mx = x / block, my = y / block, mz = z / block;
                if (mx >= M || my >= M || mz >= M) continue;
                const size_t i = (static_cast<size_t>(z) * N + y) * N + x;
                const float vis = std::max(d[i], 0.0005f * t[i]);
                float& m = out[(static_cast<size_t>(mz) * M + my) * M + mx];
                m = std::max(m, vis);
            }
    return out;
}

std::vector<float> referenceLevel1(const std::vector<float>& l0, int M) {
    const int M1 = M / 4;
    std::vector<float> out(static_cast<size_t>(M1) * M1 * M1, 0.0f);
    for (int z = 0; z < M; ++z)
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < M; ++x) {
                float& m = out[(static_cast<size_t>(z / 4) * M1 + y / 4) * M1 + x / 4];
                m = std::max(m, l0[(static_cast<size_t>(z) * M + y) * M + x]);
            }
    return out;
}

class MacrocellBuild : public simtest::SimTest {
protected:
    // Random fields with negative values mixed in, built, and compared with the host reference;
    // the maxima are exact (a max of floats involves no rounding).
    void checkRandomBuild() {
        const cindel::Macrocells& mc = rt().macrocells;
        const cindel::MacrocellCounts expected = macrocellCountsFor(N());
        ASSERT_EQ(mc.count, expected.count);
        ASSERT_EQ(mc.countL1, expected.countL1);
        ASSERT_NE(mc.max, nullptr);

        const std::vector<float> d = lcgField(cells(), 7u, -0.5f, 1.0f);
        const std::vector<float> t = lcgField(cells(), 11u, -500.0f, 2600.0f);
        write(grid().density, d);
        write(grid().temperature, t);
        cindel::buildMacrocells(rt());
        const int M = mc.count;
        const std::vector<float> got = simtest::readBuffer(mc.max, simtest::cellCount(M));
        const std::vector<float> want = referenceLevel0(d, t, N(), M);
        ASSERT_EQ(got, want);
        // The temperature term matters somewhere, or the test could not tell the two terms apart.
        int fromTemperature = 0;
        for (size_t i = 0; i < d.size(); ++i) fromTemperature += 0.0005f * t[i] > d[i];
        EXPECT_GT(fromTemperature, 0);

        if (mc.countL1 > 0) {
            ASSERT_NE(mc.maxL1, nullptr);
            const std::vector<float> got1 = simtest::readBuffer(mc.maxL1, simtest::cellCount(mc.countL1));
            EXPECT_EQ(got1, referenceLevel1(want, M));
        } else {
            EXPECT_EQ(mc.maxL1, nullptr);
        }
    }
};

TEST_F(MacrocellBuild, Side32GivesEightBlocksOfFourWithTheirMaxima) {
    ASSERT_EQ(rt().macrocells.count, 8);
    ASSERT_EQ(rt().macrocells.countL1, 2);
    checkRandomBuild();
}

TEST_F(MacrocellBuild, OneHotCellMarksOnlyItsBlock) {
    std::vector<float> d(cells(), 0.0f);
    d[idx(13, 2, 30)] = 0.75f;  // block (3, 0, 7)
    write(grid().density, d);
    cindel::buildMacrocells(rt());
    const std::vector<float> l0 = simtest::readBuffer(rt().macrocells.max, 512);
    for (int i = 0; i < 512; ++i) {
        const int mx = i % 8, my = (i / 8) % 8, mz = i / 64;
        EXPECT_EQ(l0[static_cast<size_t>(i)], (mx == 3 && my == 0 && mz == 7) ? 0.75f : 0.0f)
            << mx << " " << my << " " << mz;
    }
    const std::vector<float> l1 = simtest::readBuffer(rt().macrocells.maxL1, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(l1[static_cast<size_t>(i)], i == 4 ? 0.75f : 0.0f) << i;  // (0, 0, 1)
}

TEST_F(MacrocellBuild, NegativeBlocksStoreZero) {
    simtest::fillBuffer(grid().density, cells(), -3.0f);
    simtest::fillBuffer(grid().temperature, cells(), -100.0f);
    cindel::buildMacrocells(rt());
    for (float v : simtest::readBuffer(rt().macrocells.max, 512)) ASSERT_EQ(v, 0.0f);
    for (float v : simtest::readBuffer(rt().macrocells.maxL1, 8)) ASSERT_EQ(v, 0.0f);
}

TEST_F(MacrocellBuild, AmbientTemperatureAloneIsVisibleEverywhere) {
    // Density 0, 300 K: visibility 0.15 in every block, so the march skips nothing.
    simtest::fillBuffer(grid().temperature, cells(), 300.0f);
    cindel::buildMacrocells(rt());
    for (float v : simtest::readBuffer(rt().macrocells.max, 512)) ASSERT_FLOAT_EQ(v, 0.15f);
    for (float v : simtest::readBuffer(rt().macrocells.maxL1, 8)) ASSERT_FLOAT_EQ(v, 0.15f);
}

class MacrocellBuild40 : public MacrocellBuild {
protected:
    int side() const override { return 40; }
};

TEST_F(MacrocellBuild40, BlocksOfFiveAndTwoLevelOneBlocks) {
    ASSERT_EQ(rt().macrocells.count, 8);
    checkRandomBuild();
}

class MacrocellBuild33 : public MacrocellBuild {
protected:
    int side() const override { return 33; }
};

TEST_F(MacrocellBuild33, OneBlockOverTheWholeGridAndNoLevelOne) {
    ASSERT_EQ(rt().macrocells.count, 1);
    checkRandomBuild();
}

// The skip threshold as the march sees it. A uniform density d everywhere gives every block the
// maximum d; the frame with macrocells is compared with the frame of the same grid with the
// macrocells switched off (counts 0, so the march samples everything).
class MacrocellSkip : public simtest::SimTest {
protected:
    static constexpr int kW = 24;
    static constexpr int kH = 16;

    cindel::FrameSettings settings() const { return rendertest::renderSettings(kW, kH); }

    std::vector<float> render(bool withMacrocells) {
        cindel::Macrocells& mc = rt().macrocells;
        const cindel::Macrocells kept = mc;
        if (!withMacrocells) mc.count = mc.countL1 = 0;
        std::vector<float> out(kW * kH * 4, -1.0f);
        const bool ok = cindel::renderVolume(rt(), out.data(), kW, kH, kW * 16, 32, settings());
        mc = kept;
        EXPECT_TRUE(ok);
        return out;
    }

    // The host's float pixels are alpha, red, green, blue.
    static float maxAlpha(const std::vector<float>& img) {
        float m = 0;
        for (size_t i = 0; i < img.size(); i += 4) m = std::max(m, img[i]);
        return m;
    }
};

TEST_F(MacrocellSkip, BlockAtExactlyTheThresholdIsDrawn) {
    simtest::fillBuffer(grid().density, cells(), 0.0001f);
    const std::vector<float> plain = render(false);
    const std::vector<float> skipping = render(true);
    // Non-vacuous: the thin smoke leaves a trace in the float frame.
    ASSERT_GT(maxAlpha(plain), 0.0f);
    EXPECT_EQ(skipping, plain);
}

TEST_F(MacrocellSkip, BlockJustBelowTheThresholdIsSkipped) {
    // The counter-check that makes the test above meaningful: a hair less and the march jumps over
    // every block, so comparing the two frames can see a skip.
    simtest::fillBuffer(grid().density, cells(), 0.0000999f);
    const std::vector<float> plain = render(false);
    const std::vector<float> skipping = render(true);
    ASSERT_GT(maxAlpha(plain), 0.0f);
    EXPECT_EQ(maxAlpha(skipping), 0.0f);
}

}  // namespace
