// The debug slice view at side 32, pixel by pixel against a plain reference; colours within 1e-6
// (a division and a multiply-add under relaxed math). The sizes used make every cell choice exact:
// no pixel lands on a cell boundary (23) or every product is exact in float (1080).
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
using Rgba = std::array<float, 4>;
constexpr Rgba kBlack{0, 0, 0, 1}, kYellow{1, 1, 0, 1}, kGreen{0, 1, 0, 1};
using CellColour = std::function<Rgba(int, int)>;

Rgba heatColour(double kelvin) {
    const double t = std::clamp(kelvin / 3500.0, 0.0, 1.0);
    return {float(std::clamp(3 * t, 0.0, 1.0)), float(std::clamp(3 * t - 1, 0.0, 1.0)),
            float(std::clamp(3 * t - 2, 0.0, 1.0)), 1.0f};
}

::testing::AssertionResult near(const Rgba& got, const Rgba& want) {
    for (int c = 0; c < 4; ++c) {
        if (!(std::fabs(got[c] - want[c]) <= 1e-6)) {
            return ::testing::AssertionFailure() << "channel " << c << ": " << got[c] << " instead of " << want[c];
        }
    }
    return ::testing::AssertionSuccess();
}

// The expected pixel of a W x H view.
Rgba expectedPixel(int W, int H, int x, int y, const CellColour& cellColour) {
    const int side = std::min(W, H), sx = x - (W - side) / 2, sy = y - (H - side) / 2;
    if (sx < 0 || sx >= side || sy < 0 || sy >= side) return kBlack;
    if (sx < 1 || sx >= side - 1 || sy < 1 || sy >= side - 1) return kYellow;
    const int gx = sx * kSide / side, gy = sy * kSide / side, c = kSide / 2;
    if ((gx == c && std::abs(gy - c) < 4) || (gy == c && std::abs(gx - c) < 4)) return kGreen;
    return cellColour(gx, gy);
}

class SliceTest : public ::testing::Test {
protected:
    void SetUp() override {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        if (!h.skipReason().empty()) GTEST_SKIP() << h.skipReason();
        ASSERT_TRUE(rt().ready) << h.setupError();
        ASSERT_TRUE(cindel::resizeGrid(rt(), kSide));
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override { EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_); }

    cindel::GpuRuntime& rt() { return cindel::gpuRuntime(); }

    // The middle slab from f, every other slab `elsewhere`, so that a view of the wrong slab fails.
    void setField(cl_mem field, const std::function<float(int, int)>& f, float elsewhere) {
        std::vector<float> v(size_t(kSide) * kSide * kSide, elsewhere);
        for (int i = 0; i < kSide * kSide; ++i) v[size_t(kSide / 2) * kSide * kSide + i] = f(i % kSide, i / kSide);
        cindel::cl().clEnqueueWriteBuffer(rt().queue, field, CL_TRUE, 0, v.size() * 4, v.data(), 0, nullptr, nullptr);
    }

    // Renders into an image buffer filled with NaN, so an unwritten float cannot pass.
    std::vector<Rgba> render(int mode, int W, int H) {
        std::vector<Rgba> img(size_t(W) * H, Rgba{NAN, NAN, NAN, NAN});
        const size_t bytes = img.size() * sizeof(Rgba);
        EXPECT_NE(cindel::ensureBuffer(rt().context, rt().render.imageBuffer, bytes), nullptr);
        cl_mem image = rt().render.imageBuffer.handle;
        cindel::cl().clEnqueueWriteBuffer(rt().queue, image, CL_TRUE, 0, bytes, img.data(), 0, nullptr, nullptr);
        cindel::renderSlice(rt(), mode, W, H);
        cindel::cl().clEnqueueReadBuffer(rt().queue, image, CL_TRUE, 0, bytes, img.data(), 0, nullptr, nullptr);
        return img;
    }

    void expectView(int mode, int W, int H, const CellColour& cellColour) {
        const std::vector<Rgba> img = render(mode, W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                ASSERT_TRUE(near(img[size_t(y) * W + x], expectedPixel(W, H, x, y, cellColour)))
                    << "mode " << mode << ", " << W << " x " << H << ", pixel (" << x << ", " << y << ")";
            }
    }

    int violationsBefore_ = 0;
};

TEST_F(SliceTest, HeatAndDensityViewsShowTheMiddleSlabCellByCell) {
    // -200 ... 3923 K: black, red at 1167 K, yellow at 2333 K, white, clamped at both ends.
    auto kelvin = [](int x, int y) { return 130.0f * float(x) + 3.0f * float(y) - 200.0f; };
    setField(rt().grid.temperature, kelvin, 9999.0f);
    setField(
        rt().grid.density, [](int, int) { return 0.0f; }, 1.0f);
    expectView(2, 37, 23, [&](int x, int y) { return heatColour(kelvin(x, y)); });  // wide: bars left and right
    expectView(2, 1920, 1080, [&](int x, int y) { return heatColour(kelvin(x, y)); });
    // −0.3 … 4.04: both ends of the grey ramp clamp. Modes other than heat show density.
    auto density = [](int x, int y) { return 0.07f * float(x + y) - 0.3f; };
    setField(rt().grid.density, density, 1.5f);
    for (int mode : {3, 1, 0}) {
        expectView(mode, 23, 29, [&](int x, int y) {  // tall: bars above and below
            const float g = float(std::clamp(0.5 * density(x, y), 0.0, 1.0));
            return Rgba{g, g, g, 1.0f};
        });
    }
    // At 2 x 2 every pixel is border, also the one showing the centre (crosshair) cell.
    for (const Rgba& px : render(2, 2, 2)) EXPECT_TRUE(near(px, kYellow));
}

}  // namespace
