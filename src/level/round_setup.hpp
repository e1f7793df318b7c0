#pragma once
// What a round is played on, taken from a loaded level: the game, the replay checker and the
// leaderboard server all make a round's setup the same way.
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"

#include <cstdint>

// The round's setup from the level in `audio`: each stem's name and chart (copied), the level's loop
// (its longest stem) and whether it loops, and the drawable area `width` x `height` pixels. Game
// mutex held when `audio` is the game's.
// The level's loop in seconds: its longest stem (decoded length, or its chart's audio length).
double levelLoopLength(const AudioSystem& audio);

RoundSetup roundSetupOf(const AudioSystem& audio, std::int32_t width, std::int32_t height);
