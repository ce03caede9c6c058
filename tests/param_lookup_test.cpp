// minihost's parameter lookup and value conversion (minihost/param_lookup.h) on the small table of
// param_table_builder.h: what `--set` and scene files resolve names and values through.
#include "minihost/param_lookup.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "minihost/host_error.h"
#include "param_table_builder.h"

namespace minihost {
namespace {

class ParamLookupTest : public ::testing::Test {
protected:
    cindel::test::SmallParamTable table;
    ParamLookup lookup{table.definitions};
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
    EXPECT_EQ(lookup.groupPathText(15), "Color/Smoke");
}

// Unknown, out-of-range and ambiguous references are refused rather than guessed.
TEST_F(ParamLookupTest, BadReferencesAreRefused) {
    for (const char* bad : {"#99", "0", "Turbulance", "Qualty", "Turbulence", "Gamma"})
        EXPECT_THROW(lookup.find(bad), HostError) << bad;
}

TEST_F(ParamLookupTest, ConvertsEachTypeFromText) {
    // Text that reads as a number is one.
    for (auto [name, text, choice] : {std::tuple{"Quality", "Draft", 1}, {"Quality", "ultra", 4},
                                      {"Quality", " 2 ", 2}, {"Sim Mode", "+ Buoyancy", 2}})
        EXPECT_EQ(value(name, text).u.pd.value, choice) << text;
    EXPECT_EQ(value("Invert", "on").u.bd.value, 1);
    EXPECT_EQ(paramValueFromInput(lookup.find("Invert"), ParamInput::ofBoolean(false)).u.bd.value, 0);
    const PF_Pixel hex = value("Source", "#FF8000").u.cd.value;
    EXPECT_EQ((std::array<int, 3>{hex.red, hex.green, hex.blue}), (std::array<int, 3>{255, 128, 0}));
    EXPECT_EQ(value("Source", "1, 0.5, 0").u.cd.value.green, 128);  // 127.5 rounds up
    const ParamValue point = value("Source Position", "480,400");
    EXPECT_EQ(std::tuple(point.point[0], point.point[2]), std::tuple(480.0, 0.0));
    EXPECT_EQ(value("Hue Shift", "90").u.ad.value, 90 << 16);
}

TEST_F(ParamLookupTest, BadValuesAreRefusedNotClamped) {
    EXPECT_THROW(value("Quality", "Fast"), HostError);
    const ParamDefinition& vorticity = lookup.find("Vorticity");
    ParamStream stream(&vorticity);
    EXPECT_THROW(stream.set(paramValueFromInput(vorticity, ParamInput::ofNumber(31))), HostError);
    EXPECT_TRUE(stream.isAtDefault());
    ParamStream quality(&lookup.find("Quality"));
    EXPECT_THROW(quality.set(paramValueFromInput(lookup.find("Quality"), ParamInput::ofNumber(5))), HostError);
    EXPECT_THROW(value("Invert", "maybe"), HostError);
    EXPECT_THROW(paramValueFromInput(lookup.find("Source"), ParamInput::ofNumbers({2, 0, 0})), HostError);
    EXPECT_THROW(paramValueFromInput(lookup.find("Source Position"), ParamInput::ofNumber(3)), HostError);
    EXPECT_THROW(value("Turbulence/Turbulence", "lots"), HostError);
}

}  // namespace
}  // namespace minihost
