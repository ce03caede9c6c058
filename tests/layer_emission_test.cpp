// Layer emission against a double-precision reference of its per-cell mapping, the reduced box
// and two-pass forms against the single kernel's bits, the map uploads and the step's source
// choice. The reference takes noise values from the library (the hash amplifies sin's last bit).
// 1e-4 of the largest increment covers float against double; columns that rounding decides (within
// 1e-3 of a pixel edge, within 1e-4 of the 0.005 cut-off) are left out and counted.
#include "sim/layer_emission.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "cl_harness.h"
#include "emit/map_upload.h"
#include "gpu/launch.h"
#include "sim/step.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using cltest::sameBits;
using Point = std::array<float, 3>;
using NoiseFn = std::function<std::vector<float>(const std::vector<Point>&)>;

constexpr double kRelTol = 1e-4, kPixelEdgeSlack = 1e-3, kCutoffSlack = 1e-4, kCutoff = 0.005;
constexpr float kDt = 1.0f / 24.0f, kFuel = 50.0f, kSzG = 16.25f;  // a depth between cell centres

const char kProbeKernels[] = R"CL(
__kernel void test_noise(__global const float* p, __global float* out, int n, int hash) {
    const int i = get_global_id(0);
    if (i < n) out[i] = hash ? cd_hash3f(p[3 * i], p[3 * i + 1], p[3 * i + 2]) : cd_fbmf(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
}
)CL";

int countAbove(const std::vector<float>& v, float threshold) {
    return int(std::count_if(v.begin(), v.end(), [&](float x) { return x > threshold; }));
}

bool nearPixelEdge(double l) {
    return std::fabs(l - std::round(l)) < kPixelEdgeSlack;
}

struct HostMap {
    std::vector<float> v;
    int w = 0, h = 0;
    double at(int x, int y) const { return v[size_t(std::clamp(y, 0, h - 1)) * w + size_t(std::clamp(x, 0, w - 1))]; }
};
HostMap uniformMap(int w, int h, float value) {
    return {std::vector<float>(size_t(w) * h, value), w, h};
}

// A soft disc, stripes, a hard-edged rectangle, a texture and transparent surroundings.
HostMap awkwardMap(int w, int h) {
    HostMap m = uniformMap(w, h, 0.0f);
    uint32_t state = 12345u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const double r = std::hypot(x - 0.45 * w, y - 0.5 * h), rIn = 0.3 * std::min(w, h);
            double a = r < rIn ? 1.0 : std::max((rIn + 10.0 - r) / 10.0, 0.0);
            if ((x / 9 + y / 13) % 3 == 0) a *= 0.6;
            if (x > w * 3 / 4 && y < h / 4) a = 0.3;
            m.v[size_t(y) * w + x] = float(a * (0.8 + 0.2 * double(state >> 8) / double(1u << 24)));
        }
    return m;
}

// The burn mask in double: a distance per mode (linear along a direction, radial, dissolve noise,
// iris), each point optionally jittered by noise, through a smoothstep front.
std::vector<double> referenceBurn(const std::vector<Point>& uv, int mode, float progress, float width, float noise,
                                  float dirRad, const NoiseFn& fbm) {
    std::vector<double> out(uv.size(), 1.0);
    if (mode <= 0) return out;
    std::vector<double> u(uv.size()), v(uv.size()), dist(uv.size());
    std::vector<Point> pa, pb;
    for (const Point& p : uv) {
        pa.push_back({5.0f * p[0] + 1.7f, 5.0f * p[1] + 2.3f, 0.0f});
        pb.push_back({5.0f * p[0] + 7.1f, 5.0f * p[1] + 4.3f, 0.0f});
    }
    const std::vector<float> wa = noise > 0.0001f ? fbm(pa) : std::vector<float>(uv.size(), 0.5f);
    const std::vector<float> wb = noise > 0.0001f ? fbm(pb) : std::vector<float>(uv.size(), 0.5f);
    std::vector<Point> pd;
    for (size_t i = 0; i < uv.size(); ++i) {
        u[i] = uv[i][0] + (wa[i] - 0.5) * noise * 0.5;
        v[i] = uv[i][1] + (wb[i] - 0.5) * noise * 0.5;
        pd.push_back({float(9.0 * u[i] + 3.3), float(9.0 * v[i] + 6.7), 0.0f});
    }
    const std::vector<float> dissolve = mode == 3 ? fbm(pd) : std::vector<float>(uv.size());
    const double w = std::max(width * 0.5, 0.01), lo = progress * (1.0 + 2.0 * w) - 2.0 * w;
    for (size_t i = 0; i < uv.size(); ++i) {
        const double du = u[i] - 0.5, dv = v[i] - 0.5, radial = std::min(std::hypot(du, dv) / 0.71, 1.0);
        const double d = mode == 1   ? (du * std::cos(dirRad) + dv * std::sin(dirRad) + 0.71) / 1.42
                         : mode == 2 ? radial
                         : mode == 3 ? dissolve[i]
                                     : 1.0 - radial;
        const double t = std::clamp((d - lo) / (2.0 * w), 0.0, 1.0);
        out[i] = 1.0 - t * t * (3.0 - 2.0 * t);
    }
    return out;
}

