// FrameSettings: the one plain record through which every input of a frame reaches emission,
// simulation and rendering. The frame driver zero-fills it, gives the non-zero initial values their
// place (resetFrameSettings) and fills it from the parameters at the frame's current time; every
// other stage takes it as a read-only reference for the duration of one call. Fields are named
// after their parameters in lowerCamelCase and appear in the order of the settings tables; all
// scalars are fixed-size and the histories are fixed 600-entry tables, so the record holds no
// pointers and no heap memory.
//
// simulationKey() digests exactly the fields that change the simulated state, field by field in a
// fixed order with each field's bytes least significant first, so the key does not depend on
// padding, field layout or the machine's byte order.
#pragma once

#include <cstdint>

#include "AE_Effect.h"

namespace cindel {

// The simulation never looks further back than this many composition frames.
constexpr int kMaxHistoryFrames = 600;
// Light tracks follow at most the four topmost composition lights.
constexpr int kMaxLightTracks = 4;

struct Point3f {
    float x, y, z;
};

struct ColorRgbF {
    float r, g, b;
};

struct FrameSettings {
    // Frame and emitter position.
    int32_t outputWidth, outputHeight;
    int32_t compWidth, compHeight;
    int32_t preset;
    Point3f sourcePosition;  // full-resolution composition pixels; z is an offset
    int32_t trajectoryCount;
    float trajectoryX[kMaxHistoryFrames], trajectoryY[kMaxHistoryFrames], trajectoryZ[kMaxHistoryFrames];
    int32_t pathEmitter;  // 0 None, 1 Layer Masks
    int32_t lightSource;  // 1 Off, 2 Auto, 3-6 Light 1-4
    int32_t lightTrackCount;
    float lightCurrentX[kMaxLightTracks], lightCurrentY[kMaxLightTracks], lightCurrentZ[kMaxLightTracks];
    int32_t lightTrackFrames;
    // Track k, frame f at k * kMaxHistoryFrames + f.
    float lightTrackX[kMaxLightTracks * kMaxHistoryFrames];
    float lightTrackY[kMaxLightTracks * kMaxHistoryFrames];
    float lightTrackZ[kMaxLightTracks * kMaxHistoryFrames];

    // Emitter.
    float emitterRadius;
    float sourceSizeX, sourceSizeY, sourceSizeZ;
    float sourceTemperature;  // kelvin
    float fuelAmount;
    float life;  // seconds
    float lifeSoftness;
    float fade;  // seconds
    float fadeSoftness;
    float opacity;  // fraction
    int32_t patternType;
    float maskScale, maskContrast, maskThreshold;
    int32_t invert;
    float trail;

    // Emission and placement.
    int32_t sourceLayerPresent;
    int32_t emissionWidth, emissionHeight;
    int32_t useLayerTransform;
    float layerPosX, layerPosY;
    float layerInvScX, layerInvScY;
    float layerAncX, layerAncY;
    int32_t emissionBoxX0, emissionBoxY0, emissionBoxX1, emissionBoxY1;  // inclusive; X0 = -1: empty
    int32_t customMapPresent;
    int32_t customMapWidth, customMapHeight;
    uint32_t emissionHash;
    uint32_t customMapHash;
    uint32_t lightTrackHash;
    uint32_t trajectoryHash;
    uint64_t instanceId;

    // Sharpness, fire physics, physics, burn.
    float densityContrast;
    float opacityThreshold;
    int32_t edgeSampling;
    float flameAggression;
    float fbmFlow;
    float flameTear;
    float burnThreshold;  // kelvin
    float burnRate;
    float heatOutput;
    float smokeOutput;
    float heatDecay;
    float smokeDecay;
    float buoyancy;
    float gravity;
    float drag;  // per-step velocity keep factor
    float windX, windY, windZ;
    float speed;
    int32_t randomSeed;
    int32_t burnMode;     // 0 None, 1 Linear, 2 Radial, 3 Dissolve, 4 Iris
    float burnDirection;  // radians
    float burnProgress;   // fraction
    float burnWidth;
    float burnNoise;
    float sparkBoost;
    int32_t burnCurveCount;
    float burnCurve[kMaxHistoryFrames];

    // Turbulence and embers.
    float vorticity;
    float turbulence;
    float turbulenceScale;
    float turbulenceSpeed;
    float emberAmount, emberGlow, emberTemp, emberDecay;

