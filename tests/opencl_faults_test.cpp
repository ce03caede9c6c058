// One session of the effect's GPU work against the scripted OpenCL library, with each of its calls
// failing in turn: start-up, the map uploads, frames that run every simulation stage (layer and
// volume sources, both curl noise forms, a snapshot taken and one restored) and every render pass,
// the volume export, a grid resize and a frame at the new side. Each fault must end in its defined
// outcome, the next fault-free frame must render, and every object made must be released once.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "emit/map_upload.h"
#include "fake_opencl/fake_opencl_control.h"
#include "frame/volume_export.h"
#include "gpu/gpu_runtime.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/host.h"
#include "render/render_volume.h"
#include "sim/step.h"
#include "sim_fixture.h"

namespace cindel {
namespace {

constexpr int kW = 64, kH = 40;
// Start-up and a resize make the 13 field buffers first; only those are required.
constexpr int kFieldBuffers = 13;

FrameSettings settings(bool layer, float turbulenceScale, int quality = 4, int debugView = 1) {
    FrameSettings s = simtest::defaultSimSettings();
    s.compWidth = s.outputWidth = kW, s.compHeight = s.outputHeight = kH;
    s.sourcePosition = {32.0f, 20.0f, 0.0f};
    s.flameTear = 0.5f, s.emberAmount = 1.0f, s.turbulenceScale = turbulenceScale;  // 0.1: too fine for the table
    s.sourceLayerPresent = s.customMapPresent = layer ? 1 : 0;
    s.emissionWidth = s.customMapWidth = kW, s.emissionHeight = s.customMapHeight = kH;
    s.emissionBoxX0 = 8, s.emissionBoxY0 = 4, s.emissionBoxX1 = 40, s.emissionBoxY1 = 30;
    s.quality = quality, s.debugView = debugView;
    s.motionBlur = 1, s.motionBlurScale = 1.0f, s.shutterAngle = 180.0f;
    s.heatAmount = s.heatScale = s.bloom = s.lightCast = 1.0f;
    return s;
}

// Whether a phase returns false when its call `entry` fails, given the phase's buffer requests
// before it. Of the buffers, the 13 fields are required; the ring, the levels and the macrocells
// are not. Steps never fail: launch and copy results are not examined, and the auxiliary paths
// fall back. A render's first buffer request is its image buffer.
using Rule = bool (*)(const std::string& entry, int buffersBefore);
// clang-format off
bool startUpRule(const std::string& e, int n) { return e != "clCreateBuffer" || n < kFieldBuffers; }
bool resizeRule(const std::string& e, int n) { return e == "clCreateBuffer" && n < kFieldBuffers; }
bool anyCall(const std::string&, int) { return true; }
bool noCall(const std::string&, int) { return false; }
bool imageOrRead(const std::string& e, int n) { return e == "clEnqueueReadBuffer" || (e == "clCreateBuffer" && n == 0); }
bool readBack(const std::string& e, int) { return e == "clEnqueueReadBuffer"; }
// clang-format on

struct Phase {
    const char* name;
    Rule fails;
    bool losesRuntime;  // failing, it leaves the runtime not ready
    std::function<bool()> run;
};

class OpenClFaults : public ::testing::Test {
protected:
    FakeClControls fake{FAKE_OPENCL_PATH};
    GpuRuntime rt;
    // Room for the maps and frames at twice the size, which grow every buffer that follows them.
    std::vector<float> map = std::vector<float>(size_t(kW) * kH * 4, 0.5f), out = std::vector<float>(map.size() * 4);

    void SetUp() override {
        ASSERT_NE(fake.callLogKernel, nullptr) << "cannot open " << FAKE_OPENCL_PATH << " or its controls";
        resetClApiForTests();
        setClLibraryPath(FAKE_OPENCL_PATH);
        setVolumeSink([](const CindelVolumeFields*, void*) {}, nullptr, 0);
    }
    void TearDown() override {
        setVolumeSink(nullptr, nullptr, 0);
        stopGpuRuntime(&rt);
        setClLibraryPath(nullptr);
        resetClApiForTests();
    }
    bool step(int side, int frame, const FrameSettings& s) {
        return stepSimulationOnGrid(rt, side, frame, 1 / 24.0f, s);
    }
    bool render(const FrameSettings& s, int scale = 1) {
        return renderVolume(rt, out.data(), kW * scale, kH * scale, kW * scale * 16, 32, s);
    }

