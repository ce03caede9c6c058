// Tests of minihost's AEGP suites that answer questions about the composition, called through the
// registry as the effect calls them, from inside a command of a fake effect in this process: the
// layer stack by index and by id, object types, layer-to-world transforms of an animated light,
// light colour and intensity, the effect camera (default and a camera layer), motion-blur flags,
// effect streams in layer and composition time, handle balance, and refusal of
// stale handles and out-of-range indices. Mask outlines are read in mask_path_test.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "AE_GeneralPlug.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost_fake.h"

namespace minihost {
namespace {

enum FakeParam : PF_ParamIndex {
    kHeat = 1,    // float slider 0 … 100, default 40
    kSource = 2,  // layer, default none
    kCentre = 3,  // 3-D point, default (50 %, 50 %, 0)
    kGroup = 4,   // group start: no value
    kParamCount = 5
};

constexpr AEGP_PluginID kPluginId = 42;

PF_Err registerParams(PF_InData* in, PF_OutData* out) {
    PF_ParamDef def;
    auto begin = [&](PF_ParamType type, const char* name) {
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        std::snprintf(def.name, sizeof def.name, "%s", name);
    };
    begin(PF_Param_FLOAT_SLIDER, "Heat");
    def.u.fs_d.valid_max = def.u.fs_d.slider_max = 100.0f;
    def.u.fs_d.value = def.u.fs_d.dephault = 40.0f;
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_LAYER, "Source Layer");
    def.u.ld.dephault = PF_LayerDefault_NONE;
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_POINT_3D, "Centre");
    def.u.point3d_d.x_value = def.u.point3d_d.x_dephault = 50;
    def.u.point3d_d.y_value = def.u.point3d_d.y_dephault = 50;
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_GROUP_START, "Group");
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    out->num_params = kParamCount;
    return PF_Err_NONE;
}

// The suites as the effect holds them for one command; each is null when not acquired.
struct Suites : HeldSuites {
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_LayerSuite8* layer = nullptr;
    const AEGP_CompSuite11* comp = nullptr;
    const AEGP_StreamSuite6* stream = nullptr;
    const AEGP_MaskSuite6* mask = nullptr;
    const AEGP_EffectSuite4* effect = nullptr;

    explicit Suites(PF_InData* in) : HeldSuites(in) {
        acquire(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        acquire(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &layer);
        acquire(kAEGPCompSuite, kAEGPCompSuiteVersion11, &comp);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, &stream);
        acquire(kAEGPMaskSuite, kAEGPMaskSuiteVersion6, &mask);
        acquire(kAEGPEffectSuite, kAEGPEffectSuiteVersion4, &effect);
    }

    // The effect's own layer and its composition, as the effect finds them.
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
    AEGP_LayerH layerAt(AEGP_CompH compH, A_long index) const {
        AEGP_LayerH layerH = nullptr;
        EXPECT_EQ(layer->AEGP_GetCompLayerByIndex(compH, index, &layerH), A_Err_NONE);
        return layerH;
    }
};

// Index of each layer of the test composition, top first.
enum TestLayer : int { kKeyLight = 0, kTitle = 1, kLogo = 2, kEffect = 3, kHiddenSolid = 4, kLayerCount = 5 };

