// What every benchmark prints first: the OpenCL device it measured, the build, and the machine's
// time, so that figures are only ever compared on the same device.
#pragma once

#include <cstdio>
#include <string>

#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"

namespace bench {

inline std::string deviceText(cl_device_id device, cl_device_info what) {
    char text[256] = {0};
    if (device) clGetDeviceInfo(device, what, sizeof(text) - 1, text, nullptr);
    return text;
}

inline void printHeader(const char* name, const cindel::GpuRuntime& rt) {
    std::printf("%s\n", name);
    std::printf("device:  %s (%s)\n", deviceText(rt.device, CL_DEVICE_NAME).c_str(),
                deviceText(rt.device, CL_DEVICE_VENDOR).c_str());
    std::printf("driver:  %s, %s\n", deviceText(rt.device, CL_DRIVER_VERSION).c_str(),
                deviceText(rt.device, CL_DEVICE_VERSION).c_str());
#ifdef NDEBUG
    std::printf("build:   release, " __DATE__ "\n");
#else
    std::printf("build:   debug, " __DATE__ "\n");
#endif
}

}  // namespace bench
