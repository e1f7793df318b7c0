#pragma once
// The two implementations behind LeaderboardStore; openLeaderboardStore picks one.
#include "server/leaderboard_store.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A SQLite file at `path` (created when missing): WAL journal, one write transaction at a time in
// this process (other processes wait up to 10 s for the file's lock), reads on pooled connections.
// `settings.fullSync` picks PRAGMA synchronous FULL over NORMAL.
std::unique_ptr<LeaderboardStore> openSqliteStore(const std::string& path, const StoreSettings& settings,
                                                  std::string& error);

// A PostgreSQL database at the libpq URL `url`, through a pool of connections.
std::unique_ptr<LeaderboardStore> openPostgresStore(const std::string& url, std::string& error);

// A score entry read back from a database row: the stored JSON text, or, should that ever be
// unreadable, an entry of the row's player and score alone.
nlohmann::json entryFromRow(const std::string& text, const std::string& player, std::int32_t score);

// Now, in microseconds since the Unix epoch: the "stored_at" of an entry written now.
std::int64_t storedAtNow();

// Which of a request's entries its key may not write, inside the merge's transaction:
// `ownerOf(name, owned, hash)` tells whether the folded name has an owner and its stored hash, and
// is false when the database failed (so is this then). Each name is looked up once.
bool ownershipRefusals(const MergeRequest& request, std::vector<char>& refused,
                       const std::function<bool(const std::string&, bool&, std::string&)>& ownerOf);

// `text` in single quotes for a POSIX shell.
std::string shellQuote(const std::string& text);
