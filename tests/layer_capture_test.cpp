// Source Layer and Custom Map capture: the alpha read at every depth and with bad worlds, the box
// and digest of a map against a reference written from their definition, the composition resample
// (sub-sample means, truncation, scale, anchor, negative positions, nothing written outside), the
// placement and its failure tags against a scripted AEGP host, the composition-map cache, and the
// capture through minihost's composition (placement, text and expanded layers, Premiere, withheld
// suites, digests that follow the content).
#include "emit/layer_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
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

// ---------------------------------------------------------------------------------------------
// Reference digest, written from its definition: FNV-1a over whole 32-bit words, seeded with the
// width and the height, then x, y and int(v × 255) of every value above 0.005 in row order.

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

// ---------------------------------------------------------------------------------------------
// readWorldAlpha

TEST(ReadWorldAlpha, EightBitsDivideBy255RowByRowWithPadding) {
    World world(3, 2, 8, /*rowPaddingBytes=*/12);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) world.pixel8(x, y) = PF_Pixel8{A_u_char(y * 100 + x * 40), 9, 9, 9};
    std::vector<float> map(6, -1.0f);
    ASSERT_TRUE(readWorldAlpha(*world.get(), 8, map.data()));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_FLOAT_EQ(map[size_t(y * 3 + x)], (y * 100 + x * 40) / 255.0f) << x << "," << y;
}

TEST(ReadWorldAlpha, SixteenBitsScaleBy1Over32768) {
    World world(4, 1, 16, 6);
    const A_u_short alphas[4] = {0, 8192, 16384, 32768};
    for (int x = 0; x < 4; ++x) world.pixel16(x, 0) = PF_Pixel16{alphas[x], 1, 2, 3};
    std::vector<float> map(4, -1.0f);
    ASSERT_TRUE(readWorldAlpha(*world.get(), 16, map.data()));
    EXPECT_EQ(map[0], 0.0f);
    EXPECT_EQ(map[1], 0.25f);
    EXPECT_EQ(map[2], 0.5f);
    EXPECT_EQ(map[3], 1.0f);
}

TEST(ReadWorldAlpha, FloatsAreClampedAndNaNReadsZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const float alphas[6] = {0.3f, -0.5f, 2.0f, std::nanf(""), inf, -inf};
    World world(6, 1, 32, 16);
    for (int x = 0; x < 6; ++x) world.pixel32(x, 0) = PF_PixelFloat{alphas[x], 0.5f, 0.5f, 0.5f};
    std::vector<float> map(6, -1.0f);
    ASSERT_TRUE(readWorldAlpha(*world.get(), 32, map.data()));
    EXPECT_FLOAT_EQ(map[0], 0.3f);
    EXPECT_EQ(map[1], 0.0f);
    EXPECT_EQ(map[2], 1.0f);
    EXPECT_EQ(map[3], 0.0f);
    EXPECT_EQ(map[4], 1.0f);
    EXPECT_EQ(map[5], 0.0f);
}

TEST(ReadWorldAlpha, UnreadableWorldsAreRefusedAndNothingIsWritten) {
    std::vector<float> map(16, -7.0f);
    World shortRows = World::withRowBytes(4, 4, 8, 4 * 4 - 1);
    EXPECT_FALSE(readWorldAlpha(*shortRows.get(), 8, map.data()));
    World ok(4, 4, 8);
    EXPECT_FALSE(readWorldAlpha(*ok.get(), 12, map.data()));
    EXPECT_FALSE(readWorldAlpha(*ok.get(), 8, nullptr));
    PF_EffectWorld noPixels = *ok.get();
    noPixels.data = nullptr;
    EXPECT_FALSE(readWorldAlpha(noPixels, 8, map.data()));
    PF_EffectWorld empty = *ok.get();
    empty.width = 0;
    EXPECT_FALSE(readWorldAlpha(empty, 8, map.data()));
    for (float v : map) EXPECT_EQ(v, -7.0f);
}

// ---------------------------------------------------------------------------------------------
// summarizeMap

TEST(SummarizeMap, EmptyMapHasNoBoxAndTheSizeDigest) {
    std::vector<float> map(5 * 3, 0.005f);  // at the threshold: still empty
    const MapSummary s = summarizeMap(map.data(), 5, 3);
    EXPECT_EQ(s.boxX0, -1);
    EXPECT_EQ(s.boxY0, -1);
    EXPECT_EQ(s.boxX1, -1);
    EXPECT_EQ(s.boxY1, -1);
    EXPECT_EQ(s.hash, referenceMapHash(map, 5, 3));
    EXPECT_NE(s.hash, summarizeMap(map.data(), 3, 5).hash);
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
    EXPECT_EQ(s.boxX0, 2);
    EXPECT_EQ(s.boxY0, 1);
    EXPECT_EQ(s.boxX1, 5);
    EXPECT_EQ(s.boxY1, 4);
    EXPECT_EQ(s.hash, referenceMapHash(map, w, h));

    // One level of 8-bit alpha changes the digest; a change below the threshold does not.
    std::vector<float> other = map;
    other[size_t(4 * w + 5)] = 0.5f + 1.0f / 255.0f;
    EXPECT_NE(summarizeMap(other.data(), w, h).hash, s.hash);
    other = map;
    other[size_t(2 * w + 2)] = 0.003f;
    EXPECT_EQ(summarizeMap(other.data(), w, h).hash, s.hash);
}

// ---------------------------------------------------------------------------------------------
// resampleToComposition

// The output buffer is followed by a guard that must stay untouched.
struct CompOut {
    static constexpr float kGuard = 12345.0f;
    int width, height;
    std::vector<float> data;
    CompOut(int w, int h) : width(w), height(h), data(size_t(w * h) + 64, kGuard) {}
    float at(int x, int y) const { return data[size_t(y * width + x)]; }
    bool isGuardIntact() const {
        for (size_t i = size_t(width * height); i < data.size(); ++i)
            if (data[i] != kGuard) return false;
        return true;
    }
};

TEST(ResampleToComposition, IdentityPlacementReproducesTheMap) {
    const int w = 9, h = 5;
    std::vector<float> layer(size_t(w * h));
    for (int i = 0; i < w * h; ++i) layer[size_t(i)] = float((i * 37) % 11) / 10.0f;
    CompOut out(w, h);
    resampleToComposition(layer.data(), w, h, LayerPlacement{}, w, h, out.data.data());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_FLOAT_EQ(out.at(x, y), layer[size_t(y * w + x)]) << x << "," << y;
    EXPECT_TRUE(out.isGuardIntact());
}

