// The process-wide GPU runtime. Its `ready` flag gates all GPU work: a frame without a ready
// runtime gets the no-GPU fill. Until the OpenCL runtime is built the start-up runs, reports that
// it ran, and leaves the runtime not ready.
#pragma once

namespace cindel {

struct GpuRuntime {
    bool ready = false;
};

GpuRuntime& gpuRuntime();

// True once start-up has run, whether or not the runtime became ready.
bool startGpuRuntime(GpuRuntime& rt);
void stopGpuRuntime(GpuRuntime& rt);

// How many times start-up ran in this process; lets tests see that a second global set-up without
// a set-down does not start the runtime again.
int gpuStartCount();

}  // namespace cindel
