// Sampling and noise helpers shared by every kernel of the library: the cell index, the sin-based
// hash and the value noise built on it, five fractal sums, the analytic-gradient noise, the
// blackbody colour and the five field samplers. Later files of the joined library rely on these
// names and on their results staying the same, bit for bit, whichever form a caller uses.
//
// Every helper exists in two forms. The plain-float form (cd_hash3f, cd_smooth_noisef,
// cd_sample_f_xyz, ..., results through private pointers where there are several) holds the
// arithmetic; the float3/float4 form of the interface is a thin wrapper over it. PoCL vectorises
// a kernel across work-items only when the body has no float3/float4 temporaries and every helper
// is inlined, so hot kernels call the plain form; both forms run the same operations in the same
// order and so agree exactly.
//
// Positions are in grid units with cell centres at integer + 0.5; fields are cubic N x N x N with
// index z*N*N + y*N + x. The library is built with -cl-fast-relaxed-math, so sin, pow and log are
// the device's fast variants and the hash may differ between devices in its last bits.
//
// The relaxed math also lets the compiler regroup sums and fuse products into them as it likes,
// and it likes differently in each kernel a helper is inlined into, for each group shape, and for
// each CPU. PoCL's AVX2 build, left free, regrouped the hash's own product and fraction with the
// gradient noise's corner sums in some kernels and not in others: the same lattice point then
// hashed 2 ulp of sin(h) * 43758.5453 (1/256) apart, and the noise jumped at lattice faces. So
// every noise helper below holds its written order: `#pragma clang fp reassociate(off)` and
// `contract(off)`, with an explicit fma wherever a product is meant to be fused into a sum.
// Compilers that do not know the pragmas ignore them.

// OpenCL C follows C99 here: a plain `inline` definition emits no out-of-line body, so a compiler
// that declines to inline (an optimisation-disabled build) would fail to link. `static`, allowed
// since OpenCL C 1.2, keeps a body available; always_inline is what PoCL needs to vectorise
// (its inliner skips helpers called three or more times).
#define CD_INLINE static inline __attribute__((always_inline))

CD_INLINE int cd_idx(int x, int y, int z, int N) { return z * N * N + y * N + x; }

// Cells of a row that one work-item of a row-chunk kernel computes (the curl noise, the projection
// stencils, advection); KernelLaunch::kRowChunkCells launches them.
#define CD_ROW_CHUNK 16

// A constant shuffle of two 16-lane vectors (lanes 0-15 from a, 16-31 from b): the compiler's own
// builtin where it has one, which PoCL turns into a few permutes, OpenCL's shuffle2 elsewhere.
#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
#define CD_SHUFFLE16(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#endif
#endif
#ifndef CD_SHUFFLE16
#define CD_SHUFFLE16(a, b, ...) shuffle2(a, b, (uint16)(__VA_ARGS__))
#endif

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpsabi"  // 16-wide vectors, as in kernels/noise_lattice.cl
// A row's next and previous cells for the sixteen lanes of a row chunk: the chunk shifted by one,
// the cell beyond its end (or before its start) shifted in. A shuffle moves bits exactly.
CD_INLINE float16 cd_row_next(float16 v, float after) {
    return (float16)(v.s1, v.s2, v.s3, v.s4, v.s5, v.s6, v.s7, v.s8, v.s9, v.sa, v.sb, v.sc, v.sd, v.se, v.sf, after);
}
CD_INLINE float16 cd_row_prev(float16 v, float before) {
    return (float16)(before, v.s0, v.s1, v.s2, v.s3, v.s4, v.s5, v.s6, v.s7, v.s8, v.s9, v.sa, v.sb, v.sc, v.sd, v.se);
}

// Sixteen consecutive float4 vectors from cell i as one vector per component: four whole loads and
// shuffles, where per-lane component reads are strided gathers on a CPU. The store interleaves
// them back the same way.
CD_INLINE void cd_row_components(__global const float4* v, int i, float16* c0, float16* c1, float16* c2,
                                 float16* c3) {
    __global const float* f = (__global const float*)(v + i);
    const float16 a = vload16(0, f), b = vload16(1, f), c = vload16(2, f), d = vload16(3, f);
    *c0 = (float16)(a.s048c, b.s048c, c.s048c, d.s048c);
    *c1 = (float16)(a.s159d, b.s159d, c.s159d, d.s159d);
    *c2 = (float16)(a.s26ae, b.s26ae, c.s26ae, d.s26ae);
    *c3 = (float16)(a.s37bf, b.s37bf, c.s37bf, d.s37bf);
}

