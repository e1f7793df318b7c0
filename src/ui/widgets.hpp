#pragma once
// What every screen draws with: the glowing title, the panel width, fonts at their own size, the
// labelled image button and a row of them. Each traces what it draws (ui_trace.hpp) when tracing
// is on. Main thread, inside a GUI frame.
#include "ui/ui_trace.hpp"

#include <cstdint>

struct ImFont;
struct ImVec2;

// The animated, glowing title of the full-screen menus, centred near the top (8 % of the window
// down), in the title font at 96 pixels x scale, smaller when the text would not fit 90 % of the
// window's width. Traced as "title".
void drawNeonTitle(const char* text, float hueSpeed, float saturation);

// The line box drawNeonTitle puts `text` in (its glow stays inside), in GUI units; the screens place their
// panels below its bottom. Inside a GUI frame.
struct TitleRect {
    float x0, y0, x1, y1;
};
TitleRect neonTitleRect(const char* text);

// Draws a full-screen menu's title (drawNeonTitle) and places the next window, the screen's panel,
// under it: centred, panelWidthFraction(widthFraction) of the window across, its top `gap` design
// pixels below the title's text line in the current font (or at the glow's bottom when that is
// lower), its bottom `bottomMargin` design pixels above the window's bottom. Call just before the
// panel's ImGui::Begin.
void drawTitleAndPlacePanel(const char* title, float hueSpeed, float saturation, float widthFraction,
                            float gap, float bottomMargin);

// Pushes `font` at its own size (the size it was loaded at, scale 1); the GUI's scale applies on
// top (style.FontScaleMain). Pop with ImGui::PopFont. A null font keeps the current one.
void pushUIFont(ImFont* font);

// The fraction of the window's width a screen's panel takes: `landscape` in a landscape window,
// 0.92 in a portrait one, where the panels take nearly all of it.
float panelWidthFraction(float landscape);

// Whether the last item drawn holds the keyboard or gamepad focus, and it shows (the player has
// been moving it).
bool lastItemHasVisibleFocus();

// A ring round the rectangle min..max (GUI units) in the focus colour, thicker than the library's
// own cursor and with a glow, for items that the eye must find from across the room.
struct ImDrawList;
void drawFocusRing(ImDrawList* draw, const ImVec2& min, const ImVec2& max, float rounding);

// An image button showing `activeTexture` while pressed and `inactiveTexture` otherwise, with
// `label` centred on it in the button font (white, faded inside a disabled block as the image is),
// and the focus ring while it holds a visible focus. True when clicked (or pressed with Enter or A).
bool labeledImageButton(const char* id, const char* label, const ImVec2& size, std::uint32_t inactiveTexture,
                        std::uint32_t activeTexture);

// Pushes transparent colours for buttons in all their states (3 style colours to pop), so that
// only a button's image shows.
void pushClearButtonColours();

// One button of a row drawn by drawButtonRow.
struct RowButton {
    const char* id;    // the ImGui id, also what the trace logs ("##back")
    const char* label; // the text on the button
    bool enabled = true;
};

// A row of `count` labeled image buttons of `size` pixels, `gap` apart, centred in the current
// window, on transparent button colours so that only the neon images show. Returns the index of the
// button clicked this frame, or -1. Main thread, inside a window.
int drawButtonRow(const RowButton* buttons, int count, const ImVec2& size, float gap);

// The window flags of a full-screen panel: no title bar, background, scroll bar, resizing,
// moving or collapsing.
int screenPanelFlags();

// The bordered, rounded content box of a panel with a row of buttons `buttonHeight` high below it
// (calibration, results): it fills the panel's height down to the buttons and is traced as
// `traceId`. Returns whether it is visible; close it with endPanelContent in every case.
bool beginPanelContent(const char* id, const char* traceId, float buttonHeight, float s);
void endPanelContent();

// The bordered, rounded text area the tutorial and the credits share, as tall as its text within
// the size range from `least` to `most` (GUI units); returns whether it is visible. It scrolls
// only when it was held at `most` in the frame before (`heldDown`, the caller's to keep). Close it
// with endContent, which also leaves `buttonHeight` (plus a margin) free below it at scale `s`.
bool beginContent(const char* id, float least, float most, bool& heldDown, float s);
void endContent(float buttonHeight, float s);

// `text` centred in the current window in `color` (RGBA); a line wider than the window wraps, each
// of its lines centred.
void centredText(const char* text, const float color[4]);
