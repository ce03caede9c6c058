// A fake effect in the test's process for driving minihost: each command answered by the handler
// a test installed (none: success), and the suites an effect holds for one command.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "SPBasic.h"
#include "minihost/aegp_suites.h"
#include "minihost/host.h"

namespace minihost {

using FakeHandler = std::function<PF_Err(PF_InData*, PF_OutData*, PF_ParamDef**, void*)>;

struct FakeEffect {
    std::map<PF_Cmd, FakeHandler> handlers;
};

inline FakeEffect* gFakeEffect = nullptr;

inline PF_Err fakeEffectMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*,
                             void* extra) {
    auto it = gFakeEffect->handlers.find(cmd);
    return it == gFakeEffect->handlers.end() ? PF_Err_NONE : it->second(in, out, params, extra);
}

// One parameter row from a zeroed definition; `fill` sets the type's fields.
template <typename Fill>
PF_Err addFakeParam(PF_InData* in, PF_ParamType type, const char* name, Fill fill) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = type;
    std::snprintf(def.name, sizeof def.name, "%s", name);
    fill(def);
    return PF_ADD_PARAM(in, -1, &def);
}

// A selector no real command uses, passed through with PF_InData filled: a command's context.
constexpr PF_Cmd kTestCommand = PF_Cmd_NUM_CMDS + 1;

class FakeEffectTest : public ::testing::Test {
protected:
    void SetUp() override { gFakeEffect = &fake; }
    // Whatever a test did, every handle and suite the effect took has been given back.
    void TearDown() override {
        const AegpState& a = host.aegp();
        EXPECT_EQ(
            std::tuple(a.liveEffects(), a.liveStreams(), a.liveAddKeyframes(), a.liveMasks(), a.liveStreamValues()),
            std::tuple(0, 0, 0, 0, 0));
        EXPECT_TRUE(host.suites().unbalanced().empty());
        gFakeEffect = nullptr;
    }

    PF_Err inCommand(const std::function<void(PF_InData*)>& body, Instance* target = nullptr) {
        fake.handlers[kTestCommand] = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
            body(in);
            return PF_Err_NONE;
        };
        return host.send(kTestCommand, nullptr, target ? target : instance);
    }

    FakeEffect fake;
    Host host{&fakeEffectMain};
    Instance* instance = nullptr;
};

// Suites held as an effect holds them for one command, released by name and version when the
// holder goes so that the host's balance counts mean something; a withheld suite stays null.
class HeldSuites {
public:
    explicit HeldSuites(PF_InData* in) : in_(in) {}
    ~HeldSuites() {
        for (const auto& [name, version] : acquired_) in_->pica_basicP->ReleaseSuite(name, version);
    }

protected:
    template <typename T>
    void acquire(const char* name, int32 version, const T** suite) {
        const void* found = nullptr;
        if (in_->pica_basicP->AcquireSuite(name, version, &found) == kSPNoError) {
            *suite = static_cast<const T*>(found);
            acquired_.emplace_back(name, version);
        }
    }

    PF_InData* in_;

private:
    std::vector<std::pair<const char*, int32>> acquired_;
};

}  // namespace minihost
