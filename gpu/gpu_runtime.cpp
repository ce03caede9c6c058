#include "gpu/gpu_runtime.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gpu/buffers.h"
#include "gpu/kernel_library.h"
#include "host/log.h"

namespace cindel {

const char kKernelBuildOptions[] = "-cl-fast-relaxed-math";

namespace {

GpuRuntime gRuntime;
int gStartCount = 0;

constexpr cl_uint kMaxPlatforms = 8;

// The first device of `type` over the platforms, in the order the platforms were returned.
bool firstDeviceOfType(const std::vector<cl_platform_id>& platforms, cl_device_type type, GpuRuntime& rt) {
    for (cl_platform_id p : platforms) {
        cl_device_id device = nullptr;
        if (cl().clGetDeviceIDs(p, type, 1, &device, nullptr) == CL_SUCCESS && device) {
            rt.platform = p;
            rt.device = device;
            return true;
        }
    }
    return false;
}

}  // namespace

bool chooseDevice(GpuRuntime& rt, bool allowCpuFallback) {
    cl_uint count = 0;
    if (cl().clGetPlatformIDs(0, nullptr, &count) != CL_SUCCESS || count == 0) return false;
    if (count > kMaxPlatforms) count = kMaxPlatforms;
    std::vector<cl_platform_id> platforms(count, nullptr);
    if (cl().clGetPlatformIDs(count, platforms.data(), nullptr) != CL_SUCCESS) return false;
    if (firstDeviceOfType(platforms, CL_DEVICE_TYPE_GPU, rt)) return true;
    return allowCpuFallback && firstDeviceOfType(platforms, CL_DEVICE_TYPE_CPU, rt);
}

namespace {

// Names the platform and device in the debug log, when the library can tell them.
void logChosenDevice(const GpuRuntime& rt) {
    char platform[256] = "?";
    char device[256] = "?";
    if (clOptional().clGetPlatformInfo) {
        clOptional().clGetPlatformInfo(rt.platform, CL_PLATFORM_NAME, sizeof(platform) - 1, platform, nullptr);
    }
    if (clOptional().clGetDeviceInfo) {
        clOptional().clGetDeviceInfo(rt.device, CL_DEVICE_NAME, sizeof(device) - 1, device, nullptr);
    }
    platform[sizeof(platform) - 1] = device[sizeof(device) - 1] = '\0';
    logLine("  Platform: %s   Device: %s\n", platform, device);
}

void logBuildFailure(GpuRuntime& rt) {
    size_t size = 0;
    if (cl().clGetProgramBuildInfo(rt.program, rt.device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) != CL_SUCCESS) {
        size = 0;
    }
    std::vector<char> log(size + 1, '\0');
    if (size > 0) cl().clGetProgramBuildInfo(rt.program, rt.device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
    log[size] = '\0';
    logLine("Build log (first 500 chars):\n%.500s%s\n", log.data(), size > 500 ? "...[truncated]" : "");
    // Developers get the whole log with positions mapped back to the kernel files.
    const std::string annotated = annotateBuildLog(log.data());
    logLine("Build log, by kernel file:\n%s\n", annotated.c_str());
}

bool buildProgram(GpuRuntime& rt) {
    const char* text = kKernelLibrary;
    const size_t length = std::strlen(kKernelLibrary);
    cl_int err = CL_SUCCESS;
    cl_program program = cl().clCreateProgramWithSource(rt.context, 1, &text, &length, &err);
    if (err != CL_SUCCESS || !program) {
        if (program) cl().clReleaseProgram(program);  // an object handed back with its error
        return false;
    }
    rt.program = program;
    if (cl().clBuildProgram(program, 1, &rt.device, kKernelBuildOptions, nullptr, nullptr) != CL_SUCCESS) {
        logBuildFailure(rt);
        cl().clReleaseProgram(program);
        rt.program = nullptr;  // the record keeps only a program that built
        return false;
    }
    return true;
}

bool createKernels(GpuRuntime& rt) {
    for (const KernelSpec& spec : kernelSpecs()) {
        if (!kernelRoleRequired(spec.role)) continue;
        cl_int err = CL_SUCCESS;
        cl_kernel k = cl().clCreateKernel(rt.program, spec.name, &err);
        if (err != CL_SUCCESS || !k) {
            if (k) cl().clReleaseKernel(k);
            return false;
        }
        rt.kernels[static_cast<size_t>(spec.role)] = k;
    }
    return true;
}

void startUp(GpuRuntime& rt) {
    rt = GpuRuntime{};  // grid.lastFrame = -1: no simulated frame
    if (!loadClApi()) return;
    if (!chooseDevice(rt, kCpuFallbackBuiltIn)) return;
    logLine("  Platform handle: %p   Device handle: %p\n", static_cast<void*>(rt.platform),
            static_cast<void*>(rt.device));
    logChosenDevice(rt);
    cl_int err = CL_SUCCESS;
    // Some implementations hand back an object together with an error; it is released at once.
    rt.context = cl().clCreateContext(nullptr, 1, &rt.device, nullptr, nullptr, &err);
    if (err != CL_SUCCESS || !rt.context) {
        if (rt.context) cl().clReleaseContext(rt.context);
        rt.context = nullptr;
        return;
    }
    rt.queue = cl().clCreateCommandQueue(rt.context, rt.device, 0, &err);
    if (err != CL_SUCCESS || !rt.queue) {
        if (rt.queue) cl().clReleaseCommandQueue(rt.queue);
        rt.queue = nullptr;
        return;
    }
    if (!buildProgram(rt)) return;
    if (!createKernels(rt)) return;
    if (!createGridFields(rt, kStartupGridSide)) return;
    rt.ready = true;
    rt.grid.N = kStartupGridSide;
    // Without snapshots, coarse levels or macrocells the effect still runs (unskipped marches cost
    // time, not pixels), so none of them clears `ready`.
    buildSnapshotRing(rt);
    buildMultigrid(rt);
    rebuildMacrocells(rt.context, rt.macrocells, kStartupGridSide);
}

void releaseMap(MapBuffer& map) {
    releaseBuffer(map.handle);
    map = MapBuffer{};
}

}  // namespace

GpuRuntime& gpuRuntime() { return gRuntime; }

bool kernelRoleRequired(KernelRole role) { return kernelLibraryHas(kernelSpec(role).name); }

cl_kernel ensureAuxKernel(GpuRuntime& rt, AuxKernel k) {
    cl_kernel& slot = rt.auxKernels[static_cast<size_t>(k)];
    if (slot || !rt.ready || !rt.program) return slot;
    cl_int err = CL_SUCCESS;
    cl_kernel made = cl().clCreateKernel(rt.program, auxKernelSpec(k).name, &err);
    if (err != CL_SUCCESS) {
        if (made) cl().clReleaseKernel(made);
        return nullptr;
    }
    slot = made;
    return slot;
}

bool startGpuRuntime(GpuRuntime* rt) {
    if (!rt) return false;
    ++gStartCount;
    startUp(*rt);
    return true;
}

void stopGpuRuntime(GpuRuntime* rt) {
    if (!rt) return;
    // A record that never reached the loader holds no handle, and the table may be empty then.
    const bool anyHandle = rt->context || rt->queue || rt->program || rt->grid.density;
    if (anyHandle || rt->ready) {
        for (cl_kernel& k : rt->kernels) {
            if (k) cl().clReleaseKernel(k);
            k = nullptr;
        }
        for (cl_kernel& k : rt->auxKernels) {
            if (k) cl().clReleaseKernel(k);
            k = nullptr;
        }
        releaseSimGrid(rt->grid);
        releaseNoiseLattice(rt->noiseLattice);
        releaseMacrocells(rt->macrocells);
        releaseRenderBuffers(rt->render);
        releaseMap(rt->emissionMap);
        releaseMap(rt->customMap);
        releaseBuffer(rt->layerColumnWeights);
        if (rt->program) cl().clReleaseProgram(rt->program);
        if (rt->queue) cl().clReleaseCommandQueue(rt->queue);
        if (rt->context) cl().clReleaseContext(rt->context);
    }
    *rt = GpuRuntime{};
}

int gpuStartCount() { return gStartCount; }

}  // namespace cindel
