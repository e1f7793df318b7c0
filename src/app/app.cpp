#include "app/app.hpp"

#include "app/app_screens.hpp"
#include "app/game_data.hpp"
#include "app/level_adding.hpp"
#include "app/logic_thread.hpp"
#include "app/player_key_handover.hpp"
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/circles.hpp"
#include "game/game_state.hpp"
#include "game/judgement.hpp"
#include "game/master_clock.hpp"
#include "game/round_progress.hpp"
#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "level/level_manifest.hpp"
#include "level/round_setup.hpp"
#include "prefs/preferences.hpp"
#include "render/background.hpp"
#include "render/circle_renderer.hpp"
#include "render/gl_functions.hpp"
#include "render/screenshot.hpp"
#include "render/shader_uniforms.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/main_menu.hpp"
#include "ui/screen_switch.hpp"
#include "ui/settings_screen.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <thread>

// ---- Options ----

static bool envFlag(const char* name) {
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

// A number of seconds: finite and not negative.
static bool parseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.0) || value > 1e9) {
        return false;
    }
    seconds = value;
    return true;
}

// VIBRELLE_AUDIO_PERIOD: scripts choose the device period without touching the player's settings.
static unsigned envAudioPeriod() {
    const char* value = std::getenv("VIBRELLE_AUDIO_PERIOD");
    unsigned frames = 0;
    if (value == nullptr || *value == '\0') {
        return 0;
    }
    if (!parseDevicePeriod(value, frames)) {
        logError(stderr, "Ignoring VIBRELLE_AUDIO_PERIOD=%s: expected a whole number of frames from %u to %u",
                 value, kMinDevicePeriodFrames, kMaxDevicePeriodFrames);
        return 0;
    }
    return frames;
}

bool parseWindowSize(const char* text, int& width, int& height) {
    const auto side = [](const char*& at, int& value) {
        long long n = 0;
        const char* start = at;
        while (*at >= '0' && *at <= '9' && at - start < 6) {
            n = n * 10 + (*at++ - '0');
        }
        value = static_cast<int>(n);
        return at != start && n >= kMinWindowSide && n <= kMaxWindowSide;
    };
    int w = 0, h = 0;
    const char* at = text;
    if (text == nullptr || !side(at, w) || (*at != 'x' && *at != 'X') || !side(++at, h) || *at != '\0') {
        return false;
    }
    width = w;
    height = h;
    return true;
}

AppOptions parseAppOptions(int argc, char** argv) {
    AppOptions options;
    options.windowed = envFlag("VIBRELLE_WINDOWED");
    options.autoplay = envFlag("VIBRELLE_AUTOPLAY");
    options.audioPeriodFrames = envAudioPeriod();
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(argv[i], "--windowed") == 0) {
            options.windowed = true;
        } else if (std::strcmp(argv[i], "--autoplay") == 0) {
            options.autoplay = true;
        } else if (std::strcmp(argv[i], "--autoplay-pad") == 0) {
            options.autoplay = options.autoplayPad = true;
        } else if (std::strcmp(argv[i], "--frame-stats") == 0) {
            options.frameStats = true;
        } else if (std::strcmp(argv[i], "--judge-stats") == 0) {
            options.judgeStats = true;
        } else if (std::strcmp(argv[i], "--hide-gui") == 0) {
            options.hideGui = true;
        } else if (std::strcmp(argv[i], "--window-size") == 0) {
            const char* value = hasValue ? argv[++i] : "";
            if (!parseWindowSize(value, options.windowWidth, options.windowHeight)) {
                options.startupError = std::string("Bad --window-size '") + value +
                                       "': expected WIDTHxHEIGHT in pixels, each from " +
                                       std::to_string(kMinWindowSide) + " to " +
                                       std::to_string(kMaxWindowSide) + " (for example 1280x720)";
            }
            options.windowed = true;
        } else if (std::strcmp(argv[i], "--screen-tour") == 0) {
            options.screenTour = true;
        } else if (std::strcmp(argv[i], "--focus") == 0 && hasValue) {
            options.focus = argv[++i];
        } else if (std::strcmp(argv[i], "--screen") == 0 && hasValue) {
            options.screen = argv[++i];
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && hasValue) {
            options.screenshotPath = argv[++i];
        } else if (std::strcmp(argv[i], "--practice") == 0 && hasValue) {
            const char* value = argv[++i];
            if (!parsePracticeSpeed(value, options.practiceSpeedPercent)) {
                logError(stderr,
                         "Ignoring --practice %s: expected a speed in percent from 50 to 100 in steps of 5",
                         value);
            }
        } else if (std::strcmp(argv[i], "--pause-at") == 0 && hasValue) {
            const char* value = argv[++i];
            if (!parseSeconds(value, options.pauseAt)) {
                logError(stderr, "Ignoring --pause-at %s: expected a number of seconds", value);
            }
        } else if (std::strcmp(argv[i], "--quit-after") == 0 && hasValue) {
            const char* value = argv[++i];
            if (!parseSeconds(value, options.quitAfter)) {
                logError(stderr, "Ignoring --quit-after %s: expected a number of seconds", value);
            }
        } else {
            logError(stderr, "Ignoring unknown argument: %s", argv[i]);
        }
    }
    if (!options.screenshotPath.empty() && options.quitAfter < 0.0) {
        options.quitAfter = 3.0;
    }
    return options;
}

