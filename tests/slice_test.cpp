// The debug slice view on the effect's own runtime, with the grid at side 32: the square fit and
// its black side bars, the cell each pixel shows (middle z-slab only, grid y down the screen),
// the heat map's colours (1750 K of 3500 is orange (1, 0.5, 0)), the density ramp, the crosshair's
// seven cells per arm, the border and its precedence, and full opacity everywhere.
//
// Tolerances: colours are one division and a multiply-add on values near 1, computed by the
// device under relaxed math, against double: 1e-6. Cell choices are compared exactly at sizes
// where no pixel's position times N / side falls on a cell boundary (side 23 with N 32), or where
// every such product is exact in float (side 1080, a multiple of the boundaries it meets).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"
#include "render/post.h"
#include "sim/sim_grid.h"

namespace {

constexpr int kSide = 32;
constexpr double kColourTol = 1e-6;

using Rgba = std::array<float, 4>;
constexpr Rgba kBlack{0, 0, 0, 1};
constexpr Rgba kYellow{1, 1, 0, 1};
constexpr Rgba kGreen{0, 1, 0, 1};

struct Image {
    int w = 0;
    int h = 0;
    std::vector<float> px;
    Rgba at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * w + x) * 4;
        return {px[i], px[i + 1], px[i + 2], px[i + 3]};
    }
};

Rgba heatColour(double kelvin) {
    const double t = std::clamp(kelvin / 3500.0, 0.0, 1.0);
    return {float(std::clamp(3 * t, 0.0, 1.0)), float(std::clamp(3 * t - 1, 0.0, 1.0)),
            float(std::clamp(3 * t - 2, 0.0, 1.0)), 1.0f};
}

Rgba greyOf(double density) {
    const float d = float(std::clamp(0.5 * density, 0.0, 1.0));
    return {d, d, d, 1.0f};
}

