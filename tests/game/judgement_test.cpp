// Hit judgement: grades and points, the pointer search, hold presses and releases, and how keys,
// fingers and the mouse share the frame's input.
#include "app/input.hpp"
#include "game/judgement.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

using namespace gametest;

namespace {

constexpr int kHeight = 1080;

Circle circleAt(float x, float y, double time, int note = 40, int channel = 0, float holdDuration = 0.2f) {
    Circle circle;
    circle.x = x;
    circle.y = y;
    circle.time = time;
    circle.note = note;
    circle.channel = channel;
    circle.holdDuration = holdDuration;
    return circle;
}

InputState fingerDown(std::uint64_t id, float x, float yUp) {
    InputState input;
    input.touches[id] = TouchPoint{true, true, false, x, kHeight - yUp};
    return input;
}

InputState fingerUp(std::uint64_t id) {
    InputState input;
    input.touches[id] = TouchPoint{false, false, true, 0.0f, 0.0f};
    return input;
}

InputState mouseClick(float x, float yUp) {
    InputState input;
    input.mousePressed = true;
    input.mouseX = x;
    input.mouseY = kHeight - yUp;
    return input;
}

InputState keyPress(std::uint32_t key) {
    InputState input;
    input.keysPressed.insert(key);
    return input;
}

InputState keyRelease(std::uint32_t key) {
    InputState input;
    input.keysReleased.insert(key);
    return input;
}

struct JudgeFixture : ::testing::Test {
    GameState game = playingGame();

    // A press at song time `now` on a lone tap circle of key number 40 due at 10 s; the score.
    int tapScoreAt(double now) {
        game.circles = {circleAt(300, 300, 10.0)};
        game.score = 0;
        game.songTime = now;
        handleGameplayInput(game, mouseClick(300, 300), kHeight);
        return game.score;
    }
};

} // namespace

TEST(Grading, AccuracyTiersAndPressPoints) {
    EXPECT_EQ(judgementFor(1.0), Judgement::PERFECT);
    EXPECT_EQ(judgementFor(0.9), Judgement::PERFECT);
    EXPECT_EQ(judgementFor(0.85), Judgement::GREAT);
    EXPECT_EQ(judgementFor(0.75), Judgement::GREAT);
    EXPECT_EQ(judgementFor(0.7), Judgement::GOOD);
    EXPECT_EQ(judgementFor(0.49), Judgement::OK);
    EXPECT_EQ(pressPoints(1.0, 40), 450);
    EXPECT_EQ(pressPoints(0.95, 40), 300);
    EXPECT_EQ(pressPoints(0.85, 40), 200);
    EXPECT_EQ(pressPoints(0.7, 40), 100);
    EXPECT_EQ(pressPoints(0.3, 40), 50);
    EXPECT_EQ(notePoints(47), 50);
    EXPECT_EQ(notePoints(48), 30);
    EXPECT_EQ(notePoints(59), 30);
    EXPECT_EQ(notePoints(60), 20);
    EXPECT_EQ(notePoints(72), 20);
    EXPECT_EQ(notePoints(73), 10);
    Circle circle = circleAt(0, 0, 5.0);
    EXPECT_DOUBLE_EQ(accuracyAt(circle, 5.0), 1.0);
    EXPECT_DOUBLE_EQ(accuracyAt(circle, 7.0), 0.0);
}

TEST_F(JudgeFixture, TapPointsFollowTheTiming) {
    EXPECT_EQ(tapScoreAt(10.0), 450);
    EXPECT_EQ(tapScoreAt(9.95), 300);
    EXPECT_EQ(tapScoreAt(10.15), 200);
}

TEST_F(JudgeFixture, TapPressRetiresTheCircleAndCountsASuccess) {
    game.circles = {circleAt(300, 300, 10.0)};
    game.songTime = 10.0;
    testing::internal::CaptureStdout();
    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "High score updated: 450\nScore added: 450 (Total: 450)\n");
    const Circle& circle = game.circles[0];
    EXPECT_TRUE(circle.hit);
    EXPECT_FLOAT_EQ(circle.radius, 0.0f);
    EXPECT_FLOAT_EQ(circle.x, 1000000.0f);
    EXPECT_FLOAT_EQ(circle.y, 1000000.0f);
    EXPECT_EQ(game.combo, 1);
    EXPECT_TRUE(game.pointerHolds.empty()) << "taps hold nothing";

    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_EQ(game.score, 450) << "a judged circle is not offered again";
}

