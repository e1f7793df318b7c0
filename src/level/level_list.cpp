#include "level/level_list.hpp"

#include "base/file_io.hpp"
#include "base/log.hpp"

#include <limits>

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
