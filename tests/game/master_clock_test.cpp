#include "app/logic_thread.hpp"
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "game/master_clock.hpp"
#include "render/render_system.hpp"

#include "audio/audio_test_util.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

// A stem with a loaded chart of notes at `times` (sorted, as charts are), each on a key of its own.
void addStem(AudioSystem& audio, double length, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::vector<MidiNoteEvent>& notes = gametest::addStem(audio, length).chart.notes;
    for (double t : times) {
        notes.push_back(gametest::noteOn(t, 61 + static_cast<int>(notes.size())));
    }
}

std::vector<double> firedTimes(const GameState& game) {
    std::vector<double> times;
    for (const MidiNoteEvent& note : game.pendingNotes) {
        times.push_back(note.time);
    }
    return times;
}

// Fired copies carry their stem's index and reach the callback when there is a render state;
// batches of more than two are logged.
TEST(MasterClock, CopiesCarryTheirStemIndexAndReachTheCallback) {
    AudioSystem audio;
    GameState game;
    RenderState render;
    addStem(audio, 10.0, {1.0, 1.0, 1.0, 2.0});
    addStem(audio, 10.0, {1.0, 1.0, 1.0, 2.0});
    std::vector<int> seen;
    RenderState* seenRender = nullptr;
    game.noteCallback = [&](const MidiNoteEvent& note, RenderState* r) {
        seen.push_back(note.stemIndex);
        seenRender = r;
    };
    EXPECT_EQ(stdoutOf([&] { advanceMasterClockTo(audio, game, &render, 1.5); }),
              "MIDI: Triggered 6 events (master clock)\n");
    EXPECT_EQ(seen, std::vector<int>({0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(seenRender, &render);
    EXPECT_EQ(audio.stems[0].chart.notes[0].stemIndex, -1) << "the chart's own entries are untouched";

    EXPECT_EQ(stdoutOf([&] { advanceMasterClockTo(audio, game, nullptr, 2.5); }), "");
    EXPECT_EQ(seen.size(), 6u) << "no render state, no callback";
    EXPECT_EQ(game.pendingNotes.size(), 2u) << "the notes of the last step only";
}

// The clock state the straightforward rule keeps for one stem.
struct ReferenceState {
    double position = 0.0, clock = 0.0;
    unsigned loops = 0;
};

// The straightforward rule, note by note in chart order, as the reference for the fast version. An
// inactive stem fires nothing and keeps its state; the song time follows the active stems.
std::vector<MidiNoteEvent> referenceFire(const AudioSystem& audio, std::vector<ReferenceState>& states,
                                         double now, double& songTime) {
    std::vector<MidiNoteEvent> fired;
    for (size_t s = 0; s < audio.stems.size(); ++s) {
        const MidiChart& chart = audio.stems[s].chart;
        ReferenceState& state = states[s];
        if (!audio.stems[s].active) {
            continue;
        }
        const bool looping = audio.looping && chart.audioLength > 0.0;
        if (looping && now < state.clock) {
            state.position = 0.0;
            ++state.loops;
        }
        const double p = looping ? std::fmod(state.position, chart.audioLength) : state.position;
        const double n = looping ? std::fmod(now, chart.audioLength) : now;
        for (const MidiNoteEvent& note : chart.notes) {
            const double t = note.time;
            if (looping && n < p ? (t > p || t <= n) : (p < t && t <= n)) {
                fired.push_back(note);
                fired.back().stemIndex = static_cast<int>(s);
            }
        }
        state = {now, now, state.loops};
        songTime = now;
    }
    return fired;
}

// Random charts, loop lengths (some 0), stems switched on and off, and ticks with occasional jumps
// back; notes on grid points hit the interval ends.
TEST(MasterClock, FiresExactlyWhatTheNoteByNoteRuleFires) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 300; ++round) {
        AudioSystem a;
        a.playing = true;
        a.looping = round % 5 != 0;
        for (int s = 1 + static_cast<int>(unit(rng) * 4); s > 0; --s) {
            const double length = round % 7 == 0 ? 0.0 : 1.0 + unit(rng) * 20.0;
            std::vector<double> times(static_cast<size_t>(unit(rng) * 60));
            for (size_t i = 0; i < times.size(); ++i) {
                times[i] = i % 4 == 0 ? std::floor(unit(rng) * 8) * 0.25 : unit(rng) * (length + 1.0);
            }
            addStem(a, length, times);
        }
        std::vector<ReferenceState> states(a.stems.size());
        GameState g;
        double now = 0.0, songTime = g.songTime;
        for (int tick = 0; tick < 40; ++tick) {
            SCOPED_TRACE("round " + std::to_string(round) + " tick " + std::to_string(tick));
            now = std::max(now + (tick % 9 == 8 ? -unit(rng) * 3.0 : unit(rng) * 0.7), 0.0);
            for (LoadedStem& stem : a.stems) {
                stem.active = unit(rng) < 0.85;
            }
            const std::vector<MidiNoteEvent> expected = referenceFire(a, states, now, songTime);
            g.pendingNotes.clear();
            advanceMasterClockTo(a, g, nullptr, now);
            ASSERT_EQ(g.pendingNotes.size(), expected.size());
            for (size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(g.pendingNotes[i].time, expected[i].time);
                EXPECT_EQ(g.pendingNotes[i].note, expected[i].note);
                EXPECT_EQ(g.pendingNotes[i].stemIndex, expected[i].stemIndex);
            }
            EXPECT_EQ(g.songTime, songTime);
            for (size_t s = 0; s < states.size(); ++s) {
                const MidiChart& chart = a.stems[s].chart;
                ASSERT_EQ(chart.lastPosition, states[s].position);
                ASSERT_EQ(chart.lastClock, states[s].clock);
                ASSERT_EQ(chart.loopCount, states[s].loops);
            }
        }
    }
}

// The whole path the logic thread takes: the clock read from the voice group's mixed audio, less
// the player's offset, firing the notes that audio has reached, across the stem's loop point.
TEST(MasterClockOnTheEngine, FiresWhatTheMixedAudioHasReached) {
    AudioSystem audio;
    GameState game;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
    addStem(audio, 0.0, {0.01, 0.05, 0.09});
    LoadedStem& stem = audio.stems[0];
    stem.source = std::make_unique<Wav>();
    const std::vector<unsigned char> wav = makeFloatWav(std::vector<float>(4410, 0.0f), 1); // 0.1 s
    ASSERT_EQ(stem.source->loadMem(wav.data(), wav.size()), AudioResult::Ok);
    stem.chart.audioLength = stem.source->getLength();
    playAllStems(audio);
    testing::internal::GetCapturedStdout();
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

    stdoutOf([&] { stopAllStems(audio); });
    EXPECT_EQ(mixAndTick(441), std::vector<double>());
    EXPECT_DOUBLE_EQ(game.songTime, 0.125) << "stopped: the clock is not read";
    stdoutOf([&] { audioShutdown(audio); });
}

} // namespace
