// vibrelle-replay: checks a replay by running its round again, without a window or a sound device.
//
//   vibrelle-replay check FILE [--assets DIR]
//
// Reads the replay FILE, finds its level by name in DIR (the game's data folder, assets/ in a
// checkout; the working directory when not given): a level of levels/levels.json, or the default
// level levels/level.json by its title. Reads the level's charts and stem lengths as the game has
// them once loaded (replay/level_check.hpp: no sound device, and the stems are measured from their
// headers rather than decoded where they can be), checks that the level is the one the replay was
// recorded on (its level hash), runs the round
// again from the recorded inputs with the game's own round code and prints
//   Replay: score S, combo C, layer L, hits H, misses M
// Exit status: 0 when that is the result stored in the file, 1 when it is not (or the level has
// changed since), 2 when the file or its level cannot be read or the arguments are wrong. Log
// lines go to standard error.
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "replay/level_check.hpp"
#include "replay/replay_file.hpp"
#include "replay/round_replay.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void printUsage(std::FILE* to) { std::fputs("Usage: vibrelle-replay check FILE [--assets DIR]\n", to); }

void printHelp() {
    printUsage(stdout);
    std::fputs("Checks a Vibrelle replay by running its round again, without a window or a sound device,\n"
               "and prints \"Replay: score S, combo C, layer L, hits H, misses M\".\n"
               "  --assets DIR   the game's data folder, where the replay's level is looked up by name\n"
               "                 (default: the working directory)\n"
               "  -h, --help     print this help and exit\n"
               "Exit status: 0 when the result is the one stored in the file, 1 when it is not (or the\n"
               "level has changed since), 2 when the file or its level cannot be read or the arguments\n"
               "are wrong. Log lines go to standard error.\n",
               stdout);
}

// Standard output sent elsewhere (standard error, or nowhere) while one lives, so that the loader's
// and the round's log lines cannot mix with the tool's own line.
struct StdoutAside {
    int saved = -1;
    explicit StdoutAside(bool toNowhere) {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int target = toNowhere ? open("/dev/null", O_WRONLY) : dup(STDERR_FILENO);
        if (saved >= 0 && target >= 0) {
            dup2(target, STDOUT_FILENO);
        }
        if (target >= 0) {
            close(target);
        }
    }
    ~StdoutAside() {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }
    StdoutAside(const StdoutAside&) = delete;
    StdoutAside& operator=(const StdoutAside&) = delete;
};

// The folders of the levels named `name`, as the game names its levels: the list's, then the
// default level (levels/level.json), which may bear the title of a listed level.
std::vector<std::string> levelFoldersNamed(const std::string& name) {
    std::vector<std::string> folders;
    for (const LevelListEntry& entry : loadLevelList()) {
        if (entry.name == name) {
            folders.push_back("levels/" + entry.file);
        }
    }
    LevelDefinition level;
    if (parseLevelManifest("levels/level.json", level) &&
        (level.title.empty() ? "levels" : level.title) == name) {
        folders.push_back("levels");
    }
    return folders;
}

void printResult(const char* what, const ReplayResult& r) {
    std::printf("%s: score %d, combo %d, layer %d, hits %u, misses %u\n", what, r.score, r.highestCombo,
                r.highestLayer, r.hits, r.misses);
}

int check(const std::string& file) {
    Replay replay;
    std::string error;
    {
        StdoutAside aside(false);
        if (!readReplayFile(file, replay, error)) {
            return 2; // readReplayFile said why
        }
    }
    const std::vector<std::string> folders = levelFoldersNamed(replay.levelName);
    if (folders.empty()) {
        std::fprintf(stderr, "vibrelle-replay: no level named %s here\n", replay.levelName.c_str());
        return 2;
    }
    // The level as the game loads it, read without the audio engine: its stems' lengths come from
    // their files' headers. Of the levels bearing the name, the one the round was played on.
    CheckedLevel level;
    bool loaded = false, found = false;
    for (const std::string& folder : folders) {
        bool read = false;
        {
            StdoutAside aside(false);
            read = readCheckedLevel(folder, replay.levelName, level, error);
        }
        if (!read) {
            std::fprintf(stderr, "vibrelle-replay: %s\n", error.c_str());
            std::fprintf(stderr, "vibrelle-replay: the level %s could not be loaded from %s\n",
                         replay.levelName.c_str(), folder.c_str());
            continue;
        }
        loaded = true;
        if (level.hash == replay.levelHash) {
            found = true;
            break;
        }
    }
    if (!loaded) {
        return 2;
    }
    if (!found) {
        std::printf("This replay was recorded on a different version of the level\n");
        return 1;
    }
    ReplayResult result;
    {
        StdoutAside aside(true);
        result = rerunReplay(replay, std::move(level.setup));
    }
    printResult("Replay", result);
    if (!sameResult(result, replay.result)) {
        printResult("Stored", replay.result);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string command, file, assets;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            printHelp();
            return 0;
        }
        if (arg == "--assets" && i + 1 < argc) {
            assets = argv[++i];
        } else if (command.empty()) {
            command = arg;
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fprintf(stderr, "vibrelle-replay: unexpected argument: %s\n", arg.c_str());
            printUsage(stderr);
            return 2;
        }
    }
    if (command != "check" || file.empty()) {
        printUsage(stderr);
        return 2;
    }
    std::error_code ignored;
    file =
        std::filesystem::absolute(file, ignored).string(); // before the data folder becomes the working one
    if (!assets.empty() && chdir(assets.c_str()) != 0) {
        std::fprintf(stderr, "vibrelle-replay: cannot use %s as the game's data folder\n", assets.c_str());
        return 2;
    }
    return check(file);
}
