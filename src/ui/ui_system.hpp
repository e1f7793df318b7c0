#pragma once
// The GUI core on Dear ImGui: bring-up (context, SDL3 and OpenGL3 back-ends, scale, fonts, style,
// button textures), the GUI part of each frame, and what every screen shares: the choice of the
// screen from the flags, the scale, the fonts and textures, the glowing title and the labelled
// image button. Main thread only.
#include <cstdint>
#include <set>
#include <string>

struct App;
struct ImFont;
struct ImVec2;
struct RenderState;

// The screen drawn in a frame, derived from the flags; the first that applies wins.
enum class UIScreen { Playing, Leaderboard, Tutorial, Calibration, Settings, Credits, MainMenu };

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

// The GUI's state, one for the process (the GUI library's context is process-wide too).
struct UIState {
    float uiScale = 1.0f; // multiplies every GUI size and font size
    UIFonts fonts;
    ButtonTextures textures;
    bool showTutorial = false;
    int tutorialPage = 0;             // 0..4
    int lastAppliedTutorialPage = -1; // -1 while the tutorial is closed
    bool trace = false;               // VIBRELLE_UI_TRACE=1: log where buttons and rows are
    UIScreen tracedScreen = UIScreen::MainMenu;
    int tracedPage = 0;                // the tutorial page traced (a page is a screen of its own)
    int screenFrames = 0;              // frames the current screen has been shown in a row
    std::set<std::string> tracedItems; // ids already traced in this appearance
};
extern UIState gUI;

// min(display content scale (at least 1), max(min(w / 550, h / 900), 1)) for a window of w x h
// drawable pixels: never below 1, never above the display's own scale, held down on small windows.
float computeUiScale(float contentScale, int pixelWidth, int pixelHeight);

// The screen for these flags: Playing, Leaderboard, Tutorial, Calibration, Settings, Credits, else
// MainMenu.
UIScreen screenFor(bool playing, bool showLeaderboard, bool showTutorial, bool showCalibration,
                   bool showSettings, bool showCredits);

// The shader version line for the GUI's renderer that a context of this version accepts:
// "#version 300 es" where ES 3.0 shaders are accepted (4.3 and later, or the ES3 compatibility
// extension), else the newest desktop version of the context ("#version 330 core" on 3.3 to 4.2,
// "#version 150" on 3.2, "#version 130" below).
const char* guiShaderVersion(int major, int minor, bool es3Compatible);

// Brings the GUI up on the render system's window and context. Missing fonts and textures fall
// back (each with its line on stderr); always true. Reads fonts/, textures/ and levels/levels.json
// relative to the working directory.
bool uiInit(RenderState& render);

// The GUI without a window or GL, for tests and tools that build screens and read what they
// would draw: the context, fonts, style and level list at the given scale; no back-ends, no
// textures. The caller sets the display size and renders (or not) itself.
void uiInitWithoutWindow(float uiScale);

// Adds a TrueType file to the GUI's font atlas at `sizePixels`; null, with its line on stderr, when
// the file is missing or not a font.
ImFont* loadUIFont(const char* path, float sizePixels);

// Loads a PNG (or any image stb_image reads) into a new RGBA texture. False when the file is
// missing or not an image; nothing is created then.
bool loadTextureFromFile(const char* path, std::uint32_t& texture, int& width, int& height);

// Starts a GUI frame: the GL back-end, the SDL back-end, then the library.
void uiBeginFrame();

// Builds the GUI of this frame: the screen the flags choose. Takes the game mutex for what it reads
// of the game and the audio system and for what it changes there.
void drawUI(App& app);

// Renders the GUI over the scene, saving and restoring the GL state it changes.
void uiRender();

// Releases the back-ends (those that were brought up), the GUI context and the button textures.
void uiShutdown();

// The animated, glowing title of the full-screen menus, centred near the top.
void drawNeonTitle(const char* text, float hueSpeed, float saturation);

// An image button showing `activeTexture` while pressed and `inactiveTexture` otherwise, with
// `label` centred on it in the button font. True when clicked.
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

// With VIBRELLE_UI_TRACE=1, logs "UI: <id> <x> <y> <w> <h>" for the last item drawn, in window
// pixels, once per appearance of its screen (once its layout has settled; a tutorial page counts as
// a screen), so that tests and scripts can click it.
void uiTraceLastItem(const char* id);
