#include "app/screen_tour.hpp"

#include "app/app.hpp"
#include "app/log.hpp"
#include "audio/stem_layering.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/tutorial_screen.hpp"
#include "ui/ui_system.hpp"

#include <mutex>

namespace {

enum Step { Menu, Loading, Playing, Settings, Calibration, Credits, Leaderboard, FirstTutorialPage };
constexpr int kSteps = FirstTutorialPage + kTutorialPages;

// The round the tour started is the tour's: it ends without a result saved.
void endTourRound(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    stopAllStems(app.audio);
    resetRound(app.game);
    app.game.playing = false;
}

void enter(App& app, int step) {
    switch (step) {
    case Menu:
        break;
    case Loading:
        app.pendingLevelStart = 0;
        app.holdLevelStart = true; // the notice stays up until the next step
        break;
    case Playing:
        app.holdLevelStart = false;
        break;
    case Settings:
        endTourRound(app);
        app.showSettings = true;
        break;
    case Calibration:
        calibrationOpen(app);
        break;
    case Credits:
        calibrationClose(app);
        app.showSettings = false;
        app.showCredits = true;
        break;
    case Leaderboard:
        app.showCredits = false;
        openLeaderboard(app);
        break;
    default: // a tutorial page
        app.showLeaderboard = false;
        gUI.showTutorial = true;
        gUI.tutorialPage = step - FirstTutorialPage;
        break;
    }
}

} // namespace

void screenTourFrame(App& app) {
    ScreenTour& tour = app.tour;
    if (tour.step >= kSteps) {
        return;
    }
    if (tour.step >= 0 && ++tour.frames < kScreenTourFrames) {
        return;
    }
    tour.frames = 0;
    ++tour.step;
    if (tour.step == kSteps) {
        gUI.showTutorial = false;
        logMessage("Screen tour: done");
        app.input.quitRequested = true;
        return;
    }
    enter(app, tour.step);
}
