#include "app/level_adding.hpp"

#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/replay_watch.hpp"
#include "app/round.hpp"
#include "app/round_pause.hpp"
#include "base/log.hpp"
#include "level/level_list.hpp"
#include "ui/add_level_screen.hpp"
#include "ui/ui_system.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

void startMakingLevel(App& app, LevelMakingRequest request) {
    if (app.making != nullptr && !levelMakingEnded(*app.making)) {
        return;
    }
    request.levelsFolder = playerLevelsFolder(playerDataFolder(app));
    request.takenNames.clear();
    for (const LevelListEntry& entry : app.levels.list) {
        request.takenNames.push_back(entry.name);
    }
    app.making = startLevelMaking(std::move(request));
}

void reloadMenuLevels(App& app, const std::string& folder) {
    std::string current;
    if (app.levels.selected >= 0 && app.levels.selected < static_cast<int>(app.levels.list.size())) {
        current = levelFolderOf(app.levels.list[static_cast<std::size_t>(app.levels.selected)]);
    }
    app.levels.list = loadMenuLevels(playerDataFolder(app));
    const std::string wanted = folder.empty() ? current : folder;
    const auto sameFolder = [&](const LevelListEntry& entry) {
        std::error_code ec;
        const std::string entryFolder = levelFolderOf(entry);
        return entryFolder == wanted || fs::equivalent(entryFolder, wanted, ec);
    };
    const auto found = std::find_if(app.levels.list.begin(), app.levels.list.end(), sameFolder);
    if (found != app.levels.list.end()) {
        app.levels.selected = static_cast<int>(found - app.levels.list.begin());
    } else {
        app.levels.selected =
            std::clamp(app.levels.selected, 0, std::max(0, static_cast<int>(app.levels.list.size()) - 1));
    }
    // The indices of a start asked for or of the last one no longer name the same levels.
    app.levels.pendingStart = -1;
    app.levels.lastStarted = -1;
}

void levelMakingFrame(App& app) {
    if (app.making == nullptr || !levelMakingEnded(*app.making)) {
        return;
    }
    const LevelMakingStatus status = levelMakingStatus(*app.making);
    if (status.state != MakingState::Done) {
        return; // kept for the screen to say why, until the next start
    }
    app.making.reset();
    reloadMenuLevels(app, status.folder);
    gUI.addLevel = AddLevelScreenState{}; // the next level starts from empty fields
    if (gUI.screen == UIScreen::AddLevel) {
        goToScreen(app, UIScreen::MainMenu);
    }
}

void leaveAddLevel(App& app) {
    if (app.making == nullptr) {
        return;
    }
    if (!app.making->worker.joinable() && levelMakingStatus(*app.making).state == MakingState::Running) {
        app.making.reset(); // showAddLevel's made-up job: nothing runs
        return;
    }
    cancelLevelMaking(*app.making);
}

bool dropIsStems(const std::vector<std::string>& paths) {
    std::error_code ec;
    return std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
        return isStemAudioPath(path) || fs::is_directory(path, ec);
    });
}

void takeDroppedFiles(App& app, const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return;
    }
    if (!dropIsStems(paths)) {
        // Of several files dropped at once, the last is watched: one replay plays at a time.
        watchDroppedReplay(app, paths.back());
        return;
    }
    bool inRound = false;
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        inRound = roundInPlay(app) || app.watch.active;
    }
    const bool onScreen = gUI.screen == UIScreen::MainMenu || gUI.screen == UIScreen::AddLevel;
    const bool busy = app.making != nullptr && !levelMakingEnded(*app.making);
    if (!app.uiVisible || inRound || !onScreen || busy) {
        logMessage("Ignoring the dropped stems %s: levels are added from the menu, one at a time",
                   paths.front().c_str());
        return;
    }
    fillAddLevelFromDrop(paths);
    if (app.making != nullptr) {
        app.making.reset(); // the last failure's message belongs to the stems before
    }
    goToScreen(app, UIScreen::AddLevel);
}

bool deleteOwnLevel(App& app, int index, std::string& message) {
    if (index < 0 || index >= static_cast<int>(app.levels.list.size())) {
        message = "No such level";
        return false;
    }
    const LevelListEntry entry = app.levels.list[static_cast<std::size_t>(index)];
    if (!entry.own) {
        message = "Only your own levels can be deleted";
        return false;
    }
    // A level loaded now keeps playing from memory: its stems were decoded when it was loaded.
    if (!deleteOwnLevelFolder(playerLevelsFolder(playerDataFolder(app)), entry.folder, message)) {
        logError(stderr, "Cannot delete the level %s: %s", entry.name.c_str(), message.c_str());
        return false;
    }
    reloadMenuLevels(app);
    return true;
}

void showAddLevel(App& app, bool running) {
    app.making.reset();
    gUI.addLevel = AddLevelScreenState{};
    if (running) {
        const std::vector<std::string> stems = {"bass.ogg", "drums.ogg", "keys.ogg", "lead.ogg",
                                                "strings_pad.ogg"};
        setAddLevelFolder("/home/player/Music/night_drive");
        gUI.addLevel.stems = stems;
        gUI.addLevel.kinds.assign(stems.size(), 0);
        gUI.addLevel.listedFrom = gUI.addLevel.folder; // the made-up folder is not read
        std::snprintf(gUI.addLevel.tempo, sizeof gUI.addLevel.tempo, "%s", "118");
        app.making = std::make_unique<LevelMaking>();
        LevelMakingStatus& status = app.making->status;
        status.step = "Charting";
        status.title = gUI.addLevel.title;
        status.stems = stems;
        status.done = {1.0, 1.0, 0.64, 0.0, 0.0};
    }
    goToScreen(app, UIScreen::AddLevel);
}
