// Source Layer and Custom Map capture. See layer_capture.h.
//
// Host maps live for one frame: they are allocated here without throwing (a layer too large for
// memory is skipped, not fatal) and freed before the call returns. The only map that survives a
// frame is the composition-map cache below.
#include "emit/layer_capture.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "emit/host_handles.h"
#include "emit/map_upload.h"
#include "frame/digest.h"
#include "frame/output_write.h"
#include "gpu/gpu_runtime.h"
#include "host/log.h"
#include "host/process_state.h"
#include "host/suite_handler.h"
#include "params/param_index.h"

namespace cindel {

namespace {

// Values at or below this count as empty for boxes and digests: 8-bit alpha 1 (0.0039) is noise
// from antialiasing or a premultiplied edge, 2 is already content.
constexpr float kEmptyThreshold = 0.005f;
constexpr float kSubSampleOffsets[4] = {0.125f, 0.375f, 0.625f, 0.875f};
// Beyond these a layer is mirrored (negative), collapsed or so enlarged that one layer pixel
// covers the composition; its inverse scale would be useless or infinite.
constexpr double kMinScalePercent = 0.01;
constexpr double kMaxScalePercent = 10000.0;

// The map digests and the cache key hash whole 32-bit words, not bytes.
constexpr uint32_t fnvWord(uint32_t h, uint32_t word) {
    return (h ^ word) * kFnv32Prime;
}

// int(v) with the saturation the cast lacks: digests of maps from any source (the 16-bit path is
// not clamped) must never meet an undefined conversion.
int32_t truncToInt(float v) {
    if (!(v > -2147483520.0f)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483520.0f) return INT32_MAX;
    return int32_t(v);
}

std::unique_ptr<float[]> allocateMap(int width, int height, bool zeroed) {
    if (width <= 0 || height <= 0) return nullptr;
    const size_t count = size_t(width) * size_t(height);
    return std::unique_ptr<float[]>(zeroed ? new (std::nothrow) float[count]() : new (std::nothrow) float[count]);
}

bool gpuUsable() {
    return processState().gpuAvailable && gpuRuntime().ready;
}

struct CompositionMapCache {
    float* map = nullptr;
    int width = 0, height = 0;
    MapSummary box;
    uint32_t key = 0;
    bool isValid = false;
    CompositionMapCacheStats stats;
};

CompositionMapCache gCompCache;

void freeCacheMap() {
    delete[] gCompCache.map;
    gCompCache.map = nullptr;
    gCompCache.width = gCompCache.height = 0;
    gCompCache.isValid = false;
}

uint32_t compositionKey(uint64_t instanceId, int64_t layerId, const FrameSettings& fs, int layerWidth, int layerHeight,
                        uint32_t layerHash) {
    uint32_t h = kFnv32Basis;
    h = fnvWord(h, uint32_t(instanceId));
    h = fnvWord(h, uint32_t(instanceId >> 32));
    // The host's layer id is 32 bits; its high word is the sign extension.
    const int64_t id = int64_t(int32_t(layerId));
    h = fnvWord(h, uint32_t(uint64_t(id)));
    h = fnvWord(h, uint32_t(uint64_t(id) >> 32));
    for (float v : {fs.layerPosX, fs.layerPosY, fs.layerInvScX, fs.layerInvScY, fs.layerAncX, fs.layerAncY}) {
        h = fnvWord(h, std::bit_cast<uint32_t>(v));
    }
    h = fnvWord(h, uint32_t(fs.compWidth));
    h = fnvWord(h, uint32_t(fs.compHeight));
    h = fnvWord(h, uint32_t(layerWidth));
    h = fnvWord(h, uint32_t(layerHeight));
    return fnvWord(h, layerHash);
}

// The resample result enters the cache; the frame keeps using its own copy whatever happens here.
void storeInCache(const float* compMap, int width, int height, const MapSummary& box, uint32_t key) {
    if (!gCompCache.map || gCompCache.width != width || gCompCache.height != height) {
        freeCacheMap();
        gCompCache.map = new (std::nothrow) float[size_t(width) * size_t(height)];
        if (!gCompCache.map) return;
        gCompCache.width = width;
        gCompCache.height = height;
    }
    std::memcpy(gCompCache.map, compMap, size_t(width) * size_t(height) * sizeof(float));
    gCompCache.box = box;
    gCompCache.key = key;
    gCompCache.isValid = true;
}

void setIdentityPlacement(FrameSettings& fs) {
    fs.useLayerTransform = 0;
    fs.layerPosX = fs.layerPosY = 0.0f;
    fs.layerInvScX = fs.layerInvScY = 1.0f;
    fs.layerAncX = fs.layerAncY = 0.0f;
}

void setBox(FrameSettings& fs, const MapSummary& s) {
    fs.emissionBoxX0 = s.boxX0;
    fs.emissionBoxY0 = s.boxY0;
    fs.emissionBoxX1 = s.boxX1;
    fs.emissionBoxY1 = s.boxY1;
}

// ---- Diagnostics. They read the maps, never change them, and go to the log hook, which drops
// them unless a host installed a sink.

uint32_t gLastPreviewHash = 0;
bool gHasPreviewed = false;

void logPreview(const float* map, int width, int height) {
    constexpr int kCells = 64;
    char row[kCells + 1];
    for (int cy = 0; cy < kCells; ++cy) {
        const int y0 = int(int64_t(cy) * height / kCells),
                  y1 = std::max(y0 + 1, int(int64_t(cy + 1) * height / kCells));
        for (int cx = 0; cx < kCells; ++cx) {
            const int x0 = int(int64_t(cx) * width / kCells),
                      x1 = std::max(x0 + 1, int(int64_t(cx + 1) * width / kCells));
            double sum = 0.0;
            int n = 0;
            for (int y = y0; y < std::min(y1, height); ++y) {
                for (int x = x0; x < std::min(x1, width); ++x, ++n) sum += map[size_t(y) * size_t(width) + size_t(x)];
            }
            const double avg = n > 0 ? sum / n : 0.0;
            row[cx] = avg < 0.005 ? ' ' : avg < 0.25 ? '.' : avg < 0.5 ? ':' : avg < 0.75 ? 'o' : '#';
        }
        row[kCells] = '\0';
        logLine("  |%s|\n", row);
    }
}

// What the resample sees at a few composition points, with the placement as captured.
void logProbes(const float* layerMap, int layerWidth, int layerHeight, const LayerPlacement& p, int compWidth,
               int compHeight) {
    struct Probe {
        const char* name;
        float fx, fy;
    };
    constexpr Probe kProbes[] = {{"center", 0.5f, 0.5f},
                                 {"top-left", 0.25f, 0.25f},
                                 {"top-right", 0.75f, 0.25f},
                                 {"center-low", 0.5f, 0.75f},
                                 {"center-high", 0.5f, 0.25f}};
    for (const Probe& probe : kProbes) {
        const float cx = std::floor(probe.fx * compWidth), cy = std::floor(probe.fy * compHeight);
        int n = 0;
        float sum = 0.0f;
        for (float sy : kSubSampleOffsets) {
            for (float sx : kSubSampleOffsets) {
                const float lxf = (cx + sx - p.posX) * p.invScX + p.ancX;
                const float lyf = (cy + sy - p.posY) * p.invScY + p.ancY;
                if (lxf > -1.0f && lxf < float(layerWidth) && lyf > -1.0f && lyf < float(layerHeight)) {
                    sum += layerMap[size_t(int(lyf)) * size_t(layerWidth) + size_t(int(lxf))];
                    ++n;
                }
            }
        }
        const float avg = n > 0 ? sum / float(n) : 0.0f;
        logLine("    [%s] comp(%.0f,%.0f) -> layer(%.1f,%.1f)  ss_n=%d  AVG=%.4f  %s\n", probe.name, double(cx),
                double(cy), double((cx + 0.5f - p.posX) * p.invScX + p.ancX),
                double((cy + 0.5f - p.posY) * p.invScY + p.ancY), n, double(avg),
                avg > kEmptyThreshold ? "[EMIT]" : "<SKIP>");
    }
}

// ---- Placement. Every host handle the placement obtains is given back by these guards; the
// suites they need are acquired before the handle exists, so giving it back cannot throw.

// Far beyond any composition, and inside float's range once scaled: the placement fields are
// floats, and a double beyond their range has no float to become.
bool readTwoD(const AEGP_StreamSuite6* streams, AEGP_LayerH layer, AEGP_LayerStream which, const A_Time& compTime,
              double& x, double& y) {
    constexpr double kMaxCoordinate = 1e15;
    return readLayerTwoD(streams, layer, which, compTime, x, y) && std::fabs(x) <= kMaxCoordinate &&
           std::fabs(y) <= kMaxCoordinate;
}

// Writes the placement fields only once every read has succeeded, so a failure or a throw leaves
// them as they were.
std::string readPlacement(PF_InData* inData, float refScaleX, float refScaleY, FrameSettings& fs, bool* isTextLayer,
                          int64_t* layerIdOut) {
    const AEGP_PluginID pluginId = processState().aegpPluginId;
    SuiteHandler suites(inData->pica_basicP);
    const AEGP_PFInterfaceSuite1* pf = suites.pfInterfaceSuite1();
    const AEGP_StreamSuite6* streams = suites.streamSuite11();
    const AEGP_LayerSuite8* layers = suites.layerSuite14();
    EffectGuard effect{suites.effectSuite4()};

    if (pf->AEGP_GetNewEffectForEffect(pluginId, inData->effect_ref, &effect.handle) != A_Err_NONE || !effect.handle) {
        return "get_effect_for_effect";
    }
    AEGP_LayerIDVal layerId = 0;
    {
        StreamGuard stream{streams};
        if (streams->AEGP_GetNewEffectStreamByIndex(pluginId, effect.handle, kParamSourceLayer, &stream.handle) !=
                A_Err_NONE ||
            !stream.handle) {
            return "get_stream_by_index";
        }
        // The effect's own time is its layer's time; the parameter is read there.
        const A_Time effectTime{inData->current_time, inData->time_scale};
        StreamValueGuard value{streams};
        if (streams->AEGP_GetNewStreamValue(pluginId, stream.handle, AEGP_LTimeMode_LayerTime, &effectTime, false,
                                            &value.value) != A_Err_NONE) {
            return "get_stream_value";
        }
        value.isHeld = true;
        layerId = value.value.val.layer_id;
    }
    if (layerIdOut) *layerIdOut = layerId;
    if (layerId == 0) return "layer_id_zero";

    AEGP_LayerH effectLayer = nullptr;
    AEGP_CompH comp = nullptr;
    if (pf->AEGP_GetEffectLayer(inData->effect_ref, &effectLayer) != A_Err_NONE || !effectLayer ||
        layers->AEGP_GetLayerParentComp(effectLayer, &comp) != A_Err_NONE || !comp) {
        return "no_parent_comp";
    }
    AEGP_LayerH layer = nullptr;
    if (layers->AEGP_GetLayerFromLayerID(comp, layerId, &layer) != A_Err_NONE || !layer) return "no_layer_from_id";

    A_Time compTime{0, 1};
    double posX = 0, posY = 0, scaleX = 0, scaleY = 0, ancX = 0, ancY = 0;
    if (pf->AEGP_ConvertEffectToCompTime(inData->effect_ref, inData->current_time, A_u_long(inData->time_scale),
                                         &compTime) != A_Err_NONE ||
        !readTwoD(streams, layer, AEGP_LayerStream_POSITION, compTime, posX, posY) ||
        !readTwoD(streams, layer, AEGP_LayerStream_SCALE, compTime, scaleX, scaleY) ||
        !readTwoD(streams, layer, AEGP_LayerStream_ANCHORPOINT, compTime, ancX, ancY)) {
        return "stream_read_fail";
    }
    const auto isSane = [](double s) { return s >= kMinScalePercent && s <= kMaxScalePercent; };
    if (!isSane(scaleX) || !isSane(scaleY)) return "scale_pathological";

    AEGP_ObjectType type = AEGP_ObjectType_NONE;
    if (isTextLayer) {
        *isTextLayer = layers->AEGP_GetLayerObjectType(layer, &type) == A_Err_NONE && type == AEGP_ObjectType_TEXT;
    }
    fs.useLayerTransform = 1;
    fs.layerPosX = float(posX);
    fs.layerPosY = float(posY);
    fs.layerInvScX = float((100.0 / scaleX) * refScaleX);
    fs.layerInvScY = float((100.0 / scaleY) * refScaleY);
    fs.layerAncX = float(ancX * refScaleX);
    fs.layerAncY = float(ancY * refScaleY);
    return "none";
}

}  // namespace

MapSummary summarizeMap(const float* map, int width, int height) {
    MapSummary s;
    uint32_t h = kFnv32Basis;
    h = fnvWord(h, uint32_t(width));
    h = fnvWord(h, uint32_t(height));
    if (map && width > 0 && height > 0) {
        for (int y = 0; y < height; ++y) {
            const float* row = map + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                const float v = row[x];
                if (!(v > kEmptyThreshold)) continue;
                if (s.boxX0 < 0) {
                    s.boxX0 = s.boxX1 = x;
                    s.boxY0 = y;
                } else {
                    s.boxX0 = std::min(s.boxX0, x);
                    s.boxX1 = std::max(s.boxX1, x);
                }
                s.boxY1 = y;
                h = fnvWord(h, uint32_t(x));
                h = fnvWord(h, uint32_t(y));
                h = fnvWord(h, uint32_t(truncToInt(v * 255.0f)));
            }
        }
    }
    s.hash = h;
    return s;
}

