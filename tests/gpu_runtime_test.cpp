// GPU runtime start-up, teardown and grid sizing, run against the scripted OpenCL library of
// tests/fake_opencl instead of a device: the loader's refusal of an incomplete or missing library
// and its load-once rule, the device rule over the platforms, the build log line, the kernel set,
// every object released at set-down, and what buffer failures at start-up and at a grid resize
// leave behind. Each test points the loader at the fake, forgets any loaded table and resets the
// fake's script, so tests do not depend on one another; the fake counts live objects per kind,
// so a leak or a double release shows as a number, not as a crash on some driver.
#include "gpu/gpu_runtime.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_opencl/fake_opencl_control.h"
#include "frame/frame_settings.h"
#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/kernel_library.h"
#include "gpu/kernel_table.h"
#include "host/log.h"
#include "render/macrocells.h"
#include "render/render_volume.h"
#include "sim/sim_grid.h"

namespace cindel {
namespace {

// ---------------------------------------------------------------------------------------------
// Reaching the fake: the test opens the same file the loader opens, so both see one instance.

#define FAKE_CL_CONTROLS(X)                                                                        \
    X(reset, fakeClReset)                                                                          \
    X(loadCount, fakeClLoadCount)                                                                  \
    X(setPlatformCount, fakeClSetPlatformCount)                                                    \
    X(addDevice, fakeClAddDevice)                                                                  \
    X(platformHandle, fakeClPlatformHandle)                                                        \
    X(deviceHandle, fakeClDeviceHandle)                                                            \
    X(deviceQueryCount, fakeClDeviceQueryCount)                                                    \
    X(deviceQueryPlatform, fakeClDeviceQueryPlatform)                                              \
    X(deviceQueryType, fakeClDeviceQueryType)                                                      \
    X(failEntry, fakeClFailEntry)                                                                  \
    X(setBuild, fakeClSetBuild)                                                                    \
    X(programSource, fakeClProgramSource)                                                          \
    X(programSourceLength, fakeClProgramSourceLength)                                              \
    X(buildOptions, fakeClBuildOptions)                                                            \
    X(buildDevice, fakeClBuildDevice)                                                              \
    X(queueProperties, fakeClQueueProperties)                                                      \
    X(contextDevice, fakeClContextDevice)                                                          \
    X(setKernelFailAt, fakeClSetKernelFailAt)                                                      \
    X(kernelRequestCount, fakeClKernelRequestCount)                                                \
    X(kernelName, fakeClKernelName)                                                                \
    X(kernelMadeCount, fakeClKernelMadeCount)                                                      \
    X(setBufferFailAt, fakeClSetBufferFailAt)                                                      \
    X(setBufferFailAbove, fakeClSetBufferFailAbove)                                                \
    X(setBufferFailRange, fakeClSetBufferFailRange)                                                \
    X(setBufferErrorWithObject, fakeClSetBufferErrorWithObject)                                    \
    X(bufferRequestCount, fakeClBufferRequestCount)                                                \
    X(bufferRequestBytes, fakeClBufferRequestBytes)                                                \
    X(bufferRequestFlags, fakeClBufferRequestFlags)                                                \
    X(bufferRequestHadHostPtr, fakeClBufferRequestHadHostPtr)                                      \
    X(bufferBytes, fakeClBufferBytes)                                                              \
    X(liveCount, fakeClLiveCount)                                                                  \
    X(createdCount, fakeClCreatedCount)                                                            \
    X(releasedCount, fakeClReleasedCount)                                                          \
    X(badReleaseCount, fakeClBadReleaseCount)                                                      \
    X(callCount, fakeClCallCount)                                                                  \
    X(callLogSize, fakeClCallLogSize)                                                              \
    X(callLogEntry, fakeClCallLogEntry)

struct FakeCl {
    void* handle = nullptr;
#define FAKE_CL_MEMBER(member, symbol) decltype(&::symbol) member = nullptr;
    FAKE_CL_CONTROLS(FAKE_CL_MEMBER)
#undef FAKE_CL_MEMBER

    // Opened once per process and never closed, like the loader's own handle.
    static FakeCl& at(const char* path) {
        static FakeCl complete(FAKE_OPENCL_PATH);
        static FakeCl noImage(FAKE_OPENCL_NO_IMAGE_PATH);
        return std::strcmp(path, FAKE_OPENCL_PATH) == 0 ? complete : noImage;
    }

