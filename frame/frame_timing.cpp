// Host time to frame numbers, and the trajectory digest. See frame_timing.h.
#include "frame/frame_timing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "frame/digest.h"
#include "frame/frame_settings.h"

namespace cindel {

namespace {

// A host that renders backwards may report a negative time step; a frame is as long either way,
// and a negative step would otherwise turn every positive time into a negative frame number.
int64_t stepMagnitude(A_long timeStep) {
    return std::llabs(int64_t(timeStep));
}

// (int)(t / step + 0.5) with the double clamped into int range first: the host's 32-bit time over a
// step of 1 reaches INT_MAX, and converting an out-of-range double to int is undefined.
int32_t roundedFrame(double t, double step) {
    const double f = t / step + 0.5;
    if (!(f > 0.0)) return 0;  // negative times (pre-roll) count as frame 0
    if (f >= double(INT_MAX)) return INT_MAX;
    return int32_t(f);
}

}  // namespace

int32_t historyFrameCount(A_long currentTime, A_long timeStep) {
    const int64_t step = timeStep != 0 ? stepMagnitude(timeStep) : 1;
    const int32_t current = roundedFrame(double(currentTime), double(step));
    return current >= kMaxHistoryFrames - 1 ? kMaxHistoryFrames : current + 1;
}

FrameTiming frameTiming(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    FrameTiming timing{};
    timing.frameCount = historyFrameCount(currentTime, timeStep);

    int64_t simStep = stepMagnitude(timeStep);
    if (simStep == 0) simStep = int64_t(timeScale / 30u);
    if (simStep == 0) simStep = 1;
    timing.simStep = int32_t(std::min<int64_t>(simStep, INT_MAX));

    // A zero time scale or a vanishing step would give a zero or undefined step length; one 60th of
    // a second keeps the simulation moving at a plausible rate instead.
    double duration = timeScale != 0 ? double(simStep) / double(timeScale) : 0.0;
    if (timeScale == 0 || duration < 1e-6) duration = 1.0 / 60.0;
    timing.frameDurationSeconds = float(duration);

    timing.targetFrame = roundedFrame(double(currentTime), double(simStep));
    return timing;
}

A_long historyFrameTime(int frame, A_long timeStep) {
    const int64_t t = int64_t(frame) * stepMagnitude(timeStep);
    return A_long(std::clamp<int64_t>(t, INT_MIN, INT_MAX));
}

uint32_t hashTrajectory(uint32_t seed, const float* x, const float* y, const float* z, int n) {
    if (n < 1 || !x || !y || !z) return seed;
    n = std::min(n, kMaxHistoryFrames);
    uint32_t h = seed;
    for (int64_t j = 0; j < 64; ++j) {
        const int64_t i = j * int64_t(n - 1) / 63;
        h = fnv1a32Float(h, x[i]);
        h = fnv1a32Float(h, y[i]);
        h = fnv1a32Float(h, z[i]);
    }
    return h;
}

}  // namespace cindel
