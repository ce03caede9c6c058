// The least-time estimate of tools/work_estimate.h.
#include "tools/work_estimate.h"

#include <algorithm>
#include <cstdio>

#include "tools/render_command.h"

namespace cli {

int gridSideOfVoxelSize(int voxelSize) {
    switch (voxelSize) {
        case 2: return 192;
        case 3: return 256;
        case 4: return 384;
        default: return 128;
    }
}

// Samples per ray × rays per pixel, a quarter of the pixels where the quality marches at half
// resolution.
double marchSamplesPerPixel(int quality) {
    switch (quality) {
        case 1: return 48 / 4.0;
        case 3: return 128 * 4.0;
        case 4: return 256 * 9.0;
        default: return 96 / 4.0;
    }
}

WorkEstimate estimateWork(const RenderWork& work) {
    WorkEstimate e;
    const double frames = double(work.lastFrame) - work.firstFrame + 1;
    e.simulationSteps = std::min(double(work.firstFrame) + 1, 600.0) + (frames - 1);
    const double side = gridSideOfVoxelSize(work.voxelSize);
    e.gridCells = side * side * side;
    e.marchSamples = frames * double(work.width) * work.height * marchSamplesPerPixel(work.quality);
    e.leastSeconds = e.simulationSteps * e.gridCells / kCeilingCellStepsPerSecond +
                     e.marchSamples / kCeilingMarchSamplesPerSecond;
    return e;
}

std::string describeWork(const RenderWork& work, const WorkEstimate& e) {
    if (e.leastSeconds <= kWarnedWorkSeconds) return {};
    // Past two days in days: the command's "1h 02m 03s" would not read, and its whole seconds need
    // not fit a Windows long.
    char least[64];
    if (e.leastSeconds >= 2 * 86400.0)
        std::snprintf(least, sizeof least, "%.3g days", e.leastSeconds / 86400.0);
    else
        std::snprintf(least, sizeof least, "%s", formatDuration(e.leastSeconds).c_str());
    char text[320];
    std::snprintf(text, sizeof text,
                  "%d frames of %d x %d pixels ask for %.3g simulation steps of a %d^3 grid and %.3g ray-march "
                  "samples: at least %s on the fastest device",
                  work.lastFrame - work.firstFrame + 1, work.width, work.height, e.simulationSteps,
                  gridSideOfVoxelSize(work.voxelSize), e.marchSamples, least);
    return text;
}

}  // namespace cli
