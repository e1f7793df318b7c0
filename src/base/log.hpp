#pragma once
#include <cstdio>

// printf-style log line on standard output: the formatted text, then a separate "\n".
// Any thread may call these; each call writes its text and line end under stdio's own lock.
void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same to the given stream (errors go to stderr).
void logError(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// While one lives on a thread, logMessage on that thread writes nothing (logError still writes):
// for running a round again where its every score and miss would flood the log, as the
// leaderboard server does with uploaded rounds. Nests; other threads log as before.
struct LogMessagesMuted {
    LogMessagesMuted();
    ~LogMessagesMuted();
    LogMessagesMuted(const LogMessagesMuted&) = delete;
    LogMessagesMuted& operator=(const LogMessagesMuted&) = delete;
};
