// The smart pre-render answer: the rectangles handed back, the layer requests and their ids, the
// Source Layer's delivery written into the instance data, the cache identity and the parameter
// sweep.
#include "frame/pre_render.h"

#include <gtest/gtest.h>

#include <cstring>

#include "AE_GeneralPlug.h"
#include "fake_params.h"
#include "host/entry_point.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using test::FakeHost;
using test::FakePreRender;

PF_CheckoutResult checkoutResult(PF_LRect result, PF_LRect max, A_long refW = 0, A_long refH = 0) {
    PF_CheckoutResult r;
    std::memset(&r, 0, sizeof(r));
    r.result_rect = result;
    r.max_result_rect = max;
    r.ref_width = refW;
    r.ref_height = refH;
    return r;
}

class PreRender : public ::testing::Test {
protected:
    void SetUp() override {
        host.in.current_time = 0x01020304;
        InstanceData d{};
        d.instanceId = 9;
        d.sourceOriginX = 111;
        d.sourceOriginY = 222;
        d.sourceRefWidth = 333;
        d.sourceRefHeight = 444;
        d.sourceExpanded = 1;
        host.setInstanceData(d);
        pr.setResult(0, checkoutResult({0, 0, 200, 100}, {-10, -5, 210, 105}));
    }
    PF_Err run() { return preRenderFrame(&host.in, &host.out, &pr.extra); }

    FakeHost host;
    FakePreRender pr{host};
};

TEST_F(PreRender, OutputCoversTheInputLayer) {
    pr.output().solid = true;
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_EQ(pr.output().result_rect.right, 200);
    EXPECT_EQ(pr.output().max_result_rect.left, -10);
    EXPECT_EQ(pr.output().max_result_rect.bottom, 105);
    EXPECT_FALSE(pr.output().solid);
    auto in = pr.request(0);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->index, kParamInputLayer);
    EXPECT_EQ(in->time, 0x01020304);
    EXPECT_TRUE(in->request.preserve_rgb_of_zero_alpha);
    EXPECT_FALSE(pr.input().output_request.preserve_rgb_of_zero_alpha);  // the host's request is not edited
    auto map = pr.request(12);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->index, kParamCustomMap);
    EXPECT_TRUE(map->request.preserve_rgb_of_zero_alpha);
}

