#pragma once
// The frame's input: every press and release of every device in one list (what the round and the
// calibration screen take), with what each device holds, in drawable pixels, and the frame's hot
// keys. Plain data; app/input.hpp fills it from SDL's events on the main thread.
#include "game/key_grid.hpp"
#include "game/round_event.hpp"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// One finger on a touch screen, in drawable pixels (y downward, as SDL reports it).
struct TouchPoint {
    bool held = false;
    bool pressed = false;  // went down this frame
    bool released = false; // went up this frame
    float x = 0.0f;
    float y = 0.0f;
};

// One press or release of any device, as the input layer read it from its SDL event.
struct InputAction {
    InputKind kind = InputKind::Press; // Press or Release
    InputDevice device = InputDevice::Key;
    std::uint64_t id = 0;   // a finger's SDL id, a gamepad's SDL id; 0 for the other devices
    std::uint32_t code = 0; // a key's grid cell (through `bindings`), a gamepad button (pad_buttons.hpp);
                            // 0 for pointers
    float x = 0.0f;         // pointers: drawable pixels from the left
    float y = 0.0f;         // and from the top (SDL's way up)
    std::uint64_t ns = 0;   // the event's SDL timestamp, nanoseconds (0: none)
};

// This frame's input, filled from SDL events by pollInput on the main thread.
struct InputState {
    // The frame's presses and releases from every device, in the order SDL delivered them. Keys
    // bound to no cell are not among them (they may still be hot keys, below).
    std::vector<InputAction> actions;
    // The player's grid: which key position plays which cell.
    KeyBindings bindings = defaultKeyBindings();
    // Set by the app while a screen waits for the key to bind to a cell: the first key to go down
    // is then only that (capturedScancode), no cell's press, no hot key (not even Escape, which the
    // screen takes as a cancel) and, on the way in, nothing for the GUI's navigation.
    bool capturingKey = false;
    std::uint32_t capturedScancode = 0; // the key captured this frame (an SDL scancode), 0 for none
    // Set when the keyboard layout changed this frame: what the grid's keys print may be new.
    bool keymapChanged = false;
    bool quitRequested = false;
    bool togglePlayback = false;
    bool toggleGui = false;
    bool mousePressed = false;
    bool mouseReleased = false;
    bool mouseHeld = false;
    float mouseX = 0.0f;
    float mouseY = 0.0f;
    std::map<std::uint64_t, TouchPoint> touches;
    // The triggers pressed (past their threshold and not yet back), by gamepadInputId of the pad and
    // the trigger's button.
    std::set<std::uint64_t> triggersDown;
    // Keys by keycode (what the layout prints), for the hot keys and the GUI's keys.
    std::set<std::uint32_t> keysHeld;
    std::set<std::uint32_t> keysPressed;
    std::set<std::uint32_t> keysReleased;
    bool screenshotRequested = false; // Print Screen went down this frame
    // Set by the app while the calibration screen is open: Space is then a tap (no playback), and
    // Escape sets leaveCalibration instead of quitting.
    bool calibrating = false;
    bool leaveCalibration = false;
    // Set by the app while the results screen is up: Escape then sets leaveResults (to the menu)
    // instead of quitting.
    bool showingResults = false;
    bool leaveResults = false;
    // Set by the app while a round is in play (paused or not): Escape then sets pauseRequested (a
    // pause, or on the pause overlay a resume) instead of quitting.
    bool inRound = false;
    bool pauseRequested = false;
    // Set by the app while a screen other than the main menu is up (and no round is in play over
    // it): Escape then sets leaveScreen (back to where the screen's Back button goes) instead of
    // quitting. The calibration and results screens keep their own flags above.
    bool onSubScreen = false;
    bool leaveScreen = false;
    // A practice loop's marks this frame: `[` (A) and `]` (B) by their positions right of P, or a
    // pad's left (A) and right (B) shoulder while that pad's Back (View) button is held, which then
    // play no lane. The SDL timestamp (ns) of the frame's last such press, 0 for none.
    std::uint64_t markLoopStartNs = 0;
    std::uint64_t markLoopEndNs = 0;
    std::set<std::uint64_t> padBackHeld; // the pads (SDL ids) whose Back button is down
    bool focusLost = false;              // the window lost the keyboard focus this frame
    std::uint64_t polledNs = 0;          // SDL tick (ns) of this frame's poll: every earlier input is in it
    // When each key of keysPressed went down (SDL timestamps, nanoseconds): Space is a tap on the
    // calibration screen. The round's inputs carry their own (actions).
    std::map<std::uint32_t, std::uint64_t> keyPressNs;
    // The files dropped on the window this frame (their paths as the system gave them, UTF-8).
    std::vector<std::string> droppedFiles;
};
