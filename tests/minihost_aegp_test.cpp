// minihost's AEGP suites, called as the effect calls them from inside a command of a fake effect:
// the composition's layers, streams and camera at their times.
#include <gtest/gtest.h>

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

struct Suites : HeldSuites {
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_StreamSuite6* stream = nullptr;
    const AEGP_LayerSuite8* layer = nullptr;

    explicit Suites(PF_InData* in) : HeldSuites(in) {
        acquire(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, &stream);
        acquire(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &layer);
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

// Index of each layer of the test composition, top first.
enum TestLayer : int { kKeyLight = 0, kLogo = 2, kEffect = 3 };

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
    });
}

// Before a camera layer starts the effect camera is the default: 1.39 × the composition width in
// front of its centre, looking along +z, its image plane the composition's size.
TEST_F(MinihostCompositionTest, EffectCameraIsTheDefaultCameraUntilACameraLayerStarts) {
    Layer camera = layerOf(LayerType::Camera, 0, 0);
    camera.startSeconds = 1.0;
    camera.position = Vec3{100, 50, -500};
    camera.pointOfInterest = Vec3{100, 50, 0};
    camera.zoom = 400.0;
    comp->addLayer(camera);
    A_Matrix4 m{};
    A_FpLong distance = 0;
    A_short width = 0, height = 0;
    auto cameraAt = [&](A_Time time) {
        inCommand([&](PF_InData* in) {
            Suites s(in);
            EXPECT_EQ(s.pf->AEGP_GetEffectCameraMatrix(in->effect_ref, &time, &m, &distance, &width, &height),
                      A_Err_NONE);
        });
    };
    cameraAt(A_Time{12, 24});
    EXPECT_EQ(std::tuple(distance, width, height, m.mat[3][0], m.mat[3][1], m.mat[3][2], m.mat[2][2], m.mat[1][1]),
              std::tuple(1.39 * 200, 200, 100, 100.0, 50.0, -1.39 * 200, 1.0, 1.0));
    cameraAt(A_Time{36, 24});
    EXPECT_EQ(std::tuple(distance, m.mat[3][2]), std::tuple(400.0, -500.0));
}

}  // namespace
}  // namespace minihost
