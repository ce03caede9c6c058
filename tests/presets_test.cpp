// Presets, colour presets and parameter visibility, driven in process: a fake host parameter array
// and a small fake AEGP layer (basic suite, PF interface, stream, dynamic stream, effect and keyframe
// suites) that records every call, keeps the "Burn Progress" keyframes and the hidden flags per
// parameter, and can withhold any suite. Expected preset and colour preset values come from the
// design's tables in tests/data, never from params/presets.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_GeneralPlug.h"
#include "SPBasic.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "param_table_data.h"
#include "params/color_presets.h"
#include "params/param_list.h"
#include "params/presets.h"
#include "params/visibility.h"

namespace cindel {
namespace {

constexpr double kUntouched = -12345.0;  // a float slider value no preset writes
constexpr A_long kUntouchedInt = 777;

// ---------------------------------------------------------------------------------------------
// The host's parameter array of one command.

struct FakeParams {
    std::vector<PF_ParamDef> defs = std::vector<PF_ParamDef>(kHostParamCount);
    std::vector<PF_ParamDef*> ptrs = std::vector<PF_ParamDef*>(kHostParamCount);

    FakeParams() {
        for (int i = 0; i < kHostParamCount; ++i) {
            PF_ParamDef& d = defs[static_cast<size_t>(i)];
            std::memset(&d, 0, sizeof(d));
            ptrs[static_cast<size_t>(i)] = &d;
            const ParamEntry* e = paramEntry(i);
            if (!e) continue;
            switch (e->kind) {
                case ParamKind::kFloatSlider:
                    d.param_type = PF_Param_FLOAT_SLIDER;
                    d.u.fs_d.value = kUntouched;
                    break;
                case ParamKind::kPopup:
                    d.param_type = PF_Param_POPUP;
                    d.u.pd.value = kUntouchedInt;
                    break;
                case ParamKind::kCheckbox:
                    d.param_type = PF_Param_CHECKBOX;
                    d.u.bd.value = kUntouchedInt;
                    break;
                case ParamKind::kAngle:
                    d.param_type = PF_Param_ANGLE;
                    d.u.ad.value = kUntouchedInt;
                    break;
                case ParamKind::kColor:
                    d.param_type = PF_Param_COLOR;
                    d.u.cd.value = {7, 7, 7, 7};
                    break;
                default:
                    break;
            }
        }
    }
    PF_ParamDef* operator[](int i) { return ptrs[static_cast<size_t>(i)]; }
    PF_ParamDef** array() { return ptrs.data(); }
};

// ---------------------------------------------------------------------------------------------
// The fake AEGP layer. Suites are plain C records, so the callbacks find the fake through one
// pointer that the fixture sets.

struct Key {
    A_Time time;
    double value;
    AEGP_KeyframeInterpolationType inInterp = AEGP_KeyInterp_NONE;
    AEGP_KeyframeInterpolationType outInterp = AEGP_KeyInterp_NONE;
};

struct FakeAegp;
FakeAegp* gAegp = nullptr;

struct FakeAegp {
    std::set<std::string> missing;  // "name/version" of suites to withhold
    std::map<std::string, int> acquired;
    std::map<std::string, int> released;
    std::vector<std::string> calls;

    bool nullEffect = false;
    A_Err effectErr = A_Err_NONE;
    std::set<int> nullStreams;
    A_long forcedKeyCount = 0;  // used when nonzero, to model a host's negative answer
    bool nullAddHandle = false;

    int liveEffects = 0;
    int liveStreams = 0;
    std::map<int, std::vector<Key>> keys;  // by parameter index
    std::map<int, bool> hidden;            // by parameter index
    std::vector<int> hiddenOrder;
    std::vector<A_Boolean> undoableArgs;

    struct Adding {
        int index = 0;
        std::vector<Key> pending;
    } adding;
    char effectToken = 0;
    char addToken = 0;

    AEGP_PFInterfaceSuite1 pfInterface{};
    AEGP_StreamSuite2 stream{};
    AEGP_DynamicStreamSuite2 dynamicStream{};
    AEGP_EffectSuite4 effect{};
    AEGP_KeyframeSuite4 keyframe{};
    SPBasicSuite basic{};

