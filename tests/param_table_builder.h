// A small table shaped like the effect's for the lookup tests and the --set fuzz target: a group and
// a slider of one name, one name in two groups, a checkbox known by its label. Indices noted beside.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "minihost/param_stream.h"

namespace cindel::test {

class SmallParamTable {
public:
    SmallParamTable() {
        add(PF_Param_LAYER, "");  // 0: the host's input layer
        add(PF_Param_GROUP_START, "Emitter");
        add(PF_Param_CHECKBOX, "").u.bd.u.nameptr = "Invert";  // 2
        PF_ParamDef& source = add(PF_Param_POINT_3D, "Source Position");  // 3
        source.u.point3d_d.x_dephault = source.u.point3d_d.y_dephault = 50;
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Turbulence");  // 5
        slider("Vorticity", 0, 30, 10);           // 6
        slider("Turbulence", 0, 100, 25);         // 7
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Color");  // 9
        add(PF_Param_GROUP_START, "Fire");   // 10
        slider("Gamma", 0.1f, 4, 1);         // 11
        add(PF_Param_COLOR, "Source").u.cd.dephault = PF_Pixel{255, 255, 230, 130};  // 12
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Smoke");  // 14
        slider("Gamma", 0, 1, 0.5f);         // 15
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Render");                               // 18
        popup("Quality", "Draft|Normal|High|Ultra", 4);                    // 19
        popup("Sim Mode", "Source Only|+ Buoyancy|+ Projection|Full", 4);  // 20
        add(PF_Param_ANGLE, "Hue Shift");                                  // 21
        add(PF_Param_GROUP_END, "");
        for (std::size_t i = 0; i < defs_.size(); ++i) definitions.emplace_back(PF_ParamIndex(i), defs_[i]);
    }

    std::deque<minihost::ParamDefinition> definitions;

private:
    PF_ParamDef& add(PF_ParamType type, const char* name) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        std::snprintf(def.name, sizeof def.name, "%s", name);
        def.uu.id = A_long(defs_.size());
        return defs_.emplace_back(def);
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
        d.u.pd.num_choices = A_short(std::count(choices, choices + std::strlen(choices), '|') + 1);
        d.u.pd.value = d.u.pd.dephault = dephault;
    }

    std::deque<PF_ParamDef> defs_;
};

}  // namespace cindel::test
