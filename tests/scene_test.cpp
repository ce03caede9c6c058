// Tests of the composition model (minihost/composition.h, compositor.h) and of scene files
// (tools/scene_file.cpp): what a scene builds, each class of error with its file, field path and
// expectation, keyframe interpolation, transforms, the default camera, resizing, compositing.
#include "tools/scene.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "minihost/animated.h"
#include "minihost/composition.h"
#include "minihost/compositor.h"
#include "tools/errors.h"
#include "tools/image_io.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using minihost::Animated;
using minihost::Composition;
using minihost::Interpolation;
using minihost::LayerType;
using minihost::Vec3;

Scene parse(const std::string& text, const std::string& base = "") {
    return parseScene(text, "test.json", base);
}

// The message of the UsageError that parsing the text throws ("" when it parses).
std::string parseError(const std::string& text, const std::string& base = "") {
    try {
        parse(text, base);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

// ---- Keyframe interpolation

TEST(Keyframes, LinearHoldAndBeyondTheEnds) {
    Animated<double> value;
    value.addKey(1.0, 10.0);
    value.addKey(2.0, 20.0, Interpolation::Hold);
    value.addKey(3.0, 40.0);
    EXPECT_DOUBLE_EQ(value.at(0.0), 10.0);  // before the first key: the first value
    EXPECT_DOUBLE_EQ(value.at(1.0), 10.0);
    EXPECT_DOUBLE_EQ(value.at(1.25), 12.5);  // linear
    EXPECT_DOUBLE_EQ(value.at(2.0), 20.0);
    EXPECT_DOUBLE_EQ(value.at(2.99), 20.0);  // hold until the next key
    EXPECT_DOUBLE_EQ(value.at(3.0), 40.0);
    EXPECT_DOUBLE_EQ(value.at(9.0), 40.0);  // after the last key: the last value
    EXPECT_DOUBLE_EQ(Animated<double>(7.0).at(5.0), 7.0);
}

TEST(Keyframes, KeysComeInAnyOrderAndASecondKeyAtATimeReplacesTheFirst) {
    Animated<Vec3> position;
    position.addKey(2.0, Vec3{20, 0, 0});
    position.addKey(0.0, Vec3{0, 10, 0});
    position.addKey(2.0, Vec3{40, 0, 0});
    ASSERT_EQ(position.keyCount(), 2u);
    Vec3 mid = position.at(1.0);
    EXPECT_DOUBLE_EQ(mid.x, 20.0);
    EXPECT_DOUBLE_EQ(mid.y, 5.0);
}

TEST(Keyframes, SceneKeysInFramesAndSecondsOnLayersAndParameters) {
    Scene scene = parse(R"({
      "composition": {"width": 100, "height": 50, "frameRate": 25, "duration": 50},
      "layers": [
        {"type": "light", "position": {"keys": [{"frame": 0, "value": [0, 0, 0]},
                                                {"time": 1.0, "value": [100, 50, -20], "interpolation": "hold"},
                                                {"frame": 40, "value": [0, 0, 0]}]}},
        {"type": "effect", "params": {"Burn Progress": {"keys": [{"frame": 0, "value": 0}, {"frame": 24, "value": 100}]},
                                      "Quality": "Draft"}}
      ]})");
    const minihost::Layer& light = scene.composition->layer(0);
    EXPECT_DOUBLE_EQ(light.position.at(0.5).x, 50.0);
    EXPECT_DOUBLE_EQ(light.position.at(1.5).y, 50.0);  // held
    EXPECT_DOUBLE_EQ(light.position.at(100.0).x, 0.0);
    ASSERT_EQ(scene.params.size(), 2u);
    EXPECT_EQ(scene.params[0].reference, "Burn Progress");
    ASSERT_EQ(scene.params[0].keys.size(), 2u);
    EXPECT_DOUBLE_EQ(scene.params[0].keys[1].seconds, 24.0 / 25.0);
    EXPECT_EQ(scene.params[0].where, "test.json: layers[1].params[\"Burn Progress\"]");
    EXPECT_FALSE(scene.params[1].isKeyframed());
    EXPECT_EQ(scene.params[1].constant.text, "Draft");
}

// ---- What a scene builds

TEST(SceneFile, EmptySceneIsOneEffectLayerOnTheDefaultComposition) {
    Scene scene = parse("{}");
    const Composition& comp = *scene.composition;
    EXPECT_EQ(comp.width, 960);
    EXPECT_EQ(comp.height, 540);
    EXPECT_DOUBLE_EQ(comp.framesPerSecond(), 30.0);
    ASSERT_EQ(comp.layerCount(), 1);
    ASSERT_NE(comp.effectLayer(), nullptr);
    EXPECT_EQ(comp.effectLayer()->width, 960);
    EXPECT_FALSE(scene.output.frames.has_value());
    EXPECT_EQ(scene.output.format, OutputFormat::Png8);
}

TEST(SceneFile, LayersKeepStackOrderTypesIdsAndDefaults) {
    Scene scene = parse(R"({
      "composition": {"width": 200, "height": 100, "frameRate": 29.97, "duration": 60, "motionBlur": true},
      "layers": [
        {"type": "camera", "name": "Cam"},
        {"type": "light", "name": "Key", "color": "#FF8000", "intensity": 250},
        {"type": "effect", "name": "Fire", "motionBlur": true, "start": 10,
         "masks": [{"closed": false, "vertices": [[0, 0], {"point": [10, 0], "in": [-2, 0], "out": [2, 1]}]}]},
        {"type": "solid", "name": "Ground", "color": [0.1, 0.2, 0.3], "width": 50, "height": 20, "visible": false}
      ],
      "output": {"frames": "5-9", "format": "exr", "directory": "o", "background": "none", "prefix": "shot"}
    })");
    const Composition& comp = *scene.composition;
    EXPECT_EQ(comp.timeScale, 30000u);
    EXPECT_EQ(comp.timeStep, 1001);
    EXPECT_TRUE(comp.hasMotionBlur);
    ASSERT_EQ(comp.layerCount(), 4);
    EXPECT_EQ(comp.layer(0).type, LayerType::Camera);
    EXPECT_EQ(comp.layer(0).objectType(), minihost::ObjectType::Camera);
    EXPECT_EQ(comp.layer(1).objectType(), minihost::ObjectType::Light);
    EXPECT_EQ(comp.layer(2).objectType(), minihost::ObjectType::AudioVisual);
    for (int i = 0; i < comp.layerCount(); ++i) {
        EXPECT_NE(comp.layer(i).id, 0);
        EXPECT_EQ(comp.layerById(comp.layer(i).id), &comp.layer(i));
        EXPECT_EQ(comp.indexOf(comp.layer(i).id), i);
    }
    EXPECT_EQ(comp.layerById(9999), nullptr);
    EXPECT_EQ(comp.lights().size(), 1u);
    EXPECT_DOUBLE_EQ(comp.layer(1).lightColor.green, 128.0 / 255.0);
    EXPECT_DOUBLE_EQ(comp.layer(1).lightIntensity.at(0), 250.0);

    const minihost::Layer& effect = *comp.effectLayer();
    EXPECT_EQ(effect.name, "Fire");
    EXPECT_TRUE(effect.hasMotionBlur);
    EXPECT_NEAR(effect.startSeconds, 10 * 1001.0 / 30000.0, 1e-12);
    EXPECT_FALSE(effect.isActiveAt(0.0));
    ASSERT_EQ(effect.masks.size(), 1u);
    EXPECT_FALSE(effect.masks[0].isClosed);
    EXPECT_EQ(effect.masks[0].segmentCount(), 1);
    EXPECT_DOUBLE_EQ(effect.masks[0].vertices[1].outTangentY, 1.0);
    // Anchor at the layer's centre, position at the composition's centre.
    EXPECT_TRUE(effect.anchor.at(0) == (Vec3{100, 50, 0}));
    EXPECT_TRUE(effect.position.at(0) == (Vec3{100, 50, 0}));

    const minihost::Layer& ground = comp.layer(3);
    EXPECT_FALSE(ground.isVisible);
    EXPECT_EQ(ground.width, 50);
    EXPECT_DOUBLE_EQ(ground.solidColor.blue, 0.3);

    ASSERT_TRUE(scene.output.frames.has_value());
    EXPECT_EQ(scene.output.frames->first, 5);
    EXPECT_EQ(scene.output.frames->count(), 5);
    EXPECT_EQ(scene.output.format, OutputFormat::ExrHalf);
    EXPECT_TRUE(scene.output.hasBackground);
    EXPECT_FALSE(scene.output.background.has_value());
    EXPECT_EQ(scene.output.prefix, "shot");
}

