// The main menu, the level start, the HUD and the leaderboard screen, driven headless.
#include "app/round.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/main_menu.hpp"

#include "capture.hpp"
#include "screen_fixture.hpp"

#include <fstream>

namespace {

// Each button and row is traced once per visit, and each button leads to its screen.
TEST_F(Screens, TheMenuTracesItsButtonsOnceAndEachLeadsToItsScreen) {
    std::string log;
    for (int i = 0; i < 5; ++i) {
        log += frame();
    }
    for (const std::string id : {"##start", "##settings", "##leaderboard", "##tutorial", "##exit",
                                 "level_row_0", "level_row_1", "level_row_2"}) {
        EXPECT_NE(log.find("UI: " + id + " "), std::string::npos) << id;
        EXPECT_EQ(log.find("UI: " + id + " "), log.rfind("UI: " + id + " ")) << id;
    }
    EXPECT_LT(traced["##start"].y, traced["##exit"].y);
    EXPECT_TRUE(drawnLastFrame("##MainMenu"));

    click("##settings");
    EXPECT_EQ(gUI.screen, UIScreen::Settings);
    goToScreen(*app, UIScreen::MainMenu);
    settle();
    gUI.tutorialPage = 3;
    click("##tutorial");
    EXPECT_EQ(gUI.screen, UIScreen::Tutorial);
    EXPECT_EQ(gUI.tutorialPage, 0) << "the tutorial opens on its first page";
    goToScreen(*app, UIScreen::MainMenu);
    settle();
    click("##exit");
    EXPECT_TRUE(app->input.quitRequested);
}

// A click on a row only selects it, and so does a tap (a pointer position and a press in the same
// frame, with no hover before it). Names from the file are neither formats nor ids.
TEST_F(Screens, AClickOrATapOnARowOnlySelectsIt) {
    app->levels.list = {{"%n%n%s%s", "a", 1, "%n%s"}, {"Same##x", "b", 7, ""}, {"Same##x", "c", 0, ""}};
    settle();
    EXPECT_NE(traced["level_row_1"].y, traced["level_row_2"].y) << "two rows, not one";
    for (int row : {2, 1}) {
        click("level_row_" + std::to_string(row));
        EXPECT_EQ(app->levels.selected, row);
    }
    for (int row : {2, 0}) {
        const Rect r = traced["level_row_" + std::to_string(row)];
        frame(r.x + r.w / 2, r.y + r.h / 2, true);
        frame(r.x + r.w / 2, r.y + r.h / 2, false);
        EXPECT_EQ(app->levels.selected, row);
        frame(-1, -1, false); // the finger leaves
    }
    EXPECT_EQ(app->levels.pendingStart, -1);
    EXPECT_TRUE(app->audio.stems.empty()) << "nothing loads before Start";
    EXPECT_FALSE(app->game.playing);
}

TEST_F(Screens, StartLoadsTheSelectedLevelAndTheHudsExitShowsTheResults) {
    settle();
    click("level_row_1");
    click("##start");
    EXPECT_EQ(app->levels.pendingStart, 1);
    EXPECT_FALSE(drawnLastFrame("##Loading")) << "no notice before the start has taken a frame";
    EXPECT_TRUE(app->audio.stems.empty()) << "the load waits for that frame to be shown";

    startPendingLevel();
    ASSERT_FALSE(app->audio.stems.empty());
    EXPECT_TRUE(app->audio.playing);
    EXPECT_TRUE(app->audio.stems[0].active) << "the first layer fades in";
    EXPECT_TRUE(app->game.playing);
    EXPECT_EQ(app->game.levelName, app->levels.list[1].name);
    EXPECT_EQ(app->levels.pendingStart, -1);
    EXPECT_TRUE(app->levels.packageLoaded);
    EXPECT_EQ(app->levels.package.name, app->levels.list[1].file);

    app->game.score = 1234;
    settle();
    EXPECT_TRUE(drawnLastFrame("##ScoreHUD"));
    EXPECT_TRUE(drawnLastFrame("##StemProgressHUD"));
    EXPECT_FALSE(drawnLastFrame("##MainMenu"));
    quietly([&] { click("hud_exit"); }, true);
    EXPECT_FALSE(app->audio.playing);
    EXPECT_FALSE(app->game.playing);
    EXPECT_EQ(app->game.score, 0) << "the round was reset";
    frame();
    EXPECT_TRUE(drawnLastFrame("##ResultsPanel"));
    EXPECT_EQ(app->lastResults.score, 1234);
    // The round's result was saved under the level's name (in this test's copy of assets/).
    nlohmann::json saved;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(gLeaderboardClient.leaderboardPath, saved, error), LeaderboardRead::Ok);
    EXPECT_EQ(findPlayerScore(saved, app->levels.list[1].name, "Player"), 1234);
}

