#pragma once
// Helpers shared by the audio tests: fixture bytes, WAV files built in memory with known samples,
// and a scratch directory for stems that loadStem reads from disk.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string audioFixturePath(const std::string& name) {
    return std::string(VIBRELLE_TEST_DATA) + "/audio/" + name;
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A 32-bit float WAV file of the given interleaved samples.
inline std::vector<unsigned char> makeFloatWav(const std::vector<float>& samples, uint16_t channels,
                                               uint32_t rate = 44100) {
    std::vector<unsigned char> out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto put16 = [&out](uint16_t v) {
        out.push_back(static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(v >> 8));
    };
    auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
    uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 4);
    tag("RIFF");
    put32(36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    put32(16);
    put16(3); // IEEE float
    put16(channels);
    put32(rate);
    put32(rate * channels * 4);
    put16(static_cast<uint16_t>(channels * 4));
    put16(32);
    tag("data");
    put32(dataBytes);
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    out.insert(out.end(), bytes, bytes + dataBytes); // an empty vector's data() may be null
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

// A fresh directory under the system's temp folder, removed with the object.
struct ScratchDir {
    std::filesystem::path path;
    explicit ScratchDir(const std::string& name) {
        path = std::filesystem::temp_directory_path() / ("vibrelle_audio_" + name);
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        std::string file = (path / name).string();
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
};
