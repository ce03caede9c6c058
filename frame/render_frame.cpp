// The frame driver. One call is one frame: checkouts, the FrameSettings snapshot, the host time to
// frame derivation, then the simulation and the renderer (or the no-GPU fill). Nothing survives the
// call here; the caches it feeds belong to the emitter and the continuity of the simulation to the
// simulation grid.
//
// A frame is always described from the start of the time line: the histories (Source Position,
// light tracks, Burn Progress) cover frames 0 ... current, capped at 600, and enter the simulation
// key through their digests, so the simulation can tell whether its held state still matches.
#include "frame/render_frame.h"

#include <cstring>

#include "emit/layer_capture.h"
#include "emit/map_upload.h"
#include "emit/mask_path.h"
#include "emit/source_position.h"
#include "frame/camera_lights.h"
#include "frame/digest.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "frame/output_write.h"
#include "frame/volume_export.h"
#include "gpu/gpu_runtime.h"
#include "render/render_volume.h"
#include "sim/step.h"
#include "host/instance_data.h"
#include "host/process_state.h"
#include "params/param_index.h"

namespace cindel {

namespace {

// Checkout ids shared with pre-render: the host matches each pixel checkout to the request that
// pre-render made under the same id.
constexpr A_long kInputCheckoutId = kParamInputLayer;
constexpr A_long kSourceCheckoutId = kParamSourceLayer;
constexpr A_long kExpandedSourceCheckoutId = 999;
constexpr A_long kCustomMapCheckoutId = kParamCustomMap;

// A layer the user did not choose comes back as a failed checkout or an empty world; both mean
// that source is absent for this frame, and no earlier map stands in for it.
PF_EffectWorld* checkoutOptionalLayer(PF_InData* inData, const PF_SmartRenderCallbacks* cb, A_long checkoutId) {
    PF_EffectWorld* world = nullptr;
    if (cb->checkout_layer_pixels(inData->effect_ref, checkoutId, &world) != PF_Err_NONE) return nullptr;
    return world && world->width > 0 && world->height > 0 ? world : nullptr;
}

// A copy of the instance data, taken under a lock that is released at once. Zeros (instance id 0,
// not expanded) when the host keeps none, cannot lock it, or keeps fewer bytes than the record.
InstanceData readInstanceData(PF_InData* inData) {
    InstanceData data{};
    const PF_UtilCallbacks* utils = inData->utils;
    PF_Handle handle = inData->sequence_data;
    if (!handle || !utils || !utils->host_lock_handle || !utils->host_unlock_handle) return data;
    if (utils->host_get_handle_size && utils->host_get_handle_size(handle) < sizeof(InstanceData)) return data;
    if (const auto* locked = static_cast<const InstanceData*>(utils->host_lock_handle(handle))) {
        data = *locked;
        utils->host_unlock_handle(handle);
    }
    return data;
}

// Up to four tracks of `frameCount` positions and their current entries; none when the lights
// cannot be read, and the Source Position table then drives the emitter.
int readLightTrackTables(PF_InData* inData, int frameCount, FrameSettings& fs) {
    return readLightTracks(inData, fs.lightSource, frameCount, fs);
}

// Steps of the emitter position: the current Source Position, then either the light tracks or the
// Source Position history, each with its digest.
void fillEmitterPosition(PF_InData* inData, const FrameTiming& timing, FrameSettings& fs) {
    const float scaleX = downsampleScale(inData->downsample_x);
    const float scaleY = downsampleScale(inData->downsample_y);
    readSourcePosition(inData, scaleX, scaleY, fs);

    const int frameCount = timing.frameCount;
    if (fs.lightSource > 1) {
        const int tracks = readLightTrackTables(inData, frameCount, fs);
        if (tracks >= 1) {
            fs.lightTrackCount = tracks;
            fs.lightTrackFrames = frameCount;
            fs.sourcePosition = {fs.lightCurrentX[0], fs.lightCurrentY[0], fs.lightCurrentZ[0]};
            uint32_t h = kFnv32Basis;
            for (int t = 0; t < tracks && t < kMaxLightTracks; ++t) {
                const int offset = t * kMaxHistoryFrames;
                h = hashTrajectory(h, fs.lightTrackX + offset, fs.lightTrackY + offset, fs.lightTrackZ + offset,
                                   frameCount);
            }
            fs.lightTrackHash = h;
            return;
        }
    }

    const int count = sampleSourcePositionTable(inData, frameCount, scaleX, scaleY, fs.trajectoryX, fs.trajectoryY,
                                                fs.trajectoryZ, fs.instanceId);
    fs.trajectoryCount = count;
    // Past frame 599 the emitter stays where it was at frame 599.
    fs.sourcePosition = {fs.trajectoryX[count - 1], fs.trajectoryY[count - 1], fs.trajectoryZ[count - 1]};
    fs.trajectoryHash = hashTrajectory(kFnv32Basis, fs.trajectoryX, fs.trajectoryY, fs.trajectoryZ, count);
}

// A camera that cannot be read stays invalid and the renderer uses its default view.
void fillCamera(PF_InData* inData, FrameSettings& fs) {
    readCamera(inData, fs);
}

// The emission sources, in the order in which the later one wins: Source Layer, then the mask path
// (both write the emission fields and the same GPU buffer), then the Custom Map.
void fillEmissionSources(PF_InData* inData, const FrameCheckout& frame, FrameSettings& fs) {
    // The map buffers outlive their frame. A map this frame could not build or upload must not be
    // stood in for by an earlier frame's (or another instance's) map still in the buffer: the
    // buffers keep their storage for reuse but count as holding nothing until an upload succeeds,
    // and the simulation then uses the volume source.
    forgetUploadedMaps(gpuRuntime());
    fs.sourceLayerPresent = 0;
    fs.emissionHash = 0;
    fs.emissionBoxX0 = fs.emissionBoxY0 = fs.emissionBoxX1 = fs.emissionBoxY1 = -1;
    if (const PF_EffectWorld* source = frame.sourceLayer) captureSourceLayerMap(inData, *source, frame.instance, fs);

    if (fs.pathEmitter == 1) {
        float* map = nullptr;
        int mapWidth = 0, mapHeight = 0;
        if (buildMaskPathMap(inData, inData->width, inData->height, &map, &mapWidth, &mapHeight)) {
            if (processState().gpuAvailable && gpuRuntime().ready) {
                uploadEmissionMap(&gpuRuntime(), map, mapWidth, mapHeight);
                fs.sourceLayerPresent = 1;
                fs.emissionWidth = mapWidth;
                fs.emissionHeight = mapHeight;
                // The strokes are drawn in composition pixels already: no placement, whatever the
                // source layer left behind.
                fs.useLayerTransform = 0;
                fs.layerPosX = fs.layerPosY = 0.0f;
                fs.layerInvScX = fs.layerInvScY = 1.0f;
                fs.layerAncX = fs.layerAncY = 0.0f;
                const MapSummary summary = summarizeMap(map, mapWidth, mapHeight);
                fs.emissionBoxX0 = summary.boxX0;
                fs.emissionBoxY0 = summary.boxY0;
                fs.emissionBoxX1 = summary.boxX1;
                fs.emissionBoxY1 = summary.boxY1;
                fs.emissionHash = summary.hash;
            }
            delete[] map;
        }
    }

    fs.customMapPresent = 0;
    fs.customMapHash = 0;
    if (const PF_EffectWorld* customMap = frame.customMap) captureCustomMap(inData, *customMap, fs);
}

// Brings the process-wide grid to the frame, then renders it into the output. The simulation's
// result is ignored: a grid that could not be stepped is still rendered as it stands. When the
// renderer writes nothing (its image buffer or the host copy could not be made, the read-back
// failed), the frame gets the no-GPU fill instead, so that it is never left holding whatever the
// host had in the buffer.
void renderOnGpu(const FrameTiming& timing, const FrameSettings& fs, PF_EffectWorld* output, int bitsPerChannel) {
    GpuRuntime& rt = gpuRuntime();
    stepSimulationToFrame(rt, timing.targetFrame, timing.frameDurationSeconds, fs);
    // Only a host that installed a volume sink pays for the read-back; it reads and changes nothing
    // the ray march uses.
    if (hasVolumeSink()) {
        exportHeldFields(rt, fs, timing.targetFrame);
        if (isVolumeOnly()) {
            clearWorld(output->data, output->width, output->height, output->rowbytes, bitsPerChannel);
            return;
        }
    }
    if (!renderVolume(rt, output->data, output->width, output->height, output->rowbytes, bitsPerChannel, fs)) {
        fallbackFill(output->data, output->width, output->height, output->rowbytes, bitsPerChannel);
    }
}

}  // namespace

bool fallbackFill(void* pixels, int width, int height, int rowBytes, int bitsPerChannel) {
    if (!isWritableWorld(pixels, width, height, rowBytes, bitsPerChannel)) return false;
    auto* base = static_cast<uint8_t*>(pixels);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = base + int64_t(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            switch (bitsPerChannel) {
                case 8:
                    reinterpret_cast<PF_Pixel*>(row)[x] = {255, 60, 0, 0};
                    break;
                case 16:
                    // 60 / 255 of the 16-bit full scale 32768, truncated.
                    reinterpret_cast<PF_Pixel16*>(row)[x] = {32768, 7710, 0, 0};
                    break;
                default:
                    reinterpret_cast<PF_PixelFloat*>(row)[x] = {1.0f, 60.0f / 255.0f, 0.0f, 0.0f};
                    break;
            }
        }
    }
    return true;
}

