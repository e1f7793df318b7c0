// Spawning circles from the charts: placement, keyboard lanes, the look-ahead window with its
// loop wrap, the duplicate rule, and the fast spawn step against the plain one.
#include "game/circles.hpp"
#include "game_test_support.hpp"
#include "reference_spawn.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace gametest;

namespace {

struct SpawnFixture : ::testing::Test {
    AudioSystem audio;
    RenderState render = fullHdRender();
    GameState game = playingGame();

    void SetUp() override { audio.playing = true; }
};

} // namespace

TEST_F(SpawnFixture, PlacesCircleByKeyAndVelocity) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 64, 100)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 1u);
    const Circle &circle = game.circles[0];
    EXPECT_FLOAT_EQ(circle.x, 960.0f);
    EXPECT_FLOAT_EQ(circle.y, 843.75f);
    EXPECT_FLOAT_EQ(circle.radius, 40.0f);
    EXPECT_FLOAT_EQ(circle.targetRadius, 100.0f);
    EXPECT_FLOAT_EQ(circle.holdDuration, 0.2f);
    EXPECT_DOUBLE_EQ(circle.time, 0.5);
    EXPECT_EQ(circle.note, 64);
    EXPECT_EQ(circle.stemIndex, 0);
    EXPECT_TRUE(circle.active);
    EXPECT_FALSE(circle.hit || circle.arrived || circle.holdComplete);
    EXPECT_EQ(circle.key, 0u) << "no key without keyboard gameplay";
    EXPECT_EQ(circle.keyLabel, 0);
}

TEST_F(SpawnFixture, HoldCircleTakesTheNoteDuration) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 40, 90, 1, 1.25), noteOn(0.6, 41, 90, 2, 1.25)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 2u);
    EXPECT_FLOAT_EQ(game.circles[0].holdDuration, 1.25f);
    EXPECT_EQ(game.circles[0].channel, 1);
    EXPECT_FLOAT_EQ(game.circles[1].holdDuration, 0.2f) << "only channel 1 holds";
}

TEST(KeyLanes, VelocityBandsPickTheRow) {
    EXPECT_EQ(keyForNote(64, 41).key, static_cast<std::uint32_t>('b'));
    EXPECT_EQ(keyForNote(64, 41).label, 'B');
    EXPECT_EQ(keyForNote(64, 42).label, 'G');
    EXPECT_EQ(keyForNote(64, 85).label, 'G');
    EXPECT_EQ(keyForNote(64, 86).key, static_cast<std::uint32_t>('t'));
    EXPECT_EQ(keyForNote(64, 86).label, 'T');
}

TEST(KeyLanes, EachSixteenKeysIsOneLaneIncludingTheComma) {
    const char low[] = "zxcvbnm,";
    const char middle[] = "asdfghjk";
    const char high[] = "qwertyui";
    for (int lane = 0; lane < 8; ++lane) {
        for (int key : {lane * 16, lane * 16 + 15}) {
            EXPECT_EQ(keyForNote(key, 20).key, static_cast<std::uint32_t>(low[lane])) << key;
            EXPECT_EQ(keyForNote(key, 60).key, static_cast<std::uint32_t>(middle[lane])) << key;
            EXPECT_EQ(keyForNote(key, 120).key, static_cast<std::uint32_t>(high[lane])) << key;
        }
    }
    EXPECT_EQ(keyForNote(127, 20).key, 44u);
    EXPECT_EQ(keyForNote(127, 20).label, ',');
    EXPECT_EQ(keyForNote(100, 60).label, 'J');
}

TEST(KeyLanes, KeyNumbersOutsideTheTableWrapByEight) {
    EXPECT_EQ(keyForNote(130, 60).label, 'D'); // 130 mod 8 = 2
    EXPECT_EQ(keyForNote(-3, 60).label, 'H');  // stays a valid lane: (-3 mod 8) = 5
}

TEST_F(SpawnFixture, KeyboardGameplayPutsKeysOnCircles) {
    game.keyboardGameplay = true;
    addStem(audio, 0.0).chart.notes = {noteOn(0.2, 127, 20), noteOn(0.3, 64, 86)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 2u);
    EXPECT_EQ(game.circles[0].key, 44u);
    EXPECT_EQ(game.circles[0].keyLabel, ',');
    EXPECT_EQ(game.circles[1].key, static_cast<std::uint32_t>('t'));
}

