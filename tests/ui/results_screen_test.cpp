// The results screen: its texts, and the screen after a round, driven headless.
#include "app/round.hpp"
#include "ui/results_screen.hpp"

#include "screen_fixture.hpp"

#include <algorithm>
#include <mutex>

namespace {

TEST(ResultsTexts, SpellTheFiguresOut) {
    const struct {
        std::int32_t presses;
        double meanMs, seconds;
        bool autoplay;
        const char *mean, *time, *best;
    } cases[] = {
        {3, 12.34, 187.9, false, "Mean: 12.3 ms late", "Time played: 03:07", "Best: 900"},
        {3, -4.0, 59.99, false, "Mean: 4.0 ms early", "Time played: 00:59", "Best: 900"},
        {1, -0.04, 3600.0, false, "Mean: on time", "Time played: 60:00", "Best: 900"},
        {0, 0.0, 0.0, true, "Mean: no presses", "Time played: 00:00", "Autoplay: not saved"},
    };
    for (const auto& c : cases) {
        RoundSummary summary;
        summary.presses = c.presses;
        summary.meanOffsetMs = c.meanMs;
        summary.timePlayed = c.seconds;
        summary.bestScore = 900;
        summary.newBest = true;
        const ResultsTexts texts = resultsTexts(summary, c.autoplay);
        EXPECT_EQ(std::vector<std::string>({texts.mean, texts.time, texts.best}),
                  std::vector<std::string>({c.mean, c.time, c.best}));
        EXPECT_EQ(texts.newBest, !c.autoplay) << "the bot's rounds are not saved: no best of the player's";
    }
}

TEST_F(Screens, TheResultsFollowTheRoundAndLeadToARetryOrTheMenu) {
    settle();
    click("level_row_1");
    click("##start");
    startPendingLevel();
    ASSERT_TRUE(app->game.playing);
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        app->game.score = 900;
        app->game.outcomes = {{1.0, 0, 40, CircleGrade::Perfect, 4.0f},
                              {2.0, 0, 40, CircleGrade::Perfect, 8.0f},
                              {3.0, 0, 40, CircleGrade::Good, 3.0f},
                              {4.0, 0, 40, CircleGrade::Miss, 0.0f}};
    }
    settle();
    quietly([&] { click("hud_exit"); }, true);
    EXPECT_EQ(gUI.screen, UIScreen::Results);
    settle();
    EXPECT_TRUE(drawnLastFrame("##ResultsPanel"));
    for (const char* id : {"results_score", "results_new_best", "results_grades", "results_histogram",
                           "results_timeline", "##retry", "##replay", "##menu"}) {
        EXPECT_EQ(traced.count(id), 1u) << id;
    }
    // What the screen was given: this round. No best came from the leaderboard: 900 is a new one.
    const ResultsTexts texts = resultsTexts(app->lastResults, false);
    EXPECT_TRUE(texts.newBest);
    EXPECT_EQ(std::vector<std::string>({texts.score, texts.gradeCounts[0], texts.accuracy, texts.mean}),
              std::vector<std::string>({"900", "2", "Accuracy: 62.5 %", "Mean: 5.0 ms late"}));

    EXPECT_FALSE(app->lastReplayPath.empty()) << "the round left a replay";
    app->lastReplayPath.clear(); // as when it could not be saved
    settle();
    click("##replay");
    EXPECT_FALSE(app->watch.active) << "no replay to watch: the button is disabled";
    // And it looks it: its label fades with its image (white at the disabled alpha).
    const ImU32 faded =
        IM_COL32(255, 255, 255, static_cast<int>(ImGui::GetStyle().DisabledAlpha * 255.0f + 0.5f));
    const ImDrawList* labels = ImGui::GetDrawData()->CmdLists.back(); // the foreground list
    EXPECT_TRUE(std::any_of(labels->VtxBuffer.begin(), labels->VtxBuffer.end(),
                            [&](const ImDrawVert& vertex) { return vertex.col == faded; }));
    click("##retry");
    EXPECT_EQ(app->levels.pendingStart, 1) << "the same level starts again";
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
    EXPECT_FALSE(drawnLastFrame("##Loading"));
    app->levels.startSlow = true; // a start that took longer than a frame
    frame();
    EXPECT_TRUE(drawnLastFrame("##Loading"));

    app->levels.pendingStart = -1;
    app->levels.startSlow = false;
    goToScreen(*app, UIScreen::Results);
    settle();
    click("##menu");
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
}

} // namespace
