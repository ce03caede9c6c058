// The OpenCL entry points the effect calls, resolved at run time. The effect never links against
// OpenCL: start-up opens the platform's library by name and fills one process-wide table of the 22
// entry points; every OpenCL call anywhere in the effect goes through it. A library that lacks any
// one of them (an OpenCL 1.0/1.1 library has no clCreateImage or clEnqueueFillBuffer) is refused as
// a whole, so a call through the table never meets a null slot.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#include <CL/cl.h>

namespace cindel {

struct ClApi {
    decltype(&::clGetPlatformIDs) clGetPlatformIDs;
    decltype(&::clGetDeviceIDs) clGetDeviceIDs;
    decltype(&::clCreateContext) clCreateContext;
    decltype(&::clCreateCommandQueue) clCreateCommandQueue;
    decltype(&::clCreateProgramWithSource) clCreateProgramWithSource;
    decltype(&::clBuildProgram) clBuildProgram;
    decltype(&::clGetProgramBuildInfo) clGetProgramBuildInfo;
    decltype(&::clCreateKernel) clCreateKernel;
    decltype(&::clCreateBuffer) clCreateBuffer;
    decltype(&::clCreateImage) clCreateImage;
    decltype(&::clEnqueueFillBuffer) clEnqueueFillBuffer;
    decltype(&::clSetKernelArg) clSetKernelArg;
    decltype(&::clEnqueueNDRangeKernel) clEnqueueNDRangeKernel;
    decltype(&::clEnqueueReadBuffer) clEnqueueReadBuffer;
    decltype(&::clEnqueueWriteBuffer) clEnqueueWriteBuffer;
    decltype(&::clEnqueueCopyBuffer) clEnqueueCopyBuffer;
    decltype(&::clReleaseMemObject) clReleaseMemObject;
    decltype(&::clReleaseKernel) clReleaseKernel;
    decltype(&::clReleaseProgram) clReleaseProgram;
    decltype(&::clReleaseCommandQueue) clReleaseCommandQueue;
    decltype(&::clReleaseContext) clReleaseContext;
    decltype(&::clFinish) clFinish;
};

constexpr int kClApiEntryCount = 22;
static_assert(sizeof(ClApi) == kClApiEntryCount * sizeof(void*));

// Entry points the effect can live without: resolved when present, for diagnostics only. A library
// that lacks them is still accepted.
struct ClApiOptional {
    decltype(&::clGetPlatformInfo) clGetPlatformInfo;
    decltype(&::clGetDeviceInfo) clGetDeviceInfo;
};
const ClApiOptional& clOptional();

// The entry point names in table order.
extern const char* const kClApiEntryNames[kClApiEntryCount];

// The process-wide table. Valid to call through only after loadClApi returned true.
const ClApi& cl();

// Opens the OpenCL library and resolves all 22 entry points. Once a load succeeded the table is
// kept for the life of the process (the library is never closed) and later calls return true at
// once; a failed load leaves nothing usable and a later call tries again.
bool loadClApi();

// The library the loader opens: the system's ICD loader by default ("libOpenCL.so.1", then
// "libOpenCL.so"). Tests point it at a scripted fake; null restores the default.
void setClLibraryPath(const char* path);

// Forgets a loaded table so that a test can load another library in the same process. The effect
// itself never unloads.
void resetClApiForTests();

// The OpenCL error name for a code ("CL_OUT_OF_RESOURCES"), for diagnostics.
const char* clErrorName(cl_int code);

}  // namespace cindel
