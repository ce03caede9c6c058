// Volume source, ember spawning, combustion and decay: the kernels that put heat and fuel into
// the grid, turn fuel into heat and smoke, and let fields fade. Each runs over N × N × N work items,
// one per cell, or takes CD_ROW_CHUNK cells of a row per item where it says so, works in place on
// its own cells only, and returns at once for an id outside the grid, so any global size is safe. Limits kept by every kernel that adds: temperature at most
// 10000 K, density and fuel at most 100. Smoke is never injected directly; it only comes from
// burning fuel.
//
// Plain floats throughout so that PoCL can vectorise across work items.

#define CD_SOURCE_MAX_TEMPERATURE 10000.0f
#define CD_SOURCE_MAX_AMOUNT 100.0f

// 1 / size for an axis scale, with sizes at or below 0.01 counting as 1 so that a degenerate
// slider value cannot blow the ellipsoid up to infinity.
CD_INLINE float cd_inv_axis_size(float size) { return size > 0.01f ? 1.0f / size : 1.0f; }

// An ellipsoid of semi-axes radius × size per axis with a smoothstep profile: 1 at the centre and 0
// with zero slope at the rim, so the injected heat has no visible edge. The three cone arguments are
// part of the contract but always 0: this source never pushes velocity.
__kernel void cd_add_volume_source(__global float* density, __global float* temperature, __global float* fuel,
                                   __global float4* velocity, int N, float sx, float sy, float sz, float radius,
                                   float temperatureK, float fuelInject, float dt, float sizeX, float sizeY,
                                   float sizeZ, float freeDir, float freeSpread, float freeVelocity) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const float dx = ((float)x + 0.5f - sx) * cd_inv_axis_size(sizeX);
    const float dy = ((float)y + 0.5f - sy) * cd_inv_axis_size(sizeY);
    const float dz = ((float)z + 0.5f - sz) * cd_inv_axis_size(sizeZ);
    const float dist = sqrt(dx * dx + dy * dy + dz * dz);
    // Also the guard for a radius of 0 or below: dist is never negative, so no division below.
    if (dist >= radius) return;

    const float t = dist / radius;
    const float profile = 1.0f - t * t * (3.0f - 2.0f * t);
    const int i = cd_idx(x, y, z, N);
    temperature[i] = fmin(temperature[i] + temperatureK * profile * dt, CD_SOURCE_MAX_TEMPERATURE);
    fuel[i] = fmin(fuel[i] + fuelInject * profile * dt, CD_SOURCE_MAX_AMOUNT);
    density[i] = fmin(density[i], CD_SOURCE_MAX_AMOUNT);
}

// A random share of hot cells gains embers each step. The hash position moves with frameTime so
// that consecutive steps pick different cells. spawnRate × dt is a probability per cell; at 1 or
// more every hot cell spawns. Embers have no upper limit.
__kernel void cd_emit_ember(__global const float* temperature, __global float* ember, int N, float emberTemp,
                            float spawnRate, float frameTime, float dt) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;

    const int i = cd_idx(x, y, z, N);
    const float T = temperature[i];
    if (T < emberTemp) return;

    const float r = cd_hash3f((float)x + 13.7f * frameTime, (float)y + 7.3f * frameTime, (float)z + 5.1f * frameTime);
    if (r >= spawnRate * dt) return;
    // A threshold of 0 (or below) would divide by zero: such a threshold makes every cell "far above"
    // it, so it gets the largest intensity.
    const float intensity = emberTemp > 0.0f ? clamp((T - emberTemp) / emberTemp, 0.0f, 2.0f) : 2.0f;
    ember[i] += 0.5f + 0.5f * intensity;
}

// Fuel burns into heat and smoke above the ignition temperature. The ±50 K smoothstep band avoids a
// hard on/off front that would flicker cell by cell. The burn is clamped to [0, fuel] so that
// combustion can neither create fuel nor drive it negative, whatever the rate and dt.
CD_INLINE void cd_combust_cell(__global float* fuel, __global float* temperature, __global float* density, int i,
                                float ignitionTemp, float burnRate, float heatPerBurn, float smokePerBurn, float dt) {
    const float F = fuel[i];
    if (F < 0.001f) return;
    const float T = temperature[i];
    const float gate = smoothstep(ignitionTemp - 50.0f, ignitionTemp + 50.0f, T);
    if (gate < 0.001f) return;

    const float burn = clamp(burnRate * dt * F * gate, 0.0f, F);
    fuel[i] = F - burn;
    temperature[i] = fmin(T + burn * heatPerBurn, CD_SOURCE_MAX_TEMPERATURE);
    density[i] = fmin(density[i] + burn * smokePerBurn, CD_SOURCE_MAX_AMOUNT);
}

