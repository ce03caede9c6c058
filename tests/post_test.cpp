// The image-space post passes on the effect's own runtime: the half-resolution upsample, the
// bloom pyramid's sizes, the soft-knee bright pass, bloom and light cast against a double
// reference of the whole pyramid, their skip conditions, the heat distortion's skip, bounds and
// scrolling, and the library image kernels the frame chain does not launch (Gaussian blur, radial
// blur, additive composite). Host passes run on rt.render buffers allocated here, as the render
// driver would; sizes are deliberately odd (37 × 23, 97 × 71).
//
// Tolerances: every reference runs in double on the float inputs. The upsample and the pyramid
// compute their sample positions in float, off by at most a few ulps of coordinates below 100
// (1e-5 px), times a neighbour jump of at most a few units; with the float blends that stays under
// 1e-5 of the image's largest value, the tolerance used (an index or weight mistake moves a
// value by a sizeable share of a jump). The bright pass is a handful of float operations on
// values near 1: 1e-6 relative.
#include "render/post.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"

namespace {

using cindel::KernelLaunch;
using cindel::KernelRole;

constexpr double kImageTol = 1e-5;  // relative to the image's largest value (see above)
constexpr double kKneeTol = 1e-6;   // relative

// A float4 image, rows packed, y·W + x.
struct Image {
    int w = 0;
    int h = 0;
    std::vector<float> px;

    Image() = default;
    Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height * 4, 0.0f) {}
    float& at(int x, int y, int c) { return px[(static_cast<size_t>(y) * w + x) * 4 + c]; }
    float at(int x, int y, int c) const { return px[(static_cast<size_t>(y) * w + x) * 4 + c]; }
    size_t bytes() const { return px.size() * sizeof(float); }
};

bool bitEqual(const Image& a, const Image& b) {
    return a.px.size() == b.px.size() && std::memcmp(a.px.data(), b.px.data(), a.bytes()) == 0;
}

double maxAbs(const Image& a) {
    double m = 0.0;
    for (float v : a.px) m = std::max(m, double(std::fabs(v)));
    return m;
}

double maxDiff(const Image& a, const Image& b) {
    double m = 0.0;
    for (size_t i = 0; i < a.px.size(); ++i) m = std::max(m, std::fabs(double(a.px[i]) - double(b.px[i])));
    return m;
}

Image randomImage(int w, int h, unsigned seed, float lo, float hi) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    Image img(w, h);
    for (float& v : img.px) v = u(rng);
    return img;
}

// ---- double references --------------------------------------------------------------------

// Bilinear sample in index space with each corner clamped, as the kernels' sampler.
void sampleRef(const Image& img, double px, double py, double out[4]) {
    const double fx = std::floor(px);
    const double fy = std::floor(py);
    const double tx = px - fx;
    const double ty = py - fy;
    const int x0 = static_cast<int>(fx);
    const int y0 = static_cast<int>(fy);
    const int xa = std::clamp(x0, 0, img.w - 1);
    const int xb = std::clamp(x0 + 1, 0, img.w - 1);
    const int ya = std::clamp(y0, 0, img.h - 1);
    const int yb = std::clamp(y0 + 1, 0, img.h - 1);
    for (int c = 0; c < 4; ++c) {
        const double top = img.at(xa, ya, c) * (1 - tx) + img.at(xb, ya, c) * tx;
        const double bottom = img.at(xa, yb, c) * (1 - tx) + img.at(xb, yb, c) * tx;
        out[c] = top * (1 - ty) + bottom * ty;
    }
}

double kneeScale(double lum, double threshold) {
    const double knee = 0.5;
    double soft = std::clamp(lum - threshold + knee, 0.0, 2 * knee);
    soft = soft * soft / (4 * knee + 1e-4);
    const double contribution = std::max(lum - threshold, soft);
    return lum > 1e-4 ? contribution / lum : 0.0;
}

Image extractRef(const Image& src, double threshold) {
    Image out(src.w, src.h);
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) {
            const double lum = std::max({src.at(x, y, 0), src.at(x, y, 1), src.at(x, y, 2)});
            const double s = kneeScale(lum, threshold);
            for (int c = 0; c < 4; ++c) out.at(x, y, c) = static_cast<float>(src.at(x, y, c) * s);
        }
    return out;
}