TEST(ResampleToComposition, PixelAcrossAnEdgeIsTheMeanOfItsSubSamples) {
    // Columns 0-1 empty, 2-3 full; shifted by half a pixel, composition pixel 2 straddles the edge.
    std::vector<float> layer = {0, 0, 1, 1, 0, 0, 1, 1};
    CompOut out(6, 2);
    LayerPlacement p;
    p.posX = 0.5f;
    resampleToComposition(layer.data(), 4, 2, p, 6, 2, out.data.data());
    EXPECT_FLOAT_EQ(out.at(2, 0), 0.5f);
    EXPECT_FLOAT_EQ(out.at(2, 1), 0.5f);
    EXPECT_FLOAT_EQ(out.at(3, 0), 1.0f);
    EXPECT_FLOAT_EQ(out.at(1, 0), 0.0f);
    // Pixel 4 has two sub-samples per row inside (column 3) and two past the layer: the mean is
    // over the inside ones only.
    EXPECT_FLOAT_EQ(out.at(4, 0), 1.0f);
    EXPECT_EQ(out.at(5, 0), 0.0f);
    EXPECT_TRUE(out.isGuardIntact());
}

TEST(ResampleToComposition, TruncationTowardZeroFoldsTheStripLeftOfTheLayerOntoColumnZero) {
    // The layer starts at x = 10.5. Composition pixel 9's sub-samples at 9.625 and 9.875 land at
    // -0.875 and -0.625, which truncate to column 0; those at 9.125 and 9.375 stay outside.
    std::vector<float> layer = {0.8f, 0.2f};
    CompOut out(14, 1);
    LayerPlacement p;
    p.posX = 10.5f;
    resampleToComposition(layer.data(), 2, 1, p, 14, 1, out.data.data());
    EXPECT_FLOAT_EQ(out.at(9, 0), 0.8f);
    EXPECT_EQ(out.at(8, 0), 0.0f);
    EXPECT_FLOAT_EQ(out.at(10, 0), 0.8f);
    EXPECT_FLOAT_EQ(out.at(11, 0), 0.5f);  // two sub-samples in each column
    EXPECT_FLOAT_EQ(out.at(12, 0), 0.2f);
    EXPECT_EQ(out.at(13, 0), 0.0f);
}

TEST(ResampleToComposition, DoubleScaleAroundTheAnchor) {
    // invSc 0.5 is a layer at 200 %; the anchor (2, 1) lands at composition (6, 4).
    const int w = 4, h = 3;
    std::vector<float> layer(size_t(w * h));
    for (int i = 0; i < w * h; ++i) layer[size_t(i)] = float(i + 1) / 16.0f;
    LayerPlacement p;
    p.invScX = p.invScY = 0.5f;
    p.ancX = 2;
    p.ancY = 1;
    p.posX = 6;
    p.posY = 4;
    CompOut out(12, 10);
    resampleToComposition(layer.data(), w, h, p, 12, 10, out.data.data());
    for (int cy = 0; cy < 10; ++cy) {
        for (int cx = 0; cx < 12; ++cx) {
            // Composition pixels 2 and 3 are layer column 0; at 200 % the two pixels left of the
            // layer (layer x in (-1, 0)) truncate onto column 0 as well.
            const int lx = cx < 2 ? 0 : cx / 2 - 1, ly = cy < 2 ? 0 : cy / 2 - 1;
            const float expected = (lx >= 0 && lx < w && ly >= 0 && ly < h) ? layer[size_t(ly * w + lx)] : 0.0f;
            EXPECT_FLOAT_EQ(out.at(cx, cy), expected) << cx << "," << cy;
        }
    }
    EXPECT_TRUE(out.isGuardIntact());
}

TEST(ResampleToComposition, NegativePositionShowsTheLayersFarPart) {
    const int w = 5, h = 4;
    std::vector<float> layer(size_t(w * h));
    for (int i = 0; i < w * h; ++i) layer[size_t(i)] = float(i) / 20.0f;
    LayerPlacement p;
    p.posX = -2;
    p.posY = -1;
    CompOut out(6, 6);
    resampleToComposition(layer.data(), w, h, p, 6, 6, out.data.data());
    EXPECT_FLOAT_EQ(out.at(0, 0), layer[size_t(1 * w + 2)]);
    EXPECT_FLOAT_EQ(out.at(2, 2), layer[size_t(3 * w + 4)]);
    EXPECT_EQ(out.at(3, 0), 0.0f);  // past the layer's right edge
    EXPECT_EQ(out.at(0, 3), 0.0f);  // past its bottom
    EXPECT_TRUE(out.isGuardIntact());
}

TEST(ResampleToComposition, EveryPixelIsWrittenAndNonFinitePlacementsGiveZeros) {
    std::vector<float> layer(16, 1.0f);
    for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(), 3e38f}) {
        LayerPlacement p;
        p.invScX = bad;
        CompOut out(5, 5);
        resampleToComposition(layer.data(), 4, 4, p, 5, 5, out.data.data());
        for (int i = 0; i < 25; ++i) EXPECT_EQ(out.data[size_t(i)], 0.0f) << bad;
        EXPECT_TRUE(out.isGuardIntact());
    }
    CompOut out(3, 3);
    resampleToComposition(nullptr, 4, 4, LayerPlacement{}, 3, 3, out.data.data());
    for (int i = 0; i < 9; ++i) EXPECT_EQ(out.data[size_t(i)], 0.0f);
    EXPECT_TRUE(out.isGuardIntact());
}

// ---------------------------------------------------------------------------------------------
// A scripted AEGP host: just the suites the placement reads, answering from a few fields, with
// counts of the handles it gave out so that every path can be checked for leaks.

struct ScriptedAegp {
    A_long sourceLayerId = 7;
    A_long effectLayerId = 3;
    double position[2] = {320, 240};
    double scale[2] = {100, 100};
    double anchor[2] = {50, 25};
    AEGP_ObjectType objectType = AEGP_ObjectType_AV;
    std::string failing;             // the one host function that answers an error
    std::set<std::string> withheld;  // suite names that cannot be acquired
    int liveEffects = 0, liveStreams = 0, liveValues = 0;
    int acquired = 0, released = 0;
    A_Time lastCompTime{-1, 0};
};

