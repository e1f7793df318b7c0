#include "render/render_system.hpp"

#include "base/log.hpp"
#include "render/background.hpp"
#include "render/circle_renderer.hpp"
#include "render/gl_functions.hpp"
#include "render/screen_dim.hpp"
#include "render/text_renderer.hpp"

#include <SDL3/SDL.h>

#include <cstdio>

// ---- Start-up ----

// Tries the core profiles from newest to oldest: Mesa's llvmpipe, for one, offers 4.5 and refuses
// a 4.6 request outright.
static SDL_GLContext createContext(SDL_Window* window) {
    static const int kVersions[][2] = {{4, 6}, {4, 5}, {4, 3}, {4, 1}, {3, 3}};
    for (const auto& version : kVersions) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, version[0]);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, version[1]);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        if (SDL_GLContext context = SDL_GL_CreateContext(window)) {
            return context;
        }
    }
    return nullptr;
}

bool renderInit(RenderState& render, const char* title, int width, int height, const WindowOptions& options) {
    SDL_WindowFlags flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIGH_PIXEL_DENSITY;
    flags |= options.fullscreen ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_RESIZABLE;
    render.window = SDL_CreateWindow(title, width, height, flags);
    if (!render.window) {
        logError(stderr, "Failed to create window: %s", SDL_GetError());
        return false;
    }
    render.glContext = createContext(render.window);
    if (!render.glContext) {
        logError(stderr, "Failed to create OpenGL context: %s", SDL_GetError());
        return false;
    }
    if (!loadGLFunctions()) {
        logError(stderr, "Failed to load OpenGL functions");
        return false;
    }
    SDL_GL_SetSwapInterval(1);
    // Pixels, not points: the viewport, the uniforms, circle placement and input all share it.
    SDL_GetWindowSizeInPixels(render.window, &render.width, &render.height);
    if (!options.fullscreen && render.width > 0 && render.height > 0 &&
        (render.width != width || render.height != height)) {
        // A window on a high-density display is sized in points: ask again so that its drawable
        // area has the pixels asked for.
        int pointWidth = 0, pointHeight = 0;
        SDL_GetWindowSize(render.window, &pointWidth, &pointHeight);
        SDL_SetWindowSize(render.window, width * pointWidth / render.width,
                          height * pointHeight / render.height);
        SDL_SyncWindow(render.window);
        SDL_GetWindowSizeInPixels(render.window, &render.width, &render.height);
    }
    if (!initGLState(render)) {
        logError(stderr, "Failed to initialize OpenGL");
        return false;
    }

    if (!initBackgroundShaders(render)) {
        logError(stderr, "Failed to initialize shaders");
        return false;
    }
    if (!initCircleRenderer(render)) {
        logError(stderr, "Failed to initialize circle rendering");
        return false;
    }
    if (!initTextRenderer(render)) {
        logError(stderr, "Failed to initialize text rendering");
        return false;
    }
    if (!loadFontAtlas(render, "fonts/Orbitron-Regular.ttf", 32.0f, "fonts/Roboto-Regular.ttf")) {
        logError(stderr, "Failed to load font atlas, trying fallback font");
        if (!loadFontAtlas(render, "fonts/Roboto-Regular.ttf", 32.0f)) {
            logError(stderr, "Failed to load fallback font atlas");
            return false;
        }
    }

    gGL.glGenBuffers(1, &render.uniformBuffer);
    gGL.glBindBuffer(GL_UNIFORM_BUFFER, render.uniformBuffer);
    gGL.glBufferData(GL_UNIFORM_BUFFER, kShaderUniformsSize, nullptr, GL_DYNAMIC_DRAW);
    if (gGL.glBindBufferBase) {
        gGL.glBindBufferBase(GL_UNIFORM_BUFFER, 0, render.uniformBuffer);
    }
    if (!checkGLError("Uniform buffer creation")) {
        logError(stderr, "Failed to create uniform buffer");
        return false;
    }
    render.time = 0.0f;
    render.frameCount = 0;
    setStemSlotDefaults(render);
    fillShaderUniforms(render);

    logMessage("OpenGL render system initialized successfully!");
    logMessage("OpenGL Version: %s", reinterpret_cast<const char*>(gGL.glGetString(GL_VERSION)));
    logMessage("GLSL Version: %s",
               reinterpret_cast<const char*>(gGL.glGetString(GL_SHADING_LANGUAGE_VERSION)));
    return true;
}

static const char* glText(GLenum name) {
    const GLubyte* text = gGL.glGetString ? gGL.glGetString(name) : nullptr;
    return text ? reinterpret_cast<const char*>(text) : "";
}

bool checkGLVersion(int major, int minor) {
    if (major < 3) {
        logError(stderr, "OpenGL ES 3.0 or higher required, but found %d.%d", major, minor);
        return false;
    }
    return true;
}