TEST(SceneFile, ImageLayersLoadRelativeToTheSceneFile) {
    std::string name = "scene_test-";
    name += std::to_string(getpid());
    const fs::path dir = fs::temp_directory_path() / name;
    fs::create_directories(dir);
    minihost::RgbaImage logo(8, 4);
    logo.at(3, 1)[0] = logo.at(3, 1)[3] = 1.0f;
    writeImageAtomically(logo, OutputFormat::Png8, (dir / "logo.png").string());
    std::ofstream(dir / "s.json")
        << R"({"layers": [{"type": "effect"}, {"type": "image", "name": "Logo", "file": "logo.png"}]})";
    Scene scene = loadSceneFile((dir / "s.json").string());
    const minihost::Layer* image = scene.composition->findByName("Logo");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(image->height, 4);
    EXPECT_FLOAT_EQ(image->image->at(3, 1)[3], 1.0f);
    fs::remove_all(dir);
}

TEST(SceneFile, TextLayersAreImageLayersWithContentPastTheirBounds) {
    std::string name = "scene_test-text-";
    name += std::to_string(getpid());
    const fs::path dir = fs::temp_directory_path() / name;
    fs::create_directories(dir);
    minihost::RgbaImage glyphs(6, 3);
    glyphs.at(0, 0)[1] = glyphs.at(0, 0)[3] = 1.0f;
    writeImageAtomically(glyphs, OutputFormat::Png8, (dir / "title.png").string());
    std::ofstream(dir / "s.json") << R"({"composition": {"width": 10, "height": 5},
        "layers": [{"type": "effect"}, {"type": "text", "file": "title.png", "contentMargin": 2, "position": [5, 2.5]},
                   {"type": "image", "name": "Plain", "file": "title.png"}]})";
    Scene scene = loadSceneFile((dir / "s.json").string());
    auto marginError = [&](const std::string& margin) {
        std::ofstream(dir / "bad.json") << R"({"layers": [{"type": "effect"}, {"type": "text", "file": "title.png",
            "contentMargin": )" + margin + "}]}";
        try {
            loadSceneFile((dir / "bad.json").string());
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_CONTAINS(marginError("-1"), "layers[1].contentMargin: expected a whole number of at least 0");
    EXPECT_CONTAINS(marginError("20000"), "layers[1].contentMargin: expected a margin of at most 10000 pixels");
    EXPECT_CONTAINS(marginError("1.5"), "layers[1].contentMargin: expected a whole number");
    fs::remove_all(dir);
    const minihost::Layer& text = scene.composition->layer(1);
    EXPECT_EQ(text.name, "Text 2");
    EXPECT_EQ(text.type, LayerType::Image);
    EXPECT_TRUE(text.isText);
    EXPECT_EQ(text.objectType(), minihost::ObjectType::Text);
    EXPECT_TRUE(text.isAudioVisual());
    EXPECT_EQ(text.contentMargin, 2);
    EXPECT_EQ(text.width, 6);
    EXPECT_EQ(scene.composition->layer(2).objectType(), minihost::ObjectType::AudioVisual);
    EXPECT_EQ(scene.composition->layer(2).contentMargin, 0);

    // The content the effect is handed: the glyphs inside a transparent margin.
    minihost::RgbaImage content = minihost::layerContentPixels(text);
    ASSERT_EQ(content.width, 10);
    ASSERT_EQ(content.height, 7);
    EXPECT_FLOAT_EQ(content.at(2, 2)[3], 1.0f);
    EXPECT_FLOAT_EQ(content.at(1, 1)[3], 0.0f);
    EXPECT_FLOAT_EQ(content.at(3, 2)[3], 0.0f);
    EXPECT_EQ(minihost::layerContentPixels(scene.composition->layer(2)).width, 6);

    // The compositor draws the text layer at its bounds: its (0, 0) lands at (2, 1).
    minihost::RgbaImage frame = minihost::compositeFrame(*scene.composition, 0.0, nullptr, std::nullopt);
    EXPECT_FLOAT_EQ(frame.at(2, 1)[1], 1.0f);
    EXPECT_FLOAT_EQ(frame.at(2, 1)[3], 1.0f);
}

