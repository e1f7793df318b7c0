#include "ui/settings_screen.hpp"

#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "prefs/player_keys.hpp"
#include "prefs/preferences.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

float settingsButtonRowFactor(float availableWidth, float s) {
    return std::min(1.0f, availableWidth / (1280.0f * s));
}

namespace {

void drawPlayerKey(ScreenContext& context, float s);

void pushFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

// A small button beside a setting that opens the screen for it, traced as `id`.
void screenButton(ScreenContext& context, const char* label, const char* id, float width, UIScreen screen) {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.15f, 0.15f, 0.25f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.2f, 0.3f, 0.4f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.0f, 0.6f, 0.4f, 1.0f));
    if (ImGui::Button(label, ImVec2(width, 0.0f))) {
        goToScreen(context, screen);
    }
    uiTraceLastItem(id);
    ImGui::PopStyleColor(3);
}

void heading(const char* text) {
    pushFont(gUI.fonts.buttonFont);
    ImGui::TextUnformatted(text);
    ImGui::PopFont();
}

void drawNameField(ScreenContext& context, float s) {
    heading("Player Name");
    drawPlayerKey(context, s);
    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(15.0f * s, 12.0f * s));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ImVec4(0.2f, 0.2f, 0.3f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ImVec4(0.25f, 0.25f, 0.35f, 0.9f));
    ImGui::SetNextItemWidth(-1.0f);
    ImGui::InputText("##playername", gUI.settings.playerName, sizeof gUI.settings.playerName);
    uiTraceLastItem("##playername");
    ImGui::PopStyleColor(3);
    ImGui::PopStyleVar(2);
    ImGui::Dummy(ImVec2(0.0f, 40.0f * s));
}

// ---- The player key ----

void resetKeyState() { gUI.settings.key = SettingsKeyState{}; }

// On the heading's line, right-aligned, so that the panel keeps its height: the key (hidden until
// "Show key"), or what Save said about a pasted one, and the paste field.
void drawPlayerKey(ScreenContext& context, float s) {
    SettingsKeyState& state = gUI.settings.key;
    if (!state.loaded) {
        std::string name;
        {
            std::lock_guard<std::mutex> lock(*context.gameMutex);
            name = context.game->playerName;
        }
        state.key = loadPlayerKey(
            context.prefsPath == nullptr || context.prefsPath->empty() ? getPrefsPath() : *context.prefsPath,
            gLeaderboardClient.serverBaseUrl, name);
        state.loaded = true;
    }
    const float fieldWidth = 300.0f * s;
    const float width = 360.0f * s + fieldWidth;
    // Beside the heading where there is room for it (as in landscape), else on a line of its own.
    const float lineStart = ImGui::GetCursorPosX();
    const float right = ImGui::GetContentRegionMax().x;
    ImGui::SameLine();
    const float headingEnd = ImGui::GetCursorPosX();
    if (headingEnd + 20.0f * s + width > right) {
        ImGui::NewLine();
        ImGui::SetCursorPosX(std::max(lineStart, right - width));
    } else {
        ImGui::SetCursorPosX(std::max(lineStart + 20.0f * s, right - width));
    }
    if (!state.message.empty()) {
        ImGui::TextColored(ImVec4(1.0f, 0.5f, 0.4f, 1.0f), "%s", state.message.c_str());
    } else if (state.key.empty()) {
        ImGui::TextColored(ImVec4(0.7f, 0.7f, 0.7f, 1.0f), "%s", "Key: none yet");
    } else {
        ImGui::TextColored(ImVec4(0.7f, 0.7f, 0.7f, 1.0f), "Key: %s",
                           state.revealed ? state.key.c_str() : "**********************");
        ImGui::SameLine();
        if (ImGui::SmallButton(state.revealed ? "Hide key" : "Show key")) {
            state.revealed = !state.revealed;
        }
        uiTraceLastItem("show_key");
    }
    ImGui::SameLine(ImGui::GetContentRegionMax().x - fieldWidth);
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::SetNextItemWidth(fieldWidth);
    ImGui::InputTextWithHint("##playerkey", "Paste a key here", state.pasted, sizeof state.pasted);
    uiTraceLastItem("##playerkey");
    ImGui::PopStyleColor();
}

