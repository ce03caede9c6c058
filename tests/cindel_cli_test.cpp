// The cindel command end to end, run as a separate process against the built plug-in: scene
// parameters and presets as they reach the effect, tiny renders to each format read back, a chunk
// equal to the same frames of one run, the example scenes, and the exit codes and messages of bad
// command lines, and what a full disk or an interrupted run leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "cli_runner.h"
#include "minihost/host.h"
#include "tools/errors.h"
#include "tools/image_io.h"
#include "tools/param_apply.h"
#include "tools/scene.h"
#include "tools/work_estimate.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

using CindelCli = CindelRun;

// In this process: a scene's parameters, the scene's preset and --set reach the effect's instance.
TEST(SceneParameters, ReachTheInstanceAsStreamsWithKeysLayersAndThePresetFirst) {
    Scene scene = parseScene(R"json({
      "composition": {"width": 200, "height": 100, "frameRate": 25, "duration": 100},
      "preset": "Burn Iris (Source Layer)",
      "layers": [
        {"type": "effect", "start": 25, "params": {
          "Burn Progress": {"keys": [{"frame": 25, "value": 0}, {"frame": 50, "value": 60, "interpolation": "hold"},
                                     {"frame": 75, "value": 100}]},
          "Gamma": 2, "Invert": true, "Source Position": [150, 80], "Source Layer": "Logo",
          "Color/Fire/Source": "#102030"}},
        {"type": "solid", "name": "Logo", "color": "white", "width": 20, "height": 10}]})json",
                             "p.json", "");
    scene.resize(100, 50);  // halves every position, the point parameter's too
    std::vector<ParamSetting> settings = scene.params;
    settings.push_back(parseSetOption("Intensity=3"));

    const std::unique_ptr<minihost::Host> host = minihost::Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    minihost::Instance& instance = host->addInstance(100, 50);
    const int changesBefore = host->commandCount(PF_Cmd_USER_CHANGED_PARAM);
    const std::vector<LayerBinding> bindings = applyParamSettings(*host, instance, scene, settings);
    const auto at = [&](int index, int frame) { return instance.valueAt(index, minihost::HostTime{frame, 25}); };

    // Keys in composition frames land in the layer's time (it starts at frame 25) and replace the
    // preset's own: before the keys, linear (10/25 of the way to 60), held, after the keys.
    EXPECT_EQ(instance.param(51).keyframeCount(), 3u);
    for (const auto& [frame, value] : {std::pair{-10, 0.0}, {10, 24.0}, {49, 60.0}, {90, 100.0}})
        EXPECT_DOUBLE_EQ(at(51, frame).u.fs_d.value, value) << "layer frame " << frame;
    EXPECT_EQ(at(49, 0).u.pd.value, 5);             // Burn Mode: Iris, from the preset
    EXPECT_DOUBLE_EQ(at(83, 0).u.fs_d.value, 2.0);  // Gamma: the scene's, not the preset's
    EXPECT_DOUBLE_EQ(at(84, 0).u.fs_d.value, 3.0);  // Intensity: --set's
    EXPECT_TRUE(at(11, 0).u.bd.value == 1 && at(81, 0).u.cd.value.green == 0x20);  // Invert, the hex colour
    EXPECT_TRUE(at(16, 0).point[0] == 75.0 && at(16, 0).point[1] == 40.0);
    // The supervised Preset went first and was reported to the effect, once.
    EXPECT_EQ(host->commandCount(PF_Cmd_USER_CHANGED_PARAM), changesBefore + 1);
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_TRUE(bindings[0].index == 5 && bindings[0].layerId == scene.composition->findByName("Logo")->id);
    host->shutdown();
}

TEST_F(CindelCli, EachFormatReadsBackAndAChunkEqualsTheSameFramesOfOneRun) {
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device";
    const std::string scene = tinyScene();
    const auto render = [&](std::vector<std::string> args, const std::string& out) {
        args.insert(args.begin(), {"render", scene, "--out", path(out)});
        const Outcome run = cindel(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.err;
    };
    EXPECT_CONTAINS(render({"--frames", "8-9"}, "chunk"), "frame 2/2 (#9)");
    render({"--frames", "5-9"}, "whole");
    EXPECT_EQ(entries(path("chunk")), (std::vector<std::string>{"frame_0008.png", "frame_0009.png"}));
    for (const char* name : {"/frame_0008.png", "/frame_0009.png"})
        EXPECT_EQ(slurp(path("whole") + name), slurp(path("chunk") + name)) << name;

    // Transparent around the fire, covered inside it: alpha made it through, at 8 and 16 bits.
    render({"--frames", "9", "--format", "png16"}, "deep");
    for (const int depth : {8, 16}) {
        const PngPixels png = readPng(path(depth == 8 ? "chunk" : "deep") + "/frame_0009.png");
        ASSERT_TRUE(png.width == 64 && png.height == 36 && png.bitDepth == depth) << depth;
        std::vector<int> alpha;
        for (std::size_t i = 3; i < png.samples.size(); i += 4) alpha.push_back(png.samples[i]);
        EXPECT_EQ(*std::min_element(alpha.begin(), alpha.end()), 0) << depth;
        EXPECT_GT(*std::max_element(alpha.begin(), alpha.end()), (1 << depth) / 8) << depth;
    }

    // Over a black background every pixel is opaque, in float EXR.
    render({"--frames", "9", "--format", "exr32", "--background", "black"}, "exr");
    const ExrPixels exr = readExr(path("exr") + "/frame_0009.exr");
    EXPECT_FALSE(exr.isHalf);
    float brightest = 0;
    for (std::size_t i = 0; i < exr.rgba.size(); i += 4) {
        EXPECT_EQ(exr.rgba[i + 3], 1.0f) << "pixel " << i / 4;
        brightest = std::max(brightest, exr.rgba[i]);
    }
    EXPECT_GT(brightest, 0.1f);
}

TEST_F(CindelCli, EveryExampleSceneRenders) {
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(CINDEL_EXAMPLES_DIR)) {
        if (e.path().extension() != ".json") continue;
        const Outcome run = cindel({"render", e.path().string(), "--size", "64x36", "--frames", "0", "--quality",
                                    "Draft", "--set", "Sim Mode=Source Only", "--set", "Voxel Size=Large", "--out",
                                    path("examples")});
        EXPECT_EQ(run.exitCode, 0) << e.path() << "\n" << run.err;
        ++count;
    }
    EXPECT_GE(count, 5u);
}

