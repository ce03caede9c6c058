// Conversions between the host's float working image and its worlds.
#include "minihost/rgba_image.h"

#include <algorithm>
#include <cmath>

namespace minihost {

namespace {

template <typename Int>
Int quantized(float value, double fullScale) {
    // NaN and negatives become 0; the comparison is written so that NaN fails it.
    if (!(value > 0.0f)) return 0;
    return static_cast<Int>(std::lround(std::min(double(value), 1.0) * fullScale));
}

// A world's rows into the float image, each channel × `scale` (exact for the float world's 1).
template <typename Pixel>
void readRows(const World& world, float scale, RgbaImage& image) {
    for (int y = 0; y < image.height; ++y) {
        const Pixel* p = world.row<Pixel>(y);
        float* out = image.at(0, y);
        for (int x = 0; x < image.width; ++x, out += 4)
            out[0] = p[x].red * scale, out[1] = p[x].green * scale, out[2] = p[x].blue * scale,
            out[3] = p[x].alpha * scale;
    }
}

}  // namespace

RgbaImage imageFromWorld(const World& world) {
    RgbaImage image(world.width(), world.height());
    if (image.width <= 0) return image;
    switch (world.bitsPerChannel()) {
        case 8:
            readRows<PF_Pixel8>(world, 1.0f / 255.0f, image);
            break;
        case 16:
            readRows<PF_Pixel16>(world, 1.0f / 32768.0f, image);
            break;
        default:
            readRows<PF_PixelFloat>(world, 1.0f, image);
            break;
    }
    return image;
}

World worldFromImage(const RgbaImage& image, int bitsPerChannel) {
    World world(image.width, image.height, bitsPerChannel);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float* in = image.at(x, y);
            switch (bitsPerChannel) {
                case 8:
                    world.pixel8(x, y) = PF_Pixel8{quantized<A_u_char>(in[3], 255), quantized<A_u_char>(in[0], 255),
                                                   quantized<A_u_char>(in[1], 255), quantized<A_u_char>(in[2], 255)};
                    break;
                case 16:
                    world.pixel16(x, y) =
                        PF_Pixel16{quantized<A_u_short>(in[3], 32768), quantized<A_u_short>(in[0], 32768),
                                   quantized<A_u_short>(in[1], 32768), quantized<A_u_short>(in[2], 32768)};
                    break;
                default:
                    world.pixel32(x, y) = PF_PixelFloat{in[3], in[0], in[1], in[2]};
                    break;
            }
        }
    }
    return world;
}

}  // namespace minihost
