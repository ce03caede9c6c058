// The camera, the key light, the light tracks and the Comp Settings blur as the frame driver reads
// them from minihost's composition. The core runs in this process, so each smart render also builds
// the frame's FrameSettings for the test to read; global set-up is never sent, so the GPU stays off
// and the test sets the AEGP plug-in id.
#include "frame/camera_lights.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "frame/render_frame.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using minihost::Composition;
using minihost::Layer;
using minihost::LayerType;
using minihost::Vec3;

FrameSettings* gSnapshot = nullptr;  // where each smart render's snapshot goes

PF_Err inProcessEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra) {
    FrameCheckout frame;
    if (cmd == PF_Cmd_SMART_RENDER && gSnapshot &&
        checkoutFrame(in, static_cast<PF_SmartRenderExtra*>(extra), frame) == PF_Err_NONE) {
        buildFrameSettings(in, frame, frameTiming(in->current_time, in->time_step, in->time_scale), *gSnapshot);
    }
    return effectMain(cmd, in, out, params, output, extra);
}

constexpr A_u_long kTimeScale = 30;
// Popup values of Light Source and Key Light, and of Motion Blur.
constexpr A_long kLightOff = 1, kLightAuto = 2, kLight3 = 5, kLight4 = 6;
constexpr A_long kBlurEffectOnly = 2, kBlurCompSettings = 3;
// The shutter angle as PF_InData carries it: 16.16, 1.0 = 360 degrees.
constexpr PF_Fixed shutterDegrees(int degrees) { return PF_Fixed(int64_t(degrees) * 65536 / 360); }

class CameraLights : public ::testing::Test {
protected:
    void SetUp() override {
        processState().aegpPluginId = host.builtinSuites().pluginIdToGive;
        gSnapshot = &snapshot;
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        host.settings().timeScale = comp->timeScale = kTimeScale;
        host.settings().timeStep = comp->timeStep = 1;
        host.setComposition(comp);
        instance = &host.addInstance(64, 36);
    }
    void TearDown() override {
        gSnapshot = nullptr;
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
        if (type == LayerType::Camera) {
            layer.pointOfInterest.set({position.x + 20, position.y - 10, 0});
            layer.zoom.set(-position.z);
        }
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
        std::memset(&snapshot, 0, sizeof snapshot);
        minihost::World output(16, 9, 8);
        EXPECT_EQ(host.renderFrame(*instance, output), PF_Err_NONE);
        return snapshot;
    }
    void expectTrack(const FrameSettings& fs, int track, int frame, Vec3 p) {
        const int i = track * kMaxHistoryFrames + frame;
        EXPECT_EQ(std::tuple(fs.lightTrackX[i], fs.lightTrackY[i], fs.lightTrackZ[i]),
                  std::tuple(float(p.x), float(p.y), float(p.z))) << "track " << track << " frame " << frame;
    }

    FrameSettings snapshot{};
    minihost::Host host{&inProcessEffect};
    std::shared_ptr<Composition> comp = std::make_shared<Composition>();
    minihost::Instance* instance = nullptr;
};