TEST_F(CindelCli, AnUnwritableOutputFolderFailsWithExitOneAndLeavesNothing) {
    std::ofstream(path("plain")) << "a file, not a folder";
    const Outcome run = cindel({"render", tinyScene(), "--frames", "9", "--out", path("plain") + "/frames"});
    EXPECT_EQ(run.exitCode, kExitRuntimeFailure);
    EXPECT_CONTAINS(run.err, "plain/frames\": cannot create it");
    fs::create_directories(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const Outcome locked = cindel({"render", tinyScene(), "--frames", "9", "--out", path("locked")});
    if (geteuid() != 0) {  // permissions do not stop root
        EXPECT_EQ(locked.exitCode, kExitRuntimeFailure);
        EXPECT_CONTAINS(locked.err, "cannot write in it");
        EXPECT_TRUE(fs::is_empty(dir_ / "locked"));
    }
}

// Every refusal before the first frame, with its exit status and the words the user reads. "SCENE"
// stands for the row's scene file (the tiny scene unless the row gives its own text).
TEST_F(CindelCli, BadCommandLinesAndScenesExitWithTheirStatusAndReason) {
    const struct { std::vector<std::string> args; int exitCode; const char* words; const char* sceneText = nullptr; }
        cases[] = {
        {{}, kExitUsage, "render"},
        {{"scene"}, kExitSuccess, "\"width\": 960"},
        {{"render", "--fps", "24"}, kExitUsage, "unknown option \"--fps\""},
        {{"render", "--frames", "10-2"}, kExitUsage, "--frames: the range 10-2 ends before it starts"},
        {{"render", "SCENE", "--frames", "5-10"}, kExitUsage, "the composition has frames 0 to 9"},
        {{"render", "--size", "64by36"}, kExitUsage, "--size"},
        {{"render", "--format", "gif"}, kExitUsage, "gif"},
        {{"render", "SCENE", "--frames", "0", "--format", "none"}, kExitUsage, "--format none writes no images"},
        {{"render", "SCENE", "--set", "Vorticity=31"}, kExitUsage,
         "--set \"Vorticity=31\": parameter 57 \"Vorticity\": 31 is outside its range 0 to 30"},
        {{"render", "SCENE", "--set", "Turbulence=40"}, kExitUsage, "\"Turbulence\" is ambiguous"},
        {{"render", "SCENE", "--set", "Burn Progres=10"}, kExitUsage, "nearest names: \"Burn Progress\""},
        {{"render", "SCENE", "--quality", "Fast"}, kExitUsage,
         "expected one of \"Draft\", \"Normal\", \"High\", \"Ultra\""},
        {{"render", "SCENE", "--preset", "Burn Everything"}, kExitUsage, "--preset \"Burn Everything\""},
        {{"render", "SCENE"}, kExitUsage, "bad.json: layers[0].params[\"Turbulance\"]: unknown parameter",
         R"({"layers": [{"type": "effect", "params": {"Turbulance": 3}}]})"},
        {{"render", "SCENE"}, kExitUsage, "bad.json: not valid JSON: number overflow",
         R"({"composition": {"width": 64, "height": 1E400}})"},
        // A run that cannot finish in a day is refused before its first frame.
        {{"render", "SCENE", "--quality", "High"}, kExitUsage, "bad.json: 10000000 frames of 1920 x 1080",
         R"({"composition": {"width": 1920, "height": 1080, "duration": 10000000},
             "layers": [{"type": "effect", "params": {"Voxel Size": "Tiny"}}]})"},
        {{"info", "--plugin", "nothing.so"}, kExitRuntimeFailure, "nothing.so"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a == "SCENE") a = c.sceneText ? writeFile("bad.json", c.sceneText) : tinyScene();
        if (!args.empty() && args[0] == "render") args.insert(args.end(), {"--out", path("out")});
        const Outcome run = cindel(args);
        SCOPED_TRACE(c.words);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_CONTAINS(run.out + run.err, c.words);
    }
    EXPECT_TRUE(!fs::exists(path("out")) || fs::is_empty(path("out"))) << "a refused run wrote something";
    // The same parameters set right render; the index form reaches the ambiguous name.
    const Outcome fine = cindel({"render", tinyScene(), "--frames", "9", "--out", path("ok"), "--set", "#58=40",
                                 "--set", "Turbulence/Turbulence=45", "--quality", "draft", "--preset",
                                 "Burn Iris (Source Layer)"});
    EXPECT_EQ(fine.exitCode, 0) << fine.err;
}

