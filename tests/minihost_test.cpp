// Tests of minihost, the substitute host, against a fake effect in this process: a function with
// EffectMain's signature that registers a small parameter table and does, per command, what the
// test asks of it through the host's own callbacks. What is checked is the host's side of the
// contract the real effect relies on: definitions and their strings kept, values at host times,
// the host's units (percent point defaults, downsampled points, 16.16 angles), range checks,
// suites that can be withheld and are counted, handles, worlds with padding, checkout counting and
// the smart pre-render/render hand-over, at full and at the reduced preview resolutions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "minihost/handles.h"
#include "minihost/host.h"
#include "minihost/host_error.h"
#include "minihost/plugin_library.h"
#include "minihost/unexpected_slot.h"
#include "minihost/world.h"

namespace minihost {
namespace {

// Indices of the fake effect's parameters.
enum FakeParam : PF_ParamIndex {
    kScale = 1,      // float slider 0.1 … 5, default 1
    kMode = 2,       // popup "Soft|Hard|Wild", default 2
    kInvert = 3,     // checkbox with an empty name and the label "Invert"
    kPosition = 4,   // 3-D point, default (50 %, 50 %, 7 px)
    kEvolution = 5,  // angle, default 30°
    kTint = 6,       // colour, default (10, 20, 30)
    kSource = 7,     // layer, default none
    kFakeParamCount = 8
};

using Handler = std::function<PF_Err(PF_InData*, PF_OutData*, PF_ParamDef**, void*)>;

// What the fake effect does; a test replaces the handlers it cares about.
struct FakeEffect {
    std::map<PF_Cmd, Handler> handlers;
    std::vector<PF_Cmd> received;
};

FakeEffect* gFake = nullptr;

PF_Err fakeEffectMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*, void* extra) {
    gFake->received.push_back(cmd);
    auto it = gFake->handlers.find(cmd);
    return it == gFake->handlers.end() ? PF_Err_NONE : it->second(in, out, params, extra);
}

// Registers the fake table the way the real effect does: one definition and one string buffer
// reused for every row, so a host that keeps the effect's pointers ends up with scribbled text.
PF_Err registerFakeParams(PF_InData* in, PF_OutData* out) {
    PF_ParamDef def;
    char text[64];
    auto begin = [&](PF_ParamType type, const char* name, A_long id) {
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        std::snprintf(def.name, sizeof def.name, "%s", name);
        def.uu.id = id;
    };
    auto add = [&]() {
        PF_Err err = PF_ADD_PARAM(in, -1, &def);
        std::memset(text, 'x', sizeof text - 1);
        text[sizeof text - 1] = '\0';
        return err;
    };

    begin(PF_Param_FLOAT_SLIDER, "Scale", kScale);
    def.u.fs_d.valid_min = def.u.fs_d.slider_min = 0.1f;
    def.u.fs_d.valid_max = def.u.fs_d.slider_max = 5.0f;
    def.u.fs_d.value = def.u.fs_d.dephault = 1.0f;
    def.u.fs_d.precision = 2;
    if (PF_Err err = add()) return err;

    begin(PF_Param_POPUP, "Mode", kMode);
    std::snprintf(text, sizeof text, "Soft|Hard|Wild");
    def.u.pd.num_choices = 3;
    def.u.pd.value = def.u.pd.dephault = 2;
    def.u.pd.u.namesptr = text;
    def.flags = PF_ParamFlag_SUPERVISE;
    if (PF_Err err = add()) return err;

    begin(PF_Param_CHECKBOX, "", kInvert);
    std::snprintf(text, sizeof text, "Invert");
    def.u.bd.u.nameptr = text;
    if (PF_Err err = add()) return err;

    begin(PF_Param_POINT_3D, "Position", kPosition);
    def.u.point3d_d.x_value = def.u.point3d_d.x_dephault = 50;
    def.u.point3d_d.y_value = def.u.point3d_d.y_dephault = 50;
    def.u.point3d_d.z_value = def.u.point3d_d.z_dephault = 7;
    if (PF_Err err = add()) return err;

    begin(PF_Param_ANGLE, "Evolution", kEvolution);
    def.u.ad.value = def.u.ad.dephault = 30 << 16;
    if (PF_Err err = add()) return err;

    begin(PF_Param_COLOR, "Tint", kTint);
    def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 10, 20, 30};
    if (PF_Err err = add()) return err;

    begin(PF_Param_LAYER, "Source", kSource);
    def.u.ld.dephault = PF_LayerDefault_NONE;
    if (PF_Err err = add()) return err;

    out->num_params = kFakeParamCount;
    return PF_Err_NONE;
}

// Sequence data of the fake: 32 bytes, the first 8 a running id.
std::uint64_t gNextFakeId = 1;

PF_Err fakeSequenceSetup(PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
    PF_Handle handle = PF_NEW_HANDLE(in, 32);
    if (!handle) return PF_Err_NONE;
    auto* bytes = static_cast<std::uint64_t*>(PF_LOCK_HANDLE(in, handle));
    bytes[0] = gNextFakeId++;
    PF_UNLOCK_HANDLE(in, handle);
    out->sequence_data = handle;
    return PF_Err_NONE;
}

PF_Err fakeSequenceSetdown(PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
    if (in->sequence_data) PF_DISPOSE_HANDLE(in, in->sequence_data);
    out->sequence_data = nullptr;
    return PF_Err_NONE;
}

std::uint64_t idOf(const Instance& instance) {
    std::vector<std::uint8_t> bytes = instance.sequenceBytes();
    std::uint64_t id = 0;
    if (bytes.size() >= 8) std::memcpy(&id, bytes.data(), 8);
    return id;
}

class MinihostTest : public ::testing::Test {
protected:
    void SetUp() override {
        gFake = &fake;
        fake.handlers[PF_Cmd_PARAMS_SETUP] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
            return registerFakeParams(in, out);
        };
        fake.handlers[PF_Cmd_SEQUENCE_SETUP] = &fakeSequenceSetup;
        fake.handlers[PF_Cmd_SEQUENCE_RESETUP] = &fakeSequenceSetup;
        fake.handlers[PF_Cmd_SEQUENCE_SETDOWN] = &fakeSequenceSetdown;
    }
    void TearDown() override { gFake = nullptr; }

    // Runs `body` inside a command, as the effect would, through the host's real callbacks.
    PF_Err inCommand(Host& host, Instance& instance, const std::function<void(PF_InData*)>& body) {
        fake.handlers[PF_Cmd_UPDATE_PARAMS_UI] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
            body(in);
            return PF_Err_NONE;
        };
        return host.updateParamsUi(instance);
    }

    // One checkout and checkin of a parameter at a host time, from inside a command.
    PF_ParamDef checkout(Host& host, Instance& instance, PF_ParamIndex index, A_long time, A_u_long scale,
                         PF_Err* err = nullptr) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        inCommand(host, instance, [&](PF_InData* in) {
            PF_Err result = PF_CHECKOUT_PARAM(in, index, time, in->time_step, scale, &def);
            if (err) *err = result;
            if (result == PF_Err_NONE) PF_CHECKIN_PARAM(in, &def);
        });
        return def;
    }

    FakeEffect fake;
};

