// The simulation's launches in work-groups of whole rows must compute exactly what the same kernels
// compute over the exact range with no local size: a group shape only changes which work items
// run together, and every kernel returns for ids past the grid that the rounded-up range adds.
// Whole Full steps are run both ways from an empty grid, with every force on, at sides that are
// and are not multiples of the group height, and every field the step keeps is compared by its
// float bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gpu/launch.h"
#include "sim/step.h"
#include "cl_harness.h"
#include "sim_fixture.h"

namespace {

using cindel::FrameSettings;
using simtest::SimTest;

constexpr float kFrameSeconds = 1.0f / 24.0f;
constexpr int kSteps = 6;

struct Fields {
    std::vector<float> density, temperature, fuel, ember, velocity, pressure;
};

class SimEquivalence : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        if (IsSkipped()) return;
        settings_ = simtest::defaultSimSettings();
        settings_.compWidth = 64;
        settings_.compHeight = 64;
        settings_.sourcePosition = {30.0f, 40.0f, 0.0f};
        settings_.emitterRadius = 5;
        settings_.instanceId = 1;
        settings_.simMode = 5;
        // Every optional force and the embers, so that each kernel of the step runs.
        settings_.vorticity = 10.0f;
        settings_.turbulence = 25.0f;
        settings_.flameTear = 1.0f;
        settings_.flameAggression = 0.6f;
        settings_.emberAmount = 0.5f;
        violationsBefore_ = cindel::kernelContractViolations();
    }

    void TearDown() override {
        cindel::setLocalSizesEnabled(true);
        if (!IsSkipped()) {
            EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_) << "a launch was refused";
        }
    }

    // The fields after `steps` steps from an empty grid of side n, launched with or without groups.
    Fields run(int n, bool groups, int steps = kSteps) {
        cindel::setLocalSizesEnabled(groups);
        EXPECT_TRUE(cindel::resizeGrid(rt(), n));
        clearFields();
        cindel::SimGrid& g = grid();
        for (cindel::SimSnapshot& s : g.slots) s.frame = -1;
        g.nextSlot = 0;
        g.lastFrame = -1;
        g.lastInstanceId = 0;
        g.settingsHash = 0;
        for (int f = 0; f < steps; ++f) {
            EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), n, f, kFrameSeconds, settings_));
        }
        finish();
        cindel::setLocalSizesEnabled(true);
        return {read(g.density), read(g.temperature), read(g.fuel), read(g.ember), readVec(g.velocity),
                read(g.pressure)};
    }

    static void expectSameBits(const std::vector<float>& a, const std::vector<float>& b, const std::string& what) {
        ASSERT_EQ(a.size(), b.size()) << what;
        size_t differing = 0;
        size_t first = a.size();
        for (size_t i = 0; i < a.size(); ++i) {
            uint32_t ba = 0;
            uint32_t bb = 0;
            std::memcpy(&ba, &a[i], sizeof ba);
            std::memcpy(&bb, &b[i], sizeof bb);
            if (ba != bb) {
                ++differing;
                if (first == a.size()) first = i;
            }
        }
        EXPECT_EQ(differing, 0u) << what << ": " << differing << " floats differ, first at " << first << " ("
                                 << (first < a.size() ? a[first] : 0.0f) << " against "
                                 << (first < b.size() ? b[first] : 0.0f) << ")";
    }

    static bool anyNonZero(const std::vector<float>& v) {
        for (float x : v) {
            if (x != 0.0f) return true;
        }
        return false;
    }

    FrameSettings settings_{};
    int violationsBefore_ = 0;
};

TEST_F(SimEquivalence, GroupedLaunchesGiveTheExactRangeBits) {
    // 32, 48 and 64 divide into whole groups; 37 leaves a partial group in y.
    for (int n : {32, 37, 48, 64}) {
        const Fields plain = run(n, false);
        const Fields grouped = run(n, true);
        const std::string at = "side " + std::to_string(n);
        EXPECT_TRUE(anyNonZero(plain.density) && anyNonZero(plain.velocity)) << at << ": nothing moved";
        expectSameBits(plain.density, grouped.density, at + ", density");
        expectSameBits(plain.temperature, grouped.temperature, at + ", temperature");
        expectSameBits(plain.fuel, grouped.fuel, at + ", fuel");
        expectSameBits(plain.ember, grouped.ember, at + ", embers");
        expectSameBits(plain.velocity, grouped.velocity, at + ", velocity");
        expectSameBits(plain.pressure, grouped.pressure, at + ", pressure");
    }
}

