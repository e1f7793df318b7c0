#pragma once
// Tempo estimate of a song from the onset strength curves of its stems: the autocorrelation of
// their sum, weighted toward moderate tempos, refined on a longer multiple of the beat.
#include <vector>

// Tempos the estimate chooses from (beats per minute).
constexpr double kMinTempo = 60.0;
constexpr double kMaxTempo = 200.0;

// Beats per minute, from curves that share `frameRate` (frames per second; curves of different
// lengths are summed over the shortest). Returns 120 when there is nothing to go on (no curve,
// silence, or less than two seconds). A tempo within 0.1 BPM of a whole number is rounded to it.
double estimateTempo(const std::vector<const std::vector<float>*>& curves, double frameRate);
