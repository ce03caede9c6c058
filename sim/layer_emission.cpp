// Host side of the layer emission. See layer_emission.h. The launch binds every value the kernel
// takes from the frame's settings and the runtime's uploaded maps; the dispatch box is the map's
// opaque rectangle in grid columns, with a margin, when that rectangle is known and provably holds
// every column that can emit.
#include "sim/layer_emission.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "gpu/buffers.h"
#include "gpu/launch.h"

namespace cindel {

namespace {

// Cells added on each side of the opaque rectangle: the bilinear footprint and the gradient
// patterns reach past the last opaque pixel.
constexpr int kBoxMarginCells = 4;
// A composition size that is not positive counts as HD, as in the step's grid mapping.
constexpr int kFallbackCompWidth = 1920;
constexpr int kFallbackCompHeight = 1080;
// The kernel's own cut-off below which a layer scale counts as 1.
constexpr float kMinLayerScale = 0.001f;

bool gTwoPassEnabled = true;

size_t columnWeightBytes(int N) { return static_cast<size_t>(N) * static_cast<size_t>(N) * sizeof(float); }

// The two-pass form needs both kernels and a weight per column of the grid; the runtime's own
// overload makes them, this one only finds them.
bool twoPassAvailable(const GpuRuntime& rt) {
    return gTwoPassEnabled && rt.grid.N > 0 && rt.auxKernel(AuxKernel::EmitLayerColumns) &&
           rt.auxKernel(AuxKernel::EmitLayerSlab) && rt.layerColumnWeights.handle &&
           rt.layerColumnWeights.capacity >= columnWeightBytes(rt.grid.N);
}

int compWidthOf(const FrameSettings& s) {
    return s.compWidth > 0 ? s.compWidth : kFallbackCompWidth;
}
int compHeightOf(const FrameSettings& s) {
    return s.compHeight > 0 ? s.compHeight : kFallbackCompHeight;
}

bool hasOpaqueBox(const FrameSettings& s) {
    return s.emissionBoxX0 >= 0 && s.emissionBoxY0 >= 0 && s.emissionBoxX1 >= s.emissionBoxX0 &&
           s.emissionBoxY1 >= s.emissionBoxY0 && s.emissionWidth > 0 && s.emissionHeight > 0;
}

// [lo, hi) of one axis: the box formula of the opaque rectangle [p0, p1] of a map of `mapSize`.
void boxAxis(int p0, int p1, int mapSize, int N, int& lo, int& hi) {
    const float size = static_cast<float>(mapSize);
    const float n = static_cast<float>(N);
    lo = std::max(static_cast<int>(static_cast<float>(p0) / size * n) - kBoxMarginCells, 0);
    hi = std::min(static_cast<int>(static_cast<float>(p1 + 1) / size * n) + kBoxMarginCells, N);
}

// The kernel maps a column's composition coordinate c to the map coordinate (c − origin) × scale +
// offset, one axis at a time.
struct AxisMapping {
    double origin, scale, offset;
};

// Whether [lo, hi) holds every column whose map coordinate can reach an opaque pixel of [p0, p1].
// The box formula assumes a composition-sized map placed one to one, which a layer scale, a
// captured placement or a map of another size breaks; there the box would cut emission off. Two
// pixels of slack on each side cover the bilinear footprint and the kernel's float rounding.
bool boxCoversAxis(int lo, int hi, int p0, int p1, const AxisMapping& m, int compSize, int N) {
    if (!(m.scale > 0.0) || !std::isfinite(m.scale)) return false;
    const double perCell = static_cast<double>(compSize) / static_cast<double>(N);
    const double compLo = (static_cast<double>(p0) - 2.0 - m.offset) / m.scale + m.origin;
    const double compHi = (static_cast<double>(p1) + 3.0 - m.offset) / m.scale + m.origin;
    // A column x sits at composition coordinate (x + 0.5) × perCell.
    const double needLo = std::floor(compLo / perCell - 0.5);
    const double needHi = std::ceil(compHi / perCell - 0.5);
    if (!std::isfinite(needLo) || !std::isfinite(needHi)) return false;
    return static_cast<double>(lo) <= std::max(needLo, 0.0) && static_cast<double>(hi) >= std::min(needHi, double(N));
}

bool boxCoversEmission(const FrameSettings& s, int N, const LayerEmissionBox& box) {
    const int compW = compWidthOf(s);
    const int compH = compHeightOf(s);
    const double invScale = s.sourceSizeX > kMinLayerScale ? 1.0 / static_cast<double>(s.sourceSizeX) : 1.0;
    AxisMapping mx{};
    AxisMapping my{};
    if (s.useLayerTransform != 0) {
        mx = {s.layerPosX, invScale * s.layerInvScX, s.layerAncX};
        my = {s.layerPosY, invScale * s.layerInvScY, s.layerAncY};
    } else {
        mx = {compW * 0.5, invScale, s.emissionWidth * 0.5};
        my = {compH * 0.5, invScale, s.emissionHeight * 0.5};
    }
    return boxCoversAxis(box.x0, box.x1, s.emissionBoxX0, s.emissionBoxX1, mx, compW, N) &&
           boxCoversAxis(box.y0, box.y1, s.emissionBoxY0, s.emissionBoxY1, my, compH, N);
}

// The maps and the composition, a run of arguments the single kernel and the column pass share.
// A custom map counts only in a frame that captured one: the buffer outlives its layer, and an
// earlier frame's map must not shape this one.
KernelLaunch& bindMapArgs(KernelLaunch& launch, const GpuRuntime& rt, const FrameSettings& s) {
    const MapBuffer& layer = rt.emissionMap;
    const bool hasCustom =
        s.customMapPresent != 0 && rt.customMap.handle && rt.customMap.width > 0 && rt.customMap.height > 0;
    const MapBuffer& custom = hasCustom ? rt.customMap : layer;
    return launch.arg("layerAlpha", layer.handle)
        .arg("customMap", custom.handle)
        .arg("N", rt.grid.N)
        .arg("layerW", layer.width)
        .arg("layerH", layer.height)
        .arg("customMapW", hasCustom ? custom.width : 0)
        .arg("customMapH", hasCustom ? custom.height : 0)
        .arg("compW", compWidthOf(s))
        .arg("compH", compHeightOf(s))
        .arg("szXY", s.sourceSizeX);
}

// The pattern, the burn and the placement, the other shared run.
KernelLaunch& bindPatternArgs(KernelLaunch& launch, const FrameSettings& s, int frame) {
    return launch.arg("patternMode", s.patternType)
        .arg("maskScale", s.maskScale)
        .arg("maskContrast", s.maskContrast)
        .arg("maskThreshold", s.maskThreshold)
        .arg("maskInvert", s.invert)
        .arg("burnMode", s.burnMode)
        .arg("burnProgress", burnProgressAt(s, frame))
        .arg("burnWidth", s.burnWidth)
        .arg("burnNoise", s.burnNoise)
        .arg("burnDirRad", s.burnDirection)
        .arg("burnSparkBoost", s.sparkBoost)
        .arg("useLayerTransform", s.useLayerTransform)
        .arg("layerPosX", s.layerPosX)
        .arg("layerPosY", s.layerPosY)
        .arg("layerInvScX", s.layerInvScX)
        .arg("layerInvScY", s.layerInvScY)
        .arg("layerAncX", s.layerAncX)
        .arg("layerAncY", s.layerAncY);
}

}  // namespace

LayerEmissionBox layerEmissionBox(const FrameSettings& s, int N) {
    const LayerEmissionBox full{0, 0, std::max(N, 0), std::max(N, 0)};
    if (N <= 0 || !hasOpaqueBox(s)) return full;
    LayerEmissionBox box;
    boxAxis(s.emissionBoxX0, s.emissionBoxX1, s.emissionWidth, N, box.x0, box.x1);
    boxAxis(s.emissionBoxY0, s.emissionBoxY1, s.emissionHeight, N, box.y0, box.y1);
    if (box.x1 <= box.x0 || box.y1 <= box.y0) return full;
    if (!boxCoversEmission(s, N, box)) return full;
    return box;
}

bool canEmitFromLayer(const GpuRuntime& rt, const FrameSettings& s) {
    return s.sourceLayerPresent != 0 && rt.emissionMap.handle && rt.emissionMap.width > 0 && rt.emissionMap.height > 0;
}

float burnProgressAt(const FrameSettings& s, int frame) {
    if (s.burnCurveCount <= 0) return s.burnProgress;
    const int count = std::min(s.burnCurveCount, kMaxHistoryFrames);
    return s.burnCurve[static_cast<size_t>(std::clamp(frame, 0, count - 1))];
}

void setLayerEmissionTwoPassEnabled(bool on) { gTwoPassEnabled = on; }

void enqueueLayerEmission(GpuRuntime& rt, const FrameSettings& s, int frame, float szG, float fuelInject, float dt,
                          bool fullRange) {
    if (gTwoPassEnabled && rt.grid.N > 0 && ensureAuxKernel(rt, AuxKernel::EmitLayerColumns) &&
        ensureAuxKernel(rt, AuxKernel::EmitLayerSlab)) {
        ensureBuffer(rt.context, rt.layerColumnWeights, columnWeightBytes(rt.grid.N));
    }
    enqueueLayerEmission(std::as_const(rt), s, frame, szG, fuelInject, dt, fullRange);
}

void enqueueLayerEmission(const GpuRuntime& rt, const FrameSettings& s, int frame, float szG, float fuelInject,
                          float dt, bool fullRange) {
    const SimGrid& g = rt.grid;
    const MapBuffer& layer = rt.emissionMap;

    LayerEmissionBox box{0, 0, std::max(g.N, 0), std::max(g.N, 0)};
    // The box is in the settings' map pixels; a buffer holding a map of another size would not
    // match it.
    if (!fullRange && layer.width == s.emissionWidth && layer.height == s.emissionHeight) {
        box = layerEmissionBox(s, g.N);
    }
    const size_t x0 = static_cast<size_t>(box.x0);
    const size_t y0 = static_cast<size_t>(box.y0);
    const size_t nx = static_cast<size_t>(box.x1 - box.x0);
    const size_t ny = static_cast<size_t>(box.y1 - box.y0);
    const size_t nz = static_cast<size_t>(std::max(g.N, 0));

    if (twoPassAvailable(rt)) {
        KernelLaunch columns(rt, AuxKernel::EmitLayerColumns);
        columns.arg("weights", rt.layerColumnWeights.handle);
        bindMapArgs(columns, rt, s);
        bindPatternArgs(columns, s, frame).run3dBox(x0, y0, 0, nx, ny, 1);
        KernelLaunch(rt, AuxKernel::EmitLayerSlab)
            .arg("density", g.density)
            .arg("temperature", g.temperature)
            .arg("fuel", g.fuel)
            .arg("weights", rt.layerColumnWeights.handle)
            .arg("N", g.N)
            .arg("szZ", s.sourceSizeZ)
            .arg("szG", szG)
            .arg("temperatureK", s.sourceTemperature)
            .arg("fuelInject", fuelInject)
            .arg("dt", dt)
            .run3dBox(x0, y0, 0, nx, ny, nz);
        return;
    }

    KernelLaunch single(rt, KernelRole::EmitFromLayer);
    single.arg("density", g.density).arg("temperature", g.temperature).arg("fuel", g.fuel);
    bindMapArgs(single, rt, s)
        .arg("szZ", s.sourceSizeZ)
        // Only the depth is read: the columns come from the map, not from the source position.
        .arg("sxG", 0.0f)
        .arg("syG", 0.0f)
        .arg("szG", szG)
        .arg("temperatureK", s.sourceTemperature)
        .arg("fuelInject", fuelInject)
        .arg("dt", dt);
    bindPatternArgs(single, s, frame).run3dBox(x0, y0, 0, nx, ny, nz);
}

}  // namespace cindel
