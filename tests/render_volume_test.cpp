// The render driver: the quality table and the view it derives, and whole frames on a 32³ grid at
// an odd output size: the march's resolution per quality, the host's camera, Opacity, the pyramid,
// row padding, the macrocell skip threshold, bad input.
#include "render/render_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "minihost/world.h"
#include "sim_fixture.h"

namespace {

// A plain look: blackbody fire over 100 … 2500 K, grey smoke (density contrast 0.7 lifts the
// thinnest), no optional light, neutral grading; bloom, heat, detail and motion blur stay off.
cindel::FrameSettings renderSettings(int compW, int compH) {
    cindel::FrameSettings s = simtest::defaultSimSettings();
    s.compWidth = s.outputWidth = compW;
    s.compHeight = s.outputHeight = compH;
    s.opacity = s.gamma = s.saturation = s.volumeDensity = 1.0f;
    s.quality = s.voxelSize = s.debugView = s.colorMode = s.blendMode = 1;
    s.densityContrast = s.intensity = 0.7f, s.minColorTemp = 100.0f, s.maxColorTemp = 2500.0f;
    s.burnCutoffCenter = 0.15f, s.burnCutoffWidth = 0.25f;
    s.scatterColor = {0.1f, 0.1f, 0.1f};
    s.colorTint = {1.0f, 1.0f, 1.0f};
    s.smokeDensity = 65.0f, s.smokeBrightness = 0.25f, s.selfShadow = 0.2f;
    return s;
}

TEST(RenderQuality, TableByQualityAndEdgeSampling) {
    struct Row { int quality, samples, ssaa, bicubic, half, blur; };
    // Quality, samples per ray, sub-pixels per side, bicubic sampling, half-resolution march, blur.
    const Row rows[] = {{1, 48, 1, 0, 1, 0}, {2, 96, 1, 0, 1, 0}, {3, 128, 2, 1, 0, 1},
                        {4, 256, 3, 1, 0, 1}, {0, 96, 1, 0, 1, 0}, {-7, 96, 1, 0, 1, 0}};
    for (const Row& r : rows) {
        const cindel::RenderQuality q = cindel::renderQualityFor(r.quality);
        const std::vector<int> got{q.sampleCount, q.ssaaCount, q.useBicubic, q.isHalfResolution, q.isMotionBlurAllowed};
        EXPECT_EQ(got, std::vector<int>({r.samples, r.ssaa, r.bicubic, r.half, r.blur})) << "quality " << r.quality;
    }
    const int sharp[] = {0, 0, 1, 2, 0};  // Edge Sampling 0 … 4; outside 1 … 3 acts as 1
    for (int e = 0; e <= 4; ++e) EXPECT_EQ(cindel::edgeSharpFor(e), sharp[e]) << "edge sampling " << e;
}

// The default camera is checked through frames below; here the grid mapping, the sampling the
// quality sets, the motion-blur velocity output, and a host camera without a usable distance.
TEST(RaymarchView, GridMappingSamplingVelocityOutputAndCameraFallback) {
    cindel::FrameSettings s = renderSettings(1920, 1080);
    s.quality = 3, s.edgeSampling = 3, s.motionBlur = 1, s.motionBlurScale = 0.5f;
    cindel::RaymarchView v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(std::vector<float>({v.gridFactorX, v.gridFactorY, v.gridFactorZ, v.velCellToScreenX, v.velCellToScreenY}),
              std::vector<float>({128.0f / 1920, 128.0f / 1080, 128.0f / 1920, 960.0f / 128, 540.0f / 128}));
    EXPECT_EQ(std::vector<int>({v.sampleCount, v.ssaaCount, v.useBicubic, v.edgeSharp, v.mbEnable}),
              std::vector<int>({128, 2, 1, 2, 1}));
    s.motionBlurScale = 0.001f;  // the host reports no shutter
    s.cameraValid = 1;
    for (int i = 0; i < 16; ++i) s.cameraMatrix[i] = static_cast<float>(i + 1);
    s.cameraDistance = 0.001f;  // no zoom at all: the default stands in
    v = cindel::raymarchViewFor(s, 960, 540, 128);
    EXPECT_EQ(std::vector<float>({v.camRight[2], v.camUp[0], v.camFwd[1], v.camPos[2], v.camZoom, float(v.mbEnable)}),
              std::vector<float>({3, 5, 10, 15, 1.39f * 1920, 0}));
}

class RenderVolume : public simtest::SimTest {
protected:
    static constexpr int kW = 37, kH = 23;  // odd on purpose: ⌈W/2⌉ and ⌈H/2⌉ round up
    cindel::FrameSettings settings() const { return renderSettings(kW, kH); }
    // A dense, hot ball of `radius` cells at the grid's centre.
    void fillBall(float radius, float density, float kelvin) {
        const float c = 0.5f * static_cast<float>(N());
        auto inside = [&](int x, int y, int z) {
            const float dx = x + 0.5f - c, dy = y + 0.5f - c, dz = z + 0.5f - c;
            return dx * dx + dy * dy + dz * dz <= radius * radius;
        };
        write(grid().density, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? density : 0.0f; }));
        write(grid().temperature, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? kelvin : 0.0f; }));
    }
    // A float world (alpha, red, green, blue per pixel) that starts at -1, so that a pixel the
    // driver did not write stands out.
    std::vector<float> renderFloat(const cindel::FrameSettings& s, int W, int H) {
        std::vector<float> argb(static_cast<size_t>(W) * H * 4, -1.0f);
        EXPECT_TRUE(cindel::renderVolume(rt(), argb.data(), W, H, W * 16, 32, s));
        return argb;
    }
    static float alpha(const std::vector<float>& argb, int x, int y) { return argb[(y * kW + x) * 4]; }
    static double alphaCentroidX(const std::vector<float>& argb) {
        double sum = 0, weight = 0;
        for (int i = 0; i < kW * kH; ++i) sum += argb[4 * i] * (i % kW), weight += argb[4 * i];
        return weight > 0 ? sum / weight : -1;
    }
};

