// Rounds uploaded by the real game to a real leaderboard server that checks them against the same
// levels: one played on the keyboard, key by key at the notes' times as a person would (a little
// early or late, some notes let go), which the server runs again and lists verified; and one of the
// autoplay bot, which the game does not upload and whose replay says the bot played it.
#include "game_output.hpp"
#include "game_process.hpp"
#include "key_presses.hpp"
#include "replay/level_check.hpp"
#include "replay/replay_file.hpp"
#include "server/server_test_support.hpp"
#include "temp_assets.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;

constexpr const char* kLevel = "Neon Drive"; // the default level, by its song's title
constexpr double kRoundSeconds = 15.0;       // song time the keyboard round is left at
constexpr double kBotRoundSeconds = 6.0;     // and the bot's

// Sets the player's name in prefs.json in the game's data folder under `assets`, keeping whatever
// else the game stored there.
void setPlayerName(const std::string& assets, const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(assets) / "data" / "Kvo" / "Vibrelle";
    std::filesystem::create_directories(folder);
    json prefs = json::parse(readText((folder / "prefs.json").string()), nullptr, false);
    if (!prefs.is_object()) {
        prefs = json::object();
    }
    prefs["playerName"] = name;
    std::ofstream(folder / "prefs.json") << prefs.dump();
}

// The round's score as the game logged it: the last total, or -1.
int loggedScore(const std::string& output) {
    int score = -1;
    const std::regex line("Score added: \\d+ \\(Total: (\\d+)\\)\n");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
         ++it) {
        score = std::stoi((*it)[1]);
    }
    return score;
}

// The replay file the game saved at the round's end ("" when it logged none).
std::string savedReplayPath(const std::string& output) {
    std::smatch saved;
    return std::regex_search(output, saved, std::regex("Replay saved: (.*\\.vbr)\n")) ? saved[1].str() : "";
}

// That replay, read (an empty one when there is none, with a failure).
Replay savedReplay(const std::string& output) {
    Replay replay;
    std::string error;
    if (!readReplayFile(savedReplayPath(output), replay, error)) {
        ADD_FAILURE() << "no replay saved: " << error << "\n" << output;
    }
    return replay;
}

// The entries of `player` on the server's board of kLevel.
std::vector<json> boardEntriesOf(int port, const std::string& player) {
    const servertest::Reply reply = servertest::request(port, "GET", "/api/leaderboard?level=Neon%20Drive");
    EXPECT_EQ(reply.status, 200) << reply.body;
    const json board = json::parse(reply.body, nullptr, false);
    std::vector<json> found;
    if (board.is_object() && board.contains("levels")) {
        for (const json& level : board["levels"]) {
            for (const json& entry : level.value("scores", json::array())) {
                if (level.value("name", "") == kLevel && entry.value("player", "") == player) {
                    found.push_back(entry);
                }
            }
        }
    }
    return found;
}

// Plays one round of the default level in the game at `assets`: Space starts it from the menu
// (autoplay starts it by itself), every song clock the game traces goes to `clock`, the HUD's exit
// button ends it at song time `endAt`, and once any of `settled` has been logged Escape leaves the
// results and the menu. What never arrived (the window busy on a slow frame) is sent again a few polls later.
GameRun playRound(const std::string& assets, const std::string& args, const std::string& env, double endAt,
                  const std::vector<std::string>& settled,
                  const std::function<void(const SongClockReading&)>& clock) {
    enum Stage { Menu, Playing, Ended, Leaving };
    Stage stage = Menu;
    int polls = 0;
    const bool autoplay = args.find("--autoplay") != std::string::npos;
    return runGameIn(
        assets, args, env,
        [&](unsigned long window, const std::string& output) {
            const bool resend = polls++ % 4 == 0;
            if (stage == Menu || stage == Playing) {
                focusWindow(window); // where the keys go
            }
            SongClockReading reading;
            const bool clockRuns = lastSongClock(output, reading);
            if (clockRuns) {
                clock(reading);
            }
            switch (stage) {
            case Menu:
                if (has(output, "Playback initiated for ") || autoplay) {
                    stage = Playing;
                } else if (has(output, "UI: ##start ") && polls % 8 == 1) {
                    sendKey(window, "space");
                }
                break;
            case Playing:
                if (has(output, "UI screen: results ")) {
                    stage = Ended;
                } else if (clockRuns && reading.song >= endAt && resend) {
                    clickTraced(window, output, "hud_exit");
                }
                break;
            case Ended: // Escape on the results leads to the menu, and there quits
            case Leaving:
                if (std::any_of(settled.begin(), settled.end(),
                                [&](const std::string& line) { return has(output, line); }) &&
                    resend) {
                    sendKey(window, "Escape");
                }
                break;
            }
        },
        120);
}

