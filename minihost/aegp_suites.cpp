// The AEGP suites that edit the effect's parameter streams; see aegp_suites.h.
#include "minihost/aegp_suites.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "minihost/aegp_shared.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost/host_callbacks.h"
#include "minihost/host_error.h"
#include "minihost/unexpected_slot.h"

namespace minihost {

namespace {

template <typename T, typename H>
T* findLive(const std::vector<std::unique_ptr<T>>& objects, H handle) {
    if (!handle) return nullptr;
    for (const auto& object : objects)
        if (reinterpret_cast<H>(object.get()) == handle) return object->isLive ? object.get() : nullptr;
    return nullptr;
}

// Any object this host made for a handle, disposed or not.
template <typename T, typename H>
T* findAny(const std::vector<std::unique_ptr<T>>& objects, H handle) {
    if (!handle) return nullptr;
    for (const auto& object : objects)
        if (reinterpret_cast<H>(object.get()) == handle) return object.get();
    return nullptr;
}

template <typename T>
int countLive(const std::vector<std::unique_ptr<T>>& objects) {
    int live = 0;
    for (const auto& object : objects) live += object->isLive ? 1 : 0;
    return live;
}

A_long startInUnits(Host& host, const Instance& instance, A_u_long scale) {
    return static_cast<A_long>(std::llround(aegp::layerStartSeconds(host, instance) * double(scale)));
}

// ---- PF Interface Suite 1

A_Err getEffectLayer(PF_ProgPtr effectRef, AEGP_LayerH* layer) {
    Instance* instance = nullptr;
    Host* host = HostCallbacks::resolve(effectRef, &instance);
    if (!host || !instance || !layer) return A_Err_PARAMETER;
    // The layer handle is opaque to the effect: the composition's layer when there is one, else
    // the instance stands for its own layer.
    Layer* compLayer = host->composition() ? host->composition()->layerById(instance->layerId()) : nullptr;
    *layer = compLayer ? reinterpret_cast<AEGP_LayerH>(compLayer) : reinterpret_cast<AEGP_LayerH>(instance);
    return A_Err_NONE;
}

A_Err getNewEffectForEffect(AEGP_PluginID, PF_ProgPtr effectRef, AEGP_EffectRefH* effect) {
    if (effect) *effect = nullptr;
    Instance* instance = nullptr;
    Host* host = HostCallbacks::resolve(effectRef, &instance);
    if (!host || !instance || !effect) return A_Err_PARAMETER;
    *effect = reinterpret_cast<AEGP_EffectRefH>(host->aegp().newEffect(instance));
    return A_Err_NONE;
}

A_Err convertEffectToCompTime(PF_ProgPtr effectRef, A_long whatTime, A_u_long timeScale, A_Time* compTime) {
    Instance* instance = nullptr;
    Host* host = HostCallbacks::resolve(effectRef, &instance);
    if (!host || !instance || !compTime) return A_Err_PARAMETER;
    compTime->value = whatTime + startInUnits(*host, *instance, timeScale);
    compTime->scale = timeScale;
    return A_Err_NONE;
}

// ---- Dynamic Stream Suite 2, Effect Suite 4 (Stream Suite 7 is in namespace aegp below)

A_Err setDynamicStreamFlag(AEGP_StreamRefH streamHandle, AEGP_DynStreamFlags flag, A_Boolean, A_Boolean isSet) {
    Host* host = Host::active();
    AegpState::StreamHandle* stream = host ? host->aegp().stream(streamHandle) : nullptr;
    if (!stream) return A_Err_PARAMETER;
    stream->instance->setDynamicStreamFlag(stream->index, flag, isSet != 0);
    return A_Err_NONE;
}

A_Err disposeEffect(AEGP_EffectRefH effectHandle) {
    Host* host = Host::active();
    AegpState::EffectHandle* effect = host ? host->aegp().effect(effectHandle) : nullptr;
    if (!effect) return A_Err_PARAMETER;
    effect->isLive = false;
    return A_Err_NONE;
}

// ---- Keyframe Suite 4

A_Err getStreamNumKfs(AEGP_StreamRefH streamHandle, A_long* count) {
    Host* host = Host::active();
    AegpState::StreamHandle* stream = host ? host->aegp().stream(streamHandle) : nullptr;
    if (!stream || !count) return A_Err_PARAMETER;
    *count = static_cast<A_long>(stream->instance->param(stream->index).keyframeCount());
    return A_Err_NONE;
}

A_Err deleteKeyframe(AEGP_StreamRefH streamHandle, AEGP_KeyframeIndex keyIndex) {
    Host* host = Host::active();
    AegpState::StreamHandle* stream = host ? host->aegp().stream(streamHandle) : nullptr;
    if (!stream) return A_Err_PARAMETER;
    ParamStream& values = stream->instance->param(stream->index);
    if (keyIndex < 0 || static_cast<std::size_t>(keyIndex) >= values.keyframeCount()) return A_Err_PARAMETER;
    values.deleteKeyframe(static_cast<std::size_t>(keyIndex));
    stream->instance->noteKeyframeEdit(stream->index);
    return A_Err_NONE;
}

A_Err startAddKeyframes(AEGP_StreamRefH streamHandle, AEGP_AddKeyframesInfoH* info) {
    if (info) *info = nullptr;
    Host* host = Host::active();
    AegpState::StreamHandle* stream = host ? host->aegp().stream(streamHandle) : nullptr;
    if (!stream || !info) return A_Err_PARAMETER;
    if (!stream->instance->param(stream->index).hasValue()) return A_Err_PARAMETER;
    *info = reinterpret_cast<AEGP_AddKeyframesInfoH>(host->aegp().newAddKeyframes(stream));
    return A_Err_NONE;
}

A_Err addKeyframesAt(AEGP_AddKeyframesInfoH infoHandle, AEGP_LTimeMode timeMode, const A_Time* time, A_long* keyIndex) {
    Host* host = Host::active();
    AegpState::AddKeyframes* add = host ? host->aegp().addKeyframes(infoHandle) : nullptr;
    if (!add || !time || time->scale == 0) return A_Err_PARAMETER;
    if (timeMode != AEGP_LTimeMode_LayerTime && timeMode != AEGP_LTimeMode_CompTime) return A_Err_PARAMETER;
    HostTime at{time->value, time->scale};
    if (timeMode == AEGP_LTimeMode_CompTime) at.value -= startInUnits(*host, *add->stream->instance, time->scale);
    // The index names the key within this batch; SetAddKeyframe takes it back.
    add->keys.push_back(AegpState::PendingKey{at, {}, false});
    if (keyIndex) *keyIndex = static_cast<A_long>(add->keys.size() - 1);
    return A_Err_NONE;
}

A_Err setAddKeyframe(AEGP_AddKeyframesInfoH infoHandle, A_long keyIndex, const AEGP_StreamValue2* value) {
    Host* host = Host::active();
    AegpState::AddKeyframes* add = host ? host->aegp().addKeyframes(infoHandle) : nullptr;
    if (!add || !value || keyIndex < 0 || static_cast<std::size_t>(keyIndex) >= add->keys.size())
        return A_Err_PARAMETER;
    add->keys[static_cast<std::size_t>(keyIndex)].value = *value;
    add->keys[static_cast<std::size_t>(keyIndex)].hasValue = true;
    return A_Err_NONE;
}

A_Err endAddKeyframes(A_Boolean isAdding, AEGP_AddKeyframesInfoH infoHandle) {
    Host* host = Host::active();
    AegpState::AddKeyframes* add = host ? host->aegp().addKeyframes(infoHandle) : nullptr;
    if (!add) return A_Err_PARAMETER;
    add->isLive = false;
    if (!isAdding) return A_Err_NONE;
    Instance& instance = *add->stream->instance;
    ParamStream& values = instance.param(add->stream->index);
    try {
        for (const AegpState::PendingKey& key : add->keys) {
            // A key whose value was never set takes the stream's value at its time, as the host does.
            ParamValue value = key.hasValue ? streamValueToParamValue(values.definition(), key.value)
                                            : values.valueAt(key.time, instance.layerWidth(), instance.layerHeight());
            values.addKeyframe(key.time, value);
        }
    } catch (const HostError&) {
        return A_Err_PARAMETER;  // a value outside the parameter's range
    }
    if (!add->keys.empty()) instance.noteKeyframeEdit(add->stream->index);
    return A_Err_NONE;
}

A_Err setKeyframeInterpolation(AEGP_StreamRefH streamHandle, AEGP_KeyframeIndex keyIndex,
                               AEGP_KeyframeInterpolationType inInterp, AEGP_KeyframeInterpolationType outInterp) {
    Host* host = Host::active();
    AegpState::StreamHandle* stream = host ? host->aegp().stream(streamHandle) : nullptr;
    if (!stream) return A_Err_PARAMETER;
    ParamStream& values = stream->instance->param(stream->index);
    if (keyIndex < 0 || static_cast<std::size_t>(keyIndex) >= values.keyframeCount()) return A_Err_PARAMETER;
    // The streams know linear and hold segments, each led by the key's outgoing interpolation;
    // Bézier keys are played as linear ones.
    (void)inInterp;
    Interpolation interpolation;
    switch (outInterp) {
        case AEGP_KeyInterp_LINEAR:
        case AEGP_KeyInterp_BEZIER:
            interpolation = Interpolation::Linear;
            break;
        case AEGP_KeyInterp_HOLD:
            interpolation = Interpolation::Hold;
            break;
        default:
            return A_Err_PARAMETER;
    }
    values.setKeyframeInterpolation(static_cast<std::size_t>(keyIndex), interpolation);
    stream->instance->noteKeyframeEdit(stream->index);
    return A_Err_NONE;
}

const AEGP_PFInterfaceSuite1 kPfInterfaceSuite1{
    MINIHOST_IMPLEMENTED(AEGP_PFInterfaceSuite1, AEGP_GetEffectLayer, &getEffectLayer),
    MINIHOST_IMPLEMENTED(AEGP_PFInterfaceSuite1, AEGP_GetNewEffectForEffect, &getNewEffectForEffect),
    MINIHOST_IMPLEMENTED(AEGP_PFInterfaceSuite1, AEGP_ConvertEffectToCompTime, &convertEffectToCompTime),
    MINIHOST_IMPLEMENTED(AEGP_PFInterfaceSuite1, AEGP_GetEffectCamera, &aegp::getEffectCamera),
    MINIHOST_IMPLEMENTED(AEGP_PFInterfaceSuite1, AEGP_GetEffectCameraMatrix, &aegp::getEffectCameraMatrix),
};

const AEGP_StreamSuite2 kStreamSuite7{
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_IsStreamLegal),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_CanVaryOverTime),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetValidInterpolations),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetNewLayerStream),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetEffectNumParamStreams),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite2, AEGP_GetNewEffectStreamByIndex, &aegp::getNewEffectStreamByIndex),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetNewMaskStream),
    MINIHOST_IMPLEMENTED(AEGP_StreamSuite2, AEGP_DisposeStream, &aegp::disposeStream),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetStreamName),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetStreamUnitsText),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetStreamProperties),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_IsStreamTimevarying),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetStreamType),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetNewStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_DisposeStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_SetStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetLayerStreamValue),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetExpressionState),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_SetExpressionState),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_GetExpression),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_SetExpression),
    MINIHOST_UNEXPECTED(AEGP_StreamSuite2, AEGP_DuplicateStreamRef),
};

