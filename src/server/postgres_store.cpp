// The PostgreSQL store: libpq connections in a pool, prepared statements for the requests. Several
// server processes may share one database; the merge's WHERE clause and PostgreSQL's row locks keep
// the better score whichever upload commits first, and the owner table's key lets one claim of a
// name win.
#include "server/store_backends.hpp"

#include "base/log.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "server/schema_migration.hpp"

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Taken while the tables are created or migrated, so that processes starting at once take turns.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(8420014)";
constexpr const char* kCreateTables =
    "CREATE TABLE leaderboard_entries ("
    " id BIGSERIAL PRIMARY KEY,"
    " level TEXT COLLATE \"C\" NOT NULL,"
    " player TEXT COLLATE \"C\" NOT NULL,"
    " player_key TEXT COLLATE \"C\" NOT NULL,"
    " score INTEGER NOT NULL,"
    " stored_at BIGINT NOT NULL,"
    " entry TEXT NOT NULL,"
    " verified BOOLEAN NOT NULL DEFAULT false,"
    " replay BYTEA,"
    " UNIQUE (level, player_key));"
    "CREATE INDEX leaderboard_entries_rank ON leaderboard_entries (level, score DESC, stored_at, id);"
    "CREATE TABLE player_owners ("
    " name_key TEXT COLLATE \"C\" PRIMARY KEY,"
    " key_hash TEXT NOT NULL,"
    " claimed_at BIGINT NOT NULL);";

// The columns a table made before replays were uploaded lacks.
constexpr const char* kAddReplayColumns =
    "ALTER TABLE leaderboard_entries ADD COLUMN IF NOT EXISTS verified BOOLEAN NOT NULL DEFAULT false,"
    " ADD COLUMN IF NOT EXISTS replay BYTEA";

// The replay ($8) goes as binary, the other parameters as text.
constexpr const char* kUpsert =
    "INSERT INTO leaderboard_entries AS stored (level, player, player_key, score, stored_at, entry, verified,"
    " replay) VALUES ($1, $2, $3, $4::integer, $5::bigint, $6, $7::boolean, $8::bytea)"
    " ON CONFLICT (level, player_key) DO UPDATE SET player = excluded.player, score = excluded.score,"
    " stored_at = excluded.stored_at, entry = excluded.entry, verified = excluded.verified,"
    " replay = excluded.replay"
    " WHERE excluded.score > stored.score";
// A second claim of one name waits on the first's row lock and then does nothing.
constexpr const char* kClaim =
    "INSERT INTO player_owners (name_key, key_hash, claimed_at) VALUES ($1, $2, $3::bigint)"
    " ON CONFLICT (name_key) DO NOTHING";
constexpr const char* kOwner = "SELECT key_hash FROM player_owners WHERE name_key = $1";
constexpr const char* kSelectScore =
    "SELECT score FROM leaderboard_entries WHERE level = $1 AND player_key = $2";
constexpr const char* kSelectLevels =
    "SELECT level, count(*) FROM leaderboard_entries GROUP BY level ORDER BY level";
constexpr const char* kCountLevel = "SELECT count(*) FROM leaderboard_entries WHERE level = $1";
constexpr const char* kSelectPage = "SELECT player, player_key, score, entry FROM leaderboard_entries"
                                    " WHERE level = $1 ORDER BY score DESC, stored_at, id LIMIT $2::bigint"
                                    " OFFSET $3::bigint";
constexpr const char* kInsertMigrated =
    "INSERT INTO leaderboard_entries (id, level, player, player_key, score, stored_at, entry)"
    " VALUES ($1::bigint, $2, $3, $4, $5::integer, $6::bigint, $7)";

