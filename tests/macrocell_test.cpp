// Macrocells: the sizing rule for the sides the effect uses and awkward ones, and the two build
// kernels against a host reference on grids of 32, 40 and 33 cells (skipping is the march's test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "render/macrocells.h"
#include "sim_fixture.h"

namespace {

TEST(MacrocellSizing, BlocksPerSideAtBothLevels) {
    // M starts at 32 from side 128, 16 from 64, else 8, and halves until it divides the side;
    // level 1 has M/4 blocks per side when M is a multiple of 4.
    const int rows[][3] = {{128, 32, 8}, {192, 32, 8}, {256, 32, 8}, {384, 32, 8}, {96, 16, 4},
                           {40, 8, 2},   {32, 8, 2},   {33, 1, 0},   {34, 2, 0}};
    for (const auto& r : rows) {
        const cindel::MacrocellCounts c = cindel::macrocellCountsFor(r[0]);
        EXPECT_EQ(std::vector<int>({c.count, c.countL1}), std::vector<int>({r[1], r[2]})) << "side " << r[0];
    }
}

// Per block the maximum of max(density, 0.0005·kelvin), starting from 0 (negative blocks store 0).
std::vector<float> referenceMaxima(const std::vector<float>& d, const std::vector<float>& t, int n, int m) {
    std::vector<float> out(static_cast<size_t>(m) * m * m, 0.0f);
    const int block = n / m;
    for (int z = 0; z < m * block; ++z)
        for (int y = 0; y < m * block; ++y)
            for (int x = 0; x < m * block; ++x) {
                const size_t i = (static_cast<size_t>(z) * n + y) * n + x;
                float& mx = out[(static_cast<size_t>(z / block) * m + y / block) * m + x / block];
                mx = std::max({mx, d[i], 0.0005f * t[i]});
            }
    return out;
}

class MacrocellBuild : public simtest::SimTest, public ::testing::WithParamInterface<int> {
protected:
    int side() const override { return GetParam(); }
};

// Random fields with negative values mixed in; the maxima are exact (a max involves no rounding).
TEST_P(MacrocellBuild, MaximaMatchTheHostReferenceAtBothLevels) {
    const cindel::Macrocells& mc = rt().macrocells;
    const cindel::MacrocellCounts expected = cindel::macrocellCountsFor(N());
    ASSERT_EQ(std::vector<int>({mc.count, mc.countL1}), std::vector<int>({expected.count, expected.countL1}));
    uint32_t state = 7u;  // a fixed LCG: the same fields on every machine
    std::vector<float> d(cells()), t(cells());
    for (size_t i = 0; i < 2 * cells(); ++i) {
        state = state * 1664525u + 1013904223u;
        const float u = static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
        (i < cells() ? d[i] : t[i - cells()]) = i < cells() ? -0.5f + 1.5f * u : -500.0f + 3100.0f * u;
    }
    write(grid().density, d);
    write(grid().temperature, t);
    cindel::buildMacrocells(rt());
    EXPECT_EQ(simtest::readBuffer(mc.max, simtest::cellCount(mc.count)), referenceMaxima(d, t, N(), mc.count));
    int fromTemperature = 0;  // both terms must matter, or the test could not tell them apart
    for (size_t i = 0; i < d.size(); ++i) fromTemperature += 0.0005f * t[i] > d[i];
    EXPECT_GT(fromTemperature, 0);
    if (mc.countL1 > 0) {
        const std::vector<float> l1 = simtest::readBuffer(mc.maxL1, simtest::cellCount(mc.countL1));
        EXPECT_EQ(l1, referenceMaxima(d, t, N(), mc.countL1));
    } else {
        EXPECT_EQ(mc.maxL1, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, MacrocellBuild, ::testing::Values(32, 40, 33));

}  // namespace