TEST_F(RenderVolume, DraftMarchesAtHalfSizeAndHighAndUltraAtFullSize) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const size_t halfFloats = static_cast<size_t>(19) * 12 * 4;
    const std::vector<float> draft = renderFloat(settings(), kW, kH);
    const std::vector<float> half = simtest::readBuffer(rt().render.halfImage.handle, halfFloats);
    ASSERT_GT(half[(6 * 19 + 9) * 4 + 3], 0.1f) << "the ball lies in the middle of the 19 × 12 march";
    // The output's far corner is the half image's far corner texel (the upsample clamps there).
    for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(draft[kW * kH * 4 - 4 + (ch + 1) % 4], half[halfFloats - 4 + ch]);
    for (int quality : {3, 4}) {
        simtest::writeBuffer(rt().render.halfImage.handle, std::vector<float>(halfFloats, 7.0f));
        cindel::FrameSettings s = settings();
        s.quality = quality;
        const std::vector<float> out = renderFloat(s, kW, kH);
        for (float v : simtest::readBuffer(rt().render.halfImage.handle, halfFloats)) ASSERT_EQ(v, 7.0f) << quality;
        EXPECT_GT(alpha(out, kW / 2, kH / 2), 0.1f);
        EXPECT_EQ(alpha(out, 0, 0), 0.0f);
    }
}

