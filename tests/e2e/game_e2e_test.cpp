#include "game_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

namespace {

const char* kEnv = "SDL_AUDIO_DRIVER=dummy VIBRELLE_WINDOWED=1";

bool has(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

size_t count(const std::string& output, const std::string& text) {
    size_t n = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) {
        ++n;
    }
    return n;
}

// The lines must appear in this order.
void expectInOrder(const std::string& output, std::initializer_list<const char*> lines) {
    size_t from = 0;
    for (const char* line : lines) {
        const size_t at = output.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << output;
        from = at + 1;
    }
}

TEST(GameEndToEnd, EscapeEndsTheGameCleanly) {
    const GameRun run = runGame("", kEnv, [](unsigned long window, const std::string&) { sendKey(window, "Escape"); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(has(run.output, "Controls:\n  Tap - Hit on beat (when playing)\n  UI buttons for other controls\n"))
        << run.output;
    EXPECT_TRUE(has(run.output, "OpenGL Version: "));
    expectInOrder(run.output, {"Controls:", "Game logic thread ended", "Game logic thread joined successfully",
                               "Shutting down application...", "miniaudio audio system shut down."});
}

TEST(GameEndToEnd, ClosingTheWindowEndsTheGameCleanly) {
    const GameRun run =
        runGame("--windowed", "SDL_AUDIO_DRIVER=dummy", [](unsigned long window, const std::string&) { sendClose(window); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    expectInOrder(run.output, {"Game logic thread joined successfully", "Shutting down application...\n"});
}

TEST(GameEndToEnd, SpaceStartsTheDefaultLevelAndEscapeStopsTheThreadFirst) {
    int polls = 0;
    const GameRun run = runGame("", kEnv, [&](unsigned long window, const std::string& output) {
        if (has(output, "Playback initiated for ")) {
            sendKey(window, "Escape");
        } else if (!has(output, "Playing all stems with voice group.") && polls++ % 4 == 0) {
            // Space again only if an earlier one never arrived.
            sendKey(window, "space");
        }
    });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::smatch loaded;
    ASSERT_TRUE(std::regex_search(run.output, loaded, std::regex("Loaded (\\d+) stem\\(s\\) from level JSON: "
                                                                 "levels/level.json\n")))
        << run.output;
    EXPECT_GE(std::stoi(loaded[1]), 5);
    expectInOrder(run.output, {"Game logic thread started", "Playing all stems with voice group.",
                               ("Playback initiated for " + loaded[1].str() + " stem(s) using voice group.").c_str(),
                               "Fading in stem: ", "Activated first stem", "Game logic thread ended",
                               "Game logic thread joined successfully", "Shutting down application..."});
}

// The bot plays the default level through the real input path: every stem must come in within
// 90 seconds of play, with no miss on the way.
TEST(GameEndToEnd, AutoplayBringsInEveryStemWithoutAMiss) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point started{};
    double allInAfter = -1.0;
    size_t stems = 0;
    const GameRun run = runGame(
        "--windowed --autoplay", "SDL_AUDIO_DRIVER=dummy",
        [&](unsigned long window, const std::string& output) {
            std::smatch loaded;
            if (stems == 0 && std::regex_search(output, loaded, std::regex("Loaded (\\d+) stem\\(s\\)"))) {
                stems = std::stoul(loaded[1]);
            }
            if (started == Clock::time_point{} && has(output, "Playback initiated for ")) {
                started = Clock::now();
            }
            const bool allIn = stems > 0 && count(output, "Fading in stem: ") >= stems;
            const bool late = started != Clock::time_point{} && Clock::now() - started > std::chrono::seconds(95);
            if (allIn && allInAfter < 0.0) {
                allInAfter = std::chrono::duration<double>(Clock::now() - started).count();
            }
            if (allIn || late) {
                sendKey(window, "Escape");
            }
        },
        150);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(has(run.output, "Autoplay enabled\n"));
    ASSERT_GE(stems, 5u) << run.output;
    EXPECT_EQ(count(run.output, "Fading in stem: "), stems) << run.output;
    EXPECT_GE(allInAfter, 0.0);
    EXPECT_LE(allInAfter, 90.0);
    EXPECT_FALSE(has(run.output, "Miss registered")) << run.output;
    EXPECT_FALSE(has(run.output, "Deactivated stem: "));
    EXPECT_TRUE(has(run.output, "MIDI: Triggered ")) << "notes fire from the master clock";
    expectInOrder(run.output, {"Game logic thread ended", "Game logic thread joined successfully",
                               "Shutting down application..."});
}

} // namespace
