// The kernel table's argument lists against the kernels' own signatures in the library's text, so
// a drifted signature fails here instead of rendering a black frame.
#include "gpu/kernel_library.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gpu/kernel_table.h"

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

}  // namespace
}  // namespace cindel
