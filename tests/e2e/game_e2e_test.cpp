#include "game_process.hpp"
#include "level/level_manifest.hpp"
#include "temp_assets.hpp"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

const char* kEnv = "SDL_AUDIO_DRIVER=dummy VIBRELLE_WINDOWED=1";

bool has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

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
    const GameRun run =
        runGame("", kEnv, [](unsigned long window, const std::string&) { sendKey(window, "Escape"); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(
        has(run.output, "Controls:\n  Tap - Hit on beat (when playing)\n  UI buttons for other controls\n"))
        << run.output;
    EXPECT_TRUE(has(run.output, "OpenGL Version: "));
    // A first start: the settings' defaults, each said once.
    for (const char* line :
         {"No prefs file found \xE2\x80\x93 using default player name (Player)\n",
          "No prefs file found \xE2\x80\x93 using default keyboard gameplay setting (enabled)\n",
          "No prefs file found \xE2\x80\x93 using default music volume (100%)\n"}) {
        EXPECT_EQ(count(run.output, line), 1u) << line << run.output;
    }
    expectInOrder(run.output,
                  {"Controls:", "Game logic thread ended", "Game logic thread joined successfully",
                   "Shutting down application...", "miniaudio audio system shut down."});
}

TEST(GameEndToEnd, ClosingTheWindowEndsTheGameCleanly) {
    const GameRun run = runGame("--windowed", "SDL_AUDIO_DRIVER=dummy",
                                [](unsigned long window, const std::string&) { sendClose(window); });
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
    ASSERT_TRUE(std::regex_search(run.output, loaded,
                                  std::regex("Loaded (\\d+) stem\\(s\\) from level JSON: "
                                             "levels/level.json\n")))
        << run.output;
    EXPECT_GE(std::stoi(loaded[1]), 5);
    expectInOrder(run.output,
                  {"Game logic thread started", "Playing all stems with voice group.",
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
        "--windowed --autoplay --judge-stats", "SDL_AUDIO_DRIVER=dummy",
        [&](unsigned long window, const std::string& output) {
            std::smatch loaded;
            if (stems == 0 && std::regex_search(output, loaded, std::regex("Loaded (\\d+) stem\\(s\\)"))) {
                stems = std::stoul(loaded[1]);
            }
            if (started == Clock::time_point{} && has(output, "Playback initiated for ")) {
                started = Clock::now();
            }
            const bool allIn = stems > 0 && count(output, "Fading in stem: ") >= stems;
            const bool late =
                started != Clock::time_point{} && Clock::now() - started > std::chrono::seconds(95);
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
    // The bot's presses came through SDL's queue with their own timestamps and were all judged.
    std::smatch stats;
    ASSERT_TRUE(
        std::regex_search(run.output, stats,
                          std::regex("Hit offsets: mean -?[0-9.]+ ms, sd [0-9.]+ ms, max \\|[0-9.]+\\| ms "
                                     "over (\\d+) presses\n")))
        << run.output;
    EXPECT_GT(std::stoul(stats[1]), 20u);
    expectInOrder(run.output, {"Game logic thread ended", "Game logic thread joined successfully",
                               "Shutting down application..."});
}

// Pixels of the picture within a few steps of the colour (components 0..1).
int pixelsNear(const unsigned char* rgb, int count, const float colour[3]) {
    int found = 0;
    for (int i = 0; i < count; ++i) {
        bool close = true;
        for (int c = 0; c < 3; ++c) {
            close = close && std::abs(rgb[i * 3 + c] - static_cast<int>(colour[c] * 255.0f + 0.5f)) <= 6;
        }
        found += close ? 1 : 0;
    }
    return found;
}

// Under autoplay the game draws the circles in their stems' colours; --screenshot keeps the frame
// and Print Screen saves one into the player's data folder (a temporary one here).
TEST(GameEndToEnd, ScreenshotsShowTheCirclesInTheirStemColours) {
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) / ("vibrelle_shots_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string shot = (dir / "midplay.png").string();
    int prints = 0;
    const GameRun run = runGame(
        "--windowed --autoplay --screenshot '" + shot + "' --quit-after 12",
        "SDL_AUDIO_DRIVER=dummy XDG_DATA_HOME='" + dir.string() + "'",
        [&](unsigned long window, const std::string& output) {
            if (has(output, "Playback initiated for ") && !has(output, "/Kvo/Vibrelle/screenshot-") &&
                prints < 5) {
                sendKey(window, "Print");
                ++prints;
            }
        },
        60);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(has(run.output, "Screenshot saved: " + shot + "\n")) << run.output;

    std::smatch saved;
    ASSERT_TRUE(
        std::regex_search(run.output, saved,
                          std::regex("Screenshot saved: (.*/Kvo/Vibrelle/screenshot-\\d{8}-\\d{6}\\.png)\n")))
        << run.output;
    EXPECT_TRUE(std::filesystem::exists(saved[1].str()));

    int width = 0, height = 0, channels = 0;
    unsigned char* rgb = stbi_load(shot.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(rgb, nullptr) << shot;
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);
    LevelDefinition level;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(parseLevelManifest(VIBRELLE_ASSETS "/levels/level.json", level));
    ::testing::internal::GetCapturedStderr();
    int coloursShown = 0;
    for (const Stem& stem : level.stems) {
        const float colour[3] = {stem.colorR, stem.colorG, stem.colorB};
        coloursShown += pixelsNear(rgb, width * height, colour) >= 200 ? 1 : 0;
    }
    stbi_image_free(rgb);
    EXPECT_GE(coloursShown, 2);
    std::filesystem::remove_all(dir);
}

// Where the game traced a button or row (VIBRELLE_UI_TRACE=1): the centre of its last rectangle.
bool tracedCentre(const std::string& output, const std::string& id, int& x, int& y) {
    const std::regex line("UI: " + id + " (-?\\d+) (-?\\d+) (\\d+) (\\d+)\n");
    bool found = false;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
         ++it) {
        x = std::stoi((*it)[1]) + std::stoi((*it)[3]) / 2;
        y = std::stoi((*it)[2]) + std::stoi((*it)[4]) / 2;
        found = true;
    }
    return found;
}

// A player's round through the menu, with real clicks: the second level's row, Start, a few
// seconds of play, the HUD's exit button, and the menu again.
TEST(GameEndToEnd, PicksTheSecondLevelFromTheMenuAndLeavesWithTheHudsExit) {
    int stage = 0, waited = 0;
    const GameRun run = runGame(
        "--windowed", "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1",
        [&](unsigned long window, const std::string& output) {
            int x = 0, y = 0;
            switch (stage) {
            case 0: // the menu has settled
                if (tracedCentre(output, "level_row_1", x, y)) {
                    clickAt(window, x, y);
                    stage = 1;
                }
                break;
            case 1:
                if (tracedCentre(output, "##start", x, y)) {
                    clickAt(window, x, y);
                    stage = 2;
                }
                break;
            case 2: // playing: give it a few seconds, then leave through the HUD
                if (has(output, "Playback initiated for ") && has(output, "UI: hud_exit ") && ++waited >= 6 &&
                    tracedCentre(output, "hud_exit", x, y)) {
                    clickAt(window, x, y);
                    stage = 3;
                }
                break;
            case 3: // the menu is back when it is traced again
                if (count(output, "UI: ##start ") >= 2) {
                    sendKey(window, "Escape");
                    stage = 4;
                }
                break;
            default:
                break;
            }
        },
        90);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(stage, 4) << run.output;
    std::smatch loaded;
    ASSERT_TRUE(std::regex_search(
        run.output, loaded,
        std::regex("Loaded (\\d+) stem\\(s\\) from level JSON: levels/neon_drive/level.json\n")))
        << run.output;
    EXPECT_GE(std::stoi(loaded[1]), 5);
    expectInOrder(run.output,
                  {"Loading level package from conventional paths in: levels/neon_drive",
                   "Loaded stems successfully via level.json manifest.",
                   "Playing all stems with voice group.", "Fading in stem: drums.ogg", "UI: hud_exit ",
                   "Stopping all stems.", "Playback stopped.", "Shutting down application..."});
}

// A result survives a restart: one run plays the default level under autoplay and leaves it with
// the HUD's exit button; the next run, in the same folder, finds it on the leaderboard and as the
// best score when the same level is started from the menu. No server answers meanwhile.
TEST(GameEndToEnd, ASavedResultIsTheBestScoreOfTheNextRun) {
    const std::string assets = makeTempAssets("e2e_restart").string();
    const GameRun first = runGameIn(
        assets, "--windowed --autoplay", "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1",
        [&](unsigned long window, const std::string& output) {
            int x = 0, y = 0;
            if (has(output, "Leaderboard successfully saved to ")) {
                sendKey(window, "Escape");
            } else if (has(output, "High score updated: ") && tracedCentre(output, "hud_exit", x, y)) {
                clickAt(window, x, y);
            }
        },
        90);
    EXPECT_EQ(first.exitCode, 0) << first.output;
    // The score saved is the last one the round reached before the save.
    const std::string beforeSave =
        first.output.substr(0, first.output.find("Leaderboard successfully saved to "));
    int lastScore = -1;
    const std::regex raised("High score updated: (\\d+)\n");
    for (auto it = std::sregex_iterator(beforeSave.begin(), beforeSave.end(), raised);
         it != std::sregex_iterator(); ++it) {
        lastScore = std::stoi((*it)[1]);
    }
    ASSERT_GT(lastScore, 0) << first.output;
    EXPECT_TRUE(has(first.output, "Leaderboard successfully saved to levels/leaderboard.json"))
        << first.output;
    EXPECT_TRUE(has(first.output, "Failed to upload leaderboard to HTTP server, data saved locally only"));

    int stage = 0;
    const GameRun second = runGameIn(
        assets, "--windowed", "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1",
        [&](unsigned long window, const std::string& output) {
            int x = 0, y = 0;
            if (stage == 0 && tracedCentre(output, "##leaderboard", x, y)) {
                clickAt(window, x, y); // the leaderboard, from the local file
                stage = 1;
            } else if (stage == 1 && has(output, "Loaded leaderboard from local file") &&
                       tracedCentre(output, "##back", x, y)) {
                clickAt(window, x, y);
                stage = 2;
            } else if (stage == 2 && count(output, "UI: level_row_1 ") >= 2 &&
                       tracedCentre(output, "level_row_1", x, y)) {
                clickAt(window, x, y); // Neon Drive, the default level's song
                stage = 3;
            } else if (stage == 3 && tracedCentre(output, "##start", x, y)) {
                clickAt(window, x, y);
                stage = 4;
            } else if (stage == 4 && has(output, "Found local player score: ")) {
                sendKey(window, "Escape");
                stage = 5;
            }
        },
        90);
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(stage, 5) << second.output;
    std::smatch best;
    ASSERT_TRUE(std::regex_search(second.output, best,
                                  std::regex("Found local player score: Player on Neon Drive = (\\d+)\n")))
        << second.output;
    EXPECT_EQ(std::stoi(best[1]), lastScore);
    std::filesystem::remove_all(assets);
}

// The name typed on the settings screen survives a restart and names the player's results.
TEST(GameEndToEnd, ASavedPlayerNameNamesTheNextRunsResults) {
    const std::string assets = makeTempAssets("e2e_name").string();
    const std::string env = "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1 XDG_DATA_HOME='" + assets + "/data'";
    int stage = 0;
    // Full screen: the settings panel is laid out for 1080 lines.
    const GameRun first = runGameIn(
        assets, "", env,
        [&](unsigned long window, const std::string& output) {
            int x = 0, y = 0;
            if (stage == 0 && tracedCentre(output, "##settings", x, y)) {
                clickAt(window, x, y);
                stage = 1;
            } else if (stage == 1 && tracedCentre(output, "##playername", x, y)) {
                clickAt(window, x, y);
                typeText("ctrl+a", "Ann Vibe"); // the blank must not start playback
                stage = 2;
            } else if (stage == 2 && tracedCentre(output, "##save", x, y)) {
                clickAt(window, x, y);
                stage = 3;
            } else if (stage == 3 && has(output, "Player name saved to ")) {
                sendKey(window, "Escape");
                stage = 4;
            }
        },
        60);
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(stage, 4) << first.output;
    EXPECT_FALSE(has(first.output, "Playing all stems")) << "the blank went into the name";

    const GameRun second = runGameIn(
        assets, "--windowed --autoplay", env,
        [&](unsigned long window, const std::string& output) {
            int x = 0, y = 0;
            if (has(output, "Leaderboard successfully saved to ")) {
                sendKey(window, "Escape");
            } else if (has(output, "High score updated: ") && tracedCentre(output, "hud_exit", x, y)) {
                clickAt(window, x, y);
            }
        },
        60);
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_FALSE(has(second.output, "using default player name")) << second.output;
    std::ifstream file(assets + "/levels/leaderboard.json");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("\"player\": \"Ann Vibe\""), std::string::npos) << text.str();
    std::filesystem::remove_all(assets);
}

} // namespace
