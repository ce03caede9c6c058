// Image files of the cindel command: PNG through libpng, EXR through OpenEXR.
//
// The host works in premultiplied float (minihost::RgbaImage). PNG stores straight alpha, so
// writing divides colour by alpha (a pixel with alpha 0 is written black and transparent) and
// reading multiplies it back; 8-bit PNG uses 0 … 255 and 16-bit PNG 0 … 65535, so the host's
// 16-bit full scale of 32768 becomes 65535. EXR keeps the premultiplied values as they are, in
// half or 32-bit float RGBA.
//
// Frames are written atomically: into a temporary file beside the target, then renamed over it,
// so an interrupted or failed run leaves either the complete old file, the complete new one or
// nothing, never a truncated image. Failures throw RuntimeFailure naming the file and the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "minihost/rgba_image.h"
#include "tools/scene.h"

namespace cli {

// Straight-alpha quantisation of one premultiplied pixel (r, g, b, a) for PNG: 8 bits (full scale
// 255) or 16 bits (65535), rounded to nearest, clamped to 0 … 1 first.
void straightPixel8(const float premultiplied[4], std::uint8_t out[4]);
void straightPixel16(const float premultiplied[4], std::uint16_t out[4]);

// A decoded PNG as stored: 8 or 16 bits, always 4 channels RGBA (grey, palette and missing alpha
// expanded), straight alpha.
struct PngPixels {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    std::vector<std::uint16_t> samples;  // width × height × 4
};

PngPixels readPng(const std::string& path);
// A PNG as a premultiplied working image (for image layers).
minihost::RgbaImage readPngImage(const std::string& path);

// An EXR read back: width, height, the channel names and the pixels as float RGBA.
struct ExrPixels {
    int width = 0;
    int height = 0;
    bool isHalf = true;
    std::vector<std::string> channels;
    std::vector<float> rgba;
};
ExrPixels readExr(const std::string& path);

// Writes one frame to `path` in the format, atomically.
void writeImageAtomically(const minihost::RgbaImage& image, OutputFormat format, const std::string& path);

// Checks that files can be created in a folder (creating the folder first); throws RuntimeFailure
// with the system's reason otherwise. Removes what runs killed outright left half-written there.
void prepareOutputDirectory(const std::string& directory);

}  // namespace cli
