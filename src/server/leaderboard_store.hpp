#pragma once
// Where the leaderboard server keeps its scores: one small interface over two databases, SQLite
// (a file, the default) and PostgreSQL (a URL, shared by several server processes).
//
// The merge rule both keep: per (level, folded player name), the entry that is greater in
// (rankedVerified, score), compared in that order, is stored whole (with the spelling it was
// uploaded with, its flags, its replay or none, and the time it was stored): a ranked-verified entry
// replaces an unverified or suspect one whatever the scores, an unverified one never replaces a
// ranked-verified one, and within one group an equal or lower score changes nothing. Nothing is
// removed but by an admin command. Each merge is
// atomic: all of an upload's accepted entries are stored, and its claim made, or nothing is.
//
// A player name may have an owner: a row of the name's folded form and the SHA-256 of its key.
// Entries for an owned name are stored only by an upload that carries the key.
//
// Threads: every routine may be called from many threads at once; each store serialises or pools
// its own connections. Errors come back as false with the reason; nothing throws.
#include "server/score_entries.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One upload as the store merges it.
struct MergeRequest {
    std::vector<StoredEntry> entries; // at most one per (level, playerKey)
    std::string keyHash;              // hashPlayerKey of the upload's key; "" when it gave none
    std::string claimName;            // a folded name to claim with `keyHash` before merging; "" for none
};

struct MergeResult {
    bool claimed = false;      // the claim was made (nobody owned the name)
    std::vector<char> refused; // per entry of the request: 1 when its name is owned under another key
    std::size_t accepted = 0;  // entries not refused (stored, or not better than the stored one)
};

// What an admin command changed.
struct AdminChange {
    bool released = false;    // an owner row was removed
    std::int64_t deleted = 0; // score entries removed
    std::int64_t cleared = 0; // suspect marks taken off
};

// How a store writes. SQLite only; PostgreSQL's own settings (synchronous_commit) govern there.
struct StoreSettings {
    bool fullSync = false; // PRAGMA synchronous=FULL rather than NORMAL
};

class LeaderboardStore {
public:
    virtual ~LeaderboardStore() = default;

    // Makes the claim (when asked and the name is free), then stores the entries whose names are
    // free or owned under `keyHash`, by the rule above, in one transaction.
    virtual bool mergeUpload(const MergeRequest& request, MergeResult& result, std::string& error) = 0;

    // Every level (in byte order of the names) with its total and its best `perLevel` entries.
    virtual bool loadBoard(std::size_t perLevel, std::vector<LevelPage>& levels, std::string& error) = 0;

    // One level's entries ranked `offset` to `offset + limit - 1` (with their flags, without their
    // replays), and its total (0 for a level without entries). Rank order: ranked-verified entries
    // first, then the others; within each, score descending, then the time stored, then the row id.
    virtual bool loadLevelPage(const std::string& level, std::int64_t offset, std::size_t limit,
                               LevelPage& page, std::string& error) = 0;

    // The stored score of one folded player name on one level; 0 when there is none.
    virtual bool playerScore(const std::string& level, const std::string& playerKey, std::int32_t& score,
                             std::string& error) = 0;

    // One entry's flags and, when it is verified (suspect or not), its replay's zlib stream ("" when
    // it has none). `found` false when the level has no entry of that folded name.
    virtual bool loadReplay(const std::string& level, const std::string& playerKey, bool& found,
                            StoredEntry& stored, std::string& error) = 0;

    // Every suspect entry (without its JSON or replay), by level in byte order, then score
    // descending, then the time stored.
    virtual bool listSuspect(std::vector<StoredEntry>& entries, std::string& error) = 0;

    // Takes the suspect mark off one entry (`change.cleared` 1), so that it ranks as verified; 0
    // when there is no such suspect entry.
    virtual bool clearSuspect(const std::string& level, const std::string& playerKey, AdminChange& change,
                              std::string& error) = 0;

    // Admin commands, by folded name: drops a name's owner; drops it and all its entries; drops one
    // entry.
    virtual bool releaseName(const std::string& playerKey, AdminChange& change, std::string& error) = 0;
    virtual bool deletePlayer(const std::string& playerKey, AdminChange& change, std::string& error) = 0;
    virtual bool deleteEntry(const std::string& level, const std::string& playerKey, AdminChange& change,
                             std::string& error) = 0;

    // Writes a consistent copy of the database to `destination` (which must not exist), with what
    // was done in `report`. False with the reason when no copy was written.
    virtual bool backup(const std::string& destination, std::string& report) = 0;

    // Runs the database's own consistency check; false with its report when it finds a fault.
    virtual bool checkIntegrity(std::string& report) = 0;

    // What the store is, for the start-up line: "SQLite <path>" or "PostgreSQL <host:port/db>".
    virtual std::string describe() const = 0;
};

// True when `database` names a PostgreSQL database (a "postgresql://" or "postgres://" URL).
bool isPostgresUrl(const std::string& database);

// Opens the store `database` names: a PostgreSQL URL, else the path of a SQLite file (created
// when missing). Creates the tables when they are missing, and brings a database of the earlier
// schema (leaderboard_scores, names compared as bytes) to this one: see migrateLegacyScores.
// Null, with the reason, on failure.
std::unique_ptr<LeaderboardStore> openLeaderboardStore(const std::string& database, std::string& error,
                                                       const StoreSettings& settings = {});

// Entries sorted by (level, playerKey) bytes: the order every store writes in, so that two uploads
// touching the same rows take their locks in the same order and never deadlock.
std::vector<const StoredEntry*> inKeyOrder(const std::vector<StoredEntry>& entries);
