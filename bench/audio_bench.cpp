// Audio engine figures: resident memory of a decoded stem, mixing cost, and the output device's
// buffer size (the latency SDL reports) for the driver SDL_AUDIO_DRIVER selects.
#include "audio/audio_engine.hpp"

#include <SDL3/SDL.h>
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A 16-bit stereo WAV of seconds of two detuned tones at 44.1 kHz.
std::vector<unsigned char> makeWav16(double seconds) {
    const uint32_t rate = 44100;
    const uint32_t frames = uint32_t(seconds * rate);
    const uint32_t dataBytes = frames * 4;
    std::vector<unsigned char> out(44 + size_t(dataBytes));
    auto put32 = [&out](size_t at, uint32_t v) { std::memcpy(out.data() + at, &v, 4); };
    auto put16 = [&out](size_t at, uint16_t v) { std::memcpy(out.data() + at, &v, 2); };
    std::memcpy(out.data(), "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(out.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, rate);
    put32(28, rate * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(out.data() + 36, "data", 4);
    put32(40, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t l = int16_t(8000 * std::sin(i * 0.0627));
        int16_t r = int16_t(8000 * std::sin(i * 0.0631));
        put16(44 + size_t(i) * 4, uint16_t(l));
        put16(46 + size_t(i) * 4, uint16_t(r));
    }
    return out;
}

// Heap bytes in use (small blocks and mmapped blocks).
size_t heapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Resident set size in bytes.
size_t residentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

// Loads a 3-minute stereo stem the way loadStem does (file bytes freed right after decoding) and
// reports what stays resident per second of audio. The budget is 4 bytes per sample per channel:
// 352 800 bytes per second of 44.1 kHz stereo.
void BM_StemMemoryThreeMinutes(benchmark::State& state) {
    const double seconds = 180.0;
    double heapPerSecond = 0.0;
    double rssPerSecond = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        auto bytes = std::make_unique<std::vector<unsigned char>>(makeWav16(seconds));
        malloc_trim(0);
        size_t heapBefore = heapInUse() - bytes->capacity();
        size_t rssBefore = residentBytes() - bytes->capacity();
        state.ResumeTiming();

        auto wav = std::make_unique<Wav>();
        AudioResult result = wav->loadMem(bytes->data(), bytes->size());
        bytes.reset();

        state.PauseTiming();
        if (result != AudioResult::Ok) {
            state.SkipWithError("decode failed");
            break;
        }
        malloc_trim(0);
        heapPerSecond = double(heapInUse() - heapBefore) / seconds;
        rssPerSecond = double(residentBytes() - rssBefore) / seconds;
        wav.reset();
        state.ResumeTiming();
    }
    state.counters["heap_bytes_per_audio_second"] = heapPerSecond;
    state.counters["rss_bytes_per_audio_second"] = rssPerSecond;
    state.counters["budget_bytes_per_audio_second"] = 4.0 * 2 * 44100;
}
BENCHMARK(BM_StemMemoryThreeMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

// Mixing cost of state.range(0) looping stereo stems, per 1024-frame device buffer.
void BM_MixStems(benchmark::State& state) {
    AudioEngine engine;
    engine.init(AudioBackend::NullDriver);
    std::vector<unsigned char> bytes = makeWav16(10.0);
    std::vector<std::unique_ptr<Wav>> stems;
    for (int i = 0; i < state.range(0); ++i) {
        stems.push_back(std::make_unique<Wav>());
        stems.back()->loadMem(bytes.data(), bytes.size());
        stems.back()->setLooping(true);
        engine.play(*stems.back(), 0.5f);
    }
    std::vector<float> out(1024 * 2);
    for (auto _ : state) {
        engine.mix(out.data(), 1024);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_MixStems)->Arg(1)->Arg(4)->Arg(8);

// Opens the default playback device with the driver SDL picks (set SDL_AUDIO_DRIVER to choose)
// and reports its buffer size in sample frames and in milliseconds at 44.1 kHz.
void BM_DeviceBufferFrames(benchmark::State& state) {
    AudioEngine engine;
    if (engine.init() != AudioResult::Ok) {
        state.SkipWithError("no audio device could be opened");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.getStreamTime(0));
    }
    state.counters["device_frames"] = engine.getBackendBufferFrames();
    state.counters["device_ms"] = 1000.0 * engine.getBackendBufferFrames() / 44100.0;
    state.SetLabel(SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "none");
    engine.deinit();
}
BENCHMARK(BM_DeviceBufferFrames)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
