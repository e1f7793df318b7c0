#pragma once
// A player's keyboard for the end-to-end tests: which letter keys to press when for a level's
// round, planned with the game's own round code, and real key events through the XTest extension
// sent at those song times, timed by the song clock the game traces (VIBRELLE_UI_TRACE=1 logs
// "Song clock: S s at T ns", T on CLOCK_MONOTONIC).
#include "game/game_state.hpp"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

// One key going down or up at a song time (seconds). `key` is the game's keycode, the key's
// character ('a', ',').
struct KeyStep {
    double at = 0.0;
    std::uint32_t key = 0;
    bool down = true;
};

// What a plan pressed for: the circles it answered and the ones it left alone.
struct KeyPlan {
    std::vector<KeyStep> steps; // in time order
    int answered = 0;
    int leftOut = 0;
};

// Plans a keyboard round of `setup` from song time 0 as a person would play it: each circle that
// spawns (the layers rising with the combo, as the round's rules decide) with its note between
// `from` and `until` seconds is pressed at its note time plus up to `jitter` seconds either way,
// a tap let go 40 ms later, a hold 20 ms past its end; every `leaveOutEvery`-th such circle is left
// alone (a miss), and so is one whose key would still be down or just up. Circles before `from`
// are missed too.
KeyPlan planKeyRound(RoundSetup setup, double from, double until, double jitter, int leaveOutEvery,
                     std::mt19937& random);

// The game's song clock as last traced: song time `song` at CLOCK_MONOTONIC `monotonicNs`, going
// on at `rate` song seconds a second (a sound device's clock need not keep the system's pace).
struct SongClockReading {
    double song = 0.0;
    std::int64_t monotonicNs = 0;
    double rate = 1.0;
};

// Presses planned keys on a thread of its own while a driver feeds it the game's clock. All
// members are guarded by `mutex`.
struct KeyPresser {
    std::mutex mutex;
    std::condition_variable changed;
    bool clockKnown = false;
    SongClockReading clock;
    bool stopped = false;
    int sent = 0;      // steps sent
    int late = 0;      // steps sent more than 20 ms after their time (a stalled test process)
    std::string error; // why it could not press at all
};

// The newest "Song clock:" line of the game's output from song time 1 s on (the clock may stand
// at the song's top until its first sound is heard), with the clock's rate since the first such
// line (1 until they are half a second apart); false when there is none yet.
bool lastSongClock(const std::string& output, SongClockReading& reading);

// Gives the clock reading to the presser (a newer reading replaces an older one).
void feedSongClock(KeyPresser& presser, const SongClockReading& reading);

// Ends pressKeys at its next step; the keys it holds go up.
void stopPressing(KeyPresser& presser);

// Sends `steps` in order as XTest key events to the focused window of the display of $DISPLAY,
// each at the moment of CLOCK_MONOTONIC the latest clock reading gives its song time (none before
// the first reading), until the steps are done or stopPressing. Keys still down at the end are
// released. Runs on the caller's thread.
void pressKeys(KeyPresser& presser, const std::vector<KeyStep>& steps);

// Gives `window` the keyboard focus, as a click on it would under a window manager, unless it has
// it; false when the display cannot be opened.
bool focusWindow(unsigned long window);
