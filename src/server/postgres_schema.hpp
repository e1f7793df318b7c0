#pragma once
// What the PostgreSQL store's files share: owning handles of libpq's connections and results, the
// small wrappers over its calls, and the schema (created or migrated when a store opens). Any
// thread, one connection per thread at a time.
#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// The server's last message on `connection` without its trailing newline.
std::string messageOf(PGconn* connection);

// True when `result` is there and its command succeeded (with or without rows).
bool succeeded(const Result& result);

// True when `result` failed as a deadlock or a serialisation failure: worth another attempt.
bool isRetryable(const Result& result);

// "host:port/database" of a connection, for the start-up line (no user or password).
std::string whereOf(PGconn* connection);

// Runs `sql` (one or more statements, no parameters); the last statement's result.
Result execute(PGconn* connection, const char* sql);

// A prepared statement (by name) or, when `prepared` is false, an SQL text, with text parameters
// and, when `binary` is given, one binary parameter after them (NULL when it is empty).
Result run(PGconn* connection, const char* statement, const std::vector<std::string>& values,
           bool prepared = true, const std::string* binary = nullptr);

// A column of a row as bytes, and as a decimal number.
std::string textOf(const Result& result, int row, int column);
std::int64_t numberOf(const Result& result, int row, int column);

// Rows a command changed (its tag's count).
std::int64_t changesOf(const Result& result);

// Creates the tables when missing, migrates the first schema's (see mergeLegacyLevel) and adds the
// columns and index of the replays and the suspect mark to a table made before them, in one
// transaction under an advisory lock, so that server processes starting at once on one database
// take turns. False with the reason.
bool ensureSchema(PGconn* connection, std::string& error);
