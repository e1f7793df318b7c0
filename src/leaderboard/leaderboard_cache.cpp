#include "leaderboard/leaderboard_cache.hpp"

#include "base/file_io.hpp"
#include "base/json_text.hpp"
#include "base/log.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"

#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

using nlohmann::json;

namespace {

constexpr std::size_t kMaxLayerTextBytes = 16;

// Held across each read-modify-write of a cache file.
std::mutex& cacheMutex() {
    static std::mutex mutex;
    return mutex;
}

bool isDocument(const json& value) {
    return value.is_object() && value.contains("levels") && value["levels"].is_array();
}

const std::string* stringAt(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? &found->get_ref<const std::string&>() : nullptr;
}

// A score entry as the cache keeps it, or nullopt when the server's entry breaks a rule.
std::optional<json> checkedEntry(const json& entry) {
    const std::string* player = stringAt(entry, "player");
    std::string reason;
    if (player == nullptr || !checkPlayerName(*player, reason)) {
        return std::nullopt;
    }
    const auto score = entry.find("score");
    if (score == entry.end() || !score->is_number() || !storedScore(*score)) {
        return std::nullopt;
    }
    json kept = {{"player", *player}, {"score", *storedScore(*score)}};
    for (const char* key : {"time", "highestCombo"}) {
        const auto value = entry.find(key);
        if (value == entry.end()) {
            continue;
        }
        if (!value->is_number() || !storedScore(*value)) {
            return std::nullopt;
        }
        kept[key] = *storedScore(*value);
    }
    const auto layer = entry.find("highestLayer");
    if (layer != entry.end()) {
        if (!layer->is_string() || layer->get_ref<const std::string&>().size() > kMaxLayerTextBytes ||
            !checkLeaderboardName(layer->get_ref<const std::string&>(), reason)) {
            return std::nullopt;
        }
        kept["highestLayer"] = *layer;
    }
    if (isVerifiedEntry(entry)) {
        kept[kVerifiedKey] = true;
    }
    return kept;
}

// Entries of one level keyed by folded player name, in first-seen order, the better one kept.
struct LevelEntries {
    std::vector<json> entries;
    std::map<std::string, std::size_t> byPlayer;

    // `fromServer`: the entry may say it is verified; an entry of the player's own file may not.
    void add(const json& entry, bool fromServer) {
        const std::string* player = stringAt(entry, "player");
        if (player == nullptr) {
            return;
        }
        const auto score = entry.find("score");
        if (score == entry.end() || !storedScore(*score)) {
            return;
        }
        json taken = entry;
        if (!fromServer) {
            taken.erase(kVerifiedKey);
        }
        const std::string key = foldPlayerName(*player);
        const auto found = byPlayer.find(key);
        if (found == byPlayer.end()) {
            byPlayer.emplace(key, entries.size());
            entries.push_back(std::move(taken));
            return;
        }
        json& kept = entries[found->second];
        const std::int32_t keptScore = *storedScore(kept["score"]);
        if (keptScore < *storedScore(*score)) {
            kept = std::move(taken);
        } else if (keptScore == *storedScore(*score) && isVerifiedEntry(taken)) {
            kept[kVerifiedKey] = true; // the server verified this very score
        }
    }
};

// Adds every level and entry of `document` to `levels` (ordered by first appearance in `order`).
void collect(const json& document, bool fromServer, std::vector<std::string>& order,
             std::map<std::string, LevelEntries>& levels) {
    if (!isDocument(document)) {
        return;
    }
    for (const json& level : document["levels"]) {
        const std::string* name = stringAt(level, "name");
        if (name == nullptr) {
            continue;
        }
        if (levels.find(*name) == levels.end()) {
            order.push_back(*name);
        }
        LevelEntries& entries = levels[*name];
        const auto scores = level.find("scores");
        if (scores != level.end() && scores->is_array()) {
            for (const json& entry : *scores) {
                entries.add(entry, fromServer);
            }
        }
    }
}

json documentOf(const std::vector<std::string>& order, std::map<std::string, LevelEntries>& levels) {
    json document = {{"levels", json::array()}};
    for (const std::string& name : order) {
        document["levels"].push_back({{"name", name}, {"scores", std::move(levels[name].entries)}});
    }
    return document;
}

// `first`'s levels and entries, then `second`'s, merged as mergeForDisplay merges them; each side
// says whether its entries may carry the server's "verified".
json mergeDocuments(const json& first, bool firstFromServer, const json& second, bool secondFromServer) {
    std::vector<std::string> order;
    std::map<std::string, LevelEntries> levels;
    collect(first, firstFromServer, order, levels);
    collect(second, secondFromServer, order, levels);
    return documentOf(order, levels);
}

// Writes a cache document when it fits the cap. Caller holds the cache lock.
bool writeCacheUnlocked(const std::string& path, const json& cache) {
    const std::string text = serializeLeaderboard(cache, -1);
    if (text.size() > kMaxLeaderboardCacheBytes) {
        logError(stderr, "Leaderboard cache not written: %zu bytes is over the limit of %zu", text.size(),
                 kMaxLeaderboardCacheBytes);
        return false;
    }
    std::string error;
    if (text.empty() || !writeLeaderboardFile(path, text, error)) {
        logError(stderr, "Failed to save leaderboard cache: %s",
                 text.empty() ? "out of memory" : error.c_str());
        return false;
    }
    return true;
}

json readCacheUnlocked(const std::string& path) {
    json cache;
    std::string error;
    if (path.empty() || readLeaderboardFile(path, cache, error) != LeaderboardRead::Ok ||
        !isDocument(cache)) {
        return json{{"levels", json::array()}};
    }
    return cache;
}

} // namespace

