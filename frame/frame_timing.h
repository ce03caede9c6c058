// From the host's clock to frame numbers. The host speaks in time units (current_time, time_step,
// time_scale); the simulation is deterministic in composition frames counted from frame 0. This
// holds the derivations the frame driver makes from those three numbers, and hashTrajectory, the
// digest through which a per-frame history (the Source Position table, a light track) enters the
// simulation key.
//
// The history tables and the simulation deliberately use different steps when the host reports a
// time step of 0: the tables then count host time units, the simulation a 30th of the time scale.
#pragma once

#include <cstdint>

#include "AE_Effect.h"

namespace cindel {

struct FrameTiming {
    int32_t frameCount;          // history entries, frames 0 ... current, 1 ... 600
    int32_t simStep;             // host time units per simulation step, at least 1
    float frameDurationSeconds;  // length of one simulation step
    int32_t targetFrame;         // the frame the simulation is brought to, at least 0
};

// Entries of a per-frame history ending at the current time: frames 0 ... current, 1 ... 600.
int32_t historyFrameCount(A_long currentTime, A_long timeStep);

FrameTiming frameTiming(A_long currentTime, A_long timeStep, A_u_long timeScale);

// The host time of history frame `frame`, for checkouts at i x time_step; saturates instead of
// overflowing the host's 32-bit time.
A_long historyFrameTime(int frame, A_long timeStep);

// FNV-1a 32 from `seed` over 64 entries spread evenly over frames 0 ... n - 1 (index
// j * (n - 1) / 63), each entry's x, y, z floats least significant byte first. Returns the seed
// when n < 1 or a table is missing. The tables hold at most 600 entries; a larger n is taken as 600.
uint32_t hashTrajectory(uint32_t seed, const float* x, const float* y, const float* z, int n);

}  // namespace cindel
