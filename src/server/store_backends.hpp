#pragma once
// The two implementations behind LeaderboardStore; openLeaderboardStore picks one.
#include "server/leaderboard_store.hpp"

#include <memory>
#include <string>

// A SQLite file at `path` (created when missing): WAL journal, one write transaction at a time in
// this process (other processes wait up to 10 s for the file's lock), reads on pooled connections.
std::unique_ptr<LeaderboardStore> openSqliteStore(const std::string& path, std::string& error);

// A PostgreSQL database at the libpq URL `url`, through a pool of connections.
std::unique_ptr<LeaderboardStore> openPostgresStore(const std::string& url, std::string& error);

// A score entry read back from a database row: the stored JSON text, or, should that ever be
// unreadable, an entry of the row's player and score alone.
nlohmann::json entryFromRow(const std::string& text, const std::string& player, std::int32_t score);
