// Loading the plug-in with the platform's dynamic loader. On Linux, RTLD_LOCAL keeps the plug-in's
// symbols out of the global namespace, as the host keeps each plug-in to itself, and RTLD_NOW makes
// an unresolved symbol fail at load time, with the file named, rather than at the first call that
// needs it. On Windows, LoadLibraryA resolves every import at load time anyway, and a DLL's
// exports are private to whoever asks GetProcAddress for them.
#include "minihost/plugin_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "minihost/host_error.h"

namespace minihost {

namespace {

#ifdef _WIN32

std::string lastLoaderError() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "Windows error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + " (error " + std::to_string(code) + ")";
}

void* openLibrary(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryA(path.c_str())); }
void* findSymbol(void* handle, const char* name) {
    SetLastError(0);
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
void clearLoaderError() { SetLastError(0); }

#else

std::string lastLoaderError() {
    const char* message = dlerror();
    return message ? message : "no reason given by the dynamic loader";
}

void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
// dlsym returns an object pointer; POSIX guarantees it converts to a function pointer.
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
void clearLoaderError() { dlerror(); }

#endif

}  // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::open(const std::string& path) {
    clearLoaderError();
    void* handle = openLibrary(path);
    if (!handle) throw HostError("cannot load plug-in '" + path + "': " + lastLoaderError());

    EffectEntry entry;
    clearLoaderError();
    entry.main = reinterpret_cast<EffectMainFunc*>(findSymbol(handle, "EffectMain"));
    if (!entry.main) {
        std::string reason = lastLoaderError();
        closeLibrary(handle);
        throw HostError("plug-in '" + path + "' does not export EffectMain: " + reason);
    }
    clearLoaderError();
    entry.setLogSink = reinterpret_cast<SetLogSinkFunc>(findSymbol(handle, "cindelSetLogSink"));
    clearLoaderError();
    entry.setVolumeSink = reinterpret_cast<CindelSetVolumeSinkFunc>(findSymbol(handle, "cindelSetVolumeSink"));
    clearLoaderError();
    return std::shared_ptr<PluginLibrary>(new PluginLibrary(path, handle, entry));
}

PluginLibrary::PluginLibrary(std::string path, void* handle, EffectEntry entry)
    : path_(std::move(path)), handle_(handle), entry_(entry) {}

PluginLibrary::~PluginLibrary() {
    if (handle_) closeLibrary(handle_);
}

}  // namespace minihost
