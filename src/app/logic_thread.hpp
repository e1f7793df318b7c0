#pragma once
// The 120 Hz game logic thread: master clock, circle spawning and the layer step, apart from the
// frame rate.
#include <atomic>
#include <chrono>

struct App;

// Set once by the main thread after its frame loop ends; read at the top of every tick and at the
// start of every frame.
extern std::atomic<bool> gLogicStopRequested;

// 120 ticks a second, rounded down to whole microseconds.
constexpr std::chrono::nanoseconds kLogicTickPeriod{8333000};

// One tick's work under the game mutex: the master clock (only while playing), the spawn step and
// the layer step. Logic thread.
void logicTick(App& app);

// The thread's body: ticks until gLogicStopRequested is set or the app stops running; each tick's
// deadline counts from its own start and missed ticks are not made up.
void logicThreadMain(App* app);
