#include "app/round.hpp"

#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/logic_thread.hpp"
#include "app/practice.hpp"
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "game/game_rules.hpp"
#include "game/round_progress.hpp"
#include "game/round_summary.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/round_save.hpp"
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "level/level_package.hpp"
#include "level/round_setup.hpp"
#include "prefs/player_keys.hpp"
#include "prefs/preferences.hpp"
#include "render/background.hpp"
#include "replay/level_hash.hpp"
#include "replay/replay_store.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

// How long a level start may take before the frame after it shows its loading notice (ms): a frame.
constexpr int kLevelStartFrameMs = 16;
// How long each frame under the loading notice waits for the read (ms). The notice needs no more
// than a few frames a second, and a frame not drawn leaves the processor to the reading threads
// (with software drawing, the same cores); the level then starts the moment its read ends rather
// than at the next frame.
constexpr int kLoadingFrameMs = 33;

// The stems each page makes audible.
std::vector<int> audibleStems(int page) {
    switch (page) {
    case 1:
        return {1};
    case 2:
        return {0};
    case 3:
        return {0, 1};
    default:
        return {};
    }
}

// Notes the level in place when the tutorial opens: a menu level's package, else the default level.
void rememberLevel(App& app) {
    if (app.levels.beforeTutorial.remembered) {
        return;
    }
    app.levels.beforeTutorial.remembered = true;
    const bool menuLevel = app.levels.packageLoaded && app.levels.package.name != "tutorialsong";
    app.levels.beforeTutorial.manifestPath =
        menuLevel ? app.levels.package.manifestPath : "levels/level.json";
    app.levels.beforeTutorial.package = menuLevel ? app.levels.package : LevelPackage{};
    app.levels.beforeTutorial.packageLoaded = menuLevel;
    std::lock_guard<std::mutex> lock(app.gameMutex);
    app.levels.beforeTutorial.levelName = app.game.levelName;
}

void loadTutorialSong(App& app) {
    if (!prepareLevelPackage(kTutorialSongFolder, app.levels.package)) {
        return;
    }
    // The song is read and decoded first; the game mutex is held only for the swap.
    PackageLoad load;
    stageLevelPackage(app.levels.package, app.render, app.audio.looping, load);
    std::vector<LoadedStem> retired;
    std::lock_guard<std::mutex> lock(app.gameMutex);
    // The level before goes whether or not the song loads: it must come back on leaving either way.
    app.levels.beforeTutorial.levelRetired = true;
    if (commitLevelPackage(app.levels.package, load, app.audio, app.render, retired)) {
        app.levels.packageLoaded = true;
    }
}

} // namespace

void startRunFromTop(App& app) {
    const std::uint64_t requestNs = SDL_GetTicksNS();
    playAllStems(app.audio);
    activateFirstStem(app.audio);
    expectLevelStart(app.audio, app.game.levelName, requestNs);
    app.game.playing = true;
    // The song starts from its top: a clock reading of this frame belonged to the run before.
    app.game.songTime = 0.0;
    app.game.songTimeNs = 0;
    beginRound(app.game, roundSetupOf(app.audio, app.render.width, app.render.height), 0.0);
    applyRoundMode(app);
    app.roundStartedAtMs = wallClockMs();
}

std::int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string currentLevelFolder(const App& app) {
    if (!app.levels.packageLoaded) {
        return "levels"; // the default level, levels/level.json
    }
    const std::string& manifest = app.levels.package.manifestPath;
    const std::size_t slash = manifest.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : manifest.substr(0, slash);
}

std::string playerDataFolder(const App& app) {
    const std::string prefs = app.prefsPath.empty() ? getPrefsPath() : app.prefsPath;
    const std::size_t slash = prefs.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : prefs.substr(0, slash);
}

