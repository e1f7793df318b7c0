#pragma once
// The credits: the game's name and who and what made it, with Back to Settings. Main thread, in
// a GUI frame.
#include <vector>

// One line of the credits after the title.
struct CreditLine {
    const char* text;
    float color[4];
};
const std::vector<CreditLine>& creditLines();

struct ScreenContext;

void drawCreditsScreen(const ScreenContext& context);
