// A round driven through the app's frame and tick without a window: Space stops the song and
// starts it again from the top, and nothing of the first run may follow into the second.
#include "app/app.hpp"
#include "app/logic_thread.hpp"
#include "audio/audio_test_util.hpp"
#include "audio/stem_layering.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace {

class RoundFrames : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<App>();
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(audioInit(app->audio, AudioBackend::NullDriver));
        ASSERT_TRUE(
            loadStem(app->audio, dir.write("song.wav", makeFloatWav(rampSamples(4 * 44100, 0.1f), 2))));
        ::testing::internal::GetCapturedStdout();
        LoadedStem& stem = app->audio.stems[0];
        stem.chart.loaded = true;
        stem.chart.audioLength = 4.0;
        const struct {
            double time;
            int channel;
            double duration;
        } notes[] = {{1.0, 0, 0.1}, {1.2, 1, 1.0}, {1.6, 0, 0.1}, {2.0, 0, 0.1}};
        for (const auto& n : notes) {
            MidiNoteEvent note;
            note.time = n.time;
            note.note = 30 + static_cast<int>(10 * n.time);
            note.velocity = 64;
            note.channel = n.channel;
            note.duration = n.duration;
            note.isNoteOn = true;
            stem.chart.notes.push_back(note);
        }
        initGameState(app->game, 8);
        app->render.width = 1920;
        app->render.height = 1080;
        app->running = true;
    }
    void TearDown() override {
        ::testing::internal::CaptureStdout();
        audioShutdown(app->audio);
        ::testing::internal::GetCapturedStdout();
    }

    // Frames of 10 ms of sound each (mix, logic tick, frame) until the song clock reaches `until`.
    void playUntil(double until) {
        std::vector<float> mix(441 * 2);
        while (app->game.songTime < until) {
            app->audio.engine->mix(mix.data(), 441);
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

    ScratchDir dir{"round_frames"};
    std::unique_ptr<App> app;
};

TEST_F(RoundFrames, SpaceStopAndRestartLeaveNothingOfTheOldRun) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    pressSpace();
    ASSERT_TRUE(app->game.playing);
    playUntil(1.05);
    // A finger goes down on the hold circle and stays.
    float holdX = -1.0f, holdY = -1.0f;
    for (const Circle& circle : app->game.circles) {
        if (circle.channel == kHoldChannel) {
            holdX = circle.x;
            holdY = circle.y;
        }
    }
    ASSERT_GE(holdX, 0.0f);
    playUntil(1.22); // the first tap has been missed
    app->input.touches[5] = TouchPoint{true, true, false, holdX, 1080.0f - holdY};
    frame();
    ASSERT_EQ(app->game.pointerHolds.count(5), 1u);
    const std::int32_t score = app->game.score;
    ASSERT_GT(score, 0);

    pressSpace(); // stop
    EXPECT_FALSE(app->game.playing);
    EXPECT_TRUE(app->game.circles.empty());
    EXPECT_TRUE(app->game.pendingNotes.empty());
    EXPECT_TRUE(app->game.pointerHolds.empty());
    EXPECT_TRUE(app->game.keyHolds.empty());
    EXPECT_EQ(app->game.score, score) << "the score stays";
    const std::string firstRun = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(firstRun.find("Miss registered (1/3)"), std::string::npos);

    // Again from the top, the finger still down, then let go before the first note comes round.
    ::testing::internal::CaptureStdout();
    pressSpace();
    playUntil(0.9);
    for (const Circle& circle : app->game.circles) {
        EXPECT_LE(circle.time, app->game.songTime + 1.0) << "only circles of the new run";
    }
    app->input.touches[5].held = false;
    app->input.touches[5].released = true;
    frame();
    playUntil(0.95);
    const std::string secondRun = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(secondRun.find("Miss registered"), std::string::npos) << secondRun;
    EXPECT_EQ(app->game.missStreak, 0u);
    EXPECT_EQ(app->game.score, score);
}

} // namespace
