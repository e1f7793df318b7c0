#include "ui/controls_screen.hpp"

#include "game/game_state.hpp"
#include "game/input_state.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <SDL3/SDL_scancode.h>
#include <imgui.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <string>

void cancelKeyCapture() { gUI.controls = ControlsScreenState{}; }

bool capturingKey() { return gUI.controls.capturingCell >= 0; }

namespace {

// Keys are square, `gap` of a key apart; each row sits further right than the one above it, as on a
// keyboard (the home row a quarter of a key, the bottom row three quarters).
constexpr float kKeyGap = 0.12f;
constexpr float kRowShift[kVelocityRows] = {0.75f, 0.25f, 0.0f}; // by row, bottom (soft) to top (loud)
constexpr float kKeyboardWidthInKeys =
    kKeyLaneCount + (kKeyLaneCount - 1) * kKeyGap + 0.75f * (1.0f + kKeyGap);
constexpr float kKeyboardHeightInKeys = kVelocityRows + (kVelocityRows - 1) * kKeyGap;

// Takes the key the input layer captured for the waiting cell: Escape cancels; any other key is
// bound (the wait ends) or refused (the wait goes on, the reason shown).
void takeCapturedKey(ScreenContext& context) {
    ControlsScreenState& state = gUI.controls;
    const std::uint32_t scancode = context.input->capturedScancode;
    if (state.capturingCell < 0 || scancode == 0) {
        return;
    }
    context.input->capturedScancode = 0;
    if (scancode == SDL_SCANCODE_ESCAPE) {
        cancelKeyCapture();
    } else if (context.bindCellKey(static_cast<std::uint32_t>(state.capturingCell), scancode,
                                   state.message)) {
        state.capturingCell = -1;
    }
}

// One key of the grid, `size` square, showing `label`, or an ellipsis while it waits. True when
// chosen.
bool drawKeyCap(int cell, const std::string& label, float size, bool waiting, float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 10.0f * s);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, std::max(1.0f, 2.0f * s));
    ImGui::PushStyleColor(ImGuiCol_Button,
                          waiting ? ImVec4(0.0f, 0.4f, 0.28f, 0.95f) : ImVec4(0.15f, 0.15f, 0.25f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.2f, 0.3f, 0.4f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.0f, 0.6f, 0.4f, 1.0f));
    ImGui::PushStyleColor(ImGuiCol_Border,
                          waiting ? ImVec4(0.0f, 1.0f, 0.5f, 1.0f) : ImVec4(0.3f, 0.3f, 0.5f, 0.8f));
    pushUIFont(gUI.fonts.buttonFont);
    const std::string text = (waiting         ? std::string("\xE2\x80\xA6")
                              : label.empty() ? std::string("?")
                                              : label) +
                             "##cell" + std::to_string(cell);
    const bool chosen = ImGui::Button(text.c_str(), ImVec2(size, size));
    ImGui::PopFont();
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar(2);
    uiTraceLastItem(("cell:" + std::to_string(cell)).c_str());
    if (lastItemHasVisibleFocus()) {
        drawFocusRing(ImGui::GetForegroundDrawList(), ImGui::GetItemRectMin(), ImGui::GetItemRectMax(),
                      10.0f * s);
    }
    return chosen;
}

// The grid as a keyboard, centred, keys as large as the width and `height` allow (at most 130 s).
void drawKeyboard(const std::array<std::string, kGridCells>& labels, float height, float s) {
    ControlsScreenState& state = gUI.controls;
    const float width = ImGui::GetContentRegionAvail().x;
    const float key = std::max(
        24.0f * s, std::min({130.0f * s, width / kKeyboardWidthInKeys, height / kKeyboardHeightInKeys}));
    const float step = key * (1.0f + kKeyGap);
    const ImVec2 origin(ImGui::GetCursorPosX() + (width - key * kKeyboardWidthInKeys) / 2.0f,
                        ImGui::GetCursorPosY());
    for (int row = kVelocityRows - 1; row >= 0; --row) {
        const float y = origin.y + (kVelocityRows - 1 - row) * step;
        for (int lane = 0; lane < kKeyLaneCount; ++lane) {
            const int cell = static_cast<int>(cellOf(lane, row));
            ImGui::SetCursorPos(ImVec2(origin.x + (kRowShift[row] + lane) * step, y));
            if (drawKeyCap(cell, labels[static_cast<std::size_t>(cell)], key, state.capturingCell == cell,
                           s)) {
                // Choosing the waiting key again stops the wait.
                state.capturingCell = state.capturingCell == cell ? -1 : cell;
                state.message.clear();
            }
        }
    }
    ImGui::SetCursorPos(ImVec2(ImGui::GetCursorStartPos().x, origin.y + key * kKeyboardHeightInKeys));
}

} // namespace

void drawControlsScreen(ScreenContext& context) {
    const float s = gUI.uiScale;
    takeCapturedKey(context);
    std::array<std::string, kGridCells> labels;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        labels = context.game->cellLabels;
    }
    drawTitleAndPlacePanel("CONTROLS", 0.35f, 1.0f, 0.75f, 60.0f, 40.0f);
    bool back = false;
    if (ImGui::Begin("##ControlsPanel", nullptr, screenPanelFlags())) {
        // Two buttons: the row shrinks only where 840 s does not fit.
        const float k = std::min(1.0f, ImGui::GetContentRegionAvail().x / (840.0f * s));
        const ImVec2 button(400.0f * s * k, 125.2f * s * k);
        if (beginPanelContent("ControlsContent", "controls_panel", button.y, s)) {
            pushUIFont(gUI.fonts.defaultFont);
            ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
            ImGui::TextWrapped("%s",
                               "Each key plays the circles of one column and row of the screen: columns from "
                               "low notes (left) to high notes (right), rows from soft notes (bottom) to "
                               "loud ones (top). Choose a key, then press the key that should play it.");
            ImGui::PopStyleColor();
            ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
            const float lines = 2.0f * ImGui::GetTextLineHeightWithSpacing() + 40.0f * s;
            drawKeyboard(labels, ImGui::GetContentRegionAvail().y - lines, s);
            ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
            const ControlsScreenState& state = gUI.controls;
            if (state.capturingCell >= 0) {
                const float accent[4] = {0.0f, 1.0f, 0.5f, 1.0f};
                centredText("Press a key\xE2\x80\xA6 (Escape cancels)", accent);
            } else {
                const float dim[4] = {0.7f, 0.7f, 0.7f, 1.0f};
                centredText("Changes are saved at once.", dim);
            }
            uiTraceLastItem("controls_status");
            if (!state.message.empty()) {
                const float red[4] = {1.0f, 0.5f, 0.4f, 1.0f};
                centredText(state.message.c_str(), red);
                uiTraceLastItem("controls_message");
            }
            ImGui::PopFont();
        }
        endPanelContent();
        ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
        const RowButton row[] = {{"##back", "Back"}, {"##reset", "Reset to default"}};
        const int clicked = drawButtonRow(row, 2, button, 40.0f * s * k);
        back = clicked == 0;
        if (clicked == 1) {
            cancelKeyCapture();
            context.resetKeyBindings();
        }
    }
    ImGui::End();
    if (back) {
        goToScreen(context, UIScreen::Settings);
    }
}
