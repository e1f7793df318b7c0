#pragma once
// Making one of the player's own levels from stems, in the background: the stems (a folder of them,
// or audio files dropped on the window) are copied into a staging folder under the player's levels
// folder, charted there (authorLevel), and the staging folder is renamed to the level's own folder
// once everything is written. A failure or a cancel removes the staging folder, so nothing half
// made is ever left where the menu looks for levels; staging folders left by a crash are removed
// when the next job starts.
//
// Threads: startLevelMaking runs the work on a thread the job owns; the job's status is read by
// the main thread through levelMakingStatus, under the job's own mutex (never the game mutex),
// which is held only to copy or update the status, never across file work.
#include "authoring/level_author.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// What a level is made from.
struct LevelMakingRequest {
    std::string sourceFolder;       // a folder of stems; used when `files` is empty
    std::vector<std::string> files; // or audio files (paths), e.g. dropped on the window
    std::string title;              // the level's name; empty: made from the source folder's name
    double bpm = 0.0;               // the song's tempo; 0: estimated
    std::vector<std::pair<std::string, StemKind>> kinds; // by stem file name; the others by name
    std::string levelsFolder;            // where the player's levels live (created when missing)
    std::vector<std::string> takenNames; // the names of the levels listed now, shipped and own
    // Free bytes where the levels go; empty: std::filesystem::space. Lets tests stand in a full disk.
    std::function<std::uintmax_t(const std::string& folder)> freeSpace;
};

enum class MakingState { Running, Done, Failed, Cancelled };

// A job's state as the screen shows it.
struct LevelMakingStatus {
    MakingState state = MakingState::Running;
    std::string step;               // what the job does now: "Copying the stems", "Charting", ...
    std::vector<std::string> stems; // the stems' file names, in the order authorLevel charts them
    std::vector<double> done;       // each stem's share done, 0..1
    std::string message;            // Failed: why, in words; Done: stems left out and why, or ""
    std::string folder;             // Done: the new level's folder
    std::string title;              // the level's name (known once the job has checked it)
};

// One job. Destroying it cancels the work and joins the thread.
struct LevelMaking {
    std::thread worker;       // the job's thread; not joinable for a job made without one
    mutable std::mutex mutex; // guards `status`
    LevelMakingStatus status;
    AuthorProgress progress; // the charting's progress and the cancel flag
    ~LevelMaking();
};

// The text for a folder holding no audio files.
std::string noAudioMessage(const std::string& folder);

// A folder name for a level called `title`: letters, digits, spaces, '-' and '_' kept (UTF-8 letters
// too), every other character a space, runs of spaces one, at most 64 bytes, never starting with a
// dot; "Level" when nothing is left.
std::string levelFolderName(const std::string& title);

// True when `title` names one of `names` (ASCII case and surrounding spaces ignored).
bool levelNameTaken(const std::string& title, const std::vector<std::string>& names);

// Starts a job on its own thread. Checks made at once (the title) and every later failure end in
// the status (Failed, with the message); the job is never null. Main thread.
std::unique_ptr<LevelMaking> startLevelMaking(LevelMakingRequest request);

// A copy of the job's status. Any thread.
LevelMakingStatus levelMakingStatus(const LevelMaking& job);

// Asks the job to stop; it ends Cancelled soon after, with its staging folder removed. Returns at
// once. Any thread.
void cancelLevelMaking(LevelMaking& job);

// True once the job's thread has finished its work (the status is final); joins the thread then.
// Main thread.
bool levelMakingEnded(LevelMaking& job);

// Waits for the job's thread to finish and joins it. Main thread (tests and shut-down).
void waitForLevelMaking(LevelMaking& job);

// Deletes the player's own level in `folder`: only a folder directly inside `levelsFolder` (after
// resolving links and dots) is removed, with everything in it. False, with the reason in `error`
// and nothing removed, for any other path or when the removal fails. Main thread (file work).
bool deleteOwnLevelFolder(const std::string& levelsFolder, const std::string& folder, std::string& error);
