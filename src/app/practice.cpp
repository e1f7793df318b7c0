#include "app/practice.hpp"

#include "app/app.hpp"
#include "app/logic_thread.hpp"
#include "app/round_pause.hpp"
#include "audio/audio_system.hpp"
#include "base/log.hpp"
#include "game/judgement.hpp"
#include "game/round_progress.hpp"
#include "prefs/preferences.hpp"
#include "replay/replay_file.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

bool parsePracticeSpeed(const char* text, std::int32_t& percent) {
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || (*end != '\0' && !(end[0] == '%' && end[1] == '\0'))) {
        return false;
    }
    if (value < kMinPracticeSpeedPercent || value > kMaxPracticeSpeedPercent ||
        !isPracticeSpeedPercent(static_cast<std::int32_t>(value))) {
        return false;
    }
    percent = static_cast<std::int32_t>(value);
    return true;
}

void applyRoundMode(App& app) {
    PracticeState& practice = app.practice;
    practice.loop = PracticeLoop{};
    practice.notice.clear();
    RoundProgress& progress = app.game.progress;
    progress.practice = practice.enabled;
    progress.startSpeedPercent = practice.enabled ? practice.speedPercent : 100;
    progress.speedPercent = progress.startSpeedPercent;
    setPlaybackSpeed(app.audio, progress.speedPercent / 100.0);
    if (practice.enabled) {
        logMessage("Practice round at %d%% speed", progress.speedPercent);
    }
}

bool practiceInPlay(const App& app) {
    return app.game.progress.practice && roundInPlay(app) && !app.watch.active;
}

bool setPracticeSpeed(App& app, std::int32_t percent) {
    const std::int32_t step = kPracticeSpeedStepPercent;
    const std::int32_t speed =
        std::clamp((percent + step / 2) / step * step, kMinPracticeSpeedPercent, kMaxPracticeSpeedPercent);
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (!practiceInPlay(app) || !app.pause.paused || app.pause.countingDown) {
            return false;
        }
        app.game.progress.speedPercent = speed;
        setPlaybackSpeed(app.audio, speed / 100.0);
    }
    if (speed != app.practice.speedPercent) {
        app.practice.speedPercent = speed;
        savePracticeSpeedPercent(speed); // file work, without the game mutex
    }
    return true;
}

void clearPracticeLoop(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (app.watch.active) {
        return; // a watched replay's loop is the recording's; the player's own stays as it was
    }
    if (app.practice.loop.hasStart) {
        logMessage("Practice loop cleared");
    }
    app.practice.loop = PracticeLoop{};
    app.practice.notice.clear();
}

namespace {

double roundStart(const GameState& game) {
    return game.layerTimeline.empty() ? 0.0 : game.layerTimeline.front().at;
}

void notify(App& app, const char* text) {
    app.practice.notice = text;
    app.practice.noticeUntil = app.game.songTime + kLoopNoticeSeconds;
}

// The frame's marks, each at the song time of its own press.
void applyMarks(App& app) {
    PracticeState& practice = app.practice;
    const double beat = beatSeconds(app.audio.bpm);
    if (app.input.markLoopStartNs != 0) {
        markLoopStart(practice.loop, inputSongTime(app.game, app.input.markLoopStartNs), beat);
        // Not before the round's start: the count-in could not go back there.
        practice.loop.start = std::max(practice.loop.start, roundStart(app.game));
        logMessage("Practice loop start marked at %.3f s", practice.loop.start);
        notify(app, "Loop start marked");
    }
    if (app.input.markLoopEndNs != 0) {
        switch (markLoopEnd(practice.loop, inputSongTime(app.game, app.input.markLoopEndNs), beat)) {
        case LoopMark::EndSet:
            logMessage("Practice loop from %.3f s to %.3f s", practice.loop.start, practice.loop.end);
            notify(app, "Loop set");
            break;
        case LoopMark::Cleared:
            logMessage("Practice loop cleared");
            notify(app, "Loop cleared");
            break;
        default:
            notify(app, "Mark the loop's start first");
            break;
        }
    }
}

} // namespace

void practiceFrame(App& app, std::vector<RoundEvent>& events, double& through) {
    if (!practiceInPlay(app)) {
        return;
    }
    if (app.pause.paused) {
        return; // marks wait for play; the loop's end is not reached while the song stands
    }
    applyMarks(app);
    PracticeState& practice = app.practice;
    if (!practice.loop.hasEnd) {
        return;
    }
    GameState& game = app.game;
    // Where the round jumps: B, or where the round already stands when B was marked behind it (the
    // replay's re-run must reach the very same point before it jumps).
    const std::int64_t atUs =
        std::max(songTimeToMicros(practice.loop.end), firstMicrosFrom(game.progress.applied));
    const double at = static_cast<double>(atUs) / 1e6;
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const RoundEvent& event) { return event.songTimeUs >= atUs; }),
                 events.end());
    through = std::min(through, at);
    if (game.songTime < at) {
        return;
    }
    queueRoundInputs(game, events, at);
    events.clear();
    advanceRound(game, at, audioLayerRequests(app.audio));
    const double beat = beatSeconds(app.audio.bpm);
    const double to =
        static_cast<double>(songTimeToMicros(countInStart(practice.loop, beat, roundStart(game)))) / 1e6;
    const double liveFrom = static_cast<double>(songTimeToMicros(practice.loop.start)) / 1e6;
    jumpRound(game, at, std::min(to, liveFrom), liveFrom);
    // The group clock counts audio positions; the song clock runs the player's offset behind it.
    if (seekAllStems(app.audio, std::max(0.0, to + app.audio.clockOffset * app.audio.playbackSpeed))) {
        game.songTime = to;
        game.songTimeNs = 0;
    }
    practice.countInFrom = to;
    through = to;
    logMessage("Practice loop: back to %.3f s", to);
}

int practiceCountIn(const App& app) {
    if (!practiceInPlay(app) || app.game.progress.jumps.empty()) {
        return 0;
    }
    return countInFigure(app.practice.loop, beatSeconds(app.audio.bpm), app.practice.countInFrom,
                         app.game.songTime);
}
