// Screen-space motion blur of the finished frame. The ray march leaves a float2 velocity per pixel
// (output pixels per unit time, (0, 0) where nothing visible was hit); cd_mb_reconstruct smears
// each pixel along its own smoothed velocity with 13 jittered, cone-weighted bilinear taps.
// Callers rely on three bounds: a pixel whose smoothed speed is under half a pixel is copied
// bit for bit; no tap lies more than 12 pixels (plus the bilinear footprint) from its pixel; and
// the only per-frame input is frameSeed, which moves the jitter and nothing else.
//
// cd_vel_tile_max is part of the kernel set but not launched by the frame chain. The bilinear
// sampler cd_sample_image comes from post.cl, which precedes this file in the library.

CD_INLINE float cd_frac(float v) { return v - floor(v); }

__kernel void cd_mb_reconstruct(__global const float4* inBuf, __global const float2* vBuf,
                                __global const float2* tBuf, __global float4* outBuf, int W, int H, int tileN,
                                float shutterScale, float shutterAngleNorm, int nSamples, int frameSeed) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const float4 orig = inBuf[y * W + x];

    // A 3 x 3 binomial filter, so that one stray velocity from a thin wisp does not tear a single
    // pixel out of its neighbourhood.
    float vx = 0.0f;
    float vy = 0.0f;
    for (int j = -1; j <= 1; ++j) {
        const int sy = clamp(y + j, 0, H - 1);
        const float wy = j == 0 ? 2.0f : 1.0f;
        for (int i = -1; i <= 1; ++i) {
            const int sx = clamp(x + i, 0, W - 1);
            const float w = wy * (i == 0 ? 2.0f : 1.0f);
            const float2 v = vBuf[sy * W + sx];
            vx += v.x * w;
            vy += v.y * w;
        }
    }
    vx *= 1.0f / 16.0f;
    vy *= 1.0f / 16.0f;

    const float mag = sqrt(vx * vx + vy * vy);
    const float strength = shutterScale * shutterAngleNorm;
    if (mag < 0.5f || strength < 0.001f) {
        outBuf[y * W + x] = orig;
        return;
    }
    const float dirX = vx / mag;
    const float dirY = vy / mag;
    // Thin smoke streaks less than dense fire, and no streak exceeds 12 pixels to a side: the 13
    // taps could not cover a longer one without gaps.
    const float densMod = clamp(1.5f * orig.w + 0.4f, 0.4f, 1.0f);
    const float stretch = fmin(mag * strength * densMod, 12.0f);

    // Interleaved gradient noise, shifted per frame so the tap banding does not stand still.
    const float seedShift = 0.31415927f * (float)frameSeed;
    const float f = cd_frac(0.06711056f * ((float)x + seedShift) + 0.00583715f * (float)y);
    const float jitter = cd_frac(52.9829189f * f) - 0.5f;

    float4 sum = (float4)(0.0f);
    float weightSum = 0.0f;
    for (int s = -6; s <= 6; ++s) {
        const float tNorm = ((float)s + jitter) / 7.0f;
        const float a = fabs(tNorm);
        const float w = fmax(1.0f - a * a * (3.0f - 2.0f * a), 0.0f);
        const float px = (float)x + dirX * tNorm * stretch;
        const float py = (float)y + dirY * tNorm * stretch;
        float4 c = cd_sample_image(inBuf, W, H, px, py);
        // A capped colour keeps one over-bright tap from dominating the streak.
        c.x = fmin(c.x, 30.0f);
        c.y = fmin(c.y, 30.0f);
        c.z = fmin(c.z, 30.0f);
        const float we = w * (0.5f + 0.5f * c.w);
        sum += c * we;
        weightSum += we;
    }
    const float4 blurred = weightSum > 1e-4f ? sum / weightSum : orig;

    // Alpha extension: where the pixel itself was transparent the streak brings its own coverage,
    // and the colour follows that coverage so a faint tail does not glow at full strength.
    const float aOut = blurred.w > 0.0f ? pow(blurred.w, 0.85f) : 0.0f;
    const float blendT = clamp(1.0f - orig.w, 0.0f, 1.0f);
    const float rgbScale = (1.0f - blendT) + aOut * blendT;
    outBuf[y * W + x] = (float4)(blurred.x * rgbScale, blurred.y * rgbScale, blurred.z * rgbScale, aOut);
}

// Per tile of tileN x tileN pixels, the velocity of largest magnitude: the first found on ties,
// scanning rows top to bottom and each row left to right; (0, 0) when all are zero. Launched over
// ceil(W/tileN) x ceil(H/tileN).
__kernel void cd_vel_tile_max(__global const float2* vBuf, __global float2* tBuf, int W, int H, int tileN) {
    const int tx = get_global_id(0);
    const int ty = get_global_id(1);
    if (tileN <= 0) return;
    const int tilesX = (W + tileN - 1) / tileN;
    const int tilesY = (H + tileN - 1) / tileN;
    if (tx >= tilesX || ty >= tilesY) return;
    float2 best = (float2)(0.0f, 0.0f);
    float bestMag2 = 0.0f;
    const int yEnd = min((ty + 1) * tileN, H);
    const int xEnd = min((tx + 1) * tileN, W);
    for (int y = ty * tileN; y < yEnd; ++y) {
        for (int x = tx * tileN; x < xEnd; ++x) {
            const float2 v = vBuf[y * W + x];
            const float m2 = v.x * v.x + v.y * v.y;
            if (m2 > bestMag2) {
                bestMag2 = m2;
                best = v;
            }
        }
    }
    tBuf[ty * tilesX + tx] = best;
}
