// PNG and EXR encoding and decoding, and the atomic write of frames.
#include "tools/image_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/errors.h"

namespace cli {

namespace {

std::string systemReason(int error) {
    return std::strerror(error);
}

// ---- Removing a half-written temporary file when the run is interrupted

// The temporary file being written, for the signal handler; empty when none.
char gTempPath[4096];

void removeTempAndReraise(int signal) {
    if (gTempPath[0]) unlink(gTempPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class TempFileGuard {
public:
    explicit TempFileGuard(const std::string& path) : path_(path) {
        std::snprintf(gTempPath, sizeof gTempPath, "%s", path.c_str());
        static const bool isInstalled = [] {
            std::signal(SIGINT, &removeTempAndReraise);
            std::signal(SIGTERM, &removeTempAndReraise);
            std::signal(SIGHUP, &removeTempAndReraise);
            return true;
        }();
        (void)isInstalled;
    }
    ~TempFileGuard() {
        if (!isKept_) std::remove(path_.c_str());
        gTempPath[0] = '\0';
    }
    void keep() { isKept_ = true; }

private:
    std::string path_;
    bool isKept_ = false;
};

// ---- libpng with its setjmp error handling. Only C calls run after setjmp, and every C++
// object the functions touch belongs to the caller, so a longjmp skips no destructor.

struct PngError {
    char message[256] = "";
};

void pngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

bool encodePng(FILE* file, const std::uint8_t* bytes, int width, int height, int bitDepth, PngError* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, &pngError, &pngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t rowBytes = std::size_t(width) * 4 * (bitDepth / 8);
    for (int y = 0; y < height; ++y) png_write_row(png, bytes + rowBytes * std::size_t(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PngDecodeBuffers {
    std::vector<png_byte> raw;
    std::vector<png_bytep> rows;
    int width = 0;
    int height = 0;
    int bitDepth = 8;
};

bool decodePng(FILE* file, PngDecodeBuffers* out, PngError* error) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, error, &pngError, &pngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (hasTransparency) png_set_tRNS_to_alpha(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !hasTransparency) png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->width = static_cast<int>(png_get_image_width(png, info));
    out->height = static_cast<int>(png_get_image_height(png, info));
    out->bitDepth = png_get_bit_depth(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    out->raw.resize(rowBytes * std::size_t(out->height));
    out->rows.resize(std::size_t(out->height));
    for (int y = 0; y < out->height; ++y) out->rows[std::size_t(y)] = out->raw.data() + rowBytes * std::size_t(y);
    png_read_image(png, out->rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// ---- Writers into a temporary path

void writePngFile(const minihost::RgbaImage& image, int bitDepth, const std::string& tempPath,
                  const std::string& target) {
    const std::size_t count = std::size_t(image.width) * image.height;
    std::vector<std::uint8_t> bytes(count * 4 * (bitDepth / 8));
    for (std::size_t i = 0; i < count; ++i) {
        const float* p = &image.pixels[i * 4];
        if (bitDepth == 8) {
            straightPixel8(p, &bytes[i * 4]);
        } else {
            std::uint16_t v[4];
            straightPixel16(p, v);
            for (int c = 0; c < 4; ++c) {  // PNG stores 16-bit samples big-endian
                bytes[i * 8 + 2 * c] = static_cast<std::uint8_t>(v[c] >> 8);
                bytes[i * 8 + 2 * c + 1] = static_cast<std::uint8_t>(v[c] & 0xFF);
            }
        }
    }
    FILE* file = std::fopen(tempPath.c_str(), "wb");
    if (!file) throw RuntimeFailure(target + ": cannot create the file: " + systemReason(errno));
    PngError error;
    const bool isEncoded = encodePng(file, bytes.data(), image.width, image.height, bitDepth, &error);
    const int flushError = std::fflush(file) != 0 ? errno : 0;
    const int closeError = std::fclose(file) != 0 ? errno : 0;
    if (!isEncoded)
        throw RuntimeFailure(target +
                             ": cannot write the PNG: " + (error.message[0] ? error.message : "libpng failed"));
    if (flushError || closeError)
        throw RuntimeFailure(target + ": cannot write the file: " + systemReason(flushError ? flushError : closeError));
}

void writeExrFile(const minihost::RgbaImage& image, bool isHalf, const std::string& tempPath,
                  const std::string& target) {
    try {
        if (isHalf) {
            std::vector<Imf::Rgba> pixels(std::size_t(image.width) * image.height);
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const float* p = &image.pixels[i * 4];
                pixels[i] = Imf::Rgba(p[0], p[1], p[2], p[3]);
            }
            Imf::RgbaOutputFile file(tempPath.c_str(), image.width, image.height, Imf::WRITE_RGBA);
            file.setFrameBuffer(pixels.data(), 1, std::size_t(image.width));
            file.writePixels(image.height);
        } else {
            Imf::Header header(image.width, image.height);
            const char* names[4] = {"R", "G", "B", "A"};
            for (const char* name : names) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
            Imf::OutputFile file(tempPath.c_str(), header);
            Imf::FrameBuffer frame;
            const std::size_t xStride = 4 * sizeof(float);
            const std::size_t yStride = xStride * std::size_t(image.width);
            char* base = reinterpret_cast<char*>(const_cast<float*>(image.pixels.data()));
            for (int c = 0; c < 4; ++c)
                frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), xStride, yStride));
            file.setFrameBuffer(frame);
            file.writePixels(image.height);
        }
    } catch (const std::exception& e) {
        throw RuntimeFailure(target + ": cannot write the EXR: " + e.what());
    }
}

// Data on disk before the rename, so that a crash right after it cannot leave an empty file
// under the final name.
void syncFile(const std::string& tempPath, const std::string& target) {
    int fd = open(tempPath.c_str(), O_RDONLY);
    if (fd < 0) throw RuntimeFailure(target + ": cannot reopen the written file: " + systemReason(errno));
    const int result = fsync(fd);
    const int error = errno;
    close(fd);
    if (result != 0) throw RuntimeFailure(target + ": cannot write the file to disk: " + systemReason(error));
}

}  // namespace

void straightPixel8(const float premultiplied[4], std::uint8_t out[4]) {
    const double a = std::clamp(double(premultiplied[3]), 0.0, 1.0);
    for (int c = 0; c < 3; ++c) {
        double v = a > 0 ? premultiplied[c] / a : 0.0;
        out[c] = static_cast<std::uint8_t>(std::lround(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0) * 255.0));
    }
    out[3] = static_cast<std::uint8_t>(std::lround(a * 255.0));
}

void straightPixel16(const float premultiplied[4], std::uint16_t out[4]) {
    const double a = std::clamp(double(premultiplied[3]), 0.0, 1.0);
    for (int c = 0; c < 3; ++c) {
        double v = a > 0 ? premultiplied[c] / a : 0.0;
        out[c] = static_cast<std::uint16_t>(std::lround(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0) * 65535.0));
    }
    out[3] = static_cast<std::uint16_t>(std::lround(a * 65535.0));
}

PngPixels readPng(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw RuntimeFailure("cannot read image \"" + path + "\": " + systemReason(errno));
    png_byte signature[8] = {};
    const bool isPng = std::fread(signature, 1, 8, file) == 8 && png_sig_cmp(signature, 0, 8) == 0;
    if (!isPng) {
        std::fclose(file);
        throw RuntimeFailure("cannot read image \"" + path + "\": not a PNG file");
    }
    std::rewind(file);
    PngDecodeBuffers buffers;
    PngError error;
    const bool isDecoded = decodePng(file, &buffers, &error);
    std::fclose(file);
    if (!isDecoded)
        throw RuntimeFailure("cannot read image \"" + path +
                             "\": " + (error.message[0] ? error.message : "libpng failed"));

    PngPixels pixels;
    pixels.width = buffers.width;
    pixels.height = buffers.height;
    pixels.bitDepth = buffers.bitDepth;
    const std::size_t count = std::size_t(pixels.width) * pixels.height * 4;
    pixels.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        pixels.samples[i] = pixels.bitDepth == 16
                                ? static_cast<std::uint16_t>((buffers.raw[2 * i] << 8) | buffers.raw[2 * i + 1])
                                : buffers.raw[i];
    return pixels;
}

minihost::RgbaImage readPngImage(const std::string& path) {
    PngPixels png = readPng(path);
    minihost::RgbaImage image(png.width, png.height);
    const float scale = png.bitDepth == 16 ? 1.0f / 65535.0f : 1.0f / 255.0f;
    for (std::size_t i = 0; i < std::size_t(png.width) * png.height; ++i) {
        const float alpha = png.samples[i * 4 + 3] * scale;
        for (int c = 0; c < 3; ++c) image.pixels[i * 4 + c] = png.samples[i * 4 + c] * scale * alpha;
        image.pixels[i * 4 + 3] = alpha;
    }
    return image;
}

ExrPixels readExr(const std::string& path) {
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        ExrPixels pixels;
        pixels.width = window.max.x - window.min.x + 1;
        pixels.height = window.max.y - window.min.y + 1;
        for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it) {
            pixels.channels.emplace_back(it.name());
            if (it.channel().type != Imf::HALF) pixels.isHalf = false;
        }
        pixels.rgba.assign(std::size_t(pixels.width) * pixels.height * 4, 0.0f);
        Imf::FrameBuffer frame;
        const std::size_t xStride = 4 * sizeof(float);
        const std::size_t yStride = xStride * std::size_t(pixels.width);
        char* base =
            reinterpret_cast<char*>(pixels.rgba.data()) - (std::ptrdiff_t(window.min.x) * std::ptrdiff_t(xStride) +
                                                           std::ptrdiff_t(window.min.y) * std::ptrdiff_t(yStride));
        const char* names[4] = {"R", "G", "B", "A"};
        for (int c = 0; c < 4; ++c)
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), xStride, yStride));
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        return pixels;
    } catch (const std::exception& e) {
        throw RuntimeFailure("cannot read EXR \"" + path + "\": " + e.what());
    }
}

