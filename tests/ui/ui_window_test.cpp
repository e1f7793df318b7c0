// The GUI on a real window and GL context (Xvfb + Mesa in CI). Hot keys typed into a text field are
// checked in tests/app/input_test.cpp and, with real key events, in the end-to-end tests.
#include "ui/ui_system.hpp"

#include "render/gl_test_fixture.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>

#include <cmath>

namespace {

class GuiWindow : public GLTest {
protected:
    static void SetUpTestSuite() {
        GLTest::SetUpTestSuite();
        bool ok = false;
        uiErrors = errorsOf([&] { ok = uiInit(render); }, &uiLog);
        ASSERT_TRUE(ok) << uiErrors;
    }
    static void TearDownTestSuite() {
        uiShutdown();
        GLTest::TearDownTestSuite();
    }
    inline static std::string uiLog, uiErrors;
};

TEST_F(GuiWindow, StartsWithItsFontsAndButtonImages) {
    EXPECT_EQ(startErrors + uiErrors, "");
    EXPECT_NE(uiLog.find("Successfully submitted font 'fonts/Roboto-Medium.ttf' to ImGui."),
              std::string::npos);
    const ButtonTextures& t = gUI.textures;
    for (std::uint32_t name :
         {t.normalInactive, t.startInactive, t.exitInactive, t.normalActive, t.startActive, t.exitActive}) {
        EXPECT_NE(name, 0u);
    }
    EXPECT_GT(t.width, 0);
    EXPECT_FLOAT_EQ(gUI.uiScale, kMinUiScale) << "a 640 x 480 window: the smallest text, the screens scroll";
}

} // namespace

namespace {

// A resized window, or a new UI Scale, re-chooses the scale with the fonts kept: nothing is
// reloaded, and the style is scaled from its defaults each time rather than compounded.
TEST_F(GuiWindow, FollowsTheWindowsSizeAndThePlayersScale) {
    ImFont* font = gUI.fonts.defaultFont;
    SDL_SetWindowSize(render.window, 1280, 720);
    SDL_SyncWindow(render.window);
    std::string log;
    errorsOf([] { uiFollowWindow(render.window); }, &log);
    EXPECT_FLOAT_EQ(gUI.uiScale, 2.0f / 3.0f);
    EXPECT_NE(log.find("UI scale: 0.667 for 1280 x 720"), std::string::npos) << log;
    gUI.userScale = 0.8f;
    errorsOf([] { uiFollowWindow(render.window); });
    EXPECT_FLOAT_EQ(gUI.uiScale, 0.8f * 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().FontScaleMain, gUI.uiScale);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().ItemSpacing.x, std::trunc(8.0f * gUI.uiScale)) << "scaled once, from 8";
    EXPECT_EQ(gUI.fonts.defaultFont, font) << "the font is drawn at the new size, not reloaded";
    log.clear();
    errorsOf([] { uiFollowWindow(render.window); }, &log);
    EXPECT_EQ(log, "") << "nothing changed, nothing done";
    gUI.userScale = 1.0f;
    SDL_SetWindowSize(render.window, 640, 480);
    SDL_SyncWindow(render.window);
    errorsOf([] { uiFollowWindow(render.window); });
}

} // namespace
