// Layer emission on the effect's own runtime (PoCL's CPU device in CI): the kernel against a
// double-precision reference of its per-cell formula, the burn mask through a probe kernel, the
// reduced dispatch box, the map uploads and the step driver's choice between the layer and the
// volume source. Every scenario also checks that something was emitted where it should be, so no
// test passes on a grid left at zero.
//
// Tolerances: the kernel computes in float under -cl-fast-relaxed-math, the reference in double
// from the same float inputs. The value noise cannot be recomputed on the host (its sin-based hash
// amplifies the last bit of sin by 43758), so the reference takes noise values from the library
// through a probe kernel at the points the formula names. 1e-4 relative to the largest possible
// increment covers float rounding with a margin; a wrong term changes results by far more. Cells
// whose outcome float rounding decides (a layer coordinate within 1e-3 of a pixel edge, an alpha
// within 1e-4 of the cut-off) are left out of the comparison and counted.
#include "sim/layer_emission.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "cl_harness.h"
#include "emit/map_upload.h"
#include "gpu/launch.h"
#include "sim/step.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;

constexpr double kRelTol = 1e-4;
constexpr double kPixelEdgeSlack = 1e-3;
constexpr double kCutoffSlack = 1e-4;
constexpr double kCutoff = 0.005;
constexpr float kDt = 1.0f / 24.0f;

const char kProbeKernels[] = R"CL(
__kernel void test_burn_amount(__global const float* uv, __global float* out, int n, int mode, float progress,
                               float width, float noise, float dirRad) {
    const int i = get_global_id(0);
    if (i >= n) return;
    out[i] = cd_burn_amount_at(uv[2 * i], uv[2 * i + 1], mode, progress, width, noise, dirRad, 0.5f, 0.5f);
}
__kernel void test_fbm(__global const float* p, __global float* out, int n) {
    const int i = get_global_id(0);
    if (i >= n) return;
    out[i] = cd_fbmf(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
}
__kernel void test_hash(__global const float* p, __global float* out, int n) {
    const int i = get_global_id(0);
    if (i >= n) return;
    out[i] = cd_hash3f(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
}
)CL";

bool bitEqual(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Bit equality of two grids of side n, naming the first cell that differs.
::testing::AssertionResult sameGrid(const std::vector<float>& a, const std::vector<float>& b, int n) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            const size_t side = static_cast<size_t>(n);
            return ::testing::AssertionFailure() << "cell (" << i % side << ", " << i / side % side << ", "
                                                 << i / (side * side) << "): " << a[i] << " and " << b[i];
        }
    }
    return ::testing::AssertionSuccess();
}

int countAbove(const std::vector<float>& v, float threshold) {
    return static_cast<int>(std::count_if(v.begin(), v.end(), [&](float x) { return x > threshold; }));
}

bool nearPixelEdge(double l) {
    return std::fabs(l - std::round(l)) < kPixelEdgeSlack;
}

// A map with a soft disc, stripes, a hard-edged rectangle, a texture and transparent surroundings.
std::vector<float> awkwardMap(int w, int h) {
    std::vector<float> m(static_cast<size_t>(w) * static_cast<size_t>(h));
    uint32_t state = 12345u;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 8) / double(1u << 24);
            const double r = std::hypot(x - 0.45 * w, y - 0.5 * h);
            const double rIn = 0.3 * std::min(w, h);
            double a = r < rIn ? 1.0 : (r < rIn + 10.0 ? (rIn + 10.0 - r) / 10.0 : 0.0);
            if ((x / 9 + y / 13) % 3 == 0) a *= 0.6;
            if (x > w * 3 / 4 && y < h / 4) a = 0.3;
            m[static_cast<size_t>(y) * w + x] = static_cast<float>(a * (0.8 + 0.2 * noise));
        }
    }
    return m;
}

struct HostMap {
    std::vector<float> v;
    int w = 0, h = 0;
    double at(int x, int y) const {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        return v[static_cast<size_t>(y) * w + x];
    }
};

// Noise values of the library at given points, evaluated on the device.
using NoiseFn = std::function<std::vector<float>(const std::vector<std::array<float, 3>>&)>;

// The reference of one step of layer emission over the whole grid: the fraction of
// temperatureK × dt (and of fuelInject × dt) each cell receives, NaN where float rounding decides.
struct Reference {
    std::vector<double> profile;
    int ambiguous = 0;
};

// The burn mask in double, with the library's noise at the points the jitter and Dissolve use.
std::vector<double> referenceBurn(const std::vector<std::array<float, 2>>& uv, int mode, float progress, float width,
                                  float noise, float dirRad, const NoiseFn& fbm) {
    std::vector<double> out(uv.size(), 1.0);
    if (mode <= 0) return out;
    std::vector<double> uw(uv.size()), vw(uv.size());
    for (size_t i = 0; i < uv.size(); ++i) uw[i] = uv[i][0], vw[i] = uv[i][1];
    if (noise > 0.0001f) {
        std::vector<std::array<float, 3>> pa, pb;
        for (const auto& p : uv) {
            pa.push_back({5.0f * p[0] + 1.7f, 5.0f * p[1] + 2.3f, 0.0f});
            pb.push_back({5.0f * p[0] + 7.1f, 5.0f * p[1] + 4.3f, 0.0f});
        }
        const std::vector<float> wa = fbm(pa), wb = fbm(pb);
        for (size_t i = 0; i < uv.size(); ++i) {
            uw[i] = uv[i][0] + (wa[i] - 0.5) * noise * 0.5;
            vw[i] = uv[i][1] + (wb[i] - 0.5) * noise * 0.5;
        }
    }
    std::vector<double> dist(uv.size());
    if (mode == 3) {
        std::vector<std::array<float, 3>> pd;
        for (size_t i = 0; i < uv.size(); ++i) {
            pd.push_back({static_cast<float>(9.0 * uw[i] + 3.3), static_cast<float>(9.0 * vw[i] + 6.7), 0.0f});
        }
        const std::vector<float> d = fbm(pd);
        for (size_t i = 0; i < uv.size(); ++i) dist[i] = d[i];
    }
    for (size_t i = 0; i < uv.size(); ++i) {
        const double du = uw[i] - 0.5, dv = vw[i] - 0.5;
        const double radial = std::min(std::sqrt(du * du + dv * dv) / 0.71, 1.0);
        if (mode == 1) dist[i] = (du * std::cos(dirRad) + dv * std::sin(dirRad) + 0.71) / 1.42;
        if (mode == 2) dist[i] = radial;
        if (mode >= 4) dist[i] = 1.0 - radial;
        const double w = std::max(width * 0.5, 0.01);
        const double lo = progress * (1.0 + 2.0 * w) - 2.0 * w;
        const double t = std::clamp((dist[i] - lo) / (2.0 * w), 0.0, 1.0);
        out[i] = 1.0 - t * t * (3.0 - 2.0 * t);
    }
    return out;
}

