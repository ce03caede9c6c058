// The output write: depth detection through the host's world suite and its fallbacks, and the
// float-to-host conversion at 8, 16 and 32 bits (truncation, full scales, opacity, channel order,
// row padding, refused worlds).
#include "frame/output_write.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fake_params.h"

namespace cindel {
namespace {

using test::FakeHost;
using test::FakeWorld;

// One pixel written at `bits`, returning the world for inspection.
FakeWorld writeOne(float r, float g, float b, float a, int bits, float opacity = 1.0f) {
    FakeWorld world(1, 1, bits);
    const float rgba[4] = {r, g, b, a};
    PF_EffectWorld* w = world.get();
    EXPECT_TRUE(writeOutput(rgba, w->data, w->width, w->height, w->rowbytes, bits, opacity));
    return world;
}

TEST(WriteOutput, FullScaleAndTruncationAtIntegerDepths) {
    const FakeWorld w8 = writeOne(1.0f, 0.999f, 0.5f, 1.0f, 8);
    const PF_Pixel& p8 = w8.at<PF_Pixel>(0, 0);
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 255);
    EXPECT_EQ(p8.green, 254);  // 254.745 truncates
    EXPECT_EQ(p8.blue, 127);   // 127.5 truncates

    const FakeWorld w16 = writeOne(1.0f, 0.999f, 0.5f, 1.0f, 16);
    const PF_Pixel16& p16 = w16.at<PF_Pixel16>(0, 0);
    EXPECT_EQ(p16.alpha, 32768);  // full scale is 32768, not 65535
    EXPECT_EQ(p16.red, 32768);
    EXPECT_EQ(p16.green, 32735);
    EXPECT_EQ(p16.blue, 16384);
}

TEST(WriteOutput, NegativeAndOverbrightValues) {
    const FakeWorld w8 = writeOne(-0.5f, 3.0f, std::nanf(""), std::numeric_limits<float>::infinity(), 8);
    const PF_Pixel& p8 = w8.at<PF_Pixel>(0, 0);
    EXPECT_EQ(p8.red, 0);
    EXPECT_EQ(p8.green, 255);
    EXPECT_EQ(p8.blue, 0);  // NaN
    EXPECT_EQ(p8.alpha, 255);

    const FakeWorld w16 = writeOne(-0.5f, 3.0f, std::nanf(""), 0.0f, 16);
    const PF_Pixel16& p16 = w16.at<PF_Pixel16>(0, 0);
    EXPECT_EQ(p16.red, 0);
    EXPECT_EQ(p16.green, 32768);
    EXPECT_EQ(p16.blue, 0);
    EXPECT_EQ(p16.alpha, 0);

    const FakeWorld w32 = writeOne(-0.5f, 3.0f, 0.25f, 1.0f, 32);
    const PF_PixelFloat& p32 = w32.at<PF_PixelFloat>(0, 0);
    EXPECT_EQ(p32.red, -0.5f);  // float worlds are not clamped
    EXPECT_EQ(p32.green, 3.0f);
    EXPECT_EQ(p32.blue, 0.25f);
    EXPECT_EQ(p32.alpha, 1.0f);
}

TEST(WriteOutput, OpacityScalesAllFourChannels) {
    const FakeWorld w8 = writeOne(1.0f, 0.5f, 0.0f, 1.0f, 8, 0.5f);
    const PF_Pixel& p8 = w8.at<PF_Pixel>(0, 0);
    EXPECT_EQ(p8.alpha, 127);
    EXPECT_EQ(p8.red, 127);
    EXPECT_EQ(p8.green, 63);
    EXPECT_EQ(p8.blue, 0);

    const FakeWorld w16 = writeOne(1.0f, 0.5f, 0.0f, 1.0f, 16, 0.5f);
    EXPECT_EQ(w16.at<PF_Pixel16>(0, 0).alpha, 16384);
    EXPECT_EQ(w16.at<PF_Pixel16>(0, 0).green, 8192);

    const FakeWorld w32 = writeOne(1.0f, 0.5f, 0.0f, 1.0f, 32, 0.5f);
    EXPECT_EQ(w32.at<PF_PixelFloat>(0, 0).alpha, 0.5f);
    EXPECT_EQ(w32.at<PF_PixelFloat>(0, 0).green, 0.25f);

    const FakeWorld zero = writeOne(1.0f, 1.0f, 1.0f, 1.0f, 8, 0.0f);
    EXPECT_EQ(zero.at<PF_Pixel>(0, 0).alpha, 0);
}

TEST(WriteOutput, OpacityOutsideZeroToOneActsAsFull) {
    for (float opacity : {1.5f, -0.1f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        const FakeWorld w8 = writeOne(1.0f, 0.5f, 0.25f, 1.0f, 8, opacity);
        const PF_Pixel& p = w8.at<PF_Pixel>(0, 0);
        EXPECT_EQ(p.alpha, 255) << opacity;
        EXPECT_EQ(p.red, 255) << opacity;
        EXPECT_EQ(p.green, 127) << opacity;
        EXPECT_EQ(p.blue, 63) << opacity;
    }
}

TEST(WriteOutput, RowsAreWalkedWithRowBytesAndPaddingIsUntouched) {
    constexpr int kW = 5, kH = 3;
    std::vector<float> image(kW * kH * 4);
    for (int i = 0; i < kW * kH; ++i) {
        image[i * 4 + 0] = float(i) / 100.0f;  // red tells the pixel apart
        image[i * 4 + 1] = 0.5f;
        image[i * 4 + 2] = 0.25f;
        image[i * 4 + 3] = 1.0f;
    }
    for (int bits : {8, 16, 32}) {
        FakeWorld world(kW, kH, bits, /*padding=*/12);
        PF_EffectWorld* w = world.get();
        ASSERT_TRUE(writeOutput(image.data(), w->data, kW, kH, w->rowbytes, bits, 1.0f));
        EXPECT_GT(world.paddingByteCount(), 0u);
        EXPECT_EQ(world.paddingBytesChanged(), 0u) << bits << " bits";
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const float red = float(y * kW + x) / 100.0f;
                if (bits == 8) {
                    EXPECT_EQ(world.at<PF_Pixel>(x, y).red, uint8_t(red * 255.0f));
                    EXPECT_EQ(world.at<PF_Pixel>(x, y).alpha, 255);
                } else if (bits == 16) {
                    EXPECT_EQ(world.at<PF_Pixel16>(x, y).red, uint16_t(red * 32768.0f));
                    EXPECT_EQ(world.at<PF_Pixel16>(x, y).blue, 8192);
                } else {
                    EXPECT_EQ(world.at<PF_PixelFloat>(x, y).red, red);
                    EXPECT_EQ(world.at<PF_PixelFloat>(x, y).green, 0.5f);
                }
            }
        }
    }
}