// A 200 × 100 composition: an animated key light, a text layer, a motion-blurred image layer that
// starts at 0.5 s, the effect's layer, and a hidden solid.
std::shared_ptr<Composition> testComposition() {
    auto comp = std::make_shared<Composition>();
    comp->width = 200;
    comp->height = 100;
    comp->hasMotionBlur = true;

    Layer light;
    light.type = LayerType::Light;
    light.name = "Key";
    light.position.addKey(0.0, Vec3{10, 20, -100});
    light.position.addKey(2.0, Vec3{110, 40, -300});
    light.lightColor = Rgb{1.0, 0.5, 0.25};
    light.lightIntensity = 250.0;
    comp->addLayer(light);

    Layer title;
    title.type = LayerType::Image;
    title.isText = true;
    title.name = "Title";
    title.width = 40;
    title.height = 20;
    comp->addLayer(title);

    Layer logo;
    logo.type = LayerType::Image;
    logo.name = "Logo";
    logo.width = 64;
    logo.height = 32;
    logo.startSeconds = 0.5;
    logo.hasMotionBlur = true;
    logo.anchor = Vec3{32, 16, 0};
    logo.position.addKey(0.5, Vec3{100, 50, 0});
    logo.position.addKey(1.5, Vec3{120, 50, 0});
    logo.scale = Vec3{200, 50, 100};
    comp->addLayer(logo);

    Layer effect;
    effect.type = LayerType::Effect;
    effect.name = "Effect";
    effect.width = 200;
    effect.height = 100;
    comp->addLayer(effect);

    Layer solid;
    solid.type = LayerType::Solid;
    solid.name = "Hidden";
    solid.width = 10;
    solid.height = 10;
    solid.isVisible = false;
    comp->addLayer(solid);
    return comp;
}

class MinihostCompositionTest : public FakeEffectTest {
protected:
    void SetUp() override {
        FakeEffectTest::SetUp();
        fake.handlers[PF_Cmd_PARAMS_SETUP] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
            return registerParams(in, out);
        };
        ASSERT_EQ(host.start(), PF_Err_NONE);
        comp = testComposition();
        host.setComposition(comp);
        instance = &host.addInstance(200, 100);
        instance->setLayerId(comp->layer(kEffect).id);
    }
    void TearDown() override {
        EXPECT_EQ(host.aegp().liveMasks(), 0);
        EXPECT_EQ(host.aegp().liveStreams(), 0);
        EXPECT_EQ(host.aegp().liveStreamValues(), 0);
        EXPECT_EQ(host.aegp().liveEffects(), 0);
        EXPECT_TRUE(host.suites().unbalanced().empty());
        FakeEffectTest::TearDown();
    }

    std::shared_ptr<Composition> comp;
};

TEST_F(MinihostCompositionTest, LayersByIndexAndByIdWithTheirObjectTypes) {
    inCommand([&](PF_InData* in) {
        Suites s(in);
        ASSERT_TRUE(s.layer && s.pf);
        AEGP_LayerH self = s.effectLayer();
        AEGP_CompH compH = s.compOf(self);
        ASSERT_NE(compH, nullptr);
        A_long count = 0;
        ASSERT_EQ(s.layer->AEGP_GetCompNumLayers(compH, &count), A_Err_NONE);
        EXPECT_EQ(count, kLayerCount);

        const AEGP_ObjectType expected[kLayerCount] = {AEGP_ObjectType_LIGHT, AEGP_ObjectType_TEXT, AEGP_ObjectType_AV,
                                                       AEGP_ObjectType_AV, AEGP_ObjectType_AV};
        for (A_long i = 0; i < count; ++i) {
            AEGP_LayerH layerH = s.layerAt(compH, i);
            AEGP_ObjectType type = -1;
            EXPECT_EQ(s.layer->AEGP_GetLayerObjectType(layerH, &type), A_Err_NONE);
            EXPECT_EQ(type, expected[i]) << "layer " << i;
            AEGP_LayerIDVal id = 0;
            ASSERT_EQ(s.layer->AEGP_GetLayerID(layerH, &id), A_Err_NONE);
            EXPECT_EQ(id, comp->layer(i).id);
            AEGP_LayerH byId = nullptr;
            ASSERT_EQ(s.layer->AEGP_GetLayerFromLayerID(compH, id, &byId), A_Err_NONE);
            EXPECT_EQ(byId, layerH);
            EXPECT_EQ(s.compOf(layerH), compH);
        }
        // The effect's own layer is the one found at its index.
        EXPECT_EQ(self, s.layerAt(compH, kEffect));

        AEGP_LayerH none = self;
        EXPECT_NE(s.layer->AEGP_GetCompLayerByIndex(compH, kLayerCount, &none), A_Err_NONE);
        EXPECT_EQ(none, nullptr);
        EXPECT_NE(s.layer->AEGP_GetCompLayerByIndex(compH, -1, &none), A_Err_NONE);
        EXPECT_NE(s.layer->AEGP_GetLayerFromLayerID(compH, 999, &none), A_Err_NONE);
        EXPECT_NE(s.layer->AEGP_GetLayerFromLayerID(compH, 0, &none), A_Err_NONE);
        EXPECT_EQ(none, nullptr);
        // Handles that are not this composition's are refused.
        EXPECT_NE(s.layer->AEGP_GetCompNumLayers(reinterpret_cast<AEGP_CompH>(&count), &count), A_Err_NONE);
        AEGP_ObjectType type = 0;
        EXPECT_NE(s.layer->AEGP_GetLayerObjectType(nullptr, &type), A_Err_NONE);
    });

    // A camera layer reports itself as one.
    Layer camera;
    camera.type = LayerType::Camera;
    comp->addLayer(camera);
    inCommand([&](PF_InData* in) {
        Suites s(in);
        AEGP_ObjectType type = -1;
        EXPECT_EQ(s.layer->AEGP_GetLayerObjectType(s.layerAt(s.compOf(s.effectLayer()), kLayerCount), &type),
                  A_Err_NONE);
        EXPECT_EQ(type, AEGP_ObjectType_CAMERA);
    });
}