void saveRoundReplay(App& app, Replay& replay, double loopLength) {
    app.lastReplayPath.clear();
    if (replay.levelName.empty()) {
        return; // a round without a level name is not stored anywhere
    }
    std::string error;
    if (!levelHashOfFolder(currentLevelFolder(app), std::llround(loopLength * 1e6), replay.levelHash,
                           error)) {
        logError(stderr, "Replay not saved: %s", error.c_str());
        return;
    }
    std::string path;
    if (saveReplay(playerDataFolder(app), replay, path, error)) {
        app.lastReplayPath = path;
        logMessage("Replay saved: %s", path.c_str());
    }
}

std::int32_t levelLayerCount(const AudioSystem& audio) {
    return static_cast<std::int32_t>(std::min<std::size_t>(audio.stems.size(), kMaxLayers));
}

bool loadDefaultLevel(App& app) {
    std::lock_guard<std::mutex> lock(app.gameMutex);
    std::string title;
    const bool loaded = loadLevelFromManifest("levels/level.json", app.audio, app.render, &title);
    if (!loaded) {
        logError(stderr, "Failed to load default level JSON definition (levels/level.json)");
    }
    // A round started with Space needs a name for its result: the song's title, else the folder the
    // manifest lies in.
    app.game.levelName = title.empty() ? "levels" : title;
    app.levels.defaultLevelName = app.game.levelName;
    app.game.totalLayers = levelLayerCount(app.audio);
    refreshUniformBindings(app.render);
    return loaded;
}

void applyTutorialPage(App& app, int page) {
    rememberLevel(app);
    if (page == 0) {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (app.audio.playing) {
            stopAllStems(app.audio);
        }
        resetRound(app.game);
        if (app.levels.packageLoaded) {
            app.levels.package = LevelPackage{};
            app.levels.packageLoaded = false;
        }
        return;
    }
    if (app.levels.packageLoaded && app.levels.package.name != "tutorialsong") {
        app.levels.package = LevelPackage{}; // a level from the menu: the tutorial song replaces it
        app.levels.packageLoaded = false;
    }
    if (!app.levels.packageLoaded) {
        loadTutorialSong(app);
    }
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (!app.audio.playing) {
        playAllStems(app.audio);
    }
    const int stems = static_cast<int>(app.audio.stems.size());
    for (int i = 0; i < stems; ++i) {
        deactivateStem(app.audio, i);
    }
    int audible = 0;
    for (int i : audibleStems(page)) {
        if (i < stems) {
            fadeInStem(app.audio, i, 1.0f);
            ++audible;
        }
    }
    resetRound(app.game); // no round runs during the tutorial
    app.game.activeLayers = audible;
    app.game.totalLayers = levelLayerCount(app.audio);
}

void leaveTutorial(App& app) {
    if (!app.levels.beforeTutorial.remembered) {
        return;
    }
    app.levels.beforeTutorial.remembered = false;
    if (app.levels.beforeTutorial.levelRetired) {
        app.levels.beforeTutorial.levelRetired = false;
        StagedLevel staged;
        const bool read = readLevel(app.levels.beforeTutorial.manifestPath, app.audio.looping, staged);
        std::vector<LoadedStem> retired;
        std::lock_guard<std::mutex> lock(app.gameMutex);
        stopAllStems(app.audio);
        if (read) {
            installLevel(staged, app.audio, app.render, retired);
        } else {
            retireStems(app.audio, retired); // the tutorial song does not stay on as a level
        }
        app.game.levelName = app.levels.beforeTutorial.levelName;
        app.game.totalLayers = levelLayerCount(app.audio);
        resetRound(app.game);
    }
    app.levels.package = app.levels.beforeTutorial.package;
    app.levels.packageLoaded = app.levels.beforeTutorial.packageLoaded;
}

