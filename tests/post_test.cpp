// The passes on the finished frame through their host functions, on rt.render buffers made here
// as the render driver would, at odd sizes: the upsample, bloom (the whole pyramid) and the motion
// blur against double references, and every skip condition, which leaves the frame bit for bit.
// Tolerances: float sample positions are off by 1e-5 px, times neighbour jumps of a few units: 1e-5
// of the largest value for the upsample and pyramid. The motion blur's jumps reach 30 (its colour
// cap) and its alpha takes the fast pow: 2e-3 absolute. A wrong weight or index moves tenths.
#include "render/post.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"

namespace {

constexpr double kImageTol = 1e-5, kMotionBlurTol = 2e-3, kJitterWrapMargin = 1e-3;

// A float4 image, rows packed, y·W + x.
struct Image {
    int w = 0, h = 0;
    std::vector<float> px;
    Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height * 4, 0.0f) {}
    float& at(int x, int y, int c) { return px[(static_cast<size_t>(y) * w + x) * 4 + c]; }
    float at(int x, int y, int c) const { return px[(static_cast<size_t>(y) * w + x) * 4 + c]; }
    size_t bytes() const { return px.size() * sizeof(float); }
};

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
// A dim, half-transparent background with a few bright 3 × 3 blobs.
Image fireImage(int w, int h, unsigned seed) {
    Image img = randomImage(w, h, seed, 0.0f, 0.4f);
    const std::array<int, 2> spots[] = {{w / 2, h / 2}, {w / 5, h / 3}, {w - 4, h - 3}, {1, 1}};
    for (const auto& s : spots)
        for (int y = std::max(0, s[1] - 1); y <= std::min(h - 1, s[1] + 1); ++y)
            for (int x = std::max(0, s[0] - 1); x <= std::min(w - 1, s[0] + 1); ++x)
                for (int c = 0; c < 4; ++c) img.at(x, y, c) = std::array<float, 4>{3.0f, 1.6f, 0.7f, 1.0f}[c];
    return img;
}

// ---- double references ----------------------------------------------------------------------

// Bilinear sample in index space with each corner clamped, as the kernels' sampler.
std::array<double, 4> sampleRef(const Image& img, double px, double py) {
    const double fx = std::floor(px), fy = std::floor(py), tx = px - fx, ty = py - fy;
    const int xa = std::clamp(int(fx), 0, img.w - 1), xb = std::clamp(int(fx) + 1, 0, img.w - 1);
    const int ya = std::clamp(int(fy), 0, img.h - 1), yb = std::clamp(int(fy) + 1, 0, img.h - 1);
    std::array<double, 4> out;
    for (int c = 0; c < 4; ++c) {
        const double top = img.at(xa, ya, c) * (1 - tx) + img.at(xb, ya, c) * tx;
        const double bottom = img.at(xa, yb, c) * (1 - tx) + img.at(xb, yb, c) * tx;
        out[c] = top * (1 - ty) + bottom * ty;
    }
    return out;
}

// Bright pass with a soft knee of 0.5 (every channel scaled by the brightest one's share), the
// pyramid of 2 × 2 boxes, its upsample-and-add back up and the final blend into the frame.
Image glowRef(const Image& frame, double threshold, double finalBlend) {
    Image src(frame.w, frame.h);
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x) {
            const double lum = std::max({frame.at(x, y, 0), frame.at(x, y, 1), frame.at(x, y, 2)});
            const double soft = std::pow(std::clamp(lum - threshold + 0.5, 0.0, 1.0), 2) / (2.0 + 1e-4);
            const double s = lum > 1e-4 ? std::max(lum - threshold, soft) / lum : 0.0;
            for (int c = 0; c < 4; ++c) src.at(x, y, c) = static_cast<float>(frame.at(x, y, c) * s);
        }
    auto upAdd = [](const Image& from, Image& to, double blend) {
        for (int y = 0; y < to.h; ++y)
            for (int x = 0; x < to.w; ++x) {
                const std::array<double, 4> up = sampleRef(from, (x + 0.5) * 0.5 - 0.5, (y + 0.5) * 0.5 - 0.5);
                for (int c = 0; c < 4; ++c) to.at(x, y, c) = static_cast<float>(to.at(x, y, c) + up[c] * blend);
            }
    };
    // Level 0 is ⌈W/2⌉ × ⌈H/2⌉, each next one halves again rounding up, while both sides stay at
    // least 8, five at most.
    std::vector<Image> levels;
    for (int w = (frame.w + 1) / 2, h = (frame.h + 1) / 2; w >= 8 && h >= 8 && levels.size() < 5;
         w = (w + 1) / 2, h = (h + 1) / 2) {
        const Image& from = levels.empty() ? src : levels.back();
        Image down(w, h);
        for (int y = 0; y < down.h; ++y)
            for (int x = 0; x < down.w; ++x) {
                const int x0 = std::min(2 * x, from.w - 1), y0 = std::min(2 * y, from.h - 1);
                const int x1 = std::min(x0 + 1, from.w - 1), y1 = std::min(y0 + 1, from.h - 1);
                for (int c = 0; c < 4; ++c)
                    down.at(x, y, c) = static_cast<float>(0.25 * (double(from.at(x0, y0, c)) + from.at(x1, y0, c) +
                                                                  from.at(x0, y1, c) + from.at(x1, y1, c)));
            }
        levels.push_back(down);
    }
    for (size_t k = levels.size(); k-- > 1;) upAdd(levels[k], levels[k - 1], 1.0);
    Image out = frame;
    upAdd(levels[0], out, finalBlend);
    return out;
}

