// Buffer and launch conventions shared by every user of the GPU runtime. There is no scheduler:
// callers enqueue directly on the runtime's single in-order queue, and the host waits only at
// blocking reads and clFinish. Every buffer holds 32-bit floats (1, 2 or 4 per element) and is
// created read-write without a host pointer, except the read-only map upload buffers.
#pragma once

#include <cstddef>

#include "gpu/cl_api.h"

namespace cindel {

// A GPU buffer with its capacity in bytes; capacity 0 when the handle could not be made. Such
// buffers only grow.
struct SizedBuffer {
    cl_mem handle = nullptr;
    size_t capacity = 0;
};

// clCreateBuffer without a host pointer; null on any error.
cl_mem createDeviceBuffer(cl_context context, size_t bytes, cl_mem_flags flags = CL_MEM_READ_WRITE);

// Keeps the buffer when it holds at least `bytes`, else replaces it by one of exactly that size
// (null, capacity 0 on failure).
cl_mem ensureBuffer(cl_context context, SizedBuffer& buffer, size_t bytes);

// Releases a handle if set and clears it.
void releaseBuffer(cl_mem& handle);
void releaseBuffer(SizedBuffer& buffer);

// The monotonic clock in whole microseconds, as milliseconds.
double nowMilliseconds();

}  // namespace cindel
