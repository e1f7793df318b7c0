#pragma once
// The settings screen: the player's name (taken and stored only by Save), keyboard gameplay, the
// music volume, the audio offset and the audio buffer (applied and stored at once), and the ways
// on to the calibration screen and the credits.
// Main thread, in a GUI frame.
#include "base/utf8.hpp"

#include <cstddef>
#include <string>

struct App;

// The name field's text: at most kMaxNameBytes (64) bytes and a terminating zero.
constexpr std::size_t kPlayerNameBufferSize = kMaxNameBytes + 1;
extern char playerNameBuffer[kPlayerNameBufferSize];
// The buffer holds the stored name; cleared by Back and Credits so that unsaved edits are dropped.
extern bool playerNameBufferLoaded;

// Width factor of the bottom row of buttons for a panel `availableWidth` pixels wide at scale
// `s`: 1, or less when the row (three 400 s buttons and two 40 s gaps, sized for 1280 s) would not
// fit.
float settingsButtonRowFactor(float availableWidth, float s);

// The player key, on the name heading's line: the key the player holds for the current leaderboard
// server and name, hidden until "Show key" is pressed, and a field that takes a key pasted from
// another computer, stored with the name by Save. State of its own, reset when the screen is left.
struct SettingsKeyState {
    bool loaded = false;   // read from prefs.json for this visit (cleared when a new key is stored)
    std::string key;       // held for the current server and name, "" when none
    bool revealed = false; // "Show key" pressed in this visit
    char pasted[64] = {};  // the paste field (longer than a key, so that a wrong paste shows as one)
    std::string message;   // what the last Save said about a pasted key, "" when nothing
};
extern SettingsKeyState settingsKeyState;

// What Save does with the paste field's text for `name`: nothing when it is empty (true); a key
// (surrounding blanks ignored) is stored for `name` on `baseUrl` in the prefs file at `prefsPath`
// and the field cleared (true); anything else is refused with "Not a key: 22 of A-Z a-z 0-9 - _" in
// `settingsKeyState.message` and the field kept (false). Main thread.
bool storePastedPlayerKey(const std::string& prefsPath, const std::string& baseUrl, const std::string& name);

void drawSettingsScreen(App& app);
