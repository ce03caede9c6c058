// Pressure projection: divergence of the velocity (raised on hot flame fronts), the Jacobi sweep,
// residual, restriction and prolongation of the multigrid Poisson solve, and the subtraction of
// the pressure gradient. Every stencil uses unit cell spacing and clamps neighbour indices to the
// grid, so a neighbour beyond the edge is the edge cell itself: a zero-gradient boundary.
//
// The operator solved everywhere is A p = (sum of the six neighbours) - 6 p = rhs; the coarse
// levels use the same unit-spacing operator on the unscaled restricted residual, as the host's
// V-cycle expects. The fine-grid stencils compute sixteen cells of a row per work-item
// (CD_ROW_CHUNK, launched by run3dRowChunks): one 16-wide load per neighbour row replaces the
// clamped per-cell loads that PoCL turned into gathers (the Jacobi sweep ran 4x faster). A row's
// last, partial chunk runs cell by cell through the same arithmetic in the same written order, so
// every shape and chunk gives the bits of the per-cell form.

// Lower coarse index, upper coarse index and weight of the upper one for fine index f. The fine
// centre lies at coarse coordinate (f - 0.5) * 0.5: f/2 - 0.25 for even f (cells f/2 - 1 and
// f/2, upper weight 0.75), (f - 1)/2 + 0.25 for odd f (cells (f - 1)/2 and (f + 1)/2, upper weight
// 0.25). Integer parity gives exactly the indices and weights floor() gives on that coordinate
// and ran 2-3x faster on PoCL; max() before the shift is the clamp that sends fine cell 0 to
// coarse cell 0 on both sides.
inline __attribute__((always_inline)) int cd_prolong_lo(int f) { return max(f - 1, 0) >> 1; }
inline __attribute__((always_inline)) int cd_prolong_hi(int f, int Nc) { return min((f + 1) >> 1, Nc - 1); }
inline __attribute__((always_inline)) float cd_prolong_t(int f) { return (f & 1) ? 0.25f : 0.75f; }

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl

// The divergence of one cell, or of a chunk's sixteen lanes: the velocity's central differences,
// then the combustion expansion, in one written order for both. The order is the one the compiler
// had chosen for the earlier, unpinned per-cell form (forward differences less backward ones, the
// gradient's squares fused, the smoothstep's factors multiplied into the gates one by one), so
// pinning it moved no bit.
//
// Combustion expansion: only the aggression above 0.15 counts, so the default adds nothing.
// Gated by the temperature gradient (only fronts expand, not the hot interior of a plume)
// and by nearness to ignition (cold fronts, e.g. a smoke edge, stay put). Computed without a
// branch, which kept PoCL from vectorising the kernel (2x slower even when not taken); the
// select, not a multiplication by zero, keeps the velocity's divergence bit for bit when the
// aggression is at or below the threshold. The hot gate is a smoothstep from 0.3 × ignition to
// ignition that stays defined when the edges coincide (an ignition temperature of 0 makes every
// positive temperature count as hot).
#define CD_DIVERGENCE_OF(name, T)                                                                      \
    CD_INLINE T name(T vxp, T vxm, T vyp, T vym, T vzp, T vzm, T txp, T txm, T typ, T tym, T tzp, T tzm, \
                     T tc, float aggression, float ignitionTemp) {                                     \
        _Pragma("clang fp reassociate(off)") _Pragma("clang fp contract(off)")                         \
        const T div = 0.5f * (((vxp + vyp) + vzp) - ((vxm + vym) + vzm));                               \
        const float aggE = aggression - 0.15f;                                                         \
        const T tx = txp - txm, ty = typ - tym, tz = tzp - tzm;                                        \
        const T frontGate = clamp(sqrt(fma(tz, tz, fma(tx, tx, ty * ty))) * 0.0015f, 0.0f, 1.0f);      \
        const float e0 = 0.3f * ignitionTemp;                                                          \
        const T h = clamp((tc - e0) / fmax(ignitionTemp - e0, 1e-6f), 0.0f, 1.0f);                     \
        const T expansion = 2.0f * ((((h * h) * aggE) * (3.0f - 2.0f * h)) * frontGate);               \
        return aggE > 0.0f ? div + expansion : div;                                                    \
    }
CD_DIVERGENCE_OF(cd_divergence_cell, float)
CD_DIVERGENCE_OF(cd_divergence_row, float16)
#undef CD_DIVERGENCE_OF

