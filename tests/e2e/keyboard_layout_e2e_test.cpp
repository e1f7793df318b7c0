// A French (AZERTY) keyboard, on an X server of the test's own: SDL reads the layout X gives it,
// a real key event goes through the game's input layer, and the grid keeps its shape while the
// circles take the letters the French layout prints.
#include "app/input.hpp"
#include "game/circles.hpp"
#include "game/judgement.hpp"
#include "virtual_display.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Feeds SDL's events through the input layer until `done` holds, for at most five seconds.
bool pumpUntil(InputState& input, const std::function<bool()>& done) {
    const Uint64 until = SDL_GetTicks() + 5000;
    SDL_Event event;
    while (!done() && SDL_GetTicks() < until) {
        if (SDL_WaitEventTimeout(&event, 50)) {
            applyInputEvent(input, event, PointerScale{});
        }
    }
    return done();
}

bool setLayout(int display, const char* layout) {
    const std::string command = "setxkbmap -display :" + std::to_string(display) + " " + layout;
    return std::system(command.c_str()) == 0;
}

TEST(KeyboardLayout, AnAzertyKeyPlaysTheCellAtItsPositionAndItsCircleShowsTheFrenchLetter) {
    const VirtualDisplay display(320, 240);
    ASSERT_GE(display.number, 0) << "Xvfb did not start";
    ASSERT_TRUE(setLayout(display.number, "us"));
    const std::string name = ":" + std::to_string(display.number);
    setenv("DISPLAY", name.c_str(), 1);
    SDL_SetHint(SDL_HINT_VIDEO_DRIVER, "x11");
    ASSERT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("layout", 320, 240, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_SyncWindow(window);
    // The US layout: the grid's top-left key prints Q.
    const std::uint32_t topLeft = cellOf(0, 2), middleLeft = cellOf(0, 1), bottomLeft = cellOf(0, 0);
    EXPECT_EQ(cellLabels(defaultKeyBindings())[topLeft], "Q");
    Display* x = XOpenDisplay(name.c_str());
    ASSERT_NE(x, nullptr);
    const KeyCode qPosition = XKeysymToKeycode(x, XK_q);
    XCloseDisplay(x); // Xlib keeps the keymap it first read: the French one needs a new connection

    // The layout changes under the running game: SDL says so, and the labels follow.
    InputState input;
    ASSERT_TRUE(setLayout(display.number, "fr"));
    ASSERT_TRUE(pumpUntil(input, [&] { return input.keymapChanged; })) << "no keymap change arrived";
    const std::array<std::string, kGridCells> labels = cellLabels(defaultKeyBindings());
    EXPECT_EQ(labels[topLeft], "A");
    EXPECT_EQ(labels[middleLeft], "Q");
    EXPECT_EQ(labels[bottomLeft], "W");
    EXPECT_EQ(labels[cellOf(7, 0)], ";") << "the key right of M on a US keyboard";
    // The key that prints A on AZERTY is the one that printed Q: the position is the same.
    x = XOpenDisplay(name.c_str());
    ASSERT_NE(x, nullptr);
    ASSERT_EQ(XKeysymToKeycode(x, XK_a), qPosition);

    // A real press of that key plays the top-left cell.
    const auto xWindow = static_cast<Window>(
        SDL_GetNumberProperty(SDL_GetWindowProperties(window), SDL_PROP_WINDOW_X11_WINDOW_NUMBER, 0));
    XSetInputFocus(x, xWindow, RevertToParent, CurrentTime);
    XTestFakeKeyEvent(x, qPosition, True, CurrentTime);
    XTestFakeKeyEvent(x, qPosition, False, CurrentTime);
    XSync(x, False);
    ASSERT_TRUE(pumpUntil(input, [&] { return input.actions.size() >= 2; })) << "the key press never arrived";
    const InputAction& press = input.actions[0];
    EXPECT_EQ(press.kind, InputKind::Press);
    EXPECT_EQ(press.device, InputDevice::Key);
    EXPECT_EQ(press.code, topLeft);
    EXPECT_GT(press.ns, 0u);
    EXPECT_LE(press.ns, input.actions[1].ns);
    EXPECT_EQ(input.keysPressed.count(SDLK_A), 1u) << "the layout's own key, for the hot keys";

    // A circle of that cell, spawned with the layout's labels, shows A and is hit by that press.
    GameState game;
    game.keyboardGameplay = true;
    game.playing = true;
    game.cellLabels = labels;
    MidiNoteEvent note;
    note.note = 5;       // the leftmost lane
    note.velocity = 120; // the top row
    note.isNoteOn = true;
    spawnCircle(game, note, 0, 1280, 720, 1.0);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_EQ(game.circles[0].keyLabel, "A");
    EXPECT_EQ(findCircleForButton(game, press.device, press.code, 1.0), 0);

    XCloseDisplay(x);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

} // namespace