bool readServerBoardLevel(const json& reply, const std::string& levelName, json& level, int& dropped,
                          std::string& error) {
    if (!checkLeaderboardName(levelName, error)) {
        error = "the level name " + error;
        return false;
    }
    if (!isDocument(reply)) {
        error = "not a leaderboard document";
        return false;
    }
    level = {{"name", levelName}, {"scores", json::array()}};
    const json* found = nullptr;
    for (const json& candidate : reply["levels"]) {
        const std::string* name = stringAt(candidate, "name");
        if (name != nullptr && *name == levelName) {
            found = &candidate;
            break;
        }
    }
    if (found == nullptr) {
        return true;
    }
    const auto scores = found->find("scores");
    if (scores == found->end()) {
        return true;
    }
    if (!scores->is_array()) {
        error = "the level's \"scores\" is not an array";
        return false;
    }
    std::set<std::string> players;
    json& kept = level["scores"];
    for (const json& entry : *scores) {
        std::optional<json> checked = checkedEntry(entry);
        if (!checked || kept.size() >= kMaxCachedEntriesPerLevel ||
            !players.insert(foldPlayerName((*checked)["player"].get<std::string>())).second) {
            ++dropped;
            continue;
        }
        kept.push_back(std::move(*checked));
    }
    return true;
}

void replaceCachedLevels(json& cache, const std::vector<json>& fetched) {
    if (!isDocument(cache)) {
        cache = {{"levels", json::array()}};
    }
    json& levels = cache["levels"];
    for (const json& level : fetched) {
        const std::string* name = stringAt(level, "name");
        if (name == nullptr) {
            continue;
        }
        bool replaced = false;
        for (json& existing : levels) {
            const std::string* existingName = stringAt(existing, "name");
            if (existingName != nullptr && *existingName == *name) {
                existing = level;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            levels.push_back(level);
        }
    }
}

json readLeaderboardCache(const std::string& path) {
    try {
        const std::lock_guard<std::mutex> lock(cacheMutex());
        return readCacheUnlocked(path);
    } catch (const std::exception&) {
        return json{{"levels", json::array()}};
    }
}

bool updateLeaderboardCache(const std::string& path, const std::vector<json>& fetched, json& cache) {
    try {
        const std::lock_guard<std::mutex> lock(cacheMutex());
        cache = readCacheUnlocked(path);
        replaceCachedLevels(cache, fetched);
        return !path.empty() && writeCacheUnlocked(path, cache);
    } catch (const std::exception& e) {
        logError(stderr, "Failed to save leaderboard cache: %s", e.what());
        return false;
    }
}

json mergeForDisplay(const json& local, const json& cache) {
    return mergeDocuments(local, false, cache, true);
}

bool takeOldResults(const std::string& oldPath, const std::string& newPath, const std::string& playerName) {
    std::error_code ec;
    if (playerName.empty() ||
        std::filesystem::symlink_status(newPath, ec).type() != std::filesystem::file_type::not_found) {
        return true;
    }
    try {
        json old;
        std::string error;
        const LeaderboardRead read = readLeaderboardFile(oldPath, old, error);
        if (read == LeaderboardRead::Missing) {
            return true;
        }
        json taken = {{"levels", json::array()}, {kOwnResultsOnlyKey, true}};
        int count = 0;
        if (read == LeaderboardRead::Corrupt) {
            logError(stderr, "Not taking the results from %s: %s; the file is left as it is", oldPath.c_str(),
                     error.c_str());
        } else if (isDocument(old)) {
            const std::string own = foldPlayerName(playerName);
            for (const json& level : old["levels"]) {
                const std::string* name = stringAt(level, "name");
                const auto scores = level.is_object() ? level.find("scores") : level.end();
                if (name == nullptr || scores == level.end() || !scores->is_array()) {
                    continue;
                }
                json mine = json::array();
                for (const json& entry : *scores) {
                    const std::string* player = stringAt(entry, "player");
                    if (player != nullptr && foldPlayerName(*player) == own) {
                        mine.push_back(entry);
                    }
                }
                if (!mine.empty()) {
                    count += static_cast<int>(mine.size());
                    taken["levels"].push_back({{"name", *name}, {"scores", std::move(mine)}});
                }
            }
        }
        const std::string text = serializeLeaderboard(taken, 4);
        if (text.empty() || !writeLeaderboardFile(newPath, text, error)) {
            logError(stderr, "Failed to save leaderboard file: %s", error.c_str());
            return false;
        }
        if (read == LeaderboardRead::Ok) {
            logMessage("Took %d of %s's results from %s into %s", count, playerName.c_str(), oldPath.c_str(),
                       newPath.c_str());
        }
        return true;
    } catch (const std::exception& e) {
        logError(stderr, "Failed to save leaderboard file: %s", e.what());
        return false;
    }
}
