// A scripted OpenCL 1.2 library for the GPU runtime tests: the 22 entry points the effect resolves,
// with the Khronos signatures, over objects that are bookkeeping only (no memory behind a buffer,
// no compiler behind a build). Built twice: as is, and with FAKE_OMIT_CREATE_IMAGE, which leaves
// out clCreateImage so that a test can offer the loader an otherwise complete library.
//
// Tests script and read it through fake_opencl_control.h. Calls are validated the way a driver
// would (unknown handles, a host pointer where none belongs, zero sizes), because a runtime that
// passes a wrong handle must fail here as it would on a device, not slip through.
#include "fake_opencl_control.h"

#include <cstdint>
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
    int platformIndex = -1;         // platforms and devices
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

    std::map<std::string, cl_int> failures;
    // By the entry points' own name literals, which outlive every record: a sweep makes millions of
    // calls, and a string per call would dominate its time.
    std::map<const char*, int> calls;
    std::vector<const char*> callLog;
    std::vector<const char*> callKernel;  // beside callLog: a kernel's name, kept by its object
    int failCallAt = 0;
    cl_int failCallError = CL_SUCCESS;
    std::string failEntryName;
    int failEntryAt = 0;
    cl_int failEntryError = CL_SUCCESS;

    bool buildSucceeds = true;
    std::string buildLog;
    size_t reportedLogSize = static_cast<size_t>(-1);
    std::string programSource;
    std::string buildOptions;
    cl_device_id buildDevice = nullptr;
    cl_device_id contextDevice = nullptr;
    cl_command_queue_properties queueProperties = ~cl_command_queue_properties{0};

    int kernelFailAt = 0;
    int kernelRequests = 0;
    std::vector<std::string> kernelNames;

    int bufferFailAt = 0;
    size_t bufferFailAbove = 0;
    int bufferFailFirst = 0;
    int bufferFailLast = 0;
    bool bufferErrorWithObject = false;
    bool errorWithObject = false;
    std::vector<BufferRequest> bufferRequests;

    int created[kFakeClKindCount] = {};
    int released[kFakeClKindCount] = {};
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
    if (s.failEntryAt > 0 && nth == s.failEntryAt && s.failEntryName == entry) return s.failEntryError;
    if (s.failures.empty()) return CL_SUCCESS;
    const auto it = s.failures.find(entry);
    return it == s.failures.end() ? CL_SUCCESS : it->second;
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
    ++s.created[kind];
    return reinterpret_cast<Handle>(o);
}

// What a creation call that the script fails hands back: null, or with errorWithObject an object.
template <typename Handle>
Handle failedObject(int kind) {
    return state().errorWithObject ? makeObject<Handle>(kind) : nullptr;
}

// A live object of `kind` made since the last reset, or null.
FakeObject* find(const void* handle, int kind) {
    State& s = state();
    const auto it = s.objects.find(handle);
    if (it == s.objects.end()) return nullptr;
    FakeObject* o = it->second;
    if (o->kind != kind || !o->live || o->generation != s.generation) return nullptr;
    return o;
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
    for (int p = 0; p < s.platformCount; ++p) {
        for (int d = 0; d < s.platforms[p].deviceCount; ++d) {
            if (handle == &s.platforms[p].devices[d]) return true;
        }
    }
    return false;
}

int platformIndex(const void* handle) {
    const State& s = state();
    for (int p = 0; p < s.platformCount; ++p) {
        if (handle == &s.platforms[p].self) return p;
    }
    return -1;
}

cl_int release(const void* handle, int kind, cl_int invalidCode) {
    FakeObject* o = find(handle, kind);
    if (!o) {
        ++state().badReleases;
        return invalidCode;
    }
    o->live = false;
    ++state().released[kind];
    return CL_SUCCESS;
}

bool validKind(int kind) { return kind >= 0 && kind < kFakeClKindCount; }

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
    if (count < 0) count = 0;
    if (count > kFakeClMaxPlatforms) count = kFakeClMaxPlatforms;
    s.platformCount = count;
    for (int p = 0; p < kFakeClMaxPlatforms; ++p) {
        Platform& pl = s.platforms[p];
        pl.self.kind = kPlatform;
        pl.self.platformIndex = p;
        pl.deviceCount = 0;
    }
}

