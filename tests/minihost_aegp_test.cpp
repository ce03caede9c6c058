// Tests of minihost's AEGP suites for parameter streams, against a fake effect in this process:
// keyframes the effect writes through the Keyframe Suite are what checkout_param reads at later
// times (linear and hold), deleting and counting work on the same streams, hidden flags are kept
// per instance and parameter, a withheld suite cannot be acquired, and a user change's out flags
// are honoured (a re-render counted, a control refresh answered with PF_Cmd_UPDATE_PARAMS_UI).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "held_suites.h"
#include "AE_GeneralPlug.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"

namespace minihost {
namespace {

enum FakeParam : PF_ParamIndex {
    kProgress = 1,  // float slider 0 … 100, default 10
    kLook = 2,      // popup "Custom|Ramp|Step", default 1
    kColorMode = 3,  // popup "Warm|Cool", default 1
    kTint = 4,       // colour
    kParamCount = 5
};

using Handler = std::function<PF_Err(PF_InData*, PF_OutData*, PF_ParamDef**, void*)>;
std::map<PF_Cmd, Handler>* gHandlers = nullptr;

PF_Err fakeMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*, void* extra) {
    auto it = gHandlers->find(cmd);
    return it == gHandlers->end() ? PF_Err_NONE : it->second(in, out, params, extra);
}

PF_Err registerParams(PF_InData* in, PF_OutData* out) {
    PF_ParamDef def;
    auto begin = [&](PF_ParamType type, const char* name) {
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        std::snprintf(def.name, sizeof def.name, "%s", name);
    };
    begin(PF_Param_FLOAT_SLIDER, "Progress");
    def.u.fs_d.valid_max = def.u.fs_d.slider_max = 100.0f;
    def.u.fs_d.value = def.u.fs_d.dephault = 10.0f;
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_POPUP, "Look");
    def.u.pd.num_choices = 3;
    def.u.pd.value = def.u.pd.dephault = 1;
    def.u.pd.u.namesptr = "Custom|Ramp|Step";
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_POPUP, "Color Mode");
    def.u.pd.num_choices = 2;
    def.u.pd.value = def.u.pd.dephault = 1;
    def.u.pd.u.namesptr = "Warm|Cool";
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    begin(PF_Param_COLOR, "Tint");
    def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 200, 100, 0};
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) return err;
    out->num_params = kParamCount;
    return PF_Err_NONE;
}

// The suites as the effect holds them for one command.
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

constexpr AEGP_PluginID kPluginId = 42;

// What the effect does for a burn look: replace the progress keys by two keys from `from` at layer
// time 0 to `to` at `seconds`, with the given interpolation, as its own preset code does.
void writeProgressKeys(PF_InData* in, double from, double to, double seconds, AEGP_KeyframeInterpolationType interp) {
    Suites suites(in);
    AEGP_EffectRefH effect = nullptr;
    ASSERT_EQ(suites.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect), A_Err_NONE);
    ASSERT_NE(effect, nullptr);
    AEGP_StreamRefH stream = nullptr;
    ASSERT_EQ(suites.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kProgress, &stream), A_Err_NONE);
    ASSERT_NE(stream, nullptr);
    A_long count = -1;
    suites.keys->AEGP_GetStreamNumKFs(stream, &count);
    for (A_long i = count - 1; i >= 0; --i) EXPECT_EQ(suites.keys->AEGP_DeleteKeyframe(stream, i), A_Err_NONE);
    if (seconds > 0.01) {
        AEGP_AddKeyframesInfoH add = nullptr;
        ASSERT_EQ(suites.keys->AEGP_StartAddKeyframes(stream, &add), A_Err_NONE);
        A_Time start{0, 1};
        A_Time end{static_cast<A_long>(seconds * 1000 + 0.5), 1000};
        A_long index = -1;
        AEGP_StreamValue2 value{};
        value.streamH = stream;
        suites.keys->AEGP_AddKeyframes(add, AEGP_LTimeMode_LayerTime, &start, &index);
        value.val.one_d = from;
        suites.keys->AEGP_SetAddKeyframe(add, index, &value);
        suites.keys->AEGP_AddKeyframes(add, AEGP_LTimeMode_LayerTime, &end, &index);
        value.val.one_d = to;
        suites.keys->AEGP_SetAddKeyframe(add, index, &value);
        EXPECT_EQ(suites.keys->AEGP_EndAddKeyframes(true, add), A_Err_NONE);
        EXPECT_EQ(suites.keys->AEGP_SetKeyframeInterpolation(stream, 0, interp, interp), A_Err_NONE);
        EXPECT_EQ(suites.keys->AEGP_SetKeyframeInterpolation(stream, 1, interp, interp), A_Err_NONE);
    }
    EXPECT_EQ(suites.stream->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(suites.effect->AEGP_DisposeEffect(effect), A_Err_NONE);
}

