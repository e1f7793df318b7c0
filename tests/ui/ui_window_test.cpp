// The GUI on a real window and GL context (Xvfb + Mesa in CI): start-up, and SDL's key events
// while a text field has the keyboard.
#include "app/app.hpp"
#include "app/input.hpp"
#include "render/render_system.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <memory>
#include <sstream>

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

    // One GUI frame holding a text field, focused on the first frame when asked.
    static void frameWithTextField(bool focus) {
        uiBeginFrame();
        ImGui::SetNextWindowPos(ImVec2(10, 10));
        ImGui::Begin("Name");
        static char name[32] = "";
        if (focus) {
            ImGui::SetKeyboardFocusHere();
        }
        ImGui::InputText("##name", name, sizeof name);
        ImGui::End();
        uiRender();
        SDL_GL_SwapWindow(render.window);
    }
    static void frameWithout() {
        uiBeginFrame();
        uiRender();
        SDL_GL_SwapWindow(render.window);
    }
    static void pushKey(SDL_Keycode key) {
        for (const bool down : {true, false}) {
            SDL_Event event{};
            event.type = down ? SDL_EVENT_KEY_DOWN : SDL_EVENT_KEY_UP;
            event.key.windowID = SDL_GetWindowID(render.window);
            event.key.key = key;
            event.key.down = down;
            ASSERT_TRUE(SDL_PushEvent(&event));
        }
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

TEST_F(GuiWindow, HotKeysGoToAFocusedTextField) {
    frameWithTextField(true);
    frameWithTextField(false);
    frameWithTextField(false);
    ASSERT_TRUE(ImGui::GetIO().WantTextInput);
    InputState input;
    for (SDL_Keycode key : {SDLK_SPACE, SDLK_ESCAPE, SDLK_F12}) {
        pushKey(key);
    }
    pollInput(input, true);
    EXPECT_FALSE(input.togglePlayback) << "a blank typed into the name";
    EXPECT_FALSE(input.quitRequested);
    EXPECT_FALSE(input.toggleGui);
    endInputFrame(input);

    // Without the field the same keys act again.
    frameWithout();
    frameWithout();
    ASSERT_FALSE(ImGui::GetIO().WantTextInput);
    for (SDL_Keycode key : {SDLK_SPACE, SDLK_F12, SDLK_ESCAPE}) {
        pushKey(key);
    }
    pollInput(input, true);
    EXPECT_TRUE(input.togglePlayback);
    EXPECT_TRUE(input.toggleGui);
    EXPECT_TRUE(input.quitRequested);
}

// The same with the settings screen's own name field, clicked into as a player would.
TEST_F(GuiWindow, HotKeysGoToTheSettingsNameField) {
    auto app = std::make_unique<App>();
    app->uiVisible = true;
    app->showSettings = true;
    app->game.playerName = "Player";
    gUI.trace = true;
    InputState input;
    std::string log;
    const auto frame = [&] {
        pollInput(input, true);
        ::testing::internal::CaptureStdout();
        uiBeginFrame();
        drawUI(*app);
        uiRender();
        log += ::testing::internal::GetCapturedStdout();
        SDL_GL_SwapWindow(render.window);
        endInputFrame(input);
    };
    for (int i = 0; i < 4; ++i) {
        frame();
    }
    float x = 0, y = 0, w = 0, h = 0;
    std::istringstream traced(log.substr(log.find("UI: ##playername ") + 17));
    ASSERT_TRUE(traced >> x >> y >> w >> h) << log;
    // The GUI's SDL back-end follows the real pointer while the window has focus: put it there.
    SDL_WarpMouseInWindow(render.window, x + w / 2, y + h / 2);
    for (const SDL_EventType type :
         {SDL_EVENT_MOUSE_MOTION, SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_EVENT_MOUSE_BUTTON_UP}) {
        SDL_Event event{};
        event.type = type;
        event.button.windowID = SDL_GetWindowID(render.window);
        event.button.button = SDL_BUTTON_LEFT;
        event.button.down = type == SDL_EVENT_MOUSE_BUTTON_DOWN;
        event.button.x = x + w / 2;
        event.button.y = y + h / 2;
        if (type == SDL_EVENT_MOUSE_MOTION) {
            event.motion.x = x + w / 2;
            event.motion.y = y + h / 2;
        }
        ASSERT_TRUE(SDL_PushEvent(&event));
        frame();
    }
    frame();
    ASSERT_TRUE(ImGui::GetIO().WantTextInput) << "the name field has the keyboard";
    for (SDL_Keycode key : {SDLK_SPACE, SDLK_ESCAPE, SDLK_F12}) {
        pushKey(key);
    }
    pollInput(input, true);
    EXPECT_FALSE(input.togglePlayback);
    EXPECT_FALSE(input.quitRequested);
    EXPECT_FALSE(input.toggleGui);
    gUI.trace = false;
}

} // namespace
