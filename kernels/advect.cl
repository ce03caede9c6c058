// Semi-Lagrangian advection: each cell looks back along its own velocity by one time step and
// takes the trilinear sample found there. Unconditionally stable; each field is read from one
// buffer and written to its ping-pong partner, which the host then swaps in.
//
// The velocity used for the back-trace is the one stored at the cell itself (no interpolation at
// the start point). Boundaries are entirely the samplers' clamp-to-edge: a back-trace that leaves
// the grid reads the nearest edge cell, so inflow repeats the edge values. There are no obstacles.

#define CD_ADVECT_MAX_SPEED 50.0f

// Sixteen back-traced points of a row chunk, each on its trilinear cell as cd_trilinear_cell puts
// it: the eight corner indices and the three weights, lane by lane.
typedef struct {
    int16 i000, i100, i010, i110, i001, i101, i011, i111;
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
    const int16 x1s = min(x0s + 1, N - 1), y1s = min(y0s + 1, N - 1), z1s = min(z0s + 1, N - 1);
    const int16 r00 = z0s * N * N + y0s * N, r10 = z0s * N * N + y1s * N;
    const int16 r01 = z1s * N * N + y0s * N, r11 = z1s * N * N + y1s * N;
    CdAdvectCells cells = {r00 + x0s, r00 + x1s, r10 + x0s, r10 + x1s, r01 + x0s, r01 + x1s, r11 + x0s, r11 + x1s,
                           gx - fx0,  gy - fy0,  gz - fz0};
    return cells;
}

// Sixteen values at sixteen indices, one load each: the back-traced points scatter over the grid.
CD_INLINE float16 cd_advect_gather(__global const float* f, int16 i) {
    return (float16)(f[i.s0], f[i.s1], f[i.s2], f[i.s3], f[i.s4], f[i.s5], f[i.s6], f[i.s7], f[i.s8], f[i.s9], f[i.sa],
                     f[i.sb], f[i.sc], f[i.sd], f[i.se], f[i.sf]);
}

// cd_sample_f_xyz's blends for the sixteen lanes; `stride` and `k` pick component k of a float4
// field (stride 4) or a scalar field (stride 1, k 0).
CD_INLINE float16 cd_advect_sample(__global const float* f, const CdAdvectCells* c, int stride, int k) {
#define CD_CORNER(i) cd_advect_gather(f, c->i * stride + k)
    const float16 c00 = mix(CD_CORNER(i000), CD_CORNER(i100), c->tx);
    const float16 c10 = mix(CD_CORNER(i010), CD_CORNER(i110), c->tx);
    const float16 c01 = mix(CD_CORNER(i001), CD_CORNER(i101), c->tx);
    const float16 c11 = mix(CD_CORNER(i011), CD_CORNER(i111), c->tx);
#undef CD_CORNER
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
// run3dRowChunks): the arithmetic in 16-wide vectors, which PoCL did not form across work-items
// from the per-cell kernels (their gathers stayed scalar code). A row's last, partial chunk runs
// cell by cell; both forms give the same bits.
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
    vstore16(cd_advect_sample(dIn, &cells, 1, 0), 0, dOut + i);
    vstore16(cd_advect_sample(tIn, &cells, 1, 0), 0, tOut + i);
    vstore16(cd_advect_sample(fIn, &cells, 1, 0), 0, fOut + i);
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
    vstore16(cd_advect_sample(fieldIn, &cells, 1, 0) * (1.0f - dissipation), 0, fieldOut + cd_idx(x0, y, z, N));
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
    const __global float* in = (const __global float*)velIn;
    const float keep = 1.0f - dissipation;
    const float16 ax = clamp(cd_advect_sample(in, &cells, 4, 0) * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    const float16 ay = clamp(cd_advect_sample(in, &cells, 4, 1) * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    const float16 az = clamp(cd_advect_sample(in, &cells, 4, 2) * keep, -CD_ADVECT_MAX_SPEED, CD_ADVECT_MAX_SPEED);
    cd_row_store_components(velOut, cd_idx(x0, y, z, N), ax, ay, az, (float16)(0.0f));
}
#pragma clang diagnostic pop
