#pragma once
// Reading a stem's audio file for analysis: the file is decoded in chunks (never whole in memory)
// and kept as one mono channel at a fixed rate, with the left and right energy of short blocks
// for the stereo balance. Plain code without a device; any thread.
#include "authoring/step_progress.hpp"

#include <cstdint>
#include <string>
#include <vector>

// Rate of the analysed signal (Hz): every stem is converted to it while it is read.
constexpr uint32_t kAnalysisRate = 44100;

// Samples per block of the stereo energy record (about 5.8 ms).
constexpr uint32_t kBalanceBlock = 256;

// Longest stem accepted (seconds): bounds what a file can make the reader allocate.
constexpr double kMaxStemSeconds = 20.0 * 60.0;

struct StemAudio {
    std::vector<float> mono;        // (left + right) / 2 per frame at kAnalysisRate
    std::vector<float> leftEnergy;  // sum of squared left samples per kBalanceBlock frames
    std::vector<float> rightEnergy; // the same for the right channel (equal to left for mono files)
    float peak = 0.0f;              // largest |mono| sample
    double seconds() const { return static_cast<double>(mono.size()) / kAnalysisRate; }
};

// Decodes the WAV, FLAC, Ogg Vorbis or MP3 file at `path` into `out`. MP3 encoder delay is
// removed as the game's loader removes it, so that times agree with playback. Returns false with
// a one-line reason in `error` (unreadable or undecodable file, no audio, longer than
// kMaxStemSeconds, out of memory); `out` is then empty. `progress` hears the share decoded every
// few chunks; when it answers false the read stops with "cancelled" in `error`.
bool readStemAudio(const std::string& path, StemAudio& out, std::string& error,
                   const StepProgress& progress = {});
