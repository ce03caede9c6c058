// Tests of the cindel command's image files: the straight-alpha conversion of PNG from the effect's
// premultiplied output at 8 and 16 bits (the host's 16-bit full scale 32768 becoming PNG's 65535),
// EXR keeping premultiplied half and float values, reading images back, and the atomic write that
// leaves no partial file behind when it fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "minihost/rgba_image.h"
#include "minihost/world.h"
#include "tools/errors.h"
#include "tools/image_io.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

class ScratchDir {
public:
    ScratchDir() {
        std::string name = "png_output_test-";
        name += std::to_string(getpid());
        name += "-";
        name += ::testing::UnitTest::GetInstance()->current_test_info()->name();
        path_ = fs::temp_directory_path() / name;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

private:
    fs::path path_;
};

TEST(StraightAlpha, EightBitDividesColourByAlpha) {
    const float half[4] = {0.25f, 0.125f, 0.0f, 0.5f};  // premultiplied: straight (0.5, 0.25, 0) at alpha 0.5
    std::uint8_t out[4];
    straightPixel8(half, out);
    EXPECT_EQ(out[0], 128);  // 0.5 × 255 = 127.5 rounds up
    EXPECT_EQ(out[1], 64);   // 0.25 × 255 = 63.75
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 128);

    const float opaque[4] = {1.0f, 0.2f, 0.0f, 1.0f};
    straightPixel8(opaque, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 51);
    EXPECT_EQ(out[3], 255);
}

TEST(StraightAlpha, TransparentPixelsAreBlackAndOutOfRangeValuesClamp) {
    const float clear[4] = {0.3f, 0.3f, 0.3f, 0.0f};  // colour without coverage: nothing to divide by
    std::uint8_t out[4];
    straightPixel8(clear, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[3], 0);

    const float hot[4] = {3.0f, -1.0f, NAN, 2.0f};  // float output is not clamped by the effect
    std::uint16_t wide[4];
    straightPixel16(hot, wide);
    EXPECT_EQ(wide[0], 65535);
    EXPECT_EQ(wide[1], 0);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(wide[3], 65535);
}

TEST(StraightAlpha, SixteenBitHostFullScaleBecomesPngFullScale) {
    minihost::World world(3, 1, 16);
    world.pixel16(0, 0) = PF_Pixel16{32768, 32768, 16384, 0};  // alpha, red, green, blue
    world.pixel16(1, 0) = PF_Pixel16{16384, 8192, 16384, 0};   // half coverage, premultiplied
    world.pixel16(2, 0) = PF_Pixel16{0, 0, 0, 0};
    minihost::RgbaImage image = minihost::imageFromWorld(world);

    std::uint16_t out[4];
    straightPixel16(image.at(0, 0), out);
    EXPECT_EQ(out[3], 65535);
    EXPECT_EQ(out[0], 65535);
    EXPECT_EQ(out[1], 32768);  // 0.5 × 65535 = 32767.5 rounds up
    straightPixel16(image.at(1, 0), out);
    EXPECT_EQ(out[3], 32768);
    EXPECT_EQ(out[0], 32768);  // 8192 / 16384 = 0.5 straight
    EXPECT_EQ(out[1], 65535);  // 16384 / 16384 = 1.0 straight
    straightPixel16(image.at(2, 0), out);
    EXPECT_EQ(out[3], 0);
}

TEST(WorldImage, DepthsReadWithTheHostsScales) {
    minihost::World eight(1, 1, 8), sixteen(1, 1, 16), thirtyTwo(1, 1, 32);
    eight.pixel8(0, 0) = PF_Pixel8{255, 51, 0, 255};
    sixteen.pixel16(0, 0) = PF_Pixel16{32768, 8192, 0, 32768};
    thirtyTwo.pixel32(0, 0) = PF_PixelFloat{1.0f, 2.5f, -0.5f, 0.25f};
    minihost::RgbaImage shallow = minihost::imageFromWorld(eight);
    EXPECT_FLOAT_EQ(shallow.at(0, 0)[0], 0.2f);
    EXPECT_FLOAT_EQ(shallow.at(0, 0)[3], 1.0f);
    minihost::RgbaImage deep = minihost::imageFromWorld(sixteen);
    EXPECT_FLOAT_EQ(deep.at(0, 0)[0], 0.25f);
    EXPECT_FLOAT_EQ(deep.at(0, 0)[2], 1.0f);
    minihost::RgbaImage flt = minihost::imageFromWorld(thirtyTwo);
    EXPECT_FLOAT_EQ(flt.at(0, 0)[0], 2.5f);  // float worlds keep values beyond 0 … 1
    EXPECT_FLOAT_EQ(flt.at(0, 0)[1], -0.5f);

    // And back: 16 bits full scale is 32768, not 65535.
    minihost::World again = minihost::worldFromImage(deep, 16);
    EXPECT_EQ(again.pixel16(0, 0).alpha, 32768);
    EXPECT_EQ(again.pixel16(0, 0).red, 8192);
}

minihost::RgbaImage gradient(int width, int height) {
    minihost::RgbaImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float alpha = float(x) / float(width - 1);
            float* p = image.at(x, y);
            p[0] = 0.8f * alpha, p[1] = 0.4f * alpha, p[2] = (y % 2 ? 0.1f : 0.0f) * alpha, p[3] = alpha;
        }
    }
    return image;
}

