#pragma once
// Window, OpenGL context and the per-frame clear/draw/swap of the main thread.
#include "render/circle_effects.hpp"
#include "render/shader_uniforms.hpp"

#include <SDL3/SDL_video.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr int kStemSlots = 8;
// Size in bytes of the uniform block shared by the background and circle shaders (std140).
constexpr int kShaderUniformsSize = static_cast<int>(sizeof(ShaderUniforms));

// How a level's background shader has been doing since it was swapped in (see background.hpp).
struct BackgroundWatch {
    int warmupFrames = 30;    // frames not counted after a swap
    int slowFrames = 10;      // slow frames in a row that bring the built-in background back
    double slowMs = 250.0;    // a frame slower than this is slow
    int framesSinceSwap = 0;  // counted frames so far, up to warmupFrames
    int slowStreak = 0;       // slow frames in a row after the warm-up
    double slowTotalMs = 0.0; // their time
};

// One baked character of the text renderer's atlas.
struct Glyph {
    float width = 0.0f, height = 0.0f;    // box size in atlas pixels
    float uMin = 0.0f, vMin = 0.0f;       // texture coordinates of the box's top left
    float uMax = 0.0f, vMax = 0.0f;       // and bottom right
    float advance = 0.0f;                 // pen advance, pixels
    float xOffset = 0.0f, yOffset = 0.0f; // box's top left from the pen on the baseline
};

// Where the circles are drawn while the tutorial shows them as a demonstration, clear of its text
// and buttons: a circle placed anywhere in the drawable area is drawn at the same relative place in
// `centres`, its radii multiplied by `radiusScale` (so that its ring and glow stay in the area the
// tutorial keeps free). Off: circles are drawn where they are.
struct CircleArea {
    bool enabled = false;
    float left = 0.0f, bottom = 0.0f, right = 0.0f, top = 0.0f; // centres' range: pixels, origin bottom left
    float radiusScale = 1.0f;
};

// Where a circle at (x, y) with radius `radius` (drawable pixels, origin bottom left, in a drawable
// area of width x height) is drawn under `area`: unchanged when the area is off.
void mapToCircleArea(const CircleArea& area, int width, int height, float& x, float& y, float& radius);

// Everything the drawing routines work on. Starts zeroed; GL names are 0 when absent.
// Owned by App; main thread only, except the stem slots (see the game mutex in app.hpp).
struct RenderState {
    SDL_Window* window = nullptr;
    SDL_GLContext glContext = nullptr;
    std::uint32_t backgroundVertexShader = 0, backgroundFragmentShader = 0, backgroundProgram = 0;
    std::uint32_t circleVertexShader = 0, circleFragmentShader = 0, circleProgram = 0;
    std::uint32_t textVertexShader = 0, textFragmentShader = 0, textProgram = 0;
    std::uint32_t textVertexArray = 0, textVertexBuffer = 0;
    std::uint32_t fontTexture = 0;
    int fontAtlasWidth = 0, fontAtlasHeight = 0;
    std::map<int, Glyph> glyphs;        // by Unicode code point, once an atlas is loaded
    float solidU = 0.0f, solidV = 0.0f; // texture coordinate inside the atlas's solid block
    std::uint32_t backgroundVertexArray = 0;
    std::uint32_t uniformBuffer = 0;
    std::uint32_t circleVertexArray = 0;
    ShaderUniforms uniforms{}; // CPU copy of the uniform block
    float time = 0.0f;         // seconds of render time
    // Drawable size in pixels last applied to the viewport: the one size every part of the game
    // uses (circle placement, input, uniforms). Never the window size in points.
    int width = 0;
    int height = 0;
    int frameCount = 0;
    // Per-stem animation slots for the background.
    float stemValue[kStemSlots] = {};
    float stemTarget[kStemSlots] = {};
    float stemBase[kStemSlots] = {};
    float stemPeak[kStemSlots] = {};
    float stemLerpSpeed[kStemSlots] = {};
    bool stemPulsing[kStemSlots] = {};
    bool stemActive[kStemSlots] = {};
    int activeStemCount = 0;
    float intensity = 0.0f;
    float stemColors[kStemSlots][4] = {};

    // The game's own background, kept while a level's shader is in use so that it can come back.
    std::uint32_t builtinBackgroundProgram = 0, builtinBackgroundFragmentShader = 0;
    std::string customBackgroundName; // the level package whose background is in use
    BackgroundWatch backgroundWatch;  // frame times since that background came in

    int glMajorVersion = 0, glMinorVersion = 0; // of the context actually obtained
    float previousFillTime = 0.0f;              // render time at the previous uniform fill
    CircleEffects circleEffects;                // hit bursts drawn with the circles
    CircleArea circleArea;                      // set by the tutorial's pages, off otherwise
    std::vector<float> textVertices;            // drawText's scratch, kept between calls
};

// Options of the window, chosen on the command line.
struct WindowOptions {
    bool fullscreen = true; // false: a resizable window of the given size in drawable pixels
};

// Opens the window and its GL context (4.6 core requested; 4.5, 4.3, 4.1 and 3.3 core tried in
// turn when a driver refuses it), loads the entry points, sets the base GL state, builds the
// background, circle and text programs, bakes the font atlas (Orbitron with Roboto for the letters
// it lacks, else Roboto alone, from fonts/), creates the uniform buffer and gives the stem slots
// their defaults. Shader and font paths are relative to the working directory. Each failure writes
// its line to stderr and returns false, leaving what it made for renderShutdown.
bool renderInit(RenderState& render, const char* title, int width, int height,
                const WindowOptions& options = WindowOptions{});

// Logs the GL strings, refuses a major version below 3, sets viewport, clear colour and the
// background vertex array. Needs the entry points.
bool initGLState(RenderState& render);

// True when a context of this version can run the game; otherwise logs why.
bool checkGLVersion(int major, int minor);

// Start of each frame: follows the drawable size (viewport and a refill of the uniform block when
// it changed), uploads the uniform block, clears and draws the background, already darkened when
// the last frame's menu is likely still up (render/screen_dim.hpp). The drawable size is shared
// with the logic thread's spawner: call with the game mutex held.
void beginFrame(RenderState& render);

// Presents the frame; the last call of each frame. A background darkened ahead for a menu that
// did not come is brought back first.
void swapBuffers(RenderState& render);

// Releases every non-zero GL name, the context and the window, zeroing each. Safe on a partly
// initialised record.
void renderShutdown(RenderState& render);
