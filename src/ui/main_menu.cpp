#include "ui/main_menu.hpp"

#include "app/app.hpp"
#include "app/log.hpp"
#include "audio/stem_layering.hpp"
#include "level/level_list.hpp"
#include "level/level_package.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

int selectedLevelIndex = 0;

namespace {

void pushFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

void drawButtonStack(App& app, float titleBottom, const ImGuiViewport& viewport) {
    const float s = gUI.uiScale;
    const ImVec2 size(400.0f * s, 125.2f * s);
    const float stackHeight = 5.0f * size.y + 4.0f;
    const float bottom = viewport.WorkPos.y + viewport.WorkSize.y;
    ImGui::SetCursorPosY(titleBottom + std::max(0.0f, (bottom - titleBottom - stackHeight) / 2.0f) -
                         ImGui::GetWindowPos().y);
    pushClearButtonColours();
    const float x = ImGui::GetCursorPosX() + (ImGui::GetColumnWidth() - size.x) / 2.0f;
    const float savedSpacing = ImGui::GetStyle().ItemSpacing.y;
    ImGui::GetStyle().ItemSpacing.y = 2.0f * s;
    const ButtonTextures& t = gUI.textures;

    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##start", "Start Level", size, t.startInactive, t.startActive) &&
        app.pendingLevelStart < 0 && selectedLevelIndex >= 0 &&
        selectedLevelIndex < static_cast<int>(levelList.size())) {
        app.pendingLevelStart = selectedLevelIndex; // loaded once this frame, with its notice, is shown
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##settings", "Settings", size, t.normalInactive, t.normalActive)) {
        app.showSettings = true;
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##leaderboard", "Leaderboard", size, t.normalInactive, t.normalActive)) {
        openLeaderboard(app);
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##tutorial", "Tutorial", size, t.normalInactive, t.normalActive)) {
        gUI.showTutorial = true;
        gUI.tutorialPage = 0;
    }
    ImGui::SetCursorPosX(x);
    if (labeledImageButton("##exit", "Exit", size, t.exitInactive, t.exitActive)) {
        app.input.quitRequested = true;
    }
    ImGui::GetStyle().ItemSpacing.y = savedSpacing;
    ImGui::PopStyleColor(3);
}

