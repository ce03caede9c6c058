// Tests of minihost's AEGP suites that answer questions about the composition, called through the
// registry as the effect calls them, from inside a command of a fake effect in this process: the
// layer stack by index and by id, object types, layer-to-world transforms of an animated light,
// light colour and intensity, the effect camera (default and a camera layer), motion-blur flags,
// the layer id behind a Source Layer parameter, mask outlines, handle balance, refusal of stale
// handles and out-of-range indices, withheld suites, and the pre-render answer of a layer whose
// content reaches past its bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "held_suites.h"
#include "AE_GeneralPlug.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"

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

using Body = std::function<void(PF_InData*)>;
Body* gBody = nullptr;
// The fake's smart pre-render and smart render, when a test gives them.
using SmartHandler = std::function<PF_Err(PF_Cmd, PF_InData*, void*)>;
SmartHandler* gSmart = nullptr;

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

// The fake effect: registers its table and, in sequence re-setup, runs the test's body.
PF_Err fakeMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void* extra) {
    if (cmd == PF_Cmd_PARAMS_SETUP) return registerParams(in, out);
    if (cmd == PF_Cmd_SEQUENCE_RESETUP && gBody) (*gBody)(in);
    if ((cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER) && gSmart) return (*gSmart)(cmd, in, extra);
    return PF_Err_NONE;
}

// The suites as the effect holds them for one command; each is null when not acquired.
struct Suites : HeldSuites {
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_LayerSuite8* layer = nullptr;
    const AEGP_CompSuite11* comp = nullptr;
    const AEGP_StreamSuite6* stream = nullptr;
    const AEGP_MaskSuite6* mask = nullptr;
    const AEGP_MaskOutlineSuite3* outline = nullptr;
    const AEGP_EffectSuite4* effect = nullptr;

    explicit Suites(PF_InData* in) : HeldSuites(in) {
        acquire(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        acquire(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &layer);
        acquire(kAEGPCompSuite, kAEGPCompSuiteVersion11, &comp);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, &stream);
        acquire(kAEGPMaskSuite, kAEGPMaskSuiteVersion6, &mask);
        acquire(kAEGPMaskOutlineSuite, kAEGPMaskOutlineSuiteVersion3, &outline);
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
// starts at 0.5 s, the effect's layer with a closed and an open mask, and a hidden solid.
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
    Mask square;
    square.isClosed = true;
    square.vertices = {{10, 10, 0, 0, 5, 0}, {50, 10}, {50, 50}, {10, 50, -1, -2, 3, 4}};
    Mask stroke;
    stroke.isClosed = false;
    stroke.vertices = {{0, 0}, {30, 60}, {90, 60}};
    effect.masks = {square, stroke};
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

class MinihostCompositionTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = std::make_unique<Host>(&fakeMain);
        ASSERT_EQ(host->start(), PF_Err_NONE);
        comp = testComposition();
        host->setComposition(comp);
        instance = &host->addInstance(200, 100);
        instance->setLayerId(comp->layer(kEffect).id);
    }
    void TearDown() override {
        gBody = nullptr;
        gSmart = nullptr;
    }

    // Runs body inside a command of the effect, where the suites can be called.
    void inEffect(Body body) {
        gBody = &body;
        ASSERT_EQ(host->sequenceResetup(*instance), PF_Err_NONE);
        gBody = nullptr;
    }

    std::unique_ptr<Host> host;
    std::shared_ptr<Composition> comp;
    Instance* instance = nullptr;
};

