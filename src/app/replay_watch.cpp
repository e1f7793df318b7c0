#include "app/replay_watch.hpp"

#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/logic_thread.hpp"
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/practice_loop.hpp"
#include "game/round_progress.hpp"
#include "level/round_setup.hpp"
#include "replay/level_hash.hpp"

#include <cmath>
#include <mutex>
#include <vector>

namespace {

// True when the level loaded now is the one `replay` was played on: its name, and its hash.
bool isLoadedLevel(App& app, const Replay& replay) {
    if (replay.levelName != app.game.levelName) {
        return false;
    }
    double loopLength = 0.0;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        loopLength = levelLoopLength(app.audio);
    }
    std::string hash, error;
    if (!levelHashOfFolder(currentLevelFolder(app), std::llround(loopLength * 1e6), hash, error)) {
        logMessage("Replay level not hashed: %s", error.c_str());
        return false;
    }
    return hash == replay.levelHash;
}

} // namespace

bool startWatching(App& app, const std::string& path, std::string& notice) {
    notice.clear();
    Replay replay;
    std::string error;
    if (!readReplayFile(path, replay, error)) {
        notice = kReplayUnreadable; // the reason is logged by the reader
        return false;
    }
    // A replay from the leaderboard may be of another level than the one loaded: the list's level
    // of its name is loaded first, stopped; and the default level (Space's) bears the title of a
    // listed level with a manifest of its own, so it is tried last.
    bool found = isLoadedLevel(app, replay);
    if (!found && !(app.levels.packageLoaded && app.game.levelName == replay.levelName) &&
        loadLevelStopped(app, replay.levelName)) {
        found = isLoadedLevel(app, replay);
    }
    if (!found && app.levels.packageLoaded && app.levels.defaultLevelName == replay.levelName &&
        loadDefaultLevelStopped(app)) {
        found = isLoadedLevel(app, replay);
    }
    if (!found) {
        // A replay from elsewhere (downloaded, dropped) may be of a level this game does not have.
        const bool changed = app.game.levelName == replay.levelName;
        notice = changed ? kReplayLevelChanged : kReplayLevelMissing;
        logMessage("%s: %s", notice.c_str(), replay.levelName.c_str());
        if (!changed) {
            notice += ": " + replay.levelName;
        }
        return false;
    }
    watchReplay(app, std::move(replay));
    logMessage("Watching replay %s", path.c_str());
    return true;
}

bool dropWatchable(UIScreen screen, bool uiVisible, bool roundInPlay, bool watching) {
    return uiVisible && !roundInPlay && !watching &&
           (screen == UIScreen::MainMenu || screen == UIScreen::Leaderboard);
}

bool watchDroppedReplay(App& app, const std::string& path) {
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        busy = roundInPlay(app) || app.watch.active;
    }
    if (!dropWatchable(gUI.screen, app.uiVisible, busy, false)) {
        logMessage("Ignoring the dropped file %s: replays are watched from the menu or the leaderboard",
                   path.c_str());
        return false;
    }
    return startWatching(app, path, app.watchNotice);
}

void watchReplay(App& app, Replay replay) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    ReplayWatch& watch = app.watch;
    watch = ReplayWatch{};
    watch.playerKeyboardGameplay = app.game.keyboardGameplay;
    watch.returnTo = gUI.screen;
    stopAllStems(app.audio);
    resetRound(app.game);
    app.game.keyboardGameplay = replay.inputMode == ReplayInputMode::Keyboard;
    const double start = static_cast<double>(replay.songStartUs) / 1e6;
    // The offset is the player's, in real time: at a practice speed it spans that share of the song.
    const double startSpeed = replay.practiceSpeedPercent != 0 ? replay.practiceSpeedPercent / 100.0 : 1.0;
    playAllStems(app.audio, std::max(0.0, start + app.audio.clockOffset * startSpeed));
    activateFirstStem(app.audio);
    app.game.playing = true;
    app.game.songTime = start;
    app.game.songTimeNs = 0;
    RoundSetup setup = roundSetupOf(app.audio, static_cast<std::int32_t>(replay.drawableWidth),
                                    static_cast<std::int32_t>(replay.drawableHeight));
    beginRound(app.game, std::move(setup), start);
    // A practice round plays at its own speed, as it was played.
    const bool practice = replay.practiceSpeedPercent != 0;
    app.game.progress.practice = practice;
    app.game.progress.startSpeedPercent = practice ? replay.practiceSpeedPercent : 100;
    app.game.progress.speedPercent = app.game.progress.startSpeedPercent;
    setPlaybackSpeed(app.audio, app.game.progress.speedPercent / 100.0);
    watch.width = static_cast<float>(replay.drawableWidth);
    watch.height = static_cast<float>(replay.drawableHeight);
    watch.replay = std::move(replay);
    watch.active = true;
}

bool watchedToTheEnd(const App& app) {
    const ReplayWatch& watch = app.watch;
    return watch.active && watch.nextJump >= watch.replay.loopJumps.size() &&
           app.game.songTime >= static_cast<double>(watch.replay.songEndUs) / 1e6;
}

