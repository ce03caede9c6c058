// The joined kernel library against a strict OpenCL C 1.2 front end. PoCL compiles with a newer
// language version and accepts what a 1.2 driver refuses (program-scope variables, generic
// address space, features of 2.0 and 3.0), so a kernel that builds here could still fail on a
// user's GPU. clang checks the exact bytes the effect carries, with OpenCL's builtin declarations
// and warnings as errors; without a clang on the machine the test skips.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gpu/kernel_library.h"

namespace {

// The first clang on PATH that can compile OpenCL C; empty when there is none.
std::string findClang() {
    for (const char* name : {"clang", "clang-19", "clang-18", "clang-17", "clang-16", "clang-15", "clang-14"}) {
        const std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
        if (std::system(probe.c_str()) == 0) return name;
    }
    return {};
}

// Syntax and semantic checks only, as a 1.2 driver would parse the library under its build options.
std::string checkCommand(const std::string& clang, const std::filesystem::path& source, const std::string& log) {
    return clang +
           " -x cl -cl-std=CL1.2 -Xclang -finclude-default-header -fsyntax-only -Werror -cl-fast-relaxed-math '" +
           source.string() + "' >'" + log + "' 2>&1";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(KernelSyntax, LibraryIsValidOpenClC12) {
    const std::string clang = findClang();
    if (clang.empty()) GTEST_SKIP() << "no clang on PATH (Debian: apt-get install clang) to check OpenCL C 1.2";

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cindel_kernel_syntax_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path source = dir / "kernel_library.cl";
    const std::filesystem::path log = dir / "clang.log";
    {
        std::ofstream out(source, std::ios::binary);
        out << cindel::kKernelLibrary;
        ASSERT_TRUE(out.good()) << "could not write " << source;
    }

    const std::string command = checkCommand(clang, source, log.string());
    const int status = std::system(command.c_str());
    const std::string diagnostics = readFile(log);
    std::filesystem::remove_all(dir);

    // clang names the temporary file; map its line numbers back to the kernel files.
    EXPECT_EQ(status, 0) << command << "\n" << cindel::annotateBuildLog(diagnostics);
    EXPECT_EQ(diagnostics, "") << cindel::annotateBuildLog(diagnostics);
}

TEST(KernelSyntax, CheckRefusesCodeThatOnlyNewerOpenClAccepts) {
    // Non-vacuity: the same command must reject a program-scope variable, which OpenCL C 2.0
    // allows and 1.2 does not.
    const std::string clang = findClang();
    if (clang.empty()) GTEST_SKIP() << "no clang on PATH (Debian: apt-get install clang) to check OpenCL C 1.2";
    const std::filesystem::path source =
        std::filesystem::temp_directory_path() / ("cindel_kernel_syntax_bad_" + std::to_string(getpid()) + ".cl");
    {
        std::ofstream out(source, std::ios::binary);
        out << "float cd_counter = 0.0f;\n__kernel void cd_bad(__global float* o) { o[0] = cd_counter; }\n";
    }
    const std::string command = checkCommand(clang, source, "/dev/null");
    const int status = std::system(command.c_str());
    std::filesystem::remove(source);
    EXPECT_NE(status, 0);
}

}  // namespace
