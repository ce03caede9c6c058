// The parameter table as data: one row per registered parameter (indices 1 ... 136), with the type,
// name, range, default, display precision, flags and choice string that setupParams hands to the
// host. Callers may rely on row i - 1 describing index i, on every name fitting the host's 31
// characters, and on the strings living for the life of the process (the host keeps the choice
// pointers it is given). Presets and the visibility rules read defaults and types from here rather
// than repeating them.
#pragma once

#include <cstdint>
#include <span>

#include "AE_Effect.h"
#include "params/param_index.h"

namespace cindel {

enum class ParamKind : std::uint8_t {
    kGroupStart,
    kGroupEnd,
    kFloatSlider,
    kPopup,
    kCheckbox,
    kColor,
    kPoint3D,
    kAngle,
    kLayer,
};

struct ParamEntry {
    int index;
    ParamKind kind;
    const char* name;  // empty for group ends and for the checkbox, whose label is `checkboxLabel`
    float minValue;    // float sliders: valid range and slider range alike
    float maxValue;
    double defaultValue;  // float sliders: the value; popups: the 1-based choice
    A_short decimals;
    PF_ParamFlags flags;
    PF_ParamUIFlags uiFlags;
    const char* choices;  // popups: "a|b|c"; checkbox: the label beside the box
    A_short numChoices;
    std::uint32_t rgb;  // colours: 0xRRGGBB, alpha is always 255
};

// All 136 rows in index order.
std::span<const ParamEntry> paramEntries();

// The row of a registered index (1 ... 136); nullptr for 0 (the host's input layer) and anything
// outside the table.
const ParamEntry* paramEntry(int index);

}  // namespace cindel
