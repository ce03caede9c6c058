// The screen-space motion blur on the effect's own runtime: the reconstruction against a double
// reference of its seven steps, the pass's conditions (still scene, shutter angle 0, Motion Blur
// off, Draft and Normal), the 12-pixel reach of a streak and its density-aware shortening,
// determinism and the per-frame jitter seed, and the tile-maximum kernel the frame chain does not
// launch. Host passes run on rt.render buffers allocated here, as the render driver would.
//
// Tolerances: the reference runs in double except the jitter, which it takes in float as the
// kernel does, skipping the few pixels whose jitter lies within 1e-3 of a wrap (the device may
// fuse the jitter's multiply-add and land on the other side). What remains differs by float
// rounding of tap positions (below 1e-4 px at these seeds) times neighbour jumps of up to 30 (the
// colour cap), plus the fast pow of the alpha: 2e-3 absolute. A wrong weight, reach or composite
// moves outputs by tenths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "cl_harness.h"
#include "gpu/launch.h"
#include "render/post.h"

namespace {

using cindel::KernelLaunch;
using cindel::KernelRole;

constexpr double kReferenceTol = 2e-3;  // absolute, see above
constexpr double kJitterWrapMargin = 1e-3;

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

// W × H float2 velocities, output pixels per unit time.
struct Velocity {
    int w = 0;
    int h = 0;
    std::vector<float> v;

    Velocity(int width, int height) : w(width), h(height), v(static_cast<size_t>(width) * height * 2, 0.0f) {}
    void set(int x, int y, float vx, float vy) {
        v[(static_cast<size_t>(y) * w + x) * 2] = vx;
        v[(static_cast<size_t>(y) * w + x) * 2 + 1] = vy;
    }
    float x(int px, int py) const { return v[(static_cast<size_t>(py) * w + px) * 2]; }
    float y(int px, int py) const { return v[(static_cast<size_t>(py) * w + px) * 2 + 1]; }
    static Velocity uniform(int width, int height, float vx, float vy) {
        Velocity out(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) out.set(x, y, vx, vy);
        return out;
    }
};

bool bitEqual(const Image& a, const Image& b) {
    return a.px.size() == b.px.size() && std::memcmp(a.px.data(), b.px.data(), a.bytes()) == 0;
}

double maxDiff(const Image& a, const Image& b) {
    double m = 0.0;
    for (size_t i = 0; i < a.px.size(); ++i) m = std::max(m, std::fabs(double(a.px[i]) - double(b.px[i])));
    return m;
}

Image randomImage(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> colour(0.0f, 1.5f);
    std::uniform_real_distribution<float> alpha(0.0f, 1.0f);
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) img.at(x, y, c) = colour(rng);
            img.at(x, y, 3) = alpha(rng);
        }
    // A few over-bright pixels exercise the colour cap of 30.
    img.at(w / 2, h / 2, 0) = 50.0f;
    img.at(w / 3, h / 4, 1) = 80.0f;
    return img;
}

// A bright opaque pixel on transparent black.
Image dotImage(int w, int h, int x, int y) {
    Image img(w, h);
    img.at(x, y, 0) = 10.0f;
    img.at(x, y, 1) = 5.0f;
    img.at(x, y, 2) = 2.0f;
    img.at(x, y, 3) = 1.0f;
    return img;
}

// ---- reference ------------------------------------------------------------------------------

float fracf(float v) {
    return v - std::floor(v);
}

// The jitter in float, as the kernel computes it; `nearWrap` when either fraction is within the
// margin of a wrap.
float jitterOf(int x, int y, int frameSeed, bool* nearWrap) {
    const float seedShift = 0.31415927f * static_cast<float>(frameSeed);
    const float f = fracf(0.06711056f * (static_cast<float>(x) + seedShift) + 0.00583715f * static_cast<float>(y));
    const float g = fracf(52.9829189f * f);
    *nearWrap = std::min(f, 1 - f) < kJitterWrapMargin || std::min(g, 1 - g) < kJitterWrapMargin;
    return g - 0.5f;
}

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

