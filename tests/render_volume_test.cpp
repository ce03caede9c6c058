// The render driver: the quality table and the view it derives from the settings, and whole
// frames on a 32³ grid at an odd output size: Draft marches at half size, High and Ultra at full
// size, the host's camera, Opacity and the 8-bit conversion, the pyramid, row padding, bad input.
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

// The default camera looks along +z at the composition's centre from 1.39 widths, focal length
// 1.39 widths; the host's camera comes as matrix rows (right, up, forward, position).
TEST(RaymarchView, CameraGridMappingAndFallbacks) {
    cindel::FrameSettings s = rendertest::renderSettings(1920, 1080);
    s.quality = 3, s.edgeSampling = 3;
    cindel::RaymarchView v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(std::vector<float>({v.camPos[0], v.camPos[1], v.camPos[2], v.camZoom, v.camFwd[2], v.camRight[0], v.camUp[1]}),
              std::vector<float>({960, 540, -1.39f * 1920, 1.39f * 1920, 1, 1, 1}));
    EXPECT_EQ(std::vector<float>({v.gridFactorX, v.gridFactorY, v.gridFactorZ, v.velCellToScreenX, v.velCellToScreenY}),
              std::vector<float>({128.0f / 1920, 128.0f / 1080, 128.0f / 1920, 960.0f / 128, 540.0f / 128}));
    EXPECT_EQ(std::vector<int>({v.sampleCount, v.ssaaCount, v.useBicubic, v.edgeSharp, v.mbEnable}),
              std::vector<int>({128, 2, 1, 2, 0}));
    s.cameraValid = 1;
    for (int i = 0; i < 16; ++i) s.cameraMatrix[i] = static_cast<float>(i + 1);
    s.cameraDistance = 0.001f;  // no zoom at all: the default stands in
    v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(std::vector<float>({v.camRight[2], v.camUp[0], v.camFwd[1], v.camPos[2], v.camZoom}),
              std::vector<float>({3, 5, 10, 15, 1.39f * 1920}));
    cindel::FrameSettings t = rendertest::renderSettings(0, -5);  // no composition: the output's size
    t.motionBlur = 1, t.motionBlurScale = 0.5f;
    v = cindel::raymarchViewFor(t, 37, 23, 32);
    EXPECT_EQ(std::vector<float>({float(v.compW), float(v.compH), float(v.mbEnable), v.camPos[0]}),
              std::vector<float>({37, 23, 1, 18.5f}));
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

TEST_F(RenderVolume, BuffersFollowTheOutputAndRowPaddingIsLeftAlone) {
    renderFloat(settings(), 64, 40);  // level 0 is 32 × 20, then 16 × 10; 8 × 5 is too low
    const cindel::RenderBuffers& b = rt().render;
    for (const cindel::SizedBuffer* buf : {&b.imageBuffer, &b.postA, &b.postB}) EXPECT_GE(buf->capacity, 64u * 40 * 16);
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
    // Empty or negative sizes, no pixels, rows too short, no such depth.
    const int bad[][4] = {{0, kH, kW * 4, 8}, {-kW, kH, kW * 4, 8}, {kW, -1, kW * 4, 8}, {kW, kH, kW * 4 - 1, 8},
                          {kW, kH / 2, kW * 4, 12}};
    for (const auto& b : bad) EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), b[0], b[1], b[2], b[3], s));
    EXPECT_FALSE(cindel::renderVolume(rt(), nullptr, kW, kH, kW * 4, 8, s));
    rt().ready = false;
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));
    rt().ready = true;
    EXPECT_EQ(pixels, before);
    EXPECT_TRUE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));  // the arguments were the fault
    EXPECT_NE(pixels, before);
}

}  // namespace
