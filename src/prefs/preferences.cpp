#include "prefs/preferences.hpp"

#include "audio/device_period.hpp"
#include "base/file_io.hpp"
#include "base/json_text.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"

#include <SDL3/SDL.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

using nlohmann::json;

namespace {

// What a load found in the file.
enum class PrefsRead { Ok, Missing, Corrupt };

PrefsRead readPrefs(const std::string& path, json& document, std::string& error) {
    std::string text;
    if (!readWholeFile(path, text) || text.empty()) {
        return PrefsRead::Missing;
    }
    return parsePrefsText(text, document, error) ? PrefsRead::Ok : PrefsRead::Corrupt;
}

// Re-reads the file, sets one key, and writes it back. True when written, with the file's path
// in `path`; a failure is reported here.
bool saveSetting(const char* parseFailure, const char* key, const json& value, std::string& path) {
    path = getPrefsPath();
    std::string text;
    if (!readWholeFile(path, text)) {
        text.clear();
    }
    std::string error;
    if (!replaceFileAtomically(path, prefsTextWithSetting(text, key, value, parseFailure), error)) {
        logError(stderr, "Failed to save prefs file: %s", error.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string getPrefsPath() {
    char* folder = SDL_GetPrefPath("Kvo", "Vibrelle");
    if (folder == nullptr) {
        logError(stderr, "SDL_GetPrefPath failed: %s", SDL_GetError());
        return "prefs.json";
    }
    std::string path = std::string(folder) + "prefs.json";
    SDL_free(folder);
    return path;
}

std::string loadPlayerName(const std::string& fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default player name (%s)", fallback.c_str());
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedPlayerName(document, fallback);
}

bool loadKeyboardGameplay(bool fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default keyboard gameplay setting (%s)",
                   fallback ? "enabled" : "disabled");
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for keyboard gameplay: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedKeyboardGameplay(document, fallback);
}

float loadMusicVolume(float fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default music volume (%d%%)",
                   static_cast<int>(std::lround(fallback * 100.0f)));
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for music volume: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedMusicVolume(document, fallback);
}

int loadAudioOffsetMs(int fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default audio offset (%d ms)", fallback);
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for audio offset: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedAudioOffsetMs(document, fallback);
}

void savePlayerName(const std::string& name) {
    const std::string stored = storablePlayerName(name);
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving player name: %s", "playerName", stored,
                    path)) {
        logMessage("Player name saved to %s", path.c_str());
    }
}

void saveKeyboardGameplay(bool enabled) {
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving keyboard gameplay: %s", "keyboardGameplay",
                    enabled, path)) {
        logMessage("Keyboard gameplay setting saved to %s: %s", path.c_str(),
                   enabled ? "enabled" : "disabled");
    }
}

void saveMusicVolume(float volume) {
    const float clamped = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 1.0f;
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving music volume: %s", "musicVolume",
                    std::round(clamped * 100.0) / 100.0, path)) {
        logMessage("Music volume saved to %s: %d%%", path.c_str(),
                   static_cast<int>(std::lround(clamped * 100.0f)));
    }
}

void saveAudioOffsetMs(int offsetMs) {
    const int clamped = std::clamp(offsetMs, kAudioOffsetMinMs, kAudioOffsetMaxMs);
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving audio offset: %s", "audioOffsetMs", clamped,
                    path)) {
        logMessage("Audio offset saved to %s: %d ms", path.c_str(), clamped);
    }
}

int loadPracticeSpeedPercent(int fallback) {
    json document;
    std::string error;
    if (readPrefs(getPrefsPath(), document, error) != PrefsRead::Ok || !document.is_object()) {
        return fallback; // a missing or bad file is reported by the other settings' loads
    }
    const auto speed = document.find("practiceSpeedPercent");
    if (speed == document.end() || !speed->is_number()) {
        return fallback;
    }
    const double value = speed->get<double>();
    if (!std::isfinite(value)) {
        return fallback;
    }
    // Onto the offered steps: 50 to 100 by 5.
    return static_cast<int>(std::lround(std::clamp(value, 50.0, 100.0) / 5.0)) * 5;
}

void savePracticeSpeedPercent(int percent) {
    const int stored = static_cast<int>(std::lround(std::clamp(percent, 50, 100) / 5.0)) * 5;
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving the practice speed: %s",
                    "practiceSpeedPercent", stored, path)) {
        logMessage("Practice speed saved to %s: %d%%", path.c_str(), stored);
    }
}

std::string storablePlayerName(const std::string& name) {
    return cutToCharacters(withEachBadByteReplaced(name), kMaxNameBytes);
}

bool parsePrefsText(const std::string& text, json& document, std::string& error) {
    return parseJsonText(text, document, error);
}

std::string storedPlayerName(const json& document, const std::string& fallback) {
    if (document.is_object()) {
        const auto name = document.find("playerName");
        if (name != document.end() && name->is_string() && !name->get<std::string>().empty()) {
            return name->get<std::string>();
        }
    }
    return fallback;
}

bool storedKeyboardGameplay(const json& document, bool fallback) {
    if (document.is_object()) {
        const auto flag = document.find("keyboardGameplay");
        if (flag != document.end() && flag->is_boolean()) {
            return flag->get<bool>();
        }
    }
    return fallback;
}