namespace {

// Prepares level `index` of the list as a package and swaps in its shader; false for an index
// outside the list or a package that cannot be prepared. Main thread.
const LevelListEntry* prepareListedLevel(App& app, int index, bool start) {
    if (index < 0 || index >= static_cast<int>(app.levels.list.size())) {
        return nullptr;
    }
    const LevelListEntry& entry = app.levels.list[static_cast<size_t>(index)];
    const std::string directory = levelFolderOf(entry);
    if (app.levels.packageLoaded) {
        app.levels.package = LevelPackage{};
    }
    if (!prepareLevelPackage(directory, app.levels.package)) {
        logError(stderr, "Failed to load level package: %s", directory.c_str());
        return nullptr;
    }
    app.levels.packageLoaded = true;
    if (start) {
        app.levels.lastStarted = index;
    }
    stageLevelShader(app.levels.package, app.render);
    return &entry;
}

// Swaps in the level read (see startLevel): with `start` it then plays and a round begins, else it
// stays stopped with no round. `requestNs`: when the start was asked for (the first-sound notice).
bool commitListedLevel(App& app, const LevelListEntry& entry, PackageLoad& load, bool start,
                       std::uint64_t requestNs) {
    std::vector<LoadedStem> retired; // freed after the mutex is released
    bool loaded = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        const Uint64 locked = SDL_GetPerformanceCounter();
        if (commitLevelPackage(app.levels.package, load, app.audio, app.render, retired)) {
            if (start && !app.audio.stems.empty()) {
                playAllStems(app.audio);
                activateFirstStem(app.audio);
                expectLevelStart(app.audio, entry.name, requestNs);
            }
            app.game.levelName = entry.name;
            app.game.totalLayers = levelLayerCount(app.audio);
            resetRound(app.game);
            app.game.playing = start;
            app.pause = PauseState{};
            app.game.songTime = 0.0; // the new stems start from their top
            app.game.songTimeNs = 0;
            if (start) {
                beginRound(app.game, roundSetupOf(app.audio, app.render.width, app.render.height), 0.0);
                applyRoundMode(app);
                app.roundStartedAtMs = wallClockMs();
            }
            loaded = true;
        }
        app.levelSwitchLockSeconds = static_cast<double>(SDL_GetPerformanceCounter() - locked) /
                                     static_cast<double>(SDL_GetPerformanceFrequency());
    }
    return loaded;
}

// Loads level `index` of the list at once (see startLevel).
bool loadListedLevel(App& app, int index, bool start) {
    const std::uint64_t requestNs = SDL_GetTicksNS();
    const LevelListEntry* entry = prepareListedLevel(app, index, start);
    if (!entry) {
        return false;
    }
    // The slow part, without the game mutex: the logic thread plays on meanwhile.
    PackageLoad load = readLevelPackage(app.levels.package, app.audio.looping);
    return commitListedLevel(app, *entry, load, start, requestNs);
}

} // namespace

bool startLevel(App& app, int index) { return loadListedLevel(app, index, true); }

bool loadLevelStopped(App& app, const std::string& levelName) {
    const std::vector<LevelListEntry>& list = app.levels.list;
    const auto entry = std::find_if(list.begin(), list.end(),
                                    [&](const LevelListEntry& listed) { return listed.name == levelName; });
    return entry != list.end() && loadListedLevel(app, static_cast<int>(entry - list.begin()), false);
}

bool loadDefaultLevelStopped(App& app) {
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (app.audio.playing) {
            stopAllStems(app.audio);
        }
        resetRound(app.game);
        app.game.playing = false;
        app.pause = PauseState{};
    }
    app.levels.package = LevelPackage{};
    app.levels.packageLoaded = false;
    return loadDefaultLevel(app);
}

