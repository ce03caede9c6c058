// A scripted OpenCL 1.2 library for the GPU runtime tests: the 22 entry points the effect resolves,
// with the Khronos signatures, over objects that are bookkeeping only (no memory behind a buffer,
// no compiler behind a build). Built twice: as is, and with FAKE_OMIT_CREATE_IMAGE, which leaves
// out clCreateImage so that a test can offer the loader an otherwise complete library.
//
// Tests script and read it through fake_opencl_control.h. Calls are validated the way a driver
// would (unknown handles, a host pointer where none belongs, zero sizes), because a runtime that
// passes a wrong handle must fail here as it would on a device, not slip through.
#include "fake_opencl_control.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

enum ObjectKind : int { kPlatform = 100, kDevice = 101 };

struct FakeObject {
    int kind = 0;
    bool live = true;
    unsigned generation = 0;
    size_t bytes = 0;              // buffers
    cl_device_type deviceType = 0;  // devices
    std::string name;               // kernels
};

struct Platform {
    FakeObject self;
    int deviceCount = 0;
    FakeObject devices[kFakeClMaxDevicesPerPlatform];
};

struct DeviceQuery {
    int platform;
    cl_device_type type;
};

struct BufferRequest {
    size_t bytes;
    cl_mem_flags flags;
    bool hadHostPtr;
};

struct State {
    unsigned generation = 1;
    Platform platforms[kFakeClMaxPlatforms];
    int platformCount = 0;
    std::vector<DeviceQuery> deviceQueries;

    // By the entry points' own name literals, which outlive every record: a sweep makes millions of
    // calls, and a string per call would dominate its time.
    std::map<const char*, int> calls;
    std::vector<const char*> callLog;
    std::vector<const char*> callKernel;  // beside callLog: a kernel's name, kept by its object
    int failCallAt = 0;
    cl_int failCallError = CL_SUCCESS;
    std::string failEntryName;
    int failEntryFirst = 0, failEntryLast = 0;
    cl_int failEntryError = CL_SUCCESS;
    bool errorWithObject = false;

    std::string programSource;
    std::string buildOptions;
    cl_device_id buildDevice = nullptr;
    cl_device_id contextDevice = nullptr;
    cl_command_queue_properties queueProperties = ~cl_command_queue_properties{0};
    std::vector<BufferRequest> bufferRequests;

    int live[kFakeClKindCount] = {};
    int badReleases = 0;
    int invalidHandles = 0;

    // Every object ever made; never freed, so no address is reused for a later handle.
    std::unordered_map<const void*, FakeObject*> objects;
};

// Never destroyed: the objects must outlive static destruction, or a leak checker running at exit
// would see every handle of the process as lost.
State& state() {
    static State* s = new State;
    return *s;
}

int gLoadCount = 0;

// What the ICD loader answers when no platform is installed (cl_khr_icd).
constexpr cl_int kPlatformNotFoundKhr = -1001;

__attribute__((constructor)) void onLoad() {
    ++gLoadCount;
    fakeClReset();
}

// Counts the call and answers whether the test scripted a failure for it.
cl_int enter(const char* entry, const char* kernel = "") {
    State& s = state();
    const int nth = ++s.calls[entry];
    s.callLog.push_back(entry);
    s.callKernel.push_back(kernel);
    if (s.failCallAt > 0 && static_cast<int>(s.callLog.size()) == s.failCallAt) return s.failCallError;
    const bool inRange = s.failEntryFirst > 0 && nth >= s.failEntryFirst && nth <= s.failEntryLast;
    return inRange && s.failEntryName == entry ? s.failEntryError : CL_SUCCESS;
}

void setError(cl_int* errcode, cl_int value) {
    if (errcode) *errcode = value;
}

template <typename Handle>
Handle makeObject(int kind, size_t bytes = 0) {
    State& s = state();
    auto* o = new FakeObject;
    o->kind = kind;
    o->generation = s.generation;
    o->bytes = bytes;
    s.objects[o] = o;
    ++s.live[kind];
    return reinterpret_cast<Handle>(o);
}

