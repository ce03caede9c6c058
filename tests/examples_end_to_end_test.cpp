// The example scenes, rendered by the cindel command as a user would, checked for what each one
// promises: the logo fire burns along the logo's edges, the burn reveal advances in its direction
// with its keyframes, the light-following fire moves with the light, and the mask fire lies on the
// mask outlines.
//
// Each scene is the example file with its size reduced (192 × 108), Draft quality and Sim Mode
// "Source Only": without forces the emitted heat stays where it was emitted, so a frame shows where
// the emitter put fire up to that frame, which is what these tests are about; the layers that would
// be composited over the fire are hidden (a hidden layer still serves as a Source Layer), so the
// rendered alpha is the effect's alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli_runner.h"
#include "emit/mask_path.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "minihost/compositor.h"
#include "tools/image_io.h"
#include "tools/scene.h"

namespace cli {
namespace {

constexpr int kWidth = 192;
constexpr int kHeight = 108;

// One float per pixel, row-major.
struct Plane {
    int width = 0, height = 0;
    std::vector<float> v;
    float at(int x, int y) const { return v[std::size_t(y) * width + x]; }
    double sum() const {
        double s = 0;
        for (float a : v) s += a;
        return s;
    }
};

Plane alphaOfPng(const std::string& path) {
    const PngPixels png = readPng(path);
    Plane p{png.width, png.height, std::vector<float>(std::size_t(png.width) * png.height)};
    const double full = png.bitDepth == 16 ? 65535.0 : 255.0;
    for (std::size_t i = 0; i < p.v.size(); ++i) p.v[i] = float(png.samples[i * 4 + 3] / full);
    return p;
}

// Pixels within `radius` of a pixel of `mask`.
Plane dilate(const Plane& mask, int radius) {
    Plane out{mask.width, mask.height, std::vector<float>(mask.v.size(), 0.0f)};
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) {
            if (mask.at(x, y) <= 0) continue;
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx) {
                    const int u = x + dx, w = y + dy;
                    if (u < 0 || w < 0 || u >= mask.width || w >= mask.height || dx * dx + dy * dy > radius * radius)
                        continue;
                    out.v[std::size_t(w) * mask.width + u] = 1.0f;
                }
        }
    return out;
}

double sumWhere(const Plane& values, const Plane& mask, bool inside) {
    double s = 0;
    for (std::size_t i = 0; i < values.v.size(); ++i)
        if ((mask.v[i] > 0) == inside) s += values.v[i];
    return s;
}

// The right-most column whose alpha sum exceeds `threshold`, -1 when none does.
int rightmostColumn(const Plane& alpha, double threshold) {
    for (int x = alpha.width - 1; x >= 0; --x) {
        double column = 0;
        for (int y = 0; y < alpha.height; ++y) column += alpha.at(x, y);
        if (column > threshold) return x;
    }
    return -1;
}

double centroidX(const Plane& alpha) {
    double s = 0, sx = 0;
    for (int y = 0; y < alpha.height; ++y)
        for (int x = 0; x < alpha.width; ++x) {
            s += alpha.at(x, y);
            sx += alpha.at(x, y) * (x + 0.5);
        }
    return s > 0 ? sx / s : -1;
}

class ExampleScenes : public CindelRun {
protected:
    void SetUp() override {
        CindelRun::SetUp();
        // Without a device the command renders the no-GPU fill: nothing here would be about fire.
        cindel::GpuRuntime probe;
        if (!cindel::loadClApi() || !cindel::chooseDevice(probe, cindel::kCpuFallbackBuiltIn))
            GTEST_SKIP() << "no OpenCL device";
    }

    // The example with the test's changes: named layers hidden, image files found from the
    // examples folder, no background.
    std::string adaptedScene(const std::string& example, const std::vector<std::string>& hidden) {
        nlohmann::json scene = nlohmann::json::parse(slurp(std::string(CINDEL_EXAMPLES_DIR) + "/" + example));
        for (auto& layer : scene["layers"]) {
            if (layer.contains("file")) layer["file"] = std::string(CINDEL_EXAMPLES_DIR) + "/" + layer["file"].get<std::string>();
            if (layer.contains("name") && std::find(hidden.begin(), hidden.end(), layer["name"]) != hidden.end())
                layer["visible"] = false;
        }
        scene["output"] = {{"background", "none"}};
        return writeScene(example, scene.dump());
    }

