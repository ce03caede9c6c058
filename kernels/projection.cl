// Pressure projection: divergence of the velocity (raised on hot flame fronts), the Jacobi sweep,
// residual, restriction and prolongation of the multigrid Poisson solve, and the subtraction of
// the pressure gradient. Every stencil uses unit cell spacing and clamps neighbour indices to the
// grid, so a neighbour beyond the edge is the edge cell itself: a zero-gradient boundary.
//
// The operator solved everywhere is A p = (sum of the six neighbours) - 6 p = rhs; the coarse
// levels use the same unit-spacing operator on the unscaled restricted residual, as the host's
// V-cycle expects. Helpers are plain-float and always inlined so that PoCL vectorises the
// stencils across work-items. Velocity components are read as vel[i].x rather than through a
// float pointer with stride 4: measured on PoCL, the strided form was about 3x slower.

// Smoothstep that stays defined when the edges coincide (an ignition temperature of 0 makes every
// positive temperature count as hot instead of dividing by zero).
inline __attribute__((always_inline)) float cd_proj_smoothstep(float e0, float e1, float v) {
    const float t = clamp((v - e0) / fmax(e1 - e0, 1e-6f), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// Lower coarse index, upper coarse index and weight of the upper one for fine index f. The fine
// centre lies at coarse coordinate (f - 0.5) * 0.5: f/2 - 0.25 for even f (cells f/2 - 1 and
// f/2, upper weight 0.75), (f - 1)/2 + 0.25 for odd f (cells (f - 1)/2 and (f + 1)/2, upper weight
// 0.25). Integer parity gives exactly the indices and weights floor() gives on that coordinate
// and ran 2-3x faster on PoCL; max() before the shift is the clamp that sends fine cell 0 to
// coarse cell 0 on both sides.
inline __attribute__((always_inline)) int cd_prolong_lo(int f) { return max(f - 1, 0) >> 1; }
inline __attribute__((always_inline)) int cd_prolong_hi(int f, int Nc) { return min((f + 1) >> 1, Nc - 1); }
inline __attribute__((always_inline)) float cd_prolong_t(int f) { return (f & 1) ? 0.25f : 0.75f; }

__kernel void cd_divergence(__global const float4* vel, __global float* divOut, int N,
                            __global const float* temperature, float aggression, float ignitionTemp) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    float div = 0.5f * ((vel[cd_idx(xp, y, z, N)].x - vel[cd_idx(xm, y, z, N)].x) +
                        (vel[cd_idx(x, yp, z, N)].y - vel[cd_idx(x, ym, z, N)].y) +
                        (vel[cd_idx(x, y, zp, N)].z - vel[cd_idx(x, y, zm, N)].z));

    // Combustion expansion: only the aggression above 0.15 counts, so the default adds nothing.
    // Gated by the temperature gradient (only fronts expand, not the hot interior of a plume)
    // and by nearness to ignition (cold fronts, e.g. a smoke edge, stay put). Computed without a
    // branch, which kept PoCL from vectorising the kernel (2x slower even when not taken); the
    // select, not a multiplication by zero, keeps the velocity's divergence bit for bit when the
    // aggression is at or below the threshold.
    const float aggE = aggression - 0.15f;
    const float tx = temperature[cd_idx(xp, y, z, N)] - temperature[cd_idx(xm, y, z, N)];
    const float ty = temperature[cd_idx(x, yp, z, N)] - temperature[cd_idx(x, ym, z, N)];
    const float tz = temperature[cd_idx(x, y, zp, N)] - temperature[cd_idx(x, y, zm, N)];
    const float gradT = sqrt(tx * tx + ty * ty + tz * tz);
    const float frontGate = clamp(gradT * 0.0015f, 0.0f, 1.0f);
    const float hotGate = cd_proj_smoothstep(0.3f * ignitionTemp, ignitionTemp, temperature[cd_idx(x, y, z, N)]);
    const float expansion = 2.0f * aggE * frontGate * hotGate;
    div = aggE > 0.0f ? div + expansion : div;
    divOut[cd_idx(x, y, z, N)] = div;
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

// Sixteen cells of a row per work-item (CD_ROW_CHUNK; the host launches ceil(N / 16) items a row,
// any shape with more items is also correct): one 16-value load of the row and of each of its four
// neighbour rows replaces the clamped per-cell loads, which PoCL turned into gathers. Each lane does
// cd_proj_neighbour_sum's arithmetic in its order, and a row's last, partial chunk runs cell by cell
// through it, so every shape and chunk gives the same bits as the per-cell sweep.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl
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
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    __global const float* row = pIn + cd_idx(0, y, z, N);
    const float16 p = vload16(0, row + x0);
    const float left = row[max(x0 - 1, 0)], right = row[min(x0 + CD_ROW_CHUNK, N - 1)];
    const float16 xp = (float16)(p.s1, p.s2, p.s3, p.s4, p.s5, p.s6, p.s7, p.s8, p.s9, p.sa, p.sb, p.sc, p.sd, p.se,
                                 p.sf, right);
    const float16 xm = (float16)(left, p.s0, p.s1, p.s2, p.s3, p.s4, p.s5, p.s6, p.s7, p.s8, p.s9, p.sa, p.sb, p.sc,
                                 p.sd, p.se);
    const float16 upper = (xp + vload16(0, pIn + cd_idx(x0, yp, z, N))) + vload16(0, pIn + cd_idx(x0, y, zp, N));
    const float16 lower = (xm + vload16(0, pIn + cd_idx(x0, ym, z, N))) + vload16(0, pIn + cd_idx(x0, y, zm, N));
    const int c = cd_idx(x0, y, z, N);
    vstore16(((upper + lower) - vload16(0, div + c)) / 6.0f, 0, pOut + c);
}
#pragma clang diagnostic pop

__kernel void cd_residual(__global const float* p, __global const float* b, __global float* r, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const float sum = cd_proj_neighbour_sum(p, x, y, z, N);
    const int c = cd_idx(x, y, z, N);
    // b - (sum - 6p), with the product fused into the subtraction.
    r[c] = b[c] - fma(-6.0f, p[c], sum);
}

// The fine side is exactly 2·Nc: the host stops the hierarchy above a level whose side is odd.
// Launched in whole-row groups like the other levels' kernels; the eight children are summed in
// one written order, x pairs, then y, then z, held by the pragmas in every group shape.
__kernel void cd_restrict(__global const float* fine, __global float* coarse, int Nc) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= Nc || y >= Nc || z >= Nc) return;

    const int Nf = 2 * Nc;
    const int i = cd_idx(2 * x, 2 * y, 2 * z, Nf);
    const int sy = Nf;
    const int sz = Nf * Nf;
    const float y0z0 = fine[i] + fine[i + 1];
    const float y1z0 = fine[i + sy] + fine[i + sy + 1];
    const float y0z1 = fine[i + sz] + fine[i + sz + 1];
    const float y1z1 = fine[i + sz + sy] + fine[i + sz + sy + 1];
    coarse[cd_idx(x, y, z, Nc)] = 0.125f * ((y0z0 + y1z0) + (y0z1 + y1z1));
}

