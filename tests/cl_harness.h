// Runs test kernels, appended to the kernel library, on the effect's runtime (started once per
// process, so PoCL builds the library once). Without an OpenCL library or device the tests skip
// and say why; a device that cannot be used, or a program that does not build, fails.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "gpu/kernel_library.h"

namespace cltest {

// A device buffer of floats, released with its last copy.
class ClBuffer {
public:
    ClBuffer() = default;
    ClBuffer(cl_mem handle, size_t floats)
        : handle_(handle, [](cl_mem m) { cindel::cl().clReleaseMemObject(m); }), floats_(floats) {}
    cl_mem handle() const { return handle_.get(); }
    size_t floats() const { return floats_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    std::shared_ptr<std::remove_pointer_t<cl_mem>> handle_;
    size_t floats_ = 0;
};

// A launch range; a zero local size lets the implementation choose. PoCL compiles a kernel again
// for every local size it meets, so prefer Range::linear's fixed group over many chosen ones.
struct Range {
    cl_uint dims = 1;
    std::array<size_t, 3> global{1, 1, 1};
    std::array<size_t, 3> local{0, 0, 0};

    // `count` items padded up to whole groups of `group`; the kernel returns for ids >= count.
    static Range linear(size_t count, size_t group = 64) {
        return {1, {std::max<size_t>((count + group - 1) / group, 1) * group, 1, 1}, {group, 0, 0}};
    }
    static Range grid2(size_t x, size_t y) { return {2, {x, y, 1}, {0, 0, 0}}; }
    static Range grid3(size_t x, size_t y, size_t z) { return {3, {x, y, z}, {0, 0, 0}}; }
};

class ClHarness {
public:
    static ClHarness& instance() {
        static ClHarness harness;
        return harness;
    }

    const std::string& skipReason() const { return skipReason_; }
    const std::string& setupError() const { return setupError_; }  // a device found but not usable
    cindel::GpuRuntime& runtime() const { return cindel::gpuRuntime(); }

    // The library with `testKernels` appended, built once per text (keyed by address). Null on
    // failure, with the log mapped back to the kernel files in buildLog().
    cl_program program(const char* testKernels) {
        auto it = programs_.find(testKernels);
        return it != programs_.end() ? it->second : (programs_[testKernels] = buildProgram(testKernels));
    }
    const std::string& buildLog() const { return buildLog_; }

    ClBuffer upload(const std::vector<float>& values) {
        cl_mem m = cindel::createDeviceBuffer(runtime().context, std::max<size_t>(values.size(), 1) * sizeof(float));
        if (m && !values.empty())
            cindel::cl().clEnqueueWriteBuffer(runtime().queue, m, CL_TRUE, 0, values.size() * sizeof(float),
                                              values.data(), 0, nullptr, nullptr);
        return m ? ClBuffer(m, values.size()) : ClBuffer();
    }
    // Filled with NaN, so that an element the kernel never wrote cannot pass for a result.
    ClBuffer output(size_t floats) { return upload(std::vector<float>(floats, std::nanf(""))); }

    std::vector<float> read(const ClBuffer& b) {
        std::vector<float> out(b.floats(), std::nanf(""));
        if (b && !out.empty())
            cindel::cl().clEnqueueReadBuffer(runtime().queue, b.handle(), CL_TRUE, 0, out.size() * sizeof(float),
                                             out.data(), 0, nullptr, nullptr);
        return out;
    }

