// The ray march, cd_raymarch: its parameter block (host layout against the device's, and how the
// host fills it), its small helpers through probe kernels (sub-pixel grid, jitter, grading), and
// whole renders of hand-built 32³ grids through enqueueRaymarch: exact transparency where nothing
// is seen, Beer-Lambert transmittance through a uniform medium, a hot blob's colour and position,
// empty-space skipping that changes nothing it should not, determinism and the velocity output.
//
// Renders use a 24 × 16 image of a 240 × 160 composition (the output is mapped over the whole
// composition) with the default camera: looking along +z from (120, 80, -1.39·240), focal length
// 1.39·240, so that the grid's middle slab z = 0 projects pixel for pixel.
#include "render/raymarch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

#include "cl_harness.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using cindel::RaymarchView;

// Tolerances, with their reasons.
// The same floats through the same operations on the same device: renders that must agree are
// compared for exact equality of their bytes; where the test states a tolerance instead, this is it.
constexpr float kSameArithmetic = 0.0f;
// Transmittance of a uniform medium: the device multiplies up to 256 factors 1 - alpha, each with
// float rounding (about 1e-7 relative), against a double reference: well under 1e-4.
constexpr double kTransmittanceTolerance = 1e-4;
// Samples of the reference closer than this to the grid's edge could be counted differently by the
// device's float positions (errors near 1e-5 cells); the chosen pixels must stay clear of it.
constexpr double kBoundaryMargin = 1e-3;
// ACES of 1.0 is 2.54 / 3.16 = 0.8038; the edge case only promises "about 0.80".
constexpr double kAcesOfOne = 2.54 / 3.16;
// Grading under -cl-fast-relaxed-math (pow, exp2, sin): a few ulp; 1e-5 is far below any effect
// the grading tests look for.
constexpr double kGradeTolerance = 1e-5;
// A velocity average of a constant field: sum of w·v over sum of w, float rounding only.
constexpr double kVelocityTolerance = 1e-5;

// ------------------------------------------------------------------------------------------------
// The block's fields in the argument list's order; the layout test requires offsets 0, 4, 8, ...
// clang-format off
#define CD_RAYMARCH_FIELDS(X)                                                                               \
    X(W) X(H) X(N) X(camPosX) X(camPosY) X(camPosZ) X(camFwdX) X(camFwdY) X(camFwdZ) X(camRightX)         \
    X(camRightY) X(camRightZ) X(camUpX) X(camUpY) X(camUpZ) X(camZoom) X(compW) X(compH) X(gridFactorX)   \
    X(gridFactorY) X(gridFactorZ) X(gridOffsetXY) X(densityMul) X(emissionMul) X(tempMin) X(tempMax)      \
    X(sampleCount) X(detailStrength) X(detailScale) X(detailTime) X(emberGlow) X(ssaaCount) X(useBicubic) \
    X(colorMode) X(minK) X(maxK) X(fireGamma) X(fireIntensity) X(srcR) X(srcG) X(srcB) X(midR) X(midG)    \
    X(midB) X(tailR) X(tailG) X(tailB) X(scaR) X(scaG) X(scaB) X(smokeDensityMul) X(smkBright)            \
    X(burnCutoffCenter) X(burnCutoffWidth) X(mbEnable) X(velCellToScreenX) X(velCellToScreenY) X(tintR)   \
    X(tintG) X(tintB) X(brightnessFlicker) X(hueShift) X(saturation) X(exposure) X(gradeTime)              \
    X(scatterAnisotropy) X(selfShadow) X(detailOctaves) X(densityContrast) X(opacityThreshold)            \
    X(edgeSharp) X(fbmFlow) X(innerWisps) X(volumeDensity) X(shutterTime) X(blendMode) X(blendStrength)  \
    X(rimActive) X(rimLightX) X(rimLightY) X(rimLightZ) X(rimColorR) X(rimColorG) X(rimColorB)            \
    X(rimIntensity) X(rimStrength) X(keyActive) X(keyLightX) X(keyLightY) X(keyLightZ) X(keyColorR)       \
    X(keyColorG) X(keyColorB) X(keyIntensity) X(fireLightStrength) X(volumetricDepth) X(ambColorR)        \
    X(ambColorG) X(ambColorB) X(ambientStrength) X(macroN) X(macroN_L1) X(lifeSoftness)
// clang-format on

#define CD_HOST_OFFSET(f) offsetof(CdRaymarchParams, f),
constexpr size_t kHostOffsets[] = {CD_RAYMARCH_FIELDS(CD_HOST_OFFSET)};
constexpr size_t kFieldCount = sizeof(kHostOffsets) / sizeof(kHostOffsets[0]);
// 111 arguments less the 8 buffers.
static_assert(kFieldCount == 103);

#define CD_DEVICE_OFFSET(f) "    out[k++] = (float)((char*)&p." #f " - (char*)&p);\n"

const char kRaymarchTestKernels[] =
    "__kernel void cd_test_raymarch_layout(__global float* out) {\n"
    "    CdRaymarchParams p = {0};\n"
    "    int k = 0;\n" CD_RAYMARCH_FIELDS(CD_DEVICE_OFFSET)
    "    out[k] = (float)sizeof(CdRaymarchParams);\n"
    "}\n"
    R"CLC(
