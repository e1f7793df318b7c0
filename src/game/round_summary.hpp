#pragma once
// A finished round in figures, for the results screen: score and best, grade counts, accuracy,
// the hit offsets' mean, spread and histogram, time played and the layers over it. Plain code on
// the game state; no clock, no GUI.
#include "game/game_rules.hpp"
#include "game/game_state.hpp"

#include <array>
#include <cstdint>
#include <vector>

constexpr int kGradeCount = 5; // CircleGrade's values, Perfect to Miss: the index into `grades`

// The hit-error histogram: 5 ms bins from -400 ms (early) to +400 ms (late), the widest press
// window of the rules (kFingerHoldPressWindow) either side. Bin i holds offsets from
// -400 + 5 i ms up to, not including, -400 + 5 (i + 1) ms; the last bin also holds +400 ms.
// Offsets beyond the ends (and only those) go to the end bins.
constexpr double kHitBinMs = 5.0;
constexpr double kHitReachMs = kFingerHoldPressWindow * 1000.0;
constexpr int kHitBins = static_cast<int>(2.0 * kHitReachMs / kHitBinMs); // 160

// The unlocked layers from song second `from` to `to`.
struct LayerSpan {
    double from = 0.0;
    double to = 0.0;
    std::int32_t layers = 0;
};

struct RoundSummary {
    std::int32_t score = 0;
    std::int32_t bestScore = 0; // the larger of the best before the round and the score
    bool previousBestKnown = false;
    bool newBest = false; // see summarizeRound
    std::int32_t highestCombo = 0;
    std::array<std::int32_t, kGradeCount> grades{}; // decisions per CircleGrade
    std::int32_t decisions = 0;                     // all of them: graded presses and misses
    std::int32_t presses = 0;                       // graded presses (the offsets' count)
    double accuracyPercent = 0.0;                   // 0..100, see summarizeRound
    double meanOffsetMs = 0.0;                      // negative: early on average
    double spreadMs = 0.0;                          // standard deviation of the offsets
    std::array<std::int32_t, kHitBins> histogram{};
    double timePlayed = 0.0; // song seconds the round ran
    std::int32_t highestLayer = 0;
    std::int32_t stemCount = 0;            // the level's stems: its layers
    std::vector<LayerSpan> layerSpans;     // in time order, covering 0..timePlayed where known
    std::int32_t practiceSpeedPercent = 0; // a practice round's speed at its end (percent), 0 in earnest
};

// Accuracy weights of the grades in percent: Perfect 100, Great 75, Good 50, Ok 25, Miss 0.
double gradeWeight(CircleGrade grade);

// The histogram bin of an offset in milliseconds (see kHitBins); a non-finite offset has none (-1).
int hitErrorBin(double offsetMs);

// The figures of the round `game` holds (call before resetRound clears it):
//  - new best: the score is above the best the leaderboard answered before the round, or, when no
//    answer came (previousBest -1), above 0; best score = max(previous best, score);
//  - accuracy: the grade weights summed over every decision (graded presses and misses, a hold's
//    press and its miss being two), divided by the decisions: 0 when there were none;
//  - mean, spread (population standard deviation) and histogram: over graded presses only;
//  - time played: how far the round was applied (progress.applied);
//  - layer spans: the layer timeline from its last start (a song restarted with Space begins it
//    again at 0), each change to the next, the last to the time played; empty spans left out,
//    equal neighbours joined.
// Any thread holding the game mutex.
RoundSummary summarizeRound(const GameState& game);

// A fixed round made up for pictures and layout checks (--screen results, the screen tour): a
// synthetic outcome list of every grade with offsets spread early and late, a layer timeline
// rising to 4 of 5 layers and falling back, 3 minutes 7 seconds played. Never a real round.
RoundSummary sampleRoundSummary();
