#include "app/logic_thread.hpp"

#include "app/app.hpp"
#include "game/master_clock.hpp"
#include "base/log.hpp"
#include "game/circles.hpp"
#include "game/scoring.hpp"

#include <mutex>
#include <thread>

std::atomic<bool> gLogicStopRequested{false};

void logicTick(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (app.audio.playing) {
        advanceMasterClock(app.audio, app.game, &app.render);
    }
    spawnTick(app.game, app.render, app.audio);
    layerStep(app.game, app.audio);
    app.logicTicks.fetch_add(1, std::memory_order_relaxed);
}

void logicThreadMain(App* app) {
    logMessage("Game logic thread started");
    for (;;) {
        if (gLogicStopRequested.load() || !app->running) {
            logMessage("Game logic thread ended");
            return;
        }
        const auto tickStart = std::chrono::steady_clock::now();
        logicTick(*app);
        std::this_thread::sleep_until(tickStart + kLogicTickPeriod);
    }
}