// The fraction of temperatureK x dt (and of fuelInject x dt) each cell receives; NaN where float
// rounding decides.
struct Reference {
    std::vector<double> profile;
    int ambiguous = 0;
};

Reference referenceEmission(const FrameSettings& s, const HostMap& layer, const HostMap& custom, int N, float szG,
                            float burnProgress, const NoiseFn& fbm, const NoiseFn& hash) {
    const double compW = s.compWidth, compH = s.compHeight;
    const double inv = s.sourceSizeX > 0.001f ? 1.0 / double(s.sourceSizeX) : 1.0;
    const size_t columns = size_t(N) * N;
    std::vector<double> alpha(columns, -1.0), pattern(columns, 1.0), burn(columns, 1.0);  // alpha -1: off the map
    std::vector<int> lx(columns), ly(columns);
    std::vector<char> ambiguous(columns, 0);
    std::vector<Point> noisePoints, uv;
    const int mode = s.patternType;
    const float ms = s.maskScale;
    for (size_t i = 0; i < columns; ++i) {
        const double compX = (double(i % N) + 0.5) / N * compW, compY = (double(i / N) + 0.5) / N * compH;
        const double fx = s.useLayerTransform ? (compX - s.layerPosX) * inv * s.layerInvScX + s.layerAncX
                                              : (compX - compW / 2) * inv + layer.w / 2.0;
        const double fy = s.useLayerTransform ? (compY - s.layerPosY) * inv * s.layerInvScY + s.layerAncY
                                              : (compY - compH / 2) * inv + layer.h / 2.0;
        ambiguous[i] = nearPixelEdge(fx) || nearPixelEdge(fy);
        const double x0 = std::floor(fx), y0 = std::floor(fy), tx = fx - x0, ty = fy - y0;
        if (x0 >= 0 && y0 >= 0 && x0 <= layer.w - 1 && y0 <= layer.h - 1) {
            lx[i] = int(x0), ly[i] = int(y0);
            alpha[i] = layer.at(lx[i], ly[i]) * (1 - tx) * (1 - ty) + layer.at(lx[i] + 1, ly[i]) * tx * (1 - ty) +
                       layer.at(lx[i], ly[i] + 1) * (1 - tx) * ty + layer.at(lx[i] + 1, ly[i] + 1) * tx * ty;
        }
        const float px = float(lx[i]), py = float(ly[i]);
        noisePoints.push_back(mode == 4   ? Point{px * ms * 0.015f - 0.5f, py * ms * 0.012f, 0.0f}
                              : mode == 5 ? Point{px, py, 0.0f}
                              : mode == 7 ? Point{px * ms * 0.005f, py * ms * 0.005f, 0.0f}
                                          : Point{px * ms * 0.015f, py * ms * 0.015f, 0.0f});
        uv.push_back({px / float(std::max(layer.w - 1, 1)), py / float(std::max(layer.h - 1, 1)), 0.0f});
        if (mode == 8 && custom.w > 0) {
            const double cx = (compX - compW / 2) * inv + custom.w / 2.0,
                         cy = (compY - compH / 2) * inv + custom.h / 2.0;
            ambiguous[i] |= nearPixelEdge(cx) || nearPixelEdge(cy);
            pattern[i] = custom.at(int(std::floor(cx)), int(std::floor(cy)));
        }
    }
    const std::vector<float> noise = mode == 5                               ? hash(noisePoints)
                                     : (mode == 3 || mode == 4 || mode == 7) ? fbm(noisePoints)
                                                                             : std::vector<float>();
    // Edge offsets in layer pixels: a column's share of the map, scaled, the scale at least 0.05.
    const int eS = std::max(int(std::max({layer.w / N, layer.h / N, 2}) * std::max(ms, 0.05f)), 1);
    const std::vector<double> b =
        referenceBurn(uv, s.burnMode, burnProgress, s.burnWidth, s.burnNoise, s.burnDirection, fbm);
    for (size_t i = 0; i < columns; ++i) {
        const double gx = layer.at(lx[i] + eS, ly[i]) - layer.at(lx[i] - eS, ly[i]);
        const double gy = layer.at(lx[i], ly[i] - eS) - layer.at(lx[i], ly[i] + eS);
        if (mode == 1) pattern[i] = 2.0 * std::hypot(gx, gy);
        if (mode >= 3 && mode <= 5) pattern[i] = noise[i];
        if (mode == 6) pattern[i] = 4.0 * (gx * gx + gy * gy);
        if (mode == 7) pattern[i] = 1.8 * noise[i];
        pattern[i] = std::clamp((pattern[i] - s.maskThreshold * 0.01) * (s.maskContrast * 0.02 + 0.5), 0.0, 1.0);
        if (s.invert) pattern[i] = 1.0 - pattern[i];
        const double front = 4.0 * b[i] * (1.0 - b[i]);  // sparks along the burning front
        if (s.burnMode > 0) burn[i] = b[i] + front * (1.0 + s.sparkBoost * front);
    }
    Reference ref;
    ref.profile.assign(columns * N, 0.0);
    const double half = std::max(s.sourceSizeZ * 0.5, 0.5);
    for (size_t i = 0; i < columns; ++i) {
        const double eff = alpha[i] >= 0 ? alpha[i] * pattern[i] * burn[i] : 0.0;
        const bool unsure = ambiguous[i] || std::fabs(alpha[i] - kCutoff) < kCutoffSlack ||
                            (alpha[i] >= 0 && std::fabs(eff - kCutoff) < kCutoffSlack);
        ref.ambiguous += unsure;
        for (int z = 0; z < N; ++z) {
            const double zT = std::fabs(z + 0.5 - szG) / half;
            double& cell = ref.profile[size_t(z) * columns + i];
            if (unsure)
                cell = std::nan("");
            else if (alpha[i] >= kCutoff && eff >= kCutoff && zT < 1.0)
                cell = eff * (1.0 - zT * zT);
        }
    }
    return ref;
}

