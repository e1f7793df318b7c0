// The SQLite store: a file in WAL mode, prepared statements only.
#include "server/store_backends.hpp"

#include "leaderboard/leaderboard_document.hpp"

#include <sqlite3.h>

#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kCreateTable = "CREATE TABLE IF NOT EXISTS leaderboard_scores ("
                                     " id INTEGER PRIMARY KEY,"
                                     " level TEXT NOT NULL,"
                                     " player TEXT NOT NULL,"
                                     " score INTEGER NOT NULL,"
                                     " entry TEXT NOT NULL,"
                                     " UNIQUE (level, player))";

// The merge of one entry. The WHERE clause makes a lower or equal score a no-op, so the rule holds
// whatever order uploads arrive in.
constexpr const char* kUpsert = "INSERT INTO leaderboard_scores (level, player, score, entry)"
                                " VALUES (?1, ?2, ?3, ?4)"
                                " ON CONFLICT (level, player) DO UPDATE SET score = excluded.score,"
                                " entry = excluded.entry"
                                " WHERE excluded.score > leaderboard_scores.score";
constexpr const char* kSelectScore = "SELECT score FROM leaderboard_scores WHERE level = ?1 AND player = ?2";
constexpr const char* kSelectAll = "SELECT level, player, score, entry FROM leaderboard_scores ORDER BY id";

// Idle connections kept open for reuse; more are closed after use.
constexpr std::size_t kMaxIdleConnections = 16;

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// One connection with its prepared statements; used by one thread at a time.
struct Connection {
    sqlite3* db = nullptr;
    Statement begin, commit, rollback, upsert, selectScore, selectAll;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        begin.reset();
        commit.reset();
        rollback.reset();
        upsert.reset();
        selectScore.reset();
        selectAll.reset();
        sqlite3_close(db);
    }
};

std::string errorOf(sqlite3* db, const char* what) { return std::string(what) + ": " + sqlite3_errmsg(db); }

bool prepare(Connection& connection, const char* sql, Statement& statement, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(connection.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
        error = errorOf(connection.db, "cannot prepare a statement");
        sqlite3_finalize(raw);
        return false;
    }
    statement.reset(raw);
    return true;
}

// Runs a statement that returns no rows (or whose rows are not needed) and resets it.
bool runOnce(Connection& connection, sqlite3_stmt* statement, const char* what, std::string& error) {
    int result = SQLITE_ROW;
    while (result == SQLITE_ROW) {
        result = sqlite3_step(statement);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (result != SQLITE_DONE) {
        error = errorOf(connection.db, what);
        return false;
    }
    return true;
}

// A text column as bytes (names may hold any UTF-8, never NUL).
std::string textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text == nullptr ? std::string() : std::string(text, sqlite3_column_bytes(statement, column));
}

// A PRAGMA's first result as text.
bool pragmaText(sqlite3* db, const char* sql, std::string& value, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        error = errorOf(db, sql);
        sqlite3_finalize(raw);
        return false;
    }
    Statement statement(raw);
    const int result = sqlite3_step(raw);
    if (result == SQLITE_ROW) {
        value = textColumn(raw, 0);
        return true;
    }
    if (result == SQLITE_DONE) {
        value.clear();
        return true;
    }
    error = errorOf(db, sql);
    return false;
}

class SqliteStore : public LeaderboardStore {
public:
    explicit SqliteStore(std::string path) : path_(std::move(path)) {}

    // Opens the first connection, switches the file to WAL and creates the table.
    bool open(std::string& error) {
        std::unique_ptr<Connection> first = connect(error);
        if (!first) {
            return false;
        }
        release(std::move(first));
        return true;
    }

    bool mergeEntries(const std::vector<StoredEntry>& entries, std::string& error) override {
        if (entries.empty()) {
            return true;
        }
        // SQLite has one writer per file; queueing writers here is cheaper than its busy loop.
        const std::lock_guard<std::mutex> writer(writeMutex_);
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        bool ok = runOnce(*connection, connection->begin.get(), "cannot begin a transaction", error);
        for (const StoredEntry* stored : inKeyOrder(entries)) {
            ok = ok && upsert(*connection, *stored, error);
        }
        ok = ok && runOnce(*connection, connection->commit.get(), "cannot commit", error);
        if (!ok) {
            std::string ignored;
            runOnce(*connection, connection->rollback.get(), "cannot roll back", ignored);
        }
        release(std::move(connection));
        return ok;
    }

