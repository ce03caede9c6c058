// The sampling, noise and colour helpers of the kernel library on the device, against host
// references in double. Every launch evaluates both the float3 and the plain-float form of each
// helper, which must agree bit for bit. The hash is fract(sin(h) * 43758.5453): sin differs by an
// ulp between host and device and 43758 amplifies it, so the references above the hash take their
// lattice values from the device's own hash and check everything built on them as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "cl_harness.h"

namespace {

// Interpolation: a float sum of a few dozen products <= 1. Fractals: about 100 float roundings.
// Swiss: each octave's gradient error (1e-6) moves later positions, scaled up to 0.15 * 32. Hash:
// sin may be 4 ulp off (2.4e-7), x 43758. Black body: far below the 0.013 between the green
// branches at 6600 K.
constexpr double kInterpolationTolerance = 2e-6, kFractalTolerance = 1e-5, kSwissTolerance = 5e-5;
constexpr double kHashTolerance = 0.012, kBlackbodyTolerance = 1e-5;

// The helpers some kernel of the effect calls; each in its float3 and its plain-float form.
const char kSamplingTestKernels[] = R"CLC(
// Per position, twice: trilinear, B-spline, Catmull-Rom, vector x, y, z.
__kernel void cd_test_samplers(__global const float* grid, __global const float4* vgrid, int N,
                               __global const float* pos, int count, __global float* out) {
    const int i = get_global_id(0);
    if (i >= count) return;
    const float x = pos[3 * i], y = pos[3 * i + 1], z = pos[3 * i + 2];
    const float3 p = (float3)(x, y, z);
    __global float* o = out + 12 * i;
    o[0] = cd_sample_f(grid, N, p);
    o[1] = cd_sample_f_bicubic(grid, N, p);
    o[2] = cd_sample_f_catmullrom(grid, N, p);
    vstore3(cd_sample_v(vgrid, N, p), 0, o + 3);
    o[6] = cd_sample_f_xyz(grid, N, x, y, z);
    o[7] = cd_sample_f_bicubic_xyz(grid, N, x, y, z);
    o[8] = cd_sample_f_catmullrom_xyz(grid, N, x, y, z);
    float a, b, c;
    cd_sample_v_xyz(vgrid, N, x, y, z, &a, &b, &c);
    vstore3((float3)(a, b, c), 0, o + 9);
}

// Per position, twice: hash, value noise, fbm, ridged_bl, swiss_bl (4) and the black body of
// x kelvin (3).
__kernel void cd_test_noise(__global const float* pos, int count, int octaves, float wBase, __global float* out) {
    const int i = get_global_id(0);
    if (i >= count) return;
    const float x = pos[3 * i], y = pos[3 * i + 1], z = pos[3 * i + 2];
    const float3 p = (float3)(x, y, z);
    __global float* o = out + 22 * i;
    o[0] = cd_hash3(p);
    o[1] = cd_smooth_noise(p);
    o[2] = cd_fbm(p);
    o[3] = cd_ridged_bl(p, octaves, wBase);
    vstore4(cd_swiss_bl(p, octaves, wBase), 0, o + 4);
    vstore3(cd_blackbody(x), 0, o + 8);
    o[11] = cd_hash3f(x, y, z);
    o[12] = cd_smooth_noisef(x, y, z);
    o[13] = cd_fbmf(x, y, z);
    o[14] = cd_ridged_blf(x, y, z, octaves, wBase);
    float a, b, c, d;
    cd_swiss_blf(x, y, z, octaves, wBase, &a, &b, &c, &d);
    vstore4((float4)(a, b, c, d), 0, o + 15);
    cd_blackbodyf(x, &a, &b, &c);
    vstore3((float3)(a, b, c), 0, o + 19);
}
)CLC";

constexpr int kSamplerOutputs = 6, kNoiseOutputs = 11;
enum NoiseOutput { kHash, kSmooth, kFbm, kRidgedBl, kSwiss, kBlackbody = 8 };
using Vec3 = std::array<float, 3>;

std::vector<Vec3> randomPoints(size_t count, float lo, float hi, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    std::vector<Vec3> out(count);
    for (Vec3& p : out) p = {u(rng), u(rng), u(rng)};
    return out;
}

