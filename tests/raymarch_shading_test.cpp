// The ray march's shading and grading held against a CPU reference written from the shading
// model's formulas, independently of the kernel, in double precision: what one visible sample emits and
// absorbs (fire colour by blackbody or custom ramp, fire mask, smoke self-emission, built-in,
// key, ambient, fire and rim light, extinction, life softness), and whole marches of a few pixels
// through a smooth 19³ grid (density contrast, opacity threshold, both blend modes, grading).
//
// One sample's shading runs through a probe kernel that calls the march's own shading helper on
// a chosen state; the marches run cd_raymarch itself. Each case sets one feature strongly enough
// that a changed constant in its formula moves the result far beyond the tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cl_harness.h"
#include "kernels/raymarch_params.h"

namespace {

// Tolerances. The device computes in float under -cl-fast-relaxed-math (exp, pow, sqrt a few ulp)
// against double here; the longest chains (a 6-step shadow march, a 40-sample composite, the
// grading) accumulate relative errors near 1e-6 (measured on PoCL: at most 1.3e-6), so 2e-5
// relative leaves a wide margin while any changed constant of the model (all of them 2 to 3
// digits) moves a result by 1e-3 or more.
constexpr double kRelTolerance = 2e-5;
constexpr double kAbsTolerance = 1e-6;
// Branches of the model (a march step leaving the grid, a shadow sum passing 4, a light within
// half a cell) may go either way when float and double land this close to them (positions carry
// float errors near 1e-5 cells): states and pixels must stay clear by this much, so that no
// comparison straddles a branch.
constexpr double kBranchMargin = 1e-4;

constexpr int kN = 19;  // awkward on purpose, and tall enough for all four steps of the ambient walk

const char kShadeProbe[] = R"CLC(
// One visible sample: state = g.xyz, d, Tk, grad.xyz, unit view direction, step (12 floats);
// out = fire rgb, smoke rgb, alpha.
__kernel void cd_test_raymarch_shade(__global const CdRaymarchParams* params, __global const float* density,
                                     __global const float* temperature, __global const float* s,
                                     __global float* out) {
    if (get_global_id(0) != 0) return;
    const CdRaymarchParams P = *params;
    float fR, fG, fB, sR, sG, sB, alpha;
    cd_raymarch_shade(&P, density, temperature, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10],
                      s[11], &fR, &fG, &fB, &sR, &sG, &sB, &alpha);
    out[0] = fR; out[1] = fG; out[2] = fB; out[3] = sR; out[4] = sG; out[5] = sB; out[6] = alpha;
}
)CLC";

// ------------------------------------------------------------------------------------------------
// The reference, in double.

