// `cindel presets [--json]`: every choice of the effect's "Preset" popup with what it changes from
// "Custom". Each preset is chosen the way the host does it, on a scratch instance of its own: the
// popup value is set and PF_Cmd_USER_CHANGED_PARAM sent. Its parameter values at layer time 0 and
// its keyframes are then compared with those of an instance that chose "Custom", so the listing
// shows what the effect really writes rather than a copy of its tables.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "minihost/host_error.h"
#include "minihost/param_lookup.h"
#include "tools/commands.h"
#include "tools/effect_session.h"
#include "tools/errors.h"

namespace cli {

namespace {

using minihost::Instance;
using minihost::ParamDefinition;
using minihost::ParamStream;
using minihost::ParamValue;

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string describeValue(const ParamDefinition& d, const ParamValue& v) {
    switch (d.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return formatNumber(v.u.fs_d.value);
        case PF_Param_SLIDER:
            return std::to_string(v.u.sd.value);
        case PF_Param_ANGLE:
            return formatNumber(v.u.ad.value / 65536.0) + " deg";
        case PF_Param_CHECKBOX:
            return v.u.bd.value ? "on" : "off";
        case PF_Param_POPUP: {
            const std::vector<std::string> choices = d.choiceNames();
            const A_long choice = v.u.pd.value;
            if (choice >= 1 && static_cast<std::size_t>(choice) <= choices.size())
                return choices[static_cast<std::size_t>(choice) - 1] + " (" + std::to_string(choice) + ")";
            return std::to_string(choice);
        }
        case PF_Param_COLOR: {
            char text[16];
            std::snprintf(text, sizeof text, "#%02X%02X%02X", v.u.cd.value.red, v.u.cd.value.green,
                          v.u.cd.value.blue);
            return text;
        }
        case PF_Param_POINT:
        case PF_Param_POINT_3D: {
            char text[96];
            if (d.def.param_type == PF_Param_POINT)
                std::snprintf(text, sizeof text, "(%.6g, %.6g)", v.point[0], v.point[1]);
            else
                std::snprintf(text, sizeof text, "(%.6g, %.6g, %.6g)", v.point[0], v.point[1], v.point[2]);
            return text;
        }
        default:
            return "";
    }
}

// Keyframes as "50 at 0 s, 100 at 5 s (linear)"; empty without keys.
std::string describeKeys(const ParamStream& stream) {
    std::string text;
    for (std::size_t i = 0; i < stream.keyframeCount(); ++i) {
        text += (i ? ", " : "") + describeValue(stream.definition(), stream.keyframeValue(i)) + " at " +
                formatNumber(stream.keyframeTime(i).seconds()) + " s";
        text += stream.keyframeInterpolation(i) == minihost::Interpolation::Hold ? " (hold)" : " (linear)";
    }
    return text;
}

// The instance's values at layer time 0 and its keyframes, as text per parameter: values compare
// as the listing shows them, which is what a person reading it can tell apart.
struct Snapshot {
    std::vector<std::string> values;
    std::vector<std::string> keys;
};

Snapshot snapshotOf(minihost::Host& host, Instance& instance) {
    Snapshot snapshot;
    const auto& definitions = host.definitions();
    snapshot.values.resize(definitions.size());
    snapshot.keys.resize(definitions.size());
    for (std::size_t i = 1; i < definitions.size(); ++i) {
        ParamStream& stream = instance.param(static_cast<PF_ParamIndex>(i));
        if (!stream.hasValue()) continue;
        snapshot.values[i] = describeValue(definitions[i], instance.valueAt(static_cast<PF_ParamIndex>(i), {0, 1}));
        snapshot.keys[i] = describeKeys(stream);
    }
    return snapshot;
}

Snapshot choose(minihost::Host& host, const ParamDefinition& preset, A_long choice) {
    Instance& instance = host.addInstance();
    instance.setPopup(preset.index, choice);
    if (PF_Err err = host.userChangedParam(instance, preset.index))
        throw RuntimeFailure("choosing preset " + std::to_string(choice) + " failed with " + describeEffectError(err));
    return snapshotOf(host, instance);
}

}  // namespace

int runPresets(const std::string& plugin, bool isJson, bool isVerbose) {
    EffectSession session(locatePlugin(plugin), isVerbose);
    minihost::Host& host = session.host();
    minihost::ParamLookup lookup(host.definitions());
    const ParamDefinition* preset = nullptr;
    try {
        preset = &lookup.find("Preset");
    } catch (const minihost::HostError& e) {
        throw RuntimeFailure(std::string("the effect has no preset popup: ") + e.what());
    }
    if (preset->def.param_type != PF_Param_POPUP)
        throw RuntimeFailure(preset->label() + " is not a popup, so it offers no presets");

    const std::vector<std::string> names = preset->choiceNames();
    const Snapshot custom = choose(host, *preset, 1);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t c = 0; c < names.size(); ++c) {
        const Snapshot chosen = c == 0 ? custom : choose(host, *preset, static_cast<A_long>(c + 1));
        nlohmann::ordered_json entry;
        entry["value"] = c + 1;
        entry["name"] = names[c];
        entry["changes"] = nlohmann::ordered_json::array();
        for (std::size_t i = 1; i < chosen.values.size(); ++i) {
            if (static_cast<PF_ParamIndex>(i) == preset->index) continue;
            const bool isValueChanged = chosen.values[i] != custom.values[i];
            const bool areKeysChanged = chosen.keys[i] != custom.keys[i];
            if (!isValueChanged && !areKeysChanged) continue;
            nlohmann::ordered_json change;
            change["index"] = i;
            change["name"] = lookup.displayName(static_cast<PF_ParamIndex>(i));
            change["value"] = chosen.values[i];
            change["custom"] = custom.values[i];
            if (!chosen.keys[i].empty() || areKeysChanged) change["keyframes"] = chosen.keys[i];
            entry["changes"].push_back(change);
        }
        list.push_back(entry);
    }

    if (isJson) {
        nlohmann::ordered_json out;
        out["plugin"] = session.pluginPath();
        out["count"] = list.size();
        out["presets"] = list;
        std::printf("%s\n", out.dump(2).c_str());
        return 0;
    }
    for (const auto& entry : list) {
        std::printf("%2d  %s  (%zu changes from Custom)\n", entry["value"].get<int>(),
                    entry["name"].get<std::string>().c_str(), entry["changes"].size());
        for (const auto& change : entry["changes"]) {
            std::printf("      %-28s %s  (Custom: %s)", change["name"].get<std::string>().c_str(),
                        change["value"].get<std::string>().c_str(), change["custom"].get<std::string>().c_str());
            if (change.contains("keyframes"))
                std::printf("  keys: %s", change["keyframes"].get<std::string>().empty()
                                              ? "none"
                                              : change["keyframes"].get<std::string>().c_str());
            std::printf("\n");
        }
    }
    std::printf("%zu presets\n", list.size());
    return 0;
}

}  // namespace cli
