// The "Preset" popup (parameter 2): sixteen fixed records that rewrite the preset-driven parameters,
// and the "Burn Progress" (51) keyframes that let the burn presets play out on their own.
//
// "Custom" stands alone and holds the registered defaults of the parameter table (param_list.h); the
// fifteen built-in looks are "Custom" plus a short list of overrides each, in popup order, so popup
// value v from 2 to 16 selects builtInPresets()[v - 2]. forEachPresetField is the single list that
// ties each field to its target parameter: building "Custom", writing a record and the tests all walk
// it, so the three cannot disagree.
#pragma once

#include <span>

#include "AE_Effect.h"
#include "params/color_presets.h"
#include "params/param_index.h"

namespace cindel {

struct PresetRecord {
    const char* name;
    int patternType;
    float maskScale, maskContrast, maskThreshold;
    int invert;
    int pathEmitter, lightSource;
    float emitterRadius, sourceSizeX, sourceSizeY, sourceSizeZ, sourceTemperature, fuelAmount, life, lifeSoftness,
        fade, fadeSoftness, trail, opacity;
    float burnThreshold, burnRate, heatOutput, smokeOutput, heatDecay, smokeDecay;
    float buoyancy, gravity, drag, windX, windY, windZ, speed, randomSeed;
    int burnMode;
    float burnDirection, burnProgress, burnWidth, burnNoise, sparkBoost;
    // Not parameters: they shape the "Burn Progress" keyframes.
    float progressKeyDuration, progressKeyStart, progressKeyEnd;
    float vorticity, turbulence, turbulenceScale, turbulenceSpeed;
    float heatAmount, heatScale, heatComplexity;
    float heatEvolution;  // degrees
    float heatRise;
    float emberAmount, emberGlow, emberTemp, emberDecay;
    int colorMode;
    float minColorTemp, maxColorTemp;
    Rgb8 source, mid;
    float gamma, intensity;
    Rgb8 tailCool;
    float burnCutoffCenter, burnCutoffWidth;
    Rgb8 scatterColor;
    float smokeDensity, smokeBrightness, scatterAnisotropy;
    float selfShadow, fireLight;
    float volumetricDepth;
    Rgb8 ambientColor;
    float ambientStrength;
    Rgb8 colorTint;
    float brightnessFlicker;
    float hueShift;  // degrees
    float saturation, exposure;
    float densityContrast, opacityThreshold;
    int edgeSampling;
    float flameAggression, fbmFlow, flameTear;
    float detailNoise, detailScale, detailOctaves, bloom, lightCast;
    int motionBlur;
    float shutterAngle, volumeDensity;
    int blendMode;
    float blendStrength;
    int keyLight;
};

// Calls visit(parameterIndex, field) for every field that targets a parameter, in the order the
// host receives them: ascending index, except "Key Light" (98), which comes last. Works on const
// and mutable records alike.
template <class Record, class Visit>
void forEachPresetField(Record& r, Visit&& visit) {
    visit(kParamPatternType, r.patternType);
    visit(kParamMaskScale, r.maskScale);
    visit(kParamMaskContrast, r.maskContrast);
    visit(kParamMaskThreshold, r.maskThreshold);
    visit(kParamInvert, r.invert);
    visit(kParamPathEmitter, r.pathEmitter);
    visit(kParamLightSource, r.lightSource);
    visit(kParamEmitterRadius, r.emitterRadius);
    visit(kParamSourceSizeX, r.sourceSizeX);
    visit(kParamSourceSizeY, r.sourceSizeY);
    visit(kParamSourceSizeZ, r.sourceSizeZ);
    visit(kParamSourceTemperature, r.sourceTemperature);
    visit(kParamFuelAmount, r.fuelAmount);
    visit(kParamLife, r.life);
    visit(kParamLifeSoftness, r.lifeSoftness);
    visit(kParamFade, r.fade);
    visit(kParamFadeSoftness, r.fadeSoftness);
    visit(kParamTrail, r.trail);
    visit(kParamOpacity, r.opacity);
    visit(kParamBurnThreshold, r.burnThreshold);
    visit(kParamBurnRate, r.burnRate);
    visit(kParamHeatOutput, r.heatOutput);
    visit(kParamSmokeOutput, r.smokeOutput);
    visit(kParamHeatDecay, r.heatDecay);
    visit(kParamSmokeDecay, r.smokeDecay);
    visit(kParamBuoyancy, r.buoyancy);
    visit(kParamGravity, r.gravity);
    visit(kParamDrag, r.drag);
    visit(kParamWindX, r.windX);
    visit(kParamWindY, r.windY);
    visit(kParamWindZ, r.windZ);
    visit(kParamSpeed, r.speed);
    visit(kParamRandomSeed, r.randomSeed);
    visit(kParamBurnMode, r.burnMode);
    visit(kParamBurnDirection, r.burnDirection);
    visit(kParamBurnProgress, r.burnProgress);
    visit(kParamBurnWidth, r.burnWidth);
    visit(kParamBurnNoise, r.burnNoise);
    visit(kParamSparkBoost, r.sparkBoost);
    visit(kParamVorticity, r.vorticity);
    visit(kParamTurbulence, r.turbulence);
    visit(kParamTurbulenceScale, r.turbulenceScale);
    visit(kParamTurbulenceSpeed, r.turbulenceSpeed);
    visit(kParamHeatAmount, r.heatAmount);
    visit(kParamHeatScale, r.heatScale);
    visit(kParamHeatComplexity, r.heatComplexity);
    visit(kParamHeatEvolution, r.heatEvolution);
    visit(kParamHeatRise, r.heatRise);
    visit(kParamEmberAmount, r.emberAmount);
    visit(kParamEmberGlow, r.emberGlow);
    visit(kParamEmberTemp, r.emberTemp);
    visit(kParamEmberDecay, r.emberDecay);
    visit(kParamColorMode, r.colorMode);
    visit(kParamMinColorTemp, r.minColorTemp);
    visit(kParamMaxColorTemp, r.maxColorTemp);
    visit(kParamSource, r.source);
    visit(kParamMid, r.mid);
    visit(kParamGamma, r.gamma);
    visit(kParamIntensity, r.intensity);
    visit(kParamTailCool, r.tailCool);
    visit(kParamBurnCutoffCenter, r.burnCutoffCenter);
    visit(kParamBurnCutoffWidth, r.burnCutoffWidth);
    visit(kParamScatterColor, r.scatterColor);
    visit(kParamSmokeDensity, r.smokeDensity);
    visit(kParamSmokeBrightness, r.smokeBrightness);
    visit(kParamScatterAnisotropy, r.scatterAnisotropy);
    visit(kParamSelfShadow, r.selfShadow);
    visit(kParamFireLight, r.fireLight);
    visit(kParamVolumetricDepth, r.volumetricDepth);
    visit(kParamAmbientColor, r.ambientColor);
    visit(kParamAmbientStrength, r.ambientStrength);
    visit(kParamColorTint, r.colorTint);
    visit(kParamBrightnessFlicker, r.brightnessFlicker);
    visit(kParamHueShift, r.hueShift);
    visit(kParamSaturation, r.saturation);
    visit(kParamExposure, r.exposure);
    visit(kParamDensityContrast, r.densityContrast);
    visit(kParamOpacityThreshold, r.opacityThreshold);
    visit(kParamEdgeSampling, r.edgeSampling);
    visit(kParamFlameAggression, r.flameAggression);
    visit(kParamFbmFlow, r.fbmFlow);
    visit(kParamFlameTear, r.flameTear);
    visit(kParamDetailNoise, r.detailNoise);
    visit(kParamDetailScale, r.detailScale);
    visit(kParamDetailOctaves, r.detailOctaves);
    visit(kParamBloom, r.bloom);
    visit(kParamLightCast, r.lightCast);
    visit(kParamMotionBlur, r.motionBlur);
    visit(kParamShutterAngle, r.shutterAngle);
    visit(kParamVolumeDensity, r.volumeDensity);
    visit(kParamBlendMode, r.blendMode);
    visit(kParamBlendStrength, r.blendStrength);
    visit(kParamKeyLight, r.keyLight);
}

constexpr int kBuiltInPresetCount = 15;

// The record of popup value 1: the registered defaults, keyframe fields 0.
const PresetRecord& customPreset();

// The records of popup values 2 ... 16, in popup order.
std::span<const PresetRecord, kBuiltInPresetCount> builtInPresets();

// The record a popup value selects: 1 "Custom", 2 ... 16 the built-in looks; nullptr otherwise.
const PresetRecord* presetForChoice(A_long value);

// Writes every preset-driven parameter of the record into the host's array, converting by the
// parameter's registered type, and marks each one changed right after writing it.
void applyPreset(PF_ParamDef* params[], const PresetRecord& record);

// Replaces the keyframes of "Burn Progress" through the AEGP suites: all existing keys go; when
// durationSeconds exceeds 0.01 two linear keys are added, startValue at layer time 0 and endValue at
// the duration rounded to milliseconds. Skipped without AEGP registration and in Premiere Pro. A
// suite the host lacks throws its PF_Err.
void setBurnProgressKeyframes(const PF_InData* inData, float durationSeconds, float startValue, float endValue);

}  // namespace cindel
