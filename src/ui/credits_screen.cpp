#include "ui/credits_screen.hpp"

#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>

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

void drawCreditsScreen(const ScreenContext& context) {
    const float s = gUI.uiScale;
    drawTitleAndPlacePanel("CREDITS", 0.25f, 1.0f, 0.75f, 60.0f, 40.0f);
    bool back = false;
    if (ImGui::Begin("##CreditsPanel", nullptr, screenPanelFlags())) {
        const float b = 125.2f * s;
        // The panel fills the height above the button: held there, it scrolls when the lines need more.
        const float height = std::max(60.0f * s, ImGui::GetContentRegionAvail().y - b - 60.0f * s);
        bool heldDown = true;
        if (beginContent("CreditsContent", height, height, heldDown, s)) {
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            uiTraceRect("credits_panel", at.x, at.y, at.x + size.x, at.y + size.y);
            pushUIFont(gUI.fonts.defaultFont);
            pushUIFont(gUI.fonts.buttonFont);
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
        goToScreen(context, UIScreen::Settings);
    }
}
