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
