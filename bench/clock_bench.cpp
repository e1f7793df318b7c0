// The song clock on a real SDL device (SDL_AUDIO_DRIVER=dummy for the virtual one): how smoothly
// it moves, whether it ever goes back, and how far it strays from the frames the device takes.
//
//   bench_clock [GRANULARITY_SECONDS [DRIFT_SECONDS]]   (defaults 10 and 60)
//
// Samples the clock about every millisecond. For the first GRANULARITY_SECONDS it reports the
// largest |Δclock - Δwall| between consecutive readings; over the whole run the largest distance
// from the heard position the device's callbacks report (frames mixed, less the stream's queue and
// a period, carried forward at the device's rate) and the device's own rate. The device runs two
// seconds before the voice starts, as it does in the game before a song. The device period is the
// game's default, or VIBRELLE_AUDIO_PERIOD frames; at the end, the underruns the engine counted.
#include "audio/audio_system.hpp"
#include "audio/heard_clock.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const double granularitySeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const double driftSeconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    unsigned period = kDevicePeriodFrames;
    const char* asked = std::getenv("VIBRELLE_AUDIO_PERIOD");
    if (asked != nullptr && !parseDevicePeriod(asked, period)) {
        std::fprintf(stderr, "VIBRELLE_AUDIO_PERIOD=%s: expected a whole number of frames from %u to %u\n",
                     asked, kMinDevicePeriodFrames, kMaxDevicePeriodFrames);
        return 1;
    }
    AudioSystem audio;
    if (!audioInit(audio, AudioBackend::Auto, period)) {
        return 1;
    }
    // A quiet tone, looped: the clock of a voice that plays on and on.
    Wav tone;
    {
        std::vector<unsigned char> wav(44);
        const int frames = 44100;
        const auto put = [&wav](std::size_t at, std::uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i) {
                wav[at + i] = static_cast<unsigned char>(value >> (8 * i));
            }
        };
        std::memcpy(wav.data(), "RIFF", 4);
        put(4, 36 + 2 * frames, 4);
        std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
        put(16, 16, 4);
        put(20, 1, 2);
        put(22, 1, 2);
        put(24, 44100, 4);
        put(28, 88200, 4);
        put(32, 2, 2);
        put(34, 16, 2);
        std::memcpy(wav.data() + 36, "data", 4);
        put(40, 2 * frames, 4);
        for (int i = 0; i < frames; ++i) {
            const auto sample =
                static_cast<std::int16_t>(300.0 * std::sin(2.0 * 3.14159265 * 440.0 * i / 44100.0));
            wav.push_back(static_cast<unsigned char>(sample & 0xff));
            wav.push_back(static_cast<unsigned char>((sample >> 8) & 0xff));
        }
        if (tone.loadMem(wav.data(), wav.size()) != AudioResult::Ok) {
            std::fprintf(stderr, "could not make the tone\n");
            return 1;
        }
    }
    tone.setLooping(true);
    AudioEngine& engine = *audio.engine;
    // The game's device runs from start-up, long before a song: give it two seconds, as the menu
    // would, so that its rate is known when the voice starts.
    SDL_Delay(2000);
    const AudioHandle voice = engine.play(tone, 0.1f);

    const std::uint64_t start = SDL_GetTicksNS();
    double previous = -1.0;
    std::uint64_t previousNs = 0;
    double worstStep = 0.0;
    double worstDrift = 0.0;
    double lastDrift = 0.0;
    double worstAt = 0.0;
    long over1 = 0;
    std::vector<double> distances;
    double firstSum = 0.0, lastSum = 0.0;
    long firstCount = 0, lastCount = 0;
    long backwards = 0, readings = 0;
    MixReport firstReport{}, lastReport{};
    double firstSeconds = 0.0, lastSeconds = 0.0;
    for (;;) {
        std::uint64_t now = 0;
        const double clock = engine.getStreamTime(voice, &now);
        const double elapsed = double(now - start) * 1e-9;
        if (elapsed > driftSeconds) {
            break;
        }
        double voiceSeconds = 0.0;
        const MixReport report = engine.lastMixReport(voice, &voiceSeconds);
        if (report.atNs != 0 && firstReport.atNs == 0 && elapsed > 1.0) {
            firstReport = report;
            firstSeconds = voiceSeconds;
        }
        lastReport = report;
        lastSeconds = voiceSeconds;
        if (previous >= 0.0) {
            backwards += clock < previous ? 1 : 0;
            if (elapsed <= granularitySeconds && elapsed > 0.5) {
                worstStep =
                    std::max(worstStep, std::fabs((clock - previous) - double(now - previousNs) * 1e-9));
            }
        }
        if (elapsed > 1.0) { // past the start, where the clock first meets the sound
            lastDrift = clock - heardPosition(voiceSeconds, report, now, true);
            if (std::fabs(lastDrift) > worstDrift) {
                worstDrift = std::fabs(lastDrift);
                worstAt = elapsed;
            }
            over1 += std::fabs(lastDrift) > 0.002 ? 1 : 0;
            distances.push_back(lastDrift);
            if (elapsed < 2.0) {
                firstSum += lastDrift;
                ++firstCount;
            } else if (elapsed > driftSeconds - 1.0) {
                lastSum += lastDrift;
                ++lastCount;
            }
        }
        previous = clock;
        previousNs = now;
        ++readings;
        SDL_DelayPrecise(SDL_NS_PER_MS);
    }
    const double deviceRate =
        (lastSeconds - firstSeconds) / (double(lastReport.atNs - firstReport.atNs) * 1e-9);
    std::printf("Device: %d frames per period (%.1f ms), output latency %.1f ms, rate %.5f x wall clock\n",
                engine.getBackendBufferFrames(), lastReport.period * 1000.0, lastReport.latency * 1000.0,
                deviceRate);
    std::printf("Granularity over %.0f s: max |dclock - dwall| %.3f ms between readings 1 ms apart\n",
                granularitySeconds, worstStep * 1000.0);
    std::vector<double> sorted;
    for (double d : distances) {
        sorted.push_back(std::fabs(d));
    }
    std::sort(sorted.begin(), sorted.end());
    const double p99 = sorted.empty() ? 0.0 : sorted[sorted.size() * 99 / 100];
    const double drift =
        (lastCount > 0 ? lastSum / lastCount : 0.0) - (firstCount > 0 ? firstSum / firstCount : 0.0);
    std::printf("Over %.0f s (%ld readings): went back %ld times; drift from the device's frames (mean "
                "distance in the "
                "last second less that in the first) %.3f ms\n",
                driftSeconds, readings, backwards, drift * 1000.0);
    std::printf(
        "Distance from each callback's report: p99 %.3f ms, max %.3f ms (at %.1f s); over 2 ms in %ld "
        "readings\n",
        p99 * 1000.0, worstDrift * 1000.0, worstAt, over1);
    std::printf("Audio underruns: %llu\n", static_cast<unsigned long long>(engine.underrunCount()));
    engine.stop(voice);
    audioShutdown(audio);
    return 0;
}