TEST(WriteOutput, RefusedWorldsAreLeftUntouched) {
    const std::vector<float> image(4 * 4 * 4, 0.5f);
    {
        // Rows one byte short of their pixels.
        FakeWorld world(4, 4, 8, 0, 4 * 4 - 1);
        PF_EffectWorld* w = world.get();
        EXPECT_FALSE(writeOutput(image.data(), w->data, 4, 4, w->rowbytes, 8, 1.0f));
        EXPECT_EQ(world.bytesChanged(), 0u);
    }
    {
        FakeWorld world(4, 4, 16, 0, -32);
        PF_EffectWorld* w = world.get();
        EXPECT_FALSE(writeOutput(image.data(), w->data, 4, 4, w->rowbytes, 16, 1.0f));
        EXPECT_EQ(world.bytesChanged(), 0u);
    }
    {
        FakeWorld world(4, 4, 8);
        PF_EffectWorld* w = world.get();
        EXPECT_FALSE(writeOutput(image.data(), w->data, 4, 4, w->rowbytes, 24, 1.0f));  // not a depth we write
        EXPECT_FALSE(writeOutput(nullptr, w->data, 4, 4, w->rowbytes, 8, 1.0f));
        EXPECT_FALSE(writeOutput(image.data(), w->data, 0, 4, w->rowbytes, 8, 1.0f));
        EXPECT_FALSE(writeOutput(image.data(), w->data, 4, -1, w->rowbytes, 8, 1.0f));
        EXPECT_FALSE(writeSliceOutput(image.data(), w->data, 4, 4, 15, 8));
        EXPECT_EQ(world.bytesChanged(), 0u);
        EXPECT_FALSE(writeOutput(image.data(), nullptr, 4, 4, 16, 8, 1.0f));
    }
    {
        FakeWorld world(0, 0, 8);
        PF_EffectWorld* w = world.get();
        EXPECT_FALSE(writeOutput(image.data(), w->data, 0, 0, w->rowbytes, 8, 1.0f));
        EXPECT_EQ(world.bytesChanged(), 0u);
    }
}

