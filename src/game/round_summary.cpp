#include "game/round_summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// The spans of the timeline's last run (see summarizeRound).
std::vector<LayerSpan> layerSpansOf(const std::vector<LayerChange>& timeline, double timePlayed) {
    std::vector<LayerSpan> spans;
    std::size_t first = 0;
    for (std::size_t i = 1; i < timeline.size(); ++i) {
        if (timeline[i].at < timeline[i - 1].at) {
            first = i; // the song started again from its top: the time played is that run's
        }
    }
    for (std::size_t i = first; i < timeline.size(); ++i) {
        const double from = std::max(0.0, timeline[i].at);
        const double to = std::min(i + 1 < timeline.size() ? timeline[i + 1].at : timePlayed, timePlayed);
        if (!(to > from)) {
            continue; // empty, or past the time played (a NaN fails here too)
        }
        if (!spans.empty() && spans.back().layers == timeline[i].layers && spans.back().to == from) {
            spans.back().to = to;
        } else {
            spans.push_back(LayerSpan{from, to, timeline[i].layers});
        }
    }
    return spans;
}

} // namespace

double gradeWeight(CircleGrade grade) {
    switch (grade) {
    case CircleGrade::Perfect:
        return 100.0;
    case CircleGrade::Great:
        return 75.0;
    case CircleGrade::Good:
        return 50.0;
    case CircleGrade::Ok:
        return 25.0;
    case CircleGrade::Miss:
        break;
    }
    return 0.0;
}

int hitErrorBin(double offsetMs) {
    if (!std::isfinite(offsetMs)) {
        return -1;
    }
    const double bin = std::floor((offsetMs + kHitReachMs) / kHitBinMs);
    return static_cast<int>(std::clamp(bin, 0.0, static_cast<double>(kHitBins - 1)));
}

RoundSummary summarizeRound(const GameState& game) {
    RoundSummary summary;
    summary.score = game.score;
    summary.previousBestKnown = game.previousBest >= 0;
    summary.bestScore = std::max(game.previousBest, game.score);
    summary.newBest = game.score > std::max(game.previousBest, 0);
    summary.highestCombo = game.highestCombo;

    double weights = 0.0, sum = 0.0, squares = 0.0;
    for (const CircleOutcome& outcome : game.outcomes) {
        const auto grade = static_cast<std::size_t>(outcome.grade);
        if (grade >= summary.grades.size()) {
            continue; // not a grade of ours: counted nowhere
        }
        ++summary.grades[grade];
        ++summary.decisions;
        weights += gradeWeight(outcome.grade);
        const int bin = hitErrorBin(outcome.offsetMs);
        if (outcome.grade == CircleGrade::Miss || bin < 0) {
            continue;
        }
        ++summary.presses;
        ++summary.histogram[static_cast<std::size_t>(bin)];
        sum += outcome.offsetMs;
        squares += static_cast<double>(outcome.offsetMs) * outcome.offsetMs;
    }
    if (summary.decisions > 0) {
        summary.accuracyPercent = weights / summary.decisions;
    }
    if (summary.presses > 0) {
        summary.meanOffsetMs = sum / summary.presses;
        // Rounding can leave the variance a hair below zero when every offset is the same.
        summary.spreadMs =
            std::sqrt(std::max(0.0, squares / summary.presses - summary.meanOffsetMs * summary.meanOffsetMs));
    }

    const double applied = game.progress.applied + game.progress.jumpedBack;
    summary.timePlayed = std::isfinite(applied) && applied > 0.0 ? applied : 0.0;
    summary.highestLayer = game.highestLayer;
    summary.stemCount = static_cast<std::int32_t>(game.setup.stems.size());
    summary.layerSpans = layerSpansOf(game.layerTimeline, summary.timePlayed);
    summary.practiceSpeedPercent = game.progress.practice ? game.progress.speedPercent : 0;
    return summary;
}

RoundSummary sampleRoundSummary() {
    GameState game;
    game.score = 48210;
    game.previousBest = 45120;
    game.highestCombo = 187;
    game.highestLayer = 4;
    game.setup.stems.resize(5);
    game.progress.applied = 187.0;
    game.layerTimeline = {{0.0, 1},  {12.0, 2},  {31.0, 3},  {58.0, 4},
                          {96.0, 3}, {110.0, 4}, {150.0, 2}, {165.0, 3}};
    // Mostly close presses a little late, some wide ones each side, and misses.
    for (int i = 0; i < 420; ++i) {
        const double x = static_cast<double>(i);
        double offset = 22.0 * std::sin(0.37 * x) + 11.0 * std::sin(1.91 * x) + 6.0;
        CircleGrade grade = CircleGrade::Perfect;
        if (i % 23 == 0) {
            grade = CircleGrade::Miss;
            offset = 0.0;
        } else if (i % 53 == 0) {
            grade = CircleGrade::Ok;
            offset = (i % 2 == 0 ? 1.0 : -1.0) * (350.0 + std::fmod(x, 40.0));
        } else if (i % 37 == 0) {
            grade = CircleGrade::Good;
            offset = (i % 2 == 0 ? 1.0 : -1.0) * (260.0 + std::fmod(x, 40.0));
        } else if (i % 13 == 0) {
            grade = CircleGrade::Great;
            offset = (i % 2 == 0 ? 1.0 : -1.0) * (110.0 + std::fmod(x, 70.0));
        }
        game.outcomes.push_back(CircleOutcome{x * 0.44, i % 4, 40, grade, static_cast<float>(offset)});
    }
    return summarizeRound(game);
}
