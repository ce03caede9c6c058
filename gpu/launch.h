// Kernel launches bound through the kernel table. A launch names each argument as the table
// lists it; the binder checks name, position and kind before every clSetKernelArg, so a host
// that passes arguments in the wrong order or of the wrong kind is caught (the launch is skipped,
// a "[KERNEL ARG]" line is logged and the violation counted for the contract tests) instead of
// producing a silently black frame. Arguments are re-bound before every launch, changed or not.
//
// Launch results are not examined: a failing launch leaves its outputs as they were.
#pragma once

#include <string>
#include <vector>

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
    // Enqueues over nx × ny × nz in work-groups of lx × ly × lz, the global range rounded up to
    // whole groups: the kernel must return for ids beyond (nx, ny, nz). Where the device cannot
    // take such a group (its work-group or per-dimension limits, or a refused launch) it enqueues
    // the exact range with no local size instead, which computes the same.
    void run3dGrouped(size_t nx, size_t ny, size_t nz, size_t lx, size_t ly, size_t lz);
    // Enqueues over an n³ grid in groups of whole rows, n × 4 × 1. PoCL's own choice for an n³
    // range (64 × 8 × 8) splits rows and ran the samplers 1.3–2× slower on its CPU device.
    // PoCL compiles a kernel anew for each group shape, and under the library's relaxed math the
    // new code may round differently (the Jacobi sweep and the multigrid transfers did): a kernel
    // moves to groups only with a test that its bits stay the same (sim_equivalence_test).
    void run3dRows(size_t n) { run3dGrouped(n, n, n, n, kRowGroupHeight, 1); }
    // The same rows for kernels whose work-item computes kRowChunkCells cells of a row (the row's
    // last chunk may be partial): ceil(n / kRowChunkCells) items a row.
    void run3dRowChunks(size_t n) {
        const size_t items = (n + kRowChunkCells - 1) / kRowChunkCells;
        run3dGrouped(items, n, n, items, kRowGroupHeight, 1);
    }

    static constexpr size_t kRowGroupHeight = 4;
    // CD_ROW_CHUNK of the kernel library.
    static constexpr size_t kRowChunkCells = 16;

private:
    const KernelSpec* accept(const char* name, bool isBuffer, ArgKind scalarKind);
    bool ready(cl_uint dims, const size_t* global);
    void enqueue(cl_uint dims, const size_t* global, const size_t* offset = nullptr);

    const GpuRuntime& rt_;
    const KernelSpec& spec_;
    cl_kernel kernel_;
    cl_uint next_ = 0;
    bool broken_ = false;
};

// Whether run3dGrouped and run3dRows pass their local size (on by default). Off, they enqueue
// the exact range with no local size, as a device that cannot take the group does; the
// equivalence tests compare both ways.
void setLocalSizesEnabled(bool on);

// Launches refused because their arguments did not match the table, since the process started.
int kernelContractViolations();

// The benchmarks' per-kernel profile. While it is on, every launch waits for the queue before
// and after itself and adds the wall time and the process's CPU time in between to its kernel's
// entry, so the figures include one queue round trip per launch; while it is off launches do not
// wait. On a CPU device shared with other work the CPU time is the steadier of the two.
struct KernelProfileEntry {
    std::string name;
    int launches = 0;
    double milliseconds = 0;
    double cpuMilliseconds = 0;
};
void setKernelProfiling(bool on);
void resetKernelProfile();
// The entries in the order their kernels were first launched.
std::vector<KernelProfileEntry> kernelProfile();

}  // namespace cindel
