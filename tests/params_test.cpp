// The parameters as the host registers them through minihost's add_param, against
// tests/data/parameter_table.tsv, and the early return when the host refuses one.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <sstream>
#include <tuple>

#include "host/effect_main.h"
#include "minihost/host.h"
#include "param_table_data.h"
#include "params/param_index.h"
#include "params/param_table.h"

namespace cindel {
namespace {

class ParamTable : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        ASSERT_EQ(host.definitions().size(), std::size_t(kRegisteredParamCount + 1));
        ASSERT_EQ(host.effectNumParams(), kRegisteredParamCount + 1);
    }
    const PF_ParamDef& def(int index) const { return host.definition(index).def; }
    minihost::Host host{&effectMain};
};

// Names, types, ranges, defaults, decimals, flags and choices are what stored projects rely on.
TEST_F(ParamTable, EveryParameterIsAsTheTableGivesIt) {
    const std::map<std::string, PF_ParamType> types = {
        {"group start", PF_Param_GROUP_START}, {"group end", PF_Param_GROUP_END}, {"popup", PF_Param_POPUP},
        {"float slider", PF_Param_FLOAT_SLIDER}, {"layer", PF_Param_LAYER},      {"checkbox", PF_Param_CHECKBOX},
        {"3-D point", PF_Param_POINT_3D},        {"colour", PF_Param_COLOR},     {"angle", PF_Param_ANGLE}};
    const std::map<std::string, A_long> flagBits = {
        {"PF_ParamFlag_SUPERVISE", PF_ParamFlag_SUPERVISE}, {"PF_ParamFlag_START_COLLAPSED", PF_ParamFlag_START_COLLAPSED},
        {"PF_ParamFlag_COLLAPSE_TWIRLY", PF_ParamFlag_COLLAPSE_TWIRLY},
        {"PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN", PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN}};
    const std::vector<testdata::ParamRow> rows = testdata::parameterTable();
    ASSERT_EQ(rows.size(), std::size_t(kRegisteredParamCount)) << "the table file could not be read whole";
    for (const testdata::ParamRow& row : rows) {
        SCOPED_TRACE("parameter " + std::to_string(row.index) + " \"" + row.name + "\"");
        const minihost::ParamDefinition& p = host.definition(row.index);
        const PF_ParamDef& d = p.def;
        EXPECT_EQ(std::tuple(d.uu.id, std::string(d.name)), std::tuple(row.index, row.name));
        ASSERT_EQ(d.param_type, types.at(row.type));
        A_long flags = 0, uiFlags = 0;
        std::string label;
        std::stringstream names(row.flags);
        for (std::string flag; std::getline(names, flag, ',');) {
            if (flag == "PF_PUI_INVISIBLE") uiFlags |= PF_PUI_INVISIBLE;
            else if (flag.rfind("label=", 0) == 0) label = flag.substr(6);
            else flags |= flagBits.at(flag);
        }
        EXPECT_EQ(std::tuple(d.flags, d.ui_flags), std::tuple(flags, uiFlags));
        switch (d.param_type) {
            case PF_Param_FLOAT_SLIDER: {
                const PF_FloatSliderDef& fs = d.u.fs_d;
                const std::size_t dots = row.range.find("..");
                const float lo = std::stof(row.range.substr(0, dots)), hi = std::stof(row.range.substr(dots + 2));
                EXPECT_EQ((std::array<float, 4>{fs.valid_min, fs.slider_min, fs.valid_max, fs.slider_max}),
                          (std::array<float, 4>{lo, lo, hi, hi}));
                EXPECT_EQ(std::tuple(fs.dephault, fs.value, fs.precision, fs.display_flags),
                          std::tuple(std::stof(row.dephault), std::stod(row.dephault), A_short(std::stoi(row.decimals)), 0));
                break;
            }
            case PF_Param_POPUP:
                EXPECT_EQ(p.popupChoices, row.choices);
                EXPECT_EQ(std::tuple(d.u.pd.num_choices, d.u.pd.dephault, d.u.pd.value),
                          std::tuple(A_short(testdata::splitAt(row.choices, '|').size()), A_short(std::stoi(row.dephault)),
                                     A_long(std::stoi(row.dephault))));
                break;
            case PF_Param_LAYER:
                EXPECT_EQ(std::tuple(row.dephault, d.u.ld.dephault), std::tuple("none", PF_LayerDefault_NONE));
                break;
            case PF_Param_CHECKBOX:
                EXPECT_EQ(std::tuple(row.dephault, d.u.bd.dephault | d.u.bd.value, p.checkboxLabel),
                          std::tuple("off", 0, label));
                break;
            case PF_Param_COLOR: {
                const unsigned rgb = unsigned(std::stoul(row.dephault.substr(1), nullptr, 16));
                const PF_Pixel& c = d.u.cd.dephault;
                EXPECT_EQ((std::array<int, 4>{c.alpha, c.red, c.green, c.blue}),
                          (std::array<int, 4>{255, int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF)}));
                EXPECT_EQ(std::memcmp(&d.u.cd.value, &c, sizeof c), 0);
                break;
            }
            case PF_Param_POINT_3D: {
                const PF_Point3DDef& pt = d.u.point3d_d;
                const std::vector<std::string> v = testdata::splitAt(row.dephault, ',');
                EXPECT_EQ((std::vector<double>{pt.x_dephault, pt.y_dephault, pt.z_dephault, pt.x_value, pt.y_value, pt.z_value}),
                          (std::vector<double>{std::stod(v.at(0)), std::stod(v.at(1)), std::stod(v.at(2)),
                                               std::stod(v.at(0)), std::stod(v.at(1)), std::stod(v.at(2))}));
                break;
            }
            case PF_Param_ANGLE:
                EXPECT_EQ(std::tuple(d.u.ad.dephault, d.u.ad.value),
                          std::tuple(PF_Fixed(std::stoi(row.dephault) * 65536), PF_Fixed(std::stoi(row.dephault) * 65536)));
                break;
            default:
                break;
        }
    }
}

// A refused add_param ends set-up with the host's error: nothing after it is offered.
TEST(ParamTableFailure, StopsAtTheRefusedParameter) {
    for (int failing : {1, 50, 136}) {
        minihost::Host host(&effectMain);
        host.faults().addParamAtIndex = failing;
        host.faults().addParamError = PF_Err_OUT_OF_MEMORY;
        EXPECT_EQ(host.paramsSetup(), PF_Err_OUT_OF_MEMORY) << failing;
        EXPECT_EQ(host.addParamCalls(), failing) << failing;
        EXPECT_EQ(host.definitions().size(), std::size_t(failing)) << "the input layer and 1 ... " << failing - 1;
    }
}

}  // namespace
}  // namespace cindel