// Sixteen cells of a row per work-item (run3dRowChunks): most of the grid holds no fuel, and a
// chunk without any is passed over with one vector test, where one work-item per cell cost the
// launch most of its time. Chunks with fuel burn cell by cell.
__kernel void cd_combust(__global float* fuel, __global float* temperature, __global float* density, int N,
                         float ignitionTemp, float burnRate, float heatPerBurn, float smokePerBurn, float dt) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;

    const int i = cd_idx(x0, y, z, N);
    const int count = min(CD_ROW_CHUNK, N - x0);
    if (count == CD_ROW_CHUNK && all(vload16(0, fuel + i) < 0.001f)) return;
    for (int k = 0; k < count; ++k)
        cd_combust_cell(fuel, temperature, density, i + k, ignitionTemp, burnRate, heatPerBurn, smokePerBurn, dt);
}

// Exponential decay by the exact solution of dv/dt = −rate·v over one step, which cannot overshoot
// below zero however large rate × dt gets (an Euler step would). With aggression, hot cells cool
// faster; the boost is quadratic in v / 2000 so that small aggression values already show.
// The boost is pinned to the operations the relaxed math compiled the plain expression
// `rate *= 1 + aggression * 2.5 * Tn * Tn` (Tn = v / 2000) to, so that the row form and a row's
// last cells give the same bits.
#define CD_COOL_ARG(T, name)                                                              \
    CD_INLINE T name(T v, float coolRate, float dt, float aggression) {                   \
        _Pragma("clang fp reassociate(off)") _Pragma("clang fp contract(off)")            \
        const T Tn = clamp(v * 0.0005f, 0.0f, 1.0f);                                      \
        return fma((aggression * 2.5f) * Tn, Tn, 1.0f) * (-coolRate * dt);                \
    }
CD_COOL_ARG(float, cd_cool_arg)
CD_COOL_ARG(float16, cd_cool_arg_row)
#undef CD_COOL_ARG

// A negative input ends at 0: amounts and temperatures below zero have no meaning downstream.
CD_INLINE float cd_cool_cell(float v, float coolRate, float dt, float aggression) {
    return fmax(v * exp(aggression > 0.001f ? cd_cool_arg(v, coolRate, dt, aggression) : -coolRate * dt), 0.0f);
}

// Sixteen cells of a row per work-item (CD_ROW_CHUNK, launched by run3dRowChunks). Without the
// aggression boost every cell decays by the same factor, computed once for the chunk instead of an
// exp per cell; with it, each lane takes the scalar exp, which is what the per-cell kernel called
// (PoCL's 8- and 16-wide exp round differently). A row's last, partial chunk runs cell by cell.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl
__kernel void cd_cool(__global float* field, int N, float coolRate, float dt, float aggression) {
    const int x0 = get_global_id(0) * CD_ROW_CHUNK;
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x0 >= N || y >= N || z >= N) return;

    __global float* row = field + cd_idx(0, y, z, N);
    if (x0 + CD_ROW_CHUNK > N) {
        for (int x = x0; x < N; ++x) row[x] = cd_cool_cell(row[x], coolRate, dt, aggression);
        return;
    }
    const float16 v = vload16(0, row + x0);
    const float16 arg = cd_cool_arg_row(v, coolRate, dt, aggression);
    const float16 factor =
        aggression > 0.001f
            ? (float16)(exp(arg.s0), exp(arg.s1), exp(arg.s2), exp(arg.s3), exp(arg.s4), exp(arg.s5), exp(arg.s6),
                        exp(arg.s7), exp(arg.s8), exp(arg.s9), exp(arg.sa), exp(arg.sb), exp(arg.sc), exp(arg.sd),
                        exp(arg.se), exp(arg.sf))
            : (float16)(exp(-coolRate * dt));
    vstore16(fmax(v * factor, 0.0f), 0, row + x0);
}
#pragma clang diagnostic pop
