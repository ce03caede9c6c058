// GPU runtime start-up, teardown, grid sizing and the render driver's scratch images against the
// scripted OpenCL library of tests/fake_opencl, which counts live objects per kind, so a leak or a
// double release shows as a number, not as a crash on some driver.
#include "gpu/gpu_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "fake_opencl/fake_opencl_control.h"
#include "frame/frame_settings.h"
#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/kernel_library.h"
#include "gpu/kernel_table.h"
#include "render/render_volume.h"
#include "sim/sim_grid.h"

namespace cindel {
namespace {

// The fake, opened at the path the loader opens, so both reach one instance.
FakeClControls& fakeAt(const char* path) {
    static FakeClControls complete(FAKE_OPENCL_PATH), noImage(FAKE_OPENCL_NO_IMAGE_PATH);
    return std::strcmp(path, FAKE_OPENCL_PATH) == 0 ? complete : noImage;
}

// Written out from the grid's rules, not computed by the code under test.
constexpr int kFieldCount = 13;
constexpr int kBuffersPerSlot = 6;
constexpr int kBuffersPerCoarseLevel = 4;
// At side 128: the fields, 8 slots, levels 64, 32 and 16, macrocells 32³ and 8³.
constexpr int kStartupBufferCount = kFieldCount + 8 * kBuffersPerSlot + 3 * kBuffersPerCoarseLevel + 2;

size_t cube(int n) {
    return size_t(n) * size_t(n) * size_t(n);
}

std::vector<std::pair<cl_mem, int>> fieldsWithFloatsPerCell(const SimGrid& g) {
    return {{g.density, 1},      {g.temperature, 1}, {g.fuel, 1},     {g.densityNext, 1},  {g.temperatureNext, 1},
            {g.fuelNext, 1},     {g.ember, 1},       {g.velocity, 4}, {g.velocityNext, 4}, {g.pressure, 1},
            {g.pressureNext, 1}, {g.divergence, 1},  {g.curl, 4}};
}
std::vector<cl_mem> slotBuffers(const SimSnapshot& s) {
    return {s.density, s.temperature, s.fuel, s.ember, s.velocity, s.pressure};
}
std::vector<cl_mem> levelBuffers(const SimGrid& g, size_t k) {
    return {g.mgPressure[k], g.mgPressureNext[k], g.mgRhs[k], g.mgResidual[k]};
}
std::vector<cl_mem> allGridHandles(const GpuRuntime& rt) {
    std::vector<cl_mem> out;
    for (const auto& f : fieldsWithFloatsPerCell(rt.grid)) out.push_back(f.first);
    for (const SimSnapshot& s : rt.grid.slots)
        for (cl_mem m : slotBuffers(s)) out.push_back(m);
    for (size_t k = 0; k < kMaxMultigridLevels; ++k)
        for (cl_mem m : levelBuffers(rt.grid, k)) out.push_back(m);
    out.push_back(rt.macrocells.max);
    out.push_back(rt.macrocells.maxL1);
    return out;
}

void expectZeroRecord(const GpuRuntime& rt) {
    EXPECT_FALSE(rt.ready || rt.platform || rt.device || rt.context || rt.queue || rt.program);
    for (cl_kernel k : rt.kernels) EXPECT_EQ(k, nullptr);
    for (cl_mem m : allGridHandles(rt)) EXPECT_EQ(m, nullptr);
    EXPECT_EQ(std::tie(rt.grid.N, rt.grid.slotCount, rt.grid.mgLevels, rt.grid.lastFrame, rt.macrocells.count),
              std::make_tuple(0, 0, 0, -1, 0));
    EXPECT_TRUE(rt.grid.settingsHash == 0 && rt.emissionMap.handle == nullptr && rt.emissionMap.width == 0);
}

constexpr cl_device_type GPU = CL_DEVICE_TYPE_GPU;
constexpr cl_device_type CPU = CL_DEVICE_TYPE_CPU;
constexpr cl_device_type ACCEL = CL_DEVICE_TYPE_ACCELERATOR;
using Platforms = std::vector<std::vector<cl_device_type>>;

class GpuRuntimeTest : public ::testing::Test {
protected:
    FakeClControls& fake = fakeAt(FAKE_OPENCL_PATH);
    GpuRuntime rt;

    void SetUp() override {
        ASSERT_NE(fake.callLogEntry, nullptr) << "cannot open " << FAKE_OPENCL_PATH << " or its controls";
        resetClApiForTests();
        setClLibraryPath(FAKE_OPENCL_PATH);
        fake.reset();
    }
    void TearDown() override {
        stopGpuRuntime(&rt);
        setClLibraryPath(nullptr);
        resetClApiForTests();
    }

