// Feeds a prefs.json text (everything after the first line) to the loads' and saves' rules, with
// the first line as a player name to save. Checks: every setting read is in its range; every save
// writes an object that parses back with its own key set to the value saved and, when the old text
// was an object, every other key kept as it was; a stored name is whole UTF-8 that fits the field;
// the key bindings read are always a grid of distinct free keys.
#include "base/utf8.hpp"
#include "prefs/preferences.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Runs one save over `text` and checks what it writes against `before`, the old text parsed
// (null when it did not parse).
void checkSave(const std::string& text, const json& before, const char* key, const json& value) {
    const std::string written = prefsTextWithSetting(text, key, value, "%s");
    json back;
    std::string error;
    check(parsePrefsText(written, back, error) && back.is_object());
    check(back[key] == value);
    if (before.is_object()) {
        json expected = before;
        expected[key] = value;
        check(back == expected);
    } else {
        check(back.size() == 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string name = input.substr(0, newline);
    const std::string text = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    json document;
    std::string error;
    const bool parsed = !text.empty() && parsePrefsText(text, document, error);
    if (parsed) {
        check(!storedPlayerName(document, "Player").empty());
        const float volume = storedMusicVolume(document, 1.0f);
        check(volume >= 0.0f && volume <= 1.0f);
        const int offset = storedAudioOffsetMs(document, 0);
        check(offset >= kAudioOffsetMinMs && offset <= kAudioOffsetMaxMs);
        storedKeyboardGameplay(document, true);
        // Whatever the file holds, the grid taken is one the bindings' own rules accept.
        std::string message;
        const KeyBindings bindings = storedKeyBindings(document, message);
        KeyBindings again;
        check(keyBindingsFrom(std::vector<std::int64_t>(bindings.scancodes.begin(), bindings.scancodes.end()),
                              again, message) &&
              again.scancodes == bindings.scancodes);
    }
    const json before = parsed ? document : json();

    // The name as the settings screen stores it: whole characters, at most kMaxNameBytes bytes.
    const std::string stored = storablePlayerName(name);
    check(stored.size() <= kMaxNameBytes);
    try {
        check(json(stored).dump() == json(stored).dump(-1, ' ', false, json::error_handler_t::strict));
    } catch (const json::exception&) {
        __builtin_trap(); // not UTF-8
    }
    bool nameIsUtf8 = true;
    try {
        json(name).dump();
    } catch (const json::exception&) {
        nameIsUtf8 = false;
    }
    check(!nameIsUtf8 || name.size() > kMaxNameBytes || stored == name);
    const std::string cut = cutToCharacters(name, name.size() / 2);
    check(cut.size() <= name.size() / 2 && name.compare(0, cut.size(), cut) == 0);

    checkSave(text, before, "playerName", stored);
    checkSave(text, before, "keyboardGameplay", !name.empty());
    checkSave(text, before, "musicVolume", 0.42);
    checkSave(text, before, "audioOffsetMs", -25);
    json written;
    parsePrefsText(prefsTextWithSetting(text, "playerName", stored, "%s"), written, error);
    check(storedPlayerName(written, "Player") == (stored.empty() ? "Player" : stored));
    return 0;
}
