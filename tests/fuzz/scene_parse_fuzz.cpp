// The scene reader on arbitrary text: parseScene is what `cindel render --scene FILE` runs on the
// file's bytes. Image layers name files relative to a folder of this process that holds one 1 × 1
// PNG, "logo.png", so that a scene naming it goes on to place the image, and any other relative
// path the fuzzer invents is refused as missing rather than read from the machine.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "minihost/host_error.h"
#include "tools/errors.h"
#include "tools/scene.h"

namespace {

const unsigned char kLogoPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00,
    0x0d, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xdf, 0xc0, 0x70, 0x00, 0x00, 0x06, 0x41, 0x02, 0x40,
    0x4c, 0xd1, 0x90, 0x17, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

const std::string& sceneFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cindel-fuzz-scene-XXXXXX").string();
        const std::string made = mkdtemp(pattern.data());
        if (std::FILE* logo = std::fopen((made + "/logo.png").c_str(), "wb")) {
            std::fwrite(kLogoPng, 1, sizeof kLogoPng, logo);
            std::fclose(logo);
        }
        return made;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        cli::Scene scene = cli::parseScene(text, "fuzz.json", sceneFolder());
        (void)scene;
    } catch (const cli::UsageError&) {
    } catch (const cli::RuntimeFailure&) {
    } catch (const minihost::HostError&) {
    }
    return 0;
}
