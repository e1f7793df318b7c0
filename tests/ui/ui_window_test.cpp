// The GUI on a real window and GL context (Xvfb + Mesa in CI). Hot keys typed into a text field are
// checked in tests/app/input_test.cpp and, with real key events, in the end-to-end tests.
#include "render/render_system.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <string>

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

class GuiWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        WindowOptions options;
        options.fullscreen = false;
        CaptureStdout();
        CaptureStderr();
        const bool rendering = renderInit(render, "gui test", 800, 600, options);
        const bool gui = rendering && uiInit(render);
        startLog = GetCapturedStdout();
        startErrors = GetCapturedStderr();
        ASSERT_TRUE(gui) << startErrors;
    }
    static void TearDownTestSuite() {
        uiShutdown();
        renderShutdown(render);
        SDL_Quit();
    }

    inline static RenderState render;
    inline static std::string startLog, startErrors;
};

TEST_F(GuiWindow, StartsWithItsFontsAndButtonImages) {
    EXPECT_EQ(startErrors, "");
    EXPECT_NE(startLog.find("Successfully submitted font 'fonts/Roboto-Medium.ttf' to ImGui."),
              std::string::npos);
    const ButtonTextures& t = gUI.textures;
    for (std::uint32_t name :
         {t.normalInactive, t.startInactive, t.exitInactive, t.normalActive, t.startActive, t.exitActive}) {
        EXPECT_NE(name, 0u);
    }
    EXPECT_GT(t.width, 0);
    EXPECT_FLOAT_EQ(gUI.uiScale, 1.0f) << "an 800 x 600 window is too small for more";
}

} // namespace
