// A round through the app's frame and tick: Space stops and restarts it with nothing left over.
#include "app/logic_thread.hpp"
#include "app_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace gametest;

namespace {

class RoundFrames : public AudioApp {
protected:
    void SetUp() override {
        AudioApp::SetUp();
        loadSong(4.0).chart.notes = {noteOn(1.0, 40, 64), noteOn(1.2, 42, 64, kHoldChannel, 1.0),
                                     noteOn(1.6, 46, 64), noteOn(2.0, 50, 64)};
        app->running = true;
    }
    // Frames of 10 ms of sound each (mix, logic tick, frame) until the song clock reaches `until`.
    void playUntil(double until) {
        while (app->game.songTime < until) {
            mix(441);
            logicTick(*app);
            frame();
        }
    }
    void frame() {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        runFrameGameplay(*app, 0.01f);
        endInputFrame(app->input);
    }
    void pressSpace() {
        app->input.togglePlayback = true;
        frame();
    }
};

TEST_F(RoundFrames, SpaceStopAndRestartLeaveNothingOfTheOldRun) {
    std::int32_t score = 0;
    const std::string firstRun = stdoutOf([&] {
        pressSpace();
        ASSERT_TRUE(app->game.playing);
        playUntil(1.22); // the first tap has been missed
        // A finger goes down on the hold circle and stays.
        const auto hold = std::find_if(app->game.circles.begin(), app->game.circles.end(),
                                       [](const Circle& circle) { return circle.channel == kHoldChannel; });
        ASSERT_NE(hold, app->game.circles.end());
        app->input.touches[5] = TouchPoint{true, true, false, hold->x, 1080.0f - hold->y};
        app->input.actions.push_back(
            {InputKind::Press, InputDevice::Finger, 5, 0, hold->x, 1080.0f - hold->y, 0});
        frame();
        ASSERT_EQ(app->game.holds.count({InputDevice::Finger, 5}), 1u);
        score = app->game.score;
        ASSERT_GT(score, 0);

        pressSpace(); // stop
    });
    ASSERT_FALSE(HasFatalFailure()) << firstRun;
    EXPECT_NE(firstRun.find("Miss registered (1/3)"), std::string::npos);
    EXPECT_FALSE(app->game.playing);
    EXPECT_TRUE(app->game.circles.empty() && app->game.pendingNotes.empty());
    EXPECT_TRUE(app->game.holds.empty());
    EXPECT_EQ(app->game.missStreak, 0u);
    EXPECT_EQ(app->game.score, score) << "the score stays";

    // Again from the top, the finger still down, then let go before the first note comes round.
    const std::string secondRun = stdoutOf([&] {
        pressSpace();
        playUntil(0.9);
        for (const Circle& circle : app->game.circles) {
            EXPECT_LE(circle.time, app->game.songTime + 1.0) << "only circles of the new run";
        }
        app->input.touches[5].held = false;
        app->input.touches[5].released = true;
        app->input.actions.push_back({InputKind::Release, InputDevice::Finger, 5, 0, 0, 0, 0});
        frame();
        playUntil(0.95);
    });
    EXPECT_EQ(secondRun.find("Miss registered"), std::string::npos) << secondRun;
    EXPECT_EQ(app->game.missStreak, 0u);
    EXPECT_EQ(app->game.score, score);
}

} // namespace
