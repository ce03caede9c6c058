// Which parameters the panel shows. The colour controls that the current "Color Mode" does not use
// are hidden, and a fixed set stays hidden in every mode; hiding goes through the AEGP dynamic
// stream flags, so it is skipped without AEGP registration and in Premiere Pro, which has no AEGP
// layer. Every outcome returns PF_Err_NONE; only a suite the host lacks throws (its PF_Err).
#pragma once

#include "AE_Effect.h"
#include "host/suite_handler.h"

namespace cindel {

PF_Err updateParamVisibility(const PF_InData* inData, PF_ParamDef* params[]);

// Sets or clears the hidden flag of one parameter's stream; a parameter without a stream is left
// alone.
void setParamHidden(SuiteHandler& suites, AEGP_EffectRefH effect, PF_ParamIndex index, bool hide);

}  // namespace cindel
