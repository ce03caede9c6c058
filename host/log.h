// The effect's one diagnostic hook. Every diagnostic line is a printf-style format with its
// arguments; by default the lines are dropped, so nothing is printed or written in normal operation.
// A host that wants them (minihost's verbose mode) installs a sink through the plug-in's exported cindelSetLogSink.
#pragma once

#include <cstdarg>

namespace cindel {

using LogSink = void (*)(const char* format, va_list args);

void setLogSink(LogSink sink);
// MinGW's plain "printf" format means the Microsoft runtime's conversions; C++ code there formats
// through MinGW's own C99 printf, which is what gnu_printf checks.
#if defined(__MINGW32__)
void logLine(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

}  // namespace cindel

