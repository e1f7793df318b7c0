#pragma once
// Score, combo and layer progression. A run of hits fades in the next stem as a new layer; a run
// of misses takes the newest layer out; the multiplier grows with combo and layers.
#include "game/game_state.hpp"

#include <functional>

struct AudioSystem;

// What the layer step asks of the audio, applied by the caller at once (before the step goes on,
// so the stems' flags read afterwards are the changed ones): fade stem `index` in over `seconds`,
// or cut it off. The app wires them to fadeInStem and deactivateStem (audio/stem_layering.hpp);
// the rules never reach the audio engine themselves.
struct LayerRequests {
    std::function<void(int index, float seconds)> fadeIn;
    std::function<void(int index)> deactivate;
};

// Adds `points` times the multiplier of the last logic tick (computed in f32, truncated toward
// zero) to the score, raising the high score when passed. Logs both. Main thread.
void addScore(GameState& game, std::int32_t points);

// One more success in a row: combo (and its best) up, miss streak cleared. Main thread, right
// after the success's addScore.
void registerSuccess(GameState& game);

// A miss: combo and the layer count-up cleared, miss streak up. Logs the streak. Main thread.
void registerMiss(GameState& game);

// The logic thread's per-tick layer step, after the spawn step: while a round is playing, fades
// in the next free stem after 5 x layers successes since the last rise, cuts off the newest
// active stem after 3 misses in a row (never the last layer), and recomputes the multiplier.
// Reads the stems' flags in `audio`; changes them only through `requests`. Logic thread, game
// mutex held.
void layerStep(GameState& game, const AudioSystem& audio, const LayerRequests& requests);
