// The renderer's output-sized GPU buffers, members of the runtime, kept from frame to frame and
// only ever grown. Every pass checks its own buffers and is skipped when one is missing; only the
// image buffer is required.
#pragma once

#include <array>

#include "gpu/buffers.h"
#include "kernels/raymarch_params.h"

namespace cindel {

constexpr int kMaxBloomLevels = 5;
constexpr int kVelocityTileSize = 16;

struct RenderBuffers {
    SizedBuffer imageBuffer;     // W·H float4: the frame; every pass ends in it
    SizedBuffer postA;           // W·H float4 scratch: motion blur, heat distortion, bloom
    SizedBuffer postB;           // W·H float4 scratch: light cast
    SizedBuffer screenVelocity;  // W·H float2 from the ray march
    SizedBuffer velocityTiles;   // ⌈W/16⌉·⌈H/16⌉ float2
    SizedBuffer halfImage;       // ⌈W/2⌉·⌈H/2⌉ float4: the half-resolution march target
    std::array<SizedBuffer, kMaxBloomLevels> bloomLevels{};
    std::array<int, kMaxBloomLevels> bloomWidth{};
    std::array<int, kMaxBloomLevels> bloomHeight{};
    int bloomLevelCount = 0;
    SizedBuffer raymarchParams;  // the ray march's parameter block
    // The host copy of the block, kept here so its upload need not wait: the queue reads it
    // before the frame's blocking read-back returns, and only the next frame rewrites it.
    CdRaymarchParams raymarchParamsHost{};
};

void releaseRenderBuffers(RenderBuffers& buffers);

}  // namespace cindel
