// The float-to-host conversion at 8, 16 and 32 bits: truncation, full scales, opacity, refusals.
// Row walking and padding are checked through whole frames in effect_entry_test.
#include "frame/output_write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "minihost/world.h"

namespace cindel {
namespace {

using minihost::World;

// A pixel as A, R, G, B in the world's own units.
template <typename P>
std::array<double, 4> argb(const P& p) { return {double(p.alpha), double(p.red), double(p.green), double(p.blue)}; }
std::array<double, 4> pixelAt(const World& w, int bits) {
    return bits == 8 ? argb(w.pixel8(0, 0)) : bits == 16 ? argb(w.pixel16(0, 0)) : argb(w.pixel32(0, 0));
}
std::vector<std::uint8_t> bytesOf(const World& w) {
    const auto* p = static_cast<const std::uint8_t*>(static_cast<const void*>(w.get()->data));
    return {p, p + std::size_t(std::max(w.rowBytes(), A_long(w.width() * w.pixelSize()))) * std::size_t(w.height())};
}

// Integer depths truncate and clamp (16 bits' full scale is 32768, not 65535); float worlds keep
// the value; opacity scales all four channels, and outside 0 ... 1 acts as full.
TEST(WriteOutput, ConvertsAtEveryDepth) {
    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    struct Case {
        int bits;
        std::array<float, 4> rgba;
        float opacity;
        std::array<double, 4> argb;
    };
    const Case cases[] = {
        {8, {1.0f, 0.999f, 0.5f, 1.0f}, 1.0f, {255, 255, 254, 127}},
        {16, {1.0f, 0.999f, 0.5f, 1.0f}, 1.0f, {32768, 32768, 32735, 16384}},
        {8, {-0.5f, 3.0f, nan, inf}, 1.0f, {255, 0, 255, 0}}, {16, {-0.5f, 3.0f, nan, 0.0f}, 1.0f, {0, 0, 32768, 0}},
        {32, {-0.5f, 3.0f, 0.25f, 1.0f}, 1.0f, {1.0, -0.5, 3.0, 0.25}},
        {8, {1.0f, 0.5f, 0.0f, 1.0f}, 0.5f, {127, 127, 63, 0}},
        {16, {1.0f, 0.5f, 0.0f, 1.0f}, 0.5f, {16384, 16384, 8192, 0}},
        {32, {1.0f, 0.5f, 0.0f, 1.0f}, 0.5f, {0.5, 0.5, 0.25, 0}}, {8, {1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, {0, 0, 0, 0}},
        {8, {1.0f, 0.5f, 0.25f, 1.0f}, 1.5f, {255, 255, 127, 63}}, {8, {1.0f, 0.5f, 0.25f, 1.0f}, -0.1f, {255, 255, 127, 63}},
        {8, {1.0f, 0.5f, 0.25f, 1.0f}, nan, {255, 255, 127, 63}},
    };
    for (const Case& c : cases) {
        World world(1, 1, c.bits);
        PF_EffectWorld* w = world.get();
        ASSERT_TRUE(writeOutput(c.rgba.data(), w->data, 1, 1, w->rowbytes, c.bits, c.opacity));
        EXPECT_EQ(pixelAt(world, c.bits), c.argb) << c.bits << " bits, opacity " << c.opacity << ", red " << c.rgba[0];
    }
    // The slice view clamps too, but knows no opacity.
    const float slice[4] = {0.999f, 1.0f, -1.0f, 5.0f};
    for (auto [bits, argb] : {std::pair{8, std::array<double, 4>{255, 254, 255, 0}},
                              {16, std::array<double, 4>{32768, 32735, 32768, 0}},
                              {32, std::array<double, 4>{5, 0.999f, 1, -1}}}) {
        World world(1, 1, bits);
        ASSERT_TRUE(writeSliceOutput(slice, world.get()->data, 1, 1, world.get()->rowbytes, bits));
        EXPECT_EQ(pixelAt(world, bits), argb) << bits;
    }
}

TEST(WriteOutput, RefusedWorldsAreLeftUntouched) {
    const std::vector<float> image(4 * 4 * 4, 0.5f);
    World shortRows = World::withRowBytes(4, 4, 8, 4 * 4 - 1), ok(4, 4, 8);
    const std::vector<std::uint8_t> before = bytesOf(ok), shortBefore = bytesOf(shortRows);
    EXPECT_FALSE(writeOutput(image.data(), shortRows.get()->data, 4, 4, shortRows.rowBytes(), 8, 1.0f));
    void* px = ok.get()->data;
    EXPECT_FALSE(writeOutput(image.data(), px, 4, 4, -32, 8, 1.0f));
    EXPECT_FALSE(writeOutput(image.data(), px, 4, 4, 16, 24, 1.0f));  // not a depth we write
    EXPECT_FALSE(writeOutput(nullptr, px, 4, 4, 16, 8, 1.0f));
    EXPECT_FALSE(writeOutput(image.data(), px, 0, 4, 16, 8, 1.0f));
    EXPECT_FALSE(writeOutput(image.data(), px, 4, -1, 16, 8, 1.0f));
    EXPECT_FALSE(writeSliceOutput(image.data(), px, 4, 4, 15, 8));
    EXPECT_FALSE(writeOutput(image.data(), nullptr, 4, 4, 16, 8, 1.0f));
    EXPECT_EQ(bytesOf(ok), before);
    EXPECT_EQ(bytesOf(shortRows), shortBefore);
    EXPECT_TRUE(ok.paddingIntact() && shortRows.paddingIntact());
}

}  // namespace
}  // namespace cindel