// Light Source and Key Light on Auto follow the topmost lights above the effect, Light K the K-th.
TEST_F(CameraLights, LightsAreTheFourTopmostAboveTheEffect) {
    Layer bright;
    bright.type = LayerType::Light;
    bright.position.set({10, 20, 30});
    bright.lightIntensity.set(250);
    bright.lightColor = {0.25, 0.5, 0.75};
    const int l1 = comp->addLayer(bright).id;
    add(LayerType::Solid);  // other kinds of layer between the lights do not count
    const int l2 = add(LayerType::Light, {40, 50, 60});
    add(LayerType::Camera, {0, 0, -800});
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

// The light-track digest, spelled out here: FNV-1a 32 over 64 sampled frames j (n - 1) / 63 of each
// track, x, y, z as float bytes, the digest of one track seeding the next.
uint32_t expectedLightTrackDigest(const std::vector<std::vector<Vec3>>& tracks) {
    uint32_t h = 2166136261u;
    for (const std::vector<Vec3>& track : tracks) {
        for (int64_t j = 0; j < 64; ++j) {
            const Vec3& p = track[size_t(j * (int64_t(track.size()) - 1) / 63)];
            for (float v : {float(p.x), float(p.y), float(p.z)}) {
                unsigned char bytes[4];
                std::memcpy(bytes, &v, 4);
                for (unsigned char b : bytes) h = (h ^ b) * 16777619u;
            }
        }
    }
    return h;
}

// The emitter rides on track 0 only, but a volume source sits on every track: moving any of the
// four lights moves fire, so the simulation must start again.
TEST_F(CameraLights, EveryLightTrackCountsInTheSimulationKey) {
    const Vec3 home[4] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    int ids[4];
    for (int k = 0; k < 4; ++k) ids[k] = add(LayerType::Light, home[k]);
    add(LayerType::Effect);
    instance->setPopup(kParamLightSource, kLightAuto);
    constexpr A_long kFrame = 5;
    const FrameSettings& before = render(kFrame);
    ASSERT_EQ(std::tuple(before.lightTrackCount, before.lightTrackFrames), std::tuple(4, kFrame + 1));
    std::vector<std::vector<Vec3>> tracks(4);
    for (int k = 0; k < 4; ++k) tracks[size_t(k)].assign(kFrame + 1, home[k]);
    EXPECT_EQ(before.lightTrackHash, expectedLightTrackDigest(tracks));
    const uint64_t homeKey = simulationKey(before);
    for (int moved = 0; moved < 4; ++moved) {
        SCOPED_TRACE("light " + std::to_string(moved + 1) + " moved");
        const Vec3 away{home[moved].x + 5, home[moved].y, home[moved].z};
        comp->layerById(ids[moved])->position.set(away);
        const FrameSettings& after = render(kFrame);
        std::vector<std::vector<Vec3>> movedTracks = tracks;
        movedTracks[size_t(moved)].assign(kFrame + 1, away);
        EXPECT_EQ(after.lightTrackHash, expectedLightTrackDigest(movedTracks));
        EXPECT_NE(simulationKey(after), homeKey);
        comp->layerById(ids[moved])->position.set(home[moved]);
    }
    // Back home, the key is the first one again: the difference came from the move alone.
    EXPECT_EQ(simulationKey(render(kFrame)), homeKey);
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

// A light, a camera and Comp Settings blur: what each host, plug-in id or withheld suite still gives.
TEST_F(CameraLights, HostsPluginIdAndWithheldSuites) {
    add(LayerType::Light, {1, 2, 3});
    add(LayerType::Camera, {100, 50, -700});
    add(LayerType::Effect);
    instance->setPopup(kParamLightSource, kLightAuto);
    instance->setPopup(kParamKeyLight, kLightAuto);
    instance->setPopup(kParamMotionBlur, kBlurCompSettings);
    comp->effectLayer()->hasMotionBlur = comp->hasMotionBlur = true;
    host.settings().shutterAngle = shutterDegrees(180);
    struct Case {
        const char* what;  // a withheld suite, or "premiere", "no id", "" for none
        int32 version;
        bool hasLights, hasKeyLight, hasCamera, hasBlur;
    };
    const Case cases[] = {
        {"", 0, true, true, true, true},
        {"premiere", 0, false, false, false, false},
        {"no id", 0, false, false, true, false},  // the camera needs no plug-in id
        {kAEGPLayerSuite, kAEGPLayerSuiteVersion8, false, false, true, false},
        {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, false, false, false, false},
        {kAEGPStreamSuite, kAEGPStreamSuiteVersion6, true, false, true, true},
        {kAEGPCompSuite, kAEGPCompSuiteVersion11, true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.suites().restoreAll();
        const std::string what = c.what;
        host.settings().poseAsPremierePro(what == "premiere");
        processState().aegpPluginId = what == "no id" ? 0 : host.builtinSuites().pluginIdToGive;
        if (c.version) host.suites().withhold(c.what, c.version);
        const FrameSettings& fs = render(1);
        EXPECT_EQ(fs.lightTrackCount, c.hasLights ? 1 : 0);
        EXPECT_EQ(fs.keyActive, c.hasKeyLight ? 1 : 0);
        if (!c.hasKeyLight) {
            EXPECT_EQ(std::tuple(fs.keyColorG, fs.keyIntensity), std::tuple(1.0f, 1.0f));
        }
        EXPECT_EQ(fs.cameraValid, c.hasCamera ? 1 : 0);
        EXPECT_EQ(fs.motionBlurScale, c.hasBlur ? 1.0f : 0.0f);
        if (c.version) {
            EXPECT_GT(host.suites().failedAcquireCount(c.what, c.version), 0);
        }
        EXPECT_TRUE(host.suites().unbalanced().empty());
    }
}

// Comp Settings blur takes the composition's shutter, and needs both the layer's and the
// composition's switch; Effect Only ignores the composition.
TEST_F(CameraLights, CompSettingsBlurNeedsBothSwitches) {
    add(LayerType::Effect);
    instance->setPopup(kParamMotionBlur, kBlurCompSettings);
    comp->effectLayer()->hasMotionBlur = comp->hasMotionBlur = true;
    host.settings().shutterAngle = shutterDegrees(90);
    EXPECT_FLOAT_EQ(render(0).motionBlurScale, 0.5f);
    host.settings().shutterAngle = shutterDegrees(270);
    EXPECT_FLOAT_EQ(render(0).motionBlurScale, 1.5f);
    comp->effectLayer()->hasMotionBlur = false;
    EXPECT_EQ(render(0).motionBlurScale, 0.0f);
    comp->effectLayer()->hasMotionBlur = true;
    comp->hasMotionBlur = false;
    EXPECT_EQ(render(0).motionBlurScale, 0.0f);
    instance->setPopup(kParamMotionBlur, kBlurEffectOnly);
    EXPECT_EQ(render(0).motionBlurScale, 1.0f);
}

TEST_F(CameraLights, CameraLandsRowMajorAtTheConvertedTimeAndEntersTheCacheIdentity) {
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

    // Pre-render mixes the time, then the 16 matrix floats, then the distance.
    const minihost::PreRenderResult pre = host.preRender(*instance);
    ASSERT_EQ(pre.guidMixes.size(), 3u);
    const A_long time = frame;
    ASSERT_EQ(pre.guidMixes[0].size(), 4u);
    EXPECT_EQ(std::memcmp(pre.guidMixes[0].data(), &time, 4), 0);
    ASSERT_EQ(pre.guidMixes[1].size(), 64u);
    EXPECT_EQ(std::memcmp(pre.guidMixes[1].data(), fs.cameraMatrix, 64), 0);
    float distance;
    ASSERT_EQ(pre.guidMixes[2].size(), 4u);
    std::memcpy(&distance, pre.guidMixes[2].data(), 4);
    EXPECT_EQ(distance, fs.cameraDistance);
    host.suites().withhold(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
    EXPECT_EQ(host.preRender(*instance).guidMixes, std::vector<std::vector<std::uint8_t>>{pre.guidMixes[0]});
}

}  // namespace
}  // namespace cindel
