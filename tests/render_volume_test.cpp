// The render driver: the quality table and the view it derives from the settings (pure), and
// whole frames through the real kernels on a 32³ grid at an odd output size: Draft marches at
// half size, High and Ultra at full size, the host's camera, Opacity and the 8-bit conversion, the
// debug slice path, the output-sized buffers and pyramid, row padding and refused inputs.
#include "render/render_volume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "minihost/world.h"
#include "render_fixture.h"

namespace {

using rendertest::FloatImage;

TEST(RenderQuality, TableByQualityAndEdgeSampling) {
    struct Row {
        int quality, samples, ssaa, bicubic;
        bool half, blur;
    };
    const Row rows[] = {{1, 48, 1, 0, true, false},  {2, 96, 1, 0, true, false}, {3, 128, 2, 1, false, true},
                        {4, 256, 3, 1, false, true}, {0, 96, 1, 0, true, false}, {-7, 96, 1, 0, true, false}};
    for (const Row& r : rows) {
        const cindel::RenderQuality q = cindel::renderQualityFor(r.quality);
        EXPECT_EQ(std::vector<int>({q.sampleCount, q.ssaaCount, q.useBicubic, q.isHalfResolution, q.isMotionBlurAllowed}),
                  std::vector<int>({r.samples, r.ssaa, r.bicubic, r.half, r.blur}))
            << "quality " << r.quality;
    }
    const int sharp[] = {0, 0, 1, 2, 0};  // Edge Sampling 0 … 4; outside 1 … 3 acts as 1
    for (int e = 0; e <= 4; ++e) EXPECT_EQ(cindel::edgeSharpFor(e), sharp[e]) << "edge sampling " << e;
}

std::vector<float> v3(const float* v) { return {v[0], v[1], v[2]}; }

TEST(RaymarchView, DefaultCameraLooksAlongZAtTheComposition) {
    cindel::FrameSettings s = rendertest::renderSettings(1920, 1080);
    s.quality = 3;
    s.edgeSampling = 3;
    const cindel::RaymarchView v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(v3(v.camPos), std::vector<float>({960.0f, 540.0f, -1.39f * 1920.0f}));
    EXPECT_EQ(v3(v.camRight), std::vector<float>({1, 0, 0}));
    EXPECT_EQ(v3(v.camUp), std::vector<float>({0, 1, 0}));
    EXPECT_EQ(v3(v.camFwd), std::vector<float>({0, 0, 1}));
    EXPECT_FLOAT_EQ(v.camZoom, 1.39f * 1920.0f);
    EXPECT_EQ(std::vector<float>({v.gridFactorX, v.gridFactorY, v.gridFactorZ, v.gridOffsetXY}),
              std::vector<float>({128.0f / 1920.0f, 128.0f / 1080.0f, 128.0f / 1920.0f, 0.0f}));
    EXPECT_EQ(std::vector<int>({v.compW, v.compH, v.sampleCount, v.ssaaCount, v.useBicubic, v.edgeSharp, v.mbEnable}),
              std::vector<int>({1920, 1080, 128, 2, 1, 2, 0}));
    // Output pixels per cell, for the motion blur's screen velocities.
    EXPECT_FLOAT_EQ(v.velCellToScreenX, 960.0f / 128.0f);
    EXPECT_FLOAT_EQ(v.velCellToScreenY, 540.0f / 128.0f);
}

TEST(RaymarchView, HostCameraRowsAndFallbacks) {
    cindel::FrameSettings s = rendertest::renderSettings(800, 600);
    s.cameraValid = 1;
    for (int i = 0; i < 16; ++i) s.cameraMatrix[i] = static_cast<float>(i + 1);
    s.cameraDistance = 1234.5f;
    const cindel::RaymarchView v = cindel::raymarchViewFor(s, 400, 300, 64);
    EXPECT_EQ(v3(v.camRight), std::vector<float>({1, 2, 3}));
    EXPECT_EQ(v3(v.camUp), std::vector<float>({5, 6, 7}));
    EXPECT_EQ(v3(v.camFwd), std::vector<float>({9, 10, 11}));
    EXPECT_EQ(v3(v.camPos), std::vector<float>({13, 14, 15}));
    EXPECT_FLOAT_EQ(v.camZoom, 1234.5f);
    s.cameraDistance = 0.001f;  // no zoom at all: the default stands in
    EXPECT_FLOAT_EQ(cindel::raymarchViewFor(s, 400, 300, 64).camZoom, 1.39f * 800.0f);

    cindel::FrameSettings t = rendertest::renderSettings(0, -5);  // no composition: the output's size
    t.motionBlur = 1;
    t.motionBlurScale = 0.5f;
    const cindel::RaymarchView w = cindel::raymarchViewFor(t, 37, 23, 32);
    EXPECT_EQ(std::vector<int>({w.compW, w.compH, w.mbEnable}), std::vector<int>({37, 23, 1}));
    EXPECT_FLOAT_EQ(w.camPos[0], 18.5f);
    EXPECT_FLOAT_EQ(w.gridFactorY, 32.0f / 23.0f);
    t.motionBlurScale = 0.001f;
    EXPECT_EQ(cindel::raymarchViewFor(t, 37, 23, 32).mbEnable, 0);
}

class RenderVolume : public rendertest::RenderTest {
protected:
    static constexpr int kW = 37, kH = 23;  // odd on purpose: ⌈W/2⌉ and ⌈H/2⌉ round up
    cindel::FrameSettings settings() const { return rendertest::renderSettings(kW, kH); }
    double alphaCentroidX(const FloatImage& img) const {
        double sum = 0, weight = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) sum += img.alpha(x, y) * x, weight += img.alpha(x, y);
        return weight > 0 ? sum / weight : -1;
    }
};

