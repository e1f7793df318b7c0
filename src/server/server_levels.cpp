#include "server/server_levels.hpp"

#include "base/file_io.hpp"
#include "base/log.hpp"
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "replay/level_hash.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

// A level folder and the name its rounds' replays carry.
struct NamedFolder {
    std::string name;
    std::string folder;
};

// The song title of the manifest in `folder`, or "" (also when it cannot be read: reading the level
// says why).
std::string songTitleIn(const std::string& folder) {
    std::string text;
    LevelDefinition definition;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(folder + "/level.json", ec);
    if (ec || size > kMaxHashedFileBytes || !readWholeFile(folder + "/level.json", text)) {
        return std::string();
    }
    // Only the title is wanted here: the parse's complaints are for reading the level to make.
    parseLevelManifestText(text, folder + "/level.json", definition);
    return definition.title;
}

// The levels of one --levels folder, in the order the game's menu would list them, the default
// level last.
std::vector<NamedFolder> levelFoldersIn(const std::string& dir) {
    std::vector<NamedFolder> found;
    std::string list;
    if (isRegularFile(dir + "/levels.json") && readWholeFile(dir + "/levels.json", list)) {
        std::vector<LevelListEntry> entries;
        parseLevelListText(list, entries);
        for (const LevelListEntry& entry : entries) {
            found.push_back({entry.name, dir + "/" + entry.file});
        }
    } else {
        std::vector<std::string> subfolders;
        std::error_code ec;
        for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
            std::error_code itemError;
            if (item.is_directory(itemError) && isRegularFile(item.path().string() + "/level.json")) {
                subfolders.push_back(item.path().string());
            }
        }
        if (ec) {
            logError(stderr, "Cannot list the level folder %s: %s", dir.c_str(), ec.message().c_str());
        }
        std::sort(subfolders.begin(), subfolders.end());
        for (const std::string& folder : subfolders) {
            const std::string title = songTitleIn(folder);
            found.push_back(
                {title.empty() ? std::filesystem::path(folder).filename().string() : title, folder});
        }
    }
    if (isRegularFile(dir + "/level.json")) {
        // The game names the default level as it names a round started with Space.
        const std::string title = songTitleIn(dir);
        found.push_back({title.empty() ? "levels" : title, dir});
    }
    return found;
}

} // namespace

ServerLevels loadServerLevels(const std::vector<std::string>& dirs) {
    ServerLevels table;
    for (const std::string& dir : dirs) {
        for (const NamedFolder& named : levelFoldersIn(dir)) {
            CheckedLevel level;
            std::string error;
            if (!readCheckedLevel(named.folder, named.name, level, error)) {
                logError(stderr, "Level %s in %s is skipped: %s", named.name.c_str(), named.folder.c_str(),
                         error.c_str());
                continue;
            }
            if (findServerLevel(table, level.name, level.hash) != nullptr) {
                logError(stderr, "Level %s in %s is skipped: the same level was read before",
                         named.name.c_str(), named.folder.c_str());
                continue;
            }
            table.levels.push_back(std::move(level));
        }
    }
    logMessage("Verifying scores for %d levels", static_cast<int>(table.levels.size()));
    for (const CheckedLevel& level : table.levels) {
        logMessage("Level: %s %s", level.name.c_str(), level.hash.c_str());
    }
    return table;
}

const CheckedLevel* findServerLevel(const ServerLevels& levels, const std::string& name,
                                    const std::string& hash) {
    for (const CheckedLevel& level : levels.levels) {
        if (level.name == name && level.hash == hash) {
            return &level;
        }
    }
    return nullptr;
}

bool serverKnowsLevel(const ServerLevels& levels, const std::string& name) {
    for (const CheckedLevel& level : levels.levels) {
        if (level.name == name) {
            return true;
        }
    }
    return false;
}