TEST_F(MinihostCompositionTest, LayersByIndexAndByIdWithTheirObjectTypes) {
    inEffect([&](PF_InData* in) {
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
        AEGP_CompH foreignComp = reinterpret_cast<AEGP_CompH>(&count);
        EXPECT_NE(s.layer->AEGP_GetCompNumLayers(foreignComp, &count), A_Err_NONE);
        AEGP_ObjectType type = 0;
        EXPECT_NE(s.layer->AEGP_GetLayerObjectType(reinterpret_cast<AEGP_LayerH>(&count), &type), A_Err_NONE);
        EXPECT_NE(s.layer->AEGP_GetLayerObjectType(nullptr, &type), A_Err_NONE);
        EXPECT_NE(s.layer->AEGP_GetCompNumLayers(compH, nullptr), A_Err_NONE);
    });

    // A camera layer reports itself as one.
    Layer camera;
    camera.type = LayerType::Camera;
    comp->addLayer(camera);
    inEffect([&](PF_InData* in) {
        Suites s(in);
        AEGP_ObjectType type = -1;
        EXPECT_EQ(s.layer->AEGP_GetLayerObjectType(s.layerAt(s.compOf(s.effectLayer()), kLayerCount), &type),
                  A_Err_NONE);
        EXPECT_EQ(type, AEGP_ObjectType_CAMERA);
    });
}

