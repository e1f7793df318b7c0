// A round is a function of song time and its inputs: the events of a bot's round, run again through
// the round with calls at other rates and at random moments, give the same round bit for bit.
#include "game/round_progress.hpp"
#include "game_test_support.hpp"
#include "level/round_setup.hpp"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

using namespace gametest;

namespace {

constexpr double kLength = 60.0; // seconds of play
constexpr double kLoop = 20.0;   // the song loops three times

// Four looping stems of taps, holds and runs of repeats: enough hits to unlock layers.
void buildLevel(AudioSystem& audio) {
    audio.playing = true;
    audio.looping = true;
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> key(0, 127), velocity(1, 127), percent(0, 99);
    for (int s = 0; s < 4; ++s) {
        LoadedStem& stem = addStem(audio, kLoop, s == 0);
        for (double t = 0.5 + 0.13 * s; t < kLoop - 0.5; t += 0.35 + 0.1 * s) {
            const bool hold = percent(rng) < 15;
            stem.chart.notes.push_back(
                noteOn(t, key(rng), velocity(rng), hold ? kHoldChannel : 0, hold ? 0.3 : 0.0));
        }
    }
}

// What a round came to: its counters and every decision about every circle.
struct Outcome {
    std::int32_t score, combo, highestCombo, highestLayer, activeLayers;
    std::vector<std::tuple<double, std::int32_t, std::int32_t, CircleGrade, float>> decisions;
    bool operator==(const Outcome& o) const {
        return std::tie(score, combo, highestCombo, highestLayer, activeLayers, decisions) ==
               std::tie(o.score, o.combo, o.highestCombo, o.highestLayer, o.activeLayers, o.decisions);
    }
};

Outcome outcomeOf(const GameState& game) {
    Outcome o{game.score, game.combo, game.highestCombo, game.highestLayer, game.activeLayers, {}};
    for (const CircleOutcome& d : game.outcomes) {
        o.decisions.emplace_back(d.noteTime, d.stemIndex, d.note, d.grade, d.offsetMs);
    }
    return o;
}

// The recorded events run again, the round advanced at `calls` (increasing song times); before
// each call the events up to it are queued, as the frames would.
Outcome replay(const AudioSystem& audio, const std::vector<RoundEvent>& events,
               const std::vector<double>& calls) {
    GameState game = playingGame();
    beginRound(game, roundSetupOf(audio, 1920, 1080), 0.0);
    std::size_t next = 0;
    stdoutOf([&] {
        stderrOf([&] {
            for (double t : calls) {
                std::vector<RoundEvent> due;
                while (next < events.size() && static_cast<double>(events[next].songTimeUs) / 1e6 <= t) {
                    due.push_back(events[next++]);
                }
                queueRoundInputs(game, due, t);
                advanceRound(game, t, LayerRequests{});
            }
        });
    });
    return outcomeOf(game);
}

} // namespace

TEST(RoundDeterminism, TheSameEventsGiveTheSameRoundAtEveryRate) {
    AudioSystem audio;
    buildLevel(audio);
    GameState live = playingGame();
    stdoutOf([&] { stderrOf([&] { playWithBot(audio, live, kLength); }); });
    queueRoundInputs(live, {}, kLength);
    stdoutOf([&] { advanceRound(live, kLength, LayerRequests{}); });
    const Outcome want = outcomeOf(live);
    const std::vector<RoundEvent> events = live.progress.recorded;
    ASSERT_GT(events.size(), 300u);
    ASSERT_GE(want.highestLayer, 3) << "the bot's run unlocks layers";
    ASSERT_GT(want.decisions.size(), 300u);

    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const double rate : {30.0, 60.0, 144.0, 1000.0}) {
        SCOPED_TRACE(rate);
        std::vector<double> calls;
        for (double t = 0.0; t < kLength; t += 1.0 / rate) {
            calls.push_back(t);
            if (unit(rng) < 0.2) {
                calls.push_back(t + unit(rng) / rate); // an extra call in between
            }
        }
        calls.push_back(kLength);
        EXPECT_TRUE(replay(audio, events, calls) == want);
    }
    EXPECT_TRUE(replay(audio, events, {kLength}) == want) << "the whole round in one call";
}