    int liveTotal() const {
        int total = 0;
        for (int k = 0; k < kFakeClKindCount; ++k) total += liveCount(k);
        return total;
    }
    std::vector<std::string> calls(int from = 0) const {
        std::vector<std::string> out;
        for (int i = from; i < callLogSize(); ++i) out.emplace_back(callLogEntry(i));
        return out;
    }

private:
    explicit FakeCl(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle) return;
#define FAKE_CL_RESOLVE(member, symbol) member = reinterpret_cast<decltype(member)>(dlsym(handle, #symbol));
        FAKE_CL_CONTROLS(FAKE_CL_RESOLVE)
#undef FAKE_CL_RESOLVE
    }
};

// ---------------------------------------------------------------------------------------------
// The debug lines, captured through the log hook.

std::vector<std::string>& loggedLines() {
    static std::vector<std::string> lines;
    return lines;
}

void captureLine(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(static_cast<size_t>(std::max(n, 0)), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    loggedLines().push_back(line);
}

std::string formatted(const char* format, const void* a, const void* b) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

// ---------------------------------------------------------------------------------------------
// Sizes the tests expect, written out from the grid's rules rather than computed by the code
// under test.

constexpr int kFieldCount = 13;
constexpr int kSnapshotBuffersPerSlot = 6;
constexpr int kBuffersPerCoarseLevel = 4;
// At side 128: 13 fields, 8 slots of 6, levels 64, 32 and 16 with 4 each; no macrocells.
constexpr int kStartupBufferCount = kFieldCount + 8 * kSnapshotBuffersPerSlot + 3 * kBuffersPerCoarseLevel;

size_t cube(int n) { return static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n); }

struct NamedField {
    const char* name;
    cl_mem handle;
    int floatsPerCell;
};

std::vector<NamedField> fieldsOf(const SimGrid& g) {
    return {{"density", g.density, 1},         {"temperature", g.temperature, 1},
            {"fuel", g.fuel, 1},               {"densityNext", g.densityNext, 1},
            {"temperatureNext", g.temperatureNext, 1}, {"fuelNext", g.fuelNext, 1},
            {"ember", g.ember, 1},             {"velocity", g.velocity, 4},
            {"velocityNext", g.velocityNext, 4}, {"pressure", g.pressure, 1},
            {"pressureNext", g.pressureNext, 1}, {"divergence", g.divergence, 1},
            {"curl", g.curl, 4}};
}

std::vector<cl_mem> slotBuffers(const SimSnapshot& s) {
    return {s.density, s.temperature, s.fuel, s.ember, s.velocity, s.pressure};
}

// Every buffer handle the grid and the macrocells hold, live or not.
std::vector<cl_mem> allGridHandles(const GpuRuntime& rt) {
    std::vector<cl_mem> out;
    for (const NamedField& f : fieldsOf(rt.grid)) out.push_back(f.handle);
    for (const SimSnapshot& s : rt.grid.slots) {
        for (cl_mem m : slotBuffers(s)) out.push_back(m);
    }
    for (size_t k = 0; k < kMaxMultigridLevels; ++k) {
        for (cl_mem m : {rt.grid.mgPressure[k], rt.grid.mgPressureNext[k], rt.grid.mgRhs[k], rt.grid.mgResidual[k]}) {
            out.push_back(m);
        }
    }
    out.push_back(rt.macrocells.max);
    out.push_back(rt.macrocells.maxL1);
    return out;
}

void expectZeroRecord(const GpuRuntime& rt) {
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(rt.platform, nullptr);
    EXPECT_EQ(rt.device, nullptr);
    EXPECT_EQ(rt.context, nullptr);
    EXPECT_EQ(rt.queue, nullptr);
    EXPECT_EQ(rt.program, nullptr);
    for (size_t i = 0; i < rt.kernels.size(); ++i) EXPECT_EQ(rt.kernels[i], nullptr) << "kernel " << i;
    for (cl_mem m : allGridHandles(rt)) EXPECT_EQ(m, nullptr);
    const SimGrid& g = rt.grid;
    EXPECT_EQ(g.N, 0);
    EXPECT_EQ(g.slotCount, 0);
    EXPECT_EQ(g.nextSlot, 0);
    for (const SimSnapshot& s : g.slots) EXPECT_EQ(s.frame, -1);
    EXPECT_EQ(g.mgLevels, 0);
    for (int size : g.mgSize) EXPECT_EQ(size, 0);
    EXPECT_EQ(g.lastFrame, -1);
    EXPECT_EQ(g.settingsHash, 0u);
    EXPECT_EQ(g.lastInstanceId, 0u);
    EXPECT_EQ(g.lastCall.requestedFrame, -1);
    EXPECT_EQ(g.lastCall.stepsRun, 0);
    EXPECT_EQ(rt.macrocells.count, 0);
    EXPECT_EQ(rt.macrocells.countL1, 0);
    for (const MapBuffer* map : {&rt.emissionMap, &rt.customMap}) {
        EXPECT_EQ(map->handle, nullptr);
        EXPECT_EQ(map->capacity, 0u);
        EXPECT_EQ(map->width, 0);
        EXPECT_EQ(map->height, 0);
    }
}

// The roles whose kernel the library defines, in table order: what start-up must create.
std::vector<KernelRole> rolesInLibrary() {
    std::vector<KernelRole> out;
    for (const KernelSpec& spec : kernelSpecs()) {
        if (kernelLibraryHas(spec.name)) out.push_back(spec.role);
    }
    return out;
}

class GpuRuntimeTest : public ::testing::Test {
protected:
    FakeCl& fake = FakeCl::at(FAKE_OPENCL_PATH);
    GpuRuntime rt;

    void SetUp() override {
        ASSERT_NE(fake.handle, nullptr) << "cannot open " << FAKE_OPENCL_PATH;
        ASSERT_NE(fake.callLogEntry, nullptr) << "the fake lacks its control functions";
        resetClApiForTests();
        setClLibraryPath(FAKE_OPENCL_PATH);
        fake.reset();
        loggedLines().clear();
        setLogSink(captureLine);
    }

    void TearDown() override {
        stopGpuRuntime(&rt);
        setLogSink(nullptr);
        setClLibraryPath(nullptr);
        resetClApiForTests();
    }

    // Platforms given as device-type lists, e.g. {{CPU}, {GPU}}.
    void scriptPlatforms(const std::vector<std::vector<cl_device_type>>& platforms) {
        fake.setPlatformCount(static_cast<int>(platforms.size()));
        for (size_t p = 0; p < platforms.size(); ++p) {
            for (cl_device_type type : platforms[p]) ASSERT_GE(fake.addDevice(static_cast<int>(p), type), 0);
        }
    }

    void startReady() {
        ASSERT_TRUE(startGpuRuntime(&rt));
        ASSERT_TRUE(rt.ready);
        ASSERT_EQ(rt.grid.N, kStartupGridSide);
    }

