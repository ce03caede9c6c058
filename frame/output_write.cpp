// Output depth query and float-to-host pixel conversion. See output_write.h.
#include "frame/output_write.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "AE_EffectSuites.h"
#include "host/suite_handler.h"

namespace cindel {

namespace {

// The ordered comparisons are false for NaN, so NaN lands on 0 like a negative value.
inline uint8_t to8(float v) {
    return v > 0.0f ? uint8_t(std::min(v, 255.0f)) : 0;
}
inline uint16_t to16(float v) {
    return v > 0.0f ? uint16_t(std::min(v, 32768.0f)) : 0;
}

// std::fmin/fmax return the non-NaN operand, so a NaN channel clamps to 0 here as well.
inline uint8_t slice8(double v) {
    return uint8_t(std::fmin(std::fmax(v, 0.0), 255.0));
}
inline uint16_t slice16(double v) {
    return uint16_t(std::fmin(std::fmax(v, 0.0), 32768.0));
}

template <typename Pixel, typename Convert>
void writeRows(const float* rgba, void* pixels, int width, int height, int rowBytes, Convert&& convert) {
    auto* base = static_cast<uint8_t*>(pixels);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<Pixel*>(base + int64_t(y) * rowBytes);
        const float* src = rgba + int64_t(y) * width * 4;
        for (int x = 0; x < width; ++x, src += 4) {
            row[x].alpha = convert(src[3]);
            row[x].red = convert(src[0]);
            row[x].green = convert(src[1]);
            row[x].blue = convert(src[2]);
        }
    }
}

}  // namespace

int bytesPerPixel(int bitsPerChannel) {
    switch (bitsPerChannel) {
        case 8:
            return int(sizeof(PF_Pixel));
        case 16:
            return int(sizeof(PF_Pixel16));
        case 32:
            return int(sizeof(PF_PixelFloat));
        default:
            return 0;
    }
}

bool isWritableWorld(const void* pixels, int width, int height, int rowBytes, int bitsPerChannel) {
    const int pixelSize = bytesPerPixel(bitsPerChannel);
    if (!pixels || pixelSize == 0 || width <= 0 || height <= 0) return false;
    // Rows shorter than their pixels would make row y + 1 overlap row y and the last row run past
    // the buffer; such a world is refused rather than written in part.
    return int64_t(rowBytes) >= int64_t(width) * pixelSize;
}

int worldBitsPerChannel(PF_InData* inData, PF_OutData* outData, const PF_EffectWorld* world) {
    if (!world) return 8;
    const int fallback = (world->world_flags & PF_WorldFlag_DEEP) ? 16 : 8;
    const PF_WorldSuite2* suite = nullptr;
    if (acquireWorldSuite(inData, outData, &suite) != PF_Err_NONE || !suite) return fallback;

    int bits = fallback;
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    if (suite->PF_GetPixelFormat && suite->PF_GetPixelFormat(world, &format) == PF_Err_NONE) {
        switch (format) {
            case PF_PixelFormat_ARGB128:
                bits = 32;
                break;
            case PF_PixelFormat_ARGB64:
                bits = 16;
                break;
            case PF_PixelFormat_ARGB32:
                bits = 8;
                break;
            default:
                break;
        }
    }
    releaseWorldSuite(inData, outData);
    return bits;
}

bool writeOutput(const float* rgba, void* pixels, int width, int height, int rowBytes, int bitsPerChannel,
                 float opacity) {
    if (!rgba || !isWritableWorld(pixels, width, height, rowBytes, bitsPerChannel)) return false;
    const float k = (opacity >= 0.0f && opacity <= 1.0f) ? opacity : 1.0f;
    switch (bitsPerChannel) {
        case 8:
            writeRows<PF_Pixel>(rgba, pixels, width, height, rowBytes, [k](float c) { return to8(c * k * 255.0f); });
            return true;
        case 16:
            writeRows<PF_Pixel16>(rgba, pixels, width, height, rowBytes,
                                  [k](float c) { return to16(c * k * 32768.0f); });
            return true;
        case 32:
            writeRows<PF_PixelFloat>(rgba, pixels, width, height, rowBytes, [k](float c) { return c * k; });
            return true;
        default:
            return false;
    }
}

bool writeSliceOutput(const float* rgba, void* pixels, int width, int height, int rowBytes, int bitsPerChannel) {
    if (!rgba || !isWritableWorld(pixels, width, height, rowBytes, bitsPerChannel)) return false;
    switch (bitsPerChannel) {
        case 8:
            writeRows<PF_Pixel>(rgba, pixels, width, height, rowBytes,
                                [](float c) { return slice8(double(c) * 255.0); });
            return true;
        case 16:
            writeRows<PF_Pixel16>(rgba, pixels, width, height, rowBytes,
                                  [](float c) { return slice16(double(c) * 32768.0); });
            return true;
        case 32:
            writeRows<PF_PixelFloat>(rgba, pixels, width, height, rowBytes, [](float c) { return c; });
            return true;
        default:
            return false;
    }
}

}  // namespace cindel
