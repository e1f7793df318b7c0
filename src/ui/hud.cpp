#include "ui/hud.hpp"

#include "audio/audio_system.hpp"
#include "base/log.hpp"
#include "game/game_state.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/round_save.hpp"
#include "prefs/player_keys.hpp"
#include "prefs/preferences.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

std::vector<HudText> scoreHudTexts(std::int32_t score, std::int32_t highScore, float multiplier,
                                   std::int32_t combo, bool autoplay) {
    const auto format = [](const char* pattern, auto value) {
        char text[64];
        std::snprintf(text, sizeof text, pattern, value);
        return std::string(text);
    };
    const HudText gold{format("Score: %d", score), {1.0f, 0.85f, 0.0f, 1.0f}};
    HudText best{format("Best: %d", highScore), {0.7f, 0.7f, 0.7f, 1.0f}};
    if (autoplay) {
        best.text = "Autoplay";
    } else if (score > highScore) {
        best.color[0] = 0.0f, best.color[1] = 1.0f, best.color[2] = 0.5f;
    }
    const HudText factor{format("x%.1f", static_cast<double>(multiplier)), {0.7f, 0.7f, 1.0f, 1.0f}};
    HudText run{format("Combo: %d", combo), {0.7f, 0.7f, 0.7f, 1.0f}};
    if (combo >= 1) {
        run.color[0] = 0.0f, run.color[1] = 1.0f, run.color[2] = 0.5f;
    }
    return {gold, best, factor, run};
}

std::vector<StemSegment> stemSegments(int stems, int activeLayers, float width, float s) {
    std::vector<StemSegment> segments;
    if (stems <= 0) {
        return segments;
    }
    const float margin = 0.1f * width;
    const float w = (width - 2.0f * margin) / static_cast<float>(stems);
    const float gap = 2.0f * s;
    for (int i = 0; i < stems; ++i) {
        const float x0 = margin + static_cast<float>(i) * (w + gap);
        segments.push_back(StemSegment{x0, x0 + w, i < activeLayers});
    }
    return segments;
}

void drawScoreHud(ScreenContext& context) {
    std::int32_t score, highScore, combo;
    float multiplier;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        score = context.game->score;
        highScore = context.game->highScore;
        combo = context.game->combo;
        multiplier = context.game->multiplier;
    }
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(
        ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f, viewport.WorkPos.y + 40.0f * s),
        ImGuiCond_Always, ImVec2(0.5f, 0.0f));
    ImGui::SetNextWindowBgAlpha(0.8f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 10.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 20.0f * s));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(30.0f * s, 10.0f * s));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImVec4(0.05f, 0.05f, 0.1f, 1.0f));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                                   ImGuiWindowFlags_NoSavedSettings;
    if (ImGui::Begin("##ScoreHUD", nullptr, flags)) {
        ImGui::PushFont(gUI.fonts.scoreFont, kScoreFontPixels);
        const std::vector<HudText> texts =
            scoreHudTexts(score, highScore, multiplier, combo, context.autoplay);
        // One line where it fits between the exit buttons' places on both sides (the panel stays
        // centred), else two.
        float line = 0.0f;
        for (const HudText& item : texts) {
            line += ImGui::CalcTextSize(item.text.c_str()).x + 30.0f * s;
        }
        const float room = viewport.WorkSize.x - 2.0f * (hudExitButtonSpace(s) + 40.0f * s);
        const bool twoLines = line > room;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const HudText& item = texts[i];
            if (i > 0 && !(twoLines && i == 2)) {
                ImGui::SameLine();
            }
            ImGui::PushStyleColor(ImGuiCol_Text,
                                  ImVec4(item.color[0], item.color[1], item.color[2], item.color[3]));
            ImGui::TextUnformatted(item.text.c_str());
            ImGui::PopStyleColor();
        }
        ImGui::PopFont();
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        uiTraceRect("hud_score", at.x, at.y, at.x + size.x, at.y + size.y);
    }
    ImGui::End();
    ImGui::PopStyleColor();
    ImGui::PopStyleVar(3);
}

void drawStemProgressBar(ScreenContext& context) {
    int stems, layers;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        stems = static_cast<int>(context.audio->stems.size());
        layers = context.game->activeLayers;
    }
    const float s = gUI.uiScale;
    const float width = ImGui::GetIO().DisplaySize.x;
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(width, 30.0f * s));
    ImGui::Begin("##StemProgressHUD", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoBackground);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    const float height = 40.0f * s;
    const float y0 = origin.y + (ImGui::GetWindowHeight() - height) / 2.0f; // taller than its window
    const std::vector<StemSegment> segments = stemSegments(stems, layers, width, s);
    for (const StemSegment& segment : segments) {
        const ImVec2 a(origin.x + segment.x0, y0), b(origin.x + segment.x1, y0 + height);
        draw->AddRectFilled(a, b, segment.lit ? 0xFF64C864u : 0xFF282828u, 4.0f * s);
        draw->AddRect(a, b, 0xFF141414u, 4.0f * s, 0, 1.0f);
    }
    if (!segments.empty()) {
        // What shows of the bar: its window clips it.
        const ImVec2 clipMin = draw->GetClipRectMin(), clipMax = draw->GetClipRectMax();
        uiTraceRect("hud_layers", std::max(clipMin.x, origin.x + segments.front().x0),
                    std::max(clipMin.y, y0), std::min(clipMax.x, origin.x + segments.back().x1),
                    std::min(clipMax.y, y0 + height));
    }
    ImGui::End();
}

float hudExitButtonSpace(float s) { return 80.0f * s; }

void drawExitButton(ScreenContext& context) {
    const float s = gUI.uiScale;
    const float b = 60.0f * s;
    ImGui::SetNextWindowPos(ImVec2(ImGui::GetIO().DisplaySize.x - b - 20.0f * s, 20.0f * s), ImGuiCond_Always,
                            ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(b, b));
    ImGui::Begin("##ExitButton", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoBackground);
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.8f, 0.1f, 0.1f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.9f, 0.2f, 0.2f, 1.0f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.7f, 0.1f, 0.1f, 1.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(8.0f * s, 8.0f * s));
    const bool clicked = ImGui::Button("X", ImVec2(b - 12.0f, b - 12.0f));
    uiTraceLastItem("hud_exit");
    if (clicked) {
        context.endRound();
    }
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(3);
    ImGui::End();
}
