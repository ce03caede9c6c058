// Shared by the render driver's tests: settings for a plain visible frame, a hot ball in the grid,
// and a float frame rendered into a host world.
#pragma once

#include <algorithm>
#include <vector>

#include "frame/frame_settings.h"
#include "render/render_volume.h"
#include "sim_fixture.h"

namespace rendertest {

// A plain look: blackbody fire over 100 … 2500 K, grey smoke (density contrast 0.7 lifts the
// thinnest), no optional light, neutral grading; bloom, light cast, heat, detail noise and motion blur stay 0 (off).
inline cindel::FrameSettings renderSettings(int compW, int compH) {
    cindel::FrameSettings s = simtest::defaultSimSettings();
    s.compWidth = s.outputWidth = compW;
    s.compHeight = s.outputHeight = compH;
    s.opacity = s.gamma = s.saturation = s.volumeDensity = 1.0f;
    s.quality = s.voxelSize = s.debugView = s.colorMode = s.blendMode = 1;
    s.densityContrast = s.intensity = 0.7f, s.minColorTemp = 100.0f, s.maxColorTemp = 2500.0f;
    s.burnCutoffCenter = 0.15f, s.burnCutoffWidth = 0.25f;
    s.scatterColor = {0.1f, 0.1f, 0.1f};
    s.colorTint = {1.0f, 1.0f, 1.0f};
    s.smokeDensity = 65.0f, s.smokeBrightness = 0.25f, s.selfShadow = 0.2f;
    return s;
}

// A float host world: alpha, red, green, blue per pixel, rows packed.
struct FloatImage {
    int width = 0, height = 0;
    std::vector<float> argb;
    const float* at(int x, int y) const { return &argb[(static_cast<size_t>(y) * width + x) * 4]; }
    float alpha(int x, int y) const { return at(x, y)[0]; }
};


class RenderTest : public simtest::SimTest {
protected:
    // A dense, hot ball of `radius` cells at the grid's centre.
    void fillBall(float radius, float density, float kelvin) {
        const float c = 0.5f * static_cast<float>(N());
        auto inside = [&](int x, int y, int z) {
            return (x + 0.5f - c) * (x + 0.5f - c) + (y + 0.5f - c) * (y + 0.5f - c) + (z + 0.5f - c) * (z + 0.5f - c) <=
                   radius * radius;
        };
        write(grid().density, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? density : 0.0f; }));
        write(grid().temperature, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? kelvin : 0.0f; }));
    }

    // The world starts at -1 everywhere so that a pixel the driver did not write stands out.
    FloatImage renderFloat(const cindel::FrameSettings& s, int W, int H) {
        FloatImage img{W, H, std::vector<float>(static_cast<size_t>(W) * H * 4, -1.0f)};
        EXPECT_TRUE(cindel::renderVolume(rt(), img.argb.data(), W, H, W * 16, 32, s));
        return img;
    }
};

}  // namespace rendertest
