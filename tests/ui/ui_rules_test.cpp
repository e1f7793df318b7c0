#include "ui/hud.hpp"
#include "ui/screen_switch.hpp"
#include "ui/ui_system.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

namespace {

// The checked window sizes at content scales 1, 1.5 and 2: the GUI shrinks to fit, grows with the
// display's scale only as far as the window holds it.
TEST(UiScale, FitsEveryWindowAndFollowsTheDisplayWithin) {
    const struct {
        int width, height;
        float at1, at15, at2;
    } sizes[] = {
        {1024, 600, 1024.0f / 1920, 1024.0f / 1920, 1024.0f / 1920}, // narrower than 16:9: the width holds it
        {1280, 720, 2.0f / 3, 2.0f / 3, 2.0f / 3},
        {1366, 768, 768.0f / 1080, 768.0f / 1080, 768.0f / 1080},
        {1920, 1080, 1.0f, 1.0f, 1.0f},
        {2560, 1440, 1.0f, 4.0f / 3, 4.0f / 3},
        {3840, 2160, 1.0f, 1.5f, 2.0f},
        {720, 1280, 2.0f / 3, 2.0f / 3, 2.0f / 3}, // upright: 1080 across, 1920 down at scale 1
    };
    for (const auto& c : sizes) {
        EXPECT_FLOAT_EQ(computeUiScale(1.0f, c.width, c.height), c.at1) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(computeUiScale(1.5f, c.width, c.height), c.at15) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(computeUiScale(2.0f, c.width, c.height), c.at2) << c.width << "x" << c.height;
    }
}

TEST(UiScale, ThePlayersFactorWorksWithinTheWindowAndTextNeverGoesBelow14Pixels) {
    const struct {
        float content;
        int width, height;
        float user, scale;
    } cases[] = {
        {1.0f, 3840, 2160, 1.5f, 1.5f},        // room to grow
        {1.0f, 1920, 1080, 1.5f, 1.0f},        // none
        {1.0f, 1920, 1080, 0.8f, 0.8f},        // smaller is always allowed
        {1.0f, 1280, 720, 0.8f, 0.8f * 2 / 3}, // on top of the fit
        {1.0f, 640, 360, 1.0f, 14.0f / 36},    // too small a window: the floor, and the screens scroll
        {1.0f, 800, 450, 0.8f, 14.0f / 36},    // nor does the factor go under it
        {1.0f, 1920, 1080, 9.0f, 1.0f},        // a factor from a hand-edited file is held to 80..150 %
        {1.0f, 1920, 1080, NAN, 1.0f},
        {0.5f, 1920, 1080, 1.0f, 1.0f}, // a display scale under 1 counts as 1
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(computeUiScale(c.content, c.width, c.height, c.user), c.scale)
            << c.content << " " << c.width << "x" << c.height << " x" << c.user;
    }
    EXPECT_FLOAT_EQ(36.0f * kMinUiScale, kMinFontPixels);
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
