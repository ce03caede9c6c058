// The host's AEGP layer: suite names, versions, the value records and the whole function table of
// each suite the effect acquires. The host calls through these tables by slot position, so every
// slot is declared in its published place, whether the effect calls it or not. A suite's table
// name carries the SDK's own numbering, which is not the version it is registered under: "AEGP
// Layer Suite" version 14 is AEGP_LayerSuite8.
#pragma once

#include "A.h"
#include "AE_Effect.h"
#include "SPBasic.h"

#pragma pack(push, 8)

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion6 13
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion2 7
#define kAEGPStreamSuiteVersion6 11
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion2 2
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion4 4
#define kAEGPKeyframeSuite "AEGP Keyframe Suite"
#define kAEGPKeyframeSuiteVersion4 4
#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPLayerSuiteVersion8 14
#define kAEGPCompSuite "AEGP Comp Suite"
#define kAEGPCompSuiteVersion11 25
#define kAEGPMaskSuite "AEGP Layer Mask Suite"
#define kAEGPMaskSuiteVersion6 7
#define kAEGPMaskOutlineSuite "AEGP Mask Outline Suite"
#define kAEGPMaskOutlineSuiteVersion3 5

typedef A_long AEGP_PluginID;
typedef struct _AEGP_GlobalRefcon* AEGP_GlobalRefcon;

// Opaque host references.
typedef struct _AEGP_Layer** AEGP_LayerH;
typedef struct _AEGP_Comp** AEGP_CompH;
typedef struct _AEGP_Item** AEGP_ItemH;
typedef struct _AEGP_Effect** AEGP_EffectRefH;
typedef struct _AEGPp_Stream** AEGP_StreamRefH;
typedef struct _AEGP_Mask** AEGP_MaskRefH;
typedef struct _AEGP_MaskOutline** AEGP_MaskOutlineValH;
typedef struct _AEGP_TextDocument** AEGP_TextDocumentH;
typedef struct _AEGP_MarkerVal* AEGP_MarkerValP;
typedef struct _AEGP_MemHandle** AEGP_MemHandle;
typedef struct _AEGP_Collection2** AEGP_Collection2H;
typedef struct _AEGP_AddKeyframesInfo** AEGP_AddKeyframesInfoH;

// Records only the unused slots take, by pointer.
typedef struct _AEGP_ErrReportState AEGP_ErrReportState;
typedef struct _AEGP_LayerTransferMode AEGP_LayerTransferMode;
typedef struct _AEGP_MaskFeather AEGP_MaskFeather;
typedef struct _AEGP_DownsampleFactor AEGP_DownsampleFactor;

typedef A_short AEGP_LTimeMode;
typedef A_long AEGP_LayerIDVal;
typedef A_long AEGP_MaskIDVal;
typedef A_long AEGP_KeyframeIndex;
typedef A_long AEGP_VertexIndex;
typedef A_long AEGP_FeatherIndex;
typedef A_long AEGP_MaskIndex;
typedef A_long AEGP_EffectIndex;
typedef A_long AEGP_InstalledEffectKey;
typedef A_long AEGP_EffectFlags;
typedef A_long AEGP_KeyframeFlags;
typedef A_long AEGP_KeyInterpolationMask;
typedef A_long AEGP_StreamFlags;
typedef A_long AEGP_StreamGroupingType;
typedef A_long AEGP_GetPathTypes;
typedef A_short AEGP_LayerQuality;
typedef A_short AEGP_LayerSamplingQuality;
typedef A_char AEGP_LabelID;
typedef A_char AEGP_MaskMBlur;
typedef A_char AEGP_MaskFeatherFalloff;
typedef A_long PF_MaskMode;

enum {
    AEGP_LTimeMode_LayerTime = 0,
    AEGP_LTimeMode_CompTime = 1,
};

enum {
    AEGP_ObjectType_NONE = -1,
    AEGP_ObjectType_AV = 0,
    AEGP_ObjectType_LIGHT = 1,
    AEGP_ObjectType_CAMERA = 2,
    AEGP_ObjectType_TEXT = 3,
    AEGP_ObjectType_VECTOR = 4,
    AEGP_ObjectType_RESERVED1 = 5,
    AEGP_ObjectType_RESERVED2 = 6,
    AEGP_ObjectType_RESERVED3 = 7,
    AEGP_ObjectType_RESERVED4 = 8,
    AEGP_ObjectType_RESERVED5 = 9,
    AEGP_ObjectType_NUM_TYPES = 10,
};
typedef A_long AEGP_ObjectType;

enum {
    AEGP_LayerFlag_NONE = 0,
    AEGP_LayerFlag_VIDEO_ACTIVE = 0x1,
    AEGP_LayerFlag_AUDIO_ACTIVE = 0x2,
    AEGP_LayerFlag_EFFECTS_ACTIVE = 0x4,
    AEGP_LayerFlag_MOTION_BLUR = 0x8,
    AEGP_LayerFlag_FRAME_BLENDING = 0x10,
    AEGP_LayerFlag_LOCKED = 0x20,
    AEGP_LayerFlag_SHY = 0x40,
    AEGP_LayerFlag_COLLAPSE = 0x80,
    AEGP_LayerFlag_AUTO_ORIENT_ROTATION = 0x100,
    AEGP_LayerFlag_ADJUSTMENT_LAYER = 0x200,
    AEGP_LayerFlag_TIME_REMAPPING = 0x400,
    AEGP_LayerFlag_LAYER_IS_3D = 0x800,
    AEGP_LayerFlag_LOOK_AT_CAMERA = 0x1000,
    AEGP_LayerFlag_LOOK_AT_POI = 0x2000,
    AEGP_LayerFlag_SOLO = 0x4000,
    AEGP_LayerFlag_MARKERS_LOCKED = 0x8000,
    AEGP_LayerFlag_NULL_LAYER = 0x10000,
    AEGP_LayerFlag_HIDE_LOCKED_MASKS = 0x20000,
    AEGP_LayerFlag_GUIDE_LAYER = 0x40000,
    AEGP_LayerFlag_ADVANCED_FRAME_BLENDING = 0x80000,
    AEGP_LayerFlag_SUBLAYERS_RENDER_SEPARATELY = 0x100000,
    AEGP_LayerFlag_ENVIRONMENT_LAYER = 0x200000,
};
typedef A_long AEGP_LayerFlags;

