#include "level/level_list.hpp"

#include "base/file_io.hpp"
#include "base/log.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

namespace {

// The six ASCII bytes a regular expression's \s matches in this text.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Position just after `"key" \s* : \s*` when the occurrence of "key" at `at` is followed by a
// colon, else npos. Neither ':' nor the byte after the colon's spaces is whitespace, so the
// greedy skips below are the only way the pattern can match and no backtracking is needed.
std::size_t valueStart(const std::string& object, std::size_t at, std::size_t quotedKeyLength) {
    std::size_t i = at + quotedKeyLength;
    while (i < object.size() && isSpace(object[i])) {
        ++i;
    }
    if (i >= object.size() || object[i] != ':') {
        return std::string::npos;
    }
    ++i;
    while (i < object.size() && isSpace(object[i])) {
        ++i;
    }
    return i;
}

// The occurrences of "key" are tried left to right, like a leftmost regex search. The scans after
// each occurrence run over spaces or quote-free text that starts right after a quote, and the next
// occurrence starts with a quote, so those scans never cover the same bytes twice.
template <typename TryValue>
bool findFirstValue(const std::string& object, const std::string& key, TryValue tryValue) {
    const std::string quotedKey = "\"" + key + "\"";
    for (std::size_t at = object.find(quotedKey); at != std::string::npos;
         at = object.find(quotedKey, at + 1)) {
        const std::size_t start = valueStart(object, at, quotedKey.size());
        if (start != std::string::npos && tryValue(start)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string extractJsonString(const std::string& object, const std::string& key) {
    std::string value;
    findFirstValue(object, key, [&](std::size_t start) {
        if (start >= object.size() || object[start] != '"') {
            return false;
        }
        const std::size_t close = object.find('"', start + 1);
        // An empty value or an unclosed one is no match here; a later occurrence may still be.
        if (close == std::string::npos || close == start + 1) {
            return false;
        }
        value.assign(object, start + 1, close - start - 1);
        return true;
    });
    return value;
}

std::int32_t extractJsonInt(const std::string& object, const std::string& key, std::int32_t fallback) {
    std::int32_t result = fallback;
    findFirstValue(object, key, [&](std::size_t start) {
        if (start >= object.size() || !isDigit(object[start])) {
            return false;
        }
        // The first occurrence with digits decides, even when its number is too large: the
        // search does not go on to later occurrences, the fallback is used instead. Leading zeros
        // do not count against the size.
        constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
        std::int64_t number = 0;
        bool fits = true;
        for (std::size_t i = start; i < object.size() && isDigit(object[i]); ++i) {
            number = number * 10 + (object[i] - '0');
            if (number > limit) {
                fits = false;
                break;
            }
        }
        if (fits) {
            result = static_cast<std::int32_t>(number);
        }
        return true;
    });
    return result;
}

std::size_t parseLevelListText(const std::string& text, std::vector<LevelListEntry>& entries) {
    std::size_t appended = 0;
    // Each entry runs from a '{' to the first '}' after it (braces in between included); the next
    // one is looked for after that '}'. Without a '}' further on, no later '{' can close either.
    std::size_t open = text.find('{');
    while (open != std::string::npos) {
        const std::size_t close = text.find('}', open + 1);
        if (close == std::string::npos) {
            break;
        }
        const std::string object = text.substr(open, close - open + 1);
        LevelListEntry entry;
        entry.name = extractJsonString(object, "name");
        entry.file = extractJsonString(object, "file");
        entry.difficulty = extractJsonInt(object, "difficulty", 1);
        entry.description = extractJsonString(object, "description");
        if (!entry.name.empty() && !entry.file.empty()) {
            entries.push_back(std::move(entry));
            ++appended;
        }
        open = text.find('{', close + 1);
    }
    return appended;
}

void appendSampleLevels(std::vector<LevelListEntry>& entries) {
    entries.push_back({"Sample Level A", "sample_a.zip", 1, "Demo chill track"});
    entries.push_back({"Sample Level B", "sample_b.zip", 2, "Medium intensity"});
    entries.push_back({"Sample Level C", "sample_c.zip", 3, "Hard \xE2\x80\x93 lots of notes"});
}

std::vector<LevelListEntry> loadLevelList(const char* path) {
    std::vector<LevelListEntry> levelList;
    // Plain file reading: the replay checker and the leaderboard server read the list without SDL.
    std::string text;
    if (!readWholeFile(path, text) || text.empty()) {
        logError(stderr, "Level list not found");
        appendSampleLevels(levelList);
        return levelList;
    }

    if (parseLevelListText(text, levelList) == 0) {
        logError(stderr, "Level list JSON parse produced no entries, filling fallback samples.");
        appendSampleLevels(levelList);
    }
    return levelList;
}

std::string levelFolderOf(const LevelListEntry& entry) {
    return entry.folder.empty() ? "levels/" + entry.file : entry.folder;
}

std::string playerLevelsFolder(const std::string& playerDataFolder) {
    return (std::filesystem::path(playerDataFolder) / "levels").string();
}

namespace {

// A menu entry for the player's level in `folder` (named `folderName`), from its level.json.
LevelListEntry playerLevelEntry(const std::filesystem::path& folder, const std::string& folderName) {
    LevelListEntry entry;
    entry.file = folderName;
    entry.folder = folder.string();
    entry.own = true;
    entry.name = folderName;
    entry.description = "Your level.";
    std::string text;
    // A level.json far past any real one's size is not read whole (it is listed all the same).
    constexpr std::uintmax_t kMaxManifestBytes = 4 << 20;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(folder / "level.json", ec);
    nlohmann::json manifest;
    if (!ec && size <= kMaxManifestBytes && readWholeFile((folder / "level.json").string(), text)) {
        manifest = nlohmann::json::parse(text, nullptr, false);
    }
    if (!manifest.is_object()) {
        entry.description = "Your level; its level.json cannot be read.";
        return entry;
    }
    const auto meta = manifest.find("songMetaData");
    if (meta == manifest.end() || !meta->is_array() || meta->empty() || !(*meta)[0].is_object()) {
        return entry;
    }
    const nlohmann::json& song = (*meta)[0];
    if (const auto title = song.find("title");
        title != song.end() && title->is_string() && !title->get<std::string>().empty()) {
        entry.name = title->get<std::string>();
    }
    if (const auto level = song.find("difficulty"); level != song.end() && level->is_number_integer()) {
        const auto value = level->get<std::int64_t>();
        entry.difficulty = value >= 1 && value <= 5 ? static_cast<std::int32_t>(value) : 1;
    }
    if (const auto about = song.find("description");
        about != song.end() && about->is_string() && !about->get<std::string>().empty()) {
        entry.description = about->get<std::string>();
    }
    return entry;
}

} // namespace

std::size_t appendPlayerLevels(const std::string& levelsFolder, std::vector<LevelListEntry>& entries) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(levelsFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code statError;
        if (!name.empty() && name[0] != '.' && it->is_directory(statError) &&
            isRegularFile((it->path() / "level.json").string())) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    const std::size_t shipped = entries.size();
    for (const std::string& name : names) {
        LevelListEntry entry = playerLevelEntry(std::filesystem::path(levelsFolder) / name, name);
        const auto taken = [&](const std::string& candidate) {
            return std::any_of(entries.begin(), entries.end(),
                               [&](const LevelListEntry& other) { return other.name == candidate; });
        };
        if (taken(entry.name)) {
            entry.name += " (yours)";
        }
        entries.push_back(std::move(entry));
    }
    return entries.size() - shipped;
}

std::vector<LevelListEntry> loadMenuLevels(const std::string& playerDataFolder) {
    std::vector<LevelListEntry> entries = loadLevelList();
    if (!playerDataFolder.empty()) {
        appendPlayerLevels(playerLevelsFolder(playerDataFolder), entries);
    }
    return entries;
}
