// The host's effect interface: commands, errors, flags, parameter definitions, worlds and the
// records handed to the entry point. Our own declarations of the published interface: the host
// reads and writes these records at its own offsets, so every record has the published fields in
// the published order, packed as the host packs them (8-byte packing, `long` never used because
// it is 32 bits on Windows and 64 on Linux).
#pragma once

#include "A.h"
#include "AE_Macros.h"
#include "SPBasic.h"

#pragma pack(push, 8)

#define PF_PLUG_IN_VERSION 13
#define PF_PLUG_IN_SUBVERS 28

#define PF_MAX_EFFECT_NAME_LEN 31
#define PF_MAX_EFFECT_CATEGORY_NAME_LEN 31
#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_PARAM_DESCRIPTION_LEN 31
#define PF_MAX_PARAM_VALUE_LEN 31
#define PF_MAX_EFFECT_MSG_LEN 255
#define PF_MAX_WORLD_WIDTH 30000
#define PF_MAX_WORLD_HEIGHT 30000
#define PF_FIRST_ERR 512

#define PF_MAX_CHAN8 255
#define PF_HALF_CHAN8 128
#define PF_MAX_CHAN16 32768
#define PF_HALF_CHAN16 16384

typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_Quality;
typedef A_long PF_ModeFlags;
typedef A_long PF_Field;
typedef A_long PF_WorldFlags;
typedef A_long PF_ChannelMask;
typedef A_long PF_Fixed;  // 16.16 fixed point
typedef A_u_long PF_UFixed;
typedef A_char PF_Boolean;
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;
typedef A_short PF_ValueDisplayFlags;
typedef A_u_long PF_FSliderFlags;
typedef A_u_long PF_PathID;
typedef A_long PF_GPU_Framework;
typedef short PF_RenderOutputFlags;
typedef A_short PF_SoundChannels;
typedef A_short PF_SoundFormat;
typedef A_short PF_SoundSampleSize;
typedef void** PF_Handle;
typedef PF_Handle PF_ArbitraryH;
typedef struct PF_ProgressInfo* PF_ProgPtr;

enum {
    PF_Stage_DEVELOP = 0,
    PF_Stage_ALPHA = 1,
    PF_Stage_BETA = 2,
    PF_Stage_RELEASE = 3,
};

enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_SEQUENCE_RESETUP = 6,
    PF_Cmd_SEQUENCE_FLATTEN = 7,
    PF_Cmd_SEQUENCE_SETDOWN = 8,
    PF_Cmd_DO_DIALOG = 9,
    PF_Cmd_FRAME_SETUP = 10,
    PF_Cmd_RENDER = 11,
    PF_Cmd_FRAME_SETDOWN = 12,
    PF_Cmd_USER_CHANGED_PARAM = 13,
    PF_Cmd_UPDATE_PARAMS_UI = 14,
    PF_Cmd_EVENT = 15,
    PF_Cmd_GET_EXTERNAL_DEPENDENCIES = 16,
    PF_Cmd_COMPLETELY_GENERAL = 17,
    PF_Cmd_QUERY_DYNAMIC_FLAGS = 18,
    PF_Cmd_AUDIO_RENDER = 19,
    PF_Cmd_AUDIO_SETUP = 20,
    PF_Cmd_AUDIO_SETDOWN = 21,
    PF_Cmd_ARBITRARY_CALLBACK = 22,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
    PF_Cmd_RESERVED1 = 25,
    PF_Cmd_RESERVED2 = 26,
    PF_Cmd_RESERVED3 = 27,
    PF_Cmd_GET_FLATTENED_SEQUENCE_DATA = 28,
    PF_Cmd_TRANSLATE_PARAMS_TO_PREFS = 29,
    PF_Cmd_RESERVED4 = 30,
    PF_Cmd_SMART_RENDER_GPU = 31,
    PF_Cmd_GPU_DEVICE_SETUP = 32,
    PF_Cmd_GPU_DEVICE_SETDOWN = 33,
    PF_Cmd_NUM_CMDS = 34,
};

enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
};

