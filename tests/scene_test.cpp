// Scene files (tools/scene_file.cpp) and what they build in minihost's composition: every class of
// bad input refused with the file, the field path and what was expected; layers, keys, image and
// text layers, a camera's aim, resizing and compositing.
#include "tools/scene.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "minihost/compositor.h"
#include "tools/errors.h"
#include "tools/image_io.h"

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

namespace cli {
namespace {

namespace fs = std::filesystem;
using minihost::Vec3;

// Scenes here find their image files in one folder per program: title.png, 6 × 3, transparent but
// for an opaque green pixel at (0, 0).
struct ImageFolder {
    fs::path dir = fs::temp_directory_path() / ("scene_test-" + std::to_string(getpid()));
    ImageFolder() {
        fs::create_directories(dir);
        minihost::RgbaImage glyphs(6, 3);
        glyphs.at(0, 0)[1] = glyphs.at(0, 0)[3] = 1.0f;
        writeImageAtomically(glyphs, OutputFormat::Png8, (dir / "title.png").string());
    }
    ~ImageFolder() { fs::remove_all(dir); }
};
const fs::path& imageFolder() {
    static const ImageFolder folder;
    return folder.dir;
}

Scene parse(const std::string& text) { return parseScene(text, "test.json", imageFolder().string()); }

std::string parseError(const std::string& text) try {
    parse(text);
    return "";
} catch (const UsageError& e) {
    return e.what();
}

TEST(SceneErrors, EachBadInputIsRefusedWithItsFieldPathAndExpectation) {
    const struct { const char* text; const char* words; } cases[] = {
        {R"({"composition": {"width": 10,}})", "test.json: not valid JSON"},
        // Past a double's range: the file's fault, not the JSON library's own exception escaping.
        {R"({"composition": {"width": 3E355555555555}})",
         "test.json: not valid JSON: number overflow parsing '3E355555555555'"},
        {R"({"composition": {"width": "wide"}})", "test.json: composition.width: expected a whole number, got \"wide\""},
        {R"({"composition": {"width": 0}})", "composition.width: expected a whole number of at least 1, got 0"},
        {R"({"layers": [{"type": "effect", "position": [1]}]})", "test.json: layers[0].position: expected 2 or 3 numbers"},
        {R"({"layers": [{"type": "effect", "positon": [1, 2]}]})",
         "layers[0]: unknown field \"positon\" (did you mean \"position\"?)"},
        {R"({"layers": [{"name": "x"}]})", "test.json: layers[0]: missing field \"type\""},
        {R"({"layers": [{"type": "video"}]})",
         "layers[0].type: expected \"image\", \"text\", \"solid\", \"effect\", \"light\" or \"camera\""},
        {R"({"layers": [{"type": "effect"}, {"type": "image"}]})", "layers[1]: missing field \"file\""},
        {R"({"layers": [{"type": "solid", "color": "black"}]})", "layers: expected exactly one layer of type \"effect\""},
        {R"({"layers": [{"type": "effect"}, {"type": "effect"}]})", "found 2"},
        {R"({"layers": [{"type": "effect", "name": "A"}, {"type": "light", "name": "A"}]})",
         "layers[1]: the name \"A\" is already another layer's"},
        {R"({"layers": [{"type": "effect", "position": {"keys": [{"value": [1, 2]}]}}]})",
         "layers[0].position.keys[0]: a key needs exactly one of \"frame\""},
        {R"({"layers": [{"type": "effect", "position": {"keys": [{"frame": 0, "time": 0, "value": [1, 2]}]}}]})",
         "layers[0].position.keys[0]: a key needs exactly one of \"frame\""},
        {R"({"layers": [{"type": "effect", "params": {"Gamma": {"keys": [{"frame": 0, "value": 1,
            "interpolation": "bezier"}]}}}]})",
         "params[\"Gamma\"].keys[0].interpolation: expected \"linear\" or \"hold\""},
        {R"({"layers": [{"type": "effect", "params": {"Gamma": {"value": 1}}}]})",
         "params[\"Gamma\"]: expected a number, a text, true or false, a list of numbers, or {\"keys\": [...]}"},
        {R"({"layers": [{"type": "effect", "masks": [{"vertices": [[1, 2]]}]}]})",
         "test.json: layers[0].masks[0].vertices: expected at least 2 vertices"},
        {R"({"output": {"format": "tiff"}})", "output.format: unknown format \"tiff\""},
        {R"({"output": {"frames": "9-2"}})", "output.frames: the range 9-2 ends before it starts"},
        {R"({"output": {"frames": "abc"}})", "output.frames: expected frames as A-B"},
        {R"({"composition": {"duration": 10}, "output": {"frames": "0-10"}})",
         "output.frames: frame 10 is past the composition's last frame 9"},
        {R"({"output": {"background": "purple-ish"}})", "output.background: expected a colour"},
        {R"({"layers": [{"type": "effect"}, {"type": "solid", "color": "black", "contentMargin": 4}]})",
         "layers[1]: unknown field \"contentMargin\""},
        {R"({"layers": [{"type": "effect"}, {"type": "text", "file": "title.png", "contentMargin": -1}]})",
         "layers[1].contentMargin: expected a whole number of at least 0"},
        {R"({"layers": [{"type": "effect"}, {"type": "text", "file": "title.png", "contentMargin": 10001}]})",
         "layers[1].contentMargin: expected a margin of at most 10000 pixels"},
    };
    for (const auto& c : cases) EXPECT_CONTAINS(parseError(c.text), c.words);
    EXPECT_CONTAINS(parseError(R"({"layers": [{"type": "effect"}, {"type": "image", "file": "no-such-logo.png"}]})"),
                    "layers[1].file: cannot read image \"" + (imageFolder() / "no-such-logo.png").string() + "\": No such file");
    // The accepted side of the limits.
    EXPECT_EQ(parseError(R"({"composition": {"width": 1}, "layers": [{"type": "effect"},
                           {"type": "text", "file": "title.png", "contentMargin": 10000}]})"), "");
    try {
        loadSceneFile("/nonexistent/scene.json");
        ADD_FAILURE() << "a missing scene file was read";
    } catch (const UsageError& e) {
        EXPECT_CONTAINS(e.what(), "/nonexistent/scene.json: cannot open the scene file");
    }
}