    // clang-format off
    const std::vector<Phase> session = {
        {"start-up", startUpRule, true, [&] { return startGpuRuntime(&rt) && rt.ready; }},
        {"emission map upload", anyCall, false, [&] { return uploadEmissionMap(&rt, map.data(), kW, kH); }},
        {"custom map upload", anyCall, false, [&] { return uploadCustomMap(&rt, map.data(), kW, kH); }},
        {"frame 0, layer source, lattice noise", noCall, false, [&] { return step(128, 0, settings(true, 1)); }},
        {"frame 1, volume source, direct noise", noCall, false, [&] { return step(128, 1, settings(false, 0.1f)); }},
        {"frame 0 from its snapshot", noCall, false, [&] { return step(128, 0, settings(false, 0.1f)); }},
        {"march, blur, heat, bloom, light cast", imageOrRead, false, [&] { return render(settings(true, 1)); }},
        {"half-resolution march", imageOrRead, false, [&] { return render(settings(true, 1, 2)); }},
        {"slice view", imageOrRead, false, [&] { return render(settings(true, 1, 4, 2)); }},
        {"resize to 32, frame 0", resizeRule, true, [&] { return step(32, 0, settings(true, 1)); }},
        {"volume export", readBack, false, [&] { return exportHeldFields(rt, settings(true, 1), 0); }},
        {"larger emission map", anyCall, false, [&] { return uploadEmissionMap(&rt, map.data(), 2 * kW, 2 * kH); }},
        {"larger frame at 32", imageOrRead, false, [&] { return render(settings(true, 1), 2); }},
    };
    // clang-format on