__kernel void cd_test_raymarch_grade(__global const CdRaymarchParams* params, __global const float* rgb, int count,
                                     __global float* out) {
    const int i = get_global_id(0);
    if (i >= count) return;
    const CdRaymarchParams P = *params;
    float r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
    cd_raymarch_grade(&P, &r, &g, &b);
    out[4 * i] = r;
    out[4 * i + 1] = g;
    out[4 * i + 2] = b;
    out[4 * i + 3] = cd_aces_fit(rgb[3 * i]);
}

// Per sub-pixel s of an ssaa × ssaa pixel (px, py): offset x, offset y, jitter.
__kernel void cd_test_raymarch_subpixel(int ssaa, int px, int py, int count, __global float* out) {
    const int s = get_global_id(0);
    if (s >= count) return;
    float dx, dy;
    cd_raymarch_subpixel(s, ssaa, &dx, &dy);
    out[3 * s] = dx;
    out[3 * s + 1] = dy;
    out[3 * s + 2] = cd_raymarch_jitter(px, py, s);
}
)CLC";

// Settings that leave every grading step neutral and every optional light off, with fire and
// smoke colours whose effect the tests can predict.
FrameSettings baseSettings() {
    FrameSettings s;
    cindel::resetFrameSettings(s);
    s.compWidth = 240;
    s.compHeight = 160;
    s.colorMode = 1;
    s.minColorTemp = 500.0f;
    s.maxColorTemp = 3000.0f;
    s.gamma = 1.0f;
    s.intensity = 1.0f;
    s.source = {1.0f, 0.9f, 0.5f};
    s.mid = {1.0f, 0.4f, 0.1f};
    s.tailCool = {0.2f, 0.05f, 0.0f};
    s.burnCutoffCenter = 0.2f;
    s.burnCutoffWidth = 0.2f;
    s.scatterColor = {0.5f, 0.5f, 0.5f};
    s.smokeDensity = 100.0f;
    s.smokeBrightness = 0.3f;
    s.scatterAnisotropy = 0.0f;
    s.selfShadow = 0.5f;
    s.fireLight = 0.0f;
    s.volumetricDepth = 0.0f;
    s.ambientColor = {0.5f, 0.6f, 0.8f};
    s.ambientStrength = 0.0f;
    s.colorTint = {1.0f, 1.0f, 1.0f};
    s.saturation = 1.0f;
    s.densityContrast = 1.0f;
    s.volumeDensity = 1.0f;
    s.blendMode = 1;
    s.detailNoise = 0.0f;
    s.detailScale = 20.0f;
    s.detailOctaves = 3;
    s.emberGlow = 0.0f;
    return s;
}

RaymarchView defaultView(int N, int compW, int compH) {
    RaymarchView v{};
    const float w = static_cast<float>(compW);
    v.camPos[0] = 0.5f * w;
    v.camPos[1] = 0.5f * static_cast<float>(compH);
    v.camPos[2] = -1.39f * w;
    v.camFwd[2] = 1.0f;
    v.camRight[0] = 1.0f;
    v.camUp[1] = 1.0f;
    v.camZoom = 1.39f * w;
    v.compW = compW;
    v.compH = compH;
    v.gridFactorX = static_cast<float>(N) / w;
    v.gridFactorY = static_cast<float>(N) / static_cast<float>(compH);
    v.gridFactorZ = static_cast<float>(N) / w;
    v.gridOffsetXY = 0.0f;
    v.sampleCount = 64;
    v.ssaaCount = 1;
    v.useBicubic = 0;
    v.edgeSharp = 0;
    v.mbEnable = 0;
    v.velocityOut = nullptr;
    v.velCellToScreenX = 1.0f;
    v.velCellToScreenY = 1.0f;
    return v;
}

// ------------------------------------------------------------------------------------------------
// Host side: how the block is filled. No device needed.

TEST(RaymarchParams, HostFillsTheBlockAsTheDriverPrescribes) {
    FrameSettings s = baseSettings();
    s.randomSeed = 3;
    s.burnCutoffWidth = 0.0f;
    s.keyActive = 7;
    s.keyLightX = 120.0f;
    s.keyLightY = 40.0f;
    s.keyLightZ = -60.0f;
    s.rimActive = 0;
    s.rimLightX = 240.0f;
    s.smokeDensity = 55.0f;
    s.fireLight = 0.25f;
    const RaymarchView v = defaultView(64, 240, 160);
    const CdRaymarchParams p = cindel::makeRaymarchParams(s, v, {64, 10, 16, 4}, 24, 16);

    EXPECT_EQ(p.W, 24);
    EXPECT_EQ(p.H, 16);
    EXPECT_EQ(p.N, 64);
    EXPECT_EQ(p.densityMul, 1.0f);
    EXPECT_EQ(p.emissionMul, 5.0f);
    EXPECT_FLOAT_EQ(p.detailTime, 0.211f * 3.0f + 0.05f * 10.0f);
    EXPECT_FLOAT_EQ(p.gradeTime, 0.0333f * 10.0f);
    EXPECT_EQ(p.burnCutoffWidth, 0.001f);
    EXPECT_EQ(p.keyActive, 1);
    EXPECT_EQ(p.rimActive, 0);
    // Composition pixels to grid cells: 64 / 240 on x and z, 64 / 160 on y, z about the middle.
    EXPECT_FLOAT_EQ(p.keyLightX, 32.0f);
    EXPECT_FLOAT_EQ(p.keyLightY, 16.0f);
    EXPECT_FLOAT_EQ(p.keyLightZ, -16.0f + 32.0f);
    EXPECT_FLOAT_EQ(p.rimLightX, 64.0f);
    EXPECT_EQ(p.smokeDensityMul, 55.0f);
    EXPECT_EQ(p.fireLightStrength, 0.25f);
    EXPECT_EQ(p.macroN, 16);
    EXPECT_EQ(p.macroN_L1, 4);
    EXPECT_EQ(p.camZoom, 1.39f * 240.0f);
    EXPECT_EQ(p.sampleCount, 64);
}

