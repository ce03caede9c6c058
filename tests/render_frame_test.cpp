// The frame driver: checkouts and their failures, the no-GPU fill at every depth, the snapshot it
// builds (histories, sources, instance identity), and bad host input that must end in a defined
// outcome rather than a crash or a write outside the output.
#include "frame/render_frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
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

// ---------------------------------------------------------------------------------------------
// fallbackFill on its own.

TEST(FallbackFill, OpaqueDarkRedAtEveryDepthWithPaddingUntouched) {
    for (int bits : {8, 16, 32}) {
        FakeWorld world(3, 4, bits, /*padding=*/20);
        PF_EffectWorld* w = world.get();
        ASSERT_TRUE(fallbackFill(w->data, w->width, w->height, w->rowbytes, bits));
        EXPECT_EQ(world.paddingBytesChanged(), 0u) << bits;
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 3; ++x) {
                if (bits == 8) {
                    const PF_Pixel& p = world.at<PF_Pixel>(x, y);
                    EXPECT_EQ(p.alpha, 255);
                    EXPECT_EQ(p.red, 60);
                    EXPECT_EQ(p.green, 0);
                    EXPECT_EQ(p.blue, 0);
                } else if (bits == 16) {
                    const PF_Pixel16& p = world.at<PF_Pixel16>(x, y);
                    EXPECT_EQ(p.alpha, 32768);
                    EXPECT_EQ(p.red, 7710);
                    EXPECT_EQ(p.green, 0);
                    EXPECT_EQ(p.blue, 0);
                } else {
                    const PF_PixelFloat& p = world.at<PF_PixelFloat>(x, y);
                    EXPECT_EQ(p.alpha, 1.0f);
                    EXPECT_FLOAT_EQ(p.red, 60.0f / 255.0f);
                    EXPECT_EQ(p.green, 0.0f);
                    EXPECT_EQ(p.blue, 0.0f);
                }
            }
        }
    }
}

TEST(FallbackFill, RefusesWorldsItCannotWriteSafely) {
    FakeWorld shortRows(4, 4, 16, 0, 4 * 8 - 2);
    PF_EffectWorld* w = shortRows.get();
    EXPECT_FALSE(fallbackFill(w->data, 4, 4, w->rowbytes, 16));
    EXPECT_EQ(shortRows.bytesChanged(), 0u);
    FakeWorld ok(2, 2, 8);
    EXPECT_FALSE(fallbackFill(ok.get()->data, 2, 2, ok.get()->rowbytes, 12));
    EXPECT_FALSE(fallbackFill(nullptr, 2, 2, 8, 8));
    EXPECT_FALSE(fallbackFill(ok.get()->data, 0, 0, 0, 8));
    EXPECT_EQ(ok.bytesChanged(), 0u);
}

// ---------------------------------------------------------------------------------------------
// renderFrame through the fake host.

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
    }

    static InstanceData instance(uint64_t id, int32_t expanded) {
        InstanceData d{};
        d.instanceId = id;
        d.sourceExpanded = expanded;
        return d;
    }

    FakeHost host;
    FakeSmartRender sr{host};
    FakeWorld input{8, 6, 8};
    FakeWorld output{8, 6, 8, /*padding=*/16};
};

TEST_F(RenderFrame, WithoutGpuTheFrameIsDarkRedAndSucceeds) {
    host.answerEverything();
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(output.at<PF_Pixel>(0, 0).red, 60);
    EXPECT_EQ(output.at<PF_Pixel>(7, 5).alpha, 255);
    EXPECT_EQ(output.paddingBytesChanged(), 0u);
    // Every parameter that was handed out went back to the host.
    EXPECT_GT(host.successfulCheckouts(), 0);
    EXPECT_EQ(host.checkins(), host.successfulCheckouts());
    EXPECT_EQ(host.locks(), host.unlocks());
}