const AEGP_DynamicStreamSuite2 kDynamicStreamSuite2{
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetNewStreamRefForLayer),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetStreamDepth),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetStreamGroupingType),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetNumStreamsInGroup),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetDynamicStreamFlags),
    MINIHOST_IMPLEMENTED(AEGP_DynamicStreamSuite2, AEGP_SetDynamicStreamFlag, &setDynamicStreamFlag),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetNewStreamRefByIndex),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetNewStreamRefByMatchname),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_DeleteStream),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_ReorderStream),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_DuplicateStream),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_SetStreamName),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_CanAddStream),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_AddStream),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetMatchName),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetNewParentStreamRef),
    MINIHOST_UNEXPECTED(AEGP_DynamicStreamSuite2, AEGP_GetStreamIsModified),
};

const AEGP_EffectSuite4 kEffectSuite4{
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetLayerNumEffects),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetLayerEffectByIndex),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetInstalledKeyFromLayerEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectParamUnionByIndex),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectFlags),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_SetEffectFlags),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_ReorderEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_EffectCallGeneric),
    MINIHOST_IMPLEMENTED(AEGP_EffectSuite4, AEGP_DisposeEffect, &disposeEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_ApplyEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_DeleteLayerEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetNumInstalledEffects),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetNextInstalledEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectName),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectMatchName),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectCategory),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_DuplicateEffect),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_NumEffectMask),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_GetEffectMaskID),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_AddEffectMask),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_RemoveEffectMask),
    MINIHOST_UNEXPECTED(AEGP_EffectSuite4, AEGP_SetEffectMask),
};

