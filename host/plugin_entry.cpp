// The plug-in library's exported entry point. Everything else in the library is hidden, so two
// copies of the effect's code in one process (a test that also links the core) never mix state.
#include "host/effect_main.h"
#include "host/log.h"

extern "C" __attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data,
                                                                    PF_OutData* out_data, PF_ParamDef* params[],
                                                                    PF_LayerDef* output, void* extra) {
    return cindel::effectMain(cmd, in_data, out_data, params, output, extra);
}

// Lets a host that loaded the library with dlopen receive the effect's diagnostic lines.
extern "C" __attribute__((visibility("default"))) void cindelSetLogSink(cindel::LogSink sink) {
    cindel::setLogSink(sink);
}
