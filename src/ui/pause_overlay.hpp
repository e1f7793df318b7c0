#pragma once
// The pause overlay over a paused round: "Paused" with Resume, Restart and Quit, and during the
// countdown that follows Resume a large 3, 2, 1 over the frozen scene. In a practice round a row
// below the buttons sets the speed ("-", "Speed 75 %", "+": 50 % to 100 % by 5) and clears the A-B
// loop. Traced as "pause_panel" (with its buttons "##resume", "##restart", "##quit", and in practice
// "##speed_down", "pause_speed", "##speed_up", "##clear_loop") and "pause_countdown", each time they
// show, once their layout has settled. Main thread, in a GUI frame.
#include "ui/screen_context.hpp"

#include <cstdint>
#include <string>

// The speeds the overlay steps through (percent).
constexpr std::int32_t kPracticeSpeedMinPercent = 50;
constexpr std::int32_t kPracticeSpeedMaxPercent = 100;
constexpr std::int32_t kPracticeSpeedStep = 5;

// Draws the overlay when context.pause says the round is paused; a button asks the app through the
// context (resumeRound, restartRound, quitRound).
void drawPauseOverlay(ScreenContext& context);

// The countdown's figure for `secondsLeft` of it: 3, 2 or 1 (the figure shows for a second each).
int countdownFigure(float secondsLeft);

// The speed as the overlay and the HUD show it: "Speed 75 %".
std::string practiceSpeedText(std::int32_t percent);
