#pragma once
// The leaderboard screen: a level chooser and the ranked table of that level's players with
// score, time, layer and combo, filled by the leaderboard client's fetch (the player's own results
// and the server's cached board, merged). Verified rows (the server ran the round again) carry a
// check mark and a tooltip saying so. A Watch button sits on the player's own rows whose rounds are
// kept as replays, and on other players' verified rows, whose replays it downloads first; the
// message of an upload refused for the name, or of a replay that cannot be watched, shows above.
#include "leaderboard/replay_download.hpp"
#include "level/level_list.hpp"
#include "ui/screen_context.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

struct LeaderboardRow {
    std::string player;
    std::int32_t score = 0;
    std::int32_t time = 0;     // seconds
    std::string layer = "0/0"; // "highestLayer" as stored, e.g. "3/8"
    std::int32_t combo = 0;
    bool verified = false; // the server's "verified" (isVerifiedEntry)
};

// What hovering a verified row says.
constexpr const char* kVerifiedTooltip = "verified: the server re-ran this round from its inputs";
// A download's Watch button while the replay comes.
constexpr const char* kDownloadingLabel = "Downloading...";

struct LeaderboardLevel {
    std::string name;
    std::vector<LeaderboardRow> rows; // best score first
};

// The levels and rows of a leaderboard document, in document order, each level's rows sorted as
// the server ranks them: verified rows first, then by score, highest first, keeping the document's
// order among equal rows (so a server's own order stands). Entries without a string
// name (levels) or player, or without a numeric or boolean score, are skipped; "time" and
// "highestCombo" count by their integer part (0 when missing or not numbers), "highestLayer"
// when it is text (else "0/0"). Anything that is not a leaderboard document gives no levels.
std::vector<LeaderboardLevel> parseLeaderboardForDisplay(const nlohmann::json& document);

// "%02d:%02d" of whole minutes and seconds (125 gives 02:05, 3600 gives 60:00).
std::string formatSongTime(std::int32_t seconds);

// Hands a fetched document to the screen. Any thread (the fetch's callback): the document is read
// there and the result handed to the main thread under the screen's lock.
void receiveLeaderboard(const nlohmann::json& document);

// The levels shown, as last received (main thread); gUI.leaderboardLevel is the one chosen.
const std::vector<LeaderboardLevel>& shownLeaderboardLevels();

// The level names whose boards the screen fetches: those of the menu's level list, each once.
std::vector<std::string> leaderboardLevelNames(const std::vector<LevelListEntry>& levelList);

// The screen's step on being entered: starts the fetch of the boards of `levelList`
// (leaderboardLevelNames); receiveLeaderboard hands them over.
void leaderboardScreenEnter(const std::vector<LevelListEntry>& levelList);

// The screen's own text above the table: the last refused upload's ownership message
// (leaderboardOwnershipNotice) and why the last replay download failed, a line each; "" when there
// is neither. Main thread.
std::string leaderboardScreenNotice();

// Hands a finished replay download to the screen (downloadReplayAsync's callback). Any thread: the
// outcome waits under the screen's lock for its next frame, which watches the replay (while the
// leaderboard is still shown) or shows why it could not come.
void receiveReplayDownload(const ReplayDownload& download);

// Draws the screen; Back hides it. Each row of the player's own (context.game->playerName, as the
// file stores it) with a stored replay (context.findOwnReplay) has a Watch button (traced as
// "##watch_<rank>") that asks context.watchReplayFile to play it. Each verified row of another
// player (names compared folded) has one too, traced alike, that asks context.downloadReplay for
// the replay and shows kDownloadingLabel until receiveReplayDownload hands it over; one download at
// a time (the others' buttons are disabled meanwhile). context.watchNotice and a failed download's
// message show above the table. Main thread, in a GUI frame; takes the game mutex to read the
// player's name.
void drawLeaderboardScreen(const ScreenContext& context);
