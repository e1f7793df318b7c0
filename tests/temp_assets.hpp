#pragma once
// A stand-in for the checkout's assets/ folder for tests that run the game's code from its working
// directory: a fresh temporary folder with links to fonts/, shaders/ and textures/ and a real
// levels/ folder of links to each level, so that whatever the game writes there (the leaderboard
// file) stays out of the checkout.
#include <filesystem>
#include <string>

#include <unistd.h>

inline std::filesystem::path makeTempAssets(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path source = VIBRELLE_ASSETS;
    const fs::path root =
        fs::temp_directory_path() / ("vibrelle_assets_" + name + "_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "levels");
    for (const char* folder : {"fonts", "shaders", "textures"}) {
        fs::create_directory_symlink(source / folder, root / folder);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(source / "levels")) {
        if (entry.path().filename() == "leaderboard.json") {
            continue; // a stray file from an old run is not part of the assets
        }
        if (entry.is_directory()) {
            fs::create_directory_symlink(entry.path(), root / "levels" / entry.path().filename());
        } else {
            fs::create_symlink(entry.path(), root / "levels" / entry.path().filename());
        }
    }
    return root;
}
