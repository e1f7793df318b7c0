#pragma once
// Level packages: a folder holding a level's level.json, its stems and charts, and optionally its
// own background shader, background.frag. Preparing reads what the folder holds; applying hands it
// to the render and audio systems. Applying comes in two halves so that the slow part (reading
// and decoding the stems) can run without the game mutex.
#include "level/level_manifest.hpp"

#include <string>
#include <vector>

struct AudioSystem;
struct RenderState;

struct LevelPackage {
    std::string name;         // the folder's last path component, without extension
    std::string shaderSource; // background.frag, when there is one
    bool hasShader = false;
    bool hasManifest = false;
    std::string manifestPath; // folder + "/level.json"
};

// Reads `directory`'s background.frag (if any) and records where its manifest is; does not check
// that the manifest exists. Logs what it found. Always true. Main thread.
bool prepareLevelPackage(const std::string& directory, LevelPackage& package);

// What the first half of applying has made ready for the second.
struct PackageLoad {
    bool manifestRead = false; // the manifest parsed and its stems were read
    StagedLevel level;
};

// First half: logs "Applying package to systems...", swaps in the package's shader when it has one
// (a shader that fails keeps the current background) and reads and decodes the manifest's files.
// Needs the GL context (main thread); does not touch the game or audio state.
void stageLevelPackage(const LevelPackage& package, RenderState& render, bool looping, PackageLoad& load);

// The two parts of stageLevelPackage: the shader (logs "Applying package to systems..."; main thread,
// GL context), and the manifest's files (any thread: it reads files and opens stems, and touches no
// game, audio or render state).
void stageLevelShader(const LevelPackage& package, RenderState& render);
PackageLoad readLevelPackage(const LevelPackage& package, bool looping);

// Second half: stops and retires the playing stems (into `retired`, to be freed by the caller
// after the game mutex is released) and installs the staged level. False, with its line on
// stderr, when the package has no manifest or its manifest could not be loaded: the audio system
// is then stopped and empty. Main thread, game mutex held.
bool commitLevelPackage(const LevelPackage& package, PackageLoad& load, AudioSystem& audio,
                        RenderState& render, std::vector<LoadedStem>& retired);

// Both halves at once. True when the level's stems were loaded. Main thread, game mutex held.
bool applyLevelPackage(const LevelPackage& package, AudioSystem& audio, RenderState& render);
