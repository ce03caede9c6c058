// The camera, the key light, the light tracks and the Comp Settings motion-blur scale as the frame
// driver reads them from minihost's composition: which lights are found and in what order, the
// times each read asks for (tracks converted to composition time, the key light not, the camera
// converted), colour and intensity, the host and plug-in id conditions, withheld suites, and the
// camera's bytes in pre-render's cache identity.
//
// The effect's core runs in this process behind minihost, so each smart render can also build the
// frame's FrameSettings for the test to read. Global set-up is never sent: the GPU stays off (every
// frame gets the no-GPU fill) and the AEGP plug-in id is set by the test.
#include "frame/camera_lights.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "frame/render_frame.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost/world.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using minihost::Composition;
using minihost::Layer;
using minihost::LayerType;
using minihost::Vec3;

// Where the in-process effect puts the snapshot of each smart render; null: none is built.
FrameSettings* gSnapshot = nullptr;

PF_Err inProcessEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER && gSnapshot) {
        FrameCheckout frame;
        if (checkoutFrame(in, static_cast<PF_SmartRenderExtra*>(extra), frame) == PF_Err_NONE) {
            buildFrameSettings(in, frame, frameTiming(in->current_time, in->time_step, in->time_scale), *gSnapshot);
        }
    }
    return effectMain(cmd, in, out, params, output, extra);
}

constexpr A_long kPluginId = 42;
constexpr A_u_long kTimeScale = 30;
// Popup values of Light Source and Key Light.
constexpr A_long kLightOff = 1, kLightAuto = 2, kLight1 = 3, kLight2 = 4, kLight3 = 5, kLight4 = 6;
// Motion Blur popup values.
constexpr A_long kBlurEffectOnly = 2, kBlurCompSettings = 3;
// The shutter angle as PF_InData carries it: 16.16 fixed point, 1.0 = 360 degrees.
constexpr PF_Fixed shutterDegrees(int degrees) {
    return PF_Fixed(int64_t(degrees) * 65536 / 360);
}

class CameraLights : public ::testing::Test {
protected:
    void SetUp() override {
        processState().aegpPluginId = kPluginId;
        snapshot = std::make_unique<FrameSettings>();
        gSnapshot = snapshot.get();
        host = std::make_unique<minihost::Host>(&inProcessEffect);
        ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
        host->settings().timeScale = kTimeScale;
        host->settings().timeStep = 1;

        comp = std::make_shared<Composition>();
        comp->timeScale = kTimeScale;
        comp->timeStep = 1;
        host->setComposition(comp);
        instance = &host->addInstance(64, 36);
    }
    void TearDown() override {
        gSnapshot = nullptr;
        processState().aegpPluginId = 0;
    }

    // The effect's own layer; lights and cameras added before it lie above it in the stack.
    int addEffectLayer(double startSeconds = 0) {
        Layer layer;
        layer.type = LayerType::Effect;
        layer.name = "Fire";
        layer.startSeconds = startSeconds;
        layer.width = 64;
        layer.height = 36;
        const int id = comp->addLayer(layer).id;
        instance->setLayerId(id);
        return id;
    }
    int addLight(Vec3 position, double intensityPercent = 100, minihost::Rgb color = {1, 1, 1}) {
        Layer layer;
        layer.type = LayerType::Light;
        layer.name = "Light " + std::to_string(comp->layerCount() + 1);
        layer.position.set(position);
        layer.lightIntensity.set(intensityPercent);
        layer.lightColor = color;
        return comp->addLayer(layer).id;
    }
    int addSolid() {
        Layer layer;
        layer.type = LayerType::Solid;
        layer.name = "Solid";
        layer.width = layer.height = 10;
        return comp->addLayer(layer).id;
    }
    int addCamera(Vec3 position, Vec3 pointOfInterest, double zoom) {
        Layer layer;
        layer.type = LayerType::Camera;
        layer.name = "Camera";
        layer.position.set(position);
        layer.pointOfInterest.set(pointOfInterest);
        layer.zoom.set(zoom);
        return comp->addLayer(layer).id;
    }
    Vec3 worldPosition(int layerId, double compSeconds) const {
        return comp->layerToWorld(*comp->layerById(layerId), compSeconds).translation();
    }

