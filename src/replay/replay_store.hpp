#pragma once
// Where replays are kept: `<data folder>/replays/<level folder>/<YYYYMMDD-HHMMSS>-<score>.vbr`, one
// folder per level, and how many are kept: after each save, the ten best of each level (by score)
// and the twenty latest rounds over all levels (by wall-clock end); the others are removed.
// Files and folders it did not write (other names, other format versions) are left alone.
// Plain file calls: any thread, one at a time per data folder (the caller serialises).
#include "replay/replay_file.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kBestReplaysKeptPerLevel = 10;
constexpr std::size_t kLatestReplaysKept = 20;
// The longest part of a level folder's name taken from the level's name, in bytes.
constexpr std::size_t kMaxReplayFolderNameBytes = 48;

// A level's folder name under replays/: its name's letters, digits and marks (any script), '-'
// and '_', every other character (separators, dots, spaces, controls, bytes that are not UTF-8)
// as '_', cut to kMaxReplayFolderNameBytes at a character boundary ("level" when nothing is
// left), then '-' and the first 12 hex digits of the name's SHA-256, so that names that clean
// to the same text ("a/b", "a_b", "a?b") still get folders of their own.
std::string replayLevelFolderName(const std::string& levelName);

// The folder of `levelName`'s replays under `dataFolder`.
std::string replayLevelFolder(const std::string& dataFolder, const std::string& levelName);

// The file name of `replay`: the round's wall-clock start in UTC as YYYYMMDD-HHMMSS, '-', its
// score, ".vbr".
std::string replayFileName(const Replay& replay);

// A replay file found in the store, with what its first bytes say.
struct StoredReplay {
    std::string path;
    ReplaySummary summary;
};

// Writes `replay` into its level's folder under `dataFolder` (creating the folders), under
// replayFileName, or with "-2", "-3", ... before ".vbr" when that name is taken: a save never
// replaces another round. Then prunes the store (pruneReplays), keeping the new file whatever
// its rank. The path written goes to `path`. False, with the reason in `error` and logged, when
// the replay is refused or could not be written; a failure to prune is logged but does not fail
// the save.
bool saveReplay(const std::string& dataFolder, const Replay& replay, std::string& path, std::string& error);

// The replays of `levelName` under `dataFolder`, latest wall-clock end first. Files that do not
// read as replays of this format version are left out. Empty when there is no folder.
std::vector<StoredReplay> listReplays(const std::string& dataFolder, const std::string& levelName);

// A leaderboard entry of the player's own, as the local leaderboard file keeps a round's result
// (leaderboard/round_save.hpp, roundResultOf): the level, the score, the song time at the round's
// end in whole seconds (truncated) and the highest combo.
struct ReplayEntry {
    std::string levelName;
    std::int32_t score = 0;
    std::int32_t timeSeconds = 0;
    std::int32_t highestCombo = 0;
};

// The path of the stored replay of the round that made `entry`, or "" when there is none (an
// entry older than replays, one from another computer, or a replay pruned since). Lists the
// level's folder under `dataFolder` and reads only each file's summary: a match is a replay
// the player played (not the bot) with the entry's score and highest combo whose song end,
// truncated to seconds, lies within a second of the entry's time (the entry's time and the
// replay's end come from two readings of the song clock a frame apart, which may fall on either
// side of a whole second). Of several matches, the earliest start: a later round with an equal
// score does not rewrite the entry.
std::string findReplayFor(const std::string& dataFolder, const ReplayEntry& entry);

// Removes every replay under `dataFolder`/replays that is neither among the kBestReplaysKeptPerLevel
// best of its level (by score; the later end first among equal scores; practice rounds are never
// among the best) nor among the
// kLatestReplaysKept latest over all levels (by wall-clock end), nor `keepPath`. Files that do
// not read as replays are not counted and not removed. False when a file could not be removed
// (each logged); the rest are still removed.
bool pruneReplays(const std::string& dataFolder, const std::string& keepPath = std::string());
