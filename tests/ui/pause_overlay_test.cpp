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

// The overlay and its countdown are traced where they are drawn once their layout has settled
// (centred, the buttons inside the panel), and again each time they show.
TEST_F(Screens, ThePauseOverlayIsTracedWhereItIsDrawnEachTimeItShows) {
    app->render.width = 1920;
    app->render.height = 1080;
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    settle(); // the round's screen has been traced before the first pause
    const auto holdsCentre = [](const Rect& r) {
        return r.w > 0 && r.h > 0 && r.x < 960 && 960 < r.x + r.w && r.y < 540 && 540 < r.y + r.h;
    };
    for (int pause = 1; pause <= 2; ++pause) {
        SCOPED_TRACE(pause);
        traced.clear();
        quietly([&] { pauseRound(*app); });
        settle();
        const Rect panel = traced["pause_panel"];
        EXPECT_TRUE(holdsCentre(panel));
        for (const char* id : {"##resume", "##restart", "##quit"}) {
            ASSERT_EQ(traced.count(id), 1u) << id;
            const Rect r = traced[id];
            EXPECT_TRUE(r.x >= panel.x && r.y >= panel.y && r.x + r.w <= panel.x + panel.w &&
                        r.y + r.h <= panel.y + panel.h)
                << id << " outside the panel";
        }
        quietly([&] { click("##resume"); }, true);
        settle();
        EXPECT_TRUE(holdsCentre(traced["pause_countdown"]));
        quietly([&] { pauseFrame(*app, kResumeCountdownSeconds); });
        settle();
        ASSERT_FALSE(app->pause.paused);
    }
}
