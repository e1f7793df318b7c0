#pragma once
// The results screen, shown after every round: the score (and whether it is a new best), the
// highest combo, the grade counts and accuracy, how early or late the presses landed (mean,
// spread and a histogram of 5 ms bins), the time played, the highest layer and the layers over the
// round as a strip in the stems' colours; then Retry, Watch replay and Menu. It draws the
// ScreenContext's `results` (a note in place of the figures when it is null). Main thread, in a
// GUI frame.
#include "game/round_summary.hpp"
#include "ui/screen_context.hpp"

#include <string>

// The screen's texts for a summary, as drawn.
struct ResultsTexts {
    std::string score;    // "48210"
    bool newBest = false; // "New best!" is shown: never under autoplay or in practice (not saved)
    std::string best;     // "Best: 48210", "Autoplay: not saved", or "Practice at 75 %: not saved"
    std::string combo;    // "Highest combo: 187"
    std::string accuracy; // "Accuracy: 93.4 %"
    std::string gradeCounts[kGradeCount]; // "312", in CircleGrade order
    std::string mean;                     // "Mean: 12.3 ms late", "Mean: 4.0 ms early", "Mean: on time", or
                                          // "Mean: no presses"
    std::string spread; // "Spread: 18.2 ms" (standard deviation), "Spread: -" without presses
    std::string time;   // "Time played: 03:07" (whole seconds, mm:ss)
    std::string layer;  // "Highest layer: 4/5"
};
ResultsTexts resultsTexts(const RoundSummary& summary, bool autoplay);

// The grades' names as shown: "Perfect", "Great", "Good", "Ok", "Miss".
const char* gradeName(int grade);

// Draws the screen. Retry asks context.retryLevel (disabled while no level of the list can start
// or a start is already pending), Watch replay context.watchReplay (disabled unless
// context.replayAvailable), Menu goes to the main menu. Reads the stems' colours from the render
// state under the game mutex.
void drawResultsScreen(ScreenContext& context);
