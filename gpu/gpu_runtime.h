// The process-wide GPU runtime: the one record that owns every OpenCL object of the effect (device,
// context, in-order queue, the compiled kernel library, one kernel object per role, the auxiliary
// kernels once used, the simulation grid, the curl noise's lattice table, the layer emission's
// column weights, the macrocells and the map upload buffers). Global set-up starts it once, global
// set-down tears it down; in between the simulation and the renderer borrow its handles.
//
// `ready` gates all GPU work. A failed start-up leaves it false for the life of the process (until
// the next set-down and set-up) and every frame gets the no-GPU fill; nothing is reported to the
// host.
#pragma once

#include <array>
#include <string>

#include "gpu/buffers.h"
#include "gpu/cl_api.h"
#include "gpu/kernel_table.h"
#include "render/macrocells.h"
#include "render/render_buffers.h"
#include "sim/noise_lattice.h"
#include "sim/sim_grid.h"

namespace cindel {

// A read-only upload buffer of a host-built map, with the size last uploaded.
struct MapBuffer {
    cl_mem handle = nullptr;
    size_t capacity = 0;
    int width = 0;
    int height = 0;
};

struct GpuRuntime {
    bool ready = false;

    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    cl_context context = nullptr;
    cl_command_queue queue = nullptr;
    cl_program program = nullptr;

    std::array<cl_kernel, kKernelRoleCount> kernels{};
    // Created on first use by ensureAuxKernel; null until then or when creation failed.
    std::array<cl_kernel, kAuxKernelCount> auxKernels{};
    SimGrid grid;
    NoiseLattice noiseLattice;
    Macrocells macrocells;
    MapBuffer emissionMap;
    MapBuffer customMap;
    // The layer emission's weight of each grid column (N × N floats) for its two-pass form.
    SizedBuffer layerColumnWeights;
    RenderBuffers render;

    cl_kernel kernel(KernelRole role) const { return kernels[static_cast<size_t>(role)]; }
    cl_kernel auxKernel(AuxKernel k) const { return auxKernels[static_cast<size_t>(k)]; }
};

GpuRuntime& gpuRuntime();

// Runs start-up on the record. Returns whether it was given a record; the outcome is `ready`.
bool startGpuRuntime(GpuRuntime* rt);
// The auxiliary kernel's object, created from the library on the first call of a ready runtime;
// null when the runtime is not ready or the kernel cannot be created (a caller then uses the
// role's own kernel). A failed creation is tried again at the next call.
cl_kernel ensureAuxKernel(GpuRuntime& rt, AuxKernel k);
// Releases every OpenCL object of the record and zeroes it. The OpenCL library stays loaded.
void stopGpuRuntime(GpuRuntime* rt);

// Whether this build may take a CPU device when no platform offers a GPU (CINDEL_CPU_FALLBACK).
#if defined(CINDEL_CPU_FALLBACK)
inline constexpr bool kCpuFallbackBuiltIn = true;
#else
inline constexpr bool kCpuFallbackBuiltIn = false;
#endif

// The device rule of start-up, on the first 8 platforms in the order returned: the first GPU;
// failing that, and only with allowCpuFallback, the first CPU device. Sets platform and device on
// success. Start-up passes kCpuFallbackBuiltIn; the rule is public so both settings can be tested
// in one build. Requires a loaded OpenCL table.
bool chooseDevice(GpuRuntime& rt, bool allowCpuFallback);

// The build options of the kernel library.
extern const char kKernelBuildOptions[];

// How many times start-up ran in this process (tests: a second global set-up without a set-down
// must not start the runtime again).
int gpuStartCount();

// The kernels start-up requires. While the library is being completed, a role whose kernel the
// library does not define yet is skipped; once every kernel exists, all 38 are required.
bool kernelRoleRequired(KernelRole role);

}  // namespace cindel
