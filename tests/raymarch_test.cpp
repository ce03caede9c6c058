// The ray march against a double-precision reference of the shading model: whole pixels through a
// smooth 19³ grid (fire, smoke, lights, compositing, sub-pixels, grading) and one sample's render-
// time detail (erosion, flame tongues, flow advection), each case strong enough that a changed
// constant moves the result far beyond the tolerance. Then what needs no formula: nothing visible
// is exactly transparent, skipping empty space changes no byte, launches repeat, velocity output.
#include "render/raymarch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "cl_harness.h"
#include "kernels/raymarch_params.h"
#include "sim_fixture.h"

namespace {

// Float under -cl-fast-relaxed-math against double: the longest chains (a 6-step shadow march, a
// 40-sample composite, the grading) stay near 1e-6 relative (PoCL: at most 1.3e-6).
constexpr double kRelTolerance = 2e-5, kAbsTolerance = 1e-6;
// Positions carry float errors near 1e-5 cells: states and pixels stay this far from every branch
// (a step leaving the grid, a sum passing its limit), so float and double take the same side.
constexpr double kBranchMargin = 1e-4;
// The detail's noise is read at the device's float position and at the reference's double one;
// its slope (about 6 per unit at the octaves the footprint keeps) makes that 1e-5: 2e-4 relative.
constexpr double kDetailTolerance = 2e-4;

constexpr int kN = 19;  // awkward on purpose, and tall enough for all four steps of the ambient walk

const char kProbes[] = R"CLC(
// The offset of the block's last field and the block's size: with every field 4 bytes wide, equal
// values on host and device mean the same packing.
__kernel void cd_test_raymarch_layout(__global float* out) {
    CdRaymarchParams p;
    out[0] = (float)((char*)&p.lifeSoftness - (char*)&p);
    out[1] = (float)sizeof(CdRaymarchParams);
}
// state = g.xyz, footprint, d, Tk; out = d, Tk after the detail step.
__kernel void cd_test_raymarch_detail(__global const CdRaymarchParams* params, __global const float4* velocity,
                                      __global const float* s, __global float* out) {
    if (get_global_id(0) != 0) return;
    const CdRaymarchParams P = *params;
    float d = s[4], Tk = s[5];
    cd_raymarch_detail(&P, velocity, s[0], s[1], s[2], s[3], &d, &Tk);
    out[0] = d;
    out[1] = Tk;
}
// The two noises of the detail step at a noise-space position and footprint (p.xyz, wBase).
__kernel void cd_test_detail_noise(__global const float* p, int octaves, __global float* out) {
    if (get_global_id(0) != 0) return;
    float v, gx, gy, gz;
    cd_swiss_blf(p[0], p[1], p[2], octaves, p[3], &v, &gx, &gy, &gz);
    out[0] = v;
    out[1] = cd_ridged_blf(p[0], p[1], p[2], octaves, p[3]);
}
)CLC";