int fakeClAddDevice(int platform, cl_device_type type) {
    State& s = state();
    if (platform < 0 || platform >= s.platformCount) return -1;
    Platform& pl = s.platforms[platform];
    if (pl.deviceCount >= kFakeClMaxDevicesPerPlatform) return -1;
    FakeObject& d = pl.devices[pl.deviceCount];
    d.kind = kDevice;
    d.deviceType = type;
    d.platformIndex = platform;
    return pl.deviceCount++;
}

cl_platform_id fakeClPlatformHandle(int platform) {
    if (platform < 0 || platform >= kFakeClMaxPlatforms) return nullptr;
    return reinterpret_cast<cl_platform_id>(&state().platforms[platform].self);
}

cl_device_id fakeClDeviceHandle(int platform, int device) {
    if (platform < 0 || platform >= kFakeClMaxPlatforms || device < 0 || device >= kFakeClMaxDevicesPerPlatform) {
        return nullptr;
    }
    return reinterpret_cast<cl_device_id>(&state().platforms[platform].devices[device]);
}

int fakeClDeviceQueryCount(void) { return static_cast<int>(state().deviceQueries.size()); }

int fakeClDeviceQueryPlatform(int query) {
    const auto& q = state().deviceQueries;
    return query >= 0 && static_cast<size_t>(query) < q.size() ? q[static_cast<size_t>(query)].platform : -2;
}

cl_device_type fakeClDeviceQueryType(int query) {
    const auto& q = state().deviceQueries;
    return query >= 0 && static_cast<size_t>(query) < q.size() ? q[static_cast<size_t>(query)].type : 0;
}

void fakeClFailEntry(const char* entry, cl_int error) {
    State& s = state();
    if (error == CL_SUCCESS) {
        s.failures.erase(entry);
    } else {
        s.failures[entry] = error;
    }
}

void fakeClFailCall(int n, cl_int error) {
    state().failCallAt = n;
    state().failCallError = error;
}

void fakeClFailEntryCall(const char* entry, int n, cl_int error) {
    State& s = state();
    s.failEntryName = entry ? entry : "";
    s.failEntryAt = n;
    s.failEntryError = error;
}

void fakeClSetBuild(int succeeds, const char* log, size_t reportedLogSize) {
    State& s = state();
    s.buildSucceeds = succeeds != 0;
    s.buildLog = log ? log : "";
    s.reportedLogSize = reportedLogSize;
}

const char* fakeClProgramSource(void) { return state().programSource.c_str(); }
const char* fakeClBuildOptions(void) { return state().buildOptions.c_str(); }
cl_device_id fakeClBuildDevice(void) { return state().buildDevice; }
cl_command_queue_properties fakeClQueueProperties(void) { return state().queueProperties; }
cl_device_id fakeClContextDevice(void) { return state().contextDevice; }

void fakeClSetKernelFailAt(int n) { state().kernelFailAt = n; }
int fakeClKernelRequestCount(void) { return state().kernelRequests; }

const char* fakeClKernelName(int request) {
    const auto& names = state().kernelNames;
    return request >= 0 && static_cast<size_t>(request) < names.size() ? names[static_cast<size_t>(request)].c_str()
                                                                         : nullptr;
}

int fakeClKernelMadeCount(void) { return static_cast<int>(state().kernelNames.size()); }

void fakeClSetBufferFailAt(int n) { state().bufferFailAt = n; }
void fakeClSetBufferFailAbove(size_t bytes) { state().bufferFailAbove = bytes; }

void fakeClSetBufferFailRange(int first, int last) {
    state().bufferFailFirst = first;
    state().bufferFailLast = last;
}

void fakeClSetBufferErrorWithObject(int enabled) { state().bufferErrorWithObject = enabled != 0; }
void fakeClSetErrorWithObject(int enabled) { state().errorWithObject = enabled != 0; }
int fakeClBufferRequestCount(void) { return static_cast<int>(state().bufferRequests.size()); }

size_t fakeClBufferRequestBytes(int request) {
    const auto& r = state().bufferRequests;
    return request >= 0 && static_cast<size_t>(request) < r.size() ? r[static_cast<size_t>(request)].bytes : 0;
}