using Vec3 = std::array<double, 3>;
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double length(const Vec3& a) { return std::sqrt(dot(a, a)); }
double clampd(double x, double lo, double hi) { return std::min(std::max(x, lo), hi); }
double mixd(double a, double b, double t) { return a + (b - a) * t; }
double smoothstepd(double e0, double e1, double x) {
    const double t = clampd((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A scalar field of kN³ cells with the library's trilinear sampler: cell centres at integer + 0.5,
// clamped to the edge cells.
struct Field {
    std::vector<float> v;
    double at(int x, int y, int z) const { return v[(static_cast<size_t>(z) * kN + y) * kN + x]; }
    double sample(const Vec3& p) const {
        int i0[3], i1[3];
        double f[3];
        for (int a = 0; a < 3; ++a) {
            const double g = clampd(p[a] - 0.5, 0.0, kN - 1.0);
            i0[a] = static_cast<int>(std::floor(g));
            i1[a] = std::min(i0[a] + 1, kN - 1);
            f[a] = g - i0[a];
        }
        auto lerpX = [&](int y, int z) { return mixd(at(i0[0], y, z), at(i1[0], y, z), f[0]); };
        const double z0 = mixd(lerpX(i0[1], i0[2]), lerpX(i1[1], i0[2]), f[1]);
        const double z1 = mixd(lerpX(i0[1], i1[2]), lerpX(i1[1], i1[2]), f[1]);
        return mixd(z0, z1, f[2]);
    }
};

Vec3 blackbody(double kelvin) {
    const double t = kelvin * 0.01;
    const double r = t <= 66.0 ? 1.0 : clampd(1.292936 * std::pow(t - 60.0, -0.1332047), 0.0, 1.0);
    const double g = t <= 66.0 ? (t > 0.5 ? clampd(0.390081 * std::log(t) - 0.631841, 0.0, 1.0) : 0.0)
                               : clampd(1.129891 * std::pow(t - 60.0, -0.0755148), 0.0, 1.0);
    const double b = t >= 66.0 ? 1.0 : t < 19.0 ? 0.0 : clampd(0.543207 * std::log(t - 10.0) - 1.196254, 0.0, 1.0);
    return {r, g, b};
}

double hg(double cosTheta, double g) {
    const double den = std::max(1.0 + g * g - 2.0 * g * cosTheta, 1e-4);
    return (1.0 - g * g) / std::pow(den, 1.5);
}

// Density gathered along `dir` from g: the step grows by 1.5 each time, the walk stops when it
// leaves [0.5, N - 1) or the sum passes `limit`. Records how near it came to either branch.
double opticalDepth(const Field& f, const Vec3& g, const Vec3& dir, double first, int steps, double limit,
                    double* margin) {
    Vec3 p = g;
    double s = first, sum = 0.0;
    for (int i = 0; i < steps; ++i) {
        for (int a = 0; a < 3; ++a) p[a] += dir[a] * s;
        bool inside = true;
        for (int a = 0; a < 3; ++a) {
            *margin = std::min({*margin, std::fabs(p[a] - 0.5), std::fabs(p[a] - (kN - 1))});
            inside = inside && p[a] >= 0.5 && p[a] < kN - 1;
        }
        if (!inside) break;
        sum += f.sample(p) * s;
        s *= 1.5;
        if (limit < 1e30) *margin = std::min(*margin, std::fabs(sum - limit));
        if (sum > limit) break;
    }
    return sum;
}

struct Emission {
    Vec3 fire, smoke;
    double alpha;
};

Emission shadeReference(const CdRaymarchParams& P, const Field& dens, const Field& temp, const Vec3& g, double d,
                        double Tk, const Vec3& grad, const Vec3& V, double step, double* margin) {
    const Vec3 src{P.srcR, P.srcG, P.srcB}, mid{P.midR, P.midG, P.midB}, cSca{P.scaR, P.scaG, P.scaB};
    const double vd = P.volumeDensity;
    const double kRange = std::max(static_cast<double>(P.maxK) - P.minK, 1.0);
    const double T01 = clampd((Tk - P.minK) / kRange, 0.0, 1.0);
    Vec3 fireCol;
    if (P.colorMode == 1) {
        fireCol = blackbody(P.minK + std::pow(T01, static_cast<double>(P.fireGamma)) * kRange);
    } else {
        const double gInv = P.fireGamma > 0.01f ? 1.0 / P.fireGamma : 1.0;
        for (int c = 0; c < 3; ++c) fireCol[c] = mixd(mid[c], src[c], std::pow(T01, gInv));
    }
    const double fireMask =
        smoothstepd(P.burnCutoffCenter - 0.5 * P.burnCutoffWidth, P.burnCutoffCenter + 0.5 * P.burnCutoffWidth, T01);
    const double smk = P.smokeDensityMul * 0.01;
    const double fmEff = mixd(fireMask, fireMask * fireMask, 1.0 - smk);
    double fireStrength = T01 * P.fireIntensity * fmEff;

    Vec3 smoke;
    for (int c = 0; c < 3; ++c) smoke[c] = cSca[c] * P.smkBright * (1.0 - std::exp(-0.8 * d)) * smk;
    fireStrength *= 1.0 - 0.3 * (0.299 * cSca[0] + 0.587 * cSca[1] + 0.114 * cSca[2]) * smk;

    const double gl = length(grad);
    *margin = std::min(*margin, std::fabs(gl - 0.001));
    const Vec3 nrm = gl > 0.001 ? Vec3{-grad[0] / gl, -grad[1] / gl, -grad[2] / gl} : Vec3{0.0, -1.0, 0.0};
    const double ll = std::sqrt(0.3 * 0.3 + 1.0 + 0.2 * 0.2);
    const Vec3 L{0.3 / ll, -1.0 / ll, 0.2 / ll}, minusL{-L[0], -L[1], -L[2]};
    const double lobe = 0.5 * (P.scatterAnisotropy + 1.0);
    const double cosTheta = -dot(V, L);
    const double hgWeight = clampd(0.4 * mixd(hg(cosTheta, -0.3), hg(cosTheta, 0.8), lobe), 0.0, 2.0);
    double shade = (0.4 + 0.6 * std::max(0.0, dot(nrm, L))) * (0.6 + 0.7 * hgWeight) *
                   (0.5 + 0.5 * (1.0 - std::exp(-2.0 * d)));

    if (P.selfShadow > 0.001f || P.keyActive != 0) {
        Vec3 sL = minusL;
        if (P.keyActive != 0) {
            const Vec3 toL{P.keyLightX - g[0], P.keyLightY - g[1], P.keyLightZ - g[2]};
            const double tl = length(toL);
            *margin = std::min(*margin, std::fabs(tl - 0.5));
            if (tl > 0.5) sL = {toL[0] / tl, toL[1] / tl, toL[2] / tl};
        }
        const double shadowSum = opticalDepth(dens, g, sL, 1.5, 6, 4.0, margin);
        const double lightT = std::exp(-shadowSum * 0.4 * vd);
        if (P.selfShadow > 0.001f) {
            shade *= mixd(1.0, lightT, P.selfShadow);
            fireStrength *= mixd(1.0, std::sqrt(lightT), 0.5 * P.selfShadow);
        }
        if (P.keyActive != 0) {
            const double keyCosT = dot(V, sL);
            const double keyHG = mixd(hg(keyCosT, -0.2), hg(keyCosT, 0.75), lobe);
            const double powderBlend = mixd(1.0, 2.0 * (1.0 - std::exp(-2.0 * shadowSum)), P.volumetricDepth);
            const double silverBoost = 1.0 + 3.0 * std::max(0.0, -dot(V, sL) - 0.5) * P.volumetricDepth;
            const double keyDir =
                (0.25 + 0.75 * std::max(0.0, dot(nrm, sL))) * (0.4 + 0.6 * clampd(0.5 * keyHG, 0.0, 1.5));
            const Vec3 keyColor{P.keyColorR, P.keyColorG, P.keyColorB};
            for (int c = 0; c < 3; ++c)
                smoke[c] += cSca[c] * keyColor[c] * lightT * keyDir * powderBlend * silverBoost * P.keyIntensity * 1.2;
        }
    }
    for (double& c : smoke) c *= shade;

    if (P.ambientStrength > 0.001f) {
        const double sum = opticalDepth(dens, g, {0.0, -1.0, 0.0}, 2.0, 4, 4.0, margin);
        const Vec3 amb{P.ambColorR, P.ambColorG, P.ambColorB};
        for (int c = 0; c < 3; ++c) smoke[c] += cSca[c] * amb[c] * std::exp(-sum * 0.4 * vd) * P.ambientStrength;
    }
    if (P.fireLightStrength > 0.001f) {
        double r = std::max(2.0, kN / 64.0), w = 1.0, wT = 0.0, wW = 0.0;
        for (int ring = 0; ring < 3; ++ring) {
            double sum = 0.0;
            for (int a = 0; a < 3; ++a)
                for (double sign : {-1.0, 1.0}) {
                    Vec3 q = g;
                    q[a] += sign * r;
                    sum += temp.sample(q);
                }
            wT += sum / 6.0 * w;
            wW += w;
            r *= 2.6;
            w *= 0.55;
        }
        const double tAvg = wT / wW;
        const double bleed = clampd((tAvg - 500.0) / 1500.0, 0.0, 1.0);
        const Vec3 bb = blackbody(tAvg);
        if (bleed > 0.001)
            for (int c = 0; c < 3; ++c) smoke[c] += bb[c] * bleed * P.fireLightStrength * clampd(d * smk, 0.0, 1.0) * 0.5;
    }
    if (P.rimActive != 0 && P.rimStrength > 0.001f) {
        Vec3 rDir{P.rimLightX - g[0], P.rimLightY - g[1], P.rimLightZ - g[2]};
        const double rl = length(rDir);
        *margin = std::min(*margin, std::fabs(rl - 0.5));
        if (rl > 0.5) {
            for (double& c : rDir) c /= rl;
            const double rimT = std::exp(-opticalDepth(dens, g, rDir, 1.5, 6, 1e300, margin) * 0.4 * vd);
            const double gain =
                (1.0 - rimT) * P.rimStrength * P.rimIntensity * clampd(2.0 * d * smk, 0.0, 1.0) * 0.15;
            const Vec3 rimColor{P.rimColorR, P.rimColorG, P.rimColorB};
            for (int c = 0; c < 3; ++c) smoke[c] += clampd(rimColor[c] * gain, 0.0, 1.0);
        }
    }

    const double sigmaFire = d * P.densityMul * fmEff * vd;
    const double fadeMin = 0.15 * (1.0 - smk);
    const double edgeMask = mixd(1.0, smoothstepd(fadeMin, fadeMin + 0.6, d), 0.5 * (1.0 - smk));
    const double sigmaSmoke = d * P.densityMul * (1.0 - fireMask) * smk * edgeMask * vd;
    double alpha = 1.0 - std::exp(-(sigmaFire + sigmaSmoke) * step * P.gridFactorX);
    if (P.lifeSoftness > 0.001f) alpha = std::pow(alpha, 1.0 - 0.5 * P.lifeSoftness);

    Emission e;
    for (int c = 0; c < 3; ++c) {
        e.fire[c] = fireCol[c] * fireStrength * P.emissionMul;
        e.smoke[c] = smoke[c] * P.emissionMul;
    }
    e.alpha = alpha;
    return e;
}

double aces(double c) { return clampd(c * (2.51 * c + 0.03) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0); }

Vec3 gradeReference(const CdRaymarchParams& P, Vec3 c) {
    if (std::fabs(P.exposure) > 0.001f)
        for (double& x : c) x *= std::pow(2.0, static_cast<double>(P.exposure));
    const Vec3 tint{P.tintR, P.tintG, P.tintB};
    for (int k = 0; k < 3; ++k) c[k] *= tint[k];
    if (std::fabs(P.hueShift) > 0.001f) {
        const double Y = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
        const double I = 0.596 * c[0] - 0.275 * c[1] - 0.321 * c[2];
        const double Q = 0.212 * c[0] - 0.523 * c[1] + 0.311 * c[2];
        const double cs = std::cos(static_cast<double>(P.hueShift)), sn = std::sin(static_cast<double>(P.hueShift));
        const double I2 = I * cs - Q * sn, Q2 = I * sn + Q * cs;
        c = {Y + 0.956 * I2 + 0.621 * Q2, Y - 0.272 * I2 - 0.647 * Q2, Y - 1.106 * I2 + 1.703 * Q2};
        for (double& x : c) x = std::max(x, 0.0);
    }
    if (P.saturation < 0.99f || P.saturation > 1.01f) {
        const double luma = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
        for (double& x : c) x = std::max(luma + (x - luma) * P.saturation, 0.0);
    }
    if (P.brightnessFlicker > 0.001f) {
        const double t = P.gradeTime;
        const double f = 0.5 * std::sin(7.13 * t) + 0.3 * std::sin(17.43 * t) + 0.2 * std::sin(31.07 * t);
        for (double& x : c) x *= std::max(0.0, 1.0 + f * P.brightnessFlicker);
    }
    for (double& x : c) x = std::pow(aces(x), 1.0 / 2.2);
    return c;
}

// One pixel's single ray, marched, shaded, composited and graded as the march does it (no detail
// noise, no embers, no empty-space skipping). Returns (r, g, b, coverage).
std::array<double, 4> marchReference(const CdRaymarchParams& P, const Field& dens, const Field& temp, int x, int y,
                                     double* margin) {
    const double compX = (x + 0.5) / P.W * P.compW, compY = (y + 0.5) / P.H * P.compH;
    const double u = (compX - 0.5 * P.compW) / P.camZoom, v = (compY - 0.5 * P.compH) / P.camZoom;
    Vec3 dir{u * P.camRightX + v * P.camUpX + P.camFwdX, u * P.camRightY + v * P.camUpY + P.camFwdY,
             u * P.camRightZ + v * P.camUpZ + P.camFwdZ};
    const double dl = length(dir);
    for (double& c : dir) c /= dl;
    const Vec3 cam{P.camPosX, P.camPosY, P.camPosZ};
    const Vec3 factor{P.gridFactorX, P.gridFactorY, P.gridFactorZ};
    const Vec3 offset{P.gridOffsetXY, P.gridOffsetXY, 0.5 * P.N};
    double tNear = -1e30, tFar = 1e30;
    for (int a = 0; a < 3; ++a) {
        const double t0 = ((0.0 - offset[a]) / factor[a] - cam[a]) / dir[a];
        const double t1 = ((P.N - offset[a]) / factor[a] - cam[a]) / dir[a];
        tNear = std::max(tNear, std::min(t0, t1));
        tFar = std::min(tFar, std::max(t0, t1));
    }
    tNear = std::max(tNear, 0.0);
    const double step = (tFar - tNear) / P.sampleCount;
    const double f = 0.06711056 * x + 0.00583715 * y;
    const double j = 52.9829189 * (f - std::floor(f));
    const double jitter = j - std::floor(j);

    double T = 1.0;
    Vec3 col{0.0, 0.0, 0.0};
    for (int i = 0; i < P.sampleCount; ++i) {
        Vec3 g;
        bool inside = true;
        for (int a = 0; a < 3; ++a) {
            g[a] = (cam[a] + dir[a] * (tNear + (jitter + i) * step)) * factor[a] + offset[a];
            *margin = std::min({*margin, std::fabs(g[a]), std::fabs(g[a] - (P.N - 1))});
            inside = inside && g[a] >= 0.0 && g[a] <= P.N - 1;
        }
        if (!inside) continue;
        double d = dens.sample(g);
        const double Tk = temp.sample(g);  // every test temperature is far above 1 K: all samples are visible
        if (P.densityContrast < 0.999f || P.densityContrast > 1.001f) d = std::pow(std::max(d, 0.0), P.densityContrast);
        if (P.opacityThreshold > 0.001f) d *= smoothstepd(P.opacityThreshold, P.opacityThreshold + 0.02, d);
        Vec3 grad;
        for (int a = 0; a < 3; ++a) {
            Vec3 hi = g, lo = g;
            hi[a] += 1.5;
            lo[a] -= 1.5;
            grad[a] = dens.sample(hi) - dens.sample(lo);
        }
        const Emission e = shadeReference(P, dens, temp, g, d, Tk, grad, dir, step, margin);
        const Vec3 tint{0.6, 1.0, 1.2};
        for (int c = 0; c < 3; ++c) {
            const double boost = P.blendMode == 2 ? T + (1.0 - T) * P.blendStrength * tint[c] : T;
            col[c] += (boost * e.fire[c] + T * e.smoke[c]) * e.alpha;
        }
        T *= 1.0 - e.alpha;
        *margin = std::min(*margin, std::fabs(T - 0.005));
        if (T < 0.005) break;
    }
    const Vec3 graded = gradeReference(P, col);
    return {graded[0], graded[1], graded[2], 1.0 - T};
}

// ------------------------------------------------------------------------------------------------
// Scene and settings.

// Smoke that varies on every axis (so gradients, shadows and light walks see structure) around a
// hot core near (5, 6, 7), everything above 300 K.
Field densityField() {
    Field f{std::vector<float>(static_cast<size_t>(kN) * kN * kN)};
    for (int z = 0; z < kN; ++z)
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x)
                f.v[(static_cast<size_t>(z) * kN + y) * kN + x] =
                    static_cast<float>(0.35 + 0.2 * std::sin(0.7 * x + 0.3 * z) * std::cos(0.45 * y));
    return f;
}
Field temperatureField() {
    Field f{std::vector<float>(static_cast<size_t>(kN) * kN * kN)};
    for (int z = 0; z < kN; ++z)
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                const double r2 = (x - 5) * (x - 5) + (y - 6) * (y - 6) + 0.6 * (z - 7) * (z - 7);
                f.v[(static_cast<size_t>(z) * kN + y) * kN + x] = static_cast<float>(320.0 + 2600.0 * std::exp(-r2 / 14.0));
            }
    return f;
}

// Every light and optional term off, grading neutral; the camera looks along +z at a 130 × 117
// composition mapped onto the grid (130/19 and 117/19 composition pixels per cell).
CdRaymarchParams baseParams() {
    CdRaymarchParams P;
    std::memset(&P, 0, sizeof P);
    P.W = 6;
    P.H = 5;
    P.N = kN;
    P.compW = 130;
    P.compH = 117;
    P.camPosX = 65.0f;
    P.camPosY = 58.5f;
    P.camPosZ = -1.39f * 130.0f;
    P.camFwdZ = 1.0f;
    P.camRightX = 1.0f;
    P.camUpY = 1.0f;
    P.camZoom = 1.39f * 130.0f;
    P.gridFactorX = P.gridFactorZ = kN / 130.0f;
    P.gridFactorY = kN / 117.0f;
    P.densityMul = 1.0f;
    P.emissionMul = 5.0f;
    P.sampleCount = 40;
    P.detailScale = 20.0f;
    P.detailOctaves = 3;
    P.ssaaCount = 1;
    P.colorMode = 1;
    P.minK = 500.0f;
    P.maxK = 3000.0f;
    P.fireGamma = 1.0f;
    P.fireIntensity = 1.0f;
    P.srcR = 1.0f, P.srcG = 0.9f, P.srcB = 0.5f;
    P.midR = 1.0f, P.midG = 0.4f, P.midB = 0.1f;
    P.scaR = 0.5f, P.scaG = 0.45f, P.scaB = 0.4f;
    P.smokeDensityMul = 100.0f;
    P.smkBright = 0.3f;
    P.burnCutoffCenter = 0.3f;
    P.burnCutoffWidth = 0.3f;
    P.tintR = P.tintG = P.tintB = 1.0f;
    P.saturation = 1.0f;
    P.densityContrast = 1.0f;
    P.volumeDensity = 1.0f;
    P.blendMode = 1;
    P.keyColorR = 1.0f, P.keyColorG = 0.8f, P.keyColorB = 0.6f;
    P.keyIntensity = 1.5f;
    P.ambColorR = 0.3f, P.ambColorG = 0.4f, P.ambColorB = 0.7f;
    P.rimColorR = 0.4f, P.rimColorG = 0.7f, P.rimColorB = 1.0f;
    P.rimIntensity = 2.0f;
    return P;
}

using Tweak = void (*)(CdRaymarchParams&);

struct ShadeCase {
    const char* what;
    Vec3 g;     // grid position
    double d;   // density after sampling (the field's own value is not used for the sample itself)
    double Tk;  // kelvin
    Vec3 view;  // ray direction, normalised below
    Tweak tweak;
};

// clang-format off
const ShadeCase kShadeCases[] = {
    {"blackbody fire with gamma, half-open fire mask", {5.2, 6.3, 7.1}, 0.6, 1450.0, {0.1, 0.05, 1.0},
     [](CdRaymarchParams& P) { P.fireGamma = 1.7f; P.fireIntensity = 1.3f; P.smokeDensityMul = 65.0f; }},
    {"blackbody above 6600 K, past the top of the ramp", {4.7, 5.6, 6.4}, 0.3, 5500.0, {-0.2, 0.1, 1.0},
     [](CdRaymarchParams& P) { P.maxK = 9000.0f; P.fireGamma = 0.5f; P.burnCutoffWidth = 0.05f; }},
    {"custom ramp, gamma 0.6, thin smoke", {6.1, 4.4, 5.3}, 0.25, 1900.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.colorMode = 2; P.fireGamma = 0.6f; P.smokeDensityMul = 40.0f; P.smkBright = 0.8f; }},
    {"custom ramp with gamma near 0 uses a linear ramp", {6.1, 4.4, 5.3}, 0.25, 1300.0, {0.0, 0.3, 1.0},
     [](CdRaymarchParams& P) { P.colorMode = 2; P.fireGamma = 0.005f; }},
    {"cold smoke: self-emission and built-in light only", {3.3, 8.2, 2.6}, 0.7, 400.0, {0.3, -0.2, 1.0},
     [](CdRaymarchParams& P) { P.smkBright = 1.2f; P.scatterAnisotropy = 0.6f; P.scaR = 0.9f; }},
    {"self shadow toward the ground", {7.4, 3.2, 6.8}, 0.5, 1700.0, {0.0, -0.4, 1.0},
     [](CdRaymarchParams& P) { P.selfShadow = 0.8f; P.scatterAnisotropy = -0.5f; }},
    {"key light with powder and silver lining", {6.6, 5.1, 4.2}, 0.45, 700.0, {0.2, 0.1, 1.0},
     [](CdRaymarchParams& P) {
         P.keyActive = 1; P.keyLightX = 3.0f; P.keyLightY = 2.5f; P.keyLightZ = -6.0f;
         P.volumetricDepth = 0.7f; P.scatterAnisotropy = -0.4f; P.selfShadow = 0.3f; }},
    {"key light within half a cell marches away from the built-in light", {6.6, 5.1, 4.2}, 0.45, 700.0,
     {0.2, 0.1, 1.0},
     [](CdRaymarchParams& P) {
         P.keyActive = 1; P.keyLightX = 6.8f; P.keyLightY = 5.3f; P.keyLightZ = 4.0f; P.volumetricDepth = 0.4f; }},
    {"ambient pickup from above, thin enough for all four steps", {5.0, 17.6, 5.7}, 0.55, 450.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.ambientStrength = 0.7f; P.volumeDensity = 1.6f; }},
    {"fire lights nearby smoke", {8.3, 7.2, 9.4}, 0.65, 380.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.fireLightStrength = 0.9f; P.smokeDensityMul = 80.0f; }},
    {"rim light behind the smoke", {6.2, 6.9, 5.5}, 0.4, 600.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) {
         P.rimActive = 1; P.rimLightX = 10.5f; P.rimLightY = 4.0f; P.rimLightZ = 11.0f; P.rimStrength = 1.5f; }},
    {"life softness and a thin, low-density smoke", {2.4, 3.6, 9.9}, 0.2, 1100.0, {0.1, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.lifeSoftness = 0.7f; P.smokeDensityMul = 30.0f; P.volumeDensity = 0.6f; }},
    {"no smoke: fire absorbs with the squared mask only", {5.0, 6.0, 7.0}, 0.5, 1200.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.smokeDensityMul = 0.0f; }},
    {"at the ramp's bottom: no fire", {5.0, 6.0, 7.0}, 0.5, 480.0, {0.0, 0.0, 1.0},
     [](CdRaymarchParams& P) { P.smkBright = 0.6f; }},
};

