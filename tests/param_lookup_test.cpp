// Tests of minihost's parameter lookup and value conversion (minihost/param_lookup.h) on a small
// table shaped like the effect's: a group and a slider with the same name, one name in two
// groups, a checkbox known only by its box's label, popups, a colour, a 3-D point, an angle.
#include "minihost/param_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "minihost/host_error.h"

namespace minihost {
namespace {

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

class Table {
public:
    Table() {
        add(PF_Param_LAYER, "");  // 0: the host's input layer
        add(PF_Param_GROUP_START, "Emitter");
        PF_ParamDef& invert = add(PF_Param_CHECKBOX, "");  // 2
        invert.u.bd.u.nameptr = "Invert";
        PF_ParamDef& source = add(PF_Param_POINT_3D, "Source Position");  // 3
        source.u.point3d_d.x_dephault = source.u.point3d_d.y_dephault = 50;
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Turbulence");  // 5
        slider("Vorticity", 0, 30, 10);           // 6
        slider("Turbulence", 0, 100, 25);         // 7
        add(PF_Param_GROUP_END, "");
        add(PF_Param_GROUP_START, "Color");                   // 9
        add(PF_Param_GROUP_START, "Fire");                    // 10
        slider("Gamma", 0.1f, 4, 1);                          // 11
        PF_ParamDef& colour = add(PF_Param_COLOR, "Source");  // 12
        colour.u.cd.dephault = PF_Pixel{255, 255, 230, 130};
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
        for (std::size_t i = 0; i < defs_.size(); ++i)
            definitions.emplace_back(static_cast<PF_ParamIndex>(i), defs_[i]);
    }

