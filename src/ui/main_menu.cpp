#include "ui/main_menu.hpp"

#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/input_state.hpp"
#include "level/level_session.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cfloat>
#include <mutex>
#include <string>
#include <vector>

namespace {

void pushFont(ImFont* font) { pushUIFont(font); }

// The stack's height for buttons `buttonHeight` high (the 2 s between them taken as 1 pixel, as the
// landscape layout has always placed it).
float buttonStackHeight(float buttonHeight) { return 6.0f * buttonHeight + 5.0f; }

// Asks for the selected level to start, in earnest or as a practice round: it loads once the frame
// with its notice is shown.
void startSelectedLevel(LevelSession& levels, bool practice = false) {
    if (levels.pendingStart < 0 && levels.selected >= 0 &&
        levels.selected < static_cast<int>(levels.list.size())) {
        levels.pendingStart = levels.selected;
        levels.startPractice = practice;
    }
}

// The six buttons, their top at `top` (window units, screen space).
void drawButtonStack(ScreenContext& context, float top) {
    const float s = gUI.uiScale;
    const ImVec2 size(400.0f * s, 125.2f * s);
    ImGui::SetCursorPosY(top - ImGui::GetWindowPos().y + ImGui::GetScrollY());
    pushClearButtonColours();
    const float x = ImGui::GetCursorPosX() + (ImGui::GetColumnWidth() - size.x) / 2.0f;
    const float savedSpacing = ImGui::GetStyle().ItemSpacing.y;
    ImGui::GetStyle().ItemSpacing.y = 2.0f * s;
    const ButtonTextures& t = gUI.textures;

    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##start", "Start Level", size, t.startInactive, t.startActive)) {
        startSelectedLevel(*context.levels);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##practice", "Practice", size, t.normalInactive, t.normalActive)) {
        startSelectedLevel(*context.levels, true);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##settings", "Settings", size, t.normalInactive, t.normalActive)) {
        goToScreen(context, UIScreen::Settings);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##leaderboard", "Leaderboard", size, t.normalInactive, t.normalActive)) {
        goToScreen(context, UIScreen::Leaderboard);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##tutorial", "Tutorial", size, t.normalInactive, t.normalActive)) {
        goToScreen(context, UIScreen::Tutorial, 0);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##exit", "Exit", size, t.exitInactive, t.exitActive)) {
        context.input->quitRequested = true;
    }
    ImGui::GetStyle().ItemSpacing.y = savedSpacing;
    ImGui::PopStyleColor(3);
}