ScriptedAegp* gAegp = nullptr;
int gEffectToken, gStreamToken, gEffectLayerToken, gSourceLayerToken, gCompToken;

A_Err fail(const char* name) {
    return gAegp->failing == name ? A_Err_GENERIC : A_Err_NONE;
}

const AEGP_PFInterfaceSuite1 kPf = [] {
    AEGP_PFInterfaceSuite1 suite{};
    suite.AEGP_GetEffectLayer = [](PF_ProgPtr, AEGP_LayerH* layer) -> A_Err {
        *layer = reinterpret_cast<AEGP_LayerH>(&gEffectLayerToken);
        return fail("GetEffectLayer");
    };
    suite.AEGP_GetNewEffectForEffect = [](AEGP_PluginID, PF_ProgPtr, AEGP_EffectRefH* effect) -> A_Err {
        if (A_Err err = fail("GetNewEffectForEffect")) return err;
        *effect = reinterpret_cast<AEGP_EffectRefH>(&gEffectToken);
        ++gAegp->liveEffects;
        return A_Err_NONE;
    };
    suite.AEGP_ConvertEffectToCompTime = [](PF_ProgPtr, A_long time, A_u_long scale, A_Time* comp) -> A_Err {
        *comp = A_Time{time + 10, scale};  // the effect layer starts 10 units into the composition
        gAegp->lastCompTime = *comp;
        return fail("ConvertEffectToCompTime");
    };
    return suite;
}();

const AEGP_LayerSuite8 kLayers = [] {
    AEGP_LayerSuite8 suite{};
    suite.AEGP_GetLayerParentComp = [](AEGP_LayerH layer, AEGP_CompH* comp) -> A_Err {
        *comp = layer == reinterpret_cast<AEGP_LayerH>(&gEffectLayerToken) ? reinterpret_cast<AEGP_CompH>(&gCompToken)
                                                                           : nullptr;
        return fail("GetLayerParentComp");
    };
    suite.AEGP_GetLayerObjectType = [](AEGP_LayerH, AEGP_ObjectType* type) -> A_Err {
        *type = gAegp->objectType;
        return fail("GetLayerObjectType");
    };
    suite.AEGP_GetLayerID = [](AEGP_LayerH, AEGP_LayerIDVal* id) -> A_Err {
        *id = gAegp->effectLayerId;
        return fail("GetLayerID");
    };
    suite.AEGP_GetLayerFromLayerID = [](AEGP_CompH comp, AEGP_LayerIDVal id, AEGP_LayerH* layer) -> A_Err {
        const bool isKnown = comp == reinterpret_cast<AEGP_CompH>(&gCompToken) && id == gAegp->sourceLayerId;
        *layer = isKnown ? reinterpret_cast<AEGP_LayerH>(&gSourceLayerToken) : nullptr;
        if (A_Err err = fail("GetLayerFromLayerID")) return err;
        return isKnown ? A_Err_NONE : A_Err_PARAMETER;
    };
    return suite;
}();

const AEGP_StreamSuite6 kStreams = [] {
    AEGP_StreamSuite6 suite{};
    suite.AEGP_GetNewEffectStreamByIndex = [](AEGP_PluginID, AEGP_EffectRefH, PF_ParamIndex index,
                                              AEGP_StreamRefH* stream) -> A_Err {
        if (A_Err err = fail("GetNewEffectStreamByIndex")) return err;
        if (index != kParamSourceLayer) return A_Err_PARAMETER;
        *stream = reinterpret_cast<AEGP_StreamRefH>(&gStreamToken);
        ++gAegp->liveStreams;
        return A_Err_NONE;
    };
    suite.AEGP_DisposeStream = [](AEGP_StreamRefH) -> A_Err {
        --gAegp->liveStreams;
        return A_Err_NONE;
    };
    suite.AEGP_GetNewStreamValue = [](AEGP_PluginID, AEGP_StreamRefH, AEGP_LTimeMode, const A_Time*, A_Boolean,
                                      AEGP_StreamValue2* value) -> A_Err {
        if (A_Err err = fail("GetNewStreamValue")) return err;
        value->val.layer_id = gAegp->sourceLayerId;
        ++gAegp->liveValues;
        return A_Err_NONE;
    };
    suite.AEGP_DisposeStreamValue = [](AEGP_StreamValue2*) -> A_Err {
        --gAegp->liveValues;
        return A_Err_NONE;
    };
    suite.AEGP_GetLayerStreamValue = [](AEGP_LayerH layer, AEGP_LayerStream which, AEGP_LTimeMode mode, const A_Time*,
                                        A_Boolean, AEGP_StreamVal2* val, AEGP_StreamType* type) -> A_Err {
        if (A_Err err = fail("GetLayerStreamValue")) return err;
        if (layer != reinterpret_cast<AEGP_LayerH>(&gSourceLayerToken) || mode != AEGP_LTimeMode_CompTime)
            return A_Err_PARAMETER;
        const double* v = which == AEGP_LayerStream_POSITION ? gAegp->position
                          : which == AEGP_LayerStream_SCALE  ? gAegp->scale
                                                             : gAegp->anchor;
        val->three_d = AEGP_ThreeDVal{v[0], v[1], 0.0};
        *type = AEGP_StreamType_ThreeD_SPATIAL;
        return A_Err_NONE;
    };
    return suite;
}();

const AEGP_EffectSuite4 kEffects = [] {
    AEGP_EffectSuite4 suite{};
    suite.AEGP_DisposeEffect = [](AEGP_EffectRefH) -> A_Err {
        --gAegp->liveEffects;
        return A_Err_NONE;
    };
    return suite;
}();

