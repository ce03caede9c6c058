// Scoped access to the host's suites. An operation that needs host suites builds a SuiteHandler on
// its stack; the first use of a suite acquires it by name and version through the basic suite and
// caches it, and the destructor releases exactly the suites that were acquired, by the same names
// and versions, also when the operation ends by a throw.
//
// A missing basic suite or a failed acquire throws the host error PF_Err_BAD_CALLBACK_PARAM (516)
// as a plain PF_Err; EffectMain turns whatever reaches it into PF_Err_INTERNAL_STRUCT_DAMAGED, and
// reads that can live without their answer catch it themselves.
#pragma once

#include <array>

#include "AE_Effect.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "SPBasic.h"

namespace cindel {

enum class SuiteId : int {
    Utility13,
    PFInterface1,
    Stream7,
    Stream11,
    DynamicStream2,
    Effect4,
    Keyframe4,
    Layer14,
    Comp25,
    LayerMask7,
    MaskOutline5,
    Count
};

struct SuiteName {
    const char* name;
    int32 version;
};

SuiteName suiteName(SuiteId id);

class SuiteHandler {
public:
    explicit SuiteHandler(SPBasicSuite* basic);
    ~SuiteHandler();
    SuiteHandler(const SuiteHandler&) = delete;
    SuiteHandler& operator=(const SuiteHandler&) = delete;

    const AEGP_UtilitySuite6* utilitySuite13() {
        return static_cast<const AEGP_UtilitySuite6*>(acquire(SuiteId::Utility13));
    }
    const AEGP_PFInterfaceSuite1* pfInterfaceSuite1() {
        return static_cast<const AEGP_PFInterfaceSuite1*>(acquire(SuiteId::PFInterface1));
    }
    const AEGP_StreamSuite2* streamSuite7() { return static_cast<const AEGP_StreamSuite2*>(acquire(SuiteId::Stream7)); }
    const AEGP_DynamicStreamSuite2* dynamicStreamSuite2() {
        return static_cast<const AEGP_DynamicStreamSuite2*>(acquire(SuiteId::DynamicStream2));
    }
    const AEGP_EffectSuite4* effectSuite4() { return static_cast<const AEGP_EffectSuite4*>(acquire(SuiteId::Effect4)); }
    const AEGP_KeyframeSuite4* keyframeSuite4() {
        return static_cast<const AEGP_KeyframeSuite4*>(acquire(SuiteId::Keyframe4));
    }

    const AEGP_StreamSuite6* streamSuite11() {
        return static_cast<const AEGP_StreamSuite6*>(acquire(SuiteId::Stream11));
    }
    const AEGP_LayerSuite8* layerSuite14() { return static_cast<const AEGP_LayerSuite8*>(acquire(SuiteId::Layer14)); }
    const AEGP_CompSuite11* compSuite25() { return static_cast<const AEGP_CompSuite11*>(acquire(SuiteId::Comp25)); }
    const AEGP_MaskSuite6* layerMaskSuite7() {
        return static_cast<const AEGP_MaskSuite6*>(acquire(SuiteId::LayerMask7));
    }
    const AEGP_MaskOutlineSuite3* maskOutlineSuite5() {
        return static_cast<const AEGP_MaskOutlineSuite3*>(acquire(SuiteId::MaskOutline5));
    }

    // Untyped access by id.
    const void* acquire(SuiteId id);

private:
    SPBasicSuite* basic_;
    std::array<const void*, static_cast<size_t>(SuiteId::Count)> suites_{};
};

// "PF World Suite" is used on its own, outside any SuiteHandler, and reports failures into
// out_data instead of throwing: the caller falls back to its default.
PF_Err acquireWorldSuite(const PF_InData* inData, PF_OutData* outData, const PF_WorldSuite2** suite);
PF_Err releaseWorldSuite(const PF_InData* inData, PF_OutData* outData);

}  // namespace cindel
