#include "ui/screen_switch.hpp"

#include "base/log.hpp"
#include "game/game_state.hpp"
#include "level/level_session.hpp"
#include "render/render_system.hpp"
#include "ui/add_level_screen.hpp"
#include "ui/calibration_screen.hpp"
#include "ui/controls_screen.hpp"
#include "ui/credits_screen.hpp"
#include "ui/hud.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/main_menu.hpp"
#include "ui/pause_overlay.hpp"
#include "ui/practice_hud.hpp"
#include "ui/results_screen.hpp"
#include "ui/screen_context.hpp"
#include "ui/settings_screen.hpp"
#include "ui/tutorial_screen.hpp"

#include <imgui.h>

#include <mutex>

void drawScreens(ScreenContext& context) {
    UIScreen screen;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        screen = context.game->playing ? UIScreen::Playing : gUI.screen;
    }
    // The loading notice covers the menu: it is a screen of its own for tracing.
    const bool loading = screen == UIScreen::MainMenu && levelLoadingNoticeUp(*context.levels);
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
    context.render->circleArea.enabled = false; // the tutorial's pages set it again

    switch (screen) {
    case UIScreen::Playing:
        drawScoreHud(context);
        drawPracticeHud(context);
        drawStemProgressBar(context);
        drawExitButton(context);
        drawPauseOverlay(context);
        break;
    case UIScreen::MainMenu:
        drawMainMenu(context);
        break;
    case UIScreen::Leaderboard:
        drawLeaderboardScreen(context);
        break;
    case UIScreen::Tutorial:
        drawTutorialScreen(context);
        break;
    case UIScreen::Calibration:
        drawCalibrationScreen(context);
        break;
    case UIScreen::Settings:
        drawSettingsScreen(context);
        break;
    case UIScreen::Controls:
        drawControlsScreen(context);
        break;
    case UIScreen::Credits:
        drawCreditsScreen(context);
        break;
    case UIScreen::Results:
        drawResultsScreen(context);
        break;
    case UIScreen::AddLevel:
        drawAddLevelScreen(context);
        break;
    }
    gUI.traceSuspended = false;
    drawLoadingOverlay(context);
    if (screen == UIScreen::Tutorial && gUI.tutorialPage == 3) {
        drawStemProgressBar(context); // the page explains it
    }
}

bool goBack(const ScreenContext& context) {
    switch (gUI.screen) {
    case UIScreen::Settings:
        leaveSettings(context, UIScreen::MainMenu);
        return true;
    case UIScreen::Credits:
    case UIScreen::Controls:
    case UIScreen::Calibration: // its leave step stops the click
        goToScreen(context, UIScreen::Settings);
        return true;
    case UIScreen::Tutorial:
        if (gUI.tutorialPage > 0) {
            goToScreen(context, UIScreen::Tutorial, gUI.tutorialPage - 1);
        } else {
            goToScreen(context, UIScreen::MainMenu);
        }
        return true;
    case UIScreen::Leaderboard:
    case UIScreen::Results:
    case UIScreen::AddLevel:
        goToScreen(context, UIScreen::MainMenu);
        return true;
    case UIScreen::Playing:
    case UIScreen::MainMenu:
        break;
    }
    return false;
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
    case UIScreen::Controls:
        return "controls";
    case UIScreen::Credits:
        return "credits";
    case UIScreen::Results:
        return "results";
    case UIScreen::AddLevel:
        return "addlevel";
    case UIScreen::MainMenu:
        break;
    }
    return loading ? "loading" : "menu";
}
