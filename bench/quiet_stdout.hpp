#pragma once
// Standard output sent to /dev/null while a QuietStdout lives: the game's loaders and screens log
// a lot, and a benchmark's figures would drown in it. Not thread-safe; one at a time.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

struct QuietStdout {
    int saved = -1;
    QuietStdout() {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
};
