#include "app/screen_tour.hpp"

#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/level_adding.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "ui/tutorial_screen.hpp"
#include "ui/ui_system.hpp"

#include <mutex>

namespace {

enum Step {
    Menu,
    Loading,
    Playing,
    Results,
    Settings,
    Controls,
    Calibration,
    Credits,
    Leaderboard,
    AddLevel,
    FirstTutorialPage
};
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
        app.levels.pendingStart = 0;
        app.levels.holdStart = true; // the notice stays up until the next step
        break;
    case Playing:
        app.levels.holdStart = false;
        break;
    case Results:
        endTourRound(app);
        showSampleResults(app); // a full screen of figures, where the tour's round has few
        break;
    case Settings:
        goToScreen(app, UIScreen::Settings);
        break;
    case Controls:
        goToScreen(app, UIScreen::Controls);
        break;
    case Calibration:
        calibrationOpen(app);
        break;
    case Credits:
        goToScreen(app, UIScreen::Credits); // leaving calibration stops its click
        break;
    case Leaderboard:
        goToScreen(app, UIScreen::Leaderboard);
        break;
    case AddLevel:
        showAddLevel(app, true); // its fullest state: every stem with its progress
        break;
    default: // a tutorial page
        goToScreen(app, UIScreen::Tutorial, step - FirstTutorialPage);
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
        goToScreen(app, UIScreen::MainMenu);
        logMessage("Screen tour: done");
        app.input.quitRequested = true;
        return;
    }
    enter(app, tour.step);
}
