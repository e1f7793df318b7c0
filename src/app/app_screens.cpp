#include "app/app_screens.hpp"

#include "app/app.hpp"
#include "app/input.hpp"
#include "app/level_adding.hpp"
#include "app/practice.hpp"
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "game/round_summary.hpp"
#include "leaderboard/replay_download.hpp"
#include "prefs/preferences.hpp"
#include "replay/replay_store.hpp"
#include "ui/controls_screen.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/main_menu.hpp"
#include "ui/screen_switch.hpp"

#include <algorithm>
#include <mutex>

ScreenContext screenContext(App& app) {
    ScreenContext context;
    context.gameMutex = &app.gameMutex;
    context.game = &app.game;
    context.audio = &app.audio;
    context.render = &app.render;
    context.input = &app.input;
    context.levels = &app.levels;
    context.calibration = &app.calibration;
    context.prefsPath = &app.prefsPath; // pointers: the context is built every frame, without copies
    context.autoplay = app.options.autoplay;
    context.audioPeriodOverride = app.options.audioPeriodFrames;
    App* owner = &app;
    // While a replay is watched the exit button ends the watching, which saves nothing.
    context.endRound = [owner] { owner->watch.active ? stopWatching(*owner) : endRound(*owner); };
    context.applyAudioBuffer = [owner](unsigned periodFrames) {
        applyAudioBufferSetting(*owner, periodFrames);
    };
    context.retryCalibration = [owner] { calibrationRetry(*owner); };
    context.saveCalibration = [owner] { calibrationSave(*owner); };
    context.results = app.hasResults ? &app.lastResults : nullptr;
    context.replayAvailable = !app.lastReplayPath.empty();
    context.watchNotice = &app.watchNotice;
    context.retryLevel = [owner] { retryLastLevel(*owner); };
    context.watchReplay = [owner] { startWatching(*owner, owner->lastReplayPath, owner->watchNotice); };
    context.findOwnReplay = [owner](const ReplayEntry& entry) {
        return findReplayFor(playerDataFolder(*owner), entry);
    };
    context.watchReplayFile = [owner](const std::string& path) {
        startWatching(*owner, path, owner->watchNotice);
    };
    context.downloadReplay = [owner](const std::string& level, const std::string& player) {
        downloadReplayAsync(level, player, playerDataFolder(*owner), receiveReplayDownload);
    };
    context.pause = &app.pause;
    context.bindCellKey = [owner](std::uint32_t cell, std::uint32_t scancode, std::string& message) {
        return bindCellKey(*owner, cell, scancode, message);
    };
    context.resetKeyBindings = [owner] { applyKeyBindings(*owner, defaultKeyBindings()); };
    context.resumeRound = [owner] { resumeRound(*owner); };
    context.restartRound = [owner] { restartRound(*owner); };
    context.quitRound = [owner] { quitRound(*owner); };
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        PracticeView& view = context.practice;
        if (app.watch.active) {
            view = watchedPracticeView(app.watch, app.game.songTime, app.game.progress.applied,
                                       beatSeconds(app.audio.bpm));
        } else {
            view.active = practiceInPlay(app);
            view.speedPercent = app.game.progress.speedPercent;
            view.hasStart = app.practice.loop.hasStart;
            view.hasEnd = app.practice.loop.hasEnd;
            view.start = app.practice.loop.start;
            view.end = app.practice.loop.end;
            view.countIn = practiceCountIn(app);
            if (app.game.songTime < app.practice.noticeUntil) {
                view.notice = app.practice.notice;
            }
        }
    }
    context.setPracticeSpeed = [owner](std::int32_t percent) { setPracticeSpeed(*owner, percent); };
    context.clearPracticeLoop = [owner] { clearPracticeLoop(*owner); };
    context.making = app.making.get();
    context.makeLevel = [owner](LevelMakingRequest request) { startMakingLevel(*owner, std::move(request)); };
    context.deleteOwnLevel = [owner](int index, std::string& message) {
        return deleteOwnLevel(*owner, index, message);
    };
    context.screenChanged = [owner](UIScreen left, UIScreen entered) {
        runScreenSteps(*owner, left, entered);
    };
    return context;
}

