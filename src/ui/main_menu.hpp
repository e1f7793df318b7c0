#pragma once
// The main menu: the animated title, a stack of image buttons and the level table with the
// selected level's details; Add Level beside the table's heading, and for the player's own levels
// Delete in the details (after a confirmation). Starting a level is done in two frames: the click
// asks for it and the frame shows "Loading <name>..."; after that frame is on screen the level is
// read and decoded (without the game mutex) and then swapped in and started (with it).
// Main thread only.
struct ScreenContext;

// Draws the menu; a click on a button acts (or asks for a level start). Why a replay dropped on
// the window could not be watched (context.watchNotice) shows at the window's foot. Needs a GUI
// frame.
void drawMainMenu(ScreenContext& context);

// While a level start is pending, a centred "Loading <name>..." panel over the frame.
void drawLoadingOverlay(const ScreenContext& context);

// True while the menu's confirmation of deleting an own level was up in the last frame: Escape and
// the pad's B close it rather than quit. Main thread.
bool menuDialogUp();
