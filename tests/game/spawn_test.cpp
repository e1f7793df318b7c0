// Spawning: placement, keyboard lanes, and the round's spawns against the plain rule.
#include "game/circles.hpp"
#include "game/round_progress.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

using namespace gametest;

namespace {

// A round on one chart per stem, looping every `loop` seconds (0: once), with `layers` unlocked from
// song time `start`, in a 1920 x 1080 window.
GameState roundOn(std::vector<std::vector<MidiNoteEvent>> charts, double loop, int layers = 1,
                  double start = 0.0, bool keyboard = false) {
    GameState game = playingGame();
    game.keyboardGameplay = keyboard;
    RoundSetup setup;
    setup.loopLength = loop;
    setup.looping = loop > 0.0;
    setup.width = 1920;
    setup.height = 1080;
    for (auto& chart : charts) {
        setup.stems.push_back(RoundStem{"stem", std::move(chart)});
    }
    beginRound(game, std::move(setup), start, layers);
    return game;
}

// Everything up to and including song time `to`.
void advance(GameState& game, double to) {
    const double through = std::nextafter(to, 1e300);
    queueRoundInputs(game, {}, through);
    stdoutOf([&] { advanceRound(game, through, LayerRequests{}); });
}

TEST(Spawning, ACircleIsPlacedByKeyAndVelocityAndOnlyChannelOneHolds) {
    const struct {
        float x, y, holdDuration;
        char label; // of its key in keyboard gameplay
    } want[] = {{960.0f, 843.75f, 0.2f, 'T'}, {1905.0f, 168.75f, 1.25f, ','}, {0.0f, 725.625f, 0.2f, 'Q'}};
    for (const bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "keyboard gameplay" : "pointer gameplay");
        GameState game =
            roundOn({{noteOn(0.5, 64, 100), noteOn(0.6, 127, 20, 1, 1.25), noteOn(0.7, 0, 86, 2, 1.25)}}, 0.0,
                    1, 0.0, keyboard);
        advance(game, 0.0);
        ASSERT_EQ(game.circles.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            const Circle& circle = game.circles[i];
            EXPECT_FLOAT_EQ(circle.x, want[i].x);
            EXPECT_FLOAT_EQ(circle.y, want[i].y);
            EXPECT_FLOAT_EQ(circle.holdDuration, want[i].holdDuration);
            EXPECT_DOUBLE_EQ(circle.time, 0.5 + 0.1 * static_cast<double>(i));
            EXPECT_EQ(circle.channel, static_cast<int>(i));
            EXPECT_EQ(circle.stemIndex, 0);
            EXPECT_EQ(circle.keyLabel, keyboard ? std::string(1, want[i].label) : "");
            EXPECT_EQ(circle.cell,
                      keyboard ? cellForUsKeycode(static_cast<std::uint32_t>(std::tolower(want[i].label)))
                               : kNoCell);
        }
    }
}

TEST(KeyLanes, SixteenKeyNumbersMakeALaneAndTheVelocityPicksTheRow) {
    const char* rows[] = {"zxcvbnm,", "asdfghjk", "qwertyui"}; // velocity below 42, 42..85, above 85
    const int velocities[][2] = {{0, 41}, {42, 85}, {86, 127}};
    for (int lane = 0; lane < 8; ++lane) {
        for (int row = 0; row < 3; ++row) {
            for (int note : {lane * 16, lane * 16 + 15}) {
                for (int velocity : velocities[row]) {
                    const std::uint32_t cell = cellForNote(note, velocity);
                    EXPECT_EQ(cell, cellOf(lane, row)) << note << " " << velocity;
                    EXPECT_EQ(kUsGridCharacters[cell], rows[row][lane]);
                    EXPECT_EQ(cellForUsKeycode(static_cast<std::uint32_t>(rows[row][lane])), cell);
                }
            }
        }
    }
    EXPECT_EQ(cellForNote(130, 60), cellOf(2, 1)); // outside the table: lane 130 mod 8 = 2
    EXPECT_EQ(cellForNote(-3, 60), cellOf(5, 1));  // and still a lane for negative numbers: 5
    EXPECT_EQ(cellForUsKeycode('p'), kNoCell);
}

void fillRandomChart(std::vector<MidiNoteEvent>& notes, std::mt19937& rng, double span) {
    std::uniform_real_distribution<double> time(0.0, span);
    std::uniform_int_distribution<int> count(0, 300);
    std::uniform_int_distribution<int> key(0, 127);
    std::uniform_int_distribution<int> coin(0, 9);
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
        // Few keys and clustered times so the duplicate rule is exercised often; now and then a
        // key number outside 0..127, as a hand-made chart may have.
        const int k = coin(rng) < 7 ? key(rng) % 6 : key(rng) - (coin(rng) == 0 ? 140 : 0);
        MidiNoteEvent note = coin(rng) == 0 ? noteOff(time(rng), k) : noteOn(time(rng), k, 1 + key(rng));
        if (coin(rng) == 1) {
            note.velocity = 0;
        }
        note.channel = coin(rng) < 2 ? 1 : 0;
        note.duration = time(rng) * 0.1;
        notes.push_back(note);
        if (coin(rng) < 3) { // a near twin: same key a few milliseconds away
            MidiNoteEvent twin = note;
            twin.time += (coin(rng) - 4.5) * 0.003;
            notes.push_back(twin);
        }
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
}

