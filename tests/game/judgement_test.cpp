// Hit judgement: grades, the pointer search, holds, each input judged at its event's moment.
#include "app/input.hpp"
#include "game/judgement.hpp"
#include "game_test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace gametest;

namespace {

constexpr int kHeight = 1080;
constexpr std::uint64_t kClockNs = 7'000'000'000ull; // the SDL tick at which the clock read 10 s
constexpr std::uint64_t kFinger = 5;
constexpr std::uint32_t kKey = cellOf(2, 1); // the cell of 'd' on the default grid
constexpr std::uint32_t kButton = 3;

// The SDL timestamp of song time `songTime`.
std::uint64_t stampAt(double songTime) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(kClockNs) +
                                      std::llround((songTime - 10.0) * 1e9));
}

enum class Via { Finger, Mouse, Key, Pad };
const char* nameOf(Via via) {
    return via == Via::Finger ? "finger" : via == Via::Mouse ? "mouse" : via == Via::Key ? "key" : "pad";
}
InputDevice deviceOf(Via via) {
    return via == Via::Finger  ? InputDevice::Finger
           : via == Via::Mouse ? InputDevice::Mouse
           : via == Via::Key   ? InputDevice::Key
                               : InputDevice::Gamepad;
}

// A press or a release by `via` at song time `at`: a pointer on (x, y) (y upward), the key of
// cell kKey, or gamepad button kButton.
InputState inputAt(Via via, bool press, double at, float x = 300, float y = 300) {
    InputState input;
    const InputKind kind = press ? InputKind::Press : InputKind::Release;
    if (via == Via::Finger) {
        input.touches[kFinger] = TouchPoint{press, press, !press, x, kHeight - y};
        input.actions.push_back({kind, InputDevice::Finger, kFinger, 0, x, kHeight - y, stampAt(at)});
    } else if (via == Via::Mouse) {
        input.actions.push_back({kind, InputDevice::Mouse, 0, 0, x, kHeight - y, stampAt(at)});
    } else {
        input.actions.push_back(
            {kind, deviceOf(via), 0, via == Via::Key ? kKey : kButton, 0, 0, stampAt(at)});
    }
    return input;
}
InputState pressAt(Via via, double at) { return inputAt(via, true, at); }
InputState releaseAt(Via via, double at) { return inputAt(via, false, at); }

// Circles on (300, 300) that the key of cell kKey and button kButton hit.
Circle withButton(Circle circle) {
    circle.padButton = kButton;
    return circle;
}
Circle tap(double time = 10.0) { return withButton(tapAt(300, 300, time, 40, kKey)); }
Circle hold(double time = 10.0) { return withButton(holdAt(300, 300, time, 1.0f, 40, kKey)); }
InputRef idOf(Via via) {
    const std::uint64_t id = via == Via::Key      ? kKey
                             : via == Via::Pad    ? kButton
                             : via == Via::Finger ? kFinger
                                                  : kMouseInputId;
    return InputRef{deviceOf(via), id};
}

// A round in keyboard gameplay whose clock last read 10 s; every input carries its own timestamp.
struct Judge : ::testing::Test {
    GameState game = fresh();
    static GameState fresh() {
        GameState game = playingGame();
        game.keyboardGameplay = true;
        game.songTime = 10.0;
        game.songTimeNs = kClockNs;
        return game;
    }
    // The input joins the round, which is applied up to the last of its events.
    void frame(const InputState& input) {
        const std::vector<RoundEvent> events = gameplayInputEvents(game, input, kHeight);
        double until = game.progress.applied;
        for (const RoundEvent& event : events) {
            until = std::max(until, static_cast<double>(event.songTimeUs) / 1e6);
        }
        until = std::nextafter(until, 1e300); // the last event's own instant too
        queueRoundInputs(game, events, until);
        advanceRound(game, until, LayerRequests{});
    }
};

} // namespace

TEST(Grading, TheTierTheTimingAndTheNoteMakeThePoints) {
    const struct {
        double accuracy;
        Judgement judgement;
        int points; // on a note worth 50
    } tiers[] = {
        {1.0, Judgement::PERFECT, 450}, {0.95, Judgement::PERFECT, 300}, {0.9, Judgement::PERFECT, 300},
        {0.85, Judgement::GREAT, 200},  {0.75, Judgement::GREAT, 200},   {0.7, Judgement::GOOD, 100},
        {0.5, Judgement::GOOD, 100},    {0.49, Judgement::OK, 50},       {0.3, Judgement::OK, 50}};
    for (const auto& c : tiers) {
        SCOPED_TRACE(c.accuracy);
        EXPECT_EQ(judgementFor(c.accuracy), c.judgement);
        EXPECT_EQ(pressPoints(c.accuracy, 40), c.points);
    }
    const int notes[][2] = {{0, 50}, {47, 50}, {48, 30}, {59, 30}, {60, 20}, {72, 20}, {73, 10}, {127, 10}};
    for (const auto& n : notes) {
        EXPECT_EQ(notePoints(n[0]), n[1]) << n[0];
    }
    const double accuracies[][2] = {{5.0, 1.0}, {4.95, 0.95}, {5.15, 0.85}, {7.0, 0.0}, {3.0, 0.0}};
    for (const auto& a : accuracies) {
        EXPECT_NEAR(accuracyAt(tapAt(0, 0, 5.0), a[0]), a[1], 1e-12) << a[0];
    }
}

