#pragma once
// A round's life: starting a level from the list, ending the round (saving and uploading its
// result), and the tutorial's song in place of the menu's level. The menu, the HUD's exit button
// and the tutorial call these; the level list and package state they use are the level session's.
// Main thread; each takes the game mutex for what it changes, never across file or decoding work.
//
// The tutorial's music: the shipped package levels/tutorialsong, whose layers come and go with the
// tutorial's pages (page 1: the second stem; page 2: the first; page 3: both; page 4: none). While
// it plays no round runs. Main thread; the routines take the game mutex for what they change, and
// read and decode the song's files before taking it.
#include "replay/round_replay.hpp"

#include <cstdint>
#include <string>

struct App;
struct AudioSystem;

// The layers a round of the loaded level can reach: one per stem, at most kMaxLayers
// (game/game_rules.hpp), 0 without stems. Every load of a level sets GameState::totalLayers to
// it, so that a round's result counts the level's own layers. Game mutex held.
std::int32_t levelLayerCount(const AudioSystem& audio);

// Loads levels/level.json, the level Space plays before one is chosen from the menu: its stems,
// the round's name (the song's title, else "levels") and its layer count. False, with the reason
// on stderr, when no stem loaded. Main thread; takes the game mutex for the whole load (start-up:
// nothing else runs yet).
bool loadDefaultLevel(App& app);

// Where the tutorial song lives, relative to the working directory.
constexpr const char* kTutorialSongFolder = "levels/tutorialsong";

// Applies tutorial page `page` (0..4): page 0 stops the music and forgets a loaded package; other
// pages load the tutorial song when it is not loaded (replacing a level from the menu), start it
// when it is not playing, make audible the stems of that page, and reset the round (not playing)
// with as many layers as stems are audible.
void applyTutorialPage(App& app, int page);

// The tutorial has been left: when its song took the place of a level (whether the song then
// loaded or not), that level is loaded again (stopped, with its name and layer count), so that
// Space plays it and neither the tutorial song nor silence.
void leaveTutorial(App& app);

// Starts level `index` of the level list: prepares its package under levels/, reads and decodes it
// without the game mutex, then under the mutex stops the playing level, swaps the new stems in,
// starts playback with the first layer fading in, names the round and starts it. Nothing happens
// for an index outside the list; a level that cannot be loaded leaves the menu up with nothing
// playing. True when the round started. Stores how long the game mutex was held, and the index as
// the level session's lastStarted (what Retry starts again).
bool startLevel(App& app, int index);

// Loads the level of the list named `levelName` as startLevel does, but leaves it stopped with no
// round (its name and layer count set), for a replay to play on. Does not change lastStarted.
// False when no level of the list has that name or it cannot be loaded (logged).
bool loadLevelStopped(App& app, const std::string& levelName);

// Back to the default level (levels/level.json), stopped with no round, in place of a level of the
// list: for a replay of a round Space started. False, logged, when it cannot be loaded.
bool loadDefaultLevelStopped(App& app);

// Runs the level start the menu asked for, if any. Call after the frame has been swapped.
void runPendingLevelStart(App& app);

// Plays the loaded level from its top with its first layer fading in and begins a run of the round
// there (counters as they stand: resetRound first for a new round). Game mutex held.
void startRunFromTop(App& app);

// The wall clock now, in Unix milliseconds (a replay's start and end).
std::int64_t wallClockMs();

// The folder of the level being played: a menu level's package folder, else "levels" (the default
// level, levels/level.json).
std::string currentLevelFolder(const App& app);

// The player's data folder: the folder of prefs.json (getPrefsPath() when app.prefsPath is unset),
// where the replays are kept.
std::string playerDataFolder(const App& app);

// Completes `replay` with the level's hash (of the current level's folder, with the round's loop
// length in seconds) and saves it among the player's replays (in the folder of prefs.json), noting
// its path in app.lastReplayPath ("" when none was saved). Logs "Replay saved: <path>", or why
// not. File work: call without the game mutex.
void saveRoundReplay(App& app, Replay& replay, double loopLength);

// Ends the round from the HUD: stops the stems, keeps the round's figures (App::lastResults),
// saves the round's result (into the leaderboard file, and up to the server with the player's key
// for the current server), saves its replay (saveRoundReplay), resets the round, clears `playing`
// and shows the results screen. A practice round's result is neither saved nor uploaded either
// ("Practice round ended; its result is not saved"; its replay is kept, marked as practice), and the
// music is back at its own speed. A round under autoplay is the bot's: its result is neither saved
// nor uploaded ("Autoplay round ended; its result is not saved"); its replay is kept, marked as the
// bot's. Takes the game mutex, but not across the files' reading and writing.
void endRound(App& app);
