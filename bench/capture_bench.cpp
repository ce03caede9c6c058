// Source-layer capture benchmark: the host-side cost per frame of turning a Source Layer world into
// the emission map, on the CPU (no OpenCL is involved). A 1920 × 1080 8-bit world holds a logo-like
// alpha (a soft-edged ring, a disc and a row of letter-like bars); the stages are the alpha read,
// the layer map's box and digest, the composition resample (16 sub-samples per pixel) and the box
// of its result. A cold frame runs all of them; a frame whose cache key holds runs only the first
// two, which the key needs, and reuses the cached composition map.
//   capture_bench [width height [repeats]]      (default: 1920 1080 15)
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "emit/layer_capture.h"
#include "gpu/buffers.h"

namespace {

std::string cpuName() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown CPU";
}

// Alpha of the logo at a pixel, 0 … 1, with one-pixel soft edges like an antialiased graphic.
float logoAlpha(int x, int y, int w, int h) {
    const float cx = 0.5f * w, cy = 0.45f * h, s = 0.25f * h;
    const float r = std::hypot(x - cx, y - cy);
    const auto edge = [](float inside) { return std::clamp(inside + 0.5f, 0.0f, 1.0f); };
    float a = std::max(edge(0.55f * s - r), edge(std::min(r - 0.8f * s, s - r)));  // disc and ring
    const float textTop = cy + 1.3f * s, textBottom = textTop + 0.3f * s;
    for (int letter = 0; letter < 8; ++letter) {
        const float left = cx - 1.6f * s + letter * 0.42f * s, right = left + 0.25f * s;
        const float inside = std::min({x - left, right - x, y - textTop, textBottom - y});
        a = std::max(a, edge(inside));
    }
    return a;
}

// This thread's CPU time: other processes sharing the machine stretch the wall time of a stage but
// not its CPU time, so both are printed.
double threadCpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

struct Stamp {
    double wall, cpu;
    static Stamp now() { return {cindel::nowMilliseconds(), threadCpuMilliseconds()}; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 2 ? std::atoi(argv[1]) : 1920;
    const int height = argc > 2 ? std::atoi(argv[2]) : 1080;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "capture_bench: width and height must be positive\n");
        return 1;
    }

    std::printf("capture_bench: Source Layer capture on the host\n");
    std::printf("cpu:     %s\n", cpuName().c_str());
#ifdef NDEBUG
    std::printf("build:   release, " __DATE__ "\n");
#else
    std::printf("build:   debug, " __DATE__ "\n");
#endif
    std::printf("world:   %d x %d, 8 bits, composition %d x %d, median of %d runs\n\n", width, height, width, height,
                repeats);

    std::vector<PF_Pixel> pixels(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[size_t(y) * size_t(width) + size_t(x)] =
                PF_Pixel{A_u_char(logoAlpha(x, y, width, height) * 255.0f + 0.5f), 255, 255, 255};
    PF_EffectWorld world{};
    world.width = width;
    world.height = height;
    world.rowbytes = width * A_long(sizeof(PF_Pixel));
    world.data = pixels.data();

    // The layer at 100 % with its anchor in its middle, placed a little off the composition centre:
    // every composition pixel takes its 16 sub-samples from the layer.
    cindel::LayerPlacement placement;
    placement.posX = 0.5f * width + 37.0f;
    placement.posY = 0.5f * height - 21.0f;
    placement.ancX = 0.5f * width;
    placement.ancY = 0.5f * height;

    std::vector<float> layerMap(size_t(width) * size_t(height)), compMap(layerMap.size());
    constexpr int kStages = 4;
    const char* names[kStages] = {"alpha read (readWorldAlpha)", "layer box + digest (summarizeMap)",
                                  "composition resample (16 sub-samples)", "composition box (summarizeMap)"};
    std::vector<double> wallMs[kStages], cpuMs[kStages];
    uint32_t layerHash = 0;
    cindel::MapSummary compBox;
    for (int i = 0; i < repeats + 1; ++i) {
        Stamp t[kStages + 1];
        t[0] = Stamp::now();
        cindel::readWorldAlpha(world, 8, layerMap.data());
        t[1] = Stamp::now();
        layerHash = cindel::summarizeMap(layerMap.data(), width, height).hash;
        t[2] = Stamp::now();
        cindel::resampleToComposition(layerMap.data(), width, height, placement, width, height, compMap.data());
        t[3] = Stamp::now();
        compBox = cindel::summarizeMap(compMap.data(), width, height);
        t[4] = Stamp::now();
        if (i == 0) continue;  // first touch of the pages
        for (int k = 0; k < kStages; ++k) {
            wallMs[k].push_back(t[k + 1].wall - t[k].wall);
            cpuMs[k].push_back(t[k + 1].cpu - t[k].cpu);
        }
    }

    double wall[kStages], cpu[kStages];
    std::printf("%-40s %9s %9s\n", "stage", "wall ms", "cpu ms");
    for (int k = 0; k < kStages; ++k) {
        wall[k] = median(wallMs[k]);
        cpu[k] = median(cpuMs[k]);
        std::printf("%-40s %9.2f %9.2f\n", names[k], wall[k], cpu[k]);
    }
    std::printf("\n%-40s %9.2f %9.2f\n", "per frame, cold (cache miss)", wall[0] + wall[1] + wall[2] + wall[3],
                cpu[0] + cpu[1] + cpu[2] + cpu[3]);
    std::printf("%-40s %9.2f %9.2f\n", "per frame, cache hit", wall[0] + wall[1], cpu[0] + cpu[1]);
    std::printf("\nlayer digest %08x, composition box (%d, %d) - (%d, %d)\n", unsigned(layerHash), compBox.boxX0,
                compBox.boxY0, compBox.boxX1, compBox.boxY1);
    return 0;
}