// ---- Parameter definitions

TEST_F(MinihostTest, ParameterDefinitionsAreCollectedWithTheirStringsCopied) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);

    ASSERT_EQ(host.definitions().size(), static_cast<std::size_t>(kFakeParamCount));
    EXPECT_EQ(host.effectNumParams(), kFakeParamCount);
    EXPECT_EQ(host.addParamCalls(), kFakeParamCount - 1);
    EXPECT_EQ(host.definition(0).def.param_type, PF_Param_LAYER);
    for (PF_ParamIndex i = 1; i < kFakeParamCount; ++i) EXPECT_EQ(host.definition(i).def.uu.id, i);

    // The fake wrote 'x' over its string buffer after every add_param; the host's copies survive.
    const ParamDefinition& mode = host.definition(kMode);
    EXPECT_STREQ(mode.def.u.pd.u.namesptr, "Soft|Hard|Wild");
    EXPECT_EQ(mode.choiceNames(), (std::vector<std::string>{"Soft", "Hard", "Wild"}));
    EXPECT_EQ(mode.def.flags, PF_ParamFlag_SUPERVISE);
    const ParamDefinition& invert = host.definition(kInvert);
    EXPECT_STREQ(invert.def.name, "");
    EXPECT_STREQ(invert.def.u.bd.u.nameptr, "Invert");

    // A copy of a definition points at its own strings, not at the original's.
    ParamDefinition copy = mode;
    EXPECT_NE(copy.def.u.pd.u.namesptr, mode.def.u.pd.u.namesptr);
    EXPECT_STREQ(copy.def.u.pd.u.namesptr, "Soft|Hard|Wild");

    EXPECT_FLOAT_EQ(host.definition(kScale).def.u.fs_d.valid_min, 0.1f);
    EXPECT_EQ(host.definition(kScale).name(), "Scale");
}

TEST_F(MinihostTest, AddParamFailsAtTheChosenIndexAndLaterParametersStayUnregistered) {
    Host host(&fakeEffectMain);
    host.faults().addParamAtIndex = 3;
    host.faults().addParamError = PF_Err_OUT_OF_MEMORY;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);

    EXPECT_EQ(host.paramsSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.definitions().size(), 3u);  // the input layer and parameters 1 and 2
    EXPECT_EQ(host.addParamCalls(), 3);
    EXPECT_NE(host.effectNumParams(), kFakeParamCount);  // the fake returned before setting it

    // Registering again without the fault gives the whole table.
    host.faults().addParamAtIndex = 0;
    EXPECT_EQ(host.paramsSetup(), PF_Err_NONE);
    EXPECT_EQ(host.definitions().size(), static_cast<std::size_t>(kFakeParamCount));
}

TEST_F(MinihostTest, AddParamOutsideParameterSetUpIsRefused) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    PF_Err err = PF_Err_NONE;
    inCommand(host, instance, [&](PF_InData* in) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = PF_Param_FLOAT_SLIDER;
        err = PF_ADD_PARAM(in, -1, &def);
    });
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.definitions().size(), static_cast<std::size_t>(kFakeParamCount));
}

// ---- Values over time

TEST_F(MinihostTest, LinearKeyframesInterpolateAndHoldTheirEndValuesOutsideTheKeys) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    instance.addKeyframe(kScale, HostTime{24, 24}, ParamValue::floatSlider(1.0));
    instance.addKeyframe(kScale, HostTime{72, 24}, ParamValue::floatSlider(3.0));

    auto at = [&](A_long time, A_u_long scale) { return checkout(host, instance, kScale, time, scale).u.fs_d.value; };
    EXPECT_DOUBLE_EQ(at(0, 24), 1.0);     // before the first key: the first value
    EXPECT_DOUBLE_EQ(at(24, 24), 1.0);    // on the first key
    EXPECT_DOUBLE_EQ(at(48, 24), 2.0);    // half way
    EXPECT_DOUBLE_EQ(at(54, 24), 2.25);   // 2.25 s: 1.25 of the 2 s between the keys
    EXPECT_DOUBLE_EQ(at(200, 100), 2.0);  // the same 2 s at another time scale
    EXPECT_DOUBLE_EQ(at(72, 24), 3.0);    // on the last key
    EXPECT_DOUBLE_EQ(at(1000, 24), 3.0);  // after the last key: the last value
}

TEST_F(MinihostTest, HoldKeyframesAndPopupsStepInsteadOfInterpolating) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    instance.addKeyframe(kScale, HostTime{0, 24}, ParamValue::floatSlider(1.0), Interpolation::Hold);
    instance.addKeyframe(kScale, HostTime{24, 24}, ParamValue::floatSlider(4.0));
    instance.addKeyframe(kMode, HostTime{0, 24}, ParamValue::popup(1));
    instance.addKeyframe(kMode, HostTime{24, 24}, ParamValue::popup(3));

    EXPECT_DOUBLE_EQ(checkout(host, instance, kScale, 23, 24).u.fs_d.value, 1.0);
    EXPECT_DOUBLE_EQ(checkout(host, instance, kScale, 24, 24).u.fs_d.value, 4.0);
    EXPECT_EQ(checkout(host, instance, kMode, 12, 24).u.pd.value, 1);
    EXPECT_EQ(checkout(host, instance, kMode, 24, 24).u.pd.value, 3);
}

TEST_F(MinihostTest, ValuesAreStaticUntilKeyedAndDefaultsComeFromTheRegistration) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    EXPECT_DOUBLE_EQ(checkout(host, instance, kScale, 0, 24).u.fs_d.value, 1.0);
    EXPECT_EQ(checkout(host, instance, kMode, 0, 24).u.pd.value, 2);
    EXPECT_EQ(checkout(host, instance, kInvert, 0, 24).u.bd.value, 0);
    PF_Pixel tint = checkout(host, instance, kTint, 0, 24).u.cd.value;
    EXPECT_EQ(tint.red, 10);
    EXPECT_EQ(tint.blue, 30);

    instance.setFloat(kScale, 2.5);
    instance.setCheckbox(kInvert, true);
    EXPECT_DOUBLE_EQ(checkout(host, instance, kScale, 500, 24).u.fs_d.value, 2.5);
    EXPECT_EQ(checkout(host, instance, kInvert, 0, 24).u.bd.value, 1);
    // The checked-out definition is the registered one with the value in it.
    PF_ParamDef scale = checkout(host, instance, kScale, 0, 24);
    EXPECT_STREQ(scale.name, "Scale");
    EXPECT_FLOAT_EQ(scale.u.fs_d.valid_max, 5.0f);
}