TEST_F(RenderVolume, HostCameraEqualToTheDefaultGivesTheSameFrameAndAMovedOneMovesTheFire) {
    fillBall(6.0f, 1.0f, 1800.0f);
    const std::vector<float> byDefault = renderFloat(settings(), kW, kH);
    cindel::FrameSettings s = settings();
    s.cameraValid = 1;
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f * kW, 0.5f * kH, -1.39f * kW, 1};
    std::memcpy(s.cameraMatrix, m, sizeof(m));
    s.cameraDistance = 1.39f * kW;
    EXPECT_EQ(renderFloat(s, kW, kH), byDefault);
    s.cameraMatrix[12] += 0.25f * kW;  // a quarter of the composition to the right: the fire drifts left
    EXPECT_LT(alphaCentroidX(renderFloat(s, kW, kH)), alphaCentroidX(byDefault) - 0.1 * kW);
    EXPECT_GT(alphaCentroidX(byDefault), 0.4 * kW);
}

// The conversion itself is held by the output write's tests; here the driver must hand it the
// frame's Opacity at every depth and leave row padding alone.
TEST_F(RenderVolume, OpacityReachesTheOutputAtEveryDepthAndRowPaddingIsLeftAlone) {
    fillBall(8.0f, 1.0f, 1800.0f);
    const double full = alpha(renderFloat(settings(), kW, kH), kW / 2, kH / 2);
    ASSERT_GT(full, 0.2);
    cindel::FrameSettings s = settings();
    s.opacity = 0.5f;
    for (int bits : {8, 16, 32}) {
        minihost::World out(kW, kH, bits, 12);
        ASSERT_TRUE(cindel::renderVolume(rt(), out.get()->data, kW, kH, out.rowBytes(), bits, s));
        EXPECT_TRUE(out.paddingIntact()) << bits;
        const double alpha = bits == 8    ? out.pixel8(kW / 2, kH / 2).alpha / 255.0
                             : bits == 16 ? out.pixel16(kW / 2, kH / 2).alpha / 32768.0
                                          : out.pixel32(kW / 2, kH / 2).alpha;
        EXPECT_NEAR(alpha, 0.5 * full, 1.0 / 255) << bits;
    }
}

TEST_F(RenderVolume, BuffersAndThePyramidFollowTheOutput) {
    renderFloat(settings(), 64, 40);  // level 0 is 32 × 20, then 16 × 10; 8 × 5 is too low
    const cindel::RenderBuffers& b = rt().render;
    ASSERT_EQ(b.bloomLevelCount, 2);
    EXPECT_EQ(std::vector<int>({b.bloomWidth[0], b.bloomHeight[0], b.bloomWidth[1], b.bloomHeight[1]}),
              std::vector<int>({32, 20, 16, 10}));
    renderFloat(settings(), 14, 14);  // the count follows the output, not the buffers kept from before
    EXPECT_EQ(b.bloomLevelCount, 0);
}

// A uniform density gives every macrocell that maximum; the frame is compared with the one of the
// same grid with the macrocells switched off (counts 0: the march samples everything).
TEST_F(RenderVolume, MacrocellAtTheSkipThresholdIsDrawnAndJustBelowItIsSkipped) {
    auto render = [&](bool withMacrocells) {
        cindel::Macrocells& mc = rt().macrocells;
        const cindel::Macrocells kept = mc;
        if (!withMacrocells) mc.count = mc.countL1 = 0;
        const std::vector<float> out = renderFloat(renderSettings(24, 16), 24, 16);
        mc = kept;
        return out;
    };
    for (float density : {0.0001f, 0.0000999f}) {
        simtest::fillBuffer(grid().density, cells(), density);
        const std::vector<float> plain = render(false), skipping = render(true);
        ASSERT_GT(*std::max_element(plain.begin(), plain.end()), 0.0f) << "the thin smoke leaves a trace";
        const bool allSkipped = *std::max_element(skipping.begin(), skipping.end()) == 0.0f;
        EXPECT_TRUE(density == 0.0001f ? skipping == plain : allSkipped) << density << ": drawn at 1e-4, not below";
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
    EXPECT_EQ(pixels, before);
    EXPECT_TRUE(cindel::renderVolume(rt(), pixels.data(), kW, kH, kW * 4, 8, s));  // the arguments were the fault
    EXPECT_NE(pixels, before);
}

}  // namespace