bool readWorldAlpha(const PF_EffectWorld& world, int bitsPerChannel, float* map) {
    if (!map || !isWritableWorld(world.data, world.width, world.height, world.rowbytes, bitsPerChannel)) return false;
    const auto* base = reinterpret_cast<const uint8_t*>(world.data);
    for (int y = 0; y < world.height; ++y) {
        const uint8_t* row = base + int64_t(y) * world.rowbytes;
        float* out = map + size_t(y) * size_t(world.width);
        switch (bitsPerChannel) {
            case 8:
                for (int x = 0; x < world.width; ++x) out[x] = reinterpret_cast<const PF_Pixel*>(row)[x].alpha / 255.0f;
                break;
            case 16:
                for (int x = 0; x < world.width; ++x) {
                    out[x] = reinterpret_cast<const PF_Pixel16*>(row)[x].alpha * (1.0f / 32768.0f);
                }
                break;
            default:
                for (int x = 0; x < world.width; ++x) {
                    const float a = reinterpret_cast<const PF_PixelFloat*>(row)[x].alpha;
                    // fmin/fmax return the non-NaN operand, so NaN lands on 0.
                    out[x] = std::fmin(std::fmax(a, 0.0f), 1.0f);
                }
                break;
        }
    }
    return true;
}

void resampleToComposition(const float* layerMap, int layerWidth, int layerHeight, const LayerPlacement& placement,
                           int compWidth, int compHeight, float* out) {
    if (!out || compWidth <= 0 || compHeight <= 0) return;
    const size_t compCount = size_t(compWidth) * size_t(compHeight);
    std::fill(out, out + compCount, 0.0f);
    if (!layerMap || layerWidth <= 0 || layerHeight <= 0) return;

    // A sub-sample's layer column depends only on its composition column and x offset (rows
    // likewise), so both are computed once: -1 marks one outside the layer. A truncated value is
    // inside exactly when the float lies in (-1, size): truncation toward zero sends (-1, 0) to
    // column 0, and the test also keeps NaN and huge values away from the conversion.
    //
    // Inside-ness is separable too, so a pixel's mean is (sum over its valid rows of the row's sum
    // over its valid columns) / (valid rows × valid columns). The per-row column sums are kept for
    // a few layer rows, since neighbouring composition rows mostly read the same layer rows: about
    // 4 reads per pixel instead of 16.
    constexpr int kRowSlots = 8;
    const size_t cw = size_t(compWidth);
    auto columns = std::unique_ptr<int[]>(new (std::nothrow) int[cw * 4]);
    auto columnCounts = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[cw]);
    auto rowSums = std::unique_ptr<float[]>(new (std::nothrow) float[cw * kRowSlots]);
    if (!columns || !columnCounts || !rowSums) return;
    for (int cx = 0; cx < compWidth; ++cx) {
        uint8_t n = 0;
        for (int k = 0; k < 4; ++k) {
            const float lx = (float(cx) + kSubSampleOffsets[k] - placement.posX) * placement.invScX + placement.ancX;
            const bool isInside = lx > -1.0f && lx < float(layerWidth);
            columns[size_t(cx) * 4 + size_t(k)] = isInside ? int(lx) : -1;
            n = uint8_t(n + (isInside ? 1 : 0));
        }
        columnCounts[size_t(cx)] = n;
    }

    int slotRow[kRowSlots], slotUse[kRowSlots];
    std::fill(slotRow, slotRow + kRowSlots, -1);
    std::fill(slotUse, slotUse + kRowSlots, -1);
    for (int cy = 0; cy < compHeight; ++cy) {
        const float* sums[4];
        int validRows = 0;
        for (int k = 0; k < 4; ++k) {
            const float ly = (float(cy) + kSubSampleOffsets[k] - placement.posY) * placement.invScY + placement.ancY;
            if (!(ly > -1.0f && ly < float(layerHeight))) continue;
            const int row = int(ly);
            int slot = -1;
            for (int i = 0; i < kRowSlots && slot < 0; ++i)
                if (slotRow[i] == row) slot = i;
            if (slot < 0) {
                // The least recently used slot; at most 4 are in use for this row, so it is free.
                slot = 0;
                for (int i = 1; i < kRowSlots; ++i)
                    if (slotUse[i] < slotUse[slot]) slot = i;
                float* dst = &rowSums[size_t(slot) * cw];
                const float* src = layerMap + size_t(row) * size_t(layerWidth);
                for (size_t cx = 0; cx < cw; ++cx) {
                    const int* c = &columns[cx * 4];
                    float sum = 0.0f;
                    for (int i = 0; i < 4; ++i)
                        if (c[i] >= 0) sum += src[c[i]];
                    dst[cx] = sum;
                }
                slotRow[slot] = row;
            }
            slotUse[slot] = cy;
            sums[validRows++] = &rowSums[size_t(slot) * cw];
        }
        if (validRows == 0) continue;
        float* outRow = out + size_t(cy) * cw;
        for (size_t cx = 0; cx < cw; ++cx) {
            const int n = validRows * columnCounts[cx];
            if (n == 0) continue;
            float sum = 0.0f;
            for (int j = 0; j < validRows; ++j) sum += sums[j][cx];
            outRow[cx] = sum / float(n);
        }
    }
}