bool clearWorld(void* pixels, int width, int height, int rowBytes, int bitsPerChannel) {
    if (!isWritableWorld(pixels, width, height, rowBytes, bitsPerChannel)) return false;
    const size_t pixelBytes = size_t(bitsPerChannel / 2);  // four channels of 8, 16 or 32 bits
    auto* base = static_cast<uint8_t*>(pixels);
    for (int y = 0; y < height; ++y) std::memset(base + int64_t(y) * rowBytes, 0, pixelBytes * size_t(width));
    return true;
}

PF_Err checkoutFrame(PF_InData* inData, const PF_SmartRenderExtra* extra, FrameCheckout& frame) {
    frame = FrameCheckout{};
    // Without these the host has given no way to check anything out: a broken call, reported as such
    // rather than answered with an unwritten frame.
    if (!inData || !extra || !extra->cb || !extra->cb->checkout_layer_pixels || !extra->cb->checkout_output) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const PF_SmartRenderCallbacks* cb = extra->cb;

    // The input pixels are never read; the checkout keeps the host's protocol that pre-render began.
    PF_EffectWorld* input = nullptr;
    if (const PF_Err err = cb->checkout_layer_pixels(inData->effect_ref, kInputCheckoutId, &input)) return err;
    PF_EffectWorld* output = nullptr;
    if (const PF_Err err = cb->checkout_output(inData->effect_ref, &output)) return err;
    // A successful checkout without a world breaks the host's side of the call; saying so is better
    // than reporting success for a frame nobody could write.
    if (!output) return PF_Err_BAD_CALLBACK_PARAM;
    frame.output = output;

    frame.instance = readInstanceData(inData);
    frame.sourceLayer = checkoutOptionalLayer(
        inData, cb, frame.instance.sourceExpanded != 0 ? kExpandedSourceCheckoutId : kSourceCheckoutId);
    frame.customMap = checkoutOptionalLayer(inData, cb, kCustomMapCheckoutId);
    return PF_Err_NONE;
}