TEST(Grading, AnInputIsTakenAtItsTimestampOnTheClocksLastReading) {
    GameState game;
    game.songTime = 10.0;
    EXPECT_EQ(inputSongTime(game, stampAt(10.25)), 10.0) << "a clock never read";
    game.songTimeNs = kClockNs;
    EXPECT_EQ(inputSongTime(game, 0), 10.0) << "an input without a timestamp";
    EXPECT_NEAR(inputSongTime(game, stampAt(9.9)), 9.9, 1e-9);
    game.songRate = 2.0;
    EXPECT_NEAR(inputSongTime(game, stampAt(10.25)), 10.5, 1e-9);
}

TEST_F(Judge, ATapIsPressableFromATenthEarlyToTheEndOfItsGraceAndOnlyOnce) {
    // The frame's clock reads 10 s throughout: only the press's own time decides.
    const struct {
        double at;
        int score; // 0: not pressed
    } cases[] = {{9.85, 0}, {9.91, 300}, {10.0, 450}, {10.15, 200}, {10.25, 0}};
    for (Via via : {Via::Mouse, Via::Finger, Via::Key, Via::Pad}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(nameOf(via)) + " at " + std::to_string(c.at));
            game = fresh();
            game.circles = {tap()};
            stdoutOf([&] { frame(pressAt(via, c.at)); });
            const Circle& circle = game.circles[0];
            EXPECT_EQ(game.score, c.score);
            EXPECT_EQ(circle.hit, c.score > 0);
            if (c.score > 0) {
                EXPECT_TRUE(circle.radius == 0.0f && circle.x == kOffScreen && circle.y == kOffScreen);
                EXPECT_EQ(game.combo, 1);
                ASSERT_EQ(game.pressOffsetsMs.size(), 1u);
                EXPECT_NEAR(game.pressOffsetsMs[0], (c.at - 10.0) * 1000.0, 1e-3);
                EXPECT_TRUE(game.holds.empty()) << "taps hold nothing";
                stdoutOf([&] { frame(pressAt(via, 10.0)); });
                EXPECT_EQ(game.score, c.score) << "a judged circle is not offered again";
            }
        }
    }
}

TEST_F(Judge, APointerFindsTheNearestCircleWithinReachTheOlderOnATie) {
    game.circles = {tap()};
    game.circles[0].radius = 30.0f; // still small: the full target area counts anyway
    EXPECT_EQ(findCircleAt(game, 401, 300), 0);
    EXPECT_EQ(findCircleAt(game, 300, 198), 0);
    EXPECT_EQ(findCircleAt(game, 403, 300), -1);
    game.circles[0].holders.insert({InputDevice::Finger, 1});
    EXPECT_EQ(findCircleAt(game, 300, 300), -1) << "held circles are not offered";

    game.circles = {tapAt(300, 300, 10.0), tapAt(360, 300, 10.0), tapAt(240, 300, 10.0)};
    EXPECT_EQ(findCircleAt(game, 340, 300), 1);
    EXPECT_EQ(findCircleAt(game, 270, 300), 0) << "30 px from both 0 and 2: the older";
    game.circles[0].hit = true;
    EXPECT_EQ(findCircleAt(game, 270, 300), 2);
}