TEST(SceneErrors, ContentMarginsBelongToImageAndTextLayersAndStaySmall) {
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect"}, {"type": "solid", "color": "black",
                                  "contentMargin": 4}]})"),
                    "layers[1]: unknown field \"contentMargin\"");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect"}, {"type": "text", "contentMargin": 4}]})"),
                    "layers[1]: missing field \"file\"");
}

// ---- Errors: each names the file, the field path and what was expected

TEST(SceneErrors, NotJson) {
    std::string e = parseError("{\"composition\": {\"width\": 10,}}");
    EXPECT_CONTAINS(e, "test.json: not valid JSON");
    EXPECT_CONTAINS(e, "line 1");
    // A number past the range of a double is refused as the file's fault, not thrown on as the
    // JSON library's own exception.
    EXPECT_EQ(parseError(R"({"composition": {"width": 3E355555555555}})"),
              "test.json: not valid JSON: number overflow parsing '3E355555555555'");
}

TEST(SceneErrors, WrongShapeOfAValue) {
    std::string e = parseError(R"({"layers": [{"type": "effect"}, {"type": "solid", "color": "#000000"},
                                              {"type": "solid", "color": "#ffffff", "position": [1]}]})");
    EXPECT_EQ(e, "test.json: layers[2].position: expected 2 or 3 numbers");
    EXPECT_EQ(parseError(R"({"composition": {"width": "wide"}})"),
              "test.json: composition.width: expected a whole number, got \"wide\"");
    EXPECT_EQ(parseError(R"({"composition": {"width": 0}})"),
              "test.json: composition.width: expected a whole number of at least 1, got 0");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect", "scale": "big"}]})"),
                    "layers[0].scale: expected a scale");
}

