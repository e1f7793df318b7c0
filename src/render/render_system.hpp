#pragma once
// Window, OpenGL context and the per-frame clear/draw/swap of the main thread.
#include <SDL3/SDL_video.h>

#include <cstdint>

constexpr int kStemSlots = 8;
// Size in bytes of the uniform block shared by the background and circle shaders (std140).
constexpr int kShaderUniformsSize = 208;

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
    std::uint32_t backgroundVertexArray = 0;
    std::uint32_t uniformBuffer = 0;
    std::uint32_t circleVertexArray = 0;
    float time = 0.0f;     // seconds of render time
    int width = 0;         // drawable size in pixels last applied to the viewport
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
};

// Options of the window, chosen on the command line.
struct WindowOptions {
    bool fullscreen = true; // false: a resizable window of the given size
};

// Opens the window and its GL context (4.6 core requested; 4.5, 4.3, 4.1 and 3.3 core tried in
// turn when a driver refuses it), loads the entry points and sets the base GL state. Each failure
// writes its line to stderr and returns false, leaving what it made for renderShutdown.
bool renderInit(RenderState& render, const char* title, int width, int height,
                const WindowOptions& options = WindowOptions{});

// Logs the GL strings, refuses a major version below 3, sets viewport, clear colour and the
// background vertex array. Needs the entry points.
bool initGLState(RenderState& render);

// True when a context of this version can run the game; otherwise logs why.
bool checkGLVersion(int major, int minor);

// Start of each frame: follows the drawable size, clears, draws the background.
void beginFrame(RenderState& render);

// Presents the frame; the last call of each frame.
void swapBuffers(RenderState& render);

// Releases every non-zero GL name, the context and the window, zeroing each. Safe on a partly
// initialised record.
void renderShutdown(RenderState& render);
