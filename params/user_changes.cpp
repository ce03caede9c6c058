// Routing targets of the supervised parameters: the preset popup, the colour preset popup and the
// colour mode, whose change re-applies the visibility rules.
#include "params/user_changes.h"

#include "params/color_presets.h"
#include "params/param_index.h"
#include "params/presets.h"
#include "params/visibility.h"

namespace cindel {

static_assert(kPresetChoiceCount == kBuiltInPresetCount + 1, "\"Custom\" plus one popup choice per built-in look");

bool isPresetChoice(A_long value) { return value >= 1 && value <= kPresetChoiceCount; }

bool applyPresetChoice(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[]) {
    if (!inData || !outData || !params || !params[kParamPreset]) return false;
    const PresetRecord* record = presetForChoice(params[kParamPreset]->u.pd.value);
    if (!record) return false;
    applyPreset(params, *record);
    // May throw for a missing suite: the values above stay written and the caller sets no out flag.
    setBurnProgressKeyframes(inData, record->progressKeyDuration, record->progressKeyStart, record->progressKeyEnd);
    return true;
}

void applyColorPresetChoice(PF_InData*, PF_OutData*, PF_ParamDef* params[]) { applyColorPreset(params); }

PF_Err updateParameterVisibility(PF_InData* inData, PF_OutData*, PF_ParamDef* params[]) {
    return updateParamVisibility(inData, params);
}

}  // namespace cindel
