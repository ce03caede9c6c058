// Emission from a layer's alpha: every grid column whose projection onto the composition lands on
// an opaque pixel of the uploaded emission map receives heat and fuel in a slab of cells around the
// source depth. A pattern decides which parts of the alpha emit, and a burn mode reveals the layer
// progressively with a flare on its front.
//
// Maps are row-major floats (row 0 at the top) read with the width and height the host recorded at
// upload; the buffers may be larger. Every index into a map is clamped to the map or its cell is
// skipped, so no size the host passes makes a read leave the map. The kernel tolerates any global
// size and offset: ids outside the grid return first. It writes only its own cell, in place, and
// keeps the limits of the volume source (sources.cl), whose constants it uses.
//
// Plain floats throughout so that PoCL can vectorise across work items.

// Below this an alpha, a pattern-weighted alpha, is treated as transparent: the capture's own
// threshold for the opaque box, so nothing outside the box can emit.
#define CD_EMIT_MIN_ALPHA 0.005f

// How far a point of the layer (u, v in 0 … 1) is revealed by the burn: 1 burnt through or burning,
// 0 not reached yet. `width` is the soft band of the front and `noise` jitters the front's outline.
// The progress is stretched by the band width so that progress 0 shows nothing and progress 1
// everything, bands included.
CD_INLINE float cd_burn_amount_at(float u, float v, int mode, float progress, float width, float noise, float dirRad,
                                  float srcU, float srcV) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    if (mode <= 0) return 1.0f;
    float uw = u;
    float vw = v;
    if (noise > 0.0001f) {
        const float wx = cd_fbmf(5.0f * u + 1.7f, 5.0f * v + 2.3f, 0.0f) - 0.5f;
        const float wy = cd_fbmf(5.0f * u + 7.1f, 5.0f * v + 4.3f, 0.0f) - 0.5f;
        uw = u + wx * noise * 0.5f;
        vw = v + wy * noise * 0.5f;
    }
    float dist;
    if (mode == 1) {
        // 0.71 ≈ half the diagonal: every point of the unit square projects into 0 … 1.
        dist = ((uw - 0.5f) * cos(dirRad) + (vw - 0.5f) * sin(dirRad) + 0.71f) / 1.42f;
    } else if (mode == 2 || mode >= 4) {
        const float du = uw - srcU;
        const float dv = vw - srcV;
        const float r = fmin(sqrt(du * du + dv * dv) / 0.71f, 1.0f);
        dist = (mode == 2) ? r : 1.0f - r;
    } else {
        dist = cd_fbmf(9.0f * uw + 3.3f, 9.0f * vw + 6.7f, 0.0f);
    }
    const float w = fmax(width * 0.5f, 0.01f);
    const float thresh = progress * (1.0f + 2.0f * w) - w;
    const float t = clamp((dist - (thresh - w)) * (1.0f / (2.0f * w)), 0.0f, 1.0f);
    return 1.0f - t * t * (3.0f - 2.0f * t);
}

// The map value at integer pixel (x, y), clamped to the map.
CD_INLINE float cd_emit_map_at(__global const float* map, int w, int h, int x, int y) {
    return map[clamp(y, 0, h - 1) * w + clamp(x, 0, w - 1)];
}