    // Renders one frame of a scene at the test size and returns its alpha.
    Plane renderFrame(const std::string& scene, int frame) {
        const std::string out = path("frames");
        const std::string frameText = std::to_string(frame);
        Outcome run = cindel({"render", scene, "--size", std::to_string(kWidth) + "x" + std::to_string(kHeight),
                              "--frames", frameText, "--quality", "Draft", "--set", "Sim Mode=Source Only", "--set",
                              "Voxel Size=Large", "--format", "png", "--out", out});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%04d.png", frame);
        return alphaOfPng(out + name);
    }

    // The alpha of one layer of the scene as the compositor places it at the test size.
    static Plane placedLayerAlpha(const std::string& scenePath, const std::string& layerName, int frame) {
        Scene scene = loadSceneFile(scenePath);
        scene.resize(kWidth, kHeight);
        minihost::Composition& comp = *scene.composition;
        for (int i = 0; i < comp.layerCount(); ++i) comp.layer(i).isVisible = comp.layer(i).name == layerName;
        const minihost::RgbaImage image = minihost::compositeFrame(comp, comp.secondsOfFrame(frame), nullptr, {});
        Plane p{image.width, image.height, std::vector<float>(std::size_t(image.width) * image.height)};
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) p.v[std::size_t(y) * image.width + x] = image.at(x, y)[3];
        return p;
    }
};

TEST_F(ExampleScenes, LogoFireBurnsAlongTheLogosEdgesAndNowhereFarFromThem) {
    const std::string scene = adaptedScene("logo_fire.json", {"Logo"});
    const Plane logo = placedLayerAlpha(scene, "Logo", 6);
    ASSERT_GT(logo.sum(), 100.0) << "the logo is not in the frame";
    const Plane fire = renderFrame(scene, 6);
    ASSERT_GT(fire.sum(), 5.0) << "no fire at all";

    // Edge pixels: where the logo's alpha crosses one half between neighbours.
    Plane edges{logo.width, logo.height, std::vector<float>(logo.v.size(), 0.0f)};
    for (int y = 1; y + 1 < logo.height; ++y)
        for (int x = 1; x + 1 < logo.width; ++x) {
            const bool in = logo.at(x, y) >= 0.5f;
            if (in != (logo.at(x + 1, y) >= 0.5f) || in != (logo.at(x, y + 1) >= 0.5f))
                edges.v[std::size_t(y) * logo.width + x] = 1.0f;
        }
    // A grid cell is 1.5 pixels here and the emission is sampled through a bilinear map, so the fire
    // may stand a few pixels off the edge; far from every edge there must be almost nothing.
    const Plane nearEdges = dilate(edges, 6);
    const double near = sumWhere(fire, nearEdges, true);
    const double far = sumWhere(fire, nearEdges, false);
    EXPECT_GT(near, 4.0 * far) << "near " << near << ", far " << far;

    // Inside the logo, away from its edges, the Edges pattern emits nothing.
    Plane interior{logo.width, logo.height, std::vector<float>(logo.v.size(), 0.0f)};
    const Plane wideEdges = dilate(edges, 8);
    int interiorPixels = 0;
    for (std::size_t i = 0; i < logo.v.size(); ++i)
        if (logo.v[i] >= 0.99f && wideEdges.v[i] == 0) {
            interior.v[i] = 1.0f;
            ++interiorPixels;
        }
    if (interiorPixels > 20) {
        const double perInterior = sumWhere(fire, interior, true) / interiorPixels;
        double edgePixels = 0;
        for (float e : nearEdges.v) edgePixels += e;
        EXPECT_LT(perInterior, 0.25 * near / edgePixels);
    }
}

TEST_F(ExampleScenes, BurnRevealAdvancesFromTheLeftWithItsKeyframes) {
    const std::string scene = adaptedScene("burn_reveal.json", {"Logo"});
    const Plane logo = placedLayerAlpha(scene, "Logo", 0);
    const int logoLeft = [&] {
        for (int x = 0; x < logo.width; ++x)
            for (int y = 0; y < logo.height; ++y)
                if (logo.at(x, y) > 0.5f) return x;
        return -1;
    }();
    ASSERT_GE(logoLeft, 0);

    // Burn Progress runs 0 → 100 % over frames 0 … 90: the front is about a quarter, a half and
    // four fifths of the way across at these frames.
    const Plane early = renderFrame(scene, 24);
    const Plane middle = renderFrame(scene, 45);
    const Plane late = renderFrame(scene, 75);
    const int a = rightmostColumn(early, 0.5), b = rightmostColumn(middle, 0.5), c = rightmostColumn(late, 0.5);
    ASSERT_GE(a, 0) << "nothing burns at frame 24";
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_GE(a, logoLeft) << "fire left of the logo";
    EXPECT_LT(centroidX(early), centroidX(late));
    EXPECT_GT(late.sum(), early.sum());
}

