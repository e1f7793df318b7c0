#pragma once
// Making and retiring circles: a circle for a chart note, the moment a circle's time is over, and
// its removal (a miss when nobody answered it). When each happens is the round's (round.hpp).
#include "game/game_rules.hpp"
#include "game/game_state.hpp"

// A circle is never removed until the spawn window has passed its time (plus float noise):
// otherwise its note would be found inside the window again.
constexpr double kRemovalGuard = kSpawnLateLimit + 0.001;

// Drawn radii, in pixels: a new circle's, and where the growth toward the target starts a second
// ahead of the note.
constexpr float kSpawnRadius = 40.0f;
constexpr float kGrowthStartRadius = 20.0f;

// Appends one circle for chart note `note` of stem `stemIndex`, due at `dueTime` (song clock
// seconds), placed by key number (x) and velocity (y) in a drawable area of width x height pixels.
// In keyboard gameplay it takes the note's grid cell (cellForNote) and that cell's label; it always
// takes the note's gamepad button (padButtonForNote).
void spawnCircle(GameState& game, const MidiNoteEvent& note, std::int32_t stemIndex, std::int32_t width,
                 std::int32_t height, double dueTime);

// True when an unanswered circle is over at song time `at`: more than its `holdDuration` (a tap's
// grace, a hold's length) past its note. A press timed after that moment no longer finds it.
bool circleOverAt(const Circle& circle, double at);

// Notes a decision about `circle` in the round's outcomes.
void recordOutcome(GameState& game, const Circle& circle, CircleGrade grade, float offsetMs = 0.0f);

// Removes circle `index`: drops its hold map entries, counts the miss of an arrived circle that was
// neither hit nor completed, erases it and renumbers the hold maps. Game mutex held.
void removeCircle(GameState& game, std::int32_t index);
