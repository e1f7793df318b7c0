// The results screen: its texts, and the screen after a round, driven headless.
#include "app/round.hpp"
#include "ui/results_screen.hpp"

#include "screen_fixture.hpp"

#include <mutex>

namespace {

TEST(ResultsTexts, SpellTheFiguresOut) {
    const struct {
        std::int32_t presses;
        double meanMs, spreadMs, seconds;
        const char *mean, *spread, *time;
    } cases[] = {
        {3, 12.34, 8.0, 187.9, "Mean: 12.3 ms late", "Spread: 8.0 ms", "Time played: 03:07"},
        {3, -4.0, 0.0, 59.99, "Mean: 4.0 ms early", "Spread: 0.0 ms", "Time played: 00:59"},
        {1, -0.04, 0.0, 3600.0, "Mean: on time", "Spread: 0.0 ms", "Time played: 60:00"},
        {0, 0.0, 0.0, 0.0, "Mean: no presses", "Spread: -", "Time played: 00:00"},
    };
    for (const auto& c : cases) {
        RoundSummary summary;
        summary.presses = c.presses;
        summary.meanOffsetMs = c.meanMs;
        summary.spreadMs = c.spreadMs;
        summary.timePlayed = c.seconds;
        const ResultsTexts texts = resultsTexts(summary, false);
        EXPECT_EQ(texts.mean, c.mean);
        EXPECT_EQ(texts.spread, c.spread);
        EXPECT_EQ(texts.time, c.time);
    }
    RoundSummary best;
    best.score = 900;
    best.bestScore = 900;
    best.newBest = true;
    best.highestLayer = 3;
    best.stemCount = 5;
    EXPECT_TRUE(resultsTexts(best, false).newBest);
    EXPECT_EQ(resultsTexts(best, false).best, "Best: 900");
    EXPECT_EQ(resultsTexts(best, false).layer, "Highest layer: 3/5");
    // The bot's rounds are not saved: no best of the player's to speak of.
    EXPECT_FALSE(resultsTexts(best, true).newBest);
    EXPECT_EQ(resultsTexts(best, true).best, "Autoplay: not saved");
}

TEST_F(Screens, TheResultsFollowTheRoundAndLeadToARetryOrTheMenu) {
    settle();
    click("level_row_1");
    click("##start");
    quietly([&] { runPendingLevelStart(*app); });
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
    for (const char* id : {"results_panel", "results_score", "results_new_best", "results_best",
                           "results_grades", "results_accuracy", "results_mean", "results_histogram",
                           "results_timeline", "##retry", "##replay", "##menu"}) {
        EXPECT_EQ(traced.count(id), 1u) << id;
    }
    const ResultsTexts texts = resultsTexts(app->lastResults, false);
    EXPECT_EQ(texts.score, "900");
    EXPECT_TRUE(texts.newBest) << "no best came from the leaderboard: any score above 0 is one";
    EXPECT_EQ(texts.gradeCounts[0], "2");
    EXPECT_EQ(texts.accuracy, "Accuracy: 62.5 %"); // (100 + 100 + 50 + 0) / 4
    EXPECT_EQ(texts.mean, "Mean: 5.0 ms late");

    click("##replay");
    EXPECT_EQ(gUI.screen, UIScreen::Results) << "no replay to watch: the button is disabled";
    // And it looks it: its label fades with its image (white at the disabled alpha).
    const ImU32 faded =
        IM_COL32(255, 255, 255, static_cast<int>(ImGui::GetStyle().DisabledAlpha * 255.0f + 0.5f));
    bool fadedLabel = false;
    for (const ImDrawList* list : ImGui::GetDrawData()->CmdLists) {
        for (const ImDrawVert& vertex : list->VtxBuffer) {
            fadedLabel = fadedLabel || vertex.col == faded;
        }
    }
    EXPECT_TRUE(fadedLabel);
    click("##retry");
    EXPECT_EQ(app->levels.pendingStart, 1) << "the same level starts again";
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
    EXPECT_TRUE(drawnLastFrame("##Loading"));

    app->levels.pendingStart = -1;
    goToScreen(*app, UIScreen::Results);
    settle();
    click("##menu");
    EXPECT_EQ(gUI.screen, UIScreen::MainMenu);
    frame();
    EXPECT_TRUE(drawnLastFrame("##MainMenu"));
}

} // namespace
