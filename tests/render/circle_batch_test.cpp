#include "game/game_state.hpp"
#include "render/circle_effects.hpp"
#include "render/circle_renderer.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

Circle circleAt(float x, float y, double time, int stem = 0, int channel = 0, float holdDuration = 0.2f) {
    Circle circle;
    circle.x = x;
    circle.y = y;
    circle.time = time;
    circle.note = 60;
    circle.stemIndex = stem;
    circle.channel = channel;
    circle.holdDuration = holdDuration;
    return circle;
}

TEST(CircleBatch, KeepsListOrderWithInactiveCirclesIncluded) {
    GameState game;
    game.circles = {circleAt(10, 20, 1.0), circleAt(30, 40, 1.1, 2, kHoldChannel, 2.0f),
                    circleAt(50, 60, 1.2)};
    game.circles[0].active = false;
    game.circles[2].active = false;
    game.circles[1].hit = true;
    CircleBatch batch;
    buildCircleBatch(game, batch);
    ASSERT_EQ(batch.count, 3);
    const auto column = [](const std::int32_t* values) { return std::vector<int>(values, values + 3); };
    EXPECT_EQ(column(batch.active), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(column(batch.hit), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(column(batch.isHold), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(column(batch.stemIndex), (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(column(batch.source), (std::vector<int>{0, 1, 2}));
    EXPECT_FLOAT_EQ(batch.centers[2][0], 50.0f);
    EXPECT_FLOAT_EQ(batch.centers[2][1], 60.0f);
}

TEST(CircleBatch, BeyondTheShaderLimitKeepsTheCirclesDueSoonest) {
    GameState game;
    // Times run backwards through the list: the first circle is due last and must go.
    for (int i = 0; i <= kMaxCircles; ++i) {
        game.circles.push_back(circleAt(static_cast<float>(i), 0, 10.0 - 0.01 * i));
    }
    CircleBatch batch;
    buildCircleBatch(game, batch);
    ASSERT_EQ(batch.count, kMaxCircles);
    for (int i = 0; i < kMaxCircles; ++i) {
        EXPECT_EQ(batch.source[i], i + 1) << "list order is kept among the survivors";
        EXPECT_FLOAT_EQ(batch.centers[i][0], static_cast<float>(i + 1));
    }
    // An inactive circle gives way before any live one, however soon it was due.
    game.circles.back().active = false;
    buildCircleBatch(game, batch);
    EXPECT_EQ(batch.source[kMaxCircles - 1], kMaxCircles - 1);
    EXPECT_EQ(batch.source[0], 0);
}

TEST(CircleBatch, HoldProgressRunsOnlyOnHoldCircles) {
    const Circle hold = circleAt(0, 0, 5.0, 0, kHoldChannel, 2.0f);
    EXPECT_FLOAT_EQ(holdProgress(hold, 5.5), 0.25f);
    EXPECT_FLOAT_EQ(holdProgress(hold, 4.9), 0.0f);
    EXPECT_FLOAT_EQ(holdProgress(hold, 8.0), 1.0f);
    EXPECT_FLOAT_EQ(holdProgress(circleAt(0, 0, 5.0, 0, kHoldChannel, 0.0f), 5.5), 0.0f);
    // Tap circles carry 0.2 s of grace as their hold duration: still no progress arc.
    EXPECT_FLOAT_EQ(holdProgress(circleAt(0, 0, 5.0), 5.1), 0.0f);
}

TEST(CircleLabels, InkBoxIsCentredOnTheCircleAndShrinksToFit) {
    // A 20 x 23 letter above the baseline, and a key name three times as wide.
    const TextExtent letter{1.0f, -23.0f, 21.0f, 0.0f, 22.0f, true};
    const TextExtent name{1.0f, -23.0f, 61.0f, 0.0f, 64.0f, true};
    const struct {
        TextExtent unit;
        float scale;
    } cases[] = {{letter, 2.5f}, {name, 130.0f / 60.0f}};
    for (const auto& c : cases) {
        const LabelPlacement at = placeLabel(c.unit, 500.0f, 300.0f, 1080, 2.5f, 130.0f, 100.0f);
        EXPECT_FLOAT_EQ(at.scale, c.scale);
        // Drawn at pen + box × scale: the box's middle on the circle, y flipped to the top-left space.
        EXPECT_FLOAT_EQ(at.penX + (c.unit.left + c.unit.right) * 0.5f * at.scale, 500.0f);
        EXPECT_FLOAT_EQ(at.penY + (c.unit.top + c.unit.bottom) * 0.5f * at.scale, 780.0f);
    }
}

TEST(HitBursts, AHitCircleOrACompletedHoldLeavesOneBurstWhereItWasDrawn) {
    GameState game;
    game.circles = {circleAt(300, 400, 2.0, 3), circleAt(700, 100, 2.0, 1, kHoldChannel, 1.0f)};
    game.circles[0].targetRadius = 90.0f;
    CircleEffects effects;
    trackHitBursts(effects, game, 1.0f);
    EXPECT_EQ(effects.burstCount, 0);

    // Both are judged and retired: the tap was hit, the hold let go too early (a miss).
    for (Circle& circle : game.circles) {
        circle.hit = true;
        circle.x = circle.y = kOffScreen;
    }
    trackHitBursts(effects, game, 1.1f);
    ASSERT_EQ(effects.burstCount, 1) << "a failed hold gives no burst";
    const HitBurst& burst = effects.bursts[0];
    EXPECT_EQ((std::vector<float>{burst.x, burst.y, burst.radius}),
              (std::vector<float>{300.0f, 400.0f, 90.0f}));
    EXPECT_EQ(burst.stemIndex, 3);

    trackHitBursts(effects, game, 1.2f); // still in the list, off screen: no second burst
    EXPECT_EQ(effects.burstCount, 1);
    trackHitBursts(effects, game, 1.1f + kHitBurstLife);
    EXPECT_EQ(effects.burstCount, 0);

    // A completed hold bursts, and a full list drops its oldest burst.
    CircleEffects full;
    for (int i = 0; i < kMaxHitBursts + 1; ++i) {
        GameState one;
        one.circles = {circleAt(static_cast<float>(i), 0, 1.0 + i, 0, kHoldChannel, 1.0f)};
        const float now = 0.001f * static_cast<float>(i);
        trackHitBursts(full, one, now);
        one.circles[0].holdComplete = true;
        one.circles[0].x = one.circles[0].y = kOffScreen;
        trackHitBursts(full, one, now);
    }
    ASSERT_EQ(full.burstCount, kMaxHitBursts);
    for (int i = 0; i < kMaxHitBursts; ++i) {
        EXPECT_NE(full.bursts[i].x, 0.0f) << "the oldest burst made room";
    }
}

} // namespace

namespace {

// The tutorial's band: a circle anywhere in the window keeps its relative place within the band's
// centre range, its radius scaled; off, nothing moves.
TEST(CircleArea, MapsTheWindowIntoTheBandAndScalesTheRadius) {
    CircleArea area;
    float x = 960.0f, y = 540.0f, r = 100.0f;
    mapToCircleArea(area, 1920, 1080, x, y, r);
    EXPECT_EQ(std::vector<float>({x, y, r}), std::vector<float>({960.0f, 540.0f, 100.0f}));
    area = CircleArea{true, 100.0f, 200.0f, 1100.0f, 400.0f, 0.5f};
    const struct {
        float x, y, mappedX, mappedY;
    } cases[] = {
        {0.0f, 0.0f, 100.0f, 200.0f},
        {1920.0f, 1080.0f, 1100.0f, 400.0f},
        {960.0f, 270.0f, 600.0f, 250.0f},
        {-50.0f, 2000.0f, 100.0f, 400.0f}, // held to the band
    };
    for (const auto& c : cases) {
        float cx = c.x, cy = c.y, radius = 100.0f;
        mapToCircleArea(area, 1920, 1080, cx, cy, radius);
        EXPECT_FLOAT_EQ(cx, c.mappedX) << c.x << "," << c.y;
        EXPECT_FLOAT_EQ(cy, c.mappedY) << c.x << "," << c.y;
        EXPECT_FLOAT_EQ(radius, 50.0f);
    }
}

} // namespace