#define CD_ROW_CELL(k) c0.s##k, c1.s##k, c2.s##k, c3.s##k
CD_INLINE void cd_row_store_components(__global float4* v, int i, float16 c0, float16 c1, float16 c2, float16 c3) {
    __global float* out = (__global float*)(v + i);
    vstore16((float16)(CD_ROW_CELL(0), CD_ROW_CELL(1), CD_ROW_CELL(2), CD_ROW_CELL(3)), 0, out);
    vstore16((float16)(CD_ROW_CELL(4), CD_ROW_CELL(5), CD_ROW_CELL(6), CD_ROW_CELL(7)), 1, out);
    vstore16((float16)(CD_ROW_CELL(8), CD_ROW_CELL(9), CD_ROW_CELL(a), CD_ROW_CELL(b)), 2, out);
    vstore16((float16)(CD_ROW_CELL(c), CD_ROW_CELL(d), CD_ROW_CELL(e), CD_ROW_CELL(f)), 3, out);
}
#undef CD_ROW_CELL

// One component of the sixteen vectors; the compiler drops the shuffles of the others.
#define CD_ROW_COMPONENT(name, k)                                    \
    CD_INLINE float16 name(__global const float4* v, int i) {        \
        float16 c[4];                                                \
        cd_row_components(v, i, &c[0], &c[1], &c[2], &c[3]);         \
        return c[k];                                                 \
    }
CD_ROW_COMPONENT(cd_row_vx, 0)
CD_ROW_COMPONENT(cd_row_vy, 1)
CD_ROW_COMPONENT(cd_row_vz, 2)
#undef CD_ROW_COMPONENT
#pragma clang diagnostic pop

// ---------------------------------------------------------------------------------------------
// Hash and value noise

// One float ulp of h moves sin(h) * 43758.5453 by more than 1 once |h| exceeds a few hundred, so
// a lattice point must reach the same h in every context, or value noise jumps at cell faces.
// Under -cl-fast-relaxed-math a compiler may regroup a plain a*x + b*y + c*z per call site (PoCL
// turned 311.7 * (iy + 1) into 311.7 * iy + 311.7), so the sum is written with explicit fma,
// which optimisers leave alone; it is also what contraction produced here without it.
CD_INLINE float cd_hash3f(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float h = fma(74.7f, z, fma(127.1f, x, 311.7f * y));
    const float s = sin(h) * 43758.5453f;
    return s - floor(s);
}

CD_INLINE float cd_hash3(float3 p) { return cd_hash3f(p.x, p.y, p.z); }

// The two lattice coordinates of a cell per axis, from its floored corner. They go through int so
// that the far corner is a plain number and not "corner + 1", which the compiler could fold into
// the hash's products differently here than where the same point is a near corner: either way
// the hash of a lattice point must not depend on the cell that asks.
CD_INLINE void cd_lattice_corners(float ix, float iy, float iz, float* x0, float* y0, float* z0, float* x1, float* y1,
                                  float* z1) {
    const int jx = (int)ix;
    const int jy = (int)iy;
    const int jz = (int)iz;
    *x0 = (float)jx;
    *y0 = (float)jy;
    *z0 = (float)jz;
    *x1 = (float)(jx + 1);
    *y1 = (float)(jy + 1);
    *z1 = (float)(jz + 1);
}

// The smoothstep fade f^2 (3 - 2f), with 3 - 2f fused. The curl noise's row form repeats it per lane.
CD_INLINE float cd_fade3(float f) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return f * f * fma(-2.0f, f, 3.0f);
}