enum {
    AEGP_CompFlag_SHOW_ALL_SHY = 0x1,
    AEGP_CompFlag_RESERVED_1 = 0x2,
    AEGP_CompFlag_RESERVED_2 = 0x4,
    AEGP_CompFlag_ENABLE_MOTION_BLUR = 0x8,
    AEGP_CompFlag_ENABLE_TIME_FILTER = 0x10,
    AEGP_CompFlag_GRID_TO_FRAMES = 0x20,
    AEGP_CompFlag_GRID_TO_FIELDS = 0x40,
    AEGP_CompFlag_USE_LOCAL_DSF = 0x80,
    AEGP_CompFlag_DRAFT_3D = 0x100,
    AEGP_CompFlag_SHOW_GRAPH = 0x200,
    AEGP_CompFlag_RESERVED_3 = 0x400,
};
typedef A_long AEGP_CompFlags;

enum {
    AEGP_LayerStream_NONE = -1,
    AEGP_LayerStream_ANCHORPOINT = 0,
    AEGP_LayerStream_POSITION = 1,
    AEGP_LayerStream_SCALE = 2,
    AEGP_LayerStream_ROTATION = 3,
    AEGP_LayerStream_ROTATE_Z = 3,
    AEGP_LayerStream_OPACITY = 4,
    AEGP_LayerStream_AUDIO = 5,
    AEGP_LayerStream_MARKER = 6,
    AEGP_LayerStream_TIME_REMAP = 7,
    AEGP_LayerStream_ROTATE_X = 8,
    AEGP_LayerStream_ROTATE_Y = 9,
    AEGP_LayerStream_ORIENTATION = 10,
    AEGP_LayerStream_ZOOM = 11,
    AEGP_LayerStream_DEPTH_OF_FIELD = 12,
    AEGP_LayerStream_FOCUS_DISTANCE = 13,
    AEGP_LayerStream_APERTURE = 14,
    AEGP_LayerStream_BLUR_LEVEL = 15,
    AEGP_LayerStream_INTENSITY = 16,
    AEGP_LayerStream_COLOR = 17,
    AEGP_LayerStream_CONE_ANGLE = 18,
    AEGP_LayerStream_CONE_FEATHER = 19,
    AEGP_LayerStream_SHADOW_DARKNESS = 20,
    AEGP_LayerStream_SHADOW_DIFFUSION = 21,
    AEGP_LayerStream_ACCEPTS_SHADOWS = 22,
    AEGP_LayerStream_ACCEPTS_LIGHTS = 23,
    AEGP_LayerStream_AMBIENT_COEFF = 24,
    AEGP_LayerStream_DIFFUSE_COEFF = 25,
    AEGP_LayerStream_SPECULAR_INTENSITY = 26,
    AEGP_LayerStream_SPECULAR_SHININESS = 27,
    AEGP_LayerStream_CASTS_SHADOWS = 28,
    AEGP_LayerStream_LIGHT_TRANSMISSION = 29,
    AEGP_LayerStream_METAL = 30,
    AEGP_LayerStream_SOURCE_TEXT = 31,
    AEGP_LayerStream_IRIS_SHAPE = 32,
    AEGP_LayerStream_IRIS_ROTATION = 33,
    AEGP_LayerStream_IRIS_ROUNDNESS = 34,
    AEGP_LayerStream_IRIS_ASPECT_RATIO = 35,
    AEGP_LayerStream_IRIS_DIFFRACTION_FRINGE = 36,
    AEGP_LayerStream_IRIS_HIGHLIGHT_GAIN = 37,
    AEGP_LayerStream_IRIS_HIGHLIGHT_THRESHOLD = 38,
    AEGP_LayerStream_IRIS_HIGHLIGHT_SATURATION = 39,
    AEGP_LayerStream_LIGHT_FALLOFF_TYPE = 40,
    AEGP_LayerStream_LIGHT_FALLOFF_START = 41,
    AEGP_LayerStream_LIGHT_FALLOFF_DISTANCE = 42,
    AEGP_LayerStream_REFLECTION_INTENSITY = 43,
    AEGP_LayerStream_REFLECTION_SHARPNESS = 44,
    AEGP_LayerStream_REFLECTION_ROLLOFF = 45,
    AEGP_LayerStream_TRANSPARENCY_COEFF = 46,
    AEGP_LayerStream_TRANSPARENCY_ROLLOFF = 47,
    AEGP_LayerStream_INDEX_OF_REFRACTION = 48,
    AEGP_LayerStream_EXTRUSION_BEVEL_STYLE = 49,
    AEGP_LayerStream_EXTRUSION_BEVEL_DIRECTION = 50,
    AEGP_LayerStream_EXTRUSION_BEVEL_DEPTH = 51,
    AEGP_LayerStream_EXTRUSION_HOLE_BEVEL_DEPTH = 52,
    AEGP_LayerStream_EXTRUSION_DEPTH = 53,
    AEGP_LayerStream_PLANE_CURVATURE = 54,
    AEGP_LayerStream_PLANE_SUBDIVISION = 55,
    AEGP_LayerStream_NUMTYPES = 56,
    AEGP_LayerStream_BEGIN = 0,
    AEGP_LayerStream_END = 56,
};
typedef A_long AEGP_LayerStream;

