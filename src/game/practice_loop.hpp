#pragma once
// A practice round's A-B loop as plain song-time arithmetic: marking its ends, where the song goes
// back to when it reaches B (A less one bar of four beats, not before the round's start), and the
// count-in shown over that bar. The app keeps one PracticeLoop per practice round and acts out the
// jump (app/practice.hpp); the round records it (jumpRound, round_progress.hpp). Plain code: any
// thread, on the caller's record.
#include <cstdint>

// Beats in the bar counted in before A.
constexpr int kCountInBeats = 4;

// A loop's ends, in song seconds. Both are on the level's beat grid (snapped when marked).
struct PracticeLoop {
    bool hasStart = false; // A is marked
    bool hasEnd = false;   // B is marked too: the loop runs (B is always after A)
    double start = 0.0;    // A
    double end = 0.0;      // B
};

// What a mark did, for the HUD's note and the log.
enum class LoopMark : std::uint8_t {
    StartSet, // A marked (any B before it forgotten: a new passage begins)
    EndSet,   // B marked: the loop runs
    Cleared,  // B marked on A's beat: the loop is gone
    NoStart,  // B without an A: nothing changes
};

// The length of a beat at `bpm` beats a minute; 120 BPM's half second when `bpm` is not a positive
// finite number.
double beatSeconds(double bpm);

// `at` on the level's beat grid (whole beats from song time 0): the nearest beat.
double nearestBeat(double at, double beat);

// Marks A at song time `at` (snapped to the nearest beat): a loop running before is dropped, since
// a new passage begins at A. Returns StartSet.
LoopMark markLoopStart(PracticeLoop& loop, double at, double beat);

// Marks B at song time `at` (snapped to the nearest beat). Without A nothing changes (NoStart); on
// A's beat or before it the loop is cleared, A too (Cleared): `[` then `]` in one place clears.
// Otherwise B is set (EndSet), replacing an earlier B.
LoopMark markLoopEnd(PracticeLoop& loop, double at, double beat);

// Where the song goes back to from B: A less kCountInBeats beats, never before `roundStart`.
double countInStart(const PracticeLoop& loop, double beat, double roundStart);

// The count-in's figure at song time `now` for a count-in bar from `from` to A (`loop.start`): 4, 3,
// 2, 1 on its beats counted back from A (the figure of a beat shows until the next), 0 outside the
// bar. A bar cut short by the round's start shows only its last figures.
int countInFigure(const PracticeLoop& loop, double beat, double from, double now);