SPErr scriptedAcquire(const char* name, int32, const void** suite) {
    *suite = nullptr;
    const std::string n = name;
    if (gAegp->withheld.count(n)) return 1;
    if (n == kAEGPPFInterfaceSuite) *suite = &kPf;
    if (n == kAEGPLayerSuite) *suite = &kLayers;
    if (n == kAEGPStreamSuite) *suite = &kStreams;
    if (n == kAEGPEffectSuite) *suite = &kEffects;
    if (!*suite) return 1;
    ++gAegp->acquired;
    return kSPNoError;
}
SPErr scriptedRelease(const char*, int32) {
    ++gAegp->released;
    return kSPNoError;
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

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        gAegp = &aegp;
        gLog = &log;
        setLogSink(&captureLog);
        releaseEmitterCaches();
        resetCompositionMapCacheStats();
        savedPluginId = processState().aegpPluginId;
        processState().aegpPluginId = 42;
        processState().gpuAvailable = false;
        basic.AcquireSuite = &scriptedAcquire;
        basic.ReleaseSuite = &scriptedRelease;
        in.pica_basicP = &basic;
        in.appl_id = cindel::fourCharCode('F', 'X', 'T', 'C');
        in.current_time = 48;
        in.time_scale = 24;
        in.time_step = 1;
        in.width = 640;
        in.height = 480;
        resetFrameSettings(fs);
        fs.compWidth = 640;
        fs.compHeight = 480;
        fs.instanceId = 9;
        instance.instanceId = 9;
    }
    void TearDown() override {
        EXPECT_EQ(aegp.liveEffects, 0);
        EXPECT_EQ(aegp.liveStreams, 0);
        EXPECT_EQ(aegp.liveValues, 0);
        EXPECT_EQ(aegp.acquired, aegp.released);
        setLogSink(nullptr);
        gLog = nullptr;
        gAegp = nullptr;
        processState().aegpPluginId = savedPluginId;
        releaseEmitterCaches();
    }

    std::string place(float refX = 1.0f, float refY = 1.0f, bool* isText = nullptr) {
        return captureLayerPlacement(&in, refX, refY, fs, isText);
    }
    // The "[LAYER]" lines of the log, in order.
    std::vector<std::string> layerLines() const {
        std::vector<std::string> lines;
        for (const auto& l : log)
            if (l.rfind("[LAYER]", 0) == 0) lines.push_back(l);
        return lines;
    }

    ScriptedAegp aegp;
    std::vector<std::string> log;
    AEGP_PluginID savedPluginId = 0;
    SPBasicSuite basic{};
    PF_InData in{};
    FrameSettings fs;
    InstanceData instance{};
};

TEST_F(Capture, PlacementReadsPositionScaleAndAnchorAtCompositionTime) {
    aegp.scale[0] = 200;
    aegp.scale[1] = 50;
    EXPECT_EQ(place(), "none");
    EXPECT_EQ(fs.useLayerTransform, 1);
    EXPECT_EQ(fs.layerPosX, 320.0f);
    EXPECT_EQ(fs.layerPosY, 240.0f);
    EXPECT_EQ(fs.layerInvScX, 0.5f);
    EXPECT_EQ(fs.layerInvScY, 2.0f);
    EXPECT_EQ(fs.layerAncX, 50.0f);
    EXPECT_EQ(fs.layerAncY, 25.0f);
    EXPECT_EQ(aegp.lastCompTime.value, 58);  // the effect's time moved into the composition
}

TEST_F(Capture, ReferenceScaleEntersInverseScaleAndAnchor) {
    // A map captured at half the layer's size (a half-resolution render).
    EXPECT_EQ(place(0.5f, 0.25f), "none");
    EXPECT_EQ(fs.layerInvScX, 0.5f);
    EXPECT_EQ(fs.layerInvScY, 0.25f);
    EXPECT_EQ(fs.layerAncX, 25.0f);
    EXPECT_EQ(fs.layerAncY, 6.25f);
}

TEST_F(Capture, PathologicalScalesAreRefusedAndLeaveThePlacement) {
    for (auto [sx, sy] : {std::pair{-100.0, 100.0},
                          {100.0, -100.0},
                          {0.001, 100.0},
                          {100.0, 10001.0},
                          {0.0, 0.0},
                          {std::nan(""), 100.0}}) {
        resetFrameSettings(fs);
        aegp.scale[0] = sx;
        aegp.scale[1] = sy;
        const std::string tag = place();
        EXPECT_TRUE(tag == "scale_pathological" || (std::isnan(sx) && tag == "stream_read_fail")) << sx << " " << tag;
        EXPECT_EQ(fs.useLayerTransform, 0);
        EXPECT_EQ(fs.layerInvScX, 1.0f);
    }
    aegp.scale[0] = 0.01;
    aegp.scale[1] = 10000;
    EXPECT_EQ(place(), "none");  // the limits themselves are accepted
}

TEST_F(Capture, PositionsNoFloatCanHoldAreAReadFailure) {
    for (double bad : {1e300, -1e300, std::nan(""), std::numeric_limits<double>::infinity()}) {
        aegp.position[1] = bad;
        EXPECT_EQ(place(), "stream_read_fail") << bad;
        EXPECT_EQ(fs.useLayerTransform, 0);
    }
    aegp.position[1] = 240;
    aegp.anchor[0] = 1e300;
    EXPECT_EQ(place(), "stream_read_fail");
}

TEST_F(Capture, EveryFailingHostCallHasItsTagAndGivesBackItsHandles) {
    const std::map<std::string, std::string> expected = {
        {"GetNewEffectForEffect", "get_effect_for_effect"}, {"GetNewEffectStreamByIndex", "get_stream_by_index"},
        {"GetNewStreamValue", "get_stream_value"},          {"GetEffectLayer", "no_parent_comp"},
        {"GetLayerParentComp", "no_parent_comp"},           {"GetLayerFromLayerID", "no_layer_from_id"},
        {"ConvertEffectToCompTime", "stream_read_fail"},    {"GetLayerStreamValue", "stream_read_fail"},
    };
    for (const auto& [function, tag] : expected) {
        resetFrameSettings(fs);
        aegp.failing = function;
        EXPECT_EQ(place(), tag) << function;
        EXPECT_EQ(fs.useLayerTransform, 0) << function;
        EXPECT_EQ(aegp.liveEffects + aegp.liveStreams + aegp.liveValues, 0) << function;
    }
    aegp.failing.clear();
    aegp.sourceLayerId = 0;
    EXPECT_EQ(place(), "layer_id_zero");
}

TEST_F(Capture, PremiereAndMissingPluginIdAreTaggedWithoutTouchingTheHost) {
    in.appl_id = cindel::fourCharCode('P', 'r', 'M', 'r');
    EXPECT_EQ(place(), "prmr");
    in.appl_id = cindel::fourCharCode('F', 'X', 'T', 'C');
    processState().aegpPluginId = 0;
    EXPECT_EQ(place(), "no_aegp_id");
    EXPECT_EQ(aegp.acquired, 0);
}

