// Feeds arbitrary bytes to the server's intake of an uploaded replay at each of its layers: as the
// "replay" text itself (the base64 reader), as the zlib stream inside valid base64 (the bounded
// inflater), and as the replay file (its checksum sealed) inside a valid zlib stream (the replay
// reader), then checks what the server relies on: a refusal says why; base64 reads back what it
// wrote; whatever is accepted is a replay within its limits, whose plain facts hold against an
// entry made from it.
#include "game/game_rules.hpp"
#include "replay/replay_upload.hpp"
#include "replay/sha256.hpp"
#include "server/replay_facts.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void takeIn(const std::string& text) {
    Replay replay;
    std::string compressed;
    std::string error;
    if (!unpackReplay(text, replay, compressed, error)) {
        if (error.empty() || !replay.events.empty()) {
            __builtin_trap();
        }
        return;
    }
    if (!checkReplay(replay, error) || compressed.empty()) {
        __builtin_trap();
    }
    StoredEntry stored;
    stored.level = replay.levelName;
    stored.score = replay.result.score;
    const std::int32_t layers = std::min(replay.result.totalLayers, kMaxLayers);
    stored.entry = {{"highestCombo", replay.result.highestCombo},
                    {"highestLayer", std::to_string(std::min(replay.result.highestLayer, layers)) + "/" +
                                         std::to_string(layers)}};
    const bool matches = replayMatchesEntry(replay, stored, error);
    const bool fastClock = replay.endedAtMs - replay.startedAtMs <
                           (replay.songEndUs - replay.songStartUs) / 1000 - kReplayClockSlackMs;
    // Neither the bot's rounds nor practice rounds are results.
    const bool notAResult = replay.bot || replay.practiceSpeedPercent != 0;
    if (!matches && !notAResult && !fastClock) {
        __builtin_trap();
    }
    if (matches && notAResult) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    takeIn(bytes);
    const std::string text = encodeBase64(bytes);
    std::string back;
    std::string error;
    if (!decodeBase64(text, back, error) || back != bytes) {
        __builtin_trap();
    }
    takeIn(text);
    // With the file's trailing checksum sealed again, so that mutations reach the reader's checks
    // behind it and the facts after them.
    std::string sealed = bytes;
    Sha256Digest digest{};
    if (size >= digest.size() &&
        sha256Of({std::string_view(sealed).substr(0, size - digest.size())}, digest)) {
        sealed.replace(size - digest.size(), digest.size(), reinterpret_cast<const char*>(digest.data()),
                       digest.size());
    }
    std::string compressed;
    if (deflateBytes(sealed, compressed, error)) {
        takeIn(encodeBase64(compressed));
    }
    return 0;
}