enum {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_KEEP_RESOURCE_OPEN = 0x1,
    PF_OutFlag_WIDE_TIME_INPUT = 0x2,
    PF_OutFlag_NON_PARAM_VARY = 0x4,
    PF_OutFlag_RESERVED6 = 0x8,
    PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 0x10,
    PF_OutFlag_I_DO_DIALOG = 0x20,
    PF_OutFlag_USE_OUTPUT_EXTENT = 0x40,
    PF_OutFlag_SEND_DO_DIALOG = 0x80,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100,
    PF_OutFlag_I_EXPAND_BUFFER = 0x200,
    PF_OutFlag_PIX_INDEPENDENT = 0x400,
    PF_OutFlag_I_WRITE_INPUT_BUFFER = 0x800,
    PF_OutFlag_I_SHRINK_BUFFER = 0x1000,
    PF_OutFlag_WORKS_IN_PLACE = 0x2000,
    PF_OutFlag_RESERVED8 = 0x4000,
    PF_OutFlag_CUSTOM_UI = 0x8000,
    PF_OutFlag_RESERVED7 = 0x10000,
    PF_OutFlag_REFRESH_UI = 0x20000,
    PF_OutFlag_NOP_RENDER = 0x40000,
    PF_OutFlag_I_USE_SHUTTER_ANGLE = 0x80000,
    PF_OutFlag_I_USE_AUDIO = 0x100000,
    PF_OutFlag_I_AM_OBSOLETE = 0x200000,
    PF_OutFlag_FORCE_RERENDER = 0x400000,
    PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 0x800000,
    PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES = 0x1000000,
    PF_OutFlag_DEEP_COLOR_AWARE = 0x2000000,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 0x4000000,
    PF_OutFlag_AUDIO_FLOAT_ONLY = 0x8000000,
    PF_OutFlag_AUDIO_IIR = 0x10000000,
    PF_OutFlag_I_SYNTHESIZE_AUDIO = 0x20000000,
    PF_OutFlag_AUDIO_EFFECT_TOO = 0x40000000,
    PF_OutFlag_AUDIO_EFFECT_ONLY = 0x80000000u,
};

enum {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 0x1,
    PF_OutFlag2_I_USE_3D_CAMERA = 0x2,
    PF_OutFlag2_I_USE_3D_LIGHTS = 0x4,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 0x8,
    PF_OutFlag2_I_AM_THREADSAFE = 0x10,
    PF_OutFlag2_CAN_COMBINE_WITH_DESTINATION = 0x20,
    PF_OutFlag2_DOESNT_NEED_EMPTY_PIXELS = 0x40,
    PF_OutFlag2_REVEALS_ZERO_ALPHA = 0x80,
    PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS = 0x100,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x400,
    PF_OutFlag2_RESERVED9 = 0x800,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 0x1000,
    PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION = 0x2000,
    PF_OutFlag2_I_AM_DEPRECATED = 0x4000,
    PF_OutFlag2_PPRO_DO_NOT_CLONE_SEQUENCE_DATA_FOR_RENDER = 0x8000,
    PF_OutFlag2_RESERVED10 = 0x10000,
    PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 0x20000,
    PF_OutFlag2_I_USE_TIMECODE = 0x40000,
    PF_OutFlag2_DEPENDS_ON_UNREFERENCED_MASKS = 0x80000,
    PF_OutFlag2_OUTPUT_IS_WATERMARKED = 0x100000,
    PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 0x200000,
    PF_OutFlag2_AE13_5_THREADSAFE = 0x400000,
    PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 0x800000,
    PF_OutFlag2_CUSTOM_UI_ASYNC_MANAGER = 0x1000000,
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 0x2000000,
    PF_OutFlag2_RESERVED12 = 0x4000000,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 0x8000000,
    PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER = 0x10000000,
};

enum {
    PF_Param_LAYER = 0,
    PF_Param_SLIDER = 1,
    PF_Param_FIX_SLIDER = 2,
    PF_Param_ANGLE = 3,
    PF_Param_CHECKBOX = 4,
    PF_Param_COLOR = 5,
    PF_Param_POINT = 6,
    PF_Param_POPUP = 7,
    PF_Param_CUSTOM = 8,
    PF_Param_NO_DATA = 9,
    PF_Param_FLOAT_SLIDER = 10,
    PF_Param_ARBITRARY_DATA = 11,
    PF_Param_PATH = 12,
    PF_Param_GROUP_START = 13,
    PF_Param_GROUP_END = 14,
    PF_Param_BUTTON = 15,
    PF_Param_RESERVED2 = 16,
    PF_Param_RESERVED3 = 17,
    PF_Param_POINT_3D = 18,
};
enum { PF_Param_RESERVED = -1 };

