#pragma once
// The autoplay bot: a perfect player made of synthetic fingers. Each frame it reads the game state
// and writes presses and releases into the input record, exactly as a player's touches would
// arrive; the judgement then treats them like any other finger. It never changes the game state.
#include "game/game_state.hpp"

#include <set>

struct InputState;

// Finger ids of the bot: a range real touch screens do not hand out, so a real finger never
// shares an id with one of the bot's.
constexpr std::uint64_t kAutoplayFingerBase = 0xA070000000000000ull;

struct AutoplayState {
    std::uint64_t nextFingerId = kAutoplayFingerBase; // a fresh finger for every press
    std::set<std::uint64_t> fingers;                  // the bot's fingers that are down
    double lastSongTime = 0.0;                        // song time seen by the previous frame
    double clockStep = 1.0 / 120.0;                   // how far the song time moves between frames
};

// Readies the bot for a run and logs "Autoplay enabled". Main thread, once when autoplay starts.
void autoplayStart(AutoplayState &bot);

// One frame of the bot. Call after updateCircles and right before handleGameplayInput, with the
// same window height (pixels) that handleGameplayInput gets, while holding the game mutex.
// Presses each circle whose note time is nearest to this frame (a new finger at its centre, y
// turned back into SDL's downward window pixels); keeps hold circles pressed until their hold is
// credited or their length has passed, then lifts the finger; lifts tap fingers the frame after.
// Main thread.
void autoplayFrame(AutoplayState &bot, const GameState &game, InputState &input, std::int32_t windowHeight);
