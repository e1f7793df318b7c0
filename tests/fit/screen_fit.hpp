#pragma once
// Reading the game's trace of a screen tour (VIBRELLE_UI_TRACE=1 --screen-tour) and checking that
// every screen fits its window: no traced item partly outside the window, no two items of a screen
// partly over each other (an item wholly inside another, a button in its panel, is fine).
#include <string>
#include <vector>

struct TracedItem {
    std::string id;
    int x = 0, y = 0, w = 0, h = 0; // window pixels
};

struct TracedScreen {
    std::string name; // "menu", "settings", "tutorial:3", ...
    int width = 0, height = 0;
    std::vector<TracedItem> items;
};

// The screens of a log, in order: each "UI screen: <name> <w> <h>" line starts one, and the
// "UI: <id> <x> <y> <w> <h>" lines after it are its items.
std::vector<TracedScreen> readTracedScreens(const std::string& log);

// What is wrong with a screen, one line each ("settings: ##save 10 700 200 90 leaves 1280x720"),
// none when it fits.
std::vector<std::string> fitProblems(const TracedScreen& screen);
