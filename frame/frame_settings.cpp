// Filling FrameSettings from the effect's parameters, and the simulation key.
//
// Every read follows one pattern: the fallback stands unless the host hands over a value the
// conversion can take. A fallback is not always the parameter's registered default: it is the value
// the consumers were tuned to expect when a read fails. Reads are checked in right after conversion,
// so no parameter stays checked out across the frame.
#include "frame/frame_settings.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "frame/camera_lights.h"
#include "frame/digest.h"
#include "frame/frame_timing.h"
#include "params/param_index.h"
#include "params/param_list.h"

namespace cindel {

namespace {

constexpr double kDegreesToRadians = std::numbers::pi / 180.0;
constexpr double kFixedOne = 65536.0;

// Checks `index` out at `time`, hands the definition to `convert` on success and checks it in.
// A host without a checkout callback is treated like one whose checkouts fail.
template <typename Convert>
void withParam(PF_InData* inData, int index, A_long time, Convert&& convert) {
    if (!inData || !inData->inter.checkout_param) return;
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    if (PF_CHECKOUT_PARAM(inData, index, time, inData->time_step, inData->time_scale, &def) != PF_Err_NONE) return;
    convert(def);
    if (inData->inter.checkin_param) PF_CHECKIN_PARAM(inData, &def);
}

template <typename Convert>
void withParamNow(PF_InData* inData, int index, Convert&& convert) {
    if (!inData) return;
    withParam(inData, index, inData->current_time, convert);
}

// Narrowing a double outside float range to float is undefined, and a NaN or infinity would spread
// through the whole grid within a few steps: such values keep the fallback.
bool toFloat(double v, float& out) {
    if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max())) return false;
    out = float(v);
    return true;
}

// A float slider, converted by `scale` (1 for raw, 0.01 for percent fractions).
float readSlider(PF_InData* inData, int index, float fallback, double scale = 1.0) {
    float value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        float converted;
        if (toFloat(def.u.fs_d.value * scale, converted)) value = converted;
    });
    return value;
}

// Percent sliders read as "divide by 100" in the tables; kept distinct from "times 0.01" so each
// field is converted exactly as written.
float readSliderDiv100(PF_InData* inData, int index, float fallback) {
    float value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        float converted;
        if (toFloat(def.u.fs_d.value / 100.0, converted)) value = converted;
    });
    return value;
}

// A float slider truncated toward zero into [lo, hi]. The clamp comes first because converting a
// double outside int range (an expression can push Random Seed anywhere) is undefined; since the
// bounds are integers, clamping before or after truncation gives the same result. NaN and infinity
// name no integer at all and keep the fallback.
int32_t readTruncated(PF_InData* inData, int index, int32_t fallback, double lo, double hi) {
    int32_t value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        const double v = def.u.fs_d.value;
        if (!std::isfinite(v)) return;
        value = int32_t(std::trunc(std::fmin(std::fmax(v, lo), hi)));
    });
    return value;
}

// A popup's 1-based choice. A value outside 1 ... the registered number of choices names no choice,
// and every consumer switches on these numbers, so it keeps the fallback.
int32_t readPopup(PF_InData* inData, int index, int32_t fallback) {
    int32_t value = fallback;
    const ParamEntry* spec = paramEntry(index);
    const int32_t choices = spec ? spec->numChoices : 0;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        const int32_t choice = def.u.pd.value;
        if (choice >= 1 && choice <= choices) value = choice;
    });
    return value;
}

// Popups stored as choice - 1 (0 = the first choice); the range check happens before the shift.
int32_t readPopupFromZero(PF_InData* inData, int index, int32_t fallback) {
    const int32_t choice = readPopup(inData, index, 0);
    return choice >= 1 ? choice - 1 : fallback;
}

int32_t readCheckbox(PF_InData* inData, int index, int32_t fallback) {
    int32_t value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) { value = def.u.bd.value != 0 ? 1 : 0; });
    return value;
}

ColorRgbF readColor(PF_InData* inData, int index, ColorRgbF fallback) {
    ColorRgbF value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        const PF_Pixel& p = def.u.cd.value;
        value = {float(p.red / 255.0), float(p.green / 255.0), float(p.blue / 255.0)};
    });
    return value;
}