TEST_F(RenderVolume, DraftMarchesAtHalfSizeAndHighAndUltraAtFullSize) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const size_t halfFloats = static_cast<size_t>(19) * 12 * 4;
    const FloatImage draft = renderFloat(settings(), kW, kH);
    const std::vector<float> half = simtest::readBuffer(rt().render.halfImage.handle, halfFloats);
    ASSERT_GT(half[(6 * 19 + 9) * 4 + 3], 0.1f) << "the ball lies in the middle of the 19 × 12 march";
    // The output's far corner is the half image's far corner texel (the upsample clamps there).
    for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(draft.at(kW - 1, kH - 1)[(ch + 1) % 4], half[halfFloats - 4 + ch]);
    for (int quality : {3, 4}) {
        simtest::writeBuffer(rt().render.halfImage.handle, std::vector<float>(halfFloats, 7.0f));
        cindel::FrameSettings s = settings();
        s.quality = quality;
        const FloatImage out = renderFloat(s, kW, kH);
        for (float v : simtest::readBuffer(rt().render.halfImage.handle, halfFloats)) ASSERT_EQ(v, 7.0f) << quality;
        EXPECT_GT(out.alpha(kW / 2, kH / 2), 0.1f);
        EXPECT_EQ(out.alpha(0, 0), 0.0f);
    }
}

TEST_F(RenderVolume, HostCameraEqualToTheDefaultGivesTheSameFrameAndAMovedOneMovesTheFire) {
    fillBall(6.0f, 1.0f, 1800.0f);
    const FloatImage byDefault = renderFloat(settings(), kW, kH);
    cindel::FrameSettings s = settings();
    s.cameraValid = 1;
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f * kW, 0.5f * kH, -1.39f * kW, 1};
    std::memcpy(s.cameraMatrix, m, sizeof(m));
    s.cameraDistance = 1.39f * kW;
    EXPECT_EQ(renderFloat(s, kW, kH).argb, byDefault.argb);
    s.cameraMatrix[12] += 0.25f * kW;  // a quarter of the composition to the right: the fire drifts left
    EXPECT_LT(alphaCentroidX(renderFloat(s, kW, kH)), alphaCentroidX(byDefault) - 0.1 * kW);
    EXPECT_GT(alphaCentroidX(byDefault), 0.4 * kW);
}