TEST(SceneFile, DefaultsLayersInStackOrderAndOutputSettings) {
    const Scene empty = parse("{}");  // one effect layer over 960 × 540 at 30 fps, written as 8-bit PNG
    const minihost::Composition& defaults = *empty.composition;
    EXPECT_TRUE(defaults.width == 960 && defaults.height == 540 && defaults.layerCount() == 1);
    EXPECT_TRUE(defaults.framesPerSecond() == 30.0 && empty.output.format == OutputFormat::Png8);

    const Scene scene = parse(R"({
      "composition": {"width": 200, "height": 100, "frameRate": 29.97, "duration": 60},
      "layers": [
        {"type": "light", "name": "Key", "color": "#FF8000", "intensity": 250},
        {"type": "effect", "name": "Fire", "start": 10,
         "masks": [{"closed": false, "vertices": [[0, 0], {"point": [10, 0], "in": [-2, 0], "out": [2, 1]}]}]},
        {"type": "solid", "color": [0.1, 0.2, 0.3], "width": 50, "height": 20, "visible": false}],
      "output": {"frames": "5-9", "format": "exr", "background": "none", "prefix": "shot"}})");
    const minihost::Composition& comp = *scene.composition;
    EXPECT_TRUE(comp.timeScale == 30000u && comp.timeStep == 1001);  // 29.97 is the NTSC rate 30000/1001
    ASSERT_EQ(comp.layerCount(), 3);
    EXPECT_EQ(comp.layer(0).objectType(), minihost::ObjectType::Light);
    EXPECT_TRUE(comp.layer(0).lightColor.green == 128.0 / 255.0 && comp.layer(0).lightIntensity.at(0) == 250.0);
    const minihost::Layer& effect = *comp.effectLayer();
    EXPECT_NEAR(effect.startSeconds, 10 * 1001.0 / 30000.0, 1e-12);
    EXPECT_TRUE(!effect.masks.at(0).isClosed && effect.masks[0].vertices.at(1).outTangentY == 1.0);
    // Anchor at the layer's centre, position at the composition's centre.
    EXPECT_TRUE(effect.anchor.at(0) == (Vec3{100, 50, 0}) && effect.position.at(0) == (Vec3{100, 50, 0}));
    EXPECT_TRUE(comp.layer(2).name == "Solid 3" && !comp.layer(2).isVisible && comp.layer(2).solidColor.blue == 0.3);
    ASSERT_TRUE(scene.output.frames.has_value());
    EXPECT_TRUE(scene.output.frames->first == 5 && scene.output.frames->count() == 5);
    EXPECT_EQ(scene.output.format, OutputFormat::ExrHalf);
    EXPECT_TRUE(scene.output.hasBackground && !scene.output.background.has_value() && scene.output.prefix == "shot");
}

