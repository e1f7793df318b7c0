// Circle life on the main thread: growth, arrival, hold crediting, expiry into misses, and the
// hold maps following the circle list as circles are removed.
#include "game/circles.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

Circle makeCircle(double time, int channel = 0, float holdDuration = 0.2f) {
    Circle circle;
    circle.time = time;
    circle.channel = channel;
    circle.holdDuration = holdDuration;
    circle.x = 500.0f;
    circle.y = 500.0f;
    return circle;
}

// Runs frames of `dt` until the song clock reaches `until`, returning how many ran.
int runFrames(GameState& game, double until, float dt = 1.0f / 60.0f) {
    int frames = 0;
    while (game.songTime < until) {
        game.songTime += dt;
        updateCircles(game, dt);
        ++frames;
    }
    return frames;
}

} // namespace

TEST(CircleLife, TapCircleGrowsArrivesAndExpiresWithOneMiss) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0));
    game.songTime = 0.5;
    updateCircles(game, 0.0f);
    EXPECT_FLOAT_EQ(game.circles[0].radius, 60.0f) << "halfway through its last second: 20 + 80 x 0.5";
    game.songTime = -0.5;
    updateCircles(game, 0.0f);
    EXPECT_FLOAT_EQ(game.circles[0].radius, 20.0f) << "more than a second ahead stays at 20";

    game.songTime = 0.99;
    updateCircles(game, 0.0f);
    EXPECT_NEAR(game.circles[0].radius, 99.2f, 1e-3);
    EXPECT_FALSE(game.circles[0].arrived);

    game.songTime = 1.0;
    updateCircles(game, 0.0f);
    EXPECT_TRUE(game.circles[0].arrived);

    game.songTime = 1.2;
    updateCircles(game, 0.0f);
    ASSERT_EQ(game.circles.size(), 1u) << "a tap circle stays 0.2 s past its time";
    testing::internal::CaptureStdout();
    game.songTime = 1.201;
    updateCircles(game, 0.0f);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 1u);
    EXPECT_EQ(out, "Miss registered (1/3)\n");
}

TEST(CircleLife, HitTapCircleLeavesWithoutAMiss) {
    GameState game = playingGame();
    Circle circle = makeCircle(1.0);
    circle.arrived = true;
    circle.hit = true;
    circle.radius = 0.0f;
    game.circles.push_back(circle);
    game.songTime = 1.05;
    updateCircles(game, 1.0f / 60.0f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 0u);
}

TEST(CircleLife, CircleStaysUntilTheSpawnWindowHasPassedItsTime) {
    // A circle gone while its note is still inside the spawn window would be spawned again.
    GameState game = playingGame();
    Circle judged = makeCircle(1.0);
    judged.arrived = true;
    judged.hit = true;
    judged.radius = 0.0f;
    game.circles.push_back(judged);
    game.circles.push_back(makeCircle(1.0, 1, 0.0f)); // zero-length hold, never pressed
    game.circles[1].arrived = true;
    game.songTime = 1.0005;
    updateCircles(game, 0.0f);
    EXPECT_EQ(game.circles.size(), 2u);
    game.songTime = 1.003;
    updateCircles(game, 0.0f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 1u) << "only the unpressed hold is a miss";
}

TEST(CircleLife, CircleSpawnedTooLateNeverArrivesAndLeavesWithoutAMiss) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0));
    game.songTime = 1.15;
    updateCircles(game, 0.0f);
    EXPECT_FALSE(game.circles[0].arrived);
    EXPECT_FLOAT_EQ(game.circles[0].radius, 100.0f);
    game.songTime = 1.25;
    updateCircles(game, 0.0f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 0u);
}