TEST_F(RenderFrame, GpuStartedButNotReadyStillFills) {
    processState().gpuAvailable = true;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(output.at<PF_Pixel>(3, 3).red, 60);
    processState().gpuAvailable = false;
}

TEST_F(RenderFrame, DeepWorldWithFailedFormatQueryIsFilledAt16Bits) {
    FakeWorld deep(5, 2, 32, 8);  // a float world, but the query fails: flags say deep
    sr.setOutput(deep.get());
    test::worldSuiteState().queryError = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    const PF_Pixel16& p = deep.at<PF_Pixel16>(0, 0);
    EXPECT_EQ(p.alpha, 32768);
    EXPECT_EQ(p.red, 7710);
}

TEST_F(RenderFrame, FloatWorldIsFilledWithFloats) {
    FakeWorld deep(5, 2, 32, 8);
    sr.setOutput(deep.get());
    test::worldSuiteState().format = PF_PixelFormat_ARGB128;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(deep.at<PF_PixelFloat>(4, 1).alpha, 1.0f);
    EXPECT_FLOAT_EQ(deep.at<PF_PixelFloat>(4, 1).red, 60.0f / 255.0f);
    EXPECT_EQ(deep.paddingBytesChanged(), 0u);
}

TEST_F(RenderFrame, FailedInputCheckoutIsReturnedAndNothingElseHappens) {
    sr.setLayer(0, nullptr, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(sr.outputCheckouts(), 0);
    EXPECT_EQ(host.totalCheckouts(), 0);
    EXPECT_EQ(output.bytesChanged(), 0u);
}

TEST_F(RenderFrame, FailedOutputCheckoutIsReturnedAndNothingElseHappens) {
    sr.setOutput(output.get(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.totalCheckouts(), 0);
    EXPECT_EQ(sr.layerCheckouts(), std::vector<A_long>{0});
    EXPECT_EQ(output.bytesChanged(), 0u);
}

TEST_F(RenderFrame, MissingCallbacksOrOutputWorldAreRefused) {
    EXPECT_EQ(renderFrame(&host.in, &host.out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(renderFrame(nullptr, &host.out, &sr.extra), PF_Err_BAD_CALLBACK_PARAM);
    PF_SmartRenderExtra noCb = sr.extra;
    noCb.cb = nullptr;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &noCb), PF_Err_BAD_CALLBACK_PARAM);
    PF_SmartRenderCallbacks partial = *sr.extra.cb;
    partial.checkout_output = nullptr;
    PF_SmartRenderExtra partialExtra = sr.extra;
    partialExtra.cb = &partial;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &partialExtra), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.totalCheckouts(), 0);

    sr.setOutput(nullptr);
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.totalCheckouts(), 0);
}

TEST_F(RenderFrame, EmptyOrShortRowedOutputSucceedsWithoutAWrite) {
    FakeWorld empty(0, 0, 8);
    sr.setOutput(empty.get());
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(empty.bytesChanged(), 0u);

    FakeWorld shortRows(8, 6, 8, 0, 8 * 4 - 4);
    sr.setOutput(shortRows.get());
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(shortRows.bytesChanged(), 0u);
}

TEST_F(RenderFrame, WithoutAPixelFormatSuiteTheFlagsDecide) {
    host.in.pica_basicP = nullptr;
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(output.at<PF_Pixel>(1, 1).red, 60);
}

TEST_F(RenderFrame, SourceLayerIdFollowsTheExpandedFlag) {
    EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE);
    EXPECT_EQ(sr.layerCheckouts(), (std::vector<A_long>{0, 5, 12}));

    FakeSmartRender expanded(host);
    expanded.setLayer(0, input.get());
    expanded.setOutput(output.get());
    host.setInstanceData(instance(42, 1));
    EXPECT_EQ(renderFrame(&host.in, &host.out, &expanded.extra), PF_Err_NONE);
    EXPECT_EQ(expanded.layerCheckouts(), (std::vector<A_long>{0, 999, 12}));
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
        EXPECT_EQ(renderFrame(&host.in, &host.out, &sr.extra), PF_Err_NONE) << t.current;
        EXPECT_EQ(out.at<PF_Pixel>(3, 3).red, 60);
        EXPECT_EQ(out.paddingBytesChanged(), 0u);
        // One read at the current time plus at most a full table.
        EXPECT_LE(host.checkouts(kParamSourcePosition), 1 + kMaxHistoryFrames) << t.current;
        EXPECT_GE(host.checkouts(kParamSourcePosition), 2) << t.current;
    }
}

