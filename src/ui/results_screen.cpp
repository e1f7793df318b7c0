#include "ui/results_screen.hpp"

#include "level/level_session.hpp"
#include "render/render_system.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/settings_screen.hpp"
#include "ui/ui_system.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

constexpr float kScorePixels = 88.0f;      // the score's size at scale 1, in the title's face
constexpr float kHistogramHeight = 200.0f; // the bars' area at scale 1, at least (twice at most)
constexpr float kStripHeight = 72.0f;      // the layer strip at scale 1
constexpr float kHistogramTickMs[] = {-300.0f, -200.0f, -100.0f, 100.0f, 200.0f, 300.0f};

const ImVec4 kGradeColours[kGradeCount] = {ImVec4(1.0f, 0.85f, 0.0f, 1.0f), ImVec4(0.0f, 1.0f, 0.5f, 1.0f),
                                           ImVec4(0.4f, 0.7f, 1.0f, 1.0f), ImVec4(1.0f, 0.6f, 0.2f, 1.0f),
                                           ImVec4(1.0f, 0.3f, 0.3f, 1.0f)};
const ImVec4 kGrey(0.7f, 0.7f, 0.7f, 1.0f);
const ImVec4 kWhite(1.0f, 1.0f, 1.0f, 1.0f);

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string formatWhole(const char* pattern, std::int32_t value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, static_cast<int>(value));
    return text;
}

// Green near the beat, through yellow, to red at 150 ms and beyond.
ImU32 offsetColour(float offsetMs) {
    const float t = std::min(1.0f, std::fabs(offsetMs) / 150.0f);
    return ImGui::GetColorU32(
        ImVec4(std::min(1.0f, 2.0f * t), t < 0.5f ? 1.0f : 2.0f - 2.0f * t, 0.3f, 1.0f));
}

// The text drawn and traced as `id`, centred in the column when `centred`.
void tracedText(const char* id, const std::string& text, const ImVec4& colour, bool centred = false) {
    if (centred) {
        const float room = ImGui::GetContentRegionAvail().x;
        const float width = ImGui::CalcTextSize(text.c_str()).x;
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + std::max(0.0f, (room - width) / 2.0f));
    }
    ImGui::PushStyleColor(ImGuiCol_Text, colour);
    ImGui::TextUnformatted(text.c_str());
    ImGui::PopStyleColor();
    uiTraceLastItem(id);
}

// The score, the best and the counts.
void drawFigures(const ResultsTexts& texts, float s) {
    ImGui::PushFont(gUI.fonts.titleFont, kScorePixels);
    tracedText("results_score", texts.score, kGradeColours[0], true);
    ImGui::PopFont();
    pushUIFont(gUI.fonts.buttonFont);
    if (texts.newBest) {
        tracedText("results_new_best", "New best!", kGradeColours[1], true);
    }
    ImGui::PopFont();
    tracedText("results_best", texts.best, kGrey, true);
    ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
    tracedText("results_combo", texts.combo, kWhite);
    tracedText("results_accuracy", texts.accuracy, kWhite);
    ImGui::Dummy(ImVec2(0.0f, 6.0f * s));
    // Each grade's name, then its count, right-aligned in a column of their own.
    float countWidth = ImGui::CalcTextSize("0000").x;
    for (const std::string& count : texts.gradeCounts) {
        countWidth = std::max(countWidth, ImGui::CalcTextSize(count.c_str()).x);
    }
    const float countEnd = ImGui::CalcTextSize("Perfect").x + 40.0f * s + countWidth;
    ImGui::BeginGroup();
    for (int grade = 0; grade < kGradeCount; ++grade) {
        const ImVec2 at = ImGui::GetCursorScreenPos();
        ImGui::TextColored(kGradeColours[grade], "%s", gradeName(grade));
        const std::string& count = texts.gradeCounts[grade];
        ImGui::SameLine(0.0f, 0.0f);
        ImGui::SetCursorScreenPos(ImVec2(at.x + countEnd - ImGui::CalcTextSize(count.c_str()).x, at.y));
        ImGui::TextUnformatted(count.c_str());
    }
    ImGui::EndGroup();
    uiTraceLastItem("results_grades");
}

