// The path emitter's stroke map. See mask_path.h.
//
// Host handles (masks, their outline streams and stream values) are given back by guards on every
// path out; the suites those guards call are acquired before the first handle exists, so a missing
// suite ends the build before anything needs giving back.
#include "emit/mask_path.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "AE_GeneralPlug.h"
#include "emit/host_handles.h"
#include "host/process_state.h"
#include "host/suite_handler.h"

namespace cindel {

namespace {

constexpr int kSamplesPerSegment = 16;
constexpr float kStrokeRadius = 5.0f;

// Layer pixels to map pixels. There is no render-scale term: the map is PF_InData's width ×
// height, which the host keeps at the layer's full size at every preview resolution, and the
// outlines and layer streams come from the AEGP suites in full-resolution pixels too. So the
// strokes lie on full-resolution composition pixels whatever the downsample factors say, the same
// pixels compWidth × compHeight maps onto the grid, and a preview at 1/2 or 1/4 emits (and keys the
// simulation) exactly as the full-resolution frame does.
struct LayerToMap {
    double sx = 1, sy = 1;  // layer scale as a factor
    double ox = 0, oy = 0;  // where layer pixel (0, 0) lands
};

// A double outside float's range has no float to convert to; NaN makes paintStroke skip the
// segments of that point instead.
float toMapCoordinate(double v) {
    return std::fabs(v) <= double(std::numeric_limits<float>::max()) ? float(v)
                                                                     : std::numeric_limits<float>::quiet_NaN();
}

enum class OutlineResult { Painted, Skipped, Failed };

// One mask's outline, sampled and painted. Failed ends the whole build.
OutlineResult paintMask(SuiteHandler& suites, AEGP_PluginID pluginId, AEGP_LayerH layer, A_long index,
                        const A_Time& compTime, const LayerToMap& xf, float* map, int width, int height) {
    const AEGP_MaskSuite6* masks = suites.layerMaskSuite7();
    const AEGP_StreamSuite6* streams = suites.streamSuite11();
    const AEGP_MaskOutlineSuite3* outlines = suites.maskOutlineSuite5();

    MaskGuard mask{masks};
    if (masks->AEGP_GetLayerMaskByIndex(layer, index, &mask.handle) != A_Err_NONE || !mask.handle) {
        return OutlineResult::Failed;
    }
    StreamGuard stream{streams};
    if (streams->AEGP_GetNewMaskStream(pluginId, mask.handle, AEGP_MaskStream_OUTLINE, &stream.handle) != A_Err_NONE ||
        !stream.handle) {
        return OutlineResult::Failed;
    }
    StreamValueGuard value{streams};
    if (streams->AEGP_GetNewStreamValue(pluginId, stream.handle, AEGP_LTimeMode_CompTime, &compTime, false,
                                        &value.value) != A_Err_NONE) {
        return OutlineResult::Failed;
    }
    value.isHeld = true;
    const AEGP_MaskOutlineValH outline = value.value.val.mask;
    if (!outline) return OutlineResult::Failed;

    A_Boolean isOpen = false;
    A_long segmentCount = 0;
    if (outlines->AEGP_IsMaskOutlineOpen(outline, &isOpen) != A_Err_NONE ||
        outlines->AEGP_GetMaskOutlineNumSegments(outline, &segmentCount) != A_Err_NONE) {
        return OutlineResult::Failed;
    }
    const int64_t vertexCount = int64_t(segmentCount) + (isOpen ? 1 : 0);
    if (vertexCount < 2) return OutlineResult::Skipped;
    const int64_t segments = isOpen ? vertexCount - 1 : vertexCount;

    std::vector<AEGP_MaskVertex> vertices(static_cast<size_t>(vertexCount));
    for (int64_t i = 0; i < vertexCount; ++i) {
        if (outlines->AEGP_GetMaskOutlineVertexInfo(outline, AEGP_VertexIndex(i), &vertices[size_t(i)]) != A_Err_NONE) {
            return OutlineResult::Failed;
        }
    }

    const size_t pointCount = size_t(segments) * kSamplesPerSegment;
    std::vector<float> xs(pointCount), ys(pointCount);
    double bx[kSamplesPerSegment], by[kSamplesPerSegment];
    for (int64_t s = 0; s < segments; ++s) {
        const AEGP_MaskVertex& a = vertices[size_t(s)];
        const AEGP_MaskVertex& b = vertices[size_t((s + 1) % vertexCount)];
        sampleBezierSegment(a.x, a.y, a.tan_out_x, a.tan_out_y, b.tan_in_x, b.tan_in_y, b.x, b.y, bx, by);
        for (int k = 0; k < kSamplesPerSegment; ++k) {
            const size_t p = size_t(s) * kSamplesPerSegment + size_t(k);
            xs[p] = toMapCoordinate(bx[k] * xf.sx + xf.ox);
            ys[p] = toMapCoordinate(by[k] * xf.sy + xf.oy);
        }
    }
    paintStroke(xs.data(), ys.data(), int(std::min<size_t>(pointCount, size_t(INT32_MAX))), !isOpen, map, width, height,
                kStrokeRadius);
    return OutlineResult::Painted;
}

bool buildWithSuites(PF_InData* inData, AEGP_PluginID pluginId, int width, int height, float** mapOut) {
    SuiteHandler suites(inData->pica_basicP);
    const AEGP_PFInterfaceSuite1* pf = suites.pfInterfaceSuite1();
    const AEGP_LayerSuite8* layers = suites.layerSuite14();
    const AEGP_StreamSuite6* streams = suites.streamSuite11();
    const AEGP_MaskSuite6* masks = suites.layerMaskSuite7();
    suites.maskOutlineSuite5();  // now, so that no handle is held when a missing suite throws

    AEGP_LayerH effectLayer = nullptr;
    A_Time compTime{0, 1};
    AEGP_LayerIDVal layerId = 0;
    AEGP_CompH comp = nullptr;
    AEGP_LayerH layer = nullptr;
    if (pf->AEGP_GetEffectLayer(inData->effect_ref, &effectLayer) != A_Err_NONE || !effectLayer ||
        pf->AEGP_ConvertEffectToCompTime(inData->effect_ref, inData->current_time, A_u_long(inData->time_scale),
                                         &compTime) != A_Err_NONE ||
        layers->AEGP_GetLayerID(effectLayer, &layerId) != A_Err_NONE ||
        layers->AEGP_GetLayerParentComp(effectLayer, &comp) != A_Err_NONE || !comp ||
        layers->AEGP_GetLayerFromLayerID(comp, layerId, &layer) != A_Err_NONE || !layer) {
        return false;
    }

    double posX = 0, posY = 0, scaleX = 100, scaleY = 100, ancX = 0, ancY = 0;
    if (!readLayerTwoD(streams, layer, AEGP_LayerStream_POSITION, compTime, posX, posY) ||
        !readLayerTwoD(streams, layer, AEGP_LayerStream_SCALE, compTime, scaleX, scaleY) ||
        !readLayerTwoD(streams, layer, AEGP_LayerStream_ANCHORPOINT, compTime, ancX, ancY)) {
        return false;
    }
    LayerToMap xf;
    xf.sx = scaleX / 100.0;
    xf.sy = scaleY / 100.0;
    // Rotation is not read: the outline keeps the layer's axes.
    xf.ox = posX - xf.sx * ancX;
    xf.oy = posY - xf.sy * ancY;

    A_long maskCount = 0;
    if (masks->AEGP_GetLayerNumMasks(layer, &maskCount) != A_Err_NONE || maskCount < 1) return false;

    std::unique_ptr<float[]> map(new (std::nothrow) float[size_t(width) * size_t(height)]());
    if (!map) return false;
    bool isAnyPainted = false;
    for (A_long i = 0; i < maskCount; ++i) {
        const OutlineResult r = paintMask(suites, pluginId, layer, i, compTime, xf, map.get(), width, height);
        if (r == OutlineResult::Failed) return false;
        isAnyPainted = isAnyPainted || r == OutlineResult::Painted;
    }
    if (!isAnyPainted) return false;
    *mapOut = map.release();
    return true;
}

struct StrokeTarget {
    float* map;
    int width, height;
    double r;
};

// Steps of at most one pixel: past this many the double step counter stops being exact.
constexpr double kMaxExactSteps = 1099511627776.0;  // 2^40

// One segment A -> B stepped at s / steps, s = 0 ... steps, steps = int(|B - A| + 1). A stepped
// point touches the map only while its pixel window [int(P - r), int(P + r)] meets 0 ... size - 1,
// i.e. inside (-1 - r, size + r) on both axes, so the step range is clipped to that box first: a
// segment far outside is never walked point by point. A segment too long for exact steps (only
// absurd coordinates make one) is replaced by its clipped part, stepped on its own.
void paintSegment(double ax, double ay, double bx, double by, const StrokeTarget& target, bool isClipped) {
    const double r = target.r;
    const double loX = -1.0 - r, hiX = target.width + r;
    const double loY = -1.0 - r, hiY = target.height + r;
    const double dx = bx - ax, dy = by - ay;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (!std::isfinite(len)) return;
    const double steps = std::floor(len + 1.0);

    // Liang-Barsky: the part of t in [0, 1] whose point lies in the box.
    double t0 = 0.0, t1 = 1.0;
    bool isVisible = true;
    const auto clip = [&](double p, double q) {
        if (p == 0.0) {
            if (q < 0.0) isVisible = false;
        } else if (p < 0.0) {
            t0 = std::max(t0, q / p);
        } else {
            t1 = std::min(t1, q / p);
        }
    };
    clip(-dx, ax - loX);
    clip(dx, hiX - ax);
    clip(-dy, ay - loY);
    clip(dy, hiY - ay);
    if (!isVisible || t0 > t1) return;
    if (steps > kMaxExactSteps) {
        if (!isClipped) paintSegment(ax + t0 * dx, ay + t0 * dy, ax + t1 * dx, ay + t1 * dy, target, true);
        return;
    }

    const int64_t sFirst = std::max<int64_t>(0, int64_t(std::floor(t0 * steps)) - 1);
    const int64_t sLast = std::min<int64_t>(int64_t(steps), int64_t(std::ceil(t1 * steps)) + 1);
    for (int64_t s = sFirst; s <= sLast; ++s) {
        const double t = steps > 0.0 ? double(s) / steps : 0.0;
        const double px = ax + t * dx, py = ay + t * dy;
        if (!(px > loX && px < hiX && py > loY && py < hiY)) continue;
        const int x0 = std::max(0, int(px - r)), x1 = std::min(target.width - 1, int(px + r));
        const int y0 = std::max(0, int(py - r)), y1 = std::min(target.height - 1, int(py + r));
        for (int y = y0; y <= y1; ++y) {
            float* row = target.map + size_t(y) * size_t(target.width);
            for (int x = x0; x <= x1; ++x) {
                const double ex = x - px, ey = y - py;
                const double d = std::sqrt(ex * ex + ey * ey);
                if (d <= r) row[x] = std::max(row[x], float(1.0 - d / r));
            }
        }
    }
}

}  // namespace

void sampleBezierSegment(double x0, double y0, double ox, double oy, double ix, double iy, double x1, double y1,
                         double* xs, double* ys) {
    const double p1x = x0 + ox, p1y = y0 + oy;
    const double p2x = x1 + ix, p2y = y1 + iy;
    for (int k = 0; k < kSamplesPerSegment; ++k) {
        const double t = k * 0.0625;
        const double u = 1.0 - t;
        const double b0 = u * u * u, b1 = 3.0 * u * u * t, b2 = 3.0 * u * t * t, b3 = t * t * t;
        xs[k] = b0 * x0 + b1 * p1x + b2 * p2x + b3 * x1;
        ys[k] = b0 * y0 + b1 * p1y + b2 * p2y + b3 * y1;
    }
}

void paintStroke(const float* xs, const float* ys, int count, bool closed, float* map, int width, int height,
                 float radius) {
    if (!xs || !ys || !map || count < 2 || width <= 0 || height <= 0) return;
    if (!(radius > 0.0f) || !std::isfinite(radius)) return;
    const StrokeTarget target{map, width, height, radius};
    const int segments = closed ? count : count - 1;
    for (int i = 0; i < segments; ++i) {
        const int j = (i + 1) % count;
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i]) || !std::isfinite(xs[j]) || !std::isfinite(ys[j])) continue;
        paintSegment(xs[i], ys[i], xs[j], ys[j], target, false);
    }
}

bool buildMaskPathMap(PF_InData* inData, int width, int height, float** mapOut, int* mapW, int* mapH) {
    if (!mapOut) return false;
    *mapOut = nullptr;
    if (!inData || width <= 0 || height <= 0) return false;
    if (isPremiere(inData)) return false;
    const AEGP_PluginID pluginId = processState().aegpPluginId;
    if (pluginId == 0) return false;
    // A missing suite throws from the handler, and per-outline arrays may not fit: either way there
    // is no mask emission this frame, and the frame goes on.
    try {
        if (!buildWithSuites(inData, pluginId, width, height, mapOut)) return false;
    } catch (...) {
        return false;
    }
    if (mapW) *mapW = width;
    if (mapH) *mapH = height;
    return true;
}

}  // namespace cindel
