// The path emitter: strokes against an unclipped reference, Bézier sampling, and the mask-outline
// map through minihost's composition at every preview resolution, with refusals and handles.
#include "emit/mask_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "AE_GeneralPlug.h"
#include "host/process_state.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost_fake.h"

namespace cindel {
namespace {

// The stroke's definition, step by step and without any clipping: the reference for paintStroke.
void referenceStroke(const std::vector<float>& xs, const std::vector<float>& ys, bool closed, std::vector<float>& map,
                     int width, int height, double r) {
    const int count = int(xs.size());
    if (count < 2) return;
    const int segments = closed ? count : count - 1;
    for (int i = 0; i < segments; ++i) {
        const double ax = xs[size_t(i)], ay = ys[size_t(i)];
        const double bx = xs[size_t((i + 1) % count)], by = ys[size_t((i + 1) % count)];
        const double len = std::hypot(bx - ax, by - ay);
        const int steps = int(len + 1.0);
        for (int s = 0; s <= steps; ++s) {
            const double t = steps > 0 ? double(s) / steps : 0.0;
            const double px = ax + t * (bx - ax), py = ay + t * (by - ay);
            const int x0 = std::max(0, int(px - r)), x1 = std::min(width - 1, int(px + r));
            const int y0 = std::max(0, int(py - r)), y1 = std::min(height - 1, int(py + r));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const double d = std::hypot(x - px, y - py);
                    if (d <= r) map[size_t(y * width + x)] = std::max(map[size_t(y * width + x)], float(1.0 - d / r));
                }
        }
    }
}

// A map followed by a guard that must stay untouched.
struct StrokeMap {
    static constexpr float kGuard = -3.0f;
    int width, height;
    std::vector<float> data;
    StrokeMap(int w, int h) : width(w), height(h), data(size_t(w * h) + 256, 0.0f) {
        std::fill(data.begin() + w * h, data.end(), kGuard);
    }
    float at(int x, int y) const { return data[size_t(y * width + x)]; }
    void paint(const std::vector<float>& xs, const std::vector<float>& ys, bool closed, float radius = 5.0f) {
        paintStroke(xs.data(), ys.data(), int(xs.size()), closed, data.data(), width, height, radius);
    }
    bool isGuardIntact() const {
        return std::all_of(data.begin() + width * height, data.end(), [](float v) { return v == kGuard; });
    }
    float max() const { return *std::max_element(data.begin(), data.begin() + width * height); }
};

TEST(PaintStroke, MatchesItsDefinitionIncludingStrokesLeavingTheMap) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> coord(-40.0f, 90.0f);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 37 + trial % 5, h = 29 + trial % 3;
        const int count = 2 + trial % 6;
        std::vector<float> xs, ys;
        for (int i = 0; i < count; ++i) {
            xs.push_back(coord(rng));
            ys.push_back(coord(rng));
        }
        const bool closed = trial % 2 == 0;
        const float radius = trial % 4 == 0 ? 2.5f : 5.0f;
        StrokeMap m(w, h);
        m.paint(xs, ys, closed, radius);
        std::vector<float> expected(size_t(w * h), 0.0f);
        referenceStroke(xs, ys, closed, expected, w, h, radius);
        for (int i = 0; i < w * h; ++i) ASSERT_NEAR(m.data[size_t(i)], expected[size_t(i)], 1e-6f) << trial << " " << i;
        ASSERT_TRUE(m.isGuardIntact()) << trial;
    }
}

// Far, non-finite and degenerate input paints nothing, and nothing outside the map; lines far
// longer than the map are painted where they cross it.
TEST(PaintStroke, BadInputPaintsNothingOutsideTheMap) {
    const float inf = std::numeric_limits<float>::infinity();
    StrokeMap m(40, 30);
    m.paint({-1e6f, -2e6f}, {-1e6f, 5e6f}, true);    // far outside, both points
    m.paint({1e30f, 2e30f}, {-1e30f, 1e30f}, true);  // far outside, huge lengths
    m.paint({std::nanf(""), 20}, {15, 15}, false);
    m.paint({inf, 20}, {15, inf}, false);
    m.paint({10}, {10}, true);
    m.paint({}, {}, false);
    for (float radius : {0.0f, -2.0f, std::nanf("")}) m.paint({5, 15}, {5, 15}, false, radius);
    const float xs[2] = {5, 15}, ys[2] = {5, 15};
    paintStroke(xs, ys, 2, false, m.data.data(), 0, 30, 5.0f);
    paintStroke(xs, ys, 2, false, nullptr, 40, 30, 5.0f);
    paintStroke(nullptr, ys, 2, false, m.data.data(), 40, 30, 5.0f);
    EXPECT_EQ(m.max(), 0.0f);
    // Lines from far left to far right are painted across the whole map: one of 2e9 pixels, and
    // one of 2e13, too long to step exactly, which is stepped over its part near the map.
    m.paint({-1e9f, 1e9f}, {8, 8}, false);
    m.paint({-1e13f, 1e13f}, {20, 20}, false);
    // The steps fall half-way between pixels.
    for (int x = 0; x < 40; ++x) EXPECT_GE(std::min(m.at(x, 8), m.at(x, 20)), 0.9f) << x;
    EXPECT_EQ(std::tuple(m.at(20, 14), m.at(20, 26)), std::tuple(0.0f, 0.0f));
    EXPECT_TRUE(m.isGuardIntact());
}

