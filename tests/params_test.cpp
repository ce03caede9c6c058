// Contract tests of the parameter table: setupParams runs against a small fake host whose add_param
// keeps a copy of every definition (and of the strings it points to, as a real host must, since the
// effect reuses one definition for all rows). The checks are what projects and the other parts of
// the effect depend on: ids, types, ranges, defaults, flags and the topic nesting, plus the early
// return when the host refuses a parameter.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

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

    static std::set<int> indicesOfType(PF_ParamType type) {
        std::set<int> out;
        for (const RecordedParam& p : host_->params) {
            if (p.def.param_type == type) out.insert(p.def.uu.id);
        }
        return out;
    }
    static std::set<int> indicesWithFlag(PF_ParamFlags flag) {
        std::set<int> out;
        for (const RecordedParam& p : host_->params) {
            if ((p.def.flags & flag) != 0) out.insert(p.def.uu.id);
        }
        return out;
    }
    static std::set<int> indicesWithUiFlag(PF_ParamUIFlags flag) {
        std::set<int> out;
        for (const RecordedParam& p : host_->params) {
            if ((p.def.ui_flags & flag) != 0) out.insert(p.def.uu.id);
        }
        return out;
    }

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

std::set<int> range(int first, int last) {
    std::set<int> out;
    for (int i = first; i <= last; ++i) out.insert(i);
    return out;
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

// ---- Types ----------------------------------------------------------------------------------------

TEST_F(ParamTable, ParameterTypesSitAtTheirIndices) {
    EXPECT_EQ(indicesOfType(PF_Param_POPUP),
              (std::set<int>{2, 7, 14, 15, 49, 77, 78, 98, 114, 120, 121, 127, 130, 134, 135}));
    EXPECT_EQ(indicesOfType(PF_Param_LAYER), (std::set<int>{5, 12}));
    EXPECT_EQ(indicesOfType(PF_Param_CHECKBOX), (std::set<int>{11}));
    EXPECT_EQ(indicesOfType(PF_Param_POINT_3D), (std::set<int>{16}));
    EXPECT_EQ(indicesOfType(PF_Param_ANGLE), (std::set<int>{66, 106}));
    EXPECT_EQ(indicesOfType(PF_Param_COLOR), (std::set<int>{81, 82, 85, 90, 100, 104}));

    // Whatever is not a group, popup, layer, checkbox, point, angle or colour is a float slider:
    // no integer or fixed sliders, and no type the host would not expect.
    std::size_t groups = indicesOfType(PF_Param_GROUP_START).size() + indicesOfType(PF_Param_GROUP_END).size();
    EXPECT_EQ(groups, 34u);
    EXPECT_EQ(indicesOfType(PF_Param_FLOAT_SLIDER).size(), 136u - 34u - 15u - 2u - 1u - 1u - 2u - 6u);
}

TEST_F(ParamTable, BurnDirectionIsASliderWhileEvolutionAndHueShiftAreAngles) {
    ASSERT_EQ(def(kParamBurnDirection).param_type, PF_Param_FLOAT_SLIDER);
    EXPECT_EQ(def(kParamBurnDirection).u.fs_d.valid_min, 0.0f);
    EXPECT_EQ(def(kParamBurnDirection).u.fs_d.valid_max, 360.0f);
    for (int i : {int(kParamHeatEvolution), int(kParamHueShift)}) {
        ASSERT_EQ(def(i).param_type, PF_Param_ANGLE) << i;
        EXPECT_EQ(def(i).u.ad.value, 0) << i;
        EXPECT_EQ(def(i).u.ad.dephault, 0) << i;
    }
}

TEST_F(ParamTable, SeedAndOctavesAreWholeNumberFloatSliders) {
    for (int i : {int(kParamRandomSeed), int(kParamDetailOctaves)}) {
        ASSERT_EQ(def(i).param_type, PF_Param_FLOAT_SLIDER) << i;
        EXPECT_EQ(def(i).u.fs_d.precision, 0) << i;
    }
    EXPECT_EQ(def(kParamRandomSeed).u.fs_d.valid_max, 9999.0f);
    EXPECT_EQ(def(kParamDetailOctaves).u.fs_d.dephault, 6.0f);
}

// ---- Names ----------------------------------------------------------------------------------------

TEST_F(ParamTable, InvertHasNoNameAndItsLabelBesideTheBox) {
    const RecordedParam& p = param(kParamInvert);
    EXPECT_STREQ(p.def.name, "");
    EXPECT_EQ(p.checkboxLabel, "Invert");
    EXPECT_EQ(p.def.u.bd.value, 0);
    EXPECT_EQ(p.def.u.bd.dephault, 0);
}

TEST_F(ParamTable, OnlyGroupEndsAndInvertAreUnnamedAndOnlyTurbulenceRepeats) {
    std::set<int> unnamed;
    std::map<std::string, std::vector<int>> byName;
    for (int i = 1; i <= kRegisteredParamCount; ++i) {
        if (def(i).name[0] == '\0') {
            unnamed.insert(i);
        } else {
            byName[def(i).name].push_back(i);
        }
    }
    std::set<int> expectedUnnamed = indicesOfType(PF_Param_GROUP_END);
    expectedUnnamed.insert(kParamInvert);
    EXPECT_EQ(unnamed, expectedUnnamed);

    std::map<std::string, std::vector<int>> repeated;
    for (const auto& [name, indices] : byName) {
        if (indices.size() > 1) repeated[name] = indices;
    }
    const std::map<std::string, std::vector<int>> expectedRepeated = {{"Turbulence", {56, 58}}};
    EXPECT_EQ(repeated, expectedRepeated);
    EXPECT_EQ(def(kParamGroupTurbulence).param_type, PF_Param_GROUP_START);
    EXPECT_EQ(def(kParamTurbulence).param_type, PF_Param_FLOAT_SLIDER);
}

// ---- Popups ---------------------------------------------------------------------------------------

TEST_F(ParamTable, PopupChoicesMatchTheirCountAndDefaults) {
    // The default named by its choice, so that a default pointing one choice off is caught too.
    struct Expected {
        int index;
        int numChoices;
        int dephault;
        const char* defaultChoice;
    };
    const Expected popups[] = {
        {kParamPreset, 16, 1, "Custom"},     {kParamPatternType, 7, 3, "Noise"}, {kParamPathEmitter, 2, 1, "None"},
        {kParamLightSource, 6, 1, "Off"},    {kParamBurnMode, 5, 1, "None"},     {kParamColorMode, 2, 1, "Blackbody"},
        {kParamColorPreset, 8, 1, "Custom"}, {kParamKeyLight, 6, 1, "Off"},      {kParamEdgeSampling, 3, 2, "Sharp"},
        {kParamQuality, 4, 4, "Ultra"},      {kParamVoxelSize, 4, 3, "Small"},   {kParamMotionBlur, 3, 1, "Off"},
        {kParamBlendMode, 2, 1, "Normal"},   {kParamSimMode, 5, 5, "Full"},      {kParamDebugView, 3, 1, "Final"},
    };
    for (const Expected& e : popups) {
        SCOPED_TRACE(e.index);
        const RecordedParam& p = param(e.index);
        ASSERT_EQ(p.def.param_type, PF_Param_POPUP);
        const std::vector<std::string> choices = splitChoices(p.popupChoices);
        EXPECT_EQ(p.def.u.pd.num_choices, e.numChoices);
        ASSERT_EQ(choices.size(), std::size_t(p.def.u.pd.num_choices)) << p.popupChoices;
        for (const std::string& c : choices) EXPECT_FALSE(c.empty()) << p.popupChoices;
        EXPECT_EQ(p.def.u.pd.dephault, e.dephault);
        EXPECT_EQ(p.def.u.pd.value, p.def.u.pd.dephault);
        ASSERT_GE(p.def.u.pd.dephault, 1);
        ASSERT_LE(p.def.u.pd.dephault, p.def.u.pd.num_choices);
        EXPECT_EQ(choices[std::size_t(p.def.u.pd.dephault - 1)], e.defaultChoice);
    }
}

TEST_F(ParamTable, PresetChoicesFollowThePresetOrder) {
    // Preset n is the n-th choice; the preset table relies on the first and last positions.
    const std::vector<std::string> choices = splitChoices(param(kParamPreset).popupChoices);
    ASSERT_EQ(choices.size(), 16u);
    EXPECT_EQ(choices[1], "Logo Fire (Source Layer)");
    EXPECT_EQ(choices[6], "Fire Trail (Source Point)");
    EXPECT_EQ(choices[15], "Burn Iris (Source Layer)");
}

// ---- Float sliders --------------------------------------------------------------------------------

TEST_F(ParamTable, FloatSlidersHaveOneRangeAndADefaultInside) {
    for (int i : indicesOfType(PF_Param_FLOAT_SLIDER)) {
        SCOPED_TRACE(i);
        const PF_FloatSliderDef& s = def(i).u.fs_d;
        EXPECT_EQ(s.valid_min, s.slider_min);
        EXPECT_EQ(s.valid_max, s.slider_max);
        EXPECT_LT(s.valid_min, s.valid_max);
        EXPECT_GE(s.dephault, s.valid_min);
        EXPECT_LE(s.dephault, s.valid_max);
        // value is a double and dephault a float of the same default.
        EXPECT_EQ(PF_FpShort(s.value), s.dephault);
        EXPECT_GE(s.precision, 0);
        EXPECT_LE(s.precision, 2);
        EXPECT_EQ(s.phase, 0.0);
        EXPECT_EQ(s.display_flags, 0);
        EXPECT_EQ(s.fs_flags, 0u);
        EXPECT_EQ(s.curve_tolerance, 0.0f);
        EXPECT_EQ(s.useExponent, 0.0);
        EXPECT_EQ(s.exponent, 0.0);
        EXPECT_EQ(s.value_desc[0], '\0');
    }
}

TEST_F(ParamTable, WideAndSignedSliderRanges) {
    auto expectRange = [](int index, float lo, float hi) {
        SCOPED_TRACE(index);
        ASSERT_EQ(def(index).param_type, PF_Param_FLOAT_SLIDER);
        EXPECT_EQ(def(index).u.fs_d.valid_min, lo);
        EXPECT_EQ(def(index).u.fs_d.valid_max, hi);
    };
    expectRange(kParamShutterAngle, 0.0f, 1000.0f);
    EXPECT_EQ(def(kParamShutterAngle).u.fs_d.dephault, 180.0f);
    for (int i : {kParamGravity, kParamWindX, kParamWindY, kParamWindZ}) expectRange(i, -200.0f, 200.0f);
    expectRange(kParamScatterAnisotropy, -0.95f, 0.95f);
    expectRange(kParamExposure, -5.0f, 5.0f);
}

TEST_F(ParamTable, FractionalDefaultsKeepTheirDigits) {
    // The double value carries the default as written; only dephault is rounded to float.
    EXPECT_EQ(def(kParamSmokeOutput).u.fs_d.value, 0.3);
    EXPECT_EQ(def(kParamIntensity).u.fs_d.value, 0.7);
    EXPECT_EQ(def(kParamBurnCutoffCenter).u.fs_d.value, 0.15);
    EXPECT_EQ(def(kParamBurnCutoffWidth).u.fs_d.valid_min, 0.01f);
    EXPECT_EQ(def(kParamSmokeDecay).u.fs_d.valid_max, 1.2f);
}

// ---- Other types ----------------------------------------------------------------------------------

TEST_F(ParamTable, ColoursAreOpaqueWithChannelsInPlace) {
    for (int i : indicesOfType(PF_Param_COLOR)) {
        SCOPED_TRACE(i);
        const PF_ColorDef& c = def(i).u.cd;
        EXPECT_EQ(c.value.alpha, 255);
        EXPECT_EQ(std::memcmp(&c.value, &c.dephault, sizeof c.value), 0);
    }
    // #FFE682: three distinct channels, so a swapped channel order shows.
    const PF_Pixel& source = def(kParamSource).u.cd.dephault;
    EXPECT_EQ(source.red, 0xFF);
    EXPECT_EQ(source.green, 0xE6);
    EXPECT_EQ(source.blue, 0x82);
    const PF_Pixel& ambient = def(kParamAmbientColor).u.cd.dephault;
    EXPECT_EQ(ambient.red, 0x50);
    EXPECT_EQ(ambient.green, 0x64);
    EXPECT_EQ(ambient.blue, 0x82);
}

TEST_F(ParamTable, LayersDefaultToNoneAndThePointToTheFrameCentre) {
    for (int i : {kParamSourceLayer, kParamCustomMap}) {
        EXPECT_EQ(def(i).u.ld.dephault, PF_LayerDefault_NONE) << i;
    }
    const PF_Point3DDef& p = def(kParamSourcePosition).u.point3d_d;
    EXPECT_EQ(p.x_value, 50.0);
    EXPECT_EQ(p.y_value, 50.0);
    EXPECT_EQ(p.z_value, 0.0);
    EXPECT_EQ(p.x_dephault, 50.0);
    EXPECT_EQ(p.y_dephault, 50.0);
    EXPECT_EQ(p.z_dephault, 0.0);
}

// ---- Flags ----------------------------------------------------------------------------------------

TEST_F(ParamTable, FlagsSitOnExactlyTheirParameters) {
    EXPECT_EQ(indicesWithFlag(PF_ParamFlag_SUPERVISE), (std::set<int>{2, 77, 78}));
    EXPECT_EQ(indicesWithFlag(PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN), range(79, 82));
    // START_COLLAPSED and COLLAPSE_TWIRLY are the same bit: the topic 6 starts closed, and the
    // angle 106 keeps its dial folded.
    EXPECT_EQ(indicesWithFlag(PF_ParamFlag_START_COLLAPSED), (std::set<int>{6, 106}));
    EXPECT_EQ(indicesWithUiFlag(PF_PUI_INVISIBLE), (std::set<int>{69, 78, 85, 133, 134, 135}));

    const PF_ParamFlags known =
        PF_ParamFlag_SUPERVISE | PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN | PF_ParamFlag_START_COLLAPSED;
    for (int i = 1; i <= kRegisteredParamCount; ++i) {
        EXPECT_EQ(def(i).flags & ~known, 0) << "unexpected flags on " << i;
        EXPECT_EQ(def(i).ui_flags & ~PF_ParamUIFlags(PF_PUI_INVISIBLE), 0) << "unexpected ui flags on " << i;
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
