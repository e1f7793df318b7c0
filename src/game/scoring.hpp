#pragma once
// Score, combo and layer progression. A run of hits fades in the next stem as a new layer; a run
// of misses takes the newest layer out; the multiplier grows with combo and layers.
#include "game/game_state.hpp"

struct AudioSystem;

// Adds `points` times the multiplier of the last logic tick (computed in f32, truncated toward
// zero) to the score, raising the high score when passed. Logs both. Main thread.
void addScore(GameState &game, std::int32_t points);

// One more success in a row: combo (and its best) up, miss streak cleared. Main thread, right
// after the success's addScore.
void registerSuccess(GameState &game);

// A miss: combo and the layer count-up cleared, miss streak up. Logs the streak. Main thread.
void registerMiss(GameState &game);

// The logic thread's per-tick layer step, after the spawn step: while a round is playing, fades
// in the next free stem after 5 x layers successes since the last rise, cuts off the newest
// active stem after 3 misses in a row (never the last layer), and recomputes the multiplier.
// Logic thread, game mutex held.
void layerStep(GameState &game, AudioSystem &audio);