// Sixteen cells of a row per work-item (CD_ROW_CHUNK, launched by run3dRowChunks), a row's last
// partial chunk cell by cell; the written order is held for both.
__kernel void cd_divergence(__global const float4* vel, __global float* divOut, int N,
                            __global const float* temperature, float aggression, float ignitionTemp) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    __global const float* T = temperature;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) {
            const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
            divOut[cd_idx(x, y, z, N)] = cd_divergence_cell(
                vel[cd_idx(xp, y, z, N)].x, vel[cd_idx(xm, y, z, N)].x, vel[cd_idx(x, yp, z, N)].y,
                vel[cd_idx(x, ym, z, N)].y, vel[cd_idx(x, y, zp, N)].z, vel[cd_idx(x, y, zm, N)].z,
                T[cd_idx(xp, y, z, N)], T[cd_idx(xm, y, z, N)], T[cd_idx(x, yp, z, N)], T[cd_idx(x, ym, z, N)],
                T[cd_idx(x, y, zp, N)], T[cd_idx(x, y, zm, N)], T[cd_idx(x, y, z, N)], aggression, ignitionTemp);
        }
        return;
    }
    const int c = cd_idx(x0, y, z, N), row = cd_idx(0, y, z, N);
    const int before = row + max(x0 - 1, 0), after = row + min(x0 + CD_ROW_CHUNK, N - 1);
    const float16 vx = cd_row_vx(vel, c);
    const float16 t = vload16(0, T + c);
    const float16 d = cd_divergence_row(cd_row_next(vx, vel[after].x), cd_row_prev(vx, vel[before].x),
                                        cd_row_vy(vel, cd_idx(x0, yp, z, N)), cd_row_vy(vel, cd_idx(x0, ym, z, N)),
                                        cd_row_vz(vel, cd_idx(x0, y, zp, N)), cd_row_vz(vel, cd_idx(x0, y, zm, N)),
                                        cd_row_next(t, T[after]), cd_row_prev(t, T[before]),
                                        vload16(0, T + cd_idx(x0, yp, z, N)), vload16(0, T + cd_idx(x0, ym, z, N)),
                                        vload16(0, T + cd_idx(x0, y, zp, N)), vload16(0, T + cd_idx(x0, y, zm, N)), t,
                                        aggression, ignitionTemp);
    vstore16(d, 0, divOut + c);
}

// The six clamped neighbours of a cell, in one fixed order: the Jacobi sweep and the residual
// must apply exactly the same operator, or the residual would measure an equation the sweeps do
// not solve. The sweeps run in whole-row groups, and PoCL compiles each group shape anew, free
// under the relaxed math to regroup the sums differently in each; the pragmas hold the written
// grouping in every shape. It is the grouping PoCL's own shapes gave the plain six-term sum on the
// AVX-512 CPUs the solver was first measured on, at every side a grid or one of its multigrid
// levels can have (16 to 384), so pinning it moved no bit there; the residual's fma is likewise
// the contraction those shapes made. PoCL's AVX2 build groups the plain sum otherwise, which is
// why the order is written down rather than left to whichever CPU compiles it.
CD_INLINE float cd_proj_neighbour_sum(__global const float* p, int x, int y, int z, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    const float upper = (p[cd_idx(xp, y, z, N)] + p[cd_idx(x, yp, z, N)]) + p[cd_idx(x, y, zp, N)];
    const float lower = (p[cd_idx(xm, y, z, N)] + p[cd_idx(x, ym, z, N)]) + p[cd_idx(x, y, zm, N)];
    return upper + lower;
}

// cd_proj_neighbour_sum for the sixteen cells of a chunk, lane by lane in its order; `centre` gets
// the chunk's own values.
CD_INLINE float16 cd_proj_neighbour_sum_row(__global const float* p, int x0, int y, int z, int N, float16* centre) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    __global const float* row = p + cd_idx(0, y, z, N);
    const float16 c = vload16(0, row + x0);
    const float16 xp = cd_row_next(c, row[min(x0 + CD_ROW_CHUNK, N - 1)]);
    const float16 xm = cd_row_prev(c, row[max(x0 - 1, 0)]);
    const float16 upper = (xp + vload16(0, p + cd_idx(x0, yp, z, N))) + vload16(0, p + cd_idx(x0, y, zp, N));
    const float16 lower = (xm + vload16(0, p + cd_idx(x0, ym, z, N))) + vload16(0, p + cd_idx(x0, y, zm, N));
    *centre = c;
    return upper + lower;
}

