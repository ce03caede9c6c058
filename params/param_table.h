// The parameter table the effect registers at parameter set-up. The order fixes the indices (see
// param_index.h), and the ids, names, types, ranges and defaults are what projects store: they are
// part of the effect's external interface.
#pragma once

#include "AE_Effect.h"

namespace cindel {

// Registers the 136 parameters with the host's add_param, in index order. A failing add_param
// ends set-up at once and its error is returned; num_params is then left alone.
PF_Err setupParams(PF_InData* inData, PF_OutData* outData);

}  // namespace cindel
