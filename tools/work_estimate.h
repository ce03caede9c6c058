// The least time a render of a scene can take, from what it asks for before the first frame: the
// simulation steps the frames need (one per frame in order, the first frame re-simulating from
// frame 0 up to the effect's 600-step cap) over the grid of the Voxel Size, and the ray-march
// samples of every frame (pixels × rays per pixel × samples per ray of the Quality).
//
// The rates are a ceiling chosen well above what current GPUs do (1e10 cell updates and 1e11 march
// samples a second; an estimate, not a measurement), so the estimate is a lower bound. A run whose
// lower bound is more than a day cannot finish in any reasonable time and is refused before the
// first frame; one over an hour is warned about, since it will take many hours on a real device.
#pragma once

#include <string>

namespace cli {

constexpr double kCeilingCellStepsPerSecond = 1e10;
constexpr double kCeilingMarchSamplesPerSecond = 1e11;
constexpr double kRefusedWorkSeconds = 24 * 3600.0;
constexpr double kWarnedWorkSeconds = 3600.0;

struct RenderWork {
    int firstFrame = 0;
    int lastFrame = 0;
    int width = 0;  // the effect layer's pixels
    int height = 0;
    int quality = 2;    // the Quality popup, 1 Draft … 4 Ultra
    int voxelSize = 3;  // the Voxel Size popup, 1 Large … 4 Tiny
};

struct WorkEstimate {
    double simulationSteps = 0;
    double gridCells = 0;
    double marchSamples = 0;  // over all frames
    double leastSeconds = 0;
};

WorkEstimate estimateWork(const RenderWork& work);

// "" when the estimate is within the warning threshold; else a sentence saying what the run asks
// for and its least time.
std::string describeWork(const RenderWork& work, const WorkEstimate& estimate);

// The effect's tables (sim/step.h, render/render_volume.h), which the command does not link;
// tests hold them equal.
int gridSideOfVoxelSize(int voxelSize);
double marchSamplesPerPixel(int quality);

}  // namespace cli