// ------------------------------------------------------------------------------------------------
// Probe kernels: the block's layout on the device and the small helpers.

class RaymarchProbe : public cltest::ClKernelTest {
protected:
    RaymarchProbe() : ClKernelTest(kRaymarchTestKernels) {}
    void SetUp() override {
        // The renders below start the runtime through the simulation fixture; starting it there
        // first keeps one start per process whichever test runs first.
        simtest::runtime();
        ClKernelTest::SetUp();
    }

    cltest::ClBuffer uploadParams(const CdRaymarchParams& p) {
        std::vector<float> words(sizeof(CdRaymarchParams) / sizeof(float));
        std::memcpy(words.data(), &p, sizeof(CdRaymarchParams));
        return upload(words);
    }
};

TEST_F(RaymarchProbe, ParamBlockLayoutMatchesTheDevice) {
    cltest::ClBuffer out = output(kFieldCount + 1);
    ASSERT_TRUE(run("cd_test_raymarch_layout", cltest::Range::linear(1, 1), out));
    const std::vector<float> device = read(out);
    for (size_t i = 0; i < kFieldCount; ++i) {
        SCOPED_TRACE("field " + std::to_string(i));
        EXPECT_EQ(kHostOffsets[i], 4 * i);
        EXPECT_EQ(device[i], static_cast<float>(kHostOffsets[i]));
    }
    EXPECT_EQ(device[kFieldCount], static_cast<float>(sizeof(CdRaymarchParams)));
    EXPECT_EQ(sizeof(CdRaymarchParams), 4 * kFieldCount);
}

TEST_F(RaymarchProbe, SubPixelsFormARegularGridCentredOnThePixel) {
    for (int ssaa : {1, 2, 3}) {
        SCOPED_TRACE("ssaaCount " + std::to_string(ssaa));
        const int count = ssaa * ssaa;
        cltest::ClBuffer out = output(3 * static_cast<size_t>(count));
        ASSERT_TRUE(run("cd_test_raymarch_subpixel", cltest::Range::linear(static_cast<size_t>(count), 16), ssaa, 5, 7,
                        count, out));
        const std::vector<float> v = read(out);
        for (int s = 0; s < count; ++s) {
            const double expectX = ssaa == 1 ? 0.0 : ((s % ssaa) + 0.5) / ssaa - 0.5;
            const double expectY = ssaa == 1 ? 0.0 : ((s / ssaa) + 0.5) / ssaa - 0.5;
            EXPECT_NEAR(v[3 * s], expectX, 1e-7) << "s " << s;
            EXPECT_NEAR(v[3 * s + 1], expectY, 1e-7) << "s " << s;
        }
        if (ssaa == 3) {
            const float third = 1.0f / 3.0f;
            EXPECT_NEAR(v[0], -third, 1e-6);
            EXPECT_NEAR(v[3 * 4], 0.0f, 1e-7);
            EXPECT_NEAR(v[3 * 8], third, 1e-6);
            EXPECT_NEAR(v[3 * 8 + 1], third, 1e-6);
        }
    }
}

TEST_F(RaymarchProbe, JitterIsInterleavedGradientNoiseOfPixelAndSubPixel) {
    const int count = 9;
    cltest::ClBuffer out = output(3 * count);
    ASSERT_TRUE(run("cd_test_raymarch_subpixel", cltest::Range::linear(count, 16), 3, 11, 6, count, out));
    const std::vector<float> v = read(out);
    std::vector<float> jitters;
    for (int s = 0; s < count; ++s) {
        const double a = 11 + 5.588238 * s, b = 6 + 5.588238 * s;
        const double f = 0.06711056 * a + 0.00583715 * b;
        const double j = 52.9829189 * (f - std::floor(f));
        const double expected = j - std::floor(j);
        // float against double, amplified by 53 through the inner fraction: about 1e-5.
        EXPECT_NEAR(v[3 * s + 2], expected, 1e-4) << "s " << s;
        EXPECT_GE(v[3 * s + 2], 0.0f);
        EXPECT_LT(v[3 * s + 2], 1.0f);
        jitters.push_back(v[3 * s + 2]);
    }
    std::sort(jitters.begin(), jitters.end());
    EXPECT_GT(jitters.back() - jitters.front(), 0.3f) << "the sub-pixels should start at different phases";
}

