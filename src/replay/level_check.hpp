#pragma once
// A level read for checking rounds: what a replay's round is run again on (the stems' charts and
// the loop), with the level hash, exactly as the game has them once it has loaded the level, but
// without a window, a sound device or the audio engine. The replay checker and the leaderboard
// server read levels this way. Plain code: any thread, on the caller's records.
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"

#include <string>

// One level as a round sees it.
struct CheckedLevel {
    std::string name;   // as replays name it (given by the caller)
    std::string folder; // the folder of its level.json
    std::string hash;   // levelHash (level_hash.hpp) of the folder with the loop length below
    // The stems the game loads, in stem order: each stem's file name and chart (scaled to the
    // level's tempo; empty for a stem without one), the loop length in seconds and looping. The
    // drawable size is left 0: a replay brings its own.
    RoundSetup setup;
    int measuredStems = 0; // stems whose length came from their file's header
    int decodedStems = 0;  // stems that had to be decoded whole (MP3, or a header without a length)
};

// Reads the level in `folder` (its level.json, the stems and charts that names) as the game's level
// loader does (readLevel, installLevel and roundSetupOf): the manifest's first eight stems, those
// the game would leave out dropped (a missing, unreadable, empty or undecodable file, a file over
// limits.maxFileBytes, audio over 20 minutes, or decoded audio that would take the level over
// limits.maxLevelBytes, counted in stem order), each left out with a line on stderr ("Stem left
// out of the level: <path> (<reason>)"); a chart loaded for each stem that plays notes. The loop
// length is the longest stem's frames at the engine's rate, as the game decodes it: taken from the
// file's header where it records it (measureAudio). Nothing is logged on stdout.
// False, with the reason in `error` (nothing logged), when the manifest is not a regular file of
// at most kMaxHashedFileBytes, does not parse or has no stem, when no stem can be loaded, or when
// the level cannot be hashed (levelHashOfFolder logs why).
bool readCheckedLevel(const std::string& folder, const std::string& name, CheckedLevel& level,
                      std::string& error, const AudioLimits& limits = AudioLimits{});
