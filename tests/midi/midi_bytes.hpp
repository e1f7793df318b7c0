#pragma once
// Small builders for Standard MIDI File bytes in tests, and helpers that read and compare charts.
#include "audio/midi/midi_file.hpp"
#include "audio/midi_chart.hpp"
#include "capture.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace midibytes {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

inline Bytes vlq(uint32_t value) {
    Bytes groups{static_cast<uint8_t>(value & 0x7F)};
    for (value >>= 7; value != 0; value >>= 7) {
        groups.insert(groups.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
    }
    return groups;
}

inline Bytes be(uint32_t value, int count) {
    Bytes out;
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
    }
    return out;
}

template <typename... Parts> Bytes file(const Parts&... parts) {
    Bytes out;
    (append(out, parts), ...);
    return out;
}

inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
    return file(Bytes{'M', 'T', 'h', 'd'}, be(6, 4), be(format, 2), be(tracks, 2), be(division, 2));
}

struct Ev {
    uint32_t delta;
    Bytes msg;
};

// A track chunk of the given events with its true length; `endOfTrack` appends 0 FF 2F 00.
inline Bytes track(std::initializer_list<Ev> events, bool endOfTrack = true) {
    Bytes body;
    for (const Ev& e : events) {
        append(body, vlq(e.delta));
        append(body, e.msg);
    }
    if (endOfTrack) {
        append(body, {0x00, 0xFF, 0x2F, 0x00});
    }
    return file(Bytes{'M', 'T', 'r', 'k'}, be(static_cast<uint32_t>(body.size()), 4), body);
}

inline Bytes tempoUs(uint32_t microseconds) { return file(Bytes{0xFF, 0x51, 0x03}, be(microseconds, 3)); }
inline Bytes noteOn(int ch, int key, int vel) {
    return {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(key), static_cast<uint8_t>(vel)};
}
inline Bytes noteOff(int ch, int key, int vel = 64) {
    return {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(key), static_cast<uint8_t>(vel)};
}

// Reads `data` into `midi`; answers the reader's result.
inline bool readInto(MidiFile& midi, const Bytes& data) {
    std::istringstream in(std::string(data.begin(), data.end()));
    return midi.read(in);
}

// Loads a chart with its log lines captured; answers the loader's result.
inline bool loadQuietly(MidiChart& chart, const std::string& path, std::string* errors = nullptr) {
    bool ok = false;
    const std::string err = errorsOf([&] { ok = loadMidiChart(chart, path); });
    if (errors) {
        *errors = err;
    }
    return ok;
}

// The notes of a chart written as JSON (the chart tool's output and the conformance expectations).
inline std::vector<MidiNoteEvent> notesFromJson(const nlohmann::json& notes) {
    std::vector<MidiNoteEvent> out;
    for (const auto& n : notes) {
        out.push_back({n["note"].get<int>(), n["velocity"].get<int>(), n["pan"].get<int>(),
                       n["time"].get<double>(), n["duration"].get<double>(), n["tick"].get<int>(),
                       n["on"].get<bool>(), n["channel"].get<int>()});
    }
    return out;
}

// Every field of every note, times compared exactly unless `tolerance` is given.
inline void expectSameNotes(const std::vector<MidiNoteEvent>& got, const std::vector<MidiNoteEvent>& want,
                            double tolerance = 0.0) {
    const auto exact = [](const MidiNoteEvent& n) {
        return std::make_tuple(n.tick, n.note, n.velocity, n.pan, n.channel, n.isNoteOn, n.track);
    };
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        EXPECT_NEAR(got[i].time, want[i].time, tolerance);
        EXPECT_NEAR(got[i].duration, want[i].duration, tolerance);
        EXPECT_EQ(exact(got[i]), exact(want[i])); // tick, note, velocity, pan, channel, on, track
    }
}

} // namespace midibytes
