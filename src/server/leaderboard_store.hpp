#pragma once
// Where the leaderboard server keeps its scores: one small interface over two databases, SQLite
// (a file, the default) and PostgreSQL (a URL, shared by several server processes).
//
// The merge rule both keep: per (level, player), the entry with the higher score is stored whole;
// an equal or lower score changes nothing, and nothing is ever removed. Each merge is atomic: all
// of an upload's entries are stored, or none.
//
// Threads: every routine may be called from many threads at once; each store serialises or pools
// its own connections. Errors come back as false with the reason; nothing throws.
#include "server/score_entries.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LeaderboardStore {
public:
    virtual ~LeaderboardStore() = default;

    // Merges `entries` (at most one per (level, player)) by the rule above, in one transaction.
    virtual bool mergeEntries(const std::vector<StoredEntry>& entries, std::string& error) = 0;

    // Every stored entry, in the order the (level, player) pairs were first stored.
    virtual bool loadEntries(std::vector<StoredEntry>& entries, std::string& error) = 0;

    // The stored score of one player on one level; 0 when there is none.
    virtual bool playerScore(const std::string& level, const std::string& player, std::int32_t& score,
                             std::string& error) = 0;

    // Runs the database's own consistency check; false with its report when it finds a fault.
    virtual bool checkIntegrity(std::string& report) = 0;

    // What the store is, for the start-up line: "SQLite <path>" or "PostgreSQL <host:port/db>".
    virtual std::string describe() const = 0;
};

// True when `database` names a PostgreSQL database (a "postgresql://" or "postgres://" URL).
bool isPostgresUrl(const std::string& database);

// Opens the store `database` names: a PostgreSQL URL, else the path of a SQLite file (created
// when missing). Creates the table when it is missing. Null, with the reason, on failure.
std::unique_ptr<LeaderboardStore> openLeaderboardStore(const std::string& database, std::string& error);

// Entries sorted by (level, player) bytes: the order every store writes in, so that two uploads
// touching the same rows take their locks in the same order and never deadlock.
std::vector<const StoredEntry*> inKeyOrder(const std::vector<StoredEntry>& entries);
