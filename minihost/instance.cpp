// Per-instance state: value streams, layers and the checkout logs.
#include "minihost/instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AE_GeneralPlug.h"
#include "minihost/composition.h"
#include "minihost/handles.h"
#include "minihost/host.h"
#include "minihost/host_error.h"

namespace minihost {

namespace {

double scaleOf(const PF_RationalScale& scale) {
    // A zero denominator would be a host bug; read it as full resolution rather than divide by 0.
    return scale.den ? double(scale.num) / double(scale.den) : 1.0;
}

}  // namespace

PF_LRect LayerSource::extent() const {
    bool isEmpty = maxRect.left == 0 && maxRect.top == 0 && maxRect.right == 0 && maxRect.bottom == 0;
    if (!isEmpty || !world) return maxRect;
    return PF_LRect{0, 0, world->width(), world->height()};
}

A_long LayerSource::referenceWidth() const {
    return refWidth ? refWidth : (world ? world->width() : 0);
}

A_long LayerSource::referenceHeight() const {
    return refHeight ? refHeight : (world ? world->height() : 0);
}

int CheckoutLog::checkouts(PF_ParamIndex index) const {
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [&](const auto& c) { return c.index == index; }));
}

int CheckoutLog::failedCheckouts(PF_ParamIndex index) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const auto& c) { return c.index == index && c.result != PF_Err_NONE; }));
}

int CheckoutLog::checkins(PF_ParamIndex index) const {
    auto it = checkins_.find(index);
    return it == checkins_.end() ? 0 : it->second;
}

int CheckoutLog::outstanding(PF_ParamIndex index) const {
    return static_cast<int>(
        std::count_if(open_.begin(), open_.end(), [&](const auto& e) { return e.second == index; }));
}

std::vector<HostTime> CheckoutLog::times(PF_ParamIndex index) const {
    std::vector<HostTime> result;
    for (const auto& c : calls_)
        if (c.index == index) result.push_back(HostTime{c.whatTime, c.timeScale});
    return result;
}

void CheckoutLog::clear() {
    calls_.clear();
    open_.clear();
    checkins_.clear();
    totalCheckins_ = 0;
    unmatchedCheckins_ = 0;
}

void CheckoutLog::recordCheckout(const ParamCheckout& call, const PF_ParamDef* filled) {
    calls_.push_back(call);
    if (call.result == PF_Err_NONE) open_.emplace(filled, call.index);
}

void CheckoutLog::recordCheckin(const PF_ParamDef* param) {
    ++totalCheckins_;
    auto it = open_.find(param);
    if (it == open_.end()) {
        ++unmatchedCheckins_;
        return;
    }
    ++checkins_[it->second];
    open_.erase(it);
}

Instance::Instance(Host& host, int id, A_long layerWidth, A_long layerHeight)
    : host_(host), id_(id), ref_{EffectRef::kMagic, &host, this}, layerWidth_(layerWidth), layerHeight_(layerHeight) {
    syncStreams();
}

void Instance::setLayerSize(A_long width, A_long height) {
    if (width <= 0 || height <= 0)
        throw HostError("instance " + std::to_string(id_) + ": layer size " + std::to_string(width) + " x " +
                        std::to_string(height) + " is not positive");
    layerWidth_ = width;
    layerHeight_ = height;
    defaultInput_.reset();
}

std::vector<std::uint8_t> Instance::sequenceBytes() const {
    std::vector<std::uint8_t> bytes;
    HandleHeap& heap = HandleHeap::process();
    if (!sequenceData_ || !heap.isLive(sequenceData_)) return bytes;
    bytes.resize(heap.size(sequenceData_));
    if (!bytes.empty()) std::memcpy(bytes.data(), *sequenceData_, bytes.size());
    return bytes;
}

void Instance::syncStreams() {
    const auto& definitions = host_.definitions();
    while (streams_.size() < definitions.size()) streams_.emplace_back(&definitions[streams_.size()]);
}

ParamStream& Instance::param(PF_ParamIndex index) {
    syncStreams();
    if (index < 0 || static_cast<std::size_t>(index) >= streams_.size())
        throw HostError("instance " + std::to_string(id_) + ": no parameter " + std::to_string(index) +
                        " (the effect registered " + std::to_string(streams_.size()) + " including the input layer)");
    return streams_[static_cast<std::size_t>(index)];
}

ParamValue Instance::valueAt(PF_ParamIndex index, HostTime time) {
    return param(index).valueAt(time, layerWidth_, layerHeight_);
}

