// The host–kernel contract: the kernel table's argument lists against the kernels' own
// signatures in the joined library text, parameter by parameter (name, position, element type,
// const-ness). A kernel whose signature drifts from the table fails here instead of rendering a
// silently black frame on a user's machine.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "gpu/kernel_library.h"
#include "gpu/kernel_table.h"
#include "gpu/launch.h"

namespace {

using cindel::ArgKind;

struct ParsedParam {
    std::string name;
    ArgKind kind;
    bool understood;
    std::string text;
};

std::string squeeze(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.front() == ' ') out.erase(0, 1);
    return out;
}

ParsedParam parseParam(const std::string& raw) {
    const std::string text = squeeze(raw);
    ParsedParam p{"", ArgKind::Int, false, text};
    static const std::regex nameAtEnd(R"(([A-Za-z_][A-Za-z0-9_]*)\s*$)");
    std::smatch m;
    if (!std::regex_search(text, m, nameAtEnd)) return p;
    p.name = m[1].str();
    const std::string type = text.substr(0, static_cast<size_t>(m.position(1)));
    const bool pointer = type.find('*') != std::string::npos;
    const bool isConst = std::regex_search(type, std::regex(R"(\bconst\b)"));
    const bool global = type.find("global") != std::string::npos;
    auto has = [&](const char* word) { return std::regex_search(type, std::regex(std::string("\\b") + word + "\\b")); };
    if (!pointer) {
        if (has("float")) p.kind = ArgKind::Float, p.understood = true;
        else if (has("int")) p.kind = ArgKind::Int, p.understood = true;
        return p;
    }
    if (!global) return p;
    if (has("float4")) p.kind = isConst ? ArgKind::ConstFloat4Buffer : ArgKind::Float4Buffer, p.understood = true;
    else if (has("float2")) p.kind = isConst ? ArgKind::ConstFloat2Buffer : ArgKind::Float2Buffer, p.understood = true;
    else if (has("float")) p.kind = isConst ? ArgKind::ConstFloatBuffer : ArgKind::FloatBuffer, p.understood = true;
    else if (has("int")) p.kind = isConst ? ArgKind::ConstIntBuffer : ArgKind::IntBuffer, p.understood = true;
    else if (isConst && std::regex_search(type, std::regex(R"(\b[A-Z][A-Za-z0-9_]*\s*\*)"))) {
        p.kind = ArgKind::ParamBlock;  // a parameter block: a const struct type named in UpperCamelCase
        p.understood = true;
    }
    return p;
}

// Every "__kernel void name(...)" of the library with its parameters.
std::map<std::string, std::vector<ParsedParam>> kernelsInLibrary() {
    std::map<std::string, std::vector<ParsedParam>> out;
    const std::string text(cindel::kKernelLibrary);
    static const std::regex head(R"((?:__kernel|kernel)\s+void\s+([A-Za-z_][A-Za-z0-9_]*)\s*\()");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), head); it != std::sregex_iterator(); ++it) {
        const size_t open = static_cast<size_t>(it->position(0) + it->length(0));
        const size_t close = text.find(')', open);
        std::vector<ParsedParam> params;
        std::string list = text.substr(open, close - open);
        // Comments inside a parameter list would confuse the split.
        list = std::regex_replace(list, std::regex(R"(//[^\n]*)"), "");
        list = std::regex_replace(list, std::regex(R"(/\*[\s\S]*?\*/)"), "");
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = list.find(',', start);
            const std::string piece = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!squeeze(piece).empty() && squeeze(piece) != "void") params.push_back(parseParam(piece));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        out[(*it)[1].str()] = params;
    }
    return out;
}

const char* kindName(ArgKind k) {
    switch (k) {
        case ArgKind::Int: return "int";
        case ArgKind::Float: return "float";
        case ArgKind::FloatBuffer: return "__global float*";
        case ArgKind::ConstFloatBuffer: return "__global const float*";
        case ArgKind::Float2Buffer: return "__global float2*";
        case ArgKind::ConstFloat2Buffer: return "__global const float2*";
        case ArgKind::Float4Buffer: return "__global float4*";
        case ArgKind::ConstFloat4Buffer: return "__global const float4*";
        case ArgKind::IntBuffer: return "__global int*";
        case ArgKind::ConstIntBuffer: return "__global const int*";
        case ArgKind::ParamBlock: return "__global const <parameter block>*";
    }
    return "?";
}

// One spec against the library's signature of its kernel; false when the library lacks it.
bool compareWithLibrary(const std::map<std::string, std::vector<ParsedParam>>& library,
                        const cindel::KernelSpec& spec) {
    const auto found = library.find(spec.name);
    if (found == library.end()) return false;
    const std::vector<ParsedParam>& params = found->second;
    EXPECT_EQ(params.size(), spec.args.size()) << spec.name;
    for (size_t i = 0; i < params.size() && i < spec.args.size(); ++i) {
        SCOPED_TRACE(std::string(spec.name) + " parameter " + std::to_string(i) + ": " + params[i].text);
        EXPECT_TRUE(params[i].understood);
        EXPECT_EQ(params[i].name, spec.args[i].name);
        EXPECT_STREQ(kindName(params[i].kind), kindName(spec.args[i].kind));
    }
    return true;
}