Image downRef(const Image& src, int dw, int dh) {
    Image out(dw, dh);
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            const int x0 = std::min(2 * x, src.w - 1);
            const int y0 = std::min(2 * y, src.h - 1);
            const int x1 = std::min(x0 + 1, src.w - 1);
            const int y1 = std::min(y0 + 1, src.h - 1);
            for (int c = 0; c < 4; ++c) {
                const double sum =
                    double(src.at(x0, y0, c)) + src.at(x1, y0, c) + src.at(x0, y1, c) + src.at(x1, y1, c);
                out.at(x, y, c) = static_cast<float>(0.25 * sum);
            }
        }
    return out;
}

void upAddRef(const Image& src, Image& dst, double blend) {
    for (int y = 0; y < dst.h; ++y)
        for (int x = 0; x < dst.w; ++x) {
            double up[4];
            sampleRef(src, (x + 0.5) * 0.5 - 0.5, (y + 0.5) * 0.5 - 0.5, up);
            for (int c = 0; c < 4; ++c) dst.at(x, y, c) = static_cast<float>(dst.at(x, y, c) + up[c] * blend);
        }
}

Image glowRef(const Image& frame, double threshold, double finalBlend) {
    const cindel::BloomPyramid p = cindel::bloomPyramidFor(frame.w, frame.h);
    std::vector<Image> levels;
    Image src = extractRef(frame, threshold);
    for (int k = 0; k < p.count; ++k) {
        levels.push_back(downRef(k == 0 ? src : levels.back(), p.width[k], p.height[k]));
    }
    for (int k = p.count - 1; k >= 1; --k) upAddRef(levels[k], levels[k - 1], 1.0);
    Image out = frame;
    upAddRef(levels[0], out, finalBlend);
    return out;
}

// ---- fixture --------------------------------------------------------------------------------

class PostTest : public ::testing::Test {
protected:
    void SetUp() override {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        if (!h.skipReason().empty()) GTEST_SKIP() << h.skipReason();
        ASSERT_TRUE(h.setupError().empty()) << h.setupError();
        ASSERT_TRUE(rt().ready) << "the effect's runtime did not start";
        violationsBefore_ = cindel::kernelContractViolations();
        savedLastFrame_ = rt().grid.lastFrame;
        cindel::resetFrameSettings(settings_);
    }
    void TearDown() override {
        if (!rt().ready) return;
        rt().grid.lastFrame = savedLastFrame_;
        EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_);
    }

    cindel::GpuRuntime& rt() { return cindel::gpuRuntime(); }
    cindel::RenderBuffers& rb() { return rt().render; }

    cl_mem ensure(cindel::SizedBuffer& b, size_t bytes) { return cindel::ensureBuffer(rt().context, b, bytes); }
    void write(cl_mem m, const Image& img) {
        cindel::cl().clEnqueueWriteBuffer(rt().queue, m, CL_TRUE, 0, img.bytes(), img.px.data(), 0, nullptr, nullptr);
    }
    Image read(cl_mem m, int w, int h) {
        Image img(w, h);
        std::fill(img.px.begin(), img.px.end(), std::nanf(""));
        cindel::cl().clEnqueueReadBuffer(rt().queue, m, CL_TRUE, 0, img.bytes(), img.px.data(), 0, nullptr, nullptr);
        return img;
    }

    // The frame into imageBuffer, with the full-size scratch images the passes need.
    void setFrame(const Image& img) {
        const size_t bytes = img.bytes();
        ASSERT_NE(ensure(rb().imageBuffer, bytes), nullptr);
        ASSERT_NE(ensure(rb().postA, bytes), nullptr);
        ASSERT_NE(ensure(rb().postB, bytes), nullptr);
        write(rb().imageBuffer.handle, img);
    }
    Image frame(int w, int h) { return read(rb().imageBuffer.handle, w, h); }

    // The pyramid for a W × H output, as the render driver records it; `maxLevels` cuts it short
    // the way a level whose buffer cannot be made does.
    void preparePyramid(int w, int h, int maxLevels = cindel::kMaxBloomLevels) {
        const cindel::BloomPyramid p = cindel::bloomPyramidFor(w, h);
        rb().bloomLevelCount = 0;
        for (int k = 0; k < std::min(p.count, maxLevels); ++k) {
            const size_t bytes = static_cast<size_t>(p.width[k]) * p.height[k] * 16;
            ASSERT_NE(ensure(rb().bloomLevels[k], bytes), nullptr);
            rb().bloomWidth[k] = p.width[k];
            rb().bloomHeight[k] = p.height[k];
            ++rb().bloomLevelCount;
        }
    }

    // One launch of a library kernel on buffers made here, waited for.
    cl_mem scratch(size_t index, size_t bytes) {
        if (scratch_.size() <= index) scratch_.resize(index + 1);
        return ensure(scratch_[index], bytes);
    }
    void finish() { cindel::cl().clFinish(rt().queue); }

    void releaseScratch() {
        for (cindel::SizedBuffer& b : scratch_) cindel::releaseBuffer(b);
        scratch_.clear();
    }
    ~PostTest() override { releaseScratch(); }

    cindel::FrameSettings settings_{};
    std::vector<cindel::SizedBuffer> scratch_;
    int violationsBefore_ = 0;
    int savedLastFrame_ = -1;
};

