#include "app/gamepads.hpp"

#include "app/app.hpp"
#include "app/round_pause.hpp"
#include "base/log.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl3.h>

#include <algorithm>

bool gamepadsInit(Gamepads& pads) {
    if (!SDL_InitSubSystem(SDL_INIT_GAMEPAD)) {
        logError(stderr, "Gamepads unavailable: %s", SDL_GetError());
        return false;
    }
    pads.ready = true;
    pads.changed = true; // the GUI reads no pad until it is told the (empty) list
    return true;
}

void gamepadsShutdown(Gamepads& pads) {
    for (ConnectedPad& pad : pads.pads) {
        SDL_CloseGamepad(pad.pad);
    }
    pads.pads.clear();
    pads.changed = true;
    if (pads.ready) {
        SDL_QuitSubSystem(SDL_INIT_GAMEPAD);
        pads.ready = false;
    }
}

static std::vector<ConnectedPad>::iterator findPad(Gamepads& pads, SDL_JoystickID id) {
    return std::find_if(pads.pads.begin(), pads.pads.end(),
                        [id](const ConnectedPad& pad) { return pad.id == id; });
}

static void padAdded(Gamepads& pads, SDL_JoystickID id) {
    if (findPad(pads, id) != pads.pads.end()) {
        return;
    }
    SDL_Gamepad* pad = SDL_OpenGamepad(id);
    if (pad == nullptr) {
        logError(stderr, "Failed to open gamepad %u: %s", static_cast<unsigned>(id), SDL_GetError());
        return;
    }
    const char* name = SDL_GetGamepadName(pad);
    pads.pads.push_back(ConnectedPad{id, pad, name != nullptr ? name : "Gamepad"});
    pads.changed = true;
    logMessage("Gamepad connected: %s", pads.pads.back().name.c_str());
}

static void padRemoved(Gamepads& pads, SDL_JoystickID id) {
    const auto found = findPad(pads, id);
    if (found == pads.pads.end()) {
        return;
    }
    logMessage("Gamepad disconnected: %s", found->name.c_str());
    SDL_CloseGamepad(found->pad);
    pads.pads.erase(found);
    pads.changed = true;
    pads.disconnected = true;
}

bool applyGamepadEvent(Gamepads& pads, const SDL_Event& event) {
    switch (event.type) {
    case SDL_EVENT_GAMEPAD_ADDED:
        padAdded(pads, event.gdevice.which);
        return true;
    case SDL_EVENT_GAMEPAD_REMOVED:
        padRemoved(pads, event.gdevice.which);
        return true;
    case SDL_EVENT_GAMEPAD_BUTTON_DOWN:
        if (findPad(pads, event.gbutton.which) != pads.pads.end()) {
            pads.backPressed |= event.gbutton.button == SDL_GAMEPAD_BUTTON_EAST;
            pads.startPressed |= event.gbutton.button == SDL_GAMEPAD_BUTTON_START;
        }
        return true;
    case SDL_EVENT_GAMEPAD_BUTTON_UP:
    case SDL_EVENT_GAMEPAD_AXIS_MOTION:
    case SDL_EVENT_GAMEPAD_REMAPPED:
        return true;
    default:
        return false;
    }
}

void endGamepadFrame(Gamepads& pads) {
    pads.backPressed = false;
    pads.startPressed = false;
    pads.disconnected = false;
}

void gamepadsToGui(Gamepads& pads) {
    if (!pads.changed || ImGui::GetCurrentContext() == nullptr ||
        ImGui::GetIO().BackendPlatformUserData == nullptr) {
        return;
    }
    std::vector<SDL_Gamepad*> open;
    for (const ConnectedPad& pad : pads.pads) {
        open.push_back(pad.pad);
    }
    // Manual: the back-end reads these pads and never opens or closes one itself.
    ImGui_ImplSDL3_SetGamepadMode(ImGui_ImplSDL3_GamepadMode_Manual, open.empty() ? nullptr : open.data(),
                                  static_cast<int>(open.size()));
    pads.changed = false;
}

void applyGamepadButtons(App& app) {
    InputState& input = app.input;
    const Gamepads& pads = app.gamepads;
    if (input.inRound) {
        // In a round the pad's buttons are the round's, but Start (and B on the pause overlay).
        if (pads.startPressed || (pads.backPressed && app.pause.paused)) {
            input.pauseRequested = true;
        }
        if (pads.disconnected && !app.watch.active && !app.options.autoplay) {
            pauseRound(app);
        }
        return;
    }
    if (!pads.backPressed) {
        return;
    }
    if (input.calibrating) {
        input.leaveCalibration = true;
    } else if (input.showingResults) {
        input.leaveResults = true;
    } else if (input.onSubScreen) {
        input.leaveScreen = true;
    }
}