TEST_F(MinihostCompositionTest, LayerToWorldFollowsAnAnimatedLight) {
    inEffect([&](PF_InData* in) {
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
    inEffect([&](PF_InData* in) {
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
        ASSERT_EQ(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_ANCHORPOINT, AEGP_LTimeMode_CompTime, &one,
                                                     false, &value, nullptr),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.three_d.x, 32.0);
        EXPECT_DOUBLE_EQ(value.three_d.y, 16.0);

        // Streams the layer does not have, streams the model does not know, bad times.
        value.one_d = -7;
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_COLOR, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_SCALE, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_ZOOM, AEGP_LTimeMode_CompTime, &now, false,
                                                     &value, &type),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_ROTATION, AEGP_LTimeMode_CompTime, &now,
                                                     false, &value, &type),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetLayerStreamValue(logo, AEGP_LayerStream_POSITION, 7, &now, false, &value, &type),
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
    inEffect([&](PF_InData* in) {
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

TEST_F(MinihostCompositionTest, TheImagePlaneSizeIsClampedToSixteenBits) {
    comp->resize(40000, 100);
    inEffect([&](PF_InData* in) {
        Suites s(in);
        const A_Time now{0, 24};
        A_Matrix4 m{};
        A_FpLong distance = 0;
        A_short width = 0, height = 0;
        ASSERT_EQ(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &now, &m, &distance, &width, &height), A_Err_NONE);
        EXPECT_EQ(width, 32767);
        EXPECT_EQ(height, 100);
        EXPECT_DOUBLE_EQ(distance, 1.39 * 40000);
    });
}

TEST_F(MinihostCompositionTest, CompositionAndLayerFlags) {
    auto flagsOf = [&](TestLayer index) {
        AEGP_LayerFlags flags = -1;
        inEffect([&](PF_InData* in) {
            Suites s(in);
            EXPECT_EQ(s.layer->AEGP_GetLayerFlags(s.layerAt(s.compOf(s.effectLayer()), index), &flags), A_Err_NONE);
        });
        return flags;
    };
    auto compFlags = [&]() {
        AEGP_CompFlags flags = -1;
        inEffect([&](PF_InData* in) {
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

// The effect's read of its Source Layer: effect → stream of the parameter → its value.
A_long sourceLayerId(PF_InData* in, PF_ParamIndex index, A_Err* err) {
    Suites s(in);
    AEGP_EffectRefH effect = nullptr;
    EXPECT_EQ(s.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect), A_Err_NONE);
    AEGP_StreamRefH stream = nullptr;
    EXPECT_EQ(s.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, index, &stream), A_Err_NONE);
    AEGP_StreamValue2 value{};
    value.val.layer_id = -1;
    const A_Time now{0, 24};
    *err = s.stream->AEGP_GetNewStreamValue(kPluginId, stream, AEGP_LTimeMode_CompTime, &now, false, &value);
    if (*err == A_Err_NONE) {
        EXPECT_EQ(value.streamH, stream);
        EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
    }
    EXPECT_EQ(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(s.effect->AEGP_DisposeEffect(effect), A_Err_NONE);
    return value.val.layer_id;
}

TEST_F(MinihostCompositionTest, ASourceLayerParameterHasTheBoundLayersId) {
    A_long id = -1;
    A_Err err = A_Err_NONE;
    inEffect([&](PF_InData* in) { id = sourceLayerId(in, kSource, &err); });
    EXPECT_EQ(err, A_Err_NONE);
    EXPECT_EQ(id, 0);  // nothing chosen

    World pixels(64, 32, 8);
    LayerSource source;
    source.world = &pixels;
    source.layerId = comp->layer(kLogo).id;
    instance->setLayer(kSource, source);
    inEffect([&](PF_InData* in) { id = sourceLayerId(in, kSource, &err); });
    EXPECT_EQ(err, A_Err_NONE);
    EXPECT_EQ(id, comp->layer(kLogo).id);
    EXPECT_EQ(host->aegp().liveStreams(), 0);
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);
    EXPECT_EQ(host->aegp().liveEffects(), 0);
    EXPECT_TRUE(host->suites().unbalanced().empty());

    // A parameter without a value has no stream value.
    inEffect([&](PF_InData* in) { sourceLayerId(in, kGroup, &err); });
    EXPECT_NE(err, A_Err_NONE);
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);
}

TEST_F(MinihostCompositionTest, EffectStreamValuesAreTheParametersValuesAtTheTime) {
    // Keys in layer time; the effect layer starts at 0.5 s in the composition.
    comp->layer(kEffect).startSeconds = 0.5;
    instance->addKeyframe(kHeat, HostTime{0, 1}, ParamValue::floatSlider(0));
    instance->addKeyframe(kHeat, HostTime{2, 1}, ParamValue::floatSlider(80));
    instance->setPoint3D(kCentre, 10, 20, 30);
    inEffect([&](PF_InData* in) {
        Suites s(in);
        AEGP_EffectRefH effect = nullptr;
        s.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect);
        AEGP_StreamRefH heat = nullptr, centre = nullptr;
        ASSERT_EQ(s.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kHeat, &heat), A_Err_NONE);
        ASSERT_EQ(s.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kCentre, &centre), A_Err_NONE);
        const A_Time one{1, 1};
        AEGP_StreamValue2 value{};
        ASSERT_EQ(s.stream->AEGP_GetNewStreamValue(kPluginId, heat, AEGP_LTimeMode_LayerTime, &one, false, &value),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.val.one_d, 40.0);
        EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
        const A_Time compOne{24, 24};
        ASSERT_EQ(s.stream->AEGP_GetNewStreamValue(kPluginId, heat, AEGP_LTimeMode_CompTime, &compOne, false, &value),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.val.one_d, 20.0);  // layer time 0.5 s
        EXPECT_EQ(host->aegp().liveStreamValues(), 1);
        EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);  // given back twice
        ASSERT_EQ(s.stream->AEGP_GetNewStreamValue(kPluginId, centre, AEGP_LTimeMode_LayerTime, &one, false, &value),
                  A_Err_NONE);
        EXPECT_DOUBLE_EQ(value.val.three_d.x, 10.0);
        EXPECT_DOUBLE_EQ(value.val.three_d.y, 20.0);
        EXPECT_DOUBLE_EQ(value.val.three_d.z, 30.0);
        // A value outlives its stream.
        EXPECT_EQ(s.stream->AEGP_DisposeStream(centre), A_Err_NONE);
        EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetNewStreamValue(kPluginId, centre, AEGP_LTimeMode_LayerTime, &one, false, &value),
                  A_Err_NONE);
        const A_Time noScale{1, 0};
        EXPECT_NE(s.stream->AEGP_GetNewStreamValue(kPluginId, heat, AEGP_LTimeMode_LayerTime, &noScale, false, &value),
                  A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_DisposeStreamValue(nullptr), A_Err_NONE);
        s.stream->AEGP_DisposeStream(heat);
        s.effect->AEGP_DisposeEffect(effect);
    });
    EXPECT_EQ(host->aegp().liveStreams(), 0);
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);
}

