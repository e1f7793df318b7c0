#pragma once
#include <SDL3/SDL_events.h>

#include <cstdint>
#include <map>
#include <set>

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
    // When each press and release happened (SDL event timestamps, nanoseconds), so that it is
    // judged at its own moment rather than the frame's.
    std::uint64_t mousePressNs = 0;
    std::uint64_t mouseReleaseNs = 0;
    std::map<std::uint32_t, std::uint64_t> keyPressNs;   // of the keys in keysPressed
    std::map<std::uint32_t, std::uint64_t> keyReleaseNs; // of the keys in keysReleased
};

// How SDL's window coordinates map to drawable pixels: SDL reports the mouse in points (pixels /
// density) and fingers normalised to the window, while the game places everything in drawable
// pixels.
struct PointerScale {
    float density = 1.0f;    // drawable pixels per point
    float pixelWidth = 0.0f; // drawable size in pixels
    float pixelHeight = 0.0f;
};

// The scale of a window (density 1 and size 0 x 0 when there is none). Main thread.
PointerScale pointerScaleOf(SDL_Window* window);

// A coordinate in points as drawable pixels at the given density.
inline float pointsToPixels(float points, float density) { return points * density; }

// Back to the start-up state: all flags false, positions 0, containers empty.
void resetInput(InputState& input);

// Applies one SDL event to the input record (no GUI involvement), turning mouse and finger
// positions into drawable pixels with `scale`, the scale of the event's window. While the GUI has
// a text field in use (`guiTextInput`), Space, Escape and F12 belong to it: they neither start
// playback, nor quit, nor hide the GUI. Plain code.
void applyInputEvent(InputState& input, const SDL_Event& event, const PointerScale& scale,
                     bool guiTextInput = false);

// Drains the SDL event queue into the input record. When uiVisible, each event is shown to the
// GUI first; the GUI never swallows it, except the hot keys while one of its text fields is in
// use. Main thread.
void pollInput(InputState& input, bool uiVisible);

// Clears the per-frame flags and forgets fingers that were lifted. Main thread, end of frame.
void endInputFrame(InputState& input);