// The player's factor on the fitted GUI scale, in percent. Applied and stored when the slider is let
// go: the screen re-laid out under a dragging finger would move the slider away from it.
void drawUiScaleSetting(float width) {
    static int dragged = -1; // what the slider shows while it is held, -1 when it is not
    int percent = dragged >= 0 ? dragged : static_cast<int>(std::lround(gUI.userScale * 100.0f));
    ImGui::BeginGroup();
    ImGui::TextUnformatted("UI Scale");
    ImGui::SameLine();
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
    ImGui::TextUnformatted("(as far as the window allows)");
    ImGui::PopStyleColor();
    ImGui::SetNextItemWidth(width);
    ImGui::SliderInt("##uiscale", &percent, static_cast<int>(kMinUserUiScale * 100.0f + 0.5f),
                     static_cast<int>(kMaxUserUiScale * 100.0f + 0.5f), "%d%%", ImGuiSliderFlags_AlwaysClamp);
    uiTraceLastItem("##uiscale");
    dragged = ImGui::IsItemActive() ? percent : -1;
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        gUI.userScale = static_cast<float>(percent) / 100.0f;
        saveUiScale(gUI.userScale);
    }
    ImGui::EndGroup();
}

void drawGameplaySettings(ScreenContext& context, float s) {
    heading("Gameplay Settings");
    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ImVec4(0.2f, 0.2f, 0.3f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_CheckMark, ImVec4(0.0f, 1.0f, 0.5f, 1.0f));
    bool keyboard;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        keyboard = context.game->keyboardGameplay;
    }
    const float controlsWidth = ImGui::CalcTextSize("Controls").x + 60.0f * s;
    if (ImGui::Checkbox("Enable Keyboard Gameplay", &keyboard)) {
        {
            std::lock_guard<std::mutex> lock(*context.gameMutex);
            context.game->keyboardGameplay = keyboard;
        }
        saveKeyboardGameplay(keyboard);
    }
    uiTraceLastItem("keyboard_gameplay");
    ImGui::PopStyleColor(3);
    // Which key plays where: on the check box's line, at its right end, like Calibrate below.
    ImGui::SameLine(
        std::max(ImGui::GetCursorPosX() + 20.0f * s, ImGui::GetContentRegionMax().x - controlsWidth));
    screenButton(context, "Controls", "controls", controlsWidth, UIScreen::Controls);
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
    ImGui::TextWrapped("%s", "Enable for playing with a keyboard.");
    ImGui::PopStyleColor();

    // The loudness of the whole game: applied while dragging, stored once the slider is let go.
    // The GUI's scale beside it where the panel is wide, under it where it is not.
    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    const float gap = 40.0f * s;
    const bool sideBySide = ImGui::GetContentRegionAvail().x >= 1100.0f * s;
    const float half = sideBySide ? (ImGui::GetContentRegionAvail().x - gap) / 2.0f : -1.0f;
    const ImVec2 rowStart = ImGui::GetCursorPos();
    ImGui::BeginGroup();
    ImGui::TextUnformatted("Music Volume");
    AudioEngine* engine = context.audio->engine.get();
    int percent = engine != nullptr ? static_cast<int>(std::lround(engine->getGlobalVolume() * 100.0f)) : 100;
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_SliderGrab, ImVec4(0.0f, 1.0f, 0.5f, 1.0f));
    ImGui::PushStyleColor(ImGuiCol_SliderGrabActive, ImVec4(0.3f, 1.0f, 0.7f, 1.0f));
    ImGui::SetNextItemWidth(half);
    if (ImGui::SliderInt("##musicvolume", &percent, 0, 100, "%d%%") && engine != nullptr) {
        engine->setGlobalVolume(static_cast<float>(percent) / 100.0f);
    }
    uiTraceLastItem("##musicvolume");
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        saveMusicVolume(static_cast<float>(percent) / 100.0f);
    }
    ImGui::EndGroup();
    if (sideBySide) {
        ImGui::SetCursorPos(ImVec2(rowStart.x + half + gap, rowStart.y));
    } else {
        ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    }
    drawUiScaleSetting(half);

    // How far the game clock runs behind the sound: applied while dragging, stored once let go.
    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    ImGui::TextUnformatted("Audio Offset");
    ImGui::SameLine();
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
    ImGui::TextWrapped("%s", "(more if you hit late, less if early, or let Calibrate find it)");
    ImGui::PopStyleColor();
    int offsetMs;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        offsetMs = static_cast<int>(std::lround(context.audio->clockOffset * 1000.0));
    }
    const float calibrateWidth = ImGui::CalcTextSize("Calibrate").x + 60.0f * s;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - calibrateWidth - 20.0f * s);
    if (ImGui::SliderInt("##audiooffset", &offsetMs, kAudioOffsetMinMs, kAudioOffsetMaxMs, "%+d ms")) {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        context.audio->clockOffset = offsetMs / 1000.0;
    }
    uiTraceLastItem("##audiooffset");
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        saveAudioOffsetMs(offsetMs);
    }
    ImGui::PopStyleColor(3);
    ImGui::SameLine(0.0f, 20.0f * s);
    screenButton(context, "Calibrate", "calibrate", calibrateWidth, UIScreen::Calibration);
}