// ---------------------------------------------------------------------------------------------
// The checkouts and the snapshot.

TEST_F(RenderFrame, EmptyOrFailedSourcesAreAbsent) {
    FakeWorld source(6, 4, 8), emptyMap(0, 0, 8);
    sr.setLayer(5, source.get());
    sr.setLayer(12, emptyMap.get());
    FrameCheckout frame;
    ASSERT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
    EXPECT_EQ(frame.output, output.get());
    EXPECT_EQ(frame.sourceLayer, source.get());
    EXPECT_EQ(frame.customMap, nullptr);
    EXPECT_EQ(frame.instance.instanceId, 42u);

    FakeWorld zeroHigh(6, 0, 8);
    sr.setLayer(5, zeroHigh.get());
    sr.setLayer(12, source.get(), PF_Err_INVALID_INDEX);
    ASSERT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
    EXPECT_EQ(frame.sourceLayer, nullptr);
    EXPECT_EQ(frame.customMap, nullptr);
}

TEST_F(RenderFrame, ShortOrMissingInstanceDataReadsAsNone) {
    host.setInstanceData(instance(42, 1), 16);  // the host keeps fewer bytes than the record
    FrameCheckout frame;
    ASSERT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
    EXPECT_EQ(frame.instance.instanceId, 0u);
    EXPECT_EQ(sr.layerCheckouts(), (std::vector<A_long>{0, 5, 12}));
    EXPECT_EQ(host.locks(), 0);

    host.in.sequence_data = nullptr;
    ASSERT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
    EXPECT_EQ(frame.instance.instanceId, 0u);
}

