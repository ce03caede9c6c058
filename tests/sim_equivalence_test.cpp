// Launch shapes must not change the simulation's bits: whole steps in row groups against the exact
// range (ids past the grid return), and the pressure stencils held to one pinned operation order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"
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
        EXPECT_TRUE(h.run(program, kernel, r, in, rhs, out, n));
        return h.read(out);
    }
};

TEST_F(StencilBits, PinnedSweepAndResidualGiveTheReferenceBitsInEveryShape) {
    for (int n : {16, 24, 32, 48, 64, 96, 128}) {
        const size_t cells = static_cast<size_t>(n) * n * n;
        const std::vector<float> p = scrambled(cells, 83u + n), b = scrambled(cells, 97u + n);
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

}  // namespace