CD_INLINE float cd_smooth_noisef(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float ix = floor(x);
    const float iy = floor(y);
    const float iz = floor(z);
    const float fx = cd_fade3(x - ix);
    const float fy = cd_fade3(y - iy);
    const float fz = cd_fade3(z - iz);

    float lx0, ly0, lz0, lx1, ly1, lz1;
    cd_lattice_corners(ix, iy, iz, &lx0, &ly0, &lz0, &lx1, &ly1, &lz1);
    const float n000 = cd_hash3f(lx0, ly0, lz0);
    const float n100 = cd_hash3f(lx1, ly0, lz0);
    const float n010 = cd_hash3f(lx0, ly1, lz0);
    const float n110 = cd_hash3f(lx1, ly1, lz0);
    const float n001 = cd_hash3f(lx0, ly0, lz1);
    const float n101 = cd_hash3f(lx1, ly0, lz1);
    const float n011 = cd_hash3f(lx0, ly1, lz1);
    const float n111 = cd_hash3f(lx1, ly1, lz1);

    const float x00 = mix(n000, n100, fx);
    const float x10 = mix(n010, n110, fx);
    const float x01 = mix(n001, n101, fx);
    const float x11 = mix(n011, n111, fx);
    const float y0 = mix(x00, x10, fy);
    const float y1 = mix(x01, x11, fy);
    return mix(y0, y1, fz);
}

CD_INLINE float cd_smooth_noise(float3 p) { return cd_smooth_noisef(p.x, p.y, p.z); }

// The quintic fade f^3 (f (6f - 15) + 10) and its derivative f^2 30 (f (f - 2) + 1), each inner
// product fused into its sum.
CD_INLINE float cd_fade5(float f) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return f * f * f * fma(f, fma(6.0f, f, -15.0f), 10.0f);
}

CD_INLINE float cd_fade5_slope(float f) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return f * f * 30.0f * fma(f, f - 2.0f, 1.0f);
}

// Value noise with a quintic fade (C2 across lattice cells) and its exact gradient.
CD_INLINE void cd_noisedf(float x, float y, float z, float* value, float* dx, float* dy, float* dz) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float ix = floor(x);
    const float iy = floor(y);
    const float iz = floor(z);
    const float fx = x - ix;
    const float fy = y - iy;
    const float fz = z - iz;
    const float ux = cd_fade5(fx);
    const float uy = cd_fade5(fy);
    const float uz = cd_fade5(fz);
    const float dux = cd_fade5_slope(fx);
    const float duy = cd_fade5_slope(fy);
    const float duz = cd_fade5_slope(fz);

    float lx0, ly0, lz0, lx1, ly1, lz1;
    cd_lattice_corners(ix, iy, iz, &lx0, &ly0, &lz0, &lx1, &ly1, &lz1);
    const float a = cd_hash3f(lx0, ly0, lz0);
    const float b = cd_hash3f(lx1, ly0, lz0);
    const float c = cd_hash3f(lx0, ly1, lz0);
    const float d = cd_hash3f(lx1, ly1, lz0);
    const float e = cd_hash3f(lx0, ly0, lz1);
    const float f = cd_hash3f(lx1, ly0, lz1);
    const float g = cd_hash3f(lx0, ly1, lz1);
    const float h = cd_hash3f(lx1, ly1, lz1);

    const float k0 = a;
    const float k1 = b - a;
    const float k2 = c - a;
    const float k3 = e - a;
    const float k4 = a - b - c + d;
    const float k5 = a - c - e + g;
    const float k6 = a - b - e + f;
    const float k7 = -a + b + c - d + e - f - g + h;

    // k0 + k1 ux + k2 uy + k3 uz + k4 ux uy + k5 uy uz + k6 uz ux + k7 ux uy uz, from the left,
    // each term's last product fused into the running sum; the gradients likewise.
    float v = fma(k1, ux, k0);
    v = fma(k2, uy, v);
    v = fma(k3, uz, v);
    v = fma(k4 * ux, uy, v);
    v = fma(k5 * uy, uz, v);
    v = fma(k6 * uz, ux, v);
    *value = fma(k7 * ux * uy, uz, v);
    *dx = dux * fma(k7 * uy, uz, fma(k6, uz, fma(k4, uy, k1)));
    *dy = duy * fma(k7 * ux, uz, fma(k5, uz, fma(k4, ux, k2)));
    *dz = duz * fma(k7 * ux, uy, fma(k6, ux, fma(k5, uy, k3)));
}

CD_INLINE float4 cd_noised(float3 p) {
    float v, dx, dy, dz;
    cd_noisedf(p.x, p.y, p.z, &v, &dx, &dy, &dz);
    return (float4)(v, dx, dy, dz);
}

