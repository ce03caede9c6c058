// A counting pass-through OpenCL library for long-run checks. Built as libOpenCL.so.1 in a folder of
// its own, so that a process started with LD_LIBRARY_PATH=<that folder> gets it wherever it opens
// "libOpenCL.so.1" by name (the effect does, at global set-up). Every entry point forwards to the
// system's ICD loader, opened by the absolute path found at build time (CINDEL_REAL_OPENCL), and
// the create and release calls keep a live count per object kind: created minus released, counted
// per call, since the effect never retains. cl_mem is told apart by the call that made it (buffer or
// image). A release of a handle this library never gave out is counted as foreign, not subtracted.
//
// Readers find the counters with dlsym on the handle of dlopen("libOpenCL.so.1", RTLD_NOLOAD):
//   int cindel_cl_count_kinds(void);             number of kinds
//   const char* cindel_cl_count_name(int kind);  "buffers", "images", ...
//   long long cindel_cl_count_live(int kind);    live objects of the kind now
//   long long cindel_cl_count_foreign(void);     releases of handles not made here
//   long long cindel_cl_count_calls(void);       entry-point calls forwarded
// Only the 22 entry points the effect uses and the two info queries are exported.
#define CL_TARGET_OPENCL_VERSION 120
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#include <CL/cl.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace {

enum Kind { kBuffers, kImages, kKernels, kPrograms, kQueues, kContexts, kKindCount };
constexpr const char* kKindNames[kKindCount] = {"buffers", "images", "kernels", "programs", "queues", "contexts"};

std::mutex gMutex;
std::unordered_map<const void*, Kind> gLive;
long long gCounts[kKindCount] = {};
long long gForeign = 0;
std::atomic<long long> gCalls{0};

void* realLibrary() {
    static void* lib = [] {
        void* handle = dlopen(CINDEL_REAL_OPENCL, RTLD_NOW | RTLD_LOCAL);
        if (!handle) std::fprintf(stderr, "cl_count_shim: cannot open %s: %s\n", CINDEL_REAL_OPENCL, dlerror());
        return handle;
    }();
    return lib;
}