// ---- upsample -------------------------------------------------------------------------------

TEST_F(PostTest, UpsampleMatchesBilinearReferenceAndKeepsEdges) {
    const int W = 37;
    const int H = 23;
    const int hW = (W + 1) / 2;
    const int hH = (H + 1) / 2;
    const Image half = randomImage(hW, hH, 7, 0.0f, 2.0f);
    ASSERT_NE(ensure(rb().halfImage, half.bytes()), nullptr);
    write(rb().halfImage.handle, half);
    Image poison(W, H);
    std::fill(poison.px.begin(), poison.px.end(), std::nanf(""));
    setFrame(poison);

    cindel::upsampleHalfImage(rt(), W, H);
    const Image out = frame(W, H);

    const double tol = kImageTol * maxAbs(half);
    double worst = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double ref[4];
            sampleRef(half, (x + 0.5) * hW / W - 0.5, (y + 0.5) * hH / H - 0.5, ref);
            for (int c = 0; c < 4; ++c) {
                ASSERT_FALSE(std::isnan(out.at(x, y, c))) << "pixel (" << x << ", " << y << ") not written";
                worst = std::max(worst, std::fabs(out.at(x, y, c) - ref[c]));
            }
        }
    EXPECT_LE(worst, tol);
    // Corners fall outside the half image's texel centres and read the clamped edge texels alone:
    // exactly, because blending a value with itself returns it.
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(out.at(0, 0, c), half.at(0, 0, c));
        EXPECT_EQ(out.at(W - 1, 0, c), half.at(hW - 1, 0, c));
        EXPECT_EQ(out.at(0, H - 1, c), half.at(0, hH - 1, c));
        EXPECT_EQ(out.at(W - 1, H - 1, c), half.at(hW - 1, hH - 1, c));
    }
    // Non-vacuity: interior pixels are real blends, not copies of one texel.
    EXPECT_NE(out.at(W / 2, H / 2, 0), half.at(hW / 2, hH / 2, 0));
}

TEST_F(PostTest, UpsampleIsSkippedWithoutAHalfImageLargeEnough) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 3, 0.0f, 1.0f);
    setFrame(img);
    cindel::releaseBuffer(rb().halfImage);
    ASSERT_NE(ensure(rb().halfImage, 16), nullptr);  // far smaller than 19 × 12 texels
    cindel::upsampleHalfImage(rt(), W, H);
    EXPECT_TRUE(bitEqual(frame(W, H), img));
    cindel::releaseBuffer(rb().halfImage);
}

// ---- pyramid sizes --------------------------------------------------------------------------

TEST(BloomPyramid, LevelCountsAndSizes) {
    const cindel::BloomPyramid p15 = cindel::bloomPyramidFor(15, 15);
    ASSERT_EQ(p15.count, 1);
    EXPECT_EQ(p15.width[0], 8);
    EXPECT_EQ(p15.height[0], 8);

    EXPECT_EQ(cindel::bloomPyramidFor(14, 14).count, 0);  // level 0 would be 7 × 7
    EXPECT_EQ(cindel::bloomPyramidFor(7, 100).count, 0);  // narrow: 4 × 50
    EXPECT_EQ(cindel::bloomPyramidFor(100, 15).count, 1);
    EXPECT_EQ(cindel::bloomPyramidFor(28, 28).count, 1);  // 14, then 7
    EXPECT_EQ(cindel::bloomPyramidFor(29, 29).count, 2);  // 15, then 8: the smallest with bloom
    EXPECT_EQ(cindel::bloomPyramidFor(0, 0).count, 0);

    const cindel::BloomPyramid hd = cindel::bloomPyramidFor(1920, 1080);
    ASSERT_EQ(hd.count, 5);
    const int w[5] = {960, 480, 240, 120, 60};
    const int h[5] = {540, 270, 135, 68, 34};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(hd.width[k], w[k]) << "level " << k;
        EXPECT_EQ(hd.height[k], h[k]) << "level " << k;
    }
    // Never more than five levels, however large the output.
    EXPECT_EQ(cindel::bloomPyramidFor(8192, 8192).count, 5);
}

// ---- bright pass ----------------------------------------------------------------------------