    // Everything made is released again, each exactly once.
    void expectAllReleased() {
        for (int k = 0; k < kFakeClKindCount; ++k) {
            EXPECT_EQ(fake.liveCount(k), 0) << "kind " << k;
        }
        EXPECT_EQ(fake.badReleaseCount(), 0);
    }
};

constexpr cl_device_type GPU = CL_DEVICE_TYPE_GPU;
constexpr cl_device_type CPU = CL_DEVICE_TYPE_CPU;
constexpr cl_device_type ACCEL = CL_DEVICE_TYPE_ACCELERATOR;

// ---------------------------------------------------------------------------------------------
// The loader.

using ClLoaderTest = GpuRuntimeTest;

TEST_F(ClLoaderTest, RefusesALibraryWithoutCreateImageThenLoadsACompleteOne) {
    FakeCl& partial = FakeCl::at(FAKE_OPENCL_NO_IMAGE_PATH);
    ASSERT_NE(partial.handle, nullptr);
    ASSERT_EQ(dlsym(partial.handle, "clCreateImage"), nullptr) << "the variant must lack clCreateImage";
    ASSERT_NE(dlsym(partial.handle, "clEnqueueFillBuffer"), nullptr);
    partial.reset();

    setClLibraryPath(FAKE_OPENCL_NO_IMAGE_PATH);
    EXPECT_FALSE(loadClApi());
    EXPECT_FALSE(loadClApi()) << "a repeat call must not report success on a table with a missing slot";
    const void* const* slots = reinterpret_cast<const void* const*>(&cl());
    for (int i = 0; i < kClApiEntryCount; ++i) EXPECT_EQ(slots[i], nullptr) << kClApiEntryNames[i];

    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(rt.context, nullptr);
    EXPECT_EQ(partial.callLogSize(), 0) << "start-up must stop before any OpenCL call";
    stopGpuRuntime(&rt);
    EXPECT_EQ(partial.callLogSize(), 0);

    setClLibraryPath(FAKE_OPENCL_PATH);
    EXPECT_TRUE(loadClApi());
    startReady();
    EXPECT_EQ(partial.callLogSize(), 0) << "the refused library must not be called into later";
    EXPECT_GT(fake.callCount("clCreateContext"), 0);
}

TEST_F(ClLoaderTest, MissingLibraryIsRefused) {
    setClLibraryPath("/nonexistent/cindel-test/libOpenCL-missing.so");
    EXPECT_FALSE(loadClApi());
    EXPECT_EQ(cl().clGetPlatformIDs, nullptr);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    stopGpuRuntime(&rt);
    expectZeroRecord(rt);
    EXPECT_EQ(fake.callLogSize(), 0);
}

TEST_F(ClLoaderTest, EverySlotHoldsTheLibraryEntryOfItsName) {
    const char* const expected[kClApiEntryCount] = {
        "clGetPlatformIDs",  "clGetDeviceIDs",         "clCreateContext",     "clCreateCommandQueue",
        "clCreateProgramWithSource", "clBuildProgram", "clGetProgramBuildInfo", "clCreateKernel",
        "clCreateBuffer",    "clCreateImage",          "clEnqueueFillBuffer", "clSetKernelArg",
        "clEnqueueNDRangeKernel", "clEnqueueReadBuffer", "clEnqueueWriteBuffer", "clEnqueueCopyBuffer",
        "clReleaseMemObject", "clReleaseKernel",       "clReleaseProgram",    "clReleaseCommandQueue",
        "clReleaseContext",  "clFinish"};
    ASSERT_TRUE(loadClApi());
    const void* const* slots = reinterpret_cast<const void* const*>(&cl());
    for (int i = 0; i < kClApiEntryCount; ++i) {
        EXPECT_STREQ(kClApiEntryNames[i], expected[i]);
        const void* symbol = dlsym(fake.handle, expected[i]);
        ASSERT_NE(symbol, nullptr) << expected[i];
        EXPECT_EQ(slots[i], symbol) << "slot " << i << " should hold " << expected[i];
    }
    // The named members, not only the raw slots, reach the right functions.
    EXPECT_EQ(reinterpret_cast<void*>(cl().clCreateImage), dlsym(fake.handle, "clCreateImage"));
    EXPECT_EQ(reinterpret_cast<void*>(cl().clFinish), dlsym(fake.handle, "clFinish"));
    EXPECT_EQ(reinterpret_cast<void*>(cl().clCreateBuffer), dlsym(fake.handle, "clCreateBuffer"));
}

TEST_F(ClLoaderTest, SecondSetUpAfterSetDownReusesTheLoadedTable) {
    const int loadsBefore = fake.loadCount();
    startReady();
    stopGpuRuntime(&rt);
    // If the second start-up opened the library again it would find nothing at this path.
    setClLibraryPath("/nonexistent/cindel-test/libOpenCL-missing.so");
    startReady();
    EXPECT_EQ(fake.callCount("clGetPlatformIDs"), 4) << "both start-ups must have run on the fake";
    EXPECT_EQ(fake.createdCount(kFakeClContext), 2);
    EXPECT_EQ(fake.loadCount(), loadsBefore);
    EXPECT_EQ(fake.loadCount(), 1) << "the fake is initialised once per process";
    EXPECT_TRUE(loadClApi());
}

// ---------------------------------------------------------------------------------------------
// The device rule.

using DeviceChoiceTest = GpuRuntimeTest;

TEST_F(DeviceChoiceTest, CpuOnlyFirstPlatformAndGpuSecondTakesTheSecond) {
    scriptPlatforms({{CPU}, {GPU}});
    startReady();
    EXPECT_EQ(rt.platform, fake.platformHandle(1));
    EXPECT_EQ(rt.device, fake.deviceHandle(1, 0));
    EXPECT_EQ(fake.contextDevice(), rt.device);
    EXPECT_EQ(fake.buildDevice(), rt.device);
    EXPECT_EQ(fake.queueProperties(), 0u) << "in order, no profiling";
    // GPUs only were asked for: the CPU of platform 0 was never considered.
    ASSERT_EQ(fake.deviceQueryCount(), 2);
    for (int q = 0; q < 2; ++q) {
        EXPECT_EQ(fake.deviceQueryPlatform(q), q);
        EXPECT_EQ(fake.deviceQueryType(q), GPU);
    }
    ASSERT_FALSE(loggedLines().empty());
    EXPECT_EQ(loggedLines()[0], formatted("  Platform handle: %p   Device handle: %p\n", fake.platformHandle(1),
                                          fake.deviceHandle(1, 0)));
    // The fake answers no info queries, so the names line says it cannot tell.
    ASSERT_GE(loggedLines().size(), 2u);
    EXPECT_EQ(loggedLines()[1], "  Platform: ?   Device: ?\n");
}

TEST_F(DeviceChoiceTest, AGpuIsPreferredToAnEarlierCpuEvenWithFallback) {
    scriptPlatforms({{CPU}, {ACCEL}, {CPU, GPU}});
    ASSERT_TRUE(loadClApi());
    ASSERT_TRUE(chooseDevice(rt, true));
    EXPECT_EQ(rt.platform, fake.platformHandle(2));
    EXPECT_EQ(rt.device, fake.deviceHandle(2, 1));
}

TEST_F(DeviceChoiceTest, NoGpuWithoutFallbackFindsNothingAndNeverAsksForACpu) {
    scriptPlatforms({{CPU}, {ACCEL}, {CPU}});
    ASSERT_TRUE(loadClApi());
    EXPECT_FALSE(chooseDevice(rt, false));
    EXPECT_EQ(rt.device, nullptr);
    EXPECT_EQ(rt.platform, nullptr);
    ASSERT_EQ(fake.deviceQueryCount(), 3);
    for (int q = 0; q < 3; ++q) EXPECT_EQ(fake.deviceQueryType(q), GPU);
}

TEST_F(DeviceChoiceTest, NoGpuWithFallbackTakesTheFirstCpu) {
    scriptPlatforms({{ACCEL}, {CPU}, {CPU}});
    ASSERT_TRUE(loadClApi());
    ASSERT_TRUE(chooseDevice(rt, true));
    EXPECT_EQ(rt.platform, fake.platformHandle(1));
    EXPECT_EQ(rt.device, fake.deviceHandle(1, 0));
}

TEST_F(DeviceChoiceTest, StartUpFollowsTheBuildsFallbackSetting) {
    scriptPlatforms({{CPU}});
    ASSERT_TRUE(startGpuRuntime(&rt));
#if defined(CINDEL_CPU_FALLBACK)
    static_assert(kCpuFallbackBuiltIn);
    EXPECT_TRUE(rt.ready);
    EXPECT_EQ(rt.device, fake.deviceHandle(0, 0));
    EXPECT_EQ(fake.contextDevice(), fake.deviceHandle(0, 0));
#else
    static_assert(!kCpuFallbackBuiltIn);
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(rt.device, nullptr);
    EXPECT_EQ(fake.createdCount(kFakeClContext), 0);
    EXPECT_TRUE(loggedLines().empty()) << "no device, no handle line";
#endif
}

TEST_F(DeviceChoiceTest, OnlyTheFirstEightPlatformsAreAsked) {
    // Ten platforms; the only device of any kind sits on the ninth.
    std::vector<std::vector<cl_device_type>> platforms(10);
    platforms[8] = {GPU, CPU};
    scriptPlatforms(platforms);
    ASSERT_TRUE(loadClApi());
    EXPECT_FALSE(chooseDevice(rt, true));
    EXPECT_FALSE(chooseDevice(rt, false));
    ASSERT_GT(fake.deviceQueryCount(), 0);
    std::vector<int> asked;
    for (int q = 0; q < fake.deviceQueryCount(); ++q) {
        EXPECT_GE(fake.deviceQueryPlatform(q), 0) << "a handle that is not one of the platforms was asked";
        EXPECT_LT(fake.deviceQueryPlatform(q), 8);
        asked.push_back(fake.deviceQueryPlatform(q));
    }
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    EXPECT_EQ(asked.size(), 8u) << "each of the first eight platforms is asked";

    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(fake.createdCount(kFakeClContext), 0);
}

TEST_F(DeviceChoiceTest, AGpuOnTheEighthPlatformIsFound) {
    std::vector<std::vector<cl_device_type>> platforms(10);
    platforms[7] = {GPU};
    platforms[8] = {GPU};
    scriptPlatforms(platforms);
    startReady();
    EXPECT_EQ(rt.platform, fake.platformHandle(7));
    EXPECT_EQ(rt.device, fake.deviceHandle(7, 0));
}

TEST_F(DeviceChoiceTest, NoPlatformOrAFailedPlatformQueryEndsNotReady) {
    fake.setPlatformCount(0);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(fake.deviceQueryCount(), 0);
    stopGpuRuntime(&rt);

    fake.reset();
    fake.failEntry("clGetPlatformIDs", CL_OUT_OF_HOST_MEMORY);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(fake.deviceQueryCount(), 0);
    EXPECT_EQ(fake.createdCount(kFakeClContext), 0);
    EXPECT_TRUE(loggedLines().empty());
}

// ---------------------------------------------------------------------------------------------
// Context, queue and program.

using StartUpTest = GpuRuntimeTest;

TEST_F(StartUpTest, AFailedContextQueueOrProgramStepEndsNotReadyAndLeaksNothing) {
    for (const char* entry : {"clCreateContext", "clCreateCommandQueue", "clCreateProgramWithSource"}) {
        SCOPED_TRACE(entry);
        fake.reset();
        fake.failEntry(entry, CL_OUT_OF_RESOURCES);
        EXPECT_TRUE(startGpuRuntime(&rt));
        EXPECT_FALSE(rt.ready);
        EXPECT_EQ(fake.callCount(entry), 1);
        EXPECT_EQ(fake.callCount("clBuildProgram"), 0) << "start-up stops at the failed step";
        EXPECT_EQ(fake.kernelRequestCount(), 0);
        EXPECT_EQ(fake.bufferRequestCount(), 0);
        stopGpuRuntime(&rt);
        expectAllReleased();
        expectZeroRecord(rt);
    }
}

TEST_F(StartUpTest, BuildsTheWholeLibraryTextWithFastRelaxedMath) {
    startReady();
    EXPECT_EQ(fake.callCount("clCreateProgramWithSource"), 1);
    EXPECT_EQ(std::string(fake.programSource()), std::string(kKernelLibrary));
    EXPECT_EQ(fake.programSourceLength(), std::strlen(kKernelLibrary));
    EXPECT_STREQ(fake.buildOptions(), "-cl-fast-relaxed-math");
    EXPECT_NE(rt.program, nullptr);
}

TEST_F(StartUpTest, BuildLogOfReportedSize500HasNoTruncationSuffix) {
    const std::string log(600, 'L');
    fake.setBuild(0, log.c_str(), 500);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    ASSERT_GE(loggedLines().size(), 3u);
    EXPECT_EQ(loggedLines()[2], "Build log (first 500 chars):\n" + std::string(500, 'L') + "\n");
}

TEST_F(StartUpTest, BuildLogOfReportedSize501GetsTheTruncationSuffix) {
    const std::string log(600, 'L');
    fake.setBuild(0, log.c_str(), 501);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    ASSERT_GE(loggedLines().size(), 3u);
    EXPECT_EQ(loggedLines()[2], "Build log (first 500 chars):\n" + std::string(500, 'L') + "...[truncated]\n");
}

TEST_F(StartUpTest, AFailedBuildKeepsNoProgramAndIsAnnotatedByKernelFile) {
    fake.setBuild(0, "<source>:1:7: error: expected ';'", static_cast<size_t>(-1));
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(rt.program, nullptr);
    EXPECT_EQ(fake.liveCount(kFakeClProgram), 0) << "a program that did not build is not kept";
    EXPECT_EQ(fake.kernelRequestCount(), 0);
    EXPECT_EQ(fake.bufferRequestCount(), 0);
    ASSERT_GE(loggedLines().size(), 4u);
    EXPECT_EQ(loggedLines()[2], "Build log (first 500 chars):\n<source>:1:7: error: expected ';'\n");
    const KernelSourcePiece first = kernelSourcePieces().front();
    EXPECT_NE(loggedLines()[3].find(std::string(first.file) + ":1:7: error"), std::string::npos) << loggedLines()[3];
    stopGpuRuntime(&rt);
    expectAllReleased();
}

// ---------------------------------------------------------------------------------------------
// The kernel set.

using KernelSetTest = GpuRuntimeTest;

TEST_F(KernelSetTest, CreatedInTableOrderForEveryRoleTheLibraryDefines) {
    startReady();
    const std::vector<KernelRole> roles = rolesInLibrary();
    ASSERT_EQ(fake.kernelMadeCount(), static_cast<int>(roles.size()));
    EXPECT_EQ(fake.kernelRequestCount(), static_cast<int>(roles.size())) << "no kernel asked for outside the library";
    for (size_t i = 0; i < roles.size(); ++i) {
        EXPECT_STREQ(fake.kernelName(static_cast<int>(i)), kernelSpec(roles[i]).name) << "creation " << i;
    }
    for (const KernelSpec& spec : kernelSpecs()) {
        const bool inLibrary = std::find(roles.begin(), roles.end(), spec.role) != roles.end();
        EXPECT_EQ(kernelRoleRequired(spec.role), inLibrary) << spec.name;
        EXPECT_EQ(rt.kernel(spec.role) != nullptr, inLibrary) << spec.name;
    }
    // Each role owns its object, also the roles that share a kernel function.
    std::vector<cl_kernel> made;
    for (cl_kernel k : rt.kernels) {
        if (k) made.push_back(k);
    }
    std::sort(made.begin(), made.end());
    EXPECT_EQ(std::unique(made.begin(), made.end()), made.end());
    EXPECT_EQ(fake.liveCount(kFakeClKernel), static_cast<int>(roles.size()));
}

TEST_F(KernelSetTest, AKernelThatCannotBeCreatedStopsStartUp) {
    const int required = static_cast<int>(rolesInLibrary().size());
    if (required == 0) GTEST_SKIP() << "the kernel library defines no kernel yet";
    const int failAt = std::min(2, required);
    fake.setKernelFailAt(failAt);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(fake.kernelRequestCount(), failAt) << "start-up stops at the first failure";
    EXPECT_EQ(fake.bufferRequestCount(), 0);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

// ---------------------------------------------------------------------------------------------
// The record after start-up, and teardown.

using LifecycleTest = GpuRuntimeTest;

TEST_F(LifecycleTest, AReadyRecordHoldsTheGridAt128WithRingAndHierarchyButNoMacrocells) {
    startReady();
    ASSERT_EQ(fake.bufferRequestCount(), kStartupBufferCount);
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), kStartupBufferCount);
    for (int i = 0; i < fake.bufferRequestCount(); ++i) {
        EXPECT_EQ(fake.bufferRequestFlags(i), static_cast<cl_mem_flags>(CL_MEM_READ_WRITE)) << "request " << i;
        EXPECT_FALSE(fake.bufferRequestHadHostPtr(i)) << "request " << i;
    }
    for (const NamedField& f : fieldsOf(rt.grid)) {
        EXPECT_EQ(fake.bufferBytes(f.handle), cube(128) * 4 * static_cast<size_t>(f.floatsPerCell)) << f.name;
    }
    EXPECT_EQ(rt.grid.slotCount, 8);
    EXPECT_EQ(rt.grid.nextSlot, 0);
    for (int s = 0; s < 8; ++s) {
        EXPECT_EQ(rt.grid.slots[static_cast<size_t>(s)].frame, -1);
        for (cl_mem m : slotBuffers(rt.grid.slots[static_cast<size_t>(s)])) EXPECT_NE(fake.bufferBytes(m), 0u);
    }
    EXPECT_EQ(rt.grid.mgLevels, 4);
    EXPECT_EQ(rt.grid.mgSize, (std::array<int, 4>{128, 64, 32, 16}));
    EXPECT_EQ(usableMultigridLevels(rt.grid), 4);
    EXPECT_EQ(rt.grid.lastFrame, -1);
    EXPECT_EQ(rt.macrocells.max, nullptr);
    EXPECT_EQ(rt.macrocells.maxL1, nullptr);
    EXPECT_EQ(rt.macrocells.count, 0);
    EXPECT_EQ(rt.macrocells.countL1, 0);
    // Start-up issues no work and never touches the resolved-only entry.
    for (const char* entry : {"clCreateImage", "clFinish", "clEnqueueFillBuffer", "clEnqueueNDRangeKernel",
                              "clEnqueueCopyBuffer", "clEnqueueReadBuffer", "clEnqueueWriteBuffer"}) {
        EXPECT_EQ(fake.callCount(entry), 0) << entry;
    }
}

