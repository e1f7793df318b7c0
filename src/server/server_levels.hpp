#pragma once
// The levels the leaderboard server knows, read once at start from the level folders it is given
// (--levels), for checking the rounds that uploads bring: each level's name, round setup and hash.
// Reading levels is plain code (replay/level_check.hpp): no SDL, GL or sound device.
#include "replay/level_check.hpp"

#include <string>
#include <vector>

// Every level read, in the order read. Fixed once the server runs: handlers read it without a lock.
struct ServerLevels {
    std::vector<CheckedLevel> levels;
};

// The levels under each folder of `dirs`, as the game finds them in its own levels/ folder: the
// levels that the folder's levels.json lists, by their listed names (without a levels.json, every
// subfolder holding a level.json, by its song title, else the subfolder's name), and the folder's
// own level.json, the default level, by its song title (else "levels"). Each level is read with
// readCheckedLevel; one that cannot be read is logged on stderr ("Level <name> in <folder> is
// skipped: <reason>") and left out, and so is a second copy of a level already read (same name and
// hash). Then logs "Verifying scores for N levels" and a line "Level: <name> <hash>" per level on
// stdout. Start-up, before the server's threads run.
ServerLevels loadServerLevels(const std::vector<std::string>& dirs);

// The level named `name` whose hash is `hash` (a replay's), or null. Any thread.
const CheckedLevel* findServerLevel(const ServerLevels& levels, const std::string& name,
                                    const std::string& hash);

// True when `levels` has a level named `name`, whatever its hash. Any thread.
bool serverKnowsLevel(const ServerLevels& levels, const std::string& name);