// B(t) = (1−t)³P0 + 3(1−t)²t P1 + 3(1−t)t² P2 + t³P3 with P1 = P0 + out tangent, P2 = P3 + in
// tangent, at t = k / 16 for k = 0 … 15: the end vertex is the next segment's first sample.
TEST(SampleBezierSegment, SamplesTheCubicAtSixteenthsFromTheStartVertex) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> v(-50.0, 50.0);
    for (int trial = 0; trial < 8; ++trial) {
        const double p0x = v(rng), p0y = v(rng), ox = v(rng), oy = v(rng), ix = v(rng), iy = v(rng);
        const double p3x = v(rng), p3y = v(rng);
        double xs[16], ys[16];
        sampleBezierSegment(p0x, p0y, ox, oy, ix, iy, p3x, p3y, xs, ys);
        for (int k = 0; k < 16; ++k) {
            const double t = k / 16.0, u = 1.0 - t;
            auto b = [&](double p0, double p1, double p2, double p3) {
                return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
            };
            EXPECT_NEAR(xs[k], b(p0x, p0x + ox, p3x + ix, p3x), 1e-9) << trial << " " << k;
            EXPECT_NEAR(ys[k], b(p0y, p0y + oy, p3y + iy, p3y), 1e-9) << trial << " " << k;
        }
    }
}

minihost::MaskVertex corner(double x, double y) {
    return minihost::MaskVertex{x, y, 0, 0, 0, 0};
}

// The map built inside a command of a stand-in effect, at PF_InData's size as the frame driver asks.
class MaskHost : public minihost::FakeEffectTest {
protected:
    void SetUp() override {
        FakeEffectTest::SetUp();
        savedPluginId = processState().aegpPluginId;
        processState().aegpPluginId = host.builtinSuites().pluginIdToGive;
        composition->width = 640;
        composition->height = 360;
        // A 200 x 100 layer at 50 %, its centre at (320, 180): pixel (x, y) lands at (270 + x/2, 155 + y/2).
        minihost::Layer layer;
        layer.type = minihost::LayerType::Effect;
        layer.width = 200;
        layer.height = 100;
        layer.anchor = minihost::Vec3{100, 50, 0};
        layer.position = minihost::Vec3{320, 180, 0};
        layer.scale = minihost::Vec3{50, 50, 100};
        layerId = composition->addLayer(layer).id;
        host.setComposition(composition);
        instance = &host.newInstance(640, 360);
        instance->setLayerId(layerId);
    }
    void TearDown() override {
        processState().aegpPluginId = savedPluginId;
        FakeEffectTest::TearDown();
    }

    minihost::Layer& layer() { return *composition->layerById(layerId); }
    void addMask(std::vector<minihost::MaskVertex> vertices, bool isClosed) {
        minihost::Mask mask;
        mask.isClosed = isClosed;
        mask.vertices = std::move(vertices);
        layer().masks.push_back(mask);
    }
    bool run() {
        bool isBuilt = false;
        map.clear();
        inCommand([&](PF_InData* in) {
            float* built = nullptr;
            int w = 0, h = 0;
            isBuilt = buildMaskPathMap(in, in->width, in->height, &built, &w, &h);
            EXPECT_EQ(isBuilt, built != nullptr);
            if (built) {
                EXPECT_EQ(std::tuple(w, h), std::tuple(640, 360));
                map.assign(built, built + size_t(w) * size_t(h));
            }
            delete[] built;
        });
        return isBuilt;
    }
    float at(int x, int y) const { return map[size_t(y * 640 + x)]; }
    // Each probe {x, y, lo, hi} reads within [lo, hi].
    void expectAt(std::initializer_list<std::array<float, 4>> probes) const {
        for (const auto& [x, y, lo, hi] : probes)
            EXPECT_TRUE(at(int(x), int(y)) >= lo && at(int(x), int(y)) <= hi)
                << x << "," << y << ": " << at(int(x), int(y));
    }

