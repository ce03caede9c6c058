// The smart-render handler: one frame request, from the host's time and parameters to pixels.
#pragma once

#include <cstdint>

#include "AE_Effect.h"
#include "AE_EffectCB.h"

namespace cindel {

PF_Err renderFrame(PF_InData* inData, PF_OutData* outData, PF_SmartRenderExtra* extra);

}  // namespace cindel
