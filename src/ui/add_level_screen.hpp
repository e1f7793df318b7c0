#pragma once
// The Add Level screen: the player's own level made from a folder of stems (or audio files dropped
// on the window). The folder's path (typed, or chosen with Browse in the desktop's folder dialog),
// the title, an optional tempo and each stem's kind; Make Level starts the job
// (level/level_making.hpp) through the context, and while it runs each stem has a progress bar and
// Cancel stops it. A failure's message or the cancel shows under the stems; a made level is taken
// into the menu by the app. Main thread, in a GUI frame; the fields live in gUI.addLevel.
#include <string>
#include <vector>

struct ScreenContext;

// The kinds a stem may be given, as the combo lists them after "Auto".
constexpr int kStemKindChoices = 4;

// Draws the screen. Traced: "add_level_panel", "##folder", "##browse" (while the folder dialog
// can be used), "##title", "##tempo", "stem_kind_<i>" and "stem_progress_<i>" per stem,
// "add_level_status", and the buttons "##back" and "##make" (or "##cancel" while a level is made).
void drawAddLevelScreen(ScreenContext& context);

// The line under the stems: why Make Level was refused (the tempo), what the job does now
// ("Charting..."), why it failed, "Cancelled: nothing was kept.", or where a level goes. Main thread.
std::string addLevelStatusLine(const ScreenContext& context);

// Fills the screen's fields from files dropped on the window: one folder gives the folder (its
// stems listed); audio files give the list of files (the folder field shows the first one's
// folder). The title follows unless the player typed one. False, with nothing changed, when the
// drop holds neither a folder nor an audio file. Main thread.
bool fillAddLevelFromDrop(const std::vector<std::string>& paths);

// Sets the folder field to `folder`, lists its stems and (unless the player typed a title) makes
// the title from its name; dropped files are forgotten. Main thread.
void setAddLevelFolder(const std::string& folder);
