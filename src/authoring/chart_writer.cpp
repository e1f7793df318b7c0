#include "authoring/chart_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <tuple>

namespace {

constexpr int kTapChannel = 0;
constexpr int kHoldChannel = 1;
constexpr size_t kMaxNameBytes = 127;

struct TimedEvent {
    int64_t tick = 0;
    size_t order = 0; // at one tick: note-offs, then each note-on right after its pan controller
    std::vector<uint8_t> bytes;
};

void putVariableLength(std::vector<uint8_t>& out, uint64_t value) {
    uint8_t groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0 && count < 10);
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0x00)));
    }
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
    }
}

std::vector<uint8_t> trackName(const std::string& name) {
    const std::string kept = name.substr(0, std::min(name.size(), kMaxNameBytes));
    std::vector<uint8_t> bytes(3 + kept.size());
    bytes[0] = 0xFF;
    bytes[1] = 0x03;
    bytes[2] = static_cast<uint8_t>(kept.size());
    std::copy(kept.begin(), kept.end(), bytes.begin() + 3);
    return bytes;
}

// A track chunk from events sorted by tick.
void putTrack(std::vector<uint8_t>& out, const std::vector<TimedEvent>& events) {
    std::vector<uint8_t> body;
    int64_t now = 0;
    for (const TimedEvent& e : events) {
        putVariableLength(body, static_cast<uint64_t>(e.tick - now));
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        now = e.tick;
    }
    const uint8_t endOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};
    body.insert(body.end(), std::begin(endOfTrack), std::end(endOfTrack));
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBigEndian(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
}

} // namespace

std::vector<uint8_t> encodeChartMidi(const std::vector<ChartNote>& notes, double bpm,
                                     const std::string& name) {
    const double ticksPerSecond = bpm / 60.0 * kChartTicksPerQuarter;
    auto toTick = [&](double seconds) {
        return static_cast<int64_t>(std::llround(std::max(0.0, seconds) * ticksPerSecond));
    };

    std::vector<TimedEvent> events;
    events.push_back({0, 0, trackName(name)});
    int lastPan[2] = {-1, -1};
    for (size_t i = 0; i < notes.size(); ++i) {
        const ChartNote& n = notes[i];
        const int channel = n.hold ? kHoldChannel : kTapChannel;
        const uint8_t key = static_cast<uint8_t>(std::clamp(n.key, 0, 127));
        const uint8_t velocity = static_cast<uint8_t>(std::clamp(n.velocity, 1, 127));
        const int64_t on = toTick(n.time);
        int64_t off = n.hold ? toTick(n.time + n.duration) : toTick(n.time + kTapNoteSeconds);
        // A tap ends before its key sounds again on its channel.
        for (size_t j = i + 1; j < notes.size() && !n.hold && notes[j].time < n.time + kTapNoteSeconds; ++j) {
            if (!notes[j].hold && notes[j].key == n.key) {
                off = std::min(off, toTick(notes[j].time));
                break;
            }
        }
        off = std::max(off, on + 1);
        const int pan = std::clamp(n.pan, 0, 127);
        if (pan != lastPan[channel]) {
            events.push_back(
                {on, 1 + 2 * i, {static_cast<uint8_t>(0xB0 | channel), 10, static_cast<uint8_t>(pan)}});
            lastPan[channel] = pan;
        }
        events.push_back({on, 2 + 2 * i, {static_cast<uint8_t>(0x90 | channel), key, velocity}});
        events.push_back({off, 0, {static_cast<uint8_t>(0x80 | channel), key, 0}});
    }
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) {
        return std::tie(a.tick, a.order) < std::tie(b.tick, b.order);
    });

    const uint32_t microseconds =
        static_cast<uint32_t>(std::clamp(std::llround(60e6 / bpm), 1LL, 0xFFFFFFLL));
    std::vector<TimedEvent> tempo;
    tempo.push_back({0, 0, trackName(name)});
    tempo.push_back({0, 0, {0xFF, 0x51, 0x03}});
    putBigEndian(tempo.back().bytes, microseconds, 3);
    tempo.push_back({0, 0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}}); // 4/4

    std::vector<uint8_t> out = {'M', 'T', 'h', 'd'};
    putBigEndian(out, 6, 4);
    putBigEndian(out, 1, 2); // format 1
    putBigEndian(out, 2, 2); // two tracks
    putBigEndian(out, kChartTicksPerQuarter, 2);
    putTrack(out, tempo);
    putTrack(out, events);
    return out;
}

bool writeChartMidi(const std::string& path, const std::vector<ChartNote>& notes, double bpm,
                    const std::string& name, std::string& error) {
    if (!(bpm > 0.0) || !std::isfinite(bpm)) {
        error = "the tempo must be a positive number";
        return false;
    }
    const std::vector<uint8_t> bytes = encodeChartMidi(notes, bpm, name);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    if (!file) {
        error = std::string("cannot write ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
