// A round's level as the game loads it: its layers counted from its own stems.
#include "app/round.hpp"
#include "game/game_rules.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/round_save.hpp"

#include "screen_fixture.hpp"

#include <filesystem>
#include <fstream>

namespace {

TEST(LevelLayers, OnePerStemUpToTheRulesLimit) {
    for (const std::size_t stems : {0u, 1u, 5u, 8u, 12u}) {
        AudioSystem audio;
        audio.stems.resize(stems);
        EXPECT_EQ(levelLayerCount(audio), std::min<std::int32_t>(std::int32_t(stems), kMaxLayers)) << stems;
    }
    GameState empty;
    empty.totalLayers = 0;
    EXPECT_EQ(roundResultOf(empty).highestLayer, 0) << "no stems: no layer reached";
}

// The default level, a menu level and the level the tutorial hands back each count their own
// stems, and a fully unlocked 5-stem round is stored as 5/5.
TEST_F(Screens, EachLoadedLevelCountsItsOwnLayers) {
    ASSERT_TRUE(quietly([&] { EXPECT_TRUE(loadDefaultLevel(*app)); }).empty());
    EXPECT_EQ(app->game.totalLayers, static_cast<std::int32_t>(app->audio.stems.size()));
    EXPECT_EQ(app->game.totalLayers, 7);
    EXPECT_FALSE(app->game.levelName.empty());

    ASSERT_EQ(app->levels.list[0].file, "sunrise_groove");
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    ASSERT_EQ(app->audio.stems.size(), 5u);
    EXPECT_EQ(app->game.totalLayers, 5);

    app->game.playing = false;
    goToScreen(*app, UIScreen::Tutorial, 3);
    settle();
    EXPECT_EQ(app->game.totalLayers, 3) << "the tutorial song's own";
    goToScreen(*app, UIScreen::MainMenu);
    settle();
    EXPECT_EQ(app->game.totalLayers, 5) << "the menu level back";

    app->game.playing = true;
    app->game.score = 10;
    app->game.highestLayer = 5;
    quietly([&] { endRound(*app); });
    nlohmann::json saved;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(kLeaderboardPath, saved, error), LeaderboardRead::Ok);
    bool found = false;
    for (const auto& level : saved["levels"]) {
        if (level["name"] == app->levels.list[0].name) {
            found = true;
            EXPECT_EQ(level["scores"][0]["highestLayer"], std::string("5/5"));
        }
    }
    EXPECT_TRUE(found);
}

} // namespace
