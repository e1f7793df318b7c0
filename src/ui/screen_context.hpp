#pragma once
// What the screens draw and change: the app's records, lent to the GUI, and the app's routines
// for what a screen asks of the rest of the game. The app builds one for each call into the GUI
// (app/app_screens.hpp); the screens keep no pointer to it. Main thread.
//
// Locks: `gameMutex` guards `game`, `audio` and the render state's stems, as everywhere; a screen
// takes it for what it reads and changes there, never across file or network work. The level
// session, the input record, the calibration run and the GUI state are the main thread's alone.
#include "level/level_making.hpp"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct AudioSystem;
struct CalibrationSession;
struct GameState;
struct InputState;
struct LevelSession;
struct RenderState;
struct ReplayEntry;
struct RoundSummary;
enum class UIScreen;

// A round's pause, owned by the app (app/round_pause.hpp): held, or counting down to play on.
struct PauseState {
    bool paused = false;        // the music stands and the circles are frozen
    bool countingDown = false;  // resumed: the 3-2-1 before the song plays on
    float countdownLeft = 0.0f; // seconds of the countdown still to go
    double at = 0.0;            // the song time the round was paused at
    double resumeFrom = 0.0;    // and the song time it plays on from (2 s back, not before the start)
    float heldFor = 0.0f;       // seconds of frame time the overlay has been up (counts while held)
};

// A practice round as the HUD and the pause overlay show it (app/practice.hpp), copied each frame.
// A watched practice replay shows it too, as far as the replay tells it (app/replay_watch.hpp).
struct PracticeView {
    bool active = false;  // a practice round is in play, or its replay is watched
    bool watched = false; // a watched replay's: nothing to mark or change, and no loop until a jump
    std::int32_t speedPercent = 100;
    bool hasStart = false;         // the loop's A is marked
    bool hasEnd = false;           // and its B: the loop runs
    double start = 0.0, end = 0.0; // A and B, song seconds
    int countIn = 0;               // the count-in figure to show (4..1), or 0
    std::string notice;            // what the last mark did, while it shows, or ""
};

struct ScreenContext {
    std::mutex* gameMutex = nullptr;
    GameState* game = nullptr;
    AudioSystem* audio = nullptr;
    RenderState* render = nullptr;
    InputState* input = nullptr;
    LevelSession* levels = nullptr;
    CalibrationSession* calibration = nullptr;
    const std::string* prefsPath = nullptr; // prefs.json in the player's data folder (the app's)
    bool autoplay = false;                  // the bot plays: its rounds are not the player's
    unsigned audioPeriodOverride = 0;       // VIBRELLE_AUDIO_PERIOD's frames, or 0 when it is not set
    const RoundSummary* results = nullptr;  // the last round's figures, null before any round ended
    bool replayAvailable = false;           // the last round can be watched again

    // Ends the round in play, saving its result (the HUD's exit button).
    std::function<void()> endRound;
    // Stores the Audio Buffer setting and reopens the output device with it.
    std::function<void(unsigned periodFrames)> applyAudioBuffer;
    // The calibration screen's buttons: a new run, and storing the result (which leaves the screen).
    std::function<void()> retryCalibration;
    std::function<void()> saveCalibration;
    // The results screen's buttons: start the last round's level again (through the menu's loading
    // notice), and watch the last round's replay.
    std::function<void()> retryLevel;
    std::function<void()> watchReplay;
    // The leaderboard's rows of the player's own: the path of the stored replay of the round that
    // made the entry, or "" (replay/replay_store.hpp, findReplayFor; reads a folder); and watching
    // the replay at a path, its level loaded first when another is, back on the screen it was
    // started from at its end (app/replay_watch.hpp, startWatching).
    std::function<std::string(const ReplayEntry& entry)> findOwnReplay;
    std::function<void(const std::string& path)> watchReplayFile;
    // Another player's verified row: downloads its replay from the leaderboard server on a request
    // thread (leaderboard/replay_download.hpp) and hands the outcome to receiveReplayDownload.
    std::function<void(const std::string& level, const std::string& player)> downloadReplay;
    // Runs the steps that go with leaving `left` and entering `entered` (the leaderboard's fetch,
    // the calibration's click, the tutorial's song and its page): goToScreen calls it after the
    // screen, or the tutorial's page, has changed.
    std::function<void(UIScreen left, UIScreen entered)> screenChanged;
    // The round's pause, and the overlay's buttons: play on (after the rewind and the countdown),
    // the level again from its start, and end the round (to the results).
    const PauseState* pause = nullptr;
    // Why the replay asked for last cannot be watched, or "": shown on the results and leaderboard
    // screens, cleared when the screen changes.
    const std::string* watchNotice = nullptr;
    // The Controls screen: binds a grid cell to the key at an SDL scancode (a key another cell has
    // swaps with it; a reserved key is refused: false, the reason in `message`), and puts back the
    // default grid. Either takes effect at once (the round's keys, the circles' labels) and is stored.
    std::function<bool(std::uint32_t cell, std::uint32_t scancode, std::string& message)> bindCellKey;
    std::function<void()> resetKeyBindings;
    std::function<void()> resumeRound;
    std::function<void()> restartRound;
    std::function<void()> quitRound;
    // The practice round in play, and the pause overlay's practice controls: its speed (percent,
    // 50..100 by 5; taken only while paused), and forgetting its loop.
    PracticeView practice;
    std::function<void(std::int32_t percent)> setPracticeSpeed;
    std::function<void()> clearPracticeLoop;
    // The Add Level screen: the level being made, or the last one that failed or was cancelled
    // (null when there is none; a made level goes into the menu and its job is dropped), and
    // starting one from the screen's request (the app adds where the player's levels go and the
    // names taken). Deleting the player's own level at a menu list index: its folder is removed
    // and the list read again; false, with the reason in `message`, when it cannot be.
    LevelMaking* making = nullptr;
    std::function<void(LevelMakingRequest request)> makeLevel;
    std::function<bool(int index, std::string& message)> deleteOwnLevel;
};