TEST(SceneErrors, UnknownFieldsAreRefusedWithTheNearestKnownOne) {
    std::string e = parseError(R"({"layers": [{"type": "effect", "positon": [1, 2]}]})");
    EXPECT_CONTAINS(e, "test.json: layers[0]: unknown field \"positon\" (did you mean \"position\"?)");
    EXPECT_CONTAINS(parseError(R"({"compositon": {}})"), "did you mean \"composition\"");
}

TEST(SceneErrors, MissingAndUnknownTypes) {
    EXPECT_EQ(parseError(R"({"layers": [{"name": "x"}]})"), "test.json: layers[0]: missing field \"type\"");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "video"}]})"),
                    "test.json: layers[0].type: expected \"image\", \"text\", \"solid\", \"effect\", \"light\" or "
                    "\"camera\"");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect"}, {"type": "image"}]})"),
                    "layers[1]: missing field \"file\"");
}

TEST(SceneErrors, ExactlyOneEffectLayer) {
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "solid", "color": "black"}]})"),
                    "test.json: layers: expected exactly one layer of type \"effect\"");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect"}, {"type": "effect"}]})"), "found 2");
}

TEST(SceneErrors, DuplicateLayerNames) {
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect", "name": "A"}, {"type": "light", "name": "A"}]})"),
                    "layers[1]: the name \"A\" is already another layer's");
}

TEST(SceneErrors, KeysNeedOneTimeAndAKnownInterpolation) {
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect", "position": {"keys": [{"value": [1, 2]}]}}]})"),
                    "layers[0].position.keys[0]: a key needs exactly one of \"frame\"");
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect", "params": {"Gamma":
                                  {"keys": [{"frame": 0, "value": 1, "interpolation": "bezier"}]}}}]})"),
                    "params[\"Gamma\"].keys[0].interpolation: expected \"linear\" or \"hold\"");
    EXPECT_CONTAINS(
        parseError(R"({"layers": [{"type": "effect", "params": {"Gamma": {"value": 1}}}]})"),
        "params[\"Gamma\"]: expected a number, a text, true or false, a list of numbers, or {\"keys\": [...]}");
}

TEST(SceneErrors, MasksNeedTwoVertices) {
    EXPECT_EQ(parseError(R"({"layers": [{"type": "effect", "masks": [{"vertices": [[1, 2]]}]}]})"),
              "test.json: layers[0].masks[0].vertices: expected at least 2 vertices");
}

TEST(SceneErrors, OutputSettings) {
    EXPECT_CONTAINS(parseError(R"({"output": {"format": "tiff"}})"), "output.format: unknown format \"tiff\"");
    EXPECT_CONTAINS(parseError(R"({"output": {"frames": "9-2"}})"),
                    "output.frames: the range 9-2 ends before it starts");
    EXPECT_CONTAINS(parseError(R"({"output": {"frames": "abc"}})"), "output.frames: expected frames as A-B");
    EXPECT_CONTAINS(parseError(R"({"composition": {"duration": 10}, "output": {"frames": "0-10"}})"),
                    "output.frames: frame 10 is past the composition's last frame 9");
    EXPECT_CONTAINS(parseError(R"({"output": {"background": "purple-ish"}})"), "output.background: expected a colour");
}

