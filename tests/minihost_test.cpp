// minihost's side of the contract the effect relies on, driven by a fake effect in this process:
// host units of points and angles, and the smart hand-over at previews.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "AE_EffectSuites.h"
#include "minihost/host.h"
#include "minihost/world.h"
#include "minihost_fake.h"

namespace minihost {
namespace {

enum FakeParam : PF_ParamIndex {
    kPosition = 1,   // 3-D point, default (50 %, 50 %, 7 px)
    kEvolution = 2,  // angle, default 30°
    kSource = 3,     // layer, default none
    kFakeParamCount = 4
};

PF_Err registerFakeParams(PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
    addFakeParam(in, PF_Param_POINT_3D, "Position", [](PF_ParamDef& def) {
        def.u.point3d_d.x_value = def.u.point3d_d.x_dephault = 50;
        def.u.point3d_d.y_value = def.u.point3d_d.y_dephault = 50;
        def.u.point3d_d.z_value = def.u.point3d_d.z_dephault = 7;
    });
    addFakeParam(in, PF_Param_ANGLE, "Evolution",
                 [](PF_ParamDef& def) { def.u.ad.value = def.u.ad.dephault = 30 << 16; });
    addFakeParam(in, PF_Param_LAYER, "Source", [](PF_ParamDef& def) { def.u.ld.dephault = PF_LayerDefault_NONE; });
    out->num_params = kFakeParamCount;
    return PF_Err_NONE;
}

class MinihostTest : public FakeEffectTest {
protected:
    void SetUp() override {
        FakeEffectTest::SetUp();
        fake.handlers[PF_Cmd_PARAMS_SETUP] = &registerFakeParams;
        ASSERT_EQ(host.start(), PF_Err_NONE);
        ASSERT_EQ(host.definitions().size(), std::size_t(kFakeParamCount));
        instance = &host.addInstance(200, 100);
    }

