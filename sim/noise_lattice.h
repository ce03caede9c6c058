// The curl noise's lattice table, host side. The direct curl noise hashes every lattice corner
// it reads: 12 fractal sums × 3 octaves × 8 corners, about 300 sines a cell, although the
// lattice is coarse (integer points several cells apart at the usual scales) and a step touches
// few distinct points. The table holds the hash of each of those points once, made on the device
// by the same function the noise would call, and cd_curl_noise_lut reads it instead: the same
// velocity to the last bit (kernels/noise_lattice.cl has the layout and the reasons).
//
// What a launch touches: potential P ∈ {A, B, C} samples q = p·baseFreq + offset(P) + drift(P)·t,
// p the cell index 0 … N − 1 per axis, shifted by ±1 along the differentiated axes, at octave
// frequencies f = 1, 2, 4, and reads the lattice points floor(f·q) and floor(f·q) + 1. Per axis
// that is f·((N − 1)·baseFreq + 2) + 2 consecutive points, the same for all three axes and
// potentials; each box gets that many plus a margin that absorbs float rounding (see
// planNoiseLattice). The table has one cubic box per potential and octave.
//
// The bound: the fill hashes each table entry once, against 288 hashes a cell for the direct
// form, so even a table of many entries per cell is far cheaper to compute; what limits it is
// memory. A table of more than 16 entries a cell (64 bytes, four velocity fields' worth) or more
// than 2^26 entries (256 MiB) is not made, and the launch uses the direct form. At the default
// Turbulence Scale 1 the table is about 0.5 entries a cell at side 128; it falls back below a
// scale of about 0.3 (the finest octave then has a lattice point every cell or less).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "gpu/buffers.h"

namespace cindel {

struct GpuRuntime;

// The table's buffers, owned by the runtime; they only grow. The table outlives its step: a
// fill leaves each box whose origin has not moved as it is (kernels/noise_lattice.cl).
struct NoiseLattice {
    SizedBuffer values;       // float: the hashes, box after box
    SizedBuffer origins;      // int[27]: each box's first lattice point, written by the fill
    SizedBuffer heldOrigins;  // int[27]: the origins whose points the boxes hold
    // The box sides `values` was last filled in; none, when it holds no box.
    std::optional<std::array<int, 3>> heldSides;
};

void releaseNoiseLattice(NoiseLattice& lattice);

// The cube side of each octave's box (the same for the three potentials) and the entry count,
// 3 × (side0³ + side1³ + side2³).
struct NoiseLatticeLayout {
    std::array<int, 3> side{};
    int64_t entries = 0;
};

inline constexpr int64_t kMaxNoiseLatticeEntriesPerCell = 16;
inline constexpr int64_t kMaxNoiseLatticeEntries = int64_t{1} << 26;
// Noise coordinates (after the octave frequency) must stay below this magnitude, so that float
// rounding moves a coordinate by well under the boxes' margin and every lattice point fits an int.
inline constexpr double kMaxNoiseLatticeCoordinate = 1 << 20;

// The table for a curl noise over an N³ grid at Turbulence Scale `scale` and noise time `time`;
// nullopt when it would break a bound above (the launch then evaluates the noise directly).
std::optional<NoiseLatticeLayout> planNoiseLattice(int N, float scale, float time);

// Creates the fill kernel and the buffers as needed and enqueues the fill for `time`. False when
// any of them is unavailable; nothing is enqueued then.
bool enqueueNoiseLatticeFill(GpuRuntime& rt, const NoiseLatticeLayout& layout, float time);

}  // namespace cindel
