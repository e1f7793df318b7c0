#pragma once
// Watching a replay: the level plays with its music and the recorded inputs run through the same
// round code, so circles are hit as they were and the HUD counts as it did; each recorded press
// shows as a brief glow where it landed, and each pause's rewind is played again. Watching never
// saves or uploads anything. It ends at the replay's end, with Escape or with the HUD's exit button,
// back on the screen it was started from (the results or the leaderboard). Main thread; each routine
// takes the game mutex for what it changes.
#include "replay/replay_file.hpp"
#include "ui/screen_context.hpp"
#include "ui/ui_system.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

struct App;

// What is being watched, owned by App.
struct ReplayWatch {
    bool active = false;
    Replay replay;
    std::size_t next = 0;                  // the next recorded event to hand to the round
    std::size_t nextPause = 0;             // the next recorded pause to act out
    std::size_t nextJump = 0;              // the next practice loop jump to act out
    bool playerKeyboardGameplay = false;   // the player's own setting, back when watching ends
    float width = 1.0f, height = 1.0f;     // the drawable area of the recorded round at this point
    float markerX = 0.0f, markerY = 0.0f;  // the last recorded press (drawable pixels, y downward)
    double markerUntil = -1.0;             // song time the press's glow lasts until
    UIScreen returnTo = UIScreen::Results; // the screen watching was started from, shown at its end
};

// The text shown (and logged) when a replay's level has changed since it was recorded.
constexpr const char* kReplayLevelChanged = "This replay was recorded on a different version of the level";

// The texts shown (and logged) when a replay cannot be read, and when the level it was played on
// is not in the level list or cannot be loaded (followed by ": " and the level's name).
constexpr const char* kReplayUnreadable = "This replay cannot be read";
constexpr const char* kReplayLevelMissing = "The level this replay was played on cannot be loaded";

// Starts watching the replay at `path`: reads it, loads the level it was played on (by name, from
// the level list, stopped) when another is loaded, checks its level hash against the level's, and
// plays it from its start. Notes the screen up now (gUI.screen) to come back to. `notice` is
// cleared, or on failure holds why (kReplayUnreadable, kReplayLevelMissing, kReplayLevelChanged),
// and false is returned with the reason logged. Reads and decodes files: call without the game
// mutex.
bool startWatching(App& app, const std::string& path, std::string& notice);

// True when the watched song has reached the replay's end: its last pass (after every loop jump)
// at its song end. Game mutex held.
bool watchedToTheEnd(const App& app);

// True when a replay file dropped on the window may be watched now: the main menu or the
// leaderboard is shown (the interface visible), no round is in play and none is being watched.
bool dropWatchable(UIScreen screen, bool uiVisible, bool roundInPlay, bool watching);

// A file dropped on the window (SDL_EVENT_DROP_FILE): when dropWatchable, watched as the
// leaderboard's Watch button watches a stored replay (startWatching: read and checked as untrusted
// input, its level loaded by name and hash, app.watchNotice saying why when it cannot be watched,
// shown on the menu or the leaderboard); otherwise logs "Ignoring the dropped file %s: replays are
// watched from the menu or the leaderboard" and does nothing. True when watching started. Main
// thread, without the game mutex.
bool watchDroppedReplay(App& app, const std::string& path);

// Plays `replay` on the level loaded now, from its start, without checking it: startWatching's
// second half. Takes the game mutex.
void watchReplay(App& app, Replay replay);

// The recorded inputs due up to song time `through` go to the round (in place of the player's),
// and the glow follows the last press. A recorded pause is acted out when the song reaches it: the
// round is brought to the pause, and the song rewinds to where play went on (the span played again
// shows its judged circles as ghosts, as it did), at the speed it went on at. A practice loop's jump
// is acted out when the song reaches it: the round is brought there and jumps back (jumpRound), and
// the song goes back with it. A practice replay plays at its recorded speeds. Game mutex held;
// called by the frame while watching.
void watchFrame(App& app, double through);

// The practice line and count-in a watched practice replay shows (PracticeView, `watched`): what
// the player saw, as far as the replay tells it, with the song at `songTime`, the round applied to
// `applied` and the level's beat `beat` (seconds). The speed is the replay's first, then the one
// play went on at after each recorded pause acted out so far. Loop marks are not recorded, only
// the jumps: no loop is shown before the first jump; from a jump on its loop is (A its liveFrom, B
// its at) until the round goes on past that B without jumping (the loop was cleared or moved on),
// and 4, 3, 2, 1 count over the bar from where the song went back to A. Inactive unless a practice
// replay is watched. Plain: reads `watch` only.
PracticeView watchedPracticeView(const ReplayWatch& watch, double songTime, double applied, double beat);

// Stops watching: the stems stop, the round is cleared, the player's setting comes back, and the
// screen watching was started from shows again. Nothing is saved.
void stopWatching(App& app);