std::string captureLayerPlacement(PF_InData* inData, float refScaleX, float refScaleY, FrameSettings& fs,
                                  bool* isTextLayer, int64_t* layerId) {
    if (isTextLayer) *isTextLayer = false;
    if (layerId) *layerId = 0;
    if (!inData) return "exception";
    if (isPremiere(inData)) return "prmr";
    if (processState().aegpPluginId == 0) return "no_aegp_id";
    // A missing suite throws from the handler; the placement is an optional refinement, so any
    // failure inside it leaves the centred mapping rather than failing the frame.
    try {
        return readPlacement(inData, refScaleX, refScaleY, fs, isTextLayer, layerId);
    } catch (...) {
        if (isTextLayer) *isTextLayer = false;
        return "exception";
    }
}

void captureSourceLayerMap(PF_InData* inData, const PF_EffectWorld& source, const InstanceData& instance,
                           FrameSettings& fs) {
    const int width = source.width, height = source.height;
    const int bits = worldBitsPerChannel(inData, nullptr, &source);
    // Pixels that cannot be read safely (no buffer, rows shorter than their pixels) make the world
    // as absent as an empty one.
    if (!isWritableWorld(source.data, width, height, source.rowbytes, bits)) return;

    fs.sourceLayerPresent = 1;
    fs.emissionWidth = width;
    fs.emissionHeight = height;
    setIdentityPlacement(fs);

    const float refScaleX = instance.sourceRefWidth > 0 ? float(width) / float(instance.sourceRefWidth) : 1.0f;
    const float refScaleY = instance.sourceRefHeight > 0 ? float(height) / float(instance.sourceRefHeight) : 1.0f;

    bool isText = false;
    int64_t layerId = 0;
    const std::string fail = captureLayerPlacement(inData, refScaleX, refScaleY, fs, &isText, &layerId);
    if (fs.useLayerTransform == 1 && (isText || instance.sourceOriginX != 0 || instance.sourceOriginY != 0)) {
        // A text layer's or an expanded layer's pixels do not start at the layer's own origin: the
        // checkout already lies in the effect layer's space, offset by the origin pre-render saw.
        fs.layerPosX = float(instance.sourceOriginX);
        fs.layerPosY = float(instance.sourceOriginY);
        fs.layerInvScX = fs.layerInvScY = 1.0f;
        fs.layerAncX = fs.layerAncY = 0.0f;
    }
    logLine(
        "[LAYER] useLT=%d expanded=%d fail=%s pickedID=%lld posX=%.1f posY=%.1f invScX=%.3f invScY=%.3f "
        "ancX=%.1f ancY=%.1f srcRect=(%d,%d) refWH=%d/%d refScale=%.3f/%.3f text=%d layerWH=%d/%d "
        "trueCompWH=%d/%d inDataWH=%d/%d\n",
        fs.useLayerTransform, instance.sourceExpanded != 0 ? 1 : 0, fail.c_str(), (long long)layerId,
        double(fs.layerPosX), double(fs.layerPosY), double(fs.layerInvScX), double(fs.layerInvScY),
        double(fs.layerAncX), double(fs.layerAncY), int(instance.sourceOriginX), int(instance.sourceOriginY),
        int(instance.sourceRefWidth), int(instance.sourceRefHeight), double(refScaleX), double(refScaleY),
        isText ? 1 : 0, width, height, int(fs.compWidth), int(fs.compHeight), inData ? int(inData->width) : 0,
        inData ? int(inData->height) : 0);

    std::unique_ptr<float[]> layerMap = allocateMap(width, height, false);
    if (!layerMap) return;
    readWorldAlpha(source, bits, layerMap.get());
    const MapSummary layerSummary = summarizeMap(layerMap.get(), width, height);
    setBox(fs, layerSummary);
    fs.emissionHash = layerSummary.hash;

    const LayerPlacement placement{fs.layerPosX,   fs.layerPosY, fs.layerInvScX,
                                   fs.layerInvScY, fs.layerAncX, fs.layerAncY};
    const float* upload = layerMap.get();
    int uploadWidth = width, uploadHeight = height;
    std::unique_ptr<float[]> compMap;
    if (fs.useLayerTransform == 1 && fs.compWidth > 0 && fs.compHeight > 0) {
        const int compW = fs.compWidth, compH = fs.compHeight;
        const uint32_t key = compositionKey(instance.instanceId, layerId, fs, width, height, layerSummary.hash);
        bool isResampled = false;
        if (gCompCache.isValid && gCompCache.map && gCompCache.key == key && gCompCache.width == compW &&
            gCompCache.height == compH) {
            upload = gCompCache.map;
            setBox(fs, gCompCache.box);
            ++gCompCache.stats.reuses;
            isResampled = true;
        } else if ((compMap = allocateMap(compW, compH, true))) {
            resampleToComposition(layerMap.get(), width, height, placement, compW, compH, compMap.get());
            MapSummary box = summarizeMap(compMap.get(), compW, compH);
            box.hash = 0;  // only the box is kept: the digest stays the layer map's
            setBox(fs, box);
            ++gCompCache.stats.builds;
            storeInCache(compMap.get(), compW, compH, box, key);
            upload = compMap.get();
            isResampled = true;
        }
        if (isResampled) {
            uploadWidth = compW;
            uploadHeight = compH;
            fs.emissionWidth = compW;
            fs.emissionHeight = compH;
            setIdentityPlacement(fs);
        }
    }

    if (!gHasPreviewed || gLastPreviewHash != fs.emissionHash) {
        gHasPreviewed = true;
        gLastPreviewHash = fs.emissionHash;
        logPreview(upload, uploadWidth, uploadHeight);
        logProbes(layerMap.get(), width, height, placement, fs.compWidth, fs.compHeight);
    }

    if (gpuUsable()) uploadEmissionMap(&gpuRuntime(), upload, uploadWidth, uploadHeight);
}

void captureCustomMap(PF_InData* inData, const PF_EffectWorld& customMap, FrameSettings& fs) {
    const int width = customMap.width, height = customMap.height;
    const int bits = worldBitsPerChannel(inData, nullptr, &customMap);
    if (!isWritableWorld(customMap.data, width, height, customMap.rowbytes, bits)) return;
    fs.customMapPresent = 1;
    fs.customMapWidth = width;
    fs.customMapHeight = height;
    std::unique_ptr<float[]> map = allocateMap(width, height, false);
    if (!map) return;
    readWorldAlpha(customMap, bits, map.get());
    fs.customMapHash = summarizeMap(map.get(), width, height).hash;
    if (gpuUsable()) uploadCustomMap(&gpuRuntime(), map.get(), width, height);
}

void releaseCompositionMapCache() {
    freeCacheMap();
    gCompCache.box = MapSummary{};
    gCompCache.key = 0;
    gHasPreviewed = false;
    gLastPreviewHash = 0;
}

CompositionMapCacheStats compositionMapCacheStats() {
    return gCompCache.stats;
}

void resetCompositionMapCacheStats() {
    gCompCache.stats = CompositionMapCacheStats{};
}

}  // namespace cindel