void Instance::fillCheckedOut(PF_ParamIndex index, HostTime time, const PF_RationalScale& downsampleX,
                              const PF_RationalScale& downsampleY, PF_ParamDef* out) {
    ParamStream& stream = param(index);
    *out = stream.definition().def;
    PF_ParamDefUnion& u = out->u;
    if (out->param_type == PF_Param_LAYER) {
        std::memset(&u.ld, 0, sizeof u.ld);
        if (const LayerSource* source = layer(index); source && source->world) u.ld = *source->world->get();
        return;
    }
    if (!stream.hasValue()) return;
    ParamValue v = stream.valueAt(time, layerWidth_, layerHeight_);
    double sx = scaleOf(downsampleX);
    double sy = scaleOf(downsampleY);
    switch (out->param_type) {
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = v.u.fs_d.value;
            break;
        case PF_Param_SLIDER:
            u.sd.value = v.u.sd.value;
            break;
        case PF_Param_POPUP:
            u.pd.value = v.u.pd.value;
            break;
        case PF_Param_CHECKBOX:
            u.bd.value = v.u.bd.value;
            break;
        case PF_Param_ANGLE:
            u.ad.value = v.u.ad.value;
            break;
        case PF_Param_COLOR:
            u.cd.value = v.u.cd.value;
            break;
        case PF_Param_POINT:
            u.td.x_value = static_cast<PF_Fixed>(std::llround(v.point[0] * sx * 65536.0));
            u.td.y_value = static_cast<PF_Fixed>(std::llround(v.point[1] * sy * 65536.0));
            break;
        case PF_Param_POINT_3D:
            // z follows the x factor: the host has no depth downsampling of its own.
            u.point3d_d.x_value = v.point[0] * sx;
            u.point3d_d.y_value = v.point[1] * sy;
            u.point3d_d.z_value = v.point[2] * sx;
            break;
        default:
            break;
    }
}

void Instance::takeChangedValue(PF_ParamIndex index, HostTime time, const PF_RationalScale& downsampleX,
                                const PF_RationalScale& downsampleY, const PF_ParamDef& changed) {
    ParamStream& stream = param(index);
    if (!stream.hasValue()) return;
    ParamValue v;
    v.type = stream.definition().def.param_type;
    v.u = changed.u;
    double sx = scaleOf(downsampleX);
    double sy = scaleOf(downsampleY);
    if (v.type == PF_Param_POINT) {
        v.point[0] = changed.u.td.x_value / 65536.0 / sx;
        v.point[1] = changed.u.td.y_value / 65536.0 / sy;
    } else if (v.type == PF_Param_POINT_3D) {
        v.point[0] = changed.u.point3d_d.x_value / sx;
        v.point[1] = changed.u.point3d_d.y_value / sy;
        v.point[2] = changed.u.point3d_d.z_value / sx;
    }
    // The effect's word is taken as it is: what it writes is what a later checkout returns, so a
    // test sees an out-of-range write rather than a silently clamped one.
    if (stream.keyframeCount() > 0)
        stream.addKeyframeUnchecked(time, v);
    else
        stream.setUnchecked(v);
}

void Instance::setInputLayer(World& world) {
    setLayer(0, world);
}

void Instance::setLayer(PF_ParamIndex index, World& world) {
    LayerSource source;
    source.world = &world;
    setLayer(index, source);
}

void Instance::setLayer(PF_ParamIndex index, const LayerSource& source) {
    ParamStream& stream = param(index);
    if (stream.definition().def.param_type != PF_Param_LAYER)
        throw HostError("instance " + std::to_string(id_) + ": " + stream.definition().label() + " is a " +
                        paramTypeName(stream.definition().def.param_type) + ", not a layer parameter");
    layers_[index] = source;
}

void Instance::clearLayer(PF_ParamIndex index) {
    layers_.erase(index);
}

const LayerSource* Instance::layer(PF_ParamIndex index) {
    if (auto it = layers_.find(index); it != layers_.end()) return &it->second;
    if (index != 0) return nullptr;
    // The host always has the effect's own layer; a test that did not choose one gets a
    // transparent one of the layer's size.
    if (!defaultInput_) defaultInput_ = std::make_unique<World>(layerWidth_, layerHeight_, 8);
    defaultInputSource_ = LayerSource{defaultInput_.get(), {0, 0, 0, 0}, 0, 0};
    return &defaultInputSource_;
}

int Instance::pixelCheckoutsOutstanding() const {
    return static_cast<int>(std::count_if(pixelCheckouts_.begin(), pixelCheckouts_.end(), [](const PixelCheckout& c) {
        return c.result == PF_Err_NONE && !c.checkedIn;
    }));
}

}  // namespace minihost

namespace minihost {

std::uint32_t Instance::dynamicStreamFlags(PF_ParamIndex index) const {
    auto it = dynamicFlags_.find(index);
    return it == dynamicFlags_.end() ? 0u : it->second;
}

void Instance::setDynamicStreamFlag(PF_ParamIndex index, std::uint32_t flag, bool isSet) {
    std::uint32_t& flags = dynamicFlags_[index];
    flags = isSet ? (flags | flag) : (flags & ~flag);
    // The composition keeps the effect layer's flags too, for whoever reads the layer rather than
    // the instance.
    if (Composition* composition = host_.composition(); composition && layerId_ != 0)
        if (Layer* layer = composition->layerById(layerId_)) layer->dynamicStreamFlags[index] = flags;
}

bool Instance::isHidden(PF_ParamIndex index) const {
    return (dynamicStreamFlags(index) & AEGP_DynStreamFlag_HIDDEN) != 0;
}

}  // namespace minihost
