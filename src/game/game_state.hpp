#pragma once
// The gameplay record: the round's counters, the names, the song clock, the live circles that
// the player taps or holds, and what the round is computed from (its charts, its inputs and how
// far it has been applied). Plain data; the routines that work on it live in round_progress.hpp,
// circles.hpp, judgement.hpp and scoring.hpp.
//
// Threads: the logic thread and the main thread both advance the round (round_progress.hpp); the main
// thread queues the inputs and draws the circles. Nothing here locks: every caller holds the one
// game mutex while it touches a GameState.
#include "audio/midi_chart.hpp"
#include "game/game_rules.hpp"
#include "game/key_grid.hpp"
#include "game/pad_buttons.hpp"
#include "game/round_event.hpp"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

struct RenderState;

// One note target on screen. Positions and sizes are drawable pixels with y measured upward from
// the bottom edge; times are seconds on the song clock.
struct Circle {
    float x = 0.0f;                     // centre from the left edge; 1 000 000 once judged (off screen)
    float y = 0.0f;                     // centre from the bottom edge; 1 000 000 once judged
    float radius = 40.0f;               // current drawn radius; 0 once judged
    float targetRadius = kTargetRadius; // radius at the note time, and the hit radius
    float holdDuration = 0.2f;          // hold circle: the note's duration; tap circle: 0.2 s of grace
    bool active = true;                 // every rule treats an inactive circle as absent
    bool hit = false;                   // a press has been judged on it
    float heldTime = 0.0f;              // seconds it has been held, on the song clock
    double holdFrom = 0.0;              // song time its hold began counting (the press, or the note)
    bool holdComplete = false;          // the hold has been credited
    std::set<InputRef> holders;         // the inputs pressing it now (mouse, fingers, keys, buttons)
    double time = 0.0;                  // the note's time on the song clock
    std::int32_t note = 0;              // MIDI key number of its note
    std::int32_t stemIndex = 0;         // index of the stem whose chart made it
    std::int32_t channel = 0;           // MIDI channel; 1 makes a hold circle, anything else a tap circle
    bool arrived = false;               // the song clock has reached its time
    bool retired = false;               // judged and taken off the screen (see retiredAt)
    double retiredAt = 0.0;             // song time it was judged and retired
    std::uint32_t cell = kNoCell;       // the grid cell whose key hits it (key_grid.hpp); kNoCell when
                                        // keyboard gameplay was off at spawn
    std::string keyLabel;               // what that key prints (UTF-8); empty when off at spawn
    PadButton padButton = kNoPadButton; // the gamepad button that hits it (pad_buttons.hpp)
};

// Circles whose channel is this are hold circles.
constexpr std::int32_t kHoldChannel = 1;
// The mouse's input id in the hold map and in `holders`: all 64 bits set.
constexpr std::uint64_t kMouseInputId = ~std::uint64_t{0};
// Where judged circles are moved (both coordinates), far off any screen.
constexpr float kOffScreen = 1000000.0f;

// Asks the leaderboard for the best score of (level, player) for round number `round`; the answer
// arrives later on another thread and is handed to acceptHighScore by whoever installed the
// request. Called from resetRound with the game mutex held, so it must only start the request,
// never wait for it.
using HighScoreRequest =
    std::function<void(const std::string& levelName, const std::string& playerName, std::uint64_t round)>;

// Called for every note the master clock fires, with the render state (may be null).
using NoteCallback = std::function<void(const MidiNoteEvent& note, RenderState* render)>;

// How a circle's press was graded (by accuracy: 0.9, 0.75, 0.5 and below), or that it was missed.
enum class CircleGrade : std::uint8_t { Perfect, Great, Good, Ok, Miss };

// One decision about a circle: a graded press (with how far it lay from the note: press time minus
// note time, in milliseconds), or a miss (offset 0): unanswered, released too early, or held too
// long. A hold's press and its miss are two decisions.
struct CircleOutcome {
    double noteTime = 0.0; // the circle's time on the song clock
    std::int32_t stemIndex = 0;
    std::int32_t note = 0;
    CircleGrade grade = CircleGrade::Miss;
    float offsetMs = 0.0f;
};

// The unlocked layers from song time `at` on (the round's layer timeline).
struct LayerChange {
    double at = 0.0;
    std::int32_t layers = 1;
};

// One stem as a round sees it: its name (for the log) and its chart, sorted by time (empty: the
// stem makes no circles).
struct RoundStem {
    std::string name;
    std::vector<MidiNoteEvent> notes;
};

// What a round is played on, fixed when it begins (beginRound, round_progress.hpp).
struct RoundSetup {
    std::vector<RoundStem> stems; // in stem order: the layers; stems 0..kMaxLayers-1 make circles
    double loopLength = 0.0;      // seconds: the level's loop, the longest stem's length
    bool looping = true;          // false: the charts play once
    std::int32_t width = 0;       // the drawable area circles are placed in, in pixels (resizeRound
    std::int32_t height = 0;      // changes it during a round)
};

// Where a stem's chart is read next: its next note occurrence, due at pass x loopLength + that
// note's time. A stopped cursor (its layer is not unlocked) spawns nothing.
struct StemCursor {
    bool running = false;
    bool exhausted = false; // the chart is over (or has no note that spawns) while the layer is unlocked
    std::int64_t pass = 0;  // loop passes before the next note's
    std::size_t next = 0;   // index of the next note in the stem's chart
    double from = 0.0;      // song time the layer was unlocked: nothing spawns before it
};

