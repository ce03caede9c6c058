// The plug-in library's exported entry point. Everything else in the library is hidden, so two
// copies of the effect's code in one process (a test that also links the core) never mix state.
// On Windows an explicit dllexport also turns off the linker's export of every symbol, so the DLL's
// export table holds exactly these two names.
#include "host/effect_main.h"
#include "host/log.h"

#ifdef _WIN32
#define CINDEL_EXPORT __declspec(dllexport)
#else
#define CINDEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" CINDEL_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                          PF_LayerDef* output, void* extra) {
    return cindel::effectMain(cmd, in_data, out_data, params, output, extra);
}

// Lets a host that loaded the library itself (dlopen, LoadLibrary) receive the effect's diagnostic
// lines.
extern "C" CINDEL_EXPORT void cindelSetLogSink(cindel::LogSink sink) {
    cindel::setLogSink(sink);
}
