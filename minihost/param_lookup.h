// Finding an effect parameter as a person names it, and turning a value as a person writes it
// into the host's value of that parameter.
//
// A parameter is named by its index ("58" or "#58"), by its name ("Burn Progress"), by its name
// under its group path ("Turbulence/Turbulence", "Color/Fire/Gamma") or, for a checkbox with no
// name, by the label beside its box ("Invert"). Names are matched exactly first, then ignoring
// case. The effect's names repeat (the group "Turbulence" holds the slider "Turbulence"), so a name
// that fits more than one parameter is refused with the candidates and the way to name each; an
// unknown name is refused with the nearest names.
//
// Values: float sliders and angles take numbers (angles in degrees); popups their choice text
// (or the 1-based choice number); checkboxes on/off, true/false or 1/0; colours "#RRGGBB" or three
// channels 0 … 1; 3-D points two or three numbers in layer pixels (z 0 when left out). Ranges are
// checked by the streams (ParamStream::set), which refuse a value outside the registered range
// with that range rather than clamping it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "minihost/param_stream.h"

namespace minihost {

// A value as the user wrote it, before it meets a definition.
struct ParamInput {
    enum class Kind { Number, Text, Boolean, Numbers };
    Kind kind = Kind::Text;
    double number = 0;
    std::string text;
    bool boolean = false;
    std::vector<double> numbers;

    static ParamInput ofNumber(double value);
    static ParamInput ofText(std::string value);
    static ParamInput ofBoolean(bool value);
    static ParamInput ofNumbers(std::vector<double> values);
    std::string describe() const;  // for messages: the value as written
};

class ParamLookup {
public:
    explicit ParamLookup(const std::deque<ParamDefinition>& definitions);

    // The definition a reference names; throws HostError with the candidates or the nearest names.
    const ParamDefinition& find(const std::string& reference) const;
    // The names of the groups around a parameter, outermost first.
    const std::vector<std::string>& groupPath(PF_ParamIndex index) const;
    std::string groupPathText(PF_ParamIndex index) const;  // "Color/Fire", empty at the top
    // A name that identifies the parameter without ambiguity: its name when unique, else the
    // shortest group path and name that is unique, else "#index".
    std::string unambiguousName(PF_ParamIndex index) const;
    // The label a person sees: the name, or for a nameless checkbox its box's label.
    std::string displayName(PF_ParamIndex index) const;
    // Up to `count` parameter names nearest to a misspelt one.
    std::vector<std::string> nearestNames(const std::string& reference, std::size_t count = 3) const;

private:
    std::vector<const ParamDefinition*> matches(const std::string& reference, bool ignoreCase) const;

    const std::deque<ParamDefinition>& definitions_;
    std::vector<std::vector<std::string>> groups_;  // by index
};

// True for parameter types that hold a value (the ones ParamStream can set).
bool isValueType(PF_ParamType type);

// The host value of a definition for an input; throws HostError saying what was expected. The
// range is not checked here.
ParamValue paramValueFromInput(const ParamDefinition& definition, const ParamInput& input);

// A command-line value ("12.5", "Draft", "#ff8800", "480,400,0") as an input: numbers and lists of
// numbers become numbers, everything else stays text.
ParamInput paramInputFromText(const std::string& text);

// "float slider 0 to 5", "popup Draft|Normal|High|Ultra", ... for messages and tables.
std::string describeRange(const ParamDefinition& definition);
// The registered default as text ("12", "Ultra", "off", "#FFE682", "50%, 50%, 0").
std::string describeDefault(const ParamDefinition& definition);

}  // namespace minihost