// ---- The host's units

TEST_F(MinihostTest, PointDefaultIsAPercentageOfTheLayerAndCheckoutsAreDownsampled) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(200, 100);

    PF_ParamDef full = checkout(host, instance, kPosition, 0, 24);
    EXPECT_DOUBLE_EQ(full.u.point3d_d.x_value, 100.0);
    EXPECT_DOUBLE_EQ(full.u.point3d_d.y_value, 50.0);
    EXPECT_DOUBLE_EQ(full.u.point3d_d.z_value, 7.0);  // z is registered in pixels, not percent

    host.settings().downsampleX = PF_RationalScale{1, 2};
    host.settings().downsampleY = PF_RationalScale{1, 4};
    PF_ParamDef half = checkout(host, instance, kPosition, 0, 24);
    EXPECT_DOUBLE_EQ(half.u.point3d_d.x_value, 50.0);
    EXPECT_DOUBLE_EQ(half.u.point3d_d.y_value, 12.5);
    EXPECT_DOUBLE_EQ(half.u.point3d_d.z_value, 3.5);  // z follows the x factor

    instance.setPoint3D(kPosition, 30, 40, 10);
    PF_ParamDef set = checkout(host, instance, kPosition, 0, 24);
    EXPECT_DOUBLE_EQ(set.u.point3d_d.x_value, 15.0);
    EXPECT_DOUBLE_EQ(set.u.point3d_d.y_value, 10.0);
    EXPECT_DOUBLE_EQ(set.u.point3d_d.z_value, 5.0);

    // A default follows the layer it is a percentage of; a set value does not.
    Instance& other = host.addInstance(400, 300);
    host.settings().downsampleX = host.settings().downsampleY = PF_RationalScale{1, 1};
    EXPECT_DOUBLE_EQ(checkout(host, other, kPosition, 0, 24).u.point3d_d.y_value, 150.0);
    EXPECT_DOUBLE_EQ(checkout(host, instance, kPosition, 0, 24).u.point3d_d.y_value, 40.0);
}

TEST_F(MinihostTest, AnglesAreCheckedOutAsFixedPointDegrees) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    EXPECT_EQ(checkout(host, instance, kEvolution, 0, 24).u.ad.value, 30 << 16);

    instance.setAngle(kEvolution, 90.5);
    EXPECT_EQ(checkout(host, instance, kEvolution, 0, 24).u.ad.value, 5931008);  // 90.5 × 65536
    instance.setAngle(kEvolution, -720.25);
    EXPECT_EQ(checkout(host, instance, kEvolution, 0, 24).u.ad.value, -47202304);

    instance.addKeyframe(kEvolution, HostTime{0, 24}, ParamValue::angleDegrees(0));
    instance.addKeyframe(kEvolution, HostTime{24, 24}, ParamValue::angleDegrees(90));
    EXPECT_EQ(checkout(host, instance, kEvolution, 12, 24).u.ad.value, 45 << 16);
}

// ---- Validation and the raw setter

TEST_F(MinihostTest, OutOfRangeValuesAreRefusedWithTheRangeInTheMessage) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();

    auto messageOf = [](const std::function<void()>& set) -> std::string {
        try {
            set();
        } catch (const HostError& error) {
            return error.what();
        }
        return "";
    };
    std::string tooBig = messageOf([&] { instance.setFloat(kScale, 7.0); });
    EXPECT_NE(tooBig.find("0.1 to 5"), std::string::npos) << tooBig;
    EXPECT_NE(tooBig.find("\"Scale\""), std::string::npos) << tooBig;
    EXPECT_NE(tooBig.find("parameter 1"), std::string::npos) << tooBig;

    EXPECT_NE(messageOf([&] { instance.setPopup(kMode, 4); }).find("1 to 3"), std::string::npos);
    EXPECT_NE(messageOf([&] { instance.setPopup(kMode, 0); }).find("1 to 3"), std::string::npos);
    EXPECT_FALSE(messageOf([&] { instance.setFloat(kScale, std::nan("")); }).empty());
    EXPECT_FALSE(messageOf([&] {
                     instance.addKeyframe(kScale, HostTime{0, 24}, ParamValue::floatSlider(0.05));
                 }).empty());
    EXPECT_FALSE(messageOf([&] { instance.setPopup(kScale, 1); }).empty());  // wrong type
    EXPECT_FALSE(messageOf([&] { instance.setFloat(99, 1.0); }).empty());    // no such parameter

    // The registered bounds themselves are inside, although 0.1 is not exactly a float.
    EXPECT_TRUE(messageOf([&] { instance.setFloat(kScale, 0.1); }).empty());
    EXPECT_TRUE(messageOf([&] { instance.setFloat(kScale, 5.0); }).empty());
    // A refused value leaves the stream as it was.
    EXPECT_DOUBLE_EQ(checkout(host, instance, kScale, 0, 24).u.fs_d.value, 5.0);
}

TEST_F(MinihostTest, TheRawSetterFeedsTheEffectValuesTheRangesWouldRefuse) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();

    instance.setUnchecked(kScale, ParamValue::floatSlider(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(std::isnan(checkout(host, instance, kScale, 0, 24).u.fs_d.value));
    instance.setUnchecked(kScale, ParamValue::floatSlider(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(checkout(host, instance, kScale, 0, 24).u.fs_d.value, -std::numeric_limits<double>::infinity());
    instance.setUnchecked(kMode, ParamValue::popup(17));
    EXPECT_EQ(checkout(host, instance, kMode, 0, 24).u.pd.value, 17);
    instance.setUnchecked(kEvolution, ParamValue::angleFixed(std::numeric_limits<PF_Fixed>::min()));
    EXPECT_EQ(checkout(host, instance, kEvolution, 0, 24).u.ad.value, std::numeric_limits<PF_Fixed>::min());
}

// ---- Checkouts

TEST_F(MinihostTest, CheckoutsAreCountedWithTheirTimesAndUnbalancedOnesAreVisible) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    instance.checkouts().clear();

    inCommand(host, instance, [](PF_InData* in) {
        PF_ParamDef def;
        for (A_long t = 0; t < 3; ++t) {
            PF_CHECKOUT_PARAM(in, kScale, t * 10, 10, 240, &def);
            PF_CHECKIN_PARAM(in, &def);
        }
        PF_ParamDef leaked;
        PF_CHECKOUT_PARAM(in, kMode, 0, 10, 240, &leaked);  // never checked in
    });
    const CheckoutLog& log = instance.checkouts();
    EXPECT_EQ(log.checkouts(kScale), 3);
    EXPECT_EQ(log.checkins(kScale), 3);
    EXPECT_EQ(log.outstanding(kScale), 0);
    EXPECT_EQ(log.checkouts(kMode), 1);
    EXPECT_EQ(log.outstanding(kMode), 1);
    EXPECT_EQ(log.outstanding(), 1);
    EXPECT_EQ(log.checkouts(kTint), 0);
    std::vector<HostTime> times = log.times(kScale);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[2].value, 20);
    EXPECT_EQ(times[2].scale, 240u);
}

TEST_F(MinihostTest, AFailingCheckoutIsReportedCountedAndNotLeftOpen) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    host.faults().paramCheckout[kScale] = PF_Err_INTERNAL_STRUCT_DAMAGED;

    PF_Err err = PF_Err_NONE;
    checkout(host, instance, kScale, 0, 24, &err);
    EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    checkout(host, instance, kMode, 0, 24, &err);
    EXPECT_EQ(err, PF_Err_NONE);
    checkout(host, instance, 42, 0, 24, &err);
    EXPECT_EQ(err, PF_Err_INVALID_INDEX);

    EXPECT_EQ(instance.checkouts().failedCheckouts(kScale), 1);
    EXPECT_EQ(instance.checkouts().outstanding(), 0);
}

