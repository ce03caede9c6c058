// The plug-in library driven by minihost through EffectMain alone: global and sequence set-up, whole
// frames. Its instance counter is process-wide and keeps counting across tests, so ids are relative.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <tuple>

#include "host/plugin_properties.h"
#include "minihost/host.h"
#include "params/param_index.h"

using namespace minihost;

namespace {

std::uint64_t instanceIdOf(const Instance& instance) {
    std::uint64_t id = 0;
    const std::vector<std::uint8_t> bytes = instance.sequenceBytes();
    std::memcpy(&id, bytes.data(), std::min<std::size_t>(bytes.size(), 8));  // a little-endian host
    return id;
}

class EffectEntry : public ::testing::Test {
protected:
    void SetUp() override { host_ = Host::load(CINDEL_PLUGIN_PATH); }
    void TearDown() override {
        if (host_) host_->shutdown();
    }
    Host& host() { return *host_; }
    std::unique_ptr<Host> host_;
};

TEST_F(EffectEntry, GlobalSetupReportsVersionAndFlags) {
    ASSERT_EQ(host().globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host().effectVersion(), static_cast<A_u_long>(PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 2)));
    EXPECT_EQ(host().globalOutFlags(), 0x06088006);
    EXPECT_EQ(host().globalOutFlags2(), 0x00221486);
    // The property resource carries these constants, so the two must agree.
    EXPECT_EQ(std::tuple(host().effectVersion(), host().globalOutFlags(), host().globalOutFlags2()),
              std::tuple(A_u_long(CINDEL_EFFECT_VERSION), PF_OutFlags(CINDEL_OUT_FLAGS), PF_OutFlags2(CINDEL_OUT_FLAGS2)));
    EXPECT_TRUE(host().suites().unbalanced().empty());
}

TEST_F(EffectEntry, SequenceIdsCountUpAndResetupGivesAFreshId) {
    ASSERT_EQ(host().start(), PF_Err_NONE);
    Instance& a = host().addInstance();
    Instance& b = host().addInstance();
    const std::uint64_t idA = instanceIdOf(a);
    EXPECT_EQ(instanceIdOf(b), idA + 1);
    ASSERT_EQ(host().sequenceResetup(a), PF_Err_NONE);
    EXPECT_EQ(instanceIdOf(a), idA + 2);
    ASSERT_EQ(host().sequenceSetdown(b), PF_Err_NONE);
    EXPECT_EQ(b.sequenceData(), nullptr);
}

// Frames through the host protocol: written where and how the host asked (content is the renderer's).
class EffectFrames : public EffectEntry {
protected:
    void SetUp() override {
        EffectEntry::SetUp();
        ASSERT_EQ(host().start(), PF_Err_NONE);
        instance_ = &host().addInstance(31, 17);
        // The smallest grid and the source-only stage keep the real simulation quick on a CPU device.
        instance_->setPopup(cindel::kParamVoxelSize, 1);
        instance_->setPopup(cindel::kParamSimMode, 1);
    }
    Instance& instance() { return *instance_; }
    Instance* instance_ = nullptr;
};

// The Heat Slice view and the no-GPU fill are both opaque everywhere, so full alpha at every pixel
// at the world's depth holds whether or not OpenCL started.
TEST_F(EffectFrames, EveryPixelIsWrittenAtEveryDepthAndRowPaddingIsKept) {
    instance().setPopup(cindel::kParamDebugView, 2);
    for (auto [bits, opaque] : {std::pair{8, 255.0}, {16, 32768.0}, {32, 1.0}}) {
        World out(31, 17, bits, 12);
        out.fill(0.25f, 0.5f, 0.5f, 0.5f);
        ASSERT_EQ(host().renderFrame(instance(), out), PF_Err_NONE);
        for (A_long y = 0; y < out.height(); ++y)
            for (A_long x = 0; x < out.width(); ++x)
                ASSERT_EQ(bits == 8 ? out.pixel8(x, y).alpha : bits == 16 ? out.pixel16(x, y).alpha
                                                                        : out.pixel32(x, y).alpha,
                          opaque) << bits << " bits at " << x << "," << y;
        EXPECT_TRUE(out.paddingIntact()) << bits;
    }
    EXPECT_EQ(instance().checkouts().outstanding(), 0);
    EXPECT_TRUE(host().suites().unbalanced().empty());
}

// Frame 5 reached by playing 0 ... 5 equals frame 5 reached again after scrubbing back to 2.
TEST_F(EffectFrames, ScrubbedFrameEqualsPlayedFrame) {
    World played(31, 17, 16), scrubbed(31, 17, 16);
    for (A_long f = 0; f <= 5; ++f) {
        host().settings().setFrame(f);
        ASSERT_EQ(host().renderFrame(instance(), played), PF_Err_NONE);
    }
    for (A_long f : {2, 5}) {
        host().settings().setFrame(f);
        ASSERT_EQ(host().renderFrame(instance(), scrubbed), PF_Err_NONE);
    }
    for (A_long y = 0; y < 17; ++y)
        for (A_long x = 0; x < 31; ++x) ASSERT_EQ(std::memcmp(&played.pixel16(x, y), &scrubbed.pixel16(x, y), 8), 0);
}

}  // namespace