// ---- Audio Buffer ----

// The device periods Settings offers, shortest first; the default is the safe one.
constexpr unsigned kAudioBufferChoices[] = {256, 512, kDevicePeriodFrames, 2048};

std::string audioBufferLabel(unsigned frames) {
    char label[64];
    std::snprintf(label, sizeof label, "%u frames (%.1f ms)%s", frames, 1000.0 * frames / kEngineSampleRate,
                  frames == kDevicePeriodFrames ? ", default" : "");
    return label;
}

// Applied (the device reopens) and stored as soon as a choice is made. One line, label and choice
// side by side, so that the panel keeps its height.
void drawAudioBufferSetting(ScreenContext& context, float s) {
    ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("Audio Buffer");
    ImGui::SameLine();
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
    const bool scripted = context.audioPeriodOverride != 0;
    ImGui::TextWrapped("%s", scripted ? "(set by VIBRELLE_AUDIO_PERIOD)" : "(larger if the sound crackles)");
    ImGui::PopStyleColor();
    const unsigned current = context.audio->devicePeriodFrames;
    // The choice beside the label where it shows whole, else on the next line.
    ImGui::SameLine(0.0f, 20.0f * s);
    if (ImGui::GetContentRegionAvail().x <
        ImGui::CalcTextSize(audioBufferLabel(current).c_str()).x + ImGui::GetFrameHeight() + 20.0f * s) {
        ImGui::NewLine();
    }
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ImVec4(0.2f, 0.2f, 0.3f, 0.9f));
    ImGui::BeginDisabled(scripted);
    ImGui::SetNextItemWidth(-1.0f);
    if (ImGui::BeginCombo("##audiobuffer", audioBufferLabel(current).c_str())) {
        for (unsigned frames : kAudioBufferChoices) {
            const bool chosen = frames == current;
            if (ImGui::Selectable(audioBufferLabel(frames).c_str(), chosen) && !chosen) {
                context.applyAudioBuffer(frames);
            }
            uiTraceLastItem(("audiobuffer:" + std::to_string(frames)).c_str());
            if (chosen) {
                ImGui::SetItemDefaultFocus();
            }
        }
        ImGui::EndCombo();
    }
    uiTraceLastItem("##audiobuffer");
    ImGui::EndDisabled();
    ImGui::PopStyleColor(2);
}

} // namespace

bool storePastedPlayerKey(const std::string& prefsPath, const std::string& baseUrl, const std::string& name) {
    SettingsKeyState& state = gUI.settings.key;
    std::string text(state.pasted, strnlen(state.pasted, sizeof state.pasted));
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    state.message.clear();
    if (text.empty()) {
        return true;
    }
    if (!isPlayerKeyText(text)) {
        state.message = "Not a key: 22 of A-Z a-z 0-9 - _";
        return false;
    }
    if (!savePlayerKey(prefsPath, baseUrl, name, text)) {
        state.message = "The key could not be saved";
        return false;
    }
    std::memset(state.pasted, 0, sizeof state.pasted);
    state.loaded = false;
    return true;
}