TEST_F(JudgeFixture, EarlyPressesAreRefused) {
    game.circles = {circleAt(300, 300, 10.0)};
    game.songTime = 9.85;
    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_FALSE(game.circles[0].hit);
    game.songTime = 9.91;
    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_TRUE(game.circles[0].hit);
}

TEST_F(JudgeFixture, PointerReachesTargetRadiusPlusTwoPixels) {
    game.circles = {circleAt(300, 300, 10.0)};
    game.circles[0].radius = 30.0f; // still small: the full target area counts anyway
    game.songTime = 10.0;
    EXPECT_EQ(findCircleAt(game, 401, 300), 0);
    EXPECT_EQ(findCircleAt(game, 300, 198), 0);
    EXPECT_EQ(findCircleAt(game, 403, 300), -1);
    game.circles[0].holders.insert(1);
    EXPECT_EQ(findCircleAt(game, 300, 300), -1) << "held circles are not offered";
}

TEST_F(JudgeFixture, NearestCircleWinsAndTheOlderOnATie) {
    game.circles = {circleAt(300, 300, 10.0), circleAt(360, 300, 10.0), circleAt(240, 300, 10.0)};
    game.songTime = 10.0;
    EXPECT_EQ(findCircleAt(game, 340, 300), 1);
    EXPECT_EQ(findCircleAt(game, 270, 300), 0) << "30 px from both 0 and 2: the older";
    game.circles[0].hit = true;
    EXPECT_EQ(findCircleAt(game, 270, 300), 2);
}

TEST_F(JudgeFixture, FingerHoldPressIsGradedWithinFourTenths) {
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.3;
    handleGameplayInput(game, fingerDown(5, 300, 300), kHeight);
    EXPECT_EQ(game.score, 100) << "a = 0.7: GOOD, 2 x 50 x 1";
    EXPECT_EQ(game.combo, 1);
    EXPECT_TRUE(game.circles[0].hit);
    EXPECT_EQ(game.circles[0].holders.count(5), 1u);
    EXPECT_EQ(game.pointerHolds.at(5), 0);
}

TEST_F(JudgeFixture, LateMouseHoldPressBreaksTheRunWithoutAMiss) {
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.combo = 4;
    game.comboAtLayerCheck = 2;
    game.songTime = 10.3;
    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_EQ(game.score, 0);
    EXPECT_EQ(game.combo, 0);
    EXPECT_EQ(game.comboAtLayerCheck, 0);
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_TRUE(game.circles[0].hit);
    EXPECT_EQ(game.pointerHolds.at(kMouseInputId), 0) << "the hold still runs";
}

TEST_F(JudgeFixture, FingerReleaseWithinToleranceCompletesTheHold) {
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.0;
    handleGameplayInput(game, fingerDown(5, 300, 300), kHeight);
    ASSERT_EQ(game.score, 450);
    game.songTime = 10.75;
    testing::internal::CaptureStderr();
    handleGameplayInput(game, fingerUp(5), kHeight);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Touch released on hold note\nNot held successfully\nGood hold (with tolerance)\n");
    const Circle& circle = game.circles[0];
    EXPECT_TRUE(circle.holdComplete);
    EXPECT_FLOAT_EQ(circle.radius, 0.0f);
    EXPECT_FLOAT_EQ(circle.x, 1000000.0f);
    EXPECT_EQ(game.score, 550);
    EXPECT_EQ(game.combo, 2);
    EXPECT_TRUE(game.pointerHolds.empty());
    EXPECT_TRUE(circle.holders.empty());
}

TEST_F(JudgeFixture, FingerReleaseTooEarlyIsAMiss) {
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.0;
    handleGameplayInput(game, fingerDown(5, 300, 300), kHeight);
    game.songTime = 10.5;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    handleGameplayInput(game, fingerUp(5), kHeight);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Touch released on hold note\nNot held successfully\nNot held long enough\n");
    EXPECT_EQ(out, "Miss registered (1/3)\n");
    EXPECT_EQ(game.score, 450);
    EXPECT_EQ(game.combo, 0);
    EXPECT_FALSE(game.circles[0].holdComplete);
    EXPECT_FLOAT_EQ(game.circles[0].radius, 0.0f);
}

