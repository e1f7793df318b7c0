// The SQLite store's helpers and its schema: creation and the move from the first schema.
#include "server/sqlite_schema.hpp"

#include "base/log.hpp"
#include "server/schema_migration.hpp"
#include "server/store_backends.hpp"

#include <algorithm>

std::string errorOf(sqlite3* db, const char* what) { return std::string(what) + ": " + sqlite3_errmsg(db); }

bool prepare(sqlite3* db, const char* sql, Statement& statement, std::string& error, bool persistent) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, persistent ? SQLITE_PREPARE_PERSISTENT : 0, &raw, nullptr) !=
        SQLITE_OK) {
        error = errorOf(db, "cannot prepare a statement");
        sqlite3_finalize(raw);
        return false;
    }
    statement.reset(raw);
    return true;
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// Runs a statement that returns no rows (or whose rows are not needed) and resets it.
bool runOnce(sqlite3* db, sqlite3_stmt* statement, const char* what, std::string& error) {
    int result = SQLITE_ROW;
    while (result == SQLITE_ROW) {
        result = sqlite3_step(statement);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (result != SQLITE_DONE) {
        error = errorOf(db, what);
        return false;
    }
    return true;
}

// A text column as bytes (names may hold any UTF-8, never NUL).
std::string textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text == nullptr ? std::string() : std::string(text, sqlite3_column_bytes(statement, column));
}

// Runs `sql` (no parameters) and collects the first column of every row, up to `maxRows`.
bool queryTexts(sqlite3* db, const char* sql, std::vector<std::string>& values, std::string& error,
                std::size_t maxRows) {
    values.clear();
    Statement statement;
    if (!prepare(db, sql, statement, error, false)) {
        return false;
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        if (values.size() < maxRows) {
            values.push_back(textColumn(statement.get(), 0));
        }
    }
    if (result != SQLITE_DONE) {
        error = errorOf(db, sql);
        return false;
    }
    return true;
}

bool execute(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = std::string(sql).substr(0, 40) + "...: " + (message != nullptr ? message : "failed");
        sqlite3_free(message);
        return false;
    }
    return true;
}

namespace {

// The entries, with the rank order as an index, so that a page of a level is a bounded read of it.
constexpr const char* kCreateEntries =
    "CREATE TABLE leaderboard_entries ("
    " id INTEGER PRIMARY KEY,"
    " level TEXT NOT NULL,"
    " player TEXT NOT NULL,"     // as uploaded
    " player_key TEXT NOT NULL," // foldPlayerName(player)
    " score INTEGER NOT NULL,"
    " stored_at INTEGER NOT NULL," // microseconds since the epoch
    " entry TEXT NOT NULL,"
    " verified INTEGER NOT NULL DEFAULT 0," // 1: the round was run again and came to its result
    " suspect INTEGER NOT NULL DEFAULT 0,"  // 1: verified, but its hit offsets are too even
    // Last, so that reading the columns before it never walks the replay's overflow pages.
    " replay BLOB," // the zlib stream of its replay as uploaded, or NULL
    " UNIQUE (level, player_key));"
    "CREATE INDEX leaderboard_entries_ranked ON leaderboard_entries"
    " (level, (verified AND NOT suspect) DESC, score DESC, stored_at, id);";
constexpr const char* kCreateOwners = "CREATE TABLE player_owners ("
                                      " name_key TEXT PRIMARY KEY," // the folded name
                                      " key_hash TEXT NOT NULL,"    // SHA-256 of the key, hex
                                      " claimed_at INTEGER NOT NULL);";

// Moves the rows of the first schema's table into leaderboard_entries, level by level (see
// mergeLegacyLevel), then drops it. Runs inside the schema transaction.
bool migrateLegacy(sqlite3* db, MigrationCounts& counts, std::string& error) {
    Statement select, insert;
    if (!prepare(db, "SELECT id, level, player, score, entry FROM leaderboard_scores ORDER BY level, id",
                 select, error, false) ||
        !prepare(db,
                 "INSERT INTO leaderboard_entries (id, level, player, player_key, score, stored_at, entry)"
                 " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                 insert, error, false)) {
        return false;
    }
    const std::int64_t now = storedAtNow();
    std::vector<LegacyRow> level;
    const auto flush = [&]() {
        for (const LegacyRow& row : mergeLegacyLevel(std::move(level), counts)) {
            sqlite3_bind_int64(insert.get(), 1, row.id);
            bindText(insert.get(), 2, row.level);
            bindText(insert.get(), 3, row.player);
            bindText(insert.get(), 4, row.playerKey);
            sqlite3_bind_int64(insert.get(), 5, row.score);
            sqlite3_bind_int64(insert.get(), 6, now);
            bindText(insert.get(), 7, row.entry);
            if (!runOnce(db, insert.get(), "cannot move a score entry", error)) {
                return false;
            }
        }
        level.clear();
        return true;
    };
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(select.get())) == SQLITE_ROW) {
        LegacyRow row;
        row.id = sqlite3_column_int64(select.get(), 0);
        row.level = textColumn(select.get(), 1);
        row.player = textColumn(select.get(), 2);
        row.score = static_cast<std::int32_t>(sqlite3_column_int64(select.get(), 3));
        row.entry = textColumn(select.get(), 4);
        if (!level.empty() && level.front().level != row.level && !flush()) {
            return false;
        }
        level.push_back(std::move(row));
    }
    if (result != SQLITE_DONE) {
        error = errorOf(db, "cannot read the old scores");
        return false;
    }
    select.reset();
    return flush() && execute(db, "DROP TABLE leaderboard_scores", error);
}

