// The SQLite store: a file in WAL mode, prepared statements only.
#include "server/store_backends.hpp"

#include "leaderboard/leaderboard_document.hpp"
#include "server/sqlite_schema.hpp"

#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The merge of one entry. The WHERE clause makes an entry that is not greater in (ranked verified,
// score) a no-op, so the rule holds whatever order uploads arrive in.
constexpr const char* kUpsert =
    "INSERT INTO leaderboard_entries (level, player, player_key, score, stored_at, entry, verified, suspect,"
    " replay) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"
    " ON CONFLICT (level, player_key) DO UPDATE SET player = excluded.player, score = excluded.score,"
    " stored_at = excluded.stored_at, entry = excluded.entry, verified = excluded.verified,"
    " suspect = excluded.suspect, replay = excluded.replay"
    " WHERE (excluded.verified AND NOT excluded.suspect, excluded.score) >"
    " (leaderboard_entries.verified AND NOT leaderboard_entries.suspect, leaderboard_entries.score)";
constexpr const char* kClaim =
    "INSERT INTO player_owners (name_key, key_hash, claimed_at) VALUES (?1, ?2, ?3)"
    " ON CONFLICT (name_key) DO NOTHING";
constexpr const char* kOwner = "SELECT key_hash FROM player_owners WHERE name_key = ?1";
constexpr const char* kSelectScore =
    "SELECT score FROM leaderboard_entries WHERE level = ?1 AND player_key = ?2";
constexpr const char* kSelectLevels =
    "SELECT level, count(*) FROM leaderboard_entries GROUP BY level ORDER BY level";
constexpr const char* kCountLevel = "SELECT count(*) FROM leaderboard_entries WHERE level = ?1";
// In the order of the index leaderboard_entries_ranked, expression and all, so that it is used.
constexpr const char* kSelectPage =
    "SELECT player, player_key, score, entry, verified, suspect FROM leaderboard_entries WHERE level = ?1"
    " ORDER BY (verified AND NOT suspect) DESC, score DESC, stored_at, id LIMIT ?2 OFFSET ?3";
// The replay is read only where it may be served.
constexpr const char* kSelectReplay =
    "SELECT player, score, verified, suspect, CASE WHEN verified THEN replay END FROM leaderboard_entries"
    " WHERE level = ?1 AND player_key = ?2";
constexpr const char* kSelectSuspect = "SELECT level, player, player_key, score FROM leaderboard_entries"
                                       " WHERE suspect ORDER BY level, score DESC, stored_at, id";

// WAL files are cut back to this after a checkpoint, rather than staying at their largest.
constexpr const char* kJournalSizeLimit = "PRAGMA journal_size_limit=67108864"; // 64 MiB

// Idle connections kept open for reuse; more are closed after use.
constexpr std::size_t kMaxIdleConnections = 16;

// One connection with its prepared statements; used by one thread at a time.
struct Connection {
    sqlite3* db = nullptr;
    Statement begin, commit, rollback, upsert, claim, owner, selectScore, selectLevels, countLevel,
        selectPage;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        for (Statement* statement : {&begin, &commit, &rollback, &upsert, &claim, &owner, &selectScore,
                                     &selectLevels, &countLevel, &selectPage}) {
            statement->reset();
        }
        sqlite3_close(db);
    }
};

class SqliteStore : public LeaderboardStore {
public:
    SqliteStore(std::string path, const StoreSettings& settings)
        : path_(std::move(path)), settings_(settings) {}

    // Opens the first connection, switches the file to WAL, creates or migrates the tables.
    bool open(std::string& error) {
        std::unique_ptr<Connection> first = connect(false, error);
        if (!first || !ensureSchema(first->db, path_, error) || !prepareAll(*first, error)) {
            return false;
        }
        release(std::move(first));
        return true;
    }

