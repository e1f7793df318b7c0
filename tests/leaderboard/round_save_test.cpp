#include "game/game_state.hpp"
#include "leaderboard/round_save.hpp"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(RoundSave, TheResultCarriesTheRoundsScoreAndStorableNames) {
    GameState game;
    initGameState(game, 8);
    game.levelName = "Caf\xE9"; // Latin-1, not UTF-8
    game.score = 1234;
    game.highScore = 5000; // a best known from elsewhere is not this round's result
    game.songTime = 61.7;
    game.highestLayer = 3;
    game.highestCombo = 14;
    const RoundResult result = roundResultOf(game);
    EXPECT_EQ(result.level, "Caf\xEF\xBF\xBD");
    EXPECT_EQ(result.player, "Player");
    EXPECT_EQ(result.score, 1234);
    EXPECT_EQ(result.time, 61);
    EXPECT_EQ(result.highestLayer, 3);
    EXPECT_EQ(result.totalLayers, 8);
    EXPECT_EQ(result.highestCombo, 14);

    // Saved twice under that name: one entry, found again.
    const std::string path = ::testing::TempDir() + "round_save_leaderboard.json";
    std::remove(path.c_str());
    nlohmann::json saved;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(saveRoundResultTo(path, result, saved));
    ASSERT_TRUE(saveRoundResultTo(path, result, saved));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(saved["levels"].size(), 1u);
    EXPECT_EQ(findPlayerScore(saved, result.level, "Player"), 1234);
    std::remove(path.c_str());
}

} // namespace
