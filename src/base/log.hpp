#pragma once
#include <cstdio>

// printf-style log line on standard output: the formatted text, then a separate "\n".
// Any thread may call these; each call writes its text and line end under stdio's own lock.
void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same to the given stream (errors go to stderr).
void logError(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