struct MarchCase {
    const char* what;
    Tweak tweak;
};

const MarchCase kMarchCases[] = {
    {"normal blend, neutral grading", [](CdRaymarchParams&) {}},
    {"additive fire blend", [](CdRaymarchParams& P) { P.blendMode = 2; P.blendStrength = 0.8f; }},
    {"density contrast and opacity threshold",
     [](CdRaymarchParams& P) { P.densityContrast = 0.6f; P.opacityThreshold = 0.45f; }},
    {"custom ramp through the whole grading",
     [](CdRaymarchParams& P) {
         P.colorMode = 2; P.fireGamma = 1.4f; P.blendMode = 2; P.blendStrength = 0.5f; P.densityContrast = 1.8f;
         P.exposure = -0.7f; P.tintR = 0.9f; P.tintG = 1.1f; P.tintB = 0.8f; P.hueShift = 0.6f;
         P.saturation = 1.4f; P.brightnessFlicker = 0.5f; P.gradeTime = 1.3f; }},
    {"every light on", [](CdRaymarchParams& P) {
         P.selfShadow = 0.6f; P.keyActive = 1; P.keyLightX = 14.0f; P.keyLightY = -3.0f; P.keyLightZ = 2.0f;
         P.volumetricDepth = 0.5f; P.ambientStrength = 0.4f; P.fireLightStrength = 0.6f; P.rimActive = 1;
         P.rimLightX = -2.0f; P.rimLightY = 6.0f; P.rimLightZ = 15.0f; P.rimStrength = 1.0f; P.lifeSoftness = 0.4f; }},
};
// clang-format on