void writeImageAtomically(const minihost::RgbaImage& image, OutputFormat format, const std::string& path) {
    const std::filesystem::path target(path);
    // Hidden and unique to this process. Built by appending: GCC 12 warns falsely (-Wrestrict)
    // about "." + std::string.
    std::string tempName = ".";
    tempName += target.filename().string();
    tempName += ".tmp-";
    tempName += std::to_string(getpid());
    const std::string tempPath = (target.parent_path() / tempName).string();
    TempFileGuard guard(tempPath);
    switch (format) {
        case OutputFormat::Png8:
            writePngFile(image, 8, tempPath, path);
            break;
        case OutputFormat::Png16:
            writePngFile(image, 16, tempPath, path);
            break;
        case OutputFormat::ExrHalf:
            writeExrFile(image, true, tempPath, path);
            break;
        case OutputFormat::ExrFloat:
            writeExrFile(image, false, tempPath, path);
            break;
    }
    syncFile(tempPath, path);
    if (std::rename(tempPath.c_str(), path.c_str()) != 0)
        throw RuntimeFailure(path + ": cannot put the written file in place: " + systemReason(errno));
    guard.keep();
}

void prepareOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw RuntimeFailure("output folder \"" + directory + "\": cannot create it: " + error.message());
    if (!std::filesystem::is_directory(directory, error))
        throw RuntimeFailure("output folder \"" + directory + "\": not a folder");
    // The permission bits do not tell (root ignores them, read-only mounts do not show): try.
    std::string probeName = ".cindel-probe-";
    probeName += std::to_string(getpid());
    const std::string probe = (std::filesystem::path(directory) / probeName).string();
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) throw RuntimeFailure("output folder \"" + directory + "\": cannot write in it: " + systemReason(errno));
    close(fd);
    unlink(probe.c_str());
}

}  // namespace cli