enum {
    PF_ParamFlag_RESERVED1 = 0x1,
    PF_ParamFlag_CANNOT_TIME_VARY = 0x2,
    PF_ParamFlag_CANNOT_INTERP = 0x4,
    PF_ParamFlag_RESERVED2 = 0x8,
    PF_ParamFlag_RESERVED3 = 0x10,
    PF_ParamFlag_COLLAPSE_TWIRLY = 0x20,
    PF_ParamFlag_SUPERVISE = 0x40,
    PF_ParamFlag_START_COLLAPSED = 0x20,
    PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 0x80,
    PF_ParamFlag_LAYER_PARAM_IS_TRACKMATTE = 0x80,
    PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED = 0x100,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 0x200,
};

// Set by an effect in a parameter's uu.change_flags to have the host take the new value.
enum {
    PF_ChangeFlag_NONE = 0,
    PF_ChangeFlag_CHANGED_VALUE = 0x1,
    PF_ChangeFlag_RESERVED = 0x2,
    PF_ChangeFlag_SET_TO_VARY = 0x4,
    PF_ChangeFlag_SET_TO_CONSTANT = 0x8,
};

enum {
    PF_PUI_NONE = 0,
    PF_PUI_TOPIC = 0x1,
    PF_PUI_CONTROL = 0x2,
    PF_PUI_STD_CONTROL_ONLY = 0x4,
    PF_PUI_NO_ECW_UI = 0x8,
    PF_PUI_ECW_SEPARATOR = 0x10,
    PF_PUI_DISABLED = 0x20,
    PF_PUI_DONT_ERASE_TOPIC = 0x40,
    PF_PUI_DONT_ERASE_CONTROL = 0x80,
    PF_PUI_RADIO_BUTTON = 0x100,
    PF_PUI_INVISIBLE = 0x200,
};

enum {
    PF_ValueDisplayFlag_NONE = 0,
    PF_ValueDisplayFlag_PERCENT = 0x1,
    PF_ValueDisplayFlag_PIXEL = 0x2,
    PF_ValueDisplayFlag_RESERVED1 = 0x4,
    PF_ValueDisplayFlag_REVERSE = 0x8,
};

enum {
    PF_FSliderFlag_NONE = 0,
    PF_FSliderFlag_WANT_PHASE = 1,
};

enum {
    PF_LayerDefault_MYSELF = -1,
    PF_LayerDefault_NONE = 0,
};

enum {
    PF_WorldFlag_DEEP = 0x1,
    PF_WorldFlag_WRITEABLE = 0x2,
    PF_WorldFlag_RESERVED0 = 0x1000000,
    PF_WorldFlag_RESERVED1 = 0x2000000,
    PF_WorldFlag_RESERVED2 = 0x4000000,
    PF_WorldFlag_RESERVED3 = 0x8000000,
    PF_WorldFlag_RESERVED4 = 0x10000000,
    PF_WorldFlag_RESERVED5 = 0x20000000,
    PF_WorldFlag_RESERVED6 = 0x40000000,
    PF_WorldFlag_RESERVED = 0x80000000u,
};

enum {
    PF_InFlag_NONE = 0,
    PF_InFlag_PROJECT_IS_RENDER_ONLY = 1,
};

enum {
    PF_Field_FRAME = 0,
    PF_Field_UPPER = 1,
    PF_Field_LOWER = 2,
};

enum {
    PF_Quality_DRAWING_AUDIO = -1,
    PF_Quality_LO = 0,
    PF_Quality_HI = 1,
};

enum {
    PF_ChannelMask_ALPHA = 0x1,
    PF_ChannelMask_RED = 0x2,
    PF_ChannelMask_GREEN = 0x4,
    PF_ChannelMask_BLUE = 0x8,
    PF_ChannelMask_ARGB = 0xf,
};

enum {
    PF_ParamIndex_NONE = -1,
    PF_ParamIndex_CHECK_ALL = -2,
    PF_ParamIndex_CHECK_ALL_EXCEPT_LAYER_PARAMS = -3,
    PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE = -4,
};

