#pragma once
// The song is the clock: each logic tick reads how long the stems' voice group has played
// (readMasterClock, audio/audio_system.hpp), publishes it as the game's song time and fires every
// chart note the clock has just passed. This is the stepping of the game state; the reading and
// the wiring are the app's (advanceMasterClock, app/logic_thread.hpp).

struct AudioSystem;
struct GameState;
struct RenderState;

// Fires the due notes of every active stem with a loaded chart, with the song time given by the
// caller (seconds since playback started; grows across loops), to the game state's noteCallback
// (with `render`, which the game passes on unread; no callback without one) and into its
// pendingNotes (which then hold this step's notes only).
// Reads the stems' charts and flags only. Logic thread, with the game mutex held.
void advanceMasterClockTo(AudioSystem& audio, GameState& game, RenderState* render, double now);
