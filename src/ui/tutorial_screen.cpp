#include "ui/tutorial_screen.hpp"

#include "app/app.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>

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

// The bordered, rounded text area both screens share, as tall as its text within the size
// range from `least` to `most` (GUI units); returns whether it is visible. It scrolls
// only when it was held at `most` in the frame before (`heldDown`, the caller's to keep): the
// auto-fitted height is whole pixels, a fraction short of the text, which must not bring a bar.
bool beginContent(const char* id, float least, float most, bool& heldDown, float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 40.0f * s));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
    ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, least), ImVec2(FLT_MAX, most));
    const bool shown =
        ImGui::BeginChild(id, ImVec2(0.0f, 0.0f), ImGuiChildFlags_Borders | ImGuiChildFlags_AutoResizeY,
                          heldDown ? ImGuiWindowFlags_None : ImGuiWindowFlags_NoScrollbar);
    heldDown = ImGui::GetWindowSize().y >= most - 1.0f;
    return shown;
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

// Centred; a line wider than the panel wraps, each of its lines centred.
void centredText(const char* text, const float color[4]) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(color[0], color[1], color[2], color[3]));
    const float left = ImGui::GetCursorPosX();
    const float room = ImGui::GetContentRegionAvail().x;
    const char* end = text + std::strlen(text);
    ImFont* font = ImGui::GetFont();
    const float size = ImGui::GetFontSize();
    for (const char* line = text; line < end;) {
        const char* lineEnd = font->CalcWordWrapPosition(size, line, end, room);
        if (lineEnd == line) {
            lineEnd = line + 1; // a character wider than the panel still moves on
        }
        const float width = ImGui::CalcTextSize(line, lineEnd).x;
        ImGui::SetCursorPosX(left + std::max(0.0f, (room - width) / 2.0f));
        ImGui::TextUnformatted(line, lineEnd);
        line = lineEnd;
        while (line < end && *line == ' ') {
            ++line;
        }
    }
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

// The circles' reach beyond their centre at radius scale k: the largest target radius (100), as a
// hit burst (x 1.45) with its glow, and the hold track's ring (see circle_sdf.vert).
static float circleReach(float k) { return std::max(100.0f * k + 22.0f, 145.0f * k + 16.0f); }

// The band between the text panel and the buttons where the tutorial shows the circles, in GUI
// units: the circles of the whole window are drawn in it, smaller where it is low.
static void placeDemonstrationCircles(App& app, float x0, float y0, float x1, float y1) {
    CircleArea& area = app.render.circleArea;
    const ImVec2 px = ImGui::GetIO().DisplayFramebufferScale;
    const float width = (x1 - x0) * px.x, height = (y1 - y0) * px.y;
    // As large as in play where the band allows, never larger than the GUI's scale makes them.
    float k = std::min(gUI.uiScale * px.y, 1.0f);
    while (k > 0.05f && 2.0f * circleReach(k) > std::min(width, height)) {
        k *= 0.9f;
    }
    const float reach = circleReach(k);
    if (2.0f * reach > std::min(width, height)) {
        area.enabled = false; // no room at all: no circles rather than circles over the text
        app.render.circleArea = area;
        return;
    }
    const float windowHeight = static_cast<float>(app.render.height);
    area.enabled = true;
    area.radiusScale = k;
    area.left = x0 * px.x + reach;
    area.right = x1 * px.x - reach;
    area.top = windowHeight - (y0 * px.y + reach);
    area.bottom = windowHeight - (y1 * px.y - reach);
    uiTraceRect("tutorial_circles", x0, y0, x1, y1);
}

