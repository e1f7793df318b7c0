#include "audio/audio_system.hpp"
#include "audio/master_clock.hpp"
#include "game/game_state.hpp"
#include "render/render_system.hpp"

#include "audio/audio_test_util.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

MidiNoteEvent noteAt(double time, int key = 60, bool on = true) {
    MidiNoteEvent note;
    note.time = time;
    note.note = key;
    note.velocity = on ? 100 : 0;
    note.isNoteOn = on;
    return note;
}

// A stem with a loaded chart of the given note times (sorted, as charts are), no audio.
void addStem(AudioSystem& audio, double length, std::vector<double> times, bool active = true) {
    audio.stems.emplace_back();
    LoadedStem& stem = audio.stems.back();
    stem.active = active;
    stem.chart.loaded = true;
    stem.chart.audioLength = length;
    std::sort(times.begin(), times.end());
    for (double t : times) {
        stem.chart.notes.push_back(noteAt(t, 60 + static_cast<int>(stem.chart.notes.size())));
    }
}

std::vector<double> firedTimes(const GameState& game) {
    std::vector<double> times;
    for (const MidiNoteEvent& note : game.pendingNotes) {
        times.push_back(note.time);
    }
    return times;
}

class MasterClock : public ::testing::Test {
protected:
    void SetUp() override {
        audio.playing = true;
        audio.looping = true;
    }
    AudioSystem audio;
    GameState game;
    RenderState render;
};