enum {
    AEGP_MaskStream_OUTLINE = 400,
    AEGP_MaskStream_OPACITY = 401,
    AEGP_MaskStream_FEATHER = 402,
    AEGP_MaskStream_EXPANSION = 403,
    AEGP_MaskStream_BEGIN = 400,
    AEGP_MaskStream_END = 404,
};
typedef A_long AEGP_MaskStream;

enum {
    AEGP_StreamType_NO_DATA = 0,
    AEGP_StreamType_ThreeD_SPATIAL = 1,
    AEGP_StreamType_ThreeD = 2,
    AEGP_StreamType_TwoD_SPATIAL = 3,
    AEGP_StreamType_TwoD = 4,
    AEGP_StreamType_OneD = 5,
    AEGP_StreamType_COLOR = 6,
    AEGP_StreamType_ARB = 7,
    AEGP_StreamType_MARKER = 8,
    AEGP_StreamType_LAYER_ID = 9,
    AEGP_StreamType_MASK_ID = 10,
    AEGP_StreamType_MASK = 11,
    AEGP_StreamType_TEXT_DOCUMENT = 12,
};
typedef A_long AEGP_StreamType;

enum {
    AEGP_KeyInterp_NONE = 0,
    AEGP_KeyInterp_LINEAR = 1,
    AEGP_KeyInterp_BEZIER = 2,
    AEGP_KeyInterp_HOLD = 3,
};
typedef A_long AEGP_KeyframeInterpolationType;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 0x1,
    AEGP_DynStreamFlag_HIDDEN = 0x2,
    AEGP_DynStreamFlag_DISABLED = 0x10,
    AEGP_DynStreamFlag_ELIDED = 0x20,
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 0x400,
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 0x10000,
};
typedef A_u_long AEGP_DynStreamFlags;

typedef A_FpLong AEGP_OneDVal;
typedef struct {
    A_FpLong x;
    A_FpLong y;
} AEGP_TwoDVal;
typedef struct {
    A_FpLong x;
    A_FpLong y;
    A_FpLong z;
} AEGP_ThreeDVal;
typedef A_FpLong AEGP_FourDVal[4];
typedef struct {
    A_FpLong alphaF;
    A_FpLong redF;
    A_FpLong greenF;
    A_FpLong blueF;
} AEGP_ColorVal;
typedef A_Handle AEGP_ArbBlockVal;

typedef struct {
    A_FpLong speedF;
    A_FpLong influenceF;
} AEGP_KeyframeEase;

// One vertex of a mask outline in layer pixels; the tangents are relative to the vertex.
typedef struct {
    PF_FpLong x;
    PF_FpLong y;
    PF_FpLong tan_in_x;
    PF_FpLong tan_in_y;
    PF_FpLong tan_out_x;
    PF_FpLong tan_out_y;
} AEGP_MaskVertex;

// The value union of the older stream suites (version 7 and before), without mask values.
typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
    AEGP_ArbBlockVal arbH;
    AEGP_MarkerValP markerP;
    AEGP_LayerIDVal layer_id;
} AEGP_StreamVal;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal val;
} AEGP_StreamValue;

typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
    AEGP_ArbBlockVal arbH;
    AEGP_MarkerValP markerP;
    AEGP_LayerIDVal layer_id;
    AEGP_MaskIDVal mask_id;
    AEGP_MaskOutlineValH mask;
    AEGP_TextDocumentH text_documentH;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

// "AEGP Utility Suite" version 13.
typedef struct {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID, const A_char*);
    A_Err (*AEGP_ReportInfoUnicode)(AEGP_PluginID, const A_UTF16Char*);
    A_Err (*AEGP_GetDriverPluginInitFuncVersion)(A_short*, A_short*);
    A_Err (*AEGP_GetDriverImplementationVersion)(A_short*, A_short*);
    A_Err (*AEGP_StartQuietErrors)(AEGP_ErrReportState*);
    A_Err (*AEGP_EndQuietErrors)(A_Boolean, AEGP_ErrReportState*);
    A_Err (*AEGP_GetLastErrorMessage)(A_long, A_char*, A_Err*);
    A_Err (*AEGP_StartUndoGroup)(const A_char*);
    A_Err (*AEGP_EndUndoGroup)();
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon, const A_char*, AEGP_PluginID*);
    A_Err (*AEGP_GetMainHWND)(void*);
    A_Err (*AEGP_ShowHideAllFloaters)(A_Boolean);
    A_Err (*AEGP_PaintPalGetForeColor)(AEGP_ColorVal*);
    A_Err (*AEGP_PaintPalGetBackColor)(AEGP_ColorVal*);
    A_Err (*AEGP_PaintPalSetForeColor)(const AEGP_ColorVal*);
    A_Err (*AEGP_PaintPalSetBackColor)(const AEGP_ColorVal*);
    A_Err (*AEGP_CharPalGetFillColor)(A_Boolean*, AEGP_ColorVal*);
    A_Err (*AEGP_CharPalGetStrokeColor)(A_Boolean*, AEGP_ColorVal*);
    A_Err (*AEGP_CharPalSetFillColor)(const AEGP_ColorVal*);
    A_Err (*AEGP_CharPalSetStrokeColor)(const AEGP_ColorVal*);
    A_Err (*AEGP_CharPalIsFillColorUIFrontmost)(A_Boolean*);
    A_Err (*AEGP_ConvertFpLongToHSFRatio)(A_FpLong, A_Ratio*);
    A_Err (*AEGP_ConvertHSFRatioToFpLong)(A_Ratio, A_FpLong*);
    A_Err (*AEGP_CauseIdleRoutinesToBeCalled)();
    A_Err (*AEGP_GetSuppressInteractiveUI)(A_Boolean*);
    A_Err (*AEGP_WriteToOSConsole)(const A_char*);
    A_Err (*AEGP_WriteToDebugLog)(const A_char*, const A_char*, const A_char*);
    A_Err (*AEGP_IsScriptingAvailable)(A_Boolean*);
    A_Err (*AEGP_ExecuteScript)(AEGP_PluginID, const A_char*, const A_Boolean, AEGP_MemHandle*, AEGP_MemHandle*);
    A_Err (*AEGP_HostIsActivated)(A_Boolean*);
    A_Err (*AEGP_GetPluginPlatformRef)(AEGP_PluginID, void**);
    A_Err (*AEGP_UpdateFontList)();
    A_Err (*AEGP_GetPluginPaths)(AEGP_PluginID, AEGP_GetPathTypes, AEGP_MemHandle*);
} AEGP_UtilitySuite6;