// W × H screen velocities (x, y) in output pixels per frame.
using Velocity = std::vector<float>;

// One output pixel of the motion blur; false when the jitter, taken in float as the kernel does,
// lies too close to a wrap to compare (the device may fuse its multiply-add and cross it).
bool reconstructRef(const Image& in, const Velocity& vel, int x, int y, double strength, int seed, double out[4]) {
    double vx = 0.0, vy = 0.0;
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
            const size_t p = size_t(std::clamp(y + j, 0, in.h - 1)) * in.w + std::clamp(x + i, 0, in.w - 1);
            const double w = (i == 0 ? 2.0 : 1.0) * (j == 0 ? 2.0 : 1.0) / 16.0;
            vx += vel[2 * p] * w;
            vy += vel[2 * p + 1] * w;
        }
    const double mag = std::hypot(vx, vy), origA = in.at(x, y, 3);
    for (int c = 0; c < 4; ++c) out[c] = in.at(x, y, c);
    if (mag < 0.5 || strength < 0.001) return true;
    const double stretch = std::min(mag * strength * std::clamp(1.5 * origA + 0.4, 0.4, 1.0), 12.0);
    const float f0 = 0.06711056f * (static_cast<float>(x) + 0.31415927f * static_cast<float>(seed)) +
                     0.00583715f * static_cast<float>(y);
    const float f = f0 - std::floor(f0), g = 52.9829189f * f - std::floor(52.9829189f * f);
    if (std::min({f, 1 - f, g, 1 - g}) < kJitterWrapMargin) return false;
    double sum[4] = {0, 0, 0, 0}, weightSum = 0.0;
    for (int s = -6; s <= 6; ++s) {
        const double t = (s + g - 0.5) / 7.0, a = std::fabs(t);
        std::array<double, 4> c = sampleRef(in, x + vx / mag * t * stretch, y + vy / mag * t * stretch);
        for (int k = 0; k < 3; ++k) c[k] = std::min(c[k], 30.0);
        const double we = std::max(1.0 - a * a * (3.0 - 2.0 * a), 0.0) * (0.5 + 0.5 * c[3]);
        for (int k = 0; k < 4; ++k) sum[k] += c[k] * we;
        weightSum += we;
    }
    const double aOut = std::pow(std::max(weightSum > 1e-4 ? sum[3] / weightSum : origA, 0.0), 0.85);
    const double blendT = std::clamp(1.0 - origA, 0.0, 1.0), rgbScale = (1.0 - blendT) + aOut * blendT;
    for (int k = 0; k < 3; ++k) out[k] = (weightSum > 1e-4 ? sum[k] / weightSum : in.at(x, y, k)) * rgbScale;
    out[3] = aOut;
    return true;
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
        cindel::resetFrameSettings(s_);
    }
    void TearDown() override {
        if (!rt().ready) return;
        rt().grid.lastFrame = savedLastFrame_;
        EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_);
    }

    cindel::GpuRuntime& rt() { return cindel::gpuRuntime(); }
    cindel::RenderBuffers& rb() { return rt().render; }
    cl_mem ensure(cindel::SizedBuffer& b, size_t bytes) { return cindel::ensureBuffer(rt().context, b, bytes); }
    void write(cl_mem m, const void* data, size_t bytes) {
        cindel::cl().clEnqueueWriteBuffer(rt().queue, m, CL_TRUE, 0, bytes, data, 0, nullptr, nullptr);
    }

    // The frame into imageBuffer with the buffers the passes need, and the pyramid as the driver
    // records it; `maxLevels` cuts it short as a level whose buffer cannot be made does.
    void setFrame(const Image& img, const Velocity& vel = {}, int maxLevels = cindel::kMaxBloomLevels) {
        for (auto* b : {&rb().imageBuffer, &rb().postA, &rb().postB}) ASSERT_TRUE(ensure(*b, img.bytes()));
        ASSERT_TRUE(ensure(rb().screenVelocity, img.px.size() * 2));
        ASSERT_TRUE(ensure(rb().velocityTiles, size_t((img.w + 15) / 16) * ((img.h + 15) / 16) * 8));
        write(rb().imageBuffer.handle, img.px.data(), img.bytes());
        if (!vel.empty()) write(rb().screenVelocity.handle, vel.data(), vel.size() * sizeof(float));
        const cindel::BloomPyramid p = cindel::bloomPyramidFor(img.w, img.h);
        rb().bloomLevelCount = 0;
        for (int k = 0; k < std::min(p.count, maxLevels); ++k, ++rb().bloomLevelCount) {
            ASSERT_NE(ensure(rb().bloomLevels[k], static_cast<size_t>(p.width[k]) * p.height[k] * 16), nullptr);
            rb().bloomWidth[k] = p.width[k];
            rb().bloomHeight[k] = p.height[k];
        }
    }
    Image frame(int w, int h) {
        Image img(w, h);
        std::fill(img.px.begin(), img.px.end(), std::nanf(""));
        cindel::cl().clEnqueueReadBuffer(rt().queue, rb().imageBuffer.handle, CL_TRUE, 0, img.bytes(), img.px.data(), 0,
                                         nullptr, nullptr);
        return img;
    }
    // One pass on a fresh copy of `img`.
    template <class Pass>
    Image after(const Image& img, Pass pass, const Velocity& vel = {}, int maxLevels = cindel::kMaxBloomLevels) {
        setFrame(img, vel, maxLevels);
        pass(rt(), s_, img.w, img.h);
        return frame(img.w, img.h);
    }

    cindel::FrameSettings s_{};
    int violationsBefore_ = 0;
    int savedLastFrame_ = -1;
};

