#include "server/leaderboard_store.hpp"

#include "server/store_backends.hpp"

#include <algorithm>
#include <exception>

bool isPostgresUrl(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

std::unique_ptr<LeaderboardStore> openLeaderboardStore(const std::string& database, std::string& error) {
    try {
        if (database.empty()) {
            error = "no database given";
            return nullptr;
        }
        return isPostgresUrl(database) ? openPostgresStore(database, error)
                                       : openSqliteStore(database, error);
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
        return a->level != b->level ? a->level < b->level : a->player < b->player;
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
