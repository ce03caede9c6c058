// The host's record layouts, checked at compile time in every build of the effect and of minihost.
// The host reads and writes these records at its own offsets and calls suites by slot position;
// a declaration that drifts from the published layout must stop the build, not crash the host.
// The numbers are the published ones for 64-bit Windows and Linux, which agree except where noted.
#pragma once

#include <cstddef>

#include "AE_EffectCB.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "SPBasic.h"
#include "host/plugin_properties.h"

#define CINDEL_ABI_SIZE(T, N) static_assert(sizeof(T) == (N), "published size of " #T)
#define CINDEL_ABI_AT(T, F, N) static_assert(offsetof(T, F) == (N), "published offset of " #T "." #F)

CINDEL_ABI_SIZE(PF_InData, 408);
CINDEL_ABI_AT(PF_InData, inter, 0);
CINDEL_ABI_AT(PF_InData, utils, 176);
CINDEL_ABI_AT(PF_InData, effect_ref, 184);
CINDEL_ABI_AT(PF_InData, quality, 192);
CINDEL_ABI_AT(PF_InData, version, 196);
CINDEL_ABI_AT(PF_InData, serial_num, 200);
CINDEL_ABI_AT(PF_InData, appl_id, 204);
CINDEL_ABI_AT(PF_InData, num_params, 208);
CINDEL_ABI_AT(PF_InData, reserved, 212);
CINDEL_ABI_AT(PF_InData, what_cpu, 216);
CINDEL_ABI_AT(PF_InData, what_fpu, 220);
CINDEL_ABI_AT(PF_InData, current_time, 224);
CINDEL_ABI_AT(PF_InData, time_step, 228);
CINDEL_ABI_AT(PF_InData, total_time, 232);
CINDEL_ABI_AT(PF_InData, local_time_step, 236);
CINDEL_ABI_AT(PF_InData, time_scale, 240);
CINDEL_ABI_AT(PF_InData, field, 244);
CINDEL_ABI_AT(PF_InData, shutter_angle, 248);
CINDEL_ABI_AT(PF_InData, width, 252);
CINDEL_ABI_AT(PF_InData, height, 256);
CINDEL_ABI_AT(PF_InData, extent_hint, 260);
CINDEL_ABI_AT(PF_InData, output_origin_x, 276);
CINDEL_ABI_AT(PF_InData, output_origin_y, 280);
CINDEL_ABI_AT(PF_InData, downsample_x, 284);
CINDEL_ABI_AT(PF_InData, downsample_y, 292);
CINDEL_ABI_AT(PF_InData, pixel_aspect_ratio, 300);
CINDEL_ABI_AT(PF_InData, in_flags, 308);
CINDEL_ABI_AT(PF_InData, global_data, 312);
CINDEL_ABI_AT(PF_InData, sequence_data, 320);
CINDEL_ABI_AT(PF_InData, frame_data, 328);
CINDEL_ABI_AT(PF_InData, start_sampL, 336);
CINDEL_ABI_AT(PF_InData, dur_sampL, 340);
CINDEL_ABI_AT(PF_InData, total_sampL, 344);
CINDEL_ABI_AT(PF_InData, src_snd, 352);
CINDEL_ABI_AT(PF_InData, pica_basicP, 384);
CINDEL_ABI_AT(PF_InData, pre_effect_source_origin_x, 392);
CINDEL_ABI_AT(PF_InData, pre_effect_source_origin_y, 396);
CINDEL_ABI_AT(PF_InData, shutter_phase, 400);

CINDEL_ABI_SIZE(PF_OutData, 408);
CINDEL_ABI_AT(PF_OutData, my_version, 0);
CINDEL_ABI_AT(PF_OutData, name, 4);
CINDEL_ABI_AT(PF_OutData, global_data, 40);
CINDEL_ABI_AT(PF_OutData, num_params, 48);
CINDEL_ABI_AT(PF_OutData, sequence_data, 56);
CINDEL_ABI_AT(PF_OutData, flat_sdata_size, 64);
CINDEL_ABI_AT(PF_OutData, frame_data, 72);
CINDEL_ABI_AT(PF_OutData, width, 80);
CINDEL_ABI_AT(PF_OutData, height, 84);
CINDEL_ABI_AT(PF_OutData, origin, 88);
CINDEL_ABI_AT(PF_OutData, out_flags, 96);
CINDEL_ABI_AT(PF_OutData, return_msg, 100);
CINDEL_ABI_AT(PF_OutData, start_sampL, 356);
CINDEL_ABI_AT(PF_OutData, dur_sampL, 360);
CINDEL_ABI_AT(PF_OutData, dest_snd, 368);
CINDEL_ABI_AT(PF_OutData, out_flags2, 400);

