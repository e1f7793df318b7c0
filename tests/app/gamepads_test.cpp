// Pads plugged in and pulled out through SDL's virtual joystick (no hardware needed).
#include "app/app_screens.hpp"
#include "app/round_pause.hpp"
#include "app_test_support.hpp"
#include "game/pad_scheme.hpp"

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

TEST_F(Pads, APadsButtonAndTriggerPlayTheCirclesTheirSchemeNames) {
    const SDL_JoystickID id = attach();
    poll();
    SDL_Joystick* joystick = SDL_GetJoystickFromID(id);
    GameState game = gametest::playingGame();
    beginRound(game, RoundSetup{{}, 0.0, false, 1920, 1080}, 0.0);
    // Due now: one circle of each button pressed below, and one of another button.
    for (int note : {88, 120, 40}) {
        spawnCircle(game, gametest::noteOn(1.0, note, note == 120 ? 10 : 120), 0, 1920, 1080, 1.0);
    }
    ASSERT_EQ(game.circles[0].padButton, kPadNorth);
    ASSERT_EQ(game.circles[1].padButton, kPadRightTrigger);
    // The trigger crosses its press line once, wavers above its release line, then lets go.
    SDL_SetJoystickVirtualButton(joystick, SDL_GAMEPAD_BUTTON_NORTH, true);
    // A virtual pad's trigger spans SDL's whole axis range: fully released is -32768.
    for (int travel : {kTriggerReleaseBelow + 4, kTriggerPressAt + 4, kTriggerReleaseBelow + 4, 0}) {
        SDL_SetJoystickVirtualAxis(joystick, SDL_GAMEPAD_AXIS_RIGHT_TRIGGER,
                                   static_cast<Sint16>(2 * travel - 32768));
        poll();
    }
    const std::pair<InputKind, PadButton> expected[] = {{InputKind::Press, kPadNorth},
                                                        {InputKind::Press, kPadRightTrigger},
                                                        {InputKind::Release, kPadRightTrigger}};
    const std::vector<InputAction>& actions = app->input.actions;
    ASSERT_EQ(actions.size(), std::size(expected));
    for (std::size_t i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i].kind, expected[i].first) << i;
        EXPECT_EQ(actions[i].code, static_cast<std::uint32_t>(expected[i].second)) << i;
        EXPECT_EQ(actions[i].device, InputDevice::Gamepad);
        EXPECT_EQ(actions[i].id, id) << "which pad";
        EXPECT_GT(actions[i].ns, i > 0 ? actions[i - 1].ns : 0u) << "stamped when SDL saw it";
    }
    game.songTime = 1.0;
    game.songTimeNs = actions.back().ns; // the presses land a moment before the note's time
    gametest::frameAt(game, app->input, 1.0);
    EXPECT_TRUE(game.circles[0].hit && game.circles[1].hit);
    EXPECT_FALSE(game.circles[2].hit) << "the D-pad's circle waits for its own button";
}
