#include "leaderboard/leaderboard_document.hpp"

#include "base/file_io.hpp"
#include "base/json_text.hpp"
#include "base/log.hpp"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using nlohmann::json;

namespace {

// Guards every read and write of a leaderboard file in this process. The save holds it across its
// whole read-modify-write so that no other write lands in between; the public read and write
// routines take it for themselves.
std::mutex& fileMutex() {
    static std::mutex mutex;
    return mutex;
}

// The first element of `array` that is an object whose string `key` equals `value`.
json* findByKey(json& array, const char* key, const std::string& value) {
    for (json& element : array) {
        if (!element.is_object()) {
            continue;
        }
        const auto found = element.find(key);
        if (found != element.end() && found->is_string() && found->get_ref<const std::string&>() == value) {
            return &element;
        }
    }
    return nullptr;
}

const json* findByKey(const json& array, const char* key, const std::string& value) {
    return findByKey(const_cast<json&>(array), key, value);
}

// The string under `key` of an object, or nullptr.
const std::string* stringAt(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? &found->get_ref<const std::string&>() : nullptr;
}

std::optional<std::int32_t> scoreOf(const json& entry) {
    const auto found = entry.find("score");
    return found == entry.end() ? std::nullopt : storedScore(*found);
}

// `object[key]` as an array: inserted empty when missing, replaced by an empty one when it holds
// anything else.
json& arrayAt(json& object, const char* key) {
    json& value = object[key];
    if (!value.is_array()) {
        value = json::array();
    }
    return value;
}

// What the merge accepts from a server: an object with a "levels" array.
bool isLeaderboardDocument(const json& document) {
    if (!document.is_object()) {
        return false;
    }
    const auto levels = document.find("levels");
    return levels != document.end() && levels->is_array();
}

// A score entry the merge may take from the server: a named player with a readable score.
bool isMergeableEntry(const json& entry) {
    return stringAt(entry, "player") != nullptr && scoreOf(entry).has_value();
}

// Merges one server score entry into a local "scores" array: the higher score wins whole; a tie
// keeps the local entry; a local entry whose score cannot be read loses, as it does to a save.
void mergeScoreEntry(json& localScores, const json& serverEntry) {
    json* local = findByKey(localScores, "player", *stringAt(serverEntry, "player"));
    if (local == nullptr) {
        localScores.push_back(serverEntry);
        return;
    }
    const std::optional<std::int32_t> localScore = scoreOf(*local);
    if (!localScore || *localScore < *scoreOf(serverEntry)) {
        *local = serverEntry;
    }
}

LeaderboardRead readUnlocked(const std::string& path, json& document, std::string& error) {
    document = nullptr;
    error.clear();
    std::string text;
    if (!readWholeFile(path, text)) {
        return LeaderboardRead::Missing;
    }
    if (text.empty()) {
        return LeaderboardRead::Missing;
    }
    try {
        return parseJsonText(text, document, error) ? LeaderboardRead::Ok : LeaderboardRead::Corrupt;
    } catch (const std::exception& e) {
        document = nullptr;
        error = e.what();
        return LeaderboardRead::Corrupt;
    }
}

// Reads the file for a save, under the caller's lock. A missing file gives a new document, marked
// as holding own results only; a corrupt one is moved aside to ".bad" first so that overwriting it
// destroys nothing. False, with the reason, only when the corrupt file could not be moved.
bool readForUpdate(const std::string& path, json& document, std::string& error) {
    std::string parseError;
    switch (readUnlocked(path, document, parseError)) {
    case LeaderboardRead::Ok:
        return true;
    case LeaderboardRead::Missing:
        logMessage("Leaderboard file not found or empty. Creating a new one at %s", path.c_str());
        document = {{kOwnResultsOnlyKey, true}};
        return true;
    case LeaderboardRead::Corrupt:
        break;
    }
    logError(stderr, "Failed to parse existing leaderboard JSON: %s. Creating new file.", parseError.c_str());
    document = {{kOwnResultsOnlyKey, true}};
    const std::string aside = path + ".bad";
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        error =
            std::string("cannot move the unreadable file aside to ") + aside + ": " + fileErrorText(errno);
        return false;
    }
    return true;
}

// Serialises and writes under the caller's lock.
bool writeDocumentUnlocked(const std::string& path, const json& document, std::string& error) {
    const std::string text = serializeLeaderboard(document, 4);
    if (text.empty()) {
        error = "cannot serialise the leaderboard";
        return false;
    }
    return replaceFileAtomically(path, text, error);
}

} // namespace

std::optional<std::int32_t> storedScore(const json& value) {
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
    switch (value.type()) {
    case json::value_t::boolean:
        return value.get<bool>() ? 1 : 0;
    case json::value_t::number_integer: {
        const std::int64_t number = value.get<std::int64_t>();
        return number < lowest ? lowest : number > highest ? highest : static_cast<std::int32_t>(number);
    }
    case json::value_t::number_unsigned: {
        const std::uint64_t number = value.get<std::uint64_t>();
        return number > static_cast<std::uint64_t>(highest) ? highest : static_cast<std::int32_t>(number);
    }
    case json::value_t::number_float: {
        const double number = value.get<double>();
        if (!std::isfinite(number)) {
            return std::nullopt;
        }
        // Compared as doubles first: converting an out-of-range double to int is undefined.
        if (number <= static_cast<double>(lowest)) {
            return lowest;
        }
        if (number >= static_cast<double>(highest)) {
            return highest;
        }
        return static_cast<std::int32_t>(number); // truncates toward zero
    }
    default:
        return std::nullopt;
    }
}