    void scriptPlatforms(const Platforms& platforms) {
        fake.setPlatformCount(static_cast<int>(platforms.size()));
        for (size_t p = 0; p < platforms.size(); ++p)
            for (cl_device_type type : platforms[p]) ASSERT_GE(fake.addDevice(static_cast<int>(p), type), 0);
    }
    void startReady() {
        ASSERT_TRUE(startGpuRuntime(&rt));
        ASSERT_TRUE(rt.ready);
        ASSERT_EQ(rt.grid.N, kStartupGridSide);
    }
    void expectAllReleased() {
        for (int k = 0; k < kFakeClKindCount; ++k) EXPECT_EQ(fake.liveCount(k), 0) << "kind " << k;
        EXPECT_EQ(fake.badReleaseCount(), 0);
    }
};

// ---------------------------------------------------------------------------------------------
// The loader.

TEST_F(GpuRuntimeTest, ALibraryWithoutCreateImageOrNoneAtAllIsRefusedBeforeAnyCall) {
    FakeClControls& partial = fakeAt(FAKE_OPENCL_NO_IMAGE_PATH);
    ASSERT_NE(partial.handle, nullptr);
    ASSERT_EQ(dlsym(partial.handle, "clCreateImage"), nullptr);
    partial.reset();
    for (const char* path : {FAKE_OPENCL_NO_IMAGE_PATH, "/nonexistent/cindel-test/libOpenCL.so"}) {
        SCOPED_TRACE(path);
        setClLibraryPath(path);
        EXPECT_FALSE(loadClApi());
        EXPECT_FALSE(loadClApi()) << "a repeat must not report success on a partly filled table";
        EXPECT_EQ(cl().clGetPlatformIDs, nullptr);
        EXPECT_TRUE(startGpuRuntime(&rt));
        EXPECT_FALSE(rt.ready);
        stopGpuRuntime(&rt);
        expectZeroRecord(rt);
    }
    EXPECT_EQ(partial.callLogSize(), 0);
    setClLibraryPath(FAKE_OPENCL_PATH);
    startReady();
    EXPECT_EQ(partial.callLogSize(), 0) << "the refused library must not be called into later";
    stopGpuRuntime(&rt);
    setClLibraryPath("/nonexistent/cindel-test/libOpenCL.so");
    startReady();  // the loaded library is kept: opening it again would find nothing here
    EXPECT_EQ(fake.loadCount(), 1);
}

// ---------------------------------------------------------------------------------------------
// The device rule: the first GPU over at most eight platforms; a CPU only where allowed and no GPU.

TEST_F(GpuRuntimeTest, DeviceRuleOverThePlatforms) {
    struct Case {
        Platforms platforms;
        bool fallback;
        int platform, device;  // -1: none found
    };
    Platforms tenWithGpuOnNinth(10), tenWithGpuOnEighth(10);
    tenWithGpuOnNinth[8] = {GPU, CPU};
    tenWithGpuOnEighth[7] = tenWithGpuOnEighth[8] = {GPU};
    const Case cases[] = {
        {{{CPU}, {GPU}}, false, 1, 0},           {{{CPU}, {ACCEL}, {CPU, GPU}}, true, 2, 1},
        {{{CPU}, {ACCEL}, {CPU}}, false, -1, 0}, {{{ACCEL}, {CPU}, {CPU}}, true, 1, 0},
        {tenWithGpuOnNinth, true, -1, 0},        {tenWithGpuOnEighth, false, 7, 0},
    };
    ASSERT_TRUE(loadClApi());
    for (size_t c = 0; c < std::size(cases); ++c) {
        SCOPED_TRACE(c);
        fake.reset();
        scriptPlatforms(cases[c].platforms);
        GpuRuntime probe;
        EXPECT_EQ(chooseDevice(probe, cases[c].fallback), cases[c].platform >= 0);
        const bool found = cases[c].platform >= 0;
        EXPECT_EQ(probe.platform, found ? fake.platformHandle(cases[c].platform) : nullptr);
        EXPECT_EQ(probe.device, found ? fake.deviceHandle(cases[c].platform, cases[c].device) : nullptr);
        ASSERT_GT(fake.deviceQueryCount(), 0);
        for (int q = 0; q < fake.deviceQueryCount(); ++q) {
            EXPECT_GE(fake.deviceQueryPlatform(q), 0);
            EXPECT_LT(fake.deviceQueryPlatform(q), 8) << "only the first eight platforms are asked";
            EXPECT_TRUE(cases[c].fallback || fake.deviceQueryType(q) == GPU) << "a CPU was asked for";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Start-up first zeroes the record; a failed step leaves it not ready, keeping only a program that
// built, and set-down returns it to new. (Every call of start-up failing in turn: OpenClFaults.)

TEST_F(GpuRuntimeTest, AFailedStartUpZeroesTheRecordAndKeepsOnlyABuiltProgram) {
    const std::pair<const char*, int> failures[] = {{"no platform", 0}, {"clBuildProgram", 1}, {"clCreateBuffer", 5}};
    for (const auto& [entry, nth] : failures) {  // the fifth buffer is a field
        SCOPED_TRACE(entry);
        fake.reset();
        if (nth == 0) fake.setPlatformCount(0);
        fake.failEntryCalls(entry, nth, nth, CL_OUT_OF_RESOURCES);
        rt.grid.lastFrame = 41, rt.grid.settingsHash = 7, rt.macrocells.count = 9;
        EXPECT_TRUE(startGpuRuntime(&rt));
        EXPECT_FALSE(rt.ready);
        EXPECT_EQ(std::tie(rt.grid.lastFrame, rt.grid.settingsHash, rt.macrocells.count, rt.grid.slotCount),
                  std::make_tuple(-1, 0u, 0, 0));
        EXPECT_LE(fake.bufferRequestCount(), kFieldCount) << "no ring or hierarchy without the fields";
        EXPECT_EQ(rt.program != nullptr, nth == 5) << "only a program that built is kept";
        stopGpuRuntime(&rt);
        expectAllReleased();
        expectZeroRecord(rt);
    }
}

// ---------------------------------------------------------------------------------------------
// The kernel set, the ready record and teardown.

TEST_F(GpuRuntimeTest, TheKernelSetIsTheThirtyEightObjectsInTheirOrder) {
    // clang-format off
    const std::string expected =
        "cd_add_volume_source cd_buoyancy cd_advect_velocity cd_divergence cd_pressure_jacobi "
        "cd_gradient_subtract cd_cool cd_cool cd_raymarch cd_slice_render cd_compute_curl "
        "cd_confine_vorticity cd_advect_scalar cd_advect_three_scalars cd_upsample_bilinear "
        "cd_build_macrocell cd_build_macrocell_L1 cd_combust cd_curl_noise cd_shred cd_emit_ember "
        "cd_advect_scalar cd_cool cd_emit_from_layer cd_restrict cd_prolong_add cd_residual cd_apply_forces "
        "cd_extract_bright cd_blur_h cd_blur_v cd_bloom_downsample cd_bloom_upsample_add cd_radial_blur "
        "cd_composite_add cd_mb_reconstruct cd_vel_tile_max cd_heat_distort";
    // clang-format on
    startReady();
    std::string made;
    for (int i = 0; i < fake.callLogSize(); ++i)
        if (std::string(fake.callLogEntry(i)) == "clCreateKernel")
            made += std::string(made.empty() ? "" : " ") + fake.callLogKernel(i);
    EXPECT_EQ(made, expected);
    for (int r = 0; r < kKernelRoleCount; ++r) EXPECT_TRUE(kernelRoleRequired(static_cast<KernelRole>(r)));
    // Each role owns its object, also the roles that share a kernel function.
    std::vector<cl_kernel> objects(rt.kernels.begin(), rt.kernels.end());
    std::sort(objects.begin(), objects.end());
    EXPECT_NE(objects.front(), nullptr);
    EXPECT_EQ(std::unique(objects.begin(), objects.end()), objects.end());
}

TEST_F(GpuRuntimeTest, AReadyRecordHoldsSide128WithRingHierarchyAndMacrocells) {
    startReady();
    EXPECT_TRUE(fake.contextDevice() == rt.device && fake.buildDevice() == rt.device);
    EXPECT_EQ(fake.queueProperties(), 0u) << "in order, no profiling";
    EXPECT_EQ(std::string(fake.programSource()), std::string(kKernelLibrary));
    EXPECT_STREQ(fake.buildOptions(), "-cl-fast-relaxed-math");
    ASSERT_EQ(fake.bufferRequestCount(), kStartupBufferCount);
    for (int i = 0; i < kStartupBufferCount; ++i) {
        EXPECT_TRUE(fake.bufferRequestFlags(i) == CL_MEM_READ_WRITE && !fake.bufferRequestHadHostPtr(i)) << i;
    }
    for (const auto& [m, floats] : fieldsWithFloatsPerCell(rt.grid))
        EXPECT_EQ(fake.bufferBytes(m), cube(128) * 4 * floats);
    EXPECT_EQ(std::tuple(rt.grid.slotCount, usableMultigridLevels(rt.grid), rt.macrocells.count, rt.macrocells.countL1),
              std::tuple(8, 4, 32, 8));
    EXPECT_TRUE(fake.bufferBytes(rt.macrocells.max) == cube(32) * 4 && fake.bufferBytes(rt.macrocells.maxL1) == cube(8) * 4);
    EXPECT_EQ(rt.grid.mgSize, (std::array<int, 4>{128, 64, 32, 16}));
    for (const char* entry : {"clFinish", "clEnqueueFillBuffer", "clEnqueueNDRangeKernel", "clEnqueueWriteBuffer"})
        EXPECT_EQ(fake.callCount(entry), 0) << "start-up issues no work: " << entry;
}

TEST_F(GpuRuntimeTest, SetDownReleasesEveryObjectOnceProgramQueueContextLast) {
    EXPECT_FALSE(startGpuRuntime(nullptr));
    stopGpuRuntime(nullptr);
    stopGpuRuntime(&rt);
    EXPECT_EQ(fake.callLogSize(), 0) << "a never-started record calls nothing";

    startReady();
    ASSERT_TRUE(resizeGrid(rt, 192));
    ASSERT_NE(rt.macrocells.max, nullptr);
    const int before = fake.callLogSize();
    stopGpuRuntime(&rt);
    expectAllReleased();
    expectZeroRecord(rt);
    const std::vector<std::string> calls = fake.calls(before);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"clReleaseProgram", "clReleaseCommandQueue", "clReleaseContext"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "clFinish"), 0);

    startReady();  // a new start-up is back at side 128
}

// ---------------------------------------------------------------------------------------------
// Buffer failures at start-up: the ring, the coarse levels and the macrocells are optional.

TEST_F(GpuRuntimeTest, TheRingTheCoarseLevelsAndTheMacrocellsAreOptional) {
    // Requests in order: the fields, 8 slots of 6, levels 1 (side 64), 2 (32) and 3 (16), then the
    // macrocell levels 0 and 1.
    const int slot3 = kFieldCount + 3 * kBuffersPerSlot, level1 = kFieldCount + 8 * kBuffersPerSlot + 1;
    const int level2 = level1 + kBuffersPerCoarseLevel, macro0 = kStartupBufferCount - 1;
    struct Case {
        int first, last, slots, usableLevels, macro0Count, macro1Count;
    };
    for (const Case& c : {Case{slot3 + 2, slot3 + 2, 0, 4, 32, 8}, Case{level2 + 1, level2 + 1, 8, 2, 32, 8},
                          Case{level1, level2 - 1, 8, 1, 32, 8}, Case{macro0 + 1, macro0 + 1, 8, 4, 32, 0},
                          Case{macro0, macro0, 8, 4, 0, 0}}) {
        SCOPED_TRACE(c.first);
        fake.reset();
        fake.failEntryCalls("clCreateBuffer", c.first, c.last, CL_MEM_OBJECT_ALLOCATION_FAILURE);
        fake.setErrorWithObject(1);  // some drivers hand back an object with the error
        startReady();
        EXPECT_EQ(rt.grid.slotCount, c.slots);
        for (const SimSnapshot& s : rt.grid.slots)
            for (cl_mem m : slotBuffers(s)) EXPECT_EQ(m == nullptr, c.slots == 0);
        EXPECT_EQ(rt.grid.mgLevels, 4) << "the sizes stay; missing buffers limit the solve";
        EXPECT_EQ(usableMultigridLevels(rt.grid), c.usableLevels);
        EXPECT_EQ(std::tuple(rt.macrocells.count, rt.macrocells.countL1), std::tuple(c.macro0Count, c.macro1Count));
        EXPECT_EQ(rt.macrocells.maxL1 == nullptr, c.macro1Count == 0) << "no handle without its count";
        EXPECT_TRUE(c.slots == 0 || fake.bufferRequestBytes(level2 - 1) == cube(32) * 4) << "the request order";
        stopGpuRuntime(&rt);
        expectAllReleased();
    }
}

// ---------------------------------------------------------------------------------------------
// Grid sizing and resize.

TEST_F(GpuRuntimeTest, ResizeSizesEveryBufferForTheNewSide) {
    struct Case {
        int N;
        std::array<int, 4> levels;  // halved while at least 16, at most four; 0 past the last
        int slots;                  // 8 up to 192, 6 up to 256, else 4
    };
    const Case cases[] = {{32, {32, 16, 0, 0}, 8},      {33, {33, 16, 0, 0}, 8},      {40, {40, 20, 0, 0}, 8},
                          {96, {96, 48, 24, 0}, 8},     {192, {192, 96, 48, 24}, 8},  {193, {193, 96, 48, 24}, 6},
                          {256, {256, 128, 64, 32}, 6}, {257, {257, 128, 64, 32}, 4}, {512, {512, 256, 128, 64}, 4},
                          {128, {128, 64, 32, 16}, 8}};
    startReady();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.N);
        const int levels = static_cast<int>(std::count_if(c.levels.begin(), c.levels.end(), [](int s) { return s; }));
        rt.grid.lastFrame = 12, rt.grid.settingsHash = 99;
        const int requestsBefore = fake.bufferRequestCount();
        ASSERT_TRUE(resizeGrid(rt, c.N));
        EXPECT_EQ(std::tuple(rt.ready, rt.grid.N, rt.grid.lastFrame, rt.grid.settingsHash),
                  std::tuple(true, c.N, -1, 0u));
        for (const auto& [m, floats] : fieldsWithFloatsPerCell(rt.grid))
            EXPECT_EQ(fake.bufferBytes(m), cube(c.N) * 4 * floats);
        ASSERT_EQ(rt.grid.slotCount, c.slots);
        for (int s = 0; s < kMaxSnapshotSlots; ++s) {
            const std::vector<cl_mem> bufs = slotBuffers(rt.grid.slots[size_t(s)]);
            for (size_t b = 0; b < bufs.size(); ++b)
                EXPECT_EQ(fake.bufferBytes(bufs[b]), s < c.slots ? cube(c.N) * (b == 4 ? 16 : 4) : 0) << s << " " << b;
        }
        EXPECT_EQ(rt.grid.mgSize, c.levels);
        EXPECT_EQ(usableMultigridLevels(rt.grid), levels);
        for (size_t k = 1; k < kMaxMultigridLevels; ++k)
            for (cl_mem m : levelBuffers(rt.grid, k))
                EXPECT_EQ(fake.bufferBytes(m), c.levels[k] ? cube(c.levels[k]) * 4 : 0);
        EXPECT_EQ(fake.liveCount(kFakeClBuffer), fake.bufferRequestCount() - requestsBefore)
            << "every buffer of the old side was released";
    }
    EXPECT_EQ(fake.badReleaseCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// The render driver's scratch images: a frame's OpenCL calls show which passes ran.

TEST_F(GpuRuntimeTest, OnlyLightCastIsSkippedWhenTheSecondScratchImageIsMissing) {
    constexpr int kW = 64, kH = 40;
    // Heat distortion and bloom run through the first scratch image, light cast the second.
    auto settings = [](bool heatAndBloom, bool lightCast) {
        FrameSettings s;
        resetFrameSettings(s);
        s.compWidth = kW, s.compHeight = kH, s.quality = 2, s.opacity = 1.0f, s.debugView = 1;  // no motion blur
        s.heatScale = 1.0f, s.heatAmount = s.bloom = heatAndBloom ? 1.0f : 0.0f, s.lightCast = lightCast;
        return s;
    };
    int requestsBefore = 0;
    std::vector<float> out(size_t(kW) * kH * 4);
    // The calls of one frame on a fresh runtime; `failRequest` is the frame's failing buffer request.
    auto frameCalls = [&](const FrameSettings& s, int failRequest) {
        stopGpuRuntime(&rt);
        fake.reset();
        startReady();
        requestsBefore = fake.bufferRequestCount();
        const int failing = failRequest > 0 ? requestsBefore + failRequest : 0;
        fake.failEntryCalls("clCreateBuffer", failing, failing, CL_MEM_OBJECT_ALLOCATION_FAILURE);
        const int from = fake.callLogSize();
        EXPECT_TRUE(renderVolume(rt, out.data(), kW, kH, kW * 16, 32, s));
        return fake.calls(from);
    };
    const std::vector<std::string> everyBuffer = frameCalls(settings(true, false), 0);
    ASSERT_GT(frameCalls(settings(true, true), 0).size(), everyBuffer.size()) << "light cast adds calls";
    ASSERT_GT(everyBuffer.size(), frameCalls(settings(false, false), 0).size()) << "heat and bloom add calls";
    // The frame's buffer requests begin with the image, then the two scratch images.
    EXPECT_EQ(frameCalls(settings(true, true), 3), everyBuffer) << "heat and bloom ran, light cast was skipped";
    EXPECT_EQ(fake.bufferRequestBytes(requestsBefore + 2), size_t(kW) * kH * 16) << "a scratch image failed";
    EXPECT_TRUE(rt.render.postA.handle && !rt.render.postB.handle);
}

}  // namespace
}  // namespace cindel
