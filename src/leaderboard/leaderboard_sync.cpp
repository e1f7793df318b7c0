// The leaderboard client's board fetch and upload (declared in leaderboard_client.hpp): the per-level
// fetch into the cache, the upload with the player's key, and what an upload hands back to the
// main thread (keys to store, the ownership message to show).
#include "base/json_text.hpp"
#include "base/log.hpp"
#include "base/percent_encoding.hpp"
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "leaderboard/request_threads.hpp"
#include "replay/replay_upload.hpp"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

using nlohmann::json;

namespace {

constexpr const char* kOwnedError = "the name is owned by another player";

// What uploads hand to the main thread, and the keys this process has received (so that an
// upload started before the main thread stored a key still uses it). Heap-held and never freed:
// an upload abandoned at shut-down may still touch it.
struct Exchange {
    std::mutex mutex;
    std::vector<ReceivedPlayerKey> pending;
    std::map<std::pair<std::string, std::string>, std::string> known; // (base URL, folded name) -> key
    std::string notice;
    std::mutex uploadMutex; // held across each upload: one claim at a time
};

Exchange& exchange() {
    static Exchange* instance = new Exchange();
    return *instance;
}

std::string ownedMessage(const std::string& player) {
    return "Leaderboard name '" + player +
           "' is owned by another player on this server; choose another name in Settings";
}

// ---- Fetch ----

json fetchBoard(const std::string& baseUrl, const std::vector<std::string>& levelNames,
                const std::string& localPath, const std::string& cachePath, const HttpLimits& limits) {
    std::vector<json> fetched;
    int dropped = 0;
    for (const std::string& name : levelNames) {
        std::string error;
        if (!checkLeaderboardName(name, error)) {
            continue; // a level the server could never hold
        }
        HttpReply reply;
        const std::string url = baseUrl + "/leaderboard?level=" + percentEncode(name) + "&limit=100";
        if (!httpExchange(url, "GET", "", HttpCredentials{}, reply, limits)) {
            if (reply.status == 0) {
                break; // no reply at all: the other levels would wait in vain too
            }
            continue;
        }
        json document, level;
        if (!parseJsonText(reply.body, document, error) ||
            !readServerBoardLevel(document, name, level, dropped, error)) {
            logError(stderr, "Ignoring the leaderboard server's reply for %s: %s", name.c_str(),
                     error.c_str());
            continue;
        }
        fetched.push_back(std::move(level));
    }

    json cache;
    if (!fetched.empty()) {
        logMessage("Loaded leaderboard from HTTP server (%d levels, %d invalid entries dropped)",
                   static_cast<int>(fetched.size()), dropped);
        updateLeaderboardCache(cachePath, fetched, cache);
    } else {
        logMessage("Falling back to local leaderboard file");
        cache = readLeaderboardCache(cachePath);
    }
    json local;
    std::string error;
    const bool haveLocal = readLeaderboardFile(localPath, local, error) == LeaderboardRead::Ok;
    if (fetched.empty()) {
        if (!haveLocal && cache["levels"].empty()) {
            logMessage("No local leaderboard found, returning empty");
            return nullptr;
        }
        logMessage("Loaded leaderboard from local file");
    }
    return mergeForDisplay(haveLocal ? local : json(nullptr), cache);
}

// The level names of the local file, in order, each once.
std::vector<std::string> localLevelNames(const std::string& path) {
    std::vector<std::string> names;
    json local;
    std::string error;
    if (readLeaderboardFile(path, local, error) != LeaderboardRead::Ok || !local.is_object() ||
        !local.contains("levels") || !local["levels"].is_array()) {
        return names;
    }
    std::set<std::string> seen;
    for (const json& level : local["levels"]) {
        if (level.is_object() && level.contains("name") && level["name"].is_string() &&
            seen.insert(level["name"].get<std::string>()).second) {
            names.push_back(level["name"].get<std::string>());
        }
    }
    return names;
}

// ---- Upload ----

void uploadLeaderboard(const std::string& baseUrl, const std::string& body, const std::string& player,
                       const std::string& heldKey, const HttpLimits& limits) {
    Exchange& shared = exchange();
    const std::lock_guard<std::mutex> one(shared.uploadMutex);
    HttpCredentials credentials;
    const char* token = std::getenv("VIBRELLE_LEADERBOARD_TOKEN");
    if (token != nullptr && token[0] != '\0') {
        credentials.headers.emplace_back("Authorization", std::string("Bearer ") + token);
    }
    const std::string folded = foldPlayerName(player);
    std::string key = heldKey;
    if (!player.empty()) {
        if (key.empty()) {
            std::lock_guard<std::mutex> lock(shared.mutex);
            const auto known = shared.known.find({baseUrl, folded});
            key = known != shared.known.end() ? known->second : std::string();
        }
        credentials.headers.emplace_back("X-Vibrelle-Player-Key", key.empty() ? "new" : key);
    }

    HttpReply reply;
    const bool ok = httpExchange(baseUrl + "/leaderboard", "POST", body, credentials, reply, limits);
    json answer;
    std::string error;
    if (!parseJsonText(reply.body, answer, error) || !answer.is_object()) {
        answer = json::object();
    }
    if (!ok) {
        const auto why = answer.find("error");
        if (reply.status == 403 && !player.empty() && why != answer.end() && *why == kOwnedError) {
            const std::string message = ownedMessage(player);
            logError(stderr, "%s", message.c_str());
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.notice = message;
        } else {
            logError(stderr, "Failed to upload leaderboard to HTTP server, data saved locally only");
        }
        return;
    }
    logMessage("Successfully uploaded leaderboard to HTTP server");
    const auto success = answer.find("success");
    if (success == answer.end() || !success->is_boolean() || !success->get<bool>()) {
        logError(stderr, "Server rejected leaderboard upload");
        return;
    }
    logMessage("Server confirmed leaderboard upload");
    const auto skipped = answer.find("skipped");
    if (skipped != answer.end() && skipped->is_number_integer() && skipped->get<long long>() > 0) {
        logError(stderr, "The leaderboard server skipped %lld entries of the upload",
                 skipped->get<long long>());
    }
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.notice.clear();
    const auto received = answer.find("playerKey");
    // Only a key asked for, sent where it could not be read, and well-formed is kept.
    if (key.empty() && !player.empty() && reply.credentialsSent && received != answer.end() &&
        received->is_string() && isPlayerKeyText(received->get<std::string>())) {
        const std::string value = received->get<std::string>();
        logMessage("Received a player key for '%s' from the leaderboard server", player.c_str());
        shared.known[{baseUrl, folded}] = value;
        shared.pending.push_back(ReceivedPlayerKey{baseUrl, player, value});
    }
}

} // namespace