    // One checkout and checkin of a parameter at time 0, from inside a command.
    PF_ParamDef checkout(PF_ParamIndex index, Instance* target = nullptr) {
        PF_ParamDef def{};
        inCommand(
            [&](PF_InData* in) {
                ASSERT_EQ(PF_CHECKOUT_PARAM(in, index, 0, 1, 24, &def), PF_Err_NONE);
                PF_CHECKIN_PARAM(in, &def);
            },
            target);
        return def;
    }
};

TEST_F(MinihostTest, PointsArePercentDefaultsScaledByTheDownsampleFactorsAndAnglesAreFixedPoint) {
    auto point = [&](Instance* target = nullptr) {
        const PF_ParamDef def = checkout(kPosition, target);
        return std::vector<double>{def.u.point3d_d.x_value, def.u.point3d_d.y_value, def.u.point3d_d.z_value};
    };
    EXPECT_EQ(point(), (std::vector<double>{100, 50, 7}));  // z is registered in pixels, not percent
    host.settings().downsampleX = PF_RationalScale{1, 2};
    host.settings().downsampleY = PF_RationalScale{1, 4};
    EXPECT_EQ(point(), (std::vector<double>{50, 12.5, 3.5}));  // z follows the x factor
    instance->setPoint3D(kPosition, 30, 40, 10);
    EXPECT_EQ(point(), (std::vector<double>{15, 10, 5}));

    // A default follows the layer it is a percentage of; a set value does not.
    Instance& other = host.addInstance(400, 300);
    host.settings().setPreviewResolution(1);
    EXPECT_EQ(point(&other), (std::vector<double>{200, 150, 7}));
    EXPECT_EQ(point(), (std::vector<double>{30, 40, 10}));

    EXPECT_EQ(checkout(kEvolution).u.ad.value, 30 << 16);
    instance->setAngle(kEvolution, 90.5);
    EXPECT_EQ(checkout(kEvolution).u.ad.value, 5931008);  // 90.5 × 65536
    instance->setAngle(kEvolution, -720.25);
    EXPECT_EQ(checkout(kEvolution).u.ad.value, -47202304);
}

// A smart-render pair like the effect's: input and layer (id 999) checked out, then their pixels.
void installFakeRender(FakeEffect& fake, PF_InData* seen) {
    fake.handlers[PF_Cmd_SMART_PRE_RENDER] = [](PF_InData* in, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
        auto* pre = static_cast<PF_PreRenderExtra*>(extra);
        PF_CheckoutResult input, source;
        if (PF_Err err = pre->cb->checkout_layer(in->effect_ref, 0, 0, &pre->input->output_request, in->current_time,
                                                 in->time_step, in->time_scale, &input))
            return err;
        pre->output->result_rect = input.result_rect;
        pre->output->max_result_rect = input.max_result_rect;
        pre->cb->checkout_layer(in->effect_ref, kSource, 999, &pre->input->output_request, in->current_time,
                                in->time_step, in->time_scale, &source);
        return PF_Err_NONE;
    };
    fake.handlers[PF_Cmd_SMART_RENDER] = [seen](PF_InData* in, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
        *seen = *in;
        auto* smart = static_cast<PF_SmartRenderExtra*>(extra);
        PF_EffectWorld *input = nullptr, *output = nullptr, *source = nullptr;
        if (PF_Err err = smart->cb->checkout_layer_pixels(in->effect_ref, 0, &input)) return err;
        if (PF_Err err = smart->cb->checkout_output(in->effect_ref, &output)) return err;
        smart->cb->checkout_layer_pixels(in->effect_ref, 999, &source);
        smart->cb->checkin_layer_pixels(in->effect_ref, 0);
        return PF_Err_NONE;
    };
}

// At preview 1/f the request is ⌈64 / f⌉ × ⌈48 / f⌉, the layer's extent rounds outward, its own
// size and PF_InData's are not scaled, and its preview pixels are box means of its full ones.
TEST_F(MinihostTest, PreviewResolutionShrinksRequestsCheckoutsAndPixelsButNotInDataSizes) {
    PF_InData seen{};
    installFakeRender(fake, &seen);
    Instance& target = host.addInstance(64, 48);
    World input(64, 48, 8);
    target.setInputLayer(input);
    // A 6 × 4 layer whose extent starts at (-2, -2); pixel (x, y) holds alpha 10·x + 40·y.
    World source(6, 4, 8);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 6; ++x) source.pixel8(x, y) = PF_Pixel8{A_u_char(10 * x + 40 * y), 0, 0, 0};
    target.setLayer(kSource, LayerSource{&source, PF_LRect{-2, -2, 4, 2}, 6, 4});
    host.settings().setFrame(9);
    struct Preview {
        int factor;
        PF_LRect request, sourceExtent;
    };
    for (const Preview& p : {Preview{1, {0, 0, 64, 48}, {-2, -2, 4, 2}}, Preview{2, {0, 0, 32, 24}, {-1, -1, 2, 1}},
                             Preview{4, {0, 0, 16, 12}, {-1, -1, 1, 1}}}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(p.factor));
        host.settings().setPreviewResolution(p.factor);
        const PreRenderResult pre = host.preRender(target);
        ASSERT_EQ(pre.result, PF_Err_NONE);
        EXPECT_EQ(std::tuple(pre.output.result_rect.right, pre.output.result_rect.bottom),
                  std::tuple(p.request.right, p.request.bottom));
        const LayerCheckout& checkout = pre.layerCheckouts.at(1);
        const PF_LRect& extent = checkout.answer.max_result_rect;
        EXPECT_EQ(std::tuple(checkout.checkoutId, checkout.whatTime, checkout.answer.ref_width, extent.left, extent.top,
                             extent.right, extent.bottom),
                  std::tuple(999, 9, 6, p.sourceExtent.left, p.sourceExtent.top, p.sourceExtent.right,
                             p.sourceExtent.bottom));

        World output(p.request.right, p.request.bottom, 8, 8);
        ASSERT_EQ(host.renderFrame(target, output), PF_Err_NONE);
        EXPECT_EQ(std::tuple(seen.width, seen.height, seen.downsample_x.den, seen.downsample_y.den),
                  std::tuple(64, 48, A_u_long(p.factor), A_u_long(p.factor)));
        ASSERT_EQ(target.pixelCheckouts().size(), 2u);
        const PF_EffectWorld *input0 = target.pixelCheckouts()[0].world, *cut = target.pixelCheckouts()[1].world;
        ASSERT_NE(cut, nullptr);
        EXPECT_EQ(std::tuple(input0->width, input0->height, cut->width, cut->height),
                  std::tuple(p.request.right, p.request.bottom, p.sourceExtent.right, p.sourceExtent.bottom));
        // Pixel (0, 0) of the cut covers layer pixels 2 … 2 + f − 1 of both axes, cut to the layer.
        double sum = 0;
        int count = 0;
        for (int y = 2; y < std::min(4, 2 + p.factor); ++y)
            for (int x = 2; x < std::min(6, 2 + p.factor); ++x, ++count) sum += 10 * x + 40 * y;
        EXPECT_EQ(static_cast<const PF_Pixel8*>(cut->data)->alpha, A_u_char(std::lround(sum / count)));
    }
}

}  // namespace
}  // namespace minihost
