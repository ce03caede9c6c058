// Plug-in location, effect start-up and the effect's log.
#include "tools/effect_session.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "AE_Macros.h"
#include "minihost/host_error.h"
#include "tools/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cli {

namespace {

#ifdef _WIN32
constexpr const char* kPluginFileName = "Cindel.aex";

std::filesystem::path executableDirectory() {
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer)) return {};
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
}
#else
constexpr const char* kPluginFileName = "Cindel.so";

std::filesystem::path executableDirectory() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    buffer[length] = '\0';
    return std::filesystem::path(buffer).parent_path();
}
#endif

}  // namespace

double nowMilliseconds() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string locatePlugin(const std::string& option) {
    if (!option.empty()) {
        if (!std::filesystem::exists(option))
            throw RuntimeFailure("plug-in \"" + option + "\" (from --plugin): no such file");
        return option;
    }
    std::vector<std::filesystem::path> candidates;
    std::filesystem::path here = executableDirectory();
    if (!here.empty()) {
        candidates.push_back(here / "plugin" / kPluginFileName);
        candidates.push_back(here / kPluginFileName);
    }
#ifdef CINDEL_BUILT_PLUGIN_PATH
    candidates.emplace_back(CINDEL_BUILT_PLUGIN_PATH);
#endif
    std::string tried;
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
        tried += "\n  " + candidate.string();
    }
    throw RuntimeFailure(std::string("cannot find the plug-in ") + kPluginFileName + "; looked at:" + tried +
                         "\nbuild it (make build) or name it with --plugin PATH");
}

std::string describeEffectError(PF_Err error) {
    const char* name = nullptr;
    switch (error) {
        case PF_Err_OUT_OF_MEMORY:
            name = "out of memory";
            break;
        case PF_Err_INTERNAL_STRUCT_DAMAGED:
            name = "internal structure damaged";
            break;
        case PF_Err_INVALID_INDEX:
            name = "invalid index";
            break;
        case PF_Err_UNRECOGNIZED_PARAM_TYPE:
            name = "unrecognised parameter type";
            break;
        case PF_Err_INVALID_CALLBACK:
            name = "invalid callback";
            break;
        case PF_Err_BAD_CALLBACK_PARAM:
            name = "bad callback parameter";
            break;
        case PF_Interrupt_CANCEL:
            name = "cancelled";
            break;
        default:
            break;
    }
    std::string text = "error " + std::to_string(error);
    return name ? text + " (" + name + ")" : text;
}

std::string describeEffectVersion(A_u_long version) {
    const unsigned major = ((version >> PF_Vers_VERS_HIGH_SHIFT) & PF_Vers_VERS_HIGH_BITS) << PF_Vers_VERS_LOW_SHIFT |
                           ((version >> PF_Vers_VERS_SHIFT) & PF_Vers_VERS_BITS);
    const unsigned minor = (version >> PF_Vers_SUBVERS_SHIFT) & PF_Vers_SUBVERS_BITS;
    const unsigned bug = (version >> PF_Vers_BUGFIX_SHIFT) & PF_Vers_BUGFIX_BITS;
    const unsigned build = (version >> PF_Vers_BUILD_SHIFT) & PF_Vers_BUILD_BITS;
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(bug) + " (build " +
           std::to_string(build) + ")";
}

EffectSession::EffectSession(const std::string& pluginPath, bool isVerbose)
    : pluginPath_(pluginPath), isVerbose_(isVerbose) {
    try {
        host_ = minihost::Host::load(pluginPath);
    } catch (const minihost::HostError& e) {
        throw RuntimeFailure(std::string("cannot load the plug-in: ") + e.what());
    }
    minihost::Host::clearCapturedLog();
    host_->setLogMode(minihost::LogMode::Capture);
    const double start = nowMilliseconds();
    const PF_Err setup = host_->globalSetup();
    globalSetupMs_ = nowMilliseconds() - start;
    if (setup) throw RuntimeFailure(pluginPath + ": global set-up failed with " + describeEffectError(setup));
    if (PF_Err params = host_->paramsSetup())
        throw RuntimeFailure(pluginPath + ": parameter set-up failed with " + describeEffectError(params));
}

EffectSession::~EffectSession() {
    if (!isShutDown_ && host_) {
        try {
            shutDown();
        } catch (...) {
            // Leaving anyway; the process is about to end.
        }
    }
}

std::vector<std::string> EffectSession::takeLog() {
    std::vector<std::string> lines = minihost::Host::capturedLog();
    minihost::Host::clearCapturedLog();
    if (isVerbose_)
        for (const std::string& line : lines)
            std::fprintf(stderr, "  [effect] %s%s", line.c_str(), !line.empty() && line.back() == '\n' ? "" : "\n");
    return lines;
}

PF_Err EffectSession::shutDown() {
    isShutDown_ = true;
    PF_Err result = host_->shutdown();
    takeLog();
    return result;
}

}  // namespace cli