// ---------------------------------------------------------------------------------------------
// Fractal sums

// The band-limit weight of an octave whose features are `width` wide in units of the sample
// footprint: 1 up to half a footprint, 0 from a whole one. This is smoothstep(1, 0.5, width)
// written out, because the builtin leaves edge0 >= edge1 undefined.
CD_INLINE float cd_band_weight(float width) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const float t = clamp((1.0f - width) * 2.0f, 0.0f, 1.0f);
    return cd_fade3(t);
}

CD_INLINE int cd_clamp_octaves(int octaves) { return clamp(octaves, 1, 6); }

CD_INLINE float cd_fbmf(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    float v = 0.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < 3; ++o) {
        v = fma(amp, cd_smooth_noisef(x * freq, y * freq, z * freq), v);
        amp *= 0.5f;
        freq *= 2.0f;
    }
    return v;
}

CD_INLINE float cd_fbm(float3 p) { return cd_fbmf(p.x, p.y, p.z); }

CD_INLINE float cd_fbm_octf(float x, float y, float z, int octaves) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int n = cd_clamp_octaves(octaves);
    float v = 0.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < n; ++o) {
        v = fma(amp, cd_smooth_noisef(x * freq, y * freq, z * freq), v);
        amp *= 0.5f;
        freq *= 2.0f;
    }
    return v;
}

CD_INLINE float cd_fbm_oct(float3 p, int octaves) { return cd_fbm_octf(p.x, p.y, p.z, octaves); }

CD_INLINE float cd_fbm_oct_blf(float x, float y, float z, int octaves, float wBase) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int n = cd_clamp_octaves(octaves);
    float v = 0.0f;
    float norm = 0.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < n; ++o) {
        const float bl = cd_band_weight(wBase * freq);
        v = fma(amp * bl, cd_smooth_noisef(x * freq, y * freq, z * freq), v);
        norm = fma(amp, bl, norm);
        amp *= 0.561f;
        freq *= 2.0f;
    }
    return norm > 1e-5f ? v / norm : 0.0f;
}

CD_INLINE float cd_fbm_oct_bl(float3 p, int octaves, float wBase) {
    return cd_fbm_oct_blf(p.x, p.y, p.z, octaves, wBase);
}

// Returns 0.35 when every octave is below the footprint: the caller scales temperature by
// 1 + k*(ridged - 0.35), so that value leaves it unchanged.
CD_INLINE float cd_ridged_blf(float x, float y, float z, int octaves, float wBase) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int n = cd_clamp_octaves(octaves);
    float sum = 0.0f;
    float norm = 0.0f;
    float weight = 1.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < n; ++o) {
        const float bl = cd_band_weight(wBase * freq);
        const float nn = fabs(fma(2.0f, cd_smooth_noisef(x * freq, y * freq, z * freq), -1.0f));
        const float r = 1.0f - nn;
        const float sig = r * r * weight;
        weight = clamp(2.0f * sig, 0.4f, 1.0f);
        sum = fma(amp * bl, sig, sum);
        norm = fma(amp, bl, norm);
        amp *= 0.561f;
        freq *= 2.0f;
    }
    return norm > 1e-5f ? clamp(sum / norm, 0.0f, 1.0f) : 0.35f;
}

CD_INLINE float cd_ridged_bl(float3 p, int octaves, float wBase) {
    return cd_ridged_blf(p.x, p.y, p.z, octaves, wBase);
}