TEST_F(PostTest, ExtractBrightSoftKneeScalesAllFourChannels) {
    const int W = 37;
    const int H = 23;
    const float threshold = 0.6f;
    Image img = randomImage(W, H, 11, 0.0f, 2.5f);
    // Hand-picked cases in the first row: the brightest channel exactly at the threshold (the knee
    // gives knee²/(4·knee + 1e-4) = 0.124994 of it, not zero), inside the knee, below it, far
    // above it, and black.
    const float cases[][4] = {{0.6f, 0.3f, 0.1f, 0.8f},
                              {0.2f, 0.45f, 0.1f, 0.5f},
                              {0.05f, 0.02f, 0.0f, 0.3f},
                              {2.0f, 1.0f, 0.5f, 1.0f},
                              {0.0f, 0.0f, 0.0f, 0.7f}};
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 4; ++c) img.at(i, 0, c) = cases[i][c];

    const size_t bytes = img.bytes();
    cl_mem src = scratch(0, bytes);
    cl_mem dst = scratch(1, bytes);
    ASSERT_TRUE(src && dst);
    write(src, img);
    KernelLaunch(rt(), KernelRole::ExtractBright)
        .arg("src", src)
        .arg("dst", dst)
        .arg("W", W)
        .arg("H", H)
        .arg("threshold", threshold)
        .run2d(W, H);
    const Image out = read(dst, W, H);

    const double atThreshold = 0.25 / 2.0001 / 0.6;
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(out.at(0, 0, c), cases[0][c] * atThreshold, kKneeTol) << "channel " << c;
        EXPECT_NEAR(out.at(3, 0, c), cases[3][c] * 0.7, kKneeTol) << "channel " << c;
        EXPECT_EQ(out.at(2, 0, c), 0.0f) << "below the knee";
        EXPECT_EQ(out.at(4, 0, c), 0.0f) << "black";
    }
    EXPECT_GT(out.at(0, 0, 3), 0.05f) << "alpha is scaled, not dropped";
    EXPECT_NEAR(out.at(1, 0, 1), 0.45 * (0.35 * 0.35 / 2.0001 / 0.45), kKneeTol);

    const Image ref = extractRef(img, threshold);
    for (size_t i = 0; i < img.px.size(); ++i) {
        ASSERT_NEAR(out.px[i], ref.px[i], kKneeTol * std::max(1.0, std::fabs(double(ref.px[i])))) << "float " << i;
    }
}

// ---- bloom and light cast -------------------------------------------------------------------

// A dim, half-transparent background with a few bright blobs.
Image fireImage(int w, int h, unsigned seed) {
    Image img = randomImage(w, h, seed, 0.0f, 0.4f);
    const int spots[][2] = {{w / 2, h / 2}, {w / 5, h / 3}, {w - 4, h - 3}, {1, 1}};
    for (const auto& s : spots)
        for (int y = std::max(0, s[1] - 1); y <= std::min(h - 1, s[1] + 1); ++y)
            for (int x = std::max(0, s[0] - 1); x <= std::min(w - 1, s[0] + 1); ++x) {
                img.at(x, y, 0) = 3.0f;
                img.at(x, y, 1) = 1.6f;
                img.at(x, y, 2) = 0.7f;
                img.at(x, y, 3) = 1.0f;
            }
    return img;
}

TEST_F(PostTest, BloomMatchesTheDoubleReferenceOfThePyramid) {
    const int W = 97;  // levels 49 × 36, 25 × 18, 13 × 9
    const int H = 71;
    const Image img = fireImage(W, H, 5);
    setFrame(img);
    preparePyramid(W, H);
    ASSERT_EQ(rb().bloomLevelCount, 3);
    settings_.bloom = 0.75f;

    cindel::applyBloom(rt(), settings_, W, H);
    const Image out = frame(W, H);
    const Image ref = glowRef(img, 0.6, 0.8 * 0.75);

    EXPECT_LE(maxDiff(out, ref), kImageTol * maxAbs(ref));
    EXPECT_GT(maxDiff(out, img), 0.05) << "the bloom added nothing";
}

