// Velocity forces applied before a step's main projection: buoyancy, environmental forces,
// vorticity (curl and confinement), curl-noise turbulence and shredding.
//
// Every kernel runs over N × N × N work items, or takes CD_ROW_CHUNK cells of a row per item where
// it says so, returns first for ids outside the grid, writes only its own cells of `velocity`
// (x, y, z; w stays 0) and clamps each component it writes to ±50 cells per second, so that no
// single force can launch gas across the grid in one step. +y points down: "up" is −y. Per-cell
// bodies are written in plain floats with always-inline helpers, because PoCL vectorises across
// work-items only when no float3/float4 temporary is left.

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

// Normalised flame temperature of the aggression controls: 0 at 500 K and below, 1 from 2000 K.
CD_INLINE float cd_force_flame_t(float T) { return clamp((T - 500.0f) / 1500.0f, 0.0f, 1.0f); }

// Lift towards −y in proportion to temperature. A per-step impulse, not scaled by dt: the
// back-trace of advection applies the time step, and dt is kept only for the common signature.
CD_INLINE void cd_buoyancy_cell(__global float4* velocity, __global const float* temperature, int i, float beta,
                                 float aggression) {
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

// Sixteen cells of a row per work-item (run3dRowChunks): a chunk of cold cells, most of the grid,
// is passed over with one vector test; the others lift cell by cell.
__kernel void cd_buoyancy(__global float4* velocity, __global const float* temperature, int N, float beta, float dt,
                          float aggression) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    (void)dt;
    const int i = cd_idx(x0, y, z, N);
    const int count = min(CD_ROW_CHUNK, N - x0);
    if (count == CD_ROW_CHUNK && all(vload16(0, temperature + i) < 1.0f)) return;
    for (int k = 0; k < count; ++k) cd_buoyancy_cell(velocity, temperature, i + k, beta, aggression);
}

// Gravity (signed, positive downward) and wind as accelerations, then drag as a keep factor
// (1 keeps everything, 0 stops all motion). Each acceleration is fused into its component, gravity
// before the vertical wind, as the relaxed math compiled the plain sums when each cell was its own
// work-item; the order is written out so that the row form below gives the same bits.
CD_INLINE void cd_apply_forces_cell(__global float4* velocity, int i, float gravity, float windX, float windY,
                                    float windZ, float dragFactor, float dt) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    float vx, vy, vz;
    cd_force_load(velocity, i, &vx, &vy, &vz);
    cd_force_store(velocity, i, fma(windX, dt, vx) * dragFactor, fma(windY, dt, fma(gravity, dt, vy)) * dragFactor,
                   fma(windZ, dt, vz) * dragFactor);
}

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl

CD_INLINE float16 cd_force_limit_row(float16 v) { return clamp(v, -50.0f, 50.0f); }

// CD_ROW_CHUNK cells of a row per work-item, four cells per 16-float vector as they lie in memory:
// x, y and z take their first acceleration together, y its second, and w is stored back as read.
// A row's last, partial chunk runs cell by cell.
__kernel void cd_apply_forces(__global float4* velocity, int N, float gravity, float windX, float windY, float windZ,
                              float dragFactor, float dt) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    const int i = cd_idx(x0, y, z, N);
    if (x0 + CD_ROW_CHUNK > N) {
        for (int l = 0; l < N - x0; ++l)
            cd_apply_forces_cell(velocity, i + l, gravity, windX, windY, windZ, dragFactor, dt);
        return;
    }
    const float4 first = (float4)(windX, gravity, windZ, 0.0f);
    const int4 onlyY = (int4)(0, -1, 0, 0), onlyW = (int4)(0, 0, 0, -1);
    const float16 a1 = (float16)(first, first, first, first);
    const int16 isY = (int16)(onlyY, onlyY, onlyY, onlyY), isW = (int16)(onlyW, onlyW, onlyW, onlyW);
    __global float* v = (__global float*)(velocity + i);
    for (int k = 0; k < 4; ++k) {
        const float16 v0 = vload16(k, v);
        const float16 v1 = fma(a1, (float16)(dt), v0);
        const float16 v2 = select(v1, fma((float16)(windY), (float16)(dt), v1), isY);
        vstore16(select(cd_force_limit_row(v2 * dragFactor), v0, isW), k, v);
    }
}

#pragma clang diagnostic pop

