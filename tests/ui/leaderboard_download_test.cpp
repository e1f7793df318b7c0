// Replays from elsewhere: another player's verified leaderboard row, whose Watch button downloads
// the replay from the server and plays it, and a replay file dropped on the window.
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/replay_download.hpp"
#include "ui/leaderboard_screen.hpp"

#include "capture.hpp"
#include "net/net_test_support.hpp"
#include "replay/replay_test_support.hpp"
#include "screen_fixture.hpp"

class ReplaysFromElsewhere : public Screens {
protected:
    // A round of the first listed level played here for 4 s; its replay's path.
    std::string playedReplay() {
        app->render.width = 1280;
        app->render.height = 720;
        app->game.playerName = "Watcher";
        quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
        quietly([&] { playCircles(4.0, InputDevice::Mouse); });
        quietly([&] { endRound(*app); }, true);
        return app->lastReplayPath;
    }
    // Frames until the request threads are done, then one more to take what they handed over.
    void afterRequests() {
        EXPECT_TRUE(httpDatabaseWait(20.0));
        settle();
    }
    const LeaderboardKept kept;
    const LeaderboardClientConfig savedConfig = gLeaderboardClient;
    ~ReplaysFromElsewhere() override { gLeaderboardClient = savedConfig; }
};

TEST_F(ReplaysFromElsewhere, AVerifiedRowsReplayIsDownloadedAndWatched) {
    const std::string level = app->levels.list.at(0).name;
    const std::string bytes = readText(playedReplay());
    ASSERT_FALSE(bytes.empty());

    std::atomic<int> status{200};
    std::atomic<bool> released{false};
    nettest::TestServer server;
    server.on("GET", "/api/replay", [&](const httplib::Request&, httplib::Response& res) {
        nettest::holdUntil(released);
        res.status = status;
        res.set_content(status == 200 ? bytes
                                      : R"({"success": false, "error": "no verified replay for that entry"})",
                        "application/octet-stream");
    });
    server.start();
    gLeaderboardClient.serverBaseUrl = server.url("/api");

    quietly([&] { goToScreen(*app, UIScreen::Leaderboard); }, true);
    EXPECT_TRUE(httpDatabaseWait(15.0)); // the board fetch (refused) before the board below
    const nlohmann::json board = nlohmann::json::parse(R"([{"player": "Other", "score": 10, "verified": true},
        {"player": "WATCHER", "score": 9, "verified": true}, {"player": "Plain", "score": 99}])");
    receiveLeaderboard({{"levels", {{{"name", level}, {"scores", board}}}}});
    settle();
    ASSERT_EQ(traced.count("##watch_1"), 1u) << "another player's verified row";
    EXPECT_EQ(traced.count("##watch_2"), 0u) << "the player's own name, spelt otherwise";
    EXPECT_EQ(traced.count("##watch_3"), 0u) << "an unverified row";

    // Hovering the verified row explains its mark.
    const Rect row = traced["##watch_1"];
    quietly([&] { frame(row.x + row.w / 2, row.y + row.h / 2), frame(row.x + row.w / 2, row.y + row.h / 2); },
            true);
    EXPECT_TRUE(drawnLastFrame("##Tooltip_00"));

    // While the replay comes, a second click asks for nothing more.
    quietly([&] { click("##watch_1"), click("##watch_1"); }, true);
    EXPECT_FALSE(app->watch.active);
    released = true;
    afterRequests();
    EXPECT_EQ(server.seen().size(), 1u);
    EXPECT_TRUE(app->watch.active && app->game.playing);
    EXPECT_EQ(app->game.levelName, level);
    quietly([&] { stopWatching(*app); }, true);
    EXPECT_EQ(gUI.screen, UIScreen::Leaderboard);
    EXPECT_TRUE(std::filesystem::exists(downloadedReplayFolder(playerDataFolder(*app)) + "/" +
                                        downloadedReplayFileName(level, "Other")));

    // A refusal says the server's reason above the table.
    status = 404;
    settle();
    quietly([&] { click("##watch_1"); }, true);
    afterRequests();
    EXPECT_FALSE(app->watch.active);
    EXPECT_EQ(leaderboardScreenNotice(), "no verified replay for that entry");
    EXPECT_EQ(traced.count("leaderboard_notice"), 1u);
}

TEST_F(ReplaysFromElsewhere, AReplayDroppedOnTheMenuIsWatched) {
    const std::string replay = playedReplay();
    quietly([&] { goToScreen(*app, UIScreen::Settings); }, true);
    quietly([&] { EXPECT_FALSE(watchDroppedReplay(*app, replay)); });
    EXPECT_FALSE(app->watch.active);
    EXPECT_EQ(app->watchNotice, "");

    quietly([&] { goToScreen(*app, UIScreen::MainMenu); }, true);
    Replay elsewhere = sampleReplay();
    elsewhere.levelName = "No Such Level";
    std::string bytes, error;
    ASSERT_TRUE(encodeReplay(elsewhere, bytes, error)) << error;
    const std::string unknown = (std::filesystem::path(assets) / "elsewhere.vbr").string();
    const std::string notReplay = (std::filesystem::path(assets) / "picture.vbr").string();
    writeText(unknown, bytes);
    writeText(notReplay, "\x89PNG");
    const std::pair<std::string, std::string> refused[] = {
        {notReplay, kReplayUnreadable},
        {unknown, std::string(kReplayLevelMissing) + ": No Such Level"},
        {assets.string(), kReplayUnreadable}, // a folder
    };
    for (const auto& [path, notice] : refused) {
        quietly([&] { EXPECT_FALSE(watchDroppedReplay(*app, path)); });
        EXPECT_EQ(app->watchNotice, notice);
        settle();
        EXPECT_EQ(traced.count("menu_notice"), 1u) << "shown on the menu";
    }

    quietly([&] { EXPECT_TRUE(watchDroppedReplay(*app, replay)); }, true);
    EXPECT_TRUE(app->watch.active);
    EXPECT_EQ(app->watchNotice, "");
    quietly([&] { stopWatching(*app); }, true);
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
}

TEST(ReplayDrop, OnlyTheMenuAndTheLeaderboardTakeAReplayWhileNothingPlays) {
    for (int screen = 0; screen <= static_cast<int>(UIScreen::MainMenu); ++screen) {
        const UIScreen shown = static_cast<UIScreen>(screen);
        const bool open = shown == UIScreen::MainMenu || shown == UIScreen::Leaderboard;
        EXPECT_EQ(dropWatchable(shown, true, false, false), open) << screen;
        EXPECT_FALSE(dropWatchable(shown, false, false, false)) << "the interface hidden";
        EXPECT_FALSE(dropWatchable(shown, true, true, false)) << "a round in play";
        EXPECT_FALSE(dropWatchable(shown, true, false, true)) << "a replay watched";
    }
}