TEST_F(LifecycleTest, StartUpBeginsFromAZeroRecord) {
    rt.ready = true;
    rt.grid.N = 999;
    rt.grid.lastFrame = 41;
    rt.grid.settingsHash = 7;
    rt.grid.lastInstanceId = 3;
    rt.grid.slotCount = 5;
    rt.macrocells.count = 9;
    rt.emissionMap.width = 12;
    fake.setPlatformCount(0);  // so start-up stops right after zeroing
    EXPECT_TRUE(startGpuRuntime(&rt));
    expectZeroRecord(rt);
}

TEST_F(LifecycleTest, SetDownReleasesEveryObjectOnceThenSetUpStartsAgain) {
    startReady();
    ASSERT_TRUE(resizeGrid(rt, 192));  // so that macrocell buffers exist too
    ASSERT_NE(rt.macrocells.max, nullptr);
    const int created = fake.createdCount(kFakeClBuffer);
    ASSERT_GT(created, kStartupBufferCount);
    const int before = fake.callLogSize();

    stopGpuRuntime(&rt);
    expectAllReleased();
    EXPECT_EQ(fake.releasedCount(kFakeClBuffer), created);
    EXPECT_EQ(fake.releasedCount(kFakeClKernel), fake.createdCount(kFakeClKernel));
    expectZeroRecord(rt);

    // Program, then queue, then context, after every kernel and buffer; no wait on the queue.
    const std::vector<std::string> calls = fake.calls(before);
    ASSERT_GE(calls.size(), 3u);
    const std::vector<std::string> tail(calls.end() - 3, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"clReleaseProgram", "clReleaseCommandQueue", "clReleaseContext"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), std::string("clFinish")), 0);

    startReady();
    EXPECT_EQ(fake.createdCount(kFakeClContext), 2);
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), kStartupBufferCount);
    EXPECT_EQ(rt.macrocells.max, nullptr) << "a new start-up is back at side 128 without macrocells";
    stopGpuRuntime(&rt);
    expectAllReleased();
}

