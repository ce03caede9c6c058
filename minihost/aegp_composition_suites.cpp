// The AEGP suites through which the effect reads its composition: "AEGP Layer Suite" 14 (the layer
// stack, flags, object types, layer-to-world transforms, ids), "AEGP Comp Suite" 25 (the
// composition's flags), "AEGP Stream Suite" 11 (effect streams and their values, mask outline
// streams, layer streams), "AEGP Layer Mask Suite" 7 and "AEGP Mask Outline Suite" 5, and the
// camera reads of "AEGP PF Interface Suite" 1. Every answer comes from the active Host's
// Composition; without one, layer and composition queries fail rather than invent a composition.
//
// Times: a composition time A_Time is value / scale seconds (a zero scale is refused); layer time is
// composition time minus the layer's start. The composition model keeps its keys in composition
// seconds, so layer-time requests are moved by the start before they are read.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "minihost/aegp_shared.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost/host_callbacks.h"
#include "minihost/host_error.h"
#include "minihost/unexpected_slot.h"

namespace minihost {

namespace {

bool secondsOf(const A_Time* time, double* seconds) {
    if (!time || time->scale == 0) return false;
    *seconds = double(time->value) / double(time->scale);
    return true;
}

// The composition seconds of a layer-stream request.
bool compSecondsOf(const Layer& layer, AEGP_LTimeMode mode, const A_Time* time, double* seconds) {
    if (!secondsOf(time, seconds)) return false;
    if (mode == AEGP_LTimeMode_CompTime) return true;
    if (mode != AEGP_LTimeMode_LayerTime) return false;
    *seconds += layer.startSeconds;
    return true;
}

AEGP_CompH compHandle(Composition* composition) {
    return reinterpret_cast<AEGP_CompH>(composition);
}

AEGP_LayerH layerHandle(const Layer* layer) {
    return reinterpret_cast<AEGP_LayerH>(const_cast<Layer*>(layer));
}

// The active Host's composition when the handle names it; null otherwise.
Composition* compositionOf(AEGP_CompH handle) {
    Host* host = Host::active();
    Composition* composition = host ? host->composition() : nullptr;
    return composition && compHandle(composition) == handle ? composition : nullptr;
}

// The layer behind a handle when it is one of the active composition's layers. The effect layer's
// handle without a composition is the Instance, which is no layer here.
Layer* layerOf(AEGP_LayerH handle) {
    Host* host = Host::active();
    Composition* composition = host ? host->composition() : nullptr;
    if (!composition || !handle) return nullptr;
    for (int i = 0; i < composition->layerCount(); ++i)
        if (layerHandle(&composition->layer(i)) == handle) return &composition->layer(i);
    return nullptr;
}

A_short clampToShort(int value) {
    return static_cast<A_short>(std::clamp(value, -32768, 32767));
}

void copyMatrix(const Matrix4& from, A_Matrix4* to) {
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) to->mat[row][column] = from.m[row][column];
}

// ---- Layer Suite 14

A_Err getCompNumLayers(AEGP_CompH compH, A_long* count) {
    Composition* composition = compositionOf(compH);
    if (!composition || !count) return A_Err_PARAMETER;
    *count = composition->layerCount();
    return A_Err_NONE;
}

A_Err getCompLayerByIndex(AEGP_CompH compH, A_long index, AEGP_LayerH* layer) {
    if (layer) *layer = nullptr;
    Composition* composition = compositionOf(compH);
    if (!composition || !layer || index < 0 || index >= composition->layerCount()) return A_Err_PARAMETER;
    *layer = layerHandle(&composition->layer(index));
    return A_Err_NONE;
}

A_Err getLayerParentComp(AEGP_LayerH layerH, AEGP_CompH* comp) {
    if (comp) *comp = nullptr;
    if (!layerOf(layerH) || !comp) return A_Err_PARAMETER;
    *comp = compHandle(Host::active()->composition());
    return A_Err_NONE;
}

A_Err getLayerFlags(AEGP_LayerH layerH, AEGP_LayerFlags* flags) {
    const Layer* layer = layerOf(layerH);
    if (!layer || !flags) return A_Err_PARAMETER;
    AEGP_LayerFlags result = AEGP_LayerFlag_NONE;
    if (layer->isVisible) result |= AEGP_LayerFlag_VIDEO_ACTIVE;
    if (layer->hasMotionBlur) result |= AEGP_LayerFlag_MOTION_BLUR;
    // Lights and cameras exist only in 3-D; the model places audio-visual layers in 2-D.
    if (layer->type == LayerType::Light || layer->type == LayerType::Camera) result |= AEGP_LayerFlag_LAYER_IS_3D;
    *flags = result;
    return A_Err_NONE;
}

A_Err getLayerObjectType(AEGP_LayerH layerH, AEGP_ObjectType* type) {
    const Layer* layer = layerOf(layerH);
    if (!layer || !type) return A_Err_PARAMETER;
    switch (layer->objectType()) {
        case ObjectType::AudioVisual:
            *type = AEGP_ObjectType_AV;
            break;
        case ObjectType::Light:
            *type = AEGP_ObjectType_LIGHT;
            break;
        case ObjectType::Camera:
            *type = AEGP_ObjectType_CAMERA;
            break;
        case ObjectType::Text:
            *type = AEGP_ObjectType_TEXT;
            break;
        case ObjectType::Vector:
            *type = AEGP_ObjectType_VECTOR;
            break;
    }
    return A_Err_NONE;
}

A_Err getLayerToWorldXform(AEGP_LayerH layerH, const A_Time* compTime, A_Matrix4* transform) {
    const Layer* layer = layerOf(layerH);
    double seconds = 0;
    if (!layer || !transform || !secondsOf(compTime, &seconds)) return A_Err_PARAMETER;
    copyMatrix(Host::active()->composition()->layerToWorld(*layer, seconds), transform);
    return A_Err_NONE;
}

A_Err getLayerId(AEGP_LayerH layerH, AEGP_LayerIDVal* id) {
    const Layer* layer = layerOf(layerH);
    if (!layer || !id) return A_Err_PARAMETER;
    *id = layer->id;
    return A_Err_NONE;
}

A_Err getLayerFromLayerId(AEGP_CompH compH, AEGP_LayerIDVal id, AEGP_LayerH* layerOut) {
    if (layerOut) *layerOut = nullptr;
    Composition* composition = compositionOf(compH);
    if (!composition || !layerOut) return A_Err_PARAMETER;
    const Layer* layer = composition->layerById(id);
    if (!layer) return A_Err_PARAMETER;
    *layerOut = layerHandle(layer);
    return A_Err_NONE;
}

// ---- Comp Suite 25

A_Err getCompFlags(AEGP_CompH compH, AEGP_CompFlags* flags) {
    const Composition* composition = compositionOf(compH);
    if (!composition || !flags) return A_Err_PARAMETER;
    *flags = composition->hasMotionBlur ? AEGP_CompFlag_ENABLE_MOTION_BLUR : 0;
    return A_Err_NONE;
}

// ---- Stream Suite 11 (the effect-stream functions are Stream Suite 7's)

A_Err getNewMaskStream(AEGP_PluginID, AEGP_MaskRefH maskRef, AEGP_MaskStream which, AEGP_StreamRefH* stream) {
    if (stream) *stream = nullptr;
    Host* host = Host::active();
    AegpState::MaskHandle* mask = host ? host->aegp().mask(maskRef) : nullptr;
    // Opacity, feather and expansion have no values in the model; only the outline is a stream.
    if (!mask || !stream || which != AEGP_MaskStream_OUTLINE) return A_Err_PARAMETER;
    *stream = reinterpret_cast<AEGP_StreamRefH>(host->aegp().newMaskStream(mask->layerId, mask->maskIndex));
    return A_Err_NONE;
}

// The mask a reference or stream names, while its layer and the mask still exist.
const Mask* maskOf(Host& host, int layerId, int maskIndex) {
    const Composition* composition = host.composition();
    const Layer* layer = composition ? composition->layerById(layerId) : nullptr;
    if (!layer || maskIndex < 0 || maskIndex >= static_cast<int>(layer->masks.size())) return nullptr;
    return &layer->masks[static_cast<std::size_t>(maskIndex)];
}

A_Err effectStreamValue(Host& host, AegpState::StreamHandle& stream, AEGP_LTimeMode mode, const A_Time& time,
                        AEGP_StreamValue2* value) {
    Instance& instance = *stream.instance;
    const ParamDefinition& definition = instance.param(stream.index).definition();
    AEGP_StreamVal2 val;
    std::memset(&val, 0, sizeof val);
    if (definition.def.param_type == PF_Param_LAYER) {
        // The host's value of a layer parameter is the chosen layer's id, 0 for none.
        const LayerSource* source = instance.layer(stream.index);
        val.layer_id = source ? source->layerId : 0;
    } else {
        HostTime at{time.value, time.scale};
        if (mode == AEGP_LTimeMode_CompTime)
            at.value -= static_cast<A_long>(std::llround(aegp::layerStartSeconds(host, instance) * double(time.scale)));
        try {
            val = paramValueToStreamValue(definition, instance.valueAt(stream.index, at));
        } catch (const HostError&) {
            return A_Err_PARAMETER;  // a group or another parameter without a value
        }
    }
    value->val = val;
    ++stream.liveValues;
    return A_Err_NONE;
}

A_Err getNewStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_LTimeMode mode, const A_Time* time, A_Boolean,
                        AEGP_StreamValue2* value) {
    Host* host = Host::active();
    double seconds = 0;
    if (!host || !value || !secondsOf(time, &seconds)) return A_Err_PARAMETER;
    if (mode != AEGP_LTimeMode_LayerTime && mode != AEGP_LTimeMode_CompTime) return A_Err_PARAMETER;
    if (AegpState::StreamHandle* stream = host->aegp().stream(streamH)) {
        if (A_Err err = effectStreamValue(*host, *stream, mode, *time, value)) return err;
        value->streamH = streamH;
        return A_Err_NONE;
    }
    if (AegpState::MaskStreamHandle* stream = host->aegp().maskStream(streamH)) {
        // Outlines are not animated in the model, so the time only has to be a valid one.
        const Mask* mask = maskOf(*host, stream->layerId, stream->maskIndex);
        if (!mask) return A_Err_PARAMETER;
        value->streamH = streamH;
        value->val.mask = reinterpret_cast<AEGP_MaskOutlineValH>(host->aegp().newOutline(*mask));
        return A_Err_NONE;
    }
    return A_Err_PARAMETER;
}