// An HD composition, a slab 6 cells thick, Full Burn at neutral contrast (x 1), no burn.
FrameSettings emitSettings() {
    FrameSettings s = simtest::defaultSimSettings();
    s.sourceLayerPresent = 1, s.sourceTemperature = 3000.0f, s.sourceSizeX = 1.0f, s.sourceSizeZ = 6.0f;
    s.patternType = 2, s.maskScale = 1.0f, s.maskContrast = 25.0f, s.maskThreshold = 0.0f, s.invert = 0;
    s.burnMode = 0, s.burnProgress = 0.5f, s.burnWidth = 0.2f, s.burnNoise = s.sparkBoost = 0.0f;
    return s;
}

class LayerEmission : public simtest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dropMaps();
        violationsBefore_ = cindel::kernelContractViolations();
    }
    void TearDown() override {
        EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch bound a wrong argument";
        cindel::setLayerEmissionTwoPassEnabled(true);
        if (rt().ready) dropMaps();
    }
    void dropMaps() {
        for (cindel::MapBuffer* m : {&rt().emissionMap, &rt().customMap})
            cindel::releaseBuffer(m->handle), *m = cindel::MapBuffer{};
    }
    void uploadLayer(const HostMap& m, FrameSettings& s) {
        ASSERT_TRUE(cindel::uploadEmissionMap(&rt(), m.v.data(), m.w, m.h));
        s.emissionWidth = m.w, s.emissionHeight = m.h;
    }
    void uploadCustom(const HostMap& m, FrameSettings& s) {
        ASSERT_TRUE(cindel::uploadCustomMap(&rt(), m.v.data(), m.w, m.h));
        s.customMapPresent = 1, s.customMapWidth = m.w, s.customMapHeight = m.h;
    }

    // One launch on cleared fields; the temperature.
    std::vector<float> emit(const FrameSettings& s, bool fullRange = true, float szG = kSzG) {
        clearFields();
        cindel::enqueueLayerEmission(rt(), s, 0, szG, kFuel, kDt, fullRange);
        finish();
        return read(grid().temperature);
    }

    template <class... Args>
    std::vector<float> probe(const char* kernel, const std::vector<Point>& points, const Args&... args) {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        cl_program program = h.program(kProbeKernels);
        EXPECT_NE(program, nullptr) << h.buildLog();
        std::vector<float> flat;
        for (const Point& p : points) flat.insert(flat.end(), p.begin(), p.end());
        cltest::ClBuffer in = h.upload(flat), out = h.output(points.size());
        EXPECT_TRUE(h.run(program, kernel, cltest::Range::linear(points.size()), in, out, int(points.size()), args...));
        return h.read(out);
    }
    NoiseFn noiseFn(int isHash) {
        return [this, isHash](const std::vector<Point>& p) { return probe("test_noise", p, isHash); };
    }

    // Temperature and fuel against the reference; the number of emitting cells compared.
    int expectMatchesReference(const FrameSettings& s, const HostMap& layer, const HostMap& custom) {
        const std::vector<float> T = emit(s), F = read(grid().fuel), D = read(grid().density);
        const Reference ref = referenceEmission(s, layer, custom, N(), kSzG, s.burnProgress, noiseFn(0), noiseFn(1));
        double maxProfile = 1.0;
        for (double p : ref.profile) maxProfile = std::isnan(p) ? maxProfile : std::max(maxProfile, p);
        int emitting = 0, mismatches = 0;
        for (size_t i = 0; i < cells(); ++i) {
            const double p = ref.profile[i];
            if (std::isnan(p)) continue;
            emitting += p > 0;
            if ((std::fabs(T[i] - s.sourceTemperature * p * kDt) > kRelTol * s.sourceTemperature * kDt * maxProfile ||
                 std::fabs(F[i] - kFuel * p * kDt) > kRelTol * kFuel * kDt * maxProfile || D[i] != 0.0f) &&
                ++mismatches <= 5)
                ADD_FAILURE() << "cell " << i << ": temperature " << T[i] << " expected "
                              << s.sourceTemperature * p * kDt << ", fuel " << F[i] << ", density " << D[i];
        }
        EXPECT_LE(ref.ambiguous, N() * N() / 50) << "too many columns left out";
        return emitting;
    }

    int violationsBefore_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The kernel against the reference.

