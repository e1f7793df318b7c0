#pragma once
// Which gamepad button plays a circle, read from where the circle appears, so that a player can
// tell the button from the position: the outer columns take the shoulders (upper half) and the
// triggers (lower half); the rest of the left half takes the D-pad and the rest of the right half
// the face buttons, each by the direction from its region's centre to the circle. Plain code: any
// thread.
#include "game/pad_buttons.hpp"

#include <cstdint>

// The button of a note: its key number places it across the screen (the keyboard grid's lanes of
// 16 keys: lane 0 and lane 7 are the outer columns), its velocity up the screen (0 at the bottom,
// 127 at the top). Key numbers outside 0..127 take the lane the grid gives them; velocities are
// clamped to 0..127. Every note gets a button.
PadButton padButtonForNote(std::int32_t note, std::int32_t velocity);