const char* appHelpText() {
    return R"(Usage: vibrelle [OPTION]...
Vibrelle, a rhythm game: circles grow toward their rings in time with the music; tap, click or press
their keys as they meet. Combos bring in the song's next layer; misses take layers away.

Options:
  --windowed              play in a resizable 1280x720 window instead of full screen
  --window-size WxH       a window whose drawable area is W by H pixels (implies --windowed)
  --practice SPEED        rounds start as practice rounds at SPEED percent (50 to 100 in steps of 5)
  --autoplay              a bot plays the default level, as a player pressing Space would
  --autoplay-pad          the bot plays with the circles' gamepad buttons
  --judge-stats           print at exit how far the presses lay from their notes
  --frame-stats           print at exit the frame times and processor use
  --hide-gui              start with the interface hidden (F12 shows it)
  --screen NAME           open a screen from the first frame: settings, calibration, controls,
                          credits, leaderboard, results, addlevel[:running] or tutorial[:PAGE]
  --focus ID              show the keyboard focus on the item ID once it is drawn (for pictures)
  --screenshot FILE       write the last frame to FILE as PNG, then quit (after 3 s by default)
  --quit-after SECONDS    quit after SECONDS
  --pause-at SECONDS      pause the round in play when its song reaches SECONDS
  --screen-tour           show every screen in turn, then quit
  -h, --help              print this help and exit

Environment:
  VIBRELLE_DATA_DIR           the folder of the game's data (levels, shaders, fonts, textures);
                              otherwise the installed data folder, or the checkout's assets/
                              when run from its build tree
  XDG_DATA_HOME               the player's files go in $XDG_DATA_HOME/Kvo/Vibrelle
                              (by default ~/.local/share/Kvo/Vibrelle)
  VIBRELLE_WINDOWED=1         as --windowed
  VIBRELLE_AUTOPLAY=1         as --autoplay
  VIBRELLE_AUDIO_PERIOD=N     the sound device's period in frames (64 to 8192), over the setting
  VIBRELLE_LEADERBOARD_URL    the leaderboard server's base address (https://host/api)
  VIBRELLE_LEADERBOARD_TOKEN  the upload token the server asks for, if any
  VIBRELLE_INSECURE_HTTP=1    send the leaderboard credentials over plain HTTP (local testing)
  VIBRELLE_UI_TRACE=1         log each screen and the places of its items (for tests and pictures)
  SDL_AUDIO_DRIVER, SDL_VIDEO_DRIVER  SDL's choice of sound and video drivers (e.g. dummy)
)";
}

// ---- Start-up ----