const AEGP_KeyframeSuite4 kKeyframeSuite4{
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_GetStreamNumKFs, &getStreamNumKfs),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetKeyframeTime),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_InsertKeyframe),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_DeleteKeyframe, &deleteKeyframe),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetNewKeyframeValue),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_SetKeyframeValue),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetStreamValueDimensionality),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetStreamTemporalDimensionality),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetNewKeyframeSpatialTangents),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_SetKeyframeSpatialTangents),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetKeyframeTemporalEase),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_SetKeyframeTemporalEase),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetKeyframeFlags),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_SetKeyframeFlag),
    MINIHOST_UNEXPECTED(AEGP_KeyframeSuite4, AEGP_GetKeyframeInterpolation),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_SetKeyframeInterpolation, &setKeyframeInterpolation),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_StartAddKeyframes, &startAddKeyframes),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_AddKeyframes, &addKeyframesAt),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_SetAddKeyframe, &setAddKeyframe),
    MINIHOST_IMPLEMENTED(AEGP_KeyframeSuite4, AEGP_EndAddKeyframes, &endAddKeyframes),
};

A_u_char unitToByte(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 1.0) return 255;
    return static_cast<A_u_char>(std::lround(value * 255.0));
}

}  // namespace

namespace aegp {

double layerStartSeconds(Host& host, const Instance& instance) {
    const Composition* composition = host.composition();
    if (!composition || instance.layerId() == 0) return 0.0;
    const Layer* layer = composition->layerById(instance.layerId());
    return layer ? layer->startSeconds : 0.0;
}

A_Err getNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effectHandle, PF_ParamIndex index,
                                AEGP_StreamRefH* stream) {
    if (stream) *stream = nullptr;
    Host* host = Host::active();
    if (!host || !stream) return A_Err_PARAMETER;
    AegpState::EffectHandle* effect = host->aegp().effect(effectHandle);
    if (!effect) return A_Err_PARAMETER;
    if (index < 0 || static_cast<std::size_t>(index) >= host->definitions().size()) return A_Err_PARAMETER;
    *stream = reinterpret_cast<AEGP_StreamRefH>(host->aegp().newStream(effect->instance, index));
    return A_Err_NONE;
}

