#pragma once
// Saving a round's result when the player leaves a level: into the local leaderboard file, then
// to the leaderboard server (the player's own entries only).
#include "leaderboard/leaderboard_document.hpp"

#include <string>

struct GameState;

// The result of the round in `game`: its level and player (bytes that are not UTF-8 replaced, as
// the file stores them), its best score (the score reached:
// a round's score never goes down), the song time in whole seconds, the highest layer of the
// layers there are and the best combo. Game mutex held.
RoundResult roundResultOf(const GameState& game);

// Saves `result` into the leaderboard file at `path` (see saveRoundResultTo) and starts the upload
// (uploadRoundAsync) of one entry with its replay, with `heldKey`, the player's key for the current
// server and name ("" when none is held: the upload asks for one): this round's entry with
// `replayBytes` (its replay file's bytes; "" when it has none). When the file holds a better entry
// of the player's on this level whose round's replay is still kept under `dataFolder`
// (findReplayFor; "" looks nowhere), that entry goes up instead, with that replay: an upload that
// failed earlier is made good the next time the level is played. Does nothing for a result
// without a level or player name. A result on a level the player made goes up only when the server
// has that level: `ownLevelHash` is then its hash, and the upload asks first (uploadRoundAsync); with
// `ownLevel` and no hash, nothing goes up. Main thread, without the game mutex (it reads and writes
// files).
void saveRoundResult(const RoundResult& result, const std::string& path,
                     const std::string& heldKey = std::string(), std::string replayBytes = std::string(),
                     const std::string& dataFolder = std::string(), bool ownLevel = false,
                     const std::string& ownLevelHash = std::string());
