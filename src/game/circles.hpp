#pragma once
// Making and retiring circles: the logic thread's spawn step looks one second ahead into the
// active stems' charts; the main thread's update grows circles, counts hold time and removes
// circles whose time is over, turning unanswered ones into misses.
#include "game/game_rules.hpp"
#include "game/game_state.hpp"

struct AudioSystem;

// The keyboard key and label of a note in keyboard gameplay: the lane of its key number (a key
// number outside 0..127 takes lane `note` mod 8) and the row of its velocity (below 42, 42..85,
// above 85).
struct NoteKey {
    std::uint32_t key;
    char label;
};
NoteKey keyForNote(std::int32_t note, std::int32_t velocity);

// Empties `pendingNotes`, then, while the audio system plays, appends a circle for every note-on
// of every active, charted stem (index 0..7) that sounds within the next second (or sounded at
// most 1 ms ago), unless a circle of the same stem and key number already lies within 10 ms of
// it. Looping stems repeat their chart every `audioLength` seconds. New circles are placed in a
// drawable area of `width` x `height` pixels. Cost: a binary search per stem plus the notes inside the
// window; the charts must be sorted by time (as the chart loader leaves them). Logic thread, game mutex held.
void spawnTick(GameState& game, std::int32_t width, std::int32_t height, const AudioSystem& audio);

// Appends one circle for chart note `note` of stem `stemIndex`, due at `dueTime` (song clock
// seconds), placed by key number (x) and velocity (y) in a drawable area of width x height pixels.
void spawnCircle(GameState& game, const MidiNoteEvent& note, std::int32_t stemIndex, std::int32_t width,
                 std::int32_t height, double dueTime);

// One frame of circle life: growth toward the target radius, arrival, hold time of held circles
// (measured on the song clock, so that slow frames cost nothing; a completed hold is credited),
// and removal of circles whose time is over (a miss for an arrived circle nobody answered).
// Removal renumbers the hold maps. Everything runs on `songTime`; `dt` (the frame time) is not
// needed. Main thread, game mutex held.
void updateCircles(GameState& game, float dt);

// True when an unanswered circle is over at song time `at`: more than its `holdDuration` (a tap's
// grace, a hold's length) past its note. updateCircles removes such circles; a press timed after
// that moment no longer finds them, even in a frame that has not yet removed them.
bool circleOverAt(const Circle& circle, double at);

// Removes circle `index`: drops its hold map entries, counts the miss of an arrived circle that was
// neither hit nor completed, erases it and renumbers the hold maps. Main thread.
void removeCircle(GameState& game, std::int32_t index);