TEST_F(MinihostTest, LayerCheckoutsGiveTheLayerWorldOrAnEmptyOne) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(32, 16);
    World source(8, 4, 16);
    EXPECT_EQ(checkout(host, instance, kSource, 0, 24).u.ld.data, nullptr);
    EXPECT_EQ(checkout(host, instance, kSource, 0, 24).u.ld.width, 0);

    instance.setLayer(kSource, source);
    PF_ParamDef layer = checkout(host, instance, kSource, 0, 24);
    EXPECT_EQ(layer.u.ld.data, source.get()->data);
    EXPECT_EQ(layer.u.ld.width, 8);
    PF_ParamDef input = checkout(host, instance, 0, 0, 24);
    EXPECT_EQ(input.u.ld.width, 32);  // the host's own transparent layer when none was given
    EXPECT_THROW(instance.setLayer(kScale, source), HostError);
}

// ---- Suites

TEST_F(MinihostTest, SuitesAreCountedAndAWithheldSuiteCannotBeAcquired) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    const void* suite = nullptr;
    SPErr acquired = -1;

    inCommand(host, instance, [&](PF_InData* in) {
        acquired = in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
    });
    EXPECT_EQ(acquired, kSPNoError);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(host.suites().acquireCount(kPFWorldSuite, 2), 1);
    EXPECT_EQ(host.suites().outstanding(kPFWorldSuite, 2), 0);

    host.suites().withhold(kPFWorldSuite, kPFWorldSuiteVersion2);
    suite = reinterpret_cast<const void*>(1);
    inCommand(host, instance, [&](PF_InData* in) {
        acquired = in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
    });
    EXPECT_NE(acquired, kSPNoError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(host.suites().failedAcquireCount(kPFWorldSuite, 2), 1);
    EXPECT_EQ(host.suites().acquireCount(kPFWorldSuite, 2), 1);

    // Another version of the same name is a different suite.
    inCommand(host, instance,
              [&](PF_InData* in) { acquired = in->pica_basicP->AcquireSuite(kAEGPUtilitySuite, 12, &suite); });
    EXPECT_NE(acquired, kSPNoError);

    // A suite taken and not given back is visible.
    host.suites().restoreAll();
    inCommand(host, instance, [&](PF_InData* in) {
        in->pica_basicP->AcquireSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6, &suite);
    });
    EXPECT_EQ(host.suites().outstanding(kAEGPUtilitySuite, 13), 1);
    ASSERT_EQ(host.suites().unbalanced().size(), 1u);
    EXPECT_EQ(host.suites().unbalanced()[0].first, kAEGPUtilitySuite);
}

TEST_F(MinihostTest, RegistrationWithAegpGivesAnIdAndRecordsTheName) {
    Host host(&fakeEffectMain);
    AEGP_PluginID id = 0;
    A_Err err = -1;
    fake.handlers[PF_Cmd_GLOBAL_SETUP] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
        const void* suite = nullptr;
        if (in->pica_basicP->AcquireSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6, &suite)) return PF_Err_NONE;
        err = static_cast<const AEGP_UtilitySuite6*>(suite)->AEGP_RegisterWithAEGP(nullptr, "Fake", &id);
        in->pica_basicP->ReleaseSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6);
        return PF_Err_NONE;
    };
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(err, A_Err_NONE);
    EXPECT_EQ(id, 42);
    EXPECT_EQ(host.builtinSuites().registeredNames, std::vector<std::string>{"Fake"});

    host.faults().registerWithAegp = A_Err_GENERIC;
    id = 0;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(err, A_Err_GENERIC);
    EXPECT_EQ(id, 0);
}

TEST_F(MinihostTest, WorldSuiteReportsEachDepthAndItsQueryCanBeMadeToFail) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    World w8(2, 2, 8), w16(2, 2, 16), w32(2, 2, 32);
    std::vector<PF_PixelFormat> formats;
    std::vector<PF_Err> results;
    auto query = [&] {
        formats.clear();
        results.clear();
        inCommand(host, instance, [&](PF_InData* in) {
            const void* suite = nullptr;
            in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
            auto* worlds = static_cast<const PF_WorldSuite2*>(suite);
            for (World* w : {&w8, &w16, &w32}) {
                PF_EffectWorld copy = *w->get();  // effects pass their own copies around
                PF_PixelFormat format = PF_PixelFormat_INVALID;
                results.push_back(worlds->PF_GetPixelFormat(&copy, &format));
                formats.push_back(format);
            }
            in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        });
    };
    query();
    EXPECT_EQ(formats,
              (std::vector<PF_PixelFormat>{PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}));
    EXPECT_EQ(results, (std::vector<PF_Err>{PF_Err_NONE, PF_Err_NONE, PF_Err_NONE}));

    host.faults().pixelFormatQuery = true;
    query();
    EXPECT_EQ(results[1], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(formats[1], PF_PixelFormat_INVALID);
}

// ---- Handles and sequence data

TEST_F(MinihostTest, HandlesRoundTripThroughTheUtilityCallbacks) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    HandleHeap& heap = HandleHeap::process();
    std::size_t liveBefore = heap.liveCount();
    std::uint64_t invalidBefore = heap.invalidUses();

    inCommand(host, instance, [&](PF_InData* in) {
        PF_Handle handle = PF_NEW_HANDLE(in, 16);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(in->utils->host_get_handle_size(handle), 16u);
        auto* bytes = static_cast<char*>(PF_LOCK_HANDLE(in, handle));
        std::memcpy(bytes, "fire and smoke!", 16);
        PF_UNLOCK_HANDLE(in, handle);
        EXPECT_EQ(in->utils->host_resize_handle(64, &handle), PF_Err_NONE);
        EXPECT_EQ(in->utils->host_get_handle_size(handle), 64u);
        EXPECT_STREQ(static_cast<char*>(PF_LOCK_HANDLE(in, handle)), "fire and smoke!");
        PF_UNLOCK_HANDLE(in, handle);
        PF_DISPOSE_HANDLE(in, handle);
        PF_DISPOSE_HANDLE(in, handle);  // a second dispose is caught, not a double free
    });
    EXPECT_EQ(heap.liveCount(), liveBefore);
    EXPECT_EQ(heap.invalidUses(), invalidBefore + 1);
}

