// Parameter references by index, name, group path or checkbox label, and user values as host values.
#include "minihost/param_lookup.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "minihost/host_error.h"

namespace minihost {

namespace {

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::string formatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// "#58". Built by appending: GCC 12 warns falsely (-Wrestrict) about "#" + std::to_string(i).
std::string indexTag(int index) {
    std::string tag = "#";
    tag += std::to_string(index);
    return tag;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Levenshtein distance, for suggesting the names nearest to a misspelt one.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool parseInteger(const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    *value = v;
    return true;
}

bool parseNumber(const std::string& text, double* value) {
    std::string t = trimmed(text);
    if (t.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (*end != '\0') return false;
    *value = v;
    return true;
}

std::vector<std::string> splitPath(const std::string& reference) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = reference.find('/', start);
        parts.push_back(trimmed(reference.substr(start, slash - start)));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

bool equalNames(const std::string& a, const std::string& b, bool ignoreCase) {
    return ignoreCase ? lowered(a) == lowered(b) : a == b;
}

// Colour channels 0 … 1 to the host's 8-bit colour, refusing anything outside.
A_u_char channel(double value, const ParamDefinition& definition) {
    if (!(value >= 0.0 && value <= 1.0))
        throw HostError(definition.label() + ": colour channel " + formatNumber(value) + " is outside 0 to 1");
    return static_cast<A_u_char>(std::lround(value * 255.0));
}

bool parseHexColour(const std::string& text, A_u_char rgb[3]) {
    std::string t = text;
    if (!t.empty() && t[0] == '#') t = t.substr(1);
    if (t.size() != 6 ||
        !std::all_of(t.begin(), t.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    for (int i = 0; i < 3; ++i) rgb[i] = static_cast<A_u_char>(std::strtol(t.substr(2 * i, 2).c_str(), nullptr, 16));
    return true;
}

}  // namespace

// ---- ParamInput

ParamInput ParamInput::ofNumber(double value) {
    ParamInput input;
    input.kind = Kind::Number;
    input.number = value;
    return input;
}

ParamInput ParamInput::ofText(std::string value) {
    ParamInput input;
    input.kind = Kind::Text;
    input.text = std::move(value);
    return input;
}

ParamInput ParamInput::ofBoolean(bool value) {
    ParamInput input;
    input.kind = Kind::Boolean;
    input.boolean = value;
    return input;
}

ParamInput ParamInput::ofNumbers(std::vector<double> values) {
    ParamInput input;
    input.kind = Kind::Numbers;
    input.numbers = std::move(values);
    return input;
}

std::string ParamInput::describe() const {
    switch (kind) {
        case Kind::Number:
            return formatNumber(number);
        case Kind::Text:
            return quoted(text);
        case Kind::Boolean:
            return boolean ? "true" : "false";
        case Kind::Numbers: {
            std::string out = "[";
            for (std::size_t i = 0; i < numbers.size(); ++i) out += (i ? ", " : "") + formatNumber(numbers[i]);
            return out + "]";
        }
    }
    return {};
}

ParamInput paramInputFromText(const std::string& text) {
    double number = 0;
    if (parseNumber(text, &number)) return ParamInput::ofNumber(number);
    if (text.find(',') != std::string::npos) {
        std::vector<double> numbers;
        std::size_t start = 0;
        bool allNumbers = true;
        while (allNumbers) {
            std::size_t comma = text.find(',', start);
            double v = 0;
            allNumbers = parseNumber(text.substr(start, comma - start), &v);
            numbers.push_back(v);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (allNumbers) return ParamInput::ofNumbers(numbers);
    }
    return ParamInput::ofText(trimmed(text));
}

// ---- ParamLookup

ParamLookup::ParamLookup(const std::deque<ParamDefinition>& definitions) : definitions_(definitions) {
    std::vector<std::string> open;
    groups_.resize(definitions.size());
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        // A group end belongs to the group it closes.
        const PF_ParamType type = definitions[i].def.param_type;
        groups_[i] = open;
        if (type == PF_Param_GROUP_END && !open.empty()) open.pop_back();
        if (type == PF_Param_GROUP_START) open.push_back(definitions[i].name());
    }
}

const std::vector<std::string>& ParamLookup::groupPath(PF_ParamIndex index) const {
    static const std::vector<std::string> none;
    if (index < 0 || static_cast<std::size_t>(index) >= groups_.size()) return none;
    return groups_[static_cast<std::size_t>(index)];
}

std::string ParamLookup::groupPathText(PF_ParamIndex index) const {
    std::string text;
    for (const std::string& g : groupPath(index)) text += (text.empty() ? "" : "/") + g;
    return text;
}

std::string ParamLookup::displayName(PF_ParamIndex index) const {
    const ParamDefinition& d = definitions_.at(static_cast<std::size_t>(index));
    if (d.name().empty() && d.def.param_type == PF_Param_CHECKBOX) return d.checkboxLabel;
    return d.name();
}

std::vector<const ParamDefinition*> ParamLookup::matches(const std::string& reference, bool ignoreCase) const {
    std::vector<std::string> parts = splitPath(reference);
    const std::string& leaf = parts.back();
    std::vector<const ParamDefinition*> found;
    // Index 0 is the host's input layer, never a parameter a person sets.
    for (std::size_t i = 1; i < definitions_.size(); ++i) {
        const ParamDefinition& d = definitions_[i];
        if (d.def.param_type == PF_Param_GROUP_END) continue;
        if (!equalNames(displayName(d.index), leaf, ignoreCase)) continue;
        // Any trailing part of the group path may be given: "Fire/Gamma" and "Color/Fire/Gamma".
        const std::vector<std::string>& groups = groups_[i];
        std::size_t given = parts.size() - 1;
        if (given > groups.size()) continue;
        bool isMatch = true;
        for (std::size_t k = 0; k < given && isMatch; ++k)
            isMatch = equalNames(groups[groups.size() - given + k], parts[k], ignoreCase);
        if (isMatch) found.push_back(&d);
    }
    return found;
}

std::string ParamLookup::unambiguousName(PF_ParamIndex index) const {
    std::string name = displayName(index);
    if (name.empty()) return indexTag(index);
    if (matches(name, false).size() == 1) return name;
    // The shortest trailing part of the group path that singles it out: "Fire/Gamma" before
    // "Color/Fire/Gamma".
    const std::vector<std::string>& groups = groupPath(index);
    std::string candidate = name;
    for (auto it = groups.rbegin(); it != groups.rend(); ++it) {
        candidate = *it + "/" + candidate;
        auto found = matches(candidate, false);
        if (found.size() == 1 && found[0]->index == index) return candidate;
    }
    return indexTag(index);
}

std::vector<std::string> ParamLookup::nearestNames(const std::string& reference, std::size_t count) const {
    std::vector<std::pair<std::size_t, std::string>> scored;
    std::string target = lowered(splitPath(reference).back());
    for (std::size_t i = 1; i < definitions_.size(); ++i) {
        if (definitions_[i].def.param_type == PF_Param_GROUP_END) continue;
        std::string name = displayName(static_cast<PF_ParamIndex>(i));
        if (name.empty()) continue;
        std::string candidate = lowered(name);
        std::size_t distance = editDistance(target, candidate);
        // A name that contains what was typed ("progress") is as near as a one-letter slip.
        if (!target.empty() && candidate.find(target) != std::string::npos)
            distance = std::min<std::size_t>(distance, 1);
        if (std::none_of(scored.begin(), scored.end(), [&](const auto& s) { return s.second == name; }))
            scored.emplace_back(distance, name);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (std::size_t i = 0; i < scored.size() && names.size() < count; ++i) names.push_back(scored[i].second);
    return names;
}

const ParamDefinition& ParamLookup::find(const std::string& reference) const {
    std::string ref = trimmed(reference);
    long index = 0;
    std::string digits = !ref.empty() && ref[0] == '#' ? ref.substr(1) : ref;
    if (parseInteger(digits, &index)) {
        if (index < 1 || static_cast<std::size_t>(index) >= definitions_.size())
            throw HostError("no parameter with index " + std::to_string(index) + "; the effect's parameters are 1 to " +
                            std::to_string(definitions_.size() - 1));
        return definitions_[static_cast<std::size_t>(index)];
    }
    auto found = matches(ref, false);
    if (found.empty()) found = matches(ref, true);
    if (found.size() == 1) return *found[0];
    if (found.empty()) {
        std::string message = "unknown parameter " + quoted(ref);
        std::vector<std::string> nearest = nearestNames(ref);
        if (!nearest.empty()) {
            message += "; nearest names: ";
            for (std::size_t i = 0; i < nearest.size(); ++i) message += (i ? ", " : "") + quoted(nearest[i]);
        }
        throw HostError(message);
    }
    std::string message = "parameter name " + quoted(ref) + " is ambiguous; it names ";
    for (std::size_t i = 0; i < found.size(); ++i) {
        const ParamDefinition& d = *found[i];
        std::string path = groupPathText(d.index);
        message += (i ? ", " : "") + indexTag(d.index) + " (" + paramTypeName(d.def.param_type) +
                   (path.empty() ? "" : " in " + path) + ", named " + quoted(unambiguousName(d.index)) + ")";
    }
    throw HostError(message);
}

// ---- Values

bool isValueType(PF_ParamType type) {
    switch (type) {
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

ParamValue paramValueFromInput(const ParamDefinition& definition, const ParamInput& input) {
    using Kind = ParamInput::Kind;
    const PF_ParamDef& def = definition.def;
    auto expected = [&](const std::string& what) {
        return HostError(definition.label() + ": expected " + what + ", got " + input.describe());
    };
    switch (def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            if (input.kind != Kind::Number) throw expected("a number");
            return ParamValue::floatSlider(input.number);
        case PF_Param_SLIDER:
            if (input.kind != Kind::Number || input.number != std::floor(input.number))
                throw expected("a whole number");
            return ParamValue::slider(static_cast<A_long>(input.number));
        case PF_Param_ANGLE:
            if (input.kind != Kind::Number) throw expected("an angle in degrees");
            return ParamValue::angleDegrees(input.number);
        case PF_Param_POPUP: {
            std::vector<std::string> choices = definition.choiceNames();
            std::string choiceList;
            for (std::size_t i = 0; i < choices.size(); ++i) choiceList += (i ? ", " : "") + quoted(choices[i]);
            if (input.kind == Kind::Text) {
                for (std::size_t i = 0; i < choices.size(); ++i)
                    if (choices[i] == input.text) return ParamValue::popup(static_cast<A_long>(i + 1));
                for (std::size_t i = 0; i < choices.size(); ++i)
                    if (lowered(choices[i]) == lowered(input.text))
                        return ParamValue::popup(static_cast<A_long>(i + 1));
                throw expected("one of " + choiceList);
            }
            if (input.kind == Kind::Number && input.number == std::floor(input.number) && std::fabs(input.number) < 1e9)
                return ParamValue::popup(static_cast<A_long>(input.number));
            throw expected("one of " + choiceList + " (or its number 1 to " + std::to_string(choices.size()) + ")");
        }
        case PF_Param_CHECKBOX:
            if (input.kind == Kind::Boolean) return ParamValue::checkbox(input.boolean);
            if (input.kind == Kind::Number && (input.number == 0 || input.number == 1))
                return ParamValue::checkbox(input.number == 1);
            if (input.kind == Kind::Text) {
                std::string t = lowered(input.text);
                if (t == "on" || t == "true" || t == "yes") return ParamValue::checkbox(true);
                if (t == "off" || t == "false" || t == "no") return ParamValue::checkbox(false);
            }
            throw expected("on or off (true/false, 1/0)");
        case PF_Param_COLOR: {
            A_u_char rgb[3];
            if (input.kind == Kind::Text && parseHexColour(input.text, rgb))
                return ParamValue::color(rgb[0], rgb[1], rgb[2]);
            if (input.kind == Kind::Numbers && input.numbers.size() == 3)
                return ParamValue::color(channel(input.numbers[0], definition), channel(input.numbers[1], definition),
                                         channel(input.numbers[2], definition));
            throw expected("a colour \"#RRGGBB\" or 3 channels 0 to 1");
        }
        case PF_Param_POINT:
        case PF_Param_POINT_3D: {
            const std::size_t most = def.param_type == PF_Param_POINT ? 2 : 3;
            if (input.kind != Kind::Numbers || input.numbers.size() < 2 || input.numbers.size() > most)
                throw expected(most == 2 ? "2 numbers (x, y in layer pixels)"
                                         : "2 or 3 numbers (x, y, z in layer pixels)");
            const double z = input.numbers.size() > 2 ? input.numbers[2] : 0.0;
            return most == 2 ? ParamValue::point2D(input.numbers[0], input.numbers[1])
                             : ParamValue::point3D(input.numbers[0], input.numbers[1], z);
        }
        default:
            throw HostError(definition.label() + " is a " + paramTypeName(def.param_type) + " and holds no value");
    }
}

std::string describeRange(const ParamDefinition& definition) {
    const PF_ParamDefUnion& u = definition.def.u;
    switch (definition.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return formatNumber(u.fs_d.valid_min) + " to " + formatNumber(u.fs_d.valid_max);
        case PF_Param_SLIDER:
            return std::to_string(u.sd.valid_min) + " to " + std::to_string(u.sd.valid_max);
        case PF_Param_ANGLE:
            if (u.ad.valid_min < u.ad.valid_max)
                return formatNumber(u.ad.valid_min / 65536.0) + " to " + formatNumber(u.ad.valid_max / 65536.0) +
                       " degrees";
            return "any angle";
        case PF_Param_POPUP: {
            std::string text;
            for (const std::string& c : definition.choiceNames()) text += (text.empty() ? "" : "|") + c;
            return text;
        }
        case PF_Param_CHECKBOX:
            return "on|off";
        default:
            return {};
    }
}

std::string describeDefault(const ParamDefinition& definition) {
    const PF_ParamDefUnion& u = definition.def.u;
    switch (definition.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return formatNumber(u.fs_d.dephault);
        case PF_Param_SLIDER:
            return std::to_string(u.sd.dephault);
        case PF_Param_ANGLE:
            return formatNumber(u.ad.dephault / 65536.0);
        case PF_Param_POPUP: {
            std::vector<std::string> choices = definition.choiceNames();
            A_long v = u.pd.dephault;
            if (v >= 1 && static_cast<std::size_t>(v) <= choices.size())
                return choices[static_cast<std::size_t>(v - 1)];
            return std::to_string(v);
        }
        case PF_Param_CHECKBOX:
            return u.bd.dephault ? "on" : "off";
        case PF_Param_COLOR: {
            char text[16];
            std::snprintf(text, sizeof text, "#%02X%02X%02X", u.cd.dephault.red, u.cd.dephault.green,
                          u.cd.dephault.blue);
            return text;
        }
        case PF_Param_POINT_3D:
            // The host reads a point's default x and y as percentages of the layer, z in pixels.
            return formatNumber(u.point3d_d.x_dephault) + "%, " + formatNumber(u.point3d_d.y_dephault) + "%, " +
                   formatNumber(u.point3d_d.z_dephault);
        case PF_Param_POINT:
            return formatNumber(u.td.x_dephault / 65536.0) + "%, " + formatNumber(u.td.y_dephault / 65536.0) + "%";
        case PF_Param_LAYER:
            return u.ld.dephault == PF_LayerDefault_NONE ? "none" : "this layer";
        default:
            return {};
    }
}

}  // namespace minihost