// The real entry point of the same name; a missing one ends the process, since the shim cannot
// answer in its place without lying about what the driver did.
template <typename F>
F* real(const char* name) {
    void* lib = realLibrary();
    void* entry = lib ? dlsym(lib, name) : nullptr;
    if (!entry) {
        std::fprintf(stderr, "cl_count_shim: the real library has no %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F*>(entry);
}

#define CINDEL_FORWARD(name, ...)                                      \
    ++gCalls;                                                          \
    static const auto forward = real<decltype(::name)>(#name);           \
    return forward(__VA_ARGS__)

template <typename T>
T made(T object, Kind kind) {
    if (object) {
        std::lock_guard<std::mutex> lock(gMutex);
        gLive[object] = kind;
        ++gCounts[kind];
    }
    return object;
}

void released(const void* object, cl_int result) {
    if (result != CL_SUCCESS) return;
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gLive.find(object);
    if (it == gLive.end()) {
        ++gForeign;
        return;
    }
    // One count per create call: the handle stays known until the last release of a retained
    // object would free it, which the effect never needs.
    --gCounts[it->second];
    gLive.erase(it);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int cindel_cl_count_kinds(void) { return kKindCount; }
__attribute__((visibility("default"))) const char* cindel_cl_count_name(int kind) {
    return kind >= 0 && kind < kKindCount ? kKindNames[kind] : "";
}
__attribute__((visibility("default"))) long long cindel_cl_count_live(int kind) {
    std::lock_guard<std::mutex> lock(gMutex);
    return kind >= 0 && kind < kKindCount ? gCounts[kind] : 0;
}
__attribute__((visibility("default"))) long long cindel_cl_count_foreign(void) {
    std::lock_guard<std::mutex> lock(gMutex);
    return gForeign;
}
__attribute__((visibility("default"))) long long cindel_cl_count_calls(void) { return gCalls.load(); }

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformIDs(cl_uint n, cl_platform_id* platforms, cl_uint* count) {
    CINDEL_FORWARD(clGetPlatformIDs, n, platforms, count);
}
CL_API_ENTRY cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id p, cl_platform_info what, size_t size, void* value,
                                                  size_t* sizeRet) {
    CINDEL_FORWARD(clGetPlatformInfo, p, what, size, value, sizeRet);
}
CL_API_ENTRY cl_int CL_API_CALL clGetDeviceIDs(cl_platform_id p, cl_device_type type, cl_uint n, cl_device_id* devices,
                                               cl_uint* count) {
    CINDEL_FORWARD(clGetDeviceIDs, p, type, n, devices, count);
}
CL_API_ENTRY cl_int CL_API_CALL clGetDeviceInfo(cl_device_id d, cl_device_info what, size_t size, void* value,
                                                size_t* sizeRet) {
    CINDEL_FORWARD(clGetDeviceInfo, d, what, size, value, sizeRet);
}

CL_API_ENTRY cl_context CL_API_CALL clCreateContext(const cl_context_properties* props, cl_uint n,
                                                    const cl_device_id* devices,
                                                    void(CL_CALLBACK* notify)(const char*, const void*, size_t, void*),
                                                    void* user, cl_int* err) {
    static const auto forward = real<decltype(::clCreateContext)>("clCreateContext");
    ++gCalls;
    return made(forward(props, n, devices, notify, user, err), kContexts);
}
CL_API_ENTRY cl_command_queue CL_API_CALL clCreateCommandQueue(cl_context c, cl_device_id d,
                                                               cl_command_queue_properties props, cl_int* err) {
    static const auto forward = real<decltype(::clCreateCommandQueue)>("clCreateCommandQueue");
    ++gCalls;
    return made(forward(c, d, props, err), kQueues);
}
CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithSource(cl_context c, cl_uint n, const char** strings,
                                                              const size_t* lengths, cl_int* err) {
    static const auto forward =
        real<decltype(::clCreateProgramWithSource)>("clCreateProgramWithSource");
    ++gCalls;
    return made(forward(c, n, strings, lengths, err), kPrograms);
}
CL_API_ENTRY cl_int CL_API_CALL clBuildProgram(cl_program p, cl_uint n, const cl_device_id* devices,
                                               const char* options,
                                               void(CL_CALLBACK* notify)(cl_program, void*), void* user) {
    CINDEL_FORWARD(clBuildProgram, p, n, devices, options, notify, user);
}
CL_API_ENTRY cl_int CL_API_CALL clGetProgramBuildInfo(cl_program p, cl_device_id d, cl_program_build_info what,
                                                      size_t size, void* value, size_t* sizeRet) {
    CINDEL_FORWARD(clGetProgramBuildInfo, p, d, what, size, value, sizeRet);
}
CL_API_ENTRY cl_kernel CL_API_CALL clCreateKernel(cl_program p, const char* name, cl_int* err) {
    static const auto forward = real<decltype(::clCreateKernel)>("clCreateKernel");
    ++gCalls;
    return made(forward(p, name, err), kKernels);
}
CL_API_ENTRY cl_mem CL_API_CALL clCreateBuffer(cl_context c, cl_mem_flags flags, size_t size, void* host,
                                               cl_int* err) {
    static const auto forward = real<decltype(::clCreateBuffer)>("clCreateBuffer");
    ++gCalls;
    return made(forward(c, flags, size, host, err), kBuffers);
}
CL_API_ENTRY cl_mem CL_API_CALL clCreateImage(cl_context c, cl_mem_flags flags, const cl_image_format* format,
                                              const cl_image_desc* desc, void* host, cl_int* err) {
    static const auto forward = real<decltype(::clCreateImage)>("clCreateImage");
    ++gCalls;
    return made(forward(c, flags, format, desc, host, err), kImages);
}
CL_API_ENTRY cl_int CL_API_CALL clEnqueueFillBuffer(cl_command_queue q, cl_mem m, const void* pattern,
                                                    size_t patternSize, size_t offset, size_t size, cl_uint nWait,
                                                    const cl_event* wait, cl_event* event) {
    CINDEL_FORWARD(clEnqueueFillBuffer, q, m, pattern, patternSize, offset, size, nWait, wait, event);
}
CL_API_ENTRY cl_int CL_API_CALL clSetKernelArg(cl_kernel k, cl_uint index, size_t size, const void* value) {
    CINDEL_FORWARD(clSetKernelArg, k, index, size, value);
}
CL_API_ENTRY cl_int CL_API_CALL clEnqueueNDRangeKernel(cl_command_queue q, cl_kernel k, cl_uint dims,
                                                       const size_t* offset, const size_t* global, const size_t* local,
                                                       cl_uint nWait, const cl_event* wait, cl_event* event) {
    CINDEL_FORWARD(clEnqueueNDRangeKernel, q, k, dims, offset, global, local, nWait, wait, event);
}
CL_API_ENTRY cl_int CL_API_CALL clEnqueueReadBuffer(cl_command_queue q, cl_mem m, cl_bool blocking, size_t offset,
                                                    size_t size, void* ptr, cl_uint nWait, const cl_event* wait,
                                                    cl_event* event) {
    CINDEL_FORWARD(clEnqueueReadBuffer, q, m, blocking, offset, size, ptr, nWait, wait, event);
}
CL_API_ENTRY cl_int CL_API_CALL clEnqueueWriteBuffer(cl_command_queue q, cl_mem m, cl_bool blocking, size_t offset,
                                                     size_t size, const void* ptr, cl_uint nWait, const cl_event* wait,
                                                     cl_event* event) {
    CINDEL_FORWARD(clEnqueueWriteBuffer, q, m, blocking, offset, size, ptr, nWait, wait, event);
}
CL_API_ENTRY cl_int CL_API_CALL clEnqueueCopyBuffer(cl_command_queue q, cl_mem from, cl_mem to, size_t fromOffset,
                                                    size_t toOffset, size_t size, cl_uint nWait, const cl_event* wait,
                                                    cl_event* event) {
    CINDEL_FORWARD(clEnqueueCopyBuffer, q, from, to, fromOffset, toOffset, size, nWait, wait, event);
}
CL_API_ENTRY cl_int CL_API_CALL clFinish(cl_command_queue q) { CINDEL_FORWARD(clFinish, q); }

// A release forgets the object only when the library accepted it.
#define CINDEL_RELEASE(name, type)                                   \
    CL_API_ENTRY cl_int CL_API_CALL name(type object) {              \
        static const auto forward = real<decltype(::name)>(#name);   \
        ++gCalls;                                                    \
        const cl_int result = forward(object);                       \
        released(object, result);                                    \
        return result;                                               \
    }
CINDEL_RELEASE(clReleaseMemObject, cl_mem)
CINDEL_RELEASE(clReleaseKernel, cl_kernel)
CINDEL_RELEASE(clReleaseProgram, cl_program)
CINDEL_RELEASE(clReleaseCommandQueue, cl_command_queue)
CINDEL_RELEASE(clReleaseContext, cl_context)

}  // extern "C"
