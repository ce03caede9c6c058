// Simulation benchmark: milliseconds per Full step by stage at the grid sides the effect uses, the
// cost of a cold request for frame 48 (resumed from the snapshot ring) and of sequential playback.
// Stage times wait for the queue after every stage, so their sum is a little above the plain
// step time printed beside it.
// With --kernels it also times every kernel of the timed steps on its own (the queue drained
// before and after each launch) and prints them by kernel. With --layer it times only the layer
// emission from an HD map, in its single-kernel and two-pass forms, for three patterns. With
// --compare FILE it runs a 48-frame shot at each side and writes its fields to FILE-<side>, or,
// where that file exists, prints how far the shot's fields are from it (a change of last bits).
//   sim_bench [--kernels] [--layer] [--compare FILE] [side ...]      (default: 128 256)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "emit/map_upload.h"
#include "gpu/buffers.h"
#include "gpu/launch.h"
#include "sim/layer_emission.h"
#include "sim/step.h"

namespace {

std::vector<float> readFloats(cindel::GpuRuntime& rt, cl_mem m, size_t floats) {
    std::vector<float> out(floats);
    cindel::cl().clEnqueueReadBuffer(rt.queue, m, CL_TRUE, 0, floats * sizeof(float), out.data(), 0, nullptr, nullptr);
    return out;
}

void forget(cindel::SimGrid& g) {
    for (cindel::SimSnapshot& s : g.slots) s.frame = -1;
    g.nextSlot = 0;
    g.lastFrame = -1;
    g.settingsHash = 0;
    g.liveEdited = false;
}

// Milliseconds per layer emission at side N from a 1920 × 1080 map: an opaque ellipse over about
// a third of the composition, for Full Burn, Noise and Noise with the Dissolve burn, in both forms.
void benchLayerEmission(cindel::GpuRuntime& rt, int side) {
    if (!cindel::resizeGrid(rt, side)) {
        std::fprintf(stderr, "sim_bench: side %d could not be allocated\n", side);
        return;
    }
    const int w = 1920, h = 1080;
    std::vector<float> map(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = (x - 0.5 * w) / (0.35 * w), dy = (y - 0.5 * h) / (0.4 * h);
            map[static_cast<size_t>(y) * w + x] = dx * dx + dy * dy < 1.0 ? 1.0f : 0.0f;
        }
    }
    if (!cindel::uploadEmissionMap(&rt, map.data(), w, h)) {
        std::fprintf(stderr, "sim_bench: the map could not be uploaded\n");
        return;
    }
    cindel::FrameSettings s = bench::benchSettings(w, h);
    s.sourceLayerPresent = 1;
    s.emissionWidth = w;
    s.emissionHeight = h;
    s.sourceSizeX = 1.0f;
    s.burnProgress = 0.5f;
    s.burnWidth = 0.2f;
    s.burnNoise = 0.3f;
    struct Case {
        const char* name;
        int pattern, burn;
    };
    const Case cases[] = {{"Full Burn", 2, 0}, {"Noise", 3, 0}, {"Noise + Dissolve", 3, 3}};
    const float szG = 0.5f * static_cast<float>(side);
    const int reps = 10;
    std::printf("layer emission at %d^3 from a %dx%d map, slab %.1f cells, ms per launch\n", side, w, h,
                static_cast<double>(s.sourceSizeZ));
    for (const Case& c : cases) {
        s.patternType = c.pattern;
        s.burnMode = c.burn;
        double ms[2] = {0, 0};
        for (int form = 0; form < 2; ++form) {
            cindel::setLayerEmissionTwoPassEnabled(form == 1);
            cindel::enqueueLayerEmission(rt, s, 0, szG, 1.0f, 1.0f / 24.0f);  // compilation
            cindel::cl().clFinish(rt.queue);
            const double a = cindel::nowMilliseconds();
            for (int r = 0; r < reps; ++r) cindel::enqueueLayerEmission(rt, s, 0, szG, 1.0f, 1.0f / 24.0f);
            cindel::cl().clFinish(rt.queue);
            ms[form] = (cindel::nowMilliseconds() - a) / reps;
        }
        cindel::setLayerEmissionTwoPassEnabled(true);
        std::printf("  %-18s single %8.2f ms   two-pass %8.2f ms\n", c.name, ms[0], ms[1]);
    }
}

