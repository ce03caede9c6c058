// The colour preset table and its writer.
#include "params/color_presets.h"

#include "params/param_index.h"

namespace cindel {

namespace {

// clang-format off
constexpr std::array<ColorPresetRecord, kColorPresetCount> kColorPresets = {{
    {rgbFromHex(0xFFE000), rgbFromHex(0xFF4400), rgbFromHex(0x4A0E00)},  // Classic Fire
    {rgbFromHex(0x80FFFF), rgbFromHex(0x0080FF), rgbFromHex(0x000040)},  // Blue Flame
    {rgbFromHex(0xFFFFFF), rgbFromHex(0xFFB060), rgbFromHex(0x6A2010)},  // Hot White
    {rgbFromHex(0xB0FF00), rgbFromHex(0x00C800), rgbFromHex(0x002800)},  // Toxic Green
    {rgbFromHex(0xFF1818), rgbFromHex(0xC00000), rgbFromHex(0x1A0000)},  // Deep Red
    {rgbFromHex(0xFFA500), rgbFromHex(0xDD2000), rgbFromHex(0x350800)},  // Lava
    {rgbFromHex(0xC0C0C0), rgbFromHex(0x707070), rgbFromHex(0x1A1A1A)},  // Ash Smoke
}};
// clang-format on

}  // namespace

const std::array<const char*, kColorPresetCount> kColorPresetNames = {
    "Classic Fire", "Blue Flame", "Hot White", "Toxic Green", "Deep Red", "Lava", "Ash Smoke",
};

std::span<const ColorPresetRecord, kColorPresetCount> colorPresets() { return kColorPresets; }

void writeColorParam(PF_ParamDef* def, Rgb8 rgb) {
    // A host array with a hole is not ours to repair; the remaining fields still apply.
    if (!def) return;
    def->u.cd.value.red = rgb.red;
    def->u.cd.value.green = rgb.green;
    def->u.cd.value.blue = rgb.blue;
    def->u.cd.value.alpha = 255;
    def->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
}

void applyColorPreset(PF_ParamDef* params[]) {
    if (!params || !params[kParamColorPreset]) return;
    const A_long row = params[kParamColorPreset]->u.pd.value - 2;
    if (row < 0 || row >= kColorPresetCount) return;
    const ColorPresetRecord& record = kColorPresets[static_cast<size_t>(row)];
    writeColorParam(params[kParamSource], record.source);
    writeColorParam(params[kParamMid], record.mid);
    writeColorParam(params[kParamTailCool], record.tailCool);
}

}  // namespace cindel