CINDEL_ABI_SIZE(PF_ParamDef, 176);
CINDEL_ABI_AT(PF_ParamDef, uu, 0);
CINDEL_ABI_AT(PF_ParamDef, ui_flags, 4);
CINDEL_ABI_AT(PF_ParamDef, ui_width, 8);
CINDEL_ABI_AT(PF_ParamDef, ui_height, 10);
CINDEL_ABI_AT(PF_ParamDef, param_type, 12);
CINDEL_ABI_AT(PF_ParamDef, name, 16);
CINDEL_ABI_AT(PF_ParamDef, flags, 48);
CINDEL_ABI_AT(PF_ParamDef, unused, 52);
CINDEL_ABI_AT(PF_ParamDef, u, 56);

CINDEL_ABI_SIZE(PF_LayerDef, 120);
CINDEL_ABI_AT(PF_LayerDef, reserved0, 0);
CINDEL_ABI_AT(PF_LayerDef, reserved1, 8);
CINDEL_ABI_AT(PF_LayerDef, world_flags, 16);
CINDEL_ABI_AT(PF_LayerDef, data, 24);
CINDEL_ABI_AT(PF_LayerDef, rowbytes, 32);
CINDEL_ABI_AT(PF_LayerDef, width, 36);
CINDEL_ABI_AT(PF_LayerDef, height, 40);
CINDEL_ABI_AT(PF_LayerDef, extent_hint, 44);
CINDEL_ABI_AT(PF_LayerDef, platform_ref, 64);
CINDEL_ABI_AT(PF_LayerDef, reserved_long1, 72);
CINDEL_ABI_AT(PF_LayerDef, reserved_long4, 80);
CINDEL_ABI_AT(PF_LayerDef, pix_aspect_ratio, 88);
CINDEL_ABI_AT(PF_LayerDef, reserved_long2, 96);
CINDEL_ABI_AT(PF_LayerDef, origin_x, 104);
CINDEL_ABI_AT(PF_LayerDef, origin_y, 108);
CINDEL_ABI_AT(PF_LayerDef, reserved_long3, 112);
CINDEL_ABI_AT(PF_LayerDef, dephault, 116);

CINDEL_ABI_SIZE(PF_ParamDefUnion, 120);
CINDEL_ABI_SIZE(PF_SliderDef, 88);
CINDEL_ABI_AT(PF_SliderDef, value, 0);
CINDEL_ABI_AT(PF_SliderDef, value_str, 4);
CINDEL_ABI_AT(PF_SliderDef, value_desc, 36);
CINDEL_ABI_AT(PF_SliderDef, valid_min, 68);
CINDEL_ABI_AT(PF_SliderDef, valid_max, 72);
CINDEL_ABI_AT(PF_SliderDef, slider_min, 76);
CINDEL_ABI_AT(PF_SliderDef, slider_max, 80);
CINDEL_ABI_AT(PF_SliderDef, dephault, 84);

CINDEL_ABI_SIZE(PF_AngleDef, 16);
CINDEL_ABI_AT(PF_AngleDef, value, 0);
CINDEL_ABI_AT(PF_AngleDef, dephault, 4);
CINDEL_ABI_AT(PF_AngleDef, valid_min, 8);
CINDEL_ABI_AT(PF_AngleDef, valid_max, 12);

CINDEL_ABI_SIZE(PF_CheckBoxDef, 16);
CINDEL_ABI_AT(PF_CheckBoxDef, value, 0);
CINDEL_ABI_AT(PF_CheckBoxDef, dephault, 4);
CINDEL_ABI_AT(PF_CheckBoxDef, reserved, 5);
CINDEL_ABI_AT(PF_CheckBoxDef, reserved1, 6);
CINDEL_ABI_AT(PF_CheckBoxDef, u, 8);