TEST_F(Judge, AHoldPressInsideItsWindowScoresAndOtherwiseBreaksTheRun) {
    // Fingers have 0.4 s either side of the note, the mouse, keys and buttons 0.1 s; the hold runs
    // either way.
    const struct {
        Via via;
        double at;
        int score, combo, comboAtLayerCheck;
    } cases[] = {
        {Via::Finger, 10.3, 100, 5, 2}, {Via::Finger, 9.95, 300, 5, 2}, {Via::Finger, 10.45, 0, 0, 0},
        {Via::Mouse, 10.05, 300, 5, 2}, {Via::Mouse, 10.3, 0, 0, 0},    {Via::Key, 9.95, 300, 5, 2},
        {Via::Key, 10.3, 0, 0, 0},      {Via::Pad, 9.95, 300, 5, 2},    {Via::Pad, 10.3, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(nameOf(c.via)) + " at " + std::to_string(c.at));
        game = fresh();
        game.circles = {hold()};
        game.combo = 4;
        game.comboAtLayerCheck = 2;
        stdoutOf([&] { frame(pressAt(c.via, c.at)); });
        EXPECT_EQ(game.score, c.score);
        EXPECT_EQ(game.combo, c.combo);
        EXPECT_EQ(game.comboAtLayerCheck, c.comboAtLayerCheck);
        EXPECT_EQ(game.missStreak, 0u) << "a press off its window is no miss";
        EXPECT_TRUE(game.circles[0].hit);
        EXPECT_EQ(game.circles[0].holders, std::set<InputRef>{idOf(c.via)});
        EXPECT_EQ(game.holds, (std::map<InputRef, std::int32_t>{{idOf(c.via), 0}}));
        EXPECT_DOUBLE_EQ(game.circles[0].holdFrom, std::max(c.at, 10.0)) << "from the press, or the note";
        judgeInput(game, 0, {InputDevice::Finger, 99}, true, c.at);
        EXPECT_EQ(game.circles[0].holders.size(), 1u) << "no finger joins a hold already held";
    }
}

TEST_F(Judge, AHoldLetGoWithinThreeTenthsOfItsLengthIsCredited) {
    const struct {
        const char* what;
        double releaseAt;
        bool creditedBefore; // by the frame, while held
        int score, combo;
        unsigned misses;
    } cases[] = {{"in time", 10.75, false, 560, 2, 0}, // 100 x 1.1: the press's combo counts
                 {"too early", 10.5, false, 450, 0, 1},
                 {"after its credit", 11.2, true, 450, 1, 0}};
    for (Via via : {Via::Finger, Via::Mouse, Via::Key, Via::Pad}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(nameOf(via)) + " " + c.what);
            game = fresh();
            game.circles = {hold()};
            stdoutOf([&] { frame(pressAt(via, 10.0)); });
            ASSERT_EQ(game.score, 450);
            game.circles[0].holdComplete = c.creditedBefore;
            std::string err;
            stdoutOf([&] { err = stderrOf([&] { frame(releaseAt(via, c.releaseAt)); }); });
            EXPECT_EQ(err.empty(), via != Via::Finger) << "only fingers explain: " << err;
            const Circle& circle = game.circles[0];
            EXPECT_EQ(circle.holdComplete, c.misses == 0);
            EXPECT_EQ(game.score, c.score);
            EXPECT_EQ(game.combo, c.combo);
            EXPECT_EQ(game.missStreak, c.misses);
            EXPECT_TRUE(circle.radius == 0.0f && circle.x == kOffScreen) << "retired";
            EXPECT_TRUE(game.holds.empty() && circle.holders.empty());
        }
    }
}

TEST_F(Judge, AKeyHoldingAHoldCannotJudgeAnotherCircle) {
    game.circles = {hold(), tap(10.2)};
    stdoutOf([&] {
        frame(pressAt(Via::Key, 10.0));
        frame(pressAt(Via::Key, 10.2)); // a second key-down while held
        judgeInput(game, 1, {InputDevice::Key, kKey}, true, 10.2);
        EXPECT_FALSE(game.circles[1].hit);
        frame(releaseAt(Via::Key, 10.2));
        frame(pressAt(Via::Key, 10.21));
    });
    EXPECT_TRUE(game.circles[1].hit);
}

TEST_F(Judge, AKeyOrButtonPicksTheFirstMatchingCircleNotTheNearestInTime) {
    for (Via via : {Via::Key, Via::Pad}) {
        game = fresh();
        game.circles = {tap(10.05), tap(10.0)};
        stdoutOf([&] { frame(pressAt(via, 10.0)); });
        EXPECT_TRUE(game.circles[0].hit) << nameOf(via);
        EXPECT_FALSE(game.circles[1].hit) << nameOf(via);
    }
}

TEST_F(Judge, AFingerWhoseIdIsAKeysCellIsAnotherInput) {
    // The key of cell kKey holds the hold; a release of finger kKey on it lets nothing go.
    game.circles = {hold()};
    stdoutOf([&] { frame(pressAt(Via::Key, 10.0)); });
    stderrOf([&] { judgeInput(game, 0, {InputDevice::Finger, kKey}, false, 10.3); });
    EXPECT_EQ(game.circles[0].holders, std::set<InputRef>{idOf(Via::Key)});
    EXPECT_EQ(game.missStreak, 0u);
    stdoutOf([&] { frame(releaseAt(Via::Key, 11.0)); });
    EXPECT_TRUE(game.circles[0].holdComplete);
}