// The circles a round on `chart` spawns by song time `until`, by the plain rule: every note-on
// occurrence (pass by pass when looping, only notes inside the loop) due no earlier than the late
// limit before `start`, once the look-ahead reaches it, unless one of the same key lies within the
// duplicate window of it; as (time, key) in due order.
std::vector<std::pair<double, int>> plainSpawns(const std::vector<MidiNoteEvent>& chart, double loop,
                                                double start, double until) {
    std::vector<std::pair<double, int>> due;
    const std::int64_t passes =
        loop > 0.0 ? static_cast<std::int64_t>((until + kSpawnLookAhead) / loop) + 2 : 1;
    for (std::int64_t pass = loop > 0.0 ? static_cast<std::int64_t>(start / loop) - 1 : 0; pass < passes;
         ++pass) {
        for (const MidiNoteEvent& note : chart) {
            if (!note.isNoteOn || note.velocity == 0 ||
                (loop > 0.0 && (note.time < 0.0 || note.time >= loop))) {
                continue;
            }
            const double t = loop > 0.0 ? static_cast<double>(pass) * loop + note.time : note.time;
            if (t >= start - kSpawnLateLimit && t - kSpawnLookAhead <= until) {
                due.emplace_back(t, note.note);
            }
        }
    }
    std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<double, int>> spawned;
    for (const auto& candidate : due) {
        const bool twin = std::any_of(spawned.begin(), spawned.end(), [&](const auto& earlier) {
            return earlier.second == candidate.second &&
                   std::fabs(earlier.first - candidate.first) < kDuplicateWindow;
        });
        if (!twin) {
            spawned.push_back(candidate);
        }
    }
    return spawned;
}

} // namespace

TEST(Spawning, EveryNoteSpawnsOnceWhenTheLookAheadReachesItWhateverTheSteps) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        // Loop lengths from sub-second (the look-ahead spans several passes) to long songs, or none.
        const double loop =
            trial % 5 == 0 ? 0.0 : (unit(rng) < 0.2 ? 0.2 + unit(rng) : 2.0 + 40.0 * unit(rng));
        std::vector<MidiNoteEvent> chart;
        // Charts may run past the audio's end, as a careless MIDI file does.
        fillRandomChart(chart, rng, (loop > 0.0 ? loop : 20.0) * (0.5 + unit(rng)));
        const double start = trial % 3 == 0 ? 0.0 : 50.0 * unit(rng);
        GameState game = roundOn({chart}, loop, 1, start);
        std::vector<std::pair<double, int>> seen;
        double now = start;
        for (int step = 0; step < 40; ++step) {
            now += unit(rng) < 0.1 ? 0.0 : 0.4 * unit(rng);
            advance(game, now);
        }
        // Each circle is either still there or was removed as a miss (nobody plays).
        for (const CircleOutcome& gone : game.outcomes) {
            seen.emplace_back(gone.noteTime, gone.note);
        }
        for (const Circle& circle : game.circles) {
            seen.emplace_back(circle.time, circle.note);
        }
        std::sort(seen.begin(), seen.end());
        std::vector<std::pair<double, int>> want = plainSpawns(chart, loop, start, now);
        std::sort(want.begin(), want.end());
        std::vector<std::pair<double, int>> extra, missing;
        std::set_difference(seen.begin(), seen.end(), want.begin(), want.end(), std::back_inserter(extra));
        std::set_difference(want.begin(), want.end(), seen.begin(), seen.end(), std::back_inserter(missing));
        ASSERT_EQ(seen, want) << extra.size() << " extra, first " << (extra.empty() ? -1 : extra[0].first)
                              << " " << (extra.empty() ? -1 : extra[0].second) << "; " << missing.size()
                              << " missing, first " << (missing.empty() ? -1 : missing[0].first) << " "
                              << (missing.empty() ? -1 : missing[0].second) << "; trial " << trial
                              << ", loop " << loop << ", from " << start << " to " << now;
    }
}

TEST(Spawning, TheWindowsEdgesAndAnUnlockedLayerSpawnFromTheirMoment) {
    // From 2 s: a note 1.1 ms past is too late, 1 ms past is not; one exactly a second ahead spawns.
    const std::vector<MidiNoteEvent> edges = {noteOn(1.9989, 1), noteOn(1.999, 2), noteOn(3.0, 3),
                                              noteOn(3.0001, 4)};
    for (const double loop : {0.0, 4.0}) {
        GameState game = roundOn({edges}, loop, 1, 2.0);
        advance(game, 2.0);
        std::vector<int> keys;
        for (const Circle& circle : game.circles) {
            keys.push_back(circle.note);
        }
        EXPECT_EQ(keys, (std::vector<int>{2, 3})) << "loop " << loop;
        advance(game, 2.0001);
        EXPECT_EQ(game.circles.size(), 3u);
    }
    // Stem 1 is locked until its layer unlocks: only then does its chart start, from that moment.
    GameState game = roundOn({{}, {noteOn(0.5, 1), noteOn(1.5, 2)}}, 10.0, 1);
    advance(game, 1.0);
    EXPECT_TRUE(game.circles.empty());
    game.combo = 5; // the fifth hit in a row: the next layer
    layerStep(game, LayerRequests{});
    queueRoundInputs(game, {RoundEvent{1'200'000}}, 1.2); // the step follows an applied input
    advance(game, 1.2);
    ASSERT_EQ(game.activeLayers, 2);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_EQ(game.circles[0].note, 2);
}