CINDEL_ABI_SIZE(PF_ColorDef, 8);
CINDEL_ABI_AT(PF_ColorDef, value, 0);
CINDEL_ABI_AT(PF_ColorDef, dephault, 4);

CINDEL_ABI_SIZE(PF_PointDef, 20);
CINDEL_ABI_AT(PF_PointDef, x_value, 0);
CINDEL_ABI_AT(PF_PointDef, y_value, 4);
CINDEL_ABI_AT(PF_PointDef, reserved, 8);
CINDEL_ABI_AT(PF_PointDef, restrict_bounds, 11);
CINDEL_ABI_AT(PF_PointDef, x_dephault, 12);
CINDEL_ABI_AT(PF_PointDef, y_dephault, 16);

CINDEL_ABI_SIZE(PF_PopupDef, 16);
CINDEL_ABI_AT(PF_PopupDef, value, 0);
CINDEL_ABI_AT(PF_PopupDef, num_choices, 4);
CINDEL_ABI_AT(PF_PopupDef, dephault, 6);
CINDEL_ABI_AT(PF_PopupDef, u, 8);

CINDEL_ABI_SIZE(PF_FloatSliderDef, 88);
CINDEL_ABI_AT(PF_FloatSliderDef, value, 0);
CINDEL_ABI_AT(PF_FloatSliderDef, phase, 8);
CINDEL_ABI_AT(PF_FloatSliderDef, value_desc, 16);
CINDEL_ABI_AT(PF_FloatSliderDef, valid_min, 48);
CINDEL_ABI_AT(PF_FloatSliderDef, valid_max, 52);
CINDEL_ABI_AT(PF_FloatSliderDef, slider_min, 56);
CINDEL_ABI_AT(PF_FloatSliderDef, slider_max, 60);
CINDEL_ABI_AT(PF_FloatSliderDef, dephault, 64);
CINDEL_ABI_AT(PF_FloatSliderDef, precision, 68);
CINDEL_ABI_AT(PF_FloatSliderDef, display_flags, 70);
CINDEL_ABI_AT(PF_FloatSliderDef, fs_flags, 72);
CINDEL_ABI_AT(PF_FloatSliderDef, curve_tolerance, 76);
CINDEL_ABI_AT(PF_FloatSliderDef, useExponent, 80);
CINDEL_ABI_AT(PF_FloatSliderDef, exponent, 84);

CINDEL_ABI_SIZE(PF_ButtonDef, 16);
CINDEL_ABI_AT(PF_ButtonDef, value, 0);
CINDEL_ABI_AT(PF_ButtonDef, u, 8);

CINDEL_ABI_SIZE(PF_Point3DDef, 64);
CINDEL_ABI_AT(PF_Point3DDef, x_value, 0);
CINDEL_ABI_AT(PF_Point3DDef, y_value, 8);
CINDEL_ABI_AT(PF_Point3DDef, z_value, 16);
CINDEL_ABI_AT(PF_Point3DDef, x_dephault, 24);
CINDEL_ABI_AT(PF_Point3DDef, y_dephault, 32);
CINDEL_ABI_AT(PF_Point3DDef, z_dephault, 40);
CINDEL_ABI_AT(PF_Point3DDef, reserved, 48);

CINDEL_ABI_SIZE(PF_UserChangedParamExtra, 4);
CINDEL_ABI_AT(PF_UserChangedParamExtra, param_index, 0);

CINDEL_ABI_SIZE(PF_PreRenderExtra, 24);
CINDEL_ABI_AT(PF_PreRenderExtra, input, 0);
CINDEL_ABI_AT(PF_PreRenderExtra, output, 8);
CINDEL_ABI_AT(PF_PreRenderExtra, cb, 16);

CINDEL_ABI_SIZE(PF_PreRenderInput, 64);
CINDEL_ABI_AT(PF_PreRenderInput, output_request, 0);
CINDEL_ABI_AT(PF_PreRenderInput, bitdepth, 44);
CINDEL_ABI_AT(PF_PreRenderInput, gpu_data, 48);
CINDEL_ABI_AT(PF_PreRenderInput, what_gpu, 56);
CINDEL_ABI_AT(PF_PreRenderInput, device_index, 60);

