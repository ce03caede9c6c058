// Host side of the layer emission: every grid column whose projection onto the composition falls
// on an opaque pixel of the uploaded emission map receives heat and fuel in a slab around the
// source depth, shaped by the pattern and revealed by the burn mode.
#pragma once

#include "frame/frame_settings.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

// The dispatch box in grid cells: x in [x0, x1), y in [y0, y1), all of z. The full grid when the
// settings carry no opaque box or no map size, or when the reduced box would be empty.
struct LayerEmissionBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
LayerEmissionBox layerEmissionBox(const FrameSettings& s, int N);

// True when the frame has a source layer and the runtime holds an uploaded emission map.
bool canEmitFromLayer(const GpuRuntime& rt, const FrameSettings& s);

// Burn Progress of a frame: the per-frame curve when present (index min(frame, count − 1)),
// else the constant.
float burnProgressAt(const FrameSettings& s, int frame);

// Enqueues cd_emit_from_layer for one step; `szG` is the step's source depth in grid cells and
// `fuelInject` the step's fuel. `fullRange` forces the whole grid (for the tests of the box).
void enqueueLayerEmission(const GpuRuntime& rt, const FrameSettings& s, int frame, float szG, float fuelInject,
                          float dt, bool fullRange = false);

}  // namespace cindel
