// A fake effect in the test's own process for driving minihost: EffectMain's signature, answering
// each command with the handler a test installed (none: success), plus the suites an effect holds
// for one command. Tests check the host's side of the contract through the host's own callbacks.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "SPBasic.h"
#include "minihost/host.h"

namespace minihost {

using FakeHandler = std::function<PF_Err(PF_InData*, PF_OutData*, PF_ParamDef**, void*)>;

struct FakeEffect {
    std::map<PF_Cmd, FakeHandler> handlers;
    std::vector<PF_Cmd> received;
};

inline FakeEffect* gFakeEffect = nullptr;

inline PF_Err fakeEffectMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*,
                             void* extra) {
    gFakeEffect->received.push_back(cmd);
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

// A selector no real command uses: the host passes it straight through, with PF_InData filled for
// the instance, so the fake can call back into the host as it would inside any command.
constexpr PF_Cmd kTestCommand = PF_Cmd_NUM_CMDS + 1;

class FakeEffectTest : public ::testing::Test {
protected:
    void SetUp() override { gFakeEffect = &fake; }
    void TearDown() override { gFakeEffect = nullptr; }

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

// Host suites acquired through the basic suite the way an effect holds them for one command: what
// was acquired is released, by the same name and version, when the holder goes, so the host's
// balance counts stay meaningful. A suite the host withholds stays null.
class HeldSuites {
public:
    explicit HeldSuites(PF_InData* in) : in_(in) {}
    ~HeldSuites() {
        for (const auto& [name, version] : acquired_) in_->pica_basicP->ReleaseSuite(name, version);
    }
    HeldSuites(const HeldSuites&) = delete;
    HeldSuites& operator=(const HeldSuites&) = delete;

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
