#include "log.h"

namespace cindel {

namespace {
LogSink gSink = nullptr;
}

void setLogSink(LogSink sink) { gSink = sink; }

void logLine(const char* format, ...) {
    if (!gSink) return;
    va_list args;
    va_start(args, format);
    gSink(format, args);
    va_end(args);
}

}  // namespace cindel
