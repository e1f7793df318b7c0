#include "ui/tutorial_screen.hpp"

#include "render/render_system.hpp"
#include "ui/screen_context.hpp"
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
     {"Some circles have drifting stripes - these are hold notes!",
      "Press one when it reaches its ring, then keep your finger down while the arc around it fills. "
      "Let go once the arc has gone all the way round: letting go too early counts as a miss."}},
    // The layer rule is the game's (layerStep): a combo of kComboPerLayer per layer already
    // unlocked, counted since the last layer change, and missesPerLayerDrop misses in a row take
    // the newest layer away, never the last.
    {"Stem Progress",
     {0.5f, 0.8f, 1.0f, 1.0f},
     {"Build your combo to unlock more musical layers!",
      "Each new layer needs a combo of 5 times the layers you have, built since your last new layer: 5 "
      "hits bring the second layer, 10 more the third. But if you miss 3 beats in a row you lose your "
      "newest layer (never your last one).",
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

} // namespace

const TutorialPage& tutorialPage(int index) {
    return index >= 0 && index < kTutorialPages ? kPages[static_cast<size_t>(index)] : kEmptyPage;
}

// The circles' reach beyond their centre at radius scale k: the largest target radius (100), as a
// hit burst (x 1.45) with its glow, and the hold track's ring (see circle_sdf.vert).
static float circleReach(float k) { return std::max(100.0f * k + 22.0f, 145.0f * k + 16.0f); }

// The band between the text panel and the buttons where the tutorial shows the circles, in GUI
// units: the circles of the whole window are drawn in it, smaller where it is low.
static void placeDemonstrationCircles(ScreenContext& context, float x0, float y0, float x1, float y1) {
    CircleArea& area = context.render->circleArea;
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
        context.render->circleArea = area;
        return;
    }
    const float windowHeight = static_cast<float>(context.render->height);
    area.enabled = true;
    area.radiusScale = k;
    area.left = x0 * px.x + reach;
    area.right = x1 * px.x - reach;
    area.top = windowHeight - (y0 * px.y + reach);
    area.bottom = windowHeight - (y1 * px.y - reach);
    uiTraceRect("tutorial_circles", x0, y0, x1, y1);
}

void drawTutorialScreen(ScreenContext& context) {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawTitleAndPlacePanel("TUTORIAL", 0.4f, 0.9f, 0.65f, 120.0f, 70.0f);
    if (ImGui::Begin("##TutorialPanel", nullptr, screenPanelFlags())) {
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
        placeDemonstrationCircles(context, viewport.WorkPos.x + 0.05f * work.x, bandTop,
                                  viewport.WorkPos.x + 0.95f * work.x, bandBottom);

        const ButtonTextures& t = gUI.textures;
        pushClearButtonColours();
        if (gUI.tutorialPage > 0) {
            ImGui::SetCursorPos(ImVec2(side, rowY));
            if (labeledImageButton("##nav_back", "Back", button, t.normalInactive, t.normalActive)) {
                goToScreen(context, UIScreen::Tutorial, gUI.tutorialPage - 1);
            }
        }
        ImGui::SetCursorPos(ImVec2(ImGui::GetWindowWidth() - button.x - side, rowY));
        if (gUI.tutorialPage < kTutorialPages - 1) {
            if (labeledImageButton("##nav_next", "Next", button, t.normalInactive, t.normalActive)) {
                goToScreen(context, UIScreen::Tutorial, gUI.tutorialPage + 1);
            }
        } else if (labeledImageButton("##nav_finish", "Finish", button, t.normalInactive, t.normalActive)) {
            goToScreen(context, UIScreen::MainMenu);
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