TEST_F(PostTest, BloomAddsLightAndAlphaAroundABrightSpot) {
    const int W = 61;  // levels 31 × 24, 16 × 12
    const int H = 47;
    Image img(W, H);  // transparent black
    for (int y = 22; y <= 24; ++y)
        for (int x = 29; x <= 31; ++x) {
            img.at(x, y, 0) = 4.0f;
            img.at(x, y, 1) = 2.0f;
            img.at(x, y, 2) = 1.0f;
            img.at(x, y, 3) = 1.0f;
        }
    setFrame(img);
    preparePyramid(W, H);
    ASSERT_EQ(rb().bloomLevelCount, 2);
    settings_.bloom = 1.0f;
    cindel::applyBloom(rt(), settings_, W, H);
    const Image out = frame(W, H);

    // Bloom only adds.
    for (size_t i = 0; i < img.px.size(); ++i) ASSERT_GE(out.px[i], img.px[i]) << "float " << i;
    // A transparent pixel next to the fire gains colour and coverage.
    EXPECT_GT(out.at(33, 23, 0), 0.01f);
    EXPECT_GT(out.at(33, 23, 3), 0.001f);
    EXPECT_GT(out.at(30, 20, 0), 0.01f);
    // The spot itself brightens, and the glow falls off with distance.
    EXPECT_GT(out.at(30, 23, 0), img.at(30, 23, 0));
    EXPECT_GT(out.at(32, 23, 0), out.at(34, 23, 0));
    EXPECT_GT(out.at(34, 23, 0), 0.0f);
    EXPECT_EQ(out.at(0, 0, 0), 0.0f) << "the glow reaches the far corner";
}

TEST_F(PostTest, BloomZeroLeavesTheFrameBitIdentical) {
    const int W = 97;
    const int H = 71;
    const Image img = fireImage(W, H, 6);
    setFrame(img);
    preparePyramid(W, H);
    for (float bloom : {0.0f, 0.001f, -1.0f}) {
        settings_.bloom = bloom;
        cindel::applyBloom(rt(), settings_, W, H);
        EXPECT_TRUE(bitEqual(frame(W, H), img)) << "bloom " << bloom;
    }
    // The same frame with bloom on does change: the skip above is the condition, not the image.
    settings_.bloom = 0.5f;
    cindel::applyBloom(rt(), settings_, W, H);
    EXPECT_GT(maxDiff(frame(W, H), img), 0.01);
}

TEST_F(PostTest, BloomNeedsTwoPyramidLevels) {
    // 28 × 28 has a single level (14 × 14); 14 × 14 none.
    for (int side : {28, 14}) {
        const Image img = fireImage(side, side, 8);
        setFrame(img);
        preparePyramid(side, side);
        ASSERT_LT(rb().bloomLevelCount, 2);
        settings_.bloom = 1.0f;
        cindel::applyBloom(rt(), settings_, side, side);
        EXPECT_TRUE(bitEqual(frame(side, side), img)) << side << " x " << side;
        EXPECT_GT(maxAbs(img), 2.0);
    }
    // A pyramid cut short at one level by a missing buffer also skips.
    const int W = 97;
    const int H = 71;
    const Image img = fireImage(W, H, 9);
    setFrame(img);
    preparePyramid(W, H, 1);
    cindel::applyBloom(rt(), settings_, W, H);
    EXPECT_TRUE(bitEqual(frame(W, H), img));
    // Cut at two levels, it runs on those two.
    preparePyramid(W, H, 2);
    cindel::applyBloom(rt(), settings_, W, H);
    EXPECT_GT(maxDiff(frame(W, H), img), 0.01);
}

TEST_F(PostTest, BloomIgnoresAPyramidRecordedForAnotherSize) {
    const int W = 97;
    const int H = 71;
    const Image img = fireImage(W, H, 10);
    setFrame(img);
    preparePyramid(W + 40, H);  // level 0 of 69 × 36, not 49 × 36
    settings_.bloom = 1.0f;
    cindel::applyBloom(rt(), settings_, W, H);
    EXPECT_TRUE(bitEqual(frame(W, H), img));
}

TEST_F(PostTest, LightCastIsAWiderBloomThroughPostB) {
    const int W = 97;
    const int H = 71;
    const Image img = fireImage(W, H, 12);
    setFrame(img);
    preparePyramid(W, H);

    // Off as the frame settings store it.
    ASSERT_EQ(settings_.lightCast, 0.0f);
    settings_.bloom = 1.0f;
    cindel::applyLightCast(rt(), settings_, W, H);
    EXPECT_TRUE(bitEqual(frame(W, H), img));

    settings_.lightCast = 0.5f;
    cindel::applyLightCast(rt(), settings_, W, H);
    const Image out = frame(W, H);
    const Image ref = glowRef(img, 0.32, 1.1 * 0.5);
    EXPECT_LE(maxDiff(out, ref), kImageTol * maxAbs(ref));
    // The lower threshold lets the dim background glow too, which bloom's would not.
    EXPECT_GT(maxDiff(out, img), 0.05);
    EXPECT_GT(maxDiff(ref, glowRef(img, 0.6, 1.1 * 0.5)), 1e-3);
}

