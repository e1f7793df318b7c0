#pragma once
// levels/levels.json: the levels the main menu offers. The file is a flat array of flat objects
// and is read with a few fixed pattern shapes rather than a JSON parser: each "{...}" up to its
// first '}' is one entry, and each key's value is the first `"key": "text"` or `"key": digits`
// inside it. Nested objects, escapes and empty strings are therefore not understood.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One level in the menu.
struct LevelListEntry {
    std::string name; // shown in the menu; never empty in a parsed entry
    std::string file; // the level's folder under levels/ (or the player's levels); never empty when parsed
    std::int32_t difficulty = 1;
    std::string description; // raw bytes of the value (UTF-8 passes through, escapes are not decoded)
    bool own = false;        // the player's own level, in the player's levels folder
    std::string folder;      // the level's folder as a path; "" means levels/<file> (see levelFolderOf)
};

// The folder the level of `entry` is read from: its `folder`, else "levels/" + its `file`.
std::string levelFolderOf(const LevelListEntry& entry);

// Where the menu's list lives, relative to the working directory.
constexpr const char* kLevelListPath = "levels/levels.json";

// The entries of the level list at `path`, in file order. A missing or empty file, or one without
// a usable entry, yields the three built-in samples and a line on stderr ("Level list not found",
// or "Level list JSON parse produced no entries, filling fallback samples."). Any thread.
std::vector<LevelListEntry> loadLevelList(const char* path = kLevelListPath);

// Appends to `entries` every entry of a levels.json text, in text order: each object that has a
// non-empty "name" and "file". Objects without them are skipped silently. Returns the number
// appended. Linear in the text's length. Any thread (touches no shared state).
std::size_t parseLevelListText(const std::string& text, std::vector<LevelListEntry>& entries);

// The folder of the player's own levels inside the player's data folder (that of prefs.json).
std::string playerLevelsFolder(const std::string& playerDataFolder);

// Appends the player's own levels under `levelsFolder`: each folder in it (not hidden) that holds
// a level.json, sorted by folder name, marked `own`, with `folder` its path. The name is the
// level.json's songMetaData[0] "title" (the folder's name when it has none), its "difficulty"
// (1..5; 1 when missing or out of range) and "description" when given. A level.json that cannot be
// read as JSON is listed under its folder's name and says so in its description, so that the
// player can still see and delete it. A name that an earlier entry has already gets " (yours)".
// Returns the number appended. Any thread (reads files).
std::size_t appendPlayerLevels(const std::string& levelsFolder, std::vector<LevelListEntry>& entries);

// The menu's list: the shipped levels (loadLevelList) then the player's own from
// playerLevelsFolder(`playerDataFolder`) ("" leaves them out). Any thread (reads files).
std::vector<LevelListEntry> loadMenuLevels(const std::string& playerDataFolder);

// Appends the three built-in sample levels, used when no level list can be read. Any thread.
void appendSampleLevels(std::vector<LevelListEntry>& entries);

// The value of the first `"key" : "value"` in `object` (whitespace allowed around the colon),
// scanning occurrences of "key" left to right and taking the first one followed by a non-empty
// string. The value runs to the next double quote, so it never contains one and escapes come back
// as written (`"a\"b"` gives `a\`). Empty when no occurrence qualifies. Linear in the object's
// length. Any thread.
std::string extractJsonString(const std::string& object, const std::string& key);

// The digits of the first `"key" : digits` in `object`, read as a decimal number; the first
// occurrence of "key" followed by a digit wins. A sign or a quote before the digits means no
// match there; digits stop at the first non-digit, so 2.5 reads as 2. Returns `fallback` when no
// occurrence qualifies, or when the number does not fit in a 32-bit signed int (silently, like
// every other unusable value). Linear in the object's length. Any thread.
std::int32_t extractJsonInt(const std::string& object, const std::string& key, std::int32_t fallback);
