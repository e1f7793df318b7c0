#pragma once
// Synthetic stems for the authoring tests: signals with known onsets and pitches, written as
// 16-bit WAV files into a temporary folder of the test's own.
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace authoringtest {

constexpr uint32_t kRate = 44100;

// Writes interleaved samples (-1..1), `repeats` times over, as a 16-bit PCM WAV file at kRate (in
// a little-endian machine's bytes).
inline void writeWav(const std::filesystem::path& path, const std::vector<float>& samples, int channels = 1,
                     uint32_t repeats = 1) {
    std::vector<int16_t> pcm;
    for (float s : samples) {
        pcm.push_back(static_cast<int16_t>(std::lround(std::fmax(-1.0f, std::fmin(1.0f, s)) * 32767.0f)));
    }
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2) * repeats;
    const uint32_t frame = static_cast<uint32_t>(channels) * 2;
    // "RIFF", size, "WAVE", "fmt ", 16, PCM format and channels, rate, byte rate, frame size and
    // bits per sample, "data", size.
    const uint32_t header[] = {
        0x46464952, 36 + dataBytes, 0x45564157,        0x20746d66, 16,       1u | frame * 32768u,
        kRate,      kRate * frame,  frame | 16u << 16, 0x61746164, dataBytes};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (uint32_t r = 0; r < repeats; ++r) {
        out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    }
}

// Adds a short decaying noise burst (a click) at `time` seconds.
inline void addClick(std::vector<float>& mono, double time, float gain = 0.8f) {
    uint32_t noise = 12345u + static_cast<uint32_t>(time * 1000);
    const size_t start = static_cast<size_t>(time * kRate);
    for (size_t i = 0; i < 441 && start + i < mono.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float white = static_cast<float>(noise >> 8) / 8388608.0f - 1.0f;
        mono[start + i] += gain * white * std::exp(-static_cast<float>(i) / 60.0f);
    }
}

// Adds a note of MIDI key `key`: a few harmonics, 5 ms attack, held for `length` seconds, then a
// 50 ms raised-cosine release (a note cut off harder is a click of its own, and found as one).
inline void addNote(std::vector<float>& mono, double time, double length, int key, float gain = 0.3f) {
    const double hz = 440.0 * std::pow(2.0, (key - 69) / 12.0);
    const size_t start = static_cast<size_t>(time * kRate);
    const size_t sustain = static_cast<size_t>(length * kRate);
    const size_t release = static_cast<size_t>(0.05 * kRate);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < sustain + release && start + i < mono.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double envelope = std::fmin(1.0, t / 0.005);
        if (i >= sustain) {
            envelope = 0.5 + 0.5 * std::cos(pi * static_cast<double>(i - sustain) / release);
        }
        const double wave =
            std::sin(2 * pi * hz * t) + 0.5 * std::sin(4 * pi * hz * t) + 0.25 * std::sin(6 * pi * hz * t);
        mono[start + i] += static_cast<float>(gain * envelope * wave);
    }
}

} // namespace authoringtest