void applyKeyBindings(App& app, const KeyBindings& bindings) {
    app.input.bindings = bindings;
    const std::array<std::string, kGridCells> labels = cellLabels(bindings);
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        app.game.cellLabels = labels;
    }
    saveKeyBindings(bindings);
}

bool bindCellKey(App& app, std::uint32_t cell, std::uint32_t scancode, std::string& message) {
    KeyBindings bindings = app.input.bindings;
    if (!bindKey(bindings, cell, scancode, keyNameOf(static_cast<std::uint16_t>(scancode)), message)) {
        return false;
    }
    applyKeyBindings(app, bindings);
    return true;
}

void drawUI(App& app) {
    if (!app.uiVisible) {
        return;
    }
    ScreenContext context = screenContext(app);
    drawScreens(context);
}

void goToScreen(App& app, UIScreen next, int tutorialPage) {
    goToScreen(screenContext(app), next, tutorialPage);
}

void runScreenSteps(App& app, UIScreen left, UIScreen entered) {
    if (left != entered) {
        app.watchNotice.clear(); // it spoke of a replay asked for on the screen left
    }
    if (left == UIScreen::Calibration && entered != UIScreen::Calibration) {
        calibrationStop(app);
    }
    if (left == UIScreen::Controls && entered != UIScreen::Controls) {
        cancelKeyCapture();
    }
    if (left == UIScreen::Tutorial && entered != UIScreen::Tutorial) {
        leaveTutorial(app);
    }
    if (left == UIScreen::AddLevel && entered != UIScreen::AddLevel) {
        leaveAddLevel(app);
    }
    if (entered == UIScreen::Leaderboard && left != UIScreen::Leaderboard) {
        leaderboardScreenEnter(app.levels.list);
    }
    if (entered == UIScreen::Calibration && left != UIScreen::Calibration) {
        calibrationStart(app);
    }
    if (entered == UIScreen::Tutorial) {
        applyTutorialPage(app, gUI.tutorialPage);
    }
}

void retryLastLevel(App& app) {
    const int index = app.levels.lastStarted;
    if (index < 0 || index >= static_cast<int>(app.levels.list.size()) || levelStartPending(app.levels)) {
        return;
    }
    app.levels.pendingStart = index;
    goToScreen(app, UIScreen::MainMenu); // the loading notice shows over the menu
}

void showSampleResults(App& app) {
    app.lastResults = sampleRoundSummary();
    app.hasResults = true;
    if (app.levels.lastStarted < 0 && !app.levels.list.empty()) {
        app.levels.lastStarted =
            std::clamp(app.levels.selected, 0, static_cast<int>(app.levels.list.size()) - 1);
    }
    goToScreen(app, UIScreen::Results);
}

bool resultsShown(App& app) {
    if (gUI.screen != UIScreen::Results) {
        return false;
    }
    std::lock_guard<std::mutex> lock(app.gameMutex);
    return !app.game.playing; // a round started with Space shows over it
}

void noteScreenForInput(App& app) {
    app.input.calibrating = gUI.screen == UIScreen::Calibration;
    app.input.showingResults = resultsShown(app);
    // Over the menu's confirmation Escape closes it: it must not quit.
    app.input.onSubScreen = gUI.screen != UIScreen::MainMenu || menuDialogUp();
    app.input.capturingKey = app.uiVisible && gUI.screen == UIScreen::Controls && capturingKey();
    std::lock_guard<std::mutex> lock(app.gameMutex);
    app.input.inRound = roundInPlay(app);
}

void handleBackKeys(App& app) {
    if (app.input.leaveResults) {
        goToScreen(app, UIScreen::MainMenu);
    }
    if (app.input.leaveScreen) {
        if (gUI.screen == UIScreen::Controls && capturingKey()) {
            cancelKeyCapture(); // the pad's B stops waiting for a key, as Escape does
        } else {
            goBack(screenContext(app));
        }
    }
}