TEST_F(LayerEmission, MatchesTheReferenceForEveryPatternBurnModeAndPlacement) {
    FrameSettings base = emitSettings();
    // Canaries behind the maps in their buffers: a read past the recorded size meets an alpha of
    // 1e6 or a pattern of -1e6, which no case could match.
    uploadLayer(uniformMap(400, 400, 1.0e6f), base);
    uploadCustom(uniformMap(400, 400, -1.0e6f), base);
    const HostMap layer = awkwardMap(157, 113), custom = awkwardMap(37, 23);
    uploadLayer(layer, base);
    uploadCustom(custom, base);
    // The map, scaled up, spans slightly more than the composition's width.
    base.sourceSizeX = 11.0f, base.maskContrast = 60.0f, base.maskThreshold = 10.0f, base.maskScale = 1.7f;
    auto placed = [](FrameSettings& s) {
        s.useLayerTransform = 1, s.sourceSizeX = 1.2f;
        s.layerPosX = 300.0f, s.layerPosY = 200.0f, s.layerInvScX = 0.07f, s.layerInvScY = 0.09f;
        s.layerAncX = 20.0f, s.layerAncY = 10.0f;
    };
    // Edge offsets far beyond the map: the reads clamp at its border.
    auto edge = [](FrameSettings& s) {
        s.useLayerTransform = 1, s.sourceSizeX = 1.0f, s.maskScale = 50.0f;
        s.layerPosX = s.layerPosY = 953.0f, s.layerInvScX = s.layerInvScY = 0.1f, s.layerAncX = s.layerAncY = 60.0f;
    };
    std::vector<std::pair<std::string, std::function<void(FrameSettings&)>>> cases;
    for (int pattern = 1; pattern <= 8; ++pattern) {
        cases.push_back({"pattern " + std::to_string(pattern), [=](FrameSettings& s) { s.patternType = pattern; }});
        cases.push_back({"placed, pattern " + std::to_string(pattern),
                         [=](FrameSettings& s) { placed(s), s.patternType = pattern; }});
        cases.push_back({"edge, pattern " + std::to_string(pattern), [=](FrameSettings& s) {
                             edge(s), s.patternType = pattern, s.invert = pattern == 1 || pattern == 6;
                         }});
    }
    for (int burn = 1; burn <= 5; ++burn)
        for (float noise : {0.0f, 0.4f})
            cases.push_back({"burn " + std::to_string(burn) + (noise > 0 ? " jittered" : ""), [=](FrameSettings& s) {
                                 s.burnMode = burn, s.burnNoise = noise, s.burnProgress = 0.45f, s.burnWidth = 0.3f;
                                 s.burnDirection = 0.7f, s.sparkBoost = 0.5f, s.maskContrast = 25.0f,
                                 s.maskThreshold = 0.0f;
                             }});
    cases.push_back({"inverted noise", [](FrameSettings& s) { s.invert = 1, s.patternType = 3; }});
    // At most half the thickness either side of the depth, and at least the cell it falls in.
    cases.push_back({"thin slab", [](FrameSettings& s) { s.sourceSizeZ = 0.0f; }});
    cases.push_back({"contrast 0 halves", [](FrameSettings& s) { s.maskContrast = 0.0f, s.maskThreshold = 0.0f; }});
    // Below 0.05 the scale counts as 0.05 for the edge offset only.
    cases.push_back({"edges at a tiny scale", [](FrameSettings& s) { s.patternType = 1, s.maskScale = 0.01f; }});
    for (const auto& [name, apply] : cases) {
        SCOPED_TRACE(name);
        FrameSettings s = base;
        apply(s);
        EXPECT_GT(expectMatchesReference(s, layer, custom), name.rfind("edge", 0) == 0 ? 0 : 50) << "it must emit";
    }
}