    bool loadEntries(std::vector<StoredEntry>& entries, std::string& error) override {
        entries.clear();
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        sqlite3_stmt* statement = connection->selectAll.get();
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            StoredEntry stored;
            stored.level = textColumn(statement, 0);
            stored.player = textColumn(statement, 1);
            stored.score = static_cast<std::int32_t>(sqlite3_column_int64(statement, 2));
            stored.entry = entryFromRow(textColumn(statement, 3), stored.player, stored.score);
            entries.push_back(std::move(stored));
        }
        sqlite3_reset(statement);
        const bool ok = result == SQLITE_DONE;
        if (!ok) {
            error = errorOf(connection->db, "cannot read the scores");
            entries.clear();
        }
        release(std::move(connection));
        return ok;
    }

    bool playerScore(const std::string& level, const std::string& player, std::int32_t& score,
                     std::string& error) override {
        score = 0;
        std::unique_ptr<Connection> connection = acquire(error);
        if (!connection) {
            return false;
        }
        sqlite3_stmt* statement = connection->selectScore.get();
        sqlite3_bind_text(statement, 1, level.data(), static_cast<int>(level.size()), SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, player.data(), static_cast<int>(player.size()), SQLITE_STATIC);
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

    bool checkIntegrity(std::string& report) override {
        std::unique_ptr<Connection> connection = acquire(report);
        if (!connection) {
            return false;
        }
        std::string result;
        const bool ran = pragmaText(connection->db, "PRAGMA integrity_check", result, report);
        release(std::move(connection));
        if (!ran) {
            return false;
        }
        report = result;
        return result == "ok";
    }

    std::string describe() const override { return "SQLite " + path_; }

private:
    std::unique_ptr<Connection> connect(std::string& error) {
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
        std::string mode;
        if (!pragmaText(connection->db, "PRAGMA journal_mode=WAL", mode, error)) {
            return nullptr;
        }
        if (mode != "wal") {
            error = "cannot switch " + path_ + " to WAL mode (journal mode is " + mode + ")";
            return nullptr;
        }
        // In WAL mode NORMAL syncs at checkpoints, not at each commit: a committed upload survives
        // the server process being killed; only a power loss can take the last few back.
        std::string ignored;
        if (!pragmaText(connection->db, "PRAGMA synchronous=NORMAL", ignored, error) ||
            !pragmaText(connection->db, kCreateTable, ignored, error)) {
            return nullptr;
        }
        if (!prepare(*connection, "BEGIN IMMEDIATE", connection->begin, error) ||
            !prepare(*connection, "COMMIT", connection->commit, error) ||
            !prepare(*connection, "ROLLBACK", connection->rollback, error) ||
            !prepare(*connection, kUpsert, connection->upsert, error) ||
            !prepare(*connection, kSelectScore, connection->selectScore, error) ||
            !prepare(*connection, kSelectAll, connection->selectAll, error)) {
            return nullptr;
        }
        return connection;
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
        return connect(error);
    }

    void release(std::unique_ptr<Connection> connection) {
        const std::lock_guard<std::mutex> lock(poolMutex_);
        if (idle_.size() < kMaxIdleConnections) {
            idle_.push_back(std::move(connection));
        }
    }

    bool upsert(Connection& connection, const StoredEntry& stored, std::string& error) {
        const std::string entry = serializeLeaderboard(stored.entry, -1);
        sqlite3_stmt* statement = connection.upsert.get();
        sqlite3_bind_text(statement, 1, stored.level.data(), static_cast<int>(stored.level.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, stored.player.data(), static_cast<int>(stored.player.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int64(statement, 3, stored.score);
        sqlite3_bind_text(statement, 4, entry.data(), static_cast<int>(entry.size()), SQLITE_STATIC);
        return runOnce(connection, statement, "cannot store a score", error);
    }

    std::string path_;
    std::mutex writeMutex_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

} // namespace

std::unique_ptr<LeaderboardStore> openSqliteStore(const std::string& path, std::string& error) {
    auto store = std::make_unique<SqliteStore>(path);
    if (!store->open(error)) {
        return nullptr;
    }
    return store;
}
