#pragma once
// The screen switch: which screen a frame shows, and the GUI part of the frame that draws it, the
// loading notice over it and the tutorial's song. Main thread.
#include "ui/ui_system.hpp"

struct App;

// Builds the GUI of this frame: the screen the flags choose. Takes the game mutex for what it reads
// of the game and the audio system and for what it changes there.
void drawUI(App& app);

// With VIBRELLE_UI_TRACE=1, "UI screen: <name> <w> <h>" starts each screen's traced items:
// menu, loading, playing, settings, calibration, credits, leaderboard or tutorial:<page>, with the
// window's drawable size. Logged by drawUI once the screen has settled.
const char* tracedScreenName(UIScreen screen, int tutorialPage, bool loading);
