#include "app/input.hpp"

#include "app/gamepads.hpp"
#include "game/pad_buttons.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl3.h>

void resetInput(InputState& input) {
    const KeyBindings bindings = input.bindings; // the player's, not the frame's
    input = InputState{};
    input.bindings = bindings;
}

std::uint32_t layoutKeycode(std::uint16_t scancode) {
    return SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode), SDL_KMOD_NONE, false);
}

std::string cellLabel(const KeyBindings& bindings, std::uint32_t cell, const KeycodeLookup& lookup) {
    if (!isCell(cell)) {
        return std::string();
    }
    const std::uint32_t keycode = lookup(bindings.scancodes[cell]);
    const char* name =
        SDL_GetKeyName(keycode != SDLK_UNKNOWN ? keycode : SDL_SCANCODE_TO_KEYCODE(bindings.scancodes[cell]));
    return keyLabelText(keycode, name != nullptr ? name : "");
}

std::string keyNameOf(std::uint16_t scancode) {
    const char* name = SDL_GetKeyName(layoutKeycode(scancode));
    if (name == nullptr || *name == '\0') {
        name = SDL_GetScancodeName(static_cast<SDL_Scancode>(scancode));
    }
    return name != nullptr && *name != '\0' ? name : "Key " + std::to_string(scancode);
}

std::array<std::string, kGridCells> cellLabels(const KeyBindings& bindings, const KeycodeLookup& lookup) {
    std::array<std::string, kGridCells> labels;
    for (std::size_t cell = 0; cell < labels.size(); ++cell) {
        labels[cell] = cellLabel(bindings, static_cast<std::uint32_t>(cell), lookup);
    }
    return labels;
}

PointerScale pointerScaleOf(SDL_Window* window) {
    PointerScale scale;
    if (window == nullptr) {
        return scale;
    }
    const float density = SDL_GetWindowPixelDensity(window);
    scale.density = density > 0.0f ? density : 1.0f;
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window, &width, &height);
    scale.pixelWidth = static_cast<float>(width);
    scale.pixelHeight = static_cast<float>(height);
    return scale;
}

// SDL's scancodes are USB usage numbers, as the plain grid code assumes.
static_assert(SDL_SCANCODE_A == 4 && SDL_SCANCODE_Z == 29 && SDL_SCANCODE_COMMA == 54 &&
                  SDL_SCANCODE_ESCAPE == 41 && SDL_SCANCODE_SPACE == 44 && SDL_SCANCODE_F12 == 69 &&
                  SDL_SCANCODE_PRINTSCREEN == 70 && SDL_SCANCODE_LEFTBRACKET == 47 &&
                  SDL_SCANCODE_RIGHTBRACKET == 48,
              "scancode numbers");

static void addAction(InputState& input, InputKind kind, InputDevice device, std::uint64_t id,
                      std::uint32_t code, float x, float y, std::uint64_t ns) {
    input.actions.push_back(InputAction{kind, device, id, code, x, y, ns});
}

static_assert(SDL_GAMEPAD_BUTTON_SOUTH == kPadSouth && SDL_GAMEPAD_BUTTON_NORTH == kPadNorth &&
                  SDL_GAMEPAD_BUTTON_DPAD_RIGHT == kPadDpadRight &&
                  SDL_GAMEPAD_BUTTON_COUNT < kPadLeftTrigger,
              "pad button numbers");

// A trigger is a press once it passes kTriggerPressAt and a release once it falls below
// kTriggerReleaseBelow: between the two it stays as it was, so a trigger resting near one line
// does not chatter.
static void applyTriggerMotion(InputState& input, const SDL_GamepadAxisEvent& motion) {
    PadButton button = kNoPadButton;
    if (motion.axis == SDL_GAMEPAD_AXIS_LEFT_TRIGGER) {
        button = kPadLeftTrigger;
    } else if (motion.axis == SDL_GAMEPAD_AXIS_RIGHT_TRIGGER) {
        button = kPadRightTrigger;
    } else {
        return; // the sticks play nothing
    }
    const std::uint32_t code = static_cast<std::uint32_t>(button);
    const std::uint64_t held = gamepadInputId(motion.which, code);
    const bool down = input.triggersDown.count(held) != 0;
    if (!down && motion.value >= kTriggerPressAt) {
        input.triggersDown.insert(held);
        addAction(input, InputKind::Press, InputDevice::Gamepad, motion.which, code, 0.0f, 0.0f,
                  motion.timestamp);
    } else if (down && motion.value < kTriggerReleaseBelow) {
        input.triggersDown.erase(held);
        addAction(input, InputKind::Release, InputDevice::Gamepad, motion.which, code, 0.0f, 0.0f,
                  motion.timestamp);
    }
}

