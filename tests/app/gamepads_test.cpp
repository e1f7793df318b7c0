// Pads plugged in and pulled out through SDL's virtual joystick (no hardware needed).
#include "app/app_screens.hpp"
#include "app/round_pause.hpp"
#include "app_test_support.hpp"

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
    static SDL_JoystickID attach() {
        SDL_VirtualJoystickDesc desc;
        SDL_INIT_INTERFACE(&desc);
        desc.type = SDL_JOYSTICK_TYPE_GAMEPAD;
        desc.naxes = SDL_GAMEPAD_AXIS_COUNT;
        desc.nbuttons = SDL_GAMEPAD_BUTTON_COUNT;
        desc.name = "Test Pad";
        return SDL_AttachVirtualJoystick(&desc);
    }
    // The frame's events, polled as the main loop polls them; what they logged.
    std::string poll() {
        return stdoutOf([&] { pollInput(app->input, false, &app->gamepads); });
    }
};

} // namespace

TEST_F(Pads, AConnectedPadIsLoggedAndStartPausesTheRoundAndItsLossPausesItToo) {
    loadSong(8.0);
    app->input.togglePlayback = true; // Space: a round starts
    stdoutOf([&] { runFrameGameplay(*app, 0.01f); });
    const SDL_JoystickID id = attach();
    EXPECT_NE(poll().find("Gamepad connected: Test Pad\n"), std::string::npos);
    ASSERT_EQ(app->gamepads.pads.size(), 1u);

    noteScreenForInput(*app);
    SDL_SetJoystickVirtualButton(SDL_GetJoystickFromID(id), SDL_GAMEPAD_BUTTON_START, true);
    poll();
    applyGamepadButtons(*app);
    EXPECT_TRUE(app->input.pauseRequested) << "Start pauses, as Escape does";
    endInputFrame(app->input);
    endGamepadFrame(app->gamepads);

    ASSERT_TRUE(SDL_DetachVirtualJoystick(id));
    EXPECT_NE(poll().find("Gamepad disconnected: Test Pad\n"), std::string::npos);
    EXPECT_TRUE(app->gamepads.pads.empty());
    stdoutOf([&] { applyGamepadButtons(*app); });
    EXPECT_TRUE(app->pause.paused) << "the lost pad paused the round";
}
