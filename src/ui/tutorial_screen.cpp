#include "ui/tutorial_screen.hpp"

#include "app/app.hpp"
#include "ui/ui_system.hpp"

#include <imgui.h>

#include <cstdio>

namespace {

const std::vector<TutorialPage> kPages = {
    {"Welcome to Vibrelle!",
     {1.0f, 0.8f, 0.0f, 1.0f},
     {"Vibrelle is an endless rhythm game that evolves with audio-reactive visuals as you play!",
      "The longer you hold a combo, the more layers of the track you unlock!",
      "This tutorial will teach you how to play the game."}},
    {"Basic Gameplay",
     {0.0f, 1.0f, 0.5f, 1.0f},
     {"Circles will appear on the screen. Tap them when they reach the target area to score points.",
      "Timing is everything! Hit the circles precisely when they align with the target."}},
    {"Hold Notes",
     {1.0f, 0.5f, 0.0f, 1.0f},
     {"Some circles are filled - these are hold notes!",
      "Keep your finger down until the circle completely shrinks to the edge for maximum points."}},
    // The miss rule is the game's: three misses in a row (missesPerLayerDrop) take a layer away.
    {"Stem Progress",
     {0.5f, 0.8f, 1.0f, 1.0f},
     {"Build your combo to unlock more musical layers!",
      "Once you achieve a 5 beat combo you can progress to the next layer. However, if you miss 3 beats in a "
      "row "
      "you are downgraded one layer.",
      "The progress bar at the top shows how many layers you've unlocked. More layers = more complex "
      "music!"}},
    {"Ready to Play!",
     {1.0f, 0.3f, 0.7f, 1.0f},
     {"You're all set! Select a level from the main menu and start playing.",
      "Remember: timing is key, and don't forget to hold those hold notes!",
      "Have fun and enjoy the music!"}},
};

const TutorialPage kEmptyPage = {"", {1.0f, 1.0f, 1.0f, 1.0f}, {}};

void pushFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

// The bordered, rounded text area both screens share; returns whether it is visible.
bool beginContent(const char* id, float buttonHeight, float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 40.0f * s));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
    ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
    return ImGui::BeginChild(id, ImVec2(0.0f, ImGui::GetContentRegionAvail().y - buttonHeight - 60.0f * s),
                             ImGuiChildFlags_Borders);
}

void endContent(float buttonHeight, float s) {
    ImGui::EndChild();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(2);
    const float gap = ImGui::GetContentRegionAvail().y - buttonHeight - 10.0f * s;
    if (gap > 0.0f) {
        ImGui::Dummy(ImVec2(0.0f, gap));
    }
}

void centredText(const char* text, const float color[4]) {
    ImGui::SetCursorPosX((ImGui::GetWindowWidth() - ImGui::CalcTextSize(text).x) / 2.0f);
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(color[0], color[1], color[2], color[3]));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

constexpr ImGuiWindowFlags kPanelFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                         ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                         ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBackground;

} // namespace

const TutorialPage& tutorialPage(int index) {
    return index >= 0 && index < kTutorialPages ? kPages[static_cast<size_t>(index)] : kEmptyPage;
}

const std::vector<CreditLine>& creditLines() {
    static const std::vector<CreditLine> lines = {
        {"Developed by: the Vibrelle developers", {0.8f, 0.8f, 1.0f, 1.0f}},
        {"Music & Audio: songs written for Vibrelle, played with the FluidR3_GM soundfont",
         {0.8f, 1.0f, 0.8f, 1.0f}},
        {"Powered by SDL3, Dear ImGui and miniaudio", {1.0f, 0.8f, 0.8f, 1.0f}},
        {"Fonts: Orbitron and Roboto", {0.8f, 0.9f, 1.0f, 1.0f}},
        {"Licences: see LICENSE and THIRD_PARTY.md", {0.7f, 0.7f, 0.7f, 1.0f}},
    };
    return lines;
}

