#pragma once
// The screen switch: which screen a frame shows, and the GUI part of the frame that draws it and
// the loading notice over it. Main thread.
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"

// Builds the GUI of this frame: a round in play shows the HUD, else the screen chosen (gUI.screen).
// Takes the game mutex for what it reads of the game and the audio system and for what it changes
// there.
void drawScreens(ScreenContext& context);

// With VIBRELLE_UI_TRACE=1, "UI screen: <name> <w> <h>" starts each screen's traced items:
// menu, loading, playing, results, settings, calibration, credits, leaderboard, addlevel or tutorial:<page>,
// with the window's drawable size. Logged by drawScreens once the screen has settled.
const char* tracedScreenName(UIScreen screen, int tutorialPage, bool loading);

// Escape (or the pad's B) on the screen chosen: goes where the screen's Back button goes (Settings,
// the leaderboard and Add Level to the main menu, the credits and the calibration to Settings, the results to
// the main menu as their Menu button does, the tutorial one page back and from its first page to
// the main menu). False on the main menu, which has no way back (there Escape quits). Main thread.
bool goBack(const ScreenContext& context);
