#pragma once
// Where the GUI's items are, for scripts and tests: with VIBRELLE_UI_TRACE=1 the screens log the
// rectangles of their buttons, rows, titles and panels. Main thread, inside a GUI frame.

// With VIBRELLE_UI_TRACE=1, logs "UI: <id> <x> <y> <w> <h>" for the last item drawn, in window
// pixels, once per appearance of its screen (once its layout has settled; a tutorial page counts as
// a screen), so that tests and scripts can click it. Only the part of the item that is visible (in
// its window's clip rectangle) is traced; an item scrolled out of view is not traced. When the item
// is the one gUI.focusRequest names, the keyboard focus is put on it, visibly (for pictures).
void uiTraceLastItem(const char* id);

// The same for a rectangle given in GUI units (a panel, a title, an area drawn without an item).
void uiTraceRect(const char* id, float x0, float y0, float x1, float y1);
