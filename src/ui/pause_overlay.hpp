#pragma once
// The pause overlay over a paused round: "Paused" with Resume, Restart and Quit, and during the
// countdown that follows Resume a large 3, 2, 1 over the frozen scene. Traced as "pause_panel"
// (with its buttons "##resume", "##restart", "##quit") and "pause_countdown", each time they show,
// once their layout has settled. Main thread, in a GUI frame.
#include "ui/screen_context.hpp"

// Draws the overlay when context.pause says the round is paused; a button asks the app through the
// context (resumeRound, restartRound, quitRound).
void drawPauseOverlay(ScreenContext& context);

// The countdown's figure for `secondsLeft` of it: 3, 2 or 1 (the figure shows for a second each).
int countdownFigure(float secondsLeft);