// A round under autoplay is the bot's: leaving it saves and uploads nothing.
TEST_F(Screens, TheHudsExitUnderAutoplaySavesNothing) {
    const std::string before = readText(gLeaderboardClient.leaderboardPath);
    app->options.autoplay = true;
    settle();
    click("level_row_1");
    click("##start");
    startPendingLevel();
    app->game.score = 4321;
    settle();
    std::string out;
    quietly([&] { out = click("hud_exit"); }, true);
    EXPECT_FALSE(app->game.playing);
    EXPECT_NE(out.find("Autoplay round ended; its result is not saved\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Leaderboard successfully saved"), std::string::npos) << out;
    EXPECT_TRUE(httpDatabaseWait(20.0));
    EXPECT_EQ(readText(gLeaderboardClient.leaderboardPath), before);
}

TEST_F(Screens, TheLeaderboardShowsTheFetchedLevelsAndBackReturnsToTheMenu) {
    settle();
    ::testing::internal::CaptureStderr(); // the fetch from a closed port fails
    click("##leaderboard");
    EXPECT_TRUE(httpDatabaseWait(15.0));
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(gUI.screen, UIScreen::Leaderboard);
    receiveLeaderboard(
        nlohmann::json::parse(R"({"levels": [{"name": "A", "scores": [{"player": "p", "score": 1}]},
                                                              {"name": "B", "scores": []}]})"));
    gUI.leaderboardLevel = 5; // past the levels: the chooser falls back to the first
    settle();
    EXPECT_TRUE(drawnLastFrame("##LeaderboardPanel"));
    EXPECT_FALSE(drawnLastFrame("##MainMenu"));
    EXPECT_EQ(gUI.leaderboardLevel, 0);
    click("##back");
    EXPECT_NE(gUI.screen, UIScreen::Leaderboard);
    frame();
    EXPECT_TRUE(drawnLastFrame("##MainMenu"));
}

TEST_F(Screens, AFailedStartLeavesTheMenuUsable) {
    // The first entry's folder does not exist; the second is a small level of the test data.
    std::error_code exists;
    std::filesystem::create_directory_symlink(VIBRELLE_TEST_DATA "/level/sub", "levels/small_test_level",
                                              exists);
    app->levels.list = {{"Gone", "no_such_level", 1, ""}, {"Small", "small_test_level", 1, ""}};
    EXPECT_NE(quietly([&] {
                  EXPECT_FALSE(startLevel(*app, 0));
              }).find("CRITICAL: Failed to load level from manifest: levels/no_such_level/level.json"),
              std::string::npos);
    EXPECT_FALSE(app->audio.playing);
    EXPECT_FALSE(app->game.playing);
    settle();
    EXPECT_TRUE(drawnLastFrame("##MainMenu"));

    quietly([&] { EXPECT_TRUE(startLevel(*app, 1)); });
    EXPECT_TRUE(app->audio.playing);
    EXPECT_TRUE(app->game.playing);
    EXPECT_EQ(app->audio.stems.size(), 3u);
    EXPECT_FALSE(startLevel(*app, 2)) << "an index past the list does nothing";
    EXPECT_TRUE(app->game.playing);
}

TEST_F(Screens, ARejectedFontIsFreedOnceAndReported) {
    // A file that starts like a font, with its one table inside the file, but is none; and garbage.
    std::string bytes(300, '\0');
    const unsigned char header[] = {0,   1,   0, 0, 0, 1, 0, 16, 0, 0,  0, 0, 'j', 'u',
                                    'n', 'k', 0, 0, 0, 0, 0, 0,  0, 28, 0, 0, 0,   100};
    bytes.replace(0, sizeof header, reinterpret_cast<const char*>(header), sizeof header);
    const std::string path = ::testing::TempDir() + "rejected_font.ttf";
    const std::string garbage = ::testing::TempDir() + "garbage_font.ttf";
    std::ofstream(path, std::ios::binary) << bytes;
    std::ofstream(garbage, std::ios::binary) << std::string(4096, 'x');

    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    const int fonts = atlas.Fonts.Size;
    const std::pair<std::string, std::string> cases[] = {
        {path, "ImGui::AddFontFromMemoryTTF failed for '" + path + "'. The font file may be corrupt."},
        {garbage, "ImGui::AddFontFromMemoryTTF failed for '" + garbage + "'. The font file may be corrupt."},
        {"/nonexistent/font.ttf", "CRITICAL: SDL_LoadFile failed for font: '/nonexistent/font.ttf'."}};
    for (const auto& [file, line] : cases) {
        EXPECT_NE(quietly([&] { EXPECT_EQ(loadUIFont(file.c_str(), 20.0f), nullptr); }).find(line),
                  std::string::npos)
            << file;
    }
    EXPECT_EQ(atlas.Fonts.Size, fonts);
    frame(); // the atlas is still whole
}

} // namespace
