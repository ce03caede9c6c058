// minihost's side of the callbacks it hands the effect: PF_InData's interaction and utility
// callbacks, the smart pre-render and smart render callbacks, and the built-in suites. Internal
// to minihost; tests use Host. Each callback finds its Host and instance through effect_ref, or,
// for the context-free utilities and suites, through Host::active().
#pragma once

#include "AE_EffectCB.h"
#include "minihost/host.h"

namespace minihost {

struct HostCallbacks {
    // The Host and instance an effect_ref names; null when it is not one of ours.
    static Host* resolve(PF_ProgPtr effectRef, Instance** instance);

    static PF_Err checkoutParam(PF_ProgPtr effectRef, PF_ParamIndex index, A_long whatTime, A_long timeStep,
                                A_u_long timeScale, PF_ParamDef* param);
    static PF_Err checkinParam(PF_ProgPtr effectRef, PF_ParamDef* param);
    static PF_Err addParam(PF_ProgPtr effectRef, PF_ParamIndex index, PF_ParamDefPtr def);
    static PF_Err abort(PF_ProgPtr effectRef);
    static PF_Err progress(PF_ProgPtr effectRef, A_long current, A_long total);

    static PF_Handle newHandle(A_u_longlong size);
    static void* lockHandle(PF_Handle handle);
    static void unlockHandle(PF_Handle handle);
    static void disposeHandle(PF_Handle handle);
    static A_u_longlong handleSize(PF_Handle handle);
    static PF_Err resizeHandle(A_u_longlong newSize, PF_Handle* handle);
    static int ansiSprintf(A_char* buffer, const A_char* format, ...);
    static A_char* ansiStrcpy(A_char* dest, const A_char* src);

    static PF_Err checkoutLayer(PF_ProgPtr effectRef, PF_ParamIndex index, A_long checkoutId,
                                const PF_RenderRequest* request, A_long whatTime, A_long timeStep, A_u_long timeScale,
                                PF_CheckoutResult* result);
    static PF_Err guidMixIn(PF_ProgPtr effectRef, A_u_long size, const void* bytes);
    static PF_Err checkoutLayerPixels(PF_ProgPtr effectRef, A_long checkoutId, PF_EffectWorld** pixels);
    static PF_Err checkinLayerPixels(PF_ProgPtr effectRef, A_long checkoutId);
    static PF_Err checkoutOutput(PF_ProgPtr effectRef, PF_EffectWorld** output);

    static void provideBuiltinSuites(Host& host);
};

}  // namespace minihost
