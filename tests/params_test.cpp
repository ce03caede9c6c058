// Contract tests of the parameter table: setupParams runs against a small fake host whose add_param
// keeps a copy of every definition (and of the strings it points to, as a real host must, since the
// effect reuses one definition for all rows). The checks are what projects and the other parts of
// the effect depend on: ids, types, ranges, defaults, flags and the topic nesting, plus the early
// return when the host refuses a parameter.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "param_table_data.h"
#include "params/param_index.h"
#include "params/param_table.h"

namespace cindel {
namespace {

struct RecordedParam {
    PF_ParamIndex whereIndex = 0;  // the index argument of add_param
    PF_ParamDef def{};
    std::string popupChoices;   // copy of pd.u.namesptr
    std::string checkboxLabel;  // copy of bd.u.nameptr
};

struct FakeHost {
    PF_InData in{};
    PF_OutData out{};
    std::vector<RecordedParam> params;
    int calls = 0;
    int failOnCall = 0;  // 1-based; 0 never fails
    PF_Err failWith = PF_Err_NONE;

    FakeHost() {
        in.inter.add_param = &FakeHost::addParam;
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
        out.num_params = kNumParamsSentinel;
    }

    static constexpr A_long kNumParamsSentinel = -7;

    static PF_Err addParam(PF_ProgPtr effectRef, PF_ParamIndex index, PF_ParamDefPtr def) {
        auto* host = reinterpret_cast<FakeHost*>(effectRef);
        ++host->calls;
        if (host->calls == host->failOnCall) return host->failWith;
        RecordedParam r;
        r.whereIndex = index;
        r.def = *def;
        if (def->param_type == PF_Param_POPUP && def->u.pd.u.namesptr != nullptr) {
            r.popupChoices = def->u.pd.u.namesptr;
        }
        if (def->param_type == PF_Param_CHECKBOX && def->u.bd.u.nameptr != nullptr) {
            r.checkboxLabel = def->u.bd.u.nameptr;
        }
        host->params.push_back(r);
        return PF_Err_NONE;
    }

    // Parameter by its index 1 ... 136, as the rest of the effect addresses it.
    const RecordedParam& at(int index) const { return params.at(std::size_t(index - 1)); }
};

// Runs a successful set-up once; every test below reads the same registration.
class ParamTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host_ = new FakeHost;
        result_ = setupParams(&host_->in, &host_->out);
    }
    static void TearDownTestSuite() {
        delete host_;
        host_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(result_, PF_Err_NONE);
        ASSERT_EQ(host_->params.size(), std::size_t(kRegisteredParamCount));
    }

    static const RecordedParam& param(int index) { return host_->at(index); }
    static const PF_ParamDef& def(int index) { return host_->at(index).def; }

    static FakeHost* host_;
    static PF_Err result_;
};

FakeHost* ParamTable::host_ = nullptr;
PF_Err ParamTable::result_ = PF_Err_NONE;

std::vector<std::string> splitChoices(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = s.find('|', start);
        out.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}


// ---- Registration as the host sees it -------------------------------------------------------------

TEST_F(ParamTable, RegistersEveryParameterAppendedWithIdEqualToIndex) {
    EXPECT_EQ(host_->out.num_params, 137);
    for (int i = 1; i <= kRegisteredParamCount; ++i) {
        EXPECT_EQ(def(i).uu.id, i) << "call " << i;
        EXPECT_EQ(param(i).whereIndex, -1) << "parameter " << i << " must be appended";
    }
}

TEST_F(ParamTable, EveryDefinitionStartsFromZeroBytes) {
    for (int i = 1; i <= kRegisteredParamCount; ++i) {
        const PF_ParamDef& d = def(i);
        // A definition reused without clearing would keep the tail of a longer earlier name.
        const std::size_t len = strnlen(d.name, sizeof d.name);
        ASSERT_LT(len, sizeof d.name) << "parameter " << i << " name is not terminated";
        for (std::size_t k = len; k < sizeof d.name; ++k) {
            EXPECT_EQ(d.name[k], '\0') << "parameter " << i << " name byte " << k;
        }
        EXPECT_EQ(d.ui_width, 0) << i;
        EXPECT_EQ(d.ui_height, 0) << i;
        EXPECT_EQ(d.unused, 0) << i;
        if (d.param_type == PF_Param_GROUP_START || d.param_type == PF_Param_GROUP_END) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(&d.u);
            for (std::size_t k = 0; k < sizeof d.u; ++k) {
                ASSERT_EQ(bytes[k], 0) << "group parameter " << i << " union byte " << k;
            }
        }
    }
}

// ---- Topics ---------------------------------------------------------------------------------------

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
            EXPECT_STREQ(def(i).name, "") << "group end " << i;
            closed.push_back({start, i, open.empty() ? 0 : open.back(), def(start).name});
        }
    }
    EXPECT_TRUE(open.empty()) << open.size() << " topics left open";
    EXPECT_EQ(closed, expected);
}

// ---- Every parameter against the transcribed table -----------------------------------------------

const std::map<std::string, PF_ParamType> kTypeNames = {
    {"group start", PF_Param_GROUP_START}, {"group end", PF_Param_GROUP_END},
    {"popup", PF_Param_POPUP},             {"float slider", PF_Param_FLOAT_SLIDER},
    {"layer", PF_Param_LAYER},             {"checkbox", PF_Param_CHECKBOX},
    {"3-D point", PF_Param_POINT_3D},      {"colour", PF_Param_COLOR},
    {"angle", PF_Param_ANGLE},
};

