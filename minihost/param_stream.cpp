// Definitions, values, validation and interpolation of parameter streams.
#include "minihost/param_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "minihost/host_error.h"

namespace minihost {

namespace {

std::string formatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

double lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

// Integer-valued fields interpolate in double and round to the nearest step, as the host does for
// fixed-point angles and 8-bit colour channels.
A_long lerpRounded(A_long a, A_long b, double f) {
    return static_cast<A_long>(std::llround(lerp(a, b, f)));
}

}  // namespace

ParamDefinition::ParamDefinition(PF_ParamIndex index, const PF_ParamDef& registered) : index(index), def(registered) {
    if (def.param_type == PF_Param_POPUP && def.u.pd.u.namesptr) popupChoices = def.u.pd.u.namesptr;
    if (def.param_type == PF_Param_CHECKBOX && def.u.bd.u.nameptr) checkboxLabel = def.u.bd.u.nameptr;
    // The name field is fixed-size; a definition without a terminator would run off its end.
    def.name[sizeof def.name - 1] = '\0';
    repointStrings();
}

ParamDefinition::ParamDefinition(const ParamDefinition& other)
    : index(other.index), def(other.def), popupChoices(other.popupChoices), checkboxLabel(other.checkboxLabel) {
    repointStrings();
}

ParamDefinition& ParamDefinition::operator=(const ParamDefinition& other) {
    if (this != &other) {
        index = other.index;
        def = other.def;
        popupChoices = other.popupChoices;
        checkboxLabel = other.checkboxLabel;
        repointStrings();
    }
    return *this;
}

void ParamDefinition::repointStrings() {
    if (def.param_type == PF_Param_POPUP && (def.u.pd.u.namesptr || !popupChoices.empty()))
        def.u.pd.u.namesptr = popupChoices.c_str();
    if (def.param_type == PF_Param_CHECKBOX && (def.u.bd.u.nameptr || !checkboxLabel.empty()))
        def.u.bd.u.nameptr = checkboxLabel.c_str();
}

std::string ParamDefinition::label() const {
    return "parameter " + std::to_string(index) + " \"" + std::string(def.name) + "\"";
}

std::vector<std::string> ParamDefinition::choiceNames() const {
    std::vector<std::string> names;
    if (def.param_type != PF_Param_POPUP) return names;
    std::size_t start = 0;
    while (true) {
        std::size_t bar = popupChoices.find('|', start);
        names.push_back(popupChoices.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return names;
}

const char* paramTypeName(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return "layer";
        case PF_Param_SLIDER:
            return "slider";
        case PF_Param_FIX_SLIDER:
            return "fixed slider";
        case PF_Param_ANGLE:
            return "angle";
        case PF_Param_CHECKBOX:
            return "checkbox";
        case PF_Param_COLOR:
            return "colour";
        case PF_Param_POINT:
            return "point";
        case PF_Param_POPUP:
            return "popup";
        case PF_Param_CUSTOM:
            return "custom";
        case PF_Param_NO_DATA:
            return "no-data";
        case PF_Param_FLOAT_SLIDER:
            return "float slider";
        case PF_Param_ARBITRARY_DATA:
            return "arbitrary data";
        case PF_Param_PATH:
            return "path";
        case PF_Param_GROUP_START:
            return "group start";
        case PF_Param_GROUP_END:
            return "group end";
        case PF_Param_BUTTON:
            return "button";
        case PF_Param_POINT_3D:
            return "3-D point";
        default:
            return "unknown type";
    }
}

ParamValue ParamValue::floatSlider(double value) {
    ParamValue v;
    v.type = PF_Param_FLOAT_SLIDER;
    v.u.fs_d.value = value;
    return v;
}

ParamValue ParamValue::slider(A_long value) {
    ParamValue v;
    v.type = PF_Param_SLIDER;
    v.u.sd.value = value;
    return v;
}

ParamValue ParamValue::popup(A_long choice) {
    ParamValue v;
    v.type = PF_Param_POPUP;
    v.u.pd.value = choice;
    return v;
}

ParamValue ParamValue::checkbox(bool checked) {
    return checkboxRaw(checked ? 1 : 0);
}

ParamValue ParamValue::checkboxRaw(A_long value) {
    ParamValue v;
    v.type = PF_Param_CHECKBOX;
    v.u.bd.value = value;
    return v;
}

ParamValue ParamValue::angleDegrees(double degrees) {
    double fixed = std::nearbyint(degrees * 65536.0);
    if (!(std::fabs(fixed) <= 2147483647.0))
        throw HostError("angle of " + formatNumber(degrees) + " degrees does not fit 16.16 fixed point");
    return angleFixed(static_cast<PF_Fixed>(fixed));
}

ParamValue ParamValue::angleFixed(PF_Fixed fixed) {
    ParamValue v;
    v.type = PF_Param_ANGLE;
    v.u.ad.value = fixed;
    return v;
}

ParamValue ParamValue::color(A_u_char red, A_u_char green, A_u_char blue, A_u_char alpha) {
    ParamValue v;
    v.type = PF_Param_COLOR;
    v.u.cd.value = PF_Pixel{alpha, red, green, blue};
    return v;
}

ParamValue ParamValue::point2D(double xPixels, double yPixels) {
    ParamValue v;
    v.type = PF_Param_POINT;
    v.point[0] = xPixels;
    v.point[1] = yPixels;
    return v;
}

ParamValue ParamValue::point3D(double xPixels, double yPixels, double zPixels) {
    ParamValue v;
    v.type = PF_Param_POINT_3D;
    v.point[0] = xPixels;
    v.point[1] = yPixels;
    v.point[2] = zPixels;
    return v;
}

double ParamValue::asDouble() const {
    switch (type) {
        case PF_Param_FLOAT_SLIDER:
            return u.fs_d.value;
        case PF_Param_SLIDER:
            return u.sd.value;
        case PF_Param_POPUP:
            return u.pd.value;
        case PF_Param_CHECKBOX:
            return u.bd.value;
        case PF_Param_ANGLE:
            return u.ad.value / 65536.0;
        default:
            return point[0];
    }
}

ParamValue defaultValue(const ParamDefinition& definition) {
    const PF_ParamDefUnion& d = definition.def.u;
    switch (definition.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return ParamValue::floatSlider(d.fs_d.dephault);
        case PF_Param_SLIDER:
            return ParamValue::slider(d.sd.dephault);
        case PF_Param_POPUP:
            return ParamValue::popup(d.pd.dephault);
        case PF_Param_CHECKBOX:
            return ParamValue::checkboxRaw(d.bd.dephault);
        case PF_Param_ANGLE:
            return ParamValue::angleFixed(d.ad.dephault);
        case PF_Param_COLOR: {
            ParamValue v;
            v.type = PF_Param_COLOR;
            v.u.cd.value = d.cd.dephault;
            return v;
        }
        case PF_Param_POINT:
            return ParamValue::point2D(d.td.x_dephault / 65536.0, d.td.y_dephault / 65536.0);
        case PF_Param_POINT_3D:
            return ParamValue::point3D(d.point3d_d.x_dephault, d.point3d_d.y_dephault, d.point3d_d.z_dephault);
        default: {
            ParamValue v;
            v.type = definition.def.param_type;
            return v;
        }
    }
}

std::string validateValue(const ParamDefinition& definition, const ParamValue& value) {
    const PF_ParamDef& def = definition.def;
    if (value.type != def.param_type)
        return definition.label() + " is a " + paramTypeName(def.param_type) + "; a " + paramTypeName(value.type) +
               " value was given";
    auto outside = [&](const std::string& shown, double low, double high) {
        return definition.label() + ": " + shown + " is outside its range " + formatNumber(low) + " to " +
               formatNumber(high);
    };
    switch (def.param_type) {
        case PF_Param_FLOAT_SLIDER: {
            double v = value.u.fs_d.value;
            if (!std::isfinite(v)) return definition.label() + ": " + formatNumber(v) + " is not a finite number";
            // The range is registered in float; compare in float so that 0.1 is inside 0.1 … 5.
            float f = static_cast<float>(v);
            if (f < def.u.fs_d.valid_min || f > def.u.fs_d.valid_max)
                return outside(formatNumber(v), def.u.fs_d.valid_min, def.u.fs_d.valid_max);
            return {};
        }
        case PF_Param_SLIDER:
            if (value.u.sd.value < def.u.sd.valid_min || value.u.sd.value > def.u.sd.valid_max)
                return outside(std::to_string(value.u.sd.value), def.u.sd.valid_min, def.u.sd.valid_max);
            return {};
        case PF_Param_POPUP:
            if (value.u.pd.value < 1 || value.u.pd.value > def.u.pd.num_choices)
                return outside("choice " + std::to_string(value.u.pd.value), 1, def.u.pd.num_choices);
            return {};
        case PF_Param_CHECKBOX:
            if (value.u.bd.value != 0 && value.u.bd.value != 1)
                return definition.label() + ": " + std::to_string(value.u.bd.value) + " is neither 0 nor 1";
            return {};
        case PF_Param_ANGLE:
            // An angle registered with an empty range (both bounds 0) takes any number of turns.
            if (def.u.ad.valid_min < def.u.ad.valid_max &&
                (value.u.ad.value < def.u.ad.valid_min || value.u.ad.value > def.u.ad.valid_max))
                return outside(formatNumber(value.u.ad.value / 65536.0) + " degrees", def.u.ad.valid_min / 65536.0,
                               def.u.ad.valid_max / 65536.0);
            return {};
        case PF_Param_POINT:
        case PF_Param_POINT_3D:
            for (int axis = 0; axis < (def.param_type == PF_Param_POINT ? 2 : 3); ++axis)
                if (!std::isfinite(value.point[axis]))
                    return definition.label() + ": coordinate " + std::to_string(axis) + " is not a finite number";
            return {};
        case PF_Param_COLOR:
            return {};
        default:
            return definition.label() + " is a " + paramTypeName(def.param_type) + " and holds no value";
    }
}

ParamStream::ParamStream(const ParamDefinition* definition)
    : definition_(definition), static_(defaultValue(*definition)) {}

bool ParamStream::hasValue() const {
    switch (definition_->def.param_type) {
        case PF_Param_FLOAT_SLIDER:
        case PF_Param_SLIDER:
        case PF_Param_POPUP:
        case PF_Param_CHECKBOX:
        case PF_Param_ANGLE:
        case PF_Param_COLOR:
        case PF_Param_POINT:
        case PF_Param_POINT_3D:
            return true;
        default:
            return false;
    }
}

void ParamStream::requireType(const ParamValue& value, const char* what) const {
    if (!hasValue())
        throw HostError(std::string("cannot ") + what + " " + definition_->label() + ": a " +
                        paramTypeName(definition_->def.param_type) + " holds no value");
    if (value.type != definition_->def.param_type)
        throw HostError(std::string("cannot ") + what + " " + definition_->label() + ": it is a " +
                        paramTypeName(definition_->def.param_type) + ", the value a " + paramTypeName(value.type));
}

void ParamStream::store(const ParamValue& value) {
    static_ = value;
    atDefault_ = false;
    keys_.clear();
}

void ParamStream::set(const ParamValue& value) {
    requireType(value, "set");
    if (std::string problem = validateValue(*definition_, value); !problem.empty()) throw HostError(problem);
    store(value);
}

void ParamStream::setUnchecked(const ParamValue& value) {
    requireType(value, "set");
    store(value);
}

void ParamStream::insertKey(HostTime time, const ParamValue& value, Interpolation interpolation) {
    if (time.scale == 0) throw HostError("keyframe of " + definition_->label() + " at a time scale of 0");
    Keyframe key{time.seconds(), time, value, interpolation};
    auto at = std::find_if(keys_.begin(), keys_.end(), [&](const Keyframe& k) { return k.seconds >= key.seconds; });
    if (at != keys_.end() && at->seconds == key.seconds)
        *at = key;
    else
        keys_.insert(at, key);
    atDefault_ = false;
}

void ParamStream::addKeyframe(HostTime time, const ParamValue& value, Interpolation interpolation) {
    requireType(value, "key");
    if (std::string problem = validateValue(*definition_, value); !problem.empty()) throw HostError(problem);
    insertKey(time, value, interpolation);
}

void ParamStream::addKeyframeUnchecked(HostTime time, const ParamValue& value, Interpolation interpolation) {
    requireType(value, "key");
    insertKey(time, value, interpolation);
}

void ParamStream::clearKeyframes() {
    if (keys_.empty()) return;
    static_ = keys_.front().value;
    keys_.clear();
}

void ParamStream::deleteKeyframe(std::size_t i) {
    if (i >= keys_.size())
        throw HostError("no keyframe " + std::to_string(i) + " of " + definition_->label() + " (it has " +
                        std::to_string(keys_.size()) + ")");
    if (keys_.size() == 1) static_ = keys_.front().value;
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
}

void ParamStream::setKeyframeInterpolation(std::size_t i, Interpolation interpolation) {
    if (i >= keys_.size())
        throw HostError("no keyframe " + std::to_string(i) + " of " + definition_->label() + " (it has " +
                        std::to_string(keys_.size()) + ")");
    keys_[i].interpolation = interpolation;
}

ParamValue ParamStream::resolved(const ParamValue& value, A_long layerWidth, A_long layerHeight) const {
    if (!atDefault_ || (value.type != PF_Param_POINT && value.type != PF_Param_POINT_3D)) return value;
    ParamValue pixels = value;
    pixels.point[0] = value.point[0] * 0.01 * layerWidth;
    pixels.point[1] = value.point[1] * 0.01 * layerHeight;
    return pixels;
}

ParamValue ParamStream::valueAt(HostTime time, A_long layerWidth, A_long layerHeight) const {
    if (keys_.empty()) return resolved(static_, layerWidth, layerHeight);
    double t = time.seconds();
    if (t <= keys_.front().seconds) return keys_.front().value;
    if (t >= keys_.back().seconds) return keys_.back().value;

    auto next = std::find_if(keys_.begin(), keys_.end(), [&](const Keyframe& k) { return k.seconds > t; });
    const Keyframe& a = *(next - 1);
    const Keyframe& b = *next;
    PF_ParamType type = definition_->def.param_type;
    // Popups and checkboxes have no values between their choices.
    if (a.interpolation == Interpolation::Hold || type == PF_Param_POPUP || type == PF_Param_CHECKBOX) return a.value;

    double f = (t - a.seconds) / (b.seconds - a.seconds);
    ParamValue v = a.value;
    switch (type) {
        case PF_Param_FLOAT_SLIDER:
            v.u.fs_d.value = lerp(a.value.u.fs_d.value, b.value.u.fs_d.value, f);
            break;
        case PF_Param_SLIDER:
            v.u.sd.value = lerpRounded(a.value.u.sd.value, b.value.u.sd.value, f);
            break;
        case PF_Param_ANGLE:
            v.u.ad.value = lerpRounded(a.value.u.ad.value, b.value.u.ad.value, f);
            break;
        case PF_Param_COLOR: {
            const PF_Pixel& p = a.value.u.cd.value;
            const PF_Pixel& q = b.value.u.cd.value;
            v.u.cd.value = PF_Pixel{static_cast<A_u_char>(lerpRounded(p.alpha, q.alpha, f)),
                                    static_cast<A_u_char>(lerpRounded(p.red, q.red, f)),
                                    static_cast<A_u_char>(lerpRounded(p.green, q.green, f)),
                                    static_cast<A_u_char>(lerpRounded(p.blue, q.blue, f))};
            break;
        }
        case PF_Param_POINT:
        case PF_Param_POINT_3D:
            for (int axis = 0; axis < 3; ++axis) v.point[axis] = lerp(a.value.point[axis], b.value.point[axis], f);
            break;
        default:
            break;
    }
    return v;
}

}  // namespace minihost
