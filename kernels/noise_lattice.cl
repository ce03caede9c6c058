// The curl noise's lattice table: the hash cd_hash3f at every integer lattice point that one
// launch of the curl noise can touch, so that the noise kernel reads 8 corner values per value
// noise instead of evaluating 8 sines. The table only moves where the values come from; the
// noise arithmetic (floor, fraction, fade, the order of the mixes, the octave sum) is the same
// expression in the same order as cd_smooth_noisef and cd_fbmf, so both paths agree bit for bit.
//
// Layout. The three potentials A, B, C (0, 1, 2) each have one box per octave (frequency 1, 2,
// 4): a cube of side[o]³ values, x fastest, holding the lattice points origin + (i, j, k).
// Potential pot starts at pot × (side0³ + side1³ + side2³), and octave o follows octaves below
// it. The host chooses the sides (sim/noise_lattice.cpp) to cover the grid with a margin; the
// fill kernel chooses the origins from the noise time, on the device and with the potentials'
// own arithmetic, and stores them in `latticeOrigin` (27 ints: potential, octave, axis) for the
// noise kernel to read, so the two kernels cannot disagree about where a box starts.

// floor as the compiler's own intrinsic where it has one: PoCL's library floor is a bit-level
// routine of some twenty instructions, and the table noise floors 108 coordinates a cell, where
// the intrinsic is one rounding instruction (it made the launch three times faster on PoCL).
// Every floor is exact, so the choice cannot change a result.
#if defined(__has_builtin)
#if __has_builtin(__builtin_floorf)
#define CD_LATTICE_FLOOR(x) __builtin_floorf(x)
#endif
#endif
#ifndef CD_LATTICE_FLOOR
#define CD_LATTICE_FLOOR(x) floor(x)
#endif

// The sample point of potential `pot` at noise-space position (px, py, pz): the three
// potentials are the same fractal sum at far-apart offsets, drifting in time along different
// directions. Shared by the direct and the table curl noise and by the fill, so that all three
// place the potentials with the same operations.
CD_INLINE void cd_curl_potential_point(int pot, float px, float py, float pz, float time, float* qx, float* qy,
                                       float* qz) {
    if (pot == 0) {
        *qx = px + 0.7f * time;
        *qy = py + 17.0f + 0.5f * time;
        *qz = pz + 31.0f + 0.3f * time;
    } else if (pot == 1) {
        *qx = px + 53.0f + 0.3f * time;
        *qy = py + 0.7f * time;
        *qz = pz + 71.0f + 0.5f * time;
    } else {
        *qx = px + 97.0f + 0.5f * time;
        *qy = py + 23.0f + 0.3f * time;
        *qz = pz + 0.7f * time;
    }
}

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

// Value noise with corners from one box of the table: cd_smooth_noisef with each
// cd_hash3f(corner) replaced by the table value at that corner; everything else is its
// expressions in its order, held by the same pragmas. The corner index is clamped to the box only
// so that a table that does not cover a point can never read outside the buffer; the host's sizes
// make it cover.
CD_INLINE float cd_lattice_noisef(__global const float* box, int side, int ox, int oy, int oz, float x, float y,
                                  float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float ix = CD_LATTICE_FLOOR(x);
    const float iy = CD_LATTICE_FLOOR(y);
    const float iz = CD_LATTICE_FLOOR(z);
    const float fx = cd_fade3(x - ix);
    const float fy = cd_fade3(y - iy);
    const float fz = cd_fade3(z - iz);

    const int jx = clamp((int)ix - ox, 0, side - 2);
    const int jy = clamp((int)iy - oy, 0, side - 2);
    const int jz = clamp((int)iz - oz, 0, side - 2);
    const int sy = side;
    const int sz = side * side;
    const int i000 = jz * sz + jy * sy + jx;
    const float n000 = box[i000];
    const float n100 = box[i000 + 1];
    const float n010 = box[i000 + sy];
    const float n110 = box[i000 + sy + 1];
    const float n001 = box[i000 + sz];
    const float n101 = box[i000 + sz + 1];
    const float n011 = box[i000 + sz + sy];
    const float n111 = box[i000 + sz + sy + 1];

    const float x00 = mix(n000, n100, fx);
    const float x10 = mix(n010, n110, fx);
    const float x01 = mix(n001, n101, fx);
    const float x11 = mix(n011, n111, fx);
    const float y0 = mix(x00, x10, fy);
    const float y1 = mix(x01, x11, fy);
    return mix(y0, y1, fz);
}

// One octave of potential `pot` from its box.
CD_INLINE float cd_lattice_octave(__global const float* lattice, __global const int* origin, int pot, int o,
                                  int side0, int side1, int side2, float x, float y, float z) {
    const int side = o == 0 ? side0 : (o == 1 ? side1 : side2);
    __global const int* org = origin + (pot * 3 + o) * 3;
    return cd_lattice_noisef(lattice + cd_lattice_box_start(pot, o, side0, side1, side2), side, org[0], org[1],
                             org[2], x, y, z);
}

// cd_fbmf of potential `pot` from the table: its three octaves written out (amplitudes 0.5,
// 0.25, 0.125 and frequencies 1, 2, 4 are exact, as in its loop), summed in the same order with
// the same fused `v = fma(amp, noise, v)`. Written out, no loop is left in the work-item.
CD_INLINE float cd_lattice_fbmf(__global const float* lattice, __global const int* origin, int pot, int side0,
                                int side1, int side2, float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    float v = 0.0f;
    v = fma(0.5f, cd_lattice_octave(lattice, origin, pot, 0, side0, side1, side2, x * 1.0f, y * 1.0f, z * 1.0f), v);
    v = fma(0.25f, cd_lattice_octave(lattice, origin, pot, 1, side0, side1, side2, x * 2.0f, y * 2.0f, z * 2.0f), v);
    v = fma(0.125f, cd_lattice_octave(lattice, origin, pot, 2, side0, side1, side2, x * 4.0f, y * 4.0f, z * 4.0f), v);
    return v;
}

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