// What a creation call that the script fails hands back: null, or with errorWithObject an object.
template <typename Handle>
Handle failed(cl_int* errcode, cl_int err, int kind) {
    setError(errcode, err);
    return state().errorWithObject ? makeObject<Handle>(kind) : nullptr;
}

template <typename Handle>
Handle refused(cl_int* errcode, cl_int err) {
    setError(errcode, err);
    return nullptr;
}

// A live object of `kind` made since the last reset, or null.
FakeObject* find(const void* handle, int kind) {
    State& s = state();
    const auto it = s.objects.find(handle);
    if (it == s.objects.end()) return nullptr;
    FakeObject* o = it->second;
    return o->kind == kind && o->live && o->generation == s.generation ? o : nullptr;
}

// find, for a handle an entry point was given: a miss is counted, because the effect ignores most
// results and a stale handle would otherwise go unseen.
FakeObject* use(const void* handle, int kind) {
    FakeObject* o = find(handle, kind);
    if (!o) ++state().invalidHandles;
    return o;
}

bool isDevice(const void* handle) {
    const State& s = state();
    for (int p = 0; p < s.platformCount; ++p)
        for (int d = 0; d < s.platforms[p].deviceCount; ++d)
            if (handle == &s.platforms[p].devices[d]) return true;
    return false;
}

int platformIndex(const void* handle) {
    const State& s = state();
    for (int p = 0; p < s.platformCount; ++p)
        if (handle == &s.platforms[p].self) return p;
    return -1;
}

cl_int release(const char* entry, const void* handle, int kind, cl_int invalidCode) {
    if (const cl_int err = enter(entry)) return err;
    FakeObject* o = find(handle, kind);
    if (!o) {
        ++state().badReleases;
        return invalidCode;
    }
    o->live = false;
    --state().live[kind];
    return CL_SUCCESS;
}

// enter, then the queue every enqueue names.
cl_int enterOnQueue(const char* entry, cl_command_queue queue, const char* kernel = "") {
    if (const cl_int err = enter(entry, kernel)) return err;
    return use(queue, kFakeClQueue) ? CL_SUCCESS : CL_INVALID_COMMAND_QUEUE;
}

// A process-lifetime copy of a name the caller owns.
const char* intern(const char* name) {
    static auto* names = new std::set<std::string>;
    return names->insert(name ? name : "").first->c_str();
}

// The name of a kernel handle as the call log shows it; "?" for anything else.
const char* kernelNameOf(const void* handle) {
    const auto it = state().objects.find(handle);
    return it != state().objects.end() && it->second->kind == kFakeClKernel ? it->second->name.c_str() : "?";
}

