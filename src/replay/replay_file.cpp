#include "replay/replay_file.hpp"

#include "base/file_io.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"
#include "game/key_grid.hpp"
#include "replay/sha256.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[4] = {'V', 'B', 'R', 'P'};
// Magic, version, then the summary: start, end, score, ... through the song end at byte 68
// (docs/replay-format.md).
constexpr std::size_t kSummaryEnd = 76;
constexpr std::size_t kEventBytes = 8 + 1 + 1 + 8 + 4 + 4 + 4;
constexpr std::size_t kPauseBytes = 8 + 8 + 1; // version 3; 16 bytes without the speed before
constexpr std::size_t kOldPauseBytes = 8 + 8;
constexpr std::size_t kLoopJumpBytes = 8 + 8 + 8 + 4 + 4;
// The flags byte (the bot's before version 3).
constexpr unsigned kBotFlag = 1;
constexpr unsigned kPracticeFlag = 2;
constexpr std::size_t kChecksumBytes = 32;

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

double seconds(std::int64_t us) { return static_cast<double>(us) / 1e6; }

bool isLowercaseHex(const std::string& text, std::size_t length) {
    if (text.size() != length) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// The value of a lowercase hex digit (checked by isLowercaseHex).
int hexDigit(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

bool isPrintableAscii(const std::string& text) {
    for (const char c : text) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

bool songTimeInRange(std::int64_t us) { return us >= kMinReplaySongTimeUs && us <= kMaxReplaySongTimeUs; }

bool checkEvents(const Replay& replay, std::string& error) {
    for (std::size_t i = 0; i < replay.events.size(); ++i) {
        const RoundEvent& event = replay.events[i];
        if (!songTimeInRange(event.songTimeUs)) {
            error = formatted("event %zu is at song time %" PRId64 " us, outside the range a replay allows",
                              i, event.songTimeUs);
            return false;
        }
        if (static_cast<unsigned>(event.kind) > 2 || static_cast<unsigned>(event.device) > 3) {
            error = formatted("event %zu has an unknown kind (%u) or device (%u)", i,
                              static_cast<unsigned>(event.kind), static_cast<unsigned>(event.device));
            return false;
        }
        if (!std::isfinite(event.x) || !std::isfinite(event.y)) {
            error = formatted("event %zu has a position that is not a finite number", i);
            return false;
        }
        const auto side = [](float v) {
            return v >= 1.0f && v <= kMaxReplayDrawableSide && v == std::floor(v);
        };
        if (event.kind == InputKind::Resize && !(side(event.x) && side(event.y))) {
            error = formatted(
                "event %zu resizes the drawable area to %gx%g; each side must be a whole number "
                "of pixels from 1 to %u",
                i, static_cast<double>(event.x), static_cast<double>(event.y), kMaxReplayDrawableSide);
            return false;
        }
    }
    return true;
}

// One pass of the song: between two loop jumps (or the round's start or end), the events
// [firstEvent, endEvent) and the pauses [firstPause, endPause).
struct SongPass {
    std::size_t firstEvent = 0, endEvent = 0;
    std::size_t firstPause = 0, endPause = 0;
};

bool checkPauses(const Replay& replay, const SongPass& pass, std::string& error) {
    for (std::size_t i = pass.firstPause; i < pass.endPause; ++i) {
        const RoundPause& pause = replay.pauses[i];
        if (!songTimeInRange(pause.atUs) || !songTimeInRange(pause.resumeUs)) {
            error = formatted("pause %zu lies outside the song times a replay allows", i);
            return false;
        }
        const bool practice = replay.practiceSpeedPercent != 0;
        if (practice ? !isPracticeSpeedPercent(pause.speedPercent) : pause.speedPercent != 100) {
            error = formatted("pause %zu goes on at %" PRId32 " %% speed, which %s", i, pause.speedPercent,
                              practice ? "is no practice speed (50 to 100 in steps of 5)"
                                       : "only a practice round may (the others play at 100 %)");
            return false;
        }
        if (pause.resumeUs > pause.atUs) {
            error = formatted("pause %zu resumes at %.6f s, after the %.6f s it stopped at", i,
                              seconds(pause.resumeUs), seconds(pause.atUs));
            return false;
        }
        // Play goes on forward from where it resumed until the next pause stops it.
        if (i > pass.firstPause && pause.atUs < replay.pauses[i - 1].resumeUs) {
            error = formatted("pause %zu stops at %.6f s, before pause %zu resumed play (%.6f s)", i,
                              seconds(pause.atUs), i - 1, seconds(replay.pauses[i - 1].resumeUs));
            return false;
        }
    }
    return true;
}

// Events run forward in stretches of song: the first up to the first pause's stop, each next one
// from a pause's resumption to the following pause's stop, the last without end. A rewinding
// pause lets the song time go back, so the order is checked per stretch. Keeping each event in
// the current stretch while it fits there is never worse than moving on (moving on only sets the
// floor to the resumption, which is not below what staying allows), so one pass decides.
bool checkEventOrder(const Replay& replay, const SongPass& pass, std::string& error) {
    const std::vector<RoundPause>& pauses = replay.pauses;
    std::size_t stretch = pass.firstPause;
    std::int64_t floor = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = pass.firstEvent; i < pass.endEvent; ++i) {
        const std::int64_t t = replay.events[i].songTimeUs;
        while (t < floor || (stretch < pass.endPause && t > pauses[stretch].atUs)) {
            if (stretch == pass.endPause) {
                error = formatted("event %zu at %.6f s comes before the event before it (%.6f s) with no "
                                  "pause between them that rewinds the song: events out of order",
                                  i, seconds(t), seconds(replay.events[i - 1].songTimeUs));
                return false;
            }
            floor = pauses[stretch].resumeUs;
            ++stretch;
        }
        floor = t;
    }
    return true;
}

// The loop jumps, and then the pauses and events of each pass of the song they cut the round into.
// A jump lies after the events and pauses before it: it goes back to no later than the passage it
// plays again, which starts before the jump's end.
bool checkPasses(const Replay& replay, std::string& error) {
    const std::vector<LoopJump>& jumps = replay.loopJumps;
    if (!jumps.empty() && replay.practiceSpeedPercent == 0) {
        error = "a round that is not a practice round has loop jumps";
        return false;
    }
    SongPass pass;
    for (std::size_t j = 0; j <= jumps.size(); ++j) {
        pass.endEvent = j < jumps.size() ? jumps[j].eventIndex : replay.events.size();
        pass.endPause = j < jumps.size() ? jumps[j].pauseIndex : replay.pauses.size();
        if (j < jumps.size()) {
            const LoopJump& jump = jumps[j];
            if (!songTimeInRange(jump.atUs) || !songTimeInRange(jump.toUs) ||
                !songTimeInRange(jump.liveFromUs)) {
                error = formatted("loop jump %zu lies outside the song times a replay allows", j);
                return false;
            }
            if (!(jump.toUs <= jump.liveFromUs && jump.liveFromUs < jump.atUs)) {
                error = formatted("loop jump %zu goes from %.6f s back to %.6f s for a passage from %.6f s: "
                                  "it must go back to the passage's start or before, which lies before "
                                  "the jump",
                                  j, seconds(jump.atUs), seconds(jump.toUs), seconds(jump.liveFromUs));
                return false;
            }
            if (pass.endEvent < pass.firstEvent || pass.endEvent > replay.events.size() ||
                pass.endPause < pass.firstPause || pass.endPause > replay.pauses.size()) {
                error = formatted("loop jump %zu comes after %" PRIu32 " events and %" PRIu32
                                  " pauses, out of order with the round's (%zu events, %zu pauses)",
                                  j, jump.eventIndex, jump.pauseIndex, replay.events.size(),
                                  replay.pauses.size());
                return false;
            }
        }
        if (!checkPauses(replay, pass, error) || !checkEventOrder(replay, pass, error)) {
            return false;
        }
        pass.firstEvent = pass.endEvent;
        pass.firstPause = pass.endPause;
    }
    return true;
}

void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void putFloat(std::string& out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put(out, bits, 4);
}

// Reads little-endian fields from the front of the bytes; the first field that runs past the end
// records where and what, and every read after it yields zeros.
struct ByteReader {
    std::string_view bytes;
    std::size_t at = 0;
    std::string error;

    bool need(std::size_t count, const char* field) {
        if (!error.empty()) {
            return false;
        }
        if (bytes.size() - at < count) {
            error = formatted("truncated: the file ends at byte %zu, inside %s", bytes.size(), field);
            return false;
        }
        return true;
    }
    // A field of `count` bytes, 1 to 8: the value has 64 bits.
    std::uint64_t take(int count, const char* field) {
        if (count > 8) {
            error = formatted("reader fault: %d bytes taken as one value (%s)", count, field);
            return 0;
        }
        if (!need(static_cast<std::size_t>(count), field)) {
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) {
            value |= std::uint64_t(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        }
        at += static_cast<std::size_t>(count);
        return value;
    }
    void skip(std::size_t count, const char* field) {
        if (need(count, field)) {
            at += count;
        }
    }
    std::int32_t i32(const char* field) { return static_cast<std::int32_t>(take(4, field)); }
    std::int64_t i64(const char* field) { return static_cast<std::int64_t>(take(8, field)); }
    float f32(const char* field) {
        const std::uint32_t bits = static_cast<std::uint32_t>(take(4, field));
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string text(std::size_t length, const char* field) {
        if (!need(length, field)) {
            return std::string();
        }
        std::string value(bytes.substr(at, length));
        at += length;
        return value;
    }
    // A count of records of `recordBytes` each: refused past `limit`, or when the bytes left
    // cannot hold that many, before anything is reserved for them.
    bool count(std::uint32_t& value, std::uint32_t limit, std::size_t recordBytes, const char* what) {
        value = static_cast<std::uint32_t>(take(4, what));
        if (!error.empty()) {
            return false;
        }
        if (value > limit) {
            error = formatted("it holds %" PRIu32 " %s, more than the %" PRIu32 " a replay may have", value,
                              what, limit);
            return false;
        }
        if (std::uint64_t(value) * recordBytes > bytes.size() - at) {
            error = formatted("truncated: it holds %" PRIu32 " %s but only %zu bytes are left", value, what,
                              bytes.size() - at);
            return false;
        }
        return true;
    }
};

bool checkMagicAndVersion(ByteReader& in, std::string& error, std::uint16_t* versionRead = nullptr) {
    if (in.bytes.size() < sizeof kMagic || std::memcmp(in.bytes.data(), kMagic, sizeof kMagic) != 0) {
        error = "not a Vibrelle replay (it does not start with \"VBRP\")";
        return false;
    }
    in.at = sizeof kMagic;
    const std::uint16_t version = static_cast<std::uint16_t>(in.take(2, "the format version"));
    if (!in.error.empty()) {
        error = in.error;
        return false;
    }
    if (version < kOldestReplayFormatVersion || version > kReplayFormatVersion) {
        error =
            formatted("replay format version %u, which this game does not read (it reads versions %u to %u)",
                      static_cast<unsigned>(version), static_cast<unsigned>(kOldestReplayFormatVersion),
                      static_cast<unsigned>(kReplayFormatVersion));
        return false;
    }
    if (versionRead != nullptr) {
        *versionRead = version;
    }
    return true;
}

} // namespace

bool isPracticeSpeedPercent(std::int32_t percent) {
    return percent >= kMinPracticeSpeedPercent && percent <= kMaxPracticeSpeedPercent &&
           percent % kPracticeSpeedStepPercent == 0;
}

bool checkReplay(const Replay& replay, std::string& error) {
    error.clear();
    if (replay.levelName.empty() || replay.levelName.size() > kMaxReplayLevelNameBytes ||
        !isValidUtf8(replay.levelName)) {
        error = formatted("the level name must be UTF-8 of 1 to %zu bytes (it has %zu)",
                          kMaxReplayLevelNameBytes, replay.levelName.size());
    } else if (!isLowercaseHex(replay.levelHash, 64)) {
        error = "the level hash must be 64 lowercase hex digits";
    } else if (replay.gameVersion.empty() || replay.gameVersion.size() > kMaxReplayVersionBytes ||
               !isPrintableAscii(replay.gameVersion)) {
        error =
            formatted("the game version must be printable ASCII of 1 to %zu bytes", kMaxReplayVersionBytes);
    } else if (static_cast<unsigned>(replay.inputMode) > 1) {
        error = formatted("unknown input mode %u", static_cast<unsigned>(replay.inputMode));
    } else if (replay.audioOffsetMs < -kMaxReplayAudioOffsetMs ||
               replay.audioOffsetMs > kMaxReplayAudioOffsetMs) {
        error = formatted("audio offset %" PRId32 " ms is outside -%" PRId32 "..%" PRId32 " ms",
                          replay.audioOffsetMs, kMaxReplayAudioOffsetMs, kMaxReplayAudioOffsetMs);
    } else if (replay.drawableWidth == 0 || replay.drawableHeight == 0 ||
               replay.drawableWidth > kMaxReplayDrawableSide ||
               replay.drawableHeight > kMaxReplayDrawableSide) {
        error = formatted("drawable size %" PRIu32 "x%" PRIu32 " is outside 1..%" PRIu32 " pixels a side",
                          replay.drawableWidth, replay.drawableHeight, kMaxReplayDrawableSide);
    } else if (replay.songStartUs < kMinReplaySongTimeUs || replay.songEndUs > kMaxReplaySongTimeUs ||
               replay.songEndUs < replay.songStartUs) {
        error = formatted("the round's song times are out of range or order (start %" PRId64
                          " us, end %" PRId64 " us)",
                          replay.songStartUs, replay.songEndUs);
    } else if (replay.startedAtMs < 0 || replay.endedAtMs < replay.startedAtMs) {
        error = formatted("the round's wall-clock times are not in order (start %" PRId64 " ms, end %" PRId64
                          " ms)",
                          replay.startedAtMs, replay.endedAtMs);
    } else if (replay.result.score < 0 || replay.result.highestCombo < 0) {
        error = "the score and the highest combo cannot be negative";
    } else if (replay.result.totalLayers < 1 || replay.result.totalLayers > kMaxReplayLayers ||
               replay.result.highestLayer < 0 || replay.result.highestLayer > replay.result.totalLayers) {
        error = formatted("highest layer %" PRId32 " of %" PRId32
                          " layers is outside 0..layers (layers 1..%" PRId32 ")",
                          replay.result.highestLayer, replay.result.totalLayers, kMaxReplayLayers);
    } else if (replay.events.size() > kMaxReplayEvents || replay.pauses.size() > kMaxReplayPauses ||
               replay.loopJumps.size() > kMaxReplayLoopJumps) {
        error =
            formatted("%zu events, %zu pauses and %zu loop jumps are more than a replay may have (%" PRIu32
                      ", %" PRIu32 " and %" PRIu32 ")",
                      replay.events.size(), replay.pauses.size(), replay.loopJumps.size(), kMaxReplayEvents,
                      kMaxReplayPauses, kMaxReplayLoopJumps);
    } else if (replay.practiceSpeedPercent != 0 && !isPracticeSpeedPercent(replay.practiceSpeedPercent)) {
        error = formatted("practice speed %" PRId32 " %% is none of 50 to 100 in steps of 5",
                          replay.practiceSpeedPercent);
    } else {
        return checkEvents(replay, error) && checkPasses(replay, error);
    }
    return false;
}

bool encodeReplay(const Replay& replay, std::string& bytes, std::string& error) {
    bytes.clear();
    if (!checkReplay(replay, error)) {
        return false;
    }
    std::string out(kMagic, sizeof kMagic);
    put(out, kReplayFormatVersion, 2);
    put(out, static_cast<std::uint64_t>(replay.startedAtMs), 8);
    put(out, static_cast<std::uint64_t>(replay.endedAtMs), 8);
    put(out, static_cast<std::uint32_t>(replay.result.score), 4);
    put(out, static_cast<std::uint32_t>(replay.result.highestCombo), 4);
    put(out, static_cast<std::uint32_t>(replay.result.highestLayer), 4);
    put(out, static_cast<std::uint32_t>(replay.result.totalLayers), 4);
    put(out, replay.result.hits, 4);
    put(out, replay.result.misses, 4);
    put(out, static_cast<std::uint8_t>(replay.inputMode), 1);
    put(out, (replay.bot ? kBotFlag : 0) | (replay.practiceSpeedPercent != 0 ? kPracticeFlag : 0), 1);
    put(out, static_cast<std::uint32_t>(replay.audioOffsetMs), 4);
    put(out, replay.drawableWidth, 4);
    put(out, replay.drawableHeight, 4);
    put(out, static_cast<std::uint64_t>(replay.songStartUs), 8);
    put(out, static_cast<std::uint64_t>(replay.songEndUs), 8);
    for (std::size_t i = 0; i < 64; i += 2) {
        out += static_cast<char>(hexDigit(replay.levelHash[i]) << 4 | hexDigit(replay.levelHash[i + 1]));
    }
    put(out, replay.gameVersion.size(), 1);
    out += replay.gameVersion;
    put(out, replay.levelName.size(), 2);
    out += replay.levelName;
    put(out, static_cast<std::uint8_t>(replay.practiceSpeedPercent), 1);
    out.reserve(out.size() + 12 + replay.events.size() * kEventBytes + replay.pauses.size() * kPauseBytes +
                replay.loopJumps.size() * kLoopJumpBytes + kChecksumBytes);
    put(out, replay.events.size(), 4);
    for (const RoundEvent& event : replay.events) {
        put(out, static_cast<std::uint64_t>(event.songTimeUs), 8);
        put(out, static_cast<std::uint8_t>(event.kind), 1);
        put(out, static_cast<std::uint8_t>(event.device), 1);
        put(out, event.id, 8);
        put(out, event.key, 4);
        putFloat(out, event.x);
        putFloat(out, event.y);
    }
    put(out, replay.pauses.size(), 4);
    for (const RoundPause& pause : replay.pauses) {
        put(out, static_cast<std::uint64_t>(pause.atUs), 8);
        put(out, static_cast<std::uint64_t>(pause.resumeUs), 8);
        put(out, static_cast<std::uint8_t>(pause.speedPercent), 1);
    }
    put(out, replay.loopJumps.size(), 4);
    for (const LoopJump& jump : replay.loopJumps) {
        put(out, static_cast<std::uint64_t>(jump.atUs), 8);
        put(out, static_cast<std::uint64_t>(jump.toUs), 8);
        put(out, static_cast<std::uint64_t>(jump.liveFromUs), 8);
        put(out, jump.eventIndex, 4);
        put(out, jump.pauseIndex, 4);
    }
    Sha256Digest checksum{};
    if (!sha256Of({out}, checksum)) {
        error = "could not compute the checksum (OpenSSL failed)";
        return false;
    }
    out.append(reinterpret_cast<const char*>(checksum.data()), checksum.size());
    bytes = std::move(out);
    return true;
}

bool decodeReplay(std::string_view bytes, Replay& replay, std::string& error) {
    replay = Replay{};
    error.clear();
    if (bytes.size() > kMaxReplayFileBytes) {
        error = formatted("%zu bytes, more than the %" PRIu64 " a replay may have", bytes.size(),
                          kMaxReplayFileBytes);
        return false;
    }
    ByteReader in{bytes, 0, {}};
    std::uint16_t version = 0;
    if (!checkMagicAndVersion(in, error, &version)) {
        return false;
    }
    Replay read;
    read.startedAtMs = in.i64("the start time");
    read.endedAtMs = in.i64("the end time");
    read.result.score = in.i32("the score");
    read.result.highestCombo = in.i32("the highest combo");
    read.result.highestLayer = in.i32("the highest layer");
    read.result.totalLayers = in.i32("the layer count");
    read.result.hits = static_cast<std::uint32_t>(in.take(4, "the hits"));
    read.result.misses = static_cast<std::uint32_t>(in.take(4, "the misses"));
    read.inputMode = static_cast<ReplayInputMode>(in.take(1, "the input mode"));
    const std::uint64_t flags = in.take(1, "the flags");
    read.audioOffsetMs = in.i32("the audio offset");
    read.drawableWidth = static_cast<std::uint32_t>(in.take(4, "the drawable width"));
    read.drawableHeight = static_cast<std::uint32_t>(in.take(4, "the drawable height"));
    read.songStartUs = in.i64("the song start");
    read.songEndUs = in.i64("the song end");
    const std::string hash = in.text(32, "the level hash");
    read.levelHash = lowercaseHex(reinterpret_cast<const unsigned char*>(hash.data()), hash.size());
    read.gameVersion = in.text(static_cast<std::size_t>(in.take(1, "the game version")), "the game version");
    read.levelName = in.text(static_cast<std::size_t>(in.take(2, "the level name")), "the level name");
    const std::uint64_t knownFlags = version >= 3 ? (kBotFlag | kPracticeFlag) : kBotFlag;
    if (in.error.empty() && (flags & ~knownFlags) != 0) {
        error = formatted("the flags byte is %u, with bits this version does not know (it knows %u)",
                          static_cast<unsigned>(flags), static_cast<unsigned>(knownFlags));
        return false;
    }
    if (version >= 3) {
        read.practiceSpeedPercent = static_cast<std::int32_t>(in.take(1, "the practice speed"));
        if (in.error.empty() && ((flags & kPracticeFlag) != 0) != (read.practiceSpeedPercent != 0)) {
            error = formatted("the practice flag and the practice speed (%" PRId32 " %%) disagree",
                              read.practiceSpeedPercent);
            return false;
        }
    }
    std::uint32_t events = 0;
    if (in.count(events, kMaxReplayEvents, kEventBytes, "events")) {
        read.events.resize(events);
        for (RoundEvent& event : read.events) {
            event.songTimeUs = in.i64("an event");
            event.kind = static_cast<InputKind>(in.take(1, "an event"));
            event.device = static_cast<InputDevice>(in.take(1, "an event"));
            event.id = in.take(8, "an event");
            event.key = static_cast<std::uint32_t>(in.take(4, "an event"));
            event.x = in.f32("an event");
            event.y = in.f32("an event");
            // Version 1 recorded the key a US layout prints; the round now goes by the grid's cell.
            if (version == 1 && event.device == InputDevice::Key && event.kind != InputKind::Resize) {
                event.key = cellForUsKeycode(event.key);
            }
        }
    }
    std::uint32_t pauses = 0;
    const std::size_t pauseBytes = version >= 3 ? kPauseBytes : kOldPauseBytes;
    if (in.error.empty() && in.count(pauses, kMaxReplayPauses, pauseBytes, "pauses")) {
        read.pauses.resize(pauses);
        for (RoundPause& pause : read.pauses) {
            pause.atUs = in.i64("a pause");
            pause.resumeUs = in.i64("a pause");
            // Before version 3 every round played at the music's own speed.
            pause.speedPercent = version >= 3 ? static_cast<std::int32_t>(in.take(1, "a pause")) : 100;
        }
    }
    std::uint32_t jumps = 0;
    if (version >= 3 && in.error.empty() &&
        in.count(jumps, kMaxReplayLoopJumps, kLoopJumpBytes, "loop jumps")) {
        read.loopJumps.resize(jumps);
        for (LoopJump& jump : read.loopJumps) {
            jump.atUs = in.i64("a loop jump");
            jump.toUs = in.i64("a loop jump");
            jump.liveFromUs = in.i64("a loop jump");
            jump.eventIndex = static_cast<std::uint32_t>(in.take(4, "a loop jump"));
            jump.pauseIndex = static_cast<std::uint32_t>(in.take(4, "a loop jump"));
        }
    }
    const std::size_t checked = in.at;
    const std::string checksum = in.text(kChecksumBytes, "the checksum");
    if (!in.error.empty()) {
        error = in.error;
        return false;
    }
    if (in.at != bytes.size()) {
        error = formatted("%zu bytes follow the end of the replay", bytes.size() - in.at);
        return false;
    }
    Sha256Digest expected{};
    if (!sha256Of({bytes.substr(0, checked)}, expected)) {
        error = "could not compute the checksum (OpenSSL failed)";
        return false;
    }
    if (std::memcmp(expected.data(), checksum.data(), kChecksumBytes) != 0) {
        error = "the checksum does not match: the file is damaged";
        return false;
    }
    read.bot = (flags & kBotFlag) != 0;
    if (!checkReplay(read, error)) {
        return false;
    }
    replay = std::move(read);
    return true;
}

bool writeReplayFile(const std::string& path, const Replay& replay, std::string& error) {
    std::string bytes;
    if (!encodeReplay(replay, bytes, error) || !replaceFileAtomically(path, bytes, error)) {
        error = "Cannot write replay " + path + ": " + error;
        logError(stderr, "%s", error.c_str());
        return false;
    }
    return true;
}

namespace {

// Up to `limit` bytes of the file at `path` into `bytes`; refuses a file that is larger, by its
// size, before reading. `whole` demands the whole file (else the first `limit` bytes are enough).
bool readUpTo(const std::string& path, std::uint64_t limit, bool whole, std::string& bytes,
              std::string& error) {
    bytes.clear();
    // Non-blocking, so that a named pipe is refused below rather than waited on for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = fileErrorText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return false;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (whole && size > limit) {
        error = formatted("the file is %" PRIu64 " bytes, more than the %" PRIu64 " a replay may have", size,
                          limit);
        ::close(fd);
        return false;
    }
    // One byte past the limit shows a file that grew after fstat; the decoder refuses it by size.
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit) + (whole ? 1 : 0)));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = fileErrorText(errno);
            ::close(fd);
            bytes.clear();
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return true;
}

} // namespace

