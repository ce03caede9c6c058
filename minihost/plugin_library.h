// Loading the effect as the host does: a shared library opened with the platform's loader, whose
// exported "EffectMain" is the only way in. The optional "cindelSetLogSink" export lets a verbose host see
// the effect's diagnostic lines, and the optional "cindelSetVolumeSink" hands out the simulation's
// fields per frame (host/volume_export.h). An EffectEntry is what the Host drives; it comes either from a
// PluginLibrary or straight from a function in the same process (the tests' fake effects), so the
// Host never knows which.
#pragma once

#include <cstdarg>
#include <memory>
#include <string>

#include "AE_Effect.h"
#include "host/entry_point.h"
#include "host/volume_export.h"

namespace minihost {

using LogSinkFunc = void (*)(const char* format, va_list args);
using SetLogSinkFunc = void (*)(LogSinkFunc sink);

struct EffectEntry {
    EffectMainFunc* main = nullptr;
    SetLogSinkFunc setLogSink = nullptr;  // null when the effect offers no log hook
    CindelSetVolumeSinkFunc setVolumeSink = nullptr;  // null when the effect offers no volume export
};

class PluginLibrary {
public:
    // Throws HostError naming the file and the loader's reason when the library does not load or lacks
    // EffectMain. The library stays loaded while any shared_ptr to it lives.
    static std::shared_ptr<PluginLibrary> open(const std::string& path);

    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const EffectEntry& entry() const { return entry_; }
    const std::string& path() const { return path_; }

private:
    PluginLibrary(std::string path, void* handle, EffectEntry entry);

    std::string path_;
    void* handle_ = nullptr;
    EffectEntry entry_;
};

}  // namespace minihost
