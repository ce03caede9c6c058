// The per-frame table of the "Source Position" parameter: one entry per composition frame from
// frame 0, each the 3-D point checked out at that frame's host time and scaled to full-resolution
// composition pixels (x by scaleX, y by scaleY, z by scaleX).
//
// Reading up to 600 keyframed values per frame would dominate playback, so the last table stays in
// one process-wide cache keyed by the caller's key (the instance id) and the two scale factors. A
// later call whose table is at least as long re-reads up to 8 evenly spread cached frames; when they
// all agree within 0.001 pixels the cached entries are kept and only the new frames are read, so
// forward playback costs one new read plus at most 8 verification reads per frame. A change that
// falls between the verification frames is not seen until it reaches one of them: that is the price
// of the cache. releaseEmitterCaches() empties it.
#pragma once

#include <cstdint>

#include "AE_Effect.h"

namespace cindel {

// Fills xs, ys, zs (each at least 600 entries) for frames 0 ... count - 1, where count is
// frameCount clamped to 1 ... 600, and returns count. A frame whose read fails, or whose value is
// not a finite float, repeats the previous entry (frame 0 becomes (0, 0, 0)). Returns 0 and writes
// nothing when a table pointer is null.
int sampleSourcePositionTable(PF_InData* inData, int frameCount, float scaleX, float scaleY, float* xs, float* ys,
                              float* zs, uint64_t key);

// Empties the table cache; the next call reads every frame.
void resetSourcePositionCache();

}  // namespace cindel