// Vorticity by central differences of neighbours clamped to the grid, as 0.5 × the undivided
// differences (the cell spacing is 1). Boundary cells get one-sided differences at half weight;
// confinement does not move them but reads their curl from its interior neighbours.
//
// Both vorticity kernels take CD_ROW_CHUNK cells of a row per work-item (the host launches
// ceil(N / 16) items a row; a shape with more items is also correct, the extra ones return): each
// neighbour row is one run of sixteen float4 loaded as four 16-float vectors and split into its
// components by shuffles, where per-cell loads of single components became gathers. The x
// neighbours are the row shifted by one lane. Each lane does the per-cell helper's arithmetic in
// its written order, and a row's last, partial chunk runs cell by cell through that helper, so
// every shape gives the per-cell bits.

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl

// Helpers written once for a cell (float) and once for a chunk's sixteen lanes (float16, names
// ending in _row) from the same body. Each is pinned to the operations the relaxed math compiled
// from the plain expression when each cell was its own work-item:
// - the confinement's sums of three squares: the first and last products fused;
// - 1 / d divided exactly (under the relaxed math LLVM turns a vector division into a reciprocal
//   estimate with one refinement step, vrcpps, but divides scalars exactly);
// - the flame ramp: the division by 1500 a product, with the shift distributed over it, unfused;
// - one component of the curl, 0.5 × ((a⁺ − a⁻) − (b⁺ − b⁻)) for the undivided differences of two
//   other components across two other axes, grouped as compiled.
#define CD_FORCE_LANE_HELPERS(T, sfx)                                                             \
    CD_INLINE T cd_force_sq3##sfx(T a, T b, T c) {                                                \
        _Pragma("clang fp reassociate(off)") _Pragma("clang fp contract(off)")                    \
        return fma(c, c, fma(a, a, b * b));                                                       \
    }                                                                                             \
    CD_INLINE T cd_force_recip##sfx(T d) {                                                        \
        _Pragma("float_control(precise, on)") _Pragma("clang fp contract(off)")                   \
        return 1.0f / d;                                                                          \
    }                                                                                             \
    CD_INLINE T cd_confine_flame_t##sfx(T t) {                                                    \
        _Pragma("clang fp reassociate(off)") _Pragma("clang fp contract(off)")                    \
        return clamp(t * (1.0f / 1500.0f) + (1.0f / 1500.0f) * -500.0f, 0.0f, 1.0f);              \
    }                                                                                             \
    CD_INLINE T cd_curl_comp##sfx(T ap, T am, T bp, T bm) {                                       \
        _Pragma("clang fp reassociate(off)") _Pragma("clang fp contract(off)")                    \
        return 0.5f * ((ap - (am + bp)) + bm);                                                    \
    }
CD_FORCE_LANE_HELPERS(float, )
CD_FORCE_LANE_HELPERS(float16, _row)
#undef CD_FORCE_LANE_HELPERS

CD_INLINE float cd_force_curl_mag(__global const float4* curl, int i) {
    __global const float* c = (__global const float*)(curl + i);
    return sqrt(cd_force_sq3(c[0], c[1], c[2]));
}

CD_INLINE void cd_curl_cell(__global const float4* vel, __global float4* curlOut, int x, int y, int z, int N) {
    const int ixp = cd_idx(min(x + 1, N - 1), y, z, N);
    const int ixm = cd_idx(max(x - 1, 0), y, z, N);
    const int iyp = cd_idx(x, min(y + 1, N - 1), z, N);
    const int iym = cd_idx(x, max(y - 1, 0), z, N);
    const int izp = cd_idx(x, y, min(z + 1, N - 1), N);
    const int izm = cd_idx(x, y, max(z - 1, 0), N);
    __global float* w = (__global float*)(curlOut + cd_idx(x, y, z, N));
    // ωx = ∂vz/∂y − ∂vy/∂z, ωy = ∂vx/∂z − ∂vz/∂x, ωz = ∂vy/∂x − ∂vx/∂y.
    w[0] = cd_curl_comp(cd_force_comp(vel, iyp, 2), cd_force_comp(vel, iym, 2), cd_force_comp(vel, izp, 1),
                        cd_force_comp(vel, izm, 1));
    w[1] = cd_curl_comp(cd_force_comp(vel, izp, 0), cd_force_comp(vel, izm, 0), cd_force_comp(vel, ixp, 2),
                        cd_force_comp(vel, ixm, 2));
    w[2] = cd_curl_comp(cd_force_comp(vel, ixp, 1), cd_force_comp(vel, ixm, 1), cd_force_comp(vel, iyp, 0),
                        cd_force_comp(vel, iym, 0));
    w[3] = 0.0f;
}