    static std::string key(const char* name, int32 version) { return std::string(name) + "/" + std::to_string(version); }
    static AEGP_StreamRefH streamHandle(int index) { return reinterpret_cast<AEGP_StreamRefH>(static_cast<intptr_t>(index + 1)); }
    static int streamIndex(AEGP_StreamRefH s) { return static_cast<int>(reinterpret_cast<intptr_t>(s)) - 1; }

    FakeAegp() {
        gAegp = this;
        basic.AcquireSuite = [](const char* name, int32 version, const void** suite) -> SPErr {
            const std::string k = key(name, version);
            *suite = nullptr;
            if (gAegp->missing.count(k)) return 1;
            const void* p = nullptr;
            if (k == key(kAEGPPFInterfaceSuite, 1)) p = &gAegp->pfInterface;
            if (k == key(kAEGPStreamSuite, 7)) p = &gAegp->stream;
            if (k == key(kAEGPDynamicStreamSuite, 2)) p = &gAegp->dynamicStream;
            if (k == key(kAEGPEffectSuite, 4)) p = &gAegp->effect;
            if (k == key(kAEGPKeyframeSuite, 4)) p = &gAegp->keyframe;
            if (!p) return 1;
            ++gAegp->acquired[k];
            *suite = p;
            return kSPNoError;
        };
        basic.ReleaseSuite = [](const char* name, int32 version) -> SPErr {
            ++gAegp->released[key(name, version)];
            return kSPNoError;
        };
        pfInterface.AEGP_GetNewEffectForEffect = [](AEGP_PluginID id, PF_ProgPtr, AEGP_EffectRefH* out) -> A_Err {
            gAegp->calls.push_back("GetNewEffectForEffect " + std::to_string(id));
            *out = gAegp->nullEffect ? nullptr : reinterpret_cast<AEGP_EffectRefH>(&gAegp->effectToken);
            if (*out) ++gAegp->liveEffects;
            return gAegp->effectErr;
        };
        stream.AEGP_GetNewEffectStreamByIndex = [](AEGP_PluginID, AEGP_EffectRefH fx, PF_ParamIndex index,
                                                   AEGP_StreamRefH* out) -> A_Err {
            EXPECT_EQ(fx, reinterpret_cast<AEGP_EffectRefH>(&gAegp->effectToken));
            gAegp->calls.push_back("GetNewEffectStreamByIndex " + std::to_string(index));
            *out = gAegp->nullStreams.count(index) ? nullptr : streamHandle(index);
            if (*out) ++gAegp->liveStreams;
            return A_Err_NONE;
        };
        stream.AEGP_DisposeStream = [](AEGP_StreamRefH) -> A_Err {
            gAegp->calls.push_back("DisposeStream");
            --gAegp->liveStreams;
            return A_Err_NONE;
        };
        dynamicStream.AEGP_SetDynamicStreamFlag = [](AEGP_StreamRefH s, AEGP_DynStreamFlags flag, A_Boolean undoable,
                                                     A_Boolean set) -> A_Err {
            EXPECT_EQ(flag, static_cast<AEGP_DynStreamFlags>(AEGP_DynStreamFlag_HIDDEN));
            gAegp->hidden[streamIndex(s)] = set != 0;
            gAegp->hiddenOrder.push_back(streamIndex(s));
            gAegp->undoableArgs.push_back(undoable);
            return A_Err_NONE;
        };
        effect.AEGP_DisposeEffect = [](AEGP_EffectRefH) -> A_Err {
            gAegp->calls.push_back("DisposeEffect");
            --gAegp->liveEffects;
            return A_Err_NONE;
        };
        keyframe.AEGP_GetStreamNumKFs = [](AEGP_StreamRefH s, A_long* n) -> A_Err {
            gAegp->calls.push_back("GetStreamNumKFs");
            *n = gAegp->forcedKeyCount ? gAegp->forcedKeyCount
                                       : static_cast<A_long>(gAegp->keys[streamIndex(s)].size());
            return A_Err_NONE;
        };
        keyframe.AEGP_DeleteKeyframe = [](AEGP_StreamRefH s, AEGP_KeyframeIndex i) -> A_Err {
            gAegp->calls.push_back("DeleteKeyframe " + std::to_string(i));
            auto& k = gAegp->keys[streamIndex(s)];
            if (i < 0 || i >= static_cast<A_long>(k.size())) return A_Err_PARAMETER;
            k.erase(k.begin() + i);
            return A_Err_NONE;
        };
        keyframe.AEGP_StartAddKeyframes = [](AEGP_StreamRefH s, AEGP_AddKeyframesInfoH* out) -> A_Err {
            gAegp->calls.push_back("StartAddKeyframes");
            gAegp->adding = {streamIndex(s), {}};
            *out = gAegp->nullAddHandle ? nullptr : reinterpret_cast<AEGP_AddKeyframesInfoH>(&gAegp->addToken);
            return A_Err_NONE;
        };
        keyframe.AEGP_AddKeyframes = [](AEGP_AddKeyframesInfoH, AEGP_LTimeMode mode, const A_Time* t,
                                        A_long* index) -> A_Err {
            gAegp->calls.push_back("AddKeyframes mode " + std::to_string(mode));
            *index = static_cast<A_long>(gAegp->adding.pending.size());
            gAegp->adding.pending.push_back({*t, 0.0});
            return A_Err_NONE;
        };
        keyframe.AEGP_SetAddKeyframe = [](AEGP_AddKeyframesInfoH, A_long index, const AEGP_StreamValue2* v) -> A_Err {
            gAegp->calls.push_back("SetAddKeyframe");
            gAegp->adding.pending.at(static_cast<size_t>(index)).value = v->val.one_d;
            return A_Err_NONE;
        };
        keyframe.AEGP_EndAddKeyframes = [](A_Boolean add, AEGP_AddKeyframesInfoH) -> A_Err {
            gAegp->calls.push_back(std::string("EndAddKeyframes ") + (add ? "add" : "discard"));
            if (add) {
                auto& k = gAegp->keys[gAegp->adding.index];
                k.insert(k.end(), gAegp->adding.pending.begin(), gAegp->adding.pending.end());
            }
            return A_Err_NONE;
        };
        keyframe.AEGP_SetKeyframeInterpolation = [](AEGP_StreamRefH s, AEGP_KeyframeIndex i,
                                                    AEGP_KeyframeInterpolationType in,
                                                    AEGP_KeyframeInterpolationType out) -> A_Err {
            gAegp->calls.push_back("SetKeyframeInterpolation " + std::to_string(i));
            Key& k = gAegp->keys[streamIndex(s)].at(static_cast<size_t>(i));
            k.inInterp = in;
            k.outInterp = out;
            return A_Err_NONE;
        };
    }
    ~FakeAegp() { gAegp = nullptr; }