// One mask outline as the effect reads it: mask → outline stream → value → vertices, every handle
// given back.
struct OutlineRead {
    bool isOpen = false;
    A_long segments = -1;
    std::vector<AEGP_MaskVertex> vertices;
};

OutlineRead readOutline(const Suites& s, AEGP_LayerH layerH, A_long maskIndex) {
    OutlineRead read;
    AEGP_MaskRefH mask = nullptr;
    EXPECT_EQ(s.mask->AEGP_GetLayerMaskByIndex(layerH, maskIndex, &mask), A_Err_NONE);
    AEGP_StreamRefH stream = nullptr;
    EXPECT_EQ(s.stream->AEGP_GetNewMaskStream(kPluginId, mask, AEGP_MaskStream_OUTLINE, &stream), A_Err_NONE);
    AEGP_StreamValue2 value{};
    const A_Time now{0, 24};
    EXPECT_EQ(s.stream->AEGP_GetNewStreamValue(kPluginId, stream, AEGP_LTimeMode_CompTime, &now, false, &value),
              A_Err_NONE);
    A_Boolean isOpen = 2;
    EXPECT_EQ(s.outline->AEGP_IsMaskOutlineOpen(value.val.mask, &isOpen), A_Err_NONE);
    read.isOpen = isOpen != 0;
    EXPECT_EQ(s.outline->AEGP_GetMaskOutlineNumSegments(value.val.mask, &read.segments), A_Err_NONE);
    const A_long vertexCount = read.segments + (read.isOpen ? 1 : 0);
    for (A_long i = 0; i < vertexCount; ++i) {
        AEGP_MaskVertex vertex{};
        EXPECT_EQ(s.outline->AEGP_GetMaskOutlineVertexInfo(value.val.mask, i, &vertex), A_Err_NONE);
        read.vertices.push_back(vertex);
    }
    AEGP_MaskVertex past{};
    EXPECT_NE(s.outline->AEGP_GetMaskOutlineVertexInfo(value.val.mask, vertexCount, &past), A_Err_NONE);
    EXPECT_NE(s.outline->AEGP_GetMaskOutlineVertexInfo(value.val.mask, -1, &past), A_Err_NONE);
    EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
    EXPECT_EQ(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(s.mask->AEGP_DisposeMask(mask), A_Err_NONE);
    return read;
}

TEST_F(MinihostCompositionTest, MaskOutlinesOfClosedAndOpenMasks) {
    inEffect([&](PF_InData* in) {
        Suites s(in);
        ASSERT_TRUE(s.mask && s.outline);
        AEGP_LayerH self = s.effectLayer();
        A_long count = 0;
        ASSERT_EQ(s.mask->AEGP_GetLayerNumMasks(self, &count), A_Err_NONE);
        ASSERT_EQ(count, 2);

        OutlineRead square = readOutline(s, self, 0);
        EXPECT_FALSE(square.isOpen);
        EXPECT_EQ(square.segments, 4);
        ASSERT_EQ(square.vertices.size(), 4u);
        EXPECT_DOUBLE_EQ(square.vertices[0].x, 10.0);
        EXPECT_DOUBLE_EQ(square.vertices[0].tan_out_x, 5.0);
        EXPECT_DOUBLE_EQ(square.vertices[2].y, 50.0);
        EXPECT_DOUBLE_EQ(square.vertices[3].tan_in_x, -1.0);
        EXPECT_DOUBLE_EQ(square.vertices[3].tan_in_y, -2.0);
        EXPECT_DOUBLE_EQ(square.vertices[3].tan_out_y, 4.0);

        OutlineRead stroke = readOutline(s, self, 1);
        EXPECT_TRUE(stroke.isOpen);
        EXPECT_EQ(stroke.segments, 2);
        ASSERT_EQ(stroke.vertices.size(), 3u);
        EXPECT_DOUBLE_EQ(stroke.vertices[2].x, 90.0);
        EXPECT_DOUBLE_EQ(stroke.vertices[2].y, 60.0);

        // Layers without masks have none; masks past the last are refused.
        A_long lightMasks = -1;
        EXPECT_EQ(s.mask->AEGP_GetLayerNumMasks(s.layerAt(s.compOf(self), kKeyLight), &lightMasks), A_Err_NONE);
        EXPECT_EQ(lightMasks, 0);
        AEGP_MaskRefH mask = reinterpret_cast<AEGP_MaskRefH>(&count);
        EXPECT_NE(s.mask->AEGP_GetLayerMaskByIndex(self, 2, &mask), A_Err_NONE);
        EXPECT_EQ(mask, nullptr);
        EXPECT_NE(s.mask->AEGP_GetLayerMaskByIndex(self, -1, &mask), A_Err_NONE);
    });
    EXPECT_EQ(host->aegp().masksGiven(), 2);
    EXPECT_EQ(host->aegp().liveMasks(), 0);
    EXPECT_EQ(host->aegp().liveStreams(), 0);
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);
    EXPECT_TRUE(host->suites().unbalanced().empty());
}

