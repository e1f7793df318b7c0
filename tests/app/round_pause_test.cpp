// Pausing a round: the song holds, Resume rewinds 2 s and counts down, the replayed span can be
// neither hit nor missed again (its judged circles come back as ghosts), and the pause goes into the
// round's record.
#include "app/logic_thread.hpp"
#include "app/replay_watch.hpp"
#include "app/round_pause.hpp"
#include "app_test_support.hpp"
#include "render/circle_renderer.hpp"
#include "replay/round_replay.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

class PausedRound : public AudioApp {
protected:
    void SetUp() override {
        AudioApp::SetUp();
        loadSong(8.0).chart.notes = {noteOn(1.0, 20, 64), noteOn(1.5, 40, 64), noteOn(3.5, 60, 64)};
        app->running = true;
        app->input.togglePlayback = true; // Space: the round starts
        frame();
    }
    void frame() {
        {
            std::lock_guard<std::mutex> lock(app->gameMutex);
            runFrameGameplay(*app, 0.01f);
        }
        endInputFrame(app->input);
    }
    // 10 ms of sound, a logic tick and a frame, until the song clock reaches `until`.
    void playUntil(double until) {
        while (app->game.songTime < until) {
            mix(441);
            logicTick(*app);
            frame();
        }
    }
    // Finger 7 comes down and goes up this frame at (x, y) (drawable pixels, y downward).
    void tap(float x, float y) {
        app->input.touches[7] = TouchPoint{false, true, true, x, y};
        app->input.actions.push_back({InputKind::Press, InputDevice::Finger, 7, 0, x, y, 0});
        app->input.actions.push_back({InputKind::Release, InputDevice::Finger, 7, 0, x, y, 0});
    }
    // A finger press, this frame, on the circle of key number `note` (it must be on screen).
    void pressCircle(int note) {
        for (const Circle& circle : app->game.circles) {
            if (circle.note == note && !circle.hit) {
                tap(circle.x, 1080.0f - circle.y);
                return;
            }
        }
        ADD_FAILURE() << "no circle of note " << note;
    }
};

} // namespace

