// The pause overlay: its buttons, the countdown after Resume, and Quit to the results.
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "ui/pause_overlay.hpp"

#include "screen_fixture.hpp"

TEST(PauseOverlay, TheCountdownShowsThreeTwoOne) {
    const std::pair<float, int> cases[] = {{3.0f, 3}, {2.01f, 3}, {2.0f, 2}, {1.5f, 2}, {0.2f, 1}, {0.0f, 1}};
    for (const auto& [left, figure] : cases) {
        EXPECT_EQ(countdownFigure(left), figure) << left;
    }
}

TEST_F(Screens, ThePauseOverlayResumesWithACountdownAndQuitsToTheResults) {
    app->render.width = 1920;
    app->render.height = 1080;
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    quietly([&] { pauseRound(*app); });
    settle();
    EXPECT_TRUE(drawnLastFrame("##PausePanel"));
    EXPECT_EQ(traced.count("pause_panel"), 1u);
    quietly([&] { click("##resume"); }, true);
    EXPECT_TRUE(app->pause.countingDown);
    settle();
    EXPECT_TRUE(drawnLastFrame("##PauseCountdown"));
    EXPECT_FALSE(drawnLastFrame("##PausePanel"));

    app->pause = PauseState{};
    quietly([&] { pauseRound(*app); });
    settle();
    quietly([&] { click("##quit"); }, true);
    EXPECT_FALSE(app->game.playing);
    EXPECT_FALSE(app->pause.paused);
    EXPECT_EQ(gUI.screen, UIScreen::Results);
}