Reference referenceEmission(const FrameSettings& s, const HostMap& layer, const HostMap& custom, int N, float szG,
                            float burnProgress, const NoiseFn& fbm, const NoiseFn& hash) {
    const double compW = s.compWidth > 0 ? s.compWidth : 1920;
    const double compH = s.compHeight > 0 ? s.compHeight : 1080;
    const double inv = s.sourceSizeX > 0.001f ? 1.0 / static_cast<double>(s.sourceSizeX) : 1.0;

    // Per column: the layer pixel, its alpha and whether rounding decides it.
    struct Column {
        bool inside = false, ambiguous = false;
        int lx = 0, ly = 0;
        double alpha = 0, compX = 0, compY = 0;
    };
    std::vector<Column> cols(static_cast<size_t>(N) * N);
    for (int y = 0; y < N; ++y) {
        for (int x = 0; x < N; ++x) {
            Column& c = cols[static_cast<size_t>(y) * N + x];
            c.compX = (x + 0.5) / N * compW;
            c.compY = (y + 0.5) / N * compH;
            double lxf, lyf;
            if (s.useLayerTransform) {
                lxf = (c.compX - s.layerPosX) * inv * s.layerInvScX + s.layerAncX;
                lyf = (c.compY - s.layerPosY) * inv * s.layerInvScY + s.layerAncY;
            } else {
                lxf = (c.compX - compW / 2) * inv + layer.w / 2.0;
                lyf = (c.compY - compH / 2) * inv + layer.h / 2.0;
            }
            c.ambiguous = nearPixelEdge(lxf) || nearPixelEdge(lyf);
            const double fx0 = std::floor(lxf), fy0 = std::floor(lyf);
            if (fx0 < 0 || fy0 < 0 || fx0 > layer.w - 1 || fy0 > layer.h - 1) continue;
            c.lx = static_cast<int>(fx0);
            c.ly = static_cast<int>(fy0);
            const double fx = lxf - fx0, fy = lyf - fy0;
            c.alpha = layer.at(c.lx, c.ly) * (1 - fx) * (1 - fy) + layer.at(c.lx + 1, c.ly) * fx * (1 - fy) +
                      layer.at(c.lx, c.ly + 1) * (1 - fx) * fy + layer.at(c.lx + 1, c.ly + 1) * fx * fy;
            c.inside = true;
            if (std::fabs(c.alpha - kCutoff) < kCutoffSlack) c.ambiguous = true;
        }
    }

    // Pattern per column.
    std::vector<double> pattern(cols.size(), 1.0);
    const int mode = s.patternType;
    const float ms = s.maskScale;
    std::vector<std::array<float, 3>> points;
    for (const Column& c : cols) {
        const float lx = static_cast<float>(c.lx), ly = static_cast<float>(c.ly);
        if (mode == 3) points.push_back({lx * ms * 0.015f, ly * ms * 0.015f, 0.0f});
        if (mode == 4) points.push_back({lx * ms * 0.015f - 0.5f, ly * ms * 0.012f, 0.0f});
        if (mode == 5) points.push_back({lx, ly, 0.0f});
        if (mode == 7) points.push_back({lx * ms * 0.005f, ly * ms * 0.005f, 0.0f});
    }
    std::vector<float> noise;
    if (mode == 3 || mode == 4 || mode == 7) noise = fbm(points);
    if (mode == 5) noise = hash(points);
    const int edgeStep = std::max({layer.w / N, layer.h / N, 2});
    const int eS = std::max(static_cast<int>(edgeStep * std::max(ms, 0.05f)), 1);
    for (size_t i = 0; i < cols.size(); ++i) {
        Column& c = cols[i];
        const double gx = layer.at(c.lx + eS, c.ly) - layer.at(c.lx - eS, c.ly);
        const double gy = layer.at(c.lx, c.ly - eS) - layer.at(c.lx, c.ly + eS);
        switch (mode) {
            case 1:
                pattern[i] = 2.0 * std::sqrt(gx * gx + gy * gy);
                break;
            case 3:
            case 4:
            case 5:
                pattern[i] = noise[i];
                break;
            case 6:
                pattern[i] = 4.0 * (gx * gx + gy * gy);
                break;
            case 7:
                pattern[i] = 1.8 * noise[i];
                break;
            case 8:
                if (custom.w > 0 && custom.h > 0) {
                    const double cx = (c.compX - compW / 2) * inv + custom.w / 2.0;
                    const double cy = (c.compY - compH / 2) * inv + custom.h / 2.0;
                    if (nearPixelEdge(cx) || nearPixelEdge(cy)) c.ambiguous = true;
                    pattern[i] = custom.at(static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(cy)));
                }
                break;
            default:
                break;
        }
        pattern[i] = std::clamp((pattern[i] - s.maskThreshold * 0.01) * (s.maskContrast * 0.02 + 0.5), 0.0, 1.0);
        if (s.invert) pattern[i] = 1.0 - pattern[i];
    }

    std::vector<double> burn(cols.size(), 1.0);
    if (s.burnMode > 0) {
        std::vector<std::array<float, 2>> uv;
        for (const Column& c : cols) {
            uv.push_back({static_cast<float>(c.lx) / static_cast<float>(std::max(layer.w - 1, 1)),
                          static_cast<float>(c.ly) / static_cast<float>(std::max(layer.h - 1, 1))});
        }
        const std::vector<double> b =
            referenceBurn(uv, s.burnMode, burnProgress, s.burnWidth, s.burnNoise, s.burnDirection, fbm);
        for (size_t i = 0; i < cols.size(); ++i) {
            const double front = 4.0 * b[i] * (1.0 - b[i]);
            burn[i] = b[i] + front * (1.0 + s.sparkBoost * front);
        }
    }

    Reference ref;
    ref.profile.assign(static_cast<size_t>(N) * N * N, 0.0);
    const double half = std::max(s.sourceSizeZ * 0.5, 0.5);
    for (size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const double eff = c.inside ? c.alpha * pattern[i] * burn[i] : 0.0;
        const bool ambiguous = c.ambiguous || (c.inside && std::fabs(eff - kCutoff) < kCutoffSlack);
        if (ambiguous) ref.ambiguous += 1;
        for (int z = 0; z < N; ++z) {
            const double zT = std::fabs(z + 0.5 - szG) / half;
            const size_t cell = static_cast<size_t>(z) * N * N + i;
            if (ambiguous) {
                ref.profile[cell] = std::nan("");
            } else if (c.inside && c.alpha >= kCutoff && eff >= kCutoff && zT < 1.0) {
                ref.profile[cell] = eff * (1.0 - zT * zT);
            }
        }
    }
    return ref;
}

// Settings of these tests: an HD composition, a slab 6 cells thick at a depth that falls between
// cell centres, no burn.
FrameSettings emitSettings() {
    FrameSettings s = simtest::defaultSimSettings();
    s.sourceLayerPresent = 1;
    s.sourceTemperature = 3000.0f;
    s.sourceSizeX = 1.0f;
    s.sourceSizeZ = 6.0f;
    s.patternType = 2;
    s.maskScale = 1.0f;
    s.maskContrast = 25.0f;  // × 1: the pattern as it is
    s.maskThreshold = 0.0f;
    s.invert = 0;
    s.burnMode = 0;
    s.burnProgress = 0.5f;
    s.burnWidth = 0.2f;
    s.burnNoise = 0.0f;
    s.sparkBoost = 0.0f;
    return s;
}

