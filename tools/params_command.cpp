// `cindel params [--json]`: the parameter table exactly as the effect registered it through
// add_param, read back from minihost's copy of the definitions, with the parameters the effect
// hides through the AEGP dynamic stream flags once the host has asked it to update its controls
// (on a scratch instance at the default values).
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "minihost/param_lookup.h"
#include "tools/commands.h"
#include "tools/effect_session.h"

namespace cli {

namespace {

using minihost::ParamDefinition;

// Flag names as the host's interface spells them. Bit 5 is both COLLAPSE_TWIRLY and
// START_COLLAPSED; on a group start it means the latter.
std::vector<std::string> flagNames(const ParamDefinition& d) {
    std::vector<std::string> names;
    const PF_ParamFlags f = d.def.flags;
    if (f & PF_ParamFlag_CANNOT_TIME_VARY) names.emplace_back("CANNOT_TIME_VARY");
    if (f & PF_ParamFlag_CANNOT_INTERP) names.emplace_back("CANNOT_INTERP");
    if (f & PF_ParamFlag_COLLAPSE_TWIRLY)
        names.emplace_back(d.def.param_type == PF_Param_GROUP_START ? "START_COLLAPSED" : "COLLAPSE_TWIRLY");
    if (f & PF_ParamFlag_SUPERVISE) names.emplace_back("SUPERVISE");
    if (f & PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS) names.emplace_back("USE_VALUE_FOR_OLD_PROJECTS");
    if (f & PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED) names.emplace_back("EXCLUDE_FROM_HAVE_INPUTS_CHANGED");
    if (f & PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN) names.emplace_back("SKIP_REVEAL_WHEN_UNHIDDEN");
    const PF_ParamUIFlags u = d.def.ui_flags;
    if (u & PF_PUI_TOPIC) names.emplace_back("PUI_TOPIC");
    if (u & PF_PUI_CONTROL) names.emplace_back("PUI_CONTROL");
    if (u & PF_PUI_STD_CONTROL_ONLY) names.emplace_back("PUI_STD_CONTROL_ONLY");
    if (u & PF_PUI_NO_ECW_UI) names.emplace_back("PUI_NO_ECW_UI");
    if (u & PF_PUI_DISABLED) names.emplace_back("PUI_DISABLED");
    if (u & PF_PUI_INVISIBLE) names.emplace_back("PUI_INVISIBLE");
    return names;
}

// The shortest decimal that reads back as the same float, so that 0.1f shows as 0.1 rather than
// as its double expansion 0.10000000149011612.
double shortestDecimal(float value) {
    for (int digits = 6; digits < 9; ++digits) {
        char text[32];
        std::snprintf(text, sizeof text, "%.*g", digits, double(value));
        double candidate = std::strtod(text, nullptr);
        if (static_cast<float>(candidate) == value) return candidate;
    }
    return value;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : separator) + p;
    return text;
}

nlohmann::ordered_json defaultJson(const ParamDefinition& d) {
    const PF_ParamDefUnion& u = d.def.u;
    switch (d.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return shortestDecimal(u.fs_d.dephault);
        case PF_Param_SLIDER:
            return u.sd.dephault;
        case PF_Param_ANGLE:
            return u.ad.dephault / 65536.0;
        case PF_Param_POPUP:
            return u.pd.dephault;
        case PF_Param_CHECKBOX:
            return u.bd.dephault != 0;
        case PF_Param_POINT_3D:
            return {u.point3d_d.x_dephault, u.point3d_d.y_dephault, u.point3d_d.z_dephault};
        case PF_Param_COLOR:
        case PF_Param_LAYER:
            return minihost::describeDefault(d);
        default:
            return nullptr;
    }
}

nlohmann::ordered_json rowJson(const minihost::ParamLookup& lookup, const ParamDefinition& d, bool isHidden) {
    nlohmann::ordered_json row;
    row["index"] = d.index;
    row["id"] = d.def.uu.id;
    row["name"] = d.name();
    if (d.def.param_type == PF_Param_CHECKBOX) row["label"] = d.checkboxLabel;
    row["type"] = minihost::paramTypeName(d.def.param_type);
    const PF_ParamDefUnion& u = d.def.u;
    switch (d.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            row["min"] = shortestDecimal(u.fs_d.valid_min);
            row["max"] = shortestDecimal(u.fs_d.valid_max);
            row["sliderMin"] = shortestDecimal(u.fs_d.slider_min);
            row["sliderMax"] = shortestDecimal(u.fs_d.slider_max);
            break;
        case PF_Param_SLIDER:
            row["min"] = u.sd.valid_min;
            row["max"] = u.sd.valid_max;
            break;
        case PF_Param_ANGLE:
            if (u.ad.valid_min < u.ad.valid_max) {
                row["min"] = u.ad.valid_min / 65536.0;
                row["max"] = u.ad.valid_max / 65536.0;
            }
            break;
        case PF_Param_POPUP:
            row["choices"] = d.choiceNames();
            break;
        default:
            break;
    }
    row["default"] = defaultJson(d);
    if (d.def.param_type == PF_Param_POPUP) row["defaultChoice"] = minihost::describeDefault(d);
    if (d.def.param_type == PF_Param_FLOAT_SLIDER) row["decimals"] = u.fs_d.precision;
    row["flags"] = d.def.flags;
    row["uiFlags"] = d.def.ui_flags;
    row["flagNames"] = flagNames(d);
    row["group"] = lookup.groupPathText(d.index);
    row["hidden"] = isHidden;
    return row;
}

}  // namespace