const std::map<std::string, A_long> kFlagNames = {
    {"PF_ParamFlag_SUPERVISE", PF_ParamFlag_SUPERVISE},
    {"PF_ParamFlag_START_COLLAPSED", PF_ParamFlag_START_COLLAPSED},
    {"PF_ParamFlag_COLLAPSE_TWIRLY", PF_ParamFlag_COLLAPSE_TWIRLY},
    {"PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN", PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN},
};

// Names, types, ranges, defaults, decimals, flags and choices are what stored projects and users
// rely on; the table is transcribed from the design, never from the code.
TEST_F(ParamTable, EveryParameterIsAsTheTableGivesIt) {
    const std::vector<testdata::ParamRow> rows = testdata::parameterTable();
    ASSERT_EQ(rows.size(), std::size_t(kRegisteredParamCount)) << "the table file could not be read whole";
    for (const testdata::ParamRow& row : rows) {
        SCOPED_TRACE("parameter " + std::to_string(row.index) + " \"" + row.name + "\"");
        const RecordedParam& p = param(row.index);
        const PF_ParamDef& d = p.def;
        EXPECT_EQ(d.uu.id, row.index);
        EXPECT_STREQ(d.name, row.name.c_str());
        ASSERT_TRUE(kTypeNames.count(row.type)) << row.type;
        ASSERT_EQ(d.param_type, kTypeNames.at(row.type));

        A_long flags = 0, uiFlags = 0;
        std::string label;
        std::stringstream names(row.flags);
        for (std::string flag; std::getline(names, flag, ',');) {
            if (flag == "PF_PUI_INVISIBLE") uiFlags |= PF_PUI_INVISIBLE;
            else if (flag.rfind("label=", 0) == 0) label = flag.substr(6);
            else flags |= kFlagNames.at(flag);
        }
        EXPECT_EQ(d.flags, flags);
        EXPECT_EQ(d.ui_flags, uiFlags);

        switch (d.param_type) {
            case PF_Param_FLOAT_SLIDER: {
                const PF_FloatSliderDef& fs = d.u.fs_d;
                const std::size_t dots = row.range.find("..");
                const float lo = std::stof(row.range.substr(0, dots)), hi = std::stof(row.range.substr(dots + 2));
                EXPECT_EQ(fs.valid_min, lo);
                EXPECT_EQ(fs.valid_max, hi);
                EXPECT_EQ(fs.slider_min, lo);
                EXPECT_EQ(fs.slider_max, hi);
                EXPECT_EQ(fs.dephault, std::stof(row.dephault));
                EXPECT_EQ(fs.value, std::stod(row.dephault));
                EXPECT_EQ(fs.precision, std::stoi(row.decimals));
                EXPECT_EQ(fs.display_flags, 0);
                EXPECT_EQ(fs.fs_flags, 0u);
                EXPECT_EQ(fs.curve_tolerance, 0.0f);
                break;
            }
            case PF_Param_POPUP: {
                const std::vector<std::string> choices = splitChoices(row.choices);
                EXPECT_EQ(p.popupChoices, row.choices);
                EXPECT_EQ(d.u.pd.num_choices, A_short(choices.size()));
                EXPECT_EQ(d.u.pd.dephault, std::stoi(row.dephault));
                EXPECT_EQ(d.u.pd.value, std::stoi(row.dephault));
                break;
            }
            case PF_Param_LAYER:
                EXPECT_EQ(row.dephault, "none");
                EXPECT_EQ(d.u.ld.dephault, PF_LayerDefault_NONE);
                break;
            case PF_Param_CHECKBOX:
                EXPECT_EQ(row.dephault, "off");
                EXPECT_EQ(d.u.bd.dephault, 0);
                EXPECT_EQ(d.u.bd.value, 0);
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
                EXPECT_EQ((std::array<double, 3>{pt.x_dephault, pt.y_dephault, pt.z_dephault}),
                          (std::array<double, 3>{v[0], v[1], v[2]}));
                EXPECT_EQ((std::array<double, 3>{pt.x_value, pt.y_value, pt.z_value}),
                          (std::array<double, 3>{v[0], v[1], v[2]}));
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

// ---- Host refusals and bad input ------------------------------------------------------------------

class ParamTableFailure : public ::testing::TestWithParam<int> {};

TEST_P(ParamTableFailure, StopsAtTheRefusedParameterAndReturnsItsError) {
    const int failingCall = GetParam();
    for (PF_Err hostError : {PF_Err(PF_Err_OUT_OF_MEMORY), PF_Err(PF_Err_INVALID_INDEX), PF_Err(7777)}) {
        SCOPED_TRACE(hostError);
        FakeHost host;
        host.failOnCall = failingCall;
        host.failWith = hostError;
        EXPECT_EQ(setupParams(&host.in, &host.out), hostError);
        EXPECT_EQ(host.calls, failingCall) << "parameters after the refused one were offered";
        ASSERT_EQ(host.params.size(), std::size_t(failingCall - 1));
        if (!host.params.empty()) {
            EXPECT_EQ(host.params.back().def.uu.id, failingCall - 1);
        }
        EXPECT_EQ(host.out.num_params, FakeHost::kNumParamsSentinel);
    }
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, ParamTableFailure, ::testing::Values(1, 50, 136));

TEST(ParamTableBadInput, MissingRecordsOrCallbackAreRefused) {
    FakeHost host;
    EXPECT_EQ(setupParams(nullptr, &host.out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(setupParams(&host.in, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    host.in.inter.add_param = nullptr;
    EXPECT_EQ(setupParams(&host.in, &host.out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.calls, 0);
    EXPECT_EQ(host.out.num_params, FakeHost::kNumParamsSentinel);
}

}  // namespace
}  // namespace cindel