A_Err disposeStreamValue(AEGP_StreamValue2* value) {
    Host* host = Host::active();
    if (!host || !value) return A_Err_PARAMETER;
    // The value belongs to the stream it came from, which may already be disposed.
    if (AegpState::StreamHandle* stream = host->aegp().anyStream(value->streamH)) {
        if (stream->liveValues == 0) return A_Err_PARAMETER;
        --stream->liveValues;
        return A_Err_NONE;
    }
    if (host->aegp().anyMaskStream(value->streamH)) {
        AegpState::OutlineHandle* outline = host->aegp().outline(value->val.mask);
        if (!outline) return A_Err_PARAMETER;
        outline->isLive = false;
        value->val.mask = nullptr;
        return A_Err_NONE;
    }
    return A_Err_PARAMETER;
}

A_Err getLayerStreamValue(AEGP_LayerH layerH, AEGP_LayerStream which, AEGP_LTimeMode mode, const A_Time* time,
                          A_Boolean, AEGP_StreamVal2* value, AEGP_StreamType* type) {
    const Layer* layer = layerOf(layerH);
    double seconds = 0;
    if (!layer || !value || !compSecondsOf(*layer, mode, time, &seconds)) return A_Err_PARAMETER;
    auto threeD = [](Vec3 v) { return AEGP_ThreeDVal{v.x, v.y, v.z}; };
    AEGP_StreamVal2 val;
    std::memset(&val, 0, sizeof val);
    AEGP_StreamType streamType = AEGP_StreamType_NO_DATA;
    switch (which) {
        case AEGP_LayerStream_ANCHORPOINT:
            if (!layer->isAudioVisual()) return A_Err_PARAMETER;
            val.three_d = threeD(layer->anchor.at(seconds));
            streamType = AEGP_StreamType_ThreeD_SPATIAL;
            break;
        case AEGP_LayerStream_POSITION:
            val.three_d = threeD(layer->position.at(seconds));
            streamType = AEGP_StreamType_ThreeD_SPATIAL;
            break;
        case AEGP_LayerStream_SCALE:
            if (!layer->isAudioVisual()) return A_Err_PARAMETER;
            val.three_d = threeD(layer->scale.at(seconds));
            streamType = AEGP_StreamType_ThreeD;
            break;
        case AEGP_LayerStream_COLOR: {
            if (layer->type != LayerType::Light) return A_Err_PARAMETER;
            auto unit = [](double c) { return std::clamp(c, 0.0, 1.0); };
            const Rgb& c = layer->lightColor;
            val.color = AEGP_ColorVal{1.0, unit(c.red), unit(c.green), unit(c.blue)};
            streamType = AEGP_StreamType_COLOR;
            break;
        }
        case AEGP_LayerStream_INTENSITY:
            if (layer->type != LayerType::Light) return A_Err_PARAMETER;
            val.one_d = layer->lightIntensity.at(seconds);
            streamType = AEGP_StreamType_OneD;
            break;
        case AEGP_LayerStream_ZOOM:
            if (layer->type != LayerType::Camera) return A_Err_PARAMETER;
            val.one_d = layer->zoom.at(seconds);
            streamType = AEGP_StreamType_OneD;
            break;
        default:
            return A_Err_PARAMETER;  // rotation, opacity and the rest are not in the model
    }
    *value = val;
    if (type) *type = streamType;
    return A_Err_NONE;
}

