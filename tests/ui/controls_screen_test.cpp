// The Controls screen: a chosen key waits for the next key pressed (through the input path), which then
// plays its cell, stored; a used key swaps, a reserved one is refused, Escape or B stop the wait.
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
    // A key down and up as SDL delivers it (and the pad's B), the frame that takes it and the frame's
    // ways back (its flags stay up to be read). Returns what the frame logged.
    std::string pressKey(SDL_Scancode scancode, bool padBack = false) {
        endInputFrame(app->input);
        endGamepadFrame(app->gamepads);
        noteScreenForInput(*app);
        app->gamepads.backPressed = padBack;
        applyGamepadButtons(*app);
        for (bool down : {true, false}) {
            SDL_Event event{down ? SDL_EVENT_KEY_DOWN : SDL_EVENT_KEY_UP};
            event.key.scancode = scancode;
            event.key.key = SDL_GetKeyFromScancode(scancode, SDL_KMOD_NONE, false);
            applyInputEvent(app->input, event, PointerScale{});
        }
        const std::string out = frame();
        quietly([&] { handleBackKeys(*app); });
        return out;
    }
    std::uint16_t stored(std::uint32_t cell) const {
        KeyBindings bindings;
        quietly([&] { bindings = loadKeyBindings(); });
        EXPECT_EQ(bindings.scancodes[cell], app->input.bindings.scancodes[cell]) << "in effect as stored";
        return bindings.scancodes[cell];
    }
};

} // namespace

TEST_F(Controls, AChosenKeyTakesTheNextKeyPressedSwapsAUsedOneAndRefusesAReservedOne) {
    gUI.focusRequest = "cell:0"; // chosen with the keyboard's focus and Enter
    settle();
    for (bool down : {true, false}) {
        ImGui::GetIO().AddKeyEvent(ImGuiKey_Enter, down);
        frame();
    }
    ASSERT_TRUE(capturingKey());
    EXPECT_NE(pressKey(SDL_SCANCODE_P).find("Key bindings saved to"), std::string::npos);
    EXPECT_FALSE(capturingKey());
    EXPECT_EQ(stored(0), SDL_SCANCODE_P);
    EXPECT_EQ(app->game.cellLabels[0], "P") << "circles spawn with the new key's letter";

    click("cell:1"); // with the mouse: P, now cell 0's, swaps over
    pressKey(SDL_SCANCODE_P);
    EXPECT_EQ(stored(1), SDL_SCANCODE_P);
    EXPECT_EQ(stored(0), SDL_SCANCODE_A);

    click("cell:2");
    pressKey(SDL_SCANCODE_SPACE);
    EXPECT_TRUE(capturingKey()) << "a refused key leaves the wait open";
    EXPECT_EQ(gUI.controls.message, "Space starts and stops the song: it cannot play a cell");
    EXPECT_FALSE(app->input.togglePlayback) << "nor does the key do what it does elsewhere";

    click("##reset");
    EXPECT_EQ(app->input.bindings.scancodes, defaultKeyBindings().scancodes);
    EXPECT_EQ(stored(1), defaultKeyBindings().scancodes[1]);
}

TEST_F(Controls, EscapeOrBStopTheWaitWithoutLeavingAndLeaveWhenNothingWaits) {
    for (bool pad : {false, true}) {
        click("cell:3");
        ASSERT_TRUE(capturingKey());
        pressKey(pad ? SDL_SCANCODE_UNKNOWN : SDL_SCANCODE_ESCAPE, pad);
        EXPECT_FALSE(capturingKey()) << pad;
        EXPECT_EQ(gUI.screen, UIScreen::Controls) << pad;
    }
    pressKey(SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(gUI.screen, UIScreen::Settings);
}