    std::vector<float> map;
    AEGP_PluginID savedPluginId = 0;
    std::shared_ptr<minihost::Composition> composition = std::make_shared<minihost::Composition>();
    int layerId = 0;
};

// Previews shrink the downsample factors, not PF_InData's size, and outlines stay in full-resolution
// pixels: every preview paints the full-resolution map.
TEST_F(MaskHost, RectangleOnAHalfSizeLayerIsHalfSizeAroundTheAnchorAtEveryPreviewResolution) {
    addMask({corner(20, 20), corner(180, 20), corner(180, 80), corner(20, 80)}, true);
    for (const int factor : {1, 2, 4}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(factor));
        host.settings().setPreviewResolution(factor);
        ASSERT_TRUE(run());
        // Corners (280, 165) and (360, 195) on samples; the top and closing edges; 2, 6 pixels inside
        // and 7 outside; nothing where the unscaled corner would be.
        expectAt({{280, 165, 1, 1},
                  {360, 195, 1, 1},
                  {320, 165, 0.85f, 1},
                  {280, 180, 0.85f, 1},
                  {320, 167, 0.55f, 0.65f},
                  {320, 171, 0, 0},
                  {320, 158, 0, 0},
                  {240, 145, 0, 0}});
        // A soft frame of half-width 5 along a 240-pixel outline holds about 5 × 240 in value.
        const float total = std::accumulate(map.begin(), map.end(), 0.0f);
        EXPECT_NEAR(total, 5.0f * 240.0f, 0.15f * 5.0f * 240.0f);
    }
}

TEST_F(MaskHost, OpenOutlineHasNoClosingSegmentAndEveryMaskIsPainted) {
    addMask({corner(20, 20), corner(180, 20), corner(180, 80)}, false);
    addMask({corner(20, 90), corner(100, 90)}, false);
    ASSERT_TRUE(run());
    // The right side; nothing where the closing diagonal would run; the second mask from (20, 90).
    expectAt({{280, 165, 1, 1}, {360, 180, 0.85f, 1}, {320, 180, 0, 0}, {280, 200, 1, 1}, {300, 200, 0.85f, 1}});
    EXPECT_EQ(host.aegp().masksGiven(), 2);
}

TEST_F(MaskHost, CurvedSegmentsFollowTheirTangents) {
    // One closed two-vertex outline with tangents: a lens bulging above and below the chord.
    minihost::MaskVertex left = corner(40, 50), right = corner(160, 50);
    left.outTangentY = right.inTangentY = -40;
    right.outTangentY = left.inTangentY = 40;
    addMask({left, right}, true);
    ASSERT_TRUE(run());
    // The mid-point of each Bézier is 3/4 of the tangent off the chord: 30 layer pixels, 15 here.
    expectAt({{320, 180 - 15, 0.85f, 1}, {320, 180 + 15, 0.85f, 1}, {320, 180, 0, 0}});
}

// Each of these ends the build with no map and every handle given back; the same build then succeeds.
TEST_F(MaskHost, RefusalsGiveNoMapAndLeakNothing) {
    const auto withhold = [&](const char* name, int32 version) {
        return [=, this] { host.suites().withhold(name, version); };
    };
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"degenerate outlines",
         [&] {
             layer().masks = {};
             addMask({corner(50, 50)}, true);
             addMask({}, false);
         }},
        {"premiere", [&] { host.settings().poseAsPremierePro(); }},
        {"no plugin id", [&] { processState().aegpPluginId = 0; }},
        {"unknown layer", [&] { instance->setLayerId(999); }},
        {"mask suite", withhold("AEGP Layer Mask Suite", 7)},
        {"outline suite", withhold("AEGP Mask Outline Suite", 5)},
        {"stream suite", withhold("AEGP Stream Suite", 11)},
        {"layer suite", withhold("AEGP Layer Suite", 14)},
    };
    EXPECT_FALSE(run());  // no masks at all
    for (const auto& [name, refuse] : cases) {
        addMask({corner(20, 20), corner(180, 20), corner(180, 80)}, true);
        refuse();
        EXPECT_FALSE(run()) << name;
        EXPECT_TRUE(map.empty()) << name;
        layer().masks.clear();
        host.suites().restoreAll();
        host.settings().poseAsPremierePro(false);
        processState().aegpPluginId = host.builtinSuites().pluginIdToGive;
        instance->setLayerId(layerId);
    }
    addMask({corner(20, 20), corner(180, 20)}, false);
    EXPECT_TRUE(run());
}

}  // namespace
}  // namespace cindel