// One output pixel of the reconstruction; false when the pixel's jitter is too close to a wrap to
// compare.
bool reconstructRef(const Image& in, const Velocity& vel, int x, int y, double strength, int frameSeed, double out[4]) {
    double vx = 0.0;
    double vy = 0.0;
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
            const int sx = std::clamp(x + i, 0, in.w - 1);
            const int sy = std::clamp(y + j, 0, in.h - 1);
            const double w = (i == 0 ? 2.0 : 1.0) * (j == 0 ? 2.0 : 1.0) / 16.0;
            vx += vel.x(sx, sy) * w;
            vy += vel.y(sx, sy) * w;
        }
    const double mag = std::hypot(vx, vy);
    for (int c = 0; c < 4; ++c) out[c] = in.at(x, y, c);
    if (mag < 0.5 || strength < 0.001) return true;
    const double dirX = vx / mag;
    const double dirY = vy / mag;
    const double origA = in.at(x, y, 3);
    const double densMod = std::clamp(1.5 * origA + 0.4, 0.4, 1.0);
    const double stretch = std::min(mag * strength * densMod, 12.0);
    bool nearWrap = false;
    const double jitter = jitterOf(x, y, frameSeed, &nearWrap);
    if (nearWrap) return false;

    double sum[4] = {0, 0, 0, 0};
    double weightSum = 0.0;
    for (int s = -6; s <= 6; ++s) {
        const double t = (s + jitter) / 7.0;
        const double a = std::fabs(t);
        const double w = std::max(1.0 - a * a * (3.0 - 2.0 * a), 0.0);
        double c[4];
        sampleRef(in, x + dirX * t * stretch, y + dirY * t * stretch, c);
        for (int k = 0; k < 3; ++k) c[k] = std::min(c[k], 30.0);
        const double we = w * (0.5 + 0.5 * c[3]);
        for (int k = 0; k < 4; ++k) sum[k] += c[k] * we;
        weightSum += we;
    }
    double blurred[4];
    for (int k = 0; k < 4; ++k) blurred[k] = weightSum > 1e-4 ? sum[k] / weightSum : in.at(x, y, k);
    const double aOut = std::pow(std::max(blurred[3], 0.0), 0.85);
    const double blendT = std::clamp(1.0 - origA, 0.0, 1.0);
    const double rgbScale = (1.0 - blendT) + aOut * blendT;
    for (int k = 0; k < 3; ++k) out[k] = blurred[k] * rgbScale;
    out[3] = aOut;
    return true;
}

// ---- fixture --------------------------------------------------------------------------------

class MotionBlurTest : public ::testing::Test {
protected:
    void SetUp() override {
        cltest::ClHarness& h = cltest::ClHarness::instance();
        if (!h.skipReason().empty()) GTEST_SKIP() << h.skipReason();
        ASSERT_TRUE(h.setupError().empty()) << h.setupError();
        ASSERT_TRUE(rt().ready) << "the effect's runtime did not start";
        violationsBefore_ = cindel::kernelContractViolations();
        savedLastFrame_ = rt().grid.lastFrame;
        rt().grid.lastFrame = 42;
        cindel::resetFrameSettings(s_);
        // High quality, blur on, a 180-degree shutter: strength 0.5.
        s_.quality = 3;
        s_.motionBlur = 1;
        s_.motionBlurScale = 1.0f;
        s_.shutterAngle = 180.0f;
    }
    void TearDown() override {
        if (!rt().ready) return;
        rt().grid.lastFrame = savedLastFrame_;
        EXPECT_EQ(cindel::kernelContractViolations(), violationsBefore_);
    }
    ~MotionBlurTest() override {
        for (cindel::SizedBuffer& b : scratch_) cindel::releaseBuffer(b);
    }

    cindel::GpuRuntime& rt() { return cindel::gpuRuntime(); }
    cindel::RenderBuffers& rb() { return rt().render; }

    cl_mem ensure(cindel::SizedBuffer& b, size_t bytes) { return cindel::ensureBuffer(rt().context, b, bytes); }
    void write(cl_mem m, const void* data, size_t bytes) {
        cindel::cl().clEnqueueWriteBuffer(rt().queue, m, CL_TRUE, 0, bytes, data, 0, nullptr, nullptr);
    }
    void read(cl_mem m, void* data, size_t bytes) {
        cindel::cl().clEnqueueReadBuffer(rt().queue, m, CL_TRUE, 0, bytes, data, 0, nullptr, nullptr);
    }
    cl_mem scratch(size_t index, size_t bytes) {
        if (scratch_.size() <= index) scratch_.resize(index + 1);
        return ensure(scratch_[index], bytes);
    }

