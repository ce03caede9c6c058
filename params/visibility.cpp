// The visibility rules, applied in a fixed order. A rule whose condition is false shows its
// parameter again, so switching "Color Mode" back and forth swaps the two sets at once.
#include "params/visibility.h"

#include "host/process_state.h"
#include "params/param_index.h"

namespace cindel {

namespace {

constexpr A_long kColorModeBlackbody = 1;
constexpr A_long kColorModeCustomRamp = 2;

}  // namespace

void setParamHidden(SuiteHandler& suites, AEGP_EffectRefH effect, PF_ParamIndex index, bool hide) {
    const AEGP_StreamSuite2* streamSuite = suites.streamSuite7();
    AEGP_StreamRefH stream = nullptr;
    const A_Err err =
        streamSuite->AEGP_GetNewEffectStreamByIndex(processState().aegpPluginId, effect, index, &stream);
    if (err != A_Err_NONE || !stream) return;
    try {
        suites.dynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, false, hide);
    } catch (...) {
        // The stream suite is already held, so releasing the stream cannot throw again.
        streamSuite->AEGP_DisposeStream(stream);
        throw;
    }
    streamSuite->AEGP_DisposeStream(stream);
}

PF_Err updateParamVisibility(const PF_InData* inData, PF_ParamDef* params[]) {
    const AEGP_PluginID pluginId = processState().aegpPluginId;
    if (!inData || isPremiere(inData) || pluginId == 0) return PF_Err_NONE;
    const A_long mode = (params && params[kParamColorMode]) ? params[kParamColorMode]->u.pd.value : 0;

    SuiteHandler suites(inData->pica_basicP);
    // The suite that disposes the handle is in hand before the handle is taken: a host without it
    // fails the update here rather than after a handle nobody can give back.
    const AEGP_EffectSuite4* effects = suites.effectSuite4();
    AEGP_EffectRefH effect = nullptr;
    const A_Err err = suites.pfInterfaceSuite1()->AEGP_GetNewEffectForEffect(pluginId, inData->effect_ref, &effect);
    if (err != A_Err_NONE || !effect) return PF_Err_NONE;

    try {
        setParamHidden(suites, effect, kParamColorPreset, true);
        setParamHidden(suites, effect, kParamSource, mode != kColorModeCustomRamp);
        setParamHidden(suites, effect, kParamMid, mode != kColorModeCustomRamp);
        setParamHidden(suites, effect, kParamMinColorTemp, mode != kColorModeBlackbody);
        setParamHidden(suites, effect, kParamMaxColorTemp, mode != kColorModeBlackbody);
        setParamHidden(suites, effect, kParamCustomMap, true);
        setParamHidden(suites, effect, kParamLightCast, true);
        setParamHidden(suites, effect, kParamLifeSoftness, true);
        setParamHidden(suites, effect, kParamFadeSoftness, true);
    } catch (...) {
        // Rules already applied stay applied; only the effect reference is given back before the
        // failure travels on to EffectMain.
        effects->AEGP_DisposeEffect(effect);
        throw;
    }
    effects->AEGP_DisposeEffect(effect);
    return PF_Err_NONE;
}

}  // namespace cindel