TEST_F(RaymarchProbe, GradingOfNeutralSettingsIsToneMapAndGammaAlone) {
    CdRaymarchParams p = cindel::makeRaymarchParams(baseSettings(), defaultView(32, 240, 160), {32, 0, 0, 0}, 1, 1);
    const std::vector<float> rgb = {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.25f, 2.0f, 8.0f};
    cltest::ClBuffer params = uploadParams(p);
    cltest::ClBuffer in = upload(rgb);
    cltest::ClBuffer out = output(12);
    ASSERT_TRUE(run("cd_test_raymarch_grade", cltest::Range::linear(3, 16), params, in, 3, out));
    const std::vector<float> v = read(out);

    EXPECT_NEAR(v[3], kAcesOfOne, kGradeTolerance);
    EXPECT_NEAR(v[3], 0.80, 0.01);
    const double encodedOne = std::pow(kAcesOfOne, 1.0 / 2.2);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(v[c], encodedOne, kGradeTolerance);
    // Black is exactly black: an empty pixel must not pick up a grey from the curve's offset.
    for (int c = 4; c < 7; ++c) EXPECT_EQ(v[c], 0.0f);
    for (int c = 0; c < 3; ++c) {
        const double x = rgb[6 + c];
        const double aces = std::clamp(x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14), 0.0, 1.0);
        EXPECT_NEAR(v[8 + c], std::pow(aces, 1.0 / 2.2), kGradeTolerance) << "channel " << c;
    }
}

TEST_F(RaymarchProbe, GradingStepsActAsDescribed) {
    const FrameSettings base = baseSettings();
    const RaymarchView view = defaultView(32, 240, 160);
    auto grade = [&](const FrameSettings& s, std::vector<float> rgb, float gradeTime = 0.0f) {
        CdRaymarchParams p = cindel::makeRaymarchParams(s, view, {32, 0, 0, 0}, 1, 1);
        p.gradeTime = gradeTime;
        cltest::ClBuffer params = uploadParams(p);
        cltest::ClBuffer in = upload(rgb);
        cltest::ClBuffer out = output(4);
        EXPECT_TRUE(run("cd_test_raymarch_grade", cltest::Range::linear(1, 16), params, in, 1, out));
        return read(out);
    };

    // One stop of exposure doubles the linear colour before the curve.
    FrameSettings exposed = base;
    exposed.exposure = 1.0f;
    const std::vector<float> half = grade(exposed, {0.5f, 0.25f, 0.125f});
    const std::vector<float> full = grade(base, {1.0f, 0.5f, 0.25f});
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(half[c], full[c], kGradeTolerance);

    // Saturation 0 leaves the luma as grey.
    FrameSettings grey = base;
    grey.saturation = 0.0f;
    const std::vector<float> g = grade(grey, {0.8f, 0.3f, 0.1f});
    EXPECT_NEAR(g[0], g[1], kGradeTolerance);
    EXPECT_NEAR(g[1], g[2], kGradeTolerance);
    EXPECT_GT(g[0], 0.1f);

    // A hue rotation keeps grey grey (its chroma is zero) and turns a red into the YIQ rotation
    // of it: by 2 radians a dull violet.
    FrameSettings hue = base;
    hue.hueShift = 2.0f;
    const std::vector<float> greyHue = grade(hue, {0.4f, 0.4f, 0.4f});
    const std::vector<float> greyRef = grade(base, {0.4f, 0.4f, 0.4f});
    // The YIQ matrices are rounded to 3 digits, so they are inverse only to about 1e-3.
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(greyHue[c], greyRef[c], 1e-3);
    const std::vector<float> red = grade(hue, {0.8f, 0.1f, 0.1f});
    {
        const double r = 0.8, g = 0.1, b = 0.1, c = std::cos(2.0), sn = std::sin(2.0);
        const double Y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double I = 0.596 * r - 0.275 * g - 0.321 * b;
        const double Q = 0.212 * r - 0.523 * g + 0.311 * b;
        const double I2 = I * c - Q * sn, Q2 = I * sn + Q * c;
        const double expect[3] = {Y + 0.956 * I2 + 0.621 * Q2, Y - 0.272 * I2 - 0.647 * Q2,
                                  Y - 1.106 * I2 + 1.703 * Q2};
        for (int k = 0; k < 3; ++k) {
            const double x = std::max(expect[k], 0.0);
            const double aces = std::clamp(x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14), 0.0, 1.0);
            EXPECT_NEAR(red[k], std::pow(aces, 1.0 / 2.2), kGradeTolerance) << "channel " << k;
        }
        EXPECT_GT(red[2], red[0]) << "red turned by 2 radians leans to blue";
    }

    // The tint multiplies per channel.
    FrameSettings tinted = base;
    tinted.colorTint = {1.0f, 0.0f, 0.5f};
    const std::vector<float> t = grade(tinted, {1.0f, 1.0f, 2.0f});
    EXPECT_NEAR(t[0], std::pow(kAcesOfOne, 1.0 / 2.2), kGradeTolerance);
    EXPECT_EQ(t[1], 0.0f);
    EXPECT_NEAR(t[2], t[0], kGradeTolerance);

    // A flicker far beyond 1 dims to black at its troughs and never inverts.
    FrameSettings flicker = base;
    flicker.brightnessFlicker = 20.0f;
    // f(t) = 0.5 sin(7.13 t) + 0.3 sin(17.43 t) + 0.2 sin(31.07 t) is about -0.63 at t = 0.65.
    const std::vector<float> trough = grade(flicker, {1.0f, 1.0f, 1.0f}, 0.65f);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(trough[c], 0.0f);
    const std::vector<float> crest = grade(flicker, {0.01f, 0.01f, 0.01f}, 0.2f);
    EXPECT_GT(crest[0], grade(base, {0.01f, 0.01f, 0.01f})[0]);
}

// ------------------------------------------------------------------------------------------------
// Renders through enqueueRaymarch on the effect's runtime.