    // Renders host frame `frame` and returns the snapshot the frame was built from.
    const FrameSettings& render(A_long frame) {
        host->settings().setFrame(frame);
        std::memset(snapshot.get(), 0, sizeof(FrameSettings));
        minihost::World output(16, 9, 8);
        renderResult = host->renderFrame(*instance, output);
        return *snapshot;
    }

    std::unique_ptr<FrameSettings> snapshot;
    std::unique_ptr<minihost::Host> host;
    std::shared_ptr<Composition> comp;
    minihost::Instance* instance = nullptr;
    PF_Err renderResult = -1;
};

void expectTrackAt(const FrameSettings& fs, int track, int frame, Vec3 expected) {
    const int i = track * kMaxHistoryFrames + frame;
    EXPECT_FLOAT_EQ(fs.lightTrackX[i], float(expected.x)) << "track " << track << " frame " << frame;
    EXPECT_FLOAT_EQ(fs.lightTrackY[i], float(expected.y)) << "track " << track << " frame " << frame;
    EXPECT_FLOAT_EQ(fs.lightTrackZ[i], float(expected.z)) << "track " << track << " frame " << frame;
}

// ---------------------------------------------------------------------------------------------
// Which lights.

TEST_F(CameraLights, AutoWithSixLightsFollowsTheFourTopmost) {
    // Other kinds of layer between the lights do not count.
    const int l1 = addLight({10, 20, 30});
    addSolid();
    const int l2 = addLight({40, 50, 60});
    addCamera({0, 0, -800}, {0, 0, 0}, 800);
    const int l3 = addLight({70, 80, 90});
    const int l4 = addLight({100, 110, 120});
    addLight({130, 140, 150});
    addEffectLayer();
    addLight({160, 170, 180});
    instance->setPopup(kParamLightSource, kLightAuto);

    const FrameSettings& fs = render(3);
    ASSERT_EQ(renderResult, PF_Err_NONE);
    ASSERT_EQ(fs.lightTrackCount, 4);
    EXPECT_EQ(fs.lightTrackFrames, 4);  // frames 0 ... 3
    const int ids[] = {l1, l2, l3, l4};
    for (int t = 0; t < 4; ++t) {
        const Vec3 p = worldPosition(ids[t], 0);
        EXPECT_FLOAT_EQ(fs.lightCurrentX[t], float(p.x)) << t;
        EXPECT_FLOAT_EQ(fs.lightCurrentY[t], float(p.y)) << t;
        EXPECT_FLOAT_EQ(fs.lightCurrentZ[t], float(p.z)) << t;
        for (int f = 0; f < 4; ++f) expectTrackAt(fs, t, f, p);
    }
    EXPECT_FLOAT_EQ(fs.lightCurrentX[0], 10.0f);  // the model puts a light where its position says
    EXPECT_FLOAT_EQ(fs.lightCurrentX[3], 100.0f);
    // The emitter follows track 0, and the tracks replace the Source Position history.
    EXPECT_FLOAT_EQ(fs.sourcePosition.x, 10.0f);
    EXPECT_FLOAT_EQ(fs.sourcePosition.y, 20.0f);
    EXPECT_FLOAT_EQ(fs.sourcePosition.z, 30.0f);
    EXPECT_EQ(fs.trajectoryCount, 0);
    EXPECT_NE(fs.lightTrackHash, 0u);
    EXPECT_TRUE(host->suites().unbalanced().empty());
}

TEST_F(CameraLights, MissingLightKFollowsTheFirstLight) {
    const int first = addLight({11, 12, 13});
    const int second = addLight({21, 22, 23});
    addEffectLayer();

    instance->setPopup(kParamLightSource, kLight3);
    const FrameSettings& fs = render(0);
    ASSERT_EQ(fs.lightTrackCount, 1);
    EXPECT_EQ(fs.lightTrackFrames, 1);
    expectTrackAt(fs, 0, 0, worldPosition(first, 0));

    instance->setPopup(kParamLightSource, kLight2);
    const FrameSettings& fs2 = render(0);
    ASSERT_EQ(fs2.lightTrackCount, 1);
    expectTrackAt(fs2, 0, 0, worldPosition(second, 0));
}

