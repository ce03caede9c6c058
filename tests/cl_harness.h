// A harness for tests that run kernels of the kernel library on the OpenCL device. The effect's
// own runtime is started once per test process (on the process-wide record, so PoCL builds the
// library once); the harness then builds one more program, the kernel library with the test
// file's own kernels appended, under the library's build options, and offers buffers from host
// vectors, launches of a named kernel over a 1-, 2- or 3-D range, and blocking reads.
//
// A test file derives its fixture from ClKernelTest and passes its kernel text. Without an OpenCL
// library or device the tests skip and say so; CI installs PoCL, so they run there. A device
// whose context, queue or program cannot be made fails the test with the reason and, for a
// failed build, the build log mapped back to the kernel files.
//
// Header-only: the tests' CMake turns each *_test.cpp into one executable and links nothing else.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "gpu/kernel_library.h"

namespace cltest {

// A device buffer of floats, released with its owner. Moving transfers the handle.
class ClBuffer {
public:
    ClBuffer() = default;
    ClBuffer(cl_mem handle, size_t floats) : handle_(handle), floats_(floats) {}
    ClBuffer(const ClBuffer&) = delete;
    ClBuffer& operator=(const ClBuffer&) = delete;
    ClBuffer(ClBuffer&& other) noexcept { *this = std::move(other); }
    ClBuffer& operator=(ClBuffer&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
            floats_ = std::exchange(other.floats_, 0);
        }
        return *this;
    }
    ~ClBuffer() { reset(); }

    cl_mem handle() const { return handle_; }
    size_t floats() const { return floats_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    void reset() {
        if (handle_) cindel::cl().clReleaseMemObject(handle_);
        handle_ = nullptr;
        floats_ = 0;
    }

    cl_mem handle_ = nullptr;
    size_t floats_ = 0;
};

// A launch range. A zero local size lets the implementation choose. PoCL compiles a kernel again
// for every local size it meets, so tests should prefer a fixed local size with a padded global
// size (Range::linear) over many implementation-chosen ones.
struct Range {
    cl_uint dims = 1;
    std::array<size_t, 3> global{1, 1, 1};
    std::array<size_t, 3> local{0, 0, 0};

    // `count` items padded up to whole groups of `group`; the kernel returns for ids >= count.
    static Range linear(size_t count, size_t group = 64) {
        Range r;
        r.global[0] = (count + group - 1) / group * group;
        if (r.global[0] == 0) r.global[0] = group;
        r.local[0] = group;
        return r;
    }
    static Range grid2(size_t x, size_t y) {
        Range r;
        r.dims = 2;
        r.global = {x, y, 1};
        return r;
    }
    static Range grid3(size_t x, size_t y, size_t z) {
        Range r;
        r.dims = 3;
        r.global = {x, y, z};
        return r;
    }
};

class ClHarness {
public:
    static ClHarness& instance() {
        static ClHarness harness;
        return harness;
    }

    ClHarness(const ClHarness&) = delete;
    ClHarness& operator=(const ClHarness&) = delete;

    // Empty when tests can run; else why they skip.
    const std::string& skipReason() const { return skipReason_; }
    // Empty unless the device was found but could not be used.
    const std::string& setupError() const { return setupError_; }

    cindel::GpuRuntime& runtime() const { return cindel::gpuRuntime(); }
    double runtimeStartMilliseconds() const { return runtimeStartMs_; }

    // The library with `testKernels` appended, built once per text (by address: each test file
    // passes one constant). Null on failure, with the annotated log in buildLog().
    cl_program program(const char* testKernels) {
        auto it = programs_.find(testKernels);
        if (it != programs_.end()) return it->second;
        cl_program p = buildProgram(testKernels);
        programs_[testKernels] = p;
        return p;
    }
    const std::string& buildLog() const { return buildLog_; }
    double lastBuildMilliseconds() const { return lastBuildMs_; }

