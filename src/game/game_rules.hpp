#pragma once
// The rules of play in one table: when a note becomes a circle, when it can be pressed and for how
// long it stays, how far a press reaches, the keyboard lanes and how many circles live at once.
// The game (circles, judgement), the renderer and the level tool's playability pass read them
// here. tools/content/simulate.py keeps its own copy, since it runs without the game; a test
// (tests/game/rules_table_test.cpp) reads that script and compares its numbers with these.
#include <cstdint>

// ---- Spawning, in seconds on the song clock ----
constexpr double kSpawnLookAhead = 1.0;   // a note becomes a circle this long before it sounds
constexpr double kSpawnLateLimit = 0.001; // a note this far in the past still spawns
constexpr double kDuplicateWindow = 0.01; // same stem and key closer than this: one circle

// ---- Judgement windows and lifetimes, in seconds ----
constexpr double kEarlyPressLimit = 0.1;       // a circle may be pressed this long before its time
constexpr double kFingerHoldPressWindow = 0.4; // a hold's press window either side, by finger
constexpr double kHoldPressWindow = 0.1;       // the same by mouse and keys
constexpr double kArrivalWindow = 0.1;         // a circle arrives within this long after its time
constexpr double kHoldOverrun = 0.3;           // a hold may be held this long past its end
constexpr double kTapLifetime = 0.2;           // a tap circle stays this long after its time

// ---- Reach, in pixels ----
constexpr float kTargetRadius = 100.0f; // a circle's radius at its time, and its hit radius
constexpr float kPressReach = 2.0f;     // how far past the target radius a pointer press reaches

// ---- Keyboard lanes ----
constexpr std::int32_t kKeyLaneCount = 8;      // lanes across the screen
constexpr std::int32_t kKeysPerLane = 16;      // MIDI key numbers per lane (0..15, 16..31, ...)
constexpr std::int32_t kLowRowBelow = 42;      // velocities below this take a lane's bottom key
constexpr std::int32_t kMiddleRowThrough = 85; // up to this its middle key, above it its top key

// ---- Limits ----
constexpr int kMaxCircles = 64;             // circles alive (and drawn) at once
constexpr std::uint32_t kComboPerLayer = 5; // combo per active layer that unlocks the next
constexpr std::int32_t kMaxLayers = 8;      // stems 0..7 make circles and unlock as layers