// Gradient-warped ridged sum. The value is 0.5 when every octave is below the footprint, so an
// erosion that multiplies by it keeps everything; the accumulated gradient is returned with it
// (in the noise's own units at each octave, not scaled by the frequency).
CD_INLINE void cd_swiss_blf(float x, float y, float z, int octaves, float wBase, float* value, float* gx, float* gy,
                            float* gz) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int n = cd_clamp_octaves(octaves);
    float sum = 0.0f;
    float norm = 0.0f;
    float dsx = 0.0f;
    float dsy = 0.0f;
    float dsz = 0.0f;
    float amp = 0.5f;
    float freq = 1.0f;
    for (int o = 0; o < n; ++o) {
        const float bl = cd_band_weight(wBase * freq);
        float nv, ndx, ndy, ndz;
        cd_noisedf(fma(0.15f, dsx, x) * freq, fma(0.15f, dsy, y) * freq, fma(0.15f, dsz, z) * freq, &nv, &ndx, &ndy,
                   &ndz);
        const float nc = fma(2.0f, nv, -1.0f);
        const float ridge = 1.0f - fabs(nc);
        const float w = amp * bl;
        sum = fma(w, ridge, sum);
        dsx = fma(w * ndx, -nc, dsx);
        dsy = fma(w * ndy, -nc, dsy);
        dsz = fma(w * ndz, -nc, dsz);
        norm += w;
        freq *= 2.0f;
        // Rough regions (large sum so far) keep more of the finer octaves.
        amp *= 0.7f * clamp(1.5f * sum, 0.45f, 1.0f);
    }
    *value = norm > 1e-5f ? clamp(sum / norm, 0.0f, 1.0f) : 0.5f;
    *gx = dsx;
    *gy = dsy;
    *gz = dsz;
}

CD_INLINE float4 cd_swiss_bl(float3 p, int octaves, float wBase) {
    float v, gx, gy, gz;
    cd_swiss_blf(p.x, p.y, p.z, octaves, wBase, &v, &gx, &gy, &gz);
    return (float4)(v, gx, gy, gz);
}

// ---------------------------------------------------------------------------------------------
// Blackbody colour: a fit of the Planckian locus in linear RGB, white at 6600 K.

CD_INLINE void cd_blackbodyf(float kelvin, float* r, float* g, float* b) {
    const float t = kelvin * 0.01f;
    if (t <= 66.0f) {
        *r = 1.0f;
        *g = t > 0.5f ? clamp(0.390081f * log(t) - 0.631841f, 0.0f, 1.0f) : 0.0f;
    } else {
        *r = clamp(1.292936f * pow(t - 60.0f, -0.1332047f), 0.0f, 1.0f);
        *g = clamp(1.129891f * pow(t - 60.0f, -0.0755148f), 0.0f, 1.0f);
    }
    if (t >= 66.0f) {
        *b = 1.0f;
    } else if (t < 19.0f) {
        *b = 0.0f;
    } else {
        *b = clamp(0.543207f * log(t - 10.0f) - 1.196254f, 0.0f, 1.0f);
    }
}

CD_INLINE float3 cd_blackbody(float kelvin) {
    float r, g, b;
    cd_blackbodyf(kelvin, &r, &g, &b);
    return (float3)(r, g, b);
}

// ---------------------------------------------------------------------------------------------
// Field samplers. Each maps the position to index space with the half-cell shift and clamps it
// to the grid; without the shift every sample would move the field by half a cell, which shows
// as a steady drift after repeated advection. Clamping makes outside positions read the edge.

// The eight cells around a position and the blend fractions, shared by the scalar and vector
// samplers so that both read exactly the same neighbours with exactly the same weights.
typedef struct {
    int x0, y0, z0, x1, y1, z1;
    float tx, ty, tz;
} CdTrilinearCell;

CD_INLINE CdTrilinearCell cd_trilinear_cell(int N, float px, float py, float pz) {
    const float hi = (float)(N - 1);
    const float gx = clamp(px - 0.5f, 0.0f, hi);
    const float gy = clamp(py - 0.5f, 0.0f, hi);
    const float gz = clamp(pz - 0.5f, 0.0f, hi);
    const float fx0 = floor(gx);
    const float fy0 = floor(gy);
    const float fz0 = floor(gz);
    const float tx = gx - fx0;
    const float ty = gy - fy0;
    const float tz = gz - fz0;
    const int x0 = (int)fx0;
    const int y0 = (int)fy0;
    const int z0 = (int)fz0;
    const int x1 = min(x0 + 1, N - 1);
    const int y1 = min(y0 + 1, N - 1);
    const int z1 = min(z0 + 1, N - 1);
    CdTrilinearCell c = {x0, y0, z0, x1, y1, z1, tx, ty, tz};
    return c;
}

