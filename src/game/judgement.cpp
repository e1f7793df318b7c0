#include "game/judgement.hpp"

#include "audio/heard_clock.hpp"
#include "base/log.hpp"
#include "game/circles.hpp"
#include "game/input_state.hpp"
#include "game/scoring.hpp"

#include <algorithm>
#include <cmath>

// ---- Grading ----

double accuracyAt(const Circle& circle, double songTime) {
    const double accuracy = 1.0 - std::fabs(circle.time - songTime);
    return accuracy < 0.0 ? 0.0 : (accuracy > 1.0 ? 1.0 : accuracy);
}

Judgement judgementFor(double accuracy) {
    if (accuracy >= 0.9) {
        return Judgement::PERFECT;
    }
    if (accuracy >= 0.75) {
        return Judgement::GREAT;
    }
    if (accuracy >= 0.5) {
        return Judgement::GOOD;
    }
    return Judgement::OK;
}

std::int32_t notePoints(std::int32_t note) {
    if (note < 48) {
        return 50;
    }
    if (note <= 59) {
        return 30;
    }
    if (note <= 72) {
        return 20;
    }
    return 10;
}

static std::int32_t tierFactor(Judgement judgement) {
    switch (judgement) {
    case Judgement::PERFECT:
        return 3;
    case Judgement::GREAT:
        return 2;
    case Judgement::GOOD:
    case Judgement::OK:
        break;
    }
    return 1;
}

std::int32_t pressPoints(double accuracy, std::int32_t note) {
    // The timing factor reaches 3 only for a press exactly on the note time.
    const std::int32_t timing = 1 + static_cast<std::int32_t>(std::floor(2.0 * accuracy));
    return timing * notePoints(note) * tierFactor(judgementFor(accuracy));
}

static CircleGrade gradeOf(double accuracy) {
    switch (judgementFor(accuracy)) {
    case Judgement::PERFECT:
        return CircleGrade::Perfect;
    case Judgement::GREAT:
        return CircleGrade::Great;
    case Judgement::GOOD:
        return CircleGrade::Good;
    case Judgement::OK:
        break;
    }
    return CircleGrade::Ok;
}

// ---- Finding circles ----

double inputSongTime(const GameState& game, std::uint64_t eventNs) {
    if (eventNs == 0 || game.songTimeNs == 0) {
        return game.songTime;
    }
    return songTimeAt(game.songTime, game.songTimeNs, eventNs, game.songRate);
}

std::int32_t findCircleAt(const GameState& game, float x, float y, double at) {
    std::int32_t best = -1;
    float bestDistance = 0.0f;
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        const Circle& circle = game.circles[i];
        if (!circle.active || circle.hit || !circle.holders.empty() || circle.time - at > kEarlyPressLimit ||
            circleOverAt(circle, at)) {
            continue;
        }
        // The full target area counts, however small the circle is still drawn.
        const float distance = std::hypot(circle.x - x, circle.y - y);
        if (distance > circle.targetRadius + kPressReach) {
            continue;
        }
        if (best < 0 || distance < bestDistance) { // strict: the older circle wins a tie
            best = static_cast<std::int32_t>(i);
            bestDistance = distance;
        }
    }
    return best;
}

