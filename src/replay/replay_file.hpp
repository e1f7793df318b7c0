#pragma once
// A round as a replay: what was played (the level and its hash, the game version, the settings
// that shape judging), when, by whom (the player or the bot), what it scored, and every input with
// the pauses, so that the round can be watched again and checked. The file format is
// docs/replay-format.md; this module writes and reads it. Plain code on the base layer and OpenSSL:
// no SDL, GL or GUI, so that command-line tools and the leaderboard server link it too. Pure
// functions and file calls on the caller's own records: any thread.
#include "game/round_event.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The format version this code writes (see the version rule in docs/replay-format.md). It reads
// this one and versions 1 and 2, which know no practice rounds (read, they are rounds in earnest
// with every pause at full speed); version 1's key events name keycodes of the US grid: read, they
// are mapped to the grid's cells (cellForUsKeycode), as later versions record them.
constexpr std::uint16_t kReplayFormatVersion = 3;
constexpr std::uint16_t kOldestReplayFormatVersion = 1;

// Limits. A file past any of them is refused whole; the writer refuses what the reader would.
constexpr std::uint64_t kMaxReplayFileBytes = std::uint64_t(16) << 20; // 16 MiB
constexpr std::uint32_t kMaxReplayEvents = 500000;                     // 30 minutes at 270 inputs a second
constexpr std::uint32_t kMaxReplayPauses = 10000;
constexpr std::uint32_t kMaxReplayLoopJumps = 10000; // a 2-second loop for five and a half hours
// A practice round's speeds, in percent of the music's own speed: 50 to 100 in steps of 5.
constexpr std::int32_t kMinPracticeSpeedPercent = 50;
constexpr std::int32_t kMaxPracticeSpeedPercent = 100;
constexpr std::int32_t kPracticeSpeedStepPercent = 5;

// True for a practice speed a replay may hold (and the game offers): 50, 55, ... 100.
bool isPracticeSpeedPercent(std::int32_t percent);
constexpr std::size_t kMaxReplayLevelNameBytes = 256;
constexpr std::size_t kMaxReplayVersionBytes = 32;
constexpr std::int32_t kMaxReplayAudioOffsetMs = 10000; // either way
constexpr std::uint32_t kMaxReplayDrawableSide = 32768; // pixels
constexpr std::int32_t kMaxReplayLayers = 64;
// Song times (events and pauses) lie within these bounds, in microseconds: an hour before the
// song's start to a week after it.
constexpr std::int64_t kMinReplaySongTimeUs = -3600LL * 1000000;
constexpr std::int64_t kMaxReplaySongTimeUs = 7LL * 24 * 3600 * 1000000;

// How the player aimed: at the circles with a pointer (mouse, finger), or with keyboard gameplay
// (each circle's letter key).
enum class ReplayInputMode : std::uint8_t { Pointer = 0, Keyboard = 1 };

// What the round scored, as the round ended.
struct ReplayResult {
    std::int32_t score = 0;
    std::int32_t highestCombo = 0;
    std::int32_t highestLayer = 1; // the most layers unlocked at once
    std::int32_t totalLayers = 1;  // the layers the level has (1..kMaxReplayLayers)
    std::uint32_t hits = 0;
    std::uint32_t misses = 0;
};

struct Replay {
    std::string levelName;   // the level's name as the menu lists it: UTF-8, 1..256 bytes
    std::string levelHash;   // levelHash() of the level played: 64 lowercase hex digits
    std::string gameVersion; // the game that played it (kGameVersion): printable ASCII, 1..32 bytes
    ReplayInputMode inputMode = ReplayInputMode::Pointer;
    std::int32_t audioOffsetMs = 0;  // the player's audio offset (positive: notes later)
    std::uint32_t drawableWidth = 0; // pixels, the drawable size the round was played at
    std::uint32_t drawableHeight = 0;
    std::int64_t songStartUs = 0; // the song time the round began at (microseconds)
    std::int64_t songEndUs = 0;   // and the song time it ended at: the round ran from one to the other
    std::int64_t startedAtMs = 0; // wall clock, Unix time in milliseconds
    std::int64_t endedAtMs = 0;   // wall clock, at or after startedAtMs
    bool bot = false;             // the autoplay bot played
    // A practice round's speed at its start (isPracticeSpeedPercent), or 0 for a round in earnest.
    // A practice round is never a result: no leaderboard takes it.
    std::int32_t practiceSpeedPercent = 0;
    ReplayResult result;
    std::vector<RoundEvent> events;  // in song-time order, the song time going back only at a pause
                                     // or a loop jump
    std::vector<RoundPause> pauses;  // in the order they happened; each with the speed play went on at
    std::vector<LoopJump> loopJumps; // a practice round's, in order
};

// True when `replay` keeps every rule and limit above (and that events and pauses are in order:
// each event lies in the stretch of song between two pauses, or a pause and a loop jump, no
// earlier than the event before it in that stretch). Otherwise false with the first fault in
// `error`. Does not log.
bool checkReplay(const Replay& replay, std::string& error);

// The file's bytes for `replay`, in the current format. False, with checkReplay's reason, for a
// replay the reader would refuse. Does not log.
bool encodeReplay(const Replay& replay, std::string& bytes, std::string& error);

// Reads a replay from a file's bytes (of either version read). False, with a clear reason in
// `error` and `replay` left empty, for bytes that are not a replay of a version read or break a
// rule or limit: a
// wrong magic, another version, a truncated file, bytes after its end, a failed checksum, events
// out of order, a count or a string past its limit. Never allocates more than `bytes` warrants.
// Does not log (a server answers its client; the file reader below logs).
bool decodeReplay(std::string_view bytes, Replay& replay, std::string& error);

// Writes `replay` to `path`, replacing any file there atomically (a crash leaves the old file or
// the new one). False, with the reason in `error` and logged with logError, when the replay is
// refused (checkReplay) or the file could not be written.
bool writeReplayFile(const std::string& path, const Replay& replay, std::string& error);

// Reads the replay file at `path`. Refuses what is not a regular file (without waiting on a named
// pipe), a file larger than kMaxReplayFileBytes by its size, before reading any of it, and
// everything decodeReplay refuses. False, with the reason (naming
// the path) in `error` and logged with logError.
bool readReplayFile(const std::string& path, Replay& replay, std::string& error);

// What the start of a replay file says of its round, enough to sort and prune stored replays
// and to match them to leaderboard entries without reading their events.
struct ReplaySummary {
    std::int64_t startedAtMs = 0;
    std::int64_t endedAtMs = 0;
    std::int32_t score = 0;
    std::int32_t highestCombo = 0;
    bool bot = false;
    bool practice = false;      // a practice round (never a result)
    std::int64_t songEndUs = 0; // the song time the round ended at, microseconds
};

// Reads the summary from the first bytes of the file at `path`. False, with the reason in `error`
// (not logged), when the file cannot be read or does not start as a replay of a format version
// read; the rest of the file is not checked.
bool readReplaySummary(const std::string& path, ReplaySummary& summary, std::string& error);