// Frames 0 to 47 from an empty grid, then the fields against those saved at `path`: per field
// the largest absolute difference, the largest relative one over cells above a thousandth of
// the field's largest magnitude, and the count of cells whose bits differ.
void compareShot(cindel::GpuRuntime& rt, int side, const std::string& path) {
    const cindel::FrameSettings s = bench::benchSettings(1920, 1080);
    forget(rt.grid);
    for (int f = 0; f < 48; ++f) {
        if (!cindel::stepSimulationOnGrid(rt, side, f, 1.0f / 24.0f, s)) {
            std::fprintf(stderr, "sim_bench: side %d could not be allocated\n", side);
            return;
        }
    }
    const cindel::SimGrid& g = rt.grid;
    const size_t cells = static_cast<size_t>(side) * side * side;
    const struct {
        const char* name;
        cl_mem m;
        size_t floats;
    } fields[] = {{"velocity", g.velocity, 4 * cells},
                  {"temperature", g.temperature, cells},
                  {"density", g.density, cells},
                  {"fuel", g.fuel, cells}};
    std::vector<float> now;
    for (const auto& f : fields) {
        const std::vector<float> part = readFloats(rt, f.m, f.floats);
        now.insert(now.end(), part.begin(), part.end());
    }
    const std::string file = path + "-" + std::to_string(side);
    std::vector<float> saved(now.size());
    FILE* in = std::fopen(file.c_str(), "rb");
    const bool have = in && std::fread(saved.data(), sizeof(float), saved.size(), in) == saved.size();
    if (in) std::fclose(in);
    if (!have) {
        FILE* out = std::fopen(file.c_str(), "wb");
        const bool written = out && std::fwrite(now.data(), sizeof(float), now.size(), out) == now.size();
        if (out) std::fclose(out);
        std::printf("grid %d^3: the shot's fields %s %s\n", side, written ? "written to" : "could not be written to",
                    file.c_str());
        return;
    }
    std::printf("grid %d^3, frame 47 against %s\n", side, file.c_str());
    size_t at = 0;
    for (const auto& f : fields) {
        double peak = 0, absMax = 0, relMax = 0;
        size_t differ = 0;
        for (size_t i = at; i < at + f.floats; ++i) peak = std::max(peak, std::fabs(double(saved[i])));
        for (size_t i = at; i < at + f.floats; ++i) {
            const double a = saved[i], b = now[i], d = std::fabs(a - b);
            differ += std::memcmp(&saved[i], &now[i], sizeof(float)) != 0;
            absMax = std::max(absMax, d);
            if (std::fabs(a) > 1e-3 * peak) relMax = std::max(relMax, d / std::fabs(a));
        }
        std::printf("  %-12s max |a| %10.4g   max abs diff %10.3g   max rel diff %10.3g   cells differing %zu of %zu\n",
                    f.name, peak, absMax, relMax, differ, f.floats);
        at += f.floats;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sides;
    bool perKernel = false;
    bool layerOnly = false;
    std::string compare;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--kernels") == 0) {
            perKernel = true;
        } else if (std::strcmp(argv[i], "--compare") == 0 && i + 1 < argc) {
            compare = argv[++i];
        } else if (std::strcmp(argv[i], "--layer") == 0) {
            layerOnly = true;
        } else {
            sides.push_back(std::atoi(argv[i]));
        }
    }
    if (sides.empty()) sides = {128, 256};

    cindel::GpuRuntime& rt = cindel::gpuRuntime();
    const double t0 = cindel::nowMilliseconds();
    cindel::startGpuRuntime(&rt);
    const double startMs = cindel::nowMilliseconds() - t0;
    if (!rt.ready) {
        std::fprintf(stderr, "sim_bench: the GPU runtime did not start (no OpenCL device?)\n");
        return 1;
    }
    bench::printHeader("sim_bench: Full simulation step", rt);
    std::printf("runtime start-up: %.0f ms\n\n", startMs);

    if (layerOnly || !compare.empty()) {
        for (int side : sides) layerOnly ? benchLayerEmission(rt, side) : compareShot(rt, side, compare);
        cindel::stopGpuRuntime(&rt);
        return 0;
    }

    const float dt = 1.0f / 24.0f;
    const cindel::FrameSettings s = bench::benchSettings(1920, 1080);
    for (int side : sides) {
        forget(rt.grid);
        // Warm up: kernel compilation at first launch and the first frame's fill.
        if (!cindel::stepSimulationOnGrid(rt, side, 0, dt, s)) {
            std::fprintf(stderr, "sim_bench: side %d could not be allocated\n", side);
            continue;
        }

        // One step, by stage: each frame straight after the last with a changed key continues the
        // held state, so every call is exactly one step.
        cindel::FrameSettings edited = s;
        cindel::SimStageTimes stages;
        const int stepsTimed = 3;
        double stepMs = 0;
        for (int k = 1; k <= stepsTimed; ++k) {
            edited.buoyancy = 1.0f + 0.001f * static_cast<float>(k);
            const double a = cindel::nowMilliseconds();
            cindel::stepSimulationOnGrid(rt, side, k, dt, edited, &stages);
            stepMs += cindel::nowMilliseconds() - a;
        }
        std::vector<cindel::KernelProfileEntry> profile;
        if (perKernel) {
            cindel::resetKernelProfile();
            cindel::setKernelProfiling(true);
            for (int k = stepsTimed + 1; k <= 2 * stepsTimed; ++k) {
                edited.buoyancy = 1.0f + 0.001f * static_cast<float>(k);
                cindel::stepSimulationOnGrid(rt, side, k, dt, edited);
            }
            cindel::setKernelProfiling(false);
            profile = cindel::kernelProfile();
        }

        // Seed the ring with the held state as frame 40, then time what a cold request for
        // frame 48 costs (restore and 8 steps) and ordinary playback of the frames after it.
        forget(rt.grid);
        rt.grid.settingsHash = cindel::simulationKey(s);
        rt.grid.slots[0].frame = 40;
        {
            const size_t scalar = static_cast<size_t>(side) * side * side * sizeof(float);
            cl_mem pairs[6][2] = {
                {rt.grid.density, rt.grid.slots[0].density},   {rt.grid.temperature, rt.grid.slots[0].temperature},
                {rt.grid.fuel, rt.grid.slots[0].fuel},         {rt.grid.ember, rt.grid.slots[0].ember},
                {rt.grid.velocity, rt.grid.slots[0].velocity}, {rt.grid.pressure, rt.grid.slots[0].pressure}};
            for (int i = 0; i < 6; ++i) {
                cindel::cl().clEnqueueCopyBuffer(rt.queue, pairs[i][0], pairs[i][1], 0, 0, i == 4 ? scalar * 4 : scalar,
                                                 0, nullptr, nullptr);
            }
            cindel::cl().clFinish(rt.queue);
        }
        rt.grid.nextSlot = 1;
        double a = cindel::nowMilliseconds();
        cindel::stepSimulationOnGrid(rt, side, 48, dt, s);
        const double coldMs = cindel::nowMilliseconds() - a;
        const int coldSteps = rt.grid.lastCall.stepsRun;

        // Playback of 49 and 50: each resumes from the snapshot of 48.
        double playMs = 0;
        int playSteps = 0;
        const int playFrames = 2;
        for (int f = 49; f < 49 + playFrames; ++f) {
            a = cindel::nowMilliseconds();
            cindel::stepSimulationOnGrid(rt, side, f, dt, s);
            playMs += cindel::nowMilliseconds() - a;
            playSteps += rt.grid.lastCall.stepsRun;
        }

        const double n = stepsTimed;
        std::printf("grid %d^3\n", side);
        std::printf("  step (timed per stage)   %8.1f ms\n", stepMs / n);
        std::printf("    sources+combustion     %8.1f ms\n", stages.sourcesMs / n);
        std::printf("    forces+turbulence      %8.1f ms\n", stages.forcesMs / n);
        std::printf("    main projection        %8.1f ms\n", stages.projectionMs / n);
        std::printf("    advection              %8.1f ms\n", stages.advectionMs / n);
        std::printf("    second projection      %8.1f ms\n", stages.projection2Ms / n);
        std::printf("    decay                  %8.1f ms\n", stages.decayMs / n);
        std::printf("    snapshot               %8.1f ms\n", stages.snapshotMs / n);
        if (perKernel) {
            std::printf("  by kernel, per step: wall, process CPU time (launches)\n");
            for (const cindel::KernelProfileEntry& e : profile) {
                std::printf("    %-34s %8.2f ms %8.2f ms (%d)\n", e.name.c_str(), e.milliseconds / n,
                            e.cpuMilliseconds / n, e.launches / stepsTimed);
            }
        }
        std::printf("  playback per frame       %8.1f ms (frames 49, 50: %d steps in all)\n", playMs / playFrames,
                    playSteps);
        std::printf("  cold request, frame 48   %8.1f ms (restore + %d steps)\n\n", coldMs, coldSteps);
    }
    cindel::stopGpuRuntime(&rt);
    return 0;
}
