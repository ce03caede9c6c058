// The smart pre-render handler: tells the host the output rectangle and the layers a frame needs.
#pragma once

#include "AE_Effect.h"
#include "AE_EffectCB.h"

namespace cindel {

PF_Err preRenderFrame(PF_InData* inData, PF_OutData* outData, PF_PreRenderExtra* extra);

}  // namespace cindel