class LayerEmission : public simtest::SimTest {
protected:
    static constexpr float kFuel = 50.0f;
    static constexpr float kSzG = 16.25f;

    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dropMaps();
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override {
        // Every launch must bind exactly the table's arguments.
        EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_);
        if (rt().ready) dropMaps();
    }

    void dropMaps() {
        for (cindel::MapBuffer* m : {&rt().emissionMap, &rt().customMap}) {
            cindel::releaseBuffer(m->handle);
            *m = cindel::MapBuffer{};
        }
    }

    void uploadLayer(const HostMap& m, FrameSettings& s) {
        ASSERT_TRUE(cindel::uploadEmissionMap(&rt(), m.v.data(), m.w, m.h));
        s.emissionWidth = m.w;
        s.emissionHeight = m.h;
    }
    void uploadCustom(const HostMap& m, FrameSettings& s) {
        ASSERT_TRUE(cindel::uploadCustomMap(&rt(), m.v.data(), m.w, m.h));
        s.customMapPresent = 1;
        s.customMapWidth = m.w;
        s.customMapHeight = m.h;
    }

    // One launch on cleared fields; returns the temperature.
    std::vector<float> emit(const FrameSettings& s, bool fullRange = true, float szG = kSzG, int frame = 0) {
        clearFields();
        cindel::enqueueLayerEmission(rt(), s, frame, szG, kFuel, kDt, fullRange);
        finish();
        return read(grid().temperature);
    }

    cl_program probes() {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        cl_program p = h.program(kProbeKernels);
        EXPECT_NE(p, nullptr) << h.buildLog();
        return p;
    }

    std::vector<float> probePoints(const char* kernel, const std::vector<std::array<float, 3>>& pts) {
        if (pts.empty()) return {};
        cltest::ClHarness& h = cltest::ClHarness::instance();
        std::vector<float> flat;
        for (const auto& p : pts) flat.insert(flat.end(), p.begin(), p.end());
        cltest::ClBuffer in = h.upload(flat);
        cltest::ClBuffer out = h.output(pts.size());
        EXPECT_TRUE(h.run(probes(), kernel, cltest::Range::linear(pts.size()), in, out, static_cast<int>(pts.size())));
        return h.read(out);
    }

    NoiseFn fbm() {
        return [this](const std::vector<std::array<float, 3>>& p) { return probePoints("test_fbm", p); };
    }
    NoiseFn hash() {
        return [this](const std::vector<std::array<float, 3>>& p) { return probePoints("test_hash", p); };
    }

    std::vector<float> burnAt(const std::vector<std::array<float, 2>>& uv, int mode, float progress, float width,
                              float noise, float dirRad) {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        std::vector<float> flat;
        for (const auto& p : uv) flat.insert(flat.end(), p.begin(), p.end());
        cltest::ClBuffer in = h.upload(flat);
        cltest::ClBuffer out = h.output(uv.size());
        EXPECT_TRUE(h.run(probes(), "test_burn_amount", cltest::Range::linear(uv.size()), in, out,
                          static_cast<int>(uv.size()), mode, progress, width, noise, dirRad));
        return h.read(out);
    }

    // Temperature and fuel against the reference; returns the number of emitting cells compared.
    int expectMatchesReference(const FrameSettings& s, const HostMap& layer, const HostMap& custom) {
        const std::vector<float> T = emit(s);
        const std::vector<float> F = read(grid().fuel);
        const std::vector<float> D = read(grid().density);
        const Reference ref =
            referenceEmission(s, layer, custom, N(), kSzG, cindel::burnProgressAt(s, 0), fbm(), hash());
        double maxProfile = 1.0;
        for (double p : ref.profile) {
            if (!std::isnan(p)) maxProfile = std::max(maxProfile, p);
        }
        const double tolT = kRelTol * s.sourceTemperature * kDt * maxProfile;
        const double tolF = kRelTol * kFuel * kDt * maxProfile;
        int emitting = 0, mismatches = 0;
        for (size_t i = 0; i < cells(); ++i) {
            const double p = ref.profile[i];
            if (std::isnan(p)) continue;
            const double expT = s.sourceTemperature * p * kDt;
            const double expF = kFuel * p * kDt;
            if (std::fabs(T[i] - expT) > tolT || std::fabs(F[i] - expF) > tolF || D[i] != 0.0f) {
                if (++mismatches <= 5) {
                    ADD_FAILURE() << "cell " << i << " (x " << i % N() << ", y " << i / N() % N() << ", z "
                                  << i / (N() * N()) << "): temperature " << T[i] << " expected " << expT << ", fuel "
                                  << F[i] << " expected " << expF << ", density " << D[i];
                }
            }
            if (p > 0) ++emitting;
        }
        EXPECT_EQ(mismatches, 0);
        // Float rounding may decide only a few columns.
        EXPECT_LE(ref.ambiguous, N() * N() / 50) << "too many columns left out";
        return emitting;
    }

    int violationsBefore_ = 0;
};

HostMap uniformMap(int w, int h, float value) {
    return {std::vector<float>(static_cast<size_t>(w) * h, value), w, h};
}

// ---------------------------------------------------------------------------------------------
// The kernel against the reference.

TEST_F(LayerEmission, EveryPatternMatchesTheReferenceCentredAndPlaced) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    const HostMap custom{awkwardMap(37, 23), 37, 23};
    uploadLayer(layer, s);
    uploadCustom(custom, s);
    s.maskContrast = 60.0f;
    s.maskThreshold = 10.0f;
    s.maskScale = 1.7f;
    for (int placed = 0; placed < 2; ++placed) {
        if (placed) {
            s.useLayerTransform = 1;
            s.sourceSizeX = 1.2f;
            s.layerPosX = 300.0f;
            s.layerPosY = 200.0f;
            s.layerInvScX = 0.07f;
            s.layerInvScY = 0.09f;
            s.layerAncX = 20.0f;
            s.layerAncY = 10.0f;
        } else {
            // The map, scaled up, spans slightly more than the composition's width.
            s.sourceSizeX = 11.0f;
        }
        for (int pattern = 1; pattern <= 8; ++pattern) {
            SCOPED_TRACE(::testing::Message() << "pattern " << pattern << (placed ? ", placed" : ", centred"));
            s.patternType = pattern;
            EXPECT_GT(expectMatchesReference(s, layer, custom), 50) << "the scenario must emit";
        }
    }
}

TEST_F(LayerEmission, BurnModesMatchTheReference) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    uploadLayer(layer, s);
    s.sourceSizeX = 11.0f;
    s.burnProgress = 0.45f;
    s.burnWidth = 0.3f;
    s.burnDirection = 0.7f;
    s.sparkBoost = 0.5f;
    for (float noise : {0.0f, 0.4f}) {
        for (int mode = 1; mode <= 5; ++mode) {
            SCOPED_TRACE(::testing::Message() << "burn mode " << mode << ", noise " << noise);
            s.burnMode = mode;
            s.burnNoise = noise;
            EXPECT_GT(expectMatchesReference(s, layer, {}), 50);
        }
    }
}

TEST_F(LayerEmission, InvertMatchesTheReferenceAndSwapsFullAndEmpty) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    uploadLayer(layer, s);
    s.sourceSizeX = 11.0f;
    s.invert = 1;
    s.patternType = 3;
    EXPECT_GT(expectMatchesReference(s, layer, {}), 50);

    // Full Burn at neutral contrast is a pattern of 1: inverted, nothing emits.
    s.patternType = 2;
    const std::vector<float> none = emit(s);
    EXPECT_EQ(countAbove(none, 0.0f), 0);
    // A threshold of 100 takes the pattern to 0: inverted, the full alpha emits.
    s.maskThreshold = 100.0f;
    const std::vector<float> full = emit(s);
    s.invert = 0;
    s.maskThreshold = 0.0f;
    const std::vector<float> plain = emit(s);
    EXPECT_GT(countAbove(plain, 0.0f), 100);
    EXPECT_TRUE(sameGrid(full, plain, N()));
}

// ---------------------------------------------------------------------------------------------
// Edge cases of the kernel.

TEST_F(LayerEmission, FullBurnAtContrastZeroEmitsHalf) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    s.maskContrast = 0.0f;
    // At the depth of a cell centre the slab weight is exactly 1.
    const std::vector<float> T = emit(s, true, 16.5f);
    const double expected = 0.5 * s.sourceTemperature * kDt;
    for (int y = 0; y < N(); ++y) {
        for (int x = 0; x < N(); ++x) {
            ASSERT_NEAR(T[idx(x, y, 16)], expected, 1e-5 * expected) << x << ", " << y;
        }
    }
}

TEST_F(LayerEmission, AlphaBelowTheCutOffEmitsNothingWhateverThePattern) {
    FrameSettings s = emitSettings();
    s.maskContrast = 100.0f;
    for (float alpha : {0.004f, 0.006f}) {
        uploadLayer(uniformMap(200, 120, alpha), s);
        s.sourceSizeX = 1920.0f / 200.0f;  // the map spans the composition's width
        for (int pattern = 1; pattern <= 8; ++pattern) {
            s.patternType = pattern;
            // Inverted, the gradient patterns of a uniform map become 1 as well.
            s.invert = (pattern == 1 || pattern == 6) ? 1 : 0;
            const int emitting = countAbove(emit(s), 0.0f);
            if (alpha < 0.005f) {
                EXPECT_EQ(emitting, 0) << "pattern " << pattern;
            } else if (pattern == 2 || pattern == 8 || s.invert) {
                EXPECT_GT(emitting, 0) << "pattern " << pattern << ": the control above the cut-off must emit";
            }
        }
    }
}

