#pragma once
// Score, combo and layer progression. A run of hits fades in the next stem as a new layer; a run
// of misses takes the newest layer out; the multiplier grows with combo and layers.
#include "game/game_state.hpp"

#include <functional>

// What the layer step asks of the audio: fade stem `index` in as the next layer, or cut it off. The
// app wires them to fadeInStem and deactivateStem (audio/stem_layering.hpp); the rules never
// reach the audio engine themselves. Either may be empty (a replay checked without sound).
struct LayerRequests {
    std::function<void(int index)> fadeIn;
    std::function<void(int index)> deactivate;
};

// Adds `points` times the multiplier (as the last layer step left it; computed in f32, truncated
// toward zero) to the score, raising the high score when passed. Logs both. Game mutex held.
void addScore(GameState& game, std::int32_t points);

// One more success in a row: combo (and its best) up, miss streak cleared. Right after the
// success's addScore.
void registerSuccess(GameState& game);

// A miss: combo and the layer count-up cleared, miss streak up. Logs the streak.
void registerMiss(GameState& game);

// The layer step, after every hit or miss (advanceRound): while a round is playing, unlocks the
// next stem of the round's setup as a layer after 5 x layers successes since the last rise, locks
// the newest layer after 3 misses in a row (never the last), and recomputes the multiplier. The
// unlocked layers are the first `activeLayers` stems; the audio follows through `requests`.
// Game mutex held.
void layerStep(GameState& game, const LayerRequests& requests);
