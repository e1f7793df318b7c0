// Circle life: growth, arrival, hold crediting, expiry into misses, removal, and the round's reset.
#include "game/circles.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

// The round applied up to song time `at`, with no input.
void frameAt(GameState& game, double at) { gametest::frameAt(game, InputState{}, at); }

// A hold circle due at 1 s, pressed and still held by finger 7.
Circle heldHold(float duration) {
    Circle circle = holdAt(500, 500, 1.0, duration);
    circle.hit = true;
    circle.holdFrom = 1.0;
    circle.holders.insert({InputDevice::Finger, 7});
    return circle;
}

// A circle judged and let go: a tap hit, or a hold credited.
Circle judged(Circle circle) {
    circle.hit = true;
    circle.holdComplete = circle.channel == kHoldChannel;
    circle.retired = true;
    circle.retiredAt = circle.time;
    return circle;
}

} // namespace

TEST(CircleLife, ACircleGrowsToItsTargetAndArrivesAtItsTime) {
    GameState game = playingGame();
    game.circles = {tapAt(500, 500, 1.0)};
    const double radii[][2] = {
        {0.5, 60.0}, {-0.5, 20.0}, {0.99, 99.2}, {1.15, 100.0}}; // from 20 px 1 s ahead
    for (const auto& r : radii) {
        frameAt(game, r[0]);
        EXPECT_NEAR(game.circles[0].radius, r[1], 1e-3) << r[0];
    }
    EXPECT_TRUE(game.circles[0].arrived) << "first seen 0.15 s late, it arrived at its time all the same";
    game.circles = {tapAt(500, 500, 1.0), tapAt(500, 500, 1.1)};
    frameAt(game, 1.0);
    frameAt(game, 1.19);
    EXPECT_TRUE(game.circles[0].arrived && game.circles[1].arrived);
}

