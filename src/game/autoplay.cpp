#include "game/autoplay.hpp"

#include "base/log.hpp"

#include <algorithm>

void autoplayStart(AutoplayPlan& plan, bool gamepad) {
    plan = AutoplayPlan{};
    plan.gamepad = gamepad;
    logMessage("Autoplay enabled");
}

// The gamepad bot's press of `touch`'s button: at its note time when the button is free by then,
// else as soon as the button's latest press can be let go of (which is moved earlier for it).
static void schedulePadPress(AutoplayPlan& plan, AutoplayTouch& touch, bool hold, double holdEnd) {
    AutoplayTouch* last = nullptr;
    for (AutoplayTouch& other : plan.touches) {
        if (!other.done && other.button == touch.button &&
            (last == nullptr || other.pressAt > last->pressAt)) {
            last = &other;
        }
    }
    if (last != nullptr) {
        touch.pressAt = std::max(touch.pressAt, last->letGoFrom + kAutoplayPadMinUp);
        last->releaseAt = std::min(last->releaseAt, touch.pressAt - kAutoplayPadMinUp);
    }
    touch.releaseAt =
        hold ? std::max(holdEnd, touch.pressAt) + kAutoplayHoldRelease : touch.pressAt + kAutoplayTapRelease;
    touch.letGoFrom = touch.pressAt + kAutoplayPadMinDown;
    if (hold) {
        touch.letGoFrom = std::max(touch.letGoFrom, holdEnd - kAutoplayPadEarlyLetGo);
    }
}

// A stale touch stands for no circle: the same circle comes again on the song's next pass.
static bool sameCircle(const AutoplayTouch& touch, const Circle& circle) {
    return !touch.stale && touch.noteTime == circle.time && touch.circleX == circle.x &&
           touch.circleY == circle.y && touch.stemIndex == circle.stemIndex;
}

// The song went back to play a passage again: the circles of the pass that ended went unjudged,
// and the same circles come again with the same times and places. A press not yet made is
// dropped; a finger still down would otherwise stay down until the old pass's release time came
// round again, standing for its circle's next turn, which would go unpressed: it is lifted at once.
static void forgetPass(AutoplayPlan& plan, double now) {
    plan.touches.erase(std::remove_if(plan.touches.begin(), plan.touches.end(),
                                      [](const AutoplayTouch& touch) { return !touch.down; }),
                       plan.touches.end());
    for (AutoplayTouch& touch : plan.touches) {
        touch.stale = true;
        touch.releaseAt = now;
        touch.letGoFrom = now; // a press of its button on the next pass need not wait for it
    }
}

void autoplayPlan(AutoplayPlan& plan, const GameState& game, std::int32_t width, std::int32_t height) {
    if (!game.playing || width <= 0 || height <= 0) {
        return;
    }
    if (game.progress.jumps.size() != plan.jumps) {
        plan.jumps = game.progress.jumps.size();
        forgetPass(plan, game.songTime);
    }
    // A touch is forgotten once its circle has gone (judged, expired, or a new round begun) and
    // its finger is up: until then it marks the circle as taken care of, so that a circle whose
    // press is still on its way to the judgement is not pressed twice. A stale one goes once up.
    const auto over = [&](const AutoplayTouch& touch) {
        return !touch.down &&
               (touch.stale || std::none_of(game.circles.begin(), game.circles.end(),
                                            [&](const Circle& circle) { return sameCircle(touch, circle); }));
    };
    plan.touches.erase(std::remove_if(plan.touches.begin(), plan.touches.end(), over), plan.touches.end());
    // In time order: circles that spawned together (a round's start) are planned as they come due,
    // so that each button's presses follow one another.
    std::vector<const Circle*> due;
    for (const Circle& circle : game.circles) {
        due.push_back(&circle);
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const Circle* a, const Circle* b) { return a->time < b->time; });
    for (const Circle* next : due) {
        const Circle& circle = *next;
        if (!circle.active || circle.hit || !circle.holders.empty() ||
            (plan.gamepad && circle.padButton == kNoPadButton)) {
            continue; // judged already, someone holds it, or no button plays it
        }
        const bool planned =
            std::any_of(plan.touches.begin(), plan.touches.end(),
                        [&](const AutoplayTouch& touch) { return sameCircle(touch, circle); });
        if (planned) {
            continue;
        }
        AutoplayTouch touch;
        touch.finger = plan.nextFinger++;
        touch.pressAt = circle.time;
        touch.releaseAt = circle.channel == kHoldChannel
                              ? circle.time + circle.holdDuration + kAutoplayHoldRelease
                              : circle.time + kAutoplayTapRelease;
        // Circles measure y upward in pixels; SDL's touch positions are fractions of the window,
        // y downward.
        touch.x = circle.x / static_cast<float>(width);
        touch.y = (static_cast<float>(height) - circle.y) / static_cast<float>(height);
        touch.noteTime = circle.time;
        touch.circleX = circle.x;
        touch.circleY = circle.y;
        touch.stemIndex = circle.stemIndex;
        if (plan.gamepad) {
            touch.button = circle.padButton;
            const bool hold = circle.channel == kHoldChannel;
            schedulePadPress(plan, touch, hold, circle.time + circle.holdDuration);
        }
        plan.touches.push_back(touch);
    }
}

bool autoplayNext(const AutoplayPlan& plan, AutoplayAction* action) {
    const AutoplayTouch* best = nullptr;
    double bestAt = 0.0;
    for (const AutoplayTouch& touch : plan.touches) {
        if (touch.done) {
            continue;
        }
        const double at = touch.down ? touch.releaseAt : touch.pressAt;
        // On a tie the release goes first: a finger lifted and another put down at the same moment.
        if (best == nullptr || at < bestAt || (at == bestAt && touch.down && !best->down)) {
            best = &touch;
            bestAt = at;
        }
    }
    if (best == nullptr) {
        return false;
    }
    action->step = best->down ? AutoplayStep::Release : AutoplayStep::Press;
    action->finger = best->finger;
    action->button = best->button;
    action->at = bestAt;
    action->x = best->x;
    action->y = best->y;
    return true;
}

bool autoplayStillDue(const AutoplayPlan& plan, const GameState& game) {
    return game.playing && game.progress.jumps.size() == plan.jumps;
}

void autoplayDone(AutoplayPlan& plan, const AutoplayAction& action) {
    for (auto it = plan.touches.begin(); it != plan.touches.end(); ++it) {
        if (it->finger != action.finger) {
            continue;
        }
        if (action.step == AutoplayStep::Press) {
            it->down = true;
        } else {
            it->down = false;
            it->done = true;
        }
        return;
    }
}

std::vector<AutoplayAction> autoplayCancel(AutoplayPlan& plan) {
    std::vector<AutoplayAction> releases;
    for (const AutoplayTouch& touch : plan.touches) {
        if (touch.down) {
            AutoplayAction action;
            action.step = AutoplayStep::Release;
            action.finger = touch.finger;
            action.button = touch.button;
            action.at = touch.releaseAt;
            action.x = touch.x;
            action.y = touch.y;
            releases.push_back(action);
        }
    }
    plan.touches.clear();
    return releases;
}
