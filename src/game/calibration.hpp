#pragma once
// Finding the player's audio offset from taps: the player taps along with a click at 100 BPM, each
// tap's error is its distance from the nearest click as the clock hears it, and the offset is the
// median error once the wild taps are dropped. Plain code: the calibration screen feeds it.
#include <cstdint>
#include <vector>

// The player's audio offset: milliseconds by which the game clock runs behind the sound it hears
// (positive: the player hears late and presses late, so the notes are judged later).
constexpr int kAudioOffsetMinMs = -300;
constexpr int kAudioOffsetMaxMs = 300;

constexpr double kCalibrationBpm = 100.0;
constexpr double kCalibrationBeat = 60.0 / kCalibrationBpm; // seconds between clicks
constexpr int kCalibrationTaps = 16;
// A tap further than this from the median, in median absolute deviations, is dropped.
constexpr double kCalibrationOutlierMads = 3.0;

// One beat of the click track as a WAV file in memory (44.1 kHz, 16-bit mono): a short, bright
// click at its start, then silence to the next beat. Looped, it clicks at 100 BPM with a click at
// every whole multiple of kCalibrationBeat of the voice's position.
std::vector<unsigned char> calibrationClickWav();

// The error of a tap at `position` seconds of the click voice's heard position: how far it lies
// from the nearest click, in milliseconds, positive when late.
double calibrationTapErrorMs(double position);

struct CalibrationResult {
    bool valid = false; // there were taps to judge by
    int offsetMs = 0;   // the median of the kept errors, rounded and limited to -300..300
    double medianMs = 0.0;
    double spreadMs = 0.0; // standard deviation of the kept errors
    int kept = 0;
    int dropped = 0; // taps further than 3 MADs from the median of all
};

// The offset the taps' errors (milliseconds) call for: outliers dropped, then the median.
CalibrationResult calibrationResult(const std::vector<double>& errorsMs);
