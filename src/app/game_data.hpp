#pragma once
// Where the game finds its data (levels, shaders, fonts, textures): wherever it is installed, and
// whatever the working directory it is started from. The places, in order:
//   1. the folder VIBRELLE_DATA_DIR names;
//   2. the installed data folder, at its place relative to the executable's folder (the build sets
//      it from the install layout: ../share/games/vibrelle from /usr/games);
//   3. the checkout's assets/, when the executable lies in the build tree it was built in.
// A place holds the data when it has the default level and the level list. Plain code apart from
// gameDataPlacesNow, which asks SDL for the executable's folder; start-up, main thread.
#include <string>
#include <vector>

// A place looked at, and why it is looked at (for the message when none holds the data).
struct GameDataPlace {
    std::string path;
    std::string what; // "VIBRELLE_DATA_DIR", "installed", "checkout"
};

// The places to look at, in order, given the value of VIBRELLE_DATA_DIR (null or empty: unset), the
// executable's folder `baseDir` (SDL_GetBasePath; empty: unknown), the data folder's path relative
// to the executable's folder once installed, the build tree and the checkout's assets/. A relative
// VIBRELLE_DATA_DIR is taken from the working directory.
std::vector<GameDataPlace> gameDataPlaces(const char* environment, const std::string& baseDir,
                                          const std::string& installedFromBin, const std::string& buildDir,
                                          const std::string& checkoutAssets);

// The same for the running game: the environment, SDL's base path and the build's settings.
std::vector<GameDataPlace> gameDataPlacesNow();

// Whether `dir` holds the game's data: levels/level.json and levels/levels.json are files in it.
bool holdsGameData(const std::string& dir);

// The first place that holds the data, as an absolute path, or "" when none does; `looked` then
// lists every place tried ("<path> (<what>)", joined by ", ").
std::string findGameData(const std::vector<GameDataPlace>& places, std::string& looked);