// Every suite a host registers is a whole published table: the host calls by slot position, so
// each slot must be there, and one the effect has no business calling must answer an error and be
// recorded rather than crash or succeed. Slot counts are the published ones.
TEST_F(MinihostTest, EverySuiteIsAWholeTableAndUnusedSlotsAnswerAnErrorAndAreRecorded) {
    struct Published {
        const char* name;
        int32 version;
        std::size_t slots;
    };
    const Published published[] = {
        {kAEGPUtilitySuite, 13, 33}, {kAEGPPFInterfaceSuite, 1, 5},    {kAEGPStreamSuite, 7, 22},
        {kAEGPStreamSuite, 11, 23},  {kAEGPDynamicStreamSuite, 2, 17}, {kAEGPEffectSuite, 4, 22},
        {kAEGPKeyframeSuite, 4, 20}, {kAEGPLayerSuite, 14, 50},        {kAEGPCompSuite, 25, 44},
        {kAEGPMaskSuite, 7, 21},     {kAEGPMaskOutlineSuite, 5, 12},   {kPFWorldSuite, 2, 3},
    };
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    clearUnexpectedSlotCalls();
    A_Err activeLayerErr = A_Err_NONE;
    PF_Err samplingErr = PF_Err_NONE;
    inCommand(host, instance, [&](PF_InData* in) {
        for (const Published& p : published) {
            const void* suite = nullptr;
            ASSERT_EQ(in->pica_basicP->AcquireSuite(p.name, p.version, &suite), kSPNoError)
                << p.name << " " << p.version;
            void* slots[64];
            ASSERT_LE(p.slots, std::size(slots));
            std::memcpy(slots, suite, p.slots * sizeof(void*));
            for (std::size_t i = 0; i < p.slots; ++i)
                EXPECT_NE(slots[i], nullptr) << p.name << " " << p.version << ", slot " << i;
            in->pica_basicP->ReleaseSuite(p.name, p.version);
        }
        const void* suite = nullptr;
        in->pica_basicP->AcquireSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion8, &suite);
        AEGP_LayerH layer = nullptr;
        activeLayerErr = static_cast<const AEGP_LayerSuite8*>(suite)->AEGP_GetActiveLayer(&layer);
        in->pica_basicP->ReleaseSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion8);
        samplingErr = in->utils->begin_sampling(in->effect_ref, PF_Quality_HI, 0, nullptr);
        EXPECT_EQ(in->utils->ansi.hypot(3.0, 4.0), 5.0);
    });
    EXPECT_NE(activeLayerErr, A_Err_NONE);
    EXPECT_NE(samplingErr, PF_Err_NONE);
    EXPECT_EQ(unexpectedSlotCalls(),
              (std::vector<std::string>{"AEGP_LayerSuite8.AEGP_GetActiveLayer", "PF_UtilCallbacks.begin_sampling"}));
    clearUnexpectedSlotCalls();
}

TEST_F(MinihostTest, EachInstanceKeepsItsOwnSequenceDataThroughSetUpReSetUpAndSetDown) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    HandleHeap& heap = HandleHeap::process();
    std::size_t liveBefore = heap.liveCount();
    gNextFakeId = 1;

    Instance& first = host.addInstance();
    Instance& second = host.addInstance();
    EXPECT_EQ(idOf(first), 1u);
    EXPECT_EQ(idOf(second), 2u);
    EXPECT_EQ(heap.liveCount(), liveBefore + 2);

    PF_Handle old = first.sequenceData();
    ASSERT_EQ(host.sequenceResetup(first), PF_Err_NONE);
    EXPECT_EQ(idOf(first), 3u);
    EXPECT_NE(first.sequenceData(), old);
    EXPECT_EQ(heap.liveCount(), liveBefore + 2);  // the replaced handle was freed by the host

    // The effect sees the instance's own handle in every command.
    PF_Handle seen = nullptr;
    inCommand(host, second, [&](PF_InData* in) { seen = in->sequence_data; });
    EXPECT_EQ(seen, second.sequenceData());

    host.sequenceSetdown(first);
    host.sequenceSetdown(second);
    EXPECT_EQ(first.sequenceData(), nullptr);
    EXPECT_EQ(heap.liveCount(), liveBefore);

    // A host that cannot allocate gives the effect a null handle.
    host.faults().newHandle = true;
    Instance& third = host.addInstance();
    EXPECT_EQ(third.sequenceData(), nullptr);
}

TEST_F(MinihostTest, ShutdownSetsDownEveryInstanceBeforeTheEffect) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    HandleHeap& heap = HandleHeap::process();
    std::size_t liveBefore = heap.liveCount();
    host.addInstance();
    host.addInstance();
    fake.received.clear();

    EXPECT_EQ(host.shutdown(), PF_Err_NONE);
    EXPECT_EQ(fake.received,
              (std::vector<PF_Cmd>{PF_Cmd_SEQUENCE_SETDOWN, PF_Cmd_SEQUENCE_SETDOWN, PF_Cmd_GLOBAL_SETDOWN}));
    EXPECT_EQ(heap.liveCount(), liveBefore);

    // An instance belongs to the Host that made it.
    Host other(&fakeEffectMain);
    EXPECT_THROW(other.sequenceSetup(*host.instances()[0]), HostError);
}

// ---- Worlds

TEST(MinihostWorldTest, PaddingHoldsTheSentinelUntilSomethingWritesOutsideThePixels) {
    World world(5, 3, 16, 12);
    EXPECT_EQ(world.rowBytes(), 5 * 8 + 12);
    EXPECT_EQ(world.get()->world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);
    EXPECT_EQ(world.pixelFormat(), PF_PixelFormat_ARGB64);
    EXPECT_TRUE(world.paddingIntact());

    // Writing every pixel, walked by rowbytes as the effect must, leaves the padding alone.
    PF_EffectWorld* w = world.get();
    for (A_long y = 0; y < w->height; ++y) {
        auto* row = reinterpret_cast<PF_Pixel16*>(reinterpret_cast<char*>(w->data) + y * w->rowbytes);
        for (A_long x = 0; x < w->width; ++x) row[x] = PF_Pixel16{PF_MAX_CHAN16, 1, 2, 3};
    }
    EXPECT_TRUE(world.paddingIntact());
    EXPECT_EQ(world.pixel16(4, 2).alpha, PF_MAX_CHAN16);

    // Walking by width × pixel size instead runs into the padding of the first row.
    reinterpret_cast<PF_Pixel16*>(w->data)[5] = PF_Pixel16{0, 0, 0, 0};
    EXPECT_FALSE(world.paddingIntact());
    EXPECT_EQ(world.paddingBytesChanged(), 8u);
}

