// A practice round's loop in the game's frame: at B the song goes back a bar before A, counts in,
// and the passage's circles are live again; the count-in's circles show but are not judged.
#include "app/app_screens.hpp"
#include "app/logic_thread.hpp"
#include "app/practice.hpp"
#include "app/replay_watch.hpp"
#include "app_test_support.hpp"
#include "audio/audio_system.hpp"
#include "game/round_progress.hpp"
#include "replay/round_replay.hpp"
#include "ui/practice_hud.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

class PracticeRound : public AudioApp {
protected:
    void SetUp() override {
        AudioApp::SetUp();
        loadSong(8.0).chart.notes = {noteOn(1.0, 20, 64), noteOn(2.0, 40, 64), noteOn(2.5, 60, 64)};
        app->running = true;
        app->practice.enabled = true;
        app->practice.speedPercent = 60;
        app->input.togglePlayback = true; // Space: the round starts, in practice
        frame();
    }
    void frame() {
        {
            std::lock_guard<std::mutex> lock(app->gameMutex);
            runFrameGameplay(*app, 0.01f);
        }
        endInputFrame(app->input);
    }
    // 10 ms of sound, a logic tick and a frame, until the song clock reaches `until` (or jumps).
    void playUntil(double until) {
        for (double before = app->game.songTime;
             app->game.songTime < until && app->game.songTime >= before;) {
            before = app->game.songTime;
            mix(441);
            logicTick(*app);
            frame();
        }
    }
};

} // namespace

TEST_F(PracticeRound, AtBTheSongCountsInABarBeforeAAndThePassageIsLiveAgain) {
    EXPECT_EQ(app->game.progress.startSpeedPercent, 60);
    stdoutOf([&] { playUntil(2.8); });
    const std::size_t decisions = app->game.outcomes.size(); // the three circles, missed
    app->practice.loop = PracticeLoop{true, true, 2.0, 3.0}; // at 120 BPM: the count-in from 0 s
    stdoutOf([&] { playUntil(3.2); });
    ASSERT_EQ(app->game.progress.jumps.size(), 1u);
    EXPECT_EQ(std::make_pair(app->game.progress.jumps[0].atUs, app->game.progress.jumps[0].toUs),
              std::make_pair(std::int64_t{3000000}, std::int64_t{0}));
    EXPECT_EQ(practiceCountIn(*app), 4) << "the song went back to the count-in's first beat";
    stdoutOf([&] { playUntil(1.6); });
    EXPECT_EQ(practiceCountIn(*app), 1);
    ASSERT_EQ(app->game.progress.ghosts.size(), 1u) << "the count-in's circle (1 s), shown";
    stdoutOf([&] { playUntil(2.9); });
    // The passage's two circles (2 and 2.5 s) were live again, and missed again; the count-in's
    // (1 s) was not judged.
    EXPECT_EQ(app->game.outcomes.size(), decisions + 2);

    // Watched, its replay plays at its speed, jumps where the round did and counts the same.
    const std::int64_t end = roundEndMicros(app->game.progress.applied);
    advanceRound(app->game, static_cast<double>(end) / 1e6, LayerRequests{});
    const Replay replay = replayOfRound(app->game, ReplayOrigin{}, end);
    const PracticeState player = app->practice;
    stdoutOf([&] { watchReplay(*app, replay); });
    EXPECT_DOUBLE_EQ(app->audio.playbackSpeed, 0.6);
    // The viewer sees the practice line, and after the jump its loop and the count-in.
    int highestFigure = 0;
    bool loopShown = false;
    stdoutOf([&] {
        for (int frames = 0; !watchedToTheEnd(*app) && frames < 2000; ++frames) {
            mix(441);
            logicTick(*app);
            frame();
            const PracticeView view = screenContext(*app).practice;
            EXPECT_TRUE(view.active && view.watched && view.speedPercent == 60);
            highestFigure = std::max(highestFigure, view.countIn);
            loopShown = loopShown || (view.hasEnd && view.start == 2.0 && view.end == 3.0);
        }
    });
    EXPECT_EQ(app->game.progress.jumps.size(), 1u);
    EXPECT_EQ(app->game.score, replay.result.score);
    EXPECT_EQ(app->game.outcomes.size(), replay.result.hits + replay.result.misses);
    EXPECT_EQ(highestFigure, 4);
    EXPECT_TRUE(loopShown);
    EXPECT_TRUE(app->practice.loop.hasEnd && app->practice.loop.start == player.loop.start &&
                app->practice.loop.end == player.loop.end &&
                app->practice.speedPercent == player.speedPercent)
        << "watching leaves the player's practice alone";
}

// A watched practice replay's line: its speed as recorded (a pause changed it), no loop before the
// first jump (its marks are not recorded), the jump's loop until the round goes on past its B, and
// the count-in over the bar the song went back to. The viewer gets no marking hints.
TEST(WatchedPractice, ShowsTheRecordedSpeedTheJumpsLoopAndTheCountIn) {
    ReplayWatch watch;
    watch.active = true;
    watch.replay.practiceSpeedPercent = 60;
    watch.replay.pauses = {RoundPause{2'500'000, 500'000, 80}};
    watch.replay.loopJumps = {LoopJump{3'000'000, 1'000'000, 2'000'000, 0, 1}};
    const double beat = 0.25; // the count-in bar runs from 1 s to A at 2 s
    const struct {
        std::size_t nextPause, nextJump;
        double songTime, applied;
        std::int32_t speed;
        bool loop;
        int figure;
    } cases[] = {
        {0, 0, 1.0, 1.0, 60, false, 0}, // before the pause and the jump
        {1, 0, 2.9, 2.9, 80, false, 0}, // played on at 80 %, the loop not yet known
        {1, 1, 1.0, 1.0, 80, true, 4},  // back at the bar's first beat
        {1, 1, 1.8, 1.8, 80, true, 1},  // its last
        {1, 1, 2.0, 2.0, 80, true, 0},  // A: the passage is live
        {1, 1, 3.02, 3.0, 80, true, 0}, // the clock past B, the next jump not acted out yet
        {1, 1, 3.2, 3.2, 80, false, 0}, // the round went on past B: the loop ran no more
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.songTime);
        watch.nextPause = c.nextPause;
        watch.nextJump = c.nextJump;
        const PracticeView view = watchedPracticeView(watch, c.songTime, c.applied, beat);
        EXPECT_TRUE(view.active && view.watched);
        EXPECT_EQ(view.speedPercent, c.speed);
        EXPECT_EQ(view.hasEnd, c.loop);
        EXPECT_EQ(view.hasEnd ? std::make_pair(view.start, view.end) : std::make_pair(0.0, 0.0),
                  c.loop ? std::make_pair(2.0, 3.0) : std::make_pair(0.0, 0.0));
        EXPECT_EQ(view.countIn, c.figure);
        EXPECT_EQ(practiceHudText(view).find(" mark"), std::string::npos);
    }
    watch.replay.practiceSpeedPercent = 0; // a round in earnest
    EXPECT_FALSE(watchedPracticeView(watch, 1.0, 1.0, beat).active);
}
