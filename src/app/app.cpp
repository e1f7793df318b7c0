#include "app/app.hpp"

#include "app/log.hpp"
#include "render/gl_functions.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

// ---- Options ----

static bool envFlag(const char* name) {
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

AppOptions parseAppOptions(int argc, char** argv) {
    AppOptions options;
    options.windowed = envFlag("VIBRELLE_WINDOWED");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windowed") == 0) {
            options.windowed = true;
        } else {
            logError(stderr, "Ignoring unknown argument: %s", argv[i]);
        }
    }
    return options;
}

// ---- Start-up ----

bool appInit(App& app) {
    if (!SDL_Init(SDL_INIT_VIDEO)) {
        logError(stderr, "Failed to initialize SDL: %s", SDL_GetError());
        return false;
    }
    SDL_SetHint("SDL_TOUCH_MOUSE_EVENTS", "1");
    logMessage("SDL initialized successfully.");

    WindowOptions window;
    window.fullscreen = !app.options.windowed;
    const int width = app.options.windowed ? 1280 : 1920;
    const int height = app.options.windowed ? 720 : 1080;
    if (!renderInit(app.render, "Vibrelle v0.0.1", width, height, window)) {
        logError(stderr, "Failed to initialize render system");
        return false;
    }
    resetInput(app.input);

    app.uiVisible = true;
    app.running = true;
    logMessage("Application initialized successfully!");
    return true;
}

// ---- Frame loop ----

void runFrame(App& app, float dt) {
    (void)dt;
    pollInput(app.input, app.uiVisible);
    if (app.input.toggleGui) {
        app.uiVisible = !app.uiVisible;
    }
    SDL_GetWindowSize(app.render.window, &app.render.width, &app.render.height);

    beginFrame(app.render);
    gGL.glUseProgram(0);
    gGL.glBindVertexArray(0);
    gGL.glBindBuffer(GL_UNIFORM_BUFFER, 0);
    gGL.glDisable(GL_BLEND);

    swapBuffers(app.render);
    endInputFrame(app.input);
}

void runMainLoop(App& app) {
    Uint64 previous = SDL_GetPerformanceCounter();
    const double frequency = static_cast<double>(SDL_GetPerformanceFrequency());
    do {
        if (app.input.quitRequested) {
            break;
        }
        const Uint64 now = SDL_GetPerformanceCounter();
        float dt = static_cast<float>(static_cast<double>(now - previous) / frequency);
        previous = now;
        // A stall must not make animations jump.
        dt = std::min(dt, 1.0f / 30.0f);
        runFrame(app, dt);
    } while (app.running);
}

// ---- Shut-down ----

void appShutdown(App& app) {
    std::fputs("Shutting down application...\n", stdout);
    std::fflush(stdout);
    renderShutdown(app.render);
    SDL_Quit();
    app.running = false;
}

int vibrelleMain(int argc, char** argv) {
    auto app = std::make_unique<App>();
    app->options = parseAppOptions(argc, argv);
    if (!appInit(*app)) {
        logError(stderr, "Failed to initialize application");
        return -1;
    }
    logMessage("Controls:");
    logMessage("  Tap - Hit on beat (when playing)");
    logMessage("  UI buttons for other controls");

    runMainLoop(*app);
    appShutdown(*app);
    return 0;
}