// The effect's control-visibility rule: the tint is shown only in the "Cool" colour mode.
void updateVisibility(PF_InData* in, PF_ParamDef** params) {
    Suites suites(in);
    AEGP_EffectRefH effect = nullptr;
    if (suites.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect) || !effect) return;
    AEGP_StreamRefH stream = nullptr;
    if (!suites.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kTint, &stream) && stream) {
        suites.dynamic->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, false,
                                                  params[kColorMode]->u.pd.value != 2);
        suites.stream->AEGP_DisposeStream(stream);
    }
    suites.effect->AEGP_DisposeEffect(effect);
}

class MinihostAegpTest : public ::testing::Test {
protected:
    void SetUp() override {
        gHandlers = &handlers;
        handlers[PF_Cmd_PARAMS_SETUP] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
            return registerParams(in, out);
        };
        // The fake's look popup: write the progress value into the array, then rewrite its keys;
        // "Ramp" keys linearly, "Step" holds, "Custom" removes them.
        handlers[PF_Cmd_USER_CHANGED_PARAM] = [](PF_InData* in, PF_OutData* out, PF_ParamDef** params,
                                                 void* extra) -> PF_Err {
            PF_ParamIndex index = static_cast<PF_UserChangedParamExtra*>(extra)->param_index;
            if (index != kLook) return PF_Err_NONE;
            A_long look = params[kLook]->u.pd.value;
            params[kProgress]->u.fs_d.value = look == 1 ? 10.0 : 0.0;
            params[kProgress]->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
            if (look == 1) writeProgressKeys(in, 0, 0, 0, AEGP_KeyInterp_LINEAR);
            if (look == 2) writeProgressKeys(in, 50, 100, 5, AEGP_KeyInterp_LINEAR);
            if (look == 3) writeProgressKeys(in, 20, 80, 2, AEGP_KeyInterp_HOLD);
            out->out_flags |= PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;
            return PF_Err_NONE;
        };
        handlers[PF_Cmd_UPDATE_PARAMS_UI] = [](PF_InData* in, PF_OutData*, PF_ParamDef** params, void*) -> PF_Err {
            updateVisibility(in, params);
            return PF_Err_NONE;
        };
    }
    void TearDown() override { gHandlers = nullptr; }

    double progressAt(Host& host, Instance& instance, A_long frame) {
        // Read back through checkout_param, as the effect reads later frames.
        double seen = -1;
        handlers[PF_Cmd_SEQUENCE_RESETUP] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
            PF_ParamDef def{};
            PF_Err err = PF_CHECKOUT_PARAM(in, kProgress, frame, 1, 24, &def);
            if (err) return err;
            seen = def.u.fs_d.value;
            return PF_CHECKIN_PARAM(in, &def);
        };
        EXPECT_EQ(host.sequenceResetup(instance), PF_Err_NONE);
        handlers.erase(PF_Cmd_SEQUENCE_RESETUP);
        return seen;
    }

    std::map<PF_Cmd, Handler> handlers;
};

TEST_F(MinihostAegpTest, LinearKeyframesWrittenByTheEffectChangeLaterFrames) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    instance.setPopup(kLook, 2);
    ASSERT_EQ(host.userChangedParam(instance, kLook), PF_Err_NONE);

    ParamStream& progress = instance.param(kProgress);
    ASSERT_EQ(progress.keyframeCount(), 2u);
    EXPECT_DOUBLE_EQ(progress.keyframeTime(1).seconds(), 5.0);
    // The keys stand although the effect also handed back a progress value of 0 in the array.
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 0), 50.0);
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 60), 75.0);   // 2.5 s of 5
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 240), 100.0);  // past the last key
    EXPECT_EQ(host.aegp().liveEffects(), 0);
    EXPECT_EQ(host.aegp().liveStreams(), 0);
    EXPECT_EQ(host.aegp().liveAddKeyframes(), 0);
    EXPECT_TRUE(host.suites().unbalanced().empty());
}