TEST_F(Capture, AWithheldSuiteIsAnExceptionTagNotAFailure) {
    for (const char* suite : {kAEGPLayerSuite, kAEGPEffectSuite, kAEGPStreamSuite, kAEGPPFInterfaceSuite}) {
        aegp.withheld = {suite};
        EXPECT_EQ(place(), "exception") << suite;
        EXPECT_EQ(fs.useLayerTransform, 0);
    }
}

TEST_F(Capture, TextLayerIsReported) {
    bool isText = true;
    EXPECT_EQ(place(1, 1, &isText), "none");
    EXPECT_FALSE(isText);
    aegp.objectType = AEGP_ObjectType_TEXT;
    EXPECT_EQ(place(1, 1, &isText), "none");
    EXPECT_TRUE(isText);
}

TEST_F(Capture, SourceLayerIsResampledIntoTheCompositionAndLogged) {
    World source = disc(100, 50, 20);  // the disc covers x 30 ... 70, y 5 ... 45
    aegp.position[0] = 320;
    aegp.position[1] = 240;
    aegp.anchor[0] = 50;
    aegp.anchor[1] = 25;
    aegp.scale[0] = aegp.scale[1] = 200;
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    // Resampled: composition size, no placement left for the kernel.
    EXPECT_EQ(fs.emissionWidth, 640);
    EXPECT_EQ(fs.emissionHeight, 480);
    EXPECT_EQ(fs.useLayerTransform, 0);
    EXPECT_EQ(fs.layerInvScX, 1.0f);
    // The disc's layer columns 31 ... 69 and rows 6 ... 44 at 200 % around the anchor (50, 25)
    // placed at (320, 240): composition x from 320 + 2 × (31 − 50) = 282 to 320 + 2 × (70 − 50) − 1.
    EXPECT_EQ(fs.emissionBoxX0, 282);
    EXPECT_EQ(fs.emissionBoxX1, 359);
    EXPECT_EQ(fs.emissionBoxY0, 202);
    EXPECT_EQ(fs.emissionBoxY1, 279);
    // The digest is the layer map's.
    std::vector<float> layerMap(100 * 50);
    ASSERT_TRUE(readWorldAlpha(*source.get(), 8, layerMap.data()));
    EXPECT_EQ(fs.emissionHash, referenceMapHash(layerMap, 100, 50));

    const auto lines = layerLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "[LAYER] useLT=1 expanded=0 fail=none pickedID=7 posX=320.0 posY=240.0 invScX=0.500 invScY=0.500 "
              "ancX=50.0 ancY=25.0 srcRect=(0,0) refWH=0/0 refScale=1.000/1.000 text=0 layerWH=100/50 "
              "trueCompWH=640/480 inDataWH=640/480\n");
}

TEST_F(Capture, FailedPlacementKeepsTheLayerMapCentred) {
    World source = disc(60, 40, 10);
    aegp.failing = "GetLayerStreamValue";
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    EXPECT_EQ(fs.emissionWidth, 60);
    EXPECT_EQ(fs.emissionHeight, 40);
    EXPECT_EQ(fs.useLayerTransform, 0);
    EXPECT_EQ(fs.emissionBoxX0, 21);  // the disc's own columns: |x − 30| < 10
    EXPECT_EQ(fs.emissionBoxX1, 39);
    EXPECT_EQ(compositionMapCacheStats().builds, 0);
    ASSERT_EQ(layerLines().size(), 1u);
    EXPECT_NE(layerLines()[0].find("useLT=0 expanded=0 fail=stream_read_fail pickedID=7"), std::string::npos);
}

TEST_F(Capture, OriginOrTextLayerReplacesThePlacement) {
    World source = disc(60, 40, 10);
    aegp.scale[0] = aegp.scale[1] = 300;
    instance.sourceOriginX = -30;
    instance.sourceOriginY = 12;
    instance.sourceExpanded = 1;
    // Resampling is what the placement feeds; with no composition size the placement stays visible.
    fs.compWidth = 0;
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(fs.useLayerTransform, 1);
    EXPECT_EQ(fs.layerPosX, -30.0f);
    EXPECT_EQ(fs.layerPosY, 12.0f);
    EXPECT_EQ(fs.layerInvScX, 1.0f);
    EXPECT_EQ(fs.layerInvScY, 1.0f);
    EXPECT_EQ(fs.layerAncX, 0.0f);
    EXPECT_EQ(fs.layerAncY, 0.0f);

    instance.sourceOriginX = instance.sourceOriginY = 0;
    aegp.objectType = AEGP_ObjectType_TEXT;
    resetFrameSettings(fs);
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(fs.useLayerTransform, 1);
    EXPECT_EQ(fs.layerPosX, 0.0f);
    EXPECT_EQ(fs.layerInvScX, 1.0f);
    const auto lines = layerLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("expanded=1"), std::string::npos);
    EXPECT_NE(lines[0].find("srcRect=(-30,12)"), std::string::npos);
    EXPECT_NE(lines[1].find("text=1"), std::string::npos);
}

TEST_F(Capture, CompositionMapIsReusedUntilTheLayerMovesOrChanges) {
    World source = disc(80, 60, 15);
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    const int boxX0 = fs.emissionBoxX0;
    EXPECT_EQ(compositionMapCacheStats().builds, 1);
    EXPECT_EQ(compositionMapCacheStats().reuses, 0);

    resetFrameSettings(fs);
    fs.compWidth = 640;
    fs.compHeight = 480;
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().builds, 1);
    EXPECT_EQ(compositionMapCacheStats().reuses, 1);
    EXPECT_EQ(fs.emissionBoxX0, boxX0);  // the cached box
    EXPECT_EQ(fs.emissionWidth, 640);

    aegp.position[0] += 3;  // the layer moves: layerPosX changes
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().builds, 2);
    EXPECT_EQ(fs.emissionBoxX0, boxX0 + 3);

    source.pixel8(0, 0).alpha = 200;  // the content changes
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().builds, 3);

    instance.instanceId = 10;  // another instance evicts the entry
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().builds, 4);
    EXPECT_EQ(compositionMapCacheStats().reuses, 1);

    releaseEmitterCaches();  // set-down frees it
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().builds, 5);
}

