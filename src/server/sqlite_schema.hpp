#pragma once
// What the SQLite store's files share: statement handles, the small wrappers over SQLite's calls,
// and the schema (created or migrated when a store opens). Any thread, one connection per thread.
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// "what: <SQLite's message>".
std::string errorOf(sqlite3* db, const char* what);

// Prepares `sql` into `statement` (kept long when `persistent`); false with the reason.
bool prepare(sqlite3* db, const char* sql, Statement& statement, std::string& error, bool persistent = true);

// Binds `text` (which must outlive the statement's next step) to parameter `index`.
void bindText(sqlite3_stmt* statement, int index, const std::string& text);

// Runs a statement that returns no rows (or whose rows are not needed), then resets it and clears
// its bindings.
bool runOnce(sqlite3* db, sqlite3_stmt* statement, const char* what, std::string& error);

// A text column as bytes (names may hold any UTF-8, never NUL).
std::string textColumn(sqlite3_stmt* statement, int column);

// Runs `sql` (no parameters) and collects the first column of every row, up to `maxRows`.
bool queryTexts(sqlite3* db, const char* sql, std::vector<std::string>& values, std::string& error,
                std::size_t maxRows = 1);

// Runs `sql` (one or more statements, no parameters).
bool execute(sqlite3* db, const char* sql, std::string& error);

// Creates the tables when missing, migrates the first schema's (see mergeLegacyLevel) and brings a
// table made before the replay columns (verified, replay) or the suspect mark to the current
// columns (rebuilding it, its rows and ids kept), all in one write transaction, so that a second process
// opening the file at once waits and then finds the work done. Logs the migration's summary line with `path`.
bool ensureSchema(sqlite3* db, const std::string& path, std::string& error);
