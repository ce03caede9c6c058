// The preset records and their writers. Each built-in look lists only what it changes relative to
// "Custom"; everything else stays at the registered default, so a new parameter default moves every
// preset that does not override it, as it should.
#include "params/presets.h"

#include <array>
#include <type_traits>

#include "host/process_state.h"
#include "host/suite_handler.h"
#include "params/param_list.h"

namespace cindel {

namespace {

PresetRecord makeCustom() {
    PresetRecord r{};
    r.name = "Custom";
    forEachPresetField(r, [](int index, auto& field) {
        const ParamEntry* entry = paramEntry(index);
        using Field = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, Rgb8>) {
            field = rgbFromHex(entry->rgb);
        } else if constexpr (std::is_same_v<Field, int>) {
            field = static_cast<int>(entry->defaultValue);
        } else {
            // Angles register a default of 0 degrees like any slider value; the record stores it as
            // IEEE single, as it stores every other value.
            field = static_cast<float>(entry->defaultValue);
        }
    });
    r.progressKeyDuration = 0.0f;
    r.progressKeyStart = 0.0f;
    r.progressKeyEnd = 0.0f;
    return r;
}

struct PresetOverrides {
    const char* name;
    void (*apply)(PresetRecord&);
};

// Popup values 1 ... 5 of the enums these overrides use: Pattern Type 1 "Edges", Light Source 2
// "Auto", Burn Mode 2 "Linear" / 3 "Radial" / 4 "Dissolve" / 5 "Iris", Motion Blur 2 "Effect Only",
// Blend Mode 2 "Additive".
constexpr std::array<PresetOverrides, kBuiltInPresetCount> kOverrides = {{
    {"Logo Fire (Source Layer)",
     [](PresetRecord& r) {
         r.patternType = 1;
         r.emitterRadius = 5;
         r.life = 2;
         r.fade = 3;
         r.burnThreshold = 700;
         r.buoyancy = 2;
         r.windY = -50;
         r.turbulence = 40;
         r.maxColorTemp = 2700;
         r.intensity = 2;
         r.smokeDensity = 55;
         r.detailNoise = 100;
         r.detailOctaves = 3;
         r.bloom = 20;
         r.lightCast = 5;
         r.motionBlur = 2;
     }},
    {"Logo Inferno (Source Layer)",
     [](PresetRecord& r) {
         r.patternType = 1;
         r.maskThreshold = 50;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 4;
         r.fade = 4;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.speed = 1.5f;
         r.vorticity = 7;
         r.turbulence = 60;
         r.maxColorTemp = 1800;
         r.intensity = 0.5f;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 30;
         r.densityContrast = 0.5f;
         r.detailOctaves = 2;
         r.motionBlur = 2;
         r.shutterAngle = 300;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 30;
     }},
    {"Logo Fire Soft (Source Layer)",
     [](PresetRecord& r) {
         r.patternType = 1;
         r.maskScale = 0.65f;
         r.maskContrast = 65;
         r.maskThreshold = 0;
         r.sourceSizeZ = 7;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.fade = 3;
         r.fadeSoftness = 40;
         r.burnThreshold = 400;
         r.heatDecay = 0.5f;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.windX = 80;
         r.windY = -35;
         r.turbulence = 70;
         r.turbulenceScale = 2;
         r.heatAmount = 15;
         r.maxColorTemp = 3000;
         r.gamma = 0.9f;
         r.intensity = 1.2f;
         r.smokeDensity = 80;
         r.selfShadow = 0;
         r.fireLight = 30;
         r.flameAggression = 50;
         r.detailNoise = 70;
         r.detailOctaves = 4;
         r.motionBlur = 2;
         r.shutterAngle = 70;
         r.volumeDensity = 60;
         r.blendMode = 2;
     }},
    {"Logo Fire Sharp (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 5;
         r.sourceSizeZ = 7;
         r.sourceTemperature = 3000;
         r.fuelAmount = 100;
         r.life = 2;
         r.fade = 3;
         r.fadeSoftness = 20;
         r.burnThreshold = 650;
         r.smokeOutput = 0.2f;
         r.buoyancy = 2;
         r.gravity = -50;
         r.drag = 30;
         r.windY = -20;
         r.turbulence = 100;
         r.turbulenceScale = 0.5f;
         r.heatAmount = 15;
         r.intensity = 1;
         r.burnCutoffWidth = 0.3f;
         r.smokeDensity = 30;
         r.smokeBrightness = 0.2f;
         r.selfShadow = 0;
         r.fireLight = 30;
         r.densityContrast = 1;
         r.flameAggression = 65;
         r.detailNoise = 100;
         r.detailOctaves = 4;
         r.motionBlur = 2;
         r.shutterAngle = 200;
         r.volumeDensity = 150;
         r.blendMode = 2;
     }},
    {"Logo Fire Endless (Source Layer)",
     [](PresetRecord& r) {
         r.maskScale = 2;
         r.maskContrast = 100;
         r.maskThreshold = 42;
         r.sourceSizeZ = 6;
         r.sourceTemperature = 3000;
         r.fuelAmount = 200;
         r.smokeOutput = 0.35f;
         r.buoyancy = 3;
         r.drag = 30;
         r.minColorTemp = 150;
         r.intensity = 1;
         r.smokeDensity = 50;
         r.smokeBrightness = 0.2f;
         r.selfShadow = 0;
         r.fireLight = 30;
         r.densityContrast = 1;
         r.flameAggression = 35;
         r.detailScale = 7;
         r.detailOctaves = 4;
         r.bloom = 20;
         r.motionBlur = 2;
         r.shutterAngle = 30;
         r.blendMode = 2;
     }},
    {"Fire Trail (Source Point)",
     [](PresetRecord& r) {
         r.lightSource = 2;
         r.emitterRadius = 11;
         r.sourceSizeX = 1.5f;
         r.sourceSizeY = 1.5f;
         r.sourceSizeZ = 10;
         r.life = 2;
         r.fade = 4;
         r.trail = 95;
         r.burnThreshold = 400;
         r.smokeOutput = 0.35f;
         r.buoyancy = 0;
         r.vorticity = 12;
         r.turbulence = 35;
         r.maxColorTemp = 3530;
         r.intensity = 1;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.3f;
         r.scatterAnisotropy = 0.95f;
         r.selfShadow = 0;
         r.flameAggression = 50;
         r.detailNoise = 0;
         r.detailOctaves = 4;
         r.bloom = 30;
         r.motionBlur = 2;
         r.blendMode = 2;
     }},
    {"Fire Trail Smoky (Source Point)",
     [](PresetRecord& r) {
         r.lightSource = 2;
         r.emitterRadius = 11;
         r.sourceSizeX = 1.2f;
         r.sourceSizeY = 1.2f;
         r.sourceSizeZ = 7;
         r.life = 2;
         r.fade = 4;
         r.trail = 90;
         r.burnThreshold = 300;
         r.smokeOutput = 2;
         r.buoyancy = 0;
         r.vorticity = 8;
         r.heatAmount = 20;
         r.maxColorTemp = 5580;
         r.intensity = 2;
         r.smokeDensity = 70;
         r.smokeBrightness = 0.3f;
         r.scatterAnisotropy = 0.95f;
         r.selfShadow = 0;
         r.densityContrast = 0.5f;
         r.flameAggression = 35;
         r.fbmFlow = 15;
         r.detailNoise = 0;
         r.detailOctaves = 4;
         r.bloom = 30;
         r.motionBlur = 2;
         r.shutterAngle = 200;
         r.blendMode = 2;
         r.blendStrength = 30;
     }},
    {"Fire Trail Thick (Source Point)",
     [](PresetRecord& r) {
         r.lightSource = 2;
         r.emitterRadius = 17;
         r.sourceSizeZ = 18;
         r.fuelAmount = 150;
         r.life = 4;
         r.fade = 4;
         r.burnThreshold = 400;
         r.smokeOutput = 0.35f;
         r.buoyancy = 0;
         r.drag = 0;
         r.vorticity = 20;
         r.turbulence = 35;
         r.heatAmount = 20;
         r.minColorTemp = 200;
         r.maxColorTemp = 3000;
         r.intensity = 1;
         r.smokeDensity = 40;
         r.smokeBrightness = 0.3f;
         r.scatterAnisotropy = 0.95f;
         r.selfShadow = 40;
         r.fireLight = 0;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.detailNoise = 0;
         r.detailScale = 12;
         r.detailOctaves = 4;
         r.bloom = 25;
         r.motionBlur = 2;
         r.blendMode = 2;
         r.blendStrength = 15;
     }},
    {"Fire Trail Thin (Source Point)",
     [](PresetRecord& r) {
         r.lightSource = 2;
         r.emitterRadius = 11;
         r.sourceSizeZ = 15;
         r.fuelAmount = 100;
         r.life = 2.2f;
         r.fade = 4;
         r.burnThreshold = 400;
         r.smokeOutput = 0.35f;
         r.buoyancy = 0;
         r.vorticity = 7;
         r.minColorTemp = 200;
         r.maxColorTemp = 3500;
         r.intensity = 1;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.3f;
         r.scatterAnisotropy = 0.95f;
         r.selfShadow = 0;
         r.flameAggression = 35;
         r.detailNoise = 0;
         r.detailScale = 7;
         r.detailOctaves = 4;
         r.bloom = 50;
         r.motionBlur = 2;
         r.shutterAngle = 90;
         r.blendMode = 2;
     }},
    {"Burn Softness (Source Layer)",
     [](PresetRecord& r) {
         r.patternType = 1;
         r.maskThreshold = 0;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 5;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.speed = 1.5f;
         r.burnMode = 2;
         r.progressKeyDuration = 5;
         r.progressKeyEnd = 100;
         r.vorticity = 7;
         r.turbulence = 70;
         r.maxColorTemp = 1800;
         r.gamma = 1.2f;
         r.intensity = 0.5f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 30;
         r.densityContrast = 1;
         r.flameAggression = 50;
         r.fbmFlow = 15;
         r.detailNoise = 100;
         r.detailOctaves = 4;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
     }},
    {"Burn Sharpness (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 0;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 5;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.speed = 1.5f;
         r.burnMode = 2;
         r.progressKeyDuration = 5;
         r.progressKeyEnd = 100;
         r.turbulence = 70;
         r.turbulenceScale = 2;
         r.maxColorTemp = 3530;
         r.gamma = 1.2f;
         r.intensity = 1.1f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 200;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.fbmFlow = 15;
         r.detailNoise = 100;
         r.detailOctaves = 4;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 20;
     }},
    {"Burn Directional (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 20;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 5;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.windX = 70;
         r.burnMode = 2;
         r.burnDirection = 65;
         r.progressKeyDuration = 5;
         r.progressKeyEnd = 100;
         r.vorticity = 7;
         r.turbulence = 100;
         r.maxColorTemp = 3530;
         r.gamma = 1.2f;
         r.intensity = 1.1f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 200;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.fbmFlow = 15;
         r.detailNoise = 100;
         r.detailScale = 20;
         r.detailOctaves = 4;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 20;
     }},
    {"Burn Radial (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 20;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 4;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.windY = -35;
         r.burnMode = 3;
         r.progressKeyDuration = 5;
         r.progressKeyEnd = 100;
         r.turbulence = 100;
         r.maxColorTemp = 3530;
         r.gamma = 0.9f;
         r.intensity = 1.2f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 200;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.fbmFlow = 10;
         r.detailNoise = 100;
         r.detailScale = 20;
         r.detailOctaves = 4;
         r.bloom = 30;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 20;
     }},
    {"Burn Dissolve (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 20;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 3;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.burnMode = 4;
         r.burnWidth = 25;
         r.burnNoise = 70;
         r.progressKeyDuration = 5;
         r.progressKeyEnd = 100;
         r.turbulence = 100;
         r.maxColorTemp = 3530;
         r.gamma = 1.2f;
         r.intensity = 1.1f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 200;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.fbmFlow = 15;
         r.detailNoise = 100;
         r.detailOctaves = 4;
         r.bloom = 20;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 20;
     }},
    {"Burn Iris (Source Layer)",
     [](PresetRecord& r) {
         r.maskThreshold = 20;
         r.sourceSizeZ = 5;
         r.sourceTemperature = 4000;
         r.fuelAmount = 150;
         r.life = 1;
         r.fade = 4;
         r.burnThreshold = 400;
         r.buoyancy = 2;
         r.gravity = -100;
         r.drag = 30;
         r.windY = -35;
         r.burnMode = 5;
         r.burnNoise = 30;
         r.progressKeyDuration = 5;
         r.progressKeyStart = 50;
         r.progressKeyEnd = 100;
         r.turbulence = 100;
         r.maxColorTemp = 3530;
         r.gamma = 0.9f;
         r.intensity = 1.2f;
         r.burnCutoffCenter = 0;
         r.smokeDensity = 60;
         r.smokeBrightness = 0.4f;
         r.selfShadow = 0;
         r.fireLight = 200;
         r.densityContrast = 0.5f;
         r.flameAggression = 50;
         r.fbmFlow = 10;
         r.detailNoise = 100;
         r.detailScale = 20;
         r.detailOctaves = 4;
         r.bloom = 30;
         r.motionBlur = 2;
         r.volumeDensity = 60;
         r.blendMode = 2;
         r.blendStrength = 20;
     }},
}};