// The keyboard round: planned with the game's round code on the level as the server reads it,
// played through XTest at the song clock's pace, uploaded with its replay when left, and listed
// verified with the score the game logged. Then the bot's round under another name: the game
// keeps it to itself, and its replay is marked as the bot's (which the server refuses: the server
// tests send such replays).
TEST(GameEndToEnd, AKeyPlayedRoundIsVerifiedAndAnAutoplayRoundIsRefused) {
    const std::string assets = makeTempAssets("e2e_verified").string();
    struct Cleanup {
        std::string folder;
        ~Cleanup() { std::filesystem::remove_all(folder); }
    } cleanup{assets};
    TempDir data;
    servertest::ServerProcess server({"--database", data.file("board.db"), "--levels", assets + "/levels"});
    const std::string env =
        "SDL_AUDIO_DRIVER=dummy VIBRELLE_UI_TRACE=1 VIBRELLE_LEADERBOARD_URL=http://127.0.0.1:" +
        std::to_string(server.port()) + "/api";

    CheckedLevel level;
    std::string error;
    ASSERT_TRUE(readCheckedLevel(assets + "/levels", kLevel, level, error)) << error;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // From 2.5 s on: the first traced clock readings come a second or two into the song.
    KeyPlan plan;
    stdoutOf([&] { plan = planKeyRound(level.setup, 2.5, kRoundSeconds - 1.0, 0.004, 7, random); });
    ASSERT_GE(plan.answered, 10) << "too short a round to show anything";

    setPlayerName(assets, "Key Player");
    KeyPresser presser;
    std::thread pressing([&] { pressKeys(presser, plan.steps); });
    const GameRun played =
        playRound(assets, "--windowed --judge-stats", env, kRoundSeconds,
                  {"Server confirmed leaderboard upload\n", "Failed to upload leaderboard",
                   "Server rejected leaderboard upload"},
                  [&](const SongClockReading& reading) { feedSongClock(presser, reading); });
    stopPressing(presser);
    pressing.join();
    {
        SCOPED_TRACE("the keyboard round");
        EXPECT_EQ(played.exitCode, 0) << played.output;
        EXPECT_EQ(presser.error, "");
        EXPECT_GT(presser.sent, plan.answered) << played.output;
        const int score = loggedScore(played.output);
        ASSERT_GT(score, 0) << played.output;
        const Replay replay = savedReplay(played.output);
        EXPECT_EQ(replay.inputMode, ReplayInputMode::Keyboard);
        EXPECT_FALSE(replay.bot);
        EXPECT_EQ(replay.result.score, score);
        EXPECT_GT(replay.result.hits, 0u) << presser.late << " key steps sent over 20 ms late";
        EXPECT_GT(replay.result.misses, 0u) << "the notes let go are missed";
        EXPECT_FALSE(has(played.output, "skipped")) << played.output;
        const std::vector<json> entries = boardEntriesOf(server.port(), "Key Player");
        ASSERT_EQ(entries.size(), 1u) << server.output();
        EXPECT_EQ(entries[0].value("score", -1), score) << entries[0];
        EXPECT_EQ(entries[0].value("verified", json()), json(true)) << entries[0] << "\n" << server.output();
    }

    setPlayerName(assets, "Bot Player");
    const GameRun bot =
        playRound(assets, "--windowed --autoplay", env, kBotRoundSeconds,
                  {"Autoplay round ended; its result is not saved\n"}, [](const SongClockReading&) {});
    SCOPED_TRACE("the bot's round");
    EXPECT_EQ(bot.exitCode, 0) << bot.output;
    // The game sent nothing: the server saw the keyboard round's upload only (its log is short
    // enough to be read whole).
    EXPECT_EQ(count(server.output(), "POST /api/leaderboard "), 1u) << server.output();
    const Replay botReplay = savedReplay(bot.output);
    EXPECT_TRUE(botReplay.bot);
    EXPECT_TRUE(boardEntriesOf(server.port(), "Bot Player").empty());
    EXPECT_EQ(server.stop(), 0) << server.output();
}

} // namespace
