#include "game_process.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* kEnv = "SDL_AUDIO_DRIVER=dummy VIBRELLE_WINDOWED=1";

size_t positionOf(const std::string& output, const std::string& line) { return output.find(line); }

TEST(GameEndToEnd, EscapeEndsTheGameCleanly) {
    const GameRun run = runGame("", kEnv, [](unsigned long window) { sendKey(window, "Escape"); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(positionOf(run.output, "Controls:\n  Tap - Hit on beat (when playing)\n  UI buttons for other controls\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(positionOf(run.output, "OpenGL Version: "), std::string::npos);
    const size_t controls = positionOf(run.output, "Controls:");
    const size_t shutdown = positionOf(run.output, "Shutting down application...\n");
    ASSERT_NE(shutdown, std::string::npos) << run.output;
    EXPECT_LT(controls, shutdown);
}

TEST(GameEndToEnd, ClosingTheWindowEndsTheGameCleanly) {
    const GameRun run = runGame("--windowed", "SDL_AUDIO_DRIVER=dummy", [](unsigned long window) { sendClose(window); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(positionOf(run.output, "Shutting down application...\n"), std::string::npos) << run.output;
}

} // namespace
