// The render driver: the quality table and the view it derives from the settings (pure), and whole
// frames on a 32³ grid through the real kernels: the half-resolution march and its upsample at
// an odd output size, the full-resolution qualities, the camera, an empty grid, Opacity, the
// debug slice path, the "[FRAME]" line, the output-sized buffers, row padding and bad inputs.
#include "render/render_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "host/log.h"
#include "minihost/world.h"
#include "render/post.h"
#include "render_fixture.h"

namespace {

using cindel::renderQualityFor;
using rendertest::FloatImage;

// ---------------------------------------------------------------------------------------------
// Pure parts.

TEST(RenderQuality, TableByQuality) {
    struct Row {
        int quality, samples, ssaa, bicubic;
        bool half, blur;
    };
    const Row rows[] = {{1, 48, 1, 0, true, false},  {2, 96, 1, 0, true, false}, {3, 128, 2, 1, false, true},
                        {4, 256, 3, 1, false, true}, {0, 96, 1, 0, true, false}, {5, 96, 1, 0, true, false},
                        {-7, 96, 1, 0, true, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.quality);
        const cindel::RenderQuality q = renderQualityFor(r.quality);
        EXPECT_EQ(q.sampleCount, r.samples);
        EXPECT_EQ(q.ssaaCount, r.ssaa);
        EXPECT_EQ(q.useBicubic, r.bicubic);
        EXPECT_EQ(q.isHalfResolution, r.half);
        EXPECT_EQ(q.isMotionBlurAllowed, r.blur);
    }
}

TEST(RenderQuality, EdgeSamplingAndNames) {
    EXPECT_EQ(cindel::edgeSharpFor(1), 0);
    EXPECT_EQ(cindel::edgeSharpFor(2), 1);
    EXPECT_EQ(cindel::edgeSharpFor(3), 2);
    EXPECT_EQ(cindel::edgeSharpFor(0), 0);
    EXPECT_EQ(cindel::edgeSharpFor(4), 0);
    const char* q[] = {"?", "Draft", "Normal", "High", "Ultra", "?"};
    const char* v[] = {"?", "Large", "Medium", "Small", "Tiny", "?"};
    for (int i = 0; i <= 5; ++i) {
        EXPECT_STREQ(cindel::qualityName(i), q[i]);
        EXPECT_STREQ(cindel::voxelSizeName(i), v[i]);
    }
    EXPECT_STREQ(cindel::qualityName(-1), "?");
}

TEST(RaymarchView, DefaultCameraLooksAlongZAtTheComposition) {
    cindel::FrameSettings s = rendertest::renderSettings(1920, 1080);
    s.quality = 3;
    s.edgeSampling = 3;
    const cindel::RaymarchView v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(v.compW, 1920);
    EXPECT_EQ(v.compH, 1080);
    EXPECT_FLOAT_EQ(v.camPos[0], 960.0f);
    EXPECT_FLOAT_EQ(v.camPos[1], 540.0f);
    EXPECT_FLOAT_EQ(v.camPos[2], -1.39f * 1920.0f);
    EXPECT_FLOAT_EQ(v.camZoom, 1.39f * 1920.0f);
    EXPECT_EQ((std::vector<float>{v.camRight[0], v.camRight[1], v.camRight[2]}), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ((std::vector<float>{v.camUp[0], v.camUp[1], v.camUp[2]}), (std::vector<float>{0, 1, 0}));
    EXPECT_EQ((std::vector<float>{v.camFwd[0], v.camFwd[1], v.camFwd[2]}), (std::vector<float>{0, 0, 1}));
    EXPECT_FLOAT_EQ(v.gridFactorX, 128.0f / 1920.0f);
    EXPECT_FLOAT_EQ(v.gridFactorY, 128.0f / 1080.0f);
    EXPECT_FLOAT_EQ(v.gridFactorZ, 128.0f / 1920.0f);
    EXPECT_EQ(v.gridOffsetXY, 0.0f);
    EXPECT_EQ(v.sampleCount, 128);
    EXPECT_EQ(v.ssaaCount, 2);
    EXPECT_EQ(v.useBicubic, 1);
    EXPECT_EQ(v.edgeSharp, 2);
    EXPECT_EQ(v.mbEnable, 0);
    // Output pixels per cell at full resolution.
    EXPECT_FLOAT_EQ(v.velCellToScreenX, 960.0f / 128.0f);
    EXPECT_FLOAT_EQ(v.velCellToScreenY, 540.0f / 128.0f);
}

TEST(RaymarchView, CameraFromTheHostMatrixRows) {
    cindel::FrameSettings s = rendertest::renderSettings(800, 600);
    s.cameraValid = 1;
    for (int i = 0; i < 16; ++i) s.cameraMatrix[i] = static_cast<float>(i + 1);
    s.cameraDistance = 1234.5f;
    const cindel::RaymarchView v = cindel::raymarchViewFor(s, 400, 300, 64);
    EXPECT_EQ((std::vector<float>{v.camRight[0], v.camRight[1], v.camRight[2]}), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ((std::vector<float>{v.camUp[0], v.camUp[1], v.camUp[2]}), (std::vector<float>{5, 6, 7}));
    EXPECT_EQ((std::vector<float>{v.camFwd[0], v.camFwd[1], v.camFwd[2]}), (std::vector<float>{9, 10, 11}));
    EXPECT_EQ((std::vector<float>{v.camPos[0], v.camPos[1], v.camPos[2]}), (std::vector<float>{13, 14, 15}));
    EXPECT_FLOAT_EQ(v.camZoom, 1234.5f);
    // A distance of at most 0.001 is no zoom at all: the default one stands in.
    s.cameraDistance = 0.001f;
    EXPECT_FLOAT_EQ(cindel::raymarchViewFor(s, 400, 300, 64).camZoom, 1.39f * 800.0f);
}

TEST(RaymarchView, CompositionSizeFallsBackToTheOutputAndBlurFlag) {
    cindel::FrameSettings s = rendertest::renderSettings(0, -5);
    s.motionBlur = 1;
    s.motionBlurScale = 0.5f;
    cindel::RaymarchView v = cindel::raymarchViewFor(s, 37, 23, 32);
    EXPECT_EQ(v.compW, 37);
    EXPECT_EQ(v.compH, 23);
    EXPECT_FLOAT_EQ(v.camPos[0], 18.5f);
    EXPECT_FLOAT_EQ(v.gridFactorY, 32.0f / 23.0f);
    EXPECT_EQ(v.mbEnable, 1);
    s.motionBlurScale = 0.001f;
    EXPECT_EQ(cindel::raymarchViewFor(s, 37, 23, 32).mbEnable, 0);
}

// ---------------------------------------------------------------------------------------------
// Frames on the real kernels.

std::vector<std::string>& loggedLines() {
    static std::vector<std::string> lines;
    return lines;
}

void captureLine(const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof(text), format, args);
    loggedLines().emplace_back(text);
}

int frameLines() {
    int n = 0;
    for (const std::string& l : loggedLines()) n += l.rfind("[FRAME]", 0) == 0;
    return n;
}

class RenderVolume : public rendertest::RenderTest {
protected:
    static constexpr int kW = 37;  // odd on purpose: ⌈W/2⌉ and ⌈H/2⌉ round up
    static constexpr int kH = 23;

    void SetUp() override {
        RenderTest::SetUp();
        loggedLines().clear();
        cindel::setLogSink(captureLine);
    }
    void TearDown() override { cindel::setLogSink(nullptr); }

    cindel::FrameSettings settings() const { return rendertest::renderSettings(kW, kH); }

    // Smoke thickening along x, heat rising along y: every edge and corner of the frame differs.
    void fillGradients() {
        write(grid().density, scalarField([&](int x, int, int) { return 0.02f + 0.3f * x / N(); }));
        write(grid().temperature, scalarField([&](int, int y, int) { return 1500.0f * y / N(); }));
    }

    // Alpha-weighted mean column of a frame.
    static double alphaCentroidX(const FloatImage& img) {
        double sum = 0, weight = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                sum += img.alpha(x, y) * x;
                weight += img.alpha(x, y);
            }
        return weight > 0 ? sum / weight : -1;
    }
};

TEST_F(RenderVolume, DraftMarchesHalfSizeThenUpsamplesKeepingTheEdges) {
    fillGradients();
    const FloatImage out = renderFloat(settings(), kW, kH);
    const int hW = (kW + 1) / 2, hH = (kH + 1) / 2;
    ASSERT_EQ(hW, 19);
    ASSERT_EQ(hH, 12);
    const std::vector<float> half = simtest::readBuffer(rt().render.halfImage.handle, static_cast<size_t>(hW) * hH * 4);
    auto texel = [&](int x, int y) { return &half[(static_cast<size_t>(y) * hW + x) * 4]; };
    // Non-vacuous: the half image carries the scene, and its corners differ.
    ASSERT_GT(texel(hW - 1, hH - 1)[3], 0.0f);
    ASSERT_GT(texel(0, 0)[3], 0.0f);
    ASSERT_NE(texel(0, 0)[3], texel(hW - 1, hH - 1)[3]);

    // Every output pixel is the bilinear upsample of the ⌈W/2⌉ × ⌈H/2⌉ march, corners clamped.
    // Float against float in another order of operations: 1e-5 absolute on values of order 1.
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const float fx = (x + 0.5f) * hW / kW - 0.5f, fy = (y + 0.5f) * hH / kH - 0.5f;
            const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
            const float tx = fx - x0, ty = fy - y0;
            auto cx = [&](int v) { return std::clamp(v, 0, hW - 1); };
            auto cy = [&](int v) { return std::clamp(v, 0, hH - 1); };
            const float* a = texel(cx(x0), cy(y0));
            const float* b = texel(cx(x0 + 1), cy(y0));
            const float* c = texel(cx(x0), cy(y0 + 1));
            const float* d = texel(cx(x0 + 1), cy(y0 + 1));
            for (int ch = 0; ch < 4; ++ch) {
                const float top = a[ch] + (b[ch] - a[ch]) * tx;
                const float bottom = c[ch] + (d[ch] - c[ch]) * tx;
                const float want = top + (bottom - top) * ty;
                const int argb = (ch + 1) % 4;  // host order: alpha, red, green, blue
                ASSERT_NEAR(out.at(x, y)[argb], want, 1e-5f) << x << "," << y << " channel " << ch;
            }
        }
    }
    // The corners are the clamped edge texels themselves.
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_NEAR(out.at(0, 0)[(ch + 1) % 4], texel(0, 0)[ch], 1e-6f);
        EXPECT_NEAR(out.at(kW - 1, kH - 1)[(ch + 1) % 4], texel(hW - 1, hH - 1)[ch], 1e-6f);
    }
}

