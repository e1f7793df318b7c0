#include "app/game_data.hpp"

#include "base/file_io.hpp"

#include <SDL3/SDL.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef VIBRELLE_DATA_FROM_BIN
#error "VIBRELLE_DATA_FROM_BIN must be defined by the build (see src/CMakeLists.txt)"
#endif

namespace fs = std::filesystem;

namespace {

// `path` made absolute and tidied, without following links; as given when that fails.
std::string absoluteOf(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// Whether `path` lies inside the folder `dir` (both as they resolve on disk, links followed).
bool inside(const std::string& path, const std::string& dir) {
    std::error_code error;
    const fs::path a = fs::weakly_canonical(path, error);
    if (error) {
        return false;
    }
    const fs::path b = fs::weakly_canonical(dir, error);
    if (error || b.empty()) {
        return false;
    }
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty()) {
            continue; // a trailing separator
        }
        if (ai == a.end() || *ai != *bi) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<GameDataPlace> gameDataPlaces(const char* environment, const std::string& baseDir,
                                          const std::string& installedFromBin, const std::string& buildDir,
                                          const std::string& checkoutAssets) {
    std::vector<GameDataPlace> places;
    if (environment != nullptr && environment[0] != '\0') {
        places.push_back({absoluteOf(environment), "VIBRELLE_DATA_DIR"});
    }
    if (!baseDir.empty()) {
        places.push_back({absoluteOf((fs::path(baseDir) / installedFromBin).string()), "installed"});
        if (!buildDir.empty() && !checkoutAssets.empty() && inside(baseDir, buildDir)) {
            places.push_back({absoluteOf(checkoutAssets), "checkout"});
        }
    }
    return places;
}

std::vector<GameDataPlace> gameDataPlacesNow() {
    const char* base = SDL_GetBasePath(); // owned by SDL
#if defined(VIBRELLE_BUILD_DIR) && defined(VIBRELLE_CHECKOUT_ASSETS)
    const std::string buildDir = VIBRELLE_BUILD_DIR, checkoutAssets = VIBRELLE_CHECKOUT_ASSETS;
#else
    const std::string buildDir, checkoutAssets;
#endif
    return gameDataPlaces(std::getenv("VIBRELLE_DATA_DIR"), base ? base : "", VIBRELLE_DATA_FROM_BIN,
                          buildDir, checkoutAssets);
}

bool holdsGameData(const std::string& dir) {
    return isRegularFile(dir + "/levels/level.json") && isRegularFile(dir + "/levels/levels.json");
}

std::string findGameData(const std::vector<GameDataPlace>& places, std::string& looked) {
    looked.clear();
    for (const GameDataPlace& place : places) {
        if (holdsGameData(place.path)) {
            return place.path;
        }
        looked += (looked.empty() ? "" : ", ") + place.path + " (" + place.what + ")";
    }
    if (looked.empty()) {
        looked = "nowhere: VIBRELLE_DATA_DIR is not set and the executable's folder is not known";
    }
    return "";
}