TEST_F(LayerEmission, EdgesAreZeroInsideAShapeAndFullAlongItsEdge) {
    FrameSettings s = emitSettings();
    // Left half transparent, right half opaque: one vertical alpha step in the middle.
    HostMap m = uniformMap(1920, 1080, 0.0f);
    for (int y = 0; y < m.h; ++y) {
        for (int x = m.w / 2; x < m.w; ++x) m.v[static_cast<size_t>(y) * m.w + x] = 1.0f;
    }
    uploadLayer(m, s);
    s.patternType = 1;
    const std::vector<float> T = emit(s, true, 16.5f);
    // edgeStep = 1920 / 32 = 60 pixels: the column whose pixel lies within 60 pixels right of the
    // step sees the whole step; columns further in see none.
    const double full = s.sourceTemperature * kDt;
    const int y = N() / 2;
    for (int x = 0; x < N(); ++x) {
        const double lx = (x + 0.5) * 60.0;
        const float t = T[idx(x, y, 16)];
        if (lx < 960.0) {
            EXPECT_EQ(t, 0.0f) << "transparent column " << x;
        } else if (lx - 960.0 < 60.0) {
            EXPECT_NEAR(t, full, 1e-5 * full) << "edge column " << x;
        } else {
            EXPECT_EQ(t, 0.0f) << "interior column " << x;
        }
    }
}

TEST_F(LayerEmission, AllTransparentMapEmitsNothing) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(640, 360, 0.0f), s);
    s.sourceSizeX = 3.0f;  // the map spans the composition
    s.invert = 1;          // every pattern would be 1 where anything could emit
    s.burnMode = 1;
    s.burnProgress = 1.0f;
    for (int pattern = 1; pattern <= 8; ++pattern) {
        s.patternType = pattern;
        EXPECT_EQ(countAbove(emit(s), 0.0f), 0) << "pattern " << pattern;
    }
    // Control: the same settings on an opaque map emit.
    uploadLayer(uniformMap(640, 360, 1.0f), s);
    s.patternType = 2;
    s.invert = 0;
    EXPECT_GT(countAbove(emit(s), 0.0f), 0);
}

TEST_F(LayerEmission, SlabEndsAtHalfItsThicknessAndIsAtLeastOneCell) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    const int x = N() / 2, y = N() / 2;
    s.sourceSizeZ = 4.0f;
    std::vector<float> T = emit(s, true, 16.5f);
    // |z + 0.5 − 16.5| = 2 = half the thickness at z = 14 and z = 18.
    EXPECT_EQ(T[idx(x, y, 14)], 0.0f);
    EXPECT_EQ(T[idx(x, y, 18)], 0.0f);
    for (int z = 15; z <= 17; ++z) EXPECT_GT(T[idx(x, y, z)], 0.0f) << z;
    EXPECT_NEAR(T[idx(x, y, 15)], s.sourceTemperature * kDt * 0.75, 1e-3);

    // A thickness of 0 still fills the cell at the source depth.
    s.sourceSizeZ = 0.0f;
    T = emit(s, true, 16.75f);
    EXPECT_NEAR(T[idx(x, y, 16)], s.sourceTemperature * kDt * 0.75, 1e-3);
    EXPECT_EQ(T[idx(x, y, 15)], 0.0f);
    EXPECT_EQ(T[idx(x, y, 17)], 0.0f);
}

TEST_F(LayerEmission, TinyMaskScaleCountsAsMinimumForTheEdgeOffsetOnly) {
    FrameSettings s = emitSettings();
    // 3200 pixels over 32 columns: edgeStep 100, so scales 0.01 and 0.05 give offsets 1 and 5
    // unless the minimum applies. Stripes 7 pixels wide make the offset visible in many columns.
    HostMap m = uniformMap(3200, 64, 0.0f);
    for (int y = 0; y < m.h; ++y) {
        for (int x = 0; x < m.w; ++x) m.v[static_cast<size_t>(y) * m.w + x] = (x / 7) % 2 ? 1.0f : 0.2f;
    }
    uploadLayer(m, s);
    s.sourceSizeX = 0.6f;  // the 3200 pixels span 1920 composition pixels
    s.patternType = 1;
    s.maskScale = 0.01f;
    const std::vector<float> at001 = emit(s);
    s.maskScale = 0.05f;
    const std::vector<float> at005 = emit(s);
    s.maskScale = 0.2f;
    const std::vector<float> at02 = emit(s);
    EXPECT_GT(countAbove(at005, 0.0f), 0);
    EXPECT_TRUE(sameGrid(at001, at005, N()));
    EXPECT_FALSE(bitEqual(at005, at02)) << "the offset must matter for the comparison to mean anything";
    // The noise patterns take the scale unchanged.
    s.patternType = 3;
    s.maskScale = 0.01f;
    const std::vector<float> noise001 = emit(s);
    s.maskScale = 0.05f;
    const std::vector<float> noise005 = emit(s);
    EXPECT_GT(countAbove(noise005, 0.0f), 0);
    EXPECT_FALSE(bitEqual(noise001, noise005));
}

TEST_F(LayerEmission, LimitsHoldAndDensityIsOnlyClamped) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    std::vector<float> T0(cells(), 9990.0f), F0(cells(), 99.9f), D0(cells(), 150.0f);
    write(grid().temperature, T0);
    write(grid().fuel, F0);
    write(grid().density, D0);
    cindel::enqueueLayerEmission(rt(), s, 0, 16.5f, kFuel, kDt, true);
    finish();
    const std::vector<float> T = read(grid().temperature), F = read(grid().fuel), D = read(grid().density);
    const int x = 3, y = 5;
    EXPECT_EQ(T[idx(x, y, 16)], 10000.0f);
    EXPECT_EQ(F[idx(x, y, 16)], 100.0f);
    EXPECT_EQ(D[idx(x, y, 16)], 100.0f) << "an emitting cell keeps density within its limit";
    EXPECT_EQ(T[idx(x, y, 2)], 9990.0f) << "outside the slab nothing changes";
    EXPECT_EQ(D[idx(x, y, 2)], 150.0f);
}

TEST_F(LayerEmission, ReadsStayInsideTheRecordedMapSize) {
    FrameSettings s = emitSettings();
    // Large uploads leave canaries behind the small maps uploaded into the same buffers: a read past
    // the layer map meets an alpha of 1e6 (the temperature jumps to its limit), a read past the
    // custom map a pattern below 0 (the custom pattern stops matching Full Burn).
    uploadLayer(uniformMap(400, 400, 1.0e6f), s);
    uploadCustom(uniformMap(400, 400, -1.0e6f), s);
    const HostMap layer{awkwardMap(7, 5), 7, 5};
    const HostMap custom = uniformMap(3, 2, 1.0f);
    uploadLayer(layer, s);
    uploadCustom(custom, s);
    s.maskScale = 50.0f;  // edge offsets far beyond the map
    const double limit = 1.01 * s.sourceTemperature * kDt;
    struct Placement {
        int use;
        float szXY, pos, invSc, anc;
    };
    const Placement placements[] = {{0, 0.0f, 0, 1, 0},           {0, 1920.0f / 7.0f, 0, 1, 0},
                                    {1, 1.0f, -5000.0f, 3.0f, 2}, {1, 1.0f, 960.0f, 0.004f, 3.5f},
                                    {1, 1.0f, 1.0e9f, 1.0f, 0},   {1, 1.0f, -1.0e9f, 1.0f, 0},
                                    {1, 1.0f, 0.0f, -1.0f, 0}};
    int emittedSomewhere = 0;
    for (const Placement& p : placements) {
        SCOPED_TRACE(::testing::Message() << "placement " << p.use << " " << p.szXY << " " << p.pos);
        s.useLayerTransform = p.use;
        s.sourceSizeX = p.szXY;
        s.layerPosX = s.layerPosY = p.pos;
        s.layerInvScX = s.layerInvScY = p.invSc;
        s.layerAncX = s.layerAncY = p.anc;
        s.invert = 0;
        s.patternType = 2;
        const std::vector<float> fullBurn = emit(s);
        for (int pattern = 1; pattern <= 8; ++pattern) {
            s.patternType = pattern;
            s.invert = (pattern == 1 || pattern == 6) ? 1 : 0;
            const std::vector<float> T = emit(s);
            EXPECT_LE(*std::max_element(T.begin(), T.end()), limit) << "pattern " << pattern;
            if (pattern == 8) {
                EXPECT_TRUE(sameGrid(T, fullBurn, N()));
            }
            emittedSomewhere += countAbove(T, 0.0f);
        }
    }
    EXPECT_GT(emittedSomewhere, 0);
    // Where the placement lands on the map, every pattern, the clamped gradients included, matches
    // the reference, which never reads outside the map.
    s.useLayerTransform = 1;
    s.sourceSizeX = 1.0f;
    s.layerPosX = s.layerPosY = 960.0f;
    s.layerInvScX = s.layerInvScY = 0.004f;
    s.layerAncX = s.layerAncY = 3.5f;
    for (int pattern = 1; pattern <= 8; ++pattern) {
        SCOPED_TRACE(::testing::Message() << "pattern " << pattern);
        s.patternType = pattern;
        s.invert = (pattern == 1 || pattern == 6) ? 1 : 0;
        EXPECT_GT(expectMatchesReference(s, layer, custom), 0);
    }
}

