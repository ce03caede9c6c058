// The curl noise's value noise and its lattice table: the hash cd_hash3f at every integer
// lattice point that one launch of the curl noise can touch, so that the noise kernel reads its
// corners instead of evaluating 8 sines per value noise. The table only moves where the values
// come from; the arithmetic (floor, fraction, fade, the order of the blends, the octave sum) is
// one written order, held by pragmas, in the direct and the table form, so both agree bit for bit.
//
// Layout. The three potentials A, B, C (0, 1, 2) each have one box per octave (frequency 1, 2,
// 4): a cube of side[o]³ values, x fastest, holding the lattice points origin + (i, j, k).
// Potential pot starts at pot × (side0³ + side1³ + side2³), and octave o follows octaves below
// it. The host chooses the sides (sim/noise_lattice.cpp) to cover the grid with a margin; the
// fill kernel chooses the origins from the noise time, on the device and with the potentials'
// own arithmetic, and stores them in `latticeOrigin` (27 ints: potential, octave, axis) for the
// noise kernel to read, so the two kernels cannot disagree about where a box starts.

// floor as the compiler's own intrinsic where it has one: PoCL's library floor is a bit-level
// routine of some twenty instructions, and the curl noise floors dozens of coordinates a cell,
// where the intrinsic is one rounding instruction (it made the launch three times faster on PoCL).
// Every floor is exact, so the choice cannot change a result.
#if defined(__has_builtin)
#if __has_builtin(__builtin_floorf)
#define CD_LATTICE_FLOOR(x) __builtin_floorf(x)
#endif
#endif
#ifndef CD_LATTICE_FLOOR
#define CD_LATTICE_FLOOR(x) floor(x)
#endif

// One axis of a potential's sample point, (p + offset) + drift × time, as a macro so that the
// scalar and the row forms write the same expression; callers hold it with the pragmas.
#define CD_CURL_AXIS(p, offset, drift, time) (((p) + (offset)) + (drift) * (time))

// The sample point of potential `pot` at noise-space position (px, py, pz): the three
// potentials are the same fractal sum at far-apart offsets, drifting in time along different
// directions. Shared by the direct and the table curl noise and by the fill, so that all three
// place the potentials with the same operations.
CD_INLINE void cd_curl_potential_point(int pot, float px, float py, float pz, float time, float* qx, float* qy,
                                       float* qz) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    if (pot == 0) {
        *qx = CD_CURL_AXIS(px, 0.0f, 0.7f, time);
        *qy = CD_CURL_AXIS(py, 17.0f, 0.5f, time);
        *qz = CD_CURL_AXIS(pz, 31.0f, 0.3f, time);
    } else if (pot == 1) {
        *qx = CD_CURL_AXIS(px, 53.0f, 0.3f, time);
        *qy = CD_CURL_AXIS(py, 0.0f, 0.7f, time);
        *qz = CD_CURL_AXIS(pz, 71.0f, 0.5f, time);
    } else {
        *qx = CD_CURL_AXIS(px, 97.0f, 0.5f, time);
        *qy = CD_CURL_AXIS(py, 23.0f, 0.3f, time);
        *qz = CD_CURL_AXIS(pz, 0.0f, 0.7f, time);
    }
}

// The noise-space step between cells; scales below 0.1 would sample the noise finer than one
// lattice step per cell.
CD_INLINE float cd_curl_base_freq(float scale) { return 0.1f / fmax(scale, 0.1f); }

// The first lattice point of one axis of a box, from the potential's lowest coordinate on that
// axis (cell 0). The curl noise samples down to one noise unit below it, at frequency `freq`;
// two more points of margin absorb any last-bit difference between this expression and a
// cell's own rounding, so that no cell's corner falls below the origin.
CD_INLINE int cd_lattice_origin(float lowest, float freq) {
    return (int)CD_LATTICE_FLOOR(freq * (lowest - 1.0f)) - 2;
}

// Where potential `pot`'s box of octave `o` starts in the table.
CD_INLINE int cd_lattice_box_start(int pot, int o, int side0, int side1, int side2) {
    const int c0 = side0 * side0 * side0;
    const int c1 = side1 * side1 * side1;
    const int c2 = side2 * side2 * side2;
    return pot * (c0 + c1 + c2) + (o > 0 ? c0 : 0) + (o > 1 ? c1 : 0);
}

// The row form passes 16-wide vectors between always-inlined helpers; clang warns that their
// calling convention would differ without AVX-512, which no call that is inlined can meet.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"

