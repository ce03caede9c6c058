// The frame driver through minihost's smart pre-render and smart render, in process without a GPU:
// checkouts and their failures, the no-GPU fill, the snapshot with the composition's camera and lights.
#include "frame/render_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "AE_EffectSuites.h"
#include "emit/emitter_caches.h"
#include "frame/camera_lights.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "host/effect_main.h"
#include "host/instance_data.h"
#include "host/process_state.h"
#include "minihost/composition.h"
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
    auto argb = [&](const auto* p) {
        return std::array{double(p[x].alpha), double(p[x].red), double(p[x].green), double(p[x].blue)};
    };
    return bits == 8    ? argb(reinterpret_cast<const PF_Pixel*>(row))
           : bits == 16 ? argb(reinterpret_cast<const PF_Pixel16*>(row))
                        : argb(reinterpret_cast<const PF_PixelFloat*>(row));
}
// The no-GPU fill: opaque dark red, 60 of 255, at the depth written.
const std::array<double, 4> kFill8 = {255, 60, 0, 0}, kFill16 = {32768, 7710, 0, 0},
                            kFill32 = {1, double(60.0f / 255.0f), 0, 0};
std::vector<std::uint8_t> bytesOf(const World& w) {
    const auto* p = static_cast<const std::uint8_t*>(static_cast<const void*>(w.get()->data));
    return {p, p + std::size_t(std::max<A_long>(w.rowBytes(), 0)) * std::size_t(w.height())};
}

class RenderFrame : public ::testing::Test {
protected:
    void SetUp() override {
        releaseEmitterCaches();
        processState().gpuAvailable = false;
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        std::tie(host.settings().timeStep, host.settings().timeScale, host.settings().currentTime) =
            std::tuple(100, 3000u, 500);
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

    minihost::Host host{&inProcessEffect};
    minihost::Instance* instance = nullptr;
};

// Without a ready GPU (never started, or started without a device) every frame is the fill, at the
// depth the world suite names; a failed query or a withheld suite fall back to the deep flag, which
// a float world shares with a 16-bit one.
TEST_F(RenderFrame, WithoutGpuEveryDepthIsFilledAndEveryCheckoutReturned) {
    struct Case { int bits; bool isStarted, hasFailedQuery, hasSuite; int written; };
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
        EXPECT_EQ(instance->checkouts().outstanding(), 0);
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
}

TEST_F(RenderFrame, BadWorldsSucceedUnwritten) {
    World empty(0, 0, 8), shortRows = World::withRowBytes(8, 6, 8, 8 * 4 - 4);
    for (World* w : {&empty, &shortRows}) {
        const std::vector<std::uint8_t> before = bytesOf(*w);
        EXPECT_EQ(render(*w), PF_Err_NONE);
        EXPECT_EQ(bytesOf(*w), before);
        EXPECT_TRUE(w->paddingIntact());
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

// The smart pre-render answer on a 200 x 100 layer at an odd time: rectangles, layer requests, the
// Source Layer's delivery, the parameter sweep.
constexpr A_long kTime = 0x01020304;
auto box(const PF_LRect& r) { return std::tuple(r.left, r.top, r.right, r.bottom); }
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
    EXPECT_EQ(box(r.output.result_rect), std::tuple(0, 0, 200, 100));
    EXPECT_EQ(box(r.output.max_result_rect), std::tuple(-10, -5, 210, 105));
    EXPECT_FALSE(r.output.solid);
    // The input under id 0 and the Custom Map under id 12, keeping the colour of clear pixels.
    for (auto [id, index] : {std::pair{0, kParamInputLayer}, {12, kParamCustomMap}}) {
        const minihost::LayerCheckout* c = checkout(r, id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(std::tuple(c->index, c->whatTime, bool(c->request.preserve_rgb_of_zero_alpha)),
                  std::tuple(index, kTime, true));
    }
    // Without a camera, only the current time, least significant byte first.
    EXPECT_EQ(r.guidMixes, (std::vector<std::vector<std::uint8_t>>{{0x04, 0x03, 0x02, 0x01}}));
    minihost::PreRenderCall older;
    older.offerGuidMixIn = false;
    EXPECT_EQ(host.preRender(*instance, older).result, PF_Err_NONE);
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

    instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {-40, -30, 160, 170}, 1920, 1080});  // taller only
    const minihost::PreRenderResult r = host.preRender(*instance);
    const minihost::LayerCheckout* wide = checkout(r, 999);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::tuple(wide->index, box(wide->request.rect), bool(wide->request.preserve_rgb_of_zero_alpha)),
              std::tuple(kParamSourceLayer, std::tuple(-40, -30, 160, 170), true));
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

// The camera, the key light, the light tracks and the Comp Settings blur as the frame driver reads
// them from minihost's composition.

using minihost::Composition;
using minihost::Layer;
using minihost::LayerType;
using minihost::Vec3;

constexpr A_u_long kTimeScale = 30;
constexpr A_long kLightOff = 1, kLightAuto = 2, kLight3 = 5, kLight4 = 6;  // popup values
constexpr A_long kBlurEffectOnly = 2, kBlurCompSettings = 3;
// The shutter angle as PF_InData carries it: 16.16, 1.0 = 360 degrees.
constexpr PF_Fixed shutterDegrees(int degrees) { return PF_Fixed(int64_t(degrees) * 65536 / 360); }

class CameraLights : public ::testing::Test {
protected:
    void SetUp() override {
        processState().aegpPluginId = host.builtinSuites().pluginIdToGive;
        gIsBuilding = true;
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        host.settings().timeScale = comp->timeScale = kTimeScale;
        host.settings().timeStep = comp->timeStep = 1;
        host.setComposition(comp);
        instance = &host.addInstance(64, 36);
    }
    void TearDown() override {
        gIsBuilding = false;
        processState().aegpPluginId = 0;
    }

