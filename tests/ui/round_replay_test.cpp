// A round played through the app ends with a replay in the player's data folder; vibrelle-replay
// runs it again to the same result (an edited replay does not check out), and watching it in the
// game counts the same score and saves nothing.
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "game/round_progress.hpp"
#include "leaderboard/round_save.hpp"
#include "replay/replay_file.hpp"

#include "capture.hpp"
#include "screen_fixture.hpp"

namespace {

// vibrelle-replay check on `file`, from this suite's copy of the game's data.
CommandRun checkReplay(const std::string& file) {
    return runShellCommand(std::string("'") + VIBRELLE_REPLAY_TOOL + "' check '" + file + "' --assets '" +
                           std::filesystem::current_path().string() + "' 2>/dev/null");
}

} // namespace

TEST_F(Screens, ARoundEndsWithAReplayThatTheCheckerReproduces) {
    app->render.width = 1280; // the drawable area circles are placed in
    app->render.height = 720;
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    // Each circle pressed 30 ms late by finger, for 12 s of song.
    std::int32_t score = 0;
    quietly([&] {
        playCircles(12.0, InputDevice::Finger, 0.03);
        score = app->game.score;
    });
    ASSERT_GT(score, 0);
    quietly([&] { endRound(*app); }, true);
    const std::string path = app->lastReplayPath;
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.find(std::filesystem::current_path().string() + "/data/"), 0u) << "in the player's folder";

    const CommandRun genuine = checkReplay(path);
    EXPECT_EQ(genuine.exitCode, 0) << genuine.output;
    EXPECT_EQ(genuine.output.rfind("Replay: score " + std::to_string(score) + ", combo ", 0), 0u)
        << genuine.output;

    // The same file with its score raised by one (and its checksum made to match again).
    Replay replay;
    std::string error;
    ASSERT_TRUE(readReplayFile(path, replay, error)) << error;
    replay.result.score += 1;
    const std::string edited = path + ".edited.vbr";
    ASSERT_TRUE(writeReplayFile(edited, replay, error)) << error;
    const CommandRun forged = checkReplay(edited);
    EXPECT_EQ(forged.exitCode, 1) << forged.output;
    EXPECT_NE(forged.output.find("Stored: score " + std::to_string(score + 1)), std::string::npos)
        << forged.output;

    EXPECT_EQ(checkReplay(path + ".missing").exitCode, 2);

    // Watched in the game: the recorded inputs run through the round again, to the same score,
    // and nothing is saved.
    const std::string board = readText(gLeaderboardClient.leaderboardPath);
    std::string notice;
    quietly([&] { ASSERT_TRUE(startWatching(*app, path, notice)) << notice; });
    EXPECT_TRUE(app->watch.active && app->game.playing);
    EXPECT_EQ(app->game.score, 0);
    quietly([&] {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        const double end = static_cast<double>(app->watch.replay.songEndUs) / 1e6;
        for (double t = 0.0; t <= end + 0.1; t += 1.0 / 30.0) {
            app->game.songTime = t;
            watchFrame(*app, t);
            advanceRound(app->game, t, LayerRequests{});
        }
    });
    EXPECT_EQ(app->game.score, score) << "the HUD counts as it did";
    quietly([&] { stopWatching(*app); }, true);
    EXPECT_FALSE(app->watch.active || app->game.playing);
    EXPECT_EQ(gUI.screen, UIScreen::Results);
    EXPECT_EQ(app->lastReplayPath, path);
    EXPECT_EQ(readText(gLeaderboardClient.leaderboardPath), board) << "watching saves nothing";

    // A level changed since the round does not play its replay.
    const std::string manifest = currentLevelFolder(*app) + "/level.json";
    const std::string original = readText(manifest);
    writeText(manifest, original + "\n");
    quietly([&] { EXPECT_FALSE(startWatching(*app, path, notice)); });
    writeText(manifest, original);
    EXPECT_EQ(notice, kReplayLevelChanged);
    EXPECT_FALSE(app->watch.active);
}

// Space's default level bears the title of a listed level but has a manifest of its own: its
// round's replay checks out, and still plays after the listed level of that name has been loaded.
TEST_F(Screens, TheDefaultLevelsReplayPlaysAfterTheListedLevelOfItsName) {
    quietly([&] {
        ASSERT_TRUE(loadDefaultLevel(*app));
        std::lock_guard<std::mutex> lock(app->gameMutex);
        startRunFromTop(*app);
        app->game.songTime = 2.0;
        advanceRound(app->game, 2.0, LayerRequests{});
    });
    quietly([&] { endRound(*app); }, true);
    const std::string path = app->lastReplayPath;
    ASSERT_FALSE(path.empty());
    quietly([&] { ASSERT_TRUE(loadLevelStopped(*app, app->game.levelName)); });
    ASSERT_TRUE(app->levels.packageLoaded);
    const CommandRun checked = checkReplay(path);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    std::string notice;
    quietly([&] { EXPECT_TRUE(startWatching(*app, path, notice)) << notice; });
    EXPECT_TRUE(app->watch.active);
    EXPECT_FALSE(app->levels.packageLoaded) << "the default level is back";
    quietly([&] { stopWatching(*app); }, true);
}
