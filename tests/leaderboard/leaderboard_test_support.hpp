#pragma once
// Helpers shared by the leaderboard tests: a private temporary folder per test, whole-file reads
// and writes that bypass the code under test, and quiet calls of routines that log every time.
#include "leaderboard/leaderboard_document.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it.
struct TempFolder {
    std::filesystem::path path;

    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vibrelle-leaderboard-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        }
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const char* name) const { return (path / name).string(); }
};

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

inline void PrintTo(LeaderboardRead read, std::ostream* out) {
    *out << (read == LeaderboardRead::Ok ? "Ok" : read == LeaderboardRead::Missing ? "Missing" : "Corrupt");
}
