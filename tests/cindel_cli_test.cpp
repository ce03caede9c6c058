// End-to-end tests of the cindel command, run as a separate process against the built plug-in:
// the parameter table it prints against the effect's own table, tiny renders to PNG and EXR read
// back, chunked renders equal to one run, the example scenes, and the exit codes and messages of
// bad usage, bad scenes and unwritable output.
//
// Renders use a 64 × 36 composition at Draft quality, Voxel Size Large and Sim Mode "Source Only",
// which keeps a frame well under a second on PoCL; frames 8 and 9 are rendered because the fire
// needs a few frames to show.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "minihost/host.h"
#include "params/param_list.h"
#include "tools/image_io.h"
#include "tools/param_apply.h"
#include "tools/scene.h"
#include "cli_runner.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

class CindelCli : public CindelRun {
protected:
    // The tiny scene: 10 frames of 64 × 36, fast settings, the source low in the middle.
    std::string tinyScene() {
        return writeScene("tiny.json", R"({
          "composition": {"width": 64, "height": 36, "frameRate": 30, "duration": 10},
          "layers": [{"type": "effect", "params": {"Quality": "Draft", "Voxel Size": "Large",
                      "Sim Mode": "Source Only", "Source Position": [32, 24, 0]}}],
          "output": {"background": "none"}})");
    }

    static std::vector<std::string> entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// ---- The parameter table

const char* typeNameOf(cindel::ParamKind kind) {
    switch (kind) {
        case cindel::ParamKind::kGroupStart:
            return "group start";
        case cindel::ParamKind::kGroupEnd:
            return "group end";
        case cindel::ParamKind::kFloatSlider:
            return "float slider";
        case cindel::ParamKind::kPopup:
            return "popup";
        case cindel::ParamKind::kCheckbox:
            return "checkbox";
        case cindel::ParamKind::kColor:
            return "colour";
        case cindel::ParamKind::kPoint3D:
            return "3-D point";
        case cindel::ParamKind::kAngle:
            return "angle";
        case cindel::ParamKind::kLayer:
            return "layer";
    }
    return "?";
}