CD_INLINE float cd_sample_f_xyz(__global const float* buf, int N, float px, float py, float pz) {
    const CdTrilinearCell cell = cd_trilinear_cell(N, px, py, pz);
    const int x0 = cell.x0, y0 = cell.y0, z0 = cell.z0;
    const int x1 = cell.x1, y1 = cell.y1, z1 = cell.z1;
    const float tx = cell.tx, ty = cell.ty, tz = cell.tz;

    const float c00 = mix(buf[cd_idx(x0, y0, z0, N)], buf[cd_idx(x1, y0, z0, N)], tx);
    const float c10 = mix(buf[cd_idx(x0, y1, z0, N)], buf[cd_idx(x1, y1, z0, N)], tx);
    const float c01 = mix(buf[cd_idx(x0, y0, z1, N)], buf[cd_idx(x1, y0, z1, N)], tx);
    const float c11 = mix(buf[cd_idx(x0, y1, z1, N)], buf[cd_idx(x1, y1, z1, N)], tx);
    const float c0 = mix(c00, c10, ty);
    const float c1 = mix(c01, c11, ty);
    return mix(c0, c1, tz);
}

CD_INLINE float cd_sample_f(__global const float* buf, int N, float3 p) {
    return cd_sample_f_xyz(buf, N, p.x, p.y, p.z);
}

// Trilinear sample of a float4 field; w is ignored. Components are blended one by one, in the
// same order as cd_sample_f.
CD_INLINE void cd_sample_v_xyz(__global const float4* buf, int N, float px, float py, float pz, float* ox, float* oy,
                               float* oz) {
    const CdTrilinearCell cell = cd_trilinear_cell(N, px, py, pz);
    const int x0 = cell.x0, y0 = cell.y0, z0 = cell.z0;
    const int x1 = cell.x1, y1 = cell.y1, z1 = cell.z1;
    const float tx = cell.tx, ty = cell.ty, tz = cell.tz;

    const float4 v000 = buf[cd_idx(x0, y0, z0, N)];
    const float4 v100 = buf[cd_idx(x1, y0, z0, N)];
    const float4 v010 = buf[cd_idx(x0, y1, z0, N)];
    const float4 v110 = buf[cd_idx(x1, y1, z0, N)];
    const float4 v001 = buf[cd_idx(x0, y0, z1, N)];
    const float4 v101 = buf[cd_idx(x1, y0, z1, N)];
    const float4 v011 = buf[cd_idx(x0, y1, z1, N)];
    const float4 v111 = buf[cd_idx(x1, y1, z1, N)];

    *ox = mix(mix(mix(v000.x, v100.x, tx), mix(v010.x, v110.x, tx), ty),
              mix(mix(v001.x, v101.x, tx), mix(v011.x, v111.x, tx), ty), tz);
    *oy = mix(mix(mix(v000.y, v100.y, tx), mix(v010.y, v110.y, tx), ty),
              mix(mix(v001.y, v101.y, tx), mix(v011.y, v111.y, tx), ty), tz);
    *oz = mix(mix(mix(v000.z, v100.z, tx), mix(v010.z, v110.z, tx), ty),
              mix(mix(v001.z, v101.z, tx), mix(v011.z, v111.z, tx), ty), tz);
}

CD_INLINE float3 cd_sample_v(__global const float4* buf, int N, float3 p) {
    float x, y, z;
    cd_sample_v_xyz(buf, N, p.x, p.y, p.z, &x, &y, &z);
    return (float3)(x, y, z);
}

// Cubic kernels by distance a >= 0 from the sample, in cells:
//   B-spline         (3a^3 - 6a^2 + 4)/6 below 1,  (2 - a)^3/6 below 2;
//   Catmull-Rom      1.5a^3 - 2.5a^2 + 1,          -0.5a^3 + 2.5a^2 - 4a + 2;
//   Mitchell B0 C1   a^3 - 2a^2 + 1,               -a^3 + 5a^2 - 8a + 4;
// 0 from 2 on. The interpolating pair is evaluated factored at its roots a = 1 and a = 2: the
// expanded outer lobe adds terms up to 20 to a result below 0.2, which in float costs
// weights of 1e-6, and the factors make the weights at a = 1 and 2 exactly 0.
#define CD_CUBIC_BSPLINE 0
#define CD_CUBIC_CATMULLROM 1
#define CD_CUBIC_MITCHELL_SHARP 2

