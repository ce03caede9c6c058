// Source Layer and Custom Map capture: alpha reading, map digests and the composition resample
// against references, and the capture as minihost drives the effect, uploads and masks included.
#include "emit/layer_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "AE_GeneralPlug.h"
#include "emit/emitter_caches.h"
#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "frame/render_frame.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "host/effect_main.h"
#include "host/log.h"
#include "host/process_state.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost/world.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using minihost::World;

// Reference digest: FNV-1a over whole 32-bit words, seeded with the width and the height, then
// x, y and int(v × 255) of every value above 0.005 in row order.
uint32_t referenceMapHash(const std::vector<float>& map, int width, int height) {
    const uint32_t prime = 16777619u;
    uint32_t h = 2166136261u;
    h = (h ^ uint32_t(width)) * prime;
    h = (h ^ uint32_t(height)) * prime;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float v = map[size_t(y * width + x)];
            if (v > 0.005f) {
                h = (h ^ uint32_t(x)) * prime;
                h = (h ^ uint32_t(y)) * prime;
                h = (h ^ uint32_t(int(v * 255.0f))) * prime;
            }
        }
    }
    return h;
}

// Each depth's alpha on the host's scale, read row by row through padding: 8 bits ÷ 255, 16 bits
// × 1/32768, floats clamped to [0, 1] with NaN read as 0.
TEST(ReadWorldAlpha, EachDepthOnTheHostsScale) {
    const float inf = std::numeric_limits<float>::infinity();
    const float floats[] = {0.3f, -0.5f, 2.0f, std::nanf(""), inf, -inf};
    World w8(3, 2, 8, 12), w16(4, 1, 16, 6), w32(6, 1, 32, 16);
    std::vector<float> expected8;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            w8.pixel8(x, y) = PF_Pixel8{A_u_char(y * 100 + x * 40), 9, 9, 9};
            expected8.push_back((y * 100 + x * 40) / 255.0f);
        }
    const A_u_short alphas16[] = {0, 8192, 16384, 32768};
    for (int x = 0; x < 4; ++x) w16.pixel16(x, 0) = PF_Pixel16{alphas16[x], 1, 2, 3};
    for (int x = 0; x < 6; ++x) w32.pixel32(x, 0) = PF_PixelFloat{floats[x], 0.5f, 0.5f, 0.5f};
    const std::tuple<World*, int, std::vector<float>> cases[] = {
        {&w8, 8, expected8}, {&w16, 16, {0, 0.25f, 0.5f, 1}}, {&w32, 32, {0.3f, 0, 1, 0, 1, 0}}};
    for (const auto& [world, bits, expected] : cases) {
        std::vector<float> map(expected.size(), -1.0f);
        ASSERT_TRUE(readWorldAlpha(*world->get(), bits, map.data())) << bits;
        for (size_t i = 0; i < map.size(); ++i) EXPECT_FLOAT_EQ(map[i], expected[i]) << bits << " bits, " << i;
    }
}

TEST(SummarizeMap, BoxIsInclusiveAndDigestMatchesItsDefinition) {
    const int w = 7, h = 6;
    std::vector<float> map(size_t(w * h), 0.0f);
    map[size_t(1 * w + 4)] = 0.0051f;
    map[size_t(3 * w + 2)] = 1.0f;
    map[size_t(4 * w + 5)] = 0.5f;
    map[size_t(5 * w + 0)] = std::nanf("");  // never counts
    map[size_t(0 * w + 6)] = 0.004f;
    const MapSummary s = summarizeMap(map.data(), w, h);
    EXPECT_EQ(std::tuple(s.boxX0, s.boxY0, s.boxX1, s.boxY1), std::tuple(2, 1, 5, 4));
    EXPECT_EQ(s.hash, referenceMapHash(map, w, h));

    // At the threshold the map is still empty: no box, a digest of the size alone.
    const std::vector<float> faint(5 * 3, 0.005f);
    const MapSummary none = summarizeMap(faint.data(), 5, 3);
    EXPECT_EQ(std::tuple(none.boxX0, none.boxY1), std::tuple(-1, -1));
    EXPECT_EQ(none.hash, referenceMapHash(faint, 5, 3));
    EXPECT_NE(none.hash, summarizeMap(faint.data(), 3, 5).hash);
}