TEST(CircleLife, HeldHoldIsCreditedWhenItsTimeIsReachedThenMissedWhenHeldTooLong) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0, 1, 1.0f));
    game.circles[0].hit = true;
    game.circles[0].holders.insert(7);
    game.pointerHolds[7] = 0;
    game.songTime = 0.95;
    updateCircles(game, 0.0f);
    EXPECT_FLOAT_EQ(game.circles[0].heldTime, 0.0f) << "hold time counts from arrival";

    const float dt = 0.05f;
    int frames = 0;
    while (!game.circles[0].holdComplete && frames < 100) {
        game.songTime += dt;
        updateCircles(game, dt);
        ++frames;
    }
    ASSERT_TRUE(game.circles[0].holdComplete);
    EXPECT_GE(game.circles[0].heldTime, 1.0f);
    EXPECT_EQ(game.score, 100);
    EXPECT_EQ(game.combo, 1);

    runFrames(game, 2.29, 0.01f);
    ASSERT_EQ(game.circles.size(), 1u) << "a held circle stays until 0.3 s past its end";
    runFrames(game, 2.32, 0.01f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 1u) << "held too long";
    EXPECT_EQ(game.combo, 0);
    EXPECT_TRUE(game.pointerHolds.empty());
}

TEST(CircleLife, AHoldHeldToItsEndAt20FpsCompletes) {
    // Twenty frames a second, each handed the loop's capped frame time of 1/30 s: the hold counts
    // on the song clock, so it completes on time all the same, and without a miss.
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0, 1, 1.0f));
    game.circles[0].hit = true;
    game.circles[0].holdFrom = 1.0;
    game.circles[0].holders.insert(7);
    game.pointerHolds[7] = 0;
    game.songTime = 0.95;
    while (game.songTime < 2.05) {
        game.songTime += 0.05;
        updateCircles(game, 1.0f / 30.0f);
    }
    ASSERT_FALSE(game.circles.empty());
    EXPECT_TRUE(game.circles[0].holdComplete);
    EXPECT_EQ(game.score, 100);
    EXPECT_EQ(game.missStreak, 0u);
}

TEST(CircleLife, UnpressedHoldExpiresAtItsEndWithOneMiss) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0, 1, 2.0f));
    runFrames(game, 2.99, 0.01f);
    ASSERT_EQ(game.circles.size(), 1u);
    runFrames(game, 3.02, 0.01f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 1u);
}

TEST(CircleLife, ShortHeldHoldEndsAtTwiceItsLength) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(1.0, 1, 0.1f));
    game.circles[0].hit = true;
    game.circles[0].holders.insert(3);
    game.pointerHolds[3] = 0;
    game.songTime = 1.0;
    updateCircles(game, 0.0f); // arrives; no hold time yet
    game.songTime = 1.21;
    updateCircles(game, 0.0f); // past 2 x 0.1 s but not 0.1 + 0.3 s: gone without a miss
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_TRUE(game.pointerHolds.empty());
}

TEST(CircleLife, RetiredHoldLeavesOnceCompleteAndUnheld) {
    GameState game = playingGame();
    Circle circle = makeCircle(1.0, 1, 1.0f);
    circle.arrived = circle.hit = circle.holdComplete = true;
    circle.radius = 0.0f;
    game.circles.push_back(circle);
    game.songTime = 1.5;
    updateCircles(game, 0.01f);
    EXPECT_TRUE(game.circles.empty());
    EXPECT_EQ(game.missStreak, 0u);
}

TEST(CircleLife, RemovalRenumbersBothHoldMaps) {
    GameState game = playingGame();
    for (int i = 0; i < 6; ++i) {
        game.circles.push_back(makeCircle(5.0 + i, 1, 1.0f));
    }
    game.circles[2].time = 0.0; // expired, unanswered, never arrived: no miss
    game.keyHolds['k'] = 2;
    game.keyHolds['a'] = 5;
    game.keyHolds['b'] = 1;
    game.pointerHolds[kMouseInputId] = 4;
    game.pointerHolds[11] = 0;
    game.songTime = 3.0;
    updateCircles(game, 0.0f);
    ASSERT_EQ(game.circles.size(), 5u);
    EXPECT_EQ(game.keyHolds.count('k'), 0u);
    EXPECT_EQ(game.keyHolds.at('a'), 4);
    EXPECT_EQ(game.keyHolds.at('b'), 1);
    EXPECT_EQ(game.pointerHolds.at(kMouseInputId), 3);
    EXPECT_EQ(game.pointerHolds.at(11), 0);
    EXPECT_EQ(game.missStreak, 0u);
}