TEST_F(SpawnFixture, WindowReachesOneSecondAheadAndOneMillisecondBack) {
    // Not looping, so the chart time is the due time.
    audio.looping = false;
    game.songTime = 10.0;
    addStem(audio, 30.0).chart.notes = {
        noteOn(9.998, 1),
        noteOn(9.9995, 2),
        noteOn(11.0, 3),
        noteOn(11.001, 4),
    };
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 2u);
    EXPECT_EQ(game.circles[0].note, 2);
    EXPECT_EQ(game.circles[1].note, 3);

    game.songTime = 10.002;
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 3u) << "the note 1.001 s ahead comes on a later tick";
    EXPECT_EQ(game.circles[2].note, 4);
}

TEST_F(SpawnFixture, LoopingStemSpawnsTheNextPassAhead) {
    addStem(audio, 10.0).chart.notes = {noteOn(0.3, 10), noteOn(5.5, 20)};
    game.songTime = 25.0;
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_DOUBLE_EQ(game.circles[0].time, 25.5);

    game.circles.clear();
    game.songTime = 29.5; // 0.3 lies -9.2 + 10 = 0.8 s ahead, in the next pass
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_NEAR(game.circles[0].time, 30.3, 1e-9);
    EXPECT_EQ(game.circles[0].note, 10);
}

TEST_F(SpawnFixture, NoteJustPassedInALoopWaitsForTheNextPass) {
    addStem(audio, 10.0).chart.notes = {noteOn(5.0, 10)};
    game.songTime = 15.002; // 0.002 s late: next due one loop later, far outside the window
    spawnTick(game, render, audio);
    EXPECT_TRUE(game.circles.empty());
}

TEST_F(SpawnFixture, CloseNotesOfOneKeyMakeOneCircle) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 30), noteOn(0.505, 30), noteOn(0.7, 31), noteOn(0.72, 31)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 3u);
    EXPECT_DOUBLE_EQ(game.circles[0].time, 0.5);
    EXPECT_DOUBLE_EQ(game.circles[1].time, 0.7);
    EXPECT_DOUBLE_EQ(game.circles[2].time, 0.72);

    // Later ticks see the same notes again and add nothing.
    game.songTime = 0.1;
    spawnTick(game, render, audio);
    EXPECT_EQ(game.circles.size(), 3u);
}

TEST_F(SpawnFixture, SameKeyOnAnotherStemIsNoDuplicate) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 30)};
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 30)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 2u);
    EXPECT_EQ(game.circles[1].stemIndex, 1);
}

TEST_F(SpawnFixture, SkipsStemsAndNotesThatMakeNoCircles) {
    addStem(audio, 0.0, false).chart.notes = {noteOn(0.5, 1)}; // inactive
    addStem(audio, 0.0).chart.loaded = false;                  // no chart
    audio.stems.back().chart.notes = {noteOn(0.5, 2)};
    LoadedStem &outOfRange = addStem(audio, 0.0); // index 8
    outOfRange.index = 8;
    outOfRange.chart.notes = {noteOn(0.5, 3)};
    addStem(audio, 0.0).chart.notes = {noteOff(0.5, 4), noteOn(0.5, 5, 0), noteOn(0.6, 6)};
    spawnTick(game, render, audio);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_EQ(game.circles[0].note, 6);
}

TEST_F(SpawnFixture, EmptiesPendingNotesAndSpawnsNothingWhenStopped) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 1)};
    game.pendingNotes = {noteOn(0.1, 1), noteOn(0.2, 2)};
    audio.playing = false;
    spawnTick(game, render, audio);
    EXPECT_TRUE(game.pendingNotes.empty());
    EXPECT_TRUE(game.circles.empty());
}

// ---- Fast step against the plain one ----

namespace {

void fillRandomChart(LoadedStem &stem, std::mt19937 &rng, double span) {
    std::uniform_real_distribution<double> time(0.0, span);
    std::uniform_int_distribution<int> count(0, 300);
    std::uniform_int_distribution<int> key(0, 127);
    std::uniform_int_distribution<int> coin(0, 9);
    std::vector<MidiNoteEvent> &notes = stem.chart.notes;
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
        // Few keys and clustered times so the duplicate rule is exercised often.
        const int k = coin(rng) < 7 ? key(rng) % 6 : key(rng);
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
                     [](const MidiNoteEvent &a, const MidiNoteEvent &b) { return a.time < b.time; });
}

