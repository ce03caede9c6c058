// The host's utility callbacks (handles, formatted text, colour and image helpers) reached through
// PF_InData.utils, and the smart pre-render and smart render records: the layer request, checkout
// results and the callbacks through which an effect checks out layers and its output.
#pragma once

#include "AE_Effect.h"

#pragma pack(push, 8)

// Types the unused utility callbacks take; the effect never looks inside them.
typedef struct PF_SampPB PF_SampPB;
typedef struct PF_CompositeMode PF_CompositeMode;
typedef struct PF_MaskWorld PF_MaskWorld;
typedef A_long PF_XferMode;
typedef A_u_long PF_KernelFlags;
typedef A_long PF_NewWorldFlags;
typedef A_long PF_CallbackID;
typedef A_long PF_PlatDataID;
typedef PF_Err (*PF_CallbackFunc)(void);
typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
typedef PF_Err (*PF_IteratePixel16Func)(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);

typedef struct {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong, A_FpLong);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong, A_FpLong);
    A_FpLong (*hypot)(A_FpLong, A_FpLong);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong, A_FpLong);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char*, const A_char*, ...);
    A_char* (*strcpy)(A_char*, const A_char*);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
    A_long ansi_procs[1];
} PF_ANSICallbacks;

typedef struct {
    PF_Err (*RGBtoHLS)(PF_ProgPtr, PF_Pixel*, PF_Fixed*);
    PF_Err (*HLStoRGB)(PF_ProgPtr, PF_Fixed*, PF_Pixel*);
    PF_Err (*RGBtoYIQ)(PF_ProgPtr, PF_Pixel*, PF_Fixed*);
    PF_Err (*YIQtoRGB)(PF_ProgPtr, PF_Fixed*, PF_Pixel*);
    PF_Err (*Luminance)(PF_ProgPtr, PF_Pixel*, A_long*);
    PF_Err (*Hue)(PF_ProgPtr, PF_Pixel*, A_long*);
    PF_Err (*Lightness)(PF_ProgPtr, PF_Pixel*, A_long*);
    PF_Err (*Saturation)(PF_ProgPtr, PF_Pixel*, A_long*);
} PF_ColorCallbacks;

// Handles live at 160-184 and the ANSI table at 208: the effect calls nothing else here.
typedef struct _PF_UtilCallbacks {
    PF_Err (*begin_sampling)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_SampPB*);
    PF_Err (*subpixel_sample)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel*);
    PF_Err (*area_sample)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel*);
    void* get_batch_func_is_deprecated;
    PF_Err (*end_sampling)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_SampPB*);
    PF_Err (*composite_rect)(PF_ProgPtr, PF_Rect*, A_long, PF_EffectWorld*, A_long, A_long, PF_Field, PF_XferMode, PF_EffectWorld*);
    PF_Err (*blend)(PF_ProgPtr, const PF_EffectWorld*, const PF_EffectWorld*, PF_Fixed, PF_EffectWorld*);
    PF_Err (*convolve)(PF_ProgPtr, PF_EffectWorld*, const PF_Rect*, PF_KernelFlags, A_long, void*, void*, void*, void*, PF_EffectWorld*);
    PF_Err (*copy)(PF_ProgPtr, PF_EffectWorld*, PF_EffectWorld*, PF_Rect*, PF_Rect*);
    PF_Err (*fill)(PF_ProgPtr, const PF_Pixel*, const PF_Rect*, PF_EffectWorld*);
    PF_Err (*gaussian_kernel)(PF_ProgPtr, A_FpLong, PF_KernelFlags, A_FpLong, A_long*, void*);
    PF_Err (*iterate)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, void*, PF_IteratePixel8Func, PF_EffectWorld*);
    PF_Err (*premultiply)(PF_ProgPtr, A_long, PF_EffectWorld*);
    PF_Err (*premultiply_color)(PF_ProgPtr, PF_EffectWorld*, const PF_Pixel*, A_long, PF_EffectWorld*);
    PF_Err (*new_world)(PF_ProgPtr, A_long, A_long, PF_NewWorldFlags, PF_EffectWorld*);
    PF_Err (*dispose_world)(PF_ProgPtr, PF_EffectWorld*);
    PF_Err (*iterate_origin)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, const PF_Point*, void*, PF_IteratePixel8Func, PF_EffectWorld*);
    PF_Err (*iterate_lut)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, A_u_char*, A_u_char*, A_u_char*, A_u_char*, PF_EffectWorld*);
    PF_Err (*transfer_rect)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_Field, const PF_Rect*, const PF_EffectWorld*, const PF_CompositeMode*, const PF_MaskWorld*, A_long, A_long, PF_EffectWorld*);
    PF_Err (*transform_world)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_Field, const PF_EffectWorld*, const PF_CompositeMode*, const PF_MaskWorld*, const PF_FloatMatrix*, A_long, PF_Boolean, const PF_Rect*, PF_EffectWorld*);
    PF_Handle (*host_new_handle)(A_u_longlong);
    void* (*host_lock_handle)(PF_Handle);
    void (*host_unlock_handle)(PF_Handle);
    void (*host_dispose_handle)(PF_Handle);
    PF_Err (*get_callback_addr)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_CallbackID, PF_CallbackFunc*);
    PF_Err (*app)(PF_ProgPtr, A_long, ...);
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    PF_Err (*get_platform_data)(PF_ProgPtr, PF_PlatDataID, void*);
    A_u_longlong (*host_get_handle_size)(PF_Handle);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, const PF_Point*, void*, PF_IteratePixel8Func, PF_EffectWorld*);
    PF_Err (*iterate_generic)(A_long, void*, PF_Err (*)(void*, A_long, A_long, A_long));
    PF_Err (*host_resize_handle)(A_u_longlong, PF_Handle*);
    PF_Err (*subpixel_sample16)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*);
    PF_Err (*area_sample16)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*);
    PF_Err (*fill16)(PF_ProgPtr, const PF_Pixel16*, const PF_Rect*, PF_EffectWorld*);
    PF_Err (*premultiply_color16)(PF_ProgPtr, PF_EffectWorld*, const PF_Pixel16*, A_long, PF_EffectWorld*);
    PF_Err (*iterate16)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, void*, PF_IteratePixel16Func, PF_EffectWorld*);
    PF_Err (*iterate_origin16)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, const PF_Point*, void*, PF_IteratePixel16Func, PF_EffectWorld*);
    PF_Err (*iterate_origin_non_clip_src16)(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, const PF_Point*, void*, PF_IteratePixel16Func, PF_EffectWorld*);
    PF_Err (*get_pixel_data8)(PF_EffectWorld*, PF_PixelPtr, PF_Pixel8**);
    PF_Err (*get_pixel_data16)(PF_EffectWorld*, PF_PixelPtr, PF_Pixel16**);
    A_long reserved[1];
} PF_UtilCallbacks;

typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr, PF_ParamIndex, A_long, const PF_RenderRequest*, A_long, A_long, A_u_long, PF_CheckoutResult*);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr, A_u_long, const void*);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr, A_long, PF_EffectWorld**);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr, A_long);
    PF_Err (*checkout_output)(PF_ProgPtr, PF_EffectWorld**);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

#pragma pack(pop)
