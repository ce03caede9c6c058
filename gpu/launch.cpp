#include "gpu/launch.h"

#include <cstring>

#include "host/log.h"

namespace cindel {

namespace {
int gViolations = 0;
}

int kernelContractViolations() { return gViolations; }

KernelLaunch::KernelLaunch(const GpuRuntime& rt, KernelRole role)
    : rt_(rt), spec_(kernelSpec(role)), kernel_(rt.kernel(role)) {}

KernelLaunch::KernelLaunch(const GpuRuntime& rt, AuxKernel kernel)
    : rt_(rt), spec_(auxKernelSpec(kernel)), kernel_(rt.auxKernel(kernel)) {}

const KernelSpec* KernelLaunch::accept(const char* name, bool isBuffer, ArgKind scalarKind) {
    if (broken_) return nullptr;
    const char* problem = nullptr;
    if (next_ >= spec_.args.size()) {
        problem = "more arguments than the kernel takes";
    } else {
        const KernelArg& expected = spec_.args[next_];
        if (std::strcmp(expected.name, name) != 0) {
            problem = "argument name differs";
        } else if (isBuffer != isBufferArg(expected.kind) || (!isBuffer && expected.kind != scalarKind)) {
            problem = "argument kind differs";
        }
    }
    if (problem) {
        broken_ = true;
        ++gViolations;
        logLine("[KERNEL ARG] %s argument %u '%s': %s (expected '%s')\n", spec_.name, next_, name, problem,
                next_ < spec_.args.size() ? spec_.args[next_].name : "-");
        return nullptr;
    }
    return &spec_;
}

KernelLaunch& KernelLaunch::arg(const char* name, cl_mem buffer) {
    if (accept(name, true, ArgKind::Int) && kernel_) cl().clSetKernelArg(kernel_, next_, sizeof(cl_mem), &buffer);
    ++next_;
    return *this;
}

KernelLaunch& KernelLaunch::arg(const char* name, int value) {
    const cl_int v = value;
    if (accept(name, false, ArgKind::Int) && kernel_) cl().clSetKernelArg(kernel_, next_, sizeof(cl_int), &v);
    ++next_;
    return *this;
}

KernelLaunch& KernelLaunch::arg(const char* name, float value) {
    const cl_float v = value;
    if (accept(name, false, ArgKind::Float) && kernel_) cl().clSetKernelArg(kernel_, next_, sizeof(cl_float), &v);
    ++next_;
    return *this;
}

void KernelLaunch::enqueue(cl_uint dims, const size_t* global, const size_t* offset) {
    if (!broken_ && next_ != spec_.args.size()) {
        broken_ = true;
        ++gViolations;
        logLine("[KERNEL ARG] %s: %u arguments bound, the kernel takes %zu\n", spec_.name, next_, spec_.args.size());
    }
    if (broken_ || !kernel_ || !rt_.queue) return;
    for (cl_uint d = 0; d < dims; ++d) {
        if (global[d] == 0) return;  // an empty range is no work, and OpenCL would refuse it
    }
    cl().clEnqueueNDRangeKernel(rt_.queue, kernel_, dims, offset, global, nullptr, 0, nullptr, nullptr);
}

void KernelLaunch::run1d(size_t n) { enqueue(1, &n); }

void KernelLaunch::run2d(size_t width, size_t height) {
    const size_t g[2] = {width, height};
    enqueue(2, g);
}

void KernelLaunch::run3d(size_t nx, size_t ny, size_t nz) {
    const size_t g[3] = {nx, ny, nz};
    enqueue(3, g);
}

void KernelLaunch::run3dBox(size_t x0, size_t y0, size_t z0, size_t nx, size_t ny, size_t nz) {
    const size_t o[3] = {x0, y0, z0};
    const size_t g[3] = {nx, ny, nz};
    enqueue(3, g, o);
}

}  // namespace cindel
