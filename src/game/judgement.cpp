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

std::int32_t findCircleForKey(const GameState& game, std::uint32_t key, double at) {
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        const Circle& circle = game.circles[i];
        if (circle.active && !circle.hit && circle.key == key && circle.time - at <= kEarlyPressLimit &&
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

static bool inHoldMap(const GameState& game, bool isKey, std::uint64_t inputId) {
    return isKey ? game.keyHolds.count(static_cast<std::uint32_t>(inputId)) != 0
                 : game.pointerHolds.count(inputId) != 0;
}

static void setHold(GameState& game, bool isKey, std::uint64_t inputId, std::int32_t index) {
    if (isKey) {
        game.keyHolds[static_cast<std::uint32_t>(inputId)] = index;
    } else {
        game.pointerHolds[inputId] = index;
    }
}

static void clearHold(GameState& game, bool isKey, std::uint64_t inputId) {
    if (isKey) {
        game.keyHolds.erase(static_cast<std::uint32_t>(inputId));
    } else {
        game.pointerHolds.erase(inputId);
    }
}

static void judgeHoldPress(GameState& game, Circle& circle, std::int32_t index, bool isFinger, bool isKey,
                           std::uint64_t inputId, double accuracy, double at) {
    if (inHoldMap(game, isKey, inputId) || (isFinger && !circle.holders.empty())) {
        return;
    }
    circle.holders.insert(inputId);
    setHold(game, isKey, inputId, index);
    if (circle.hit) {
        return; // joins a hold whose press was already graded
    }
    circle.hit = true;
    // The hold runs on the song clock from the press, or from the note when pressed early.
    circle.holdFrom = std::max(at, circle.time);
    const float offset = static_cast<float>((at - circle.time) * 1000.0);
    game.pressOffsetsMs.push_back(offset);
    recordOutcome(game, circle, gradeOf(accuracy), offset);
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

static void judgeHoldRelease(GameState& game, Circle& circle, bool isFinger, bool isKey,
                             std::uint64_t inputId, double at) {
    if (circle.holders.count(inputId) == 0) {
        return; // only an input that holds this circle can let go of it
    }
    if (isFinger) {
        logError(stderr, "Touch released on hold note");
    }
    circle.holders.erase(inputId);
    clearHold(game, isKey, inputId);
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

void judgeInput(GameState& game, std::int32_t index, bool isFinger, std::uint64_t inputId, bool isPress,
                double at) {
    if (index < 0 || static_cast<std::size_t>(index) >= game.circles.size()) {
        if (isFinger) {
            game.pointerHolds.erase(inputId);
        }
        return;
    }
    Circle& circle = game.circles[static_cast<std::size_t>(index)];
    const double accuracy = accuracyAt(circle, at);
    // Keys are neither fingers nor the mouse; they keep their holds in the key map.
    const bool isKey = !isFinger && inputId != kMouseInputId;

    if (circle.channel != kHoldChannel) {
        if (!isPress || circle.hit || inHoldMap(game, isKey, inputId)) {
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
        judgeHoldPress(game, circle, index, isFinger, isKey, inputId, accuracy, at);
    } else {
        judgeHoldRelease(game, circle, isFinger, isKey, inputId, at);
    }
}

// ---- Frame input ----

// The timestamp an input's event carried (0 when it has none).
static std::uint64_t stampOf(const std::map<std::uint32_t, std::uint64_t>& stamps, std::uint32_t key) {
    const auto found = stamps.find(key);
    return found == stamps.end() ? 0 : found->second;
}

static RoundEvent eventAt(const GameState& game, std::uint64_t eventNs, InputKind kind, InputDevice device) {
    RoundEvent event;
    event.songTimeUs = songTimeToMicros(inputSongTime(game, eventNs));
    event.kind = kind;
    event.device = device;
    return event;
}

std::vector<RoundEvent> gameplayInputEvents(const GameState& game, const InputState& input,
                                            std::int32_t windowHeight) {
    std::vector<RoundEvent> events;
    if (!game.playing) {
        return events;
    }
    if (game.keyboardGameplay) {
        for (std::uint32_t key : input.keysPressed) {
            RoundEvent event =
                eventAt(game, stampOf(input.keyPressNs, key), InputKind::Press, InputDevice::Key);
            event.key = key;
            events.push_back(event);
        }
        for (std::uint32_t key : input.keysReleased) {
            RoundEvent event =
                eventAt(game, stampOf(input.keyReleaseNs, key), InputKind::Release, InputDevice::Key);
            event.key = key;
            events.push_back(event);
        }
    }
    const float height = static_cast<float>(windowHeight);
    for (const auto& [fingerId, touch] : input.touches) {
        // A finger may come down and go up within one frame (a quick tap, a slow frame): both count.
        if (touch.pressed) {
            RoundEvent event = eventAt(game, touch.pressNs, InputKind::Press, InputDevice::Finger);
            event.id = fingerId;
            event.x = touch.x;
            event.y = height - touch.y;
            events.push_back(event);
        }
        if (touch.released) {
            RoundEvent event = eventAt(game, touch.releaseNs, InputKind::Release, InputDevice::Finger);
            event.id = fingerId;
            event.x = touch.x;
            event.y = height - touch.y;
            events.push_back(event);
        }
    }
    // Touches also arrive as mouse events; while any finger is tracked the mouse is ignored.
    if (input.touches.empty()) {
        if (input.mousePressed) {
            RoundEvent event = eventAt(game, input.mousePressNs, InputKind::Press, InputDevice::Mouse);
            event.x = input.mouseX;
            event.y = height - input.mouseY;
            events.push_back(event);
        }
        if (input.mouseReleased) {
            RoundEvent event = eventAt(game, input.mouseReleaseNs, InputKind::Release, InputDevice::Mouse);
            event.x = input.mouseX;
            event.y = height - input.mouseY;
            events.push_back(event);
        }
    }
    // In time order; the order above (keys, fingers, mouse; presses before releases) among equals.
    std::stable_sort(events.begin(), events.end(),
                     [](const RoundEvent& a, const RoundEvent& b) { return a.songTimeUs < b.songTimeUs; });
    return events;
}