typedef struct {
    A_u_char alpha;
    A_u_char red;
    A_u_char green;
    A_u_char blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

typedef PF_Pixel PF_UnionablePixel;

typedef struct {
    A_u_short alpha;
    A_u_short red;
    A_u_short green;
    A_u_short blue;
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha;
    PF_FpShort red;
    PF_FpShort green;
    PF_FpShort blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef PF_Pixel* PF_PixelPtr;

typedef struct {
    A_long left;
    A_long top;
    A_long right;
    A_long bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

typedef struct {
    A_long h;
    A_long v;
} PF_Point;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    A_short major;
    A_short minor;
} PF_SpecVersion;

// 3 x 3, row vectors, as the host's transform callbacks take it.
typedef struct {
    PF_FpLong mat[3][3];
} PF_FloatMatrix;

// A layer or image buffer as the host hands it over. Rows may be padded: walk them with rowbytes.
typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

typedef struct {
    PF_FpLong rateF;
    PF_SoundChannels num_channels;
    PF_SoundFormat format;
    PF_SoundSampleSize sample_size;
} PF_SoundFormatInfo;

typedef struct {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
} PF_SoundWorld;

typedef struct {
    PF_ParamValue value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_ParamValue valid_min;
    PF_ParamValue valid_max;
    PF_ParamValue slider_min;
    PF_ParamValue slider_max;
    PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
    PF_Fixed value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_Fixed valid_min;
    PF_Fixed valid_max;
    PF_Fixed slider_min;
    PF_Fixed slider_max;
    PF_Fixed dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
} PF_FixedSliderDef;

typedef struct {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min;
    PF_Fixed valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_UnionablePixel value;
    PF_UnionablePixel dephault;
} PF_ColorDef;

typedef struct {
    PF_Fixed x_value;
    PF_Fixed y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault;
    PF_Fixed y_dephault;
} PF_PointDef;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        A_long id;
        const A_char* namesptr;
    } u;
} PF_PopupDef;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[32];
    PF_FpShort valid_min;
    PF_FpShort valid_max;
    PF_FpShort slider_min;
    PF_FpShort slider_max;
    PF_FpShort dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    A_short id;
    A_short pad;
    PF_ArbitraryH dephault;
    PF_ArbitraryH value;
    void* refconPV;
} PF_ArbitraryDef;

typedef struct {
    PF_PathID path_id;
    A_long reserved0;
    A_long dephault;
} PF_PathDef;

typedef struct {
    PF_ParamValue value;
    union {
        const A_char* namesptr;
    } u;
} PF_ButtonDef;

typedef struct {
    PF_FpLong x_value;
    PF_FpLong y_value;
    PF_FpLong z_value;
    PF_FpLong x_dephault;
    PF_FpLong y_dephault;
    PF_FpLong z_dephault;
    char reserved[16];
} PF_Point3DDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;
        A_long change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[32];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamDefH;
typedef PF_ParamDef** PF_ParamList;

struct PF_InData;
struct PF_OutData;
struct _PF_UtilCallbacks;
typedef struct PF_CustomUIInfo PF_CustomUIInfo;
typedef struct _PF_LayerAudio* PF_LayerAudio;
typedef void* PF_SndSamplePtr;

// The parameter and progress callbacks, the first record of PF_InData.
typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long, PF_ParamDef*);
    PF_Err (*checkin_param)(PF_ProgPtr, PF_ParamDef*);
    PF_Err (*add_param)(PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr);
    PF_Err (*abort)(PF_ProgPtr);
    PF_Err (*progress)(PF_ProgPtr, A_long, A_long);
    PF_Err (*register_ui)(PF_ProgPtr, PF_CustomUIInfo*);
    PF_Err (*checkout_layer_audio)(PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long, PF_UFixed, A_long, A_long, A_long, PF_LayerAudio*);
    PF_Err (*checkin_layer_audio)(PF_ProgPtr, PF_LayerAudio);
    PF_Err (*get_audio_data)(PF_ProgPtr, PF_LayerAudio, PF_SndSamplePtr*, A_long*, PF_UFixed*, A_long*, A_long*, A_long*);
    void* reserved_str[3];
    void* reserved[10];
} PF_InteractCallbacks;

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    _PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct PF_OutData {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[256];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

#pragma pack(pop)
