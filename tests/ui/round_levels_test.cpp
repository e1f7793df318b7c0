// A round's level as the game loads it: its layers counted from its own stems, and the level the
// tutorial's song was to replace coming back when that song cannot be loaded.
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
    ASSERT_EQ(readLeaderboardFile(gLeaderboardClient.leaderboardPath, saved, error), LeaderboardRead::Ok);
    bool found = false;
    for (const auto& level : saved["levels"]) {
        if (level["name"] == app->levels.list[0].name) {
            found = true;
            EXPECT_EQ(level["scores"][0]["highestLayer"], std::string("5/5"));
        }
    }
    EXPECT_TRUE(found);
}

// The suite's assets with a tutorial song whose manifest does not parse.
class BrokenTutorialSong : public Screens {
protected:
    void SetUp() override {
        Screens::SetUp();
        std::filesystem::remove("levels/tutorialsong"); // a link to the shipped song
        std::filesystem::create_directory("levels/tutorialsong");
        std::ofstream("levels/tutorialsong/level.json") << "{ not json";
    }
    void TearDown() override {
        goToScreen(*app, UIScreen::MainMenu);
        settle();
        std::filesystem::remove_all("levels/tutorialsong");
        std::filesystem::create_directory_symlink(
            std::filesystem::path(VIBRELLE_ASSETS) / "levels/tutorialsong", "levels/tutorialsong");
        Screens::TearDown();
    }
};

// The menu level is stopped for a song that then fails: leaving the tutorial loads it again, and
// Space plays it under its own name.
TEST_F(BrokenTutorialSong, LeavingTheTutorialBringsTheLevelItWasToReplaceBack) {
    quietly([&] { ASSERT_TRUE(startLevel(*app, 0)); });
    const std::string level = app->levels.list[0].name;
    app->game.playing = false;
    const std::string errors = quietly(
        [&] {
            goToScreen(*app, UIScreen::Tutorial, 1);
            for (int i = 0; i < 4; ++i) {
                frame();
            }
        },
        true);
    EXPECT_NE(errors.find("levels/tutorialsong/level.json"), std::string::npos) << "the failure is reported";
    EXPECT_TRUE(app->audio.stems.empty()) << "the menu level is not played as the tutorial's song";

    goToScreen(*app, UIScreen::MainMenu);
    settle();
    ASSERT_EQ(app->audio.stems.size(), 5u);
    EXPECT_EQ(app->game.totalLayers, 5);
    EXPECT_TRUE(app->levels.packageLoaded);
    EXPECT_EQ(app->levels.package.name, "sunrise_groove");
    {
        app->input.togglePlayback = true;
        std::lock_guard<std::mutex> lock(app->gameMutex);
        quietly([&] { runFrameGameplay(*app, 1.0f / 60.0f); });
    }
    EXPECT_TRUE(app->audio.playing);
    EXPECT_TRUE(app->game.playing);
    EXPECT_EQ(app->game.levelName, level);
}

} // namespace
