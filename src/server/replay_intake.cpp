#include "server/replay_intake.hpp"

#include "base/log.hpp"
#include "replay/replay_upload.hpp"

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

constexpr const char* kUnverifiedError =
    "the server takes only verified rounds, and this one was not verified: ";

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
