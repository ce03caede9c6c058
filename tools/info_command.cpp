// `cindel info`: the OpenCL platforms and devices of this machine, the one the effect chose, and
// how long the effect's global set-up (loading OpenCL and building its kernel library) took.
//
// The effect does not say which device it chose; it logs the platform and device handles at
// global set-up. Handles are pointers into the one OpenCL ICD loader of the process, which the
// effect opens at run time and this command links, so they equal the handles listed here and name
// the device. Without that line the effect chose no device (or could not load OpenCL), and the
// rule it follows is shown instead: the first GPU over the first 8 platforms, else the first CPU.
#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/effect_session.h"
#include "tools/render_command.h"

namespace cli {

namespace {

std::string platformText(cl_platform_id platform, cl_platform_info what) {
    std::size_t size = 0;
    if (clGetPlatformInfo(platform, what, 0, nullptr, &size) != CL_SUCCESS || size == 0) return "?";
    std::string text(size, '\0');
    clGetPlatformInfo(platform, what, size, text.data(), nullptr);
    text.resize(size - 1);
    return text;
}

std::string deviceText(cl_device_id device, cl_device_info what) {
    std::size_t size = 0;
    if (clGetDeviceInfo(device, what, 0, nullptr, &size) != CL_SUCCESS || size == 0) return "?";
    std::string text(size, '\0');
    clGetDeviceInfo(device, what, size, text.data(), nullptr);
    text.resize(size - 1);
    return text;
}

const char* deviceTypeName(cl_device_id device) {
    cl_device_type type = 0;
    clGetDeviceInfo(device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
    if (type & CL_DEVICE_TYPE_GPU) return "GPU";
    if (type & CL_DEVICE_TYPE_CPU) return "CPU";
    if (type & CL_DEVICE_TYPE_ACCELERATOR) return "accelerator";
    return "other";
}

struct Handles {
    void* platform = nullptr;
    void* device = nullptr;
};

// The handles from the effect's "  Platform handle: %p   Device handle: %p" line.
bool chosenHandles(const std::vector<std::string>& log, Handles* handles) {
    for (const std::string& line : log) {
        void* platform = nullptr;
        void* device = nullptr;
        if (std::sscanf(line.c_str(), " Platform handle: %p Device handle: %p", &platform, &device) == 2) {
            handles->platform = platform;
            handles->device = device;
            return true;
        }
    }
    return false;
}

}  // namespace

int runInfo(const std::string& plugin, bool isVerbose) {
    EffectSession session(locatePlugin(plugin), isVerbose);
    const std::vector<std::string> log = session.takeLog();
    Handles chosen;
    const bool hasChoice = chosenHandles(log, &chosen);
    const bool hasBuildFailure = [&] {
        for (const std::string& line : log)
            if (line.find("Build log") != std::string::npos) return true;
        return false;
    }();

    std::printf("Plug-in:  %s\n", session.pluginPath().c_str());
    std::printf("Effect:   version %s, %zu parameters\n", describeEffectVersion(session.host().effectVersion()).c_str(),
                session.host().definitions().size() - 1);

    cl_uint platformCount = 0;
    if (clGetPlatformIDs(0, nullptr, &platformCount) != CL_SUCCESS) platformCount = 0;
    std::vector<cl_platform_id> platforms(platformCount);
    if (platformCount) clGetPlatformIDs(platformCount, platforms.data(), nullptr);
    std::printf("OpenCL:   %u platform%s\n", platformCount, platformCount == 1 ? "" : "s");
    std::string chosenText;
    for (cl_uint p = 0; p < platformCount; ++p) {
        std::printf("  platform %u: %s (%s, %s)\n", p, platformText(platforms[p], CL_PLATFORM_NAME).c_str(),
                    platformText(platforms[p], CL_PLATFORM_VENDOR).c_str(),
                    platformText(platforms[p], CL_PLATFORM_VERSION).c_str());
        cl_uint deviceCount = 0;
        if (clGetDeviceIDs(platforms[p], CL_DEVICE_TYPE_ALL, 0, nullptr, &deviceCount) != CL_SUCCESS) deviceCount = 0;
        std::vector<cl_device_id> devices(deviceCount);
        if (deviceCount) clGetDeviceIDs(platforms[p], CL_DEVICE_TYPE_ALL, deviceCount, devices.data(), nullptr);
        for (cl_uint d = 0; d < deviceCount; ++d) {
            cl_uint units = 0;
            clGetDeviceInfo(devices[d], CL_DEVICE_MAX_COMPUTE_UNITS, sizeof units, &units, nullptr);
            const bool isChosen = hasChoice && static_cast<void*>(devices[d]) == chosen.device;
            std::printf("    device %u: %s [%s, %u compute units, %s, driver %s]%s\n", d,
                        deviceText(devices[d], CL_DEVICE_NAME).c_str(), deviceTypeName(devices[d]), units,
                        deviceText(devices[d], CL_DEVICE_VERSION).c_str(),
                        deviceText(devices[d], CL_DRIVER_VERSION).c_str(), isChosen ? "  <- the effect's device" : "");
            if (isChosen)
                chosenText = deviceText(devices[d], CL_DEVICE_NAME) + " (" + deviceTypeName(devices[d]) + ") on " +
                             platformText(platforms[p], CL_PLATFORM_NAME);
        }
    }
    if (hasChoice && !chosenText.empty())
        std::printf("Chosen:   %s\n", chosenText.c_str());
    else if (hasChoice)
        std::printf("Chosen:   platform %p, device %p (not among the devices listed here)\n", chosen.platform,
                    chosen.device);
    else
        std::printf(
            "Chosen:   none: the effect found no usable OpenCL device (its rule: the first GPU over the first "
            "8 platforms, else, where the build allows it, the first CPU); frames get the no-GPU fill\n");
    std::printf("Kernels:  global set-up (OpenCL start-up and kernel library build) took %s%s\n",
                formatDuration(session.globalSetupMilliseconds() / 1000).c_str(),
                hasBuildFailure ? "; the kernel build FAILED (run with --verbose for the build log)" : "");
    return 0;
}

}  // namespace cli
