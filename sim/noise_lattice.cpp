// The curl noise's lattice table: its size for a launch and its fill. The origins of the boxes
// are chosen on the device (cd_noise_lattice_fill) from the potentials' own arithmetic; the host
// only has to make the boxes large enough, which it can do in double with a margin.
#include "sim/noise_lattice.h"

#include <cmath>
#include <limits>

#include "gpu/gpu_runtime.h"
#include "gpu/launch.h"

namespace cindel {

namespace {

// The largest potential offset (C's 97 along x) and drift coefficient (0.7) of the curl noise.
constexpr double kLargestOffset = 97.0;
constexpr double kLargestDrift = 0.7;
constexpr int kOriginInts = 3 * 3 * 3;
// Points per box axis beyond f·((N − 1)·baseFreq + 2): one for the far corner of the highest
// cell, one that the origin's floor may lose, the two points the origin leaves free below the
// lowest coordinate, one because indices end at side − 1, and one that absorbs rounding (this
// side's baseFreq against the device's, and the last bits of the noise coordinates, which stay
// far below a point under kMaxNoiseLatticeCoordinate).
constexpr int kBoxMargin = 6;
// Floats after the last box: the row form of the curl noise loads 8-value windows whose tail
// may run up to 6 values past the end of a box (kernels/noise_lattice.cl).
constexpr size_t kWindowPad = 8;

}  // namespace

void releaseNoiseLattice(NoiseLattice& lattice) {
    releaseBuffer(lattice.values);
    releaseBuffer(lattice.origins);
    releaseBuffer(lattice.heldOrigins);
    lattice.heldSides.reset();
}

std::optional<NoiseLatticeLayout> planNoiseLattice(int N, float scale, float time) {
    if (N < 1 || !std::isfinite(time)) return std::nullopt;
    // The kernel's base frequency, in the same float operations.
    const float baseFreq = 0.1f / std::fmax(scale, 0.1f);
    // The noise-space extent of one axis: the grid, and one unit of difference on either side.
    const double span = static_cast<double>(N - 1) * baseFreq + 2.0;
    const double largest = 4.0 * (kLargestOffset + kLargestDrift * std::fabs(static_cast<double>(time)) + span);
    if (largest >= kMaxNoiseLatticeCoordinate) return std::nullopt;

    NoiseLatticeLayout layout;
    int64_t perPotential = 0;
    for (int o = 0; o < 3; ++o) {
        const double freq = static_cast<double>(1 << o);
        const int side = static_cast<int>(std::ceil(freq * span)) + kBoxMargin;
        layout.side[static_cast<size_t>(o)] = side;
        perPotential += static_cast<int64_t>(side) * side * side;
    }
    layout.entries = 3 * perPotential;
    const int64_t cells = static_cast<int64_t>(N) * N * N;
    if (layout.entries > kMaxNoiseLatticeEntriesPerCell * cells || layout.entries > kMaxNoiseLatticeEntries) {
        return std::nullopt;
    }
    return layout;
}

bool enqueueNoiseLatticeFill(GpuRuntime& rt, const NoiseLatticeLayout& layout, float time) {
    if (!ensureAuxKernel(rt, AuxKernel::NoiseLatticeFill)) return false;
    NoiseLattice& table = rt.noiseLattice;
    const size_t valueBytes = (static_cast<size_t>(layout.entries) + kWindowPad) * sizeof(float);
    const size_t originBytes = kOriginInts * sizeof(cl_int);
    // A new buffer holds nothing yet; other sides put every box elsewhere.
    if (!table.values.handle || table.values.capacity < valueBytes || !table.heldOrigins.handle ||
        table.heldSides != layout.side) {
        table.heldSides.reset();
    }
    if (!ensureBuffer(rt.context, table.values, valueBytes)) return false;
    if (!ensureBuffer(rt.context, table.origins, originBytes)) return false;
    if (!ensureBuffer(rt.context, table.heldOrigins, originBytes)) return false;
    if (!table.heldSides) {
        // No lattice origin is this far below zero (the coordinates stay under 2^20).
        const cl_int none = std::numeric_limits<cl_int>::min();
        // The pad's values reach only lanes that are never used; zeros keep them ordinary numbers.
        const cl_float zero = 0.0f;
        if (cl().clEnqueueFillBuffer(rt.queue, table.heldOrigins.handle, &none, sizeof none, 0, originBytes, 0, nullptr,
                                     nullptr) != CL_SUCCESS ||
            cl().clEnqueueFillBuffer(rt.queue, table.values.handle, &zero, sizeof zero,
                                     valueBytes - kWindowPad * sizeof zero, kWindowPad * sizeof zero, 0, nullptr,
                                     nullptr) != CL_SUCCESS) {
            return false;
        }
    }
    for (int pot = 0; pot < 3; ++pot) {
        for (int octave = 0; octave < 3; ++octave) {
            const size_t side = static_cast<size_t>(layout.side[static_cast<size_t>(octave)]);
            KernelLaunch(rt, AuxKernel::NoiseLatticeFill)
                .arg("lattice", table.values.handle)
                .arg("latticeOrigin", table.origins.handle)
                .arg("heldOrigin", table.heldOrigins.handle)
                .arg("pot", pot)
                .arg("octave", octave)
                .arg("side0", layout.side[0])
                .arg("side1", layout.side[1])
                .arg("side2", layout.side[2])
                .arg("time", time)
                .run3d(side);
        }
    }
    // A fill that did not run left its box and its origin as they were, so the copy stays true to
    // the table; without the copy nothing is known to be held.
    table.heldSides.reset();
    if (cl().clEnqueueCopyBuffer(rt.queue, table.origins.handle, table.heldOrigins.handle, 0, 0, originBytes, 0,
                                 nullptr, nullptr) == CL_SUCCESS) {
        table.heldSides = layout.side;
    }
    return true;
}

}  // namespace cindel
