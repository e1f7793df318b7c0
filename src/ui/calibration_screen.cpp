#include "ui/calibration_screen.hpp"

#include "ui/screen_context.hpp"
#include "ui/settings_screen.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The error scale runs this far either side of the click (milliseconds); taps beyond sit at its ends.
constexpr float kScaleMs = 150.0f;

void pushFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

void centredText(const char* text, const ImVec4& colour) {
    const float width = ImGui::CalcTextSize(text).x;
    ImGui::SetCursorPosX(
        std::max(0.0f, (ImGui::GetContentRegionAvail().x - width) / 2.0f + ImGui::GetCursorPosX()));
    ImGui::TextColored(colour, "%s", text);
}

// Green on the beat, through yellow, to red far off.
ImU32 errorColour(double errorMs, float alpha) {
    const float t = std::min(1.0f, static_cast<float>(std::fabs(errorMs)) / 80.0f);
    return ImGui::GetColorU32(
        ImVec4(t * 2.0f < 1.0f ? t * 2.0f : 1.0f, t < 0.5f ? 1.0f : 2.0f - 2.0f * t, 0.3f, alpha));
}

// The scale of tap errors: a line from early to late with the beat in the middle, a mark for each
// tap (the newest tallest), and the median once the run is complete.
void drawErrorScale(const CalibrationSession& session, float s) {
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = 90.0f * s;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float mid = origin.y + height * 0.5f;
    const auto xOf = [&](double errorMs) {
        const float clamped = std::clamp(static_cast<float>(errorMs), -kScaleMs, kScaleMs);
        return origin.x + width * (0.5f + 0.5f * clamped / kScaleMs);
    };
    const ImU32 grey = ImGui::GetColorU32(ImVec4(0.6f, 0.6f, 0.7f, 0.8f));
    draw->AddLine(ImVec2(origin.x, mid), ImVec2(origin.x + width, mid), grey, 2.0f * s);
    for (int ms = -150; ms <= 150; ms += 50) {
        const float x = xOf(ms);
        const float tick = ms == 0 ? 30.0f * s : 12.0f * s;
        draw->AddLine(ImVec2(x, mid - tick), ImVec2(x, mid + tick), grey, (ms == 0 ? 3.0f : 1.5f) * s);
    }
    const std::size_t count = session.errorsMs.size();
    for (std::size_t i = 0; i < count; ++i) {
        const bool newest = i + 1 == count;
        const float x = xOf(session.errorsMs[i]);
        const float reach = (newest ? 40.0f : 22.0f) * s;
        draw->AddLine(ImVec2(x, mid - reach), ImVec2(x, mid + reach),
                      errorColour(session.errorsMs[i], newest ? 1.0f : 0.6f), (newest ? 5.0f : 3.0f) * s);
    }
    if (session.result.valid) {
        const float x = xOf(session.result.medianMs);
        draw->AddTriangleFilled(ImVec2(x, mid - 30.0f * s), ImVec2(x - 12.0f * s, mid - 45.0f * s),
                                ImVec2(x + 12.0f * s, mid - 45.0f * s),
                                ImGui::GetColorU32(ImVec4(1.0f, 0.8f, 0.0f, 1.0f)));
    }
    ImGui::Dummy(ImVec2(width, height));
    const char* early = "early";
    const char* late = "late";
    ImGui::TextDisabled("%s", early);
    ImGui::SameLine(width - ImGui::CalcTextSize(late).x);
    ImGui::TextDisabled("%s", late);
}

// The taps so far as numbers, newest last.
void drawErrorList(const CalibrationSession& session) {
    // Eight to a row, fewer where the panel is narrow.
    const float itemWidth = ImGui::CalcTextSize("-150 ms ").x + ImGui::GetStyle().ItemSpacing.x;
    const std::size_t perRow = static_cast<std::size_t>(
        std::clamp(static_cast<int>(ImGui::GetContentRegionAvail().x / itemWidth), 1, 8));
    for (std::size_t i = 0; i < session.errorsMs.size(); ++i) {
        if (i % perRow != 0) {
            ImGui::SameLine();
        }
        char text[16];
        std::snprintf(text, sizeof text, "%+5.0f", session.errorsMs[i]);
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(errorColour(session.errorsMs[i], 1.0f)), "%s ms ",
                           text);
    }
}

