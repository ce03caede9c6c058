// Writes the plug-in property resource (host/pipl_resource.h) to the file named on the command line,
// for the Windows resource script to embed. Built and run on the build machine: the bytes are the
// same for every target, and compiling them is where a string too long for its slot stops the build.
#include <cstdio>

#include "host/pipl_resource.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pipl_generate OUTPUT\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const auto& bytes = cindel::pipl::kResourceBytes;
    const bool isWritten = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !isWritten) {
        std::fprintf(stderr, "pipl_generate: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
