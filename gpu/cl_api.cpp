#include "gpu/cl_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace cindel {

const char* const kClApiEntryNames[kClApiEntryCount] = {
    "clGetPlatformIDs",      "clGetDeviceIDs",          "clCreateContext",      "clCreateCommandQueue",
    "clCreateProgramWithSource", "clBuildProgram",      "clGetProgramBuildInfo", "clCreateKernel",
    "clCreateBuffer",        "clCreateImage",           "clEnqueueFillBuffer",  "clSetKernelArg",
    "clEnqueueNDRangeKernel", "clEnqueueReadBuffer",    "clEnqueueWriteBuffer", "clEnqueueCopyBuffer",
    "clReleaseMemObject",    "clReleaseKernel",         "clReleaseProgram",     "clReleaseCommandQueue",
    "clReleaseContext",      "clFinish",
};

namespace {

ClApi gApi{};
ClApiOptional gOptional{};
bool gLoaded = false;
std::string gLibraryPath;

// The platform's dynamic loader. On Windows the ICD loader is OpenCL.dll, installed into the
// system folder by every GPU driver; the effect never links it, so a machine without one still
// loads the plug-in and gets the no-GPU fill.
#ifdef _WIN32
void* openNamedLibrary(const char* name) { return reinterpret_cast<void*>(LoadLibraryA(name)); }
void* findEntry(void* lib, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void closeLibrary(void* lib) { FreeLibrary(static_cast<HMODULE>(lib)); }
constexpr const char* kDefaultLibraryNames[] = {"OpenCL.dll"};
#else
void* openNamedLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }
void* findEntry(void* lib, const char* name) { return dlsym(lib, name); }
void closeLibrary(void* lib) { dlclose(lib); }
constexpr const char* kDefaultLibraryNames[] = {"libOpenCL.so.1", "libOpenCL.so"};
#endif

void* openLibrary() {
    if (!gLibraryPath.empty()) return openNamedLibrary(gLibraryPath.c_str());
    for (const char* name : kDefaultLibraryNames) {
        if (void* lib = openNamedLibrary(name)) return lib;
    }
    return nullptr;
}

}  // namespace

const ClApi& cl() { return gApi; }
const ClApiOptional& clOptional() { return gOptional; }

bool loadClApi() {
    if (gLoaded) return true;
    void* lib = openLibrary();
    if (!lib) return false;
    // Ask for every name even after a miss: the table reflects the library, and the verdict is
    // taken over all of it.
    void** slots = reinterpret_cast<void**>(&gApi);
    bool complete = true;
    for (int i = 0; i < kClApiEntryCount; ++i) {
        slots[i] = findEntry(lib, kClApiEntryNames[i]);
        complete = complete && slots[i] != nullptr;
    }
    if (!complete) {
        // Never leave a partly filled table behind that a later caller could mistake for a loaded one.
        gApi = ClApi{};
        closeLibrary(lib);
        return false;
    }
    gOptional.clGetPlatformInfo = reinterpret_cast<decltype(gOptional.clGetPlatformInfo)>(findEntry(lib, "clGetPlatformInfo"));
    gOptional.clGetDeviceInfo = reinterpret_cast<decltype(gOptional.clGetDeviceInfo)>(findEntry(lib, "clGetDeviceInfo"));
    gLoaded = true;  // the library stays open for the life of the process
    return true;
}

void setClLibraryPath(const char* path) { gLibraryPath = path ? path : ""; }

void resetClApiForTests() {
    gApi = ClApi{};
    gOptional = ClApiOptional{};
    gLoaded = false;
}

const char* clErrorName(cl_int code) {
    switch (code) {
#define CINDEL_CL_ERROR(name) \
    case name:                \
        return #name;
        CINDEL_CL_ERROR(CL_SUCCESS)
        CINDEL_CL_ERROR(CL_DEVICE_NOT_FOUND)
        CINDEL_CL_ERROR(CL_DEVICE_NOT_AVAILABLE)
        CINDEL_CL_ERROR(CL_COMPILER_NOT_AVAILABLE)
        CINDEL_CL_ERROR(CL_MEM_OBJECT_ALLOCATION_FAILURE)
        CINDEL_CL_ERROR(CL_OUT_OF_RESOURCES)
        CINDEL_CL_ERROR(CL_OUT_OF_HOST_MEMORY)
        CINDEL_CL_ERROR(CL_BUILD_PROGRAM_FAILURE)
        CINDEL_CL_ERROR(CL_INVALID_VALUE)
        CINDEL_CL_ERROR(CL_INVALID_DEVICE_TYPE)
        CINDEL_CL_ERROR(CL_INVALID_PLATFORM)
        CINDEL_CL_ERROR(CL_INVALID_DEVICE)
        CINDEL_CL_ERROR(CL_INVALID_CONTEXT)
        CINDEL_CL_ERROR(CL_INVALID_COMMAND_QUEUE)
        CINDEL_CL_ERROR(CL_INVALID_MEM_OBJECT)
        CINDEL_CL_ERROR(CL_INVALID_PROGRAM)
        CINDEL_CL_ERROR(CL_INVALID_PROGRAM_EXECUTABLE)
        CINDEL_CL_ERROR(CL_INVALID_KERNEL_NAME)
        CINDEL_CL_ERROR(CL_INVALID_KERNEL)
        CINDEL_CL_ERROR(CL_INVALID_ARG_INDEX)
        CINDEL_CL_ERROR(CL_INVALID_ARG_VALUE)
        CINDEL_CL_ERROR(CL_INVALID_ARG_SIZE)
        CINDEL_CL_ERROR(CL_INVALID_KERNEL_ARGS)
        CINDEL_CL_ERROR(CL_INVALID_WORK_DIMENSION)
        CINDEL_CL_ERROR(CL_INVALID_WORK_GROUP_SIZE)
        CINDEL_CL_ERROR(CL_INVALID_GLOBAL_WORK_SIZE)
        CINDEL_CL_ERROR(CL_INVALID_BUFFER_SIZE)
#undef CINDEL_CL_ERROR
        default:
            return "unknown OpenCL error";
    }
}

}  // namespace cindel
