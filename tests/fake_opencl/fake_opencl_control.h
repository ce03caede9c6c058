// The control surface of the scripted OpenCL library that the GPU runtime tests load in place of
// the system's ICD loader. The library exports the 22 OpenCL entry points the effect resolves
// (the variant built with FAKE_OMIT_CREATE_IMAGE lacks clCreateImage) and these C functions, which
// a test reaches by dlopen-ing the same path the loader opened (the dynamic loader hands back the
// same instance, so the test scripts and reads the very library the runtime calls into).
//
// Script: platforms with their devices, failures of individual entry points, the program build
// and its log, clCreateBuffer / clCreateKernel failures by call number or byte size, and any one
// call by its number. Record: calls per entry point and in order (with the kernel each concerns),
// live objects per kind, the bytes of every buffer request and the kernel names asked for.
// Objects are never freed, so a handle stays unique for the whole process and a release (or any
// other use) of a stale or foreign handle is counted instead of corrupting anything.
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

// Default script: one platform with one GPU device, builds succeed, nothing fails. Clears every
// counter and record. Objects made before stay valid handles but no longer count.
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

// ---- failures of whole entry points
// Makes `entry` return `error` (creation calls then return null); CL_SUCCESS clears it.
void fakeClFailEntry(const char* entry, cl_int error);
// Call number n (1-based since reset, counting every entry point in call-log order) returns
// `error`, creation calls null; 0: none.
void fakeClFailCall(int n, cl_int error);
// Call number n of `entry` alone returns `error`; 0: none.
void fakeClFailEntryCall(const char* entry, int n, cl_int error);
// A creation call failed by the three controls above still hands back an object with its error,
// as some drivers do.
void fakeClSetErrorWithObject(int enabled);

// ---- program build
// reportedLogSize is what a size query of CL_PROGRAM_BUILD_LOG answers; (size_t)-1 means the
// text's length plus its terminator. A fetch copies at most that many bytes of the text.
void fakeClSetBuild(int succeeds, const char* log, size_t reportedLogSize);
const char* fakeClProgramSource(void);  // the text of the last program made
const char* fakeClBuildOptions(void);  // the options of the last build
cl_device_id fakeClBuildDevice(void);  // the one device of the last build (null when not one)
cl_command_queue_properties fakeClQueueProperties(void);
cl_device_id fakeClContextDevice(void);  // the one device of the last context (null when not one)

// ---- kernels
// clCreateKernel call number n (1-based since reset) fails; 0: none.
void fakeClSetKernelFailAt(int n);
int fakeClKernelRequestCount(void);
const char* fakeClKernelName(int request);  // names of the kernels actually made, in order
int fakeClKernelMadeCount(void);

// ---- buffers
// clCreateBuffer call number n fails; 0: none.
void fakeClSetBufferFailAt(int n);
// Every request of more than `bytes` fails; 0: none.
void fakeClSetBufferFailAbove(size_t bytes);
// Every call numbered first … last (inclusive) fails; first 0: none.
void fakeClSetBufferFailRange(int first, int last);
// A failing call still hands back an object with its error, as some drivers do.
void fakeClSetBufferErrorWithObject(int enabled);
int fakeClBufferRequestCount(void);
size_t fakeClBufferRequestBytes(int request);
cl_mem_flags fakeClBufferRequestFlags(int request);
int fakeClBufferRequestHadHostPtr(int request);
// The size of a live buffer made since the last reset; 0 for anything else.
size_t fakeClBufferBytes(cl_mem buffer);

// ---- counters
int fakeClLiveCount(int kind);
int fakeClCreatedCount(int kind);
int fakeClReleasedCount(int kind);
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
#endif
