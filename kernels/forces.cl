// Velocity forces applied before a step's main projection: buoyancy, environmental forces,
// vorticity (curl and confinement), curl-noise turbulence and shredding.
//
// Every kernel runs over N × N × N work items, returns first for ids outside the grid, writes
// only its own cell of `velocity` (x, y, z; w stays 0) and clamps each component it writes to
// ±50 cells per second, so that no single force can launch gas across the grid in one step.
// +y points down: "up" is −y. Bodies are written in plain floats with always-inline helpers,
// because PoCL vectorises across work-items only when no float3/float4 temporary is left.

// Velocity is read and written through its components; w is left as it is (0).
CD_INLINE float cd_force_limit(float v) { return clamp(v, -50.0f, 50.0f); }

CD_INLINE void cd_force_load(__global const float4* vel, int i, float* vx, float* vy, float* vz) {
    __global const float* v = (__global const float*)(vel + i);
    *vx = v[0];
    *vy = v[1];
    *vz = v[2];
}

CD_INLINE void cd_force_store(__global float4* vel, int i, float vx, float vy, float vz) {
    __global float* v = (__global float*)(vel + i);
    v[0] = cd_force_limit(vx);
    v[1] = cd_force_limit(vy);
    v[2] = cd_force_limit(vz);
}

// Component c (0, 1, 2) of the vector at cell i.
CD_INLINE float cd_force_comp(__global const float4* v, int i, int c) { return ((__global const float*)(v + i))[c]; }

CD_INLINE float cd_force_curl_mag(__global const float4* curl, int i) {
    __global const float* c = (__global const float*)(curl + i);
    return sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
}

// Normalised flame temperature of the aggression controls: 0 at 500 K and below, 1 from 2000 K.
CD_INLINE float cd_force_flame_t(float T) { return clamp((T - 500.0f) / 1500.0f, 0.0f, 1.0f); }

// Lift towards −y in proportion to temperature. A per-step impulse, not scaled by dt: the
// back-trace of advection applies the time step, and dt is kept only for the common signature.
__kernel void cd_buoyancy(__global float4* velocity, __global const float* temperature, int N, float beta, float dt,
                          float aggression) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    (void)dt;
    const int i = cd_idx(x, y, z, N);
    const float T = temperature[i];
    // Empty (cold) cells carry no gas to lift.
    if (T < 1.0f) return;
    float drive = T;
    if (aggression > 0.001f) {
        // Hot cells rise relatively faster; cells below 500 K lose a share `aggression` of their lift.
        drive = T * (1.0f + aggression * (sqrt(cd_force_flame_t(T)) - 1.0f));
    }
    float vx, vy, vz;
    cd_force_load(velocity, i, &vx, &vy, &vz);
    cd_force_store(velocity, i, vx, vy - beta * drive, vz);
}

// Gravity (signed, positive downward) and wind as accelerations, then drag as a keep factor
// (1 keeps everything, 0 stops all motion).
__kernel void cd_apply_forces(__global float4* velocity, int N, float gravity, float windX, float windY, float windZ,
                              float dragFactor, float dt) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const int i = cd_idx(x, y, z, N);
    float vx, vy, vz;
    cd_force_load(velocity, i, &vx, &vy, &vz);
    vy += gravity * dt;
    vx += windX * dt;
    vy += windY * dt;
    vz += windZ * dt;
    cd_force_store(velocity, i, vx * dragFactor, vy * dragFactor, vz * dragFactor);
}