// The hit-error histogram: a bar for each 5 ms bin, early left of the centre line, late right,
// with its scale underneath.
void drawHistogram(const RoundSummary& summary, float bars, float s) {
    const float width = ImGui::GetContentRegionAvail().x;
    const float labels = ImGui::GetTextLineHeight();
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float base = origin.y + bars;
    const auto xOf = [&](float ms) {
        return origin.x + width * (0.5f + 0.5f * ms / static_cast<float>(kHitReachMs));
    };
    draw->AddRectFilled(origin, ImVec2(origin.x + width, base),
                        ImGui::GetColorU32(ImVec4(0.0f, 0.0f, 0.0f, 0.3f)));
    const ImU32 grey = ImGui::GetColorU32(ImVec4(0.6f, 0.6f, 0.7f, 0.6f));
    for (float ms : kHistogramTickMs) {
        draw->AddLine(ImVec2(xOf(ms), origin.y), ImVec2(xOf(ms), base), grey, 1.0f);
    }
    const std::int32_t most = *std::max_element(summary.histogram.begin(), summary.histogram.end());
    const float binWidth = width / static_cast<float>(kHitBins);
    for (int i = 0; i < kHitBins && most > 0; ++i) {
        const std::int32_t count = summary.histogram[static_cast<std::size_t>(i)];
        if (count == 0) {
            continue;
        }
        const float x0 = origin.x + binWidth * static_cast<float>(i);
        // At least a pixel high, so that a lone press shows.
        const float height = std::max(1.0f, bars * static_cast<float>(count) / static_cast<float>(most));
        const float centreMs = static_cast<float>(-kHitReachMs + kHitBinMs * (i + 0.5));
        draw->AddRectFilled(ImVec2(x0, base - height), ImVec2(x0 + std::max(1.0f, binWidth), base),
                            offsetColour(centreMs));
    }
    draw->AddLine(ImVec2(xOf(0.0f), origin.y), ImVec2(xOf(0.0f), base), ImGui::GetColorU32(kWhite), 2.0f * s);
    draw->AddLine(ImVec2(origin.x, base), ImVec2(origin.x + width, base), grey, 1.0f);
    // The scale: both ends and the centre.
    const ImU32 label = ImGui::GetColorU32(kGrey);
    const char* left = "-400 ms early";
    const char* right = "late +400 ms";
    const float y = base + 4.0f * s;
    draw->AddText(ImVec2(origin.x, y), label, left);
    draw->AddText(ImVec2(origin.x + width - ImGui::CalcTextSize(right).x, y), label, right);
    draw->AddText(ImVec2(xOf(0.0f) - ImGui::CalcTextSize("0").x / 2.0f, y), label, "0");
    ImGui::Dummy(ImVec2(width, bars + 4.0f * s + labels));
    uiTraceLastItem("results_histogram");
}

