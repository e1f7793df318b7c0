// The PostgreSQL store's helpers and its schema: creation, the move from the first schema, and the
// columns added since.
#include "server/postgres_schema.hpp"

#include "base/log.hpp"
#include "server/schema_migration.hpp"
#include "server/store_backends.hpp"

#include <cstdlib>

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

std::string whereOf(PGconn* connection) {
    const auto text = [](const char* value) { return std::string(value == nullptr ? "" : value); };
    return text(PQhost(connection)) + ":" + text(PQport(connection)) + "/" + text(PQdb(connection));
}

Result execute(PGconn* connection, const char* sql) { return Result(PQexec(connection, sql)); }

Result run(PGconn* connection, const char* statement, const std::vector<std::string>& values, bool prepared,
           const std::string* binary) {
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

std::int64_t changesOf(const Result& result) { return std::strtoll(PQcmdTuples(result.get()), nullptr, 10); }

namespace {

// Taken while the tables are created or migrated, so that processes starting at once take turns.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(8420014)";
constexpr const char* kCreateTables = "CREATE TABLE leaderboard_entries ("
                                      " id BIGSERIAL PRIMARY KEY,"
                                      " level TEXT COLLATE \"C\" NOT NULL,"
                                      " player TEXT COLLATE \"C\" NOT NULL,"
                                      " player_key TEXT COLLATE \"C\" NOT NULL,"
                                      " score INTEGER NOT NULL,"
                                      " stored_at BIGINT NOT NULL,"
                                      " entry TEXT NOT NULL,"
                                      " verified BOOLEAN NOT NULL DEFAULT false,"
                                      " suspect BOOLEAN NOT NULL DEFAULT false,"
                                      " replay BYTEA,"
                                      " UNIQUE (level, player_key));"
                                      "CREATE TABLE player_owners ("
                                      " name_key TEXT COLLATE \"C\" PRIMARY KEY,"
                                      " key_hash TEXT NOT NULL,"
                                      " claimed_at BIGINT NOT NULL);";

// The columns a table made before replays or the suspect mark lacks (a large replay lives out of
// line in PostgreSQL, so a column added after it costs nothing to read), and the rank order as an
// index, so that a page of a level is a bounded read of it; it replaces the index of scores alone
// that tables made before the suspect mark have. Run at every start, under the schema lock.
constexpr const char* kAddVerificationColumns =
    "ALTER TABLE leaderboard_entries ADD COLUMN IF NOT EXISTS verified BOOLEAN NOT NULL DEFAULT false,"
    " ADD COLUMN IF NOT EXISTS suspect BOOLEAN NOT NULL DEFAULT false, ADD COLUMN IF NOT EXISTS replay BYTEA;"
    "DROP INDEX IF EXISTS leaderboard_entries_rank;"
    "CREATE INDEX IF NOT EXISTS leaderboard_entries_ranked ON leaderboard_entries"
    " (level, (verified AND NOT suspect) DESC, score DESC, stored_at, id)";
constexpr const char* kInsertMigrated =
    "INSERT INTO leaderboard_entries (id, level, player, player_key, score, stored_at, entry)"
    " VALUES ($1::bigint, $2, $3, $4, $5::integer, $6::bigint, $7)";

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

} // namespace

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
    }
    ok = ok && succeeded(execute(connection, kAddVerificationColumns));
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
