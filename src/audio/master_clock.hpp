#pragma once
// The song is the clock: each logic tick reads how long the stems' voice group has played,
// publishes it as the game's song time and fires every chart note the clock has just passed.
struct AudioSystem;
struct GameState;
struct RenderState;

// Reads the voice group's stream time and fires the due notes of every active stem with a loaded
// chart, to the game state's noteCallback (with `render`) and its pendingNotes. Does nothing unless
// playback runs and the voice group exists. Logic thread, with the game mutex held.
void advanceMasterClock(AudioSystem& audio, GameState& game, RenderState* render);

// The same with the song time given by the caller (seconds since playback started; grows across
// loops). What advanceMasterClock does after reading the engine; tests drive it with their clock.
void advanceMasterClockTo(AudioSystem& audio, GameState& game, RenderState* render, double now);
