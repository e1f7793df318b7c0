#pragma once
// What the game keeps of a leaderboard server's board: "leaderboard_cache.json" in the player's
// data folder, apart from the local file (leaderboard.json beside it), which holds only this
// computer's own results. A server is not trusted: every level it sends is read with the server's
// own name rules, entries keep only the fields the game shows, and the cache never grows past
// kMaxLeaderboardCacheBytes. The leaderboard screen shows the local file and the cache merged.
//
// Both documents have the leaderboard document's shape (leaderboard_document.hpp). Player names
// are compared folded (foldPlayerName), as the server compares them; level names as bytes.
//
// Threads: any thread. The cache file's read-modify-writes hold a lock of this module; the local
// file is read and written through leaderboard_document's own lock.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

// The largest cache file written, in bytes of its text.
constexpr std::size_t kMaxLeaderboardCacheBytes = 4 * 1024 * 1024;

// The most entries kept of one level (the server's board is its top 100).
constexpr std::size_t kMaxCachedEntriesPerLevel = 100;

// Reads level `levelName` out of a server's reply to `GET leaderboard?level=NAME`. The reply must
// be an object with a "levels" array; the level is its first element named exactly `levelName`
// (no such element: the level has no entries). Each score entry is kept only when it is an object
// with a "player" that passes checkPlayerName, a numeric "score", and (when present) a numeric
// "time" and "highestCombo" and a "highestLayer" text of at most 16 bytes that passes
// checkLeaderboardName; only these five fields are kept, and "verified": true when the entry's
// "verified" is the JSON value true (isVerifiedEntry; otherwise the key is left out, which reads as
// unverified). Entries after the first of a folded
// player name and entries past kMaxCachedEntriesPerLevel are dropped too. `level` receives
// {"name": levelName, "scores": [...]}; `dropped` is increased by the entries dropped. False, with
// the reason in `error`, when the reply is not such a document or `levelName` fails
// checkLeaderboardName.
bool readServerBoardLevel(const nlohmann::json& reply, const std::string& levelName, nlohmann::json& level,
                          int& dropped, std::string& error);

// Replaces the levels in `cache` that `fetched` names ({"name", "scores"} each, as
// readServerBoardLevel gives them) with the fetched ones, in place; levels the fetch did not touch
// stay. A cache that is not a leaderboard document becomes an empty one first.
void replaceCachedLevels(nlohmann::json& cache, const std::vector<nlohmann::json>& fetched);

// Reads the cache file: a document with a "levels" array, else an empty one (missing, unreadable,
// corrupt or nested deeper than kMaxJsonDepth: the cache is rebuilt by the next fetch). Entries
// are not checked here; readers must tolerate any element.
nlohmann::json readLeaderboardCache(const std::string& path);

// Updates the cache file at `path` with fetched levels (replaceCachedLevels), all under the
// cache lock, and writes it atomically when its compact text is at most
// kMaxLeaderboardCacheBytes. `cache` receives the updated document whether or not it was written.
// False when it was not: over the cap ("Leaderboard cache not written: %zu bytes is over the
// limit of %zu", stderr; the file keeps what it held) or the write failed ("Failed to save
// leaderboard cache: %s", stderr). An empty `path` writes nothing and returns false silently.
bool updateLeaderboardCache(const std::string& path, const std::vector<nlohmann::json>& fetched,
                            nlohmann::json& cache);

// The leaderboard screen's view: every level of `local`, then the levels only `cache` has; for
// each level the entries of both, one per folded player name, the higher score winning (a tie
// keeps the local entry). Elements without a string name (levels) or player, or without a
// readable score, are left out. Either side may be null or not a document. Only the server says
// what is verified: a "verified" in `local` is dropped, and a local entry that ties a verified
// cached entry of the same player takes its "verified": true (the server ran that very score).
nlohmann::json mergeForDisplay(const nlohmann::json& local, const nlohmann::json& cache);

// The first start after the player's results moved from the game's data folder into the player's
// own: when nothing is at `newPath` and a file is at `oldPath`, writes a new file at `newPath`
// holding the score entries of the player whose name folds to `playerName` (each whole, under its
// level's name, in the old file's order), marked with kOwnResultsOnlyKey, and logs "Took %d of
// %s's results from %s into %s". The old file is never changed (an older version of the game may
// still use it). A corrupt old file is left as it is with "Not taking the results from %s: %s; the
// file is left as it is" on stderr, and an empty new file is written all the same, so that either
// happens once. Does nothing when `newPath` holds a file of any kind, `oldPath` none, or
// `playerName` is empty. False only when the new file could not be written ("Failed to save
// leaderboard file: %s"). Main thread, at start-up.
bool takeOldResults(const std::string& oldPath, const std::string& newPath, const std::string& playerName);