TEST_F(LifecycleTest, SetDownOfANeverStartedRecordCallsNothing) {
    EXPECT_FALSE(startGpuRuntime(nullptr));
    stopGpuRuntime(nullptr);
    stopGpuRuntime(&rt);
    expectZeroRecord(rt);
    EXPECT_EQ(fake.callLogSize(), 0);
}

// ---------------------------------------------------------------------------------------------
// Buffer failures at start-up.

using StartUpBuffersTest = GpuRuntimeTest;

TEST_F(StartUpBuffersTest, AFieldBufferThatCannotBeMadeEndsNotReady) {
    fake.setBufferFailAt(5);
    EXPECT_TRUE(startGpuRuntime(&rt));
    EXPECT_FALSE(rt.ready);
    EXPECT_LE(fake.bufferRequestCount(), kFieldCount) << "no ring or hierarchy after a field failed";
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), fake.bufferRequestCount() - 1);
    EXPECT_EQ(rt.grid.slotCount, 0);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

TEST_F(StartUpBuffersTest, SnapshotBuffersThatCannotBeMadeDropTheRingButStayReady) {
    // The second buffer of slot 3; the driver also hands back an object with its error, which
    // must not be kept either.
    fake.setBufferFailAt(kFieldCount + 3 * kSnapshotBuffersPerSlot + 2);
    fake.setBufferErrorWithObject(1);
    startReady();
    EXPECT_EQ(rt.grid.slotCount, 0);
    EXPECT_EQ(rt.grid.nextSlot, 0);
    for (const SimSnapshot& s : rt.grid.slots) {
        for (cl_mem m : slotBuffers(s)) EXPECT_EQ(m, nullptr);
        EXPECT_EQ(s.frame, -1);
    }
    EXPECT_EQ(usableMultigridLevels(rt.grid), 4) << "the hierarchy does not depend on the ring";
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), kFieldCount + 3 * kBuffersPerCoarseLevel);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

