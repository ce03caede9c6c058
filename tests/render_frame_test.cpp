// The frame driver through minihost's smart pre-render and smart render, with the core in this
// process and no GPU: checkouts and their failures, the no-GPU fill at every depth the host can
// name, the snapshot it builds (histories, sources, instance identity), the pre-render answer, and
// bad host input that must end in a defined outcome rather than a crash or a write outside the output.
#include "frame/render_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <tuple>

#include "AE_EffectSuites.h"
#include "emit/emitter_caches.h"
#include "frame/digest.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "frame/pre_render.h"
#include "host/effect_main.h"
#include "host/instance_data.h"
#include "host/process_state.h"
#include "minihost/host.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using minihost::World;

// With gIsBuilding, each smart render also builds its snapshot into gSnapshot beside the real render.
bool gIsBuilding = false;
FrameSettings gSnapshot;
FrameCheckout gCheckout;

PF_Err inProcessEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER && gIsBuilding &&
        checkoutFrame(in, static_cast<PF_SmartRenderExtra*>(extra), gCheckout) == PF_Err_NONE) {
        buildFrameSettings(in, gCheckout, frameTiming(in->current_time, in->time_step, in->time_scale), gSnapshot);
    }
    return effectMain(cmd, in, out, params, output, extra);
}

// A pixel as A, R, G, B, read at `bits` whatever depth the world was made with.
std::array<double, 4> argbAt(const World& w, int bits, int x, int y) {
    const auto* row = static_cast<const std::uint8_t*>(static_cast<const void*>(w.get()->data)) + y * w.rowBytes();
    if (bits == 8) {
        const PF_Pixel& p = reinterpret_cast<const PF_Pixel*>(row)[x];
        return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    }
    if (bits == 16) {
        const PF_Pixel16& p = reinterpret_cast<const PF_Pixel16*>(row)[x];
        return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    }
    const PF_PixelFloat& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
    return {p.alpha, p.red, p.green, p.blue};
}
// The no-GPU fill: opaque dark red, 60 of 255, at the depth written.
const std::array<double, 4> kFill8 = {255, 60, 0, 0}, kFill16 = {32768, 7710, 0, 0},
                            kFill32 = {1, double(60.0f / 255.0f), 0, 0};
std::vector<std::uint8_t> bytesOf(const World& w) {
    const auto* p = static_cast<const std::uint8_t*>(static_cast<const void*>(w.get()->data));
    return {p, p + std::size_t(std::max<A_long>(w.rowBytes(), 0)) * std::size_t(w.height())};
}

TEST(FallbackFill, EveryPixelAtEveryDepthAndNothingElse) {
    for (auto [bits, fill] : {std::pair{8, kFill8}, {16, kFill16}, {32, kFill32}}) {
        World world(3, 4, bits, /*padding=*/20);
        ASSERT_TRUE(fallbackFill(world.get()->data, 3, 4, world.rowBytes(), bits));
        EXPECT_TRUE(world.paddingIntact()) << bits;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(argbAt(world, bits, x, y), fill) << bits << ": " << x << "," << y;
    }
    World shortRows = World::withRowBytes(4, 4, 16, 4 * 8 - 2), ok(2, 2, 8);
    const std::vector<std::uint8_t> before = bytesOf(ok);
    EXPECT_FALSE(fallbackFill(shortRows.get()->data, 4, 4, shortRows.rowBytes(), 16));
    EXPECT_FALSE(fallbackFill(ok.get()->data, 2, 2, ok.rowBytes(), 12));
    EXPECT_FALSE(fallbackFill(nullptr, 2, 2, 8, 8));
    EXPECT_FALSE(fallbackFill(ok.get()->data, 0, 0, 0, 8));
    EXPECT_TRUE(shortRows.paddingIntact());
    EXPECT_EQ(bytesOf(ok), before);
}