::testing::AssertionResult near(const Rgba& got, const Rgba& want, double tol = kColourTol) {
    for (int c = 0; c < 4; ++c) {
        if (!(std::fabs(got[c] - want[c]) <= tol)) {
            return ::testing::AssertionFailure()
                   << "(" << got[0] << ", " << got[1] << ", " << got[2] << ", " << got[3] << ") instead of (" << want[0]
                   << ", " << want[1] << ", " << want[2] << ", " << want[3] << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

class SliceTest : public ::testing::Test {
protected:
    void SetUp() override {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        if (!h.skipReason().empty()) GTEST_SKIP() << h.skipReason();
        ASSERT_TRUE(h.setupError().empty()) << h.setupError();
        ASSERT_TRUE(rt().ready) << "the effect's runtime did not start";
        if (rt().grid.N != kSide) {
            ASSERT_TRUE(cindel::resizeGrid(rt(), kSide));
        }
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override {
        if (rt().ready) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_);
        }
    }

    cindel::GpuRuntime& rt() { return cindel::gpuRuntime(); }

    // A grid field whose middle slab is f(x, y) and every other slab `elsewhere`, so that a view
    // of the wrong slab cannot pass.
    void setField(cl_mem field, const std::function<float(int, int)>& f, float elsewhere) {
        std::vector<float> v(static_cast<size_t>(kSide) * kSide * kSide, elsewhere);
        const int z = kSide / 2;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) v[(static_cast<size_t>(z) * kSide + y) * kSide + x] = f(x, y);
        cindel::cl().clEnqueueWriteBuffer(rt().queue, field, CL_TRUE, 0, v.size() * sizeof(float), v.data(), 0, nullptr,
                                          nullptr);
    }

    // Poisons imageBuffer, renders the slice and reads it back.
    Image render(int mode, int W, int H) {
        Image img{W, H, std::vector<float>(static_cast<size_t>(W) * H * 4, std::nanf(""))};
        const size_t bytes = img.px.size() * sizeof(float);
        EXPECT_NE(cindel::ensureBuffer(rt().context, rt().render.imageBuffer, bytes), nullptr);
        cindel::cl().clEnqueueWriteBuffer(rt().queue, rt().render.imageBuffer.handle, CL_TRUE, 0, bytes, img.px.data(),
                                          0, nullptr, nullptr);
        cindel::renderSlice(rt(), mode, W, H);
        cindel::cl().clEnqueueReadBuffer(rt().queue, rt().render.imageBuffer.handle, CL_TRUE, 0, bytes, img.px.data(),
                                         0, nullptr, nullptr);
        const auto unwritten = std::count_if(img.px.begin(), img.px.end(), [](float v) { return std::isnan(v); });
        EXPECT_EQ(unwritten, 0) << "floats not written";
        return img;
    }

    static bool isCrosshairCell(int gx, int gy) {
        const int c = kSide / 2;
        return (gx == c && std::abs(gy - c) < 4) || (gy == c && std::abs(gx - c) < 4);
    }

    int violationsBefore_ = 0;
};

// The expected pixel of a W × H view, with `cellColour` for plain cells.
Rgba expectedPixel(int W, int H, int x, int y, const std::function<Rgba(int, int)>& cellColour, bool* inSquare) {
    const int side = std::min(W, H);
    const int sx = x - (W - side) / 2;
    const int sy = y - (H - side) / 2;
    *inSquare = sx >= 0 && sx < side && sy >= 0 && sy < side;
    if (!*inSquare) return kBlack;
    if (sx < 1 || sx >= side - 1 || sy < 1 || sy >= side - 1) return kYellow;
    const int gx = std::clamp(sx * kSide / side, 0, kSide - 1);
    const int gy = std::clamp(sy * kSide / side, 0, kSide - 1);
    const int c = kSide / 2;
    if ((gx == c && std::abs(gy - c) < 4) || (gy == c && std::abs(gx - c) < 4)) return kGreen;
    return cellColour(gx, gy);
}

TEST_F(SliceTest, HeatSliceShowsTheMiddleSlabCellByCell) {
    const int W = 37;  // square of 23 from x = 7 to 29
    const int H = 23;
    auto kelvin = [](int x, int y) { return 100.0f * float(x) + 3.0f * float(y) + 1.0f; };
    setField(rt().grid.temperature, kelvin, 9999.0f);
    setField(
        rt().grid.density, [](int, int) { return 0.0f; }, 0.0f);
    const Image img = render(2, W, H);

    int black = 0;
    int yellow = 0;
    int green = 0;
    int cells = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool inSquare = false;
            const Rgba want = expectedPixel(
                W, H, x, y, [&](int gx, int gy) { return heatColour(kelvin(gx, gy)); }, &inSquare);
            ASSERT_TRUE(near(img.at(x, y), want)) << "pixel (" << x << ", " << y << ")";
            black += !inSquare;
            yellow += want == kYellow;
            green += want == kGreen;
            cells += inSquare && want != kYellow && want != kGreen;
        }
    EXPECT_EQ(black, 14 * 23);
    EXPECT_EQ(yellow, 4 * 22);
    EXPECT_GT(green, 5);
    EXPECT_GT(cells, 300);
    // Grid y runs down the screen: the top of the square shows row 0, the bottom row 31.
    EXPECT_TRUE(near(img.at(8, 1), heatColour(kelvin(1, 1))));
    EXPECT_TRUE(near(img.at(8, 21), heatColour(kelvin(1, 29))));
}

