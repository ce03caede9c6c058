// Basic scalar and geometry types of the host's effect interface.
// Our own declarations under the host's published names, so that effect code written against the
// published interface compiles here unchanged.
#pragma once

#include <cstdint>

typedef int8_t A_char_s;
typedef char A_char;
typedef uint8_t A_u_char;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int64_t A_long_long;
typedef uint64_t A_u_longlong;
typedef uint8_t A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef void* A_HandleP;

typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_long num;
    A_u_long den;
} A_Ratio;

typedef struct {
    A_FpLong x, y;
} A_FloatPoint;

typedef struct {
    A_FpLong x, y, z;
} A_FloatPoint3;

typedef struct {
    A_FpLong mat[4][4];
} A_Matrix4;

typedef struct {
    A_long left, top, right, bottom;
} A_LRect;

enum { A_Err_NONE = 0, A_Err_GENERIC = 1, A_Err_STRUCT = 2, A_Err_PARAMETER = 3, A_Err_ALLOC = 4 };
