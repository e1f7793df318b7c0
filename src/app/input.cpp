#include "app/input.hpp"

#include <SDL3/SDL.h>

void resetInput(InputState& input) { input = InputState{}; }

// Finger positions arrive normalised to the window; scale them to its size in pixels.
static void fingerWindowSize(const SDL_TouchFingerEvent& finger, int& width, int& height) {
    width = 0;
    height = 0;
    if (SDL_Window* window = SDL_GetWindowFromID(finger.windowID)) {
        SDL_GetWindowSize(window, &width, &height);
    }
}

void applyInputEvent(InputState& input, const SDL_Event& event) {
    switch (event.type) {
    case SDL_EVENT_QUIT:
        input.quitRequested = true;
        break;
    case SDL_EVENT_KEY_DOWN:
        if (event.key.repeat) {
            break;
        }
        input.keysHeld.insert(event.key.key);
        input.keysPressed.insert(event.key.key);
        if (event.key.key == SDLK_ESCAPE) {
            input.quitRequested = true;
        } else if (event.key.key == SDLK_SPACE) {
            input.togglePlayback = true;
        } else if (event.key.key == SDLK_F12) {
            input.toggleGui = true;
        }
        break;
    case SDL_EVENT_KEY_UP:
        if (event.key.repeat) {
            break;
        }
        input.keysHeld.erase(event.key.key);
        input.keysReleased.insert(event.key.key);
        break;
    case SDL_EVENT_MOUSE_MOTION:
        input.mouseX = event.motion.x;
        input.mouseY = event.motion.y;
        break;
    case SDL_EVENT_MOUSE_BUTTON_DOWN:
        if (event.button.button == SDL_BUTTON_LEFT) {
            input.mousePressed = true;
            input.mouseHeld = true;
            input.mouseX = event.button.x;
            input.mouseY = event.button.y;
        }
        break;
    case SDL_EVENT_MOUSE_BUTTON_UP:
        if (event.button.button == SDL_BUTTON_LEFT) {
            input.mouseReleased = true;
            input.mouseHeld = false;
            input.mouseX = event.button.x;
            input.mouseY = event.button.y;
        }
        break;
    case SDL_EVENT_FINGER_DOWN: {
        int width = 0, height = 0;
        fingerWindowSize(event.tfinger, width, height);
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.held = true;
        touch.pressed = true;
        touch.released = false;
        touch.x = event.tfinger.x * static_cast<float>(width);
        touch.y = event.tfinger.y * static_cast<float>(height);
        break;
    }
    case SDL_EVENT_FINGER_MOTION: {
        int width = 0, height = 0;
        fingerWindowSize(event.tfinger, width, height);
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.x = event.tfinger.x * static_cast<float>(width);
        touch.y = event.tfinger.y * static_cast<float>(height);
        break;
    }
    case SDL_EVENT_FINGER_UP: {
        TouchPoint& touch = input.touches[event.tfinger.fingerID];
        touch.held = false;
        touch.released = true;
        break;
    }
    default:
        break;
    }
}

void pollInput(InputState& input, bool uiVisible) {
    (void)uiVisible; // the GUI sees events once it is part of the frame
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        applyInputEvent(input, event);
    }
}

void endInputFrame(InputState& input) {
    input.togglePlayback = false;
    input.toggleGui = false;
    input.mousePressed = false;
    input.mouseReleased = false;
    input.keysPressed.clear();
    input.keysReleased.clear();
    for (auto it = input.touches.begin(); it != input.touches.end();) {
        it->second.pressed = false;
        if (!it->second.held) {
            it = input.touches.erase(it);
        } else {
            ++it;
        }
    }
}