// The area pointer taps count in. It lights up for a moment after each tap.
void drawTapPad(CalibrationSession& session, float height, float s) {
    const ImVec2 size(ImGui::GetContentRegionAvail().x, height);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##tappad", size);
    uiTraceLastItem("##tappad");
    // Pointer taps are tested in drawable pixels, the GUI works in window points.
    const ImVec2 scale = ImGui::GetIO().DisplayFramebufferScale;
    session.padLeft = origin.x * scale.x;
    session.padTop = origin.y * scale.y;
    session.padRight = (origin.x + size.x) * scale.x;
    session.padBottom = (origin.y + size.y) * scale.y;

    const double now = ImGui::GetTime();
    if (session.errorsMs.size() != session.tapsShown) {
        if (session.errorsMs.size() > session.tapsShown) {
            session.flashUntil = now + 0.12;
        }
        session.tapsShown = session.errorsMs.size();
    }
    const float glow = now < session.flashUntil ? 1.0f : 0.0f;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 end(origin.x + size.x, origin.y + size.y);
    draw->AddRectFilled(
        origin, end,
        ImGui::GetColorU32(ImVec4(0.1f + 0.3f * glow, 0.1f + 0.6f * glow, 0.2f + 0.3f * glow, 0.9f)),
        16.0f * s);
    draw->AddRect(origin, end, ImGui::GetColorU32(ImVec4(0.3f, 0.8f, 0.6f, 0.8f)), 16.0f * s, 0, 3.0f * s);
    const char* label = "TAP";
    pushFont(gUI.fonts.buttonFont);
    const ImVec2 text = ImGui::CalcTextSize(label);
    draw->AddText(ImVec2(origin.x + (size.x - text.x) / 2.0f, origin.y + (size.y - text.y) / 2.0f),
                  ImGui::GetColorU32(ImVec4(1.0f, 1.0f, 1.0f, 0.9f)), label);
    ImGui::PopFont();
}

void drawStatus(const CalibrationSession& session) {
    char line[160];
    const int taps = static_cast<int>(session.errorsMs.size());
    const ImVec4 white(1.0f, 1.0f, 1.0f, 1.0f);
    if (session.result.valid) {
        std::snprintf(line, sizeof line, "Offset %+d ms   spread %.0f ms", session.result.offsetMs,
                      session.result.spreadMs);
        centredText(line, ImVec4(1.0f, 0.8f, 0.0f, 1.0f));
        if (session.result.dropped > 0) {
            std::snprintf(line, sizeof line, "%d wild tap%s left out", session.result.dropped,
                          session.result.dropped == 1 ? "" : "s");
            centredText(line, ImVec4(0.7f, 0.7f, 0.7f, 1.0f));
        }
    } else if (session.voice == 0) {
        centredText("No sound to tap along with", ImVec4(1.0f, 0.4f, 0.4f, 1.0f));
    } else if (taps == 0 && session.position < (kCalibrationListenBeats - 0.5) * kCalibrationBeat) {
        centredText("Listen...", white);
    } else {
        std::snprintf(line, sizeof line, "Tap %d of %d", std::min(taps + 1, kCalibrationTaps),
                      kCalibrationTaps);
        centredText(line, white);
    }
}

} // namespace

void drawCalibrationScreen(ScreenContext& context) {
    CalibrationSession& session = *context.calibration;
    const float s = gUI.uiScale;
    drawTitleAndPlacePanel("CALIBRATION", 0.35f, 1.0f, 0.75f, 60.0f, 40.0f);
    bool back = false, retry = false, save = false;
    if (ImGui::Begin("##CalibrationPanel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                         ImGuiWindowFlags_NoBackground)) {
        const float k = settingsButtonRowFactor(ImGui::GetContentRegionAvail().x, s);
        const ImVec2 button(400.0f * s * k, 125.2f * s * k);
        if (beginPanelContent("CalibrationContent", "calibration_panel", button.y, s)) {
            pushFont(gUI.fonts.defaultFont);
            ImGui::TextWrapped(
                "Listen to the click, then tap on every beat: Space, any letter key, or the pad. "
                "%d taps find how late you hear the music; the game then judges your presses "
                "that much later.",
                kCalibrationTaps);
            ImGui::Dummy(ImVec2(0.0f, 15.0f * s));
            pushFont(gUI.fonts.buttonFont);
            drawStatus(session);
            ImGui::PopFont();
            ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
            drawErrorScale(session, s);
            drawErrorList(session);
            ImGui::PopFont();
            ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
            drawTapPad(session, std::max(80.0f * s, ImGui::GetContentRegionAvail().y - 10.0f * s), s);
        }
        endPanelContent();

        ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
        const float gap = 40.0f * s * k;
        const RowButton row[] = {
            {"##back", "Back"}, {"##retry", "Retry"}, {"##save", "Save", session.result.valid}};
        const int clicked = drawButtonRow(row, 3, button, gap);
        back = clicked == 0;
        retry = clicked == 1;
        save = clicked == 2;
    }
    ImGui::End();
    if (save) {
        context.saveCalibration();
    } else if (retry) {
        context.retryCalibration();
    } else if (back) {
        goToScreen(context, UIScreen::Settings); // calibration opens over Settings
    }
}
