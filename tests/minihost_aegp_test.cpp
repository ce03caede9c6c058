// minihost's AEGP suites, called as the effect calls them from inside a command of a fake effect:
// keys the effect writes read back at later times, and the composition's layers, streams and camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "AE_GeneralPlug.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost_fake.h"

namespace minihost {
namespace {

constexpr PF_ParamIndex kProgress = 1;  // the fake's one parameter: a float slider 0 … 100
constexpr AEGP_PluginID kPluginId = 42;

PF_Err registerProgress(PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
    out->num_params = 2;
    return addFakeParam(in, PF_Param_FLOAT_SLIDER, "Progress", [](PF_ParamDef& def) {
        def.u.fs_d.valid_max = def.u.fs_d.slider_max = 100.0f;
        def.u.fs_d.value = def.u.fs_d.dephault = 10.0f;
    });
}

struct Suites : HeldSuites {
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_StreamSuite2* effectStream = nullptr;  // the version the effect edits its keys with
    const AEGP_StreamSuite6* stream = nullptr;
    const AEGP_EffectSuite4* effect = nullptr;
    const AEGP_KeyframeSuite4* keys = nullptr;
    const AEGP_LayerSuite8* layer = nullptr;
    const AEGP_CompSuite11* comp = nullptr;

    explicit Suites(PF_InData* in) : HeldSuites(in) {
        acquire(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion2, &effectStream);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, &stream);
        acquire(kAEGPEffectSuite, kAEGPEffectSuiteVersion4, &effect);
        acquire(kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4, &keys);
        acquire(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &layer);
        acquire(kAEGPCompSuite, kAEGPCompSuiteVersion11, &comp);
    }
    AEGP_LayerH effectLayer() const {
        AEGP_LayerH layerH = nullptr;
        EXPECT_EQ(pf->AEGP_GetEffectLayer(in_->effect_ref, &layerH), A_Err_NONE);
        return layerH;
    }
    AEGP_CompH compOf(AEGP_LayerH layerH) const {
        AEGP_CompH compH = nullptr;
        EXPECT_EQ(layer->AEGP_GetLayerParentComp(layerH, &compH), A_Err_NONE);
        return compH;
    }
    AEGP_LayerH layerAt(A_long index) const {
        AEGP_LayerH layerH = nullptr;
        EXPECT_EQ(layer->AEGP_GetCompLayerByIndex(compOf(effectLayer()), index, &layerH), A_Err_NONE);
        return layerH;
    }
    AEGP_StreamVal2 streamValue(AEGP_LayerH layerH, AEGP_LayerStream which, AEGP_LTimeMode mode, A_Time time,
                                AEGP_StreamType expectedType) const {
        AEGP_StreamVal2 value{};
        AEGP_StreamType type = AEGP_StreamType_NO_DATA;
        EXPECT_EQ(stream->AEGP_GetLayerStreamValue(layerH, which, mode, &time, false, &value, &type), A_Err_NONE);
        EXPECT_EQ(type, expectedType);
        return value;
    }
};

// As the effect's preset code does: the stream of one of its parameters, `edit`ed, and given back.
void editStream(PF_InData* in, PF_ParamIndex index, const std::function<void(const Suites&, AEGP_StreamRefH)>& edit) {
    Suites s(in);
    AEGP_EffectRefH effect = nullptr;
    ASSERT_EQ(s.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect), A_Err_NONE);
    AEGP_StreamRefH stream = nullptr;
    ASSERT_EQ(s.effectStream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, index, &stream), A_Err_NONE);
    edit(s, stream);
    EXPECT_EQ(s.effectStream->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(s.effect->AEGP_DisposeEffect(effect), A_Err_NONE);
}

// Replaces the keys of a stream by (seconds, value) pairs with one interpolation.
void writeKeys(const Suites& s, AEGP_StreamRefH stream, AEGP_LTimeMode mode,
               const std::vector<std::pair<A_Time, double>>& keys, AEGP_KeyframeInterpolationType interp) {
    A_long count = 0;
    s.keys->AEGP_GetStreamNumKFs(stream, &count);
    for (A_long i = count - 1; i >= 0; --i) EXPECT_EQ(s.keys->AEGP_DeleteKeyframe(stream, i), A_Err_NONE);
    AEGP_AddKeyframesInfoH add = nullptr;
    ASSERT_EQ(s.keys->AEGP_StartAddKeyframes(stream, &add), A_Err_NONE);
    for (const auto& [time, v] : keys) {
        A_long index = -1;
        s.keys->AEGP_AddKeyframes(add, mode, &time, &index);
        AEGP_StreamValue2 value{};
        value.streamH = stream;
        value.val.one_d = v;
        s.keys->AEGP_SetAddKeyframe(add, index, &value);
    }
    EXPECT_EQ(s.keys->AEGP_EndAddKeyframes(true, add), A_Err_NONE);
    for (A_long i = 0; i < A_long(keys.size()); ++i)
        EXPECT_EQ(s.keys->AEGP_SetKeyframeInterpolation(stream, i, interp, interp), A_Err_NONE);
}