// The resample written from its definition: 16 sub-samples at quarter offsets, truncation toward
// zero, the mean over those that land inside the layer, 0 when none does.
std::vector<float> referenceResample(const std::vector<float>& layer, int w, int h, const LayerPlacement& p, int cw,
                                     int ch) {
    const float offsets[4] = {0.125f, 0.375f, 0.625f, 0.875f};
    std::vector<float> out(size_t(cw * ch), 0.0f);
    for (int cy = 0; cy < ch; ++cy)
        for (int cx = 0; cx < cw; ++cx) {
            float sum = 0.0f;
            int n = 0;
            for (float sy : offsets)
                for (float sx : offsets) {
                    const float fx = (cx + sx - p.posX) * p.invScX + p.ancX,
                                fy = (cy + sy - p.posY) * p.invScY + p.ancY;
                    if (!(fx > -1.0f && fx < float(w) && fy > -1.0f && fy < float(h))) continue;
                    sum += layer[size_t(int(fy) * w + int(fx))];
                    ++n;
                }
            out[size_t(cy * cw + cx)] = n ? sum / float(n) : 0.0f;
        }
    return out;
}

// Placements that shift by fractions, fold the strip left of the layer onto column 0, scale up
// and down around the anchor, and start at negative positions; the output is followed by a guard.
TEST(ResampleToComposition, MatchesItsDefinition) {
    const int w = 9, h = 5, cw = 23, ch = 14;
    std::vector<float> layer(size_t(w * h));
    for (int i = 0; i < w * h; ++i) layer[size_t(i)] = float((i * 37) % 11) / 10.0f;
    const LayerPlacement placements[] = {{0, 0, 1, 1, 0, 0},          {0.5f, 0, 1, 1, 0, 0},
                                         {10.5f, 3.25f, 1, 1, 0, 0},  {6, 4, 0.5f, 0.5f, 2, 1},
                                         {-2, -1, 1, 1, 0, 0},        {11, 7, 2.0f, 0.75f, 4.5f, 2.5f},
                                         {3, 2, 1.0f / 3.0f, 1, 0, 0}};
    for (const LayerPlacement& p : placements) {
        std::vector<float> out(size_t(cw * ch) + 16, 12345.0f);
        resampleToComposition(layer.data(), w, h, p, cw, ch, out.data());
        const std::vector<float> expected = referenceResample(layer, w, h, p, cw, ch);
        for (int i = 0; i < cw * ch; ++i)
            ASSERT_NEAR(out[size_t(i)], expected[size_t(i)], 1e-6f) << p.posX << "," << p.posY << " at " << i;
        for (size_t i = size_t(cw * ch); i < out.size(); ++i) ASSERT_EQ(out[i], 12345.0f);
    }
    // Non-finite or absurd placements and a missing layer write zeros everywhere.
    for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(), 3e38f}) {
        std::vector<float> out(size_t(cw * ch), 7.0f);
        resampleToComposition(layer.data(), w, h, LayerPlacement{0, 0, bad, 1, 0, 0}, cw, ch, out.data());
        EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f) << bad;
    }
    std::vector<float> out(size_t(cw * ch), 7.0f);
    resampleToComposition(nullptr, w, h, LayerPlacement{}, cw, ch, out.data());
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f);
}

std::vector<std::string>* gLog = nullptr;
void captureLog(const char* format, va_list args) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    if (gLog) gLog->push_back(line);
}

