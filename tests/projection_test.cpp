// Pressure projection at sides 32 (two levels), 64 (three) and 33 (Jacobi only) against double
// host references. Zero-gradient boundaries make the Poisson problem singular (the mean of the
// right-hand side is unreachable), so residual norms are taken with their mean removed.
#include "sim/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "sim_fixture.h"

namespace cindel {
namespace {

using Field = std::vector<double>;

double neighbourSum(const Field& p, int x, int y, int z, int n) {
    auto at = [&](int i, int j, int k) {
        return p[(size_t(std::clamp(k, 0, n - 1)) * n + std::clamp(j, 0, n - 1)) * n + std::clamp(i, 0, n - 1)];
    };
    return at(x + 1, y, z) + at(x - 1, y, z) + at(x, y + 1, z) + at(x, y - 1, z) + at(x, y, z + 1) + at(x, y, z - 1);
}

// Jacobi sweeps of Σneighbours − 6p = b (residual = true: b minus the operator applied to p).
Field stencil(const Field& p0, const Field& b, int n, int sweeps, bool residual = false) {
    Field p = p0, next(p0.size());
    for (int s = 0; s < sweeps; ++s) {
        for (int z = 0, c = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x, ++c)
                    next[c] = residual ? b[c] - (neighbourSum(p, x, y, z, n) - 6.0 * p[c])
                                       : (neighbourSum(p, x, y, z, n) - b[c]) / 6.0;
        if (residual) return next;
        std::swap(p, next);
    }
    return p;
}

Field restrictTo(const Field& fine, int nc) {
    Field c(simtest::cellCount(nc), 0.0);
    for (int z = 0; z < 2 * nc; ++z)
        for (int y = 0; y < 2 * nc; ++y)
            for (int x = 0; x < 2 * nc; ++x)
                c[(size_t(z / 2) * nc + y / 2) * nc + x / 2] += 0.125 * fine[(size_t(z) * 2 * nc + y) * 2 * nc + x];
    return c;
}

// Trilinear, added: fine cell f sits at coarse coordinate (f − 0.5) / 2, indices clamped.
void prolongAdd(const Field& coarse, Field& fine, int nf) {
    for (int z = 0, i = 0; z < nf; ++z)
        for (int y = 0; y < nf; ++y)
            for (int x = 0; x < nf; ++x, ++i)
                fine[size_t(i)] +=
                    simtest::sampleRef(coarse, nf / 2, 1, 0, x * 0.5 + 0.25, y * 0.5 + 0.25, z * 0.5 + 0.25);
}

// One V-cycle over the given level sides: 4 sweeps down, 20 on the coarsest, 4 up.
void hostVCycle(Field& p, const Field& b, const std::vector<int>& sizes) {
    const size_t levels = sizes.size();
    p = stencil(p, b, sizes[0], 4);
    if (levels > 1) {
        std::vector<Field> pk(levels), rhs(levels);
        rhs[1] = restrictTo(stencil(p, b, sizes[0], 1, true), sizes[1]);
        for (size_t k = 1; k < levels; ++k) {
            pk[k] = stencil(Field(rhs[k].size(), 0.0), rhs[k], sizes[k], k + 1 == levels ? 20 : 4);
            if (k + 1 < levels) rhs[k + 1] = restrictTo(stencil(pk[k], rhs[k], sizes[k], 1, true), sizes[k + 1]);
        }
        for (size_t k = levels - 2; k >= 1; --k) {
            prolongAdd(pk[k + 1], pk[k], sizes[k]);
            pk[k] = stencil(pk[k], rhs[k], sizes[k], 4);
        }
        prolongAdd(pk[1], p, sizes[0]);
    }
    p = stencil(p, b, sizes[0], 4);
}

double rms(const Field& f, bool withoutMean = false) {
    const double mean = withoutMean ? std::accumulate(f.begin(), f.end(), 0.0) / double(f.size()) : 0.0;
    return std::sqrt(
        std::accumulate(f.begin(), f.end(), 0.0, [&](double a, double v) { return a + (v - mean) * (v - mean); }) /
        double(f.size()));
}
double maxAbs(const Field& f) {
    return simtest::maxAbs({f.begin(), f.end()});
}
Field toDouble(const std::vector<float>& v) {
    return {v.begin(), v.end()};
}

struct Side {
    int side, levels;
    double maxFactor, rmsFactor, cycleFactor;
};

class Projection : public simtest::SimKernelTest, public ::testing::WithParamInterface<Side> {
protected:
    int side() const override { return GetParam().side; }

