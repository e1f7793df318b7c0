#pragma once
// The tutorial's music: the shipped package levels/tutorialsong, whose layers come and go with the
// tutorial's pages (page 1: the second stem; page 2: the first; page 3: both; page 4: none). While
// it plays no round runs. Main thread; the routines take the game mutex for what they change, and
// read and decode the song's files before taking it.
struct App;

// Where the tutorial song lives, relative to the working directory.
constexpr const char* kTutorialSongFolder = "levels/tutorialsong";

// Applies tutorial page `page` (0..4): page 0 stops the music and forgets a loaded package; other
// pages load the tutorial song when it is not loaded (replacing a level from the menu), start it
// when it is not playing, make audible the stems of that page, and reset the round (not playing)
// with as many layers as stems are audible.
void applyTutorialPage(App& app, int page);

// The tutorial has been left: when its song was loaded, the level that was loaded before it comes
// back (stopped, with its name), so that Space plays that level again and not the tutorial song.
void leaveTutorial(App& app);
