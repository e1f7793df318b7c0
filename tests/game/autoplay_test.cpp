// The autoplay bot on synthetic charts, driven tick by tick and frame by frame as the logic
// thread and the main loop would, with no window or audio device.
#include "app/input.hpp"
#include "game/autoplay.hpp"
#include "game/circles.hpp"
#include "game/judgement.hpp"
#include "game/scoring.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace gametest;

namespace {

constexpr int kHeight = 1080;

struct RunResult {
    int presses = 0;
    int notPerfect = 0;
    double worstOffset = 0.0; // largest |note time - song time| of a judged press
};

// Plays the level until `end` seconds: logic ticks at 120 Hz (clock, spawn, layer step) and
// frames every `frameDt` (update, bot, judgement, end of frame).
RunResult playWithBot(AudioSystem &audio, GameState &game, double end, double frameDt) {
    const RenderState render = fullHdRender();
    AutoplayState bot;
    autoplayStart(bot);
    InputState input;
    RunResult result;
    const double tickPeriod = 1.0 / 120.0;
    double nextTick = 0.0;
    double nextFrame = 0.0;
    while (std::min(nextTick, nextFrame) < end) {
        if (nextTick <= nextFrame) {
            game.songTime = nextTick; // the master clock publishes the stream time
            spawnTick(game, render, audio);
            layerStep(game, audio);
            nextTick += tickPeriod;
            continue;
        }
        updateCircles(game, static_cast<float>(frameDt));
        autoplayFrame(bot, game, input, kHeight);
        for (const auto &entry : input.touches) {
            if (!entry.second.pressed) {
                continue;
            }
            const std::int32_t index = findCircleAt(game, entry.second.x, kHeight - entry.second.y);
            if (index < 0) {
                continue;
            }
            const Circle &circle = game.circles[static_cast<std::size_t>(index)];
            ++result.presses;
            if (judgementFor(accuracyAt(circle, game.songTime)) != Judgement::PERFECT) {
                ++result.notPerfect;
            }
            result.worstOffset = std::max(result.worstOffset, std::fabs(circle.time - game.songTime));
        }
        handleGameplayInput(game, input, kHeight);
        endInputFrame(input);
        nextFrame += frameDt;
    }
    return result;
}

// A chart of taps and holds: keys and velocities spread over the screen, repeats on one spot a
// few hundredths apart, a tap landing on a held spot, and holds from zero length to 1.5 s.
std::vector<MidiNoteEvent> mixedChart(int *successes) {
    std::vector<MidiNoteEvent> notes;
    int count = 0;
    auto tap = [&](double t, int key, int velocity) {
        notes.push_back(noteOn(t, key, velocity));
        notes.push_back(noteOff(t + 0.1, key));
        count += 1;
    };
    auto hold = [&](double t, int key, int velocity, double length) {
        notes.push_back(noteOn(t, key, velocity, 1, length));
        count += 2; // the graded press and the completed hold
    };
    for (int i = 0; i < 24; ++i) {
        tap(2.0 + 0.25 * i, (i * 37) % 128, 10 + (i * 29) % 117);
    }
    tap(9.0, 60, 80);
    tap(9.05, 60, 80); // same spot, 50 ms later
    tap(9.093, 60, 80);
    hold(10.0, 20, 50, 1.0);
    tap(10.4, 20, 50); // on the held spot
    hold(12.0, 90, 100, 0.0);
    hold(12.5, 100, 30, 0.15);
    hold(13.0, 5, 120, 1.5);
    hold(13.2, 120, 64, 0.4); // two holds at once
    for (int i = 0; i < 8; ++i) {
        tap(13.3 + 0.11 * i, 64 + i, 64);
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const MidiNoteEvent &a, const MidiNoteEvent &b) { return a.time < b.time; });
    *successes = count;
    return notes;
}

} // namespace

TEST(Autoplay, StartLogsOnce) {
    AutoplayState bot;
    bot.nextFingerId = 5;
    testing::internal::CaptureStdout();
    autoplayStart(bot);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Autoplay enabled\n");
    EXPECT_EQ(bot.nextFingerId, kAutoplayFingerBase);
}

TEST(Autoplay, ScoresOnlyPerfectHitsAndNeverMissesAtAnyFrameRate) {
    for (double frameDt : {1.0 / 60.0, 1.0 / 144.0, 1.0 / 30.0, 1.0 / 97.0}) {
        AudioSystem audio;
        audio.playing = true;
        audio.looping = false;
        int successes = 0;
        addStem(audio, 0.0).chart.notes = mixedChart(&successes);
        GameState game = playingGame();
        game.totalLayers = 1;
        testing::internal::CaptureStdout();
        const RunResult result = playWithBot(audio, game, 17.0, frameDt);
        const std::string log = testing::internal::GetCapturedStdout();
        SCOPED_TRACE(frameDt);
        EXPECT_EQ(result.notPerfect, 0);
        EXPECT_EQ(log.find("Miss registered"), std::string::npos);
        EXPECT_EQ(game.combo, successes);
        EXPECT_EQ(game.highestCombo, successes);
        EXPECT_EQ(game.missStreak, 0u);
        EXPECT_TRUE(game.circles.empty());
        EXPECT_TRUE(game.pointerHolds.empty());
        // Pressed on the frame nearest the note: never more than one frame (or tick) away.
        EXPECT_LE(result.worstOffset, std::max(frameDt, 1.0 / 120.0) + 1e-9);
    }
}

TEST(Autoplay, PlaysLoopingLayeredSongsAndLeavesTheKeysAlone) {
    AudioSystem audio;
    audio.playing = true;
    for (int s = 0; s < 3; ++s) {
        LoadedStem &stem = addStem(audio, 4.0, s == 0);
        for (int i = 0; i < 8; ++i) {
            const bool isHold = (i + s) % 5 == 0;
            stem.chart.notes.push_back(
                noteOn(0.5 * i + 0.1 * s, 16 * s + 3 * i, 30 + 11 * i, isHold ? 1 : 0, 0.3));
        }
    }
    GameState game = playingGame();
    game.keyboardGameplay = true; // fingers still work; the bot presses no keys
    testing::internal::CaptureStdout();
    const RunResult result = playWithBot(audio, game, 20.0, 1.0 / 60.0);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.notPerfect, 0);
    EXPECT_EQ(log.find("Miss registered"), std::string::npos);
    EXPECT_EQ(game.activeLayers, 3) << "the run of hits brought in every stem";
    EXPECT_GT(game.combo, 40);
}

TEST(Autoplay, PressesNothingWhileNoRoundPlaysAndNeverWritesTheGame) {
    GameState game = playingGame();
    game.playing = false;
    Circle circle;
    circle.x = 100;
    circle.y = 200;
    circle.time = 1.0;
    game.circles.push_back(circle);
    game.songTime = 1.0;
    AutoplayState bot;
    InputState input;
    autoplayFrame(bot, game, input, kHeight);
    EXPECT_TRUE(input.touches.empty());

    game.playing = true;
    autoplayFrame(bot, game, input, kHeight);
    ASSERT_EQ(input.touches.size(), 1u);
    const auto &[finger, touch] = *input.touches.begin();
    EXPECT_GE(finger, kAutoplayFingerBase);
    EXPECT_TRUE(touch.pressed && touch.held);
    EXPECT_FLOAT_EQ(touch.x, 100.0f);
    EXPECT_FLOAT_EQ(touch.y, 880.0f) << "SDL's y runs downward";
    EXPECT_FALSE(game.circles[0].hit) << "only the judgement changes circles";
}