bool near(double device, double reference) {
    return std::fabs(device - reference) <= kAbsTolerance + kRelTolerance * std::fabs(reference);
}

class RaymarchShading : public cltest::ClKernelTest {
protected:
    RaymarchShading() : ClKernelTest(kShadeProbe) {}

    cltest::ClBuffer uploadParams(const CdRaymarchParams& p) {
        std::vector<float> words(sizeof(CdRaymarchParams) / sizeof(float));
        std::memcpy(words.data(), &p, sizeof(CdRaymarchParams));
        return upload(words);
    }

    const Field dens_ = densityField();
    const Field temp_ = temperatureField();
};

TEST_F(RaymarchShading, SampleShadingMatchesTheModel) {
    cltest::ClBuffer density = upload(dens_.v), temperature = upload(temp_.v);
    for (const ShadeCase& c : kShadeCases) {
        SCOPED_TRACE(c.what);
        CdRaymarchParams P = baseParams();
        c.tweak(P);
        Vec3 V = c.view;
        const double vl = length(V);
        for (double& x : V) x /= vl;
        Vec3 grad;
        for (int a = 0; a < 3; ++a) {
            Vec3 hi = c.g, lo = c.g;
            hi[a] += 1.5;
            lo[a] -= 1.5;
            grad[a] = dens_.sample(hi) - dens_.sample(lo);
        }
        const double step = 8.0;  // world units, 0.8 cells
        const std::vector<float> state = {
            float(c.g[0]), float(c.g[1]), float(c.g[2]), float(c.d),    float(c.Tk),   float(grad[0]),
            float(grad[1]), float(grad[2]), float(V[0]),  float(V[1]), float(V[2]), float(step)};
        cltest::ClBuffer params = uploadParams(P), in = upload(state), out = output(7);
        ASSERT_TRUE(run("cd_test_raymarch_shade", cltest::Range::linear(1, 1), params, density, temperature, in, out));
        const std::vector<float> k = read(out);

        // The reference sees the state as the device does: the rounded floats.
        Vec3 g, Vf, gradf;
        for (int a = 0; a < 3; ++a) {
            g[a] = state[a];
            gradf[a] = state[5 + a];
            Vf[a] = state[8 + a];
        }
        double margin = 1e30;
        const Emission e = shadeReference(P, dens_, temp_, g, state[3], state[4], gradf, Vf, state[11], &margin);
        ASSERT_GT(margin, kBranchMargin) << "the state sits on a branch of the model; choose another";
        const double ref[7] = {e.fire[0], e.fire[1], e.fire[2], e.smoke[0], e.smoke[1], e.smoke[2], e.alpha};
        static const char* kNames[7] = {"fire r", "fire g", "fire b", "smoke r", "smoke g", "smoke b", "alpha"};
        for (int i = 0; i < 7; ++i) EXPECT_PRED2(near, k[i], ref[i]) << kNames[i];
        // Non-vacuity: every case emits and absorbs something.
        EXPECT_GT(e.alpha, 0.01);
        EXPECT_GT(e.smoke[0] + e.fire[0], 0.01);
    }
}