TEST_F(CameraLights, LightSourceOffOrNoLightsLeavesTheSourcePosition) {
    addLight({11, 12, 13});
    addEffectLayer();
    instance->setPopup(kParamLightSource, kLightOff);
    instance->setPoint3D(kParamSourcePosition, 5, 6, 7);
    const FrameSettings& off = render(2);
    EXPECT_EQ(off.lightTrackCount, 0);
    EXPECT_EQ(off.trajectoryCount, 3);
    EXPECT_FLOAT_EQ(off.sourcePosition.x, 5.0f);

    Composition empty;
    *comp = empty;
    addEffectLayer();
    instance->setPopup(kParamLightSource, kLightAuto);
    const FrameSettings& none = render(2);
    EXPECT_EQ(none.lightTrackCount, 0);
    EXPECT_EQ(none.trajectoryCount, 3);
    EXPECT_FLOAT_EQ(none.sourcePosition.y, 6.0f);
}

// The light-track digest, spelled out here: FNV-1a 32 over 64 sampled frames of each track, the
// digest of one track seeding the next.
uint32_t expectedLightTrackDigest(const std::vector<std::vector<Vec3>>& tracks) {
    uint32_t h = 2166136261u;
    auto feed = [&h](float v) {
        unsigned char bytes[4];
        std::memcpy(bytes, &v, 4);
        for (unsigned char b : bytes) h = (h ^ b) * 16777619u;
    };
    for (const std::vector<Vec3>& track : tracks) {
        const int64_t n = int64_t(track.size());
        for (int64_t j = 0; j < 64; ++j) {
            const Vec3& p = track[size_t(j * (n - 1) / 63)];
            feed(float(p.x));
            feed(float(p.y));
            feed(float(p.z));
        }
    }
    return h;
}

TEST_F(CameraLights, EveryLightTrackCountsInTheSimulationKey) {
    // The emitter rides on track 0 only, but a volume source sits on every track: moving any of
    // the four lights moves fire, so the simulation must start again.
    const Vec3 home[4] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    int ids[4];
    for (int k = 0; k < 4; ++k) ids[k] = addLight(home[k]);
    addEffectLayer();
    instance->setPopup(kParamLightSource, kLightAuto);
    constexpr A_long kFrame = 5;

    const FrameSettings& before = render(kFrame);
    ASSERT_EQ(before.lightTrackCount, 4);
    ASSERT_EQ(before.lightTrackFrames, kFrame + 1);
    std::vector<std::vector<Vec3>> tracks(4);
    for (int k = 0; k < 4; ++k) tracks[size_t(k)].assign(kFrame + 1, home[k]);
    EXPECT_EQ(before.lightTrackHash, expectedLightTrackDigest(tracks));
    const uint32_t homeDigest = before.lightTrackHash;
    const uint64_t homeKey = simulationKey(before);

    for (int moved = 0; moved < 4; ++moved) {
        SCOPED_TRACE("light " + std::to_string(moved + 1) + " moved");
        const Vec3 away{home[moved].x + 5, home[moved].y, home[moved].z};
        comp->layerById(ids[moved])->position.set(away);
        const FrameSettings& after = render(kFrame);
        ASSERT_EQ(after.lightTrackCount, 4);
        std::vector<std::vector<Vec3>> movedTracks = tracks;
        movedTracks[size_t(moved)].assign(kFrame + 1, away);
        EXPECT_EQ(after.lightTrackHash, expectedLightTrackDigest(movedTracks));
        EXPECT_NE(after.lightTrackHash, homeDigest);
        EXPECT_NE(simulationKey(after), homeKey);
        comp->layerById(ids[moved])->position.set(home[moved]);
    }
    // Back home, the key is the first one again: the difference came from the move alone.
    EXPECT_EQ(simulationKey(render(kFrame)), homeKey);
}

// ---------------------------------------------------------------------------------------------
// The key light.

