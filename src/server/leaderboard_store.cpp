#include "server/leaderboard_store.hpp"

#include "server/store_backends.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>

bool isPostgresUrl(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

std::unique_ptr<LeaderboardStore> openLeaderboardStore(const std::string& database, std::string& error,
                                                       const StoreSettings& settings) {
    try {
        if (database.empty()) {
            error = "no database given";
            return nullptr;
        }
        return isPostgresUrl(database) ? openPostgresStore(database, error)
                                       : openSqliteStore(database, settings, error);
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

std::vector<const StoredEntry*> inKeyOrder(const std::vector<StoredEntry>& entries) {
    std::vector<const StoredEntry*> sorted;
    sorted.reserve(entries.size());
    for (const StoredEntry& entry : entries) {
        sorted.push_back(&entry);
    }
    std::sort(sorted.begin(), sorted.end(), [](const StoredEntry* a, const StoredEntry* b) {
        return a->level != b->level ? a->level < b->level : a->playerKey < b->playerKey;
    });
    return sorted;
}

nlohmann::json entryFromRow(const std::string& text, const std::string& player, std::int32_t score) {
    nlohmann::json entry = nlohmann::json::parse(text, nullptr, false);
    if (!entry.is_object()) {
        entry = {{"player", player}, {"score", score}};
    }
    return entry;
}

std::int64_t storedAtNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool ownershipRefusals(const MergeRequest& request, std::vector<char>& refused,
                       const std::function<bool(const std::string&, bool&, std::string&)>& ownerOf) {
    refused.assign(request.entries.size(), 0);
    std::map<std::string, bool> allowed; // folded name -> may be written
    for (std::size_t i = 0; i < request.entries.size(); ++i) {
        const std::string& name = request.entries[i].playerKey;
        auto found = allowed.find(name);
        if (found == allowed.end()) {
            std::string hash;
            bool owned = false;
            if (!ownerOf(name, owned, hash)) {
                return false;
            }
            found =
                allowed.emplace(name, !owned || (!request.keyHash.empty() && hash == request.keyHash)).first;
        }
        refused[i] = found->second ? 0 : 1;
    }
    return true;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}