__kernel void cd_compute_curl(__global const float4* vel, __global float4* curlOut, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) cd_curl_cell(vel, curlOut, x, y, z, N);
        return;
    }
    const int i = cd_idx(x0, y, z, N);
    const int il = cd_idx(max(x0 - 1, 0), y, z, N), ir = cd_idx(min(x0 + CD_ROW_CHUNK, N - 1), y, z, N);
    float16 cx, cy, cz, cw, ypx, ypy, ypz, ypw, ymx, ymy, ymz, ymw, zpx, zpy, zpz, zpw, zmx, zmy, zmz, zmw;
    cd_row_components(vel, i, &cx, &cy, &cz, &cw);
    cd_row_components(vel, cd_idx(x0, min(y + 1, N - 1), z, N), &ypx, &ypy, &ypz, &ypw);
    cd_row_components(vel, cd_idx(x0, max(y - 1, 0), z, N), &ymx, &ymy, &ymz, &ymw);
    cd_row_components(vel, cd_idx(x0, y, min(z + 1, N - 1), N), &zpx, &zpy, &zpz, &zpw);
    cd_row_components(vel, cd_idx(x0, y, max(z - 1, 0), N), &zmx, &zmy, &zmz, &zmw);
    const float16 xpz = cd_row_next(cz, cd_force_comp(vel, ir, 2));
    const float16 xmz = cd_row_prev(cz, cd_force_comp(vel, il, 2));
    const float16 xpy = cd_row_next(cy, cd_force_comp(vel, ir, 1));
    const float16 xmy = cd_row_prev(cy, cd_force_comp(vel, il, 1));
    cd_row_store_components(curlOut, i, cd_curl_comp_row(ypz, ymz, zpy, zmy), cd_curl_comp_row(zpx, zmx, xpz, xmz),
                            cd_curl_comp_row(xpy, xmy, ypx, ymx), (float16)(0.0f));
}

// Vorticity confinement: pushes velocity around the local curl maxima so that small swirls that
// advection smooths away survive. Interior cells only: the gradient of |ω| needs both neighbours.
CD_INLINE void cd_confine_cell(__global float4* vel, __global const float4* curl, __global const float* temperature,
                               int x, int y, int z, int N, float epsilon, float dt, float aggression) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int i = cd_idx(x, y, z, N);
    const float gx =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x + 1, y, z, N)) - cd_force_curl_mag(curl, cd_idx(x - 1, y, z, N)));
    const float gy =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x, y + 1, z, N)) - cd_force_curl_mag(curl, cd_idx(x, y - 1, z, N)));
    const float gz =
        0.5f * (cd_force_curl_mag(curl, cd_idx(x, y, z + 1, N)) - cd_force_curl_mag(curl, cd_idx(x, y, z - 1, N)));
    // The small offset keeps flat regions (zero gradient) at zero force instead of 0/0.
    const float inv = cd_force_recip(sqrt(cd_force_sq3(gx, gy, gz)) + 1e-5f);
    const float nx = gx * inv;
    const float ny = gy * inv;
    const float nz = gz * inv;

    float wx, wy, wz;
    cd_force_load(curl, i, &wx, &wy, &wz);
    const float fx = fma(ny, wz, -(nz * wy));
    const float fy = fma(nz, wx, -(nx * wz));
    const float fz = fma(nx, wy, -(ny * wx));

    float epsEff = epsilon;
    if (aggression > 0.001f) {
        // Up to three times the swirl in the flame at aggression 1, unchanged in cool smoke.
        epsEff = epsilon * fma(2.0f * aggression, cd_confine_flame_t(temperature[i]), 1.0f);
    }
    const float k = epsEff * dt;
    float vx, vy, vz;
    cd_force_load(vel, i, &vx, &vy, &vz);
    cd_force_store(vel, i, fma(k, fx, vx), fma(k, fy, vy), fma(k, fz, vz));
}

