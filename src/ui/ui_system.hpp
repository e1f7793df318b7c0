#pragma once
// The GUI core on Dear ImGui: bring-up (context, SDL3 and OpenGL3 back-ends, scale, fonts, style,
// button textures), the start and rendering of each GUI frame, and the GUI's state (gUI): the
// scale, the fonts and textures, which screen was traced. The shared widgets are in widgets.hpp,
// the choice and drawing of the screen in screen_switch.hpp. Main thread only.
#include "base/utf8.hpp"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct ImFont;
struct RenderState;
struct SDL_Window;

// The GUI's fonts, each loaded once at its size for scale 1 (default and bold 36 pixels, title 96,
// buttons 42); the score is the default face drawn at kScoreFontPixels.
constexpr float kScoreFontPixels = 48.0f;
struct UIFonts {
    ImFont* defaultFont = nullptr;
    ImFont* boldFont = nullptr;
    ImFont* titleFont = nullptr;
    ImFont* scoreFont = nullptr;
    ImFont* buttonFont = nullptr;
};

// GL names of the main menu's button images (0 when missing: the buttons still work).
struct ButtonTextures {
    std::uint32_t normalInactive = 0, startInactive = 0, exitInactive = 0;
    std::uint32_t normalActive = 0, startActive = 0, exitActive = 0;
    int width = 0, height = 0; // of the last image loaded
};

// The screens. A frame shows Playing while a round is in play, else the screen chosen (gUI.screen,
// never Playing itself). Results follows every round.
enum class UIScreen {
    Playing,
    Leaderboard,
    Tutorial,
    Calibration,
    Settings,
    Controls,
    Credits,
    Results,
    AddLevel,
    MainMenu
};
// The tutorial's pages; gUI.tutorialPage is one of 0..kTutorialPages-1.
constexpr int kTutorialPages = 5;

// The name field's text: at most kMaxNameBytes (64) bytes and a terminating zero.
constexpr std::size_t kPlayerNameBufferSize = kMaxNameBytes + 1;

// The player key, on the Settings name heading's line: the key the player holds for the current
// leaderboard server and name, hidden until "Show key" is pressed, and a field that takes a key
// pasted from another computer, stored with the name by Save. Reset when the screen is left.
struct SettingsKeyState {
    bool loaded = false;   // read from prefs.json for this visit (cleared when a new key is stored)
    std::string key;       // held for the current server and name, "" when none
    bool revealed = false; // "Show key" pressed in this visit
    char pasted[64] = {};  // the paste field (longer than a key, so that a wrong paste shows as one)
    std::string message;   // what the last Save said about a pasted key, "" when nothing
};

// The Settings screen's fields for one visit.
struct SettingsScreenState {
    char playerName[kPlayerNameBufferSize] = {}; // the name field
    bool playerNameLoaded = false; // holds the stored name; cleared by Back and Credits (edits dropped)
    SettingsKeyState key;
};

// The Controls screen's capture: the cell waiting for its key, and what the last key pressed for it
// was told (a refusal), for one visit.
struct ControlsScreenState {
    int capturingCell = -1; // the grid cell (lane * 3 + row) waiting for a key, -1 when none
    std::string message;    // why the last key was refused, "" when none
};

// The Add Level screen's fields, kept between visits until a level is made. The stems come from
// the folder in `folder`, or from the audio files dropped on the window (`files`, while not empty).
constexpr std::size_t kAddLevelPathBytes = 1024;
struct AddLevelScreenState {
    char folder[kAddLevelPathBytes] = {};
    char title[128] = {};
    char tempo[16] = {};            // BPM as typed; blank: estimated
    std::vector<std::string> files; // dropped audio files (paths)
    std::vector<std::string> stems; // the stems' file names, as listed
    std::vector<int> kinds;         // per stem: 0 Auto, then drums, bass, pad, melodic
    std::string listedFrom;         // the folder `stems` was listed from ("" for dropped files)
    bool titleTyped = false;        // the player typed the title: a new folder keeps it
    std::string notice;             // why Make Level was refused (the tempo), "" when nothing
    bool browseUnavailable = false; // the folder dialog failed once: the path field alone
    bool browsing = false;          // the folder dialog is open
};

// The GUI's state, one for the process (the GUI library's context is process-wide too).
// The pause overlay's tracing: it comes and goes within the round's screen, so each showing of the
// panel, or of the countdown, is an appearance of its own (ui/pause_overlay.cpp).
struct OverlayTrace {
    int lastFrame = -2;     // the GUI frame it was last drawn in
    bool countdown = false; // the appearance is the countdown's
    int frames = 0;         // frames of this appearance, this one included
};

struct UIState {
    float uiScale = 1.0f;                // multiplies every GUI size and font size (GUI units: window points)
    float userScale = 1.0f;              // the player's "UI Scale" setting, kMinUserUiScale..kMaxUserUiScale
    bool portrait = false;               // the window is taller than wide: the menu lays out in one column
    int pixelWidth = 0, pixelHeight = 0; // the drawable size the scale was chosen for
    float contentScale = 0.0f;           // and the display's content scale
    float appliedUserScale = 0.0f;       // and the player's scale
    UIFonts fonts;
    ButtonTextures textures;
    UIScreen screen = UIScreen::MainMenu; // the screen chosen: changed only through goToScreen
    int tutorialPage = 0;                 // 0..kTutorialPages-1, changed only through goToScreen
    SettingsScreenState settings;         // the Settings screen's fields
    ControlsScreenState controls;         // the Controls screen's capture
    AddLevelScreenState addLevel;         // the Add Level screen's fields
    int leaderboardLevel = 0;             // the leaderboard screen's chosen level
    bool trace = false;                   // VIBRELLE_UI_TRACE=1: log where buttons and rows are
    UIScreen tracedScreen = UIScreen::MainMenu;
    int tracedPage = 0;                // the tutorial page traced (a page is a screen of its own)
    bool tracedLoading = false;        // the loading notice traced (a screen of its own too)
    int screenFrames = 0;              // frames the current screen has been shown in a row
    std::set<std::string> tracedItems; // ids already traced in this appearance
    bool traceSuspended = false;       // items drawn under an overlay are not traced
    OverlayTrace pauseTrace;           // the pause overlay's appearances
    // The traced item (ui_trace.hpp) to put the keyboard focus on once it shows, shown as when the
    // player moved it there (--focus, for pictures); "" when none.
    std::string focusRequest;
};
extern UIState gUI;

