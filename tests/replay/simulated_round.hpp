#pragma once
// A round of a real level played by a simulated person at the keyboard, for checking and timing
// the server's re-runs: each circle's key pressed near its note time with a little jitter and
// released after it (a hold circle once its hold is done), a few circles left alone, and those
// that appear too late to be pressed on time too.
#include "base/log.hpp"
#include "game/round_progress.hpp"
#include "replay/level_check.hpp"
#include "replay/round_replay.hpp"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <tuple>
#include <vector>

// `seconds` of song of `level` played from its start in a 1920 x 1080 area, the presses off their
// notes by a normal jitter of `jitterMs`, every `missEvery`-th circle not pressed; the replay of
// that round, which ended now after as much wall-clock time as song time (plus a second).
inline Replay simulatedRound(const CheckedLevel& level, double seconds, unsigned seed = 1,
                             double jitterMs = 12.0, int missEvery = 9) {
    const LogMessagesMuted muted; // the round logs every score
    GameState game;
    const auto layers = static_cast<std::int32_t>(level.setup.stems.size());
    initGameState(game, std::clamp(layers, std::int32_t{1}, kMaxLayers));
    game.keyboardGameplay = true;
    game.playing = true;
    RoundSetup setup = level.setup;
    setup.width = 1920;
    setup.height = 1080;
    beginRound(game, std::move(setup), 0.0);
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0.0, jitterMs / 1000.0);
    std::set<std::tuple<double, std::int32_t, std::int32_t>> seen; // circles planned: note time, stem, note
    std::vector<RoundEvent> planned;                               // in no order
    int circles = 0;
    constexpr double kStep = 1.0 / 120.0;
    for (double t = kStep; t < seconds; t += kStep) {
        for (const Circle& circle : game.circles) {
            if (!isCell(circle.cell) || circle.hit ||
                !seen.insert({circle.time, circle.stemIndex, circle.note}).second ||
                ++circles % missEvery == 0) {
                continue;
            }
            const double press = circle.time + jitter(random);
            if (press < t) {
                continue; // seen too late to press it then: left alone
            }
            const double release =
                circle.channel == kHoldChannel ? circle.time + circle.holdDuration + 0.03 : press + 0.05;
            planned.push_back({songTimeToMicros(press), InputKind::Press, InputDevice::Key, 0, circle.cell});
            planned.push_back(
                {songTimeToMicros(release), InputKind::Release, InputDevice::Key, 0, circle.cell});
        }
        std::vector<RoundEvent> due;
        const auto dueNow = [&](const RoundEvent& event) { return event.songTimeUs < songTimeToMicros(t); };
        std::copy_if(planned.begin(), planned.end(), std::back_inserter(due), dueNow);
        planned.erase(std::remove_if(planned.begin(), planned.end(), dueNow), planned.end());
        std::stable_sort(due.begin(), due.end(), [](const RoundEvent& a, const RoundEvent& b) {
            return a.songTimeUs < b.songTimeUs;
        });
        queueRoundInputs(game, due, t);
        advanceRound(game, t, LayerRequests{});
    }
    const std::int64_t end = roundEndMicros(game.progress.applied);
    advanceRound(game, static_cast<double>(end) / 1e6, LayerRequests{});
    ReplayOrigin origin;
    origin.levelName = level.name;
    origin.levelHash = level.hash;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    origin.startedAtMs = now - end / 1000 - 1000;
    origin.endedAtMs = now;
    return replayOfRound(game, origin, end);
}
