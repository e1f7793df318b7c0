#pragma once
// The frame's input from SDL's events: the record lives in game/input_state.hpp (the rules judge
// it); filling it from SDL is here.
#include "game/input_state.hpp"

#include <SDL3/SDL_events.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

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

// Back to the start-up state: all flags false, positions 0, containers empty; the key bindings stay.
void resetInput(InputState& input);

// A trigger's travel (SDL's axis value, 0 released to 32767 fully pulled) at which it is pressed,
// and below which it is released again.
constexpr std::int16_t kTriggerPressAt = 16000;
constexpr std::int16_t kTriggerReleaseBelow = 8000;

// Applies one SDL event to the input record (no GUI involvement), turning mouse and finger
// positions into drawable pixels with `scale`, the scale of the event's window. Presses and
// releases of keys, the left mouse button, fingers and gamepad buttons join `actions`: a key by
// the grid cell its scancode is bound to (not at all when none is), a button by its SDL number
// with its pad's id; a trigger is pressed past kTriggerPressAt and released below
// kTriggerReleaseBelow (kPadLeftTrigger, kPadRightTrigger).
// While the GUI has a text field in use (`guiTextInput`), Space, Escape and F12 belong to it: they
// neither start playback, nor quit, nor hide the GUI. Escape quits on the main menu; it leaves the
// calibration screen (leaveCalibration), the results screen (leaveResults) and any other screen
// (leaveScreen), and in a round asks for the pause (pauseRequested). A file dropped on the window
// adds its path to droppedFiles. While `input.capturingKey`, a key going down is only the key
// captured (capturedScancode; see InputState). Plain code.
void applyInputEvent(InputState& input, const SDL_Event& event, const PointerScale& scale,
                     bool guiTextInput = false);

// Drains the SDL event queue into the input record, and the gamepads' events into `pads` (when
// given). When uiVisible, each event is shown to the GUI first; the GUI never swallows it, except
// the hot keys while one of its text fields is in use. Space, which starts and stops the song, is
// kept from the GUI (where it would press the focused button) unless a text field is in use, and so
// is every key going down while a key is captured for a cell.
// Main thread.
struct Gamepads;
void pollInput(InputState& input, bool uiVisible, Gamepads* pads = nullptr);

// Clears the per-frame flags and forgets fingers that were lifted. Main thread, end of frame.
void endInputFrame(InputState& input);

// The keycode the current keyboard layout gives a key position (unshifted). Main thread.
std::uint32_t layoutKeycode(std::uint16_t scancode);
using KeycodeLookup = std::function<std::uint32_t(std::uint16_t scancode)>;

// The name the current layout gives a key position ("Space", "F12", "[", "A"), as messages name
// keys; SDL's name of the position when the layout gives none, else "Key N". Main thread.
std::string keyNameOf(std::uint16_t scancode);

// What the key bound to `cell` prints, as the circles show it (UTF-8: an upper-case letter, or a
// short name such as "Spc" when the key prints nothing), on the layout `lookup` reads; empty for a
// value that is no cell. Main thread.
std::string cellLabel(const KeyBindings& bindings, std::uint32_t cell,
                      const KeycodeLookup& lookup = layoutKeycode);

// The labels of every cell, in cell order (what GameState::cellLabels holds). Main thread.
std::array<std::string, kGridCells> cellLabels(const KeyBindings& bindings,
                                               const KeycodeLookup& lookup = layoutKeycode);