// "AEGP PF Interface Suite" version 1. GetEffectCameraMatrix gives the camera-to-world matrix
// (row vectors: rows are the camera's right, down and forward axes, then its position), the
// distance to the image plane and the plane's size in pixels.
typedef struct {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr, AEGP_LayerH*);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID, PF_ProgPtr, AEGP_EffectRefH*);
    A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr, A_long, A_u_long, A_Time*);
    A_Err (*AEGP_GetEffectCamera)(PF_ProgPtr, const A_Time*, AEGP_LayerH*);
    A_Err (*AEGP_GetEffectCameraMatrix)(PF_ProgPtr, const A_Time*, A_Matrix4*, A_FpLong*, A_short*, A_short*);
} AEGP_PFInterfaceSuite1;

// "AEGP Stream Suite" version 7.
typedef struct {
    A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH, AEGP_LayerStream, A_Boolean*);
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH, AEGP_KeyInterpolationMask*);
    A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID, AEGP_LayerH, AEGP_LayerStream, AEGP_StreamRefH*);
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH, A_long*);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID, AEGP_EffectRefH, PF_ParamIndex, AEGP_StreamRefH*);
    A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID, AEGP_MaskRefH, AEGP_MaskStream, AEGP_StreamRefH*);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH);
    A_Err (*AEGP_GetStreamName)(AEGP_StreamRefH, A_Boolean, A_char*);
    A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH, A_Boolean, A_char*);
    A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH, AEGP_StreamFlags*, A_FpLong*, A_FpLong*);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH, AEGP_StreamType*);
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID, AEGP_StreamRefH, AEGP_LTimeMode, const A_Time*, A_Boolean, AEGP_StreamValue*);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue*);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID, AEGP_StreamRefH, AEGP_StreamValue*);
    A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH, AEGP_LayerStream, AEGP_LTimeMode, const A_Time*, A_Boolean, AEGP_StreamVal*, AEGP_StreamType*);
    A_Err (*AEGP_GetExpressionState)(AEGP_PluginID, AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_SetExpressionState)(AEGP_PluginID, AEGP_StreamRefH, A_Boolean);
    A_Err (*AEGP_GetExpression)(AEGP_PluginID, AEGP_StreamRefH, AEGP_MemHandle*);
    A_Err (*AEGP_SetExpression)(AEGP_PluginID, AEGP_StreamRefH, const A_char*);
    A_Err (*AEGP_DuplicateStreamRef)(AEGP_PluginID, AEGP_StreamRefH, AEGP_StreamRefH*);
} AEGP_StreamSuite2;

// "AEGP Stream Suite" version 11. A value from GetNewStreamValue is the caller's to give back
// with DisposeStreamValue.
typedef struct {
    A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH, AEGP_LayerStream, A_Boolean*);
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH, AEGP_KeyInterpolationMask*);
    A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID, AEGP_LayerH, AEGP_LayerStream, AEGP_StreamRefH*);
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH, A_long*);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID, AEGP_EffectRefH, PF_ParamIndex, AEGP_StreamRefH*);
    A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID, AEGP_MaskRefH, AEGP_MaskStream, AEGP_StreamRefH*);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH);
    A_Err (*AEGP_GetStreamName)(AEGP_PluginID, AEGP_StreamRefH, A_Boolean, AEGP_MemHandle*);
    A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH, A_Boolean, A_char*);
    A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH, AEGP_StreamFlags*, A_FpLong*, A_FpLong*);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH, AEGP_StreamType*);
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID, AEGP_StreamRefH, AEGP_LTimeMode, const A_Time*, A_Boolean, AEGP_StreamValue2*);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2*);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID, AEGP_StreamRefH, AEGP_StreamValue2*);
    A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH, AEGP_LayerStream, AEGP_LTimeMode, const A_Time*, A_Boolean, AEGP_StreamVal2*, AEGP_StreamType*);
    A_Err (*AEGP_GetExpressionState)(AEGP_PluginID, AEGP_StreamRefH, A_Boolean*);
    A_Err (*AEGP_SetExpressionState)(AEGP_PluginID, AEGP_StreamRefH, A_Boolean);
    A_Err (*AEGP_GetExpression)(AEGP_PluginID, AEGP_StreamRefH, AEGP_MemHandle*);
    A_Err (*AEGP_SetExpression)(AEGP_PluginID, AEGP_StreamRefH, const A_UTF16Char*);
    A_Err (*AEGP_DuplicateStreamRef)(AEGP_PluginID, AEGP_StreamRefH, AEGP_StreamRefH*);
    A_Err (*AEGP_GetUniqueStreamID)(AEGP_StreamRefH, int32_t*);
} AEGP_StreamSuite6;

