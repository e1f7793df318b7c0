// The PostgreSQL store: libpq connections in a pool, prepared statements for the requests. Several
// server processes may share one database; the merge's WHERE clause and PostgreSQL's row locks keep
// the better entry (the merge rule of leaderboard_store.hpp) whichever upload commits first, and the
// owner table's key lets one claim of a name win. The schema and its migrations: postgres_schema.cpp.
#include "server/store_backends.hpp"

#include "leaderboard/leaderboard_document.hpp"
#include "server/postgres_schema.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The replay ($9) goes as binary, the other parameters as text. The WHERE clause makes an entry
// that is not greater in (ranked verified, score) a no-op.
constexpr const char* kUpsert =
    "INSERT INTO leaderboard_entries AS stored (level, player, player_key, score, stored_at, entry, verified,"
    " suspect, replay) VALUES ($1, $2, $3, $4::integer, $5::bigint, $6, $7::boolean, $8::boolean, $9::bytea)"
    " ON CONFLICT (level, player_key) DO UPDATE SET player = excluded.player, score = excluded.score,"
    " stored_at = excluded.stored_at, entry = excluded.entry, verified = excluded.verified,"
    " suspect = excluded.suspect, replay = excluded.replay"
    " WHERE (excluded.verified AND NOT excluded.suspect, excluded.score) >"
    " (stored.verified AND NOT stored.suspect, stored.score)";
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
// In the order of the index leaderboard_entries_ranked, expression and all, so that it is used.
constexpr const char* kSelectPage =
    "SELECT player, player_key, score, entry, verified, suspect FROM leaderboard_entries WHERE level = $1"
    " ORDER BY (verified AND NOT suspect) DESC, score DESC, stored_at, id LIMIT $2::bigint OFFSET $3::bigint";
// The replay is read only where it may be served. Read in binary (the replay's bytes as they are),
// so the other columns come as text.
constexpr const char* kSelectReplay =
    "SELECT player, score::text, verified::text, suspect::text, CASE WHEN verified THEN replay END"
    " FROM leaderboard_entries WHERE level = $1 AND player_key = $2";
constexpr const char* kSelectSuspect = "SELECT level, player, player_key, score FROM leaderboard_entries"
                                       " WHERE suspect ORDER BY level, score DESC, stored_at, id";
// Connections one server process opens at most; requests beyond wait for one to come free.
constexpr std::size_t kMaxConnections = 8;
constexpr std::chrono::seconds kConnectionWait{10};
// Attempts of a merge that PostgreSQL ended as a deadlock or serialisation failure.
constexpr int kMergeAttempts = 3;

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

    bool loadReplay(const std::string& level, const std::string& playerKey, bool& found, StoredEntry& stored,
                    std::string& error) override {
        found = false;
        stored = StoredEntry{};
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        const std::vector<const char*> values = {level.c_str(), playerKey.c_str()};
        const Result result(
            PQexecParams(connection.get(), kSelectReplay, 2, nullptr, values.data(), nullptr, nullptr, 1));
        const bool ok = succeeded(result);
        if (ok && PQntuples(result.get()) > 0) {
            found = true;
            stored.level = level;
            stored.playerKey = playerKey;
            stored.player = textOf(result, 0, 0);
            stored.score = static_cast<std::int32_t>(numberOf(result, 0, 1));
            stored.verified = textOf(result, 0, 2) == "true";
            stored.suspect = textOf(result, 0, 3) == "true";
            stored.replay = textOf(result, 0, 4);
        } else if (!ok) {
            error = "cannot read a replay: " + messageOf(connection.get());
        }
        release(std::move(connection));
        return ok;
    }

    bool listSuspect(std::vector<StoredEntry>& entries, std::string& error) override {
        entries.clear();
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        const Result rows = execute(connection.get(), kSelectSuspect);
        const bool ok = succeeded(rows);
        for (int row = 0; ok && row < PQntuples(rows.get()); ++row) {
            StoredEntry stored;
            stored.level = textOf(rows, row, 0);
            stored.player = textOf(rows, row, 1);
            stored.playerKey = textOf(rows, row, 2);
            stored.score = static_cast<std::int32_t>(numberOf(rows, row, 3));
            stored.verified = stored.suspect = true;
            entries.push_back(std::move(stored));
        }
        if (!ok) {
            error = "cannot read the suspect entries: " + messageOf(connection.get());
        }
        release(std::move(connection));
        return ok;
    }

    bool clearSuspect(const std::string& level, const std::string& playerKey, AdminChange& change,
                      std::string& error) override {
        return adminWrite({{"UPDATE leaderboard_entries SET suspect = false"
                            " WHERE player_key = $1 AND level = $2 AND suspect",
                            {playerKey, level}}},
                          change, error);
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
            stored.verified = textOf(rows, row, 4) == "t";
            stored.suspect = textOf(rows, row, 5) == "t";
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
                     serializeLeaderboard(stored->entry, -1), stored->verified ? "true" : "false",
                     stored->suspect ? "true" : "false"},
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
    // an owner went, an UPDATE's count is of marks cleared, and the others' add to the deleted.
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
            } else if (ok && std::string(admin.sql).rfind("UPDATE", 0) == 0) {
                change.cleared += changesOf(done);
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