int runParams(const std::string& plugin, bool isJson, bool isVerbose) {
    EffectSession session(locatePlugin(plugin), isVerbose);
    const auto& definitions = session.host().definitions();
    minihost::ParamLookup lookup(definitions);
    // What is hidden depends on the values, so it is read from a scratch instance at the defaults
    // after PF_Cmd_UPDATE_PARAMS_UI, which the host sends when the controls are first shown.
    minihost::Instance& scratch = session.host().addInstance();
    if (PF_Err err = session.host().updateParamsUi(scratch))
        std::fprintf(stderr, "cindel: the effect failed to update its controls (%s); no parameter is shown hidden\n",
                     describeEffectError(err).c_str());
    std::vector<std::string> hiddenNames;
    for (std::size_t i = 1; i < definitions.size(); ++i)
        if (scratch.isHidden(static_cast<PF_ParamIndex>(i))) hiddenNames.push_back(definitions[i].name());
    if (isJson) {
        nlohmann::ordered_json table;
        table["plugin"] = session.pluginPath();
        table["effectVersion"] = describeEffectVersion(session.host().effectVersion());
        table["count"] = definitions.size() - 1;
        table["parameters"] = nlohmann::ordered_json::array();
        for (std::size_t i = 1; i < definitions.size(); ++i)
            table["parameters"].push_back(
                rowJson(lookup, definitions[i], scratch.isHidden(static_cast<PF_ParamIndex>(i))));
        std::printf("%s\n", table.dump(2).c_str());
        return 0;
    }
    std::printf("%-5s %-4s %-26s %-12s %-28s %-12s %-3s %-6s %-28s %s\n", "index", "id", "name", "type", "range",
                "default", "dec", "ui", "flags", "group");
    for (std::size_t i = 1; i < definitions.size(); ++i) {
        const ParamDefinition& d = definitions[i];
        std::string name = d.name();
        if (name.empty() && d.def.param_type == PF_Param_CHECKBOX) name = "(box: " + d.checkboxLabel + ")";
        std::string decimals = d.def.param_type == PF_Param_FLOAT_SLIDER ? std::to_string(d.def.u.fs_d.precision) : "";
        std::string range = minihost::describeRange(d);
        const bool isPopup = d.def.param_type == PF_Param_POPUP;
        if (isPopup) range = std::to_string(d.def.u.pd.num_choices) + " choices";
        std::printf("%-5d %-4d %-26s %-12s %-28s %-12s %-3s %-6s %-28s %s\n", d.index, d.def.uu.id, name.c_str(),
                    minihost::paramTypeName(d.def.param_type), range.c_str(), minihost::describeDefault(d).c_str(),
                    decimals.c_str(), scratch.isHidden(d.index) ? "hidden" : "",
                    joined(flagNames(d), ",").c_str(), lookup.groupPathText(d.index).c_str());
        if (isPopup) std::printf("      choices: %s\n", joined(d.choiceNames(), " | ").c_str());
    }
    std::printf("%zu parameters (index 0, the effect's input layer, is the host's)\n", definitions.size() - 1);
    std::printf("%zu hidden by the effect at the default values: %s\n", hiddenNames.size(),
                hiddenNames.empty() ? "none" : joined(hiddenNames, ", ").c_str());
    return 0;
}

}  // namespace cli
