#pragma once
// Helpers shared by the leaderboard tests: whole-file reads and writes that bypass the code under
// test, and quiet calls of routines that log every time.
#include "capture.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

// Runs `action` with standard output captured and dropped (every save logs a line), returning
// its result. Assertions belong outside: while captured, their messages would be dropped too.
template <class Action> auto quietly(Action action) {
    ::testing::internal::CaptureStdout();
    const auto result = action();
    ::testing::internal::GetCapturedStdout();
    return result;
}
