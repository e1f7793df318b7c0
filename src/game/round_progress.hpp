#pragma once
// A round as a function of song time and the player's inputs. Everything that happens in a round
// (a circle spawning, arriving, being pressed, released, completed or missed, a layer rising or
// falling, the multiplier changing) happens at its own moment on the song clock, applied in time
// order by advanceRound, so the same inputs give the same round however often and whenever it is
// advanced: at a frame, at a logic tick, or in one call for a whole replay.
//
// What happens at one and the same song time is applied in this order:
//   1. spawns (stem by stem, then chart order),
//   2. arrivals (older circles first),
//   3. inputs (in the order they were queued),
//   4. completed holds (older circles first),
//   5. removals: circles whose time is over, each a miss when nobody answered it.
// So a press at the very moment a circle's time ends still finds it, and a circle exists for a
// press at the moment it spawns. The layer step (and with it the multiplier) runs after every
// press, release, completed hold and removal, so each point scored uses the multiplier of the
// hits and misses before it.
//
// The round never runs ahead of its inputs: advanceRound applies what is due up to the song time
// given or up to the time its inputs are known until (queueRoundInputs), whichever is earlier. The
// main thread queues each frame's inputs and advances; the logic thread's call applies what the
// inputs already allow.
//
// Threads: any, with the game mutex held (the state is the GameState's). Plain code: the round
// asks for layer changes through LayerRequests and reads no clock of its own.
#include "game/game_state.hpp"
#include "game/round_event.hpp"
#include "game/scoring.hpp"

#include <cstdint>
#include <vector>

// Starts the round's run at song time `start` on `setup`: the first `layers` stems unlocked (the
// game starts with one), no circles, no inputs queued or recorded, every unlocked stem's chart read
// from `start` on. Counters (score, combo) are the caller's: resetRound clears them for a new
// round; a restart of the song (Space) keeps them.
void beginRound(GameState& game, RoundSetup setup, double start, std::int32_t layers = 1);

// Queues inputs and says that no input before song time `knownUntil` is still to come. Events must
// be in time order among themselves; one timed before what has been applied already came too late
// to be judged at its own time, and is taken at the first microsecond from there instead.
// The times are whole microseconds, and the queued (so recorded) events carry the times they are
// applied at, so that a recorded round replays bit for bit. Events before
// `progress.ignoreInputsBefore` (a span a pause's rewind plays again) are dropped.
void queueRoundInputs(GameState& game, const std::vector<RoundEvent>& events, double knownUntil);

// Applies everything due before song time `songTime` (and no further than the inputs are known),
// in the order above, and at that very time the spawns and arrivals only: inputs, completed holds
// and removals at it wait, since an input at that instant may still come and goes first. Does nothing
// unless the round is playing. Layer changes are asked of `requests` as they happen.
void advanceRound(GameState& game, double songTime, const LayerRequests& requests);

// The drawable area is now `width` x `height` pixels. Outside a round the setup just takes the size;
// in a round the change is an input at the first microsecond not yet applied, so that the circles
// spawned before it keep the old area and a replay resizes where the round did.
void resizeRound(GameState& game, std::int32_t width, std::int32_t height);

// How far back a rewind can show the circles it plays again (seconds of song before the pause).
constexpr double kRewindMemory = 4.0;

// A pause at song time `pausedAt` resumed from the earlier song time `from`: the song plays the
// span again, but the round goes on from where it paused. Inputs before `pausedAt` are dropped from
// now on (nothing is scored twice), the pause is recorded (progress.pauses), and the span's circles
// that were already judged become ghosts (progress.ghosts): shown, never hit or missed again.
void rewindRound(GameState& game, double pausedAt, double from);

// A practice loop's jump, once the round has been advanced to its end `at`: the song goes back to
// `to` (at most `liveFrom`) and plays the passage from `liveFrom` (the loop's A) again. Inputs
// still queued are dropped, the circles on screen go unjudged, every unlocked stem's chart is read
// again from `to`, and the circles due before `liveFrom` (the count-in) spawn as ghosts: shown,
// never hit or missed. Score, combo and layers stay. The jump is recorded (progress.jumps).
void jumpRound(GameState& game, double at, double to, double liveFrom);

// The circles' look, for drawing: each unjudged circle grows from 20 pixels a second ahead of its
// time to its target radius at its time; a judged one is not drawn (radius 0). While the song plays
// a rewound span again, a ghost is on screen (`active`) from its spawn until its time is over. The
// rules never read the radius or a ghost. Any thread with the game mutex.
void updateCircleLook(GameState& game, double songTime);

// True while the song plays a rewound span again and has not reached the live `circle`'s spawn
// yet (game.songTime): it is not drawn until then. Any thread with the game mutex.
bool awaitingSpawn(const GameState& game, const Circle& circle);

// The song time a circle is removed at when nothing more happens to it (removals, order 5 above),
// and whether it counts as held too long then. Exposed for tests.
double circleRemovalTime(const Circle& circle, bool* heldTooLong = nullptr);