// Launched in whole-row groups. PoCL compiles each group shape anew, and under the relaxed math
// each compilation may regroup the arithmetic; the pragmas keep the written order in every shape
// (compilers without them ignore them). It is the order PoCL's own shapes chose for this kernel
// anyway, so pinning it changed no bit.
__kernel void cd_prolong_add(__global const float* coarse, __global float* fine, int Nf) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= Nf || y >= Nf || z >= Nf) return;

    const int Nc = Nf / 2;
    const int x0 = cd_prolong_lo(x), x1 = cd_prolong_hi(x, Nc);
    const int y0 = cd_prolong_lo(y), y1 = cd_prolong_hi(y, Nc);
    const int z0 = cd_prolong_lo(z), z1 = cd_prolong_hi(z, Nc);
    const float tx = cd_prolong_t(x), ty = cd_prolong_t(y), tz = cd_prolong_t(z);

    const float c00 = mix(coarse[cd_idx(x0, y0, z0, Nc)], coarse[cd_idx(x1, y0, z0, Nc)], tx);
    const float c10 = mix(coarse[cd_idx(x0, y1, z0, Nc)], coarse[cd_idx(x1, y1, z0, Nc)], tx);
    const float c01 = mix(coarse[cd_idx(x0, y0, z1, Nc)], coarse[cd_idx(x1, y0, z1, Nc)], tx);
    const float c11 = mix(coarse[cd_idx(x0, y1, z1, Nc)], coarse[cd_idx(x1, y1, z1, Nc)], tx);
    const float c0 = mix(c00, c10, ty);
    const float c1 = mix(c01, c11, ty);
    fine[cd_idx(x, y, z, Nf)] += mix(c0, c1, tz);
}

__kernel void cd_gradient_subtract(__global float4* vel, __global const float* p, int N) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    const int c = cd_idx(x, y, z, N);
    // One whole float4 load and store: PoCL ran this about 3x faster than three strided float
    // updates through a float pointer, which it turns into gathers and scatters.
    float4 v = vel[c];
    v.x -= 0.5f * (p[cd_idx(xp, y, z, N)] - p[cd_idx(xm, y, z, N)]);
    v.y -= 0.5f * (p[cd_idx(x, yp, z, N)] - p[cd_idx(x, ym, z, N)]);
    v.z -= 0.5f * (p[cd_idx(x, y, zp, N)] - p[cd_idx(x, y, zm, N)]);
    vel[c] = v;
}