void drawTutorialScreen() {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("TUTORIAL", 0.4f, 0.9f);
    const float y = viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("TUTORIAL").y + 120.0f * s;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + 0.175f * work.x, y), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(0.65f * work.x, work.y - y - 70.0f * s));
    if (ImGui::Begin("##TutorialPanel", nullptr, kPanelFlags)) {
        const float b = 125.2f * s;
        if (beginContent("TutorialContent", b, s)) {
            const TutorialPage& page = tutorialPage(gUI.tutorialPage);
            pushFont(gUI.fonts.defaultFont);
            pushFont(gUI.fonts.buttonFont);
            centredText(page.title, page.color);
            ImGui::PopFont();
            ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
            for (size_t i = 0; i < page.paragraphs.size(); ++i) {
                if (i > 0) {
                    ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
                }
                ImGui::TextWrapped("%s", page.paragraphs[i]);
            }
            ImGui::PopFont();
        }
        endContent(b, s);

        const float rowY = ImGui::GetCursorPosY();
        const ImVec2 button(300.0f * s, b);
        const ButtonTextures& t = gUI.textures;
        pushClearButtonColours();
        if (gUI.tutorialPage > 0) {
            ImGui::SetCursorPos(ImVec2(30.0f * s, rowY));
            if (labeledImageButton("##nav_back", "Back", button, t.normalInactive, t.normalActive)) {
                gUI.tutorialPage -= 1;
            }
        }
        ImGui::SetCursorPos(ImVec2(ImGui::GetWindowWidth() - button.x - 30.0f * s, rowY));
        if (gUI.tutorialPage < kTutorialPages - 1) {
            if (labeledImageButton("##nav_next", "Next", button, t.normalInactive, t.normalActive)) {
                gUI.tutorialPage += 1;
            }
        } else if (labeledImageButton("##nav_finish", "Finish", button, t.normalInactive, t.normalActive)) {
            gUI.showTutorial = false;
        }
        pushFont(gUI.fonts.defaultFont);
        char indicator[64];
        std::snprintf(indicator, sizeof indicator, "Page %d of %d", gUI.tutorialPage + 1, kTutorialPages);
        const ImVec2 size = ImGui::CalcTextSize(indicator);
        ImGui::SetCursorPos(ImVec2((ImGui::GetWindowWidth() - size.x) / 2.0f, rowY + (b - size.y) / 2.0f));
        ImGui::TextColored(ImVec4(0.8f, 0.8f, 0.9f, 1.0f), "%s", indicator);
        ImGui::PopFont();
        ImGui::PopStyleColor(3);
    }
    ImGui::End();
}

void drawCreditsScreen(App& app) {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("CREDITS", 0.25f, 1.0f);
    const float y = viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("CREDITS").y + 60.0f * s;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + 0.125f * work.x, y), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(0.75f * work.x, work.y - y - 40.0f * s));
    bool back = false;
    if (ImGui::Begin("##CreditsPanel", nullptr, kPanelFlags)) {
        const float b = 125.2f * s;
        if (beginContent("CreditsContent", b, s)) {
            pushFont(gUI.fonts.defaultFont);
            pushFont(gUI.fonts.buttonFont);
            const float gold[4] = {1.0f, 0.8f, 0.0f, 1.0f};
            centredText("Vibrelle", gold);
            ImGui::PopFont();
            ImGui::Dummy(ImVec2(0.0f, 30.0f * s));
            bool first = true;
            for (const CreditLine& line : creditLines()) {
                if (!first) {
                    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
                }
                first = false;
                centredText(line.text, line.color);
            }
            ImGui::PopFont();
        }
        endContent(b, s);
        const ImVec2 button(400.0f * s, b);
        const RowButton row[] = {{"##back", "Back"}};
        back = drawButtonRow(row, 1, button, 0.0f) == 0;
    }
    ImGui::End();
    if (back) {
        app.showCredits = false;
        app.showSettings = true;
    }
}