// ---- heat distortion ------------------------------------------------------------------------

// Red is x and green is y: a bilinear sample of the image returns its own position, so the output
// shows each pixel's displacement directly (away from the clamped edges).
Image rampImage(int w, int h) {
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            img.at(x, y, 0) = float(x);
            img.at(x, y, 1) = float(y);
            img.at(x, y, 2) = 0.5f;
            img.at(x, y, 3) = 1.0f;
        }
    return img;
}

TEST_F(PostTest, HeatAtOrBelowTheThresholdSkipsThePass) {
    const int W = 37;
    const int H = 23;
    const Image img = rampImage(W, H);
    setFrame(img);
    rt().grid.lastFrame = 17;
    settings_.heatScale = 0.5f;
    settings_.heatComplexity = 3;
    settings_.heatRise = 1.0f;
    for (float amount : {0.0f, 0.001f, -0.5f}) {
        settings_.heatAmount = amount;
        cindel::applyHeatDistortion(rt(), settings_, W, H);
        EXPECT_TRUE(bitEqual(frame(W, H), img)) << "heat amount " << amount;
    }
    settings_.heatAmount = 0.3f;
    cindel::applyHeatDistortion(rt(), settings_, W, H);
    EXPECT_GT(maxDiff(frame(W, H), img), 0.1);
}

TEST_F(PostTest, HeatDisplacementIsBoundedSmoothAndLinearInTheAmount) {
    const int W = 97;
    const int H = 71;
    const Image img = rampImage(W, H);
    settings_.heatScale = 0.3f;
    settings_.heatComplexity = 4;
    settings_.heatEvolution = 1.2f;
    settings_.heatRise = 0.7f;
    rt().grid.lastFrame = 9;

    auto displaced = [&](float amount) {
        setFrame(img);
        settings_.heatAmount = amount;
        cindel::applyHeatDistortion(rt(), settings_, W, H);
        return frame(W, H);
    };
    const Image small = displaced(0.2f);
    const Image large = displaced(0.4f);

    // The push is 30 · amount · (fbm − 0.5) with fbm in [0, 1]: at most 15 · amount pixels per axis.
    const int margin = 7;
    double largest = 0.0;
    for (int y = margin; y < H - margin; ++y)
        for (int x = margin; x < W - margin; ++x) {
            const double dxS = small.at(x, y, 0) - x;
            const double dyS = small.at(x, y, 1) - y;
            const double dxL = large.at(x, y, 0) - x;
            const double dyL = large.at(x, y, 1) - y;
            ASSERT_LE(std::fabs(dxL), 15 * 0.4 + 1e-4);
            ASSERT_LE(std::fabs(dyL), 15 * 0.4 + 1e-4);
            // The noise does not depend on the amount, so the push doubles with it.
            ASSERT_NEAR(dxL, 2 * dxS, 1e-4) << "(" << x << ", " << y << ")";
            ASSERT_NEAR(dyL, 2 * dyS, 1e-4) << "(" << x << ", " << y << ")";
            largest = std::max({largest, std::fabs(dxL), std::fabs(dyL)});
            // Smooth: neighbours move alike (a per-pixel hash would tear them up to 12 px apart).
            if (x + 1 < W - margin) {
                ASSERT_LT(std::fabs(large.at(x + 1, y, 0) - 1 - large.at(x, y, 0)), 2.0);
            }
            // Untouched channels stay what they were (a constant samples to itself).
            ASSERT_EQ(large.at(x, y, 2), 0.5f);
        }
    EXPECT_GT(largest, 0.5) << "the heat pass hardly moved anything";
}

TEST_F(PostTest, HeatRiseScrollsThePatternUpward) {
    const int W = 61;
    const int H = 71;
    const int shift = 15;  // t · heatRise · 60 = 0.5 · 0.5 · 60, exact in float
    const Image img = rampImage(W, H);
    const size_t bytes = img.bytes();
    cl_mem src = scratch(0, bytes);
    cl_mem still = scratch(1, bytes);
    cl_mem risen = scratch(2, bytes);
    ASSERT_TRUE(src && still && risen);
    write(src, img);
    auto launch = [&](cl_mem out, float t, float rise) {
        KernelLaunch(rt(), KernelRole::HeatDistort)
            .arg("inBuf", src)
            .arg("outBuf", out)
            .arg("W", W)
            .arg("H", H)
            .arg("t", t)
            .arg("heatAmount", 0.3f)
            .arg("heatScale", 0.2f)
            .arg("heatComplexity", 3)
            .arg("heatEvolution", 0.0f)
            .arg("heatRise", rise)
            .run2d(W, H);
    };
    launch(still, 0.0f, 0.0f);
    launch(risen, 0.5f, 0.5f);
    const Image a = read(still, W, H);
    const Image b = read(risen, W, H);
    // The displacement a pixel sees after the rise is the one the pixel `shift` rows lower saw
    // before: the pattern moved up.
    const int margin = 6;
    int compared = 0;
    for (int y = margin; y + shift < H - margin; ++y)
        for (int x = margin; x < W - margin; ++x) {
            ASSERT_NEAR(b.at(x, y, 0) - x, a.at(x, y + shift, 0) - x, 1e-4);
            ASSERT_NEAR(b.at(x, y, 1) - y, a.at(x, y + shift, 1) - (y + shift), 1e-4);
            ++compared;
        }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(maxDiff(a, b), 0.1) << "the rise changed nothing";
}