// The emission weight of column (x, y): the bilinear alpha under the pattern, its contrast,
// threshold and inversion, and the burn; 0 where the column emits nothing. Each cell of the slab
// receives it times the slab's falloff. It depends on the column alone, so the two-pass form
// computes it once per column (cd_emit_layer_columns) where cd_emit_from_layer computes it in
// every cell of the slab: both call this one function, under the same pinned floating-point
// order, so that they give the same bits.
CD_INLINE float cd_emit_column_weight(int x, int y, __global const float* layerAlpha, __global const float* customMap,
                                      int N, int layerW, int layerH, int customMapW, int customMapH, int compW,
                                      int compH, float szXY, int patternMode, float maskScale, float maskContrast,
                                      float maskThreshold, int maskInvert, int burnMode, float burnProgress,
                                      float burnWidth, float burnNoise, float burnDirRad, float burnSparkBoost,
                                      int useLayerTransform, float layerPosX, float layerPosY, float layerInvScX,
                                      float layerInvScY, float layerAncX, float layerAncY) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    if (layerW < 1 || layerH < 1) return 0.0f;
    const float compWf = (float)compW;
    const float compHf = (float)compH;
    const float invN = 1.0f / (float)N;
    const float compX = ((float)x + 0.5f) * invN * compWf;
    const float compY = ((float)y + 0.5f) * invN * compHf;
    const float invScale = szXY > 0.001f ? 1.0f / szXY : 1.0f;

    float lxf;
    float lyf;
    if (useLayerTransform != 0) {
        lxf = (compX - layerPosX) * invScale * layerInvScX + layerAncX;
        lyf = (compY - layerPosY) * invScale * layerInvScY + layerAncY;
    } else {
        lxf = (compX - compWf * 0.5f) * invScale + (float)layerW * 0.5f;
        lyf = (compY - compHf * 0.5f) * invScale + (float)layerH * 0.5f;
    }
    // Compared as floats before any conversion: floor(l) lies in 0 … size − 1 exactly when
    // 0 ≤ l < size, and a far-off value never reaches an int it cannot fit.
    if (!(lxf >= 0.0f && lxf < (float)layerW && lyf >= 0.0f && lyf < (float)layerH)) return 0.0f;
    const int lx = (int)floor(lxf);
    const int ly = (int)floor(lyf);
    const float fx = lxf - (float)lx;
    const float fy = lyf - (float)ly;
    const int lx1 = min(lx + 1, layerW - 1);
    const int ly1 = min(ly + 1, layerH - 1);
    const float a00 = layerAlpha[ly * layerW + lx];
    const float a10 = layerAlpha[ly * layerW + lx1];
    const float a01 = layerAlpha[ly1 * layerW + lx];
    const float a11 = layerAlpha[ly1 * layerW + lx1];
    const float alpha = (a00 * (1.0f - fx) + a10 * fx) * (1.0f - fy) + (a01 * (1.0f - fx) + a11 * fx) * fy;
    if (alpha < CD_EMIT_MIN_ALPHA) return 0.0f;

    // The burn comes before the pattern, which is often the dearer of the two: the pattern is at
    // most 1 and rounding is monotonic, so where alpha × gain is below the cut-off so is
    // alpha × pattern × gain, and the pattern need not be computed ahead of the front.
    float burnGain = 1.0f;
    if (burnMode > 0) {
        const float u = (float)lx * (1.0f / (float)max(layerW - 1, 1));
        const float v = (float)ly * (1.0f / (float)max(layerH - 1, 1));
        const float b = cd_burn_amount_at(u, v, burnMode, burnProgress, burnWidth, burnNoise, burnDirRad, 0.5f, 0.5f);
        // A bell that is 1 where b = 0.5, on the front itself, and 0 behind and ahead of it.
        const float front = 4.0f * b * (1.0f - b);
        burnGain = b + front * (1.0f + burnSparkBoost * front);
        if (alpha * burnGain < CD_EMIT_MIN_ALPHA) return 0.0f;
    }

    float pattern = 1.0f;
    if (patternMode == 1 || patternMode == 6) {
        // The gradient is taken a fixed share of the map apart (at least two pixels) so that an
        // alpha edge covers about a cell of the grid whatever the map's resolution. The offset is
        // capped at the map's size, where every neighbour already clamps to the border.
        const int edgeStep = max(max(layerW / N, layerH / N), 2);
        const float eSf = fmin((float)edgeStep * fmax(maskScale, 0.05f), (float)max(layerW, layerH));
        const int eS = max((int)eSf, 1);
        const float gx = cd_emit_map_at(layerAlpha, layerW, layerH, lx + eS, ly) -
                         cd_emit_map_at(layerAlpha, layerW, layerH, lx - eS, ly);
        const float gy = cd_emit_map_at(layerAlpha, layerW, layerH, lx, ly - eS) -
                         cd_emit_map_at(layerAlpha, layerW, layerH, lx, ly + eS);
        const float g2 = gx * gx + gy * gy;
        pattern = (patternMode == 1) ? 2.0f * sqrt(g2) : 4.0f * g2;
    } else if (patternMode == 3) {
        pattern = cd_fbmf((float)lx * maskScale * 0.015f, (float)ly * maskScale * 0.015f, 0.0f);
    } else if (patternMode == 4) {
        pattern = cd_fbmf((float)lx * maskScale * 0.015f - 0.5f, (float)ly * maskScale * 0.012f, 0.0f);
    } else if (patternMode == 5) {
        pattern = cd_hash3f((float)lx, (float)ly, 0.0f);
    } else if (patternMode == 7) {
        pattern = 1.8f * cd_fbmf((float)lx * maskScale * 0.005f, (float)ly * maskScale * 0.005f, 0.0f);
    } else if (patternMode == 8 && customMapW > 0 && customMapH > 0) {
        // The custom map is always centred on the composition: it carries no placement of its own.
        const float cxf = floor((compX - compWf * 0.5f) * invScale + (float)customMapW * 0.5f);
        const float cyf = floor((compY - compHf * 0.5f) * invScale + (float)customMapH * 0.5f);
        const int cx = (int)clamp(cxf, 0.0f, (float)(customMapW - 1));
        const int cy = (int)clamp(cyf, 0.0f, (float)(customMapH - 1));
        pattern = customMap[cy * customMapW + cx];
    }
    // Contrast 25 leaves the pattern as it is, 0 halves it, 100 multiplies it by 2.5; the
    // threshold is in percent.
    pattern = clamp((pattern - maskThreshold * 0.01f) * (maskContrast * 0.02f + 0.5f), 0.0f, 1.0f);
    if (maskInvert != 0) pattern = 1.0f - pattern;
    float effAlpha = alpha * pattern;

    if (burnMode > 0) effAlpha *= burnGain;
    if (effAlpha < CD_EMIT_MIN_ALPHA) return 0.0f;
    return effAlpha;
}

