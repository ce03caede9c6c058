// Layer placement and "over" compositing of the host's frame.
#include "minihost/compositor.h"

#include <algorithm>
#include <cmath>

namespace minihost {

namespace {

// Bilinear sample with pixel centres at i + 0.5 and transparency beyond the edges, so a layer's
// border fades over half a pixel rather than smearing its edge pixels outward.
void sampleBilinear(const RgbaImage& image, double u, double v, float out[4]) {
    double fx = u - 0.5, fy = v - 0.5;
    int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    double tx = fx - x0, ty = fy - y0;
    for (int c = 0; c < 4; ++c) out[c] = 0.0f;
    for (int j = 0; j < 2; ++j) {
        int y = y0 + j;
        if (y < 0 || y >= image.height) continue;
        double wy = j ? ty : 1.0 - ty;
        for (int i = 0; i < 2; ++i) {
            int x = x0 + i;
            if (x < 0 || x >= image.width) continue;
            double w = wy * (i ? tx : 1.0 - tx);
            if (w == 0.0) continue;
            const float* p = image.at(x, y);
            for (int c = 0; c < 4; ++c) out[c] += static_cast<float>(w * p[c]);
        }
    }
}

void placeOver(RgbaImage& frame, const RgbaImage& pixels, const Matrix4& layerToWorld) {
    const double sx = layerToWorld.m[0][0], sy = layerToWorld.m[1][1];
    if (pixels.isEmpty() || sx == 0.0 || sy == 0.0) return;
    const double ox = layerToWorld.m[3][0], oy = layerToWorld.m[3][1];
    // An unscaled layer on whole-pixel offsets copies pixels exactly (no filtering).
    const bool isAligned = sx == 1.0 && sy == 1.0 && ox == std::floor(ox) && oy == std::floor(oy);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            float src[4];
            if (isAligned) {
                int lx = x - static_cast<int>(ox), ly = y - static_cast<int>(oy);
                if (lx < 0 || ly < 0 || lx >= pixels.width || ly >= pixels.height) continue;
                const float* p = pixels.at(lx, ly);
                for (int c = 0; c < 4; ++c) src[c] = p[c];
            } else {
                sampleBilinear(pixels, (x + 0.5 - ox) / sx, (y + 0.5 - oy) / sy, src);
            }
            if (src[3] == 0.0f && src[0] == 0.0f && src[1] == 0.0f && src[2] == 0.0f) continue;
            float* dst = frame.at(x, y);
            const float keep = 1.0f - src[3];
            for (int c = 0; c < 4; ++c) dst[c] = src[c] + dst[c] * keep;
        }
    }
}

// The image a layer's pixels already live in: the effect's frame, an image layer's file; null for
// the others.
const RgbaImage* storedPixels(const Layer& layer, const RgbaImage* effectOutput) {
    if (layer.type == LayerType::Effect) return effectOutput;
    if (layer.type == LayerType::Image) return layer.image.get();
    return nullptr;
}

}  // namespace

RgbaImage layerPixels(const Layer& layer, const RgbaImage* effectOutput) {
    if (const RgbaImage* stored = storedPixels(layer, effectOutput)) return *stored;
    switch (layer.type) {
        case LayerType::Solid: {
            RgbaImage solid(layer.width, layer.height);
            for (int y = 0; y < solid.height; ++y) {
                for (int x = 0; x < solid.width; ++x) {
                    float* p = solid.at(x, y);
                    p[0] = static_cast<float>(layer.solidColor.red);
                    p[1] = static_cast<float>(layer.solidColor.green);
                    p[2] = static_cast<float>(layer.solidColor.blue);
                    p[3] = 1.0f;
                }
            }
            return solid;
        }
        case LayerType::Effect:
            return RgbaImage(layer.width, layer.height);
        default:
            return RgbaImage{};
    }
}

RgbaImage layerContentPixels(const Layer& layer) {
    RgbaImage pixels = layerPixels(layer, nullptr);
    const int margin = std::max(0, layer.contentMargin);
    if (margin == 0 || pixels.isEmpty()) return pixels;
    RgbaImage content(pixels.width + 2 * margin, pixels.height + 2 * margin);
    for (int y = 0; y < pixels.height; ++y)
        std::copy(pixels.at(0, y), pixels.at(0, y) + std::size_t(pixels.width) * 4, content.at(margin, y + margin));
    return content;
}

RgbaImage compositeFrame(const Composition& composition, double compSeconds, const RgbaImage* effectOutput,
                         const std::optional<Rgb>& background) {
    RgbaImage frame(composition.width, composition.height);
    if (background) {
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                float* p = frame.at(x, y);
                p[0] = static_cast<float>(background->red);
                p[1] = static_cast<float>(background->green);
                p[2] = static_cast<float>(background->blue);
                p[3] = 1.0f;
            }
        }
    }
    const auto& layers = composition.layers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const Layer& layer = *it;
        if (!layer.isAudioVisual() || !layer.isVisible || !layer.isActiveAt(compSeconds)) continue;
        const Matrix4 toWorld = composition.layerToWorld(layer, compSeconds);
        // Stored pixels are placed from where they are, not from a copy.
        if (const RgbaImage* stored = storedPixels(layer, effectOutput))
            placeOver(frame, *stored, toWorld);
        else
            placeOver(frame, layerPixels(layer, effectOutput), toWorld);
    }
    return frame;
}

}  // namespace minihost
