#pragma once
// The app's side of the GUI: the screen context it lends the screens (its records and the
// routines a screen may ask for), the GUI part of a frame, and the steps that go with entering
// and leaving screens (the leaderboard's fetch, the calibration's click, the tutorial's song).
// Main thread.
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"

#include <cstdint>
#include <string>

struct App;

// The context for the screens of `app`: pointers into `app`, and routines bound to it. Valid
// while `app` is.
ScreenContext screenContext(App& app);

// Makes `bindings` the player's grid at once: the keys the round reads, the labels circles spawn
// with (under the game mutex), and prefs.json.
struct KeyBindings;
void applyKeyBindings(App& app, const KeyBindings& bindings);

// The Controls screen's binding of `cell` to the key at `scancode` (bindKey, the key named as the
// layout names it), applied as above when it is taken. False, with the reason in `message`, when the
// key is refused.
bool bindCellKey(App& app, std::uint32_t cell, std::uint32_t scancode, std::string& message);

// Builds the GUI of this frame (drawScreens) when the interface is shown.
void drawUI(App& app);

// goToScreen with `app`'s context: changes the screen (and the tutorial's page), then runs the
// steps of leaving the old screen and entering the new one.
void goToScreen(App& app, UIScreen next, int tutorialPage = 0);

// The results screen's Retry: asks for the level started last (LevelSession::lastStarted) to start
// again, as the menu's Start does, and goes to the menu, where its loading notice shows. Nothing
// happens when that level is not in the list or a start is already pending.
void retryLastLevel(App& app);

// --screen results and the screen tour: the results screen with sampleRoundSummary(), a made-up
// round for pictures and layout checks. Retry then starts the menu's chosen level, the sample
// having none of its own.
void showSampleResults(App& app);

// True while the results screen is up: chosen, and no round in play over it. Takes the game mutex.
bool resultsShown(App& app);

// Those steps, in this order: a change of screen clears the watch notice; leaving Calibration stops its
// click; leaving Controls stops its wait for a key; leaving the tutorial puts back the level its song
// replaced; leaving Add Level cancels a level being made; entering the leaderboard fetches the boards of the
// level list; entering Calibration stops a playing level and starts a run; entering a tutorial page applies
// its song's layers.
void runScreenSteps(App& app, UIScreen left, UIScreen entered);

// Tells the input record what Escape means this frame: the screen shown (calibration, results, any
// other but the main menu) and whether a round is in play over it; and whether the Controls screen
// waits for a key (capturingKey). Before the frame's poll.
void noteScreenForInput(App& app);

// The frame's ways back, after the pause keys: Escape (or the pad's B) on the results screen goes to
// the menu, on any other screen but the calibration (whose frame leaves it) where its Back button
// goes (goBack); but on the Controls screen B during a wait for a key only stops the wait.
void handleBackKeys(App& app);