TEST(MinihostWorldTest, AwkwardWorldsForBadInputTests) {
    World empty(0, 0, 8);
    EXPECT_EQ(empty.get()->data, nullptr);
    EXPECT_EQ(empty.get()->width, 0);
    EXPECT_TRUE(empty.paddingIntact());

    World shortRows = World::withRowBytes(10, 4, 32, 16);
    EXPECT_EQ(shortRows.rowBytes(), 16);
    EXPECT_LT(shortRows.rowBytes(), 10 * 16);
    // Even a writer that ignores rowbytes stays inside the buffer, so the guard is intact.
    std::memset(shortRows.get()->data, 0, 10 * 16 * 4);
    EXPECT_TRUE(shortRows.paddingIntact());
    std::memset(shortRows.get()->data, 0, 10 * 16 * 4 + 1);
    EXPECT_FALSE(shortRows.paddingIntact());

    EXPECT_THROW(World(2, 2, 12), HostError);
    EXPECT_THROW(World(2, 2, 8).pixel16(0, 0), HostError);
    EXPECT_THROW(World(2, 2, 8).pixel8(2, 0), HostError);
}

TEST(MinihostWorldTest, FillConvertsToEachDepthWithTheHostsScales) {
    World w8(3, 2, 8), w16(3, 2, 16), w32(3, 2, 32, 4);
    for (World* w : {&w8, &w16, &w32}) w->fill(1.0f, 0.5f, 0.0f, 0.25f);
    EXPECT_EQ(w8.pixel8(2, 1).alpha, 255);
    EXPECT_EQ(w8.pixel8(2, 1).red, 128);
    EXPECT_EQ(w16.pixel16(2, 1).alpha, 32768);
    EXPECT_EQ(w16.pixel16(2, 1).red, 16384);
    EXPECT_FLOAT_EQ(w32.pixel32(2, 1).blue, 0.25f);
    EXPECT_TRUE(w32.paddingIntact());
    EXPECT_EQ(World::bitsOf(w32.get()), 32);
    PF_EffectWorld stranger = *w32.get();
    stranger.data = nullptr;
    EXPECT_EQ(World::bitsOf(&stranger), 0);
}

// ---- Commands, out flags and the smart render hand-over

TEST_F(MinihostTest, GlobalSetUpRecordsVersionAndOutFlagsAndInDataCarriesTheSettings) {
    Host host(&fakeEffectMain);
    PF_InData seen{};
    fake.handlers[PF_Cmd_GLOBAL_SETUP] = [&](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
        seen = *in;
        out->my_version = PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 2);
        out->out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
        out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
        return PF_Err_NONE;
    };
    host.settings().poseAsPremierePro();
    host.settings().timeScale = 30;
    host.settings().timeStep = 2;
    host.settings().setFrame(5);
    host.settings().shutterAngle = 90 << 16;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);

    EXPECT_EQ(host.effectVersion(), 0x00080602u);
    EXPECT_EQ(host.globalOutFlags(), PF_OutFlag_DEEP_COLOR_AWARE);
    EXPECT_EQ(host.globalOutFlags2(), PF_OutFlag2_SUPPORTS_SMART_RENDER);
    EXPECT_EQ(seen.appl_id, cindel::fourCharCode('P', 'r', 'M', 'r'));
    EXPECT_EQ(seen.current_time, 10);
    EXPECT_EQ(seen.time_step, 2);
    EXPECT_EQ(seen.time_scale, 30u);
    EXPECT_EQ(seen.shutter_angle, 90 << 16);
    EXPECT_NE(seen.pica_basicP, nullptr);
    EXPECT_NE(seen.utils, nullptr);
    EXPECT_EQ(seen.version.major, PF_PLUG_IN_VERSION);
}

TEST_F(MinihostTest, AboutTextIsFormattedWithTheHostsSprintf) {
    Host host(&fakeEffectMain);
    fake.handlers[PF_Cmd_ABOUT] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
        PF_SPRINTF(in, out->return_msg, "%s v%d", "Fake", 3);
        return PF_Err_NONE;
    };
    std::string text;
    ASSERT_EQ(host.about(&text), PF_Err_NONE);
    EXPECT_EQ(text, "Fake v3");

    // The callback never writes past the 256 bytes of return_msg.
    fake.handlers[PF_Cmd_ABOUT] = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
        PF_SPRINTF(in, out->return_msg, "%s", std::string(1000, 'a').c_str());
        return PF_Err_NONE;
    };
    ASSERT_EQ(host.about(&text), PF_Err_NONE);
    EXPECT_EQ(text.size(), 255u);
}

TEST_F(MinihostTest, UserChangedParamDeliversTheIndexAndTakesBackChangedValues) {
    Host host(&fakeEffectMain);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance();
    PF_ParamIndex seenIndex = -1;
    A_long seenMode = 0;
    fake.handlers[PF_Cmd_USER_CHANGED_PARAM] = [&](PF_InData*, PF_OutData* out, PF_ParamDef** params,
                                                   void* extra) -> PF_Err {
        seenIndex = static_cast<PF_UserChangedParamExtra*>(extra)->param_index;
        seenMode = params[kMode]->u.pd.value;
        params[kScale]->u.fs_d.value = 4.5;
        params[kScale]->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
        params[kTint]->u.cd.value = PF_Pixel{255, 1, 2, 3};  // written without the flag: not taken
        out->out_flags |= PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI;
        return PF_Err_NONE;
    };
    instance.setPopup(kMode, 3);
    ASSERT_EQ(host.userChangedParam(instance, kMode), PF_Err_NONE);

    EXPECT_EQ(seenIndex, kMode);
    EXPECT_EQ(seenMode, 3);
    EXPECT_EQ(host.lastCommand().out.out_flags, PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI);
    EXPECT_EQ(host.lastCommand().changedParams, std::vector<PF_ParamIndex>{kScale});
    EXPECT_DOUBLE_EQ(instance.valueAt(kScale, host.settings().now()).u.fs_d.value, 4.5);
    EXPECT_EQ(instance.valueAt(kTint, host.settings().now()).u.cd.value.red, 10);
}

TEST_F(MinihostTest, UnknownSelectorsPassStraightThrough) {
    Host host(&fakeEffectMain);
    int marker = 7;
    void* seenExtra = nullptr;
    fake.handlers[PF_Cmd_NUM_CMDS + 5] = [&](PF_InData*, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
        seenExtra = extra;
        return PF_Err_NONE;
    };
    EXPECT_EQ(host.send(PF_Cmd_NUM_CMDS + 5, &marker), PF_Err_NONE);
    EXPECT_EQ(seenExtra, &marker);
    EXPECT_EQ(host.commandCount(PF_Cmd_NUM_CMDS + 5), 1);
    EXPECT_EQ(host.lastCommand().out.out_flags, 0);
}

