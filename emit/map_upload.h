// Uploads of host-built float maps (the emission map and the custom map) into their read-only
// buffers of the GPU runtime. A buffer only grows: a smaller map reuses the larger buffer and the
// kernels read it with the width and height recorded here.
#pragma once

namespace cindel {

struct GpuRuntime;

// False when the runtime is absent or not ready, the map is null or a side is below 1, or the
// buffer cannot be made or written (the handle is then cleared, so nothing reads a stale map).
bool uploadEmissionMap(GpuRuntime* rt, const float* map, int width, int height);
bool uploadCustomMap(GpuRuntime* rt, const float* map, int width, int height);

// Marks both buffers as holding no map (size 0 × 0) while keeping their storage for reuse; the
// frame driver calls it before the frame's uploads, so only maps of the frame itself are read.
void forgetUploadedMaps(GpuRuntime& rt);

}  // namespace cindel