TEST_F(ExampleScenes, FireFollowsTheAnimatedLight) {
    const std::string scene = adaptedScene("light_follow.json", {});
    Scene parsed = loadSceneFile(scene);
    parsed.resize(kWidth, kHeight);
    const minihost::Composition& comp = *parsed.composition;
    const minihost::Layer* torch = comp.findByName("Torch");
    ASSERT_NE(torch, nullptr);

    for (int frame : {10, 45}) {
        const Plane fire = renderFrame(scene, frame);
        const minihost::Vec3 light = comp.layerToWorld(*torch, comp.secondsOfFrame(frame)).translation();
        // The emitter sits on the light now and trails back along its path: the newest fire is
        // at the light, and the trail lies to its left while the light moves right.
        double nearLight = 0;
        for (int y = 0; y < fire.height; ++y)
            for (int x = 0; x < fire.width; ++x)
                if (std::hypot(x + 0.5 - light.x, y + 0.5 - light.y) < 8.0) nearLight += fire.at(x, y);
        EXPECT_GT(nearLight, 1.0) << "frame " << frame << ": no fire at the light (" << light.x << ", " << light.y
                                  << ")";
        const int right = rightmostColumn(fire, 0.3);
        EXPECT_NEAR(right, light.x, 14.0) << "frame " << frame;
    }
}

TEST_F(ExampleScenes, MaskFireLiesOnTheMaskOutlines) {
    const std::string scene = adaptedScene("mask_fire.json", {});
    Scene parsed = loadSceneFile(scene);
    parsed.resize(kWidth, kHeight);
    const minihost::Layer* layer = parsed.composition->effectLayer();
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->masks.size(), 2u);

    // The outlines, painted as the path emitter paints them but wider, to allow for the grid.
    Plane band{kWidth, kHeight, std::vector<float>(std::size_t(kWidth) * kHeight, 0.0f)};
    for (const minihost::Mask& mask : layer->masks) {
        const int n = static_cast<int>(mask.vertices.size());
        const int segments = mask.segmentCount();
        std::vector<float> xs, ys;
        for (int i = 0; i < segments; ++i) {
            const minihost::MaskVertex& v0 = mask.vertices[i];
            const minihost::MaskVertex& v1 = mask.vertices[(i + 1) % n];
            double bx[16], by[16];
            cindel::sampleBezierSegment(v0.x, v0.y, v0.outTangentX, v0.outTangentY, v1.inTangentX, v1.inTangentY,
                                        v1.x, v1.y, bx, by);
            for (int k = 0; k < 16; ++k) {
                xs.push_back(float(bx[k]));
                ys.push_back(float(by[k]));
            }
        }
        if (!mask.isClosed) {
            xs.push_back(float(mask.vertices.back().x));
            ys.push_back(float(mask.vertices.back().y));
        }
        cindel::paintStroke(xs.data(), ys.data(), static_cast<int>(xs.size()), mask.isClosed, band.v.data(), kWidth,
                            kHeight, 9.0f);
    }
    const Plane fire = renderFrame(scene, 6);
    ASSERT_GT(fire.sum(), 5.0) << "no fire at all";
    const double on = sumWhere(fire, band, true);
    const double off = sumWhere(fire, band, false);
    EXPECT_GT(on, 4.0 * off) << "on " << on << ", off " << off;
    // The ring's centre, well inside the outline, stays dark.
    const minihost::Mask& ring = layer->masks[0];
    double cx = 0, cy = 0;
    for (const auto& v : ring.vertices) {
        cx += v.x / ring.vertices.size();
        cy += v.y / ring.vertices.size();
    }
    EXPECT_LT(fire.at(int(cx), int(cy)), 0.1f);
}

}  // namespace
}  // namespace cli
