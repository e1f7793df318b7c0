#pragma once
// Helpers shared by the audio tests: fixture bytes, WAV files built in memory with known samples,
// a scratch directory for stems that loadStem reads from disk, and an audio system on the
// engine's null driver (the test pulls the mix).
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "audio/stem_loaders.hpp"
#include "capture.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

inline std::string audioFixturePath(const std::string& name) {
    return std::string(VIBRELLE_TEST_DATA) + "/audio/" + name;
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A 32-bit float WAV file of the given interleaved samples (a little-endian machine's bytes).
inline std::vector<unsigned char> makeFloatWav(const std::vector<float>& samples, uint16_t channels,
                                               uint32_t rate = 44100) {
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 4), frame = channels * 4u;
    // "RIFF", size, "WAVE", "fmt ", 16, float format and channels, rate, byte rate, frame size and
    // bits per sample, "data", size.
    const uint32_t header[] = {
        0x46464952, 36 + dataBytes, 0x45564157,        0x20746d66, 16,       3u | channels * 65536u,
        rate,       rate * frame,   frame | 32u << 16, 0x61746164, dataBytes};
    std::vector<unsigned char> out(sizeof header + dataBytes);
    std::memcpy(out.data(), header, sizeof header);
    if (dataBytes > 0) { // an empty vector's data() may be null
        std::memcpy(out.data() + sizeof header, samples.data(), dataBytes);
    }
    return out;
}

// frames stereo frames whose left sample is base + i / 65536 and right sample its negative,
// so every frame of every source is recognisable in a mix.
inline std::vector<float> rampSamples(uint32_t frames, float base) {
    std::vector<float> samples(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        samples[i * 2] = base + static_cast<float>(i) / 65536.0f;
        samples[i * 2 + 1] = -samples[i * 2];
    }
    return samples;
}

// Opens SDL's dummy output device, which plays in real time, with `periodFrames` frames a period,
// and plays the fixture stem.wav on it as the only stem; false if either fails. Log quietened.
inline bool playOnDummyDevice(AudioSystem& audio, unsigned periodFrames) {
    setenv("SDL_AUDIO_DRIVER", "dummy", 0);
    bool ok = false;
    stdoutOf([&] {
        ok = audioInit(audio, AudioBackend::Auto, periodFrames) &&
             loadStem(audio, audioFixturePath("stem.wav"));
        playAllStems(audio);
    });
    return ok;
}

// Reads the song group's clock until it reaches `seconds`, for at most 10 s; false if it did not,
// or if it ever went back on the way.
inline bool clockClimbsTo(const AudioSystem& audio, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    double last = audio.engine->getStreamTime(audio.voiceGroup);
    bool forward = true;
    while (last < seconds && std::chrono::steady_clock::now() < deadline) {
        const double now = audio.engine->getStreamTime(audio.voiceGroup);
        forward = forward && now >= last;
        last = now;
        std::this_thread::yield();
    }
    return forward && last >= seconds;
}

// The song clock as the logic thread reads it (readMasterClock), and its rate when `rate` is given;
// a failed read fails the test.
inline double songClock(AudioSystem& audio, double* rate = nullptr) {
    double time = -1.0, pace = 0.0;
    std::uint64_t atNs = 0; // unused without a device
    EXPECT_TRUE(readMasterClock(audio, &time, &atNs, rate != nullptr ? rate : &pace));
    return time;
}

// A fresh temporary folder that writes files of bytes.
struct ScratchDir : TempDir {
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

// An audio system on the null driver, with stems written as float WAVs with known samples.
struct StemFixture : ::testing::Test {
    AudioSystem audio;
    ScratchDir dir;

    void SetUp() override {
        bool ok = false;
        stdoutOf([&] { ok = audioInit(audio, AudioBackend::NullDriver); });
        ASSERT_TRUE(ok);
    }
    void TearDown() override {
        stdoutOf([&] { audioShutdown(audio); });
    }
    // Writes rampSamples(frames, base) as name and loads it as the next stem, without the log.
    void addStem(const std::string& name, uint32_t frames, float base) {
        const std::string path = dir.write(name, makeFloatWav(rampSamples(frames, base), 2));
        bool ok = false;
        stdoutOf([&] { ok = loadStem(audio, path); });
        ASSERT_TRUE(ok) << path;
    }
    std::vector<float> render(unsigned frames) {
        std::vector<float> out(size_t(frames) * 2);
        audio.engine->mix(out.data(), frames);
        return out;
    }
    // Fades the given stems fully in at once.
    void makeAudible(std::initializer_list<int> audible) {
        stdoutOf([&] {
            for (int index : audible) {
                fadeInStem(audio, index, 1.0f);
            }
            updateStemVolumes(audio, 1.0f);
        });
    }
};
