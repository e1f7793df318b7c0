#pragma once
// Replays of other players' verified rounds, downloaded from the leaderboard server:
//   GET <base>/replay?level=<level>&player=<player>  -> the replay file's bytes (names percent-encoded)
// The server is not trusted: the body is capped, read with the replay reader and checked to be of
// the level asked for before anything is written. A downloaded replay is kept in
// `<data folder>/downloaded/`, apart from the player's own replays (replay_store.hpp prunes only
// those): one file per level and player, replaced by a later download of the same entry, and at
// most kDownloadedReplaysKept of them, the oldest downloads removed first.
#include "leaderboard/leaderboard_client.hpp"

#include <cstddef>
#include <functional>
#include <string>

// The longest reply body taken, in bytes; a longer one is refused as it arrives.
constexpr std::size_t kMaxDownloadedReplayBytes = 8 * 1024 * 1024;
// How many downloaded replays are kept.
constexpr std::size_t kDownloadedReplaysKept = 20;
// How long one download may take as a whole, in seconds (8 MB on a slow line).
constexpr double kReplayDownloadDeadlineSeconds = 60.0;

// The texts a failed download shows when the server gave no reason of its own, and when its reply
// is not a replay of the level asked for.
constexpr const char* kReplayDownloadFailed = "Cannot download the replay";
constexpr const char* kReplayDownloadUnreadable = "The downloaded replay cannot be read";

// A download's outcome: the path of the saved replay, or what to tell the player.
struct ReplayDownload {
    bool ok = false;
    std::string level;
    std::string player;
    std::string path;  // the saved file, when ok
    std::string error; // one short line for the screen, when not ok
};

// `dataFolder`/downloaded.
std::string downloadedReplayFolder(const std::string& dataFolder);

// The file name a download of `player`'s replay of `level` is saved under: the level's and the
// player's names made safe as replay folders are (replayLevelFolderName: the cleaned name and a
// hash of it), joined by "--", ".vbr".
std::string downloadedReplayFileName(const std::string& level, const std::string& player);

// Checks `bytes` as a replay of `level` (decodeReplay, then its level name) and saves them in
// `folder` (created when missing) under downloadedReplayFileName, replacing an earlier download
// of the same entry atomically, then prunes the folder (pruneDownloadedReplays). False, with the
// path untouched and `error` set to kReplayDownloadUnreadable (the reason logged: "Refusing the
// downloaded replay of %s by %s: %s") or to "Cannot save the replay" (logged with the cause).
// Plain file calls; one at a time per folder (downloadReplayAsync serialises its own calls).
bool saveDownloadedReplay(const std::string& folder, const std::string& level, const std::string& player,
                          const std::string& bytes, std::string& path, std::string& error);

// Removes the oldest replays in `folder` (by modification time, then name) past the
// kDownloadedReplaysKept newest, never `keepPath`. Only regular ".vbr" files that read as replays
// count; anything else is left alone. False when a file could not be removed (logged).
bool pruneDownloadedReplays(const std::string& folder, const std::string& keepPath = std::string());

// Downloads and saves `player`'s replay of `level` from the server at `baseUrl` into
// downloadedReplayFolder(`dataFolder`), with `limits`' time-outs, at most kMaxDownloadedReplayBytes
// and kReplayDownloadDeadlineSeconds. A refusal whose JSON body has an "error" text reports that
// text (cut to 160 bytes, UTF-8 made valid, control characters as spaces); any other failure
// kReplayDownloadFailed, its cause logged by the request. Blocking: call on a request thread.
ReplayDownload downloadReplay(const std::string& baseUrl, const std::string& level, const std::string& player,
                              const std::string& dataFolder, const HttpLimits& limits);

// downloadReplay on a request thread of the leaderboard client (gLeaderboardClient's server and
// limits), one download at a time; `callback` gets the outcome on that thread, through the
// client's shut-down gate (never after httpDatabaseShutdown). Any thread.
void downloadReplayAsync(const std::string& level, const std::string& player, const std::string& dataFolder,
                         std::function<void(const ReplayDownload&)> callback);