// A smart-render pair like the real effect's: the input and one layer parameter are checked out
// and mixed into the cache identity; the render fills the output with the input's size.
void installFakeRender(FakeEffect& fake, PF_Err* outputErr) {
    fake.handlers[PF_Cmd_SMART_PRE_RENDER] = [](PF_InData* in, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
        auto* pre = static_cast<PF_PreRenderExtra*>(extra);
        PF_CheckoutResult input;
        if (PF_Err err = pre->cb->checkout_layer(in->effect_ref, 0, 0, &pre->input->output_request, in->current_time,
                                                 in->time_step, in->time_scale, &input))
            return err;
        pre->output->result_rect = input.result_rect;
        pre->output->max_result_rect = input.max_result_rect;
        PF_CheckoutResult source;
        pre->cb->checkout_layer(in->effect_ref, kSource, 999, &pre->input->output_request, in->current_time,
                                in->time_step, in->time_scale, &source);
        if (pre->cb->GuidMixInPtr) pre->cb->GuidMixInPtr(in->effect_ref, sizeof in->current_time, &in->current_time);
        return PF_Err_NONE;
    };
    fake.handlers[PF_Cmd_SMART_RENDER] = [outputErr](PF_InData* in, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
        auto* smart = static_cast<PF_SmartRenderExtra*>(extra);
        PF_EffectWorld* input = nullptr;
        PF_EffectWorld* output = nullptr;
        if (PF_Err err = smart->cb->checkout_layer_pixels(in->effect_ref, 0, &input)) return err;
        *outputErr = smart->cb->checkout_output(in->effect_ref, &output);
        if (*outputErr) return *outputErr;
        PF_EffectWorld* source = nullptr;
        smart->cb->checkout_layer_pixels(in->effect_ref, 999, &source);
        for (A_long y = 0; output && y < output->height; ++y) {
            auto* row = reinterpret_cast<PF_Pixel8*>(reinterpret_cast<char*>(output->data) + y * output->rowbytes);
            for (A_long x = 0; x < output->width; ++x)
                row[x] = PF_Pixel8{255, 60, 0, static_cast<A_u_char>(source ? 1 : 0)};
        }
        smart->cb->checkin_layer_pixels(in->effect_ref, 0);
        return PF_Err_NONE;
    };
}

TEST_F(MinihostTest, PreRenderAnswersLayerCheckoutsAndRecordsTheGuidMix) {
    Host host(&fakeEffectMain);
    PF_Err outputErr = PF_Err_NONE;
    installFakeRender(fake, &outputErr);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    World input(64, 48, 8);
    World wide(200, 60, 8);
    instance.setInputLayer(input);
    instance.setLayer(kSource, LayerSource{&wide, PF_LRect{-40, -6, 160, 54}, 120, 30});
    host.settings().setFrame(9);

    PreRenderResult pre = host.preRender(instance);
    ASSERT_EQ(pre.result, PF_Err_NONE);
    EXPECT_EQ(pre.output.result_rect.right, 64);
    EXPECT_EQ(pre.output.max_result_rect.bottom, 48);
    ASSERT_EQ(pre.layerCheckouts.size(), 2u);
    const LayerCheckout& source = pre.layerCheckouts[1];
    EXPECT_EQ(source.checkoutId, 999);
    EXPECT_EQ(source.answer.max_result_rect.left, -40);
    EXPECT_EQ(source.answer.max_result_rect.top, -6);
    EXPECT_EQ(source.answer.result_rect.left, 0);  // clipped to the request
    EXPECT_EQ(source.answer.result_rect.right, 64);
    EXPECT_EQ(source.answer.ref_width, 120);
    EXPECT_EQ(source.whatTime, 9);
    ASSERT_EQ(pre.guidMixes.size(), 1u);
    A_long mixedTime = 0;
    ASSERT_EQ(pre.guidMixes[0].size(), sizeof mixedTime);
    std::memcpy(&mixedTime, pre.guidMixes[0].data(), sizeof mixedTime);
    EXPECT_EQ(mixedTime, 9);

    // An older host without GuidMixInPtr.
    PreRenderCall call;
    call.offerGuidMixIn = false;
    EXPECT_TRUE(host.preRender(instance, call).guidMixes.empty());

    // No layer chosen: the checkout succeeds empty.
    instance.clearLayer(kSource);
    PreRenderResult none = host.preRender(instance);
    ASSERT_EQ(none.layerCheckouts.size(), 2u);
    EXPECT_EQ(none.layerCheckouts[1].result, PF_Err_NONE);
    EXPECT_EQ(none.layerCheckouts[1].answer.max_result_rect.right, 0);

    // An injected failure of the input checkout ends the pre-render with that error.
    host.faults().layerCheckout[0] = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(host.preRender(instance).result, PF_Err_OUT_OF_MEMORY);
}