void expectSameCircles(const GameState &fast, const GameState &plain, int trial) {
    ASSERT_EQ(fast.circles.size(), plain.circles.size()) << "trial " << trial;
    for (std::size_t i = 0; i < fast.circles.size(); ++i) {
        const Circle &a = fast.circles[i];
        const Circle &b = plain.circles[i];
        ASSERT_TRUE(a.time == b.time && a.note == b.note && a.stemIndex == b.stemIndex && a.x == b.x &&
                    a.y == b.y && a.key == b.key && a.channel == b.channel &&
                    a.holdDuration == b.holdDuration)
            << "trial " << trial << " circle " << i;
    }
}

} // namespace

TEST(SpawnEquivalence, FastSpawnMatchesThePlainRuleTickForTick) {
    std::mt19937 rng(20240611);
    const RenderState render = fullHdRender();
    for (int trial = 0; trial < 300; ++trial) {
        AudioSystem audio;
        audio.playing = true;
        audio.looping = trial % 5 != 0;
        std::uniform_int_distribution<int> stemCount(1, 10);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const int stems = stemCount(rng);
        for (int s = 0; s < stems; ++s) {
            // Loop lengths from sub-second (windows overlapping the wrap) to long songs; some stems
            // have no length, so their charts do not wrap.
            const double length =
                s % 4 == 3 ? 0.0 : (unit(rng) < 0.2 ? 0.2 + unit(rng) : 2.0 + 40.0 * unit(rng));
            LoadedStem &stem = addStem(audio, length, unit(rng) < 0.85);
            // Charts may run past the audio's end, as a careless MIDI file does.
            fillRandomChart(stem, rng, (length > 0.0 ? length : 20.0) * (0.5 + unit(rng)));
        }
        GameState fast = playingGame();
        fast.keyboardGameplay = trial % 2 == 0;
        fast.songTime = 100.0 * unit(rng);
        GameState plain = fast;
        // A run of ticks, with the main thread's removals in between, so that circles come and
        // go (and some are removed while their notes are still inside the window).
        for (int tick = 0; tick < 60; ++tick) {
            spawnTick(fast, render, audio);
            referenceSpawnTick(plain, render, audio);
            expectSameCircles(fast, plain, trial);
            if (HasFatalFailure()) {
                return;
            }
            const double step = unit(rng) < 0.05 ? -30.0 * unit(rng) : unit(rng) * 0.05;
            fast.songTime = std::max(0.0, fast.songTime + step);
            plain.songTime = fast.songTime;
            for (std::size_t i = fast.circles.size(); i-- > 0;) {
                if (unit(rng) < 0.1) {
                    fast.circles.erase(fast.circles.begin() + static_cast<long>(i));
                    plain.circles.erase(plain.circles.begin() + static_cast<long>(i));
                }
            }
        }
    }
}

TEST(SpawnEquivalence, WindowEdgesMatchThePlainRuleExactly) {
    // Notes placed right on the window's edges, where only the exact arithmetic decides.
    const RenderState render = fullHdRender();
    for (double length : {0.0, 3.0, 7.3, 0.9995}) {
        for (double now : {0.0, 2.0, 6.999, 14.6, 100.25}) {
            AudioSystem audio;
            audio.playing = true;
            LoadedStem &stem = addStem(audio, length);
            const double position = length > 0.0 ? std::fmod(now, length) : now;
            int key = 0;
            for (double base : {position, position - length, position + length}) {
                for (double offset : {-0.0011, -0.001, -0.0009, 0.0, 0.9999, 1.0, 1.0001}) {
                    stem.chart.notes.push_back(noteOn(base + offset, key++ % 128));
                }
            }
            std::sort(stem.chart.notes.begin(), stem.chart.notes.end(),
                      [](const MidiNoteEvent &a, const MidiNoteEvent &b) { return a.time < b.time; });
            GameState fast = playingGame();
            fast.songTime = now;
            GameState plain = fast;
            spawnTick(fast, render, audio);
            referenceSpawnTick(plain, render, audio);
            expectSameCircles(fast, plain, static_cast<int>(now * 1000 + length));
        }
    }
}
