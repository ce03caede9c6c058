// Tests of minihost's AEGP suites for parameter streams, against a fake effect in this process:
// keyframes the effect writes through the Keyframe Suite are what checkout_param reads at later
// times (linear, hold, and Bézier played as linear), keys are replaced and deleted on the same
// streams, times move by the layer's start, hidden flags are kept per instance and parameter, and
// a user change's out flags are honoured (a control refresh answered with PF_Cmd_UPDATE_PARAMS_UI).
#include <gtest/gtest.h>

#include <algorithm>
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
    kProgress = 1,   // float slider 0 … 100, default 10
    kColorMode = 2,  // popup "Warm|Cool", default 1
    kTint = 3,       // colour
    kParamCount = 4
};

constexpr AEGP_PluginID kPluginId = 42;

PF_Err registerParams(PF_InData* in, PF_OutData* out) {
    PF_Err err = addFakeParam(in, PF_Param_FLOAT_SLIDER, "Progress", [](PF_ParamDef& def) {
        def.u.fs_d.valid_max = def.u.fs_d.slider_max = 100.0f;
        def.u.fs_d.value = def.u.fs_d.dephault = 10.0f;
    });
    if (!err) err = addFakeParam(in, PF_Param_POPUP, "Color Mode", [](PF_ParamDef& def) {
        def.u.pd.num_choices = 2;
        def.u.pd.value = def.u.pd.dephault = 1;
        def.u.pd.u.namesptr = "Warm|Cool";
    });
    if (!err) err = addFakeParam(in, PF_Param_COLOR, "Tint", [](PF_ParamDef& def) {
        def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 200, 100, 0};
    });
    out->num_params = kParamCount;
    return err;
}

struct Suites : HeldSuites {
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_StreamSuite2* stream = nullptr;
    const AEGP_DynamicStreamSuite2* dynamic = nullptr;
    const AEGP_EffectSuite4* effect = nullptr;
    const AEGP_KeyframeSuite4* keys = nullptr;