void applyInputEvent(InputState& input, const SDL_Event& event, const PointerScale& scale,
                     bool guiTextInput) {
    const InputKind press = InputKind::Press, release = InputKind::Release;
    switch (event.type) {
    case SDL_EVENT_QUIT:
        input.quitRequested = true;
        break;
    case SDL_EVENT_WINDOW_FOCUS_LOST:
        input.focusLost = true;
        break;
    case SDL_EVENT_KEY_DOWN:
        if (event.key.repeat) {
            break;
        }
        if (input.capturingKey) {
            // The key to bind: the first one of the frame, and nothing else.
            if (input.capturedScancode == 0) {
                input.capturedScancode = event.key.scancode;
            }
            break;
        }
        input.keysHeld.insert(event.key.key);
        input.keysPressed.insert(event.key.key);
        input.keyPressNs[event.key.key] = event.key.timestamp;
        if (event.key.scancode == SDL_SCANCODE_LEFTBRACKET) {
            input.markLoopStartNs = event.key.timestamp;
        } else if (event.key.scancode == SDL_SCANCODE_RIGHTBRACKET) {
            input.markLoopEndNs = event.key.timestamp;
        }
        // The grid goes by the key's position, whatever the layout prints on it.
        if (const std::uint32_t cell = cellForScancode(input.bindings, event.key.scancode); isCell(cell)) {
            addAction(input, press, InputDevice::Key, 0, cell, 0.0f, 0.0f, event.key.timestamp);
        }
        if (guiTextInput &&
            (event.key.key == SDLK_ESCAPE || event.key.key == SDLK_SPACE || event.key.key == SDLK_F12)) {
            break; // typed into the GUI's text field
        }
        if (event.key.key == SDLK_ESCAPE) {
            // On the calibration and results screens Escape leaves the screen, not the game.
            if (input.calibrating) {
                input.leaveCalibration = true;
            } else if (input.showingResults) {
                input.leaveResults = true;
            } else if (input.inRound) {
                input.pauseRequested = true;
            } else if (input.onSubScreen) {
                input.leaveScreen = true;
            } else {
                input.quitRequested = true;
            }
        } else if (event.key.key == SDLK_SPACE && !input.calibrating) {
            input.togglePlayback = true; // on the calibration screen Space is a tap
        } else if (event.key.key == SDLK_F12) {
            input.toggleGui = true;
        } else if (event.key.key == SDLK_PRINTSCREEN) {
            input.screenshotRequested = true;
        }
        break;
    case SDL_EVENT_KEY_UP:
        if (event.key.repeat) {
            break;
        }
        input.keysHeld.erase(event.key.key);
        input.keysReleased.insert(event.key.key);
        if (const std::uint32_t cell = cellForScancode(input.bindings, event.key.scancode); isCell(cell)) {
            addAction(input, release, InputDevice::Key, 0, cell, 0.0f, 0.0f, event.key.timestamp);
        }
        break;
    case SDL_EVENT_KEYMAP_CHANGED:
        input.keymapChanged = true;
        break;
    case SDL_EVENT_GAMEPAD_BUTTON_DOWN:
    case SDL_EVENT_GAMEPAD_BUTTON_UP: {
        const SDL_GamepadButtonEvent& button = event.gbutton;
        if (button.button == SDL_GAMEPAD_BUTTON_BACK) {
            if (button.down) {
                input.padBackHeld.insert(button.which);
            } else {
                input.padBackHeld.erase(button.which);
            }
        }
        // With Back held a shoulder marks the practice loop (left A, right B) instead of playing.
        const bool shoulder = button.button == SDL_GAMEPAD_BUTTON_LEFT_SHOULDER ||
                              button.button == SDL_GAMEPAD_BUTTON_RIGHT_SHOULDER;
        if (shoulder && input.padBackHeld.count(button.which) != 0) {
            if (button.down) {
                (button.button == SDL_GAMEPAD_BUTTON_LEFT_SHOULDER ? input.markLoopStartNs
                                                                   : input.markLoopEndNs) = button.timestamp;
            }
            break;
        }
        addAction(input, button.down ? press : release, InputDevice::Gamepad, button.which, button.button,
                  0.0f, 0.0f, button.timestamp);
        break;
    }
    case SDL_EVENT_GAMEPAD_AXIS_MOTION:
        applyTriggerMotion(input, event.gaxis);
        break;
    case SDL_EVENT_MOUSE_MOTION:
        input.mouseX = pointsToPixels(event.motion.x, scale.density);
        input.mouseY = pointsToPixels(event.motion.y, scale.density);
        break;
    case SDL_EVENT_MOUSE_BUTTON_DOWN:
        if (event.button.button == SDL_BUTTON_LEFT) {
            input.mousePressed = true;
            input.mouseHeld = true;
            input.mouseX = pointsToPixels(event.button.x, scale.density);
            input.mouseY = pointsToPixels(event.button.y, scale.density);
            addAction(input, press, InputDevice::Mouse, 0, 0, input.mouseX, input.mouseY,
                      event.button.timestamp);
        }
        break;
    case SDL_EVENT_MOUSE_BUTTON_UP:
        if (event.button.button == SDL_BUTTON_LEFT) {
            input.mouseReleased = true;
            input.mouseHeld = false;
            input.mouseX = pointsToPixels(event.button.x, scale.density);
            input.mouseY = pointsToPixels(event.button.y, scale.density);
            addAction(input, release, InputDevice::Mouse, 0, 0, input.mouseX, input.mouseY,
                      event.button.timestamp);
        }
        break;
    case SDL_EVENT_FINGER_DOWN: {
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.held = true;
        touch.pressed = true;
        touch.released = false;
        touch.x = event.tfinger.x * scale.pixelWidth;
        touch.y = event.tfinger.y * scale.pixelHeight;
        addAction(input, press, InputDevice::Finger, event.tfinger.fingerID, 0, touch.x, touch.y,
                  event.tfinger.timestamp);
        break;
    }
    case SDL_EVENT_FINGER_MOTION: {
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.x = event.tfinger.x * scale.pixelWidth;
        touch.y = event.tfinger.y * scale.pixelHeight;
        break;
    }
    case SDL_EVENT_FINGER_UP: {
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.held = false;
        touch.released = true;
        addAction(input, release, InputDevice::Finger, event.tfinger.fingerID, 0, touch.x, touch.y,
                  event.tfinger.timestamp);
        break;
    }
    case SDL_EVENT_DROP_FILE:
        if (event.drop.data != nullptr) {
            input.droppedFiles.emplace_back(event.drop.data);
        }
        break;
    default:
        break;
    }
}