// A logo-like source: an opaque disc in a transparent 8-bit world with padded rows.
World disc(int w, int h, float radius) {
    World world(w, h, 8, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float dx = x - w * 0.5f, dy = y - h * 0.5f;
            world.pixel8(x, y) = PF_Pixel8{A_u_char(dx * dx + dy * dy < radius * radius ? 255 : 0), 0, 0, 0};
        }
    return world;
}

// Through minihost: the effect in this process answers its Source Layer questions from minihost's
// composition; a probe in front of it keeps the frame's settings for the test to read.

FrameSettings* gProbe = nullptr;

PF_Err probeMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER && gProbe) {
        FrameCheckout frame;
        if (PF_Err err = checkoutFrame(in, static_cast<PF_SmartRenderExtra*>(extra), frame)) return err;
        buildFrameSettings(in, frame, frameTiming(in->current_time, in->time_step, in->time_scale), *gProbe);
        return PF_Err_NONE;
    }
    return effectMain(cmd, in, out, params, output, extra);
}

class HostCapture : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = &log;
        releaseEmitterCaches();
        resetCompositionMapCacheStats();
        saved = processState();
        // Marked available, global set-up skips the GPU start-up; not ready, frames take the no-GPU path.
        processState().gpuAvailable = true;
        processState().aegpPluginId = 0;
        gpuRuntime().ready = false;
        ASSERT_EQ(host.start(), PF_Err_NONE);
        setLogSink(&captureLog);
        ASSERT_EQ(processState().aegpPluginId, host.builtinSuites().pluginIdToGive);

        composition->width = 640;
        composition->height = 360;
        auto add = [&](minihost::LayerType type, int w, int h, minihost::Vec3 anchor, minihost::Vec3 position) {
            minihost::Layer layer;
            std::tie(layer.type, layer.width, layer.height) = std::tuple(type, w, h);
            layer.anchor = anchor;
            layer.position = position;
            return composition->addLayer(layer).id;
        };
        effectLayerId = add(minihost::LayerType::Effect, 640, 360, {320, 180, 0}, {320, 180, 0});
        logoId = add(minihost::LayerType::Image, 100, 50, {50, 25, 0}, {200, 150, 0});
        host.setComposition(composition);

        instance = &host.addInstance(640, 360);
        instance->setLayerId(effectLayerId);
        chooseSource(LayerSourceOf(sourcePixels));
        gProbe = &fs;
    }
    void TearDown() override {
        gProbe = nullptr;
        setLogSink(nullptr);
        gLog = nullptr;
        EXPECT_EQ(std::tuple(host.aegp().liveEffects(), host.aegp().liveStreams(), host.aegp().liveStreamValues()),
                  std::tuple(0, 0, 0));
        EXPECT_TRUE(host.suites().unbalanced().empty());
        releaseEmitterCaches();
        processState() = saved;
    }

    minihost::LayerSource LayerSourceOf(World& world) {
        minihost::LayerSource source;
        source.world = &world;
        source.layerId = logoId;
        return source;
    }
    void chooseSource(const minihost::LayerSource& source) { instance->setLayer(kParamSourceLayer, source); }
    minihost::Layer& logo() { return *composition->layerById(logoId); }

    // One frame through pre-render and smart render; the [LAYER] line it wrote.
    std::string frame() {
        log.clear();
        World output(640, 360, 8);
        EXPECT_EQ(host.renderFrame(*instance, output), PF_Err_NONE);
        std::string line;
        for (const auto& l : log)
            if (l.rfind("[LAYER]", 0) == 0) line = l;
        return line;
    }
    static bool has(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

    ProcessState saved;
    std::vector<std::string> log;
    FrameSettings fs;
    minihost::Host host{&probeMain};
    std::shared_ptr<minihost::Composition> composition = std::make_shared<minihost::Composition>();
    int effectLayerId = 0, logoId = 0;
    minihost::Instance* instance = nullptr;
    World sourcePixels = disc(100, 50, 20);
};

