#include "suite_handler.h"

#include <cstdio>

namespace cindel {

namespace {

constexpr SuiteName kSuiteNames[] = {
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6},
    {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1},
    {kAEGPStreamSuite, kAEGPStreamSuiteVersion2},
    {kAEGPStreamSuite, kAEGPStreamSuiteVersion6},
    {kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2},
    {kAEGPEffectSuite, kAEGPEffectSuiteVersion4},
    {kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4},
    {kAEGPLayerSuite, kAEGPLayerSuiteVersion8},
    {kAEGPCompSuite, kAEGPCompSuiteVersion11},
    {kAEGPMaskSuite, kAEGPMaskSuiteVersion6},
    {kAEGPMaskOutlineSuite, kAEGPMaskOutlineSuiteVersion3},
};
static_assert(sizeof(kSuiteNames) / sizeof(kSuiteNames[0]) == static_cast<size_t>(SuiteId::Count));

void reportWorldSuiteFailure(PF_OutData* outData, const char* message) {
    if (!outData) return;
    outData->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    std::snprintf(outData->return_msg, sizeof(outData->return_msg), "%s", message);
}

}  // namespace

SuiteName suiteName(SuiteId id) {
    return kSuiteNames[static_cast<size_t>(id)];
}

SuiteHandler::SuiteHandler(SPBasicSuite* basic) : basic_(basic) {
    if (!basic_ || !basic_->AcquireSuite || !basic_->ReleaseSuite) throw PF_Err(PF_Err_BAD_CALLBACK_PARAM);
}

SuiteHandler::~SuiteHandler() {
    for (size_t i = 0; i < suites_.size(); ++i) {
        if (!suites_[i]) continue;
        const SuiteName n = kSuiteNames[i];
        basic_->ReleaseSuite(n.name, n.version);
    }
}

const void* SuiteHandler::acquire(SuiteId id) {
    const size_t slot = static_cast<size_t>(id);
    if (suites_[slot]) return suites_[slot];
    const SuiteName n = kSuiteNames[slot];
    const void* suite = nullptr;
    const SPErr err = basic_->AcquireSuite(n.name, n.version, &suite);
    if (err != kSPNoError || !suite) throw PF_Err(PF_Err_BAD_CALLBACK_PARAM);
    suites_[slot] = suite;
    return suite;
}

PF_Err acquireWorldSuite(const PF_InData* inData, PF_OutData* outData, const PF_WorldSuite2** suite) {
    *suite = nullptr;
    SPBasicSuite* basic = inData ? inData->pica_basicP : nullptr;
    const void* p = nullptr;
    if (!basic || !basic->AcquireSuite || basic->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &p) != kSPNoError ||
        !p) {
        reportWorldSuiteFailure(outData, "Not able to acquire AEFX Suite.");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *suite = static_cast<const PF_WorldSuite2*>(p);
    return PF_Err_NONE;
}

PF_Err releaseWorldSuite(const PF_InData* inData, PF_OutData* outData) {
    SPBasicSuite* basic = inData ? inData->pica_basicP : nullptr;
    if (!basic || !basic->ReleaseSuite) {
        reportWorldSuiteFailure(outData, "Not able to release AEFX Suite.");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    basic->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
    return PF_Err_NONE;
}

}  // namespace cindel
