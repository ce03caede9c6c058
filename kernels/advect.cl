// Semi-Lagrangian advection: each cell looks back along its own velocity by one time step and
// takes the trilinear sample found there. Unconditionally stable; each field is read from one
// buffer and written to its ping-pong partner, which the host then swaps in. Every kernel runs over
// N × N × N work items and returns at once for an id outside the grid.
//
// The velocity used for the back-trace is the one stored at the cell itself (no interpolation at
// the start point). Boundaries are entirely the samplers' clamp-to-edge: a back-trace that leaves
// the grid reads the nearest edge cell, so inflow repeats the edge values. There are no obstacles.
//
// Plain floats and the samplers' plain-float forms so that PoCL vectorises across work items.

#define CD_ADVECT_MAX_SPEED 50.0f

// Density, temperature and fuel share one back-trace: three samples at the same position let the
// compiler share the index and weight arithmetic and the cache lines. No dissipation here; the
// fields decay through their own decay kernels.
__kernel void cd_advect_three_scalars(__global const float* dIn, __global float* dOut, __global const float* tIn,
                                      __global float* tOut, __global const float* fIn, __global float* fOut,
                                      __global const float4* velRead, int N, float dt) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const int i = cd_idx(x, y, z, N);
    const __global float* v = (const __global float*)velRead + 4 * i;
    const float bx = (float)x + 0.5f - v[0] * dt;
    const float by = (float)y + 0.5f - v[1] * dt;
    const float bz = (float)z + 0.5f - v[2] * dt;
    dOut[i] = cd_sample_f_xyz(dIn, N, bx, by, bz);
    tOut[i] = cd_sample_f_xyz(tIn, N, bx, by, bz);
    fOut[i] = cd_sample_f_xyz(fIn, N, bx, by, bz);
}

// One scalar field (the embers), scaled by (1 − dissipation) per step.
__kernel void cd_advect_scalar(__global const float* fieldIn, __global float* fieldOut,
                               __global const float4* velRead, int N, float dt, float dissipation) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const int i = cd_idx(x, y, z, N);
    const __global float* v = (const __global float*)velRead + 4 * i;
    const float bx = (float)x + 0.5f - v[0] * dt;
    const float by = (float)y + 0.5f - v[1] * dt;
    const float bz = (float)z + 0.5f - v[2] * dt;
    fieldOut[i] = cd_sample_f_xyz(fieldIn, N, bx, by, bz) * (1.0f - dissipation);
}

// The velocity carries itself. The ±50 cells per second clamp bounds how far one back-trace can
// reach and keeps a runaway force from blowing up the field; w is written as 0.
__kernel void cd_advect_velocity(__global const float4* velIn, __global float4* velOut, int N, float dt,
                                 float dissipation) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

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