void runPendingLevelStart(App& app) {
    const int index = app.levels.pendingStart;
    if (index < 0 || app.levels.holdStart) {
        return;
    }
    LevelSession& levels = app.levels;
    if (!app.levelRead.valid()) {
        // The files are read on a thread of their own (streamed stems open in a few tens of ms) while
        // frames go on; a start that takes longer than a frame puts up "Loading <name>...".
        levels.startRequestNs = SDL_GetTicksNS();
        if (!prepareListedLevel(app, index, true)) {
            levels.pendingStart = -1;
            levels.startSlow = false;
            return;
        }
        const LevelPackage package = levels.package;
        const bool looping = app.audio.looping;
        app.levelRead = std::async(std::launch::async, [package, looping] {
            PackageLoad load = readLevelPackage(package, looping);
            SDL_CleanupTLS(); // SDL's per-thread error buffer
            return load;
        });
    }
    // The screen tour pictures each screen a set number of frames after it comes: it waits for the level.
    if (app.options.screenTour) {
        app.levelRead.wait();
    }
    const auto wait = std::chrono::milliseconds(levels.startSlow ? kLoadingFrameMs : kLevelStartFrameMs);
    if (app.levelRead.wait_for(wait) != std::future_status::ready) {
        levels.startSlow = true;
        return;
    }
    PackageLoad load = app.levelRead.get();
    levels.pendingStart = -1;
    levels.startSlow = false;
    app.practice.enabled = levels.startPractice;
    commitListedLevel(app, levels.list[static_cast<size_t>(index)], load, true, levels.startRequestNs);
    app.levelLoadedThisFrame = true;
}

void endRound(App& app) {
    RoundResult result;
    Replay replay;
    double loopLength = 0.0;
    bool practice = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        // The round runs on to a whole microsecond, where its replay (which keeps whole
        // microseconds) will end too.
        const std::int64_t endUs = roundEndMicros(app.game.progress.applied);
        queueRoundInputs(app.game, {}, static_cast<double>(endUs) / 1e6);
        advanceRound(app.game, static_cast<double>(endUs) / 1e6, audioLayerRequests(app.audio));
        stopAllStems(app.audio);
        practice = app.game.progress.practice;
        setPlaybackSpeed(app.audio, 1.0); // what plays next (the tutorial, a round in earnest) is not slowed
        result = roundResultOf(app.game);
        ReplayOrigin origin;
        origin.levelName = result.level;
        origin.audioOffsetMs = static_cast<std::int32_t>(std::lround(app.audio.clockOffset * 1000.0));
        origin.bot = app.options.autoplay;
        origin.startedAtMs = app.roundStartedAtMs;
        origin.endedAtMs = wallClockMs();
        replay = replayOfRound(app.game, origin, endUs);
        loopLength = app.game.setup.loopLength;
        app.lastResults = summarizeRound(app.game); // before resetRound clears what it reads
        app.hasResults = true;
    }
    saveRoundReplay(app, replay, loopLength);
    // The file is read and written without the game mutex; nothing plays meanwhile.
    if (app.options.autoplay) {
        logMessage("Autoplay round ended; its result is not saved");
    } else if (practice) {
        logMessage("Practice round ended; its result is not saved");
    } else {
        const std::string prefs = app.prefsPath.empty() ? getPrefsPath() : app.prefsPath;
        // The replay goes up with the result (the same bytes as its file); one that could not be
        // tied to its level (no level hash) cannot be checked by anyone, and goes nowhere.
        std::string replayBytes;
        std::string error;
        if (!replay.levelHash.empty() && !encodeReplay(replay, replayBytes, error)) {
            logError(stderr, "The round's replay is not uploaded: %s", error.c_str());
            replayBytes.clear();
        }
        // A level the player made goes on the server's board only where the server has it too.
        const int index = app.levels.lastStarted;
        const bool ownLevel = app.levels.packageLoaded && index >= 0 &&
                              index < static_cast<int>(app.levels.list.size()) &&
                              app.levels.list[static_cast<std::size_t>(index)].own;
        saveRoundResult(result, gLeaderboardClient.leaderboardPath,
                        loadPlayerKey(prefs, gLeaderboardClient.serverBaseUrl, result.player),
                        std::move(replayBytes), playerDataFolder(app), ownLevel,
                        ownLevel ? replay.levelHash : std::string());
    }
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        resetRound(app.game);
        app.game.playing = false;
        app.pause = PauseState{};
    }
    goToScreen(app, UIScreen::Results); // autoplay's rounds too: their figures are worth seeing
}