TEST(CircleLife, RemovalKeepsAFingerWhoseIdEqualsAHeldKeysCode) {
    GameState game = playingGame();
    game.circles.push_back(makeCircle(0.0, 1, 0.5f)); // held by key 'a', about to expire
    game.circles.push_back(makeCircle(5.0, 1, 1.0f)); // held by finger 97
    game.circles[0].holders.insert('a');
    game.keyHolds['a'] = 0;
    game.circles[1].holders.insert(97);
    game.pointerHolds[97] = 1;
    game.songTime = 2.0;
    updateCircles(game, 0.0f);
    ASSERT_EQ(game.circles.size(), 1u);
    EXPECT_TRUE(game.keyHolds.empty());
    ASSERT_EQ(game.pointerHolds.count(97), 1u);
    EXPECT_EQ(game.pointerHolds.at(97), 0);
}

TEST(CircleLife, ResetRoundClearsTheRoundAndAsksForTheHighScore) {
    GameState game = playingGame();
    game.levelName = "Song";
    game.playerName = "Ann";
    game.highScore = 1234;
    game.totalLayers = 3;
    game.score = 500;
    game.combo = game.highestCombo = game.comboAtLayerCheck = 4;
    game.activeLayers = game.highestLayer = 3;
    game.multiplier = 2.5f;
    game.missStreak = 2;
    game.circles.push_back(makeCircle(1.0));
    game.pointerHolds[1] = 0;
    game.keyHolds['q'] = 0;
    std::vector<std::string> asked;
    game.requestHighScore = [&](const std::string& level, const std::string& player, std::uint64_t round) {
        asked.push_back(level + "/" + player + "/" + std::to_string(round));
    };
    const std::uint64_t round = game.round;
    resetRound(game);
    EXPECT_TRUE(game.score == 0 && game.combo == 0 && game.highestCombo == 0 && game.comboAtLayerCheck == 0);
    EXPECT_TRUE(game.activeLayers == 1 && game.highestLayer == 1 && game.missStreak == 0u);
    EXPECT_FLOAT_EQ(game.multiplier, 1.0f);
    EXPECT_FALSE(game.playing);
    EXPECT_TRUE(game.circles.empty() && game.pointerHolds.empty() && game.keyHolds.empty());
    EXPECT_EQ(game.highScore, 1234) << "kept until the answer arrives";
    EXPECT_EQ(game.totalLayers, 3);
    EXPECT_EQ(asked, std::vector<std::string>{"Song/Ann/" + std::to_string(round + 1)});

    // A round without a level name asks for nothing.
    game.levelName.clear();
    resetRound(game);
    EXPECT_EQ(asked.size(), 1u);
    game.levelName = "Song";

    game.requestHighScore = nullptr;
    resetRound(game); // nobody to ask: nothing is requested and nothing is made up
    EXPECT_EQ(game.highScore, 1234);
}

// Answers come back on request threads, possibly late: only the current round's answer counts,
// and it never shows a best below what the round has already scored.
TEST(HighScoreAnswer, OnlyTheCurrentRoundsAnswerCountsAndNeverLowersTheBest) {
    GameState game;
    resetRound(game);
    const std::uint64_t first = game.round;
    resetRound(game);
    game.score = 700;
    game.highScore = 700;
    acceptHighScore(game, first, 5000);
    EXPECT_EQ(game.highScore, 700) << "an answer for the previous round is dropped";
    acceptHighScore(game, game.round, 300);
    EXPECT_EQ(game.highScore, 700) << "a lower stored score does not lower the round's best";
    acceptHighScore(game, game.round, 900);
    EXPECT_EQ(game.highScore, 900);
}
