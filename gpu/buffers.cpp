#include "gpu/buffers.h"

#include <chrono>

namespace cindel {

cl_mem createDeviceBuffer(cl_context context, size_t bytes, cl_mem_flags flags) {
    if (!context || bytes == 0) return nullptr;
    cl_int err = CL_SUCCESS;
    cl_mem mem = cl().clCreateBuffer(context, flags, bytes, nullptr, &err);
    if (err != CL_SUCCESS) {
        // Some implementations hand back an object together with an error; never keep it.
        if (mem) cl().clReleaseMemObject(mem);
        return nullptr;
    }
    return mem;
}

cl_mem ensureBuffer(cl_context context, SizedBuffer& buffer, size_t bytes) {
    if (buffer.handle && buffer.capacity >= bytes) return buffer.handle;
    releaseBuffer(buffer);
    buffer.handle = createDeviceBuffer(context, bytes);
    buffer.capacity = buffer.handle ? bytes : 0;
    return buffer.handle;
}

void releaseBuffer(cl_mem& handle) {
    if (handle) cl().clReleaseMemObject(handle);
    handle = nullptr;
}

void releaseBuffer(SizedBuffer& buffer) {
    releaseBuffer(buffer.handle);
    buffer.capacity = 0;
}

double nowMilliseconds() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<double>(us.count()) / 1000.0;
}

}  // namespace cindel
