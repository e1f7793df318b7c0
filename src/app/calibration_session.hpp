#pragma once
// The calibration screen's run: the click voice, the taps so far and the result, and what the
// screen's buttons and keys do. The player taps along with the click; each tap is placed on the
// click voice's heard clock by its own event timestamp. Main thread.
#include "audio/audio_engine.hpp"
#include "game/calibration.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct App;
struct InputState;

// Taps count once the click has sounded this often, so that the player has the beat first.
constexpr int kCalibrationListenBeats = 2;

struct CalibrationSession {
    std::unique_ptr<Wav> click;   // the generated click, made on first use
    AudioHandle voice = 0;        // the looping click; 0 while silent
    std::vector<double> errorsMs; // this run's taps, in order
    CalibrationResult result;     // set once kCalibrationTaps taps are in
    double position = 0.0;        // the click's heard position at this frame (seconds)
    // Where pointer taps count, in drawable pixels (y downward), as the screen last drew it; an
    // empty area (the interface hidden) lets a press anywhere count.
    float padLeft = 0.0f, padTop = 0.0f, padRight = 0.0f, padBottom = 0.0f;
    // The screen's own: taps it has shown, and until when (GUI time) the pad lights up.
    std::size_t tapsShown = 0;
    double flashUntil = 0.0;
};

// This frame's taps on the calibration screen, as SDL timestamps in the order they happened:
// Space and letter keys; finger presses, or else left mouse presses, inside the pad area.
std::vector<std::uint64_t> calibrationTapTimes(const InputState& input, const CalibrationSession& session);

// Opens the screen: stops a level that is playing (as Space would), then starts a new run.
void calibrationOpen(App& app);

// Starts the run again: no taps, the click from its first beat.
void calibrationRetry(App& app);

// Stores the result's offset ("audioOffsetMs"), sets the game clock's offset, and leaves the
// screen. Does nothing before the run is complete.
void calibrationSave(App& app);

// Leaves the screen without changing anything: the click stops, Settings shows again.
void calibrationClose(App& app);

// The screen's frame, whether or not the interface is drawn: Escape leaves, the taps are placed
// on the click's clock and judged; the 16th tap ends the run (and the click). Main thread.
void calibrationFrame(App& app);
