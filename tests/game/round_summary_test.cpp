// The results screen's figures from a round's outcomes and layer timeline.
#include "game/round_summary.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace {

TEST(RoundSummary, FiguresOfAHandMadeRound) {
    GameState game;
    game.score = 1200, game.highestCombo = 9, game.highestLayer = 3;
    game.setup.stems.resize(5);
    game.progress.applied = 25.0;
    const CircleGrade grades[] = {CircleGrade::Perfect, CircleGrade::Perfect, CircleGrade::Great,
                                  CircleGrade::Good,    CircleGrade::Ok,      CircleGrade::Miss,
                                  CircleGrade::Miss};
    const float offsets[] = {10, -10, 30, -50, 100, 0, 0};
    for (int i = 0; i < 7; ++i) {
        game.outcomes.push_back(CircleOutcome{0.0, 0, 40, grades[i], offsets[i]});
    }
    // A change of no length at 5 s, one to the layers already unlocked, one past the time played.
    game.layerTimeline = {{0.0, 1}, {5.0, 2}, {5.0, 3}, {20.0, 2}, {22.0, 2}, {30.0, 4}};
    const RoundSummary s = summarizeRound(game);

    EXPECT_EQ(s.grades, (std::array<std::int32_t, kGradeCount>{2, 1, 1, 1, 2}));
    EXPECT_EQ(std::make_pair(s.decisions, s.presses), std::make_pair(7, 5));
    EXPECT_DOUBLE_EQ(s.accuracyPercent, (100 + 100 + 75 + 50 + 25) / 7.0);
    EXPECT_DOUBLE_EQ(s.meanOffsetMs, 16.0);
    EXPECT_NEAR(s.spreadMs, std::sqrt((100 + 100 + 900 + 2500 + 10000) / 5.0 - 256.0), 1e-9);
    EXPECT_EQ(s.histogram[static_cast<std::size_t>(hitErrorBin(10.0))], 1);
    EXPECT_EQ(std::accumulate(s.histogram.begin(), s.histogram.end(), 0), 5) << "misses are not presses";
    EXPECT_EQ(std::vector<std::int32_t>({s.score, s.highestCombo, s.highestLayer, s.stemCount}),
              std::vector<std::int32_t>({1200, 9, 3, 5}));
    EXPECT_DOUBLE_EQ(s.timePlayed, 25.0);
    const auto spans = [](const RoundSummary& summary) {
        std::vector<std::array<double, 3>> out;
        for (const LayerSpan& span : summary.layerSpans) {
            out.push_back({span.from, span.to, static_cast<double>(span.layers)});
        }
        return out;
    };
    EXPECT_EQ(spans(s), (std::vector<std::array<double, 3>>{{0, 5, 1}, {5, 20, 3}, {20, 25, 2}}));

    // The song restarted with Space: the spans are the last run's, as the time played is.
    game.layerTimeline = {{0.0, 1}, {40.0, 2}, {0.0, 1}, {8.0, 2}};
    game.progress.applied = 10.0;
    EXPECT_EQ(spans(summarizeRound(game)), (std::vector<std::array<double, 3>>{{0, 8, 1}, {8, 10, 2}}));
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
        EXPECT_EQ(std::make_pair(s.newBest, s.bestScore), std::make_pair(c.newBest, c.best))
            << c.score << " after " << c.previousBest;
    }
}

TEST(RoundSummary, HistogramBinsAtTheirEdges) {
    const struct {
        double offsetMs;
        int bin;
    } cases[] = {{-1000.0, 0}, {-400.0, 0},  {-397.5, 0},  {-395.0, 1},  {-0.1, 79}, {0.0, 80},     {2.5, 80},
                 {5.0, 81},    {399.9, 159}, {400.0, 159}, {400.1, 159}, {NAN, -1},  {INFINITY, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(hitErrorBin(c.offsetMs), c.bin) << c.offsetMs;
    }
}

TEST(RoundSummary, AnEmptyRoundHasAllFiguresZero) {
    GameState game;
    game.progress.applied = std::nan("");
    const RoundSummary s = summarizeRound(game); // no division by zero
    EXPECT_EQ(s.decisions + s.presses, 0);
    EXPECT_EQ(std::vector<double>({s.accuracyPercent, s.meanOffsetMs, s.spreadMs, s.timePlayed}),
              std::vector<double>(4, 0.0));
    EXPECT_EQ(s.histogram, decltype(s.histogram){});
    EXPECT_TRUE(s.layerSpans.empty());
}

} // namespace