TEST(CircleLife, ACircleLeavesWhenItsTimeIsOver) {
    const struct {
        const char* what;
        Circle circle;
        double firstAt, staysAt, goneAt;
        unsigned misses;
    } cases[] = {
        {"an unanswered tap: after its grace, a miss", tapAt(500, 500, 1.0), 1.0, 1.2, 1.201, 1},
        {"a tap first seen late: it arrived at its time, a miss", tapAt(500, 500, 1.0), 1.15, 1.15, 1.25, 1},
        // Not before the spawn window has passed its note: that would spawn it again.
        {"a hit tap: at once", judged(tapAt(500, 500, 1.0)), 1.0, 1.0005, 1.003, 0},
        {"an unpressed zero-length hold: at once, a miss", holdAt(500, 500, 1.0, 0.0f), 1.0, 1.0005, 1.003,
         1},
        {"an unpressed hold: at its end, a miss", holdAt(500, 500, 1.0, 2.0f), 1.0, 2.99, 3.01, 1},
        {"a short hold held on: at twice its length", heldHold(0.1f), 1.0, 1.19, 1.21, 0},
        {"a hold held on: 0.3 s past its end, a miss", heldHold(1.0f), 1.0, 2.29, 2.31, 1},
        {"a credited hold let go: at once", judged(holdAt(500, 500, 1.0, 1.0f)), 1.0, 1.0, 1.01, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GameState game = playingGame();
        game.circles = {c.circle};
        if (!c.circle.holders.empty()) {
            game.holds[{InputDevice::Finger, 7}] = 0;
        }
        stdoutOf([&] {
            frameAt(game, c.firstAt);
            frameAt(game, c.staysAt);
            EXPECT_EQ(game.circles.size(), 1u);
            frameAt(game, c.goneAt);
        });
        EXPECT_TRUE(game.circles.empty());
        EXPECT_EQ(game.missStreak, c.misses);
        EXPECT_TRUE(game.holds.empty());
    }
}

TEST(CircleLife, AHeldHoldIsCreditedOnTheSongClock) {
    GameState game = playingGame();
    game.circles = {heldHold(1.0f)};
    game.circles[0].holdFrom = 0.0; // pressed early: the hold counts from the note
    frameAt(game, 0.95);
    EXPECT_FLOAT_EQ(game.circles[0].heldTime, 0.0f);
    // Twenty frames a second, each handed the loop's capped frame time of 1/30 s: the hold counts
    // on the song clock, so it completes on time all the same.
    for (int frame = 1; frame <= 20; ++frame) {
        frameAt(game, 0.95 + 0.05 * frame);
    }
    EXPECT_FALSE(game.circles[0].holdComplete);
    stdoutOf([&] { frameAt(game, 2.0); });
    ASSERT_TRUE(game.circles[0].holdComplete);
    EXPECT_EQ(game.score, 100);
    EXPECT_EQ(game.combo, 1);
}

TEST(CircleLife, RemovalRenumbersTheHoldMapAndKeepsAFingerWithAKeysCell) {
    GameState game = playingGame();
    for (int i = 0; i < 6; ++i) {
        game.circles.push_back(holdAt(500, 500, 5.0 + i, 1.0f));
    }
    const auto key = [](std::uint64_t cell) { return InputRef{InputDevice::Key, cell}; };
    const auto finger = [](std::uint64_t id) { return InputRef{InputDevice::Finger, id}; };
    const InputRef mouse{InputDevice::Mouse, kMouseInputId};
    game.circles[2].time = 0.0; // held by the key of cell 1 far too long: it goes
    game.circles[2].holders.insert(key(1));
    game.holds = {{key(1), 2}, {key(0), 5}, {key(12), 1}, {finger(1), 4}, {mouse, 3}, {finger(11), 0}};
    stdoutOf([&] { frameAt(game, 3.0); });
    ASSERT_EQ(game.circles.size(), 5u);
    EXPECT_EQ(game.holds, (std::map<InputRef, std::int32_t>{
                              {key(12), 1}, {key(0), 4}, {finger(11), 0}, {finger(1), 3}, {mouse, 2}}));
    EXPECT_EQ(game.missStreak, 1u) << "held too long";
}

TEST(RoundReset, ClearsTheRoundKeepsTheBestAndAsksForTheNewRoundsBest) {
    GameState game = playingGame();
    game.levelName = "Song";
    game.playerName = "Ann";
    game.highScore = 1234;
    game.totalLayers = 3;
    game.keyboardGameplay = true;
    game.score = game.combo = game.highestCombo = game.comboAtLayerCheck = 4;
    game.activeLayers = game.highestLayer = 3;
    game.multiplier = 2.5f;
    game.missStreak = 2;
    game.circles = {tapAt(500, 500, 1.0)};
    game.holds[{InputDevice::Finger, 1}] = game.holds[{InputDevice::Key, 2}] = 0;
    std::vector<std::string> asked;
    game.requestHighScore = [&](const std::string& level, const std::string& player, std::uint64_t round) {
        asked.push_back(level + "/" + player + "/" + std::to_string(round));
    };
    const std::uint64_t round = game.round;
    resetRound(game);
    EXPECT_TRUE(game.score == 0 && game.combo == 0 && game.highestCombo == 0 && game.comboAtLayerCheck == 0);
    EXPECT_TRUE(game.activeLayers == 1 && game.highestLayer == 1 && game.missStreak == 0u && !game.playing);
    EXPECT_FLOAT_EQ(game.multiplier, 1.0f);
    EXPECT_TRUE(game.circles.empty() && game.holds.empty());
    EXPECT_EQ(game.highScore, 1234) << "kept until the answer arrives";
    EXPECT_TRUE(game.totalLayers == 3 && game.keyboardGameplay);
    EXPECT_EQ(asked, std::vector<std::string>{"Song/Ann/" + std::to_string(round + 1)});

    // Without a level or a player name, or a leaderboard, nothing is asked.
    game.levelName.clear();
    resetRound(game);
    game.levelName = "Song";
    game.playerName.clear();
    resetRound(game);
    EXPECT_EQ(asked.size(), 1u);
    game.requestHighScore = nullptr;
    resetRound(game);
    EXPECT_EQ(game.round, round + 4);
}

// Answers come back late on request threads: only the current round's counts, and never lowers the best.
TEST(RoundReset, OnlyTheCurrentRoundsAnswerCountsAndNeverLowersTheBest) {
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
