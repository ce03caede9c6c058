// Registration of the parameter table with the host at parameter set-up. Each row of param_list
// becomes one PF_ParamDef handed to add_param in index order; the host copies what it needs, so a
// single definition is cleared and refilled per row. Callers rely on the first failing add_param
// ending set-up with that error and on num_params being written only after all 136 succeeded.
#include "params/param_table.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "params/param_list.h"

namespace cindel {

namespace {

PF_Pixel opaquePixel(std::uint32_t rgb) {
    PF_Pixel p{};
    p.alpha = PF_MAX_CHAN8;
    p.red = A_u_char((rgb >> 16) & 0xFF);
    p.green = A_u_char((rgb >> 8) & 0xFF);
    p.blue = A_u_char(rgb & 0xFF);
    return p;
}

void fillDefinition(const ParamEntry& spec, PF_ParamDef& def) {
    // Cleared as raw bytes, not value-initialised: the host may read padding and union members this
    // row never sets, and those must be zero rather than left over from the previous row.
    std::memset(&def, 0, sizeof def);

    const std::string_view name(spec.name);
    const std::size_t nameLength = std::min<std::size_t>(name.size(), PF_MAX_EFFECT_PARAM_NAME_LEN);
    std::memcpy(def.name, name.data(), nameLength);
    def.name[nameLength] = '\0';

    def.uu.id = spec.index;
    def.flags = spec.flags;
    def.ui_flags = spec.uiFlags;

    switch (spec.kind) {
        case ParamKind::kGroupStart:
            def.param_type = PF_Param_GROUP_START;
            break;
        case ParamKind::kGroupEnd:
            def.param_type = PF_Param_GROUP_END;
            break;
        case ParamKind::kFloatSlider:
            def.param_type = PF_Param_FLOAT_SLIDER;
            def.u.fs_d.value = spec.defaultValue;
            def.u.fs_d.dephault = PF_FpShort(spec.defaultValue);
            def.u.fs_d.valid_min = def.u.fs_d.slider_min = spec.minValue;
            def.u.fs_d.valid_max = def.u.fs_d.slider_max = spec.maxValue;
            def.u.fs_d.precision = spec.decimals;
            break;
        case ParamKind::kPopup:
            def.param_type = PF_Param_POPUP;
            def.u.pd.value = PF_ParamValue(spec.defaultValue);
            def.u.pd.dephault = A_short(spec.defaultValue);
            def.u.pd.num_choices = spec.numChoices;
            def.u.pd.u.namesptr = spec.choices;
            break;
        case ParamKind::kCheckbox:
            def.param_type = PF_Param_CHECKBOX;
            def.u.bd.value = 0;
            def.u.bd.dephault = 0;
            def.u.bd.u.nameptr = spec.choices;
            break;
        case ParamKind::kColor:
            def.param_type = PF_Param_COLOR;
            def.u.cd.value = def.u.cd.dephault = opaquePixel(spec.rgb);
            break;
        case ParamKind::kPoint3D:
            // Percent of the layer: the centre of the frame, on the layer's plane.
            def.param_type = PF_Param_POINT_3D;
            def.u.point3d_d.x_value = def.u.point3d_d.x_dephault = 50.0;
            def.u.point3d_d.y_value = def.u.point3d_d.y_dephault = 50.0;
            def.u.point3d_d.z_value = def.u.point3d_d.z_dephault = 0.0;
            break;
        case ParamKind::kAngle:
            def.param_type = PF_Param_ANGLE;
            def.u.ad.value = 0;
            def.u.ad.dephault = 0;
            break;
        case ParamKind::kLayer:
            def.param_type = PF_Param_LAYER;
            def.u.ld.dephault = PF_LayerDefault_NONE;
            break;
    }
}

}  // namespace

PF_Err setupParams(PF_InData* inData, PF_OutData* outData) {
    if (inData == nullptr || outData == nullptr || inData->inter.add_param == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }

    PF_ParamDef def;
    for (const ParamEntry& spec : paramEntries()) {
        fillDefinition(spec, def);
        // -1 appends: the order of these calls is what gives each parameter its index.
        if (const PF_Err err = PF_ADD_PARAM(inData, -1, &def); err != PF_Err_NONE) return err;
    }
    outData->num_params = kHostParamCount;
    return PF_Err_NONE;
}

}  // namespace cindel
