// A practice loop's ends on the beat grid, where the song goes back to, and the count-in's figures.
#include "game/practice_loop.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

// At 120 BPM (beats of 0.5 s): a sequence of marks, each with the loop it leaves.
TEST(PracticeLoop, MarksSnapToBeatsAndAMarkOfBOnAClears) {
    const double beat = beatSeconds(120.0);
    struct Step {
        bool end;     // `]` (else `[`)
        double at;    // when it is pressed
        LoopMark did; // what it did
        PracticeLoop after;
    };
    const std::vector<Step> steps = {
        {true, 3.0, LoopMark::NoStart, {}}, // B without A: nothing
        {false, 10.2, LoopMark::StartSet, {true, false, 10.0, 0.0}},
        {true, 14.27, LoopMark::EndSet, {true, true, 10.0, 14.5}},
        {true, 12.1, LoopMark::EndSet, {true, true, 10.0, 12.0}},    // B again moves it
        {false, 20.9, LoopMark::StartSet, {true, false, 21.0, 0.0}}, // a new A starts a new passage
        {true, 21.1, LoopMark::Cleared, {}},                         // `[` then `]` on one beat
    };
    PracticeLoop loop;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at);
        EXPECT_EQ(step.end ? markLoopEnd(loop, step.at, beat) : markLoopStart(loop, step.at, beat), step.did);
        EXPECT_EQ(std::make_tuple(loop.hasStart, loop.hasEnd, loop.start, loop.end),
                  std::make_tuple(step.after.hasStart, step.after.hasEnd, step.after.start, step.after.end));
    }
    EXPECT_DOUBLE_EQ(beatSeconds(0.0), 0.5) << "no tempo: 120 BPM";
}

// The count-in bar: four beats before A, cut short by the round's start; 4-3-2-1 on its beats.
TEST(PracticeLoop, TheCountInIsABarBeforeANotBeforeTheStart) {
    const double beat = beatSeconds(100.0); // 0.6 s
    const PracticeLoop loop{true, true, 6.0, 9.0};
    EXPECT_DOUBLE_EQ(countInStart(loop, beat, 0.0), 3.6);
    EXPECT_DOUBLE_EQ(countInStart(loop, beat, 5.0), 5.0);
    const struct {
        double from, now;
        int figure;
    } cases[] = {{3.6, 3.5, 0}, {3.6, 3.6, 4},  {3.6, 4.19, 4}, {3.6, 4.2, 3}, {3.6, 5.0, 2},
                 {3.6, 5.4, 1}, {3.6, 5.99, 1}, {3.6, 6.0, 0},  {5.0, 5.0, 2}, {5.0, 5.5, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(countInFigure(loop, beat, c.from, c.now), c.figure) << c.from << " " << c.now;
    }
}
