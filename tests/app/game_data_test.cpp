// Where the game finds its data: the three places in order, and the game's own start when none or
// --help. The game runs as a process, outside any display: both end before the window would open.
#include "app/game_data.hpp"

#include "../temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void makeData(const fs::path& dir) {
    fs::create_directories(dir / "levels");
    std::ofstream(dir / "levels/level.json") << "{}";
    std::ofstream(dir / "levels/levels.json") << "[]";
}

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

// `binary` started from `dir` with `env` set first; its exit code and output.
ProgramRun runProgram(const TempDir& dir, const std::string& binary, const std::string& env,
                      const std::string& args) {
    const std::string command = "cd '" + dir.path().string() + "' && env " + env + " '" + binary + "' " +
                                args + " >'" + dir.file("out") + "' 2>'" + dir.file("err") + "'";
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream out(dir.file("out")), err(dir.file("err"));
    run.out.assign(std::istreambuf_iterator<char>(out), {});
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

} // namespace

TEST(GameData, LooksAtTheVariableThenTheInstalledFolderThenTheCheckout) {
    const TempDir dir;
    const fs::path root = dir.path();
    const fs::path env = root / "mine", installed = root / "usr/share/games/vibrelle";
    const fs::path build = root / "src/build", checkout = root / "src/assets";
    const std::string fromBin = "../share/games/vibrelle";
    fs::create_directories(root / "usr/games");
    fs::create_directories(build / "game");
    struct Case {
        const char* name;
        std::vector<fs::path> holding; // the places that hold the data
        std::string base;              // the executable's folder
        const char* environment;
        std::string want;
    } cases[] = {
        {"the variable first", {env, installed, checkout}, (build / "game/").string(), env.c_str(), env},
        {"the installed folder next",
         {installed, checkout},
         (root / "usr/games/").string(),
         env.c_str(),
         installed},
        {"the checkout from its build tree", {checkout}, (build / "game/").string(), nullptr, checkout},
        {"no checkout outside the build tree", {checkout}, (root / "usr/games/").string(), nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(env);
        fs::remove_all(root / "usr/share");
        fs::remove_all(checkout);
        for (const fs::path& place : c.holding) {
            makeData(place);
        }
        std::string looked;
        EXPECT_EQ(
            findGameData(gameDataPlaces(c.environment, c.base, fromBin, build.string(), checkout.string()),
                         looked),
            c.want);
        if (c.want.empty()) {
            EXPECT_EQ(looked, installed.string() + " (installed)");
        }
    }
}

// With no place holding the data the game says where it looked and exits as a failed start does;
// --help goes to standard output and exits 0. A copy of the game outside its build tree has no
// checkout to fall back on.
TEST(GameData, TheGameSaysWhereItLookedOrPrintsItsHelp) {
    const TempDir dir;
    fs::create_directories(dir.path() / "games");
    const std::string binary = dir.file("games/vibrelle");
    fs::copy_file(VIBRELLE_GAME_BINARY, binary);
    const ProgramRun missing =
        runProgram(dir, binary, "VIBRELLE_DATA_DIR=nowhere SDL_VIDEO_DRIVER=dummy", "");
    EXPECT_EQ(missing.exitCode, 255);
    EXPECT_NE(missing.err.find("Game data not found; looked in: " + dir.file("nowhere") +
                               " (VIBRELLE_DATA_DIR), " + dir.file("share/games/vibrelle") +
                               " (installed)\n"),
              std::string::npos)
        << missing.err;

    const ProgramRun help = runProgram(dir, binary, "VIBRELLE_DATA_DIR=nowhere", "--windowed --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: vibrelle [OPTION]...\n", 0), 0u);
    for (const char* listed :
         {"--screenshot FILE", "--practice SPEED", "VIBRELLE_DATA_DIR", "XDG_DATA_HOME"}) {
        EXPECT_NE(help.out.find(listed), std::string::npos) << listed;
    }
    EXPECT_EQ(help.err, "");
}

// Every program the project installs prints its help on standard output and exits 0.
TEST(GameData, EveryProgramPrintsItsHelpOnStandardOutput) {
    const TempDir dir;
    std::string programs = VIBRELLE_PROGRAMS;
    for (size_t at = 0; at <= programs.size();) {
        const size_t end = std::min(programs.find('|', at), programs.size());
        const std::string program = programs.substr(at, end - at);
        at = end + 1;
        const ProgramRun run = runProgram(dir, program, "", "--help");
        EXPECT_EQ(run.exitCode, 0) << program;
        EXPECT_EQ(run.out.rfind("Usage: ", 0), 0u) << program << ": " << run.out;
        EXPECT_EQ(run.err, "") << program;
    }
}
