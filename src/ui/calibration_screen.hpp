#pragma once
// The calibration screen: the player taps along with a click, sees each tap's error land on a
// scale, and keeps the offset the taps call for (Save), tries again (Retry) or leaves (Back).
// What the taps and buttons do lives in app/calibration_session.hpp; this draws the run kept in
// CalibrationSession. Main thread, in a GUI frame.
#include "audio/audio_engine.hpp"
#include "game/calibration.hpp"
#include "ui/screen_context.hpp"

#include <cstddef>
#include <memory>
#include <vector>

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

void drawCalibrationScreen(ScreenContext& context);
