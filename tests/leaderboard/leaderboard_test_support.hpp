#pragma once
// Helpers shared by the leaderboard tests: whole-file reads and writes that bypass the code under
// test, and quiet calls of routines that log every time.
#include "leaderboard/leaderboard_document.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `action` with standard output captured and dropped (every save logs a line), returning
// its result. Assertions belong outside: while captured, their messages would be dropped too.
template <class Action> auto quietly(Action action) {
    ::testing::internal::CaptureStdout();
    const auto result = action();
    ::testing::internal::GetCapturedStdout();
    return result;
}
