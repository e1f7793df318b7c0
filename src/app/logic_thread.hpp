#pragma once
// The 120 Hz game logic thread: the master clock (the song time and the notes' pulses) and the
// round advanced to it, apart from the frame rate.
#include "game/game_state.hpp"
#include "game/scoring.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>

struct App;
struct AudioSystem;
struct GameState;
struct RenderState;

// Set once by the main thread after its frame loop ends; read at the top of every tick and at the
// start of every frame.
extern std::atomic<bool> gLogicStopRequested;

// 120 ticks a second, rounded down to whole microseconds.
constexpr std::chrono::nanoseconds kLogicTickPeriod{8333000};

// One tick's work under the game mutex: the master clock (only while playing), then the round
// advanced to its song time (as far as the inputs are known). Logic thread.
void logicTick(App& app);

// The thread's body: ticks until gLogicStopRequested is set or the app stops running; each tick's
// deadline counts from its own start and missed ticks are not made up.
void logicThreadMain(App* app);

// Reads the game clock (readMasterClock) into the game's song time, tick and rate, without firing
// notes: for the frames between logic ticks, so that what is drawn and judged follows the clock
// rather than the last tick. Main thread, with the game mutex held.
void refreshSongTime(AudioSystem& audio, GameState& game);

// Reads the game clock and fires the due notes of every active stem with a loaded chart
// (advanceMasterClockTo, game/master_clock.hpp), then keeps the reading's tick and rate. Does
// nothing unless playback runs and the voice group exists. Logic thread, with the game mutex held.
void advanceMasterClock(AudioSystem& audio, GameState& game, RenderState* render);

// The layer step's requests applied to `audio` at once: fadeInStem (over the stem's fade length)
// and deactivateStem.
LayerRequests audioLayerRequests(AudioSystem& audio);