CINDEL_ABI_SIZE(PF_PreRenderOutput, 56);
CINDEL_ABI_AT(PF_PreRenderOutput, result_rect, 0);
CINDEL_ABI_AT(PF_PreRenderOutput, max_result_rect, 16);
CINDEL_ABI_AT(PF_PreRenderOutput, solid, 32);
CINDEL_ABI_AT(PF_PreRenderOutput, reserved, 33);
CINDEL_ABI_AT(PF_PreRenderOutput, flags, 34);
CINDEL_ABI_AT(PF_PreRenderOutput, pre_render_data, 40);
CINDEL_ABI_AT(PF_PreRenderOutput, delete_pre_render_data_func, 48);

CINDEL_ABI_SIZE(PF_PreRenderCallbacks, 16);
CINDEL_ABI_AT(PF_PreRenderCallbacks, checkout_layer, 0);
CINDEL_ABI_AT(PF_PreRenderCallbacks, GuidMixInPtr, 8);

CINDEL_ABI_SIZE(PF_SmartRenderExtra, 16);
CINDEL_ABI_AT(PF_SmartRenderExtra, input, 0);
CINDEL_ABI_AT(PF_SmartRenderExtra, cb, 8);

CINDEL_ABI_SIZE(PF_SmartRenderInput, 72);
CINDEL_ABI_AT(PF_SmartRenderInput, output_request, 0);
CINDEL_ABI_AT(PF_SmartRenderInput, bitdepth, 44);
CINDEL_ABI_AT(PF_SmartRenderInput, pre_render_data, 48);
CINDEL_ABI_AT(PF_SmartRenderInput, gpu_data, 56);
CINDEL_ABI_AT(PF_SmartRenderInput, what_gpu, 64);
CINDEL_ABI_AT(PF_SmartRenderInput, device_index, 68);

CINDEL_ABI_SIZE(PF_SmartRenderCallbacks, 24);
CINDEL_ABI_AT(PF_SmartRenderCallbacks, checkout_layer_pixels, 0);
CINDEL_ABI_AT(PF_SmartRenderCallbacks, checkin_layer_pixels, 8);
CINDEL_ABI_AT(PF_SmartRenderCallbacks, checkout_output, 16);

CINDEL_ABI_SIZE(PF_RenderRequest, 44);
CINDEL_ABI_AT(PF_RenderRequest, rect, 0);
CINDEL_ABI_AT(PF_RenderRequest, field, 16);
CINDEL_ABI_AT(PF_RenderRequest, channel_mask, 20);
CINDEL_ABI_AT(PF_RenderRequest, preserve_rgb_of_zero_alpha, 24);
CINDEL_ABI_AT(PF_RenderRequest, unused, 25);
CINDEL_ABI_AT(PF_RenderRequest, reserved, 28);

CINDEL_ABI_SIZE(PF_CheckoutResult, 76);
CINDEL_ABI_AT(PF_CheckoutResult, result_rect, 0);
CINDEL_ABI_AT(PF_CheckoutResult, max_result_rect, 16);
CINDEL_ABI_AT(PF_CheckoutResult, par, 32);
CINDEL_ABI_AT(PF_CheckoutResult, solid, 40);
CINDEL_ABI_AT(PF_CheckoutResult, reservedB, 41);
CINDEL_ABI_AT(PF_CheckoutResult, ref_width, 44);
CINDEL_ABI_AT(PF_CheckoutResult, ref_height, 48);
CINDEL_ABI_AT(PF_CheckoutResult, reserved, 52);

CINDEL_ABI_SIZE(PF_InteractCallbacks, 176);
CINDEL_ABI_AT(PF_InteractCallbacks, checkout_param, 0);
CINDEL_ABI_AT(PF_InteractCallbacks, checkin_param, 8);
CINDEL_ABI_AT(PF_InteractCallbacks, add_param, 16);
CINDEL_ABI_AT(PF_InteractCallbacks, abort, 24);
CINDEL_ABI_AT(PF_InteractCallbacks, progress, 32);
CINDEL_ABI_AT(PF_InteractCallbacks, register_ui, 40);
CINDEL_ABI_AT(PF_InteractCallbacks, checkout_layer_audio, 48);
CINDEL_ABI_AT(PF_InteractCallbacks, checkin_layer_audio, 56);
CINDEL_ABI_AT(PF_InteractCallbacks, get_audio_data, 64);
CINDEL_ABI_AT(PF_InteractCallbacks, reserved_str, 72);
CINDEL_ABI_AT(PF_InteractCallbacks, reserved, 96);

