// The menus without a mouse: the focus moved with keys and a pad, a level started with Enter or A,
// and Escape or B going back.
#include "screen_fixture.hpp"

namespace {

class Navigation : public Screens {
protected:
    void TearDown() override {
        ImGui::GetIO().BackendFlags &= ~ImGuiBackendFlags_HasGamepad;
        Screens::TearDown();
    }
    void press(ImGuiKey key) {
        for (bool down : {true, false}) {
            ImGui::GetIO().AddKeyEvent(key, down);
            frame();
        }
    }
    static bool focusedOn(const char* button) {
        return ImGui::FindWindowByName("##MainMenu")->GetID(button) == ImGui::GetCurrentContext()->NavId;
    }
};

} // namespace

TEST_F(Navigation, KeysMoveTheFocusAndEnterStartsTheRowFocused) {
    settle();
    press(ImGuiKey_DownArrow);
    EXPECT_EQ(app->levels.selected, 1) << "the focus starts on the chosen row; the row it lands on is chosen";
    press(ImGuiKey_Enter);
    EXPECT_EQ(app->levels.pendingStart, 1) << "Enter on a row starts it, as Start does";
    app->levels.pendingStart = -1;

    gUI.focusRequest = "##settings"; // as --focus puts it there
    settle();
    press(ImGuiKey_DownArrow);
    EXPECT_TRUE(focusedOn("##leaderboard"));
    press(ImGuiKey_UpArrow);
    press(ImGuiKey_RightArrow);
    EXPECT_EQ(ImGui::GetCurrentContext()->NavWindow->ParentWindow->ParentWindow,
              ImGui::FindWindowByName("##MainMenu"))
        << "on into the level table, beside the button";
    press(ImGuiKey_DownArrow);
    EXPECT_EQ(app->levels.selected, 2) << "on a row";
    press(ImGuiKey_LeftArrow);
    EXPECT_TRUE(focusedOn("##start")) << "and back to the buttons";
    gUI.focusRequest = "##settings";
    settle();
    press(ImGuiKey_Enter);
    EXPECT_EQ(gUI.screen, UIScreen::Settings) << "Enter presses the button focused";
}

TEST_F(Navigation, ThePadsDpadMovesTheFocusAndAStartsTheRowFocused) {
    ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_HasGamepad;
    settle();
    press(ImGuiKey_GamepadDpadDown);
    press(ImGuiKey_GamepadDpadDown);
    EXPECT_EQ(app->levels.selected, 2);
    press(ImGuiKey_GamepadFaceDown);
    EXPECT_EQ(app->levels.pendingStart, 2);
}

// Escape and B go where each screen's Back button goes; on the menu Escape quits and B does nothing.
TEST_F(Navigation, EscapeAndBGoBackFromEveryScreenAndEscapeQuitsOnTheMenu) {
    const struct {
        UIScreen from, to;
        int page, toPage;
    } cases[] = {
        {UIScreen::Settings, UIScreen::MainMenu, 0, 0},    {UIScreen::Credits, UIScreen::Settings, 0, 0},
        {UIScreen::Leaderboard, UIScreen::MainMenu, 0, 0}, {UIScreen::Tutorial, UIScreen::Tutorial, 2, 1},
        {UIScreen::Tutorial, UIScreen::MainMenu, 0, 0},    {UIScreen::Results, UIScreen::MainMenu, 0, 0},
        {UIScreen::MainMenu, UIScreen::MainMenu, 0, 0}};
    SDL_Event escape{SDL_EVENT_KEY_DOWN};
    escape.key.key = SDLK_ESCAPE;
    for (const auto& c : cases) {
        for (bool pad : {true, false}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c.from)) + (pad ? " B" : " Escape"));
            quietly([&] { goToScreen(*app, c.from, c.page); });
            noteScreenForInput(*app);
            app->gamepads.backPressed = pad;
            applyGamepadButtons(*app);
            if (!pad) {
                applyInputEvent(app->input, escape, PointerScale{});
            }
            quietly([&] { handleBackKeys(*app); });
            EXPECT_EQ(gUI.screen, c.to);
            EXPECT_EQ(gUI.tutorialPage, c.toPage);
            EXPECT_EQ(app->input.quitRequested, c.from == UIScreen::MainMenu && !pad);
            endInputFrame(app->input);
            endGamepadFrame(app->gamepads);
        }
    }
}
