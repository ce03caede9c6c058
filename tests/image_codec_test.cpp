// The two image codecs against each other (tools/image_codec.h): frames written by the Windows
// build's codec (our PNG writer, stb_image, tinyexr) and by the Linux build's (libpng, OpenEXR) must
// decode to the same samples in both, so a frame rendered on either platform is the same image.
// Awkward sizes (13 × 7) and values that exercise the half rounding: ties, subnormals, overflow,
// infinities and NaN.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tools/image_codec.h"

namespace {

namespace fs = std::filesystem;

struct Codec {
    const char* name;
    void (*writePng)(const std::string&, const std::uint8_t*, int, int, int, const std::string&);
    cli::PngPixels (*readPng)(const std::string&);
    void (*writeExr)(const minihost::RgbaImage&, bool, const std::string&, const std::string&);
    cli::ExrPixels (*readExr)(const std::string&);
};

const Codec kCodecs[] = {
    {"libpng/OpenEXR", cli::libpng_codec::writePng, cli::libpng_codec::readPng, cli::libpng_codec::writeExr,
     cli::libpng_codec::readExr},
    {"portable", cli::portable_codec::writePng, cli::portable_codec::readPng, cli::portable_codec::writeExr,
     cli::portable_codec::readExr},
};

class ImageCodecs : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("cindel-codec-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) { return (dir_ / name).string(); }
    fs::path dir_;
};

constexpr int kWidth = 13, kHeight = 7;

std::uint32_t bitsOf(float v) {
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TEST_F(ImageCodecs, PngSamplesDecodeTheSameWhoeverWroteThem) {
    for (int depth : {8, 16}) {
        const std::size_t count = std::size_t(kWidth) * kHeight * 4;
        std::vector<std::uint16_t> samples(count);
        std::vector<std::uint8_t> bytes(count * std::size_t(depth / 8));
        std::uint32_t seed = 12345;
        for (std::size_t i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            samples[i] = std::uint16_t(depth == 8 ? seed >> 24 : seed >> 16);
            if (depth == 8) {
                bytes[i] = std::uint8_t(samples[i]);
            } else {
                bytes[2 * i] = std::uint8_t(samples[i] >> 8);
                bytes[2 * i + 1] = std::uint8_t(samples[i]);
            }
        }
        for (const Codec& writer : kCodecs) {
            const std::string file = path(std::string("frame") + std::to_string(depth) + ".png");
            writer.writePng(file, bytes.data(), kWidth, kHeight, depth, file);
            for (const Codec& reader : kCodecs) {
                const cli::PngPixels png = reader.readPng(file);
                EXPECT_EQ(png.width, kWidth);
                EXPECT_EQ(png.height, kHeight);
                EXPECT_EQ(png.bitDepth, depth);
                EXPECT_EQ(png.samples, samples) << depth << "-bit, written by " << writer.name << ", read by "
                                                << reader.name;
            }
        }
    }
}

TEST_F(ImageCodecs, ExrValuesDecodeTheSameWhoeverWroteThem) {
    const float tie = 1.0f + std::ldexp(1.0f, -11);  // halfway between two halves: rounds to even
    const float special[] = {0.0f, -0.0f, 1.0f, 0.5f, tie, -tie, 1.0f + 3 * std::ldexp(1.0f, -11),
                             std::ldexp(1.0f, -24), std::ldexp(1.0f, -25), std::ldexp(3.0f, -26), 6.1e-5f,
                             65504.0f, 65519.0f, 65520.0f, 1e9f, std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                             0.1f, 3.14159f, 1e-7f, -2.5e-6f};
    minihost::RgbaImage image(kWidth, kHeight);
    std::uint32_t seed = 99;
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        image.pixels[i] = i < std::size(special) ? special[i] : float(seed >> 8) / float(1 << 24) * 4.0f - 1.0f;
    }
    for (bool isHalf : {true, false}) {
        std::vector<std::vector<float>> decoded;
        for (const Codec& writer : kCodecs) {
            const std::string file = path(std::string(writer.name == kCodecs[0].name ? "a" : "b") + ".exr");
            writer.writeExr(image, isHalf, file, file);
            for (const Codec& reader : kCodecs) {
                const cli::ExrPixels exr = reader.readExr(file);
                EXPECT_EQ(exr.width, kWidth);
                EXPECT_EQ(exr.height, kHeight);
                EXPECT_EQ(exr.isHalf, isHalf);
                EXPECT_EQ(exr.channels, (std::vector<std::string>{"A", "B", "G", "R"}))
                    << "written by " << writer.name << ", read by " << reader.name;
                decoded.push_back(exr.rgba);
            }
        }
        for (std::size_t k = 1; k < decoded.size(); ++k) {
            ASSERT_EQ(decoded[k].size(), decoded[0].size());
            for (std::size_t i = 0; i < decoded[0].size(); ++i)
                ASSERT_EQ(bitsOf(decoded[k][i]), bitsOf(decoded[0][i]))
                    << (isHalf ? "half" : "float") << " value " << i << " (" << image.pixels[i] << "): "
                    << decoded[k][i] << " against " << decoded[0][i] << " (writer " << kCodecs[k / 2].name
                    << ", reader " << kCodecs[k % 2].name << ")";
        }
        if (!isHalf) {
            for (std::size_t i = 0; i < image.pixels.size(); ++i)
                EXPECT_EQ(bitsOf(decoded[0][i]), bitsOf(image.pixels[i])) << "float value " << i;
        }
    }
}

}  // namespace