void watchFrame(App& app, double through) {
    ReplayWatch& watch = app.watch;
    const Replay& replay = watch.replay;
    // This pass of the song ends at the next loop jump: the events and pauses after it are the next's.
    const bool jumpAhead = watch.nextJump < replay.loopJumps.size();
    const std::size_t passEvents =
        jumpAhead ? replay.loopJumps[watch.nextJump].eventIndex : replay.events.size();
    const std::size_t passPauses =
        jumpAhead ? replay.loopJumps[watch.nextJump].pauseIndex : replay.pauses.size();
    bool pausing = false, jumping = false;
    if (watch.nextPause < passPauses) {
        const double at = static_cast<double>(replay.pauses[watch.nextPause].atUs) / 1e6;
        if (through >= at) {
            through = at; // the round goes exactly as far as it went before the pause
            pausing = true;
        }
    } else if (jumpAhead) {
        const double at = static_cast<double>(replay.loopJumps[watch.nextJump].atUs) / 1e6;
        if (through >= at) {
            through = at; // and as far as it went before the jump
            jumping = true;
        }
    }
    const std::vector<RoundEvent>& events = replay.events;
    std::vector<RoundEvent> due;
    while (watch.next < passEvents && static_cast<double>(events[watch.next].songTimeUs) / 1e6 < through) {
        const RoundEvent& event = events[watch.next++];
        due.push_back(event);
        if (event.kind == InputKind::Resize) {
            watch.width = event.x;
            watch.height = event.y;
        } else if (event.kind == InputKind::Press && event.device != InputDevice::Key) {
            // The round's drawable size is the recording's; the glow goes where it lands on screen.
            const float sx = app.render.width > 0 ? static_cast<float>(app.render.width) / watch.width : 1.0f;
            const float sy =
                app.render.height > 0 ? static_cast<float>(app.render.height) / watch.height : 1.0f;
            watch.markerX = event.x * sx;
            watch.markerY = (watch.height - event.y) * sy;
            watch.markerUntil = static_cast<double>(event.songTimeUs) / 1e6 + 0.15;
        }
    }
    queueRoundInputs(app.game, due, through);
    if (jumping) {
        const LoopJump& jump = replay.loopJumps[watch.nextJump++];
        const double to = static_cast<double>(jump.toUs) / 1e6;
        advanceRound(app.game, through, audioLayerRequests(app.audio));
        jumpRound(app.game, through, to, static_cast<double>(jump.liveFromUs) / 1e6);
        if (seekAllStems(app.audio, std::max(0.0, to + app.audio.clockOffset * app.audio.playbackSpeed))) {
            app.game.songTime = to;
            app.game.songTimeNs = 0;
        }
        return;
    }
    if (!pausing) {
        return;
    }
    const RoundPause& pause = replay.pauses[watch.nextPause++];
    const double at = static_cast<double>(pause.atUs) / 1e6;
    const double from = static_cast<double>(pause.resumeUs) / 1e6;
    advanceRound(app.game, at, audioLayerRequests(app.audio));
    app.game.progress.speedPercent = pause.speedPercent;
    setPlaybackSpeed(app.audio, pause.speedPercent / 100.0);
    if (seekAllStems(app.audio, std::max(0.0, from + app.audio.clockOffset * app.audio.playbackSpeed))) {
        app.game.songTime = from;
        app.game.songTimeNs = 0;
    }
    rewindRound(app.game, at, from);
}

PracticeView watchedPracticeView(const ReplayWatch& watch, double songTime, double applied, double beat) {
    PracticeView view;
    const Replay& replay = watch.replay;
    if (!watch.active || replay.practiceSpeedPercent == 0) {
        return view;
    }
    view.active = true;
    view.watched = true;
    view.speedPercent = watch.nextPause > 0 && watch.nextPause <= replay.pauses.size()
                            ? replay.pauses[watch.nextPause - 1].speedPercent
                            : replay.practiceSpeedPercent;
    if (watch.nextJump == 0 || watch.nextJump > replay.loopJumps.size()) {
        return view; // when the player marked the loop is not recorded: it is known at its jump
    }
    const LoopJump& jump = replay.loopJumps[watch.nextJump - 1];
    PracticeLoop loop;
    loop.hasStart = loop.hasEnd = true;
    loop.start = static_cast<double>(jump.liveFromUs) / 1e6;
    loop.end = static_cast<double>(jump.atUs) / 1e6;
    // The round stops at B until the next jump is acted out, so a round gone past B tells that the
    // loop no longer ran there; the song clock alone may pass B a frame before the jump.
    if (applied <= loop.end) {
        view.hasStart = view.hasEnd = true;
        view.start = loop.start;
        view.end = loop.end;
    }
    view.countIn = countInFigure(loop, beat, static_cast<double>(jump.toUs) / 1e6, songTime);
    return view;
}

void stopWatching(App& app) {
    UIScreen back = UIScreen::Results;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (!app.watch.active) {
            return;
        }
        stopAllStems(app.audio);
        setPlaybackSpeed(app.audio, 1.0);
        resetRound(app.game);
        app.game.playing = false;
        app.game.keyboardGameplay = app.watch.playerKeyboardGameplay;
        back = app.watch.returnTo;
        app.watch = ReplayWatch{};
    }
    logMessage("Replay watched");
    goToScreen(app, back);
}