// Every screen is laid out for a 1920 x 1080 window (landscape) or 1080 x 1920 (portrait) at
// scale 1: measured at scale 1, the tallest screen (Settings) needs 1080 lines and the widest rows
// (the main menu's two columns, the Settings rows) 1920 pixels, and in portrait the one-column
// menu and the wrapped panels fit 1080 pixels across and 1920 down.
constexpr float kDesignLongSide = 1920.0f;
constexpr float kDesignShortSide = 1080.0f;
// No text is drawn smaller than this; the smallest font is 36 pixels at scale 1.
constexpr float kMinFontPixels = 14.0f;
constexpr float kMinUiScale = kMinFontPixels / 36.0f;
// The player's "UI Scale" setting, a factor on the fitted scale.
constexpr float kMinUserUiScale = 0.8f;
constexpr float kMaxUserUiScale = 1.5f;

// The GUI scale, in drawable pixels per design pixel, for a window of w x h drawable pixels on a
// display of `contentScale` with the player's `userScale`:
//   fit  = min(long side / 1920, short side / 1080)   the largest scale at which every screen fits
//   base = min(max(contentScale, 1), fit)             the display's own scale, held down to fit
//   scale = max(kMinUiScale, min(base * userScale, fit))
// So the GUI shrinks with a small window and grows with a dense display, but never past what the
// window holds; the player's factor works within that. Below 747 x 420 (420 x 747 upright) the
// fit is under kMinUiScale: text stays at 14 pixels and the screens' panels scroll instead.
float computeUiScale(float contentScale, int pixelWidth, int pixelHeight, float userScale = 1.0f);

// Follows the window: when its drawable size, its display's content scale or the player's scale
// (gUI.userScale) differ from those the scale was chosen for, chooses it again and re-applies the style and
// the font scale (fonts are drawn at any size from the one loaded copy: nothing is rebuilt). Logs "UI scale:
// S for W x H (content scale C, player's scale U)" when it changes. Cheap when nothing changed: call once per
// frame before uiBeginFrame. Main thread.
void uiFollowWindow(SDL_Window* window);

// Sets the scale directly (GUI units per design pixel), re-applying style and font scale. Main
// thread, with a GUI context.
void uiApplyScale(float uiScale);

// The shader version line for the GUI's renderer that a context of this version accepts:
// "#version 300 es" where ES 3.0 shaders are accepted (4.3 and later, or the ES3 compatibility
// extension), else the newest desktop version of the context ("#version 330 core" on 3.3 to 4.2,
// "#version 150" on 3.2, "#version 130" below).
const char* guiShaderVersion(int major, int minor, bool es3Compatible);

// The colour of the keyboard and gamepad focus (RGBA), for the library's cursor and the game's own
// rings round its image buttons.
constexpr float kFocusColour[4] = {0.35f, 0.95f, 1.0f, 1.0f};

// Keyboard and gamepad navigation of the GUI (arrows, Tab, Enter; D-pad, A, B) on or off. It is on
// from start-up; the app turns it off while a round plays (the keys and the pad's buttons are the
// round's then), which also hides the focus. Main thread, with a GUI context, between frames.
void uiSetNavigation(bool enabled);

// Brings the GUI up on the render system's window and context. Missing fonts and textures fall
// back (each with its line on stderr); always true. Reads fonts/ and textures/ relative to the
// working directory.
bool uiInit(RenderState& render);

// The GUI without a window or GL, for tests and tools that build screens and read what they
// would draw: the context, fonts and style at the given scale; no back-ends, no
// textures. The caller sets the display size and renders (or not) itself.
void uiInitWithoutWindow(float uiScale);

// Adds a TrueType file to the GUI's font atlas at `sizePixels` (its size at scale 1); null, with its line on
// stderr, when the file is missing or not a font.
ImFont* loadUIFont(const char* path, float sizePixels);

// Loads a PNG (or any image stb_image reads) into a new RGBA texture. False when the file is
// missing or not an image; nothing is created then.
bool loadTextureFromFile(const char* path, std::uint32_t& texture, int& width, int& height);

// Starts a GUI frame: the GL back-end, the SDL back-end, then the library.
void uiBeginFrame();

// Renders the GUI over the scene, saving and restoring the GL state it changes.
void uiRender();

// Releases the back-ends (those that were brought up), the GUI context and the button textures.
void uiShutdown();

// Chooses the screen the GUI shows when no round is in play, and for the tutorial its page (0 to
// kTutorialPages - 1; ignored for other screens). The one way screens, hot keys and the app change
// screens: when the screen or the tutorial's page changed, it calls context.screenChanged (when
// set), which runs the steps that go with leaving and entering screens. `next` must not be
// Playing: a round shows by itself (nothing happens then). Main thread.
struct ScreenContext;
void goToScreen(const ScreenContext& context, UIScreen next, int tutorialPage = 0);