// Element i of a record, or `none` past its end.
template <typename T, typename F>
auto recordAt(const std::vector<T>& record, int i, F field, decltype(field(record[0])) none) {
    return i >= 0 && static_cast<size_t>(i) < record.size() ? field(record[static_cast<size_t>(i)]) : none;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Control.

void fakeClReset(void) {
    State& s = state();
    State fresh;
    fresh.generation = s.generation + 1;
    fresh.objects = std::move(s.objects);
    s = std::move(fresh);
    fakeClSetPlatformCount(1);
    fakeClAddDevice(0, CL_DEVICE_TYPE_GPU);
}

int fakeClLoadCount(void) { return gLoadCount; }

void fakeClSetPlatformCount(int count) {
    State& s = state();
    s.platformCount = count < 0 ? 0 : count > kFakeClMaxPlatforms ? kFakeClMaxPlatforms : count;
    for (Platform& pl : s.platforms) pl.self.kind = kPlatform, pl.deviceCount = 0;
}

int fakeClAddDevice(int platform, cl_device_type type) {
    State& s = state();
    if (platform < 0 || platform >= s.platformCount) return -1;
    Platform& pl = s.platforms[platform];
    if (pl.deviceCount >= kFakeClMaxDevicesPerPlatform) return -1;
    pl.devices[pl.deviceCount].kind = kDevice;
    pl.devices[pl.deviceCount].deviceType = type;
    return pl.deviceCount++;
}

cl_platform_id fakeClPlatformHandle(int platform) {
    if (platform < 0 || platform >= kFakeClMaxPlatforms) return nullptr;
    return reinterpret_cast<cl_platform_id>(&state().platforms[platform].self);
}

cl_device_id fakeClDeviceHandle(int platform, int device) {
    if (platform < 0 || platform >= kFakeClMaxPlatforms || device < 0 || device >= kFakeClMaxDevicesPerPlatform)
        return nullptr;
    return reinterpret_cast<cl_device_id>(&state().platforms[platform].devices[device]);
}

int fakeClDeviceQueryCount(void) { return static_cast<int>(state().deviceQueries.size()); }
int fakeClDeviceQueryPlatform(int query) {
    return recordAt(state().deviceQueries, query, [](const DeviceQuery& q) { return q.platform; }, -2);
}
cl_device_type fakeClDeviceQueryType(int query) {
    return recordAt(state().deviceQueries, query, [](const DeviceQuery& q) { return q.type; }, cl_device_type{0});
}

void fakeClFailCall(int n, cl_int error) {
    state().failCallAt = n;
    state().failCallError = error;
}

void fakeClFailEntryCalls(const char* entry, int first, int last, cl_int error) {
    State& s = state();
    s.failEntryName = entry ? entry : "";
    s.failEntryFirst = first;
    s.failEntryLast = last;
    s.failEntryError = error;
}

void fakeClSetErrorWithObject(int enabled) { state().errorWithObject = enabled != 0; }

const char* fakeClProgramSource(void) { return state().programSource.c_str(); }
const char* fakeClBuildOptions(void) { return state().buildOptions.c_str(); }
cl_device_id fakeClBuildDevice(void) { return state().buildDevice; }
cl_command_queue_properties fakeClQueueProperties(void) { return state().queueProperties; }
cl_device_id fakeClContextDevice(void) { return state().contextDevice; }

int fakeClBufferRequestCount(void) { return static_cast<int>(state().bufferRequests.size()); }
size_t fakeClBufferRequestBytes(int request) {
    return recordAt(state().bufferRequests, request, [](const BufferRequest& r) { return r.bytes; }, size_t{0});
}
cl_mem_flags fakeClBufferRequestFlags(int request) {
    return recordAt(state().bufferRequests, request, [](const BufferRequest& r) { return r.flags; }, cl_mem_flags{0});
}
int fakeClBufferRequestHadHostPtr(int request) {
    return recordAt(state().bufferRequests, request, [](const BufferRequest& r) { return int(r.hadHostPtr); }, 0);
}

size_t fakeClBufferBytes(cl_mem buffer) {
    const FakeObject* o = find(buffer, kFakeClBuffer);
    return o ? o->bytes : 0;
}

int fakeClLiveCount(int kind) { return kind >= 0 && kind < kFakeClKindCount ? state().live[kind] : -1; }
int fakeClBadReleaseCount(void) { return state().badReleases; }
int fakeClInvalidHandleCount(void) { return state().invalidHandles; }

int fakeClCallCount(const char* entry) {
    int n = 0;
    for (const auto& [name, count] : state().calls) n += entry && std::strcmp(name, entry) == 0 ? count : 0;
    return n;
}

int fakeClCallLogSize(void) { return static_cast<int>(state().callLog.size()); }
const char* fakeClCallLogEntry(int index) {
    return recordAt(state().callLog, index, [](const char* e) { return e; }, nullptr);
}
const char* fakeClCallLogKernel(int index) {
    return recordAt(state().callKernel, index, [](const char* k) { return k; }, nullptr);
}

// ---------------------------------------------------------------------------------------------
// The OpenCL entry points.

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformIDs(cl_uint num_entries, cl_platform_id* platforms,
                                                 cl_uint* num_platforms) {
    if (const cl_int err = enter("clGetPlatformIDs")) return err;
    if ((num_entries == 0 && platforms) || (!platforms && !num_platforms)) return CL_INVALID_VALUE;
    const State& s = state();
    if (num_platforms) *num_platforms = static_cast<cl_uint>(s.platformCount);
    if (s.platformCount == 0) return kPlatformNotFoundKhr;
    for (cl_uint i = 0; platforms && i < num_entries && static_cast<int>(i) < s.platformCount; ++i)
        platforms[i] = fakeClPlatformHandle(static_cast<int>(i));
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceIDs(cl_platform_id platform, cl_device_type device_type,
                                               cl_uint num_entries, cl_device_id* devices, cl_uint* num_devices) {
    const int p = platformIndex(platform);
    state().deviceQueries.push_back({p, device_type});
    if (const cl_int err = enter("clGetDeviceIDs")) return err;
    if (p < 0) return CL_INVALID_PLATFORM;
    if ((num_entries == 0 && devices) || (!devices && !num_devices)) return CL_INVALID_VALUE;
    const Platform& pl = state().platforms[p];
    cl_uint found = 0;
    for (int d = 0; d < pl.deviceCount; ++d) {
        if (device_type != CL_DEVICE_TYPE_ALL && !(pl.devices[d].deviceType & device_type)) continue;
        if (devices && found < num_entries) devices[found] = fakeClDeviceHandle(p, d);
        ++found;
    }
    if (num_devices) *num_devices = found;
    return found == 0 ? CL_DEVICE_NOT_FOUND : CL_SUCCESS;
}

CL_API_ENTRY cl_context CL_API_CALL clCreateContext(const cl_context_properties*, cl_uint num_devices,
                                                    const cl_device_id* devices,
                                                    void(CL_CALLBACK*)(const char*, const void*, size_t, void*),
                                                    void*, cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateContext")) return failed<cl_context>(errcode_ret, err, kFakeClContext);
    if (num_devices == 0 || !devices) return refused<cl_context>(errcode_ret, CL_INVALID_VALUE);
    for (cl_uint i = 0; i < num_devices; ++i)
        if (!isDevice(devices[i])) return refused<cl_context>(errcode_ret, CL_INVALID_DEVICE);
    state().contextDevice = num_devices == 1 ? devices[0] : nullptr;
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_context>(kFakeClContext);
}

CL_API_ENTRY cl_command_queue CL_API_CALL clCreateCommandQueue(cl_context context, cl_device_id device,
                                                               cl_command_queue_properties properties,
                                                               cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateCommandQueue"))
        return failed<cl_command_queue>(errcode_ret, err, kFakeClQueue);
    if (!use(context, kFakeClContext)) return refused<cl_command_queue>(errcode_ret, CL_INVALID_CONTEXT);
    if (!isDevice(device)) return refused<cl_command_queue>(errcode_ret, CL_INVALID_DEVICE);
    state().queueProperties = properties;
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_command_queue>(kFakeClQueue);
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithSource(cl_context context, cl_uint count,
                                                              const char** strings, const size_t* lengths,
                                                              cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateProgramWithSource"))
        return failed<cl_program>(errcode_ret, err, kFakeClProgram);
    if (!use(context, kFakeClContext)) return refused<cl_program>(errcode_ret, CL_INVALID_CONTEXT);
    if (count == 0 || !strings) return refused<cl_program>(errcode_ret, CL_INVALID_VALUE);
    State& s = state();
    s.programSource.clear();
    for (cl_uint i = 0; i < count; ++i) {
        if (!strings[i]) return refused<cl_program>(errcode_ret, CL_INVALID_VALUE);
        s.programSource.append(strings[i], lengths && lengths[i] ? lengths[i] : std::strlen(strings[i]));
    }
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_program>(kFakeClProgram);
}

CL_API_ENTRY cl_int CL_API_CALL clBuildProgram(cl_program program, cl_uint num_devices,
                                               const cl_device_id* device_list, const char* options,
                                               void(CL_CALLBACK*)(cl_program, void*), void*) {
    if (const cl_int err = enter("clBuildProgram")) return err;
    if (!use(program, kFakeClProgram)) return CL_INVALID_PROGRAM;
    State& s = state();
    s.buildOptions = options ? options : "";
    s.buildDevice = num_devices == 1 && device_list ? device_list[0] : nullptr;
    return s.buildDevice && !isDevice(s.buildDevice) ? CL_INVALID_DEVICE : CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clGetProgramBuildInfo(cl_program program, cl_device_id device,
                                                      cl_program_build_info param_name, size_t param_value_size,
                                                      void* param_value, size_t* param_value_size_ret) {
    static const char kLog[] = "fake build log";
    if (const cl_int err = enter("clGetProgramBuildInfo")) return err;
    if (!use(program, kFakeClProgram)) return CL_INVALID_PROGRAM;
    if (!isDevice(device)) return CL_INVALID_DEVICE;
    if (param_name != CL_PROGRAM_BUILD_LOG) return CL_INVALID_VALUE;
    if (param_value_size_ret) *param_value_size_ret = sizeof kLog;
    if (!param_value) return CL_SUCCESS;
    if (param_value_size < sizeof kLog) return CL_INVALID_VALUE;
    std::memcpy(param_value, kLog, sizeof kLog);
    return CL_SUCCESS;
}

CL_API_ENTRY cl_kernel CL_API_CALL clCreateKernel(cl_program program, const char* kernel_name,
                                                  cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateKernel", intern(kernel_name)))
        return failed<cl_kernel>(errcode_ret, err, kFakeClKernel);
    if (!use(program, kFakeClProgram)) return refused<cl_kernel>(errcode_ret, CL_INVALID_PROGRAM);
    if (!kernel_name) return refused<cl_kernel>(errcode_ret, CL_INVALID_KERNEL_NAME);
    setError(errcode_ret, CL_SUCCESS);
    const cl_kernel k = makeObject<cl_kernel>(kFakeClKernel);
    reinterpret_cast<FakeObject*>(k)->name = kernel_name;
    return k;
}

CL_API_ENTRY cl_mem CL_API_CALL clCreateBuffer(cl_context context, cl_mem_flags flags, size_t size, void* host_ptr,
                                               cl_int* errcode_ret) {
    state().bufferRequests.push_back({size, flags, host_ptr != nullptr});
    if (const cl_int err = enter("clCreateBuffer")) return failed<cl_mem>(errcode_ret, err, kFakeClBuffer);
    if (!use(context, kFakeClContext)) return refused<cl_mem>(errcode_ret, CL_INVALID_CONTEXT);
    if (size == 0) return refused<cl_mem>(errcode_ret, CL_INVALID_BUFFER_SIZE);
    if (host_ptr && !(flags & (CL_MEM_USE_HOST_PTR | CL_MEM_COPY_HOST_PTR)))
        return refused<cl_mem>(errcode_ret, CL_INVALID_HOST_PTR);
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_mem>(kFakeClBuffer, size);
}

#ifndef FAKE_OMIT_CREATE_IMAGE
// The effect resolves this entry but never calls it; a call is visible in the counters.
CL_API_ENTRY cl_mem CL_API_CALL clCreateImage(cl_context, cl_mem_flags, const cl_image_format*, const cl_image_desc*,
                                              void*, cl_int* errcode_ret) {
    enter("clCreateImage");
    return refused<cl_mem>(errcode_ret, CL_INVALID_OPERATION);
}
#endif

CL_API_ENTRY cl_int CL_API_CALL clEnqueueFillBuffer(cl_command_queue command_queue, cl_mem buffer, const void*,
                                                    size_t, size_t, size_t, cl_uint, const cl_event*, cl_event*) {
    if (const cl_int err = enterOnQueue("clEnqueueFillBuffer", command_queue)) return err;
    return use(buffer, kFakeClBuffer) ? CL_SUCCESS : CL_INVALID_MEM_OBJECT;
}

CL_API_ENTRY cl_int CL_API_CALL clSetKernelArg(cl_kernel kernel, cl_uint, size_t arg_size, const void* arg_value) {
    if (const cl_int err = enter("clSetKernelArg", kernelNameOf(kernel))) return err;
    if (!use(kernel, kFakeClKernel)) return CL_INVALID_KERNEL;
    // The effect's scalars are 4 bytes, so a handle-sized argument is a buffer; null is allowed.
    if (arg_size == sizeof(cl_mem) && arg_value) {
        const cl_mem m = *static_cast<const cl_mem*>(arg_value);
        if (m && !use(m, kFakeClBuffer)) return CL_INVALID_MEM_OBJECT;
    }
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueNDRangeKernel(cl_command_queue command_queue, cl_kernel kernel, cl_uint,
                                                       const size_t*, const size_t*, const size_t*, cl_uint,
                                                       const cl_event*, cl_event*) {
    if (const cl_int err = enterOnQueue("clEnqueueNDRangeKernel", command_queue, kernelNameOf(kernel))) return err;
    return use(kernel, kFakeClKernel) ? CL_SUCCESS : CL_INVALID_KERNEL;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueReadBuffer(cl_command_queue command_queue, cl_mem buffer, cl_bool,
                                                    size_t offset, size_t size, void* ptr, cl_uint, const cl_event*,
                                                    cl_event*) {
    if (const cl_int err = enterOnQueue("clEnqueueReadBuffer", command_queue)) return err;
    const FakeObject* o = use(buffer, kFakeClBuffer);
    if (!o) return CL_INVALID_MEM_OBJECT;
    if (!ptr || offset + size > o->bytes) return CL_INVALID_VALUE;
    std::memset(ptr, 0, size);  // a fake buffer holds nothing; reads see zeros
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueWriteBuffer(cl_command_queue command_queue, cl_mem buffer, cl_bool,
                                                     size_t offset, size_t size, const void* ptr, cl_uint,
                                                     const cl_event*, cl_event*) {
    if (const cl_int err = enterOnQueue("clEnqueueWriteBuffer", command_queue)) return err;
    const FakeObject* o = use(buffer, kFakeClBuffer);
    if (!o) return CL_INVALID_MEM_OBJECT;
    return !ptr || offset + size > o->bytes ? CL_INVALID_VALUE : CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueCopyBuffer(cl_command_queue command_queue, cl_mem src_buffer,
                                                    cl_mem dst_buffer, size_t src_offset, size_t dst_offset,
                                                    size_t size, cl_uint, const cl_event*, cl_event*) {
    if (const cl_int err = enterOnQueue("clEnqueueCopyBuffer", command_queue)) return err;
    const FakeObject* src = use(src_buffer, kFakeClBuffer);
    const FakeObject* dst = use(dst_buffer, kFakeClBuffer);
    if (!src || !dst) return CL_INVALID_MEM_OBJECT;
    return src_offset + size > src->bytes || dst_offset + size > dst->bytes ? CL_INVALID_VALUE : CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseMemObject(cl_mem m) {
    return release("clReleaseMemObject", m, kFakeClBuffer, CL_INVALID_MEM_OBJECT);
}
CL_API_ENTRY cl_int CL_API_CALL clReleaseKernel(cl_kernel k) {
    return release("clReleaseKernel", k, kFakeClKernel, CL_INVALID_KERNEL);
}
CL_API_ENTRY cl_int CL_API_CALL clReleaseProgram(cl_program p) {
    return release("clReleaseProgram", p, kFakeClProgram, CL_INVALID_PROGRAM);
}
CL_API_ENTRY cl_int CL_API_CALL clReleaseCommandQueue(cl_command_queue q) {
    return release("clReleaseCommandQueue", q, kFakeClQueue, CL_INVALID_COMMAND_QUEUE);
}
CL_API_ENTRY cl_int CL_API_CALL clReleaseContext(cl_context c) {
    return release("clReleaseContext", c, kFakeClContext, CL_INVALID_CONTEXT);
}

CL_API_ENTRY cl_int CL_API_CALL clFinish(cl_command_queue command_queue) {
    return enterOnQueue("clFinish", command_queue);
}

}  // extern "C"
