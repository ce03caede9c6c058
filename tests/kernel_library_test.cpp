// The kernel library as text, with no device: the kernel table's argument lists against the
// kernels' own signatures (so a drifted signature fails here instead of rendering a black frame),
// the launch binder's refusals, the text against a strict OpenCL C 1.2 front end, and build-log
// positions mapped back to the kernel file and line they came from.
#include "gpu/kernel_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gpu/kernel_table.h"
#include "gpu/launch.h"

namespace cindel {
namespace {

struct Param {
    std::string name;
    int kind = -1;  // an ArgKind, -1 where the declaration is not one the table can describe
    std::string text;
};

Param parseParam(std::string text) {
    text = std::regex_replace(text, std::regex(R"(\s+)"), " ");
    Param p{"", -1, text};
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(([A-Za-z_]\w*)\s*$)"))) return p;
    p.name = m[1].str();
    const std::string type = text.substr(0, size_t(m.position(1)));
    auto has = [&](const char* re) { return std::regex_search(type, std::regex(re)); };
    const bool isConst = has(R"(\bconst\b)");
    auto pick = [&](ArgKind constKind, ArgKind plain) { return int(isConst ? constKind : plain); };
    if (!has(R"(\*)")) {
        p.kind = has(R"(\bfloat\b)") ? int(ArgKind::Float) : has(R"(\bint\b)") ? int(ArgKind::Int) : -1;
    } else if (has("global")) {
        if (has(R"(\bfloat4\b)"))
            p.kind = pick(ArgKind::ConstFloat4Buffer, ArgKind::Float4Buffer);
        else if (has(R"(\bfloat2\b)"))
            p.kind = pick(ArgKind::ConstFloat2Buffer, ArgKind::Float2Buffer);
        else if (has(R"(\bfloat\b)"))
            p.kind = pick(ArgKind::ConstFloatBuffer, ArgKind::FloatBuffer);
        else if (has(R"(\bint\b)"))
            p.kind = pick(ArgKind::ConstIntBuffer, ArgKind::IntBuffer);
        else if (isConst && has(R"(\b[A-Z]\w*\s*\*)"))
            p.kind = int(ArgKind::ParamBlock);
    }
    return p;
}

// Every "__kernel void name(...)" of the library with its parameters.
std::map<std::string, std::vector<Param>> kernelsInLibrary() {
    std::map<std::string, std::vector<Param>> out;
    const std::string text(kKernelLibrary);
    const std::regex head(R"((?:__kernel|kernel)\s+void\s+([A-Za-z_]\w*)\s*\()");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), head); it != std::sregex_iterator(); ++it) {
        const size_t open = size_t(it->position(0) + it->length(0));
        std::string list = text.substr(open, text.find(')', open) - open);
        list = std::regex_replace(list, std::regex(R"(//[^\n]*|/\*[\s\S]*?\*/)"), "");
        std::vector<Param>& params = out[(*it)[1].str()];
        std::stringstream pieces(list);
        for (std::string piece; std::getline(pieces, piece, ',');) {
            if (piece.find_first_not_of(" \t\n") != std::string::npos) params.push_back(parseParam(piece));
        }
    }
    return out;
}

TEST(KernelContract, EveryTableEntryMatchesItsKernelsSignatureAndEveryKernelIsListed) {
    const auto library = kernelsInLibrary();
    std::set<std::string> listed, roleNames;
    std::vector<KernelSpec> specs(kernelSpecs().begin(), kernelSpecs().end());
    for (const KernelSpec& spec : specs) roleNames.insert(spec.name);
    for (const KernelSpec& spec : auxKernelSpecs()) {
        EXPECT_FALSE(roleNames.count(spec.name)) << spec.name << ": an auxiliary kernel's object would be made twice";
        specs.push_back(spec);
    }
    for (const KernelSpec& spec : specs) {
        listed.insert(spec.name);
        const auto found = library.find(spec.name);
        ASSERT_NE(found, library.end()) << spec.name << " is not in the library";
        const std::vector<Param>& params = found->second;
        ASSERT_EQ(params.size(), spec.args.size()) << spec.name;
        for (size_t i = 0; i < params.size(); ++i) {
            EXPECT_EQ(params[i].name, spec.args[i].name) << spec.name << ": " << params[i].text;
            EXPECT_EQ(params[i].kind, int(spec.args[i].kind)) << spec.name << ": " << params[i].text;
        }
    }
    for (const auto& entry : library) EXPECT_TRUE(listed.count(entry.first)) << entry.first << " is not in the table";
}

