// Presets, colour presets and visibility applied through the effect's own commands to minihost's
// streams, against tests/data: values, "Burn Progress" keyframes and hidden flags.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/aegp_suites.h"
#include "minihost/host.h"
#include "param_table_data.h"
#include "params/param_index.h"

namespace cindel {
namespace {

constexpr PF_OutFlags kRefreshFlags = PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;
// Value-carrying parameters that no preset writes.
const std::set<int> kNeverWritten = {kParamPreset, kParamColorPreset, kParamQuality,
                                     kParamVoxelSize, kParamSimMode, kParamDebugView};

class Presets : public ::testing::Test {
protected:
    void SetUp() override {
        processState().aegpPluginId = host.builtinSuites().pluginIdToGive;
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        instance = &host.addInstance(64, 36);
    }
    void TearDown() override { processState().aegpPluginId = 0; }
    PF_Err pick(int index, A_long value) {
        instance->setUnchecked(index, minihost::ParamValue::popup(value));
        return host.userChangedParam(*instance, index);
    }
    // A parameter's value as a double (colours as 0xAARRGGBB, angles as 16.16).
    double held(int index) {
        const minihost::ParamValue v = instance->valueAt(index, minihost::HostTime{0, 24});
        switch (v.type) {
            case PF_Param_FLOAT_SLIDER: return v.u.fs_d.value;
            case PF_Param_POPUP: return v.u.pd.value;
            case PF_Param_CHECKBOX: return v.u.bd.value;
            case PF_Param_ANGLE: return v.u.ad.value;
            case PF_Param_COLOR: {
                const PF_Pixel p = v.u.cd.value;
                return double(uint32_t(p.alpha) << 24 | uint32_t(p.red) << 16 | uint32_t(p.green) << 8 | p.blue);
            }
            default: return -1;
        }
    }
    minihost::ParamStream& progress() { return instance->param(kParamBurnProgress); }
    bool isBalanced() {
        return host.suites().unbalanced().empty() && host.aegp().liveEffects() == 0 && host.aegp().liveStreams() == 0;
    }
    void seedProgressKeys(int n) {
        for (int i = 0; i < n; ++i)
            instance->addKeyframe(kParamBurnProgress, {i * 10, 30}, minihost::ParamValue::floatSlider(10.0 * i));
    }

