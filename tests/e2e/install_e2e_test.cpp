// An install into a fresh prefix, as `cmake --install` makes it for a package: every program and
// file in its place, the desktop entry and the AppStream metadata valid, and the installed game
// started from another folder finds its data in the prefix, draws a frame and writes nothing
// there, only into the player's folder and the picture asked for.
#include "../capture.hpp"
#include "../temp_dir.hpp"
#include "installed_files.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file under `root` with its size and time of change.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> filesUnder(const fs::path& root) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = {entry.file_size(), entry.last_write_time()};
        }
    }
    return files;
}

} // namespace

TEST(Install, TheInstalledGameRunsFromAnyFolderAndWritesOnlyInThePlayersFolder) {
    const TempDir dir;
    const fs::path prefix = dir.path() / "prefix", elsewhere = dir.path() / "elsewhere";
    fs::create_directories(elsewhere);
    ASSERT_EQ(run("'" VIBRELLE_CMAKE "' --install '" VIBRELLE_BUILD_DIR "' --prefix '" + prefix.string() +
                  "' >'" + dir.file("install.log") + "' 2>&1"),
              0)
        << readText(dir.file("install.log"));
    for (const std::string& path : installedFiles()) {
        EXPECT_TRUE(fs::is_regular_file(prefix / path)) << path;
    }
    EXPECT_FALSE(fs::exists(prefix / "share/games/vibrelle/levels/leaderboard.json"));
    EXPECT_EQ(run("desktop-file-validate '" +
                  (prefix / "share/applications/io.github.kvo.vibrelle.desktop").string() + "'"),
              0);
    EXPECT_EQ(run("appstreamcli validate --no-net '" +
                  (prefix / "share/metainfo/io.github.kvo.vibrelle.metainfo.xml").string() + "' >/dev/null"),
              0);

    const auto before = filesUnder(prefix);
    const std::string log = dir.file("game.log");
    const int code =
        run("cd '" + elsewhere.string() + "' && env -u VIBRELLE_DATA_DIR XDG_DATA_HOME='" + dir.file("data") +
            "' VIBRELLE_LEADERBOARD_URL=http://127.0.0.1:9/api SDL_AUDIO_DRIVER=dummy timeout 60 '" +
            (prefix / "games/vibrelle").string() + "' --windowed --screenshot shot.png --quit-after 2 >'" +
            log + "' 2>&1");
    const std::string output = readText(log);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Game data: " + (prefix / "share/games/vibrelle").string() + "\n"),
              std::string::npos)
        << output;
    EXPECT_TRUE(fs::is_regular_file(elsewhere / "shot.png")) << output;
    EXPECT_EQ(filesUnder(prefix), before) << "the game wrote into its install";
    for (const auto& entry : fs::directory_iterator(elsewhere)) {
        EXPECT_EQ(entry.path().filename(), "shot.png") << "written where the game was started";
    }
}
