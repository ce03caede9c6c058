// FrameSettings from the parameters: conversions and their edge cases, fallbacks on failed or
// unusable checkouts, the burn-progress history, and the simulation key against a digest computed
// here from the field list, byte by byte.
#include "frame/frame_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>

#include "fake_params.h"
#include "frame/digest.h"
#include "params/param_index.h"
#include "params/param_list.h"

namespace cindel {
namespace {

using test::FakeHost;

// 136 registered, less 34 group markers, the two layers, Source Position, Light Cast and the four
// Ember parameters.
constexpr int kReadByTheSnapshot = 94;

std::unique_ptr<FrameSettings> readAll(FakeHost& host, int burnFrames = 1) {
    auto fs = std::make_unique<FrameSettings>();
    resetFrameSettings(*fs);
    readPositionParams(&host.in, *fs);
    readRemainingParams(&host.in, burnFrames, *fs);
    return fs;
}

TEST(FrameSettingsRead, DetailOctavesTruncatesThenClampsToOneToSix) {
    const std::pair<double, int> cases[] = {{0.4, 1}, {9.0, 6}, {3.7, 3}, {-2.0, 1}, {6.0, 6}};
    for (auto [value, expected] : cases) {
        FakeHost host;
        host.setFloat(kParamDetailOctaves, value);
        EXPECT_EQ(readAll(host)->detailOctaves, expected) << "Detail Octaves " << value;
    }
}

TEST(FrameSettingsRead, RandomSeedTruncatesTowardZeroAndSaturates) {
    const std::pair<double, int32_t> cases[] = {{7.9, 7},        {-0.5, 0},        {-7.9, -7},
                                                {1e12, INT_MAX}, {-1e12, INT_MIN}, {9999.0, 9999}};
    for (auto [value, expected] : cases) {
        FakeHost host;
        host.setFloat(kParamRandomSeed, value);
        EXPECT_EQ(readAll(host)->randomSeed, expected) << "Random Seed " << value;
    }
}

TEST(FrameSettingsRead, NonFiniteIntegerSlidersKeepTheirFallback) {
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        FakeHost host;
        host.setFloat(kParamDetailOctaves, bad);
        host.setFloat(kParamHeatComplexity, bad);
        host.setFloat(kParamRandomSeed, bad);
        const auto fs = readAll(host);
        EXPECT_EQ(fs->detailOctaves, 3);
        EXPECT_EQ(fs->heatComplexity, 3);
        EXPECT_EQ(fs->randomSeed, 0);
    }
}

TEST(FrameSettingsRead, NonFiniteOrOutOfRangeFloatSlidersKeepTheirFallback) {
    FakeHost host;
    host.setFloat(kParamEmitterRadius, std::nan(""));
    host.setFloat(kParamSpeed, std::numeric_limits<double>::infinity());
    host.setFloat(kParamSourceSizeZ, 1e300);  // finite, but no float holds it
    host.setFloat(kParamOpacity, std::nan(""));
    host.setFloat(kParamDrag, std::nan(""));
    host.setFloat(kParamSourceSizeX, 2.5);  // a good value next to them is still read
    const auto fs = readAll(host);
    EXPECT_EQ(fs->emitterRadius, 12.0f);
    EXPECT_EQ(fs->speed, 1.0f);
    EXPECT_EQ(fs->sourceSizeZ, 12.0f);
    EXPECT_EQ(fs->opacity, 1.0f);
    EXPECT_EQ(fs->drag, 0.985f);
    EXPECT_EQ(fs->sourceSizeX, 2.5f);
}

TEST(FrameSettingsRead, AnglesAndDegreesBecomeRadians) {
    FakeHost host;
    host.setFloat(kParamBurnDirection, 90.0);
    host.setAngle(kParamHueShift, 180 * 65536);
    host.setAngle(kParamHeatEvolution, -90 * 65536 - 32768);  // -90.5 degrees in 16.16
    const auto fs = readAll(host);
    EXPECT_FLOAT_EQ(fs->burnDirection, float(std::numbers::pi / 2));
    EXPECT_FLOAT_EQ(fs->hueShift, float(std::numbers::pi));
    EXPECT_FLOAT_EQ(fs->heatEvolution, float(-90.5 * std::numbers::pi / 180));
}

TEST(FrameSettingsRead, DragBecomesAPerStepKeepFactor) {
    const std::pair<double, float> cases[] = {{0.0, 1.0f}, {100.0, 0.95f}, {30.0, 0.985f}, {50.0, 0.975f}};
    for (auto [value, expected] : cases) {
        FakeHost host;
        host.setFloat(kParamDrag, value);
        EXPECT_FLOAT_EQ(readAll(host)->drag, expected) << "Drag " << value;
    }
}

TEST(FrameSettingsRead, PercentSlidersBecomeFractions) {
    FakeHost host;
    host.setFloat(kParamOpacity, 50.0);
    host.setFloat(kParamLifeSoftness, 25.0);
    host.setFloat(kParamVolumeDensity, 250.0);
    host.setFloat(kParamSaturation, 200.0);
    host.setFloat(kParamBurnProgress, 40.0);
    host.setFloat(kParamSparkBoost, 400.0);
    host.setFloat(kParamFlameTear, 12.0);
    host.setFloat(kParamHeatRise, 70.0);
    const auto fs = readAll(host);
    EXPECT_FLOAT_EQ(fs->opacity, 0.5f);
    EXPECT_FLOAT_EQ(fs->lifeSoftness, 0.25f);
    EXPECT_FLOAT_EQ(fs->volumeDensity, 2.5f);
    EXPECT_FLOAT_EQ(fs->saturation, 2.0f);
    EXPECT_FLOAT_EQ(fs->burnProgress, 0.4f);
    EXPECT_FLOAT_EQ(fs->sparkBoost, 4.0f);
    EXPECT_FLOAT_EQ(fs->flameTear, 0.12f);
    EXPECT_FLOAT_EQ(fs->heatRise, 0.7f);
}

TEST(FrameSettingsRead, RawSlidersPassThrough) {
    FakeHost host;
    host.setFloat(kParamSourceTemperature, 4200.0);
    host.setFloat(kParamGravity, -150.0);
    host.setFloat(kParamScatterAnisotropy, -0.9);
    host.setFloat(kParamShutterAngle, 720.0);
    const auto fs = readAll(host);
    EXPECT_EQ(fs->sourceTemperature, 4200.0f);
    EXPECT_EQ(fs->gravity, -150.0f);
    EXPECT_EQ(fs->scatterAnisotropy, -0.9f);
    EXPECT_EQ(fs->shutterAngle, 720.0f);
}

// The fallback is what the consumers expect after a failed read; several differ from the value the
// parameter is registered with, and reading the registered default would be a real fault.
TEST(FrameSettingsRead, FailedCheckoutsKeepTheFallbackNotTheRegisteredDefault) {
    FakeHost host;  // answers nothing
    const auto fs = readAll(host);
    struct Case {
        int index;
        double field;
        double fallback;
    };
    const Case cases[] = {
        {kParamSourceTemperature, fs->sourceTemperature, 3000},
        {kParamFuelAmount, fs->fuelAmount, 100},
        {kParamPatternType, double(fs->patternType), 2},
        {kParamMaskThreshold, fs->maskThreshold, 0},
        {kParamBurnThreshold, fs->burnThreshold, 400},
        {kParamSmokeOutput, fs->smokeOutput, 0.15f},
        {kParamIntensity, fs->intensity, 1},
        {kParamMinColorTemp, fs->minColorTemp, 300},
        {kParamSmokeDensity, fs->smokeDensity, 60},
        {kParamDetailNoise, fs->detailNoise, 40},
        {kParamDetailScale, fs->detailScale, 5},
        {kParamDetailOctaves, double(fs->detailOctaves), 3},
        {kParamQuality, double(fs->quality), 2},
        {kParamDensityContrast, fs->densityContrast, 1},
        {kParamEdgeSampling, double(fs->edgeSampling), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.field, c.fallback) << "index " << c.index;
        const ParamEntry* spec = paramEntry(c.index);
        ASSERT_NE(spec, nullptr);
        EXPECT_NE(spec->defaultValue, c.fallback) << "index " << c.index << ": the case would not tell them apart";
    }
    // Fractions whose registered percentage would convert to something else.
    EXPECT_EQ(fs->drag, 0.985f);         // registered 20 % would give 0.99
    EXPECT_EQ(fs->bloom, 0.0f);          // registered 10 %
    EXPECT_EQ(fs->selfShadow, 0.0f);     // registered 20 %
    EXPECT_EQ(fs->fireLight, 0.3f);      // registered 50 %
    EXPECT_EQ(fs->blendStrength, 0.0f);  // registered 10 %
    EXPECT_EQ(fs->burnWidth, 0.2f);
    EXPECT_EQ(fs->burnNoise, 0.4f);
    EXPECT_EQ(fs->sparkBoost, 4.0f);
    EXPECT_EQ(fs->heatScale, 0.5f);
    EXPECT_EQ(fs->saturation, 1.0f);
    EXPECT_EQ(fs->opacity, 1.0f);
    EXPECT_EQ(fs->preset, 1);
    EXPECT_EQ(fs->lightSource, 1);
    EXPECT_EQ(fs->pathEmitter, 0);
    EXPECT_EQ(fs->voxelSize, 3);
    EXPECT_EQ(fs->simMode, 5);
    EXPECT_EQ(fs->debugView, 1);
    EXPECT_EQ(fs->keyLight, 1);
    EXPECT_EQ(fs->colorMode, 1);
    EXPECT_EQ(fs->colorPreset, 1);
    EXPECT_EQ(fs->blendMode, 1);
    EXPECT_FLOAT_EQ(fs->source.g, 0.9f);
    EXPECT_FLOAT_EQ(fs->mid.g, 0.35f);
    EXPECT_FLOAT_EQ(fs->tailCool.r, 0.35f);
    EXPECT_FLOAT_EQ(fs->scatterColor.r, 25.0f / 255.0f);
    EXPECT_FLOAT_EQ(fs->ambientColor.b, 0.51f);
    EXPECT_EQ(fs->colorTint.r, 1.0f);
    EXPECT_EQ(host.totalCheckouts(), kReadByTheSnapshot);
    EXPECT_EQ(host.checkins(), 0);
}

// Parameters the snapshot does not read from the host here: Source Position has its own reader
// (current time and history), Light Cast and the Ember parameters are fixed values.
bool isReadByTheSnapshot(const ParamEntry& spec) {
    switch (spec.kind) {
        case ParamKind::kGroupStart:
        case ParamKind::kGroupEnd:
        case ParamKind::kLayer:
        case ParamKind::kPoint3D:
            return false;
        default:
            break;
    }
    return spec.index != kParamLightCast && (spec.index < kParamEmberAmount || spec.index > kParamEmberDecay);
}

TEST(FrameSettingsRead, EveryOtherParameterIsReadOnceAtTheCurrentTimeAndCheckedIn) {
    FakeHost host;
    host.in.current_time = 1234;
    host.in.time_step = 100;
    host.in.time_scale = 3000;
    host.answerEverything();
    const auto fs = readAll(host);
    int expectedReads = 0;
    for (const ParamEntry& spec : paramEntries()) {
        const int expected = isReadByTheSnapshot(spec) ? 1 : 0;
        expectedReads += expected;
        EXPECT_EQ(host.checkouts(spec.index), expected) << "index " << spec.index << " " << spec.name;
    }
    EXPECT_EQ(expectedReads, kReadByTheSnapshot);
    EXPECT_EQ(host.successfulCheckouts(), expectedReads);
    EXPECT_EQ(host.checkins(), host.successfulCheckouts());
    for (const auto& c : host.checkoutLog()) {
        EXPECT_EQ(c.time, 1234) << "index " << c.index;
        EXPECT_EQ(c.step, 100);
        EXPECT_EQ(c.scale, 3000u);
    }
}

TEST(FrameSettingsRead, PopupsOutsideTheirChoicesKeepTheFallback) {
    struct Case {
        int index;
        A_long value;
        int32_t FrameSettings::*field;
        int32_t expected;
    };
    const Case cases[] = {
        {kParamQuality, 0, &FrameSettings::quality, 2},
        {kParamQuality, 5, &FrameSettings::quality, 2},
        {kParamQuality, -3, &FrameSettings::quality, 2},
        {kParamQuality, 4, &FrameSettings::quality, 4},
        {kParamPreset, 17, &FrameSettings::preset, 1},
        {kParamPreset, 16, &FrameSettings::preset, 16},
        {kParamMotionBlur, 3, &FrameSettings::motionBlur, 2},
        {kParamMotionBlur, 4, &FrameSettings::motionBlur, 0},
        {kParamPathEmitter, 2, &FrameSettings::pathEmitter, 1},
        {kParamPathEmitter, 3, &FrameSettings::pathEmitter, 0},
        {kParamBurnMode, 5, &FrameSettings::burnMode, 4},
        {kParamBurnMode, 6, &FrameSettings::burnMode, 0},
        {kParamBurnMode, 0, &FrameSettings::burnMode, 0},
        {kParamLightSource, 6, &FrameSettings::lightSource, 6},
        {kParamLightSource, 7, &FrameSettings::lightSource, 1},
        {kParamVoxelSize, INT_MAX, &FrameSettings::voxelSize, 3},
        {kParamSimMode, INT_MIN, &FrameSettings::simMode, 5},
        {kParamDebugView, 3, &FrameSettings::debugView, 3},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.setPopup(c.index, c.value);
        EXPECT_EQ(readAll(host).get()->*c.field, c.expected) << "index " << c.index << " value " << c.value;
    }
}

TEST(FrameSettingsRead, ColoursBecomeFractionsOf255) {
    FakeHost host;
    host.setColor(kParamSource, 255, 0, 51);
    host.setColor(kParamColorTint, 128, 64, 32);
    const auto fs = readAll(host);
    EXPECT_FLOAT_EQ(fs->source.r, 1.0f);
    EXPECT_FLOAT_EQ(fs->source.g, 0.0f);
    EXPECT_FLOAT_EQ(fs->source.b, 0.2f);
    EXPECT_FLOAT_EQ(fs->colorTint.r, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(fs->colorTint.g, 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(fs->colorTint.b, 32.0f / 255.0f);
}

TEST(FrameSettingsRead, InvertIsOneForAnyCheckedValue) {
    const std::pair<A_long, int32_t> cases[] = {{0, 0}, {1, 1}, {256, 1}, {-1, 1}};
    for (auto [value, expected] : cases) {
        FakeHost host;
        host.setCheckbox(kParamInvert, value);
        EXPECT_EQ(readAll(host)->invert, expected) << value;
    }
}

TEST(FrameSettingsRead, MotionBlurScaleFollowsTheMode) {
    const std::pair<A_long, float> cases[] = {{1, 0.0f}, {2, 1.0f}, {3, 0.0f}};
    for (auto [popup, expected] : cases) {
        FakeHost host;
        host.in.shutter_angle = 1 << 15;  // 180°
        host.setPopup(kParamMotionBlur, popup);
        EXPECT_EQ(readAll(host)->motionBlurScale, expected) << "Motion Blur " << popup;
    }
}

TEST(FrameSettingsRead, FixedFieldsIgnoreTheirRegisteredParameters) {
    FakeHost host;
    host.setFloat(kParamLightCast, 80.0);
    host.setFloat(kParamEmberAmount, 50.0);
    host.setFloat(kParamEmberGlow, 100.0);
    host.setFloat(kParamEmberTemp, 3000.0);
    host.setFloat(kParamEmberDecay, 9.0);
    const auto fs = readAll(host);
    EXPECT_EQ(fs->lightCast, 0.0f);
    EXPECT_EQ(fs->emberAmount, 0.0f);
    EXPECT_EQ(fs->emberGlow, 0.0f);
    EXPECT_EQ(fs->emberTemp, 1500.0f);
    EXPECT_EQ(fs->emberDecay, 2.5f);
    EXPECT_EQ(fs->rimLight, 1);
    EXPECT_EQ(fs->rimActive, 0);
    EXPECT_EQ(fs->rimStrength, 0.0f);
    EXPECT_EQ(fs->rimColorG, 1.0f);
    EXPECT_EQ(fs->rimIntensity, 1.0f);
    EXPECT_EQ(fs->keyActive, 0);
    EXPECT_EQ(fs->keyColorB, 1.0f);
    EXPECT_EQ(fs->keyIntensity, 1.0f);
    EXPECT_EQ(fs->cameraValid, 0);
    EXPECT_EQ(fs->layerInvScX, 1.0f);
    EXPECT_EQ(fs->emissionBoxX0, -1);
}

TEST(FrameSettingsRead, SourcePositionIsScaledToFullResolution) {
    FakeHost host;
    host.in.downsample_x = {1, 2};
    host.in.downsample_y = {1, 4};
    host.setPoint3D(kParamSourcePosition, 10.0, 20.0, 5.0);
    FrameSettings fs;
    resetFrameSettings(fs);
    readSourcePosition(&host.in, downsampleScale(host.in.downsample_x), downsampleScale(host.in.downsample_y), fs);
    EXPECT_EQ(fs.sourcePosition.x, 20.0f);
    EXPECT_EQ(fs.sourcePosition.y, 80.0f);
    EXPECT_EQ(fs.sourcePosition.z, 10.0f);  // z shares the x factor
    EXPECT_EQ(host.checkins(), 1);
}

TEST(FrameSettingsRead, UnusableSourcePositionStaysAtTheOrigin) {
    FakeHost host;
    host.setPoint3D(kParamSourcePosition, 10.0, std::nan(""), 5.0);
    FrameSettings fs;
    resetFrameSettings(fs);
    fs.sourcePosition = {7.0f, 7.0f, 7.0f};
    readSourcePosition(&host.in, 1.0f, 1.0f, fs);
    EXPECT_EQ(fs.sourcePosition.x, 0.0f);
    EXPECT_EQ(fs.sourcePosition.y, 0.0f);
    EXPECT_EQ(fs.sourcePosition.z, 0.0f);
}

TEST(FrameSettingsRead, DownsampleScaleToleratesDegenerateRatios) {
    EXPECT_EQ(downsampleScale({1, 1}), 1.0f);
    EXPECT_EQ(downsampleScale({1, 3}), 3.0f);
    EXPECT_EQ(downsampleScale({0, 2}), 1.0f);
    EXPECT_EQ(downsampleScale({-1, 2}), 1.0f);
    EXPECT_EQ(downsampleScale({2, 0}), 1.0f);
}

TEST(FrameSettingsBurnCurve, SamplesEveryFrameAndRepeatsAFailedOne) {
    FakeHost host;
    host.in.time_step = 100;
    host.in.time_scale = 3000;
    host.in.current_time = 400;
    host.setPopup(kParamBurnMode, 2);  // Linear
    host.set(kParamBurnProgress, [](A_long time, PF_ParamDef& d) {
        if (time == 300) return false;
        d.u.fs_d.value = time / 10.0 + 5.0;  // frame i: 10 i + 5 percent
        return true;
    });
    const auto fs = readAll(host, 5);
    ASSERT_EQ(fs->burnCurveCount, 5);
    EXPECT_FLOAT_EQ(fs->burnCurve[0], 0.05f);
    EXPECT_FLOAT_EQ(fs->burnCurve[1], 0.15f);
    EXPECT_FLOAT_EQ(fs->burnCurve[2], 0.25f);
    EXPECT_FLOAT_EQ(fs->burnCurve[3], 0.25f);  // failed: repeats frame 2
    EXPECT_FLOAT_EQ(fs->burnCurve[4], 0.45f);
    EXPECT_EQ(fs->burnCurve[5], 0.0f);
    // One read at the current time for burnProgress, then frames 0 ... 4 at i x time_step.
    const std::vector<A_long> expected = {400, 0, 100, 200, 300, 400};
    EXPECT_EQ(host.checkoutTimes(kParamBurnProgress), expected);
}

TEST(FrameSettingsBurnCurve, FirstFrameFailingStartsAtZero) {
    FakeHost host;
    host.setPopup(kParamBurnMode, 3);
    host.set(kParamBurnProgress, [](A_long time, PF_ParamDef& d) {
        d.u.fs_d.value = 50.0;
        return time != 0;
    });
    host.in.current_time = 2;
    const auto fs = readAll(host, 3);
    ASSERT_EQ(fs->burnCurveCount, 3);
    EXPECT_EQ(fs->burnCurve[0], 0.0f);
    EXPECT_EQ(fs->burnCurve[1], 0.5f);
}

TEST(FrameSettingsBurnCurve, NoCurveWithoutABurnMode) {
    FakeHost host;
    host.setPopup(kParamBurnMode, 1);  // None
    host.setFloat(kParamBurnProgress, 30.0);
    const auto fs = readAll(host, 50);
    EXPECT_EQ(fs->burnCurveCount, 0);
    EXPECT_EQ(fs->burnCurve[0], 0.0f);
    EXPECT_EQ(host.checkouts(kParamBurnProgress), 1);
}

TEST(FrameSettingsBurnCurve, CountIsClampedToTheTable) {
    FakeHost host;
    host.setPopup(kParamBurnMode, 2);
    host.setFloat(kParamBurnProgress, 30.0);
    EXPECT_EQ(readAll(host, 100000)->burnCurveCount, kMaxHistoryFrames);
    EXPECT_EQ(readAll(host, 0)->burnCurveCount, 1);
    EXPECT_EQ(readAll(host, -5)->burnCurveCount, 1);
}

// ---------------------------------------------------------------------------------------------
// Simulation key.

TEST(SimulationKey, ReferenceDigestsMatchPublishedValues) {
    // FNV-1a of the single byte 'a', as published with the algorithm.
    EXPECT_EQ(test::referenceFnv32(kFnv32Basis, {'a'}), 0xe40c292cu);
    EXPECT_EQ(test::referenceFnv64({'a'}), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a32Byte(kFnv32Basis, 'a'), 0xe40c292cu);
    EXPECT_EQ(fnv1a64Byte(kFnv64Basis, 'a'), 0xaf63dc4c8601ec8cull);
    // Multi-byte helpers feed the least significant byte first.
    EXPECT_EQ(fnv1a32U32(kFnv32Basis, 0x04030201u), test::referenceFnv32(kFnv32Basis, {1, 2, 3, 4}));
    EXPECT_EQ(fnv1a64U64(kFnv64Basis, 0x0807060504030201ull), test::referenceFnv64({1, 2, 3, 4, 5, 6, 7, 8}));
}

// Every key field gets a distinct value, so a field missing, added or out of order changes the
// digest; the reference is built here from the field list, independently of the implementation.
TEST(SimulationKey, DigestsTheKeyFieldsInOrderLeastSignificantByteFirst) {
    auto fs = std::make_unique<FrameSettings>();
    resetFrameSettings(*fs);
    float nextFloat = 1.25f;
    int32_t nextInt = 101;
    auto F = [&](float& field) { field = (nextFloat += 1.5f); };
    auto I = [&](int32_t& field) { field = (nextInt += 7); };
    auto U = [&](uint32_t& field) { field = uint32_t(nextInt += 1000003); };
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
    fs->instanceId = 0x0123456789abcdefull;
    I(fs->useLayerTransform), F(fs->layerPosX), F(fs->layerPosY), F(fs->layerInvScX), F(fs->layerInvScY);
    F(fs->layerAncX), F(fs->layerAncY), F(fs->flameAggression), F(fs->flameTear);

    std::vector<uint8_t> b;
    using test::appendLittleEndian;
    for (float v : {fs->emitterRadius, fs->sourceTemperature, fs->sourceSizeX, fs->sourceSizeY, fs->sourceSizeZ,
                    fs->fuelAmount, fs->life, fs->fade}) {
        appendLittleEndian(b, v);
    }
    appendLittleEndian(b, fs->patternType);
    for (float v : {fs->maskScale, fs->maskContrast, fs->maskThreshold}) appendLittleEndian(b, v);
    appendLittleEndian(b, fs->invert);
    for (float v : {fs->trail, fs->burnThreshold, fs->burnRate, fs->heatOutput, fs->smokeOutput, fs->heatDecay,
                    fs->smokeDecay, fs->buoyancy, fs->gravity, fs->drag, fs->windX, fs->windY, fs->windZ, fs->speed}) {
        appendLittleEndian(b, v);
    }
    appendLittleEndian(b, fs->randomSeed);
    for (float v : {fs->vorticity, fs->turbulence, fs->turbulenceScale, fs->turbulenceSpeed, fs->emberAmount,
                    fs->emberTemp, fs->emberDecay}) {
        appendLittleEndian(b, v);
    }
    for (int32_t v : {fs->voxelSize, fs->simMode, fs->pathEmitter, fs->lightSource, fs->sourceLayerPresent,
                      fs->lightTrackCount, fs->burnMode}) {
        appendLittleEndian(b, v);
    }
    for (float v : {fs->burnDirection, fs->burnWidth, fs->burnNoise, fs->sparkBoost, fs->burnProgress}) {
        appendLittleEndian(b, v);
    }
    for (int32_t v : {fs->customMapPresent, fs->customMapWidth, fs->customMapHeight}) appendLittleEndian(b, v);
    for (float v : {fs->fadeSoftness, fs->sourcePosition.x, fs->sourcePosition.y, fs->sourcePosition.z}) {
        appendLittleEndian(b, v);
    }
    for (uint32_t v : {fs->emissionHash, fs->customMapHash, fs->lightTrackHash, fs->trajectoryHash}) {
        appendLittleEndian(b, v);
    }
    appendLittleEndian(b, fs->instanceId);
    appendLittleEndian(b, fs->useLayerTransform);
    for (float v : {fs->layerPosX, fs->layerPosY, fs->layerInvScX, fs->layerInvScY, fs->layerAncX, fs->layerAncY,
                    fs->flameAggression, fs->flameTear}) {
        appendLittleEndian(b, v);
    }
    ASSERT_EQ(b.size(), 67u * 4u + 8u);  // 67 four-byte fields and the 8-byte instance id

    EXPECT_EQ(simulationKey(*fs), test::referenceFnv64(b));
}

TEST(SimulationKey, IgnoresWhatOnlyTheRendererReads) {
    FakeHost host;
    host.answerEverything();
    const auto base = readAll(host);
    const uint64_t key = simulationKey(*base);

    auto changed = [&](auto mutate) {
        auto fs = std::make_unique<FrameSettings>(*base);
        mutate(*fs);
        return simulationKey(*fs);
    };
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.source = {0.1f, 0.2f, 0.3f}; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.exposure = 2.0f; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.quality = 4; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.debugView = 2; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.lifeSoftness = 0.5f; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.opacity = 0.5f; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.emissionWidth = 99; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.trajectoryX[3] = 42.0f; }), key);  // its digest stands in
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.burnCurveCount = 7; }), key);
    EXPECT_EQ(changed([](FrameSettings& fs) { fs.cameraMatrix[5] = 3.0f; }), key);

    EXPECT_NE(changed([](FrameSettings& fs) { fs.speed = 1.5f; }), key);
    EXPECT_NE(changed([](FrameSettings& fs) { fs.voxelSize = 4; }), key);
    EXPECT_NE(changed([](FrameSettings& fs) { fs.sourcePosition.y += 1.0f; }), key);
    EXPECT_NE(changed([](FrameSettings& fs) { fs.instanceId += 1; }), key);
    EXPECT_NE(changed([](FrameSettings& fs) { fs.instanceId += uint64_t(1) << 40; }), key);  // high bytes too
    EXPECT_NE(changed([](FrameSettings& fs) { fs.trajectoryHash ^= 1; }), key);
    EXPECT_NE(changed([](FrameSettings& fs) { fs.flameTear = 0.3f; }), key);
}

TEST(SimulationKey, SpeedReadFromTheHostChangesIt) {
    FakeHost a, b;
    a.setFloat(kParamSpeed, 1.0);
    b.setFloat(kParamSpeed, 1.01);
    EXPECT_NE(simulationKey(*readAll(a)), simulationKey(*readAll(b)));
    FakeHost c, d;
    c.setColor(kParamMid, 10, 20, 30);
    d.setColor(kParamMid, 200, 20, 30);
    EXPECT_EQ(simulationKey(*readAll(c)), simulationKey(*readAll(d)));
}

}  // namespace
}  // namespace cindel