    // Layers added before the effect's own lie above it in the stack.
    int add(LayerType type, Vec3 position = {}, double startSeconds = 0) {
        Layer layer;
        layer.type = type;
        layer.name = "Layer " + std::to_string(comp->layerCount() + 1);
        layer.position.set(position);
        layer.startSeconds = startSeconds;
        layer.width = layer.height = 10;
        const int id = comp->addLayer(layer).id;
        if (type == LayerType::Effect) instance->setLayerId(id);
        return id;
    }
    Vec3 at(int layerId, double compSeconds) const {
        return comp->layerToWorld(*comp->layerById(layerId), compSeconds).translation();
    }
    // Renders host frame `frame` and returns the snapshot it was built from.
    const FrameSettings& render(A_long frame) {
        host.settings().setFrame(frame);
        std::memset(&gSnapshot, 0, sizeof gSnapshot);
        World output(16, 9, 8);
        EXPECT_EQ(host.renderFrame(*instance, output), PF_Err_NONE);
        return gSnapshot;
    }
    void expectTrack(const FrameSettings& fs, int track, int frame, Vec3 p) {
        const int i = track * kMaxHistoryFrames + frame;
        EXPECT_EQ(std::tuple(fs.lightTrackX[i], fs.lightTrackY[i], fs.lightTrackZ[i]),
                  std::tuple(float(p.x), float(p.y), float(p.z))) << "track " << track << " frame " << frame;
    }

