#pragma once
// The settings screen: the player's name (taken and stored only by Save), keyboard gameplay, the
// music volume, the audio offset and the audio buffer (applied and stored at once), and the ways
// on to the calibration screen and the credits.
// Main thread, in a GUI frame.
#include <string>

struct ScreenContext;

// Width factor of the bottom row of buttons for a panel `availableWidth` pixels wide at scale
// `s`: 1, or less when the row (three 400 s buttons and two 40 s gaps, sized for 1280 s) would not
// fit.
float settingsButtonRowFactor(float availableWidth, float s);

// What Save does with the paste field's text for `name`: nothing when it is empty (true); a key
// (surrounding blanks ignored) is stored for `name` on `baseUrl` in the prefs file at `prefsPath`
// and the field cleared (true); anything else is refused with "Not a key: 22 of A-Z a-z 0-9 - _" in
// `gUI.settings.key.message` and the field kept (false). Main thread.
bool storePastedPlayerKey(const std::string& prefsPath, const std::string& baseUrl, const std::string& name);

void drawSettingsScreen(ScreenContext& context);

// Leaves the screen for `next` (Back: the main menu; Credits), dropping the name and key fields'
// unsaved edits.
enum class UIScreen;
void leaveSettings(const ScreenContext& context, UIScreen next);