    cl_kernel kernel(cl_program program, const std::string& name) {
        auto key = std::make_pair(program, name);
        auto it = kernels_.find(key);
        if (it != kernels_.end()) return it->second;
        cl_int err = CL_SUCCESS;
        cl_kernel k = cindel::cl().clCreateKernel(program, name.c_str(), &err);
        if (err != CL_SUCCESS) k = nullptr;
        kernels_[key] = k;
        return k;
    }

    ClBuffer upload(const std::vector<float>& values) {
        const size_t count = values.empty() ? 1 : values.size();
        cl_mem m = cindel::createDeviceBuffer(runtime().context, count * sizeof(float));
        if (!m) return {};
        if (!values.empty()) {
            cindel::cl().clEnqueueWriteBuffer(runtime().queue, m, CL_TRUE, 0, values.size() * sizeof(float),
                                              values.data(), 0, nullptr, nullptr);
        }
        return ClBuffer(m, values.size());
    }

    // An output buffer filled with quiet NaN, so that an element the kernel never wrote cannot
    // pass for a result.
    ClBuffer output(size_t floats) { return upload(std::vector<float>(floats, std::nanf(""))); }

    std::vector<float> read(const ClBuffer& b) {
        std::vector<float> out(b.floats(), std::nanf(""));
        if (b && !out.empty()) {
            cindel::cl().clEnqueueReadBuffer(runtime().queue, b.handle(), CL_TRUE, 0, out.size() * sizeof(float),
                                             out.data(), 0, nullptr, nullptr);
        }
        return out;
    }

    // Binds the arguments in order (ClBuffer, int or float), launches and waits.
    template <class... Args>
    ::testing::AssertionResult run(cl_program program, const char* name, const Range& range, const Args&... args) {
        cl_kernel k = kernel(program, name);
        if (!k) return ::testing::AssertionFailure() << "no kernel " << name << " in the test program";
        cl_uint index = 0;
        cl_int err = CL_SUCCESS;
        ((err == CL_SUCCESS ? (err = setArg(k, index++, args)) : err), ...);
        if (err != CL_SUCCESS) {
            return ::testing::AssertionFailure()
                   << name << ": clSetKernelArg(" << index - 1 << ") failed with " << cindel::clErrorName(err);
        }
        const bool hasLocal = range.local[0] != 0;
        err = cindel::cl().clEnqueueNDRangeKernel(runtime().queue, k, range.dims, nullptr, range.global.data(),
                                                  hasLocal ? range.local.data() : nullptr, 0, nullptr, nullptr);
        if (err != CL_SUCCESS) {
            return ::testing::AssertionFailure()
                   << name << ": clEnqueueNDRangeKernel failed with " << cindel::clErrorName(err);
        }
        err = cindel::cl().clFinish(runtime().queue);
        if (err != CL_SUCCESS) {
            return ::testing::AssertionFailure() << name << ": clFinish failed with " << cindel::clErrorName(err);
        }
        return ::testing::AssertionSuccess();
    }

private:
    ClHarness() {
        cindel::GpuRuntime& rt = runtime();
        // Another fixture of the same process may have started the record already.
        if (!rt.context) {
            const double t0 = cindel::nowMilliseconds();
            cindel::startGpuRuntime(&rt);
            runtimeStartMs_ = cindel::nowMilliseconds() - t0;
        }
        if (!cindel::loadClApi()) {
            skipReason_ = "no OpenCL library could be loaded (install an ICD such as PoCL to run kernel tests)";
        } else if (!rt.device) {
            skipReason_ = "no OpenCL device was found (install an ICD such as PoCL to run kernel tests)";
        } else if (!rt.context || !rt.queue) {
            setupError_ = "the effect's runtime found a device but could not create its context or queue";
        }
    }

    ~ClHarness() {
        for (auto& [key, k] : kernels_) {
            if (k) cindel::cl().clReleaseKernel(k);
        }
        for (auto& [text, p] : programs_) {
            if (p) cindel::cl().clReleaseProgram(p);
        }
        cindel::stopGpuRuntime(&runtime());
    }

