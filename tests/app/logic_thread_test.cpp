#include "app/app.hpp"
#include "app/logic_thread.hpp"
#include "audio/audio_test_util.hpp"
#include "audio/stem_layering.hpp"
#include "render/shader_uniforms.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

// Waits for the logic thread by watching its tick counter; yields, never sleeps a fixed time.
void waitForTicks(const App& app, std::uint64_t ticks) {
    while (app.logicTicks.load() < ticks) {
        std::this_thread::yield();
    }
}

class LogicThread : public ::testing::Test {
protected:
    void SetUp() override {
        gLogicStopRequested.store(false);
        app = std::make_unique<App>();
        app->running = true;
        app->audio.looping = true;
        // A stem with a due note: while playback is stopped it must not fire.
        app->audio.stems.emplace_back();
        LoadedStem& stem = app->audio.stems.back();
        stem.active = true;
        stem.chart.loaded = true;
        stem.chart.audioLength = 10.0;
        MidiNoteEvent note;
        note.time = 0.5;
        note.isNoteOn = true;
        note.velocity = 100;
        stem.chart.notes.push_back(note);
    }
    void TearDown() override { gLogicStopRequested.store(false); }
    std::unique_ptr<App> app;
};

TEST_F(LogicThread, StopsWithinATickOfTheStopFlag) {
    std::thread logic(logicThreadMain, app.get());
    waitForTicks(*app, 3);
    gLogicStopRequested.store(true);
    const std::uint64_t atStop = app->logicTicks.load();
    logic.join();
    EXPECT_LE(app->logicTicks.load(), atStop + 1) << "at most the tick under way finishes";
}

TEST_F(LogicThread, EndsWhenTheAppStopsRunning) {
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        app->running = false;
    }
    std::thread logic(logicThreadMain, app.get());
    logic.join();
    EXPECT_EQ(app->logicTicks.load(), 0u);
}

TEST_F(LogicThread, ClockStandsStillWhilePlaybackIsStopped) {
    std::thread logic(logicThreadMain, app.get());
    waitForTicks(*app, 5);
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        EXPECT_FALSE(app->audio.playing);
        EXPECT_DOUBLE_EQ(app->game.songTime, 0.0);
        EXPECT_TRUE(app->game.pendingNotes.empty());
        EXPECT_DOUBLE_EQ(app->audio.stems[0].chart.lastClock, 0.0);
        EXPECT_TRUE(app->game.circles.empty());
    }
    gLogicStopRequested.store(true);
    logic.join();
}

// The master clock's note callback writes the background's stem slots on the logic thread while
// the frame animates the same slots on the main thread. Both run under the game mutex; the
// ThreadSanitizer build runs this test to hold them to it.
TEST(FramePulses, NotePulsesFromTheLogicThreadMeetTheFrameUnderTheGameMutex) {
    gLogicStopRequested.store(false);
    auto app = std::make_unique<App>();
    ScratchDir dir("frame_pulses");
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(audioInit(app->audio, AudioBackend::NullDriver));
    ASSERT_TRUE(loadStem(app->audio, dir.write("beat.wav", makeFloatWav(rampSamples(44100, 0.1f), 2))));
    LoadedStem& stem = app->audio.stems[0];
    stem.chart.loaded = true;
    stem.chart.audioLength = 1.0;
    for (int i = 0; i < 100; ++i) { // a low, loud note every 10 ms
        MidiNoteEvent note;
        note.time = 0.005 + 0.01 * i;
        note.note = 40;
        note.velocity = 127;
        note.isNoteOn = true;
        stem.chart.notes.push_back(note);
    }
    setStemSlotDefaults(app->render);
    app->game.noteCallback = pulseStem;
    app->running = true;
    playAllStems(app->audio);
    activateFirstStem(app->audio);
    ::testing::internal::GetCapturedStdout();

    std::thread logic(logicThreadMain, app.get());
    std::vector<float> mix(512 * 2);
    int pulsesSeen = 0;
    for (int frame = 0; frame < 40; ++frame) {
        app->audio.engine->mix(mix.data(), 512); // the song clock moves on by 11.6 ms
        waitForTicks(*app, app->logicTicks.load() + 1);
        std::lock_guard<std::mutex> lock(app->gameMutex);
        pulsesSeen += app->render.stemPulsing[0] ? 1 : 0;
        runFrameGameplay(*app, 1.0f / 60.0f);
    }
    gLogicStopRequested.store(true);
    logic.join();
    gLogicStopRequested.store(false);
    EXPECT_GT(pulsesSeen, 0);
    EXPECT_GT(app->render.frameCount, 0);
    ::testing::internal::CaptureStdout();
    audioShutdown(app->audio);
    ::testing::internal::GetCapturedStdout();
}

} // namespace
