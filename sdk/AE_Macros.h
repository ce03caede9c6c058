// Version packing and the callback shorthands of the host's effect interface.
#pragma once

#define PF_Vers_BUILD_BITS 0x1ffL
#define PF_Vers_BUILD_SHIFT 0
#define PF_Vers_STAGE_BITS 0x3L
#define PF_Vers_STAGE_SHIFT 9
#define PF_Vers_BUGFIX_BITS 0xfL
#define PF_Vers_BUGFIX_SHIFT 11
#define PF_Vers_SUBVERS_BITS 0xfL
#define PF_Vers_SUBVERS_SHIFT 15
#define PF_Vers_VERS_BITS 0x7L
#define PF_Vers_VERS_SHIFT 19
#define PF_Vers_VERS_HIGH_BITS 0xfL
#define PF_Vers_VERS_HIGH_SHIFT 26
#define PF_Vers_VERS_LOW_SHIFT 3

// The version word: the major version's low three bits at 19 and its high bits at 26.
#define PF_VERSION(vers, subvers, bugvers, stage, build)                                            \
    (A_u_long)((((((A_u_long)(vers)) >> PF_Vers_VERS_LOW_SHIFT) & PF_Vers_VERS_HIGH_BITS)           \
                << PF_Vers_VERS_HIGH_SHIFT) |                                                      \
               ((((A_u_long)(vers)) & PF_Vers_VERS_BITS) << PF_Vers_VERS_SHIFT) |                  \
               ((((A_u_long)(subvers)) & PF_Vers_SUBVERS_BITS) << PF_Vers_SUBVERS_SHIFT) |         \
               ((((A_u_long)(bugvers)) & PF_Vers_BUGFIX_BITS) << PF_Vers_BUGFIX_SHIFT) |           \
               ((((A_u_long)(stage)) & PF_Vers_STAGE_BITS) << PF_Vers_STAGE_SHIFT) |               \
               ((((A_u_long)(build)) & PF_Vers_BUILD_BITS) << PF_Vers_BUILD_SHIFT))

#define PF_CHECKOUT_PARAM(IN_DATA, INDEX, TIME, STEP, SCALE, PARAM) \
    (*(IN_DATA)->inter.checkout_param)((IN_DATA)->effect_ref, (INDEX), (TIME), (STEP), (SCALE), (PARAM))

#define PF_CHECKIN_PARAM(IN_DATA, PARAM) (*(IN_DATA)->inter.checkin_param)((IN_DATA)->effect_ref, (PARAM))

#define PF_ADD_PARAM(IN_DATA, INDEX, DEF) (*(IN_DATA)->inter.add_param)((IN_DATA)->effect_ref, (INDEX), (DEF))

#define PF_NEW_HANDLE(IN_DATA, SIZE) (*(IN_DATA)->utils->host_new_handle)(SIZE)
#define PF_LOCK_HANDLE(IN_DATA, H) (*(IN_DATA)->utils->host_lock_handle)((PF_Handle)(H))
#define PF_UNLOCK_HANDLE(IN_DATA, H) (*(IN_DATA)->utils->host_unlock_handle)((PF_Handle)(H))
#define PF_DISPOSE_HANDLE(IN_DATA, H) (*(IN_DATA)->utils->host_dispose_handle)((PF_Handle)(H))
#define PF_SPRINTF(IN_DATA, ...) (*(IN_DATA)->utils->ansi.sprintf)(__VA_ARGS__)
