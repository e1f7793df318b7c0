#include "app/app.hpp"
#include "app/logic_thread.hpp"

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

} // namespace
