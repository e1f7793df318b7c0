#include "prefs/player_keys.hpp"

#include "base/file_io.hpp"
#include "base/log.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "prefs/preferences.hpp"

using nlohmann::json;

namespace {

constexpr const char* kPlayerKeys = "playerKeys";

// The {"name", "key"} pair's key when its name folds to `folded` and its key is well-formed.
std::string keyOfPair(const json& pair, const std::string& folded) {
    if (!pair.is_object()) {
        return std::string();
    }
    const auto name = pair.find("name");
    const auto key = pair.find("key");
    if (name == pair.end() || !name->is_string() || key == pair.end() || !key->is_string() ||
        foldPlayerName(name->get<std::string>()) != folded || !isPlayerKeyText(key->get<std::string>())) {
        return std::string();
    }
    return key->get<std::string>();
}

} // namespace

std::string storedPlayerKey(const json& prefs, const std::string& baseUrl, const std::string& name) {
    if (!prefs.is_object() || !prefs.contains(kPlayerKeys) || !prefs[kPlayerKeys].is_object()) {
        return std::string();
    }
    const json& servers = prefs[kPlayerKeys];
    const auto entry = servers.find(baseUrl);
    if (entry == servers.end()) {
        return std::string();
    }
    const std::string folded = foldPlayerName(name);
    std::string key = keyOfPair(*entry, folded);
    const auto earlier = entry->is_object() ? entry->find("earlierNames") : entry->end();
    if (key.empty() && earlier != entry->end() && earlier->is_array()) {
        for (const json& pair : *earlier) {
            if (!(key = keyOfPair(pair, folded)).empty()) {
                break;
            }
        }
    }
    return key;
}

json prefsWithPlayerKey(json prefs, const std::string& baseUrl, const std::string& name,
                        const std::string& key) {
    if (!isPlayerKeyText(key)) {
        return prefs;
    }
    if (!prefs.is_object()) {
        prefs = json::object();
    }
    json& servers = prefs[kPlayerKeys];
    if (!servers.is_object()) {
        servers = json::object();
    }
    json& entry = servers[baseUrl];
    const std::string folded = foldPlayerName(name);
    json earlier = json::array();
    if (entry.is_object()) {
        // The earlier pairs without this name, the entry's own pair first when it is another name.
        const auto keep = [&](const json& pair) {
            const auto other = pair.is_object() ? pair.find("name") : pair.end();
            if (other == pair.end() || !other->is_string() || earlier.size() >= kMaxEarlierPlayerNames) {
                return;
            }
            const std::string otherFolded = foldPlayerName(other->get<std::string>());
            if (otherFolded != folded && !keyOfPair(pair, otherFolded).empty()) {
                earlier.push_back({{"name", pair["name"]}, {"key", pair["key"]}});
            }
        };
        keep(entry);
        const auto list = entry.find("earlierNames");
        if (list != entry.end() && list->is_array()) {
            for (const json& pair : *list) {
                keep(pair);
            }
        }
    }
    entry = {{"name", name}, {"key", key}};
    if (!earlier.empty()) {
        entry["earlierNames"] = std::move(earlier);
    }
    return prefs;
}

std::string loadPlayerKey(const std::string& path, const std::string& baseUrl, const std::string& name) {
    std::string text, error;
    json prefs;
    if (!readWholeFile(path, text) || text.empty() || !parsePrefsText(text, prefs, error)) {
        return std::string();
    }
    return storedPlayerKey(prefs, baseUrl, name);
}

bool savePlayerKey(const std::string& path, const std::string& baseUrl, const std::string& name,
                   const std::string& key) {
    if (!isPlayerKeyText(key)) {
        return false;
    }
    std::string text, error;
    json prefs;
    if (!readWholeFile(path, text) || text.empty() || !parsePrefsText(text, prefs, error)) {
        prefs = nullptr;
    }
    const json updated = prefsWithPlayerKey(prefs, baseUrl, name, key);
    if (!replaceFileAtomically(
            path,
            prefsTextWithSetting(text, kPlayerKeys, updated[kPlayerKeys],
                                 "Failed to parse existing prefs when saving a player key: %s"),
            error)) {
        logError(stderr, "Failed to save prefs file: %s", error.c_str());
        return false;
    }
    logMessage("Player key for '%s' saved to %s", name.c_str(), path.c_str());
    return true;
}