TEST_F(MinihostCompositionTest, LayerToWorldFollowsAnAnimatedLight) {
    inCommand([&](PF_InData* in) {
        Suites s(in);
        AEGP_LayerH light = s.layerAt(s.compOf(s.effectLayer()), kKeyLight);
        A_Matrix4 m{};
        const A_Time start{0, 24};
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(light, &start, &m), A_Err_NONE);
        EXPECT_DOUBLE_EQ(m.mat[3][0], 10.0);
        EXPECT_DOUBLE_EQ(m.mat[3][1], 20.0);
        EXPECT_DOUBLE_EQ(m.mat[3][2], -100.0);
        const A_Time oneSecond{24, 24};  // half way between the keys
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(light, &oneSecond, &m), A_Err_NONE);
        EXPECT_DOUBLE_EQ(m.mat[3][0], 60.0);
        EXPECT_DOUBLE_EQ(m.mat[3][1], 30.0);
        EXPECT_DOUBLE_EQ(m.mat[3][2], -200.0);
        EXPECT_DOUBLE_EQ(m.mat[0][0], 1.0);  // a light keeps no rotation

        // The image layer: anchor to the origin, scale, then position.
        AEGP_LayerH logo = s.layerAt(s.compOf(s.effectLayer()), kLogo);
        ASSERT_EQ(s.layer->AEGP_GetLayerToWorldXform(logo, &oneSecond, &m), A_Err_NONE);
        EXPECT_DOUBLE_EQ(m.mat[0][0], 2.0);
        EXPECT_DOUBLE_EQ(m.mat[1][1], 0.5);
        EXPECT_DOUBLE_EQ(m.mat[3][0], 110.0 - 64.0);
        EXPECT_DOUBLE_EQ(m.mat[3][1], 50.0 - 8.0);

        const A_Time noScale{24, 0};
        EXPECT_NE(s.layer->AEGP_GetLayerToWorldXform(light, &noScale, &m), A_Err_NONE);
        EXPECT_NE(s.layer->AEGP_GetLayerToWorldXform(light, nullptr, &m), A_Err_NONE);
    });
}