TEST(SceneErrors, UnreadableImagesAreNamedWithTheReason) {
    std::string e = parseError(R"({"layers": [{"type": "effect"}, {"type": "image", "file": "no-such-logo.png"}]})",
                               "/nonexistent");
    EXPECT_CONTAINS(e, "test.json: layers[1].file: cannot read image \"/nonexistent/no-such-logo.png\": No such file");
}

TEST(SceneErrors, UnreadableSceneFile) {
    try {
        loadSceneFile("/nonexistent/scene.json");
        FAIL();
    } catch (const UsageError& e) {
        EXPECT_CONTAINS(e.what(), "/nonexistent/scene.json: cannot open the scene file");
    }
}

// ---- Transforms and cameras

TEST(Transforms, AnchorScalePositionAndLights) {
    Scene scene = parse(R"({"layers": [
        {"type": "effect", "width": 100, "height": 60, "anchor": [50, 30], "position": [400, 300, 5], "scale": [200, 50]},
        {"type": "light", "position": [1, 2, 3]}]})");
    const Composition& comp = *scene.composition;
    minihost::Matrix4 m = comp.layerToWorld(comp.layer(0), 0.0);
    // A layer pixel p lands at (p − anchor) × scale + position.
    auto apply = [&](double x, double y) { return Vec3{x * m.m[0][0] + m.m[3][0], y * m.m[1][1] + m.m[3][1], 0}; };
    EXPECT_DOUBLE_EQ(apply(50, 30).x, 400);
    EXPECT_DOUBLE_EQ(apply(50, 30).y, 300);
    EXPECT_DOUBLE_EQ(apply(60, 40).x, 420);
    EXPECT_DOUBLE_EQ(apply(60, 40).y, 305);
    EXPECT_DOUBLE_EQ(m.m[3][2], 5);
    EXPECT_TRUE(comp.layerToWorld(comp.layer(1), 0.0).translation() == (Vec3{1, 2, 3}));
}

void expectDefaultView(const minihost::EffectCamera& camera, int width, int height) {
    const double zoom = 1.39 * width;
    const double rows[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {width / 2.0, height / 2.0, -zoom}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(camera.matrix.m[r][c], rows[r][c], 1e-9) << "row " << r << " col " << c;
    EXPECT_NEAR(camera.distance, zoom, 1e-9);
    EXPECT_EQ(camera.planeWidth, width);
    EXPECT_EQ(camera.planeHeight, height);
}

TEST(Camera, DefaultCameraIsTheEffectsDefaultView) {
    // Without a camera layer, and with a camera layer left at its defaults, the effect sees the
    // view of its own default camera: axes aligned, at (w/2, h/2, −1.39 w), zoom 1.39 w.
    Scene without = parse(R"({"composition": {"width": 640, "height": 360}})");
    expectDefaultView(without.composition->effectCamera(0.0), 640, 360);
    Scene with =
        parse(R"({"composition": {"width": 640, "height": 360}, "layers": [{"type": "camera"}, {"type": "effect"}]})");
    expectDefaultView(with.composition->effectCamera(0.0), 640, 360);
    expectDefaultView(with.composition->cameraOf(with.composition->layer(0), 0.0), 640, 360);
}

TEST(Camera, ACameraLooksAtItsPointOfInterest) {
    Scene scene = parse(R"({"composition": {"width": 100, "height": 100},
        "layers": [{"type": "camera", "position": [50, 50, -100], "pointOfInterest": [150, 50, 0], "zoom": 300,
                    "start": 30}, {"type": "effect"}]})");
    const Composition& comp = *scene.composition;
    expectDefaultView(comp.effectCamera(0.0), 100, 100);  // the camera starts at frame 30
    minihost::EffectCamera camera = comp.effectCamera(1.0);
    const double s = 1.0 / std::sqrt(2.0);
    EXPECT_NEAR(camera.matrix.m[2][0], s, 1e-12);  // forward
    EXPECT_NEAR(camera.matrix.m[2][2], s, 1e-12);
    EXPECT_NEAR(camera.matrix.m[0][0], s, 1e-12);  // right stays level
    EXPECT_NEAR(camera.matrix.m[0][2], -s, 1e-12);
    EXPECT_NEAR(camera.matrix.m[1][1], 1.0, 1e-12);  // down is +y
    EXPECT_DOUBLE_EQ(camera.distance, 300);
}