TEST_F(RaymarchShading, MarchedAndGradedPixelsMatchTheModel) {
    cltest::ClBuffer density = upload(dens_.v), temperature = upload(temp_.v);
    const size_t cells = dens_.v.size();
    cltest::ClBuffer ember = upload(std::vector<float>(cells, 0.0f));
    cltest::ClBuffer velocity = upload(std::vector<float>(4 * cells, 0.0f));
    for (const MarchCase& c : kMarchCases) {
        SCOPED_TRACE(c.what);
        CdRaymarchParams P = baseParams();
        c.tweak(P);
        const size_t pixels = static_cast<size_t>(P.W) * P.H;
        cltest::ClBuffer params = uploadParams(P), image = output(4 * pixels), velOut = output(2 * pixels);
        ASSERT_TRUE(run("cd_raymarch", cltest::Range::grid2(P.W, P.H), image, density, temperature, ember, velocity,
                        velOut, density, density, params));
        const std::vector<float> k = read(image);
        int compared = 0;
        for (int y = 0; y < P.H; ++y)
            for (int x = 0; x < P.W; ++x) {
                double margin = 1e30;
                const std::array<double, 4> ref = marchReference(P, dens_, temp_, x, y, &margin);
                if (margin < kBranchMargin) continue;  // a sample on the grid's edge: either count is right
                ++compared;
                for (int ch = 0; ch < 4; ++ch)
                    EXPECT_PRED2(near, k[(static_cast<size_t>(y) * P.W + x) * 4 + ch], ref[ch])
                        << "pixel " << x << ", " << y << " channel " << ch;
                EXPECT_GT(ref[3], 0.2) << "every pixel looks through the grid";
            }
        EXPECT_GE(compared, static_cast<int>(pixels) / 2);
    }
}

}  // namespace
