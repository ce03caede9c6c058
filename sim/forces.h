// Host side of the velocity forces applied before a step's main projection: buoyancy,
// environmental forces, vorticity confinement, curl-noise turbulence and shredding. Each function
// derives its kernel's values from the frame's settings, binds them through the kernel table and
// enqueues over the whole grid; nothing waits. Whether a stage runs at all (simulation mode,
// thresholds) is the step driver's decision, not these functions'.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// Buoyancy lifts hot gas towards −y (up): beta = buoyancy × 0.001, aggression = flameAggression.
void enqueueBuoyancy(const GpuRuntime& rt, const FrameSettings& s, float dt);
// Gravity and wind (both × 0.1, gravity positive downward), then the drag keep factor as is.
void enqueueApplyForces(const GpuRuntime& rt, const FrameSettings& s, float dt);
// Curl of the velocity into the grid's curl field, then confinement with epsilon = vorticity.
void enqueueVorticityConfinement(const GpuRuntime& rt, const FrameSettings& s, float dt);
// How a curl-noise launch evaluated the noise: hashing every lattice corner (cd_curl_noise), or
// reading them from the lattice table made for the launch (sim/noise_lattice.h). Both write the
// same bits.
enum class CurlNoisePath { Direct, Lattice };

// `frame` is the step's frame: the noise evolves with simulated time and the seed. The lattice
// table is used unless `preferred` is Direct or the table cannot be had (too large for its
// bounds, or its kernels or buffers unavailable); returns the path taken. The runtime is mutable
// because the table's kernels and buffers are made on first use.
CurlNoisePath enqueueCurlNoise(GpuRuntime& rt, const FrameSettings& s, int frame, float dt,
                               CurlNoisePath preferred = CurlNoisePath::Lattice);
// Stretch and squash across flame fronts: strength = flameTear × 8, pivot 900 K, width 600 K.
void enqueueShred(const GpuRuntime& rt, const FrameSettings& s, float dt);

// The time argument of the curl noise for a step's frame:
// frame × dt × turbulenceSpeed + randomSeed × 0.137.
float curlNoiseTime(const FrameSettings& s, int frame, float dt);

// The fixed shredding pivot and transition width, in kelvin.
constexpr float kShredPivotKelvin = 900.0f;
constexpr float kShredWidthKelvin = 600.0f;

}  // namespace cindel