// The first frame of a run re-simulates from frame 0, but never more than the effect's 600 steps.
TEST(WorkEstimate, TheFirstFrameCostsAtMostTheEffectsCapOf600Steps) {
    RenderWork late{5000, 5009, 64, 36};
    RenderWork early{10, 19, 64, 36};
    EXPECT_EQ(std::pair(estimateWork(late).simulationSteps, estimateWork(early).simulationSteps),
              std::pair(600.0 + 9, 11.0 + 9));
}

// ---- The disk and interruptions. The runs find no OpenCL library (the no-GPU fill), so nothing
// but the frames writes to the disk and a frame takes milliseconds.

// cindel started in the background; `limitBlocks` >= 0 caps the size of any file it writes (in
// 1024-byte blocks, as a full disk would), with the signal that cap raises ignored.
pid_t startCindel(const std::vector<std::string>& args, long limitBlocks = -1) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("OCL_ICD_VENDORS", "/nonexistent", 1);
    if (limitBlocks >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(limitBlocks) * 1024, rlim_t(limitBlocks) * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv{const_cast<char*>(CINDEL_EXE_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    execv(CINDEL_EXE_PATH, argv.data());
    _exit(127);
}

// Every entry must be a complete frame of the size asked for; nothing hidden may be left over.
void expectOnlyCompleteFrames(const fs::path& folder, int width, int height) {
    for (const std::string& name : entries(folder)) {
        ASSERT_NE(name[0], '.') << "a temporary file was left behind: " << name;
        const PngPixels png = readPng((folder / name).string());
        EXPECT_EQ(png.width, width) << name;
        EXPECT_EQ(png.height, height) << name;
    }
}

int countEntries(const fs::path& folder) {
    std::error_code error;
    return int(std::distance(fs::directory_iterator(folder, error), fs::directory_iterator()));
}

TEST_F(CindelCli, AFullDiskFailsTheRunWithExitOneAndLeavesNoPartialFrame) {
    for (const char* format : {"png", "png16", "exr", "exr32"}) {
        const fs::path out = dir_ / format;
        const pid_t pid = startCindel({"render", "--size", "640x360", "--frames", "0-2", "--format", format,
                                       "--out", out.string()}, 1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitRuntimeFailure) << format << ": " << status;
        EXPECT_TRUE(fs::is_empty(out)) << format << ": " << ::testing::PrintToString(entries(out));
    }
}

TEST_F(CindelCli, AnInterruptedRunLeavesOnlyCompleteFramesAndTheNextRunReplacesThemAtomically) {
    const std::vector<std::string> longRun = {"render", "--size", "640x360", "--frames", "0-89", "--out", path("out")};
    for (const int signal : {SIGINT, SIGTERM, SIGKILL}) {
        const pid_t pid = startCindel(longRun);
        for (int wait = 0; wait < 3000 && countEntries(dir_ / "out") < 4; ++wait) usleep(10000);
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        if (signal != SIGKILL) expectOnlyCompleteFrames(dir_ / "out", 640, 360);
    }

    // What a killed run leaves: hidden temporaries of a writer that is gone, which the next run into
    // the folder removes, and one of a writer still alive (this process), which it must not touch.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string stale = ".frame_0000.png.tmp-" + std::to_string(gone);
    const std::string live = ".frame_0001.png.tmp-" + std::to_string(getpid());
    std::ofstream(dir_ / "out" / stale) << "half a frame";
    std::ofstream(dir_ / "out" / live) << "being written";
    const auto inode = [&](const char* name) {
        struct stat info{};
        return stat((dir_ / "out" / name).c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t before = inode("frame_0000.png");
    ASSERT_NE(before, 0u);
    const pid_t rerun = startCindel({"render", "--size", "640x360", "--frames", "0-1", "--out", path("out")});
    int status = 0;
    ASSERT_EQ(waitpid(rerun, &status, 0), rerun);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(dir_ / "out" / stale));
    EXPECT_TRUE(fs::exists(dir_ / "out" / live));
    EXPECT_NE(inode("frame_0000.png"), before) << "a frame is replaced by a rename, never rewritten in place";
    fs::remove(dir_ / "out" / live);
    expectOnlyCompleteFrames(dir_ / "out", 640, 360);
}

}  // namespace
}  // namespace cli