// ---- library image kernels ------------------------------------------------------------------

TEST_F(PostTest, GaussianBlurIsNormalisedAndMatchesItsWeights) {
    const int W = 37;
    const int H = 23;
    const int radius = 5;
    Image constant(W, H);
    for (size_t i = 0; i < constant.px.size(); i += 4) {
        constant.px[i] = 0.7f;
        constant.px[i + 1] = 1.3f;
        constant.px[i + 2] = 0.2f;
        constant.px[i + 3] = 0.9f;
    }
    Image impulse(W, H);
    impulse.at(18, 11, 0) = 1.0f;
    impulse.at(18, 11, 3) = 2.0f;

    const size_t bytes = constant.bytes();
    cl_mem a = scratch(0, bytes);
    cl_mem b = scratch(1, bytes);
    cl_mem c = scratch(2, bytes);
    ASSERT_TRUE(a && b && c);
    auto blur = [&](KernelRole role, cl_mem src, cl_mem dst, int r) {
        KernelLaunch(rt(), role).arg("src", src).arg("dst", dst).arg("W", W).arg("H", H).arg("radius", r).run2d(W, H);
    };

    write(a, constant);
    blur(KernelRole::BlurH, a, b, radius);
    blur(KernelRole::BlurV, b, c, radius);
    const Image flat = read(c, W, H);
    for (size_t i = 0; i < flat.px.size(); ++i) {
        // Eleven float products and sums, then a division: a few ulps of values near 1.
        ASSERT_NEAR(flat.px[i], constant.px[i], 4e-6) << "float " << i;
    }

    write(a, impulse);
    blur(KernelRole::BlurH, a, b, radius);
    blur(KernelRole::BlurV, a, c, radius);
    const Image h = read(b, W, H);
    const Image v = read(c, W, H);
    const double sigma = 0.5 * radius + 0.001;
    double wsum = 0.0;
    for (int i = -radius; i <= radius; ++i) wsum += std::exp(-i * i / (2 * sigma * sigma));
    for (int i = -radius - 2; i <= radius + 2; ++i) {
        const double expected = std::abs(i) <= radius ? std::exp(-i * i / (2 * sigma * sigma)) / wsum : 0.0;
        EXPECT_NEAR(h.at(18 + i, 11, 0), expected, 1e-6) << "tap " << i;
        EXPECT_NEAR(h.at(18 + i, 11, 3), 2 * expected, 2e-6) << "tap " << i;
        EXPECT_NEAR(v.at(18, 11 + i, 0), expected, 1e-6) << "tap " << i;
        EXPECT_EQ(h.at(18 + i, 12, 0), 0.0f) << "a horizontal blur leaked into the next row";
    }
    EXPECT_GT(h.at(18, 11, 0), 0.1f);

    // Radius 0 is a copy.
    blur(KernelRole::BlurH, a, b, 0);
    EXPECT_TRUE(bitEqual(read(b, W, H), impulse));
}

