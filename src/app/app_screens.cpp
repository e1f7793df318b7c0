#include "app/app_screens.hpp"

#include "app/app.hpp"
#include "app/round.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/screen_switch.hpp"

ScreenContext screenContext(App& app) {
    ScreenContext context;
    context.gameMutex = &app.gameMutex;
    context.game = &app.game;
    context.audio = &app.audio;
    context.render = &app.render;
    context.input = &app.input;
    context.levels = &app.levels;
    context.calibration = &app.calibration;
    context.prefsPath = app.prefsPath;
    context.autoplay = app.options.autoplay;
    context.audioPeriodOverride = app.options.audioPeriodFrames;
    App* owner = &app;
    context.endRound = [owner] { endRound(*owner); };
    context.applyAudioBuffer = [owner](unsigned periodFrames) {
        applyAudioBufferSetting(*owner, periodFrames);
    };
    context.retryCalibration = [owner] { calibrationRetry(*owner); };
    context.saveCalibration = [owner] { calibrationSave(*owner); };
    context.screenChanged = [owner](UIScreen left, UIScreen entered) {
        runScreenSteps(*owner, left, entered);
    };
    return context;
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
    if (left == UIScreen::Calibration && entered != UIScreen::Calibration) {
        calibrationStop(app);
    }
    if (left == UIScreen::Tutorial && entered != UIScreen::Tutorial) {
        leaveTutorial(app);
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
