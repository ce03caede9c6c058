// The ray march: cd_raymarch turns the grid into the effect's image, one work-item per output
// pixel. Each of the pixel's ssaaCount² camera rays is clipped to the grid's box, marched at
// exactly sampleCount jittered samples across its chord, skipping blocks the macrocells mark as
// empty; visible samples are shaded (fire emission from temperature, self-lit smoke, optional key,
// ambient, fire and rim light) and composited front to back with early termination. The averaged
// colour is graded, tone-mapped and gamma-encoded; alpha is the averaged coverage. On request the
// march also writes one screen-space velocity per pixel for the motion blur.
//
// Every scalar arrives in one CdRaymarchParams block (kernels/raymarch_params.h), the buffers as
// arguments of their own. Callers rely on:
// - a pixel none of whose rays sees anything is written as exactly (0, 0, 0, 0);
// - the same pixel, sub-pixel and settings give the same bytes on every launch (the jitter is a
//   function of the pixel alone);
// - a sample's position depends only on its index along the ray, never on which samples before it
//   were skipped, so empty-space skipping changes only samples it leaves out;
// - velOutBuf may be a null buffer, and is then never touched.
//
// The body is plain floats with always-inline helpers (no float3 temporaries): PoCL then keeps
// everything in registers; float3 code ran about twice as slowly there.

// The built-in light comes from above: (0.3, -1.0, 0.2) normalised (|v| = sqrt(1.13)).
#define CD_RM_LIGHT_X 0.28221626f
#define CD_RM_LIGHT_Y (-0.94072087f)
#define CD_RM_LIGHT_Z 0.18814417f

// Below this a macrocell holds nothing visible (the builders store max(density, 0.0005 * kelvin)).
#define CD_RM_EMPTY_BLOCK 0.0001f
// A ray ends once less than this much of the background shows through.
#define CD_RM_OPAQUE_T 0.005f

// Un-normalised Henyey-Greenstein phase. `den` is kept away from 0 because g near 1 with a
// backlit sample would otherwise divide by zero.
CD_INLINE float cd_hg(float cosTheta, float g) {
    const float den = max(1.0f + g * g - 2.0f * g * cosTheta, 1e-4f);
    return (1.0f - g * g) / (den * sqrt(den));
}

// The ACES filmic curve fit; 1.0 maps to about 0.80.
CD_INLINE float cd_aces_fit(float c) {
    return clamp(c * (2.51f * c + 0.03f) / (c * (2.43f * c + 0.59f) + 0.14f), 0.0f, 1.0f);
}

// pow for a base that may be 0. Under -cl-fast-relaxed-math pow may be exp2(y * log2(x)), which
// is not guaranteed to give 0 for x = 0; a black pixel and an empty ramp must stay exactly 0.
CD_INLINE float cd_rm_pow0(float x, float y) {
    return x > 0.0f ? pow(x, y) : 0.0f;
}

// Sub-pixel s of an n × n regular grid centred on the pixel, in pixels; (0, 0) for one ray.
CD_INLINE void cd_raymarch_subpixel(int s, int ssaaCount, float* dx, float* dy) {
    if (ssaaCount <= 1) {
        *dx = 0.0f;
        *dy = 0.0f;
        return;
    }
    const float n = (float)ssaaCount;
    *dx = ((float)(s % ssaaCount) + 0.5f) / n - 0.5f;
    *dy = ((float)(s / ssaaCount) + 0.5f) / n - 0.5f;
}

// Interleaved gradient noise of the pixel, shifted per sub-pixel so that the rays of one pixel
// start at different phases; a fixed function of (x, y, s), so a still scene does not crawl.
CD_INLINE float cd_raymarch_jitter(int x, int y, int s) {
    const float a = (float)x + 5.588238f * (float)s;
    const float b = (float)y + 5.588238f * (float)s;
    const float f = 0.06711056f * a + 0.00583715f * b;
    const float j = 52.9829189f * (f - floor(f));
    return j - floor(j);
}

