// The Controls screen: a key chosen waits for the next key pressed (through the input path), which
// then plays its cell, at once and stored; a used key swaps, a reserved one is refused, Escape or B
// stops the wait without leaving the screen, and Reset puts the default grid back.
#include "screen_fixture.hpp"

#include "app/input.hpp"
#include "prefs/preferences.hpp"
#include "ui/controls_screen.hpp"

namespace {

class Controls : public Screens {
protected:
    void SetUp() override {
        Screens::SetUp();
        quietly([&] { goToScreen(*app, UIScreen::Controls); });
        settle();
    }
    void TearDown() override {
        endInputFrame(app->input);
        endGamepadFrame(app->gamepads);
        quietly([&] { goToScreen(*app, UIScreen::MainMenu); });
        Screens::TearDown();
    }
    // A key down and up as SDL delivers it, then the frame that takes it and the frame's ways back.
    // The frame's flags stay up for the caller to read. Returns what the frame logged.
    std::string pressKey(SDL_Scancode scancode) {
        endInputFrame(app->input);
        noteScreenForInput(*app);
        for (bool down : {true, false}) {
            SDL_Event event{down ? SDL_EVENT_KEY_DOWN : SDL_EVENT_KEY_UP};
            event.key.scancode = scancode;
            event.key.key = SDL_GetKeyFromScancode(scancode, SDL_KMOD_NONE, false);
            event.key.down = down;
            applyInputEvent(app->input, event, PointerScale{});
        }
        const std::string out = frame();
        quietly([&] { handleBackKeys(*app); });
        return out;
    }
    std::uint16_t boundTo(std::uint32_t cell) const { return app->input.bindings.scancodes[cell]; }
    static std::uint16_t stored(std::uint32_t cell) {
        KeyBindings bindings;
        quietly([&] { bindings = loadKeyBindings(); });
        return bindings.scancodes[cell];
    }
};

} // namespace

TEST_F(Controls, AChosenKeyTakesTheNextKeyPressedSwapsAUsedOneAndRefusesAReservedOne) {
    // Chosen with the keyboard's focus and Enter.
    gUI.focusRequest = "cell:0";
    settle();
    for (bool down : {true, false}) {
        ImGui::GetIO().AddKeyEvent(ImGuiKey_Enter, down);
        frame();
    }
    ASSERT_TRUE(capturingKey());
    EXPECT_NE(pressKey(SDL_SCANCODE_P).find("Key bindings saved to"), std::string::npos);
    EXPECT_FALSE(capturingKey());
    EXPECT_EQ(boundTo(0), SDL_SCANCODE_P);
    EXPECT_EQ(stored(0), SDL_SCANCODE_P);
    EXPECT_EQ(app->game.cellLabels[0], "P") << "circles spawn with the new key's letter";

    // Chosen with the mouse: P, now cell 0's, swaps over.
    click("cell:1");
    pressKey(SDL_SCANCODE_P);
    EXPECT_EQ(boundTo(1), SDL_SCANCODE_P);
    EXPECT_EQ(boundTo(0), SDL_SCANCODE_A);
    EXPECT_EQ(stored(0), SDL_SCANCODE_A);

    click("cell:2");
    pressKey(SDL_SCANCODE_SPACE);
    EXPECT_TRUE(capturingKey()) << "a refused key leaves the wait open";
    EXPECT_EQ(gUI.controls.message, "Space starts and stops the song: it cannot play a cell");
    EXPECT_FALSE(app->input.togglePlayback) << "nor does the key do what it does elsewhere";
    EXPECT_EQ(boundTo(2), defaultKeyBindings().scancodes[2]);

    click("##reset");
    EXPECT_EQ(app->input.bindings.scancodes, defaultKeyBindings().scancodes);
    EXPECT_EQ(stored(1), defaultKeyBindings().scancodes[1]);
    EXPECT_FALSE(capturingKey());
}

TEST_F(Controls, EscapeOrBStopTheWaitWithoutLeavingAndLeaveWhenNothingWaits) {
    for (bool pad : {false, true}) {
        SCOPED_TRACE(pad ? "B" : "Escape");
        click("cell:3");
        ASSERT_TRUE(capturingKey());
        if (pad) {
            endInputFrame(app->input);
            noteScreenForInput(*app);
            app->gamepads.backPressed = true;
            applyGamepadButtons(*app);
            frame();
            quietly([&] { handleBackKeys(*app); });
            endGamepadFrame(app->gamepads);
        } else {
            pressKey(SDL_SCANCODE_ESCAPE);
        }
        EXPECT_FALSE(capturingKey());
        EXPECT_EQ(gUI.screen, UIScreen::Controls);
        EXPECT_EQ(app->input.bindings.scancodes, defaultKeyBindings().scancodes);
    }
    pressKey(SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(gUI.screen, UIScreen::Settings);
}
