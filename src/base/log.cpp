#include "base/log.hpp"

#include <cstdarg>

static void logTo(std::FILE* stream, const char* format, va_list args) {
    // Keep the line whole when both threads log at once.
    flockfile(stream);
    std::vfprintf(stream, format, args);
    std::fputs("\n", stream);
    funlockfile(stream);
    std::fflush(stream);
}

namespace {
thread_local int mutedDepth = 0;
} // namespace

LogMessagesMuted::LogMessagesMuted() { ++mutedDepth; }
LogMessagesMuted::~LogMessagesMuted() { --mutedDepth; }

void logMessage(const char* format, ...) {
    if (mutedDepth > 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    logTo(stdout, format, args);
    va_end(args);
}

void logError(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    logTo(stream, format, args);
    va_end(args);
}
