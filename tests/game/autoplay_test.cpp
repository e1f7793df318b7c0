// The autoplay bot's plan, and the bot playing synthetic charts through the game's rules.
#include "game_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using namespace gametest;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A chart of taps and holds: keys and velocities spread over the screen, repeats on one spot a
// few hundredths apart, a tap landing on a held spot, and holds from zero length to 1.5 s.
std::vector<MidiNoteEvent> mixedChart() {
    std::vector<MidiNoteEvent> notes;
    for (int i = 0; i < 24; ++i) {
        notes.push_back(noteOn(2.0 + 0.25 * i, (i * 37) % 128, 10 + (i * 29) % 117));
    }
    for (double t : {9.0, 9.05, 9.093}) { // one spot, 50 and 43 ms apart
        notes.push_back(noteOn(t, 60, 80));
    }
    const double holds[][4] = {{10.0, 20, 50, 1.0},
                               {12.0, 90, 100, 0.0},
                               {12.5, 100, 30, 0.15},
                               {13.0, 5, 120, 1.5},
                               {13.2, 120, 64, 0.4}}; // time, key, velocity, length
    for (const auto& h : holds) {
        notes.push_back(noteOn(h[0], int(h[1]), int(h[2]), kHoldChannel, h[3]));
    }
    notes.push_back(noteOn(10.4, 20, 50)); // on the held spot
    for (int i = 0; i < 8; ++i) {          // while two holds are held
        notes.push_back(noteOn(13.3 + 0.11 * i, 64 + i, 64));
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
    return notes;
}

} // namespace

TEST(Autoplay, PressesEveryNoteAtItsTimeWhateverTheFrameRate) {
    // Presses are judged at their event timestamps, and holds measured on the song clock, so 20 fps
    // plays as well as 144: every press perfect to the microsecond, every hold completed.
    for (double frameDt : {1.0 / 60.0, 1.0 / 144.0, 1.0 / 20.0, 1.0 / 97.0}) {
        SCOPED_TRACE(frameDt);
        AudioSystem audio;
        audio.playing = true;
        audio.looping = false;
        LoadedStem& stem = addStem(audio, 0.0);
        stem.chart.notes = mixedChart();
        GameState game = playingGame();
        game.totalLayers = 1;
        const std::string log = stdoutOf([&] { stderrOf([&] { playWithBot(audio, game, 17.0, frameDt); }); });
        EXPECT_EQ(log.find("Miss registered"), std::string::npos) << log;
        const auto holds = std::count_if(stem.chart.notes.begin(), stem.chart.notes.end(),
                                         [](const MidiNoteEvent& n) { return n.channel == kHoldChannel; });
        EXPECT_EQ(game.combo, int(stem.chart.notes.size() + holds))
            << "a success per press and per held hold";
        EXPECT_TRUE(game.circles.empty());
        EXPECT_TRUE(game.holds.empty());
        ASSERT_FALSE(game.pressOffsetsMs.empty());
        for (float offset : game.pressOffsetsMs) {
            EXPECT_LT(std::fabs(offset), 0.001f);
        }
    }
}

TEST(Autoplay, PlansOneTouchPerCircleAndLiftsItAfterTheNote) {
    GameState game = playingGame();
    const double tie = 1.5 + 0.5 + kAutoplayHoldRelease; // the tap is pressed as the hold is let go
    Circle judged = tapAt(480, 270, tie);
    judged.hit = true;
    game.circles = {tapAt(480, 270, tie), holdAt(960, 270, 1.5, 0.5f), judged};
    AutoplayPlan plan;
    game.playing = false;
    autoplayPlan(plan, game, kWidth, kHeight);
    EXPECT_TRUE(plan.touches.empty()) << "no round, no presses";

    game.playing = true;
    autoplayPlan(plan, game, kWidth, kHeight);
    autoplayPlan(plan, game, kWidth, kHeight); // planned once only
    ASSERT_EQ(plan.touches.size(), 2u);
    // Steps come in time order, a release before a press at the same moment; a hold is let go
    // after its end.
    const struct {
        AutoplayStep step;
        double at;
        float x, y;
    } expected[] = {{AutoplayStep::Press, 1.5, 0.5f, 0.75f},
                    {AutoplayStep::Release, tie, 0.5f, 0.75f},
                    {AutoplayStep::Press, tie, 0.25f, 0.75f},
                    {AutoplayStep::Release, tie + kAutoplayTapRelease, 0.25f, 0.75f}};
    std::set<std::uint64_t> fingers;
    for (const auto& want : expected) {
        AutoplayAction action;
        ASSERT_TRUE(autoplayNext(plan, &action));
        EXPECT_EQ(action.step, want.step);
        EXPECT_NEAR(action.at, want.at, 1e-9);
        EXPECT_FLOAT_EQ(action.x, want.x);
        EXPECT_FLOAT_EQ(action.y, want.y) << "SDL's y runs downward";
        EXPECT_GE(action.finger, kAutoplayFingerBase);
        fingers.insert(action.finger);
        autoplayDone(plan, action);
    }
    EXPECT_EQ(fingers.size(), 2u);
    AutoplayAction none;
    EXPECT_FALSE(autoplayNext(plan, &none));
    // The frame that judges the presses has not run yet: the circles still look untouched, but
    // they are not pressed twice.
    autoplayPlan(plan, game, kWidth, kHeight);
    EXPECT_FALSE(autoplayNext(plan, &none));
    game.circles.clear();
    autoplayPlan(plan, game, kWidth, kHeight);
    EXPECT_TRUE(plan.touches.empty()) << "forgotten with their circles";
}

