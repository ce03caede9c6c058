// Shared by the render tests: the renderer's settings at the registered parameter defaults as the
// frame driver converts them, a small visible scene for the grid, and host-side image helpers.
// The post passes that blur or add light (bloom, heat distortion) are switched off unless a test
// turns them on, so frames can be compared value for value.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "frame/frame_settings.h"
#include "render/render_volume.h"
#include "sim_fixture.h"

namespace rendertest {

inline cindel::FrameSettings renderSettings(int compW, int compH) {
    cindel::FrameSettings s = simtest::defaultSimSettings();
    s.compWidth = compW;
    s.compHeight = compH;
    s.outputWidth = compW;
    s.outputHeight = compH;
    s.opacity = 1.0f;
    s.quality = 1;
    s.voxelSize = 1;
    s.debugView = 1;
    s.edgeSampling = 2;
    s.densityContrast = 0.7f;
    s.opacityThreshold = 0.0f;
    s.colorPreset = 1;
    s.colorMode = 1;
    s.minColorTemp = 100.0f;
    s.maxColorTemp = 2500.0f;
    s.gamma = 1.0f;
    s.intensity = 0.7f;
    s.source = {255 / 255.0f, 230 / 255.0f, 130 / 255.0f};
    s.mid = {255 / 255.0f, 90 / 255.0f, 20 / 255.0f};
    s.tailCool = {90 / 255.0f, 30 / 255.0f, 10 / 255.0f};
    s.burnCutoffCenter = 0.15f;
    s.burnCutoffWidth = 0.25f;
    s.scatterColor = {25 / 255.0f, 25 / 255.0f, 25 / 255.0f};
    s.smokeDensity = 65.0f;
    s.smokeBrightness = 0.25f;
    s.scatterAnisotropy = 0.5f;
    s.selfShadow = 0.2f;
    s.fireLight = 0.5f;
    s.volumetricDepth = 0.5f;
    s.ambientColor = {80 / 255.0f, 100 / 255.0f, 130 / 255.0f};
    s.ambientStrength = 0.0f;
    s.detailOctaves = 6;
    s.colorTint = {1.0f, 1.0f, 1.0f};
    s.saturation = 1.0f;
    s.detailNoise = 50.0f;
    s.detailScale = 10.0f;
    s.bloom = 0.0f;  // registered default 0.10; off so frames compare value for value
    s.lightCast = 0.0f;
    s.motionBlur = 0;
    s.shutterAngle = 180.0f;
    s.motionBlurScale = 0.0f;
    s.volumeDensity = 1.0f;
    s.blendMode = 1;
    s.blendStrength = 0.1f;
    s.heatAmount = 0.0f;
    s.heatScale = 0.5f;
    s.heatComplexity = 3;
    s.heatRise = 0.3f;
    return s;
}

// Float host worlds are alpha, red, green, blue per pixel, rows packed.
struct FloatImage {
    int width = 0, height = 0;
    std::vector<float> argb;
    const float* at(int x, int y) const { return &argb[(static_cast<size_t>(y) * width + x) * 4]; }
    float alpha(int x, int y) const { return at(x, y)[0]; }
    float maxAlpha() const {
        float m = 0.0f;
        for (size_t i = 0; i < argb.size(); i += 4) m = std::max(m, argb[i]);
        return m;
    }
};

class RenderTest : public simtest::SimTest {
protected:
    // A dense, hot ball of `radius` cells at the grid's centre: smoke and flame in one place, so
    // the frame has colour and opacity there and nothing far from it.
    void fillBall(float radius, float density, float kelvin) {
        const float c = 0.5f * static_cast<float>(N());
        auto inside = [&](int x, int y, int z) {
            const float dx = x + 0.5f - c, dy = y + 0.5f - c, dz = z + 0.5f - c;
            return dx * dx + dy * dy + dz * dz <= radius * radius;
        };
        write(grid().density, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? density : 0.0f; }));
        write(grid().temperature, scalarField([&](int x, int y, int z) { return inside(x, y, z) ? kelvin : 0.0f; }));
    }

    // Renders into a packed 32-bit float world; the world starts at -1 everywhere so that a pixel
    // the driver did not write stands out.
    FloatImage renderFloat(const cindel::FrameSettings& s, int W, int H, bool* ok = nullptr) {
        FloatImage img{W, H, std::vector<float>(static_cast<size_t>(W) * H * 4, -1.0f)};
        const bool written = cindel::renderVolume(rt(), img.argb.data(), W, H, W * 16, 32, s);
        if (ok) *ok = written;
        EXPECT_TRUE(written || ok);
        return img;
    }
};

}  // namespace rendertest