TEST_F(Capture, UnreadableSourceIsAbsent) {
    World shortRows = World::withRowBytes(8, 8, 8, 8 * 4 - 4);
    captureSourceLayerMap(&in, *shortRows.get(), instance, fs);
    EXPECT_EQ(fs.sourceLayerPresent, 0);
    EXPECT_TRUE(shortRows.paddingIntact());
    World custom = World::withRowBytes(8, 8, 8, 8);
    captureCustomMap(&in, *custom.get(), fs);
    EXPECT_EQ(fs.customMapPresent, 0);
    EXPECT_EQ(fs.customMapHash, 0u);
}

TEST_F(Capture, CustomMapDigestFollowsItsContent) {
    World custom = disc(32, 16, 6);
    captureCustomMap(&in, *custom.get(), fs);
    EXPECT_EQ(fs.customMapPresent, 1);
    EXPECT_EQ(fs.customMapWidth, 32);
    EXPECT_EQ(fs.customMapHeight, 16);
    std::vector<float> map(32 * 16);
    ASSERT_TRUE(readWorldAlpha(*custom.get(), 8, map.data()));
    const uint32_t first = fs.customMapHash;
    EXPECT_EQ(first, referenceMapHash(map, 32, 16));

    captureCustomMap(&in, *custom.get(), fs);
    EXPECT_EQ(fs.customMapHash, first);
    custom.pixel8(1, 1).alpha = 1;  // 1 / 255 is below the threshold: no change
    captureCustomMap(&in, *custom.get(), fs);
    EXPECT_EQ(fs.customMapHash, first);
    custom.pixel8(1, 1).alpha = 30;
    captureCustomMap(&in, *custom.get(), fs);
    EXPECT_NE(fs.customMapHash, first);
    EXPECT_EQ(aegp.acquired, 0);  // the custom map asks the host nothing
}

// ---------------------------------------------------------------------------------------------
// Through minihost: the effect in this process, driven by the host's commands, answers its
// questions about the Source Layer from minihost's composition. A probe in front of the effect
// keeps the frame's settings (the snapshot the smart render builds) for the test to read.

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
        // Global set-up starts the GPU runtime only when none is marked available; marking it
        // skips the start-up (and its kernel build), and with `ready` false every frame takes
        // the no-GPU path.
        processState().gpuAvailable = true;
        processState().aegpPluginId = 0;
        gpuRuntime().ready = false;
        ASSERT_EQ(host.start(), PF_Err_NONE);
        setLogSink(&captureLog);
        ASSERT_EQ(processState().aegpPluginId, host.builtinSuites().pluginIdToGive);

        composition->width = 640;
        composition->height = 360;
        minihost::Layer effectLayer;
        effectLayer.type = minihost::LayerType::Effect;
        effectLayer.width = 640;
        effectLayer.height = 360;
        effectLayer.anchor = minihost::Vec3{320, 180, 0};
        effectLayer.position = minihost::Vec3{320, 180, 0};
        effectLayerId = composition->addLayer(effectLayer).id;
        minihost::Layer logo;
        logo.type = minihost::LayerType::Image;
        logo.width = 100;
        logo.height = 50;
        logo.anchor = minihost::Vec3{50, 25, 0};
        logo.position = minihost::Vec3{200, 150, 0};
        logoId = composition->addLayer(logo).id;
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
        EXPECT_EQ(host.aegp().liveEffects(), 0);
        EXPECT_EQ(host.aegp().liveStreams(), 0);
        EXPECT_EQ(host.aegp().liveStreamValues(), 0);
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

TEST_F(HostCapture, LayerAt200PercentHasHalfInverseScale) {
    logo().scale = minihost::Vec3{200, 200, 100};
    const std::string line = frame();
    EXPECT_TRUE(has(line, "useLT=1 expanded=0 fail=none pickedID=" + std::to_string(logoId) + " ")) << line;
    EXPECT_TRUE(has(line, "posX=200.0 posY=150.0 invScX=0.500 invScY=0.500 ancX=50.0 ancY=25.0")) << line;
    EXPECT_TRUE(has(line, "refScale=1.000/1.000 text=0 layerWH=100/50")) << line;
    // Resampled into the composition: the disc's columns 31 ... 69 around the anchor at x = 200.
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    EXPECT_EQ(fs.emissionWidth, 640);
    EXPECT_EQ(fs.useLayerTransform, 0);
    EXPECT_EQ(fs.emissionBoxX0, 200 + 2 * (31 - 50));
    EXPECT_EQ(fs.emissionBoxX1, 200 + 2 * (70 - 50) - 1);
}

TEST_F(HostCapture, PlacementFollowsTheLayerAtTheFramesTime) {
    logo().position.addKey(0.0, minihost::Vec3{100, 100, 0});
    logo().position.addKey(2.0, minihost::Vec3{300, 100, 0});
    host.settings().setFrame(24);  // one second at 24 fps
    EXPECT_TRUE(has(frame(), "posX=200.0 posY=100.0")) << log.size();
}

TEST_F(HostCapture, MirroredOrVanishingLayersAreRefused) {
    logo().scale = minihost::Vec3{-100, 100, 100};
    std::string line = frame();
    EXPECT_TRUE(has(line, "useLT=0 expanded=0 fail=scale_pathological")) << line;
    EXPECT_EQ(fs.emissionWidth, 100);  // the layer map, centred by the kernel
    logo().scale = minihost::Vec3{0.001, 0.001, 100};
    line = frame();
    EXPECT_TRUE(has(line, "fail=scale_pathological")) << line;
    EXPECT_EQ(fs.useLayerTransform, 0);
}

TEST_F(HostCapture, TextLayerIsPlacedAtTheSourceOrigin) {
    logo().isText = true;
    logo().scale = minihost::Vec3{150, 150, 100};
    const std::string line = frame();
    EXPECT_TRUE(has(line, "useLT=1 expanded=0 fail=none")) << line;
    EXPECT_TRUE(has(line, "posX=0.0 posY=0.0 invScX=1.000 invScY=1.000 ancX=0.0 ancY=0.0 srcRect=(0,0)")) << line;
    EXPECT_TRUE(has(line, "text=1")) << line;
}