CINDEL_ABI_SIZE(PF_UtilCallbacks, 552);
CINDEL_ABI_AT(PF_UtilCallbacks, begin_sampling, 0);
CINDEL_ABI_AT(PF_UtilCallbacks, subpixel_sample, 8);
CINDEL_ABI_AT(PF_UtilCallbacks, area_sample, 16);
CINDEL_ABI_AT(PF_UtilCallbacks, get_batch_func_is_deprecated, 24);
CINDEL_ABI_AT(PF_UtilCallbacks, end_sampling, 32);
CINDEL_ABI_AT(PF_UtilCallbacks, composite_rect, 40);
CINDEL_ABI_AT(PF_UtilCallbacks, blend, 48);
CINDEL_ABI_AT(PF_UtilCallbacks, convolve, 56);
CINDEL_ABI_AT(PF_UtilCallbacks, copy, 64);
CINDEL_ABI_AT(PF_UtilCallbacks, fill, 72);
CINDEL_ABI_AT(PF_UtilCallbacks, gaussian_kernel, 80);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate, 88);
CINDEL_ABI_AT(PF_UtilCallbacks, premultiply, 96);
CINDEL_ABI_AT(PF_UtilCallbacks, premultiply_color, 104);
CINDEL_ABI_AT(PF_UtilCallbacks, new_world, 112);
CINDEL_ABI_AT(PF_UtilCallbacks, dispose_world, 120);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_origin, 128);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_lut, 136);
CINDEL_ABI_AT(PF_UtilCallbacks, transfer_rect, 144);
CINDEL_ABI_AT(PF_UtilCallbacks, transform_world, 152);
CINDEL_ABI_AT(PF_UtilCallbacks, host_new_handle, 160);
CINDEL_ABI_AT(PF_UtilCallbacks, host_lock_handle, 168);
CINDEL_ABI_AT(PF_UtilCallbacks, host_unlock_handle, 176);
CINDEL_ABI_AT(PF_UtilCallbacks, host_dispose_handle, 184);
CINDEL_ABI_AT(PF_UtilCallbacks, get_callback_addr, 192);
CINDEL_ABI_AT(PF_UtilCallbacks, app, 200);
CINDEL_ABI_AT(PF_UtilCallbacks, ansi, 208);
CINDEL_ABI_AT(PF_UtilCallbacks, colorCB, 368);
CINDEL_ABI_AT(PF_UtilCallbacks, get_platform_data, 432);
CINDEL_ABI_AT(PF_UtilCallbacks, host_get_handle_size, 440);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_origin_non_clip_src, 448);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_generic, 456);
CINDEL_ABI_AT(PF_UtilCallbacks, host_resize_handle, 464);
CINDEL_ABI_AT(PF_UtilCallbacks, subpixel_sample16, 472);
CINDEL_ABI_AT(PF_UtilCallbacks, area_sample16, 480);
CINDEL_ABI_AT(PF_UtilCallbacks, fill16, 488);
CINDEL_ABI_AT(PF_UtilCallbacks, premultiply_color16, 496);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate16, 504);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_origin16, 512);
CINDEL_ABI_AT(PF_UtilCallbacks, iterate_origin_non_clip_src16, 520);
CINDEL_ABI_AT(PF_UtilCallbacks, get_pixel_data8, 528);
CINDEL_ABI_AT(PF_UtilCallbacks, get_pixel_data16, 536);
CINDEL_ABI_AT(PF_UtilCallbacks, reserved, 544);