// Angle parameters carry 16.16 fixed-point degrees; every 32-bit value converts to a finite float.
float readAngleRadians(PF_InData* inData, int index, float fallback) {
    float value = fallback;
    withParamNow(inData, index, [&](const PF_ParamDef& def) {
        value = float(double(def.u.ad.value) / kFixedOne * kDegreesToRadians);
    });
    return value;
}

float motionBlurScaleFor(PF_InData* inData, int32_t motionBlur) {
    switch (motionBlur) {
        case 1:
            return 1.0f;
        case 2:
            return readCompMotionBlurScale(inData);
        default:
            return 0.0f;
    }
}

// Key Light 2 (Auto) and 3 (Light 1) both pick the topmost composition light. A light that cannot
// be read leaves the block as reset: inactive, colour 1, intensity 1.
void fillKeyLight(PF_InData* inData, FrameSettings& fs) {
    if (fs.keyLight < 2) return;
    const int lightIndex = fs.keyLight == 2 ? 0 : fs.keyLight - 3;
    KeyLightReading light;
    if (!readKeyLight(inData, lightIndex, light)) return;
    fs.keyActive = 1;
    fs.keyLightX = light.x;
    fs.keyLightY = light.y;
    fs.keyLightZ = light.z;
    fs.keyColorR = light.red;
    fs.keyColorG = light.green;
    fs.keyColorB = light.blue;
    fs.keyIntensity = light.intensity;
}

}  // namespace

void resetFrameSettings(FrameSettings& fs) {
    std::memset(&fs, 0, sizeof(fs));
    fs.layerInvScX = 1.0f;
    fs.layerInvScY = 1.0f;
    fs.emissionBoxX0 = fs.emissionBoxY0 = fs.emissionBoxX1 = fs.emissionBoxY1 = -1;
    // The rim light is never active; its block keeps fixed values for the renderer.
    fs.rimLight = 1;
    fs.rimColorR = fs.rimColorG = fs.rimColorB = 1.0f;
    fs.rimIntensity = 1.0f;
    fs.keyColorR = fs.keyColorG = fs.keyColorB = 1.0f;
    fs.keyIntensity = 1.0f;
    // The Ember parameters are no longer read; the simulation still sees these constants.
    fs.emberTemp = 1500.0f;
    fs.emberDecay = 2.5f;
}

float downsampleScale(const PF_RationalScale& downsample) {
    // A zero denominator is as meaningless as a non-positive numerator: full resolution is assumed
    // rather than collapsing every position onto the origin.
    if (downsample.num <= 0 || downsample.den == 0) return 1.0f;
    return float(double(downsample.den) / double(downsample.num));
}

void readPositionParams(PF_InData* inData, FrameSettings& fs) {
    fs.preset = readPopup(inData, kParamPreset, 1);
    fs.pathEmitter = readPopupFromZero(inData, kParamPathEmitter, 0);
    fs.lightSource = readPopup(inData, kParamLightSource, 1);
}

void readSourcePosition(PF_InData* inData, float scaleX, float scaleY, FrameSettings& fs) {
    fs.sourcePosition = {0.0f, 0.0f, 0.0f};
    withParamNow(inData, kParamSourcePosition, [&](const PF_ParamDef& def) {
        const PF_Point3DDef& p = def.u.point3d_d;
        Point3f scaled;
        // z shares the x factor: depth is measured in the same pixels as the width.
        if (toFloat(p.x_value * scaleX, scaled.x) && toFloat(p.y_value * scaleY, scaled.y) &&
            toFloat(p.z_value * scaleX, scaled.z)) {
            fs.sourcePosition = scaled;
        }
    });
}

