// The effect as the host sees it: the plug-in library loaded with dlopen and driven by minihost
// through EffectMain alone: its exports, the command table, global and sequence set-up, and whole
// frames through smart pre-render and smart render. The frame driver's refusals of bad records are
// render_frame_test's.
//
// The library keeps process-wide state (instance counter, AEGP id). Each test loads the same
// library, so ids keep counting across tests; assertions compare ids relative to each other.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "AE_EffectSuites.h"
#include "host/plugin_properties.h"
#include "minihost/handles.h"
#include "minihost/host.h"
#include "params/param_index.h"

using namespace minihost;

namespace {

std::uint64_t instanceIdOf(const Instance& instance) {
    std::uint64_t id = 0;
    const std::vector<std::uint8_t> bytes = instance.sequenceBytes();
    EXPECT_GE(bytes.size(), 8u);
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

TEST_F(EffectEntry, LibraryExportsOnlyTheEntryPointLogHookAndVolumeSink) {
    void* lib = dlopen(CINDEL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_NE(dlsym(lib, "EffectMain"), nullptr);
    EXPECT_NE(dlsym(lib, "cindelSetLogSink"), nullptr);
    EXPECT_NE(dlsym(lib, "cindelSetVolumeSink"), nullptr);
    // Internals stay hidden, so a test process that also links the core never shares its state.
    EXPECT_EQ(dlsym(lib, "_ZN6cindel12processStateEv"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN6cindel11setupParamsEP9PF_InDataP10PF_OutData"), nullptr);
    dlclose(lib);
}

TEST_F(EffectEntry, GlobalSetupReportsVersionAndFlags) {
    ASSERT_EQ(host().globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host().effectVersion(), static_cast<A_u_long>(PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 2)));
    EXPECT_EQ(host().globalOutFlags(), 0x06088006);
    EXPECT_EQ(host().globalOutFlags2(), 0x00221486);
    // The property resource and global set-up must agree.
    EXPECT_EQ(host().effectVersion(), static_cast<A_u_long>(CINDEL_EFFECT_VERSION));
    EXPECT_EQ(host().globalOutFlags(), CINDEL_OUT_FLAGS);
    EXPECT_EQ(host().globalOutFlags2(), CINDEL_OUT_FLAGS2);
    EXPECT_EQ(host().globalOutFlags2() & PF_OutFlag2_SUPPORTS_THREADED_RENDERING, 0);
    EXPECT_EQ(host().globalOutFlags() & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING, 0);
    EXPECT_TRUE(host().suites().unbalanced().empty());
}

TEST_F(EffectEntry, SequenceIdsCountUpAndResetupGivesAFreshId) {
    ASSERT_EQ(host().start(), PF_Err_NONE);
    Instance& a = host().addInstance();
    Instance& b = host().addInstance();
    const std::uint64_t idA = instanceIdOf(a);
    const std::uint64_t idB = instanceIdOf(b);
    EXPECT_GE(idA, 1u);
    EXPECT_EQ(idB, idA + 1);
    ASSERT_EQ(host().sequenceResetup(a), PF_Err_NONE);
    EXPECT_EQ(instanceIdOf(a), idA + 2);
    ASSERT_EQ(host().sequenceSetdown(b), PF_Err_NONE);
    EXPECT_EQ(b.sequenceData(), nullptr);
}

// The effect owns only the first 8 bytes of the handle; without a handle set-up still succeeds.
TEST_F(EffectEntry, SequenceSetupWritesOnlyItsIdAndSurvivesNoHandle) {
    ASSERT_EQ(host().start(), PF_Err_NONE);
    HandleHeap::process().setNewBlockFill(0x5A);
    Instance& a = host().addInstance();
    HandleHeap::process().setNewBlockFill(0x00);
    const std::vector<std::uint8_t> bytes = a.sequenceBytes();
    ASSERT_EQ(bytes.size(), 32u);
    for (size_t i = 8; i < 32; ++i) EXPECT_EQ(bytes[i], 0x5A) << "byte " << i;
    host().faults().newHandle = true;
    Instance& b = host().addInstance();
    EXPECT_EQ(host().lastCommand().result, PF_Err_NONE);
    EXPECT_EQ(b.sequenceData(), nullptr);
    host().faults().newHandle = false;
}

TEST_F(EffectEntry, PremiereSkipsAegpRegistration) {
    host().settings().poseAsPremierePro();
    ASSERT_EQ(host().globalSetup(), PF_Err_NONE);
    EXPECT_TRUE(host().builtinSuites().registeredNames.empty());
}

TEST_F(EffectEntry, UnknownSelectorsLeaveOutDataAlone) {
    ASSERT_EQ(host().start(), PF_Err_NONE);
    Instance& a = host().addInstance();
    // A supervised change without its extra record changes nothing either.
    for (PF_Cmd cmd : std::array<PF_Cmd, 8>{PF_Cmd_SEQUENCE_FLATTEN, PF_Cmd_RENDER, PF_Cmd_EVENT, PF_Cmd_FRAME_SETUP,
                                            PF_Cmd_USER_CHANGED_PARAM, 25, 1000, -3}) {
        EXPECT_EQ(host().send(cmd, nullptr, &a), PF_Err_NONE) << cmd;
        EXPECT_EQ(host().lastCommand().out.out_flags, 0) << cmd;
        EXPECT_EQ(host().lastCommand().out.return_msg[0], '\0') << cmd;
        EXPECT_TRUE(host().lastCommand().changedParams.empty()) << cmd;
    }
}

// The frame path through the host protocol: what the frame shows is the renderer's business (its
// own tests); here the frames must be written where and how the host asked.
class EffectFrames : public EffectEntry {
protected:
    void SetUp() override {
        EffectEntry::SetUp();
        ASSERT_EQ(host().start(), PF_Err_NONE);
        instance_ = &host().addInstance(31, 17);
        // Every frame steps the real simulation on the machine's OpenCL device; the smallest grid
        // and the source-only stage keep these host-protocol tests quick on a CPU device.
        instance_->setPopup(cindel::kParamVoxelSize, 1);
        instance_->setPopup(cindel::kParamSimMode, 1);
    }
    Instance& instance() { return *instance_; }
    Instance* instance_ = nullptr;
};

// Every pixel of the output is written at the world's depth, rows walked with their row bytes.
// The Heat Slice debug view is opaque everywhere, and so is the no-GPU fill, so full alpha at
// every pixel holds whether or not this machine's OpenCL runtime started.
TEST_F(EffectFrames, EveryPixelIsWrittenAtEveryDepthAndRowPaddingIsKept) {
    instance().setPopup(cindel::kParamDebugView, 2);
    for (auto [bits, opaque] : {std::pair{8, 255.0}, {16, 32768.0}, {32, 1.0}}) {
        World out(31, 17, bits, 12);
        out.fill(0.25f, 0.5f, 0.5f, 0.5f);
        ASSERT_EQ(host().renderFrame(instance(), out), PF_Err_NONE);
        for (A_long y = 0; y < out.height(); ++y) {
            for (A_long x = 0; x < out.width(); ++x) {
                const double alpha = bits == 8    ? out.pixel8(x, y).alpha
                                     : bits == 16 ? out.pixel16(x, y).alpha : out.pixel32(x, y).alpha;
                ASSERT_EQ(alpha, opaque) << bits << " bits at " << x << "," << y;
            }
        }
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