using Vec3 = std::array<double, 3>;
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double length(const Vec3& a) { return std::sqrt(dot(a, a)); }
double clampd(double x, double lo, double hi) { return std::min(std::max(x, lo), hi); }
double mixd(double a, double b, double t) { return a + (b - a) * t; }
double smoothstepd(double e0, double e1, double x) {
    const double t = clampd((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A field of n³ cells with `comps` floats per cell, sampled trilinearly as the library does.
struct Field {
    int n = kN, comps = 1;
    std::vector<float> v;
    double at(int x, int y, int z, int c) const { return v[((static_cast<size_t>(z) * n + y) * n + x) * comps + c]; }
    double sample(const Vec3& p, int c = 0) const { return simtest::sampleRef(v, n, comps, c, p[0], p[1], p[2]); }
};

template <class F>
Field makeField(int n, int comps, F f) {
    Field out{n, comps, {}};
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                for (int c = 0; c < comps; ++c) out.v.push_back(static_cast<float>(f(x, y, z, c)));
    return out;
}

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
        bool inside = true;
        for (int a = 0; a < 3; ++a) {
            p[a] += dir[a] * s;
            *margin = std::min({*margin, std::fabs(p[a] - 0.5), std::fabs(p[a] - (f.n - 1))});
            inside = inside && p[a] >= 0.5 && p[a] < f.n - 1;
        }
        if (!inside) break;
        sum += f.sample(p) * s;
        s *= 1.5;
        *margin = std::min(*margin, std::fabs(sum - limit));
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
    const double vd = P.volumeDensity, kRange = std::max(static_cast<double>(P.maxK) - P.minK, 1.0);
    const double T01 = clampd((Tk - P.minK) / kRange, 0.0, 1.0), smk = P.smokeDensityMul * 0.01;
    Vec3 fireCol;
    if (P.colorMode == 1) {
        fireCol = blackbody(P.minK + std::pow(T01, static_cast<double>(P.fireGamma)) * kRange);
    } else {
        const double gInv = P.fireGamma > 0.01f ? 1.0 / P.fireGamma : 1.0;
        for (int c = 0; c < 3; ++c) fireCol[c] = mixd(mid[c], src[c], std::pow(T01, gInv));
    }
    const double fireMask =
        smoothstepd(P.burnCutoffCenter - 0.5 * P.burnCutoffWidth, P.burnCutoffCenter + 0.5 * P.burnCutoffWidth, T01);
    const double fmEff = mixd(fireMask, fireMask * fireMask, 1.0 - smk);
    double fireStrength = T01 * P.fireIntensity * fmEff;
    Vec3 smoke;
    for (int c = 0; c < 3; ++c) smoke[c] = cSca[c] * P.smkBright * (1.0 - std::exp(-0.8 * d)) * smk;
    fireStrength *= 1.0 - 0.3 * (0.299 * cSca[0] + 0.587 * cSca[1] + 0.114 * cSca[2]) * smk;

    const double gl = length(grad);
    *margin = std::min(*margin, std::fabs(gl - 0.001));
    const Vec3 nrm = gl > 0.001 ? Vec3{-grad[0] / gl, -grad[1] / gl, -grad[2] / gl} : Vec3{0.0, -1.0, 0.0};
    const double ll = std::sqrt(0.3 * 0.3 + 1.0 + 0.2 * 0.2), lobe = 0.5 * (P.scatterAnisotropy + 1.0);
    const Vec3 L{0.3 / ll, -1.0 / ll, 0.2 / ll};  // the built-in light, from above
    const double cosTheta = -dot(V, L);
    const double hgWeight = clampd(0.4 * mixd(hg(cosTheta, -0.3), hg(cosTheta, 0.8), lobe), 0.0, 2.0);
    double shade = (0.4 + 0.6 * std::max(0.0, dot(nrm, L))) * (0.6 + 0.7 * hgWeight) *
                   (0.5 + 0.5 * (1.0 - std::exp(-2.0 * d)));

    if (P.selfShadow > 0.001f || P.keyActive != 0) {
        Vec3 sL{-L[0], -L[1], -L[2]};
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
            const double silverBoost = 1.0 + 3.0 * std::max(0.0, -keyCosT - 0.5) * P.volumetricDepth;
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
        for (int ring = 0; ring < 3; ++ring, r *= 2.6, w *= 0.55) {
            double sum = 0.0;
            for (int a = 0; a < 3; ++a)
                for (double sign : {-1.0, 1.0}) {
                    Vec3 q = g;
                    q[a] += sign * r;
                    sum += temp.sample(q);
                }
            wT += sum / 6.0 * w;
            wW += w;
        }
        const double tAvg = wT / wW, bleed = clampd((tAvg - 500.0) / 1500.0, 0.0, 1.0);
        const Vec3 bb = blackbody(tAvg);
        if (bleed > 0.001)
            for (int c = 0; c < 3; ++c) smoke[c] += bb[c] * bleed * P.fireLightStrength * clampd(d * smk, 0, 1) * 0.5;
    }

    const double fadeMin = 0.15 * (1.0 - smk);
    const double edgeMask = mixd(1.0, smoothstepd(fadeMin, fadeMin + 0.6, d), 0.5 * (1.0 - smk));
    const double sigma = d * P.densityMul * vd * (fmEff + (1.0 - fireMask) * smk * edgeMask);
    Emission e{{}, {}, 1.0 - std::exp(-sigma * step * P.gridFactorX)};
    if (P.lifeSoftness > 0.001f) e.alpha = std::pow(e.alpha, 1.0 - 0.5 * P.lifeSoftness);
    for (int c = 0; c < 3; ++c) e.fire[c] = fireCol[c] * fireStrength * P.emissionMul,
                                e.smoke[c] = smoke[c] * P.emissionMul;
    return e;
}

double aces(double c) { return clampd(c * (2.51 * c + 0.03) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0); }

Vec3 gradeReference(const CdRaymarchParams& P, Vec3 c) {
    const double exposure = std::fabs(P.exposure) > 0.001f ? std::pow(2.0, static_cast<double>(P.exposure)) : 1.0;
    const Vec3 tint{P.tintR, P.tintG, P.tintB};
    for (int k = 0; k < 3; ++k) c[k] *= exposure * tint[k];
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
    const double t = P.gradeTime, f = 0.5 * std::sin(7.13 * t) + 0.3 * std::sin(17.43 * t) + 0.2 * std::sin(31.07 * t);
    const double flicker = P.brightnessFlicker > 0.001f ? std::max(0.0, 1.0 + f * P.brightnessFlicker) : 1.0;
    for (double& x : c) x = std::pow(aces(x * flicker), 1.0 / 2.2);
    return c;
}

// One pixel, marched, shaded, composited and graded as the march does it (no detail noise, no
// embers, no empty-space skipping): each of the ssaa² rays on its regular sub-pixel grid with its
// own jitter, averaged before grading. Returns (r, g, b, coverage).
std::array<double, 4> marchReference(const CdRaymarchParams& P, const Field& dens, const Field& temp, int x, int y,
                                     double* margin) {
    const int n = std::max(P.ssaaCount, 1);
    const Vec3 cam{P.camPosX, P.camPosY, P.camPosZ}, factor{P.gridFactorX, P.gridFactorY, P.gridFactorZ};
    const Vec3 offset{P.gridOffsetXY, P.gridOffsetXY, 0.5 * P.N};
    Vec3 col{0.0, 0.0, 0.0};
    double coverage = 0.0;
    for (int s = 0; s < n * n; ++s) {
        const double spx = n == 1 ? 0.0 : (s % n + 0.5) / n - 0.5, spy = n == 1 ? 0.0 : (s / n + 0.5) / n - 0.5;
        const double u = ((x + 0.5 + spx) / P.W * P.compW - 0.5 * P.compW) / P.camZoom;
        const double v = ((y + 0.5 + spy) / P.H * P.compH - 0.5 * P.compH) / P.camZoom;
        Vec3 dir{u * P.camRightX + v * P.camUpX + P.camFwdX, u * P.camRightY + v * P.camUpY + P.camFwdY,
                 u * P.camRightZ + v * P.camUpZ + P.camFwdZ};
        const double dl = length(dir);
        for (double& c : dir) c /= dl;
        double tNear = -1e30, tFar = 1e30;
        for (int a = 0; a < 3; ++a) {
            const double t0 = ((0.0 - offset[a]) / factor[a] - cam[a]) / dir[a];
            const double t1 = ((P.N - offset[a]) / factor[a] - cam[a]) / dir[a];
            tNear = std::max(tNear, std::min(t0, t1));
            tFar = std::min(tFar, std::max(t0, t1));
        }
        tNear = std::max(tNear, 0.0);
        const double step = (tFar - tNear) / P.sampleCount;
        const double f = 0.06711056 * (x + 5.588238 * s) + 0.00583715 * (y + 5.588238 * s);
        const double j = 52.9829189 * (f - std::floor(f)), jitter = j - std::floor(j);
        if (f != 0.0) *margin = std::min({*margin, jitter, 1.0 - jitter});  // f = 0 is exact on both sides
        double T = 1.0;
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
            if (std::fabs(P.densityContrast - 1.0f) > 0.001f) d = std::pow(std::max(d, 0.0), P.densityContrast);
            if (P.opacityThreshold > 0.001f) d *= smoothstepd(P.opacityThreshold, P.opacityThreshold + 0.02, d);
            Vec3 grad, hi = g, lo = g;
            for (int a = 0; a < 3; ++a, hi = lo = g) {
                hi[a] += 1.5, lo[a] -= 1.5;
                grad[a] = dens.sample(hi) - dens.sample(lo);
            }
            const Emission e = shadeReference(P, dens, temp, g, d, Tk, grad, dir, step, margin);
            const Vec3 tint{0.6, 1.0, 1.2};
            for (int c = 0; c < 3; ++c) {
                const double boost = P.blendMode == 2 ? T + (1.0 - T) * P.blendStrength * tint[c] : T;
                col[c] += (boost * e.fire[c] + T * e.smoke[c]) * e.alpha;
            }
            T *= 1.0 - e.alpha;
            *margin = std::min(*margin, std::fabs(T / 0.005 - 1.0));  // T carries relative, not absolute, errors
            if (T < 0.005) break;
        }
        coverage += 1.0 - T;
    }
    for (double& c : col) c /= n * n;
    const Vec3 graded = gradeReference(P, col);
    return {graded[0], graded[1], graded[2], coverage / (n * n)};
}

// The render-time detail, first half: a sample's noise-space position and footprint (advection
// along the flow, then the warp along the local flow).
std::array<double, 4> detailNoisePosition(const CdRaymarchParams& P, const Field& vel, const Vec3& g, double footW,
                                          double* margin) {
    const double ds = std::max<double>(P.detailScale, 5.0), advectScale = 2.0 * P.fbmFlow;
    Vec3 sp = g;
    if (advectScale > 0.001) {
        const int substeps = P.fbmFlow > 0.8f ? 5 : (P.fbmFlow > 0.5f ? 3 : 1);
        const double stepT = P.detailTime * advectScale / substeps;
        for (int k = 0; k < substeps; ++k) {
            Vec3 disp{vel.sample(sp, 0) * stepT, vel.sample(sp, 1) * stepT, vel.sample(sp, 2) * stepT};
            const double len = length(disp);
            *margin = std::min(*margin, std::fabs(len - 1.5));
            for (int a = 0; a < 3; ++a) sp[a] -= len > 1.5 ? disp[a] * 1.5 / len : disp[a];
        }
    }
    const Vec3 w{vel.sample(sp, 0), vel.sample(sp, 1), vel.sample(sp, 2)};
    const double wLen = length(w), inv = 1.3 / ds;
    *margin = std::min({*margin, std::fabs(wLen - 0.001), std::fabs(0.035 * wLen - 0.18 * ds)});
    const double shift = wLen > 0.001 ? std::min(0.035 * wLen, 0.18 * ds) / wLen : 0.0;
    return {(sp[0] + w[0] * shift) * inv, (sp[1] + w[1] * shift) * inv, (sp[2] + w[2] * shift) * inv,
            inv * footW * P.gridFactorX};
}

// Second half: erosion of the density and flame tongues on the temperature from the two noises.
std::array<double, 2> detailApply(const CdRaymarchParams& P, double gy, double d, double Tk, double swiss,
                                  double ridged, double* margin) {
    const double tN = (Tk - 300.0) / 2400.0, sN = clampd(P.detailStrength / 150.0, 0.0, 1.0);
    const double heightFrac = clampd(1.0 - gy / P.N, 0.0, 1.0);
    const double eAmt = std::min(1.15 * sN, 1.0) * heightFrac * smoothstepd(0.04, 0.30, tN) *
                        (1.0 - smoothstepd(0.75, 1.0, tN));
    const double hotGate = smoothstepd(0.15, 0.55, tN);
    if (eAmt > 0.0) {
        const double tE = std::min(eAmt * std::pow(1.0 - swiss, 1.35), 0.95);
        const double dN = 1.0 - std::exp(-1.6 * d);
        *margin = std::min({*margin, std::fabs(tE - 0.95), std::fabs(dN - tE), std::fabs(dN - 1e-4)});
        if (dN > 1e-4) d *= clampd((dN - tE) / std::max(1.0 - tE, 1e-4), 0.0, 1.0) / dN;
    }
    if (hotGate > 0.0) Tk *= 1.0 + 0.90 * (1.0 - std::exp(-2.2 * sN)) * (ridged - 0.35) * hotGate;
    return {d, Tk};
}

// Smoke that varies on every axis around a hot core near (5, 6, 7), everything above 300 K; a
// flow that is still where x < 2.5 and grows with z from about 2 to 35 cells per second.
const Field kDensity = makeField(kN, 1, [](int x, int y, int z, int) {
    return 0.35 + 0.2 * std::sin(0.7 * x + 0.3 * z) * std::cos(0.45 * y);
});
const Field kTemperature = makeField(kN, 1, [](int x, int y, int z, int) {
    return 320.0 + 2600.0 * std::exp(-((x - 5) * (x - 5) + (y - 6) * (y - 6) + 0.6 * (z - 7) * (z - 7)) / 14.0);
});
const Field kVelocity = makeField(kN, 4, [](int x, int y, int z, int c) {
    if (x < 3 || c == 3) return 0.0;
    const double k[3] = {std::sin(0.4 * x + 0.3 * y), -1.5 - 0.5 * std::cos(0.35 * z + 0.2 * x),
                         0.6 * std::cos(0.5 * y)};
    return (2.0 + 1.8 * z) * k[c];
});

// The camera looks along +z at a compW × compH composition mapped onto an n³ grid.
CdRaymarchParams viewParams(int n, int W, int H, int compW, int compH) {
    CdRaymarchParams P;
    std::memset(&P, 0, sizeof P);
    P.W = W, P.H = H, P.N = n, P.compW = compW, P.compH = compH, P.ssaaCount = 1;
    P.camPosX = 0.5f * compW, P.camPosY = 0.5f * compH, P.camPosZ = -1.39f * compW, P.camZoom = 1.39f * compW;
    P.camFwdZ = P.camRightX = P.camUpY = 1.0f;
    P.gridFactorX = P.gridFactorZ = static_cast<float>(n) / compW;
    P.gridFactorY = static_cast<float>(n) / compH;
    return P;
}

// Every light and optional term off, grading neutral: 130/19 and 117/19 composition pixels per cell.
CdRaymarchParams baseParams() {
    CdRaymarchParams P = viewParams(kN, 6, 5, 130, 117);
    P.densityMul = P.fireGamma = P.fireIntensity = 1.0f;
    P.emissionMul = 5.0f, P.sampleCount = 40, P.detailScale = 10.0f, P.detailOctaves = 4;
    P.colorMode = 1, P.minK = 500.0f, P.maxK = 3000.0f;
    P.srcR = 1.0f, P.srcG = 0.9f, P.srcB = 0.5f;
    P.midR = 1.0f, P.midG = 0.4f, P.midB = 0.1f;
    P.scaR = 0.5f, P.scaG = 0.45f, P.scaB = 0.4f;
    P.smokeDensityMul = 100.0f, P.smkBright = 0.3f, P.burnCutoffCenter = P.burnCutoffWidth = 0.3f;
    P.tintR = P.tintG = P.tintB = P.saturation = P.densityContrast = P.volumeDensity = 1.0f;
    P.blendMode = 1;
    P.keyColorR = 1.0f, P.keyColorG = 0.8f, P.keyColorB = 0.6f, P.keyIntensity = 1.5f;
    P.ambColorR = 0.3f, P.ambColorG = 0.4f, P.ambColorB = 0.7f;
    return P;
}

using Tweak = void (*)(CdRaymarchParams&);

struct DetailCase {
    const char* what;
    Vec3 g;
    double footW, d, Tk;  // footprint in world units, density and kelvin before the step
    Tweak tweak;
};

// clang-format off
const DetailCase kDetailCases[] = {
    {"erosion and tongues, one substep of 1.43 cells, just under the cap", {6.3, 5.2, 4.6}, 8.0, 0.5, 1400.0,
     [](CdRaymarchParams& P) { P.detailStrength = 60.0f; P.fbmFlow = 0.3f; P.detailTime = 0.2f; }},
    {"three substeps, each shortened to 1.5 cells", {9.4, 7.7, 12.2}, 8.0, 0.8, 1700.0,
     [](CdRaymarchParams& P) { P.detailStrength = 90.0f; P.fbmFlow = 0.6f; P.detailTime = 0.4f; }},
    {"five substeps, the warp capped by a small detail scale", {11.2, 4.1, 15.3}, 5.0, 0.3, 1200.0,
     [](CdRaymarchParams& P) { P.detailStrength = 200.0f; P.fbmFlow = 0.9f; P.detailTime = 0.05f;
                               P.detailScale = 2.0f; }},
    {"hot core near the top of the grid: erosion fades out, tongues stay", {7.1, 2.6, 8.8}, 12.0, 0.6, 2450.0,
     [](CdRaymarchParams& P) { P.detailStrength = 120; P.fbmFlow = 0.2f; P.detailTime = 0.3f; P.detailOctaves = 6; }},
    {"still air and no flow: erosion only, on unwarped noise", {1.6, 3.3, 9.1}, 6.0, 0.15, 900.0,
     [](CdRaymarchParams& P) { P.detailStrength = 150.0f; }},
    {"cool smoke gets neither effect", {6.3, 5.2, 4.6}, 8.0, 0.5, 360.0,
     [](CdRaymarchParams& P) { P.detailStrength = 100.0f; P.fbmFlow = 0.3f; P.detailTime = 0.07f; }},
};

const std::pair<const char*, Tweak> kMarchCases[] = {
    {"normal blend, neutral grading", [](CdRaymarchParams&) {}},
    {"additive fire blend", [](CdRaymarchParams& P) { P.blendMode = 2; P.blendStrength = 0.8f; }},
    {"density contrast and opacity threshold",
     [](CdRaymarchParams& P) { P.densityContrast = 0.6f; P.opacityThreshold = 0.45f; }},
    {"custom ramp through the whole grading", [](CdRaymarchParams& P) {
         P.colorMode = 2; P.fireGamma = 1.4f; P.blendMode = 2; P.blendStrength = 0.5f; P.densityContrast = 1.8f;
         P.exposure = -0.7f; P.tintR = 0.9f; P.tintG = 1.1f; P.tintB = 0.8f; P.hueShift = 0.6f;
         P.saturation = 1.4f; P.brightnessFlicker = 0.5f; P.gradeTime = 1.3f; }},
    {"a flicker past its trough dims to black, never inverts",
     [](CdRaymarchParams& P) { P.brightnessFlicker = 20.0f; P.gradeTime = 0.65f; }},
    {"blackbody with gamma and forward scattering", [](CdRaymarchParams& P) {
         P.fireGamma = 1.7f; P.fireIntensity = 1.3f; P.smokeDensityMul = 65.0f; P.scatterAnisotropy = 0.6f; }},
    {"blackbody past 6600 K, a hard burn mask", [](CdRaymarchParams& P) {
         P.minK = 300; P.maxK = 9000; P.fireGamma = 0.2f; P.burnCutoffWidth = 0.05f; P.burnCutoffCenter = 0.1f; }},
    {"custom ramp with gamma near 0 is linear, bright thin smoke", [](CdRaymarchParams& P) {
         P.colorMode = 2; P.fireGamma = 0.005f; P.smokeDensityMul = 40.0f; P.smkBright = 0.8f; P.scaR = 0.9f; }},
    {"no smoke: fire absorbs with the squared mask only", [](CdRaymarchParams& P) { P.smokeDensityMul = 0.0f; }},
    {"self shadow, a key light facing the camera: silver lining", [](CdRaymarchParams& P) {
         P.selfShadow = 0.8f; P.scatterAnisotropy = -0.5f; P.keyActive = 1; P.keyLightX = 9.0f; P.keyLightY = 4.0f;
         P.keyLightZ = -8.0f; P.volumetricDepth = 0.7f; }},
    {"every light on", [](CdRaymarchParams& P) {
         P.selfShadow = 0.6f; P.keyActive = 1; P.keyLightX = 14.0f; P.keyLightY = -3.0f; P.keyLightZ = 2.0f;
         P.volumetricDepth = 0.5f; P.ambientStrength = 0.4f; P.fireLightStrength = 0.6f; P.lifeSoftness = 0.4f; }},
    {"nine sub-pixel rays", [](CdRaymarchParams& P) { P.ssaaCount = 3; P.sampleCount = 24; }},
    {"camera inside the box marches from the camera", [](CdRaymarchParams& P) { P.camPosZ = 10.0f; }},
};
// clang-format on

bool near(double device, double reference, double rel) {
    return std::fabs(device - reference) <= kAbsTolerance + rel * std::fabs(reference);
}

class Raymarch : public cltest::ClKernelTest {
protected:
    Raymarch() : ClKernelTest(kProbes) {}

    cltest::ClBuffer uploadParams(const CdRaymarchParams& p) {
        std::vector<float> words(sizeof(CdRaymarchParams) / sizeof(float));
        std::memcpy(words.data(), &p, sizeof(CdRaymarchParams));
        return upload(words);
    }

    // cd_raymarch into a NaN-filled image; macrocells are used when P names their counts.
    std::vector<float> march(const CdRaymarchParams& P, const Field& dens, const Field& temp, const Field& vel,
                             const std::vector<float>& macro0 = {0.0f}, const std::vector<float>& macro1 = {0.0f},
                             const cltest::ClBuffer& velOut = cltest::ClBuffer()) {
        cltest::ClBuffer params = uploadParams(P), image = output(static_cast<size_t>(4) * P.W * P.H);
        cltest::ClBuffer d = upload(dens.v), t = upload(temp.v), v = upload(vel.v), ember = upload({0.0f});
        cltest::ClBuffer m0 = upload(macro0), m1 = upload(macro1);
        EXPECT_TRUE(run("cd_raymarch", cltest::Range::grid2(P.W, P.H), image, d, t, ember, v, velOut, m0, m1, params));
        std::vector<float> out = read(image);
        for (float x : out) EXPECT_FALSE(std::isnan(x)) << "a pixel was not written";
        return out;
    }
};

TEST_F(Raymarch, ParamBlockPacksAlikeOnHostAndDevice) {
    cltest::ClBuffer out = output(2);
    ASSERT_TRUE(run("cd_test_raymarch_layout", cltest::Range::linear(1, 1), out));
    const std::vector<float> host{float(offsetof(CdRaymarchParams, lifeSoftness)), float(sizeof(CdRaymarchParams))};
    EXPECT_EQ(read(out), host);
}

// The noise has its own tests; it is read on the device at the position the reference computed.
TEST_F(Raymarch, DetailErodesDensityAndRaisesFlameTonguesAsTheModelSays) {
    cltest::ClBuffer velocity = upload(kVelocity.v);
    int changed = 0;
    for (const DetailCase& c : kDetailCases) {
        SCOPED_TRACE(c.what);
        CdRaymarchParams P = baseParams();
        c.tweak(P);
        const std::vector<float> state{float(c.g[0]), float(c.g[1]), float(c.g[2]), float(c.footW), float(c.d),
                                       float(c.Tk)};
        cltest::ClBuffer params = uploadParams(P), in = upload(state), out = output(2);
        ASSERT_TRUE(run("cd_test_raymarch_detail", cltest::Range::linear(1, 1), params, velocity, in, out));
        const std::vector<float> k = read(out);

        double margin = 1e30;
        const std::array<double, 4> np =
            detailNoisePosition(P, kVelocity, {state[0], state[1], state[2]}, state[3], &margin);
        cltest::ClBuffer where = upload({float(np[0]), float(np[1]), float(np[2]), float(np[3])}), noise = output(2);
        ASSERT_TRUE(run("cd_test_detail_noise", cltest::Range::linear(1, 1), where, P.detailOctaves, noise));
        const std::vector<float> n = read(noise);
        const std::array<double, 2> ref = detailApply(P, state[1], state[4], state[5], n[0], n[1], &margin);
        ASSERT_GT(margin, kBranchMargin) << "the state sits on a branch of the model; choose another";
        EXPECT_PRED3(near, k[0], ref[0], kDetailTolerance) << "density";
        EXPECT_PRED3(near, k[1], ref[1], kDetailTolerance) << "temperature";
        changed += std::fabs(ref[0] - c.d) > 0.01 * c.d || std::fabs(ref[1] - c.Tk) > 0.01 * c.Tk;
    }
    EXPECT_EQ(changed, static_cast<int>(std::size(kDetailCases)) - 1) << "every hot case must be changed visibly";
}

TEST_F(Raymarch, MarchedAndGradedPixelsMatchTheModel) {
    const Field still = makeField(kN, 4, [](int, int, int, int) { return 0.0; });
    for (const auto& [what, tweak] : kMarchCases) {
        SCOPED_TRACE(what);
        CdRaymarchParams P = baseParams();
        tweak(P);
        const std::vector<float> k = march(P, kDensity, kTemperature, still);
        int compared = 0;
        double seen = 0.0;
        for (int y = 0; y < P.H; ++y)
            for (int x = 0; x < P.W; ++x) {
                double margin = 1e30;
                const std::array<double, 4> ref = marchReference(P, kDensity, kTemperature, x, y, &margin);
                if (margin < kBranchMargin) continue;  // a sample on the grid's edge: either count is right
                ++compared;
                for (int ch = 0; ch < 4; ++ch)
                    EXPECT_PRED3(near, k[(static_cast<size_t>(y) * P.W + x) * 4 + ch], ref[ch], kRelTolerance)
                        << "pixel " << x << ", " << y << " channel " << ch;
                seen = std::max(seen, ref[3]);
            }
        EXPECT_GE(compared, P.W * P.H / 2);
        EXPECT_GT(seen, 0.2) << "the pixels look through the grid";
    }
}

// ------------------------------------------------------------------------------------------------
// Promises of the march on a 32³ grid seen by a 24 × 16 image of a 240 × 160 composition.

constexpr int kSide = 32, kW = 24, kH = 16;

CdRaymarchParams renderParams() {
    CdRaymarchParams P = baseParams(), v = viewParams(kSide, kW, kH, 240, 160);
    std::memcpy(&P, &v, offsetof(CdRaymarchParams, densityMul));  // the view fields lead the block
    P.sampleCount = 64;
    return P;
}

// The maxima the macrocell builders store: max(density, 0.0005·kelvin) per block of side n / m.
std::vector<float> blockMaxima(const Field& d, const Field& t, int m) {
    std::vector<float> out(static_cast<size_t>(m) * m * m, 0.0f);
    const int b = d.n / m;
    for (int z = 0; z < d.n; ++z)
        for (int y = 0; y < d.n; ++y)
            for (int x = 0; x < d.n; ++x) {
                float& mx = out[(static_cast<size_t>(z / b) * m + y / b) * m + x / b];
                mx = std::max({mx, float(d.at(x, y, z, 0)), 0.0005f * float(t.at(x, y, z, 0))});
            }
    return out;
}

const Field kStill = makeField(kSide, 4, [](int, int, int, int) { return 0.0; });

Field ball(double cx, double cy, double cz, double r, double inside) {
    return makeField(kSide, 1, [=](int x, int y, int z, int) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy, dz = z + 0.5 - cz;
        return dx * dx + dy * dy + dz * dz <= r * r ? inside : 0.0;
    });
}