// The curl noise's value noise, in the one order every form of it follows: the corners are
// blended along y, then z, for each of the two lattice columns x0 and x1, and the two columns
// along x last: a + t·(b − a) with the product fused, every step held by the pragmas. Blending x
// last lets the row form below blend a row of columns once and share them between the cells
// of a row. (The library's own value noise blends x first; this one is the curl noise's alone.)
CD_INLINE float cd_curl_lerp(float a, float b, float t) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return fma(t, b - a, a);
}

CD_INLINE float16 cd_curl_lerp16(float16 a, float16 b, float16 t) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return fma(t, b - a, a);
}

CD_INLINE float8 cd_curl_lerp8(float8 a, float8 b, float8 t) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return fma(t, b - a, a);
}

// One lattice column: n(y0, z0), n(y1, z0), n(y0, z1), n(y1, z1).
CD_INLINE float cd_curl_column(float n00, float n10, float n01, float n11, float fy, float fz) {
    return cd_curl_lerp(cd_curl_lerp(n00, n10, fy), cd_curl_lerp(n01, n11, fy), fz);
}

// The direct form: each corner hashed where it is read.
CD_INLINE float cd_curl_hash_noisef(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float ix = CD_LATTICE_FLOOR(x);
    const float iy = CD_LATTICE_FLOOR(y);
    const float iz = CD_LATTICE_FLOOR(z);
    const float fx = cd_fade3(x - ix);
    const float fy = cd_fade3(y - iy);
    const float fz = cd_fade3(z - iz);
    float x0, y0, z0, x1, y1, z1;
    cd_lattice_corners(ix, iy, iz, &x0, &y0, &z0, &x1, &y1, &z1);
    const float w0 = cd_curl_column(cd_hash3f(x0, y0, z0), cd_hash3f(x0, y1, z0), cd_hash3f(x0, y0, z1),
                                    cd_hash3f(x0, y1, z1), fy, fz);
    const float w1 = cd_curl_column(cd_hash3f(x1, y0, z0), cd_hash3f(x1, y1, z0), cd_hash3f(x1, y0, z1),
                                    cd_hash3f(x1, y1, z1), fy, fz);
    return cd_curl_lerp(w0, w1, fx);
}

// Three octaves, amplitudes 0.5, 0.25, 0.125 at frequencies 1, 2, 4 (all exact), summed from the
// coarsest with the product fused: v = fma(amp, noise, v). The loop stays a loop: written out,
// PoCL vectorised the form across work-items and its own group shape for 32³ and up (4096 items)
// overflowed the worker thread's stack.
CD_INLINE float cd_curl_hash_fbmf(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    float v = 0.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < 3; ++o) {
        v = fma(amp, cd_curl_hash_noisef(x * freq, y * freq, z * freq), v);
        amp *= 0.5f;
        freq *= 2.0f;
    }
    return v;
}

#if defined(__has_builtin)
#if __has_builtin(__builtin_elementwise_floor)
#define CD_LATTICE_FLOOR16(x) __builtin_elementwise_floor(x)
#endif
#endif
#ifndef CD_LATTICE_FLOOR16
#define CD_LATTICE_FLOOR16(x) floor(x)
#endif

// w[d] per lane, d in 0 ... 7: OpenCL's shuffle, which PoCL builds one lane at a time through
// memory; on x86 with AVX2 it is the one instruction vpermps.
#if defined(__AVX2__) && defined(__has_builtin)
#if __has_builtin(__builtin_ia32_permvarsf256)
#define CD_CURL_VPERMPS 1
#endif
#endif
CD_INLINE float8 cd_curl_pick8(float8 w, int8 d) {
#ifdef CD_CURL_VPERMPS
    return __builtin_ia32_permvarsf256(w, d);
#else
    return shuffle(w, as_uint8(d));
#endif
}

// Whether, in every octave, the columns of each half (8 cells) of a row of CD_ROW_CHUNK cells lie
// among the 7 lattice points from the half's first, so that an 8-value window holds both columns
// of each of its cells: 7 cells of the finest octave (frequency 4) cover 28·baseFreq ≤ 5.6
// points, rounding adds less than 0.2 (the coordinates stay under 2^18 before the octave's
// exact scaling), and the floors keep the span below 7. True from Turbulence Scale 0.5 up.
CD_INLINE bool cd_curl_row_fits(float baseFreq) { return baseFreq <= 0.2f; }

