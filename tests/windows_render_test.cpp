// The Windows build end to end, from the Linux suite: cindel.exe renders under Wine (whose
// OpenCL.dll forwards to this machine's PoCL) and its frames are held against the Linux cindel's
// frames of the same scene, both decoded here with the Linux build's reader. The kernels run on
// the same device and the host-side arithmetic is the same C++; the frames must be equal bit for
// bit. The shipping plug-in (no CPU fallback) must find no device under Wine and give every
// frame the no-GPU fill, exiting cleanly.
//
// Needs build-windows/ and build-windows-cpu/ (`make windows windows-test-build`); skips, saying
// why, when they are missing or when Wine cannot start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "tools/image_io.h"

namespace {

namespace fs = std::filesystem;

const fs::path kShippingExe = fs::path(CINDEL_WINDOWS_BUILD_DIR) / "cindel.exe";
const fs::path kFallbackExe = fs::path(CINDEL_WINDOWS_TEST_BUILD_DIR) / "cindel.exe";

// A small render of the default scene whose last frames show the fire (it rises from frame 5), as
// 32-bit float EXR so that every bit of the effect's output is compared, not its 8-bit rounding.
// PNG and half EXR encoding is held against the Linux codecs by image_codec_test.
const std::vector<std::string> kRenderArgs = {"render",  "--size", "160x90", "--frames",     "4-6",  "--quality",
                                              "Draft",   "--format", "exr32", "--background", "none"};

class WindowsRender : public cli::CindelRun {
protected:
    void SetUp() override {
        cli::CindelRun::SetUp();
        if (std::string(CINDEL_WINE).empty()) GTEST_SKIP() << "Wine is not installed (scripts/install-deps installs wine64)";
        const std::string probe = "WINEDEBUG=-all " + cli::shellQuoted(CINDEL_WINE) + " cmd /c exit 0 >" +
                                  cli::shellQuoted((dir_ / "wine-probe").string()) + " 2>&1";
        if (std::system(probe.c_str()) != 0)
            GTEST_SKIP() << "Wine cannot start: " << cli::slurp(dir_ / "wine-probe");
    }

    // Runs a command line under Wine in the test's folder; returns its exit code, keeps its output.
    int wine(const fs::path& exe, std::vector<std::string> args, const std::string& logName) {
        std::string command = "cd " + cli::shellQuoted(dir_.string()) + " && WINEDEBUG=-all " + cli::shellQuoted(CINDEL_WINE) +
                              " " + cli::shellQuoted(exe.string());
        for (const std::string& a : args) command += ' ' + cli::shellQuoted(a);
        command += " >" + cli::shellQuoted((dir_ / (logName + ".out")).string()) + " 2>" +
                   cli::shellQuoted((dir_ / (logName + ".err")).string());
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A program's stderr, with the line ends the Windows C runtime writes in text mode made plain.
    std::string log(const std::string& logName) {
        std::string text = cli::slurp(dir_ / (logName + ".err"));
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    static std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

TEST_F(WindowsRender, FallbackPluginUnderWineRendersTheLinuxFrames) {
    if (!fs::exists(kFallbackExe)) GTEST_SKIP() << kFallbackExe << " is not built (make windows-test-build)";
    const fs::path linuxDir = dir_ / "linux", windowsDir = dir_ / "windows";
    const cli::Outcome onLinux = cindel(with(kRenderArgs, {"--out", linuxDir.string()}));
    ASSERT_EQ(onLinux.exitCode, 0) << onLinux.err;
    ASSERT_EQ(wine(kFallbackExe, with(kRenderArgs, {"--out", windowsDir.string(), "--verbose"}), "render"), 0)
        << log("render");
    // The effect must have run on PoCL, not handed out the no-GPU fill.
    EXPECT_EQ(log("render").find("no usable"), std::string::npos) << log("render");

    float brightest = 0;
    for (int frame = 4; frame <= 6; ++frame) {
        const std::string name = "frame_000" + std::to_string(frame) + ".exr";
        const cli::ExrPixels expected = cli::readExr((linuxDir / name).string());
        const cli::ExrPixels actual = cli::readExr((windowsDir / name).string());
        EXPECT_EQ(actual.channels, expected.channels) << name;
        EXPECT_FALSE(actual.isHalf) << name;
        ASSERT_EQ(actual.width, expected.width) << name;
        ASSERT_EQ(actual.height, expected.height) << name;
        ASSERT_EQ(actual.rgba.size(), expected.rgba.size()) << name;
        std::size_t differing = 0;
        double maxDifference = 0;
        for (std::size_t i = 0; i < expected.rgba.size(); ++i) {
            if (std::memcmp(&actual.rgba[i], &expected.rgba[i], sizeof(float)) == 0) continue;
            ++differing;
            maxDifference = std::max(maxDifference, std::fabs(double(actual.rgba[i]) - double(expected.rgba[i])));
        }
        EXPECT_EQ(differing, 0u) << name << ": " << differing << " of " << expected.rgba.size()
                                 << " values differ, by at most " << maxDifference;
        for (std::size_t i = 0; i < expected.rgba.size(); ++i)
            if (i % 4 != 3) brightest = std::max(brightest, expected.rgba[i]);
    }
    EXPECT_GT(brightest, 0.1f) << "no visible fire in frames 4-6: the comparison proves nothing";
}

TEST_F(WindowsRender, ShippingPluginUnderWineGivesTheNoGpuFill) {
    if (!fs::exists(kShippingExe)) GTEST_SKIP() << kShippingExe << " is not built (make windows)";
    ASSERT_EQ(wine(kShippingExe, {"render", "--size", "64x36", "--frames", "0-1", "--out", "fill"}, "render"), 0)
        << log("render");
    for (const char* name : {"frame_0000.png", "frame_0001.png"}) {
        const cli::PngPixels frame = cli::readPng((dir_ / "fill" / name).string());
        ASSERT_EQ(frame.width, 64);
        ASSERT_EQ(frame.height, 36);
        // The fill is opaque dark red (60 / 255), straight into the 8-bit PNG.
        std::size_t other = 0;
        for (std::size_t i = 0; i < frame.samples.size(); i += 4) {
            other += !(frame.samples[i] == 60 && frame.samples[i + 1] == 0 && frame.samples[i + 2] == 0 &&
                       frame.samples[i + 3] == 255);
        }
        EXPECT_EQ(other, 0u) << name << ": pixels other than the no-GPU fill";
    }
}

TEST_F(WindowsRender, RefusesWhatLinuxRefusesWithTheSameMessages) {
    if (!fs::exists(kShippingExe)) GTEST_SKIP() << kShippingExe << " is not built (make windows)";
    const std::vector<std::vector<std::string>> badRuns = {
        {"render", "--quality", "Best"},
        {"render", "--size", "0x90"},
        {"render", "--set", "Turbulence=45"},
        {"render", "--set", "Fuel Amont=160"},
        {"render", "--frames", "9-3"},
        {"frobnicate"},
    };
    int index = 0;
    for (const auto& args : badRuns) {
        const cli::Outcome onLinux = cindel(args);
        const std::string name = "bad" + std::to_string(index++);
        const int windowsExit = wine(kShippingExe, args, name);
        EXPECT_NE(onLinux.exitCode, 0) << "cindel " << args.back();
        EXPECT_EQ(windowsExit, onLinux.exitCode) << "cindel " << args.back();
        EXPECT_EQ(log(name), onLinux.err) << "cindel " << args.back();
    }
}

}  // namespace
