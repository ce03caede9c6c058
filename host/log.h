// The effect's one diagnostic hook. Every diagnostic line is a printf-style format with its
// arguments; by default the lines are dropped, so nothing is printed or written in normal operation.
// A host that wants them (minihost's verbose mode) installs a sink through the plug-in's exported cindelSetLogSink.
#pragma once

#include <cstdarg>

namespace cindel {

using LogSink = void (*)(const char* format, va_list args);

void setLogSink(LogSink sink);
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cindel