TEST_F(Raymarch, NothingVisibleRendersExactlyTransparent) {
    const Field empty = ball(0, 0, 0, 0, 0), smoke = ball(16, 16, 16, 6, 0.8), fire = ball(16, 16, 16, 6, 2800);
    CdRaymarchParams lit = renderParams(), away = lit, noVolume = lit;
    lit.ambientStrength = lit.fireLightStrength = 1.0f;  // lights must not light empty space
    away.camFwdZ = -1.0f, noVolume.volumeDensity = 0.0f;  // the box behind the camera; no extinction
    ASSERT_GT(march(renderParams(), smoke, fire, kStill)[(8 * kW + 12) * 4 + 3], 0.1f) << "the ball must be visible";
    const std::vector<float> transparent(4 * kW * kH, 0.0f);
    EXPECT_TRUE(cltest::sameBits(march(lit, empty, empty, kStill), transparent));
    EXPECT_TRUE(cltest::sameBits(march(away, smoke, fire, kStill), transparent));
    EXPECT_TRUE(cltest::sameBits(march(noVolume, smoke, fire, kStill), transparent));
}

// Content only in the middle two cells of each 4-cell block side, in two clusters, one right behind
// the face of an empty level-1 block the rays cross first. A sample within half a cell of a block
// face reads nothing, and 300 samples over a 32-34 cell chord make the longest skip at most 0.46
// cells: a correct skip passes over nothing, one that overshot eats into the content. (A power of
// two would line samples up with block faces and hide a wrong skip length.)
TEST_F(Raymarch, SkippingEmptyBlocksChangesNoByte) {
    auto inCluster = [](int x, int y, int z) {
        const bool middle = (x % 4 == 1 || x % 4 == 2) && (y % 4 == 1 || y % 4 == 2) && (z % 4 == 1 || z % 4 == 2);
        const int bx = x / 4, by = y / 4, bz = z / 4;
        return middle && ((bx >= 1 && bx <= 2 && by >= 1 && by <= 3 && bz >= 1 && bz <= 2) ||
                          (bx == 5 && by == 6 && bz == 4));
    };
    const Field dens = makeField(kSide, 1, [&](int x, int y, int z, int) {
        return inCluster(x, y, z) ? 0.5 + 0.3 * std::sin(0.7 * x + 0.3 * y + 0.5 * z) : 0.0;
    });
    const Field temp = makeField(kSide, 1, [&](int x, int y, int z, int) {
        return inCluster(x, y, z) ? 1500.0 + 40.0 * ((x + 2 * y + z) % 20) : 0.0;
    });
    CdRaymarchParams full = renderParams();
    full.sampleCount = 300;
    CdRaymarchParams skipping = full;
    skipping.macroN = 8, skipping.macroN_L1 = 2;
    const std::vector<float> l0 = blockMaxima(dens, temp, 8), l1 = blockMaxima(dens, temp, 2);
    const std::vector<float> truth = march(full, dens, temp, kStill);
    EXPECT_TRUE(cltest::sameBits(march(skipping, dens, temp, kStill, l0, l1), truth));

    float first = 0.0f, second = 0.0f;  // non-vacuous: both clusters show
    for (int i = 0; i < kW * kH; ++i) {
        float& half = i % kW < kW / 2 ? first : second;
        half = std::max(half, truth[4 * i + 3]);
    }
    EXPECT_GT(first, 0.2f);
    EXPECT_GT(second, 0.05f);
}

