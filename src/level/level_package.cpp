#include "level/level_package.hpp"

#include "audio/audio_system.hpp"
#include "base/log.hpp"
#include "render/background.hpp"

#include <SDL3/SDL.h>

// "levels/neon_drive" -> "neon_drive"; "levels/x.zip" -> "x"; a trailing separator gives "".
static std::string packageName(const std::string& directory) {
    const size_t slash = directory.find_last_of("/\\");
    std::string last = slash == std::string::npos ? directory : directory.substr(slash + 1);
    const size_t dot = last.rfind('.');
    return dot == std::string::npos ? last : last.substr(0, dot);
}

bool prepareLevelPackage(const std::string& directory, LevelPackage& package) {
    logMessage("Loading level package from conventional paths in: %s", directory.c_str());
    package = LevelPackage{};
    package.name = packageName(directory);

    const std::string shaderPath = directory + "/background.frag";
    size_t size = 0;
    void* bytes = SDL_LoadFile(shaderPath.c_str(), &size);
    if (bytes != nullptr) {
        package.shaderSource.assign(static_cast<const char*>(bytes), size);
        package.hasShader = true;
        SDL_free(bytes);
        logMessage("Found and loaded conventional shader: %s", shaderPath.c_str());
    } else {
        logMessage("No shader found at %s. The current shader will be used.", shaderPath.c_str());
    }
    package.manifestPath = directory + "/level.json";
    package.hasManifest = true;
    logMessage("Package prepared. Manifest: '%s', Has Shader: %s", package.manifestPath.c_str(),
               package.hasShader ? "Yes" : "No");
    return true;
}

void stageLevelShader(const LevelPackage& package, RenderState& render) {
    logMessage("Applying package to systems...");
    if (package.hasShader) {
        replaceBackgroundFragmentShader(render, package.shaderSource, package.name);
    }
}

PackageLoad readLevelPackage(const LevelPackage& package, bool looping) {
    PackageLoad load;
    if (package.hasManifest) {
        load.manifestRead = readLevel(package.manifestPath, looping, load.level);
    }
    return load;
}

void stageLevelPackage(const LevelPackage& package, RenderState& render, bool looping, PackageLoad& load) {
    stageLevelShader(package, render);
    load = readLevelPackage(package, looping);
}

bool commitLevelPackage(const LevelPackage& package, PackageLoad& load, AudioSystem& audio,
                        RenderState& render, std::vector<LoadedStem>& retired) {
    // The playing level goes first, whatever follows: a level that cannot be loaded leaves silence,
    // not the previous level under a new name.
    stopAllStems(audio);
    retireStems(audio, retired);
    if (!package.hasManifest) {
        logError(stderr, "No level.json manifest found for package, cannot load.");
        return false;
    }
    if (load.manifestRead && installLevel(load.level, audio, render, retired)) {
        logMessage("Loaded stems successfully via level.json manifest.");
        return true;
    }
    logError(stderr, "CRITICAL: Failed to load level from manifest: %s", package.manifestPath.c_str());
    return false;
}

bool applyLevelPackage(const LevelPackage& package, AudioSystem& audio, RenderState& render) {
    PackageLoad load;
    stageLevelPackage(package, render, audio.looping, load);
    std::vector<LoadedStem> retired;
    return commitLevelPackage(package, load, audio, render, retired);
}