TEST_F(PostTest, RadialBlurAveragesTowardTheCentreAndStopsAtTheEdge) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 21, 0.0f, 1.0f);
    const size_t bytes = img.bytes();
    cl_mem src = scratch(0, bytes);
    cl_mem dst = scratch(1, bytes);
    ASSERT_TRUE(src && dst);
    write(src, img);

    // Centres whose steps (center − pixel)/8 are multiples of 1/8, exact in float and double, so
    // the reference walks through the same integer positions.
    for (const auto& centre : {std::array<float, 2>{16.0f, 8.0f}, std::array<float, 2>{-20.0f, 30.0f}}) {
        const int samples = 8;
        const float decay = 0.9f;
        KernelLaunch(rt(), KernelRole::RadialBlur)
            .arg("src", src)
            .arg("dst", dst)
            .arg("W", W)
            .arg("H", H)
            .arg("centerX", centre[0])
            .arg("centerY", centre[1])
            .arg("decay", decay)
            .arg("samples", samples)
            .run2d(W, H);
        const Image out = read(dst, W, H);
        int stoppedEarly = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double dx = (centre[0] - x) / double(samples);
                const double dy = (centre[1] - y) / double(samples);
                double sum[4] = {0, 0, 0, 0};
                double wsum = 0.0;
                double w = 1.0;
                int taken = 0;
                for (int i = 0; i < samples; ++i) {
                    const int ix = static_cast<int>(std::floor(x + i * dx));
                    const int iy = static_cast<int>(std::floor(y + i * dy));
                    if (ix < 0 || ix >= W || iy < 0 || iy >= H) break;
                    for (int c = 0; c < 4; ++c) sum[c] += img.at(ix, iy, c) * w;
                    wsum += w;
                    w *= decay;
                    ++taken;
                }
                stoppedEarly += taken < samples;
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(out.at(x, y, c), sum[c] / wsum, 1e-5) << "(" << x << ", " << y << ") c " << c;
                }
            }
        if (centre[0] < 0) {
            EXPECT_GT(stoppedEarly, 100) << "the walk never left the image";
        }
    }
    // The centre pixel itself only ever reads itself.
    KernelLaunch(rt(), KernelRole::RadialBlur)
        .arg("src", src)
        .arg("dst", dst)
        .arg("W", W)
        .arg("H", H)
        .arg("centerX", 16.0f)
        .arg("centerY", 8.0f)
        .arg("decay", 0.5f)
        .arg("samples", 12)
        .run2d(W, H);
    const Image out = read(dst, W, H);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(out.at(16, 8, c), img.at(16, 8, c), 1e-6);
}

TEST_F(PostTest, CompositeAddAddsColourAndKeepsAlpha) {
    const int W = 37;
    const int H = 23;
    const Image base = randomImage(W, H, 31, 0.0f, 1.0f);
    const Image effect = randomImage(W, H, 32, 0.0f, 2.0f);
    const size_t bytes = base.bytes();
    cl_mem dst = scratch(0, bytes);
    cl_mem eff = scratch(1, bytes);
    ASSERT_TRUE(dst && eff);
    write(dst, base);
    write(eff, effect);
    KernelLaunch(rt(), KernelRole::CompositeAdd)
        .arg("dst", dst)
        .arg("effect", eff)
        .arg("W", W)
        .arg("H", H)
        .arg("strength", 0.75f)
        .run2d(W, H);
    const Image out = read(dst, W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_NEAR(out.at(x, y, c), base.at(x, y, c) + 0.75 * effect.at(x, y, c), 1e-6);
            }
            ASSERT_EQ(out.at(x, y, 3), base.at(x, y, 3));
        }
    EXPECT_GT(maxDiff(out, base), 0.5);
}

// ---- timing (not part of the default run) ---------------------------------------------------

// Wall time of bloom and heat distortion at 960 × 540, each after one warm-up launch so that
// PoCL's first-launch compile is not counted. Run with --gtest_also_run_disabled_tests.
TEST_F(PostTest, DISABLED_TimeBloomAndHeatAt960x540) {
    const int W = 960;
    const int H = 540;
    const Image img = fireImage(W, H, 40);
    preparePyramid(W, H);
    settings_.bloom = 1.0f;
    settings_.heatAmount = 0.5f;
    settings_.heatScale = 0.5f;
    settings_.heatComplexity = 3;
    settings_.heatRise = 1.0f;
    rt().grid.lastFrame = 10;
    auto timeIt = [&](const char* name, auto pass) {
        setFrame(img);
        pass();
        finish();
        const int runs = 5;
        const double t0 = cindel::nowMilliseconds();
        for (int i = 0; i < runs; ++i) pass();
        finish();
        std::printf("[ TIMING ] %s at %d x %d: %.2f ms per pass (%d levels)\n", name, W, H,
                    (cindel::nowMilliseconds() - t0) / runs, rb().bloomLevelCount);
    };
    timeIt("bloom", [&] { cindel::applyBloom(rt(), settings_, W, H); });
    timeIt("heat distortion (3 octaves)", [&] { cindel::applyHeatDistortion(rt(), settings_, W, H); });
    settings_.heatComplexity = 6;
    timeIt("heat distortion (6 octaves)", [&] { cindel::applyHeatDistortion(rt(), settings_, W, H); });
}

}  // namespace
