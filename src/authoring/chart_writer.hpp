#pragma once
// Writing a chart as a Standard MIDI File the game reads: format 1, a tempo track and a note track.
// Taps are notes on channel 0, holds on channel 1 with the hold as the note's length; a pan
// controller (10) goes before a note whose balance differs from its channel's last one.
#include "authoring/playability.hpp"

#include <cstdint>
#include <string>
#include <vector>

constexpr int kChartTicksPerQuarter = 480;

// How long a tap's note lasts in the file (seconds); shorter when the same key comes again sooner.
constexpr double kTapNoteSeconds = 0.1;

// The file's bytes for `notes` (in time order) at `bpm` beats per minute (positive), with
// `name` as the track name (at most 127 bytes are kept). Times are rounded to the nearest tick.
std::vector<uint8_t> encodeChartMidi(const std::vector<ChartNote>& notes, double bpm,
                                     const std::string& name);

// Writes encodeChartMidi's bytes to `path`, replacing the file. False with a reason in `error`.
bool writeChartMidi(const std::string& path, const std::vector<ChartNote>& notes, double bpm,
                    const std::string& name, std::string& error);
