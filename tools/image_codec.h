// The PNG and EXR codecs under tools/image_io.cpp, one per platform, with the same contract:
//   libpng_codec (image_codec_libpng.cpp): libpng and OpenEXR, the Linux build's;
//   portable_codec (image_codec_portable.cpp): our PNG writer over zlib, stb_image for reading and
//     tinyexr for EXR, for Windows, where Debian has no cross build of libpng or OpenEXR.
// Both encode the same pixels: a frame written by either decodes to the same samples in both (PNG
// is lossless; EXR holds the same half or float values in the same channels, ZIP compressed); only
// the compressed bytes may differ. Both live in every build that has both libraries, so a test can
// hold them against each other. Failures throw RuntimeFailure naming `target` (the frame's final
// path) or the file read.
#pragma once

#include <cstdint>
#include <string>

#include "minihost/rgba_image.h"
#include "tools/image_io.h"

namespace cli {

namespace libpng_codec {
// `bytes`: RGBA rows of 8-bit samples, or of 16-bit samples stored big-endian as PNG keeps them.
void writePng(const std::string& tempPath, const std::uint8_t* bytes, int width, int height, int bitDepth,
              const std::string& target);
PngPixels readPng(const std::string& path);
// Premultiplied RGBA as half (isHalf) or 32-bit float.
void writeExr(const minihost::RgbaImage& image, bool isHalf, const std::string& tempPath, const std::string& target);
ExrPixels readExr(const std::string& path);
}  // namespace libpng_codec

namespace portable_codec {
void writePng(const std::string& tempPath, const std::uint8_t* bytes, int width, int height, int bitDepth,
              const std::string& target);
PngPixels readPng(const std::string& path);
void writeExr(const minihost::RgbaImage& image, bool isHalf, const std::string& tempPath, const std::string& target);
ExrPixels readExr(const std::string& path);
}  // namespace portable_codec

}  // namespace cli