TEST_F(SliceTest, FullHdFitsA1080SquareWithBlackBarsAndSevenCellArms) {
    const int W = 1920;
    const int H = 1080;
    setField(
        rt().grid.temperature, [](int, int) { return 1750.0f; }, 9999.0f);
    const Image img = render(2, W, H);

    for (int y : {0, 1, 540, 1078, 1079}) {
        EXPECT_TRUE(near(img.at(0, y), kBlack));
        EXPECT_TRUE(near(img.at(419, y), kBlack));
        EXPECT_TRUE(near(img.at(420, y), kYellow)) << "left border, row " << y;
        EXPECT_TRUE(near(img.at(1499, y), kYellow)) << "right border, row " << y;
        EXPECT_TRUE(near(img.at(1500, y), kBlack));
        EXPECT_TRUE(near(img.at(1919, y), kBlack));
    }
    EXPECT_TRUE(near(img.at(700, 0), kYellow));
    EXPECT_TRUE(near(img.at(700, 1079), kYellow));
    EXPECT_TRUE(near(img.at(700, 300), heatColour(1750.0)));
    EXPECT_TRUE(near(img.at(700, 300), {1.0f, 0.5f, 0.0f, 1.0f}));

    // The horizontal arm along the middle of cell row 16 (33.75 px per cell): cells 13 … 19,
    // pixels 439 … 674 of the square.
    const int row = static_cast<int>(16.5 * 33.75);
    int first = -1;
    int last = -1;
    int count = 0;
    for (int x = 0; x < W; ++x) {
        if (img.at(x, row) == kGreen) {
            if (first < 0) first = x;
            last = x;
            ++count;
        }
    }
    EXPECT_EQ(first, 420 + 439);
    EXPECT_EQ(last, 420 + 674);
    EXPECT_EQ(count, last - first + 1);
    // The vertical arm is as long.
    int vertical = 0;
    for (int y = 0; y < H; ++y) vertical += img.at(420 + row, y) == kGreen;
    EXPECT_EQ(vertical, 236);
    // Fully opaque everywhere.
    for (size_t i = 3; i < img.px.size(); i += 4) ASSERT_EQ(img.px[i], 1.0f) << "pixel " << i / 4;
}

TEST_F(SliceTest, HeatColoursRunFromBlackThroughRedAndYellowToWhite) {
    const int W = 40;
    const int H = 40;
    const std::pair<float, Rgba> cases[] = {{1750.0f, {1.0f, 0.5f, 0.0f, 1.0f}},
                                            {3500.0f / 6.0f, {0.5f, 0.0f, 0.0f, 1.0f}},
                                            {3500.0f * 5.0f / 6.0f, {1.0f, 1.0f, 0.5f, 1.0f}},
                                            {5000.0f, {1.0f, 1.0f, 1.0f, 1.0f}},
                                            {-200.0f, {0.0f, 0.0f, 0.0f, 1.0f}}};
    for (const auto& [kelvin, colour] : cases) {
        setField(
            rt().grid.temperature, [&](int, int) { return kelvin; }, 1750.0f);
        const Image img = render(2, W, H);
        EXPECT_TRUE(near(img.at(5, 5), colour)) << kelvin << " K";
        EXPECT_TRUE(near(img.at(34, 30), colour)) << kelvin << " K";
        EXPECT_TRUE(near(img.at(20, 20), kGreen)) << "crosshair centre";
    }
}

TEST_F(SliceTest, DensityModeShowsAGreyRampOfHalfTheDensity) {
    const int W = 23;  // tall: square of 23 from y = 3 to 25
    const int H = 29;
    auto density = [](int x, int y) { return 0.07f * float(x + y) - 0.3f; };  // −0.3 … 4.04
    setField(rt().grid.density, density, 1.5f);
    setField(
        rt().grid.temperature, [](int, int) { return 3000.0f; }, 3000.0f);
    for (int mode : {3, 1, 0}) {
        const Image img = render(mode, W, H);
        int clampedHigh = 0;
        int clampedLow = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                bool inSquare = false;
                const Rgba want = expectedPixel(
                    W, H, x, y, [&](int gx, int gy) { return greyOf(density(gx, gy)); }, &inSquare);
                ASSERT_TRUE(near(img.at(x, y), want)) << "mode " << mode << " pixel (" << x << ", " << y << ")";
                clampedHigh += want == Rgba{1, 1, 1, 1};
                clampedLow += want == kBlack && inSquare;
            }
        EXPECT_GT(clampedHigh, 10);
        EXPECT_GT(clampedLow, 3);
    }
}

TEST_F(SliceTest, TheBorderWinsOverTheCrosshair) {
    // At 2 × 2 every pixel is border, and pixel (1, 1) shows the centre cell, a crosshair cell.
    setField(
        rt().grid.temperature, [](int, int) { return 1750.0f; }, 1750.0f);
    ASSERT_TRUE(isCrosshairCell(1 * kSide / 2, 1 * kSide / 2));
    const Image img = render(2, 2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_TRUE(near(img.at(x, y), kYellow)) << x << ", " << y;
    // One pixel larger, the centre pixel is inside and shows its cell (10, 10).
    const Image three = render(2, 3, 3);
    EXPECT_TRUE(near(three.at(1, 1), heatColour(1750.0)));
}

}  // namespace
