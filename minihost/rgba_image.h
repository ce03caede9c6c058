// RgbaImage: the host's own working image, float red, green, blue, alpha per pixel, premultiplied,
// rows packed. Image layers are decoded into it, the compositor works in it, and the effect's output
// world is read into it. The conversions to and from a World use the host's scales (8 bits: 255;
// 16 bits: 32768; 32 bits: 1.0) and round to the nearest step, as World::fill does.
#pragma once

#include <cstddef>
#include <vector>

#include "minihost/world.h"

namespace minihost {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;  // 4 floats per pixel, premultiplied

    RgbaImage() = default;
    RgbaImage(int width, int height) : width(width), height(height), pixels(std::size_t(width) * height * 4, 0.0f) {}

    float* at(int x, int y) { return &pixels[(std::size_t(y) * width + x) * 4]; }
    const float* at(int x, int y) const { return &pixels[(std::size_t(y) * width + x) * 4]; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
};

// The pixels of a World of any depth (its ARGB order turned into RGBA).
RgbaImage imageFromWorld(const World& world);
// A new World of the image's size at 8, 16 or 32 bits per channel; integer depths are clamped to
// 0 … full scale.
World worldFromImage(const RgbaImage& image, int bitsPerChannel);

}  // namespace minihost