TEST(WriteSliceOutput, ClampsInDoubleWithoutOpacity) {
    const float rgba[4] = {0.999f, 1.0f, -1.0f, 5.0f};
    FakeWorld w8(1, 1, 8), w16(1, 1, 16), w32(1, 1, 32);
    ASSERT_TRUE(writeSliceOutput(rgba, w8.get()->data, 1, 1, w8.get()->rowbytes, 8));
    ASSERT_TRUE(writeSliceOutput(rgba, w16.get()->data, 1, 1, w16.get()->rowbytes, 16));
    ASSERT_TRUE(writeSliceOutput(rgba, w32.get()->data, 1, 1, w32.get()->rowbytes, 32));
    EXPECT_EQ(w8.at<PF_Pixel>(0, 0).red, 254);
    EXPECT_EQ(w8.at<PF_Pixel>(0, 0).green, 255);
    EXPECT_EQ(w8.at<PF_Pixel>(0, 0).blue, 0);
    EXPECT_EQ(w8.at<PF_Pixel>(0, 0).alpha, 255);
    EXPECT_EQ(w16.at<PF_Pixel16>(0, 0).red, 32735);
    EXPECT_EQ(w16.at<PF_Pixel16>(0, 0).alpha, 32768);
    EXPECT_EQ(w32.at<PF_PixelFloat>(0, 0).blue, -1.0f);
    EXPECT_EQ(w32.at<PF_PixelFloat>(0, 0).alpha, 5.0f);
}

class WorldBits : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetWorldSuite();
        host.in.pica_basicP = test::fakeBasicSuite();
    }
    void TearDown() override { test::resetWorldSuite(); }
    FakeHost host;
};

TEST_F(WorldBits, PixelFormatDecidesTheDepth) {
    FakeWorld deep(2, 2, 16), shallow(2, 2, 8);
    test::worldSuiteState().format = PF_PixelFormat_ARGB128;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 32);
    test::worldSuiteState().format = PF_PixelFormat_ARGB64;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 16);
    test::worldSuiteState().format = PF_PixelFormat_ARGB32;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 8);
    // A format that is none of the three falls back to the world's flags.
    test::worldSuiteState().format = PF_PixelFormat_BGRA32;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 16);
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, shallow.get()), 8);
    EXPECT_EQ(test::worldSuiteState().acquires, 5);
    EXPECT_EQ(test::worldSuiteState().releases, 5);
}

TEST_F(WorldBits, FailedQueryFallsBackToTheDeepFlag) {
    FakeWorld deep(2, 2, 32), shallow(2, 2, 8);  // a 32-bit world is flagged deep like a 16-bit one
    test::worldSuiteState().queryError = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 16);
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, shallow.get()), 8);
    EXPECT_EQ(test::worldSuiteState().releases, 2);
}

TEST_F(WorldBits, MissingSuiteFallsBackAndIsReported) {
    FakeWorld deep(2, 2, 16);
    test::worldSuiteState().isAvailable = false;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 16);
    EXPECT_TRUE(host.out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(host.out.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(test::worldSuiteState().releases, 0);  // nothing acquired, nothing released

    host.in.pica_basicP = nullptr;
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, deep.get()), 16);
    EXPECT_EQ(worldBitsPerChannel(&host.in, &host.out, nullptr), 8);
}

}  // namespace
}  // namespace cindel
