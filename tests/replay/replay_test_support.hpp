#pragma once
// A replay with every field set away from its default, and resealing bytes after a test edits them.
#include "replay/replay_file.hpp"
#include "replay/sha256.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

// Keyboard play by the bot, with a rewinding pause: the events after it go back in song time.
inline Replay sampleReplay() {
    Replay r{"Neon Drive \u266A",
             "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
             "0.0.1",
             ReplayInputMode::Keyboard,
             -42,
             1920,
             1080,
             -250000,
             2600000,
             1796600000123,
             1796600065456,
             true};
    r.result = {12345, 67, 5, 8, 120, 7};
    r.events = {{1000000, InputKind::Press, InputDevice::Key, 0, 97, 0.0f, 0.0f},
                {1100000, InputKind::Release, InputDevice::Key, 0, 97, 0.0f, 0.0f},
                {2000000, InputKind::Press, InputDevice::Finger, 0x1234567890ABCDEFull, 0, 512.5f, 300.25f},
                {2000000, InputKind::Press, InputDevice::Mouse, 0, 0, 10.0f, 1079.0f},
                {1500000, InputKind::Press, InputDevice::Gamepad, 0, 3, 0.0f, 0.0f},
                {-500, InputKind::Release, InputDevice::Finger, 0x1234567890ABCDEFull, 0, -1.5f, 2e6f},
                {-400, InputKind::Resize, InputDevice::Key, 0, 0, 1280.0f, 720.0f}};
    r.pauses = {{2500000, 1400000}, {1600000, -1000}}; // the fifth event and the sixth come after each
    return r;
}

// Every field of a replay, for comparing two whole.
inline auto fieldsOf(const Replay& r) {
    std::vector<std::tuple<std::int64_t, int, int, std::uint64_t, std::uint32_t, float, float>> events;
    for (const RoundEvent& e : r.events) {
        events.emplace_back(e.songTimeUs, int(e.kind), int(e.device), e.id, e.key, e.x, e.y);
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> pauses;
    for (const RoundPause& p : r.pauses) {
        pauses.emplace_back(p.atUs, p.resumeUs);
    }
    return std::make_tuple(r.levelName, r.levelHash, r.gameVersion, int(r.inputMode), r.audioOffsetMs,
                           r.drawableWidth, r.drawableHeight, r.songStartUs, r.songEndUs, r.startedAtMs,
                           r.endedAtMs, r.bot, r.result.score, r.result.highestCombo, r.result.highestLayer,
                           r.result.totalLayers, r.result.hits, r.result.misses, events, pauses);
}

// `bytes` with its trailing checksum made to match again, so that a test's edit reaches the
// checks behind the checksum.
inline std::string resealed(std::string bytes) {
    Sha256Digest digest{};
    if (bytes.size() >= digest.size() &&
        sha256Of({std::string_view(bytes).substr(0, bytes.size() - 32)}, digest)) {
        bytes.replace(bytes.size() - 32, 32, reinterpret_cast<const char*>(digest.data()), digest.size());
    }
    return bytes;
}

// Little-endian bytes of `value`, `count` of them, written over `bytes` at `at`.
inline void patch(std::string& bytes, std::size_t at, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}