std::array<PresetRecord, kBuiltInPresetCount> makeBuiltIns() {
    std::array<PresetRecord, kBuiltInPresetCount> records{};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i] = customPreset();
        records[i].name = kOverrides[i].name;
        kOverrides[i].apply(records[i]);
    }
    return records;
}

void writeParam(PF_ParamDef* def, ParamKind kind, int value) {
    if (kind == ParamKind::kCheckbox) {
        def->u.bd.value = value;
    } else {
        def->u.pd.value = value;
    }
}

void writeParam(PF_ParamDef* def, ParamKind kind, float value) {
    if (kind == ParamKind::kAngle) {
        // 16.16 fixed point; the cast truncates toward zero. The product is exact in double.
        def->u.ad.value = static_cast<PF_Fixed>(static_cast<double>(value) * 65536.0);
    } else {
        def->u.fs_d.value = static_cast<double>(value);
    }
}

// Disposes an AEGP handle when the keyframe step leaves by a throw, so that a missing suite does not
// also leak the host's effect and stream references. Disposal itself may need a suite the host
// lacks; that failure is swallowed, the original one is what EffectMain reports.
template <class Dispose>
class DisposeOnThrow {
public:
    explicit DisposeOnThrow(Dispose dispose) : dispose_(dispose) {}
    ~DisposeOnThrow() {
        if (armed_) {
            try {
                dispose_();
            } catch (...) {
            }
        }
    }
    DisposeOnThrow(const DisposeOnThrow&) = delete;
    DisposeOnThrow& operator=(const DisposeOnThrow&) = delete;
    void disarm() { armed_ = false; }

private:
    Dispose dispose_;
    bool armed_ = true;
};

