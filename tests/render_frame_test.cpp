// The frame driver: checkouts and their failures, the no-GPU fill at every depth, the snapshot it
// builds (histories, sources, instance identity), and bad host input that must end in a defined
// outcome rather than a crash or a write outside the output.
#include "frame/render_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <memory>

#include "emit/emitter_caches.h"
#include "fake_params.h"
#include "frame/digest.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "gpu/gpu_runtime.h"
#include "host/process_state.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using test::FakeHost;
using test::FakeSmartRender;
using test::FakeWorld;

// The no-GPU fill is opaque dark red, 60 of 255, at the world's depth.
std::array<double, 4> argbAt(const FakeWorld& w, int bits, int x, int y) {
    if (bits == 8) {
        const PF_Pixel& p = w.at<PF_Pixel>(x, y);
        return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    }
    if (bits == 16) {
        const PF_Pixel16& p = w.at<PF_Pixel16>(x, y);
        return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    }
    const PF_PixelFloat& p = w.at<PF_PixelFloat>(x, y);
    return {p.alpha, p.red, p.green, p.blue};
}
const std::array<double, 4> kFill8 = {255, 60, 0, 0}, kFill16 = {32768, 7710, 0, 0},
                            kFill32 = {1, double(60.0f / 255.0f), 0, 0};

TEST(FallbackFill, EveryPixelAtEveryDepthAndNothingElse) {
    for (auto [bits, fill] : {std::pair{8, kFill8}, {16, kFill16}, {32, kFill32}}) {
        FakeWorld world(3, 4, bits, /*padding=*/20);
        PF_EffectWorld* w = world.get();
        ASSERT_TRUE(fallbackFill(w->data, w->width, w->height, w->rowbytes, bits));
        EXPECT_EQ(world.paddingBytesChanged(), 0u) << bits;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(argbAt(world, bits, x, y), fill) << bits << ": " << x << "," << y;
    }
    FakeWorld shortRows(4, 4, 16, 0, 4 * 8 - 2), ok(2, 2, 8);
    EXPECT_FALSE(fallbackFill(shortRows.get()->data, 4, 4, shortRows.get()->rowbytes, 16));
    EXPECT_FALSE(fallbackFill(ok.get()->data, 2, 2, ok.get()->rowbytes, 12));
    EXPECT_FALSE(fallbackFill(nullptr, 2, 2, 8, 8));
    EXPECT_FALSE(fallbackFill(ok.get()->data, 0, 0, 0, 8));
    EXPECT_EQ(shortRows.bytesChanged() + ok.bytesChanged(), 0u);
}

class RenderFrame : public ::testing::Test {
protected:
    void SetUp() override {
        releaseEmitterCaches();
        test::resetWorldSuite();
        processState().gpuAvailable = false;
        gpuRuntime().ready = false;
        host.in.pica_basicP = test::fakeBasicSuite();
        host.in.time_step = 100;
        host.in.time_scale = 3000;
        host.in.current_time = 500;
        host.setInstanceData(instance(42, 0));
        sr.setLayer(0, input.get());
        sr.setOutput(output.get());
    }
    void TearDown() override {
        releaseEmitterCaches();
        test::resetWorldSuite();
        processState().gpuAvailable = false;
    }
    static InstanceData instance(uint64_t id, int32_t expanded) {
        InstanceData d{};
        d.instanceId = id;
        d.sourceExpanded = expanded;
        return d;
    }
    PF_Err render(PF_SmartRenderExtra* extra) { return renderFrame(&host.in, &host.out, extra); }

    FakeHost host;
    FakeSmartRender sr{host};
    FakeWorld input{8, 6, 8};
    FakeWorld output{8, 6, 8, /*padding=*/16};
};

// Without a ready GPU (never started, or started without a device) every frame is the fill.
TEST_F(RenderFrame, WithoutGpuTheFrameIsFilledAndEveryCheckoutReturned) {
    host.answerEverything();
    for (bool started : {false, true}) {
        processState().gpuAvailable = started;
        EXPECT_EQ(render(&sr.extra), PF_Err_NONE);
        EXPECT_EQ(argbAt(output, 8, 7, 5), kFill8);
        EXPECT_EQ(output.paddingBytesChanged(), 0u);
        EXPECT_GT(host.successfulCheckouts(), 0);
        EXPECT_EQ(host.checkins(), host.successfulCheckouts());
        EXPECT_EQ(host.locks(), host.unlocks());
    }
    // A float world the suite names is filled with floats; a failed query falls back to the deep
    // flag, so the same world is filled as 16 bits.
    FakeWorld deep(5, 2, 32, 8);
    sr.setOutput(deep.get());
    test::worldSuiteState().format = PF_PixelFormat_ARGB128;
    EXPECT_EQ(render(&sr.extra), PF_Err_NONE);
    EXPECT_EQ(argbAt(deep, 32, 4, 1), kFill32);
    test::worldSuiteState().queryError = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(render(&sr.extra), PF_Err_NONE);
    EXPECT_EQ(argbAt(deep, 16, 0, 0), kFill16);
    EXPECT_EQ(deep.paddingBytesChanged(), 0u);
}

