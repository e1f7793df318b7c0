#include "app/app.hpp"

#include "app/log.hpp"
#include "app/logic_thread.hpp"
#include "audio/stem_layering.hpp"
#include "game/circles.hpp"
#include "game/game_state.hpp"
#include "game/judgement.hpp"
#include "level/level_manifest.hpp"
#include "render/gl_functions.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

// ---- Options ----

static bool envFlag(const char* name) {
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

AppOptions parseAppOptions(int argc, char** argv) {
    AppOptions options;
    options.windowed = envFlag("VIBRELLE_WINDOWED");
    options.autoplay = envFlag("VIBRELLE_AUTOPLAY");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windowed") == 0) {
            options.windowed = true;
        } else if (std::strcmp(argv[i], "--autoplay") == 0) {
            options.autoplay = true;
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

    if (!audioInit(app.audio)) {
        logError(stderr, "Failed to initialize audio system");
        return false;
    }

    WindowOptions window;
    window.fullscreen = !app.options.windowed;
    const int width = app.options.windowed ? 1280 : 1920;
    const int height = app.options.windowed ? 720 : 1080;
    if (!renderInit(app.render, "Vibrelle v0.0.1", width, height, window)) {
        logError(stderr, "Failed to initialize render system");
        return false;
    }
    resetInput(app.input);
    initGameState(app.game, 8);

    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (!loadLevelFromManifest("levels/level.json", app.audio, app.render)) {
            logError(stderr, "Failed to load default level JSON definition (levels/level.json)");
        }
    }

    app.uiVisible = true;
    app.running = true;
    logMessage("Application initialized successfully!");
    return true;
}

// ---- Frame loop ----

// Space: start every stem from the top with the first layer fading in, or stop them all.
static void togglePlayback(App& app) {
    if (!app.audio.playing) {
        playAllStems(app.audio);
        activateFirstStem(app.audio);
        app.game.playing = true;
    } else {
        stopAllStems(app.audio);
        app.game.playing = false;
    }
}

void runFrame(App& app, float dt) {
    pollInput(app.input, app.uiVisible);
    {
        // Gameplay steps and the circle drawing, in frame order, under the game mutex.
        std::lock_guard<std::mutex> lock(app.gameMutex);
        int activeCount = 0;
        for (int i = 0; i < kStemSlots; ++i) {
            const bool active = i < static_cast<int>(app.audio.stems.size()) && app.audio.stems[i].active;
            app.render.stemActive[i] = active;
            activeCount += active ? 1 : 0;
        }
        app.render.activeStemCount = activeCount;
        updateStemVolumes(app.audio, dt);
        updateCircles(app.game, dt);
        if (app.input.togglePlayback) {
            togglePlayback(app);
        }
        if (app.input.toggleGui) {
            app.uiVisible = !app.uiVisible;
        }
        if (app.options.autoplay) {
            autoplayFrame(app.autoplay, app.game, app.input, app.render.height);
        }
        handleGameplayInput(app.game, app.input, app.render.height);
        SDL_GetWindowSize(app.render.window, &app.render.width, &app.render.height);
        beginFrame(app.render);
    }
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
        if (app.input.quitRequested || gLogicStopRequested.load()) {
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
    audioShutdown(app.audio);
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

    if (app->options.autoplay) {
        // The bot plays the default level from the start, as a player pressing Space would.
        autoplayStart(app->autoplay);
        app->input.togglePlayback = true;
    }
    std::thread logic(logicThreadMain, app.get());
    runMainLoop(*app);
    gLogicStopRequested.store(true);
    if (logic.joinable()) {
        logic.join();
        logMessage("Game logic thread joined successfully");
    }
    appShutdown(*app);
    return 0;
}
