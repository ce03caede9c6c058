// Render benchmark: milliseconds per rendered frame by Quality at 960 × 540 over a 128³ grid that
// holds 24 simulated frames of a default fire, split into the driver's stages (buffers, macrocell
// build, ray march, upsample, post passes, read-back, conversion). Stage times wait for the queue
// after every stage, so their sum is a little above the plain frame time printed beside it, which
// is the production path with its single wait at the read-back.
//
// --no-macrocells releases the macrocells before the frames, so the march samples every cell: the
// cost of a grid without empty-space skipping, beside the skipping one.
//
// The first frame of each march size (half for Draft and Normal, full for High and Ultra) is an
// untimed warm-up: each kernel compiles at its first launch with a new local size. On a 2-core CPU
// device High and Ultra take minutes per frame; --quality picks the ones to run.
//   render_bench [--frames n] [--quality q ...] [--side n] [--size WxH] [--no-macrocells]
//     --frames        timed frames per quality (default 1)
//     --quality       1 Draft, 2 Normal, 3 High, 4 Ultra, by number or name; repeatable (default all four)
//     --side          grid side (default 128)
//     --size          output and composition size (default 960x540)
//     --no-macrocells the march without empty-space skipping
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "bench_common.h"
#include "gpu/buffers.h"
#include "render/macrocells.h"
#include "render/render_volume.h"
#include "sim/sim_grid.h"
#include "sim/step.h"

namespace {


int usage() {
    std::fprintf(stderr,
                 "usage: render_bench [--frames n] [--quality q ...] [--side n] [--size WxH] [--no-macrocells]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 1;
    bool withoutMacrocells = false;
    int side = 128;
    int W = 960, H = 540;
    std::vector<int> qualities;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--frames") && hasValue) {
            frames = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--quality") && hasValue) {
            // A number or the name the effect's popup shows.
            const char* q = argv[++i];
            int quality = std::atoi(q);
            for (int k = 1; k <= 4; ++k)
                if (!strcasecmp(q, cindel::qualityName(k))) quality = k;
            if (quality < 1 || quality > 4) return usage();
            qualities.push_back(quality);
        } else if (!std::strcmp(argv[i], "--side") && hasValue) {
            side = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--no-macrocells")) {
            withoutMacrocells = true;
        } else if (!std::strcmp(argv[i], "--size") && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &W, &H) != 2) return usage();
        } else {
            return usage();
        }
    }
    if (qualities.empty()) qualities = {1, 2, 3, 4};
    if (frames < 1 || W < 1 || H < 1) return usage();

    cindel::GpuRuntime& rt = cindel::gpuRuntime();
    const double t0 = cindel::nowMilliseconds();
    cindel::startGpuRuntime(&rt);
    const double startMs = cindel::nowMilliseconds() - t0;
    if (!rt.ready) {
        std::fprintf(stderr, "render_bench: the GPU runtime did not start (no OpenCL device?)\n");
        return 1;
    }
    bench::printHeader("render_bench: render driver by Quality", rt);
    std::printf("runtime start-up: %.0f ms\n", startMs);

    cindel::FrameSettings s = bench::benchSettings(W, H);
    const int lastFrame = 23;
    double a = cindel::nowMilliseconds();
    if (!cindel::stepSimulationOnGrid(rt, side, lastFrame, 1.0f / 24.0f, s)) {
        std::fprintf(stderr, "render_bench: the %d^3 grid could not be simulated\n", side);
        return 1;
    }
    cindel::cl().clFinish(rt.queue);
    if (withoutMacrocells) cindel::releaseMacrocells(rt.macrocells);
    std::printf("grid %d^3, frames 0 ... %d simulated in %.0f ms\n", side, lastFrame, cindel::nowMilliseconds() - a);
    std::printf("macrocells: %d^3 level 0, %d^3 level 1%s\n", rt.macrocells.count, rt.macrocells.countL1,
                rt.macrocells.count > 0 ? "" : " (none: the march samples everything)");
    std::printf("output %d x %d, 8 bits, %d timed frame(s) per quality\n\n", W, H, frames);

    std::vector<unsigned char> pixels(static_cast<size_t>(W) * H * 4);
    std::printf("%-7s %8s %8s %8s %8s %8s %8s %8s %9s | %9s | %9s\n", "quality", "buffers", "macro", "march",
                "upsample", "post", "readback", "convert", "staged", "plain", "warm-up");
    bool isHalfWarm = false, isFullWarm = false;
    for (int q : qualities) {
        s.quality = q;
        bool& isWarm = cindel::renderQualityFor(q).isHalfResolution ? isHalfWarm : isFullWarm;
        double warmMs = -1;
        if (!isWarm) {
            a = cindel::nowMilliseconds();
            cindel::renderVolume(rt, pixels.data(), W, H, W * 4, 8, s);
            warmMs = cindel::nowMilliseconds() - a;
            isWarm = true;
        }

        cindel::RenderStageTimes t;
        for (int f = 0; f < frames; ++f) cindel::renderVolume(rt, pixels.data(), W, H, W * 4, 8, s, &t);
        double plainMs = 0;
        for (int f = 0; f < frames; ++f) {
            a = cindel::nowMilliseconds();
            cindel::renderVolume(rt, pixels.data(), W, H, W * 4, 8, s);
            plainMs += cindel::nowMilliseconds() - a;
        }
        const double n = frames;
        char warm[32] = "-";
        if (warmMs >= 0) std::snprintf(warm, sizeof(warm), "%.1f", warmMs);
        std::printf("%-7s %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %9.1f | %9.1f | %9s ms\n", cindel::qualityName(q),
                    t.buffersMs / n, t.macrocellsMs / n, t.raymarchMs / n, t.upsampleMs / n, t.postMs / n,
                    t.readbackMs / n, t.writeMs / n, t.totalMs / n, plainMs / n, warm);
        std::fflush(stdout);
    }
    cindel::stopGpuRuntime(&rt);
    return 0;
}