TEST(SceneFile, KeysInFramesOrSecondsInterpolateLinearlyOrHold) {
    const Scene scene = parse(R"({
      "composition": {"width": 100, "height": 50, "frameRate": 25, "duration": 50},
      "layers": [
        {"type": "light", "position": {"keys": [{"frame": 40, "value": [0, 0, 0]}, {"frame": 0, "value": [0, 0, 0]},
                                                {"time": 1.0, "value": [100, 50, -20], "interpolation": "hold"}]}},
        {"type": "effect"}]})");
    const minihost::Animated<Vec3>& position = scene.composition->layer(0).position;
    // The first key's value before it, linear between keys given out of order, held until frame 40
    // (1.6 s), the last key's value after it.
    EXPECT_EQ(std::tuple(position.keyCount(), position.at(-1.0).x, position.at(0.25).x, position.at(1.5).y,
                         position.at(1.6).x, position.at(100.0).x),
              std::tuple(3u, 0.0, 25.0, 50.0, 0.0, 0.0));
}

TEST(SceneFile, ImageAndTextLayersAreHandedOverAndCompositedAtTheirBounds) {
    const Scene scene = parse(R"({"composition": {"width": 10, "height": 5},
        "layers": [{"type": "effect"}, {"type": "text", "file": "title.png", "contentMargin": 2, "position": [5, 2.5]},
                   {"type": "image", "name": "Plain", "file": "title.png", "visible": false}]})");
    const minihost::Layer& text = scene.composition->layer(1);
    const minihost::Layer& image = *scene.composition->findByName("Plain");
    EXPECT_EQ(std::tuple(text.objectType(), image.objectType(), minihost::layerContentPixels(image).width),
              std::tuple(minihost::ObjectType::Text, minihost::ObjectType::AudioVisual, 6));
    // The text's content is its glyphs inside a transparent margin of 2.
    const minihost::RgbaImage content = minihost::layerContentPixels(text);
    ASSERT_TRUE(content.width == 10 && content.height == 7);
    EXPECT_EQ(std::tuple(content.at(2, 2)[3], content.at(1, 1)[3]), std::tuple(1.0f, 0.0f));

    // Composited at its bounds (centred at (5, 2.5), its (0, 0) lands at (2, 1)), under the
    // effect's pixels: half-covering red over the green pixel, a quarter of green over nothing.
    minihost::RgbaImage effect(10, 5);
    effect.at(2, 1)[0] = 0.5f, effect.at(2, 1)[3] = 0.5f;
    effect.at(9, 4)[1] = 0.25f, effect.at(9, 4)[3] = 0.25f;
    // The glyph shows through half; on black every pixel is opaque.
    const minihost::RgbaImage frame = minihost::compositeFrame(*scene.composition, 0.0, &effect, std::nullopt);
    EXPECT_EQ(std::tuple(frame.at(2, 1)[0], frame.at(2, 1)[1], frame.at(2, 1)[3], frame.at(9, 4)[1], frame.at(9, 4)[3],
                         frame.at(3, 1)[3]),
              std::tuple(0.5f, 0.5f, 1.0f, 0.25f, 0.25f, 0.0f));
    const minihost::RgbaImage onBlack = minihost::compositeFrame(*scene.composition, 0.0, &effect, minihost::Rgb{0, 0, 0});
    EXPECT_EQ(std::tuple(onBlack.at(3, 1)[3], onBlack.at(9, 4)[1]), std::tuple(1.0f, 0.25f));
}

TEST(SceneFile, ResizingScalesPositionsMasksAndTheDefaultCamera) {
    Scene scene = parse(R"({"composition": {"width": 200, "height": 100},
        "layers": [{"type": "camera", "start": 30}, {"type": "light", "position": [20, 10, -40]},
                   {"type": "effect", "masks": [{"vertices": [[20, 10], [40, 10]]}]}]})");
    scene.resize(100, 200);
    const minihost::Composition& comp = *scene.composition;
    const minihost::EffectCamera before = comp.effectCamera(0.0);  // the default camera until frame 30
    EXPECT_NEAR(before.distance, 139.0, 1e-9);  // 1.39 × the new width, centred on the new frame
    EXPECT_TRUE(std::fabs(before.matrix.m[3][0] - 50.0) < 1e-9 && std::fabs(before.matrix.m[3][1] - 100.0) < 1e-9);
    EXPECT_TRUE(comp.layer(1).position.at(0) == (Vec3{10, 20, -20}));  // depth with the width
    const minihost::MaskVertex& vertex = comp.effectLayer()->masks[0].vertices[1];
    EXPECT_TRUE(comp.effectLayer()->height == 200 && vertex.x == 20 && vertex.y == 20);
    EXPECT_EQ(std::tuple(scene.pointScaleX, scene.pointScaleY), std::tuple(0.5, 2.0));
}

}  // namespace
}  // namespace cli