// --screen: a menu screen open from the first frame (for pictures and scripts).
static void openScreen(App& app, const std::string& screen) {
    if (screen.empty()) {
        return;
    }
    if (screen == "settings") {
        goToScreen(app, UIScreen::Settings);
    } else if (screen == "calibration") {
        calibrationOpen(app);
    } else if (screen == "controls") {
        goToScreen(app, UIScreen::Controls);
    } else if (screen == "credits") {
        goToScreen(app, UIScreen::Credits);
    } else if (screen == "leaderboard") {
        goToScreen(app, UIScreen::Leaderboard);
    } else if (screen == "results") {
        showSampleResults(app);
    } else if (screen == "addlevel" || screen == "addlevel:running") {
        showAddLevel(app, screen == "addlevel:running");
    } else if (screen.rfind("tutorial", 0) == 0) {
        const int page = screen.size() == 10 && screen[8] == ':' ? screen[9] - '0' : 0;
        goToScreen(app, UIScreen::Tutorial, page >= 0 && page < kTutorialPages ? page : 0);
    } else {
        logError(stderr,
                 "Ignoring --screen %s: expected settings, controls, credits, leaderboard, results, "
                 "addlevel[:running] or tutorial[:0-4]",
                 screen.c_str());
    }
}

bool appInit(App& app) {
    if (!SDL_Init(SDL_INIT_VIDEO)) {
        logError(stderr, "Failed to initialize SDL: %s", SDL_GetError());
        return false;
    }
    SDL_SetHint("SDL_TOUCH_MOUSE_EVENTS", "1");
    logMessage("SDL initialized successfully.");

    // The period the player chose in Settings, unless a script set one.
    const unsigned period = app.options.audioPeriodFrames != 0 ? app.options.audioPeriodFrames
                                                               : loadAudioPeriodFrames(kDevicePeriodFrames);
    if (!audioInit(app.audio, AudioBackend::Auto, period)) {
        logError(stderr, "Failed to initialize audio system");
        return false;
    }

    WindowOptions window;
    window.fullscreen = !app.options.windowed;
    const bool sized = app.options.windowWidth > 0 && app.options.windowHeight > 0;
    const int width = sized ? app.options.windowWidth : app.options.windowed ? 1280 : 1920;
    const int height = sized ? app.options.windowHeight : app.options.windowed ? 720 : 1080;
    // The player's own factor on the GUI's scale, before the GUI chooses its scale.
    gUI.userScale = loadUiScale(1.0f);
    if (!renderInit(app.render, "Vibrelle v0.0.1", width, height, window)) {
        logError(stderr, "Failed to initialize render system");
        return false;
    }
    if (!uiInit(app.render)) {
        logError(stderr, "Failed to initialize UI system");
        return false;
    }
    gUI.focusRequest = app.options.focus;
    // Without gamepads the game still runs (the line says why).
    gamepadsInit(app.gamepads);
    // The player's folder (that of prefs.json) holds their results, replays and own levels.
    app.prefsPath = getPrefsPath();
    app.levels.list = loadMenuLevels(playerDataFolder(app));
    resetInput(app.input);
    initGameState(app.game, 8);
    app.game.playerName = loadPlayerName("Player");
    app.game.keyboardGameplay = loadKeyboardGameplay(true);
    // The player's grid, and on the circles what the player's own layout prints on its keys.
    app.input.bindings = loadKeyBindings();
    app.game.cellLabels = cellLabels(app.input.bindings);
    // Before any sound: the loudness the player chose.
    app.audio.engine->setGlobalVolume(loadMusicVolume(1.0f));
    app.audio.clockOffset = loadAudioOffsetMs(0) / 1000.0;
    // Practice goes on at the speed it last had, unless the command line asks for one.
    app.practice.enabled = app.options.practiceSpeedPercent != 0;
    app.practice.speedPercent = app.practice.enabled ? app.options.practiceSpeedPercent
                                                     : loadPracticeSpeedPercent(kDefaultPracticeSpeedPercent);
    // Every note the master clock fires pulses its stem's slot of the background.
    app.game.noteCallback = pulseStem;

    // The answer to a round's high-score request comes back on a request thread; it counts only
    // for the round that asked.
    App* self = &app;
    app.game.requestHighScore = [self](const std::string& level, const std::string& player,
                                       std::uint64_t round) {
        fetchPlayerScoreAsync(level, player, [self, round](std::int32_t score) {
            std::lock_guard<std::mutex> lock(self->gameMutex);
            acceptHighScore(self->game, round, score);
        });
    };

    loadDefaultLevel(app);

    app.uiVisible = !app.options.hideGui;
    app.running = true;
    logMessage("Application initialized successfully!");
    httpDatabaseInit();
    // The player's results and the server's board are kept beside prefs.json, apart from each
    // other; results an earlier version kept in the game's data folder are taken over once.
    const std::string folder = playerDataFolder(app);
    gLeaderboardClient.leaderboardPath = folder + "/" + kLeaderboardFileName;
    gLeaderboardClient.cachePath = folder + "/leaderboard_cache.json";
    takeOldResults(kOldLeaderboardPath, gLeaderboardClient.leaderboardPath, app.game.playerName);
    openScreen(app, app.options.screen);
    return true;
}