TEST_F(HostCapture, ExpandedLayerIsPlacedAtItsMaximumRectangle) {
    // Content 20 pixels past every edge of a 640 x 360 layer: pre-render expands the checkout, and
    // the map's origin is the maximum rectangle's corner.
    World wide = disc(680, 400, 50);
    minihost::LayerSource source = LayerSourceOf(wide);
    source.maxRect = PF_LRect{-20, -20, 660, 380};
    source.refWidth = 640;
    source.refHeight = 360;
    chooseSource(source);
    const std::string line = frame();
    EXPECT_TRUE(has(line, "useLT=1 expanded=1 fail=none")) << line;
    EXPECT_TRUE(has(line, "posX=-20.0 posY=-20.0 invScX=1.000")) << line;
    EXPECT_TRUE(has(line, "srcRect=(-20,-20) refWH=640/360")) << line;
    EXPECT_TRUE(has(line, "layerWH=680/400")) << line;
    // The disc at the world's centre (340, 200) lands at (320, 180) in the composition.
    EXPECT_EQ(fs.emissionBoxX0, 320 - 49);
    EXPECT_EQ(fs.emissionBoxX1, 320 + 49);
}

TEST_F(HostCapture, PremiereAndMissingPluginIdKeepTheCentredMap) {
    host.settings().poseAsPremierePro();
    EXPECT_TRUE(has(frame(), "useLT=0 expanded=0 fail=prmr pickedID=0")) << log.size();
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    host.settings().poseAsPremierePro(false);
    processState().aegpPluginId = 0;
    EXPECT_TRUE(has(frame(), "fail=no_aegp_id")) << log.size();
    EXPECT_EQ(host.aegp().effectsGiven(), 0);
}

TEST_F(HostCapture, WithheldSuiteIsAnExceptionAndTheFrameStillRenders) {
    for (auto [name, version] : {std::pair{"AEGP Layer Suite", 14}, {"AEGP Stream Suite", 11}}) {
        host.suites().withhold(name, version);
        EXPECT_TRUE(has(frame(), "useLT=0 expanded=0 fail=exception")) << name;
        EXPECT_EQ(fs.sourceLayerPresent, 1);
        EXPECT_NE(fs.emissionHash, 0u);
        host.suites().restoreAll();
    }
    // The effect itself, not the probe: the frame succeeds and gets the no-GPU fill.
    gProbe = nullptr;
    host.suites().withhold("AEGP Layer Suite", 14);
    World output(640, 360, 8);
    EXPECT_EQ(host.renderFrame(*instance, output), PF_Err_NONE);
    EXPECT_EQ(output.pixel8(10, 10).red, 60);
    EXPECT_EQ(output.pixel8(10, 10).alpha, 255);
    host.suites().restoreAll();
}

TEST_F(HostCapture, DigestsFollowTheContentAndNothingElse) {
    World custom = disc(64, 32, 10);
    instance->setLayer(kParamCustomMap, custom);
    frame();
    const uint32_t emission = fs.emissionHash, customHash = fs.customMapHash;
    EXPECT_EQ(fs.customMapPresent, 1);
    EXPECT_EQ(fs.customMapWidth, 64);
    EXPECT_NE(emission, 0u);
    EXPECT_NE(customHash, 0u);

    // The layer moves: the placement changes, the layer map's digest does not.
    logo().position = minihost::Vec3{260, 150, 0};
    frame();
    EXPECT_EQ(fs.emissionHash, emission);
    EXPECT_EQ(fs.customMapHash, customHash);
    EXPECT_EQ(compositionMapCacheStats().builds, 2);
    frame();
    EXPECT_EQ(compositionMapCacheStats().reuses, 1);

    sourcePixels.pixel8(2, 2).alpha = 128;
    frame();
    EXPECT_NE(fs.emissionHash, emission);
    EXPECT_EQ(fs.customMapHash, customHash);

    custom.pixel8(0, 0).alpha = 255;
    frame();
    EXPECT_NE(fs.customMapHash, customHash);

    // Absent layers leave no digest behind.
    instance->clearLayer(kParamCustomMap);
    instance->clearLayer(kParamSourceLayer);
    frame();
    EXPECT_EQ(fs.sourceLayerPresent, 0);
    EXPECT_EQ(fs.emissionHash, 0u);
    EXPECT_EQ(fs.customMapPresent, 0);
    EXPECT_EQ(fs.customMapHash, 0u);
    EXPECT_EQ(fs.emissionBoxX0, -1);
}

TEST_F(HostCapture, LayerMasksWithoutAGpuLeaveTheLayerMapAndGiveBackTheirHandles) {
    minihost::Mask mask;
    mask.vertices = {minihost::MaskVertex{100, 100, 0, 0, 0, 0}, minihost::MaskVertex{300, 100, 0, 0, 0, 0}};
    mask.isClosed = false;
    composition->layerById(effectLayerId)->masks.push_back(mask);
    instance->setPopup(kParamPathEmitter, 2);  // "Layer Masks"
    frame();
    EXPECT_EQ(fs.pathEmitter, 1);
    EXPECT_EQ(host.aegp().masksGiven(), 1);  // the outline was read ...
    // ... but with nothing to upload it to, the source layer's map stands.
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    EXPECT_EQ(fs.emissionWidth, 640);
    EXPECT_EQ(fs.emissionBoxX0, 200 - 19);
}

// ---------------------------------------------------------------------------------------------
// Uploads. A bare context and queue on the process-wide runtime are all the uploads need, so the
// kernel library is not built; without an OpenCL device these tests skip.

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

class CaptureUpload : public Capture {
protected:
    void SetUp() override {
        Capture::SetUp();
        if (!startBareRuntime()) GTEST_SKIP() << "no OpenCL device";
        processState().gpuAvailable = true;
    }
    void TearDown() override {
        stopGpuRuntime(&gpuRuntime());
        processState().gpuAvailable = false;
        Capture::TearDown();
    }
};