// "AEGP Dynamic Stream Suite" version 2.
typedef struct {
    A_Err (*AEGP_GetNewStreamRefForLayer)(AEGP_PluginID, AEGP_LayerH, AEGP_StreamRefH*);
    A_Err (*AEGP_GetStreamDepth)(AEGP_StreamRefH, A_long*);
    A_Err (*AEGP_GetStreamGroupingType)(AEGP_StreamRefH, AEGP_StreamGroupingType*);
    A_Err (*AEGP_GetNumStreamsInGroup)(AEGP_StreamRefH, A_long*);
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH, AEGP_DynStreamFlags*);
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH, AEGP_DynStreamFlags, A_Boolean, A_Boolean);
    A_Err (*AEGP_GetNewStreamRefByIndex)(AEGP_PluginID, AEGP_StreamRefH, A_long, AEGP_StreamRefH*);
    A_Err (*AEGP_GetNewStreamRefByMatchname)(AEGP_PluginID, AEGP_StreamRefH, const A_char*, AEGP_StreamRefH*);
    A_Err (*AEGP_DeleteStream)(AEGP_StreamRefH);
    A_Err (*AEGP_ReorderStream)(AEGP_StreamRefH, A_long);
    A_Err (*AEGP_DuplicateStream)(AEGP_PluginID, AEGP_StreamRefH, A_long*);
    A_Err (*AEGP_SetStreamName)(AEGP_StreamRefH, const A_char*);
    A_Err (*AEGP_CanAddStream)(AEGP_StreamRefH, const A_char*, A_Boolean*);
    A_Err (*AEGP_AddStream)(AEGP_PluginID, AEGP_StreamRefH, const A_char*, AEGP_StreamRefH*);
    A_Err (*AEGP_GetMatchName)(AEGP_StreamRefH, A_char*);
    A_Err (*AEGP_GetNewParentStreamRef)(AEGP_PluginID, AEGP_StreamRefH, AEGP_StreamRefH*);
    A_Err (*AEGP_GetStreamIsModified)(AEGP_StreamRefH, A_Boolean*);
} AEGP_DynamicStreamSuite2;

// "AEGP Effect Suite" version 4.
typedef struct {
    A_Err (*AEGP_GetLayerNumEffects)(AEGP_LayerH, A_long*);
    A_Err (*AEGP_GetLayerEffectByIndex)(AEGP_PluginID, AEGP_LayerH, AEGP_EffectIndex, AEGP_EffectRefH*);
    A_Err (*AEGP_GetInstalledKeyFromLayerEffect)(AEGP_EffectRefH, AEGP_InstalledEffectKey*);
    A_Err (*AEGP_GetEffectParamUnionByIndex)(AEGP_PluginID, AEGP_EffectRefH, PF_ParamIndex, PF_ParamType*, PF_ParamDefUnion*);
    A_Err (*AEGP_GetEffectFlags)(AEGP_EffectRefH, AEGP_EffectFlags*);
    A_Err (*AEGP_SetEffectFlags)(AEGP_EffectRefH, AEGP_EffectFlags, AEGP_EffectFlags);
    A_Err (*AEGP_ReorderEffect)(AEGP_EffectRefH, A_long);
    A_Err (*AEGP_EffectCallGeneric)(AEGP_PluginID, AEGP_EffectRefH, const A_Time*, PF_Cmd, void*);
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH);
    A_Err (*AEGP_ApplyEffect)(AEGP_PluginID, AEGP_LayerH, AEGP_InstalledEffectKey, AEGP_EffectRefH*);
    A_Err (*AEGP_DeleteLayerEffect)(AEGP_EffectRefH);
    A_Err (*AEGP_GetNumInstalledEffects)(A_long*);
    A_Err (*AEGP_GetNextInstalledEffect)(AEGP_InstalledEffectKey, AEGP_InstalledEffectKey*);
    A_Err (*AEGP_GetEffectName)(AEGP_InstalledEffectKey, A_char*);
    A_Err (*AEGP_GetEffectMatchName)(AEGP_InstalledEffectKey, A_char*);
    A_Err (*AEGP_GetEffectCategory)(AEGP_InstalledEffectKey, A_char*);
    A_Err (*AEGP_DuplicateEffect)(AEGP_EffectRefH, AEGP_EffectRefH*);
    A_Err (*AEGP_NumEffectMask)(AEGP_EffectRefH, A_u_long*);
    A_Err (*AEGP_GetEffectMaskID)(AEGP_EffectRefH, A_u_long, AEGP_MaskIDVal*);
    A_Err (*AEGP_AddEffectMask)(AEGP_EffectRefH, AEGP_MaskIDVal, AEGP_StreamRefH*);
    A_Err (*AEGP_RemoveEffectMask)(AEGP_EffectRefH, AEGP_MaskIDVal);
    A_Err (*AEGP_SetEffectMask)(AEGP_EffectRefH, A_u_long, AEGP_MaskIDVal, AEGP_StreamRefH*);
} AEGP_EffectSuite4;