bool readReplayFile(const std::string& path, Replay& replay, std::string& error) {
    replay = Replay{};
    std::string bytes;
    if (!readUpTo(path, kMaxReplayFileBytes, true, bytes, error) || !decodeReplay(bytes, replay, error)) {
        error = "Cannot read replay " + path + ": " + error;
        logError(stderr, "%s", error.c_str());
        return false;
    }
    return true;
}

bool readReplaySummary(const std::string& path, ReplaySummary& summary, std::string& error) {
    std::string bytes;
    if (!readUpTo(path, kSummaryEnd, false, bytes, error)) {
        return false;
    }
    ByteReader in{bytes, 0, {}};
    if (!checkMagicAndVersion(in, error)) {
        return false;
    }
    ReplaySummary read;
    read.startedAtMs = in.i64("the start time");
    read.endedAtMs = in.i64("the end time");
    read.score = in.i32("the score");
    read.highestCombo = in.i32("the highest combo");
    in.skip(4 + 4 + 4 + 4 + 1, "the layers, hits, misses and input mode");
    const std::uint64_t flags = in.take(1, "the flags");
    read.bot = (flags & kBotFlag) != 0;
    read.practice = (flags & kPracticeFlag) != 0;
    in.skip(4 + 4 + 4 + 8, "the audio offset, drawable size and song start");
    read.songEndUs = in.i64("the song end");
    if (!in.error.empty()) {
        error = in.error;
        return false;
    }
    summary = read;
    return true;
}