bool isVerifiedEntry(const json& entry) {
    if (!entry.is_object()) {
        return false;
    }
    const auto found = entry.find(kVerifiedKey);
    return found != entry.end() && found->is_boolean() && found->get<bool>();
}

bool applyRoundResult(json& document, const RoundResult& result) {
    if (result.level.empty() || result.player.empty()) {
        return false;
    }
    if (!document.is_object()) {
        document = json::object();
    }
    json& levels = arrayAt(document, "levels");
    json* level = findByKey(levels, "name", result.level);
    if (level == nullptr) {
        levels.push_back({{"name", result.level}, {"scores", json::array()}});
        level = &levels.back();
    }
    json& scores = arrayAt(*level, "scores");
    json* entry = findByKey(scores, "player", result.player);
    if (entry == nullptr) {
        scores.push_back({{"player", result.player}});
        entry = &scores.back();
    } else {
        const std::optional<std::int32_t> stored = scoreOf(*entry);
        if (stored && *stored >= result.score) {
            logMessage("Score less than high score. High score: %d", result.score);
            return false;
        }
    }
    (*entry)["score"] = result.score;
    (*entry)["time"] = result.time;
    (*entry)["highestLayer"] = std::to_string(result.highestLayer) + "/" + std::to_string(result.totalLayers);
    (*entry)["highestCombo"] = result.highestCombo;
    return true;
}

std::int32_t findPlayerScore(const json& document, const std::string& level, const std::string& player) {
    if (!document.is_object()) {
        return 0;
    }
    const auto levels = document.find("levels");
    if (levels == document.end() || !levels->is_array()) {
        return 0;
    }
    const json* levelEntry = findByKey(*levels, "name", level);
    if (levelEntry == nullptr) {
        return 0;
    }
    const auto scores = levelEntry->find("scores");
    if (scores == levelEntry->end() || !scores->is_array()) {
        return 0;
    }
    const json* entry = findByKey(*scores, "player", player);
    return entry == nullptr ? 0 : scoreOf(*entry).value_or(0);
}

json playerEntries(const json& document, const std::string& player) {
    json result = {{"levels", json::array()}};
    if (!document.is_object()) {
        return result;
    }
    const auto levels = document.find("levels");
    if (levels == document.end() || !levels->is_array()) {
        return result;
    }
    // Only the first level entry of a name counts, as it does for every other lookup.
    std::set<std::string> seen;
    for (const json& level : *levels) {
        const std::string* name = stringAt(level, "name");
        if (name == nullptr || !seen.insert(*name).second) {
            continue;
        }
        const auto scores = level.find("scores");
        if (scores == level.end() || !scores->is_array()) {
            continue;
        }
        if (const json* entry = findByKey(*scores, "player", player)) {
            result["levels"].push_back({{"name", *name}, {"scores", json::array({*entry})}});
        }
    }
    return result;
}

bool mergeLeaderboards(json& local, const json& server) {
    if (!isLeaderboardDocument(server)) {
        return false;
    }
    if (!local.is_object()) {
        local = json::object();
    }
    json& localLevels = arrayAt(local, "levels");
    for (const json& serverLevel : server.at("levels")) {
        const std::string* name = stringAt(serverLevel, "name");
        if (name == nullptr) {
            continue;
        }
        json* localLevel = findByKey(localLevels, "name", *name);
        if (localLevel == nullptr) {
            // A level only the server has comes whole, minus score entries that cannot be read.
            localLevels.push_back(serverLevel);
            localLevel = &localLevels.back();
            (*localLevel)["scores"] = json::array();
        }
        json& localScores = arrayAt(*localLevel, "scores");
        const auto serverScores = serverLevel.find("scores");
        if (serverScores == serverLevel.end() || !serverScores->is_array()) {
            continue;
        }
        for (const json& serverEntry : *serverScores) {
            if (isMergeableEntry(serverEntry)) {
                mergeScoreEntry(localScores, serverEntry);
            }
        }
    }
    return true;
}

std::string serializeLeaderboard(const json& document, int indent) {
    try {
        return document.dump(indent, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        // Only running out of memory gets here; an empty text is never written.
        return std::string();
    }
}

LeaderboardRead readLeaderboardFile(const std::string& path, json& document, std::string& error) {
    const std::lock_guard<std::mutex> lock(fileMutex());
    return readUnlocked(path, document, error);
}

bool writeLeaderboardFile(const std::string& path, const std::string& text, std::string& error) {
    const std::lock_guard<std::mutex> lock(fileMutex());
    return replaceFileAtomically(path, text, error);
}

bool saveRoundResultTo(const std::string& path, const RoundResult& result, json& saved) {
    saved = nullptr;
    if (result.level.empty() || result.player.empty()) {
        return false;
    }
    try {
        const std::lock_guard<std::mutex> lock(fileMutex());
        std::string error;
        const bool ready = readForUpdate(path, saved, error);
        // A lower score changes nothing but is still written back, as the game always has.
        applyRoundResult(saved, result);
        if (!ready || !writeDocumentUnlocked(path, saved, error)) {
            logError(stderr, "Failed to save leaderboard file: %s", error.c_str());
            return false;
        }
        logMessage("Leaderboard successfully saved to %s", path.c_str());
        return true;
    } catch (const std::exception& e) {
        // Out of memory, or a lock that cannot be taken.
        logError(stderr, "Failed to save leaderboard file: %s", e.what());
        return false;
    }
}
