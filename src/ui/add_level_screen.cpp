#include "ui/add_level_screen.hpp"

#include "authoring/level_author.hpp"
#include "base/log.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr float kButtonHeight = 125.2f;
constexpr double kMinTempo = 20.0;
constexpr double kMaxTempo = 400.0;
const ImVec4 kProblemColour(1.0f, 0.5f, 0.4f, 1.0f);
const ImVec4 kQuietColour(0.7f, 0.7f, 0.7f, 1.0f);

// The folder dialog's answer. SDL calls back on a thread of its own (the desktop portal's), so
// the answer waits here under its lock until the next frame takes it.
struct FolderDialogAnswer {
    std::mutex mutex;
    bool answered = false;
    bool failed = false;
    std::string path;  // the folder chosen, "" when the dialog was closed without one
    std::string error; // why the dialog could not be shown
};

FolderDialogAnswer& folderDialogAnswer() {
    static FolderDialogAnswer answer;
    return answer;
}

void SDLCALL folderChosen(void*, const char* const* files, int) {
    const std::string error = files == nullptr ? SDL_GetError() : "";
    FolderDialogAnswer& answer = folderDialogAnswer();
    std::lock_guard<std::mutex> lock(answer.mutex);
    answer.answered = true;
    answer.failed = files == nullptr;
    answer.error = error;
    answer.path = files != nullptr && files[0] != nullptr ? files[0] : "";
}

// Takes the dialog's answer, if one came since the last frame.
void takeFolderDialogAnswer() {
    AddLevelScreenState& state = gUI.addLevel;
    FolderDialogAnswer& answer = folderDialogAnswer();
    bool failed = false;
    std::string path, error;
    {
        std::lock_guard<std::mutex> lock(answer.mutex);
        if (!answer.answered) {
            return;
        }
        answer.answered = false;
        failed = answer.failed;
        path = std::move(answer.path);
        error = std::move(answer.error);
    }
    state.browsing = false;
    if (failed) {
        // Without the desktop's dialog the path is typed (or pasted, or dropped) instead.
        logError(stderr, "The folder dialog cannot be shown: %s",
                 error.empty() ? "no reason given" : error.c_str());
        state.browseUnavailable = true;
    } else if (!path.empty()) {
        setAddLevelFolder(path);
    }
}

void openFolderDialog() {
    AddLevelScreenState& state = gUI.addLevel;
    state.browsing = true;
    const char* start = state.folder[0] != '\0' ? state.folder : nullptr;
    SDL_ShowOpenFolderDialog(folderChosen, nullptr, SDL_GL_GetCurrentWindow(), start, false);
}

std::string folderName(const std::string& path) {
    fs::path folder = fs::path(path).lexically_normal();
    if (folder.filename().empty()) {
        folder = folder.parent_path();
    }
    return folder.filename().string();
}

void setTitle(const std::string& title) {
    AddLevelScreenState& state = gUI.addLevel;
    std::snprintf(state.title, sizeof state.title, "%s", title.c_str());
}

void setFolderText(const std::string& folder) {
    AddLevelScreenState& state = gUI.addLevel;
    std::snprintf(state.folder, sizeof state.folder, "%s", folder.c_str());
}

// The stems listed for the folder field (a folder's listing is quick; it is read again whenever
// the field changes).
void listFolderStems() {
    AddLevelScreenState& state = gUI.addLevel;
    state.listedFrom = state.folder;
    state.stems = state.listedFrom.empty() ? std::vector<std::string>() : findStemFiles(state.listedFrom);
    state.kinds.assign(state.stems.size(), 0);
    if (!state.titleTyped) {
        const std::string name = folderName(state.listedFrom);
        setTitle(name.empty() ? "" : titleFromFolder(name));
    }
}