TEST_F(RenderVolume, HighAndUltraMarchAtFullSizeWithoutTheHalfImage) {
    fillBall(8.0f, 1.0f, 1800.0f);
    for (int quality : {3, 4}) {
        SCOPED_TRACE(quality);
        renderFloat(settings(), kW, kH);  // makes the buffers
        const size_t halfFloats = static_cast<size_t>((kW + 1) / 2) * ((kH + 1) / 2) * 4;
        simtest::writeBuffer(rt().render.halfImage.handle, std::vector<float>(halfFloats, 7.0f));
        cindel::FrameSettings s = settings();
        s.quality = quality;
        const FloatImage out = renderFloat(s, kW, kH);
        for (float v : simtest::readBuffer(rt().render.halfImage.handle, halfFloats)) ASSERT_EQ(v, 7.0f);
        EXPECT_GT(out.alpha(kW / 2, kH / 2), 0.1f);
        EXPECT_EQ(out.alpha(0, 0), 0.0f);
    }
}

TEST_F(RenderVolume, SameFrameTwiceGivesTheSameValues) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const FloatImage a = renderFloat(settings(), kW, kH);
    const FloatImage b = renderFloat(settings(), kW, kH);
    ASSERT_GT(a.maxAlpha(), 0.1f);
    EXPECT_EQ(a.argb, b.argb);
}