    int countCalls(const std::string& prefix) const {
        int n = 0;
        for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    int totalAcquired() const {
        int n = 0;
        for (const auto& [k, v] : acquired) n += v;
        return n;
    }
    bool balanced() const { return acquired == released && liveEffects == 0 && liveStreams == 0; }
};

constexpr AEGP_PluginID kPluginId = 42;

class PresetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&in, 0, sizeof(in));
        std::memset(&out, 0, sizeof(out));
        in.pica_basicP = &aegp.basic;
        in.appl_id = cindel::fourCharCode('F', 'X', 'T', 'C');
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(&in);
        savedId = processState().aegpPluginId;
        processState().aegpPluginId = kPluginId;
    }
    void TearDown() override { processState().aegpPluginId = savedId; }

    PF_Err userChanged(int index) {
        PF_UserChangedParamExtra extra{index};
        return effectMain(PF_Cmd_USER_CHANGED_PARAM, &in, &out, params.array(), nullptr, &extra);
    }
    PF_Err pickPreset(A_long value) {
        params[kParamPreset]->u.pd.value = value;
        return userChanged(kParamPreset);
    }
    void seedBurnKeys(int n) {
        for (int i = 0; i < n; ++i) aegp.keys[kParamBurnProgress].push_back({{i * 10, 30}, 10.0 * i});
    }

    FakeAegp aegp;
    FakeParams params;
    PF_InData in;
    PF_OutData out;
    AEGP_PluginID savedId = 0;
};

constexpr PF_OutFlags kRefreshFlags = PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;

