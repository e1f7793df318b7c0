#pragma once
// The leaderboard server's view of a leaderboard document: a list of score entries, one per
// (level, player), read from an upload and turned back into a document. Pure functions, any
// thread; nothing here throws.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest upload body the server reads, in bytes.
constexpr std::size_t kMaxUploadBytes = 1024 * 1024;
// The deepest nesting of arrays and objects an upload may have (the document itself is depth 1,
// a score entry depth 5); a deeper body is refused before it is used.
constexpr int kMaxUploadDepth = 32;
// The longest score entry kept, in bytes of compact JSON: unknown keys ride along, within reason.
constexpr std::size_t kMaxEntryBytes = 4096;

// One score entry as the server keeps it.
struct StoredEntry {
    std::string level;      // the level entry's "name"
    std::string player;     // the entry's "player"
    std::int32_t score = 0; // the entry's "score", 0..INT32_MAX
    nlohmann::json entry;   // the whole score entry object; its "score" is the integer above
};

// What an upload holds.
struct Upload {
    std::vector<StoredEntry> entries; // valid entries, the best of each (level, player), first-seen order
    std::size_t skipped = 0;          // entries (and unreadable level entries) left out
};

// A score an upload may carry: a JSON number (not a boolean), finite, whose integer part (toward
// zero) is in 0..INT32_MAX. Anything else: false.
bool uploadScore(const nlohmann::json& value, std::int32_t& score);

// Reads an upload body. It must be JSON (at most kMaxUploadDepth deep) whose top level is an
// object with a "levels" array: otherwise false with `status` 400 and the reason in `error`. An
// upload of more than `maxEntries` score entries (counted before any check) is refused with
// `status` 413. Inside a good document, bad parts are skipped and counted in `upload.skipped`:
// each score entry that is not an object, whose "player" or level "name" is not a valid name
// (checkLeaderboardName), whose score fails uploadScore, or which is longer than kMaxEntryBytes;
// and each level entry that is not an object or has no "scores" array (counted once). Several
// entries for one (level, player) keep the highest score (the first of equal ones), and count as
// taken, not skipped.
bool readUpload(std::string_view body, std::size_t maxEntries, Upload& upload, int& status,
                std::string& error);

// A leaderboard document of `entries`: levels in order of their first entry, each level's score
// entries in the order given.
nlohmann::json documentOfEntries(const std::vector<StoredEntry>& entries);
