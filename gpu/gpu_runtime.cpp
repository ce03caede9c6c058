#include "gpu_runtime.h"

namespace cindel {

namespace {
GpuRuntime gRuntime;
int gStartCount = 0;
}  // namespace

GpuRuntime& gpuRuntime() { return gRuntime; }

bool startGpuRuntime(GpuRuntime& rt) {
    ++gStartCount;
    rt.ready = false;
    return true;
}

void stopGpuRuntime(GpuRuntime& rt) { rt.ready = false; }

int gpuStartCount() { return gStartCount; }

}  // namespace cindel