// Connections one server process opens at most; requests beyond wait for one to come free.
constexpr std::size_t kMaxConnections = 8;
constexpr std::chrono::seconds kConnectionWait{10};
// Attempts of a merge that PostgreSQL ended as a deadlock or serialisation failure.
constexpr int kMergeAttempts = 3;

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// The server's message without its trailing newline.
std::string messageOf(PGconn* connection) {
    std::string text = PQerrorMessage(connection);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

bool succeeded(const Result& result) {
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

bool isRetryable(const Result& result) {
    const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr && (std::string(state) == "40P01" || std::string(state) == "40001");
}

// "host:port/database" of a connection, for the start-up line (no user or password).
std::string whereOf(PGconn* connection) {
    const auto text = [](const char* value) { return std::string(value == nullptr ? "" : value); };
    return text(PQhost(connection)) + ":" + text(PQport(connection)) + "/" + text(PQdb(connection));
}

Result execute(PGconn* connection, const char* sql) { return Result(PQexec(connection, sql)); }

// A prepared statement (by name) or, when `prepared` is false, an SQL text, with text parameters
// and, when `binary` is given, one binary parameter after them (NULL when it is empty).
Result run(PGconn* connection, const char* statement, const std::vector<std::string>& values,
           bool prepared = true, const std::string* binary = nullptr) {
    std::vector<const char*> pointers;
    for (const std::string& value : values) {
        pointers.push_back(value.c_str());
    }
    std::vector<int> lengths(values.size() + 1, 0), formats(values.size() + 1, 0);
    if (binary != nullptr) {
        pointers.push_back(binary->empty() ? nullptr : binary->data());
        lengths.back() = static_cast<int>(binary->size());
        formats.back() = 1;
    }
    const int count = static_cast<int>(pointers.size());
    return Result(prepared ? PQexecPrepared(connection, statement, count, pointers.data(), lengths.data(),
                                            formats.data(), 0)
                           : PQexecParams(connection, statement, count, nullptr, pointers.data(),
                                          lengths.data(), formats.data(), 0));
}

std::string textOf(const Result& result, int row, int column) {
    return std::string(PQgetvalue(result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result.get(), row, column)));
}

std::int64_t numberOf(const Result& result, int row, int column) {
    return std::strtoll(PQgetvalue(result.get(), row, column), nullptr, 10);
}

// Rows a command changed (its tag's count).
std::int64_t changesOf(const Result& result) { return std::strtoll(PQcmdTuples(result.get()), nullptr, 10); }

// Moves the rows of the first schema's table into leaderboard_entries, level by level through a
// cursor (see mergeLegacyLevel), then drops it. Runs inside the schema transaction.
bool migrateLegacy(PGconn* connection, MigrationCounts& counts, std::string& error) {
    if (!succeeded(execute(connection, "DECLARE legacy NO SCROLL CURSOR FOR SELECT id, level, player, score,"
                                       " entry FROM leaderboard_scores ORDER BY level, id"))) {
        error = "cannot read the old scores: " + messageOf(connection);
        return false;
    }
    const std::string now = std::to_string(storedAtNow());
    std::vector<LegacyRow> level;
    const auto flush = [&]() {
        for (const LegacyRow& row : mergeLegacyLevel(std::move(level), counts)) {
            if (!succeeded(run(connection, kInsertMigrated,
                               {std::to_string(row.id), row.level, row.player, row.playerKey,
                                std::to_string(row.score), now, row.entry},
                               false))) {
                error = "cannot move a score entry: " + messageOf(connection);
                return false;
            }
        }
        level.clear();
        return true;
    };
    for (;;) {
        const Result batch = execute(connection, "FETCH 10000 FROM legacy");
        if (!succeeded(batch)) {
            error = "cannot read the old scores: " + messageOf(connection);
            return false;
        }
        const int rows = PQntuples(batch.get());
        for (int i = 0; i < rows; ++i) {
            LegacyRow row;
            row.id = numberOf(batch, i, 0);
            row.level = textOf(batch, i, 1);
            row.player = textOf(batch, i, 2);
            row.score = static_cast<std::int32_t>(numberOf(batch, i, 3));
            row.entry = textOf(batch, i, 4);
            if (!level.empty() && level.front().level != row.level && !flush()) {
                return false;
            }
            level.push_back(std::move(row));
        }
        if (rows == 0) {
            break;
        }
    }
    if (!flush() ||
        !succeeded(execute(connection, "CLOSE legacy; DROP TABLE leaderboard_scores;"
                                       "SELECT setval(pg_get_serial_sequence('leaderboard_entries', 'id'),"
                                       " coalesce(max(id), 0) + 1, false) FROM leaderboard_entries"))) {
        error = error.empty() ? "cannot finish the migration: " + messageOf(connection) : error;
        return false;
    }
    return true;
}

// Creates the tables when missing and migrates the first schema's, in one transaction under the
// advisory lock, so that server processes starting at once on one database take turns.
bool ensureSchema(PGconn* connection, std::string& error) {
    if (!succeeded(execute(connection, "BEGIN")) || !succeeded(execute(connection, kSchemaLock))) {
        error = "cannot lock the schema: " + messageOf(connection);
        execute(connection, "ROLLBACK");
        return false;
    }
    const Result found = execute(connection, "SELECT to_regclass('leaderboard_entries') IS NULL,"
                                             " to_regclass('leaderboard_scores') IS NOT NULL");
    bool ok = succeeded(found);
    const bool create = ok && std::string(PQgetvalue(found.get(), 0, 0)) == "t";
    const bool migrate = create && std::string(PQgetvalue(found.get(), 0, 1)) == "t";
    MigrationCounts counts;
    if (create) {
        ok = succeeded(execute(connection, kCreateTables));
        ok = ok && (!migrate || migrateLegacy(connection, counts, error));
    } else if (ok) {
        ok = succeeded(execute(connection, kAddReplayColumns));
    }
    ok = ok && succeeded(execute(connection, "COMMIT"));
    if (!ok) {
        error = error.empty() ? "cannot create the tables: " + messageOf(connection) : error;
        execute(connection, "ROLLBACK");
        return false;
    }
    if (migrate) {
        logMessage("%s (%s)", migrationSummary(counts).c_str(), whereOf(connection).c_str());
    }
    return true;
}

class PostgresStore : public LeaderboardStore {
public:
    explicit PostgresStore(std::string url) : url_(std::move(url)) {}

    bool open(std::string& error) {
        Connection first = connect(error);
        if (!first) {
            return false;
        }
        where_ = whereOf(first.get());
        if (!ensureSchema(first.get(), error) || !prepareStatements(first.get(), error)) {
            return false;
        }
        open_ = 1;
        release(std::move(first));
        return true;
    }

    bool mergeUpload(const MergeRequest& request, MergeResult& result, std::string& error) override {
        result = MergeResult{};
        result.refused.assign(request.entries.size(), 0);
        if (request.entries.empty()) {
            return true;
        }
        for (int attempt = 1;; ++attempt) {
            Connection connection = acquire(error);
            if (!connection) {
                return false;
            }
            bool retry = false;
            const bool ok = mergeOnce(connection.get(), request, result, retry, error);
            release(std::move(connection));
            if (ok || !retry || attempt == kMergeAttempts) {
                return ok;
            }
        }
    }

    bool loadBoard(std::size_t perLevel, std::vector<LevelPage>& levels, std::string& error) override {
        levels.clear();
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        // One snapshot for the totals and every page.
        bool ok = succeeded(execute(connection.get(), "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        const Result found = ok ? run(connection.get(), "select_levels", {}) : Result();
        ok = ok && succeeded(found);
        for (int row = 0; ok && row < PQntuples(found.get()); ++row) {
            LevelPage page;
            page.level = textOf(found, row, 0);
            page.total = numberOf(found, row, 1);
            ok = readPage(connection.get(), page, perLevel);
            levels.push_back(std::move(page));
        }
        if (!ok) {
            error = "cannot read the board: " + messageOf(connection.get());
            levels.clear();
        }
        execute(connection.get(), ok ? "COMMIT" : "ROLLBACK");
        release(std::move(connection));
        return ok;
    }

    bool loadLevelPage(const std::string& level, std::int64_t offset, std::size_t limit, LevelPage& page,
                       std::string& error) override {
        page = LevelPage{};
        page.level = level;
        page.offset = offset;
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        bool ok = succeeded(execute(connection.get(), "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        const Result count = ok ? run(connection.get(), "count_level", {level}) : Result();
        ok = ok && succeeded(count) && PQntuples(count.get()) == 1;
        page.total = ok ? numberOf(count, 0, 0) : 0;
        ok = ok && readPage(connection.get(), page, limit);
        if (!ok) {
            error = "cannot read a level's entries: " + messageOf(connection.get());
        }
        execute(connection.get(), ok ? "COMMIT" : "ROLLBACK");
        release(std::move(connection));
        return ok;
    }

    bool playerScore(const std::string& level, const std::string& playerKey, std::int32_t& score,
                     std::string& error) override {
        score = 0;
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        const Result result = run(connection.get(), "select_score", {level, playerKey});
        const bool ok = succeeded(result);
        if (ok && PQntuples(result.get()) > 0) {
            score = static_cast<std::int32_t>(numberOf(result, 0, 0));
        } else if (!ok) {
            error = "cannot read a score: " + messageOf(connection.get());
        }
        release(std::move(connection));
        return ok;
    }

    bool releaseName(const std::string& playerKey, AdminChange& change, std::string& error) override {
        return adminWrite({{"DELETE FROM player_owners WHERE name_key = $1", {playerKey}}}, change, error);
    }

    bool deletePlayer(const std::string& playerKey, AdminChange& change, std::string& error) override {
        return adminWrite({{"DELETE FROM player_owners WHERE name_key = $1", {playerKey}},
                           {"DELETE FROM leaderboard_entries WHERE player_key = $1", {playerKey}}},
                          change, error);
    }

    bool deleteEntry(const std::string& level, const std::string& playerKey, AdminChange& change,
                     std::string& error) override {
        return adminWrite(
            {{"DELETE FROM leaderboard_entries WHERE player_key = $1 AND level = $2", {playerKey, level}}},
            change, error);
    }

    // A server-side copy is PostgreSQL's own tool's work: says how, and writes nothing.
    bool backup(const std::string& destination, std::string& report) override {
        report = "A PostgreSQL database is backed up with pg_dump; nothing was written. Run:\n  pg_dump "
                 "--format=custom --file=" +
                 shellQuote(destination) + " " + shellQuote(url_);
        return false;
    }

    // amcheck's heap and B-tree checks over the tables and their indexes (the extension is created
    // when missing, which needs the right to create extensions in the database).
    bool checkIntegrity(std::string& report) override {
        Connection connection = acquire(report);
        if (!connection) {
            return false;
        }
        bool ok = false;
        const Result extension = execute(connection.get(), "CREATE EXTENSION IF NOT EXISTS amcheck");
        if (!succeeded(extension)) {
            report = "amcheck is not available: " + messageOf(connection.get());
        } else {
            const Result heap =
                execute(connection.get(), "SELECT (SELECT count(*) FROM verify_heapam('leaderboard_entries'))"
                                          " + (SELECT count(*) FROM verify_heapam('player_owners'))");
            const Result indexes = execute(
                connection.get(), "SELECT bt_index_check(index => i.indexrelid, heapallindexed => true)"
                                  " FROM pg_index i WHERE i.indrelid IN ('leaderboard_entries'::regclass,"
                                  " 'player_owners'::regclass)");
            if (!succeeded(heap) || !succeeded(indexes)) {
                report = "integrity check failed: " + messageOf(connection.get());
            } else if (std::string(PQgetvalue(heap.get(), 0, 0)) != "0") {
                report = std::string(PQgetvalue(heap.get(), 0, 0)) + " corrupt heap tuples";
            } else {
                report = "ok";
                ok = true;
            }
        }
        release(std::move(connection));
        return ok;
    }

    std::string describe() const override { return "PostgreSQL " + where_; }

private:
    Connection connect(std::string& error) {
        Connection connection(PQconnectdb(url_.c_str()));
        if (!connection) {
            error = "cannot connect to PostgreSQL: out of memory";
            return nullptr;
        }
        if (PQstatus(connection.get()) != CONNECTION_OK) {
            error = "cannot connect to PostgreSQL: " + messageOf(connection.get());
            return nullptr;
        }
        // Notices ("relation already exists, skipping") are not errors; keep them off stderr.
        PQsetNoticeProcessor(
            connection.get(), [](void*, const char*) {}, nullptr);
        if (PQsetClientEncoding(connection.get(), "UTF8") != 0) {
            error = "cannot use UTF-8 with PostgreSQL: " + messageOf(connection.get());
            return nullptr;
        }
        return connection;
    }

    bool prepareStatements(PGconn* connection, std::string& error) {
        const std::pair<const char*, const char*> statements[] = {{"upsert", kUpsert},
                                                                  {"claim", kClaim},
                                                                  {"owner", kOwner},
                                                                  {"select_score", kSelectScore},
                                                                  {"select_levels", kSelectLevels},
                                                                  {"count_level", kCountLevel},
                                                                  {"select_page", kSelectPage}};
        for (const auto& [name, sql] : statements) {
            const Result prepared(PQprepare(connection, name, sql, 0, nullptr));
            if (!succeeded(prepared)) {
                error = std::string("cannot prepare a statement: ") + messageOf(connection);
                return false;
            }
        }
        return true;
    }

    // A pooled connection, or a new one while fewer than kMaxConnections are open; waits for one
    // to come free otherwise.
    Connection acquire(std::string& error) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!freed_.wait_for(lock, kConnectionWait,
                             [this] { return !idle_.empty() || open_ < kMaxConnections; })) {
            error =
                "no PostgreSQL connection came free within " + std::to_string(kConnectionWait.count()) + " s";
            return nullptr;
        }
        if (!idle_.empty()) {
            Connection connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
        ++open_;
        lock.unlock();
        Connection connection = connect(error);
        if (connection && !prepareStatements(connection.get(), error)) {
            connection.reset();
        }
        if (!connection) {
            lock.lock();
            --open_;
            freed_.notify_one();
        }
        return connection;
    }

    // Back to the pool; a connection that broke is closed instead, and its place freed.
    void release(Connection connection) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (PQstatus(connection.get()) == CONNECTION_OK &&
                PQtransactionStatus(connection.get()) == PQTRANS_IDLE) {
                idle_.push_back(std::move(connection));
            } else {
                --open_;
            }
        }
        freed_.notify_one();
    }

    static bool readPage(PGconn* connection, LevelPage& page, std::size_t limit) {
        const Result rows =
            run(connection, "select_page", {page.level, std::to_string(limit), std::to_string(page.offset)});
        if (!succeeded(rows)) {
            return false;
        }
        page.entries.reserve(static_cast<std::size_t>(PQntuples(rows.get())));
        for (int row = 0; row < PQntuples(rows.get()); ++row) {
            StoredEntry stored;
            stored.level = page.level;
            stored.player = textOf(rows, row, 0);
            stored.playerKey = textOf(rows, row, 1);
            stored.score = static_cast<std::int32_t>(numberOf(rows, row, 2));
            stored.entry = entryFromRow(textOf(rows, row, 3), stored.player, stored.score);
            page.entries.push_back(std::move(stored));
        }
        return true;
    }

    bool mergeOnce(PGconn* connection, const MergeRequest& request, MergeResult& result, bool& retry,
                   std::string& error) {
        retry = false;
        result = MergeResult{};
        if (!succeeded(execute(connection, "BEGIN"))) {
            error = "cannot begin a transaction: " + messageOf(connection);
            return false;
        }
        const std::string now = std::to_string(storedAtNow());
        // Any failure below: the reason, whether it is worth another attempt, and a rollback.
        const auto fail = [&](const Result& failed, const char* what) {
            error = std::string(what) + ": " + messageOf(connection);
            retry = isRetryable(failed);
            execute(connection, "ROLLBACK");
            result = MergeResult{};
            return false;
        };
        if (!request.claimName.empty()) {
            const Result claimed = run(connection, "claim", {request.claimName, request.keyHash, now});
            if (!succeeded(claimed)) {
                return fail(claimed, "cannot claim a name");
            }
            result.claimed = changesOf(claimed) == 1;
        }
        Result lookupFailure;
        const bool looked = ownershipRefusals(request, result.refused,
                                              [&](const std::string& name, bool& owned, std::string& hash) {
                                                  Result owner = run(connection, "owner", {name});
                                                  if (!succeeded(owner)) {
                                                      lookupFailure = std::move(owner);
                                                      return false;
                                                  }
                                                  owned = PQntuples(owner.get()) > 0;
                                                  hash = owned ? textOf(owner, 0, 0) : std::string();
                                                  return true;
                                              });
        if (!looked) {
            return fail(lookupFailure, "cannot read a name's owner");
        }
        for (const StoredEntry* stored : inKeyOrder(request.entries)) {
            if (result.refused[static_cast<std::size_t>(stored - request.entries.data())]) {
                continue;
            }
            const Result upserted =
                run(connection, "upsert",
                    {stored->level, stored->player, stored->playerKey, std::to_string(stored->score), now,
                     serializeLeaderboard(stored->entry, -1), stored->verified ? "true" : "false"},
                    true, &stored->replay);
            if (!succeeded(upserted)) {
                return fail(upserted, "cannot store a score");
            }
            ++result.accepted;
        }
        const Result committed = execute(connection, "COMMIT");
        if (!succeeded(committed)) {
            error = "cannot commit: " + messageOf(connection);
            retry = isRetryable(committed);
            result = MergeResult{};
            return false;
        }
        return true;
    }

    // An admin command's statements in one transaction. A statement on player_owners says whether
    // an owner went; the others' counts add to the deleted.
    struct AdminStatement {
        const char* sql;
        std::vector<std::string> values;
    };
    bool adminWrite(const std::vector<AdminStatement>& statements, AdminChange& change, std::string& error) {
        change = AdminChange{};
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        bool ok = succeeded(execute(connection.get(), "BEGIN"));
        for (const AdminStatement& admin : statements) {
            const Result done = ok ? run(connection.get(), admin.sql, admin.values, false) : Result();
            ok = ok && succeeded(done);
            if (ok && std::string(admin.sql).find("player_owners") != std::string::npos) {
                change.released = changesOf(done) > 0;
            } else if (ok) {
                change.deleted += changesOf(done);
            }
        }
        ok = ok && succeeded(execute(connection.get(), "COMMIT"));
        if (!ok) {
            error = "cannot change the database: " + messageOf(connection.get());
            execute(connection.get(), "ROLLBACK");
            change = AdminChange{};
        }
        release(std::move(connection));
        return ok;
    }

    std::string url_;
    std::string where_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<Connection> idle_;
    std::size_t open_ = 0; // connections open, idle or in use
};

} // namespace

std::unique_ptr<LeaderboardStore> openPostgresStore(const std::string& url, std::string& error) {
    auto store = std::make_unique<PostgresStore>(url);
    if (!store->open(error)) {
        return nullptr;
    }
    return store;
}
