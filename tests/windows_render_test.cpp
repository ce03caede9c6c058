// The Windows build seen from the Linux suite: cindel.exe under Wine (whose OpenCL.dll forwards to
// this machine's PoCL) renders a cold frame that must equal the Linux cindel's bit for bit (the
// same kernels on the same device, the same host-side C++), and refuses bad command lines with the
// Linux build's exit codes and words. Skips, saying why, where build-windows/, build-windows-cpu/
// or Wine are missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cli_runner.h"
#include "tools/image_io.h"

namespace {

namespace fs = std::filesystem;

const fs::path kShippingExe = fs::path(CINDEL_WINDOWS_BUILD_DIR) / "cindel.exe";
const fs::path kFallbackExe = fs::path(CINDEL_WINDOWS_TEST_BUILD_DIR) / "cindel.exe";

class WindowsRender : public cli::CindelRun {
protected:
    void SetUp() override {
        cli::CindelRun::SetUp();
        if (std::string(CINDEL_WINE).empty()) GTEST_SKIP() << "Wine is not installed (scripts/install-deps installs wine64)";
        if (wine("cmd", {"/c", "exit", "0"}, "probe") != 0) GTEST_SKIP() << "Wine cannot start: " << log("probe");
    }

    // Runs a command line under Wine in the test's folder; its stderr is kept as `logName`.err.
    int wine(const fs::path& exe, const std::vector<std::string>& args, const std::string& logName) {
        std::string command = "cd " + cli::shellQuoted(dir_.string()) + " && WINEDEBUG=-all " +
                              cli::shellQuoted(CINDEL_WINE) + " " + cli::shellQuoted(exe.string());
        for (const std::string& a : args) command += ' ' + cli::shellQuoted(a);
        const int status = std::system((command + " >/dev/null 2>" + cli::shellQuoted(path(logName + ".err"))).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // That stderr, with the line ends the Windows C runtime writes in text mode made plain.
    std::string log(const std::string& logName) {
        std::string text = cli::slurp(path(logName + ".err"));
        return {text.begin(), std::remove(text.begin(), text.end(), '\r')};
    }
};

TEST_F(WindowsRender, FallbackPluginUnderWineRendersTheLinuxFrame) {
    if (!fs::exists(kFallbackExe)) GTEST_SKIP() << kFallbackExe << " is not built (make windows-test-build)";
    // Frame 6 of the default scene, where the fire shows, as float EXR: every bit of the effect's
    // output is compared, not an 8-bit rounding of it.
    auto args = [](const std::string& out) {
        return std::vector<std::string>{"render", "--size", "160x90", "--frames", "6", "--quality", "Draft",
                                        "--format", "exr32", "--background", "none", "--out", out, "--verbose"};
    };
    const cli::Outcome onLinux = cindel(args(path("linux")));
    ASSERT_EQ(onLinux.exitCode, 0) << onLinux.err;
    ASSERT_EQ(wine(kFallbackExe, args(path("windows")), "render"), 0) << log("render");
    EXPECT_EQ(log("render").find("no usable"), std::string::npos) << "the no-GPU fill, not PoCL: " << log("render");

    const cli::ExrPixels expected = cli::readExr(path("linux/frame_0006.exr"));
    const cli::ExrPixels actual = cli::readExr(path("windows/frame_0006.exr"));
    EXPECT_TRUE(actual.channels == expected.channels && !actual.isHalf && actual.width == expected.width);
    ASSERT_EQ(actual.rgba.size(), expected.rgba.size());
    std::size_t differing = 0;
    float brightest = 0;
    for (std::size_t i = 0; i < expected.rgba.size(); ++i) {
        differing += std::memcmp(&actual.rgba[i], &expected.rgba[i], sizeof(float)) != 0;
        if (i % 4 != 3) brightest = std::max(brightest, expected.rgba[i]);
    }
    EXPECT_EQ(differing, 0u) << "of " << expected.rgba.size() << " values";
    EXPECT_GT(brightest, 0.1f) << "no visible fire: the comparison proves nothing";
}

TEST_F(WindowsRender, RefusesWhatLinuxRefusesWithTheSameMessages) {
    if (!fs::exists(kShippingExe)) GTEST_SKIP() << kShippingExe << " is not built (make windows)";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"render", "--quality", "Best"}, {"render", "--size", "0x90"}, {"render", "--set", "Turbulence=45"},
             {"render", "--set", "Fuel Amont=160"}, {"render", "--frames", "9-3"}, {"frobnicate"}}) {
        const cli::Outcome onLinux = cindel(args);
        EXPECT_NE(onLinux.exitCode, 0) << "cindel " << args.back();
        EXPECT_EQ(wine(kShippingExe, args, "bad"), onLinux.exitCode) << "cindel " << args.back();
        EXPECT_EQ(log("bad"), onLinux.err) << "cindel " << args.back();
    }
}

}  // namespace