    bool mergeUpload(const MergeRequest& request, MergeResult& result, std::string& error) override {
        result = MergeResult{};
        result.refused.assign(request.entries.size(), 0);
        if (request.entries.empty()) {
            return true;
        }
        // SQLite has one writer per file; queueing writers here is cheaper than its busy loop.
        const std::lock_guard<std::mutex> writer(writeMutex_);
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        Connection& c = *connection;
        const std::int64_t now = storedAtNow();
        bool ok = runOnce(c.db, c.begin.get(), "cannot begin a transaction", error);
        if (ok && !request.claimName.empty()) {
            bindText(c.claim.get(), 1, request.claimName);
            bindText(c.claim.get(), 2, request.keyHash);
            sqlite3_bind_int64(c.claim.get(), 3, now);
            ok = runOnce(c.db, c.claim.get(), "cannot claim a name", error);
            result.claimed = ok && sqlite3_changes(c.db) == 1;
        }
        ok = ok && ownershipRefusals(request, result.refused,
                                     [&](const std::string& name, bool& owned, std::string& hash) {
                                         return ownerOf(c, name, owned, hash, error);
                                     });
        for (const StoredEntry* stored : inKeyOrder(request.entries)) {
            if (ok && !result.refused[static_cast<std::size_t>(stored - request.entries.data())]) {
                ok = upsert(c, *stored, now, error);
                ++result.accepted;
            }
        }
        ok = ok && runOnce(c.db, c.commit.get(), "cannot commit", error);
        if (!ok) {
            std::string ignored;
            runOnce(c.db, c.rollback.get(), "cannot roll back", ignored);
            result = MergeResult{};
        }
        release(std::move(connection));
        return ok;
    }

    bool loadBoard(std::size_t perLevel, std::vector<LevelPage>& levels, std::string& error) override {
        levels.clear();
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        // One read transaction: the totals and the pages are of one moment.
        bool ok = execute(connection->db, "BEGIN", error);
        sqlite3_stmt* statement = connection->selectLevels.get();
        int result = SQLITE_ROW;
        while (ok && (result = sqlite3_step(statement)) == SQLITE_ROW) {
            LevelPage page;
            page.level = textColumn(statement, 0);
            page.total = sqlite3_column_int64(statement, 1);
            levels.push_back(std::move(page));
        }
        sqlite3_reset(statement);
        if (ok && result != SQLITE_DONE) {
            ok = false;
            error = errorOf(connection->db, "cannot read the levels");
        }
        for (LevelPage& page : levels) {
            ok = ok && readPage(*connection, page, perLevel, error);
        }
        std::string ignored;
        execute(connection->db, "COMMIT", ignored);
        if (!ok) {
            levels.clear();
        }
        release(std::move(connection));
        return ok;
    }

    bool loadLevelPage(const std::string& level, std::int64_t offset, std::size_t limit, LevelPage& page,
                       std::string& error) override {
        page = LevelPage{};
        page.level = level;
        page.offset = offset;
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        sqlite3_stmt* count = connection->countLevel.get();
        bool ok = execute(connection->db, "BEGIN", error);
        if (ok) {
            bindText(count, 1, level);
            ok = sqlite3_step(count) == SQLITE_ROW;
            page.total = ok ? sqlite3_column_int64(count, 0) : 0;
            if (!ok) {
                error = errorOf(connection->db, "cannot count a level's entries");
            }
            sqlite3_reset(count);
            sqlite3_clear_bindings(count);
        }
        ok = ok && readPage(*connection, page, limit, error);
        std::string ignored;
        execute(connection->db, "COMMIT", ignored);
        release(std::move(connection));
        return ok;
    }