// ---- upsample and bloom ---------------------------------------------------------------------

TEST_F(PostTest, UpsampleMatchesTheBilinearReference) {
    const int W = 37, H = 23, hW = 19, hH = 12;  // ⌈W/2⌉ × ⌈H/2⌉
    const Image half = randomImage(hW, hH, 7, 0.0f, 2.0f);
    ASSERT_NE(ensure(rb().halfImage, half.bytes()), nullptr);
    write(rb().halfImage.handle, half.px.data(), half.bytes());
    Image poison(W, H);
    std::fill(poison.px.begin(), poison.px.end(), std::nanf(""));
    const Image out = after(poison, [](cindel::GpuRuntime& r, const cindel::FrameSettings&, int w, int h) {
        cindel::upsampleHalfImage(r, w, h);
    });
    double worst = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const std::array<double, 4> ref = sampleRef(half, (x + 0.5) * hW / W - 0.5, (y + 0.5) * hH / H - 0.5);
            for (int c = 0; c < 4; ++c) worst = std::max(worst, double(std::fabs(out.at(x, y, c) - ref[c])));
        }
    EXPECT_LE(worst, kImageTol * 2.0);  // of the largest value; NaN, an unwritten pixel, fails this too
    // Corners read the clamped edge texels alone: exactly, as a value blended with itself.
    for (int c = 0; c < 4; ++c) EXPECT_EQ(out.at(W - 1, H - 1, c), half.at(hW - 1, hH - 1, c));
}

