#pragma once
// The calibration screen's run: the click voice, the taps so far and the result, and what the
// screen's buttons and keys do. The player taps along with the click; each tap is placed on the
// click voice's heard clock by its own event timestamp. Main thread.
#include "ui/calibration_screen.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct App;
struct InputState;

// This frame's taps on the calibration screen, as SDL timestamps in the order they happened: Space,
// the presses a round takes (the grid's keys and gamepad buttons; finger presses, or else left
// mouse presses, inside the pad area).
std::vector<std::uint64_t> calibrationTapTimes(const InputState& input, const CalibrationSession& session);

// Opens the screen (goToScreen; its enter step is calibrationStart).
void calibrationOpen(App& app);

// The screen's enter step: stops a level that is playing (as Space would), then starts a new run.
void calibrationStart(App& app);

// The screen's leave step: the click stops.
void calibrationStop(App& app);

// Starts the run again: no taps, the click from its first beat.
void calibrationRetry(App& app);

// Stores the result's offset ("audioOffsetMs"), sets the game clock's offset, and leaves the
// screen. Does nothing before the run is complete.
void calibrationSave(App& app);

// Leaves the screen without changing anything: Settings shows again (the leave step stops the
// click).
void calibrationClose(App& app);

// The screen's frame, whether or not the interface is drawn: Escape leaves, the taps are placed
// on the click's clock and judged; the 16th tap ends the run (and the click). Main thread.
void calibrationFrame(App& app);