class MinihostAegpTest : public FakeEffectTest {
protected:
    void SetUp() override {
        FakeEffectTest::SetUp();
        fake.handlers[PF_Cmd_PARAMS_SETUP] = &registerProgress;
        ASSERT_EQ(host.start(), PF_Err_NONE);
        instance = &host.addInstance(64, 48);
    }

    // Read back through checkout_param, as the effect reads later frames.
    double progressAt(A_long time, A_u_long scale) {
        PF_ParamDef def{};
        inCommand([&](PF_InData* in) {
            ASSERT_EQ(PF_CHECKOUT_PARAM(in, kProgress, time, 1, scale, &def), PF_Err_NONE);
            PF_CHECKIN_PARAM(in, &def);
        });
        return def.u.fs_d.value;
    }
};

// Keys at 1 s (20) and 3 s (80) read at the boundaries against the interpolation rules: ends held,
// a hold key's value until the next key, Bézier keys played as linear ones.
TEST_F(MinihostAegpTest, KeysWrittenByTheEffectInterpolateAtLaterFrames) {
    for (AEGP_KeyframeInterpolationType interp : {AEGP_KeyInterp_LINEAR, AEGP_KeyInterp_HOLD, AEGP_KeyInterp_BEZIER}) {
        SCOPED_TRACE(interp);
        inCommand([&](PF_InData* in) {
            editStream(in, kProgress, [&](const Suites& s, AEGP_StreamRefH stream) {
                writeKeys(s, stream, AEGP_LTimeMode_LayerTime, {{A_Time{1, 1}, 20.0}, {A_Time{3, 1}, 80.0}}, interp);
            });
        });
        ASSERT_EQ(instance->param(kProgress).keyframeCount(), 2u);  // replaced, not added to
        for (A_u_long scale : {24u, 100u}) {                        // the same instants at another time scale
            for (A_long frame : {0, 23, 24, 25, 48, 71, 72, 73, 500}) {
                const A_long time = A_long(frame * scale / 24);
                const double seconds = double(time) / scale;
                const double linear = 20.0 + 60.0 * std::clamp((seconds - 1.0) / 2.0, 0.0, 1.0);
                const double expected = interp == AEGP_KeyInterp_HOLD ? (seconds < 3.0 ? 20.0 : 80.0) : linear;
                EXPECT_NEAR(progressAt(time, scale), expected, 1e-9) << time << "/" << scale;
            }
        }
    }
}

// Index of each layer of the test composition, top first.
enum TestLayer : int { kKeyLight = 0, kTitle = 1, kLogo = 2, kEffect = 3, kSolid = 4, kLayerCount = 5 };

Layer layerOf(LayerType type, int width, int height) {
    Layer layer;
    std::tie(layer.type, layer.width, layer.height) = std::tuple(type, width, height);
    return layer;
}

// 200 × 100: a light moving from (10, 20, -100) at 0 s to (110, 40, -300) at 2 s, a text layer, a
// 64 × 32 image at 200 % × 50 % from 0.5 s moving x 100 → 120 in a second, the effect's layer, a solid.
std::shared_ptr<Composition> testComposition() {
    auto comp = std::make_shared<Composition>();
    comp->width = 200;
    comp->height = 100;
    Layer light = layerOf(LayerType::Light, 0, 0);
    light.position.addKey(0.0, Vec3{10, 20, -100});
    light.position.addKey(2.0, Vec3{110, 40, -300});
    comp->addLayer(light);
    Layer title = layerOf(LayerType::Image, 40, 20);
    title.isText = true;
    comp->addLayer(title);
    Layer logo = layerOf(LayerType::Image, 64, 32);
    logo.startSeconds = 0.5;
    logo.anchor = Vec3{32, 16, 0};
    logo.position.addKey(0.5, Vec3{100, 50, 0});
    logo.position.addKey(1.5, Vec3{120, 50, 0});
    logo.scale = Vec3{200, 50, 100};
    comp->addLayer(logo);
    comp->addLayer(layerOf(LayerType::Effect, 200, 100));
    comp->addLayer(layerOf(LayerType::Solid, 10, 10));
    return comp;
}

class MinihostCompositionTest : public FakeEffectTest {
protected:
    void SetUp() override {
        FakeEffectTest::SetUp();
        ASSERT_EQ(host.start(), PF_Err_NONE);
        comp = testComposition();
        host.setComposition(comp);
        instance = &host.addInstance(200, 100);
        instance->setLayerId(comp->layer(kEffect).id);
    }

