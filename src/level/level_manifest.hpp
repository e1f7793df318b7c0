#pragma once
// level.json: the stems of a level (audio, optional MIDI chart, order of entry, look) and its tempo.
#include "audio/audio_system.hpp"

#include <cstdint>
#include <string>
#include <vector>

struct RenderState;

// One entry of the manifest's "stems" array, as parsed.
struct Stem {
    std::string file; // audio path, relative to the manifest's folder; entries without one are dropped
    std::string midi; // chart path, same base; empty: no chart
    std::int32_t startOrder = 0;
    bool playsNotes = true;
    std::string instrument; // kept for the level's author; loading does not use it
    float animationBase = 1.0f;
    float animationPeak = 2.0f;
    float animationLerpSpeed = 18.0f;
    float colorR = 1.0f, colorG = 1.0f, colorB = 1.0f;
};

// The parsed manifest: stems sorted by startOrder (stable), and the song's tempo.
struct LevelDefinition {
    std::vector<Stem> stems;
    float bpm = 120.0f;
    std::string title; // "songMetaData"[0]."title" when given, else ""
};

// Reads and parses the manifest at `path` into `level`. Bad entries are reported on stderr and
// dropped. True when at least one stem survived. Any thread (touches no shared state).
bool parseLevelManifest(const std::string& path, LevelDefinition& level);

// The same from text already in memory; `path` only names the source in messages.
bool parseLevelManifestText(const std::string& text, const std::string& path, LevelDefinition& level);

// Loads the manifest into the running systems: stops playback, replaces every stem (at most 8)
// with the manifest's, hands each stem's look to its render slot and scales the charts to the
// level's tempo, then refreshes the shaders' uniform block (a GL upload once the render record has
// its buffer). A manifest that does not parse, or has no stem, changes nothing. True when at least
// one stem loaded. Main thread, with the game mutex held.
// `title`, when given, receives the song's title from the manifest ("" when it has none).
bool loadLevelFromManifest(const std::string& path, AudioSystem& audio, RenderState& render,
                           std::string* title = nullptr);

// A level read from its manifest with its stems decoded, not yet handed to the running systems.
struct StagedLevel {
    std::string manifestPath;
    LevelDefinition definition;
    std::vector<LoadedStem> stems; // decoded, in load order (at most 8)
    std::vector<Stem> looks;       // the manifest entry of each decoded stem, for its slot's look
};

// Parses the manifest and reads and decodes its stems and charts (at most 8; failures are reported
// on stderr and leave no gap). Stems shorter than the longest are padded with silence to its
// length. Touches nothing shared, so the game mutex need not be held: the decode, which is the
// slow part of a level load, can run while the logic thread plays on. The audio files are decoded
// on up to `threads` threads at once (0: one per hardware thread), with the same result and log
// lines as one after another. False, with nothing decoded, when the manifest does not parse or
// has no stem. Main thread.
bool readLevel(const std::string& path, bool looping, StagedLevel& staged, unsigned threads = 0);

// Stops playback, moves the running stems into `retired` (their voices stopped, so that the caller
// can free them after releasing the game mutex), installs the staged stems with their looks in the
// render slots, refreshes the uniform block, sets the tempo and scales the charts, and logs
// "Loaded N stem(s) from level JSON: <path>". True when at least one stem is installed.
// Main thread, with the game mutex held.
bool installLevel(StagedLevel& staged, AudioSystem& audio, RenderState& render,
                  std::vector<LoadedStem>& retired);