void sampleBurnCurve(PF_InData* inData, int frameCount, FrameSettings& fs) {
    fs.burnCurveCount = 0;
    if (fs.burnMode <= 0 || !inData) return;
    const int count = frameCount < 1 ? 1 : (frameCount > kMaxHistoryFrames ? kMaxHistoryFrames : frameCount);
    float previous = 0.0f;
    for (int i = 0; i < count; ++i) {
        float value = previous;
        withParam(inData, kParamBurnProgress, historyFrameTime(i, inData->time_step), [&](const PF_ParamDef& def) {
            float converted;
            if (toFloat(def.u.fs_d.value * 0.01, converted)) value = converted;
        });
        fs.burnCurve[i] = value;
        previous = value;
    }
    fs.burnCurveCount = count;
}

void readRemainingParams(PF_InData* inData, int burnFrameCount, FrameSettings& fs) {
    fs.emitterRadius = readSlider(inData, kParamEmitterRadius, 12.0f);
    fs.sourceSizeX = readSlider(inData, kParamSourceSizeX, 1.0f);
    fs.sourceSizeY = readSlider(inData, kParamSourceSizeY, 1.0f);
    fs.sourceSizeZ = readSlider(inData, kParamSourceSizeZ, 12.0f);
    fs.sourceTemperature = readSlider(inData, kParamSourceTemperature, 3000.0f);
    fs.fuelAmount = readSlider(inData, kParamFuelAmount, 100.0f);
    fs.life = readSlider(inData, kParamLife, 3.0f);
    fs.lifeSoftness = readSlider(inData, kParamLifeSoftness, 0.0f, 0.01);
    fs.fade = readSlider(inData, kParamFade, 0.0f);
    fs.fadeSoftness = readSlider(inData, kParamFadeSoftness, 0.0f, 0.01);
    fs.opacity = readSlider(inData, kParamOpacity, 1.0f, 0.01);

    fs.patternType = readPopup(inData, kParamPatternType, 2);
    fs.maskScale = readSlider(inData, kParamMaskScale, 1.0f);
    fs.maskContrast = readSlider(inData, kParamMaskContrast, 50.0f);
    fs.maskThreshold = readSlider(inData, kParamMaskThreshold, 0.0f);
    fs.invert = readCheckbox(inData, kParamInvert, 0);
    fs.trail = readSlider(inData, kParamTrail, 100.0f);

    fs.burnThreshold = readSlider(inData, kParamBurnThreshold, 400.0f);
    fs.burnRate = readSlider(inData, kParamBurnRate, 3.0f);
    fs.heatOutput = readSlider(inData, kParamHeatOutput, 150.0f);
    fs.smokeOutput = readSlider(inData, kParamSmokeOutput, 0.15f);
    fs.heatDecay = readSlider(inData, kParamHeatDecay, 1.5f);
    fs.smokeDecay = readSlider(inData, kParamSmokeDecay, 0.5f);
    fs.buoyancy = readSlider(inData, kParamBuoyancy, 1.0f);
    fs.gravity = readSlider(inData, kParamGravity, 0.0f);
    // Drag is a percentage of a 5 % per-step loss: the field is what a step keeps of the velocity.
    fs.drag = 0.985f;
    withParamNow(inData, kParamDrag, [&](const PF_ParamDef& def) {
        float converted;
        if (toFloat(1.0 - def.u.fs_d.value * 0.01 * 0.05, converted)) fs.drag = converted;
    });
    fs.windX = readSlider(inData, kParamWindX, 0.0f);
    fs.windY = readSlider(inData, kParamWindY, 0.0f);
    fs.windZ = readSlider(inData, kParamWindZ, 0.0f);
    fs.speed = readSlider(inData, kParamSpeed, 1.0f);
    fs.randomSeed = readTruncated(inData, kParamRandomSeed, 0, double(INT_MIN), double(INT_MAX));

    fs.burnMode = readPopupFromZero(inData, kParamBurnMode, 0);
    fs.burnDirection = readSlider(inData, kParamBurnDirection, 0.0f, kDegreesToRadians);
    fs.burnProgress = readSlider(inData, kParamBurnProgress, 0.0f, 0.01);
    fs.burnWidth = readSlider(inData, kParamBurnWidth, 0.2f, 0.01);
    fs.burnNoise = readSlider(inData, kParamBurnNoise, 0.4f, 0.01);
    fs.sparkBoost = readSlider(inData, kParamSparkBoost, 4.0f, 0.01);
    sampleBurnCurve(inData, burnFrameCount, fs);

    fs.vorticity = readSlider(inData, kParamVorticity, 10.0f);
    fs.turbulence = readSlider(inData, kParamTurbulence, 25.0f);
    fs.turbulenceScale = readSlider(inData, kParamTurbulenceScale, 1.0f);
    fs.turbulenceSpeed = readSlider(inData, kParamTurbulenceSpeed, 1.0f);

    fs.detailNoise = readSlider(inData, kParamDetailNoise, 40.0f);
    fs.detailScale = readSlider(inData, kParamDetailScale, 5.0f);
    fs.detailOctaves = readTruncated(inData, kParamDetailOctaves, 3, 1.0, 6.0);
    fs.bloom = readSlider(inData, kParamBloom, 0.0f, 0.01);

    fs.motionBlur = readPopupFromZero(inData, kParamMotionBlur, 0);
    fs.shutterAngle = readSlider(inData, kParamShutterAngle, 180.0f);
    fs.volumeDensity = readSliderDiv100(inData, kParamVolumeDensity, 1.0f);
    fs.blendMode = readPopup(inData, kParamBlendMode, 1);
    fs.blendStrength = readSliderDiv100(inData, kParamBlendStrength, 0.0f);

    // Light Cast is registered but deliberately not read: the renderer always sees 0.
    fs.lightCast = 0.0f;
    fs.keyLight = readPopup(inData, kParamKeyLight, 1);
    fillKeyLight(inData, fs);
    fs.motionBlurScale = motionBlurScaleFor(inData, fs.motionBlur);

    fs.heatAmount = readSliderDiv100(inData, kParamHeatAmount, 0.0f);
    fs.heatScale = readSliderDiv100(inData, kParamHeatScale, 0.5f);
    fs.heatComplexity = readTruncated(inData, kParamHeatComplexity, 3, double(INT_MIN), double(INT_MAX));
    fs.heatEvolution = readAngleRadians(inData, kParamHeatEvolution, 0.0f);
    fs.heatRise = readSliderDiv100(inData, kParamHeatRise, 0.3f);

    fs.colorPreset = readPopup(inData, kParamColorPreset, 1);
    fs.colorMode = readPopup(inData, kParamColorMode, 1);
    fs.minColorTemp = readSlider(inData, kParamMinColorTemp, 300.0f);
    fs.maxColorTemp = readSlider(inData, kParamMaxColorTemp, 2500.0f);
    fs.gamma = readSlider(inData, kParamGamma, 1.0f);
    fs.intensity = readSlider(inData, kParamIntensity, 1.0f);
    fs.source = readColor(inData, kParamSource, {1.0f, 0.9f, 0.51f});
    fs.mid = readColor(inData, kParamMid, {1.0f, 0.35f, 0.08f});
    fs.tailCool = readColor(inData, kParamTailCool, {0.35f, 0.12f, 0.04f});
    fs.burnCutoffCenter = readSlider(inData, kParamBurnCutoffCenter, 0.15f);
    fs.burnCutoffWidth = readSlider(inData, kParamBurnCutoffWidth, 0.25f);

    constexpr float kScatterGrey = float(25.0 / 255.0);
    fs.scatterColor = readColor(inData, kParamScatterColor, {kScatterGrey, kScatterGrey, kScatterGrey});
    fs.smokeDensity = readSlider(inData, kParamSmokeDensity, 60.0f);
    fs.smokeBrightness = readSlider(inData, kParamSmokeBrightness, 0.25f);
    fs.scatterAnisotropy = readSlider(inData, kParamScatterAnisotropy, 0.5f);
    fs.selfShadow = readSlider(inData, kParamSelfShadow, 0.0f, 0.01);
    fs.fireLight = readSlider(inData, kParamFireLight, 0.3f, 0.01);
    fs.volumetricDepth = readSlider(inData, kParamVolumetricDepth, 0.5f, 0.01);
    fs.ambientColor = readColor(inData, kParamAmbientColor, {0.314f, 0.392f, 0.51f});
    fs.ambientStrength = readSlider(inData, kParamAmbientStrength, 0.0f, 0.01);
    fs.colorTint = readColor(inData, kParamColorTint, {1.0f, 1.0f, 1.0f});
    fs.brightnessFlicker = readSliderDiv100(inData, kParamBrightnessFlicker, 0.0f);
    fs.hueShift = readAngleRadians(inData, kParamHueShift, 0.0f);
    fs.saturation = readSliderDiv100(inData, kParamSaturation, 1.0f);
    fs.exposure = readSlider(inData, kParamExposure, 0.0f);

    fs.quality = readPopup(inData, kParamQuality, 2);
    fs.voxelSize = readPopup(inData, kParamVoxelSize, 3);
    fs.simMode = readPopup(inData, kParamSimMode, 5);
    fs.debugView = readPopup(inData, kParamDebugView, 1);

    fs.densityContrast = readSlider(inData, kParamDensityContrast, 1.0f);
    fs.opacityThreshold = readSliderDiv100(inData, kParamOpacityThreshold, 0.0f);
    fs.edgeSampling = readPopup(inData, kParamEdgeSampling, 1);
    fs.flameAggression = readSliderDiv100(inData, kParamFlameAggression, 0.15f);
    fs.fbmFlow = readSliderDiv100(inData, kParamFbmFlow, 0.3f);
    fs.flameTear = readSliderDiv100(inData, kParamFlameTear, 0.0f);
}

