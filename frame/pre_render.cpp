// The smart pre-render answer. The output covers exactly the input layer's rectangle (the effect
// neither grows nor shrinks its layer); the Source Layer and the Custom Map are requested for the
// same time under the checkout ids that the smart render uses again; the current time and the
// effect camera enter the frame's cache identity, because the frame depends on them even when no
// parameter is animated; and every parameter is checked out once so the host knows the frame
// depends on it.
//
// Pre-render is also where the Source Layer's delivery is decided: when the layer reaches beyond
// the request it is checked out a second time at its full extent (id 999), and the instance data
// records that choice and the map's origin and reference size for the smart render.
#include "frame/pre_render.h"

#include <cstring>
#include <memory>

#include "frame/camera_lights.h"
#include "host/instance_data.h"
#include "params/param_index.h"

namespace cindel {

namespace {

constexpr A_long kExpandedSourceCheckoutId = 999;

PF_Err checkoutLayer(PF_InData* inData, PF_PreRenderCallbacks* cb, PF_ParamIndex index, A_long checkoutId,
                     const PF_RenderRequest& request, PF_CheckoutResult& result) {
    std::memset(&result, 0, sizeof(result));
    return cb->checkout_layer(inData->effect_ref, index, checkoutId, &request, inData->current_time, inData->time_step,
                              inData->time_scale, &result);
}

// Written under a lock released at once. A host that keeps no instance data, cannot lock it or
// keeps fewer bytes than the record gets nothing written: writing past a short handle would
// corrupt the host's memory, and the smart render then simply sees the unexpanded default.
void writeSourceDelivery(PF_InData* inData, bool isExpanded, const PF_LRect& originRect,
                         const PF_CheckoutResult& source) {
    const PF_UtilCallbacks* utils = inData->utils;
    PF_Handle handle = inData->sequence_data;
    if (!handle || !utils || !utils->host_lock_handle || !utils->host_unlock_handle) return;
    if (utils->host_get_handle_size && utils->host_get_handle_size(handle) < sizeof(InstanceData)) return;
    auto* data = static_cast<InstanceData*>(utils->host_lock_handle(handle));
    if (!data) return;
    data->sourceExpanded = isExpanded ? 1 : 0;
    data->sourceOriginX = originRect.left;
    data->sourceOriginY = originRect.top;
    data->sourceRefWidth = source.ref_width;
    data->sourceRefHeight = source.ref_height;
    utils->host_unlock_handle(handle);
}

void requestSourceLayer(PF_InData* inData, PF_PreRenderCallbacks* cb, const PF_RenderRequest& request) {
    PF_CheckoutResult source;
    if (checkoutLayer(inData, cb, kParamSourceLayer, kParamSourceLayer, request, source) != PF_Err_NONE) return;

    // Widths and heights in 64 bits: a host rectangle may span the whole 32-bit range.
    const PF_LRect& max = source.max_result_rect;
    const PF_LRect& want = request.rect;
    const bool isLarger = int64_t(max.right) - max.left > int64_t(want.right) - want.left ||
                          int64_t(max.bottom) - max.top > int64_t(want.bottom) - want.top;
    bool isExpanded = false;
    if (isLarger) {
        PF_RenderRequest wide = request;
        wide.rect = max;
        PF_CheckoutResult expanded;
        isExpanded =
            checkoutLayer(inData, cb, kParamSourceLayer, kExpandedSourceCheckoutId, wide, expanded) == PF_Err_NONE;
    }
    writeSourceDelivery(inData, isExpanded, isExpanded ? source.max_result_rect : source.result_rect, source);
}

// The camera joins the identity because the ray march looks through it: a camera move changes the
// frame although no parameter and no time did. Its matrix and image-plane distance follow the time;
// a camera that cannot be read adds nothing.
void mixCacheIdentity(PF_InData* inData, PF_PreRenderCallbacks* cb) {
    if (!cb->GuidMixInPtr) return;
    const A_long time = inData->current_time;
    cb->GuidMixInPtr(inData->effect_ref, sizeof(time), &time);

    // Value-initialised, so zero-filled; on the heap because the record carries every history table.
    auto scratch = std::make_unique<FrameSettings>();
    readCamera(inData, *scratch);
    if (!scratch->cameraValid) return;
    cb->GuidMixInPtr(inData->effect_ref, sizeof(scratch->cameraMatrix), scratch->cameraMatrix);
    cb->GuidMixInPtr(inData->effect_ref, sizeof(scratch->cameraDistance), &scratch->cameraDistance);
}

void touchParameters(PF_InData* inData) {
    if (!inData->inter.checkout_param) return;
    for (int index = 1; index <= kRegisteredParamCount; ++index) {
        // The layers were requested above with their own ids; a parameter checkout of them would only
        // ask the host for the same pixels again.
        if (index == kParamSourceLayer || index == kParamCustomMap) continue;
        PF_ParamDef def;
        std::memset(&def, 0, sizeof(def));
        if (PF_CHECKOUT_PARAM(inData, index, inData->current_time, inData->time_step, inData->time_scale, &def) !=
            PF_Err_NONE) {
            continue;
        }
        if (inData->inter.checkin_param) PF_CHECKIN_PARAM(inData, &def);
    }
}

}  // namespace

PF_Err preRenderFrame(PF_InData* inData, PF_OutData* outData, PF_PreRenderExtra* extra) {
    (void)outData;
    if (!inData || !extra || !extra->input || !extra->output || !extra->cb || !extra->cb->checkout_layer) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_PreRenderCallbacks* cb = extra->cb;

    PF_RenderRequest request = extra->input->output_request;
    request.preserve_rgb_of_zero_alpha = true;

    PF_CheckoutResult input;
    if (const PF_Err err = checkoutLayer(inData, cb, kParamInputLayer, kParamInputLayer, request, input)) return err;
    extra->output->result_rect = input.result_rect;
    extra->output->max_result_rect = input.max_result_rect;
    extra->output->solid = false;

    requestSourceLayer(inData, cb, request);
    PF_CheckoutResult customMap;
    checkoutLayer(inData, cb, kParamCustomMap, kParamCustomMap, request, customMap);

    mixCacheIdentity(inData, cb);
    touchParameters(inData);
    return PF_Err_NONE;
}

}  // namespace cindel