TEST_F(JudgeFixture, KeyAndMouseReleasesScoreTheSameSilently) {
    for (bool useKey : {false, true}) {
        for (double releaseAt : {10.75, 10.5}) {
            GameState fresh = playingGame();
            fresh.keyboardGameplay = true;
            fresh.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
            fresh.circles[0].key = 'd';
            fresh.songTime = 10.0;
            handleGameplayInput(fresh, useKey ? keyPress('d') : mouseClick(300, 300), kHeight);
            fresh.songTime = releaseAt;
            InputState up;
            if (useKey) {
                up = keyRelease('d');
            } else {
                up.mouseReleased = true;
            }
            testing::internal::CaptureStderr();
            handleGameplayInput(fresh, up, kHeight);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
            EXPECT_EQ(fresh.score, releaseAt == 10.75 ? 550 : 450) << useKey << " " << releaseAt;
            EXPECT_EQ(fresh.missStreak, releaseAt == 10.75 ? 0u : 1u);
            EXPECT_TRUE(fresh.keyHolds.empty() && fresh.pointerHolds.empty());
        }
    }
}

TEST_F(JudgeFixture, ReleaseAfterCreditedHoldOnlyRetiresIt) {
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.0;
    handleGameplayInput(game, fingerDown(5, 300, 300), kHeight);
    game.circles[0].holdComplete = true; // credited while held
    const int score = game.score;
    game.songTime = 11.2;
    testing::internal::CaptureStderr();
    handleGameplayInput(game, fingerUp(5), kHeight);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Touch released on hold note\n");
    EXPECT_EQ(game.score, score);
    EXPECT_FLOAT_EQ(game.circles[0].radius, 0.0f);
}

TEST_F(JudgeFixture, KeyHoldingAHoldCannotJudgeAnotherCircle) {
    game.keyboardGameplay = true;
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f), circleAt(800, 300, 10.2)};
    game.circles[0].key = 'd';
    game.circles[1].key = 'd';
    game.songTime = 10.0;
    handleGameplayInput(game, keyPress('d'), kHeight);
    EXPECT_EQ(game.keyHolds.at('d'), 0);
    game.songTime = 10.2;
    handleGameplayInput(game, keyPress('d'), kHeight); // a second key-down while held
    EXPECT_FALSE(game.circles[1].hit);
    handleGameplayInput(game, keyRelease('d'), kHeight);
    handleGameplayInput(game, keyPress('d'), kHeight);
    EXPECT_TRUE(game.circles[1].hit);
}

TEST_F(JudgeFixture, KeysOnlyCountInKeyboardGameplayAndPickTheFirstMatchingCircle) {
    game.circles = {circleAt(300, 300, 10.05), circleAt(800, 300, 10.0)};
    game.circles[0].key = 'f';
    game.circles[1].key = 'f';
    game.songTime = 10.0;
    handleGameplayInput(game, keyPress('f'), kHeight);
    EXPECT_FALSE(game.circles[0].hit || game.circles[1].hit);
    game.keyboardGameplay = true;
    handleGameplayInput(game, keyPress('f'), kHeight);
    EXPECT_TRUE(game.circles[0].hit) << "list order, not timing, picks the circle";
    EXPECT_FALSE(game.circles[1].hit);
    game.circles.push_back(circleAt(100, 100, 10.0)); // key 0: spawned without keyboard gameplay
    handleGameplayInput(game, keyPress(0), kHeight);
    EXPECT_FALSE(game.circles[2].hit) << "SDL's unknown key hits nothing";
}

TEST_F(JudgeFixture, MouseIsIgnoredWhileAFingerIsTracked) {
    game.circles = {circleAt(300, 300, 10.0)};
    game.songTime = 10.0;
    InputState input = mouseClick(300, 300);
    input.touches[9] = TouchPoint{true, false, false, 1500, 100}; // resting elsewhere
    handleGameplayInput(game, input, kHeight);
    EXPECT_FALSE(game.circles[0].hit);
}

// Inputs are judged at their SDL timestamps, on the clock's last reading carried forward at the
// rate of the wall clock, not at the frame that handles them.
constexpr std::uint64_t kClockNs = 7'000'000'000ull; // the SDL tick of the clock's reading
std::uint64_t stampAt(double songTime) {
    return kClockNs + static_cast<std::uint64_t>((songTime - 10.0) * 1e9 + 0.5);
}