// Whether a whole row's columns of the octave of frequency `freq` fit one such window: its 15
// cell steps cover at most 5 points, which leaves a whole point for rounding. Octave 0 always
// does where cd_curl_row_fits.
CD_INLINE bool cd_curl_octave_fits_window(float baseFreq, float freq) { return freq * baseFreq <= 1.0f / 3.0f; }

// Eight lattice columns from `at` on: the lattice rows y0, y1 of planes z0, z1, blended along y
// and then z.
CD_INLINE float8 cd_lattice_window(__global const float* at, int sy, int sz, float fy, float fz) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float8 n00 = vload8(0, at), n10 = vload8(0, at + sy);
    const float8 n01 = vload8(0, at + sz), n11 = vload8(0, at + sz + sy);
    return cd_curl_lerp8(cd_curl_lerp8(n00, n10, (float8)fy), cd_curl_lerp8(n01, n11, (float8)fy), (float8)fz);
}

// The row form of one octave of one potential, from its box: CD_ROW_CHUNK cells of a row, x per
// lane, y and z shared. A window of 8 lattice columns is blended along y and z once, and each
// cell picks its two columns from it: one window for the whole row where `oneWindow`
// (cd_curl_octave_fits_window; cells are in x order), else one per half row (cd_curl_row_fits).
// The choice is the caller's and uniform, so that the launch has no branch per octave. Corner
// indices are clamped to the box so that a table that did not cover a point could not be read
// outside; the table carries a pad after its last box for the windows' tails
// (sim/noise_lattice.cpp).
CD_INLINE float16 cd_lattice_row_noise(__global const float* box, int side, __global const int* org, float16 x,
                                       float y, float z, bool oneWindow) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float16 ix = CD_LATTICE_FLOOR16(x);
    const float iy = CD_LATTICE_FLOOR(y);
    const float iz = CD_LATTICE_FLOOR(z);
    const float16 tx = x - ix;
    const float16 fx = tx * tx * fma((float16)(-2.0f), tx, (float16)(3.0f));  // cd_fade3 per lane
    const float fy = cd_fade3(y - iy);
    const float fz = cd_fade3(z - iz);
    const int16 jx = clamp(convert_int16(ix) - org[0], 0, side - 2);
    const int jy = clamp((int)iy - org[1], 0, side - 2);
    const int jz = clamp((int)iz - org[2], 0, side - 2);
    const int sy = side;
    const int sz = side * side;
    __global const float* row = box + jz * sz + jy * sy;
    const int first = jx.s0;
    const int firstHi = oneWindow ? first : jx.s8;
    const float8 wlo = cd_lattice_window(row + first, sy, sz, fy, fz);
    const float8 whi = oneWindow ? wlo : cd_lattice_window(row + firstHi, sy, sz, fy, fz);
    const int8 dlo = jx.lo - first;
    const int8 dhi = jx.hi - firstHi;
    const float16 a = (float16)(cd_curl_pick8(wlo, dlo), cd_curl_pick8(whi, dhi));
    const float16 b = (float16)(cd_curl_pick8(wlo, dlo + 1), cd_curl_pick8(whi, dhi + 1));
    return cd_curl_lerp16(a, b, fx);
}

// One octave of one potential at one cell from its box, for rows that do not fit a window:
// cd_curl_hash_noisef with the corners read from the table.
CD_INLINE float cd_lattice_cell_noise(__global const float* box, int side, __global const int* org, float x, float y,
                                      float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float ix = CD_LATTICE_FLOOR(x);
    const float iy = CD_LATTICE_FLOOR(y);
    const float iz = CD_LATTICE_FLOOR(z);
    const float fx = cd_fade3(x - ix);
    const float fy = cd_fade3(y - iy);
    const float fz = cd_fade3(z - iz);
    const int jx = clamp((int)ix - org[0], 0, side - 2);
    const int jy = clamp((int)iy - org[1], 0, side - 2);
    const int jz = clamp((int)iz - org[2], 0, side - 2);
    const int sy = side;
    const int sz = side * side;
    __global const float* a = box + jz * sz + jy * sy + jx;
    const float w0 = cd_curl_column(a[0], a[sy], a[sz], a[sz + sy], fy, fz);
    const float w1 = cd_curl_column(a[1], a[sy + 1], a[sz + 1], a[sz + sy + 1], fy, fz);
    return cd_curl_lerp(w0, w1, fx);
}