// "AEGP Keyframe Suite" version 4.
typedef struct {
    A_Err (*AEGP_GetStreamNumKFs)(AEGP_StreamRefH, A_long*);
    A_Err (*AEGP_GetKeyframeTime)(AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_LTimeMode, A_Time*);
    A_Err (*AEGP_InsertKeyframe)(AEGP_StreamRefH, AEGP_LTimeMode, const A_Time*, AEGP_KeyframeIndex*);
    A_Err (*AEGP_DeleteKeyframe)(AEGP_StreamRefH, AEGP_KeyframeIndex);
    A_Err (*AEGP_GetNewKeyframeValue)(AEGP_PluginID, AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_StreamValue2*);
    A_Err (*AEGP_SetKeyframeValue)(AEGP_StreamRefH, AEGP_KeyframeIndex, const AEGP_StreamValue2*);
    A_Err (*AEGP_GetStreamValueDimensionality)(AEGP_StreamRefH, A_short*);
    A_Err (*AEGP_GetStreamTemporalDimensionality)(AEGP_StreamRefH, A_short*);
    A_Err (*AEGP_GetNewKeyframeSpatialTangents)(AEGP_PluginID, AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_StreamValue2*, AEGP_StreamValue2*);
    A_Err (*AEGP_SetKeyframeSpatialTangents)(AEGP_StreamRefH, AEGP_KeyframeIndex, const AEGP_StreamValue2*, const AEGP_StreamValue2*);
    A_Err (*AEGP_GetKeyframeTemporalEase)(AEGP_StreamRefH, AEGP_KeyframeIndex, A_long, AEGP_KeyframeEase*, AEGP_KeyframeEase*);
    A_Err (*AEGP_SetKeyframeTemporalEase)(AEGP_StreamRefH, AEGP_KeyframeIndex, A_long, const AEGP_KeyframeEase*, const AEGP_KeyframeEase*);
    A_Err (*AEGP_GetKeyframeFlags)(AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_KeyframeFlags*);
    A_Err (*AEGP_SetKeyframeFlag)(AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_KeyframeFlags, A_Boolean);
    A_Err (*AEGP_GetKeyframeInterpolation)(AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_KeyframeInterpolationType*, AEGP_KeyframeInterpolationType*);
    A_Err (*AEGP_SetKeyframeInterpolation)(AEGP_StreamRefH, AEGP_KeyframeIndex, AEGP_KeyframeInterpolationType, AEGP_KeyframeInterpolationType);
    A_Err (*AEGP_StartAddKeyframes)(AEGP_StreamRefH, AEGP_AddKeyframesInfoH*);
    A_Err (*AEGP_AddKeyframes)(AEGP_AddKeyframesInfoH, AEGP_LTimeMode, const A_Time*, A_long*);
    A_Err (*AEGP_SetAddKeyframe)(AEGP_AddKeyframesInfoH, A_long, const AEGP_StreamValue2*);
    A_Err (*AEGP_EndAddKeyframes)(A_Boolean, AEGP_AddKeyframesInfoH);
} AEGP_KeyframeSuite4;

// "AEGP Layer Suite" version 14.
typedef struct {
    A_Err (*AEGP_GetCompNumLayers)(AEGP_CompH, A_long*);
    A_Err (*AEGP_GetCompLayerByIndex)(AEGP_CompH, A_long, AEGP_LayerH*);
    A_Err (*AEGP_GetActiveLayer)(AEGP_LayerH*);
    A_Err (*AEGP_GetLayerIndex)(AEGP_LayerH, A_long*);
    A_Err (*AEGP_GetLayerSourceItem)(AEGP_LayerH, AEGP_ItemH*);
    A_Err (*AEGP_GetLayerSourceItemID)(AEGP_LayerH, A_long*);
    A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH, AEGP_CompH*);
    A_Err (*AEGP_GetLayerName)(AEGP_PluginID, AEGP_LayerH, AEGP_MemHandle*, AEGP_MemHandle*);
    A_Err (*AEGP_GetLayerQuality)(AEGP_LayerH, AEGP_LayerQuality*);
    A_Err (*AEGP_SetLayerQuality)(AEGP_LayerH, AEGP_LayerQuality);
    A_Err (*AEGP_GetLayerFlags)(AEGP_LayerH, AEGP_LayerFlags*);
    A_Err (*AEGP_SetLayerFlag)(AEGP_LayerH, AEGP_LayerFlags, A_Boolean);
    A_Err (*AEGP_IsLayerVideoReallyOn)(AEGP_LayerH, A_Boolean*);
    A_Err (*AEGP_IsLayerAudioReallyOn)(AEGP_LayerH, A_Boolean*);
    A_Err (*AEGP_GetLayerCurrentTime)(AEGP_LayerH, AEGP_LTimeMode, A_Time*);
    A_Err (*AEGP_GetLayerInPoint)(AEGP_LayerH, AEGP_LTimeMode, A_Time*);
    A_Err (*AEGP_GetLayerDuration)(AEGP_LayerH, AEGP_LTimeMode, A_Time*);
    A_Err (*AEGP_SetLayerInPointAndDuration)(AEGP_LayerH, AEGP_LTimeMode, const A_Time*, const A_Time*);
    A_Err (*AEGP_GetLayerOffset)(AEGP_LayerH, A_Time*);
    A_Err (*AEGP_SetLayerOffset)(AEGP_LayerH, const A_Time*);
    A_Err (*AEGP_GetLayerStretch)(AEGP_LayerH, A_Ratio*);
    A_Err (*AEGP_SetLayerStretch)(AEGP_LayerH, const A_Ratio*);
    A_Err (*AEGP_GetLayerTransferMode)(AEGP_LayerH, AEGP_LayerTransferMode*);
    A_Err (*AEGP_SetLayerTransferMode)(AEGP_LayerH, const AEGP_LayerTransferMode*);
    A_Err (*AEGP_IsAddLayerValid)(AEGP_ItemH, AEGP_CompH, A_Boolean*);
    A_Err (*AEGP_AddLayer)(AEGP_ItemH, AEGP_CompH, AEGP_LayerH*);
    A_Err (*AEGP_ReorderLayer)(AEGP_LayerH, A_long);
    A_Err (*AEGP_GetLayerMaskedBounds)(AEGP_LayerH, AEGP_LTimeMode, const A_Time*, A_FloatRect*);
    A_Err (*AEGP_GetLayerObjectType)(AEGP_LayerH, AEGP_ObjectType*);
    A_Err (*AEGP_IsLayer3D)(AEGP_LayerH, A_Boolean*);
    A_Err (*AEGP_IsLayer2D)(AEGP_LayerH, A_Boolean*);
    A_Err (*AEGP_IsVideoActive)(AEGP_LayerH, AEGP_LTimeMode, const A_Time*, A_Boolean*);
    A_Err (*AEGP_IsLayerUsedAsTrackMatte)(AEGP_LayerH, A_Boolean, A_Boolean*);
    A_Err (*AEGP_DoesLayerHaveTrackMatte)(AEGP_LayerH, A_Boolean*);
    A_Err (*AEGP_ConvertCompToLayerTime)(AEGP_LayerH, const A_Time*, A_Time*);
    A_Err (*AEGP_ConvertLayerToCompTime)(AEGP_LayerH, const A_Time*, A_Time*);
    A_Err (*AEGP_GetLayerDancingRandValue)(AEGP_LayerH, const A_Time*, A_long*);
    A_Err (*AEGP_GetLayerID)(AEGP_LayerH, AEGP_LayerIDVal*);
    A_Err (*AEGP_GetLayerToWorldXform)(AEGP_LayerH, const A_Time*, A_Matrix4*);
    A_Err (*AEGP_GetLayerToWorldXformFromView)(AEGP_LayerH, const A_Time*, const A_Time*, A_Matrix4*);
    A_Err (*AEGP_SetLayerName)(AEGP_LayerH, const A_UTF16Char*);
    A_Err (*AEGP_GetLayerParent)(const AEGP_LayerH, AEGP_LayerH*);
    A_Err (*AEGP_SetLayerParent)(AEGP_LayerH, const AEGP_LayerH);
    A_Err (*AEGP_DeleteLayer)(AEGP_LayerH);
    A_Err (*AEGP_DuplicateLayer)(AEGP_LayerH, AEGP_LayerH*);
    A_Err (*AEGP_GetLayerFromLayerID)(AEGP_CompH, AEGP_LayerIDVal, AEGP_LayerH*);
    A_Err (*AEGP_GetLayerLabel)(AEGP_LayerH, AEGP_LabelID*);
    A_Err (*AEGP_SetLayerLabel)(AEGP_LayerH, AEGP_LabelID);
    A_Err (*AEGP_GetLayerSamplingQuality)(AEGP_LayerH, AEGP_LayerSamplingQuality*);
    A_Err (*AEGP_SetLayerSamplingQuality)(AEGP_LayerH, AEGP_LayerSamplingQuality);
} AEGP_LayerSuite8;