void drawLevelTable(LevelSession& levels, float listHeight) {
    const float s = gUI.uiScale;
    pushFont(gUI.fonts.defaultFont);
    // Flattened: the arrows and the D-pad move between the buttons and the rows as on one page.
    const bool shown = ImGui::BeginChild("LevelSelectionChild", ImVec2(0, listHeight),
                                         ImGuiChildFlags_NavFlattened, ImGuiWindowFlags_NoBackground);
    const ImVec2 panel = ImGui::GetWindowPos(), panelSize = ImGui::GetWindowSize();
    uiTraceRect("menu_levels", panel.x, panel.y, panel.x + panelSize.x, panel.y + panelSize.y);
    if (shown) {
        // The table scrolls in a child window of its own: flattened as well, so that the focus
        // reaches its rows by moving, not by entering the table (and Escape, which would leave it,
        // quits on this screen).
        ImGuiContext& g = *ImGui::GetCurrentContext();
        g.NextWindowData.ChildFlags = ImGuiChildFlags_NavFlattened;
        g.NextWindowData.HasFlags |= ImGuiNextWindowDataFlags_HasChildFlags;
        if (ImGui::BeginTable("LevelsTable", 2, ImGuiTableFlags_ScrollY | ImGuiTableFlags_PadOuterX)) {
            ImGui::TableSetupColumn("Level", ImGuiTableColumnFlags_WidthStretch);
            ImGui::TableSetupColumn("Difficulty", ImGuiTableColumnFlags_WidthFixed,
                                    ImGui::CalcTextSize("Difficulty").x + 12.0f * s);
            ImGui::TableSetupScrollFreeze(0, 1);
            // The headers sort nothing: the focus passes them by and lands on the rows.
            ImGui::PushItemFlag(ImGuiItemFlags_NoNav, true);
            ImGui::TableHeadersRow();
            ImGui::PopItemFlag();
            for (int i = 0; i < static_cast<int>(levels.list.size()); ++i) {
                const LevelListEntry& entry = levels.list[static_cast<size_t>(i)];
                ImGui::TableNextRow();
                ImGui::TableSetColumnIndex(0);
                // The row's id is its index; the name, which comes from a file, is only text, drawn
                // over the row rather than as a second item on it (overlapping items take a press
                // only after a frame of hover, which a tap on a touch screen never gives).
                ImGui::PushID(i);
                const ImVec2 text = ImGui::GetCursorScreenPos();
                const float cellRight = text.x + ImGui::GetContentRegionAvail().x;
                // The focus moved onto a row selects it; Enter or A on it starts it, as Start does.
                if (ImGui::Selectable("##row", i == levels.selected,
                                      ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_SelectOnNav,
                                      ImVec2(0.0f, ImGui::GetTextLineHeight()))) {
                    levels.selected = i;
                    if (ImGui::GetCurrentContext()->NavActivateId == ImGui::GetItemID()) {
                        startSelectedLevel(levels);
                    }
                }
                if (i == levels.selected) {
                    ImGui::SetItemDefaultFocus(); // where the focus lands when the table takes it
                }
                // Left from a row goes back to the buttons beside the table.
                if (ImGui::IsItemFocused() && (ImGui::IsKeyPressed(ImGuiKey_LeftArrow) ||
                                               ImGui::IsKeyPressed(ImGuiKey_GamepadDpadLeft))) {
                    gUI.focusRequest = "##start";
                }
                uiTraceLastItem(("level_row_" + std::to_string(i)).c_str());
                // The player's own levels carry a dim "yours" at the cell's right end.
                float nameRight = cellRight;
                if (entry.own) {
                    const char* tag = "yours";
                    const float tagWidth = ImGui::CalcTextSize(tag).x;
                    nameRight = cellRight - tagWidth - 8.0f * s;
                    ImGui::GetWindowDrawList()->AddText(ImVec2(cellRight - tagWidth, text.y),
                                                        ImGui::GetColorU32(ImGuiCol_TextDisabled), tag);
                }
                // A name longer than its cell ends in an ellipsis rather than run under the stars.
                ImGui::RenderTextEllipsis(ImGui::GetWindowDrawList(), text,
                                          ImVec2(nameRight, text.y + ImGui::GetTextLineHeight()), nameRight,
                                          entry.name.c_str(), nullptr, nullptr);
                ImGui::PopID();
                ImGui::TableSetColumnIndex(1);
                const int stars = std::min(std::max(entry.difficulty, 1), 5);
                for (int star = 0; star < stars; ++star) {
                    ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.0f, 1.0f), "*");
                    ImGui::SameLine(0.0f, 2.0f);
                }
            }
            ImGui::EndTable();
        }
    }
    ImGui::EndChild();
    ImGui::PopFont();
}

// A small button in the level block (Add Level, Delete), in the Settings screen's colours.
bool smallButton(const char* label, const char* id) {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.15f, 0.15f, 0.25f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.2f, 0.3f, 0.4f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.0f, 0.6f, 0.4f, 1.0f));
    const bool clicked = ImGui::Button(label);
    uiTraceLastItem(id);
    ImGui::PopStyleColor(3);
    return clicked;
}

// The right end of the current line (the column's, in the two-column menu), taken at its start.
float lineRight() { return ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x; }

// Places the next item of `width` on the line just drawn, ending at `right`.
void alignRight(float right, float width) {
    ImGui::SameLine();
    ImGui::SetCursorPosX(std::max(ImGui::GetCursorPosX(), right - width));
}

float smallButtonWidth(const char* label) {
    return ImGui::CalcTextSize(label).x + 2.0f * ImGui::GetStyle().FramePadding.x;
}

// What the last deletion said when it failed, shown in the details until another level is chosen.
struct DeleteNotice {
    int level = -1;
    std::string text;
};
DeleteNotice& deleteNotice() {
    static DeleteNotice notice;
    return notice;
}

constexpr const char* kDeletePopup = "Delete level";
bool gDeleteConfirmationUp = false; // drawn in the last frame

