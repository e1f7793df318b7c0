#include "server/replay_facts.hpp"

#include "game/game_rules.hpp"

#include <algorithm>

using nlohmann::json;

namespace {

// The entry's integer `key`, or -1 when it has none (readUpload has dropped malformed ones).
std::int64_t entryCount(const json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_number_integer() ? found->get<std::int64_t>() : -1;
}

} // namespace

bool replayMatchesEntry(const Replay& replay, const StoredEntry& stored, std::string& why) {
    const ReplayResult& result = replay.result;
    const auto layer = stored.entry.find("highestLayer");
    // The game's entry counts the layers a round can reach, at most kMaxLayers of the level's stems;
    // the replay keeps the level's own count.
    const std::int32_t layers = std::min(result.totalLayers, kMaxLayers);
    const std::string layerText =
        std::to_string(std::min(result.highestLayer, layers)) + "/" + std::to_string(layers);
    if (replay.levelName != stored.level) {
        why = "the replay is of another level";
    } else if (replay.bot) {
        why = "the replay was played by the autoplay bot";
    } else if (replay.practiceSpeedPercent != 0) {
        why = "the replay is of a practice round, which is never a result";
    } else if (result.score != stored.score) {
        why = "the replay's score (" + std::to_string(result.score) + ") is not the entry's";
    } else if (result.highestCombo != entryCount(stored.entry, "highestCombo")) {
        why = "the replay's highest combo (" + std::to_string(result.highestCombo) + ") is not the entry's";
    } else if (layer == stored.entry.end() || !layer->is_string() || *layer != layerText) {
        why = "the replay's highest layer (" + layerText + ") is not the entry's";
    } else {
        // The song span is bounded by the replay's limits (within a week and an hour), and the
        // wall-clock span is 0 or more: nothing here overflows.
        const std::int64_t songMs = (replay.songEndUs - replay.songStartUs) / 1000;
        const std::int64_t wallMs = replay.endedAtMs - replay.startedAtMs;
        if (wallMs < songMs - kReplayClockSlackMs - songMs * kReplayClockSlackPerMille / 1000) {
            why = "the replay's round took " + std::to_string(wallMs) + " ms of wall-clock time for " +
                  std::to_string(songMs) + " ms of song";
        } else {
            return true;
        }
    }
    return false;
}
