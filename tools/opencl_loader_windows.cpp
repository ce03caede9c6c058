// The four OpenCL queries of `cindel info`, for the Windows build: forwarded to OpenCL.dll, opened
// with LoadLibraryA on first use as the effect opens it, so that cindel.exe does not import
// OpenCL.dll and starts (and renders the no-GPU fill) on a render node without any OpenCL driver.
// Both then share the one ICD loader of the process, whose handles the effect logs. Without the
// library every query answers CL_PLATFORM_NOT_FOUND_KHR, which info reports as no platforms.
#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include <windows.h>

namespace {

constexpr cl_int kNoPlatform = -1001;  // CL_PLATFORM_NOT_FOUND_KHR

template <typename Function>
Function* entry(const char* name) {
    static HMODULE library = LoadLibraryA("OpenCL.dll");
    if (!library) return nullptr;
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

extern "C" {

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformIDs(cl_uint entries, cl_platform_id* platforms, cl_uint* count) {
    static auto* f = entry<decltype(clGetPlatformIDs)>("clGetPlatformIDs");
    return f ? f(entries, platforms, count) : kNoPlatform;
}

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id platform, cl_platform_info name, size_t size,
                                                  void* value, size_t* sizeReturned) {
    static auto* f = entry<decltype(clGetPlatformInfo)>("clGetPlatformInfo");
    return f ? f(platform, name, size, value, sizeReturned) : kNoPlatform;
}

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceIDs(cl_platform_id platform, cl_device_type type, cl_uint entries,
                                               cl_device_id* devices, cl_uint* count) {
    static auto* f = entry<decltype(clGetDeviceIDs)>("clGetDeviceIDs");
    return f ? f(platform, type, entries, devices, count) : kNoPlatform;
}

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceInfo(cl_device_id device, cl_device_info name, size_t size, void* value,
                                                size_t* sizeReturned) {
    static auto* f = entry<decltype(clGetDeviceInfo)>("clGetDeviceInfo");
    return f ? f(device, name, size, value, sizeReturned) : kNoPlatform;
}

}  // extern "C"