std::int32_t findCircleForButton(const GameState& game, InputDevice device, std::uint32_t code, double at) {
    // Circles spawned without keyboard gameplay (or without a button) carry the "none" codes:
    // nothing presses them by name.
    if ((device != InputDevice::Key || !isCell(code)) &&
        (device != InputDevice::Gamepad || static_cast<PadButton>(code) == kNoPadButton)) {
        return -1;
    }
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        const Circle& circle = game.circles[i];
        const bool named = device == InputDevice::Key ? circle.cell == code
                                                      : circle.padButton == static_cast<PadButton>(code);
        if (circle.active && !circle.hit && named && circle.time - at <= kEarlyPressLimit &&
            !circleOverAt(circle, at)) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

// ---- Judging ----

static void retireCircle(Circle& circle, double at) {
    circle.retired = true;
    circle.retiredAt = at;
    circle.radius = 0.0f;
    circle.x = kOffScreen;
    circle.y = kOffScreen;
}

static void judgeHoldPress(GameState& game, Circle& circle, std::int32_t index, InputRef input,
                           double accuracy, double at) {
    const bool isFinger = input.device == InputDevice::Finger;
    if (game.holds.count(input) != 0 || (isFinger && !circle.holders.empty())) {
        return;
    }
    circle.holders.insert(input);
    game.holds[input] = index;
    if (circle.hit) {
        return; // joins a hold whose press was already graded
    }
    circle.hit = true;
    // The hold runs on the song clock from the press, or from the note when pressed early.
    circle.holdFrom = std::max(at, circle.time);
    const float offset = static_cast<float>((at - circle.time) * 1000.0);
    game.pressOffsetsMs.push_back(offset);
    recordOutcome(game, circle, gradeOf(accuracy), offset);
    // Keys, the mouse and gamepad buttons share the narrow window; a finger covers the note less
    // precisely.
    const double window = isFinger ? kFingerHoldPressWindow : kHoldPressWindow;
    if (std::fabs(at - circle.time) <= window) {
        addScore(game, pressPoints(accuracy, circle.note));
        registerSuccess(game);
    } else {
        // The hold still runs, but a press this far off breaks the run (without counting a miss).
        game.combo = 0;
        game.comboAtLayerCheck = 0;
    }
}

static void judgeHoldRelease(GameState& game, Circle& circle, InputRef input, double at) {
    if (circle.holders.count(input) == 0) {
        return; // only an input that holds this circle can let go of it
    }
    const bool isFinger = input.device == InputDevice::Finger;
    if (isFinger) {
        logError(stderr, "Touch released on hold note");
    }
    circle.holders.erase(input);
    game.holds.erase(input);
    if (!circle.holders.empty()) {
        return;
    }
    circle.heldTime = std::max(circle.heldTime, static_cast<float>(at - circle.holdFrom));
    if (circle.holdComplete) {
        retireCircle(circle, at);
        return;
    }
    if (isFinger) {
        logError(stderr, "Not held successfully");
    }
    const double held = circle.heldTime;
    const double hold = circle.holdDuration;
    if (held >= hold - 0.3 && held <= hold + 0.3) {
        if (isFinger) {
            logError(stderr, "Good hold (with tolerance)");
        }
        addScore(game, 100);
        registerSuccess(game);
        circle.holdComplete = true;
    } else {
        if (isFinger) {
            logError(stderr, "Not held long enough");
        }
        recordOutcome(game, circle, CircleGrade::Miss);
        registerMiss(game);
    }
    retireCircle(circle, at);
}

void judgeInput(GameState& game, std::int32_t index, InputRef input, bool isPress, double at) {
    if (index < 0 || static_cast<std::size_t>(index) >= game.circles.size()) {
        if (input.device == InputDevice::Finger) {
            game.holds.erase(input);
        }
        return;
    }
    Circle& circle = game.circles[static_cast<std::size_t>(index)];
    const double accuracy = accuracyAt(circle, at);

    if (circle.channel != kHoldChannel) {
        if (!isPress || circle.hit || game.holds.count(input) != 0) {
            return;
        }
        circle.hit = true;
        const float offset = static_cast<float>((at - circle.time) * 1000.0);
        game.pressOffsetsMs.push_back(offset);
        recordOutcome(game, circle, gradeOf(accuracy), offset);
        retireCircle(circle, at);
        addScore(game, pressPoints(accuracy, circle.note));
        registerSuccess(game);
        return;
    }
    if (isPress) {
        judgeHoldPress(game, circle, index, input, accuracy, at);
    } else {
        judgeHoldRelease(game, circle, input, at);
    }
}

// ---- Frame input ----

namespace {

// Among events at one song time: keys, fingers, the mouse, then buttons.
int deviceRank(InputDevice device) {
    switch (device) {
    case InputDevice::Key:
        return 0;
    case InputDevice::Finger:
        return 1;
    case InputDevice::Mouse:
        return 2;
    case InputDevice::Gamepad:
        break;
    }
    return 3;
}

// The order of events at one song time: by device; keys and buttons all presses first, each kind
// by code; fingers by id, each one's press before its release.
bool comesFirst(const RoundEvent& a, const RoundEvent& b) {
    if (a.songTimeUs != b.songTimeUs) {
        return a.songTimeUs < b.songTimeUs;
    }
    if (a.device != b.device) {
        return deviceRank(a.device) < deviceRank(b.device);
    }
    if (a.device == InputDevice::Finger && a.id != b.id) {
        return a.id < b.id;
    }
    if (a.kind != b.kind) {
        return a.kind < b.kind;
    }
    return a.key < b.key;
}

} // namespace

std::vector<RoundEvent> gameplayInputEvents(const GameState& game, const InputState& input,
                                            std::int32_t windowHeight) {
    std::vector<RoundEvent> events;
    if (!game.playing) {
        return events;
    }
    const float height = static_cast<float>(windowHeight);
    for (const InputAction& action : input.actions) {
        if (action.device == InputDevice::Key && !game.keyboardGameplay) {
            continue;
        }
        // Touches also arrive as mouse events; while any finger is tracked the mouse is ignored.
        if (action.device == InputDevice::Mouse && !input.touches.empty()) {
            continue;
        }
        RoundEvent event;
        event.songTimeUs = songTimeToMicros(inputSongTime(game, action.ns));
        event.kind = action.kind;
        event.device = action.device;
        const bool pointer = action.device == InputDevice::Finger || action.device == InputDevice::Mouse;
        event.id =
            action.device == InputDevice::Finger || action.device == InputDevice::Gamepad ? action.id : 0;
        event.key = pointer ? 0 : action.code;
        event.x = pointer ? action.x : 0.0f;
        event.y = pointer ? height - action.y : 0.0f;
        events.push_back(event);
    }
    std::stable_sort(events.begin(), events.end(), comesFirst);
    return events;
}
