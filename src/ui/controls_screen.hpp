#pragma once
// The Controls screen: the keyboard grid drawn as the player's keyboard (three rows of eight keys,
// the loud notes' row on top, each key showing what the player's layout prints on it). Choosing a
// key (click, or the focus and Enter or A) makes it wait for the next key pressed, which then plays
// that cell; the screen's context binds and stores it (ScreenContext::bindCellKey). Escape, or B,
// cancels the wait; "Reset to default" puts back the default grid. Main thread, in a GUI frame.
struct ScreenContext;

void drawControlsScreen(ScreenContext& context);

// Stops waiting for a key, with nothing bound (Escape or B during the wait; leaving the screen).
void cancelKeyCapture();

// Whether a cell is waiting for its key.
bool capturingKey();