TEST_F(RenderVolume, HostCameraEqualToTheDefaultGivesTheSameFrameAndAMovedOneMovesTheFire) {
    fillBall(6.0f, 1.0f, 1800.0f);
    const FloatImage byDefault = renderFloat(settings(), kW, kH);
    ASSERT_GT(byDefault.maxAlpha(), 0.1f);

    cindel::FrameSettings s = settings();
    s.cameraValid = 1;
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f * kW, 0.5f * kH, -1.39f * kW, 1};
    std::memcpy(s.cameraMatrix, m, sizeof(m));
    s.cameraDistance = 1.39f * kW;
    EXPECT_EQ(renderFloat(s, kW, kH).argb, byDefault.argb);
    // No distance from the host: the default zoom stands in, and the frame is the same.
    s.cameraDistance = 0.0f;
    EXPECT_EQ(renderFloat(s, kW, kH).argb, byDefault.argb);

    // The camera steps a quarter of the composition to the right: the fire drifts left.
    s.cameraDistance = 1.39f * kW;
    s.cameraMatrix[12] += 0.25f * kW;
    const FloatImage moved = renderFloat(s, kW, kH);
    ASSERT_GT(moved.maxAlpha(), 0.1f);
    EXPECT_LT(alphaCentroidX(moved), alphaCentroidX(byDefault) - 0.1 * kW);
}