// Tempo as typed: true with 0 for blank, the BPM for a number in range, else false.
bool parseTempo(const char* text, double& bpm) {
    std::string typed = text;
    typed.erase(std::remove_if(typed.begin(), typed.end(),
                               [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
                typed.end());
    if (typed.empty()) {
        bpm = 0.0;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(typed.c_str(), &end);
    if (end == typed.c_str() || *end != '\0' || errno != 0 || !(value >= kMinTempo && value <= kMaxTempo)) {
        return false;
    }
    bpm = value;
    return true;
}

StemKind kindOfChoice(int choice) {
    static const StemKind kinds[kStemKindChoices] = {StemKind::Drums, StemKind::Bass, StemKind::Pad,
                                                     StemKind::Melodic};
    return kinds[std::clamp(choice - 1, 0, kStemKindChoices - 1)];
}

void makeLevel(ScreenContext& context) {
    AddLevelScreenState& state = gUI.addLevel;
    LevelMakingRequest request;
    if (!parseTempo(state.tempo, request.bpm)) {
        state.notice = "Tempo: a number from 20 to 400 BPM, or blank to have it estimated.";
        return;
    }
    state.notice.clear();
    request.sourceFolder = state.folder;
    request.files = state.files;
    request.title = state.title;
    for (std::size_t i = 0; i < state.stems.size() && i < state.kinds.size(); ++i) {
        if (state.kinds[i] > 0) {
            request.kinds.emplace_back(fs::path(state.stems[i]).filename().string(),
                                       kindOfChoice(state.kinds[i]));
        }
    }
    if (context.makeLevel) {
        context.makeLevel(std::move(request));
    }
}

// The style of the screen's text fields, as the Settings screen draws its name field.
void pushFieldStyle(float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(15.0f * s, 10.0f * s));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ImVec4(0.2f, 0.2f, 0.3f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ImVec4(0.25f, 0.25f, 0.35f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.15f, 0.15f, 0.25f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.2f, 0.3f, 0.4f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.0f, 0.6f, 0.4f, 1.0f));
}

void popFieldStyle() {
    ImGui::PopStyleColor(6);
    ImGui::PopStyleVar(2);
}

// A row's label, its field starting at `fieldX`.
void rowLabel(const char* label, float fieldX) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted(label);
    ImGui::SameLine(fieldX);
}

void drawFields(float labelWidth, float s) {
    AddLevelScreenState& state = gUI.addLevel;
    const ImGuiStyle& style = ImGui::GetStyle();
    rowLabel("Folder", labelWidth);
    const bool browse = !state.browseUnavailable;
    const float browseWidth =
        browse ? ImGui::CalcTextSize("Browse...").x + 2.0f * style.FramePadding.x : 0.0f;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x -
                            (browse ? browseWidth + style.ItemSpacing.x : 0.0f));
    if (ImGui::InputTextWithHint("##folder", "a folder of stems: WAV, FLAC, Ogg Vorbis or MP3", state.folder,
                                 sizeof state.folder)) {
        state.files.clear(); // typing a folder replaces a drop of files
        listFolderStems();
    }
    uiTraceLastItem("##folder");
    if (browse) {
        ImGui::SameLine();
        ImGui::BeginDisabled(state.browsing);
        if (ImGui::Button("Browse...", ImVec2(browseWidth, 0.0f))) {
            openFolderDialog();
        }
        ImGui::EndDisabled();
        uiTraceLastItem("##browse");
    }

    rowLabel("Title", labelWidth);
    ImGui::SetNextItemWidth(-1.0f);
    if (ImGui::InputTextWithHint("##title", "the level's name", state.title, sizeof state.title)) {
        state.titleTyped = state.title[0] != '\0';
    }
    uiTraceLastItem("##title");

    rowLabel("Tempo", labelWidth);
    ImGui::SetNextItemWidth(200.0f * s);
    ImGui::InputTextWithHint("##tempo", "BPM", state.tempo, sizeof state.tempo,
                             ImGuiInputTextFlags_CharsDecimal);
    uiTraceLastItem("##tempo");
    ImGui::SameLine();
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(kQuietColour, "%s", "20 to 400; blank: estimated from the stems");
}