class RaymarchRender : public simtest::SimTest {
protected:
    static constexpr int kW = 24;
    static constexpr int kH = 16;
    static constexpr int kCompW = 240;
    static constexpr int kCompH = 160;

    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        density_.assign(cells(), 0.0f);
        temperature_.assign(cells(), 0.0f);
        writeMacrocells();
    }

    RaymarchView view() const { return defaultView(N(), kCompW, kCompH); }

    void setFields(const std::vector<float>& density, const std::vector<float>& temperature) {
        density_ = density;
        temperature_ = temperature;
        write(grid().density, density_);
        write(grid().temperature, temperature_);
        writeMacrocells();
    }

    // The maxima the macrocell builders would store: max(density, 0.0005·kelvin) per block.
    std::vector<float> blockMaxima(int M) const {
        std::vector<float> out(static_cast<size_t>(M) * M * M, 0.0f);
        const int b = N() / M;
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const size_t cell = idx(x, y, z);
                    const float vis = std::max(density_[cell], 0.0005f * temperature_[cell]);
                    float& m = out[(static_cast<size_t>(z / b) * M + y / b) * M + x / b];
                    m = std::max(m, vis);
                }
        return out;
    }

    void writeMacrocells() {
        const cindel::Macrocells& mc = rt().macrocells;
        ASSERT_TRUE(mc.max != nullptr && mc.count == 8) << "a 32³ grid has 8³ level-0 blocks";
        ASSERT_TRUE(mc.maxL1 != nullptr && mc.countL1 == 2) << "and 2³ level-1 blocks";
        write(mc.max, blockMaxima(mc.count));
        write(mc.maxL1, blockMaxima(mc.countL1));
    }

    struct Frame {
        std::vector<float> rgba;      // W·H·4
        std::vector<float> velocity;  // W·H·2 when a velocity buffer was given
        float coverage(int x, int y) const { return rgba[(static_cast<size_t>(y) * kW + x) * 4 + 3]; }
        const float* pixel(int x, int y) const { return &rgba[(static_cast<size_t>(y) * kW + x) * 4]; }
        float maxCoverage() const {
            float m = 0.0f;
            for (size_t i = 3; i < rgba.size(); i += 4) m = std::max(m, rgba[i]);
            return m;
        }
    };

    enum class Skipping { Macrocells, None };

    // Marches into a NaN-filled image (so an unwritten pixel cannot pass), optionally with a
    // velocity buffer prefilled with `velocityFill`.
    Frame render(const FrameSettings& s, RaymarchView v, Skipping skipping = Skipping::Macrocells,
                 bool withVelocity = false, float velocityFill = 7.0f) {
        Frame f;
        cl_mem image = cindel::createDeviceBuffer(rt().context, static_cast<size_t>(kW) * kH * 16);
        EXPECT_NE(image, nullptr);
        simtest::fillBuffer(image, static_cast<size_t>(kW) * kH * 4, std::nanf(""));
        cl_mem vel = nullptr;
        if (withVelocity) {
            vel = cindel::createDeviceBuffer(rt().context, static_cast<size_t>(kW) * kH * 8);
            simtest::fillBuffer(vel, static_cast<size_t>(kW) * kH * 2, velocityFill);
        }
        v.velocityOut = vel;
        cindel::Macrocells& mc = rt().macrocells;
        const int saved0 = mc.count, saved1 = mc.countL1;
        if (skipping == Skipping::None) mc.count = mc.countL1 = 0;
        EXPECT_TRUE(cindel::enqueueRaymarch(rt(), s, v, image, kW, kH));
        mc.count = saved0;
        mc.countL1 = saved1;
        f.rgba = simtest::readBuffer(image, static_cast<size_t>(kW) * kH * 4);
        if (vel) f.velocity = simtest::readBuffer(vel, static_cast<size_t>(kW) * kH * 2);
        cindel::releaseBuffer(image);
        cindel::releaseBuffer(vel);
        for (float x : f.rgba) EXPECT_FALSE(std::isnan(x)) << "a pixel was not written";
        return f;
    }

    // A ball of hot, smoky gas: density `d` and `kelvin` inside radius r of cell centre c.
    void placeBlob(float cx, float cy, float cz, float r, float d, float kelvin) {
        std::vector<float> dens = density_, temp = temperature_;
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const float dx = x + 0.5f - cx, dy = y + 0.5f - cy, dz = z + 0.5f - cz;
                    if (dx * dx + dy * dy + dz * dz <= r * r) {
                        dens[idx(x, y, z)] = d;
                        temp[idx(x, y, z)] = kelvin;
                    }
                }
        setFields(dens, temp);
    }

    std::vector<float> density_;
    std::vector<float> temperature_;
};

TEST_F(RaymarchRender, EmptyGridRendersExactlyTransparent) {
    FrameSettings s = baseSettings();
    s.ambientStrength = 0.5f;  // lights must not light empty space
    s.fireLight = 1.0f;
    const Frame f = render(s, view());
    for (float x : f.rgba) ASSERT_EQ(x, 0.0f);
}

TEST_F(RaymarchRender, RayThatMissesTheBoxGivesZero) {
    placeBlob(16.0f, 16.0f, 16.0f, 6.0f, 0.5f, 2500.0f);
    const FrameSettings s = baseSettings();
    const Frame seen = render(s, view());
    ASSERT_GT(seen.coverage(kW / 2, kH / 2), 0.1f) << "the blob must be visible from the default camera";

    RaymarchView away = view();
    away.camFwd[2] = -1.0f;  // the box is now behind the camera
    const Frame missed = render(s, away);
    for (float x : missed.rgba) ASSERT_EQ(x, 0.0f);
}