    minihost::Host host{&effectMain};
    minihost::Instance* instance = nullptr;
};

// The value a parameter holds once a preset wrote `text`, as the table spells it.
double heldFromTable(const testdata::ParamRow& row, const std::string& text) {
    if (row.type == "float slider") return double(std::stof(text));  // the record holds singles
    if (row.type == "popup") return std::stoi(text);
    if (row.type == "checkbox") return text == "on" ? 1 : 0;
    if (row.type == "angle") return double(PF_Fixed(std::stof(text) * 65536.0f));
    if (row.type == "colour") return double(0xFF000000u | std::uint32_t(std::stoul(text.substr(1), nullptr, 16)));
    ADD_FAILURE() << "no value for a " << row.type;
    return 0;
}

// Every look is "Custom" (the parameter defaults) with exactly the changes the table lists, and
// Burn Progress gets the listed keyframes (none for a look that lists none, replacing old ones).
TEST_F(Presets, EveryPresetIsCustomWithTheListedChanges) {
    const std::vector<testdata::ParamRow> table = testdata::parameterTable();
    ASSERT_EQ(table.size(), 136u);
    std::map<std::string, int> indexByName;
    for (const testdata::ParamRow& row : table)
        if (row.type != "group start" && !row.name.empty()) indexByName[row.name] = row.index;
    const std::set<std::string> valueTypes = {"float slider", "popup", "checkbox", "angle", "colour"};

    std::vector<std::vector<std::string>> looks = testdata::readRows("presets.tsv", 3);
    ASSERT_EQ(looks.size(), 15u);
    looks.insert(looks.begin(), {"1", "Custom", ""});
    instance->setPopup(kParamQuality, 1);  // not the default, so a write would show
    for (const std::vector<std::string>& look : looks) {
        SCOPED_TRACE(look[1]);
        std::map<int, std::string> changes;
        std::map<std::string, float> keys = {{"progressKeyDuration", 0}, {"progressKeyStart", 0}, {"progressKeyEnd", 0}};
        for (std::string item : testdata::splitAt(look[2], ';')) {
            if (item.empty()) continue;
            if (item[0] == ' ') item.erase(0, 1);
            if (const std::size_t paren = item.find(" ("); paren != std::string::npos) item.resize(paren);
            const std::size_t space = item.rfind(' ');
            const std::string name = item.substr(0, space), value = item.substr(space + 1);
            if (keys.count(name)) keys[name] = std::stof(value);
            else changes[indexByName.at(name)] = value;  // throws for a name no parameter has
        }
        seedProgressKeys(3);
        ASSERT_EQ(pick(kParamPreset, std::stoi(look[0])), PF_Err_NONE);
        EXPECT_EQ(host.lastCommand().out.out_flags & kRefreshFlags, kRefreshFlags);
        const bool hasKeys = keys["progressKeyDuration"] > 0;
        std::set<int> expectedWritten;
        for (const testdata::ParamRow& row : table) {
            if (!valueTypes.count(row.type) || kNeverWritten.count(row.index)) continue;
            if (row.index == kParamBurnProgress && hasKeys) continue;
            expectedWritten.insert(row.index);
            const auto change = changes.find(row.index);
            EXPECT_EQ(held(row.index), heldFromTable(row, change != changes.end() ? change->second : row.dephault))
                << row.name;
        }
        const std::vector<PF_ParamIndex>& changed = host.lastCommand().changedParams;
        EXPECT_EQ(std::set<int>(changed.begin(), changed.end()), expectedWritten);
        EXPECT_EQ(held(kParamQuality), 1);
        ASSERT_EQ(progress().keyframeCount(), hasKeys ? 2u : 0u);
        if (hasKeys) {
            EXPECT_EQ(std::tuple(progress().keyframeTime(0).seconds(), progress().keyframeTime(1).seconds()),
                      std::tuple(0.0, double(keys["progressKeyDuration"])));
            EXPECT_EQ(std::tuple(progress().keyframeValue(0).u.fs_d.value, progress().keyframeValue(1).u.fs_d.value),
                      std::tuple(double(keys["progressKeyStart"]), double(keys["progressKeyEnd"])));
            EXPECT_EQ(progress().keyframeInterpolation(1), minihost::Interpolation::Linear);
        }
        EXPECT_TRUE(isBalanced());
    }
}

TEST_F(Presets, EveryColourPresetWritesItsThreeColours) {
    const std::vector<std::vector<std::string>> rows = testdata::readRows("color_presets.tsv", 5);
    ASSERT_EQ(rows.size(), 7u);
    for (const std::vector<std::string>& row : rows) {
        SCOPED_TRACE(row[1]);
        ASSERT_EQ(pick(kParamColorPreset, std::stoi(row[0])), PF_Err_NONE);
        const int targets[] = {kParamSource, kParamMid, kParamTailCool};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(held(targets[k]), double(0xFF000000u | std::stoul(row[2 + k].substr(1), nullptr, 16)));
        EXPECT_EQ(host.lastCommand().changedParams, (std::vector<PF_ParamIndex>{kParamSource, kParamMid, kParamTailCool}));
    }
}

TEST_F(Presets, ChoicesOutsideTheTablesWriteNothing) {
    for (auto [index, value] : {std::pair{kParamPreset, 0}, {kParamPreset, 17}, {kParamPreset, -1},
                                {kParamColorPreset, 0}, {kParamColorPreset, 1}, {kParamColorPreset, 9}}) {
        ASSERT_EQ(pick(index, value), PF_Err_NONE);
        EXPECT_TRUE(host.lastCommand().changedParams.empty()) << index << " " << value;
        EXPECT_EQ(host.lastCommand().out.out_flags & kRefreshFlags, 0);
        EXPECT_EQ(host.aegp().effectsGiven(), 0);
    }
}

// Blackbody hides the ramp colours and the map, Custom Ramp the temperatures; both hide Light Cast
// and the softness sliders, and a supervised change of Color Mode swaps the sets at once.
TEST_F(Presets, VisibilityFollowsTheColourMode) {
    const int ramp[] = {kParamSource, kParamMid}, temps[] = {kParamMinColorTemp, kParamMaxColorTemp};
    const int always[] = {kParamColorPreset, kParamCustomMap, kParamLightCast, kParamLifeSoftness, kParamFadeSoftness};
    for (A_long mode : {1, 2}) {
        if (mode == 1) instance->setPopup(kParamColorMode, 1);
        ASSERT_EQ(mode == 1 ? host.updateParamsUi(*instance) : pick(kParamColorMode, 2), PF_Err_NONE);
        for (int i : ramp) EXPECT_EQ(instance->isHidden(i), mode == 1) << i;
        for (int i : temps) EXPECT_EQ(instance->isHidden(i), mode == 2) << i;
        for (int i : always) EXPECT_TRUE(instance->isHidden(i)) << i;
    }
    EXPECT_FALSE(instance->isHidden(kParamTailCool));
    EXPECT_EQ(host.lastCommand().out.out_flags, 0);
    EXPECT_TRUE(isBalanced());
}

}  // namespace
}  // namespace cindel
