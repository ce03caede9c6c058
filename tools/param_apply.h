// Setting the effect's parameters on an instance from a scene's settings, through minihost's
// parameter streams, as a person would in the host's effect controls: supervised parameters
// ("Preset", "Color Mode", "Color Preset") first, each followed by the host's user-changed-param
// command so that the effect can react (a preset rewrites other parameters), then all the others
// in order, so that what the scene says explicitly wins over what a preset wrote.
//
// Each setting is looked up by name or index in the table the effect registered; its value is
// converted for the parameter's type and checked against its range. Any refusal is a UsageError
// that starts with where the setting came from (the scene field or the command-line option).
// Layer parameters take the name of a layer of the composition, or "none".
#pragma once

#include <vector>

#include "minihost/host.h"
#include "tools/scene.h"

namespace cli {

// A layer parameter bound to a composition layer, for the render to hand over its pixels.
struct LayerBinding {
    PF_ParamIndex index = 0;
    int layerId = 0;
};

// Parses "Name=value" from --set into a setting (the value as text, converted by type later).
ParamSetting parseSetOption(const std::string& option);

std::vector<LayerBinding> applyParamSettings(minihost::Host& host, minihost::Instance& instance, const Scene& scene,
                                             const std::vector<ParamSetting>& settings);

}  // namespace cli