// ---- Layer Mask Suite 7

A_Err getLayerNumMasks(AEGP_LayerH layerH, A_long* count) {
    const Layer* layer = layerOf(layerH);
    if (!layer || !count) return A_Err_PARAMETER;
    *count = static_cast<A_long>(layer->masks.size());
    return A_Err_NONE;
}

A_Err getLayerMaskByIndex(AEGP_LayerH layerH, A_long index, AEGP_MaskRefH* mask) {
    if (mask) *mask = nullptr;
    const Layer* layer = layerOf(layerH);
    if (!layer || !mask || index < 0 || index >= static_cast<A_long>(layer->masks.size())) return A_Err_PARAMETER;
    *mask = reinterpret_cast<AEGP_MaskRefH>(Host::active()->aegp().newMask(layer->id, index));
    return A_Err_NONE;
}

A_Err disposeMask(AEGP_MaskRefH maskRef) {
    Host* host = Host::active();
    AegpState::MaskHandle* mask = host ? host->aegp().mask(maskRef) : nullptr;
    if (!mask) return A_Err_PARAMETER;
    mask->isLive = false;
    return A_Err_NONE;
}

// ---- Mask Outline Suite 5

const Mask* outlineOf(AEGP_MaskOutlineValH handle) {
    Host* host = Host::active();
    AegpState::OutlineHandle* outline = host ? host->aegp().outline(handle) : nullptr;
    return outline ? &outline->outline : nullptr;
}