bool initGLState(RenderState& render) {
    logMessage("OpenGL Vendor: %s", glText(GL_VENDOR));
    logMessage("OpenGL Renderer: %s", glText(GL_RENDERER));
    logMessage("OpenGL Version: %s", glText(GL_VERSION));
    std::fflush(stdout);
    GLint major = 0, minor = 0;
    if (gGL.glGetIntegerv) {
        gGL.glGetIntegerv(GL_MAJOR_VERSION, &major);
        gGL.glGetIntegerv(GL_MINOR_VERSION, &minor);
    }
    render.glMajorVersion = major;
    render.glMinorVersion = minor;
    if (!checkGLVersion(major, minor)) {
        return false;
    }
    gGL.glViewport(0, 0, render.width, render.height);
    if (gGL.glClearColor) {
        gGL.glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    }
    gGL.glGenVertexArrays(1, &render.backgroundVertexArray);
    gGL.glBindVertexArray(render.backgroundVertexArray);
    return checkGLError("OpenGL initialization");
}

// ---- Per frame ----

void beginFrame(RenderState& render) {
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(render.window, &width, &height);
    if (width != render.width || height != render.height) {
        render.width = width;
        render.height = height;
        gGL.glViewport(0, 0, width, height);
        fillShaderUniforms(render);
    }
    uploadShaderUniforms(render);
    gGL.glClear(GL_COLOR_BUFFER_BIT);
    // Without a background program there is nothing to stretch over the screen: a core
    // profile draw with program 0 is undefined.
    if (render.backgroundProgram != 0) {
        // After a menu frame the menu is most likely still up: the background comes out already
        // darkened as it would under the menu's pass, and that pass is spared (screen_dim.hpp).
        const float keep = backgroundDimForFrame(gGL.glBlendColor != nullptr);
        gGL.glUseProgram(render.backgroundProgram);
        // The block carries each slot's value and active flag; the colours come as the same
        // array the circles get, for any background that declares it.
        const GLint colors = gGL.glGetUniformLocation(render.backgroundProgram, "neonColors");
        if (colors != -1) {
            gGL.glUniform4fv(colors, kStemSlots, &render.stemColors[0][0]);
        }
        gGL.glBindVertexArray(render.backgroundVertexArray);
        drawFullScreenTriangle(keep);
    } else {
        backgroundDimForFrame(false); // only the clear colour: the menu's pass darkens it
    }
    checkGLError("Frame rendering");
}

void swapBuffers(RenderState& render) {
    settleSceneDim(); // a frame without its menu after all shows its scene undarkened
    SDL_GL_SwapWindow(render.window);
}

// ---- Shut-down ----

static void deleteBuffer(std::uint32_t& name) {
    if (name != 0) {
        gGL.glDeleteBuffers(1, &name);
        name = 0;
    }
}
static void deleteVertexArray(std::uint32_t& name) {
    if (name != 0) {
        gGL.glDeleteVertexArrays(1, &name);
        name = 0;
    }
}
static void deleteProgram(std::uint32_t& name) {
    if (name != 0) {
        gGL.glDeleteProgram(name);
        name = 0;
    }
}
static void deleteShader(std::uint32_t& name) {
    if (name != 0) {
        gGL.glDeleteShader(name);
        name = 0;
    }
}
static void deleteTexture(std::uint32_t& name) {
    if (name != 0) {
        glDeleteTextures(1, &name);
        name = 0;
    }
}

void renderShutdown(RenderState& render) {
    deleteBuffer(render.textVertexBuffer);
    deleteVertexArray(render.textVertexArray);
    deleteTexture(render.fontTexture);
    deleteProgram(render.textProgram);
    deleteShader(render.textVertexShader);
    deleteShader(render.textFragmentShader);
    deleteVertexArray(render.circleVertexArray);
    deleteProgram(render.circleProgram);
    deleteShader(render.circleVertexShader);
    deleteShader(render.circleFragmentShader);
    deleteBuffer(render.uniformBuffer);
    deleteVertexArray(render.backgroundVertexArray);
    // A level's background may be in use: the built-in one is released after it.
    const bool custom = render.backgroundProgram != render.builtinBackgroundProgram;
    deleteProgram(render.backgroundProgram);
    deleteShader(render.backgroundVertexShader);
    deleteShader(render.backgroundFragmentShader);
    if (custom) {
        deleteProgram(render.builtinBackgroundProgram);
        deleteShader(render.builtinBackgroundFragmentShader);
    }
    render.builtinBackgroundProgram = 0;
    render.builtinBackgroundFragmentShader = 0;
    if (render.glContext) {
        SDL_GL_DestroyContext(render.glContext);
        render.glContext = nullptr;
    }
    if (render.window) {
        SDL_DestroyWindow(render.window);
        render.window = nullptr;
    }
}