TEST(KernelContract, TheLaunchBinderCountsAWrongArgumentAsAViolation) {
    GpuRuntime rt;  // a refused launch never reaches OpenCL
    const cl_mem none = nullptr;
    auto restrictLaunch = [&](const char* a, const char* b, bool intSide, bool complete) {
        const int before = kernelContractViolations();
        KernelLaunch launch(rt, KernelRole::Restrict);
        launch.arg(a, none);
        if (complete) {
            launch.arg(b, none);
            intSide ? launch.arg("Nc", 8) : launch.arg("Nc", 8.0f);
        }
        launch.run3d(8);
        return kernelContractViolations() - before;
    };
    EXPECT_EQ(restrictLaunch("fine", "coarse", true, true), 0);
    EXPECT_EQ(restrictLaunch("coarse", "fine", true, true), 1) << "swapped";
    EXPECT_EQ(restrictLaunch("fine", "coarse", false, true), 1) << "a float where the kernel takes an int";
    EXPECT_EQ(restrictLaunch("fine", "coarse", true, false), 1) << "too few arguments";
    EXPECT_TRUE(kernelLibraryHas("cd_cool") && !kernelLibraryHas("cd_coo") && !kernelLibraryHas("cd_idx"))
        << "only whole kernel names, not prefixes or helper functions";
    const int before = kernelContractViolations();
    KernelLaunch(rt, AuxKernel::NoiseLatticeFill)
        .arg("lattice", none)
        .arg("latticeOrigin", none)
        .arg("heldOrigin", none)
        .arg("octave", 0)
        .arg("pot", 0)  // swapped
        .arg("side0", 8)
        .arg("side1", 8)
        .arg("side2", 8)
        .arg("time", 0.0f)
        .run3d(8);
    EXPECT_EQ(kernelContractViolations(), before + 1) << "auxiliary kernels bind through their own lists";
}

// PoCL accepts what a 1.2 driver refuses (program-scope variables, the generic address space), so
// a kernel that builds there could still fail on a user's GPU. Skips without a clang.
TEST(KernelLibrary, IsValidOpenClC12AndTheCheckRefusesNewerCode) {
    std::string clang;
    for (const char* name : {"clang", "clang-18", "clang-16", "clang-15", "clang-14"}) {
        if (clang.empty() && !std::system((std::string("command -v ") + name + " >/dev/null").c_str())) clang = name;
    }
    if (clang.empty()) GTEST_SKIP() << "no clang on PATH (Debian: apt-get install clang) to check OpenCL C 1.2";
    const auto dir = std::filesystem::temp_directory_path() / ("cindel_kernel_syntax_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto check = [&](const std::string& text, std::string* diagnostics) {
        std::ofstream(dir / "k.cl", std::ios::binary) << text;
        const int status = std::system((clang +
                                        " -x cl -cl-std=CL1.2 -Xclang -finclude-default-header -fsyntax-only "
                                        "-Werror -cl-fast-relaxed-math '" +
                                        (dir / "k.cl").string() + "' >'" + (dir / "log").string() + "' 2>&1")
                                           .c_str());
        std::stringstream log;
        log << std::ifstream(dir / "log").rdbuf();
        *diagnostics = log.str();
        return status;
    };
    std::string diagnostics;
    EXPECT_EQ(check(kKernelLibrary, &diagnostics), 0) << annotateBuildLog(diagnostics);
    EXPECT_EQ(diagnostics, "") << annotateBuildLog(diagnostics);
    EXPECT_NE(check("float cd_counter = 0.0f;\n__kernel void cd_bad(__global float* o) { o[0] = cd_counter; }\n",
                    &diagnostics),
              0)
        << "a program-scope variable is OpenCL C 2.0";
    std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------------------------------------
// Build-log positions.

TEST(AnnotateBuildLog, RewritesPositionsOfTheJoinedTextAndLeavesTheRest) {
    const auto pieces = kernelSourcePieces();
    ASSERT_GE(pieces.size(), 2u);
    const KernelSourcePiece &first = pieces.front(), &second = pieces[1], &last = pieces.back();
    const int lastJoined = last.firstLine + last.lineCount - 1;
    // Different compilers' names for the text; several positions; the text between untouched.
    const std::string log = "<source>:1:5: error: x\n<kernel>:" + std::to_string(lastJoined) +
                            ":12: warning: unused\nnote: here\ninput.cl:" + std::to_string(second.firstLine + 1) +
                            ":3: error: y\n";
    EXPECT_EQ(annotateBuildLog(log), std::string(first.file) + ":1:5: error: x\n" + last.file + ":" +
                                         std::to_string(last.lineCount) + ":12: warning: unused\nnote: here\n" +
                                         second.file + ":2:3: error: y\n");
    for (const std::string& alone : {"<source>:" + std::to_string(lastJoined + 1) + ":2: error: eof", std::string(),
                                     std::string("ratio 3:4 is fine")}) {
        EXPECT_EQ(annotateBuildLog(alone), alone);
    }
}

}  // namespace
}  // namespace cindel