// The stems, each with its kind and, while the level is made, its progress.
void drawStems(const LevelMakingStatus* status, bool running, float height, float s) {
    AddLevelScreenState& state = gUI.addLevel;
    // While a level is made its stems are the job's (in the order it charts them).
    const std::vector<std::string>& stems = running && status != nullptr ? status->stems : state.stems;
    const bool shown = ImGui::BeginChild("AddLevelStems", ImVec2(0.0f, height), ImGuiChildFlags_NavFlattened,
                                         ImGuiWindowFlags_NoBackground);
    if (shown) {
        if (stems.empty()) {
            ImGui::TextColored(
                kQuietColour, "%s",
                running ? "Copying the stems..."
                        : "Choose a folder of stems, or drop one (or the stem files) on this window.");
        } else if (ImGui::BeginTable("AddLevelStemTable", 2,
                                     ImGuiTableFlags_ScrollY | ImGuiTableFlags_PadOuterX)) {
            ImGui::TableSetupColumn("Stem", ImGuiTableColumnFlags_WidthStretch);
            ImGui::TableSetupColumn(running ? "Progress" : "Kind", ImGuiTableColumnFlags_WidthFixed,
                                    380.0f * s);
            ImGui::TableSetupScrollFreeze(0, 1);
            ImGui::PushItemFlag(ImGuiItemFlags_NoNav, true);
            ImGui::TableHeadersRow();
            ImGui::PopItemFlag();
            for (std::size_t i = 0; i < stems.size(); ++i) {
                ImGui::TableNextRow();
                ImGui::TableSetColumnIndex(0);
                ImGui::AlignTextToFramePadding();
                ImGui::TextUnformatted(fs::path(stems[i]).filename().string().c_str());
                ImGui::TableSetColumnIndex(1);
                ImGui::PushID(static_cast<int>(i));
                const std::string id = std::to_string(i);
                if (running) {
                    const double done = i < status->done.size() ? status->done[i] : 0.0;
                    ImGui::ProgressBar(static_cast<float>(done), ImVec2(-1.0f, 0.0f));
                    uiTraceLastItem(("stem_progress_" + id).c_str());
                } else if (i < state.kinds.size()) {
                    const std::string automatic =
                        std::string("Auto: ") +
                        stemKindName(classifyStemName(fs::path(stems[i]).filename().string()));
                    const char* choices[] = {automatic.c_str(), "drums", "bass", "pad", "melodic"};
                    ImGui::SetNextItemWidth(-1.0f);
                    ImGui::Combo("##kind", &state.kinds[i], choices, kStemKindChoices + 1);
                    uiTraceLastItem(("stem_kind_" + id).c_str());
                }
                ImGui::PopID();
            }
            ImGui::EndTable();
        }
    }
    ImGui::EndChild();
}

// The status line's text, and whether it tells of a problem.
std::string statusLine(const LevelMakingStatus* status, bool& problem) {
    const AddLevelScreenState& state = gUI.addLevel;
    problem = true;
    if (!state.notice.empty()) {
        return state.notice;
    }
    if (status != nullptr && status->state == MakingState::Failed) {
        return status->message;
    }
    problem = false;
    if (status != nullptr && status->state == MakingState::Running) {
        return status->step + "...";
    }
    if (status != nullptr && status->state == MakingState::Cancelled) {
        return "Cancelled: nothing was kept.";
    }
    return "The level goes into your own levels, listed in the menu.";
}

void drawStatus(const std::string& line, bool problem) {
    ImGui::PushTextWrapPos(0.0f);
    ImGui::TextColored(problem ? kProblemColour : kQuietColour, "%s", line.c_str());
    ImGui::PopTextWrapPos();
    uiTraceLastItem("add_level_status");
}

} // namespace

std::string addLevelStatusLine(const ScreenContext& context) {
    LevelMakingStatus status;
    if (context.making != nullptr) {
        status = levelMakingStatus(*context.making);
    }
    bool problem = false;
    return statusLine(context.making != nullptr ? &status : nullptr, problem);
}

void setAddLevelFolder(const std::string& folder) {
    gUI.addLevel.files.clear();
    setFolderText(folder);
    listFolderStems();
}