// The indices a record targets, in the order the record lists them.
std::vector<int> presetTargets() {
    std::vector<int> targets;
    forEachPresetField(customPreset(), [&](int index, const auto&) { targets.push_back(index); });
    return targets;
}

// What a parameter definition holds, as a double, whatever its type (colours as 0xAARRGGBB).
double heldValue(PF_ParamDef* d) {
    switch (d->param_type) {
        case PF_Param_FLOAT_SLIDER: return d->u.fs_d.value;
        case PF_Param_POPUP: return d->u.pd.value;
        case PF_Param_CHECKBOX: return d->u.bd.value;
        case PF_Param_ANGLE: return d->u.ad.value;
        case PF_Param_COLOR: {
            const PF_Pixel p = d->u.cd.value;
            return double((std::uint32_t(p.alpha) << 24) | (std::uint32_t(p.red) << 16) |
                          (std::uint32_t(p.green) << 8) | p.blue);
        }
        default: return kUntouched;
    }
}

// ---------------------------------------------------------------------------------------------
// The tables.

TEST(PresetTable, TargetsEveryPresetDrivenParameterOnceAscendingWithKeyLightLast) {
    const std::vector<int> targets = presetTargets();
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets.back(), kParamKeyLight);
    for (size_t i = 1; i + 1 < targets.size(); ++i) EXPECT_LT(targets[i - 1], targets[i]);

    // Every value-carrying parameter is preset-driven except these, which a preset never writes.
    const std::set<int> excluded = {kParamPreset, kParamColorPreset, kParamQuality,
                                    kParamVoxelSize, kParamSimMode, kParamDebugView};
    std::set<int> expected;
    for (const ParamEntry& e : paramEntries()) {
        const bool carriesValue = e.kind == ParamKind::kFloatSlider || e.kind == ParamKind::kPopup ||
                                  e.kind == ParamKind::kCheckbox || e.kind == ParamKind::kColor ||
                                  e.kind == ParamKind::kAngle;
        if (carriesValue && !excluded.count(e.index)) expected.insert(e.index);
    }
    EXPECT_EQ(std::set<int>(targets.begin(), targets.end()), expected);
    EXPECT_EQ(targets.size(), expected.size());
}

// ---------------------------------------------------------------------------------------------
// Writing a record.

TEST_F(PresetsTest, ChangeFlagsOnExactlyTheWrittenParameters) {
    ASSERT_EQ(pickPreset(8), PF_Err_NONE);
    const std::vector<int> targets = presetTargets();
    const std::set<int> written(targets.begin(), targets.end());
    for (int i = 0; i < kHostParamCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(params[i]->uu.change_flags, written.count(i) ? PF_ChangeFlag_CHANGED_VALUE : 0);
        if (!written.count(i) && params[i]->param_type != 0) {
            EXPECT_EQ(heldValue(params[i]), i == kParamPreset ? 8.0 : heldValue(FakeParams()[i]));
        }
    }
    EXPECT_EQ(params[kParamQuality]->u.pd.value, kUntouchedInt);
    EXPECT_EQ(params[kParamColorPreset]->u.pd.value, kUntouchedInt);
    EXPECT_EQ(out.out_flags & kRefreshFlags, kRefreshFlags);
}

// The value a parameter holds once a preset wrote `text`, the design's spelling of it.
double heldFromDesign(const testdata::ParamRow& row, const std::string& text) {
    if (row.type == "float slider") return double(std::stof(text));  // the record holds singles
    if (row.type == "popup") return std::stoi(text);
    if (row.type == "checkbox") return text == "on" ? 1 : 0;
    if (row.type == "angle") return double(PF_Fixed(std::stof(text) * 65536.0f));
    if (row.type == "colour") return double(0xFF000000u | std::uint32_t(std::stoul(text.substr(1), nullptr, 16)));
    ADD_FAILURE() << "no value for a " << row.type;
    return 0;
}

