// The process-wide state global set-up and set-down keep (GPU start-up once per pair, AEGP
// registration at most once per process), while minihost drives the core's entry point.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpu/gpu_runtime.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/host.h"

namespace {

using cindel::processState;

TEST(GlobalSetup, StartsTheGpuRuntimeOncePerSetupSetdownPair) {
    minihost::Host host(&cindel::effectMain);
    const int before = cindel::gpuStartCount();
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cindel::gpuStartCount(), before + 1);
    EXPECT_TRUE(processState().gpuAvailable);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    // Set-down leaves a zero record behind, whether or not start-up had reached a device.
    EXPECT_FALSE(processState().gpuAvailable || cindel::gpuRuntime().ready);
    EXPECT_EQ(cindel::gpuRuntime().context, nullptr);
}

// The id survives set-down; a refused registration leaves none, and set-up still succeeds.
TEST(GlobalSetup, RegistersWithAegpAtMostOncePerProcess) {
    processState().aegpPluginId = 0;
    minihost::Host host(&cindel::effectMain);
    host.faults().registerWithAegp = A_Err_GENERIC;
    EXPECT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(processState().aegpPluginId, 0);
    host.faults().registerWithAegp = A_Err_NONE;
    host.builtinSuites().pluginIdToGive = 77;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    const std::vector<std::string> attempts = host.builtinSuites().registeredNames;
    EXPECT_EQ(attempts, (std::vector<std::string>{"Cindel", "Cindel"}));  // the refused one, then this
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(processState().aegpPluginId, 77);
    EXPECT_EQ(host.builtinSuites().registeredNames, attempts);
    EXPECT_TRUE(host.suites().unbalanced().empty());
    host.globalSetdown();
    processState().aegpPluginId = 0;
}

TEST(GlobalSetup, NullRecordsAreRefusedNotDereferenced) {
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_PARAMS_SETUP, PF_Cmd_SEQUENCE_SETUP,
                       PF_Cmd_SEQUENCE_SETDOWN, PF_Cmd_SMART_RENDER, PF_Cmd_SMART_PRE_RENDER}) {
        EXPECT_EQ(cindel::effectMain(cmd, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM) << cmd;
    }
    EXPECT_EQ(cindel::effectMain(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(cindel::effectMain(PF_Cmd_USER_CHANGED_PARAM, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
}

}  // namespace