TEST_F(LayerEmission, TemperatureFuelAndDensityStopAtTheirLimits) {
    FrameSettings s = emitSettings();
    uploadLayer(uniformMap(1920, 1080, 1.0f), s);
    write(grid().temperature, std::vector<float>(cells(), 9990.0f));
    write(grid().fuel, std::vector<float>(cells(), 99.9f));
    write(grid().density, std::vector<float>(cells(), 150.0f));
    cindel::enqueueLayerEmission(rt(), s, 0, 16.5f, kFuel, kDt, true);
    finish();
    EXPECT_EQ(read(grid().temperature)[idx(3, 5, 16)], 10000.0f);
    EXPECT_EQ(read(grid().fuel)[idx(3, 5, 16)], 100.0f);
    EXPECT_EQ(read(grid().density)[idx(3, 5, 16)], 100.0f) << "an emitting cell's density is only clamped";
    EXPECT_EQ(read(grid().density)[idx(3, 5, 2)], 150.0f) << "outside the slab nothing changes";
}

TEST(BurnProgressAt, APerFrameCurveWinsAndHoldsItsEnds) {
    FrameSettings s;
    cindel::resetFrameSettings(s);
    s.burnProgress = 0.25f;
    EXPECT_EQ(cindel::burnProgressAt(s, 7), 0.25f);
    s.burnCurveCount = 3, s.burnCurve[0] = 0.1f, s.burnCurve[1] = 0.2f, s.burnCurve[2] = 0.3f;
    EXPECT_EQ(std::tuple(cindel::burnProgressAt(s, 1), cindel::burnProgressAt(s, 40), cindel::burnProgressAt(s, -2)),
              std::tuple(0.2f, 0.3f, 0.1f));
}

// ---------------------------------------------------------------------------------------------
// The dispatch box, the two-pass form and the uploads.

// The single kernel over the whole grid against the reduced box and the two-pass form, on fields
// that already hold something (some at or past the limits, so the clamps are compared too).
class LayerEmissionForms : public LayerEmission, public ::testing::WithParamInterface<int> {
protected:
    int side() const override { return GetParam(); }

