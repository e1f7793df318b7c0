#pragma once
// vibrelle-leaderboard-server admin ...: the server admin's commands on a database, run while
// servers may be serving it (each change is one transaction). Player names are compared folded
// (foldPlayerName), level names as bytes. Main thread.
//
//   admin release-name NAME --database D      frees a name: its key is dropped, its entries kept
//   admin delete-player NAME --database D     frees a name and removes all its entries
//   admin delete-entry LEVEL NAME --database D  removes one entry
//   admin list-suspect --database D           prints each suspect entry: LEVEL<TAB>PLAYER<TAB>SCORE,
//                                             by level, then score descending
//   admin clear-suspect LEVEL NAME --database D  clears one entry's suspect mark (exit 1: no such
//                                             suspect entry)
//   admin backup DEST --database D            a consistent copy (SQLite); PostgreSQL: how to pg_dump
//   admin check --database D                  the database's integrity check
//
// Each prints what it changed or found on standard output, errors on standard error.

// Runs the command in argv[0..argc) (the words after "admin"). The exit status: 0 done, 1 failed
// (a database error, damage found, no backup written, no suspect entry to clear), 2 a usage error.
int runAdminCommand(int argc, const char* const* argv);

// The text "admin --help" prints.
const char* adminUsage();