uint64_t simulationKey(const FrameSettings& fs) {
    uint64_t h = kFnv64Basis;
    auto f = [&h](float v) { h = fnv1a64Float(h, v); };
    auto i = [&h](int32_t v) { h = fnv1a64I32(h, v); };
    auto u = [&h](uint32_t v) { h = fnv1a64U32(h, v); };

    f(fs.emitterRadius);
    f(fs.sourceTemperature);
    f(fs.sourceSizeX);
    f(fs.sourceSizeY);
    f(fs.sourceSizeZ);
    f(fs.fuelAmount);
    f(fs.life);
    f(fs.fade);
    i(fs.patternType);
    f(fs.maskScale);
    f(fs.maskContrast);
    f(fs.maskThreshold);
    i(fs.invert);
    f(fs.trail);
    f(fs.burnThreshold);
    f(fs.burnRate);
    f(fs.heatOutput);
    f(fs.smokeOutput);
    f(fs.heatDecay);
    f(fs.smokeDecay);
    f(fs.buoyancy);
    f(fs.gravity);
    f(fs.drag);
    f(fs.windX);
    f(fs.windY);
    f(fs.windZ);
    f(fs.speed);
    i(fs.randomSeed);
    f(fs.vorticity);
    f(fs.turbulence);
    f(fs.turbulenceScale);
    f(fs.turbulenceSpeed);
    f(fs.emberAmount);
    f(fs.emberTemp);
    f(fs.emberDecay);
    i(fs.voxelSize);
    i(fs.simMode);
    i(fs.pathEmitter);
    i(fs.lightSource);
    i(fs.sourceLayerPresent);
    i(fs.lightTrackCount);
    i(fs.burnMode);
    f(fs.burnDirection);
    f(fs.burnWidth);
    f(fs.burnNoise);
    f(fs.sparkBoost);
    f(fs.burnProgress);
    i(fs.customMapPresent);
    i(fs.customMapWidth);
    i(fs.customMapHeight);
    f(fs.fadeSoftness);
    f(fs.sourcePosition.x);
    f(fs.sourcePosition.y);
    f(fs.sourcePosition.z);
    u(fs.emissionHash);
    u(fs.customMapHash);
    u(fs.lightTrackHash);
    u(fs.trajectoryHash);
    h = fnv1a64U64(h, fs.instanceId);
    i(fs.useLayerTransform);
    f(fs.layerPosX);
    f(fs.layerPosY);
    f(fs.layerInvScX);
    f(fs.layerInvScY);
    f(fs.layerAncX);
    f(fs.layerAncY);
    f(fs.flameAggression);
    f(fs.flameTear);
    return h;
}

}  // namespace cindel
