// The four dlfcn calls the host-protocol tests make, for their Windows build: LoadLibraryA,
// GetProcAddress and FreeLibrary under the POSIX names, so the tests run unchanged against
// Cindel.aex under Wine. Only the Windows test build has this folder on its include path.
#pragma once

#include <windows.h>

#include <cstdio>

#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_LOCAL 0x0
#define RTLD_GLOBAL 0x100

inline void* dlopen(const char* path, int) { return reinterpret_cast<void*>(LoadLibraryA(path)); }

inline void* dlsym(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

inline int dlclose(void* library) { return FreeLibrary(static_cast<HMODULE>(library)) ? 0 : 1; }

inline char* dlerror() {
    static char message[64];
    const DWORD code = GetLastError();
    if (code == 0) return nullptr;
    std::snprintf(message, sizeof message, "Windows error %lu", static_cast<unsigned long>(code));
    SetLastError(0);
    return message;
}