TEST_F(MinihostTest, SmartRenderHandsOutCheckedOutPixelsAndTheOutput) {
    Host host(&fakeEffectMain);
    PF_Err outputErr = PF_Err_NONE;
    installFakeRender(fake, &outputErr);
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(6, 4);
    World source(3, 3, 8);
    instance.setLayer(kSource, source);
    World output(6, 4, 8, 8);

    ASSERT_EQ(host.renderFrame(instance, output), PF_Err_NONE);
    EXPECT_EQ(output.pixel8(5, 3).red, 60);
    EXPECT_EQ(output.pixel8(5, 3).blue, 1);  // the source pixels were handed out under id 999
    EXPECT_TRUE(output.paddingIntact());
    EXPECT_EQ(instance.outputCheckouts(), 1);
    ASSERT_EQ(instance.pixelCheckouts().size(), 2u);
    EXPECT_EQ(instance.pixelCheckouts()[1].world, source.get());
    EXPECT_EQ(instance.pixelCheckoutsOutstanding(), 1);  // the fake never checks 999 back in

    // Pixels of an id that pre-render never checked out are refused.
    host.faults().layerCheckout[kSource] = PF_Err_INTERNAL_STRUCT_DAMAGED;
    ASSERT_EQ(host.renderFrame(instance, output), PF_Err_NONE);
    EXPECT_EQ(instance.pixelCheckouts()[1].result, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(output.pixel8(0, 0).blue, 0);
    host.faults().layerCheckout.clear();

    host.faults().layerPixels[0] = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(host.renderFrame(instance, output), PF_Err_OUT_OF_MEMORY);
    host.faults().layerPixels.clear();

    host.faults().outputCheckout = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(host.renderFrame(instance, output), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(outputErr, PF_Err_INTERNAL_STRUCT_DAMAGED);
    host.faults().outputCheckout = PF_Err_NONE;

    // A null output world is handed over as null.
    host.preRender(instance);
    EXPECT_EQ(host.smartRender(instance, nullptr), PF_Err_NONE);
    EXPECT_EQ(instance.outputCheckouts(), 1);
}

TEST_F(MinihostTest, PreviewResolutionShrinksRequestsCheckoutsAndPixelsButNotInDataSizes) {
    Host host(&fakeEffectMain);
    PF_Err outputErr = PF_Err_NONE;
    installFakeRender(fake, &outputErr);
    PF_InData seen{};
    const auto render = fake.handlers[PF_Cmd_SMART_RENDER];
    fake.handlers[PF_Cmd_SMART_RENDER] = [&](PF_InData* in, PF_OutData* out, PF_ParamDef** p, void* extra) {
        seen = *in;
        return render(in, out, p, extra);
    };
    ASSERT_EQ(host.start(), PF_Err_NONE);
    Instance& instance = host.addInstance(64, 48);
    World input(64, 48, 8);
    instance.setInputLayer(input);
    // A 6 × 4 layer whose extent starts at (-2, -2); pixel (x, y) holds alpha 10·x + 40·y.
    World source(6, 4, 8);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 6; ++x) source.pixel8(x, y) = PF_Pixel8{A_u_char(10 * x + 40 * y), 0, 0, 0};
    instance.setLayer(kSource, LayerSource{&source, PF_LRect{-2, -2, 4, 2}, 6, 4});

    // What the host does at Half and Quarter, written out: the whole-layer request is
    // ⌈64 / f⌉ × ⌈48 / f⌉, the layer's extent rounds outward, PF_InData keeps the layer's size.
    struct Preview {
        int factor;
        PF_LRect request, sourceExtent;
    };
    for (const Preview& p : {Preview{2, {0, 0, 32, 24}, {-1, -1, 2, 1}}, Preview{4, {0, 0, 16, 12}, {-1, -1, 1, 1}}}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(p.factor));
        host.settings().setPreviewResolution(p.factor);
        EXPECT_EQ(atPreviewScale(64, host.settings().downsampleX), p.request.right);
        EXPECT_EQ(atPreviewScale(48, host.settings().downsampleY), p.request.bottom);
        PreRenderResult pre = host.preRender(instance);
        ASSERT_EQ(pre.result, PF_Err_NONE);
        EXPECT_EQ(pre.output.result_rect.right, p.request.right);
        EXPECT_EQ(pre.output.result_rect.bottom, p.request.bottom);
        ASSERT_EQ(pre.layerCheckouts.size(), 2u);
        const PF_CheckoutResult& answer = pre.layerCheckouts[1].answer;
        EXPECT_EQ(answer.max_result_rect.left, p.sourceExtent.left);
        EXPECT_EQ(answer.max_result_rect.top, p.sourceExtent.top);
        EXPECT_EQ(answer.max_result_rect.right, p.sourceExtent.right);
        EXPECT_EQ(answer.max_result_rect.bottom, p.sourceExtent.bottom);
        EXPECT_EQ(answer.ref_width, 6) << "the layer's own size is not scaled";

        World output(p.request.right, p.request.bottom, 8);
        ASSERT_EQ(host.renderFrame(instance, output), PF_Err_NONE);
        EXPECT_EQ(seen.width, 64);
        EXPECT_EQ(seen.height, 48);
        EXPECT_EQ(seen.downsample_x.num, 1);
        EXPECT_EQ(seen.downsample_x.den, A_u_long(p.factor));
        EXPECT_EQ(seen.downsample_y.den, A_u_long(p.factor));
        ASSERT_EQ(instance.pixelCheckouts().size(), 2u);
        const PF_EffectWorld* input0 = instance.pixelCheckouts()[0].world;
        ASSERT_NE(input0, nullptr);
        EXPECT_EQ(input0->width, p.request.right);
        EXPECT_EQ(input0->height, p.request.bottom);
        // The source's preview pixels inside the request: preview pixel (0, 0) covers layer
        // pixels 2 … 2 + f − 1 of both axes, cut to the layer.
        const PF_EffectWorld* cut = instance.pixelCheckouts()[1].world;
        ASSERT_NE(cut, nullptr);
        EXPECT_EQ(cut->width, p.sourceExtent.right);
        EXPECT_EQ(cut->height, p.sourceExtent.bottom);
        double sum = 0;
        int count = 0;
        for (int y = 2; y < std::min(4, 2 + p.factor); ++y)
            for (int x = 2; x < std::min(6, 2 + p.factor); ++x, ++count) sum += 10 * x + 40 * y;
        EXPECT_EQ(static_cast<const PF_Pixel8*>(cut->data)->alpha, A_u_char(std::lround(sum / count)));
    }
    host.settings().setPreviewResolution(1);
    World output(64, 48, 8);
    ASSERT_EQ(host.renderFrame(instance, output), PF_Err_NONE);
    EXPECT_EQ(instance.pixelCheckouts()[1].world->width, 4) << "full resolution cuts the layer itself";
}

// ---- Loading and logging

TEST(MinihostPluginLibraryTest, LoadFailuresNameTheFileAndTheReason) {
    try {
        PluginLibrary::open("/nonexistent/Cindel.so");
        FAIL() << "a missing file loaded";
    } catch (const HostError& error) {
        std::string message = error.what();
        EXPECT_NE(message.find("/nonexistent/Cindel.so"), std::string::npos) << message;
        EXPECT_NE(message.find("No such file"), std::string::npos) << message;
    }
    // A library that loads but is not an effect.
    try {
        PluginLibrary::open("libm.so.6");
        FAIL() << "a library without EffectMain was accepted";
    } catch (const HostError& error) {
        std::string message = error.what();
        EXPECT_NE(message.find("libm.so.6"), std::string::npos) << message;
        EXPECT_NE(message.find("EffectMain"), std::string::npos) << message;
    }
}

LogSinkFunc gInstalledSink = nullptr;

void fakeSetLogSink(LogSinkFunc sink) {
    gInstalledSink = sink;
}

void fakeLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (gInstalledSink) gInstalledSink(format, args);
    va_end(args);
}

TEST_F(MinihostTest, CaptureModeCollectsTheEffectsDiagnosticLines) {
    Host host(EffectEntry{&fakeEffectMain, &fakeSetLogSink});
    fake.handlers[PF_Cmd_GLOBAL_SETUP] = [](PF_InData*, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
        fakeLog("[FRAME] Q=%-6s F=%-4d\n", "Ultra", 12);
        return PF_Err_NONE;
    };
    Host::clearCapturedLog();
    host.setLogMode(LogMode::Capture);
    host.globalSetup();
    host.setLogMode(LogMode::Discard);
    host.globalSetup();
    EXPECT_EQ(Host::capturedLog(), std::vector<std::string>{"[FRAME] Q=Ultra  F=12  \n"});
    EXPECT_NE(gInstalledSink, nullptr);  // discarding installs a sink of ours, never null
}

}  // namespace
}  // namespace minihost
