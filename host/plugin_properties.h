/* The plug-in's property values: what the host reads before it loads the library, and what global
 * set-up reports. Kept as plain preprocessor constants so that a Windows resource script can include
 * this file as well as the C++ code; the two must never disagree. */
#pragma once

#define CINDEL_PIPL_RESOURCE_ID 16000
#define CINDEL_PIPL_LANGUAGE 1033
#define CINDEL_PIPL_VENDOR "8BIM"

#define CINDEL_KIND "eFKT"
#define CINDEL_NAME "Cindel"
#define CINDEL_CATEGORY "Halvex"
#define CINDEL_ENTRY_POINT "EffectMain"
#define CINDEL_PIPL_VERSION_MAJOR 2
#define CINDEL_PIPL_VERSION_MINOR 0
/* The interface version the effect is built against: the published PF_PLUG_IN_VERSION and
 * PF_PLUG_IN_SUBVERS of the host's current release (checked where both are visible). */
#define CINDEL_SPEC_VERSION_MAJOR 13
#define CINDEL_SPEC_VERSION_MINOR 28
/* PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 2) */
#define CINDEL_EFFECT_VERSION 0x00080602
#define CINDEL_INFO_FLAGS 0
/* WIDE_TIME_INPUT | NON_PARAM_VARY | CUSTOM_UI | I_USE_SHUTTER_ANGLE | DEEP_COLOR_AWARE
 * | SEND_UPDATE_PARAMS_UI */
#define CINDEL_OUT_FLAGS 0x06088006
/* I_USE_3D_CAMERA | I_USE_3D_LIGHTS | REVEALS_ZERO_ALPHA | SUPPORTS_SMART_RENDER
 * | FLOAT_COLOR_AWARE | AUTOMATIC_WIDE_TIME_INPUT | I_MIX_GUID_DEPENDENCIES */
#define CINDEL_OUT_FLAGS2 0x00221486
#define CINDEL_MATCH_NAME "Halvex CinderDeck"
#define CINDEL_RESERVED_INFO 0
