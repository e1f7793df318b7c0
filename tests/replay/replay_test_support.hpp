#pragma once
// A replay with every field set away from its default, resealing bytes after a test edits them, a
// played round's replay and a zlib stream that inflates past any bound.
#include "game/round_progress.hpp"
#include "replay/replay_file.hpp"
#include "replay/round_replay.hpp"
#include "replay/sha256.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

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
    r.events = {{1000000, InputKind::Press, InputDevice::Key, 0, 4, 0.0f, 0.0f},
                {1100000, InputKind::Release, InputDevice::Key, 0, 4, 0.0f, 0.0f},
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
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int32_t>> pauses;
    for (const RoundPause& p : r.pauses) {
        pauses.emplace_back(p.atUs, p.resumeUs, p.speedPercent);
    }
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t, std::uint32_t, std::uint32_t>> jumps;
    for (const LoopJump& j : r.loopJumps) {
        jumps.emplace_back(j.atUs, j.toUs, j.liveFromUs, j.eventIndex, j.pauseIndex);
    }
    return std::make_tuple(r.levelName, r.levelHash, r.gameVersion, int(r.inputMode), r.audioOffsetMs,
                           r.drawableWidth, r.drawableHeight, r.songStartUs, r.songEndUs, r.startedAtMs,
                           r.endedAtMs, r.bot, r.result.score, r.result.highestCombo, r.result.highestLayer,
                           r.result.totalLayers, r.result.hits, r.result.misses, events, pauses,
                           r.practiceSpeedPercent, jumps);
}

// The sample as a player's practice round at 75 %: the second pause goes on at 60 %, and after the
// last event the loop sends the song from 0.5 s back to -0.2 s for a passage from 0.1 s.
inline Replay practiceReplay() {
    Replay r = sampleReplay();
    r.bot = false;
    r.practiceSpeedPercent = 75;
    r.pauses[0].speedPercent = 75;
    r.pauses[1].speedPercent = 60;
    r.loopJumps = {{500000, -200000, 100000, 7, 2}};
    return r;
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

// The bytes version 2 wrote for `replay`, a round in earnest: no practice speed after the level
// name, pauses of 16 bytes (no speed), no loop jumps.
inline std::string versionTwoBytes(const Replay& replay) {
    std::string bytes, error;
    EXPECT_TRUE(encodeReplay(replay, bytes, error)) << error;
    const std::size_t speedAt = 109 + replay.gameVersion.size() + 2 + replay.levelName.size();
    std::size_t at = speedAt + 1 + 4 + 30 * replay.events.size() + 4;
    std::string old = bytes.substr(0, speedAt) + bytes.substr(speedAt + 1, at - speedAt - 1);
    for (std::size_t i = 0; i < replay.pauses.size(); ++i, at += 17) {
        old += bytes.substr(at, 16);
    }
    old += std::string(32, '\0'); // the checksum, below
    old[4] = 2;
    return resealed(old);
}

// Little-endian bytes of `value`, `count` of them, written over `bytes` at `at`.
inline void patch(std::string& bytes, std::size_t at, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A zlib stream that inflates to about `megabytes` MB of zeros and then just stops (no end, no
// checksum): a reader that inflates it whole spends a second per GB and then finds it truncated,
// one that stops at its bound says so at once. Each further megabyte costs about 1 KB.
inline std::string inflationBomb(std::size_t megabytes) {
    z_stream stream{};
    EXPECT_EQ(deflateInit(&stream, Z_BEST_COMPRESSION), Z_OK);
    std::string zeros(std::size_t(1) << 20, '\0');
    std::string out;
    std::string block; // one megabyte of zeros after zeros: the same bytes every time
    for (int i = 0; i < 2; ++i) {
        std::string piece(4096, '\0');
        std::string& into = i == 0 ? out : block;
        stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
        stream.avail_in = static_cast<uInt>(zeros.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(piece.data());
            stream.avail_out = static_cast<uInt>(piece.size());
            deflate(&stream, Z_SYNC_FLUSH);
            into.append(piece.data(), piece.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    for (std::size_t i = 1; i < megabytes; ++i) {
        out += block;
    }
    return out;
}

// A level of one stem with 16 circles, played once through in a 1920x1080 window.
inline RoundSetup sixteenCircles() {
    RoundSetup setup;
    setup.stems.push_back(RoundStem{"lead", {}});
    for (int i = 0; i < 16; ++i) {
        MidiNoteEvent note;
        note.time = 0.5 + 0.4 * i;
        note.note = 10 + 7 * i;
        note.velocity = 20 + 6 * i;
        note.isNoteOn = true;
        setup.stems[0].notes.push_back(note);
    }
    setup.looping = false;
    setup.width = 1920;
    setup.height = 1080;
    return setup;
}

// A round of `game` (made ready here) on sixteenCircles, the first `taps` circles tapped on time by
// finger (the window shrunk to 1280x720 at 3 s when `resize`), ended (its song clock too) and made
// a replay of `level` played from wall-clock `startedAtMs` for as long as its song ran.
inline Replay playedReplay(GameState& game, const std::string& level, std::int64_t startedAtMs, int taps = 16,
                           bool resize = false) {
    initGameState(game, 1);
    game.levelName = level;
    game.playing = true;
    beginRound(game, sixteenCircles(), 0.0);
    std::uint64_t finger = 1;
    for (double t = 0.0; t <= 7.5; t += 1.0 / 60.0) {
        if (resize && t >= 3.0 && game.setup.width == 1920) {
            resizeRound(game, 1280, 720);
        }
        std::vector<RoundEvent> events;
        for (const Circle& circle : game.circles) {
            if (circle.time <= t && circle.time > t - 1.0 / 60.0 &&
                finger <= static_cast<std::uint64_t>(taps)) {
                events.push_back({songTimeToMicros(circle.time), InputKind::Press, InputDevice::Finger,
                                  finger++, 0, circle.x, circle.y});
            }
        }
        queueRoundInputs(game, events, t);
        advanceRound(game, t, LayerRequests{});
    }
    const std::int64_t end = roundEndMicros(game.progress.applied);
    advanceRound(game, static_cast<double>(end) / 1e6, LayerRequests{});
    game.songTime = static_cast<double>(end) / 1e6;
    ReplayOrigin origin;
    origin.levelName = level;
    origin.levelHash = std::string(64, 'a');
    origin.startedAtMs = startedAtMs;
    origin.endedAtMs = startedAtMs + end / 1000 + 1;
    return replayOfRound(game, origin, end);
}
