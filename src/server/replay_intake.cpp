#include "server/replay_intake.hpp"

#include "base/log.hpp"
#include "game/game_rules.hpp"
#include "replay/replay_upload.hpp"

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

constexpr const char* kUnverifiedError =
    "the server takes only verified rounds, and this one was not verified: ";

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

namespace {

// Checks one entry's replay and runs its round again. False, with the reason in `why`, when the
// entry is refused; otherwise true, with why it stayed unverified in `unverified` when it did.
bool takeInReplay(StoredEntry& stored, const ServerLevels& levels, VerifyPool& pool,
                  VerifyClock::time_point deadline, std::string& why, std::string& unverified) {
    if (stored.replay.empty()) {
        unverified = "it carries no replay";
        return true;
    }
    Replay replay;
    std::string compressed;
    if (!unpackReplay(stored.replay, replay, compressed, why) || !replayMatchesEntry(replay, stored, why)) {
        return false;
    }
    stored.replay = std::move(compressed);
    const CheckedLevel* level = findServerLevel(levels, replay.levelName, replay.levelHash);
    if (level == nullptr) {
        if (serverKnowsLevel(levels, replay.levelName)) {
            why = "the replay was played on another version of the level (its hash is not this server's)";
            return false;
        }
        unverified = "the server does not have the level";
        return true;
    }
    const VerifyOutcome outcome = pool.verify(replay, *level, deadline);
    switch (outcome.verdict) {
    case VerifyVerdict::Verified:
        stored.verified = true;
        stored.suspect = outcome.suspect;
        return true;
    case VerifyVerdict::Differs:
        why = differenceText(outcome.result, replay.result);
        return false;
    case VerifyVerdict::OutOfTime:
        break;
    }
    logError(stderr, "Round not run again in time: %s by %s", stored.level.c_str(), stored.player.c_str());
    unverified = "the server could not run its round again in time";
    return true;
}

} // namespace

std::size_t takeInReplays(Upload& upload, const ServerLevels& levels, VerifyPool& pool, bool verifiedOnly,
                          VerifyClock::time_point deadline) {
    std::vector<StoredEntry> kept;
    kept.reserve(upload.entries.size());
    std::size_t verified = 0;
    for (StoredEntry& stored : upload.entries) {
        std::string why;
        std::string unverified;
        if (takeInReplay(stored, levels, pool, deadline, why, unverified) && verifiedOnly &&
            !stored.verified) {
            why = kUnverifiedError + unverified;
        }
        if (!why.empty()) {
            ++upload.skipped;
            upload.errors.push_back({{"level", stored.level}, {"player", stored.player}, {"error", why}});
            continue;
        }
        verified += stored.verified ? 1 : 0;
        kept.push_back(std::move(stored));
    }
    upload.entries = std::move(kept);
    return verified;
}