// Index (1-based call number) of the first buffer request of `bytes` in a clean start-up.
int firstStartUpRequestOf(FakeCl& fake, size_t bytes) {
    GpuRuntime probe;
    startGpuRuntime(&probe);
    int found = 0;
    for (int i = 0; i < fake.bufferRequestCount() && !found; ++i) {
        if (fake.bufferRequestBytes(i) == bytes) found = i + 1;
    }
    stopGpuRuntime(&probe);
    fake.reset();
    return found;
}

TEST_F(StartUpBuffersTest, ACoarseLevelThatCannotBeMadeShortensTheHierarchy) {
    // Level 2 (side 32) is the first request of 32³ floats, after the fields and the ring.
    const int level2 = firstStartUpRequestOf(fake, cube(32) * 4);
    ASSERT_GT(level2, kFieldCount + 8 * kSnapshotBuffersPerSlot);
    fake.setBufferFailAt(level2 + 1);  // its second buffer
    startReady();
    EXPECT_EQ(rt.grid.mgLevels, 4) << "the sizes stay; the missing buffers limit the solve";
    EXPECT_EQ(usableMultigridLevels(rt.grid), 2);
    EXPECT_EQ(rt.grid.slotCount, 8);
    stopGpuRuntime(&rt);
    expectAllReleased();

    // All four buffers of level 1 (side 64): only level 0 remains.
    const int level1 = firstStartUpRequestOf(fake, cube(64) * 4);
    ASSERT_GT(level1, kFieldCount + 8 * kSnapshotBuffersPerSlot);
    fake.setBufferFailRange(level1, level1 + kBuffersPerCoarseLevel - 1);
    startReady();
    EXPECT_EQ(usableMultigridLevels(rt.grid), 1);
    for (cl_mem m : {rt.grid.mgPressure[1], rt.grid.mgPressureNext[1], rt.grid.mgRhs[1], rt.grid.mgResidual[1]}) {
        EXPECT_EQ(m, nullptr);
    }
    EXPECT_NE(rt.grid.mgPressure[2], nullptr) << "the failure was limited to level 1";
    stopGpuRuntime(&rt);
    expectAllReleased();
}

// ---------------------------------------------------------------------------------------------
// Grid resize.

using ResizeTest = GpuRuntimeTest;

TEST_F(ResizeTest, ToTheCurrentSideChangesNothingAndKeepsTheRing) {
    startReady();
    rt.grid.slots[2].frame = 17;
    rt.grid.nextSlot = 3;
    rt.grid.lastFrame = 17;
    const std::vector<cl_mem> handles = allGridHandles(rt);
    const int before = fake.callLogSize();
    EXPECT_TRUE(resizeGrid(rt, kStartupGridSide));
    EXPECT_EQ(fake.callLogSize(), before) << "no OpenCL call at all";
    EXPECT_EQ(allGridHandles(rt), handles);
    EXPECT_EQ(rt.grid.slotCount, 8);
    EXPECT_EQ(rt.grid.slots[2].frame, 17);
    EXPECT_EQ(rt.grid.nextSlot, 3);
    EXPECT_EQ(rt.grid.lastFrame, 17);
    EXPECT_TRUE(rt.ready);
}

TEST_F(ResizeTest, SidesOutside32To512AreRefusedWithoutChange) {
    startReady();
    const std::vector<cl_mem> handles = allGridHandles(rt);
    const int before = fake.callLogSize();
    for (int n : {31, 513, 0, -128, 16, 1024, INT_MAX, INT_MIN}) {
        EXPECT_FALSE(resizeGrid(rt, n)) << n;
    }
    EXPECT_EQ(fake.callLogSize(), before);
    EXPECT_EQ(allGridHandles(rt), handles);
    EXPECT_EQ(rt.grid.N, kStartupGridSide);
    EXPECT_TRUE(rt.ready);

    // Both ends of the range are accepted.
    EXPECT_TRUE(resizeGrid(rt, 32));
    EXPECT_EQ(rt.grid.N, 32);
    EXPECT_TRUE(resizeGrid(rt, 512));
    EXPECT_EQ(rt.grid.N, 512);
    EXPECT_EQ(fake.bufferBytes(rt.grid.velocity), cube(512) * 16);
}