// The layers over the round: a row per stem (the first at the bottom), lit in its stem's colour
// where that layer was unlocked.
void drawLayerStrip(const RoundSummary& summary, const float (&colours)[kStemSlots][4], float s) {
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = kStripHeight * s;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height), 0xFF282828u, 4.0f * s);
    std::int32_t rows = std::max(summary.stemCount, 1);
    for (const LayerSpan& span : summary.layerSpans) {
        rows = std::max(rows, span.layers);
    }
    const float rowHeight = height / static_cast<float>(rows);
    const double total = summary.timePlayed;
    for (const LayerSpan& span : summary.layerSpans) {
        if (!(total > 0.0)) {
            break;
        }
        const float x0 = origin.x + width * static_cast<float>(span.from / total);
        const float x1 = origin.x + width * static_cast<float>(span.to / total);
        for (std::int32_t layer = 0; layer < span.layers; ++layer) {
            const float* c = colours[layer % kStemSlots];
            const float y1 = origin.y + height - rowHeight * static_cast<float>(layer);
            draw->AddRectFilled(ImVec2(x0, y1 - rowHeight), ImVec2(x1, y1),
                                ImGui::GetColorU32(ImVec4(c[0], c[1], c[2], 0.9f)));
        }
    }
    draw->AddRect(origin, ImVec2(origin.x + width, origin.y + height), 0xFF141414u, 4.0f * s, 0, 1.0f);
    // The song time at both ends, under the strip.
    const std::string end = formatSongTime(static_cast<std::int32_t>(std::clamp(total, 0.0, 2147483647.0)));
    const float y = origin.y + height + 4.0f * s;
    draw->AddText(ImVec2(origin.x, y), ImGui::GetColorU32(kGrey), "00:00");
    draw->AddText(ImVec2(origin.x + width - ImGui::CalcTextSize(end.c_str()).x, y), ImGui::GetColorU32(kGrey),
                  end.c_str());
    ImGui::Dummy(ImVec2(width, height + 4.0f * s + ImGui::GetTextLineHeight()));
    uiTraceLastItem("results_timeline");
}

// The hit offsets, the time and the layers.
void drawTiming(const RoundSummary& summary, const ResultsTexts& texts, const float (&colours)[kStemSlots][4],
                float s) {
    tracedText("results_mean", texts.mean, kWhite);
    tracedText("results_spread", texts.spread, kWhite);
    ImGui::Dummy(ImVec2(0.0f, 6.0f * s));
    // The bars take the room the column has left over what follows them, within their bounds.
    const float spacing = ImGui::GetStyle().ItemSpacing.y;
    const float line = ImGui::GetTextLineHeight();
    const float below = 4.0f * s + line + spacing + 14.0f * s + 2.0f * (line + spacing) + 4.0f * s + spacing +
                        kStripHeight * s + 4.0f * s + line + spacing;
    const float bars = std::clamp(ImGui::GetContentRegionAvail().y - below - 10.0f * s, kHistogramHeight * s,
                                  2.0f * kHistogramHeight * s);
    drawHistogram(summary, bars, s);
    ImGui::Dummy(ImVec2(0.0f, 14.0f * s));
    tracedText("results_time", texts.time, kWhite);
    tracedText("results_layer", texts.layer, kWhite);
    ImGui::Dummy(ImVec2(0.0f, 4.0f * s));
    drawLayerStrip(summary, colours, s);
}

void drawSummary(ScreenContext& context, const RoundSummary& summary, float s) {
    float colours[kStemSlots][4];
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        std::copy(&context.render->stemColors[0][0], &context.render->stemColors[0][0] + kStemSlots * 4,
                  &colours[0][0]);
    }
    const ResultsTexts texts = resultsTexts(summary, context.autoplay);
    if (gUI.portrait) {
        drawFigures(texts, s);
        ImGui::Dummy(ImVec2(0.0f, 20.0f * s));
        drawTiming(summary, texts, colours, s);
        return;
    }
    ImGui::PushStyleVar(ImGuiStyleVar_CellPadding, ImVec2(30.0f * s, 0.0f));
    if (ImGui::BeginTable("ResultsColumns", 2,
                          ImGuiTableFlags_SizingStretchProp | ImGuiTableFlags_BordersInnerV)) {
        ImGui::TableSetupColumn("figures", ImGuiTableColumnFlags_WidthStretch, 0.8f);
        ImGui::TableSetupColumn("timing", ImGuiTableColumnFlags_WidthStretch, 1.2f);
        ImGui::TableNextRow();
        ImGui::TableSetColumnIndex(0);
        drawFigures(texts, s);
        ImGui::TableSetColumnIndex(1);
        drawTiming(summary, texts, colours, s);
        ImGui::EndTable();
    }
    ImGui::PopStyleVar();
}

} // namespace

const char* gradeName(int grade) {
    static const char* const names[kGradeCount] = {"Perfect", "Great", "Good", "Ok", "Miss"};
    return grade >= 0 && grade < kGradeCount ? names[grade] : "";
}

