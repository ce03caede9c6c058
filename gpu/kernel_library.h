// The kernel library: every kernel and helper of the effect as one OpenCL C text, joined at build
// time from kernels/*.cl in a fixed order and compiled into the effect, so the plug-in, the
// command and the tests build the same bytes and nothing is read from disk at run time.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace cindel {

extern const char kKernelLibrary[];

// Where each kernel file sits in the joined text (1-based lines).
struct KernelSourcePiece {
    const char* file;
    int firstLine;
    int lineCount;
};

std::span<const KernelSourcePiece> kernelSourcePieces();

// The file and line of a line of the joined text; file is null for a line outside every piece.
struct KernelSourceLine {
    const char* file;
    int line;
};
KernelSourceLine kernelSourceLine(int joinedLine);

// A compiler's build log with every "<name>:LINE:COL:" position of the joined text rewritten as
// "file.cl:LINE:COL:", so an error in raymarch.cl points at raymarch.cl.
std::string annotateBuildLog(std::string_view log);

// True when the library defines the kernel function `name` (a "__kernel void name(" in the text).
bool kernelLibraryHas(std::string_view name);

}  // namespace cindel
