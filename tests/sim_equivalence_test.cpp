// Launch shapes must not change the simulation's bits: whole steps in row groups against the exact
// range (ids past the grid return), and the pressure stencils, the restriction, the curl and every
// form of the curl noise held to one pinned operation order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"
#include "sim/forces.h"
#include "sim/step.h"
#include "sim_fixture.h"

namespace {

class SimEquivalence : public simtest::SimKernelTest {
protected:
    void TearDown() override {
        cindel::setLocalSizesEnabled(true);
        SimKernelTest::TearDown();
    }

    // The fields after six steps from an empty grid of side n, launched with or without groups.
    std::vector<std::vector<float>> run(int n, bool groups) {
        cindel::FrameSettings s = settings_;
        s.compWidth = s.compHeight = 64, s.sourcePosition = {30.0f, 40.0f, 0.0f}, s.emitterRadius = 5;
        // Every optional force and the embers, so that each kernel of the step runs.
        s.flameTear = 1.0f, s.flameAggression = 0.6f, s.emberAmount = 0.5f;
        cindel::setLocalSizesEnabled(groups);
        EXPECT_TRUE(cindel::resizeGrid(rt(), n));
        clearFields();
        forgetSimulation();
        for (int f = 0; f < 6; ++f) EXPECT_TRUE(cindel::stepSimulationOnGrid(rt(), n, f, 1.0f / 24.0f, s));
        cindel::setLocalSizesEnabled(true);
        const cindel::SimGrid& g = grid();
        return {read(g.density), read(g.temperature), read(g.fuel),
                read(g.ember),   readVec(g.velocity), read(g.pressure)};
    }
};

// 37 leaves a partial group in y; PoCL picks its own shape by side, so 128 gets a run too.
TEST_F(SimEquivalence, GroupedLaunchesGiveTheExactRangeBits) {
    const char* names[] = {"density", "temperature", "fuel", "embers", "velocity", "pressure"};
    for (int n : {32, 37, 48, 64, 128}) {
        const auto plain = run(n, false), grouped = run(n, true);
        EXPECT_GT(simtest::maxAbs(plain[0]) * simtest::maxAbs(plain[4]), 0.0) << "side " << n << ": nothing moved";
        for (size_t k = 0; k < plain.size(); ++k)
            EXPECT_EQ(simtest::differingBits(plain[k], grouped[k]), 0u) << "side " << n << ", " << names[k];
    }
}

// The sweep and the residual in the one order the library's kernels hold, every operation pinned
// (no regrouping, no fusing but the explicit fma): a change of the library's arithmetic shows as
// changed bits and has to be made here too, on purpose.
const char* const kPinnedStencils = R"CLC(
// Two sums of three from the left, the upper neighbours (+x, +y, +z) and the lower, then added.
inline __attribute__((always_inline)) float ref_neighbour_sum(__global const float* p, int x, int y, int z, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int xp = min(x + 1, N - 1), xm = max(x - 1, 0), yp = min(y + 1, N - 1), ym = max(y - 1, 0);
    const int zp = min(z + 1, N - 1), zm = max(z - 1, 0);
    const float upper = (p[cd_idx(xp, y, z, N)] + p[cd_idx(x, yp, z, N)]) + p[cd_idx(x, y, zp, N)];
    const float lower = (p[cd_idx(xm, y, z, N)] + p[cd_idx(x, ym, z, N)]) + p[cd_idx(x, y, zm, N)];
    return upper + lower;
}

__kernel void ref_pressure_jacobi(__global const float* pIn, __global const float* div, __global float* pOut, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    pOut[cd_idx(x, y, z, N)] = (ref_neighbour_sum(pIn, x, y, z, N) - div[cd_idx(x, y, z, N)]) / 6.0f;
}

// b - (sum - 6p), with 6p fused into the subtraction from the sum.
__kernel void ref_residual(__global const float* p, __global const float* b, __global float* r, int N) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
    if (x >= N || y >= N || z >= N) return;
    const int c = cd_idx(x, y, z, N);
    r[c] = b[c] - fma(-6.0f, p[c], ref_neighbour_sum(p, x, y, z, N));
}

// The eight children of a coarse cell: x pairs, then y, then z, times 1/8.
__kernel void ref_restrict(__global const float* fine, __global float* coarse, int Nc) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
    if (x >= Nc || y >= Nc || z >= Nc) return;
    float pair[2][2];
    for (int dz = 0; dz < 2; ++dz)
        for (int dy = 0; dy < 2; ++dy) {
            const int i = cd_idx(2 * x, 2 * y + dy, 2 * z + dz, 2 * Nc);
            pair[dz][dy] = fine[i] + fine[i + 1];
        }
    coarse[cd_idx(x, y, z, Nc)] = 0.125f * ((pair[0][0] + pair[0][1]) + (pair[1][0] + pair[1][1]));
}

