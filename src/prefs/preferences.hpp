#pragma once
// The player's settings that outlive the process, in "prefs.json" in the per-user folder SDL gives
// the game (organisation "Kvo", application "Vibrelle"): the player's name, keyboard gameplay and
// the music volume, the audio offset, the audio buffer, the GUI scale and the key bindings. Each setting has
// its own load and save; a save re-reads the file and changes only its own key, so the other settings and
// keys this version does not know survive. Nothing is cached. A problem never stops the game: loads fall back
// to the caller's default, saves report. Main thread.
#include "game/calibration.hpp"
#include "game/key_grid.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

// The file's path: SDL's preference folder + "prefs.json", or "prefs.json" in the working folder
// when SDL cannot give one ("SDL_GetPrefPath failed: %s" on stderr).
std::string getPrefsPath();

// The stored "playerName" when it is a non-empty string, else `fallback`.
std::string loadPlayerName(const std::string& fallback);

// The stored "keyboardGameplay" when it is a boolean, else `fallback`.
bool loadKeyboardGameplay(bool fallback);

// The stored "musicVolume" when it is a number (clamped to 0..1), else `fallback`.
float loadMusicVolume(float fallback);

// The player's audio offset (kAudioOffsetMinMs..kAudioOffsetMaxMs, game/calibration.hpp).
// The stored "audioOffsetMs" when it is a number (rounded, clamped to -300..300), else `fallback`.
int loadAudioOffsetMs(int fallback);

// Stores the offset (clamped to -300..300) as an integer. Logs "Audio offset saved to %s: %d ms".
void saveAudioOffsetMs(int offsetMs);

// Stores the name (sanitised: see storablePlayerName). Logs "Player name saved to %s".
void savePlayerName(const std::string& name);

// Stores the flag. Logs "Keyboard gameplay setting saved to %s: enabled|disabled".
void saveKeyboardGameplay(bool enabled);

// Stores the volume (0..1). Logs "Music volume saved to %s: %d%%".
void saveMusicVolume(float volume);

// The speed practice rounds last played at: the stored "practiceSpeedPercent" when it is a number
// (onto 50..100 in steps of 5), else `fallback`. A missing or bad file gives `fallback` silently.
int loadPracticeSpeedPercent(int fallback);

// Stores the practice speed (onto 50..100 in steps of 5). Logs "Practice speed saved to %s: %d%%".
void savePracticeSpeedPercent(int percent);

// The name as the file can hold it: each byte that is not UTF-8 replaced by U+FFFD, then cut to
// kMaxNameBytes (64) bytes at a character boundary (base/utf8.hpp).
std::string storablePlayerName(const std::string& name);

// ---- The file's text: what the loads and saves above do once the file has been read ----

// Parses a prefs.json text. False, with the reason in `error`, when it is not JSON or nests
// deeper than kMaxJsonDepth (base/json_text.hpp).
bool parsePrefsText(const std::string& text, nlohmann::json& document, std::string& error);

// What each load returns for a parsed file (any JSON value): the setting when it is there and of
// its type (clamped as above), else `fallback`.
std::string storedPlayerName(const nlohmann::json& document, const std::string& fallback);
bool storedKeyboardGameplay(const nlohmann::json& document, bool fallback);
float storedMusicVolume(const nlohmann::json& document, float fallback);
int storedAudioOffsetMs(const nlohmann::json& document, int fallback);

// The text a save writes over a file that holds `text` ("" when there is none): the file's object
// with `key` set to `value`, or an object with that key alone when the text is empty, is not JSON
// (reported on stderr with `parseFailure`, a printf format given the parser's message) or is not
// an object. Four-space indentation, non-ASCII as UTF-8, bytes that are not UTF-8 replaced.
std::string prefsTextWithSetting(const std::string& text, const char* key, const nlohmann::json& value,
                                 const char* parseFailure);

// ---- The audio buffer ----

// The stored "audioPeriodFrames" (the output device's period in sample frames) when it is a whole
// number from kMinDevicePeriodFrames to kMaxDevicePeriodFrames (audio/device_period.hpp), else
// `fallback`. Logs like the other loads when the file is missing or not JSON.
unsigned loadAudioPeriodFrames(unsigned fallback);
unsigned storedAudioPeriodFrames(const nlohmann::json& document, unsigned fallback);

// Stores the period (clamped to the range above). Logs "Audio buffer saved to %s: %u frames".
void saveAudioPeriodFrames(unsigned frames);

// ---- The GUI's scale ----

// The player's "UI Scale" setting: a factor on the scale the GUI fits to the window.
constexpr float kMinStoredUiScale = 0.8f;
constexpr float kMaxStoredUiScale = 1.5f;

// The stored "uiScale" when it is a finite number (clamped to 0.8..1.5), else `fallback`. Logs like
// the other loads when the file is missing or not JSON.
float loadUiScale(float fallback);
float storedUiScale(const nlohmann::json& document, float fallback);

// Stores the factor (clamped to 0.8..1.5, rounded to whole percent). Logs "UI scale saved to %s: %d%%".
void saveUiScale(float scale);

// ---- The key bindings ----

// The stored "keyBindings": an array of 24 SDL scancode numbers, one per grid cell in cell order
// (game/key_grid.hpp). The default grid, silently, when the key or the file is absent; the default
// grid with keyBindingsFrom's reason (or "Key bindings are not a list of key numbers: using the
// default grid" for a value that is not an array of whole numbers) on stderr when it is there but
// cannot be a grid; "Failed to parse prefs JSON for key bindings: %s" when the file is not JSON.
KeyBindings loadKeyBindings();
// The same for a parsed file: `message` is the reason the default was taken, "" when the stored
// grid was taken or there was none.
KeyBindings storedKeyBindings(const nlohmann::json& document, std::string& message);

// Stores the grid as scancode numbers. Logs "Key bindings saved to %s".
void saveKeyBindings(const KeyBindings& bindings);