TEST_F(MinihostCompositionTest, StaleMaskHandlesAndOtherMaskStreamsAreRefused) {
    inEffect([&](PF_InData* in) {
        Suites s(in);
        AEGP_LayerH self = s.effectLayer();
        AEGP_MaskRefH mask = nullptr;
        ASSERT_EQ(s.mask->AEGP_GetLayerMaskByIndex(self, 0, &mask), A_Err_NONE);
        AEGP_StreamRefH stream = reinterpret_cast<AEGP_StreamRefH>(&mask);
        EXPECT_NE(s.stream->AEGP_GetNewMaskStream(kPluginId, mask, AEGP_MaskStream_FEATHER, &stream), A_Err_NONE);
        EXPECT_EQ(stream, nullptr);
        ASSERT_EQ(s.stream->AEGP_GetNewMaskStream(kPluginId, mask, AEGP_MaskStream_OUTLINE, &stream), A_Err_NONE);
        AEGP_StreamValue2 value{};
        const A_Time now{0, 24};
        ASSERT_EQ(s.stream->AEGP_GetNewStreamValue(kPluginId, stream, AEGP_LTimeMode_CompTime, &now, false, &value),
                  A_Err_NONE);
        EXPECT_EQ(host->aegp().liveMasks(), 1);
        EXPECT_EQ(host->aegp().liveStreams(), 1);
        EXPECT_EQ(host->aegp().liveStreamValues(), 1);

        // The outline of a value given back, a mask disposed twice, a stream disposed twice.
        AEGP_MaskOutlineValH outline = value.val.mask;
        EXPECT_EQ(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
        A_Boolean isOpen = 0;
        EXPECT_NE(s.outline->AEGP_IsMaskOutlineOpen(outline, &isOpen), A_Err_NONE);
        A_long segments = 0;
        EXPECT_NE(s.outline->AEGP_GetMaskOutlineNumSegments(outline, &segments), A_Err_NONE);
        value.val.mask = outline;
        EXPECT_NE(s.stream->AEGP_DisposeStreamValue(&value), A_Err_NONE);
        EXPECT_EQ(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
        EXPECT_EQ(s.mask->AEGP_DisposeMask(mask), A_Err_NONE);
        EXPECT_NE(s.mask->AEGP_DisposeMask(mask), A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetNewMaskStream(kPluginId, mask, AEGP_MaskStream_OUTLINE, &stream), A_Err_NONE);
        // A mask stream is no effect stream: the effect-stream calls of other suites refuse it.
        AEGP_MaskRefH again = nullptr;
        ASSERT_EQ(s.mask->AEGP_GetLayerMaskByIndex(self, 1, &again), A_Err_NONE);
        ASSERT_EQ(s.stream->AEGP_GetNewMaskStream(kPluginId, again, AEGP_MaskStream_OUTLINE, &stream), A_Err_NONE);
        EXPECT_EQ(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
        EXPECT_NE(s.stream->AEGP_GetNewStreamValue(kPluginId, stream, AEGP_LTimeMode_CompTime, &now, false, &value),
                  A_Err_NONE);
        EXPECT_NE(s.mask->AEGP_DisposeMask(nullptr), A_Err_NONE);
        EXPECT_NE(s.outline->AEGP_IsMaskOutlineOpen(nullptr, &isOpen), A_Err_NONE);
        EXPECT_EQ(host->aegp().liveMasks(), 1);
        s.mask->AEGP_DisposeMask(again);
    });
    EXPECT_EQ(host->aegp().liveMasks(), 0);
    EXPECT_EQ(host->aegp().liveStreams(), 0);
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);

    // A mask that no longer exists cannot be read through an older reference.
    AEGP_MaskRefH kept = nullptr;
    inEffect([&](PF_InData* in) {
        Suites s(in);
        ASSERT_EQ(s.mask->AEGP_GetLayerMaskByIndex(s.effectLayer(), 1, &kept), A_Err_NONE);
    });
    comp->layer(kEffect).masks.pop_back();
    inEffect([&](PF_InData* in) {
        Suites s(in);
        AEGP_StreamRefH stream = nullptr;
        ASSERT_EQ(s.stream->AEGP_GetNewMaskStream(kPluginId, kept, AEGP_MaskStream_OUTLINE, &stream), A_Err_NONE);
        AEGP_StreamValue2 value{};
        const A_Time now{0, 24};
        EXPECT_NE(s.stream->AEGP_GetNewStreamValue(kPluginId, stream, AEGP_LTimeMode_CompTime, &now, false, &value),
                  A_Err_NONE);
        s.stream->AEGP_DisposeStream(stream);
        s.mask->AEGP_DisposeMask(kept);
    });
    EXPECT_EQ(host->aegp().liveStreamValues(), 0);
}

TEST_F(MinihostCompositionTest, EachCompositionSuiteCanBeWithheld) {
    const std::pair<const char*, int32> offered[] = {{kAEGPLayerSuite, kAEGPLayerSuiteVersion8},
                                                     {kAEGPCompSuite, kAEGPCompSuiteVersion11},
                                                     {kAEGPStreamSuite, kAEGPStreamSuiteVersion6},
                                                     {kAEGPMaskSuite, kAEGPMaskSuiteVersion6},
                                                     {kAEGPMaskOutlineSuite, kAEGPMaskOutlineSuiteVersion3}};
    for (const auto& [name, version] : offered) {
        EXPECT_TRUE(host->suites().isOffered(name, version)) << name;
        host->suites().withhold(name, version);
        SPErr result = kSPNoError;
        const void* suite = &result;
        inEffect([&](PF_InData* in) { result = in->pica_basicP->AcquireSuite(name, version, &suite); });
        EXPECT_NE(result, kSPNoError) << name;
        EXPECT_EQ(host->suites().failedAcquireCount(name, version), 1) << name;
        host->suites().restore(name, version);
        inEffect([&](PF_InData* in) {
            result = in->pica_basicP->AcquireSuite(name, version, &suite);
            in->pica_basicP->ReleaseSuite(name, version);
        });
        EXPECT_EQ(result, kSPNoError) << name;
        EXPECT_NE(suite, nullptr) << name;
    }
    // Stream Suite 7 stays offered when 11 is withheld.
    EXPECT_TRUE(host->suites().isOffered(kAEGPStreamSuite, kAEGPStreamSuiteVersion2));
}

// What the fake's frame saw of its Source Layer: the pre-render answers for checkout ids 5 and 999
// and the pixels handed out for each.
struct SourceFrame {
    PF_CheckoutResult normal{};
    PF_CheckoutResult expanded{};
    bool isExpanded = false;
    struct Pixels {
        A_long width = 0, height = 0;
        PF_Pixel8 first{};  // pixel (0, 0)
    };
    Pixels normalPixels, expandedPixels;
};

// Pre-render as the effect does it: the Source Layer under id 5 with the output request, and again
// under id 999 for its maximum rectangle when that is larger than the request; then the pixels.
SmartHandler sourceFrameHandler(SourceFrame* frame) {
    return [frame](PF_Cmd cmd, PF_InData* in, void* extra) -> PF_Err {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_RenderRequest request = pre->input->output_request;
            PF_CheckoutResult input{};
            if (PF_Err err = pre->cb->checkout_layer(in->effect_ref, 0, 0, &request, in->current_time, in->time_step,
                                                     in->time_scale, &input))
                return err;
            pre->output->result_rect = input.result_rect;
            pre->output->max_result_rect = input.max_result_rect;
            if (pre->cb->checkout_layer(in->effect_ref, kSource, 5, &request, in->current_time, in->time_step,
                                        in->time_scale, &frame->normal))
                return PF_Err_NONE;
            const PF_LRect& max = frame->normal.max_result_rect;
            if (max.right - max.left > request.rect.right - request.rect.left ||
                max.bottom - max.top > request.rect.bottom - request.rect.top) {
                PF_RenderRequest wide = request;
                wide.rect = max;
                frame->isExpanded = pre->cb->checkout_layer(in->effect_ref, kSource, 999, &wide, in->current_time,
                                                            in->time_step, in->time_scale, &frame->expanded) == 0;
            }
            return PF_Err_NONE;
        }
        auto* smart = static_cast<PF_SmartRenderExtra*>(extra);
        auto take = [&](A_long id, SourceFrame::Pixels* pixels) {
            PF_EffectWorld* world = nullptr;
            if (smart->cb->checkout_layer_pixels(in->effect_ref, id, &world) || !world) return;
            pixels->width = world->width;
            pixels->height = world->height;
            pixels->first = *reinterpret_cast<const PF_Pixel8*>(world->data);
            smart->cb->checkin_layer_pixels(in->effect_ref, id);
        };
        take(5, &frame->normalPixels);
        if (frame->isExpanded) take(999, &frame->expandedPixels);
        return PF_Err_NONE;
    };
}

TEST_F(MinihostCompositionTest, ContentPastALayersBoundsIsOfferedInItsMaximumRectangle) {
    // A 30 × 20 text layer with 8 pixels of content on every side, on a 40 × 30 effect layer, so
    // the content is wider than the request. The world holds the whole content; each pixel knows
    // where it is (red = x, green = y).
    instance->setLayerSize(40, 30);
    World content(46, 36, 8);
    for (A_long y = 0; y < content.height(); ++y)
        for (A_long x = 0; x < content.width(); ++x)
            content.pixel8(x, y) = PF_Pixel8{255, static_cast<A_u_char>(x), static_cast<A_u_char>(y), 0};
    LayerSource title;
    title.world = &content;
    title.maxRect = PF_LRect{-8, -8, 38, 28};
    title.refWidth = 30;
    title.refHeight = 20;
    title.layerId = comp->layer(kTitle).id;
    instance->setLayer(kSource, title);

    SourceFrame frame;
    SmartHandler handler = sourceFrameHandler(&frame);
    gSmart = &handler;
    World output(40, 30, 8);
    ASSERT_EQ(host->renderFrame(*instance, output), PF_Err_NONE);

    EXPECT_EQ(frame.normal.max_result_rect.left, -8);
    EXPECT_EQ(frame.normal.max_result_rect.top, -8);
    EXPECT_EQ(frame.normal.max_result_rect.right, 38);
    EXPECT_EQ(frame.normal.max_result_rect.bottom, 28);
    EXPECT_EQ(frame.normal.result_rect.left, 0);  // cut to the request
    EXPECT_EQ(frame.normal.result_rect.right, 38);
    EXPECT_EQ(frame.normal.ref_width, 30);
    EXPECT_EQ(frame.normal.ref_height, 20);
    // Id 5: exactly the result rectangle, starting at the layer's own (0, 0).
    EXPECT_EQ(frame.normalPixels.width, 38);
    EXPECT_EQ(frame.normalPixels.height, 28);
    EXPECT_EQ(frame.normalPixels.first.red, 8);
    EXPECT_EQ(frame.normalPixels.first.green, 8);
    // Id 999: the whole content, margin included.
    ASSERT_TRUE(frame.isExpanded);
    EXPECT_EQ(frame.expanded.result_rect.left, -8);
    EXPECT_EQ(frame.expanded.result_rect.bottom, 28);
    EXPECT_EQ(frame.expandedPixels.width, 46);
    EXPECT_EQ(frame.expandedPixels.height, 36);
    EXPECT_EQ(frame.expandedPixels.first.red, 0);
    EXPECT_EQ(frame.expandedPixels.first.green, 0);
    EXPECT_EQ(instance->pixelCheckoutsOutstanding(), 0);
    ASSERT_EQ(instance->pixelCheckouts().size(), 2u);
    EXPECT_EQ(instance->pixelCheckouts()[1].world, content.get());

    // The layer the parameter names is the text layer.
    A_long id = -1;
    A_Err err = A_Err_NONE;
    inEffect([&](PF_InData* in) { id = sourceLayerId(in, kSource, &err); });
    ASSERT_EQ(err, A_Err_NONE);
    inEffect([&](PF_InData* in) {
        Suites s(in);
        AEGP_LayerH layerH = nullptr;
        ASSERT_EQ(s.layer->AEGP_GetLayerFromLayerID(s.compOf(s.effectLayer()), id, &layerH), A_Err_NONE);
        AEGP_ObjectType type = 0;
        s.layer->AEGP_GetLayerObjectType(layerH, &type);
        EXPECT_EQ(type, AEGP_ObjectType_TEXT);
    });
}

TEST_F(MinihostCompositionTest, ALayerWithinTheRequestIsHandedOutWhole) {
    World pixels(20, 10, 16);
    pixels.fill(1, 0.5f, 0.25f, 0);
    LayerSource logo;
    logo.world = &pixels;
    logo.layerId = comp->layer(kLogo).id;
    instance->setLayer(kSource, logo);
    SourceFrame frame;
    SmartHandler handler = sourceFrameHandler(&frame);
    gSmart = &handler;
    World output(200, 100, 16);
    ASSERT_EQ(host->renderFrame(*instance, output), PF_Err_NONE);
    EXPECT_FALSE(frame.isExpanded);
    EXPECT_EQ(frame.normal.result_rect.right, 20);
    ASSERT_EQ(instance->pixelCheckouts().size(), 1u);
    EXPECT_EQ(instance->pixelCheckouts()[0].world, pixels.get());
}

TEST(MinihostCompositionWithoutComposition, LayerQueriesFailAndTheCameraIsUnavailable) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    Body body = [&](PF_InData* in) {
        Suites s(in);
        AEGP_LayerH self = nullptr;
        ASSERT_EQ(s.pf->AEGP_GetEffectLayer(in->effect_ref, &self), A_Err_NONE);
        ASSERT_NE(self, nullptr);
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
    };
    gBody = &body;
    ASSERT_EQ(host.sequenceResetup(instance), PF_Err_NONE);
    gBody = nullptr;
}

}  // namespace
}  // namespace minihost