class RenderFrame : public ::testing::Test {
protected:
    void SetUp() override {
        releaseEmitterCaches();
        processState().gpuAvailable = false;
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        host.settings().timeStep = 100;
        host.settings().timeScale = 3000;
        host.settings().currentTime = 500;
        instance = &host.addInstance(8, 6);
    }
    void TearDown() override {
        gIsBuilding = false;
        releaseEmitterCaches();
        processState().gpuAvailable = false;
    }
    PF_Err render(World& out) {
        std::memset(&gSnapshot, 0, sizeof gSnapshot);
        return host.renderFrame(*instance, out);
    }
    minihost::CheckoutLog& log() { return instance->checkouts(); }

    minihost::Host host{&inProcessEffect};
    minihost::Instance* instance = nullptr;
};

// Without a ready GPU (never started, or started without a device) every frame is the fill, at the
// depth the world suite names; a failed query or a withheld suite fall back to the deep flag, which
// a float world shares with a 16-bit one.
TEST_F(RenderFrame, WithoutGpuEveryDepthIsFilledAndEveryCheckoutReturned) {
    struct Case {
        int bits;
        bool isStarted, hasFailedQuery, hasSuite;
        int written;
    };
    const Case cases[] = {{8, false, false, true, 8},  {8, true, false, true, 8},   {16, false, false, true, 16},
                          {32, false, false, true, 32}, {32, false, true, true, 16}, {32, false, false, false, 16}};
    for (const Case& c : cases) {
        processState().gpuAvailable = c.isStarted;
        host.faults().pixelFormatQuery = c.hasFailedQuery;
        if (!c.hasSuite) host.suites().withhold(kPFWorldSuite, kPFWorldSuiteVersion2);
        World out(5, 3, c.bits, 16);
        ASSERT_EQ(render(out), PF_Err_NONE);
        const auto fill = c.written == 8 ? kFill8 : c.written == 16 ? kFill16 : kFill32;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(argbAt(out, c.written, x, y), fill) << c.bits << " " << c.written;
        EXPECT_TRUE(out.paddingIntact());
        EXPECT_EQ(log().outstanding(), 0);
        host.suites().restoreAll();
    }
    EXPECT_EQ(host.displayedMessages().back(), "Not able to acquire AEFX Suite.");
}

