#include "game/autoplay.hpp"

#include "app/input.hpp"
#include "app/log.hpp"
#include "game/circles.hpp"
#include "game/judgement.hpp"

#include <vector>

void autoplayStart(AutoplayState &bot) {
    bot = AutoplayState{};
    logMessage("Autoplay enabled");
}

// ---- Letting go ----

// A finger stays down only while it holds a hold circle whose hold is still running.
static bool shouldRelease(const GameState &game, std::uint64_t finger) {
    const auto held = game.pointerHolds.find(finger);
    if (held == game.pointerHolds.end() || held->second < 0 ||
        static_cast<std::size_t>(held->second) >= game.circles.size()) {
        return true; // a tap was judged, or the held circle is gone
    }
    const Circle &circle = game.circles[static_cast<std::size_t>(held->second)];
    // Letting go once the hold's length has passed lands inside the release tolerance even when
    // the frame clock has not yet credited the hold time.
    return circle.holdComplete || game.songTime - circle.time >= circle.holdDuration;
}

static void releaseFingers(AutoplayState &bot, const GameState &game, InputState &input) {
    for (auto it = bot.fingers.begin(); it != bot.fingers.end();) {
        if (!shouldRelease(game, *it)) {
            ++it;
            continue;
        }
        TouchPoint &touch = input.touches[*it];
        touch.held = false;
        touch.pressed = false;
        touch.released = true;
        it = bot.fingers.erase(it);
    }
}

// ---- Pressing ----

// True when this frame is the best one left to press `circle`: its time is nearer now than it
// will be next frame, or the circle would be gone by then.
static bool pressNow(const Circle &circle, double songTime, double step) {
    const double lead = circle.time - songTime; // > 0: still early
    if (lead > kEarlyPressLimit) {
        return false;
    }
    if (lead <= step * 0.5) {
        return true;
    }
    const double lifetime = circle.channel == kHoldChannel ? circle.holdDuration : kTapLifetime;
    return step - lead > lifetime;
}

void autoplayFrame(AutoplayState &bot, const GameState &game, InputState &input, std::int32_t windowHeight) {
    const double now = game.songTime;
    const double moved = now - bot.lastSongTime;
    if (moved > 0.0 && moved < 0.1) {
        bot.clockStep = moved;
    }
    bot.lastSongTime = now;

    releaseFingers(bot, game, input);
    if (!game.playing) {
        return; // presses would not be judged
    }
    const float height = static_cast<float>(windowHeight);
    for (const Circle &circle : game.circles) {
        if (!circle.active || circle.hit || !circle.holders.empty() ||
            !pressNow(circle, now, bot.clockStep)) {
            continue;
        }
        const std::uint64_t finger = bot.nextFingerId++;
        TouchPoint &touch = input.touches[finger];
        touch.held = true;
        touch.pressed = true;
        touch.released = false;
        touch.x = circle.x;
        touch.y = height - circle.y; // circles measure y upward, SDL downward
        bot.fingers.insert(finger);
    }
}