__kernel void cd_confine_vorticity(__global float4* vel, __global const float4* curl,
                                   __global const float* temperature, int N, float epsilon, float dt,
                                   float aggression) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;
    if (y < 1 || z < 1 || y > N - 2 || z > N - 2) return;
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = max(x0, 1); x < N - 1; ++x)
            cd_confine_cell(vel, curl, temperature, x, y, z, N, epsilon, dt, aggression);
        return;
    }
    const int i = cd_idx(x0, y, z, N);
    float16 wx, wy, wz, ww, ax, ay, az, aw, bx, by, bz, bw;
    cd_row_components(curl, i, &wx, &wy, &wz, &ww);
    // The lanes of the row's first and last cells read their clamped selves here; they are shell
    // cells, which keep their velocity below.
    const float mLeft = cd_force_curl_mag(curl, cd_idx(max(x0 - 1, 0), y, z, N));
    const float mRight = cd_force_curl_mag(curl, cd_idx(min(x0 + CD_ROW_CHUNK, N - 1), y, z, N));
    const float16 m = sqrt(cd_force_sq3_row(wx, wy, wz));
    const float16 gx = 0.5f * (cd_row_next(m, mRight) - cd_row_prev(m, mLeft));
    cd_row_components(curl, cd_idx(x0, y + 1, z, N), &ax, &ay, &az, &aw);
    cd_row_components(curl, cd_idx(x0, y - 1, z, N), &bx, &by, &bz, &bw);
    const float16 gy = 0.5f * (sqrt(cd_force_sq3_row(ax, ay, az)) - sqrt(cd_force_sq3_row(bx, by, bz)));
    cd_row_components(curl, cd_idx(x0, y, z + 1, N), &ax, &ay, &az, &aw);
    cd_row_components(curl, cd_idx(x0, y, z - 1, N), &bx, &by, &bz, &bw);
    const float16 gz = 0.5f * (sqrt(cd_force_sq3_row(ax, ay, az)) - sqrt(cd_force_sq3_row(bx, by, bz)));
    const float16 inv = cd_force_recip_row(sqrt(cd_force_sq3_row(gx, gy, gz)) + 1e-5f);
    const float16 nx = gx * inv;
    const float16 ny = gy * inv;
    const float16 nz = gz * inv;
    const float16 fx = fma(ny, wz, -(nz * wy));
    const float16 fy = fma(nz, wx, -(nx * wz));
    const float16 fz = fma(nx, wy, -(ny * wx));

    float16 epsEff = (float16)(epsilon);
    if (aggression > 0.001f) {
        const float16 t = cd_confine_flame_t_row(vload16(0, temperature + i));
        epsEff = epsilon * fma((float16)(2.0f * aggression), t, 1.0f);
    }
    const float16 k = epsEff * dt;
    float16 vx, vy, vz, vw;
    cd_row_components(vel, i, &vx, &vy, &vz, &vw);
    const int16 x = x0 + (int16)(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const int16 inside = x >= 1 && x <= N - 2;
    vx = select(vx, cd_force_limit_row(fma(k, fx, vx)), inside);
    vy = select(vy, cd_force_limit_row(fma(k, fy, vy)), inside);
    vz = select(vz, cd_force_limit_row(fma(k, fz, vz)), inside);
    cd_row_store_components(vel, i, vx, vy, vz, vw);
}

#pragma clang diagnostic pop

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
        const float16 xy0 = CD_SHUFFLE16(ux, uy, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const float16 xy1 =
            CD_SHUFFLE16(ux, uy, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const float16 inc[4] = {
            CD_SHUFFLE16(xy0, uz, 0, 1, 16, 16, 2, 3, 17, 17, 4, 5, 18, 18, 6, 7, 19, 19),
            CD_SHUFFLE16(xy0, uz, 8, 9, 20, 20, 10, 11, 21, 21, 12, 13, 22, 22, 14, 15, 23, 23),
            CD_SHUFFLE16(xy1, uz, 0, 1, 24, 24, 2, 3, 25, 25, 4, 5, 26, 26, 6, 7, 27, 27),
            CD_SHUFFLE16(xy1, uz, 8, 9, 28, 28, 10, 11, 29, 29, 12, 13, 30, 30, 14, 15, 31, 31)};
        for (int q = 0; q < 4; ++q) {
            const float16 old = vload16(q, v);
            const float16 moved = clamp(old + inc[q], -50.0f, 50.0f);  // cd_force_limit per lane
            vstore16(CD_SHUFFLE16(moved, old, 0, 1, 2, 19, 4, 5, 6, 23, 8, 9, 10, 27, 12, 13, 14, 31), q, v);
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
