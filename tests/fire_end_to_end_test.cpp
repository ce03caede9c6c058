// The whole effect, end to end: the plug-in library loaded by minihost, driven through EffectMain
// with its parameters at their registered defaults, simulating and rendering real frames on the
// machine's OpenCL device. After 16 frames the layer must show fire where fire belongs: around
// and above the Source Position (up is −y), warm on average, and nothing far below the source.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "minihost/host.h"
#include "params/param_index.h"

using namespace minihost;

namespace {

// A small layer keeps the march cheap; it is 16:9 like the compositions the effect is made for.
constexpr A_long kLayerW = 96, kLayerH = 54;


// Whether the plug-in will find an OpenCL device, asked the way its start-up asks (the plug-in
// keeps its own copy of the runtime, so this process's copy only looks).
bool machineHasOpenClDevice() {
    if (!cindel::loadClApi()) return false;
    cindel::GpuRuntime probe;
    return cindel::chooseDevice(probe, cindel::kCpuFallbackBuiltIn);
}

TEST(FireEndToEnd, DefaultParametersAfterSixteenFramesShowFireAboveTheSource) {
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect would only fill its frames";
    std::unique_ptr<Host> host = Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    Instance& instance = host->addInstance(kLayerW, kLayerH);
    instance.setPopup(cindel::kParamQuality, 1);  // Draft
    // Voxel Size Large (128³), not the default Small (256³): 40 s instead of 5 minutes on a 2-core
    // CPU device. Every other parameter keeps its default.
    instance.setPopup(cindel::kParamVoxelSize, 1);

    World out(kLayerW, kLayerH, 8);
    for (int f = 0; f < 16; ++f) {
        host->settings().setFrame(f);
        ASSERT_EQ(host->renderFrame(instance, out), PF_Err_NONE) << "frame " << f;
    }

    // The Source Position defaults to the layer's centre. Sums of alpha: over the frame, in a
    // column around the source from well above it to a little below, and far below it.
    const double sourceX = 0.5 * kLayerW, sourceY = 0.5 * kLayerH;
    double total = 0, nearSource = 0, farBelow = 0, rgb[3] = {0, 0, 0};
    for (A_long y = 0; y < kLayerH; ++y)
        for (A_long x = 0; x < kLayerW; ++x) {
            const PF_Pixel8& p = out.pixel8(x, y);
            const double a = p.alpha / 255.0;
            total += a;
            const bool inColumn = std::abs(x - sourceX) <= 0.2 * kLayerW;
            if (inColumn && y >= sourceY - 0.45 * kLayerH && y <= sourceY + 0.1 * kLayerH) nearSource += a;
            if (y > sourceY + 0.25 * kLayerH) farBelow += a;
            rgb[0] += p.red, rgb[1] += p.green, rgb[2] += p.blue;
        }
    // The no-GPU fill is opaque dark red everywhere; a frame like that is not fire.
    const PF_Pixel8& corner = out.pixel8(0, 0);
    ASSERT_FALSE(corner.alpha == 255 && corner.red == 60 && corner.green == 0 && corner.blue == 0)
        << "the frame is the no-GPU fill: did the OpenCL runtime start?";

    EXPECT_GT(total, 1.0) << "no visible fire";
    EXPECT_GT(nearSource, 0.9 * total) << "fire away from its source";
    EXPECT_GT(out.pixel8(static_cast<A_long>(sourceX), static_cast<A_long>(sourceY) - 2).alpha, 64)
        << "no fire just above the source";
    EXPECT_LT(farBelow, 0.02 * total) << "fire far below the source";
    EXPECT_TRUE(rgb[0] >= rgb[1] && rgb[1] >= rgb[2] && rgb[0] > rgb[2]) << "warm on average: red, green, blue";
    EXPECT_TRUE(out.paddingIntact());
    EXPECT_EQ(host->shutdown(), PF_Err_NONE);
}

}  // namespace