    std::deque<ParamDefinition> definitions;

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

std::string findError(const ParamLookup& lookup, const std::string& reference) {
    try {
        lookup.find(reference);
    } catch (const HostError& e) {
        return e.what();
    }
    return "";
}

TEST(ParamLookup, ByNameAndByIndex) {
    Table table;
    ParamLookup lookup(table.definitions);
    EXPECT_EQ(lookup.find("Vorticity").index, 6);
    EXPECT_EQ(lookup.find("vorticity").index, 6);  // case is forgiven when nothing matches exactly
    EXPECT_EQ(lookup.find("#7").index, 7);
    EXPECT_EQ(lookup.find("7").index, 7);
    EXPECT_EQ(lookup.find(" Quality ").index, 19);
    EXPECT_EQ(lookup.find("Invert").index, 2);  // a nameless checkbox by its label
    EXPECT_CONTAINS(findError(lookup, "#99"), "no parameter with index 99; the effect's parameters are 1 to 22");
    EXPECT_CONTAINS(findError(lookup, "0"), "no parameter with index 0");
}

TEST(ParamLookup, AmbiguousNamesAreRefusedWithTheCandidates) {
    Table table;
    ParamLookup lookup(table.definitions);
    std::string e = findError(lookup, "Turbulence");
    EXPECT_CONTAINS(e, "parameter name \"Turbulence\" is ambiguous");
    EXPECT_CONTAINS(e, "#5 (group start, named \"#5\")");
    EXPECT_CONTAINS(e, "#7 (float slider in Turbulence, named \"Turbulence/Turbulence\")");
    EXPECT_EQ(lookup.find("Turbulence/Turbulence").index, 7);

    e = findError(lookup, "Gamma");
    EXPECT_CONTAINS(e, "\"Fire/Gamma\"");
    EXPECT_CONTAINS(e, "\"Smoke/Gamma\"");
    EXPECT_EQ(lookup.find("Fire/Gamma").index, 11);
    EXPECT_EQ(lookup.find("Color/Smoke/Gamma").index, 15);
    EXPECT_EQ(lookup.unambiguousName(11), "Fire/Gamma");
    EXPECT_EQ(lookup.unambiguousName(6), "Vorticity");
    EXPECT_EQ(lookup.groupPathText(15), "Color/Smoke");
}

TEST(ParamLookup, UnknownNamesListTheNearest) {
    Table table;
    ParamLookup lookup(table.definitions);
    std::string e = findError(lookup, "Turbulance");
    EXPECT_CONTAINS(e, "unknown parameter \"Turbulance\"; nearest names: \"Turbulence\"");
    EXPECT_CONTAINS(findError(lookup, "Qualty"), "\"Quality\"");
    EXPECT_EQ(lookup.find("Source").index, 12);  // a whole name, not the start of "Source Position"
}

TEST(ParamValues, PopupsByChoiceText) {
    Table table;
    ParamLookup lookup(table.definitions);
    const ParamDefinition& quality = lookup.find("Quality");
    EXPECT_EQ(paramValueFromInput(quality, ParamInput::ofText("Draft")).u.pd.value, 1);
    EXPECT_EQ(paramValueFromInput(quality, ParamInput::ofText("ultra")).u.pd.value, 4);
    EXPECT_EQ(paramValueFromInput(quality, ParamInput::ofNumber(2)).u.pd.value, 2);
    EXPECT_EQ(paramValueFromInput(lookup.find("Sim Mode"), paramInputFromText("+ Buoyancy")).u.pd.value, 2);
    try {
        paramValueFromInput(quality, ParamInput::ofText("Fast"));
        FAIL();
    } catch (const HostError& e) {
        EXPECT_CONTAINS(
            e.what(),
            "parameter 19 \"Quality\": expected one of \"Draft\", \"Normal\", \"High\", \"Ultra\", got \"Fast\"");
    }
}

TEST(ParamValues, OutOfRangeIsRefusedWithTheRangeNotClamped) {
    Table table;
    ParamLookup lookup(table.definitions);
    const ParamDefinition& vorticity = lookup.find("Vorticity");
    ParamStream stream(&vorticity);
    try {
        stream.set(paramValueFromInput(vorticity, ParamInput::ofNumber(31)));
        FAIL();
    } catch (const HostError& e) {
        EXPECT_CONTAINS(e.what(), "parameter 6 \"Vorticity\": 31 is outside its range 0 to 30");
    }
    EXPECT_TRUE(stream.isAtDefault());
    ParamStream quality(&lookup.find("Quality"));
    EXPECT_THROW(quality.set(paramValueFromInput(lookup.find("Quality"), ParamInput::ofNumber(5))), HostError);
}

TEST(ParamValues, CheckboxesColoursPointsAndAngles) {
    Table table;
    ParamLookup lookup(table.definitions);
    const ParamDefinition& invert = lookup.find("Invert");
    EXPECT_EQ(paramValueFromInput(invert, paramInputFromText("on")).u.bd.value, 1);
    EXPECT_EQ(paramValueFromInput(invert, ParamInput::ofBoolean(false)).u.bd.value, 0);
    EXPECT_EQ(paramValueFromInput(invert, ParamInput::ofNumber(1)).u.bd.value, 1);
    EXPECT_THROW(paramValueFromInput(invert, ParamInput::ofText("maybe")), HostError);

    const ParamDefinition& source = lookup.find("Source");
    PF_Pixel hex = paramValueFromInput(source, paramInputFromText("#FF8000")).u.cd.value;
    EXPECT_EQ(hex.red, 255);
    EXPECT_EQ(hex.green, 128);
    EXPECT_EQ(hex.blue, 0);
    PF_Pixel floats = paramValueFromInput(source, paramInputFromText("1, 0.5, 0")).u.cd.value;
    EXPECT_EQ(floats.green, 128);
    EXPECT_THROW(paramValueFromInput(source, ParamInput::ofNumbers({2, 0, 0})), HostError);

    const ParamDefinition& position = lookup.find("Source Position");
    ParamValue point = paramValueFromInput(position, paramInputFromText("480,400"));
    EXPECT_DOUBLE_EQ(point.point[0], 480);
    EXPECT_DOUBLE_EQ(point.point[2], 0);
    try {
        paramValueFromInput(position, ParamInput::ofNumber(3));
        FAIL();
    } catch (const HostError& e) {
        EXPECT_CONTAINS(e.what(), "expected 2 or 3 numbers");
    }
    EXPECT_EQ(paramValueFromInput(lookup.find("Hue Shift"), ParamInput::ofNumber(90)).u.ad.value, 90 << 16);
    EXPECT_THROW(paramValueFromInput(lookup.find("Turbulence/Turbulence"), ParamInput::ofText("lots")), HostError);
}

TEST(ParamValues, CommandLineText) {
    EXPECT_EQ(paramInputFromText("12.5").kind, ParamInput::Kind::Number);
    EXPECT_EQ(paramInputFromText(" -3 ").number, -3);
    EXPECT_EQ(paramInputFromText("480, 400, 0").numbers.size(), 3u);
    EXPECT_EQ(paramInputFromText("Draft").kind, ParamInput::Kind::Text);
    EXPECT_EQ(paramInputFromText("#ff8800").kind, ParamInput::Kind::Text);
    EXPECT_EQ(paramInputFromText("a,b").kind, ParamInput::Kind::Text);
}

TEST(ParamValues, TableDescriptions) {
    Table table;
    ParamLookup lookup(table.definitions);
    EXPECT_EQ(describeRange(lookup.find("Fire/Gamma")), "0.1 to 4");
    EXPECT_EQ(describeDefault(lookup.find("Quality")), "Ultra");
    EXPECT_EQ(describeDefault(lookup.find("Source")), "#FFE682");
    EXPECT_EQ(describeDefault(lookup.find("Source Position")), "50%, 50%, 0");
    EXPECT_EQ(describeDefault(lookup.find("Invert")), "off");
}

}  // namespace
}  // namespace minihost