TEST_F(JudgeFixture, PressesInOneFrameAreGradedAtTheirOwnTimes) {
    game.circles = {circleAt(300, 300, 10.0, 60), circleAt(900, 300, 10.0, 60)};
    game.songTime = 10.0; // read at kClockNs; the frame handles both presses 50 ms later
    game.songTimeNs = kClockNs;
    InputState input;
    input.touches[1] = TouchPoint{true, true, false, 300, kHeight - 300.0f, stampAt(10.0)};
    input.touches[2] = TouchPoint{true, true, false, 900, kHeight - 300.0f, stampAt(10.03)};
    testing::internal::CaptureStdout();
    handleGameplayInput(game, input, kHeight);
    testing::internal::GetCapturedStdout();
    // 20 points a note: exact press 3 x 20 x 3; 30 ms late, accuracy 0.97: 2 x 20 x 3.
    EXPECT_EQ(game.score, 180 + 120);
    ASSERT_EQ(game.pressOffsetsMs.size(), 2u);
    EXPECT_NEAR(game.pressOffsetsMs[0], 0.0f, 1e-3f);
    EXPECT_NEAR(game.pressOffsetsMs[1], 30.0f, 1e-3f);
}

TEST_F(JudgeFixture, AReleaseEndsTheHoldAtItsOwnTime) {
    testing::internal::CaptureStderr();
    // Down and up within one frame: the release is not lost, so the hold does not run on.
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.0;
    game.songTimeNs = kClockNs;
    InputState input;
    input.touches[4] = TouchPoint{false, true, true, 300, kHeight - 300.0f, stampAt(10.0), stampAt(10.05)};
    handleGameplayInput(game, input, kHeight);
    EXPECT_TRUE(game.pointerHolds.empty());
    EXPECT_EQ(game.missStreak, 1u) << "a 1 s hold let go after 50 ms";

    // Let go on time, handled by a frame 0.5 s late (past the 0.3 s overrun): still complete.
    game = playingGame();
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.0;
    game.songTimeNs = kClockNs;
    handleGameplayInput(game, fingerDown(4, 300, 300), kHeight);
    game.songTime = 11.5;
    game.songTimeNs = stampAt(11.5);
    InputState up = fingerUp(4);
    up.touches[4].releaseNs = stampAt(11.0);
    handleGameplayInput(game, up, kHeight);
    EXPECT_TRUE(game.circles[0].holdComplete);
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_EQ(game.combo, 2) << "the press and the completed hold";
    testing::internal::GetCapturedStderr();
}

TEST_F(JudgeFixture, APressAfterTheCircleIsOverFindsNothing) {
    // The frame has not removed the tap yet, but the press came after its 0.2 s of grace.
    game.circles = {circleAt(300, 300, 10.0)};
    game.songTime = 10.0;
    game.songTimeNs = kClockNs;
    InputState input = fingerDown(1, 300, 300);
    input.touches[1].pressNs = stampAt(10.25);
    handleGameplayInput(game, input, kHeight);
    EXPECT_FALSE(game.circles[0].hit);
    input.touches[1].pressNs = stampAt(10.15);
    handleGameplayInput(game, input, kHeight);
    EXPECT_TRUE(game.circles[0].hit);
}

TEST_F(JudgeFixture, NothingIsJudgedWhenNoRoundIsPlaying) {
    game.playing = false;
    game.circles = {circleAt(300, 300, 10.0)};
    game.songTime = 10.0;
    handleGameplayInput(game, mouseClick(300, 300), kHeight);
    EXPECT_FALSE(game.circles[0].hit);
}

TEST_F(JudgeFixture, OutOfRangeIndexOnlyDropsTheFingersHold) {
    game.pointerHolds[3] = 7;
    judgeInput(game, 7, true, 3, false);
    EXPECT_TRUE(game.pointerHolds.empty());
    game.circles = {circleAt(300, 300, 10.0, 40, 1, 1.0f)};
    game.songTime = 10.6;
    judgeInput(game, 0, false, 'x', false); // a release from an input that never pressed it
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_FALSE(game.circles[0].holdComplete);
}