// PoCL compiles a kernel for each group shape it meets, and the shape it picks on its own depends
// on the side: the effect's default side gets its own check.
TEST_F(SimEquivalence, GroupedLaunchesGiveTheExactRangeBitsAtTheDefaultSide) {
    const Fields plain = run(128, false);
    const Fields grouped = run(128, true);
    EXPECT_TRUE(anyNonZero(plain.density) && anyNonZero(plain.velocity)) << "nothing moved";
    expectSameBits(plain.density, grouped.density, "density");
    expectSameBits(plain.temperature, grouped.temperature, "temperature");
    expectSameBits(plain.fuel, grouped.fuel, "fuel");
    expectSameBits(plain.ember, grouped.ember, "embers");
    expectSameBits(plain.velocity, grouped.velocity, "velocity");
    expectSameBits(plain.pressure, grouped.pressure, "pressure");
}

// The same run twice with groups gives the same bits: the comparison above is not blind to a
// launch that reads a field another launch is still writing.
TEST_F(SimEquivalence, GroupedLaunchesRepeatExactly) {
    const Fields a = run(37, true);
    const Fields b = run(37, true);
    expectSameBits(a.velocity, b.velocity, "velocity");
    expectSameBits(a.density, b.density, "density");
}

}  // namespace

namespace {

// The prolongation, the Jacobi sweep and the residual spelled out in the one written order the
// library's kernels hold, each operation pinned (no regrouping, no fusing but the explicit fma), so
// that the references give the same bits in every launch shape and on every CPU PoCL compiles for.
// The library's kernels must match them in PoCL's own shape and in whole rows: a change of their
// arithmetic shows here as a change of bits, and has to be made here too, on purpose.
const char* const kReferenceProlongation = R"CLC(
inline __attribute__((always_inline)) int ref_prolong_lo(int f) { return max(f - 1, 0) >> 1; }
inline __attribute__((always_inline)) int ref_prolong_hi(int f, int Nc) { return min((f + 1) >> 1, Nc - 1); }
inline __attribute__((always_inline)) float ref_prolong_t(int f) { return (f & 1) ? 0.25f : 0.75f; }

__kernel void ref_prolong_add(__global const float* coarse, __global float* fine, int Nf) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= Nf || y >= Nf || z >= Nf) return;
    const int Nc = Nf / 2;
    const int x0 = ref_prolong_lo(x), x1 = ref_prolong_hi(x, Nc);
    const int y0 = ref_prolong_lo(y), y1 = ref_prolong_hi(y, Nc);
    const int z0 = ref_prolong_lo(z), z1 = ref_prolong_hi(z, Nc);
    const float tx = ref_prolong_t(x), ty = ref_prolong_t(y), tz = ref_prolong_t(z);
    const float c00 = mix(coarse[cd_idx(x0, y0, z0, Nc)], coarse[cd_idx(x1, y0, z0, Nc)], tx);
    const float c10 = mix(coarse[cd_idx(x0, y1, z0, Nc)], coarse[cd_idx(x1, y1, z0, Nc)], tx);
    const float c01 = mix(coarse[cd_idx(x0, y0, z1, Nc)], coarse[cd_idx(x1, y0, z1, Nc)], tx);
    const float c11 = mix(coarse[cd_idx(x0, y1, z1, Nc)], coarse[cd_idx(x1, y1, z1, Nc)], tx);
    const float c0 = mix(c00, c10, ty);
    const float c1 = mix(c01, c11, ty);
    fine[cd_idx(x, y, z, Nf)] += mix(c0, c1, tz);
}

