// The AEGP suites through which the effect edits its own parameter streams: "AEGP PF Interface
// Suite" 1 (the effect's AEGP handle, its layer, effect time to composition time), "AEGP Stream
// Suite" 7 (a parameter's stream), "AEGP Dynamic Stream Suite" 2 (flags such as hidden, kept per
// instance and parameter), "AEGP Effect Suite" 4 (disposing the effect handle) and "AEGP Keyframe
// Suite" 4 (counting, deleting and adding keyframes, interpolation). The suites through which it
// reads the composition (layers, cameras, lights, masks, layer streams and stream values) are
// aegp_composition_suites.cpp's; their handles are kept here too.
//
// Handles are opaque objects the active Host makes and remembers; a suite call given anything
// else, or a handle already disposed, answers A_Err_PARAMETER, as does a call while no Host is
// active. Streams are the Instance's ParamStreams, the same ones checkout_param reads, so
// keyframes the effect adds change the values of later frames. Times given in layer time are the
// stream's own times; composition times are moved by the start of the instance's composition
// layer (0 without a composition).
//
// Layer handles are the composition's Layers and the composition handle is the Composition, so
// they stay valid as long as the composition's layer stack is not changed. Mask references,
// mask streams and mask outline values name the layer by its id and are checked again at each use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AE_GeneralPlug.h"
#include "minihost/composition.h"
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
        int liveValues = 0;  // values of this stream handed out and not yet disposed
    };
    // A mask reference (Layer Mask Suite) and a mask's outline stream (Stream Suite 11): mask
    // `maskIndex` of the layer with id `layerId`.
    struct MaskHandle {
        int layerId = 0;
        int maskIndex = 0;
        bool isLive = true;
    };
    struct MaskStreamHandle {
        int layerId = 0;
        int maskIndex = 0;
        bool isLive = true;
    };
    // A mask outline value: the outline as it was when the value was taken.
    struct OutlineHandle {
        Mask outline;
        bool isLive = true;
    };
    struct PendingKey {
        HostTime time;
        AEGP_StreamValue2 value{};
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
    MaskHandle* newMask(int layerId, int maskIndex);
    MaskStreamHandle* newMaskStream(int layerId, int maskIndex);
    OutlineHandle* newOutline(const Mask& outline);
    // The live object behind a handle the effect passed in; null for anything else.
    EffectHandle* effect(AEGP_EffectRefH handle);
    StreamHandle* stream(AEGP_StreamRefH handle);
    AddKeyframes* addKeyframes(AEGP_AddKeyframesInfoH handle);
    MaskHandle* mask(AEGP_MaskRefH handle);
    MaskStreamHandle* maskStream(AEGP_StreamRefH handle);
    OutlineHandle* outline(AEGP_MaskOutlineValH handle);
    // The object behind a stream handle this host made, disposed or not: a value outlives the
    // stream it came from.
    StreamHandle* anyStream(AEGP_StreamRefH handle);
    MaskStreamHandle* anyMaskStream(AEGP_StreamRefH handle);

    // Handles given out and not yet disposed or ended, for tests that check the effect's balance.
    int liveEffects() const;
    int liveStreams() const;  // parameter and mask streams
    int liveAddKeyframes() const;
    int liveMasks() const;
    // Values of AEGP_GetNewStreamValue not yet given back with AEGP_DisposeStreamValue.
    int liveStreamValues() const;
    int effectsGiven() const { return static_cast<int>(effects_.size()); }
    int streamsGiven() const { return static_cast<int>(streams_.size() + maskStreams_.size()); }
    int masksGiven() const { return static_cast<int>(masks_.size()); }

    // The implemented slots of every suite minihost offers that the effect called, "Table.slot"
    // (the record's type and slot names), each once in order of first call; clearSlotsCalled starts over.
    void noteSlotCall(const std::string& name);
    const std::vector<std::string>& slotsCalled() const { return slotsCalled_; }
    void clearSlotsCalled() { slotsCalled_.clear(); }

private:
    std::vector<std::unique_ptr<EffectHandle>> effects_;
    std::vector<std::unique_ptr<StreamHandle>> streams_;
    std::vector<std::unique_ptr<AddKeyframes>> adds_;
    std::vector<std::unique_ptr<MaskHandle>> masks_;
    std::vector<std::unique_ptr<MaskStreamHandle>> maskStreams_;
    std::vector<std::unique_ptr<OutlineHandle>> outlines_;
    std::vector<std::string> slotsCalled_;
};

// A stream value as the host's value of the parameter's type: one_d for sliders, popups,
// checkboxes and angles (degrees), color (0 … 1) for colours, two_d and three_d for points.
// Throws HostError for a parameter without a value.
ParamValue streamValueToParamValue(const ParamDefinition& definition, const AEGP_StreamValue2& value);
// The reverse, for AEGP_GetNewStreamValue. Throws HostError for a parameter without a value
// (layer parameters are answered with their layer's id by the caller).
AEGP_StreamVal2 paramValueToStreamValue(const ParamDefinition& definition, const ParamValue& value);

// Offer the suites above, and those that read the composition, in a Host's registry (called by
// its built-in suites).
void provideAegpSuites(Host& host);
void provideAegpCompositionSuites(Host& host);

}  // namespace minihost
