// The cindel command's image files: PNG's straight alpha from the effect's premultiplied output at
// 8 and 16 bits (the host's 16-bit full scale 32768 becoming PNG's 65535), EXR keeping half and
// float values, the Windows build's codec (our PNG writer, stb_image, tinyexr) decoding to the same
// samples as the Linux build's (libpng, OpenEXR), and the header limits that refuse a file
// declaring more than the budget or than its data can hold.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cli_runner.h"
#include "minihost/world.h"
#include "tools/errors.h"
#include "tools/image_codec.h"
#include "tools/image_io.h"
#include "tools/image_limits.h"

namespace cli {
namespace {

using ImageFiles = CindelRun;

// Premultiplied in, straight out: colour ÷ alpha clamped to 0 … 1, rounded to nearest; no
// coverage is black; NaN is 0.
TEST(StraightAlpha, QuantisesAtTheBoundariesOfBothDepths) {
    const struct { float in[4]; std::uint8_t out8[4]; std::uint16_t out16[4]; } cases[] = {
        {{0.25f, 0.125f, 0.0f, 0.5f}, {128, 64, 0, 128}, {32768, 16384, 0, 32768}},  // x.5 rounds up
        {{1.0f, 0.2f, 0.0f, 1.0f}, {255, 51, 0, 255}, {65535, 13107, 0, 65535}},
        {{0.3f, 0.3f, 0.3f, 0.0f}, {0, 0, 0, 0}, {0, 0, 0, 0}},  // colour without coverage
        {{3.0f, -1.0f, NAN, 2.0f}, {255, 0, 0, 255}, {65535, 0, 0, 65535}},  // float output is unclamped
        {{1e-3f, 0.0f, 0.0f, 1e-3f}, {255, 0, 0, 0}, {65535, 0, 0, 66}},  // full colour, alpha below 1/510
        {{0.5f, 0.5f, 0.5f, NAN}, {0, 0, 0, 0}, {0, 0, 0, 0}},  // NaN coverage is none
        {{0.4999999f, 0.50000006f, 0.0f, 1.0f}, {127, 128, 0, 255}, {32767, 32768, 0, 65535}},  // either side of x.5
    };
    for (const auto& c : cases) {
        std::uint8_t out8[4];
        std::uint16_t out16[4];
        straightPixel8(c.in, out8);
        straightPixel16(c.in, out16);
        EXPECT_EQ(std::vector<int>(out8, out8 + 4), std::vector<int>(c.out8, c.out8 + 4)) << c.in[0] << ", " << c.in[3];
        EXPECT_EQ(std::vector<int>(out16, out16 + 4), std::vector<int>(c.out16, c.out16 + 4)) << c.in[0] << ", " << c.in[3];
    }
}

// The host's 16-bit full scale is 32768; PNG's is 65535.
TEST(StraightAlpha, SixteenBitHostWorldsBecomeFullScalePng) {
    minihost::World sixteen(1, 1, 16);
    sixteen.pixel16(0, 0) = PF_Pixel16{16384, 8192, 16384, 0};  // alpha, red, green, blue: half coverage
    const minihost::RgbaImage image = minihost::imageFromWorld(sixteen);
    std::uint16_t out[4];
    straightPixel16(image.at(0, 0), out);  // straight 0.5 and 1 at alpha 0.5
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{32768, 65535, 0, 32768}));
    EXPECT_EQ(minihost::worldFromImage(image, 16).pixel16(0, 0).red, 8192);
}

// Alpha from 0 to 1 across, straight colour (0.8, 0.4, 0.2) everywhere.
minihost::RgbaImage gradient(int width, int height) {
    minihost::RgbaImage image(width, height);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const float alpha = float(i / 4 % std::size_t(width)) / float(width - 1);
        image.pixels[i] = alpha * (i % 4 == 3 ? 1.0f : 0.8f / float(1 << (i % 4)));
    }
    return image;
}

