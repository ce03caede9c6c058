// The suites every host offers from the start: "AEGP Utility Suite" version 13 (registration
// with the AEGP layer) and "PF World Suite" version 2 (worlds and their pixel format). Their
// records are shared by all Hosts; each call works on the state of the active Host. The AEGP
// suites that edit parameter streams and read the composition (aegp_suites.h) are offered from
// here too.
#include <cstring>

#include "AE_EffectSuites.h"
#include "minihost/aegp_suites.h"
#include "minihost/host.h"
#include "minihost/host_callbacks.h"
#include "minihost/unexpected_slot.h"

namespace minihost {

namespace {

A_Err reportInfo(AEGP_PluginID, const A_char* info) {
    Host* host = Host::active();
    if (!host) return A_Err_GENERIC;
    host->builtinSuites().reportedInfo.emplace_back(info ? info : "");
    return A_Err_NONE;
}

A_Err startUndoGroup(const A_char*) {
    Host* host = Host::active();
    if (!host) return A_Err_GENERIC;
    ++host->builtinSuites().undoGroupDepth;
    return A_Err_NONE;
}

A_Err endUndoGroup() {
    Host* host = Host::active();
    if (!host) return A_Err_GENERIC;
    --host->builtinSuites().undoGroupDepth;
    return A_Err_NONE;
}

A_Err registerWithAegp(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* pluginId) {
    Host* host = Host::active();
    if (!host || !pluginId) return A_Err_PARAMETER;
    host->builtinSuites().registeredNames.emplace_back(name ? name : "");
    if (A_Err err = host->faults().registerWithAegp) return err;
    *pluginId = host->builtinSuites().pluginIdToGive;
    return A_Err_NONE;
}

int bitsForFormat(PF_PixelFormat format) {
    switch (format) {
        case PF_PixelFormat_ARGB32:
            return 8;
        case PF_PixelFormat_ARGB64:
            return 16;
        case PF_PixelFormat_ARGB128:
            return 32;
        default:
            return 0;
    }
}

PF_Err newWorld(PF_ProgPtr, A_long width, A_long height, PF_Boolean, PF_PixelFormat format, PF_EffectWorld* world) {
    Host* host = Host::active();
    int bits = bitsForFormat(format);
    if (!host || !world || bits == 0 || width <= 0 || height <= 0) return PF_Err_BAD_CALLBACK_PARAM;
    // A World's pixels start cleared, which is what clear_pixB asks for and harmless otherwise.
    auto made = std::make_unique<World>(width, height, bits);
    *world = *made->get();
    host->builtinSuites().effectWorlds[world->data] = std::move(made);
    return PF_Err_NONE;
}

PF_Err disposeWorld(PF_ProgPtr, PF_EffectWorld* world) {
    Host* host = Host::active();
    if (!host || !world) return PF_Err_BAD_CALLBACK_PARAM;
    if (host->builtinSuites().effectWorlds.erase(world->data) == 0) return PF_Err_BAD_CALLBACK_PARAM;
    std::memset(world, 0, sizeof *world);
    return PF_Err_NONE;
}

PF_Err getPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    Host* host = Host::active();
    if (!host || !format) return PF_Err_BAD_CALLBACK_PARAM;
    ++host->builtinSuites().pixelFormatQueries;
    if (host->faults().pixelFormatQuery) return PF_Err_BAD_CALLBACK_PARAM;
    switch (World::bitsOf(world)) {
        case 8:
            *format = PF_PixelFormat_ARGB32;
            return PF_Err_NONE;
        case 16:
            *format = PF_PixelFormat_ARGB64;
            return PF_Err_NONE;
        case 32:
            *format = PF_PixelFormat_ARGB128;
            return PF_Err_NONE;
        default:
            return PF_Err_BAD_CALLBACK_PARAM;  // not a world this host made
    }
}

const AEGP_UtilitySuite6 kUtilitySuite13{
    MINIHOST_IMPLEMENTED(AEGP_UtilitySuite6, AEGP_ReportInfo, &reportInfo),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_ReportInfoUnicode),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetDriverPluginInitFuncVersion),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetDriverImplementationVersion),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_StartQuietErrors),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_EndQuietErrors),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetLastErrorMessage),
    MINIHOST_IMPLEMENTED(AEGP_UtilitySuite6, AEGP_StartUndoGroup, &startUndoGroup),
    MINIHOST_IMPLEMENTED(AEGP_UtilitySuite6, AEGP_EndUndoGroup, &endUndoGroup),
    MINIHOST_IMPLEMENTED(AEGP_UtilitySuite6, AEGP_RegisterWithAEGP, &registerWithAegp),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetMainHWND),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_ShowHideAllFloaters),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_PaintPalGetForeColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_PaintPalGetBackColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_PaintPalSetForeColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_PaintPalSetBackColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CharPalGetFillColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CharPalGetStrokeColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CharPalSetFillColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CharPalSetStrokeColor),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CharPalIsFillColorUIFrontmost),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_ConvertFpLongToHSFRatio),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_ConvertHSFRatioToFpLong),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_CauseIdleRoutinesToBeCalled),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetSuppressInteractiveUI),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_WriteToOSConsole),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_WriteToDebugLog),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_IsScriptingAvailable),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_ExecuteScript),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_HostIsActivated),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetPluginPlatformRef),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_UpdateFontList),
    MINIHOST_UNEXPECTED(AEGP_UtilitySuite6, AEGP_GetPluginPaths),
};

const PF_WorldSuite2 kWorldSuite2{
    MINIHOST_IMPLEMENTED(PF_WorldSuite2, PF_NewWorld, &newWorld),
    MINIHOST_IMPLEMENTED(PF_WorldSuite2, PF_DisposeWorld, &disposeWorld),
    MINIHOST_IMPLEMENTED(PF_WorldSuite2, PF_GetPixelFormat, &getPixelFormat),
};

}  // namespace

void HostCallbacks::provideBuiltinSuites(Host& host) {
    host.suites().provide(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6, &kUtilitySuite13);
    host.suites().provide(kPFWorldSuite, kPFWorldSuiteVersion2, &kWorldSuite2);
    provideAegpSuites(host);
    provideAegpCompositionSuites(host);
}

}  // namespace minihost