TEST_F(RenderVolume, EmptyGridRendersTransparent) {
    // SetUp cleared every field: no smoke, no heat, nothing to see.
    const FloatImage out = renderFloat(settings(), kW, kH);
    for (float v : out.argb) ASSERT_EQ(v, 0.0f);
    minihost::World w8(kW, kH, 8);
    w8.fill(1, 1, 1, 1);
    ASSERT_TRUE(cindel::renderVolume(rt(), w8.get()->data, kW, kH, w8.rowBytes(), 8, settings()));
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const PF_Pixel8& p = w8.pixel8(x, y);
            ASSERT_EQ(p.alpha + p.red + p.green + p.blue, 0) << x << "," << y;
        }
}

TEST_F(RenderVolume, HalfOpacityHalvesEveryEightBitChannel) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const FloatImage full = renderFloat(settings(), kW, kH);  // opacity 1: the frame's own floats
    cindel::FrameSettings s = settings();
    s.opacity = 0.5f;
    minihost::World half(kW, kH, 8);
    ASSERT_TRUE(cindel::renderVolume(rt(), half.get()->data, kW, kH, half.rowBytes(), 8, s));
    minihost::World whole(kW, kH, 8);
    ASSERT_TRUE(cindel::renderVolume(rt(), whole.get()->data, kW, kH, whole.rowBytes(), 8, settings()));
    auto to8 = [](float v) { return v > 0.0f ? static_cast<int>(std::min(v, 255.0f)) : 0; };
    int brightest = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const PF_Pixel8& p = half.pixel8(x, y);
            const PF_Pixel8& q = whole.pixel8(x, y);
            const int got[4] = {p.alpha, p.red, p.green, p.blue};
            const int one[4] = {q.alpha, q.red, q.green, q.blue};
            for (int ch = 0; ch < 4; ++ch) {
                // Truncation, never rounding, of channel × 0.5 × 255.
                ASSERT_EQ(got[ch], to8(full.at(x, y)[ch] * 0.5f * 255.0f)) << x << "," << y << " " << ch;
                // Seen from the 8-bit frame at opacity 1: half of it, give or take the truncation.
                if (one[ch] < 255) {
                    ASSERT_NEAR(got[ch], one[ch] / 2.0, 1.0) << x << "," << y << " " << ch;
                }
                brightest = std::max(brightest, one[ch]);
            }
        }
    }
    EXPECT_GT(brightest, 60);  // non-vacuous: there was something to halve
    // Opacity outside 0 … 1 acts as 1.
    s.opacity = 1.5f;
    minihost::World over(kW, kH, 8);
    ASSERT_TRUE(cindel::renderVolume(rt(), over.get()->data, kW, kH, over.rowBytes(), 8, s));
    EXPECT_EQ(std::memcmp(over.get()->data, whole.get()->data, static_cast<size_t>(whole.rowBytes()) * kH), 0);
}

TEST_F(RenderVolume, DebugViewsGoThroughTheSliceWithoutAFrameLine) {
    fillBall(8.0f, 1.0f, 1750.0f);  // half of the slice's 3500 K scale
    const int side = kH, offX = (kW - kH) / 2;
    for (int mode : {2, 3}) {
        SCOPED_TRACE(mode);
        cindel::FrameSettings s = settings();
        s.debugView = mode;
        s.opacity = 0.5f;  // the slice ignores Opacity
        minihost::World out(kW, kH, 8);
        ASSERT_TRUE(cindel::renderVolume(rt(), out.get()->data, kW, kH, out.rowBytes(), 8, s));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) ASSERT_EQ(out.pixel8(x, y).alpha, 255) << x << "," << y;
        const PF_Pixel8 bar = out.pixel8(0, kH / 2);  // outside the square: black
        EXPECT_EQ(bar.red + bar.green + bar.blue, 0);
        const PF_Pixel8 edge = out.pixel8(offX, kH / 2);  // the square's border: yellow
        EXPECT_EQ((std::vector<int>{edge.red, edge.green, edge.blue}), (std::vector<int>{255, 255, 0}));
        // Cell (18, 18, 16) lies in the ball, off the crosshair.
        const PF_Pixel8 in = out.pixel8(offX + 13, 13);
        ASSERT_EQ(static_cast<int>(13.0f / side * N()), 18);
        if (mode == 2) {
            EXPECT_EQ((std::vector<int>{in.red, in.green, in.blue}), (std::vector<int>{255, 127, 0}));
        } else {
            EXPECT_EQ((std::vector<int>{in.red, in.green, in.blue}), (std::vector<int>{127, 127, 127}));
        }
    }
    EXPECT_EQ(frameLines(), 0);
}