TEST_F(ResizeTest, ARuntimeThatIsNotReadyRefuses) {
    fake.setBufferFailAt(1);
    EXPECT_TRUE(startGpuRuntime(&rt));
    ASSERT_FALSE(rt.ready);
    const int before = fake.callLogSize();
    EXPECT_FALSE(resizeGrid(rt, 192));
    EXPECT_EQ(fake.callLogSize(), before);
}

struct SideExpectation {
    int N;
    int slots;
    std::vector<int> levels;
    int macro;
    int macroL1;
};

TEST_F(ResizeTest, SizesEveryBufferForTheNewSide) {
    startReady();
    const std::vector<SideExpectation> sides = {
        {192, 8, {192, 96, 48, 24}, 32, 8}, {256, 6, {256, 128, 64, 32}, 32, 8},
        {384, 4, {384, 192, 96, 48}, 32, 8}, {96, 8, {96, 48, 24}, 16, 4},
        {40, 8, {40, 20}, 8, 2},            {33, 8, {33, 16}, 1, 0},
        {48, 8, {48, 24}, 8, 2},            {128, 8, {128, 64, 32, 16}, 32, 8}};
    for (const SideExpectation& e : sides) {
        SCOPED_TRACE(e.N);
        rt.grid.lastFrame = 12;
        rt.grid.lastInstanceId = 5;
        rt.grid.settingsHash = 99;
        const std::vector<cl_mem> old = allGridHandles(rt);
        const int requestsBefore = fake.bufferRequestCount();

        ASSERT_TRUE(resizeGrid(rt, e.N));
        EXPECT_TRUE(rt.ready);
        EXPECT_EQ(rt.grid.N, e.N);
        EXPECT_EQ(rt.grid.lastFrame, -1);
        EXPECT_EQ(rt.grid.lastInstanceId, 0u);
        EXPECT_EQ(rt.grid.settingsHash, 0u);
        for (cl_mem m : old) {
            if (m) {
                EXPECT_EQ(fake.bufferBytes(m), 0u) << "a buffer of the old side is still live";
            }
        }

        for (const NamedField& f : fieldsOf(rt.grid)) {
            EXPECT_EQ(fake.bufferBytes(f.handle), cube(e.N) * 4 * static_cast<size_t>(f.floatsPerCell)) << f.name;
        }
        ASSERT_EQ(rt.grid.slotCount, e.slots);
        for (size_t s = 0; s < rt.grid.slots.size(); ++s) {
            const std::vector<cl_mem> bufs = slotBuffers(rt.grid.slots[s]);
            EXPECT_EQ(rt.grid.slots[s].frame, -1);
            for (size_t b = 0; b < bufs.size(); ++b) {
                const size_t expected = static_cast<int>(s) < e.slots ? cube(e.N) * (b == 4 ? 16 : 4) : 0;
                EXPECT_EQ(fake.bufferBytes(bufs[b]), expected) << "slot " << s << " buffer " << b;
            }
        }
        ASSERT_EQ(rt.grid.mgLevels, static_cast<int>(e.levels.size()));
        EXPECT_EQ(usableMultigridLevels(rt.grid), rt.grid.mgLevels);
        for (size_t k = 0; k < kMaxMultigridLevels; ++k) {
            const int side = k < e.levels.size() ? e.levels[k] : 0;
            EXPECT_EQ(rt.grid.mgSize[k], side) << "level " << k;
            const size_t bytes = k >= 1 && side > 0 ? cube(side) * 4 : 0;
            for (cl_mem m : {rt.grid.mgPressure[k], rt.grid.mgPressureNext[k], rt.grid.mgRhs[k], rt.grid.mgResidual[k]}) {
                EXPECT_EQ(fake.bufferBytes(m), bytes) << "level " << k;
            }
        }
        EXPECT_EQ(rt.macrocells.count, e.macro);
        EXPECT_EQ(rt.macrocells.countL1, e.macroL1);
        EXPECT_EQ(fake.bufferBytes(rt.macrocells.max), cube(e.macro) * 4);
        EXPECT_EQ(fake.bufferBytes(rt.macrocells.maxL1), e.macroL1 > 0 ? cube(e.macroL1) * 4 : 0u);
        if (e.macroL1 == 0) {
            EXPECT_EQ(rt.macrocells.maxL1, nullptr);
        }

        const int made = kFieldCount + e.slots * kSnapshotBuffersPerSlot +
                         (static_cast<int>(e.levels.size()) - 1) * kBuffersPerCoarseLevel + (e.macroL1 > 0 ? 2 : 1);
        EXPECT_EQ(fake.bufferRequestCount() - requestsBefore, made);
        EXPECT_EQ(fake.liveCount(kFakeClBuffer), made) << "everything of the old side was released";
        for (int i = requestsBefore; i < fake.bufferRequestCount(); ++i) {
            EXPECT_EQ(fake.bufferRequestFlags(i), static_cast<cl_mem_flags>(CL_MEM_READ_WRITE));
        }
    }
    EXPECT_EQ(fake.badReleaseCount(), 0);
}

TEST_F(ResizeTest, AFieldBufferThatCannotBeMadeLeavesTheRuntimeNotReady) {
    // Side 128's float4 fields fit; side 192's do not, its float fields do.
    fake.setBufferFailAbove(cube(128) * 16);
    startReady();
    EXPECT_FALSE(resizeGrid(rt, 192));
    EXPECT_FALSE(rt.ready);
    EXPECT_EQ(fake.bufferBytes(rt.grid.density), cube(192) * 4) << "fields made before the failure stay";
    EXPECT_EQ(rt.grid.velocity, nullptr);
    EXPECT_EQ(rt.grid.slotCount, 0);
    EXPECT_EQ(rt.grid.mgLevels, 0);
    EXPECT_EQ(rt.macrocells.max, nullptr);
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), kFieldCount - 3) << "only the fields of the new side remain";

    const int before = fake.callLogSize();
    EXPECT_FALSE(resizeGrid(rt, 96)) << "a runtime made unavailable stays so";
    EXPECT_EQ(fake.callLogSize(), before);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

