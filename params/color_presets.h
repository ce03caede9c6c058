// The "Color Preset" popup (parameter 78): seven matched sets of ramp colours, written into
// "Source" (81), "Mid" (82) and "Tail (Cool)" (85) when the user picks one. Record v - 2 belongs to
// popup value v; value 1 ("Custom") has no record and writes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "AE_Effect.h"

namespace cindel {

// Three unsigned bytes, red, green, blue; whatever receives one writes alpha 255 beside it.
struct Rgb8 {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

constexpr Rgb8 rgbFromHex(std::uint32_t rgb) {
    return {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb)};
}

struct ColorPresetRecord {
    Rgb8 source;    // parameter 81
    Rgb8 mid;       // parameter 82
    Rgb8 tailCool;  // parameter 85
};
static_assert(sizeof(ColorPresetRecord) == 9);

constexpr int kColorPresetCount = 7;

// The seven records in popup order (popup values 2 ... 8).
std::span<const ColorPresetRecord, kColorPresetCount> colorPresets();

// The popup text of each record, for checks against the registered choices.
extern const std::array<const char*, kColorPresetCount> kColorPresetNames;

// Writes a colour with alpha 255 into a colour parameter and marks it changed.
void writeColorParam(PF_ParamDef* def, Rgb8 rgb);

// Reads the "Color Preset" popup from the host's array and writes the chosen record's colours; a
// value without a record writes nothing. Sets no out flag: three colours need no forced re-render
// beyond the host's own response to changed values.
void applyColorPreset(PF_ParamDef* params[]);

}  // namespace cindel
