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

static std::int32_t findCircleForKey(const GameState& game, std::uint32_t key, double at) {
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

static void retireCircle(Circle& circle) {
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
    game.pressOffsetsMs.push_back(static_cast<float>((at - circle.time) * 1000.0));
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
        retireCircle(circle);
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
        registerMiss(game);
    }
    retireCircle(circle);
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
        game.pressOffsetsMs.push_back(static_cast<float>((at - circle.time) * 1000.0));
        retireCircle(circle);
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

void handleGameplayInput(GameState& game, const InputState& input, std::int32_t windowHeight) {
    if (!game.playing) {
        return;
    }
    if (game.keyboardGameplay) {
        for (std::uint32_t key : input.keysPressed) {
            // Keycode 0 is SDL's unknown key; circles spawned without keyboard gameplay carry 0.
            if (key == 0) {
                continue;
            }
            const double at = inputSongTime(game, stampOf(input.keyPressNs, key));
            const std::int32_t index = findCircleForKey(game, key, at);
            if (index >= 0 && game.keyHolds.count(key) == 0) {
                judgeInput(game, index, false, key, true, at);
            }
        }
        for (std::uint32_t key : input.keysReleased) {
            const auto held = game.keyHolds.find(key);
            if (held != game.keyHolds.end()) {
                judgeInput(game, held->second, false, key, false,
                           inputSongTime(game, stampOf(input.keyReleaseNs, key)));
            }
        }
    }
    const float height = static_cast<float>(windowHeight);
    for (const auto& [fingerId, touch] : input.touches) {
        if (touch.pressed) {
            const double at = inputSongTime(game, touch.pressNs);
            const std::int32_t index = findCircleAt(game, touch.x, height - touch.y, at);
            if (index >= 0) {
                judgeInput(game, index, true, fingerId, true, at);
            }
        }
        // A finger may come down and go up within one frame (a quick tap, a slow frame): its
        // release still ends the hold its press began.
        if (touch.released) {
            const auto held = game.pointerHolds.find(fingerId);
            if (held != game.pointerHolds.end()) {
                judgeInput(game, held->second, true, fingerId, false, inputSongTime(game, touch.releaseNs));
            }
        }
    }
    // Touches also arrive as mouse events; while any finger is tracked the mouse is ignored.
    if (!input.touches.empty()) {
        return;
    }
    if (input.mousePressed) {
        const double at = inputSongTime(game, input.mousePressNs);
        const std::int32_t index = findCircleAt(game, input.mouseX, height - input.mouseY, at);
        if (index >= 0) {
            judgeInput(game, index, false, kMouseInputId, true, at);
        }
    }
    if (input.mouseReleased) {
        const auto held = game.pointerHolds.find(kMouseInputId);
        if (held != game.pointerHolds.end()) {
            judgeInput(game, held->second, false, kMouseInputId, false,
                       inputSongTime(game, input.mouseReleaseNs));
        }
    }
}
