// One logic tick's work (the master clock, and the round advanced by a tick: spawns, arrivals,
// removals and misses) on a dense level: 8 looping stems with 20 000 note-ons each (and their
// note-offs), every layer unlocked.
#include "app/logic_thread.hpp"
#include "audio/audio_system.hpp"
#include "game/master_clock.hpp"
#include "game/round_progress.hpp"
#include "game/scoring.hpp"
#include "level/round_setup.hpp"
#include "quiet_stdout.hpp"
#include "render/render_system.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

namespace {

constexpr int kStems = 8;
constexpr int kNotesPerStem = 20000;
constexpr double kSongLength = 300.0; // seconds: about 67 notes a second on every stem
constexpr double kTickPeriod = 1.0 / 120.0;

void buildLevel(AudioSystem& audio) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> time(0.0, kSongLength);
    std::uniform_int_distribution<int> key(0, 127);
    std::uniform_int_distribution<int> velocity(1, 127);
    std::uniform_int_distribution<int> percent(0, 99);
    audio.playing = true;
    audio.looping = true;
    for (int s = 0; s < kStems; ++s) {
        LoadedStem& stem = audio.stems.emplace_back();
        stem.index = s;
        stem.active = true;
        stem.chart.loaded = true;
        stem.chart.audioLength = kSongLength;
        std::vector<MidiNoteEvent>& notes = stem.chart.notes;
        for (int i = 0; i < kNotesPerStem; ++i) {
            MidiNoteEvent on;
            on.note = key(rng);
            on.velocity = velocity(rng);
            on.time = time(rng);
            on.duration = 0.25;
            on.isNoteOn = true;
            on.channel = percent(rng) < 10 ? 1 : 0;
            MidiNoteEvent off = on;
            off.isNoteOn = false;
            off.velocity = 0;
            off.time = on.time + on.duration;
            off.duration = 0.0;
            notes.push_back(on);
            notes.push_back(off);
        }
        std::sort(notes.begin(), notes.end(),
                  [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
    }
}

void logicTick(benchmark::State& state) {
    AudioSystem audio;
    buildLevel(audio);
    RenderState render;
    render.width = 1920;
    render.height = 1080;
    GameState game;
    initGameState(game, 8);
    game.playing = true;
    game.missesPerLayerDrop = ~0u; // nobody plays: every layer stays unlocked all the same
    // Stands in for the background pulse the program installs: a write into the stem's slot.
    game.noteCallback = [](const MidiNoteEvent& note, RenderState* target) {
        if (note.isNoteOn && note.stemIndex >= 0 && note.stemIndex < kStemSlots) {
            target->stemTarget[note.stemIndex] += 0.01f * static_cast<float>(note.velocity);
        }
    };
    double clock = 100.0;
    beginRound(game, roundSetupOf(audio, render.width, render.height), clock, kStems);
    const LayerRequests requests;
    advanceMasterClockTo(audio, game, &render, clock);
    std::size_t liveCircles = 0;
    QuietStdout quiet; // every unanswered circle logs its miss
    for (auto _ : state) {
        // The engine's stream time is what advanceMasterClock reads; here the clock is given, and
        // the inputs are known up to it (no input came).
        clock += kTickPeriod;
        advanceMasterClockTo(audio, game, &render, clock);
        queueRoundInputs(game, {}, clock);
        advanceRound(game, clock, requests);
        benchmark::ClobberMemory();
        liveCircles = game.circles.size();
    }
    state.counters["circles"] = static_cast<double>(liveCircles);
}

} // namespace

BENCHMARK(logicTick)->Name("LogicTick")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