TEST_F(RaymarchRender, VolumeDensityZeroMakesEverySampleTransparent) {
    placeBlob(16.0f, 16.0f, 16.0f, 6.0f, 0.8f, 2800.0f);
    FrameSettings s = baseSettings();
    const Frame visible = render(s, view());
    ASSERT_GT(visible.coverage(kW / 2, kH / 2), 0.1f);
    ASSERT_GT(visible.pixel(kW / 2, kH / 2)[0], 0.1f);

    s.volumeDensity = 0.0f;
    const Frame f = render(s, view());
    for (float x : f.rgba) ASSERT_EQ(x, 0.0f);
}

TEST_F(RaymarchRender, HotBlobRendersWarmWhereItProjects) {
    // Off centre, on the middle slab, so its image lies at (gx, gy)·(W, H)/N = (7.5, 10) pixels.
    placeBlob(10.0f, 20.0f, 16.0f, 4.0f, 0.5f, 2500.0f);
    FrameSettings s = baseSettings();
    s.intensity = 0.1f;  // keep the fire below the tone curve's shoulder, where hues survive
    const Frame f = render(s, view());
    const float* p = f.pixel(7, 10);
    EXPECT_GT(p[3], 0.1f);
    EXPECT_GE(p[0], p[1]);
    EXPECT_GE(p[1], p[2]);
    EXPECT_GT(p[0], p[2] + 0.1f) << "2500 K fire is clearly red-orange";
    // The mirror image (the wrong axis direction) and a far corner see nothing.
    EXPECT_EQ(f.coverage(kW - 1 - 7, kH - 1 - 10), 0.0f);
    EXPECT_EQ(f.coverage(kW - 2, 1), 0.0f);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(f.pixel(kW - 2, 1)[c], 0.0f);
}

// Reference transmittance through a uniform extinction `sigmaPerCell` for the pixel's single ray,
// in double: the samples the kernel takes inside [0, N - 1]³, each removing exp(-sigma·step).
double uniformTransmittance(const RaymarchView& v, int N, int W, int H, int x, int y, int samples, double sigmaPerCell,
                            double* margin) {
    const double compX = (x + 0.5) / W * v.compW, compY = (y + 0.5) / H * v.compH;
    const double u = (compX - 0.5 * v.compW) / v.camZoom, w = (compY - 0.5 * v.compH) / v.camZoom;
    double d[3];
    for (int a = 0; a < 3; ++a) d[a] = u * v.camRight[a] + w * v.camUp[a] + v.camFwd[a];
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double& c : d) c /= len;
    const double factor[3] = {v.gridFactorX, v.gridFactorY, v.gridFactorZ};
    const double offset[3] = {v.gridOffsetXY, v.gridOffsetXY, 0.5 * N};
    double tNear = -1e30, tFar = 1e30;
    for (int a = 0; a < 3; ++a) {
        const double lo = (0.0 - offset[a]) / factor[a], hi = (N - offset[a]) / factor[a];
        const double t0 = (lo - v.camPos[a]) / d[a], t1 = (hi - v.camPos[a]) / d[a];
        tNear = std::max(tNear, std::min(t0, t1));
        tFar = std::min(tFar, std::max(t0, t1));
    }
    tNear = std::max(tNear, 0.0);
    const double step = (tFar - tNear) / samples;
    const double f = 0.06711056 * x + 0.00583715 * y;
    const double j = 52.9829189 * (f - std::floor(f));
    const double jitter = j - std::floor(j);
    double T = 1.0;
    *margin = 1e30;
    for (int i = 0; i < samples; ++i) {
        const double t = tNear + (jitter + i) * step;
        bool inside = true;
        for (int a = 0; a < 3; ++a) {
            const double g = (v.camPos[a] + d[a] * t) * factor[a] + offset[a];
            *margin = std::min({*margin, std::fabs(g), std::fabs(g - (N - 1))});
            inside = inside && g >= 0.0 && g <= N - 1;
        }
        if (inside) T *= std::exp(-sigmaPerCell * step * v.gridFactorX);
    }
    return T;
}

TEST_F(RaymarchRender, UniformMediumTransmitsExpOfMinusSigmaTimesLength) {
    // Cold smoke at full smoke density: no fire mask, no edge fade, so sigma = density per cell.
    const float d = 0.04f;
    setFields(std::vector<float>(cells(), d), std::vector<float>(cells(), 0.0f));
    FrameSettings s = baseSettings();
    s.burnCutoffCenter = 0.5f;
    s.burnCutoffWidth = 0.2f;

    RaymarchView outside = view();
    outside.sampleCount = 64;
    // The same medium seen from inside the box: the march starts at the camera.
    RaymarchView inside = outside;
    inside.camPos[2] = 0.0f;

    for (const RaymarchView& v : {outside, inside}) {
        SCOPED_TRACE(v.camPos[2] == 0.0f ? "camera inside the box" : "camera outside the box");
        const Frame f = render(s, v);
        int checked = 0;
        for (auto [x, y] : {std::pair{12, 8}, std::pair{11, 7}, std::pair{5, 3}, std::pair{20, 13}}) {
            double margin = 0.0;
            const double T = uniformTransmittance(v, N(), kW, kH, x, y, v.sampleCount, d, &margin);
            if (margin < kBoundaryMargin) continue;  // a sample on the edge: either count is right
            ++checked;
            EXPECT_NEAR(1.0 - f.coverage(x, y), T, kTransmittanceTolerance) << "pixel " << x << ", " << y;
            // And it is the Beer-Lambert law over the chord the samples cover.
            EXPECT_GT(T, 0.05);
            EXPECT_LT(T, 0.9);
        }
        EXPECT_GE(checked, 3);
    }
    // Half the depth from inside: the transmittances differ as exp(-sigma·16 cells) roughly does.
    const Frame fo = render(s, outside), fi = render(s, inside);
    const double ratio = std::log(1.0 - fi.coverage(12, 8)) / std::log(1.0 - fo.coverage(12, 8));
    EXPECT_NEAR(ratio, 15.0 / 31.0, 0.03);
}

