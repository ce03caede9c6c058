// The values of `--set "Name=value"` on arbitrary text: parseSetOption splits and reads the value,
// the lookup resolves the name in a small table shaped like the effect's (a group and a slider of
// the same name, a nameless checkbox known by its label, popups, a colour, a 3-D point, an angle),
// and the value is converted for the named parameter and, so that every converter sees every
// input, for each parameter type in the table.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "minihost/host_error.h"
#include "minihost/param_lookup.h"
#include "tools/errors.h"
#include "tools/param_apply.h"

namespace {

class Table {
public:
    Table() {
        add(PF_Param_LAYER, "");
        add(PF_Param_GROUP_START, "Emitter");
        add(PF_Param_CHECKBOX, "").u.bd.u.nameptr = "Invert";
        PF_ParamDef& source = add(PF_Param_POINT_3D, "Source Position");
        source.u.point3d_d.x_dephault = source.u.point3d_d.y_dephault = 50;
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Turbulence");
        slider("Turbulence", 0, 100, 25);
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Color");
        slider("Gamma", 0.1f, 4, 1);
        add(PF_Param_COLOR, "Source").u.cd.dephault = PF_Pixel{255, 255, 230, 130};
        add(PF_Param_GROUP_END, "");
        popup("Quality", "Draft|Normal|High|Ultra", 4);
        popup("Sim Mode", "Source Only|+ Buoyancy|+ Projection|Full", 4);
        add(PF_Param_ANGLE, "Hue Shift");
        for (std::size_t i = 0; i < defs_.size(); ++i) definitions.emplace_back(static_cast<PF_ParamIndex>(i), defs_[i]);
    }

    std::deque<minihost::ParamDefinition> definitions;

private:
    PF_ParamDef& add(PF_ParamType type, const char* name) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        std::snprintf(def.name, sizeof def.name, "%s", name);
        def.uu.id = static_cast<A_long>(defs_.size());
        defs_.push_back(def);
        return defs_.back();
    }
    void slider(const char* name, float low, float high, float dephault) {
        PF_ParamDef& d = add(PF_Param_FLOAT_SLIDER, name);
        d.u.fs_d.valid_min = d.u.fs_d.slider_min = low;
        d.u.fs_d.valid_max = d.u.fs_d.slider_max = high;
        d.u.fs_d.value = d.u.fs_d.dephault = dephault;
    }
    void popup(const char* name, const char* choices, A_short dephault) {
        PF_ParamDef& d = add(PF_Param_POPUP, name);
        d.u.pd.u.namesptr = choices;
        d.u.pd.num_choices = static_cast<A_short>(std::count(choices, choices + std::strlen(choices), '|') + 1);
        d.u.pd.value = d.u.pd.dephault = dephault;
    }

    std::deque<PF_ParamDef> defs_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Table table;
    static const minihost::ParamLookup lookup(table.definitions);
    const std::string option(reinterpret_cast<const char*>(data), size);
    cli::ParamSetting setting;
    try {
        setting = cli::parseSetOption(option);
    } catch (const cli::UsageError&) {
        return 0;
    }
    try {
        const minihost::ParamDefinition& named = lookup.find(setting.reference);
        minihost::paramValueFromInput(named, setting.constant);
    } catch (const minihost::HostError&) {
    }
    for (const minihost::ParamDefinition& definition : table.definitions) {
        if (!minihost::isValueType(definition.def.param_type)) continue;
        try {
            minihost::paramValueFromInput(definition, setting.constant);
        } catch (const minihost::HostError&) {
        }
    }
    return 0;
}