TEST_F(CameraLights, KeyLightPicksAutoAndLightKAmongTheFourTopmost) {
    const int l1 = addLight({1, 2, 3});
    addLight({4, 5, 6});
    addLight({7, 8, 9});
    const int l4 = addLight({10, 11, 12});
    addLight({13, 14, 15});
    addEffectLayer();

    for (A_long choice : {kLightAuto, kLight1}) {
        instance->setPopup(kParamKeyLight, choice);
        const FrameSettings& fs = render(0);
        ASSERT_EQ(fs.keyActive, 1) << choice;
        const Vec3 p = worldPosition(l1, 0);
        EXPECT_FLOAT_EQ(fs.keyLightX, float(p.x));
        EXPECT_FLOAT_EQ(fs.keyLightY, float(p.y));
        EXPECT_FLOAT_EQ(fs.keyLightZ, float(p.z));
    }
    instance->setPopup(kParamKeyLight, kLight4);
    const FrameSettings& fs = render(0);
    ASSERT_EQ(fs.keyActive, 1);
    EXPECT_FLOAT_EQ(fs.keyLightX, float(worldPosition(l4, 0).x));

    instance->setPopup(kParamKeyLight, kLightOff);
    EXPECT_EQ(render(0).keyActive, 0);
}

TEST_F(CameraLights, KeyLightTwoWithOneLightIsInactive) {
    addLight({1, 2, 3}, 250, {0.2, 0.4, 0.6});
    addEffectLayer();
    instance->setPopup(kParamKeyLight, kLight2);
    const FrameSettings& fs = render(0);
    EXPECT_EQ(fs.keyActive, 0);
    EXPECT_EQ(fs.keyLightX, 0.0f);
    EXPECT_EQ(fs.keyColorR, 1.0f);
    EXPECT_EQ(fs.keyColorB, 1.0f);
    EXPECT_EQ(fs.keyIntensity, 1.0f);
}

TEST_F(CameraLights, KeyLightColourAndIntensity) {
    addLight({1, 2, 3}, 250, {0.25, 0.5, 0.75});
    addEffectLayer();
    instance->setPopup(kParamKeyLight, kLightAuto);
    const FrameSettings& fs = render(0);
    ASSERT_EQ(fs.keyActive, 1);
    EXPECT_FLOAT_EQ(fs.keyIntensity, 2.5f);
    EXPECT_FLOAT_EQ(fs.keyColorR, 0.25f);
    EXPECT_FLOAT_EQ(fs.keyColorG, 0.5f);
    EXPECT_FLOAT_EQ(fs.keyColorB, 0.75f);
}

// ---------------------------------------------------------------------------------------------
// Times.

TEST_F(CameraLights, AnimatedLightTrackFollowsEveryFrame) {
    Layer light;
    light.type = LayerType::Light;
    light.name = "Moving";
    light.position.addKey(0.0, {0, 0, 0});
    light.position.addKey(1.0, {300, -150, 60});
    const int id = comp->addLayer(light).id;
    addEffectLayer();
    instance->setPopup(kParamLightSource, kLight1);

    const int frame = 12;
    const FrameSettings& fs = render(frame);
    ASSERT_EQ(fs.lightTrackCount, 1);
    ASSERT_EQ(fs.lightTrackFrames, frame + 1);
    for (int f = 0; f <= frame; ++f) expectTrackAt(fs, 0, f, worldPosition(id, double(f) / kTimeScale));
    EXPECT_FLOAT_EQ(fs.lightTrackX[0], 0.0f);
    EXPECT_FLOAT_EQ(fs.lightCurrentX[0], 300.0f * frame / kTimeScale);
}

TEST_F(CameraLights, ShiftedEffectLayerConvertsTheTracksButNotTheKeyLight) {
    Layer light;
    light.type = LayerType::Light;
    light.name = "Moving";
    light.position.addKey(0.0, {0, 0, 0});
    light.position.addKey(2.0, {600, 300, -200});
    const int id = comp->addLayer(light).id;
    const double start = 0.5;  // 15 frames into the composition
    addEffectLayer(start);
    instance->setPopup(kParamLightSource, kLightAuto);
    instance->setPopup(kParamKeyLight, kLightAuto);

    const int frame = 10;
    const FrameSettings& fs = render(frame);
    ASSERT_EQ(fs.lightTrackCount, 1);
    for (int f = 0; f <= frame; ++f) expectTrackAt(fs, 0, f, worldPosition(id, start + double(f) / kTimeScale));
    ASSERT_EQ(fs.keyActive, 1);
    const Vec3 unconverted = worldPosition(id, double(frame) / kTimeScale);
    EXPECT_FLOAT_EQ(fs.keyLightX, float(unconverted.x));
    EXPECT_FLOAT_EQ(fs.keyLightZ, float(unconverted.z));
    EXPECT_NE(fs.keyLightX, fs.lightCurrentX[0]);  // the two reads see different moments
}

