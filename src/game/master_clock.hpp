#pragma once
// The song is the clock: each logic tick reads how long the stems' voice group has played,
// publishes it as the game's song time and fires every chart note the clock has just passed.
#include <cstdint>

struct AudioSystem;
struct GameState;
struct RenderState;

// The game clock: what the player hears of the voice group now, less the player's offset
// (`clockOffset`), in seconds; `atNs` receives the SDL tick it belongs to and `rate` how fast it
// runs on from there against SDL's clock (the device's rate; 0 while it stands still, waiting for
// the sound to reach the ear). False, and nothing read, unless playback runs and
// the voice group exists.
bool readMasterClock(AudioSystem& audio, double* songTime, std::uint64_t* atNs, double* rate);

// Reads the game clock (readMasterClock) into the game's song time, tick and rate, without firing
// notes: for the frames between logic ticks, so that what is drawn and judged follows the clock
// rather than the last tick. Main thread, with the game mutex held.
void refreshSongTime(AudioSystem& audio, GameState& game);

// Reads the game clock and fires the due notes of every active stem with a loaded
// chart, to the game state's noteCallback (with `render`) and its pendingNotes. Does nothing unless
// playback runs and the voice group exists. Logic thread, with the game mutex held.
void advanceMasterClock(AudioSystem& audio, GameState& game, RenderState* render);

// The same with the song time given by the caller (seconds since playback started; grows across
// loops). What advanceMasterClock does after reading the engine; tests drive it with their clock.
void advanceMasterClockTo(AudioSystem& audio, GameState& game, RenderState* render, double now);
