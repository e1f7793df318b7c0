#include "game/calibration.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kClickRate = 44100;

void putU32(std::vector<unsigned char>& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

void putU16(std::vector<unsigned char>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<unsigned char>(value));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void putTag(std::vector<unsigned char>& bytes, const char* tag) { bytes.insert(bytes.end(), tag, tag + 4); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

} // namespace

std::vector<unsigned char> calibrationClickWav() {
    const int frames = static_cast<int>(std::lround(kCalibrationBeat * kClickRate));
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + 2 * frames);
    putTag(bytes, "RIFF");
    putU32(bytes, static_cast<std::uint32_t>(36 + 2 * frames));
    putTag(bytes, "WAVE");
    putTag(bytes, "fmt ");
    putU32(bytes, 16);
    putU16(bytes, 1); // PCM
    putU16(bytes, 1); // mono
    putU32(bytes, kClickRate);
    putU32(bytes, kClickRate * 2);
    putU16(bytes, 2);
    putU16(bytes, 16);
    putTag(bytes, "data");
    putU32(bytes, static_cast<std::uint32_t>(2 * frames));
    // A 2 kHz tone with a sharp attack and a 4 ms decay: its onset, the moment heard as the beat,
    // is the first sample.
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kClickRate;
        const double envelope = t < 0.03 ? std::exp(-t / 0.004) : 0.0;
        const double sample = 0.8 * envelope * std::sin(2.0 * pi * 2000.0 * t + 0.5 * pi);
        putU16(bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(sample * 32767.0))));
    }
    return bytes;
}

double calibrationTapErrorMs(double position) {
    const double nearest = std::round(position / kCalibrationBeat) * kCalibrationBeat;
    return (position - nearest) * 1000.0;
}

CalibrationResult calibrationResult(const std::vector<double>& errorsMs) {
    CalibrationResult result;
    if (errorsMs.empty()) {
        return result;
    }
    const double centre = median(errorsMs);
    std::vector<double> deviations;
    deviations.reserve(errorsMs.size());
    for (double error : errorsMs) {
        deviations.push_back(std::fabs(error - centre));
    }
    const double mad = median(deviations);
    std::vector<double> kept;
    for (double error : errorsMs) {
        if (std::fabs(error - centre) <= kCalibrationOutlierMads * mad) {
            kept.push_back(error);
        }
    }
    // At least half the taps lie within one MAD of the median, so some are always kept.
    result.valid = true;
    result.kept = static_cast<int>(kept.size());
    result.dropped = static_cast<int>(errorsMs.size() - kept.size());
    result.medianMs = median(kept);
    double mean = 0.0;
    for (double error : kept) {
        mean += error;
    }
    mean /= static_cast<double>(kept.size());
    double squares = 0.0;
    for (double error : kept) {
        squares += (error - mean) * (error - mean);
    }
    result.spreadMs = std::sqrt(squares / static_cast<double>(kept.size()));
    result.offsetMs = static_cast<int>(
        std::lround(std::clamp(result.medianMs, double(kAudioOffsetMinMs), double(kAudioOffsetMaxMs))));
    return result;
}
