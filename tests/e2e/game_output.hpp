#pragma once
// Reading the game's log in the end-to-end tests: what it says, how often, and the rectangles the
// screens trace with VIBRELLE_UI_TRACE=1 ("UI: <id> <x> <y> <w> <h>"), which the tests click.
#include "game_process.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <regex>
#include <string>
#include <vector>

inline bool has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

inline std::size_t count(const std::string& output, const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) {
        ++n;
    }
    return n;
}

// Clicks the centre of the last rectangle the game traced for a button or row; answers whether
// there was one.
inline bool clickTraced(unsigned long window, const std::string& output, const std::string& id) {
    const std::regex line("UI: " + id + " (-?\\d+) (-?\\d+) (\\d+) (\\d+)\n");
    std::smatch last;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
         ++it) {
        last = *it;
    }
    if (last.empty()) {
        return false;
    }
    clickAt(window, std::stoi(last[1]) + std::stoi(last[3]) / 2, std::stoi(last[2]) + std::stoi(last[4]) / 2);
    return true;
}

// The lines must appear in this order, followed by the orderly shutdown.
inline void expectInOrder(const std::string& output, std::vector<std::string> lines) {
    lines.insert(lines.end(), {"Game logic thread ended", "Game logic thread joined successfully",
                               "Shutting down application...\n", "miniaudio audio system shut down."});
    std::size_t from = 0;
    for (const std::string& line : lines) {
        const std::size_t at = output.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << output;
        from = at + 1;
    }
}