TEST_F(LayerEmission, IdsOutsideTheGridDoNothing) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    const std::vector<float> exact = emit(s);
    clearFields();
    const cindel::GpuRuntime& r = rt();
    const cindel::SimGrid& g = r.grid;
    const size_t over = static_cast<size_t>(N()) + 3;
    cindel::KernelLaunch(r, cindel::KernelRole::EmitFromLayer)
        .arg("density", g.density)
        .arg("temperature", g.temperature)
        .arg("fuel", g.fuel)
        .arg("layerAlpha", r.emissionMap.handle)
        .arg("customMap", r.emissionMap.handle)
        .arg("N", g.N)
        .arg("layerW", 1920)
        .arg("layerH", 1080)
        .arg("customMapW", 0)
        .arg("customMapH", 0)
        .arg("compW", 1920)
        .arg("compH", 1080)
        .arg("szXY", 1.0f)
        .arg("szZ", s.sourceSizeZ)
        .arg("sxG", 0.0f)
        .arg("syG", 0.0f)
        .arg("szG", kSzG)
        .arg("temperatureK", s.sourceTemperature)
        .arg("fuelInject", kFuel)
        .arg("dt", kDt)
        .arg("patternMode", 2)
        .arg("maskScale", 1.0f)
        .arg("maskContrast", 25.0f)
        .arg("maskThreshold", 0.0f)
        .arg("maskInvert", 0)
        .arg("burnMode", 0)
        .arg("burnProgress", 0.0f)
        .arg("burnWidth", 0.2f)
        .arg("burnNoise", 0.0f)
        .arg("burnDirRad", 0.0f)
        .arg("burnSparkBoost", 0.0f)
        .arg("useLayerTransform", 0)
        .arg("layerPosX", 0.0f)
        .arg("layerPosY", 0.0f)
        .arg("layerInvScX", 1.0f)
        .arg("layerInvScY", 1.0f)
        .arg("layerAncX", 0.0f)
        .arg("layerAncY", 0.0f)
        .run3d(over);
    finish();
    EXPECT_GT(countAbove(exact, 0.0f), 0);
    EXPECT_TRUE(sameGrid(read(grid().temperature), exact, N()));
}

// ---------------------------------------------------------------------------------------------
// The burn mask.

std::vector<std::array<float, 2>> unitSquareGrid(int n) {
    std::vector<std::array<float, 2>> uv;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) uv.push_back({i / float(n - 1), j / float(n - 1)});
    }
    return uv;
}

TEST_F(LayerEmission, BurnProgressZeroRevealsNothingAndOneEverything) {
    const auto uv = unitSquareGrid(17);
    for (int mode = 1; mode <= 4; ++mode) {
        for (float width : {0.0f, 0.2f, 1.0f}) {
            // With jitter a Linear front can push points past the square, where the distance is
            // negative; the statement is about points at distances 0 … 1.
            for (float noise : mode == 1 ? std::vector<float>{0.0f} : std::vector<float>{0.0f, 0.4f}) {
                SCOPED_TRACE(::testing::Message() << "mode " << mode << ", width " << width << ", noise " << noise);
                const std::vector<float> at0 = burnAt(uv, mode, 0.0f, width, noise, 0.3f);
                const std::vector<float> at1 = burnAt(uv, mode, 1.0f, width, noise, 0.3f);
                for (size_t i = 0; i < uv.size(); ++i) {
                    EXPECT_LE(at0[i], 1e-6f) << i;
                    EXPECT_GE(at1[i], 1.0f - 1e-6f) << i;
                }
            }
        }
    }
    // Mode 0 is no burn at all.
    for (float b : burnAt(uv, 0, 0.0f, 0.2f, 0.4f, 0.0f)) EXPECT_EQ(b, 1.0f);
}

TEST_F(LayerEmission, BurnMaskMatchesTheReferenceIncludingJitter) {
    const auto uv = unitSquareGrid(23);
    for (int mode = 1; mode <= 5; ++mode) {
        for (float noise : {0.0f, 0.7f}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << ", noise " << noise);
            const std::vector<float> got = burnAt(uv, mode, 0.4f, 0.35f, noise, 2.1f);
            const std::vector<double> want = referenceBurn(uv, mode, 0.4f, 0.35f, noise, 2.1f, fbm());
            int partly = 0;
            for (size_t i = 0; i < uv.size(); ++i) {
                EXPECT_NEAR(got[i], want[i], 1e-4) << i;
                partly += want[i] > 0.01 && want[i] < 0.99;
            }
            EXPECT_GT(partly, 0) << "the front must cross the square";
        }
    }
}

TEST_F(LayerEmission, LinearAtDirectionZeroRevealsTheLeftFirst) {
    const std::vector<std::array<float, 2>> uv = {{0.0f, 0.5f}, {0.95f, 0.5f}};
    const std::vector<float> b = burnAt(uv, 1, 0.3f, 0.2f, 0.0f, 0.0f);
    EXPECT_GT(b[0], 0.99f);
    EXPECT_LT(b[1], 0.01f);

    // Through the kernel: at low progress only the left part of an opaque layer emits.
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    s.burnMode = 1;
    s.burnProgress = 0.3f;
    const std::vector<float> T = emit(s, true, 16.5f);
    const int y = N() / 2;
    EXPECT_GT(T[idx(0, y, 16)], 0.0f);
    EXPECT_EQ(T[idx(N() - 2, y, 16)], 0.0f);
}

TEST_F(LayerEmission, IrisRevealsFromTheOutsideInAndRadialFromTheCentre) {
    const std::vector<std::array<float, 2>> uv = {{0.0f, 0.0f}, {1.0f, 1.0f}, {0.5f, 0.5f}};
    const std::vector<float> iris = burnAt(uv, 4, 0.3f, 0.2f, 0.0f, 0.0f);
    EXPECT_GT(iris[0], 0.99f);
    EXPECT_GT(iris[1], 0.99f);
    EXPECT_LT(iris[2], 0.01f);
    const std::vector<float> radial = burnAt(uv, 2, 0.3f, 0.2f, 0.0f, 0.0f);
    EXPECT_LT(radial[0], 0.01f);
    EXPECT_LT(radial[1], 0.01f);
    EXPECT_GT(radial[2], 0.99f);
}

