#include "gpu/kernel_library.h"

#include <cctype>
#include <cstring>
#include <regex>

namespace cindel {

extern const KernelSourcePiece kKernelSourcePieces[];
extern const int kKernelSourcePieceCount;

std::span<const KernelSourcePiece> kernelSourcePieces() {
    return {kKernelSourcePieces, static_cast<size_t>(kKernelSourcePieceCount)};
}

KernelSourceLine kernelSourceLine(int joinedLine) {
    for (const KernelSourcePiece& p : kernelSourcePieces()) {
        if (joinedLine >= p.firstLine && joinedLine < p.firstLine + p.lineCount) {
            return {p.file, joinedLine - p.firstLine + 1};
        }
    }
    return {nullptr, joinedLine};
}

std::string annotateBuildLog(std::string_view log) {
    // Compilers name the program text differently ("<source>", "<kernel>", "input.cl"); what
    // they share is "name:line:column:" at the start of a diagnostic.
    static const std::regex position(R"(([^\s:]*):(\d+):(\d+):)");
    std::string out;
    std::string text(log);
    auto begin = std::sregex_iterator(text.begin(), text.end(), position);
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        out.append(text, last, static_cast<size_t>(m.position(0)) - last);
        const KernelSourceLine where = kernelSourceLine(std::stoi(m[2].str()));
        if (where.file) {
            out += where.file;
            out += ':' + std::to_string(where.line) + ':' + m[3].str() + ':';
        } else {
            out += m[0].str();
        }
        last = static_cast<size_t>(m.position(0) + m.length(0));
    }
    out.append(text, last, std::string::npos);
    return out;
}

bool kernelLibraryHas(std::string_view name) {
    const std::string_view text(kKernelLibrary);
    size_t pos = 0;
    while ((pos = text.find(name, pos)) != std::string_view::npos) {
        const size_t end = pos + name.size();
        // The name must stand alone and open a parameter list, and the declaration must be a kernel.
        const bool startsWord = pos == 0 || !(std::isalnum(static_cast<unsigned char>(text[pos - 1])) || text[pos - 1] == '_');
        size_t after = end;
        while (after < text.size() && std::isspace(static_cast<unsigned char>(text[after]))) ++after;
        if (startsWord && after < text.size() && text[after] == '(') {
            const size_t lineStart = text.rfind('\n', pos);
            const std::string_view head = text.substr(lineStart == std::string_view::npos ? 0 : lineStart + 1,
                                                      pos - (lineStart == std::string_view::npos ? 0 : lineStart + 1));
            if (head.find("__kernel") != std::string_view::npos || head.find("kernel void") != std::string_view::npos) {
                return true;
            }
        }
        pos = end;
    }
    return false;
}

}  // namespace cindel