__kernel void cd_pressure_jacobi(__global const float* pIn, __global const float* div, __global float* pOut, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) {
            const float sum = cd_proj_neighbour_sum(pIn, x, y, z, N);
            const int c = cd_idx(x, y, z, N);
            pOut[c] = (sum - div[c]) / 6.0f;
        }
        return;
    }
    float16 centre;
    const float16 sum = cd_proj_neighbour_sum_row(pIn, x0, y, z, N, &centre);
    const int c = cd_idx(x0, y, z, N);
    vstore16((sum - vload16(0, div + c)) / 6.0f, 0, pOut + c);
}

__kernel void cd_residual(__global const float* p, __global const float* b, __global float* r, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    // b - (sum - 6p), with the product fused into the subtraction.
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) {
            const float sum = cd_proj_neighbour_sum(p, x, y, z, N);
            const int c = cd_idx(x, y, z, N);
            r[c] = b[c] - fma(-6.0f, p[c], sum);
        }
        return;
    }
    float16 centre;
    const float16 sum = cd_proj_neighbour_sum_row(p, x0, y, z, N, &centre);
    const int c = cd_idx(x0, y, z, N);
    vstore16(vload16(0, b + c) - fma(-6.0f, centre, sum), 0, r + c);
}

// The fine side is exactly 2·Nc: the host stops the hierarchy above a level whose side is odd.
// The eight children are summed in one written order, x pairs, then y, then z, held by the
// pragmas, for a cell and for the sixteen lanes of a row chunk (CD_ROW_CHUNK coarse cells, launched
// by run3dRowChunks; a row's last, partial chunk cell by cell). The per-cell kernel ran as scalar
// code, eight loads a cell.
#define CD_RESTRICT_SUM(y0z0, y1z0, y0z1, y1z1) (0.125f * (((y0z0) + (y1z0)) + ((y0z1) + (y1z1))))

// The x pairs of one fine row for a chunk's sixteen coarse cells: the sums of its even and odd
// cells from 2·xc0 on.
CD_INLINE float16 cd_restrict_pairs(__global const float* f) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float16 a = vload16(0, f), b = vload16(1, f);
    return CD_SHUFFLE16(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30) +
           CD_SHUFFLE16(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
}

__kernel void cd_restrict(__global const float* fine, __global float* coarse, int Nc) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= Nc || y >= Nc || z >= Nc) return;

    const int Nf = 2 * Nc;
    const int sy = Nf;
    const int sz = Nf * Nf;
    if (x0 + CD_ROW_CHUNK > Nc) {
        for (int x = x0; x < Nc; ++x) {
            const int i = cd_idx(2 * x, 2 * y, 2 * z, Nf);
            coarse[cd_idx(x, y, z, Nc)] = CD_RESTRICT_SUM(fine[i] + fine[i + 1], fine[i + sy] + fine[i + sy + 1],
                                                          fine[i + sz] + fine[i + sz + 1],
                                                          fine[i + sz + sy] + fine[i + sz + sy + 1]);
        }
        return;
    }
    const int i = cd_idx(2 * x0, 2 * y, 2 * z, Nf);
    vstore16(CD_RESTRICT_SUM(cd_restrict_pairs(fine + i), cd_restrict_pairs(fine + i + sy),
                             cd_restrict_pairs(fine + i + sz), cd_restrict_pairs(fine + i + sz + sy)),
             0, coarse + cd_idx(x0, y, z, Nc));
}
#undef CD_RESTRICT_SUM

// Interpolates the coarse correction trilinearly and adds it to the fine level, Nf = 2·Nc. The
// blends run x, then y, then z, written once for a cell and once for a chunk's sixteen lanes; the
// pragmas keep that order in every compilation (it is the order PoCL's own shapes chose for the
// per-cell form, so pinning it changed no bit).
#define CD_PROLONG_BLEND(c000, c100, c010, c110, c001, c101, c011, c111, tx, ty, tz)               \
    mix(mix(mix(c000, c100, tx), mix(c010, c110, tx), ty), mix(mix(c001, c101, tx), mix(c011, c111, tx), ty), tz)

// The lower and upper coarse cells of a full chunk's sixteen lanes (cd_prolong_lo and _hi of
// x0 + k) from the eight cells from m = x0/2 and the clamped cells before and after them.
CD_INLINE float16 cd_prolong_lo_row(float8 w, float before) {
    return (float16)(before, w.s0, w.s0, w.s1, w.s1, w.s2, w.s2, w.s3, w.s3, w.s4, w.s4, w.s5, w.s5, w.s6, w.s6, w.s7);
}
CD_INLINE float16 cd_prolong_hi_row(float8 w, float after) {
    return (float16)(w.s0, w.s1, w.s1, w.s2, w.s2, w.s3, w.s3, w.s4, w.s4, w.s5, w.s5, w.s6, w.s6, w.s7, w.s7, after);
}

