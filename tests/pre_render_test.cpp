// The smart pre-render answer, through minihost's callbacks: the rectangles handed back, the layer
// requests and their ids, the Source Layer's delivery written into the instance data, and the
// parameter sweep. The camera's part of the cache identity is camera_lights_test's.
#include "frame/pre_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "host/effect_main.h"
#include "host/instance_data.h"
#include "minihost/host.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using minihost::LayerSource;

constexpr A_long kTime = 0x01020304;

class PreRender : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        instance = &host.addInstance(200, 100);
        host.settings().currentTime = kTime;
    }
    InstanceData instanceData() const {
        InstanceData d{};
        const std::vector<std::uint8_t> bytes = instance->sequenceBytes();
        EXPECT_EQ(bytes.size(), sizeof d);
        std::memcpy(&d, bytes.data(), std::min(bytes.size(), sizeof d));
        return d;
    }
    const minihost::LayerCheckout* checkout(const minihost::PreRenderResult& r, A_long id) const {
        for (const auto& c : r.layerCheckouts)
            if (c.checkoutId == id) return &c;
        return nullptr;
    }

    minihost::Host host{&effectMain};
    minihost::Instance* instance = nullptr;
    minihost::World layer{200, 100, 8}, source{200, 100, 8};
};

TEST_F(PreRender, OutputCoversTheInputLayerAndTheTimeIsTheCacheIdentity) {
    instance->setLayer(kParamInputLayer, LayerSource{&layer, {-10, -5, 210, 105}});
    const minihost::PreRenderResult r = host.preRender(*instance);
    ASSERT_EQ(r.result, PF_Err_NONE);
    const PF_LRect& result = r.output.result_rect;
    const PF_LRect& max = r.output.max_result_rect;
    EXPECT_EQ(std::tuple(result.left, result.top, result.right, result.bottom), std::tuple(0, 0, 200, 100));
    EXPECT_EQ(std::tuple(max.left, max.top, max.right, max.bottom), std::tuple(-10, -5, 210, 105));
    EXPECT_FALSE(r.output.solid);
    // The input under id 0 and the Custom Map under id 12, keeping the colour of clear pixels.
    for (auto [id, index] : {std::pair{0, kParamInputLayer}, {12, kParamCustomMap}}) {
        const minihost::LayerCheckout* c = checkout(r, id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(c->index, index);
        EXPECT_EQ(c->whatTime, kTime);
        EXPECT_TRUE(c->request.preserve_rgb_of_zero_alpha) << id;
    }
    // Without a camera, only the current time, least significant byte first.
    EXPECT_EQ(r.guidMixes, (std::vector<std::vector<std::uint8_t>>{{0x04, 0x03, 0x02, 0x01}}));
    minihost::PreRenderCall older;
    older.offerGuidMixIn = false;
    EXPECT_EQ(host.preRender(*instance, older).result, PF_Err_NONE);
}

TEST_F(PreRender, FailedInputCheckoutIsReturnedAndNothingElseHappens) {
    host.faults().layerCheckout[kParamInputLayer] = PF_Err_OUT_OF_MEMORY;
    const minihost::PreRenderResult r = host.preRender(*instance);
    EXPECT_EQ(r.result, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.layerCheckouts.size(), 1u);
    EXPECT_TRUE(r.guidMixes.empty());
    EXPECT_EQ(instance->checkouts().totalCheckouts(), 0);
}

// A Source Layer reaching past the request on either axis is checked out again, under id 999, at
// its full extent; its origin and size before effects go into the instance data for the render.
TEST_F(PreRender, SourceLayerDeliveryIsRecordedInTheInstanceData) {
    instance->setLayer(kParamSourceLayer, LayerSource{&source, {3, 4, 50, 60}, 640, 480});
    ASSERT_EQ(host.preRender(*instance).result, PF_Err_NONE);
    InstanceData d = instanceData();
    EXPECT_EQ(std::tuple(d.sourceExpanded, d.sourceOriginX, d.sourceOriginY, d.sourceRefWidth, d.sourceRefHeight),
              std::tuple(0, 3, 4, 640, 480));
    const std::uint64_t id = d.instanceId;
    EXPECT_NE(id, 0u);

    instance->setLayer(kParamSourceLayer, LayerSource{&source, {-40, -30, 160, 170}, 1920, 1080});  // taller only
    const minihost::PreRenderResult r = host.preRender(*instance);
    const minihost::LayerCheckout* wide = checkout(r, 999);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->index, kParamSourceLayer);
    const PF_LRect& rect = wide->request.rect;
    EXPECT_EQ(std::tuple(rect.left, rect.top, rect.right, rect.bottom), std::tuple(-40, -30, 160, 170));
    EXPECT_TRUE(wide->request.preserve_rgb_of_zero_alpha);
    d = instanceData();
    EXPECT_EQ(std::tuple(d.sourceExpanded, d.sourceOriginX, d.sourceOriginY, d.sourceRefWidth),
              std::tuple(1, -40, -30, 1920));
    EXPECT_EQ(d.instanceId, id);

    // A failed Source Layer checkout leaves the last delivery standing.
    host.faults().layerCheckout[kParamSourceLayer] = PF_Err_INTERNAL_STRUCT_DAMAGED;
    ASSERT_EQ(host.preRender(*instance).result, PF_Err_NONE);
    EXPECT_EQ(std::tuple(instanceData().sourceExpanded, instanceData().sourceOriginX), std::tuple(1, -40));
}

// Pre-render touches every parameter but the layers once, so the host's cache sees them all.
TEST_F(PreRender, EveryParameterButTheLayersIsTouchedOnce) {
    host.faults().paramCheckout[40] = PF_Err_INTERNAL_STRUCT_DAMAGED;  // a failing one is skipped
    ASSERT_EQ(host.preRender(*instance).result, PF_Err_NONE);
    minihost::CheckoutLog& log = instance->checkouts();
    for (int index = 0; index <= kRegisteredParamCount; ++index) {
        const bool isLayer = index == kParamInputLayer || index == kParamSourceLayer || index == kParamCustomMap;
        EXPECT_EQ(log.checkouts(index), isLayer ? 0 : 1) << index;
    }
    EXPECT_EQ(log.totalCheckins(), kRegisteredParamCount - 3);
    EXPECT_EQ(log.outstanding(), 0);
    for (const auto& c : log.calls()) EXPECT_EQ(c.whatTime, kTime);
}

TEST(PreRenderRecords, MissingRecordsAreRefused) {
    PF_InData in{};
    PF_OutData out{};
    PF_PreRenderInput input{};
    PF_PreRenderOutput output{};
    PF_PreRenderCallbacks cb{};
    EXPECT_EQ(preRenderFrame(&in, &out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderExtra extra{&input, &output, &cb};
    EXPECT_EQ(preRenderFrame(nullptr, &out, &extra), PF_Err_BAD_CALLBACK_PARAM);
    for (auto bad : {PF_PreRenderExtra{&input, nullptr, &cb}, PF_PreRenderExtra{&input, &output, nullptr}}) {
        EXPECT_EQ(preRenderFrame(&in, &out, &bad), PF_Err_BAD_CALLBACK_PARAM);
    }
}

}  // namespace
}  // namespace cindel