TEST_F(Raymarch, SameLaunchGivesTheSameBytesAndTheVelocityOutputFollowsItsSwitch) {
    const Field dens = ball(15, 17, 16, 7, 0.6), temp = ball(15, 17, 16, 7, 2300);
    const Field flow = makeField(kSide, 4, [](int, int, int, int c) { return std::array{1.5, -0.75, 0.3, 0.0}[c]; });
    CdRaymarchParams P = renderParams();
    P.detailStrength = 80.0f, P.fbmFlow = 0.6f, P.detailTime = 0.3f;  // the noise and sub-pixel paths too
    P.ssaaCount = 3, P.ambientStrength = 0.3f;
    P.velCellToScreenX = static_cast<float>(kW) / kSide, P.velCellToScreenY = static_cast<float>(kH) / kSide;
    const std::vector<float> a = march(P, dens, temp, flow);
    ASSERT_GT(a[(8 * kW + 12) * 4 + 3], 0.3f);
    EXPECT_TRUE(cltest::sameBits(march(P, dens, temp, flow), a));

    const std::vector<float> prefill(2 * kW * kH, 7.0f);
    cltest::ClBuffer vel = upload(prefill), untouched = upload(prefill);
    march(P, dens, temp, flow, {0.0f}, {0.0f}, untouched);  // mbEnable 0 leaves the buffer alone
    P.mbEnable = 1;
    EXPECT_TRUE(cltest::sameBits(march(P, dens, temp, flow, {0.0f}, {0.0f}, vel), a));
    const std::vector<float> v = read(vel);
    // A uniform flow is its own weighted mean, in output pixels per cell; unseen pixels get zero.
    EXPECT_NEAR(v[(8 * kW + 12) * 2], 1.5 * kW / kSide, 1e-5);
    EXPECT_NEAR(v[(8 * kW + 12) * 2 + 1], -0.75 * kH / kSide, 1e-5);
    EXPECT_EQ(std::vector<float>({v[0], v[1]}), std::vector<float>({0.0f, 0.0f}));
    EXPECT_TRUE(cltest::sameBits(read(untouched), prefill));
}

}  // namespace
