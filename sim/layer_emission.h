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

// Enqueues one step of layer emission; `szG` is the step's source depth in grid cells and
// `fuelInject` the step's fuel. `fullRange` forces the whole grid (for the tests of the box).
//
// Two forms give the same grid to the last bit: cd_emit_from_layer alone, which evaluates a
// column's pattern and burn in every cell of its slab, and the two-pass form, which computes each
// column's weight once (cd_emit_layer_columns into the runtime's column weights) and then fills
// the slab from it (cd_emit_layer_slab). The two-pass form is used when its kernels and buffer
// exist. This overload creates them on first use (and grows the buffer with the grid), then
// enqueues as the one below.
void enqueueLayerEmission(GpuRuntime& rt, const FrameSettings& s, int frame, float szG, float fuelInject, float dt,
                          bool fullRange = false);
// Uses the two-pass form only when an earlier call made its kernels and a buffer large enough,
// else cd_emit_from_layer.
void enqueueLayerEmission(const GpuRuntime& rt, const FrameSettings& s, int frame, float szG, float fuelInject,
                          float dt, bool fullRange = false);

// Whether the two-pass form may be used (on by default). Off, every call enqueues
// cd_emit_from_layer alone; the tests compare both ways.
void setLayerEmissionTwoPassEnabled(bool on);

}  // namespace cindel