TEST_F(MinihostCompositionTest, LightColourAndIntensityAndLayerStreams) {
    inCommand([&](PF_InData* in) {
        Suites s(in);
        ASSERT_TRUE(s.stream);
        AEGP_CompH compH = s.compOf(s.effectLayer());
        AEGP_LayerH light = s.layerAt(compH, kKeyLight);
        const A_Time now{0, 24};
        AEGP_StreamVal2 value{};
        AEGP_StreamType type = AEGP_StreamType_NO_DATA;
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_INTENSITY, AEGP_LTimeMode_CompTime,
                                                     &now, false, &value, &type),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.one_d, 250.0);
        EXPECT_EQ(type, AEGP_StreamType_OneD);
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_COLOR, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_EQ(type, AEGP_StreamType_COLOR);
        EXPECT_DOUBLE_EQ(value.color.redF, 1.0);
        EXPECT_DOUBLE_EQ(value.color.greenF, 0.5);
        EXPECT_DOUBLE_EQ(value.color.blueF, 0.25);
        EXPECT_DOUBLE_EQ(value.color.alphaF, 1.0);

        // Position in composition and in layer time: the logo starts at 0.5 s.
        AEGP_LayerH logo = s.layerAt(compH, kLogo);
        const A_Time one{1, 1};
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_POSITION, AEGP_LTimeMode_CompTime, &one,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.three_d.x, 110.0);
        EXPECT_EQ(type, AEGP_StreamType_ThreeD_SPATIAL);
        const A_Time quarter{1, 4};  // layer time 0.25 s is composition time 0.75 s
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_POSITION, AEGP_LTimeMode_LayerTime,
                                                     &quarter, false, &value, &type),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.three_d.x, 105.0);
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_SCALE, AEGP_LTimeMode_CompTime, &one, false,
                                                     &value, &type),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.three_d.x, 200.0);
        EXPECT_DOUBLE_EQ(value.three_d.y, 50.0);
        EXPECT_EQ(type, AEGP_StreamType_ThreeD);
        // A stream the layer does not have and a bad time are refused, leaving the caller's value.
        value.one_d = -7;
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_COLOR, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_POSITION, AEGP_LTimeMode_CompTime, nullptr,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.one_d, -7.0);  // a refused read leaves the caller's value alone
    });
}

TEST_F(MinihostCompositionTest, EffectCameraIsTheDefaultCameraUntilACameraLayerStarts) {
    Layer camera;
    camera.type = LayerType::Camera;
    camera.startSeconds = 1.0;
    camera.position = Vec3{100, 50, -500};
    camera.pointOfInterest = Vec3{100, 50, 0};
    camera.zoom = 400.0;
    const int cameraId = comp->addLayer(camera).id;
    inCommand([&](PF_InData* in) {
        Suites s(in);
        const A_Time before{12, 24};
        int distanceSentinel = 0;  // the camera handle starts as garbage
        AEGP_LayerH cameraH = reinterpret_cast<AEGP_LayerH>(&distanceSentinel);
        ASSERT_EQ(s.pf->AEGP_GetEffectCamera(in->effect_ref, &before, &cameraH), A_Err_NONE);
        EXPECT_EQ(cameraH, nullptr);
        A_Matrix4 m{};
        A_FpLong distance = 0;
        A_short width = 0, height = 0;
        ASSERT_EQ(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &before, &m, &distance, &width, &height),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(distance, 1.39 * 200);
        EXPECT_EQ(width, 200);
        EXPECT_EQ(height, 100);
        EXPECT_DOUBLE_EQ(m.mat[3][0], 100.0);
        EXPECT_DOUBLE_EQ(m.mat[3][1], 50.0);
        EXPECT_DOUBLE_EQ(m.mat[3][2], -1.39 * 200);
        EXPECT_DOUBLE_EQ(m.mat[2][2], 1.0);  // looking along +z
        EXPECT_DOUBLE_EQ(m.mat[1][1], 1.0);  // +y down

        const A_Time after{36, 24};
        ASSERT_EQ(s.pf->AEGP_GetEffectCamera(in->effect_ref, &after, &cameraH), A_Err_NONE);
        ASSERT_NE(cameraH, nullptr);
        AEGP_LayerIDVal id = 0;
        s.layer->AEGP_GetLayerID(cameraH, &id);
        EXPECT_EQ(id, cameraId);
        ASSERT_EQ(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &after, &m, &distance, &width, &height), A_Err_NONE);
        EXPECT_DOUBLE_EQ(distance, 400.0);
        EXPECT_DOUBLE_EQ(m.mat[3][2], -500.0);
        AEGP_StreamVal2 zoom{};
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(cameraH, AEGP_LayerStream_ZOOM, AEGP_LTimeMode_CompTime, &after,
                                                     false, &zoom, nullptr),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(zoom.one_d, 400.0);
        A_long flags = 0;
        s.layer->AEGP_GetLayerFlags(cameraH, &flags);
        EXPECT_NE(flags & AEGP_LayerFlag_LAYER_IS_3D, 0);

        EXPECT_NE(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, nullptr, &m, &distance, &width, &height),
                  A_Err_NONE);
        EXPECT_NE(
            s.pf->AEGP_GetEffectCameraMatrix(reinterpret_cast<PF_ProgPtr>(&m), &after, &m, &distance, &width, &height),
            A_Err_NONE);
    });
}

