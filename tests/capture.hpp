#pragma once
// What code printed: standard output and error captured around a call (gtest's capture, one of
// each at a time).
#include <gtest/gtest.h>

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
