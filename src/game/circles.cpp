#include "game/circles.hpp"

#include "game/pad_scheme.hpp"
#include "game/scoring.hpp"

#include <algorithm>
#include <cmath>

// ---- Spawning ----

void spawnCircle(GameState& game, const MidiNoteEvent& note, std::int32_t stemIndex, std::int32_t width,
                 std::int32_t height, double dueTime) {
    Circle circle;
    if (game.keyboardGameplay) {
        circle.cell = cellForNote(note.note, note.velocity);
        circle.keyLabel = game.cellLabels[circle.cell];
    }
    // Every circle has its button, pad or no pad: a round (and its replay) is the same whichever
    // device plays it.
    circle.padButton = padButtonForNote(note.note, note.velocity);
    // The products are whole numbers before the division, so a chart draws the same pattern at
    // every window size up to the rounding of the last step. 64-bit keeps odd charts from
    // overflowing.
    circle.x = static_cast<float>(static_cast<std::int64_t>(note.note) * width) * (1.0f / 128.0f);
    circle.y = static_cast<float>(static_cast<std::int64_t>(note.velocity) * height) * (1.0f / 128.0f);
    circle.radius = kSpawnRadius;
    circle.targetRadius = kTargetRadius;
    circle.holdDuration =
        note.channel == kHoldChannel ? static_cast<float>(note.duration) : static_cast<float>(kTapLifetime);
    circle.active = true;
    circle.time = dueTime;
    circle.note = note.note;
    circle.stemIndex = stemIndex;
    circle.channel = note.channel;
    game.circles.push_back(std::move(circle));
}

// ---- Circle life ----

void recordOutcome(GameState& game, const Circle& circle, CircleGrade grade, float offsetMs) {
    game.outcomes.push_back(CircleOutcome{circle.time, circle.stemIndex, circle.note, grade, offsetMs});
}

void removeCircle(GameState& game, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= game.circles.size()) {
        return;
    }
    Circle& circle = game.circles[static_cast<std::size_t>(index)];
    // Every input still holding this circle lets go of it.
    for (auto it = game.holds.begin(); it != game.holds.end();) {
        it = it->second == index ? game.holds.erase(it) : std::next(it);
    }
    circle.holders.clear();
    if (circle.arrived && !circle.hit && !circle.holdComplete) {
        recordOutcome(game, circle, CircleGrade::Miss);
        registerMiss(game); // a note nobody answered
    }
    game.circles.erase(game.circles.begin() + index);
    for (auto& entry : game.holds) {
        if (entry.second > index) {
            --entry.second;
        }
    }
}

bool circleOverAt(const Circle& circle, double at) {
    return at - circle.time > std::max(static_cast<double>(circle.holdDuration), kRemovalGuard);
}
