// The plug-in library's exported entry point. Everything else in the library is hidden, so two
// copies of the effect's code in one process (a test that also links the core) never mix state.
// On Windows an explicit dllexport also turns off the linker's export of every symbol, so the DLL's
// export table holds exactly these three names.
#include "frame/volume_export.h"
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

// Lets such a host receive the simulation's fields once per rendered frame (host/volume_export.h);
// without a call here nothing is read back.
extern "C" CINDEL_EXPORT void cindelSetVolumeSink(CindelVolumeSink sink, void* context, uint32_t flags) {
    cindel::setVolumeSink(sink, context, flags);
}