// The curl of float4 cells: component k is 0.5 ((a+ - (a- + b+)) + b-), a± the clamped neighbours'
// component k+2 along axis k+1, b± component k+1 along axis k+2 (mod 3); w is 0.
__kernel void ref_compute_curl(__global const float* v, __global float* w, int N) {
#pragma clang fp reassociate(off)
    const int p[3] = {get_global_id(0), get_global_id(1), get_global_id(2)}, s[3] = {1, N, N * N};
    if (p[0] >= N || p[1] >= N || p[2] >= N) return;
    const int c = cd_idx(p[0], p[1], p[2], N), a[3] = {1, 2, 0}, b[3] = {2, 0, 1};
    for (int k = 0; k < 3; ++k) {
        const int A = a[k], B = b[k], ap = c + (p[A] < N - 1) * s[A], am = c - (p[A] > 0) * s[A];
        const int bp = c + (p[B] < N - 1) * s[B], bm = c - (p[B] > 0) * s[B];
        w[4 * c + k] = 0.5f * ((v[4 * ap + B] - (v[4 * am + B] + v[4 * bp + A])) + v[4 * bm + A]);
    }
    w[4 * c + 3] = 0.0f;
}

// The curl noise per cell. Value noise: the corners' hashes blended along y, then z, for the
// lattice columns x0 and x1, then along x, each blend a + t (b - a) with the product fused; three
// octaves summed from the coarsest with the amplitude fused; the potentials' points
// (p + offset) + drift t; the curl's differences of step 1, times 0.5 strength dt, added.
inline float ref_lerp(float a, float b, float t) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    return fma(t, b - a, a);
}

inline float ref_noise(float x, float y, float z) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int i = (int)floor(x), j = (int)floor(y), k = (int)floor(z);
    const float t[3] = {x - floor(x), y - floor(y), z - floor(z)};
    float f[3], column[2];
    for (int a = 0; a < 3; ++a) f[a] = t[a] * t[a] * fma(-2.0f, t[a], 3.0f);
    for (int c = 0; c < 2; ++c) {
        float n[2][2];
        for (int dz = 0; dz < 2; ++dz)
            for (int dy = 0; dy < 2; ++dy) n[dz][dy] = cd_hash3f((float)(i + c), (float)(j + dy), (float)(k + dz));
        column[c] = ref_lerp(ref_lerp(n[0][0], n[0][1], f[1]), ref_lerp(n[1][0], n[1][1], f[1]), f[2]);
    }
    return ref_lerp(column[0], column[1], f[0]);
}

inline float ref_fbm(const float* q, int axis, float step) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    float p[3] = {q[0], q[1], q[2]}, v = 0.0f;
    p[axis] += step;
    for (int o = 0; o < 3; ++o) v = fma(0.5f / (float)(1 << o), ref_noise(p[0] * (1 << o), p[1] * (1 << o), p[2] * (1 << o)), v);
    return v;
}

__kernel void ref_curl_noise(__global float* vel, int N, float strength, float scale, float time, float dt) {
#pragma clang fp reassociate(off)
#pragma clang fp contract(off)
    const int cell[3] = {get_global_id(0), get_global_id(1), get_global_id(2)};
    if (cell[0] >= N || cell[1] >= N || cell[2] >= N) return;
    const float offset[3][3] = {{0.0f, 17.0f, 31.0f}, {53.0f, 0.0f, 71.0f}, {97.0f, 23.0f, 0.0f}};
    const float drift[3][3] = {{0.7f, 0.5f, 0.3f}, {0.3f, 0.7f, 0.5f}, {0.5f, 0.3f, 0.7f}};
    const float baseFreq = 0.1f / fmax(scale, 0.1f);
    float q[3][3], d[3][3];  // d[potential][axis]: the potential's difference along the axis
    for (int pot = 0; pot < 3; ++pot)
        for (int a = 0; a < 3; ++a) q[pot][a] = ((float)cell[a] * baseFreq + offset[pot][a]) + drift[pot][a] * time;
    for (int pot = 0; pot < 3; ++pot)
        for (int a = 0; a < 3; ++a) d[pot][a] = ref_fbm(q[pot], a, 1.0f) - ref_fbm(q[pot], a, -1.0f);
    const float k = 0.5f * strength * dt;
    const float u[3] = {(d[2][1] - d[1][2]) * k, (d[0][2] - d[2][0]) * k, (d[1][0] - d[0][1]) * k};
    __global float* v = vel + 4 * cd_idx(cell[0], cell[1], cell[2], N);
    for (int c = 0; c < 3; ++c) v[c] = clamp(v[c] + u[c], -50.0f, 50.0f);
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
        x = std::ldexp(unit - 0.5f, static_cast<int>(s >> 27) - 10 + static_cast<int>((s >> 20) & 3u));
    }
    return v;
}