TEST_F(RenderFrame, FailedCheckoutsAreReturnedAndNothingElseHappens) {
    sr.setOutput(output.get(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(render(&sr.extra), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(sr.layerCheckouts(), std::vector<A_long>{0});
    sr.setLayer(0, nullptr, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(render(&sr.extra), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(sr.outputCheckouts(), 1);
    EXPECT_EQ(host.totalCheckouts(), 0);
    EXPECT_EQ(output.bytesChanged(), 0u);
}

TEST_F(RenderFrame, MissingRecordsAreRefusedAndBadWorldsSucceedUnwritten) {
    EXPECT_EQ(render(nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(renderFrame(nullptr, &host.out, &sr.extra), PF_Err_BAD_CALLBACK_PARAM);
    PF_SmartRenderExtra noCb = sr.extra;
    noCb.cb = nullptr;
    EXPECT_EQ(render(&noCb), PF_Err_BAD_CALLBACK_PARAM);
    PF_SmartRenderCallbacks partial = *sr.extra.cb;
    partial.checkout_output = nullptr;
    PF_SmartRenderExtra partialExtra = sr.extra;
    partialExtra.cb = &partial;
    EXPECT_EQ(render(&partialExtra), PF_Err_BAD_CALLBACK_PARAM);
    sr.setOutput(nullptr);
    EXPECT_EQ(render(&sr.extra), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.totalCheckouts(), 0);

    FakeWorld empty(0, 0, 8), shortRows(8, 6, 8, 0, 8 * 4 - 4);
    for (FakeWorld* w : {&empty, &shortRows}) {
        sr.setOutput(w->get());
        EXPECT_EQ(render(&sr.extra), PF_Err_NONE);
        EXPECT_EQ(w->bytesChanged(), 0u);
    }
}

TEST_F(RenderFrame, BadHostTimesStillGiveAFrame) {
    struct Times {
        A_long current, step;
        A_u_long scale;
    };
    const Times cases[] = {{500, 100, 0}, {-700, 100, 3000}, {90, 0, 30}, {INT_MAX, 1, 30}, {INT_MIN, INT_MIN, 0}};
    host.setPoint3D(kParamSourcePosition, 1.0, 2.0, 3.0);
    for (const Times& t : cases) {
        releaseEmitterCaches();
        host.clearCounts();
        host.in.current_time = t.current;
        host.in.time_step = t.step;
        host.in.time_scale = t.scale;
        FakeWorld out(4, 4, 8, 4);
        sr.setOutput(out.get());
        EXPECT_EQ(render(&sr.extra), PF_Err_NONE) << t.current;
        EXPECT_EQ(argbAt(out, 8, 3, 3), kFill8);
        EXPECT_EQ(out.paddingBytesChanged(), 0u);
        // One read at the current time plus at most a full table.
        EXPECT_LE(host.checkouts(kParamSourcePosition), 1 + kMaxHistoryFrames) << t.current;
        EXPECT_GE(host.checkouts(kParamSourcePosition), 2) << t.current;
    }
}

// The Source Layer is checked out under id 999 once pre-render found it larger than the output.
TEST_F(RenderFrame, SourceLayerIdFollowsTheExpandedFlagAndShortDataReadsAsNone) {
    EXPECT_EQ(render(&sr.extra), PF_Err_NONE);
    EXPECT_EQ(sr.layerCheckouts(), (std::vector<A_long>{0, 5, 12}));
    for (auto [size, ids] : {std::pair{sizeof(InstanceData), std::vector<A_long>{0, 999, 12}},
                             {std::size_t(16), std::vector<A_long>{0, 5, 12}}}) {
        FakeSmartRender again(host);
        again.setLayer(0, input.get());
        again.setOutput(output.get());
        host.setInstanceData(instance(42, 1), size);
        FrameCheckout frame;
        ASSERT_EQ(checkoutFrame(&host.in, &again.extra, frame), PF_Err_NONE);
        EXPECT_EQ(again.layerCheckouts(), ids);
        EXPECT_EQ(frame.instance.instanceId, size == 16 ? 0u : 42u);
    }
    host.in.sequence_data = nullptr;
    FakeSmartRender last(host);
    last.setLayer(0, input.get());
    last.setOutput(output.get());
    FrameCheckout frame;
    ASSERT_EQ(checkoutFrame(&host.in, &last.extra, frame), PF_Err_NONE);
    EXPECT_EQ(frame.instance.instanceId, 0u);
}

class FrameSnapshot : public RenderFrame {
protected:
    std::unique_ptr<FrameSettings> build() {
        FrameCheckout frame;
        EXPECT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
        auto fs = std::make_unique<FrameSettings>();
        buildFrameSettings(&host.in, frame, frameTiming(host.in.current_time, host.in.time_step, host.in.time_scale),
                           *fs);
        return fs;
    }
    // Frame f of the animation is (f, 10 + f, 2 f) in downsampled pixels.
    void animate() {
        host.set(kParamSourcePosition, [](A_long time, PF_ParamDef& d) {
            const double f = time / 100.0;
            d.u.point3d_d.x_value = f;
            d.u.point3d_d.y_value = 10.0 + f;
            d.u.point3d_d.z_value = 2.0 * f;
            return true;
        });
    }
};

// Empty or failed layers are absent: a zero-sized Source Layer, a map whose checkout fails.
TEST_F(FrameSnapshot, SizesIdentityAndSources) {
    FakeWorld source(6, 4, 8), map(3, 2, 16), zeroHigh(6, 0, 8);
    sr.setLayer(5, source.get());
    sr.setLayer(12, map.get());
    host.in.width = 1920;
    host.in.height = 1080;
    auto fs = build();
    EXPECT_EQ(std::tuple(fs->outputWidth, fs->outputHeight, fs->compWidth, fs->compHeight),
              std::tuple(8, 6, 1920, 1080));
    EXPECT_EQ(fs->instanceId, 42u);
    EXPECT_EQ(std::tuple(fs->sourceLayerPresent, fs->emissionWidth, fs->emissionHeight), std::tuple(1, 6, 4));
    EXPECT_NE(fs->emissionHash, 0u);
    EXPECT_EQ(std::tuple(fs->customMapPresent, fs->customMapWidth, fs->customMapHeight), std::tuple(1, 3, 2));
    sr.setLayer(5, zeroHigh.get());
    sr.setLayer(12, map.get(), PF_Err_INVALID_INDEX);
    fs = build();
    EXPECT_EQ(std::tuple(fs->sourceLayerPresent, fs->emissionWidth, fs->customMapPresent, fs->customMapWidth),
              std::tuple(0, 0, 0, 0));
}

TEST_F(FrameSnapshot, BeyondFrame599ThePositionIsFrame599s) {
    animate();
    host.setPopup(kParamBurnMode, 2);
    host.setFloat(kParamBurnProgress, 25.0);
    host.in.current_time = 750 * 100;
    const auto fs = build();
    ASSERT_EQ(fs->trajectoryCount, 600);
    EXPECT_EQ(std::tuple(fs->sourcePosition.x, fs->sourcePosition.y), std::tuple(599.0f, 609.0f));
    EXPECT_EQ(fs->trajectoryHash, hashTrajectory(kFnv32Basis, fs->trajectoryX, fs->trajectoryY, fs->trajectoryZ, 600));
    EXPECT_EQ(fs->burnCurveCount, 600);
    EXPECT_FLOAT_EQ(fs->burnCurve[599], 0.25f);
    // Frames 0 ... 599 plus the read at the current time, nothing beyond.
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 601);
    for (A_long t : host.checkoutTimes(kParamSourcePosition)) EXPECT_TRUE(t <= 59900 || t == 75000) << t;
}

// Two instances with the same parameters must not share a simulation; a moving position changes
// the key through the trajectory digest.
TEST_F(FrameSnapshot, InstanceAndAnimationChangeTheKey) {
    host.setPoint3D(kParamSourcePosition, 5.0, 5.0, 0.0);
    const uint64_t still = simulationKey(*build());
    host.setInstanceData(instance(43, 0));
    EXPECT_NE(simulationKey(*build()), still);
    host.setInstanceData(instance(42, 0));
    EXPECT_EQ(simulationKey(*build()), still);
    animate();
    releaseEmitterCaches();
    EXPECT_NE(simulationKey(*build()), still);
}

}  // namespace
}  // namespace cindel