// Density or temperature at grid position (gx, gy, gz) with the sampler of the quality setting.
CD_INLINE float cd_raymarch_field(__global const float* buf, int N, float gx, float gy, float gz, int useBicubic,
                                  int edgeSharp) {
    if (useBicubic == 0) return cd_sample_f_xyz(buf, N, gx, gy, gz);
    if (edgeSharp == 1) return cd_sample_f_catmullrom_xyz(buf, N, gx, gy, gz);
    if (edgeSharp == 2) {
        // Unsharp mask: push the interpolating result away from the smooth one.
        const float c = cd_sample_f_catmullrom_xyz(buf, N, gx, gy, gz);
        const float b = cd_sample_f_bicubic_xyz(buf, N, gx, gy, gz);
        return max(c + 0.6f * (c - b), 0.0f);
    }
    return cd_sample_f_bicubic_xyz(buf, N, gx, gy, gz);
}

// Density times length along a short march from (px, py, pz) in direction (dx, dy, dz): `steps`
// steps, the first `firstStep` cells long and each 1.5 times the previous, stopping at the grid's
// edge (a light outside the grid is unoccluded there) and once the sum passes `limit` (the light
// is then as good as blocked, and further reads only cost time).
CD_INLINE float cd_raymarch_optical_depth(__global const float* density, int N, float px, float py, float pz, float dx,
                                          float dy, float dz, float firstStep, int steps, float limit) {
    const float hi = (float)(N - 1);
    float sum = 0.0f;
    float s = firstStep;
    for (int k = 0; k < steps; ++k) {
        px += dx * s;
        py += dy * s;
        pz += dz * s;
        if (px < 0.5f || py < 0.5f || pz < 0.5f || px >= hi || py >= hi || pz >= hi) break;
        sum += cd_sample_f_xyz(density, N, px, py, pz) * s;
        s *= 1.5f;
        if (sum > limit) break;
    }
    return sum;
}

// Render-time detail on one visible sample: boundary erosion of the density and flame tongues on
// the temperature, from noise carried along the velocity. The grid itself is not changed.
CD_INLINE void cd_raymarch_detail(const CdRaymarchParams* P, __global const float4* velocity, float gx, float gy,
                                  float gz, float footW, float* d, float* Tk) {
    const int N = P->N;
    const float tN = (*Tk - 300.0f) / 2400.0f;
    const float sN = clamp(P->detailStrength / 150.0f, 0.0f, 1.0f);
    const float heightFrac = clamp(1.0f - gy / (float)N, 0.0f, 1.0f);
    const float fireGateE = smoothstep(0.04f, 0.30f, tN) * (1.0f - smoothstep(0.75f, 1.0f, tN));
    const float eAmt = min(1.15f * sN, 1.0f) * heightFrac * fireGateE;
    const float hotGate = smoothstep(0.15f, 0.55f, tN);
    // Cool smoke gets neither effect; the noise is the costly part of a sample, so it is skipped
    // there (eroding by 0 and scaling by 1 + 0 would change nothing).
    if (eAmt <= 0.0f && hotGate <= 0.0f) return;

    const float ds = max(P->detailScale, 5.0f);
    const float advectScale = 2.0f * P->fbmFlow;
    float sx = gx, sy = gy, sz = gz;
    if (advectScale > 0.001f) {
        const int substeps = P->fbmFlow > 0.8f ? 5 : (P->fbmFlow > 0.5f ? 3 : 1);
        const float stepT = P->detailTime * advectScale / (float)substeps;
        for (int k = 0; k < substeps; ++k) {
            float vx, vy, vz;
            cd_sample_v_xyz(velocity, N, sx, sy, sz, &vx, &vy, &vz);
            vx *= stepT;
            vy *= stepT;
            vz *= stepT;
            // Long displacements would tear the noise apart between neighbouring samples.
            const float len = sqrt(vx * vx + vy * vy + vz * vz);
            if (len > 1.5f) {
                const float k15 = 1.5f / len;
                vx *= k15;
                vy *= k15;
                vz *= k15;
            }
            sx -= vx;
            sy -= vy;
            sz -= vz;
        }
    }
    const float inv = 1.3f / ds;
    float wx, wy, wz;
    cd_sample_v_xyz(velocity, N, sx, sy, sz, &wx, &wy, &wz);
    const float wLen = sqrt(wx * wx + wy * wy + wz * wz);
    float nx = sx, ny = sy, nz = sz;
    if (wLen > 0.001f) {
        const float shift = min(0.035f * wLen, 0.18f * ds) / wLen;
        nx += wx * shift;
        ny += wy * shift;
        nz += wz * shift;
    }
    nx *= inv;
    ny *= inv;
    nz *= inv;
    const float wBase = inv * footW * P->gridFactorX;

    if (eAmt > 0.0f) {
        float n01, ngx, ngy, ngz;
        cd_swiss_blf(nx, ny, nz, P->detailOctaves, wBase, &n01, &ngx, &ngy, &ngz);
        const float tE = min(eAmt * cd_rm_pow0(1.0f - n01, 1.35f), 0.95f);
        const float dN = 1.0f - exp(-1.6f * *d);
        const float dNe = clamp((dN - tE) / max(1.0f - tE, 1e-4f), 0.0f, 1.0f);
        if (dN > 1e-4f) *d *= dNe / dN;
    }
    if (hotGate > 0.0f) {
        const float ridged = cd_ridged_blf(nx, ny, nz, P->detailOctaves, wBase);
        const float crestAmp = 0.90f * (1.0f - exp(-2.2f * sN));
        *Tk *= 1.0f + crestAmp * (ridged - 0.35f) * hotGate;
    }
}

