#pragma once
// Hit bursts: the flash a circle leaves where it was hit. The game retires a judged circle at once
// (it moves off screen in the frame it is hit), so the renderer remembers where each circle was
// drawn and turns a circle that has just been retired after a hit into a short expanding ring at
// its last place. Plain code on the main thread; drawCircles feeds it once per frame.
#include <cstdint>
#include <vector>

struct GameState;

constexpr int kMaxHitBursts = 16;      // bursts alive at once; a new one replaces the oldest
constexpr float kHitBurstLife = 0.35f; // seconds from hit to gone

struct HitBurst {
    float x = 0.0f, y = 0.0f; // drawable pixels, origin bottom left (as the circle was)
    float radius = 0.0f;      // the circle's target radius
    float bornAt = 0.0f;      // render time of the hit, seconds
    std::int32_t stemIndex = 0;
};

// Where an on-screen circle was drawn, keyed by its note (stem, key number and note time).
struct SeenCircle {
    double time = 0.0;
    std::int32_t stemIndex = 0;
    std::int32_t note = 0;
    float x = 0.0f, y = 0.0f, radius = 0.0f;
};

struct CircleEffects {
    std::vector<SeenCircle> seen;    // on-screen circles of the previous frame
    std::vector<SeenCircle> scratch; // next frame's list, kept for its capacity
    HitBurst bursts[kMaxHitBursts];
    int burstCount = 0;
};

// One frame at render time `now` (seconds): forgets bursts older than kHitBurstLife, starts a
// burst for every circle hit since the previous frame, and remembers where the on-screen circles
// are now.
void trackHitBursts(CircleEffects& effects, const GameState& game, float now);