TEST_F(RenderVolume, OpacityScalesEveryEightBitChannelTruncatingAndOutOfRangeActsAsOne) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const FloatImage full = renderFloat(settings(), kW, kH);
    cindel::FrameSettings s = settings();
    minihost::World whole(kW, kH, 8), half(kW, kH, 8), over(kW, kH, 8);
    ASSERT_TRUE(cindel::renderVolume(rt(), whole.get()->data, kW, kH, whole.rowBytes(), 8, s));
    s.opacity = 0.5f;
    ASSERT_TRUE(cindel::renderVolume(rt(), half.get()->data, kW, kH, half.rowBytes(), 8, s));
    s.opacity = 1.5f;
    ASSERT_TRUE(cindel::renderVolume(rt(), over.get()->data, kW, kH, over.rowBytes(), 8, s));
    int brightest = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const PF_Pixel8& p = half.pixel8(x, y);
            const int got[4] = {p.alpha, p.red, p.green, p.blue};
            for (int ch = 0; ch < 4; ++ch) {
                const float v = full.at(x, y)[ch] * 0.5f * 255.0f;
                ASSERT_EQ(got[ch], v > 0.0f ? static_cast<int>(std::min(v, 255.0f)) : 0) << x << "," << y << " " << ch;
                brightest = std::max(brightest, got[ch]);
            }
        }
    EXPECT_GT(brightest, 30);  // non-vacuous: there was something to halve
    EXPECT_EQ(std::memcmp(over.get()->data, whole.get()->data, static_cast<size_t>(whole.rowBytes()) * kH), 0);
}

TEST_F(RenderVolume, DebugViewsShowTheOpaqueSliceWhateverTheOpacity) {
    fillBall(8.0f, 1.0f, 1750.0f);
    for (int mode : {2, 3}) {
        cindel::FrameSettings s = settings();
        s.debugView = mode;
        s.opacity = 0.5f;
        minihost::World out(kW, kH, 8);
        ASSERT_TRUE(cindel::renderVolume(rt(), out.get()->data, kW, kH, out.rowBytes(), 8, s));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) ASSERT_EQ(out.pixel8(x, y).alpha, 255) << x << "," << y;
        const PF_Pixel8 edge = out.pixel8((kW - kH) / 2, kH / 2);  // the square's border: yellow
        EXPECT_EQ(std::vector<int>({edge.red, edge.green, edge.blue}), std::vector<int>({255, 255, 0})) << mode;
    }
}

TEST_F(RenderVolume, BuffersFollowTheOutputAndRowPaddingIsLeftAlone) {
    renderFloat(settings(), 64, 40);  // level 0 is 32 × 20, then 16 × 10; 8 × 5 is too low
    const cindel::RenderBuffers& b = rt().render;
    for (const cindel::SizedBuffer* buf : {&b.imageBuffer, &b.postA, &b.postB}) EXPECT_GE(buf->capacity, 64u * 40 * 16);
    EXPECT_GE(b.screenVelocity.capacity, 64u * 40 * 8);
    EXPECT_GE(b.halfImage.capacity, 32u * 20 * 16);
    ASSERT_EQ(b.bloomLevelCount, 2);
    EXPECT_EQ(std::vector<int>({b.bloomWidth[0], b.bloomHeight[0], b.bloomWidth[1], b.bloomHeight[1]}),
              std::vector<int>({32, 20, 16, 10}));
    renderFloat(settings(), 14, 14);  // the count follows the output, not the buffers kept from before
    EXPECT_EQ(b.bloomLevelCount, 0);

    fillBall(8.0f, 1.0f, 1800.0f);
    for (int bits : {8, 16, 32}) {
        minihost::World out(kW, kH, bits, 12);
        ASSERT_TRUE(cindel::renderVolume(rt(), out.get()->data, kW, kH, out.rowBytes(), bits, settings()));
        EXPECT_TRUE(out.paddingIntact()) << bits;
        const double alpha = bits == 8    ? out.pixel8(kW / 2, kH / 2).alpha / 255.0
                             : bits == 16 ? out.pixel16(kW / 2, kH / 2).alpha / 32768.0
                                          : out.pixel32(kW / 2, kH / 2).alpha;
        EXPECT_GT(alpha, 0.1) << bits;
    }
}

TEST_F(RenderVolume, BadInputsAreRefusedAndWriteNothing) {
    fillBall(8.0f, 1.0f, 1800.0f);
    std::vector<std::uint8_t> pixels(kW * kH * 4, 0x5A);
    const std::vector<std::uint8_t> before = pixels;
    const cindel::FrameSettings s = settings();
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), 0, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), -kW, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, -1, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), nullptr, kW, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4 - 1, 8, s));   // rows too short
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH / 2, kW * 4, 12, s));  // no such depth
    rt().ready = false;
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));
    rt().ready = true;
    EXPECT_EQ(pixels, before);
    EXPECT_TRUE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));  // the arguments were the fault
    EXPECT_NE(pixels, before);
}

}  // namespace