TEST_F(PostTest, BloomMatchesTheDoubleReferenceOfThePyramid) {
    const Image img = fireImage(97, 71, 5);  // levels 49 × 36, 25 × 18, 13 × 9
    s_.bloom = 0.75f;
    const Image bloom = after(img, cindel::applyBloom);
    ASSERT_EQ(rb().bloomLevelCount, 3);
    const Image bloomRef = glowRef(img, 0.6, 0.8 * 0.75);
    EXPECT_LE(maxDiff(bloom, bloomRef), kImageTol * maxDiff(bloomRef, Image(97, 71)));
    EXPECT_GT(maxDiff(bloom, img), 0.05) << "the bloom added nothing";
}

TEST_F(PostTest, SkippedPassesLeaveTheFrameBitIdentical) {
    using Pass = void (*)(cindel::GpuRuntime&, const cindel::FrameSettings&, int, int);
    const struct {
        const char* what;
        Pass pass;
        float amount;  // bloom or heat
        int w, h, maxLevels;
    } cases[] = {
        {"bloom 0", cindel::applyBloom, 0.0f, 97, 71, 5},
        {"bloom at its threshold", cindel::applyBloom, 0.001f, 97, 71, 5},
        {"negative bloom", cindel::applyBloom, -1.0f, 97, 71, 5},
        {"one pyramid level (28 x 28)", cindel::applyBloom, 1.0f, 28, 28, 5},
        {"no pyramid level (14 x 14)", cindel::applyBloom, 1.0f, 14, 14, 5},
        {"a pyramid cut short at one level", cindel::applyBloom, 1.0f, 97, 71, 1},
        {"heat at its threshold", cindel::applyHeatDistortion, 0.001f, 97, 71, 5},
        {"zero heat", cindel::applyHeatDistortion, 0.0f, 97, 71, 5},
        {"negative heat", cindel::applyHeatDistortion, -0.5f, 97, 71, 5},
    };
    for (const auto& c : cases) {
        const Image img = fireImage(c.w, c.h, 8);
        s_.bloom = s_.heatAmount = c.amount;
        EXPECT_TRUE(cltest::sameBits(after(img, c.pass, {}, c.maxLevels).px, img.px)) << c.what;
    }
    // The same passes change the frame when their condition holds, also on a pyramid cut at two levels.
    s_.bloom = 1.0f;
    s_.heatAmount = 0.3f;
    const Image img = fireImage(97, 71, 8);
    EXPECT_GT(maxDiff(after(img, cindel::applyBloom, {}, 2), img), 0.01);
    EXPECT_GT(maxDiff(after(img, cindel::applyHeatDistortion), img), 0.01);
    // A pyramid recorded for another size (level 0 of 69 × 36, not 49 × 36) is not used.
    setFrame(img);
    rb().bloomWidth[0] = 69;
    cindel::applyBloom(rt(), s_, 97, 71);
    EXPECT_TRUE(cltest::sameBits(frame(97, 71).px, img.px));
}

