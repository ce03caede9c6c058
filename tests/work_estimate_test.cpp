// Tests of the command's least-time estimate of a render: its tables equal the effect's (grid side
// per Voxel Size, march samples per Quality), the frame count, size and grid enter as the
// estimate says, a long run is warned about and one that cannot finish is refused by the command
// before its first frame (exit 2, nothing written).
#include <gtest/gtest.h>

#include <chrono>

#include "cli_runner.h"
#include "render/render_volume.h"
#include "sim/step.h"
#include "tools/errors.h"
#include "tools/work_estimate.h"

namespace cli {
namespace {

TEST(WorkEstimate, TablesAreTheEffects) {
    for (int voxelSize = 0; voxelSize <= 5; ++voxelSize)
        EXPECT_EQ(gridSideOfVoxelSize(voxelSize), cindel::gridSideForVoxelSize(voxelSize)) << voxelSize;
    for (int quality = 0; quality <= 5; ++quality) {
        const cindel::RenderQuality q = cindel::renderQualityFor(quality);
        const double perPixel =
            double(q.sampleCount) * q.ssaaCount * q.ssaaCount / (q.isHalfResolution ? 4.0 : 1.0);
        EXPECT_EQ(marchSamplesPerPixel(quality), perPixel) << quality;
    }
}

TEST(WorkEstimate, StepsPixelsAndCellsAddUp) {
    RenderWork work;
    work.firstFrame = 700;  // re-simulates up to the 600-step cap, then one step a frame
    work.lastFrame = 799;
    work.width = 960;
    work.height = 540;
    work.quality = 1;
    work.voxelSize = 1;
    const WorkEstimate e = estimateWork(work);
    EXPECT_EQ(e.simulationSteps, 600 + 99);
    EXPECT_EQ(e.gridCells, 128.0 * 128 * 128);
    EXPECT_EQ(e.marchSamples, 100.0 * 960 * 540 * 12);
    EXPECT_DOUBLE_EQ(e.leastSeconds, 699.0 * 128 * 128 * 128 / 1e10 + 100.0 * 960 * 540 * 12 / 1e11);
    EXPECT_EQ(describeWork(work, e), "");  // well under an hour

    work.firstFrame = 0;
    work.lastFrame = 999999;  // a million frames at Ultra, 4K, 384^3: about 55 h at the ceiling
    work.width = 3840;
    work.height = 2160;
    work.quality = 4;
    work.voxelSize = 4;
    const WorkEstimate big = estimateWork(work);
    EXPECT_GT(big.leastSeconds, kRefusedWorkSeconds);
    const std::string text = describeWork(work, big);
    EXPECT_NE(text.find("1000000 frames of 3840 x 2160"), std::string::npos) << text;
    EXPECT_NE(text.find("384^3"), std::string::npos) << text;

    work.lastFrame = 99999;  // a tenth: warned, not refused
    const WorkEstimate longer = estimateWork(work);
    EXPECT_GT(longer.leastSeconds, kWarnedWorkSeconds);
    EXPECT_LT(longer.leastSeconds, kRefusedWorkSeconds);
    EXPECT_NE(describeWork(work, longer), "");
}

class WorkLimit : public CindelRun {};

TEST_F(WorkLimit, ARunThatCannotFinishIsRefusedBeforeItsFirstFrame) {
    const std::string scene = writeScene("long.json", R"({
        "composition": { "width": 1920, "height": 1080, "duration": 10000000 },
        "layers": [ { "type": "effect", "params": { "Voxel Size": "Tiny" } } ] })");
    const auto start = std::chrono::steady_clock::now();
    const Outcome run = cindel({"render", scene, "--out", path("out"), "--quality", "High"});
    EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
    EXPECT_NE(run.err.find("long.json: 10000000 frames of 1920 x 1080"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(path("out/frame_0000.png")));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
}

}  // namespace
}  // namespace cli