TEST_F(RenderFrame, FailedCheckoutsAreReturnedAndNothingElseHappens) {
    World out(8, 6, 8);
    const std::vector<std::uint8_t> before = bytesOf(out);
    host.faults().outputCheckout = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(render(out), PF_Err_INTERNAL_STRUCT_DAMAGED);
    host.faults().outputCheckout = PF_Err_NONE;
    host.faults().layerPixels[0] = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(render(out), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(instance->outputCheckouts(), 0);
    EXPECT_EQ(bytesOf(out), before);
    log().clear();
    host.preRender(*instance);
    log().clear();
    EXPECT_EQ(host.smartRender(*instance, out), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(log().totalCheckouts(), 0);  // no parameter read for a frame that cannot be made
}

TEST_F(RenderFrame, MissingRecordsAreRefusedAndBadWorldsSucceedUnwritten) {
    PF_InData in{};
    PF_OutData out{};
    PF_SmartRenderInput input{};
    PF_SmartRenderCallbacks partial{};
    EXPECT_EQ(renderFrame(&in, &out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_SmartRenderExtra noCb{&input, nullptr}, noOutput{&input, &partial};
    EXPECT_EQ(renderFrame(nullptr, &out, &noOutput), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(renderFrame(&in, &out, &noCb), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(renderFrame(&in, &out, &noOutput), PF_Err_BAD_CALLBACK_PARAM);  // no checkout_output

    World empty(0, 0, 8), shortRows = World::withRowBytes(8, 6, 8, 8 * 4 - 4);
    for (World* w : {&empty, &shortRows}) {
        const std::vector<std::uint8_t> before = bytesOf(*w);
        EXPECT_EQ(render(*w), PF_Err_NONE);
        EXPECT_EQ(bytesOf(*w), before);
        EXPECT_TRUE(w->paddingIntact());
    }
}

TEST_F(RenderFrame, BadHostTimesStillGiveAFrame) {
    struct Times {
        A_long current, step;
        A_u_long scale;
    };
    const Times cases[] = {{500, 100, 0}, {-700, 100, 3000}, {90, 0, 30}, {INT_MAX, 1, 30}, {INT_MIN, INT_MIN, 0}};
    for (const Times& t : cases) {
        releaseEmitterCaches();
        log().clear();
        host.settings().currentTime = t.current;
        host.settings().timeStep = t.step;
        host.settings().timeScale = t.scale;
        World out(4, 4, 8, 4);
        EXPECT_EQ(render(out), PF_Err_NONE) << t.current;
        EXPECT_EQ(argbAt(out, 8, 3, 3), kFill8);
        EXPECT_TRUE(out.paddingIntact());
        // Pre-render's read and one at the current time, plus a table of 1 ... 600 entries.
        const int reads = log().checkouts(kParamSourcePosition);
        EXPECT_TRUE(reads >= 3 && reads <= 2 + kMaxHistoryFrames) << t.current << ": " << reads;
    }
}

// Empty or failed layers are absent; a Source Layer pre-render found larger than the output is
// checked out under id 999.
TEST_F(RenderFrame, SnapshotSizesIdentityAndSources) {
    gIsBuilding = true;
    World source(6, 4, 8), map(3, 2, 16), zeroHigh(6, 0, 8), out(8, 6, 8);
    source.fill(1, 1, 1, 1);
    instance->setLayer(kParamSourceLayer, source);
    instance->setLayer(kParamCustomMap, map);
    ASSERT_EQ(render(out), PF_Err_NONE);
    const FrameSettings& fs = gSnapshot;
    EXPECT_EQ(std::tuple(fs.outputWidth, fs.outputHeight, fs.compWidth, fs.compHeight), std::tuple(8, 6, 8, 6));
    EXPECT_EQ(fs.instanceId, std::uint64_t(instance->sequenceBytes()[0]));
    EXPECT_NE(fs.instanceId, 0u);
    EXPECT_EQ(std::tuple(fs.sourceLayerPresent, fs.emissionWidth, fs.emissionHeight), std::tuple(1, 6, 4));
    EXPECT_NE(fs.emissionHash, 0u);
    EXPECT_EQ(std::tuple(fs.customMapPresent, fs.customMapWidth, fs.customMapHeight), std::tuple(1, 3, 2));
    std::vector<A_long> ids;
    for (const auto& c : instance->pixelCheckouts()) ids.push_back(c.checkoutId);
    EXPECT_EQ(std::vector<A_long>(ids.end() - 3, ids.end()), (std::vector<A_long>{0, 5, 12}));

    instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {-2, -2, 10, 10}});
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_EQ(instance->pixelCheckouts()[1].checkoutId, 999);
    instance->setLayer(kParamSourceLayer, zeroHigh);
    host.faults().layerPixels[12] = PF_Err_INVALID_INDEX;
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_EQ(std::tuple(fs.sourceLayerPresent, fs.emissionWidth, fs.customMapPresent, fs.customMapWidth),
              std::tuple(0, 0, 0, 0));
}

TEST_F(RenderFrame, BeyondFrame599ThePositionIsFrame599s) {
    // Frame f of the animation is (f, 10 + f, 2 f).
    instance->addKeyframe(kParamSourcePosition, {0, 3000}, minihost::ParamValue::point3D(0, 10, 0));
    instance->addKeyframe(kParamSourcePosition, {100000, 3000}, minihost::ParamValue::point3D(1000, 1010, 2000));
    instance->setPopup(kParamBurnMode, 2);
    instance->setFloat(kParamBurnProgress, 25.0);
    gIsBuilding = true;
    host.settings().currentTime = 750 * 100;
    World out(8, 6, 8);
    ASSERT_EQ(render(out), PF_Err_NONE);
    const FrameSettings& fs = gSnapshot;
    ASSERT_EQ(fs.trajectoryCount, 600);
    EXPECT_NEAR(fs.sourcePosition.x, 599.0f, 1e-3);
    EXPECT_NEAR(fs.sourcePosition.y, 609.0f, 1e-3);
    EXPECT_EQ(fs.trajectoryHash, hashTrajectory(kFnv32Basis, fs.trajectoryX, fs.trajectoryY, fs.trajectoryZ, 600));
    EXPECT_EQ(fs.burnCurveCount, 600);
    EXPECT_FLOAT_EQ(fs.burnCurve[599], 0.25f);
    // Frames 0 ... 599 plus the reads at the current time, nothing beyond.
    log().clear();
    releaseEmitterCaches();
    gIsBuilding = false;
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_EQ(log().checkouts(kParamSourcePosition), 1 + 1 + 600);  // pre-render's, the current time's, the table
    for (const minihost::HostTime& t : log().times(kParamSourcePosition))
        EXPECT_TRUE(t.value <= 59900 || t.value == 75000) << t.value;
}

// Two instances with the same parameters must not share a simulation; a moving position changes
// the key through the trajectory digest.
TEST_F(RenderFrame, InstanceAndAnimationChangeTheKey) {
    gIsBuilding = true;
    World out(8, 6, 8);
    ASSERT_EQ(render(out), PF_Err_NONE);
    const uint64_t still = simulationKey(gSnapshot);
    minihost::Instance* first = instance;
    instance = &host.addInstance(8, 6);
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_NE(simulationKey(gSnapshot), still);
    instance = first;
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_EQ(simulationKey(gSnapshot), still);
    instance->addKeyframe(kParamSourcePosition, {0, 3000}, minihost::ParamValue::point3D(5, 5, 0));
    instance->addKeyframe(kParamSourcePosition, {400, 3000}, minihost::ParamValue::point3D(9, 5, 0));
    ASSERT_EQ(render(out), PF_Err_NONE);
    EXPECT_NE(simulationKey(gSnapshot), still);
}

// ---------------------------------------------------------------------------------------------
// The smart pre-render answer: the rectangles handed back, the layer requests and their ids, the
// Source Layer's delivery written into the instance data, and the parameter sweep. The camera's
// part of the cache identity is camera_lights_test's.

constexpr A_long kTime = 0x01020304;

// Pre-render on a 200 x 100 layer at an odd time.
class PreRender : public RenderFrame {
protected:
    void SetUp() override {
        RenderFrame::SetUp();
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
    static const minihost::LayerCheckout* checkout(const minihost::PreRenderResult& r, A_long id) {
        for (const auto& c : r.layerCheckouts)
            if (c.checkoutId == id) return &c;
        return nullptr;
    }
    World layer{200, 100, 8}, source{200, 100, 8};
};

TEST_F(PreRender, OutputCoversTheInputLayerAndTheTimeIsTheCacheIdentity) {
    instance->setLayer(kParamInputLayer, minihost::LayerSource{&layer, {-10, -5, 210, 105}});
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
    instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {3, 4, 50, 60}, 640, 480});
    ASSERT_EQ(host.preRender(*instance).result, PF_Err_NONE);
    InstanceData d = instanceData();
    EXPECT_EQ(std::tuple(d.sourceExpanded, d.sourceOriginX, d.sourceOriginY, d.sourceRefWidth, d.sourceRefHeight),
              std::tuple(0, 3, 4, 640, 480));
    const std::uint64_t id = d.instanceId;
    EXPECT_NE(id, 0u);

    instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {-40, -30, 160, 170}, 1920, 1080});  // taller only
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