class FrameSnapshot : public RenderFrame {
protected:
    std::unique_ptr<FrameSettings> build() {
        FrameCheckout frame;
        EXPECT_EQ(checkoutFrame(&host.in, &sr.extra, frame), PF_Err_NONE);
        auto fs = std::make_unique<FrameSettings>();
        const FrameTiming timing = frameTiming(host.in.current_time, host.in.time_step, host.in.time_scale);
        buildFrameSettings(&host.in, frame, timing, *fs);
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

TEST_F(FrameSnapshot, SizesIdentityAndSources) {
    FakeWorld source(6, 4, 8), map(3, 2, 16);
    sr.setLayer(5, source.get());
    sr.setLayer(12, map.get());
    host.in.width = 1920;
    host.in.height = 1080;
    const auto fs = build();
    EXPECT_EQ(fs->outputWidth, 8);
    EXPECT_EQ(fs->outputHeight, 6);
    EXPECT_EQ(fs->compWidth, 1920);
    EXPECT_EQ(fs->compHeight, 1080);
    EXPECT_EQ(fs->instanceId, 42u);
    EXPECT_EQ(fs->sourceLayerPresent, 1);
    EXPECT_EQ(fs->emissionWidth, 6);
    EXPECT_EQ(fs->emissionHeight, 4);
    EXPECT_EQ(fs->useLayerTransform, 0);
    EXPECT_EQ(fs->layerInvScY, 1.0f);
    EXPECT_EQ(fs->emissionBoxX0, 0);  // every pixel of the fake world holds the sentinel, so all are opaque
    EXPECT_EQ(fs->emissionBoxX1, fs->emissionWidth - 1);
    EXPECT_NE(fs->emissionHash, 0u);
    EXPECT_EQ(fs->customMapPresent, 1);
    EXPECT_EQ(fs->customMapWidth, 3);
    EXPECT_EQ(fs->customMapHeight, 2);
}

TEST_F(FrameSnapshot, AbsentSourcesLeaveTheirFieldsEmpty) {
    FakeWorld emptyMap(0, 5, 8);
    sr.setLayer(12, emptyMap.get());
    const auto fs = build();
    EXPECT_EQ(fs->sourceLayerPresent, 0);
    EXPECT_EQ(fs->emissionWidth, 0);
    EXPECT_EQ(fs->customMapPresent, 0);
    EXPECT_EQ(fs->customMapWidth, 0);
}

TEST_F(FrameSnapshot, TrajectoryCoversFramesZeroToCurrent) {
    animate();
    host.in.downsample_x = {1, 2};
    host.in.current_time = 500;  // frame 5
    const auto fs = build();
    ASSERT_EQ(fs->trajectoryCount, 6);
    EXPECT_EQ(fs->trajectoryX[5], 10.0f);  // 5 x 2
    EXPECT_EQ(fs->trajectoryY[5], 15.0f);
    EXPECT_EQ(fs->trajectoryZ[5], 20.0f);  // z shares the x factor
    EXPECT_EQ(fs->sourcePosition.x, 10.0f);
    EXPECT_EQ(fs->sourcePosition.y, 15.0f);
    EXPECT_EQ(fs->trajectoryHash, hashTrajectory(kFnv32Basis, fs->trajectoryX, fs->trajectoryY, fs->trajectoryZ, 6));
    EXPECT_NE(fs->trajectoryHash, kFnv32Basis);
    EXPECT_EQ(fs->lightTrackCount, 0);
    EXPECT_EQ(fs->lightTrackFrames, 0);
}

TEST_F(FrameSnapshot, AtTimeZeroTheTableHasOneEntry) {
    animate();
    host.in.current_time = 0;
    const auto fs = build();
    EXPECT_EQ(fs->trajectoryCount, 1);
    EXPECT_EQ(fs->sourcePosition.y, 10.0f);
    EXPECT_EQ(fs->trajectoryY[1], 0.0f);
}

TEST_F(FrameSnapshot, BeyondFrame599ThePositionIsFrame599s) {
    animate();
    host.setPopup(kParamBurnMode, 2);
    host.setFloat(kParamBurnProgress, 25.0);
    host.in.current_time = 750 * 100;
    const auto fs = build();
    ASSERT_EQ(fs->trajectoryCount, 600);
    EXPECT_EQ(fs->sourcePosition.x, 599.0f);
    EXPECT_EQ(fs->sourcePosition.y, 609.0f);
    EXPECT_EQ(fs->burnCurveCount, 600);
    EXPECT_FLOAT_EQ(fs->burnCurve[599], 0.25f);
    // Frames 0 ... 599 plus the read at the current time, nothing beyond.
    EXPECT_EQ(host.checkouts(kParamSourcePosition), 601);
    for (A_long t : host.checkoutTimes(kParamSourcePosition)) EXPECT_TRUE(t <= 59900 || t == 75000) << t;
}

TEST_F(FrameSnapshot, InstancesWithTheSameParametersGetDifferentKeys) {
    animate();
    const uint64_t first = simulationKey(*build());
    host.setInstanceData(instance(43, 0));
    const uint64_t second = simulationKey(*build());
    EXPECT_NE(first, second);
    host.setInstanceData(instance(42, 0));
    EXPECT_EQ(simulationKey(*build()), first);
}

TEST_F(FrameSnapshot, AnimatedPositionChangesTheKeyThroughTheTrajectory) {
    host.setPoint3D(kParamSourcePosition, 5.0, 5.0, 0.0);
    const auto still = build();
    animate();
    releaseEmitterCaches();
    const auto moving = build();
    EXPECT_NE(still->trajectoryHash, moving->trajectoryHash);
    EXPECT_NE(simulationKey(*still), simulationKey(*moving));
}

}  // namespace
}  // namespace cindel
