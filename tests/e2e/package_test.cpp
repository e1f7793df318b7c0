// The Debian package scripts/package builds: every installed path in its place, Depends worked out
// from the libraries, and no path of the build machine's cache in its listing, its control fields
// or the run paths of the game and its private SDL3. Skipped when no package has been built
// (VIBRELLE_PACKAGE names one, else the newest build/package/vibrelle_*_amd64.deb is taken).
#include "../capture.hpp"
#include "../temp_dir.hpp"
#include "installed_files.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string builtPackage() {
    if (const char* named = std::getenv("VIBRELLE_PACKAGE"); named != nullptr && named[0] != '\0') {
        return named;
    }
    fs::path newest;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(VIBRELLE_PACKAGE_DIR, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("vibrelle_", 0) == 0 && name.size() > 10 &&
            name.compare(name.size() - 10, 10, "_amd64.deb") == 0 &&
            (newest.empty() || entry.last_write_time() > fs::last_write_time(newest))) {
            newest = entry.path();
        }
    }
    return newest.string();
}

// What `command` printed on standard output, through a file in `dir`; empty when it failed.
std::string outputOf(const TempDir& dir, const std::string& command) {
    const std::string out = dir.file("out.txt");
    return run(command + " >'" + out + "' 2>&1") == 0 ? readText(out) : "";
}

// The paths `dpkg-deb -c` lists, without the leading "./", a directory's trailing "/" or a link's
// target.
std::set<std::string> pathsIn(const std::string& listing) {
    std::set<std::string> paths;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find(" ./");
        if (start == std::string::npos) {
            continue;
        }
        std::string path = line.substr(start + 3, line.find(" -> ") - (start + 3));
        if (!path.empty() && path.back() == '/') {
            path.pop_back();
        }
        paths.insert(path);
    }
    return paths;
}

} // namespace

TEST(Package, HoldsEveryExpectedPath) {
    const std::string package = builtPackage();
    if (package.empty()) {
        GTEST_SKIP() << "no package in " VIBRELLE_PACKAGE_DIR " (scripts/package builds one)";
    }
    const TempDir dir;
    const std::string quoted = "'" + package + "'";
    const std::string listing = outputOf(dir, "dpkg-deb -c " + quoted);
    ASSERT_FALSE(listing.empty()) << "dpkg-deb -c failed on " << package;
    const std::set<std::string> paths = pathsIn(listing);
    std::vector<std::string> expected = {"usr/lib/vibrelle/libSDL3.so.0", "usr/share/doc/vibrelle/copyright",
                                         "usr/share/doc/vibrelle/changelog.Debian.gz"};
    for (const std::string& file : installedFiles()) {
        expected.push_back("usr/" + file + (file.rfind("share/man/", 0) == 0 ? ".gz" : ""));
    }
    for (const std::string& path : expected) {
        EXPECT_EQ(paths.count(path), 1u) << path << " is not in " << package;
    }
    EXPECT_EQ(paths.count("usr/share/games/vibrelle/levels/leaderboard.json"), 0u);

    const std::string control = outputOf(dir, "dpkg-deb -f " + quoted);
    const auto depends = control.find("\nDepends: ");
    ASSERT_NE(depends, std::string::npos) << control;
    EXPECT_NE(control.substr(depends, control.find('\n', depends + 1) - depends).find(" libc6 ("),
              std::string::npos)
        << control;
    // A package that started the server on its own would need maintainer scripts; it has none.
    const std::string members = outputOf(dir, "dpkg-deb --ctrl-tarfile " + quoted + " | tar -t");
    EXPECT_NE(members.find("./control\n"), std::string::npos) << members;
    for (const char* script : {"preinst", "postinst", "prerm", "postrm"}) {
        EXPECT_EQ(members.find(script), std::string::npos) << members;
    }
    for (const std::string& text : {listing, control}) {
        EXPECT_EQ(text.find(".cache/vibrelle"), std::string::npos) << text;
    }

    fs::create_directories(dir.path() / "root");
    ASSERT_EQ(run("dpkg-deb --fsys-tarfile " + quoted + " | tar -x -C '" + dir.file("root") +
                  "' ./usr/games/vibrelle ./usr/lib/vibrelle/libSDL3.so.0"),
              0);
    const std::string game = outputOf(dir, "readelf -d '" + dir.file("root/usr/games/vibrelle") + "'");
    EXPECT_NE(game.find("(RUNPATH)            Library runpath: [$ORIGIN/../lib/vibrelle]\n"),
              std::string::npos)
        << game;
    EXPECT_NE(game.find("Shared library: [libSDL3.so.0]"), std::string::npos) << game;
    const std::string sdl =
        outputOf(dir, "readelf -d '" + dir.file("root/usr/lib/vibrelle/libSDL3.so.0") + "'");
    EXPECT_NE(sdl.find("Library soname: [libSDL3.so.0]"), std::string::npos) << sdl;
    EXPECT_EQ(sdl.find("PATH)"), std::string::npos) << "the private SDL3 carries a run path: " << sdl;
    // Stripped: no symbol table left beyond the dynamic one.
    EXPECT_EQ(outputOf(dir, "readelf -S '" + dir.file("root/usr/games/vibrelle") + "'").find(" .symtab "),
              std::string::npos);
}
