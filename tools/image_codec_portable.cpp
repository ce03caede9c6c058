// The Windows build's image codec (see tools/image_codec.h): PNG written by our own encoder over
// zlib (stb_image_write has no 16-bit PNG) and read with stb_image; EXR through tinyexr. The
// libraries' implementations are compiled in image_codec_third_party.cpp.
//
// Half floats are converted here rather than by tinyexr, with the rounding of the Linux build's
// Imath half (round to nearest, ties to even; NaN kept a NaN; overflow to infinity), so that an EXR
// frame holds the same half values on both platforms.
#include <stb/stb_image.h>
#include <tinyexr.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/errors.h"
#include "tools/image_codec.h"

namespace cli::portable_codec {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void appendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

void appendChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data, std::size_t length) {
    appendBigEndian32(out, std::uint32_t(length));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (length) out.insert(out.end(), data, data + length);
    // The chunk's CRC covers its type and data.
    const uLong crc = crc32(0L, out.data() + typeAt, uInt(4 + length));
    appendBigEndian32(out, std::uint32_t(crc));
}

// RGBA, non-interlaced, every row with filter type None: what the rows hold is what a decoder gives
// back. Compression level is zlib's default, as libpng's.
std::vector<std::uint8_t> encodePng(const std::uint8_t* bytes, int width, int height, int bitDepth) {
    const std::size_t rowBytes = std::size_t(width) * 4 * std::size_t(bitDepth / 8);
    std::vector<std::uint8_t> raw;
    raw.reserve((rowBytes + 1) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const std::uint8_t* row = bytes + rowBytes * std::size_t(y);
        raw.insert(raw.end(), row, row + rowBytes);
    }
    uLongf compressedSize = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, raw.data(), uLong(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    compressed.resize(compressedSize);

    std::vector<std::uint8_t> png(kPngSignature.begin(), kPngSignature.end());
    std::vector<std::uint8_t> header;
    appendBigEndian32(header, std::uint32_t(width));
    appendBigEndian32(header, std::uint32_t(height));
    header.insert(header.end(), {std::uint8_t(bitDepth), 6 /* RGBA */, 0, 0, 0});
    appendChunk(png, "IHDR", header.data(), header.size());
    appendChunk(png, "IDAT", compressed.data(), compressed.size());
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

using StbPixels = std::unique_ptr<void, decltype(&stbi_image_free)>;

std::uint16_t halfFromFloat(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint16_t sign = std::uint16_t((bits >> 16) & 0x8000);
    const std::uint32_t magnitude = bits & 0x7FFFFFFF;
    if (magnitude >= 0x7F800000) {  // infinity, or NaN with at least one mantissa bit left
        if (magnitude == 0x7F800000) return sign | 0x7C00;
        const std::uint16_t mantissa = std::uint16_t((magnitude & 0x7FFFFF) >> 13);
        return sign | 0x7C00 | mantissa | (mantissa == 0 ? 1 : 0);
    }
    if (magnitude >= 0x38800000) {           // a normal half
        if (magnitude > 0x477FEFFF) return sign | 0x7C00;  // rounds past the largest half
        const std::uint32_t rebiased = magnitude - 0x38000000;
        return sign | std::uint16_t((rebiased + 0x0FFF + ((rebiased >> 13) & 1)) >> 13);
    }
    if (magnitude <= 0x33000000) return sign;  // at most half the smallest subnormal: ties to even zero
    // A subnormal half: shift the mantissa with its hidden bit, then round to nearest even.
    const std::uint32_t exponent = magnitude >> 23;
    const std::uint32_t shift = 0x7E - exponent;
    const std::uint32_t mantissa = 0x800000 | (magnitude & 0x7FFFFF);
    const std::uint32_t rest = mantissa << (32 - shift);
    std::uint16_t result = std::uint16_t(sign | (mantissa >> shift));
    if (rest > 0x80000000u || (rest == 0x80000000u && (result & 1))) ++result;
    return result;
}

// Every byte, the flush and the close checked: a full disk must not pass for a written frame.
void writeWholeFile(const std::string& tempPath, const void* data, std::size_t size, const std::string& target) {
    FILE* file = std::fopen(tempPath.c_str(), "wb");
    if (!file) throw RuntimeFailure(target + ": cannot create the file: " + systemReason(errno));
    const bool isWritten = std::fwrite(data, 1, size, file) == size;
    const int writeError = isWritten ? 0 : errno;
    const int flushError = std::fflush(file) != 0 ? errno : 0;
    const int closeError = std::fclose(file) != 0 ? errno : 0;
    if (!isWritten || flushError || closeError)
        throw RuntimeFailure(target + ": cannot write the file: " +
                             systemReason(writeError ? writeError : flushError ? flushError : closeError));
}

}  // namespace

void writePng(const std::string& tempPath, const std::uint8_t* bytes, int width, int height, int bitDepth,
              const std::string& target) {
    const std::vector<std::uint8_t> png = encodePng(bytes, width, height, bitDepth);
    if (png.empty()) throw RuntimeFailure(target + ": cannot write the PNG: zlib could not compress the rows");
    writeWholeFile(tempPath, png.data(), png.size(), target);
}

PngPixels readPng(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw RuntimeFailure("cannot read image \"" + path + "\": " + systemReason(errno));
    std::array<std::uint8_t, 8> signature{};
    const bool isPng = std::fread(signature.data(), 1, 8, file) == 8 && signature == kPngSignature;
    if (!isPng) {
        std::fclose(file);
        throw RuntimeFailure("cannot read image \"" + path + "\": not a PNG file");
    }
    std::rewind(file);
    const bool is16Bit = stbi_is_16_bit_from_file(file) != 0;
    std::rewind(file);
    int width = 0, height = 0, channelsInFile = 0;
    // Always four channels: grey, palette and missing alpha expanded, as libpng is asked to.
    StbPixels data(is16Bit ? static_cast<void*>(stbi_load_from_file_16(file, &width, &height, &channelsInFile, 4))
                           : static_cast<void*>(stbi_load_from_file(file, &width, &height, &channelsInFile, 4)),
                   &stbi_image_free);
    std::fclose(file);
    if (!data) {
        const char* reason = stbi_failure_reason();
        throw RuntimeFailure("cannot read image \"" + path + "\": " + (reason ? reason : "stb_image failed"));
    }
    PngPixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.bitDepth = is16Bit ? 16 : 8;
    const std::size_t count = std::size_t(width) * std::size_t(height) * 4;
    pixels.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        pixels.samples[i] = is16Bit ? static_cast<const std::uint16_t*>(data.get())[i]
                                    : static_cast<const std::uint8_t*>(data.get())[i];
    return pixels;
}

void writeExr(const minihost::RgbaImage& image, bool isHalf, const std::string& tempPath, const std::string& target) {
    const std::size_t count = std::size_t(image.width) * std::size_t(image.height);
    // Channels in the order OpenEXR stores them, sorted by name.
    const char* names[4] = {"A", "B", "G", "R"};
    const int sourceChannel[4] = {3, 2, 1, 0};
    std::vector<float> floatPlanes[4];
    std::vector<std::uint16_t> halfPlanes[4];
    unsigned char* planes[4];
    for (int c = 0; c < 4; ++c) {
        if (isHalf) {
            halfPlanes[c].resize(count);
            for (std::size_t i = 0; i < count; ++i) halfPlanes[c][i] = halfFromFloat(image.pixels[i * 4 + sourceChannel[c]]);
            planes[c] = reinterpret_cast<unsigned char*>(halfPlanes[c].data());
        } else {
            floatPlanes[c].resize(count);
            for (std::size_t i = 0; i < count; ++i) floatPlanes[c][i] = image.pixels[i * 4 + sourceChannel[c]];
            planes[c] = reinterpret_cast<unsigned char*>(floatPlanes[c].data());
        }
    }
    EXRChannelInfo channels[4];
    int pixelTypes[4];
    for (int c = 0; c < 4; ++c) {
        std::memset(&channels[c], 0, sizeof channels[c]);
        std::snprintf(channels[c].name, sizeof channels[c].name, "%s", names[c]);
        pixelTypes[c] = isHalf ? TINYEXR_PIXELTYPE_HALF : TINYEXR_PIXELTYPE_FLOAT;
    }
    EXRHeader header;
    InitEXRHeader(&header);
    header.num_channels = 4;
    header.channels = channels;
    header.pixel_types = pixelTypes;
    header.requested_pixel_types = pixelTypes;
    header.compression_type = TINYEXR_COMPRESSIONTYPE_ZIP;
    EXRImage exr;
    InitEXRImage(&exr);
    exr.num_channels = 4;
    exr.images = planes;
    exr.width = image.width;
    exr.height = image.height;
    // Encoded in memory and written here: tinyexr's own file writer takes a short write, and a
    // failed close, for success.
    unsigned char* encoded = nullptr;
    const char* error = nullptr;
    const std::size_t size = SaveEXRImageToMemory(&exr, &header, &encoded, &error);
    if (size == 0) {
        const std::string reason = error ? error : "tinyexr failed";
        FreeEXRErrorMessage(error);
        throw RuntimeFailure(target + ": cannot write the EXR: " + reason);
    }
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(encoded, &std::free);
    writeWholeFile(tempPath, encoded, size, target);
}

ExrPixels readExr(const std::string& path) {
    const std::string prefix = "cannot read EXR \"" + path + "\": ";
    EXRVersion version;
    if (ParseEXRVersionFromFile(&version, path.c_str()) != TINYEXR_SUCCESS)
        throw RuntimeFailure(prefix + "not an OpenEXR file, or it cannot be read");
    if (version.multipart || version.non_image)
        throw RuntimeFailure(prefix + "multi-part and deep files are not read");
    EXRHeader header;
    InitEXRHeader(&header);
    const char* error = nullptr;
    if (ParseEXRHeaderFromFile(&header, &version, path.c_str(), &error) != TINYEXR_SUCCESS) {
        const std::string reason = error ? error : "tinyexr failed";
        FreeEXRErrorMessage(error);
        throw RuntimeFailure(prefix + reason);
    }
    ExrPixels pixels;
    for (int c = 0; c < header.num_channels; ++c) {
        pixels.channels.emplace_back(header.channels[c].name);
        if (header.pixel_types[c] != TINYEXR_PIXELTYPE_HALF) pixels.isHalf = false;
        header.requested_pixel_types[c] = TINYEXR_PIXELTYPE_FLOAT;  // half widens to float exactly
    }
    EXRImage exr;
    InitEXRImage(&exr);
    if (LoadEXRImageFromFile(&exr, &header, path.c_str(), &error) != TINYEXR_SUCCESS) {
        const std::string reason = error ? error : "tinyexr failed";
        FreeEXRErrorMessage(error);
        FreeEXRHeader(&header);
        throw RuntimeFailure(prefix + reason);
    }
    pixels.width = exr.width;
    pixels.height = exr.height;
    const std::size_t count = std::size_t(exr.width) * std::size_t(exr.height);
    // Channels the file lacks read as zero, as OpenEXR fills them.
    pixels.rgba.assign(count * 4, 0.0f);
    const char* rgbaNames[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < header.num_channels && exr.images; ++c) {
        for (int target = 0; target < 4; ++target) {
            if (std::strcmp(header.channels[c].name, rgbaNames[target]) != 0) continue;
            const float* plane = reinterpret_cast<const float*>(exr.images[c]);
            for (std::size_t i = 0; i < count; ++i) pixels.rgba[i * 4 + target] = plane[i];
        }
    }
    FreeEXRImage(&exr);
    FreeEXRHeader(&header);
    return pixels;
}

}  // namespace cli::portable_codec
