#pragma once
// --screen-tour: the game steps through every screen by itself, each shown for a few frames, then
// quits. With VIBRELLE_UI_TRACE=1 every screen's items are traced on the way, so that one run per
// window size checks them all. The order: menu, loading (the first level's notice, held), playing
// (that level, with the HUD), results (of a sample round), settings, controls, calibration, credits,
// leaderboard, add level (a made-up level being made), tutorial pages 0 to 4. Main thread.
struct App;

constexpr int kScreenTourFrames = 6; // frames each screen is shown: it is traced on the third

struct ScreenTour {
    int step = -1;  // the screen shown, an index into the order above; -1 before the first frame
    int frames = 0; // frames it has been shown
};

// Called once per frame before the GUI: moves on to the next screen when this one has been shown
// long enough, and asks to quit after the last ("Screen tour: done").
void screenTourFrame(App& app);
