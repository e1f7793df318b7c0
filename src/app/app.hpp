#pragma once
// The application record and the main thread's start-up, frame loop and shut-down.
#include "app/autoplay_bot.hpp"
#include "app/calibration_session.hpp"
#include "app/gamepads.hpp"
#include "app/input.hpp"
#include "app/practice.hpp"
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "game/round_summary.hpp"
#include "level/level_making.hpp"
#include "level/level_package.hpp"
#include "level/level_session.hpp"
#include "render/render_system.hpp"

#include "app/frame_stats.hpp"
#include "app/replay_watch.hpp"
#include "app/screen_tour.hpp"
#include "ui/screen_context.hpp"

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>

// Choices made on the command line or in the environment.
struct AppOptions {
    bool windowed = false; // --windowed or VIBRELLE_WINDOWED=1: a resizable 1280x720 window
    int windowWidth = 0;   // --window-size WxH: the window's drawable size (implies --windowed)
    int windowHeight = 0;
    bool screenTour = false;    // --screen-tour: every screen in turn, then quit (screen_tour.hpp)
    std::string startupError;   // a value the game cannot start with, as the message to print
    bool autoplay = false;      // --autoplay or VIBRELLE_AUTOPLAY=1: a bot plays the default level
    bool autoplayPad = false;   // --autoplay-pad: the bot plays with the circles' gamepad buttons
    std::string screenshotPath; // --screenshot FILE: write the last frame as PNG, then quit
    double quitAfter = -1.0;    // --quit-after SECONDS: quit after this long (< 0: never)
    bool frameStats = false;    // --frame-stats: print frame time and CPU use at exit
    bool judgeStats = false;    // --judge-stats: print how far the presses lay from their notes
    bool hideGui = false;       // --hide-gui: start with the interface hidden (F12 shows it)
    // --practice SPEED: rounds start as practice rounds at SPEED percent (50..100 by 5); 0: not.
    std::int32_t practiceSpeedPercent = 0;
    // --pause-at SECONDS: the round in play pauses once its song reaches SECONDS (for pictures of the
    // pause overlay); < 0: never.
    double pauseAt = -1.0;
    // --focus ID: the keyboard focus shown on the traced item ID (e.g. level_row_0, ##settings)
    // once it is drawn, as if the player had moved it there (for pictures).
    std::string focus;
    // --screen NAME: settings, calibration, credits, leaderboard, results, addlevel[:running] or
    // tutorial[:PAGE]
    std::string screen;
    // VIBRELLE_AUDIO_PERIOD=N: the output device's period in frames, over the Audio Buffer
    // setting (0: the setting's).
    unsigned audioPeriodFrames = 0;
    bool help = false; // --help (or -h): print appHelpText() to standard output and exit 0
};

// What --help prints: every option and environment variable the game reads.
const char* appHelpText();

// Reads the options above (and their environment variables). --screenshot without --quit-after
// takes its picture after 3 seconds. Unknown arguments and bad values are reported and ignored,
// except a bad --window-size, which is set in startupError: the game does not start.
AppOptions parseAppOptions(int argc, char** argv);

// "WxH" (decimal, e.g. 1280x720) as a window size of kMinWindowSide to kMaxWindowSide pixels a side;
// false for anything else, the sizes then untouched.
constexpr int kMinWindowSide = 240;
constexpr int kMaxWindowSide = 16384;
bool parseWindowSize(const char* text, int& width, int& height);

// The one application record. Large: keep it in static or heap storage. Created by the main
// function and passed by pointer to every subsystem routine.
//
// The game mutex guards what the main and logic threads share: the game state, the audio
// system's stems and playing flag, and the render state's stem slots and size. The logic thread
// holds it for each tick's work; the main thread for its gameplay steps of the frame (stem flags
// through gameplay input, and drawing the circles), for level loading and for starting and
// stopping playback. Anything else that touches the game state from another thread takes it too.
struct App {
    AudioSystem audio;
    RenderState render;
    InputState input;
    Gamepads gamepads; // the pads plugged in (app/gamepads.hpp)
    bool uiVisible = false;
    CalibrationSession calibration; // its run, while it is open
    bool running = false;
    AppOptions options;
    GameState game;
    LevelSession levels; // the menu's list, the level being played, the tutorial's swap
    std::mutex gameMutex;
    std::atomic<std::uint64_t> logicTicks{0}; // ticks the logic thread has run
    AutoplayBot autoplay;                     // the bot's thread and plan, with options.autoplay
    std::string pendingScreenshot;            // written after the current frame is drawn
    FrameStats frameStats;                    // with options.frameStats
    int exitCode = 0;                         // 1 when a requested screenshot could not be written
    bool levelLoadedThisFrame = false;        // a level was loaded after this frame's swap
    std::future<PackageLoad> levelRead;       // the menu's level start being read (runPendingLevelStart)
    double levelSwitchLockSeconds = 0.0;      // how long the last level start held the game mutex
    std::string prefsPath;                    // prefs.json in the player's data folder (set at start)
    ScreenTour tour;                          // with options.screenTour
    std::int64_t roundStartedAtMs = 0;        // wall clock (Unix ms) the round in play began at
    std::string lastReplayPath;               // the replay of the last round that ended, or ""
    RoundSummary lastResults;                 // the last round's figures, for the results screen
    bool hasResults = false;                  // lastResults holds a round (or the sample)
    PauseState pause;                         // the round's pause (app/round_pause.hpp)
    PracticeState practice;                   // practice rounds and their loop (app/practice.hpp)
    ReplayWatch watch;                        // the replay being watched (app/replay_watch.hpp)
    std::string watchNotice;                  // why the last replay could not be watched, or ""
    // The level being made from stems (app/level_adding.hpp), or the last one that failed or was
    // cancelled; null when none. Its thread is joined when it ends, or by its destructor.
    std::unique_ptr<LevelMaking> making;
    double songClockTracedAt = -1.0; // the whole song second last traced (VIBRELLE_UI_TRACE)
};

// Brings the subsystems up in order; on failure logs the failing step and returns false at once,
// leaving what was brought up to appShutdown.
bool appInit(App& app);

// Runs frames until a quit is requested. Main thread.
void runMainLoop(App& app);

// One frame of the loop with the given frame time (seconds, already capped). Main thread.
void runFrame(App& app, float dt);

// The frame's gameplay steps, in order: stem flags into the render record, the background's
// animation, the stem fades, Space and F12, the gameplay input, then circle life. No GL.
// Main thread, with the game mutex held.
void runFrameGameplay(App& app, float dt);

// Shuts the subsystems down in reverse order of start-up. Main thread, after the loop.
void appShutdown(App& app);

// The Audio Buffer setting chosen in Settings: stores it, and reopens the output device with that
// period unless VIBRELLE_AUDIO_PERIOD holds it at another (then logs "Audio buffer stays at N
// frames: VIBRELLE_AUDIO_PERIOD is set"). Main thread.
void applyAudioBufferSetting(App& app, unsigned periodFrames);

// The program's main function: start-up, controls text, loop, shut-down. Returns the exit code
// (0, or -1 when start-up failed).
int vibrelleMain(int argc, char** argv);