TEST(BurnProgressAt, PerFrameCurveWinsAndHoldsItsLastEntry) {
    FrameSettings s;
    cindel::resetFrameSettings(s);
    s.burnProgress = 0.25f;
    EXPECT_EQ(cindel::burnProgressAt(s, 7), 0.25f);
    s.burnCurveCount = 3;
    s.burnCurve[0] = 0.1f;
    s.burnCurve[1] = 0.2f;
    s.burnCurve[2] = 0.3f;
    EXPECT_EQ(cindel::burnProgressAt(s, 1), 0.2f);
    EXPECT_EQ(cindel::burnProgressAt(s, 40), 0.3f);
    EXPECT_EQ(cindel::burnProgressAt(s, -2), 0.1f);
}

// ---------------------------------------------------------------------------------------------
// The dispatch box.

TEST(LayerEmissionBox, ReducedByTheOpaqueRectangleWithAMargin) {
    FrameSettings s = emitSettings();
    s.emissionWidth = 1920;
    s.emissionHeight = 1080;
    s.emissionBoxX0 = 480;
    s.emissionBoxX1 = 959;
    s.emissionBoxY0 = 270;
    s.emissionBoxY1 = 539;
    // x: int(480 / 1920 × 32) − 4 = 4, int(960 / 1920 × 32) + 4 = 20; y: 8 − 4, 16 + 4.
    const cindel::LayerEmissionBox b = cindel::layerEmissionBox(s, 32);
    EXPECT_EQ(b.x0, 4);
    EXPECT_EQ(b.x1, 20);
    EXPECT_EQ(b.y0, 4);
    EXPECT_EQ(b.y1, 20);
    // Near the borders the margin is cut at the grid.
    s.emissionBoxX0 = 10;
    s.emissionBoxX1 = 1919;
    const cindel::LayerEmissionBox e = cindel::layerEmissionBox(s, 32);
    EXPECT_EQ(e.x0, 0);
    EXPECT_EQ(e.x1, 32);
}

TEST(LayerEmissionBox, FullRangeWithoutABoxOrAMapSize) {
    FrameSettings s = emitSettings();
    s.emissionWidth = 1920;
    s.emissionHeight = 1080;
    auto isFull = [](const cindel::LayerEmissionBox& b) { return b.x0 == 0 && b.y0 == 0 && b.x1 == 32 && b.y1 == 32; };
    EXPECT_TRUE(isFull(cindel::layerEmissionBox(s, 32))) << "no opaque box (-1)";
    s.emissionBoxX0 = 100;
    s.emissionBoxX1 = 50;  // x1 < x0
    s.emissionBoxY0 = 10;
    s.emissionBoxY1 = 20;
    EXPECT_TRUE(isFull(cindel::layerEmissionBox(s, 32)));
    s.emissionBoxX1 = 200;
    s.emissionWidth = 0;
    EXPECT_TRUE(isFull(cindel::layerEmissionBox(s, 32))) << "no map size";
    s.emissionWidth = 1920;
    EXPECT_FALSE(isFull(cindel::layerEmissionBox(s, 32))) << "control: the same box with a size reduces";
}

TEST_F(LayerEmission, ReducedDispatchGivesTheSameGridBitForBit) {
    FrameSettings s = emitSettings();
    // An opaque blob left of the centre of a composition-sized map.
    HostMap m = uniformMap(1920, 1080, 0.0f);
    for (int y = 300; y < 500; ++y) {
        for (int x = 600; x < 900; ++x) m.v[static_cast<size_t>(y) * m.w + x] = 0.5f + 0.5f * ((x + y) % 37) / 37.0f;
    }
    uploadLayer(m, s);
    s.emissionBoxX0 = 600;
    s.emissionBoxX1 = 899;
    s.emissionBoxY0 = 300;
    s.emissionBoxY1 = 499;
    s.patternType = 1;
    const cindel::LayerEmissionBox box = cindel::layerEmissionBox(s, N());
    ASSERT_LT((box.x1 - box.x0) * (box.y1 - box.y0), N() * N() / 2) << "the box must actually be reduced";
    const std::vector<float> full = emit(s, true);
    const std::vector<float> reduced = emit(s, false);
    EXPECT_GT(countAbove(full, 0.0f), 100);
    EXPECT_TRUE(sameGrid(full, reduced, N()));
    // The noise patterns and the burn modes with their jitter, too.
    s.burnNoise = 0.4f;
    s.sparkBoost = 0.3f;
    s.burnProgress = 0.6f;
    for (int pattern = 3; pattern <= 7; ++pattern) {
        for (int burn = 0; burn <= 4; ++burn) {
            SCOPED_TRACE(::testing::Message() << "pattern " << pattern << ", burn mode " << burn);
            s.patternType = pattern;
            s.burnMode = burn;
            const std::vector<float> a = emit(s, true);
            EXPECT_GT(countAbove(a, 0.0f), 0);
            EXPECT_TRUE(sameGrid(a, emit(s, false), N()));
        }
    }
    s.patternType = 1;
    s.burnMode = 0;

    // Scaled up about the composition's centre, the blob reaches columns left of the box the
    // formula gives; the dispatch must still cover them.
    s.sourceSizeX = 2.0f;
    const std::vector<float> scaledFull = emit(s, true);
    int leftOfBox = 0;
    for (int z = 0; z < N(); ++z)
        for (int y = 0; y < N(); ++y)
            for (int x = 0; x < box.x0; ++x) leftOfBox += scaledFull[idx(x, y, z)] > 0.0f;
    ASSERT_GT(leftOfBox, 0) << "the scenario must emit outside the unscaled box";
    const std::vector<float> scaledBox = emit(s, false);
    EXPECT_TRUE(sameGrid(scaledFull, scaledBox, N()));
}

// ---------------------------------------------------------------------------------------------
// Uploads.

TEST_F(LayerEmission, UploadsOnlyGrowAndASmallerMapReusesTheBuffer) {
    std::vector<float> big(64 * 48, 0.25f), small(16 * 8), bigger(80 * 64, 0.5f);
    for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<float>(i) / 128.0f;
    cindel::GpuRuntime& r = rt();
    for (cindel::MapBuffer* m : {&r.emissionMap, &r.customMap}) {
        auto upload = [&](const std::vector<float>& v, int w, int h) {
            return m == &r.emissionMap ? cindel::uploadEmissionMap(&r, v.data(), w, h)
                                       : cindel::uploadCustomMap(&r, v.data(), w, h);
        };
        ASSERT_TRUE(upload(big, 64, 48));
        const cl_mem first = m->handle;
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(m->capacity, 64u * 48u * 4u);
        EXPECT_EQ(m->width, 64);
        EXPECT_EQ(m->height, 48);

        ASSERT_TRUE(upload(small, 16, 8));
        EXPECT_EQ(m->handle, first) << "a smaller map reuses the buffer";
        EXPECT_EQ(m->capacity, 64u * 48u * 4u);
        EXPECT_EQ(m->width, 16);
        EXPECT_EQ(m->height, 8);
        // The new map sits at the start; the rest of the buffer is the old map's.
        const std::vector<float> back = simtest::readBuffer(m->handle, big.size());
        EXPECT_TRUE(std::equal(small.begin(), small.end(), back.begin()));
        EXPECT_EQ(back[small.size()], 0.25f);

        ASSERT_TRUE(upload(bigger, 80, 64));
        EXPECT_EQ(m->capacity, 80u * 64u * 4u);
        EXPECT_EQ(m->width, 80);
        const std::vector<float> grown = simtest::readBuffer(m->handle, bigger.size());
        EXPECT_TRUE(bitEqual(grown, bigger));
    }
}

