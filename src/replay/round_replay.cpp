#include "replay/round_replay.hpp"

#include "base/version.hpp"
#include "game/round_progress.hpp"

#include <algorithm>

namespace {

ReplayResult resultOf(const GameState& game) {
    ReplayResult result;
    result.score = game.score;
    result.highestCombo = game.highestCombo;
    result.highestLayer = game.highestLayer;
    result.totalLayers =
        std::clamp(static_cast<std::int32_t>(game.setup.stems.size()), std::int32_t{1}, kMaxReplayLayers);
    for (const CircleOutcome& outcome : game.outcomes) {
        ++(outcome.grade == CircleGrade::Miss ? result.misses : result.hits);
    }
    return result;
}

} // namespace

std::int64_t roundEndMicros(double applied) { return firstMicrosFrom(applied); }

Replay replayOfRound(const GameState& game, const ReplayOrigin& origin, std::int64_t endUs) {
    Replay replay;
    replay.levelName = origin.levelName;
    replay.levelHash = origin.levelHash;
    replay.gameVersion = kGameVersion;
    replay.inputMode = game.keyboardGameplay ? ReplayInputMode::Keyboard : ReplayInputMode::Pointer;
    replay.audioOffsetMs = origin.audioOffsetMs;
    // Where the round began; its resizes are among the events.
    replay.drawableWidth = static_cast<std::uint32_t>(std::max(1, game.progress.startWidth));
    replay.drawableHeight = static_cast<std::uint32_t>(std::max(1, game.progress.startHeight));
    replay.songStartUs = game.layerTimeline.empty() ? 0 : songTimeToMicros(game.layerTimeline.front().at);
    replay.songEndUs = std::max(endUs, replay.songStartUs);
    replay.startedAtMs = origin.startedAtMs;
    replay.endedAtMs = std::max(origin.endedAtMs, origin.startedAtMs);
    replay.bot = origin.bot;
    replay.result = resultOf(game);
    replay.events = game.progress.recorded;
    replay.pauses = game.progress.pauses;
    replay.practiceSpeedPercent = game.progress.practice ? game.progress.startSpeedPercent : 0;
    replay.loopJumps = game.progress.jumps;
    return replay;
}

ReplayResult rerunReplay(const Replay& replay, RoundSetup setup) {
    ReplayResult result;
    rerunReplayBy(replay, std::move(setup), std::chrono::steady_clock::time_point::max(), result);
    return result;
}

bool rerunReplayBy(const Replay& replay, RoundSetup setup, std::chrono::steady_clock::time_point deadline,
                   ReplayResult& result, RoundSummary* summary) {
    GameState game;
    const auto layers = static_cast<std::int32_t>(setup.stems.size());
    initGameState(game, std::clamp(layers, std::int32_t{1}, kMaxLayers));
    game.keyboardGameplay = replay.inputMode == ReplayInputMode::Keyboard;
    game.playing = true;
    setup.width = static_cast<std::int32_t>(replay.drawableWidth);
    setup.height = static_cast<std::int32_t>(replay.drawableHeight);
    const double start = static_cast<double>(replay.songStartUs) / 1e6;
    const double end = static_cast<double>(replay.songEndUs) / 1e6;
    beginRound(game, std::move(setup), start);
    // Pass by pass of the song: a practice loop's jump cuts the round where the song went back.
    std::size_t first = 0;
    double from = start;
    for (std::size_t j = 0; j <= replay.loopJumps.size(); ++j) {
        const bool last = j == replay.loopJumps.size();
        const double until = last ? end : static_cast<double>(replay.loopJumps[j].atUs) / 1e6;
        const std::size_t stop = last ? replay.events.size() : replay.loopJumps[j].eventIndex;
        queueRoundInputs(game,
                         std::vector<RoundEvent>(replay.events.begin() + static_cast<std::ptrdiff_t>(first),
                                                 replay.events.begin() + static_cast<std::ptrdiff_t>(stop)),
                         until);
        // The game itself advances a frame at a time; a round comes to the same whatever the steps.
        for (double to = from + kRerunStepSeconds; to < until; to += kRerunStepSeconds) {
            advanceRound(game, to, LayerRequests{});
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        advanceRound(game, until, LayerRequests{});
        if (!last) {
            const LoopJump& jump = replay.loopJumps[j];
            from = static_cast<double>(jump.toUs) / 1e6;
            jumpRound(game, until, from, static_cast<double>(jump.liveFromUs) / 1e6);
        }
        first = stop;
    }
    result = resultOf(game);
    if (summary != nullptr) {
        *summary = summarizeRound(game);
    }
    return true;
}

bool sameResult(const ReplayResult& a, const ReplayResult& b) {
    return a.score == b.score && a.highestCombo == b.highestCombo && a.highestLayer == b.highestLayer &&
           a.totalLayers == b.totalLayers && a.hits == b.hits && a.misses == b.misses;
}