TEST_F(HostCapture, PlacementFollowsTheLayerAtTheFramesTime) {
    logo().position.addKey(0.0, minihost::Vec3{100, 100, 0});
    logo().position.addKey(2.0, minihost::Vec3{300, 100, 0});
    host.settings().setFrame(24);  // one second at 24 fps
    EXPECT_TRUE(has(frame(), "posX=200.0 posY=100.0")) << log.size();
}

// Placements that cannot be used leave the layer map itself, centred by the kernel: a mirrored or
// vanishing layer, a position no float holds, a Source Layer naming no layer of the composition or
// none, Premiere, no plugin id, a withheld suite. The scale limits themselves are accepted.
TEST_F(HostCapture, UnusablePlacementsKeepTheCentredLayerMap) {
    struct Case {
        minihost::Vec3 scale, position;
        int layerId;
        std::function<void()> setUp;
        std::string tag;
    };
    const auto none = [] {};
    const minihost::Vec3 unit{100, 100, 100}, at{200, 150, 0};
    const Case cases[] = {
        {{-100, 100, 100}, at, logoId, none, "useLT=0 expanded=0 fail=scale_pathological"},
        {{0.001, 0.001, 100}, at, logoId, none, "useLT=0 expanded=0 fail=scale_pathological"},
        {{100, 10001, 100}, at, logoId, none, "useLT=0 expanded=0 fail=scale_pathological"},
        {unit, {200, 1e300, 0}, logoId, none, "useLT=0 expanded=0 fail=stream_read_fail"},
        {unit, at, 999, none, "useLT=0 expanded=0 fail=no_layer_from_id"},
        {unit, at, 0, none, "useLT=0 expanded=0 fail=layer_id_zero"},
        {unit, at, logoId, [&] { host.settings().poseAsPremierePro(); }, "useLT=0 expanded=0 fail=prmr pickedID=0"},
        {unit, at, logoId, [&] { processState().aegpPluginId = 0; }, "useLT=0 expanded=0 fail=no_aegp_id"},
        {unit, at, logoId, [&] { host.suites().withhold("AEGP Layer Suite", 14); },
         "useLT=0 expanded=0 fail=exception"},
        {unit, at, logoId, [&] { host.suites().withhold("AEGP Stream Suite", 11); },
         "useLT=0 expanded=0 fail=exception"},
        {{0.01, 10000, 100}, at, logoId, none, "useLT=1 expanded=0 fail=none"},
    };
    const AEGP_PluginID pluginId = processState().aegpPluginId;
    for (const Case& c : cases) {
        logo().scale = c.scale;
        logo().position = c.position;
        minihost::LayerSource source = LayerSourceOf(sourcePixels);
        source.layerId = c.layerId;
        chooseSource(source);
        c.setUp();
        const std::string line = frame();
        EXPECT_TRUE(has(line, c.tag)) << line;
        EXPECT_EQ(fs.sourceLayerPresent, 1) << c.tag;
        if (c.tag.rfind("useLT=0", 0) == 0) {  // the disc's own columns 31 … 69
            EXPECT_EQ(std::tuple(fs.emissionWidth, fs.emissionBoxX0, fs.emissionBoxX1), std::tuple(100, 31, 69))
                << c.tag;
        }
        host.settings().poseAsPremierePro(false);
        processState().aegpPluginId = pluginId;
        host.suites().restoreAll();
    }
}