    // Binds the arguments in order (ClBuffer, int or float), launches and waits.
    template <class... Args>
    ::testing::AssertionResult run(cl_program program, const char* name, const Range& range, const Args&... args) {
        cl_kernel& k = kernels_[{program, name}];
        if (!k) k = cindel::cl().clCreateKernel(program, name, nullptr);
        if (!k) return ::testing::AssertionFailure() << "no kernel " << name << " in the test program";
        cl_uint index = 0;
        cl_int err = CL_SUCCESS;
        ((err == CL_SUCCESS ? (err = setArg(k, index++, args)) : err), ...);
        const char* failed = "clSetKernelArg";
        if (err == CL_SUCCESS) {
            failed = "clEnqueueNDRangeKernel";
            err =
                cindel::cl().clEnqueueNDRangeKernel(runtime().queue, k, range.dims, nullptr, range.global.data(),
                                                    range.local[0] ? range.local.data() : nullptr, 0, nullptr, nullptr);
        }
        if (err == CL_SUCCESS) failed = "clFinish", err = cindel::cl().clFinish(runtime().queue);
        if (err == CL_SUCCESS) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << ": " << failed << " failed with " << cindel::clErrorName(err);
    }

private:
    ClHarness() {
        cindel::GpuRuntime& rt = runtime();
        if (!rt.context) cindel::startGpuRuntime(&rt);  // unless another fixture started it
        if (!cindel::loadClApi() || !rt.device) {
            skipReason_ = "no OpenCL library or device (install an ICD such as PoCL to run kernel tests)";
        } else if (!rt.context || !rt.queue) {
            setupError_ = "the effect's runtime found a device but could not create its context or queue";
        }
    }
    ~ClHarness() {
        for (auto& entry : kernels_)
            if (entry.second) cindel::cl().clReleaseKernel(entry.second);
        for (auto& entry : programs_)
            if (entry.second) cindel::cl().clReleaseProgram(entry.second);
        cindel::stopGpuRuntime(&runtime());
    }

    cl_program buildProgram(const char* testKernels) {
        const cindel::GpuRuntime& rt = runtime();
        const char* texts[2] = {cindel::kKernelLibrary, testKernels};
        cl_int err = CL_SUCCESS;
        cl_program p = cindel::cl().clCreateProgramWithSource(rt.context, 2, texts, nullptr, &err);
        if (err != CL_SUCCESS || !p) {
            buildLog_ = std::string("clCreateProgramWithSource failed with ") + cindel::clErrorName(err);
            return nullptr;
        }
        err = cindel::cl().clBuildProgram(p, 1, &rt.device, cindel::kKernelBuildOptions, nullptr, nullptr);
        if (err == CL_SUCCESS) return p;
        size_t size = 0;
        cindel::cl().clGetProgramBuildInfo(p, rt.device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
        std::string log(size + 1, '\0');
        cindel::cl().clGetProgramBuildInfo(p, rt.device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
        buildLog_ = std::string("clBuildProgram failed with ") + cindel::clErrorName(err) + ":\n" +
                    cindel::annotateBuildLog(log.c_str());
        cindel::cl().clReleaseProgram(p);
        return nullptr;
    }

    static cl_int setArg(cl_kernel k, cl_uint i, const ClBuffer& b) {
        const cl_mem m = b.handle();
        return cindel::cl().clSetKernelArg(k, i, sizeof(cl_mem), &m);
    }
    static cl_int setArg(cl_kernel k, cl_uint i, cl_int v) { return cindel::cl().clSetKernelArg(k, i, sizeof v, &v); }
    static cl_int setArg(cl_kernel k, cl_uint i, cl_float v) { return cindel::cl().clSetKernelArg(k, i, sizeof v, &v); }
    // Anything else (a double, a size_t) would bind the wrong width: refuse it at compile time.
    template <class T>
    static cl_int setArg(cl_kernel, cl_uint, const T&) = delete;

    std::string skipReason_, setupError_, buildLog_;
    std::map<const char*, cl_program> programs_;
    std::map<std::pair<cl_program, std::string>, cl_kernel> kernels_;
};

// The fixture of kernel tests, bound to one file's test kernels.
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

// Bit equality, naming the first element that differs: for results that must not depend on a
// code path (a plain-float form, a reduced dispatch).
inline ::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "element " << i << ": " << a[i] << " and " << b[i];
    }
    return ::testing::AssertionSuccess();
}

}  // namespace cltest