// ---- Frame loop ----

// Space: start every stem from the top with the first layer fading in, or stop them all.
static void togglePlayback(App& app) {
    if (!app.audio.playing) {
        startRunFromTop(app);
    } else {
        stopAllStems(app.audio);
        setPlaybackSpeed(app.audio, 1.0); // a practice round's slowing ends with it
        app.game.playing = false;
        // The song will start again from its beginning: nothing of this run may stay on screen,
        // be held across the stop, or count as a miss later. Score and combo stay.
        clearRunState(app.game);
    }
}

// With VIBRELLE_UI_TRACE=1, once per second of song while a round is played: the song time at a
// moment of CLOCK_MONOTONIC, "Song clock: S s at T ns", so that a script can time its key presses
// to the notes. The song time is the one an input at that moment is judged at.
static void traceSongClock(App& app) {
    if (!gUI.trace || !roundInPlay(app) || app.pause.paused || app.watch.active) {
        app.songClockTracedAt = -1.0;
        return;
    }
    const double second = std::floor(app.game.songTime);
    if (second == app.songClockTracedAt) {
        return;
    }
    app.songClockTracedAt = second;
    timespec monotonic{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    const std::uint64_t ticks = SDL_GetTicksNS();
    logMessage("Song clock: %.6f s at %lld ns", inputSongTime(app.game, ticks),
               static_cast<long long>(monotonic.tv_sec) * 1000000000LL + monotonic.tv_nsec);
}

void runFrameGameplay(App& app, float dt) {
    // The frame's own song time, read now: circles grow, holds fill and the HUD moves with the
    // clock between the logic thread's ticks.
    refreshSongTime(app.audio, app.game);
    traceSongClock(app);
    int activeCount = 0;
    for (int i = 0; i < kStemSlots; ++i) {
        const bool active = i < static_cast<int>(app.audio.stems.size()) && app.audio.stems[i].active;
        app.render.stemActive[i] = active;
        activeCount += active ? 1 : 0;
    }
    app.render.activeStemCount = activeCount;
    // Under the game mutex: the logic thread's note callback writes the same stem slots.
    advanceRenderState(app.render, dt);
    updateStemVolumes(app.audio, dt);
    // The tutorial's song belongs to the tutorial (even with the interface hidden): Space does not
    // turn it into a round.
    if (app.input.togglePlayback && gUI.screen != UIScreen::Tutorial && !app.pause.paused &&
        !app.watch.active) {
        togglePlayback(app);
    }
    if (app.input.toggleGui) {
        app.uiVisible = !app.uiVisible;
    }
    // The frame's presses and releases join the round at their own song times; the round then
    // applies everything due up to the frame's clock, in time order. Circles spawn into the
    // window as it is now (a watched replay keeps the sizes it recorded).
    if (!app.watch.active) {
        resizeRound(app.game, app.render.width, app.render.height);
    }
    // The inputs are known up to the moment they were polled (a little before the clock was read):
    // the round runs through that, so that one that came later is still on time in the next frame,
    // and through the frame's own inputs (a clock that has not moved since the last frame must not
    // leave them waiting).
    constexpr double kForever = std::numeric_limits<double>::infinity();
    const double polled =
        app.input.polledNs != 0 ? inputSongTime(app.game, app.input.polledNs) : app.game.songTime;
    double through = std::nextafter(std::min(polled, app.game.songTime), kForever);
    if (app.watch.active) {
        watchFrame(app, through); // the recorded inputs, in place of the player's
    } else {
        std::vector<RoundEvent> events = gameplayInputEvents(app.game, app.input, app.render.height);
        if (app.pause.paused) {
            // The round stands where it was paused: presses made before that moment (polled with
            // the Escape that paused) still count, later ones (and the countdown's) do nothing, and
            // a clock still settling after the stop does not carry the round on.
            const std::int64_t pausedUs = songTimeToMicros(app.pause.at);
            events.erase(std::remove_if(events.begin(), events.end(),
                                        [&](const RoundEvent& e) { return e.songTimeUs >= pausedUs; }),
                         events.end());
            through = std::min(through, app.pause.at);
        }
        practiceFrame(app, events, through); // a practice loop's marks, and its jump at B
        queueRoundInputs(app.game, events, through);
    }
    if (!app.game.progress.queued.empty()) {
        through = std::max(
            through,
            std::nextafter(static_cast<double>(app.game.progress.queued.back().songTimeUs) / 1e6, kForever));
        queueRoundInputs(app.game, {}, through);
    }
    advanceRound(app.game, through, audioLayerRequests(app.audio));
    updateCircleLook(app.game, app.game.songTime);
}

// Print Screen: a picture named after the local time in the player's data folder.
static std::string userScreenshotPath() {
    char* folder = SDL_GetPrefPath("Kvo", "Vibrelle");
    if (folder == nullptr) {
        logError(stderr, "Failed to save screenshot: no user data folder (%s)", SDL_GetError());
        return std::string();
    }
    std::string path = std::string(folder) + screenshotFileName(std::time(nullptr));
    SDL_free(folder);
    return path;
}

void runFrame(App& app, float dt) {
    // Only this thread writes prefs.json: keys the uploads received are stored here.
    if (storeReceivedPlayerKeys(app.prefsPath) > 0) {
        gUI.settings.key.loaded = false; // Settings shows the new key
    }
    if (app.options.screenTour) {
        screenTourFrame(app);
    }
    noteScreenForInput(app);
    pollInput(app.input, app.uiVisible, &app.gamepads);
    gamepadsToGui(app.gamepads);
    applyGamepadButtons(app);
    if (!app.input.actions.empty()) {
        // The circles show the pad's glyphs while a pad is what the player used last.
        std::lock_guard<std::mutex> lock(app.gameMutex);
        app.game.lastDevice = app.input.actions.back().device;
    }
    if (app.input.keymapChanged) {
        // Circles spawned from now on carry the new layout's letters.
        const std::array<std::string, kGridCells> labels = cellLabels(app.input.bindings);
        std::lock_guard<std::mutex> lock(app.gameMutex);
        app.game.cellLabels = labels;
    }
    handlePauseKeys(app);
    if (app.options.pauseAt >= 0.0) {
        bool due = false;
        {
            std::lock_guard<std::mutex> lock(app.gameMutex);
            due = roundInPlay(app) && app.game.songTime >= app.options.pauseAt;
        }
        if (due) {
            app.options.pauseAt = -1.0; // once
            pauseRound(app);
        }
    }
    takeDroppedFiles(app, app.input.droppedFiles);
    levelMakingFrame(app);
    pauseFrame(app, dt);
    handleBackKeys(app);
    noticeAudioUnderruns(app.audio);
    noticeLevelStart(app.audio);
    // Drawable pixels, origin top left, as the input record holds them.
    setPointer(app.render, app.input.mouseX, app.input.mouseY, app.input.mousePressed);
    bool watchEnded = false;
    {
        // Gameplay steps and the circle drawing, in frame order, under the game mutex.
        std::lock_guard<std::mutex> lock(app.gameMutex);
        runFrameGameplay(app, dt);
        if (app.watch.active) {
            // A watched press glows where it landed for a moment.
            if (app.game.songTime <= app.watch.markerUntil) {
                setPointer(app.render, app.watch.markerX, app.watch.markerY, true);
            }
            watchEnded = watchedToTheEnd(app);
        }
        beginFrame(app.render);
        drawCircles(app.game, app.render);
    }
    if (watchEnded) {
        stopWatching(app);
    }
    if (gUI.screen == UIScreen::Calibration) {
        calibrationFrame(app);
    }
    gGL.glUseProgram(0);
    gGL.glBindVertexArray(0);
    gGL.glBindBuffer(GL_UNIFORM_BUFFER, 0);
    gGL.glDisable(GL_BLEND);
    // The GUI, over the scene; it takes the game mutex itself for what it reads and changes.
    if (app.uiVisible) {
        // A resized window, one moved to a display of another density, or a new UI Scale.
        uiFollowWindow(app.render.window);
        // The keys and the pad's buttons belong to a round while it plays; its pause overlay is
        // navigated again.
        {
            std::lock_guard<std::mutex> lock(app.gameMutex);
            uiSetNavigation(!roundInPlay(app) || (app.pause.paused && !app.pause.countingDown));
        }
        uiBeginFrame();
        drawUI(app);
        uiRender();
    }

    if (app.input.screenshotRequested && app.pendingScreenshot.empty()) {
        app.pendingScreenshot = userScreenshotPath();
    }
    if (!app.pendingScreenshot.empty()) {
        if (!saveScreenshot(app.render, app.pendingScreenshot) &&
            app.pendingScreenshot == app.options.screenshotPath) {
            app.exitCode = 1; // the picture asked for on the command line is missing
        }
        app.pendingScreenshot.clear();
    }
    swapBuffers(app.render);
    endInputFrame(app.input);
    endGamepadFrame(app.gamepads);
    // A level the menu asked for loads now that the frame saying so is on screen.
    runPendingLevelStart(app);
}

// The refresh rate of the window's display; 0 when SDL does not know it.
static float refreshRateOf(SDL_Window* window) {
    const SDL_DisplayMode* mode = SDL_GetCurrentDisplayMode(SDL_GetDisplayForWindow(window));
    return mode != nullptr ? mode->refresh_rate : 0.0f;
}

void runMainLoop(App& app) {
    const Uint64 start = SDL_GetPerformanceCounter();
    Uint64 previous = start;
    const double frequency = static_cast<double>(SDL_GetPerformanceFrequency());
    const auto secondsSince = [frequency](Uint64 from, Uint64 to) {
        return static_cast<double>(to - from) / frequency;
    };
    do {
        if (app.input.quitRequested || gLogicStopRequested.load()) {
            break;
        }
        const Uint64 now = SDL_GetPerformanceCounter();
        float dt = static_cast<float>(secondsSince(previous, now));
        previous = now;
        // A stall must not make animations jump.
        dt = std::min(dt, 1.0f / 30.0f);

        const double sinceStart = secondsSince(start, now);
        const bool lastFrame = app.options.quitAfter >= 0.0 && sinceStart >= app.options.quitAfter;
        if (lastFrame && !app.options.screenshotPath.empty()) {
            app.pendingScreenshot = app.options.screenshotPath;
        }
        runFrame(app, dt);
        const double work = secondsSince(now, SDL_GetPerformanceCounter());
        if (app.options.frameStats) {
            recordFrame(app.frameStats, sinceStart, work);
        }
        watchBackgroundFrame(app.render, work * 1000.0, app.levelLoadedThisFrame);
        app.levelLoadedThisFrame = false;
        if (lastFrame) {
            app.input.quitRequested = true;
        }
        // Where the swap does not wait for the display, the loop would spin: sleep out the rest of
        // the display period instead.
        const double rest = pacingDelay(work, displayPeriod(refreshRateOf(app.render.window)));
        if (rest > 0.0) {
            SDL_DelayPrecise(static_cast<Uint64>(rest * 1e9));
        }
    } while (app.running);
    if (app.options.frameStats) {
        reportFrameStats(app.frameStats, secondsSince(start, SDL_GetPerformanceCounter()));
        logMessage("Audio underruns: %llu",
                   static_cast<unsigned long long>(app.audio.engine ? app.audio.engine->underrunCount() : 0));
    }
    if (app.options.judgeStats) {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        reportJudgeStats(app.game.pressOffsetsMs);
    }
}

// ---- Shut-down ----

void appShutdown(App& app) {
    logMessage("Shutting down application...");
    std::fflush(stdout);
    app.making.reset(); // a level being made is cancelled, its staging folder removed
    audioShutdown(app.audio);
    uiShutdown();
    gamepadsShutdown(app.gamepads); // after the GUI, which reads the pads until it is shut down
    renderShutdown(app.render);
    SDL_Quit();
    app.running = false;
}

void applyAudioBufferSetting(App& app, unsigned periodFrames) {
    saveAudioPeriodFrames(periodFrames);
    if (app.options.audioPeriodFrames != 0) {
        logMessage("Audio buffer stays at %u frames: VIBRELLE_AUDIO_PERIOD is set",
                   app.options.audioPeriodFrames);
        return;
    }
    if (periodFrames != app.audio.devicePeriodFrames) {
        audioSetDevicePeriod(app.audio, periodFrames);
    }
}

// Finds the game's data (game_data.hpp) and makes it the working directory, which every data path
// is relative to; a file named on the command line is taken from where the game was started.
static bool useGameData(AppOptions& options) {
    std::string looked;
    const std::string data = findGameData(gameDataPlacesNow(), looked);
    if (data.empty()) {
        logError(stderr, "Game data not found; looked in: %s", looked.c_str());
        return false;
    }
    std::error_code error;
    if (!options.screenshotPath.empty()) {
        const std::filesystem::path absolute = std::filesystem::absolute(options.screenshotPath, error);
        if (!error) {
            options.screenshotPath = absolute.string();
        }
    }
    std::filesystem::current_path(data, error);
    if (error) {
        logError(stderr, "Cannot use the game data in %s: %s", data.c_str(), error.message().c_str());
        return false;
    }
    logMessage("Game data: %s", data.c_str());
    return true;
}

int vibrelleMain(int argc, char** argv) {
    auto app = std::make_unique<App>();
    app->options = parseAppOptions(argc, argv);
    if (app->options.help) {
        std::fputs(appHelpText(), stdout);
        return 0;
    }
    if (!app->options.startupError.empty()) {
        logError(stderr, "%s", app->options.startupError.c_str());
        return 2;
    }
    if (!useGameData(app->options)) {
        return -1;
    }
    if (!appInit(*app)) {
        logError(stderr, "Failed to initialize application");
        return -1;
    }
    logMessage("Controls:");
    logMessage("  Tap - Hit on beat (when playing)");
    logMessage("  UI buttons for other controls");

    if (app->options.autoplay) {
        // The bot plays the default level from the start, as a player pressing Space would.
        autoplayBotStart(*app);
        app->input.togglePlayback = true;
    }
    std::thread logic([raw = app.get()] {
        logicThreadMain(raw);
        SDL_CleanupTLS(); // SDL frees a thread's error buffer itself only on its own threads
    });
    runMainLoop(*app);
    autoplayBotStop(*app);
    gLogicStopRequested.store(true);
    if (logic.joinable()) {
        logic.join();
        logMessage("Game logic thread joined successfully");
    }
    // A leaderboard request still under way must not call back into a game that is going away.
    httpDatabaseShutdown(1.0);
    appShutdown(*app);
    return app->exitCode;
}