    // Runs the session; the call-log position where each phase began, then where it ended.
    std::vector<int> runSession(std::vector<bool>& results) {
        std::vector<int> bounds;
        for (const Phase& p : session) {
            bounds.push_back(fake.callLogSize());
            results.push_back(p.run());
        }
        bounds.push_back(fake.callLogSize());
        return bounds;
    }
    // A fault-free frame after whatever happened (on a new runtime where the old one is unusable);
    // the kernels it launched.
    std::set<std::string> nextFrame() {
        fake.failCall(0, CL_SUCCESS);
        if (!rt.ready) stopGpuRuntime(&rt), startGpuRuntime(&rt);
        EXPECT_TRUE(rt.ready);
        const int from = fake.callLogSize();
        EXPECT_TRUE(uploadEmissionMap(&rt, map.data(), kW, kH));
        EXPECT_TRUE(step(32, 1, settings(true, 1)));
        EXPECT_TRUE(render(settings(true, 1)));
        std::set<std::string> kernels;
        for (int i = from; i < fake.callLogSize(); ++i)
            if (std::string(fake.callLogEntry(i)) == "clEnqueueNDRangeKernel") kernels.insert(fake.callLogKernel(i));
        return kernels;
    }
    void expectAllReleased() {
        stopGpuRuntime(&rt);
        for (int k = 0; k < kFakeClKindCount; ++k) EXPECT_EQ(fake.liveCount(k), 0) << "kind " << k;
        EXPECT_EQ(fake.badReleaseCount(), 0);
        EXPECT_EQ(fake.invalidHandleCount(), 0) << "a call was given a released or foreign handle";
    }
};

TEST_F(OpenClFaults, EveryCallOfASessionFailingInTurnEndsInItsDefinedOutcome) {
    fake.reset();
    std::vector<bool> clean;
    const std::vector<int> bounds = runSession(clean);
    for (size_t p = 0; p < session.size(); ++p) EXPECT_TRUE(clean[p]) << session[p].name;
    const int calls = bounds.back();
    const std::vector<std::string> entries = fake.calls();
    std::vector<std::string> kernelsOf;
    for (int i = 0; i < calls; ++i) kernelsOf.emplace_back(fake.callLogKernel(i));
    const std::set<std::string> cleanKernels = nextFrame();
    const auto cleanShape = std::tuple(usableMultigridLevels(rt.grid), rt.macrocells.count, rt.macrocells.countL1);
    for (const char* k : {"cd_emit_layer_slab", "cd_curl_noise_lut", "cd_restrict", "cd_raymarch",
                          "cd_build_macrocell_L1", "cd_mb_reconstruct", "cd_heat_distort", "cd_bloom_upsample_add"})
        EXPECT_EQ(cleanKernels.count(k), 1u) << k << ": the next frame must run every stage";
    expectAllReleased();
    ASSERT_FALSE(HasFailure());

    // Every call but the releases; a failing creation both with null and, as some drivers do, with
    // an object beside the error.
    std::vector<std::pair<int, bool>> runs;
    for (int f = 0; f < calls; ++f) {
        if (entries[size_t(f)].rfind("clRelease", 0) == 0) continue;
        runs.emplace_back(f, false);
        if (entries[size_t(f)].rfind("clCreate", 0) == 0) runs.emplace_back(f, true);
    }
    for (auto run = runs.begin(); run != runs.end() && !HasFailure(); ++run) {  // the first failing run tells
        const auto [f, withObject] = *run;
        const std::string& failed = entries[size_t(f)];
        size_t at = 0;
        while (bounds[at + 1] <= f) ++at;
        const Phase& hit = session[at];
        SCOPED_TRACE("call " + std::to_string(f) + " " + failed + "(" + kernelsOf[size_t(f)] + ") in " + hit.name +
                     (withObject ? ", with an object" : ""));
        fake.reset();
        fake.setErrorWithObject(withObject);
        fake.failCall(f + 1, CL_OUT_OF_RESOURCES);
        std::vector<bool> results;
        const std::vector<int> ran = runSession(results);
        EXPECT_EQ(fake.callLogEntry(f), failed) << "the session is not deterministic";
        int buffersBefore = 0;
        for (int i = bounds[at]; i < f; ++i) buffersBefore += entries[size_t(i)] == "clCreateBuffer";
        const bool phaseFails = hit.fails(failed, buffersBefore), lost = phaseFails && hit.losesRuntime;
        for (size_t p = 0; p < session.size(); ++p) {
            const bool expected = p < at || (p == at ? !phaseFails : !lost);
            EXPECT_EQ(results[p], expected) << session[p].name;
            EXPECT_TRUE(p <= at || !lost || ran[p + 1] == ran[p]) << session[p].name << " ran without a runtime";
        }
        EXPECT_EQ(rt.ready, !lost);
        const std::set<std::string> kernels = nextFrame();
        // A dropped coarse level or macrocell level stays dropped until the next resize, by design.
        if (std::tuple(usableMultigridLevels(rt.grid), rt.macrocells.count, rt.macrocells.countL1) == cleanShape) {
            EXPECT_EQ(kernels, cleanKernels) << "a pass did not come back after the fault";
        }
        expectAllReleased();
    }
    std::printf("[SWEEP] %d calls in the session; %zu runs, each failing one\n", calls, runs.size());
}

// A snapshot is resumed from only when its six copies into the slot and its six copies back were all
// enqueued: a slot that holds parts of two states, or a grid half restored, starts frame 0 afresh.
TEST_F(OpenClFaults, ARefusedSnapshotCopyIsNeverResumedFrom) {
    const FrameSettings s = settings(false, 0.1f);  // no lattice table, whose fill copies too
    for (int copy = 0; copy <= 12; ++copy) {
        SCOPED_TRACE(copy);
        fake.reset();
        fake.failEntryCalls("clEnqueueCopyBuffer", copy, copy, CL_OUT_OF_RESOURCES);
        ASSERT_TRUE(startGpuRuntime(&rt) && rt.ready);
        EXPECT_TRUE(step(128, 0, s) && step(128, 1, s) && step(128, 0, s));  // snapshot of 0, then back to it
        EXPECT_EQ(std::tuple(rt.grid.lastCall.resumed, rt.grid.lastCall.stepsRun),
                  std::tuple(copy == 0, copy == 0 ? 0 : 1));
        nextFrame();
        expectAllReleased();
    }
}

// Through the host's commands: whatever call fails, the smart render answers PF_Err_NONE and a frame
// the renderer could not write gets the no-GPU fill; global set-down releases everything.
TEST_F(OpenClFaults, TheRenderCommandSucceedsAndAnUnwrittenFrameIsFilled) {
    const ProcessState saved = processState();
    setVolumeSink(nullptr, nullptr, 0);  // its reads would come before the frame's
    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"clCreateCommandQueue", true}, {"clEnqueueNDRangeKernel", false}, {"clEnqueueReadBuffer", true}};
    for (const auto& [entry, filled] : cases) {
        SCOPED_TRACE(entry);
        fake.reset();
        fake.failEntryCalls(entry, 1, 1, CL_OUT_OF_RESOURCES);
        processState().gpuAvailable = false;
        minihost::Host host{&effectMain};
        ASSERT_EQ(host.start(), PF_Err_NONE);
        minihost::World out(8, 6, 8);
        EXPECT_EQ(host.renderFrame(host.addInstance(8, 6), out), PF_Err_NONE);
        const PF_Pixel8 p = out.pixel8(3, 2);
        EXPECT_EQ(p.alpha == 255 && p.red == 60 && p.green == 0 && p.blue == 0, filled);
        EXPECT_EQ(host.globalSetdown(), PF_Err_NONE);
        expectAllReleased();
    }
    processState() = saved;
}

}  // namespace
}  // namespace cindel