cl_mem_flags fakeClBufferRequestFlags(int request) {
    const auto& r = state().bufferRequests;
    return request >= 0 && static_cast<size_t>(request) < r.size() ? r[static_cast<size_t>(request)].flags : 0;
}

int fakeClBufferRequestHadHostPtr(int request) {
    const auto& r = state().bufferRequests;
    return request >= 0 && static_cast<size_t>(request) < r.size() && r[static_cast<size_t>(request)].hadHostPtr;
}

size_t fakeClBufferBytes(cl_mem buffer) {
    const FakeObject* o = find(buffer, kFakeClBuffer);
    return o ? o->bytes : 0;
}

int fakeClLiveCount(int kind) {
    return validKind(kind) ? state().created[kind] - state().released[kind] : -1;
}
int fakeClCreatedCount(int kind) { return validKind(kind) ? state().created[kind] : -1; }
int fakeClReleasedCount(int kind) { return validKind(kind) ? state().released[kind] : -1; }
int fakeClBadReleaseCount(void) { return state().badReleases; }

int fakeClCallCount(const char* entry) {
    int n = 0;
    for (const auto& [name, count] : state().calls) n += entry && std::strcmp(name, entry) == 0 ? count : 0;
    return n;
}

int fakeClCallLogSize(void) { return static_cast<int>(state().callLog.size()); }

const char* fakeClCallLogEntry(int index) {
    const auto& log = state().callLog;
    return index >= 0 && static_cast<size_t>(index) < log.size() ? log[static_cast<size_t>(index)] : nullptr;
}

const char* fakeClCallLogKernel(int index) {
    const auto& log = state().callKernel;
    return index >= 0 && static_cast<size_t>(index) < log.size() ? log[static_cast<size_t>(index)] : nullptr;
}

int fakeClInvalidHandleCount(void) { return state().invalidHandles; }

// ---------------------------------------------------------------------------------------------
// The OpenCL entry points.

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformIDs(cl_uint num_entries, cl_platform_id* platforms,
                                                 cl_uint* num_platforms) {
    if (const cl_int err = enter("clGetPlatformIDs")) return err;
    if ((num_entries == 0 && platforms) || (!platforms && !num_platforms)) return CL_INVALID_VALUE;
    const State& s = state();
    if (s.platformCount == 0) {
        if (num_platforms) *num_platforms = 0;
        return kPlatformNotFoundKhr;
    }
    if (platforms) {
        for (cl_uint i = 0; i < num_entries && static_cast<int>(i) < s.platformCount; ++i) {
            platforms[i] = fakeClPlatformHandle(static_cast<int>(i));
        }
    }
    if (num_platforms) *num_platforms = static_cast<cl_uint>(s.platformCount);
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

CL_API_ENTRY cl_context CL_API_CALL clCreateContext(const cl_context_properties* properties, cl_uint num_devices,
                                                    const cl_device_id* devices,
                                                    void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t,
                                                                                  void*),
                                                    void* user_data, cl_int* errcode_ret) {
    (void)properties;
    (void)pfn_notify;
    (void)user_data;
    if (const cl_int err = enter("clCreateContext")) {
        setError(errcode_ret, err);
        return failedObject<cl_context>(kFakeClContext);
    }
    if (num_devices == 0 || !devices) {
        setError(errcode_ret, CL_INVALID_VALUE);
        return nullptr;
    }
    for (cl_uint i = 0; i < num_devices; ++i) {
        if (!isDevice(devices[i])) {
            setError(errcode_ret, CL_INVALID_DEVICE);
            return nullptr;
        }
    }
    state().contextDevice = num_devices == 1 ? devices[0] : nullptr;
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_context>(kFakeClContext);
}