// The confirmation of deleting the player's own level at `index`.
void drawDeleteConfirmation(ScreenContext& context, int index) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const float s = gUI.uiScale;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y / 2.0f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(0.8f * viewport.WorkSize.x, FLT_MAX));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 30.0f * s));
    if (ImGui::BeginPopupModal(kDeletePopup, nullptr,
                               ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoTitleBar |
                                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoMove)) {
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        uiTraceRect("delete_popup", at.x, at.y, at.x + size.x, at.y + size.y);
        const LevelSession& levels = *context.levels;
        const bool valid = index >= 0 && index < static_cast<int>(levels.list.size());
        const std::string text = valid ? "Delete " + levels.list[static_cast<size_t>(index)].name +
                                             "? Its folder and charts are removed; your results stay."
                                       : std::string();
        ImGui::PushTextWrapPos(ImGui::GetCursorPosX() +
                               std::min(ImGui::CalcTextSize(text.c_str()).x, 0.7f * viewport.WorkSize.x));
        ImGui::TextUnformatted(text.c_str());
        ImGui::PopTextWrapPos();
        ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
        gDeleteConfirmationUp = true;
        bool close = !valid;
        if (smallButton("Delete", "##delete_confirm") && valid) {
            std::string message;
            if (!context.deleteOwnLevel || !context.deleteOwnLevel(index, message)) {
                deleteNotice() = {index, message};
            }
            close = true;
        }
        ImGui::SameLine();
        if (smallButton("Keep", "##delete_keep") || ImGui::IsKeyPressed(ImGuiKey_Escape, false) ||
            ImGui::IsKeyPressed(ImGuiKey_GamepadFaceRight, false)) {
            close = true;
        }
        ImGui::SetItemDefaultFocus();
        if (close) {
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    ImGui::PopStyleVar();
}

void drawLevelDetails(ScreenContext& context, float detailsHeight) {
    const LevelSession& levels = *context.levels;
    pushFont(gUI.fonts.defaultFont);
    // A description longer than the panel scrolls in it rather than being cut.
    const bool shown = ImGui::BeginChild("LevelDetails", ImVec2(0, detailsHeight), ImGuiChildFlags_None,
                                         ImGuiWindowFlags_NoBackground);
    const ImVec2 panel = ImGui::GetWindowPos(), panelSize = ImGui::GetWindowSize();
    uiTraceRect("menu_details", panel.x, panel.y, panel.x + panelSize.x, panel.y + panelSize.y);
    if (shown) {
        if (!levels.list.empty() && levels.selected >= 0 &&
            levels.selected < static_cast<int>(levels.list.size())) {
            const LevelListEntry& entry = levels.list[static_cast<size_t>(levels.selected)];
            const float right = lineRight();
            ImGui::Text("Difficulty: %d/5", entry.difficulty);
            if (entry.own) {
                // The player's own levels can go again; the shipped ones cannot.
                alignRight(right, smallButtonWidth("Delete"));
                if (smallButton("Delete", "##delete_level")) {
                    ImGui::OpenPopup(kDeletePopup);
                }
            }
            if (!entry.description.empty()) {
                ImGui::TextWrapped("Description: %s", entry.description.c_str());
            }
            if (deleteNotice().level == levels.selected && !deleteNotice().text.empty()) {
                ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.5f, 0.4f, 1.0f));
                ImGui::TextWrapped("%s", deleteNotice().text.c_str());
                ImGui::PopStyleColor();
            }
            drawDeleteConfirmation(context, levels.selected);
        }
    }
    ImGui::EndChild();
    ImGui::PopFont();
}

// A heading in the button font, traced under `id`.
void heading(const char* text, const char* id) {
    pushFont(gUI.fonts.buttonFont);
    ImGui::TextUnformatted(text);
    ImGui::PopFont();
    uiTraceLastItem(id);
}

// Why a replay dropped on the menu cannot be watched: one line at the foot of the window, over
// everything, until the screen changes (traced as "menu_notice").
void drawMenuNotice(const ScreenContext& context) {
    if (context.watchNotice == nullptr || context.watchNotice->empty()) {
        return;
    }
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const float s = gUI.uiScale;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y - 16.0f * s),
                            ImGuiCond_Always, ImVec2(0.5f, 1.0f));
    ImGui::SetNextWindowBgAlpha(0.9f);
    ImGui::Begin("##MenuNotice", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoInputs);
    const std::string& text = *context.watchNotice;
    const float room = 0.9f * viewport.WorkSize.x;
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + std::min(ImGui::CalcTextSize(text.c_str()).x, room));
    ImGui::TextColored(ImVec4(1.0f, 0.5f, 0.4f, 1.0f), "%s", text.c_str());
    ImGui::PopTextWrapPos();
    const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    uiTraceRect("menu_notice", at.x, at.y, at.x + size.x, at.y + size.y);
    ImGui::End();
}