// What one visible sample emits (fire and smoke, linear, before the sample's opacity) and its
// opacity over one step. (vx, vy, vz) is the unit ray direction, (grx, gry, grz) the density
// difference across 3 cells.
CD_INLINE void cd_raymarch_shade(const CdRaymarchParams* P, __global const float* density,
                                 __global const float* temperature, float gx, float gy, float gz, float d, float Tk,
                                 float grx, float gry, float grz, float vx, float vy, float vz, float step,
                                 float* fireR, float* fireG, float* fireB, float* smokeR, float* smokeG, float* smokeB,
                                 float* alphaOut) {
    const int N = P->N;
    const float vd = P->volumeDensity;

    // Fire colour and strength from the normalised temperature.
    const float kRange = max(P->maxK - P->minK, 1.0f);
    const float T01 = clamp((Tk - P->minK) / kRange, 0.0f, 1.0f);
    float fr, fg, fb;
    if (P->colorMode == 1) {
        cd_blackbodyf(P->minK + cd_rm_pow0(T01, P->fireGamma) * kRange, &fr, &fg, &fb);
    } else {
        const float gInv = P->fireGamma > 0.01f ? 1.0f / P->fireGamma : 1.0f;
        const float t = cd_rm_pow0(T01, gInv);
        fr = mix(P->midR, P->srcR, t);
        fg = mix(P->midG, P->srcG, t);
        fb = mix(P->midB, P->srcB, t);
    }
    const float halfWidth = 0.5f * P->burnCutoffWidth;
    const float fireMask = smoothstep(P->burnCutoffCenter - halfWidth, P->burnCutoffCenter + halfWidth, T01);
    const float smkScale = P->smokeDensityMul * 0.01f;
    // Thin smoke sharpens the fire's edge: the mask is squared as the smoke fades out.
    const float fmEff = mix(fireMask, fireMask * fireMask, 1.0f - smkScale);
    float fireStrength = T01 * P->fireIntensity * fmEff;

    // Smoke glows in its own scatter colour; bright smoke dims the fire behind its albedo.
    const float cR = P->scaR, cG = P->scaG, cB = P->scaB;
    const float smokeOpacity = 1.0f - exp(-0.8f * d);
    const float selfEmit = P->smkBright * smokeOpacity * smkScale;
    float sr = cR * selfEmit, sg = cG * selfEmit, sb = cB * selfEmit;
    const float albedoLum = 0.299f * cR + 0.587f * cG + 0.114f * cB;
    fireStrength *= 1.0f - 0.3f * albedoLum * smkScale;

    // The built-in light on the smoke's surface, with the density gradient as its normal.
    const float gradLen = sqrt(grx * grx + gry * gry + grz * grz);
    float nrmX = 0.0f, nrmY = -1.0f, nrmZ = 0.0f;
    if (gradLen > 0.001f) {
        nrmX = -grx / gradLen;
        nrmY = -gry / gradLen;
        nrmZ = -grz / gradLen;
    }
    const float NdotL = max(0.0f, nrmX * CD_RM_LIGHT_X + nrmY * CD_RM_LIGHT_Y + nrmZ * CD_RM_LIGHT_Z);
    const float shadeBase = 0.4f + 0.6f * NdotL;
    const float lobe = 0.5f * (P->scatterAnisotropy + 1.0f);
    const float cosTheta = -(vx * CD_RM_LIGHT_X + vy * CD_RM_LIGHT_Y + vz * CD_RM_LIGHT_Z);
    const float hgPhase = mix(cd_hg(cosTheta, -0.3f), cd_hg(cosTheta, 0.8f), lobe);
    const float hgWeight = clamp(0.4f * hgPhase, 0.0f, 2.0f);
    const float powder = 1.0f - exp(-2.0f * d);
    float shade = shadeBase * (0.6f + 0.7f * hgWeight) * (0.5f + 0.5f * powder);

    // Self-shadow and the key light share one march toward the light.
    if (P->selfShadow > 0.001f || P->keyActive != 0) {
        // Without a key light the march runs away from the built-in light, i.e. measures the density
        // below the sample; a key light too close to give a direction falls back to the same.
        float sLx = -CD_RM_LIGHT_X, sLy = -CD_RM_LIGHT_Y, sLz = -CD_RM_LIGHT_Z;
        if (P->keyActive != 0) {
            const float tx = P->keyLightX - gx, ty = P->keyLightY - gy, tz = P->keyLightZ - gz;
            const float tl = sqrt(tx * tx + ty * ty + tz * tz);
            if (tl > 0.5f) {
                sLx = tx / tl;
                sLy = ty / tl;
                sLz = tz / tl;
            }
        }
        const float shadowSum = cd_raymarch_optical_depth(density, N, gx, gy, gz, sLx, sLy, sLz, 1.5f, 6, 4.0f);
        const float lightT = exp(-shadowSum * 0.4f * vd);
        if (P->selfShadow > 0.001f) {
            shade *= mix(1.0f, lightT, P->selfShadow);
            fireStrength *= mix(1.0f, sqrt(lightT), 0.5f * P->selfShadow);
        }
        if (P->keyActive != 0) {
            const float keyNdotL = max(0.0f, nrmX * sLx + nrmY * sLy + nrmZ * sLz);
            const float keyCosT = vx * sLx + vy * sLy + vz * sLz;
            const float keyHG = mix(cd_hg(keyCosT, -0.2f), cd_hg(keyCosT, 0.75f), lobe);
            const float powderK = 1.0f - exp(-2.0f * shadowSum);
            const float powderBlend = mix(1.0f, 2.0f * powderK, P->volumetricDepth);
            // Silver lining: smoke seen against the key light brightens at its thin edge.
            const float silver = max(0.0f, -keyCosT - 0.5f);
            const float silverBoost = 1.0f + 3.0f * silver * P->volumetricDepth;
            const float keyDir = (0.25f + 0.75f * keyNdotL) * (0.4f + 0.6f * clamp(0.5f * keyHG, 0.0f, 1.5f));
            const float k = lightT * keyDir * powderBlend * silverBoost * P->keyIntensity * 1.2f;
            sr += cR * P->keyColorR * k;
            sg += cG * P->keyColorG * k;
            sb += cB * P->keyColorB * k;
        }
    }
    sr *= shade;
    sg *= shade;
    sb *= shade;

    // Sky light picked up from straight above (-y), attenuated by the smoke in between.
    if (P->ambientStrength > 0.001f) {
        const float sum = cd_raymarch_optical_depth(density, N, gx, gy, gz, 0.0f, -1.0f, 0.0f, 2.0f, 4, 4.0f);
        const float k = exp(-sum * 0.4f * vd) * P->ambientStrength;
        sr += cR * P->ambColorR * k;
        sg += cG * P->ambColorG * k;
        sb += cB * P->ambColorB * k;
    }

    // Nearby fire lights the smoke: temperature averaged over three widening rings of six samples.
    if (P->fireLightStrength > 0.001f) {
        float r = max(2.0f, (float)N / 64.0f);
        float w = 1.0f;
        float wT = 0.0f, wW = 0.0f;
        for (int ring = 0; ring < 3; ++ring) {
            const float sum =
                cd_sample_f_xyz(temperature, N, gx + r, gy, gz) + cd_sample_f_xyz(temperature, N, gx - r, gy, gz) +
                cd_sample_f_xyz(temperature, N, gx, gy + r, gz) + cd_sample_f_xyz(temperature, N, gx, gy - r, gz) +
                cd_sample_f_xyz(temperature, N, gx, gy, gz + r) + cd_sample_f_xyz(temperature, N, gx, gy, gz - r);
            wT += sum * (1.0f / 6.0f) * w;
            wW += w;
            r *= 2.6f;
            w *= 0.55f;
        }
        const float tAvg = wT / wW;
        const float bleed = clamp((tAvg - 500.0f) / 1500.0f, 0.0f, 1.0f);
        if (bleed > 0.001f) {
            float br, bg, bb;
            cd_blackbodyf(tAvg, &br, &bg, &bb);
            const float k = bleed * P->fireLightStrength * clamp(d * smkScale, 0.0f, 1.0f) * 0.5f;
            sr += br * k;
            sg += bg * k;
            sb += bb * k;
        }
    }

    // Rim light: the more smoke lies between the sample and the light, the brighter the rim.
    if (P->rimActive != 0 && P->rimStrength > 0.001f) {
        float rx = P->rimLightX - gx, ry = P->rimLightY - gy, rz = P->rimLightZ - gz;
        const float rl = sqrt(rx * rx + ry * ry + rz * rz);
        if (rl > 0.5f) {
            rx /= rl;
            ry /= rl;
            rz /= rl;
            const float rSum = cd_raymarch_optical_depth(density, N, gx, gy, gz, rx, ry, rz, 1.5f, 6, FLT_MAX);
            const float rimT = exp(-rSum * 0.4f * vd);
            const float densityGate = clamp(2.0f * d * smkScale, 0.0f, 1.0f);
            const float rimGain = (1.0f - rimT) * P->rimStrength * P->rimIntensity * densityGate * 0.15f;
            sr += clamp(P->rimColorR * rimGain, 0.0f, 1.0f);
            sg += clamp(P->rimColorG * rimGain, 0.0f, 1.0f);
            sb += clamp(P->rimColorB * rimGain, 0.0f, 1.0f);
        }
    }

    // Extinction, Beer-Lambert over the step: fire absorbs by its mask, smoke by the rest, and
    // thin smoke fades out at its edges when the smoke is turned down.
    const float sigmaFire = d * P->densityMul * fmEff * vd;
    const float fadeMin = 0.15f * (1.0f - smkScale);
    const float thinFade = smoothstep(fadeMin, fadeMin + 0.6f, d);
    const float edgeMask = mix(1.0f, thinFade, 0.5f * (1.0f - smkScale));
    const float sigmaSmoke = d * P->densityMul * (1.0f - fireMask) * smkScale * edgeMask * vd;
    // The step is in world units; gridFactorX turns it into cells, the unit of the densities.
    float alpha = 1.0f - exp(-(sigmaFire + sigmaSmoke) * step * P->gridFactorX);
    if (P->lifeSoftness > 0.001f) alpha = cd_rm_pow0(alpha, 1.0f - 0.5f * P->lifeSoftness);

    const float fireK = fireStrength * P->emissionMul;
    *fireR = fr * fireK;
    *fireG = fg * fireK;
    *fireB = fb * fireK;
    *smokeR = sr * P->emissionMul;
    *smokeG = sg * P->emissionMul;
    *smokeB = sb * P->emissionMul;
    *alphaOut = alpha;
}

