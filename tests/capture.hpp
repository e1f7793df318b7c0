#pragma once
// What code printed (standard output and error captured around a call with gtest's capture, one
// of each at a time), what a program prints, and what files hold.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

#include <fstream>
#include <iterator>
#include <string>

template <class F> std::string stdoutOf(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

template <class F> std::string stderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

struct Printed {
    std::string out, err;
};

template <class F> Printed printedBy(F&& f) {
    Printed printed;
    printed.err = stderrOf([&] { printed.out = stdoutOf(f); });
    return printed;
}

// What `f` printed on standard error; standard output goes to `out` when given.
template <class F> std::string errorsOf(F&& f, std::string* out = nullptr) {
    Printed printed = printedBy(f);
    if (out != nullptr) {
        *out = printed.out;
    }
    return printed.err;
}

// A whole file's bytes ("" when it cannot be read), and a file written with exactly `text`.
inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// What a shell command printed on standard output, and its exit status (-1 when it did not exit).
struct CommandRun {
    int exitCode = -1;
    std::string output;
};
inline CommandRun runShellCommand(const std::string& command) {
    CommandRun run;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (int c = 0; (c = std::fgetc(pipe)) != EOF;) {
            run.output += static_cast<char>(c);
        }
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}