TEST_F(MinihostCompositionTest, CompositionAndLayerFlags) {
    auto flagsOf = [&](TestLayer index) {
        AEGP_LayerFlags flags = -1;
        inCommand([&](PF_InData* in) {
            Suites s(in);
            EXPECT_EQ(s.layer->AEGP_GetLayerFlags(s.layerAt(s.compOf(s.effectLayer()), index), &flags), A_Err_NONE);
        });
        return flags;
    };
    auto compFlags = [&]() {
        AEGP_CompFlags flags = -1;
        inCommand([&](PF_InData* in) {
            Suites s(in);
            ASSERT_TRUE(s.comp);
            EXPECT_EQ(s.comp->AEGP_GetCompFlags(s.compOf(s.effectLayer()), &flags), A_Err_NONE);
            EXPECT_NE(s.comp->AEGP_GetCompFlags(nullptr, &flags), A_Err_NONE);
        });
        return flags;
    };
    EXPECT_EQ(compFlags(), AEGP_CompFlag_ENABLE_MOTION_BLUR);
    comp->hasMotionBlur = false;
    EXPECT_EQ(compFlags(), 0);

    EXPECT_EQ(flagsOf(kLogo), AEGP_LayerFlag_VIDEO_ACTIVE | AEGP_LayerFlag_MOTION_BLUR);
    EXPECT_EQ(flagsOf(kEffect), AEGP_LayerFlag_VIDEO_ACTIVE);
    EXPECT_EQ(flagsOf(kHiddenSolid), AEGP_LayerFlag_NONE);
    EXPECT_EQ(flagsOf(kKeyLight), AEGP_LayerFlag_VIDEO_ACTIVE | AEGP_LayerFlag_LAYER_IS_3D);
}

// Without a composition (the command's default) the effect's layer exists but nothing about it
// can be read: every query answers an error rather than a made-up value.
TEST_F(MinihostCompositionTest, WithoutACompositionLayerQueriesFailAndTheCameraIsUnavailable) {
    Host bare(&fakeEffectMain);
    ASSERT_EQ(bare.start(), PF_Err_NONE);
    Instance& alone = bare.addInstance(64, 48);
    fake.handlers[kTestCommand] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
        Suites s(in);
        AEGP_LayerH self = nullptr;
        EXPECT_EQ(s.pf->AEGP_GetEffectLayer(in->effect_ref, &self), A_Err_NONE);
        EXPECT_NE(self, nullptr);
        AEGP_CompH compH = reinterpret_cast<AEGP_CompH>(&self);
        EXPECT_NE(s.layer->AEGP_GetLayerParentComp(self, &compH), A_Err_NONE);
        EXPECT_EQ(compH, nullptr);
        A_long masks = 0;
        EXPECT_NE(s.mask->AEGP_GetLayerNumMasks(self, &masks), A_Err_NONE);
        AEGP_StreamVal2 value{};
        const A_Time now{0, 24};
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(self, AEGP_LayerStream_POSITION, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, nullptr),
                  A_Err_NONE);
        A_Matrix4 m{};
        A_FpLong distance = 0;
        A_short width = 0, height = 0;
        EXPECT_NE(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &now, &m, &distance, &width, &height), A_Err_NONE);
        AEGP_LayerH camera = nullptr;
        EXPECT_NE(s.pf->AEGP_GetEffectCamera(in->effect_ref, &now, &camera), A_Err_NONE);
        return PF_Err_NONE;
    };
    EXPECT_EQ(bare.send(kTestCommand, nullptr, &alone), PF_Err_NONE);
}

}  // namespace
}  // namespace minihost
