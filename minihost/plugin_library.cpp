// dlopen-based loading of the plug-in. RTLD_LOCAL keeps the plug-in's symbols out of the global
// namespace, as the host keeps each plug-in to itself; RTLD_NOW makes an unresolved symbol fail at
// load time, with the file named, rather than at the first call that needs it.
#include "minihost/plugin_library.h"

#include <dlfcn.h>

#include "minihost/host_error.h"

namespace minihost {

namespace {

std::string lastDlError() {
    const char* message = dlerror();
    return message ? message : "no reason given by the dynamic loader";
}

}  // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::open(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw HostError("cannot load plug-in '" + path + "': " + lastDlError());

    EffectEntry entry;
    dlerror();
    // dlsym returns an object pointer; POSIX guarantees it converts to a function pointer.
    entry.main = reinterpret_cast<EffectMainFunc*>(dlsym(handle, "EffectMain"));
    if (!entry.main) {
        std::string reason = lastDlError();
        dlclose(handle);
        throw HostError("plug-in '" + path + "' does not export EffectMain: " + reason);
    }
    dlerror();
    entry.setLogSink = reinterpret_cast<SetLogSinkFunc>(dlsym(handle, "cindelSetLogSink"));
    dlerror();
    return std::shared_ptr<PluginLibrary>(new PluginLibrary(path, handle, entry));
}

PluginLibrary::PluginLibrary(std::string path, void* handle, EffectEntry entry)
    : path_(std::move(path)), handle_(handle), entry_(entry) {}

PluginLibrary::~PluginLibrary() {
    if (handle_) dlclose(handle_);
}

}  // namespace minihost