A_Err disposeStream(AEGP_StreamRefH streamHandle) {
    Host* host = Host::active();
    if (!host) return A_Err_PARAMETER;
    if (AegpState::StreamHandle* stream = host->aegp().stream(streamHandle)) {
        stream->isLive = false;
        return A_Err_NONE;
    }
    if (AegpState::MaskStreamHandle* stream = host->aegp().maskStream(streamHandle)) {
        stream->isLive = false;
        return A_Err_NONE;
    }
    return A_Err_PARAMETER;
}

}  // namespace aegp

AegpState::EffectHandle* AegpState::newEffect(Instance* instance) {
    effects_.push_back(std::make_unique<EffectHandle>(EffectHandle{instance, true}));
    return effects_.back().get();
}

AegpState::StreamHandle* AegpState::newStream(Instance* instance, PF_ParamIndex index) {
    streams_.push_back(std::make_unique<StreamHandle>(StreamHandle{instance, index, true}));
    return streams_.back().get();
}

AegpState::AddKeyframes* AegpState::newAddKeyframes(StreamHandle* stream) {
    adds_.push_back(std::make_unique<AddKeyframes>(AddKeyframes{stream, {}, true}));
    return adds_.back().get();
}

AegpState::MaskHandle* AegpState::newMask(int layerId, int maskIndex) {
    masks_.push_back(std::make_unique<MaskHandle>(MaskHandle{layerId, maskIndex, true}));
    return masks_.back().get();
}

AegpState::MaskStreamHandle* AegpState::newMaskStream(int layerId, int maskIndex) {
    maskStreams_.push_back(std::make_unique<MaskStreamHandle>(MaskStreamHandle{layerId, maskIndex, true}));
    return maskStreams_.back().get();
}

AegpState::OutlineHandle* AegpState::newOutline(const Mask& outline) {
    outlines_.push_back(std::make_unique<OutlineHandle>(OutlineHandle{outline, true}));
    return outlines_.back().get();
}

AegpState::EffectHandle* AegpState::effect(AEGP_EffectRefH handle) {
    return findLive(effects_, handle);
}

AegpState::StreamHandle* AegpState::stream(AEGP_StreamRefH handle) {
    return findLive(streams_, handle);
}

AegpState::AddKeyframes* AegpState::addKeyframes(AEGP_AddKeyframesInfoH handle) {
    AddKeyframes* add = findLive(adds_, handle);
    // A batch outlives a disposed stream only as long as the effect does not use it.
    return add && add->stream->isLive ? add : nullptr;
}

