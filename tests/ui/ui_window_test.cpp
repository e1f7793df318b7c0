// The GUI on a real window and GL context (Xvfb + Mesa in CI). Hot keys typed into a text field are
// checked in tests/app/input_test.cpp and, with real key events, in the end-to-end tests.
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include "render/background.hpp"
#include "render/gl_test_fixture.hpp"
#include "render/screen_dim.hpp"
#include "ui/neon_title.hpp"

#include <imgui.h>

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

    // One GUI frame that draws only `title`; answers the vertices it put in the foreground list.
    static int titleFrame(const char* title) {
        uiBeginFrame();
        drawNeonTitle(title, 0.5f, 1.0f);
        const int vertices = ImGui::GetForegroundDrawList()->VtxBuffer.Size;
        uiRender();
        return vertices;
    }
    static std::uint32_t bakedGlow(const char* title) { return glowEntryFor(neonGlowCache(), title).texture; }
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

TEST_F(GuiWindow, TheTitleGlowIsBakedOnceAndAgainOnlyWhenTheScaleChanges) {
    std::string errors;
    errors += errorsOf([] {
        const int copies = titleFrame("VIBRELLE");
        EXPECT_EQ(bakedGlow("VIBRELLE"), 0u) << "the first frame draws the glow copy by copy";
        const int baked = titleFrame("VIBRELLE");
        const std::uint32_t texture = bakedGlow("VIBRELLE");
        ASSERT_NE(texture, 0u);
        EXPECT_LT(baked * 10, copies) << "one quad in place of 64 copies";
        titleFrame("SETTINGS");
        titleFrame("SETTINGS");
        EXPECT_EQ(titleFrame("VIBRELLE"), baked) << "another title keeps its own texture";
        EXPECT_EQ(bakedGlow("VIBRELLE"), texture);

        gUI.uiScale = 1.5f; // the copies spread further
        EXPECT_EQ(titleFrame("VIBRELLE"), copies);
        titleFrame("VIBRELLE");
        EXPECT_NE(bakedGlow("VIBRELLE"), texture);
        titleFrame("VIBRELLE");
        EXPECT_FALSE(glIsTexture(texture)) << "the texture it replaced is deleted";
        gUI.uiScale = 1.0f;
    });
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(checkGLError("title frames"));
}

TEST_F(GuiWindow, MenusDarkenTheSceneToHalfOnlyWhileTheyAreUp) {
    // A background of one colour, so that half of it is plain to see.
    ASSERT_TRUE(replaceBackgroundFragmentShader(
        render, "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(0.8, 0.4, 0.2, 1.0); }\n"));
    const struct {
        bool menu, shown, darkenedAhead;
    } frames[] = {
        {false, true, false}, {true, true, false},                       // the menu's own pass
        {true, true, true},   {true, true, true},                        // the background comes darkened
        {false, true, true},                                             // play: brought back before the HUD
        {true, true, false},  {true, true, true},  {false, false, true}, // interface hidden
        {false, true, false},
    };
    beginFrame(render); // a frame without the GUI: whatever the tests before drew is over
    settleSceneDim();
    int frame = 0;
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << "frame " << frame++);
        beginFrame(render);
        EXPECT_EQ(gameSceneDim().darkened, f.darkenedAhead);
        if (f.shown) {
            uiBeginFrame();
            if (f.menu) {
                dimScreenUnder(ImGui::GetBackgroundDrawList());
            }
            uiRender(); // what the GUI draws over the scene must find it right already
        } else {
            settleSceneDim(); // as the swap does
        }
        const Pixel expected = f.menu ? Pixel{102, 51, 25} : Pixel{204, 102, 51};
        EXPECT_TRUE(near(pixelAt(render.width / 2, render.height / 2), expected, 2));
        EXPECT_TRUE(near(pixelAt(0, 0), expected, 2)) << "up to the corners";
    }
    restoreBuiltinBackground(render);
    EXPECT_TRUE(checkGLError("darkening"));
}

} // namespace