// Vorticity by central differences of neighbours clamped to the grid, as 0.5 × the undivided
// differences (the cell spacing is 1). Boundary cells get one-sided differences at half weight;
// confinement does not move them but reads their curl from its interior neighbours.
__kernel void cd_compute_curl(__global const float4* vel, __global float4* curlOut, int N) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const int xp = min(x + 1, N - 1);
    const int xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1);
    const int ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1);
    const int zm = max(z - 1, 0);

    const int ixp = cd_idx(xp, y, z, N);
    const int ixm = cd_idx(xm, y, z, N);
    const int iyp = cd_idx(x, yp, z, N);
    const int iym = cd_idx(x, ym, z, N);
    const int izp = cd_idx(x, y, zp, N);
    const int izm = cd_idx(x, y, zm, N);
    // Undivided differences: dVdA is the change of component V across axis A.
    const float dzdy = cd_force_comp(vel, iyp, 2) - cd_force_comp(vel, iym, 2);
    const float dydz = cd_force_comp(vel, izp, 1) - cd_force_comp(vel, izm, 1);
    const float dxdz = cd_force_comp(vel, izp, 0) - cd_force_comp(vel, izm, 0);
    const float dzdx = cd_force_comp(vel, ixp, 2) - cd_force_comp(vel, ixm, 2);
    const float dydx = cd_force_comp(vel, ixp, 1) - cd_force_comp(vel, ixm, 1);
    const float dxdy = cd_force_comp(vel, iyp, 0) - cd_force_comp(vel, iym, 0);
    const float wx = 0.5f * (dzdy - dydz);
    const float wy = 0.5f * (dxdz - dzdx);
    const float wz = 0.5f * (dydx - dxdy);

    __global float* w = (__global float*)(curlOut + cd_idx(x, y, z, N));
    w[0] = wx;
    w[1] = wy;
    w[2] = wz;
    w[3] = 0.0f;
}

// Vorticity confinement: pushes velocity around the local curl maxima so that small swirls that
// advection smooths away survive. Interior cells only: the gradient of |ω| needs both neighbours.
__kernel void cd_confine_vorticity(__global float4* vel, __global const float4* curl,
                                   __global const float* temperature, int N, float epsilon, float dt,
                                   float aggression) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    if (x < 1 || y < 1 || z < 1 || x > N - 2 || y > N - 2 || z > N - 2) return;
    const int i = cd_idx(x, y, z, N);

    const float gx =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x + 1, y, z, N)) - cd_force_curl_mag(curl, cd_idx(x - 1, y, z, N)));
    const float gy =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x, y + 1, z, N)) - cd_force_curl_mag(curl, cd_idx(x, y - 1, z, N)));
    const float gz =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x, y, z + 1, N)) - cd_force_curl_mag(curl, cd_idx(x, y, z - 1, N)));
    // The small offset keeps flat regions (zero gradient) at zero force instead of 0/0.
    const float inv = 1.0f / (sqrt(gx * gx + gy * gy + gz * gz) + 1e-5f);
    const float nx = gx * inv;
    const float ny = gy * inv;
    const float nz = gz * inv;

    float wx, wy, wz;
    cd_force_load(curl, i, &wx, &wy, &wz);
    const float fx = ny * wz - nz * wy;
    const float fy = nz * wx - nx * wz;
    const float fz = nx * wy - ny * wx;

    float epsEff = epsilon;
    if (aggression > 0.001f) {
        // Up to three times the swirl in the flame at aggression 1, unchanged in cool smoke.
        epsEff = epsilon * (1.0f + 2.0f * aggression * cd_force_flame_t(temperature[i]));
    }
    const float k = epsEff * dt;
    float vx, vy, vz;
    cd_force_load(vel, i, &vx, &vy, &vz);
    cd_force_store(vel, i, vx + k * fx, vy + k * fy, vz + k * fz);
}

// Divergence-free turbulence: the curl of three noise potentials A, B, C (the same fractal sum
// at three far-apart offsets, drifting in time along different directions, placed by
// cd_curl_potential_point), by central differences of step 1 in noise space. Only the six
// derivatives the curl uses are evaluated, two fractal sums each.
//
// This is the direct form, one cell per work-item, which hashes every lattice corner it reads
// (about 300 sines a cell); the host uses it when the lattice table would be too large.
// cd_curl_noise_lut below reads the corners from the table, a row at a time, and gives the same
// bits: both follow the one order of kernels/noise_lattice.cl and of the lines below.
__kernel void cd_curl_noise(__global float4* vel, int N, float strength, float scale, float time, float dt) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    if (strength < 0.001f) return;

    // Integer cell indices, no half-cell shift: the noise only has to be smooth, not centred.
    const float baseFreq = cd_curl_base_freq(scale);
    const float px = (float)x * baseFreq;
    const float py = (float)y * baseFreq;
    const float pz = (float)z * baseFreq;

    float ax, ay, az, bx, by, bz, cx, cy, cz;
    cd_curl_potential_point(0, px, py, pz, time, &ax, &ay, &az);
    cd_curl_potential_point(1, px, py, pz, time, &bx, &by, &bz);
    cd_curl_potential_point(2, px, py, pz, time, &cx, &cy, &cz);

    const float dAdy = cd_curl_hash_fbmf(ax, ay + 1.0f, az) - cd_curl_hash_fbmf(ax, ay - 1.0f, az);
    const float dAdz = cd_curl_hash_fbmf(ax, ay, az + 1.0f) - cd_curl_hash_fbmf(ax, ay, az - 1.0f);
    const float dBdx = cd_curl_hash_fbmf(bx + 1.0f, by, bz) - cd_curl_hash_fbmf(bx - 1.0f, by, bz);
    const float dBdz = cd_curl_hash_fbmf(bx, by, bz + 1.0f) - cd_curl_hash_fbmf(bx, by, bz - 1.0f);
    const float dCdx = cd_curl_hash_fbmf(cx + 1.0f, cy, cz) - cd_curl_hash_fbmf(cx - 1.0f, cy, cz);
    const float dCdy = cd_curl_hash_fbmf(cx, cy + 1.0f, cz) - cd_curl_hash_fbmf(cx, cy - 1.0f, cz);

    const float k = 0.5f * strength * dt;
    const float ux = (dCdy - dBdz) * k;
    const float uy = (dAdz - dCdx) * k;
    const float uz = (dBdx - dAdy) * k;
    const int i = cd_idx(x, y, z, N);
    float vx, vy, vz;
    cd_force_load(vel, i, &vx, &vy, &vz);
    cd_force_store(vel, i, vx + ux, vy + uy, vz + uz);
}

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl

// The row form's increments of one row: cd_curl_noise's six differences and curl, 16 cells a
// lane each, with the windows that `oneWindow1` and `oneWindow2` choose (cd_lattice_row_fbm).
CD_INLINE void cd_curl_lut_row(__global const float* L, __global const int* O, int side0, int side1, int side2,
                               float16 ax, float ay, float az, float16 bx, float by, float bz, float16 cx, float cy,
                               float cz, float k, bool oneWindow1, bool oneWindow2, float16* ux, float16* uy,
                               float16* uz) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const bool w1 = oneWindow1, w2 = oneWindow2;
    const float16 dAdy = cd_lattice_row_fbm(L, O, 0, side0, side1, side2, ax, ay + 1.0f, az, w1, w2) -
                         cd_lattice_row_fbm(L, O, 0, side0, side1, side2, ax, ay - 1.0f, az, w1, w2);
    const float16 dAdz = cd_lattice_row_fbm(L, O, 0, side0, side1, side2, ax, ay, az + 1.0f, w1, w2) -
                         cd_lattice_row_fbm(L, O, 0, side0, side1, side2, ax, ay, az - 1.0f, w1, w2);
    const float16 dBdx = cd_lattice_row_fbm(L, O, 1, side0, side1, side2, bx + 1.0f, by, bz, w1, w2) -
                         cd_lattice_row_fbm(L, O, 1, side0, side1, side2, bx - 1.0f, by, bz, w1, w2);
    const float16 dBdz = cd_lattice_row_fbm(L, O, 1, side0, side1, side2, bx, by, bz + 1.0f, w1, w2) -
                         cd_lattice_row_fbm(L, O, 1, side0, side1, side2, bx, by, bz - 1.0f, w1, w2);
    const float16 dCdx = cd_lattice_row_fbm(L, O, 2, side0, side1, side2, cx + 1.0f, cy, cz, w1, w2) -
                         cd_lattice_row_fbm(L, O, 2, side0, side1, side2, cx - 1.0f, cy, cz, w1, w2);
    const float16 dCdy = cd_lattice_row_fbm(L, O, 2, side0, side1, side2, cx, cy + 1.0f, cz, w1, w2) -
                         cd_lattice_row_fbm(L, O, 2, side0, side1, side2, cx, cy - 1.0f, cz, w1, w2);
    *ux = (dCdy - dBdz) * k;
    *uy = (dAdz - dCdx) * k;
    *uz = (dBdx - dAdy) * k;
}

