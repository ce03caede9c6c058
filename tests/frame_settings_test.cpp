// FrameSettings from the parameters (conversions, fallbacks, burn history), host time to frames by
// hand, and the simulation key against a digest of the field list computed here.
#include "frame/frame_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <tuple>

#include "fake_params.h"
#include "frame/digest.h"
#include "frame/frame_timing.h"
#include "params/param_index.h"
#include "params/param_list.h"

namespace cindel {
namespace {

using test::FakeHost;
using Field = std::function<double(const FrameSettings&)>;

// 136 registered, less 34 group markers, two layers, Source Position, Light Cast, four Ember ones.
constexpr int kReadByTheSnapshot = 94;

std::unique_ptr<FrameSettings> readAll(FakeHost& host, int burnFrames = 1) {
    auto fs = std::make_unique<FrameSettings>();
    resetFrameSettings(*fs);
    readPositionParams(&host.in, *fs);
    readRemainingParams(&host.in, burnFrames, *fs);
    return fs;
}

#define FIELD(f) [](const FrameSettings& fs) { return double(fs.f); }

// One parameter set to one value; every other checkout fails.
TEST(FrameSettingsRead, ConvertsEachParameterAndFallsBackOnBadValues) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const double degree = std::numbers::pi / 180;
    struct Case {
        int index;
        char kind;  // f float slider, p popup, c checkbox, a angle in degrees
        double value;
        Field field;
        double expected;
    };
    const Case cases[] = {
        // Integer sliders truncate toward zero, then clamp or saturate; non-finite keeps the fallback.
        {kParamDetailOctaves, 'f', 0.4, FIELD(detailOctaves), 1},
        {kParamDetailOctaves, 'f', 3.7, FIELD(detailOctaves), 3},
        {kParamDetailOctaves, 'f', 9.0, FIELD(detailOctaves), 6},
        {kParamDetailOctaves, 'f', inf, FIELD(detailOctaves), 3}, {kParamRandomSeed, 'f', 7.9, FIELD(randomSeed), 7},
        {kParamRandomSeed, 'f', 1e12, FIELD(randomSeed), INT_MAX},
        {kParamRandomSeed, 'f', -1e12, FIELD(randomSeed), INT_MIN},
        // Float sliders: non-finite or beyond a float keeps the fallback.
        {kParamEmitterRadius, 'f', nan, FIELD(emitterRadius), 12}, {kParamSpeed, 'f', inf, FIELD(speed), 1},
        {kParamSourceSizeZ, 'f', 1e300, FIELD(sourceSizeZ), 12},
        {kParamSourceTemperature, 'f', 4200, FIELD(sourceTemperature), 4200},
        {kParamScatterAnisotropy, 'f', -0.9, FIELD(scatterAnisotropy), double(-0.9f)},
        // Drag becomes a per-step keep factor 1 - drag / 2000.
        {kParamDrag, 'f', 100, FIELD(drag), double(0.95f)}, {kParamDrag, 'f', nan, FIELD(drag), double(0.985f)},
        // Percentages become fractions.
        {kParamOpacity, 'f', 50, FIELD(opacity), 0.5}, {kParamVolumeDensity, 'f', 250, FIELD(volumeDensity), 2.5},
        {kParamBurnProgress, 'f', 40, FIELD(burnProgress), double(0.4f)},
        {kParamSparkBoost, 'f', 400, FIELD(sparkBoost), 4}, {kParamFlameTear, 'f', 12, FIELD(flameTear), double(0.12f)},
        // Degrees, from a slider or a 16.16 angle, become radians.
        {kParamBurnDirection, 'f', 90, FIELD(burnDirection), 90 * degree},
        {kParamHueShift, 'a', 180, FIELD(hueShift), std::numbers::pi},
        {kParamHeatEvolution, 'a', -90.5, FIELD(heatEvolution), -90.5 * degree},
        // Popups outside their choices keep the fallback; some map several choices to one mode.
        {kParamQuality, 'p', 0, FIELD(quality), 2}, {kParamQuality, 'p', 5, FIELD(quality), 2},
        {kParamPreset, 'p', 17, FIELD(preset), 1}, {kParamMotionBlur, 'p', 3, FIELD(motionBlur), 2},
        {kParamMotionBlur, 'p', 4, FIELD(motionBlur), 0}, {kParamPathEmitter, 'p', 2, FIELD(pathEmitter), 1},
        {kParamBurnMode, 'p', 5, FIELD(burnMode), 4}, {kParamBurnMode, 'p', 6, FIELD(burnMode), 0},
        {kParamLightSource, 'p', 6, FIELD(lightSource), 6}, {kParamLightSource, 'p', 7, FIELD(lightSource), 1},
        {kParamVoxelSize, 'p', INT_MAX, FIELD(voxelSize), 3}, {kParamSimMode, 'p', INT_MIN, FIELD(simMode), 5},
        {kParamInvert, 'c', 0, FIELD(invert), 0}, {kParamInvert, 'c', 256, FIELD(invert), 1},
        // Fixed values, whatever the registered parameter says.
        {kParamLightCast, 'f', 80, FIELD(lightCast), 0}, {kParamEmberTemp, 'f', 3000, FIELD(emberTemp), 1500},
        {kParamEmberDecay, 'f', 9, FIELD(emberDecay), 2.5},
    };
    for (const Case& c : cases) {
        FakeHost host;
        if (c.kind == 'f') host.setFloat(c.index, c.value);
        if (c.kind == 'p') host.setPopup(c.index, A_long(c.value));
        if (c.kind == 'c') host.setCheckbox(c.index, A_long(c.value));
        if (c.kind == 'a') host.setAngle(c.index, PF_Fixed(c.value * 65536));
        EXPECT_NEAR(c.field(*readAll(host)), c.expected, std::abs(c.expected) * 1e-7)
            << "parameter " << c.index << " set to " << c.value;
    }
    FakeHost host;
    host.setColor(kParamColorTint, 255, 64, 51);
    const auto fs = readAll(host);
    EXPECT_EQ(std::tuple(fs->colorTint.r, fs->colorTint.g, fs->colorTint.b),
              std::tuple(1.0f, float(64 / 255.0), float(51 / 255.0)));
}

// The fallback after a failed read is what the consumers expect; several differ from the value the
// parameter is registered with, and reading the registered default would be a real fault.
TEST(FrameSettingsRead, FailedCheckoutsKeepTheFallbackNotTheRegisteredDefault) {
    FakeHost host;  // answers nothing
    const auto fs = readAll(host);
    const std::tuple<int, double, double> cases[] = {
        {kParamSourceTemperature, fs->sourceTemperature, 3000}, {kParamFuelAmount, fs->fuelAmount, 100},
        {kParamPatternType, fs->patternType, 2}, {kParamBurnThreshold, fs->burnThreshold, 400},
        {kParamSmokeDensity, fs->smokeDensity, 60}, {kParamDetailNoise, fs->detailNoise, 40},
        {kParamQuality, fs->quality, 2}, {kParamEdgeSampling, fs->edgeSampling, 1}};
    for (auto [index, held, fallback] : cases) {
        EXPECT_EQ(held, fallback) << "index " << index;
        EXPECT_NE(paramEntry(index)->defaultValue, fallback) << "the case cannot tell them apart";
    }
    // Bloom is registered at 10 % and Fire Light at 50 %.
    EXPECT_EQ(std::tuple(fs->bloom, fs->fireLight, fs->smokeOutput, fs->mid.g, fs->ambientColor.b),
              std::tuple(0.0f, 0.3f, 0.15f, 0.35f, 0.51f));
    EXPECT_EQ(host.checkins(), 0);
}

TEST(FrameSettingsRead, EveryOtherParameterIsReadOnceAtTheCurrentTimeAndCheckedIn) {
    FakeHost host;
    std::tie(host.in.current_time, host.in.time_step, host.in.time_scale) = std::tuple(1234, 100, 3000u);
    host.answerEverything();
    readAll(host);
    EXPECT_EQ(host.totalCheckouts(), kReadByTheSnapshot);
    for (int index : {kParamSourcePosition, kParamLightCast, kParamEmberAmount, kParamEmberDecay, kParamSpeed})
        EXPECT_EQ(host.checkouts(index), index == kParamSpeed ? 1 : 0) << index;  // the rest are fixed or read apart
    EXPECT_EQ(host.checkins(), kReadByTheSnapshot);
    for (const auto& c : host.checkoutLog())
        EXPECT_EQ(std::tuple(c.time, c.step, c.scale), std::tuple(1234, 100, 3000u)) << c.index;
}

TEST(FrameSettingsRead, SourcePositionIsScaledToFullResolution) {
    FakeHost host;
    host.in.downsample_x = {1, 2};
    host.in.downsample_y = {1, 4};
    host.setPoint3D(kParamSourcePosition, 10.0, 20.0, 5.0);
    FrameSettings fs;
    resetFrameSettings(fs);
    readSourcePosition(&host.in, downsampleScale(host.in.downsample_x), downsampleScale(host.in.downsample_y), fs);
    EXPECT_EQ(std::tuple(fs.sourcePosition.x, fs.sourcePosition.y, fs.sourcePosition.z),
              std::tuple(20.0f, 80.0f, 10.0f));  // z shares the x factor
    EXPECT_EQ(host.checkins(), 1);
    // An unusable value leaves the origin.
    host.setPoint3D(kParamSourcePosition, 10.0, std::nan(""), 5.0);
    readSourcePosition(&host.in, 1.0f, 1.0f, fs);
    EXPECT_EQ(std::tuple(fs.sourcePosition.x, fs.sourcePosition.y, fs.sourcePosition.z), std::tuple(0.0f, 0.0f, 0.0f));
    for (auto [ratio, scale] : {std::pair{PF_RationalScale{1, 3}, 3.0f}, {PF_RationalScale{0, 2}, 1.0f},
                                {PF_RationalScale{-1, 2}, 1.0f}, {PF_RationalScale{2, 0}, 1.0f}}) {
        EXPECT_EQ(downsampleScale(ratio), scale) << ratio.num << "/" << ratio.den;
    }
}

TEST(FrameSettingsBurnCurve, SamplesEveryFrameAndRepeatsAFailedOne) {
    FakeHost host;
    std::tie(host.in.current_time, host.in.time_step, host.in.time_scale) = std::tuple(400, 100, 3000u);
    host.setPopup(kParamBurnMode, 2);  // Linear
    host.set(kParamBurnProgress, [](A_long time, PF_ParamDef& d) {
        d.u.fs_d.value = time / 10.0 + 5.0;  // frame i: 10 i + 5 percent
        return time != 300 && time != 0;
    });
    const auto fs = readAll(host, 5);
    ASSERT_EQ(fs->burnCurveCount, 5);
    const float expected[] = {0.0f, 0.15f, 0.25f, 0.25f, 0.45f, 0.0f};  // frame 0 failing starts at zero
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(fs->burnCurve[i], expected[i]) << i;
    // One read at the current time for burnProgress, then frames 0 ... 4 at i x time_step.
    EXPECT_EQ(host.checkoutTimes(kParamBurnProgress), (std::vector<A_long>{400, 0, 100, 200, 300, 400}));
    EXPECT_EQ(readAll(host, 100000)->burnCurveCount, kMaxHistoryFrames);
    EXPECT_EQ(readAll(host, -5)->burnCurveCount, 1);
    host.setPopup(kParamBurnMode, 1);  // None: no curve
    EXPECT_EQ(readAll(host, 50)->burnCurveCount, 0);
}

TEST(FrameTiming, FromHostTime) {
    struct Case {
        A_long time, step;
        A_u_long scale;
        int32_t count, target, simStep;
        float seconds;
    };
    const Case cases[] = {
        {0, 100, 3000, 1, 0, 100, 1 / 30.0f}, {249, 100, 3000, 3, 2, 100, 1 / 30.0f},
        {250, 100, 3000, 4, 3, 100, 1 / 30.0f},  // 2.5 + 0.5 rounds up to frame 3
        // No step: the tables count host units, the simulation steps a thirtieth of a second.
        {90, 0, 30, 91, 90, 1, 1 / 30.0f}, {250, 0, 3000, 251, 3, 100, 1 / 30.0f},
        // No scale, or a step under a microsecond: a sixtieth of a second.
        {10, 0, 0, 11, 10, 1, 1 / 60.0f}, {10, 5, 0, 3, 2, 5, 1 / 60.0f}, {10, 1, 4000000000u, 11, 10, 1, 1 / 60.0f},
        // The tables stop at 600 entries, the target does not.
        {59800, 100, 3000, 599, 598, 100, 1 / 30.0f}, {59900, 100, 3000, 600, 599, 100, 1 / 30.0f},
        {100000, 100, 3000, 600, 1000, 100, 1 / 30.0f},
        // Negative time is frame 0; a negative step is taken by its length; extremes saturate.
        {-1000, 100, 3000, 1, 0, 100, 1 / 30.0f}, {INT_MIN, 0, 30, 1, 0, 1, 1 / 30.0f},
        {500, -100, 3000, 6, 5, 100, 1 / 30.0f}, {INT_MAX, 1, 30, 600, INT_MAX, 1, 1 / 30.0f},
        {INT_MAX, INT_MIN, 30, 2, 1, INT_MAX, float(INT_MAX / 30.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.time << " step " << c.step << " scale " << c.scale);
        const FrameTiming t = frameTiming(c.time, c.step, c.scale);
        EXPECT_EQ(std::tuple(t.frameCount, t.targetFrame, t.simStep), std::tuple(c.count, c.target, c.simStep));
        EXPECT_FLOAT_EQ(t.frameDurationSeconds, c.seconds);
    }
    EXPECT_EQ(historyFrameTime(599, 100), 59900);
    EXPECT_EQ(historyFrameTime(3, -100), 300);
    EXPECT_EQ(historyFrameTime(599, INT_MAX), INT_MAX);
}

// hashTrajectory against FNV-1a over x, y, z of the 64 entries j (n - 1) / 63.
TEST(HashTrajectory, SamplesSixtyFourEntriesEvenly) {
    std::vector<float> x(600), y(600), z(600);
    for (int i = 0; i < 600; ++i) x[i] = 0.5f * i + 1.0f, y[i] = -3.25f * i, z[i] = 1000.0f + i;
    for (int n : {1, 64, 600}) {
        std::vector<uint8_t> bytes;
        for (int j = 0; j < 64; ++j) {
            const int i = j * (n - 1) / 63;
            for (float v : {x[i], y[i], z[i]}) test::appendLittleEndian(bytes, v);
        }
        EXPECT_EQ(hashTrajectory(12345u, x.data(), y.data(), z.data(), n), test::referenceFnv32(12345u, bytes)) << n;
    }
    const uint32_t h = hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 600);
    EXPECT_EQ(hashTrajectory(kFnv32Basis, x.data(), y.data(), z.data(), 5000), h);  // taken as 600
    for (int n : {0, -5}) EXPECT_EQ(hashTrajectory(99u, x.data(), y.data(), z.data(), n), 99u);
    EXPECT_EQ(hashTrajectory(99u, nullptr, y.data(), z.data(), 4), 99u);
}

// Every key field, in key order, gets a distinct value and its bytes least significant first, so a
// field missing, added or out of order changes the digest.
TEST(SimulationKey, DigestsTheKeyFieldsInOrder) {
    auto fs = std::make_unique<FrameSettings>();
    resetFrameSettings(*fs);
    std::vector<uint8_t> b;
    float nextFloat = 1.25f;
    int32_t nextInt = 101;
    auto F = [&](float& f) { test::appendLittleEndian(b, f = (nextFloat += 1.5f)); };
    auto I = [&](int32_t& f) { test::appendLittleEndian(b, f = (nextInt += 7)); };
    auto U = [&](uint32_t& f) { test::appendLittleEndian(b, f = uint32_t(nextInt += 1000003)); };
    F(fs->emitterRadius), F(fs->sourceTemperature), F(fs->sourceSizeX), F(fs->sourceSizeY), F(fs->sourceSizeZ);
    F(fs->fuelAmount), F(fs->life), F(fs->fade), I(fs->patternType), F(fs->maskScale), F(fs->maskContrast);
    F(fs->maskThreshold), I(fs->invert), F(fs->trail), F(fs->burnThreshold), F(fs->burnRate), F(fs->heatOutput);
    F(fs->smokeOutput), F(fs->heatDecay), F(fs->smokeDecay), F(fs->buoyancy), F(fs->gravity), F(fs->drag);
    F(fs->windX), F(fs->windY), F(fs->windZ), F(fs->speed), I(fs->randomSeed), F(fs->vorticity);
    F(fs->turbulence), F(fs->turbulenceScale), F(fs->turbulenceSpeed), F(fs->emberAmount), F(fs->emberTemp);
    F(fs->emberDecay), I(fs->voxelSize), I(fs->simMode), I(fs->pathEmitter), I(fs->lightSource);
    I(fs->sourceLayerPresent), I(fs->lightTrackCount), I(fs->burnMode), F(fs->burnDirection), F(fs->burnWidth);
    F(fs->burnNoise), F(fs->sparkBoost), F(fs->burnProgress), I(fs->customMapPresent), I(fs->customMapWidth);
    I(fs->customMapHeight), F(fs->fadeSoftness), F(fs->sourcePosition.x), F(fs->sourcePosition.y);
    F(fs->sourcePosition.z), U(fs->emissionHash), U(fs->customMapHash), U(fs->lightTrackHash);
    U(fs->trajectoryHash);
    test::appendLittleEndian(b, fs->instanceId = 0x0123456789abcdefull);
    I(fs->useLayerTransform), F(fs->layerPosX), F(fs->layerPosY), F(fs->layerInvScX), F(fs->layerInvScY);
    F(fs->layerAncX), F(fs->layerAncY), F(fs->flameAggression), F(fs->flameTear);
    ASSERT_EQ(b.size(), 67u * 4u + 8u);  // 67 four-byte fields and the 8-byte instance id
    EXPECT_EQ(simulationKey(*fs), test::referenceFnv64(b));
}

}  // namespace
}  // namespace cindel