// Every look is "Custom" (the parameter defaults) with exactly the changes the design lists; the
// parameters a preset never writes are left out. Names, values and keyframe fields all come from
// the transcribed tables.
TEST_F(PresetsTest, EveryPresetIsCustomWithTheChangesTheDesignLists) {
    const std::vector<testdata::ParamRow> table = testdata::parameterTable();
    ASSERT_EQ(table.size(), 136u);
    std::map<std::string, int> indexByName;
    for (const testdata::ParamRow& row : table)
        if (row.type != "group start" && !row.name.empty()) indexByName[row.name] = row.index;
    const std::set<std::string> valueTypes = {"float slider", "popup", "checkbox", "angle", "colour"};
    const std::set<int> neverWritten = {kParamPreset, kParamColorPreset, kParamQuality,
                                        kParamVoxelSize, kParamSimMode, kParamDebugView};

    std::vector<std::vector<std::string>> looks = testdata::readRows("presets.tsv", 3);
    ASSERT_EQ(looks.size(), 15u);
    looks.insert(looks.begin(), {"1", "Custom", ""});
    for (const std::vector<std::string>& look : looks) {
        SCOPED_TRACE(look[1]);
        const PresetRecord* preset = presetForChoice(std::stoi(look[0]));
        ASSERT_NE(preset, nullptr);
        EXPECT_STREQ(preset->name, look[1].c_str());

        std::map<int, std::string> changes;
        std::map<std::string, float> keys = {{"progressKeyDuration", 0}, {"progressKeyStart", 0}, {"progressKeyEnd", 0}};
        for (std::string item : testdata::splitAt(look[2], ';')) {
            if (item.empty()) continue;
            if (item[0] == ' ') item.erase(0, 1);
            if (const std::size_t paren = item.find(" ("); paren != std::string::npos) item.resize(paren);
            const std::size_t space = item.rfind(' ');
            const std::string name = item.substr(0, space), value = item.substr(space + 1);
            if (keys.count(name)) {
                keys[name] = std::stof(value);
            } else {
                ASSERT_TRUE(indexByName.count(name)) << "no parameter \"" << name << "\"";
                changes[indexByName.at(name)] = value;
            }
        }

        FakeParams held;
        applyPreset(held.array(), *preset);
        for (const testdata::ParamRow& row : table) {
            if (!valueTypes.count(row.type) || neverWritten.count(row.index)) continue;
            const auto change = changes.find(row.index);
            EXPECT_EQ(heldValue(held[row.index]), heldFromDesign(row, change != changes.end() ? change->second : row.dephault))
                << row.name;
        }
        EXPECT_EQ(preset->progressKeyDuration, keys["progressKeyDuration"]);
        EXPECT_EQ(preset->progressKeyStart, keys["progressKeyStart"]);
        EXPECT_EQ(preset->progressKeyEnd, keys["progressKeyEnd"]);
    }
}

TEST_F(PresetsTest, EveryColourPresetWritesTheDesignsThreeColours) {
    const std::vector<std::vector<std::string>> rows = testdata::readRows("color_presets.tsv", 5);
    ASSERT_EQ(rows.size(), 7u);
    for (const std::vector<std::string>& row : rows) {
        SCOPED_TRACE(row[1]);
        FakeParams held;
        held[kParamColorPreset]->u.pd.value = std::stoi(row[0]);
        applyColorPreset(held.array());
        const int targets[] = {kParamSource, kParamMid, kParamTailCool};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(heldValue(held[targets[k]]), double(0xFF000000u | std::stoul(row[2 + k].substr(1), nullptr, 16)))
                << targets[k];
            EXPECT_EQ(held[targets[k]]->uu.change_flags, PF_ChangeFlag_CHANGED_VALUE);
        }
    }
}

TEST_F(PresetsTest, AnglesAreSixteenSixteenTruncatedTowardZero) {
    PresetRecord r = customPreset();
    r.heatEvolution = 0.3f;  // 19660.8 after scaling
    r.hueShift = -0.3f;
    applyPreset(params.array(), r);
    EXPECT_EQ(params[kParamHeatEvolution]->u.ad.value, 19660);
    EXPECT_EQ(params[kParamHueShift]->u.ad.value, -19660);
    r.heatEvolution = 90.0f;
    applyPreset(params.array(), r);
    EXPECT_EQ(params[kParamHeatEvolution]->u.ad.value, 90 * 65536);
    applyPreset(params.array(), customPreset());
    EXPECT_EQ(params[kParamHeatEvolution]->u.ad.value, 0);
    EXPECT_EQ(params[kParamHeatEvolution]->uu.change_flags, PF_ChangeFlag_CHANGED_VALUE);
}

