#pragma once
// The levels of one run of the game: the menu's list and its chosen row, the start the menu asked
// for, the package being played, and the level the tutorial's song stands in for. One record,
// owned by App. Main thread only: the menu chooses and asks, the round's routines (app/round.*)
// load, swap and put back.
#include "level/level_list.hpp"
#include "level/level_package.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The level the tutorial's song replaced, put back when the tutorial is left.
struct ReplacedLevel {
    bool remembered = false; // the tutorial is open and what it replaces is known
    // The level before was taken out of the audio system for the tutorial song (which holds its
    // stems, or nothing when the song failed to load): leaving the tutorial loads it again.
    bool levelRetired = false;
    std::string manifestPath; // of the level before it
    std::string levelName;
    LevelPackage package; // and the package record that went with it
    bool packageLoaded = false;
};

struct LevelSession {
    std::vector<LevelListEntry> list; // the menu's levels, read at start-up
    int selected = 0;                 // the menu's chosen row
    int pendingStart = -1;            // the list index the menu asked to start, or -1
    bool startPractice = false;       // that start (and Retry's) is a practice round (the menu's Practice)
    int lastStarted = -1;             // the list index of the level started last (Retry's), or -1
    bool holdStart = false;           // the screen tour keeps the loading notice up
    bool startSlow = false;           // the pending start has taken longer than a frame: notice up
    std::uint64_t startRequestNs = 0; // SDL tick the pending start was first run at (0: not yet)
    LevelPackage package;             // of the level being played (a menu level or the tutorial song)
    bool packageLoaded = false;       // `package` was prepared and applied
    std::string defaultLevelName;     // the round name of the default level (Space's), once loaded
    ReplacedLevel beforeTutorial;
};

// True while a start the menu asked for has not been carried out yet.
inline bool levelStartPending(const LevelSession& session) {
    return session.pendingStart >= 0 && session.pendingStart < static_cast<int>(session.list.size());
}

// True while "Loading <name>..." is up: a pending start that has taken longer than a frame (or one
// the screen tour holds).
inline bool levelLoadingNoticeUp(const LevelSession& session) {
    return levelStartPending(session) && (session.startSlow || session.holdStart);
}
