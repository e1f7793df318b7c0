// A level switch from the menu, in its two halves, for the default level and each shipped package:
// reading and decoding the level's files (done without the game mutex), one stem at a time and
// on every hardware thread, and swapping it in and starting it (done with the mutex held, so this
// is how long the logic thread waits). Run from assets/:
//   cd assets && ../build/dev/bench/bench_level_switch
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "level/level_manifest.hpp"
#include "quiet_stdout.hpp"
#include "render/render_system.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kLevels[] = {"levels/level.json", "levels/sunrise_groove/level.json",
                               "levels/neon_drive/level.json", "levels/hyperlane/level.json"};

// range(1): decoding threads, 1 (one stem after another) or 0 (one per hardware thread).
void BM_ReadAndDecodeLevel(benchmark::State& state) {
    const std::string path = kLevels[state.range(0)];
    const unsigned threads = static_cast<unsigned>(state.range(1));
    QuietStdout quiet;
    for (auto _ : state) {
        StagedLevel staged;
        benchmark::DoNotOptimize(readLevel(path, true, staged, threads));
    }
    state.SetLabel(path + (threads == 1 ? " serial" : " parallel"));
}
BENCHMARK(BM_ReadAndDecodeLevel)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

void BM_SwapInAndStartUnderTheMutex(benchmark::State& state) {
    const std::string path = kLevels[state.range(0)];
    QuietStdout quiet;
    AudioSystem audio;
    RenderState render;
    audioInit(audio, AudioBackend::NullDriver);
    for (auto _ : state) {
        state.PauseTiming();
        StagedLevel staged;
        readLevel(path, true, staged);
        std::vector<LoadedStem> retired;
        state.ResumeTiming();
        installLevel(staged, audio, render, retired);
        playAllStems(audio);
        activateFirstStem(audio);
        state.PauseTiming();
        retired.clear(); // freed after the mutex, as the menu does
        state.ResumeTiming();
    }
    audioShutdown(audio);
    state.SetLabel(path);
}
BENCHMARK(BM_SwapInAndStartUnderTheMutex)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
