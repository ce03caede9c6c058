// Command dispatch of the effect. Each host command runs its handler inside one catch-all: whatever
// a handler throws (a missing host suite's 516, an allocation failure, anything else) ends the
// command and becomes PF_Err_INTERNAL_STRUCT_DAMAGED for the host. Nothing is rolled back: what a
// handler wrote before the throw stays written. Selectors this effect does not handle return
// PF_Err_NONE without touching out_data.
#include "host/effect_main.h"

#include <cstring>
#include <new>

#include "AE_EffectCB.h"
#include "emit/emitter_caches.h"
#include "frame/pre_render.h"
#include "frame/render_frame.h"
#include "gpu/gpu_runtime.h"
#include "host/abi_layout.h"
#include "host/instance_data.h"
#include "host/plugin_properties.h"
#include "host/process_state.h"
#include "host/suite_handler.h"
#include "params/param_index.h"
#include "params/param_table.h"
#include "params/user_changes.h"

namespace cindel {

namespace {

// The about text is the format string itself, passed through the host's sprintf; it holds no '%'.
constexpr char kAboutText[] = CINDEL_NAME " v1.0\rVolumetric fire and smoke simulated and ray-marched on the GPU.";

PF_Err about(PF_InData* inData, PF_OutData* outData) {
    if (!inData || !outData) return PF_Err_BAD_CALLBACK_PARAM;
    if (inData->utils && inData->utils->ansi.sprintf) {
        inData->utils->ansi.sprintf(outData->return_msg, kAboutText);
    }
    return PF_Err_NONE;
}

void registerWithAegp(PF_InData* inData) {
    ProcessState& state = processState();
    if (isPremiere(inData) || state.aegpPluginId != 0) return;
    // Registration is optional: without an id every AEGP-based feature quietly does nothing.
    try {
        SuiteHandler suites(inData->pica_basicP);
        AEGP_PluginID id = 0;
        if (suites.utilitySuite13()->AEGP_RegisterWithAEGP(nullptr, CINDEL_NAME, &id) == A_Err_NONE) {
            state.aegpPluginId = id;
        }
    } catch (...) {
        state.aegpPluginId = 0;
    }
}

PF_Err globalSetup(PF_InData* inData, PF_OutData* outData) {
    if (!inData || !outData) return PF_Err_BAD_CALLBACK_PARAM;
    outData->my_version = CINDEL_EFFECT_VERSION;
    outData->out_flags = CINDEL_OUT_FLAGS;
    outData->out_flags2 = CINDEL_OUT_FLAGS2;

    ProcessState& state = processState();
    // A failed start-up is not retried until the next set-up after a set-down.
    if (!state.gpuAvailable) state.gpuAvailable = startGpuRuntime(&gpuRuntime());
    registerWithAegp(inData);
    return PF_Err_NONE;
}

PF_Err globalSetdown() {
    ProcessState& state = processState();
    if (state.gpuAvailable) {
        stopGpuRuntime(&gpuRuntime());
        state.gpuAvailable = false;
    }
    releaseEmitterCaches();
    return PF_Err_NONE;
}

PF_Err sequenceSetup(PF_InData* inData, PF_OutData* outData) {
    if (!inData || !outData || !inData->utils) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_UtilCallbacks* utils = inData->utils;
    if (!utils->host_new_handle || !utils->host_lock_handle || !utils->host_unlock_handle) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_Handle handle = utils->host_new_handle(sizeof(InstanceData));
    if (!handle) return PF_Err_NONE;
    auto* data = static_cast<InstanceData*>(utils->host_lock_handle(handle));
    if (!data) {
        outData->sequence_data = handle;
        return PF_Err_NONE;
    }
    ProcessState& state = processState();
    data->instanceId = state.nextInstanceId;
    state.nextInstanceId += 1;
    utils->host_unlock_handle(handle);
    outData->sequence_data = handle;
    return PF_Err_NONE;
}

PF_Err sequenceSetdown(PF_InData* inData, PF_OutData* outData) {
    if (!inData || !outData) return PF_Err_BAD_CALLBACK_PARAM;
    if (inData->sequence_data && inData->utils && inData->utils->host_dispose_handle) {
        inData->utils->host_dispose_handle(inData->sequence_data);
    }
    outData->sequence_data = nullptr;
    return PF_Err_NONE;
}

PF_Err userChangedParam(PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[], void* extra) {
    if (!extra) return PF_Err_NONE;
    if (!inData || !outData) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_ParamIndex index = static_cast<const PF_UserChangedParamExtra*>(extra)->param_index;
    switch (index) {
        case kParamColorMode:
            updateParameterVisibility(inData, outData, params);
            break;
        case kParamPreset:
            if (applyPresetChoice(inData, outData, params)) {
                outData->out_flags |= PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;
            }
            break;
        case kParamColorPreset:
            applyColorPresetChoice(inData, outData, params);
            break;
        default:
            break;
    }
    return PF_Err_NONE;
}

PF_Err dispatch(PF_Cmd cmd, PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[], void* extra) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
            return about(inData, outData);
        case PF_Cmd_GLOBAL_SETUP:
            return globalSetup(inData, outData);
        case PF_Cmd_GLOBAL_SETDOWN:
            return globalSetdown();
        case PF_Cmd_PARAMS_SETUP:
            return setupParams(inData, outData);
        case PF_Cmd_SEQUENCE_SETUP:
        case PF_Cmd_SEQUENCE_RESETUP:
            return sequenceSetup(inData, outData);
        case PF_Cmd_SEQUENCE_SETDOWN:
            return sequenceSetdown(inData, outData);
        case PF_Cmd_USER_CHANGED_PARAM:
            return userChangedParam(inData, outData, params, extra);
        case PF_Cmd_UPDATE_PARAMS_UI:
            return updateParameterVisibility(inData, outData, params);
        case PF_Cmd_SMART_PRE_RENDER:
            return preRenderFrame(inData, outData, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return renderFrame(inData, outData, static_cast<PF_SmartRenderExtra*>(extra));
        default:
            return PF_Err_NONE;
    }
}

}  // namespace

PF_Err effectMain(PF_Cmd cmd, PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[], PF_LayerDef* output,
                  void* extra) {
    (void)output;
    try {
        return dispatch(cmd, inData, outData, params, extra);
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

}  // namespace cindel
