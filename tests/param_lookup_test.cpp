// minihost's parameter lookup and value conversion (minihost/param_lookup.h) on the small table of
// param_table_builder.h: what `--set` and scene files resolve names and values through.
#include "minihost/param_lookup.h"

#include <gtest/gtest.h>

#include <array>

#include "minihost/host_error.h"
#include "param_table_builder.h"

namespace minihost {
namespace {

// The message a lookup or conversion throws; "" when it succeeds.
template <typename F>
std::string errorOf(F call) {
    try {
        call();
    } catch (const HostError& e) {
        return e.what();
    }
    return "";
}
#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

class ParamLookupTest : public ::testing::Test {
protected:
    cindel::test::SmallParamTable table;
    ParamLookup lookup{table.definitions};
    std::string findError(const std::string& reference) { return errorOf([&] { lookup.find(reference); }); }
    ParamValue value(const std::string& name, const std::string& text) {
        return paramValueFromInput(lookup.find(name), paramInputFromText(text));
    }
};

TEST_F(ParamLookupTest, ResolvesNamesIndicesAndPaths) {
    const std::pair<const char*, int> cases[] = {
        {"Vorticity", 6}, {"vorticity", 6}, {"#7", 7},  {"7", 7},  {" Quality ", 19}, {"Invert", 2},
        {"Source", 12},  // a whole name, not the start of "Source Position"
        {"Turbulence/Turbulence", 7}, {"Fire/Gamma", 11}, {"Color/Smoke/Gamma", 15},
    };
    for (auto [reference, index] : cases) EXPECT_EQ(lookup.find(reference).index, index) << reference;
    EXPECT_EQ(lookup.unambiguousName(11), "Fire/Gamma");
    EXPECT_EQ(lookup.unambiguousName(6), "Vorticity");
    EXPECT_EQ(lookup.groupPathText(15), "Color/Smoke");
}

TEST_F(ParamLookupTest, RefusalsNameTheCandidates) {
    EXPECT_CONTAINS(findError("#99"), "no parameter with index 99; the effect's parameters are 1 to 22");
    EXPECT_CONTAINS(findError("0"), "no parameter with index 0");
    const std::string ambiguous = findError("Turbulence");
    EXPECT_CONTAINS(ambiguous, "parameter name \"Turbulence\" is ambiguous");
    EXPECT_CONTAINS(ambiguous, "#5 (group start, named \"#5\")");
    EXPECT_CONTAINS(ambiguous, "#7 (float slider in Turbulence, named \"Turbulence/Turbulence\")");
    EXPECT_CONTAINS(findError("Gamma"), "\"Smoke/Gamma\"");
    EXPECT_CONTAINS(findError("Turbulance"), "unknown parameter \"Turbulance\"; nearest names: \"Turbulence\"");
    EXPECT_CONTAINS(findError("Qualty"), "\"Quality\"");
}

TEST_F(ParamLookupTest, ConvertsEachTypeFromText) {
    EXPECT_EQ(value("Quality", "Draft").u.pd.value, 1);
    EXPECT_EQ(value("Quality", "ultra").u.pd.value, 4);
    EXPECT_EQ(value("Quality", " 2 ").u.pd.value, 2);  // text that reads as a number is one
    EXPECT_EQ(value("Sim Mode", "+ Buoyancy").u.pd.value, 2);
    EXPECT_EQ(value("Invert", "on").u.bd.value, 1);
    EXPECT_EQ(paramValueFromInput(lookup.find("Invert"), ParamInput::ofBoolean(false)).u.bd.value, 0);
    const PF_Pixel hex = value("Source", "#FF8000").u.cd.value;
    EXPECT_EQ((std::array<int, 3>{hex.red, hex.green, hex.blue}), (std::array<int, 3>{255, 128, 0}));
    EXPECT_EQ(value("Source", "1, 0.5, 0").u.cd.value.green, 128);  // 127.5 rounds up
    const ParamValue point = value("Source Position", "480,400");
    EXPECT_EQ(point.point[0], 480);
    EXPECT_EQ(point.point[2], 0);
    EXPECT_EQ(value("Hue Shift", "90").u.ad.value, 90 << 16);
}

TEST_F(ParamLookupTest, BadValuesAreRefusedNotClamped) {
    EXPECT_CONTAINS(errorOf([&] { value("Quality", "Fast"); }),
                    "parameter 19 \"Quality\": expected one of \"Draft\", \"Normal\", \"High\", \"Ultra\", got \"Fast\"");
    const ParamDefinition& vorticity = lookup.find("Vorticity");
    ParamStream stream(&vorticity);
    EXPECT_CONTAINS(errorOf([&] { stream.set(paramValueFromInput(vorticity, ParamInput::ofNumber(31))); }),
                    "parameter 6 \"Vorticity\": 31 is outside its range 0 to 30");
    EXPECT_TRUE(stream.isAtDefault());
    ParamStream quality(&lookup.find("Quality"));
    EXPECT_THROW(quality.set(paramValueFromInput(lookup.find("Quality"), ParamInput::ofNumber(5))), HostError);
    EXPECT_THROW(value("Invert", "maybe"), HostError);
    EXPECT_THROW(paramValueFromInput(lookup.find("Source"), ParamInput::ofNumbers({2, 0, 0})), HostError);
    EXPECT_CONTAINS(errorOf([&] { paramValueFromInput(lookup.find("Source Position"), ParamInput::ofNumber(3)); }),
                    "expected 2 or 3 numbers");
    EXPECT_THROW(value("Turbulence/Turbulence", "lots"), HostError);
}

TEST_F(ParamLookupTest, DescribesRangesAndDefaults) {
    EXPECT_EQ(describeRange(lookup.find("Fire/Gamma")), "0.1 to 4");
    EXPECT_EQ(describeDefault(lookup.find("Quality")), "Ultra");
    EXPECT_EQ(describeDefault(lookup.find("Source")), "#FFE682");
    EXPECT_EQ(describeDefault(lookup.find("Source Position")), "50%, 50%, 0");
    EXPECT_EQ(describeDefault(lookup.find("Invert")), "off");
}

}  // namespace
}  // namespace minihost
