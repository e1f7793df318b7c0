#pragma once
// A practice round's HUD: one line at the foot of the screen with "Practice", its speed and its
// loop ("Loop 12.0 s to 18.0 s", "Loop from 12.0 s: ] (or Back + RB) marks its end", or how to
// mark one), the last mark's note beside it, and during a loop's count-in a large 4, 3, 2, 1 in the middle.
// A watched practice replay shows the same line and count-in, without the marking hints: its loop
// shows once a jump has told it ("Practice · Speed 75 %" before).
// Traced as "hud_practice" and "practice_count_in". Main thread, in a GUI frame.
#include "ui/screen_context.hpp"

#include <string>

// The line's text for `practice`: "Practice · Speed 75 % · Loop 12.0 s to 18.0 s".
std::string practiceHudText(const PracticeView& practice);

// Draws the line and the count-in when context.practice is active; nothing otherwise.
void drawPracticeHud(ScreenContext& context);