    // The frame and its velocities into the render buffers, then the host pass; returns the frame.
    Image blur(const Image& img, const Velocity& vel) {
        const int W = img.w;
        const int H = img.h;
        const size_t tiles = static_cast<size_t>((W + 15) / 16) * static_cast<size_t>((H + 15) / 16);
        EXPECT_NE(ensure(rb().imageBuffer, img.bytes()), nullptr);
        EXPECT_NE(ensure(rb().postA, img.bytes()), nullptr);
        EXPECT_NE(ensure(rb().screenVelocity, vel.v.size() * sizeof(float)), nullptr);
        EXPECT_NE(ensure(rb().velocityTiles, tiles * 8), nullptr);
        write(rb().imageBuffer.handle, img.px.data(), img.bytes());
        write(rb().screenVelocity.handle, vel.v.data(), vel.v.size() * sizeof(float));
        cindel::applyMotionBlur(rt(), s_, W, H);
        Image out(W, H);
        std::fill(out.px.begin(), out.px.end(), std::nanf(""));
        read(rb().imageBuffer.handle, out.px.data(), out.bytes());
        return out;
    }

    cindel::FrameSettings s_{};
    std::vector<cindel::SizedBuffer> scratch_;
    int violationsBefore_ = 0;
    int savedLastFrame_ = -1;
};

// A smooth velocity field of 5 to 40 px, still in the three leftmost columns: no smoothed speed
// lands near the 0.5 px cut-off, where float and double could disagree about blurring at all.
Velocity swirl(int w, int h) {
    Velocity v(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 3; x < w; ++x) {
            v.set(x, y, 20.0f + 15.0f * std::sin(0.3f * x), 10.0f * std::cos(0.4f * y + 0.2f * x));
        }
    return v;
}

// ---- reconstruction -------------------------------------------------------------------------

TEST_F(MotionBlurTest, ReconstructionMatchesTheDoubleReference) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 3);
    const Velocity vel = swirl(W, H);
    const size_t bytes = img.bytes();
    cl_mem in = scratch(0, bytes);
    cl_mem vbuf = scratch(1, vel.v.size() * sizeof(float));
    cl_mem tiles = scratch(2, 6 * 8);
    cl_mem out = scratch(3, bytes);
    ASSERT_TRUE(in && vbuf && tiles && out);
    write(in, img.px.data(), bytes);
    write(vbuf, vel.v.data(), vel.v.size() * sizeof(float));

    for (const auto& [scale, angle, seed] :
         {std::tuple{1.0f, 180.0f, 3}, std::tuple{2.5f, 270.0f, 4}, std::tuple{0.3f, 90.0f, 0}}) {
        KernelLaunch(rt(), KernelRole::MbReconstruct)
            .arg("inBuf", in)
            .arg("vBuf", vbuf)
            .arg("tBuf", tiles)
            .arg("outBuf", out)
            .arg("W", W)
            .arg("H", H)
            .arg("tileN", 16)
            .arg("shutterScale", scale)
            .arg("shutterAngleNorm", angle / 360.0f)
            .arg("nSamples", 13)
            .arg("frameSeed", seed)
            .run2d(W, H);
        Image got(W, H);
        read(out, got.px.data(), bytes);
        const double strength = double(scale) * double(angle / 360.0f);
        int compared = 0;
        int blurred = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                double ref[4];
                if (!reconstructRef(img, vel, x, y, strength, seed, ref)) continue;
                ++compared;
                bool changed = false;
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(got.at(x, y, c), ref[c], kReferenceTol)
                        << "(" << x << ", " << y << ") channel " << c << " strength " << strength;
                    changed |= std::fabs(ref[c] - img.at(x, y, c)) > 0.05;
                }
                blurred += changed;
            }
        EXPECT_GT(compared, W * H * 9 / 10);
        EXPECT_GT(blurred, W * H / 2) << "strength " << strength;
        // The still columns are copied bit for bit.
        for (int y = 0; y < H; ++y)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(got.at(0, y, c), img.at(0, y, c));
    }
}

TEST_F(MotionBlurTest, TransparentPixelsNextToMovingFireGainCoverage) {
    const int W = 41;
    const int H = 9;
    Image img(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 18; x <= 22; ++x) {
            img.at(x, y, 0) = 0.9f;
            img.at(x, y, 1) = 0.4f;
            img.at(x, y, 3) = 1.0f;
        }
    const Image out = blur(img, Velocity::uniform(W, H, 30.0f, 0.0f));
    // Transparent pixels in reach pick up alpha and colour; those far away stay empty.
    EXPECT_GT(out.at(16, 4, 3), 0.05f);
    EXPECT_GT(out.at(16, 4, 0), 0.01f);
    EXPECT_EQ(out.at(2, 4, 3), 0.0f);
    EXPECT_EQ(out.at(38, 4, 0), 0.0f);
}

