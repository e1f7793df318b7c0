#pragma once
// The leaderboard document and its file, "leaderboard.json" in the player's folder: per level, one score
// entry per player. This module holds the document's rules (plain code on nlohmann::json values) and the only
// code that reads or writes the file.
//
// The document: an object whose "levels" is an array of level entries {"name": string,
// "scores": [score entries]}; a score entry is {"player": string, "score": integer, "time":
// integer seconds, "highestLayer": text "3/8", "highestCombo": integer}; an entry of a server's board
// also carries "verified" (true when the server ran the round again from its replay and got the
// entry's result, and found nothing suspect in it). Keys this program does
// not know are kept wherever they are. Level entries match by "name", score entries by "player"
// (exact, case-sensitive); the first match in array order wins; elements that are not objects,
// or whose key is missing or not a string, never match.
//
// Threads: any thread. Every access to a leaderboard file goes through one process-wide lock held
// by this module, so the save on the main thread and the cache write on a network thread never
// interleave; a file is replaced atomically (written to a temporary file in the same folder,
// flushed, renamed over the old one), so a crash at any moment leaves the old or the new file,
// never a torn one. No routine here throws: JSON and file errors become results and messages.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

// The file's name in the player's data folder (that of prefs.json), where the game keeps it.
constexpr const char* kLeaderboardFileName = "leaderboard.json";

// Where earlier versions kept it: in the game's data folder (its working directory), which an
// installed game cannot write. Read once, to take the player's results over (takeOldResults).
constexpr const char* kOldLeaderboardPath = "levels/leaderboard.json";

// The key that marks a local file as holding only this computer's own results (true): a save that
// starts a new file sets it. A file without it was written by a version that merged the server's
// board into it; only the player's own entries are taken from such a file (takeOldResults in
// leaderboard_cache.hpp).
constexpr const char* kOwnResultsOnlyKey = "ownResultsOnly";

// One round's result, as the in-game exit button saves it.
struct RoundResult {
    std::string level;      // the level's name; nothing is saved when empty
    std::string player;     // the player's name; nothing is saved when empty
    std::int32_t score = 0; // the best score of this round
    std::int32_t time = 0;  // song time at the save, whole seconds (truncated toward zero)
    std::int32_t highestLayer = 1;
    std::int32_t totalLayers = 8;
    std::int32_t highestCombo = 0;
};

// A stored "score" read the way the file allows it: any JSON number (a floating value counts by
// its integer part, clamped to the int32 range) or a boolean (0 or 1). Anything else: nullopt.
std::optional<std::int32_t> storedScore(const nlohmann::json& value);

// The key of a server's entry that says it is verified.
constexpr const char* kVerifiedKey = "verified";

// True when `entry` is an object whose "verified" is the JSON value true; anything else (absent,
// false, 1, "true") counts as unverified.
bool isVerifiedEntry(const nlohmann::json& entry);

// Applies a result to a document in memory, by the save rules: a document that is not an object
// becomes an empty one; a "levels" or "scores" that is not an array becomes an empty one; the
// level entry and the player's score entry are found or appended; an existing entry is rewritten
// (score, time, highestLayer, highestCombo; "player" and unknown keys stay) only when its stored
// score is below the result's score, and a stored score that is not a number or boolean counts as
// absent. Otherwise logs "Score less than high score. High score: %d" with the result's score.
// True when the document changed. A result with an empty level or player name changes nothing.
bool applyRoundResult(nlohmann::json& document, const RoundResult& result);

// The player's best score for the level in the document, 0 when there is none (same matching as
// above; a score that is not a number or boolean counts as none).
std::int32_t findPlayerScore(const nlohmann::json& document, const std::string& level,
                             const std::string& player);

// A document of the same shape holding only `player`'s own score entries (each whole), under
// their level entries' names, in document order; levels where the player has no entry are left
// out. This is what the game uploads: its own results, not everything it has cached.
nlohmann::json playerEntries(const nlohmann::json& document, const std::string& player);

// Merges a server's leaderboard into a local document: for every (level, player) pair the entry
// with the higher score is kept whole (its details and unknown keys); entries only one side has
// are kept; order: the local document's first, then the server's new levels and players in their
// order. A tie keeps the local entry; a local entry whose score cannot be read loses to the
// server's. Server levels without a string "name" and server score entries without a string
// "player" or a readable score are skipped; such local elements stay as they are. A level only the
// server has comes whole (its own keys), with its scores filtered that way; for a level both have,
// the local level entry's other keys stay. `server` must be an object with a "levels" array
// (anything else leaves `local` as it is and returns false). A local document that is not an
// object counts as empty. True when `server` was merged.
bool mergeLeaderboards(nlohmann::json& local, const nlohmann::json& server);

// Text of a document as the file stores it: `indent` spaces per level (4 for the file, -1 for a
// compact body), keys in ascending byte order, no trailing newline. Strings that are not valid
// UTF-8 are written with U+FFFD replacement characters instead of failing.
std::string serializeLeaderboard(const nlohmann::json& document, int indent);

// What reading the file found.
enum class LeaderboardRead {
    Ok,      // `document` holds the parsed file (any JSON value)
    Missing, // no file, an unreadable one, or an empty one: `document` is null
    Corrupt, // not JSON, or nested deeper than kMaxJsonDepth: `document` is null, `error` says why
};

// Reads and parses the file at `path`, under the file lock.
LeaderboardRead readLeaderboardFile(const std::string& path, nlohmann::json& document, std::string& error);

// Replaces the file at `path` with `text` atomically, under the file lock. False, with the reason
// in `error`, when it could not be written (the old file is then untouched).
bool writeLeaderboardFile(const std::string& path, const std::string& text, std::string& error);

// Saves a round's result into the file at `path`, all under the file lock: reads it (missing:
// logs "Leaderboard file not found or empty. Creating a new one at %s"; not JSON: writes "Failed
// to parse existing leaderboard JSON: %s. Creating new file." to stderr and renames the file
// aside to `path` + ".bad" first, so nothing is silently destroyed; a new document starts with
// kOwnResultsOnlyKey set), applies the result, and
// writes the document (indent 4) atomically, logging "Leaderboard successfully saved to %s" or
// writing "Failed to save leaderboard file: %s" to stderr. `saved` receives the document as
// saved (also when the write failed), for the upload; a lower score than the stored one is still
// a successful save (the file is written back unchanged in content). False when the result was
// not applied (empty names: the file is neither read nor written, `saved` is null) or the write
// failed (also when a corrupt file could not be renamed aside: it is then left in place).
bool saveRoundResultTo(const std::string& path, const RoundResult& result, nlohmann::json& saved);