bool fillAddLevelFromDrop(const std::vector<std::string>& paths) {
    std::error_code ec;
    for (const std::string& path : paths) {
        if (fs::is_directory(path, ec)) {
            setAddLevelFolder(path);
            return true;
        }
    }
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        if (isStemAudioPath(path)) {
            files.push_back(path);
        }
    }
    if (files.empty()) {
        return false;
    }
    AddLevelScreenState& state = gUI.addLevel;
    const std::string folder = fs::path(files.front()).parent_path().string();
    setFolderText(folder);
    state.files = files;
    state.stems = files;
    state.kinds.assign(files.size(), 0);
    state.listedFrom.clear();
    if (!state.titleTyped) {
        const std::string name = folderName(folder);
        setTitle(name.empty() ? "" : titleFromFolder(name));
    }
    return true;
}

void drawAddLevelScreen(ScreenContext& context) {
    const float s = gUI.uiScale;
    AddLevelScreenState& state = gUI.addLevel;
    takeFolderDialogAnswer();
    if (state.files.empty() && state.listedFrom != state.folder) {
        listFolderStems(); // the folder changed outside the field (a drop, the dialog)
    }
    LevelMakingStatus status;
    const bool hasJob = context.making != nullptr;
    if (hasJob) {
        status = levelMakingStatus(*context.making);
    }
    const bool running = hasJob && status.state == MakingState::Running;

    drawTitleAndPlacePanel("ADD LEVEL", 0.3f, 1.0f, 0.75f, 40.0f, 40.0f);
    int clicked = -1;
    if (ImGui::Begin("##AddLevelPanel", nullptr, screenPanelFlags())) {
        const float b = kButtonHeight * s;
        const float height = std::max(60.0f * s, ImGui::GetContentRegionAvail().y - b - 40.0f * s);
        bool heldDown = true;
        if (beginContent("AddLevelContent", height, height, heldDown, s)) {
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            uiTraceRect("add_level_panel", at.x, at.y, at.x + size.x, at.y + size.y);
            pushUIFont(gUI.fonts.defaultFont);
            pushFieldStyle(s);
            float labelWidth = 0.0f;
            for (const char* label : {"Folder", "Title", "Tempo"}) {
                labelWidth = std::max(labelWidth, ImGui::CalcTextSize(label).x);
            }
            labelWidth += ImGui::GetCursorPosX() + 30.0f * s; // where the fields start
            ImGui::BeginDisabled(running);
            drawFields(labelWidth, s);
            ImGui::EndDisabled();
            ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
            // The status line as tall as its wrapped text, the stems taking the rest.
            bool problem = false;
            const std::string line = statusLine(hasJob ? &status : nullptr, problem);
            const float statusHeight =
                ImGui::CalcTextSize(line.c_str(), nullptr, false, ImGui::GetContentRegionAvail().x).y +
                ImGui::GetStyle().ItemSpacing.y;
            drawStems(hasJob ? &status : nullptr, running,
                      std::max(ImGui::GetTextLineHeightWithSpacing(),
                               ImGui::GetContentRegionAvail().y - statusHeight),
                      s);
            drawStatus(line, problem);
            popFieldStyle();
            ImGui::PopFont();
        }
        endContent(b, s);
        const float k = std::min(1.0f, ImGui::GetContentRegionAvail().x / (880.0f * s));
        const ImVec2 button(400.0f * s * k, b * k);
        const RowButton row[] = {{"##back", "Back"},
                                 running ? RowButton{"##cancel", "Cancel"}
                                         : RowButton{"##make", "Make Level", !state.stems.empty()}};
        clicked = drawButtonRow(row, 2, button, 40.0f * s * k);
    }
    ImGui::End();
    if (clicked == 0) {
        goToScreen(context, UIScreen::MainMenu); // leaving cancels a level being made
    } else if (clicked == 1 && running) {
        cancelLevelMaking(*context.making);
    } else if (clicked == 1) {
        makeLevel(context);
    }
}
