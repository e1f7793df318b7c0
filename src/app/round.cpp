#include "app/round.hpp"

#include "app/app.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/round_save.hpp"
#include "level/level_list.hpp"
#include "level/level_package.hpp"
#include "prefs/player_keys.hpp"
#include "prefs/preferences.hpp"

#include <SDL3/SDL.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

// The level the tutorial song replaced, to be put back when the tutorial is left.
struct ReplacedLevel {
    bool remembered = false;            // the tutorial is open and what it replaces is known
    bool tutorialSongInstalled = false; // the audio system holds the tutorial song's stems
    std::string manifestPath;           // of the level before it
    std::string levelName;
    LevelPackage package; // and the package record that went with it
    bool packageLoaded = false;
};
ReplacedLevel replaced;

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
    if (replaced.remembered) {
        return;
    }
    replaced.remembered = true;
    const bool menuLevel = packageLoaded && currentLevelPackage.name != "tutorialsong";
    replaced.manifestPath = menuLevel ? currentLevelPackage.manifestPath : "levels/level.json";
    replaced.package = menuLevel ? currentLevelPackage : LevelPackage{};
    replaced.packageLoaded = menuLevel;
    std::lock_guard<std::mutex> lock(app.gameMutex);
    replaced.levelName = app.game.levelName;
}

void loadTutorialSong(App& app) {
    if (!prepareLevelPackage(kTutorialSongFolder, currentLevelPackage)) {
        return;
    }
    // The song is read and decoded first; the game mutex is held only for the swap.
    PackageLoad load;
    stageLevelPackage(currentLevelPackage, app.render, app.audio.looping, load);
    std::vector<LoadedStem> retired;
    std::lock_guard<std::mutex> lock(app.gameMutex);
    if (commitLevelPackage(currentLevelPackage, load, app.audio, app.render, retired)) {
        packageLoaded = true;
        replaced.tutorialSongInstalled = true;
    }
}

} // namespace

void applyTutorialPage(App& app, int page) {
    rememberLevel(app);
    if (page == 0) {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (app.audio.playing) {
            stopAllStems(app.audio);
        }
        resetRound(app.game);
        if (packageLoaded) {
            currentLevelPackage = LevelPackage{};
            packageLoaded = false;
        }
        return;
    }
    if (packageLoaded && currentLevelPackage.name != "tutorialsong") {
        currentLevelPackage = LevelPackage{}; // a level from the menu: the tutorial song replaces it
        packageLoaded = false;
    }
    if (!packageLoaded) {
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
    app.game.totalLayers = stems;
}

void leaveTutorial(App& app) {
    if (!replaced.remembered) {
        return;
    }
    replaced.remembered = false;
    if (replaced.tutorialSongInstalled) {
        replaced.tutorialSongInstalled = false;
        StagedLevel staged;
        const bool read = readLevel(replaced.manifestPath, app.audio.looping, staged);
        std::vector<LoadedStem> retired;
        std::lock_guard<std::mutex> lock(app.gameMutex);
        stopAllStems(app.audio);
        if (read) {
            installLevel(staged, app.audio, app.render, retired);
        } else {
            retireStems(app.audio, retired); // the tutorial song does not stay on as a level
        }
        app.game.levelName = replaced.levelName;
        app.game.totalLayers = 8;
        resetRound(app.game);
    }
    currentLevelPackage = replaced.package;
    packageLoaded = replaced.packageLoaded;
}

bool startLevel(App& app, int index) {
    if (index < 0 || index >= static_cast<int>(levelList.size())) {
        return false;
    }
    const LevelListEntry& entry = levelList[static_cast<size_t>(index)];
    const std::string directory = "levels/" + entry.file;
    if (packageLoaded) {
        currentLevelPackage = LevelPackage{};
    }
    if (!prepareLevelPackage(directory, currentLevelPackage)) {
        logError(stderr, "Failed to load level package: %s", directory.c_str());
        return false;
    }
    packageLoaded = true;

    // The slow part, without the game mutex: the logic thread plays on meanwhile.
    PackageLoad load;
    stageLevelPackage(currentLevelPackage, app.render, app.audio.looping, load);

    std::vector<LoadedStem> retired; // freed after the mutex is released
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        const Uint64 locked = SDL_GetPerformanceCounter();
        if (commitLevelPackage(currentLevelPackage, load, app.audio, app.render, retired)) {
            if (!app.audio.stems.empty()) {
                playAllStems(app.audio);
                activateFirstStem(app.audio);
            }
            app.game.levelName = entry.name;
            resetRound(app.game);
            app.game.playing = true;
            started = true;
        }
        app.levelSwitchLockSeconds = static_cast<double>(SDL_GetPerformanceCounter() - locked) /
                                     static_cast<double>(SDL_GetPerformanceFrequency());
    }
    return started;
}

void runPendingLevelStart(App& app) {
    const int index = app.pendingLevelStart;
    if (index < 0 || app.holdLevelStart) {
        return;
    }
    app.pendingLevelStart = -1;
    startLevel(app, index);
    app.levelLoadedThisFrame = true;
}

void endRound(App& app) {
    RoundResult result;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        stopAllStems(app.audio);
        result = roundResultOf(app.game);
    }
    // The file is read and written without the game mutex; nothing plays meanwhile.
    if (app.options.autoplay) {
        logMessage("Autoplay round ended; its result is not saved");
    } else {
        const std::string prefs = app.prefsPath.empty() ? getPrefsPath() : app.prefsPath;
        saveRoundResult(result, kLeaderboardPath,
                        loadPlayerKey(prefs, gLeaderboardClient.serverBaseUrl, result.player));
    }
    std::lock_guard<std::mutex> lock(app.gameMutex);
    resetRound(app.game);
    app.game.playing = false;
}
