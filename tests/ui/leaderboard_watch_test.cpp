// The player's own leaderboard row whose round is kept as a replay has a Watch button: it plays
// that replay on its level (loaded first when another is) and comes back to the leaderboard.
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "game/round_progress.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "ui/leaderboard_screen.hpp"

#include "capture.hpp"
#include "screen_fixture.hpp"

TEST_F(Screens, TheLeaderboardWatchesThePlayersOwnReplay) {
    const LeaderboardKept kept;
    app->render.width = 1280;
    app->render.height = 720;
    app->game.playerName = "Watcher";
    const std::string level = app->levels.list.at(0).name;
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    // Each circle pressed on time with the mouse for 6 s of song.
    quietly([&] { playCircles(6.0, InputDevice::Mouse); });
    quietly([&] { endRound(*app); }, true);
    const std::string replay = app->lastReplayPath;
    ASSERT_FALSE(replay.empty());
    quietly([&] { ASSERT_TRUE(loadLevelStopped(*app, app->levels.list.at(1).name)); });

    // The board as the fetch shows it: another player with the very same result ranks first.
    nlohmann::json saved;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(gLeaderboardClient.leaderboardPath, saved, error), LeaderboardRead::Ok)
        << error;
    nlohmann::json own;
    for (const nlohmann::json& entry : saved["levels"]) {
        if (entry["name"] == level) {
            for (const nlohmann::json& score : entry["scores"]) {
                own = score["player"] == "Watcher" ? score : own;
            }
        }
    }
    ASSERT_TRUE(own.is_object()) << saved.dump();
    ASSERT_GT(own["score"].get<int>(), 0);
    nlohmann::json other = own;
    other["player"] = "Other";
    quietly([&] { goToScreen(*app, UIScreen::Leaderboard); }, true);
    EXPECT_TRUE(httpDatabaseWait(15.0)); // the fetch from a closed port, before the board below
    receiveLeaderboard({{"levels", {{{"name", level}, {"scores", {other, own}}}}}});
    settle();
    EXPECT_EQ(traced.count("##watch_1"), 0u) << "another player's row";
    ASSERT_EQ(traced.count("##watch_2"), 1u) << "the player's own row";

    quietly([&] { click("##watch_2"); }, true);
    EXPECT_TRUE(app->watch.active && app->game.playing);
    EXPECT_EQ(app->game.levelName, level) << "the replay's level was loaded";
    EXPECT_EQ(app->watchNotice, "");
    quietly([&] { stopWatching(*app); }, true);
    EXPECT_FALSE(app->watch.active || app->game.playing);
    EXPECT_EQ(gUI.screen, UIScreen::Leaderboard) << "back where watching started";

    // A replay gone since the board was drawn: the screen says so, and the notice does not
    // outlive the screen.
    std::filesystem::remove(replay);
    settle();
    quietly([&] { click("##watch_2"); }, true);
    EXPECT_FALSE(app->watch.active);
    EXPECT_EQ(app->watchNotice, kReplayUnreadable);
    quietly([&] { click("##back"); }, true);
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
    EXPECT_EQ(app->watchNotice, "");
}
