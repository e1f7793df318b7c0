// The menus without a mouse: the focus moved with keys and with a pad, a level started with Enter or
// A, and Escape or B going back.
#include "app/gamepads.hpp"
#include "ui/screen_switch.hpp"

#include "screen_fixture.hpp"

namespace {

class Navigation : public Screens {
protected:
    void TearDown() override {
        ImGui::GetIO().BackendFlags &= ~ImGuiBackendFlags_HasGamepad;
        Screens::TearDown();
    }
    // One frame with `key` (and `modifier`, if any) down, then one with them up.
    void press(ImGuiKey key, ImGuiKey modifier = ImGuiKey_None) {
        for (bool down : {true, false}) {
            if (modifier != ImGuiKey_None) {
                ImGui::GetIO().AddKeyEvent(modifier, down);
            }
            ImGui::GetIO().AddKeyEvent(key, down);
            frame();
        }
    }
    // The menu button holding the focus, or "" when the focus is elsewhere.
    static std::string focusedButton() {
        ImGuiWindow* menu = ImGui::FindWindowByName("##MainMenu");
        for (const char* button : {"##start", "##settings", "##leaderboard", "##tutorial", "##exit"}) {
            if (menu != nullptr && menu->GetID(button) == ImGui::GetCurrentContext()->NavId) {
                return button;
            }
        }
        return "";
    }
};

} // namespace

TEST_F(Navigation, KeysMoveTheFocusThroughTheMenuAndEnterStartsTheRowFocused) {
    settle();
    press(ImGuiKey_DownArrow);
    EXPECT_EQ(app->levels.selected, 1)
        << "the focus starts on the chosen row; the row it moves onto is chosen";
    EXPECT_EQ(app->levels.pendingStart, -1);
    press(ImGuiKey_Enter);
    EXPECT_EQ(app->levels.pendingStart, 1) << "Enter on a row starts it, as Start does";
    app->levels.pendingStart = -1;

    gUI.focusRequest = "##settings"; // as --focus puts it there
    settle();
    EXPECT_TRUE(gUI.focusRequest.empty());
    EXPECT_EQ(focusedButton(), "##settings");
    press(ImGuiKey_DownArrow);
    EXPECT_EQ(focusedButton(), "##leaderboard");
    press(ImGuiKey_UpArrow);
    press(ImGuiKey_RightArrow);
    EXPECT_EQ(focusedButton(), "") << "on into the level table";
    gUI.focusRequest = "##settings";
    settle();
    press(ImGuiKey_Enter);
    EXPECT_EQ(gUI.screen, UIScreen::Settings) << "Enter presses the button focused";
}

TEST_F(Navigation, ThePadsDpadMovesTheFocusAndAStartsTheRow) {
    ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_HasGamepad;
    settle();
    press(ImGuiKey_GamepadDpadDown);
    press(ImGuiKey_GamepadDpadDown);
    EXPECT_EQ(app->levels.selected, 2);
    press(ImGuiKey_GamepadDpadUp);
    EXPECT_EQ(app->levels.selected, 1);
    press(ImGuiKey_GamepadFaceDown);
    EXPECT_EQ(app->levels.pendingStart, 1);
}

// Escape and the pad's B go where each screen's Back button goes; on the menu Escape quits and B
// does nothing.
TEST_F(Navigation, EscapeAndBGoBackFromEveryScreenAndEscapeQuitsOnTheMenu) {
    const struct {
        UIScreen from;
        int page;
        UIScreen to;
        int toPage;
    } cases[] = {
        {UIScreen::Settings, 0, UIScreen::MainMenu, 0},    {UIScreen::Credits, 0, UIScreen::Settings, 0},
        {UIScreen::Leaderboard, 0, UIScreen::MainMenu, 0}, {UIScreen::Tutorial, 2, UIScreen::Tutorial, 1},
        {UIScreen::Tutorial, 0, UIScreen::MainMenu, 0},    {UIScreen::Results, 0, UIScreen::MainMenu, 0},
    };
    SDL_Event escape{};
    escape.type = SDL_EVENT_KEY_DOWN;
    escape.key.key = SDLK_ESCAPE;
    for (const auto& c : cases) {
        for (bool pad : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c.from)) + (pad ? " B" : " Escape"));
            quietly([&] { goToScreen(*app, c.from, c.page); });
            noteScreenForInput(*app);
            if (pad) {
                app->gamepads.backPressed = true;
                applyGamepadButtons(*app);
            } else {
                applyInputEvent(app->input, escape, PointerScale{});
            }
            quietly([&] { handleBackKeys(*app); });
            EXPECT_EQ(gUI.screen, c.to);
            EXPECT_EQ(gUI.tutorialPage, c.toPage);
            EXPECT_FALSE(app->input.quitRequested);
            endInputFrame(app->input);
            endGamepadFrame(app->gamepads);
        }
    }
    quietly([&] { goToScreen(*app, UIScreen::MainMenu); });
    noteScreenForInput(*app);
    app->gamepads.backPressed = true;
    applyGamepadButtons(*app);
    handleBackKeys(*app);
    EXPECT_FALSE(app->input.quitRequested) << "B never quits";
    applyInputEvent(app->input, escape, PointerScale{});
    EXPECT_TRUE(app->input.quitRequested) << "Escape on the menu quits";
}
