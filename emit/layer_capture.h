// Capture of the Source Layer and the Custom Map for one frame: the layer's placement in the
// composition, its alpha as the emission map (resampled into composition pixels when the placement
// is known), the custom map, their digests and boxes, and the uploads to the GPU.
//
// The composition resample costs 16 sub-samples per composition pixel, so its result stays in one
// process-wide cache keyed by everything it depends on (instance, layer, placement, sizes, the
// layer map's digest); a frame whose key holds reuses it. releaseEmitterCaches() frees it.
#pragma once

#include <cstdint>
#include <string>

#include "AE_Effect.h"
#include "frame/frame_settings.h"
#include "host/instance_data.h"

namespace cindel {

struct GpuRuntime;

// A map's box of values above 0.005 (inclusive; all -1 when there is none) and its FNV-1a digest
// (seeded with width and height, then x, y and int(value × 255) of every value above 0.005 in row
// order).
struct MapSummary {
    int32_t boxX0 = -1, boxY0 = -1, boxX1 = -1, boxY1 = -1;
    uint32_t hash = 0;
};
MapSummary summarizeMap(const float* map, int width, int height);

// The first channel (alpha) of every pixel of a world of the given depth, row by row with the
// world's row bytes: 8 bits ÷ 255, 16 bits × 1/32768, 32 bits clamped to [0, 1] (NaN reads 0).
// False, with nothing written, for a null or unreadable world.
bool readWorldAlpha(const PF_EffectWorld& world, int bitsPerChannel, float* map);

// The placement fields of a layer map in composition pixels.
struct LayerPlacement {
    float posX = 0, posY = 0;
    float invScX = 1, invScY = 1;
    float ancX = 0, ancY = 0;
};

// The layer map resampled into a compWidth × compHeight map: every composition pixel is the mean
// of the 16 sub-samples (offsets 0.125 … 0.875) that land inside the layer map, 0 when none does.
// `out` holds compWidth × compHeight floats.
void resampleToComposition(const float* layerMap, int layerWidth, int layerHeight, const LayerPlacement& placement,
                           int compWidth, int compHeight, float* out);

// Reads the Source Layer's transform into the placement fields of `fs` (useLayerTransform 1 on
// success) and returns "none", or a failure tag ("prmr", "no_aegp_id", "get_effect_for_effect",
// "get_stream_by_index", "get_stream_value", "layer_id_zero", "no_parent_comp", "no_layer_from_id",
// "stream_read_fail", "scale_pathological", "exception") leaving the placement as it was.
// `isTextLayer` reports whether the chosen layer is a text layer (false when unknown).
std::string captureLayerPlacement(PF_InData* inData, float refScaleX, float refScaleY, FrameSettings& fs,
                                  bool* isTextLayer = nullptr, int64_t* layerId = nullptr);

// The Source Layer world of the frame: presence, size, placement, the emission map with its box and
// digest, the composition resample (through the cache) and the upload when the GPU is usable. A
// world whose pixels cannot be read (no buffer, rows shorter than their pixels, an unknown depth)
// leaves the source absent, as an empty world does; a map that cannot be allocated leaves it
// present without a digest or an upload.
void captureSourceLayerMap(PF_InData* inData, const PF_EffectWorld& source, const InstanceData& instance,
                           FrameSettings& fs);
// The Custom Map world of the frame: presence, size, map, digest and upload, with the same
// treatment of unreadable worlds and failed allocations.
void captureCustomMap(PF_InData* inData, const PF_EffectWorld& customMap, FrameSettings& fs);

// The composition-map cache, for set-down and the tests.
void releaseCompositionMapCache();
struct CompositionMapCacheStats {
    int builds = 0;  // resamples computed since the last reset
    int reuses = 0;  // frames served from the cache
};
CompositionMapCacheStats compositionMapCacheStats();
void resetCompositionMapCacheStats();

}  // namespace cindel