// "AEGP Comp Suite" version 25.
typedef struct {
    A_Err (*AEGP_GetCompFromItem)(AEGP_ItemH, AEGP_CompH*);
    A_Err (*AEGP_GetItemFromComp)(AEGP_CompH, AEGP_ItemH*);
    A_Err (*AEGP_GetCompDownsampleFactor)(AEGP_CompH, AEGP_DownsampleFactor*);
    A_Err (*AEGP_SetCompDownsampleFactor)(AEGP_CompH, const AEGP_DownsampleFactor*);
    A_Err (*AEGP_GetCompBGColor)(AEGP_CompH, AEGP_ColorVal*);
    A_Err (*AEGP_SetCompBGColor)(AEGP_CompH, const AEGP_ColorVal*);
    A_Err (*AEGP_GetCompFlags)(AEGP_CompH, AEGP_CompFlags*);
    A_Err (*AEGP_GetShowLayerNameOrSourceName)(AEGP_CompH, A_Boolean*);
    A_Err (*AEGP_SetShowLayerNameOrSourceName)(AEGP_CompH, A_Boolean);
    A_Err (*AEGP_GetShowBlendModes)(AEGP_CompH, A_Boolean*);
    A_Err (*AEGP_SetShowBlendModes)(AEGP_CompH, A_Boolean);
    A_Err (*AEGP_GetCompFramerate)(AEGP_CompH, A_FpLong*);
    A_Err (*AEGP_SetCompFrameRate)(AEGP_CompH, const A_FpLong*);
    A_Err (*AEGP_GetCompShutterAnglePhase)(AEGP_CompH, A_Ratio*, A_Ratio*);
    A_Err (*AEGP_GetCompShutterFrameRange)(AEGP_CompH, const A_Time*, A_Time*, A_Time*);
    A_Err (*AEGP_GetCompSuggestedMotionBlurSamples)(AEGP_CompH, A_long*);
    A_Err (*AEGP_SetCompSuggestedMotionBlurSamples)(AEGP_CompH, A_long);
    A_Err (*AEGP_GetCompMotionBlurAdaptiveSampleLimit)(AEGP_CompH, A_long*);
    A_Err (*AEGP_SetCompMotionBlurAdaptiveSampleLimit)(AEGP_CompH, A_long);
    A_Err (*AEGP_GetCompWorkAreaStart)(AEGP_CompH, A_Time*);
    A_Err (*AEGP_GetCompWorkAreaDuration)(AEGP_CompH, A_Time*);
    A_Err (*AEGP_SetCompWorkAreaStartAndDuration)(AEGP_CompH, const A_Time*, const A_Time*);
    A_Err (*AEGP_CreateSolidInComp)(const A_UTF16Char*, A_long, A_long, const AEGP_ColorVal*, AEGP_CompH, const A_Time*, AEGP_LayerH*);
    A_Err (*AEGP_CreateCameraInComp)(const A_UTF16Char*, A_FloatPoint, AEGP_CompH, AEGP_LayerH*);
    A_Err (*AEGP_CreateLightInComp)(const A_UTF16Char*, A_FloatPoint, AEGP_CompH, AEGP_LayerH*);
    A_Err (*AEGP_CreateComp)(AEGP_ItemH, const A_UTF16Char*, A_long, A_long, const A_Ratio*, const A_Time*, const A_Ratio*, AEGP_CompH*);
    A_Err (*AEGP_GetNewCollectionFromCompSelection)(AEGP_PluginID, AEGP_CompH, AEGP_Collection2H*);
    A_Err (*AEGP_SetSelection)(AEGP_CompH, AEGP_Collection2H);
    A_Err (*AEGP_GetCompDisplayStartTime)(AEGP_CompH, A_Time*);
    A_Err (*AEGP_SetCompDisplayStartTime)(AEGP_CompH, const A_Time*);
    A_Err (*AEGP_SetCompDuration)(AEGP_CompH, const A_Time*);
    A_Err (*AEGP_CreateNullInComp)(const A_UTF16Char*, AEGP_CompH, const A_Time*, AEGP_LayerH*);
    A_Err (*AEGP_SetCompPixelAspectRatio)(AEGP_CompH, const A_Ratio*);
    A_Err (*AEGP_CreateTextLayerInComp)(AEGP_CompH, A_Boolean, AEGP_LayerH*);
    A_Err (*AEGP_CreateBoxTextLayerInComp)(AEGP_CompH, A_Boolean, A_FloatPoint, AEGP_LayerH*);
    A_Err (*AEGP_SetCompDimensions)(AEGP_CompH, A_long, A_long);
    A_Err (*AEGP_DuplicateComp)(AEGP_CompH, AEGP_CompH*);
    A_Err (*AEGP_GetCompFrameDuration)(AEGP_CompH, A_Time*);
    A_Err (*AEGP_GetMostRecentlyUsedComp)(AEGP_CompH*);
    A_Err (*AEGP_CreateVectorLayerInComp)(AEGP_CompH, AEGP_LayerH*);
    A_Err (*AEGP_GetNewCompMarkerStream)(AEGP_PluginID, AEGP_CompH, AEGP_StreamRefH*);
    A_Err (*AEGP_GetCompDisplayDropFrame)(AEGP_CompH, A_Boolean*);
    A_Err (*AEGP_SetCompDisplayDropFrame)(AEGP_CompH, A_Boolean);
    A_Err (*AEGP_ReorderCompSelection)(AEGP_CompH, A_long);
} AEGP_CompSuite11;

