#pragma once
// Practice rounds: a level played slowed down (50 % to 100 % of its speed in steps of 5, changed on
// the pause overlay), with an optional A-B loop marked while playing (`[` and `]`, or a pad's
// shoulders while its Back button is held). When the song reaches B it goes back to A less a bar
// (game/practice_loop.hpp), counts that bar in (4-3-2-1 on its beats, its circles shown but not
// judged) and plays the passage again with its circles live. A practice round is kept as a replay
// but never saved as a result nor uploaded. Main thread; what says "game mutex held" is called
// with it.
#include "game/practice_loop.hpp"
#include "game/round_event.hpp"

#include <cstdint>
#include <string>
#include <vector>

struct App;

// The speed practice starts at before the player has chosen one (percent).
constexpr std::int32_t kDefaultPracticeSpeedPercent = 75;
// How long the HUD shows what a mark did (seconds of song).
constexpr double kLoopNoticeSeconds = 2.0;

// The app's practice record, owned by App.
struct PracticeState {
    bool enabled = false; // rounds started now are practice rounds (the menu's Practice, --practice)
    std::int32_t speedPercent = kDefaultPracticeSpeedPercent; // the speed practice plays at: the last used
    PracticeLoop loop;                                        // the round's A-B loop, in song seconds
    double countInFrom = 0.0;  // where the song last went back to: the count-in bar's start
    std::string notice;        // what the last mark did ("Loop start marked", ...), or ""
    double noticeUntil = -1.0; // song time the notice shows until
};

// --practice SPEED: a whole percent from 50 to 100 in steps of 5 (an optional trailing %). False
// for anything else, `percent` then untouched.
bool parsePracticeSpeed(const char* text, std::int32_t& percent);

// After a round has begun (beginRound): makes it a practice round at the practice speed when
// practice is enabled, else a round in earnest at the music's own speed; the loop is cleared
// either way. Game mutex held.
void applyRoundMode(App& app);

// True while a practice round is in play (paused or not, not a watched replay). Game mutex held.
bool practiceInPlay(const App& app);

// Sets the practice speed to `percent` (onto 50..100 in steps of 5): the round plays on at it (the
// next resume records it), the music takes it at once, and it is stored as the last used. Only in
// a practice round while it is paused (not counting down); false otherwise. Takes the game mutex.
bool setPracticeSpeed(App& app, std::int32_t percent);

// Forgets the loop's marks: the song plays on past B. Nothing while a replay is watched. Takes the
// game mutex.
void clearPracticeLoop(App& app);

// The frame's part of a practice round, before the frame's inputs join the round: the loop's marks
// (at their own song times, on the level's beats; not while paused), and once the song has reached
// B the jump: the frame's inputs before B go to the round, which is advanced to B and jumps back
// (jumpRound), the stems seek to the count-in's start and the song time follows. Inputs at or after
// B are dropped from `events`, and `through` (how far the frame advances the round) is kept to B,
// or to the count-in's start after a jump. Logs "Practice loop from A s to B s" and "Practice
// loop: back to S s". Does nothing outside a practice round. Game mutex held.
void practiceFrame(App& app, std::vector<RoundEvent>& events, double& through);

// The count-in figure to show now (4..1), or 0. Game mutex held.
int practiceCountIn(const App& app);