// The six neighbours as two sums of three, the upper neighbours (+x, +y, +z) and the lower ones
// (-x, -y, -z), each from the left, then added.
inline __attribute__((always_inline)) float ref_neighbour_sum(__global const float* p, int x, int y, int z, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    const float upper = (p[cd_idx(xp, y, z, N)] + p[cd_idx(x, yp, z, N)]) + p[cd_idx(x, y, zp, N)];
    const float lower = (p[cd_idx(xm, y, z, N)] + p[cd_idx(x, ym, z, N)]) + p[cd_idx(x, y, zm, N)];
    return upper + lower;
}

__kernel void ref_pressure_jacobi(__global const float* pIn, __global const float* div, __global float* pOut, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const float sum = ref_neighbour_sum(pIn, x, y, z, N);
    const int c = cd_idx(x, y, z, N);
    pOut[c] = (sum - div[c]) / 6.0f;
}

// b - (sum - 6p), with 6p fused into the subtraction from the sum.
__kernel void ref_residual(__global const float* p, __global const float* b, __global float* r, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const float sum = ref_neighbour_sum(p, x, y, z, N);
    const int c = cd_idx(x, y, z, N);
    r[c] = b[c] - fma(-6.0f, p[c], sum);
}

// The residual with 6p rounded on its own before the subtraction: the same operator, one rounding
// more.
__kernel void ref_residual_unfused(__global const float* p, __global const float* b, __global float* r, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const float sum = ref_neighbour_sum(p, x, y, z, N);
    const int c = cd_idx(x, y, z, N);
    r[c] = b[c] - (sum - 6.0f * p[c]);
}

// The sweep with the six neighbours summed left to right, as the operator is written in prose.

__kernel void ref_pressure_jacobi_left_to_right(__global const float* pIn, __global const float* div,
                                                __global float* pOut, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0);
    const int yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    const float sum = pIn[cd_idx(xp, y, z, N)] + pIn[cd_idx(xm, y, z, N)] + pIn[cd_idx(x, yp, z, N)] +
                      pIn[cd_idx(x, ym, z, N)] + pIn[cd_idx(x, y, zp, N)] + pIn[cd_idx(x, y, zm, N)];
    const int c = cd_idx(x, y, z, N);
    pOut[c] = (sum - div[c]) / 6.0f;
}
)CLC";

// Values of every sign and of magnitudes over 2^-10 .. 2^10, so that arithmetic done in another
// order or a product fused into an addition shows in the last bits of most cells.
std::vector<float> scrambled(size_t count, uint32_t seed) {
    std::vector<float> v(count);
    uint32_t s = seed;
    for (float& x : v) {
        s = s * 1664525u + 1013904223u;
        const float unit = static_cast<float>(s >> 8) / 16777216.0f;
        s = s * 1664525u + 1013904223u;
        const int exponent = static_cast<int>(s >> 27) - 10 + static_cast<int>((s >> 20) & 3u);
        x = std::ldexp(unit - 0.5f, exponent);
    }
    return v;
}

size_t differingFloats(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return a.size() + b.size();
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        uint32_t ba = 0;
        uint32_t bb = 0;
        std::memcpy(&ba, &a[i], sizeof ba);
        std::memcpy(&bb, &b[i], sizeof bb);
        if (ba != bb) ++differing;
    }
    return differing;
}

// The library's prolongation against the reference above, one launch each on the same inputs:
// with PoCL's own group shape, and in the whole-row groups the projection launches it in. The
// full steps above cover it only on the fields a short run happens to produce.
class ProlongationBits : public SimTest {
protected:
    // A launch over side³ items, in PoCL's shape or in groups of side × 4 × 1.
    static cltest::Range shape(int side, bool rows) {
        const size_t n = static_cast<size_t>(side);
        cltest::Range r = cltest::Range::grid3(n, n, n);
        if (rows) {
            const size_t h = cindel::KernelLaunch::kRowGroupHeight;
            r.global = {n, (n + h - 1) / h * h, n};
            r.local = {n, h, 1};
        }
        return r;
    }

    std::vector<float> prolongAdd(const char* kernel, const std::vector<float>& coarse, const std::vector<float>& fine,
                                  int nf, bool rows) {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        cl_program program = h.program(kReferenceProlongation);
        EXPECT_NE(program, nullptr) << h.buildLog();
        const cltest::ClBuffer in = h.upload(coarse);
        const cltest::ClBuffer out = h.upload(fine);
        EXPECT_TRUE(h.run(program, kernel, shape(nf, rows), in, out, nf));
        return h.read(out);
    }
};

