#pragma once
// The settings screen: the player's name (taken and stored only by Save), keyboard gameplay, the
// music volume, the audio offset and the audio buffer (applied and stored at once), and the ways
// on to the calibration screen and the credits.
// Main thread, in a GUI frame.
#include <cstddef>

struct App;

// The name field's text: at most 63 bytes and a terminating zero.
constexpr std::size_t kPlayerNameBufferSize = 64;
extern char playerNameBuffer[kPlayerNameBufferSize];
// The buffer holds the stored name; cleared by Back and Credits so that unsaved edits are dropped.
extern bool playerNameBufferLoaded;

// Width factor of the bottom row of buttons for a panel `availableWidth` pixels wide at scale
// `s`: 1, or less when the row (three 400 s buttons and two 40 s gaps, sized for 1280 s) would not
// fit.
float settingsButtonRowFactor(float availableWidth, float s);

void drawSettingsScreen(App& app);