// Brings a table made before the suspect mark (or before replays) to the current columns; the
// entries it moved in `rebuilt` ("" when the table was current). The table is rebuilt rather than
// altered: a column added by ALTER TABLE would come after the replay, and reading it would walk
// each replay's overflow pages. Runs inside the schema transaction.
bool addVerificationColumns(sqlite3* db, std::string& rebuilt, std::string& error) {
    std::vector<std::string> columns;
    if (!queryTexts(db, "SELECT name FROM pragma_table_info('leaderboard_entries')", columns, error, 64)) {
        return false;
    }
    const auto has = [&](const char* name) {
        return std::find(columns.begin(), columns.end(), name) != columns.end();
    };
    if (has("suspect")) {
        return true;
    }
    const std::string kept = std::string("id, level, player, player_key, score, stored_at, entry") +
                             (has("verified") ? ", verified, replay" : "");
    const std::string rebuild = "DROP INDEX IF EXISTS leaderboard_entries_rank;"
                                "ALTER TABLE leaderboard_entries RENAME TO leaderboard_entries_old;" +
                                std::string(kCreateEntries) + "INSERT INTO leaderboard_entries (" + kept +
                                ") SELECT " + kept +
                                " FROM leaderboard_entries_old;"
                                "DROP TABLE leaderboard_entries_old;";
    std::vector<std::string> count;
    if (!execute(db, rebuild.c_str(), error) ||
        !queryTexts(db, "SELECT count(*) FROM leaderboard_entries", count, error)) {
        return false;
    }
    rebuilt = count.empty() ? "0" : count.front();
    return true;
}

} // namespace

bool ensureSchema(sqlite3* db, const std::string& path, std::string& error) {
    if (!execute(db, "BEGIN IMMEDIATE", error)) {
        return false;
    }
    std::vector<std::string> current, legacy;
    bool ok =
        queryTexts(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'leaderboard_entries'",
                   current, error) &&
        queryTexts(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'leaderboard_scores'",
                   legacy, error);
    MigrationCounts counts;
    std::string rebuilt;
    const bool migrate = ok && current.empty() && !legacy.empty();
    if (ok && current.empty()) {
        ok = execute(db, kCreateEntries, error) && execute(db, kCreateOwners, error) &&
             (!migrate || migrateLegacy(db, counts, error));
    } else if (ok) {
        ok = addVerificationColumns(db, rebuilt, error);
    }
    ok = ok && execute(db, "COMMIT", error);
    if (!ok) {
        std::string ignored;
        execute(db, "ROLLBACK", ignored);
        return false;
    }
    if (migrate) {
        logMessage("%s (%s)", migrationSummary(counts).c_str(), path.c_str());
    }
    if (!rebuilt.empty()) {
        // The old table's pages stay in the file as free space, which later entries fill.
        logMessage("Copied %s score entries to a table with the suspect mark (%s); the file keeps the old "
                   "table's space for new entries (admin backup writes a compacted copy)",
                   rebuilt.c_str(), path.c_str());
    }
    return true;
}