void drawTutorialScreen(App& app) {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("TUTORIAL", 0.4f, 0.9f);
    const float y =
        std::max(viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("TUTORIAL").y + 120.0f * s,
                 neonTitleRect("TUTORIAL").y1);
    const float fraction = panelWidthFraction(0.65f);
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (1.0f - fraction) / 2.0f * work.x, y),
                            ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(fraction * work.x, work.y - (y - viewport.WorkPos.y) - 70.0f * s));
    if (ImGui::Begin("##TutorialPanel", nullptr, kPanelFlags)) {
        const float b = 125.2f * s;
        const ImVec2 button(std::min(300.0f * s, 0.3f * ImGui::GetWindowWidth()), b);
        // The page's text sets the panel's height; the rest, down to the buttons, shows the circles.
        const float room = std::max(60.0f * s, ImGui::GetContentRegionAvail().y - b - 60.0f * s);
        static bool heldDown = false;
        if (beginContent("TutorialContent", 0.0f, room, heldDown, s)) {
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            uiTraceRect("tutorial_panel", at.x, at.y, at.x + size.x, at.y + size.y);
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
        const float panelBottom = ImGui::GetWindowPos().y + ImGui::GetWindowSize().y;
        ImGui::EndChild();
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar(2);
        const float gap = ImGui::GetContentRegionAvail().y - b - 10.0f * s;
        if (gap > 0.0f) {
            ImGui::Dummy(ImVec2(0.0f, gap));
        }

        // Narrow windows put the page number above the buttons, wide ones between them.
        pushFont(gUI.fonts.defaultFont);
        char indicator[64];
        std::snprintf(indicator, sizeof indicator, "Page %d of %d", gUI.tutorialPage + 1, kTutorialPages);
        const ImVec2 size = ImGui::CalcTextSize(indicator);
        ImGui::PopFont();
        const float rowY = ImGui::GetCursorPosY();
        const float side = 30.0f * s;
        const bool between = ImGui::GetWindowWidth() - 2.0f * (button.x + side) >= size.x + 20.0f * s;
        const float indicatorY = between ? rowY + (b - size.y) / 2.0f : rowY - size.y - 10.0f * s;

        const float windowTop = ImGui::GetWindowPos().y;
        const float bandTop = panelBottom + 20.0f * s;
        const float bandBottom = windowTop + (between ? rowY : indicatorY) - 20.0f * s;
        placeDemonstrationCircles(app, viewport.WorkPos.x + 0.05f * work.x, bandTop,
                                  viewport.WorkPos.x + 0.95f * work.x, bandBottom);

        const ButtonTextures& t = gUI.textures;
        pushClearButtonColours();
        if (gUI.tutorialPage > 0) {
            ImGui::SetCursorPos(ImVec2(side, rowY));
            if (labeledImageButton("##nav_back", "Back", button, t.normalInactive, t.normalActive)) {
                gUI.tutorialPage -= 1;
            }
        }
        ImGui::SetCursorPos(ImVec2(ImGui::GetWindowWidth() - button.x - side, rowY));
        if (gUI.tutorialPage < kTutorialPages - 1) {
            if (labeledImageButton("##nav_next", "Next", button, t.normalInactive, t.normalActive)) {
                gUI.tutorialPage += 1;
            }
        } else if (labeledImageButton("##nav_finish", "Finish", button, t.normalInactive, t.normalActive)) {
            gUI.showTutorial = false;
        }
        pushFont(gUI.fonts.defaultFont);
        ImGui::SetCursorPos(ImVec2((ImGui::GetWindowWidth() - size.x) / 2.0f, indicatorY));
        ImGui::TextColored(ImVec4(0.8f, 0.8f, 0.9f, 1.0f), "%s", indicator);
        uiTraceLastItem("tutorial_page");
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
    const float y =
        std::max(viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("CREDITS").y + 60.0f * s,
                 neonTitleRect("CREDITS").y1);
    const float fraction = panelWidthFraction(0.75f);
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (1.0f - fraction) / 2.0f * work.x, y),
                            ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(fraction * work.x, work.y - (y - viewport.WorkPos.y) - 40.0f * s));
    bool back = false;
    if (ImGui::Begin("##CreditsPanel", nullptr, kPanelFlags)) {
        const float b = 125.2f * s;
        // The panel fills the height above the button: held there, it scrolls when the lines need more.
        const float height = std::max(60.0f * s, ImGui::GetContentRegionAvail().y - b - 60.0f * s);
        bool heldDown = true;
        if (beginContent("CreditsContent", height, height, heldDown, s)) {
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            uiTraceRect("credits_panel", at.x, at.y, at.x + size.x, at.y + size.y);
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
        const ImVec2 button(std::min(400.0f * s, ImGui::GetContentRegionAvail().x), b);
        const RowButton row[] = {{"##back", "Back"}};
        back = drawButtonRow(row, 1, button, 0.0f) == 0;
    }
    ImGui::End();
    if (back) {
        app.showCredits = false;
        app.showSettings = true;
    }
}
