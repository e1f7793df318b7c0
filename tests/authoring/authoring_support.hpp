#pragma once
// Synthetic stems for the authoring tests: signals with known onsets and pitches, written as
// 16-bit WAV files into a temporary folder of the test's own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace authoringtest {

constexpr int kRate = 44100;

// A fresh, empty folder under the system's temporary folder, removed when the test ends.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const std::string& name) {
        path = std::filesystem::temp_directory_path() /
               ("vibrelle_authoring_" + name + "_" + std::to_string(getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Writes interleaved samples (-1..1) as a 16-bit PCM WAV file.
inline void writeWav(const std::filesystem::path& path, const std::vector<float>& samples, int channels = 1,
                     int rate = kRate) {
    std::ofstream out(path, std::ios::binary);
    auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
        }
    };
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put(36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4);
    put(1, 2);
    put(static_cast<uint32_t>(channels), 2);
    put(static_cast<uint32_t>(rate), 4);
    put(static_cast<uint32_t>(rate * channels * 2), 4);
    put(static_cast<uint32_t>(channels * 2), 2);
    put(16, 2);
    out.write("data", 4);
    put(dataBytes, 4);
    for (float s : samples) {
        const long v = std::lround(std::fmax(-1.0f, std::fmin(1.0f, s)) * 32767.0f);
        put(static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(v))), 2);
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
