// Semi-Lagrangian advection: each cell looks back along its own velocity by one time step and
// takes the trilinear sample found there. Unconditionally stable; each field is read from one
// buffer and written to its ping-pong partner, which the host then swaps in.
//
// The velocity used for the back-trace is the one stored at the cell itself (no interpolation at
// the start point). Boundaries are entirely the samplers' clamp-to-edge: a back-trace that leaves
// the grid reads the nearest edge cell, so inflow repeats the edge values. There are no obstacles.

#define CD_ADVECT_MAX_SPEED 50.0f

// Sixteen back-traced points of a row chunk, each on its trilinear cell as cd_trilinear_cell puts
// it. A point's two x corners lie side by side in memory, so each (y, z) corner row is one index,
// that of the pair: p00 for (y0, z0), p10 for (y1, z0), p01 for (y0, z1), p11 for (y1, z1). A point
// on the last x cell (x0 = N − 1, where x1 = x0) has its pair one cell earlier, which keeps the
// load inside the row and the buffer, and `atEnd` set: both its corners are then the pair's second
// value. The three weights follow, lane by lane.
typedef struct {
    int16 p00, p10, p01, p11, atEnd;
    float16 tx, ty, tz;
} CdAdvectCells;

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl

// The back-trace of the chunk from x0 along the chunk's own velocity, in cd_trilinear_cell's
// arithmetic.
CD_INLINE CdAdvectCells cd_advect_cells(__global const float4* vel, int x0, int y, int z, int N, float dt) {
    const int c = cd_idx(x0, y, z, N);
    const float16 lane = (float16)(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 12.0f,
                                   13.0f, 14.0f, 15.0f);
    float16 vx, vy, vz, vw;
    cd_row_components(vel, c, &vx, &vy, &vz, &vw);
    const float16 bx = ((float16)((float)x0) + lane) + 0.5f - vx * dt;
    const float16 by = (float)y + 0.5f - vy * dt;
    const float16 bz = (float)z + 0.5f - vz * dt;
    const float hi = (float)(N - 1);
    const float16 gx = clamp(bx - 0.5f, 0.0f, hi), gy = clamp(by - 0.5f, 0.0f, hi), gz = clamp(bz - 0.5f, 0.0f, hi);
    const float16 fx0 = floor(gx), fy0 = floor(gy), fz0 = floor(gz);
    const int16 x0s = convert_int16(fx0), y0s = convert_int16(fy0), z0s = convert_int16(fz0);
    const int16 y1s = min(y0s + 1, N - 1), z1s = min(z0s + 1, N - 1);
    // Row chunks run only where N >= CD_ROW_CHUNK, so N − 2 is a cell.
    const int16 xp = min(x0s, N - 2);
    const int16 p00 = z0s * N * N + y0s * N + xp, p10 = z0s * N * N + y1s * N + xp;
    const int16 p01 = z1s * N * N + y0s * N + xp, p11 = z1s * N * N + y1s * N + xp;
    CdAdvectCells cells = {p00, p10, p01, p11, x0s == N - 1, gx - fx0, gy - fy0, gz - fz0};
    return cells;
}