    cl_program buildProgram(const char* testKernels) {
        const cindel::GpuRuntime& rt = runtime();
        const char* texts[2] = {cindel::kKernelLibrary, testKernels};
        const size_t lengths[2] = {std::strlen(cindel::kKernelLibrary), std::strlen(testKernels)};
        cl_int err = CL_SUCCESS;
        cl_program p = cindel::cl().clCreateProgramWithSource(rt.context, 2, texts, lengths, &err);
        if (err != CL_SUCCESS || !p) {
            buildLog_ = std::string("clCreateProgramWithSource failed with ") + cindel::clErrorName(err);
            return nullptr;
        }
        const double t0 = cindel::nowMilliseconds();
        err = cindel::cl().clBuildProgram(p, 1, &rt.device, cindel::kKernelBuildOptions, nullptr, nullptr);
        lastBuildMs_ = cindel::nowMilliseconds() - t0;
        if (err != CL_SUCCESS) {
            size_t size = 0;
            cindel::cl().clGetProgramBuildInfo(p, rt.device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
            std::string log(size, '\0');
            if (size > 0) {
                cindel::cl().clGetProgramBuildInfo(p, rt.device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
            }
            // Lines past the library belong to the test's own kernels and keep their joined numbers.
            buildLog_ = std::string("clBuildProgram failed with ") + cindel::clErrorName(err) + ":\n" +
                        cindel::annotateBuildLog(log.c_str());
            cindel::cl().clReleaseProgram(p);
            return nullptr;
        }
        return p;
    }

    static cl_int setArg(cl_kernel k, cl_uint index, const ClBuffer& b) {
        const cl_mem m = b.handle();
        return cindel::cl().clSetKernelArg(k, index, sizeof(cl_mem), &m);
    }
    static cl_int setArg(cl_kernel k, cl_uint index, int v) {
        const cl_int value = v;
        return cindel::cl().clSetKernelArg(k, index, sizeof(cl_int), &value);
    }
    static cl_int setArg(cl_kernel k, cl_uint index, float v) {
        const cl_float value = v;
        return cindel::cl().clSetKernelArg(k, index, sizeof(cl_float), &value);
    }
    // Anything else (a double, a size_t) would bind the wrong width: refuse it at compile time.
    template <class T>
    static cl_int setArg(cl_kernel, cl_uint, const T&) = delete;

    std::string skipReason_;
    std::string setupError_;
    std::string buildLog_;
    double runtimeStartMs_ = 0.0;
    double lastBuildMs_ = 0.0;
    std::map<const char*, cl_program> programs_;
    std::map<std::pair<cl_program, std::string>, cl_kernel> kernels_;
};

// The fixture of kernel tests: skips without a device, fails when the test program does not
// build, and offers the harness's helpers bound to this file's program.
class ClKernelTest : public ::testing::Test {
protected:
    explicit ClKernelTest(const char* testKernels) : testKernels_(testKernels) {}

    void SetUp() override {
        ClHarness& h = ClHarness::instance();
        if (!h.skipReason().empty()) GTEST_SKIP() << h.skipReason();
        ASSERT_TRUE(h.setupError().empty()) << h.setupError();
        program_ = h.program(testKernels_);
        ASSERT_NE(program_, nullptr) << h.buildLog();
    }

    ClHarness& harness() { return ClHarness::instance(); }
    ClBuffer upload(const std::vector<float>& values) { return harness().upload(values); }
    ClBuffer output(size_t floats) { return harness().output(floats); }
    std::vector<float> read(const ClBuffer& b) { return harness().read(b); }

    template <class... Args>
    ::testing::AssertionResult run(const char* name, const Range& range, const Args&... args) {
        return harness().run(program_, name, range, args...);
    }

private:
    const char* testKernels_;
    cl_program program_ = nullptr;
};

}  // namespace cltest