CL_API_ENTRY cl_command_queue CL_API_CALL clCreateCommandQueue(cl_context context, cl_device_id device,
                                                               cl_command_queue_properties properties,
                                                               cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateCommandQueue")) {
        setError(errcode_ret, err);
        return failedObject<cl_command_queue>(kFakeClQueue);
    }
    if (!use(context, kFakeClContext)) {
        setError(errcode_ret, CL_INVALID_CONTEXT);
        return nullptr;
    }
    if (!isDevice(device)) {
        setError(errcode_ret, CL_INVALID_DEVICE);
        return nullptr;
    }
    state().queueProperties = properties;
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_command_queue>(kFakeClQueue);
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithSource(cl_context context, cl_uint count,
                                                              const char** strings, const size_t* lengths,
                                                              cl_int* errcode_ret) {
    if (const cl_int err = enter("clCreateProgramWithSource")) {
        setError(errcode_ret, err);
        return failedObject<cl_program>(kFakeClProgram);
    }
    if (!use(context, kFakeClContext)) {
        setError(errcode_ret, CL_INVALID_CONTEXT);
        return nullptr;
    }
    if (count == 0 || !strings) {
        setError(errcode_ret, CL_INVALID_VALUE);
        return nullptr;
    }
    State& s = state();
    s.programSource.clear();
    for (cl_uint i = 0; i < count; ++i) {
        if (!strings[i]) {
            setError(errcode_ret, CL_INVALID_VALUE);
            return nullptr;
        }
        const size_t n = lengths && lengths[i] ? lengths[i] : std::strlen(strings[i]);
        s.programSource.append(strings[i], n);
    }
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_program>(kFakeClProgram);
}

CL_API_ENTRY cl_int CL_API_CALL clBuildProgram(cl_program program, cl_uint num_devices,
                                               const cl_device_id* device_list, const char* options,
                                               void(CL_CALLBACK* pfn_notify)(cl_program, void*), void* user_data) {
    (void)pfn_notify;
    (void)user_data;
    if (const cl_int err = enter("clBuildProgram")) return err;
    if (!use(program, kFakeClProgram)) return CL_INVALID_PROGRAM;
    State& s = state();
    s.buildOptions = options ? options : "";
    s.buildDevice = num_devices == 1 && device_list ? device_list[0] : nullptr;
    if (s.buildDevice && !isDevice(s.buildDevice)) return CL_INVALID_DEVICE;
    return s.buildSucceeds ? CL_SUCCESS : CL_BUILD_PROGRAM_FAILURE;
}

CL_API_ENTRY cl_int CL_API_CALL clGetProgramBuildInfo(cl_program program, cl_device_id device,
                                                      cl_program_build_info param_name, size_t param_value_size,
                                                      void* param_value, size_t* param_value_size_ret) {
    if (const cl_int err = enter("clGetProgramBuildInfo")) return err;
    if (!use(program, kFakeClProgram)) return CL_INVALID_PROGRAM;
    if (!isDevice(device)) return CL_INVALID_DEVICE;
    if (param_name != CL_PROGRAM_BUILD_LOG) return CL_INVALID_VALUE;
    const State& s = state();
    const size_t size = s.reportedLogSize == static_cast<size_t>(-1) ? s.buildLog.size() + 1 : s.reportedLogSize;
    if (param_value_size_ret) *param_value_size_ret = size;
    if (param_value) {
        if (param_value_size < size) return CL_INVALID_VALUE;
        // The text up to the reported size; a short text is terminated and padded.
        char* out = static_cast<char*>(param_value);
        const size_t copy = s.buildLog.size() < size ? s.buildLog.size() : size;
        std::memcpy(out, s.buildLog.data(), copy);
        if (copy < size) std::memset(out + copy, 0, size - copy);
    }
    return CL_SUCCESS;
}

CL_API_ENTRY cl_kernel CL_API_CALL clCreateKernel(cl_program program, const char* kernel_name,
                                                  cl_int* errcode_ret) {
    State& s = state();
    const int n = ++s.kernelRequests;
    if (const cl_int err = enter("clCreateKernel", intern(kernel_name))) {
        setError(errcode_ret, err);
        return failedObject<cl_kernel>(kFakeClKernel);
    }
    if (!use(program, kFakeClProgram)) {
        setError(errcode_ret, CL_INVALID_PROGRAM);
        return nullptr;
    }
    if (!kernel_name || n == s.kernelFailAt) {
        setError(errcode_ret, CL_INVALID_KERNEL_NAME);
        return nullptr;
    }
    s.kernelNames.emplace_back(kernel_name);
    setError(errcode_ret, CL_SUCCESS);
    const cl_kernel k = makeObject<cl_kernel>(kFakeClKernel);
    reinterpret_cast<FakeObject*>(k)->name = kernel_name;
    return k;
}

