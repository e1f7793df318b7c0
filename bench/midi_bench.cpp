// Reading a MIDI chart and running the chart sequence on it (time analysis, note pairs, join):
// the work a level load does per stem.
#include "audio/midi/midi_file.hpp"
#include "audio/midi/midi_text_converter.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace {

void putVlq(std::string &out, uint32_t value) {
    std::string groups(1, static_cast<char>(value & 0x7F));
    for (value >>= 7; value != 0; value >>= 7) {
        groups.insert(groups.begin(), static_cast<char>((value & 0x7F) | 0x80));
    }
    out += groups;
}

void putBe(std::string &out, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// A format-1 file: a tempo track, then `tracks` tracks of `notes` note pairs each, 16th notes.
std::string makeSong(int tracks, int notes) {
    std::string file = "MThd";
    putBe(file, 6, 4);
    putBe(file, 1, 2);
    putBe(file, static_cast<uint32_t>(tracks + 1), 2);
    putBe(file, 480, 2);
    auto chunk = [&](const std::string &body) {
        file += "MTrk";
        putBe(file, static_cast<uint32_t>(body.size()), 4);
        file += body;
    };
    chunk(std::string("\x00\xFF\x51\x03\x07\xA1\x20\x00\xFF\x2F\x00", 11));
    for (int t = 0; t < tracks; ++t) {
        std::string body;
        for (int i = 0; i < notes; ++i) {
            putVlq(body, 0);
            body += {static_cast<char>(0x90 | t), static_cast<char>(36 + i % 48), 100};
            putVlq(body, 120);
            body += {static_cast<char>(0x80 | t), static_cast<char>(36 + i % 48), 64};
        }
        body += std::string("\x00\xFF\x2F\x00", 4);
        chunk(body);
    }
    return file;
}

void BM_ReadAndPrepareChart(benchmark::State &state) {
    const std::string song = makeSong(4, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::istringstream in(song);
        MidiFile midi;
        midi.read(in);
        midi.doTimeAnalysis();
        midi.linkNotePairs();
        midi.joinTracks();
        benchmark::DoNotOptimize(midi.getEventCount(0));
    }
    state.SetItemsProcessed(state.iterations() * 4 * 2 * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(song.size()));
}
BENCHMARK(BM_ReadAndPrepareChart)->Arg(250)->Arg(2500)->Unit(benchmark::kMicrosecond);

void BM_ConvertText(benchmark::State &state) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "v0 90 3c '100 v120 1000,0000 +< 4'64 ; note\n";
    }
    for (auto _ : state) {
        std::istringstream in(text);
        std::string out;
        MidiTextConverter converter;
        converter.convert(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ConvertText)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