void drawSettingsScreen(ScreenContext& context) {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle("SETTINGS", 0.35f, 1.0f);
    const float width = panelWidthFraction(0.75f) * work.x;
    const float top =
        std::max(viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize("SETTINGS").y + 80.0f * s,
                 neonTitleRect("SETTINGS").y1);
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (work.x - width) / 2.0f, top), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(width, work.y - top - 60.0f * s));

    if (!gUI.settings.playerNameLoaded) {
        std::string name;
        {
            std::lock_guard<std::mutex> lock(*context.gameMutex);
            name = context.game->playerName;
        }
        // Cut where a character ends, never inside one.
        const std::string fitted = cutToCharacters(name, kPlayerNameBufferSize - 1);
        std::memcpy(gUI.settings.playerName, fitted.c_str(), fitted.size() + 1);
        gUI.settings.playerNameLoaded = true;
    }

    bool back = false;
    if (ImGui::Begin("##SettingsPanel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                         ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoBackground)) {
        ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 40.0f * s));
        ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
        ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
        // As tall as the settings, or as the panel allows above the smallest row of buttons: then
        // the settings scroll.
        const float minRow = 0.5f * 125.2f * s;
        const float most = std::max(60.0f * s, ImGui::GetContentRegionAvail().y - minRow - 10.0f * s);
        ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(FLT_MAX, most));
        // A scroll bar only when the settings are held down (the auto-fitted height is whole pixels,
        // a fraction short of the content, which must not count).
        static bool heldDown = false;
        if (ImGui::BeginChild("SettingsContent", ImVec2(0, 0),
                              ImGuiChildFlags_Borders | ImGuiChildFlags_AutoResizeY,
                              heldDown ? ImGuiWindowFlags_None : ImGuiWindowFlags_NoScrollbar)) {
            const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
            heldDown = size.y >= most - 1.0f;
            uiTraceRect("settings_panel", at.x, at.y, at.x + size.x, at.y + size.y);
            drawNameField(context, s);
            drawGameplaySettings(context, s);
            drawAudioBufferSetting(context, s);
        }
        ImGui::EndChild();
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar(2);

        // The row also shrinks to the height left under the settings rather than fall off the panel.
        const float k =
            std::min(settingsButtonRowFactor(ImGui::GetContentRegionAvail().x, s),
                     std::max(0.5f, (ImGui::GetContentRegionAvail().y - 10.0f * s) / (125.2f * s)));
        const ImVec2 button(400.0f * s * k, 125.2f * s * k);
        const float gap = 40.0f * s * k;
        const float lift = ImGui::GetContentRegionAvail().y - button.y - 10.0f * s;
        if (lift > 0.0f) {
            ImGui::Dummy(ImVec2(0.0f, lift));
        }
        const RowButton row[] = {{"##back", "Back"}, {"##credits", "Credits"}, {"##save", "Save"}};
        const int clicked = drawButtonRow(row, 3, button, gap);
        back = clicked == 0;
        if (clicked == 1) {
            leaveSettings(context, UIScreen::Credits);
        } else if (clicked == 2) {
            const std::string name(gUI.settings.playerName,
                                   strnlen(gUI.settings.playerName, sizeof gUI.settings.playerName));
            {
                std::lock_guard<std::mutex> lock(*context.gameMutex);
                context.game->playerName = name;
            }
            savePlayerName(name);
            // The key goes with the name just saved, as the file stores it.
            storePastedPlayerKey(context.prefsPath == nullptr || context.prefsPath->empty()
                                     ? getPrefsPath()
                                     : *context.prefsPath,
                                 gLeaderboardClient.serverBaseUrl, storablePlayerName(name));
            gUI.settings.key.loaded = false;
        }
    }
    ImGui::End();
    if (back) {
        leaveSettings(context, UIScreen::MainMenu);
    }
}

void leaveSettings(const ScreenContext& context, UIScreen next) {
    goToScreen(context, next);
    gUI.settings.playerNameLoaded = false;
    resetKeyState();
}
