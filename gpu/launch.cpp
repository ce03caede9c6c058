#include "gpu/launch.h"

#include <cstring>
#include <ctime>

#include "gpu/buffers.h"
#include "host/log.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace cindel {

namespace {
int gViolations = 0;

bool gProfiling = false;
bool gGroupsEnabled = true;
std::vector<KernelProfileEntry> gProfile;

// CPU time of the whole process (all threads): on a CPU device the kernels run on the driver's
// threads, and this is what they cost beside the wall time.
double cpuMilliseconds() {
#ifdef _WIN32
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
    // FILETIME counts 100 ns ticks.
    const auto ticks = [](const FILETIME& f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-4;
#else
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
#endif
}

struct ProfileStart {
    double wall = 0;
    double cpu = 0;
};

// Drains the queue and starts a profile interval; does nothing while profiling is off.
ProfileStart profileStart(cl_command_queue queue) {
    if (!gProfiling) return {};
    cl().clFinish(queue);
    return {nowMilliseconds(), cpuMilliseconds()};
}

void profileEnd(cl_command_queue queue, const char* kernel, size_t width, const ProfileStart& start) {
    if (!gProfiling) return;
    // Keyed by the range's width too: the multigrid runs one kernel at several sides.
    const std::string name = std::string(kernel) + " @" + std::to_string(width);
    cl().clFinish(queue);
    const double wall = nowMilliseconds() - start.wall;
    const double cpu = cpuMilliseconds() - start.cpu;
    for (KernelProfileEntry& e : gProfile) {
        if (e.name == name) {
            ++e.launches;
            e.milliseconds += wall;
            e.cpuMilliseconds += cpu;
            return;
        }
    }
    gProfile.push_back({name, 1, wall, cpu});
}

// The device's work-group limits, read once per device; all zero where the library cannot tell
// them, which disables explicit local sizes.
struct GroupLimits {
    cl_device_id device = nullptr;
    size_t maxGroup = 0;
    size_t maxItems[3] = {0, 0, 0};
};

const GroupLimits& groupLimits(cl_device_id device) {
    static GroupLimits limits;
    if (limits.device == device) return limits;
    limits = GroupLimits{};
    limits.device = device;
    const auto info = clOptional().clGetDeviceInfo;
    if (!info || !device) return limits;
    size_t group = 0;
    cl_uint dims = 0;
    if (info(device, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof(group), &group, nullptr) != CL_SUCCESS) return limits;
    if (info(device, CL_DEVICE_MAX_WORK_ITEM_DIMENSIONS, sizeof(dims), &dims, nullptr) != CL_SUCCESS || dims < 3) {
        return limits;
    }
    std::vector<size_t> items(dims, 0);
    if (info(device, CL_DEVICE_MAX_WORK_ITEM_SIZES, dims * sizeof(size_t), items.data(), nullptr) != CL_SUCCESS) {
        return limits;
    }
    limits.maxGroup = group;
    for (int d = 0; d < 3; ++d) limits.maxItems[d] = items[static_cast<size_t>(d)];
    return limits;
}

size_t roundUp(size_t n, size_t group) { return (n + group - 1) / group * group; }

}  // namespace

void setKernelProfiling(bool on) { gProfiling = on; }
void setLocalSizesEnabled(bool on) { gGroupsEnabled = on; }
void resetKernelProfile() { gProfile.clear(); }
std::vector<KernelProfileEntry> kernelProfile() { return gProfile; }

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

bool KernelLaunch::ready(cl_uint dims, const size_t* global) {
    if (!broken_ && next_ != spec_.args.size()) {
        broken_ = true;
        ++gViolations;
        logLine("[KERNEL ARG] %s: %u arguments bound, the kernel takes %zu\n", spec_.name, next_, spec_.args.size());
    }
    if (broken_ || !kernel_ || !rt_.queue) return false;
    for (cl_uint d = 0; d < dims; ++d) {
        if (global[d] == 0) return false;  // an empty range is no work, and OpenCL would refuse it
    }
    return true;
}

void KernelLaunch::enqueue(cl_uint dims, const size_t* global, const size_t* offset) {
    if (!ready(dims, global)) return;
    const ProfileStart start = profileStart(rt_.queue);
    cl().clEnqueueNDRangeKernel(rt_.queue, kernel_, dims, offset, global, nullptr, 0, nullptr, nullptr);
    profileEnd(rt_.queue, spec_.name, global[0], start);
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

void KernelLaunch::run3dGrouped(size_t nx, size_t ny, size_t nz, size_t lx, size_t ly, size_t lz) {
    const size_t exact[3] = {nx, ny, nz};
    if (!ready(3, exact)) return;
    const GroupLimits& limits = groupLimits(rt_.device);
    const size_t local[3] = {lx, ly, lz};
    bool fits = gGroupsEnabled && lx > 0 && ly > 0 && lz > 0 && lx * ly * lz <= limits.maxGroup;
    for (int d = 0; d < 3 && fits; ++d) fits = local[d] <= limits.maxItems[d];
    if (!fits) {
        enqueue(3, exact);
        return;
    }
    const size_t global[3] = {roundUp(nx, lx), roundUp(ny, ly), roundUp(nz, lz)};
    const ProfileStart start = profileStart(rt_.queue);
    // A kernel may allow smaller groups than the device (registers, local memory): a refusal
    // enqueued nothing, so the exact range goes instead.
    if (cl().clEnqueueNDRangeKernel(rt_.queue, kernel_, 3, nullptr, global, local, 0, nullptr, nullptr) !=
        CL_SUCCESS) {
        cl().clEnqueueNDRangeKernel(rt_.queue, kernel_, 3, nullptr, exact, nullptr, 0, nullptr, nullptr);
    }
    profileEnd(rt_.queue, spec_.name, exact[0], start);
}

}  // namespace cindel