    // Low-frequency waves for the V-cycle plus 10 % hashed roughness for the smoother.
    std::vector<float> randomVelocity() const {
        return vectorField([](int x, int y, int z, int c) {
            const float k = 6.2831853f / 32.0f;
            const uint32_t h =
                uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(z) * 83492791u ^ uint32_t(c) * 2654435761u;
            return std::sin(k * ((1 + c) * x + 2 * y + (3 - c) * z) + c) + 0.7f * std::cos(k * (x - 2 * z) + 2.0f * c) +
                   0.2f * (float(h % 1000) / 1000.0f - 0.5f);
        });
    }
    double residualNorm() {
        return rms(stencil(toDouble(read(grid().pressure)), toDouble(read(grid().divergence)), N(), 1, true), true);
    }
};

TEST_P(Projection, VCycleMatchesTheHostAndEachCycleCutsTheResidual) {
    ASSERT_EQ(projectionLevels(grid()), GetParam().levels);
    writeVel(randomVelocity());
    enqueueDivergence(rt(), settings_);
    const Field warm =
        toDouble(scalarField([](int x, int y, int z) { return 0.01f * float((x * 7 + y * 3 + z) % 11); }));
    write(grid().pressure, std::vector<float>(warm.begin(), warm.end()));
    const Field b = toDouble(read(grid().divergence));
    ASSERT_GT(maxAbs(b), 0.5);
    double prev = residualNorm();
    vCycle(rt());
    Field expected = warm;
    std::vector<int> sizes(grid().mgSize.begin(), grid().mgSize.begin() + GetParam().levels);
    hostVCycle(expected, b, sizes);
    // Some 40 dependent float sweeps against double: 1e-4 of the largest pressure.
    simtest::expectNear(read(grid().pressure), expected, 1e-4 * maxAbs(expected), "one V-cycle against the host's");
    for (int cycle = 1; cycle <= 3; ++cycle) {
        if (cycle > 1) vCycle(rt());
        const double now = residualNorm();
        EXPECT_LT(now * GetParam().cycleFactor, prev) << "V-cycle " << cycle;
        prev = now;
    }
}

TEST_P(Projection, MainProjectionLowersDivergence) {
    const std::vector<float> vel = randomVelocity();
    writeVel(vel);
    projectMultigrid(rt(), settings_);
    const Field before = simtest::divergenceOf(vel, N()), after = simtest::divergenceOf(readVec(grid().velocity), N());
    ASSERT_GT(maxAbs(before), 0.5) << "the test field must be divergent";
    simtest::expectNear(read(grid().divergence), before, 1e-5, "the solve's right-hand side");  // no expansion at 0.15
    EXPECT_GT(maxAbs(before) / maxAbs(after), GetParam().maxFactor);
    EXPECT_GT(rms(before) / rms(after), GetParam().rmsFactor);
}

// Measured on PoCL (divergence max, RMS; the weakest of three V-cycles): side 32 ×2.42, ×3.80,
// ×1.57; 64 ×2.84, ×3.92, ×1.57; 33 ×2.12, ×2.54, ×1.30. The bounds are about 80 % of that.
INSTANTIATE_TEST_SUITE_P(Sides, Projection,
                         ::testing::Values(Side{32, 2, 1.9, 3.0, 1.3}, Side{64, 3, 2.3, 3.1, 1.3},
                                           Side{33, 1, 1.7, 2.0, 1.1}));

TEST_P(Projection, SecondProjectionSweepsFromTheCurrentPressure) {
    const auto vel = randomVelocity();
    writeVel(vel);
    const Field warm = toDouble(scalarField([](int x, int, int) { return 0.05f * float(x % 5); }));
    write(grid().pressure, std::vector<float>(warm.begin(), warm.end()));
    projectJacobi(rt(), settings_);
    const Field div0 = simtest::divergenceOf(vel, N());
    const Field expected = stencil(warm, div0, N(), 8);
    simtest::expectNear(read(grid().pressure), expected, 1e-4 * maxAbs(expected), "8 sweeps from the current pressure");
    EXPECT_LT(rms(simtest::divergenceOf(readVec(grid().velocity), N())), rms(div0));
}

}  // namespace
}  // namespace cindel