    explicit Suites(PF_InData* in) : HeldSuites(in) {
        acquire(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        acquire(kAEGPStreamSuite, kAEGPStreamSuiteVersion2, &stream);
        acquire(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2, &dynamic);
        acquire(kAEGPEffectSuite, kAEGPEffectSuiteVersion4, &effect);
        acquire(kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4, &keys);
    }
};

// As the effect's preset code does: the stream of one of its parameters, `edit`ed, and given back.
void editStream(PF_InData* in, PF_ParamIndex index, const std::function<void(const Suites&, AEGP_StreamRefH)>& edit) {
    Suites s(in);
    AEGP_EffectRefH effect = nullptr;
    ASSERT_EQ(s.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect), A_Err_NONE);
    AEGP_StreamRefH stream = nullptr;
    ASSERT_EQ(s.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, index, &stream), A_Err_NONE);
    edit(s, stream);
    EXPECT_EQ(s.stream->AEGP_DisposeStream(stream), A_Err_NONE);
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
        fake.handlers[PF_Cmd_PARAMS_SETUP] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
            return registerParams(in, out);
        };
        // The effect's control-visibility rule: the tint is shown only in the "Cool" colour mode.
        // A change of the mode asks for a control refresh.
        fake.handlers[PF_Cmd_UPDATE_PARAMS_UI] = [](PF_InData* in, PF_OutData*, PF_ParamDef** params, void*) {
            const bool isHidden = params[kColorMode]->u.pd.value != 2;
            editStream(in, kTint, [&](const Suites& s, AEGP_StreamRefH stream) {
                s.dynamic->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, false, isHidden);
            });
            return PF_Err(PF_Err_NONE);
        };
        fake.handlers[PF_Cmd_USER_CHANGED_PARAM] = [](PF_InData*, PF_OutData* out, PF_ParamDef**, void* extra) {
            if (static_cast<PF_UserChangedParamExtra*>(extra)->param_index == kColorMode)
                out->out_flags |= PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;
            return PF_Err(PF_Err_NONE);
        };
        ASSERT_EQ(host.start(), PF_Err_NONE);
        instance = &host.addInstance(64, 48);
    }
    void TearDown() override {
        EXPECT_EQ(host.aegp().liveEffects(), 0);
        EXPECT_EQ(host.aegp().liveStreams(), 0);
        EXPECT_EQ(host.aegp().liveAddKeyframes(), 0);
        EXPECT_TRUE(host.suites().unbalanced().empty());
        FakeEffectTest::TearDown();
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

// Keys written by the effect at 1 s (value 20) and 3 s (value 80), read at the boundaries. Bézier
// keys are played as linear ones. The reference is written from the interpolation rules: the first
// value before the first key, the last after the last, a hold key's value until the next key.
TEST_F(MinihostAegpTest, KeysWrittenByTheEffectInterpolateAtLaterFrames) {
    for (AEGP_KeyframeInterpolationType interp : {AEGP_KeyInterp_LINEAR, AEGP_KeyInterp_HOLD, AEGP_KeyInterp_BEZIER}) {
        SCOPED_TRACE(interp);
        inCommand([&](PF_InData* in) {
            editStream(in, kProgress, [&](const Suites& s, AEGP_StreamRefH stream) {
                writeKeys(s, stream, AEGP_LTimeMode_LayerTime, {{A_Time{1, 1}, 20.0}, {A_Time{3, 1}, 80.0}}, interp);
            });
        });
        ASSERT_EQ(instance->param(kProgress).keyframeCount(), 2u);  // replaced, not added to
        for (A_u_long scale : {24u, 100u}) {  // the same instants at another time scale
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

TEST_F(MinihostAegpTest, CompositionTimesAreMovedByTheLayerStart) {
    auto composition = std::make_shared<Composition>();
    Layer layer;
    layer.type = LayerType::Effect;
    layer.startSeconds = 1.5;
    const int layerId = composition->addLayer(layer).id;
    host.setComposition(composition);
    instance->setLayerId(layerId);
    inCommand([&](PF_InData* in) {
        A_Time comp{};
        EXPECT_EQ(Suites(in).pf->AEGP_ConvertEffectToCompTime(in->effect_ref, 24, 24, &comp), A_Err_NONE);
        EXPECT_EQ(comp.value, 24 + 36);
        EXPECT_EQ(comp.scale, 24u);
        editStream(in, kProgress, [&](const Suites& s, AEGP_StreamRefH stream) {
            writeKeys(s, stream, AEGP_LTimeMode_CompTime, {{A_Time{4, 2}, 40.0}}, AEGP_KeyInterp_LINEAR);
        });
    });
    ASSERT_EQ(instance->param(kProgress).keyframeCount(), 1u);
    EXPECT_DOUBLE_EQ(instance->param(kProgress).keyframeTime(0).seconds(), 0.5);  // composition 2 s
}

TEST_F(MinihostAegpTest, AUserChangeAskingForARefreshRunsTheVisibilityRulePerInstance) {
    Instance& cool = host.addInstance(64, 48);
    cool.setPopup(kColorMode, 2);
    ASSERT_EQ(host.userChangedParam(*instance, kColorMode), PF_Err_NONE);
    ASSERT_EQ(host.userChangedParam(cool, kColorMode), PF_Err_NONE);
    EXPECT_EQ(host.rerenderRequests(), 2);
    EXPECT_EQ(host.commandCount(PF_Cmd_UPDATE_PARAMS_UI), 2);
    EXPECT_TRUE(instance->isHidden(kTint));
    EXPECT_FALSE(cool.isHidden(kTint));
    EXPECT_FALSE(instance->isHidden(kProgress));
    EXPECT_EQ(instance->dynamicStreamFlags(kTint), static_cast<std::uint32_t>(AEGP_DynStreamFlag_HIDDEN));

    // Clearing the flag shows the parameter again; a change without out flags asks for nothing.
    instance->setPopup(kColorMode, 2);
    ASSERT_EQ(host.updateParamsUi(*instance), PF_Err_NONE);
    EXPECT_FALSE(instance->isHidden(kTint));
    ASSERT_EQ(host.userChangedParam(*instance, kProgress), PF_Err_NONE);
    EXPECT_EQ(host.rerenderRequests(), 2);
    EXPECT_EQ(host.commandCount(PF_Cmd_UPDATE_PARAMS_UI), 3);
}

}  // namespace
}  // namespace minihost
