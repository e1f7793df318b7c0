#pragma once
// The playability pass: turns the detected notes of all stems of a level into charts the game's
// rules let a player hit.
//
// - On one stem, notes closer than `minGap` are thinned (the stronger onset stays), and a hold
//   ends `minGap` before the stem's next note (too short then, it becomes a tap).
// - Circles that can take the same press (their judgement windows overlap, all stems together,
//   across the loop's end) are kept one and a half reaches apart on the smallest screen (a press
//   that lands within 51 px of a circle's centre can reach no other) and on different keyboard
//   keys; a hold keeps its key to itself until it ends. Only the velocity (the height) is moved for this,
//   never the key: the key is the note's pitch. A note with no free height is left out.
// - No more circles are alive at once than the circle renderer draws: a circle lives from one
//   second before its note to its removal (0.2 s after a tap, 0.3 s after a hold's end).
#include "authoring/stem_analysis.hpp"
#include "game/game_rules.hpp"

#include <vector>

// One circle of a written chart.
struct ChartNote {
    double time = 0.0;     // seconds from the start of the loop
    double duration = 0.0; // hold length in seconds; 0 for a tap
    int key = 60;          // MIDI key 0..127: the horizontal position
    int velocity = 64;     // 1..127: the vertical position
    int pan = 64;          // stereo balance 0..127
    bool hold = false;     // a hold circle (written on channel 1)
};

struct PlayabilityRules {
    double loopSeconds = 0.0;     // the charts repeat with this period; 0 when they do not loop
    double minGap = 0.15;         // seconds between two circles of one stem
    int maxCircles = kMaxCircles; // circles alive at once, all stems together
    double screenWidth = 1280;    // the smallest screen the spacing is checked on (pixels)
    double screenHeight = 720;
    double separation = 153; // pixels between the centres of circles that can take one press
                             // (a press reaches 102 px: the target radius 100 + 2)
    int lowestVelocity = 20; // heights used, chosen to keep a full circle on screen
    int highestVelocity = 108;
};

// What the pass left out.
struct PlayabilityReport {
    int thinned = 0;   // too close to a stronger note of the same stem
    int crowded = 0;   // no height kept clear of the circles around it
    int overLimit = 0; // more circles alive than the renderer draws
    int shortenedHolds = 0;
    int holdsToTaps = 0;
};

// The charts for the stems of a level, one list per stem in the order given, each in time order.
// Velocities start from the onset strength (strong notes higher on screen).
std::vector<std::vector<ChartNote>> makePlayable(const std::vector<std::vector<DetectedNote>>& stems,
                                                 const PlayabilityRules& rules, PlayabilityReport* report);

// The keyboard key (lane, row) a circle gets in keyboard gameplay: eight lanes of sixteen keys,
// three velocity rows.
int keyboardSlot(int key, int velocity);