ResultsTexts resultsTexts(const RoundSummary& summary, bool autoplay) {
    ResultsTexts texts;
    texts.score = formatWhole("%d", summary.score);
    const bool practice = summary.practiceSpeedPercent != 0;
    texts.newBest = summary.newBest && !autoplay && !practice;
    if (practice) {
        // A practice round is never a result; its speed says how it was played.
        texts.best = formatWhole("Practice at %d %%: not saved", summary.practiceSpeedPercent);
    } else {
        texts.best = autoplay ? "Autoplay: not saved" : formatWhole("Best: %d", summary.bestScore);
    }
    texts.combo = formatWhole("Highest combo: %d", summary.highestCombo);
    texts.accuracy = format("Accuracy: %.1f %%", summary.accuracyPercent);
    for (int grade = 0; grade < kGradeCount; ++grade) {
        texts.gradeCounts[grade] = formatWhole("%d", summary.grades[static_cast<std::size_t>(grade)]);
    }
    // Shown to a tenth: what rounds to 0.0 is on time.
    const double mean = std::round(summary.meanOffsetMs * 10.0) / 10.0;
    if (summary.presses == 0) {
        texts.mean = "Mean: no presses";
    } else if (mean == 0.0) {
        texts.mean = "Mean: on time";
    } else {
        texts.mean = format(mean > 0.0 ? "Mean: %.1f ms late" : "Mean: %.1f ms early", std::fabs(mean));
    }
    texts.spread = summary.presses == 0 ? "Spread: -" : format("Spread: %.1f ms", summary.spreadMs);
    // Whole seconds; a round past 99:59 shows its minutes in full.
    const double seconds = std::clamp(summary.timePlayed, 0.0, 2147483647.0);
    texts.time = "Time played: " + formatSongTime(static_cast<std::int32_t>(seconds));
    char layer[64];
    std::snprintf(layer, sizeof layer, "Highest layer: %d/%d", static_cast<int>(summary.highestLayer),
                  static_cast<int>(summary.stemCount));
    texts.layer = layer;
    return texts;
}

void drawResultsScreen(ScreenContext& context) {
    const float s = gUI.uiScale;
    drawTitleAndPlacePanel("RESULTS", 0.3f, 0.8f, 0.8f, 40.0f, 40.0f);
    int clicked = -1;
    if (ImGui::Begin("##ResultsPanel", nullptr, screenPanelFlags())) {
        const float k = settingsButtonRowFactor(ImGui::GetContentRegionAvail().x, s);
        const ImVec2 button(400.0f * s * k, 125.2f * s * k);
        if (beginPanelContent("ResultsContent", "results_panel", button.y, s)) {
            if (context.results != nullptr) {
                drawSummary(context, *context.results, s);
            } else {
                const float grey[4] = {0.7f, 0.7f, 0.7f, 1.0f};
                centredText("No round has been played yet.", grey);
            }
        }
        endPanelContent();

        ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
        if (context.watchNotice != nullptr && !context.watchNotice->empty()) {
            const float notice[4] = {1.0f, 0.5f, 0.4f, 1.0f};
            centredText(context.watchNotice->c_str(), notice);
        }
        const LevelSession& levels = *context.levels;
        const bool canRetry = levels.lastStarted >= 0 &&
                              levels.lastStarted < static_cast<int>(levels.list.size()) &&
                              !levelStartPending(levels);
        const RowButton row[] = {{"##retry", "Retry", canRetry && static_cast<bool>(context.retryLevel)},
                                 {"##replay", "Watch replay", context.replayAvailable},
                                 {"##menu", "Menu"}};
        clicked = drawButtonRow(row, 3, button, 40.0f * s * k);
    }
    ImGui::End();
    if (clicked == 0) {
        context.retryLevel();
    } else if (clicked == 1 && context.watchReplay) {
        context.watchReplay();
    } else if (clicked == 2) {
        goToScreen(context, UIScreen::MainMenu);
    }
}
