// The 136 rows of the parameter table. Order, names, types, ranges, defaults and precision are what
// projects store the effect's values under, so a change here breaks saved projects: the compile-time
// checks below hold the invariants that the registration loop relies on.
#include "params/param_list.h"

#include <array>
#include <string_view>

namespace cindel {

namespace {

constexpr char kPresetChoices[] =
    "Custom|Logo Fire (Source Layer)|Logo Inferno (Source Layer)|Logo Fire Soft (Source Layer)|"
    "Logo Fire Sharp (Source Layer)|Logo Fire Endless (Source Layer)|Fire Trail (Source Point)|"
    "Fire Trail Smoky (Source Point)|Fire Trail Thick (Source Point)|Fire Trail Thin (Source Point)|"
    "Burn Softness (Source Layer)|Burn Sharpness (Source Layer)|Burn Directional (Source Layer)|"
    "Burn Radial (Source Layer)|Burn Dissolve (Source Layer)|Burn Iris (Source Layer)";
constexpr char kPatternTypeChoices[] = "Edges|Full Burn|Noise|Flow|Random|Sharp Corners|Big Patches";
constexpr char kPathEmitterChoices[] = "None|Layer Masks";
constexpr char kLightChoices[] = "Off|Auto|Light 1|Light 2|Light 3|Light 4";
constexpr char kBurnModeChoices[] = "None|Linear|Radial|Dissolve|Iris";
constexpr char kColorModeChoices[] = "Blackbody|Custom Ramp";
constexpr char kColorPresetChoices[] = "Custom|Classic Fire|Blue Flame|Hot White|Toxic Green|Deep Red|Lava|Ash Smoke";
constexpr char kEdgeSamplingChoices[] = "Smooth|Sharp|Ultra Sharp";
constexpr char kQualityChoices[] = "Draft|Normal|High|Ultra";
constexpr char kVoxelSizeChoices[] = "Large|Medium|Small|Tiny";
constexpr char kMotionBlurChoices[] = "Off|Effect Only|Comp Settings";
constexpr char kBlendModeChoices[] = "Normal|Additive";
constexpr char kSimModeChoices[] = "Source Only|+ Buoyancy|+ Projection|+ Scalar Advect|Full";
constexpr char kDebugViewChoices[] = "Final|Heat Slice|Density Slice";
constexpr char kInvertLabel[] = "Invert";

constexpr PF_ParamFlags kSupervise = PF_ParamFlag_SUPERVISE;
constexpr PF_ParamFlags kSkipReveal = PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
constexpr PF_ParamUIFlags kInvisible = PF_PUI_INVISIBLE;

constexpr ParamEntry groupStart(int index, const char* name, PF_ParamFlags flags = 0, PF_ParamUIFlags ui = 0) {
    return {index, ParamKind::kGroupStart, name, 0, 0, 0, 0, flags, ui, nullptr, 0, 0};
}
constexpr ParamEntry groupEnd(int index) {
    return {index, ParamKind::kGroupEnd, "", 0, 0, 0, 0, 0, 0, nullptr, 0, 0};
}
constexpr ParamEntry slider(int index, const char* name, float lo, float hi, double dflt, A_short decimals,
                           PF_ParamFlags flags = 0) {
    return {index, ParamKind::kFloatSlider, name, lo, hi, dflt, decimals, flags, 0, nullptr, 0, 0};
}
constexpr ParamEntry popup(int index, const char* name, const char* choices, A_short numChoices, int dflt,
                          PF_ParamFlags flags = 0, PF_ParamUIFlags ui = 0) {
    return {index, ParamKind::kPopup, name, 0, 0, double(dflt), 0, flags, ui, choices, numChoices, 0};
}
constexpr ParamEntry checkbox(int index, const char* label) {
    return {index, ParamKind::kCheckbox, "", 0, 0, 0, 0, 0, 0, label, 0, 0};
}
constexpr ParamEntry color(int index, const char* name, std::uint32_t rgb, PF_ParamFlags flags = 0,
                          PF_ParamUIFlags ui = 0) {
    return {index, ParamKind::kColor, name, 0, 0, 0, 0, flags, ui, nullptr, 0, rgb};
}
constexpr ParamEntry point3d(int index, const char* name) {
    return {index, ParamKind::kPoint3D, name, 0, 0, 0, 0, 0, 0, nullptr, 0, 0};
}
constexpr ParamEntry angle(int index, const char* name, PF_ParamFlags flags = 0) {
    return {index, ParamKind::kAngle, name, 0, 0, 0, 0, flags, 0, nullptr, 0, 0};
}
constexpr ParamEntry layer(int index, const char* name) {
    return {index, ParamKind::kLayer, name, 0, 0, 0, 0, 0, 0, nullptr, 0, 0};
}

// clang-format off
constexpr std::array<ParamEntry, kRegisteredParamCount> kParamEntries = {{
    groupStart(1, "Presets"),
    popup(2, "Preset", kPresetChoices, 16, 1, kSupervise),
    groupEnd(3),

    groupStart(4, "Emitter"),
    layer(5, "Source Layer"),
    groupStart(6, "Source Pattern", PF_ParamFlag_START_COLLAPSED),
    popup(7, "Pattern Type", kPatternTypeChoices, 7, 3),
    slider(8, "Mask Scale", 0.1f, 5.0f, 1.0, 2),
    slider(9, "Mask Contrast", 0.0f, 100.0f, 50.0, 0),
    slider(10, "Mask Threshold", 0.0f, 100.0f, 15.0, 0),
    checkbox(11, kInvertLabel),
    layer(12, "Custom Map"),
    groupEnd(13),
    popup(14, "Path Emitter", kPathEmitterChoices, 2, 1),
    popup(15, "Light Source", kLightChoices, 6, 1),
    point3d(16, "Source Position"),
    slider(17, "Emitter Radius", 1.0f, 40.0f, 12.0, 0),
    slider(18, "Source Size X", 0.1f, 10.0f, 1.0, 2),
    slider(19, "Source Size Y", 0.1f, 10.0f, 1.0, 2),
    slider(20, "Source Size Z", 1.0f, 60.0f, 12.0, 0),
    slider(21, "Source Temperature", 500.0f, 5000.0f, 3500.0, 0),
    slider(22, "Fuel Amount", 0.0f, 200.0f, 120.0, 0),
    slider(23, "Life", 0.5f, 50.0f, 3.0, 2),
    slider(24, "Life Softness", 0.0f, 100.0f, 0.0, 0),
    slider(25, "Fade", 0.0f, 30.0f, 0.0, 2),
    slider(26, "Fade Softness", 0.0f, 100.0f, 0.0, 0),
    slider(27, "Trail", 0.0f, 100.0f, 100.0, 0),
    slider(28, "Opacity", 0.0f, 100.0f, 100.0, 0),
    groupEnd(29),

    groupStart(30, "Fire Physics"),
    slider(31, "Burn Threshold", 200.0f, 1200.0f, 600.0, 0),
    slider(32, "Burn Rate", 0.5f, 6.0f, 3.0, 2),
    slider(33, "Heat Output", 10.0f, 400.0f, 150.0, 0),
    slider(34, "Smoke Output", 0.0f, 2.0f, 0.3, 2),
    slider(35, "Heat Decay", 0.0f, 3.0f, 1.5, 2),
    slider(36, "Smoke Decay", 0.0f, 1.2f, 0.5, 2),
    groupEnd(37),

    groupStart(38, "Physics"),
    slider(39, "Buoyancy", 0.0f, 10.0f, 1.0, 2),
    slider(40, "Gravity", -200.0f, 200.0f, 0.0, 0),
    slider(41, "Drag", 0.0f, 100.0f, 20.0, 0),
    slider(42, "Wind X", -200.0f, 200.0f, 0.0, 0),
    slider(43, "Wind Y", -200.0f, 200.0f, 0.0, 0),
    slider(44, "Wind Z", -200.0f, 200.0f, 0.0, 0),
    slider(45, "Speed", 0.1f, 3.0f, 1.0, 2),
    slider(46, "Random Seed", 0.0f, 9999.0f, 0.0, 0),
    groupEnd(47),

    groupStart(48, "Burn"),
    popup(49, "Burn Mode", kBurnModeChoices, 5, 1),
    slider(50, "Burn Direction", 0.0f, 360.0f, 0.0, 0),
    slider(51, "Burn Progress", 0.0f, 100.0f, 0.0, 1),
    slider(52, "Burn Width", 1.0f, 30.0f, 20.0, 0),
    slider(53, "Burn Noise", 0.0f, 100.0f, 40.0, 0),
    slider(54, "Spark Boost", 0.0f, 500.0f, 400.0, 0),
    groupEnd(55),

    groupStart(56, "Turbulence"),
    slider(57, "Vorticity", 0.0f, 30.0f, 10.0, 1),
    slider(58, "Turbulence", 0.0f, 100.0f, 25.0, 1),
    slider(59, "Turbulence Scale", 0.1f, 5.0f, 1.0, 2),
    slider(60, "Turbulence Speed", 0.0f, 5.0f, 1.0, 2),
    groupEnd(61),

    groupStart(62, "Heat Distortion"),
    slider(63, "Heat Amount", 0.0f, 100.0f, 0.0, 0),
    slider(64, "Heat Scale", 0.0f, 100.0f, 50.0, 0),
    slider(65, "Heat Complexity", 1.0f, 6.0f, 3.0, 0),
    angle(66, "Heat Evolution"),
    slider(67, "Heat Rise", 0.0f, 100.0f, 30.0, 0),
    groupEnd(68),

    // Kept registered, though hidden, so that projects saved with these values still load.
    groupStart(69, "Embers (removed)", 0, kInvisible),
    slider(70, "Ember Amount", 0.0f, 100.0f, 0.0, 1),
    slider(71, "Ember Glow", 0.0f, 200.0f, 0.0, 1),
    slider(72, "Ember Temp", 500.0f, 4000.0f, 1500.0, 0),
    slider(73, "Ember Decay", 0.1f, 10.0f, 2.5, 2),
    groupEnd(74),

    groupStart(75, "Color"),
    groupStart(76, "Fire"),
    popup(77, "Color Mode", kColorModeChoices, 2, 1, kSupervise),
    popup(78, "Color Preset", kColorPresetChoices, 8, 1, kSupervise, kInvisible),
    slider(79, "Min Color Temp", 100.0f, 3000.0f, 100.0, 0, kSkipReveal),
    slider(80, "Max Color Temp", 800.0f, 10000.0f, 2500.0, 0, kSkipReveal),
    color(81, "Source", 0xFFE682, kSkipReveal),
    color(82, "Mid", 0xFF5A14, kSkipReveal),
    slider(83, "Gamma", 0.1f, 4.0f, 1.0, 2),
    slider(84, "Intensity", 0.0f, 10.0f, 0.7, 2),
    color(85, "Tail (Cool)", 0x5A1E0A, 0, kInvisible),
    slider(86, "Burn Cutoff Center", 0.0f, 1.0f, 0.15, 2),
    slider(87, "Burn Cutoff Width", 0.01f, 1.0f, 0.25, 2),
    groupEnd(88),
    groupStart(89, "Smoke"),
    color(90, "Scatter Color", 0x191919),
    slider(91, "Smoke Density", 0.0f, 200.0f, 65.0, 0),
    slider(92, "Smoke Brightness", 0.0f, 1.0f, 0.25, 2),
    slider(93, "Scatter Anisotropy", -0.95f, 0.95f, 0.5, 2),
    groupEnd(94),
    groupStart(95, "Lighting"),
    slider(96, "Self Shadow", 0.0f, 100.0f, 20.0, 0),
    slider(97, "Fire Light", 0.0f, 200.0f, 50.0, 0),
    popup(98, "Key Light", kLightChoices, 6, 1),
    slider(99, "Volumetric Depth", 0.0f, 100.0f, 50.0, 0),
    color(100, "Ambient Color", 0x506482),
    slider(101, "Ambient Strength", 0.0f, 100.0f, 0.0, 0),
    groupEnd(102),
    groupStart(103, "Grading"),
    color(104, "Color Tint", 0xFFFFFF),
    slider(105, "Brightness Flicker", 0.0f, 100.0f, 0.0, 0),
    angle(106, "Hue Shift", PF_ParamFlag_COLLAPSE_TWIRLY),
    slider(107, "Saturation", 0.0f, 200.0f, 100.0, 0),
    slider(108, "Exposure", -5.0f, 5.0f, 0.0, 2),
    groupEnd(109),
    groupEnd(110),

    groupStart(111, "Sharpness"),
    slider(112, "Density Contrast", 0.3f, 3.0f, 0.7, 2),
    slider(113, "Opacity Threshold", 0.0f, 50.0f, 0.0, 0),
    popup(114, "Edge Sampling", kEdgeSamplingChoices, 3, 2),
    slider(115, "Flame Aggression", 0.0f, 100.0f, 15.0, 0),
    slider(116, "FBM Flow", 0.0f, 100.0f, 30.0, 0),
    slider(117, "Flame Tear", 0.0f, 100.0f, 0.0, 0),
    groupEnd(118),

    groupStart(119, "Render"),
    popup(120, "Quality", kQualityChoices, 4, 4),
    popup(121, "Voxel Size", kVoxelSizeChoices, 4, 3),
    slider(122, "Detail Noise", 0.0f, 150.0f, 50.0, 1),
    slider(123, "Detail Scale", 5.0f, 20.0f, 10.0, 2),
    slider(124, "Detail Octaves", 1.0f, 6.0f, 6.0, 0),
    slider(125, "Bloom", 0.0f, 100.0f, 10.0, 0),
    slider(126, "Light Cast", 0.0f, 100.0f, 0.0, 0),
    popup(127, "Motion Blur", kMotionBlurChoices, 3, 1),
    // Beyond 360 on purpose: the shutter may stay open longer than a frame.
    slider(128, "Shutter Angle", 0.0f, 1000.0f, 180.0, 0),
    slider(129, "Volume Density", 0.0f, 400.0f, 100.0, 0),
    popup(130, "Blend Mode", kBlendModeChoices, 2, 1),
    slider(131, "Blend Strength", 0.0f, 100.0f, 10.0, 0),
    groupEnd(132),

    groupStart(133, "Advanced (dev)", 0, kInvisible),
    popup(134, "Sim Mode", kSimModeChoices, 5, 5, 0, kInvisible),
    popup(135, "Debug View", kDebugViewChoices, 3, 1, 0, kInvisible),
    groupEnd(136),
}};
// clang-format on

constexpr int countChoices(std::string_view choices) {
    int n = 1;
    for (char c : choices) n += (c == '|') ? 1 : 0;
    return n;
}

// Row i - 1 holds index i, every name survives the host's 31-character field uncut, and each popup's
// choice count and default agree with its string: a slip in any of these would silently shift or
// truncate what projects store, so it fails the build instead.
constexpr bool tableIsConsistent() {
    for (std::size_t i = 0; i < kParamEntries.size(); ++i) {
        const ParamEntry& s = kParamEntries[i];
        if (s.index != int(i) + 1) return false;
        if (std::string_view(s.name).size() > PF_MAX_EFFECT_PARAM_NAME_LEN) return false;
        if (s.kind == ParamKind::kFloatSlider &&
            !(s.minValue < s.maxValue && s.minValue <= s.defaultValue && s.defaultValue <= s.maxValue)) {
            return false;
        }
        if (s.kind == ParamKind::kPopup &&
            (countChoices(s.choices) != s.numChoices || s.defaultValue < 1 || s.defaultValue > s.numChoices)) {
            return false;
        }
    }
    return true;
}
static_assert(tableIsConsistent());

}  // namespace

std::span<const ParamEntry> paramEntries() {
    return kParamEntries;
}

const ParamEntry* paramEntry(int index) {
    if (index < 1 || index > kRegisteredParamCount) return nullptr;
    return &kParamEntries[std::size_t(index - 1)];
}

}  // namespace cindel
