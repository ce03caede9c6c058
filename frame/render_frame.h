// The smart-render handler: one frame request, from the host's time and parameters to pixels.
//
// renderFrame checks out the layers that pre-render announced (input 0, the Source Layer under 999
// or 5 as the instance data says, the Custom Map under 12) and the output, freezes every input of
// the frame into a FrameSettings record, derives the target frame from the host's time, and hands
// both to the simulation and the renderer; without a usable GPU it fills the output with opaque dark
// red instead. It returns the host's error only when the input or output checkout fails (or the host
// gave no way to check them out); every later failure is absorbed and the frame still succeeds.
#pragma once

#include <cstdint>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "host/instance_data.h"

namespace cindel {

PF_Err renderFrame(PF_InData* inData, PF_OutData* outData, PF_SmartRenderExtra* extra);

// What one frame checked out from the host. A source is null when it is absent for the frame: its
// checkout failed, or gave no world or an empty one.
struct FrameCheckout {
    PF_EffectWorld* output = nullptr;
    PF_EffectWorld* sourceLayer = nullptr;
    PF_EffectWorld* customMap = nullptr;
    InstanceData instance{};  // all zeros when the host keeps no readable instance data
};

// The checkouts of renderFrame, in its order: input, output, instance data, Source Layer (id 999
// when pre-render expanded it, else 5), Custom Map. Returns the host's error of the input or output
// checkout, PF_Err_BAD_CALLBACK_PARAM when the host gave no checkout callbacks or no output world,
// else PF_Err_NONE.
PF_Err checkoutFrame(PF_InData* inData, const PF_SmartRenderExtra* extra, FrameCheckout& frame);

// The snapshot of one frame: resets `fs` and fills it from the output size, the parameters, the
// histories of `timing.frameCount` frames and the checked-out sources, in the fill order.
void buildFrameSettings(PF_InData* inData, const FrameCheckout& frame, const FrameTiming& timing, FrameSettings& fs);

// Opaque dark red over every pixel, row by row with the world's row bytes; the no-GPU frame. Writes
// nothing to a world that output_write.h's isWritableWorld refuses. Returns whether it wrote.
bool fallbackFill(void* pixels, int width, int height, int rowBytes, int bitsPerChannel);

// Transparent black over every pixel, row by row, on the same terms: the frame of a host that
// asked for the volume only (host/volume_export.h), which is never ray-marched.
bool clearWorld(void* pixels, int width, int height, int rowBytes, int bitsPerChannel);

}  // namespace cindel
