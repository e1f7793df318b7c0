#include "ui/pause_overlay.hpp"

#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

int countdownFigure(float secondsLeft) { return std::clamp(static_cast<int>(std::ceil(secondsLeft)), 1, 3); }

// A dark veil over the frozen scene, so that the overlay reads as a pause.
static void drawVeil(float alpha) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::GetBackgroundDrawList()->AddRectFilled(
        viewport.Pos, ImVec2(viewport.Pos.x + viewport.Size.x, viewport.Pos.y + viewport.Size.y),
        ImGui::GetColorU32(ImVec4(0.0f, 0.0f, 0.02f, alpha)));
}

static void drawCountdown(const PauseState& pause) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const std::string figure = std::to_string(countdownFigure(pause.countdownLeft));
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y / 2.0f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::Begin("##PauseCountdown", nullptr,
                 screenPanelFlags() | ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoInputs |
                     ImGuiWindowFlags_NoSavedSettings);
    pushUIFont(gUI.fonts.titleFont);
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.85f, 0.2f, 1.0f));
    ImGui::TextUnformatted(figure.c_str());
    ImGui::PopStyleColor();
    ImGui::PopFont();
    const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    uiTraceRect("pause_countdown", at.x, at.y, at.x + size.x, at.y + size.y);
    ImGui::End();
}

void drawPauseOverlay(ScreenContext& context) {
    if (context.pause == nullptr || !context.pause->paused) {
        return;
    }
    if (context.pause->countingDown) {
        drawVeil(0.25f);
        drawCountdown(*context.pause);
        return;
    }
    drawVeil(0.55f);
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    // Three buttons of 400 x 125 at scale 1 with two gaps of 40, narrower when the window is.
    const float k = std::min(1.0f, (0.92f * viewport.WorkSize.x) / (1280.0f * s));
    const ImVec2 button(400.0f * s * k, 125.2f * s * k);
    const float width = 3.0f * button.x + 2.0f * 40.0f * s * k + 80.0f * s;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y / 2.0f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(width, 0.0f), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(0.92f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 30.0f * s));
    int clicked = -1;
    if (ImGui::Begin("##PausePanel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoScrollbar |
                         ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings)) {
        pushUIFont(gUI.fonts.titleFont);
        const char* title = "Paused";
        ImGui::SetCursorPosX((ImGui::GetWindowWidth() - ImGui::CalcTextSize(title).x) / 2.0f);
        ImGui::TextUnformatted(title);
        ImGui::PopFont();
        ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
        const RowButton row[] = {{"##resume", "Resume", static_cast<bool>(context.resumeRound)},
                                 {"##restart", "Restart", static_cast<bool>(context.restartRound)},
                                 {"##quit", "Quit", static_cast<bool>(context.quitRound)}};
        clicked = drawButtonRow(row, 3, button, 40.0f * s * k);
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        uiTraceRect("pause_panel", at.x, at.y, at.x + size.x, at.y + size.y);
    }
    ImGui::End();
    ImGui::PopStyleVar();
    // Acted on after the window is closed: each may start a level or leave the screen.
    if (clicked == 0) {
        context.resumeRound();
    } else if (clicked == 1) {
        context.restartRound();
    } else if (clicked == 2) {
        context.quitRound();
    }
}