// The level table and the details below it, `top` their top (screen space). Add Level sits at the
// right end of the table's heading.
void drawLevelBlock(ScreenContext& context, float top, float listHeight, float detailsHeight) {
    ImGui::SetCursorPosY(top - ImGui::GetWindowPos().y + ImGui::GetScrollY());
    const float right = lineRight();
    heading("Select Level", "menu_levels_heading");
    pushFont(gUI.fonts.defaultFont);
    alignRight(right, smallButtonWidth("Add Level"));
    if (smallButton("Add Level", "##add_level")) {
        goToScreen(context, UIScreen::AddLevel);
    }
    ImGui::PopFont();
    drawLevelTable(*context.levels, listHeight);
    heading("Details", "menu_details_heading");
    drawLevelDetails(context, detailsHeight);
}

} // namespace

bool menuDialogUp() { return gDeleteConfirmationUp; }

void drawMainMenu(ScreenContext& context) {
    gDeleteConfirmationUp = false;
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("VIBRELLE", 0.5f, 1.0f);
    const float width = (gUI.portrait ? 0.92f : 0.75f) * work.x;
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (work.x - width) / 2.0f, viewport.WorkPos.y),
                            ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(width, work.y));
    // Scrolls only where the window is too small for the smallest text (see computeUiScale).
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                                   ImGuiWindowFlags_NoBackground;
    if (ImGui::Begin("##MainMenu", nullptr, flags)) {
        const float lineH = ImGui::GetTextLineHeightWithSpacing();
        const float listHeight = 4.0f * ImGui::GetStyle().ItemSpacing.y + 5.0f * lineH;
        const float bottom = viewport.WorkPos.y + work.y;
        const float buttonHeight = 125.2f * s;
        const float stack = buttonStackHeight(buttonHeight);
        if (!gUI.portrait) {
            // Two columns, each block centred in the height under the title.
            ImGui::Columns(2, "MainMenuColumns", false);
            const float detailsHeight = 0.125f * work.y;
            const float titleBottom = viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("VIBRELLE").y;
            drawButtonStack(context, titleBottom + std::max(0.0f, (bottom - titleBottom - stack) / 2.0f));
            // Right from a button goes to the chosen level's row (Left comes back, in the table).
            if (ImGui::GetCurrentContext()->NavWindow == ImGui::GetCurrentWindow() &&
                (ImGui::IsKeyPressed(ImGuiKey_RightArrow) ||
                 ImGui::IsKeyPressed(ImGuiKey_GamepadDpadRight))) {
                gUI.focusRequest = "level_row_" + std::to_string(context.levels->selected);
            }
            ImGui::NextColumn();
            const float blockHeight = listHeight + lineH + detailsHeight;
            drawLevelBlock(context, titleBottom + std::max(0.0f, (bottom - titleBottom - blockHeight) / 2.0f),
                           listHeight, detailsHeight);
            ImGui::Columns(1);
        } else {
            // One column: the buttons, then the levels, the whole centred under the title.
            pushFont(gUI.fonts.buttonFont);
            const float headingH = ImGui::GetTextLineHeightWithSpacing();
            ImGui::PopFont();
            const float detailsHeight = 3.0f * lineH;
            const float gap = 30.0f * s;
            const float titleBottom = neonTitleRect("VIBRELLE").y1 + gap;
            const float blockHeight = stack + gap + 2.0f * headingH + listHeight + detailsHeight;
            const float top = titleBottom + std::max(0.0f, (bottom - titleBottom - blockHeight) / 2.0f);
            drawButtonStack(context, top);
            drawLevelBlock(context, top + stack + gap, listHeight, detailsHeight);
        }
    }
    ImGui::End();
    drawMenuNotice(context);
}

void drawLoadingOverlay(const ScreenContext& context) {
    if (!levelLoadingNoticeUp(*context.levels)) {
        return;
    }
    const std::string text =
        "Loading " + context.levels->list[static_cast<size_t>(context.levels->pendingStart)].name + "...";
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + viewport.WorkSize.x / 2.0f,
                                   viewport.WorkPos.y + viewport.WorkSize.y / 2.0f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowBgAlpha(0.9f);
    const float s = gUI.uiScale;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 24.0f * s));
    ImGui::Begin("##Loading", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoInputs);
    pushFont(gUI.fonts.buttonFont);
    // A long level name wraps within 80 % of the window instead of running past it.
    const float room = 0.8f * viewport.WorkSize.x - 80.0f * s;
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + std::min(ImGui::CalcTextSize(text.c_str()).x, room));
    ImGui::TextUnformatted(text.c_str());
    ImGui::PopTextWrapPos();
    ImGui::PopFont();
    const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    uiTraceRect("loading", at.x, at.y, at.x + size.x, at.y + size.y);
    ImGui::End();
    ImGui::PopStyleVar();
}