AegpState::MaskHandle* AegpState::mask(AEGP_MaskRefH handle) {
    return findLive(masks_, handle);
}

AegpState::MaskStreamHandle* AegpState::maskStream(AEGP_StreamRefH handle) {
    return findLive(maskStreams_, handle);
}

AegpState::OutlineHandle* AegpState::outline(AEGP_MaskOutlineValH handle) {
    return findLive(outlines_, handle);
}

AegpState::StreamHandle* AegpState::anyStream(AEGP_StreamRefH handle) {
    return findAny(streams_, handle);
}

AegpState::MaskStreamHandle* AegpState::anyMaskStream(AEGP_StreamRefH handle) {
    return findAny(maskStreams_, handle);
}

void AegpState::noteSlotCall(const std::string& name) {
    if (std::find(slotsCalled_.begin(), slotsCalled_.end(), name) == slotsCalled_.end()) slotsCalled_.push_back(name);
}

int AegpState::liveEffects() const {
    return countLive(effects_);
}

int AegpState::liveStreams() const {
    return countLive(streams_) + countLive(maskStreams_);
}

int AegpState::liveMasks() const {
    return countLive(masks_);
}

int AegpState::liveStreamValues() const {
    int live = countLive(outlines_);
    for (const auto& stream : streams_) live += stream->liveValues;
    return live;
}

int AegpState::liveAddKeyframes() const {
    return countLive(adds_);
}

ParamValue streamValueToParamValue(const ParamDefinition& definition, const AEGP_StreamValue2& value) {
    const AEGP_StreamVal2& v = value.val;
    switch (definition.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return ParamValue::floatSlider(v.one_d);
        case PF_Param_SLIDER:
            return ParamValue::slider(static_cast<A_long>(std::lround(v.one_d)));
        case PF_Param_POPUP:
            return ParamValue::popup(static_cast<A_long>(std::lround(v.one_d)));
        case PF_Param_CHECKBOX:
            return ParamValue::checkboxRaw(static_cast<A_long>(std::lround(v.one_d)));
        case PF_Param_ANGLE:
            return ParamValue::angleDegrees(v.one_d);
        case PF_Param_COLOR:
            return ParamValue::color(unitToByte(v.color.redF), unitToByte(v.color.greenF), unitToByte(v.color.blueF),
                                     unitToByte(v.color.alphaF));
        case PF_Param_POINT:
            return ParamValue::point2D(v.two_d.x, v.two_d.y);
        case PF_Param_POINT_3D:
            return ParamValue::point3D(v.three_d.x, v.three_d.y, v.three_d.z);
        default:
            throw HostError(definition.label() + " holds no value a stream value can set");
    }
}

AEGP_StreamVal2 paramValueToStreamValue(const ParamDefinition& definition, const ParamValue& value) {
    AEGP_StreamVal2 v;
    std::memset(&v, 0, sizeof v);
    switch (definition.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            v.one_d = value.u.fs_d.value;
            break;
        case PF_Param_SLIDER:
            v.one_d = value.u.sd.value;
            break;
        case PF_Param_POPUP:
            v.one_d = value.u.pd.value;
            break;
        case PF_Param_CHECKBOX:
            v.one_d = value.u.bd.value;
            break;
        case PF_Param_ANGLE:
            v.one_d = value.u.ad.value / 65536.0;
            break;
        case PF_Param_COLOR: {
            const PF_Pixel& c = value.u.cd.value;
            v.color = AEGP_ColorVal{c.alpha / 255.0, c.red / 255.0, c.green / 255.0, c.blue / 255.0};
            break;
        }
        case PF_Param_POINT:
            v.two_d = AEGP_TwoDVal{value.point[0], value.point[1]};
            break;
        case PF_Param_POINT_3D:
            v.three_d = AEGP_ThreeDVal{value.point[0], value.point[1], value.point[2]};
            break;
        default:
            throw HostError(definition.label() + " has no value a stream value can hold");
    }
    return v;
}

void provideAegpSuites(Host& host) {
    host.suites().provide(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &kPfInterfaceSuite1);
    host.suites().provide(kAEGPStreamSuite, kAEGPStreamSuiteVersion2, &kStreamSuite7);
    host.suites().provide(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2, &kDynamicStreamSuite2);
    host.suites().provide(kAEGPEffectSuite, kAEGPEffectSuiteVersion4, &kEffectSuite4);
    host.suites().provide(kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4, &kKeyframeSuite4);
}

}  // namespace minihost