TEST_F(PreRender, FailedInputCheckoutIsReturnedAndNothingElseHappens) {
    pr.setResult(0, checkoutResult({}, {}), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(run(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(pr.requests().size(), 1u);
    EXPECT_EQ(host.totalCheckouts(), 0);
    EXPECT_EQ(pr.mixCalls(), 0);
    EXPECT_EQ(host.instanceData().sourceOriginX, 111);
}

TEST_F(PreRender, SourceThatFitsIsNotExpanded) {
    // The maximum rectangle equals the request (200 x 100).
    pr.setResult(5, checkoutResult({3, 4, 50, 60}, {0, 0, 200, 100}, 640, 480));
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_FALSE(pr.request(999));
    const InstanceData d = host.instanceData();
    EXPECT_EQ(d.sourceExpanded, 0);
    EXPECT_EQ(d.sourceOriginX, 3);
    EXPECT_EQ(d.sourceOriginY, 4);
    EXPECT_EQ(d.sourceRefWidth, 640);
    EXPECT_EQ(d.sourceRefHeight, 480);
    EXPECT_EQ(d.instanceId, 9u);
    EXPECT_EQ(host.locks(), host.unlocks());
}

TEST_F(PreRender, LargerSourceIsCheckedOutAgainAtItsFullExtent) {
    // Taller only: the width fits, the height does not.
    pr.setResult(5, checkoutResult({0, 0, 200, 100}, {-40, -30, 160, 170}, 1920, 1080));
    pr.setResult(999, checkoutResult({-40, -30, 160, 170}, {-40, -30, 160, 170}));
    ASSERT_EQ(run(), PF_Err_NONE);
    auto wide = pr.request(999);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->index, kParamSourceLayer);
    EXPECT_EQ(wide->request.rect.top, -30);
    EXPECT_EQ(wide->request.rect.bottom, 170);
    EXPECT_TRUE(wide->request.preserve_rgb_of_zero_alpha);
    const InstanceData d = host.instanceData();
    EXPECT_EQ(d.sourceExpanded, 1);
    EXPECT_EQ(d.sourceOriginX, -40);
    EXPECT_EQ(d.sourceOriginY, -30);
    EXPECT_EQ(d.sourceRefWidth, 1920);
}

TEST_F(PreRender, FailedExpandedCheckoutFallsBackToTheResultRectangle) {
    pr.setResult(5, checkoutResult({7, 8, 90, 95}, {-40, 0, 400, 100}, 10, 20));
    pr.setResult(999, checkoutResult({}, {}), PF_Err_OUT_OF_MEMORY);
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_TRUE(pr.request(999));
    const InstanceData d = host.instanceData();
    EXPECT_EQ(d.sourceExpanded, 0);
    EXPECT_EQ(d.sourceOriginX, 7);
    EXPECT_EQ(d.sourceOriginY, 8);
}

TEST_F(PreRender, WithoutASourceLayerTheInstanceDataIsUnchanged) {
    ASSERT_EQ(run(), PF_Err_NONE);  // no result for id 5: the checkout fails
    EXPECT_TRUE(pr.request(5));
    const InstanceData d = host.instanceData();
    EXPECT_EQ(d.sourceExpanded, 1);
    EXPECT_EQ(d.sourceOriginX, 111);
    EXPECT_EQ(d.sourceRefHeight, 444);
    EXPECT_EQ(host.locks(), 0);
}

TEST_F(PreRender, ShortInstanceDataIsNeverWritten) {
    InstanceData d{};
    d.sourceOriginX = 111;
    host.setInstanceData(d, 20);
    pr.setResult(5, checkoutResult({1, 2, 3, 4}, {0, 0, 10, 10}, 5, 5));
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_EQ(host.instanceData().sourceOriginX, 111);
    EXPECT_EQ(host.locks(), 0);
}

TEST_F(PreRender, CurrentTimeIsMixedIntoTheCacheIdentity) {
    ASSERT_EQ(run(), PF_Err_NONE);
    const std::vector<uint8_t> expected = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(pr.mixedBytes(), expected);
}

// A PF Interface Suite whose effect layer starts 5 host units into the composition, and whose camera
// matrix holds 1 ... 16 scaled by the composition time it was asked for, so the mixed bytes show
// both the values and the time conversion.
struct FakeCamera {
    static inline A_Err cameraError = A_Err_NONE;
    static inline std::vector<A_Time> askedTimes;

    static A_Err convertToComp(PF_ProgPtr, A_long time, A_u_long scale, A_Time* comp) {
        *comp = {time + 5, scale};
        return A_Err_NONE;
    }
    static A_Err cameraMatrix(PF_ProgPtr, const A_Time* time, A_Matrix4* m, A_FpLong* distance, A_short* w,
                              A_short* h) {
        askedTimes.push_back(*time);
        if (cameraError != A_Err_NONE) return cameraError;
        for (int i = 0; i < 16; ++i) m->mat[i / 4][i % 4] = (i + 1) * 0.5;
        *distance = 1234.5;
        *w = 640;
        *h = 360;
        return A_Err_NONE;
    }
    static SPErr acquire(const char* name, int32 version, const void** suite) {
        static const AEGP_PFInterfaceSuite1 pf = [] {
            AEGP_PFInterfaceSuite1 suite{};
            suite.AEGP_ConvertEffectToCompTime = &convertToComp;
            suite.AEGP_GetEffectCameraMatrix = &cameraMatrix;
            return suite;
        }();
        if (std::strcmp(name, kAEGPPFInterfaceSuite) != 0 || version != kAEGPPFInterfaceSuiteVersion1) return 1;
        *suite = &pf;
        return kSPNoError;
    }
    static SPErr release(const char*, int32) { return kSPNoError; }
    static SPBasicSuite* basic() {
        static SPBasicSuite b = {&acquire, &release, nullptr, nullptr, nullptr, nullptr, nullptr};
        cameraError = A_Err_NONE;
        askedTimes.clear();
        return &b;
    }
};

TEST_F(PreRender, CameraMatrixThenDistanceFollowTheTime) {
    host.in.pica_basicP = FakeCamera::basic();
    ASSERT_EQ(run(), PF_Err_NONE);
    std::vector<uint8_t> expected = {0x04, 0x03, 0x02, 0x01};
    for (int i = 0; i < 16; ++i) test::appendLittleEndian(expected, float((i + 1) * 0.5));
    test::appendLittleEndian(expected, 1234.5f);
    EXPECT_EQ(pr.mixedBytes(), expected);
    EXPECT_EQ(pr.mixCalls(), 3);
    ASSERT_EQ(FakeCamera::askedTimes.size(), 1u);
    EXPECT_EQ(FakeCamera::askedTimes[0].value, 0x01020304 + 5);  // composition time, converted
    EXPECT_EQ(FakeCamera::askedTimes[0].scale, 30u);
}

TEST_F(PreRender, CameraThatCannotBeReadLeavesOnlyTheTime) {
    const std::vector<uint8_t> timeOnly = {0x04, 0x03, 0x02, 0x01};
    host.in.pica_basicP = FakeCamera::basic();
    FakeCamera::cameraError = A_Err_GENERIC;
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_EQ(pr.mixedBytes(), timeOnly);
    EXPECT_EQ(FakeCamera::askedTimes.size(), 1u);  // it was asked, and refused

    // No camera in Premiere Pro: the host is not even asked.
    FakePreRender premiere(host);
    premiere.setResult(0, checkoutResult({0, 0, 20, 10}, {0, 0, 20, 10}));
    host.in.pica_basicP = FakeCamera::basic();
    host.in.appl_id = cindel::fourCharCode('P', 'r', 'M', 'r');
    ASSERT_EQ(preRenderFrame(&host.in, &host.out, &premiere.extra), PF_Err_NONE);
    EXPECT_EQ(premiere.mixedBytes(), timeOnly);
    EXPECT_TRUE(FakeCamera::askedTimes.empty());
}

TEST_F(PreRender, OlderHostsWithoutGuidMixStillGetAnAnswer) {
    FakePreRender old(host, /*hasGuidMix=*/false);
    old.setResult(0, checkoutResult({0, 0, 20, 10}, {0, 0, 20, 10}));
    ASSERT_EQ(preRenderFrame(&host.in, &host.out, &old.extra), PF_Err_NONE);
    EXPECT_EQ(old.output().result_rect.right, 20);
    EXPECT_EQ(old.mixCalls(), 0);
}

TEST_F(PreRender, EveryParameterButTheLayersIsTouchedOnce) {
    host.answerEverything();
    host.set(40, [](A_long, PF_ParamDef&) { return false; });  // a failing one is skipped
    ASSERT_EQ(run(), PF_Err_NONE);
    for (int index = 1; index <= kRegisteredParamCount; ++index) {
        const int expected = (index == kParamSourceLayer || index == kParamCustomMap) ? 0 : 1;
        EXPECT_EQ(host.checkouts(index), expected) << "index " << index;
    }
    EXPECT_EQ(host.checkouts(0), 0);
    EXPECT_EQ(host.checkins(), kRegisteredParamCount - 3);
    for (const auto& c : host.checkoutLog()) EXPECT_EQ(c.time, 0x01020304);
}

TEST_F(PreRender, MissingRecordsAreRefused) {
    EXPECT_EQ(preRenderFrame(&host.in, &host.out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(preRenderFrame(nullptr, &host.out, &pr.extra), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderExtra noOutput = pr.extra;
    noOutput.output = nullptr;
    EXPECT_EQ(preRenderFrame(&host.in, &host.out, &noOutput), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderExtra noCb = pr.extra;
    noCb.cb = nullptr;
    EXPECT_EQ(preRenderFrame(&host.in, &host.out, &noCb), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(pr.requests().empty());
}

}  // namespace
}  // namespace cindel
