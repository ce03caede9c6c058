// Semi-Lagrangian advection through the host's launches and swaps, on an odd side: zero velocity
// is the identity, and with velocities that leave the grid through every face and exceed the
// speed clamp every field matches a double trilinear back-trace (velocity × 0.995, clamped).
// Tolerance: a float back-trace (~2e-6 cells off) moves a sample by that share of a jump; 1e-5
// of the field's scale covers it, a wrong cell or weight moves it by a sizeable share.
#include "sim/advect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sim_fixture.h"

namespace {

class Advect : public simtest::SimKernelTest {
protected:
    int side() const override { return 33; }
    std::vector<float> field(int k) const {
        return scalarField([k](int x, int y, int z) {
            return k == 0   ? 1.0f + x + 0.01f * y * y + 0.5f * z
                   : k == 1 ? 300.0f + float((x * 7 + y * 13 + z * 5) % 29) * 10.0f
                   : k == 2 ? std::sin(0.3f * x) * std::cos(0.2f * y) + 0.1f * z
                            : float((x * 3 + y * 5 + z * 11) % 17);
        });
    }
    void advectAll(float dt) {
        cindel::advectScalars(rt(), dt);
        cindel::advectEmbers(rt(), dt);
        cindel::advectVelocity(rt(), dt);
    }
    std::vector<cl_mem> scalars() { return {grid().density, grid().temperature, grid().fuel, grid().ember}; }
};

TEST_F(Advect, ZeroVelocityIsTheIdentityAndAFlowIsTheTrilinearBackTrace) {
    for (int k = 0; k < 4; ++k) write(scalars()[size_t(k)], field(k));
    advectAll(0.5f);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(simtest::differingBits(read(scalars()[size_t(k)]), field(k)), 0u) << "field " << k;
    EXPECT_EQ(simtest::maxAbs(readVec(grid().velocity)), 0.0);

    const auto v = vectorField([](int x, int y, int z, int c) {
        return c == 0   ? 25.0f * std::sin(0.37f * (y + z)) + 3.0f
               : c == 1 ? 40.0f * std::cos(0.21f * x) - 6.0f
                        : 70.0f * std::sin(0.13f * (x + 2 * y + z));
    });
    writeVel(v);
    const float dt = 0.1f;
    advectAll(dt);
    int clamped = 0;
    for (int k = 0; k < 5; ++k) {  // the four scalars, then the velocity
        const bool isVel = k == 4;
        const auto in = isVel ? v : field(k);
        const auto want = refField(
            [&](int x, int y, int z, int c) {
                const size_t i = 4 * idx(x, y, z);
                if (c == 3) return 0.0;
                // The kernel's float expression, so both trace back from the same position.
                const double s = simtest::sampleRef(in, N(), isVel ? 4 : 1, c, float(x) + 0.5f - v[i] * dt,
                                                    float(y) + 0.5f - v[i + 1] * dt, float(z) + 0.5f - v[i + 2] * dt);
                clamped += isVel && std::fabs(s * 0.995) > 50.0;
                return isVel ? std::clamp(s * 0.995, -50.0, 50.0) : s;
            },
            isVel ? 4 : 1);
        const auto got = isVel ? readVec(grid().velocity) : read(scalars()[size_t(k)]);
        simtest::expectNear(got, want, 1e-5 * std::max(simtest::maxAbs(in), 1.0), "field " + std::to_string(k));
        EXPECT_GT(simtest::differingBits(got, in), cells() / 2) << "field " << k;
    }
    EXPECT_GT(clamped, 100);
}

}  // namespace
