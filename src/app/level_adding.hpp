#pragma once
// The app's side of the player's own levels: making one from stems (the Add Level screen's job,
// owned by App), taking a made level into the menu, files dropped on the window that are stems
// rather than a replay, and deleting an own level. Main thread; the job's thread is the job's
// (level/level_making.hpp).
#include "level/level_making.hpp"

#include <string>
#include <vector>

struct App;

// Starts making a level from `request`, into the player's levels folder, refusing the names of
// the levels listed now. A job that ended before (failed or cancelled) is replaced; nothing
// happens while one is running.
void startMakingLevel(App& app, LevelMakingRequest request);

// Once per frame, before the GUI: when the job has ended, joins its thread; a made level is then
// taken into the menu (the list read again, the new level selected) and the menu shown.
void levelMakingFrame(App& app);

// The step of leaving the Add Level screen: a level being made is cancelled (its thread ends soon
// and is joined by levelMakingFrame).
void leaveAddLevel(App& app);

// True when a drop of `paths` is stems for a new level rather than a replay: a folder, or audio
// files the game reads.
bool dropIsStems(const std::vector<std::string>& paths);

// Files dropped on the window: stems (dropIsStems) open the Add Level screen filled in, when the
// menu or that screen is shown and no level is being made; anything else goes to the replay
// watching as before (the last file). Main thread, without the game mutex.
void takeDroppedFiles(App& app, const std::vector<std::string>& paths);

// Deletes the player's own level at menu list `index` (deleteOwnLevelFolder: only inside the
// player's levels folder), then reads the list again and keeps a valid selection. False, with the
// reason in `message`, for a shipped level or when the folder cannot be removed.
bool deleteOwnLevel(App& app, int index, std::string& message);

// Reads the menu's list again (shipped, then the player's own) and selects the entry whose folder
// is `folder` when there is one, else keeps the selection within the list.
void reloadMenuLevels(App& app, const std::string& folder = "");

// --screen addlevel[:running] and the screen tour: the Add Level screen with empty fields, or
// (`running`) with a made-up level part way through being made (a job without a thread, dropped
// when the screen is left), for pictures and layout checks.
void showAddLevel(App& app, bool running);