// ---------------------------------------------------------------------------------------------
// Hosts, plug-in id and suites.

class CameraLightsScene : public CameraLights {
protected:
    void SetUp() override {
        CameraLights::SetUp();
        addLight({1, 2, 3});
        addCamera({100, 50, -700}, {120, 40, 0}, 700);
        addEffectLayer();
        instance->setPopup(kParamLightSource, kLightAuto);
        instance->setPopup(kParamKeyLight, kLightAuto);
        instance->setPopup(kParamMotionBlur, kBlurCompSettings);
        comp->effectLayer()->hasMotionBlur = true;
        comp->hasMotionBlur = true;
        host->settings().shutterAngle = shutterDegrees(180);
    }
};

TEST_F(CameraLightsScene, EverythingIsReadOnAnOrdinaryHost) {
    const FrameSettings& fs = render(1);
    EXPECT_EQ(renderResult, PF_Err_NONE);
    EXPECT_EQ(fs.lightTrackCount, 1);
    EXPECT_EQ(fs.keyActive, 1);
    EXPECT_EQ(fs.cameraValid, 1);
    EXPECT_FLOAT_EQ(fs.motionBlurScale, 1.0f);
}

TEST_F(CameraLightsScene, PremiereGivesNoLightsAndNoCamera) {
    host->settings().poseAsPremierePro();
    const FrameSettings& fs = render(1);
    EXPECT_EQ(renderResult, PF_Err_NONE);
    EXPECT_EQ(fs.lightTrackCount, 0);
    EXPECT_EQ(fs.keyActive, 0);
    EXPECT_EQ(fs.cameraValid, 0);
    EXPECT_EQ(fs.motionBlurScale, 0.0f);
}

TEST_F(CameraLightsScene, WithoutAPluginIdTheCameraIsStillRead) {
    processState().aegpPluginId = 0;
    const FrameSettings& fs = render(1);
    EXPECT_EQ(renderResult, PF_Err_NONE);
    EXPECT_EQ(fs.lightTrackCount, 0);
    EXPECT_EQ(fs.keyActive, 0);
    EXPECT_EQ(fs.motionBlurScale, 0.0f);
    EXPECT_EQ(fs.cameraValid, 1);
}

