// Image-space passes on the finished frame: the bilinear upsample from the half-resolution march,
// the heat distortion with its 2-D value noise, the bright-pass and the pyramid of bloom and light
// cast, and four image kernels the frame chain does not launch (separable Gaussian, radial blur,
// additive composite). Images are W x H float4, index y*W + x, in the tone-mapped, gamma-encoded,
// premultiplied colour the ray march writes; every kernel returns for ids outside its extent, so
// any global size is safe.
//
// Pixel positions here are in index space (pixel (x, y) sits at (x, y), not at its centre), so a
// zero displacement samples exactly the pixel itself and a pass that moves nothing is a copy.

// ---------------------------------------------------------------------------------------------
// 2-D value noise of the heat distortion. Plain-float forms hold the arithmetic (the sin call
// keeps the kernel scalar on CPUs anyway); the float2 forms are wrappers.

// The dot product goes through fma for the reason given at cd_hash3f: a lattice point has to
// reach the same sin argument whichever cell asks for it.
CD_INLINE float cd_hash21f(float x, float y) {
    const float h = sin(fma(127.1f, x, 311.7f * y)) * 43758.5453f;
    return h - floor(h);
}

CD_INLINE float cd_hash21(float2 p) { return cd_hash21f(p.x, p.y); }

CD_INLINE float cd_noise2f(float x, float y) {
    const float ix = floor(x);
    const float iy = floor(y);
    const float fx = x - ix;
    const float fy = y - iy;
    const float ux = fx * fx * (3.0f - 2.0f * fx);
    const float uy = fy * fy * (3.0f - 2.0f * fy);
    // Far corners through int, so that "corner + 1" is the same number as a neighbour's near corner.
    const int jx = (int)ix;
    const int jy = (int)iy;
    const float x0 = (float)jx;
    const float y0 = (float)jy;
    const float x1 = (float)(jx + 1);
    const float y1 = (float)(jy + 1);
    const float a = cd_hash21f(x0, y0);
    const float b = cd_hash21f(x1, y0);
    const float c = cd_hash21f(x0, y1);
    const float d = cd_hash21f(x1, y1);
    return mix(mix(a, b, ux), mix(c, d, ux), uy);
}

CD_INLINE float cd_noise2(float2 p) { return cd_noise2f(p.x, p.y); }

// Normalised by the amplitude sum, so the result stays in [0, 1] for any gain and octave count.
CD_INLINE float cd_fbm2f(float x, float y, int octaves, float gain, float lac) {
    float sum = 0.0f;
    float norm = 0.0f;
    float amp = 1.0f;
    float freq = 1.0f;
    for (int o = 0; o < octaves; ++o) {
        sum += cd_noise2f(x * freq, y * freq) * amp;
        norm += amp;
        amp *= gain;
        freq *= lac;
    }
    return norm > 0.0f ? sum / norm : 0.0f;
}

CD_INLINE float cd_fbm2(float2 p, int octaves, float gain, float lac) { return cd_fbm2f(p.x, p.y, octaves, gain, lac); }

// ---------------------------------------------------------------------------------------------
// Image sampling

// Bilinear sample at index-space position (px, py); each corner is clamped to the image on its
// own, so positions past an edge read the edge and the fractions stay those of the unclamped
// position.
CD_INLINE float4 cd_sample_image(__global const float4* img, int W, int H, float px, float py) {
    const float fx0 = floor(px);
    const float fy0 = floor(py);
    const float tx = px - fx0;
    const float ty = py - fy0;
    const int x0 = (int)fx0;
    const int y0 = (int)fy0;
    const int xa = clamp(x0, 0, W - 1);
    const int xb = clamp(x0 + 1, 0, W - 1);
    const int ya = clamp(y0, 0, H - 1);
    const int yb = clamp(y0 + 1, 0, H - 1);
    const float4 top = mix(img[ya * W + xa], img[ya * W + xb], tx);
    const float4 bottom = mix(img[yb * W + xa], img[yb * W + xb], tx);
    return mix(top, bottom, ty);
}

// ---------------------------------------------------------------------------------------------
// Frame-chain passes

// The half image is ceil(W/2) x ceil(H/2); the ratio hW/W is taken from the real sizes so that an
// odd output does not drift by half a pixel across the frame.
__kernel void cd_upsample_bilinear(__global const float4* halfIn, __global float4* fullOut, int W, int H, int hW,
                                   int hH) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const float fx = ((float)x + 0.5f) * (float)hW / (float)W - 0.5f;
    const float fy = ((float)y + 0.5f) * (float)hH / (float)H - 0.5f;
    fullOut[y * W + x] = cd_sample_image(halfIn, hW, hH, fx, fy);
}

// Hot air: each pixel reads from a position pushed by two decorrelated fBm fields that scroll
// upward with time (heatRise) and morph with heatEvolution. 30 * heatAmount is the largest push
// in pixels, reached where an fBm sits at 0 or 1.
__kernel void cd_heat_distort(__global const float4* inBuf, __global float4* outBuf, int W, int H, float t,
                              float heatAmount, float heatScale, int heatComplexity, float heatEvolution,
                              float heatRise) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    if (heatAmount < 0.001f) {
        outBuf[y * W + x] = inBuf[y * W + x];
        return;
    }
    const float hScale = mix(0.06f, 0.006f, heatScale);
    const float hLac = mix(2.4f, 1.7f, heatScale);
    const float hRise = t * heatRise * 60.0f;
    const float px = (float)x * hScale;
    const float py = ((float)y + hRise) * hScale;
    const int octaves = clamp(heatComplexity, 1, 6);
    const float dnx = cd_fbm2f(px + heatEvolution, py, octaves, 0.5f, hLac) - 0.5f;
    const float dny = cd_fbm2f(px + 31.7f, py + 17.3f + heatEvolution, octaves, 0.5f, hLac) - 0.5f;
    const float push = 30.0f * heatAmount;
    outBuf[y * W + x] = cd_sample_image(inBuf, W, H, (float)x + push * dnx, (float)y + push * dny);
}