A_Err isMaskOutlineOpen(AEGP_MaskOutlineValH handle, A_Boolean* isOpen) {
    const Mask* outline = outlineOf(handle);
    if (!outline || !isOpen) return A_Err_PARAMETER;
    *isOpen = outline->isClosed ? 0 : 1;
    return A_Err_NONE;
}

A_Err getMaskOutlineNumSegments(AEGP_MaskOutlineValH handle, A_long* count) {
    const Mask* outline = outlineOf(handle);
    if (!outline || !count) return A_Err_PARAMETER;
    *count = outline->segmentCount();
    return A_Err_NONE;
}

A_Err getMaskOutlineVertexInfo(AEGP_MaskOutlineValH handle, AEGP_VertexIndex index, AEGP_MaskVertex* vertex) {
    const Mask* outline = outlineOf(handle);
    if (!outline || !vertex || index < 0 || index >= static_cast<A_long>(outline->vertices.size()))
        return A_Err_PARAMETER;
    const MaskVertex& v = outline->vertices[static_cast<std::size_t>(index)];
    *vertex = AEGP_MaskVertex{v.x, v.y, v.inTangentX, v.inTangentY, v.outTangentX, v.outTangentY};
    return A_Err_NONE;
}

const AEGP_LayerSuite8 kLayerSuite14{
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetCompNumLayers, &getCompNumLayers),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetCompLayerByIndex, &getCompLayerByIndex),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetActiveLayer),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerIndex),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerSourceItem),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerSourceItemID),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerParentComp, &getLayerParentComp),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerName),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerQuality),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerQuality),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerFlags, &getLayerFlags),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerFlag),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsLayerVideoReallyOn),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsLayerAudioReallyOn),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerCurrentTime),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerInPoint),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerDuration),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerInPointAndDuration),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerOffset),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerOffset),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerStretch),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerStretch),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerTransferMode),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerTransferMode),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsAddLayerValid),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_AddLayer),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_ReorderLayer),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerMaskedBounds),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerObjectType, &getLayerObjectType),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsLayer3D),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsLayer2D),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsVideoActive),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_IsLayerUsedAsTrackMatte),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_DoesLayerHaveTrackMatte),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_ConvertCompToLayerTime),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_ConvertLayerToCompTime),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerDancingRandValue),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerID, &getLayerId),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerToWorldXform, &getLayerToWorldXform),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerToWorldXformFromView),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerName),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerParent),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerParent),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_DeleteLayer),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_DuplicateLayer),
    MINIHOST_IMPLEMENTED(AEGP_LayerSuite8, AEGP_GetLayerFromLayerID, &getLayerFromLayerId),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerLabel),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerLabel),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_GetLayerSamplingQuality),
    MINIHOST_UNEXPECTED(AEGP_LayerSuite8, AEGP_SetLayerSamplingQuality),
};

