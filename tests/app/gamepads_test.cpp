// Pads plugged in and pulled out, through SDL's virtual joystick (no hardware): each is opened and
// logged, B and Start are noted, and a pad lost during a round pauses it.
#include "app/gamepads.hpp"
#include "app/round_pause.hpp"
#include "app_test_support.hpp"

#include <gtest/gtest.h>

namespace {

class Pads : public AudioApp {
protected:
    void SetUp() override {
        AudioApp::SetUp();
        ASSERT_TRUE(gamepadsInit(app->gamepads)) << SDL_GetError();
    }
    void TearDown() override {
        gamepadsShutdown(app->gamepads);
        AudioApp::TearDown();
    }
    static SDL_JoystickID attach(const char* name) {
        SDL_VirtualJoystickDesc desc;
        SDL_INIT_INTERFACE(&desc);
        desc.type = SDL_JOYSTICK_TYPE_GAMEPAD;
        desc.naxes = SDL_GAMEPAD_AXIS_COUNT;
        desc.nbuttons = SDL_GAMEPAD_BUTTON_COUNT;
        desc.name = name;
        return SDL_AttachVirtualJoystick(&desc);
    }
    // The frame's events, as the main loop polls them; what they logged.
    std::string poll() {
        return stdoutOf([&] { pollInput(app->input, false, &app->gamepads); });
    }
    static void button(SDL_JoystickID id, SDL_GamepadButton which) {
        SDL_SetJoystickVirtualButton(SDL_GetJoystickFromID(id), which, true);
    }
};

} // namespace

TEST_F(Pads, APadPluggedInIsOpenedAndLoggedItsButtonsNotedAndItsLossLogged) {
    const SDL_JoystickID id = attach("Test Pad");
    ASSERT_NE(id, 0u) << SDL_GetError();
    EXPECT_NE(poll().find("Gamepad connected: Test Pad\n"), std::string::npos);
    ASSERT_EQ(app->gamepads.pads.size(), 1u);
    button(id, SDL_GAMEPAD_BUTTON_EAST);
    button(id, SDL_GAMEPAD_BUTTON_START);
    poll();
    EXPECT_TRUE(app->gamepads.backPressed && app->gamepads.startPressed);
    endGamepadFrame(app->gamepads);
    EXPECT_FALSE(app->gamepads.backPressed || app->gamepads.startPressed);

    ASSERT_TRUE(SDL_DetachVirtualJoystick(id));
    EXPECT_NE(poll().find("Gamepad disconnected: Test Pad\n"), std::string::npos);
    EXPECT_TRUE(app->gamepads.pads.empty());
    EXPECT_TRUE(app->gamepads.disconnected);
}

TEST_F(Pads, StartPausesARoundAndAPadLostDuringItPausesIt) {
    loadSong(8.0);
    app->input.togglePlayback = true; // Space: the round starts
    stdoutOf([&] { runFrameGameplay(*app, 0.01f); });
    endInputFrame(app->input);
    const SDL_JoystickID id = attach("Test Pad");
    poll();
    app->input.inRound = roundInPlay(*app);
    ASSERT_TRUE(app->input.inRound);

    button(id, SDL_GAMEPAD_BUTTON_START);
    poll();
    applyGamepadButtons(*app);
    EXPECT_TRUE(app->input.pauseRequested) << "Start pauses, as Escape does";
    endInputFrame(app->input);
    endGamepadFrame(app->gamepads);

    SDL_DetachVirtualJoystick(id);
    poll();
    stdoutOf([&] { applyGamepadButtons(*app); });
    EXPECT_TRUE(app->pause.paused);
}