TEST_F(PresetsTest, ColoursAlwaysCarryFullAlpha) {
    for (A_long v = 1; v <= 16; ++v) {
        FakeParams p;
        applyPreset(p.array(), *presetForChoice(v));
        for (int index : {kParamSource, kParamMid, kParamTailCool, kParamScatterColor, kParamAmbientColor,
                          kParamColorTint}) {
            EXPECT_EQ(p[index]->u.cd.value.alpha, 255) << v << " " << index;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// "Burn Progress" keyframes.

TEST_F(PresetsTest, BurnIrisLeavesTwoLinearKeys) {
    seedBurnKeys(3);
    ASSERT_EQ(pickPreset(16), PF_Err_NONE);
    EXPECT_EQ(out.out_flags & kRefreshFlags, kRefreshFlags);
    const auto& keys = aegp.keys[kParamBurnProgress];
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].time.value, 0);
    EXPECT_EQ(keys[0].time.scale, 1u);
    EXPECT_EQ(keys[0].value, 50.0);
    EXPECT_EQ(keys[1].time.value, 5000);
    EXPECT_EQ(keys[1].time.scale, 1000u);
    EXPECT_EQ(keys[1].value, 100.0);
    for (const Key& k : keys) {
        EXPECT_EQ(k.inInterp, AEGP_KeyInterp_LINEAR);
        EXPECT_EQ(k.outInterp, AEGP_KeyInterp_LINEAR);
    }
    const std::vector<std::string> expected = {
        "GetNewEffectForEffect 42", "GetNewEffectStreamByIndex 51", "GetStreamNumKFs",
        "DeleteKeyframe 2", "DeleteKeyframe 1", "DeleteKeyframe 0", "StartAddKeyframes",
        "AddKeyframes mode 0", "SetAddKeyframe", "AddKeyframes mode 0", "SetAddKeyframe",
        "EndAddKeyframes add", "SetKeyframeInterpolation 0", "SetKeyframeInterpolation 1",
        "DisposeStream", "DisposeEffect"};
    EXPECT_EQ(aegp.calls, expected);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, CustomDeletesEveryKeyAndAddsNone) {
    seedBurnKeys(4);
    ASSERT_EQ(pickPreset(1), PF_Err_NONE);
    EXPECT_TRUE(aegp.keys[kParamBurnProgress].empty());
    EXPECT_EQ(aegp.countCalls("DeleteKeyframe"), 4);
    EXPECT_EQ(aegp.countCalls("StartAddKeyframes"), 0);
    EXPECT_EQ(out.out_flags & kRefreshFlags, kRefreshFlags);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, DurationOfExactlyTenMillisecondsAddsNoKeys) {
    seedBurnKeys(1);
    setBurnProgressKeyframes(&in, 0.01f, 0.0f, 100.0f);
    EXPECT_EQ(aegp.countCalls("GetStreamNumKFs"), 1);
    EXPECT_EQ(aegp.countCalls("StartAddKeyframes"), 0);
    EXPECT_TRUE(aegp.keys[kParamBurnProgress].empty());

    // Just above the threshold keys are added, so the case above is not vacuous.
    setBurnProgressKeyframes(&in, 0.0106f, 0.0f, 100.0f);
    ASSERT_EQ(aegp.keys[kParamBurnProgress].size(), 2u);
    EXPECT_EQ(aegp.keys[kParamBurnProgress][1].time.value, 11);  // rounded to milliseconds
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, NegativeKeyCountDeletesNothing) {
    aegp.forcedKeyCount = -3;
    setBurnProgressKeyframes(&in, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(aegp.countCalls("GetStreamNumKFs"), 1);
    EXPECT_EQ(aegp.countCalls("DeleteKeyframe"), 0);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, NullHandlesShortenTheKeyframeStep) {
    aegp.nullEffect = true;
    setBurnProgressKeyframes(&in, 5.0f, 0.0f, 100.0f);
    EXPECT_EQ(aegp.calls, std::vector<std::string>{"GetNewEffectForEffect 42"});

    aegp.calls.clear();
    aegp.nullEffect = false;
    aegp.nullStreams = {kParamBurnProgress};
    setBurnProgressKeyframes(&in, 5.0f, 0.0f, 100.0f);
    EXPECT_EQ(aegp.calls, (std::vector<std::string>{"GetNewEffectForEffect 42", "GetNewEffectStreamByIndex 51",
                                                    "DisposeEffect"}));

    aegp.calls.clear();
    aegp.nullStreams.clear();
    aegp.nullAddHandle = true;
    setBurnProgressKeyframes(&in, 5.0f, 0.0f, 100.0f);
    EXPECT_EQ(aegp.countCalls("AddKeyframes"), 0);
    EXPECT_EQ(aegp.countCalls("DisposeStream"), 1);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, MissingKeyframeSuiteFailsAfterTheValuesAreWritten) {
    aegp.missing.insert(FakeAegp::key(kAEGPKeyframeSuite, 4));
    seedBurnKeys(2);
    EXPECT_EQ(pickPreset(16), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(params[kParamBurnMode]->u.pd.value, 5);
    EXPECT_EQ(params[kParamKeyLight]->uu.change_flags, PF_ChangeFlag_CHANGED_VALUE);
    EXPECT_EQ(out.out_flags & kRefreshFlags, 0);
    EXPECT_EQ(aegp.keys[kParamBurnProgress].size(), 2u);  // nothing deleted
    EXPECT_TRUE(aegp.balanced());                         // suites released, handles given back
}

TEST_F(PresetsTest, WithoutRegistrationOrInPremiereOnlyTheKeyframeStepIsSkipped) {
    seedBurnKeys(2);
    processState().aegpPluginId = 0;
    ASSERT_EQ(pickPreset(16), PF_Err_NONE);
    EXPECT_EQ(params[kParamBurnMode]->u.pd.value, 5);
    EXPECT_EQ(out.out_flags & kRefreshFlags, kRefreshFlags);
    EXPECT_EQ(aegp.totalAcquired(), 0);
    EXPECT_TRUE(aegp.calls.empty());

    processState().aegpPluginId = kPluginId;
    in.appl_id = kPremiereApplId;
    out.out_flags = 0;
    params[kParamBurnMode]->u.pd.value = kUntouchedInt;
    ASSERT_EQ(pickPreset(15), PF_Err_NONE);
    EXPECT_EQ(params[kParamBurnMode]->u.pd.value, 4);
    EXPECT_EQ(out.out_flags & kRefreshFlags, kRefreshFlags);
    EXPECT_EQ(aegp.totalAcquired(), 0);
    EXPECT_EQ(aegp.keys[kParamBurnProgress].size(), 2u);
}

TEST_F(PresetsTest, OutOfRangeChoiceWritesNothing) {
    for (A_long v : {0, 17}) {
        ASSERT_EQ(pickPreset(v), PF_Err_NONE);
        EXPECT_EQ(out.out_flags & kRefreshFlags, 0);
        EXPECT_EQ(params[kParamLife]->uu.change_flags, 0);
        EXPECT_EQ(aegp.totalAcquired(), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Colour presets.

TEST_F(PresetsTest, ColorPresetWritesThreeColoursAndNoOutFlag) {
    params[kParamColorPreset]->u.pd.value = 3;  // "Blue Flame"
    ASSERT_EQ(userChanged(kParamColorPreset), PF_Err_NONE);
    const auto expectColor = [&](int index, std::uint32_t rgb) {
        SCOPED_TRACE(index);
        EXPECT_EQ(heldValue(params[index]), double(0xFF000000u | rgb));
        EXPECT_EQ(params[index]->uu.change_flags, PF_ChangeFlag_CHANGED_VALUE);
    };
    expectColor(kParamSource, 0x80FFFF);
    expectColor(kParamMid, 0x0080FF);
    expectColor(kParamTailCool, 0x000040);
    EXPECT_EQ(out.out_flags, 0);
    int flagged = 0;
    for (int i = 0; i < kHostParamCount; ++i) flagged += params[i]->uu.change_flags ? 1 : 0;
    EXPECT_EQ(flagged, 3);
}

TEST_F(PresetsTest, ColorPresetCustomOrOutOfRangeWritesNothing) {
    for (A_long v : {1, 0, 9}) {
        params[kParamColorPreset]->u.pd.value = v;
        applyColorPreset(params.array());
        for (int i = 0; i < kHostParamCount; ++i) EXPECT_EQ(params[i]->uu.change_flags, 0) << v << " " << i;
        EXPECT_EQ(params[kParamSource]->u.cd.value.alpha, 7);
    }
    params[kParamColorPreset]->u.pd.value = 8;  // "Ash Smoke", the last record
    applyColorPreset(params.array());
    EXPECT_EQ(heldValue(params[kParamTailCool]), double(0xFF1A1A1Au));
}

// ---------------------------------------------------------------------------------------------
// Visibility.

TEST_F(PresetsTest, VisibilityFollowsTheColourMode) {
    params[kParamColorMode]->u.pd.value = 1;  // Blackbody
    ASSERT_EQ(effectMain(PF_Cmd_UPDATE_PARAMS_UI, &in, &out, params.array(), nullptr, nullptr), PF_Err_NONE);
    const std::vector<int> order = {kParamColorPreset, kParamSource,   kParamMid,          kParamMinColorTemp,
                                    kParamMaxColorTemp, kParamCustomMap, kParamLightCast, kParamLifeSoftness,
                                    kParamFadeSoftness};
    EXPECT_EQ(aegp.hiddenOrder, order);
    const std::map<int, bool> blackbody = {{78, true}, {81, true},   {82, true},  {79, false}, {80, false},
                                           {12, true}, {126, true}, {24, true}, {26, true}};
    EXPECT_EQ(aegp.hidden, blackbody);
    for (A_Boolean u : aegp.undoableArgs) EXPECT_EQ(u, 0);
    EXPECT_TRUE(aegp.balanced());

    // Switching to "Custom Ramp" swaps the two sets at once through the supervised change.
    params[kParamColorMode]->u.pd.value = 2;
    ASSERT_EQ(userChanged(kParamColorMode), PF_Err_NONE);
    const std::map<int, bool> ramp = {{78, true}, {81, false}, {82, false}, {79, true}, {80, true},
                                      {12, true}, {126, true}, {24, true},  {26, true}};
    EXPECT_EQ(aegp.hidden, ramp);
    EXPECT_EQ(out.out_flags, 0);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, VisibilityDoesNothingInPremiereOrWithoutRegistration) {
    in.appl_id = kPremiereApplId;
    EXPECT_EQ(updateParamVisibility(&in, params.array()), PF_Err_NONE);
    in.appl_id = cindel::fourCharCode('F', 'X', 'T', 'C');
    processState().aegpPluginId = 0;
    EXPECT_EQ(updateParamVisibility(&in, params.array()), PF_Err_NONE);
    EXPECT_EQ(aegp.totalAcquired(), 0);
    EXPECT_TRUE(aegp.hidden.empty());
}

TEST_F(PresetsTest, VisibilitySkipsWhatHasNoHandle) {
    aegp.effectErr = A_Err_GENERIC;
    EXPECT_EQ(updateParamVisibility(&in, params.array()), PF_Err_NONE);
    EXPECT_TRUE(aegp.hidden.empty());
    aegp.effectErr = A_Err_NONE;
    aegp.liveEffects = 0;  // the failed call's handle is the host's to keep

    aegp.nullStreams = {kParamMid};
    params[kParamColorMode]->u.pd.value = 2;
    EXPECT_EQ(updateParamVisibility(&in, params.array()), PF_Err_NONE);
    EXPECT_EQ(aegp.hidden.size(), 8u);
    EXPECT_EQ(aegp.hidden.count(kParamMid), 0u);
    EXPECT_TRUE(aegp.balanced());
}

TEST_F(PresetsTest, VisibilityWithoutDynamicStreamSuiteFails) {
    aegp.missing.insert(FakeAegp::key(kAEGPDynamicStreamSuite, 2));
    params[kParamColorMode]->u.pd.value = 1;
    EXPECT_EQ(effectMain(PF_Cmd_UPDATE_PARAMS_UI, &in, &out, params.array(), nullptr, nullptr),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(aegp.hidden.empty());
    EXPECT_TRUE(aegp.balanced());
}

}  // namespace
}  // namespace cindel
