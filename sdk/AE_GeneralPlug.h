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

// Opaque host references.
typedef struct _AEGP_LayerOpaque* AEGP_LayerH;
typedef struct _AEGP_CompOpaque* AEGP_CompH;
typedef struct _AEGP_EffectRefOpaque* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefOpaque* AEGP_StreamRefH;
typedef struct _AEGP_AddKeyframesInfoOpaque* AEGP_AddKeyframesInfoH;
typedef A_long AEGP_KeyframeIndex;
typedef A_long AEGP_LayerIDVal;

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };
typedef A_long AEGP_LTimeMode;

enum {
    AEGP_KeyInterp_NONE = 0,
    AEGP_KeyInterp_LINEAR,
    AEGP_KeyInterp_BEZIER,
    AEGP_KeyInterp_HOLD,
};
typedef A_long AEGP_KeyframeInterpolationType;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 0x01,
    AEGP_DynStreamFlag_HIDDEN = 0x02,
    AEGP_DynStreamFlag_DISABLED = 0x04,
    AEGP_DynStreamFlag_ELIDED = 0x08,
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 0x400,
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 0x10000,
};
typedef A_u_long AEGP_DynStreamFlags;

typedef A_FpLong AEGP_OneDVal;
typedef struct {
    A_FpLong x, y;
} AEGP_TwoDVal;
typedef struct {
    A_FpLong x, y, z;
} AEGP_ThreeDVal;
typedef struct {
    A_FpLong alphaF, redF, greenF, blueF;
} AEGP_ColorVal;

typedef union {
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
    A_long layer_id;
} AEGP_StreamVal;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal val;
} AEGP_StreamValue;

typedef struct AEGP_PFInterfaceSuite1 {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                                        AEGP_EffectRefH* effectPH);
    A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr effect_ref, A_long what_timeL, A_u_long time_scaleLu,
                                          A_Time* comp_timePT);
} AEGP_PFInterfaceSuite1;

typedef struct AEGP_StreamSuite7 {
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effect_refH,
                                            PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
} AEGP_StreamSuite7;

typedef struct AEGP_DynamicStreamSuite2 {
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag, A_Boolean undoableB,
                                       A_Boolean setB);
} AEGP_DynamicStreamSuite2;

typedef struct AEGP_EffectSuite4 {
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite4;

typedef struct AEGP_KeyframeSuite4 {
    A_Err (*AEGP_GetStreamNumKFs)(AEGP_StreamRefH streamH, A_long* num_kfsPL);
    A_Err (*AEGP_DeleteKeyframe)(AEGP_StreamRefH streamH, AEGP_KeyframeIndex key_index);
    A_Err (*AEGP_StartAddKeyframes)(AEGP_StreamRefH streamH, AEGP_AddKeyframesInfoH* akPH);
    A_Err (*AEGP_AddKeyframes)(AEGP_AddKeyframesInfoH akH, AEGP_LTimeMode time_mode, const A_Time* timePT,
                               A_long* key_indexPL);
    A_Err (*AEGP_SetAddKeyframe)(AEGP_AddKeyframesInfoH akH, A_long key_indexL, const AEGP_StreamValue* valueP);
    A_Err (*AEGP_EndAddKeyframes)(A_Boolean addB, AEGP_AddKeyframesInfoH akH);
    A_Err (*AEGP_SetKeyframeInterpolation)(AEGP_StreamRefH streamH, AEGP_KeyframeIndex key_index,
                                           AEGP_KeyframeInterpolationType in_interp,
                                           AEGP_KeyframeInterpolationType out_interp);
} AEGP_KeyframeSuite4;
