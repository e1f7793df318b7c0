#include "ui/screen_switch.hpp"

#include "app/app.hpp"
#include "app/round.hpp"
#include "base/log.hpp"
#include "level/level_list.hpp"
#include "ui/calibration_screen.hpp"
#include "ui/credits_screen.hpp"
#include "ui/hud.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/main_menu.hpp"
#include "ui/settings_screen.hpp"
#include "ui/tutorial_screen.hpp"

#include <imgui.h>

#include <mutex>

void drawUI(App& app) {
    if (!app.uiVisible) {
        return;
    }
    UIScreen screen;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        screen = app.game.playing ? UIScreen::Playing : gUI.screen;
    }
    // The loading notice covers the menu: it is a screen of its own for tracing.
    const bool loading = screen == UIScreen::MainMenu && app.pendingLevelStart >= 0 &&
                         app.pendingLevelStart < static_cast<int>(levelList.size());
    if (screen != gUI.tracedScreen || (screen == UIScreen::Tutorial && gUI.tutorialPage != gUI.tracedPage) ||
        loading != gUI.tracedLoading) {
        gUI.tracedScreen = screen;
        gUI.tracedPage = gUI.tutorialPage;
        gUI.tracedLoading = loading;
        gUI.screenFrames = 0;
        gUI.tracedItems.clear();
    }
    ++gUI.screenFrames;
    if (gUI.trace && gUI.screenFrames == 3) {
        logMessage("UI screen: %s %d %d", tracedScreenName(screen, gUI.tutorialPage, loading),
                   static_cast<int>(ImGui::GetIO().DisplaySize.x * ImGui::GetIO().DisplayFramebufferScale.x),
                   static_cast<int>(ImGui::GetIO().DisplaySize.y * ImGui::GetIO().DisplayFramebufferScale.y));
    }
    gUI.traceSuspended = loading;
    app.render.circleArea.enabled = false; // the tutorial's pages set it again

    switch (screen) {
    case UIScreen::Playing:
        drawScoreHud(app);
        drawStemProgressBar(app);
        drawExitButton(app);
        break;
    case UIScreen::MainMenu:
        drawMainMenu(app);
        break;
    case UIScreen::Leaderboard:
        drawLeaderboardScreen();
        break;
    case UIScreen::Tutorial:
        drawTutorialScreen(app);
        break;
    case UIScreen::Calibration:
        drawCalibrationScreen(app);
        break;
    case UIScreen::Settings:
        drawSettingsScreen(app);
        break;
    case UIScreen::Credits:
        drawCreditsScreen();
        break;
    }
    gUI.traceSuspended = false;
    drawLoadingOverlay(app);

    // The tutorial song follows the tutorial's page; leaving the tutorial puts back the level it
    // replaced.
    if (gUI.screen != UIScreen::Tutorial) {
        if (gUI.lastAppliedTutorialPage != -1) {
            leaveTutorial(app);
        }
        gUI.lastAppliedTutorialPage = -1;
    } else {
        if (gUI.tutorialPage != gUI.lastAppliedTutorialPage) {
            applyTutorialPage(app, gUI.tutorialPage);
            gUI.lastAppliedTutorialPage = gUI.tutorialPage;
        }
        if (gUI.tutorialPage == 3) {
            drawStemProgressBar(app); // the page explains it
        }
    }
}

const char* tracedScreenName(UIScreen screen, int tutorialPage, bool loading) {
    static const char* const pages[] = {"tutorial:0", "tutorial:1", "tutorial:2", "tutorial:3", "tutorial:4"};
    switch (screen) {
    case UIScreen::Playing:
        return "playing";
    case UIScreen::Leaderboard:
        return "leaderboard";
    case UIScreen::Tutorial:
        return tutorialPage >= 0 && tutorialPage < 5 ? pages[tutorialPage] : "tutorial";
    case UIScreen::Calibration:
        return "calibration";
    case UIScreen::Settings:
        return "settings";
    case UIScreen::Credits:
        return "credits";
    case UIScreen::MainMenu:
        break;
    }
    return loading ? "loading" : "menu";
}