// Red is x and green is y: a bilinear sample returns its own position, so the output shows each
// pixel's push directly (away from the clamped edges).
TEST_F(PostTest, HeatPushIsBoundedByThirtyTimesTheAmountAndLinearInIt) {
    const int W = 61, H = 71, margin = 7;
    Image ramp(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ramp.at(x, y, 0) = float(x), ramp.at(x, y, 1) = float(y), ramp.at(x, y, 2) = 0.5f;
    s_.heatScale = 0.3f, s_.heatComplexity = 4, s_.heatEvolution = 1.2f, s_.heatRise = 0.5f, s_.heatAmount = 0.2f;
    const Image small = after(ramp, cindel::applyHeatDistortion);
    s_.heatAmount = 0.4f;
    const Image large = after(ramp, cindel::applyHeatDistortion);
    double largest = 0.0;
    for (int y = margin; y < H - margin; ++y)
        for (int x = margin; x < W - margin; ++x)
            for (int a = 0; a < 2; ++a) {
                // 30 · amount · (fbm − 0.5) with fbm in [0, 1], from noise that ignores the amount.
                const double pushS = small.at(x, y, a) - (a ? y : x), pushL = large.at(x, y, a) - (a ? y : x);
                ASSERT_LE(std::fabs(pushL), 15 * 0.4 + 1e-4);
                ASSERT_NEAR(pushL, 2 * pushS, 1e-4) << x << ", " << y;
                largest = std::max(largest, std::fabs(pushL));
            }
    EXPECT_GT(largest, 1.0) << "the heat pass hardly moved anything";
}

// ---- motion blur ----------------------------------------------------------------------------

// A smooth velocity field of 5 to 40 px, still in the three leftmost columns: no smoothed speed
// lands near the 0.5 px cut-off, where float and double could disagree about blurring at all.
Velocity swirl(int w, int h) {
    Velocity v(static_cast<size_t>(w) * h * 2, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 3; x < w; ++x) {
            float* p = &v[(static_cast<size_t>(y) * w + x) * 2];
            p[0] = 20.0f + 15.0f * std::sin(0.3f * x), p[1] = 10.0f * std::cos(0.4f * y + 0.2f * x);
        }
    return v;
}

class MotionBlurTest : public PostTest {
protected:
    void SetUp() override {
        PostTest::SetUp();
        s_.quality = 3, s_.motionBlur = 1, s_.motionBlurScale = 1.0f, s_.shutterAngle = 180.0f;  // strength 0.5
    }
    Image blur(const Image& img, const Velocity& vel) { return after(img, cindel::applyMotionBlur, vel); }
};

TEST_F(MotionBlurTest, ReconstructionMatchesTheDoubleReference) {
    const int W = 37, H = 23;
    Image img = randomImage(W, H, 3, 0.0f, 1.5f);
    for (size_t i = 3; i < img.px.size(); i += 4) img.px[i] = std::min(img.px[i], 1.0f);
    img.at(W / 2, H / 2, 0) = 50.0f;  // over-bright pixels meet the colour cap of 30
    img.at(W / 3, H / 4, 1) = 80.0f;
    const Velocity vel = swirl(W, H);
    const std::tuple<float, float, int> settings[] = {{1.0f, 180.0f, 3}, {2.5f, 270.0f, 1028}, {0.3f, 90.0f, 0}};
    for (const auto& [scale, angle, frame] : settings) {
        s_.motionBlurScale = scale;
        s_.shutterAngle = angle;
        rt().grid.lastFrame = frame;
        const Image got = blur(img, vel);
        const double strength = double(scale) * double(angle / 360.0f);
        int compared = 0, blurred = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                double ref[4];
                if (!reconstructRef(img, vel, x, y, strength, frame & 1023, ref)) continue;
                ++compared;
                bool changed = false;
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(got.at(x, y, c), ref[c], kMotionBlurTol) << "(" << x << ", " << y << ") channel " << c;
                    changed |= std::fabs(ref[c] - img.at(x, y, c)) > 0.05;
                }
                blurred += changed;
            }
        EXPECT_GT(compared, W * H * 9 / 10);
        EXPECT_GT(blurred, W * H / 2) << "strength " << strength;
    }
}

TEST_F(MotionBlurTest, StillScenesAndSettingsThatDisableTheBlurLeaveTheFrameBitIdentical) {
    const int W = 37, H = 23;
    const Image img = randomImage(W, H, 6, 0.0f, 1.0f);
    Velocity fast(static_cast<size_t>(W) * H * 2), slow(fast.size());  // slow: under half a pixel, alternating
    for (size_t i = 0; i < fast.size(); ++i) fast[i] = i % 2 ? -10.0f : 25.0f, slow[i] = (i % 3) ? 0.35f : -0.3f;
    EXPECT_TRUE(cltest::sameBits(blur(img, slow).px, img.px)) << "sub-half-pixel motion is still";
    const struct {
        const char* what;
        float angle, scale;
        int motionBlur, quality;
        bool blurs;
    } cases[] = {{"High", 180, 1, 1, 3, true},           {"Ultra", 180, 1, 2, 4, true},
                 {"shutter angle 0", 0, 1, 1, 3, false},  {"Motion Blur off", 180, 1, 0, 3, false},
                 {"no shutter reported", 180, 0.001f, 1, 3, false}, {"Draft", 180, 1, 1, 1, false},
                 {"Normal", 180, 1, 1, 2, false},         {"quality 5", 180, 1, 1, 5, false}};
    for (const auto& c : cases) {
        s_.shutterAngle = c.angle, s_.motionBlurScale = c.scale, s_.motionBlur = c.motionBlur, s_.quality = c.quality;
        const Image out = blur(img, fast);
        EXPECT_TRUE(c.blurs ? maxDiff(out, img) > 0.1 : bool(cltest::sameBits(out.px, img.px))) << c.what;
    }
}

}  // namespace