// How far the round has been applied, and the inputs not applied yet.
struct RoundProgress {
    double applied = 0.0;             // everything due up to this song time has been applied
    double inputsKnownUntil = 0.0;    // inputs up to this song time have been queued
    std::deque<RoundEvent> queued;    // inputs waiting for their time, in time order
    std::vector<RoundEvent> recorded; // every input applied this round, in order (the replay's)
    std::vector<StemCursor> cursors;  // one per stem of the setup
    std::vector<RoundPause> pauses;   // the round's pauses, in order (a replay's)
    std::int32_t startWidth = 0;      // the drawable area the round began in (a replay's), in pixels
    std::int32_t startHeight = 0;
    // Inputs before this song time are dropped: after a pause's rewind the song plays again what
    // the round has already judged, and nothing may be scored twice.
    double ignoreInputsBefore = -1e300;
    // The circles spawned in the last seconds of song (kRewindMemory), as they were spawned: what a
    // rewind shows again.
    std::deque<Circle> recentSpawns;
    // The circles of a rewound span that were already judged when the round paused: drawn as the
    // song plays the span again (updateCircleLook marks which are on screen), never judged. Cleared
    // once the round goes on past the pause.
    std::vector<Circle> ghosts;
    // A practice round (played slowed down, perhaps looping a passage; never a result), its speed
    // at its start and as play goes on (percent of the music's own speed; 100 in earnest).
    bool practice = false;
    std::int32_t startSpeedPercent = 100;
    std::int32_t speedPercent = 100;
    // The practice loop's jumps back, in order (a replay's); circles due before `countInUntil` (the
    // last jump's A) spawn as ghosts: its count-in bar is shown, never judged.
    std::vector<LoopJump> jumps;
    double countInUntil = -1e300;
    // Song seconds the jumps went back, summed: the song time played is `applied` plus this.
    double jumpedBack = 0.0;
};

struct GameState {
    std::int32_t score = 0;
    std::int32_t combo = 0;
    std::int32_t highestCombo = 0;
    std::int32_t activeLayers = 1;
    std::int32_t totalLayers = 8;
    std::int32_t highestLayer = 1;
    bool playing = false;
    float multiplier = 1.0f;
    std::int32_t highScore = 0;
    std::uint64_t round = 0; // counts resetRound calls: tags the high-score requests of a round
    std::string levelName;
    std::string playerName;
    bool keyboardGameplay = false;
    // The device of the player's latest press or release, as the input path saw it: circles show
    // their gamepad button's glyph while it is a gamepad, their key's letter otherwise.
    InputDevice lastDevice = InputDevice::Key;
    std::vector<MidiNoteEvent> pendingNotes; // what the master clock's last step fired
    double songTime = 0.0;                   // seconds; written by the master clock
    std::uint64_t songTimeNs = 0;            // SDL tick (ns) `songTime` belongs to; 0: none yet
    double songRate = 1.0;                   // song seconds per second of SDL's clock at that reading
    NoteCallback noteCallback;
    std::vector<Circle> circles; // live circles in spawn order
    RoundSetup setup;            // what the round is played on
    RoundProgress progress;      // how far it has been applied
    std::uint32_t comboPerLayer = kComboPerLayer;
    std::uint32_t missesPerLayerDrop = 3;
    std::uint32_t missStreak = 0;
    std::int32_t comboAtLayerCheck = 0;

    // Which circle (index into `circles`) each input holds, by device and id: the mouse
    // (kMouseInputId), a finger (its SDL id), a key (its cell), a gamepad button (its pad and
    // number: gamepadInputId).
    std::map<InputRef, std::int32_t> holds;
    // What each cell's key prints on the player's layout, copied onto each circle spawned in
    // keyboard gameplay (the US letters until the app sets them).
    std::array<std::string, kGridCells> cellLabels = usCellLabels();

    // Installed by the online leaderboard client; empty means no server is asked.
    HighScoreRequest requestHighScore;

    // How far each graded press lay from its note (press time minus note time, milliseconds), for
    // --judge-stats.
    std::vector<float> pressOffsetsMs;
    // Every press graded and every miss of this round, in the order they were decided.
    std::vector<CircleOutcome> outcomes;
    // The unlocked layers over the round: where it began, then every rise and drop.
    std::vector<LayerChange> layerTimeline;
    // The player's best on this level before the round, as the leaderboard answered (-1: no answer).
    std::int32_t previousBest = -1;
};

// Start-up state of the game state, with `totalLayers` layers at most. Main thread, once.
void initGameState(GameState& game, std::int32_t totalLayers);

// Back to the start of a round: counters, circles and the hold map cleared, a new round number, and
// the round's high score requested (when a request is installed and both names are set). Names,
// `totalLayers`, `keyboardGameplay` and `highScore` stay. Main thread, game mutex held.
void resetRound(GameState& game);

// Forgets what belongs to the song's current run: circles, pending notes, the hold map, the
// miss streak. Score, combo and layers stay. For playback that stops and will restart from the
// beginning. Game mutex held.
void clearRunState(GameState& game);

// The answer to the high-score request of round `round`: dropped unless that round is still the
// current one; otherwise `highScore` := the answer, but never below the round's own `score`.
// Game mutex held (the answer comes from a request thread).
void acceptHighScore(GameState& game, std::uint64_t round, std::int32_t answer);