__kernel void cd_prolong_add(__global const float* coarse, __global float* fine, int Nf) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= Nf || y >= Nf || z >= Nf) return;

    const int Nc = Nf / 2;
    const int y0 = cd_prolong_lo(y), y1 = cd_prolong_hi(y, Nc);
    const int z0 = cd_prolong_lo(z), z1 = cd_prolong_hi(z, Nc);
    const float ty = cd_prolong_t(y), tz = cd_prolong_t(z);
    __global const float* r00 = coarse + cd_idx(0, y0, z0, Nc);
    __global const float* r10 = coarse + cd_idx(0, y1, z0, Nc);
    __global const float* r01 = coarse + cd_idx(0, y0, z1, Nc);
    __global const float* r11 = coarse + cd_idx(0, y1, z1, Nc);
    __global float* out = fine + cd_idx(0, y, z, Nf);
    if (x0 + CD_ROW_CHUNK > Nf) {
        for (int x = x0; x < Nf; ++x) {
            const int a = cd_prolong_lo(x), b = cd_prolong_hi(x, Nc);
            out[x] += CD_PROLONG_BLEND(r00[a], r00[b], r10[a], r10[b], r01[a], r01[b], r11[a], r11[b],
                                       cd_prolong_t(x), ty, tz);
        }
        return;
    }
    // A full chunk starts at an even x0 = 2m: its lanes read coarse cells m - 1 to m + 8, clamped.
    const int m = x0 / 2, before = max(m - 1, 0), after = min(m + 8, Nc - 1);
    const float16 tx = (float16)(0.75f, 0.25f, 0.75f, 0.25f, 0.75f, 0.25f, 0.75f, 0.25f, 0.75f, 0.25f, 0.75f, 0.25f,
                                 0.75f, 0.25f, 0.75f, 0.25f);
    const float8 w00 = vload8(0, r00 + m), w10 = vload8(0, r10 + m), w01 = vload8(0, r01 + m), w11 = vload8(0, r11 + m);
    const float16 lo00 = cd_prolong_lo_row(w00, r00[before]), hi00 = cd_prolong_hi_row(w00, r00[after]);
    const float16 lo10 = cd_prolong_lo_row(w10, r10[before]), hi10 = cd_prolong_hi_row(w10, r10[after]);
    const float16 lo01 = cd_prolong_lo_row(w01, r01[before]), hi01 = cd_prolong_hi_row(w01, r01[after]);
    const float16 lo11 = cd_prolong_lo_row(w11, r11[before]), hi11 = cd_prolong_hi_row(w11, r11[after]);
    vstore16(vload16(0, out + x0) + CD_PROLONG_BLEND(lo00, hi00, lo10, hi10, lo01, hi01, lo11, hi11, tx, ty, tz),
             0, out + x0);
}
#undef CD_PROLONG_BLEND

// Subtracts the pressure gradient from the velocity; w is left as it is.
__kernel void cd_gradient_subtract(__global float4* vel, __global const float* p, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;

    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) {
            const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
            const int c = cd_idx(x, y, z, N);
            float4 v = vel[c];
            v.x = v.x - 0.5f * (p[cd_idx(xp, y, z, N)] - p[cd_idx(xm, y, z, N)]);
            v.y = v.y - 0.5f * (p[cd_idx(x, yp, z, N)] - p[cd_idx(x, ym, z, N)]);
            v.z = v.z - 0.5f * (p[cd_idx(x, y, zp, N)] - p[cd_idx(x, y, zm, N)]);
            vel[c] = v;
        }
        return;
    }
    const int c = cd_idx(x0, y, z, N), row = cd_idx(0, y, z, N);
    const float16 pc = vload16(0, p + c);
    const float16 pxp = cd_row_next(pc, p[row + min(x0 + CD_ROW_CHUNK, N - 1)]);
    const float16 pxm = cd_row_prev(pc, p[row + max(x0 - 1, 0)]);
    const float16 gx = 0.5f * (pxp - pxm);
    const float16 gy = 0.5f * (vload16(0, p + cd_idx(x0, yp, z, N)) - vload16(0, p + cd_idx(x0, ym, z, N)));
    const float16 gz = 0.5f * (vload16(0, p + cd_idx(x0, y, zp, N)) - vload16(0, p + cd_idx(x0, y, zm, N)));
    float16 vx, vy, vz, vw;
    cd_row_components(vel, c, &vx, &vy, &vz, &vw);
    cd_row_store_components(vel, c, vx - gx, vy - gy, vz - gz, vw);
}
#pragma clang diagnostic pop
