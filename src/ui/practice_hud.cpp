#include "ui/practice_hud.hpp"

#include "ui/pause_overlay.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <cstdio>

std::string practiceHudText(const PracticeView& practice) {
    char loop[96];
    if (practice.hasEnd) {
        std::snprintf(loop, sizeof loop, "Loop %.1f s to %.1f s", practice.start, practice.end);
    } else if (practice.watched) {
        loop[0] = '\0'; // a replay tells a loop only by its jumps, and the viewer marks none
    } else if (practice.hasStart) {
        std::snprintf(loop, sizeof loop, "Loop from %.1f s: ] (or Back + RB) marks its end", practice.start);
    } else {
        std::snprintf(loop, sizeof loop, "[ and ] (or Back + LB, RB) mark a loop");
    }
    std::string text = "Practice \xC2\xB7 " + practiceSpeedText(practice.speedPercent);
    if (loop[0] != '\0') {
        text += std::string(" \xC2\xB7 ") + loop;
    }
    if (!practice.notice.empty()) {
        text += "  (" + practice.notice + ")";
    }
    return text;
}

namespace {

void drawCountIn(int figure) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y / 2.0f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::Begin("##PracticeCountIn", nullptr,
                 screenPanelFlags() | ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoInputs |
                     ImGuiWindowFlags_NoSavedSettings);
    pushUIFont(gUI.fonts.titleFont);
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.4f, 0.9f, 1.0f, 0.9f));
    ImGui::TextUnformatted(std::to_string(figure).c_str());
    ImGui::PopStyleColor();
    ImGui::PopFont();
    const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    uiTraceRect("practice_count_in", at.x, at.y, at.x + size.x, at.y + size.y);
    ImGui::End();
}

} // namespace

void drawPracticeHud(ScreenContext& context) {
    const PracticeView& practice = context.practice;
    if (!practice.active) {
        return;
    }
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y - 20.0f * s),
                            ImGuiCond_Always, ImVec2(0.5f, 1.0f));
    ImGui::SetNextWindowBgAlpha(0.75f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(24.0f * s, 10.0f * s));
    ImGui::Begin("##PracticeHUD", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoInputs | ImGuiWindowFlags_NoNav);
    pushUIFont(gUI.fonts.defaultFont);
    ImGui::TextColored(ImVec4(0.4f, 0.9f, 1.0f, 1.0f), "%s", practiceHudText(practice).c_str());
    ImGui::PopFont();
    const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    uiTraceRect("hud_practice", at.x, at.y, at.x + size.x, at.y + size.y);
    ImGui::End();
    ImGui::PopStyleVar();
    if (practice.countIn > 0 && (context.pause == nullptr || !context.pause->paused)) {
        drawCountIn(practice.countIn);
    }
}
