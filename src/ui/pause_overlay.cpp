#include "ui/pause_overlay.hpp"

#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

int countdownFigure(float secondsLeft) { return std::clamp(static_cast<int>(std::ceil(secondsLeft)), 1, 3); }

std::string practiceSpeedText(std::int32_t percent) { return "Speed " + std::to_string(percent) + " %"; }

namespace {

// Each showing of the panel, and of the countdown, is an appearance of its own: its items are
// traced again, and only from its third frame on, once its auto-sized window has its real size and
// place (on its first frame it stands at the library's default corner, hidden, with no size yet).
// This counts the frame into the appearance of the panel (or the countdown) and answers whether
// its layout has settled; a new appearance forgets that its items were traced.
bool overlaySettled(bool countdown) {
    OverlayTrace& trace = gUI.pauseTrace;
    const int frame = ImGui::GetFrameCount();
    if (frame != trace.lastFrame + 1 || countdown != trace.countdown) {
        trace.countdown = countdown;
        trace.frames = 0;
        for (const char* id : {"pause_panel", "##resume", "##restart", "##quit", "pause_countdown",
                               "##speed_down", "pause_speed", "##speed_up", "##clear_loop"}) {
            gUI.tracedItems.erase(id);
        }
    }
    trace.lastFrame = frame;
    return ++trace.frames >= 3;
}

} // namespace

// A dark veil over the frozen scene, so that the overlay reads as a pause.
static void drawVeil(float alpha) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::GetBackgroundDrawList()->AddRectFilled(
        viewport.Pos, ImVec2(viewport.Pos.x + viewport.Size.x, viewport.Pos.y + viewport.Size.y),
        ImGui::GetColorU32(ImVec4(0.0f, 0.0f, 0.02f, alpha)));
}

// A practice round's controls under the buttons: its speed with a step down and up (5 % each), and
// forgetting its loop. Plain buttons, so that the mouse, the arrows and the pad's D-pad all reach
// them. What was asked is acted on after the panel's window is closed.
struct PracticeAsk {
    std::int32_t speed = 0; // a new speed, or 0
    bool clearLoop = false;
};

static PracticeAsk drawPracticeControls(const PracticeView& practice, float s) {
    PracticeAsk ask;
    ImGui::Dummy(ImVec2(0.0f, 24.0f * s));
    pushUIFont(gUI.fonts.buttonFont);
    const std::string speed = practiceSpeedText(practice.speedPercent);
    const ImVec2 step(90.0f * s, ImGui::GetFrameHeight());
    const float gap = 24.0f * s;
    const float speedWidth = ImGui::CalcTextSize("Speed 100 %").x;
    const char* clear = "Clear loop";
    const float clearWidth = ImGui::CalcTextSize(clear).x + 40.0f * s;
    const float row = 2.0f * step.x + speedWidth + clearWidth + 4.0f * gap;
    ImGui::SetCursorPosX(std::max(0.0f, (ImGui::GetWindowWidth() - row) / 2.0f));
    ImGui::BeginDisabled(practice.speedPercent <= kPracticeSpeedMinPercent);
    if (ImGui::Button("-##speed_down", step)) {
        ask.speed = practice.speedPercent - kPracticeSpeedStep;
    }
    uiTraceLastItem("##speed_down");
    ImGui::EndDisabled();
    ImGui::SameLine(0.0f, gap);
    const float textX = ImGui::GetCursorPosX();
    ImGui::AlignTextToFramePadding();
    ImGui::SetCursorPosX(textX + (speedWidth - ImGui::CalcTextSize(speed.c_str()).x) / 2.0f);
    ImGui::TextUnformatted(speed.c_str());
    uiTraceLastItem("pause_speed");
    ImGui::SameLine(textX + speedWidth + gap);
    ImGui::BeginDisabled(practice.speedPercent >= kPracticeSpeedMaxPercent);
    if (ImGui::Button("+##speed_up", step)) {
        ask.speed = practice.speedPercent + kPracticeSpeedStep;
    }
    uiTraceLastItem("##speed_up");
    ImGui::EndDisabled();
    ImGui::SameLine(0.0f, 2.0f * gap);
    ImGui::BeginDisabled(!practice.hasStart);
    if (ImGui::Button((std::string(clear) + "##clear_loop").c_str(), ImVec2(clearWidth, step.y))) {
        ask.clearLoop = true;
    }
    uiTraceLastItem("##clear_loop");
    ImGui::EndDisabled();
    ImGui::PopFont();
    return ask;
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
    // Items of a layout still settling are not traced (the screen's trace goes on after).
    const bool suspended = gUI.traceSuspended;
    gUI.traceSuspended = suspended || !overlaySettled(context.pause->countingDown);
    if (context.pause->countingDown) {
        drawVeil(0.25f);
        drawCountdown(*context.pause);
        gUI.traceSuspended = suspended;
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
    PracticeAsk practiceAsk;
    if (ImGui::Begin("##PausePanel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoScrollbar |
                         ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings)) {
        if (ImGui::IsWindowAppearing()) {
            // Paused with Escape or the pad's Start: the focus shows on Resume at once, for Enter or A.
            ImGui::SetNavCursorVisible(true);
        }
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
        if (context.practice.active && !context.practice.watched) {
            practiceAsk = drawPracticeControls(context.practice, s);
        }
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        uiTraceRect("pause_panel", at.x, at.y, at.x + size.x, at.y + size.y);
    }
    ImGui::End();
    ImGui::PopStyleVar();
    gUI.traceSuspended = suspended;
    if (practiceAsk.speed != 0 && context.setPracticeSpeed) {
        context.setPracticeSpeed(practiceAsk.speed);
    }
    if (practiceAsk.clearLoop && context.clearPracticeLoop) {
        context.clearPracticeLoop();
    }
    // Acted on after the window is closed: each may start a level or leave the screen.
    if (clicked == 0) {
        context.resumeRound();
    } else if (clicked == 1) {
        context.restartRound();
    } else if (clicked == 2) {
        context.quitRound();
    }
}