void replaceKeyframes(const AEGP_KeyframeSuite4* keyframes, AEGP_StreamRefH stream, float durationSeconds,
                      float startValue, float endValue) {
    A_long count = 0;
    keyframes->AEGP_GetStreamNumKFs(stream, &count);
    for (A_long i = count - 1; i >= 0; --i) keyframes->AEGP_DeleteKeyframe(stream, i);

    // Strictly greater, against the double threshold: a duration of 0.01 adds no keys.
    if (!(static_cast<double>(durationSeconds) > 0.01)) return;

    AEGP_AddKeyframesInfoH adding = nullptr;
    keyframes->AEGP_StartAddKeyframes(stream, &adding);
    if (!adding) return;

    AEGP_StreamValue2 value{};
    value.streamH = stream;

    const A_Time startTime{0, 1};
    A_long keyIndex = 0;
    keyframes->AEGP_AddKeyframes(adding, AEGP_LTimeMode_LayerTime, &startTime, &keyIndex);
    value.val.one_d = static_cast<double>(startValue);
    keyframes->AEGP_SetAddKeyframe(adding, keyIndex, &value);

    // The duration in seconds, rounded to milliseconds.
    const A_Time endTime{static_cast<A_long>(static_cast<double>(durationSeconds) * 1000.0 + 0.5), 1000};
    keyIndex = 0;
    keyframes->AEGP_AddKeyframes(adding, AEGP_LTimeMode_LayerTime, &endTime, &keyIndex);
    value.val.one_d = static_cast<double>(endValue);
    keyframes->AEGP_SetAddKeyframe(adding, keyIndex, &value);

    keyframes->AEGP_EndAddKeyframes(true, adding);
    keyframes->AEGP_SetKeyframeInterpolation(stream, 0, AEGP_KeyInterp_LINEAR, AEGP_KeyInterp_LINEAR);
    keyframes->AEGP_SetKeyframeInterpolation(stream, 1, AEGP_KeyInterp_LINEAR, AEGP_KeyInterp_LINEAR);
}

}  // namespace