// The curl noise with every lattice corner read from the table cd_noise_lattice_fill made for
// this `time` (kernels/noise_lattice.cl), CD_ROW_CHUNK cells of a row per work-item: the host
// launches ceil(N / 16) × N × N items, and the last item of a row stops at the grid's edge. A
// row shares its y and z work (the lattice rows, the blends along y and z) between its cells;
// each cell's arithmetic is cd_curl_noise's, operation for operation, so the bits are the same.
__kernel void cd_curl_noise_lut(__global float4* vel, int N, float strength, float scale, float time, float dt,
                                __global const float* lattice, __global const int* latticeOrigin, int side0,
                                int side1, int side2) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (strength < 0.001f) return;

    // Cells past the edge repeat the last one, which keeps the lanes in order and inside the table.
    const int16 lane = (int16)(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const float baseFreq = cd_curl_base_freq(scale);
    const float16 px = convert_float16(min(x0 + lane, N - 1)) * baseFreq;
    const float py = (float)y * baseFreq;
    const float pz = (float)z * baseFreq;

    const float16 ax = CD_CURL_AXIS(px, 0.0f, 0.7f, time);
    const float16 bx = CD_CURL_AXIS(px, 53.0f, 0.3f, time);
    const float16 cx = CD_CURL_AXIS(px, 97.0f, 0.5f, time);
    float qx, ay, az, by, bz, cy, cz;
    cd_curl_potential_point(0, 0.0f, py, pz, time, &qx, &ay, &az);
    cd_curl_potential_point(1, 0.0f, py, pz, time, &qx, &by, &bz);
    cd_curl_potential_point(2, 0.0f, py, pz, time, &qx, &cy, &cz);

    __global const float* L = lattice;
    __global const int* O = latticeOrigin;
    const float k = 0.5f * strength * dt;
    const int count = min(CD_ROW_CHUNK, N - x0);
    const int i = cd_idx(x0, y, z, N);
    if (!cd_curl_row_fits(baseFreq)) {
        // Too fine a noise for the window: each cell on its own, with the same operations.
        float axs[CD_ROW_CHUNK], bxs[CD_ROW_CHUNK], cxs[CD_ROW_CHUNK];
        vstore16(ax, 0, axs);
        vstore16(bx, 0, bxs);
        vstore16(cx, 0, cxs);
        for (int l = 0; l < count; ++l) {
            const float dAdy = cd_lattice_cell_fbm(L, O, 0, side0, side1, side2, axs[l], ay + 1.0f, az) -
                               cd_lattice_cell_fbm(L, O, 0, side0, side1, side2, axs[l], ay - 1.0f, az);
            const float dAdz = cd_lattice_cell_fbm(L, O, 0, side0, side1, side2, axs[l], ay, az + 1.0f) -
                               cd_lattice_cell_fbm(L, O, 0, side0, side1, side2, axs[l], ay, az - 1.0f);
            const float dBdx = cd_lattice_cell_fbm(L, O, 1, side0, side1, side2, bxs[l] + 1.0f, by, bz) -
                               cd_lattice_cell_fbm(L, O, 1, side0, side1, side2, bxs[l] - 1.0f, by, bz);
            const float dBdz = cd_lattice_cell_fbm(L, O, 1, side0, side1, side2, bxs[l], by, bz + 1.0f) -
                               cd_lattice_cell_fbm(L, O, 1, side0, side1, side2, bxs[l], by, bz - 1.0f);
            const float dCdx = cd_lattice_cell_fbm(L, O, 2, side0, side1, side2, cxs[l] + 1.0f, cy, cz) -
                               cd_lattice_cell_fbm(L, O, 2, side0, side1, side2, cxs[l] - 1.0f, cy, cz);
            const float dCdy = cd_lattice_cell_fbm(L, O, 2, side0, side1, side2, cxs[l], cy + 1.0f, cz) -
                               cd_lattice_cell_fbm(L, O, 2, side0, side1, side2, cxs[l], cy - 1.0f, cz);
            float vx, vy, vz;
            cd_force_load(vel, i + l, &vx, &vy, &vz);
            cd_force_store(vel, i + l, vx + (dCdy - dBdz) * k, vy + (dAdz - dCdx) * k, vz + (dBdx - dAdy) * k);
        }
        return;
    }
    // Each choice of windows is a body of its own, so that no branch sits between the octaves.
    float16 ux, uy, uz;
    if (cd_curl_octave_fits_window(baseFreq, 4.0f)) {
        cd_curl_lut_row(L, O, side0, side1, side2, ax, ay, az, bx, by, bz, cx, cy, cz, k, true, true, &ux, &uy, &uz);
    } else if (cd_curl_octave_fits_window(baseFreq, 2.0f)) {
        cd_curl_lut_row(L, O, side0, side1, side2, ax, ay, az, bx, by, bz, cx, cy, cz, k, true, false, &ux, &uy, &uz);
    } else {
        cd_curl_lut_row(L, O, side0, side1, side2, ax, ay, az, bx, by, bz, cx, cy, cz, k, false, false, &ux, &uy, &uz);
    }
    // A whole chunk four cells at a time, w kept: the increments interleaved by constant shuffles.
    if (count == CD_ROW_CHUNK) {
        __global float* v = (__global float*)(vel + i);
        const float16 xy0 = __builtin_shufflevector(ux, uy, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const float16 xy1 =
            __builtin_shufflevector(ux, uy, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const float16 inc[4] = {
            __builtin_shufflevector(xy0, uz, 0, 1, 16, 16, 2, 3, 17, 17, 4, 5, 18, 18, 6, 7, 19, 19),
            __builtin_shufflevector(xy0, uz, 8, 9, 20, 20, 10, 11, 21, 21, 12, 13, 22, 22, 14, 15, 23, 23),
            __builtin_shufflevector(xy1, uz, 0, 1, 24, 24, 2, 3, 25, 25, 4, 5, 26, 26, 6, 7, 27, 27),
            __builtin_shufflevector(xy1, uz, 8, 9, 28, 28, 10, 11, 29, 29, 12, 13, 30, 30, 14, 15, 31, 31)};
        for (int q = 0; q < 4; ++q) {
            const float16 old = vload16(q, v);
            const float16 moved = clamp(old + inc[q], -50.0f, 50.0f);  // cd_force_limit per lane
            vstore16(__builtin_shufflevector(moved, old, 0, 1, 2, 19, 4, 5, 6, 23, 8, 9, 10, 27, 12, 13, 14, 31), q, v);
        }
        return;
    }
    float uxs[CD_ROW_CHUNK], uys[CD_ROW_CHUNK], uzs[CD_ROW_CHUNK];
    vstore16(ux, 0, uxs);
    vstore16(uy, 0, uys);
    vstore16(uz, 0, uzs);
    for (int l = 0; l < count; ++l) {
        float vx, vy, vz;
        cd_force_load(vel, i + l, &vx, &vy, &vz);
        cd_force_store(vel, i + l, vx + uxs[l], vy + uys[l], vz + uzs[l]);
    }
}

#pragma clang diagnostic pop

// Shredding: stretches the velocity along the temperature gradient on the cold side of the pivot
// tThr and squashes it on the hot side, which tears a flame front into licks. The response to the
// gradient saturates so that a sharp front does not tear without bound.
__kernel void cd_shred(__global float4* vel, __global const float* temperature, int N, float strength, float dt,
                       float tThr, float tWidth) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    if (strength < 0.001f) return;
    // The outer shell is skipped so that the gradient below needs no clamped neighbours.
    if (x < 1 || y < 1 || z < 1 || x > N - 2 || y > N - 2 || z > N - 2) return;
    const int i = cd_idx(x, y, z, N);
    const float T = temperature[i];
    if (T < 1.0f) return;

    const float gx = 0.5f * (temperature[cd_idx(x + 1, y, z, N)] - temperature[cd_idx(x - 1, y, z, N)]);
    const float gy = 0.5f * (temperature[cd_idx(x, y + 1, z, N)] - temperature[cd_idx(x, y - 1, z, N)]);
    const float gz = 0.5f * (temperature[cd_idx(x, y, z + 1, N)] - temperature[cd_idx(x, y, z - 1, N)]);
    const float gmag = sqrt(gx * gx + gy * gy + gz * gz);
    // Below 1 K per cell there is no front, and the direction would be noise.
    if (gmag < 1.0f) return;
    const float dirx = gx / gmag;
    const float diry = gy / gmag;
    const float dirz = gz / gmag;

    const float s = clamp((T - tThr) / fmax(tWidth, 1.0f), -1.0f, 1.0f);
    const float rate = -s;
    const float gResp = gmag / (gmag + 400.0f);

    float vx, vy, vz;
    cd_force_load(vel, i, &vx, &vy, &vz);
    const float vPar = vx * dirx + vy * diry + vz * dirz;
    // A squash of more than 0.45 would reverse the flow; a stretch beyond 0.9 would nearly double it.
    const float k = clamp(strength * rate * gResp * dt, -0.45f, 0.9f);
    const float a = vPar * k;
    cd_force_store(vel, i, vx + dirx * a, vy + diry * a, vz + dirz * a);
}
