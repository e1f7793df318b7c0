// The 120 Hz logic thread: stopping, and its note pulses meeting the frame under the game mutex.
#include "app/logic_thread.hpp"
#include "app_test_support.hpp"
#include "audio/stem_layering.hpp"
#include "render/shader_uniforms.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace gametest;

namespace {

// Waits for the logic thread by watching its tick counter; yields, never sleeps a fixed time.
void waitForTicks(const App& app, std::uint64_t ticks) {
    while (app.logicTicks.load() < ticks) {
        std::this_thread::yield();
    }
}

TEST(LogicThread, TheClockStandsStillWhileStoppedAndTheThreadEndsWithinATickOfTheFlag) {
    gLogicStopRequested.store(false);
    auto app = std::make_unique<App>();
    app->running = true;
    app->audio.looping = true;
    addStem(app->audio, 10.0).chart.notes = {noteOn(0.5, 40)}; // due, but playback is stopped
    std::thread logic(logicThreadMain, app.get());
    waitForTicks(*app, 5);
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        EXPECT_DOUBLE_EQ(app->game.songTime, 0.0);
        EXPECT_DOUBLE_EQ(app->audio.stems[0].chart.lastClock, 0.0);
        EXPECT_TRUE(app->game.pendingNotes.empty() && app->game.circles.empty());
    }
    gLogicStopRequested.store(true);
    const std::uint64_t atStop = app->logicTicks.load();
    logic.join();
    EXPECT_LE(app->logicTicks.load(), atStop + 1) << "at most the tick under way finishes";
    gLogicStopRequested.store(false);

    app->running = false;
    const std::uint64_t before = app->logicTicks.load();
    std::thread idle(logicThreadMain, app.get());
    idle.join();
    EXPECT_EQ(app->logicTicks.load(), before) << "an app no longer running ends it before its first tick";
}

// Note pulses written on the logic thread and animated by the frame: ThreadSanitizer runs this too.
class FramePulses : public AudioApp {};

TEST_F(FramePulses, NotePulsesFromTheLogicThreadMeetTheFrameUnderTheGameMutex) {
    gLogicStopRequested.store(false);
    LoadedStem& stem = loadSong(1.0);
    for (int i = 0; i < 100; ++i) { // a low, loud note every 10 ms
        stem.chart.notes.push_back(noteOn(0.005 + 0.01 * i, 40, 127));
    }
    setStemSlotDefaults(app->render);
    app->game.noteCallback = pulseStem;
    app->running = true;
    stdoutOf([&] {
        playAllStems(app->audio);
        activateFirstStem(app->audio);
    });

    std::thread logic(logicThreadMain, app.get());
    int pulsesSeen = 0;
    for (int frame = 0; frame < 40; ++frame) {
        mix(512); // the song clock moves on by 11.6 ms
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
}

} // namespace
