#include "game/game_state.hpp"
#include "leaderboard/round_save.hpp"

#include "leaderboard/leaderboard_test_support.hpp"

#include <tuple>

namespace {

// The round's own score (not a best known from elsewhere), and names as the file will hold them,
// so that a second save finds the entry the first one wrote.
TEST(RoundSave, TheResultCarriesTheRoundsScoreAndStorableNames) {
    GameState game;
    initGameState(game, 8);
    game.levelName = "Caf\xE9"; // Latin-1, not UTF-8
    game.score = 1234;
    game.highScore = 5000;
    game.songTime = 61.7;
    game.highestLayer = 3;
    game.highestCombo = 14;
    const RoundResult result = roundResultOf(game);
    EXPECT_EQ(std::tie(result.level, result.player, result.score, result.time, result.highestLayer,
                       result.totalLayers, result.highestCombo),
              std::make_tuple("Caf\xEF\xBF\xBD", "Player", 1234, 61, 3, 8, 14));

    TempDir folder;
    nlohmann::json saved;
    ASSERT_TRUE(quietly([&] { return saveRoundResultTo(folder.file("leaderboard.json"), result, saved); }));
    ASSERT_TRUE(quietly([&] { return saveRoundResultTo(folder.file("leaderboard.json"), result, saved); }));
    EXPECT_EQ(saved["levels"].size(), 1u);
    EXPECT_EQ(findPlayerScore(saved, result.level, "Player"), 1234);
}

} // namespace