// ---- conditions -----------------------------------------------------------------------------

TEST_F(MotionBlurTest, AStillScenePassesThroughUnchanged) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 5);
    EXPECT_TRUE(bitEqual(blur(img, Velocity(W, H)), img));

    // Sub-half-pixel motion, in alternating directions, still counts as still.
    Velocity slow(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) slow.set(x, y, (x + y) % 2 ? 0.35f : -0.3f, (x % 3) ? 0.2f : -0.35f);
    EXPECT_TRUE(bitEqual(blur(img, slow), img));

    // The same frame with real motion is blurred: the pass did run above.
    EXPECT_GT(maxDiff(blur(img, Velocity::uniform(W, H, 20.0f, 5.0f)), img), 0.1);
}

TEST_F(MotionBlurTest, ShutterAngleZeroAndTheSettingsDisableTheBlur) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 6);
    const Velocity fast = Velocity::uniform(W, H, 25.0f, -10.0f);
    ASSERT_GT(maxDiff(blur(img, fast), img), 0.1);

    s_.shutterAngle = 0.0f;
    EXPECT_TRUE(bitEqual(blur(img, fast), img)) << "shutter angle 0";
    s_.shutterAngle = 180.0f;

    s_.motionBlur = 0;
    EXPECT_TRUE(bitEqual(blur(img, fast), img)) << "Motion Blur off";
    s_.motionBlur = 2;

    s_.motionBlurScale = 0.001f;
    EXPECT_TRUE(bitEqual(blur(img, fast), img)) << "no shutter reported";
    s_.motionBlurScale = 1.0f;

    for (int quality : {1, 2, 0, 5}) {
        s_.quality = quality;
        EXPECT_TRUE(bitEqual(blur(img, fast), img)) << "quality " << quality;
    }
    s_.quality = 4;
    EXPECT_GT(maxDiff(blur(img, fast), img), 0.1) << "Ultra blurs";
}

// ---- reach ----------------------------------------------------------------------------------

TEST_F(MotionBlurTest, AStreakNeverReachesBeyondTwelvePixels) {
    const int W = 61;
    const int H = 25;
    const int cx = 30;
    const int cy = 12;
    const Image dot = dotImage(W, H, cx, cy);

    // Horizontal: every tap stays on its row, so the streak is confined to row cy.
    const Image h = blur(dot, Velocity::uniform(W, H, 500.0f, 0.0f));
    int reach = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool lit = h.at(x, y, 0) != 0.0f || h.at(x, y, 3) != 0.0f;
            if (!lit) continue;
            ASSERT_EQ(y, cy) << "x " << x;
            ASSERT_LE(std::abs(x - cx), 12) << "lit at x " << x;
            reach = std::max(reach, std::abs(x - cx));
        }
    EXPECT_GE(reach, 10) << "a 500 px/frame motion should streak nearly the full 12 px";
    EXPECT_LT(h.at(cx, cy, 0), 10.0f) << "the dot was smeared, not kept";

    // Diagonal: the same bound as a distance.
    const Image d = blur(dot, Velocity::uniform(W, H, 300.0f, 300.0f));
    double far = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (d.at(x, y, 0) == 0.0f && d.at(x, y, 3) == 0.0f) continue;
            const double dist = std::hypot(x - cx, y - cy);
            ASSERT_LE(dist, 12.0 + std::sqrt(2.0)) << "lit at (" << x << ", " << y << ")";
            far = std::max(far, dist);
        }
    EXPECT_GE(far, 9.0);
}

TEST_F(MotionBlurTest, ThinPixelsStreakLessThanDenseOnes) {
    // 8 px/frame at strength 0.5 is 4 px of stretch; a transparent pixel gets 0.4 of it (1.6 px),
    // so its farthest tap, 6.5/7 of that, reads the dot only from two pixels away.
    const int W = 41;
    const int H = 7;
    const int cx = 20;
    const int cy = 3;
    const Image out = blur(dotImage(W, H, cx, cy), Velocity::uniform(W, H, 8.0f, 0.0f));
    EXPECT_GT(out.at(cx + 2, cy, 3), 0.0f);
    EXPECT_GT(out.at(cx - 2, cy, 3), 0.0f);
    for (int x = 0; x < W; ++x) {
        if (std::abs(x - cx) >= 3) {
            EXPECT_EQ(out.at(x, cy, 3), 0.0f) << "x " << x;
        }
    }
}