TEST_F(RaymarchRender, MacrocellsChangeNothingWhenNoBlockIsEmpty) {
    std::vector<float> dens(cells(), 0.03f), temp(cells(), 0.0f);
    for (int z = 0; z < N(); ++z)
        for (int y = 0; y < N(); ++y)
            for (int x = 0; x < N(); ++x) {
                const float r2 = static_cast<float>((x - 14) * (x - 14) + (y - 18) * (y - 18) + (z - 15) * (z - 15));
                if (r2 < 36.0f) {
                    dens[idx(x, y, z)] = 0.4f;
                    temp[idx(x, y, z)] = 2400.0f - 30.0f * r2;
                }
            }
    setFields(dens, temp);
    for (float m : blockMaxima(8)) ASSERT_GE(m, 0.03f);

    RaymarchView v = view();
    v.ssaaCount = 2;
    const Frame with = render(baseSettings(), v, Skipping::Macrocells);
    const Frame without = render(baseSettings(), v, Skipping::None);
    ASSERT_GT(with.maxCoverage(), 0.3f);
    ASSERT_EQ(with.rgba.size(), without.rgba.size());
    EXPECT_EQ(std::memcmp(with.rgba.data(), without.rgba.data(), with.rgba.size() * sizeof(float)), 0);
}

// Content only in the middle two cells of each 4-cell block side, in two clusters of level-0
// blocks: one inside level-1 block (0, 0, 0), one inside (1, 1, 1) right behind the face of the
// empty level-1 block (1, 1, 0) that the rays cross first; every other block is empty. Trilinear
// reads reach one cell from a cell centre, so a sample within half a cell of a block face reads
// nothing; skips in front of a block stop within half a cell of it (300 samples over a chord of
// 32 to 34 cells: 4 samples are at most 0.46 cells), so they pass over nothing a full march would
// see, and a skip that overshot by more would eat into the content. (A sample count that divides
// the 32-cell chord into a power of two would line the samples up with the block faces, and then
// even a wrong skip length could land exactly on them.)
class RaymarchSkipping : public RaymarchRender {
protected:
    void SetUp() override {
        RaymarchRender::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::vector<float> dens(cells(), 0.0f), temp(cells(), 0.0f);
        auto inCluster = [](int bx, int by, int bz) {
            const bool first = bx >= 1 && bx <= 2 && by >= 1 && by <= 3 && bz >= 1 && bz <= 2;
            const bool second = bx == 5 && by == 6 && bz == 4;
            return first || second;
        };
        for (int z = 0; z < N(); ++z)
            for (int y = 0; y < N(); ++y)
                for (int x = 0; x < N(); ++x) {
                    const bool middle =
                        (x % 4 == 1 || x % 4 == 2) && (y % 4 == 1 || y % 4 == 2) && (z % 4 == 1 || z % 4 == 2);
                    if (!middle || !inCluster(x / 4, y / 4, z / 4)) continue;
                    dens[idx(x, y, z)] = 0.5f + 0.3f * std::sin(0.7f * x + 0.3f * y + 0.5f * z);
                    temp[idx(x, y, z)] = 1500.0f + 40.0f * static_cast<float>((x + 2 * y + z) % 20);
                }
        setFields(dens, temp);
    }

    RaymarchView marchView() const {
        RaymarchView v = view();
        v.sampleCount = 300;
        return v;
    }

    // Brightest pixel of the first cluster's image (the top-left quadrant) or of the second's
    // (the bottom-right one).
    static std::pair<int, int> brightestIn(const Frame& f, int x0, int y0, int x1, int y1) {
        std::pair<int, int> best{x0, y0};
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (f.coverage(x, y) > f.coverage(best.first, best.second)) best = {x, y};
        return best;
    }
    static std::pair<int, int> firstClusterPixel(const Frame& f) { return brightestIn(f, 0, 0, kW / 2, kH / 2); }
    static std::pair<int, int> secondClusterPixel(const Frame& f) { return brightestIn(f, kW / 2, kH / 2, kW, kH); }
};