void buildFrameSettings(PF_InData* inData, const FrameCheckout& frame, const FrameTiming& timing, FrameSettings& fs) {
    resetFrameSettings(fs);
    if (!inData) return;
    fs.outputWidth = frame.output ? frame.output->width : 0;
    fs.outputHeight = frame.output ? frame.output->height : 0;
    fs.compWidth = inData->width;
    fs.compHeight = inData->height;
    readPositionParams(inData, fs);
    fs.instanceId = frame.instance.instanceId;
    fillEmitterPosition(inData, timing, fs);
    readRemainingParams(inData, timing.frameCount, fs);
    fillCamera(inData, fs);
    fillEmissionSources(inData, frame, fs);
}

PF_Err renderFrame(PF_InData* inData, PF_OutData* outData, PF_SmartRenderExtra* extra) {
    FrameCheckout frame;
    if (const PF_Err err = checkoutFrame(inData, extra, frame)) return err;
    PF_EffectWorld* output = frame.output;
    const int bitsPerChannel = worldBitsPerChannel(inData, outData, output);
    const FrameTiming timing = frameTiming(inData->current_time, inData->time_step, inData->time_scale);

    // About 40 KB with its tables; on the stack like the rest of the call, so nothing of a frame can
    // outlive it.
    FrameSettings fs;
    buildFrameSettings(inData, frame, timing, fs);

    if (processState().gpuAvailable && gpuRuntime().ready) {
        renderOnGpu(timing, fs, output, bitsPerChannel);
    } else {
        fallbackFill(output->data, output->width, output->height, output->rowbytes, bitsPerChannel);
    }
    return PF_Err_NONE;
}

}  // namespace cindel
