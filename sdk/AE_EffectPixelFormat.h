// Pixel format codes that the host's world suite reports for a world.
#pragma once

#include "A.h"
#include "AE_Macros.h"

typedef A_long PF_PixelFormat;

enum {
    PF_PixelFormat_ARGB32 = PF_FOURCC('a', 'r', 'g', 'b'),
    PF_PixelFormat_ARGB64 = PF_FOURCC('a', 'r', 'g', 'e'),
    PF_PixelFormat_ARGB128 = PF_FOURCC('a', 'r', 'g', 'f'),
    PF_PixelFormat_GPU_BGRA128 = PF_FOURCC('@', 'C', 'D', 'A'),
    PF_PixelFormat_RESERVED = PF_FOURCC('a', 'r', 'g', 'h'),
    PF_PixelFormat_BGRA32 = PF_FOURCC('b', 'g', 'r', 'a'),
    PF_PixelFormat_VUYA32 = PF_FOURCC('v', 'u', 'y', 'a'),
    PF_PixelFormat_INVALID = PF_FOURCC('b', 'a', 'd', 'f')
};