TEST_F(PausedRound, ResumeRewindsNothingIsScoredTwiceAndItsReplayRewindsAlike) {
    stdoutOf([&] {
        playUntil(1.5);
        pressCircle(40); // the second tap, on time; the first has been missed
        frame();
        playUntil(3.44); // just before the third tap
    });
    const std::int32_t score = app->game.score;
    const std::size_t decisions = app->game.outcomes.size();
    ASSERT_GT(score, 0);
    ASSERT_EQ(decisions, 2u);

    stdoutOf([&] { pauseRound(*app); });
    const double pausedAt = app->game.songTime;
    EXPECT_TRUE(app->pause.paused && app->audio.paused);
    stdoutOf([&] {
        mix(4410); // the song holds, whatever the device mixes
        frame();
    });
    EXPECT_NEAR(app->game.songTime, pausedAt, 1e-9);
    // A clock still settling after the stop (a device's last period) does not carry the round on:
    // the tap of 3.5 s, over at 3.7 s, is not missed while paused.
    stdoutOf([&] {
        resumeAllStems(app->audio); // the sound runs on 0.3 s under the paused round
        mix(13230);
        logicTick(*app);
        frame();
        pauseAllStems(app->audio);
    });
    EXPECT_EQ(app->game.outcomes.size(), decisions);
    EXPECT_LT(app->game.progress.applied, pausedAt + 0.001);

    stdoutOf([&] { resumeRound(*app); });
    EXPECT_TRUE(app->pause.countingDown);
    EXPECT_NEAR(app->pause.resumeFrom, pausedAt - kPauseRewindSeconds, 1e-9);
    stdoutOf([&] {
        mix(441);
        frame();
    });
    EXPECT_NEAR(app->game.songTime, pausedAt - kPauseRewindSeconds, 0.002) << "the clock went back 2 s";
    // On screen at 1.44 s: the tap hit at 1.5 s, as a ghost; not the one missed at 1.0 s (over by
    // 1.2 s), nor the live one of 3.5 s, whose spawn the song has not reached again.
    CircleBatch batch;
    buildCircleBatch(app->game, batch);
    ASSERT_EQ(batch.count, 1);
    EXPECT_EQ(batch.source[0], kGhostSource);
    EXPECT_EQ(batch.active[0], kGhostActive);
    EXPECT_EQ(app->game.progress.ghosts.at(0).note, 40);
    // The countdown runs on frame time; presses meanwhile do nothing.
    stdoutOf([&] {
        pauseFrame(*app, 2.0f);
        EXPECT_TRUE(app->pause.paused);
        pauseFrame(*app, 1.0f);
    });
    EXPECT_FALSE(app->pause.paused || app->audio.paused);

    // The song plays the rewound span again: its circles are neither hit nor missed again, and a
    // press in it does not count, not even on the circle just after it.
    stdoutOf([&] {
        playUntil(1.5);
        tap(600.0f, 540.0f); // the second tap's place
        frame();
        playUntil(3.41);
        buildCircleBatch(app->game, batch);
        pressCircle(60);
        frame();
    });
    ASSERT_EQ(batch.count, 1) << "the ghost's time is over; the live circle is back";
    EXPECT_EQ(batch.active[0], 1);
    EXPECT_EQ(app->game.score, score);
    EXPECT_EQ(app->game.outcomes.size(), decisions);
    // Past where it was paused, the round goes on: the third tap is hit.
    stdoutOf([&] {
        playUntil(3.49);
        pressCircle(60);
        frame();
    });
    EXPECT_GT(app->game.score, score);
    EXPECT_EQ(app->game.outcomes.size(), decisions + 1);
    EXPECT_TRUE(app->game.progress.ghosts.empty());
    ASSERT_EQ(app->game.progress.pauses.size(), 1u);
    EXPECT_EQ(app->game.progress.pauses[0].atUs, songTimeToMicros(pausedAt));
    EXPECT_EQ(app->game.progress.pauses[0].resumeUs, songTimeToMicros(pausedAt - kPauseRewindSeconds));

    // Watched, the round's replay rewinds where it did, shows the same ghost, and counts the same.
    const std::int64_t end = roundEndMicros(app->game.progress.applied);
    advanceRound(app->game, static_cast<double>(end) / 1e6, LayerRequests{});
    const Replay replay = replayOfRound(app->game, ReplayOrigin{}, end);
    stdoutOf([&] { watchReplay(*app, replay); });
    double previous = 0.0, rewoundFrom = -1.0;
    std::size_t ghosts = 0;
    stdoutOf([&] {
        while (app->game.songTime < static_cast<double>(end) / 1e6) {
            mix(441);
            logicTick(*app);
            frame();
            if (app->game.songTime < previous - 1.0) {
                rewoundFrom = previous;
            }
            previous = app->game.songTime;
            ghosts = std::max(ghosts, app->game.progress.ghosts.size());
        }
    });
    EXPECT_NEAR(rewoundFrom, pausedAt, 0.02);
    EXPECT_EQ(ghosts, 1u);
    EXPECT_EQ(app->game.score, replay.result.score);
    EXPECT_EQ(app->game.outcomes.size(), decisions + 1);
}

TEST_F(PausedRound, EscapePausesARoundAndResumesAPausedOne) {
    app->input.pauseRequested = true;
    stdoutOf([&] { handlePauseKeys(*app); });
    EXPECT_TRUE(app->pause.paused);
    stdoutOf([&] { handlePauseKeys(*app); });
    EXPECT_TRUE(app->pause.countingDown) << "Escape on the overlay is Resume";
    app->pause = PauseState{};
    app->input.pauseRequested = false;
    app->input.focusLost = true;
    app->options.autoplay = true;
    stdoutOf([&] { handlePauseKeys(*app); });
    EXPECT_FALSE(app->pause.paused) << "the bot plays on without the focus";
    app->options.autoplay = false;
    stdoutOf([&] { handlePauseKeys(*app); });
    EXPECT_TRUE(app->pause.paused);
}