TEST_F(ImageFiles, PngAndExrRoundTripThroughTheFrameWriter) {
    minihost::RgbaImage image = gradient(17, 5);
    writeImageAtomically(image, OutputFormat::Png8, path("a.png"));
    writeImageAtomically(image, OutputFormat::Png16, path("b.png"));
    const PngPixels eight = readPng(path("a.png")), sixteen = readPng(path("b.png"));
    ASSERT_TRUE(eight.width == 17 && eight.height == 5 && sixteen.width == 17 && sixteen.height == 5);
    EXPECT_TRUE(eight.bitDepth == 8 && sixteen.bitDepth == 16);
    for (int x = 1; x < 17; ++x) {
        const std::size_t i = std::size_t(2 * 17 + x) * 4;  // row 2: the straight colour, whatever the alpha
        EXPECT_TRUE(eight.samples[i + 0] == 204 && eight.samples[i + 1] == 102 && eight.samples[i + 2] == 51) << x;
        EXPECT_EQ(eight.samples[i + 3], std::lround(255.0 * x / 16)) << "x " << x;
        EXPECT_NEAR(sixteen.samples[i + 0], 0.8 * 65535, 1.0) << "x " << x;
        EXPECT_EQ(sixteen.samples[i + 3], std::lround(65535.0 * x / 16)) << "x " << x;
    }
    EXPECT_EQ(eight.samples[0] + eight.samples[3], 0);  // x = 0: black and transparent
    EXPECT_EQ(sixteen.samples[16 * 4 + 3], 65535);
    // Read for an image layer, PNG is premultiplied again.
    EXPECT_NEAR(readPngImage(path("b.png")).at(8, 2)[0], image.at(8, 2)[0], 1e-4);

    // EXR keeps the premultiplied values, beyond 1 too: float exactly (the codecs' test below holds
    // half rounding and the other boundaries).
    image.at(8, 3)[0] = 4.5f;
    writeImageAtomically(image, OutputFormat::ExrFloat, path("f.exr"));
    const ExrPixels full = readExr(path("f.exr"));
    EXPECT_TRUE(!full.isHalf && full.rgba == image.pixels);
}

// ---- The two codecs against each other, at an awkward size with values that exercise the half
// rounding: ties, subnormals, overflow, infinities and NaN.

struct Codec {
    const char* name;
    void (*writePng)(const std::string&, const std::uint8_t*, int, int, int, const std::string&);
    PngPixels (*readPng)(const std::string&);
    void (*writeExr)(const minihost::RgbaImage&, bool, const std::string&, const std::string&);
    ExrPixels (*readExr)(const std::string&);
};
const Codec kCodecs[] = {
    {"libpng/OpenEXR", libpng_codec::writePng, libpng_codec::readPng, libpng_codec::writeExr, libpng_codec::readExr},
    {"portable", portable_codec::writePng, portable_codec::readPng, portable_codec::writeExr, portable_codec::readExr},
};
constexpr int kWidth = 13, kHeight = 7;

TEST_F(ImageFiles, EitherCodecReadsWhatEitherWroteAlike) {
    const float tie = 1.0f + std::ldexp(1.0f, -11), inf = std::numeric_limits<float>::infinity();
    const float special[] = {0.0f, -0.0f, 1.0f, 0.5f, tie, -tie, 1.0f + 3 * std::ldexp(1.0f, -11),
                             std::ldexp(1.0f, -24), std::ldexp(1.0f, -25), std::ldexp(3.0f, -26), 6.1e-5f, 65504.0f,
                             65519.0f, 65520.0f, 1e9f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), 1e-7f};
    minihost::RgbaImage image(kWidth, kHeight);
    std::vector<std::uint16_t> samples(image.pixels.size()), samples8(samples.size());
    std::vector<std::uint8_t> bytes8(samples.size()), bytes16(samples.size() * 2);  // 16 bits big-endian
    std::uint32_t seed = 99;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        image.pixels[i] = i < std::size(special) ? special[i] : float(seed >> 8) / float(1 << 24) * 4.0f - 1.0f;
        samples[i] = std::uint16_t(seed >> 16);
        samples8[i] = bytes8[i] = bytes16[2 * i] = std::uint8_t(seed >> 24);
        bytes16[2 * i + 1] = std::uint8_t(seed >> 16);
    }
    libpng_codec::writeExr(image, true, path("ref.exr"), path("ref.exr"));
    const std::vector<float> halves = libpng_codec::readExr(path("ref.exr")).rgba;
    // Half rounding to nearest even: the tie to 1, 2^-25 to 0, 0.75 · 2^-24 up to 2^-24, 65519 down to
    // the largest half, 65520 to infinity.
    ASSERT_EQ(halves.size(), image.pixels.size());  // the specials come first
    EXPECT_EQ((std::vector<float>{halves[4], halves[8], halves[9], halves[12], halves[13]}),
              (std::vector<float>{1.0f, 0.0f, std::ldexp(1.0f, -24), 65504.0f, inf}));
    for (const Codec& writer : kCodecs) {
        for (const Codec& reader : kCodecs) {
            SCOPED_TRACE(std::string("written by ") + writer.name + ", read by " + reader.name);
            writer.writePng(path("8.png"), bytes8.data(), kWidth, kHeight, 8, path("8.png"));
            writer.writePng(path("16.png"), bytes16.data(), kWidth, kHeight, 16, path("16.png"));
            EXPECT_EQ(reader.readPng(path("8.png")).samples, samples8);
            EXPECT_EQ(reader.readPng(path("16.png")).samples, samples);
            for (const bool isHalf : {true, false}) {
                writer.writeExr(image, isHalf, path("f.exr"), path("f.exr"));
                const ExrPixels exr = reader.readExr(path("f.exr"));
                EXPECT_TRUE(exr.width == kWidth && exr.height == kHeight && exr.isHalf == isHalf);
                EXPECT_EQ(exr.channels, (std::vector<std::string>{"A", "B", "G", "R"}));
                // Half: bit for bit what the Linux pair decodes; float: the written values exactly.
                const std::vector<float>& expected = isHalf ? halves : image.pixels;
                ASSERT_EQ(exr.rgba.size(), expected.size());
                for (std::size_t i = 0; i < expected.size(); ++i)
                    ASSERT_EQ(std::memcmp(&exr.rgba[i], &expected[i], sizeof(float)), 0)
                        << (isHalf ? "half" : "float") << " " << i << ": " << image.pixels[i] << " became "
                        << exr.rgba[i] << ", not " << expected[i];
            }
        }
    }
}