TEST(Resize, EverythingScalesWithTheComposition) {
    Scene scene = parse(R"({"composition": {"width": 200, "height": 100},
        "layers": [{"type": "camera"}, {"type": "light", "position": [20, 10, -40]},
                   {"type": "effect", "masks": [{"vertices": [[20, 10], [40, 10]]}]}]})");
    scene.resize(100, 200);
    const Composition& comp = *scene.composition;
    expectDefaultView(comp.effectCamera(0.0), 100, 200);
    EXPECT_TRUE(comp.layer(1).position.at(0) == (Vec3{10, 20, -20}));
    EXPECT_EQ(comp.effectLayer()->width, 100);
    EXPECT_EQ(comp.effectLayer()->height, 200);
    EXPECT_DOUBLE_EQ(comp.effectLayer()->masks[0].vertices[1].x, 20);
    EXPECT_DOUBLE_EQ(comp.effectLayer()->masks[0].vertices[1].y, 20);
    EXPECT_DOUBLE_EQ(scene.pointScaleX, 0.5);
    EXPECT_DOUBLE_EQ(scene.pointScaleY, 2.0);
}

// ---- Compositing

TEST(Compositor, EffectOutputPassesThroughAndLayersStackOver) {
    Scene scene = parse(R"({"composition": {"width": 4, "height": 2},
        "layers": [{"type": "effect"}, {"type": "solid", "color": [0, 0, 1], "width": 2, "height": 2, "position": [1, 1]}]})");
    minihost::RgbaImage effect(4, 2);
    effect.at(0, 0)[0] = 0.5f, effect.at(0, 0)[3] = 0.5f;    // half-covering red over the blue solid
    effect.at(3, 1)[1] = 0.25f, effect.at(3, 1)[3] = 0.25f;  // over nothing
    minihost::RgbaImage frame = minihost::compositeFrame(*scene.composition, 0.0, &effect, std::nullopt);
    EXPECT_FLOAT_EQ(frame.at(0, 0)[0], 0.5f);
    EXPECT_FLOAT_EQ(frame.at(0, 0)[2], 0.5f);  // the solid shows through half
    EXPECT_FLOAT_EQ(frame.at(0, 0)[3], 1.0f);
    EXPECT_FLOAT_EQ(frame.at(3, 1)[1], 0.25f);  // exactly the effect's pixel
    EXPECT_FLOAT_EQ(frame.at(3, 1)[3], 0.25f);
    EXPECT_FLOAT_EQ(frame.at(2, 0)[3], 0.0f);  // beyond the solid and the effect's pixels

    minihost::RgbaImage onBlack = minihost::compositeFrame(*scene.composition, 0.0, &effect, minihost::Rgb{0, 0, 0});
    EXPECT_FLOAT_EQ(onBlack.at(2, 0)[3], 1.0f);
    EXPECT_FLOAT_EQ(onBlack.at(3, 1)[1], 0.25f);
}

TEST(ExampleScenes, AllLoad) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(CINDEL_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        ++count;
        EXPECT_NO_THROW({
            Scene scene = loadSceneFile(entry.path().string());
            EXPECT_NE(scene.composition->effectLayer(), nullptr);
            EXPECT_FALSE(scene.params.empty()) << entry.path();
        }) << entry.path();
    }
    EXPECT_GE(count, 5);
}

TEST(DefaultScene, IsBuiltInAndValid) {
    Scene scene = defaultScene();
    EXPECT_EQ(scene.composition->width, 960);
    EXPECT_EQ(scene.composition->height, 540);
    EXPECT_DOUBLE_EQ(scene.composition->framesPerSecond(), 30.0);
    ASSERT_NE(scene.composition->effectLayer(), nullptr);
    bool hasSource = false;
    for (const ParamSetting& p : scene.params) {
        if (p.reference != "Source Position") continue;
        hasSource = true;
        ASSERT_EQ(p.constant.numbers.size(), 3u);
        EXPECT_DOUBLE_EQ(p.constant.numbers[0], 480);  // centred
        EXPECT_GT(p.constant.numbers[1], 540 * 0.7);   // near the bottom
    }
    EXPECT_TRUE(hasSource);
}

}  // namespace
}  // namespace cli