    std::shared_ptr<Composition> comp;
};

// Worked from the keys: the light half way at 1 s; the logo (anchor to the origin, scale, position)
// at 1 s and at layer time 0.25 s, which is composition time 0.75 s.
TEST_F(MinihostCompositionTest, TransformsAndStreamsFollowTheKeysAtTheirTimes) {
    inCommand([&](PF_InData* in) {
        Suites s(in);
        AEGP_LayerH light = s.layerAt(kKeyLight), logo = s.layerAt(kLogo);
        A_Matrix4 m{};
        const A_Time start{0, 24}, oneSecond{24, 24};
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(light, &start, &m), A_Err_NONE);
        EXPECT_DOUBLE_EQ(m.mat[3][2], -100.0);
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(light, &oneSecond, &m), A_Err_NONE);
        EXPECT_EQ(std::tuple(m.mat[3][0], m.mat[3][1], m.mat[3][2], m.mat[0][0]), std::tuple(60.0, 30.0, -200.0, 1.0));
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(logo, &oneSecond, &m), A_Err_NONE);
        EXPECT_EQ(std::tuple(m.mat[0][0], m.mat[1][1], m.mat[3][0], m.mat[3][1]),
                  std::tuple(2.0, 0.5, 110.0 - 2.0 * 32.0, 50.0 - 0.5 * 16.0));

        const auto comp = AEGP_LTimeMode_CompTime;
        const auto spatial = AEGP_StreamType_ThreeD_SPATIAL;
        EXPECT_EQ(
            std::tuple(
                s.streamValue(logo, AEGP_LayerStream_POSITION, comp, oneSecond, spatial).three_d.x,
                s.streamValue(logo, AEGP_LayerStream_POSITION, AEGP_LTimeMode_LayerTime, {1, 4}, spatial).three_d.x,
                s.streamValue(logo, AEGP_LayerStream_SCALE, comp, start, AEGP_StreamType_ThreeD).three_d.y),
            std::tuple(110.0, 105.0, 50.0));

        // A stream the layer lacks and a missing time are refused, leaving the caller's value.
        AEGP_StreamVal2 value{};
        value.one_d = -7;
        EXPECT_NE(
            s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_COLOR, comp, &start, false, &value, nullptr),
            A_Err_NONE);
        EXPECT_NE(
            s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_POSITION, comp, nullptr, false, &value, nullptr),
            A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.one_d, -7.0);
    });
}

// Before a camera layer starts the effect camera is the default: 1.39 × the composition width in
// front of its centre, looking along +z, its image plane the composition's size (clamped to 16 bits).
TEST_F(MinihostCompositionTest, EffectCameraIsTheDefaultCameraUntilACameraLayerStarts) {
    Layer camera = layerOf(LayerType::Camera, 0, 0);
    camera.startSeconds = 1.0;
    camera.position = Vec3{100, 50, -500};
    camera.pointOfInterest = Vec3{100, 50, 0};
    camera.zoom = 400.0;
    const int cameraId = comp->addLayer(camera).id;
    A_Matrix4 m{};
    A_FpLong distance = 0;
    A_short width = 0, height = 0;
    auto cameraAt = [&](A_Time time) {
        AEGP_LayerH cameraH = reinterpret_cast<AEGP_LayerH>(&m);  // starts as garbage
        inCommand([&](PF_InData* in) {
            Suites s(in);
            EXPECT_EQ(s.pf->AEGP_GetEffectCamera(in->effect_ref, &time, &cameraH), A_Err_NONE);
            EXPECT_EQ(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &time, &m, &distance, &width, &height),
                      A_Err_NONE);
            AEGP_LayerIDVal id = 0;
            if (cameraH) s.layer->AEGP_GetLayerID(cameraH, &id);
            EXPECT_EQ(id, cameraH ? cameraId : 0);
        });
        return cameraH;
    };
    EXPECT_EQ(cameraAt(A_Time{12, 24}), nullptr);
    EXPECT_EQ(std::tuple(distance, width, height, m.mat[3][0], m.mat[3][1], m.mat[3][2], m.mat[2][2], m.mat[1][1]),
              std::tuple(1.39 * 200, 200, 100, 100.0, 50.0, -1.39 * 200, 1.0, 1.0));
    EXPECT_NE(cameraAt(A_Time{36, 24}), nullptr);
    EXPECT_EQ(std::tuple(distance, m.mat[3][2]), std::tuple(400.0, -500.0));
    comp->resize(40000, 100);
    cameraAt(A_Time{12, 24});
    EXPECT_EQ(std::tuple(width, distance), std::tuple(32767, 1.39 * 40000));
}

}  // namespace
}  // namespace minihost