TEST(Autoplay, AStopLiftsTheFingersDownAndDropsThePresses) {
    GameState game = playingGame();
    game.circles = {tapAt(0, 0, 1.0), tapAt(300, 0, 3.0)};
    AutoplayPlan plan;
    autoplayPlan(plan, game, kWidth, kHeight);
    AutoplayAction first;
    ASSERT_TRUE(autoplayNext(plan, &first));
    autoplayDone(plan, first);

    game.circles.pop_back(); // a circle that has gone loses its planned press
    autoplayPlan(plan, game, kWidth, kHeight);
    EXPECT_EQ(plan.touches.size(), 1u);

    const std::vector<AutoplayAction> releases = autoplayCancel(plan);
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].step, AutoplayStep::Release);
    EXPECT_EQ(releases[0].finger, first.finger);
    EXPECT_TRUE(plan.touches.empty());
}

namespace {

struct Jump {
    double at, to, liveFrom; // as jumpRound takes them
};

// Plays `setup` through the rules with the bot (fingers or the pad's buttons) at 120 ticks a
// second, going back at each jump as a practice loop does (a step due at or after the jump is not
// taken), to `end` on the last pass. Returns the song times of the bot's presses.
std::vector<double> playLoopingWithBot(GameState& game, const RoundSetup& setup, bool gamepad,
                                       const std::vector<Jump>& jumps, double end) {
    beginRound(game, setup, 0.0);
    AutoplayPlan plan;
    autoplayStart(plan, gamepad);
    std::vector<double> presses;
    double tick = 0.0;
    for (std::size_t next = 0; tick < end || next < jumps.size();) {
        autoplayPlan(plan, game, setup.width, setup.height);
        const double jumpAt = next < jumps.size() ? jumps[next].at : 1e300;
        AutoplayAction a;
        if (autoplayNext(plan, &a) && a.at <= tick && a.at < jumpAt) {
            EXPECT_TRUE(autoplayStillDue(plan, game));
            const bool press = a.step == AutoplayStep::Press;
            queueRoundInputs(
                game,
                {{songTimeToMicros(a.at), press ? InputKind::Press : InputKind::Release,
                  gamepad ? InputDevice::Gamepad : InputDevice::Finger, gamepad ? kAutoplayPadId : a.finger,
                  static_cast<std::uint32_t>(a.button), a.x * setup.width, (1.0f - a.y) * setup.height}},
                a.at);
            autoplayDone(plan, a);
            if (press) {
                presses.push_back(a.at);
            }
        } else if (tick >= jumpAt) {
            queueRoundInputs(game, {}, jumpAt);
            advanceRound(game, jumpAt, LayerRequests{});
            jumpRound(game, jumpAt, jumps[next].to, jumps[next].liveFrom);
            EXPECT_FALSE(autoplayStillDue(plan, game)) << "a step planned before the jump is not taken";
            tick = game.songTime = jumps[next++].to;
        } else {
            game.songTime = tick;
            queueRoundInputs(game, {}, tick);
            advanceRound(game, tick, LayerRequests{});
            tick += 1.0 / 120.0;
        }
    }
    EXPECT_TRUE(autoplayCancel(plan).empty()) << "a finger left down";
    return presses;
}

} // namespace

TEST(Autoplay, PlaysALoopedPassageAgainAfterEachJump) {
    // Taps every quarter second, a tap just before the loop's end (its finger still down at the
    // jump) and a hold across it. The loop goes from 4 s back to 1 s twice, counting in up to 2 s.
    std::vector<MidiNoteEvent> notes = {noteOn(3.6, 120, 100, kHoldChannel, 1.0), noteOn(3.98, 3, 70)};
    for (int i = 0; i < 22; ++i) {
        notes.push_back(noteOn(0.5 + 0.25 * i, (i * 37) % 128, 10 + (i * 29) % 117));
    }
    std::sort(notes.begin(), notes.end(),
              [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.time < b.time; });
    const std::vector<Jump> jumps = {{4.0, 1.0, 2.0}, {4.0, 1.0, 2.0}};
    const double end = 7.0;
    // Each pass presses its live circles at their times: before its jump, from the last jump's A.
    std::vector<double> expected;
    for (std::size_t pass = 0; pass <= jumps.size(); ++pass) {
        const double from = pass == 0 ? 0.0 : jumps[pass - 1].liveFrom;
        const double until = pass < jumps.size() ? jumps[pass].at : end;
        for (const MidiNoteEvent& note : notes) {
            if (note.time >= from && note.time < until) {
                expected.push_back(note.time);
            }
        }
    }
    for (bool gamepad : {false, true}) {
        SCOPED_TRACE(gamepad ? "gamepad" : "fingers");
        AudioSystem audio;
        addStem(audio, 0.0).chart.notes = notes;
        GameState game = playingGame();
        game.totalLayers = 1;
        std::vector<double> pressed;
        stderrOf([&] {
            stdoutOf([&] {
                pressed = playLoopingWithBot(game, roundSetupOf(audio, kWidth, kHeight), gamepad, jumps, end);
            });
        });
        EXPECT_EQ(pressed, expected) << "the count-in is not pressed, each pass's live circles are";
        EXPECT_EQ(std::count_if(game.outcomes.begin(), game.outcomes.end(),
                                [](const CircleOutcome& o) { return o.grade != CircleGrade::Miss; }),
                  static_cast<std::ptrdiff_t>(expected.size()))
            << "graded presses, and no miss";
        EXPECT_EQ(game.outcomes.size(), expected.size());
    }
}
