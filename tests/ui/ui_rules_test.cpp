#include "ui/hud.hpp"
#include "ui/ui_system.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UiScale, FollowsTheDisplayButNeverItsWindow) {
    const struct {
        float content;
        int width, height;
        float scale;
    } cases[] = {
        {1.0f, 1920, 1080, 1.0f}, // a full-HD screen
        {2.0f, 3840, 2160, 2.0f}, // the same at double density
        {3.0f, 1100, 1350, 1.5f}, // held down by a window too small for 3
        {0.5f, 1920, 1080, 1.0f}, // never below 1
        {2.0f, 400, 300, 1.0f},   // nor on a tiny window
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(computeUiScale(c.content, c.width, c.height), c.scale)
            << c.content << " " << c.width << "x" << c.height;
    }
}

TEST(UiScreens, TheFirstFlagThatAppliesWins) {
    // Flags: playing, leaderboard, tutorial, calibration, settings, credits.
    EXPECT_EQ(screenFor(false, false, false, false, false, false), UIScreen::MainMenu);
    EXPECT_EQ(screenFor(true, true, true, true, true, true), UIScreen::Playing);
    EXPECT_EQ(screenFor(false, true, true, true, true, true), UIScreen::Leaderboard);
    EXPECT_EQ(screenFor(false, false, true, true, true, true), UIScreen::Tutorial);
    EXPECT_EQ(screenFor(false, false, false, true, true, true), UIScreen::Calibration)
        << "drawn over Settings";
    EXPECT_EQ(screenFor(false, false, false, false, true, true), UIScreen::Settings);
    EXPECT_EQ(screenFor(false, false, false, false, false, true), UIScreen::Credits);
}

TEST(UiShaderVersion, FitsTheContextObtained) {
    EXPECT_STREQ(guiShaderVersion(4, 3, false), "#version 300 es");
    EXPECT_STREQ(guiShaderVersion(4, 1, false), "#version 330 core") << "macOS's 4.1 takes no ES shaders";
    EXPECT_STREQ(guiShaderVersion(4, 1, true), "#version 300 es");
    EXPECT_STREQ(guiShaderVersion(3, 3, false), "#version 330 core");
    EXPECT_STREQ(guiShaderVersion(3, 2, false), "#version 150");
    EXPECT_STREQ(guiShaderVersion(3, 0, false), "#version 130");
}

// Best and Combo turn from the idle colour to the good one once the best is beaten or a combo runs.
TEST(ScoreHud, TextsFollowTheRoundAndBeatingTheBestOrAComboChangesTheirColour) {
    const std::vector<HudText> start = scoreHudTexts(0, 0, 1.0f, 0),
                               later = scoreHudTexts(1200, 1000, 2.0f, 1);
    const char* texts[] = {"Score: 1200", "Best: 1000", "x2.0", "Combo: 1"};
    ASSERT_EQ(later.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(later[i].text, texts[i]);
    }
    const auto colour = [](const HudText& item) { return std::vector<float>(item.color, item.color + 4); };
    EXPECT_EQ(colour(start[1]), colour(start[3]));
    EXPECT_EQ(colour(later[1]), colour(later[3]));
    EXPECT_NE(colour(start[1]), colour(later[1]));
    EXPECT_EQ(colour(start[0]), colour(later[0])) << "the score keeps its colour";
    const std::vector<HudText> bot = scoreHudTexts(1200, 1000, 2.0f, 1, true);
    EXPECT_EQ(bot[1].text, "Autoplay") << "the bot's round has no best of the player's";
    EXPECT_EQ(colour(bot[1]), colour(start[1]));
}

TEST(StemBar, SegmentsShareTheWidthInsideTheMargins) {
    const std::vector<StemSegment> segments = stemSegments(4, 2, 1000.0f, 1.0f);
    ASSERT_EQ(segments.size(), 4u);
    const float starts[] = {100.0f, 302.0f, 504.0f, 706.0f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(segments[i].x0, starts[i]);
        EXPECT_FLOAT_EQ(segments[i].x1 - segments[i].x0, 200.0f);
        EXPECT_EQ(segments[i].lit, i < 2);
    }
    EXPECT_FLOAT_EQ(segments.back().x1, 906.0f);
    EXPECT_TRUE(stemSegments(0, 1, 1000.0f, 1.0f).empty());
}

} // namespace