void drawLevelTable(float listHeight) {
    const float s = gUI.uiScale;
    pushFont(gUI.fonts.defaultFont);
    if (ImGui::BeginChild("LevelSelectionChild", ImVec2(0, listHeight), ImGuiChildFlags_None,
                          ImGuiWindowFlags_NoBackground)) {
        if (ImGui::BeginTable("LevelsTable", 2, ImGuiTableFlags_ScrollY | ImGuiTableFlags_PadOuterX)) {
            ImGui::TableSetupColumn("Level", ImGuiTableColumnFlags_WidthStretch);
            ImGui::TableSetupColumn("Difficulty", ImGuiTableColumnFlags_WidthFixed,
                                    ImGui::CalcTextSize("Difficulty").x + 12.0f * s);
            ImGui::TableSetupScrollFreeze(0, 1);
            ImGui::TableHeadersRow();
            for (int i = 0; i < static_cast<int>(levelList.size()); ++i) {
                const LevelListEntry& entry = levelList[static_cast<size_t>(i)];
                ImGui::TableNextRow();
                ImGui::TableSetColumnIndex(0);
                // The row's id is its index; the name, which comes from a file, is only text, drawn
                // over the row rather than as a second item on it (overlapping items take a press
                // only after a frame of hover, which a tap on a touch screen never gives).
                ImGui::PushID(i);
                const ImVec2 text = ImGui::GetCursorScreenPos();
                if (ImGui::Selectable("##row", i == selectedLevelIndex, ImGuiSelectableFlags_SpanAllColumns,
                                      ImVec2(0.0f, ImGui::GetTextLineHeight()))) {
                    selectedLevelIndex = i;
                }
                uiTraceLastItem(("level_row_" + std::to_string(i)).c_str());
                ImGui::GetWindowDrawList()->AddText(text, ImGui::GetColorU32(ImGuiCol_Text),
                                                    entry.name.c_str());
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

void drawLevelDetails(float detailsHeight) {
    pushFont(gUI.fonts.defaultFont);
    if (ImGui::BeginChild("LevelDetails", ImVec2(0, detailsHeight), ImGuiChildFlags_None,
                          ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoScrollbar)) {
        if (!levelList.empty() && selectedLevelIndex >= 0 &&
            selectedLevelIndex < static_cast<int>(levelList.size())) {
            const LevelListEntry& entry = levelList[static_cast<size_t>(selectedLevelIndex)];
            ImGui::Text("Difficulty: %d/5", entry.difficulty);
            if (!entry.description.empty()) {
                ImGui::TextWrapped("Description: %s", entry.description.c_str());
            }
        }
    }
    ImGui::EndChild();
    ImGui::PopFont();
}

} // namespace

void drawMainMenu(App& app) {
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("VIBRELLE", 0.5f, 1.0f);
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (work.x - 0.75f * work.x) / 2.0f, viewport.WorkPos.y),
                            ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(0.75f * work.x, work.y));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                                   ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoBackground;
    if (ImGui::Begin("##MainMenu", nullptr, flags)) {
        ImGui::Columns(2, "MainMenuColumns", false);
        const float titleBottom = viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("VIBRELLE").y;
        drawButtonStack(app, titleBottom, viewport);

        ImGui::NextColumn();
        const float lineH = ImGui::GetTextLineHeightWithSpacing();
        const float listHeight = 4.0f * ImGui::GetStyle().ItemSpacing.y + 5.0f * lineH;
        const float detailsHeight = 0.125f * work.y;
        const float blockHeight = listHeight + lineH + detailsHeight;
        const float bottom = viewport.WorkPos.y + work.y;
        ImGui::SetCursorPosY(titleBottom + std::max(0.0f, (bottom - titleBottom - blockHeight) / 2.0f) -
                             ImGui::GetWindowPos().y);
        pushFont(gUI.fonts.buttonFont);
        ImGui::TextUnformatted("Select Level");
        ImGui::PopFont();
        drawLevelTable(listHeight);
        pushFont(gUI.fonts.buttonFont);
        ImGui::TextUnformatted("Details");
        ImGui::PopFont();
        drawLevelDetails(detailsHeight);
        ImGui::Columns(1);
    }
    ImGui::End();
}

void drawLoadingOverlay(const App& app) {
    if (app.pendingLevelStart < 0 || app.pendingLevelStart >= static_cast<int>(levelList.size())) {
        return;
    }
    const std::string text = "Loading " + levelList[static_cast<size_t>(app.pendingLevelStart)].name + "...";
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
    ImGui::TextUnformatted(text.c_str());
    ImGui::PopFont();
    ImGui::End();
    ImGui::PopStyleVar();
}

void runPendingLevelStart(App& app) {
    const int index = app.pendingLevelStart;
    if (index < 0) {
        return;
    }
    app.pendingLevelStart = -1;
    startLevel(app, index);
    app.levelLoadedThisFrame = true;
}

bool startLevel(App& app, int index) {
    if (index < 0 || index >= static_cast<int>(levelList.size())) {
        return false;
    }
    const LevelListEntry& entry = levelList[static_cast<size_t>(index)];
    const std::string directory = "levels/" + entry.file;
    if (packageLoaded) {
        currentLevelPackage = LevelPackage{};
    }
    if (!prepareLevelPackage(directory, currentLevelPackage)) {
        logError(stderr, "Failed to load level package: %s", directory.c_str());
        return false;
    }
    packageLoaded = true;

    // The slow part, without the game mutex: the logic thread plays on meanwhile.
    PackageLoad load;
    stageLevelPackage(currentLevelPackage, app.render, app.audio.looping, load);

    std::vector<LoadedStem> retired; // freed after the mutex is released
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        const Uint64 locked = SDL_GetPerformanceCounter();
        if (commitLevelPackage(currentLevelPackage, load, app.audio, app.render, retired)) {
            if (!app.audio.stems.empty()) {
                playAllStems(app.audio);
                activateFirstStem(app.audio);
            }
            app.game.levelName = entry.name;
            resetRound(app.game);
            app.game.playing = true;
            started = true;
        }
        app.levelSwitchLockSeconds = static_cast<double>(SDL_GetPerformanceCounter() - locked) /
                                     static_cast<double>(SDL_GetPerformanceFrequency());
    }
    return started;
}
