// Spawning: placement, keyboard lanes, and the fast spawn step against the plain rule.
#include "game/circles.hpp"
#include "game_test_support.hpp"
#include "reference_spawn.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <tuple>

using namespace gametest;

namespace {

struct SpawnFixture : ::testing::Test {
    AudioSystem audio;
    RenderState render = fullHdRender();
    GameState game = playingGame();

    void SetUp() override { audio.playing = true; }
};

TEST_F(SpawnFixture, ACircleIsPlacedByKeyAndVelocityAndOnlyChannelOneHolds) {
    const struct {
        float x, y, holdDuration;
        char label; // of its key in keyboard gameplay
    } want[] = {{960.0f, 843.75f, 0.2f, 'T'}, {1905.0f, 168.75f, 1.25f, ','}, {0.0f, 725.625f, 0.2f, 'Q'}};
    for (const bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "keyboard gameplay" : "pointer gameplay");
        game.circles.clear();
        game.keyboardGameplay = keyboard;
        audio.stems.clear();
        addStem(audio, 0.0).chart.notes = {noteOn(0.5, 64, 100), noteOn(0.6, 127, 20, 1, 1.25),
                                           noteOn(0.7, 0, 86, 2, 1.25)};
        spawnTick(game, render.width, render.height, audio);
        ASSERT_EQ(game.circles.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            const Circle& circle = game.circles[i];
            EXPECT_FLOAT_EQ(circle.x, want[i].x);
            EXPECT_FLOAT_EQ(circle.y, want[i].y);
            EXPECT_FLOAT_EQ(circle.holdDuration, want[i].holdDuration);
            EXPECT_DOUBLE_EQ(circle.time, 0.5 + 0.1 * static_cast<double>(i));
            EXPECT_EQ(circle.channel, static_cast<int>(i));
            EXPECT_EQ(circle.stemIndex, 0);
            EXPECT_EQ(circle.keyLabel, keyboard ? want[i].label : 0);
            EXPECT_EQ(circle.key, keyboard ? static_cast<std::uint32_t>(std::tolower(want[i].label)) : 0u);
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
                    const NoteKey key = keyForNote(note, velocity);
                    EXPECT_EQ(key.key, static_cast<std::uint32_t>(rows[row][lane]))
                        << note << " " << velocity;
                    EXPECT_EQ(key.label, static_cast<char>(std::toupper(rows[row][lane])));
                }
            }
        }
    }
    EXPECT_EQ(keyForNote(130, 60).label, 'D'); // outside the table: lane 130 mod 8 = 2
    EXPECT_EQ(keyForNote(-3, 60).label, 'H');  // and still a lane for negative numbers: 5
}

TEST_F(SpawnFixture, EmptiesPendingNotesAndSpawnsNothingWhenStopped) {
    addStem(audio, 0.0).chart.notes = {noteOn(0.5, 1)};
    game.pendingNotes = {noteOn(0.1, 1), noteOn(0.2, 2)};
    audio.playing = false;
    spawnTick(game, render.width, render.height, audio);
    EXPECT_TRUE(game.pendingNotes.empty());
    EXPECT_TRUE(game.circles.empty());
}

void fillRandomChart(LoadedStem& stem, std::mt19937& rng, double span) {
    std::uniform_real_distribution<double> time(0.0, span);
    std::uniform_int_distribution<int> count(0, 300);
    std::uniform_int_distribution<int> key(0, 127);
    std::uniform_int_distribution<int> coin(0, 9);
    std::vector<MidiNoteEvent>& notes = stem.chart.notes;
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

// Everything a circle is spawned with, circle by circle.
auto spawned(const GameState& game) {
    std::vector<std::tuple<double, int, int, float, float, std::uint32_t, int, float>> circles;
    for (const Circle& c : game.circles) {
        circles.emplace_back(c.time, c.note, c.stemIndex, c.x, c.y, c.key, c.channel, c.holdDuration);
    }
    return circles;
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
            // Some stems are inactive or have no chart; a ninth and a tenth make no circles.
            LoadedStem& stem = addStem(audio, length, unit(rng) < 0.85);
            stem.chart.loaded = unit(rng) < 0.9;
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
            spawnTick(fast, render.width, render.height, audio);
            referenceSpawnTick(plain, render.width, render.height, audio);
            ASSERT_EQ(spawned(fast), spawned(plain)) << "trial " << trial << " tick " << tick;
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
            LoadedStem& stem = addStem(audio, length);
            const double position = length > 0.0 ? std::fmod(now, length) : now;
            int key = 0;
            for (double base : {position, position - length, position + length}) {
                for (double offset : {-0.0011, -0.001, -0.0009, 0.0, 0.9999, 1.0, 1.0001}) {
                    stem.chart.notes.push_back(noteOn(base + offset, key++ % 128));
                }
            }
            std::sort(stem.chart.notes.begin(), stem.chart.notes.end(),
                      [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
            GameState fast = playingGame();
            fast.songTime = now;
            GameState plain = fast;
            spawnTick(fast, render.width, render.height, audio);
            referenceSpawnTick(plain, render.width, render.height, audio);
            EXPECT_EQ(spawned(fast), spawned(plain)) << "loop " << length << " at " << now;
        }
    }
}