CINDEL_ABI_SIZE(PF_ANSICallbacks, 160);
CINDEL_ABI_AT(PF_ANSICallbacks, atan, 0);
CINDEL_ABI_AT(PF_ANSICallbacks, atan2, 8);
CINDEL_ABI_AT(PF_ANSICallbacks, ceil, 16);
CINDEL_ABI_AT(PF_ANSICallbacks, cos, 24);
CINDEL_ABI_AT(PF_ANSICallbacks, exp, 32);
CINDEL_ABI_AT(PF_ANSICallbacks, fabs, 40);
CINDEL_ABI_AT(PF_ANSICallbacks, floor, 48);
CINDEL_ABI_AT(PF_ANSICallbacks, fmod, 56);
CINDEL_ABI_AT(PF_ANSICallbacks, hypot, 64);
CINDEL_ABI_AT(PF_ANSICallbacks, log, 72);
CINDEL_ABI_AT(PF_ANSICallbacks, log10, 80);
CINDEL_ABI_AT(PF_ANSICallbacks, pow, 88);
CINDEL_ABI_AT(PF_ANSICallbacks, sin, 96);
CINDEL_ABI_AT(PF_ANSICallbacks, sqrt, 104);
CINDEL_ABI_AT(PF_ANSICallbacks, tan, 112);
CINDEL_ABI_AT(PF_ANSICallbacks, sprintf, 120);
CINDEL_ABI_AT(PF_ANSICallbacks, strcpy, 128);
CINDEL_ABI_AT(PF_ANSICallbacks, asin, 136);
CINDEL_ABI_AT(PF_ANSICallbacks, acos, 144);
CINDEL_ABI_AT(PF_ANSICallbacks, ansi_procs, 152);

CINDEL_ABI_SIZE(A_Time, 8);
CINDEL_ABI_AT(A_Time, value, 0);
CINDEL_ABI_AT(A_Time, scale, 4);

CINDEL_ABI_SIZE(A_Matrix4, 128);
CINDEL_ABI_AT(A_Matrix4, mat, 0);

CINDEL_ABI_SIZE(AEGP_StreamValue2, 40);
CINDEL_ABI_AT(AEGP_StreamValue2, streamH, 0);
CINDEL_ABI_AT(AEGP_StreamValue2, val, 8);

CINDEL_ABI_SIZE(AEGP_MaskVertex, 48);
CINDEL_ABI_AT(AEGP_MaskVertex, x, 0);
CINDEL_ABI_AT(AEGP_MaskVertex, y, 8);
CINDEL_ABI_AT(AEGP_MaskVertex, tan_in_x, 16);
CINDEL_ABI_AT(AEGP_MaskVertex, tan_in_y, 24);
CINDEL_ABI_AT(AEGP_MaskVertex, tan_out_x, 32);
CINDEL_ABI_AT(AEGP_MaskVertex, tan_out_y, 40);

CINDEL_ABI_SIZE(AEGP_ColorVal, 32);
CINDEL_ABI_AT(AEGP_ColorVal, alphaF, 0);
CINDEL_ABI_AT(AEGP_ColorVal, redF, 8);
CINDEL_ABI_AT(AEGP_ColorVal, greenF, 16);
CINDEL_ABI_AT(AEGP_ColorVal, blueF, 24);

CINDEL_ABI_SIZE(AEGP_ThreeDVal, 24);
CINDEL_ABI_AT(AEGP_ThreeDVal, x, 0);
CINDEL_ABI_AT(AEGP_ThreeDVal, y, 8);
CINDEL_ABI_AT(AEGP_ThreeDVal, z, 16);

CINDEL_ABI_SIZE(AEGP_TwoDVal, 16);
CINDEL_ABI_AT(AEGP_TwoDVal, x, 0);
CINDEL_ABI_AT(AEGP_TwoDVal, y, 8);

