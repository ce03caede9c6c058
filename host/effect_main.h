// The effect's entry point and command dispatch. EffectMain (exported by the plug-in library)
// forwards here; this is the one catch-all that turns anything thrown into a host error.
#pragma once

#include "AE_Effect.h"

namespace cindel {

PF_Err effectMain(PF_Cmd cmd, PF_InData* inData, PF_OutData* outData, PF_ParamDef* params[], PF_LayerDef* output,
                  void* extra);

}  // namespace cindel