TEST(KernelContract, TableMatchesEverySignatureInTheLibrary) {
    const auto library = kernelsInLibrary();
    int compared = 0;
    for (const cindel::KernelSpec& spec : cindel::kernelSpecs()) {
        if (!compareWithLibrary(library, spec)) {
            EXPECT_TRUE(spec.args.empty()) << spec.name << " has an argument list but no kernel in the library";
            continue;
        }
        ++compared;
    }
    // The library grows issue by issue; the table must never describe fewer kernels than it holds.
    std::set<std::string> tableNames;
    for (const cindel::KernelSpec& spec : cindel::kernelSpecs()) tableNames.insert(spec.name);
    for (const cindel::KernelSpec& spec : cindel::auxKernelSpecs()) tableNames.insert(spec.name);
    for (const auto& [name, params] : library) {
        EXPECT_TRUE(tableNames.count(name)) << name << " is in the library but not in the kernel table";
    }
    EXPECT_EQ(static_cast<size_t>(compared) > 0, !library.empty());
}

// Auxiliary kernels are not grown into: each one the table lists must exist with its arguments,
// and none may share a name with a role's kernel (its object would then be created twice).
TEST(KernelContract, AuxiliaryKernelsMatchTheirSignatures) {
    const auto library = kernelsInLibrary();
    std::set<std::string> roleNames;
    for (const cindel::KernelSpec& spec : cindel::kernelSpecs()) roleNames.insert(spec.name);
    ASSERT_EQ(cindel::auxKernelSpecs().size(), static_cast<size_t>(cindel::kAuxKernelCount));
    for (const cindel::KernelSpec& spec : cindel::auxKernelSpecs()) {
        EXPECT_EQ(spec.role, cindel::KernelRole::Count) << spec.name << " is an auxiliary kernel, not a role";
        EXPECT_FALSE(spec.args.empty()) << spec.name;
        EXPECT_FALSE(roleNames.count(spec.name)) << spec.name;
        EXPECT_TRUE(compareWithLibrary(library, spec)) << spec.name << " is not in the library";
    }
    for (int k = 0; k < cindel::kAuxKernelCount; ++k) {
        const auto kernel = static_cast<cindel::AuxKernel>(k);
        EXPECT_EQ(&cindel::auxKernelSpec(kernel), &cindel::auxKernelSpecs()[static_cast<size_t>(k)]);
    }
}

TEST(KernelContract, EveryRoleOfAKernelInTheLibraryIsRequired) {
    for (const cindel::KernelSpec& spec : cindel::kernelSpecs()) {
        EXPECT_EQ(cindel::kernelRoleRequired(spec.role), cindel::kernelLibraryHas(spec.name)) << spec.name;
    }
}

TEST(KernelContract, LaunchBinderRefusesAWrongArgument) {
    // No runtime is needed: a refused launch never reaches OpenCL.
    cindel::GpuRuntime rt;
    const int before = cindel::kernelContractViolations();
    cindel::KernelLaunch(rt, cindel::KernelRole::Restrict)
        .arg("fine", static_cast<cl_mem>(nullptr))
        .arg("coarse", static_cast<cl_mem>(nullptr))
        .arg("Nc", 8)
        .run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before);
    cindel::KernelLaunch(rt, cindel::KernelRole::Restrict)
        .arg("coarse", static_cast<cl_mem>(nullptr))  // swapped
        .arg("fine", static_cast<cl_mem>(nullptr))
        .arg("Nc", 8)
        .run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before + 1);
    cindel::KernelLaunch(rt, cindel::KernelRole::Restrict)
        .arg("fine", static_cast<cl_mem>(nullptr))
        .arg("coarse", static_cast<cl_mem>(nullptr))
        .arg("Nc", 8.0f)  // a float where the kernel takes an int
        .run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before + 2);
    cindel::KernelLaunch(rt, cindel::KernelRole::Restrict).arg("fine", static_cast<cl_mem>(nullptr)).run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before + 3) << "too few arguments";
    // Auxiliary kernels bind through their own lists.
    cindel::KernelLaunch(rt, cindel::AuxKernel::NoiseLatticeFill)
        .arg("lattice", static_cast<cl_mem>(nullptr))
        .arg("latticeOrigin", static_cast<cl_mem>(nullptr))
        .arg("heldOrigin", static_cast<cl_mem>(nullptr))
        .arg("pot", 0)
        .arg("octave", 0)
        .arg("side0", 8)
        .arg("side1", 8)
        .arg("side2", 8)
        .arg("time", 0.0f)
        .run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before + 3);
    cindel::KernelLaunch(rt, cindel::AuxKernel::NoiseLatticeFill)
        .arg("lattice", static_cast<cl_mem>(nullptr))
        .arg("latticeOrigin", static_cast<cl_mem>(nullptr))
        .arg("heldOrigin", static_cast<cl_mem>(nullptr))
        .arg("octave", 0)  // swapped with pot
        .arg("pot", 0)
        .arg("side0", 8)
        .arg("side1", 8)
        .arg("side2", 8)
        .arg("time", 0.0f)
        .run3d(8);
    EXPECT_EQ(cindel::kernelContractViolations(), before + 4);
}

}  // namespace