__kernel void cd_emit_from_layer(__global float* density, __global float* temperature, __global float* fuel,
                                 __global const float* layerAlpha, __global const float* customMap, int N, int layerW,
                                 int layerH, int customMapW, int customMapH, int compW, int compH, float szXY,
                                 float szZ, float sxG, float syG, float szG, float temperatureK, float fuelInject,
                                 float dt, int patternMode, float maskScale, float maskContrast, float maskThreshold,
                                 int maskInvert, int burnMode, float burnProgress, float burnWidth, float burnNoise,
                                 float burnDirRad, float burnSparkBoost, int useLayerTransform, float layerPosX,
                                 float layerPosY, float layerInvScX, float layerInvScY, float layerAncX,
                                 float layerAncY) {
    // PoCL compiles a kernel once per work-group shape, and under -cl-fast-relaxed-math each
    // compilation may regroup products and sums around the values that are uniform in its shape,
    // or turn a division by one into a multiplication by its reciprocal. A reduced dispatch box
    // must give the same grid, bit for bit, as the full range, so the arithmetic here keeps its
    // written order (compilers without these pragmas ignore them) and divides only where the
    // divisor varies per cell.
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    (void)sxG;
    (void)syG;

    // The slab test needs only z and rejects most of the grid, so it comes before any map read;
    // it changes no result. A slab never thinner than one cell keeps a small depth slider visible.
    const float zT = fabs((float)z + 0.5f - szG) * (1.0f / fmax(szZ * 0.5f, 0.5f));
    if (zT >= 1.0f) return;

    const float effAlpha = cd_emit_column_weight(
        x, y, layerAlpha, customMap, N, layerW, layerH, customMapW, customMapH, compW, compH, szXY, patternMode,
        maskScale, maskContrast, maskThreshold, maskInvert, burnMode, burnProgress, burnWidth, burnNoise, burnDirRad,
        burnSparkBoost, useLayerTransform, layerPosX, layerPosY, layerInvScX, layerInvScY, layerAncX, layerAncY);
    if (effAlpha < CD_EMIT_MIN_ALPHA) return;
    const float profile = effAlpha * (1.0f - zT * zT);
    const int i = cd_idx(x, y, z, N);
    temperature[i] = fmin(temperature[i] + temperatureK * profile * dt, CD_SOURCE_MAX_TEMPERATURE);
    fuel[i] = fmin(fuel[i] + fuelInject * profile * dt, CD_SOURCE_MAX_AMOUNT);
    density[i] = fmin(density[i], CD_SOURCE_MAX_AMOUNT);
}

// The two-pass form of cd_emit_from_layer, the same grid to the last bit: the first pass writes
// each column's weight once, the second spreads it over the slab. The direct kernel evaluates the
// pattern and the burn (fractal noise, several sines a call) in every cell of the slab, about a
// dozen times a column at the default depth.

// Over the columns of the dispatch box, one cell deep: writes weights[y·N + x] for each column of
// the box, 0 where the column emits nothing.
__kernel void cd_emit_layer_columns(__global float* weights, __global const float* layerAlpha,
                                    __global const float* customMap, int N, int layerW, int layerH, int customMapW,
                                    int customMapH, int compW, int compH, float szXY, int patternMode,
                                    float maskScale, float maskContrast, float maskThreshold, int maskInvert,
                                    int burnMode, float burnProgress, float burnWidth, float burnNoise,
                                    float burnDirRad, float burnSparkBoost, int useLayerTransform, float layerPosX,
                                    float layerPosY, float layerInvScX, float layerInvScY, float layerAncX,
                                    float layerAncY) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= N || y >= N) return;
    weights[y * N + x] = cd_emit_column_weight(
        x, y, layerAlpha, customMap, N, layerW, layerH, customMapW, customMapH, compW, compH, szXY, patternMode,
        maskScale, maskContrast, maskThreshold, maskInvert, burnMode, burnProgress, burnWidth, burnNoise, burnDirRad,
        burnSparkBoost, useLayerTransform, layerPosX, layerPosY, layerInvScX, layerInvScY, layerAncX, layerAncY);
}

// Over the same box and every z: the slab of cd_emit_from_layer with the column's weight read
// from the first pass, which must have covered this launch's columns.
__kernel void cd_emit_layer_slab(__global float* density, __global float* temperature, __global float* fuel,
                                 __global const float* weights, int N, float szZ, float szG, float temperatureK,
                                 float fuelInject, float dt) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const float zT = fabs((float)z + 0.5f - szG) * (1.0f / fmax(szZ * 0.5f, 0.5f));
    if (zT >= 1.0f) return;
    const float effAlpha = weights[y * N + x];
    if (effAlpha < CD_EMIT_MIN_ALPHA) return;
    const float profile = effAlpha * (1.0f - zT * zT);
    const int i = cd_idx(x, y, z, N);
    temperature[i] = fmin(temperature[i] + temperatureK * profile * dt, CD_SOURCE_MAX_TEMPERATURE);
    fuel[i] = fmin(fuel[i] + fuelInject * profile * dt, CD_SOURCE_MAX_AMOUNT);
    density[i] = fmin(density[i], CD_SOURCE_MAX_AMOUNT);
}