// The x0 and x1 corner values of the sixteen points on one corner row of a scalar field. The
// points scatter over the grid, so each lane is a load of its own; one 8-byte load per lane brings
// both values, where single values took two loads and as many lane inserts, and the even and odd
// lanes of the pairs split them. The values are the same as two separate loads give.
CD_INLINE void cd_advect_pairs(__global const float* f, int16 p, int16 atEnd, float16* v0, float16* v1) {
#define CD_PAIR(k) vload2(0, f + p.s##k)
    const float16 a =
        (float16)(CD_PAIR(0), CD_PAIR(1), CD_PAIR(2), CD_PAIR(3), CD_PAIR(4), CD_PAIR(5), CD_PAIR(6), CD_PAIR(7));
    const float16 b =
        (float16)(CD_PAIR(8), CD_PAIR(9), CD_PAIR(a), CD_PAIR(b), CD_PAIR(c), CD_PAIR(d), CD_PAIR(e), CD_PAIR(f));
#undef CD_PAIR
    const float16 lo = CD_SHUFFLE16(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    *v1 = CD_SHUFFLE16(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    *v0 = select(lo, *v1, atEnd);
}

// cd_sample_f_xyz's blends for the sixteen lanes of a scalar field.
CD_INLINE float16 cd_advect_sample(__global const float* f, const CdAdvectCells* c) {
    float16 v000, v100, v010, v110, v001, v101, v011, v111;
    cd_advect_pairs(f, c->p00, c->atEnd, &v000, &v100);
    cd_advect_pairs(f, c->p10, c->atEnd, &v010, &v110);
    cd_advect_pairs(f, c->p01, c->atEnd, &v001, &v101);
    cd_advect_pairs(f, c->p11, c->atEnd, &v011, &v111);
    const float16 c00 = mix(v000, v100, c->tx);
    const float16 c10 = mix(v010, v110, c->tx);
    const float16 c01 = mix(v001, v101, c->tx);
    const float16 c11 = mix(v011, v111, c->tx);
    return mix(mix(c00, c10, c->ty), mix(c01, c11, c->ty), c->tz);
}

// Density, temperature and fuel share one back-trace: three samples at the same position share
// the index and weight arithmetic and the cache lines. No dissipation here; the fields decay
// through their own decay kernels.
CD_INLINE void cd_advect_three_cell(__global const float* dIn, __global float* dOut, __global const float* tIn,
                                    __global float* tOut, __global const float* fIn, __global float* fOut,
                                    __global const float4* velRead, int N, float dt, int x, int y, int z) {
    const int i = cd_idx(x, y, z, N);
    const __global float* v = (const __global float*)velRead + 4 * i;
    const float bx = (float)x + 0.5f - v[0] * dt;
    const float by = (float)y + 0.5f - v[1] * dt;
    const float bz = (float)z + 0.5f - v[2] * dt;
    dOut[i] = cd_sample_f_xyz(dIn, N, bx, by, bz);
    tOut[i] = cd_sample_f_xyz(tIn, N, bx, by, bz);
    fOut[i] = cd_sample_f_xyz(fIn, N, bx, by, bz);
}

// Every advection computes sixteen cells of a row per work-item (CD_ROW_CHUNK, launched by
// run3dRowChunks): the arithmetic in 16-wide vectors (the velocity's in float4 pairs of lanes),
// which PoCL did not form across work-items from the per-cell kernels (their gathers stayed scalar
// code). A row's last, partial chunk runs cell by cell; both forms give the same bits.
__kernel void cd_advect_three_scalars(__global const float* dIn, __global float* dOut, __global const float* tIn,
                                      __global float* tOut, __global const float* fIn, __global float* fOut,
                                      __global const float4* velRead, int N, float dt) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) cd_advect_three_cell(dIn, dOut, tIn, tOut, fIn, fOut, velRead, N, dt, x, y, z);
        return;
    }
    const CdAdvectCells cells = cd_advect_cells(velRead, x0, y, z, N, dt);
    const int i = cd_idx(x0, y, z, N);
    vstore16(cd_advect_sample(dIn, &cells), 0, dOut + i);
    vstore16(cd_advect_sample(tIn, &cells), 0, tOut + i);
    vstore16(cd_advect_sample(fIn, &cells), 0, fOut + i);
}

// One scalar field (the embers), scaled by (1 − dissipation) per step.
CD_INLINE void cd_advect_scalar_cell(__global const float* fieldIn, __global float* fieldOut,
                                     __global const float4* velRead, int N, float dt, float dissipation, int x, int y,
                                     int z) {
    const int i = cd_idx(x, y, z, N);
    const __global float* v = (const __global float*)velRead + 4 * i;
    const float bx = (float)x + 0.5f - v[0] * dt;
    const float by = (float)y + 0.5f - v[1] * dt;
    const float bz = (float)z + 0.5f - v[2] * dt;
    fieldOut[i] = cd_sample_f_xyz(fieldIn, N, bx, by, bz) * (1.0f - dissipation);
}

__kernel void cd_advect_scalar(__global const float* fieldIn, __global float* fieldOut,
                               __global const float4* velRead, int N, float dt, float dissipation) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) cd_advect_scalar_cell(fieldIn, fieldOut, velRead, N, dt, dissipation, x, y, z);
        return;
    }
    const CdAdvectCells cells = cd_advect_cells(velRead, x0, y, z, N, dt);
    vstore16(cd_advect_sample(fieldIn, &cells) * (1.0f - dissipation), 0, fieldOut + cd_idx(x0, y, z, N));
}