using Bytes = std::string;

void appendBigEndian(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift);
}

// A chunk with its CRC, whose length field may claim more than the data it holds.
Bytes pngChunk(const char* type, const Bytes& data, std::int64_t declaredLength = -1) {
    Bytes chunk;
    appendBigEndian(chunk, std::uint32_t(declaredLength < 0 ? data.size() : std::size_t(declaredLength)));
    const Bytes body = std::string(type, 4) + data;
    appendBigEndian(chunk += body, std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return chunk;
}

Bytes zlibOf(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
    return out.substr(0, size);
}

// An RGBA, 8-bit, non-interlaced PNG declaring width × height over the given image data, padded
// with a text chunk to about `padTo` bytes.
Bytes craftedPng(std::uint32_t width, std::uint32_t height, const Bytes& idat, std::size_t padTo = 0) {
    Bytes header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += Bytes{8, 6, 0, 0, 0};
    Bytes png = "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", header) + pngChunk("IDAT", idat);
    if (padTo > png.size() + 44) png += pngChunk("tEXt", Bytes("Comment") + '\0' + Bytes(padTo - png.size() - 44, 'x'));
    return png + pngChunk("IEND", "");
}

// Each file is refused within 200 ms with a message holding each of its words: from the header
// and the chunk lengths only, where decoding the declared pixels would take seconds and gigabytes.
// Files that hold what they declare, up to the budget and the deflate bound, still read.
TEST_F(ImageFiles, HeadersBeyondTheBudgetOrTheirDataAreRefusedBeforeDecodingAndRealFilesRead) {
    const Bytes littleData = zlibOf(Bytes(1000, '\0'));
    const struct { const char* name; Bytes file; std::vector<std::string> words; } cases[] = {
        // The reported file: 1 KB declaring 60000 × 60000.
        {"sides.png", craftedPng(60000, 60000, littleData, 1024), {"sides.png", "60000 x 60000", "30000 pixels a side"}},
        {"pixels.png", craftedPng(20000, 20000, littleData), {"20000 x 20000", "268435456 pixels"}},
        {"empty.png", craftedPng(0, 5, littleData), {"0 x 5", "empty"}},
        // Within the budget, but 1 GB of pixels cannot come out of a few bytes.
        {"inflate.png", craftedPng(16000, 16000, littleData, 1024), {"16000 x 16000", "inflate to at most", "truncated"}},
        {"chunk.png", "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", Bytes{0, 0, 0, 4, 0, 0, 0, 4, 8, 6, 0, 0, 0}) +
                          pngChunk("IDAT", littleData, 0x7FFFFF00u),
         {"chunk \"IDAT\"", "2147483392 bytes", "truncated"}},
        {"fake.png", "not an image at all", {"fake.png", "not a PNG"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = writeFile(c.name, c.file);
        const auto start = std::chrono::steady_clock::now();
        try {
            readPngImage(file);
            ADD_FAILURE() << "the file was read";
        } catch (const RuntimeFailure& e) {
            for (const std::string& w : c.words) EXPECT_CONTAINS(e.what(), w);
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.2);
    }
    // Zeros at zlib's best compression come closest to the deflate bound a real file reaches.
    const Bytes rows(std::size_t(1 + 4 * 1024) * 1024, '\0');
    const Bytes data = zlibOf(rows);
    ASSERT_GT(rows.size(), data.size() * 1000) << "not near the bound, so the test would prove nothing";
    const PngPixels png = readPng(writeFile("zeros.png", craftedPng(1024, 1024, data)));
    EXPECT_TRUE(png.width == 1024 && png.height == 1024);
    // The budget's edges: 30000 a side, 2^28 pixels in all (30000 × 8947 = 268410000).
    EXPECT_TRUE(imageBudgetRefusal(16384, 16384).empty() && imageBudgetRefusal(30000, 8947).empty());
    EXPECT_FALSE(imageBudgetRefusal(30001, 1).empty() || imageBudgetRefusal(30000, 8948).empty());
}

}  // namespace
}  // namespace cli