// The digests (and with them the simulation key) follow the maps' content above the 0.005
// threshold and nothing else; the composition map is rebuilt when the layer moves or changes and
// reused otherwise. Absent or unreadable layers leave no digest behind.
TEST_F(HostCapture, DigestsFollowTheContentAndNothingElse) {
    World custom = disc(64, 32, 10);
    instance->setLayer(kParamCustomMap, custom);
    frame();
    const uint32_t emission = fs.emissionHash, customHash = fs.customMapHash;
    EXPECT_EQ(std::tuple(fs.customMapPresent, fs.customMapWidth), std::tuple(1, 64));
    std::vector<float> customMap(64 * 32), layerMap(100 * 50);
    ASSERT_TRUE(readWorldAlpha(*custom.get(), 8, customMap.data()));
    ASSERT_TRUE(readWorldAlpha(*sourcePixels.get(), 8, layerMap.data()));
    // The layer map's digest, not the placed one's.
    EXPECT_EQ(std::tuple(customHash, emission),
              std::tuple(referenceMapHash(customMap, 64, 32), referenceMapHash(layerMap, 100, 50)));

    logo().position = minihost::Vec3{260, 150, 0};
    custom.pixel8(1, 1).alpha = 1;  // 1 / 255 is below the threshold
    frame();
    EXPECT_EQ(std::tuple(fs.emissionHash, fs.customMapHash), std::tuple(emission, customHash));
    frame();
    EXPECT_EQ(std::tuple(compositionMapCacheStats().builds, compositionMapCacheStats().reuses), std::tuple(2, 1));

    sourcePixels.pixel8(2, 2).alpha = 128;
    custom.pixel8(1, 1).alpha = 2;  // 2 / 255 is above it
    frame();
    EXPECT_NE(fs.emissionHash, emission);
    EXPECT_NE(fs.customMapHash, customHash);
    EXPECT_EQ(compositionMapCacheStats().builds, 3);

    World shortRows = World::withRowBytes(8, 8, 8, 8);
    instance->setLayer(kParamCustomMap, shortRows);
    instance->clearLayer(kParamSourceLayer);
    frame();
    EXPECT_EQ(
        std::tuple(fs.sourceLayerPresent, fs.emissionHash, fs.customMapPresent, fs.customMapHash, fs.emissionBoxX0),
        std::tuple(0, 0u, 0, 0u, -1));
}

// Uploads need only a bare context and queue, not the kernel library; without a device they skip.

bool startBareRuntime() {
    GpuRuntime& rt = gpuRuntime();
    if (!loadClApi() || !chooseDevice(rt, true)) return false;
    cl_int err = CL_SUCCESS;
    rt.context = cl().clCreateContext(nullptr, 1, &rt.device, nullptr, nullptr, &err);
    if (rt.context) rt.queue = cl().clCreateCommandQueue(rt.context, rt.device, 0, &err);
    if (!rt.queue) {
        stopGpuRuntime(&rt);
        return false;
    }
    rt.ready = true;
    return true;
}

std::vector<float> readBack(const MapBuffer& buffer) {
    std::vector<float> values(size_t(buffer.width) * size_t(buffer.height));
    if (!buffer.handle || values.empty()) return {};
    cl().clEnqueueReadBuffer(gpuRuntime().queue, buffer.handle, CL_TRUE, 0, values.size() * sizeof(float),
                             values.data(), 0, nullptr, nullptr);
    return values;
}

class HostCaptureUpload : public HostCapture {
protected:
    // A frame at 1/factor preview resolution, as the host renders one; fs holds its settings.
    bool renderAtPreview(int factor) {
        host.settings().setPreviewResolution(factor);
        World output(640 / factor, 360 / factor, 8);
        return host.renderFrame(*instance, output) == PF_Err_NONE;
    }
    void SetUp() override {
        HostCapture::SetUp();
        if (!startBareRuntime()) GTEST_SKIP() << "no OpenCL device";
    }
    void TearDown() override {
        stopGpuRuntime(&gpuRuntime());
        HostCapture::TearDown();
    }
};

