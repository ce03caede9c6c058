// The control surface of the scripted OpenCL library that the GPU runtime tests load in place of
// the system's ICD loader. The library exports the 22 OpenCL entry points the effect resolves
// (the variant built with FAKE_OMIT_CREATE_IMAGE lacks clCreateImage) and these C functions, which
// a test reaches by dlopen-ing the same path the loader opened (the dynamic loader hands back the
// same instance, so the test scripts and reads the very library the runtime calls into).
//
// Script: platforms with their devices, and failures of a call by its number or of a range of
// calls of one entry point. Record: calls per entry point and in order (with the kernel each
// concerns), live objects per kind, the program, build, context and queue arguments, and every
// buffer request. Objects are never freed, so a handle stays unique for the whole process and a
// release (or any other use) of a stale or foreign handle is counted instead of corrupting anything.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#ifndef CL_USE_DEPRECATED_OPENCL_1_2_APIS
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#endif
#include <CL/cl.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Object kinds the counters are kept for.
enum FakeClKind {
    kFakeClBuffer = 0,
    kFakeClKernel = 1,
    kFakeClProgram = 2,
    kFakeClQueue = 3,
    kFakeClContext = 4,
    kFakeClKindCount = 5
};

enum { kFakeClMaxPlatforms = 16, kFakeClMaxDevicesPerPlatform = 4 };

// Default script: one platform with one GPU device, nothing fails. Clears every counter and
// record. Objects made before stay valid handles but no longer count.
void fakeClReset(void);
// How many times the library was initialised in this process (its constructor ran).
int fakeClLoadCount(void);

// ---- platforms and devices
// Sets the number of platforms (0 … kFakeClMaxPlatforms), each with no device.
void fakeClSetPlatformCount(int count);
// Adds a device of `type` (CL_DEVICE_TYPE_GPU, _CPU, _ACCELERATOR) to a platform; its index.
int fakeClAddDevice(int platform, cl_device_type type);
cl_platform_id fakeClPlatformHandle(int platform);
cl_device_id fakeClDeviceHandle(int platform, int device);
// Every clGetDeviceIDs call in order: the platform index asked about (−1 for an unknown handle)
// and the type asked for.
int fakeClDeviceQueryCount(void);
int fakeClDeviceQueryPlatform(int query);
cl_device_type fakeClDeviceQueryType(int query);

// ---- failures
// Call number n (1-based since reset, counting every entry point in call-log order) returns
// `error`, creation calls null; 0: none.
void fakeClFailCall(int n, cl_int error);
// Calls number first … last of `entry` alone return `error`; first 0: none.
void fakeClFailEntryCalls(const char* entry, int first, int last, cl_int error);
// A creation call failed by the two controls above still hands back an object with its error,
// as some drivers do.
void fakeClSetErrorWithObject(int enabled);

// ---- what the runtime asked for
const char* fakeClProgramSource(void);  // the text of the last program made
const char* fakeClBuildOptions(void);  // the options of the last build
cl_device_id fakeClBuildDevice(void);  // the one device of the last build (null when not one)
cl_command_queue_properties fakeClQueueProperties(void);
cl_device_id fakeClContextDevice(void);  // the one device of the last context (null when not one)
int fakeClBufferRequestCount(void);
size_t fakeClBufferRequestBytes(int request);
cl_mem_flags fakeClBufferRequestFlags(int request);
int fakeClBufferRequestHadHostPtr(int request);
// The size of a live buffer made since the last reset; 0 for anything else.
size_t fakeClBufferBytes(cl_mem buffer);

// ---- counters
int fakeClLiveCount(int kind);
// Releases of a handle that is not a live object of that kind made since the last reset.
int fakeClBadReleaseCount(void);
// Other calls given such a handle (a kernel's null buffer argument excepted).
int fakeClInvalidHandleCount(void);
// Calls per entry point (any of the 22 names) and every call in order.
int fakeClCallCount(const char* entry);
int fakeClCallLogSize(void);
const char* fakeClCallLogEntry(int index);
// The kernel a logged call made, bound or enqueued (its name); "" for any other call.
const char* fakeClCallLogKernel(int index);

#ifdef __cplusplus
}

#include <dlfcn.h>

#include <string>
#include <vector>

// clang-format off
#define FAKE_CL_CONTROLS(X)                                                                                        \
    X(reset, fakeClReset) X(loadCount, fakeClLoadCount) X(setPlatformCount, fakeClSetPlatformCount)                \
    X(addDevice, fakeClAddDevice) X(platformHandle, fakeClPlatformHandle) X(deviceHandle, fakeClDeviceHandle)      \
    X(deviceQueryCount, fakeClDeviceQueryCount) X(deviceQueryPlatform, fakeClDeviceQueryPlatform)                  \
    X(deviceQueryType, fakeClDeviceQueryType) X(failCall, fakeClFailCall) X(failEntryCalls, fakeClFailEntryCalls)  \
    X(setErrorWithObject, fakeClSetErrorWithObject) X(programSource, fakeClProgramSource)                          \
    X(buildOptions, fakeClBuildOptions) X(buildDevice, fakeClBuildDevice) X(queueProperties, fakeClQueueProperties) \
    X(contextDevice, fakeClContextDevice) X(bufferRequestCount, fakeClBufferRequestCount)                          \
    X(bufferRequestBytes, fakeClBufferRequestBytes) X(bufferRequestFlags, fakeClBufferRequestFlags)                \
    X(bufferRequestHadHostPtr, fakeClBufferRequestHadHostPtr) X(bufferBytes, fakeClBufferBytes)                    \
    X(liveCount, fakeClLiveCount) X(badReleaseCount, fakeClBadReleaseCount)                                        \
    X(invalidHandleCount, fakeClInvalidHandleCount) X(callCount, fakeClCallCount)                                  \
    X(callLogSize, fakeClCallLogSize) X(callLogEntry, fakeClCallLogEntry) X(callLogKernel, fakeClCallLogKernel)
// clang-format on

// The controls of the library at `path`, opened as the loader opens it so that both reach one
// instance; never closed. Every member is null when the library cannot be opened.
struct FakeClControls {
    void* handle = nullptr;
#define FAKE_CL_MEMBER(member, symbol) decltype(&::symbol) member = nullptr;
    FAKE_CL_CONTROLS(FAKE_CL_MEMBER)
#undef FAKE_CL_MEMBER

    explicit FakeClControls(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle) return;
#define FAKE_CL_RESOLVE(member, symbol) member = reinterpret_cast<decltype(member)>(dlsym(handle, #symbol));
        FAKE_CL_CONTROLS(FAKE_CL_RESOLVE)
#undef FAKE_CL_RESOLVE
    }
    // Everything the library was called with since the last reset, from call `from` on.
    std::vector<std::string> calls(int from = 0) const {
        std::vector<std::string> out;
        for (int i = from; i < callLogSize(); ++i) out.emplace_back(callLogEntry(i));
        return out;
    }
};
#endif