// Suite tables, slot by slot: the size fixes the slot count, the last slot the order's end.
CINDEL_ABI_SIZE(AEGP_UtilitySuite6, 264);
CINDEL_ABI_SIZE(AEGP_PFInterfaceSuite1, 40);
CINDEL_ABI_SIZE(AEGP_StreamSuite2, 176);
CINDEL_ABI_SIZE(AEGP_StreamSuite6, 184);
CINDEL_ABI_SIZE(AEGP_DynamicStreamSuite2, 136);
CINDEL_ABI_SIZE(AEGP_EffectSuite4, 176);
CINDEL_ABI_SIZE(AEGP_KeyframeSuite4, 160);
CINDEL_ABI_SIZE(AEGP_LayerSuite8, 400);
CINDEL_ABI_SIZE(AEGP_CompSuite11, 352);
CINDEL_ABI_SIZE(AEGP_MaskSuite6, 168);
CINDEL_ABI_SIZE(AEGP_MaskOutlineSuite3, 96);
CINDEL_ABI_SIZE(PF_WorldSuite2, 24);
CINDEL_ABI_SIZE(SPBasicSuite, 56);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerToWorldXform, 304);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerObjectType, 224);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerFromLayerID, 360);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerID, 296);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerFlags, 80);
CINDEL_ABI_AT(AEGP_LayerSuite8, AEGP_GetLayerParentComp, 48);
CINDEL_ABI_AT(AEGP_CompSuite11, AEGP_GetCompFlags, 48);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_GetNewStreamValue, 104);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_DisposeStreamValue, 112);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_GetLayerStreamValue, 128);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_GetNewMaskStream, 48);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_GetNewEffectStreamByIndex, 40);
CINDEL_ABI_AT(AEGP_StreamSuite6, AEGP_DisposeStream, 56);
CINDEL_ABI_AT(AEGP_StreamSuite2, AEGP_GetNewEffectStreamByIndex, 40);
CINDEL_ABI_AT(AEGP_StreamSuite2, AEGP_DisposeStream, 56);
CINDEL_ABI_AT(AEGP_DynamicStreamSuite2, AEGP_SetDynamicStreamFlag, 40);
CINDEL_ABI_AT(AEGP_EffectSuite4, AEGP_DisposeEffect, 64);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_GetStreamNumKFs, 0);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_DeleteKeyframe, 24);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_StartAddKeyframes, 128);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_AddKeyframes, 136);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_SetAddKeyframe, 144);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_EndAddKeyframes, 152);
CINDEL_ABI_AT(AEGP_KeyframeSuite4, AEGP_SetKeyframeInterpolation, 120);
CINDEL_ABI_AT(AEGP_MaskSuite6, AEGP_GetLayerNumMasks, 0);
CINDEL_ABI_AT(AEGP_MaskSuite6, AEGP_GetLayerMaskByIndex, 8);
CINDEL_ABI_AT(AEGP_MaskSuite6, AEGP_DisposeMask, 16);
CINDEL_ABI_AT(AEGP_MaskOutlineSuite3, AEGP_IsMaskOutlineOpen, 0);
CINDEL_ABI_AT(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineNumSegments, 16);
CINDEL_ABI_AT(AEGP_MaskOutlineSuite3, AEGP_GetMaskOutlineVertexInfo, 24);
CINDEL_ABI_AT(AEGP_PFInterfaceSuite1, AEGP_GetEffectLayer, 0);
CINDEL_ABI_AT(AEGP_PFInterfaceSuite1, AEGP_GetNewEffectForEffect, 8);
CINDEL_ABI_AT(AEGP_PFInterfaceSuite1, AEGP_ConvertEffectToCompTime, 16);
CINDEL_ABI_AT(AEGP_PFInterfaceSuite1, AEGP_GetEffectCamera, 24);
CINDEL_ABI_AT(AEGP_PFInterfaceSuite1, AEGP_GetEffectCameraMatrix, 32);
CINDEL_ABI_AT(AEGP_UtilitySuite6, AEGP_RegisterWithAEGP, 72);
CINDEL_ABI_AT(AEGP_UtilitySuite6, AEGP_ReportInfo, 0);
CINDEL_ABI_AT(PF_WorldSuite2, PF_GetPixelFormat, 16);
CINDEL_ABI_AT(PF_WorldSuite2, PF_NewWorld, 0);
CINDEL_ABI_AT(SPBasicSuite, AcquireSuite, 0);
CINDEL_ABI_AT(SPBasicSuite, ReleaseSuite, 8);

// SPBoolean is a C int on Windows and one byte elsewhere.
#ifdef _WIN32
CINDEL_ABI_SIZE(SPBoolean, 4);
#else
CINDEL_ABI_SIZE(SPBoolean, 1);
#endif
CINDEL_ABI_SIZE(PF_Boolean, 1);
CINDEL_ABI_SIZE(A_Boolean, 1);
CINDEL_ABI_SIZE(AEGP_LTimeMode, 2);

// The property resource claims the interface version these declarations publish.
static_assert(CINDEL_SPEC_VERSION_MAJOR == PF_PLUG_IN_VERSION && CINDEL_SPEC_VERSION_MINOR == PF_PLUG_IN_SUBVERS,
              "the property resource must claim the interface version these declarations publish");

#undef CINDEL_ABI_SIZE
#undef CINDEL_ABI_AT