// In PoCL's own shape and in the projection's row groups, at every level side of the supported
// grids (128, 192, 256, 384) up to 128.
class StencilBits : public simtest::SimTest {
protected:
    std::vector<float> stencil(const char* kernel, const std::vector<float>& a, const std::vector<float>& b, int n,
                               bool rows) {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        cl_program program = h.program(kPinnedStencils);
        EXPECT_NE(program, nullptr) << h.buildLog();
        const size_t side = static_cast<size_t>(n), gh = cindel::KernelLaunch::kRowGroupHeight;
        cltest::Range r = cltest::Range::grid3(side, side, side);
        if (rows) r.global = {side, (side + gh - 1) / gh * gh, side}, r.local = {side, gh, 1};
        const cltest::ClBuffer in = h.upload(a), rhs = h.upload(b), out = h.upload(std::vector<float>(a.size(), 0.0f));
        EXPECT_TRUE(std::strstr(kernel, "restrict") || std::strstr(kernel, "curl")
                        ? h.run(program, kernel, r, in, out, n)
                        : h.run(program, kernel, r, in, rhs, out, n));
        return h.read(out);
    }
};

TEST_F(StencilBits, PinnedStencilsAndRestrictionGiveTheReferenceBitsInEveryShape) {
    for (int n : {16, 24, 32, 48, 64, 96, 128}) {
        const size_t cells = static_cast<size_t>(n) * n * n;
        const std::vector<float> p = scrambled(cells, 83u + n), b = scrambled(cells, 97u + n);
        // The restriction reads the first (n / 2)³ · 8 values as its fine grid.
        const std::vector<float> want = stencil("ref_restrict", p, b, n / 2, false);
        for (bool rows : {false, true})
            EXPECT_EQ(simtest::differingBits(want, stencil("cd_restrict", p, b, n / 2, rows)), 0u)
                << "cd_restrict coarse side " << n / 2 << (rows ? ", rows" : "");
        // The curl's cells at side n / 2 (half of p; 8, 12, 24 and 48 have partial chunks).
        const std::vector<float> curl = stencil("ref_compute_curl", p, b, n / 2, false);
        for (bool rows : {false, true})
            EXPECT_EQ(simtest::differingBits(curl, stencil("cd_compute_curl", p, b, n / 2, rows)), 0u)
                << "cd_compute_curl side " << n / 2 << (rows ? ", rows" : "");
        for (const auto& [ref, lib] :
             {std::pair{"ref_pressure_jacobi", "cd_pressure_jacobi"}, std::pair{"ref_residual", "cd_residual"}}) {
            const std::vector<float> want = stencil(ref, p, b, n, false);
            EXPECT_EQ(simtest::differingBits(want, stencil(ref, p, b, n, true)), 0u) << ref << " side " << n;
            EXPECT_EQ(simtest::differingBits(want, stencil(lib, p, b, n, false)), 0u) << lib << " side " << n;
            EXPECT_EQ(simtest::differingBits(want, stencil(lib, p, b, n, true)), 0u)
                << lib << " side " << n << ", rows";
        }
    }
}

// The row form on the lattice table (a window per row, or cell by cell below Turbulence Scale
// 0.5), and the direct form, in row groups and in PoCL's own shapes, at sides with partial rows.
TEST_F(SimEquivalence, CurlNoiseFormsGiveThePinnedBits) {
    cltest::ClHarness& h = cltest::ClHarness::instance();
    cl_program program = h.program(kPinnedStencils);
    ASSERT_NE(program, nullptr) << h.buildLog();
    const struct {
        int side;
        float scale;
    } cases[] = {{32, 1.0f}, {33, 1.0f}, {40, 3.0f}, {40, 0.5f}, {33, 0.4f}, {40, 0.4f}};
    for (const auto& c : cases) {
        ASSERT_TRUE(cindel::resizeGrid(rt(), c.side));
        settings_.turbulence = 40.0f, settings_.turbulenceScale = c.scale;
        const float dt = 1.0f / 24.0f, time = cindel::curlNoiseTime(settings_, 7, dt);
        const auto start =
            vectorField([](int x, int y, int z, int k) { return 0.1f * float((x + 2 * y + 3 * z + k) % 7); });
        const cltest::ClBuffer ref = h.upload(start);
        ASSERT_TRUE(h.run(program, "ref_curl_noise", cltest::Range::grid3(c.side, c.side, c.side), ref, c.side,
                          settings_.turbulence, c.scale, time, dt));
        const std::vector<float> want = h.read(ref);
        EXPECT_GT(simtest::differingBits(want, start), cells()) << "the noise moved nothing";
        for (const auto path : {cindel::CurlNoisePath::Lattice, cindel::CurlNoisePath::Direct}) {
            for (bool groups : {true, false}) {
                writeVel(start);
                cindel::setLocalSizesEnabled(groups);
                EXPECT_EQ(cindel::enqueueCurlNoise(rt(), settings_, 7, dt, path), path) << "side " << c.side;
                cindel::setLocalSizesEnabled(true);
                EXPECT_EQ(simtest::differingBits(want, readVec(grid().velocity)), 0u)
                    << "side " << c.side << ", scale " << c.scale
                    << (path == cindel::CurlNoisePath::Direct ? ", direct" : ", table")
                    << (groups ? ", groups" : ", PoCL's shape");
            }
        }
    }
}

}  // namespace
