// The image readers on arbitrary bytes, through the entry points the command uses: readPngImage
// for image layers and readExr for frames read back, each of which runs its header check
// (tools/image_limits.h) before the decoder. The readers take paths, so each input is written to
// one file of this process first. The first byte picks the reader, so that one corpus serves both
// and a PNG mutated into an EXR (or back) is still explored.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "tools/errors.h"
#include "tools/image_io.h"

namespace {

const std::string& scratchFile() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cindel-fuzz-image-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) close(fd);
        return pattern;
    }();
    return path;
}

bool writeScratch(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(scratchFile().c_str(), "wb");
    if (!file) return false;
    const bool isWritten = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && isWritten;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool isExr = data[0] & 1;
    if (!writeScratch(data + 1, size - 1)) return 0;
    try {
        if (isExr) {
            cli::ExrPixels pixels = cli::readExr(scratchFile());
            (void)pixels;
        } else {
            minihost::RgbaImage image = cli::readPngImage(scratchFile());
            (void)image;
        }
    } catch (const cli::RuntimeFailure&) {
    } catch (const cli::UsageError&) {
    }
    return 0;
}
