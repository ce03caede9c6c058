// Routing targets of the supervised parameters. The preset and colour-preset tables and the
// visibility rules are not part of the effect yet: a valid choice is recognised and nothing is
// written, so the host neither re-renders nor refreshes for a change that changed nothing.
#include "params/user_changes.h"

#include "params/param_index.h"

namespace cindel {

bool isPresetChoice(A_long value) { return value >= 1 && value <= kPresetChoiceCount; }

bool applyPresetChoice(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[]) {
    if (!inData || !outData || !params || !params[kParamPreset]) return false;
    const A_long choice = params[kParamPreset]->u.pd.value;
    if (!isPresetChoice(choice)) return false;
    return false;
}

void applyColorPresetChoice(PF_InData*, PF_OutData*, PF_ParamDef*[]) {}

PF_Err updateParameterVisibility(PF_InData*, PF_OutData*, PF_ParamDef*[]) { return PF_Err_NONE; }

}  // namespace cindel