CL_API_ENTRY cl_mem CL_API_CALL clCreateBuffer(cl_context context, cl_mem_flags flags, size_t size, void* host_ptr,
                                               cl_int* errcode_ret) {
    State& s = state();
    s.bufferRequests.push_back({size, flags, host_ptr != nullptr});
    const int n = static_cast<int>(s.bufferRequests.size());
    if (const cl_int err = enter("clCreateBuffer")) {
        setError(errcode_ret, err);
        return failedObject<cl_mem>(kFakeClBuffer);
    }
    if (!use(context, kFakeClContext)) {
        setError(errcode_ret, CL_INVALID_CONTEXT);
        return nullptr;
    }
    if (size == 0) {
        setError(errcode_ret, CL_INVALID_BUFFER_SIZE);
        return nullptr;
    }
    if (host_ptr && !(flags & (CL_MEM_USE_HOST_PTR | CL_MEM_COPY_HOST_PTR))) {
        setError(errcode_ret, CL_INVALID_HOST_PTR);
        return nullptr;
    }
    const bool fails = n == s.bufferFailAt || (s.bufferFailAbove > 0 && size > s.bufferFailAbove) ||
                       (s.bufferFailFirst > 0 && n >= s.bufferFailFirst && n <= s.bufferFailLast);
    if (fails) {
        setError(errcode_ret, CL_MEM_OBJECT_ALLOCATION_FAILURE);
        return s.bufferErrorWithObject ? makeObject<cl_mem>(kFakeClBuffer, size) : nullptr;
    }
    setError(errcode_ret, CL_SUCCESS);
    return makeObject<cl_mem>(kFakeClBuffer, size);
}

#ifndef FAKE_OMIT_CREATE_IMAGE
CL_API_ENTRY cl_mem CL_API_CALL clCreateImage(cl_context context, cl_mem_flags flags,
                                              const cl_image_format* image_format, const cl_image_desc* image_desc,
                                              void* host_ptr, cl_int* errcode_ret) {
    (void)context;
    (void)flags;
    (void)image_format;
    (void)image_desc;
    (void)host_ptr;
    // The effect resolves this entry but never calls it; a call is visible in the counters.
    enter("clCreateImage");
    setError(errcode_ret, CL_INVALID_OPERATION);
    return nullptr;
}
#endif

CL_API_ENTRY cl_int CL_API_CALL clEnqueueFillBuffer(cl_command_queue command_queue, cl_mem buffer,
                                                    const void* pattern, size_t pattern_size, size_t offset,
                                                    size_t size, cl_uint num_events_in_wait_list,
                                                    const cl_event* event_wait_list, cl_event* event) {
    (void)pattern;
    (void)pattern_size;
    (void)offset;
    (void)size;
    (void)num_events_in_wait_list;
    (void)event_wait_list;
    (void)event;
    if (const cl_int err = enter("clEnqueueFillBuffer")) return err;
    if (!use(command_queue, kFakeClQueue)) return CL_INVALID_COMMAND_QUEUE;
    return use(buffer, kFakeClBuffer) ? CL_SUCCESS : CL_INVALID_MEM_OBJECT;
}