TEST_F(HostCaptureUpload, ThePlacedLayerMapOrTheLayerMapItselfIsUploaded) {
    logo().scale = minihost::Vec3{200, 200, 100};
    frame();
    std::vector<float> layerMap(100 * 50);
    ASSERT_TRUE(readWorldAlpha(*sourcePixels.get(), 8, layerMap.data()));
    const std::vector<float> expected =
        referenceResample(layerMap, 100, 50, LayerPlacement{200, 150, 0.5f, 0.5f, 50, 25}, 640, 360);
    const std::vector<float> uploaded = readBack(gpuRuntime().emissionMap);
    ASSERT_EQ(uploaded.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_NEAR(uploaded[i], expected[i], 1e-6f) << i;
    EXPECT_EQ(expected[size_t(150 * 640 + 200)], 1.0f);
    // A preview checks the layer out with 1/2 or 1/4 of its pixels; placed, it covers the same
    // composition pixels as at full resolution, to within one coarse pixel (2 · factor at 200 %).
    const FrameSettings atFull = fs;
    for (const int factor : {2, 4}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(factor));
        ASSERT_TRUE(renderAtPreview(factor));
        for (const auto& [got, want] : {std::pair(fs.emissionBoxX0, atFull.emissionBoxX0),
                                        std::pair(fs.emissionBoxY0, atFull.emissionBoxY0),
                                        std::pair(fs.emissionBoxX1, atFull.emissionBoxX1),
                                        std::pair(fs.emissionBoxY1, atFull.emissionBoxY1)})
            EXPECT_NEAR(got, want, 2 * factor);
    }
    host.settings().setPreviewResolution(1);

    logo().scale = minihost::Vec3{-100, 100, 100};  // mirrored: no placement
    frame();
    EXPECT_EQ(readBack(gpuRuntime().emissionMap), layerMap);
}

// Masks replace the Source Layer's map: strokes of half-width 5 on full-resolution composition
// pixels, the same (and the same key) at 1/2 and 1/4; back to no path emitter, the layer's map returns.
TEST_F(HostCaptureUpload, LayerMasksReplaceTheLayerMapAtEveryPreviewResolution) {
    minihost::Mask mask;
    mask.vertices = {minihost::MaskVertex{100, 100, 0, 0, 0, 0}, minihost::MaskVertex{300, 100, 0, 0, 0, 0},
                     minihost::MaskVertex{300, 250, 0, 0, 0, 0}};
    mask.isClosed = true;
    composition->layerById(effectLayerId)->masks.push_back(mask);
    instance->setPopup(kParamPathEmitter, 2);  // "Layer Masks"
    frame();
    EXPECT_EQ(std::tuple(fs.sourceLayerPresent, fs.useLayerTransform), std::tuple(1, 0));
    const std::vector<float> full = readBack(gpuRuntime().emissionMap);
    ASSERT_EQ(full.size(), size_t(640 * 360));
    EXPECT_EQ(fs.emissionHash, referenceMapHash(full, 640, 360));
    // Vertices are samples; the ridge reaches 0 at five pixels, so four either side hold content.
    EXPECT_EQ(full[size_t(250 * 640 + 300)], 1.0f);
    EXPECT_EQ(full[size_t(150 * 640 + 200)], 0.0f);  // inside the triangle, where the disc is
    EXPECT_EQ(std::tuple(fs.emissionBoxX0, fs.emissionBoxY0, fs.emissionBoxX1, fs.emissionBoxY1),
              std::tuple(96, 96, 304, 254));
    const FrameSettings atFull = fs;

    for (const int factor : {2, 4}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(factor));
        ASSERT_TRUE(renderAtPreview(factor));
        EXPECT_EQ(std::tuple(fs.compWidth, fs.emissionWidth, fs.emissionHeight, fs.emissionHash, fs.emissionBoxX0,
                             fs.emissionBoxY1),
                  std::tuple(640, 640, 360, atFull.emissionHash, atFull.emissionBoxX0, atFull.emissionBoxY1));
        EXPECT_EQ(readBack(gpuRuntime().emissionMap), full);
        EXPECT_EQ(simulationKey(fs), simulationKey(atFull));
    }

    host.settings().setPreviewResolution(1);
    instance->setPopup(kParamPathEmitter, 1);
    frame();
    EXPECT_EQ(fs.emissionBoxX0, 200 - 19);
    EXPECT_EQ(readBack(gpuRuntime().emissionMap)[size_t(150 * 640 + 200)], 1.0f);
}

}  // namespace
}  // namespace cindel
