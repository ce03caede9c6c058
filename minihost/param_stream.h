// Parameter definitions as the host keeps them, and each instance's value streams.
//
// A ParamDefinition is the host's copy of what the effect registered with add_param, with the
// popup choice string and the checkbox label copied so that they outlive the effect's buffers.
// A ParamStream is one parameter's value over time for one instance: a static value or keyframes
// with linear or hold interpolation (before the first key the first value, after the last the
// last). Values are kept in the host's own units: layer pixels at full resolution for points,
// 16.16 fixed-point degrees for angles, doubles for float sliders, A_long for popups and
// checkboxes, PF_Pixel for colours. A point parameter that was never set keeps its registered
// default, which the host reads as a percentage of the layer size for x and y (z in pixels).
//
// Values set through set() and addKeyframe() are checked against the registered ranges and
// refused with a HostError naming the parameter and the range; setUnchecked() and
// addKeyframeUnchecked() store anything of the right type, so tests can feed the effect NaN,
// infinities and out-of-range popups.
#pragma once

#include <string>
#include <vector>

#include "AE_Effect.h"

namespace minihost {

// A time in the host's units: value / scale seconds. A scale of 0 reads as time 0, so an effect
// asking at a zero time scale gets the value at the start rather than an error.
struct HostTime {
    A_long value = 0;
    A_u_long scale = 1;
    double seconds() const { return scale ? double(value) / double(scale) : 0.0; }
};

enum class Interpolation { Linear, Hold };

struct ParamDefinition {
    PF_ParamIndex index = 0;
    PF_ParamDef def{};
    std::string popupChoices;   // the host's copy behind def.u.pd.u.namesptr
    std::string checkboxLabel;  // the host's copy behind def.u.bd.u.nameptr

    ParamDefinition() = default;
    ParamDefinition(PF_ParamIndex index, const PF_ParamDef& registered);
    // The pointers into this object's own strings must follow it.
    ParamDefinition(const ParamDefinition& other);
    ParamDefinition& operator=(const ParamDefinition& other);

    std::string name() const { return def.name; }
    // "parameter 8 "Mask Scale"", as every message about a parameter starts.
    std::string label() const;
    std::vector<std::string> choiceNames() const;  // popup choices split at '|'

private:
    void repointStrings();
};

const char* paramTypeName(PF_ParamType type);

// A value of one parameter type. Only the value fields of `type` in `u` are meaningful.
struct ParamValue {
    PF_ParamType type = PF_Param_RESERVED;
    PF_ParamDefUnion u{};
    // Points in full-resolution layer pixels; the union's fixed-point fields cannot hold them.
    double point[3] = {0, 0, 0};

    static ParamValue floatSlider(double value);
    static ParamValue slider(A_long value);
    static ParamValue popup(A_long choice);
    static ParamValue checkbox(bool checked);
    static ParamValue checkboxRaw(A_long value);
    static ParamValue angleDegrees(double degrees);  // stored as 16.16, rounded to the nearest step
    static ParamValue angleFixed(PF_Fixed fixed);
    static ParamValue color(A_u_char red, A_u_char green, A_u_char blue, A_u_char alpha = 255);
    static ParamValue point2D(double xPixels, double yPixels);
    static ParamValue point3D(double xPixels, double yPixels, double zPixels);

    double asDouble() const;  // float slider value, angle in degrees, popup or checkbox number
};

// The registered default of a definition as a value (points unresolved: see ParamStream).
ParamValue defaultValue(const ParamDefinition& definition);

// Empty when the value may be stored in the parameter; otherwise the reason, naming the
// parameter and, for a value out of range, the range.
std::string validateValue(const ParamDefinition& definition, const ParamValue& value);

class ParamStream {
public:
    explicit ParamStream(const ParamDefinition* definition);

    const ParamDefinition& definition() const { return *definition_; }
    bool hasValue() const;  // false for layers, groups and other types without a value

    void set(const ParamValue& value);  // replaces any keyframes; throws HostError when refused
    void setUnchecked(const ParamValue& value);
    void addKeyframe(HostTime time, const ParamValue& value, Interpolation interpolation = Interpolation::Linear);
    void addKeyframeUnchecked(HostTime time, const ParamValue& value,
                              Interpolation interpolation = Interpolation::Linear);
    void clearKeyframes();  // keeps the value at the first keyframe as the static value
    // Removes keyframe i in time order; removing the last one leaves its value as the static
    // value, as the host does. Throws HostError for an index outside the keys.
    void deleteKeyframe(std::size_t i);
    void setKeyframeInterpolation(std::size_t i, Interpolation interpolation);
    std::size_t keyframeCount() const { return keys_.size(); }
    // Keyframe i in time order (i < keyframeCount()).
    HostTime keyframeTime(std::size_t i) const { return keys_.at(i).time; }
    const ParamValue& keyframeValue(std::size_t i) const { return keys_.at(i).value; }
    Interpolation keyframeInterpolation(std::size_t i) const { return keys_.at(i).interpolation; }
    bool isAtDefault() const { return atDefault_; }

    // The value at a time in full-resolution layer pixels; layerWidth and layerHeight resolve a
    // point's percentage default.
    ParamValue valueAt(HostTime time, A_long layerWidth, A_long layerHeight) const;

private:
    struct Keyframe {
        double seconds;
        HostTime time;
        ParamValue value;
        Interpolation interpolation;
    };

    void requireType(const ParamValue& value, const char* what) const;
    void store(const ParamValue& value);
    void insertKey(HostTime time, const ParamValue& value, Interpolation interpolation);
    ParamValue resolved(const ParamValue& value, A_long layerWidth, A_long layerHeight) const;

    const ParamDefinition* definition_;
    ParamValue static_;
    bool atDefault_ = true;
    std::vector<Keyframe> keys_;  // ascending by time
};

}  // namespace minihost