// The velocity carries itself. The ±50 cells per second clamp bounds how far one back-trace can
// reach and keeps a runaway force from blowing up the field; w is written as 0.
CD_INLINE void cd_advect_velocity_cell(__global const float4* velIn, __global float4* velOut, int N, float dt,
                                       float dissipation, int x, int y, int z) {
    const int i = cd_idx(x, y, z, N);
    const __global float* v = (const __global float*)velIn + 4 * i;
    const float bx = (float)x + 0.5f - v[0] * dt;
    const float by = (float)y + 0.5f - v[1] * dt;
    const float bz = (float)z + 0.5f - v[2] * dt;
    float ax, ay, az;
    cd_sample_v_xyz(velIn, N, bx, by, bz, &ax, &ay, &az);
    const float keep = 1.0f - dissipation;
    __global float* out = (__global float*)velOut + 4 * i;
    out[0] = clamp(ax * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    out[1] = clamp(ay * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    out[2] = clamp(az * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    out[3] = 0.0f;
}

// The chunk's velocity is sampled two lanes at a time, one whole float4 per lane and corner: the
// sixteen-lane form gathered each of the three components on its own, 24 loads and lane inserts
// per lane where these are eight loads. The blends, the scale and the clamp act on each component
// alone, with the same operations and order as cd_sample_v_xyz and cd_advect_velocity_cell, and the
// two lanes' results go out as they lie in memory, w written as 0.
#define CD_ADVECT_V_CORNER(i, a, b) (float8)(velIn[i.s##a], velIn[i.s##b])
#define CD_ADVECT_V_LANES(a, b)                                                                     \
    {                                                                                               \
        const float8 tx = (float8)((float4)(cells.tx.s##a), (float4)(cells.tx.s##b));               \
        const float8 ty = (float8)((float4)(cells.ty.s##a), (float4)(cells.ty.s##b));               \
        const float8 tz = (float8)((float4)(cells.tz.s##a), (float4)(cells.tz.s##b));               \
        const float8 c00 = mix(CD_ADVECT_V_CORNER(i000, a, b), CD_ADVECT_V_CORNER(i100, a, b), tx); \
        const float8 c10 = mix(CD_ADVECT_V_CORNER(i010, a, b), CD_ADVECT_V_CORNER(i110, a, b), tx); \
        const float8 c01 = mix(CD_ADVECT_V_CORNER(i001, a, b), CD_ADVECT_V_CORNER(i101, a, b), tx); \
        const float8 c11 = mix(CD_ADVECT_V_CORNER(i011, a, b), CD_ADVECT_V_CORNER(i111, a, b), tx); \
        float8 v = mix(mix(c00, c10, ty), mix(c01, c11, ty), tz);                                   \
        v = clamp(v * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);                             \
        v.s3 = 0.0f;                                                                                \
        v.s7 = 0.0f;                                                                                \
        vstore8(v, 0, out + 4 * 0x##a);                                                             \
    }

__kernel void cd_advect_velocity(__global const float4* velIn, __global float4* velOut, int N, float dt,
                                 float dissipation) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) cd_advect_velocity_cell(velIn, velOut, N, dt, dissipation, x, y, z);
        return;
    }
    const CdAdvectCells cells = cd_advect_cells(velIn, x0, y, z, N, dt);
    const float keep = 1.0f - dissipation;
    // Each corner row's x0 and x1 cells: the pair's first and second, or its second twice on the
    // last x cell (atEnd is −1 there).
    const int16 i000 = cells.p00 - cells.atEnd, i100 = cells.p00 + 1, i010 = cells.p10 - cells.atEnd,
                i110 = cells.p10 + 1;
    const int16 i001 = cells.p01 - cells.atEnd, i101 = cells.p01 + 1, i011 = cells.p11 - cells.atEnd,
                i111 = cells.p11 + 1;
    __global float* out = (__global float*)(velOut + cd_idx(x0, y, z, N));
    CD_ADVECT_V_LANES(0, 1)
    CD_ADVECT_V_LANES(2, 3)
    CD_ADVECT_V_LANES(4, 5)
    CD_ADVECT_V_LANES(6, 7)
    CD_ADVECT_V_LANES(8, 9)
    CD_ADVECT_V_LANES(a, b)
    CD_ADVECT_V_LANES(c, d)
    CD_ADVECT_V_LANES(e, f)
}
#undef CD_ADVECT_V_LANES
#undef CD_ADVECT_V_CORNER
#pragma clang diagnostic pop