TEST_F(ResizeTest, AMacrocellBufferThatCannotBeMadeOnlyTurnsOffThatLevel) {
    startReady();
    // At 192 the macrocell buffers are the last two requests: fields, 8 slots, levels 96, 48, 24.
    const int macroCall = fake.bufferRequestCount() + kFieldCount + 8 * kSnapshotBuffersPerSlot +
                          3 * kBuffersPerCoarseLevel + 1;
    fake.setBufferFailAt(macroCall);
    ASSERT_TRUE(resizeGrid(rt, 192));
    EXPECT_TRUE(rt.ready);
    EXPECT_EQ(fake.bufferRequestBytes(macroCall - 1), cube(32) * 4);
    EXPECT_EQ(rt.macrocells.max, nullptr);
    EXPECT_EQ(rt.macrocells.count, 0);
    EXPECT_EQ(rt.macrocells.countL1, 0);

    // At 256: fields, 6 slots, levels 128, 64, 32, then the two macrocell buffers; fail the second.
    const int macroL1Call = fake.bufferRequestCount() + kFieldCount + 6 * kSnapshotBuffersPerSlot +
                            3 * kBuffersPerCoarseLevel + 2;
    fake.setBufferFailAt(macroL1Call);
    ASSERT_TRUE(resizeGrid(rt, 256));
    EXPECT_EQ(fake.bufferRequestBytes(macroL1Call - 1), cube(8) * 4);
    EXPECT_EQ(rt.macrocells.count, 32);
    EXPECT_EQ(rt.macrocells.countL1, 0);
    EXPECT_EQ(rt.macrocells.maxL1, nullptr);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

// ---------------------------------------------------------------------------------------------
// The buffer helpers, on the fake's context.

using BufferHelpersTest = GpuRuntimeTest;

TEST_F(BufferHelpersTest, EnsureBufferKeepsGrowsAndFailsCleanly) {
    startReady();
    SizedBuffer b;
    cl_mem first = ensureBuffer(rt.context, b, 1000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(b.capacity, 1000u);
    EXPECT_EQ(ensureBuffer(rt.context, b, 400), first) << "buffers never shrink";
    EXPECT_EQ(ensureBuffer(rt.context, b, 1000), first);
    cl_mem second = ensureBuffer(rt.context, b, 1001);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(fake.bufferBytes(first), 0u) << "the smaller buffer was released";
    EXPECT_EQ(fake.bufferBytes(second), 1001u);
    fake.setBufferFailAbove(4096);
    EXPECT_EQ(ensureBuffer(rt.context, b, 5000), nullptr);
    EXPECT_EQ(b.handle, nullptr);
    EXPECT_EQ(b.capacity, 0u);
    EXPECT_EQ(fake.bufferBytes(second), 0u);
    EXPECT_EQ(createDeviceBuffer(nullptr, 16), nullptr);
    releaseBuffer(b);
    EXPECT_EQ(fake.liveCount(kFakeClBuffer), kStartupBufferCount);
}

// ---------------------------------------------------------------------------------------------
// The render driver's scratch images, on the fake: a frame's OpenCL calls show which passes ran.

class PostScratchTest : public GpuRuntimeTest {
protected:
    static constexpr int kW = 64, kH = 40;

    // Heat distortion and bloom through the first scratch image, light cast through the second.
    static FrameSettings postSettings(bool withLightCast) {
        FrameSettings s;
        resetFrameSettings(s);
        s.compWidth = kW;
        s.compHeight = kH;
        s.quality = 2;  // full resolution, no motion blur
        s.opacity = 1.0f;
        s.debugView = 1;
        s.heatAmount = 1.0f;
        s.heatScale = 1.0f;
        s.bloom = 1.0f;
        s.lightCast = withLightCast ? 1.0f : 0.0f;
        return s;
    }

    // The calls of one frame on a freshly started runtime; `failRequest` is the buffer request of
    // the frame (1-based) that fails, 0 none.
    std::vector<std::string> frameCalls(const FrameSettings& s, int failRequest) {
        stopGpuRuntime(&rt);
        fake.reset();
        startReady();
        requestsBeforeFrame = fake.bufferRequestCount();
        if (failRequest > 0) fake.setBufferFailAt(requestsBeforeFrame + failRequest);
        const int from = fake.callLogSize();
        std::vector<float> out(size_t(kW) * kH * 4);
        EXPECT_TRUE(renderVolume(rt, out.data(), kW, kH, kW * 16, 32, s));
        return fake.calls(from);
    }

    int requestsBeforeFrame = 0;
};

TEST_F(PostScratchTest, OnlyLightCastIsSkippedWhenTheSecondScratchImageIsMissing) {
    const size_t imageBytes = size_t(kW) * kH * 16;
    // The frame's buffer requests begin with the image, then the two scratch images.
    constexpr int kSecondScratchRequest = 3;

    const std::vector<std::string> everyBuffer = frameCalls(postSettings(false), 0);
    const std::vector<std::string> withLightCast = frameCalls(postSettings(true), 0);
    const std::vector<std::string> withoutPost = [&] {
        FrameSettings s = postSettings(false);
        s.heatAmount = 0.0f;
        s.bloom = 0.0f;
        return frameCalls(s, 0);
    }();
    // Non-vacuous: each kind of pass adds calls of its own.
    ASSERT_GT(withLightCast.size(), everyBuffer.size());
    ASSERT_GT(everyBuffer.size(), withoutPost.size());

    const std::vector<std::string> missing = frameCalls(postSettings(true), kSecondScratchRequest);
    ASSERT_EQ(fake.bufferRequestBytes(requestsBeforeFrame + kSecondScratchRequest - 1), imageBytes)
        << "the failed request is a scratch image";
    EXPECT_NE(rt.render.postA.handle, nullptr);
    EXPECT_EQ(rt.render.postB.handle, nullptr);
    // Heat distortion and bloom ran as with every buffer; light cast, asked for, was skipped.
    EXPECT_EQ(missing, everyBuffer);

    // The next frame makes the pair again and light cast runs.
    std::vector<float> out(size_t(kW) * kH * 4);
    ASSERT_TRUE(renderVolume(rt, out.data(), kW, kH, kW * 16, 32, postSettings(true)));
    EXPECT_NE(rt.render.postB.handle, nullptr);
    stopGpuRuntime(&rt);
    expectAllReleased();
}

}  // namespace
}  // namespace cindel