CD_INLINE float cd_cubic_weight(float a, int kind) {
    const float m1 = a - 1.0f;
    const float m2 = a - 2.0f;
    if (kind == CD_CUBIC_BSPLINE) {
        if (a < 1.0f) return (3.0f * a * a * a - 6.0f * a * a + 4.0f) * (1.0f / 6.0f);
        if (a < 2.0f) return -m2 * m2 * m2 * (1.0f / 6.0f);
        return 0.0f;
    }
    if (kind == CD_CUBIC_CATMULLROM) {
        if (a < 1.0f) return m1 * (1.5f * a * a - a - 1.0f);
        if (a < 2.0f) return -0.5f * m1 * m2 * m2;
        return 0.0f;
    }
    if (a < 1.0f) return m1 * (a * a - a - 1.0f);
    if (a < 2.0f) return -m1 * m2 * m2;
    return 0.0f;
}

// The 4 x 4 x 4 neighbourhood i + k, k = -1 ... 2, each index clamped to the grid. The sum is
// separable: rows along x first, then y, then z. `kind` is a constant at every call site, so the
// branches of cd_cubic_weight fold away after inlining.
CD_INLINE float cd_sample_cubic_xyz(__global const float* buf, int N, float px, float py, float pz, int kind) {
    const float hi = (float)(N - 1);
    const float gx = clamp(px - 0.5f, 0.0f, hi);
    const float gy = clamp(py - 0.5f, 0.0f, hi);
    const float gz = clamp(pz - 0.5f, 0.0f, hi);
    const float fx0 = floor(gx);
    const float fy0 = floor(gy);
    const float fz0 = floor(gz);
    const float tx = gx - fx0;
    const float ty = gy - fy0;
    const float tz = gz - fz0;
    const int ix = (int)fx0;
    const int iy = (int)fy0;
    const int iz = (int)fz0;

    float wx[4], wy[4], wz[4];
    int xs[4], ys[4], zs[4];
    for (int k = 0; k < 4; ++k) {
        const float offset = (float)(k - 1);
        wx[k] = cd_cubic_weight(fabs(tx - offset), kind);
        wy[k] = cd_cubic_weight(fabs(ty - offset), kind);
        wz[k] = cd_cubic_weight(fabs(tz - offset), kind);
        xs[k] = clamp(ix + k - 1, 0, N - 1);
        ys[k] = clamp(iy + k - 1, 0, N - 1);
        zs[k] = clamp(iz + k - 1, 0, N - 1);
    }

    float sum = 0.0f;
    for (int kz = 0; kz < 4; ++kz) {
        float plane = 0.0f;
        for (int ky = 0; ky < 4; ++ky) {
            const int rowStart = cd_idx(0, ys[ky], zs[kz], N);
            float row = 0.0f;
            for (int kx = 0; kx < 4; ++kx) row += buf[rowStart + xs[kx]] * wx[kx];
            plane += row * wy[ky];
        }
        sum += plane * wz[kz];
    }
    return sum;
}

CD_INLINE float cd_sample_f_bicubic_xyz(__global const float* buf, int N, float px, float py, float pz) {
    return cd_sample_cubic_xyz(buf, N, px, py, pz, CD_CUBIC_BSPLINE);
}

// The interpolating kernels have negative lobes; the fields they sample are non-negative, so an
// overshoot below zero is cut off.
CD_INLINE float cd_sample_f_catmullrom_xyz(__global const float* buf, int N, float px, float py, float pz) {
    return max(cd_sample_cubic_xyz(buf, N, px, py, pz, CD_CUBIC_CATMULLROM), 0.0f);
}

CD_INLINE float cd_sample_f_mitchell_sharp_xyz(__global const float* buf, int N, float px, float py, float pz) {
    return max(cd_sample_cubic_xyz(buf, N, px, py, pz, CD_CUBIC_MITCHELL_SHARP), 0.0f);
}

CD_INLINE float cd_sample_f_bicubic(__global const float* buf, int N, float3 p) {
    return cd_sample_f_bicubic_xyz(buf, N, p.x, p.y, p.z);
}

CD_INLINE float cd_sample_f_catmullrom(__global const float* buf, int N, float3 p) {
    return cd_sample_f_catmullrom_xyz(buf, N, p.x, p.y, p.z);
}

CD_INLINE float cd_sample_f_mitchell_sharp(__global const float* buf, int N, float3 p) {
    return cd_sample_f_mitchell_sharp_xyz(buf, N, p.x, p.y, p.z);
}