    // Colour, smoke, lighting, grading.
    int32_t colorPreset;
    int32_t colorMode;                 // 1 Blackbody, 2 Custom Ramp
    float minColorTemp, maxColorTemp;  // kelvin
    float gamma;
    float intensity;
    ColorRgbF source;
    ColorRgbF mid;
    ColorRgbF tailCool;
    float burnCutoffCenter, burnCutoffWidth;
    ColorRgbF scatterColor;
    float smokeDensity;
    float smokeBrightness;
    float scatterAnisotropy;
    float selfShadow;
    float fireLight;
    float volumetricDepth;
    ColorRgbF ambientColor;
    float ambientStrength;
    int32_t detailOctaves;
    ColorRgbF colorTint;
    float brightnessFlicker;
    float hueShift;  // radians
    float saturation;
    float exposure;

    // Render, motion blur, lights, heat distortion, modes, camera.
    float detailNoise;
    float detailScale;
    float bloom;
    float lightCast;
    int32_t motionBlur;     // 0 Off, 1 Effect Only, 2 Comp Settings
    float shutterAngle;     // degrees
    float motionBlurScale;  // 1.0 = a 180 degree shutter
    float volumeDensity;
    int32_t blendMode;  // 1 Normal, 2 Additive
    float blendStrength;
    int32_t rimLight;
    float rimStrength;
    int32_t rimActive;
    float rimLightX, rimLightY, rimLightZ;
    float rimColorR, rimColorG, rimColorB;
    float rimIntensity;
    int32_t keyLight;  // 1 Off, 2 Auto, 3-6 Light 1-4
    int32_t keyActive;
    float keyLightX, keyLightY, keyLightZ;
    float keyColorR, keyColorG, keyColorB;
    float keyIntensity;
    float heatAmount;
    float heatScale;
    int32_t heatComplexity;
    float heatEvolution;  // radians
    float heatRise;
    int32_t quality;    // 1 Draft ... 4 Ultra
    int32_t voxelSize;  // 1 Large ... 4 Tiny
    int32_t simMode;    // 1 Source Only ... 5 Full
    int32_t debugView;  // 1 Final, 2 Heat Slice, 3 Density Slice
    int32_t cameraValid;
    float cameraMatrix[16];  // row-major, as the host gives it
    float cameraDistance;
    int32_t cameraPlaneWidth, cameraPlaneHeight;
};

// Zero the whole record, then give the fields whose initial value is not zero that value: the
// identity placement, the empty emission box, the inactive rim and key lights and the fixed ember
// constants. Parameter fields are left at zero: their readers store their own fallbacks.
void resetFrameSettings(FrameSettings& fs);

// FNV-1a 64 over the fields that change the simulation, in their fixed order.
uint64_t simulationKey(const FrameSettings& fs);

// Parameter reading. Each reader stores the field's fallback, checks the parameter out at the
// host's current time, converts and checks it in again; a failed checkout, a missing callback or a
// value the conversion cannot take (NaN, infinity, a popup choice out of range) keeps the fallback.

// The parameters of the frame-and-emitter-position block: Preset, Path Emitter, Light Source.
void readPositionParams(PF_InData* inData, FrameSettings& fs);

// Source Position at the current time, scaled to full-resolution composition pixels (z shares the
// x factor). Keeps (0, 0, 0) when the read fails.
void readSourcePosition(PF_InData* inData, float scaleX, float scaleY, FrameSettings& fs);

// Every remaining parameter, in the fill order: emitter, physics, burn with its history curve of
// `burnFrameCount` entries, turbulence, render, the rim and key light blocks, motionBlurScale, heat
// distortion, embers, colour, smoke, lighting, grading, modes and sharpness.
void readRemainingParams(PF_InData* inData, int burnFrameCount, FrameSettings& fs);

// Burn Progress per frame 0 ... count - 1 (count clamped to 1 ... 600) as fractions; a failed read
// repeats the previous entry. Only with a Burn Mode other than None; otherwise the count stays 0.
void sampleBurnCurve(PF_InData* inData, int frameCount, FrameSettings& fs);

// The composition-space factors of the host's downsampling: point parameters arrive in downsampled
// pixels and are multiplied by these to reach full resolution.
float downsampleScale(const PF_RationalScale& downsample);

}  // namespace cindel