TEST_F(CameraLightsScene, WithheldSuitesKeepTheDefaultsAndTheFrameRenders) {
    struct Case {
        const char* name;
        int32 version;
        bool hasLights, hasKeyLight, hasCamera, hasBlur;
    };
    const Case cases[] = {
        {kAEGPLayerSuite, kAEGPLayerSuiteVersion8, false, false, true, false},
        {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, false, false, false, false},
        {kAEGPStreamSuite, kAEGPStreamSuiteVersion6, true, false, true, true},
        {kAEGPCompSuite, kAEGPCompSuiteVersion11, true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host->suites().restoreAll();
        host->suites().resetCounts();
        host->suites().withhold(c.name, c.version);
        const FrameSettings& fs = render(1);
        EXPECT_EQ(renderResult, PF_Err_NONE);
        EXPECT_EQ(fs.lightTrackCount, c.hasLights ? 1 : 0);
        EXPECT_EQ(fs.keyActive, c.hasKeyLight ? 1 : 0);
        if (!c.hasKeyLight) {
            EXPECT_EQ(fs.keyColorG, 1.0f);
            EXPECT_EQ(fs.keyIntensity, 1.0f);
        }
        EXPECT_EQ(fs.cameraValid, c.hasCamera ? 1 : 0);
        EXPECT_EQ(fs.motionBlurScale, c.hasBlur ? 1.0f : 0.0f);
        EXPECT_GT(host->suites().failedAcquireCount(c.name, c.version), 0);
        EXPECT_TRUE(host->suites().unbalanced().empty());
    }
}

// ---------------------------------------------------------------------------------------------
// Motion blur from the composition.

TEST_F(CameraLightsScene, CompSettingsBlurNeedsBothSwitches) {
    host->settings().shutterAngle = shutterDegrees(90);
    EXPECT_FLOAT_EQ(render(0).motionBlurScale, 0.5f);
    host->settings().shutterAngle = shutterDegrees(270);
    EXPECT_FLOAT_EQ(render(0).motionBlurScale, 1.5f);

    comp->effectLayer()->hasMotionBlur = false;
    EXPECT_EQ(render(0).motionBlurScale, 0.0f);
    comp->effectLayer()->hasMotionBlur = true;
    comp->hasMotionBlur = false;
    EXPECT_EQ(render(0).motionBlurScale, 0.0f);

    // Effect Only ignores the composition.
    instance->setPopup(kParamMotionBlur, kBlurEffectOnly);
    EXPECT_EQ(render(0).motionBlurScale, 1.0f);
}

// ---------------------------------------------------------------------------------------------
// The camera.

TEST_F(CameraLights, CameraLayerLandsRowMajorAtTheConvertedTime) {
    Layer camera;
    camera.type = LayerType::Camera;
    camera.name = "Camera";
    camera.position.addKey(0.0, {480, 270, -1200});
    camera.position.addKey(1.0, {300, 200, -900});
    camera.pointOfInterest.set({500, 260, 0});
    camera.zoom.set(1100);
    comp->addLayer(camera);
    const double start = 0.2;
    addEffectLayer(start);

    const int frame = 9;
    const FrameSettings& fs = render(frame);
    ASSERT_EQ(fs.cameraValid, 1);
    const minihost::EffectCamera expected = comp->effectCamera(start + double(frame) / kTimeScale);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(fs.cameraMatrix[r * 4 + c], float(expected.matrix.m[r][c])) << r << c;
    }
    EXPECT_EQ(fs.cameraDistance, float(expected.distance));
    EXPECT_EQ(fs.cameraPlaneWidth, expected.planeWidth);
    EXPECT_EQ(fs.cameraPlaneHeight, expected.planeHeight);
    // Not the camera of the unconverted time.
    const minihost::EffectCamera early = comp->effectCamera(double(frame) / kTimeScale);
    EXPECT_NE(fs.cameraMatrix[12], float(early.matrix.m[3][0]));
}

TEST_F(CameraLights, CameraEntersTheCacheIdentityAfterTheTime) {
    addCamera({400, 250, -1000}, {480, 270, 0}, 1000);
    addEffectLayer();
    host->settings().setFrame(7);
    const minihost::PreRenderResult pre = host->preRender(*instance);
    ASSERT_EQ(pre.result, PF_Err_NONE);
    ASSERT_EQ(pre.guidMixes.size(), 3u);
    const A_long time = 7;
    ASSERT_EQ(pre.guidMixes[0].size(), 4u);
    EXPECT_EQ(std::memcmp(pre.guidMixes[0].data(), &time, 4), 0);

    const minihost::EffectCamera camera = comp->effectCamera(7.0 / kTimeScale);
    ASSERT_EQ(pre.guidMixes[1].size(), 64u);
    float matrix[16];
    std::memcpy(matrix, pre.guidMixes[1].data(), 64);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(matrix[i], float(camera.matrix.m[i / 4][i % 4])) << i;
    ASSERT_EQ(pre.guidMixes[2].size(), 4u);
    float distance;
    std::memcpy(&distance, pre.guidMixes[2].data(), 4);
    EXPECT_EQ(distance, float(camera.distance));
    EXPECT_GT(distance, 0.0f);

    host->suites().withhold(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
    const minihost::PreRenderResult timeOnly = host->preRender(*instance);
    ASSERT_EQ(timeOnly.result, PF_Err_NONE);
    ASSERT_EQ(timeOnly.guidMixes.size(), 1u);
    EXPECT_EQ(timeOnly.guidMixes[0], pre.guidMixes[0]);
}

}  // namespace
}  // namespace cindel
