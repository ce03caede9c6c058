// Pixel format codes that the host's world suite reports for a world. Each is a four-character
// code stored so that its bytes in memory spell the format: ARGB32 is 'a' 'r' 'g' 'b' read as a
// little-endian word.
#pragma once

#include "A.h"

typedef A_long PF_PixelFormat;

enum {
    PF_PixelFormat_ARGB32 = 0x62677261,
    PF_PixelFormat_ARGB64 = 0x36316561,
    PF_PixelFormat_ARGB128 = 0x32336561,
    PF_PixelFormat_GPU_BGRA128 = 0x41444340,
    PF_PixelFormat_RESERVED = 0x61444340,
    PF_PixelFormat_BGRA32 = 0x61726762,
    PF_PixelFormat_VUYA32 = 0x61797576,
    PF_PixelFormat_NTSCDV25 = 0x326e7664,
    PF_PixelFormat_PALDV25 = 0x32707664,
    PF_PixelFormat_INVALID = 0x66646162,
    PF_PixelFormat_FORCE_LONG_INT = 0xffffffff,
};