TEST_F(LayerEmission, RefusedUploadsLeaveTheBufferAlone) {
    const std::vector<float> map(8 * 8, 1.0f);
    cindel::GpuRuntime& r = rt();
    ASSERT_TRUE(cindel::uploadEmissionMap(&r, map.data(), 8, 8));
    const cindel::MapBuffer before = r.emissionMap;
    EXPECT_FALSE(cindel::uploadEmissionMap(nullptr, map.data(), 8, 8));
    EXPECT_FALSE(cindel::uploadEmissionMap(&r, nullptr, 8, 8));
    EXPECT_FALSE(cindel::uploadEmissionMap(&r, map.data(), 0, 8));
    EXPECT_FALSE(cindel::uploadEmissionMap(&r, map.data(), 8, -1));
    EXPECT_FALSE(cindel::uploadCustomMap(nullptr, map.data(), 8, 8));
    EXPECT_FALSE(cindel::uploadCustomMap(&r, map.data(), 0, 0));
    EXPECT_EQ(r.emissionMap.handle, before.handle);
    EXPECT_EQ(r.emissionMap.width, 8);
    EXPECT_EQ(r.customMap.handle, nullptr);

    cindel::GpuRuntime notReady;
    EXPECT_FALSE(cindel::uploadEmissionMap(&notReady, map.data(), 8, 8));
    EXPECT_FALSE(cindel::uploadCustomMap(&notReady, map.data(), 8, 8));
    EXPECT_EQ(notReady.emissionMap.handle, nullptr);
}

// ---------------------------------------------------------------------------------------------
// The two-pass form against the single kernel.

class LayerEmissionTwoPass : public LayerEmission, public ::testing::WithParamInterface<int> {
protected:
    int side() const override { return GetParam(); }

    void TearDown() override {
        cindel::setLayerEmissionTwoPassEnabled(true);
        LayerEmission::TearDown();
    }

    struct Fields {
        std::vector<float> density, temperature, fuel;
    };

    // Fields that already hold something, some of it at or beyond the source's limits, so that
    // the additions and both clamps are compared too.
    void writeStartingFields() {
        uint32_t state = 777u;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
        };
        std::vector<float> d(cells()), t(cells()), f(cells());
        for (size_t i = 0; i < cells(); ++i) {
            d[i] = next() < 0.2f ? 150.0f : 120.0f * next();
            t[i] = next() < 0.2f ? 9999.9f : 500.0f * next();
            f[i] = next() < 0.2f ? 99.999f : 10.0f * next();
        }
        write(grid().density, d);
        write(grid().temperature, t);
        write(grid().fuel, f);
    }

    // One launch in the chosen form; the column weights are first filled with NaN, so the caller
    // can tell whether the two-pass form ran.
    Fields emitIn(bool twoPass, const FrameSettings& s, bool fullRange, float szG) {
        clearFields();
        writeStartingFields();
        if (rt().layerColumnWeights.handle) {
            simtest::fillBuffer(rt().layerColumnWeights.handle, columnCount(), std::nanf(""));
        }
        cindel::setLayerEmissionTwoPassEnabled(twoPass);
        cindel::enqueueLayerEmission(rt(), s, 0, szG, kFuel, kDt, fullRange);
        cindel::setLayerEmissionTwoPassEnabled(true);
        finish();
        return {read(grid().density), read(grid().temperature), read(grid().fuel)};
    }

    size_t columnCount() const { return static_cast<size_t>(N()) * static_cast<size_t>(N()); }

    // Empty while the runtime has no column weights.
    std::vector<float> columnWeights() {
        if (!rt().layerColumnWeights.handle) return {};
        return simtest::readBuffer(rt().layerColumnWeights.handle, columnCount());
    }

    // Both forms from the same starting fields; returns the number of cells the emission changed.
    int expectSameBothWays(const FrameSettings& s, bool fullRange, float szG = kSzG) {
        const Fields single = emitIn(false, s, fullRange, szG);
        const std::vector<float> untouched = columnWeights();
        EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](float w) { return std::isnan(w); }))
            << "the single kernel must not run the columns pass";
        const Fields twoPass = emitIn(true, s, fullRange, szG);
        const std::vector<float> weights = columnWeights();
        EXPECT_TRUE(std::any_of(weights.begin(), weights.end(), [](float w) { return !std::isnan(w); }))
            << "the two-pass form must have run";
        EXPECT_TRUE(sameGrid(single.density, twoPass.density, N())) << "density";
        EXPECT_TRUE(sameGrid(single.temperature, twoPass.temperature, N())) << "temperature";
        EXPECT_TRUE(sameGrid(single.fuel, twoPass.fuel, N())) << "fuel";
        clearFields();
        writeStartingFields();
        const std::vector<float> before = read(grid().temperature);
        int changed = 0;
        for (size_t i = 0; i < cells(); ++i) changed += std::memcmp(&before[i], &single.temperature[i], 4) != 0;
        return changed;
    }
};

TEST_P(LayerEmissionTwoPass, EveryPatternInvertAndPlacementGivesTheSameBits) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    const HostMap custom{awkwardMap(37, 23), 37, 23};
    uploadLayer(layer, s);
    uploadCustom(custom, s);
    s.maskContrast = 60.0f;
    s.maskThreshold = 10.0f;
    s.maskScale = 1.7f;
    for (int placed = 0; placed < 2; ++placed) {
        if (placed) {
            s.useLayerTransform = 1;
            s.sourceSizeX = 1.2f;
            s.layerPosX = 300.0f;
            s.layerPosY = 200.0f;
            s.layerInvScX = 0.07f;
            s.layerInvScY = 0.09f;
            s.layerAncX = 20.0f;
            s.layerAncY = 10.0f;
        } else {
            s.useLayerTransform = 0;
            s.sourceSizeX = 11.0f;
        }
        for (int invert = 0; invert < 2; ++invert) {
            for (int pattern = 1; pattern <= 8; ++pattern) {
                SCOPED_TRACE(::testing::Message() << "pattern " << pattern << (placed ? ", placed" : ", centred")
                                                  << (invert ? ", inverted" : ""));
                s.patternType = pattern;
                s.invert = invert;
                // Full Burn at this contrast is a pattern of 1, which inverted emits nothing.
                const int least = invert && pattern == 2 ? -1 : 20;
                EXPECT_GT(expectSameBothWays(s, true), least) << "the scenario must emit";
            }
        }
    }
}

TEST_P(LayerEmissionTwoPass, EveryBurnModeWithAndWithoutNoiseGivesTheSameBits) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    uploadLayer(layer, s);
    s.sourceSizeX = 11.0f;
    s.burnProgress = 0.45f;
    s.burnWidth = 0.3f;
    s.burnDirection = 0.7f;
    s.sparkBoost = 0.5f;
    for (int pattern : {2, 3, 7}) {
        for (float noise : {0.0f, 0.4f}) {
            for (int mode = 0; mode <= 5; ++mode) {
                SCOPED_TRACE(::testing::Message() << "pattern " << pattern << ", burn mode " << mode << ", noise "
                                                  << noise);
                s.patternType = pattern;
                s.burnMode = mode;
                s.burnNoise = noise;
                EXPECT_GT(expectSameBothWays(s, true), 20);
            }
        }
    }
}