// "AEGP Layer Mask Suite" version 7.
typedef struct {
    A_Err (*AEGP_GetLayerNumMasks)(AEGP_LayerH, A_long*);
    A_Err (*AEGP_GetLayerMaskByIndex)(AEGP_LayerH, AEGP_MaskIndex, AEGP_MaskRefH*);
    A_Err (*AEGP_DisposeMask)(AEGP_MaskRefH);
    A_Err (*AEGP_GetMaskInvert)(AEGP_MaskRefH, A_Boolean*);
    A_Err (*AEGP_SetMaskInvert)(AEGP_MaskRefH, A_Boolean);
    A_Err (*AEGP_GetMaskMode)(AEGP_MaskRefH, PF_MaskMode*);
    A_Err (*AEGP_SetMaskMode)(AEGP_MaskRefH, PF_MaskMode);
    A_Err (*AEGP_GetMaskMotionBlurState)(AEGP_MaskRefH, AEGP_MaskMBlur*);
    A_Err (*AEGP_SetMaskMotionBlurState)(AEGP_MaskRefH, AEGP_MaskMBlur);
    A_Err (*AEGP_GetMaskFeatherFalloff)(AEGP_MaskRefH, AEGP_MaskFeatherFalloff*);
    A_Err (*AEGP_SetMaskFeatherFalloff)(AEGP_MaskRefH, AEGP_MaskFeatherFalloff);
    A_Err (*AEGP_GetMaskID)(AEGP_MaskRefH, AEGP_MaskIDVal*);
    A_Err (*AEGP_CreateNewMask)(AEGP_LayerH, AEGP_MaskRefH*, A_long*);
    A_Err (*AEGP_DeleteMaskFromLayer)(AEGP_MaskRefH);
    A_Err (*AEGP_GetMaskColor)(AEGP_MaskRefH, AEGP_ColorVal*);
    A_Err (*AEGP_SetMaskColor)(AEGP_MaskRefH, const AEGP_ColorVal*);
    A_Err (*AEGP_GetMaskLockState)(AEGP_MaskRefH, A_Boolean*);
    A_Err (*AEGP_SetMaskLockState)(AEGP_MaskRefH, A_Boolean);
    A_Err (*AEGP_GetMaskIsRotoBezier)(AEGP_MaskRefH, A_Boolean*);
    A_Err (*AEGP_SetMaskIsRotoBezier)(AEGP_MaskRefH, A_Boolean);
    A_Err (*AEGP_DuplicateMask)(AEGP_MaskRefH, AEGP_MaskRefH*);
} AEGP_MaskSuite6;

// "AEGP Mask Outline Suite" version 5.
typedef struct {
    A_Err (*AEGP_IsMaskOutlineOpen)(AEGP_MaskOutlineValH, A_Boolean*);
    A_Err (*AEGP_SetMaskOutlineOpen)(AEGP_MaskOutlineValH, A_Boolean);
    A_Err (*AEGP_GetMaskOutlineNumSegments)(AEGP_MaskOutlineValH, A_long*);
    A_Err (*AEGP_GetMaskOutlineVertexInfo)(AEGP_MaskOutlineValH, AEGP_VertexIndex, AEGP_MaskVertex*);
    A_Err (*AEGP_SetMaskOutlineVertexInfo)(AEGP_MaskOutlineValH, AEGP_VertexIndex, const AEGP_MaskVertex*);
    A_Err (*AEGP_CreateVertex)(AEGP_MaskOutlineValH, AEGP_VertexIndex);
    A_Err (*AEGP_DeleteVertex)(AEGP_MaskOutlineValH, AEGP_VertexIndex);
    A_Err (*AEGP_GetMaskOutlineNumFeathers)(AEGP_MaskOutlineValH, A_long*);
    A_Err (*AEGP_GetMaskOutlineFeatherInfo)(AEGP_MaskOutlineValH, AEGP_FeatherIndex, AEGP_MaskFeather*);
    A_Err (*AEGP_SetMaskOutlineFeatherInfo)(AEGP_MaskOutlineValH, AEGP_VertexIndex, const AEGP_MaskFeather*);
    A_Err (*AEGP_CreateMaskOutlineFeather)(AEGP_MaskOutlineValH, const AEGP_MaskFeather*, AEGP_FeatherIndex*);
    A_Err (*AEGP_DeleteMaskOutlineFeather)(AEGP_MaskOutlineValH, AEGP_FeatherIndex);
} AEGP_MaskOutlineSuite3;

#pragma pack(pop)