const AEGP_CompSuite11 kCompSuite25{
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompFromItem),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetItemFromComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompDownsampleFactor),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompDownsampleFactor),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompBGColor),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompBGColor),
    MINIHOST_IMPLEMENTED(AEGP_CompSuite11, AEGP_GetCompFlags, &getCompFlags),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetShowLayerNameOrSourceName),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetShowLayerNameOrSourceName),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetShowBlendModes),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetShowBlendModes),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompFramerate),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompFrameRate),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompShutterAnglePhase),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompShutterFrameRange),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompSuggestedMotionBlurSamples),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompSuggestedMotionBlurSamples),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompMotionBlurAdaptiveSampleLimit),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompMotionBlurAdaptiveSampleLimit),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompWorkAreaStart),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompWorkAreaDuration),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompWorkAreaStartAndDuration),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateSolidInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateCameraInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateLightInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetNewCollectionFromCompSelection),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetSelection),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompDisplayStartTime),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompDisplayStartTime),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompDuration),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateNullInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompPixelAspectRatio),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateTextLayerInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateBoxTextLayerInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompDimensions),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_DuplicateComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompFrameDuration),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetMostRecentlyUsedComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_CreateVectorLayerInComp),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetNewCompMarkerStream),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_GetCompDisplayDropFrame),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_SetCompDisplayDropFrame),
    MINIHOST_UNEXPECTED(AEGP_CompSuite11, AEGP_ReorderCompSelection),
};

const AEGP_StreamSuite6 kStreamSuite11{
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_IsStreamLegal),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_CanVaryOverTime),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetValidInterpolations),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetNewLayerStream),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetEffectNumParamStreams),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_GetNewEffectStreamByIndex, &aegp::getNewEffectStreamByIndex),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_GetNewMaskStream, &getNewMaskStream),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_DisposeStream, &aegp::disposeStream),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetStreamName),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetStreamUnitsText),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetStreamProperties),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_IsStreamTimevarying),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetStreamType),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_GetNewStreamValue, &getNewStreamValue),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_DisposeStreamValue, &disposeStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_SetStreamValue),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite6, AEGP_GetLayerStreamValue, &getLayerStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetExpressionState),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_SetExpressionState),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetExpression),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_SetExpression),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_DuplicateStreamRef),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite6, AEGP_GetUniqueStreamID),
};

