#pragma once
// The menus darken the scene under them (the background and any circles) by laying black of
// opacity kMenuDimAlpha over it. On software GL a pass over the whole screen costs a millisecond
// or two a frame, so where it can the darkening rides along with the background's own pass:
// the GUI decides in the middle of a frame, after the scene is drawn, so the background of a
// frame that follows a menu frame without circles is drawn already darkened, and the frame puts
// it right if it turns out otherwise (circles about to be drawn over it, or no menu after all) by
// doubling it back before anything else is drawn over it. Other frames get the pass as before.
// The passes use no texture, unlike a rectangle of the GUI's. Main thread only.

// Opacity of the menus' black over the scene; the scene keeps 1 - kMenuDimAlpha of its light.
constexpr float kMenuDimAlpha = 128.0f / 255.0f;

// ---- The bookkeeping (plain code) ----

// A pass over the whole scene: darken it by kMenuDimAlpha, or double it back.
enum class DimPass { None, Darken, Brighten };

struct SceneDim {
    bool menuLastFrame = false, circlesLastFrame = false;
    bool menuThisFrame = false, circlesThisFrame = false;
    bool darkened = false; // the scene drawn so far is darkened already
};

// The start of a frame, before the background is drawn: the factor to draw it with, 1 - kMenuDimAlpha
// when the last frame darkened the scene without circles (and `canFold`), else 1.
float sceneDimFrameStart(SceneDim& dim, bool canFold);

// Something (the circles) is about to be drawn over the background: a darkened background is
// brought back, since what comes over it must be darkened with it.
DimPass sceneDimBeforeDrawingOver(SceneDim& dim);

// The GUI wants the scene darkened in this frame (while it builds the frame).
void sceneDimWanted(SceneDim& dim);

// The GUI darkens the scene (while it renders, under its windows): a pass unless it already is.
DimPass sceneDimMenuPass(SceneDim& dim);

// Before anything but the menu's darkening goes over the scene (the GUI's first draw), and before
// the frame is read or shown: brings a darkened scene back when no menu wanted it.
DimPass sceneDimSettle(SceneDim& dim);

// ---- The game's (GL) ----

// The record of the frames drawn on this thread's context.
SceneDim& gameSceneDim();

// Builds the passes' program at the first call; true when it is there to draw with. A failure is
// logged once ("Failed to build the screen dimming program; ...") and not retried until released.
bool prepareScreenDim();

// Draws `pass` over the whole viewport, putting back the program, vertex array, blending and
// scissor test it changes. Nothing without a prepared program.
void drawDimPass(DimPass pass);

// beginFrame's share: starts the frame's record and answers the factor for the background.
float backgroundDimForFrame(bool canFold);

// Draws the bound program's full-screen triangle (vertices 0 to 2) with its colour multiplied by
// `keep` (0..1, through blending with a constant colour; 1 draws it as it is), putting back the
// blending it changes.
void drawFullScreenTriangle(float keep);

// drawCircles' share: brings a darkened background back before the circles go over it.
void settleSceneDimBeforeDrawingOver();

// The menu's darkening, from the GUI's render callback.
void drawMenuDim();

// The GUI's first callback, and screenshots and the buffer swap: brings a darkened scene back
// when no menu wanted it this frame.
void settleSceneDim();

// Deletes the program and vertex array (before the GL context goes). The next draw builds them
// again.
void releaseScreenDim();
