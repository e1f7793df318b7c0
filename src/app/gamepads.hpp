#pragma once
// The gamepads plugged in: SDL's gamepad subsystem, each pad opened as it is connected and closed as
// it goes, the GUI's navigation fed from the open pads, and the few buttons the game itself reads
// outside a round (B goes back as Escape does; Start pauses and resumes a round). Playing a round
// with a pad reads the pad's events elsewhere; this module only keeps the pads. Main thread.
#include <SDL3/SDL_events.h>
#include <SDL3/SDL_gamepad.h>

#include <string>
#include <vector>

struct App;

// One open pad.
struct ConnectedPad {
    SDL_JoystickID id = 0;
    SDL_Gamepad* pad = nullptr; // owned: closed when the pad goes or at shut-down
    std::string name;           // as SDL names it when it was opened
};

struct Gamepads {
    bool ready = false; // the gamepad subsystem is up
    std::vector<ConnectedPad> pads;
    // This frame (cleared by endGamepadFrame):
    bool backPressed = false;  // B (the east face button) went down on an open pad
    bool startPressed = false; // Start went down on an open pad
    bool disconnected = false; // an open pad went away
    bool changed = false;      // a pad came or went since the GUI was last told
};

// Brings SDL's gamepad subsystem up. Pads already plugged in arrive as connections in the first
// events polled. On failure logs "Gamepads unavailable: <SDL's reason>" and returns false; the game
// runs without them.
bool gamepadsInit(Gamepads& pads);

// Closes every open pad and takes the subsystem down (when gamepadsInit brought it up).
void gamepadsShutdown(Gamepads& pads);

// Applies one SDL event: a pad connected is opened and logged as "Gamepad connected: <name>", one
// removed is closed and logged as "Gamepad disconnected: <name>" (a pad never opened, or one opened
// twice, changes nothing); B and Start of an open pad are noted for this frame. Other events are
// ignored. Returns whether the event was a gamepad event.
bool applyGamepadEvent(Gamepads& pads, const SDL_Event& event);

// Clears this frame's notes (not the open pads). End of frame.
void endGamepadFrame(Gamepads& pads);

// When the pads changed, hands the open pads to the GUI's SDL back-end, which reads them for its
// gamepad navigation each GUI frame (nothing without the back-end, as in tests).
void gamepadsToGui(Gamepads& pads);

// The frame's pad buttons and losses, as the game acts on them, before the pause keys are handled:
// Start in a round pauses or resumes it (as Escape there does); B on a paused round resumes it, and
// outside a round goes back as Escape does (but does nothing on the main menu: B never quits the
// game). A pad lost while a round is played (not watched, not under autoplay) pauses the round.
void applyGamepadButtons(App& app);