TEST_F(RenderVolume, FrameLineNamesQualityVoxelSizeAndFrame) {
    grid().lastFrame = 7;
    cindel::FrameSettings s = settings();
    renderFloat(s, kW, kH);
    s.quality = 99;
    s.voxelSize = 4;
    renderFloat(s, kW, kH);
    ASSERT_EQ(frameLines(), 2);
    EXPECT_TRUE(
        std::regex_match(loggedLines()[0], std::regex(R"(\[FRAME\] Q=Draft  V=Large   F=7    render=\d+\.\dms\n)")))
        << loggedLines()[0];
    EXPECT_TRUE(
        std::regex_match(loggedLines()[1], std::regex(R"(\[FRAME\] Q=\?      V=Tiny    F=7    render=\d+\.\dms\n)")))
        << loggedLines()[1];
}

TEST_F(RenderVolume, OutputSizedBuffersAndThePyramid) {
    // 64 × 40: level 0 is 32 × 20, then 16 × 10; 8 × 5 is too low.
    renderFloat(settings(), 64, 40);
    const cindel::RenderBuffers& b = rt().render;
    EXPECT_GE(b.imageBuffer.capacity, 64u * 40 * 16);
    EXPECT_GE(b.postA.capacity, 64u * 40 * 16);
    EXPECT_GE(b.postB.capacity, 64u * 40 * 16);
    EXPECT_GE(b.screenVelocity.capacity, 64u * 40 * 8);
    EXPECT_GE(b.velocityTiles.capacity, 4u * 3 * 8);
    EXPECT_GE(b.halfImage.capacity, 32u * 20 * 16);
    ASSERT_EQ(b.bloomLevelCount, 2);
    EXPECT_EQ(b.bloomWidth[0], 32);
    EXPECT_EQ(b.bloomHeight[0], 20);
    EXPECT_EQ(b.bloomWidth[1], 16);
    EXPECT_EQ(b.bloomHeight[1], 10);
    // 15 × 15 makes one level of 8 × 8, 14 × 14 none: the count follows the output, not the
    // buffers kept from larger frames.
    renderFloat(settings(), 15, 15);
    EXPECT_EQ(b.bloomLevelCount, 1);
    renderFloat(settings(), 14, 14);
    EXPECT_EQ(b.bloomLevelCount, 0);
    // Buffers never shrink.
    EXPECT_GE(b.imageBuffer.capacity, 64u * 40 * 16);
}

TEST_F(RenderVolume, RowPaddingIsLeftAloneAtEveryDepth) {
    fillBall(8.0f, 1.0f, 1800.0f);
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        minihost::World out(kW, kH, bits, 12);
        ASSERT_TRUE(cindel::renderVolume(rt(), out.get()->data, kW, kH, out.rowBytes(), bits, settings()));
        EXPECT_TRUE(out.paddingIntact());
        const double centreAlpha = bits == 8    ? out.pixel8(kW / 2, kH / 2).alpha / 255.0
                                   : bits == 16 ? out.pixel16(kW / 2, kH / 2).alpha / 32768.0
                                                : out.pixel32(kW / 2, kH / 2).alpha;
        EXPECT_GT(centreAlpha, 0.1);
    }
}

TEST_F(RenderVolume, BadInputsAreRefusedAndWriteNothing) {
    fillBall(8.0f, 1.0f, 1800.0f);
    std::vector<std::uint8_t> pixels(kW * kH * 4, 0x5A);
    const std::vector<std::uint8_t> before = pixels;
    const cindel::FrameSettings s = settings();
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), 0, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, 0, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), -kW, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, -1, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), nullptr, kW, kH, kW * 4, 8, s));
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4 - 1, 8, s));   // rows too short
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH / 2, kW * 4, 12, s));  // no such depth
    rt().ready = false;
    EXPECT_FALSE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));
    rt().ready = true;
    EXPECT_EQ(pixels, before);
    EXPECT_EQ(frameLines(), 0);
    // The same call with good arguments does write: the refusals above were about the arguments.
    EXPECT_TRUE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));
    EXPECT_NE(pixels, before);
}

TEST_F(RenderVolume, NoMotionBlurAtDraftWhateverTheSetting) {
    fillBall(8.0f, 1.0f, 1800.0f);
    write(grid().velocity, std::vector<float>(cells() * 4, 20.0f));
    const FloatImage still = renderFloat(settings(), kW, kH);
    cindel::FrameSettings s = settings();
    s.motionBlur = 1;
    s.motionBlurScale = 1.0f;
    s.shutterAngle = 360.0f;
    EXPECT_EQ(renderFloat(s, kW, kH).argb, still.argb);
}

}  // namespace