// Soft-knee bright pass (knee 0.5): below the threshold a pixel fades in quadratically instead of
// switching on, which keeps the glow from flickering as fire crosses the threshold. Alpha is
// scaled with the colour so the glow carries coverage and lifts transparent neighbours.
__kernel void cd_extract_bright(__global const float4* src, __global float4* dst, int W, int H, float threshold) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const float4 c = src[y * W + x];
    const float lum = fmax(c.x, fmax(c.y, c.z));
    const float knee = 0.5f;
    float soft = clamp(lum - threshold + knee, 0.0f, 2.0f * knee);
    soft = soft * soft / (4.0f * knee + 1e-4f);
    const float contribution = fmax(lum - threshold, soft);
    const float scale = lum > 1e-4f ? contribution / lum : 0.0f;
    dst[y * W + x] = c * scale;
}

// 2 x 2 box; an odd source's last column and row are paired with themselves.
__kernel void cd_bloom_downsample(__global const float4* src, __global float4* dst, int srcW, int srcH, int dstW,
                                  int dstH) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= dstW || y >= dstH) return;
    const int x0 = min(2 * x, srcW - 1);
    const int y0 = min(2 * y, srcH - 1);
    const int x1 = min(x0 + 1, srcW - 1);
    const int y1 = min(y0 + 1, srcH - 1);
    const float4 sum = src[y0 * srcW + x0] + src[y0 * srcW + x1] + src[y1 * srcW + x0] + src[y1 * srcW + x1];
    dst[y * dstW + x] = sum * 0.25f;
}

// The source is taken to be exactly half the destination (each level was made by halving), so
// the position uses a fixed factor of one half; the rounded-up last row or column of an odd level
// is simply clamped.
__kernel void cd_bloom_upsample_add(__global const float4* src, __global float4* dst, int srcW, int srcH, int dstW,
                                    int dstH, float blendFactor) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= dstW || y >= dstH) return;
    const float fx = ((float)x + 0.5f) * 0.5f - 0.5f;
    const float fy = ((float)y + 0.5f) * 0.5f - 0.5f;
    const float4 up = cd_sample_image(src, srcW, srcH, fx, fy);
    dst[y * dstW + x] += up * blendFactor;
}

// ---------------------------------------------------------------------------------------------
// Library image kernels the frame chain does not launch

// Gaussian weights with sigma = radius / 2, normalised by their sum so a constant image stays
// constant; the 0.001 keeps sigma positive at radius 0, which is then a plain copy. A negative
// radius is taken as 0.
CD_INLINE float4 cd_blur_1d(__global const float4* src, int W, int H, int x, int y, int radius, int dx, int dy) {
    const int r = max(radius, 0);
    const float sigma = 0.5f * (float)r + 0.001f;
    const float inv2s2 = 1.0f / (2.0f * sigma * sigma);
    float4 sum = (float4)(0.0f);
    float wsum = 0.0f;
    for (int i = -r; i <= r; ++i) {
        const int sx = clamp(x + i * dx, 0, W - 1);
        const int sy = clamp(y + i * dy, 0, H - 1);
        const float w = exp(-(float)(i * i) * inv2s2);
        sum += src[sy * W + sx] * w;
        wsum += w;
    }
    return sum / fmax(wsum, 1e-6f);
}

__kernel void cd_blur_h(__global const float4* src, __global float4* dst, int W, int H, int radius) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    dst[y * W + x] = cd_blur_1d(src, W, H, x, y, radius, 1, 0);
}

__kernel void cd_blur_v(__global const float4* src, __global float4* dst, int W, int H, int radius) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    dst[y * W + x] = cd_blur_1d(src, W, H, x, y, radius, 0, 1);
}

// Light shafts: average of the pixels on the way to (centerX, centerY), each step weighted by
// decay^step, so near pixels count most. The walk stops at the image edge rather than clamping,
// which would smear the edge pixel along the whole shaft.
__kernel void cd_radial_blur(__global const float4* src, __global float4* dst, int W, int H, float centerX,
                             float centerY, float decay, int samples) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const float steps = (float)max(samples, 1);
    const float dx = (centerX - (float)x) / steps;
    const float dy = (centerY - (float)y) / steps;
    float px = (float)x;
    float py = (float)y;
    float w = 1.0f;
    float4 sum = (float4)(0.0f);
    float wsum = 0.0f;
    for (int i = 0; i < samples; ++i) {
        const int ix = (int)floor(px);
        const int iy = (int)floor(py);
        if (ix < 0 || ix >= W || iy < 0 || iy >= H) break;
        sum += src[iy * W + ix] * w;
        wsum += w;
        w *= decay;
        px += dx;
        py += dy;
    }
    dst[y * W + x] = wsum > 1e-6f ? sum / wsum : sum;
}

// Additive light on top of the frame; coverage stays as the frame had it.
__kernel void cd_composite_add(__global float4* dst, __global const float4* effect, int W, int H, float strength) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const float4 e = effect[y * W + x];
    float4 d = dst[y * W + x];
    d.x += e.x * strength;
    d.y += e.y * strength;
    d.z += e.z * strength;
    dst[y * W + x] = d;
}
