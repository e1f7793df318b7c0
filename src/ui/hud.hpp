#pragma once
// The in-game HUD: a score panel at the top centre, a bar of stem segments along the top edge
// (one per stem, lit for the layers unlocked) and a round red exit button at the top right.
// Main thread only; needs a GUI frame.
#include <cstdint>
#include <string>
#include <vector>

struct ScreenContext;
struct GameState;

// One coloured text of the score panel.
struct HudText {
    std::string text;
    float color[4];
};

// The score panel's four texts for these values: "Score: %d" gold, "Best: %d" green when the score
// beats it (else grey), or "Autoplay" (grey) under autoplay, whose rounds are not the player's,
// "x%.1f" pale blue, "Combo: %d" green from a combo of 1 (else grey).
std::vector<HudText> scoreHudTexts(std::int32_t score, std::int32_t highScore, float multiplier,
                                   std::int32_t combo, bool autoplay = false);

// One segment of the stem bar, in GUI pixels relative to the bar's window.
struct StemSegment {
    float x0, x1;
    bool lit;
};

// Segments for `stems` stems with `activeLayers` unlocked across a display `width` wide at scale
// `s`: a margin of a tenth of the width on each side, segments of (width - 2 margin) / stems, each
// followed by a gap of 2 s. None for no stems.
std::vector<StemSegment> stemSegments(int stems, int activeLayers, float width, float s);

// The width the exit button takes at the right edge, margin included, at scale `s`: the score panel
// keeps clear of it (and of as much on the left, to stay centred), going to two lines if need be.
float hudExitButtonSpace(float s);

void drawScoreHud(ScreenContext& context);
void drawStemProgressBar(ScreenContext& context);
void drawExitButton(ScreenContext& context);