    std::vector<float> emitIn(bool twoPass, bool fullRange, const FrameSettings& s, float szG) {
        uint32_t state = 777u;
        auto next = [&state] { return float((state = state * 1664525u + 1013904223u) >> 8) / float(1u << 24); };
        std::vector<float> start(3 * cells());
        for (size_t i = 0; i < cells(); ++i) {
            start[i] = next() < 0.2f ? 150.0f : 120.0f * next();
            start[cells() + i] = next() < 0.2f ? 9999.9f : 500.0f * next();
            start[2 * cells() + i] = next() < 0.2f ? 99.999f : 10.0f * next();
        }
        cl_mem fields[3] = {grid().density, grid().temperature, grid().fuel};
        for (size_t f = 0; f < 3; ++f)
            write(fields[f], std::vector<float>(start.begin() + f * cells(), start.begin() + (f + 1) * cells()));
        cindel::setLayerEmissionTwoPassEnabled(twoPass);
        cindel::enqueueLayerEmission(rt(), s, 0, szG, kFuel, kDt, fullRange);
        finish();
        std::vector<float> out;
        for (cl_mem m : fields) {
            const std::vector<float> v = read(m);
            out.insert(out.end(), v.begin(), v.end());
        }
        EXPECT_NE(out, start) << "the scenario must emit";
        return out;
    }
    void expectAllFormsAgree(const FrameSettings& s, float szG = kSzG) {
        const std::vector<float> single = emitIn(false, true, s, szG);
        cl_mem& weights = rt().layerColumnWeights.handle;
        if (weights) simtest::fillBuffer(weights, size_t(N()) * N(), NAN);
        EXPECT_TRUE(sameBits(single, emitIn(true, true, s, szG))) << "two-pass";
        ASSERT_NE(weights, nullptr);
        const std::vector<float> w = simtest::readBuffer(weights, size_t(N()) * N());
        EXPECT_TRUE(std::any_of(w.begin(), w.end(), [](float v) { return !std::isnan(v); })) << "the two-pass form ran";
        EXPECT_TRUE(sameBits(single, emitIn(true, false, s, szG))) << "two-pass, reduced box";
        EXPECT_TRUE(sameBits(single, emitIn(false, false, s, szG))) << "reduced box";
    }
};

TEST_P(LayerEmissionForms, TwoPassAndReducedBoxGiveTheSingleKernelsBits) {
    FrameSettings s = emitSettings();
    HostMap blob = uniformMap(1920, 1080, 0.0f);  // left of the centre, with its opaque box
    for (int y = 300; y < 500; ++y)
        for (int x = 600; x < 900; ++x) blob.v[size_t(y) * 1920 + x] = 0.5f + 0.5f * float((x + y) % 37) / 37.0f;
    uploadLayer(blob, s);
    s.emissionBoxX0 = 600, s.emissionBoxX1 = 899, s.emissionBoxY0 = 300, s.emissionBoxY1 = 499;
    const cindel::LayerEmissionBox box = cindel::layerEmissionBox(s, N());
    ASSERT_LT((box.x1 - box.x0) * (box.y1 - box.y0), N() * N() / 2) << "the box must actually be reduced";
    s.burnProgress = 0.6f, s.sparkBoost = 0.3f;
    for (int pattern = 1; pattern <= 7; ++pattern)
        for (const auto& [burn, noise] : {std::pair{0, 0.0f}, {1, 0.4f}, {3, 0.4f}, {5, 0.0f}}) {
            SCOPED_TRACE(::testing::Message() << "pattern " << pattern << ", burn " << burn << ", noise " << noise);
            s.patternType = pattern, s.burnMode = burn, s.burnNoise = noise, s.invert = pattern == 4;
            expectAllFormsAgree(s);
        }
    // Scaled up about the centre the blob reaches columns left of the box the formula gives.
    s.sourceSizeX = 2.0f, s.patternType = 1, s.burnMode = 0, s.invert = 0;
    expectAllFormsAgree(s);
    // A slab thinner than a cell, one that leaves the grid at the bottom and one at the top.
    s.patternType = 3, s.burnMode = 1;
    for (const auto& [thickness, szG] : {std::pair{0.3f, 10.4f}, {9.0f, 1.0f}, {9.0f, float(N()) - 0.7f}})
        s.sourceSizeZ = thickness, expectAllFormsAgree(s, szG);
}

INSTANTIATE_TEST_SUITE_P(Sides, LayerEmissionForms, ::testing::Values(32, 37));