TEST_F(ProlongationBits, PinnedFormGivesTheReferenceBitsInEveryShape) {
    // Fine sides of the hierarchy's levels at the tested grid sides, and smaller ones whose
    // PoCL shapes differ again.
    for (int nf : {4, 8, 16, 24, 32, 48, 64, 128}) {
        const int nc = nf / 2;
        const std::vector<float> coarse = scrambled(static_cast<size_t>(nc) * nc * nc, 61u + nf);
        const std::vector<float> fine = scrambled(static_cast<size_t>(nf) * nf * nf, 71u + nf);
        const std::vector<float> want = prolongAdd("ref_prolong_add", coarse, fine, nf, false);
        EXPECT_EQ(differingFloats(want, prolongAdd("cd_prolong_add", coarse, fine, nf, false)), 0u) << "side " << nf;
        EXPECT_EQ(differingFloats(want, prolongAdd("cd_prolong_add", coarse, fine, nf, true)), 0u)
            << "side " << nf << ", rows";
    }
}

// The sweep and the residual against their pinned references, on the same inputs, in PoCL's shape
// and in rows, at every side a level of the supported grids (128, 192, 256, 384) has up to 128.
class StencilBits : public ProlongationBits {
protected:
    std::vector<float> stencil(const char* kernel, const std::vector<float>& a, const std::vector<float>& b, int n,
                               bool rows) {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        cl_program program = h.program(kReferenceProlongation);
        EXPECT_NE(program, nullptr) << h.buildLog();
        const cltest::ClBuffer in = h.upload(a);
        const cltest::ClBuffer rhs = h.upload(b);
        const cltest::ClBuffer out = h.upload(std::vector<float>(a.size(), 0.0f));
        EXPECT_TRUE(h.run(program, kernel, shape(n, rows), in, rhs, out, n));
        return h.read(out);
    }
};

TEST_F(StencilBits, PinnedSweepAndResidualGiveTheReferenceBitsInEveryShape) {
    for (int n : {16, 24, 32, 48, 64, 96, 128}) {
        const size_t cells = static_cast<size_t>(n) * n * n;
        const std::vector<float> p = scrambled(cells, 83u + n);
        const std::vector<float> b = scrambled(cells, 97u + n);
        const std::vector<float> sweep = stencil("ref_pressure_jacobi", p, b, n, false);
        const std::vector<float> residual = stencil("ref_residual", p, b, n, false);
        // The references themselves hold their order in both shapes.
        EXPECT_EQ(differingFloats(sweep, stencil("ref_pressure_jacobi", p, b, n, true)), 0u) << "side " << n;
        EXPECT_EQ(differingFloats(residual, stencil("ref_residual", p, b, n, true)), 0u) << "side " << n;
        for (bool rows : {false, true}) {
            EXPECT_EQ(differingFloats(sweep, stencil("cd_pressure_jacobi", p, b, n, rows)), 0u)
                << "sweep, side " << n << (rows ? ", rows" : "");
            EXPECT_EQ(differingFloats(residual, stencil("cd_residual", p, b, n, rows)), 0u)
                << "residual, side " << n << (rows ? ", rows" : "");
        }
    }
}

// The comparison above can fail: the sweep summed in another grouping, and the residual with its
// product rounded apart, differ from the references in the last bits of many cells. Every form
// here is pinned, so this holds whatever grouping the compiler would have chosen on its own.
TEST_F(StencilBits, AnotherGroupingOfTheSumShows) {
    const int n = 32;
    const size_t cells = static_cast<size_t>(n) * n * n;
    const std::vector<float> p = scrambled(cells, 5u);
    const std::vector<float> b = scrambled(cells, 6u);
    EXPECT_GT(differingFloats(stencil("ref_pressure_jacobi", p, b, n, false),
                              stencil("ref_pressure_jacobi_left_to_right", p, b, n, false)),
              cells / 100);
    EXPECT_GT(differingFloats(stencil("ref_residual", p, b, n, false),
                              stencil("ref_residual_unfused", p, b, n, false)),
              cells / 100);
}

}  // namespace