TEST_F(Judge, SomeInputsJudgeNothing) {
    game.circles = {tap()};
    const auto judges = [&](const InputState& input) {
        frame(input);
        return game.circles[0].hit;
    };
    InputState mouse = pressAt(Via::Mouse, 10.0);
    mouse.touches[9] = TouchPoint{true, false, false, 1500, 100}; // a finger resting elsewhere
    EXPECT_FALSE(judges(mouse)) << "touches also arrive as mouse events";
    game.keyboardGameplay = false;
    EXPECT_FALSE(judges(pressAt(Via::Key, 10.0))) << "keys outside keyboard gameplay";
    game.keyboardGameplay = true;
    game.playing = false;
    EXPECT_FALSE(judges(pressAt(Via::Finger, 10.0)) || judges(pressAt(Via::Key, 10.0))) << "no round";
    game.playing = true;
    game.circles[0].cell = kNoCell; // spawned without keyboard gameplay
    game.circles[0].padButton = kNoPadButton;
    InputState unknown;
    unknown.actions = {{InputKind::Press, InputDevice::Key, 0, kNoCell, 0, 0, stampAt(10.0)},
                       {InputKind::Press, InputDevice::Gamepad, 0, static_cast<std::uint32_t>(kNoPadButton),
                        0, 0, stampAt(10.0)}};
    EXPECT_FALSE(judges(unknown)) << "no cell and no button name nothing";
}

TEST_F(Judge, PressesInOneFrameAreGradedAtTheirOwnTimes) {
    game.circles = {tapAt(300, 300, 10.0, 60), tapAt(900, 300, 10.0, 60)};
    InputState input = pressAt(Via::Finger, 10.0);
    input.touches[9] = TouchPoint{true, true, false, 900, kHeight - 300.0f};
    input.actions.push_back(
        {InputKind::Press, InputDevice::Finger, 9, 0, 900, kHeight - 300.0f, stampAt(10.03)});
    stdoutOf([&] { frame(input); });
    // 20 points a note: exact press 3 x 20 x 3; 30 ms late, accuracy 0.97: 2 x 20 x 3, times 1.1 for
    // the combo of the press before it.
    EXPECT_EQ(game.score, 180 + 132);
    ASSERT_EQ(game.pressOffsetsMs.size(), 2u);
    EXPECT_NEAR(game.pressOffsetsMs[0], 0.0f, 1e-3f);
    EXPECT_NEAR(game.pressOffsetsMs[1], 30.0f, 1e-3f);
}

TEST_F(Judge, AReleaseEndsTheHoldAtItsOwnTime) {
    // Down and up within one frame: the release is not lost, so the hold does not run on.
    game.circles = {hold()};
    InputState input = pressAt(Via::Finger, 10.0);
    input.touches[kFinger].released = true;
    input.actions.push_back(
        {InputKind::Release, InputDevice::Finger, kFinger, 0, 300, kHeight - 300.0f, stampAt(10.05)});
    stdoutOf([&] { stderrOf([&] { frame(input); }); });
    EXPECT_TRUE(game.holds.empty());
    EXPECT_EQ(game.missStreak, 1u) << "a 1 s hold let go after 50 ms";

    // Let go on time, handled by a frame 0.5 s late (past the 0.3 s overrun): still complete.
    game = fresh();
    game.circles = {hold()};
    stdoutOf([&] { frame(pressAt(Via::Finger, 10.0)); });
    game.songTime = 11.5;
    game.songTimeNs = stampAt(11.5);
    stdoutOf([&] { stderrOf([&] { frame(releaseAt(Via::Finger, 11.0)); }); });
    EXPECT_TRUE(game.circles[0].holdComplete);
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_EQ(game.combo, 2) << "the press and the completed hold";
}

TEST_F(Judge, OneButtonOnTwoPadsHoldsTwoCircles) {
    game.circles = {hold(), hold()};
    InputState input = pressAt(Via::Pad, 10.0);
    input.actions.push_back(input.actions[0]);
    input.actions[1].id = 2; // the same button on a second pad
    frame(input);
    EXPECT_EQ(game.holds.size(), 2u) << "a pad's held button does not block the other pad's";
    frame(releaseAt(Via::Pad, 10.5));
    ASSERT_EQ(game.holds.size(), 1u) << "letting go on the first pad frees only its circle";
    EXPECT_EQ(game.holds.begin()->first, (InputRef{InputDevice::Gamepad, gamepadInputId(2, kButton)}));
}