struct Field {
    int n;
    std::vector<float> values;  // n^3 scalars, or 4 n^3 for a vector field
    int stride;
    double at(int x, int y, int z, int c = 0) const {
        auto k = [&](int v) { return size_t(std::clamp(v, 0, n - 1)); };
        return values[((k(z) * n + k(y)) * n + k(x)) * stride + c];
    }
};

// Cell centres sit at i + 0.5; positions beyond the grid clamp to the edge cells.
std::pair<int, double> indexSpace(float p, int n) {
    const float g = std::clamp(p - 0.5f, 0.0f, float(n - 1));
    return {int(std::floor(g)), double(g - std::floor(g))};
}

enum class Cubic { Linear, BSpline, CatmullRom };

double cubicWeight(double a, Cubic kind) {
    if (a >= 2) return 0;
    switch (kind) {
        case Cubic::Linear:
            return std::max(1 - a, 0.0);
        case Cubic::BSpline:
            return a < 1 ? (3 * a * a * a - 6 * a * a + 4) / 6 : (2 - a) * (2 - a) * (2 - a) / 6;
        case Cubic::CatmullRom:
            return a < 1 ? 1.5 * a * a * a - 2.5 * a * a + 1 : -0.5 * a * a * a + 2.5 * a * a - 4 * a + 2;
    }
    return 0;
}

// The unclamped sum over the 4 x 4 x 4 neighbourhood (trilinear as the tent kernel); the
// interpolating cubics then cut it at 0.
double refCubic(const Field& f, const Vec3& p, Cubic kind, int c = 0) {
    const auto [ix, tx] = indexSpace(p[0], f.n);
    const auto [iy, ty] = indexSpace(p[1], f.n);
    const auto [iz, tz] = indexSpace(p[2], f.n);
    double sum = 0;
    for (int kz = -1; kz <= 2; ++kz)
        for (int ky = -1; ky <= 2; ++ky)
            for (int kx = -1; kx <= 2; ++kx)
                sum += cubicWeight(std::abs(tx - kx), kind) * cubicWeight(std::abs(ty - ky), kind) *
                       cubicWeight(std::abs(tz - kz), kind) * f.at(ix + kx, iy + ky, iz + kz, c);
    return sum;
}

// Device hashes at lattice points. Corners not yet known are noted and fetched in one launch, and
// the reference runs again until nothing is missing.
class DeviceLattice {
public:
    double operator()(double x, double y, double z) {
        const std::array<int, 3> key{int(x), int(y), int(z)};
        auto it = known_.find(key);
        if (it != known_.end()) return it->second;
        missing_.insert(key);
        return 0.5;
    }
    std::set<std::array<int, 3>> takeMissing() { return std::exchange(missing_, {}); }
    void learn(const std::array<int, 3>& at, float hash) { known_[at] = hash; }

private:
    std::map<std::array<int, 3>, double> known_;
    std::set<std::array<int, 3>> missing_;
};

// Trilinear over the eight lattice hashes with fade u; its gradient with slope du.
std::array<double, 4> refLatticeBlend(DeviceLattice& h, double x, double y, double z, bool quintic) {
    const double i[3] = {std::floor(x), std::floor(y), std::floor(z)};
    double u[3], du[3];
    for (int k = 0; k < 3; ++k) {
        const double f = (k == 0 ? x : k == 1 ? y : z) - i[k];
        u[k] = quintic ? f * f * f * (f * (6 * f - 15) + 10) : f * f * (3 - 2 * f);
        du[k] = quintic ? 30 * f * f * (f - 1) * (f - 1) : 6 * f * (1 - f);
    }
    std::array<double, 4> out{};
    for (int c = 0; c < 8; ++c) {
        const int b[3] = {c & 1, c >> 1 & 1, c >> 2};
        const double value = h(i[0] + b[0], i[1] + b[1], i[2] + b[2]);
        double w[3];
        for (int k = 0; k < 3; ++k) w[k] = b[k] ? u[k] : 1 - u[k];
        out[0] += value * w[0] * w[1] * w[2];
        for (int k = 0; k < 3; ++k)
            out[1 + size_t(k)] += value * (b[k] ? du[k] : -du[k]) * w[(k + 1) % 3] * w[(k + 2) % 3];
    }
    return out;
}
double refSmooth(DeviceLattice& h, const Vec3& p, double freq) {
    return refLatticeBlend(h, p[0] * freq, p[1] * freq, p[2] * freq, false)[0];
}