TEST_F(LayerEmission, ASmallerMapReusesItsBufferAndBadUploadsAreRefused) {
    const std::vector<float> big(64 * 48, 0.25f), small(16 * 8, 0.5f);
    cindel::GpuRuntime& r = rt();
    for (auto upload : {cindel::uploadEmissionMap, cindel::uploadCustomMap}) {
        cindel::MapBuffer& m = upload == cindel::uploadEmissionMap ? r.emissionMap : r.customMap;
        ASSERT_TRUE(upload(&r, big.data(), 64, 48));
        const cl_mem first = m.handle;
        ASSERT_TRUE(upload(&r, small.data(), 16, 8));
        EXPECT_TRUE(m.handle == first && m.capacity == big.size() * 4 && m.width == 16 && m.height == 8);
        cindel::GpuRuntime notReady;
        EXPECT_FALSE(upload(&r, small.data(), 0, 8) || upload(&r, small.data(), 8, -1) || upload(&r, nullptr, 8, 8) ||
                     upload(nullptr, small.data(), 8, 8) || upload(&notReady, small.data(), 8, 8));
        EXPECT_EQ(m.width, 16) << "a refused upload leaves the map alone";
    }
}

// ---------------------------------------------------------------------------------------------
// The step's choice: with a source layer and its map uploaded for this frame, the layer replaces
// the volume source, even when the map is all transparent.

class LayerEmissionStep : public LayerEmission {
protected:
    // Source Only: emission and combustion, far below ignition, so frame 0 holds the emission alone.
    static FrameSettings stepSettings() {
        FrameSettings s = emitSettings();
        s.simMode = 1, s.emberAmount = 0.0f, s.sourcePosition = {1500.0f, 800.0f, 120.0f};
        return s;
    }
    std::vector<float> stepFrameZero(const FrameSettings& s) {
        rt().grid.lastFrame = -1, rt().grid.settingsHash = 0;
        EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), N(), 0, kDt, s));
        return read(grid().temperature);
    }
};

TEST_F(LayerEmissionStep, TheStepEmitsFromTheLayerOnlyWithAMapUploadedForThisFrame) {
    FrameSettings s = stepSettings();
    s.compWidth = 1900, s.compHeight = 1070;   // a little smaller than the map: no column on a pixel edge
    HostMap m = uniformMap(1920, 1080, 0.0f);  // opaque on the left, away from the volume source
    for (int y = 300; y < 700; ++y)
        for (int x = 100; x < 600; ++x) m.v[size_t(y) * m.w + x] = 1.0f;
    uploadLayer(m, s);
    const std::vector<float> T = stepFrameZero(s);
    const float szG = 120.0f * 32.0f / 1900.0f + 16.0f;  // z in composition pixels from the middle slab
    const Reference ref = referenceEmission(s, m, {}, N(), szG, 0.0f, noiseFn(0), noiseFn(1));
    int emitting = 0;
    for (size_t i = 0; i < cells(); ++i) {
        if (std::isnan(ref.profile[i])) continue;
        ASSERT_NEAR(T[i], s.sourceTemperature * ref.profile[i] * kDt, kRelTol * s.sourceTemperature * kDt) << i;
        emitting += ref.profile[i] > 0;
    }
    EXPECT_GT(emitting, 100);
    EXPECT_EQ(T[idx(int(1500.0f * 32 / 1900), int(800.0f * 32 / 1070), int(szG))], 0.0f) << "no volume source";

    uploadLayer(uniformMap(320, 180, 0.0f), s);
    EXPECT_EQ(countAbove(stepFrameZero(s), 0.0f), 0) << "an all-transparent map still replaces the volume source";

    s.sourceLayerPresent = 0;
    const std::vector<float> volume = stepFrameZero(s);
    EXPECT_GT(countAbove(volume, 0.0f), 0);
    s.sourceLayerPresent = 1;
    // A map uploaded once the frame driver forgot the uploads is stale; the storage stays.
    uploadLayer(uniformMap(320, 180, 1.0f), s);
    const cl_mem buffer = rt().emissionMap.handle;
    cindel::forgetUploadedMaps(rt());
    EXPECT_FALSE(cindel::canEmitFromLayer(rt(), s));
    EXPECT_TRUE(sameBits(stepFrameZero(s), volume)) << "the forgotten map was emitted from";
    s.sourceLayerPresent = 0;
    uploadLayer(uniformMap(160, 90, 1.0f), s);
    EXPECT_EQ(rt().emissionMap.handle, buffer);
    EXPECT_FALSE(cindel::canEmitFromLayer(rt(), s)) << "a map uploaded for a frame without a source layer";
    EXPECT_TRUE(sameBits(stepFrameZero(s), volume));
}

}  // namespace
