#include "app/logic_thread.hpp"

#include "app/app.hpp"
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/master_clock.hpp"
#include "game/round_progress.hpp"

#include <algorithm>

#include <mutex>
#include <thread>

std::atomic<bool> gLogicStopRequested{false};

void logicTick(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (app.audio.playing) {
        advanceMasterClock(app.audio, app.game, &app.render);
        advanceRound(app.game, app.game.songTime, audioLayerRequests(app.audio));
    }
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

void refreshSongTime(AudioSystem& audio, GameState& game) {
    double now = 0.0, rate = 1.0;
    std::uint64_t at = 0;
    if (readMasterClock(audio, &now, &at, &rate)) {
        game.songTime = now;
        game.songTimeNs = at;
        game.songRate = rate;
    }
}

void advanceMasterClock(AudioSystem& audio, GameState& game, RenderState* render) {
    double now = 0.0, rate = 1.0;
    std::uint64_t at = 0;
    if (!readMasterClock(audio, &now, &at, &rate)) {
        return;
    }
    advanceMasterClockTo(audio, game, render, now);
    if (game.songTime == now) {
        // The moment that reading belongs to, and the clock's pace, for judging inputs by theirs.
        game.songTimeNs = at;
        game.songRate = rate;
    }
}

LayerRequests audioLayerRequests(AudioSystem& audio) {
    return {[&audio](int index) {
                if (index >= 0 && index < static_cast<int>(audio.stems.size())) {
                    fadeInStem(audio, index, audio.stems[static_cast<std::size_t>(index)].fadeDuration);
                }
            },
            [&audio](int index) { deactivateStem(audio, index); }};
}
