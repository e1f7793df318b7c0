// Replays at the sizes that matter: a 30-minute round at a steady 20 inputs a second (36 000
// events) and the largest file the reader takes (500 000 events), written and read from memory;
// and a save into a full store (twenty levels of ten replays), which prunes after writing.
#include "replay/replay_store.hpp"

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

Replay roundWith(std::size_t events, const std::string& level, std::int64_t endMs, std::int32_t score) {
    Replay replay{level, std::string(64, 'a'), "0.0.1", ReplayInputMode::Pointer, 0, 1920, 1080, 0, endMs};
    replay.result.totalLayers = 8;
    replay.result.score = score;
    replay.events.resize(events);
    for (std::size_t i = 0; i < events; ++i) {
        RoundEvent& event = replay.events[i];
        event.songTimeUs = static_cast<std::int64_t>(i) * 50000; // 20 a second
        event.kind = i % 2 == 0 ? InputKind::Press : InputKind::Release;
        event.device = InputDevice::Finger;
        event.x = static_cast<float>(i % 1920);
        event.y = static_cast<float>(i % 1080);
    }
    return replay;
}

void BM_EncodeReplay(benchmark::State& state) {
    const Replay replay = roundWith(static_cast<std::size_t>(state.range(0)), "Level", 1000, 1);
    std::string bytes, error;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeReplay(replay, bytes, error));
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_EncodeReplay)->Arg(36000)->Arg(500000)->Unit(benchmark::kMillisecond);

void BM_DecodeReplay(benchmark::State& state) {
    std::string bytes, error;
    encodeReplay(roundWith(static_cast<std::size_t>(state.range(0)), "Level", 1000, 1), bytes, error);
    Replay read;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeReplay(bytes, read, error));
    }
}
BENCHMARK(BM_DecodeReplay)->Arg(36000)->Arg(500000)->Unit(benchmark::kMillisecond);

void BM_SaveIntoAFullStore(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "vibrelle-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    std::string path, error;
    for (int i = 0; i < 220; ++i) {
        saveReplay(folder, roundWith(36000, "Level " + std::to_string(i % 20), 1000 + i, i), path, error);
    }
    std::int64_t end = 10000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(saveReplay(folder, roundWith(36000, "Level 0", ++end, 0), path, error));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveIntoAFullStore)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
