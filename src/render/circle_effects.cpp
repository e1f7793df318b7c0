#include "render/circle_effects.hpp"

#include "game/game_state.hpp"

#include <algorithm>

static void addBurst(CircleEffects& effects, const SeenCircle& where, float now) {
    int slot = effects.burstCount;
    if (slot == kMaxHitBursts) {
        // Full: the oldest burst is nearly faded out anyway.
        slot = 0;
        for (int i = 1; i < kMaxHitBursts; ++i) {
            if (effects.bursts[i].bornAt < effects.bursts[slot].bornAt) {
                slot = i;
            }
        }
    } else {
        ++effects.burstCount;
    }
    effects.bursts[slot] = HitBurst{where.x, where.y, where.radius, now, where.stemIndex};
}

static const SeenCircle* findSeen(const std::vector<SeenCircle>& seen, const Circle& circle) {
    for (const SeenCircle& s : seen) {
        if (s.time == circle.time && s.stemIndex == circle.stemIndex && s.note == circle.note) {
            return &s;
        }
    }
    return nullptr;
}

void trackHitBursts(CircleEffects& effects, const GameState& game, float now) {
    int kept = 0;
    for (int i = 0; i < effects.burstCount; ++i) {
        const float age = now - effects.bursts[i].bornAt;
        if (age >= 0.0f && age < kHitBurstLife) {
            effects.bursts[kept++] = effects.bursts[i];
        }
    }
    effects.burstCount = kept;

    effects.scratch.clear();
    for (const Circle& circle : game.circles) {
        if (!circle.active) {
            continue;
        }
        const bool retired = circle.x == kOffScreen && circle.y == kOffScreen;
        if (!retired) {
            effects.scratch.push_back(SeenCircle{circle.time, circle.stemIndex, circle.note, circle.x,
                                                 circle.y, circle.targetRadius});
        } else if (circle.channel == kHoldChannel ? circle.holdComplete : circle.hit) {
            // Retired after a hit (a hold only once it was held long enough): the frame before,
            // it was on screen, which happens once per circle.
            if (const SeenCircle* last = findSeen(effects.seen, circle)) {
                addBurst(effects, *last, now);
            }
        }
    }
    std::swap(effects.seen, effects.scratch);
}
