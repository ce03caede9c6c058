// The effect's host bridge in-process: the suite handler's acquire/release discipline, and the
// process-wide state that global set-up and set-down keep (GPU start-up once per set-up/set-down
// pair, AEGP registration at most once per process). minihost drives the core's entry point
// directly here, so the test can also look at the process state it changes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gpu/gpu_runtime.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "host/suite_handler.h"
#include "minihost/host.h"

namespace {

// A basic suite that hands out distinct dummy suites and records every acquire and release.
struct RecordingBasicSuite {
    static inline std::vector<std::pair<std::string, int>> acquired;
    static inline std::vector<std::pair<std::string, int>> released;
    static inline std::string refuse;
    static inline int dummy[64];

    static SPErr acquire(const char* name, int32 version, const void** suite) {
        if (refuse == name) {
            *suite = nullptr;
            return 1;
        }
        acquired.emplace_back(name, version);
        *suite = &dummy[acquired.size() % 64];
        return kSPNoError;
    }
    static SPErr release(const char* name, int32 version) {
        released.emplace_back(name, version);
        return kSPNoError;
    }
    static SPBasicSuite make() {
        acquired.clear();
        released.clear();
        refuse.clear();
        SPBasicSuite s{};
        s.AcquireSuite = &acquire;
        s.ReleaseSuite = &release;
        return s;
    }
};

using Names = std::multimap<std::string, int>;
Names asSet(const std::vector<std::pair<std::string, int>>& v) { return Names(v.begin(), v.end()); }

TEST(SuiteHandler, ReleasesExactlyTheSuitesItAcquired) {
    SPBasicSuite basic = RecordingBasicSuite::make();
    {
        cindel::SuiteHandler suites(&basic);
        suites.acquire(cindel::SuiteId::Layer14);
        suites.acquire(cindel::SuiteId::Stream11);
        suites.acquire(cindel::SuiteId::Layer14);  // cached: no second acquire
        suites.acquire(cindel::SuiteId::Comp25);
        EXPECT_EQ(RecordingBasicSuite::acquired.size(), 3u);
        EXPECT_TRUE(RecordingBasicSuite::released.empty());
    }
    const Names expected{{"AEGP Layer Suite", 14}, {"AEGP Stream Suite", 11}, {"AEGP Comp Suite", 25}};
    EXPECT_EQ(asSet(RecordingBasicSuite::acquired), expected);
    EXPECT_EQ(asSet(RecordingBasicSuite::released), expected);
}

TEST(SuiteHandler, ReleasesOnAThrowToo) {
    SPBasicSuite basic = RecordingBasicSuite::make();
    RecordingBasicSuite::refuse = "AEGP Mask Outline Suite";
    PF_Err thrown = PF_Err_NONE;
    try {
        cindel::SuiteHandler suites(&basic);
        suites.acquire(cindel::SuiteId::Stream7);
        suites.acquire(cindel::SuiteId::Stream11);  // same name, other version: a separate suite
        suites.acquire(cindel::SuiteId::Effect4);
        suites.acquire(cindel::SuiteId::MaskOutline5);
        ADD_FAILURE() << "a refused suite must throw";
    } catch (PF_Err err) {
        thrown = err;
    }
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
    const Names expected{{"AEGP Stream Suite", 7}, {"AEGP Stream Suite", 11}, {"AEGP Effect Suite", 4}};
    EXPECT_EQ(asSet(RecordingBasicSuite::acquired), expected);
    EXPECT_EQ(asSet(RecordingBasicSuite::released), expected);
}

TEST(SuiteHandler, NullBasicSuiteThrowsBadCallbackParam) {
    PF_Err thrown = PF_Err_NONE;
    try {
        cindel::SuiteHandler suites(nullptr);
    } catch (PF_Err err) {
        thrown = err;
    }
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
}

PF_Err inProcessEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra) {
    return cindel::effectMain(cmd, in, out, params, output, extra);
}

TEST(GlobalSetup, StartsTheGpuRuntimeOncePerSetupSetdownPair) {
    minihost::Host host(&inProcessEffect);
    const int before = cindel::gpuStartCount();
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_TRUE(cindel::processState().gpuAvailable);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::gpuStartCount(), before + 1);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_FALSE(cindel::processState().gpuAvailable);
    // Set-down leaves a zero record behind, whether or not start-up had reached a device.
    EXPECT_FALSE(cindel::gpuRuntime().ready);
    EXPECT_EQ(cindel::gpuRuntime().context, nullptr);
    EXPECT_EQ(cindel::gpuRuntime().grid.density, nullptr);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::gpuStartCount(), before + 2);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
}

TEST(GlobalSetup, RegistersWithAegpAtMostOncePerProcess) {
    cindel::processState().aegpPluginId = 0;
    minihost::Host host(&inProcessEffect);
    host.builtinSuites().pluginIdToGive = 77;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::processState().aegpPluginId, 77);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host.builtinSuites().registeredNames, std::vector<std::string>{"Cindel"});
    EXPECT_EQ(cindel::processState().aegpPluginId, 77);  // set-down keeps it
    host.globalSetdown();
}

TEST(GlobalSetup, MissingUtilitySuiteLeavesNoIdButSucceeds) {
    cindel::processState().aegpPluginId = 0;
    minihost::Host host(&inProcessEffect);
    host.suites().withhold("AEGP Utility Suite", 13);
    EXPECT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::processState().aegpPluginId, 0);
    host.faults().registerWithAegp = A_Err_GENERIC;
    host.suites().restoreAll();
    EXPECT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::processState().aegpPluginId, 0);
    EXPECT_TRUE(host.suites().unbalanced().empty());
    host.globalSetdown();
}

TEST(GlobalSetup, NullRecordsAreRefusedNotDereferenced) {
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_PARAMS_SETUP, PF_Cmd_SEQUENCE_SETUP,
                       PF_Cmd_SEQUENCE_SETDOWN, PF_Cmd_SMART_RENDER, PF_Cmd_SMART_PRE_RENDER}) {
        EXPECT_EQ(cindel::effectMain(cmd, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM)
            << cmd;
    }
    EXPECT_EQ(cindel::effectMain(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(cindel::effectMain(PF_Cmd_USER_CHANGED_PARAM, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
}

}  // namespace
