// The results screen's figures from a round's outcomes and layer timeline.
#include "game/round_summary.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

CircleOutcome graded(CircleGrade grade, float offsetMs) { return CircleOutcome{0.0, 0, 40, grade, offsetMs}; }

TEST(RoundSummary, FiguresOfAHandMadeRound) {
    GameState game;
    game.score = 1200;
    game.highestCombo = 9;
    game.highestLayer = 3;
    game.setup.stems.resize(5);
    game.progress.applied = 25.0;
    game.outcomes = {graded(CircleGrade::Perfect, 10.0f), graded(CircleGrade::Perfect, -10.0f),
                     graded(CircleGrade::Great, 30.0f),   graded(CircleGrade::Good, -50.0f),
                     graded(CircleGrade::Ok, 100.0f),     graded(CircleGrade::Miss, 0.0f),
                     graded(CircleGrade::Miss, 0.0f)};
    // A change of no length at 5 s, one past the time played, and one back to the layers before.
    game.layerTimeline = {{0.0, 1}, {5.0, 2}, {5.0, 3}, {20.0, 2}, {22.0, 2}, {30.0, 4}};
    const RoundSummary s = summarizeRound(game);

    EXPECT_EQ(s.score, 1200);
    EXPECT_EQ(s.highestCombo, 9);
    EXPECT_EQ(s.grades, (std::array<std::int32_t, kGradeCount>{2, 1, 1, 1, 2}));
    EXPECT_EQ(s.decisions, 7);
    EXPECT_EQ(s.presses, 5);
    EXPECT_DOUBLE_EQ(s.accuracyPercent, (100 + 100 + 75 + 50 + 25) / 7.0);
    EXPECT_DOUBLE_EQ(s.meanOffsetMs, 16.0);
    // Squares 100 + 100 + 900 + 2500 + 10000 over 5, less the mean's square.
    EXPECT_NEAR(s.spreadMs, std::sqrt(13600.0 / 5.0 - 256.0), 1e-9);
    EXPECT_EQ(s.histogram[static_cast<std::size_t>(hitErrorBin(10.0))], 1);
    int binned = 0;
    for (std::int32_t count : s.histogram) {
        binned += count;
    }
    EXPECT_EQ(binned, 5) << "misses are not presses";
    EXPECT_DOUBLE_EQ(s.timePlayed, 25.0);
    EXPECT_EQ(s.highestLayer, 3);
    EXPECT_EQ(s.stemCount, 5);
    ASSERT_EQ(s.layerSpans.size(), 3u);
    const LayerSpan expected[] = {{0.0, 5.0, 1}, {5.0, 20.0, 3}, {20.0, 25.0, 2}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(s.layerSpans[i].from, expected[i].from) << i;
        EXPECT_DOUBLE_EQ(s.layerSpans[i].to, expected[i].to) << i;
        EXPECT_EQ(s.layerSpans[i].layers, expected[i].layers) << i;
    }

    // The song restarted with Space: the spans are the last run's, as the time played is.
    game.layerTimeline = {{0.0, 1}, {40.0, 2}, {0.0, 1}, {8.0, 2}};
    game.progress.applied = 10.0;
    const RoundSummary again = summarizeRound(game);
    ASSERT_EQ(again.layerSpans.size(), 2u);
    EXPECT_DOUBLE_EQ(again.layerSpans[0].to, 8.0);
    EXPECT_DOUBLE_EQ(again.layerSpans[1].to, 10.0);
}

TEST(RoundSummary, ANewBestIsAScoreAboveTheKnownBestOrAboveZeroWithoutOne) {
    const struct {
        std::int32_t score, previousBest;
        bool newBest;
        std::int32_t best;
    } cases[] = {{100, 50, true, 100}, {50, 100, false, 100}, {100, 100, false, 100},
                 {10, -1, true, 10},   {0, -1, false, 0},     {0, 0, false, 0}};
    for (const auto& c : cases) {
        GameState game;
        game.score = c.score;
        game.previousBest = c.previousBest;
        const RoundSummary s = summarizeRound(game);
        EXPECT_EQ(s.newBest, c.newBest) << c.score << " after " << c.previousBest;
        EXPECT_EQ(s.bestScore, c.best) << c.score << " after " << c.previousBest;
        EXPECT_EQ(s.previousBestKnown, c.previousBest >= 0);
    }
}

TEST(RoundSummary, HistogramBinsAtTheirEdges) {
    const struct {
        double offsetMs;
        int bin;
    } cases[] = {{-1000.0, 0}, {-400.0, 0}, {-397.5, 0}, {-395.0, 1},   {-0.1, 79},
                 {0.0, 80},    {2.5, 80},   {5.0, 81},   {399.9, 159},  {400.0, 159},
                 {400.1, 159}, {1e9, 159},  {NAN, -1},   {INFINITY, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(hitErrorBin(c.offsetMs), c.bin) << c.offsetMs;
    }
    EXPECT_EQ(kHitBins, 160);
}

TEST(RoundSummary, AnEmptyRoundHasAllFiguresZero) {
    GameState game;
    game.progress.applied = std::nan("");
    const RoundSummary s = summarizeRound(game);
    EXPECT_EQ(s.decisions, 0);
    EXPECT_EQ(s.presses, 0);
    EXPECT_EQ(s.accuracyPercent, 0.0);
    EXPECT_EQ(s.meanOffsetMs, 0.0);
    EXPECT_EQ(s.spreadMs, 0.0);
    EXPECT_EQ(s.timePlayed, 0.0);
    EXPECT_FALSE(s.newBest);
    EXPECT_TRUE(s.layerSpans.empty());
    for (std::int32_t count : s.histogram) {
        EXPECT_EQ(count, 0);
    }
    // The sample for pictures is a round like any other: its figures add up.
    const RoundSummary sample = sampleRoundSummary();
    EXPECT_GT(sample.presses, 0);
    EXPECT_EQ(sample.decisions, sample.presses + sample.grades[static_cast<int>(CircleGrade::Miss)]);
    EXPECT_DOUBLE_EQ(sample.layerSpans.back().to, sample.timePlayed);
}

} // namespace