TEST_F(CindelCli, ParamsJsonListsTheEffectsTable) {
    Outcome run = cindel({"params", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json table = nlohmann::json::parse(run.out);
    ASSERT_EQ(table["count"], 136);
    const nlohmann::json& rows = table["parameters"];
    auto entries = cindel::paramEntries();
    ASSERT_EQ(rows.size(), 136u);
    ASSERT_EQ(entries.size(), 136u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const cindel::ParamEntry& e = entries[i];
        const nlohmann::json& row = rows[i];
        SCOPED_TRACE(::testing::Message() << "parameter " << e.index);
        EXPECT_EQ(row["index"], e.index);
        EXPECT_EQ(row["id"], e.index);
        EXPECT_EQ(row["name"], std::string(e.name));
        EXPECT_EQ(row["type"], typeNameOf(e.kind));
        EXPECT_EQ(row["flags"], e.flags);
        EXPECT_EQ(row["uiFlags"], e.uiFlags);
        switch (e.kind) {
            case cindel::ParamKind::kFloatSlider:
                EXPECT_EQ(static_cast<float>(row["min"].get<double>()), e.minValue);
                EXPECT_EQ(static_cast<float>(row["max"].get<double>()), e.maxValue);
                EXPECT_EQ(static_cast<float>(row["default"].get<double>()), static_cast<float>(e.defaultValue));
                EXPECT_EQ(row["decimals"], e.decimals);
                break;
            case cindel::ParamKind::kPopup: {
                EXPECT_EQ(row["default"], static_cast<int>(e.defaultValue));
                std::string choices;
                for (const auto& c : row["choices"]) {
                    if (!choices.empty()) choices += '|';
                    choices += c.get<std::string>();
                }
                EXPECT_EQ(choices, e.choices);
                EXPECT_EQ(row["choices"].size(), static_cast<std::size_t>(e.numChoices));
                break;
            }
            case cindel::ParamKind::kCheckbox:
                EXPECT_EQ(row["label"], std::string(e.choices));
                break;
            case cindel::ParamKind::kColor: {
                char hex[8];
                std::snprintf(hex, sizeof hex, "#%06X", e.rgb);
                EXPECT_EQ(row["default"], hex);
                break;
            }
            default:
                break;
        }
    }
    EXPECT_EQ(rows[57]["group"], "Turbulence");  // index 58, the slider inside the group of the same name
    EXPECT_EQ(rows[86]["group"], "Color/Fire");  // index 87
}

TEST_F(CindelCli, ParamsTableAndInfoPrint) {
    Outcome params = cindel({"params"});
    ASSERT_EQ(params.exitCode, 0) << params.err;
    EXPECT_CONTAINS(params.out, "136 parameters");
    EXPECT_CONTAINS(params.out, "Burn Progress");
    Outcome info = cindel({"info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_CONTAINS(info.out, "OpenCL:");
    EXPECT_CONTAINS(info.out, "Chosen:");
    EXPECT_CONTAINS(info.out, "Kernels:  global set-up");
}

// ---- Scene parameters on the effect's instance, in this process

TEST(SceneParameters, ReachTheInstanceAsStreamsWithKeyframesAndLayers) {
    Scene scene = parseScene(R"({
      "composition": {"width": 200, "height": 100, "frameRate": 25, "duration": 100},
      "layers": [
        {"type": "effect", "start": 25, "params": {
          "Burn Progress": {"keys": [{"frame": 25, "value": 0}, {"frame": 50, "value": 60, "interpolation": "hold"},
                                     {"frame": 75, "value": 100}]},
          "Quality": "Draft", "Invert": true, "Source Position": [150, 80], "Source Layer": "Logo",
          "Color/Fire/Source": "#102030", "Preset": "Custom"}},
        {"type": "solid", "name": "Logo", "color": "white", "width": 20, "height": 10}
      ]})",
                             "p.json", "");
    scene.resize(100, 50);  // halves every position, including the point parameter

    std::unique_ptr<minihost::Host> host = minihost::Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    minihost::Instance& instance = host->addInstance(100, 50);
    const int changesBefore = host->commandCount(PF_Cmd_USER_CHANGED_PARAM);
    std::vector<LayerBinding> bindings = applyParamSettings(*host, instance, scene, scene.params);

    // Keys in composition frames land in the layer's time (it starts at frame 25).
    auto progressAt = [&](int layerFrame) {
        return instance.valueAt(51, minihost::HostTime{layerFrame, 25}).u.fs_d.value;
    };
    EXPECT_DOUBLE_EQ(progressAt(-10), 0.0);  // before the first key
    EXPECT_DOUBLE_EQ(progressAt(10), 24.0);  // linear: 10/25 of the way to 60
    EXPECT_DOUBLE_EQ(progressAt(30), 60.0);  // hold
    EXPECT_DOUBLE_EQ(progressAt(49), 60.0);
    EXPECT_DOUBLE_EQ(progressAt(50), 100.0);
    EXPECT_DOUBLE_EQ(progressAt(90), 100.0);  // after the last key
    EXPECT_EQ(instance.param(51).keyframeCount(), 3u);

    EXPECT_EQ(instance.valueAt(120, minihost::HostTime{0, 25}).u.pd.value, 1);  // Quality: Draft
    EXPECT_EQ(instance.valueAt(11, minihost::HostTime{0, 25}).u.bd.value, 1);   // Invert
    minihost::ParamValue source = instance.valueAt(16, minihost::HostTime{0, 25});
    EXPECT_DOUBLE_EQ(source.point[0], 75.0);
    EXPECT_DOUBLE_EQ(source.point[1], 40.0);
    EXPECT_EQ(instance.valueAt(81, minihost::HostTime{0, 25}).u.cd.value.green, 0x20);
    // The supervised Preset went first and was reported to the effect.
    EXPECT_EQ(host->commandCount(PF_Cmd_USER_CHANGED_PARAM), changesBefore + 1);
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_EQ(bindings[0].index, 5);
    EXPECT_EQ(bindings[0].layerId, scene.composition->findByName("Logo")->id);
    host->shutdown();
}

// ---- Rendering

TEST_F(CindelCli, TinySceneRendersPngThatReadsBackWithAlpha) {
    Outcome run = cindel({"render", tinyScene(), "--frames", "8-9", "--out", path("png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_CONTAINS(run.err, "frame 1/2 (#8)");
    EXPECT_CONTAINS(run.err, "frame 2/2 (#9)");
    EXPECT_CONTAINS(run.err, "left");
    EXPECT_CONTAINS(run.err, "cindel: 2 frames in");
    EXPECT_EQ(entries(path("png")), (std::vector<std::string>{"frame_0008.png", "frame_0009.png"}));
    for (const char* name : {"frame_0008.png", "frame_0009.png"}) {
        PngPixels png = readPng(path("png") + "/" + name);
        EXPECT_EQ(png.width, 64);
        EXPECT_EQ(png.height, 36);
        EXPECT_EQ(png.bitDepth, 8);
        int lowest = 255, highest = 0;
        for (std::size_t i = 3; i < png.samples.size(); i += 4) {
            lowest = std::min<int>(lowest, png.samples[i]);
            highest = std::max<int>(highest, png.samples[i]);
        }
        // Transparent around the fire and covered inside it: alpha made it through.
        EXPECT_EQ(lowest, 0) << name;
        EXPECT_GT(highest, 32) << name;
    }

    Outcome deep = cindel({"render", tinyScene(), "--frames", "9-9", "--format", "png16", "--out", path("png16")});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    PngPixels png16 = readPng(path("png16") + "/frame_0009.png");
    EXPECT_EQ(png16.bitDepth, 16);
    EXPECT_EQ(png16.width, 64);
}

TEST_F(CindelCli, TinySceneRendersExrOverABackground) {
    Outcome run = cindel(
        {"render", tinyScene(), "--frames", "8-9", "--format", "exr", "--background", "black", "--out", path("exr")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExrPixels exr = readExr(path("exr") + "/frame_0009.exr");
    EXPECT_EQ(exr.width, 64);
    EXPECT_EQ(exr.height, 36);
    EXPECT_TRUE(exr.isHalf);
    float brightest = 0;
    for (std::size_t i = 0; i < exr.rgba.size(); i += 4) {
        EXPECT_EQ(exr.rgba[i + 3], 1.0f) << "pixel " << i / 4;  // opaque over the background
        brightest = std::max(brightest, exr.rgba[i]);
    }
    EXPECT_GT(brightest, 0.1f);

    Outcome transparent = cindel({"render", tinyScene(), "--frames", "9", "--format", "exr32", "--out", path("exr32")});
    ASSERT_EQ(transparent.exitCode, 0) << transparent.err;
    ExrPixels premultiplied = readExr(path("exr32") + "/frame_0009.exr");
    EXPECT_FALSE(premultiplied.isHalf);
    float lowest = 1, highest = 0;
    for (std::size_t i = 0; i < premultiplied.rgba.size(); i += 4) {
        lowest = std::min(lowest, premultiplied.rgba[i + 3]);
        highest = std::max(highest, premultiplied.rgba[i + 3]);
    }
    EXPECT_EQ(lowest, 0.0f);
    EXPECT_GT(highest, 0.1f);
}

TEST_F(CindelCli, AChunkEqualsTheSameFramesOfOneRun) {
    Outcome whole = cindel({"render", tinyScene(), "--frames", "5-9", "--out", path("whole")});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    Outcome chunk = cindel({"render", tinyScene(), "--frames", "8-9", "--out", path("chunk")});
    ASSERT_EQ(chunk.exitCode, 0) << chunk.err;
    for (const char* name : {"frame_0008.png", "frame_0009.png"})
        EXPECT_EQ(slurp(path("whole") + "/" + name), slurp(path("chunk") + "/" + name)) << name;
}

TEST_F(CindelCli, ExampleScenesLoadAndRender) {
    std::vector<fs::path> scenes;
    for (const auto& e : fs::directory_iterator(CINDEL_EXAMPLES_DIR))
        if (e.path().extension() == ".json") scenes.push_back(e.path());
    ASSERT_GE(scenes.size(), 5u);
    for (const fs::path& scene : scenes) {
        Outcome run =
            cindel({"render", scene.string(), "--size", "64x36", "--frames", "0", "--quality", "Draft", "--set",
                    "Sim Mode=Source Only", "--set", "Voxel Size=Large", "--out", path("examples"), "--format", "png"});
        EXPECT_EQ(run.exitCode, 0) << scene << "\n" << run.err;
    }
}

// ---- Failures and their exit codes

TEST_F(CindelCli, UnwritableOutputFailsWithExitOneAndLeavesNothing) {
    std::ofstream(path("plain")) << "a file, not a folder";
    Outcome run = cindel({"render", tinyScene(), "--frames", "9", "--out", path("plain") + "/frames"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.err, "plain/frames");
    EXPECT_CONTAINS(run.err, "cannot create it");

    if (geteuid() != 0) {  // permissions do not stop root
        fs::create_directories(dir_ / "locked");
        fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        Outcome locked = cindel({"render", tinyScene(), "--frames", "9", "--out", path("locked")});
        EXPECT_EQ(locked.exitCode, 1);
        EXPECT_CONTAINS(locked.err, "cannot write in it");
        EXPECT_TRUE(fs::is_empty(dir_ / "locked"));
    }

    // A frame whose name is taken by a folder cannot be put in place: the temporary file goes too.
    fs::create_directories(dir_ / "taken" / "frame_0009.png" / "inside");
    Outcome taken = cindel({"render", tinyScene(), "--frames", "9", "--out", path("taken")});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_CONTAINS(taken.err, "frame_0009.png: cannot put the written file in place");
    EXPECT_EQ(entries(dir_ / "taken"), std::vector<std::string>{"frame_0009.png"});
}

TEST_F(CindelCli, BadUsageExitsTwo) {
    EXPECT_EQ(cindel({}).exitCode, 2);
    EXPECT_EQ(cindel({"help"}).exitCode, 0);
    Outcome unknown = cindel({"render", "--fps", "24"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_CONTAINS(unknown.err, "unknown option \"--fps\"");
    Outcome frames = cindel({"render", "--frames", "10-2"});
    EXPECT_EQ(frames.exitCode, 2);
    EXPECT_CONTAINS(frames.err, "--frames: the range 10-2 ends before it starts");
    Outcome past = cindel({"render", tinyScene(), "--frames", "5-10", "--out", path("o")});
    EXPECT_EQ(past.exitCode, 2);
    EXPECT_CONTAINS(past.err, "the composition has frames 0 to 9");
    EXPECT_EQ(cindel({"render", "--size", "64by36"}).exitCode, 2);
    EXPECT_EQ(cindel({"render", "--format", "gif"}).exitCode, 2);
}

TEST_F(CindelCli, BadParametersExitTwoWithTheReason) {
    const std::string scene = tinyScene();
    Outcome range = cindel({"render", scene, "--frames", "9", "--out", path("o"), "--set", "Vorticity=31"});
    EXPECT_EQ(range.exitCode, 2);
    EXPECT_CONTAINS(range.err, "--set \"Vorticity=31\": parameter 57 \"Vorticity\": 31 is outside its range 0 to 30");

    Outcome ambiguous = cindel({"render", scene, "--frames", "9", "--out", path("o"), "--set", "Turbulence=40"});
    EXPECT_EQ(ambiguous.exitCode, 2);
    EXPECT_CONTAINS(ambiguous.err, "\"Turbulence\" is ambiguous");
    EXPECT_CONTAINS(ambiguous.err, "\"Turbulence/Turbulence\"");

    Outcome misspelt = cindel({"render", scene, "--frames", "9", "--out", path("o"), "--set", "Burn Progres=10"});
    EXPECT_EQ(misspelt.exitCode, 2);
    EXPECT_CONTAINS(misspelt.err, "nearest names: \"Burn Progress\"");

    Outcome choice = cindel({"render", scene, "--frames", "9", "--out", path("o"), "--quality", "Fast"});
    EXPECT_EQ(choice.exitCode, 2);
    EXPECT_CONTAINS(choice.err, "expected one of \"Draft\", \"Normal\", \"High\", \"Ultra\"");

    const std::string badScene =
        writeScene("bad.json", R"({"layers": [{"type": "effect", "params": {"Turbulance": 3}}]})");
    Outcome fromScene = cindel({"render", badScene, "--frames", "0", "--out", path("o")});
    EXPECT_EQ(fromScene.exitCode, 2);
    EXPECT_CONTAINS(fromScene.err, "bad.json: layers[0].params[\"Turbulance\"]: unknown parameter");
    EXPECT_CONTAINS(fromScene.err, "\"Turbulence\"");

    // The same parameters set right render; the index form works for the ambiguous name.
    Outcome fine = cindel({"render", scene, "--frames", "9", "--out", path("ok"), "--set", "#58=40", "--set",
                           "Turbulence/Turbulence=45", "--quality", "draft"});
    EXPECT_EQ(fine.exitCode, 0) << fine.err;
}

TEST_F(CindelCli, MissingPluginIsARuntimeFailure) {
    Outcome run = cindel({"info", "--plugin", path("nothing.so")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.err, "nothing.so");
}

TEST_F(CindelCli, BuiltInSceneIsPrintedAsJson) {
    Outcome run = cindel({"scene"});
    ASSERT_EQ(run.exitCode, 0);
    nlohmann::json scene = nlohmann::json::parse(run.out);
    EXPECT_EQ(scene["composition"]["width"], 960);
    EXPECT_EQ(scene["composition"]["height"], 540);
}

// ---- Presets chosen as the host does

TEST(ScenePreset, ComesFirstAndTheSceneAndSetOptionsWinOverIt) {
    Scene scene = parseScene(R"json({
      "composition": {"width": 64, "height": 36, "frameRate": 25, "duration": 10},
      "preset": "Burn Iris (Source Layer)",
      "layers": [{"type": "effect", "params": {"Gamma": 2}}]})json",
                             "preset.json", "");
    std::vector<ParamSetting> settings = scene.params;
    settings.push_back(parseSetOption("Intensity=3"));

    std::unique_ptr<minihost::Host> host = minihost::Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    minihost::Instance& instance = host->addInstance(64, 36);
    const int changesBefore = host->commandCount(PF_Cmd_USER_CHANGED_PARAM);
    applyParamSettings(*host, instance, scene, settings);
    const minihost::HostTime start{0, 25};

    EXPECT_EQ(host->commandCount(PF_Cmd_USER_CHANGED_PARAM), changesBefore + 1);
    EXPECT_EQ(host->rerenderRequests(), 1);
    EXPECT_EQ(instance.valueAt(2, start).u.pd.value, 16);   // the popup keeps the choice
    EXPECT_EQ(instance.valueAt(49, start).u.pd.value, 5);   // Burn Mode: Iris, from the preset
    EXPECT_DOUBLE_EQ(instance.valueAt(83, start).u.fs_d.value, 2.0);  // Gamma: the scene's, not 0.9
    EXPECT_DOUBLE_EQ(instance.valueAt(84, start).u.fs_d.value, 3.0);  // Intensity: --set, not 1.2
    // The preset's own "Burn Progress" keys: 50 at layer time 0 to 100 at 5 s, linear.
    ASSERT_EQ(instance.param(51).keyframeCount(), 2u);
    EXPECT_DOUBLE_EQ(instance.valueAt(51, start).u.fs_d.value, 50.0);
    EXPECT_DOUBLE_EQ(instance.valueAt(51, minihost::HostTime{125, 50}).u.fs_d.value, 75.0);
    EXPECT_DOUBLE_EQ(instance.valueAt(51, minihost::HostTime{6, 1}).u.fs_d.value, 100.0);
    host->shutdown();
}

TEST_F(CindelCli, RenderWithAPresetRuns) {
    Outcome run = cindel({"render", tinyScene(), "--preset", "Burn Iris (Source Layer)", "--frames", "0-0", "--out",
                          path("iris")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(entries(path("iris")), std::vector<std::string>{"frame_0000.png"});

    Outcome unknown = cindel({"render", tinyScene(), "--preset", "Burn Everything", "--out", path("none")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_CONTAINS(unknown.err, "--preset \"Burn Everything\"");
}

TEST_F(CindelCli, PresetsListsEachWithWhatItChangesFromCustom) {
    Outcome run = cindel({"presets", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json list = nlohmann::json::parse(run.out);
    ASSERT_EQ(list["presets"].size(), 16u);
    EXPECT_EQ(list["presets"][0]["name"], "Custom");
    EXPECT_TRUE(list["presets"][0]["changes"].empty());
    const nlohmann::json& iris = list["presets"][15];
    EXPECT_EQ(iris["name"], "Burn Iris (Source Layer)");
    bool sawProgressKeys = false, sawBurnMode = false;
    for (const auto& change : iris["changes"]) {
        if (change["name"] == "Burn Progress")
            sawProgressKeys = change["keyframes"] == "50 at 0 s (linear), 100 at 5 s (linear)";
        if (change["name"] == "Burn Mode") sawBurnMode = change["value"] == "Iris (5)";
    }
    EXPECT_TRUE(sawProgressKeys) << iris.dump(2);
    EXPECT_TRUE(sawBurnMode) << iris.dump(2);

    Outcome text = cindel({"presets"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_CONTAINS(text.out, "16 presets");
    EXPECT_CONTAINS(text.out, "Logo Fire (Source Layer)  (16 changes from Custom)");
}

TEST_F(CindelCli, ParamsMarksTheParametersTheEffectHides) {
    Outcome run = cindel({"params", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json table = nlohmann::json::parse(run.out);
    std::vector<int> hidden;
    for (const auto& row : table["parameters"])
        if (row["hidden"].get<bool>()) hidden.push_back(row["index"].get<int>());
    // At the defaults (Blackbody colour mode): the colour preset, the ramp colours and the fixed set.
    EXPECT_EQ(hidden, (std::vector<int>{12, 24, 26, 78, 81, 82, 126}));

    Outcome text = cindel({"params"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_CONTAINS(text.out, "7 hidden by the effect at the default values");
}

}  // namespace
}  // namespace cli
