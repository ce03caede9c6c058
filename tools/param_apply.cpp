// Scene and command-line parameter settings applied to the effect's instance.
#include "tools/param_apply.h"

#include <cmath>

#include "minihost/composition.h"
#include "minihost/host_error.h"
#include "minihost/param_lookup.h"
#include "tools/errors.h"

namespace cli {

namespace {

using minihost::HostError;
using minihost::ParamDefinition;
using minihost::ParamValue;

ParamValue scaledPoint(ParamValue value, const Scene& scene) {
    if (value.type == PF_Param_POINT || value.type == PF_Param_POINT_3D) {
        value.point[0] *= scene.pointScaleX;
        value.point[1] *= scene.pointScaleY;
        value.point[2] *= scene.pointScaleX;
    }
    return value;
}

minihost::HostTime hostTimeOf(double compSeconds, const minihost::Layer& effectLayer,
                              const minihost::Composition& comp) {
    // Effect parameter keys live in the effect layer's time.
    const double layerSeconds = effectLayer.layerSeconds(compSeconds);
    return minihost::HostTime{static_cast<A_long>(std::lround(layerSeconds * comp.timeScale)), comp.timeScale};
}

void applyLayerSetting(minihost::Instance& instance, const ParamDefinition& definition, const ParamSetting& setting,
                       const Scene& scene, std::vector<LayerBinding>& bindings) {
    if (setting.isKeyframed())
        throw UsageError(setting.where + ": " + definition.label() + " is a layer and cannot be keyframed");
    if (setting.constant.kind != minihost::ParamInput::Kind::Text)
        throw UsageError(setting.where + ": " + definition.label() +
                         " is a layer: expected the name of a layer or \"none\", got " + setting.constant.describe());
    const std::string& name = setting.constant.text;
    for (auto it = bindings.begin(); it != bindings.end();)
        it = it->index == definition.index ? bindings.erase(it) : it + 1;
    if (name == "none") {
        instance.clearLayer(definition.index);
        return;
    }
    const minihost::Composition& comp = *scene.composition;
    const minihost::Layer* layer = comp.findByName(name);
    if (!layer) {
        std::string names;
        for (const minihost::Layer& l : comp.layers())
            if (l.isAudioVisual() && l.type != minihost::LayerType::Effect)
                names += (names.empty() ? "" : ", ") + ("\"" + l.name + "\"");
        throw UsageError(setting.where + ": no layer named \"" + name + "\"; the layers it can take: " +
                         (names.empty() ? "none (add an image or solid layer)" : names));
    }
    if (!layer->isAudioVisual())
        throw UsageError(setting.where + ": layer \"" + name + "\" is a " + minihost::layerTypeName(layer->type) +
                         " and has no pixels");
    if (layer->type == minihost::LayerType::Effect)
        throw UsageError(setting.where + ": layer \"" + name + "\" is the effect's own layer; choose another layer");
    bindings.push_back(LayerBinding{definition.index, layer->id});
}

void applyValueSetting(minihost::Instance& instance, const ParamDefinition& definition, const ParamSetting& setting,
                       const Scene& scene) {
    try {
        if (!setting.isKeyframed()) {
            instance.set(definition.index,
                         scaledPoint(minihost::paramValueFromInput(definition, setting.constant), scene));
            return;
        }
        const minihost::Layer* effect = scene.composition->effectLayer();
        // Replace whatever was there: set() clears keys and a constant, then the keys go in.
        instance.param(definition.index)
            .set(scaledPoint(minihost::paramValueFromInput(definition, setting.keys.front().value), scene));
        for (const ParamKey& key : setting.keys)
            instance.addKeyframe(definition.index, hostTimeOf(key.seconds, *effect, *scene.composition),
                                 scaledPoint(minihost::paramValueFromInput(definition, key.value), scene),
                                 key.interpolation);
    } catch (const HostError& e) {
        throw UsageError(setting.where + ": " + e.what());
    }
}

}  // namespace

ParamSetting parseSetOption(const std::string& option) {
    const std::size_t equals = option.find('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("--set \"" + option + "\": expected \"Name=value\" (for example --set \"Burn Progress=40\")");
    ParamSetting setting;
    setting.reference = option.substr(0, equals);
    setting.where = "--set \"" + option + "\"";
    setting.constant = minihost::paramInputFromText(option.substr(equals + 1));
    return setting;
}

std::vector<LayerBinding> applyParamSettings(minihost::Host& host, minihost::Instance& instance, const Scene& scene,
                                             const std::vector<ParamSetting>& settings) {
    minihost::ParamLookup lookup(host.definitions());
    struct Resolved {
        const ParamSetting* setting;
        const ParamDefinition* definition;
    };
    std::vector<Resolved> supervised, others;
    for (const ParamSetting& setting : settings) {
        const ParamDefinition* definition = nullptr;
        try {
            definition = &lookup.find(setting.reference);
        } catch (const HostError& e) {
            throw UsageError(setting.where + ": " + e.what());
        }
        const PF_ParamType type = definition->def.param_type;
        if (type != PF_Param_LAYER && !minihost::isValueType(type))
            throw UsageError(setting.where + ": " + definition->label() + " is a " + minihost::paramTypeName(type) +
                             " and holds no value");
        (definition->def.flags & PF_ParamFlag_SUPERVISE ? supervised : others)
            .push_back(Resolved{&setting, definition});
    }

    std::vector<LayerBinding> bindings;
    for (const Resolved& r : supervised) {
        applyValueSetting(instance, *r.definition, *r.setting, scene);
        if (PF_Err err = host.userChangedParam(instance, r.definition->index))
            throw RuntimeFailure(r.setting->where + ": the effect refused the change of " + r.definition->label() +
                                 " with error " + std::to_string(err));
    }
    for (const Resolved& r : others) {
        if (r.definition->def.param_type == PF_Param_LAYER)
            applyLayerSetting(instance, *r.definition, *r.setting, scene, bindings);
        else
            applyValueSetting(instance, *r.definition, *r.setting, scene);
    }
    return bindings;
}

}  // namespace cli