CD_INLINE float cd_lattice_cell_fbm(__global const float* lattice, __global const int* origin, int pot, int side0,
                                    int side1, int side2, float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    __global const int* org = origin + pot * 9;
    float v = 0.0f;
    v = fma(0.5f, cd_lattice_cell_noise(lattice + cd_lattice_box_start(pot, 0, side0, side1, side2), side0, org, x, y, z),
            v);
    v = fma(0.25f,
            cd_lattice_cell_noise(lattice + cd_lattice_box_start(pot, 1, side0, side1, side2), side1, org + 3, x * 2.0f,
                                  y * 2.0f, z * 2.0f),
            v);
    v = fma(0.125f,
            cd_lattice_cell_noise(lattice + cd_lattice_box_start(pot, 2, side0, side1, side2), side2, org + 6, x * 4.0f,
                                  y * 4.0f, z * 4.0f),
            v);
    return v;
}

// The row form's fractal sum of potential `pot`: cd_curl_hash_fbmf's octaves and sum. `oneWindow1`
// and `oneWindow2` choose the windows of octaves 1 and 2 (cd_lattice_row_noise).
CD_INLINE float16 cd_lattice_row_fbm(__global const float* lattice, __global const int* origin, int pot, int side0,
                                     int side1, int side2, float16 x, float y, float z, bool oneWindow1,
                                     bool oneWindow2) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    __global const int* org = origin + pot * 9;
    float16 v = (float16)(0.0f);
    v = fma((float16)(0.5f),
            cd_lattice_row_noise(lattice + cd_lattice_box_start(pot, 0, side0, side1, side2), side0, org, x, y, z,
                                 true),
            v);
    v = fma((float16)(0.25f),
            cd_lattice_row_noise(lattice + cd_lattice_box_start(pot, 1, side0, side1, side2), side1, org + 3,
                                 x * 2.0f, y * 2.0f, z * 2.0f, oneWindow1),
            v);
    v = fma((float16)(0.125f),
            cd_lattice_row_noise(lattice + cd_lattice_box_start(pot, 2, side0, side1, side2), side2, org + 6,
                                 x * 4.0f, y * 4.0f, z * 4.0f, oneWindow2),
            v);
    return v;
}

#pragma clang diagnostic pop

// Fills potential `pot`'s box of octave `octave`: one work item per value over that octave's
// side³ items, each evaluating cd_hash3f at its lattice point with the arguments a value noise
// would pass ((float) of the integer point). Item (0, 0, 0) also stores the box's origin. The
// host launches it once per box, which keeps integer division out of the items.
//
// A box whose origin is the one it already holds (`heldOrigin`, the origins of the last fill,
// which the host copies there after each fill and resets whenever the buffer or the sides
// change) is left as it is: a value depends only on its integer point, and the noise drifts by a
// fraction of a lattice step per step, so most steps find every box in place.
__kernel void cd_noise_lattice_fill(__global float* lattice, __global int* latticeOrigin,
                                    __global const int* heldOrigin, int pot, int octave, int side0, int side1,
                                    int side2, float time) {
    const int i = get_global_id(0);
    const int j = get_global_id(1);
    const int k = get_global_id(2);
    const int side = octave == 0 ? side0 : (octave == 1 ? side1 : side2);
    if (i >= side || j >= side || k >= side) return;
    if (pot < 0 || pot > 2 || octave < 0 || octave > 2) return;
    const float freq = octave == 0 ? 1.0f : (octave == 1 ? 2.0f : 4.0f);
    float lx, ly, lz;
    cd_curl_potential_point(pot, 0.0f, 0.0f, 0.0f, time, &lx, &ly, &lz);
    const int ox = cd_lattice_origin(lx, freq);
    const int oy = cd_lattice_origin(ly, freq);
    const int oz = cd_lattice_origin(lz, freq);
    const int box = (pot * 3 + octave) * 3;
    if (heldOrigin[box] == ox && heldOrigin[box + 1] == oy && heldOrigin[box + 2] == oz) return;
    if (i == 0 && j == 0 && k == 0) {
        latticeOrigin[box] = ox;
        latticeOrigin[box + 1] = oy;
        latticeOrigin[box + 2] = oz;
    }
    const int at = cd_lattice_box_start(pot, octave, side0, side1, side2) + (k * side + j) * side + i;
    lattice[at] = cd_hash3f((float)(ox + i), (float)(oy + j), (float)(oz + k));
}
