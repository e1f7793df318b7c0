#pragma once
// The application record and the main thread's start-up, frame loop and shut-down.
#include "app/input.hpp"
#include "render/render_system.hpp"

// Choices made on the command line or in the environment.
struct AppOptions {
    bool windowed = false; // --windowed or VIBRELLE_WINDOWED=1: a resizable 1280x720 window
};

// Reads --windowed (and VIBRELLE_WINDOWED=1). Unknown arguments are reported and ignored.
AppOptions parseAppOptions(int argc, char** argv);

// The one application record. Large: keep it in static or heap storage. Created by the main
// function and passed by pointer to every subsystem routine.
struct App {
    RenderState render;
    InputState input;
    bool showLeaderboard = false;
    bool uiVisible = false;
    bool showSettings = false;
    bool showCredits = false;
    bool running = false;
    AppOptions options;
};

// Brings the subsystems up in order; on failure logs the failing step and returns false at once,
// leaving what was brought up to appShutdown.
bool appInit(App& app);

// Runs frames until a quit is requested. Main thread.
void runMainLoop(App& app);

// One frame of the loop with the given frame time (seconds, already capped). Main thread.
void runFrame(App& app, float dt);

// Shuts the subsystems down in reverse order of start-up. Main thread, after the loop.
void appShutdown(App& app);

// The program's main function: start-up, controls text, loop, shut-down. Returns the exit code
// (0, or -1 when start-up failed).
int vibrelleMain(int argc, char** argv);
