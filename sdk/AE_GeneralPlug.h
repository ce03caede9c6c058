// AEGP layer of the host: suite names, versions and the suite records the effect calls.
// Suites are acquired through SPBasicSuite by the name and version below. Later parts of the
// effect add the suites they call; a record lists its functions in the published order only as
// far as this effect needs them.
#pragma once

#include "A.h"
#include "AE_Effect.h"
#include "SPBasic.h"

typedef A_long AEGP_PluginID;
typedef void* AEGP_GlobalRefcon;

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion13 13
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion7 7
#define kAEGPStreamSuiteVersion11 11
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion2 2
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion4 4
#define kAEGPKeyframeSuite "AEGP Keyframe Suite"
#define kAEGPKeyframeSuiteVersion4 4
#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPLayerSuiteVersion14 14
#define kAEGPCompSuite "AEGP Comp Suite"
#define kAEGPCompSuiteVersion25 25
#define kAEGPLayerMaskSuite "AEGP Layer Mask Suite"
#define kAEGPLayerMaskSuiteVersion7 7
#define kAEGPMaskOutlineSuite "AEGP Mask Outline Suite"
#define kAEGPMaskOutlineSuiteVersion5 5

typedef struct AEGP_UtilitySuite13 {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_stringZ);
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err (*AEGP_EndUndoGroup)(void);
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_nameZ,
                                   AEGP_PluginID* plugin_id);
} AEGP_UtilitySuite13;