const PresetRecord& customPreset() {
    static const PresetRecord record = makeCustom();
    return record;
}

std::span<const PresetRecord, kBuiltInPresetCount> builtInPresets() {
    static const std::array<PresetRecord, kBuiltInPresetCount> records = makeBuiltIns();
    return records;
}

const PresetRecord* presetForChoice(A_long value) {
    if (value == 1) return &customPreset();
    if (value >= 2 && value <= kBuiltInPresetCount + 1) return &builtInPresets()[static_cast<size_t>(value - 2)];
    return nullptr;
}

void applyPreset(PF_ParamDef* params[], const PresetRecord& record) {
    if (!params) return;
    forEachPresetField(record, [params](int index, const auto& field) {
        PF_ParamDef* def = params[index];
        if (!def) return;
        using Field = std::remove_cvref_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, Rgb8>) {
            writeColorParam(def, field);
        } else {
            writeParam(def, paramEntry(index)->kind, field);
            def->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
        }
    });
}

void setBurnProgressKeyframes(const PF_InData* inData, float durationSeconds, float startValue, float endValue) {
    const AEGP_PluginID pluginId = processState().aegpPluginId;
    if (!inData || pluginId == 0 || isPremiere(inData)) return;

    SuiteHandler suites(inData->pica_basicP);
    // Held before the handle is taken, so that a host without it cannot leave the handle undisposed.
    const AEGP_EffectSuite4* effects = suites.effectSuite4();
    AEGP_EffectRefH effect = nullptr;
    suites.pfInterfaceSuite1()->AEGP_GetNewEffectForEffect(pluginId, inData->effect_ref, &effect);
    if (!effect) return;
    DisposeOnThrow effectGuard([&] { effects->AEGP_DisposeEffect(effect); });

    AEGP_StreamRefH stream = nullptr;
    suites.streamSuite7()->AEGP_GetNewEffectStreamByIndex(pluginId, effect, kParamBurnProgress, &stream);
    if (stream) {
        DisposeOnThrow streamGuard([&] { suites.streamSuite7()->AEGP_DisposeStream(stream); });
        replaceKeyframes(suites.keyframeSuite4(), stream, durationSeconds, startValue, endValue);
        streamGuard.disarm();
        suites.streamSuite7()->AEGP_DisposeStream(stream);
    }
    effectGuard.disarm();
    effects->AEGP_DisposeEffect(effect);
}

}  // namespace cindel