// ---- determinism and the frame seed ---------------------------------------------------------

TEST_F(MotionBlurTest, TheSameFrameGivesTheSameBlurAndTheSeedOnlyMovesTheJitter) {
    const int W = 37;
    const int H = 23;
    const Image img = randomImage(W, H, 7);
    const Velocity vel = swirl(W, H);

    rt().grid.lastFrame = 5;
    const Image a = blur(img, vel);
    const Image b = blur(img, vel);
    EXPECT_TRUE(bitEqual(a, b)) << "two renders of frame 5 differ";
    EXPECT_GT(maxDiff(a, img), 0.1);

    rt().grid.lastFrame = 5 + 1024;  // the seed is the frame number & 1023
    EXPECT_TRUE(bitEqual(blur(img, vel), a));

    rt().grid.lastFrame = 6;
    const Image next = blur(img, vel);
    EXPECT_GT(maxDiff(next, a), 1e-3) << "consecutive frames share their jitter";

    // Without motion the seed changes nothing at all.
    const Velocity still(W, H);
    rt().grid.lastFrame = 5;
    const Image s5 = blur(img, still);
    rt().grid.lastFrame = 6;
    EXPECT_TRUE(bitEqual(blur(img, still), s5));
}

// ---- tile maximum ---------------------------------------------------------------------------

TEST_F(MotionBlurTest, VelocityTileMaxPicksTheFirstLargestPerTile) {
    const int W = 37;  // tiles of 16: 3 × 2, the last column and row partial
    const int H = 23;
    const int tileN = 16;
    const int tilesX = 3;
    const int tilesY = 2;
    Velocity vel(W, H);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-5.0f, 5.0f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) vel.set(x, y, u(rng), u(rng));
    // Tile (0, 0): a tie of equal magnitudes, the first in scan order must win.
    vel.set(9, 2, 6.0f, 8.0f);
    vel.set(3, 7, -8.0f, 6.0f);
    // Tile (1, 1), partial in y: all zero.
    for (int y = 16; y < H; ++y)
        for (int x = 16; x < 32; ++x) vel.set(x, y, 0.0f, 0.0f);
    // Tile (2, 1), partial in both: the largest sits in its last pixel.
    vel.set(36, 22, 0.0f, -9.0f);

    cl_mem vbuf = scratch(0, vel.v.size() * sizeof(float));
    cl_mem tbuf = scratch(1, tilesX * tilesY * 8);
    ASSERT_TRUE(vbuf && tbuf);
    write(vbuf, vel.v.data(), vel.v.size() * sizeof(float));
    std::vector<float> poison(tilesX * tilesY * 2, std::nanf(""));
    write(tbuf, poison.data(), poison.size() * sizeof(float));
    KernelLaunch(rt(), KernelRole::VelTileMax)
        .arg("vBuf", vbuf)
        .arg("tBuf", tbuf)
        .arg("W", W)
        .arg("H", H)
        .arg("tileN", tileN)
        .run2d(tilesX, tilesY);
    std::vector<float> tiles(tilesX * tilesY * 2);
    read(tbuf, tiles.data(), tiles.size() * sizeof(float));

    for (int ty = 0; ty < tilesY; ++ty)
        for (int tx = 0; tx < tilesX; ++tx) {
            float bx = 0.0f;
            float by = 0.0f;
            float best = 0.0f;
            for (int y = ty * tileN; y < std::min(H, (ty + 1) * tileN); ++y)
                for (int x = tx * tileN; x < std::min(W, (tx + 1) * tileN); ++x) {
                    const float m = vel.x(x, y) * vel.x(x, y) + vel.y(x, y) * vel.y(x, y);
                    if (m > best) best = m, bx = vel.x(x, y), by = vel.y(x, y);
                }
            const size_t t = static_cast<size_t>(ty * tilesX + tx);
            EXPECT_EQ(tiles[2 * t], bx) << "tile " << tx << ", " << ty;
            EXPECT_EQ(tiles[2 * t + 1], by) << "tile " << tx << ", " << ty;
        }
    EXPECT_EQ(tiles[0], 6.0f) << "the tie went to the later pixel";
    EXPECT_EQ(tiles[1], 8.0f);
    EXPECT_EQ(tiles[2 * 4], 0.0f);
    EXPECT_EQ(tiles[2 * 4 + 1], 0.0f);
    EXPECT_EQ(tiles[2 * 5 + 1], -9.0f);
}

}  // namespace
