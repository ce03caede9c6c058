// Kernel launches bound through the kernel table. A launch names each argument as the table
// lists it; the binder checks name, position and kind before every clSetKernelArg, so a host
// that passes arguments in the wrong order or of the wrong kind is caught (the launch is skipped,
// a "[KERNEL ARG]" line is logged and the violation counted for the contract tests) instead of
// producing a silently black frame. Arguments are re-bound before every launch, changed or not.
//
// Launch results are not examined: a failing launch leaves its outputs as they were.
#pragma once

#include "gpu/gpu_runtime.h"
#include "gpu/kernel_table.h"

namespace cindel {

class KernelLaunch {
public:
    KernelLaunch(const GpuRuntime& rt, KernelRole role);
    // An auxiliary kernel, bound through its own list; a launch before ensureAuxKernel made the
    // object binds nothing and enqueues nothing.
    KernelLaunch(const GpuRuntime& rt, AuxKernel kernel);

    KernelLaunch& arg(const char* name, cl_mem buffer);
    KernelLaunch& arg(const char* name, int value);
    KernelLaunch& arg(const char* name, float value);

    // Enqueues over an exact global range with no offset and no local size.
    void run1d(size_t n);
    void run2d(size_t width, size_t height);
    void run3d(size_t nx, size_t ny, size_t nz);
    void run3d(size_t n) { run3d(n, n, n); }
    // Enqueues over nx × ny × nz work-items starting at the global offset (x0, y0, z0): the kernel
    // sees get_global_id() in the box's own coordinates of the full range.
    void run3dBox(size_t x0, size_t y0, size_t z0, size_t nx, size_t ny, size_t nz);

private:
    const KernelSpec* accept(const char* name, bool isBuffer, ArgKind scalarKind);
    void enqueue(cl_uint dims, const size_t* global, const size_t* offset = nullptr);

    const GpuRuntime& rt_;
    const KernelSpec& spec_;
    cl_kernel kernel_;
    cl_uint next_ = 0;
    bool broken_ = false;
};

// Launches refused because their arguments did not match the table, since the process started.
int kernelContractViolations();

}  // namespace cindel