TEST(PngFile, EightAndSixteenBitFilesReadBackStraight) {
    ScratchDir dir;
    const minihost::RgbaImage image = gradient(17, 5);
    writeImageAtomically(image, OutputFormat::Png8, dir.file("a.png"));
    writeImageAtomically(image, OutputFormat::Png16, dir.file("b.png"));

    PngPixels eight = readPng(dir.file("a.png"));
    ASSERT_EQ(eight.width, 17);
    ASSERT_EQ(eight.height, 5);
    EXPECT_EQ(eight.bitDepth, 8);
    PngPixels sixteen = readPng(dir.file("b.png"));
    EXPECT_EQ(sixteen.bitDepth, 16);
    for (int x = 1; x < 17; ++x) {
        const std::size_t i = std::size_t(2 * 17 + x) * 4;  // row 2
        // Straight colour is the same across the gradient; only alpha changes.
        EXPECT_EQ(eight.samples[i + 0], 204) << "x " << x;
        EXPECT_EQ(eight.samples[i + 1], 102) << "x " << x;
        EXPECT_EQ(eight.samples[i + 3], std::lround(255.0 * x / 16)) << "x " << x;
        EXPECT_NEAR(sixteen.samples[i + 0], 0.8 * 65535, 1.0) << "x " << x;
        EXPECT_EQ(sixteen.samples[i + 3], std::lround(65535.0 * x / 16)) << "x " << x;
    }
    EXPECT_EQ(eight.samples[3], 0);  // x = 0 is transparent

    // Reading for an image layer premultiplies again.
    minihost::RgbaImage layer = readPngImage(dir.file("b.png"));
    EXPECT_NEAR(layer.at(8, 2)[0], image.at(8, 2)[0], 1e-4);
    EXPECT_NEAR(layer.at(8, 2)[3], image.at(8, 2)[3], 1e-4);
}

TEST(ExrFile, HalfAndFloatKeepPremultipliedValues) {
    ScratchDir dir;
    minihost::RgbaImage image = gradient(9, 4);
    image.at(8, 3)[0] = 4.5f;  // beyond 1: EXR keeps it
    writeImageAtomically(image, OutputFormat::ExrHalf, dir.file("h.exr"));
    writeImageAtomically(image, OutputFormat::ExrFloat, dir.file("f.exr"));

    ExrPixels half = readExr(dir.file("h.exr"));
    ExrPixels full = readExr(dir.file("f.exr"));
    ASSERT_EQ(half.width, 9);
    ASSERT_EQ(half.height, 4);
    EXPECT_TRUE(half.isHalf);
    EXPECT_FALSE(full.isHalf);
    EXPECT_EQ(half.channels.size(), 4u);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        EXPECT_NEAR(half.rgba[i], image.pixels[i], 2e-3 * std::max(1.0f, std::fabs(image.pixels[i]))) << i;
        EXPECT_EQ(full.rgba[i], image.pixels[i]) << i;
    }
}

TEST(AtomicWrite, FailedRenameLeavesNoPartialFile) {
    ScratchDir dir;
    // A non-empty folder where the frame should go: the rename over it must fail (even for root).
    fs::create_directories(dir.path() / "frame_0000.png" / "keep");
    try {
        writeImageAtomically(gradient(4, 4), OutputFormat::Png8, dir.file("frame_0000.png"));
        FAIL() << "the write should have failed";
    } catch (const RuntimeFailure& e) {
        EXPECT_NE(std::string(e.what()).find("frame_0000.png"), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"frame_0000.png"});  // the folder only, no temporary
}

TEST(AtomicWrite, ReplacesAnOlderFileWhole) {
    ScratchDir dir;
    std::ofstream(dir.file("f.png")) << "old";
    writeImageAtomically(gradient(6, 2), OutputFormat::Png8, dir.file("f.png"));
    EXPECT_EQ(readPng(dir.file("f.png")).width, 6);
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(OutputDirectory, UnwritablePlacesAreRefusedWithTheReason) {
    ScratchDir dir;
    std::ofstream(dir.file("plain")) << "x";
    try {
        prepareOutputDirectory(dir.file("plain") + "/frames");
        FAIL() << "a folder under a plain file cannot exist";
    } catch (const RuntimeFailure& e) {
        EXPECT_NE(std::string(e.what()).find("plain/frames"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("cannot create"), std::string::npos) << e.what();
    }
    prepareOutputDirectory(dir.file("new/deeper"));
    EXPECT_TRUE(fs::is_directory(dir.file("new/deeper")));
    EXPECT_TRUE(fs::is_empty(dir.file("new/deeper")));  // the probe file is gone
}

TEST(ImageFiles, UnreadableImagesAreNamedWithTheReason) {
    ScratchDir dir;
    std::ofstream(dir.file("fake.png")) << "not an image at all";
    try {
        readPngImage(dir.file("fake.png"));
        FAIL();
    } catch (const RuntimeFailure& e) {
        EXPECT_NE(std::string(e.what()).find("fake.png"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("not a PNG"), std::string::npos);
    }
    try {
        readPngImage(dir.file("missing.png"));
        FAIL();
    } catch (const RuntimeFailure& e) {
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace cli
