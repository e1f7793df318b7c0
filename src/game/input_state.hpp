#pragma once
// The frame's input as the rules judge it: keys, fingers and the mouse, in drawable pixels, with
// the moments each press and release happened. Plain data; app/input.hpp fills it from SDL's
// events on the main thread.
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
    std::uint64_t pressNs = 0;   // SDL timestamp of the last press (nanoseconds)
    std::uint64_t releaseNs = 0; // and of the last release
};

// This frame's input, filled from SDL events by pollInput on the main thread.
struct InputState {
    bool quitRequested = false;
    bool togglePlayback = false;
    bool toggleGui = false;
    bool mousePressed = false;
    bool mouseReleased = false;
    bool mouseHeld = false;
    float mouseX = 0.0f;
    float mouseY = 0.0f;
    std::map<std::uint64_t, TouchPoint> touches;
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
    bool focusLost = false; // the window lost the keyboard focus this frame
    // When each press and release happened (SDL event timestamps, nanoseconds), so that it is
    // judged at its own moment rather than the frame's.
    std::uint64_t polledNs = 0; // SDL tick (ns) of this frame's poll: every earlier input is in it
    std::uint64_t mousePressNs = 0;
    std::uint64_t mouseReleaseNs = 0;
    std::map<std::uint32_t, std::uint64_t> keyPressNs;   // of the keys in keysPressed
    std::map<std::uint32_t, std::uint64_t> keyReleaseNs; // of the keys in keysReleased
    // The files dropped on the window this frame (their paths as the system gave them, UTF-8).
    std::vector<std::string> droppedFiles;
};
