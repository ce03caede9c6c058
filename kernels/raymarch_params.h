/* The ray march's parameter block: one definition read by both the C++ host (render/raymarch.cpp)
 * and the kernel (it is joined into the kernel library before raymarch.cl). Fixed-size 32-bit
 * scalars only, in the order of the ray march's argument list; its layout is pinned by static
 * asserts on the host and checked on the device by a probe kernel in the tests.
 * (Filled by the ray-march work.) */
#ifndef CINDEL_RAYMARCH_PARAMS_H
#define CINDEL_RAYMARCH_PARAMS_H

#if defined(__OPENCL_VERSION__) || defined(__OPENCL_C_VERSION__)
typedef int cd_i32;
typedef float cd_f32;
#else
#include <cstdint>
typedef int32_t cd_i32;
typedef float cd_f32;
#endif

typedef struct CdRaymarchParams {
    cd_i32 W;
    cd_i32 H;
} CdRaymarchParams;

#endif