double bandWeight(double width) {
    const double t = std::clamp((1 - width) * 2, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// fbm: three octaves, amplitudes halving, unnormalised. ridged_bl: amplitudes x 0.561, band
// limited, each octave weighted by the last one's signal, normalised.
std::array<double, 2> refFractals(DeviceLattice& h, const Vec3& p, int octaves, double wBase) {
    double fbm = 0, ridged = 0, norm = 0, weight = 1;
    for (int o = 0; o < 3; ++o) fbm += std::pow(0.5, o + 1) * refSmooth(h, p, std::pow(2.0, o));
    for (int o = 0; o < std::clamp(octaves, 1, 6); ++o) {
        const double freq = std::pow(2.0, o), n = refSmooth(h, p, freq);
        const double w = std::pow(0.561, o) * 0.5 * bandWeight(wBase * freq);
        const double sig = (1 - std::abs(2 * n - 1)) * (1 - std::abs(2 * n - 1)) * weight;
        weight = std::clamp(2 * sig, 0.4, 1.0);
        ridged += w * sig;
        norm += w;
    }
    return {fbm, norm > 1e-5 ? std::clamp(ridged / norm, 0.0, 1.0) : 0.35};
}

std::array<double, 4> refSwiss(DeviceLattice& h, const Vec3& p, int octaves, double wBase) {
    double sum = 0, norm = 0, amp = 0.5, freq = 1, ds[3] = {0, 0, 0};
    for (int o = 0; o < std::clamp(octaves, 1, 6); ++o) {
        const double bl = bandWeight(wBase * freq);
        const auto nd = refLatticeBlend(h, (p[0] + 0.15 * ds[0]) * freq, (p[1] + 0.15 * ds[1]) * freq,
                                        (p[2] + 0.15 * ds[2]) * freq, true);
        const double nc = 2 * nd[0] - 1;
        sum += amp * bl * (1 - std::abs(nc));
        for (int k = 0; k < 3; ++k) ds[k] += amp * bl * nd[size_t(k) + 1] * -nc;
        norm += amp * bl;
        freq *= 2;
        amp *= 0.7 * std::clamp(1.5 * sum, 0.45, 1.0);
    }
    return {norm > 1e-5 ? std::clamp(sum / norm, 0.0, 1.0) : 0.5, ds[0], ds[1], ds[2]};
}

// t = K * 0.01 in float, as the device forms it, so both meet the same branch at 66 and 19.
std::array<double, 3> refBlackbody(float kelvin) {
    const double t = double(kelvin * 0.01f);
    if (t > 66)
        return {std::clamp(1.292936 * std::pow(t - 60, -0.1332047), 0.0, 1.0),
                std::clamp(1.129891 * std::pow(t - 60, -0.0755148), 0.0, 1.0), 1.0};
    return {1.0, t > 0.5 ? std::clamp(0.390081 * std::log(t) - 0.631841, 0.0, 1.0) : 0.0,
            t >= 66  ? 1.0
            : t < 19 ? 0.0
                     : std::clamp(0.543207 * std::log(t - 10) - 1.196254, 0.0, 1.0)};
}

class SamplingTest : public cltest::ClKernelTest {
protected:
    // Odd and not a multiple of any work-group size, so that no clamp or centre is accidental.
    static constexpr int kN = 13;

    SamplingTest() : ClKernelTest(kSamplingTestKernels) {}

    void SetUp() override {
        ClKernelTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::mt19937 rng(20240611);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        scalar_ = {kN, std::vector<float>(kN * kN * kN), 1};
        for (float& v : scalar_.values) v = unit(rng);
        vector_ = {kN, std::vector<float>(4 * kN * kN * kN), 4};
        for (float& v : vector_.values) v = 2 * unit(rng) - 1;
    }

    // The float3 forms' outputs, after checking that the plain-float forms gave the same bits.
    static std::vector<float> firstForm(const std::vector<float>& all, size_t outputs) {
        std::vector<float> a, b;
        for (size_t i = 0; i < all.size(); ++i) ((i / outputs) % 2 ? b : a).push_back(all[i]);
        EXPECT_TRUE(cltest::sameBits(a, b)) << "the plain-float form differs";
        return a;
    }
    std::vector<float> samplers(const Field& scalar, const std::vector<Vec3>& points) {
        cltest::ClBuffer grid = upload(scalar.values), vgrid = upload(vector_.values), pos = upload(flatten(points));
        cltest::ClBuffer out = output(points.size() * kSamplerOutputs * 2);
        EXPECT_TRUE(run("cd_test_samplers", cltest::Range::linear(points.size()), grid, vgrid, scalar.n, pos,
                        int(points.size()), out));
        return firstForm(read(out), kSamplerOutputs);
    }
    std::vector<float> noise(const std::vector<Vec3>& points, int octaves, float wBase) {
        cltest::ClBuffer pos = upload(flatten(points));
        cltest::ClBuffer out = output(points.size() * kNoiseOutputs * 2);
        EXPECT_TRUE(
            run("cd_test_noise", cltest::Range::linear(points.size()), pos, int(points.size()), octaves, wBase, out));
        return firstForm(read(out), kNoiseOutputs);
    }
    static std::vector<float> flatten(const std::vector<Vec3>& points) {
        std::vector<float> out;
        for (const Vec3& p : points) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    // Runs `reference` until every lattice value it reads is the device's hash.
    template <class Fn>
    void withDeviceLattice(DeviceLattice& lattice, Fn&& reference) {
        for (int round = 0; round < 16; ++round) {
            reference();
            const std::set<std::array<int, 3>> missing = lattice.takeMissing();
            if (missing.empty()) return;
            std::vector<Vec3> points;
            for (const auto& m : missing) points.push_back({float(m[0]), float(m[1]), float(m[2])});
            const std::vector<float> out = noise(points, 1, 0.0f);
            size_t i = 0;
            for (const auto& m : missing) lattice.learn(m, out[i++ * kNoiseOutputs + kHash]);
        }
        FAIL() << "the reference kept asking for new lattice points";
    }

    Field scalar_, vector_;
};

TEST_F(SamplingTest, SamplersMatchTheHostReferenceInsideAndBeyondTheFaces) {
    // A single spike as well: beside it the negative lobes of Catmull-Rom sum below 0.
    Field spike{kN, std::vector<float>(kN * kN * kN, 0.0f), 1};
    spike.values[size_t((6 * kN + 6) * kN + 6)] = 1.0f;
    std::vector<Vec3> points = randomPoints(500, -2.0f, kN + 2.0f, 7);
    for (float x = 4.0f; x <= 9.0f; x += 0.25f) points.push_back({x, 6.5f, 6.5f});
    int negativeSums = 0;
    for (const Field* f : {&scalar_, &spike}) {
        const std::vector<float> out = samplers(*f, points);
        for (size_t i = 0; i < points.size(); ++i) {
            const float* o = &out[i * kSamplerOutputs];
            const Vec3& p = points[i];
            const double catmull = refCubic(*f, p, Cubic::CatmullRom);
            negativeSums += catmull < 0;
            ASSERT_NEAR(o[0], refCubic(*f, p, Cubic::Linear), kInterpolationTolerance) << "trilinear, point " << i;
            ASSERT_NEAR(o[1], refCubic(*f, p, Cubic::BSpline), kInterpolationTolerance) << "B-spline, point " << i;
            ASSERT_NEAR(o[2], std::max(catmull, 0.0), kInterpolationTolerance) << "Catmull-Rom, point " << i;
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(o[3 + c], refCubic(vector_, p, Cubic::Linear, c), kInterpolationTolerance)
                    << "vector " << i;
        }
    }
    EXPECT_GT(negativeSums, 4);
}

TEST_F(SamplingTest, HashMatchesTheHostAndSpreadsOverTheUnitInterval) {
    std::vector<Vec3> points = randomPoints(3000, -200.0f, 200.0f, 5);
    for (const Vec3& p : randomPoints(1000, -2.0f, 2.0f, 6)) points.push_back(p);
    const std::vector<float> out = noise(points, 1, 0.0f);
    double lo = 1, hi = 0, sum = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const Vec3& p = points[i];
        // h as the device forms it (two fused multiply-adds), sin and the product rounded to float.
        const float h = std::fma(74.7f, p[2], std::fma(127.1f, p[0], 311.7f * p[1]));
        const double s = double(float(std::sin(double(h))) * 43758.5453f), ref = s - std::floor(s);
        const float got = out[i * kNoiseOutputs + kHash];
        const double distance = std::abs(got - ref);
        ASSERT_LE(std::min(distance, 1 - distance), kHashTolerance) << "h = " << h;  // 0 and 1 are neighbours
        ASSERT_GE(got, 0.0f);
        ASSERT_LT(got, 1.0f);
        lo = std::min<double>(lo, got), hi = std::max<double>(hi, got), sum += got;
    }
    EXPECT_LT(lo, 0.01);
    EXPECT_GT(hi, 0.99);
    EXPECT_NEAR(sum / double(points.size()), 0.5, 0.02);
}

TEST_F(SamplingTest, NoiseAndFractalSumsMatchTheHostFromTheDevicesLattice) {
    const std::vector<Vec3> points = randomPoints(150, -12.0f, 12.0f, 21);
    for (const auto& [octaves, wBase] : {std::pair{1, 0.0f}, {3, 0.1f}, {4, 0.05f}, {6, 0.0f}, {6, 0.3f}, {6, 1.0f}}) {
        SCOPED_TRACE(::testing::Message() << "octaves " << octaves << ", wBase " << wBase);
        const std::vector<float> out = noise(points, octaves, wBase);
        DeviceLattice lattice;
        // Value noise, fbm, ridged_bl, swiss_bl (4): outputs 1 to 7.
        std::vector<std::array<double, 7>> ref(points.size());
        withDeviceLattice(lattice, [&] {
            for (size_t i = 0; i < points.size(); ++i) {
                const auto fr = refFractals(lattice, points[i], octaves, wBase);
                const auto sw = refSwiss(lattice, points[i], octaves, wBase);
                ref[i] = {refSmooth(lattice, points[i], 1), fr[0], fr[1], sw[0], sw[1], sw[2], sw[3]};
            }
        });
        const double tol[7] = {kInterpolationTolerance, kFractalTolerance, kFractalTolerance, kSwissTolerance,
                               kSwissTolerance,         kSwissTolerance,   kSwissTolerance};
        double largestGradient = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            for (size_t k = 0; k < 7; ++k)
                ASSERT_NEAR(out[i * kNoiseOutputs + kSmooth + k], ref[i][k], tol[k])
                    << "output " << k << ", point " << i;
            for (size_t c = 4; c < 7; ++c) largestGradient = std::max(largestGradient, std::abs(ref[i][c]));
        }
        // Past every octave's footprint the sums are neutral: 0.35 and 0.5 with no gradient.
        EXPECT_TRUE(octaves == 1 || wBase >= 1 || largestGradient > 0.1)
            << "the accumulated gradient must not be trivially zero";
    }
}

TEST_F(SamplingTest, BlackbodyMatchesTheHostReferenceOnBothSidesOfEachBranch) {
    // At 6600 K, t = 66 exactly: white, with green from the low branch, told apart from the high.
    ASSERT_GT(std::abs(refBlackbody(6600.0f)[1] - std::clamp(1.129891 * std::pow(6.0, -0.0755148), 0.0, 1.0)), 0.01);
    std::vector<Vec3> kelvins;
    for (float k : {0.0f, 40.0f, 1000.0f, 1899.0f, 1900.0f, 1905.0f, 6599.0f, 6600.0f, 6601.0f, 40000.0f})
        kelvins.push_back({k, 0, 0});
    for (float k = 100.0f; k < 30000.0f; k += 137.0f) kelvins.push_back({k, 0, 0});
    const std::vector<float> out = noise(kelvins, 1, 0.0f);
    for (size_t i = 0; i < kelvins.size(); ++i) {
        const auto ref = refBlackbody(kelvins[i][0]);
        for (size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(out[i * kNoiseOutputs + kBlackbody + c], ref[c], kBlackbodyTolerance) << kelvins[i][0] << " K";
    }
}

}  // namespace