TEST_F(MinihostAegpTest, HoldKeyframesStepAndCustomDeletesEveryKeyLeavingTheArrayValue) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    instance.setPopup(kLook, 3);
    ASSERT_EQ(host.userChangedParam(instance, kLook), PF_Err_NONE);
    ASSERT_EQ(instance.param(kProgress).keyframeCount(), 2u);
    EXPECT_EQ(instance.param(kProgress).keyframeInterpolation(0), Interpolation::Hold);
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 47), 20.0);  // just before 2 s: still the first key
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 48), 80.0);

    // Switching to another look replaces the keys rather than adding to them.
    instance.setPopup(kLook, 2);
    ASSERT_EQ(host.userChangedParam(instance, kLook), PF_Err_NONE);
    EXPECT_EQ(instance.param(kProgress).keyframeCount(), 2u);
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 0), 50.0);

    instance.setPopup(kLook, 1);
    ASSERT_EQ(host.userChangedParam(instance, kLook), PF_Err_NONE);
    EXPECT_EQ(instance.param(kProgress).keyframeCount(), 0u);
    EXPECT_DOUBLE_EQ(progressAt(host, instance, 100), 10.0);
}

TEST_F(MinihostAegpTest, KeyframeCallsRefuseBadHandlesAndIndices) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    instance.addKeyframe(kProgress, HostTime{0, 1}, ParamValue::floatSlider(1));
    instance.addKeyframe(kProgress, HostTime{1, 1}, ParamValue::floatSlider(2));
    instance.addKeyframe(kProgress, HostTime{2, 1}, ParamValue::floatSlider(3));
    handlers[PF_Cmd_SEQUENCE_RESETUP] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
        Suites suites(in);
        AEGP_EffectRefH effect = nullptr;
        suites.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect);
        AEGP_StreamRefH stream = nullptr;
        EXPECT_NE(suites.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, 99, &stream), A_Err_NONE);
        EXPECT_EQ(stream, nullptr);
        suites.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kProgress, &stream);
        A_long count = 0;
        EXPECT_EQ(suites.keys->AEGP_GetStreamNumKFs(stream, &count), A_Err_NONE);
        EXPECT_EQ(count, 3);
        EXPECT_NE(suites.keys->AEGP_DeleteKeyframe(stream, 3), A_Err_NONE);
        EXPECT_EQ(suites.keys->AEGP_DeleteKeyframe(stream, 1), A_Err_NONE);  // the key at 1 s
        suites.keys->AEGP_GetStreamNumKFs(stream, &count);
        EXPECT_EQ(count, 2);
        EXPECT_NE(suites.keys->AEGP_SetKeyframeInterpolation(stream, 0, AEGP_KeyInterp_NONE, AEGP_KeyInterp_NONE),
                  A_Err_NONE);
        EXPECT_EQ(suites.stream->AEGP_DisposeStream(stream), A_Err_NONE);
        EXPECT_NE(suites.keys->AEGP_GetStreamNumKFs(stream, &count), A_Err_NONE);  // disposed
        EXPECT_NE(suites.stream->AEGP_DisposeStream(reinterpret_cast<AEGP_StreamRefH>(&count)), A_Err_NONE);
        EXPECT_EQ(suites.effect->AEGP_DisposeEffect(effect), A_Err_NONE);
        EXPECT_NE(suites.effect->AEGP_DisposeEffect(effect), A_Err_NONE);
        return PF_Err_NONE;
    };
    ASSERT_EQ(host.sequenceResetup(instance), PF_Err_NONE);
    ASSERT_EQ(instance.param(kProgress).keyframeCount(), 2u);
    EXPECT_DOUBLE_EQ(instance.param(kProgress).keyframeValue(1).u.fs_d.value, 3.0);
}