TEST_F(RaymarchSkipping, SkippingEmptyBlocksChangesNothing) {
    const FrameSettings s = baseSettings();
    const Frame skipped = render(s, marchView(), Skipping::Macrocells);
    const Frame full = render(s, marchView(), Skipping::None);
    ASSERT_GT(skipped.maxCoverage(), 0.2f);
    const auto [bx, by] = firstClusterPixel(skipped);
    ASSERT_GT(skipped.coverage(bx, by), 0.2f) << "the first cluster must be visible";
    const auto [sx, sy] = secondClusterPixel(skipped);
    ASSERT_GT(skipped.coverage(sx, sy), 0.05f) << "the second cluster must be visible";
    float largest = 0.0f;
    for (size_t i = 0; i < full.rgba.size(); ++i)
        largest = std::max(largest, std::fabs(skipped.rgba[i] - full.rgba[i]));
    EXPECT_LE(largest, kSameArithmetic);
}

TEST_F(RaymarchSkipping, BlocksMarkedEmptyAreSkippedAtBothLevels) {
    const FrameSettings s = baseSettings();
    const Frame truth = render(s, marchView());
    const auto [px, py] = firstClusterPixel(truth);
    ASSERT_GT(truth.coverage(px, py), 0.2f);

    // Level 1 claims its block (0, 0, 0) empty: the whole first cluster disappears.
    std::vector<float> l1 = blockMaxima(2);
    l1[0] = 0.0f;
    write(rt().macrocells.maxL1, l1);
    const Frame withoutL1Block = render(s, marchView());
    EXPECT_EQ(withoutL1Block.coverage(px, py), 0.0f);
    const auto [sx, sy] = secondClusterPixel(truth);
    EXPECT_EQ(withoutL1Block.coverage(sx, sy), truth.coverage(sx, sy)) << "the second cluster is in another block";
    EXPECT_GT(truth.coverage(sx, sy), 0.05f);

    // Level 0 claims every block of the first cluster empty: the same.
    writeMacrocells();
    std::vector<float> l0 = blockMaxima(8);
    for (int bz = 0; bz < 4; ++bz)
        for (int by = 0; by < 4; ++by)
            for (int bx = 0; bx < 4; ++bx) l0[(static_cast<size_t>(bz) * 8 + by) * 8 + bx] = 0.0f;
    write(rt().macrocells.max, l0);
    const Frame withoutL0Blocks = render(s, marchView());
    EXPECT_EQ(withoutL0Blocks.coverage(px, py), 0.0f);

    // A block at exactly the threshold counts as occupied.
    l0 = blockMaxima(8);
    for (float& m : l0) m = m == 0.0f ? 0.0f : 0.0001f;
    write(rt().macrocells.max, l0);
    const Frame atThreshold = render(s, marchView());
    EXPECT_EQ(std::memcmp(atThreshold.rgba.data(), truth.rgba.data(), truth.rgba.size() * sizeof(float)), 0);
}

TEST_F(RaymarchRender, SameFrameTwiceGivesTheSameBytes) {
    placeBlob(15.0f, 17.0f, 16.0f, 7.0f, 0.6f, 2300.0f);
    FrameSettings s = baseSettings();
    s.detailNoise = 80.0f;  // the noise path too
    s.detailScale = 8.0f;
    s.fbmFlow = 0.6f;
    s.ambientStrength = 0.3f;
    s.fireLight = 0.5f;
    RaymarchView v = view();
    v.ssaaCount = 3;
    const Frame a = render(s, v);
    const Frame b = render(s, v);
    ASSERT_GT(a.maxCoverage(), 0.3f);
    EXPECT_EQ(std::memcmp(a.rgba.data(), b.rgba.data(), a.rgba.size() * sizeof(float)), 0);
}

TEST_F(RaymarchRender, VelocityIsWrittenOnlyWhenEnabledAndGiven) {
    placeBlob(16.0f, 16.0f, 16.0f, 6.0f, 0.5f, 2200.0f);
    std::vector<float> vel(cells() * 4, 0.0f);
    for (size_t c = 0; c < cells(); ++c) {
        vel[4 * c] = 1.5f;
        vel[4 * c + 1] = -0.75f;
        vel[4 * c + 2] = 0.3f;
    }
    write(grid().velocity, vel);
    const FrameSettings s = baseSettings();
    RaymarchView v = view();
    v.velCellToScreenX = static_cast<float>(kW) / N();
    v.velCellToScreenY = static_cast<float>(kH) / N();

    v.mbEnable = 1;
    const Frame on = render(s, v, Skipping::Macrocells, true);
    const size_t centre = (static_cast<size_t>(kH / 2) * kW + kW / 2) * 2;
    ASSERT_GT(on.coverage(kW / 2, kH / 2), 0.1f);
    EXPECT_NEAR(on.velocity[centre], 1.5 * kW / N(), kVelocityTolerance);
    EXPECT_NEAR(on.velocity[centre + 1], -0.75 * kH / N(), kVelocityTolerance);
    // Where nothing is seen the velocity is zero, not the prefill.
    EXPECT_EQ(on.velocity[0], 0.0f);
    EXPECT_EQ(on.velocity[1], 0.0f);

    v.mbEnable = 0;
    const Frame off = render(s, v, Skipping::Macrocells, true);
    for (float x : off.velocity) ASSERT_EQ(x, 7.0f) << "mbEnable 0 must leave the buffer alone";
    EXPECT_EQ(std::memcmp(off.rgba.data(), on.rgba.data(), on.rgba.size() * sizeof(float)), 0);

    v.mbEnable = 1;
    const Frame noBuffer = render(s, v, Skipping::Macrocells, false);
    EXPECT_EQ(std::memcmp(noBuffer.rgba.data(), on.rgba.data(), on.rgba.size() * sizeof(float)), 0);
}

}  // namespace
