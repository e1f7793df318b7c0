#pragma once
// Small builders for Standard MIDI File bytes in tests, and a helper that reads them.
#include "audio/midi/midi_file.hpp"

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace midibytes {

using Bytes = std::vector<uint8_t>;

inline Bytes vlq(uint32_t value) {
    Bytes groups{static_cast<uint8_t>(value & 0x7F)};
    for (value >>= 7; value != 0; value >>= 7) {
        groups.insert(groups.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
    }
    return groups;
}

inline void append(Bytes &to, const Bytes &from) {
    to.insert(to.end(), from.begin(), from.end());
}

inline Bytes be(uint32_t value, int count) {
    Bytes out;
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
    }
    return out;
}

inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
    Bytes out{'M', 'T', 'h', 'd'};
    append(out, be(6, 4));
    append(out, be(format, 2));
    append(out, be(tracks, 2));
    append(out, be(division, 2));
    return out;
}

struct Ev {
    uint32_t delta;
    Bytes msg;
};

// A track chunk of the given events with its true length; `endOfTrack` appends 0 FF 2F 00.
inline Bytes track(std::initializer_list<Ev> events, bool endOfTrack = true) {
    Bytes body;
    for (const Ev &e : events) {
        append(body, vlq(e.delta));
        append(body, e.msg);
    }
    if (endOfTrack) {
        append(body, {0x00, 0xFF, 0x2F, 0x00});
    }
    Bytes out{'M', 'T', 'r', 'k'};
    append(out, be(static_cast<uint32_t>(body.size()), 4));
    append(out, body);
    return out;
}

inline Bytes tempoUs(uint32_t microseconds) {
    return {0xFF,
            0x51,
            0x03,
            static_cast<uint8_t>(microseconds >> 16),
            static_cast<uint8_t>(microseconds >> 8),
            static_cast<uint8_t>(microseconds)};
}
inline Bytes noteOn(int ch, int key, int vel) {
    return {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(key), static_cast<uint8_t>(vel)};
}
inline Bytes noteOff(int ch, int key, int vel = 64) {
    return {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(key), static_cast<uint8_t>(vel)};
}
inline Bytes panChange(int ch, int value) {
    return {static_cast<uint8_t>(0xB0 | ch), 10, static_cast<uint8_t>(value)};
}

template <typename... Parts> Bytes file(const Parts &...parts) {
    Bytes out;
    (append(out, parts), ...);
    return out;
}

inline std::string text(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Reads `data` into `midi`; answers the reader's result.
inline bool readInto(MidiFile &midi, const std::string &data) {
    std::istringstream in(data);
    return midi.read(in);
}
inline bool readInto(MidiFile &midi, const Bytes &data) {
    return readInto(midi, text(data));
}

} // namespace midibytes
