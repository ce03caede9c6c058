// Uploads of the emission and custom maps. See map_upload.h.
#include "emit/map_upload.h"

#include <cstdint>

#include "gpu/buffers.h"
#include "gpu/gpu_runtime.h"

namespace cindel {

namespace {

bool uploadMap(GpuRuntime* rt, MapBuffer GpuRuntime::*which, const float* map, int width, int height) {
    if (!rt || !rt->ready || !map || width < 1 || height < 1) return false;
    MapBuffer& buffer = rt->*which;
    // In 64 bits: width × height × 4 leaves int from about 23 000 × 23 000 pixels.
    const size_t bytes = static_cast<size_t>(static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u);
    if (!buffer.handle || buffer.capacity < bytes) {
        releaseBuffer(buffer.handle);
        buffer = MapBuffer{};
        buffer.handle = createDeviceBuffer(rt->context, bytes, CL_MEM_READ_ONLY);
        if (!buffer.handle) return false;
        buffer.capacity = bytes;
    }
    // Blocking: the caller frees its host map as soon as this returns.
    const cl_int err = cl().clEnqueueWriteBuffer(rt->queue, buffer.handle, CL_TRUE, 0, bytes, map, 0, nullptr, nullptr);
    if (err != CL_SUCCESS) {
        // A buffer whose content is unknown must not be emitted from.
        releaseBuffer(buffer.handle);
        buffer = MapBuffer{};
        return false;
    }
    buffer.width = width;
    buffer.height = height;
    return true;
}

}  // namespace

bool uploadEmissionMap(GpuRuntime* rt, const float* map, int width, int height) {
    return uploadMap(rt, &GpuRuntime::emissionMap, map, width, height);
}

bool uploadCustomMap(GpuRuntime* rt, const float* map, int width, int height) {
    return uploadMap(rt, &GpuRuntime::customMap, map, width, height);
}

void forgetUploadedMaps(GpuRuntime& rt) {
    rt.emissionMap.width = rt.emissionMap.height = 0;
    rt.customMap.width = rt.customMap.height = 0;
}

}  // namespace cindel