CL_API_ENTRY cl_int CL_API_CALL clSetKernelArg(cl_kernel kernel, cl_uint arg_index, size_t arg_size,
                                               const void* arg_value) {
    (void)arg_index;
    if (const cl_int err = enter("clSetKernelArg", kernelNameOf(kernel))) return err;
    if (!use(kernel, kFakeClKernel)) return CL_INVALID_KERNEL;
    // The effect's scalars are 4 bytes, so a handle-sized argument is a buffer; null is allowed.
    if (arg_size == sizeof(cl_mem) && arg_value) {
        const cl_mem m = *static_cast<const cl_mem*>(arg_value);
        if (m && !use(m, kFakeClBuffer)) return CL_INVALID_MEM_OBJECT;
    }
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueNDRangeKernel(cl_command_queue command_queue, cl_kernel kernel,
                                                       cl_uint work_dim, const size_t* global_work_offset,
                                                       const size_t* global_work_size,
                                                       const size_t* local_work_size,
                                                       cl_uint num_events_in_wait_list,
                                                       const cl_event* event_wait_list, cl_event* event) {
    (void)work_dim;
    (void)global_work_offset;
    (void)global_work_size;
    (void)local_work_size;
    (void)num_events_in_wait_list;
    (void)event_wait_list;
    (void)event;
    if (const cl_int err = enter("clEnqueueNDRangeKernel", kernelNameOf(kernel))) return err;
    if (!use(command_queue, kFakeClQueue)) return CL_INVALID_COMMAND_QUEUE;
    return use(kernel, kFakeClKernel) ? CL_SUCCESS : CL_INVALID_KERNEL;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueReadBuffer(cl_command_queue command_queue, cl_mem buffer,
                                                    cl_bool blocking_read, size_t offset, size_t size, void* ptr,
                                                    cl_uint num_events_in_wait_list,
                                                    const cl_event* event_wait_list, cl_event* event) {
    (void)blocking_read;
    (void)num_events_in_wait_list;
    (void)event_wait_list;
    (void)event;
    if (const cl_int err = enter("clEnqueueReadBuffer")) return err;
    if (!use(command_queue, kFakeClQueue)) return CL_INVALID_COMMAND_QUEUE;
    const FakeObject* o = use(buffer, kFakeClBuffer);
    if (!o) return CL_INVALID_MEM_OBJECT;
    if (!ptr || offset + size > o->bytes) return CL_INVALID_VALUE;
    std::memset(ptr, 0, size);  // a fake buffer holds nothing; reads see zeros
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueWriteBuffer(cl_command_queue command_queue, cl_mem buffer,
                                                     cl_bool blocking_write, size_t offset, size_t size,
                                                     const void* ptr, cl_uint num_events_in_wait_list,
                                                     const cl_event* event_wait_list, cl_event* event) {
    (void)blocking_write;
    (void)num_events_in_wait_list;
    (void)event_wait_list;
    (void)event;
    if (const cl_int err = enter("clEnqueueWriteBuffer")) return err;
    if (!use(command_queue, kFakeClQueue)) return CL_INVALID_COMMAND_QUEUE;
    const FakeObject* o = use(buffer, kFakeClBuffer);
    if (!o) return CL_INVALID_MEM_OBJECT;
    return !ptr || offset + size > o->bytes ? CL_INVALID_VALUE : CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clEnqueueCopyBuffer(cl_command_queue command_queue, cl_mem src_buffer,
                                                    cl_mem dst_buffer, size_t src_offset, size_t dst_offset,
                                                    size_t size, cl_uint num_events_in_wait_list,
                                                    const cl_event* event_wait_list, cl_event* event) {
    (void)num_events_in_wait_list;
    (void)event_wait_list;
    (void)event;
    if (const cl_int err = enter("clEnqueueCopyBuffer")) return err;
    if (!use(command_queue, kFakeClQueue)) return CL_INVALID_COMMAND_QUEUE;
    const FakeObject* src = use(src_buffer, kFakeClBuffer);
    const FakeObject* dst = use(dst_buffer, kFakeClBuffer);
    if (!src || !dst) return CL_INVALID_MEM_OBJECT;
    return src_offset + size > src->bytes || dst_offset + size > dst->bytes ? CL_INVALID_VALUE : CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseMemObject(cl_mem memobj) {
    if (const cl_int err = enter("clReleaseMemObject")) return err;
    return release(memobj, kFakeClBuffer, CL_INVALID_MEM_OBJECT);
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseKernel(cl_kernel kernel) {
    if (const cl_int err = enter("clReleaseKernel")) return err;
    return release(kernel, kFakeClKernel, CL_INVALID_KERNEL);
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseProgram(cl_program program) {
    if (const cl_int err = enter("clReleaseProgram")) return err;
    return release(program, kFakeClProgram, CL_INVALID_PROGRAM);
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseCommandQueue(cl_command_queue command_queue) {
    if (const cl_int err = enter("clReleaseCommandQueue")) return err;
    return release(command_queue, kFakeClQueue, CL_INVALID_COMMAND_QUEUE);
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseContext(cl_context context) {
    if (const cl_int err = enter("clReleaseContext")) return err;
    return release(context, kFakeClContext, CL_INVALID_CONTEXT);
}

CL_API_ENTRY cl_int CL_API_CALL clFinish(cl_command_queue command_queue) {
    if (const cl_int err = enter("clFinish")) return err;
    return use(command_queue, kFakeClQueue) ? CL_SUCCESS : CL_INVALID_COMMAND_QUEUE;
}

}  // extern "C"
