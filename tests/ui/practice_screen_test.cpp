// A practice round from the menu: slowed down, its speed stepped and its loop cleared on the pause
// overlay, and at its end the results say "Practice" with the speed; nothing is saved as a result.
#include "app/practice.hpp"
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "audio/audio_system.hpp"
#include "replay/replay_file.hpp"
#include "ui/results_screen.hpp"

#include "screen_fixture.hpp"

TEST_F(Screens, APracticeRoundIsSlowedSteppedOnThePauseOverlayAndNeverSaved) {
    LeaderboardKept kept;
    app->render.width = 1920;
    app->render.height = 1080;
    settle();
    quietly([&] { click("##practice"); }, true);
    ASSERT_TRUE(app->levels.startPractice);
    startPendingLevel();
    ASSERT_TRUE(app->game.progress.practice);
    EXPECT_EQ(app->game.progress.speedPercent, kDefaultPracticeSpeedPercent);
    EXPECT_DOUBLE_EQ(app->audio.playbackSpeed, 0.75);
    quietly([&] { playCircles(4.0, InputDevice::Finger); });
    app->practice.loop = PracticeLoop{true, false, 2.0, 0.0};

    quietly([&] { pauseRound(*app); });
    settle();
    EXPECT_EQ(traced.count("pause_speed"), 1u);
    quietly([&] { click("##speed_down"); }, true);
    EXPECT_EQ(app->game.progress.speedPercent, 70);
    EXPECT_DOUBLE_EQ(app->audio.playbackSpeed, 0.7);
    quietly([&] { click("##clear_loop"); }, true);
    EXPECT_FALSE(app->practice.loop.hasStart);

    const bool boardExisted = std::filesystem::exists(gLeaderboardClient.leaderboardPath);
    const std::string board = boardExisted ? readText(gLeaderboardClient.leaderboardPath) : std::string();
    quietly([&] { click("##quit"); }, true);
    EXPECT_EQ(gUI.screen, UIScreen::Results);
    EXPECT_EQ(resultsTexts(app->lastResults, false).best, "Practice at 70 %: not saved");
    ASSERT_EQ(std::filesystem::exists(gLeaderboardClient.leaderboardPath), boardExisted);
    EXPECT_EQ(boardExisted ? readText(gLeaderboardClient.leaderboardPath) : std::string(), board)
        << "no result saved";
    EXPECT_DOUBLE_EQ(app->audio.playbackSpeed, 1.0);
    Replay replay;
    std::string error;
    ASSERT_TRUE(readReplayFile(app->lastReplayPath, replay, error)) << error;
    EXPECT_EQ(replay.practiceSpeedPercent, 75) << "the replay is kept, as a practice round";
}
