#pragma once
// Dropouts as the audio callback sees them. A device calls the mixer back whenever it has room and
// asks for the frames that fit, so what it holds after a callback is what it held before, less
// what it has played since, plus what it was just given. When the time from one callback to the
// next is longer than the sound held after the first, the device ran dry and the listener heard a
// gap. The tally is kept to two periods at most (the device's buffer and the period a sound server
// is playing), so that a mistake in it cannot hide the gaps that follow.
//
// Checked against PulseAudio (a null sink, its monitor recorded) at periods of 256 to 2048 frames
// on a busy machine: where the recording had dozens to hundreds of gaps, the count came within a
// third of theirs; where it had none or a few, so did the count.
//
// Plain code on plain values: the engine's audio callback keeps one UnderrunWatch and feeds it the
// callback times and sizes; tests drive it with made-up times.
#include <cstdint>

struct UnderrunWatch {
    std::uint64_t lastNs = 0; // SDL ticks of the previous callback
    double heldSeconds = 0.0; // sound the device held after the previous callback
    unsigned callbacks = 0;   // callbacks seen since the device opened (counts up to 2)
};

// Timer jitter, not a gap: a callback this much later than the sound held is still on time.
constexpr double kUnderrunSlackSeconds = 0.001;

// Notes a callback at `nowNs` (SDL ticks) that was asked for `frames` frames by a device of
// `periodFrames` frames per period playing `sampleRate` frames per second, `rate` seconds of sound
// per second of SDL's clock (DeviceRate in heard_clock.hpp; 1 for a device on time). Answers
// whether the device must have run dry since the previous callback: it played longer, by more
// than kUnderrunSlackSeconds, than the sound it held. The wait between a device's first and second
// callback is its start (a sound server may wait there to fill its buffer) and never counts.
// Allocates nothing, takes no lock: the audio callback calls it.
bool noteMixCallback(UnderrunWatch& watch, std::uint64_t nowNs, unsigned frames, unsigned periodFrames,
                     double sampleRate, double rate = 1.0);