TEST_F(MinihostAegpTest, CompositionTimeKeysAreMovedByTheLayerStart) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    auto composition = std::make_shared<Composition>();
    Layer layer;
    layer.type = LayerType::Effect;
    layer.startSeconds = 1.5;
    int layerId = composition->addLayer(layer).id;
    host.setComposition(composition);
    Instance& instance = host.addInstance(64, 48);
    instance.setLayerId(layerId);
    handlers[PF_Cmd_SEQUENCE_RESETUP] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
        Suites suites(in);
        A_Time comp{};
        EXPECT_EQ(suites.pf->AEGP_ConvertEffectToCompTime(in->effect_ref, 24, 24, &comp), A_Err_NONE);
        EXPECT_EQ(comp.value, 24 + 36);
        EXPECT_EQ(comp.scale, 24u);
        AEGP_EffectRefH effect = nullptr;
        suites.pf->AEGP_GetNewEffectForEffect(kPluginId, in->effect_ref, &effect);
        AEGP_StreamRefH stream = nullptr;
        suites.stream->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, kProgress, &stream);
        AEGP_AddKeyframesInfoH add = nullptr;
        suites.keys->AEGP_StartAddKeyframes(stream, &add);
        A_Time at{4, 2};  // composition 2 s is layer 0.5 s
        A_long index = -1;
        suites.keys->AEGP_AddKeyframes(add, AEGP_LTimeMode_CompTime, &at, &index);
        AEGP_StreamValue2 value{};
        value.val.one_d = 40;
        suites.keys->AEGP_SetAddKeyframe(add, index, &value);
        suites.keys->AEGP_EndAddKeyframes(true, add);
        suites.stream->AEGP_DisposeStream(stream);
        suites.effect->AEGP_DisposeEffect(effect);
        return PF_Err_NONE;
    };
    ASSERT_EQ(host.sequenceResetup(instance), PF_Err_NONE);
    ASSERT_EQ(instance.param(kProgress).keyframeCount(), 1u);
    EXPECT_DOUBLE_EQ(instance.param(kProgress).keyframeTime(0).seconds(), 0.5);
}

TEST_F(MinihostAegpTest, HiddenFlagsAreKeptPerInstanceAndParameter) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& warm = host.addInstance(64, 48);
    Instance& cool = host.addInstance(64, 48);
    cool.setPopup(kColorMode, 2);
    ASSERT_EQ(host.updateParamsUi(warm), PF_Err_NONE);
    ASSERT_EQ(host.updateParamsUi(cool), PF_Err_NONE);
    EXPECT_TRUE(warm.isHidden(kTint));
    EXPECT_FALSE(cool.isHidden(kTint));
    EXPECT_FALSE(warm.isHidden(kProgress));
    EXPECT_EQ(warm.dynamicStreamFlags(kTint), static_cast<std::uint32_t>(AEGP_DynStreamFlag_HIDDEN));

    // Clearing the flag shows the parameter again.
    warm.setPopup(kColorMode, 2);
    ASSERT_EQ(host.updateParamsUi(warm), PF_Err_NONE);
    EXPECT_FALSE(warm.isHidden(kTint));
}

TEST_F(MinihostAegpTest, EachSuiteCanBeWithheld) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    const std::pair<const char*, int32> offered[] = {
        {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1}, {kAEGPStreamSuite, kAEGPStreamSuiteVersion2},
        {kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2}, {kAEGPEffectSuite, kAEGPEffectSuiteVersion4},
        {kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4}};
    for (const auto& entry : offered) {
        const char* name = entry.first;
        const int32 version = entry.second;
        EXPECT_TRUE(host.suites().isOffered(name, version)) << name;
        host.suites().withhold(name, version);
        SPErr result = kSPNoError;
        handlers[PF_Cmd_SEQUENCE_RESETUP] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
            const void* suite = nullptr;
            result = in->pica_basicP->AcquireSuite(name, version, &suite);
            return PF_Err_NONE;
        };
        ASSERT_EQ(host.sequenceResetup(instance), PF_Err_NONE);
        EXPECT_NE(result, kSPNoError) << name;
        EXPECT_EQ(host.suites().failedAcquireCount(name, version), 1) << name;
        host.suites().restore(name, version);
    }
}

TEST_F(MinihostAegpTest, UserChangeOutFlagsAreCountedAndARefreshSendsUpdateParamsUi) {
    Host host(&fakeMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    ASSERT_EQ(host.userChangedParam(instance, kColorMode), PF_Err_NONE);  // the fake sets no flags here
    EXPECT_EQ(host.rerenderRequests(), 0);
    EXPECT_EQ(host.commandCount(PF_Cmd_UPDATE_PARAMS_UI), 0);

    instance.setPopup(kLook, 1);
    ASSERT_EQ(host.userChangedParam(instance, kLook), PF_Err_NONE);
    EXPECT_EQ(host.rerenderRequests(), 1);
    EXPECT_EQ(host.uiRefreshRequests(), 1);
    EXPECT_EQ(host.commandCount(PF_Cmd_UPDATE_PARAMS_UI), 1);
    EXPECT_TRUE(instance.isHidden(kTint));  // the refresh ran the effect's visibility rule
    EXPECT_EQ(host.lastCommand().cmd, PF_Cmd_USER_CHANGED_PARAM);
    EXPECT_EQ(host.lastCommand().changedParams, std::vector<PF_ParamIndex>{kProgress});
}

}  // namespace
}  // namespace minihost
