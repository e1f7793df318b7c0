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

// The largest upload body the server reads, in bytes: room for the replay of a 30-minute round of
// dense play (36 000 inputs, a 1.1 MB file: packed, 0.24 MB of keyboard play, 0.64 MB of pointer
// play, 1.44 MB if it did not compress at all).
constexpr std::size_t kMaxUploadBytes = 2 * 1024 * 1024;
// The most score entries with a "replay" one upload may carry. Each may take the server up to
// kMaxInflatedReplayBytes of inflating and reading (some 20 ms for a stream that only inflates, 70
// ms for the largest replay read, on one core), and the game sends one.
constexpr std::size_t kMaxUploadReplays = 4;
// The deepest nesting of arrays and objects an upload may have (the document itself is depth 1,
// a score entry depth 5); a deeper body is refused before it is used.
constexpr int kMaxUploadDepth = 32;
// The room a new score entry's unknown keys get in all, in bytes of compact JSON ("key":value
// plus a comma each): they ride along, within reason.
constexpr std::size_t kMaxExtraKeyBytes = 1024;
// The longest "highestLayer" text kept, in bytes.
constexpr std::size_t kMaxLayerTextBytes = 16;

// One score entry as the server keeps it.
struct StoredEntry {
    std::string level;      // the level entry's "name", compared as bytes
    std::string player;     // the entry's "player" as uploaded
    std::string playerKey;  // foldPlayerName(player): what entries and owners are matched by
    std::int32_t score = 0; // the entry's "score", 0..INT32_MAX
    nlohmann::json entry;   // the whole score entry object without "replay"; its "score" is the integer above
    // The entry's "replay": as uploaded (base64 text) after readUpload, the zlib stream it decodes
    // to once the replay has been checked (replay_intake.hpp); "" for an entry without one.
    std::string replay;
    bool verified = false; // its round was run again and came to its result
    bool suspect = false;  // verified, but its hit offsets are too even for a person (see replay_verify.hpp)
};

// What an upload holds.
struct Upload {
    std::vector<StoredEntry>
        entries;             // valid entries, the best of each (level, folded player), first-seen order
    std::size_t skipped = 0; // entries (and unreadable level entries) left out
    // One element per skipped entry: {"level", "player", "error"}, the names left out where they
    // could not be read as valid names.
    std::vector<nlohmann::json> errors;
    std::size_t droppedKeys = 0; // keys taken off kept entries (see readUpload)
};

// A score an upload may carry: a JSON number (not a boolean), finite, whose integer part (toward
// zero) is in 0..INT32_MAX. Anything else: false.
bool uploadScore(const nlohmann::json& value, std::int32_t& score);

// Reads an upload body. It must be JSON (at most kMaxUploadDepth deep) whose top level is an
// object with a "levels" array: otherwise false with `status` 400 and the reason in `error`. An
// upload of more than `maxEntries` score entries, or more than kMaxUploadReplays of them with a
// "replay" member (counted before any check), is refused with `status` 413. Inside a good document, bad parts
// are skipped, counted in `upload.skipped` and explained in `upload.errors`: each score entry that is not an
// object, whose "player" fails checkPlayerName or whose level "name" fails checkLeaderboardName, or whose
// score fails uploadScore, or whose "replay" is there but not a non-empty string; and each level entry that
// is not an object or has no "scores" array (counted once). A kept entry loses, counted in
// `upload.droppedKeys`: a "time" or "highestCombo" that is not an integer from 0 to INT32_MAX, a
// "highestLayer" that is not a valid name of at most kMaxLayerTextBytes bytes, and the unknown keys past
// kMaxExtraKeyBytes: they are taken in byte order of their names, and the first that would overrun the room
// is dropped with every key after it. A kept entry's "replay" moves out of its JSON into `replay`, unchecked.
// Several entries for one (level, folded player) keep the highest score (the first of equal ones), and count
// as taken, not skipped.
bool readUpload(std::string_view body, std::size_t maxEntries, Upload& upload, int& status,
                std::string& error);

// One level's part of a board: its entries from `offset` on, in rank order, and how many it has.
struct LevelPage {
    std::string level;
    std::int64_t total = 0;  // entries the level has
    std::int64_t offset = 0; // rank (from 0) of the first of `entries`
    std::vector<StoredEntry> entries;
};

// A leaderboard document of `levels`: {"levels": [{"name", "total", "scores"}, ...]} in the order
// given, with "offset" on each level too when `withOffset`.
// The entries are moved into the document, not copied: a whole board is some 100 000 of them.
nlohmann::json documentOfPages(std::vector<LevelPage> levels, bool withOffset);
