// The PostgreSQL store: libpq connections in a pool, prepared statements only. Several server
// processes may share one database; the merge's WHERE clause and PostgreSQL's row locks keep the
// better score whichever upload commits first.
#include "server/store_backends.hpp"

#include "leaderboard/leaderboard_document.hpp"

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Taken while the table is created, so that two processes starting at once do not both try.
constexpr const char* kCreateTable = "BEGIN;"
                                     "SELECT pg_advisory_xact_lock(8420014);"
                                     "CREATE TABLE IF NOT EXISTS leaderboard_scores ("
                                     " id BIGSERIAL PRIMARY KEY,"
                                     " level TEXT COLLATE \"C\" NOT NULL,"
                                     " player TEXT COLLATE \"C\" NOT NULL,"
                                     " score INTEGER NOT NULL,"
                                     " entry TEXT NOT NULL,"
                                     " UNIQUE (level, player));"
                                     "COMMIT;";

constexpr const char* kUpsert = "INSERT INTO leaderboard_scores AS stored (level, player, score, entry)"
                                " VALUES ($1, $2, $3::integer, $4)"
                                " ON CONFLICT (level, player) DO UPDATE SET score = excluded.score,"
                                " entry = excluded.entry"
                                " WHERE excluded.score > stored.score";
constexpr const char* kSelectScore = "SELECT score FROM leaderboard_scores WHERE level = $1 AND player = $2";
constexpr const char* kSelectAll = "SELECT level, player, score, entry FROM leaderboard_scores ORDER BY id";

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

Result executePrepared(PGconn* connection, const char* name, const std::vector<const char*>& values,
                       const std::vector<int>& lengths) {
    return Result(PQexecPrepared(connection, name, static_cast<int>(values.size()), values.data(),
                                 lengths.data(), nullptr, 0));
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
        const Result created = execute(first.get(), kCreateTable);
        if (!succeeded(created)) {
            error = "cannot create the table: " + messageOf(first.get());
            return false;
        }
        if (!prepareStatements(first.get(), error)) {
            return false;
        }
        open_ = 1;
        release(std::move(first));
        return true;
    }

    bool mergeEntries(const std::vector<StoredEntry>& entries, std::string& error) override {
        if (entries.empty()) {
            return true;
        }
        const std::vector<const StoredEntry*> sorted = inKeyOrder(entries);
        std::vector<std::string> texts;
        texts.reserve(sorted.size());
        for (const StoredEntry* stored : sorted) {
            texts.push_back(serializeLeaderboard(stored->entry, -1));
        }
        for (int attempt = 1;; ++attempt) {
            Connection connection = acquire(error);
            if (!connection) {
                return false;
            }
            bool retry = false;
            const bool ok = mergeOnce(connection.get(), sorted, texts, retry, error);
            release(std::move(connection));
            if (ok || !retry || attempt == kMergeAttempts) {
                return ok;
            }
        }
    }

    bool loadEntries(std::vector<StoredEntry>& entries, std::string& error) override {
        entries.clear();
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        const Result result = executePrepared(connection.get(), "select_all", {}, {});
        const bool ok = succeeded(result);
        if (ok) {
            const int rows = PQntuples(result.get());
            entries.reserve(static_cast<std::size_t>(rows));
            for (int row = 0; row < rows; ++row) {
                StoredEntry stored;
                stored.level.assign(PQgetvalue(result.get(), row, 0), PQgetlength(result.get(), row, 0));
                stored.player.assign(PQgetvalue(result.get(), row, 1), PQgetlength(result.get(), row, 1));
                stored.score =
                    static_cast<std::int32_t>(std::strtol(PQgetvalue(result.get(), row, 2), nullptr, 10));
                stored.entry = entryFromRow(PQgetvalue(result.get(), row, 3), stored.player, stored.score);
                entries.push_back(std::move(stored));
            }
        } else {
            error = "cannot read the scores: " + messageOf(connection.get());
        }
        release(std::move(connection));
        return ok;
    }

    bool playerScore(const std::string& level, const std::string& player, std::int32_t& score,
                     std::string& error) override {
        score = 0;
        Connection connection = acquire(error);
        if (!connection) {
            return false;
        }
        const Result result =
            executePrepared(connection.get(), "select_score", {level.c_str(), player.c_str()},
                            {static_cast<int>(level.size()), static_cast<int>(player.size())});
        const bool ok = succeeded(result);
        if (ok && PQntuples(result.get()) > 0) {
            score = static_cast<std::int32_t>(std::strtol(PQgetvalue(result.get(), 0, 0), nullptr, 10));
        } else if (!ok) {
            error = "cannot read a score: " + messageOf(connection.get());
        }
        release(std::move(connection));
        return ok;
    }

    // amcheck's heap and B-tree checks over the table and its indexes (the extension is created
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
                execute(connection.get(), "SELECT count(*) FROM verify_heapam('leaderboard_scores')");
            const Result indexes = execute(
                connection.get(), "SELECT bt_index_check(index => i.indexrelid, heapallindexed => true)"
                                  " FROM pg_index i WHERE i.indrelid = 'leaderboard_scores'::regclass");
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
        const std::pair<const char*, const char*> statements[] = {
            {"upsert", kUpsert}, {"select_score", kSelectScore}, {"select_all", kSelectAll}};
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

    bool mergeOnce(PGconn* connection, const std::vector<const StoredEntry*>& sorted,
                   const std::vector<std::string>& texts, bool& retry, std::string& error) {
        retry = false;
        if (!succeeded(execute(connection, "BEGIN"))) {
            error = "cannot begin a transaction: " + messageOf(connection);
            return false;
        }
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            const StoredEntry& stored = *sorted[i];
            const std::string score = std::to_string(stored.score);
            const Result result = executePrepared(
                connection, "upsert",
                {stored.level.c_str(), stored.player.c_str(), score.c_str(), texts[i].c_str()},
                {static_cast<int>(stored.level.size()), static_cast<int>(stored.player.size()),
                 static_cast<int>(score.size()), static_cast<int>(texts[i].size())});
            if (!succeeded(result)) {
                error = "cannot store a score: " + messageOf(connection);
                retry = isRetryable(result);
                execute(connection, "ROLLBACK");
                return false;
            }
        }
        const Result committed = execute(connection, "COMMIT");
        if (!succeeded(committed)) {
            error = "cannot commit: " + messageOf(connection);
            retry = isRetryable(committed);
            return false;
        }
        return true;
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