TEST_F(CaptureUpload, ResampledMapAndCustomMapReachTheirBuffers) {
    World source = disc(100, 50, 20);
    aegp.scale[0] = aegp.scale[1] = 200;
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    const MapBuffer& emission = gpuRuntime().emissionMap;
    EXPECT_EQ(emission.width, 640);
    EXPECT_EQ(emission.height, 480);
    std::vector<float> layerMap(100 * 50), expected(640 * 480);
    ASSERT_TRUE(readWorldAlpha(*source.get(), 8, layerMap.data()));
    resampleToComposition(layerMap.data(), 100, 50, LayerPlacement{320, 240, 0.5f, 0.5f, 50, 25}, 640, 480,
                          expected.data());
    EXPECT_EQ(readBack(emission), expected);
    EXPECT_EQ(expected[size_t(240 * 640 + 320)], 1.0f);

    // A cache hit uploads the cached map.
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    EXPECT_EQ(compositionMapCacheStats().reuses, 1);
    EXPECT_EQ(readBack(gpuRuntime().emissionMap), expected);

    World custom = disc(32, 16, 6);
    captureCustomMap(&in, *custom.get(), fs);
    std::vector<float> customMap(32 * 16);
    ASSERT_TRUE(readWorldAlpha(*custom.get(), 8, customMap.data()));
    EXPECT_EQ(gpuRuntime().customMap.width, 32);
    EXPECT_EQ(readBack(gpuRuntime().customMap), customMap);
}

TEST_F(CaptureUpload, WithoutPlacementTheLayerMapItselfIsUploaded) {
    World source = disc(60, 40, 10);
    aegp.failing = "GetNewStreamValue";
    captureSourceLayerMap(&in, *source.get(), instance, fs);
    std::vector<float> layerMap(60 * 40);
    ASSERT_TRUE(readWorldAlpha(*source.get(), 8, layerMap.data()));
    EXPECT_EQ(gpuRuntime().emissionMap.width, 60);
    EXPECT_EQ(readBack(gpuRuntime().emissionMap), layerMap);
}

class HostCaptureUpload : public HostCapture {
protected:
    void SetUp() override {
        HostCapture::SetUp();
        if (!startBareRuntime()) GTEST_SKIP() << "no OpenCL device";
    }
    void TearDown() override {
        stopGpuRuntime(&gpuRuntime());
        HostCapture::TearDown();
    }
};

TEST_F(HostCaptureUpload, LayerMasksReplaceTheSourceLayersMap) {
    minihost::Mask mask;
    mask.vertices = {minihost::MaskVertex{100, 100, 0, 0, 0, 0}, minihost::MaskVertex{300, 100, 0, 0, 0, 0}};
    mask.isClosed = false;
    composition->layerById(effectLayerId)->masks.push_back(mask);
    instance->setPopup(kParamPathEmitter, 2);  // "Layer Masks"
    logo().position = minihost::Vec3{200, 150, 0};
    frame();
    EXPECT_EQ(fs.sourceLayerPresent, 1);
    EXPECT_EQ(fs.emissionWidth, 640);
    EXPECT_EQ(fs.emissionHeight, 360);
    EXPECT_EQ(fs.useLayerTransform, 0);
    const std::vector<float> strokes = readBack(gpuRuntime().emissionMap);
    ASSERT_EQ(strokes.size(), size_t(640 * 360));
    const MapSummary summary = summarizeMap(strokes.data(), 640, 360);
    EXPECT_EQ(fs.emissionHash, summary.hash);
    // The line from (100, 100) to 15/16 of the way to (300, 100); the ridge reaches 0 at five
    // pixels, so four pixels either side hold content.
    EXPECT_EQ(fs.emissionBoxX0, 96);
    EXPECT_EQ(fs.emissionBoxY0, 96);
    EXPECT_EQ(fs.emissionBoxY1, 104);
    EXPECT_EQ(strokes[size_t(100 * 640 + 100)], 1.0f);
    EXPECT_EQ(strokes[size_t(150 * 640 + 200)], 0.0f);  // where the source layer's disc is

    // Back to no path emitter: the source layer's map is uploaded again.
    instance->setPopup(kParamPathEmitter, 1);
    frame();
    EXPECT_EQ(fs.emissionBoxX0, 200 - 19);
    EXPECT_EQ(readBack(gpuRuntime().emissionMap)[size_t(150 * 640 + 200)], 1.0f);
}

TEST_F(HostCaptureUpload, LayerMasksAtPreviewResolutionEmitAsAtFullResolution) {
    // A closed mask and the effect rendered as the host previews at 1/2 and 1/4: a smaller output
    // world and smaller checkouts, PF_InData's size unchanged. The strokes, their box and their
    // digest (and with it the simulation key) must be those of the full-resolution frame.
    minihost::Mask mask;
    mask.vertices = {minihost::MaskVertex{100, 100, 0, 0, 0, 0}, minihost::MaskVertex{300, 100, 0, 0, 0, 0},
                     minihost::MaskVertex{300, 250, 0, 0, 0, 0}};
    mask.isClosed = true;
    composition->layerById(effectLayerId)->masks.push_back(mask);
    instance->setPopup(kParamPathEmitter, 2);  // "Layer Masks"

    frame();
    ASSERT_EQ(fs.sourceLayerPresent, 1);
    const std::vector<float> full = readBack(gpuRuntime().emissionMap);
    ASSERT_EQ(full.size(), size_t(640 * 360));
    ASSERT_EQ(full[size_t(250 * 640 + 300)], 1.0f);  // a vertex, in full-resolution pixels
    const FrameSettings atFull = fs;

    for (const int factor : {2, 4}) {
        SCOPED_TRACE("preview at 1/" + std::to_string(factor));
        host.settings().setPreviewResolution(factor);
        World output(640 / factor, 360 / factor, 8);
        ASSERT_EQ(minihost::atPreviewScale(640, host.settings().downsampleX), output.width());
        ASSERT_EQ(host.renderFrame(*instance, output), PF_Err_NONE);
        EXPECT_EQ(fs.compWidth, 640);
        EXPECT_EQ(fs.compHeight, 360);
        EXPECT_EQ(fs.emissionWidth, 640);
        EXPECT_EQ(fs.emissionHeight, 360);
        EXPECT_EQ(fs.emissionHash, atFull.emissionHash);
        EXPECT_EQ(fs.emissionBoxX0, atFull.emissionBoxX0);
        EXPECT_EQ(fs.emissionBoxY0, atFull.emissionBoxY0);
        EXPECT_EQ(fs.emissionBoxX1, atFull.emissionBoxX1);
        EXPECT_EQ(fs.emissionBoxY1, atFull.emissionBoxY1);
        EXPECT_EQ(readBack(gpuRuntime().emissionMap), full);
        EXPECT_EQ(simulationKey(fs), simulationKey(atFull));
    }
}

}  // namespace
}  // namespace cindel
