#pragma once
// The autoplay bot's plan: a perfect player made of synthetic fingers, or of one gamepad's buttons.
// For every circle on screen it plans one touch (or one press of the circle's button), down at the
// note's time on the song clock and up again once the note is done with; the app's bot thread
// turns each step into a real SDL finger event at that moment, so the presses travel the same path
// as a player's and are judged by their own event timestamps. Plain code: it reads the game state
// and never changes it.
#include "game/game_state.hpp"
#include "game/pad_buttons.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

// Finger ids of the bot: a range real touch screens do not hand out, so a real finger never
// shares an id with one of the bot's.
constexpr std::uint64_t kAutoplayFingerBase = 0xA070000000000000ull;

// How long after its press a tap finger is lifted, and how long past a hold's end a hold finger
// (seconds on the song clock).
constexpr double kAutoplayTapRelease = 0.04;
constexpr double kAutoplayHoldRelease = 0.02;

// A button goes down only once per press: the shortest time the gamepad bot keeps a button down,
// and up between two presses of it (seconds). Two circles of one button closer than the two
// together cannot both be pressed on time; the later one is pressed as soon as the button is free.
constexpr double kAutoplayPadMinDown = 0.01;
constexpr double kAutoplayPadMinUp = 0.01;
// A hold of a button that another circle of the same button needs is let go this long before the
// hold's end at the earliest (inside the hold's tolerance, so that it still counts as held).
constexpr double kAutoplayPadEarlyLetGo = 0.25;
// The gamepad bot's pad id: one SDL does not hand out to real pads early in a run.
constexpr std::uint32_t kAutoplayPadId = 0xA0700000u;

// One planned touch of one circle.
struct AutoplayTouch {
    std::uint64_t finger = 0;
    double pressAt = 0.0;   // song time of the press: the note's time
    double releaseAt = 0.0; // song time of the release
    float x = 0.0f;         // SDL's normalised window position: 0..1, y running downward
    float y = 0.0f;
    bool down = false; // pressed and not yet released
    bool done = false; // pressed and released
    // The circle it belongs to, recognised again on later passes by these.
    double noteTime = 0.0;
    float circleX = 0.0f;
    float circleY = 0.0f;
    std::int32_t stemIndex = 0;
    PadButton button = kNoPadButton; // the gamepad bot: the button pressed
    double letGoFrom = 0.0;          // the gamepad bot: the earliest its button may be lifted
    // Down when the song jumped back: its circle's pass is over, so it stands for no circle and is
    // only to be lifted, at once.
    bool stale = false;
};

struct AutoplayPlan {
    bool gamepad = false;                           // presses the circles' buttons instead of touching them
    std::uint64_t nextFinger = kAutoplayFingerBase; // a fresh finger for every press
    std::vector<AutoplayTouch> touches;             // one per circle, until the circle has gone
    std::size_t jumps = 0; // the round's loop jumps (progress.jumps) when the plan was last made
};

enum class AutoplayStep { Press, Release };

// The next thing the bot has to do: press or lift `finger` (or `button`) at song time `at`.
struct AutoplayAction {
    AutoplayStep step = AutoplayStep::Press;
    std::uint64_t finger = 0;        // the touch's own number (the gamepad bot numbers its presses too)
    PadButton button = kNoPadButton; // the gamepad bot: the button
    double at = 0.0;
    float x = 0.0f;
    float y = 0.0f;
};

// Readies the plan for a run, with fingers or (`gamepad`) the circles' buttons, and logs
// "Autoplay enabled". Once when autoplay starts.
void autoplayStart(AutoplayPlan& plan, bool gamepad = false);

// Plans a touch for each circle that is still to be pressed and has none yet, at its note time,
// placed for a window `width` x `height` drawable pixels. The gamepad bot plans a press of the
// circle's button instead (none for a circle without one): at its note time when the button is
// free, else as soon as it is (the button's earlier press, not yet made or not yet let go, is lifted
// early for it: a tap at once, a hold no earlier than kAutoplayPadEarlyLetGo before its end). Does
// nothing unless a round is playing. When the song has jumped back since the last call (a practice
// loop's jump, or a new round) the pass that was planned is over: its presses not yet made are
// dropped, and its fingers (buttons) still down are lifted at once (at the song time now), so that
// the passage is played again from its first circle on; the count-in's circles are ghosts, not
// circles, and are never pressed. Game mutex held.
void autoplayPlan(AutoplayPlan& plan, const GameState& game, std::int32_t width, std::int32_t height);

// The plan's earliest step: a release due before the next press comes first. False when there is
// nothing to do.
bool autoplayNext(const AutoplayPlan& plan, AutoplayAction* action);

// True when a step autoplayNext gave since the plan was last made may still be taken: a round is
// playing and the song has not jumped back since (a practice loop). Game mutex held.
bool autoplayStillDue(const AutoplayPlan& plan, const GameState& game);

// Records that `action` has been carried out: its finger is down, or lifted for good.
void autoplayDone(AutoplayPlan& plan, const AutoplayAction& action);

// Playback stopped: forgets the planned presses and returns the releases of the fingers still
// down, to be sent at once.
std::vector<AutoplayAction> autoplayCancel(AutoplayPlan& plan);
