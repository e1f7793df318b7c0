#include "game_output.hpp"
#include "game_process.hpp"
#include "level/level_manifest.hpp"
#include "temp_assets.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stb_image.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

// The first number the pattern's group captures in the output, or -1.
long firstNumber(const std::string& output, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(output, match, std::regex(pattern)) ? std::stol(match[1]) : -1;
}

// One player's sessions in one folder, no server answering: a first start names the player (Escape, a
// blank and F12 go into the field), plays and closes the window; the bot then plays the default level
// through the real input path, every stem in within 90 s with no miss, and leaves through the HUD,
// which neither saves nor uploads the bot's round; that start takes the player's own result over
// from where an earlier version kept it, in the game's data folder, into the player's folder, and
// the last run finds it as the best score from the leaderboard screen's level row.
TEST(GameEndToEnd, APlayersSessionsCarryOverRestarts) {
    const std::string assets = makeTempAssets("e2e_sessions").string();
    const std::string env = "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1";

    // Full screen: the settings panel is laid out for 1080 lines.
    int stage = 0, polls = 0;
    const GameRun first = runGameIn(
        assets, "", env,
        [&](unsigned long window, const std::string& output) {
            if (stage == 0 && clickTraced(window, output, "##settings")) {
                stage = 1;
            } else if (stage == 1 && clickTraced(window, output, "##playername")) {
                stage = 2;
            } else if (stage == 2) {
                sendKey(window, "Escape"); // into the focused field: the game goes on
                stage = 3;
            } else if (stage == 3 && clickTraced(window, output, "##playername")) {
                stage = 4; // type on the next poll: a slow frame may not have focused the field yet
            } else if (stage == 4) {
                // Select all, and should a slow frame drop the Ctrl, delete "Player" from its end.
                typeText("ctrl+a End BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace",
                         "Ann Vibe");   // the blank must not start playback,
                sendKey(window, "F12"); // nor F12 hide the interface
                stage = 5;
            } else if (stage == 5 && clickTraced(window, output, "##save")) {
                stage = 6;
            } else if (stage == 6 && has(output, "Player name saved to ") &&
                       clickTraced(window, output, "##back")) {
                stage = 7;
            } else if (stage == 7 && has(output, "Playback initiated for ")) {
                sendClose(window);
                stage = 8;
            } else if (stage == 7 && count(output, "UI: ##start ") >= 2 && polls++ % 4 == 0) {
                sendKey(window, "space"); // again only if an earlier one never arrived
            }
        },
        60);
    {
        SCOPED_TRACE("first start");
        EXPECT_EQ(first.exitCode, 0) << first.output;
        EXPECT_EQ(stage, 8) << first.output;
        EXPECT_TRUE(has(first.output, "Controls:\n  Tap - Hit on beat (when playing)\n  UI buttons for other "
                                      "controls\n"));
        EXPECT_TRUE(has(first.output, "OpenGL Version: "));
        for (const char* line :
             {"No prefs file found \xE2\x80\x93 using default player name (Player)\n",
              "No prefs file found \xE2\x80\x93 using default keyboard gameplay setting (enabled)\n",
              "No prefs file found \xE2\x80\x93 using default music volume (100%)\n"}) {
            EXPECT_EQ(count(first.output, line), 1u) << line;
        }
        EXPECT_FALSE(
            has(first.output.substr(0, first.output.find("Player name saved to ")), "Playing all stems"))
            << "the blank went into the name";
        const long stems =
            firstNumber(first.output, "Loaded (\\d+) stem\\(s\\) from level JSON: levels/level.json\n");
        EXPECT_GE(stems, 5);
        expectInOrder(first.output,
                      {"Game logic thread started", "Player name saved to ",
                       "Playing all stems with voice group.",
                       "Playback initiated for " + std::to_string(stems) + " stem(s) using voice group.",
                       "Fading in stem: ", "Activated first stem"});
    }

    // A result of the player's own and one of another's, where an earlier version kept them.
    const std::string oldFile = assets + "/levels/leaderboard.json";
    const std::string localFile = assets + "/data/Kvo/Vibrelle/leaderboard.json";
    const std::string ownScores = R"([{"player": "Ann Vibe", "score": 4321, "time": 61,
        "highestLayer": "3/5", "highestCombo": 20}])";
    const std::string oldResults = R"({"levels": [{"name": "Neon Drive", "scores": [{"player": "Bo",
        "score": 9999}, )" + ownScores.substr(1) +
                                   "}]}";
    { std::ofstream(oldFile) << oldResults; }
    const int lastScore = 4321;

    using Clock = std::chrono::steady_clock;
    Clock::time_point started{};
    double allInAfter = -1.0;
    long stems = 0;
    int exitPolls = 0, escapePolls = 0;
    const GameRun second = runGameIn(
        assets, "--windowed --autoplay --judge-stats", env,
        [&](unsigned long window, const std::string& output) {
            if (stems <= 0) {
                stems = firstNumber(output, "Loaded (\\d+) stem\\(s\\)");
            }
            if (started == Clock::time_point{} && has(output, "Playback initiated for ")) {
                started = Clock::now();
            }
            const bool allIn = stems > 0 && count(output, "Fading in stem: ") >= static_cast<size_t>(stems);
            if (allIn && allInAfter < 0.0) {
                allInAfter = std::chrono::duration<double>(Clock::now() - started).count();
            }
            const std::size_t ended = output.find("Autoplay round ended; its result is not saved");
            const std::size_t results =
                ended == std::string::npos ? ended : output.find("UI screen: results ", ended);
            if (results != std::string::npos) {
                // Escape on the results screen leads to the menu, and on the menu quits.
                if (output.find("UI screen: menu ", results) != std::string::npos || escapePolls++ % 4 == 0) {
                    sendKey(window, "Escape");
                }
            } else if (ended != std::string::npos) {
                // The results screen settles first.
            } else if ((allIn || (started != Clock::time_point{} &&
                                  Clock::now() - started > std::chrono::seconds(95))) &&
                       exitPolls++ % 4 == 0) {
                clickTraced(window, output, "hud_exit"); // again only if an earlier click never arrived
            }
        },
        150);
    const std::string beforeSave =
        second.output.substr(0, second.output.find("Autoplay round ended; its result is not saved"));
    {
        SCOPED_TRACE("autoplay");
        EXPECT_EQ(second.exitCode, 0) << second.output;
        EXPECT_TRUE(has(second.output, "Autoplay enabled\n"));
        EXPECT_FALSE(has(second.output, "using default player name")) << second.output;
        ASSERT_GE(stems, 5) << second.output;
        // The round, up to the HUD's exit that stops the stems before the save.
        const std::string played = beforeSave.substr(0, beforeSave.rfind("Stopping all stems."));
        EXPECT_EQ(count(played, "Fading in stem: "), static_cast<size_t>(stems)) << second.output;
        EXPECT_GE(allInAfter, 0.0);
        EXPECT_LE(allInAfter, 90.0);
        EXPECT_FALSE(has(played, "Miss registered")) << second.output;
        EXPECT_FALSE(has(played, "Deactivated stem: "));
        EXPECT_TRUE(has(played, "MIDI: Triggered ")) << "notes fire from the master clock";
        EXPECT_GE(firstNumber(played, "Level started: [^,\n]+, first sound after (\\d+) ms"), 0)
            << second.output;
        // The bot's presses came through SDL's queue with their own timestamps and were all judged.
        EXPECT_GT(firstNumber(second.output,
                              "Hit offsets: mean -?[0-9.]+ ms, sd [0-9.]+ ms, max \\|[0-9.]+\\| ms "
                              "over (\\d+) presses\n"),
                  20)
            << second.output;
        EXPECT_TRUE(has(second.output, "Autoplay round ended; its result is not saved\n")) << second.output;
        expectInOrder(second.output, {"Autoplay round ended; its result is not saved\n",
                                      "UI screen: results ", "UI: results_score ", "UI screen: menu "});
        // The bot's round: nothing saved, nothing uploaded. The player's own result was taken
        // over, the old file left as it was.
        EXPECT_FALSE(has(second.output, "Leaderboard successfully saved")) << second.output;
        EXPECT_FALSE(has(second.output, "upload leaderboard")) << second.output;
        EXPECT_TRUE(has(second.output, "Took 1 of Ann Vibe's results from levels/leaderboard.json into "))
            << second.output;
        EXPECT_EQ(nlohmann::json::parse(readText(localFile)),
                  nlohmann::json::parse(R"({"ownResultsOnly": true, "levels": [{"name": "Neon Drive",
                      "scores": )" + ownScores +
                                        "}]}"));
        EXPECT_EQ(readText(oldFile), oldResults);
    }

    // Windowed through the environment this time.
    stage = 0;
    int waited = 0;
    size_t menus = 0;
    const GameRun third = runGameIn(
        assets, "", env + " VIBRELLE_WINDOWED=1",
        [&](unsigned long window, const std::string& output) {
            if (stage == 0 && clickTraced(window, output, "##leaderboard")) {
                stage = 1;
            } else if (stage == 1 && has(output, "Loaded leaderboard from local file") &&
                       clickTraced(window, output, "##back")) {
                stage = 2;
            } else if (stage == 2 && count(output, "UI: level_row_1 ") >= 2 &&
                       clickTraced(window, output, "level_row_1")) {
                stage = 3; // Neon Drive, the default level's song
            } else if (stage == 3 && clickTraced(window, output, "##start")) {
                stage = 4;
            } else if (stage == 4 && has(output, "Found local player score: ") &&
                       has(output, "UI: hud_exit ") && ++waited >= 6) {
                menus = count(output, "UI: ##start ");
                clickTraced(window, output, "hud_exit");
                stage = 5;
            } else if (stage == 5 && has(output.substr(output.rfind("UI: hud_exit ")), "UI: ##menu ") &&
                       clickTraced(window, output, "##menu")) {
                stage = 6; // from the round's results to the menu
            } else if (stage == 6 && count(output, "UI: ##start ") > menus) {
                sendKey(window, "Escape"); // the menu is back
                stage = 7;
            }
        },
        90);
    SCOPED_TRACE("the next run");
    EXPECT_EQ(third.exitCode, 0) << third.output;
    EXPECT_EQ(stage, 7) << third.output;
    EXPECT_EQ(firstNumber(third.output, "Found local player score: Ann Vibe on Neon Drive = (\\d+)\n"),
              lastScore)
        << third.output;
    EXPECT_GE(firstNumber(third.output,
                          "Loaded (\\d+) stem\\(s\\) from level JSON: levels/neon_drive/level.json\n"),
              5);
    expectInOrder(third.output,
                  {"Loading level package from conventional paths in: levels/neon_drive",
                   "Loaded stems successfully via level.json manifest.",
                   "Playing all stems with voice group.", "Fading in stem: drums.ogg", "UI: hud_exit ",
                   "Stopping all stems.", "Playback stopped.", "UI screen: results ", "UI: ##retry "});
    std::filesystem::remove_all(assets);
}

// Pixels of the picture within a few steps of the colour (components 0..1).
int pixelsNear(const unsigned char* rgb, int count, const float colour[3]) {
    const auto near = [&](int i, int c) {
        return std::abs(rgb[i * 3 + c] - static_cast<int>(colour[c] * 255.0f + 0.5f)) <= 6;
    };
    int found = 0;
    for (int i = 0; i < count; ++i) {
        found += near(i, 0) && near(i, 1) && near(i, 2) ? 1 : 0;
    }
    return found;
}

// Under autoplay the game draws the circles in their stems' colours; --screenshot keeps the frame
// and Print Screen saves one into the player's data folder (in the copy of assets/ here).
TEST(GameEndToEnd, ScreenshotsShowTheCirclesInTheirStemColours) {
    const std::string assets = makeTempAssets("e2e_shots").string();
    const std::string shot = assets + "/midplay.png";
    int prints = 0;
    const GameRun run = runGameIn(
        assets, "--windowed --autoplay --screenshot '" + shot + "' --quit-after 12", "SDL_AUDIO_DRIVER=dummy",
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
    std::filesystem::remove_all(assets);
}

} // namespace
