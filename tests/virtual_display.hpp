#pragma once
// An X server of the test's own (Xvfb), for tests that change what a display holds (its size, its
// keyboard layout) without touching the display other tests share.
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

// A virtual display: started with -displayfd, which names a free display once the server is ready,
// so that parallel runs never pick the same one, and -noreset, so that what a test sets on it (the
// keyboard layout) stays when the client that set it disconnects, and the server never turns
// clients away while it resets.
struct VirtualDisplay {
    pid_t pid = -1;
    int number = -1;

    VirtualDisplay(int width, int height) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            freopen("/dev/null", "w", stderr);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        pollfd ready{fds[0], POLLIN, 0};
        std::string text;
        char c = 0;
        // Bounded: a server that never comes up fails the test instead of hanging it.
        while (poll(&ready, 1, 30000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') {
            text += c;
        }
        close(fds[0]);
        if (!text.empty()) {
            number = std::stoi(text);
        }
    }
    ~VirtualDisplay() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};
