// The AEGP suites through which the effect edits its own parameter streams: "AEGP PF Interface
// Suite" 1 (the effect's AEGP handle, its layer, effect time to composition time), "AEGP Stream
// Suite" 7 (a parameter's stream), "AEGP Dynamic Stream Suite" 2 (flags such as hidden, kept per
// instance and parameter), "AEGP Effect Suite" 4 (disposing the effect handle) and "AEGP Keyframe
// Suite" 4 (counting, deleting and adding keyframes, interpolation).
//
// Handles are opaque objects the active Host makes and remembers; a suite call given anything
// else, or a handle already disposed, answers A_Err_PARAMETER, as does a call while no Host is
// active. Streams are the Instance's ParamStreams, the same ones checkout_param reads, so
// keyframes the effect adds change the values of later frames. Times given in layer time are the
// stream's own times; composition times are moved by the start of the instance's composition
// layer (0 without a composition).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "AE_GeneralPlug.h"
#include "minihost/param_stream.h"

namespace minihost {

class Host;
class Instance;

class AegpState {
public:
    struct EffectHandle {
        Instance* instance = nullptr;
        bool isLive = true;
    };
    struct StreamHandle {
        Instance* instance = nullptr;
        PF_ParamIndex index = 0;
        bool isLive = true;
    };
    struct PendingKey {
        HostTime time;
        AEGP_StreamValue value{};
        bool hasValue = false;
    };
    struct AddKeyframes {
        StreamHandle* stream = nullptr;
        std::vector<PendingKey> keys;
        bool isLive = true;
    };

    EffectHandle* newEffect(Instance* instance);
    StreamHandle* newStream(Instance* instance, PF_ParamIndex index);
    AddKeyframes* newAddKeyframes(StreamHandle* stream);
    // The live object behind a handle the effect passed in; null for anything else.
    EffectHandle* effect(AEGP_EffectRefH handle);
    StreamHandle* stream(AEGP_StreamRefH handle);
    AddKeyframes* addKeyframes(AEGP_AddKeyframesInfoH handle);

    // Handles given out and not yet disposed or ended, for tests that check the effect's balance.
    int liveEffects() const;
    int liveStreams() const;
    int liveAddKeyframes() const;
    int effectsGiven() const { return static_cast<int>(effects_.size()); }
    int streamsGiven() const { return static_cast<int>(streams_.size()); }

private:
    std::vector<std::unique_ptr<EffectHandle>> effects_;
    std::vector<std::unique_ptr<StreamHandle>> streams_;
    std::vector<std::unique_ptr<AddKeyframes>> adds_;
};

// A stream value as the host's value of the parameter's type: one_d for sliders, popups,
// checkboxes and angles (degrees), color (0 … 1) for colours, two_d and three_d for points.
// Throws HostError for a parameter without a value.
ParamValue streamValueToParamValue(const ParamDefinition& definition, const AEGP_StreamValue& value);

// Offers the suites above in a Host's registry (called by its built-in suites).
void provideAegpSuites(Host& host);

}  // namespace minihost