// Grading in linear HDR (exposure, tint, hue, saturation, flicker), the ACES fit and gamma 2.2.
// Black stays exactly black.
CD_INLINE void cd_raymarch_grade(const CdRaymarchParams* P, float* pr, float* pg, float* pb) {
    float r = *pr, g = *pg, b = *pb;
    if (fabs(P->exposure) > 0.001f) {
        const float e = exp2(P->exposure);
        r *= e;
        g *= e;
        b *= e;
    }
    r *= P->tintR;
    g *= P->tintG;
    b *= P->tintB;
    if (fabs(P->hueShift) > 0.001f) {
        // Rotation of the chroma plane of YIQ, which keeps the luma.
        const float Y = 0.299f * r + 0.587f * g + 0.114f * b;
        const float I = 0.596f * r - 0.275f * g - 0.321f * b;
        const float Q = 0.212f * r - 0.523f * g + 0.311f * b;
        const float c = cos(P->hueShift);
        const float s = sin(P->hueShift);
        const float I2 = I * c - Q * s;
        const float Q2 = I * s + Q * c;
        r = max(Y + 0.956f * I2 + 0.621f * Q2, 0.0f);
        g = max(Y - 0.272f * I2 - 0.647f * Q2, 0.0f);
        b = max(Y - 1.106f * I2 + 1.703f * Q2, 0.0f);
    }
    if (P->saturation < 0.99f || P->saturation > 1.01f) {
        const float luma = 0.299f * r + 0.587f * g + 0.114f * b;
        r = max(luma + (r - luma) * P->saturation, 0.0f);
        g = max(luma + (g - luma) * P->saturation, 0.0f);
        b = max(luma + (b - luma) * P->saturation, 0.0f);
    }
    if (P->brightnessFlicker > 0.001f) {
        const float t = P->gradeTime;
        const float f = 0.5f * sin(7.13f * t) + 0.3f * sin(17.43f * t) + 0.2f * sin(31.07f * t);
        // A strong flicker must dim, never invert.
        const float k = max(0.0f, 1.0f + f * P->brightnessFlicker);
        r *= k;
        g *= k;
        b *= k;
    }
    *pr = cd_rm_pow0(cd_aces_fit(r), 1.0f / 2.2f);
    *pg = cd_rm_pow0(cd_aces_fit(g), 1.0f / 2.2f);
    *pb = cd_rm_pow0(cd_aces_fit(b), 1.0f / 2.2f);
}