const AEGP_MaskSuite6 kLayerMaskSuite7{
    MINIHOST_IMPLEMENTED(AEGP_MaskSuite6, AEGP_GetLayerNumMasks, &getLayerNumMasks),
    MINIHOST_IMPLEMENTED(AEGP_MaskSuite6, AEGP_GetLayerMaskByIndex, &getLayerMaskByIndex),
    MINIHOST_IMPLEMENTED(AEGP_MaskSuite6, AEGP_DisposeMask, &disposeMask),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskInvert),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskInvert),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskMode),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskMode),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskMotionBlurState),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskMotionBlurState),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskFeatherFalloff),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskFeatherFalloff),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskID),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_CreateNewMask),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_DeleteMaskFromLayer),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskColor),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskColor),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskLockState),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskLockState),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_GetMaskIsRotoBezier),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_SetMaskIsRotoBezier),
    MINIHOST_UNEXPECTED(AEGP_MaskSuite6, AEGP_DuplicateMask),
};

const AEGP_MaskOutlineSuite3 kMaskOutlineSuite5{
    MINIHOST_IMPLEMENTED(AEGP_MaskOutlineSuite3, AEGP_IsMaskOutlineOpen, &isMaskOutlineOpen),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_SetMaskOutlineOpen),
    MINIHOST_IMPLEMENTED(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineNumSegments, &getMaskOutlineNumSegments),
    MINIHOST_IMPLEMENTED(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineVertexInfo, &getMaskOutlineVertexInfo),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_SetMaskOutlineVertexInfo),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_CreateVertex),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_DeleteVertex),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineNumFeathers),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineFeatherInfo),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_SetMaskOutlineFeatherInfo),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_CreateMaskOutlineFeather),
    MINIHOST_UNEXPECTED(AEGP_MaskOutlineSuite3, AEGP_DeleteMaskOutlineFeather),
};

}  // namespace

namespace aegp {

A_Err getEffectCamera(PF_ProgPtr effectRef, const A_Time* compTime, AEGP_LayerH* cameraLayer) {
    if (cameraLayer) *cameraLayer = nullptr;
    Instance* instance = nullptr;
    Host* host = HostCallbacks::resolve(effectRef, &instance);
    double seconds = 0;
    if (!host || !instance || !cameraLayer || !secondsOf(compTime, &seconds)) return A_Err_PARAMETER;
    const Composition* composition = host->composition();
    if (!composition) return A_Err_GENERIC;
    // A null layer with success is the host's way of saying the default camera applies.
    *cameraLayer = layerHandle(composition->effectCameraLayer(seconds));
    return A_Err_NONE;
}

A_Err getEffectCameraMatrix(PF_ProgPtr effectRef, const A_Time* compTime, A_Matrix4* matrix, A_FpLong* distance,
                            A_short* planeWidth, A_short* planeHeight) {
    Instance* instance = nullptr;
    Host* host = HostCallbacks::resolve(effectRef, &instance);
    double seconds = 0;
    if (!host || !instance || !matrix || !secondsOf(compTime, &seconds)) return A_Err_PARAMETER;
    const Composition* composition = host->composition();
    if (!composition) return A_Err_GENERIC;
    const EffectCamera camera = composition->effectCamera(seconds);
    copyMatrix(camera.matrix, matrix);
    if (distance) *distance = camera.distance;
    // The host reports the plane in 16-bit numbers; larger compositions do not fit.
    if (planeWidth) *planeWidth = clampToShort(camera.planeWidth);
    if (planeHeight) *planeHeight = clampToShort(camera.planeHeight);
    return A_Err_NONE;
}

}  // namespace aegp

void provideAegpCompositionSuites(Host& host) {
    host.suites().provide(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &kLayerSuite14);
    host.suites().provide(kAEGPCompSuite, kAEGPCompSuiteVersion11, &kCompSuite25);
    host.suites().provide(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, &kStreamSuite11);
    host.suites().provide(kAEGPMaskSuite, kAEGPMaskSuiteVersion6, &kLayerMaskSuite7);
    host.suites().provide(kAEGPMaskOutlineSuite, kAEGPMaskOutlineSuiteVersion3, &kMaskOutlineSuite5);
}

}  // namespace minihost