void fetchLeaderboardAsync(const std::vector<std::string>& levelNames,
                           std::function<void(const json&)> callback) {
    // Copied now: a thread abandoned at shut-down must not read the globals.
    startRequestThread([baseUrl = gLeaderboardClient.serverBaseUrl, levelNames,
                        localPath = gLeaderboardClient.leaderboardPath,
                        cachePath = gLeaderboardClient.cachePath, limits = gLeaderboardClient.limits,
                        callback = std::move(callback)](CallbackGate& gate) {
        const json document = fetchBoard(baseUrl, levelNames, localPath, cachePath, limits);
        deliver(gate, [&] {
            if (callback) {
                callback(document);
            }
        });
    });
}

void fetchLeaderboardAsync(std::function<void(const json&)> callback) {
    fetchLeaderboardAsync(localLevelNames(gLeaderboardClient.leaderboardPath), std::move(callback));
}

void uploadLeaderboardAsync(const json& document, const std::string& player, const std::string& heldKey) {
    startRequestThread([baseUrl = gLeaderboardClient.serverBaseUrl, body = serializeLeaderboard(document, -1),
                        player, heldKey, limits = gLeaderboardClient.limits](CallbackGate&) {
        uploadLeaderboard(baseUrl, body, player, heldKey, limits);
    });
}

void uploadRoundAsync(const std::string& level, const json& entry, std::string replayBytes,
                      const std::string& player, const std::string& heldKey,
                      const std::string& requiredHash) {
    startRequestThread([baseUrl = gLeaderboardClient.serverBaseUrl, level, entry,
                        replayBytes = std::move(replayBytes), player, heldKey, requiredHash,
                        limits = gLeaderboardClient.limits](CallbackGate&) {
        std::string answer;
        if (!requiredHash.empty() &&
            !httpRequest(baseUrl + "/level/" + percentEncode(requiredHash), "GET", "", answer, limits)) {
            logMessage("Keeping the result on %s on this computer: the leaderboard server does not have "
                       "this level",
                       level.c_str());
            return;
        }
        json scored = entry;
        std::string text;
        std::string error;
        if (!replayBytes.empty() && packReplay(replayBytes, text, error)) {
            scored["replay"] = std::move(text);
        } else if (!replayBytes.empty()) {
            logError(stderr, "Uploading the round without its replay: %s", error.c_str());
        }
        const json document = {{"levels", {{{"name", level}, {"scores", json::array({std::move(scored)})}}}}};
        uploadLeaderboard(baseUrl, serializeLeaderboard(document, -1), player, heldKey, limits);
    });
}

std::vector<ReceivedPlayerKey> takeReceivedPlayerKeys() {
    Exchange& shared = exchange();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return std::exchange(shared.pending, {});
}

std::string leaderboardOwnershipNotice() {
    Exchange& shared = exchange();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.notice;
}

bool isPlayerKeyText(const std::string& text) {
    if (text.size() != 22) {
        return false;
    }
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}