__kernel void cd_raymarch(__global float4* outBuf, __global const float* density, __global const float* temperature,
                          __global const float* ember, __global const float4* velocity, __global float2* velOutBuf,
                          __global const float* macroMax, __global const float* macroMaxL1,
                          __global const CdRaymarchParams* params) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= params->W || y >= params->H) return;
    // One private copy: the compiler keeps the fields the body reads in registers.
    const CdRaymarchParams P = *params;
    const int N = P.N;
    const float fN = (float)N;
    const float hi = fN - 1.0f;
    const float halfN = 0.5f * fN;
    const int ssaa = max(P.ssaaCount, 1);
    const int subN = ssaa * ssaa;
    const int sampleCount = P.sampleCount;
    const bool hasVelocityOut = P.mbEnable != 0 && velOutBuf != 0;

    // The grid's box in world space.
    const float boxX0 = (0.0f - P.gridOffsetXY) / P.gridFactorX;
    const float boxX1 = (fN - P.gridOffsetXY) / P.gridFactorX;
    const float boxY0 = (0.0f - P.gridOffsetXY) / P.gridFactorY;
    const float boxY1 = (fN - P.gridOffsetXY) / P.gridFactorY;
    const float boxZ0 = -halfN / P.gridFactorZ;
    const float boxZ1 = halfN / P.gridFactorZ;

    // Band-limiting footprint of one output sample per unit of ray distance.
    const float pixSpread = ((float)P.compW / (float)P.W) / max(P.camZoom, 1.0f) / (float)ssaa;

    // Macrocells: block index = floor(g * M / N); a skip jumps a fixed number of samples, capped so
    // that it cannot carry far past the block's edge.
    const int M0 = P.macroN;
    const int M1 = P.macroN_L1;
    const float scale0 = M0 > 0 ? (float)M0 / fN : 0.0f;
    const float scale1 = M1 > 0 ? (float)M1 / fN : 0.0f;
    const int skip0 = M0 > 0 ? clamp(max(N / M0, 1) / 8, 2, 4) : 0;
    const int skip1 = M1 > 0 ? clamp(max(N / M1, 1) / 4, 4, 16) : 0;

    float accR = 0.0f, accG = 0.0f, accB = 0.0f, accCoverage = 0.0f;
    float mbVelX = 0.0f, mbVelY = 0.0f, mbWeight = 0.0f;

    for (int s = 0; s < subN; ++s) {
        float spx, spy;
        cd_raymarch_subpixel(s, P.ssaaCount, &spx, &spy);
        const float compX = ((float)x + 0.5f + spx) / (float)P.W * (float)P.compW;
        const float compY = ((float)y + 0.5f + spy) / (float)P.H * (float)P.compH;
        const float u = (compX - 0.5f * (float)P.compW) / P.camZoom;
        const float v = (compY - 0.5f * (float)P.compH) / P.camZoom;
        float dx = u * P.camRightX + v * P.camUpX + P.camFwdX;
        float dy = u * P.camRightY + v * P.camUpY + P.camFwdY;
        float dz = u * P.camRightZ + v * P.camUpZ + P.camFwdZ;
        const float dLen = sqrt(dx * dx + dy * dy + dz * dz);
        if (dLen < 1e-5f) continue;  // no direction: the sub-pixel sees nothing
        dx /= dLen;
        dy /= dLen;
        dz /= dLen;
        const float ox = P.camPosX, oy = P.camPosY, oz = P.camPosZ;

        // Slab test; an axis the ray runs parallel to gets a huge inverse so that its interval is
        // everything or nothing depending on which side of the slab the camera stands.
        const float ix = dx == 0.0f ? 1e10f : 1.0f / dx;
        const float iy = dy == 0.0f ? 1e10f : 1.0f / dy;
        const float iz = dz == 0.0f ? 1e10f : 1.0f / dz;
        const float tx0 = (boxX0 - ox) * ix, tx1 = (boxX1 - ox) * ix;
        const float ty0 = (boxY0 - oy) * iy, ty1 = (boxY1 - oy) * iy;
        const float tz0 = (boxZ0 - oz) * iz, tz1 = (boxZ1 - oz) * iz;
        float tNear = max(max(min(tx0, tx1), min(ty0, ty1)), min(tz0, tz1));
        const float tFar = min(min(max(tx0, tx1), max(ty0, ty1)), max(tz0, tz1));
        if (tNear > tFar || tFar < 0.0f) continue;
        tNear = max(tNear, 0.0f);  // camera inside the box
        if (tFar - tNear < 0.01f || sampleCount <= 0) continue;

        const float step = (tFar - tNear) / (float)sampleCount;
        const float jitter = cd_raymarch_jitter(x, y, s);

        float T = 1.0f;
        float cr = 0.0f, cg = 0.0f, cb = 0.0f;
        int i = 0;
        while (i < sampleCount) {
            // The position comes from the index, so a skip lands exactly where stepping would.
            const float t = tNear + (jitter + (float)i) * step;
            const float gx = (ox + dx * t) * P.gridFactorX + P.gridOffsetXY;
            const float gy = (oy + dy * t) * P.gridFactorY + P.gridOffsetXY;
            const float gz = (oz + dz * t) * P.gridFactorZ + halfN;
            if (gx < 0.0f || gy < 0.0f || gz < 0.0f || gx > hi || gy > hi || gz > hi) {
                ++i;
                continue;
            }

            if (M1 > 0) {
                const int bx = clamp((int)floor(gx * scale1), 0, M1 - 1);
                const int by = clamp((int)floor(gy * scale1), 0, M1 - 1);
                const int bz = clamp((int)floor(gz * scale1), 0, M1 - 1);
                if (macroMaxL1[(bz * M1 + by) * M1 + bx] < CD_RM_EMPTY_BLOCK) {
                    i += skip1;
                    continue;
                }
            }
            if (M0 > 0) {
                const int bx = clamp((int)floor(gx * scale0), 0, M0 - 1);
                const int by = clamp((int)floor(gy * scale0), 0, M0 - 1);
                const int bz = clamp((int)floor(gz * scale0), 0, M0 - 1);
                if (macroMax[(bz * M0 + by) * M0 + bx] < CD_RM_EMPTY_BLOCK) {
                    i += skip0;
                    continue;
                }
            }

            float d = cd_raymarch_field(density, N, gx, gy, gz, P.useBicubic, P.edgeSharp);
            float Tk = cd_raymarch_field(temperature, N, gx, gy, gz, P.useBicubic, P.edgeSharp);
            if (P.densityContrast < 0.999f || P.densityContrast > 1.001f) d = cd_rm_pow0(d, P.densityContrast);
            if (P.opacityThreshold > 0.001f) {
                d *= smoothstep(P.opacityThreshold, P.opacityThreshold + 0.02f, d);
            }

            if (d > 0.001f || Tk > 1.0f) {
                // Differences across 3 cells, not divided by the distance: only the direction and a
                // rough magnitude are used.
                const float grx =
                    cd_sample_f_xyz(density, N, gx + 1.5f, gy, gz) - cd_sample_f_xyz(density, N, gx - 1.5f, gy, gz);
                const float gry =
                    cd_sample_f_xyz(density, N, gx, gy + 1.5f, gz) - cd_sample_f_xyz(density, N, gx, gy - 1.5f, gz);
                const float grz =
                    cd_sample_f_xyz(density, N, gx, gy, gz + 1.5f) - cd_sample_f_xyz(density, N, gx, gy, gz - 1.5f);
                if (P.detailStrength > 0.001f) {
                    const float tCur = tNear + ((float)i + 0.5f) * step;
                    cd_raymarch_detail(&P, velocity, gx, gy, gz, max(step, tCur * pixSpread), &d, &Tk);
                }

                if (d > 0.001f || Tk > 1.0f) {
                    float fR, fG, fB, sR, sG, sB, alpha;
                    cd_raymarch_shade(&P, density, temperature, gx, gy, gz, d, Tk, grx, gry, grz, dx, dy, dz, step, &fR,
                                      &fG, &fB, &sR, &sG, &sB, &alpha);
                    // Additive blending lets fire behind smoke shine through, bluer the denser.
                    float boostR = T, boostG = T, boostB = T;
                    if (P.blendMode == 2) {
                        const float k = (1.0f - T) * P.blendStrength;
                        boostR += k * 0.6f;
                        boostG += k;
                        boostB += k * 1.2f;
                    }
                    cr += (boostR * fR + T * sR) * alpha;
                    cg += (boostG * fG + T * sG) * alpha;
                    cb += (boostB * fB + T * sB) * alpha;

                    if (hasVelocityOut) {
                        float velX, velY, velZ;
                        cd_sample_v_xyz(velocity, N, gx, gy, gz, &velX, &velY, &velZ);
                        const float lum = 0.2126f * (fR + sR) + 0.7152f * (fG + sG) + 0.0722f * (fB + sB);
                        const float lumWt = lum / (lum + 5.0f);
                        // What the eye sees moving: visible, dense and bright samples weigh most.
                        const float wm = T * alpha * d * (1.0f + 2.0f * lumWt);
                        mbVelX += velX * P.velCellToScreenX * wm;
                        mbVelY += velY * P.velCellToScreenY * wm;
                        mbWeight += wm;
                    }

                    T *= 1.0f - alpha;
                    if (T < CD_RM_OPAQUE_T) break;
                }
            }

            if (P.emberGlow > 0.01f) {
                const float em = cd_sample_f_xyz(ember, N, gx, gy, gz);
                if (em > 0.005f) {
                    const float k = T * em * P.emberGlow * 0.02f;
                    cr += k;
                    cg += 0.65f * k;
                    cb += 0.25f * k;
                }
            }
            ++i;
        }
        accR += cr;
        accG += cg;
        accB += cb;
        accCoverage += 1.0f - T;
    }

    const float invSub = 1.0f / (float)subN;
    float r = accR * invSub, g = accG * invSub, b = accB * invSub;
    const float coverage = accCoverage * invSub;

    if (hasVelocityOut) {
        velOutBuf[y * P.W + x] =
            mbWeight > 1e-4f ? (float2)(mbVelX / mbWeight, mbVelY / mbWeight) : (float2)(0.0f, 0.0f);
    }
    cd_raymarch_grade(&P, &r, &g, &b);
    outBuf[y * P.W + x] = (float4)(r, g, b, coverage);
}
