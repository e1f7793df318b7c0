#include "app/round_pause.hpp"

#include "app/app.hpp"
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/round_progress.hpp"
#include "ui/ui_system.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

bool roundInPlay(const App& app) { return app.game.playing && app.audio.playing; }

void pauseRound(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (!roundInPlay(app) || app.pause.paused) {
        return;
    }
    pauseAllStems(app.audio);
    app.pause = PauseState{};
    app.pause.paused = true;
    app.pause.at = std::max(app.game.songTime, app.game.progress.applied);
    logMessage("Round paused at %.3f s", app.pause.at);
}

void resumeRound(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (!app.pause.paused || app.pause.countingDown) {
        return;
    }
    // Not before the round's start, nor, after a practice loop's jump, before where the song went back to.
    double start = app.game.layerTimeline.empty() ? 0.0 : app.game.layerTimeline.front().at;
    if (!app.game.progress.jumps.empty()) {
        start = static_cast<double>(app.game.progress.jumps.back().toUs) / 1e6;
    }
    const double from = std::max(start, app.pause.at - kPauseRewindSeconds);
    // The group clock counts audio positions; the song clock runs the player's offset behind it.
    if (seekAllStems(app.audio, std::max(0.0, from + app.audio.clockOffset * app.audio.playbackSpeed))) {
        app.game.songTime = from;
        app.game.songTimeNs = 0;
    }
    app.pause.resumeFrom = from;
    app.pause.countingDown = true;
    app.pause.countdownLeft = kResumeCountdownSeconds;
    rewindRound(app.game, app.pause.at, from);
    logMessage("Round resumes from %.3f s", from);
}

void pauseFrame(App& app, float dt) {
    if (app.pause.paused && !app.pause.countingDown) {
        const float before = app.pause.heldFor;
        app.pause.heldFor += dt;
        if (gUI.trace && std::floor(app.pause.heldFor) > std::floor(before)) {
            std::lock_guard<std::mutex> lock(app.gameMutex);
            logMessage("Round held at %.3f s", app.game.songTime);
        }
        return;
    }
    if (!app.pause.countingDown) {
        return;
    }
    app.pause.countdownLeft -= dt;
    if (app.pause.countdownLeft > 0.0f) {
        return;
    }
    std::lock_guard<std::mutex> lock(app.gameMutex);
    resumeAllStems(app.audio);
    app.pause = PauseState{};
}

void handlePauseKeys(App& app) {
    if (app.watch.active) {
        if (app.input.pauseRequested) {
            stopWatching(app); // Escape leaves a replay; nothing to pause
        }
        return;
    }
    if (app.input.pauseRequested) {
        if (app.pause.paused) {
            resumeRound(app);
        } else {
            pauseRound(app);
        }
    }
    if (app.input.focusLost && !app.options.autoplay) {
        pauseRound(app);
    }
}

void restartRound(App& app) {
    const int level = app.levels.lastStarted;
    std::lock_guard<std::mutex> lock(app.gameMutex);
    app.pause = PauseState{};
    if (app.levels.packageLoaded && level >= 0 && level < static_cast<int>(app.levels.list.size())) {
        stopAllStems(app.audio);
        resetRound(app.game);
        app.levels.pendingStart = level; // loaded after the frame that shows its notice
        return;
    }
    // The default level (or the tutorial's): from the top, as Space starts it.
    stopAllStems(app.audio);
    resetRound(app.game);
    startRunFromTop(app);
}

void quitRound(App& app) {
    endRound(app); // it lets go of the pause
}
