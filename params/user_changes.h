// What the effect does when the user changes one of its supervised parameters ("Preset",
// "Color Mode", "Color Preset") and when the host asks it to refresh its parameter UI.
#pragma once

#include "AE_Effect.h"

namespace cindel {

// The "Preset" popup's choice: 1 is "Custom", 2 ... 16 the built-in looks. Any other value selects
// nothing (a damaged project or a host that sends a stale value) and must write no parameter.
constexpr int kPresetChoiceCount = 16;
bool isPresetChoice(A_long value);

// Applies the chosen preset and replaces the "Burn Progress" keyframes; true when a record was
// applied, so that the host re-renders and refreshes its UI. A suite the host lacks throws after the
// values are written.
bool applyPresetChoice(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[]);
void applyColorPresetChoice(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[]);
PF_Err updateParameterVisibility(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[]);

}  // namespace cindel