// The window an input event belongs to; events without one (quit, keys of no window) get none.
static SDL_Window* eventWindow(const SDL_Event& event) {
    switch (event.type) {
    case SDL_EVENT_MOUSE_MOTION:
        return SDL_GetWindowFromID(event.motion.windowID);
    case SDL_EVENT_MOUSE_BUTTON_DOWN:
    case SDL_EVENT_MOUSE_BUTTON_UP:
        return SDL_GetWindowFromID(event.button.windowID);
    case SDL_EVENT_FINGER_DOWN:
    case SDL_EVENT_FINGER_MOTION:
    case SDL_EVENT_FINGER_UP:
        return SDL_GetWindowFromID(event.tfinger.windowID);
    default:
        return nullptr;
    }
}

// The GUI takes events once its SDL back-end is up (not in tests that run without a window).
static bool guiTakesEvents(bool uiVisible) {
    return uiVisible && ImGui::GetCurrentContext() != nullptr &&
           ImGui::GetIO().BackendPlatformUserData != nullptr;
}

void pollInput(InputState& input, bool uiVisible, Gamepads* pads) {
    // Every event that happened before this moment is in the queue now.
    input.polledNs = SDL_GetTicksNS();
    const bool gui = guiTakesEvents(uiVisible);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        // WantTextInput is the GUI's state as of its last frame: a field that was in use then
        // receives this frame's keys.
        const bool textInput = gui && ImGui::GetIO().WantTextInput;
        const bool keyDown = event.type == SDL_EVENT_KEY_DOWN;
        const bool spaceDown = keyDown && event.key.key == SDLK_SPACE;
        // A key being captured for a cell moves no focus and presses no button; its release still
        // goes to the GUI, which would otherwise hold the key that started the capture.
        if (gui && (textInput || !spaceDown) && !(keyDown && input.capturingKey)) {
            ImGui_ImplSDL3_ProcessEvent(&event);
        }
        if (pads != nullptr) {
            applyGamepadEvent(*pads, event);
        }
        applyInputEvent(input, event, pointerScaleOf(eventWindow(event)), textInput);
    }
}

void endInputFrame(InputState& input) {
    input.togglePlayback = false;
    input.leaveCalibration = false;
    input.leaveResults = false;
    input.leaveScreen = false;
    input.pauseRequested = false;
    input.focusLost = false;
    input.markLoopStartNs = 0;
    input.markLoopEndNs = 0;
    input.toggleGui = false;
    input.screenshotRequested = false;
    input.mousePressed = false;
    input.mouseReleased = false;
    input.actions.clear();
    input.keymapChanged = false;
    input.capturedScancode = 0;
    input.keysPressed.clear();
    input.keysReleased.clear();
    input.keyPressNs.clear();
    input.droppedFiles.clear();
    for (auto it = input.touches.begin(); it != input.touches.end();) {
        it->second.pressed = false;
        if (!it->second.held) {
            it = input.touches.erase(it);
        } else {
            ++it;
        }
    }
}
