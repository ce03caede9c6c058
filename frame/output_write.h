// The last stage of a frame: the channel depth of a host world, and the conversion of the
// renderer's float image into the host's output world.
//
// The renderer's image is width x height pixels of 4 floats (red, green, blue, alpha), rows packed
// without padding. Host worlds hold alpha, red, green, blue per pixel at 8 bits (full scale 255),
// 16 bits (full scale 32768, not 65535) or 32-bit floats (full scale 1.0, unclamped), in rows of
// rowBytes bytes. Integer conversions truncate; they never round. Only the pixels are written: the
// padding at the end of each row is never touched, and a world whose rows are too short for their
// pixels, a null pointer or a depth other than 8, 16 or 32 is left untouched altogether.
#pragma once

#include "AE_Effect.h"

namespace cindel {

// 32, 16 or 8 from the host's pixel-format query; when the world suite or the query fails (or the
// format is not one of the three ARGB formats), 16 for a world flagged deep and 8 otherwise.
int worldBitsPerChannel(PF_InData* inData, PF_OutData* outData, const PF_EffectWorld* world);

// Bytes per pixel at a depth, 0 for a depth the effect does not write.
int bytesPerPixel(int bitsPerChannel);

// True when a world of these dimensions can be written at this depth: positive size, non-null
// pixels and rows long enough for their pixels.
bool isWritableWorld(const void* pixels, int width, int height, int rowBytes, int bitsPerChannel);

// The final image, all four channels scaled by `opacity` (a fraction; anything outside 0 ... 1,
// NaN included, acts as 1). Returns whether the world was written.
bool writeOutput(const float* rgba, void* pixels, int width, int height, int rowBytes, int bitsPerChannel,
                 float opacity);

// The debug slice image: the same layout without the opacity factor, clamped in double precision.
bool writeSliceOutput(const float* rgba, void* pixels, int width, int height, int rowBytes, int bitsPerChannel);

}  // namespace cindel
