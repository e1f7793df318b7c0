// A practice round's loop in the game's frame: at B the song goes back a bar before A, counts in,
// and the passage's circles are live again; the count-in's circles show but are not judged.
#include "app/logic_thread.hpp"
#include "app/practice.hpp"
#include "app/replay_watch.hpp"
#include "app_test_support.hpp"
#include "audio/audio_system.hpp"
#include "game/round_progress.hpp"
#include "replay/round_replay.hpp"

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
    stdoutOf([&] { watchReplay(*app, replay); });
    EXPECT_DOUBLE_EQ(app->audio.playbackSpeed, 0.6);
    stdoutOf([&] {
        for (int frames = 0; !watchedToTheEnd(*app) && frames < 2000; ++frames) {
            mix(441);
            logicTick(*app);
            frame();
        }
    });
    EXPECT_EQ(app->game.progress.jumps.size(), 1u);
    EXPECT_EQ(app->game.score, replay.result.score);
    EXPECT_EQ(app->game.outcomes.size(), replay.result.hits + replay.result.misses);
}
