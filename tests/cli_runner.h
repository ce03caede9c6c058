// Runs the built cindel command as a separate process, the way a user does, in a fresh folder per
// test, and collects its exit code and both output streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

namespace cli {

struct Outcome { int exitCode = -1; std::string out, err; };

inline std::string shellQuoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the plug-in finds an OpenCL device, asked as its start-up asks; without one it renders
// the no-GPU fill, and tests about fire or fields skip.
inline bool machineHasOpenClDevice() {
    if (!cindel::loadClApi()) return false;
    cindel::GpuRuntime probe;
    return cindel::chooseDevice(probe, cindel::kCpuFallbackBuiltIn);
}

// A fixture with its own temporary folder (removed afterwards) and the command at hand.
class CindelRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("cindel-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        // A folder a test made unwritable must be writable again to be removed.
        std::error_code ignored;
        std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir_);
    }

    Outcome cindel(const std::vector<std::string>& args) {
        std::string command = shellQuoted(CINDEL_EXE_PATH);
        for (const std::string& a : args) command += ' ' + shellQuoted(a);
        command += " >" + shellQuoted(path("stdout")) + " 2>" + shellQuoted(path("stderr"));
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(path("stdout")), slurp(path("stderr"))};
    }

    std::string writeFile(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return path(name);
    }

    // 10 frames of 64 × 36 at Draft, Voxel Size Large, Sim Mode "Source Only": well under a second a
    // frame on PoCL, with fire showing from frame 5 or so.
    std::string tinyScene() {
        return writeFile("tiny.json", R"({
          "composition": {"width": 64, "height": 36, "frameRate": 30, "duration": 10},
          "layers": [{"type": "effect", "params": {"Quality": "Draft", "Voxel Size": "Large",
                      "Sim Mode": "Source Only", "Source Position": [32, 24, 0]}}],
          "output": {"background": "none"}})");
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

}  // namespace cli