// One stem, ticks at the given clock readings, the notes each tick fires (in chart order).
TEST_F(MasterClock, FiresTheNotesTheClockPassed) {
    struct Tick {
        double now;
        std::vector<double> fired;
    };
    const struct {
        const char* what;
        bool looping;
        double lastPosition; // where the chart stood before the first tick
        std::vector<double> notes;
        std::vector<Tick> ticks;
        unsigned loops; // jumps back seen
    } cases[] = {
        {"a note at 0 waits for the first wrap (the interval is open below)",
         true,
         0.0,
         {0.0, 0.5},
         {{0.6, {0.5}}, {10.2, {0.0}}},
         0},
        {"at the wrap, the next pass's early notes come first",
         true,
         9.995,
         {0.001, 0.003, 0.004, 9.99, 9.997, 10.0},
         {{10.003, {0.001, 0.003, 9.997, 10.0}}},
         0},
        {"a jump back restarts the pass", true, 0.0, {1.0, 2.0}, {{2.5, {1.0, 2.0}}, {1.5, {1.0}}}, 1},
        {"without looping, notes fire once on the straight clock",
         false,
         0.0,
         {1.0, 11.0},
         {{12.0, {1.0, 11.0}}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AudioSystem a;
        a.playing = true;
        a.looping = c.looping;
        addStem(a, 10.0, c.notes);
        a.stems[0].chart.lastPosition = c.lastPosition;
        a.stems[0].chart.lastClock = c.lastPosition;
        GameState g;
        for (const Tick& tick : c.ticks) {
            g.pendingNotes.clear();
            advanceMasterClockTo(a, g, &render, tick.now);
            EXPECT_EQ(firedTimes(g), tick.fired) << "at " << tick.now;
            EXPECT_DOUBLE_EQ(g.songTime, tick.now);
            EXPECT_DOUBLE_EQ(a.stems[0].chart.lastPosition, tick.now);
        }
        EXPECT_EQ(a.stems[0].chart.loopCount, c.loops);
    }
}

TEST_F(MasterClock, InactiveStemsFireNothingAndKeepTheirChartState) {
    addStem(audio, 30.0, {1.0, 5.0, 9.0, 12.0}, false);
    audio.stems[0].chart.lastPosition = 0.0;
    advanceMasterClockTo(audio, game, &render, 40.0);
    EXPECT_TRUE(game.pendingNotes.empty());
    EXPECT_DOUBLE_EQ(audio.stems[0].chart.lastClock, 0.0);
    EXPECT_DOUBLE_EQ(game.songTime, 0.0) << "no stem passed the test, so the song time stays";

    // First active 70 s after the start: everything in (0, 10] fires at once.
    audio.stems[0].active = true;
    advanceMasterClockTo(audio, game, &render, 70.0);
    EXPECT_EQ(firedTimes(game), std::vector<double>({1.0, 5.0, 9.0}));
}

TEST_F(MasterClock, CopiesCarryTheirStemIndexAndReachTheCallback) {
    addStem(audio, 10.0, {1.0, 1.0, 1.0});
    addStem(audio, 10.0, {1.0, 1.0, 1.0});
    std::vector<int> seen;
    RenderState* seenRender = nullptr;
    game.noteCallback = [&](const MidiNoteEvent& note, RenderState* r) {
        seen.push_back(note.stemIndex);
        seenRender = r;
    };
    CaptureStdout();
    advanceMasterClockTo(audio, game, &render, 1.5);
    EXPECT_EQ(GetCapturedStdout(), "MIDI: Triggered 6 events (master clock)\n");
    EXPECT_EQ(seen, std::vector<int>({0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(seenRender, &render);
    ASSERT_EQ(game.pendingNotes.size(), 6u);
    EXPECT_EQ(game.pendingNotes[3].stemIndex, 1);
    EXPECT_EQ(audio.stems[0].chart.notes[0].stemIndex, -1) << "the chart's own entries are untouched";
}

TEST_F(MasterClock, PendingNotesFillWithoutACallbackAndSmallBatchesAreQuiet) {
    addStem(audio, 10.0, {1.0, 2.0});
    CaptureStdout();
    advanceMasterClockTo(audio, game, nullptr, 2.5);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(game.pendingNotes.size(), 2u);
}

// The straightforward rule, note by note in chart order, as the reference for the fast version.
std::vector<MidiNoteEvent> referenceFire(const AudioSystem& audio, double now) {
    std::vector<MidiNoteEvent> fired;
    for (size_t s = 0; s < audio.stems.size(); ++s) {
        const MidiChart& chart = audio.stems[s].chart;
        double last = chart.lastPosition;
        if (audio.looping && chart.audioLength > 0.0 && now < chart.lastClock) {
            last = 0.0;
        }
        for (const MidiNoteEvent& note : chart.notes) {
            const double t = note.time;
            bool due = false;
            if (!audio.looping || !(chart.audioLength > 0.0)) {
                due = last < t && t <= now;
            } else {
                const double p = std::fmod(last, chart.audioLength);
                const double n = std::fmod(now, chart.audioLength);
                due = n < p ? (t > p || t <= n) : (p < t && t <= n);
            }
            if (due) {
                fired.push_back(note);
                fired.back().stemIndex = static_cast<int>(s);
            }
        }
    }
    return fired;
}

TEST_F(MasterClock, FiresExactlyWhatTheNoteByNoteRuleFires) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 300; ++round) {
        AudioSystem a;
        a.playing = true;
        a.looping = round % 5 != 0;
        const int stems = 1 + static_cast<int>(unit(rng) * 4);
        for (int s = 0; s < stems; ++s) {
            const double length = round % 7 == 0 ? 0.0 : 1.0 + unit(rng) * 20.0;
            std::vector<double> times;
            const int count = static_cast<int>(unit(rng) * 60);
            for (int i = 0; i < count; ++i) {
                // Some notes on exact grid points to hit the interval ends.
                times.push_back(i % 4 == 0 ? std::floor(unit(rng) * 8) * 0.25 : unit(rng) * (length + 1.0));
            }
            addStem(a, length, times);
        }
        GameState g;
        double now = 0.0;
        for (int tick = 0; tick < 40; ++tick) {
            now += tick % 9 == 8 ? -unit(rng) * 3.0 : unit(rng) * 0.7; // with an occasional jump back
            now = std::max(now, 0.0);
            const std::vector<MidiNoteEvent> expected = referenceFire(a, now);
            g.pendingNotes.clear();
            advanceMasterClockTo(a, g, nullptr, now);
            ASSERT_EQ(g.pendingNotes.size(), expected.size()) << "round " << round << " tick " << tick;
            for (size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(g.pendingNotes[i].time, expected[i].time);
                EXPECT_EQ(g.pendingNotes[i].note, expected[i].note);
                EXPECT_EQ(g.pendingNotes[i].stemIndex, expected[i].stemIndex);
            }
        }
    }
}

// The whole path the logic thread takes: the clock read from the voice group's mixed audio, less
// the player's offset, firing the notes that audio has reached, across the stem's loop point.
TEST(MasterClockOnTheEngine, FiresWhatTheMixedAudioHasReached) {
    AudioSystem audio;
    GameState game;
    CaptureStdout();
    ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
    addStem(audio, 0.0, {0.01, 0.05, 0.09});
    LoadedStem& stem = audio.stems[0];
    stem.source = std::make_unique<Wav>();
    const std::vector<unsigned char> wav = makeFloatWav(std::vector<float>(4410, 0.0f), 1); // 0.1 s
    ASSERT_EQ(stem.source->loadMem(wav.data(), wav.size()), AudioResult::Ok);
    stem.chart.audioLength = stem.source->getLength();
    playAllStems(audio);
    GetCapturedStdout();
    std::vector<float> out(4410 * 2);
    auto mixAndTick = [&](unsigned frames) {
        audio.engine->mix(out.data(), frames);
        game.pendingNotes.clear();
        advanceMasterClock(audio, game, nullptr);
        return firedTimes(game);
    };
    EXPECT_EQ(mixAndTick(882), std::vector<double>({0.01}));
    EXPECT_DOUBLE_EQ(game.songTime, 0.02);
    EXPECT_EQ(mixAndTick(1764), std::vector<double>({0.05}));
    EXPECT_DOUBLE_EQ(game.songTime, 0.06);
    EXPECT_EQ(mixAndTick(2646), std::vector<double>({0.01, 0.09})) << "past the loop point at 0.1 s";
    EXPECT_DOUBLE_EQ(game.songTime, 0.12);
    audio.clockOffset = 0.005;
    EXPECT_EQ(mixAndTick(441), std::vector<double>());
    EXPECT_DOUBLE_EQ(game.songTime, 0.125);

    CaptureStdout();
    stopAllStems(audio);
    GetCapturedStdout();
    EXPECT_EQ(mixAndTick(441), std::vector<double>());
    EXPECT_DOUBLE_EQ(game.songTime, 0.125) << "stopped: the clock is not read";
    CaptureStdout();
    audioShutdown(audio);
    GetCapturedStdout();
}

} // namespace