TEST_P(LayerEmissionTwoPass, ReducedBoxThinAndEdgeSlabsGiveTheSameBits) {
    FrameSettings s = emitSettings();
    HostMap m = uniformMap(1920, 1080, 0.0f);
    for (int y = 300; y < 500; ++y) {
        for (int x = 600; x < 900; ++x) m.v[static_cast<size_t>(y) * m.w + x] = 0.5f + 0.5f * ((x + y) % 37) / 37.0f;
    }
    uploadLayer(m, s);
    s.emissionBoxX0 = 600;
    s.emissionBoxX1 = 899;
    s.emissionBoxY0 = 300;
    s.emissionBoxY1 = 499;
    const cindel::LayerEmissionBox box = cindel::layerEmissionBox(s, N());
    ASSERT_LT((box.x1 - box.x0) * (box.y1 - box.y0), N() * N() / 2) << "the box must actually be reduced";
    s.burnProgress = 0.6f;
    s.sparkBoost = 0.3f;
    for (int fullRange = 0; fullRange < 2; ++fullRange) {
        for (int pattern = 1; pattern <= 7; ++pattern) {
            for (int mode : {0, 3, 5}) {
                for (float noise : {0.0f, 0.4f}) {
                    SCOPED_TRACE(::testing::Message() << "pattern " << pattern << ", burn mode " << mode << ", noise "
                                                      << noise << (fullRange ? ", full range" : ", reduced box"));
                    s.patternType = pattern;
                    s.burnMode = mode;
                    s.burnNoise = noise;
                    s.invert = pattern == 4 ? 1 : 0;
                    EXPECT_GT(expectSameBothWays(s, fullRange != 0), 0);
                }
            }
        }
    }
    // A slab thinner than a cell, one that leaves the grid at the bottom and one at the top.
    s.patternType = 3;
    s.burnMode = 1;
    s.sourceSizeZ = 0.3f;
    EXPECT_GT(expectSameBothWays(s, false, 10.4f), 0);
    s.sourceSizeZ = 9.0f;
    EXPECT_GT(expectSameBothWays(s, false, 1.0f), 0);
    EXPECT_GT(expectSameBothWays(s, false, static_cast<float>(N()) - 0.7f), 0);
}

// A runtime seen only as const cannot make the two-pass form's kernels or buffer: without a
// buffer for the whole grid it falls back to the single kernel, with the same result.
TEST_P(LayerEmissionTwoPass, WithoutItsBufferTheConstFormUsesTheSingleKernel) {
    FrameSettings s = emitSettings();
    const HostMap layer{awkwardMap(157, 113), 157, 113};
    uploadLayer(layer, s);
    s.sourceSizeX = 11.0f;
    s.patternType = 3;
    const Fields single = emitIn(false, s, true, kSzG);
    cindel::releaseBuffer(rt().layerColumnWeights);
    clearFields();
    writeStartingFields();
    cindel::enqueueLayerEmission(std::as_const(rt()), s, 0, kSzG, kFuel, kDt, true);
    finish();
    EXPECT_EQ(rt().layerColumnWeights.handle, nullptr);
    EXPECT_TRUE(sameGrid(single.temperature, read(grid().temperature), N()));
    EXPECT_TRUE(sameGrid(single.fuel, read(grid().fuel), N()));
    EXPECT_TRUE(sameGrid(single.density, read(grid().density), N()));
    // The runtime's own overload makes the buffer again.
    expectSameBothWays(s, true);
    EXPECT_NE(rt().layerColumnWeights.handle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sides, LayerEmissionTwoPass, ::testing::Values(32, 37));

// ---------------------------------------------------------------------------------------------
// The step driver's choice.

class LayerEmissionStep : public LayerEmission {
protected:
    // Source Only: emission and combustion, nothing moves or cools. The emission stays far below
    // ignition, so the temperature after frame 0 is the emission alone.
    static FrameSettings stepSettings() {
        FrameSettings s = emitSettings();
        s.simMode = 1;
        s.emberAmount = 0.0f;
        s.sourcePosition = {1500.0f, 800.0f, 120.0f};
        return s;
    }
    std::vector<float> stepFrameZero(const FrameSettings& s) {
        rt().grid.lastFrame = -1;
        rt().grid.settingsHash = 0;
        EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), N(), 0, kDt, s));
        return read(grid().temperature);
    }
};

TEST_F(LayerEmissionStep, WithASourceLayerTheStepEmitsFromTheMap) {
    FrameSettings s = stepSettings();
    // A composition a little smaller than the map, so that no column lands on a pixel edge.
    s.compWidth = 1900;
    s.compHeight = 1070;
    // An opaque rectangle on the left, away from the volume source's position on the right.
    HostMap m = uniformMap(1920, 1080, 0.0f);
    for (int y = 300; y < 700; ++y) {
        for (int x = 100; x < 600; ++x) m.v[static_cast<size_t>(y) * m.w + x] = 1.0f;
    }
    uploadLayer(m, s);
    ASSERT_TRUE(cindel::canEmitFromLayer(rt(), s));
    const std::vector<float> T = stepFrameZero(s);

    // The step's depth: z 120 composition pixels × 32 / 1900 from the middle slab.
    const float szG = 120.0f * 32.0f / 1900.0f + 16.0f;
    const double fuel = s.fuelAmount * cindel::emissionGate(s, 0.0f) * cindel::fuelRamp(s, 0.0f);
    ASSERT_GT(fuel, 0.0);
    const Reference ref = referenceEmission(s, m, {}, N(), szG, 0.0f, fbm(), hash());
    int emitting = 0;
    for (size_t i = 0; i < cells(); ++i) {
        const double p = ref.profile[i];
        if (std::isnan(p)) continue;
        const double expected = s.sourceTemperature * p * kDt;
        ASSERT_NEAR(T[i], expected, kRelTol * s.sourceTemperature * kDt) << "cell " << i;
        emitting += p > 0;
    }
    EXPECT_GT(emitting, 100);
    // Nothing from the volume source at its own position.
    const int sx = static_cast<int>(1500.0f * 32.0f / 1900.0f), sy = static_cast<int>(800.0f * 32.0f / 1070.0f);
    EXPECT_EQ(T[idx(sx, sy, static_cast<int>(szG))], 0.0f);
    // Fuel follows the step's fuel.
    const std::vector<float> F = read(grid().fuel);
    const size_t probe = idx(5, 16, static_cast<int>(szG));
    ASSERT_GT(ref.profile[probe], 0.0);
    EXPECT_NEAR(F[probe], fuel * ref.profile[probe] * kDt, 1e-4 * fuel * kDt);
}

TEST_F(LayerEmissionStep, AnAllTransparentMapStillReplacesTheVolumeSource) {
    FrameSettings s = stepSettings();
    uploadLayer(uniformMap(320, 180, 0.0f), s);
    EXPECT_EQ(countAbove(stepFrameZero(s), 0.0f), 0);
}

TEST_F(LayerEmissionStep, WithoutAnUploadedMapTheStepUsesTheVolumeSource) {
    FrameSettings s = stepSettings();
    s.emissionWidth = 1920;
    s.emissionHeight = 1080;
    ASSERT_FALSE(cindel::canEmitFromLayer(rt(), s));
    const std::vector<float> withLayerFlag = stepFrameZero(s);
    s.sourceLayerPresent = 0;
    const std::vector<float> volume = stepFrameZero(s);
    EXPECT_GT(countAbove(volume, 0.0f), 0);
    EXPECT_TRUE(sameGrid(withLayerFlag, volume, N()));

    // A map uploaded for a frame without a source layer is not used either.
    uploadLayer(uniformMap(320, 180, 1.0f), s);
    EXPECT_FALSE(cindel::canEmitFromLayer(rt(), s));
    EXPECT_TRUE(sameGrid(stepFrameZero(s), volume, N()));
}

// A frame whose own map could not be made must not emit from an earlier frame's map still in the
// buffer: once the frame driver has forgotten the uploads, only a new upload counts.
TEST_F(LayerEmissionStep, AForgottenUploadIsNotEmittedFrom) {
    FrameSettings s = stepSettings();
    uploadLayer(uniformMap(320, 180, 1.0f), s);
    ASSERT_TRUE(cindel::canEmitFromLayer(rt(), s));
    const cl_mem buffer = rt().emissionMap.handle;
    cindel::forgetUploadedMaps(rt());
    EXPECT_FALSE(cindel::canEmitFromLayer(rt(), s));
    const std::vector<float> stale = stepFrameZero(s);
    s.sourceLayerPresent = 0;
    EXPECT_TRUE(sameGrid(stale, stepFrameZero(s), N())) << "the forgotten map was emitted from";

    // The storage stays for the next upload.
    s.sourceLayerPresent = 1;
    uploadLayer(uniformMap(160, 90, 1.0f), s);
    EXPECT_EQ(rt().emissionMap.handle, buffer);
    EXPECT_TRUE(cindel::canEmitFromLayer(rt(), s));
}

}  // namespace