float storedMusicVolume(const json& document, float fallback) {
    if (document.is_object()) {
        const auto volume = document.find("musicVolume");
        if (volume != document.end() && volume->is_number()) {
            const double value = volume->get<double>();
            if (std::isfinite(value)) {
                return static_cast<float>(std::clamp(value, 0.0, 1.0));
            }
        }
    }
    return fallback;
}

int storedAudioOffsetMs(const json& document, int fallback) {
    if (document.is_object()) {
        const auto offset = document.find("audioOffsetMs");
        if (offset != document.end() && offset->is_number()) {
            const double value = offset->get<double>();
            if (std::isfinite(value)) {
                return static_cast<int>(
                    std::lround(std::clamp(value, double(kAudioOffsetMinMs), double(kAudioOffsetMaxMs))));
            }
        }
    }
    return fallback;
}

std::string prefsTextWithSetting(const std::string& text, const char* key, const json& value,
                                 const char* parseFailure) {
    json document = json::object();
    if (!text.empty()) {
        std::string error;
        json stored;
        if (!parsePrefsText(text, stored, error)) {
            logError(stderr, parseFailure, error.c_str());
        } else if (stored.is_object()) {
            document = std::move(stored);
        }
    }
    document[key] = value;
    return document.dump(4, ' ', false, json::error_handler_t::replace);
}

// ---- The audio buffer ----

unsigned loadAudioPeriodFrames(unsigned fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default audio buffer (%u frames)", fallback);
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for audio buffer: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedAudioPeriodFrames(document, fallback);
}

unsigned storedAudioPeriodFrames(const json& document, unsigned fallback) {
    if (document.is_object()) {
        const auto frames = document.find("audioPeriodFrames");
        // Whole numbers only: a period of 1024.5 frames was not written by the game.
        if (frames != document.end() && frames->is_number_integer()) {
            const auto value = frames->get<std::int64_t>();
            if (value >= kMinDevicePeriodFrames && value <= kMaxDevicePeriodFrames) {
                return static_cast<unsigned>(value);
            }
        }
    }
    return fallback;
}

void saveAudioPeriodFrames(unsigned frames) {
    const unsigned clamped = std::clamp(frames, kMinDevicePeriodFrames, kMaxDevicePeriodFrames);
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving audio buffer: %s", "audioPeriodFrames",
                    clamped, path)) {
        logMessage("Audio buffer saved to %s: %u frames", path.c_str(), clamped);
    }
}

// ---- The GUI's scale ----

float loadUiScale(float fallback) {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        logMessage("No prefs file found \xE2\x80\x93 using default UI scale (%d%%)",
                   static_cast<int>(std::lround(fallback * 100.0f)));
        return fallback;
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for UI scale: %s", error.c_str());
        return fallback;
    case PrefsRead::Ok:
        break;
    }
    return storedUiScale(document, fallback);
}

float storedUiScale(const json& document, float fallback) {
    if (document.is_object()) {
        const auto scale = document.find("uiScale");
        if (scale != document.end() && scale->is_number()) {
            const double value = scale->get<double>();
            if (std::isfinite(value)) {
                return static_cast<float>(
                    std::clamp(value, double(kMinStoredUiScale), double(kMaxStoredUiScale)));
            }
        }
    }
    return fallback;
}

void saveUiScale(float scale) {
    const float clamped =
        std::isfinite(scale) ? std::clamp(scale, kMinStoredUiScale, kMaxStoredUiScale) : 1.0f;
    const int percent = static_cast<int>(std::lround(clamped * 100.0f));
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving UI scale: %s", "uiScale", percent / 100.0,
                    path)) {
        logMessage("UI scale saved to %s: %d%%", path.c_str(), percent);
    }
}

// ---- The key bindings ----

KeyBindings loadKeyBindings() {
    json document;
    std::string error;
    switch (readPrefs(getPrefsPath(), document, error)) {
    case PrefsRead::Missing:
        return defaultKeyBindings();
    case PrefsRead::Corrupt:
        logError(stderr, "Failed to parse prefs JSON for key bindings: %s", error.c_str());
        return defaultKeyBindings();
    case PrefsRead::Ok:
        break;
    }
    std::string message;
    const KeyBindings bindings = storedKeyBindings(document, message);
    if (!message.empty()) {
        logError(stderr, "%s", message.c_str());
    }
    return bindings;
}

KeyBindings storedKeyBindings(const json& document, std::string& message) {
    message.clear();
    KeyBindings bindings = defaultKeyBindings();
    const auto stored = document.is_object() ? document.find("keyBindings") : document.end();
    if (!document.is_object() || stored == document.end()) {
        return bindings;
    }
    std::vector<std::int64_t> numbers;
    if (stored->is_array()) {
        for (const json& number : *stored) {
            if (!number.is_number_integer()) {
                break;
            }
            numbers.push_back(number.get<std::int64_t>());
        }
    }
    if (!stored->is_array() || numbers.size() != stored->size()) {
        message = "Key bindings are not a list of key numbers: using the default grid";
        return bindings;
    }
    keyBindingsFrom(numbers, bindings, message);
    return bindings;
}

void saveKeyBindings(const KeyBindings& bindings) {
    const json numbers = bindings.scancodes;
    std::string path;
    if (saveSetting("Failed to parse existing prefs when saving key bindings: %s", "keyBindings", numbers,
                    path)) {
        logMessage("Key bindings saved to %s", path.c_str());
    }
}
