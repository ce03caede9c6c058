// Tests of what an image file may make the cindel command allocate: hand-made PNG and EXR headers
// that declare more pixels than the budget, or more than their data can inflate to, are refused
// from the header in milliseconds with a message naming the file and the sizes, by the readers and
// by the command (exit 2, the scene's error); real files at the deflate bound and at the budget
// still read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "tools/errors.h"
#include "tools/image_io.h"
#include "tools/image_limits.h"

namespace cli {
namespace {

using Bytes = std::string;

void appendBigEndian(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift);
}

void appendLittleEndian(Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out += char(v >> shift);
}

Bytes pngChunk(const char* type, const Bytes& data, std::uint32_t declaredLength) {
    Bytes chunk;
    appendBigEndian(chunk, declaredLength);
    const Bytes body = std::string(type, 4) + data;
    chunk += body;
    appendBigEndian(chunk, std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return chunk;
}

Bytes pngChunk(const char* type, const Bytes& data) { return pngChunk(type, data, std::uint32_t(data.size())); }

Bytes zlibOf(const Bytes& raw, int level) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                        uLong(raw.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

// An RGBA, 8-bit, non-interlaced PNG declaring width × height over the given image data, padded
// with a text chunk to about `padTo` bytes.
Bytes craftedPng(std::uint32_t width, std::uint32_t height, const Bytes& idat, std::size_t padTo = 0) {
    Bytes header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += Bytes{8, 6, 0, 0, 0};
    Bytes png = "\x89PNG\r\n\x1a\n";
    png += pngChunk("IHDR", header);
    png += pngChunk("IDAT", idat);
    const std::size_t soFar = png.size() + 12 + 12;
    if (padTo > soFar + 20) {
        Bytes text = "Comment";
        text += '\0';
        text.append(padTo - soFar - 20, 'x');
        png += pngChunk("tEXt", text);
    }
    png += pngChunk("IEND", "");
    return png;
}

// A scan-line EXR header: one half channel "R", the compression and the data window, then the
// offset table of `tableEntries` zeros.
Bytes craftedExr(std::int32_t width, std::int32_t height, std::uint8_t compression, std::size_t tableEntries) {
    Bytes exr;
    appendLittleEndian(exr, 20000630);
    appendLittleEndian(exr, 2);
    auto attribute = [&exr](const char* name, const char* type, const Bytes& value) {
        exr += name;
        exr += '\0';
        exr += type;
        exr += '\0';
        appendLittleEndian(exr, std::uint32_t(value.size()));
        exr += value;
    };
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "R" + std::string.
    Bytes channels(1, 'R');
    channels += '\0';
    appendLittleEndian(channels, 1);  // half
    channels += Bytes(4, '\0');       // pLinear and reserved
    appendLittleEndian(channels, 1);
    appendLittleEndian(channels, 1);
    channels += Bytes(1, '\0');
    attribute("channels", "chlist", channels);
    attribute("compression", "compression", Bytes(1, char(compression)));
    Bytes window;
    for (std::int32_t v : {0, 0, width - 1, height - 1}) appendLittleEndian(window, std::uint32_t(v));
    attribute("dataWindow", "box2i", window);
    attribute("displayWindow", "box2i", window);
    exr += Bytes(1, '\0');
    exr += Bytes(tableEntries * 8, '\0');
    return exr;
}

class ImageLimits : public CindelRun {
protected:
    std::string save(const std::string& name, const Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return path(name);
    }

    // Runs `read` on the file, which must be refused within 200 ms (the header and the chunk
    // lengths only; decoding the declared pixels would take seconds and gigabytes) with a message
    // holding each of `words`.
    void expectRefused(const std::function<void()>& read, const std::vector<std::string>& words) {
        const auto start = std::chrono::steady_clock::now();
        try {
            read();
            ADD_FAILURE() << "the file was read";
        } catch (const RuntimeFailure& e) {
            for (const std::string& w : words) EXPECT_NE(std::string(e.what()).find(w), std::string::npos) << e.what();
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.2);
    }
};

TEST_F(ImageLimits, PngHeadersBeyondTheBudgetOrTheirDataAreRefused) {
    const Bytes littleData = zlibOf(Bytes(1000, '\0'), 9);
    struct Case {
        const char* name;
        Bytes file;
        std::vector<std::string> words;
    } cases[] = {
        // The reported file: 1 KB declaring 60000 × 60000.
        {"sides.png", craftedPng(60000, 60000, littleData, 1024), {"sides.png", "60000 x 60000", "30000 pixels a side"}},
        {"pixels.png", craftedPng(20000, 20000, littleData), {"20000 x 20000", "268435456 pixels"}},
        {"empty.png", craftedPng(0, 5, littleData), {"0 x 5", "empty"}},
        // Within the budget, but 1 GB of pixels cannot come out of a few bytes.
        {"inflate.png", craftedPng(16000, 16000, littleData, 1024), {"16000 x 16000", "inflate to at most", "truncated"}},
        {"chunk.png", "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", Bytes{0, 0, 0, 4, 0, 0, 0, 4, 8, 6, 0, 0, 0}) +
                          pngChunk("IDAT", littleData, 0x7FFFFF00u),
         {"chunk \"IDAT\"", "2147483392 bytes", "truncated"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = save(c.name, c.file);
        expectRefused([&] { readPngImage(file); }, c.words);
    }
}

TEST_F(ImageLimits, ExrHeadersBeyondTheBudgetOrTheFileAreRefused) {
    struct Case {
        const char* name;
        Bytes file;
        std::vector<std::string> words;
    } cases[] = {
        {"sides.exr", craftedExr(60000, 60000, 3, 4), {"sides.exr", "60000 x 60000", "30000 pixels a side"}},
        // 1875 ZIP chunks of 16 lines need 30 KB of offsets and chunk headers alone.
        {"table.exr", craftedExr(1000, 30000, 3, 4), {"1875 chunks", "truncated"}},
        // Uncompressed, every half of 8000 × 8000 must be in the file.
        {"raw.exr", craftedExr(8000, 8000, 0, 8000), {"8000 x 8000", "truncated"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = save(c.name, c.file);
        expectRefused([&] { readExr(file); }, c.words);
    }
}

TEST_F(ImageLimits, FilesThatHoldWhatTheyDeclareStillRead) {
    // Zeros at zlib's best compression come closest to the deflate bound a real file reaches.
    const std::uint32_t width = 1024, height = 1024;
    Bytes rows;
    for (std::uint32_t y = 0; y < height; ++y) rows += Bytes(1 + 4 * width, '\0');
    const Bytes data = zlibOf(rows, 9);
    ASSERT_GT(rows.size(), data.size() * 1000) << "not near the bound, so the test would prove nothing";
    const PngPixels png = readPng(save("zeros.png", craftedPng(width, height, data)));
    EXPECT_EQ(png.width, int(width));
    EXPECT_EQ(png.height, int(height));

    minihost::RgbaImage image(31, 7);
    for (float& v : image.pixels) v = 0.5f;
    for (OutputFormat format : {OutputFormat::Png8, OutputFormat::ExrHalf, OutputFormat::ExrFloat}) {
        const std::string file = path(format == OutputFormat::Png8 ? "small.png" : "small.exr");
        writeImageAtomically(image, format, file);
        const int readWidth = format == OutputFormat::Png8 ? readPng(file).width : readExr(file).width;
        EXPECT_EQ(readWidth, 31);
    }
    EXPECT_EQ(imageBudgetRefusal(16384, 16384), "");
    EXPECT_EQ(imageBudgetRefusal(30000, 8947), "");  // 268410000 pixels
    EXPECT_NE(imageBudgetRefusal(30001, 1), "");
    EXPECT_NE(imageBudgetRefusal(30000, 8948), "");
}

TEST_F(ImageLimits, TheCommandRefusesTheLayerAsABadScene) {
    save("huge.png", craftedPng(60000, 60000, zlibOf(Bytes(1000, '\0'), 9), 1024));
    const std::string scene = writeScene("scene.json", R"({
        "composition": { "width": 64, "height": 36, "duration": 2 },
        "layers": [ { "type": "effect" }, { "type": "image", "name": "Logo", "file": "huge.png" } ] })");
    const auto start = std::chrono::steady_clock::now();
    const Outcome run = cindel({"render", scene, "--out", path("out")});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
    EXPECT_NE(run.err.find("scene.json: layers[1].file: cannot read image"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("60000 x 60000"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(path("out/frame_0000.png")));
    EXPECT_LT(seconds, 5.0) << "the command was meant to stop at the header";  // a process start, no decoding
}

}  // namespace
}  // namespace cli