    bool playerScore(const std::string& level, const std::string& playerKey, std::int32_t& score,
                     std::string& error) override {
        score = 0;
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        sqlite3_stmt* statement = connection->selectScore.get();
        bindText(statement, 1, level);
        bindText(statement, 2, playerKey);
        const int result = sqlite3_step(statement);
        if (result == SQLITE_ROW) {
            score = static_cast<std::int32_t>(sqlite3_column_int64(statement, 0));
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        const bool ok = result == SQLITE_ROW || result == SQLITE_DONE;
        if (!ok) {
            error = errorOf(connection->db, "cannot read a score");
        }
        release(std::move(connection));
        return ok;
    }

    bool loadReplay(const std::string& level, const std::string& playerKey, bool& found, StoredEntry& stored,
                    std::string& error) override {
        found = false;
        stored = StoredEntry{};
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        Statement statement;
        bool ok = prepare(connection->db, kSelectReplay, statement, error, false);
        int result = SQLITE_DONE;
        if (ok) {
            bindText(statement.get(), 1, level);
            bindText(statement.get(), 2, playerKey);
            result = sqlite3_step(statement.get());
            ok = result == SQLITE_ROW || result == SQLITE_DONE;
        }
        if (result == SQLITE_ROW) {
            found = true;
            stored.level = level;
            stored.playerKey = playerKey;
            stored.player = textColumn(statement.get(), 0);
            stored.score = static_cast<std::int32_t>(sqlite3_column_int64(statement.get(), 1));
            stored.verified = sqlite3_column_int(statement.get(), 2) != 0;
            stored.suspect = sqlite3_column_int(statement.get(), 3) != 0;
            const void* blob = sqlite3_column_blob(statement.get(), 4);
            if (blob != nullptr) {
                stored.replay.assign(static_cast<const char*>(blob),
                                     sqlite3_column_bytes(statement.get(), 4));
            }
        } else if (!ok && error.empty()) {
            error = errorOf(connection->db, "cannot read a replay");
        }
        statement.reset();
        release(std::move(connection));
        return ok;
    }

    bool listSuspect(std::vector<StoredEntry>& entries, std::string& error) override {
        entries.clear();
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        Statement statement;
        bool ok = prepare(connection->db, kSelectSuspect, statement, error, false);
        int result = SQLITE_DONE;
        while (ok && (result = sqlite3_step(statement.get())) == SQLITE_ROW) {
            StoredEntry stored;
            stored.level = textColumn(statement.get(), 0);
            stored.player = textColumn(statement.get(), 1);
            stored.playerKey = textColumn(statement.get(), 2);
            stored.score = static_cast<std::int32_t>(sqlite3_column_int64(statement.get(), 3));
            stored.verified = stored.suspect = true;
            entries.push_back(std::move(stored));
        }
        if (ok && result != SQLITE_DONE) {
            ok = false;
            error = errorOf(connection->db, "cannot read the suspect entries");
        }
        statement.reset();
        release(std::move(connection));
        return ok;
    }

    bool clearSuspect(const std::string& level, const std::string& playerKey, AdminChange& change,
                      std::string& error) override {
        change = AdminChange{};
        return adminWrite({{"UPDATE leaderboard_entries SET suspect = 0"
                            " WHERE player_key = ?1 AND level = ?2 AND suspect",
                            playerKey, level}},
                          change, error);
    }

    bool releaseName(const std::string& playerKey, AdminChange& change, std::string& error) override {
        change = AdminChange{};
        return adminWrite({{"DELETE FROM player_owners WHERE name_key = ?1", playerKey, ""}}, change, error);
    }

    bool deletePlayer(const std::string& playerKey, AdminChange& change, std::string& error) override {
        change = AdminChange{};
        return adminWrite({{"DELETE FROM player_owners WHERE name_key = ?1", playerKey, ""},
                           {"DELETE FROM leaderboard_entries WHERE player_key = ?1", playerKey, ""}},
                          change, error);
    }

    bool deleteEntry(const std::string& level, const std::string& playerKey, AdminChange& change,
                     std::string& error) override {
        change = AdminChange{};
        return adminWrite(
            {{"DELETE FROM leaderboard_entries WHERE player_key = ?1 AND level = ?2", playerKey, level}},
            change, error);
    }

    bool backup(const std::string& destination, std::string& report) override {
        struct stat info {};
        if (::stat(destination.c_str(), &info) == 0) {
            report = destination + " already exists; a backup is never written over a file";
            return false;
        }
        std::unique_ptr<Connection> connection = acquire(report);
        if (!connection) {
            return false;
        }
        // VACUUM INTO reads in one transaction: the copy is of one moment, compacted.
        Statement statement;
        bool ok = prepare(connection->db, "VACUUM INTO ?1", statement, report, false);
        if (ok) {
            bindText(statement.get(), 1, destination);
            ok = runOnce(connection->db, statement.get(), ("cannot write " + destination).c_str(), report);
        }
        release(std::move(connection));
        if (ok) {
            report = "Wrote a copy of " + path_ + " to " + destination;
        }
        return ok;
    }

    bool checkIntegrity(std::string& report) override {
        std::unique_ptr<Connection> connection = acquire(report);
        if (!connection) {
            return false;
        }
        std::vector<std::string> lines;
        const bool ran = queryTexts(connection->db, "PRAGMA integrity_check", lines, report, 20);
        release(std::move(connection));
        if (!ran) {
            return false;
        }
        report.clear();
        for (const std::string& line : lines) {
            report += (report.empty() ? "" : "\n") + line;
        }
        return report == "ok";
    }

    std::string describe() const override {
        return "SQLite " + path_ + ", synchronous " + (settings_.fullSync ? "full" : "normal");
    }

private:
    // A connection in WAL mode with the file's settings; its statements prepared when `statements`.
    std::unique_ptr<Connection> connect(bool statements, std::string& error) {
        auto connection = std::make_unique<Connection>();
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path_.c_str(), &connection->db, flags, nullptr) != SQLITE_OK) {
            error = connection->db == nullptr ? std::string("cannot open ") + path_ + ": out of memory"
                                              : errorOf(connection->db, ("cannot open " + path_).c_str());
            return nullptr;
        }
        sqlite3_extended_result_codes(connection->db, 1);
        // Another process (a backup, the sqlite3 shell) may hold the lock for a moment.
        sqlite3_busy_timeout(connection->db, 10000);
        std::vector<std::string> mode;
        if (!queryTexts(connection->db, "PRAGMA journal_mode=WAL", mode, error)) {
            return nullptr;
        }
        if (mode.empty() || mode.front() != "wal") {
            error = "cannot switch " + path_ + " to WAL mode (journal mode is " +
                    (mode.empty() ? std::string("unknown") : mode.front()) + ")";
            return nullptr;
        }
        // In WAL mode NORMAL syncs at checkpoints, not at each commit: a committed upload survives
        // the server process being killed; only a power loss can take the last few back. FULL
        // syncs the WAL at every commit, so that a power loss takes back nothing acknowledged.
        const char* synchronous =
            settings_.fullSync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL";
        if (!execute(connection->db, synchronous, error) ||
            !execute(connection->db, kJournalSizeLimit, error)) {
            return nullptr;
        }
        if (statements && !prepareAll(*connection, error)) {
            return nullptr;
        }
        return connection;
    }

    static bool prepareAll(Connection& c, std::string& error) {
        return prepare(c.db, "BEGIN IMMEDIATE", c.begin, error) && prepare(c.db, "COMMIT", c.commit, error) &&
               prepare(c.db, "ROLLBACK", c.rollback, error) && prepare(c.db, kUpsert, c.upsert, error) &&
               prepare(c.db, kClaim, c.claim, error) && prepare(c.db, kOwner, c.owner, error) &&
               prepare(c.db, kSelectScore, c.selectScore, error) &&
               prepare(c.db, kSelectLevels, c.selectLevels, error) &&
               prepare(c.db, kCountLevel, c.countLevel, error) &&
               prepare(c.db, kSelectPage, c.selectPage, error);
    }

    std::unique_ptr<Connection> acquire(std::string& error) {
        {
            const std::lock_guard<std::mutex> lock(poolMutex_);
            if (!idle_.empty()) {
                std::unique_ptr<Connection> connection = std::move(idle_.back());
                idle_.pop_back();
                return connection;
            }
        }
        return connect(true, error);
    }

    void release(std::unique_ptr<Connection> connection) {
        const std::lock_guard<std::mutex> lock(poolMutex_);
        if (idle_.size() < kMaxIdleConnections) {
            idle_.push_back(std::move(connection));
        }
    }

    static bool ownerOf(Connection& c, const std::string& name, bool& owned, std::string& hash,
                        std::string& error) {
        sqlite3_stmt* statement = c.owner.get();
        bindText(statement, 1, name);
        const int result = sqlite3_step(statement);
        owned = result == SQLITE_ROW;
        hash = owned ? textColumn(statement, 0) : std::string();
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            error = errorOf(c.db, "cannot read a name's owner");
            return false;
        }
        return true;
    }

    static bool upsert(Connection& c, const StoredEntry& stored, std::int64_t now, std::string& error) {
        const std::string entry = serializeLeaderboard(stored.entry, -1);
        sqlite3_stmt* statement = c.upsert.get();
        bindText(statement, 1, stored.level);
        bindText(statement, 2, stored.player);
        bindText(statement, 3, stored.playerKey);
        sqlite3_bind_int64(statement, 4, stored.score);
        sqlite3_bind_int64(statement, 5, now);
        bindText(statement, 6, entry);
        sqlite3_bind_int(statement, 7, stored.verified ? 1 : 0);
        sqlite3_bind_int(statement, 8, stored.suspect ? 1 : 0);
        if (!stored.replay.empty()) {
            sqlite3_bind_blob64(statement, 9, stored.replay.data(), stored.replay.size(), SQLITE_STATIC);
        }
        return runOnce(c.db, statement, "cannot store a score", error);
    }

    // Reads `page.level`'s entries from `page.offset`, at most `limit`.
    static bool readPage(Connection& c, LevelPage& page, std::size_t limit, std::string& error) {
        sqlite3_stmt* statement = c.selectPage.get();
        bindText(statement, 1, page.level);
        sqlite3_bind_int64(statement, 2, static_cast<sqlite3_int64>(limit));
        sqlite3_bind_int64(statement, 3, page.offset);
        page.entries.reserve(std::min<std::size_t>(limit, 1000));
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            StoredEntry stored;
            stored.level = page.level;
            stored.player = textColumn(statement, 0);
            stored.playerKey = textColumn(statement, 1);
            stored.score = static_cast<std::int32_t>(sqlite3_column_int64(statement, 2));
            stored.entry = entryFromRow(textColumn(statement, 3), stored.player, stored.score);
            stored.verified = sqlite3_column_int(statement, 4) != 0;
            stored.suspect = sqlite3_column_int(statement, 5) != 0;
            page.entries.push_back(std::move(stored));
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (result != SQLITE_DONE) {
            error = errorOf(c.db, "cannot read a level's entries");
            return false;
        }
        return true;
    }

    // An admin command's statements, each with up to two text parameters, in one transaction. A
    // statement on player_owners says whether an owner went, an UPDATE's count is of marks cleared,
    // and the others' add to the deleted.
    struct AdminStatement {
        const char* sql;
        std::string first, second;
    };
    bool adminWrite(const std::vector<AdminStatement>& statements, AdminChange& change, std::string& error) {
        const std::lock_guard<std::mutex> writer(writeMutex_);
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        bool ok = runOnce(connection->db, connection->begin.get(), "cannot begin a transaction", error);
        for (const AdminStatement& admin : statements) {
            Statement statement;
            ok = ok && prepare(connection->db, admin.sql, statement, error, false);
            if (ok) {
                bindText(statement.get(), 1, admin.first);
                if (!admin.second.empty()) {
                    bindText(statement.get(), 2, admin.second);
                }
                ok = runOnce(connection->db, statement.get(), "cannot change the database", error);
            }
            const bool owners = std::string(admin.sql).find("player_owners") != std::string::npos;
            if (ok && owners) {
                change.released = sqlite3_changes(connection->db) > 0;
            } else if (ok && std::string(admin.sql).rfind("UPDATE", 0) == 0) {
                change.cleared += sqlite3_changes(connection->db);
            } else if (ok) {
                change.deleted += sqlite3_changes(connection->db);
            }
        }
        ok = ok && runOnce(connection->db, connection->commit.get(), "cannot commit", error);
        if (!ok) {
            std::string ignored;
            runOnce(connection->db, connection->rollback.get(), "cannot roll back", ignored);
            change = AdminChange{};
        }
        release(std::move(connection));
        return ok;
    }

    std::string path_;
    StoreSettings settings_;
    std::mutex writeMutex_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

} // namespace

std::unique_ptr<LeaderboardStore> openSqliteStore(const std::string& path, const StoreSettings& settings,
                                                  std::string& error) {
    auto store = std::make_unique<SqliteStore>(path, settings);
    if (!store->open(error)) {
        return nullptr;
    }
    return store;
}