    minihost::Host host{&inProcessEffect};
    std::shared_ptr<Composition> comp = std::make_shared<Composition>();
    minihost::Instance* instance = nullptr;
};

// Light Source and Key Light on Auto follow the topmost lights above the effect, Light K the K-th.
TEST_F(CameraLights, LightsAreTheFourTopmostAboveTheEffect) {
    const int l1 = add(LayerType::Light, {10, 20, 30});
    comp->layerById(l1)->lightIntensity.set(250);
    comp->layerById(l1)->lightColor = {0.25, 0.5, 0.75};
    add(LayerType::Solid);  // other kinds of layer between the lights do not count
    const int l2 = add(LayerType::Light, {40, 50, 60});
    const int l3 = add(LayerType::Light, {70, 80, 90});
    const int l4 = add(LayerType::Light, {100, 110, 120});
    add(LayerType::Light, {130, 140, 150});
    add(LayerType::Effect);
    add(LayerType::Light, {160, 170, 180});
    instance->setPopup(kParamLightSource, kLightAuto);
    instance->setPopup(kParamKeyLight, kLightAuto);
    const FrameSettings& fs = render(3);
    ASSERT_EQ(std::tuple(fs.lightTrackCount, fs.lightTrackFrames), std::tuple(4, 4));  // frames 0 ... 3
    const int ids[] = {l1, l2, l3, l4};
    for (int t = 0; t < 4; ++t) {
        for (int f = 0; f < 4; ++f) expectTrack(fs, t, f, at(ids[t], 0));
        EXPECT_EQ(fs.lightCurrentX[t], fs.lightTrackX[t * kMaxHistoryFrames + 3]);
    }
    EXPECT_FLOAT_EQ(fs.lightCurrentX[3], 100.0f);  // the model puts a light where its position says
    // The emitter follows track 0, and the tracks replace the Source Position history.
    EXPECT_EQ(std::tuple(fs.sourcePosition.x, fs.sourcePosition.y, fs.sourcePosition.z), std::tuple(10.0f, 20.0f, 30.0f));
    EXPECT_EQ(fs.trajectoryCount, 0);
    ASSERT_EQ(fs.keyActive, 1);
    EXPECT_EQ(std::tuple(fs.keyLightX, fs.keyLightY, fs.keyLightZ), std::tuple(10.0f, 20.0f, 30.0f));
    EXPECT_EQ(std::tuple(fs.keyIntensity, fs.keyColorR, fs.keyColorG, fs.keyColorB), std::tuple(2.5f, 0.25f, 0.5f, 0.75f));
    instance->setPopup(kParamKeyLight, kLight4);
    EXPECT_EQ(render(0).keyLightX, float(at(l4, 0).x));
    instance->setPopup(kParamKeyLight, kLightOff);
    instance->setPopup(kParamLightSource, kLightOff);
    instance->setPoint3D(kParamSourcePosition, 5, 6, 7);
    const FrameSettings& off = render(2);
    EXPECT_EQ(std::tuple(off.keyActive, off.lightTrackCount, off.trajectoryCount, off.sourcePosition.x),
              std::tuple(0, 0, 3, 5.0f));
    EXPECT_TRUE(host.suites().unbalanced().empty());
}

// The emitter rides on track 0 only, but a volume source sits on every track: moving any of the
// four lights moves fire, so the simulation must start again.
TEST_F(CameraLights, EveryLightTrackCountsInTheSimulationKey) {
    const Vec3 home[4] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    int ids[4];
    for (int k = 0; k < 4; ++k) ids[k] = add(LayerType::Light, home[k]);
    add(LayerType::Effect);
    instance->setPopup(kParamLightSource, kLightAuto);
    const uint64_t homeKey = simulationKey(render(5));
    for (int moved = 0; moved < 4; ++moved) {
        comp->layerById(ids[moved])->position.set({home[moved].x + 5, home[moved].y, home[moved].z});
        EXPECT_NE(simulationKey(render(5)), homeKey) << "light " << moved + 1;
        comp->layerById(ids[moved])->position.set(home[moved]);
    }
    EXPECT_EQ(simulationKey(render(5)), homeKey);  // the difference came from the move alone
}

// Tracks are read at composition times (the effect layer starts later); the key light is not. A
// missing light K falls back to the first light.
TEST_F(CameraLights, ShiftedEffectLayerConvertsTheTracksButNotTheKeyLight) {
    Layer light;
    light.type = LayerType::Light;
    light.position.addKey(0.0, {0, 0, 0});
    light.position.addKey(2.0, {600, 300, -200});
    const int id = comp->addLayer(light).id;
    const double start = 0.5;  // 15 frames into the composition
    add(LayerType::Effect, {}, start);
    instance->setPopup(kParamLightSource, kLight3);
    instance->setPopup(kParamKeyLight, kLightAuto);
    const int frame = 10;
    const FrameSettings& fs = render(frame);
    ASSERT_EQ(std::tuple(fs.lightTrackCount, fs.lightTrackFrames), std::tuple(1, frame + 1));
    for (int f = 0; f <= frame; ++f) expectTrack(fs, 0, f, at(id, start + double(f) / kTimeScale));
    EXPECT_FLOAT_EQ(fs.lightTrackX[0], 150.0f);  // 600 x 0.5 s of 2 s
    ASSERT_EQ(fs.keyActive, 1);
    const Vec3 unconverted = at(id, double(frame) / kTimeScale);
    EXPECT_EQ(std::tuple(fs.keyLightX, fs.keyLightZ), std::tuple(float(unconverted.x), float(unconverted.z)));
}

// Comp Settings blur takes the composition's shutter, and needs both the layer's and the
// composition's switch; Effect Only ignores the composition.
TEST_F(CameraLights, CompSettingsBlurNeedsBothSwitches) {
    add(LayerType::Effect);
    const struct { A_long mode; bool layer, comp; int degrees; float scale; } cases[] = {
        {kBlurCompSettings, true, true, 90, 0.5f},   {kBlurCompSettings, true, true, 270, 1.5f},
        {kBlurCompSettings, false, true, 270, 0.0f}, {kBlurCompSettings, true, false, 270, 0.0f},
        {kBlurEffectOnly, true, false, 270, 1.0f}};
    for (const auto& c : cases) {
        instance->setPopup(kParamMotionBlur, c.mode);
        std::tie(comp->effectLayer()->hasMotionBlur, comp->hasMotionBlur) = std::tuple(c.layer, c.comp);
        host.settings().shutterAngle = shutterDegrees(c.degrees);
        EXPECT_FLOAT_EQ(render(0).motionBlurScale, c.scale) << c.mode << c.layer << c.comp << c.degrees;
    }
}

TEST_F(CameraLights, CameraLandsRowMajorAtTheConvertedTime) {
    Layer camera;
    camera.type = LayerType::Camera;
    camera.position.addKey(0.0, {480, 270, -1200});
    camera.position.addKey(1.0, {300, 200, -900});
    camera.pointOfInterest.set({500, 260, 0});
    camera.zoom.set(1100);
    comp->addLayer(camera);
    const double start = 0.2;
    add(LayerType::Effect, {}, start);
    const int frame = 9;
    const FrameSettings& fs = render(frame);
    ASSERT_EQ(fs.cameraValid, 1);
    const minihost::EffectCamera expected = comp->effectCamera(start + double(frame) / kTimeScale);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fs.cameraMatrix[i], float(expected.matrix.m[i / 4][i % 4])) << i;
    EXPECT_EQ(fs.cameraDistance, float(expected.distance));
    EXPECT_EQ(std::tuple(fs.cameraPlaneWidth, fs.cameraPlaneHeight), std::tuple(expected.planeWidth, expected.planeHeight));
    EXPECT_NE(fs.cameraMatrix[12], float(comp->effectCamera(double(frame) / kTimeScale).matrix.m[3][0]));
}

}  // namespace
}  // namespace cindel
