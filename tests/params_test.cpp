// The parameter table as the host registers it, through minihost's add_param (which keeps a copy
// of every definition and of the strings it points to, as a real host must): ids, types, ranges,
// defaults, decimals, flags and choices against tests/data/parameter_table.tsv, the topic nesting,
// and the early return when the host refuses a parameter.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <sstream>

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

TEST_F(ParamTable, GroupsNestAsTheTopicList) {
    struct Topic {
        int start, end, parent;
        std::string name;
        bool operator==(const Topic&) const = default;
    };
    // In the order their group ends close them, so a nested topic comes before its parent.
    const std::vector<Topic> expected = {
        {1, 3, 0, "Presets"},        {6, 13, 4, "Source Pattern"},    {4, 29, 0, "Emitter"},
        {30, 37, 0, "Fire Physics"}, {38, 47, 0, "Physics"},          {48, 55, 0, "Burn"},
        {56, 61, 0, "Turbulence"},   {62, 68, 0, "Heat Distortion"},  {69, 74, 0, "Embers (removed)"},
        {76, 88, 75, "Fire"},        {89, 94, 75, "Smoke"},           {95, 102, 75, "Lighting"},
        {103, 109, 75, "Grading"},   {75, 110, 0, "Color"},           {111, 118, 0, "Sharpness"},
        {119, 132, 0, "Render"},     {133, 136, 0, "Advanced (dev)"},
    };
    std::vector<int> open;
    std::vector<Topic> closed;
    for (int i = 1; i <= kRegisteredParamCount; ++i) {
        if (def(i).param_type == PF_Param_GROUP_START) {
            open.push_back(i);
        } else if (def(i).param_type == PF_Param_GROUP_END) {
            ASSERT_FALSE(open.empty()) << "group end " << i << " closes nothing";
            const int start = open.back();
            open.pop_back();
            EXPECT_STREQ(def(i).name, "") << i;
            closed.push_back({start, i, open.empty() ? 0 : open.back(), def(start).name});
        }
    }
    EXPECT_TRUE(open.empty());
    EXPECT_EQ(closed, expected);
}

// Names, types, ranges, defaults, decimals, flags and choices are what stored projects rely on.
TEST_F(ParamTable, EveryParameterIsAsTheTableGivesIt) {
    const std::map<std::string, PF_ParamType> types = {
        {"group start", PF_Param_GROUP_START}, {"group end", PF_Param_GROUP_END}, {"popup", PF_Param_POPUP},
        {"float slider", PF_Param_FLOAT_SLIDER}, {"layer", PF_Param_LAYER},      {"checkbox", PF_Param_CHECKBOX},
        {"3-D point", PF_Param_POINT_3D},        {"colour", PF_Param_COLOR},     {"angle", PF_Param_ANGLE}};
    const std::map<std::string, A_long> flagBits = {
        {"PF_ParamFlag_SUPERVISE", PF_ParamFlag_SUPERVISE},
        {"PF_ParamFlag_START_COLLAPSED", PF_ParamFlag_START_COLLAPSED},
        {"PF_ParamFlag_COLLAPSE_TWIRLY", PF_ParamFlag_COLLAPSE_TWIRLY},
        {"PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN", PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN}};
    const std::vector<testdata::ParamRow> rows = testdata::parameterTable();
    ASSERT_EQ(rows.size(), std::size_t(kRegisteredParamCount)) << "the table file could not be read whole";
    for (const testdata::ParamRow& row : rows) {
        SCOPED_TRACE("parameter " + std::to_string(row.index) + " \"" + row.name + "\"");
        const minihost::ParamDefinition& p = host.definition(row.index);
        const PF_ParamDef& d = p.def;
        EXPECT_EQ(d.uu.id, row.index);
        EXPECT_STREQ(d.name, row.name.c_str());
        ASSERT_EQ(d.param_type, types.at(row.type));
        A_long flags = 0, uiFlags = 0;
        std::string label;
        std::stringstream names(row.flags);
        for (std::string flag; std::getline(names, flag, ',');) {
            if (flag == "PF_PUI_INVISIBLE") uiFlags |= PF_PUI_INVISIBLE;
            else if (flag.rfind("label=", 0) == 0) label = flag.substr(6);
            else flags |= flagBits.at(flag);
        }
        EXPECT_EQ(d.flags, flags);
        EXPECT_EQ(d.ui_flags, uiFlags);
        switch (d.param_type) {
            case PF_Param_FLOAT_SLIDER: {
                const PF_FloatSliderDef& fs = d.u.fs_d;
                const std::size_t dots = row.range.find("..");
                const float lo = std::stof(row.range.substr(0, dots)), hi = std::stof(row.range.substr(dots + 2));
                EXPECT_EQ((std::array<float, 4>{fs.valid_min, fs.slider_min, fs.valid_max, fs.slider_max}),
                          (std::array<float, 4>{lo, lo, hi, hi}));
                EXPECT_EQ(fs.dephault, std::stof(row.dephault));
                EXPECT_EQ(fs.value, std::stod(row.dephault));
                EXPECT_EQ(fs.precision, std::stoi(row.decimals));
                EXPECT_EQ(fs.display_flags, 0);
                break;
            }
            case PF_Param_POPUP:
                EXPECT_EQ(p.popupChoices, row.choices);
                EXPECT_EQ(d.u.pd.num_choices, A_short(testdata::splitAt(row.choices, '|').size()));
                EXPECT_EQ(d.u.pd.dephault, std::stoi(row.dephault));
                EXPECT_EQ(d.u.pd.value, std::stoi(row.dephault));
                break;
            case PF_Param_LAYER:
                EXPECT_EQ(row.dephault, "none");
                EXPECT_EQ(d.u.ld.dephault, PF_LayerDefault_NONE);
                break;
            case PF_Param_CHECKBOX:
                EXPECT_EQ(row.dephault, "off");
                EXPECT_EQ(d.u.bd.dephault | d.u.bd.value, 0);
                EXPECT_EQ(p.checkboxLabel, label);
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
                std::stringstream xyz(row.dephault);
                double v[3];
                char comma;
                xyz >> v[0] >> comma >> v[1] >> comma >> v[2];
                EXPECT_EQ((std::array<double, 6>{pt.x_dephault, pt.y_dephault, pt.z_dephault, pt.x_value, pt.y_value,
                                                 pt.z_value}),
                          (std::array<double, 6>{v[0], v[1], v[2], v[0], v[1], v[2]}));
                break;
            }
            case PF_Param_ANGLE:
                EXPECT_EQ(d.u.ad.dephault, PF_Fixed(std::stoi(row.dephault) * 65536));
                EXPECT_EQ(d.u.ad.value, d.u.ad.dephault);
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

TEST(ParamTableFailure, MissingRecordsOrCallbackAreRefused) {
    PF_InData in{};
    PF_OutData out{};
    out.num_params = -7;
    EXPECT_EQ(setupParams(nullptr, &out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(setupParams(&in, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(setupParams(&in, &out), PF_Err_BAD_CALLBACK_PARAM);  // no add_param
    EXPECT_EQ(out.num_params, -7);
}

}  // namespace
}  // namespace cindel
