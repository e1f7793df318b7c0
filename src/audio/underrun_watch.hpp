#pragma once
// Dropouts as the audio callback sees them. A device calls the mixer back whenever it has room and
// asks for the frames that fit. Two signs tell that it ran dry and the listener heard a gap:
//   - it asks for a whole period after asking in pieces: it had room for all of its buffer, so the
//     buffer was empty (a sound server such as PulseAudio asks a quarter period at a time while it
//     keeps up);
//   - the callback comes later than the sound the device still held: what it held before, less
//     what it has played since, plus what it was just given, kept to two periods at most (the
//     device's buffer and the period a sound server is playing) so that a mistake in the tally
//     cannot hide the gaps that follow.
//
// Checked against PulseAudio (a null sink, its monitor recorded; 20 s runs at 256 to 2048 frames on
// a quiet and on a busy machine): the counts came within a third of the gaps in the recordings
// where there were dozens or hundreds (370 for 369 at 256 frames, 109 for 113 at 512), and within
// a few where there were none or a few.
//
// Plain code on plain values: the engine's audio callback keeps one UnderrunWatch and feeds it the
// callback times and sizes; tests drive it with made-up times.
#include <cstdint>

struct UnderrunWatch {
    std::uint64_t lastNs = 0; // SDL ticks of the previous callback
    double heldSeconds = 0.0; // sound the device held after the previous callback
    unsigned lastFrames = 0;  // frames the previous callback was asked for
    unsigned callbacks = 0;   // callbacks seen since the device opened (counts up to 2)
};

// Timer jitter, not a gap: a callback this much later than the sound held is still on time.
constexpr double kUnderrunSlackSeconds = 0.005;

// Notes a callback at `nowNs` (SDL ticks) that was asked for `frames` frames by a device of
// `periodFrames` frames per period playing `sampleRate` frames per second, `rate` seconds of sound
// per second of SDL's clock (DeviceRate in heard_clock.hpp; 1 for a device on time). Answers
// whether the device must have run dry since the previous callback (either sign above). The wait
// between a device's first and second callback is its start (a sound server may wait there to
// fill its buffer) and never counts. Allocates nothing, takes no lock: the audio callback calls it.
bool noteMixCallback(UnderrunWatch& watch, std::uint64_t nowNs, unsigned frames, unsigned periodFrames,
                     double sampleRate, double rate = 1.0);
